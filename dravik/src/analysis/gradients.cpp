// Stage 3 of the segmentation: the gradient image, from how well every 2 x 2 pixel block fits
// the modes of the histograms around it.
#include "analysis/segmentation.h"

#include "common/border.h"
#include "platform/clock.h"
#include "platform/memory.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace classification {

using corvath::utility::domainOf;
using corvath::utility::extent;
using corvath::utility::fitArrayToRect;
using corvath::utility::grow;
using corvath::utility::viewOf;

namespace {

const char* const kSourcePath = "dravik/src/analysis/gradients.cpp";

using ByteView = blitz::Array<unsigned char, 2>;

// A level value as a height byte; a value that is not finite (a block that crossed an empty
// valley) is the lowest height.
inline unsigned char heightByte(float v)
{
    if (!std::isfinite(v))
        return 0;
    return static_cast<unsigned char>(std::clamp(v, 0.f, 255.f));
}

// The cells around the corner point half a pixel beyond pixel x, and the first cell's weight
// there. Both cells are kept inside the grid; the weight is not changed by that.
template <typename Axis>
inline Axis axisAt(int x, float scale, float halfScale, int lowCell, int highCell)
{
    const float f = (float(x) + 0.5f) * scale;
    const int i = int(std::floor(f - 0.5f));
    Axis a;
    a.weight = float(i + 1) + 0.5f - f - halfScale;
    a.first = std::clamp(i, lowCell, highCell);
    a.second = std::clamp(i + 1, lowCell, highCell);
    return a;
}

} // namespace

void BandCursor::reset(IntPair startCorner, IntPair endCorner, ProgressRange range)
{
    start = startCorner;
    end = endCorner;
    progress = range;
}

int BandCursor::bandCount() const
{
    return end.x < start.x ? 0 : (end.x - start.x) / bandHeight + 1;
}

void BandCursor::band(int b, IntPair& lower, IntPair& upper) const
{
    lower = {start.x + b * bandHeight, start.y};
    upper = {std::min(lower.x + bandHeight, end.x), end.y};
}

void BandCursor::report(int b)
{
    const int x = start.x + b * bandHeight;
    const float t = end.x == start.x ? 0.f : float(end.x - x) / float(end.x - start.x);
    const float f = 1.f - t;
    if (progress.parent) {
        progress.position = f;
        progress.parent->progress((1.f - f) * progress.lo + f * progress.hi, std::string());
    }
}

namespace {

// Adds the terms of the most significant valley that a block's range crosses: the modes from
// k up to, not including, top (the mode that holds the block's largest value).
inline void addCrossedValley(const ModeRecord* r, int k, int top, float& p, float& v)
{
    int best = k;
    float bestRatio = ModeTerms::of(r[k]).ratio;
    for (int j = k + 1; j < top; ++j) {
        const float ratio = ModeTerms::of(r[j]).ratio;
        if (ratio > bestRatio) {
            best = j;
            bestRatio = ratio;
        }
    }
    const ModeTerms t = ModeTerms::of(r[best]);
    p += t.lowerTerm;
    v += t.valleyTerm;
}

// The lookup of one block in one cell, for each channel over the cell's modes in that
// channel's terms.
template <int N>
inline LevelPair cellSums(const corvath::utility::Vec<Histogram1D, N>& cell,
                          const ModeRecord* const* records, const unsigned char* lo,
                          const unsigned char* hi)
{
    float p = 0.f, v = 0.f;
    for (int i = 0; i < N; ++i) {
        const Histogram1D& h = cell[i];
        const int s = h.shift();
        const ModeRecord* r = records[i];
        // The mode that holds the block's smallest value; a cell's last mode ends at 256.
        int k = h.firstRecord;
        const int l = lo[i] >> s;
        while (l > r[k].valleyBin)
            ++k;
        const int t = hi[i] >> s;
        if (r[k].valleyBin >= t) {
            const float peakTerm = ModeTerms::of(r[k]).peakTerm;
            p += peakTerm;
            v += peakTerm;
        } else {
            int top = k + 1;
            while (r[top].valleyBin < t)
                ++top;
            addCrossedValley(r, k, top, p, v);
        }
    }
    return {p, v};
}

} // namespace

