#include "analysis/percentile.h"

#include "analysis/rancour.h"
#include "morphology/convolve.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define DRAVIK_PERCENTILE_LANES 1
#endif

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

// A byte histogram kept in this many copies, the window's runs taking them in turn, the count of
// a bin being their sum: neighbouring runs mostly move the same few bins, and with one copy every
// update waits for the store of the one before.
constexpr int byteCopies = 2;
constexpr int byteBins = 256;

// The counts of a histogram kept in C copies of `bins` bins each.
template <int C>
struct Bins {
    const int* h;
    int bins;
    int operator[](int b) const
    {
        int sum = h[b];
        for (int c = 1; c < C; ++c)
            sum += h[b + c * bins];
        return sum;
    }
};

// Steps the cursor to the lower-rank order statistic.
template <typename H>
inline void moveCursor(Cursor& c, const H& hist, int lower)
{
    if (c.atOrBelow >= lower) {
        while (c.atOrBelow - hist[c.bin] >= lower)
            c.atOrBelow -= hist[c.bin--];
    } else {
        while (c.atOrBelow < lower)
            c.atOrBelow += hist[++c.bin];
    }
}

// How far the interpolated percentile lies above the lower order statistic when the next
// distinct value lies `gap` above it.
inline int interpolated(int gap, float fraction) { return int(float(gap) * fraction + 0.5f); }

