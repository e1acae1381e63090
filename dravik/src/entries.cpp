// The engine's entry points: each validates, runs one operation body and maps what escapes it
// to a result code.
#include "dravik.h"

#include "classification/progress.h"
#include "classification/scale.h"

#include <cstdint>
#include <new>

namespace {

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

} // namespace

extern "C" DvResult DvScaleImage(DvImageDesc destination, DvImageDesc source)
{
    NewHandlerOff handlerOff;
    try {
        if (!usableRgba8(destination) || !usableRgba8(source))
            return DvRefused;
        DvInProgress progress(nullptr, "Scale Image", false);
        const int factor = classification::scaleFactor(source.width, source.height,
                                                       destination.width, destination.height);
        const classification::RgbaView8 s = classification::viewRgba8(source);
        classification::RgbaView8 d = classification::viewRgba8(destination);
        switch (factor) {
        case 1: classification::copyImage(s, d); break;
        case 2:
        case 4:
        case 8: classification::reduceByBlocks(s, d, factor); break;
        default: return DvRefused;
        }
        return DvOk;
    } catch (...) {
        return DvInternalFailure;
    }
}
