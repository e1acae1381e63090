#include "panels/RegionBlendOptsWidget.h"

#include "document/BlendingStuff.h"
#include "document/GmAction.h"
#include "document/GmColor.h"
#include "document/GmModel.h"
#include "document/Prompt.h"
#include "document/Texts.h"
#include "engine/CommandHooks.h"
#include "panels/Browser.h"
#include "tools/PipetteTool.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSettings>
#include <QSlider>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

namespace {

constexpr int sliderMaximum = 99;

QString learnMore()
{
    return learnMoreParagraph(Browser::helpRoot() + QStringLiteral("/4-Kestrine_Tools/Working_with_Regions.htm"));
}

float fraction(int position)
{
    return float(position) * (1.0f / float(sliderMaximum));
}

int sliderPosition(float value)
{
    const float place = value * float(sliderMaximum) + 0.5f;
    if (!(place >= 0.0f))
        return 0;
    return place > float(sliderMaximum) ? sliderMaximum : int(place);
}

} // namespace

RegionBlendOptsWidget::RegionBlendOptsWidget(QWidget* parent)
    : BlendOptsWidget(false, parent),
      m_featherName(tr("Feather")),
      m_keepName(tr("Keep Mask Color Palette Size")),
      m_deleteName(tr("Delete Mask Color Palette Size")),
      m_smoothName(tr("Edge Smoothness")),
      m_hairName(tr("Complex Hair Blending")),
      m_edgeName(tr("Complex Edge Blending"))
{
}

RegionBlendOptsWidget::~RegionBlendOptsWidget() = default;

QString RegionBlendOptsWidget::speedWarningKey(const QString& name)
{
    return QStringLiteral("BlendingOptions/") + name + QStringLiteral("SpeedWarning");
}

BlendingOptions* RegionBlendOptsWidget::recordInFocus() const
{
    return m_showing ? m_showing : BlendOptsWidget::recordInFocus();
}

QSlider* RegionBlendOptsWidget::makeSlider(const QString& toolTip)
{
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, sliderMaximum);
    slider->setSingleStep(1);
    slider->setToolTip(toolTip);
    return slider;
}

