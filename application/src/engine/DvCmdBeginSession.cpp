#include "engine/DvCmdBeginSession.h"

#include "document/SegmentationStuff.h"

#include <QCoreApplication>
#include <QTextStream>

DvCmdBeginSession::DvCmdBeginSession(GmModel* model)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Beginning Session...")),
      m_flag(model ? model->sessionFlag() : 1)
{
}

QString DvCmdBeginSession::argumentText() const
{
    QString text;
    QTextStream(&text) << static_cast<const void*>(m_session);
    return text;
}

bool DvCmdBeginSession::prepare()
{
    if (!model())
        return false;
    m_library = model()->library();
    m_pixels = model()->workingPixels();
    m_record = model()->segmentation();
    m_recordGiven = true;
    return true;
}

void DvCmdBeginSession::execute()
{
    if (!m_record || !m_library || !m_pixels.data)
        return;
    m_session = DvBeginSession(m_library, m_pixels);
    if (!m_session)
        return;
    m_suggestion.tolerance = m_session->sensitivity;
    m_suggestion.width = m_session->edgeWidth;
    m_suggestion.contrast = m_session->edgeContrast;
    m_suggestion.texture = m_session->texture;
}

void DvCmdBeginSession::finish()
{
    if (!model() || !hasExecuted())
        return;
    if (m_record && m_session) {
        m_record->setSession(m_session);
        if (!m_record->analysisSession())
            m_record->setAnalysisSession(m_session);
        m_record->sessionChanged();
    }
    model()->sessionBegun(m_suggestion, m_flag);
}
