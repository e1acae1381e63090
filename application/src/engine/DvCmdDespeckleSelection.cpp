#include "engine/DvCmdDespeckleSelection.h"

#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/SegmentationStuff.h"
#include "engine/CommandHooks.h"

#include <QCoreApplication>
#include <QtGlobal>

DvCmdDespeckleSelection::DvCmdDespeckleSelection(GmModel* model, int classes)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Cleaning...")),
      m_classes(classes), m_level(static_cast<unsigned char>(qBound(0, CommandHooks::cleanLevel(), 255)))
{
}

bool DvCmdDespeckleSelection::prepare()
{
    if (!model())
        return false;
    SegmentationStuff* record = model()->segmentation();
    m_session = record->session();
    m_image = model()->statusArray()->engineStatusImage();
    if (!m_session || !m_image)
        return false;
    // Without an analysis the engine has nothing to clean by; refusing here keeps an empty
    // step off the undo stack.
    const DvSession* analysis = record->analysisSession();
    if (!analysis || !analysis->analysed) {
        CommandHooks::showTip(
            QCoreApplication::translate("[tip]", "Brushing failed because no segmentation was "
                                                 "available. Apply some Edge Detection options "
                                                 "to create a segmentation"),
            true);
        return false;
    }
    return true;
}

void DvCmdDespeckleSelection::execute()
{
    m_result = DvBeginUndoStep(m_session);
    if (m_result != DvOk)
        return;
    if (m_classes == 0) {
        m_result = DvDespeckleSelection(m_session, m_image, m_level);
        return;
    }
    const DvSelection whole{0, 0, {m_image->width, m_image->height, 0, DvPixelStatus, nullptr}};
    for (const unsigned char cls : {1, 2, 4, 8}) {
        if (!(m_classes & cls))
            continue;
        m_result = DvSelect(m_session, m_image, &whole, cls, cls, 0, 0.0f, DvProgressCallback);
        if (m_result != DvOk)
            return;
        m_result = DvDespeckleSelection(m_session, m_image, m_level);
        if (m_result != DvOk)
            return;
    }
}

void DvCmdDespeckleSelection::finish()
{
    checkResult(m_result);
    if (model())
        model()->statusRefresh();
}
