#pragma once
// The mask core: turns the working-resolution classification into alpha and foreground colour
// at full resolution, resolving mixed pixels with a two-colour model blended with a smooth
// ramp over the distances to Keep and Delete.

#include "session/classification.h"
#include "mask/markdistance.h"
#include "mask/maskpasses.h"
#include "session/progress.h"

#include <blitz/array.h>

#include <algorithm>

namespace classification {

template <typename T>
using ColourImage = blitz::Array<Colour<T>, 2>;

// What the mask core reads of the session's classification object.
struct MaskCoreSession {
    // The session's 8-bit working copy of the image: the colours of the region fill.
    ColourImage<unsigned char> image;
    // Source pixels whose alpha is below this fraction of full scale are left alone.
    float minimumOpacity = 1.0f;
};

// What the mask core reads of a session's classification object.
inline MaskCoreSession maskCoreSession(const IiClassification& c) { return {c.image(), c.minimumOpacity}; }

// Colour models of the mixed pixels' foreground and background estimates.
enum MaskColourModel : int { RegionColours = 1, ColourPyramids = 2 };

// Finishes the working rectangle `rect` into `out` (full resolution; `scale` = full-resolution
// pixels per working pixel along each axis). Writes only pixels whose source alpha passes the
// opacity gate and whose nearest working pixel is pending (bit 128) and not decided (bit 64):
// Keep gives the source colour and full alpha, Delete black and alpha 0, anything between a
// background fraction A with alpha trunc((M + 0.99)(1 - A)). Sets bit 64 on the working columns
// it passes, and on the last one also clears bit 128. Colours of Keep and Delete are sampled
// within `sampleRect` of `working` (model 2; an 8-bit working image is scaled to M) or of the
// session's image (model 1, relaxed per patchValueE). Rectangles are clipped to the arrays
// they address. Returns 0; the cancel and allocation exceptions pass through, leaving what was
// written. M = 255 for 8 bits, 65535 for computeMaskCore<unsigned short> and 32768 for
// computeMaskCoreVariant<unsigned short>.
template <typename T>
int computeMaskCore(const MaskCoreSession& session, ColourImage<T>& out,
                    const ColourImage<T>& source, const ColourImage<T>& working,
                    StatusByteArray& status, const Rect& rect, const Rect& sampleRect,
                    FloatPair scale, const StatusByteArray& blendPlane,
                    const MarkDistances& distances, int colourModel, float patchValueE,
                    ProgressRange progress);
template <typename T>
int computeMaskCoreVariant(const MaskCoreSession& session, ColourImage<T>& out,
                           const ColourImage<T>& source, const ColourImage<T>& working,
                           StatusByteArray& status, const Rect& rect, const Rect& sampleRect,
                           FloatPair scale, const StatusByteArray& blendPlane,
                           const MarkDistances& distances, int colourModel, float patchValueE,
                           ProgressRange progress);

// The same with the session's 8-bit image as the working image (the source's extent differs
// from the session's).
template <typename T>
int invokeMaskCore(const MaskCoreSession& session, ColourImage<T>& out,
                   const ColourImage<T>& source, const ColourImage<unsigned char>& working,
                   StatusByteArray& status, const Rect& rect, const Rect& sampleRect,
                   FloatPair scale, const StatusByteArray& blendPlane,
                   const MarkDistances& distances, int colourModel, float patchValueE,
                   ProgressRange progress);
template <typename T>
int invokeMaskCoreVariant(const MaskCoreSession& session, ColourImage<T>& out,
                          const ColourImage<T>& source, const ColourImage<unsigned char>& working,
                          StatusByteArray& status, const Rect& rect, const Rect& sampleRect,
                          FloatPair scale, const StatusByteArray& blendPlane,
                          const MarkDistances& distances, int colourModel, float patchValueE,
                          ProgressRange progress);

// The median of five values by a seven-comparator network.
template <typename T>
inline T median5(T a, T b, T c, T d, T e)
{
    const auto order = [](T& x, T& y) {
        const T lo = std::min(x, y);
        y = std::max(x, y);
        x = lo;
    };
    order(a, b);
    order(d, e);
    order(a, d);
    order(b, e);
    order(b, c);
    order(c, d);
    order(b, c);
    return c;
}

} // namespace classification
