#include "engine/DvCmdFinish.h"

#include "document/GmModel.h"

#include "dravik.h"

#include <QCoreApplication>

DvCmdFinish::DvCmdFinish(GmModel* model)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Finishing..."))
{
}

bool DvCmdFinish::prepare()
{
    m_library = model() ? model()->library() : nullptr;
    return m_library != nullptr;
}

void DvCmdFinish::execute()
{
    m_result = DvFinish(m_library);
}

void DvCmdFinish::finish()
{
    // Only the handle this command finished is forgotten: a library started for the next image
    // in the meantime stays.
    if (model() && m_library && model()->library() == m_library)
        model()->setLibrary(nullptr);
    checkResult(m_result);
}
