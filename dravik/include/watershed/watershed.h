#pragma once
// The seeded pixel flood shared by the segmentation's inner watershed and by auto-complex:
// regions start at the highest candidates and grow through their neighbours in the order of
// the priorities that the queue gives each step. Policies choose the queue, the neighbourhood,
// the heights and how regions are numbered. Pixels are 32-bit element offsets into one
// lattice that the label table and the heights share; a frame of labelled pixels around the
// candidates spares every bounds test.

#include "session/progress.h"
#include "platform/clock.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace classification {

// A pixel: its element offset from the lattice's first element.
using PixelOffset = std::uint32_t;

// Regions numbered 0, 1, 2, ... up to the maximum, which every later region shares. Keeps no
// contacts between regions.
class LabelCounter {
public:
    // The flood may leave out records that would change nothing when they left the queue.
    static constexpr bool kKeepsContacts = false;

    explicit LabelCounter(std::int32_t maximum = 2147483646) : m_maximum(maximum) {}

    std::int32_t take() { return m_next > m_maximum ? m_maximum : m_next++; }
    // The label that the next take returns, before the maximum is reached: the number of
    // labels handed out so far.
    std::int32_t next() const { return m_next; }

    // Flood policy.
    std::int32_t newRegion() { return take(); }
    void contact(PixelOffset, PixelOffset) {}

private:
    std::int32_t m_maximum;
    std::int32_t m_next = 0;
};

// A bucket queue of first-in first-out lists, one per priority 0 .. levels - 1. Records of
// equal priority leave in the order they came. Lists are chains of fixed blocks drawn from
// one pool, so memory follows the records queued, not the records ever pushed.
class LevelQueue {
public:
    // What a popped record hands on to the pixels its target queues: its priority.
    using Origin = int;
    static Origin seedOrigin(int height) { return height; }

    explicit LevelQueue(int levels = 256) : m_lists(std::size_t(levels)) {}

    bool empty() const { return m_count == 0; }
    std::size_t size() const { return m_count; }
    // The priority of the front record; 0 when empty.
    int topPriority() const { return m_level; }

    static int priorityOf(Origin origin, int height) { return std::min(origin, height); }
    // Whether a record of this priority can leave before one of the queued priority: records
    // of equal priority leave in the order they came.
    static bool mayOvertake(int priority, int queued) { return priority > queued; }

    // Queues {from, to} at priority min(origin, height), which must lie in 0 .. levels - 1.
    void push(PixelOffset from, PixelOffset to, Origin origin, int height)
    {
        const int priority = std::min(origin, height);
        List& l = m_lists[std::size_t(priority)];
        if (l.tailBlock < 0) {
            l.headBlock = l.tailBlock = takeBlock();
            l.head = l.tail = 0;
        } else if (l.tail == kBlock) {
            const std::int32_t b = takeBlock();
            m_nextBlock[std::size_t(l.tailBlock)] = b;
            l.tailBlock = b;
            l.tail = 0;
        }
        m_records[std::size_t(l.tailBlock) * kBlock + std::size_t(l.tail++)] = {from, to};
        if (priority > m_level)
            m_level = priority;
        ++m_count;
    }

    // Removes the front record (the queue must not be empty) and returns its priority.
    Origin pop(PixelOffset& from, PixelOffset& to)
    {
        const int priority = m_level;
        List& l = m_lists[std::size_t(priority)];
        const Record& r = m_records[std::size_t(l.headBlock) * kBlock + std::size_t(l.head++)];
        from = r.from;
        to = r.to;
        if (l.headBlock == l.tailBlock && l.head == l.tail) {
            giveBlock(l.headBlock);
            l.headBlock = l.tailBlock = -1;
        } else if (l.head == kBlock) {
            const std::int32_t done = l.headBlock;
            l.headBlock = m_nextBlock[std::size_t(done)];
            l.head = 0;
            giveBlock(done);
        }
        if (--m_count == 0)
            m_level = 0;
        else
            while (m_lists[std::size_t(m_level)].tailBlock < 0)
                --m_level;
        return priority;
    }

    // The target of the record `ahead` places behind the front, when it is in the front's
    // block; false otherwise.
    bool peek(int ahead, PixelOffset& to) const
    {
        const List& l = m_lists[std::size_t(m_level)];
        if (l.tailBlock < 0)
            return false;
        const int at = l.head + ahead;
        if (at >= (l.headBlock == l.tailBlock ? l.tail : kBlock))
            return false;
        to = m_records[std::size_t(l.headBlock) * kBlock + std::size_t(at)].to;
        return true;
    }

