#include "panels/CommonBlendOptsWidget.h"

#include "document/BlendingStuff.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/KsSourceImage.h"
#include "document/Texts.h"
#include "panels/Browser.h"
#include "panels/ImageBlendingWindow.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const QString settingsGroup = QStringLiteral("BlendingOptions");

// Set while the image's widget announces a ratio: the patch widget's slider then follows it
// without counting as the user's move.
bool g_imageRatioGuard = false;

QString learnMore()
{
    return learnMoreParagraph(Browser::helpRoot() + QStringLiteral("/4-Kestrine_Tools/Rendering_Options.htm"));
}

} // namespace

CommonBlendOptsWidget::CommonBlendOptsWidget(bool persistable, bool imageMode, QWidget* parent)
    : BlendOptsWidget(persistable, parent),
      m_imageMode(imageMode),
      m_widthNames{tr("None"), tr("Thin"), tr("Medium"), tr("Thick")},
      m_widthValues{0.0f, 0.15f, 0.75f, 1.5f},
      m_ratioLabels{QStringLiteral("5:0"), QStringLiteral("4:1"), QStringLiteral("3:1"),
                    QStringLiteral("2:1"), QStringLiteral("1:1"), QStringLiteral("1:2"),
                    QStringLiteral("1:3"), QStringLiteral("1:4"), QStringLiteral("0:5")},
      m_widthName(tr("Blend Mask Width")),
      m_ratioName(tr("Intelligent Blending"))
{
    setEnabled(false);
    connect(GmModel::instance(), &GmModel::tellImageChanged, this, &CommonBlendOptsWidget::imageChangedSlot);
    ensureBuilt();
}

CommonBlendOptsWidget::~CommonBlendOptsWidget()
{
    // Whether the values are kept is decided by the preference as it is at exit.
    const bool persist = isPersistable() && persistOptions();
    if (m_widthCombo)
        m_widthCombo->setPersist(persist);
    if (m_ratioSlider)
        m_ratioSlider->setPersist(persist);
}

float CommonBlendOptsWidget::ratioOfPosition(int position)
{
    return 1.0f - float(position) / float(ratioPositions - 1);
}

BlendingOptions* CommonBlendOptsWidget::recordInFocus() const
{
    return m_imageMode ? imageRecord() : BlendOptsWidget::recordInFocus();
}

