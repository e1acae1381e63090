#include "panels/RegionalProperties.h"

#include "canvas/ImageView.h"
#include "document/EDOs.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/SegmentationStuff.h"
#include "document/Texts.h"
#include "panels/Browser.h"
#include "panels/CommonBlendOptsWidget.h"
#include "panels/EdgeDetectionOptions.h"
#include "panels/RegionBlendOptsWidget.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QString learnMore()
{
    return learnMoreParagraph(Browser::helpRoot() + QStringLiteral("/4-Kestrine_Tools/Working_with_Regions.htm"));
}

} // namespace

RegionalProperties::RegionalProperties(QWidget* parent, QWidget* actionHost, const QString& shortcut)
    : GmSubWindow(QStringLiteral("Patch Properties"), tr("Patch Properties"), actionHost, shortcut, parent)
{
    m_pages = new QStackedWidget;
    m_pages->addWidget(buildNoPatchPage());
    m_pages->addWidget(buildPatchPage());
    m_pages->setCurrentIndex(NoPatchPage);
    setWidget(m_pages);
    setResizable(false);

    GmModel* model = GmModel::instance();
    connect(m_protectBox, &QCheckBox::clicked, this, &RegionalProperties::protectionCheckBoxClickedSlot);
    connect(model, &GmModel::protectionChanged, this, &RegionalProperties::protectionChangedSlot);
    connect(model, &GmModel::activeRegionReady, this, &RegionalProperties::updateVisibilitySlot);
    connect(model, &GmModel::activeRegionChanged, this, &RegionalProperties::activeRegionChangedSlot);
    connect(m_smegBox, &QGroupBox::clicked, this, &RegionalProperties::regSmegCheckBoxStateChangedSlot);
    connect(model, &GmModel::imageBlendRatioChanged, m_commonBlending,
            &CommonBlendOptsWidget::imageBlendRatioChangedSlot);
}

RegionalProperties::~RegionalProperties() = default;

QWidget* RegionalProperties::buildNoPatchPage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(new QLabel(tr("No Active Patch")));
    row->addStretch(1);
    layout->addLayout(row);
    return page;
}

QWidget* RegionalProperties::buildEdgeFindingPage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    m_smegBox = new QGroupBox(tr("Analyze Patch Separately"));
    m_smegBox->setCheckable(true);
    m_smegBox->setChecked(false);
    m_smegBox->setToolTip(tr("Modify Edge Finding settings for this Patch"));
    m_smegBox->setWhatsThis(tr("<p><b>Analyze Patch Separately</b></p><p>Applies a separate set of <b>Edge "
                               "Finding</b> settings to a Patch&mdash;rather than those for the whole "
                               "image.</p>")
                            + learnMore());
    m_edgeOptions = new EdgeDetectionOptions(false);
    auto* boxLayout = new QVBoxLayout(m_smegBox);
    boxLayout->addWidget(m_edgeOptions);
    followAnalyseSeparatelyBox();
    layout->addWidget(m_smegBox);
    layout->addStretch(1);
    return page;
}

QWidget* RegionalProperties::buildBlendingPage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setSpacing(9);
    m_commonBlending = new CommonBlendOptsWidget(false, false);
    m_patchBlending = new RegionBlendOptsWidget;
    // Connected before the first showing, so the ratio's availability is right from the start.
    connect(m_patchBlending, &RegionBlendOptsWidget::enableStandardBlending, m_commonBlending,
            &CommonBlendOptsWidget::enableStandardBlendingSlot);
    m_patchBlending->ensureBuilt();
    layout->addWidget(m_commonBlending);
    layout->addWidget(m_patchBlending);
    layout->addStretch(1);
    return page;
}

QWidget* RegionalProperties::buildPatchPage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    m_tabs = new QTabWidget;
    m_tabs->addTab(buildEdgeFindingPage(), tr("Edge Finding"));
    m_tabs->addTab(buildBlendingPage(), tr("Edge Blending"));
    layout->addWidget(m_tabs);
    m_protectBox = new QCheckBox(tr("Protect Patch"));
    m_protectBox->setToolTip(tr("Check to prevent mask(s) being changed in this Patch"));
    m_protectBox->setWhatsThis(
        tr("<p><b>Protect Patch</b></p><p>Check the Protect Patch check box to prevent any further masking in "
           "that Patch. To edit a protected Patch uncheck the check box.</p><p><b><i>Consider:</i></b> "
           "Turning on Protect Patch once you are satisfied with masking inside a Patch. Otherwise masking "
           "<b>Local</b> and <b>Global</b> masks outside the Patch will affect your mask selections in the "
           "Patch.</p>")
        + learnMore());
    layout->addWidget(m_protectBox);
    return page;
}

bool RegionalProperties::hasDefaultSize() const
{
    return true;
}

int RegionalProperties::usableViewTabs() const
{
    return ImageView::Workspace;
}

bool RegionalProperties::restoresVisibility() const
{
    return false;
}

bool RegionalProperties::vectorEdgesAvailable() const
{
    const EDOs* options = m_edgeOptions->options();
    if (!m_edgeOptions->record() || !options)
        return false;
    return EDOs::vectorEdgesUseful(options->sensitivity().current());
}

void RegionalProperties::resolutionChangedSlot(int previousDivisor, int newDivisor)
{
    m_edgeOptions->resolutionChangedSlot(previousDivisor, newDivisor);
}

void RegionalProperties::updateVisibilitySlot()
{
    setUserVisible(!isClosed() && GmModel::instance()->activeRegion() != nullptr);
    updateVisibility();
}

void RegionalProperties::activeRegionChangedSlot(GmRegion* patch)
{
    if (!patch) {
        m_pages->setCurrentIndex(NoPatchPage);
        return;
    }
    m_pages->setCurrentIndex(PatchPage);
    loadPatchPage(patch);
}

void RegionalProperties::protectionChangedSlot(GmRegion* patch)
{
    if (patch && patch == GmModel::instance()->activeRegion())
        loadPatchPage(patch);
}

void RegionalProperties::loadPatchPage(GmRegion* patch)
{
    BlendingOptions* blending = &patch->blending().options();
    m_commonBlending->showSettings(blending);
    m_patchBlending->showSettings(blending);
    m_edgeOptions->bindRecord(&patch->segmentation());
    m_smegBox->setChecked(patch->segmentation().isChecked());
    m_protectBox->setChecked(patch->isProtected());
    followAnalyseSeparatelyBox();
}

void RegionalProperties::followAnalyseSeparatelyBox()
{
    // Set explicitly: the image panel's rule (disabled while the active patch analyses itself)
    // also reaches this panel's options while they still show the image's record.
    m_edgeOptions->setEnabled(m_smegBox->isChecked());
}

void RegionalProperties::regSmegCheckBoxStateChangedSlot()
{
    GmModel* model = GmModel::instance();
    GmRegion* patch = model->activeRegion();
    SegmentationStuff* record = patch ? &patch->segmentation() : model->segmentation();
    record->setChecked(m_smegBox->isChecked());
    emit model->smegChanged();
    m_edgeOptions->bindRecord(record);
    m_smegBox->setChecked(record->isChecked());
    emit model->ownSmegStatusChanged(record->parentRegion());
    followAnalyseSeparatelyBox();
    if (record->isChecked())
        m_edgeOptions->applyValuesSlot();
    model->signalDirtyImageSlot(DirtyHintNone);
}

void RegionalProperties::protectionCheckBoxClickedSlot(bool on)
{
    if (GmRegion* patch = GmModel::instance()->activeRegion())
        patch->setProtected(on);
}
