#pragma once
// Fast line filters: every element combined with the w elements of its line that end at it,
// by an associative operation (maximum, minimum, logical or, histogram sum). Lines are cut
// into blocks of w elements and each window is assembled from a forward and a backward
// running pass over the blocks, so the cost per element is three operations whatever w is.

#include "session/progress.h"
#include "common/rect.h"

#include <blitz/array.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace morphology {

using corvath::utility::Rect;

struct LineOpMax {
    unsigned char operator()(unsigned char a, unsigned char b) const { return a > b ? a : b; }
};

struct LineOpMin {
    unsigned char operator()(unsigned char a, unsigned char b) const { return a < b ? a : b; }
};

struct LineOpOr {
    int operator()(int a, int b) const { return (a != 0 || b != 0) ? 1 : 0; }
};

// The sum of two histograms, covering both operands' level ranges. The histogram type supplies
// it as `histogramSum(p, q, binsLog, minShift)`, found by argument-dependent lookup.
struct LineOpHistogramSum {
    int binsLog = 0;
    int minShift = 0;

    template <typename H>
    H operator()(const H& p, const H& q) const
    {
        return histogramSum(p, q, binsLog, minShift);
    }
};

namespace detail {

// Lines filtered together: a cache line of small elements, so that a pass along the first
// index of a row-major array reads whole cache lines; elements that own memory go one line
// at a time, which keeps the scratch at two lines of them.
template <typename T>
constexpr int stripWidth()
{
    return std::is_trivially_copyable_v<T> ? int(std::max<std::size_t>(1, 64 / sizeof(T))) : 1;
}

// The lines of one strip, addressed from their first elements.
template <typename T>
struct StripLines {
    const T* src;
    std::ptrdiff_t srcStep;  // between elements of a line
    std::ptrdiff_t srcLine;  // between lines
    T* dst;                  // first output element of the first line
    std::ptrdiff_t dstStep;
    std::ptrdiff_t dstLine;
    int count;               // lines in this strip, at most B
};

// One step of a running pass over the lines of a strip: out[b] = in[b * stride] or
// op(in[b * stride], prev[b]). With Dense (a full strip of adjacent lines) the loop has a
// fixed count and unit stride, so the compiler turns it into vector instructions.
template <bool Dense, int B, typename T>
inline void copyStep(T* __restrict out, const T* __restrict in, std::ptrdiff_t stride, int count)
{
    if constexpr (Dense) {
        for (int b = 0; b < B; ++b)
            out[b] = in[b];
    } else {
        for (int b = 0; b < count; ++b)
            out[b] = in[b * stride];
    }
}

template <bool Dense, int B, typename T, typename Op>
inline void opStep(T* __restrict out, const T* __restrict in, std::ptrdiff_t stride,
                   const T* __restrict prev, int count, Op& op)
{
    if constexpr (Dense) {
        for (int b = 0; b < B; ++b)
            out[b] = op(in[b], prev[b]);
    } else {
        for (int b = 0; b < count; ++b)
            out[b] = op(in[b * stride], prev[b]);
    }
}

// The combine step, writing through the destination's line stride.
template <bool Dense, int B, typename T, typename Op>
inline void combineStep(T* __restrict out, std::ptrdiff_t stride, const T* __restrict h,
                        const T* __restrict g, int count, Op& op)
{
    if constexpr (Dense) {
        for (int b = 0; b < B; ++b)
            out[b] = op(h[b], g[b]);
    } else {
        for (int b = 0; b < count; ++b)
            out[b * stride] = op(h[b], g[b]);
    }
}

template <bool Dense, int B, typename T>
inline void storeStep(T* __restrict out, std::ptrdiff_t stride, const T* __restrict h, int count)
{
    if constexpr (Dense) {
        for (int b = 0; b < B; ++b)
            out[b] = h[b];
    } else {
        for (int b = 0; b < count; ++b)
            out[b * stride] = h[b];
    }
}

// Filters the lines of a strip of length n with window w; g and h hold n * B elements,
// element x of line b at x * B + b. Every line is read whole before its outputs are written.
template <bool Dense, int B, typename T, typename Op>
void filterStrip(const StripLines<T>& s, int n, int w, T* g, T* h, Op& op)
{
    const int count = s.count;
    const std::ptrdiff_t in = s.srcLine;

    // Forward: restart at the first element of every block.
    for (int x = 0, phase = 0; x < n; ++x) {
        T* out = g + std::ptrdiff_t(x) * B;
        if (phase == 0)
            copyStep<Dense, B>(out, s.src + x * s.srcStep, in, count);
        else
            opStep<Dense, B>(out, s.src + x * s.srcStep, in, out - B, count, op);
        if (++phase == w)
            phase = 0;
    }
    // Backward: restart at the last element of every block, the last block possibly short.
    for (int x = n - 1, phase = (n - 1) % w; x >= 0; --x) {
        T* out = h + std::ptrdiff_t(x) * B;
        if (phase == w - 1 || x == n - 1)
            copyStep<Dense, B>(out, s.src + x * s.srcStep, in, count);
        else
            opStep<Dense, B>(out, s.src + x * s.srcStep, in, out + B, count, op);
        if (--phase < 0)
            phase = w - 1;
    }
    // Combine: a window that is exactly one block is h alone.
    for (int i = 0, phase = 0; i <= n - w; ++i) {
        T* out = s.dst + i * s.dstStep;
        const T* hi = h + std::ptrdiff_t(i) * B;
        if (phase == 0)
            storeStep<Dense, B>(out, s.dstLine, hi, count);
        else
            combineStep<Dense, B>(out, s.dstLine, hi, g + std::ptrdiff_t(i + w - 1) * B, count, op);
        if (++phase == w)
            phase = 0;
    }
}

inline const std::string& convolveProgressText()
{
    static const std::string text = std::string(__FILE__) + ": 312:\n(before [convolve line fast]): ";
    return text;
}

} // namespace detail

