#pragma once
// The seeded pixel flood shared by the segmentation's inner watershed and by auto-complex:
// regions start at the highest candidates and grow through their neighbours in the order of
// the priorities that the queue gives each step. Policies choose the queue, the neighbourhood,
// the heights and how regions are numbered. Pixels are 32-bit element offsets into one
// lattice that the label table and the heights share; a frame of labelled pixels around the
// candidates spares every bounds test.

#include "common/bandthreads.h"
#include "session/progress.h"
#include "platform/clock.h"
#include "platform/memory.h"

#include <boost/thread/thread.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

// The flood's per-neighbour step is small and runs several times per pixel; left to itself the
// compiler calls it out of line.
#define DRAVIK_FLOOD_INLINE __attribute__((always_inline)) inline
#define DRAVIK_FLOOD_LAMBDA __attribute__((always_inline))

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

namespace detail {

// A first-in first-out list kept as a chain of fixed blocks of a BlockPool.
struct BlockChain {
    std::int32_t headBlock = -1;
    std::int32_t tailBlock = -1;  // -1 when the list is empty
    std::int32_t head = 0;        // the front record's place in the head block
    std::int32_t tail = 0;        // one past the last record's place in the tail block

    bool empty() const { return tailBlock < 0; }
};

// The blocks of many chains, drawn from one pool and given back as chains empty, so memory
// follows the records queued, not the records ever pushed.
template <typename Record>
class BlockPool {
public:
    static constexpr int kBlock = 1024;  // records per block

    DRAVIK_FLOOD_INLINE void pushBack(BlockChain& c, const Record& r)
    {
        if (c.tailBlock < 0) {
            c.headBlock = c.tailBlock = takeBlock();
            c.head = c.tail = 0;
        } else if (c.tail == kBlock) {
            const std::int32_t b = takeBlock();
            m_nextBlock[std::size_t(c.tailBlock)] = b;
            c.tailBlock = b;
            c.tail = 0;
        }
        m_records[std::size_t(c.tailBlock) * kBlock + std::size_t(c.tail++)] = r;
    }

    // The chain must not be empty.
    DRAVIK_FLOOD_INLINE Record popFront(BlockChain& c)
    {
        const Record r = m_records[std::size_t(c.headBlock) * kBlock + std::size_t(c.head++)];
        if (c.headBlock == c.tailBlock && c.head == c.tail) {
            m_freeBlocks.push_back(c.headBlock);
            c.headBlock = c.tailBlock = -1;
        } else if (c.head == kBlock) {
            const std::int32_t done = c.headBlock;
            c.headBlock = m_nextBlock[std::size_t(done)];
            c.head = 0;
            m_freeBlocks.push_back(done);
        }
        return r;
    }

    // The record `ahead` places behind the front, when it is in the front's block.
    bool peek(const BlockChain& c, int ahead, Record& r) const
    {
        if (c.tailBlock < 0)
            return false;
        const int at = c.head + ahead;
        if (at >= (c.headBlock == c.tailBlock ? c.tail : kBlock))
            return false;
        r = m_records[std::size_t(c.headBlock) * kBlock + std::size_t(at)];
        return true;
    }

    // Like peek, but past the front's block into the next one, and held to the last record
    // when fewer are queued: a record queued lately still has its rows to ask for.
    bool peekNear(const BlockChain& c, int ahead, Record& r) const
    {
        if (c.tailBlock < 0)
            return false;
        std::int32_t block = c.headBlock;
        int at = c.head + ahead;
        if (at >= kBlock && block != c.tailBlock) {
            block = m_nextBlock[std::size_t(block)];
            at -= kBlock;
        }
        if (block == c.tailBlock && at >= c.tail)
            at = c.tail - 1;
        r = m_records[std::size_t(block) * kBlock + std::size_t(at)];
        return true;
    }

