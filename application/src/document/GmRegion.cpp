#include "document/GmRegion.h"

#include "document/GmModel.h"
#include "document/PixelState.h"
#include "document/Shape.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdBeginSubSession.h"
#include "engine/DvCmdEndSession.h"
#include "engine/DvCmdProtect.h"

#include "dravik.h"

#include <QBrush>
#include <QPen>
#include <QVariantMap>

namespace {

const QString typeKey = QStringLiteral("type");
const QString regionKey = QStringLiteral("GmRegion");
const QString smegKey = QStringLiteral("smeg_");
const QString blendageKey = QStringLiteral("blendage_");
const QString protectedKey = QStringLiteral("isProtected_");

GmRegion::TestRenderHook g_testRender;

// A patch deleted while the engine worker takes no commands: its sessions cannot be ended by a
// command, so it goes at once; while a command still runs (which may read the patch's mask) it
// goes right after that command.
void deleteWithoutEngine(GmRegion* patch)
{
    DravikThread* thread = DravikThread::instance();
    if (!thread || !thread->isBusy()) {
        delete patch;
        return;
    }
    auto* holder = new QObject(thread);
    patch->setParent(holder);
    QObject::connect(thread, &DravikThread::stateChanged, holder, [thread, holder] {
        if (!thread->isBusy())
            delete holder;
    });
}

} // namespace

GmRegion::GmRegion() : m_segmentation(this) {}

GmRegion::GmRegion(const QVariant& map)
    : m_segmentation(map.toMap().value(smegKey), this), m_blending(map.toMap().value(blendageKey))
{
    m_protected = map.toMap().value(protectedKey).toBool();
}

GmRegion::~GmRegion()
{
    if (GmModel* model = GmModel::existingInstance())
        model->forgetArrowTarget(this);
}

void GmRegion::setTestRenderHook(TestRenderHook hook)
{
    g_testRender = std::move(hook);
}

void GmRegion::activate()
{
    GmModel::instance()->setActiveRegion(this, 1);
}

void GmRegion::deactivate()
{
    if (isActive())
        GmModel::instance()->setActiveRegion(nullptr, 1);
}

bool GmRegion::isActive() const
{
    return GmModel::instance()->activeRegion() == this;
}

void GmRegion::shapeChanged()
{
    ++m_changeCount;
    if (DravikCommand* analysis = m_segmentation.analysisCommand())
        if (DravikThread* thread = DravikThread::instance())
            thread->cancelCommand(analysis);
    reset(nullptr);
    GmModel::instance()->setActiveRegion(this, 1);
    submitToEngine();
}

void GmRegion::submitToEngine()
{
    GmModel* model = GmModel::instance();
    submit(new DvCmdBeginSubSession(model, this, 0));
    if (m_segmentation.isChecked()) {
        m_segmentation.submitAnalysis(nullptr);
        trackCommand(m_segmentation.analysisCommand());
    }
    if (m_protected)
        submit(new DvCmdProtect(model, this));
}

void GmRegion::toVariant(QVariant& variant) const
{
    QVariantMap map;
    map.insert(smegKey, m_segmentation.toVariant());
    map.insert(blendageKey, m_blending.toVariant());
    map.insert(protectedKey, m_protected);
    variant = map;
}

void GmRegion::writeMap(QVariant& variant, int type, const QString& shapeKey, const QVariant& shapeMap) const
{
    QVariant region;
    GmRegion::toVariant(region);
    QVariantMap map;
    map.insert(typeKey, type);
    map.insert(regionKey, region);
    map.insert(shapeKey, shapeMap);
    variant = map;
}

QVariant GmRegion::regionPart(const QVariant& map)
{
    return map.toMap().value(regionKey);
}

void GmRegion::runTestRender()
{
    if (g_testRender)
        g_testRender(this);
}

void GmRegion::reset(GmRegion* deleted)
{
    GmModel* model = GmModel::instance();
    if (m_protected) {
        // The protections are cleared and sent again without this patch's.
        m_protected = false;
        model->reapplyProtections();
        m_protected = true;
    }
    DravikThread* thread = DravikThread::instance();
    const bool accepting = thread && thread->isAccepting();
    if (deleted) {
        if (accepting)
            thread->submit(new DvCmdEndSession(model, deleted));
        else
            deleteWithoutEngine(deleted);
        return;
    }
    // A refused command would free the mask the sub-session still reads.
    if (accepting)
        thread->submit(new DvCmdEndSession(model, &m_segmentation, shape()));
}

void GmRegion::beginSubSession(int flag)
{
    GmModel* model = GmModel::instance();
    submit(new DvCmdBeginSubSession(model, this, flag));
    if (model->patches().contains(this))
        activate();
}

void GmRegion::setProtected(bool on)
{
    GmModel* model = GmModel::instance();
    m_protected = on;
    if (on)
        submit(new DvCmdProtect(model, this));
    else
        model->reapplyProtections();
    emit model->protectionChanged(this);
}

PixelState* GmRegion::filledMask()
{
    return shape()->setPenAndBrush(QPen(Qt::NoPen), QBrush(Qt::color1));
}

void GmRegion::setFilledMaskStyle()
{
    filledMask();
}

void GmRegion::setOutline(const DvSession* session)
{
    Shape* s = shape();
    s->setOutlinePolygons(session);
    emit GmModel::instance()->rectDirty(s->boundingRect(), DirtyHintOutline, KeepPatchPreview);
}

bool GmRegion::hasOwnSegmentation() const
{
    // The sub-session made without an analysis of its own borrows the image's.
    const DvSession* analysis = m_segmentation.analysisSession();
    return analysis && analysis != m_segmentation.session() && analysis->analysed != 0;
}

void GmRegion::trackCommand(DravikCommand* command)
{
    if (!command)
        return;
    // Commands that have gone leave null entries behind: drop them as new ones come.
    m_commands.removeAll(QPointer<DravikCommand>());
    m_commands.append(command);
}

void GmRegion::cancelPendingCommands()
{
    DravikThread* thread = DravikThread::instance();
    const QList<QPointer<DravikCommand>> commands = m_commands;
    m_commands.clear();
    if (!thread)
        return;
    for (const QPointer<DravikCommand>& command : commands)
        if (command)
            thread->cancelCommand(command);
}

void GmRegion::submit(DravikCommand* command)
{
    DravikThread* thread = DravikThread::instance();
    if (!thread) {
        qWarning("GmRegion: no engine worker for \"%s\"", qUtf8Printable(command->description()));
        delete command;
        return;
    }
    // Tracked before the submission, which may prepare, run and delete it at once.
    trackCommand(command);
    thread->submit(command);
}
