#pragma once
// The Delete Local Brush: marks Delete over neighbouring similar regions as far as the Strength allows.

#include "tools/SelectTool.h"

class DeleteLocalTool : public SelectTool {
    Q_OBJECT
public:
    explicit DeleteLocalTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                             QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
};