    // Frees every block; the chains must be reset by their owner.
    void release()
    {
        std::vector<Record>().swap(m_records);
        std::vector<std::int32_t>().swap(m_nextBlock);
        std::vector<std::int32_t>().swap(m_freeBlocks);
    }

private:
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

    std::vector<Record> m_records;
    std::vector<std::int32_t> m_nextBlock;
    std::vector<std::int32_t> m_freeBlocks;
};

} // namespace detail

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
    DRAVIK_FLOOD_INLINE void push(PixelOffset from, PixelOffset to, Origin origin, int height, int /*queued*/ = -1)
    {
        const int priority = std::min(origin, height);
        m_pool.pushBack(m_lists[std::size_t(priority)], {from, to});
        if (priority > m_level)
            m_level = priority;
        ++m_count;
    }

    // Removes the front record (the queue must not be empty) and returns its priority.
    DRAVIK_FLOOD_INLINE Origin pop(PixelOffset& from, PixelOffset& to)
    {
        const int priority = m_level;
        const Record r = m_pool.popFront(m_lists[std::size_t(priority)]);
        from = r.from;
        to = r.to;
        if (--m_count == 0)
            m_level = 0;
        else
            while (m_lists[std::size_t(m_level)].empty())
                --m_level;
        return priority;
    }

    // The target of the record `ahead` places behind the front, when it is in the front's
    // block; false otherwise.
    bool peek(int ahead, PixelOffset& to) const
    {
        Record r;
        if (!m_pool.peek(m_lists[std::size_t(m_level)], ahead, r))
            return false;
        to = r.to;
        return true;
    }

    // Keeps nothing per pixel.
    void prefetch(PixelOffset) const {}

    // Frees every list and record.
    void release()
    {
        m_pool.release();
        std::fill(m_lists.begin(), m_lists.end(), detail::BlockChain());
        m_level = 0;
        m_count = 0;
    }

private:
    struct Record {
        PixelOffset from;
        PixelOffset to;
    };

    std::vector<detail::BlockChain> m_lists;
    detail::BlockPool<Record> m_pool;
    int m_level = 0;
    std::size_t m_count = 0;
};

// The queue of auto-complex's flood: the highest priority first, then the shorter run, then
// the fewer steps. Priorities lie in 0 .. levels - 1 (they never exceed a seed's height).
// Within one priority the order needs no heap:
// - records of run 0 (steps down to this priority) come only from higher priorities, and
//   once this priority is popped no higher one is queued again (every candidate above it has
//   started by then), so they are all in when it is first popped; they are sorted by step
//   then, once (one pushed later still goes to its place);
// - a record of run r + 1 comes from a record of run r of the same priority as that leaves,
//   with one step more, or from a seed (run 1, step 1): step - run stays the same along a
//   run, and records pushed in the order their sources leave are in (run, step) order
//   already, so one first-in first-out list per priority carries run after run, as a
//   breadth-first search does.
// Records equal in priority, run and step leave in no fixed order. Which of them reaches a
// pixel first decided the pixel's region, so each pixel keeps its own claim instead: the key
// of the best record heading for it and the smallest side among the records equal to that
// one; a popped record's source is read from the claim. Every pixel thus joins the region it
// would join if records of equal key left by side, and the flood's regions are the same as
// with a total order. The flood must hand push the priority already queued for the target.
class RunQueue {
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

    // rowStride: the element distance between neighbouring rows of the lattice, 2 or more;
    // elements: its number of elements, fewer than 2^29 - 4 (else std::bad_alloc).
    RunQueue(std::ptrdiff_t rowStride, std::size_t elements, int levels = 256)
        : m_side{rowStride, -rowStride, 1, -1}, m_levels(std::size_t(levels))
    {
        // Steps and stamps count at most one per element, and a claim keeps 29 bits of them.
        if (elements > kMaxElements)
            throw std::bad_alloc();
        m_ownClaims.resize(elements);
        m_claims = m_ownClaims.data();
    }
    // The same with the claims kept by the caller: the claim of element p at
    // claims[p * claimStride], so that it can share a cache line with the element's label;
    // prefetch then leaves them to the flood's own requests for the labels.
    RunQueue(std::ptrdiff_t rowStride, std::size_t elements, std::uint32_t* claims, std::ptrdiff_t claimStride,
             int levels = 256)
        : m_side{rowStride, -rowStride, 1, -1}, m_levels(std::size_t(levels)), m_claims(claims),
          m_claimStride(claimStride), m_prefetchClaims(false)
    {
        if (elements > kMaxElements)
            throw std::bad_alloc();
    }

