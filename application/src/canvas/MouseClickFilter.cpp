#include "canvas/MouseClickFilter.h"

#include <QApplication>
#include <QMouseEvent>

MouseClickFilter::MouseClickFilter(QObject* parent)
    : QTimer(parent)
{
    setSingleShot(true);
    connect(this, &QTimer::timeout, this, &MouseClickFilter::singleClickTimeout);
}

MouseClickFilter::~MouseClickFilter() = default;

bool MouseClickFilter::eventFilter(QObject*, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
        if (m_pendingRelease) {
            m_pendingRelease.reset();
        } else {
            const auto* release = static_cast<const QMouseEvent*>(event);
            m_pendingRelease = std::make_unique<QMouseEvent>(
                release->type(), release->localPos(), release->windowPos(),
                release->screenPos(), release->button(), release->buttons(),
                release->modifiers());
            start(QApplication::doubleClickInterval());
        }
        break;
    case QEvent::MouseButtonDblClick:
        stop();
        emit doubleClick(static_cast<const QMouseEvent*>(event));
        break;
    default:
        break;
    }
    return false;
}

void MouseClickFilter::singleClickTimeout()
{
    // Taken out first: a receiver may run a modal dialog, during which a new click starts
    // afresh.
    const std::unique_ptr<QMouseEvent> release = std::move(m_pendingRelease);
    if (release)
        emit singleClick(release.get());
}
