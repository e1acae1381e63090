#include "canvas/KsWorkspace.h"

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "canvas/TabFilter.h"
#include "document/GmModel.h"
#include "document/KsSourceImage.h"

#include <QEvent>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace {

int roundHalfUp(double v)
{
    return int(std::floor(v + 0.5));
}

} // namespace

KsWorkspace::KsWorkspace(ImageView* view)
    : QScrollArea(view), m_view(view), m_canvas(new GmZoomWidget), m_tabFilter(new TabFilter(this))
{
    setFrameShape(QFrame::NoFrame);
    setWidget(m_canvas);
    setBackgroundRole(QPalette::Dark);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    if (view) {
        connect(view, &ImageView::viewTabChanged, m_canvas, &GmZoomWidget::viewTabChangedSlot);
        connect(m_canvas, &GmZoomWidget::activateArrowTargetAt, view, &ImageView::activateArrowTargetAt);
        connect(m_canvas, &GmZoomWidget::zoomChanged, view, &ImageView::zoomChanged);
    }
    connect(GmModel::instance(), &GmModel::brushSizeSliderMoved, this, &KsWorkspace::showBrushBeingChangedBySlider);
    m_tabFilter->watch(this);
}

void KsWorkspace::showBrushBeingChangedBySlider()
{
    const QScrollBar* h = horizontalScrollBar();
    const QScrollBar* v = verticalScrollBar();
    const QPoint centre(int(std::floor(h->value() + h->pageStep() / 2.0 + 0.5)),
                        int(std::floor(v->value() + v->pageStep() / 2.0 + 0.5)));
    m_canvas->showBrushPreviewAt(centre - m_canvas->imageRect().topLeft());
}

bool KsWorkspace::hasImage() const
{
    const GmModel* model = GmModel::existingInstance();
    return model && model->source();
}

void KsWorkspace::zoomAbout(bool absolute, double value)
{
    if (!hasAnchor()) {
        const QScrollBar* h = horizontalScrollBar();
        const QScrollBar* v = verticalScrollBar();
        const double width = double(h->maximum()) + h->pageStep();
        const double height = double(v->maximum()) + v->pageStep();
        // A viewport of no size has no centre to keep.
        if (width > 0.0 && height > 0.0) {
            m_anchor = QPointF((h->value() + h->pageStep() / 2.0) / width, (v->value() + v->pageStep() / 2.0) / height);
            m_anchorOffset = QPointF(h->pageStep() / 2.0, v->pageStep() / 2.0);
            m_hasAnchor = true;
        }
    }
    m_canvas->setZoom(absolute, value);
    applyAnchor();
}

void KsWorkspace::applyAnchor()
{
    if (!hasAnchor())
        return;
    horizontalScrollBar()->setValue(roundHalfUp(m_canvas->width() * m_anchor.x() - m_anchorOffset.x()));
    verticalScrollBar()->setValue(roundHalfUp(m_canvas->height() * m_anchor.y() - m_anchorOffset.y()));
    m_hasAnchor = false;
    m_anchor = QPointF(-1.0, -1.0);
}

void KsWorkspace::zoomToRect(const ImageRectF& rect)
{
    if (hasAnchor())
        return;
    GmModel* model = GmModel::existingInstance();
    KsSourceImage* source = model ? model->source() : nullptr;
    QSize size;
    if (source) {
        source->updatePixmap();
        size = QSize(source->width(), source->height());
    }
    const double zoom = m_canvas->zoom();
    const QScrollBar* h = horizontalScrollBar();
    const QScrollBar* v = verticalScrollBar();
    const bool point = rect.width() == 0.0 && rect.height() == 0.0;
    double factor = 1.25;
    if (!point) {
        const QSize room = viewport()->size();
        factor = std::min(room.width() / (rect.width() * zoom), room.height() / (rect.height() * zoom));
    }
    // Without an image size there is nothing to anchor to: the zoom alone changes.
    if (size.width() > 0 && size.height() > 0) {
        m_anchor = QPointF((rect.x() + rect.width() / 2.0) / size.width(), (rect.y() + rect.height() / 2.0) / size.height());
        if (point)
            m_anchorOffset = QPointF(rect.x() * zoom - h->value(), rect.y() * zoom - v->value());
        else
            m_anchorOffset = QPointF(h->pageStep() / 2.0, v->pageStep() / 2.0);
        m_hasAnchor = std::isfinite(m_anchor.x()) && std::isfinite(m_anchor.y()) && std::isfinite(m_anchorOffset.x())
                      && std::isfinite(m_anchorOffset.y());
    }
    if (std::isfinite(factor))
        m_canvas->setZoom(false, factor);
}