template <typename H>
inline int cursorValue(const Cursor& c, const H& hist, const Rank& rank)
{
    if (c.atOrBelow >= rank.upper)
        return c.bin;
    int next = c.bin + 1;
    while (hist[next] == 0)
        ++next;
    return c.bin + interpolated(next - c.bin, rank.fraction);
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

// The envelopes' disk has nine runs at 4 MP; a fixed count lets the compiler unroll the slide.
constexpr int diskRuns = 9;

// One step of the histogram along a row, from a block's leaving and entering values (run i's
// at i * laneCount), run i moving copy i % byteCopies; R is the run count when fixed, 0 when
// given at run time.
template <int R>
inline void slide(int* hist, const unsigned char* lefts, const unsigned char* rights, int runs)
{
    const int count = R > 0 ? R : runs;
    int i = 0;
    for (; i + byteCopies <= count; i += byteCopies) {
#pragma GCC unroll 4
        for (int c = 0; c < byteCopies; ++c) {
            int* h = hist + c * byteBins;
            --h[lefts[(i + c) * laneCount]];
            ++h[rights[(i + c) * laneCount]];
        }
    }
#pragma GCC unroll 4
    for (int c = 0; i < count; ++i, ++c) {
        int* h = hist + c * byteBins;
        --h[lefts[i * laneCount]];
        ++h[rights[i * laneCount]];
    }
}

// Byte rows with small windows: each order statistic found by a binary search over the
// value's bits, for a block of neighbouring pixels at once in the byte lanes of a wide
// vector. From the top bit down, a lane keeps the bit when fewer than `lower` window values
// lie below the candidate; a last pass counts the values at or below the result and finds the
// smallest value above it, the two inputs of the interpolation. Per pixel this costs the
// window's size times the bit count over the lane count, against the histogram's window
// edge and cursor walk, and is far cheaper for the windows the envelopes use. The lanes
// count the window in bytes, so windows of at most 255 values.
constexpr int laneWindowLimit = 255;

// A row's order statistics for up to two percentiles: lower and next, per percentile a row
// of `width` bytes each. next is the smallest window value above lower, or lower itself when
// the upper order statistic equals it.
struct LaneRows {
    const unsigned char* source = nullptr;  // the row's first output pixel
    int width = 0;                          // at least the kernel's lane count
    const std::ptrdiff_t* offsets = nullptr;
    int n = 0;
    int bits = 8;  // every window value lies below 1 << bits
    int lower[2] = {1, 1}, upper[2] = {1, 1};
    unsigned char* lowers = nullptr;  // percentile k's at k * width
    unsigned char* nexts = nullptr;
};

using LaneKernel = void (*)(const LaneRows&);

// The instruction set the byte rows use.
std::atomic<int> forcedLanes{int(PercentileLanes::automatic)};

#ifdef DRAVIK_PERCENTILE_LANES

// count + one, min(count, v) in the lanes of m, in place. Written with intrinsics, the
// compiler copies the register around each masked operation, which puts three dependent
// instructions in every loop iteration where one would do.
__attribute__((target("avx512bw"), always_inline)) inline void addWhere(__m512i& count, __mmask64 m, __m512i one)
{
    asm("vpaddb %2, %0, %0%{%1%}" : "+v"(count) : "Yk"(m), "v"(one));
}

__attribute__((target("avx512bw"), always_inline)) inline void minWhere(__m512i& least, __mmask64 m, __m512i v)
{
    asm("vpminub %2, %0, %0%{%1%}" : "+v"(least) : "Yk"(m), "v"(v));
}

// For each lane, how many window values lie below candidate (K of them). A masked add
// waits a few cycles for the one before it, so the values are taken several at a time into
// separate counts (four for one percentile, two each for two; named, so that they stay in
// registers).
template <int K>
__attribute__((target("avx512bw"))) void countBelowAvx512(const unsigned char* p, const std::ptrdiff_t* o,
                                                           const std::ptrdiff_t* end, const __m512i* candidate,
                                                           __m512i* below)
{
    const __m512i one = _mm512_set1_epi8(1), c0 = candidate[0], c1 = candidate[K - 1];
    __m512i b0 = _mm512_setzero_si512(), b1 = b0, b2 = b0, b3 = b0;
    if constexpr (K == 1) {
        for (; end - o >= 4; o += 4) {
            addWhere(b0, _mm512_cmplt_epu8_mask(_mm512_loadu_si512(p + o[0]), c0), one);
            addWhere(b1, _mm512_cmplt_epu8_mask(_mm512_loadu_si512(p + o[1]), c0), one);
            addWhere(b2, _mm512_cmplt_epu8_mask(_mm512_loadu_si512(p + o[2]), c0), one);
            addWhere(b3, _mm512_cmplt_epu8_mask(_mm512_loadu_si512(p + o[3]), c0), one);
        }
        for (; o != end; ++o)
            addWhere(b0, _mm512_cmplt_epu8_mask(_mm512_loadu_si512(p + *o), c0), one);
        below[0] = _mm512_add_epi8(_mm512_add_epi8(b0, b1), _mm512_add_epi8(b2, b3));
    } else {
        for (; end - o >= 2; o += 2) {
            const __m512i v = _mm512_loadu_si512(p + o[0]), w = _mm512_loadu_si512(p + o[1]);
            addWhere(b0, _mm512_cmplt_epu8_mask(v, c0), one);
            addWhere(b1, _mm512_cmplt_epu8_mask(w, c0), one);
            addWhere(b2, _mm512_cmplt_epu8_mask(v, c1), one);
            addWhere(b3, _mm512_cmplt_epu8_mask(w, c1), one);
        }
        if (o != end) {
            const __m512i v = _mm512_loadu_si512(p + *o);
            addWhere(b0, _mm512_cmplt_epu8_mask(v, c0), one);
            addWhere(b2, _mm512_cmplt_epu8_mask(v, c1), one);
        }
        below[0] = _mm512_add_epi8(b0, b1);
        below[K - 1] = _mm512_add_epi8(b2, b3);
    }
}

// For each lane, how many window values lie above value, and the smallest of them (255
// where none does); two at a time as above.
template <int K>
__attribute__((target("avx512bw"))) void countAboveAvx512(const unsigned char* p, const std::ptrdiff_t* o,
                                                           const std::ptrdiff_t* end, const __m512i* value,
                                                           __m512i* greater, __m512i* above)
{
    const __m512i one = _mm512_set1_epi8(1), v0 = value[0], v1 = value[K - 1];
    __m512i g0 = _mm512_setzero_si512(), g1 = g0, h0 = g0, h1 = g0;
    __m512i a0 = _mm512_set1_epi8(-1), a1 = a0, b0 = a0, b1 = a0;
    for (; end - o >= 2; o += 2) {
        const __m512i v = _mm512_loadu_si512(p + o[0]), w = _mm512_loadu_si512(p + o[1]);
        const __mmask64 m0 = _mm512_cmpgt_epu8_mask(v, v0), n0 = _mm512_cmpgt_epu8_mask(w, v0);
        addWhere(g0, m0, one);
        minWhere(a0, m0, v);
        addWhere(h0, n0, one);
        minWhere(b0, n0, w);
        if (K == 2) {
            const __mmask64 m1 = _mm512_cmpgt_epu8_mask(v, v1), n1 = _mm512_cmpgt_epu8_mask(w, v1);
            addWhere(g1, m1, one);
            minWhere(a1, m1, v);
            addWhere(h1, n1, one);
            minWhere(b1, n1, w);
        }
    }
    if (o != end) {
        const __m512i v = _mm512_loadu_si512(p + o[0]);
        const __mmask64 m0 = _mm512_cmpgt_epu8_mask(v, v0);
        addWhere(g0, m0, one);
        minWhere(a0, m0, v);
        if (K == 2) {
            const __mmask64 m1 = _mm512_cmpgt_epu8_mask(v, v1);
            addWhere(g1, m1, one);
            minWhere(a1, m1, v);
        }
    }
    greater[0] = _mm512_add_epi8(g0, h0);
    above[0] = _mm512_min_epu8(a0, b0);
    greater[K - 1] = K == 2 ? _mm512_add_epi8(g1, h1) : greater[0];
    above[K - 1] = K == 2 ? _mm512_min_epu8(a1, b1) : above[0];
}

// The last block of a row is moved back to end at the row's end: it recomputes a few pixels
// of the block before it, with the same results, instead of reading past the row.
template <int K>
__attribute__((target("avx512bw"))) void laneRowsAvx512(const LaneRows& a)
{
    const std::ptrdiff_t* end = a.offsets + a.n;
    __m512i belowLimit[K], aboveLimit[K];
    for (int k = 0; k < K; ++k) {
        belowLimit[k] = _mm512_set1_epi8(static_cast<char>(a.lower[k] - 1));
        aboveLimit[k] = _mm512_set1_epi8(static_cast<char>(a.n - a.upper[k]));
    }
    for (int block = 0; block < a.width; block += 64) {
        const int j = std::min(block, a.width - 64);
        const unsigned char* p = a.source + j;
        __m512i value[K], candidate[K], count[K], above[K];
        for (int k = 0; k < K; ++k)
            value[k] = _mm512_setzero_si512();
        for (int b = a.bits - 1; b >= 0; --b) {
            const __m512i bit = _mm512_set1_epi8(static_cast<char>(1 << b));
            for (int k = 0; k < K; ++k)
                candidate[k] = _mm512_or_si512(value[k], bit);
            countBelowAvx512<K>(p, a.offsets, end, candidate, count);
            for (int k = 0; k < K; ++k)
                value[k] = _mm512_mask_mov_epi8(value[k], _mm512_cmple_epu8_mask(count[k], belowLimit[k]),
                                                candidate[k]);
        }
        countAboveAvx512<K>(p, a.offsets, end, value, count, above);
        for (int k = 0; k < K; ++k) {
            // At or below the value: n - greater, at least upper when greater <= n - upper.
            const __m512i next =
                _mm512_mask_mov_epi8(above[k], _mm512_cmple_epu8_mask(count[k], aboveLimit[k]), value[k]);
            _mm512_storeu_si512(a.lowers + std::ptrdiff_t(k) * a.width + j, value[k]);
            _mm512_storeu_si512(a.nexts + std::ptrdiff_t(k) * a.width + j, next);
        }
    }
}

// One row of lanes, the top bits flipped by flip.
__attribute__((target("avx2"), always_inline)) inline __m256i avx2Load(const unsigned char* q, __m256i flip)
{
    return _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)), flip);
}

