#pragma once
// The Patch Brush: a painted stroke becomes a brushed patch, whose shape is a copy of the
// stroke. The patch is handed to the engine as a sub-session on release; a stroke that painted
// nothing makes none.

#include "tools/BrushingTool.h"

class RegionBrushTool : public BrushingTool {
    Q_OBJECT
public:
    explicit RegionBrushTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                             QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);

    // The named colour of active patches and forced edges.
    QColor strokeColour() const override;

    // An empty page: the tool has only the shared brush size.
    QWidget* createOptionsPage() override;
    void beginStroke(const ImagePointF& point) override;
    void finishStroke() override;
    bool usesStrength() const override;
};
