#include "analysis/globalclassification.h"
#include "common/bandthreads.h"
#include "common/rect.h"
#include "common/threadstart.h"

#include "radixsort.h"

#include "platform/clock.h"

#include <boost/thread/scoped_thread.hpp>
#include <boost/thread/thread.hpp>

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>
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

std::atomic<bool> g_forceWideQueueRecords{false};

// Below this many cells per thread a level's preparation is not worth splitting.
constexpr std::size_t kCellsPerHelper = std::size_t(1) << 15;
// Counts up to this bound sort the seeds by counting, above it by radix.
constexpr std::uint32_t kCountingSortLimit = std::uint32_t(1) << 20;
// Flood iterations between two looks at whether the other workers stopped.
constexpr std::size_t kStopPollInterval = std::size_t(1) << 16;

unsigned bitWidth(std::uint64_t v)
{
    unsigned bits = 0;
    for (; v != 0; v >>= 1)
        ++bits;
    return bits;
}

// Runs part(k) for k = 0 .. parts - 1 side by side, part 0 on this thread; joins them all,
// then rethrows the first part's exception if any.
template <typename Part>
void runParts(unsigned parts, const Part& part)
{
    runBands(int(std::max(parts, 1u)), [&part](int k) { part(unsigned(k)); });
}

// A pixel's key counts once; an entry with a count as often as that says.
inline std::uint64_t keyOf(std::uint64_t key) { return key; }
inline std::uint32_t countOf(std::uint64_t) { return 1; }
template <typename Entry>
std::uint64_t keyOf(const Entry& e) { return e.key; }
template <typename Entry>
std::uint32_t countOf(const Entry& e) { return e.count; }

// Sorts items[0, m) by the low `bits` bits of their keys, scratch as large; least significant
// byte first, passes in which every item has the same byte skipped.
template <typename Entry>
void sortByKey(Entry* items, Entry* scratch, std::size_t m, unsigned bits)
{
    if (m < 128) {
        std::sort(items, items + m, [](const Entry& a, const Entry& b) { return keyOf(a) < keyOf(b); });
        return;
    }
    const unsigned passes = (bits + 7) / 8;
    std::uint32_t counts[8][256] = {};
    for (std::size_t i = 0; i < m; ++i) {
        const std::uint64_t k = keyOf(items[i]);
        for (unsigned b = 0; b < passes; ++b)
            ++counts[b][(k >> (8 * b)) & 0xFF];
    }
    Entry* from = items;
    Entry* to = scratch;
    for (unsigned b = 0; b < passes; ++b) {
        std::uint32_t* count = counts[b];
        if (std::find(count, count + 256, std::uint32_t(m)) != count + 256)
            continue;
        std::uint32_t start = 0;
        for (int d = 0; d < 256; ++d) {
            const std::uint32_t c = count[d];
            count[d] = start;
            start += c;
        }
        for (std::size_t i = 0; i < m; ++i)
            to[count[(keyOf(from[i]) >> (8 * b)) & 0xFF]++] = from[i];
        std::swap(from, to);
    }
    if (from != items)
        std::copy(from, from + m, items);
}

