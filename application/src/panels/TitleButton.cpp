#include "panels/TitleButton.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

TitleButton::TitleButton(QWidget* parent) : QAbstractButton(parent) {}

int TitleButton::iconExtent() const
{
    return style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
}

QSize TitleButton::sizeHint() const
{
    int side = 4;
    if (!icon().isNull()) {
        const QSize size = icon().actualSize(QSize(iconExtent(), iconExtent()));
        side += qMax(size.width(), size.height());
    }
    return QSize(side, side);
}

QSize TitleButton::minimumSizeHint() const
{
    return sizeHint();
}

void TitleButton::enterEvent(QEvent* event)
{
    if (isEnabled())
        update();
    QAbstractButton::enterEvent(event);
}

void TitleButton::leaveEvent(QEvent* event)
{
    if (isEnabled())
        update();
    QAbstractButton::leaveEvent(event);
}

void TitleButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);

    QStyleOption option;
    option.initFrom(this);
    if (isEnabled() && underMouse() && !isDown() && !isChecked())
        option.state |= QStyle::State_Raised;
    if (isDown())
        option.state |= QStyle::State_Sunken;
    if (isChecked())
        option.state |= QStyle::State_On;
    style()->drawPrimitive(QStyle::PE_PanelButtonTool, &option, &painter, this);

    const QIcon::Mode mode = !isEnabled() ? QIcon::Disabled
                             : underMouse() ? QIcon::Active
                                            : QIcon::Normal;
    const QPixmap pixmap = icon().pixmap(QSize(iconExtent(), iconExtent()), mode,
                                         isChecked() ? QIcon::On : QIcon::Off);
    const QSize pixmapSize = pixmap.size() / pixmap.devicePixelRatio();
    int x = (width() - pixmapSize.width()) / 2;
    int y = (height() - pixmapSize.height()) / 2;
    if (isDown()) {
        x += style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this);
        y += style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this);
    }
    painter.drawPixmap(x, y, pixmap);
}
