#include "classification/globalclassification.h"
#include "classification/rect.h"

#include "radixsort.h"

#include "platform/clock.h"

#include <boost/thread/scoped_thread.hpp>
#include <boost/thread/thread.hpp>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace classification {

namespace {

constexpr std::uint64_t bytesOfAllChannels(int n, unsigned byte)
{
    std::uint64_t m = 0;
    for (int c = 0; c < n; ++c)
        m |= std::uint64_t(byte) << (8 * c);
    return m;
}

// Progress of a timed block: the text is built only when someone listens.
class BlockReporter {
public:
    explicit BlockReporter(ProgressRange& range)
        : m_range(range), m_start(platform::counterNanoseconds()) {}

    void report(int line, const char* label, float fraction)
    {
        if (!m_range.parent)
            return;
        const double seconds = platform::counterSeconds(m_start, platform::counterNanoseconds());
        m_range.report(corvath::utility::timedBlockText(__FILE__, line, label, seconds), fraction);
    }

private:
    ProgressRange& m_range;
    std::int64_t m_start;
};


// Below this many cells a level enters its map on its own thread after the flood.
constexpr std::size_t kConcurrentEntryCells = std::size_t(1) << 16;

// Cell numbers and counts are 32-bit.
void checkCellCount(std::size_t n)
{
    if (n > std::size_t(0x7FFFFFFF))
        throw std::length_error("list<T> too long");
}

} // namespace

template <typename T, int N, typename Label>
GlobalClassification<T, N, Label>::GlobalClassification()
{
    m_markers.fill(-1);
}

template <typename T, int N, typename Label>
typename GlobalClassification<T, N, Label>::PackedKey
GlobalClassification<T, N, Label>::packKey(const ColourKey& key)
{
    PackedKey k = 0;
    for (int c = 0; c < N; ++c)
        k |= PackedKey(key[c]) << (8 * c);
    return k;
}

template <typename T, int N, typename Label>
typename GlobalClassification<T, N, Label>::PackedKey
GlobalClassification<T, N, Label>::levelKey(PackedKey key, int level)
{
    return (key >> level) & bytesOfAllChannels(N, 0xFFu >> level);
}

template <typename T, int N, typename Label>
void GlobalClassification<T, N, Label>::ensureLevels(ProgressRange range)
{
    if (std::find(m_markers.begin(), m_markers.end(), -1) == m_markers.end())
        return;
    // A run cut short by a cancel leaves partial levels behind; counting on top of them
    // would double the histogram and continue the old numbering.
    clearLevels();
    resetMarkers();
    computeLevels(range.nextStep(0.2f));
    runWatershedders(range.nextStep(1.0f));
}

template <typename T, int N, typename Label>
void GlobalClassification<T, N, Label>::computeLevels(ProgressRange range)
{
    // Each step takes half of what is left of the range; the last one takes the rest.
    float end = 0.5f;
    histogram(range.nextStep(end));
    for (int k = 0; k + 1 < levelCount; ++k) {
        end = k + 2 == levelCount ? 1.0f : end + (1.0f - end) * 0.5f;
        histogramSubsample(k, range.nextStep(end));
    }
}

