#pragma once
// The Keep Local Brush: marks Keep over neighbouring similar regions as far as the Strength allows.

#include "tools/SelectTool.h"

class KeepLocalTool : public SelectTool {
    Q_OBJECT
public:
    explicit KeepLocalTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                           QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
};
