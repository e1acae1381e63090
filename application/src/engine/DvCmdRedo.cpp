#include "engine/DvCmdRedo.h"

#include "document/GmModel.h"
#include "document/SegmentationStuff.h"

#include "dravik.h"

#include <QCoreApplication>

DvCmdRedo::DvCmdRedo(GmModel* model)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Redoing..."))
{
}

bool DvCmdRedo::prepare()
{
    m_session = model() ? model()->segmentation()->session() : nullptr;
    return m_session != nullptr;
}

void DvCmdRedo::execute()
{
    m_result = DvRedo(m_session);
}

void DvCmdRedo::finish()
{
    checkResult(m_result);
    if (model())
        model()->statusRefresh();
}
