#include "panels/KsAppStyle.h"

#include "panels/ShowMenuActionWhatsThis.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QStyleOptionSlider>

KsAppStyle::KsAppStyle(QStyle* base)
    : ProxyStyle(base),
      m_horizontalHandle(QStringLiteral(":/images/slider_handle_horizontal.png")),
      m_verticalHandle(QStringLiteral(":/images/slider_handle_vertical.png"))
{
}

KsAppStyle* KsAppStyle::install()
{
    QStyle* base = QApplication::style();
    // The application owns its style; the wrapper takes it over.
    base->setParent(nullptr);
    auto* style = new KsAppStyle(base);
    QApplication::setStyle(style);
    return style;
}

const QPixmap& KsAppStyle::handlePicture(Qt::Orientation orientation) const
{
    return orientation == Qt::Horizontal ? m_horizontalHandle : m_verticalHandle;
}

void KsAppStyle::polish(QWidget* widget)
{
    widget->setAttribute(Qt::WA_AlwaysShowToolTips);
    ShowMenuActionWhatsThis* menuHelp = ShowMenuActionWhatsThis::instance();
    if (auto* menu = qobject_cast<QMenu*>(widget); menu && menuHelp)
        menuHelp->watchMenu(menu);
}

void KsAppStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                    QPainter* painter, const QWidget* widget) const
{
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_Slider || !slider) {
        ProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    QStyleOptionSlider withoutHandle = *slider;
    withoutHandle.subControls &= ~SC_SliderHandle;
    ProxyStyle::drawComplexControl(control, &withoutHandle, painter, widget);
    if (slider->subControls & SC_SliderHandle) {
        const QRect handle = subControlRect(control, slider, SC_SliderHandle, widget);
        painter->drawPixmap(handle.topLeft(), handlePicture(slider->orientation));
    }
}

QRect KsAppStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                 SubControl subControl, const QWidget* widget) const
{
    const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_Slider || !slider || subControl != SC_SliderHandle)
        return ProxyStyle::subControlRect(control, option, subControl, widget);

    const int length = pixelMetric(PM_SliderLength, slider, widget);
    const int across = pixelMetric(PM_SliderTickmarkOffset, slider, widget);
    const int thickness = pixelMetric(PM_SliderControlThickness, slider, widget);
    const QRect& r = slider->rect;
    const bool horizontal = slider->orientation == Qt::Horizontal;
    const int span = (horizontal ? r.width() : r.height()) - length;
    const int position = sliderPositionFromValue(slider->minimum, slider->maximum,
                                                 slider->sliderPosition, span, slider->upsideDown);
    if (horizontal)
        return QRect(r.x() + position, r.y() + across, length, thickness);
    return QRect(r.x() + across, r.y() + position, thickness, length);
}

int KsAppStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const
{
    switch (metric) {
    case PM_SliderThickness:
    case PM_SliderControlThickness:
        if (const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option)) {
            const QPixmap& picture = handlePicture(slider->orientation);
            return slider->orientation == Qt::Horizontal ? picture.height() : picture.width();
        }
        break;
    case PM_SliderLength:
        if (const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option)) {
            const QPixmap& picture = handlePicture(slider->orientation);
            return slider->orientation == Qt::Horizontal ? picture.width() : picture.height();
        }
        break;
    // Deprecated for callers, but still what the common style reads its layout margins and
    // spacing through.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    case PM_DefaultTopLevelMargin:
    case PM_DefaultChildMargin:
    case PM_DefaultLayoutSpacing:
    QT_WARNING_POP
        return ProxyStyle::pixelMetric(metric, option, widget) - 4;
    default:
        break;
    }
    return ProxyStyle::pixelMetric(metric, option, widget);
}

int KsAppStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                          QStyleHintReturn* returnData) const
{
    switch (hint) {
    case SH_GroupBox_TextLabelColor:
        return option ? int(option->palette.color(QPalette::Text).rgb()) : 0;
    case SH_ToolButton_PopupDelay:
        return ProxyStyle::styleHint(hint, option, widget, returnData) / 2;
    case SH_Slider_AbsoluteSetButtons:
        return Qt::LeftButton | Qt::MiddleButton;
    default:
        return ProxyStyle::styleHint(hint, option, widget, returnData);
    }
}