// The lookups of one cell row, for every cell and channel: for each byte value, the mode k
// that cellSums' scan would stop at for it (as k - firstRecord), and for every pair of modes a
// block's smallest and largest values can fall in, the two terms cellSums would add for them.
// A lookup then needs neither a scan over the modes, nor a branch, nor the bin of the value. A
// cell with a channel of more modes than kMaxModes keeps the scan.
template <int N>
class ModeTable {
public:
    static constexpr int kMaxModes = 16;  // index k * modes + top stays within a byte

    // Where one channel's lookups of one cell start: bytes[low + value] is k * modes,
    // bytes[low + 256 + value] the mode k itself, pairs[pairs + k * modes + top] the terms.
    struct Channel {
        std::uint32_t low;
        std::uint32_t pairs;
    };

    int row() const { return m_row; }

    template <typename Cell>
    void build(int row, const Cell* cells, std::ptrdiff_t stride, int count,
               const ModeRecord* const* records)
    {
        m_row = row;
        m_channels.resize(std::size_t(count) * N);
        m_usable.assign(std::size_t(count), 1);
        std::size_t bytesUsed = 0, pairsUsed = 0;
        for (int c = 0; c < count; ++c) {
            const Cell& cell = cells[std::ptrdiff_t(c) * stride];
            for (int i = 0; i < N; ++i) {
                const Histogram1D& h = cell[i];
                const ModeRecord* m = records[i] + h.firstRecord;
                const int shift = h.shift();
                const int last = 255 >> shift;
                // The modes the bins reach: up to the first whose valley is at or past the last
                // bin (a cell's last mode's valley is at 256).
                int modes = 1;
                while (modes <= kMaxModes && m[modes - 1].valleyBin < last)
                    ++modes;
                if (modes > kMaxModes) {
                    m_usable[std::size_t(c)] = 0;
                    break;
                }
                // Their terms, worked out here on the workers rather than for every record
                // of the image beforehand.
                ModeTerms r[kMaxModes];
                for (int k = 0; k < modes; ++k)
                    r[k] = ModeTerms::of(m[k]);
                Channel& ch = m_channels[std::size_t(c) * N + std::size_t(i)];
                ch.low = std::uint32_t(bytesUsed);
                ch.pairs = std::uint32_t(pairsUsed);
                bytesUsed += 512;
                pairsUsed += std::size_t(modes * modes);
                if (m_bytes.size() < bytesUsed)
                    m_bytes.resize(std::max(bytesUsed, 2 * m_bytes.size()));
                if (m_pairs.size() < pairsUsed)
                    m_pairs.resize(std::max(pairsUsed, 2 * m_pairs.size()));
                unsigned char* low = &m_bytes[ch.low];
                unsigned char* high = low + 256;
                // Mode k takes the bins b..end, that is the values whose bin lies there.
                for (int k = 0, b = 0; k < modes; ++k) {
                    const int end = std::min(std::max(r[k].valleyBin, b - 1), last);
                    const int v1 = std::min(b << shift, 256), v2 = std::min((end + 1) << shift, 256);
                    std::memset(low + v1, k * modes, std::size_t(v2 - v1));
                    std::memset(high + v1, k, std::size_t(v2 - v1));
                    b = end + 1;
                }
                LevelPair* pair = &m_pairs[ch.pairs];
                for (int k = 0; k < modes; ++k) {
                    pair[k * modes + k] = {r[k].peakTerm, r[k].peakTerm};
                    // The crossed valley of modes k..top-1: the first of the largest ratio.
                    int best = k;
                    for (int top = k + 1; top < modes; ++top) {
                        if (r[top - 1].ratio > r[best].ratio)
                            best = top - 1;
                        pair[k * modes + top] = {r[best].lowerTerm, r[best].valleyTerm};
                    }
                }
            }
        }
    }