void KsWorkspace::moveViewportTo(const ImageRectF& rect)
{
    setUpdatesEnabled(false);
    if (rect.width() >= 0.0 && rect.height() >= 0.0) {
        zoomToRect(rect);
    } else {
        const double zoom = m_canvas->zoom();
        horizontalScrollBar()->setValue(roundHalfUp(rect.x() * zoom));
        verticalScrollBar()->setValue(roundHalfUp(rect.y() * zoom));
    }
    setUpdatesEnabled(true);
}

void KsWorkspace::minCheckedMoveViewportTo(const ImageRectF& rect)
{
    const double zoom = m_canvas->zoom();
    if (rect.width() >= 0.0 && rect.height() >= 0.0 && (rect.width() * zoom < 5.0 || rect.height() * zoom < 5.0))
        zoomAbout(false, 1.25);
    else
        moveViewportTo(rect);
}

void KsWorkspace::panBy(int dx, int dy)
{
    setUpdatesEnabled(false);
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + dx);
    verticalScrollBar()->setValue(verticalScrollBar()->value() + dy);
    setUpdatesEnabled(true);
}

void KsWorkspace::centreOn(const QPoint& imagePoint)
{
    const double zoom = m_canvas->zoom();
    QScrollBar* h = horizontalScrollBar();
    QScrollBar* v = verticalScrollBar();
    h->setValue(roundHalfUp(imagePoint.x() * zoom) - h->pageStep() / 2);
    v->setValue(roundHalfUp(imagePoint.y() * zoom) - v->pageStep() / 2);
}

GRectF KsWorkspace::displayedImageRect() const
{
    const QScrollBar* h = horizontalScrollBar();
    const QScrollBar* v = verticalScrollBar();
    const QRect visible(h->value(), v->value(), h->pageStep(), v->pageStep());
    const QRect image(QPoint(0, 0), m_canvas->scaledImageSize());
    const QRect shown = visible & image;
    if (shown == image)
        return GRectF(0, 0, 0, 0);
    const double zoom = m_canvas->zoom();
    return GRectF(shown.x() / zoom, shown.y() / zoom, shown.width() / zoom, shown.height() / zoom);
}

void KsWorkspace::scrollContentsBy(int dx, int dy)
{
    QScrollArea::scrollContentsBy(dx, dy);
    if (!hasImage())
        return;
    const GRectF displayed = displayedImageRect();
    if (displayed.width() > 0.0 && displayed.height() > 0.0)
        emit sayDisplayedRectChanged(displayed, m_canvas->zoom());
}

void KsWorkspace::resizeEvent(QResizeEvent* event)
{
    m_canvas->viewResized();
    m_canvas->resize(m_canvas->sizeHint());
    QScrollArea::resizeEvent(event);
    if (hasImage())
        emit sayDisplayedRectChanged(displayedImageRect(), m_canvas->zoom());
}

bool KsWorkspace::viewportEvent(QEvent* event)
{
    const bool handled = QScrollArea::viewportEvent(event);
    if (event->type() == QEvent::LayoutRequest && hasImage()) {
        applyAnchor();
        emit sayDisplayedRectChanged(displayedImageRect(), m_canvas->zoom());
    }
    return handled;
}
