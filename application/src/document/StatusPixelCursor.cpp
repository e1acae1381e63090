#include "document/StatusPixelCursor.h"

void StatusPixelCursor::begin(const QRect& rect, const QImage* status)
{
    m_left = rect.left();
    m_top = rect.top();
    m_right = rect.right();
    m_bottom = rect.bottom();
    m_x = m_left;
    m_y = m_top;
    m_status = status;
}

bool StatusPixelCursor::marked() const
{
    if (!m_status || m_status->isNull())
        return false;
    const QPoint at = QPoint(m_x, m_y) - m_status->offset();
    // Outside the status image nothing is marked.
    if (at.x() < 0 || at.y() < 0 || at.x() >= m_status->width() || at.y() >= m_status->height())
        return false;
    return m_status->constScanLine(at.y())[at.x()] != 0;
}

void StatusPixelCursor::advance()
{
    do {
        if (++m_x > m_right) {
            m_x = m_left;
            ++m_y;
        }
    } while (inRange() && !marked());
}
