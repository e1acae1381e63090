#include "panels/EdgeDetectionOptions.h"

#include "document/EDOs.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/SegmentationStuff.h"
#include "document/Texts.h"
#include "panels/Browser.h"
#include "panels/ImageEdgeFinder.h"
#include "panels/ToolPaletteButton.h"

#include <QAction>
#include <QButtonGroup>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QStyleOption>
#include <QVBoxLayout>

namespace {

const QString settingsGroup = QStringLiteral("EdgeDetectionOptions");
const char* const showAdvancedIcon = ":images/2arrow-show-icon-16x16.png";
const char* const hideAdvancedIcon = ":images/2arrow-hide-icon-16x16.png";
constexpr int minWidth = 1;
constexpr int maxWidth = 32;

bool persistOptions()
{
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    return preferences && preferences->persistOptions();
}

int modelDivisor()
{
    const GmModel* model = GmModel::existingInstance();
    return model ? model->resolution() : 1;
}

QString learnMore()
{
    return learnMoreParagraph(Browser::helpRoot() + QStringLiteral("/4-Kestrine_Tools/Edge_Detection.htm"));
}

QString helpTitle(const QString& name)
{
    return QStringLiteral("<p><b>Edge Finding&mdash;") + name + QStringLiteral("</b></p>");
}

} // namespace

EdgeDetectionOptions::EdgeDetectionOptions(bool persistable, QWidget* parent)
    : QWidget(parent),
      m_persistable(persistable),
      m_sensitivityName(tr("Number of Edges")),
      m_widthName(tr("Edge Width Threshold")),
      m_contrastName(tr("Edge Contrast")),
      m_textureName(tr("Filter-out Texture"))
{
    buildControls();

    GmModel* model = GmModel::instance();
    if (m_persistable && persistOptions()) {
        // The previous run's settings win over the model's values.
        readControlsInto(model->segmentation());
    } else {
        m_record = model->segmentation();
        m_options = &m_record->edos();
        showValues(m_options);
    }

    connect(model, &GmModel::resolutionChanged, this, &EdgeDetectionOptions::resolutionChangedSlot);
    connect(model, &GmModel::tellImageChanged, this, &EdgeDetectionOptions::imageChangedSlot);
    connect(model, &GmModel::sessionHasBegun, this, &EdgeDetectionOptions::sessionHasBegunSlot);
    connect(model, &GmModel::activeRegionChanged, this, &EdgeDetectionOptions::activeRegionChangedSlot);
    connect(model, &GmModel::ownSmegStatusChanged, this, &EdgeDetectionOptions::activeRegionChangedSlot);
}

EdgeDetectionOptions::~EdgeDetectionOptions()
{
    // Whether the values are kept is decided by the preference as it is at exit.
    const bool persist = m_persistable && persistOptions();
    m_sensitivitySlider->setPersist(persist);
    m_widthSlider->setPersist(persist);
    for (PersistentRadio* radio : radioButtons())
        radio->setPersist(persist);
}

QList<EdgeDetectionOptions::PersistentRadio*> EdgeDetectionOptions::radioButtons() const
{
    return {m_contrastHigh, m_contrastMedium, m_contrastLow, m_textureCoarse, m_textureMedium, m_textureFine};
}