// Filters along the first index: destination(x, y) = op over source(x - w + 1 .. x, y) on the
// returned rectangle {lb0 + w - 1, lb1, ub0, ub1}, which the destination must cover; nothing
// else of it is written. A line shorter than w (or w below 1) gives an empty rectangle and
// no writes. Source and destination may be views of the same array.
template <typename T, typename Op>
Rect convolveLineFast(const blitz::Array<T, 2>& source, const int& window, Op op,
                      blitz::Array<T, 2> destination, ProgressRange progress)
{
    const int w = window;
    const Rect in = corvath::utility::domainOf(source);
    if (w < 1)
        return {in.x2 + 1, in.y1, in.x2, in.y2};
    const long long first = (long long)in.x1 + w - 1;
    const Rect out{int(std::min<long long>(first, INT_MAX)), in.y1, in.x2, in.y2};
    if (out.isEmpty())
        return out;
    const Rect d = corvath::utility::domainOf(destination);
    if (corvath::utility::intersect(out, d) != out)
        throw std::invalid_argument("line filter destination does not cover its output");

    constexpr int B = detail::stripWidth<T>();
    const int n = in.x2 - in.x1 + 1;
    std::vector<T> g(std::size_t(n) * B), h(std::size_t(n) * B);

    detail::StripLines<T> s{};
    s.srcStep = source.stride(0);
    s.srcLine = source.stride(1);
    s.dstStep = destination.stride(0);
    s.dstLine = destination.stride(1);
    const T* srcOrigin = &source(in.x1, in.y1);
    T* dstOrigin = &destination(out.x1, out.y1);
    const float rows = float(out.y2 - out.y1 + 1);

    for (int y = out.y1; y <= out.y2;) {
        // A strip ends at a progress row, so a report finds exactly the rows up to it written.
        int last = int(std::min<long long>((long long)y + B - 1, out.y2));
        for (int r = y; r < last; ++r)
            if ((r & 127) == 0) {
                last = r;
                break;
            }
        s.count = last - y + 1;
        s.src = srcOrigin + std::ptrdiff_t(y - out.y1) * s.srcLine;
        s.dst = dstOrigin + std::ptrdiff_t(y - out.y1) * s.dstLine;
        if (s.count == B && s.srcLine == 1 && s.dstLine == 1)
            detail::filterStrip<true, B>(s, n, w, g.data(), h.data(), op);
        else
            detail::filterStrip<false, B>(s, n, w, g.data(), h.data(), op);
        if ((last & 127) == 0 && progress.parent) {
            const float t = float(last - out.y1 + 1) / rows;
            progress.parent->progress((1.f - t) * progress.lo + t * progress.hi,
                                      detail::convolveProgressText());
        }
        if (last == out.y2)
            break;
        y = last + 1;
    }
    return out;
}

// The same for the minimum filter of bytes.
template <typename T>
Rect convolveLineFastB(const blitz::Array<T, 2>& source, const int& window, LineOpMin op,
                       blitz::Array<T, 2> destination, ProgressRange progress)
{
    return convolveLineFast(source, window, op, destination, progress);
}

// Filters along the second index: destination(x, y) = op over source(x, y - w + 1 .. y) on
// {lb0, lb1 + w - 1, ub0, ub1}.
template <typename T, typename Op>
Rect convolveLineFastTransposed(const blitz::Array<T, 2>& source, const int& window, Op op,
                                blitz::Array<T, 2> destination, ProgressRange progress)
{
    const int w = window;
    const blitz::Array<T, 2> sourceT = source.transpose(1, 0);
    return corvath::utility::transpose(
        convolveLineFast(sourceT, w, op, destination.transpose(1, 0), progress));
}

// A view reflected through the origin on both indices: view(i, j) is array(-i, -j).
template <typename T>
blitz::Array<T, 2> reflect(const blitz::Array<T, 2>& a)
{
    blitz::Array<T, 2> v = a;
    v.reindexSelf(blitz::TinyVector<int, 2>(-a.ubound(0), -a.ubound(1)));
    v.reverseSelf(0);
    v.reverseSelf(1);
    return v;
}

// The window starts at the element instead of ending there, along the first index:
// destination(x, y) = op over source(x .. x + w - 1, y) on {lb0, lb1, ub0 - w + 1, ub1}.
template <typename T, typename Op>
Rect lineFilterPairB(const blitz::Array<T, 2>& source, const int& window, Op op,
                     blitz::Array<T, 2> destination, ProgressRange progress)
{
    return convolveLineFast(reflect(source), window, op, reflect(destination), progress).negate();
}

// The same along the second index: destination(x, y) = op over source(x, y .. y + w - 1) on
// {lb0, lb1, ub0, ub1 - w + 1}.
template <typename T, typename Op>
Rect lineFilterPairA(const blitz::Array<T, 2>& source, const int& window, Op op,
                     blitz::Array<T, 2> destination, ProgressRange progress)
{
    return convolveLineFastTransposed(reflect(source), window, op, reflect(destination), progress)
        .negate();
}

} // namespace morphology
