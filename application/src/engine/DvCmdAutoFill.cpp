#include "engine/DvCmdAutoFill.h"

#include "document/BlendingStuff.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/GmStatusArray.h"
#include "document/SegmentationStuff.h"

#include <QCoreApplication>
#include <QTextStream>

DvCmdAutoFill::DvCmdAutoFill(GmModel* model, int fillValue) : DvCmdAutoFill(model, nullptr, fillValue) {}

DvCmdAutoFill::DvCmdAutoFill(GmModel* model, GmRegion* patch, int fillValue)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Auto-Filling...")),
      m_patch(patch),
      m_inPatch(patch != nullptr),
      m_fillValue(static_cast<unsigned char>(fillValue))
{
    if (model)
        m_bandFactor = model->blending()->options().autoBlendWidth;
}

QString DvCmdAutoFill::argumentText() const
{
    QString text;
    QTextStream(&text) << static_cast<const void*>(m_patchSession ? m_patchSession : m_session);
    return text;
}

bool DvCmdAutoFill::prepare()
{
    if (!model())
        return false;
    m_session = model()->segmentation()->session();
    m_image = model()->statusArray()->engineStatusImage();
    if (m_inPatch) {
        if (!m_patch)
            return false;
        const SegmentationStuff& own = m_patch->segmentation();
        m_patchSession = own.analysisSession() ? own.analysisSession() : own.session();
        if (!m_patchSession)
            return false;
    }
    return m_session && m_image;
}

void DvCmdAutoFill::execute()
{
    m_result = DvBeginUndoStep(m_session);
    if (m_result != DvOk)
        return;
    if (!m_patchSession) {
        m_result = DvAutoFill(m_session, m_image, nullptr, m_fillValue, m_bandFactor);
        return;
    }
    m_result = DvSetStatusInSession(m_patchSession, m_image);
    if (m_result == DvOk)
        m_result = DvAutoFill(m_patchSession, m_image, nullptr, m_fillValue, m_bandFactor);
    if (m_result == DvOk)
        m_result = DvSetStatusInParent(m_patchSession, m_image);
}

void DvCmdAutoFill::finish()
{
    checkResult(m_result);
    if (model())
        model()->statusRefresh();
}
