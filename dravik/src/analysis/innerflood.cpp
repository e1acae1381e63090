#include "analysis/innerflood.h"

#include "platform/clock.h"

#include <algorithm>
#include <cstring>
#include <immintrin.h>
#include <new>

namespace classification {

namespace {

constexpr std::size_t kBlocksPerChunk = 64;
constexpr int kLevels = 256;
// How many records behind the front the flood asks for their pixels' rows.
constexpr std::ptrdiff_t kPrefetchDistance = 48;

// For each set of lanes, their indices in rising order: a permutation that packs those lanes
// to the front of a vector.
struct CompressTable {
    alignas(32) std::int32_t lanes[256][8];
    constexpr CompressTable() : lanes()
    {
        for (int m = 0; m < 256; ++m) {
            int k = 0;
            for (int i = 0; i < 8; ++i)
                if (m >> i & 1)
                    lanes[m][k++] = i;
        }
    }
};
constexpr CompressTable kCompressTable;
constexpr const std::int32_t (&kCompress)[256][8] = kCompressTable.lanes;

std::uint32_t* blockOf(const std::uint32_t* p)
{
    return reinterpret_cast<std::uint32_t*>(reinterpret_cast<std::uintptr_t>(p) & ~std::uintptr_t(4095));
}

} // namespace

PackedInnerFlood::PackedInnerFlood(std::uint32_t* cells, const unsigned char* upper, std::ptrdiff_t rowStride,
                                   int bias, LabelCounter& counter, std::int32_t labelLimit, bool vectorUnit)
    : m_cells(cells), m_upper(upper), m_row(rowStride), m_bias(bias), m_counter(&counter),
      m_labelLimit(std::min(labelLimit, kMaxLabel)), m_avx2(vectorUnit && __builtin_cpu_supports("avx2")),
      m_side{-1, 1, -rowStride, rowStride, rowStride - 1, rowStride + 1, -rowStride - 1, -rowStride + 1}
{
    for (int side = 0; side < 8; ++side)
        m_sideOffsets[side] = std::int32_t(m_side[side]);
}

PackedInnerFlood::~PackedInnerFlood()
{
    for (void* c : m_chunks)
        ::operator delete(c, std::align_val_t(kBlockBytes));
}

std::uint32_t* PackedInnerFlood::takeBlock()
{
    if (m_free.empty()) {
        void* chunk = ::operator new(kBlocksPerChunk * kBlockBytes, std::align_val_t(kBlockBytes));
        // Zeroed: the flood's look-ahead reads words of a block that no record has written yet.
        std::memset(chunk, 0, kBlocksPerChunk * kBlockBytes);
        m_chunks.push_back(chunk);
        // Reserved now, so that giving blocks back never allocates.
        m_free.reserve(m_chunks.size() * kBlocksPerChunk);
        for (std::size_t k = kBlocksPerChunk; k-- > 0;)
            m_free.push_back(reinterpret_cast<std::uint32_t*>(static_cast<char*>(chunk) + k * kBlockBytes));
    }
    std::uint32_t* b = m_free.back();
    m_free.pop_back();
    return b;
}

DRAVIK_FLOOD_INLINE void PackedInnerFlood::push(std::uint32_t to, int priority)
{
    List& l = m_lists[priority];
    if (!l.tail) {
        l.head = l.tail = takeBlock();
    } else if ((reinterpret_cast<std::uintptr_t>(l.tail) & (kBlockBytes - 1)) == kLinkAt) {
        std::uint32_t* b = takeBlock();
        std::memcpy(l.tail, &b, sizeof b);
        l.tail = b;
    }
    *l.tail++ = to;
    if (priority > m_level)
        m_level = priority;
    ++m_count;
}

// Queues every neighbour of p that has no region yet and toward which no record of this
// priority or a higher one heads; marks it with the priority and the side it came from.
DRAVIK_FLOOD_INLINE void PackedInnerFlood::pushNeighbours(std::uint32_t p, int origin, unsigned lowerP,
                                                          std::uint32_t cellP)
{
    m_cells[p] = cellP;
    for (int side = 0; side < 8; ++side) {
        const auto q = std::uint32_t(std::ptrdiff_t(p) + m_side[side]);
        const std::uint32_t c = m_cells[q];
        if (isLabelled(c))
            continue;
        const int priority = std::min(origin, int(std::max(lowerP, c & 0xFFu)) + m_bias);
        if (int((c >> 8) & 0x1FFu) > priority)
            continue;
        m_cells[q] = kUnlabelled | std::uint32_t(side) << 17 | std::uint32_t(priority + 1) << 8 | (c & 0xFFu);
        push(q, priority);
    }
}

// The same, the eight neighbours tested at once.
__attribute__((target("avx2"))) DRAVIK_FLOOD_INLINE void PackedInnerFlood::pushNeighboursAvx2(std::uint32_t p, int origin,
                                                                         unsigned lowerP, std::uint32_t cellP)
{
    std::uint32_t* c = m_cells + p;
    const std::ptrdiff_t r = m_row;
    // One load per neighbour: a wide load over cells stored a moment ago would wait for
    // those stores to reach the cache.
    const __m256i cells = _mm256_setr_epi32(int(c[-1]), int(c[1]), int(c[-r]), int(c[r]), int(c[r - 1]), int(c[r + 1]),
                                            int(c[-r - 1]), int(c[-r + 1]));
    *c = cellP;

    const __m256i byte = _mm256_set1_epi32(0xFF);
    const __m256i lower = _mm256_and_si256(cells, byte);
    const __m256i priority = _mm256_min_epi32(
        _mm256_add_epi32(_mm256_max_epi32(lower, _mm256_set1_epi32(int(lowerP))), _mm256_set1_epi32(m_bias)),
        _mm256_set1_epi32(origin));
    const __m256i unlabelled = _mm256_cmpeq_epi32(_mm256_srli_epi32(cells, 24), byte);
    const __m256i mark = _mm256_and_si256(_mm256_srli_epi32(cells, 8), _mm256_set1_epi32(0x1FF));
    const __m256i queue = _mm256_andnot_si256(_mm256_cmpgt_epi32(mark, priority), unlabelled);
    unsigned mask = unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(queue)));
    if (!mask)
        return;
    const __m256i sides = _mm256_setr_epi32(int(kUnlabelled), int(kUnlabelled | 1u << 17), int(kUnlabelled | 2u << 17),
                                            int(kUnlabelled | 3u << 17), int(kUnlabelled | 4u << 17),
                                            int(kUnlabelled | 5u << 17), int(kUnlabelled | 6u << 17),
                                            int(kUnlabelled | 7u << 17));
    const __m256i marked = _mm256_or_si256(
        _mm256_or_si256(sides, lower),
        _mm256_slli_epi32(_mm256_add_epi32(priority, _mm256_set1_epi32(1)), 8));
    // Every neighbour's cell written back, the queued ones marked: no branch per neighbour.
    alignas(32) std::uint32_t written[8];
    alignas(32) std::int32_t priorities[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(written), _mm256_blendv_epi8(cells, marked, queue));
    _mm256_store_si256(reinterpret_cast<__m256i*>(priorities), priority);
    c[-1] = written[0];
    c[1] = written[1];
    c[-r] = written[2];
    c[r] = written[3];
    c[r - 1] = written[4];
    c[r + 1] = written[5];
    c[-r - 1] = written[6];
    c[-r + 1] = written[7];
    // The records of one priority go to their list together, in the order of their sides.
    const __m256i to = _mm256_add_epi32(_mm256_set1_epi32(int(p)),
                                        _mm256_load_si256(reinterpret_cast<const __m256i*>(m_sideOffsets)));
    do {
        const int priorityQ = priorities[__builtin_ctz(mask)];
        const unsigned group =
            mask & unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(priority, _mm256_set1_epi32(priorityQ)))));
        mask &= ~group;
        List& l = m_lists[priorityQ];
        const int k = __builtin_popcount(group);
        if (l.tail && (reinterpret_cast<std::uintptr_t>(l.tail) & (kBlockBytes - 1)) + 8 * sizeof(std::uint32_t) <= kLinkAt) {
            // Room for eight records before the link: the words past the k queued are
            // written over by the next records.
            const __m256i order = _mm256_load_si256(reinterpret_cast<const __m256i*>(kCompress[group]));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(l.tail), _mm256_permutevar8x32_epi32(to, order));
            l.tail += k;
            if (priorityQ > m_level)
                m_level = priorityQ;
            m_count += std::size_t(k);
        } else {
            for (unsigned g = group; g; g &= g - 1)
                push(p + std::uint32_t(m_sideOffsets[__builtin_ctz(g)]), priorityQ);
        }
    } while (mask);
}

