#include "DvCmdGenerateMask.h"

#include "BlendingStuff.h"
#include "DravikThread.h"
#include "GmModel.h"
#include "GmStatusArray.h"
#include "KsSourceImage.h"
#include "SegmentationStuff.h"

#include <QCoreApplication>

namespace {

constexpr unsigned char kDecided = 64;
constexpr quint8 kKeepOrDelete = 2 | 4;

} // namespace

std::atomic<int> DvCmdGenerateMask::s_cutoutStamp{0};

DvCmdGenerateMask::DvCmdGenerateMask(GmModel* model, const QRect& area)
    : DravikCommand(model, QCoreApplication::translate("DravikCommand", "Creating Cut-out...")),
      m_area(area)
{
    if (model) {
        const BlendingOptions& options = model->blending()->options();
        m_bandFactor = options.autoBlendWidth;
        m_level = options.blendRatio;
    }
}

bool DvCmdGenerateMask::prepare()
{
    if (!model())
        return false;
    const SegmentationStuff* record = model()->segmentation();
    const DvSession* analysis = record->analysisSession();
    const bool analysed = analysis && (analysis->analysed || record->hasPendingAnalysis());
    if (!analysed || !(model()->statusArray()->statusesPresent() & kKeepOrDelete))
        return false;
    m_session = record->session();
    m_image = model()->statusArray()->engineStatusImage();
    KsSourceImage* source = model()->source();
    KsSourceImage* output = model()->output();
    if (!m_session || !m_image || !source || !output)
        return false;
    m_source = source->fullResolutionPixels();
    m_cutout = output->fullResolutionPixels();
    // The engine maps the status image onto the cut-out by their size ratio: both full-size
    // images must agree and carry pixels.
    if (!m_source.data || !m_cutout.data || m_source.width != m_cutout.width
        || m_source.height != m_cutout.height) {
        qWarning("DvCmdGenerateMask: the source (%dx%d) and cut-out (%dx%d) do not match",
                 m_source.width, m_source.height, m_cutout.width, m_cutout.height);
        return false;
    }
    if (!m_area.isEmpty())
        m_engineArea = DvArea{m_area.left(), m_area.top(), m_area.width(), m_area.height()};
    return true;
}

void DvCmdGenerateMask::execute()
{
    s_cutoutStamp.store(1);
    m_result = DvGenerateMask(m_session, m_area.isEmpty() ? nullptr : &m_engineArea, m_cutout,
                              m_source, m_image, nullptr, 0, m_bandFactor, m_level, nullptr, 0);
}

void DvCmdGenerateMask::clearDecidedBits()
{
    // The engine clears the marks only over the area it worked on; a mark left elsewhere would
    // make a later cut-out skip pixels.
    if (!model() || !m_image || model()->statusArray()->engineStatusImage() != m_image)
        return;
    for (int y = 0; y < m_image->height; ++y) {
        unsigned char* row = m_image->data + std::size_t(y) * m_image->stride;
        for (int x = 0; x < m_image->width; ++x)
            row[x] &= static_cast<unsigned char>(~kDecided);
    }
}

void DvCmdGenerateMask::finish()
{
    clearDecidedBits();
    checkResult(m_result);
    if (!model())
        return;
    // A cut-out that never ran leaves the preview and the stamp as they were.
    if (hasExecuted()) {
        model()->signalDirtyOutputImageSlot();
        if (m_result == DvOk && m_area.isEmpty())
            if (const DravikThread* thread = DravikThread::instance())
                s_cutoutStamp.store(thread->changeCounter());
    }
    model()->statusRefresh();
}

void DvCmdGenerateMask::refreshOutputTab()
{
    if (model())
        model()->signalDirtyOutputImageSlot();
}
