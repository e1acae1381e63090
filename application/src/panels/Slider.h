#pragma once
// A horizontal slider framed by two auto-repeating nudge buttons. A nudge moves the slider by
// its single step, unless someone listens to the matching request signal: then only the signal
// is emitted and the receiver decides.

#include <QPixmap>
#include <QWidget>

class QBoxLayout;
class QSlider;
class QToolButton;

class Slider : public QWidget {
    Q_OBJECT
public:
    explicit Slider(QWidget* parent = nullptr);

    QSlider* slider() const { return m_slider; }

    // Replaces the nudge buttons: down before the slider, up after it.
    void setNudgeButtons(const QPixmap& down, const QPixmap& up);
    // Tool tips of the down and up buttons, when they exist.
    void setNudgeToolTips(const QString& down, const QString& up);

    QToolButton* nudgeDownButton() const { return m_downButton; }
    QToolButton* nudgeUpButton() const { return m_upButton; }

signals:
    void requestNudgeUp();
    void requestNudgeDown();

public slots:
    void nudgeUp();
    void nudgeDown();

private:
    QToolButton* makeNudgeButton(const QPixmap& pixmap);

    QSlider* m_slider;
    QBoxLayout* m_layout;
    QToolButton* m_downButton = nullptr;
    QToolButton* m_upButton = nullptr;
};
