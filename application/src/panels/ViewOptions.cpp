#include "panels/ViewOptions.h"

#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsAppPreferences.h"
#include "document/Texts.h"
#include "panels/Browser.h"
#include "panels/ImageEdgeFinder.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

namespace {

ViewOptions* g_viewOptions = nullptr;

const QString settingsGroup = QStringLiteral("ViewOptions");

bool persistOptions()
{
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    return preferences && preferences->persistOptions();
}

QString learnMore()
{
    return learnMoreParagraph(Browser::helpRoot() + QStringLiteral("/4-Kestrine_Tools/Project_Window.htm"));
}

QFrame* separator()
{
    auto* line = new QFrame;
    line->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    return line;
}

} // namespace

ViewOptions::ViewOptions(QWidget* parent)
    : QWidget(parent),
      m_layout(new QHBoxLayout(this)),
      m_resolutions{{QStringLiteral("1:1"), 1}, {QStringLiteral("1:2"), 2}, {QStringLiteral("1:4"), 4},
                    {QStringLiteral("1:8"), 8}}
{
    m_layout->setSpacing(10);
    m_layout->setContentsMargins(0, 0, 0, 0);

    // Show edges.
    const QString showEdgesName = ImageEdgeFinder::showObjectEdgesText(false);
    m_showEdges = new PersistentCheckBox(settingsGroup, showEdgesName, true, true);
    m_showEdges->setText(ImageEdgeFinder::showObjectEdgesText(true));
    m_showEdges->setToolTip(tr("Show edges found with current Edge Finding settings"));
    m_showEdges->setWhatsThis(
        tr("<p><b>%1</b> (F2)</p><p>Shows the edges of the objects found in the image.</p><p>Objects will be "
           "flood-filled to their edges when you use the %2. Check / uncheck the tick box to show / hide the "
           "<b>Object Edges</b>. Brushes work in the same manner independently of whether edges are being "
           "shown.</p><p><b><i>Consider:</i></b> Hiding the edges when working with lots of small "
           "objects.</p>%3")
            .arg(m_showEdges->text(), tr("<b>Local</b> and <b>Global Brushes</b>"), learnMore()));
    m_rememberedChecked = m_showEdges->isChecked();
    m_layout->addWidget(m_showEdges);
    m_layout->addWidget(separator());

    // Mask opacity: the label first, sized for the widest percentage.
    m_opacitySlider = new PersistentSlider(settingsGroup, QStringLiteral("Mask Opacity"), 153, true);
    m_opacitySlider->setOrientation(Qt::Horizontal);
    m_opacitySlider->setRange(26, 255);
    m_opacitySlider->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_opacityLabel = new QLabel;
    updateMaskLabel(m_opacitySlider->maximum());
    m_opacityLabel->setMinimumSize(m_opacityLabel->sizeHint());
    updateMaskLabel(m_opacitySlider->value());
    const QString opacityTip = tr("Adjust opacity of mask(s)");
    const QString opacityHelp =
        tr("<p><b>%1</b></p><p>Lower the opacity to allow more of the underlying image to show through the "
           "mask.</p><p><b><i>Consider:</i></b> Using a nearly opaque mask can help you spot unmasked "
           "areas.</p>")
            .arg(tr("Mask Opacity"))
        + learnMore();
    for (QWidget* widget : {static_cast<QWidget*>(m_opacityLabel), static_cast<QWidget*>(m_opacitySlider)}) {
        widget->setToolTip(opacityTip);
        widget->setWhatsThis(opacityHelp);
    }
    m_layout->addWidget(m_opacityLabel);
    m_layout->addWidget(m_opacitySlider);
    m_layout->addWidget(separator());

    // Workspace resolution.
    auto* resolutionLabel = new QLabel(tr("Workspace Resolution"));
    m_resolution = new PersistentCombo(settingsGroup, QStringLiteral("Workspace Resolution"),
                                       QStringLiteral("1:1"), persistOptions());
    const QString resolutionTip = tr("Workspace Resolution") + tr(" (Workspace:Source)");
    const QString resolutionHelp =
        QStringLiteral("<p><b>") + tr("Workspace Resolution") + QStringLiteral("</b></p>")
        + tr("<p>When loading the image into %1, the Workspace resolution (expressed as a ratio&mdash;workspace "
             "pixels : original image pixels) is set automatically to maintain good operational speeds.</p><p>")
              .arg(productName())
        + tr("This may be manually overridden.")
        + tr("A lower working resolution / higher ratio (e.g., 1:4) can speed up many operations, at a small "
             "cost to the accuracy of object finding.</p>")
        + tr("<p><b><i>Consider: </i></b>When loading a very large image, cancel the loading process "
             "immediately and manually adjust the Workspace Resolution. This saves time waiting for the image "
             "to load and then adjusting the resolution.</p>")
        + tr("<p><b><i>Note:</i></b> The final cut-out always retains the resolution of the original image. If "
             "you change the workspace resolution any existing <b>Masks</b> %1 will <b><i>be "
             "deleted</i></b>.</p>")
              .arg(tr("and <b>Patches</b>"))
        + learnMore();
    for (QWidget* widget : {static_cast<QWidget*>(resolutionLabel), static_cast<QWidget*>(m_resolution)}) {
        widget->setToolTip(resolutionTip);
        widget->setWhatsThis(resolutionHelp);
    }
    m_layout->addWidget(resolutionLabel);
    m_layout->addWidget(m_resolution);

    // The selector holds only the stored text: the ratios replace it.
    const QString stored = persistent::comboText(*m_resolution);
    m_resolution->removeItem(0);
    for (auto it = m_resolutions.cbegin(); it != m_resolutions.cend(); ++it)
        m_resolution->addItem(it.key());
    GmModel* model = GmModel::instance();
    if (!persistOptions()) {
        syncResolutionSlot(model->resolution(), model->resolution());
    } else {
        const int index = m_resolution->findText(stored, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            m_resolution->setCurrentIndex(index);
        model->changeResolution(m_resolutions.value(m_resolution->currentText(), 1));
        emit modified();
    }
    connect(m_resolution, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) { changeResolutionSlot(m_resolution->itemText(index)); });
    m_resolution->setEnabled(true);

    connect(m_showEdges, &QCheckBox::clicked, this, &ViewOptions::modified);
    connect(m_showEdges, &QCheckBox::clicked, this, &ViewOptions::showVectorEdgesSlot);
    connect(m_opacitySlider, &QSlider::valueChanged, this, &ViewOptions::updateMaskLabel);
    connect(m_opacitySlider, &QSlider::valueChanged, this, &ViewOptions::opacityChanged);

    g_viewOptions = this;
    GmStatusArray::setOpacitySliderLookup(
        []() -> QAbstractSlider* { return g_viewOptions ? g_viewOptions->m_opacitySlider : nullptr; });
}

