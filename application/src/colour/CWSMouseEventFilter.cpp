#include "colour/CWSMouseEventFilter.h"

#include "colour/ColourDisplay.h"

#include <QMouseEvent>
#include <QWidget>

CWSMouseEventFilter::CWSMouseEventFilter(ColourDisplay* display, QObject* parent)
    : QObject(parent), m_display(display)
{
}

int CWSMouseEventFilter::hitTest(const QPoint& global) const
{
    const QPoint origin = m_display->mapToGlobal(QPoint(0, 0));
    const int x = global.x();
    const int y = global.y();
    const int left = origin.x();
    const int top = origin.y();
    const int w = m_display->width();
    const int h = m_display->height();
    const bool besideRows = top <= y && y < top + h;
    if (left - StripWidth < x && x <= left && besideRows)
        return Left;
    if (left + w <= x && x < left + w + StripWidth && besideRows)
        return Right;
    if (m_display->mode() == ColourDisplay::ColourMapMode && left <= x && x < left + w) {
        if (top - StripWidth < y && y <= top)
            return Top;
        if (top + h <= y && y < top + h + StripWidth)
            return Bottom;
    }
    return NoStrip;
}

void CWSMouseEventFilter::forward(QMouseEvent* event)
{
    // Mapped as it is: the display clamps, so a drag beyond it reaches the end of the range.
    QMouseEvent mapped(event->type(), m_display->mapFromGlobal(event->globalPos()), event->globalPos(),
                       event->button(), event->buttons(), event->modifiers());
    if (event->type() == QEvent::MouseMove)
        m_display->mouseMoveEvent(&mapped);
    else
        m_display->mouseReleaseEvent(&mapped);
}

void CWSMouseEventFilter::updateCursor(QWidget* widget, const QPoint& global)
{
    if (!widget)
        return;
    if (hitTest(global) != NoStrip)
        widget->setCursor(Qt::CrossCursor);
    else if (widget->cursor().shape() == Qt::CrossCursor)
        widget->setCursor(Qt::ArrowCursor);
}

bool CWSMouseEventFilter::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        m_dragging = false;
        const int strip = hitTest(mouse->globalPos());
        if (strip == NoStrip)
            return false;
        m_dragging = true;
        m_display->startEdgeDrag(strip);
        if (widget)
            widget->setCursor(Qt::CrossCursor);
        return true;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (m_dragging) {
            forward(mouse);
            return true;
        }
        updateCursor(widget, mouse->globalPos());
        return false;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !m_dragging)
            return false;
        forward(mouse);
        m_dragging = false;
        updateCursor(widget, mouse->globalPos());
        return true;
    }
    default:
        return false;
    }
}