    bool empty() const { return m_count == 0; }
    std::size_t size() const { return m_count; }
    // The priority of the front record; 0 when empty.
    int topPriority() const { return m_level; }

    // Queues the step from a pixel to one of its four neighbours: priority min(origin's,
    // height), its run one longer when the height does not fall below the origin's priority
    // (else 0), one more step. queued: the highest priority of a record already heading for
    // `to`, -1 when there is none; never above the new record's. The record is left out when
    // one at least as good heads for `to` already: `to` has its region when this one would
    // leave, so only a flood that keeps no contacts may use this queue.
    DRAVIK_FLOOD_INLINE void push(PixelOffset from, PixelOffset to, const Origin& origin, int height, int queued)
    {
        const std::ptrdiff_t d = std::ptrdiff_t(to) - std::ptrdiff_t(from);
        // Rows lie more than one element apart (a frame surrounds the candidates).
        pushOnSide(to, d == 1 ? 2 : d == -1 ? 3 : d > 0 ? 0 : 1, origin, height, queued);
    }

    // The same for a flood that knows the side of the step: 0 the next row (to = from +
    // rowStride), 1 the row before, 2 the next element, 3 the element before.
    static constexpr bool kTakesSides = true;
    DRAVIK_FLOOD_INLINE void pushOnSide(PixelOffset to, std::uint8_t side, const Origin& origin, int height,
                                        int queued)
    {
        const auto step = std::uint32_t(origin.step) + 1;
        std::uint32_t& claim = claimOf(to);
        if (height >= origin.priority) {
            // The run goes on: all records of one source group share a stamp, those of the
            // seeds one of their own.
            std::uint32_t stamp = kSeedStamp;
            if (origin.step != 0) {
                if (origin.step != m_lastOrigin.step || origin.run != m_lastOrigin.run ||
                    origin.priority != m_lastOrigin.priority) {
                    ++m_stamp;
                    m_lastOrigin = origin;
                }
                stamp = m_stamp;
            }
            // An earlier record of this priority, run 0 or from an earlier group, is better.
            const std::uint32_t mine = (stamp << 2) | side;
            if (origin.priority > queued) {
                claim = mine;
            } else {
                // A record at least as good heads for `to` already: it takes the side, if
                // smaller, and this one would change nothing.
                if ((claim ^ mine) < 4 && side < (claim & 3))
                    claim = mine;
                return;
            }
            Level& l = m_levels[std::size_t(origin.priority)];
            pushBack(l, {to, step});
            raise(origin.priority);
        } else {
            // Every record of run 0 towards `to` has the priority `height`; a claim by a run
            // comes after it, and among steps down the fewest steps, then the smallest side.
            const std::uint32_t mine = kRunZero | (step << 2) | side;
            if (height > queued || !(claim & kRunZero) || (mine >> 2) < (claim >> 2)) {
                claim = mine;
            } else {
                // As many steps or fewer: only the side may be better.
                if (mine < claim)
                    claim = mine;
                return;
            }
            Level& l = m_levels[std::size_t(height)];
            const std::uint64_t r = (std::uint64_t(step) << 32) | to;
            if (l.sorted)
                l.down.insert(std::upper_bound(l.down.begin() + std::ptrdiff_t(l.downNext), l.down.end(), r), r);
            else
                l.down.push_back(r);
            raise(height);
        }
    }

