#include "tools/SelectTool.h"

#include "document/Brushing.h"
#include "document/ForcedEdge.h"
#include "document/GmBrushing.h"
#include "document/GmColor.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/KsAppPreferences.h"
#include "document/SegmentationStuff.h"
#include "document/Shape.h"
#include "document/Texts.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdSelect.h"
#include "panels/PersistentWidget.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>

namespace {

using PersistentCheckBox = PersistentWidget<QCheckBox, bool>;

bool persistOptionsOn()
{
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    return preferences && preferences->persistOptions();
}

bool checked(const QPointer<QCheckBox>& box)
{
    return box && box->isChecked();
}

} // namespace

SelectTool::SelectTool(const QString& name, const QString& displayName, const QIcon& icon, const QString& shortcut,
                       const QString& helpText, int kind, int reach, int colourIndex, QActionGroup* actionGroup,
                       QWidget* menuWidget, QWidget* barWidget, ToolOptions* toolOptions)
    : BrushingTool(name, displayName, icon, shortcut, helpText, actionGroup, menuWidget, barWidget, toolOptions),
      m_kind(kind),
      m_reach(reach),
      m_colourIndex(colourIndex),
      m_keepName(tr("Keep")),
      m_deleteName(tr("Delete")),
      m_blendName(tr("Blend")),
      m_protectTip(tr("Protect any existing %1 Mask")),
      m_protectHelp(tr("<p><b>Protect %1 Mask</b></p><p>Checking this prevents any existing <b>%1 Mask</b> from "
                       "being changed when using this brush.</p>")
                    + learnMoreParagraph(QStringLiteral("4-Kestrine_Tools/Brush_Tools.htm")))
{
}

SelectTool::~SelectTool()
{
    const bool persist = persistOptionsOn();
    for (QCheckBox* box : {m_keepBox.data(), m_deleteBox.data(), m_blendBox.data()}) {
        if (auto* persistent = dynamic_cast<PersistentCheckBox*>(box))
            persistent->setPersist(persist);
    }
}

int SelectTool::maskKind() const
{
    return m_kind;
}

int SelectTool::brushMode() const
{
    return m_reach;
}

bool SelectTool::mayOverwriteKeep() const
{
    return !checked(m_keepBox);
}

bool SelectTool::mayOverwriteDelete() const
{
    return !checked(m_deleteBox);
}

bool SelectTool::mayOverwriteBlend() const
{
    return !checked(m_blendBox);
}

bool SelectTool::needsSegmentation() const
{
    return brushMode() != 0;
}

bool SelectTool::protectKeepByDefault() const { return false; }
bool SelectTool::protectDeleteByDefault() const { return false; }
bool SelectTool::protectBlendByDefault() const { return false; }

quint8 SelectTool::overwriteMask() const
{
    quint8 mask = 1;
    if (mayOverwriteKeep())
        mask |= 2;
    if (mayOverwriteDelete())
        mask |= 4;
    if (mayOverwriteBlend())
        mask |= 8;
    return mask;
}

void SelectTool::protectKeepChangedSlot(int) {}
void SelectTool::protectDeleteChangedSlot(int) {}
void SelectTool::protectComplexChangedSlot(int) {}

QCheckBox* SelectTool::makeProtectBox(const QString& maskName, const QString& translatedName, bool byDefault)
{
    // Started with the preference as it is; the destructor settles it as it is then.
    auto* box = new PersistentCheckBox(QStringLiteral("ToolOptions/") + name(), maskName, byDefault,
                                       persistOptionsOn());
    box->setText(translatedName);
    box->setToolTip(m_protectTip.arg(translatedName));
    box->setStatusTip(m_protectTip.arg(translatedName));
    box->setWhatsThis(m_protectHelp.arg(translatedName));
    return box;
}

QWidget* SelectTool::createOptionsPage()
{
    auto* page = new QWidget;
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(tr("Protect Mask: "), page));
    m_keepBox = makeProtectBox(QStringLiteral("Keep"), m_keepName, protectKeepByDefault());
    m_deleteBox = makeProtectBox(QStringLiteral("Delete"), m_deleteName, protectDeleteByDefault());
    m_blendBox = makeProtectBox(QStringLiteral("Blend"), m_blendName, protectBlendByDefault());
    for (QCheckBox* box : {m_keepBox.data(), m_deleteBox.data(), m_blendBox.data()}) {
        box->setParent(page);
        layout->addWidget(box);
    }
    connect(m_keepBox, &QCheckBox::stateChanged, this, &SelectTool::protectKeepChangedSlot);
    connect(m_deleteBox, &QCheckBox::stateChanged, this, &SelectTool::protectDeleteChangedSlot);
    connect(m_blendBox, &QCheckBox::stateChanged, this, &SelectTool::protectComplexChangedSlot);
    return page;
}

void SelectTool::beginStroke(const ImagePointF& point)
{
    GmModel* model = GmModel::instance();
    GmRegion* patch = model->activeRegion();
    if (patch && !(patch->shape() && patch->shape()->contains(point))) {
        model->setActiveRegion(nullptr, 0);
        m_patchBeforeStroke = patch;
    }
    if (!brushing())
        setBrushing(new GmBrushing(new Brushing(strokeColour())));
    else
        brushing()->brushing()->clearStroke();
}

void SelectTool::finishStroke()
{
    GmModel* model = GmModel::instance();
    if (GmBrushing* stroke = brushing()) {
        const QRectF area = stroke->brushing()->boundingReducedRect();
        if (area.width() > 0 && area.height() > 0) {
            // The command copies the stroke's mask when it is built.
            auto* command = new DvCmdSelect(model, stroke->brushing(), overwriteMask(), quint8(maskKind()),
                                            brushMode(), 0);
            if (DravikThread* thread = DravikThread::instance())
                thread->submit(command);
            else
                delete command;
        }
        deleteBrushing();
    }
    const QPointer<GmRegion> patch = m_patchBeforeStroke;
    m_patchBeforeStroke = nullptr;
    if (patch)
        model->setActiveRegion(patch, 2);
}

bool SelectTool::usesStrength() const
{
    return brushMode() != 0;
}

bool SelectTool::isAvailable() const
{
    const GmModel* model = GmModel::existingInstance();
    if (!model || !model->source())
        return false;
    if (!needsSegmentation())
        return true;
    const GmRegion* patch = model->activeRegion();
    const SegmentationStuff* segmentation =
        patch && patch->segmentation().isChecked() ? &patch->segmentation() : model->segmentation();
    if (!segmentation)
        return false;
    // The analysed flag may be being written while an analysis is pending: ask that first.
    return segmentation->hasPendingAnalysis() || segmentation->isAnalysed();
}

int SelectTool::arrowTargetDisplayState(ArrowTarget* target) const
{
    const GmModel* model = GmModel::existingInstance();
    if (model && target
        && (static_cast<ArrowTarget*>(model->activeRegion()) == target
            || static_cast<ArrowTarget*>(model->activeForcedEdge()) == target))
        return 4;
    return 3;
}

QColor SelectTool::strokeColour() const
{
    if (m_colourIndex < 0)
        return QColor(Qt::gray);
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    const GmColor* colour =
        preferences ? preferences->color(KsAppPreferences::ColorIndex(m_colourIndex)) : nullptr;
    return colour ? colour->color() : QColor(Qt::gray);
}

QColor SelectTool::outlineColour() const
{
    return strokeColour();
}
