#include "tunnelry/photoshop_shim.h"

#include "pixel_transfer.h"
#include "tunnelry/host_state.h"
#include "tunnelry/shim_log.h"

#include "platform/handover.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

// The mappings carry 16-bit samples in little-endian order and the host hands over native
// ones; both are copied as they are.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the hand-over copies native 16-bit samples");

namespace {

// The suite's colour count is a 16-bit value.
constexpr std::size_t kSuiteChunk = 0x7fff;

// How the host interleaves each accepted mode, and what the plug-in asks of it.
struct ModeLayout {
    int16_t mode;
    int16_t columnBytes;
    int16_t planeBytes;
    int16_t hiPlane;
    bool sixteenBit;
    bool cmyk;
};

constexpr ModeLayout kLayouts[] = {
    {kImageModeRGB, 4, 1, 3, false, false},
    {kImageModeCMYK, 5, 1, 4, false, true},
    {kImageModeRGB48, 8, 2, 3, true, false},
    {kImageModeCMYK64, 10, 2, 4, true, true},
};

const ModeLayout* layoutOf(int16_t mode)
{
    for (const ModeLayout& layout : kLayouts)
        if (layout.mode == mode)
            return &layout;
    return nullptr;
}

// Converts `count` suite colours in place, in chunks the suite's count can carry.
int32_t convertColours(const ColorSpaceSuite1& suite, int32_t from, int32_t to, unsigned char* colours,
                       std::size_t count, bool sixteenBit)
{
    const std::size_t colourBytes = sixteenBit ? sizeof(Color16) : sizeof(Color8);
    while (count > 0) {
        const std::size_t chunk = std::min(count, kSuiteChunk);
        const int32_t result = sixteenBit
                                   ? suite.Convert16(from, to, reinterpret_cast<Color16*>(colours), int16_t(chunk))
                                   : suite.Convert8(from, to, reinterpret_cast<Color8*>(colours), int16_t(chunk));
        if (result != 0)
            return result;
        colours += chunk * colourBytes;
        count -= chunk;
    }
    return 0;
}

const char* const kModeAlert = "Kestrine requires a layer in an RGBA or CMYKA image format, including an alpha channel.\n";
const char* const kModeAdvice = "Please add an alpha channel to your image (and, for some plugin hosts, convert it to "
                                "filter layer) and try again.";

} // namespace

void PhotoshopShim::About(AboutRecord*)
{
    LogLine() << "PhotoshopShim:: About";
    if (canLaunch())
        launchAbout(platform::kAboutFlag);
}

void PhotoshopShim::Prepare()
{
    if (!m_filterRecord) {
        m_error = kResultParameterError;
        return;
    }
    LogLine() << "PhotoshopShim::Prepare. maxSpace = " << m_filterRecord->maxSpace;
    m_filterRecord->bufferSpace = 0;
    if (m_filterRecord->bigDocumentData)
        m_filterRecord->bigDocumentData->PluginUsing32BitCoordinates = 1;
    LogLine() << "PhotoshopShim::Prepare finished";
}

void PhotoshopShim::Start()
{
    LogLine() << "PhotoshopShim::Start";
    if (!m_filterRecord) {
        m_error = kResultParameterError;
        return;
    }
    if (canLaunch()) {
        try {
            RunSession();
        } catch (...) {
            // The host must never stay hidden; the caller maps the exception to a result.
            restoreHostWindow();
            throw;
        }
    } else {
        if (m_error >= 0)
            m_error = kResultNotUsable;
        clearFilterRectangles(m_filterRecord, usesBigCoordinates(*m_filterRecord));
    }
    LogLine() << "PhotoshopShim::Start finished";
}

bool PhotoshopShim::checkImageMode(const FilterRecord& record)
{
    const int16_t mode = record.imageMode;
    const bool rgb = (mode == kImageModeRGB || mode == kImageModeRGB48) && record.planes >= 4;
    const bool cmyk = (mode == kImageModeCMYK || mode == kImageModeCMYK64) && record.planes >= 5;
    if (rgb || cmyk)
        return true;
    showError(kModeAlert, kModeAdvice);
    return false;
}