template <typename T, int N, typename Label>
void GlobalClassification<T, N, Label>::histogram(ProgressRange range)
{
    Histogram& level0 = m_histograms[0];
    level0.keys.clear();
    level0.counts.clear();
    BlockReporter reporter(range);
    const int rows = m_image.extent(0), cols = m_image.extent(1);
    if (rows == 0 || cols == 0)
        return;
    const int x1 = m_image.lbound(0), y1 = m_image.lbound(1);
    const bool masked = std::size_t(m_mask.extent(0)) * std::size_t(m_mask.extent(1)) != 0;
    if (masked && !corvath::utility::arrayCovers(m_mask, {x1, y1, m_image.ubound(0), m_image.ubound(1)}))
        throw std::invalid_argument("class mask does not cover the analysis image");
    checkCellCount(std::size_t(rows) * std::size_t(cols));

    const ColourKey* base = &m_image(x1, y1);
    const long rowStride = m_image.stride(0), colStride = m_image.stride(1);
    const unsigned char* maskBase = masked ? &m_mask(x1, y1) : nullptr;
    const long maskRowStride = m_mask.stride(0), maskColStride = m_mask.stride(1);
    const unsigned char classMask = m_classMask;

    // Counting by sorting: the pixels' keys are gathered, sorted and counted in runs, which
    // walks memory in order instead of hashing every pixel into a large table.
    Buffer<PackedKey> keys;
    keys.reserve(std::size_t(rows) * std::size_t(cols));
    for (int r = 0; r < rows; ++r) {
        if (((x1 + r) & 2047) == 0)
            reporter.report(__LINE__, "histogram", float(r) / float(rows));
        const ColourKey* p = base + r * rowStride;
        if (masked) {
            const unsigned char* m = maskBase + r * maskRowStride;
            for (int c = 0; c < cols; ++c, p += colStride)
                if (m[c * maskColStride] & classMask)
                    keys.push_back(packKey(*p));
        } else {
            for (int c = 0; c < cols; ++c, p += colStride)
                keys.push_back(packKey(*p));
        }
    }
    {
        Buffer<PackedKey> scratch;
        detail::radixSort(keys, scratch, N, [](PackedKey k) { return k; });
    }
    std::size_t distinct = 0;
    for (std::size_t i = 0; i < keys.size(); ++i)
        distinct += i == 0 || keys[i] != keys[i - 1];
    level0.keys.reserve(distinct);
    level0.counts.reserve(distinct);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i == 0 || keys[i] != keys[i - 1]) {
            level0.keys.push_back(keys[i]);
            level0.counts.push_back(0);
        }
        ++level0.counts.back();
    }
}

template <typename T, int N, typename Label>
void GlobalClassification<T, N, Label>::histogramSubsample(int from, ProgressRange range)
{
    if (from < 0 || from + 1 >= levelCount)
        throw std::out_of_range("no coarser colour level");
    const Histogram& source = m_histograms[std::size_t(from)];
    Histogram& target = m_histograms[std::size_t(from) + 1];
    target.keys.clear();
    target.counts.clear();
    BlockReporter reporter(range);
    const PackedKey keep = bytesOfAllChannels(N, 0x7F);

    struct Entry {
        PackedKey key;
        std::uint32_t count;
    };
    const std::size_t total = source.keys.size();
    Buffer<Entry> entries(total);
    for (std::size_t i = 0; i < total; ++i) {
        entries[i] = {(source.keys[i] >> 1) & keep, source.counts[i]};
        if (i % 65535 == 0)
            reporter.report(__LINE__, "histogram subsample internal", float(double(i + 1) / double(total)));
    }
    {
        Buffer<Entry> scratch;
        detail::radixSort(entries, scratch, N, [](const Entry& e) { return e.key; });
    }
    std::size_t distinct = 0;
    for (std::size_t i = 0; i < total; ++i)
        distinct += i == 0 || entries[i].key != entries[i - 1].key;
    target.keys.reserve(distinct);
    target.counts.reserve(distinct);
    for (std::size_t i = 0; i < total; ++i) {
        if (i == 0 || entries[i].key != entries[i - 1].key) {
            target.keys.push_back(entries[i].key);
            target.counts.push_back(0);
        }
        target.counts.back() += entries[i].count;
    }
    reporter.report(__LINE__, "histogram subsample", 1.0f);
}

