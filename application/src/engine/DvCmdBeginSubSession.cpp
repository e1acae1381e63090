#include "engine/DvCmdBeginSubSession.h"

#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/PixelState.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdEndSession.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

// Ends a sub-session that nothing holds any longer.
void endOrphan(GmModel* model, DvSession* session)
{
    if (DravikThread* thread = DravikThread::instance())
        thread->submit(new DvCmdEndSession(model, session, nullptr, nullptr, nullptr));
}

} // namespace

DvCmdBeginSubSession::DvCmdBeginSubSession(GmModel* model, GmRegion* patch, int flag)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Beginning Sub-Session...", "[ks3]"),
                    DvRefused),
      m_patch(patch), m_flag(flag)
{
}

QString DvCmdBeginSubSession::argumentText() const
{
    QString text;
    QTextStream(&text) << static_cast<const void*>(m_handle);
    return text;
}

bool DvCmdBeginSubSession::prepare()
{
    if (!m_patch || !model())
        return false;
    m_parent = model()->segmentation()->session();
    if (!m_parent) {
        qWarning("DvCmdBeginSubSession::prepare: No DvSession!");
        m_withoutSession = true;
        return false;
    }
    PixelState* state = m_patch->filledMask();
    if (!state->hasMask()) {
        qWarning("DvCmdBeginSubSession::prepare: No DvSelection!");
        return false;
    }
    state->keepForEngine();
    m_mask = state->mask();
    m_selection = state->selection();
    m_selection.image.data = const_cast<uchar*>(m_mask.constBits());
    return true;
}

void DvCmdBeginSubSession::execute()
{
    m_handle = DvBeginSubSession(m_parent, &m_selection, m_flag);
    m_result = m_handle ? DvOk : DvRefused;
}

void DvCmdBeginSubSession::finish()
{
    GmModel* model = this->model();
    if (!m_patch) {
        if (m_handle)
            endOrphan(model, m_handle);
        return;
    }
    SegmentationStuff& record = m_patch->segmentation();
    if (m_handle) {
        DvSession* session = record.session();
        DvSession* analysis = record.analysisSession();
        if (m_flag) {
            // An earlier analysis session of the patch's own would be lost without its end.
            if (analysis && analysis != session)
                endOrphan(model, analysis);
            record.setAnalysisSession(m_handle);
        } else {
            if (session)
                endOrphan(model, session);
            record.setSession(m_handle);
            if (!analysis || analysis == session)
                record.setAnalysisSession(m_handle);
        }
        record.sessionChanged();
        if (!m_flag && model && model->patches().contains(m_patch))
            m_patch->setOutline(m_handle);
        return;
    }
    // Without an image session the patch waits for the next one; a patch the engine refused,
    // or one with nothing inside the image, goes.
    if (m_withoutSession)
        return;
    if (model && model->patches().contains(m_patch))
        model->deleteRegion(m_patch);
}