    // Frees every list and record.
    void release()
    {
        std::vector<Record>().swap(m_records);
        std::vector<std::int32_t>().swap(m_nextBlock);
        std::vector<std::int32_t>().swap(m_freeBlocks);
        std::fill(m_lists.begin(), m_lists.end(), List());
        m_level = 0;
        m_count = 0;
    }

private:
    static constexpr int kBlock = 1024;  // records per block

    struct Record {
        PixelOffset from;
        PixelOffset to;
    };
    struct List {
        std::int32_t headBlock = -1;
        std::int32_t tailBlock = -1;  // -1 when the list is empty
        std::int32_t head = 0;        // the front record's place in the head block
        std::int32_t tail = 0;        // one past the last record's place in the tail block
    };

    std::int32_t takeBlock()
    {
        if (!m_freeBlocks.empty()) {
            const std::int32_t b = m_freeBlocks.back();
            m_freeBlocks.pop_back();
            return b;
        }
        const auto b = std::int32_t(m_nextBlock.size());
        m_records.resize(m_records.size() + kBlock);
        m_nextBlock.push_back(-1);
        // Reserved now, so that giving the block back can never fail.
        m_freeBlocks.reserve(m_nextBlock.size());
        return b;
    }

    void giveBlock(std::int32_t b) { m_freeBlocks.push_back(b); }

    std::vector<List> m_lists;
    std::vector<Record> m_records;
    std::vector<std::int32_t> m_nextBlock;
    std::vector<std::int32_t> m_freeBlocks;
    int m_level = 0;
    std::size_t m_count = 0;
};

// The queue of auto-complex's flood: the highest priority first, then the shorter run, then
// the fewer steps. Priorities lie in 0 .. levels - 1 (they never exceed a seed's height), and
// each has a heap of its own, so records waiting below the current priority are never
// sifted. A record is the target pixel and, packed in one word, the run and the step with the
// side it came from: with its priority, a pixel and three ints. Records equal in all three
// leave by side and target, so every run pops in the same order. Heaps have four children per
// node, which sit in one or two cache lines. Steps count below 2^30, which holds for lattices
// of fewer than 2^30 elements.
class RecordHeap {
public:
    // What a popped record hands on to the pixels its target queues.
    struct Origin {
        int priority;
        int run;
        int step;
    };
    static Origin seedOrigin(int height) { return {height, 0, 0}; }
    static int priorityOf(const Origin& origin, int height) { return std::min(origin.priority, height); }
    // A record of equal priority may still leave first: its run may be shorter.
    static bool mayOvertake(int priority, int queued) { return priority >= queued; }

    // rowStride: the element distance between neighbouring rows of the lattice.
    explicit RecordHeap(std::ptrdiff_t rowStride, int levels = 256)
        : m_side{rowStride, -rowStride, 1, -1}, m_heaps(std::size_t(levels))
    {
    }

    bool empty() const { return m_count == 0; }
    std::size_t size() const { return m_count; }
    // The priority of the front record; 0 when empty.
    int topPriority() const { return m_level; }

    // Queues the step from a pixel to one of its four neighbours: priority min(origin's,
    // height), its run one longer when the height does not fall below the origin's priority
    // (else 0), one more step.
    void push(PixelOffset from, PixelOffset to, const Origin& origin, int height)
    {
        const int priority = std::min(origin.priority, height);
        const std::uint32_t run = height >= origin.priority ? std::uint32_t(origin.run) + 1 : 0;
        const std::ptrdiff_t d = std::ptrdiff_t(to) - std::ptrdiff_t(from);
        const std::uint32_t side = d == m_side[0] ? 0 : d == m_side[1] ? 1 : d == m_side[2] ? 2 : 3;
        const std::uint32_t stepSide = ((std::uint32_t(origin.step) + 1) << 2) | side;
        const Record r{(std::uint64_t(run) << 32) | stepSide, to};
        std::vector<Record>& heap = m_heaps[std::size_t(priority)];
        std::size_t k = heap.size();
        heap.push_back(r);
        Record* h = heap.data();
        while (k > 0) {
            const std::size_t parent = (k - 1) / 4;
            if (!before(r, h[parent]))
                break;
            h[k] = h[parent];
            k = parent;
        }
        h[k] = r;
        if (priority > m_level)
            m_level = priority;
        ++m_count;
    }

