#pragma once
// The Blend Exact Brush: marks Blend over only the painted pixels.

#include "tools/SelectTool.h"

class ComplexExactTool : public SelectTool {
    Q_OBJECT
public:
    explicit ComplexExactTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                              QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
};
