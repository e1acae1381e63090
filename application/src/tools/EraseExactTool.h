#pragma once
// The Erase Exact Brush: marks Unassigned (erases marks) over only the painted pixels.

#include "tools/SelectTool.h"

class EraseExactTool : public SelectTool {
    Q_OBJECT
public:
    explicit EraseExactTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                            QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
};