// All ones where the unsigned byte count is at most limit.
__attribute__((target("avx2"), always_inline)) inline __m256i avx2AtMost(__m256i count, __m256i limit)
{
    return _mm256_cmpeq_epi8(_mm256_min_epu8(count, limit), count);
}

// AVX2 has signed byte comparisons only: values of eight bits are compared with their top
// bit flipped (Wide). Counts are unsigned bytes, compared through their minimum.
template <int K, bool Wide>
__attribute__((target("avx2"))) void laneRowsAvx2(const LaneRows& a)
{
    const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi8(1);
    const __m256i flip = _mm256_set1_epi8(Wide ? static_cast<char>(0x80) : 0);
    __m256i belowLimit[K], aboveLimit[K];
    for (int k = 0; k < K; ++k) {
        belowLimit[k] = _mm256_set1_epi8(static_cast<char>(a.lower[k] - 1));
        aboveLimit[k] = _mm256_set1_epi8(static_cast<char>(a.n - a.upper[k]));
    }
    for (int block = 0; block < a.width; block += 32) {
        const int j = std::min(block, a.width - 32);
        const unsigned char* p = a.source + j;
        __m256i value[K];  // with the top bit flipped when Wide
        for (int k = 0; k < K; ++k)
            value[k] = flip;
        for (int b = a.bits - 1; b >= 0; --b) {
            const __m256i bit = _mm256_set1_epi8(static_cast<char>(1 << b));
            __m256i candidate[K], below[K];
            for (int k = 0; k < K; ++k) {
                // The bit is still clear in the value, so setting it is a flip, also with the
                // top bit stored flipped.
                candidate[k] = _mm256_xor_si256(value[k], bit);
                below[k] = zero;
            }
            for (int i = 0; i < a.n; ++i) {
                const __m256i v = avx2Load(p + a.offsets[i], flip);
                // A true comparison is all ones: subtracting it counts one.
                for (int k = 0; k < K; ++k)
                    below[k] = _mm256_sub_epi8(below[k], _mm256_cmpgt_epi8(candidate[k], v));
            }
            for (int k = 0; k < K; ++k)
                value[k] = _mm256_blendv_epi8(value[k], candidate[k], avx2AtMost(below[k], belowLimit[k]));
        }
        __m256i greater[K], step[K], above[K], plain[K];
        for (int k = 0; k < K; ++k) {
            greater[k] = zero;
            plain[k] = _mm256_xor_si256(value[k], flip);
            step[k] = _mm256_add_epi8(plain[k], one);
            above[k] = _mm256_set1_epi8(-1);
        }
        for (int i = 0; i < a.n; ++i) {
            const __m256i v = avx2Load(p + a.offsets[i], flip);
            const __m256i u = _mm256_xor_si256(v, flip);
            for (int k = 0; k < K; ++k) {
                greater[k] = _mm256_sub_epi8(greater[k], _mm256_cmpgt_epi8(v, value[k]));
                above[k] = _mm256_min_epu8(above[k], _mm256_sub_epi8(u, step[k]));
            }
        }
        for (int k = 0; k < K; ++k) {
            // At or below the value: n - greater, at least upper when greater <= n - upper.
            const __m256i next = _mm256_blendv_epi8(_mm256_add_epi8(above[k], step[k]), plain[k],
                                                    avx2AtMost(greater[k], aboveLimit[k]));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(a.lowers + std::ptrdiff_t(k) * a.width + j), plain[k]);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(a.nexts + std::ptrdiff_t(k) * a.width + j), next);
        }
    }
}

