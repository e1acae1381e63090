#include "engine/DvCmdProtect.h"

#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/GmStatusArray.h"
#include "document/PixelState.h"
#include "document/SegmentationStuff.h"

#include <QCoreApplication>

namespace {

constexpr unsigned char kProtected = 32;
constexpr unsigned char kUnassigned = 1;

} // namespace

DvCmdProtect::DvCmdProtect(GmModel* model, GmRegion* patch)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Protecting Patch...", "[ks3]"),
                    DvRefused),
      m_patch(patch)
{
}

bool DvCmdProtect::prepare()
{
    if (!model() || model() != GmModel::existingInstance() || !m_patch)
        return false;
    m_session = model()->segmentation()->session();
    m_image = model()->statusArray()->engineStatusImage();
    const PixelState* state = m_patch->filledMask();
    if (!m_session || !m_image || !state->hasMask())
        return false;
    m_mask = state->mask();
    m_outline = state->selection();
    m_outline.image.data = const_cast<uchar*>(m_mask.constBits());
    return true;
}

void DvCmdProtect::execute()
{
    m_result = DvSelect(m_session, m_image, &m_outline, kProtected, kUnassigned, 0, 0.0f, DvProgressCallback);
}

void DvCmdProtect::finish()
{
    if (model())
        model()->statusRefresh();
}
