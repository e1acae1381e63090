#pragma once
// The application's style, installed over the platform's at start-up: slider handles drawn
// from pictures (and sized by them), default margins and spacing 4 pixels tighter, half the
// tool-button pop-up delay, left and middle clicks that set a slider's position directly, tool
// tips on inactive windows too, and the tip window's help for every menu.

#include "panels/ProxyStyle.h"

#include <QPixmap>

class KsAppStyle : public ProxyStyle {
    Q_OBJECT
public:
    // Takes ownership of the base style.
    explicit KsAppStyle(QStyle* base);

    // Wraps the application's current style and installs the wrapper in its place.
    static KsAppStyle* install();

    using ProxyStyle::polish;
    // The base style's widget polish is not applied.
    void polish(QWidget* widget) override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                         SubControl subControl, const QWidget* widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr, QStyleHintReturn* returnData = nullptr) const override;

    const QPixmap& handlePicture(Qt::Orientation orientation) const;

private:
    QPixmap m_horizontalHandle;
    QPixmap m_verticalHandle;
};
