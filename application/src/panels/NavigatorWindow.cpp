#include "panels/NavigatorWindow.h"

#include "canvas/Navigator.h"
#include "document/Texts.h"
#include "panels/Browser.h"
#include "panels/Slider.h"

#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QPixmap>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// Decimal orders of magnitude either side of 100 %.
const double spread = std::log10(1600.0) - 2.0;

double hundredths(double percent)
{
    return std::round(percent * 100.0) / 100.0;
}

} // namespace

double NavigatorWindow::minimumPercent()
{
    return hundredths(std::pow(10.0, 2.0 - spread));
}

double NavigatorWindow::maximumPercent()
{
    return hundredths(std::pow(10.0, 2.0 + spread));
}

NavigatorWindow::NavigatorWindow(QWidget* parent, QWidget* actionHost, const QString& shortcut)
    : GmSubWindow(QStringLiteral("Navigator"), tr("Navigator"), actionHost, shortcut, parent),
      m_navigator(new Navigator),
      m_box(new QDoubleSpinBox),
      m_slider(new Slider)
{
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    setWhatsThis(QStringLiteral("<p><b>") + windowTitle() + QStringLiteral("</b></p>")
                          + tr("<p>The Navigator shows a thumbnail version of your source image; the red box "
                               "marks the part of the image shown in the work area. Drag the box, or click "
                               "beside it, to move around the image; use the zoom box, the slider or its "
                               "buttons to zoom.</p>")
                          + learnMoreParagraph(Browser::helpRoot()
                                               + QStringLiteral("/4-Kestrine_Tools/Navigator.htm")));
    layout->addWidget(m_navigator, 1);

    m_box->setDecimals(2);
    m_box->setRange(minimumPercent(), maximumPercent());
    m_box->setSuffix(QStringLiteral("%"));
    m_box->setToolTip(tr("Zoom Percent"));

    m_slider->setMinimumWidth(130);
    m_slider->slider()->setRange(-sliderRange, sliderRange);
    m_slider->slider()->setToolTip(tr("Zoom Slider"));
    // Each nudge button shows what it does: zooming out lies below the slider, in above it.
    m_slider->setNudgeButtons(QPixmap(QStringLiteral(":images/nav_zoom_out.png")),
                              QPixmap(QStringLiteral(":images/nav_zoom_in.png")));
    m_slider->setNudgeToolTips(tr("Zoom Out (Ctrl+-)"), tr("Zoom In (Ctrl++)"));

    connect(m_slider->slider(), &QSlider::valueChanged, this, &NavigatorWindow::syncBoxFromSliderSlot);
    connect(m_box, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &NavigatorWindow::syncSliderFromBoxSlot);
    connect(m_box, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, &NavigatorWindow::zoomChangedSlot);
    connect(m_slider, &Slider::requestNudgeUp, this, &NavigatorWindow::zoomInSlot);
    connect(m_slider, &Slider::requestNudgeDown, this, &NavigatorWindow::zoomOutSlot);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_box);
    row->addWidget(m_slider, 1);
    layout->addLayout(row);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    setWidget(content);

    m_box->setValue(100.0);
}

bool NavigatorWindow::hasDefaultSize() const
{
    return false;
}

int NavigatorWindow::sliderPosition(double percent)
{
    return int(std::lround((std::log10(percent) - 2.0) / spread * sliderRange));
}

void NavigatorWindow::syncBoxFromSliderSlot(int position)
{
    {
        const QSignalBlocker blocker(m_box);
        m_box->setValue(std::pow(10.0, position * 0.04 * spread + 2.0));
    }
    emit requestZoomTo(m_box->value() / 100.0);
}

void NavigatorWindow::syncSliderFromBoxSlot(double percent)
{
    {
        const QSignalBlocker blocker(m_slider->slider());
        m_slider->slider()->setValue(sliderPosition(percent));
    }
    emit requestZoomTo(m_box->value() / 100.0);
    emit zoomSliderChange(m_slider->slider()->value());
}

void NavigatorWindow::setRectSlot(GRectF rect, qreal zoom)
{
    m_navigator->setViewRect(rect);
    if (m_box->value() / 100.0 != zoom) {
        {
            const QSignalBlocker boxBlocker(m_box);
            m_box->setValue(zoom * 100.0);
        }
        {
            const QSignalBlocker sliderBlocker(m_slider->slider());
            m_slider->slider()->setValue(sliderPosition(m_box->value()));
        }
        emit zoomSliderChange(m_slider->slider()->value());
    }
    zoomChangedSlot(m_box->value());
}

void NavigatorWindow::stepZoom(double factor)
{
    const double current = m_box->value();
    const double wanted = std::clamp(current * factor, m_box->minimum(), m_box->maximum());
    if (std::lround(wanted * 100.0) != std::lround(current * 100.0))
        m_box->setValue(wanted);
}

void NavigatorWindow::zoomInSlot()
{
    stepZoom(1.25);
}

void NavigatorWindow::zoomOutSlot()
{
    stepZoom(0.8);
}

void NavigatorWindow::zoomChangedSlot(double percent)
{
    const bool inEnabled = percent < m_box->maximum();
    if (inEnabled != m_zoomInEnabled) {
        m_zoomInEnabled = inEnabled;
        emit zoomInEnabled(inEnabled);
    }
    const bool outEnabled = percent > m_box->minimum();
    if (outEnabled != m_zoomOutEnabled) {
        m_zoomOutEnabled = outEnabled;
        emit zoomOutEnabled(outEnabled);
    }
}