void PhotoshopShim::RunSession()
{
    LogLine() << "PhotoshopShim::RunSession";
    const int16_t transferError = setupTransfer();
    if (transferError != 0) {
        // The host's refusal is the run's result: returning 0 here would lose it.
        LogLine() << "PhotoshopShim::RunSession advanceState failed. error = " << transferError;
        m_error = transferError;
        return;
    }

    FilterRecord& record = *m_filterRecord;
    const bool big = usesBigCoordinates(record);
    int64_t width;
    int64_t height;
    if (big) {
        const VRect& area = record.bigDocumentData->filterRect32;
        width = int64_t(area.right) - area.left;
        height = int64_t(area.bottom) - area.top;
    } else {
        width = int64_t(record.filterRect.right) - record.filterRect.left;
        height = int64_t(record.filterRect.bottom) - record.filterRect.top;
    }
    // Only a lying host reaches the clamp; the size check then refuses the geometry.
    width = std::clamp<int64_t>(width, INT32_MIN, INT32_MAX);
    height = std::clamp<int64_t>(height, INT32_MIN, INT32_MAX);
    const unsigned bytesPerPixel = m_sixteenBit ? 8 : 4;

    if (openSession(bytesPerPixel, int32_t(width), int32_t(height))) {
        hideHostWindow();
        aboutToLaunch();
        m_error = static_cast<int16_t>(launchApplication(int32_t(width), int32_t(height)));
        LogLine() << "PhotoshopShim::RunSession launchApplication returned. error = " << m_error;
        restoreHostWindow();

        switch (m_error) {
        case 0: {
            const int copied = SetImageData(bytesPerPixel, int32_t(width), int32_t(height));
            LogLine() << "PhotoshopShim::RunSession has just SetImageData theErr = " << copied;
            // The host commits the output buffer on success: it must hold the result.
            if (copied != 0)
                m_error = kResultMemoryFull;
            break;
        }
        case 1:
            m_error = kResultUserCanceled;
            break;
        case 2:
            break;
        default:
            LogLine() << "PhotoshopShim::RunSession - unhandled case for error: " << m_error;
            LogLine() << "PhotoshopShim::RunSession - setting image data anyway";
            SetImageData(bytesPerPixel, int32_t(width), int32_t(height));
            break;
        }
    } else if (platform::handOverBytes(bytesPerPixel, width, height) != 0) {
        // Nothing was handed over, so the output buffer was never filled; an empty area has
        // nothing to change and keeps its result.
        m_error = kResultMemoryFull;
    }

    closeSession();
    LogLine() << "PhotoshopShim::RunSession clearing inRect, outRect, maskRect";
    clearFilterRectangles(&record, big);
    LogLine() << "PhotoshopShim::RunSession finished";
}

int16_t PhotoshopShim::setupTransfer()
{
    FilterRecord& record = *m_filterRecord;
    const ModeLayout* layout = layoutOf(record.imageMode);
    if (!layout || !record.advanceState)
        return kResultParameterError;
    m_sixteenBit = layout->sixteenBit;

    record.inColumnBytes = record.outColumnBytes = layout->columnBytes;
    record.inPlaneBytes = record.outPlaneBytes = layout->planeBytes;
    record.inLoPlane = record.outLoPlane = 0;
    record.inHiPlane = record.outHiPlane = layout->hiPlane;
    if (usesBigCoordinates(record)) {
        BigDocumentStruct& big = *record.bigDocumentData;
        big.inRect32 = big.filterRect32;
        big.outRect32 = big.filterRect32;
    } else {
        record.inRect = record.filterRect;
        record.outRect = record.filterRect;
    }
    return record.advanceState();
}

int PhotoshopShim::SetImageData(unsigned bytesPerPixel, int32_t width, int32_t height)
{
    errno = 0;
    platform::SharedMemoryView view(m_result);
    if (!view) {
        const int error = errno ? errno : EBADF;
        LogLine() << "Unable to map image transfer (PS -> KS) temporary file";
        LogLine() << "Error number: " << error;
        return error;
    }
    // The child shares the mapping and could have resized it.
    const uint64_t expected = platform::handOverBytes(bytesPerPixel, width, height);
    if (view.size() != expected) {
        LogLine() << "Image transfer (PS -> KS) holds " << view.size() << " bytes, expected " << expected;
        return kResultMemoryFull;
    }
    const int result = copyViewToHost(view.data(), bytesPerPixel, width, height);
    view.unmap();
    return result;
}

std::string PhotoshopShim::documentTitle()
{
    std::string title;
    const FilterRecord* record = m_filterRecord;
    if (!record || !record->propertyProcs || !record->propertyProcs->getPropertyProc)
        return title;
    intptr_t simple = 0;
    HostHandle handle = nullptr;
    if (record->propertyProcs->getPropertyProc(kPropertySignature, kPropertyTitle, 0, &simple, &handle) != 0
        || !handle)
        return title;
    const HandleProcs* procs = record->handleProcs;
    if (!procs)
        return title;
    const int32_t size = procs->sizeProc ? procs->sizeProc(handle) : 0;
    const char* text = size > 0 && procs->lockProc ? procs->lockProc(handle, 0) : nullptr;
    if (text)
        title.assign(text, strnlen(text, std::size_t(size)));
    if (procs->disposeProc)
        procs->disposeProc(handle);
    return title;
}