template <typename T, int N, typename Label>
int GlobalClassification<T, N, Label>::partition(int level, LabelImage labels, ProgressRange range)
{
    if (level < 0 || level >= levelCount)
        throw std::out_of_range("no such colour level");
    if (labels.lbound(0) != m_image.lbound(0) || labels.lbound(1) != m_image.lbound(1) ||
        labels.extent(0) != m_image.extent(0) || labels.extent(1) != m_image.extent(1))
        throw std::invalid_argument("label image and analysis image differ in domain");
    LevelMap& map = m_levels[std::size_t(level)];
    BlockReporter reporter(range);
    const int rows = m_image.extent(0), cols = m_image.extent(1);
    if (rows == 0 || cols == 0)
        return m_markers[std::size_t(level)];
    const int x1 = m_image.lbound(0), y1 = m_image.lbound(1);
    const ColourKey* base = &m_image(x1, y1);
    const long rowStride = m_image.stride(0), colStride = m_image.stride(1);
    Label* out = &labels(x1, y1);
    const long outRowStride = labels.stride(0), outColStride = labels.stride(1);

    // Bands of rows on one thread per processor, each reading the map without changing it
    // and noting the keys it lacks; those are entered afterwards in row order, as one pass
    // entering them on the way would have, so the map ends the same.
    constexpr int bandRows = 128;
    const int bands = (rows + bandRows - 1) / bandRows;
    std::vector<std::vector<PackedKey>> missing(static_cast<std::size_t>(bands));
    const LevelMap& lookup = map;
    const auto band = [&](int b) {
        PackedKey lastKey = LevelMap::emptyKey;
        Label lastId = -1;
        std::vector<PackedKey>& lacking = missing[std::size_t(b)];
        for (int r = b * bandRows, end = std::min(rows, r + bandRows); r < end; ++r) {
            const ColourKey* p = base + r * rowStride;
            Label* o = out + r * outRowStride;
            for (int c = 0; c < cols; ++c, p += colStride, o += outColStride) {
                const PackedKey k = levelKey(packKey(*p), level);
                if (k != lastKey) {
                    lastKey = k;
                    const Cell* cell = lookup.find(k);
                    if (cell) {
                        lastId = cell->id;
                    } else {
                        lastId = -1;
                        lacking.push_back(k);
                    }
                }
                *o = lastId;
            }
        }
    };
    // Bands are handed out from the last; the report tells how many are done.
    JobRecord work;
    runJobsOnWorkerThreads(work, bands - 1, [&band](int b) { band(b); }, [&reporter, bands](int b) {
        reporter.report(__LINE__, "partition", float(bands - 1 - std::max(b, -1)) / float(bands));
    });
    for (const std::vector<PackedKey>& lacking : missing)
        for (PackedKey k : lacking)
            map.insert(k, Cell{-1, 0});
    return m_markers[std::size_t(level)];
}

template <typename T, int N, typename Label>
void GlobalClassification<T, N, Label>::clearLevels()
{
    for (LevelMap& map : m_levels)
        map.clear();
    for (Histogram& h : m_histograms) {
        Buffer<PackedKey>().swap(h.keys);
        Buffer<std::uint32_t>().swap(h.counts);
    }
    m_counters.fill(LabelCounter{});
}

template <typename T, int N, typename Label>
void GlobalClassification<T, N, Label>::runWatershedders(ProgressRange)
{
    // The levels report nothing: their runs have no progress callback.
    runJobsOnWorkerThreads(m_work, levelCount - 1, Watershedder<levelCount>(*this));
}

template <typename T, int N, typename Label>
template <int Levels>
void GlobalClassification<T, N, Label>::Watershedder<Levels>::operator()(int level)
{
    // Only this thread has this level: its histogram, map, counter and marker are its own.
    const std::size_t l = std::size_t(level);
    Histogram& cells = m_owner->m_histograms[l];
    LabelCounter& counter = m_owner->m_counters[l];
    LevelMap& map = m_owner->m_levels[l];
    const std::size_t n = cells.keys.size();
    map.reserve(map.size() + n);
    m_slots.resize(n);

    // Where a cell lands in the map does not depend on its region, so on a large level
    // (level 0 of a noisy photograph, whose other levels are long done) a helper thread
    // enters the cells while this one floods; the ids follow by slot.
    if (n >= kConcurrentEntryCells && platform::processorCount() > 1) {
        boost::scoped_thread<> helper(boost::thread([this, &cells, &map] { enterCells(cells, map); }));
        flood(cells, counter);
    } else {
        flood(cells, counter);
        enterCells(cells, map);
    }
    const std::uint32_t* slots = m_slots.data();
    for (std::size_t i = 0; i < n; ++i)
        map.slot(slots[i]).value = Cell{m_ids[i], cells.counts[i]};
    m_owner->m_markers[l] = counter.next;

    // The map now holds everything the histogram held.
    Buffer<PackedKey>().swap(cells.keys);
    Buffer<std::uint32_t>().swap(cells.counts);
}