void RegionBlendOptsWidget::buildControls(QVBoxLayout* layout)
{
    // Complex Edge Blending: the smoothness.
    m_edgeGroup = new QGroupBox(m_edgeName);
    m_edgeGroup->setCheckable(true);
    m_edgeGroup->setToolTip(tr("Check to use %1").arg(m_edgeName));
    m_edgeGroup->setWhatsThis(
        tr("<p><b>%1</b></p><p>Should be used when there are many contrasting colors at an edge.</p>"
           "<p>Normal <b>%2</b> performs badly when color changes are at right angles to the edge (absurd "
           "example = zebra stripes, a more normal one is for a head shot where the edge transitions from "
           "the collar to skin).</p><p>Increasing <b>%3</b> irons out large contrasts but loses edge detail "
           "(sharpness).</p>")
            .arg(m_edgeName, m_featherName, m_smoothName)
        + learnMore());
    m_smoothLabel = new QLabel;
    m_smoothSlider = makeSlider(tr("Adjust the smoothness for %1").arg(m_edgeName));
    {
        auto* group = new QVBoxLayout(m_edgeGroup);
        group->addWidget(m_smoothLabel);
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(tr("Sharp  ")));
        row->addWidget(m_smoothSlider, 1);
        row->addWidget(new QLabel(tr("  Smooth")));
        group->addLayout(row);
    }
    layout->addWidget(m_edgeGroup);
    connect(m_edgeGroup, &QGroupBox::clicked, this, &RegionBlendOptsWidget::membraneClickedSlot);
    connect(m_smoothSlider, &QSlider::valueChanged, this, &RegionBlendOptsWidget::membrane1ChangedSlot);

    // Complex Hair Blending: the two palette sizes.
    m_hairGroup = new QGroupBox(m_hairName);
    m_hairGroup->setCheckable(true);
    m_hairGroup->setToolTip(tr("Check to use %1").arg(m_hairName));
    m_hairGroup->setWhatsThis(
        tr("<p><b>%1</b></p><p>To be used in areas normal blending doesn't work such as when hair is both "
           "lighter and darker than a background.</p><p><b>%2</b> and <b>%3</b> set how many colors of the "
           "kept object and of the background are told apart; larger palettes suit more varied colors but "
           "take longer.</p>")
            .arg(m_hairName, m_keepName, m_deleteName)
        + learnMore());
    m_keepLabel = new QLabel;
    m_keepSlider = makeSlider(tr("Set the number of colors in keep palette of %1").arg(m_hairName));
    m_deleteLabel = new QLabel;
    m_deleteSlider = makeSlider(tr("Set the number of colors in delete palette of %1").arg(m_hairName));
    {
        auto* group = new QVBoxLayout(m_hairGroup);
        for (auto [label, slider] : {std::pair{m_keepLabel, m_keepSlider}, std::pair{m_deleteLabel, m_deleteSlider}}) {
            group->addWidget(label);
            auto* row = new QHBoxLayout;
            row->addWidget(new QLabel(tr("Small")));
            row->addWidget(slider, 1);
            row->addWidget(new QLabel(tr("Large")));
            group->addLayout(row);
        }
    }
    layout->addWidget(m_hairGroup);
    connect(m_hairGroup, &QGroupBox::clicked, this, &RegionBlendOptsWidget::choicesClickedSlot);
    connect(m_keepSlider, &QSlider::valueChanged, this, &RegionBlendOptsWidget::choices1ChangedSlot);
    connect(m_deleteSlider, &QSlider::valueChanged, this, &RegionBlendOptsWidget::choices2ChangedSlot);

    // The patch's cut-out preview, through the model's action.
    GmAction* previewAction = GmModel::instance()->previewPatchAction();
    m_preview = new QToolButton;
    m_preview->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_preview->setText(tr("Preview"));
    m_preview->setIcon(previewAction->icon());
    m_preview->setToolTip(previewAction->toolTip());
    m_preview->setWhatsThis(previewAction->whatsThis());
    // The button is usable exactly when the action is (there is an active patch to preview).
    m_preview->setEnabled(previewAction->isEnabled());
    connect(previewAction, &QAction::changed, m_preview,
            [this, previewAction] { m_preview->setEnabled(previewAction->isEnabled()); });
    connect(m_preview, &QToolButton::clicked, previewAction, &QAction::trigger);
    {
        auto* row = new QHBoxLayout;
        row->addWidget(m_preview);
        row->addStretch(1);
        layout->addLayout(row);
    }

    // The override colours: a check box, the colour's edit action and a pipette each.
    auto* overrides = new QGroupBox(tr("Override Colors"));
    auto* grid = new QGridLayout(overrides);
    grid->setColumnStretch(1, 99);
    struct Side {
        QCheckBox*& box;
        QAction*& action;
        PipetteTool*& pipette;
        QString boxText, actionText, pipetteName, pipetteTip;
        void (RegionBlendOptsWidget::*checked)(int);
        void (RegionBlendOptsWidget::*clicked)();
        void (RegionBlendOptsWidget::*picked)(const QColor&);
    };
    const Side sides[] = {
        {m_fgBox, m_fgAction, m_fgPipette, tr("Use foreground override"), tr("Edit the foreground override color"),
         QStringLiteral("Foreground Picker"), tr("Pick the foreground override color"),
         &RegionBlendOptsWidget::fgCheckedSlot, &RegionBlendOptsWidget::fgClickedSlot,
         &RegionBlendOptsWidget::fgColourChangedByPipetteSlot},
        {m_bgBox, m_bgAction, m_bgPipette, tr("Use background override"), tr("Edit the background override color"),
         QStringLiteral("Background Picker"), tr("Pick the background override color"),
         &RegionBlendOptsWidget::bgCheckedSlot, &RegionBlendOptsWidget::bgClickedSlot,
         &RegionBlendOptsWidget::bgColourChangedByPipetteSlot},
    };
    int row = 0;
    for (const Side& side : sides) {
        side.box = new QCheckBox(side.boxText);
        side.box->setToolTip(side.boxText);
        connect(side.box, &QCheckBox::stateChanged, this, side.checked);
        side.action = new QAction(side.actionText, this);
        side.action->setToolTip(side.actionText);
        connect(side.action, &QAction::triggered, this, side.clicked);
        auto* bar = new QToolBar;
        bar->setIconSize(QSize(16, 16));
        bar->addAction(side.action);
        side.pipette = new PipetteTool(nullptr, nullptr, bar);
        side.pipette->setParent(this);
        side.pipette->setObjectName(side.pipetteName);
        side.pipette->action()->setToolTip(side.pipetteTip);
        connect(side.pipette, &PipetteTool::pipetteToolColourSelected, this, side.picked);
        grid->addWidget(side.box, row, 0);
        grid->addWidget(bar, row, 2);
        ++row;
    }
    connect(m_fgPipette, &PipetteTool::pipetteToolSelected, this, &RegionBlendOptsWidget::fgPipetteToolSelectedSlot);
    connect(m_bgPipette, &PipetteTool::pipetteToolSelected, this, &RegionBlendOptsWidget::bgPipetteToolSelectedSlot);
    layout->addWidget(overrides);

    own(m_edgeGroup);
    own(m_hairGroup);
    own(m_preview);
    own(overrides);
    own(m_fgPipette);
    own(m_bgPipette);
}