bool PhotoshopShim::fillViews(unsigned char* view, unsigned char* copy, unsigned bytesPerPixel, int32_t width,
                              int32_t height)
{
    const FilterRecord& record = *m_filterRecord;
    const ModeLayout* layout = layoutOf(record.imageMode);
    if (!layout || bytesPerPixel != (layout->sixteenBit ? 8u : 4u)) {
        LogLine() << "No hand-over for image mode " << record.imageMode;
        return false;
    }
    const std::size_t hostRowBytes = std::size_t(width) * std::size_t(layout->columnBytes);
    if (!record.inData || record.inRowBytes < 0 || std::size_t(record.inRowBytes) < hostRowBytes) {
        LogLine() << "Host input buffer unusable: inRowBytes = " << record.inRowBytes << " for " << width
                  << " pixels";
        return false;
    }
    const auto* host = static_cast<const unsigned char*>(record.inData);
    const std::ptrdiff_t hostStride = record.inRowBytes;
    const std::size_t viewRowBytes = std::size_t(width) * bytesPerPixel;

    if (!layout->cmyk) {
        for (int32_t y = 0; y < height; ++y) {
            const unsigned char* hostRow = host + y * hostStride;
            std::memcpy(view + std::size_t(y) * viewRowBytes, hostRow, viewRowBytes);
            std::memcpy(copy + std::size_t(y) * viewRowBytes, hostRow, viewRowBytes);
        }
        return true;
    }

    const ColorSpaceSuite1* suite = acquireColourSpaceSuite();
    if (!suite)
        return false;
    int32_t converted = 0;
    for (int32_t y = 0; y < height; ++y) {
        const unsigned char* hostRow = host + y * hostStride;
        unsigned char* row = view + std::size_t(y) * viewRowBytes;
        if (layout->sixteenBit)
            transfer::gatherCmyk<uint16_t>(hostRow, row, width);
        else
            transfer::gatherCmyk<uint8_t>(hostRow, row, width);
        converted = convertColours(*suite, kColorSpaceCMYK, kColorSpaceRGB, row, std::size_t(width), layout->sixteenBit);
        if (converted != 0)
            break;
        if (layout->sixteenBit)
            transfer::finishRgba<uint16_t>(row, hostRow, width);
        else
            transfer::finishRgba<uint8_t>(row, hostRow, width);
        std::memcpy(copy + std::size_t(y) * viewRowBytes, row, viewRowBytes);
    }
    releaseColourSpaceSuite();
    if (converted != 0) {
        LogLine() << "Colour conversion from CMYK failed: " << converted;
        return false;
    }
    return true;
}

int PhotoshopShim::copyViewToHost(const unsigned char* view, unsigned bytesPerPixel, int32_t width, int32_t height)
{
    FilterRecord& record = *m_filterRecord;
    const ModeLayout* layout = layoutOf(record.imageMode);
    if (!layout || bytesPerPixel != (layout->sixteenBit ? 8u : 4u)) {
        LogLine() << "No copy-back for image mode " << record.imageMode;
        return kResultMemoryFull;
    }
    const std::size_t hostRowBytes = std::size_t(width) * std::size_t(layout->columnBytes);
    if (!record.outData || record.outRowBytes < 0 || std::size_t(record.outRowBytes) < hostRowBytes) {
        LogLine() << "Host output buffer unusable: outRowBytes = " << record.outRowBytes << " for " << width
                  << " pixels";
        return kResultMemoryFull;
    }
    auto* host = static_cast<unsigned char*>(record.outData);
    const std::ptrdiff_t hostStride = record.outRowBytes;
    const std::size_t viewRowBytes = std::size_t(width) * bytesPerPixel;

    if (!layout->cmyk) {
        transfer::copyRows(view, std::ptrdiff_t(viewRowBytes), host, hostStride, viewRowBytes, height);
        return 0;
    }

    std::vector<unsigned char> scratch;
    try {
        scratch.resize(viewRowBytes);
    } catch (const std::bad_alloc&) {
        LogLine() << "Unable to allocate " << viewRowBytes << " bytes for the CMYK copy-back";
        return kResultMemoryFull;
    }
    const ColorSpaceSuite1* suite = acquireColourSpaceSuite();
    if (!suite)
        return kResultMemoryFull;
    int32_t converted = 0;
    for (int32_t y = 0; y < height; ++y) {
        const unsigned char* row = view + std::size_t(y) * viewRowBytes;
        if (layout->sixteenBit)
            transfer::gatherRgb<uint16_t>(row, scratch.data(), width);
        else
            transfer::gatherRgb<uint8_t>(row, scratch.data(), width);
        converted = convertColours(*suite, kColorSpaceRGB, kColorSpaceCMYK, scratch.data(), std::size_t(width),
                                   layout->sixteenBit);
        if (converted != 0)
            break;
        if (layout->sixteenBit)
            transfer::scatterCmyka<uint16_t>(scratch.data(), row, host + y * hostStride, width);
        else
            transfer::scatterCmyka<uint8_t>(scratch.data(), row, host + y * hostStride, width);
    }
    releaseColourSpaceSuite();
    if (converted != 0) {
        LogLine() << "Colour conversion to CMYK failed: " << converted;
        return kResultMemoryFull;
    }
    return 0;
}

const ColorSpaceSuite1* PhotoshopShim::acquireColourSpaceSuite()
{
    const auto* suite =
        static_cast<const ColorSpaceSuite1*>(acquireHostSuite(kColorSpaceSuiteName, kColorSpaceSuiteVersion));
    if (suite && suite->Convert8 && suite->Convert16)
        return suite;
    // Without the host's conversion the layer cannot be handed over, nor written back.
    LogLine() << "Unable to acquire colour-space suite";
    releaseHostSuite(kColorSpaceSuiteName);
    return nullptr;
}

void PhotoshopShim::releaseColourSpaceSuite()
{
    releaseHostSuite(kColorSpaceSuiteName);
}