    // Removes the front record (the queue must not be empty) and returns what it hands on.
    // `from` is the source that the target's claim names.
    DRAVIK_FLOOD_INLINE Origin pop(PixelOffset& from, PixelOffset& to)
    {
        const int priority = m_level;
        Level& l = m_levels[std::size_t(priority)];
        Origin origin{priority, 0, 0};
        if (l.downNext < l.down.size()) {
            if (!l.sorted) {
                sortBySteps(l.down);
                l.sorted = true;
            }
            const std::uint64_t r = l.down[l.downNext++];
            to = PixelOffset(r);
            origin.step = int(r >> 32);
            if (l.downNext == l.down.size()) {
                l.down.clear();
                if (l.down.capacity() > kKeptCapacity)
                    std::vector<std::uint64_t>().swap(l.down);
                l.downNext = 0;
                l.sorted = false;
            }
        } else {
            if (l.runLeft == 0) {
                ++l.run;
                l.runLeft = l.count;
            }
            --l.runLeft;
            const Record r = popFront(l);
            to = r.to;
            origin.run = l.run;
            origin.step = int(r.step);
            if (l.count == 0)
                l.run = 0;
        }
        from = PixelOffset(std::ptrdiff_t(to) - m_side[claimOf(to) & 3]);
        if (--m_count == 0)
            m_level = 0;
        else
            while (m_levels[std::size_t(m_level)].count == 0 && m_levels[std::size_t(m_level)].down.empty())
                --m_level;
        return origin;
    }

    // The target of the record `ahead` places behind the front, when it is near enough to find;
    // false otherwise.
    bool peek(int ahead, PixelOffset& to) const
    {
        const Level& l = m_levels[std::size_t(m_level)];
        if (l.downNext < l.down.size()) {
            const std::size_t at = l.downNext + std::size_t(ahead);
            if (!l.sorted || at >= l.down.size())
                return false;
            to = PixelOffset(l.down[at]);
            return true;
        }
        Record r;
        if (!m_pool.peekNear(l.chain, ahead, r))
            return false;
        to = r.to;
        return true;
    }

    // Asks for the claims of the pixels around p, which expanding p reads.
    void prefetch(PixelOffset p) const
    {
        if (!m_prefetchClaims)
            return;
        const std::ptrdiff_t q = std::ptrdiff_t(p), row = m_side[0];
        __builtin_prefetch(m_claims + (q - row) * m_claimStride);
        __builtin_prefetch(m_claims + q * m_claimStride);
        __builtin_prefetch(m_claims + (q + row) * m_claimStride);
    }

private:
    static constexpr std::size_t kKeptCapacity = 4096;
    static constexpr std::uint32_t kSeedStamp = 1;
    static constexpr std::uint32_t kRunZero = 1u << 31;  // in a claim: its key is a step
    static constexpr std::size_t kMaxElements = (std::size_t(1) << 29) - 4;

    struct Record {
        PixelOffset to;
        std::uint32_t step;
    };
    struct Level {
        // Run 0: step << 32 | target, sorted from downNext on once the level is popped.
        std::vector<std::uint64_t> down;
        std::size_t downNext = 0;
        bool sorted = false;
        // The runs from 1 on, as a chain of blocks.
        detail::BlockChain chain;
        std::size_t count = 0;    // records in the list
        int run = 0;              // of the records being popped
        std::size_t runLeft = 0;  // records of that run still in the list
    };

