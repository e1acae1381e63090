#include "engine/DvCmdDeleteStatusImage.h"

#include "document/GmModel.h"
#include "document/GmStatusArray.h"

#include "dravik.h"

#include <QCoreApplication>

DvCmdDeleteStatusImage::DvCmdDeleteStatusImage(GmModel* model)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Deleting Status Image..."))
{
    if (model)
        m_image = model->statusArray()->engineStatusImage();
    detach();
}

bool DvCmdDeleteStatusImage::prepare()
{
    // A status image still being made when the session closed arrived after construction.
    if (!m_image && model()) {
        m_image = model()->statusArray()->engineStatusImage();
        detach();
    }
    return true;
}

void DvCmdDeleteStatusImage::execute()
{
    m_result = DvDeleteStatusImage(m_image);
}

void DvCmdDeleteStatusImage::finish()
{
    checkResult(m_result);
    if (!model())
        return;
    GmStatusArray* array = model()->statusArray();
    // A status image made for a session opened meanwhile is not this command's to take.
    if (!array->engineStatusImage() || array->engineStatusImage() == m_image)
        detach();
    model()->statusRefresh();
}

void DvCmdDeleteStatusImage::detach()
{
    if (!model())
        return;
    GmStatusArray* array = model()->statusArray();
    if (array->engineStatusImage() && array->engineStatusImage() != m_image)
        return;
    array->setStatusImage(nullptr);
    emit model()->statusImageChanged(nullptr);
}
