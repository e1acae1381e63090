#include "engine/DvCmdInit.h"

#include "document/GmModel.h"

#include "dravik.h"

#include <QCoreApplication>

DvCmdInit::DvCmdInit(GmModel* model)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Initializing..."))
{
}

void DvCmdInit::execute()
{
    m_library = DvInit();
    // Without a library nothing that follows can work: report it like a library fault.
    m_result = m_library ? DvOk : DvLibraryDead;
}

void DvCmdInit::finish()
{
    if (!hasExecuted())
        return;
    if (model())
        model()->setLibrary(m_library);
    checkResult(m_result);
}
