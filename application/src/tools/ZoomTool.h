#pragma once
// The zoom tool: a click zooms in, an Alt-click zooms out and a dragged rectangle (the model's
// zoom rectangle) is zoomed to. The image view does the zooming; the tool only asks. At a zoom
// limit (the navigator window's enabled signals) the tool shows the unavailable cursor and a
// click asks nothing. Like the hand it stands in for the tool it replaced.

#include "tools/RectangleTool.h"

#include <QPointer>

#include <memory>

class QSlider;

class ZoomTool : public RectangleTool {
    Q_OBJECT
public:
    explicit ZoomTool(QActionGroup* actionGroup = nullptr, QWidget* menuWidget = nullptr,
                      QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
    ~ZoomTool() override;

    const QCursor* zoomInCursor() const { return m_zoomIn.get(); }
    const QCursor* zoomOutCursor() const { return m_zoomOut.get(); }
    const QCursor* unavailableCursor() const { return m_unavailable.get(); }
    const QCursor* currentCursor() const { return m_current; }
    bool zoomInPossible() const { return m_zoomInPossible; }
    bool zoomOutPossible() const { return m_zoomOutPossible; }
    int zoomSliderValue() const { return m_zoomSliderValue; }

    QCursor cursor() const override;
    void mousePressed(const ImagePointF& point, QMouseEvent* event) override;
    void mouseMoved(const ImagePointF& point, QMouseEvent* event) override;
    void mouseReleased(const ImagePointF& point, QMouseEvent* event) override;
    void mouseDoubleClicked(const ImagePointF& point, QMouseEvent* event) override;
    // During a click or drag: drops the zoom rectangle; otherwise the base behaviour.
    void escapeKeyPressed() override;
    // Alt pressed or released switches between the zoom-in and zoom-out cursors.
    void keyEvent(QKeyEvent* event) override;
    ImageView::ViewTabs usableViewTabs() const override;
    ImageView::ViewTab homeViewTab() const override;
    bool clearsPreviewOnPress() const override;
    bool usesBrush() const override;
    bool clearsColourHighlight() const override;
    int arrowTargetDisplayState(ArrowTarget* target) const override;
    GmTool* underlyingTool() const override;
    void activate(GmTool* previous) override;
    void deactivate(GmTool* next) override;

signals:
    void zoomToRectSignal(const ImageRectF& rect);
    void zoomInSignal();
    void zoomOutSignal();
    void actualPixelsSignal();
    void fitScreenSignal();
    void zoomSliderChanged(int value);

public slots:
    void zoomInEnabledSlot(bool enabled);
    void zoomOutEnabledSlot(bool enabled);
    void setZoomSliderValue(int value);

protected:
    void beginRect(const ImagePointF& point) override;
    // Zooms to the dragged rectangle, or in after a plain click; the rectangle goes.
    void finishRect(const ImagePointF& point) override;
    ks::Rectangle* currentRect() const override;

private:
    void chooseCursor(Qt::KeyboardModifiers modifiers);
    void showCursor(const QCursor* cursor);
    QWidget* createOptionsWidget();

    std::unique_ptr<QCursor> m_zoomIn;
    std::unique_ptr<QCursor> m_zoomOut;
    std::unique_ptr<QCursor> m_unavailable;
    const QCursor* m_current;
    bool m_zoomInPossible = true;
    bool m_zoomOutPossible = true;
    // No slider is built; one may be given to mirror the zoom.
    QPointer<QSlider> m_zoomSlider;
    int m_zoomSliderValue = 0;
    QPointer<GmTool> m_underlying;
};
