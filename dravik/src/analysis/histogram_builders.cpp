// The builders of one cell's histogram from the 2 x 2 pixel blocks of a channel.
#include "analysis/segmentation.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <type_traits>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#define DRAVIK_SPREAD_LANES 1
#endif
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace classification {

namespace {

std::atomic<bool> spreadLanesAllowed{true};

inline void sort4(int& a, int& b, int& c, int& d)
{
    if (a > b) std::swap(a, b);
    if (c > d) std::swap(c, d);
    if (a > c) std::swap(a, c);
    if (b > d) std::swap(b, d);
    if (b > c) std::swap(b, c);
}

// The per-value weight (total << shift) / d of an interval of d + 1 values, d taken as 1 when
// it is less, looked up rather than divided per pixel. Shifts above 15 never occur: the stage
// builds with at least 0 colour bits, which keeps them at 8 or less.
class SpreadWeights {
public:
    static constexpr int kMaxShift = 15;

    SpreadWeights()
    {
        for (int s = 0; s <= kMaxShift; ++s)
            for (int d = 0; d < 256; ++d) {
                m_w[0][s][d] = (512 << s) / std::max(d, 1);
                m_w[1][s][d] = (1024 << s) / std::max(d, 1);
            }
    }
    // total is 512 or 1024.
    const int* row(int total, int shift) const { return m_w[total == 1024][shift]; }

private:
    int m_w[2][kMaxShift + 1][256];
};

const SpreadWeights& spreadWeights()
{
    static const SpreadWeights table;
    return table;
}

// spreadInterval over the counts of a histogram with the given shift, indexed by bin; weights
// is the table row of that shift and the interval's total. Add is the count addition: plain
// where a block cannot reach INT_MAX, saturating otherwise.
template <typename Add>
inline void spread(int* bins, int shift, const int* weights, int a, int b, Add add)
{
    const int exact = b - a;
    const int w = weights[exact];
    const int A = a >> shift, B = b >> shift;
    if (A == B) {
        bins[A] = add(bins[A], ((exact + 1) * w) >> shift);
        return;
    }
    bins[A] = add(bins[A], ((((A + 1) << shift) - a) * w) >> shift);
    bins[B] = add(bins[B], ((b - (B << shift) + 1) * w) >> shift);
    for (int k = A + 1; k < B; ++k)
        bins[k] = add(bins[k], w);
}

// Bins from..to each gain the same share.
template <typename Add>
inline void addFlat(int* bins, int from, int to, int share, Add add)
{
    for (int k = from; k <= to; ++k)
        bins[k] = add(bins[k], share);
}

struct PlainAdd {
    int operator()(int a, int b) const { return a + b; }
};

struct SaturatedAdd {
    int operator()(int a, int b) const { return addSaturated(a, b); }
};

// One position's bytes as its builder needs them, packed in a word: the 2 x 2 quad sorted
// from the low byte up (the smallest in byte 0, the largest in byte 3).
inline std::uint32_t sortedQuad(int a, int b, int c, int d)
{
    sort4(a, b, c, d);
    return std::uint32_t(a) | std::uint32_t(b) << 8 | std::uint32_t(c) << 16 | std::uint32_t(d) << 24;
}

// The positions' quads, row after row, and the block's value range. A pixel column of
// every pair of rows is reduced once and shared by the two quads that hold it when only the
// smallest and largest byte are wanted.
inline void collectQuads(const ChannelView& ch, IntPair lower, IntPair upper, bool sorted,
                         std::vector<std::uint32_t>& quads, int& lo, int& hi)
{
    const std::ptrdiff_t s1 = ch.stride1;
    const int n = upper.y - lower.y;
    quads.resize(std::size_t(upper.x - lower.x) * std::size_t(n));
    std::uint32_t* out = quads.data();
    int mn = 255, mx = 0;
    for (int x = lower.x; x < upper.x; ++x, out += n) {
        const unsigned char* r0 = ch.at(x, lower.y);
        const unsigned char* r1 = r0 + ch.stride0;
        if (sorted) {
            for (int y = 0; y < n; ++y, r0 += s1, r1 += s1) {
                const std::uint32_t q = sortedQuad(r0[0], r0[s1], r1[0], r1[s1]);
                out[y] = q;
                mn = std::min(mn, int(q & 255));
                mx = std::max(mx, int(q >> 24));
            }
        } else {
            int prevLo = std::min(r0[0], r1[0]), prevHi = std::max(r0[0], r1[0]);
            for (int y = 0; y < n; ++y) {
                r0 += s1;
                r1 += s1;
                const int cLo = std::min(*r0, *r1), cHi = std::max(*r0, *r1);
                const int qLo = std::min(prevLo, cLo), qHi = std::max(prevHi, cHi);
                out[y] = std::uint32_t(qLo) | std::uint32_t(qHi) << 24;
                mn = std::min(mn, qLo);
                mx = std::max(mx, qHi);
                prevLo = cLo;
                prevHi = cHi;
            }
        }
    }
    lo = mn;
    hi = mx;
}

template <typename Add>
void spreadQuads(const std::vector<std::uint32_t>& quads, int interpolation, int s, int* bins, Add add)
{
    const int* w1024 = spreadWeights().row(1024, s);
    const int* w512 = spreadWeights().row(512, s);
    const int* perBin1024 = spreadWeights().row(1024, 0);
    const int* perBin512 = spreadWeights().row(512, 0);
    switch (interpolation) {
    case 0:
        if constexpr (std::is_same_v<Add, PlainAdd>) {
            // The bins strictly inside an interval all gain its weight: kept as differences
            // and summed up at the end, so that no position loops over bins.
            int steps[258] = {};
            int lowest = INT_MAX, highest = -1;
            for (const std::uint32_t q : quads) {
                const int a = int(q & 255), b = int(q >> 24);
                const int exact = b - a;
                const int w = w1024[exact];
                const int A = a >> s, B = b >> s;
                if (A == B) {
                    bins[A] += ((exact + 1) * w) >> s;
                } else {
                    bins[A] += ((((A + 1) << s) - a) * w) >> s;
                    bins[B] += ((b - (B << s) + 1) * w) >> s;
                    steps[A + 1] += w;
                    steps[B] -= w;
                    lowest = std::min(lowest, A + 1);
                    highest = std::max(highest, B);
                }
            }
            for (int k = lowest, run = 0; k < highest; ++k) {
                run += steps[k];
                bins[k] += run;
            }
        } else {
            for (const std::uint32_t q : quads)
                spread(bins, s, w1024, int(q & 255), int(q >> 24), add);
        }
        break;
    case 1:
        for (const std::uint32_t q : quads) {
            const int A = int(q & 255) >> s, B = int(q >> 24) >> s;
            addFlat(bins, A, B, perBin1024[B - A], add);  // 1024 / n, n below 2 taken as 1
        }
        break;
    case 2:
        for (const std::uint32_t q : quads) {
            const int a = int(q & 255), b = int(q >> 8 & 255), c = int(q >> 16 & 255), d = int(q >> 24);
            spread(bins, s, w512, a, (b + c) / 2, add);
            spread(bins, s, w512, (b + c + 1) / 2, d, add);
        }
        break;
    case 3:
        for (const std::uint32_t q : quads) {
            // Shifting keeps the order, so the quad stays sorted.
            const int a = int(q & 255) >> s, b = int(q >> 8 & 255) >> s;
            const int c = int(q >> 16 & 255) >> s, d = int(q >> 24) >> s;
            const int m1 = (b + c) / 2, m2 = (b + c + 1) / 2;
            addFlat(bins, a, m1, perBin512[m1 - a], add);
            addFlat(bins, m2, d, perBin512[d - m2], add);
        }
        break;
    }
}

#ifdef DRAVIK_SPREAD_LANES
// The range builder over at most 16 * R bins, every bin of every interval at once: a bin
// gains (overlap * w) >> s, the values of the interval that it holds times the interval's
// weight, which is what spread adds bin by bin (a bin wholly inside gains w). Integer sums
// in another order, so the same counts.
template <int R>
__attribute__((target("avx512f"))) void spreadRangesAvx512(const std::vector<std::uint32_t>& quads,
                                                            int s, int first, int n,
                                                            const int* weights, int* counts)
{
    // The masked forms, all lanes set: the plain ones start from an undefined vector, which
    // this compiler warns about.
    const __mmask16 all = 0xffff;
    const __m128i shift = _mm_cvtsi32_si128(s);
    const __m512i lane = _mm512_set_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i one = _mm512_set1_epi32(1);
    __m512i binLo[R], binHi[R], acc[R];
    for (int r = 0; r < R; ++r) {
        binLo[r] = _mm512_maskz_sll_epi32(all, _mm512_add_epi32(lane, _mm512_set1_epi32(first + 16 * r)), shift);
        binHi[r] = _mm512_add_epi32(binLo[r], _mm512_set1_epi32((1 << s) - 1));
        acc[r] = zero;
    }
    for (const std::uint32_t q : quads) {
        const int a = int(q & 255), b = int(q >> 24);
        const __m512i va = _mm512_set1_epi32(a), vb = _mm512_set1_epi32(b);
        const __m512i w = _mm512_set1_epi32(weights[b - a]);
        for (int r = 0; r < R; ++r) {
            const __m512i span = _mm512_sub_epi32(_mm512_maskz_min_epi32(all, vb, binHi[r]), _mm512_maskz_max_epi32(all, va, binLo[r]));
            const __m512i overlap = _mm512_maskz_max_epi32(all, _mm512_add_epi32(span, one), zero);
            acc[r] = _mm512_add_epi32(acc[r], _mm512_maskz_srl_epi32(all, _mm512_mullo_epi32(overlap, w), shift));
        }
    }
    for (int r = 0; r < R; ++r) {
        const int left = n - 16 * r;
        if (left <= 0)
            break;
        const __mmask16 m = left >= 16 ? __mmask16(0xffff) : __mmask16((1u << left) - 1);
        int* out = counts + 16 * r;
        _mm512_mask_storeu_epi32(out, m, _mm512_add_epi32(_mm512_maskz_loadu_epi32(m, out), acc[r]));
    }
}

bool spreadLanesPresent()
{
    static const bool present = __builtin_cpu_supports("avx512f");
    return present;
}
#endif

// Whether the range builder took the lanes path for h, whose counts then hold the quads'.
bool spreadRangesInLanes(const std::vector<std::uint32_t>& quads, Histogram1D& h)
{
#ifdef DRAVIK_SPREAD_LANES
    if (!spreadLanesPresent() || !spreadLanesAllowed.load(std::memory_order_relaxed))
        return false;
    const int n = h.binCount(), s = h.shift();
    const int* weights = spreadWeights().row(1024, s);
    if (n <= 16)
        spreadRangesAvx512<1>(quads, s, h.firstBin(), n, weights, h.counts());
    else if (n <= 32)
        spreadRangesAvx512<2>(quads, s, h.firstBin(), n, weights, h.counts());
    else
        return false;
    return true;
#else
    (void)quads;
    (void)h;
    return false;
#endif
}

// lo[k] = min(p[k], q[k]) and hi[k] = max(p[k], q[k]) for k < n.
inline void minMaxBytes(const unsigned char* p, const unsigned char* q, unsigned char* lo,
                        unsigned char* hi, std::size_t n)
{
    std::size_t k = 0;
#ifdef __SSE2__
    for (; k + 16 <= n; k += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + k));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lo + k), _mm_min_epu8(a, b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(hi + k), _mm_max_epu8(a, b));
    }
