#include "panels/KeptOnScreen.h"

#include <QByteArray>
#include <QDataStream>
#include <QGuiApplication>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace {

// The available area of the screen that holds `inside` (or of the window's own screen), and
// the frame round the window: its own once framed, else the title bar it will get.
bool screenAndFrame(const QWidget* window, const QRect& inside, QRect* work, QMargins* around)
{
    const QScreen* screen = QGuiApplication::screenAt(inside.center());
    if (!screen)
        screen = window->screen();
    if (!screen)
        return false;
    *work = screen->availableGeometry();
    const QRect frame = window->frameGeometry();
    const QRect now = window->geometry();
    if (frame != now)
        *around = QMargins(now.left() - frame.left(), now.top() - frame.top(), frame.right() - now.right(),
                           frame.bottom() - now.bottom());
    else
        *around = QMargins(0, window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window), 0, 0);
    return true;
}

QPoint movedIn(const QRect& framed, const QRect& work)
{
    // The right and bottom first, so that a window larger than the screen keeps its title bar
    // and left edge in sight.
    int dx = std::min(0, work.right() - framed.right());
    int dy = std::min(0, work.bottom() - framed.bottom());
    dx = std::max(dx, work.left() - framed.left());
    dy = std::max(dy, work.top() - framed.top());
    return QPoint(dx, dy);
}

} // namespace

QPoint keptOnScreen(const QWidget* window, const QPoint& place)
{
    const QRect inside(place, window->size());
    QRect work;
    QMargins around;
    if (!screenAndFrame(window, inside, &work, &around))
        return place;
    return place + movedIn(inside.marginsAdded(around), work);
}

QRect keptOnScreen(const QWidget* window, const QRect& inside)
{
    QRect work;
    QMargins around;
    if (!screenAndFrame(window, inside, &work, &around))
        return inside;
    const QSize room(work.width() - around.left() - around.right(), work.height() - around.top() - around.bottom());
    // Qt gives the window no size outside its minimum and maximum, whatever the screen.
    const QSize size =
        inside.size().boundedTo(room).expandedTo(window->minimumSize()).boundedTo(window->maximumSize());
    const QRect shrunk(inside.topLeft(), size);
    return shrunk.translated(movedIn(shrunk.marginsAdded(around), work));
}

QRect storedGeometry(const QByteArray& record)
{
    // QWidget::saveGeometry's record: magic number, major and minor version, the frame, the
    // normal geometry, screen number, maximized and full-screen flags, from version 2 the
    // screen's width and from version 3 the geometry itself.
    QDataStream stream(record);
    stream.setVersion(QDataStream::Qt_4_0);
    quint32 magic = 0;
    quint16 major = 0;
    quint16 minor = 0;
    stream >> magic >> major >> minor;
    if (stream.status() != QDataStream::Ok || magic != 0x1D9D0CB || major < 1 || major > 3)
        return QRect();
    QRect frame;
    QRect normal;
    qint32 screenNumber = 0;
    quint8 maximized = 0;
    quint8 fullScreen = 0;
    qint32 screenWidth = 0;
    QRect geometry;
    stream >> frame >> normal >> screenNumber >> maximized >> fullScreen;
    if (major > 1)
        stream >> screenWidth;
    if (major > 2)
        stream >> geometry;
    if (stream.status() != QDataStream::Ok)
        return QRect();
    return major > 2 ? geometry : normal;
}