    // Sorts records of run 0 by step; the order among equal steps does not matter.
    void sortBySteps(std::vector<std::uint64_t>& records)
    {
        const std::size_t n = records.size();
        if (n < 64) {
            std::sort(records.begin(), records.end());
            return;
        }
        std::uint32_t low = ~0u, high = 0;
        for (const std::uint64_t r : records) {
            low = std::min(low, std::uint32_t(r >> 32));
            high = std::max(high, std::uint32_t(r >> 32));
        }
        const std::size_t range = std::size_t(high - low) + 1;
        if (range > 4 * n) {
            std::sort(records.begin(), records.end());
            return;
        }
        // Counting sort: steps of one level lie close together.
        m_counts.assign(range + 1, 0);
        for (const std::uint64_t r : records)
            ++m_counts[std::size_t(std::uint32_t(r >> 32) - low) + 1];
        for (std::size_t i = 1; i <= range; ++i)
            m_counts[i] += m_counts[i - 1];
        m_sorted.resize(n);
        for (const std::uint64_t r : records)
            m_sorted[m_counts[std::size_t(std::uint32_t(r >> 32) - low)]++] = r;
        records.swap(m_sorted);
    }

    std::uint32_t& claimOf(PixelOffset p) const { return m_claims[std::ptrdiff_t(p) * m_claimStride]; }

    void raise(int priority)
    {
        if (priority > m_level)
            m_level = priority;
        ++m_count;
    }

    DRAVIK_FLOOD_INLINE void pushBack(Level& l, const Record& r)
    {
        m_pool.pushBack(l.chain, r);
        ++l.count;
    }

    DRAVIK_FLOOD_INLINE Record popFront(Level& l)
    {
        --l.count;
        return m_pool.popFront(l.chain);
    }

    std::ptrdiff_t m_side[4];  // target - source for each side
    std::vector<Level> m_levels;
    detail::BlockPool<Record> m_pool;
    // Per pixel, its claim: kRunZero with the step of a record of run 0, else the stamp of the
    // group that pushed a run's record; shifted by two, then the side.
    std::vector<std::uint32_t, platform::LargeAllocator<std::uint32_t>> m_ownClaims;
    std::uint32_t* m_claims = nullptr;
    std::ptrdiff_t m_claimStride = 1;
    bool m_prefetchClaims = true;
    std::vector<std::size_t> m_counts;       // for sorting by step
    std::vector<std::uint64_t> m_sorted;     // likewise
    Origin m_lastOrigin{-1, -1, -1};  // no source's: the first group gets a stamp of its own
    std::uint32_t m_stamp = kSeedStamp;
    int m_level = 0;
    std::size_t m_count = 0;
};

// The four neighbours of a pixel in auto-complex's order: (x - 1, y), (x + 1, y), (x, y - 1),
// (x, y + 1).
struct FourNeighbours {
    template <typename F>
    static DRAVIK_FLOOD_INLINE void forEach(PixelOffset p, std::ptrdiff_t row, F&& f)
    {
        const std::ptrdiff_t q = std::ptrdiff_t(p);
        f(PixelOffset(q - row));
        f(PixelOffset(q + row));
        f(PixelOffset(q - 1));
        f(PixelOffset(q + 1));
    }
    // The same with each neighbour's side as RunQueue numbers them, known here at no cost.
    static constexpr bool kHasSides = true;
    template <typename F>
    static DRAVIK_FLOOD_INLINE void forEachOnSide(PixelOffset p, std::ptrdiff_t row, F&& f)
    {
        const std::ptrdiff_t q = std::ptrdiff_t(p);
        f(PixelOffset(q - row), std::uint8_t(1));
        f(PixelOffset(q + row), std::uint8_t(0));
        f(PixelOffset(q - 1), std::uint8_t(3));
        f(PixelOffset(q + 1), std::uint8_t(2));
    }
};

// Heights of auto-complex: one byte per lattice element (the gradient's lower height), element
// p's at height[p * Stride]. A candidate's height is its own byte; a step's is its target's,
// raised by the bias. With a stride the heights share the labels' cells, whose rows the flood
// asks for already.
template <std::ptrdiff_t Stride = 1>
struct TargetHeights {
    static constexpr int kLevels = 256;

    const unsigned char* height = nullptr;  // the lattice's first element
    int bias = 0;                           // 0 .. 255

