#pragma once
// The hand tool: a left-button drag moves the image in the view by the pointer's movement in
// screen pixels (tellPan), under the grabbing hand. It stands in for the tool it replaced (the
// main window makes it the Space bar's temporary tool), so the canvas keeps drawing patches
// and forced edges as that tool would.

#include "tools/GmTool.h"

#include <QPoint>
#include <QPointer>

#include <memory>

class PanTool : public GmTool {
    Q_OBJECT
public:
    explicit PanTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                     QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
    ~PanTool() override;

    const QCursor* openHandCursor() const { return m_openHand.get(); }
    const QCursor* grabHandCursor() const { return m_grabHand.get(); }
    const QCursor* currentCursor() const { return m_current; }

    QCursor cursor() const override;
    void mousePressed(const ImagePointF& point, QMouseEvent* event) override;
    void mouseMoved(const ImagePointF& point, QMouseEvent* event) override;
    void mouseReleased(const ImagePointF& point, QMouseEvent* event) override;
    void mouseDoubleClicked(const ImagePointF& point, QMouseEvent* event) override;
    ImageView::ViewTabs usableViewTabs() const override;
    ImageView::ViewTab homeViewTab() const override;
    bool clearsPreviewOnPress() const override;
    bool usesBrush() const override;
    bool clearsColourHighlight() const override;
    int arrowTargetDisplayState(ArrowTarget* target) const override;
    GmTool* underlyingTool() const override;
    // Remembers the tool to stand in for; with the left button down (Space pressed during a
    // drag) panning starts from the pointer's present screen position.
    void activate(GmTool* previous) override;
    void deactivate(GmTool* next) override;

signals:
    // The pan step in screen pixels: the pointer's previous position minus the new one.
    void tellPan(QPoint step);

private:
    void showCursor(const QCursor* cursor);

    std::unique_ptr<QCursor> m_openHand;
    std::unique_ptr<QCursor> m_grabHand;
    const QCursor* m_current;
    QPoint m_lastGlobalPos;
    QPointer<GmTool> m_underlying;
};