// Two rows filtered from one histogram of the union of their windows, for windows too large
// for the lanes: the slide along the row then moves the union's runs once for both rows,
// about half the histogram updates per pixel. What the union holds beyond one row's window
// (the other row's top or bottom edge) is read into one vector per pixel, and that row's
// counts are the union's less the matches in it.

// A block's edge values, gathered into the bytes of one vector per pixel. Each run of edge
// cells along a storage row is copied with the laneCount - 1 bytes after it into a buffer
// of edgeBuffer bytes, once per block; pixel j's cell i then lies at index[i] + j there.
constexpr int edgeLimit = 64;    // cells
constexpr int edgeBuffer = 256;  // bytes, what two two-register byte permutes reach

struct EdgeRuns {
    std::vector<std::ptrdiff_t> offsets;  // of each run's first cell from the first row's pixel
    std::vector<int> starts;              // where each run's copy starts in the buffer
    std::vector<std::uint64_t> masks;     // the bytes each copy takes
    unsigned char index[edgeLimit] = {};
    std::uint64_t valid = 0;  // which bytes hold a cell
    bool fits = true;
};

// cells: row and column from the first row's pixel, in storage order.
EdgeRuns edgeRuns(const std::vector<std::pair<int, int>>& cells, std::ptrdiff_t s0)
{
    EdgeRuns e;
    if (cells.size() > std::size_t(edgeLimit)) {
        e.fits = false;
        return e;
    }
    int used = 0, length = 0;
    const auto close = [&] {
        if (length == 0)
            return;
        const int bytes = length + laneCount - 1;
        e.fits = e.fits && bytes <= 64;
        e.masks.push_back(bytes >= 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << bytes) - 1);
        used += bytes;
        length = 0;
    };
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const auto [r, c] = cells[i];
        if (i == 0 || cells[i - 1].first != r || cells[i - 1].second + 1 != c) {
            close();
            e.offsets.push_back(r * s0 + c);
            e.starts.push_back(used);
        }
        e.index[i] = static_cast<unsigned char>(std::min(used + length, 255));
        ++length;
        e.valid |= std::uint64_t(1) << i;
    }
    close();
    e.fits = e.fits && used <= edgeBuffer;
    return e;
}

// The union of a row's window and the next row's, and what it holds beyond each row's own
// window, as offsets from the first row's pixel (rows contiguous in storage).
struct PairWindow {
    Offsets both;
    EdgeRuns first, second;
    bool fits = false;  // each edge fits one vector
};