void PackedInnerFlood::collectCandidates(const CandidateArea& area)
{
    // A stable counting sort by height, highest first, bands of rows on threads of their own;
    // a band's candidates of one height go after those of the bands before it, so the order
    // is the storage order whatever the number of bands.
    constexpr std::size_t levels = kLevels + 1;  // the last one stays empty
    constexpr int kRowsPerBand = 256;
    const int bands = std::max(1, std::min(int(platform::processorCount()), area.rows / kRowsPerBand));
    std::vector<std::size_t> start(std::size_t(bands) * levels, 0);
    const auto rowsOf = [&](int b, int& first, int& end) {
        first = int(std::int64_t(area.rows) * b / bands);
        end = int(std::int64_t(area.rows) * (b + 1) / bands);
    };
    detail::forEachBand(bands, [&](int b) {
        int first, end;
        rowsOf(b, first, end);
        std::size_t* count = &start[std::size_t(b) * levels];
        for (int x = first; x < end; ++x) {
            const unsigned char* u = m_upper + 3 * (std::ptrdiff_t(area.first) + std::ptrdiff_t(x) * m_row);
            for (int y = 0; y < area.columns; ++y)
                ++count[std::size_t(kLevels - 1 - u[3 * y])];
        }
    });
    const std::size_t at = detail::placeBandCounts(start, bands, levels, m_heightEnds);
    // Left uninitialised: the bands below write every element, each its own share of them.
    m_candidates.reset(new std::uint32_t[at]);
    m_candidateCount = at;
    detail::forEachBand(bands, [&](int b) {
        int first, end;
        rowsOf(b, first, end);
        std::size_t* next = &start[std::size_t(b) * levels];
        for (int x = first; x < end; ++x) {
            const auto row = std::uint32_t(std::ptrdiff_t(area.first) + std::ptrdiff_t(x) * m_row);
            const unsigned char* u = m_upper + 3 * std::ptrdiff_t(row);
            for (int y = 0; y < area.columns; ++y)
                m_candidates[next[std::size_t(kLevels - 1 - u[3 * y])]++] = row + std::uint32_t(y);
        }
    });
}