#endif
    for (; k < n; ++k) {
        lo[k] = std::min(p[k], q[k]);
        hi[k] = std::max(p[k], q[k]);
    }
}

// lo[k] = min(lo[k], lo[k + d]) and hi[k] = max(hi[k], hi[k + d]) for k < n, in place: each
// k reads only k and beyond.
inline void widenBytes(unsigned char* lo, unsigned char* hi, std::ptrdiff_t d, std::size_t n)
{
    std::size_t k = 0;
#ifdef __SSE2__
    for (; k + 16 <= n; k += 16) {
        const __m128i* l = reinterpret_cast<const __m128i*>(lo + k);
        const __m128i* h = reinterpret_cast<const __m128i*>(hi + k);
        const __m128i nl = _mm_min_epu8(_mm_loadu_si128(l), _mm_loadu_si128(reinterpret_cast<const __m128i*>(lo + k + d)));
        const __m128i nh = _mm_max_epu8(_mm_loadu_si128(h), _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi + k + d)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lo + k), nl);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(hi + k), nh);
    }
#endif
    for (; k < n; ++k) {
        lo[k] = std::min(lo[k], lo[k + d]);
        hi[k] = std::max(hi[k], hi[k + d]);
    }
}

// h's counts from the quads (range lo..hi), as every builder of interpolation ends.
void spreadBuilt(const std::vector<std::uint32_t>& quads, int interpolation, Histogram1D& h)
{
    int* bins = h.counts() - h.firstBin();
    // A position adds at most 2048 to a bin.
    const bool plain = quads.size() < std::size_t(INT_MAX / 2048);
    if (interpolation == 0 && plain && spreadRangesInLanes(quads, h))
        return;
    if (plain)
        spreadQuads(quads, interpolation, h.shift(), bins, PlainAdd());
    else
        spreadQuads(quads, interpolation, h.shift(), bins, SaturatedAdd());
}

} // namespace

