#pragma once
// A flat square icon button for a panel's title bar: just large enough for its icon at the
// style's small-icon size, raised only while the pointer is over it.

#include <QAbstractButton>

class TitleButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TitleButton(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int iconExtent() const;
};