    bool usable(int c) const { return m_usable[std::size_t(c)] != 0; }
    const Channel* channels(int c) const { return &m_channels[std::size_t(c) * N]; }
    const unsigned char* bytes() const { return m_bytes.data(); }
    const LevelPair* pairs() const { return m_pairs.data(); }

private:
    int m_row = std::numeric_limits<int>::min();
    std::vector<Channel> m_channels;
    std::vector<unsigned char> m_usable;
    std::vector<unsigned char> m_bytes;
    std::vector<LevelPair> m_pairs;
};

namespace {

// cellSums through a mode table: the same terms picked and added in the same order.
template <int N>
inline LevelPair tableSums(const corvath::utility::Vec<Histogram1D, N>& cell, const ModeTable<N>& table,
                           int c, const ModeRecord* const* records, const unsigned char* lo,
                           const unsigned char* hi)
{
    if (!table.usable(c))
        return cellSums<N>(cell, records, lo, hi);
    const typename ModeTable<N>::Channel* ch = table.channels(c);
    const unsigned char* bytes = table.bytes();
    const LevelPair* pairs = table.pairs();
    float p = 0.f, v = 0.f;
    for (int i = 0; i < N; ++i) {
        const unsigned char* low = bytes + ch[i].low;
        const int index = low[lo[i]] + low[256 + hi[i]];
        const LevelPair& t = pairs[ch[i].pairs + unsigned(index)];
        p += t.peak;
        v += t.valley;
    }
    return {p, v};
}

// tableSums of the four cells around a block's corner, all with usable tables: the channels in
// the same order for each cell, the four sums side by side so that their additions overlap.
template <int N>
inline void fourTableSums(const ModeTable<N>& tableA, const ModeTable<N>& tableB, int ca, int cb,
                          const unsigned char* lo, const unsigned char* hi, LevelPair& s00,
                          LevelPair& s01, LevelPair& s10, LevelPair& s11)
{
    using Channel = typename ModeTable<N>::Channel;
    const Channel* c00 = tableA.channels(ca);
    const Channel* c01 = tableA.channels(cb);
    const Channel* c10 = tableB.channels(ca);
    const Channel* c11 = tableB.channels(cb);
    const unsigned char* bytesA = tableA.bytes();
    const unsigned char* bytesB = tableB.bytes();
    const LevelPair* pairsA = tableA.pairs();
    const LevelPair* pairsB = tableB.pairs();
    s00 = s01 = s10 = s11 = LevelPair{0.f, 0.f};
    const auto add = [](const Channel& c, const unsigned char* bytes, const LevelPair* pairs,
                        unsigned l, unsigned h, LevelPair& sum) {
        const unsigned char* low = bytes + c.low;
        const int index = low[l] + low[256 + h];
        const LevelPair& t = pairs[c.pairs + unsigned(index)];
        sum.peak += t.peak;
        sum.valley += t.valley;
    };
    for (int i = 0; i < N; ++i) {
        const unsigned l = lo[i], h = hi[i];
        add(c00[i], bytesA, pairsA, l, h, s00);
        add(c01[i], bytesA, pairsA, l, h, s01);
        add(c10[i], bytesB, pairsB, l, h, s10);
        add(c11[i], bytesB, pairsB, l, h, s11);
    }
}

// The smallest and largest value of each channel over a pixel and the one after it along the
// first index; a block's range joins two of them.
#if defined(__SSE2__)
template <int N>
class ColumnRange {
public:
    static_assert(N <= 8, "a pixel's channels fit in one half of a vector register");
    static constexpr int kBytes = 8;

    // p: the pixel; step: bytes to the pixel after it along the first index.
    ColumnRange(const unsigned char* p, std::ptrdiff_t step)
    {
        const __m128i a = pixel(p), b = pixel(p + step);
        m_lo = _mm_min_epu8(a, b);
        m_hi = _mm_max_epu8(a, b);
    }

    void join(const ColumnRange& other, unsigned char* lo, unsigned char* hi) const
    {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(lo), _mm_min_epu8(m_lo, other.m_lo));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(hi), _mm_max_epu8(m_hi, other.m_hi));
    }