// The histogram of the entries that forEach(segment, f) hands to f, segment by segment:
// distinct keys in increasing order with their summed counts. Entries are spread over
// buckets by their top key bits, then each bucket is sorted and summed on its own, all on
// `threads` threads. keyBits: how many low bits of a key can be set.
template <typename EntryBuffer, typename ForEach, typename Buffer64, typename Buffer32>
void countKeys(unsigned threads, std::size_t segments, const ForEach& forEach, unsigned keyBits,
               Buffer64& keys, Buffer32& counts)
{
    using Entry = typename EntryBuffer::value_type;
    constexpr unsigned bucketBits = 12;
    constexpr std::size_t buckets = std::size_t(1) << bucketBits;
    const unsigned shift = keyBits > bucketBits ? keyBits - bucketBits : 0;
    threads = std::max(1u, threads);

    // Where each segment's entries of each bucket go: buckets in order, within a bucket the
    // segments in order.
    std::vector<std::size_t> place(segments * buckets, 0);
    runParts(threads, [&](unsigned part) {
        for (std::size_t s = part; s < segments; s += threads) {
            std::size_t* at = &place[s * buckets];
            forEach(s, [at, shift](const Entry& e) { ++at[keyOf(e) >> shift]; });
        }
    });
    std::vector<std::size_t> bucketStart(buckets + 1, 0);
    std::size_t total = 0;
    for (std::size_t b = 0; b < buckets; ++b) {
        bucketStart[b] = total;
        for (std::size_t s = 0; s < segments; ++s) {
            const std::size_t c = place[s * buckets + b];
            place[s * buckets + b] = total;
            total += c;
        }
    }
    bucketStart[buckets] = total;
    checkCellCount(total);
    EntryBuffer sorted(total);
    Entry* out = sorted.data();
    runParts(threads, [&](unsigned part) {
        for (std::size_t s = part; s < segments; s += threads) {
            std::size_t* at = &place[s * buckets];
            forEach(s, [at, out, shift](const Entry& e) { out[at[keyOf(e) >> shift]++] = e; });
        }
    });

    // Buckets differ much in size (a photograph has its dominant colours): handed out one
    // at a time.
    std::vector<std::size_t> distinct(buckets + 1, 0);
    std::atomic<std::size_t> nextBucket{0};
    runParts(threads, [&](unsigned) {
        EntryBuffer scratch;
        for (std::size_t b = nextBucket++; b < buckets; b = nextBucket++) {
            const std::size_t from = bucketStart[b], m = bucketStart[b + 1] - from;
            if (m == 0)
                continue;
            Entry* items = out + from;
            if (scratch.size() < m)
                scratch.resize(m);
            sortByKey(items, scratch.data(), m, shift);
            std::size_t d = 1;
            for (std::size_t i = 1; i < m; ++i)
                d += keyOf(items[i]) != keyOf(items[i - 1]);
            distinct[b + 1] = d;
        }
    });
    for (std::size_t b = 0; b < buckets; ++b)
        distinct[b + 1] += distinct[b];
    keys.resize(distinct[buckets]);
    counts.resize(distinct[buckets]);
    nextBucket = 0;
    runParts(threads, [&](unsigned) {
        for (std::size_t b = nextBucket++; b < buckets; b = nextBucket++) {
            const std::size_t from = bucketStart[b], m = bucketStart[b + 1] - from;
            const Entry* items = out + from;
            std::size_t o = distinct[b];
            for (std::size_t i = 0; i < m; ++i) {
                if (i == 0 || keyOf(items[i]) != keyOf(items[i - 1])) {
                    keys[o] = keyOf(items[i]);
                    counts[o++] = 0;
                }
                counts[o - 1] += countOf(items[i]);
            }
        }
    });
}

// The binary heap of std::push_heap / std::pop_heap, step for step (so records of equal rank
// come out in the same order), with the next levels prefetched on the way down: the queue
// outgrows the caches on noisy photographs. later(a, b): a comes out after b.
template <typename Heap, typename Record, typename Later>
void heapPush(Heap& queue, const Record& record, Later later)
{
    queue.push_back(record);
    Record* q = queue.data();
    std::size_t hole = queue.size() - 1;
    while (hole > 0) {
        const std::size_t parent = (hole - 1) / 2;
        if (!later(q[parent], record))
            break;
        q[hole] = q[parent];
        hole = parent;
    }
    q[hole] = record;
}

