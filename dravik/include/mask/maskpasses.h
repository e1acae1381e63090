#pragma once
// Image passes that the generate-mask bodies run around the matting solver: the boundary
// colour pyramid, nearest-colour chamfer propagation, bilinear accumulation, and the soft
// ribbons and joins painted along polylines.

#include "common/helpers.h"
#include "session/progress.h"
#include "common/rect.h"

#include <blitz/array.h>
#include <blitz/tinyvec2.h>

#include <cstdint>
#include <vector>

namespace classification {

using corvath::utility::Colour;
using corvath::utility::FloatPair;
using corvath::utility::IntPair;
using corvath::utility::Rect;

using StatusByteArray = blitz::Array<unsigned char, 2>;

// {sum of red, sum of green, sum of blue, count}; a cell with count 0 is empty.
using ColourSumCell = blitz::TinyVector<float, 4>;

struct ColourSumLevel {
    blitz::Array<ColourSumCell, 2> cells;
    // The non-empty cells, each once, in the order in which they first received a sample.
    std::vector<IntPair> occupied;
};

// Levels finest first; the caller owns them.
using ColourSumPyramid = std::vector<ColourSumLevel>;

// Sums the colours (first three samples) of the image's pixels whose status has one of the
// mask's class bits and that have a 4-neighbour, inside the image's domain, without them.
// Level 0 covers the image's domain divided by 2; each further level halves the one before
// until a level's larger extent is 1. No such pixel gives no levels. The status array must
// cover the image's domain. Reports into [a, b] of ui (may be null) with an empty text; the
// cancel exception passes through.
template <typename T>
ColourSumPyramid buildBoundaryColourPyramid(const StatusByteArray& status, unsigned char classMask,
                                            const blitz::Array<Colour<T>, 2>& image,
                                            corvath::utility::IiUI* ui, float a, float b);

// The next coarser level: the finer domain divided by 2, each cell the sum of its children.
ColourSumLevel coarsenColourSums(const ColourSumLevel& finer);

// Chamfer distances of the 5 x 5 neighbourhood.
constexpr int chamferAxial = 34;
constexpr int chamferDiagonal = 48;
constexpr int chamferKnight = 76;
// The distance of a pixel that no seed has reached yet.
constexpr int chamferUnreached = (1 << 30) - 1;

using Rgb8 = blitz::TinyVector<unsigned char, 3>;

// When dq + w < dp (strictly), p takes dq + w and q's colour. The sum is formed in 64 bits,
// so no seed value can overflow it.
inline void relaxDistanceWithColour(int& dp, Rgb8& cp, int dq, const Rgb8& cq, int w)
{
    if (std::int64_t(dq) + w < dp) {
        dp = dq + w;
        cp = cq;
    }
}

// The two raster passes of the nearest-colour propagation over r; the caller seeds the maps.
// Each map's domain must hold r grown by 2 on every side (else std::invalid_argument,
// nothing touched). Reports into [a, b] of ui (may be null) every
// 512th first index; the cancel exception passes through.
void propagateNearestColourForward(const Rect& r, blitz::Array<int, 2>& dist,
                                   blitz::Array<Rgb8, 2>& colour, corvath::utility::IiUI* ui,
                                   float a, float b);
void propagateNearestColourBackward(const Rect& r, blitz::Array<int, 2>& dist,
                                    blitz::Array<Rgb8, 2>& colour, corvath::utility::IiUI* ui,
                                    float a, float b);

// out[c] += (A[c]·a1·a2 + B[c]·b1·b2 + C[c]·c1·c2 + D[c]·d1·d2) · (1 / n), in float.
inline void accumulateBilinear(ColourSumCell& out, const ColourSumCell& A, float a1, float a2,
                               const ColourSumCell& B, float b1, float b2, const ColourSumCell& C,
                               float c1, float c2, const ColourSumCell& D, float d1, float d2,
                               float n)
{
    const float inv = 1.f / n;
    for (int c = 0; c < 4; ++c)
        out[c] += (A[c] * a1 * a2 + B[c] * b1 * b2 + C[c] * c1 * c2 + D[c] * d1 * d2) * inv;
}

// Paints a soft band that continues the segment P→Q beyond Q by the length W, half width h,
// on the side k (±1) of the segment: pixels whose source alpha reaches threshold × V blend
// from the source colour (with a smooth-step alpha across the band) at Q towards the
// destination's own colour at the band's far end. The source shares the destination's
// indices. Instantiated for (unsigned char, 255), (unsigned short, 65535) and
// (unsigned short, 32768).
template <typename T, int V>
void renderSegmentRibbon(FloatPair P, FloatPair Q, float h, float W, int k,
                         const blitz::Array<Colour<T>, 2>& source, float threshold,
                         blitz::Array<Colour<T>, 2>& destination);

// Lays a disk of radius R around the joint J of a turning polyline into a field of signed
// fixed-point distances (distance / w, at most 4, times scale, signed by the turn and e);
// every cell keeps the value of smallest magnitude, the unset marker counting as 32768, and a
// cell leaving the unset marker is appended to setPositions. A straight joint draws nothing.
void renderJoin(FloatPair previous, FloatPair J, FloatPair next, int e, float R, float w,
                float scale, blitz::Array<short, 2>& field, std::vector<IntPair>& setPositions,
                short unset);

} // namespace classification

namespace corvath::utility {

inline bool allComponentsEqual(FloatPair p, int n) { return p.x == n && p.y == n; }

inline FloatPair scaleVector(FloatPair v, int k) { return {v.x * float(k), v.y * float(k)}; }

inline FloatPair divideComponents(FloatPair v, FloatPair d) { return {v.x / d.x, v.y / d.y}; }

// v times the reciprocal of d, formed in double and stored as float.
inline FloatPair divideVector(FloatPair v, double d)
{
    const double r = 1.0 / d;
    return {float(v.x * r), float(v.y * r)};
}

inline blitz::TinyVector<float, 4> samplesToFloats(const Colour<unsigned char>& c, float scale)
{
    return blitz::TinyVector<float, 4>(float(c[0]) * scale, float(c[1]) * scale,
                                       float(c[2]) * scale, float(c[3]) * scale);
}

// The first three samples as floats.
inline blitz::TinyVector<float, 3> rgbToFloats(const Colour<unsigned short>& c)
{
    return blitz::TinyVector<float, 3>(float(c[0]), float(c[1]), float(c[2]));
}

} // namespace corvath::utility