template <typename T, int N, typename Label>
template <int Levels>
void GlobalClassification<T, N, Label>::Watershedder<Levels>::flood(const Histogram& cells,
                                                                  LabelCounter& counter)
{
    const std::size_t n = cells.keys.size();
    m_counts = cells.counts.data();
    m_ids.assign(n, -1);
    m_queue.clear();
    findNeighbours(cells);

    // Seeds: largest count first, equal counts in key order (the sort is stable and the
    // cells come in key order). The count's complement rides above the cell number.
    m_seeds.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        m_seeds[i] = (std::uint64_t(~m_counts[i]) << 32) | i;
    {
        Buffer<std::uint64_t> scratch;
        detail::radixSort(m_seeds, scratch, 4, [](std::uint64_t s) { return s >> 32; });
    }
    // A record of priority 0 pops only after every seed of count 1 or more has started, so
    // it can take a cell only if some cell has count 0.
    m_lowestUsefulPriority = n == 0 || m_counts[std::uint32_t(m_seeds.back())] == 0 ? 0 : 1;

    std::size_t next = 0;
    for (;;) {
        const bool seedLeft = next < n;
        if (m_queue.empty() && !seedLeft)
            break;
        const std::uint32_t seed = seedLeft ? std::uint32_t(m_seeds[next]) : 0;
        if (seedLeft && (m_queue.empty() || m_counts[seed] > m_queue.front().priority)) {
            m_ids[seed] = counter.next > counter.maximum ? counter.maximum : counter.next++;
            pushNeighbours(seed, m_counts[seed], 0, 0);
        } else {
            const QueueRecord top = heapPop();
            if (m_ids[top.to] == -1) {
                m_ids[top.to] = m_ids[top.from];
                pushNeighbours(top.to, top.priority, top.run, top.step);
            }
        }
        while (next < n && m_ids[std::uint32_t(m_seeds[next])] != -1)
            ++next;
    }
}

template <typename T, int N, typename Label>
template <int Levels>
void GlobalClassification<T, N, Label>::Watershedder<Levels>::enterCells(const Histogram& cells,
                                                                       LevelMap& map)
{
    const std::size_t n = cells.keys.size();
    std::uint32_t* slots = m_slots.data();
    for (std::size_t i = 0; i < n; ++i) {
        if (i + 8 < n)
            map.prefetch(cells.keys[i + 8]);
        slots[i] = std::uint32_t(map.insertSlot(cells.keys[i], Cell{-1, cells.counts[i]}));
    }
}

template <typename T, int N, typename Label>
template <int Levels>
void GlobalClassification<T, N, Label>::Watershedder<Levels>::findNeighbours(const Histogram& cells)
{
    // With the keys sorted, the keys plus one step in channel c are sorted as well, so a
    // merge of the two sequences finds every neighbour pair of that channel, in increasing
    // order, without a single table lookup. A key whose byte c is 255 carries into the next
    // channel: its match is not a neighbour.
    const PackedKey* keys = cells.keys.data();
    const std::size_t n = cells.keys.size();
    auto forEachPair = [keys, n](int c, auto f) {
        const PackedKey one = PackedKey(1) << (8 * c);
        std::size_t i = 0, j = 0;
        while (i < n && j < n) {
            const PackedKey a = keys[i] + one, b = keys[j];
            if (a == b && ((keys[i] >> (8 * c)) & 0xFF) != 0xFF)
                f(std::uint32_t(i), std::uint32_t(j));
            i += a <= b;
            j += b <= a;
        }
    };

    m_neighbourStart.assign(n + 1, 0);
    std::uint32_t* start = m_neighbourStart.data();
    for (int c = 0; c < N; ++c)
        forEachPair(c, [start](std::uint32_t lower, std::uint32_t upper) {
            ++start[lower + 1];
            ++start[upper + 1];
        });
    for (std::size_t i = 0; i < n; ++i)
        start[i + 1] += start[i];
    m_neighbours.resize(start[n]);
    // start[i] serves as cell i's write position, and ends as the start of cell i + 1. Pairs
    // come channel by channel and in increasing order of the lower cell, so a cell's lower
    // neighbour in a channel is listed before its upper one.
    std::uint32_t* list = m_neighbours.data();
    for (int c = 0; c < N; ++c)
        forEachPair(c, [start, list](std::uint32_t lower, std::uint32_t upper) {
            list[start[lower]++] = upper;
            list[start[upper]++] = lower;
        });
    for (std::size_t i = n; i > 0; --i)
        start[i] = start[i - 1];
    start[0] = 0;
}