PairWindow pairWindow(const blitz::Array<int, 2>& window, std::ptrdiff_t s0)
{
    PairWindow w;
    const Rect d = domainOf(window);
    const auto inside = [&](int r, int c) { return r >= d.x1 && r <= d.x2 && window(r, c) != 0; };
    blitz::Array<int, 2> both(blitz::Range(d.x1, d.x2 + 1), blitz::Range(d.y1, d.y2));
    std::vector<std::pair<int, int>> first, second;
    for (int r = d.x1; r <= d.x2 + 1; ++r)
        for (int c = d.y1; c <= d.y2; ++c) {
            const bool mine = inside(r, c), next = inside(r - 1, c);
            both(r, c) = mine || next;
            if (next && !mine)
                first.push_back({r, c});
            if (mine && !next)
                second.push_back({r, c});
        }
    w.first = edgeRuns(first, s0);
    w.second = edgeRuns(second, s0);
    w.fits = w.first.fits && w.second.fits;
    if (w.fits)
        w.both = windowOffsets(both, s0, 1);
    return w;
}

template <int K, typename D>
struct PairRows {
    const unsigned char* source = nullptr;  // the first row's first output pixel
    std::ptrdiff_t s0 = 0;
    D* first = nullptr;  // the two rows' first output pixels
    D* second = nullptr;
    std::ptrdiff_t d1 = 1;
    int width = 0;  // at least laneCount
    int* hist = nullptr;  // byteCopies copies
    const PairWindow* window = nullptr;
    const Offsets* own = nullptr;  // the first row's window, for the step down from the row above
    const Rank* ranks = nullptr;
    int* aboveBins = nullptr;  // per percentile, `width` each
    int* aboveCounts = nullptr;
    Lanes* leftValues = nullptr;  // the union's run count each
    Lanes* rightValues = nullptr;
};

// A block's edge values in four registers.
struct EdgeBlock {
    __m512i r0, r1, r2, r3;
};

__attribute__((target("avx512bw,avx512vbmi"))) inline EdgeBlock edgeBlock(const unsigned char* p, const EdgeRuns& e,
                                                                          unsigned char* buffer)
{
    for (std::size_t g = 0; g < e.offsets.size(); ++g)
        _mm512_mask_storeu_epi8(buffer + e.starts[g], e.masks[g], _mm512_maskz_loadu_epi8(e.masks[g], p + e.offsets[g]));
    return {_mm512_load_si512(buffer), _mm512_load_si512(buffer + 64), _mm512_load_si512(buffer + 128),
            _mm512_load_si512(buffer + 192)};
}

// Pixel j's edge values, from the indices of pixel 0 moved on by j.
__attribute__((target("avx512bw,avx512vbmi"))) inline __m512i edgeValues(const EdgeBlock& b, __m512i index)
{
    const __m512i low = _mm512_permutex2var_epi8(b.r0, index, b.r1);
    const __m512i high = _mm512_permutex2var_epi8(b.r2, index, b.r3);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
}

__attribute__((target("avx512bw,avx512vbmi,popcnt"))) inline int edgeEqual(__m512i e, __mmask64 valid, int b)
{
    return int(_mm_popcnt_u64(_mm512_mask_cmpeq_epu8_mask(valid, e, _mm512_set1_epi8(static_cast<char>(b)))));
}

__attribute__((target("avx512bw,avx512vbmi,popcnt"))) inline int edgeAtOrBelow(__m512i e, __mmask64 valid, int b)
{
    return int(_mm_popcnt_u64(_mm512_mask_cmple_epu8_mask(valid, e, _mm512_set1_epi8(static_cast<char>(b)))));
}

// A row's own count in bin b: the union's less its edge's.
__attribute__((target("avx512bw,avx512vbmi,popcnt"))) inline int ownBin(const int* h, __m512i e, __mmask64 valid, int b)
{
    return h[b] + h[b + byteBins] - edgeEqual(e, valid, b);
}

// moveCursor and cursorValue on a row's own counts.
__attribute__((target("avx512bw,avx512vbmi,popcnt"))) inline int ownValue(Cursor& c, const int* h, __m512i e,
                                                                 __mmask64 valid, const Rank& rank)
{
    if (c.atOrBelow >= rank.lower) {
        for (;;) {
            const int here = ownBin(h, e, valid, c.bin);
            if (c.atOrBelow - here < rank.lower)
                break;
            c.atOrBelow -= here;
            --c.bin;
        }
    } else {
        while (c.atOrBelow < rank.lower)
            c.atOrBelow += ownBin(h, e, valid, ++c.bin);
    }
    if (c.atOrBelow >= rank.upper)
        return c.bin;
    int next = c.bin + 1;
    while (ownBin(h, e, valid, next) == 0)
        ++next;
    return c.bin + interpolated(next - c.bin, rank.fraction);
}

