#include "engine/DvCmdUndo.h"

#include "document/GmModel.h"
#include "document/SegmentationStuff.h"

#include "dravik.h"

#include <QCoreApplication>

DvCmdUndo::DvCmdUndo(GmModel* model)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Undoing..."))
{
}

bool DvCmdUndo::prepare()
{
    m_session = model() ? model()->segmentation()->session() : nullptr;
    return m_session != nullptr;
}

void DvCmdUndo::execute()
{
    m_result = DvUndo(m_session);
}

void DvCmdUndo::finish()
{
    checkResult(m_result);
    if (model())
        model()->statusRefresh();
}