private:
    // Assembled in a register: a copy through memory would wait for its two narrower writes.
    static __m128i pixel(const unsigned char* p)
    {
        std::uint64_t v;
        if constexpr (N == 6) {
            std::uint32_t first;
            std::uint16_t rest;
            std::memcpy(&first, p, 4);
            std::memcpy(&rest, p + 4, 2);
            v = first | std::uint64_t(rest) << 32;
        } else {
            v = 0;
            for (int i = 0; i < N; ++i)
                v |= std::uint64_t(p[i]) << (8 * i);
        }
        return _mm_cvtsi64_si128(static_cast<long long>(v));
    }

    __m128i m_lo;
    __m128i m_hi;
};
#else
template <int N>
class ColumnRange {
public:
    static constexpr int kBytes = N;

    ColumnRange(const unsigned char* p, std::ptrdiff_t step)
    {
        for (int i = 0; i < N; ++i) {
            m_lo[i] = std::min(p[i], p[step + i]);
            m_hi[i] = std::max(p[i], p[step + i]);
        }
    }

    void join(const ColumnRange& other, unsigned char* lo, unsigned char* hi) const
    {
        for (int i = 0; i < N; ++i) {
            lo[i] = std::min(m_lo[i], other.m_lo[i]);
            hi[i] = std::max(m_hi[i], other.m_hi[i]);
        }
    }

private:
    unsigned char m_lo[N];
    unsigned char m_hi[N];
};
#endif

// std::log of both level sums of a block's corner in one cell, remembered by their bits:
// the blocks of a cell mostly fall in the same modes, so most pairs of sums recur, and a pair
// seen before takes the values std::log gave it then.
class LogMemo {
public:
    LogMemo()
    {
        const float one = 1.f;
        m_entries.fill(Entry{keyOf({one, one}), {std::log(one), std::log(one)}});
    }

    LevelPair operator()(const LevelPair& sums)
    {
        const std::uint64_t key = keyOf(sums);
        Entry& e = m_entries[(key * 0x9E3779B97F4A7C15u) >> (64 - kBits)];
        if (e.key != key) {
            e.key = key;
            e.logs = {std::log(sums.peak), std::log(sums.valley)};
        }
        return e.logs;
    }

private:
    static constexpr int kBits = 12;
    struct Entry {
        std::uint64_t key;
        LevelPair logs;
    };

    static std::uint64_t keyOf(const LevelPair& sums)
    {
        static_assert(sizeof(LevelPair) == sizeof(std::uint64_t), "two floats");
        std::uint64_t k;
        std::memcpy(&k, &sums, sizeof k);
        return k;
    }

    std::array<Entry, std::size_t(1) << kBits> m_entries;
};

// 1 / count^2 in single precision.
inline float inverseSquare(int count)
{
    const float c = float(count);
    return 1.f / (c * c);
}

} // namespace

ModeTerms ModeTerms::of(const ModeRecord& r)
{
    ModeTerms t;
    t.valleyBin = r.valleyBin;
    t.ratio = float(r.lowerPeak) / float(r.valleyCount);
    t.peakTerm = inverseSquare(r.peakCount);
    t.lowerTerm = inverseSquare(r.lowerPeak);
    t.valleyTerm = inverseSquare(r.valleyCount);
    return t;
}

template <int N, int V>
std::array<const ModeRecord*, N> Segmentation<N, V>::modeLists() const
{
    std::array<const ModeRecord*, N> lists;
    for (int i = 0; i < N; ++i)
        lists[std::size_t(i)] = m_modes[std::size_t(i)].data();
    return lists;
}

template <int N, int V>
LevelPair Segmentation<N, V>::inverseCountSums(IntPair cell, const unsigned char* lo,
                                               const unsigned char* hi) const
{
    return cellSums<N>(m_histograms(cell.x, cell.y), modeLists().data(), lo, hi);
}

template <int N, int V>
LevelPair Segmentation<N, V>::tableCountSums(IntPair cell, const unsigned char* lo,
                                             const unsigned char* hi) const
{
    const std::array<const ModeRecord*, N> first = modeLists();
    const Rect d = domainOf(m_histograms);
    ModeTable<N> table;
    table.build(cell.x, &m_histograms(cell.x, d.y1), m_histograms.stride(1), d.y2 - d.y1 + 1,
                first.data());
    return tableSums<N>(m_histograms(cell.x, cell.y), table, cell.y - d.y1, first.data(), lo, hi);
}