// Both rows' pixel: the first row's cursor starts where the row above left it, the second's
// where the first's ended, its count there moved by the two edges.
template <int K>
__attribute__((target("avx512bw,avx512vbmi,popcnt"))) inline void pairPixel(const int* hist, __m512i e, __mmask64 ev,
                                                                             __m512i f, __mmask64 fv,
                                                                             const Rank* ranks, Cursor (&c)[K],
                                                                             int (&first)[K], int (&second)[K])
{
    for (int k = 0; k < K; ++k) {
        first[k] = ownValue(c[k], hist, e, ev, ranks[k]);
        c[k].atOrBelow += edgeAtOrBelow(e, ev, c[k].bin) - edgeAtOrBelow(f, fv, c[k].bin);
        second[k] = ownValue(c[k], hist, f, fv, ranks[k]);
    }
}

template <int K, typename D>
__attribute__((target("avx512bw,avx512vbmi,popcnt"))) void pairRowsAvx512(const PairRows<K, D>& a)
{
    const PairWindow& w = *a.window;
    int* hist = a.hist;
    const int width = a.width;
    const unsigned char* row = a.source;
    for (const std::ptrdiff_t o : w.both.all)
        ++hist[row[o]];
    const int runs = int(w.both.leaving.size());
    const std::ptrdiff_t* leaving = w.both.leaving.data();
    const std::ptrdiff_t* entering = w.both.entering.data();
    const std::ptrdiff_t* above = a.own->above.data();
    const std::ptrdiff_t* below = a.own->below.data();
    const int steps = int(a.own->above.size());
    const __mmask64 ev = w.first.valid, fv = w.second.valid;
    const __m512i firstIndex = _mm512_loadu_si512(w.first.index), secondIndex = _mm512_loadu_si512(w.second.index);
    // Bytes past the copies are read but never counted; cleared, they are at least defined.
    alignas(64) unsigned char firstBuffer[edgeBuffer] = {}, secondBuffer[edgeBuffer] = {};

    Cursor cursors[K];
    int first[K], second[K];
    // Blocks of laneCount pixels, the last moved back to end at the row's end, its pixels
    // already done skipped. The first pixel has no slide and walks up from the bottom bin.
    for (int y = 0; y < width;) {
        const int y0 = std::min(y, width - laneCount);
        const unsigned char* p = row + y0;
        const EdgeBlock eb = edgeBlock(p, w.first, firstBuffer), fb = edgeBlock(p, w.second, secondBuffer);
        Lanes level[K], change[K], moved{};
        for (int k = 0; k < K; ++k) {
            const int* bins = a.aboveBins + std::size_t(k) * std::size_t(width) + std::size_t(y0);
            for (int j = 0; j < laneCount; ++j)
                level[k][j] = static_cast<unsigned char>(bins[j]);
            change[k] = Lanes{};
        }
        for (int i = 0; i < runs; ++i) {
            const Lanes left = loadLanes(p + leaving[i]), right = loadLanes(p + entering[i]);
            a.leftValues[i] = left;
            a.rightValues[i] = right;
            moved |= (Lanes)(left != right);
        }
        for (int i = 0; i < steps; ++i) {
            const Lanes gone = loadLanes(p + above[i]), come = loadLanes(p + below[i]);
            for (int k = 0; k < K; ++k)
                change[k] += (Lanes)(gone <= level[k]) - (Lanes)(come <= level[k]);
        }
        const unsigned char* lefts = reinterpret_cast<const unsigned char*>(a.leftValues);
        const unsigned char* rights = reinterpret_cast<const unsigned char*>(a.rightValues);
        unsigned char slides[laneCount];
        std::memcpy(slides, &moved, sizeof slides);
        signed char changes[K][laneCount];
        std::memcpy(changes, change, sizeof changes);
        for (int j = y - y0; j < laneCount; ++j) {
            const std::size_t column = std::size_t(y0 + j);
            const __m512i step = _mm512_set1_epi8(static_cast<char>(j));
            const __m512i e = edgeValues(eb, _mm512_add_epi8(firstIndex, step));
            const __m512i f = edgeValues(fb, _mm512_add_epi8(secondIndex, step));
            if (column == 0) {
                for (int k = 0; k < K; ++k)
                    cursors[k] = {0, ownBin(hist, e, ev, 0)};
            } else {
                if (slides[j] != 0)
                    slide<0>(hist, lefts + j, rights + j, runs);
                for (int k = 0; k < K; ++k) {
                    const std::size_t at = std::size_t(k) * std::size_t(width) + column;
                    cursors[k] = {a.aboveBins[at], a.aboveCounts[at] + changes[k][j]};
                }
            }
            pairPixel(hist, e, ev, f, fv, a.ranks, cursors, first, second);
            for (int k = 0; k < K; ++k) {
                const std::size_t at = std::size_t(k) * std::size_t(width) + column;
                a.aboveBins[at] = cursors[k].bin;
                a.aboveCounts[at] = cursors[k].atOrBelow;
            }
            store(a.first[std::ptrdiff_t(column) * a.d1], first);
            store(a.second[std::ptrdiff_t(column) * a.d1], second);
        }
        y = y0 + laneCount;
    }
    // Left empty, as the single rows leave it.
    std::fill(hist, hist + byteCopies * byteBins, 0);
}

