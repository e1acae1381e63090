#pragma once
// Runs the event loop until a condition holds or the time is up.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>

namespace testsupport {

template <typename Condition>
bool waitUntil(Condition condition, int milliseconds = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Runs the deferred deletions that deleteLater asked for.
inline void flushDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Waits until the object has deleted itself (through deleteLater, say).
template <typename T>
bool waitDeleted(const QPointer<T>& object, int milliseconds = 20000)
{
    return waitUntil(
        [&object] {
            flushDeferredDeletes();
            return object.isNull();
        },
        milliseconds);
}

} // namespace testsupport