void RegionBlendOptsWidget::refreshGroups(const BlendingOptions& options)
{
    m_edgeGroup->setChecked(options.isMembrane);
    m_hairGroup->setChecked(options.isChoices);
    emit enableStandardBlending(!options.isMembrane && !options.isChoices);
}

void RegionBlendOptsWidget::setSliderLabel(QLabel* label, const QString& name, int position)
{
    label->setText(QStringLiteral("%1:    %2").arg(name).arg(position));
}

void RegionBlendOptsWidget::showSettings(BlendingOptions* options)
{
    if (!options || !m_edgeGroup)
        return;
    BlendingOptions* outer = m_showing;
    m_showing = options;
    refreshGroups(*options);
    emit setFeather(options->feather);
    // Read every value first: moving a slider writes its value back.
    const int keep = sliderPosition(options->choices1);
    const int drop = sliderPosition(options->choices2);
    const int smooth = sliderPosition(options->membrane1);
    const bool fg = options->fgChecked;
    const bool bg = options->bgChecked;
    m_keepSlider->setValue(keep);
    setSliderLabel(m_keepLabel, m_keepName, keep);
    m_deleteSlider->setValue(drop);
    setSliderLabel(m_deleteLabel, m_deleteName, drop);
    m_smoothSlider->setValue(smooth);
    setSliderLabel(m_smoothLabel, m_smoothName, smooth);
    m_fgBox->setChecked(fg);
    m_bgBox->setChecked(bg);
    rebindColour(m_fgColour, options->fgOverride(), m_fgAction,
                 &RegionBlendOptsWidget::fgColourChangedByColorPickerSlot);
    rebindColour(m_bgColour, options->bgOverride(), m_bgAction,
                 &RegionBlendOptsWidget::bgColourChangedByColorPickerSlot);
    m_showing = outer;
}

void RegionBlendOptsWidget::rebindColour(QPointer<GmColor>& shown, GmColor* colour, QAction* action,
                                         void (RegionBlendOptsWidget::*slot)(const QColor&))
{
    if (shown)
        disconnect(shown, &GmColor::colorChanged, this, slot);
    shown = colour;
    if (!colour)
        return;
    connect(colour, &GmColor::colorChanged, this, slot);
    action->setIcon(colour->action()->icon());
}

void RegionBlendOptsWidget::readSettings(BlendingOptions* options)
{
    if (!options || !m_edgeGroup)
        return;
    options->fgChecked = m_fgBox->checkState() == Qt::Checked;
    options->bgChecked = m_bgBox->checkState() == Qt::Checked;
    options->isChoices = m_hairGroup->isChecked();
    options->isMembrane = m_edgeGroup->isChecked();
    options->choices1 = fraction(m_keepSlider->value());
    options->choices2 = fraction(m_deleteSlider->value());
    options->membrane1 = fraction(m_smoothSlider->value());
}