    int seed(PixelOffset p) const { return height[std::ptrdiff_t(p) * Stride]; }
    int step(PixelOffset, PixelOffset to) const { return height[std::ptrdiff_t(to) * Stride] + bias; }
    void prefetch(PixelOffset p, std::ptrdiff_t row) const
    {
        if constexpr (Stride == 1) {
            __builtin_prefetch(height + (std::ptrdiff_t(p) - row));
            __builtin_prefetch(height + (std::ptrdiff_t(p) + row));
        }
    }
};

// The eight neighbours of a pixel in the inner watershed's order: (x, y - 1), (x, y + 1),
// (x - 1, y), (x + 1, y), (x + 1, y - 1), (x + 1, y + 1), (x - 1, y - 1), (x - 1, y + 1).
struct EightNeighbours {
    template <typename F>
    static DRAVIK_FLOOD_INLINE void forEach(PixelOffset p, std::ptrdiff_t row, F&& f)
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

namespace detail {
// Whether the queue takes the side of a step from the neighbourhood, which knows it.
template <typename Queue, typename Neighbours>
constexpr auto takesSides(int) -> decltype(bool(Queue::kTakesSides && Neighbours::kHasSides))
{
    return Queue::kTakesSides && Neighbours::kHasSides;
}
template <typename Queue, typename Neighbours>
constexpr bool takesSides(long)
{
    return false;
}
} // namespace detail

// The policies:
// - Queue: Origin (what a popped record hands on), seedOrigin(height), priorityOf(origin,
//   height), mayOvertake(priority, queued priority), push(from, to, origin, height, queued
//   priority: the highest already heading for `to`, -1 for none), pop(from, to) -> Origin,
//   empty(), size(), topPriority(), peek(ahead, to) (may find nothing), prefetch(p) for what
//   the queue keeps about the pixels around p.
// - Neighbours: forEach(p, rowStride, f), f called with each neighbour in a fixed order.
// - Heights: kLevels (seed heights lie in 0 .. kLevels - 1), seed(p), step(from, to),
//   prefetch(p, rowStride) for the rows around p that a step from p reads.
// - Regions: kKeepsContacts, newRegion(), contact(from, to).
//
// The flood over one label table of signed Label values (at least 16 bits: the marks reach
// -2 - 255). Labels: -1 for a pixel that no region holds yet (other negative values once
// records head for it); a pixel with a label of 0 or more before the flood (a frame, a
// barrier, a region's seed) never becomes a candidate and is expanded only when it was seeded
// with pushNeighbours, which may happen before flood. Afterwards no pixel of the area is
// negative.
template <typename Queue, typename Neighbours, typename Heights, typename Regions, int LabelStride = 1,
          typename Label = std::int32_t>
class WatershedQueue {
public:
    // labels addresses the lattice's first element, element p's label at labels[p *
    // LabelStride] (the words between may hold what else the flood keeps per element);
    // rowStride is the element distance between neighbouring rows, the same for the labels
    // and the heights.
    WatershedQueue(Label* labels, std::ptrdiff_t rowStride, const Heights& heights,
                   Regions& regions, Queue& queue)
        : m_labels(labels), m_row(rowStride), m_heights(heights), m_regions(&regions), m_queue(&queue)
    {
    }

    // Queues every neighbour of p whose label differs from p's, each step's priority held to
    // what origin allows.
    DRAVIK_FLOOD_INLINE void pushNeighbours(PixelOffset p, const typename Queue::Origin& origin)
    {
        if constexpr (detail::takesSides<Queue, Neighbours>(0))
            Neighbours::forEachOnSide(p, m_row, [&](PixelOffset q, std::uint8_t side) DRAVIK_FLOOD_LAMBDA {
                pushIfDifferentRegion(p, q, origin, [&](int height, int queued) DRAVIK_FLOOD_LAMBDA {
                    m_queue->pushOnSide(q, side, origin, height, queued);
                });
            });
        else
            Neighbours::forEach(p, m_row, [&](PixelOffset q) DRAVIK_FLOOD_LAMBDA {
                pushIfDifferentRegion(p, q, origin, [&](int height, int queued) DRAVIK_FLOOD_LAMBDA {
                    m_queue->push(p, q, origin, height, queued);
                });
            });
    }