template <typename Heap, typename Later>
typename Heap::value_type heapPop(Heap& queue, Later later)
{
    using Record = typename Heap::value_type;
    Record* q = queue.data();
    const Record top = q[0];
    const std::size_t len = queue.size() - 1;
    if (len == 0) {
        queue.pop_back();
        return top;
    }
    const Record last = q[len];
    // Down to a leaf along the larger children, then up to where the last record belongs.
    std::size_t hole = 0, child = 0;
    while (child < (len - 1) / 2) {
        child = 2 * (child + 1);
        // The descendants of both children three levels down: whichever way the next steps
        // go, the third step after this one reads two of them.
        const std::size_t ahead = 8 * child - 1;
        if (ahead + 16 <= len) {
            const char* g = reinterpret_cast<const char*>(q + ahead);
            for (std::size_t b = 0; b < 16 * sizeof(Record); b += 64)
                __builtin_prefetch(g + b);
            __builtin_prefetch(g + 16 * sizeof(Record) - 1);
        }
        // Without a branch: which child is larger is a coin toss the predictor loses.
        child -= std::size_t(later(q[child], q[child - 1]));
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
    queue.pop_back();
    return top;
}

// The queue of one level over its record type: rank order, and the priority, run and step
// of a record.
template <typename Heap>
struct PackedQueue {
    using Record = typename Heap::value_type;
    Heap& heap;
    unsigned stepBits;
    std::uint64_t fieldMax;

    bool empty() const { return heap.empty(); }
    std::uint32_t topPriority() const { return priority(heap.front()); }
    void push(std::uint32_t p, std::int32_t run, std::int32_t step, std::uint32_t to, decltype(Record::fromId) id)
    {
        const std::uint64_t rank = (std::uint64_t(p) << (2 * stepBits)) |
                                   ((fieldMax - std::uint64_t(run)) << stepBits) |
                                   (fieldMax - std::uint64_t(step));
        heapPush(heap, Record{rank, to, id}, [](const Record& a, const Record& b) { return a.rank < b.rank; });
    }
    Record pop()
    {
        return heapPop(heap, [](const Record& a, const Record& b) { return a.rank < b.rank; });
    }
    std::uint32_t priority(const Record& r) const { return std::uint32_t(r.rank >> (2 * stepBits)); }
    std::int32_t run(const Record& r) const { return std::int32_t(fieldMax - ((r.rank >> stepBits) & fieldMax)); }
    std::int32_t step(const Record& r) const { return std::int32_t(fieldMax - (r.rank & fieldMax)); }
};

template <typename Heap>
struct WideQueue {
    using Record = typename Heap::value_type;
    Heap& heap;

    static bool later(const Record& a, const Record& b)
    {
        if (a.priority != b.priority)
            return a.priority < b.priority;
        if (a.run != b.run)
            return a.run > b.run;
        return a.step > b.step;
    }
    bool empty() const { return heap.empty(); }
    std::uint32_t topPriority() const { return heap.front().priority; }
    void push(std::uint32_t p, std::int32_t run, std::int32_t step, std::uint32_t to, decltype(Record::fromId) id)
    {
        heapPush(heap, Record{p, run, step, to, id}, later);
    }
    Record pop() { return heapPop(heap, later); }
    static std::uint32_t priority(const Record& r) { return r.priority; }
    static std::int32_t run(const Record& r) { return r.run; }
    static std::int32_t step(const Record& r) { return r.step; }
};


} // namespace

