#include "tools/RectangleTool.h"

#include "document/Rectangle.h"

#include <QMouseEvent>

void RectangleTool::mousePressed(const ImagePointF& point, QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_pressPoint = point;
}

void RectangleTool::mouseMoved(const ImagePointF& point, QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || buttonState() != 2)
        return;
    if (previousButtonState() == 1) {
        beginRect(m_pressPoint);
    } else if (ks::Rectangle* rect = currentRect()) {
        rect->dragCornerTo(point);
    }
}

void RectangleTool::mouseReleased(const ImagePointF& point, QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && previousButtonState() != 0)
        finishRect(point);
}
