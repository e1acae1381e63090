#include "DvCmdSelect.h"

#include "BlendingStuff.h"
#include "Brushing.h"
#include "CommandHooks.h"
#include "GmModel.h"
#include "GmStatusArray.h"
#include "PixelState.h"
#include "SegmentationStuff.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

constexpr quint8 kKeep = 2;
constexpr quint8 kDelete = 4;
constexpr quint8 kProtected = 32;

} // namespace

DvCmdSelect::DvCmdSelect(GmModel* model, quint8 matchMask, quint8 newValue)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Making Selection...")),
      m_matchMask(matchMask), m_newValue(newValue), m_strength(float(CommandHooks::brushStrength()))
{
}

DvCmdSelect::DvCmdSelect(GmModel* model, Brushing* stroke, quint8 overwriteMask, quint8 kind,
                         int option, int mode)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Brushing...")),
      m_brushing(true), m_matchMask(overwriteMask), m_newValue(kind), m_option(option),
      m_mode(mode), m_strength(float(CommandHooks::brushStrength()))
{
    if (stroke) {
        stroke->rasterise();
        if (const PixelState* state = stroke->pixelState()) {
            m_strokeMask = state->mask();
            m_stroke = state->selection();
        }
    }
    if (model)
        m_bandFactor = model->blending()->options().autoBlendWidth;
}

QString DvCmdSelect::argumentText() const
{
    QString text;
    QTextStream(&text) << static_cast<const void*>(m_session);
    return text;
}

bool DvCmdSelect::prepare()
{
    if (!model() || model() != GmModel::existingInstance())
        return false;
    SegmentationStuff* record = model()->segmentation();
    m_imageSession = record->session();
    m_image = model()->statusArray()->engineStatusImage();
    m_session = m_imageSession;
    if (m_brushing && record->isChecked() && record->analysisSession())
        m_session = record->analysisSession();
    m_statusesPresent = model()->statusArray()->statusesPresent();
    if (!m_session || !m_image)
        return false;
    if (m_brushing) {
        // The stroke's selection points into the copied mask, which this command keeps.
        // An empty stroke (painted wholly outside the image) selects nothing, not everything.
        if (m_strokeMask.isNull())
            return false;
        m_stroke.image.data = const_cast<uchar*>(m_strokeMask.constBits());
    } else {
        // Null data selects the whole rectangle: the session's area.
        m_stroke = DvSelection{0, 0, {m_image->width, m_image->height, 0, DvPixelStatus, nullptr}};
    }
    return true;
}

void DvCmdSelect::execute()
{
    m_result = DvOk;
    if (m_matchMask != m_newValue && m_matchMask != kProtected && m_newValue != kProtected)
        m_result = DvBeginUndoStep(m_session);
    if (m_result != DvOk)
        return;
    m_result = DvSelect(m_session, m_image, &m_stroke, m_newValue, m_matchMask, m_option,
                        m_strength, DvProgressCallback);
    if (!m_brushing || m_result != DvOk || m_mode != 0)
        return;
    const bool opposite = (m_newValue == kKeep && (m_statusesPresent & kDelete))
        || (m_newValue == kDelete && (m_statusesPresent & kKeep));
    if (!opposite)
        return;
    m_result = DvAutoComplex(m_session, m_image, m_bandFactor, DvProgressCallback);
    // Without an analysis there is nothing to complete from; the stroke itself stands.
    if (!m_session->analysed && !m_imageSession->analysed)
        m_result = DvOk;
}

void DvCmdSelect::finish()
{
    checkResult(m_result);
    if (m_result == DvNoSegmentation)
        CommandHooks::showTip(
            QCoreApplication::translate("[tip]", "Brushing failed because no segmentation was "
                                                 "available. Apply some Edge Detection options "
                                                 "to create a segmentation"),
            true);
    if (model())
        model()->statusRefresh();
}
