// The engine's entry points: each switches the allocation handler off, validates its handles,
// runs one operation body and maps what escapes it to a result code.
#include "dravik.h"

#include "session/progress.h"
#include "session/scale.h"
#include "session/session.h"
#include "platform/memory.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

using namespace dravik;

namespace {

// Set by DvInit, cleared by DvFinish.
unsigned char g_initialised = 0;

// Allocation failures inside the engine must surface as std::bad_alloc, never as a call into
// the client's handler; the client's handler comes back on every way out.
class NewHandlerOff {
public:
    NewHandlerOff() : m_previous(std::set_new_handler(nullptr)) {}
    ~NewHandlerOff() { std::set_new_handler(m_previous); }
    NewHandlerOff(const NewHandlerOff&) = delete;
    NewHandlerOff& operator=(const NewHandlerOff&) = delete;

private:
    std::new_handler m_previous;
};

bool usableRgba8(const DvImageDesc& image)
{
    return image.pixelType == DvPixelRgba8 && image.width > 0 && image.height > 0 && image.data &&
           std::uint64_t(image.stride) >= 4 * std::uint64_t(image.width);
}

// A descriptor whose pixels can be read: known type, positive size, data, full rows.
bool readableImage(const DvImageDesc& image)
{
    const int bpp = bytesPerPixel(image.pixelType);
    return bpp > 0 && image.width > 0 && image.height > 0 && image.data &&
           std::uint64_t(image.stride) >= std::uint64_t(bpp) * std::uint64_t(image.width);
}

DvInSession& sessionOf(DvSession* session) { return *static_cast<DvInSession*>(session); }

// The frame of an entry on a session: anything that escapes the body marks the library dead.
template <typename Body>
DvResult onSession(DvSession* session, Body body)
{
    NewHandlerOff handlerOff;
    EntryClaim claim;
    try {
        if (const DvResult r = claim.session(session))
            return r;
        return body(sessionOf(session));
    } catch (...) {
        markDead(session);
        return DvInternalFailure;
    }
}

// The same for an entry on a session and a status image, the image checked first.
template <typename Body>
DvResult onSessionImage(DvSession* session, DvImage* image, Body body)
{
    NewHandlerOff handlerOff;
    EntryClaim claim;
    try {
        if (const DvResult r = claim.imageAndSession(image, session))
            return r;
        DvInSession& s = sessionOf(session);
        // A status image of another size would be read and written out of bounds.
        if (!s.fitsStatusImage(*image))
            return DvBadImage;
        return body(s, *static_cast<DvInImage*>(image));
    } catch (...) {
        markDead(session);
        return DvInternalFailure;
    }
}

void initialiseStatus(DvInImage& status, const DvImageDesc& source)
{
    const auto* base = static_cast<const unsigned char*>(source.data);
    for (int r = 0; r < status.height; ++r) {
        unsigned char* out = status.data + std::size_t(r) * status.stride;
        const unsigned char* in = base + std::size_t(r) * source.stride;
        switch (source.pixelType) {
        case DvPixelRgba8:
            for (int c = 0; c < status.width; ++c)
                out[c] = in[4 * c + 3] == 255 ? 1 : 0;
            break;
        case DvPixelRgba16:
        case DvPixelRgba16H: {
            const std::uint16_t full = source.pixelType == DvPixelRgba16 ? 65535 : 32768;
            for (int c = 0; c < status.width; ++c) {
                std::uint16_t alpha;
                std::memcpy(&alpha, in + 8 * c + 6, sizeof alpha);
                out[c] = alpha == full ? 1 : 0;
            }
            break;
        }
        default:
            std::fill(out, out + status.width, 1);
        }
    }
}

} // namespace