template <int N, int V>
GradientUpdater<N, V>::GradientUpdater(const Segmentation<N, V>& segmentation,
                                       blitz::Array<LevelPair, 2>& levels, LevelExtremes* extremes)
    : m_segmentation(&segmentation),
      m_scale(1.0f / float(segmentation.head().resolution)),
      m_halfScale(0.5f / float(segmentation.head().resolution)),
      m_cells(domainOf(segmentation.histograms())),
      m_levels(levels.numElements() ? levels.data() : nullptr),
      m_extremes(extremes),
      m_levelStride(levels.stride(0)),
      m_bandCount(segmentation.m_bandCursor.bandCount()),
      m_records(segmentation.modeLists())
{
}

template <int N, int V>
GradientUpdater<N, V>::GradientUpdater(const GradientUpdater& other)
    : m_segmentation(other.m_segmentation),
      m_scale(other.m_scale),
      m_halfScale(other.m_halfScale),
      m_cells(other.m_cells),
      m_levels(other.m_levels),
      m_extremes(other.m_extremes),
      m_levelStride(other.m_levelStride),
      m_bandCount(other.m_bandCount),
      m_records(other.m_records),
      m_columns(other.m_columns)
{
}

template <int N, int V>
GradientUpdater<N, V>::~GradientUpdater() = default;

template <int N, int V>
void GradientUpdater<N, V>::operator()(int job)
{
    const Segmentation<N, V>& s = *m_segmentation;
    IntPair lower, upper;
    const int band = m_bandCount - 1 - job;
    s.m_bandCursor.band(band, lower, upper);
    if (lower.x >= upper.x || lower.y >= upper.y)
        return;
    LevelExtremes extremes;

    const Rect& bounds = s.m_bounds;
    const Rect& d = m_cells;
    const auto& image = s.m_image;
    const unsigned char* pixels = image(bounds.x1, bounds.y1).data();
    const std::ptrdiff_t p0 = image.stride(0) * N, p1 = image.stride(1) * N;
    const auto& hist = s.m_histograms;
    const typename Segmentation<N, V>::Cell* cells = &hist(d.x1, d.y1);
    const std::ptrdiff_t c0 = hist.stride(0), c1 = hist.stride(1);

    // The second index's cells and weights are the same in every row.
    if (m_columns.empty()) {
        m_columns.reserve(std::size_t(upper.y - lower.y));
        for (int y = lower.y; y < upper.y; ++y)
            m_columns.push_back(axisAt<CellAxis>(y, m_scale, m_halfScale, d.y1, d.y2));
    }

    // The mode tables of the two cell rows in use; the next row of cells replaces the one
    // that is no longer needed.
    if (!m_tables)
        m_tables = std::make_unique<std::array<ModeTable<N>, 2>>();
    std::array<ModeTable<N>, 2>& tables = *m_tables;
    const int cellCount = d.y2 - d.y1 + 1;
    const auto tableOf = [&](int row, int keep) -> const ModeTable<N>& {
        for (ModeTable<N>& t : tables)
            if (t.row() == row)
                return t;
        ModeTable<N>& t = tables[tables[0].row() == keep ? 1 : 0];
        t.build(row, cells + std::ptrdiff_t(row - d.x1) * c0, c1, cellCount, m_records.data());
        return t;
    };

    LogMemo logOf;
    for (int x = lower.x; x < upper.x; ++x) {
        const CellAxis ax = axisAt<CellAxis>(x, m_scale, m_halfScale, d.x1, d.x2);
        const float u = ax.weight;
        const auto* rowA = cells + std::ptrdiff_t(ax.first - d.x1) * c0;
        const auto* rowB = cells + std::ptrdiff_t(ax.second - d.x1) * c0;
        const ModeTable<N>& tableA = tableOf(ax.first, ax.second);
        const ModeTable<N>& tableB = tableOf(ax.second, ax.first);
        const unsigned char* top = pixels + std::ptrdiff_t(x - bounds.x1) * p0;
        LevelPair* out = m_levels + std::ptrdiff_t(x - bounds.x1) * m_levelStride;
        ColumnRange<N> column(top + std::ptrdiff_t(lower.y - bounds.y1) * p1, p0);
        for (int y = lower.y; y < upper.y; ++y) {
            // The block's range: its two columns' ranges, the second kept for the next block.
            const ColumnRange<N> next(top + std::ptrdiff_t(y + 1 - bounds.y1) * p1, p0);
            unsigned char lo[ColumnRange<N>::kBytes], hi[ColumnRange<N>::kBytes];
            column.join(next, lo, hi);
            column = next;
            const CellAxis& ay = m_columns[std::size_t(y - lower.y)];
            const std::ptrdiff_t ya = std::ptrdiff_t(ay.first - d.y1) * c1;
            const std::ptrdiff_t yb = std::ptrdiff_t(ay.second - d.y1) * c1;
            const int ca = ay.first - d.y1, cb = ay.second - d.y1;
            LevelPair s00, s01, s10, s11;
            if (tableA.usable(ca) && tableA.usable(cb) && tableB.usable(ca) && tableB.usable(cb)) {
                fourTableSums<N>(tableA, tableB, ca, cb, lo, hi, s00, s01, s10, s11);
            } else {
                s00 = tableSums<N>(rowA[ya], tableA, ca, m_records.data(), lo, hi);
                s01 = tableSums<N>(rowA[yb], tableA, cb, m_records.data(), lo, hi);
                s10 = tableSums<N>(rowB[ya], tableB, ca, m_records.data(), lo, hi);
                s11 = tableSums<N>(rowB[yb], tableB, cb, m_records.data(), lo, hi);
            }
            const float v = ay.weight;
            const LevelPair l00 = logOf(s00), l01 = logOf(s01), l10 = logOf(s10), l11 = logOf(s11);
            LevelPair& level = out[y - bounds.y1];
            level.peak = -0.5f * (u * (v * l00.peak + (1.f - v) * l01.peak)
                                  + (1.f - u) * (v * l10.peak + (1.f - v) * l11.peak));
            level.valley = -0.5f * (u * (v * l00.valley + (1.f - v) * l01.valley)
                                    + (1.f - u) * (v * l10.valley + (1.f - v) * l11.valley));
            extremes.add(level);
        }
    }
    m_extremes[band] = extremes;
}

