#include "panels/ToolPaletteButton.h"

#include <QAction>
#include <QApplication>
#include <QPainter>
#include <QStyle>

ToolPaletteButton::ToolPaletteButton(QWidget* parent)
    : QToolButton(parent)
{
}

void ToolPaletteButton::setDoubleClickAction(QAction* action)
{
    m_doubleClickAction = action;
}

void ToolPaletteButton::nextCheckState()
{
    if (!m_doubleClickAction) {
        QToolButton::nextCheckState();
        return;
    }
    if (m_lastClick.isValid() && m_lastClick.elapsed() < QApplication::doubleClickInterval()) {
        // The second click of a pair: the first already ran the default action, so the
        // button's check state stays as that left it.
        m_lastClick.invalidate();
        m_doubleClickAction->trigger();
        return;
    }
    QToolButton::nextCheckState();
    m_lastClick.start();
}

void ToolPaletteButton::paintEvent(QPaintEvent* event)
{
    QToolButton::paintEvent(event);
    if (actions().size() <= 1)
        return;

    QPoint origin(width() - 8, height() - 8);
    if (isDown())
        origin += QPoint(style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, nullptr, this),
                         style()->pixelMetric(QStyle::PM_ButtonShiftVertical, nullptr, this));

    QPainter painter(this);
    const auto drawTriangle = [&painter](QPoint at, const QColor& colour) {
        painter.setPen(colour);
        painter.drawLine(at + QPoint(-4, -2), at + QPoint(2, -2));
        painter.drawLine(at + QPoint(-3, -1), at + QPoint(1, -1));
        painter.drawLine(at + QPoint(-2, 0), at + QPoint(0, 0));
        painter.drawPoint(at + QPoint(-1, 1));
    };
    if (isEnabled()) {
        drawTriangle(origin, palette().color(QPalette::ButtonText));
    } else {
        drawTriangle(origin + QPoint(1, 1), palette().color(QPalette::Light));
        drawTriangle(origin, palette().color(QPalette::Mid));
    }
}
