#pragma once
// The Rectangle Patch tool: a dragged rectangle becomes a patch. The patch joins the model's
// list as soon as the drag begins, so the canvas shows it while it grows; on release it is
// handed to the engine as a sub-session, or deleted when it has no area.

#include "tools/RectangleTool.h"

#include <QPointer>

class RectRegion;

class RegionRectTool : public RectangleTool {
    Q_OBJECT
public:
    explicit RegionRectTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                            QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);

    // The patch being dragged, null when none is.
    RectRegion* regionBeingDrawn() const { return m_region; }

    QCursor cursor() const override;
    // Cancels a patch being dragged; without one, the default handling.
    void escapeKeyPressed() override;
    ImageView::ViewTabs usableViewTabs() const override;
    ImageView::ViewTab homeViewTab() const override;
    int arrowTargetDisplayState(ArrowTarget* target) const override;
    void activate(GmTool* previous) override;
    // Cancels a patch being dragged.
    void deactivate(GmTool* next) override;

protected:
    void beginRect(const ImagePointF& point) override;
    void finishRect(const ImagePointF& point) override;
    ks::Rectangle* currentRect() const override;

private:
    void cancel();

    QPointer<RectRegion> m_region;
};
