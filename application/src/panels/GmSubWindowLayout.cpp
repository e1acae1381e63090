#include "panels/GmSubWindowLayout.h"

GmSubWindowLayout::GmSubWindowLayout(QWidget* parent) : QVBoxLayout(parent) {}

void GmSubWindowLayout::setMinimumWidthHint(int width)
{
    if (width == m_minimumWidthHint)
        return;
    m_minimumWidthHint = width;
    invalidate();
}

QSize GmSubWindowLayout::sizeHint() const
{
    QSize hint = QVBoxLayout::sizeHint();
    hint.setWidth(qMax(hint.width(), m_minimumWidthHint));
    return hint;
}
