#pragma once
// The Erase Global Brush: marks Unassigned (erases marks) over similar regions anywhere in the image.

#include "tools/SelectTool.h"

class EraseGlobalTool : public SelectTool {
    Q_OBJECT
public:
    explicit EraseGlobalTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                             QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
};
