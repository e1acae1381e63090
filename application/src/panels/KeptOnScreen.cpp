#include "panels/KeptOnScreen.h"

#include <QGuiApplication>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>

QPoint keptOnScreen(const QWidget* window, const QPoint& place)
{
    const QRect inside(place, window->size());
    const QScreen* screen = QGuiApplication::screenAt(inside.center());
    if (!screen)
        screen = window->screen();
    if (!screen)
        return place;
    const QRect work = screen->availableGeometry();
    // Framed, the window's own frame counts; not framed yet, the title bar it will get.
    const QRect frame = window->frameGeometry();
    const QRect now = window->geometry();
    const QMargins around =
        frame != now ? QMargins(now.left() - frame.left(), now.top() - frame.top(), frame.right() - now.right(),
                                frame.bottom() - now.bottom())
                     : QMargins(0, window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window), 0, 0);
    const QRect framed = inside.marginsAdded(around);
    // The right and bottom first, so that a window larger than the screen keeps its title bar
    // and left edge in sight.
    int dx = std::min(0, work.right() - framed.right());
    int dy = std::min(0, work.bottom() - framed.bottom());
    dx = std::max(dx, work.left() - framed.left());
    dy = std::max(dy, work.top() - framed.top());
    return place + QPoint(dx, dy);
}
