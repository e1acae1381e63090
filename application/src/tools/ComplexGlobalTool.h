#pragma once
// The Blend Global Brush: marks Blend over similar regions anywhere in the image.

#include "tools/SelectTool.h"

class ComplexGlobalTool : public SelectTool {
    Q_OBJECT
public:
    explicit ComplexGlobalTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                               QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
};