LevelExtremes::LevelExtremes() : lowestValley(FLT_MAX), highestPeak(-FLT_MAX) {}

void LevelExtremes::add(const LevelPair& p)
{
    // Values that are not finite come from empty valleys; one of them must not decide the
    // scale of the whole image.
    if (std::isfinite(p.valley))
        lowestValley = std::min(lowestValley, p.valley);
    if (std::isfinite(p.peak))
        highestPeak = std::max(highestPeak, p.peak);
}

void LevelExtremes::add(const LevelExtremes& other)
{
    lowestValley = std::min(lowestValley, other.lowestValley);
    highestPeak = std::max(highestPeak, other.highestPeak);
}

float LevelExtremes::scale() const
{
    // Equal ends give the scale 1; so do ends of which one was never found.
    return highestPeak > lowestValley ? 255.99f / (highestPeak - lowestValley) : 1.0f;
}

namespace {

// The heights of the pixels that have four corners, from bands of rows of the level field:
// each pixel takes the largest upper and the smallest lower height of its corners. Every
// thread holds its own copy with its own rows of corner heights.
class HeightWriter {
public:
    static constexpr int kBandHeight = 64;

    // inner: the pixels with four corners; levels covers inner's corners.
    HeightWriter(const blitz::Array<LevelPair, 2>& levels,
                 blitz::Array<blitz::TinyVector<unsigned char, 3>, 2>& gradient, const Rect& inner,
                 float lowest, float scale)
        : m_levels(&levels), m_gradient(&gradient), m_inner(inner), m_lowest(lowest), m_scale(scale)
    {
    }

    int bandCount() const { return (extent(m_inner).x + kBandHeight - 1) / kBandHeight; }