void RegionBlendOptsWidget::featherChangedSlot(int feather)
{
    recordInFocus()->feather = feather;
}

void RegionBlendOptsWidget::choicesClickedSlot(bool on)
{
    BlendingOptions* options = recordInFocus();
    options->isChoices = on;
    if (on) {
        options->isMembrane = false;
        showSpeedWarning(m_hairName);
    }
    refreshGroups(*options);
}

void RegionBlendOptsWidget::choices1ChangedSlot(int position)
{
    setSliderLabel(m_keepLabel, m_keepName, position);
    recordInFocus()->choices1 = fraction(position);
}

void RegionBlendOptsWidget::choices2ChangedSlot(int position)
{
    setSliderLabel(m_deleteLabel, m_deleteName, position);
    recordInFocus()->choices2 = fraction(position);
}

void RegionBlendOptsWidget::membraneClickedSlot(bool on)
{
    BlendingOptions* options = recordInFocus();
    options->isMembrane = on;
    if (on)
        options->isChoices = false;
    refreshGroups(*options);
    // The boxes keep showing the old state until the record is shown again.
    options->fgChecked = on;
    options->bgChecked = on;
}

void RegionBlendOptsWidget::membrane1ChangedSlot(int position)
{
    setSliderLabel(m_smoothLabel, m_smoothName, position);
    recordInFocus()->membrane1 = fraction(position);
}

void RegionBlendOptsWidget::uniformBgClickedSlot(bool on)
{
    recordInFocus()->isUniformBg = on;
}

void RegionBlendOptsWidget::fgClickedSlot()
{
    if (m_fgColour)
        m_fgColour->action()->trigger();
}

void RegionBlendOptsWidget::bgClickedSlot()
{
    if (m_bgColour)
        m_bgColour->action()->trigger();
}

void RegionBlendOptsWidget::fgCheckedSlot(int state)
{
    recordInFocus()->fgChecked = state == Qt::Checked;
}

void RegionBlendOptsWidget::bgCheckedSlot(int state)
{
    recordInFocus()->bgChecked = state == Qt::Checked;
}

void RegionBlendOptsWidget::takePickedColour(GmColor* colour, const QColor& picked, QAction* action,
                                             QCheckBox* box)
{
    if (colour) {
        colour->setColor(picked);
        action->setIcon(colour->action()->icon());
    }
    box->setCheckState(Qt::Checked);
}

void RegionBlendOptsWidget::fgColourChangedByPipetteSlot(const QColor& colour)
{
    takePickedColour(m_fgColour, colour, m_fgAction, m_fgBox);
}

void RegionBlendOptsWidget::bgColourChangedByPipetteSlot(const QColor& colour)
{
    takePickedColour(m_bgColour, colour, m_bgAction, m_bgBox);
}

void RegionBlendOptsWidget::fgColourChangedByColorPickerSlot(const QColor&)
{
    if (m_fgColour)
        m_fgAction->setIcon(m_fgColour->action()->icon());
    m_fgBox->setCheckState(Qt::Checked);
}

void RegionBlendOptsWidget::bgColourChangedByColorPickerSlot(const QColor&)
{
    if (m_bgColour)
        m_bgAction->setIcon(m_bgColour->action()->icon());
    m_bgBox->setCheckState(Qt::Checked);
}

void RegionBlendOptsWidget::fgPipetteToolSelectedSlot() {}

void RegionBlendOptsWidget::bgPipetteToolSelectedSlot() {}

void RegionBlendOptsWidget::showSpeedWarning(const QString& name)
{
    QSettings settings;
    const QString key = speedWarningKey(name);
    if (!settings.value(key, true).toBool())
        return;
    bool dontTellAgain = false;
    Prompt::informationWithCheckBox(
        CommandHooks::mainWindow(), name,
        tr("<p>%1 is much slower than the other types of blending.</p><p>We suggest working with the other "
           "types first and only use %1 locally where the quality of the mask is poor.</p>")
            .arg(name),
        tr("Don't tell me again."), dontTellAgain);
    settings.setValue(key, !dontTellAgain);
}
