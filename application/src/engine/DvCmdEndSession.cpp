#include "engine/DvCmdEndSession.h"

#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/KsSourceImage.h"
#include "document/PixelState.h"
#include "document/SegmentationStuff.h"
#include "document/Shape.h"

#include "dravik.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

QString endSessionText()
{
    return QCoreApplication::translate("DravikCommand", "Ending Session...");
}

} // namespace

DvCmdEndSession::DvCmdEndSession(GmModel* model, SegmentationStuff* record, Shape* holder)
    : DravikCommand(model, endSessionText(), DvRefused), m_record(record)
{
    if (holder)
        m_pixelState = holder->takePixelState();
}

DvCmdEndSession::DvCmdEndSession(GmModel* model, GmRegion* patch)
    : DravikCommand(model, endSessionText(), DvRefused),
      m_record(patch ? &patch->segmentation() : nullptr),
      m_patch(patch)
{
}

DvCmdEndSession::DvCmdEndSession(GmModel* model, DvSession* session, DvSession* analysisSession,
                                 KsSourceImage* oldSource, KsSourceImage* oldOutput)
    : DravikCommand(model, endSessionText(), DvRefused),
      m_session(session),
      m_analysisSession(analysisSession),
      m_handlesGiven(session || analysisSession),
      m_oldSource(oldSource),
      m_oldOutput(oldOutput != oldSource ? oldOutput : nullptr)
{
}

DvCmdEndSession::~DvCmdEndSession() = default;

QString DvCmdEndSession::argumentText() const
{
    QString text;
    QTextStream(&text) << static_cast<const void*>(m_session) << ", "
                       << static_cast<const void*>(m_analysisSession);
    return text;
}

bool DvCmdEndSession::prepare()
{
    if (m_handlesGiven)
        return true;
    if (!m_record)
        return false;
    m_session = m_record->session();
    m_analysisSession = m_record->analysisSession();
    m_record->setSession(nullptr);
    m_record->setAnalysisSession(nullptr);
    m_record->sessionChanged();
    return m_session || m_analysisSession;
}

void DvCmdEndSession::execute()
{
    DvSession* first = m_session ? m_session : m_analysisSession;
    m_result = DvEndSession(first);
    if (m_analysisSession && m_analysisSession != first)
        m_result = DvEndSession(m_analysisSession);
}

void DvCmdEndSession::finish()
{
    checkResult(m_result);
    if (model() && (m_oldSource || m_resetsUndoCounts))
        model()->setUndoRedoCounts(0, 0);
    // What the command owns goes with its destructor, also when it is discarded.
}