bool useSpreadLanes(bool allowed)
{
    spreadLanesAllowed.store(allowed, std::memory_order_relaxed);
#ifdef DRAVIK_SPREAD_LANES
    return !allowed || spreadLanesPresent();
#else
    return !allowed;
#endif
}

void spreadInterval(Histogram1D& h, int a, int b, int total)
{
    spread(h.counts() - h.firstBin(), h.shift(), spreadWeights().row(total, h.shift()), a, b,
           SaturatedAdd());
}

void buildBlockHistogram(const ChannelView& ch, IntPair lower, IntPair upper, int interpolation,
                         int colourBits, Histogram1D& h)
{
    if (interpolation < 0 || interpolation > 3)
        return;

    if (lower.x >= upper.x || lower.y >= upper.y) {
        // No positions: the range of the pixels there are, counts flat.
        int lo = 0, hi = 255;
        if (lower.x <= upper.x && lower.y <= upper.y) {
            lo = 255;
            hi = 0;
            for (int x = lower.x; x <= upper.x; ++x) {
                const unsigned char* p = ch.at(x, lower.y);
                for (int y = lower.y; y <= upper.y; ++y, p += ch.stride1) {
                    lo = std::min(lo, int(*p));
                    hi = std::max(hi, int(*p));
                }
            }
        }
        h.setRange(lo, hi, colourBits, 0);
        h.fill(1024 / h.binCount());
        return;
    }

    // The quads cover every pixel of the block, so they give its range; each worker keeps
    // its own buffer.
    thread_local std::vector<std::uint32_t> quads;
    int lo = 0, hi = 0;
    collectQuads(ch, lower, upper, interpolation >= 2, quads, lo, hi);
    h.setRange(lo, hi, colourBits, 0);
    spreadBuilt(quads, interpolation, h);
}

