#include "engine/DvCmdSelect.h"

#include "document/BlendingStuff.h"
#include "document/Brushing.h"
#include "document/ForcedEdge.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/GmStatusArray.h"
#include "document/PixelState.h"
#include "document/SegmentationStuff.h"
#include "engine/CommandHooks.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

constexpr quint8 kUnassigned = 1;
constexpr quint8 kKeep = 2;
constexpr quint8 kDelete = 4;
constexpr quint8 kForcedEdge = 16;
constexpr quint8 kProtected = 32;

QString selectionText()
{
    return QCoreApplication::translate("DravikCommand", "Making Selection...");
}

} // namespace

DvCmdSelect::DvCmdSelect(GmModel* model, quint8 matchMask, quint8 newValue)
    : DvCmdSelect(model, static_cast<GmRegion*>(nullptr), matchMask, newValue)
{
}

DvCmdSelect::DvCmdSelect(GmModel* model, GmRegion* patch, quint8 matchMask, quint8 newValue)
    : DravikCommand(model, selectionText()),
      m_form(patch ? PatchMask : WholeImage),
      m_patch(patch),
      m_inPatch(patch != nullptr),
      m_matchMask(matchMask),
      m_newValue(newValue),
      m_strength(float(CommandHooks::brushStrength()))
{
}

DvCmdSelect::DvCmdSelect(GmModel* model, Brushing* stroke, quint8 overwriteMask, quint8 kind,
                         int option, int mode)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Brushing...")),
      m_form(BrushStroke), m_matchMask(overwriteMask), m_newValue(kind), m_option(option),
      m_mode(mode), m_strength(float(CommandHooks::brushStrength()))
{
    if (stroke) {
        stroke->rasterise();
        if (const PixelState* state = stroke->pixelState()) {
            m_strokeMask = state->mask();
            m_stroke = state->selection();
        }
    }
    if (model) {
        m_patch = model->activeRegion();
        m_inPatch = !m_patch.isNull();
        const BlendingStuff* blending = m_patch ? &m_patch->blending() : model->blending();
        m_bandFactor = blending->options().autoBlendWidth;
    }
}

DvCmdSelect::DvCmdSelect(GmModel* model, ForcedEdge* edge)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Creating Forced Edge...", "[ks3]")),
      m_form(ForcedEdgeLine), m_edge(edge), m_matchMask(kUnassigned), m_newValue(kForcedEdge),
      m_strength(float(CommandHooks::brushStrength()))
{
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
    m_statusesPresent = model()->statusArray()->statusesPresent();
    if (!m_imageSession || !m_image)
        return false;
    m_session = m_imageSession;

    // The patch of a patch form, or of a stroke made inside one, must still be the model's.
    if (m_inPatch && (!m_patch || !model()->patches().contains(m_patch)))
        return false;

    switch (m_form) {
    case WholeImage:
        // Null data selects the whole rectangle: the session's area.
        m_stroke = DvSelection{0, 0, {m_image->width, m_image->height, 0, DvPixelStatus, nullptr}};
        return true;
    case ForcedEdgeLine: {
        if (!m_edge)
            return false;
        // Rebuilt each time: the line may have moved since it was last rasterised.
        m_edge->reset();
        const PixelState* state = m_edge->setMaskStyle();
        m_strokeMask = state->mask();
        m_stroke = state->selection();
        break;
    }
    case PatchMask: {
        const PixelState* state = m_patch->filledMask();
        m_strokeMask = state->mask();
        m_stroke = state->selection();
        m_patchSession = m_patch->segmentation().session();
        m_session = m_patchSession;
        break;
    }
    case BrushStroke:
        if (m_patch) {
            SegmentationStuff& own = m_patch->segmentation();
            if (own.isChecked()) {
                if (!m_patch->hasOwnSegmentation()) {
                    CommandHooks::showTip(QCoreApplication::translate(
                                              "[tip,ks3]", "Use the <b>Apply</b> button to analyze the patch"),
                                          false);
                    return false;
                }
                m_patchSession = own.analysisSession();
            } else {
                m_patchSession = own.session();
            }
            m_session = m_patchSession;
        } else if (record->isChecked() && record->analysisSession()) {
            m_session = record->analysisSession();
        }
        break;
    }
    if (!m_session)
        return false;
    // An empty shape (wholly outside the image) selects nothing, not everything. The selection
    // points into the copied mask, which this command keeps.
    if (m_strokeMask.isNull())
        return false;
    m_stroke.image.data = const_cast<uchar*>(m_strokeMask.constBits());
    return true;
}

void DvCmdSelect::execute()
{
    m_result = DvOk;
    if (m_patchSession)
        m_result = DvSetStatusInSession(m_patchSession, m_image);
    // Forced edges and protection are not undoable: a step for them would only empty Redo.
    const bool special = m_form == ForcedEdgeLine || m_matchMask == kForcedEdge || m_newValue == kForcedEdge
        || m_matchMask == kProtected || m_newValue == kProtected;
    if (m_result == DvOk && m_matchMask != m_newValue && !special)
        m_result = DvBeginUndoStep(m_imageSession);
    if (m_result != DvOk)
        return;
    m_result = DvSelect(m_session, m_image, &m_stroke, m_newValue, m_matchMask, m_option,
                        m_strength, DvProgressCallback);
    if (m_form == BrushStroke && m_result == DvOk && m_mode == 0) {
        const bool opposite = (m_newValue == kKeep && (m_statusesPresent & kDelete))
            || (m_newValue == kDelete && (m_statusesPresent & kKeep));
        if (opposite) {
            m_result = DvAutoComplex(m_session, m_image, m_bandFactor, DvProgressCallback);
            // Without an analysis there is nothing to complete from; the stroke itself stands.
            if (!m_session->analysed && !m_imageSession->analysed)
                m_result = DvOk;
        }
    }
    // The patch's statuses go back into the image, recorded in the image's open undo step.
    if (m_patchSession && m_result == DvOk)
        m_result = DvSetStatusInParent(m_patchSession, m_image);
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
    if (m_form == ForcedEdgeLine && m_edge)
        m_edge->reset();
    if (model())
        model()->statusRefresh();
}
