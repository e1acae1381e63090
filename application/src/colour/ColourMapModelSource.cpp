#include "colour/ColourMapModelSource.h"

#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsSourceImage.h"

ColourMapRenderer::Inputs ColourMapModelSource::inputs()
{
    release();
    // Reading must not create a document: without one nothing is counted.
    if (const GmModel* model = GmModel::existingInstance()) {
        if (const KsSourceImage* source = model->source())
            m_working = source->workingImage();
        if (const GmStatusArray* statuses = model->statusArray())
            m_status = statuses->snapshot();
        m_patchMask = GmStatusArray::activePatchMask();
    }
    ColourMapRenderer::Inputs inputs;
    inputs.working = m_working.isNull() ? nullptr : &m_working;
    inputs.status = m_status.isNull() ? nullptr : &m_status;
    inputs.patchMask = m_patchMask.isNull() ? nullptr : &m_patchMask;
    return inputs;
}

void ColourMapModelSource::release()
{
    m_working = QImage();
    m_status = QImage();
    m_patchMask = QImage();
}