void buildRangeHistogramRow(const ChannelView& ch, int lx, int ux, int j0, int count, int res,
                            int colourBits, Histogram1D* cells)
{
    const int y1 = ch.bounds.y1, y2 = ch.bounds.y2;
    const std::ptrdiff_t s1 = ch.stride1;
    const auto cellBy = [&](int k) {
        const int j = j0 + k;
        buildBlockHistogram(ch, {lx, std::max(y1, j * res)}, {ux, std::min(y2, (j + 1) * res)}, 0,
                            colourBits, cells[k]);
    };
    if (lx >= ux || y1 >= y2 || s1 <= 0) {
        for (int k = 0; k < count; ++k)
            cellBy(k);
        return;
    }

    // Each pair of pixel rows reduced once for the whole row of cells: over the bytes from
    // pixel y1 to pixel y2, which hold this channel every s1 bytes (the others between are
    // reduced alongside, cheaper than picking this channel's out), first column by column,
    // then each column with the next one.
    const std::size_t span = std::size_t(y2 - y1) * std::size_t(s1) + 1;
    const std::size_t quadSpan = span - std::size_t(s1);
    const int rows = ux - lx;
    thread_local std::vector<unsigned char> lows, highs;
    lows.resize(std::size_t(rows) * span);
    highs.resize(std::size_t(rows) * span);
    for (int r = 0; r < rows; ++r) {
        const unsigned char* r0 = ch.at(lx + r, y1);
        unsigned char* lo = lows.data() + std::size_t(r) * span;
        unsigned char* hi = highs.data() + std::size_t(r) * span;
        minMaxBytes(r0, r0 + ch.stride0, lo, hi, span);
        widenBytes(lo, hi, s1, quadSpan);
    }

    thread_local std::vector<std::uint32_t> quads;
    for (int k = 0; k < count; ++k) {
        const int j = j0 + k;
        const int ly = std::max(y1, j * res), uy = std::min(y2, (j + 1) * res);
        if (ly >= uy) {
            cellBy(k);
            continue;
        }
        // The positions row after row, as the per-cell builder orders them.
        const int n = uy - ly;
        quads.resize(std::size_t(rows) * std::size_t(n));
        std::uint32_t* out = quads.data();
        int mn = 255, mx = 0;
        for (int r = 0; r < rows; ++r, out += n) {
            const std::size_t at = std::size_t(r) * span + std::size_t(ly - y1) * std::size_t(s1);
            const unsigned char* lo = lows.data() + at;
            const unsigned char* hi = highs.data() + at;
            for (int y = 0; y < n; ++y) {
                const int a = lo[std::ptrdiff_t(y) * s1], b = hi[std::ptrdiff_t(y) * s1];
                out[y] = std::uint32_t(a) | std::uint32_t(b) << 24;
                mn = std::min(mn, a);
                mx = std::max(mx, b);
            }
        }
        Histogram1D& h = cells[k];
        h.setRange(mn, mx, colourBits, 0);
        spreadBuilt(quads, 0, h);
    }
}

} // namespace classification