template <typename T, int N, typename Label>
template <int Levels>
void GlobalClassification<T, N, Label>::Watershedder<Levels>::pushNeighbours(
    std::uint32_t cell, std::uint32_t priority, std::int32_t run, std::int32_t step)
{
    const std::uint32_t* n = m_neighbours.data();
    for (std::uint32_t e = m_neighbourStart[cell], end = m_neighbourStart[cell + 1]; e < end; ++e)
        queuePush(cell, n[e], priority, run, step);
}

template <typename T, int N, typename Label>
template <int Levels>
void GlobalClassification<T, N, Label>::Watershedder<Levels>::queuePush(
    std::uint32_t from, std::uint32_t to, std::uint32_t priority, std::int32_t run,
    std::int32_t step)
{
    // A record whose target already has a region (its own or another) can only be popped
    // and dropped, and so can one that every seed outranks; leaving them out keeps the heap
    // small on noisy images, where most cells are single pixels of height 0.
    if (m_ids[to] != -1)
        return;
    const std::uint32_t height = m_counts[from] / 2;
    const std::uint32_t p = std::min(priority, height);
    if (p < m_lowestUsefulPriority)
        return;
    heapPush({from, to, p, height >= priority ? run + 1 : 0, step + 1});
}

template <typename T, int N, typename Label>
template <int Levels>
void GlobalClassification<T, N, Label>::Watershedder<Levels>::heapPush(const QueueRecord& record)
{
    m_queue.push_back(record);
    QueueRecord* q = m_queue.data();
    std::size_t hole = m_queue.size() - 1;
    const ComesLater later;
    while (hole > 0) {
        const std::size_t parent = (hole - 1) / 2;
        if (!later(q[parent], record))
            break;
        q[hole] = q[parent];
        hole = parent;
    }
    q[hole] = record;
}

template <typename T, int N, typename Label>
template <int Levels>
typename GlobalClassification<T, N, Label>::template Watershedder<Levels>::QueueRecord
GlobalClassification<T, N, Label>::Watershedder<Levels>::heapPop()
{
    QueueRecord* q = m_queue.data();
    const QueueRecord top = q[0];
    const std::size_t len = m_queue.size() - 1;
    if (len == 0) {
        m_queue.pop_back();
        return top;
    }
    const QueueRecord last = q[len];
    const ComesLater later;
    // Down to a leaf along the larger children, then up to where the last record belongs.
    std::size_t hole = 0, child = 0;
    while (child < (len - 1) / 2) {
        child = 2 * (child + 1);
        // The grandchildren of both children: whichever way this step goes, the step
        // after next reads two of them.
        const std::size_t ahead = 4 * child - 1;
        if (ahead + 8 <= len) {
            const char* g = reinterpret_cast<const char*>(q + ahead);
            for (std::size_t b = 0; b < 8 * sizeof(QueueRecord); b += 64)
                __builtin_prefetch(g + b);
            __builtin_prefetch(g + 8 * sizeof(QueueRecord) - 1);
        }
        if (later(q[child], q[child - 1]))
            --child;
        q[hole] = q[child];
        hole = child;
    }
    if ((len & 1) == 0 && child == (len - 2) / 2) {
        child = 2 * (child + 1);
        q[hole] = q[child - 1];
        hole = child - 1;
    }
    while (hole > 0) {
        const std::size_t parent = (hole - 1) / 2;
        if (!later(q[parent], last))
            break;
        q[hole] = q[parent];
        hole = parent;
    }
    q[hole] = last;
    m_queue.pop_back();
    return top;
}

template class GlobalClassification<unsigned char, 6, int>;
template class GlobalClassification<unsigned char, 6, int>::Watershedder<7>;

} // namespace classification
