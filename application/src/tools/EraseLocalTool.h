#pragma once
// The Erase Local Brush: marks Unassigned (erases marks) over neighbouring similar regions as far as the Strength allows.

#include "tools/SelectTool.h"

class EraseLocalTool : public SelectTool {
    Q_OBJECT
public:
    explicit EraseLocalTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                            QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
};
