#pragma once
// Walks a rectangle of the status image row by row, visiting only pixels whose status is not
// zero. The rectangle is in image coordinates; the status image is placed by its offset.

#include <QImage>
#include <QRect>

class StatusPixelCursor {
public:
    // Puts the cursor on the rectangle's top-left pixel (whatever its status).
    void begin(const QRect& rect, const QImage* status);
    bool inRange() const { return m_y >= m_top && m_y <= m_bottom; }
    // Steps to the next pixel with a non-zero status, or out of range.
    void advance();

    int x() const { return m_x; }
    int y() const { return m_y; }

private:
    bool marked() const;

    int m_x = 0;
    int m_y = 0;
    int m_left = 0;
    int m_top = 0;
    int m_right = -1;
    int m_bottom = -1;
    const QImage* m_status = nullptr;
};
