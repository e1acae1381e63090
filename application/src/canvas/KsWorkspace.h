#pragma once
// The scroll area that is the image view's one page, shared by all its tabs. It holds the
// canvas, turns the view's zoom and navigation requests into scroll positions, keeps a chosen
// image point in place while the zoom changes, and reports which part of the image is visible.
//
// A zoom resizes the canvas; the image point to keep (the anchor) is applied once the scroll
// bars know the new size, at the latest when the viewport's layout request arrives.

#include "document/ImageCoordinates.h"

#include <QPointF>
#include <QScrollArea>

class GmZoomWidget;
class ImageView;
class TabFilter;

class KsWorkspace : public QScrollArea {
    Q_OBJECT
public:
    explicit KsWorkspace(ImageView* view);

    ImageView* imageView() const { return m_view; }
    GmZoomWidget* canvas() const { return m_canvas; }
    TabFilter* tabFilter() const { return m_tabFilter; }

    // absolute: the zoom becomes value; else it is multiplied by value. The image point at the
    // viewport's centre stays there.
    void zoomAbout(bool absolute, double value);
    // A rectangle of zero size is a point: the zoom grows by 1.25 and the point stays where it
    // is on the screen. Any other rectangle is zoomed to just fit the viewport, centred.
    // Nothing happens while an earlier zoom's anchor is pending.
    void zoomToRect(const ImageRectF& rect);
    // Shows the rectangle (zoomToRect); a negative width or height only scrolls its top-left to
    // the viewport's top-left.
    void moveViewportTo(const ImageRectF& rect);
    // As moveViewportTo, but a rectangle under 5 widget pixels wide or high at the current
    // zoom is a click: the zoom grows by 1.25 about the viewport's centre.
    void minCheckedMoveViewportTo(const ImageRectF& rect);
    // Scrolls by widget pixels.
    void panBy(int dx, int dy);
    // Scrolls so that the image point comes to the viewport's centre.
    void centreOn(const QPoint& imagePoint);
    // The visible part of the image in image coordinates; the zero rectangle while the whole
    // image is visible.
    GRectF displayedImageRect() const;

public slots:
    // Shows the brush outline at the viewport's centre while the brush-size slider moves.
    void showBrushBeingChangedBySlider();

signals:
    // The image rectangle shown in the viewport and the zoom.
    void sayDisplayedRectChanged(GRectF displayed, qreal zoom);

protected:
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    bool hasAnchor() const { return m_hasAnchor; }
    void applyAnchor();
    bool hasImage() const;

    ImageView* m_view;
    GmZoomWidget* m_canvas;
    TabFilter* m_tabFilter;
    // The image point to keep, as fractions of the canvas's width and height, while one is
    // pending.
    bool m_hasAnchor = false;
    QPointF m_anchor{-1.0, -1.0};
    // Where in the viewport (from its top-left) the anchor must come to lie.
    QPointF m_anchorOffset{0.0, 0.0};
};
