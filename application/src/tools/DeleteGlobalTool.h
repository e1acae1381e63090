#pragma once
// The Delete Global Brush: marks Delete over similar regions anywhere in the image.

#include "tools/SelectTool.h"

class DeleteGlobalTool : public SelectTool {
    Q_OBJECT
public:
    explicit DeleteGlobalTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                              QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
};
