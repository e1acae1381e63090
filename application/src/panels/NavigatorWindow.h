#pragma once
// The "Navigator" panel: the thumbnail with the view's box, a zoom percentage box and a zoom
// slider with nudge buttons. Box and slider follow each other and the view's zoom; either, when
// the user moves it, asks the view for its zoom (requestZoomTo). The zoom-in and zoom-out
// enabled signals change only at the zoom limits, 6.25 % and 1600 %.

#include "document/ImageCoordinates.h"
#include "panels/GmSubWindow.h"

class Navigator;
class QDoubleSpinBox;
class Slider;

class NavigatorWindow : public GmSubWindow {
    Q_OBJECT
public:
    NavigatorWindow(QWidget* parent, QWidget* actionHost = nullptr, const QString& shortcut = QString());

    // The percentages the box spans: 10^(2 - d) to 10^(2 + d), d = log10(1600) - 2.
    static double minimumPercent();
    static double maximumPercent();
    // The slider spans -25 to 25; a position p stands for 10^(2 + 0.04 p d) percent.
    static constexpr int sliderRange = 25;

    bool hasDefaultSize() const override;

    Navigator* navigator() const { return m_navigator; }
    QDoubleSpinBox* zoomBox() const { return m_box; }
    Slider* zoomSlider() const { return m_slider; }

signals:
    void requestZoomTo(qreal zoom);
    void zoomInEnabled(bool enabled);
    void zoomOutEnabled(bool enabled);
    void zoomSliderChange(int position);

public slots:
    // The view moved or zoomed: the box, the view's rectangle and zoom.
    void setRectSlot(GRectF rect, qreal zoom);
    // By 1.25 (0.8), within the box's range; a change under a hundredth of a percent is none.
    void zoomInSlot();
    void zoomOutSlot();
    void syncBoxFromSliderSlot(int position);
    void syncSliderFromBoxSlot(double percent);
    void zoomChangedSlot(double percent);

private:
    // The slider position nearest to a percentage.
    static int sliderPosition(double percent);
    void stepZoom(double factor);

    Navigator* m_navigator;
    QDoubleSpinBox* m_box;
    Slider* m_slider;
    bool m_zoomInEnabled = true;
    bool m_zoomOutEnabled = true;
};