    void operator()(int job)
    {
        const int first = m_inner.x1 + (bandCount() - 1 - job) * kBandHeight;
        const int last = std::min(first + kBandHeight - 1, m_inner.x2);
        const int n = extent(m_inner).y + 1;  // corners along a row
        m_upper[0].resize(std::size_t(n));
        m_upper[1].resize(std::size_t(n));
        m_lower[0].resize(std::size_t(n));
        m_lower[1].resize(std::size_t(n));
        cornerRow(first - 1, 0);
        const std::ptrdiff_t g1 = m_gradient->stride(1) * 3;
        for (int x = first; x <= last; ++x) {
            const int cur = (x - first + 1) & 1, prev = cur ^ 1;
            cornerRow(x, cur);
            const unsigned char* up0 = m_upper[prev].data();
            const unsigned char* up1 = m_upper[cur].data();
            const unsigned char* lo0 = m_lower[prev].data();
            const unsigned char* lo1 = m_lower[cur].data();
            unsigned char* out = (*m_gradient)(x, m_inner.y1).data();
            for (int k = 0; k < n - 1; ++k, out += g1) {
                out[0] = std::max(std::max(up0[k], up0[k + 1]), std::max(up1[k], up1[k + 1]));
                out[1] = std::min(std::min(lo0[k], lo0[k + 1]), std::min(lo1[k], lo1[k + 1]));
            }
        }
        // Rows first .. last - 1 of the level field are read by this band alone: their memory
        // goes back here, beside the other bands, rather than all at once on the caller's
        // thread when the field is freed.
        if (last > first) {
            const LevelPair* from = &(*m_levels)(first, m_inner.y1 - 1);
            const LevelPair* to = &(*m_levels)(last, m_inner.y1 - 1);
            platform::releasePages(const_cast<LevelPair*>(from), std::size_t(to - from) * sizeof(LevelPair));
        }
    }

private:
    // The corner heights of row x, from the corner before the inner rectangle's first column.
    void cornerRow(int x, int slot)
    {
        const LevelPair* p = &(*m_levels)(x, m_inner.y1 - 1);
        const std::ptrdiff_t step = m_levels->stride(1);
        unsigned char* up = m_upper[slot].data();
        unsigned char* lo = m_lower[slot].data();
        const std::size_t n = m_upper[slot].size();
        for (std::size_t k = 0; k < n; ++k, p += step) {
            up[k] = heightByte((p->peak - m_lowest) * m_scale + 0.005f);
            lo[k] = heightByte((p->valley - m_lowest) * m_scale + 0.005f);
        }
    }

    const blitz::Array<LevelPair, 2>* m_levels;
    blitz::Array<blitz::TinyVector<unsigned char, 3>, 2>* m_gradient;
    Rect m_inner;
    float m_lowest;
    float m_scale;
    std::vector<unsigned char> m_upper[2];
    std::vector<unsigned char> m_lower[2];
};

} // namespace

float scaleLevelField(const blitz::Array<LevelPair, 2>& levels,
                      blitz::Array<blitz::TinyVector<unsigned char, 3>, 2>& gradient)
{
    LevelExtremes extremes;
    const Rect r = domainOf(levels);
    const std::ptrdiff_t l0 = levels.stride(0), l1 = levels.stride(1);
    const LevelPair* first = levels.data();
    for (int x = 0; x < extent(r).x; ++x) {
        const LevelPair* p = first + std::ptrdiff_t(x) * l0;
        for (int y = 0; y < extent(r).y; ++y, p += l1)
            extremes.add(*p);
    }
    const float mn = extremes.lowestValley;
    const float g = extremes.scale();
    if (r.isEmpty())
        return g;

    auto* out = &gradient(r.x1, r.y1);
    const std::ptrdiff_t g0 = gradient.stride(0), g1 = gradient.stride(1);
    for (int x = 0; x < extent(r).x; ++x) {
        const LevelPair* p = first + std::ptrdiff_t(x) * l0;
        auto* o = out + std::ptrdiff_t(x) * g0;
        for (int y = 0; y < extent(r).y; ++y, p += l1, o += g1) {
            (*o)[0] = heightByte((p->peak - mn) * g + 0.005f);
            (*o)[1] = heightByte((p->valley - mn) * g + 0.005f);
        }
    }
    return g;
}

