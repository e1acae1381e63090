#include "engine/DvCmdAnalyseImage.h"

#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/PixelState.h"
#include "document/SegmentationStuff.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdEndSession.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

QString descriptionFor(const GmRegion* patch)
{
    return patch ? QCoreApplication::translate("DravikCommand", "Finding Edges in Patch...", "[ks3]")
                 : QCoreApplication::translate("DravikCommand", "Finding Edges in Image...");
}

} // namespace

DvCmdAnalyseImage::DvCmdAnalyseImage(GmModel* model, GmRegion* patch, SegmentationStuff* record)
    : DravikCommand(model, descriptionFor(patch), DvRefused),
      m_patch(patch),
      m_forPatch(patch != nullptr),
      m_record(record)
{
    if (!record)
        return;
    const EDOs& edos = record->edos();
    m_options.sensitivity = float(edos.sensitivity().applied() - 1) / 99.0f;
    m_options.edgeWidth = edos.width().applied();
    m_options.edgeContrast = static_cast<unsigned char>(edos.contrast().applied());
    m_options.texture = static_cast<unsigned char>(edos.texture().applied());
}

QString DvCmdAnalyseImage::argumentText() const
{
    QString text;
    QTextStream(&text) << static_cast<const void*>(m_session);
    return text;
}

bool DvCmdAnalyseImage::prepare()
{
    if (!m_record || (m_forPatch && !m_patch))
        return false;
    m_session = m_record->analysisSession();
    // A patch's sub-session without an analysis of its own borrows the image's and cannot be
    // analysed: the patch's analysis gets a sub-session of its own.
    if (m_forPatch && m_session == m_record->session())
        m_session = nullptr;
    if (!m_session) {
        if (!m_patch || !model())
            return false;
        m_parent = model()->segmentation()->session();
        PixelState* state = m_patch->filledMask();
        if (!m_parent || !state->hasMask())
            return false;
        state->keepForEngine();
        m_mask = state->mask();
        m_selection = state->selection();
        m_selection.image.data = const_cast<uchar*>(m_mask.constBits());
    }
    m_record->analysisStarted();
    m_outlineCleared = true;
    return true;
}

void DvCmdAnalyseImage::execute()
{
    if (!m_session) {
        m_created = DvBeginSubSession(m_parent, &m_selection, 1);
        m_session = m_created;
        qWarning("DvBeginSubSession (for analysis) finished (%p)", static_cast<void*>(m_created));
    }
    if (!m_session)
        return;
    m_result = DvPrepareAnalysis(m_session, m_options);
    if (m_result == DvOk)
        m_result = DvAnalyseImage(m_session, DvProgressCallback);
}

void DvCmdAnalyseImage::finish()
{
    checkResult(m_result);
    if (m_created) {
        if (!m_record) {
            // Nothing holds the new sub-session any longer.
            if (DravikThread* thread = DravikThread::instance())
                thread->submit(new DvCmdEndSession(model(), m_created, nullptr, nullptr, nullptr));
        } else {
            m_record->setAnalysisSession(m_created);
            m_record->sessionChanged();
        }
    }
    if (!m_record)
        return;
    if (m_result == DvOk && hasExecuted() && m_record->analysisSession()) {
        if (model())
            emit model()->smegChanged();
        m_record->sessionChanged();
        return;
    }
    // The options the engine never took fall back to the last ones it did.
    m_record->edos().restoreAll();
    // The outline was cleared when the analysis began: it follows whatever the engine kept, also
    // when the worker thread could not be started and the engine kept the earlier analysis.
    if (m_outlineCleared)
        m_record->sessionChanged();
}