ViewOptions::~ViewOptions()
{
    // The resolution is kept only when the preference asks for it at exit.
    m_resolution->setPersist(persistOptions());
    // While the edges are unavailable the box shows them off; the user's own choice is kept.
    if (m_showEdges && m_showEdges->testAttribute(Qt::WA_ForceDisabled)) {
        const QSignalBlocker quiet(m_showEdges.data());
        m_showEdges->setChecked(m_rememberedChecked);
    }
    delete m_showEdges.data();
    if (g_viewOptions == this)
        g_viewOptions = nullptr;
}

ViewOptions* ViewOptions::instance()
{
    return g_viewOptions;
}

void ViewOptions::syncResolutionSlot(int, int divisor)
{
    int index = 0;
    for (int i = 0; i < m_resolution->count(); ++i) {
        if (m_resolutions.value(m_resolution->itemText(i)) == divisor) {
            index = i;
            break;
        }
    }
    const QSignalBlocker quiet(m_resolution);
    m_resolution->setCurrentIndex(index);
}

void ViewOptions::setShowVectorEdges(bool on)
{
    if (m_showEdges)
        m_showEdges->setChecked(on);
}

void ViewOptions::setShowVectorEdgesEnabled(bool enabled)
{
    // The box's own state: a disabled window around it does not count.
    if (!m_showEdges || !m_showEdges->testAttribute(Qt::WA_ForceDisabled) == enabled)
        return;
    if (!enabled) {
        m_rememberedChecked = m_showEdges->isChecked();
        m_showEdges->setChecked(false);
    } else {
        m_showEdges->setChecked(m_rememberedChecked);
    }
    m_showEdges->setEnabled(enabled);
}

void ViewOptions::changeResolutionSlot(const QString& text)
{
    const auto it = m_resolutions.constFind(text);
    if (it == m_resolutions.constEnd())
        return;
    GmModel::instance()->changeResolution(*it);
    emit modified();
}

void ViewOptions::showVectorEdgesSlot(bool on)
{
    emit showVectorEdges(on);
}

void ViewOptions::updateMaskLabel(int value)
{
    const int maximum = m_opacitySlider->maximum();
    const int percent = maximum > 0 ? value * 100 / maximum : 0;
    m_opacityLabel->setText(QStringLiteral("%1: %2%").arg(tr("Mask Opacity")).arg(percent));
}
