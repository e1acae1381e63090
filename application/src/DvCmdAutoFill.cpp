#include "DvCmdAutoFill.h"

#include "BlendingStuff.h"
#include "GmModel.h"
#include "GmStatusArray.h"
#include "SegmentationStuff.h"

#include <QCoreApplication>
#include <QTextStream>

DvCmdAutoFill::DvCmdAutoFill(GmModel* model, int fillValue)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Auto-Filling...")),
      m_fillValue(static_cast<unsigned char>(fillValue))
{
    if (model)
        m_bandFactor = model->blending()->options().autoBlendWidth;
}

QString DvCmdAutoFill::argumentText() const
{
    QString text;
    QTextStream(&text) << static_cast<const void*>(m_session);
    return text;
}

bool DvCmdAutoFill::prepare()
{
    if (!model())
        return false;
    m_session = model()->segmentation()->session();
    m_image = model()->statusArray()->engineStatusImage();
    return m_session && m_image;
}

void DvCmdAutoFill::execute()
{
    m_result = DvBeginUndoStep(m_session);
    if (m_result != DvOk)
        return;
    m_result = DvAutoFill(m_session, m_image, nullptr, m_fillValue, m_bandFactor);
}

void DvCmdAutoFill::finish()
{
    checkResult(m_result);
    if (model())
        model()->statusRefresh();
}
