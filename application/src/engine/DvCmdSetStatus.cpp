#include "engine/DvCmdSetStatus.h"

#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/SegmentationStuff.h"

#include "dravik.h"

#include <QCoreApplication>

DvCmdSetStatus::DvCmdSetStatus(GmModel* model, QImage status)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Setting Status Image...")),
      m_status(std::move(status))
{
}

bool DvCmdSetStatus::prepare()
{
    if (!model())
        return false;
    m_session = model()->segmentation()->session();
    m_image = model()->statusArray()->engineStatusImage();
    if (!m_session || !m_image)
        return false;
    // The engine would read rows that are not there, or bytes that are not statuses.
    if (m_status.format() != QImage::Format_Indexed8 || m_status.width() != m_image->width
        || m_status.height() != m_image->height) {
        qWarning("DvCmdSetStatus: refused a status image of format %d and size %dx%d for a "
                 "%dx%d working image",
                 int(m_status.format()), m_status.width(), m_status.height(), m_image->width,
                 m_image->height);
        return false;
    }
    return true;
}

void DvCmdSetStatus::execute()
{
    // The assignment is one step of its own on the undo stack; the engine takes the step back
    // when it cannot complete.
    m_result = DvBeginUndoStep(m_session);
    if (m_result != DvOk)
        return;
    // The engine only reads the bytes: no detach of a possibly shared image is needed.
    const DvSelection selection{0, 0,
                                {m_status.width(), m_status.height(), unsigned(m_status.bytesPerLine()),
                                 DvPixelStatus, const_cast<uchar*>(m_status.constBits())}};
    m_result = DvSetStatus(m_session, m_image, &selection);
}

void DvCmdSetStatus::finish()
{
    checkResult(m_result);
    if (model())
        model()->statusRefresh();
}