    // Removes the front record (the queue must not be empty) and returns what it hands on.
    Origin pop(PixelOffset& from, PixelOffset& to)
    {
        const int priority = m_level;
        std::vector<Record>& heap = m_heaps[std::size_t(priority)];
        const Record top = heap.front();
        const Record last = heap.back();
        heap.pop_back();
        if (const std::size_t n = heap.size()) {
            Record* h = heap.data();
            std::size_t k = 0;
            for (;;) {
                const std::size_t first = 4 * k + 1;
                if (first >= n)
                    break;
                std::size_t best = first;
                const std::size_t end = std::min(first + 4, n);
                for (std::size_t c = first + 1; c < end; ++c)
                    if (before(h[c], h[best]))
                        best = c;
                if (!before(h[best], last))
                    break;
                h[k] = h[best];
                k = best;
            }
            h[k] = last;
        } else if (heap.capacity() > kKeptCapacity) {
            // A level fills while it waits and drains once: its records go back at once.
            std::vector<Record>().swap(heap);
        }
        if (--m_count == 0)
            m_level = 0;
        else
            while (m_heaps[std::size_t(m_level)].empty())
                --m_level;
        const auto stepSide = std::uint32_t(top.order);
        to = top.to;
        from = PixelOffset(std::ptrdiff_t(to) - m_side[stepSide & 3]);
        return {priority, int(top.order >> 32), int(stepSide >> 2)};
    }

    bool peek(int, PixelOffset&) const { return false; }

    // Frees every record.
    void release()
    {
        for (std::vector<Record>& heap : m_heaps)
            std::vector<Record>().swap(heap);
        m_level = 0;
        m_count = 0;
    }

private:
    static constexpr std::size_t kKeptCapacity = 4096;

    struct Record {
        std::uint64_t order;  // run << 32 | step << 2 | side: the smaller leaves first
        PixelOffset to;
    };
    static bool before(const Record& a, const Record& b)
    {
        return a.order != b.order ? a.order < b.order : a.to < b.to;
    }

    std::ptrdiff_t m_side[4];  // target - source for each side
    std::vector<std::vector<Record>> m_heaps;
    int m_level = 0;
    std::size_t m_count = 0;
};

// The four neighbours of a pixel in auto-complex's order: (x - 1, y), (x + 1, y), (x, y - 1),
// (x, y + 1).
struct FourNeighbours {
    template <typename F>
    static void forEach(PixelOffset p, std::ptrdiff_t row, F&& f)
    {
        const std::ptrdiff_t q = std::ptrdiff_t(p);
        f(PixelOffset(q - row));
        f(PixelOffset(q + row));
        f(PixelOffset(q - 1));
        f(PixelOffset(q + 1));
    }
};

// Heights of auto-complex: one byte per lattice element (the gradient's lower height). A
// candidate's height is its own byte; a step's is its target's, raised by the bias.
struct TargetHeights {
    static constexpr int kLevels = 256;

    const unsigned char* height = nullptr;  // the lattice's first element
    int bias = 0;                           // 0 .. 255

    int seed(PixelOffset p) const { return height[p]; }
    int step(PixelOffset, PixelOffset to) const { return height[to] + bias; }
    void prefetch(PixelOffset p, std::ptrdiff_t row) const
    {
        __builtin_prefetch(height + (std::ptrdiff_t(p) - row));
        __builtin_prefetch(height + (std::ptrdiff_t(p) + row));
    }
};

// The eight neighbours of a pixel in the inner watershed's order: (x, y - 1), (x, y + 1),
// (x - 1, y), (x + 1, y), (x + 1, y - 1), (x + 1, y + 1), (x - 1, y - 1), (x - 1, y + 1).
struct EightNeighbours {
    template <typename F>
    static void forEach(PixelOffset p, std::ptrdiff_t row, F&& f)
    {
        const std::ptrdiff_t q = std::ptrdiff_t(p);
        f(PixelOffset(q - 1));
        f(PixelOffset(q + 1));
        f(PixelOffset(q - row));
        f(PixelOffset(q + row));
        f(PixelOffset(q + row - 1));
        f(PixelOffset(q + row + 1));
        f(PixelOffset(q - row - 1));
        f(PixelOffset(q - row + 1));
    }
};

// Heights of the segmentation's gradient image: a candidate's height is its upper height
// (byte 0 of three per element); a step between two pixels is held to the larger of their
// lower heights, raised by the bias. The lower heights come as a lattice of their own, one
// byte per element, which keeps the flood's random reads within fewer cache lines.
struct UpperLowerHeights {
    static constexpr int kLevels = 256;  // seed heights lie in 0 .. kLevels - 1

    const unsigned char* origin = nullptr;  // byte 0 of the lattice's first element
    const unsigned char* lower = nullptr;   // the lower height of the lattice's first element
    int bias = 0;                           // 0 .. 255, so a step never overflows