    // Queues the step from p to its neighbour q when their labels differ. Without contacts a
    // record is queued only where it can still give a pixel its region: towards a pixel that
    // no region holds and that no record bound to leave first is already heading for. The
    // records left out would change nothing when they left the queue, so the regions are the
    // same.
    DRAVIK_FLOOD_INLINE void pushIfDifferentRegion(PixelOffset p, PixelOffset q, const typename Queue::Origin& origin)
    {
        pushIfDifferentRegion(p, q, origin, [&](int height, int queued) DRAVIK_FLOOD_LAMBDA {
            m_queue->push(p, q, origin, height, queued);
        });
    }

private:
    // push(height, queued) queues the step.
    template <typename Push>
    DRAVIK_FLOOD_INLINE void pushIfDifferentRegion(PixelOffset p, PixelOffset q, const typename Queue::Origin& origin,
                                                   Push&& push)
    {
        const std::int32_t l = label(q);
        if constexpr (Regions::kKeepsContacts) {
            if (l != label(p))
                m_queue->push(p, q, origin, m_heights.step(p, q));
        } else if (l < 0) {
            // An unlabelled pixel holds -2 - the highest priority heading for it, or -1.
            const int height = m_heights.step(p, q);
            const int priority = Queue::priorityOf(origin, height);
            if (Queue::mayOvertake(priority, -2 - l)) {
                label(q) = Label(std::min(l, -2 - priority));
                push(height, -2 - l);
            }
        }
    }

public:

