#pragma once
// The Delete Exact Brush: marks Delete over only the painted pixels.

#include "tools/SelectTool.h"

class DeleteExactTool : public SelectTool {
    Q_OBJECT
public:
    explicit DeleteExactTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                             QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
};
