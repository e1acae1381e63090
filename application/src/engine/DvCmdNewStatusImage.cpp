#include "engine/DvCmdNewStatusImage.h"

#include "document/GmModel.h"

#include <QCoreApplication>

DvCmdNewStatusImage::DvCmdNewStatusImage(GmModel* model)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Creating New Status Image..."))
{
}

bool DvCmdNewStatusImage::prepare()
{
    if (!model())
        return false;
    m_library = model()->library();
    m_pixels = model()->workingPixels();
    return m_library && m_pixels.data;
}

void DvCmdNewStatusImage::execute()
{
    m_image = DvNewStatusImage(m_library, m_pixels);
}

void DvCmdNewStatusImage::finish()
{
    if (!model() || !hasExecuted())
        return;
    if (!m_image) {
        qWarning("DvCmdNewStatusImage: the engine made no status image");
        return;
    }
    model()->setStatusImage(m_image);
    model()->statusRefresh();
}
