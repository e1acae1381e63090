#pragma once
// Small helpers shared by the floods, distance maps and envelope filters.

#include "common/rect.h"

#include <blitz/array.h>
#include <blitz/tinyvec2.h>

#include <vector>

namespace corvath::utility {

// One RGBA sample set of 8 or 16 bits; arrays of these view interleaved RGBA memory.
template <typename T>
using Colour = blitz::TinyVector<T, 4>;

template <typename T>
inline void copyColour(Colour<T>& to, const Colour<T>& from)
{
    to[0] = from[0];
    to[1] = from[1];
    to[2] = from[2];
    to[3] = from[3];
}

// A three-byte colour from ints, each clamped to 0..255, in channel order.
inline blitz::TinyVector<unsigned char, 3> fromClampedInts(int r, int g, int b)
{
    const auto clamp = [](int v) { return static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v); };
    return {clamp(r), clamp(g), clamp(b)};
}

struct FloatPair {
    float x = 0.f;
    float y = 0.f;
};

} // namespace corvath::utility

namespace classification {

using corvath::utility::IntPair;
using corvath::utility::Rect;

// Neighbours of a pixel, limited to a bounds rectangle.
struct NeighbourList {
    std::vector<IntPair> entries;
    Rect bounds;

    explicit NeighbourList(const Rect& b) : bounds(b) { entries.reserve(4); }
};

// Left, up, right, down, in that order, where inside the bounds.
inline void fourNeighbours(NeighbourList& list, IntPair p)
{
    list.entries.clear();
    const Rect& b = list.bounds;
    if (p.x > b.x1) list.entries.push_back({p.x - 1, p.y});
    if (p.y > b.y1) list.entries.push_back({p.x, p.y - 1});
    if (p.x < b.x2) list.entries.push_back({p.x + 1, p.y});
    if (p.y < b.y2) list.entries.push_back({p.x, p.y + 1});
}

inline void diagonalNeighbours(NeighbourList& list, IntPair p)
{
    list.entries.clear();
    const Rect& b = list.bounds;
    if (p.x > b.x1 && p.y > b.y1) list.entries.push_back({p.x - 1, p.y - 1});
    if (p.x > b.x1 && p.y < b.y2) list.entries.push_back({p.x - 1, p.y + 1});
    if (p.x < b.x2 && p.y > b.y1) list.entries.push_back({p.x + 1, p.y - 1});
    if (p.x < b.x2 && p.y < b.y2) list.entries.push_back({p.x + 1, p.y + 1});
}

// An n x n window indexed from 0 holding 1 inside the inscribed disk, 0 outside.
blitz::Array<int, 2> diskWindow(int n);

// A value range split into at most about 2^bitsExponent bins, never finer than 2^minShift values.
struct LevelRange {
    int lo = 0;
    int hi = 0;
    int shift = 0;
    int firstBin = 0;
    int lastBin = 0;

    void set(int lo, int hi, int bitsExponent, int minShift);
    int binCount() const { return lastBin - firstBin + 1; }
};

} // namespace classification
