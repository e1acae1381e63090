#include "analysis/percentile.h"

#include "analysis/rancour.h"
#include "morphology/convolve.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace classification {

namespace {

using corvath::utility::domainOf;

// Where the order statistic of one percentile lies among n values.
struct Rank {
    int lower = 1;       // the order statistic that the cursor stands on
    int upper = 1;       // the next one, for the interpolation
    float fraction = 0;  // how far the target lies past `lower`

    Rank() = default;
    Rank(float p, int n)
    {
        // Out-of-range or NaN percentiles would walk the cursor off the histogram.
        p = p >= 0.f ? (p <= 1.f ? p : 1.f) : 0.f;
        const float t = p * float(n - 1) + 1.f;
        // The guard keeps floating-point noise from moving an integral rank.
        lower = std::clamp(int(std::floor(t + 0.001f)), 1, n);
        upper = std::clamp(int(std::ceil(t - 0.001f)), 1, n);
        fraction = t - float(lower);
    }
};

// A bin of the histogram and the number of window values at or below it.
struct Cursor {
    int bin = 0;
    int atOrBelow = 0;
};

// The window as storage offsets into the source, relative to the pixel being filtered. Runs
// of a window row are listed left to right, so leaving[i] and entering[i] belong to one run.
struct Offsets {
    std::vector<std::ptrdiff_t> all, leaving, entering;
    // The same for a step down one row: what the window above held and this one does not,
    // and what this one holds that the window above did not.
    std::vector<std::ptrdiff_t> above, below;
};

Offsets windowOffsets(const blitz::Array<int, 2>& window, std::ptrdiff_t s0, std::ptrdiff_t s1)
{
    Offsets o;
    const Rect d = domainOf(window);
    const auto inside = [&](int r, int c) {
        return r >= d.x1 && r <= d.x2 && c >= d.y1 && c <= d.y2 && window(r, c) != 0;
    };
    for (int r = d.x1; r <= d.x2; ++r)
        for (int c = d.y1; c <= d.y2; ++c) {
            if (window(r, c) == 0)
                continue;
            o.all.push_back(r * s0 + c * s1);
            if (!inside(r, c - 1))
                o.leaving.push_back(r * s0 + (c - 1) * s1);
            if (!inside(r, c + 1))
                o.entering.push_back(r * s0 + c * s1);
            if (!inside(r - 1, c))
                o.above.push_back((r - 1) * s0 + c * s1);
            if (!inside(r + 1, c))
                o.below.push_back(r * s0 + c * s1);
        }
    return o;
}

template <typename D, int K>
void store(D& d, const int (&v)[K])
{
    if constexpr (K == 1)
        d = static_cast<D>(v[0]);
    else
        for (int k = 0; k < K; ++k)
            d[k] = static_cast<typename D::T_numtype>(v[k]);
}

// Steps the cursor to the lower-rank order statistic.
inline void moveCursor(Cursor& c, const int* hist, int lower)
{
    if (c.atOrBelow >= lower) {
        while (c.atOrBelow - hist[c.bin] >= lower)
            c.atOrBelow -= hist[c.bin--];
    } else {
        while (c.atOrBelow < lower)
            c.atOrBelow += hist[++c.bin];
    }
}

inline int cursorValue(const Cursor& c, const int* hist, const Rank& rank)
{
    if (c.atOrBelow >= rank.upper)
        return c.bin;
    int next = c.bin + 1;
    while (hist[next] == 0)
        ++next;
    return c.bin + int(float(next - c.bin) * rank.fraction + 0.5f);
}

// Plain selects on ints, which the compiler emits as conditional moves: the data decide
// every comparison here, so branches would be mispredicted half the time.
inline int min2(int a, int b) { return a < b ? a : b; }
inline int max2(int a, int b) { return a < b ? b : a; }
inline int median3(int a, int b, int c) { return max2(min2(a, b), min2(max2(a, b), c)); }

void reportRow(corvath::utility::IiUI* ui, int row, const Rect& out, float low, float high)
{
    if (!ui || (row & 255) != 0)
        return;
    const float f = float(row - out.x1 + 1) / float(out.x2 - out.x1 + 1);
    ui->progress((1.f - f) * low + f * high, std::string());
}

// The median of a full 3 x 3 window at (r0, c0) .. (r0 + 2, c0 + 2). Each column of three is
// sorted once per row and shared by the three windows that hold it; the median of nine is
// then the median of the largest low, the middle middle and the smallest high.
template <typename S, typename D>
void medianOfNineFilter(blitz::Array<D, 2>& destination, const blitz::Array<S, 2>& source, int r0,
                        int c0, const Rect& out, corvath::utility::IiUI* ui, float progressLow,
                        float progressHigh)
{
    const std::ptrdiff_t s0 = source.stride(0), s1 = source.stride(1), d1 = destination.stride(1);
    const int width = out.y2 - out.y1 + 1;
    std::vector<int> columns(3 * (std::size_t(width) + 2));
    int* lo = columns.data();
    int* mid = lo + width + 2;
    int* hi = mid + width + 2;
    for (int x = out.x1; x <= out.x2; ++x) {
        const S* a = &source(x + r0, out.y1 + c0);
        for (int j = 0; j < width + 2; ++j, a += s1) {
            const int u = a[0], v = a[s0], w = a[2 * s0];
            const int small = min2(u, v), large = max2(u, v);
            lo[j] = min2(small, w);
            hi[j] = max2(large, w);
            mid[j] = max2(small, min2(large, w));
        }
        D* d = &destination(x, out.y1);
        for (int j = 0; j < width; ++j, d += d1) {
            const int low = max2(max2(lo[j], lo[j + 1]), lo[j + 2]);
            const int high = min2(min2(hi[j], hi[j + 1]), hi[j + 2]);
            *d = static_cast<D>(median3(low, median3(mid[j], mid[j + 1], mid[j + 2]), high));
        }
        reportRow(ui, x, out, progressLow, progressHigh);
    }
}

// Byte lanes for a block of neighbouring pixels; a plain vector type, so the compiler picks
// the instructions the target has.
constexpr int laneCount = 16;
typedef unsigned char Lanes __attribute__((vector_size(laneCount)));

inline Lanes loadLanes(const unsigned char* p)
{
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The envelopes' disk has nine runs; a fixed count lets the compiler unroll the slide.
constexpr int diskRuns = 9;

// One step of the histogram along a row, from a block's leaving and entering values (run i's
// at i * laneCount); R is the run count when fixed, 0 when given at run time.
template <int R>
inline void slide(int* hist, const unsigned char* lefts, const unsigned char* rights, int runs)
{
    const int count = R > 0 ? R : runs;
#pragma GCC unroll 16
    for (int i = 0; i < count; ++i) {
        --hist[lefts[i * laneCount]];
        ++hist[rights[i * laneCount]];
    }
}

template <typename S, int K, typename D>
Rect percentileFilter(blitz::Array<D, 2>& destination, const blitz::Array<S, 2>& source,
                      const blitz::Array<int, 2>& window, const float (&percentiles)[K],
                      corvath::utility::IiUI* ui, float progressLow, float progressHigh)
{
    const Rect out = domainOf(source).minkowskiDifference(domainOf(window));
    if (out.isEmpty())
        return out;
    if (corvath::utility::intersect(out, domainOf(destination)) != out)
        throw std::invalid_argument("percentile filter destination does not cover its output");

    const std::ptrdiff_t s1 = source.stride(1), d1 = destination.stride(1);
    const Offsets offsets = windowOffsets(window, source.stride(0), s1);
    const int n = int(offsets.all.size());
    if (n == 0) {
        const int zero[K] = {};
        for (int x = out.x1; x <= out.x2; ++x) {
            D* d = &destination(x, out.y1);
            for (int y = out.y1; y <= out.y2; ++y, d += d1)
                store(*d, zero);
        }
        return out;
    }

    Rank ranks[K];
    for (int k = 0; k < K; ++k)
        ranks[k] = Rank(percentiles[k], n);

    // The full 3 x 3 median, as the matting smoothing runs it per channel: nine values sorted
    // directly beat any histogram. The rank is exact, so the result is the same.
    if constexpr (K == 1) {
        if (n == 9 && ranks[0].lower == 5 && ranks[0].upper == 5 && window.extent(0) == 3 &&
            window.extent(1) == 3) {
            medianOfNineFilter(destination, source, window.lbound(0), window.lbound(1), out, ui,
                               progressLow, progressHigh);
            return out;
        }
    }

    // One bin per value of the sample type; only the bins of the window's values are ever
    // non-zero, so a row clears just those.
    std::vector<int> histogram(std::size_t(std::numeric_limits<S>::max()) + 1, 0);
    int* hist = histogram.data();
    const std::ptrdiff_t* all = offsets.all.data();
    const std::ptrdiff_t* leaving = offsets.leaving.data();
    const std::ptrdiff_t* entering = offsets.entering.data();
    const int runs = int(offsets.leaving.size());  // one leaving and one entering offset each

    // Each cursor's bin and count per column, as the row above left them (byte rows only).
    const int width = out.y2 - out.y1 + 1;
    const int steps = int(offsets.above.size());
    const bool byRows = std::is_same_v<S, unsigned char> && s1 == 1 && steps <= 127;
    std::vector<int> aboveBins, aboveCounts;
    std::vector<Lanes> leftValues, rightValues;  // a block's leaving and entering values by run
    if (byRows) {
        leftValues.resize(std::size_t(runs));
        rightValues.resize(std::size_t(runs));
        aboveBins.resize(std::size_t(K) * std::size_t(width));
        aboveCounts.resize(std::size_t(K) * std::size_t(width));
    }
    const auto remember = [&](const Cursor (&c)[K], int y) {
        if (byRows)
            for (int k = 0; k < K; ++k) {
                aboveBins[std::size_t(k) * std::size_t(width) + std::size_t(y - out.y1)] = c[k].bin;
                aboveCounts[std::size_t(k) * std::size_t(width) + std::size_t(y - out.y1)] = c[k].atOrBelow;
            }
    };

    for (int x = out.x1; x <= out.x2; ++x) {
        const S* row = &source(x, out.y1);
        D* drow = &destination(x, out.y1);
        for (int i = 0; i < n; ++i)
            ++hist[row[all[i]]];
        Cursor cursors[K];
        int values[K];
        for (int k = 0; k < K; ++k) {
            cursors[k] = {0, hist[0]};
            moveCursor(cursors[k], hist, ranks[k].lower);
            values[k] = cursorValue(cursors[k], hist, ranks[k]);
        }
        store(*drow, values);
        remember(cursors, out.y1);

        int y = out.y1 + 1;
        if constexpr (std::is_same_v<S, unsigned char>) {
            // Below the first row, each pixel's cursor starts where the pixel above ended:
            // the count at or below that bin changes by the window's top and bottom edges,
            // found for laneCount pixels at once with per-lane bins. That replaces the
            // per-value cursor updates of the step along the row; the histogram still slides
            // along the row for the cursor's walk, and a walk from any bin with its true
            // count ends where the step-by-step cursor would, so the results are the same.
            const std::ptrdiff_t* above = offsets.above.data();
            const std::ptrdiff_t* below = offsets.below.data();
            for (; byRows && x > out.x1 && y + laneCount - 1 <= out.y2; y += laneCount) {
                const unsigned char* p = row + (y - out.y1);
                const std::size_t column = std::size_t(y - out.y1);
                Lanes level[K], change[K], moved{};
                for (int k = 0; k < K; ++k) {
                    const int* bins = &aboveBins[std::size_t(k) * std::size_t(width) + column];
                    for (int j = 0; j < laneCount; ++j)
                        level[k][j] = static_cast<unsigned char>(bins[j]);
                    change[k] = Lanes{};
                }
                for (int i = 0; i < runs; ++i) {
                    const Lanes left = loadLanes(p + leaving[i]), right = loadLanes(p + entering[i]);
                    leftValues[std::size_t(i)] = left;
                    rightValues[std::size_t(i)] = right;
                    moved |= (Lanes)(left != right);
                }
                const unsigned char* lefts = reinterpret_cast<const unsigned char*>(leftValues.data());
                const unsigned char* rights = reinterpret_cast<const unsigned char*>(rightValues.data());
                unsigned char slides[laneCount];
                std::memcpy(slides, &moved, sizeof slides);
                for (int i = 0; i < steps; ++i) {
                    const Lanes gone = loadLanes(p + above[i]), come = loadLanes(p + below[i]);
                    // A true comparison is all ones: a value leaving at or below the bin adds
                    // minus one, one entering subtracts it.
                    for (int k = 0; k < K; ++k)
                        change[k] += (Lanes)(gone <= level[k]) - (Lanes)(come <= level[k]);
                }
                signed char changes[K][laneCount];
                std::memcpy(changes, change, sizeof changes);
                D* d = drow + std::ptrdiff_t(y - out.y1) * d1;
                for (int j = 0; j < laneCount; ++j, d += d1, ++p) {
                    // Where every run's leaving and entering values are equal the histogram
                    // stays as it is.
                    if (slides[j] != 0) {
                        if (runs == diskRuns)
                            slide<diskRuns>(hist, lefts + j, rights + j, runs);
                        else
                            slide<0>(hist, lefts + j, rights + j, runs);
                    }
                    for (int k = 0; k < K; ++k) {
                        const std::size_t at = std::size_t(k) * std::size_t(width) + column + std::size_t(j);
                        cursors[k] = {aboveBins[at], aboveCounts[at] + changes[k][j]};
                        moveCursor(cursors[k], hist, ranks[k].lower);
                        values[k] = cursorValue(cursors[k], hist, ranks[k]);
                        aboveBins[at] = cursors[k].bin;
                        aboveCounts[at] = cursors[k].atOrBelow;
                    }
                    store(*d, values);
                }
            }
        }

        for (; y <= out.y2; ++y) {
            const S* p = row + std::ptrdiff_t(y - out.y1) * s1;
            D* d = drow + std::ptrdiff_t(y - out.y1) * d1;
            // Each run of a window row loses its left neighbour and gains its last element.
            for (int i = 0; i < runs; ++i) {
                const int out = p[leaving[i]], in = p[entering[i]];
                --hist[out];
                ++hist[in];
                for (int k = 0; k < K; ++k)
                    cursors[k].atOrBelow += int(in <= cursors[k].bin) - int(out <= cursors[k].bin);
            }
            for (int k = 0; k < K; ++k) {
                moveCursor(cursors[k], hist, ranks[k].lower);
                values[k] = cursorValue(cursors[k], hist, ranks[k]);
            }
            store(*d, values);
            remember(cursors, y);
        }
        const S* last = row + std::ptrdiff_t(out.y2 - out.y1) * s1;
        for (int i = 0; i < n; ++i)
            hist[last[all[i]]] = 0;
        reportRow(ui, x, out, progressLow, progressHigh);
    }
    return out;
}

// The window reflected through its origin, as a view.
template <typename S>
Rect driver(blitz::Array<S, 2> destination, const blitz::Array<S, 2>& source,
            const blitz::Array<int, 2>& window, float percentile, corvath::utility::IiUI* ui,
            float progressLow, float progressHigh)
{
    const float p[1] = {percentile};
    return percentileFilter(destination, source, morphology::reflect(window), p, ui, progressLow,
                            progressHigh);
}

} // namespace

Rect processOneChannelImageBody(blitz::Array<unsigned char, 2> destination,
                                const blitz::Array<unsigned char, 2>& source,
                                const blitz::Array<int, 2>& window, int, int, float percentile,
                                corvath::utility::IiUI* ui, float progressLow, float progressHigh)
{
    const float p[1] = {percentile};
    return percentileFilter(destination, source, window, p, ui, progressLow, progressHigh);
}

Rect processOneChannelImageBody(blitz::Array<unsigned short, 2> destination,
                                const blitz::Array<unsigned short, 2>& source,
                                const blitz::Array<int, 2>& window, int, int, float percentile,
                                corvath::utility::IiUI* ui, float progressLow, float progressHigh)
{
    const float p[1] = {percentile};
    return percentileFilter(destination, source, window, p, ui, progressLow, progressHigh);
}

Rect processOneChannelImageDriver(blitz::Array<unsigned char, 2> destination,
                                  const blitz::Array<unsigned char, 2>& source,
                                  const blitz::Array<int, 2>& window, int, int, float percentile,
                                  corvath::utility::IiUI* ui, float progressLow, float progressHigh)
{
    return driver(destination, source, window, percentile, ui, progressLow, progressHigh);
}

Rect processOneChannelImageDriver(blitz::Array<unsigned short, 2> destination,
                                  const blitz::Array<unsigned short, 2>& source,
                                  const blitz::Array<int, 2>& window, int, int, float percentile,
                                  corvath::utility::IiUI* ui, float progressLow, float progressHigh)
{
    return driver(destination, source, window, percentile, ui, progressLow, progressHigh);
}

// A Blitz++ view already addresses its own lengths and strides, so any view is filtered in
// place through it.
Rect processOneChannelImage(blitz::Array<unsigned char, 2> destination,
                            const blitz::Array<unsigned char, 2>& source,
                            const blitz::Array<int, 2>& window, int low, int high, float percentile,
                            corvath::utility::IiUI* ui, float progressLow, float progressHigh)
{
    return processOneChannelImageDriver(destination, source, window, low, high, percentile, ui,
                                        progressLow, progressHigh);
}

Rect processOneChannelImage(blitz::Array<unsigned short, 2> destination,
                            const blitz::Array<unsigned short, 2>& source,
                            const blitz::Array<int, 2>& window, int low, int high, float percentile,
                            corvath::utility::IiUI* ui, float progressLow, float progressHigh)
{
    return processOneChannelImageDriver(destination, source, window, low, high, percentile, ui,
                                        progressLow, progressHigh);
}

Rect Rancour::processTwoChannelImage(blitz::Array<BytePair, 2> destination,
                                     const blitz::Array<unsigned char, 2>& source,
                                     const blitz::Array<int, 2>& window, int, int,
                                     float percentile0, float percentile1,
                                     corvath::utility::IiUI* ui, float progressLow,
                                     float progressHigh)
{
    const float p[2] = {percentile0, percentile1};
    return percentileFilter(destination, source, window, p, ui, progressLow, progressHigh);
}

} // namespace classification