void EdgeDetectionOptions::buildControls()
{
    const bool persist = m_persistable && persistOptions();
    const QString consider =
        tr("<p><b><i>Consider:</i></b> Saving your settings from one image to the next for similar images "
           "(e.g., for a photo shoot using the same background and camera settings) by changing the "
           "settings in <b>Workspace Settings</b> in the <b>&lsquo;Edit&rsquo;</b> menu at the top of the "
           "screen.</p>");
    auto* layout = new QVBoxLayout(this);

    // How finely the image is divided.
    m_sensitivityGroup = new QGroupBox;
    m_sensitivitySlider = new PersistentSlider(settingsGroup, QStringLiteral("Number of Edges"), 10, persist);
    m_sensitivitySlider->setOrientation(Qt::Horizontal);
    m_sensitivitySlider->setRange(1, 100);
    {
        auto* row = new QHBoxLayout(m_sensitivityGroup);
        row->addWidget(new QLabel(tr("Fewer  ")));
        row->addWidget(m_sensitivitySlider);
        row->addWidget(new QLabel(tr("  More")));
    }
    m_sensitivityGroup->setToolTip(tr("How finely the image is to be divided"));
    m_sensitivityGroup->setWhatsThis(
        helpTitle(m_sensitivityName)
        + tr("<p>Sets how finely %1 divides an image into objects. The higher the setting, the more objects "
             "%1 will identify.</p><p>When working with fine detail such as tree leaves and branches, move "
             "the slider all the way to the right&mdash;this is the best setting for finding this kind of "
             "object. Note that the <b>%2</b> check box at the bottom of the screen has been turned off at "
             "this setting, because showing such fine objects is no longer useful.</p>")
              .arg(productName(), ImageEdgeFinder::showObjectEdgesText(true))
        + consider + learnMore());
    layout->addWidget(m_sensitivityGroup);
    connect(this, &EdgeDetectionOptions::setSensitivity, m_sensitivitySlider, &QSlider::setValue);
    connect(m_sensitivitySlider, &QSlider::valueChanged, this, &EdgeDetectionOptions::sensitivityChangedSlot);

    // The minimum edge width, as a slider and a spin box that follow each other.
    m_widthGroup = new QGroupBox(m_widthName + QStringLiteral(":   "));
    m_widthSlider = new PersistentSlider(settingsGroup, QStringLiteral("Edge Width Threshold"), 8, persist);
    m_widthSlider->setOrientation(Qt::Horizontal);
    m_widthSlider->setRange(minWidth, maxWidth);
    m_widthSpin = new QSpinBox;
    m_widthSpin->setRange(minWidth, maxWidth);
    m_widthSpin->setSuffix(tr("px"));
    m_widthSpin->setValue(m_widthSlider->value());
    {
        auto* row = new QHBoxLayout(m_widthGroup);
        row->addWidget(m_widthSlider);
        row->addWidget(m_widthSpin);
    }
    m_widthGroup->setToolTip(tr("Find edges of minimum width (pixels)"));
    m_widthGroup->setWhatsThis(
        tr("<p><b>Edge Finding&mdash;%1</b></p><p>Sets the minimum width in pixels of a color or texture "
           "transition that %2 will recognize as an edge.</p><p>If you set a small threshold, %2 will find "
           "many in-focus and sharp edges; if you set a larger threshold, %2 will find fewer but broader "
           "edges such as found with out-of-focus edges.</p>")
            .arg(m_widthName, productName())
        + consider + learnMore());
    layout->addWidget(m_widthGroup);
    connect(m_widthSlider, &QSlider::valueChanged, m_widthSpin, &QSpinBox::setValue);
    connect(m_widthSpin, QOverload<int>::of(&QSpinBox::valueChanged), m_widthSlider, &QSlider::setValue);
    connect(m_widthSlider, &QSlider::valueChanged, this, &EdgeDetectionOptions::widthChangedSlot);
    connect(this, &EdgeDetectionOptions::setWidth, m_widthSlider, &QSlider::setValue);

    // Contrast: ids are the option's codes.
    const QString contrastGroupName = settingsGroup + QStringLiteral("/Edge Contrast");
    m_contrastGroup = new QGroupBox(m_contrastName);
    m_contrastGroup->setFlat(true);
    m_contrastHigh = new PersistentRadio(contrastGroupName, QStringLiteral("High"), false, persist);
    m_contrastMedium = new PersistentRadio(contrastGroupName, QStringLiteral("Medium"), true, persist);
    m_contrastLow = new PersistentRadio(contrastGroupName, QStringLiteral("Low"), false, persist);
    m_contrastHigh->setText(tr("High"));
    m_contrastHigh->setToolTip(tr("Find only high contrasting edges"));
    m_contrastMedium->setText(tr("Medium"));
    m_contrastMedium->setToolTip(tr("Find normal or greater contrasting edges"));
    m_contrastLow->setText(tr("Low"));
    m_contrastLow->setToolTip(tr("Find low contrasting edges"));
    m_contrastButtons = new QButtonGroup(this);
    m_contrastButtons->addButton(m_contrastHigh, 2);
    m_contrastButtons->addButton(m_contrastMedium, 1);
    m_contrastButtons->addButton(m_contrastLow, 0);
    {
        auto* row = new QHBoxLayout(m_contrastGroup);
        row->addWidget(m_contrastHigh);
        row->addWidget(m_contrastMedium);
        row->addWidget(m_contrastLow);
    }
    m_contrastGroup->setWhatsThis(
        helpTitle(m_contrastName)
        + tr("<p>Sets the minimum color difference required to identify an edge.</p><p>Choose <b>Low</b> "
             "contrast to find edges between areas of similar color.</p><p>Choose <b>Medium</b> or "
             "<b>High</b> contrast when there is a clear distinction between the foreground and background "
             "colors.</p>")
        + learnMore());
    layout->addWidget(m_contrastGroup);
    connect(m_contrastButtons, &QButtonGroup::idClicked, this, &EdgeDetectionOptions::contrastChanged);
    connect(this, &EdgeDetectionOptions::setEdgeContrastHigh, m_contrastHigh, &QRadioButton::setChecked);
    connect(this, &EdgeDetectionOptions::setEdgeContrastMedium, m_contrastMedium, &QRadioButton::setChecked);
    connect(this, &EdgeDetectionOptions::setEdgeContrastLow, m_contrastLow, &QRadioButton::setChecked);

    // Texture filter.
    const QString textureGroupName = settingsGroup + QStringLiteral("/Filtering");
    m_textureGroup = new QGroupBox(m_textureName);
    m_textureGroup->setFlat(true);
    m_textureCoarse = new PersistentRadio(textureGroupName, QStringLiteral("Coarse"), false, persist);
    m_textureMedium = new PersistentRadio(textureGroupName, QStringLiteral("Medium"), true, persist);
    m_textureFine = new PersistentRadio(textureGroupName, QStringLiteral("Fine"), false, persist);
    m_textureCoarse->setText(tr("Coarse"));
    m_textureCoarse->setToolTip(tr("Find only large variations in texture"));
    m_textureMedium->setText(tr("Medium"));
    m_textureMedium->setToolTip(tr("Find moderate variations in texture"));
    m_textureFine->setText(tr("Fine"));
    m_textureFine->setToolTip(tr("Find small variations in texture"));
    m_textureButtons = new QButtonGroup(this);
    m_textureButtons->addButton(m_textureCoarse, 2);
    m_textureButtons->addButton(m_textureMedium, 1);
    m_textureButtons->addButton(m_textureFine, 0);
    {
        auto* row = new QHBoxLayout(m_textureGroup);
        row->addWidget(m_textureCoarse);
        row->addWidget(m_textureMedium);
        row->addWidget(m_textureFine);
    }
    m_textureGroup->setWhatsThis(
        helpTitle(m_textureName)
        + tr("<p>Sets texture recognition.</p><p>Choose <b>Fine</b> to find edges between areas of fine "
             "texture.</p><p>Choose <b>Medium</b> or <b>Coarse</b> to ignore the finer variations of a "
             "textured surface and find only the edges between larger areas.</p>")
        + learnMore());
    layout->addWidget(m_textureGroup);
    connect(m_textureButtons, &QButtonGroup::idClicked, this, &EdgeDetectionOptions::textureFilterChanged);
    connect(this, &EdgeDetectionOptions::setTextureFilterCoarse, m_textureCoarse, &QRadioButton::setChecked);
    connect(this, &EdgeDetectionOptions::setTextureFilterMedium, m_textureMedium, &QRadioButton::setChecked);
    connect(this, &EdgeDetectionOptions::setTextureFilterFine, m_textureFine, &QRadioButton::setChecked);

    // Defaults, Revert, Apply and the advanced options' switch.
    m_defaults = new QPushButton(tr("Defaults"));
    m_defaults->setToolTip(tr("Restore defaults for this image"));
    m_defaults->setWhatsThis(tr("<p><b>Edge Finding&mdash;Defaults</b></p><p>Restore the <b>Edge Finding</b> "
                                "settings to their original values.</p>")
                             + learnMore());
    m_revert = new QPushButton(tr("Revert"));
    m_revert->setToolTip(tr("Revert to settings last applied"));
    m_revert->setWhatsThis(tr("<p><b>Edge Finding&mdash;Revert</b></p><p>Revert the <b>Edge Finding</b> "
                              "settings to the last settings you applied in the workspace.</p>")
                           + learnMore());
    m_apply = new QPushButton(tr("Apply"));
    m_apply->setToolTip(tr("Apply settings to Workspace"));
    m_apply->setWhatsThis(tr("<p><b>Edge Finding&mdash;Apply</b></p><p>Apply the current <b>Edge Finding</b> "
                             "settings and re-analyze the image.</p>")
                          + learnMore());
    m_advanced = new ToolPaletteButton;
    m_advanced->setAutoRaise(true);
    // The groups start visible: the switch offers to hide them.
    m_advanced->setIcon(QIcon(QString::fromLatin1(hideAdvancedIcon)));
    m_advanced->setToolTip(tr("Hide the advanced options"));
    m_advanced->setWhatsThis(tr("<p><b>Edge Finding&mdash;Advanced</b></p><p>These options rarely need to be "
                                "altered for normal images, but are very useful in certain "
                                "circumstances.</p>")
                             + learnMore());
    auto* line = new QFrame;
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    {
        auto* row = new QHBoxLayout;
        row->setSpacing(5);
        row->addWidget(m_defaults);
        row->addWidget(m_revert);
        row->addWidget(m_apply);
        row->addSpacing(5);
        row->addWidget(line);
        row->addSpacing(5);
        row->addWidget(m_advanced);
        layout->addLayout(row);
    }
    connect(m_defaults, &QPushButton::clicked, this, &EdgeDetectionOptions::setDefaultsSlot);
    connect(m_revert, &QPushButton::clicked, this, &EdgeDetectionOptions::revertValuesSlot);
    connect(m_apply, &QPushButton::clicked, this, &EdgeDetectionOptions::applyValuesSlot);
    connect(m_advanced, &QToolButton::clicked, this, &EdgeDetectionOptions::toggleAdvanced);

    // The title shows the value from the start.
    m_updating = true;
    sensitivityChangedSlot(m_sensitivitySlider->value());
    m_updating = false;
}

