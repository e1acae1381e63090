#pragma once
// The Blend Local Brush: marks Blend over neighbouring similar regions as far as the Strength allows.

#include "tools/SelectTool.h"

class ComplexLocalTool : public SelectTool {
    Q_OBJECT
public:
    explicit ComplexLocalTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                              QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
};
