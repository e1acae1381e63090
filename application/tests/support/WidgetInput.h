#pragma once
// Mouse, double-click and tablet input for widget tests under the offscreen platform. Mouse
// input goes through the widget's window, as real input does (QTest's widget overloads move
// nothing there): the widget under the pointer receives it, a pressed widget keeps the mouse
// until the release, and the buttons pressed here count as held for later moves. As with a real
// mouse, a press or release away from the last position arrives after a move to it.

#include <QEvent>
#include <QPoint>
#include <QPointF>

class QWidget;

namespace testsupport {

// Shows the widget's window and waits until it can take input; false when it never could.
bool showForInput(QWidget* widget);

// pos is in the widget's own coordinates.
void mousePress(QWidget* widget, QPoint pos, Qt::MouseButton button = Qt::LeftButton,
                Qt::KeyboardModifiers modifiers = Qt::NoModifier);
void mouseMove(QWidget* widget, QPoint pos, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
void mouseRelease(QWidget* widget, QPoint pos, Qt::MouseButton button = Qt::LeftButton,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier);
void mouseClick(QWidget* widget, QPoint pos, Qt::MouseButton button = Qt::LeftButton,
                Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// The real sequence: the widget sees press, release, double-click, release.
void mouseDoubleClick(QWidget* widget, QPoint pos, Qt::MouseButton button = Qt::LeftButton,
                      Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Sends a pen event (TabletPress, TabletMove or TabletRelease) straight to the widget; returns
// whether the widget accepted it. Nothing turns an ignored event into mouse events here.
bool tabletEvent(QWidget* widget, QEvent::Type type, QPointF pos, qreal pressure,
                 Qt::MouseButton button = Qt::LeftButton,
                 Qt::MouseButtons buttons = Qt::LeftButton,
                 Qt::KeyboardModifiers modifiers = Qt::NoModifier);

} // namespace testsupport
