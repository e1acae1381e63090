#pragma once
// Turns Tab and Shift+Tab key presses on a widget, or on any widget inside it, into one signal
// that the main window answers by hiding or showing its panels. The presses are consumed: no
// widget underneath moves its focus on them.

#include <QObject>

class QWidget;

class TabFilter : public QObject {
    Q_OBJECT
public:
    explicit TabFilter(QObject* parent = nullptr);

    // Filters the widget and every widget inside it, including those added later.
    void watch(QWidget* widget);

signals:
    void tabPressed(bool backtab);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
