#pragma once
// Tells single from double clicks on the objects it is installed on: a release becomes a single
// click only once the double-click interval has passed without a second release or a double
// click. The filter never consumes an event.

#include <QTimer>

#include <memory>

class QMouseEvent;

class MouseClickFilter : public QTimer {
    Q_OBJECT
public:
    explicit MouseClickFilter(QObject* parent = nullptr);
    ~MouseClickFilter() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // The event lives only for the duration of the emission.
    void singleClick(const QMouseEvent* event);
    void doubleClick(const QMouseEvent* event);

public slots:
    void singleClickTimeout();

private:
    // The release waiting to become a single click; the second release of a double click
    // drops it.
    std::unique_ptr<QMouseEvent> m_pendingRelease;
};