extern "C" {

DvLibrary* DvInit(void)
{
    NewHandlerOff handlerOff;
    try {
        platform::tuneHeapForLargeBlocks();
        auto record = std::make_unique<DvLibrary>();
        registerHandle(record.get(), HandleKind::Library, record.get());
        DvLibrary* library = record.release();
        if (!g_initialised)
            g_initialised = 1;
        return library;
    } catch (...) {
        return nullptr;
    }
}

DvResult DvFinish(DvLibrary* library)
{
    NewHandlerOff handlerOff;
    EntryClaim claim;
    try {
        if (const DvResult r = claim.library(library))
            return r;
        claim.forget();
        destroyLibrary(library);
        g_initialised = 0;
        return DvOk;
    } catch (...) {
        markDead(library);
        return DvInternalFailure;
    }
}

DvSession* DvBeginSession(DvLibrary* library, DvImageDesc image)
{
    NewHandlerOff handlerOff;
    EntryClaim claim;
    if (claim.library(library) != DvOk || !usableRgba8(image))
        return nullptr;
    try {
        return new DvInSession(library, image, DvProgressCallback);
    } catch (const DvExCancel&) {
        return nullptr;
    } catch (...) {
        markDead(library);
        return nullptr;
    }
}

DvSession* DvBeginSubSession(DvSession* parent, const DvSelection* patch, int ownAnalysis)
{
    NewHandlerOff handlerOff;
    EntryClaim claim;
    if (claim.session(parent) != DvOk || !patch || !readableSelection(*patch))
        return nullptr;
    try {
        DvInSession& p = sessionOf(parent);
        const AreaRecord area = areaOf(*patch);
        const classification::Rect inside = p.imageRect();
        const classification::Rect& r = area.rectangle;
        if (r.isEmpty() || r.x1 < inside.x1 || r.y1 < inside.y1 || r.x2 > inside.x2 || r.y2 > inside.y2)
            return nullptr;
        return new DvInSession(&p, area, ownAnalysis != 0, DvProgressCallback);
    } catch (const DvExCancel&) {
        return nullptr;
    } catch (...) {
        markDead(parent);
        return nullptr;
    }
}

DvResult DvEndSession(DvSession* session)
{
    return onSession(session, [](DvInSession& s) -> DvResult {
        DvInProgress reporter(DvProgressCallback, "End Session", false);
        delete &s;
        // A session's arrays, freed on many threads, leave holes in their arenas that would
        // stay resident until the next session happened to fill them.
        platform::returnFreeHeap();
        return DvOk;
    });
}

DvImage* DvNewStatusImage(DvLibrary* library, DvImageDesc source)
{
    NewHandlerOff handlerOff;
    EntryClaim claim;
    if (claim.library(library) != DvOk || !source.data || source.width <= 0 || source.height <= 0)
        return nullptr;
    // Types 1 to 3 are read for their alpha; any other type is not read at all.
    const int bpp = source.pixelType == DvPixelStatus ? 0 : bytesPerPixel(source.pixelType);
    if (std::uint64_t(source.stride) < std::uint64_t(bpp) * std::uint64_t(source.width))
        return nullptr;
    try {
        auto image = std::make_unique<DvInImage>(library, source.width, source.height, true);
        initialiseStatus(*image, source);
        return image.release();
    } catch (...) {
        return nullptr;
    }
}

DvResult DvDeleteStatusImage(DvImage* image)
{
    // The image stays on its library until DvFinish.
    EntryClaim claim;
    return claim.image(image);
}

DvResult DvScaleImage(DvImageDesc destination, DvImageDesc source)
{
    NewHandlerOff handlerOff;
    try {
        if (!usableRgba8(destination) || !usableRgba8(source))
            return DvRefused;
        DvInProgress progress(nullptr, "Scale Image", false);
        const int factor = classification::scaleFactor(source.width, source.height,
                                                       destination.width, destination.height);
        const classification::RgbaView8 s = classification::readRgba8(source);
        // A destination whose rows do not start on whole pixels is reduced into a copy of
        // itself, written back row by row.
        classification::RgbaView8 d = classification::readRgba8(destination);
        switch (factor) {
        case 1: classification::copyImage(s, d); break;
        case 2:
        case 4:
        case 8: classification::reduceByBlocks(s, d, factor); break;
        default: return DvRefused;
        }
        if (!classification::viewableRgba8(destination)) {
            auto* to = static_cast<unsigned char*>(destination.data);
            for (int r = 0; r < destination.height; ++r)
                std::memcpy(to + std::size_t(r) * destination.stride, &d(r, 0),
                            std::size_t(destination.width) * sizeof(classification::Rgba8));
        }
        return DvOk;
    } catch (...) {
        return DvInternalFailure;
    }
}

DvResult DvPrepareAnalysis(DvSession* session, DvEdgeOptions options)
{
    return onSession(session, [&](DvInSession& s) -> DvResult { return s.prepareAnalysis(options); });
}

DvResult DvAnalyseImage(DvSession* session, DvProgressFunction callback)
{
    return onSession(session, [&](DvInSession& s) -> DvResult { return s.analyseImage(callback); });
}

DvResult DvSelect(DvSession* session, DvImage* image, const DvSelection* stroke,
                  unsigned char newValue, unsigned char matchTarget, int mode, float strength,
                  DvProgressFunction callback)
{
    return onSessionImage(session, image, [&](DvInSession& s, DvInImage& i) -> DvResult {
        if (!stroke || !readableSelection(*stroke))
            return DvRefused;
        return s.select(i, *stroke, newValue, matchTarget, mode, strength, callback);
    });
}

DvResult DvAutoComplex(DvSession* session, DvImage* image, float bandFactor, DvProgressFunction callback)
{
    return onSessionImage(session, image, [&](DvInSession& s, DvInImage& i) -> DvResult {
        return s.autoComplex(i, bandFactor, callback);
    });
}

DvResult DvDespeckleSelection(DvSession* session, DvImage* image, unsigned char level)
{
    return onSessionImage(session, image, [&](DvInSession& s, DvInImage& i) -> DvResult {
        return s.despeckleSelection(i, level, DvProgressCallback);
    });
}

DvResult DvAutoFill(DvSession* session, DvImage* image, const DvArea* area, unsigned char fillClass,
                    float bandFactor)
{
    return onSessionImage(session, image, [&](DvInSession& s, DvInImage& i) -> DvResult {
        return s.autoFill(i, area, fillClass, bandFactor, DvProgressCallback);
    });
}

DvResult DvSetStatus(DvSession* session, DvImage* image, const DvSelection* status)
{
    return onSessionImage(session, image, [&](DvInSession& s, DvInImage& i) -> DvResult {
        // Status bytes must be there to be read.
        if (!status || !status->image.data || !readableSelection(*status))
            return DvRefused;
        return s.setStatus(i, *status, DvProgressCallback);
    });
}

DvResult DvSetStatusInSession(DvSession* session, DvImage* image)
{
    return onSessionImage(session, image,
                          [](DvInSession& s, DvInImage& i) -> DvResult { return s.setStatusInSession(i); });
}

DvResult DvSetStatusInParent(DvSession* session, DvImage* image)
{
    return onSessionImage(session, image,
                          [](DvInSession& s, DvInImage& i) -> DvResult { return s.setStatusInParent(i); });
}

DvResult DvBeginUndoStep(DvSession* session)
{
    return onSession(session, [](DvInSession& s) -> DvResult { return s.beginUndoStep(); });
}

DvResult DvUndo(DvSession* session)
{
    return onSession(session, [](DvInSession& s) -> DvResult { return s.undo(DvProgressCallback); });
}

DvResult DvRedo(DvSession* session)
{
    return onSession(session, [](DvInSession& s) -> DvResult { return s.redo(DvProgressCallback); });
}

DvResult DvNumAvailableUndo(DvSession* session, int* count)
{
    return onSession(session, [&](DvInSession& s) -> DvResult {
        if (!count)
            return DvRefused;
        *count = int(s.classification().undoStack().undoCount());
        return DvOk;
    });
}

DvResult DvNumAvailableRedo(DvSession* session, int* count)
{
    return onSession(session, [&](DvInSession& s) -> DvResult {
        if (!count)
            return DvRefused;
        *count = int(s.classification().undoStack().redoCount());
        return DvOk;
    });
}

DvResult DvSetVariable(DvSession* session, const char* name, float value)
{
    return onSession(session, [&](DvInSession& s) -> DvResult { return s.setVariable(name, value); });
}

DvResult DvGetVariable(DvSession* session, DvVariable* variable, const char* name)
{
    return onSession(session, [&](DvInSession& s) -> DvResult {
        if (!variable || !name)
            return DvRefused;
        const DvVariable* found = s.findVariable(name);
        if (!found)
            return DvRefused;
        *variable = *found;
        return DvOk;
    });
}

DvResult DvGenerateMask(DvSession* session, const DvArea* area, DvImageDesc cutOut,
                        DvImageDesc source, DvImage* status, const DvForcedEdge* edges,
                        int edgeCount, float bandFactor, float level, const DvMaskPatch* patches,
                        int patchCount)
{
    level = std::isnan(level) ? 0.0f : std::clamp(level, 0.0f, 1.0f);
    return onSessionImage(session, status, [&](DvInSession& s, DvInImage& statusImage) -> DvResult {
        // The two images are read and written together, pixel for pixel.
        if (!readableImage(source) || !readableImage(cutOut) || source.pixelType == DvPixelStatus ||
            cutOut.pixelType != source.pixelType || cutOut.width != source.width ||
            cutOut.height != source.height)
            return DvRefused;
        if (edgeCount < 0 || patchCount < 0 || (edgeCount > 0 && !edges) || (patchCount > 0 && !patches))
            return DvRefused;
        const int factor = resolutionFactor(cutOut.width, cutOut.height, statusImage.width,
                                            statusImage.height);
        // A status image that is no reduction of the cut-out would map the area onto pixels
        // outside it.
        if (!factorRelatesSizes(cutOut.width, cutOut.height, statusImage.width, statusImage.height,
                                factor))
            return DvBadImage;
        // The area is in session coordinates: clipped to the status image, which has the
        // session's size; the body maps it to full resolution with the factor.
        const classification::Rect rect = maskArea(area, statusImage.width, statusImage.height);
        return s.generateMask(cutOut, source, statusImage, rect, factor, edges, edgeCount,
                              bandFactor, level, patches, patchCount);
    });
}

} // extern "C"
