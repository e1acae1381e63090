#pragma once
// The vertical layout of a panel. Its width hint can be held at a minimum, so that a panel
// keeps the width it was restored with when the dock column lays it out again.

#include <QVBoxLayout>

class GmSubWindowLayout : public QVBoxLayout {
    Q_OBJECT
public:
    explicit GmSubWindowLayout(QWidget* parent = nullptr);

    // -1 (the default) leaves the box layout's hint alone.
    int minimumWidthHint() const { return m_minimumWidthHint; }
    void setMinimumWidthHint(int width);

    QSize sizeHint() const override;

private:
    int m_minimumWidthHint = -1;
};
