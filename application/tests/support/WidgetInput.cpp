#include "WidgetInput.h"

#include <QTabletEvent>
#include <QTest>
#include <QWidget>
#include <QWindow>

namespace testsupport {

namespace {

struct Target {
    QWindow* window;
    QPoint pos;
};

// The widget's window and the position in it; the window exists once the widget was shown.
Target target(QWidget* widget, QPoint pos)
{
    QWindow* window = widget->window()->windowHandle();
    Q_ASSERT_X(window, "testsupport", "show the widget (showForInput) before sending input");
    return {window, window->mapFromGlobal(widget->mapToGlobal(pos))};
}

} // namespace

bool showForInput(QWidget* widget)
{
    QWidget* top = widget->window();
    top->show();
    top->activateWindow();
    return QTest::qWaitForWindowExposed(top);
}

void mousePress(QWidget* widget, QPoint pos, Qt::MouseButton button,
                Qt::KeyboardModifiers modifiers)
{
    const Target t = target(widget, pos);
    QTest::mousePress(t.window, button, modifiers, t.pos);
}

void mouseMove(QWidget* widget, QPoint pos, Qt::KeyboardModifiers modifiers)
{
    const Target t = target(widget, pos);
    QTest::mouseEvent(QTest::MouseMove, t.window, Qt::NoButton, modifiers, t.pos);
}

void mouseRelease(QWidget* widget, QPoint pos, Qt::MouseButton button,
                  Qt::KeyboardModifiers modifiers)
{
    const Target t = target(widget, pos);
    QTest::mouseRelease(t.window, button, modifiers, t.pos);
}

void mouseClick(QWidget* widget, QPoint pos, Qt::MouseButton button,
                Qt::KeyboardModifiers modifiers)
{
    const Target t = target(widget, pos);
    QTest::mouseClick(t.window, button, modifiers, t.pos);
}

void mouseDoubleClick(QWidget* widget, QPoint pos, Qt::MouseButton button,
                      Qt::KeyboardModifiers modifiers)
{
    // Two presses close together in time and place: the platform layer turns the second one
    // into the double-click, as it does for a real mouse.
    const Target t = target(widget, pos);
    QTest::mouseDClick(t.window, button, modifiers, t.pos);
}

bool tabletEvent(QWidget* widget, QEvent::Type type, QPointF pos, qreal pressure,
                 Qt::MouseButton button, Qt::MouseButtons buttons,
                 Qt::KeyboardModifiers modifiers)
{
    const QPointF global = QPointF(widget->mapToGlobal(QPoint(0, 0))) + pos;
    QTabletEvent event(type, pos, global, QTabletEvent::Stylus,
                       QTabletEvent::Pen, pressure, 0, 0, 0.0, 0.0, 0, modifiers, 1, button,
                       buttons);
    event.setAccepted(false);
    QCoreApplication::sendEvent(widget, &event);
    return event.isAccepted();
}

} // namespace testsupport
