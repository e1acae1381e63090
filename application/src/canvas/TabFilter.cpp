#include "canvas/TabFilter.h"

#include <QChildEvent>
#include <QKeyEvent>
#include <QWidget>

TabFilter::TabFilter(QObject* parent) : QObject(parent) {}

void TabFilter::watch(QWidget* widget)
{
    if (!widget)
        return;
    // Installing again only moves the filter to the front: nothing is filtered twice.
    widget->installEventFilter(this);
    const QList<QWidget*> children = widget->findChildren<QWidget*>();
    for (QWidget* child : children)
        child->installEventFilter(this);
}

bool TabFilter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto* key = static_cast<const QKeyEvent*>(event);
        // Shift+Tab comes as Backtab from the window system, as Tab with Shift from synthesised
        // input.
        if (key->key() == Qt::Key_Backtab || (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier))) {
            emit tabPressed(true);
            return true;
        }
        if (key->key() == Qt::Key_Tab) {
            emit tabPressed(false);
            return true;
        }
        break;
    }
    case QEvent::ChildAdded: {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (child && child->isWidgetType())
            watch(static_cast<QWidget*>(child));
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
