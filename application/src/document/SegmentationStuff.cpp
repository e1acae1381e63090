#include "document/SegmentationStuff.h"

#include "document/GmModel.h"
#include "document/Rectangle.h"
#include "engine/DravikCommand.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdAnalyseImage.h"

#include <QVariantMap>

namespace {

const QString isCheckedKey = QStringLiteral("isChecked_");
const QString edosKey = QStringLiteral("edos_");

} // namespace

SegmentationStuff::SegmentationStuff(GmRegion* parent) : m_parent(parent)
{
    if (parent) {
        if (GmModel* model = GmModel::existingInstance()) {
            m_edos.assign(model->segmentation()->edos());
            m_edos.revertAll();
        }
    }
}

SegmentationStuff::SegmentationStuff(const QVariant& map, GmRegion* parent)
    : m_parent(parent), m_edos(map.toMap().value(edosKey))
{
    const QVariantMap values = map.toMap();
    if (values.contains(isCheckedKey))
        m_isChecked = values.value(isCheckedKey).toBool();
}

SegmentationStuff::SegmentationStuff(const SegmentationStuff&) : QObject() {}

SegmentationStuff::~SegmentationStuff() = default;

QVariant SegmentationStuff::toVariant() const
{
    QVariantMap map;
    map.insert(isCheckedKey, m_isChecked);
    map.insert(edosKey, m_edos.toVariant());
    return map;
}

Shape& SegmentationStuff::outline()
{
    // Made on first use, never while the model itself is being built. Only its outline pieces
    // are used; the rectangle is never drawn.
    if (!m_edgeOutline)
        m_edgeOutline = std::make_unique<ks::Rectangle>(QPointF());
    return *m_edgeOutline;
}

bool SegmentationStuff::isAnalysed() const
{
    // A patch's sub-session without an analysis of its own borrows the image's.
    if (m_parent && m_analysisSession == m_session)
        return false;
    return m_analysisSession && m_analysisSession->analysed != 0;
}

void SegmentationStuff::submitAnalysis(QObject* panel)
{
    m_edos.applyAll();
    // A panel whose analysis this one replaces waits for this one's end too: the cancelled
    // command's end comes first, while this one is still on its way.
    if (!m_analysisCommand)
        m_waitingPanels.clear();
    m_waitingPanels.removeAll(nullptr);
    if (panel && !m_waitingPanels.contains(panel))
        m_waitingPanels.append(panel);
    DravikThread* thread = DravikThread::instance();
    if (m_analysisCommand && thread)
        thread->cancelCommand(m_analysisCommand);
    GmModel* model = GmModel::existingInstance();
    auto* command = new DvCmdAnalyseImage(model, m_parent, this);
    m_analysisCommand = command;
    if (!m_parent && model)
        emit model->imageAnalysisHasBegun();
    if (thread) {
        thread->submit(command);
    } else {
        qWarning("SegmentationStuff: no engine worker for the analysis");
        delete command;
    }
    // The panels are reached by name: they live in the widgets, which this record does not know.
    for (const QPointer<QObject>& waiting : qAsConst(m_waitingPanels)) {
        if (!waiting)
            continue;
        QMetaObject::invokeMethod(waiting, "setEnablednessOfButtons");
        if (m_analysisCommand)
            QObject::connect(m_analysisCommand, SIGNAL(destroyed()), waiting, SLOT(setEnablednessOfButtons()));
    }
    if (model)
        emit model->smegChanged();
}

void SegmentationStuff::analysisStarted()
{
    outline().setOutlinePolygons(nullptr);
    if (GmModel* model = GmModel::existingInstance())
        model->signalDirtyImageSlot(DirtyHintNone);
}

void SegmentationStuff::sessionChanged()
{
    outline().setOutlinePolygons(m_analysisSession);
    if (GmModel* model = GmModel::existingInstance())
        model->signalDirtyImageSlot(DirtyHintOutline);
}