    int seed(PixelOffset p) const { return origin[3 * std::size_t(p)]; }
    int step(PixelOffset from, PixelOffset to) const { return std::max(lower[from], lower[to]) + bias; }
    void prefetch(PixelOffset p, std::ptrdiff_t row) const
    {
        __builtin_prefetch(lower + (std::ptrdiff_t(p) - row));
        __builtin_prefetch(lower + (std::ptrdiff_t(p) + row));
    }
};

// The candidates of a flood: a block of lattice elements, rows rowStride apart, the elements
// of a row adjacent.
struct CandidateArea {
    PixelOffset first = 0;
    int rows = 0;
    int columns = 0;
};

// The policies:
// - Queue: Origin (what a popped record hands on), seedOrigin(height), priorityOf(origin,
//   height), mayOvertake(priority, queued priority), push(from, to, origin, height),
//   pop(from, to) -> Origin, empty(), size(), topPriority(), peek(ahead, to) (may find
//   nothing).
// - Neighbours: forEach(p, rowStride, f), f called with each neighbour in a fixed order.
// - Heights: kLevels (seed heights lie in 0 .. kLevels - 1), seed(p), step(from, to),
//   prefetch(p, rowStride) for the rows around p that a step from p reads.
// - Regions: kKeepsContacts, newRegion(), contact(from, to).
//
// The flood over one label table. Labels: -1 for a pixel that no region holds yet (other
// negative values once records head for it); a pixel with a label of 0 or more before the
// flood (a frame, a barrier, a region's seed) never becomes a candidate and is expanded only
// when it was seeded with pushNeighbours, which may happen before flood. Afterwards no pixel
// of the area is negative.
template <typename Queue, typename Neighbours, typename Heights, typename Regions>
class WatershedQueue {
public:
    // labels addresses the lattice's first element; rowStride is the element distance between
    // neighbouring rows, the same for the labels and the heights.
    WatershedQueue(std::int32_t* labels, std::ptrdiff_t rowStride, const Heights& heights,
                   Regions& regions, Queue& queue)
        : m_labels(labels), m_row(rowStride), m_heights(heights), m_regions(&regions), m_queue(&queue)
    {
    }

    // Queues every neighbour of p whose label differs from p's, each step's priority held to
    // what origin allows.
    void pushNeighbours(PixelOffset p, const typename Queue::Origin& origin)
    {
        Neighbours::forEach(p, m_row, [&](PixelOffset q) { pushIfDifferentRegion(p, q, origin); });
    }

    // Queues the step from p to its neighbour q when their labels differ. Without contacts a
    // record is queued only where it can still give a pixel its region: towards a pixel that
    // no region holds and that no record bound to leave first is already heading for. The
    // records left out would change nothing when they left the queue, so the regions are the
    // same.
    void pushIfDifferentRegion(PixelOffset p, PixelOffset q, const typename Queue::Origin& origin)
    {
        const std::int32_t l = m_labels[q];
        if constexpr (Regions::kKeepsContacts) {
            if (l != m_labels[p])
                m_queue->push(p, q, origin, m_heights.step(p, q));
        } else if (l < 0) {
            // An unlabelled pixel holds -2 - the highest priority heading for it, or -1.
            const int height = m_heights.step(p, q);
            const int priority = Queue::priorityOf(origin, height);
            if (Queue::mayOvertake(priority, -2 - l)) {
                m_labels[q] = std::min(l, -2 - priority);
                m_queue->push(p, q, origin, height);
            }
        }
    }

    // Takes the front record: an unlabelled target joins the source's region and queues its
    // own neighbours; a target of another region is a contact between the two.
    void popStep()
    {
        PixelOffset from, to;
        const typename Queue::Origin origin = m_queue->pop(from, to);
        const std::int32_t target = m_labels[to];
        if (target < 0) {
            m_labels[to] = m_labels[from];
            pushNeighbours(to, origin);
        } else if (Regions::kKeepsContacts && target != m_labels[from]) {
            m_regions->contact(from, to);
        }
    }

    // Grows regions until every pixel of the area has a label: the unlabelled pixels, highest
    // seed height first (storage order among equals), start a region whenever their height
    // exceeds the front record's priority. Progress goes to the range's parent every 32768
    // pops, from the range's position up to 95% of it.
    void flood(const CandidateArea& area, ProgressRange progress);

private:
    // How many records behind the front the flood asks for their pixels' rows.
    static constexpr int kPrefetchDistance = 48;

    void collectCandidates(const CandidateArea& area);