// Whether the paired rows may run: AVX-512 unless another instruction set is forced.
bool pairLanes()
{
    const int forced = forcedLanes.load(std::memory_order_relaxed);
    return (forced == int(PercentileLanes::automatic) || forced == int(PercentileLanes::avx512)) &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi") &&
           __builtin_cpu_supports("popcnt");
}
#endif

// The kernel for K percentiles of values below 1 << bits on rows of `width` pixels, or null
// where only the histogram serves.
template <int K>
LaneKernel laneKernel(int width, int bits)
{
#ifdef DRAVIK_PERCENTILE_LANES
    const int forced = forcedLanes.load(std::memory_order_relaxed), automatic = int(PercentileLanes::automatic);
    if (forced == int(PercentileLanes::portable))
        return nullptr;
    const bool avx512 = __builtin_cpu_supports("avx512bw");
    const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx512 && width >= 64 && (forced == automatic || forced == int(PercentileLanes::avx512)))
        return laneRowsAvx512<K>;
    if (avx2 && width >= 32 && (forced == automatic || forced == int(PercentileLanes::avx2)))
        return bits > 7 ? laneRowsAvx2<K, true> : laneRowsAvx2<K, false>;
#else
    (void)width;
    (void)bits;
#endif
    return nullptr;
}

// The bits the values of the rows read need: the OR of them all.
int valueBits(const blitz::Array<unsigned char, 2>& source)
{
    const Rect d = domainOf(source);
    const int width = d.y2 - d.y1 + 1;
    unsigned any = 0;
    for (int x = d.x1; x <= d.x2 && any < 0x80; ++x) {
        const unsigned char* p = &source(x, d.y1);
        Lanes lanes{};
        int y = 0;
        for (; y + laneCount <= width; y += laneCount)
            lanes |= loadLanes(p + y);
        unsigned char row = 0;
        for (; y < width; ++y)
            row |= p[y];
        for (int j = 0; j < laneCount; ++j)
            row |= lanes[j];
        any |= row;
    }
    int bits = 0;
    while ((any >> bits) != 0)
        ++bits;
    return bits;
}

