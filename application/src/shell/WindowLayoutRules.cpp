#include "shell/WindowLayoutRules.h"

#include <cmath>

QRect WindowLayoutRules::keptInside(const QRect& rect, const QRect& area)
{
    QRect r = rect;
    if (area.contains(r))
        return r;
    if (r.height() > area.height())
        r.setBottom(r.top() + area.height() - 1);
    if (r.width() > area.width())
        r.setRight(r.left() + area.width() - 1);
    if (r.bottom() > area.bottom())
        r.moveTop(r.top() - (r.bottom() - area.bottom()));
    if (r.top() < area.top())
        r.moveTop(area.top());
    if (r.left() < area.left())
        r.moveLeft(area.left());
    if (r.right() > area.right())
        r.moveLeft(r.left() - (r.right() - area.right()));
    return r;
}

QRect WindowLayoutRules::keptInsideWithFrame(const QRect& rect, const QMargins& frame, const QRect& area)
{
    return keptInside(rect.marginsAdded(frame), area).marginsRemoved(frame);
}

QRect WindowLayoutRules::insetByTenth(const QRect& area)
{
    const int dx = int(std::floor(0.1 * area.width() + 0.5));
    const int dy = int(std::floor(0.1 * area.height() + 0.5));
    return area.adjusted(dx, dy, -dx, -dy);
}

int WindowLayoutRules::nextTabHideState(int state, bool backtab)
{
    if (backtab)
        return state == 2 ? 0 : 2;
    return state == 1 ? 0 : 1;
}

QList<QRect> WindowLayoutRules::stackedColumn(const QList<int>& heights, int columnX, int columnWidth, int top,
                                              int bottom, int gap)
{
    QList<QRect> placed;
    int x = columnX;
    int y = top;
    for (int height : heights) {
        // A panel taller than the whole column still goes somewhere: at the top of a column.
        if (y != top && y + height - 1 > bottom) {
            x -= columnWidth + gap;
            y = top;
        }
        placed.append(QRect(x, y, columnWidth, height));
        y += height + gap;
    }
    return placed;
}