bool PackedInnerFlood::flood(const CandidateArea& area, ProgressRange progress)
{
    const std::int64_t started = platform::counterNanoseconds();
    collectCandidates(area);

    // Which pixels have a region, one bit each: small enough to stay in cache, so passing over
    // the candidates that have one reads no cell.
    const std::size_t lastPixel =
        area.rows > 0 ? std::size_t(area.first) + std::size_t(area.rows - 1) * std::size_t(m_row) + std::size_t(area.columns) : 0;
    m_labelled.assign((lastPixel >> 6) + 1, 0);
    const bool complete = m_avx2 ? floodAvx2(progress, started) : floodPortable(progress, started);
    m_candidates.reset();
    m_candidateCount = 0;
    std::vector<std::size_t>().swap(m_heightEnds);
    std::vector<unsigned long long>().swap(m_labelled);
    return complete;
}

#define DRAVIK_INNER_EXPAND pushNeighbours
bool PackedInnerFlood::floodPortable(const ProgressRange& progress, std::int64_t started)
#include "innerflood_loop.inc"
#undef DRAVIK_INNER_EXPAND

#define DRAVIK_INNER_EXPAND pushNeighboursAvx2
__attribute__((target("avx2"))) bool PackedInnerFlood::floodAvx2(const ProgressRange& progress, std::int64_t started)
#include "innerflood_loop.inc"
#undef DRAVIK_INNER_EXPAND

} // namespace classification