void CommonBlendOptsWidget::buildControls(QVBoxLayout* layout)
{
    const bool persist = isPersistable() && persistOptions();
    const QString panelTitle = ImageBlendingWindow::title(true);

    // The width: the combo loads its text, then holds the four choices with that one selected.
    auto* widthLabel = new QLabel(m_widthName + QStringLiteral(": "));
    m_widthCombo = new PersistentCombo(settingsGroup, QStringLiteral("Blend Mask Width"), tr("Thin"), persist);
    const QString loaded = m_widthCombo->currentText();
    m_widthCombo->removeItem(m_widthCombo->currentIndex());
    m_widthCombo->addItems(m_widthNames);
    const int loadedIndex = m_widthNames.indexOf(loaded);
    if (loadedIndex >= 0)
        m_widthCombo->setCurrentIndex(loadedIndex);
    m_widthCombo->setToolTip(tr("Thickness of automatically created blend mask"));
    m_widthCombo->setWhatsThis(
        QStringLiteral("<p><b>%1&mdash;%2</b></p>%3")
            .arg(panelTitle, m_widthName,
                 tr("<p>Use the drop down menu to select one of the following options:</p>"
                    "<ul><li><b>None</b>&mdash;no blend mask is created.</li>"
                    "<li><b>Thin</b>&mdash;a narrow blend mask, for sharp edges.</li>"
                    "<li><b>Medium</b>&mdash;a wider blend mask, for softer edges.</li>"
                    "<li><b>Thick</b>&mdash;the widest blend mask, for blurred or fine edges.</li></ul>"
                    "<p>Determines the thickness of the blend mask automatically created whenever a "
                    "masking operation results in a border between a Keep and a Delete mask.</p>"))
        + learnMore());
    {
        auto* row = new QHBoxLayout;
        row->addWidget(widthLabel);
        row->addWidget(m_widthCombo, 1);
        layout->addLayout(row);
    }
    connect(m_widthCombo, QOverload<int>::of(&QComboBox::activated), this,
            &CommonBlendOptsWidget::autoBlueWidthChangedSlot);
    connect(this, &CommonBlendOptsWidget::setAutoBlueWidth, m_widthCombo, &QComboBox::setCurrentIndex);

    // The Feather/Smart ratio.
    m_ratioGroup = new QGroupBox;
    m_ratioGroup->setToolTip(tr("Ratio of Feather and Smart blending across the edge"));
    m_ratioGroup->setWhatsThis(
        QStringLiteral("<p><b>%1&mdash;%2</b></p>").arg(panelTitle, m_ratioName)
        + tr("<p>%1 has two methods for blending the edges along the cut-out border:</p>"
             "<ul><li><b>Feather</b> fades the edge smoothly from the object into the background.</li>"
             "<li><b>Smart</b> separates the colors of the object from those of the background "
             "within the blend mask.</li></ul><p>The slider sets the ratio of the two.</p>")
              .arg(productName())
        + tr("<p>You can <b><i>localize your blending</i></b> using <b>Patches</b> and the settings in the "
             "Edge Blending tab of <b>Patch Properties</b>.</p>")
        + learnMore());
    auto* groupLayout = new QVBoxLayout(m_ratioGroup);
    m_lockBox = new QCheckBox(tr("Use setting from entire image"));
    if (!m_imageMode) {
        m_lockBox->setToolTip(tr("Lock Patch %1 to whole image Intelligent Blending").arg(m_ratioName));
        groupLayout->addWidget(m_lockBox);
        connect(m_lockBox, &QCheckBox::clicked, this, &CommonBlendOptsWidget::useBlendRatioFromImageSlot);
    }
    groupLayout->addSpacing(7);
    m_ratioSlider = new PersistentSlider(settingsGroup, QStringLiteral("Intelligent Blending"), 0, persist);
    m_ratioSlider->setOrientation(Qt::Horizontal);
    m_ratioSlider->setRange(0, ratioPositions - 1);
    m_ratioSlider->setSingleStep(1);
    {
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(tr("Feather  ")));
        row->addWidget(m_ratioSlider, 1);
        row->addWidget(new QLabel(tr("  Smart")));
        groupLayout->addLayout(row);
    }
    layout->addWidget(m_ratioGroup);
    connect(m_ratioSlider, &QSlider::valueChanged, this, &CommonBlendOptsWidget::blendRatioChangedBySliderSlot);
    // The title shows the position from the start.
    m_ratioGroup->setTitle(QStringLiteral("%1:    %2").arg(m_ratioName, m_ratioLabels.value(m_ratioSlider->value())));

    own(widthLabel);
    own(m_widthCombo);
    own(m_ratioGroup);
    own(m_lockBox);
}

void CommonBlendOptsWidget::showSettings(BlendingOptions* options)
{
    if (!options || !m_widthCombo)
        return;

    // The nearest width choice; the first of equal distances wins. A stored width that is not
    // a choice is snapped to it.
    float best = 9999.0f;
    int index = -1;
    for (int i = 0; i < m_widthValues.size(); ++i) {
        const float distance = std::fabs(m_widthValues[i] - options->autoBlendWidth);
        if (distance < best) {
            best = distance;
            index = i;
        }
    }
    if (index < 0)
        index = 1;  // not a number: the default, Thin
    emit setAutoBlueWidth(index);
    options->autoBlendWidth = m_widthValues[index];

    // A ratio outside 0..1 (or not a number) from a project file lands on the nearest end.
    float place = float(ratioPositions - 1) * (1.0f - options->blendRatio) + 0.5f;
    if (!(place >= 0.0f))
        place = 0.0f;
    const int position = std::min(int(place), ratioPositions - 1);

    BlendingOptions* outer = m_showing;
    m_showing = options;
    m_ratioSlider->setValue(position);
    m_lockBox->setChecked(options->isPatchBlendRatioTrackingImage);
    showAndStoreRatio(position, options);
    m_showing = outer;
}

