#include "shell/WindowLayoutRules.h"

#include <cmath>
#include <cstdlib>

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

QRect WindowLayoutRules::placeAmong(const QRect& wanted, int titleHeight, const QList<QRect>& taken,
                                    const QList<QRect>& titleBars, const QRect& area, int gap)
{
    const int width = wanted.width();
    const int height = wanted.height();
    QList<int> xs{wanted.left(), area.left(), area.right() + 1 - width};
    QList<int> ys{wanted.top(), area.top(), area.bottom() + 1 - height};
    for (const QRect& other : taken) {
        xs << other.right() + 1 + gap << other.left() - gap - width << other.left();
        ys << other.bottom() + 1 + gap << other.top() - gap - height << other.top();
    }
    // Title bars covered first, then bodies, then the way from the wanted place.
    QRect best = wanted;
    bool found = false;
    qint64 bestTitles = 0;
    qint64 bestCovered = 0;
    qint64 bestDistance = 0;
    for (int x : xs) {
        for (int y : ys) {
            const QRect place(x, y, width, height);
            if (!area.contains(place))
                continue;
            const qint64 titles = coveredArea(place, titleBars) + coveredArea(QRect(x, y, width, titleHeight), taken);
            const qint64 covered = coveredArea(place, taken);
            const qint64 distance = qint64(std::abs(x - wanted.left())) + std::abs(y - wanted.top());
            if (!found || titles < bestTitles || (titles == bestTitles && covered < bestCovered)
                || (titles == bestTitles && covered == bestCovered && distance < bestDistance)) {
                best = place;
                found = true;
                bestTitles = titles;
                bestCovered = covered;
                bestDistance = distance;
            }
        }
    }
    return best;
}

qint64 WindowLayoutRules::coveredArea(const QRect& place, const QList<QRect>& taken)
{
    qint64 covered = 0;
    for (const QRect& other : taken) {
        const QRect common = place.intersected(other);
        if (!common.isEmpty())
            covered += qint64(common.width()) * common.height();
    }
    return covered;
}
