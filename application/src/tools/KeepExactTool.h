#pragma once
// The Keep Exact Brush: marks Keep over only the painted pixels.

#include "tools/SelectTool.h"

class KeepExactTool : public SelectTool {
    Q_OBJECT
public:
    explicit KeepExactTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                           QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
};