SegmentationStuff* EdgeDetectionOptions::record() const
{
    return m_record;
}

EDOs* EdgeDetectionOptions::options() const
{
    return m_options;
}

void EdgeDetectionOptions::readControlsInto(SegmentationStuff* record)
{
    m_record = record;
    m_options = record ? &record->edos() : nullptr;
    if (!m_options)
        return;
    m_options->sensitivity().setCurrent(m_sensitivitySlider->value());
    m_options->width().setCurrent(m_widthSlider->value());
    // The kept width is the user's, not the applied one a resolution change would start from.
    followWidthInImageCoords();
    if (m_contrastHigh->isChecked())
        m_options->contrast().setCurrent(2);
    else if (m_contrastMedium->isChecked())
        m_options->contrast().setCurrent(1);
    else if (m_contrastLow->isChecked())
        m_options->contrast().setCurrent(0);
    if (m_textureFine->isChecked())
        m_options->texture().setCurrent(0);
    else if (m_textureMedium->isChecked())
        m_options->texture().setCurrent(1);
    else if (m_textureCoarse->isChecked())
        m_options->texture().setCurrent(2);
    setEnablednessOfButtons();
}

void EdgeDetectionOptions::bindRecord(SegmentationStuff* record)
{
    m_record = record;
    m_options = record ? &record->edos() : nullptr;
    showValues(m_options);
    if (!m_options)
        setEnablednessOfButtons();
}