template <typename T, int N, typename Label>
void GlobalClassification<T, N, Label>::forceWideQueueRecords(bool on)
{
    g_forceWideQueueRecords = on;
}

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
    // The steps of the histograms as in computeLevels; each level floods as soon as its
    // histogram is done.
    ProgressRange levels = range.nextStep(0.2f);
    float end = 0.5f;
    histogram(levels.nextStep(end));
    try {
        floodLevels([&] {
            publishLevel(0);
            for (int k = 0; k + 1 < levelCount; ++k) {
                if (m_work.stopped())
                    return;
                end = k + 2 == levelCount ? 1.0f : end + (1.0f - end) * 0.5f;
                histogramSubsample(k, levels.nextStep(end));
                doneWithKeys(k);
                publishLevel(k + 1);
            }
        }, true);
    } catch (...) {
        // Levels that finished before the stop are not kept: the set is all or nothing.
        resetMarkers();
        throw;
    }
    // The levels report nothing: their runs have no progress callback.
    range.nextStep(1.0f);
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
    // walks memory in order instead of hashing every pixel into a large table. The rows are
    // cut into segments, one per thread. The rows' reports come first, on this thread: the
    // counting itself is short and runs on all threads at once.
    const unsigned threads = platform::processorCount();
    const std::size_t segments = std::size_t(threads);
    auto rowsOf = [rows, segments](std::size_t s) {
        return std::make_pair(int(std::size_t(rows) * s / segments), int(std::size_t(rows) * (s + 1) / segments));
    };
    auto forEach = [&](std::size_t s, auto f) {
        const auto [from, to] = rowsOf(s);
        for (int r = from; r < to; ++r) {
            const ColourKey* p = base + r * rowStride;
            if (masked) {
                const unsigned char* m = maskBase + r * maskRowStride;
                for (int c = 0; c < cols; ++c, p += colStride)
                    if (m[c * maskColStride] & classMask)
                        f(packKey(*p));
            } else {
                for (int c = 0; c < cols; ++c, p += colStride)
                    f(packKey(*p));
            }
        }
    };
    for (int r = 0; r < rows; ++r)
        if (((x1 + r) & 2047) == 0)
            reporter.report(__LINE__, "histogram", float(r) / float(rows));
    countKeys<Buffer<PackedKey>>(threads, segments, forEach, 8 * N, level0.keys, level0.counts);
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

    const std::size_t total = source.keys.size();
    const unsigned threads = unsigned(std::min<std::size_t>(platform::processorCount(), total / kCellsPerHelper + 1));
    const std::size_t segments = threads;
    const PackedKey* keys = source.keys.data();
    const std::uint32_t* counts = source.counts.data();
    auto forEach = [&](std::size_t s, auto f) {
        for (std::size_t i = total * s / segments, end = total * (s + 1) / segments; i < end; ++i)
            f(KeyCount{(keys[i] >> 1) & keep, counts[i]});
    };
    // The cells are read once the level's keys are in their buckets.
    countKeys<Buffer<KeyCount>>(threads, segments, forEach, 8 * N - unsigned(from) - 1, target.keys,
                                target.counts);
    for (std::size_t i = 0; i < total; i += 65535)
        reporter.report(__LINE__, "histogram subsample internal", float(double(i + 1) / double(total)));
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
        // A row's keys first, so that the table's slots can be loaded some pixels ahead of
        // their lookups: the lookups are scattered over a large table. Answers are kept in a
        // small direct-mapped cache, since neighbouring rows share most of their colours.
        constexpr int ahead = 48;
        constexpr int cacheBits = 12;
        struct Answer {
            PackedKey key;
            Label id;
            bool found;
        };
        const auto cacheSlot = [](PackedKey k) {
            return std::size_t((k * 0x9E3779B97F4A7C15ull) >> (64 - cacheBits));
        };
        std::vector<Answer> cache(std::size_t(1) << cacheBits, Answer{LevelMap::emptyKey, -1, false});
        std::vector<PackedKey> keys(static_cast<std::size_t>(cols));
        const auto load = [&](PackedKey k) {
            if (cache[cacheSlot(k)].key != k)
                lookup.prefetch(k);
        };
        for (int r = b * bandRows, end = std::min(rows, r + bandRows); r < end; ++r) {
            const ColourKey* p = base + r * rowStride;
            for (int c = 0; c < cols; ++c, p += colStride)
                keys[std::size_t(c)] = levelKey(packKey(*p), level);
            for (int c = 0; c < std::min(ahead, cols); ++c)
                load(keys[std::size_t(c)]);
            Label* o = out + r * outRowStride;
            for (int c = 0; c < cols; ++c, o += outColStride) {
                if (c + ahead < cols && keys[std::size_t(c + ahead)] != keys[std::size_t(c + ahead - 1)])
                    load(keys[std::size_t(c + ahead)]);
                const PackedKey k = keys[std::size_t(c)];
                if (k != lastKey) {
                    lastKey = k;
                    Answer& a = cache[cacheSlot(k)];
                    if (a.key != k) {
                        const Cell* cell = lookup.find(k);
                        a = Answer{k, cell ? cell->id : Label(-1), cell != nullptr};
                    }
                    lastId = a.id;
                    if (!a.found)
                        lacking.push_back(k);
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
    floodLevels([this] { publishLevel(levelCount - 1); }, false);
}

template <typename T, int N, typename Label>
void GlobalClassification<T, N, Label>::publishLevel(int level)
{
    boost::lock_guard<boost::mutex> lock(m_boardMutex);
    m_levelsReady = std::max(m_levelsReady, level + 1);
    m_boardChanged.notify_all();
}

template <typename T, int N, typename Label>
void GlobalClassification<T, N, Label>::doneWithKeys(int level)
{
    if (--m_keyReaders[std::size_t(level)] == 0)
        Buffer<PackedKey>().swap(m_histograms[std::size_t(level)].keys);
}

template <typename T, int N, typename Label>
bool GlobalClassification<T, N, Label>::waitForLevel(int level)
{
    boost::unique_lock<boost::mutex> lock(m_boardMutex);
    while (level >= m_levelsReady && m_producing)
        m_boardChanged.wait(lock);
    return level < m_levelsReady;
}

template <typename T, int N, typename Label>
template <typename Produce>
void GlobalClassification<T, N, Label>::floodLevels(Produce produce, bool subsampling)
{
    {
        boost::lock_guard<boost::mutex> lock(m_boardMutex);
        m_levelsReady = 0;
        m_producing = true;
    }
    // A level's keys are read by its neighbour search, by its map entry and (while the
    // histograms are counted) by the next level's count.
    for (int level = 0; level < levelCount; ++level)
        m_keyReaders[std::size_t(level)] = 2 + (subsampling && level + 1 < levelCount ? 1 : 0);
    // Jobs are handed out from the last down; job j is level levelCount - 1 - j, so the
    // largest level starts first.
    m_work.reset(levelCount - 1);
    const unsigned count = platform::processorCount();
    const Watershedder<levelCount> work(*this);
    std::vector<boost::thread> threads;
    std::exception_ptr callerFailure;
    try {
        threads.reserve(count);
        for (unsigned t = 0; t < count; ++t)
            threads.push_back(startThread([this, mine = work]() mutable {
                m_work.guard([&] {
                    for (int job = m_work.take(); job >= 0; job = m_work.take()) {
                        const int level = levelCount - 1 - job;
                        if (!waitForLevel(level))
                            return;
                        mine(level);
                    }
                });
            }));
        produce();
    } catch (...) {
        // Stop the workers (they finish or drop their current level), then report why.
        callerFailure = std::current_exception();
        try {
            throw;
        } catch (const DvExCancel&) {
            m_work.recordCancel();
        } catch (...) {
            m_work.recordFailure();
        }
    }
    {
        boost::lock_guard<boost::mutex> lock(m_boardMutex);
        m_producing = false;
        m_boardChanged.notify_all();
    }
    for (boost::thread& t : threads)
        t.join();
    // The maps now hold everything the histograms held (a level's histogram is read by the
    // next level's until the last one is done).
    for (Histogram& h : m_histograms) {
        Buffer<PackedKey>().swap(h.keys);
        Buffer<std::uint32_t>().swap(h.counts);
    }
    if (callerFailure)
        std::rethrow_exception(callerFailure);
    m_work.rethrow();
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
    m_cellCount = n;
    m_counts = cells.counts.data();
    m_slots.resize(n);
    const unsigned helpers = unsigned(std::min<std::size_t>(platform::processorCount(), n / kCellsPerHelper + 1));

    // A record of priority 0 pops only after every seed of count 1 or more has started, so
    // it can take a cell only if some cell has count 0.
    std::uint32_t smallest = ~std::uint32_t(0), largest = 0;
    for (std::size_t i = 0; i < n; ++i) {
        smallest = std::min(smallest, m_counts[i]);
        largest = std::max(largest, m_counts[i]);
    }
    m_lowestUsefulPriority = n == 0 || smallest == 0 ? 0 : 1;

    bool flooded = false;
    auto floodCells = [&] {
        findNeighbours(cells, helpers);
        m_owner->doneWithKeys(level);
        sortSeeds(largest);
        m_ids.resize(n);
        m_labelled.assign((n + 63) / 64, 0);
        // Priorities are at most half the largest count, runs and steps below the cell count.
        const unsigned stepBits = bitWidth(n);
        if (bitWidth(largest / 2) + 2 * stepBits <= 64 && !g_forceWideQueueRecords) {
            m_packedQueue.clear();
            PackedQueue<Buffer<PackedRecord>> queue{m_packedQueue, stepBits, (std::uint64_t(1) << stepBits) - 1};
            flooded = flood(queue, counter);
        } else {
            m_wideQueue.clear();
            WideQueue<Buffer<WideRecord>> queue{m_wideQueue};
            flooded = flood(queue, counter);
        }
    };
    // Where a cell lands in the map does not depend on its region, so on a large level a
    // helper thread enters the cells while this one floods; the ids follow by slot.
    if (n >= kConcurrentEntryCells && platform::processorCount() > 1) {
        boost::scoped_thread<> helper(startThread([this, &cells, &map] { enterCells(cells, map); }));
        floodCells();
    } else {
        floodCells();
        enterCells(cells, map);
    }
    // What the flood needed goes before the map is filled, while other levels still run.
    Buffer<std::uint32_t>().swap(m_neighbourStart);
    Buffer<std::uint32_t>().swap(m_neighbours);
    Buffer<std::uint32_t>().swap(m_seeds);
    Buffer<std::uint64_t>().swap(m_labelled);
    Buffer<PackedRecord>().swap(m_packedQueue);
    Buffer<WideRecord>().swap(m_wideQueue);
    if (!flooded)
        return;
    const std::uint32_t* slots = m_slots.data();
    const Label* ids = m_ids.data();
    const std::uint32_t* counts = m_counts;
    runParts(helpers, [&](unsigned part) {
        const std::size_t from = n * part / helpers, to = n * (part + 1) / helpers;
        for (std::size_t i = from; i < to; ++i)
            map.slot(slots[i]).value = Cell{ids[i], counts[i]};
    });
    m_owner->m_markers[l] = counter.next;
    Buffer<std::uint32_t>().swap(m_slots);
    Buffer<Label>().swap(m_ids);
}

template <typename T, int N, typename Label>
template <int Levels>
template <typename Queue>
bool GlobalClassification<T, N, Label>::Watershedder<Levels>::flood(Queue& queue, LabelCounter& counter)
{
    const std::size_t n = m_cellCount;
    const std::uint32_t* seeds = m_seeds.data();
    const SeedRun* seedRun = m_seedRuns.data();
    const std::uint32_t* counts = m_counts;
    const std::uint32_t* starts = m_neighbourStart.data();
    const std::uint64_t* labelled = m_labelled.data();
    std::size_t next = 0;
    for (std::size_t round = 1;; ++round) {
        if (round % kStopPollInterval == 0 && m_owner->m_work.stopped())
            return false;
        const bool seedLeft = next < n;
        if (queue.empty() && !seedLeft)
            break;
        while (seedLeft && seedRun->end <= next)
            ++seedRun;
        if (seedLeft && (queue.empty() || seedRun->count > queue.topPriority())) {
            const std::uint32_t seed = seeds[next];
            const Label id = counter.next > counter.maximum ? counter.maximum : counter.next++;
            label(seed, id);
            pushNeighbours(queue, seed, id, seedRun->count, 0, 0);
        } else {
            const auto top = queue.pop();
            // The next record's cell is most likely the next one expanded.
            if (!queue.empty()) {
                const std::uint32_t ahead = queue.heap.front().to;
                __builtin_prefetch(counts + ahead);
                __builtin_prefetch(starts + ahead);
            }
            if (!isLabelled(labelled, top.to)) {
                label(top.to, top.fromId);
                pushNeighbours(queue, top.to, top.fromId, queue.priority(top), queue.run(top), queue.step(top));
            }
        }
        while (next < n && isLabelled(labelled, seeds[next]))
            ++next;
    }
    return true;
}

template <typename T, int N, typename Label>
template <int Levels>
template <typename Queue>
void GlobalClassification<T, N, Label>::Watershedder<Levels>::pushNeighbours(
    Queue& queue, std::uint32_t cell, Label id, std::uint32_t priority, std::int32_t run,
    std::int32_t step)
{
    // Every record of this cell has the same priority, and one that every seed outranks is
    // never needed; nor is one whose target already has a region (its own or another), which
    // could only be popped and dropped. Leaving them out keeps the heap small on noisy
    // images, where most cells are single pixels of height 0.
    const std::uint32_t height = m_counts[cell] / 2;
    const std::uint32_t p = std::min(priority, height);
    if (p < m_lowestUsefulPriority)
        return;
    const std::int32_t nextRun = height >= priority ? run + 1 : 0;
    const std::uint32_t* list = m_neighbours.data();
    const std::uint64_t* labelled = m_labelled.data();
    for (std::uint32_t e = m_neighbourStart[cell], end = m_neighbourStart[cell + 1]; e < end; ++e)
        if (!isLabelled(labelled, list[e]))
            queue.push(p, nextRun, step + 1, list[e], id);
}

template <typename T, int N, typename Label>
template <int Levels>
void GlobalClassification<T, N, Label>::Watershedder<Levels>::sortSeeds(std::uint32_t largest)
{
    const std::size_t n = m_cellCount;
    const std::uint32_t* counts = m_counts;
    m_seeds.resize(n);
    m_seedRuns.clear();
    if (largest < kCountingSortLimit) {
        // Counting sort, largest count first; stable, so equal counts stay in key order.
        std::vector<std::uint32_t> start(std::size_t(largest) + 2, 0);
        for (std::size_t i = 0; i < n; ++i)
            ++start[largest - counts[i] + 1];
        for (std::size_t c = 1; c < start.size(); ++c)
            start[c] += start[c - 1];
        for (std::size_t i = 0; i < n; ++i)
            m_seeds[start[largest - counts[i]]++] = std::uint32_t(i);
        // start[largest - c] now ends the seeds of count c.
        for (std::size_t k = 0; k <= largest; ++k)
            if (start[k] > (k == 0 ? 0 : start[k - 1]))
                m_seedRuns.push_back({start[k], largest - std::uint32_t(k)});
        return;
    }
    // The count's complement rides above the cell number.
    Buffer<std::uint64_t> seeds(n), scratch;
    for (std::size_t i = 0; i < n; ++i)
        seeds[i] = (std::uint64_t(~counts[i]) << 32) | i;
    detail::radixSort(seeds, scratch, 4, [](std::uint64_t s) { return s >> 32; });
    for (std::size_t i = 0; i < n; ++i) {
        m_seeds[i] = std::uint32_t(seeds[i]);
        const std::uint32_t count = ~std::uint32_t(seeds[i] >> 32);
        if (m_seedRuns.empty() || m_seedRuns.back().count != count)
            m_seedRuns.push_back({std::uint32_t(i + 1), count});
        else
            m_seedRuns.back().end = std::uint32_t(i + 1);
    }
}

template <typename T, int N, typename Label>
template <int Levels>
void GlobalClassification<T, N, Label>::Watershedder<Levels>::enterCells(const Histogram& cells,
                                                                       LevelMap& map)
{
    const std::size_t n = cells.keys.size();
    map.reserve(map.size() + n);
    std::uint32_t* slots = m_slots.data();
    for (std::size_t i = 0; i < n; ++i) {
        if (i + 8 < n)
            map.prefetch(cells.keys[i + 8]);
        slots[i] = std::uint32_t(map.insertSlot(cells.keys[i], Cell{-1, cells.counts[i]}));
    }
    m_owner->doneWithKeys(int(&cells - m_owner->m_histograms.data()));
}

template <typename T, int N, typename Label>
template <int Levels>
void GlobalClassification<T, N, Label>::Watershedder<Levels>::findNeighbours(const Histogram& cells,
                                                                           unsigned threads)
{
    // With the keys sorted, the keys one step below (or above) in channel c are sorted as
    // well, so a cursor per channel and direction walks forward to each cell's neighbour
    // without a single table lookup. A cell's range of cells is found by binary search, so
    // ranges of cells are independent. A key whose byte c is 0 (255) has no lower (upper)
    // neighbour in c: the step would borrow from (carry into) the next channel.
    const PackedKey* keys = cells.keys.data();
    const std::size_t n = cells.keys.size();
    const std::uint32_t* counts = m_counts;
    const std::uint32_t lowest = m_lowestUsefulPriority;
    // Only a cell whose height reaches the lowest useful priority ever pushes a record.
    auto pushes = [counts, lowest](std::size_t i) { return counts[i] / 2 >= lowest; };

    // Calls f(cell, neighbour) for every neighbour of every pushing cell in [from, to), in
    // push order.
    auto walk = [keys, n, pushes](std::size_t from, std::size_t to, auto f) {
        if (from >= to)
            return;
        std::size_t below[N], above[N];
        for (int c = 0; c < N; ++c) {
            const PackedKey one = PackedKey(1) << (8 * c);
            const PackedKey first = keys[from];
            below[c] = std::size_t(std::lower_bound(keys, keys + n, first >= one ? first - one : 0) - keys);
            above[c] = std::size_t(std::lower_bound(keys, keys + n, first + one) - keys);
        }
        for (std::size_t i = from; i < to; ++i) {
            if (!pushes(i))
                continue;
            const PackedKey k = keys[i];
            for (int c = 0; c < N; ++c) {
                const PackedKey one = PackedKey(1) << (8 * c);
                const unsigned byte = unsigned(k >> (8 * c)) & 0xFFu;
                if (byte != 0) {
                    const PackedKey target = k - one;
                    std::size_t& j = below[c];
                    while (j < n && keys[j] < target)
                        ++j;
                    if (j < n && keys[j] == target)
                        f(i, j);
                }
                if (byte != 0xFF) {
                    const PackedKey target = k + one;
                    std::size_t& j = above[c];
                    while (j < n && keys[j] < target)
                        ++j;
                    if (j < n && keys[j] == target)
                        f(i, j);
                }
            }
        }
    };

    m_neighbourStart.resize(n + 1);
    std::uint32_t* start = m_neighbourStart.data();
    threads = std::max(1u, threads);
    std::vector<std::size_t> partTotal(threads + 1, 0);
    auto partRange = [n, threads](unsigned part) {
        return std::make_pair(n * part / threads, n * (part + 1) / threads);
    };
    // Each part lists its cells' neighbours on its own; once the parts' sizes are known the
    // lists are joined and the counts become offsets.
    std::vector<Buffer<std::uint32_t>> partLists(threads);
    runParts(threads, [&](unsigned part) {
        const auto [from, to] = partRange(part);
        for (std::size_t i = from; i < to; ++i)
            start[i + 1] = 0;
        Buffer<std::uint32_t>& mine = partLists[part];
        mine.reserve((to - from) * 2);
        walk(from, to, [start, &mine](std::size_t i, std::size_t j) {
            ++start[i + 1];
            mine.push_back(std::uint32_t(j));
        });
        partTotal[part + 1] = mine.size();
    });
    for (unsigned part = 0; part < threads; ++part)
        partTotal[part + 1] += partTotal[part];
    if (partTotal[threads] > std::size_t(0xFFFFFFFFu))
        throw std::length_error("list<T> too long");
    m_neighbours.resize(partTotal[threads]);
    start[0] = 0;
    std::uint32_t* list = m_neighbours.data();
    runParts(threads, [&](unsigned part) {
        const auto [from, to] = partRange(part);
        std::size_t offset = partTotal[part];
        for (std::size_t i = from; i < to; ++i) {
            offset += start[i + 1];
            start[i + 1] = std::uint32_t(offset);
        }
        Buffer<std::uint32_t>& mine = partLists[part];
        std::copy(mine.begin(), mine.end(), list + partTotal[part]);
        Buffer<std::uint32_t>().swap(mine);
    });
}

template class GlobalClassification<unsigned char, 6, int>;
template class GlobalClassification<unsigned char, 6, int>::Watershedder<7>;

} // namespace classification