    std::int32_t* m_labels;
    std::ptrdiff_t m_row;
    Heights m_heights;
    Regions* m_regions;
    Queue* m_queue;
    std::vector<PixelOffset> m_candidates;
    // Where the candidates of each seed height end, highest height first: the flood knows a
    // candidate's height from its place, without reading it again.
    std::vector<std::size_t> m_heightEnds;
};

namespace detail {
// Where the flood's timing text says it ran.
constexpr const char* kWatershedHeader = "dravik/include/watershed/watershed.h";
constexpr int kWatershedLine = 1229;
} // namespace detail

template <typename Queue, typename Neighbours, typename Heights, typename Regions>
void WatershedQueue<Queue, Neighbours, Heights, Regions>::collectCandidates(const CandidateArea& area)
{
    // A stable counting sort by height, highest first.
    std::vector<std::size_t> start(std::size_t(Heights::kLevels) + 1, 0);
    std::size_t total = 0;
    for (int x = 0; x < area.rows; ++x) {
        const PixelOffset row = area.first + PixelOffset(std::ptrdiff_t(x) * m_row);
        const std::int32_t* l = m_labels + row;
        for (int y = 0; y < area.columns; ++y)
            if (l[y] < 0) {
                ++start[std::size_t(Heights::kLevels - 1 - m_heights.seed(row + PixelOffset(y)))];
                ++total;
            }
    }
    std::size_t at = 0;
    m_heightEnds.resize(start.size());
    for (std::size_t b = 0; b < start.size(); ++b) {
        const std::size_t n = start[b];
        start[b] = at;
        at += n;
        m_heightEnds[b] = at;
    }
    m_candidates.resize(total);
    for (int x = 0; x < area.rows; ++x) {
        const PixelOffset row = area.first + PixelOffset(std::ptrdiff_t(x) * m_row);
        const std::int32_t* l = m_labels + row;
        for (int y = 0; y < area.columns; ++y)
            if (l[y] < 0) {
                const PixelOffset p = row + PixelOffset(y);
                m_candidates[start[std::size_t(Heights::kLevels - 1 - m_heights.seed(p))]++] = p;
            }
    }
}

template <typename Queue, typename Neighbours, typename Heights, typename Regions>
void WatershedQueue<Queue, Neighbours, Heights, Regions>::flood(const CandidateArea& area,
                                                                ProgressRange progress)
{
    const std::int64_t started = platform::counterNanoseconds();
    collectCandidates(area);

    const float a = progress.at(progress.position);
    const float b = 0.05f * progress.lo + 0.95f * progress.hi;
    std::size_t pops = 0, most = 0;
    float reported = 0.f;

    const std::size_t n = m_candidates.size();
    std::size_t next = 0;
    std::size_t bucket = 0;  // of the candidate at next
    for (;;) {
        const bool candidateLeft = next < n;
        if (!candidateLeft && m_queue->empty())
            break;
        while (candidateLeft && next >= m_heightEnds[bucket])
            ++bucket;
        const int height = Heights::kLevels - 1 - int(bucket);
        if (candidateLeft && (m_queue->empty() || height > m_queue->topPriority())) {
            const PixelOffset p = m_candidates[next];
            m_labels[p] = m_regions->newRegion();
            pushNeighbours(p, Queue::seedOrigin(height));
        } else {
            // Records queued long ago lead to pixels far from anything touched lately: ask
            // early for the rows around them that expanding them reads.
            PixelOffset ahead;
            if (m_queue->peek(kPrefetchDistance, ahead)) {
                __builtin_prefetch(m_labels + (std::ptrdiff_t(ahead) - m_row));
                __builtin_prefetch(m_labels + ahead);
                __builtin_prefetch(m_labels + (std::ptrdiff_t(ahead) + m_row));
                m_heights.prefetch(ahead, m_row);
            }
            popStep();
            const std::size_t queued = m_queue->size();
            most = std::max(most, pops + queued);
            if (++pops % 32768 == 0 && progress.parent) {
                reported = std::max(reported, 1.f - float(queued) / float(most));
                progress.parent->progress(
                    (1.f - reported) * a + reported * b,
                    corvath::utility::timedBlockText(
                        detail::kWatershedHeader, detail::kWatershedLine, "Watershed inner",
                        platform::counterSeconds(started, platform::counterNanoseconds())));
            }
        }
        while (next < n && m_labels[m_candidates[next]] >= 0) {
            if (next + 16 < n)
                __builtin_prefetch(m_labels + m_candidates[next + 16]);
            ++next;
        }
    }
    std::vector<PixelOffset>().swap(m_candidates);
    std::vector<std::size_t>().swap(m_heightEnds);
}

} // namespace classification