void EdgeDetectionOptions::showValues(EDOs* options)
{
    if (!options)
        return;
    m_updating = true;
    // Read every value first: showing one writes the shown value back.
    const int sensitivity = options->sensitivity().current();
    const int width = options->width().current();
    const int contrast = options->contrast().current();
    const int texture = options->texture().current();
    emit setSensitivity(sensitivity);
    emit setWidth(width);
    switch (contrast) {
    case 0:
        emit setEdgeContrastLow(true);
        break;
    case 1:
        emit setEdgeContrastMedium(true);
        break;
    case 2:
        emit setEdgeContrastHigh(true);
        break;
    default:
        break;
    }
    switch (texture) {
    case 0:
        emit setTextureFilterFine(true);
        break;
    case 1:
        emit setTextureFilterMedium(true);
        break;
    case 2:
        emit setTextureFilterCoarse(true);
        break;
    default:
        break;
    }
    m_updating = false;
    setEnablednessOfButtons();
}

void EdgeDetectionOptions::setEnablednessOfButtons()
{
    if (!m_apply)
        return;  // still building
    if (!m_options || !m_record) {
        m_defaults->setEnabled(false);
        m_revert->setEnabled(false);
        m_apply->setEnabled(false);
        return;
    }
    const bool modified = m_options->isModified();
    m_defaults->setEnabled(m_options->isNonDefault());
    // Unchanged values may still be applied to a record that was never analysed, unless its
    // analysis is on its way. The pending test comes first: that analysis writes the flag.
    m_apply->setEnabled(modified || (!m_record->hasPendingAnalysis() && !m_record->isAnalysed()));
    m_revert->setEnabled(modified && m_record->isChecked());
}