template <int N, int V>
bool Segmentation<N, V>::updateGradients(bool upstreamChanged, ProgressRange range)
{
    const std::int64_t started = platform::counterNanoseconds();
    const Rect b = m_bounds;
    const Rect frame = grow(b, 2);
    if (!(extent(domainOf(m_gradient)) == extent(frame))) {
        // New memory starts at 0 rather than garbage: the width byte is written later.
        fitArrayToRect(m_gradient, frame);
        corvath::utility::fillInSlices(m_gradient, GradientPixel(0, 0, 0));
    }
    fitArrayToRect(m_gradient, frame);
    if (b.isEmpty())
        m_gradientView.free();
    else
        m_gradientView.reference(viewOf(m_gradient, b));
    if (!upstreamChanged)
        return false;
    checkHistogramSettings();

    blitz::Array<LevelPair, 2> levels;
    fitArrayToRect(levels, Rect{b.x1, b.y1, b.x2 - 1, b.y2 - 1});
    range.report(corvath::utility::timedBlockText(
                     kSourcePath, 256, "After array creation",
                     platform::counterSeconds(started, platform::counterNanoseconds())),
                 0.1f);

    m_bandCursor.reset(b.lower(), b.upper(),
                       ProgressRange(range.parent, range.at(range.position), range.at(0.6f)));
    range.position = 0.6f;
    const int bands = m_bandCursor.bandCount();
    m_bandExtremes.assign(std::size_t(bands), LevelExtremes());
    runJobsOnWorkerThreads(m_gradientJobs, bands - 1,
                           GradientUpdater<N, V>(*this, levels, m_bandExtremes.data()),
                           [this, bands](int job) {
                               if (job >= 0)
                                   m_bandCursor.report(bands - 1 - job);
                           });

    ByteView upperHeight = m_gradient.extractComponent((unsigned char)0, 0, 3);
    ByteView lowerHeight = m_gradient.extractComponent((unsigned char)0, 1, 3);
    const auto clearAll = [this] { m_gradient = GradientPixel(0, 0, 0); };
    // The corner values exist only for images of 2 x 2 pixels or more.
    if (b.isEmpty() || extent(b).x < 2 || extent(b).y < 2) {
        m_gradientScale = 1.0f;
        clearAll();
        return true;
    }

    LevelExtremes extremes;
    for (const LevelExtremes& e : m_bandExtremes)
        extremes.add(e);
    m_gradientScale = extremes.scale();

    // Each pixel with four corners takes the largest upper and the smallest lower height of
    // them, in bands on the workers; the corner heights are never stored.
    const Rect inner{b.x1 + 1, b.y1 + 1, b.x2 - 1, b.y2 - 1};
    range.report(std::string(), 0.8f);
    if (!inner.isEmpty()) {
        const HeightWriter writer(levels, m_gradient, inner, extremes.lowestValley, m_gradientScale);
        runJobsOnWorkerThreads(m_gradientJobs, writer.bandCount() - 1, writer);
    }
    range.report(std::string(), 0.9f);
    levels.free();

    // The bounds' first and last rows and columns and the margin copy the nearest pixel that
    // has four corners.
    if (inner.isEmpty()) {
        clearAll();
    } else {
        replicateBorder<unsigned char>(inner, upperHeight);
        replicateBorder<unsigned char>(inner, lowerHeight);
    }
    return true;
}

template class GradientUpdater<6, 0>;
template bool Segmentation<6, 0>::updateGradients(bool, ProgressRange);
template std::array<const ModeRecord*, 6> Segmentation<6, 0>::modeLists() const;
template LevelPair Segmentation<6, 0>::inverseCountSums(IntPair, const unsigned char*,
                                                        const unsigned char*) const;
template LevelPair Segmentation<6, 0>::tableCountSums(IntPair, const unsigned char*,
                                                      const unsigned char*) const;

} // namespace classification
