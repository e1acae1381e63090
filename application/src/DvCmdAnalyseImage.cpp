#include "DvCmdAnalyseImage.h"

#include "GmModel.h"
#include "SegmentationStuff.h"

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
    : DravikCommand(model, descriptionFor(patch), DvRefused), m_record(record)
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
    if (!m_record)
        return false;
    // A patch's own analysis needs its sub-session, which the patch commands bring.
    m_session = m_record->analysisSession();
    if (!m_session)
        return false;
    m_record->analysisStarted();
    return true;
}

void DvCmdAnalyseImage::execute()
{
    m_result = DvPrepareAnalysis(m_session, m_options);
    if (m_result == DvOk)
        m_result = DvAnalyseImage(m_session, DvProgressCallback);
}

void DvCmdAnalyseImage::finish()
{
    checkResult(m_result);
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
    // The outline was cleared when the analysis began: it follows whatever the engine kept.
    if (hasExecuted())
        m_record->sessionChanged();
}
