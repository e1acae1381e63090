#pragma once
// The Keep Global Brush: marks Keep over similar regions anywhere in the image.

#include "tools/SelectTool.h"

class KeepGlobalTool : public SelectTool {
    Q_OBJECT
public:
    explicit KeepGlobalTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                            QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
};
