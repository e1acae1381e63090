#pragma once
// Border operations on two-dimensional arrays: replicating a rectangle's edge outward so that
// filters can read past an image, and fencing a rectangle with a constant so that neighbour
// tests never join across it. Templates over the element type (bytes, ints, byte pairs,
// 8-bit and 16-bit colours); arrays are taken by value because a Blitz++ array is a view that
// shares its elements, so channel views, transposes and sub-views work too.

#include "common/rect.h"

#include <blitz/array.h>

#include <algorithm>
#include <cstddef>

namespace classification {

using corvath::utility::Rect;

namespace detail {

// Copies the line of `count` elements starting at `from` to every line from `first` to `last`
// (inclusive, given as line indices), lines `lineStride` apart and elements `step` apart.
template <typename T>
void copyLineOver(T* origin, std::ptrdiff_t lineStride, std::ptrdiff_t step, int from, int first,
                  int last, int count)
{
    const T* src = origin + from * lineStride;
    for (int line = first; line <= last; ++line) {
        T* dst = origin + line * lineStride;
        for (int k = 0; k < count; ++k)
            dst[k * step] = src[k * step];
    }
}

} // namespace detail

// Every element of `a` outside r takes the value of the nearest element of r's edge: rows
// above and below r (within r's columns) copy r's first and last row, then the columns left
// and right of r copy r's first and last column over all rows, so corners take r's corners.
// r is clipped to the array first; an empty clipped rectangle leaves the array untouched.
template <typename T>
void replicateBorder(const Rect& r, blitz::Array<T, 2> a)
{
    const Rect domain = corvath::utility::domainOf(a);
    const Rect in = corvath::utility::intersect(r, domain);
    if (in.isEmpty() || domain.isEmpty())
        return;
    const std::ptrdiff_t s0 = a.stride(0), s1 = a.stride(1);
    // origin addresses index (lb0, lb1); all other positions are offsets from it.
    T* origin = &a(domain.x1, domain.y1);
    const int cols = in.y2 - in.y1 + 1, rows = domain.x2 - domain.x1 + 1;

    T* band = origin + (in.y1 - domain.y1) * s1;
    detail::copyLineOver(band, s0, s1, in.x1 - domain.x1, 0, in.x1 - domain.x1 - 1, cols);
    detail::copyLineOver(band, s0, s1, in.x2 - domain.x1, in.x2 - domain.x1 + 1,
                         domain.x2 - domain.x1, cols);
    detail::copyLineOver(origin, s1, s0, in.y1 - domain.y1, 0, in.y1 - domain.y1 - 1, rows);
    detail::copyLineOver(origin, s1, s0, in.y2 - domain.y1, in.y2 - domain.y1 + 1,
                         domain.y2 - domain.y1, rows);
}

// Every element of `a` outside r is set to v; r may be empty or reach past the array.
template <typename T>
void fillOutsideRect(const Rect& r, const T& v, blitz::Array<T, 2> a)
{
    const Rect d = corvath::utility::domainOf(a);
    if (d.isEmpty())
        return;
    const auto fill = [&](int xa, int ya, int xb, int yb) {
        xa = std::max(xa, d.x1);
        ya = std::max(ya, d.y1);
        xb = std::min(xb, d.x2);
        yb = std::min(yb, d.y2);
        if (xa > xb || ya > yb)
            return;
        const std::ptrdiff_t s0 = a.stride(0), s1 = a.stride(1);
        T* row = &a(xa, ya);
        for (int x = xa; x <= xb; ++x, row += s0) {
            T* p = row;
            for (int y = ya; y <= yb; ++y, p += s1)
                *p = v;
        }
    };
    // Clamping before the +/- 1 keeps the arithmetic inside int for any r.
    const int above = std::clamp(r.x1, d.x1, d.x2 + 1) - 1;
    const int below = std::clamp(r.x2, d.x1 - 1, d.x2) + 1;
    const int left = std::clamp(r.y1, d.y1, d.y2 + 1) - 1;
    const int right = std::clamp(r.y2, d.y1 - 1, d.y2) + 1;
    fill(d.x1, r.y1, above, r.y2);
    fill(below, r.y1, d.x2, r.y2);
    fill(d.x1, d.y1, d.x2, left);
    fill(d.x1, right, d.x2, d.y2);
}

} // namespace classification
