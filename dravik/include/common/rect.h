#pragma once
// Inclusive integer rectangles: the engine's description of array domains, changed
// areas and windows. x is the first array index (the row), y the second (the column).

#include "platform/memory.h"

#include <blitz/array.h>

#include <algorithm>
#include <climits>

namespace corvath::utility {

struct IntPair {
    int x = 0;
    int y = 0;
    friend bool operator==(IntPair a, IntPair b) { return a.x == b.x && a.y == b.y; }
};

struct Rect {
    int x1 = 0, y1 = 0, x2 = -1, y2 = -1;

    // The value of a changed or dirty rectangle before anything has been added to it.
    static constexpr Rect emptyValue() { return {INT_MAX, INT_MAX, INT_MIN, INT_MIN}; }

    constexpr bool isEmpty() const { return x1 > x2 || y1 > y2; }
    // Widened to 64 bits: the empty value would overflow an int.
    long long width() const { return (long long)x2 - x1 + 1; }
    long long height() const { return (long long)y2 - y1 + 1; }
    IntPair lower() const { return {x1, y1}; }
    IntPair upper() const { return {x2, y2}; }
    bool contains(int x, int y) const { return x >= x1 && x <= x2 && y >= y1 && y <= y2; }
    // Every coordinate divided by n, truncating toward zero: the rectangle of the next
    // coarser grid.
    Rect divide(int n) const { return {x1 / n, y1 / n, x2 / n, y2 / n}; }

    friend bool operator==(const Rect& a, const Rect& b)
    {
        return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
    }
    friend bool operator!=(const Rect& a, const Rect& b) { return !(a == b); }

    // Interval arithmetic, for array domains and window offset ranges alike. The fields
    // must be real bounds: the empty value overflows when negated.

    // The range of p + k for p in r and k in s (dilation).
    friend constexpr Rect operator+(const Rect& r, const Rect& s)
    {
        return {r.x1 + s.x1, r.y1 + s.y1, r.x2 + s.x2, r.y2 + s.y2};
    }
    // The offset range of a window reflected through its origin.
    constexpr Rect negate() const { return {-x2, -y2, -x1, -y1}; }
    // The range of p - k: the offsets at which s still overlaps r.
    friend constexpr Rect operator-(const Rect& r, const Rect& s) { return r + s.negate(); }
    // The positions p for which p + k stays inside this rectangle for every offset k in s
    // (erosion): the cross sum with the reflected window.
    constexpr Rect minkowskiDifference(const Rect& s) const
    {
        const Rect t = s.negate();
        return {x1 + t.x2, y1 + t.y2, x2 + t.x1, y2 + t.y1};
    }
    // Grows every side by n, in place.
    constexpr void inflate(int n)
    {
        x1 -= n;
        y1 -= n;
        x2 += n;
        y2 += n;
    }
};

inline IntPair extent(const Rect& r) { return {r.x2 - r.x1 + 1, r.y2 - r.y1 + 1}; }
inline bool isEmpty(const Rect& r) { return r.isEmpty(); }
inline Rect transpose(const Rect& r) { return {r.y1, r.x1, r.y2, r.x2}; }

inline IntPair componentMin(IntPair p, IntPair q) { return {std::min(p.x, q.x), std::min(p.y, q.y)}; }
inline IntPair componentMax(IntPair p, IntPair q) { return {std::max(p.x, q.x), std::max(p.y, q.y)}; }
inline IntPair pointDifference(IntPair p, IntPair q) { return {p.x - q.x, p.y - q.y}; }

inline Rect extend(const Rect& r, IntPair p)
{
    if (r.isEmpty())
        return {p.x, p.y, p.x, p.y};
    IntPair lo = componentMin(r.lower(), p), hi = componentMax(r.upper(), p);
    return {lo.x, lo.y, hi.x, hi.y};
}

inline Rect unite(const Rect& r, const Rect& s)
{
    if (r.isEmpty())
        return s;
    if (s.isEmpty())
        return r;
    return {std::min(r.x1, s.x1), std::min(r.y1, s.y1), std::max(r.x2, s.x2), std::max(r.y2, s.y2)};
}

inline Rect intersect(const Rect& r, const Rect& s)
{
    return {std::max(r.x1, s.x1), std::max(r.y1, s.y1), std::min(r.x2, s.x2), std::min(r.y2, s.y2)};
}

// The kernel rectangle of a line filter of n taps, along the first or the second axis.
inline Rect lineDomainFirst(int n) { return {0, 0, n - 1, 0}; }
inline Rect lineDomainSecond(int n) { return {0, 0, 0, n - 1}; }

// a grown on every side by the window's size less one.
inline Rect growByWindow(const Rect& a, const Rect& d)
{
    const int gx = d.x2 - d.x1, gy = d.y2 - d.y1;
    return {a.x1 - gx, a.y1 - gy, a.x2 + gx, a.y2 + gy};
}

inline Rect grow(const Rect& a, int by) { return {a.x1 - by, a.y1 - by, a.x2 + by, a.y2 + by}; }

template <typename T, int N>
Rect domainOf(const blitz::Array<T, N>& a)
{
    static_assert(N == 2, "rectangles describe two-dimensional arrays");
    return {a.lbound(0), a.lbound(1), a.ubound(0), a.ubound(1)};
}

// Whether outer includes every cell of inner (inner not empty).
inline bool covers(const Rect& outer, const Rect& inner)
{
    return outer.x1 <= inner.x1 && outer.y1 <= inner.y1 && outer.x2 >= inner.x2 &&
           outer.y2 >= inner.y2;
}

template <typename T>
bool arrayCovers(const blitz::Array<T, 2>& a, const Rect& r)
{
    return covers(domainOf(a), r);
}

// Resizes the array to r's extent when it differs, then re-bases it at r's lower bound. An
// allocation that fails leaves the array empty.
template <typename T>
void fitArrayToRect(blitz::Array<T, 2>& a, const Rect& r)
{
    const IntPair e = r.isEmpty() ? IntPair{0, 0} : extent(r);
    if (a.extent(0) != e.x || a.extent(1) != e.y) {
        // Blitz drops the old block before it allocates the new one, and keeps pointing at
        // the dropped block, with the new extents, when that allocation throws.
        a.free();
        try {
            a.resize(e.x, e.y);
        } catch (...) {
            a.free();
            throw;
        }
    }
    a.reindexSelf(blitz::TinyVector<int, 2>(r.x1, r.y1));
}

// A view of the array restricted to r (sharing its elements, keeping its indices).
template <typename T>
blitz::Array<T, 2> viewOf(const blitz::Array<T, 2>& a, const Rect& r)
{
    // A Blitz subarray starts at the parent's base, not at the range's start.
    blitz::Array<T, 2> v = a(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2));
    v.reindexSelf(blitz::TinyVector<int, 2>(r.x1, r.y1));
    return v;
}

} // namespace corvath::utility