template <int K, typename D>
void laneFilter(blitz::Array<D, 2>& destination, const blitz::Array<unsigned char, 2>& source,
                const Offsets& offsets, const Rank (&ranks)[K], LaneKernel kernel, int bits,
                const Rect& out, corvath::utility::IiUI* ui, float progressLow, float progressHigh)
{
    const int width = out.y2 - out.y1 + 1;
    std::vector<unsigned char> rows(std::size_t(2 * K) * std::size_t(width));
    LaneRows a;
    a.width = width;
    a.offsets = offsets.all.data();
    a.n = int(offsets.all.size());
    a.bits = bits;
    a.lowers = rows.data();
    a.nexts = rows.data() + std::size_t(K) * std::size_t(width);
    // The interpolation's step for every gap between the two values, as the histogram's
    // cursor computes it.
    int steps[K][256];
    for (int k = 0; k < K; ++k) {
        a.lower[k] = ranks[k].lower;
        a.upper[k] = ranks[k].upper;
        for (int gap = 0; gap < 256; ++gap)
            steps[k][gap] = interpolated(gap, ranks[k].fraction);
    }
    const std::ptrdiff_t d1 = destination.stride(1);
    for (int x = out.x1; x <= out.x2; ++x) {
        a.source = &source(x, out.y1);
        kernel(a);
        D* d = &destination(x, out.y1);
        for (int j = 0; j < width; ++j, d += d1) {
            int values[K];
            for (int k = 0; k < K; ++k) {
                const int lower = a.lowers[k * width + j];
                values[k] = lower + steps[k][a.nexts[k * width + j] - lower];
            }
            store(*d, values);
        }
        reportRow(ui, x, out, progressLow, progressHigh);
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

    if constexpr (std::is_same_v<S, unsigned char>) {
        if (s1 == 1 && n <= laneWindowLimit) {
            const int bits = valueBits(source);
            if (const LaneKernel kernel = laneKernel<K>(out.y2 - out.y1 + 1, bits)) {
                laneFilter(destination, source, offsets, ranks, kernel, bits, out, ui, progressLow, progressHigh);
                return out;
            }
        }
    }

    // One bin per value of the sample type, in copies for bytes. With one copy only the bins
    // of the window's values are ever non-zero, so a row clears just those; copies may hold
    // negative counts that sum to the true ones, and are cleared whole.
    constexpr int copies = std::is_same_v<S, unsigned char> ? byteCopies : 1;
    constexpr int bins = int(std::numeric_limits<S>::max()) + 1;
    std::vector<int> histogram(std::size_t(copies) * std::size_t(bins), 0);
    int* hist = histogram.data();
    const Bins<copies> counts{hist, bins};
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
#ifdef DRAVIK_PERCENTILE_LANES
    // Rows in pairs on one histogram, where the lanes are AVX-512: the first row (no row above
    // to start from) and a last odd one go alone.
    PairWindow pairWindowOf;
    PairRows<K, D> pair;
    if constexpr (std::is_same_v<S, unsigned char>) {
        if (byRows && width >= laneCount && pairLanes())
            pairWindowOf = pairWindow(window, source.stride(0));
        if (pairWindowOf.fits) {
            // The union may have fewer runs than the window (merged where rows interleave).
            const std::size_t most = std::max(std::size_t(runs), pairWindowOf.both.leaving.size());
            leftValues.resize(most);
            rightValues.resize(most);
            pair.s0 = source.stride(0);
            pair.d1 = d1;
            pair.width = width;
            pair.hist = hist;
            pair.window = &pairWindowOf;
            pair.own = &offsets;
            pair.ranks = ranks;
            pair.aboveBins = aboveBins.data();
            pair.aboveCounts = aboveCounts.data();
            pair.leftValues = leftValues.data();
            pair.rightValues = rightValues.data();
        }
    }
#endif
    const auto remember = [&](const Cursor (&c)[K], int y) {
        if (byRows)
            for (int k = 0; k < K; ++k) {
                aboveBins[std::size_t(k) * std::size_t(width) + std::size_t(y - out.y1)] = c[k].bin;
                aboveCounts[std::size_t(k) * std::size_t(width) + std::size_t(y - out.y1)] = c[k].atOrBelow;
            }
    };

    for (int x = out.x1; x <= out.x2; ++x) {
#ifdef DRAVIK_PERCENTILE_LANES
        if constexpr (std::is_same_v<S, unsigned char>) {
            if (pairWindowOf.fits && x > out.x1 && x < out.x2) {
                pair.source = &source(x, out.y1);
                pair.first = &destination(x, out.y1);
                pair.second = &destination(x + 1, out.y1);
                pairRowsAvx512(pair);
                reportRow(ui, x, out, progressLow, progressHigh);
                ++x;
                reportRow(ui, x, out, progressLow, progressHigh);
                continue;
            }
        }
#endif
        const S* row = &source(x, out.y1);
        D* drow = &destination(x, out.y1);
        for (int i = 0; i < n; ++i)
            ++hist[row[all[i]]];
        Cursor cursors[K];
        int values[K];
        for (int k = 0; k < K; ++k) {
            cursors[k] = {0, counts[0]};
            moveCursor(cursors[k], counts, ranks[k].lower);
            values[k] = cursorValue(cursors[k], counts, ranks[k]);
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
                        moveCursor(cursors[k], counts, ranks[k].lower);
                        values[k] = cursorValue(cursors[k], counts, ranks[k]);
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
                int* h = hist + (i % copies) * bins;
                --h[out];
                ++h[in];
                for (int k = 0; k < K; ++k)
                    cursors[k].atOrBelow += int(in <= cursors[k].bin) - int(out <= cursors[k].bin);
            }
            for (int k = 0; k < K; ++k) {
                moveCursor(cursors[k], counts, ranks[k].lower);
                values[k] = cursorValue(cursors[k], counts, ranks[k]);
            }
            store(*d, values);
            remember(cursors, y);
        }
        if constexpr (copies > 1) {
            std::fill(histogram.begin(), histogram.end(), 0);
        } else {
            const S* last = row + std::ptrdiff_t(out.y2 - out.y1) * s1;
            for (int i = 0; i < n; ++i)
                hist[last[all[i]]] = 0;
        }
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

bool usePercentileLanes(PercentileLanes lanes)
{
    forcedLanes.store(int(lanes), std::memory_order_relaxed);
#ifdef DRAVIK_PERCENTILE_LANES
    if (lanes == PercentileLanes::avx512)
        return __builtin_cpu_supports("avx512bw");
    if (lanes == PercentileLanes::avx2)
        return __builtin_cpu_supports("avx2");
    return true;
#else
    return lanes == PercentileLanes::automatic || lanes == PercentileLanes::portable;
#endif
}

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