void CommonBlendOptsWidget::readSettings(BlendingOptions* options)
{
    if (!options || !m_widthCombo)
        return;
    const int index = m_widthCombo->currentIndex();
    if (index >= 0 && index < m_widthValues.size())
        options->autoBlendWidth = m_widthValues[index];
    options->blendRatio = ratioOfPosition(m_ratioSlider->value());
    options->isPatchBlendRatioTrackingImage = m_lockBox->isChecked();
}

void CommonBlendOptsWidget::setWidthOf(BlendingOptions* options, int index)
{
    if (options && index >= 0 && index < m_widthValues.size())
        options->autoBlendWidth = m_widthValues[index];
}

void CommonBlendOptsWidget::setAutoBlueWidthToChoice(int index)
{
    setWidthOf(recordInFocus(), index);
}

void CommonBlendOptsWidget::autoBlueWidthChangedSlot(int index)
{
    setWidthOf(recordInFocus(), index);
}

void CommonBlendOptsWidget::setBinaryBlendRatio(bool featherOnly)
{
    const int position = featherOnly ? 0 : ratioPositions - 1;
    // The slider goes along so that it shows what the record holds.
    if (m_ratioSlider->value() != position)
        m_ratioSlider->setValue(position);
    else
        blendRatioChangedBySliderSlot(position);
}

void CommonBlendOptsWidget::showAndStoreRatio(int position, BlendingOptions* options)
{
    m_ratioGroup->setTitle(QStringLiteral("%1:    %2").arg(m_ratioName, m_ratioLabels.value(position)));
    const float ratio = ratioOfPosition(position);
    if (m_imageMode) {
        imageRecord()->blendRatio = ratio;
        const bool outer = g_imageRatioGuard;
        g_imageRatioGuard = true;
        emit GmModel::instance()->imageBlendRatioChanged(ratio);
        g_imageRatioGuard = outer;
    } else if (options) {
        options->blendRatio = ratio;
    }
}

void CommonBlendOptsWidget::blendRatioChangedBySliderSlot(int position)
{
    if (position < 0 || position >= ratioPositions)
        return;
    BlendingOptions* options = m_showing ? m_showing : recordInFocus();
    showAndStoreRatio(position, options);
    if (!m_imageMode && !m_showing && !g_imageRatioGuard) {
        // The user set this patch's own ratio: it stops following the image, or a later
        // change there would overwrite it.
        m_lockBox->setChecked(false);
        if (options)
            options->isPatchBlendRatioTrackingImage = false;
    }
}

void CommonBlendOptsWidget::useBlendRatioFromImageSlot(bool on)
{
    BlendingOptions* options = recordInFocus();
    if (on)
        options->blendRatio = imageRecord()->blendRatio;
    options->isPatchBlendRatioTrackingImage = on;
    showSettings(options);
}

void CommonBlendOptsWidget::imageBlendRatioChangedSlot(float ratio)
{
    for (GmRegion* patch : GmModel::instance()->patches()) {
        BlendingOptions& options = patch->blending().options();
        if (options.isPatchBlendRatioTrackingImage)
            options.blendRatio = ratio;
    }
    showSettings(recordInFocus());
}

void CommonBlendOptsWidget::enableStandardBlendingSlot(bool on)
{
    m_ratioGroup->setEnabled(on);
}

void CommonBlendOptsWidget::imageChangedSlot(const KsSourceImage* image)
{
    setEnabled(image != nullptr);
    showSettings(imageRecord());
}
