#include "engine/DvCmdNumAvailableUndoRedo.h"

#include "document/GmModel.h"
#include "document/SegmentationStuff.h"

#include "dravik.h"

#include <QCoreApplication>

DvCmdNumAvailableUndoRedo::DvCmdNumAvailableUndoRedo(GmModel* model)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Examining undo stack..."))
{
}

bool DvCmdNumAvailableUndoRedo::prepare()
{
    m_session = model() ? model()->segmentation()->session() : nullptr;
    return m_session != nullptr;
}

void DvCmdNumAvailableUndoRedo::execute()
{
    m_undo = 0;
    m_redo = 0;
    if (DvNumAvailableUndo(m_session, &m_undo) != DvOk)
        m_undo = 0;
    if (DvNumAvailableRedo(m_session, &m_redo) != DvOk)
        m_redo = 0;
}

void DvCmdNumAvailableUndoRedo::finish()
{
    if (model() && hasExecuted())
        model()->setUndoRedoCounts(m_undo, m_redo);
}
