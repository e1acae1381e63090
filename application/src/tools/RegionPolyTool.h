#pragma once
// The Polygon Patch tool: a clicked polygon becomes a patch. The patch joins the model's list
// at the first click; a double-click hands it to the engine as a sub-session, or deletes it
// when fewer than three distinct corners were set.

#include "tools/PolygonTool.h"

#include <QPointer>

class PolyRegion;

class RegionPolyTool : public PolygonTool {
    Q_OBJECT
public:
    explicit RegionPolyTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                            QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);

    // The patch being drawn, null when none is.
    PolyRegion* regionBeingDrawn() const { return m_region; }

    ImageView::ViewTabs usableViewTabs() const override;
    ImageView::ViewTab homeViewTab() const override;
    int arrowTargetDisplayState(ArrowTarget* target) const override;

    // The shared empty options page.
    virtual QWidget* optionsPage() const;

protected:
    void createShape(const QPointF& first) override;
    ks::Polygon* currentPolygon() const override;
    void finishShape() override;
    void discardShape() override;

private:
    QPointer<PolyRegion> m_region;
};