void EdgeDetectionOptions::applyValuesSlot()
{
    if (!m_options || !m_record)
        return;
    m_options->storeAll();
    m_record->submitAnalysis(this);
    showValues(m_options);
    setEnablednessOfButtons();
}

void EdgeDetectionOptions::resolutionChangedSlot(int previousDivisor, int newDivisor)
{
    // An unchanged divisor (the model announces one after a refused change) changes no width.
    if (!m_options || newDivisor < 1 || newDivisor == previousDivisor)
        return;
    if (m_options->widthInImageCoords() < 1)
        m_options->setWidthInImageCoords(m_options->width().applied() * previousDivisor);
    const int width = qBound(minWidth, m_options->widthInImageCoords() / newDivisor, maxWidth);
    m_options->width().setCurrent(width);
    showValues(m_options);
    setEnablednessOfButtons();
}

void EdgeDetectionOptions::imageChangedSlot(const KsSourceImage* image)
{
    setEnabled(image != nullptr);
    if (!image) {
        m_record = nullptr;
        m_options = nullptr;
        setEnablednessOfButtons();
    }
}

void EdgeDetectionOptions::activeRegionChangedSlot(GmRegion* region)
{
    // Only the image's panel: a patch with its own edge finding is edited in its own panel.
    if (!m_record || m_record->parentRegion())
        return;
    setEnabled(!(region && region->segmentation().isChecked()));
}

void EdgeDetectionOptions::sessionHasBegunSlot()
{
    GmModel* model = GmModel::existingInstance();
    if (!model)
        return;
    m_record = model->segmentation();
    m_options = &m_record->edos();
    showValues(m_options);
    m_record->submitAnalysis(this);
}

void EdgeDetectionOptions::revertValuesSlot()
{
    if (!m_options)
        return;
    m_options->revertAll();
    showValues(m_options);
    followWidthInImageCoords();
    setEnablednessOfButtons();
}

void EdgeDetectionOptions::setDefaultsSlot()
{
    if (!m_options)
        return;
    m_options->setDefaultAll();
    showValues(m_options);
    followWidthInImageCoords();
    setEnablednessOfButtons();
}

void EdgeDetectionOptions::followWidthInImageCoords()
{
    if (m_options)
        m_options->setWidthInImageCoords(m_options->width().current() * modelDivisor());
}

void EdgeDetectionOptions::contrastChanged(int id)
{
    if (m_options)
        m_options->contrast().setCurrent(id);
    setEnablednessOfButtons();
}

void EdgeDetectionOptions::textureFilterChanged(int id)
{
    if (m_options)
        m_options->texture().setCurrent(id);
    setEnablednessOfButtons();
}

void EdgeDetectionOptions::widthChangedSlot(int value)
{
    if (m_options) {
        m_options->width().setCurrent(value);
        // Values being shown keep the width in image pixels: a resolution change must find
        // the width the user chose, not one clamped at another divisor.
        if (!m_updating)
            m_options->setWidthInImageCoords(modelDivisor() * value);
    }
    setEnablednessOfButtons();
}

void EdgeDetectionOptions::sensitivityChangedSlot(int value)
{
    if (m_options)
        m_options->sensitivity().setCurrent(value);
    m_sensitivityGroup->setTitle(QStringLiteral("%1:    %2 %").arg(m_sensitivityName).arg(value));
    setEnablednessOfButtons();
}

void EdgeDetectionOptions::toggleAdvanced()
{
    const bool show = m_contrastGroup->isHidden();
    m_contrastGroup->setVisible(show);
    m_textureGroup->setVisible(show);
    if (show) {
        m_advanced->setIcon(QIcon(QString::fromLatin1(hideAdvancedIcon)));
        m_advanced->setToolTip(tr("Hide the advanced options"));
    } else {
        m_advanced->setIcon(QIcon(QString::fromLatin1(showAdvancedIcon)));
        m_advanced->setToolTip(tr("Show the advanced options"));
    }
}

void EdgeDetectionOptions::paintEvent(QPaintEvent*)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