    // Takes the front record: an unlabelled target joins the source's region and queues its
    // own neighbours; a target of another region is a contact between the two.
    DRAVIK_FLOOD_INLINE void popStep()
    {
        PixelOffset from, to;
        const typename Queue::Origin origin = m_queue->pop(from, to);
        const std::int32_t target = label(to);
        if (target < 0) {
            label(to) = label(from);
            pushNeighbours(to, origin);
        } else if (Regions::kKeepsContacts && target != label(from)) {
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

    Label& label(PixelOffset p) const { return m_labels[std::ptrdiff_t(p) * LabelStride]; }

    Label* m_labels;
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

namespace detail {
// Runs f(0) .. f(bands - 1), band 0 on this thread and each other on a thread of its own.
template <typename F>
void forEachBand(int bands, const F& f)
{
    runBands(bands, f);
}

// A stable counting sort's places: start holds each band's count per level (band by band,
// `levels` each) and becomes each band's first place per level, the levels in order and the
// bands in order within a level; ends[k] is where level k ends. Returns the total.
inline std::size_t placeBandCounts(std::vector<std::size_t>& start, int bands, std::size_t levels,
                                   std::vector<std::size_t>& ends)
{
    std::size_t at = 0;
    ends.resize(levels);
    for (std::size_t k = 0; k < levels; ++k) {
        for (int b = 0; b < bands; ++b) {
            std::size_t& s = start[std::size_t(b) * levels + k];
            const std::size_t n = s;
            s = at;
            at += n;
        }
        ends[k] = at;
    }
    return at;
}
} // namespace detail

template <typename Queue, typename Neighbours, typename Heights, typename Regions, int LabelStride, typename Label>
void WatershedQueue<Queue, Neighbours, Heights, Regions, LabelStride, Label>::collectCandidates(const CandidateArea& area)
{
    // A stable counting sort by height, highest first. Bands of rows are counted and placed
    // on threads of their own; a band's candidates of one height go after those of the bands
    // before it, so the order is the storage order whatever the number of bands.
    constexpr std::size_t levels = std::size_t(Heights::kLevels) + 1;  // the last one stays empty
    constexpr int kRowsPerBand = 256;
    const int bands = std::max(1, std::min(int(platform::processorCount()), area.rows / kRowsPerBand));
    std::vector<std::size_t> start(std::size_t(bands) * levels, 0);  // band by band
    const auto rowsOf = [&](int b, int& first, int& end) {
        first = int(std::int64_t(area.rows) * b / bands);
        end = int(std::int64_t(area.rows) * (b + 1) / bands);
    };
    detail::forEachBand(bands, [&](int b) {
        int first, end;
        rowsOf(b, first, end);
        std::size_t* count = &start[std::size_t(b) * levels];
        for (int x = first; x < end; ++x) {
            const PixelOffset row = area.first + PixelOffset(std::ptrdiff_t(x) * m_row);
            const Label* l = &label(row);
            for (int y = 0; y < area.columns; ++y)
                if (l[std::ptrdiff_t(y) * LabelStride] < 0)
                    ++count[std::size_t(Heights::kLevels - 1 - m_heights.seed(row + PixelOffset(y)))];
        }
    });
    const std::size_t at = detail::placeBandCounts(start, bands, levels, m_heightEnds);
    m_candidates.resize(at);
    detail::forEachBand(bands, [&](int b) {
        int first, end;
        rowsOf(b, first, end);
        std::size_t* next = &start[std::size_t(b) * levels];
        for (int x = first; x < end; ++x) {
            const PixelOffset row = area.first + PixelOffset(std::ptrdiff_t(x) * m_row);
            const Label* l = &label(row);
            for (int y = 0; y < area.columns; ++y)
                if (l[std::ptrdiff_t(y) * LabelStride] < 0) {
                    const PixelOffset p = row + PixelOffset(y);
                    m_candidates[next[std::size_t(Heights::kLevels - 1 - m_heights.seed(p))]++] = p;
                }
        }
    });
}

template <typename Queue, typename Neighbours, typename Heights, typename Regions, int LabelStride, typename Label>
void WatershedQueue<Queue, Neighbours, Heights, Regions, LabelStride, Label>::flood(const CandidateArea& area,
                                                                ProgressRange progress)
{
    const std::int64_t started = platform::counterNanoseconds();
    collectCandidates(area);

    const float a = progress.at(progress.position);
    const float b = 0.05f * progress.lo + 0.95f * progress.hi;
    std::size_t pops = 0;
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
            label(p) = Label(m_regions->newRegion());
            pushNeighbours(p, Queue::seedOrigin(height));
        } else {
            // Records queued long ago lead to pixels far from anything touched lately: ask
            // early for the rows around them that expanding them reads.
            PixelOffset ahead;
            if (m_queue->peek(kPrefetchDistance, ahead)) {
                __builtin_prefetch(&label(PixelOffset(std::ptrdiff_t(ahead) - m_row)));
                __builtin_prefetch(&label(ahead));
                __builtin_prefetch(&label(PixelOffset(std::ptrdiff_t(ahead) + m_row)));
                m_heights.prefetch(ahead, m_row);
                m_queue->prefetch(ahead);
            }
            popStep();
            if (++pops % 32768 == 0 && progress.parent) {
                // Every pop adds one to pops and takes one from the queue, and nothing else
                // leaves it, so their sum (the records pushed so far) is the most it has been.
                const std::size_t queued = m_queue->size();
                const std::size_t most = pops - 1 + queued;
                reported = std::max(reported, 1.f - float(queued) / float(most));
                progress.parent->progress(
                    (1.f - reported) * a + reported * b,
                    corvath::utility::timedBlockText(
                        detail::kWatershedHeader, detail::kWatershedLine, "Watershed inner",
                        platform::counterSeconds(started, platform::counterNanoseconds())));
            }
        }
        while (next < n && label(m_candidates[next]) >= 0) {
            if (next + 16 < n)
                __builtin_prefetch(&label(m_candidates[next + 16]));
            ++next;
        }
    }
    std::vector<PixelOffset>().swap(m_candidates);
    std::vector<std::size_t>().swap(m_heightEnds);
}

} // namespace classification
