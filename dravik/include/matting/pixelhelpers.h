#pragma once
// Per-pixel value routines of the matting solver and the mask passes: conversions between
// the solver's float colours and stored samples, colour blends, grid mapping and clamping.

#include "common/border.h"
#include "common/helpers.h"
#include "common/rect.h"

#include <blitz/tinyvec2.h>

namespace corvath::matting {

using utility::Colour;
using utility::FloatPair;
using utility::IntPair;

// The solver's colour: red, green, blue in sample units (0..255 or 0..the 16-bit full scale).
using SolverColour = blitz::TinyVector<float, 3>;
// A stored RGB colour of 8-bit or 16-bit samples. Arrays of them replicate their borders
// with classification::replicateBorder<StoredColour<T>>.
template <typename T>
using StoredColour = blitz::TinyVector<T, 3>;

// Full scales of the engine's pixel types: 8-bit, 16-bit code 2 and 16-bit code 3.
constexpr int fullScale8 = 255;
constexpr int fullScale16 = 65535;
constexpr int halfScale16 = 32768;

namespace detail {

// Truncation toward zero, then clamping to 0..Max. Clamped in float first so that no value
// (huge, infinite or NaN, which gives 0) reaches an undefined float-to-int conversion; the
// result equals truncate-then-clamp for every finite value.
template <typename T, int Max>
inline T truncateClamped(float v)
{
    if (!(v > 0.f))
        return 0;
    if (v >= float(Max))
        return T(Max);
    return T(v);
}

template <typename T, int Max>
inline StoredColour<T> truncateClampedColour(const SolverColour& c)
{
    return StoredColour<T>(truncateClamped<T, Max>(c[0]), truncateClamped<T, Max>(c[1]),
                           truncateClamped<T, Max>(c[2]));
}

} // namespace detail

// Truncation toward zero with no clamping: the caller passes values inside the sample range.
template <typename T>
inline StoredColour<T> truncateColour(const SolverColour& c)
{
    return StoredColour<T>(T(c[0]), T(c[1]), T(c[2]));
}

// Truncated toward zero, then clamped to 0..255.
inline StoredColour<unsigned char> clampColour8(const SolverColour& c)
{
    return detail::truncateClampedColour<unsigned char, fullScale8>(c);
}

// Pixel-type code 2: truncated toward zero, then clamped to 0..65535.
inline StoredColour<unsigned short> toFullRange16(const SolverColour& c)
{
    return detail::truncateClampedColour<unsigned short, fullScale16>(c);
}

// Pixel-type code 3: truncated toward zero, then clamped to 0..32768.
inline StoredColour<unsigned short> toHalfRange16(const SolverColour& c)
{
    return detail::truncateClampedColour<unsigned short, halfScale16>(c);
}

// S·a + V·b per channel, in float.
template <typename T>
inline SolverColour blendColour(float a, const StoredColour<T>& s, float b, const SolverColour& v)
{
    return SolverColour(float(s[0]) * a + v[0] * b, float(s[1]) * a + v[1] * b,
                        float(s[2]) * a + v[2] * b);
}

// The truncation of P·a + Q·b in each of the four channels. With a, b >= 0 and a + b <= 1
// the result stays inside the sample range.
template <typename T>
inline Colour<T> blendRgba(float a, const Colour<T>& p, float b, const Colour<T>& q)
{
    return Colour<T>(T(float(p[0]) * a + float(q[0]) * b), T(float(p[1]) * a + float(q[1]) * b),
                     T(float(p[2]) * a + float(q[2]) * b), T(float(p[3]) * a + float(q[3]) * b));
}

// ((x + offset) / scale.x, (y + offset) / scale.y), each truncated toward zero.
inline IntPair mapToGrid(IntPair p, float offset, FloatPair scale)
{
    return {int((float(p.x) + offset) / scale.x), int((float(p.y) + offset) / scale.y)};
}

} // namespace corvath::matting

namespace corvath::utility {

// Moves each coordinate of p onto the rectangle's nearest side when it lies outside.
inline void clampIntoRect(IntPair& p, const Rect& r)
{
    if (p.x < r.x1)
        p.x = r.x1;
    else if (p.x > r.x2)
        p.x = r.x2;
    if (p.y < r.y1)
        p.y = r.y1;
    else if (p.y > r.y2)
        p.y = r.y2;
}

} // namespace corvath::utility
