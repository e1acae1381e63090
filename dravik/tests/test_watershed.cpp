#include "watershed/watershed.h"
#include "analysis/innerflood.h"

#include <blitz/array.h>
#include <blitz/tinyvec2.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <queue>
#include <tuple>
#include <random>
#include <set>
#include <vector>

using namespace classification;

namespace {

using Heights3 = blitz::TinyVector<unsigned char, 3>;
using InnerFlood = WatershedQueue<LevelQueue, EightNeighbours, UpperLowerHeights, LabelCounter>;

// A flood over rows x cols pixels with a ring of label 0 around them, as the inner watershed
// sets it up; heights come from `height(x, y)` as both the upper and the lower byte.
struct FloodCase {
    int rows, cols;
    blitz::Array<Heights3, 2> heights;
    blitz::Array<std::int32_t, 2> labels;
    LabelCounter counter;

    template <typename F>
    FloodCase(int r, int c, F height) : rows(r), cols(c), heights(r + 2, c + 2), labels(r + 2, c + 2)
    {
        heights = Heights3(0, 0, 0);
        for (int x = 0; x < r; ++x)
            for (int y = 0; y < c; ++y) {
                const unsigned char h = height(x, y);
                heights(x + 1, y + 1) = Heights3(h, h, 0);
            }
        labels = 0;
        labels(blitz::Range(1, r), blitz::Range(1, c)) = -1;
        counter.take();  // label 0 is the ring's
    }

    void run(int bias)
    {
        std::vector<unsigned char> lower;
        for (const Heights3& e : heights)
            lower.push_back(e[1]);
        UpperLowerHeights h;
        h.origin = heights.data()->data();
        h.lower = lower.data();
        h.bias = bias;
        LevelQueue queue;
        InnerFlood flood(labels.data(), labels.stride(0), h, counter, queue);
        CandidateArea area;
        area.first = PixelOffset(labels.stride(0) + 1);
        area.rows = rows;
        area.columns = cols;
        flood.flood(area, ProgressRange());
        EXPECT_TRUE(queue.empty());
    }

    int label(int x, int y) const { return labels(x + 1, y + 1); }
};

} // namespace

TEST(LevelQueue, HighestPriorityFirstAndFirstInFirstOutWithinOne)
{
    LevelQueue q;
    EXPECT_TRUE(q.empty());
    EXPECT_EQ(q.topPriority(), 0);
    q.push(1, 10, 200, 50);   // priority 50
    q.push(2, 20, 30, 255);   // 30
    q.push(3, 30, 50, 90);    // 50
    q.push(4, 40, 255, 255);  // 255
    EXPECT_EQ(q.size(), 4u);
    EXPECT_EQ(q.topPriority(), 255);

    PixelOffset from, to;
    const int expected[][3] = {{255, 4, 40}, {50, 1, 10}, {50, 3, 30}, {30, 2, 20}};
    for (const auto& e : expected) {
        EXPECT_EQ(q.topPriority(), e[0]);
        EXPECT_EQ(q.pop(from, to), e[0]);
        EXPECT_EQ(from, PixelOffset(e[1]));
        EXPECT_EQ(to, PixelOffset(e[2]));
    }
    EXPECT_TRUE(q.empty());
    EXPECT_EQ(q.topPriority(), 0) << "an empty queue stands at level 0";
}

TEST(LevelQueue, KeepsOrderAcrossBlocksAndReusesThem)
{
    LevelQueue q;
    PixelOffset from, to;
    // Interleaved pushes and pops on two levels, more records than one block holds.
    for (int round = 0; round < 3; ++round) {
        for (PixelOffset i = 0; i < 5000; ++i) {
            q.push(i, i, 7, 7);
            q.push(i, i + 1, 3, 3);
        }
        for (PixelOffset i = 0; i < 5000; ++i) {
            ASSERT_EQ(q.pop(from, to), 7);
            ASSERT_EQ(to, i);
        }
        for (PixelOffset i = 0; i < 5000; ++i) {
            ASSERT_EQ(q.pop(from, to), 3);
            ASSERT_EQ(to, i + 1);
        }
        ASSERT_TRUE(q.empty());
    }
    q.push(1, 2, 9, 9);
    q.release();
    EXPECT_TRUE(q.empty());
    q.push(5, 6, 4, 9);
    EXPECT_EQ(q.pop(from, to), 4);
    EXPECT_EQ(to, 6u);
}

TEST(LabelCounter, HandsOutTheMaximumOnceReached)
{
    LabelCounter c(2);
    EXPECT_EQ(c.take(), 0);
    EXPECT_EQ(c.take(), 1);
    EXPECT_EQ(c.take(), 2);
    EXPECT_EQ(c.take(), 2);
    EXPECT_EQ(c.next(), 3);
}

TEST(InnerFlood, AUniformFieldFloodsFromItsFirstCandidate)
{
    FloodCase f(9, 13, [](int, int) { return 77; });
    f.run(0);
    for (int x = 0; x < 9; ++x)
        for (int y = 0; y < 13; ++y)
            ASSERT_EQ(f.label(x, y), 1);
    EXPECT_EQ(f.counter.next(), 2);
    for (int y = 0; y < 15; ++y)
        EXPECT_EQ(f.labels(0, y), 0) << "the ring never joins a region";
}

// Two plateaus of 200 split by a band of 50 two columns wide (columns 6 and 7).
TEST(InnerFlood, ABandTwoPixelsWideSeparatesPlateausUntilTheBiasBridgesIt)
{
    const auto twoColumnBand = [](int, int y) { return (y == 6 || y == 7) ? 50 : 200; };
    FloodCase low(8, 14, twoColumnBand);
    low.run(149);
    EXPECT_EQ(low.counter.next(), 3);
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 14; ++y)
            ASSERT_EQ(low.label(x, y), y <= 6 ? 1 : 2) << x << ", " << y;

    FloodCase high(8, 14, twoColumnBand);
    high.run(150);
    EXPECT_EQ(high.counter.next(), 2);

    FloodCase thin(8, 14, [](int, int y) { return y == 6 ? 50 : 200; });
    thin.run(0);
    EXPECT_EQ(thin.counter.next(), 2) << "a band one pixel wide never separates";
}

TEST(InnerFlood, EveryPixelEndsInARegionGrownThroughEightNeighbours)
{
    // Ridged, noisy heights: many seeds.
    FloodCase f(40, 37, [](int x, int y) { return (x * 37 + y * 11 + (x * y) % 23) % 251; });
    f.run(3);
    const int count = f.counter.next();
    ASSERT_GT(count, 2);
    // Each region is one 8-connected component: walk each from its first pixel.
    std::vector<int> seen(std::size_t(count), 0);
    blitz::Array<int, 2> visited(40, 37);
    visited = 0;
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < 37; ++y) {
            const int l = f.label(x, y);
            ASSERT_GE(l, 1);
            ASSERT_LT(l, count);
            if (visited(x, y))
                continue;
            ASSERT_EQ(seen[std::size_t(l)]++, 0) << "label " << l << " has two pieces";
            std::vector<std::pair<int, int>> stack{{x, y}};
            visited(x, y) = 1;
            while (!stack.empty()) {
                const auto [px, py] = stack.back();
                stack.pop_back();
                for (int dx = -1; dx <= 1; ++dx)
                    for (int dy = -1; dy <= 1; ++dy) {
                        const int qx = px + dx, qy = py + dy;
                        if (qx < 0 || qy < 0 || qx >= 40 || qy >= 37 || visited(qx, qy) || f.label(qx, qy) != l)
                            continue;
                        visited(qx, qy) = 1;
                        stack.push_back({qx, qy});
                    }
            }
        }
}

TEST(InnerFlood, SeedsStartInStorageOrderAmongEqualHeights)
{
    // Four isolated peaks of equal height in pits of 0: regions number in storage order.
    FloodCase f(7, 7, [](int x, int y) { return (x % 4 == 1 && y % 4 == 1) ? 90 : 0; });
    f.run(0);
    EXPECT_EQ(f.label(1, 1), 1);
    EXPECT_EQ(f.label(1, 5), 2);
    EXPECT_EQ(f.label(5, 1), 3);
    EXPECT_EQ(f.label(5, 5), 4);
}

namespace {

// The flood step by step as it is defined: every neighbour of another region is queued, and
// records that change nothing still leave the queue in their turn.
blitz::Array<std::int32_t, 2> referenceFlood(const FloodCase& f, int bias, int& next)
{
    blitz::Array<std::int32_t, 2> labels = f.labels.copy();
    const int rows = f.rows + 2, cols = f.cols + 2;
    const auto h0 = [&](int p) { return int(f.heights(p / cols, p % cols)[0]); };
    const auto h1 = [&](int p) { return int(f.heights(p / cols, p % cols)[1]); };
    const auto label = [&](int p) -> std::int32_t& { return labels(p / cols, p % cols); };
    std::vector<std::deque<std::pair<int, int>>> lists(256);
    int level = 0;
    std::size_t count = 0;
    const auto pushNeighbours = [&](int p, int p0) {
        const int offsets[] = {-1, 1, -cols, cols, cols - 1, cols + 1, -cols - 1, -cols + 1};
        for (int d : offsets) {
            const int q = p + d;
            if (label(q) == label(p))
                continue;
            const int priority = std::min(p0, std::max(h1(p), h1(q)) + bias);
            lists[std::size_t(priority)].push_back({p, q});
            level = std::max(level, priority);
            ++count;
        }
    };
    std::vector<int> candidates;
    for (int p = 0; p < rows * cols; ++p)
        if (label(p) == -1)
            candidates.push_back(p);
    std::stable_sort(candidates.begin(), candidates.end(), [&](int a, int b) { return h0(a) > h0(b); });
    LabelCounter counter;
    counter.take();
    std::size_t c = 0;
    while (c < candidates.size() || count > 0) {
        if (c < candidates.size() && (count == 0 || h0(candidates[c]) > level)) {
            label(candidates[c]) = counter.take();
            pushNeighbours(candidates[c], h0(candidates[c]));
        } else {
            const auto [from, to] = lists[std::size_t(level)].front();
            const int priority = level;
            lists[std::size_t(level)].pop_front();
            if (--count == 0)
                level = 0;
            else
                while (lists[std::size_t(level)].empty())
                    --level;
            if (label(to) == -1) {
                label(to) = label(from);
                pushNeighbours(to, priority);
            }
        }
        while (c < candidates.size() && label(candidates[c]) != -1)
            ++c;
    }
    next = counter.next();
    return labels;
}

} // namespace

TEST(InnerFlood, LeavingOutRecordsThatChangeNothingGivesTheDefinedRegions)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 12; ++round) {
        const int levels = round % 3 == 0 ? 4 : 256;  // few levels: many ties
        std::uniform_int_distribution<int> height(0, levels - 1);
        std::vector<unsigned char> field(60 * 45);
        for (auto& v : field)
            v = (unsigned char)(height(rng) * (256 / levels));
        FloodCase f(60, 45, [&](int x, int y) { return field[std::size_t(x * 45 + y)]; });
        // Upper and lower heights differ: lower ones at most the upper.
        for (int x = 1; x <= 60; ++x)
            for (int y = 1; y <= 45; ++y)
                f.heights(x, y)[1] = (unsigned char)(f.heights(x, y)[0] * (round % 4) / 4);
        const int bias = round * 9 % 40;
        int next = 0;
        const auto expected = referenceFlood(f, bias, next);
        f.run(bias);
        ASSERT_TRUE(blitz::all(f.labels == expected)) << "round " << round;
        EXPECT_EQ(f.counter.next(), next);
    }
}

namespace {

// The packed flood over the same field: cells over the pixels grown by 2, the ring region 0.
// Returns the labels over the pixels grown by 1, or an empty array when it ran out of labels.
blitz::Array<std::int32_t, 2> packedFlood(const FloodCase& f, int bias, bool vectorUnit, int& next,
                                          std::int32_t limit = PackedInnerFlood::kMaxLabel)
{
    const int rows = f.rows + 4, cols = f.cols + 4;
    std::vector<std::uint32_t> cells(std::size_t(rows * cols), 0);
    std::vector<unsigned char> gradient(3 * cells.size(), 0);
    for (int x = 0; x < f.rows; ++x)
        for (int y = 0; y < f.cols; ++y) {
            const std::size_t p = std::size_t((x + 2) * cols + y + 2);
            gradient[3 * p] = f.heights(x + 1, y + 1)[0];
            cells[p] = PackedInnerFlood::unlabelledCell(f.heights(x + 1, y + 1)[1]);
        }
    LabelCounter counter;
    counter.take();
    PackedInnerFlood flood(cells.data(), gradient.data(), cols, bias, counter, limit, vectorUnit);
    CandidateArea area;
    area.first = PixelOffset(2 * cols + 2);
    area.rows = f.rows;
    area.columns = f.cols;
    next = counter.next();
    if (!flood.flood(area, ProgressRange()))
        return {};
    next = counter.next();
    blitz::Array<std::int32_t, 2> labels(f.rows + 2, f.cols + 2);
    for (int x = 0; x < f.rows + 2; ++x)
        for (int y = 0; y < f.cols + 2; ++y)
            labels(x, y) = PackedInnerFlood::labelOf(cells[std::size_t((x + 1) * cols + y + 1)]);
    return labels;
}

// The packed flood on both paths gives the reference flood's labels and next label.
void expectPackedFloodAsReference(const FloodCase& f, int bias)
{
    int expectedNext = 0;
    const auto expected = referenceFlood(f, bias, expectedNext);
    for (const bool vectorUnit : {true, false}) {
        int next = 0;
        const auto labels = packedFlood(f, bias, vectorUnit, next);
        ASSERT_EQ(labels.size(), expected.size());
        ASSERT_TRUE(blitz::all(labels == expected)) << "vector " << vectorUnit;
        EXPECT_EQ(next, expectedNext);
    }
}

} // namespace

// Both the vector and the portable path, on fields with many ties and many seeds.
TEST(PackedInnerFlood, GivesTheDefinedRegionsOnEitherPath)
{
    std::mt19937 rng(23);
    for (int round = 0; round < 12; ++round) {
        const int levels = round % 3 == 0 ? 3 : 256;
        std::uniform_int_distribution<int> height(0, levels - 1);
        std::vector<unsigned char> field(53 * 47);
        for (auto& v : field)
            v = (unsigned char)(height(rng) * (255 / (levels - 1)));
        FloodCase f(53, 47, [&](int x, int y) { return field[std::size_t(x * 47 + y)]; });
        for (int x = 1; x <= 53; ++x)
            for (int y = 1; y <= 47; ++y)
                f.heights(x, y)[1] = (unsigned char)(f.heights(x, y)[0] * (round % 4) / 4);
        const int bias = round * 23 % 256;  // up to 255: priorities reach the top level
        SCOPED_TRACE(round);
        ASSERT_NO_FATAL_FAILURE(expectPackedFloodAsReference(f, bias));
    }
}

// Fronts of more records than a queue block holds, on levels near each other: records go to
// their lists in groups, up to a block's end and across it.
TEST(PackedInnerFlood, KeepsTheOrderOverLongQueues)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 2; ++round) {
        std::vector<unsigned char> field(301 * 297);
        for (auto& v : field)
            v = (unsigned char)(100 + rng() % (round ? 5 : 2));
        field[150 * 297 + 148] = 200;
        FloodCase f(301, 297, [&](int x, int y) { return field[std::size_t(x * 297 + y)]; });
        for (int x = 1; x <= 301; ++x)
            for (int y = 1; y <= 297; ++y)
                f.heights(x, y)[1] = (unsigned char)(f.heights(x, y)[0] - 2 * round);
        const int bias = 3 * round;
        SCOPED_TRACE(round);
        ASSERT_NO_FATAL_FAILURE(expectPackedFloodAsReference(f, bias));
    }
}

TEST(PackedInnerFlood, StopsWhenARegionWouldNeedALabelAboveTheLimit)
{
    FloodCase f(7, 7, [](int x, int y) { return (x % 4 == 1 && y % 4 == 1) ? 90 : 0; });  // four peaks
    int next = 0;
    EXPECT_EQ(packedFlood(f, 0, true, next, 3).size(), 0) << "a fourth region needs label 4";
    EXPECT_EQ(packedFlood(f, 0, true, next, 4).size(), 81);
    EXPECT_EQ(next, 5);
}

TEST(RunQueue, StepsDownLeaveByStepThenTheRunsInTheOrderTheyCame)
{
    const std::ptrdiff_t row = 10;
    RunQueue q(row, 200);
    q.push(12, 11, RunQueue::seedOrigin(40), 200, -1);  // 40, run 1, step 1
    q.push(55, 56, {100, 3, 7}, 90, -1);                 // 90, run 0, step 8
    q.push(55, 65, {100, 3, 7}, 95, -1);                 // 95, run 0, step 8
    q.push(44, 54, {100, 0, 2}, 90, -1);                 // 90, run 0, step 3
    q.push(70, 71, {120, 0, 0}, 90, -1);                 // 90, run 0, step 1
    EXPECT_EQ(q.size(), 5u);
    EXPECT_EQ(q.topPriority(), 95);

    struct Popped {
        PixelOffset from, to;
        int priority, run, step;
    };
    const auto expectPops = [&](const std::vector<Popped>& expected) {
        for (const Popped& e : expected) {
            PixelOffset from = 0, to = 0;
            const RunQueue::Origin o = q.pop(from, to);
            EXPECT_EQ(from, e.from);
            EXPECT_EQ(to, e.to);
            EXPECT_EQ(o.priority, e.priority);
            EXPECT_EQ(o.run, e.run);
            EXPECT_EQ(o.step, e.step);
        }
    };
    expectPops({{55, 65, 95, 0, 8}, {70, 71, 90, 0, 1}});
    // Level 90 is being popped: the runs its records start come behind the steps down left.
    q.push(71, 81, {90, 0, 1}, 150, -1);  // 90, run 1, step 2
    expectPops({{44, 54, 90, 0, 3}});
    q.push(54, 64, {90, 0, 3}, 90, -1);  // 90, run 1, step 4
    expectPops({{55, 56, 90, 0, 8}, {71, 81, 90, 1, 2}});
    q.push(81, 91, {90, 1, 2}, 200, -1);  // 90, run 2, step 3: behind the rest of run 1
    expectPops({{54, 64, 90, 1, 4}, {81, 91, 90, 2, 3}});
    EXPECT_EQ(q.topPriority(), 40);
    expectPops({{12, 11, 40, 1, 1}});
    EXPECT_TRUE(q.empty());
    EXPECT_EQ(q.topPriority(), 0);
}

TEST(RunQueue, APixelJoinsTheSmallestSideAmongItsBestRecords)
{
    const std::ptrdiff_t row = 10;
    PixelOffset from = 0, to = 0;
    {
        // Equal keys from one group: the side of the smaller difference wins, whichever came
        // first; a record of a later group, even from a smaller side, does not.
        RunQueue q(row, 200);
        q.push(41, 40, {100, 0, 5}, 100, -1);   // side 3
        q.push(30, 40, {100, 0, 5}, 100, 100);  // side 0, the same key
        q.push(50, 40, {100, 1, 5}, 100, 100);  // a later group
        q.pop(from, to);
        EXPECT_EQ(to, 40u);
        EXPECT_EQ(from, 30u);
    }
    {
        RunQueue q(row, 200);
        q.push(50, 40, {100, 0, 6}, 100, -1);  // side 1, run 1, step 7
        q.push(41, 40, {100, 1, 5}, 100, 100);  // side 3, run 2: later
        q.pop(from, to);
        EXPECT_EQ(from, 50u);
    }
    {
        // Steps down: the fewest steps, then the smallest side; a higher priority replaces all.
        RunQueue q(row, 200);
        q.push(21, 22, {120, 0, 4}, 80, -1);  // side 2, step 5
        q.push(23, 22, {110, 2, 4}, 80, 80);  // side 3, step 5
        q.pop(from, to);
        EXPECT_EQ(from, 21u);
        q.push(21, 22, {120, 0, 4}, 80, -1);  // side 2, step 5
        q.push(32, 22, {100, 0, 3}, 80, 80);  // side 1, step 4
        q.push(23, 22, {110, 2, 2}, 80, 80);  // side 3, step 3
        q.pop(from, to);
        EXPECT_EQ(from, 23u);
        q.push(21, 22, {120, 0, 4}, 80, -1);  // a step down to 80
        q.push(12, 22, {90, 0, 9}, 90, 80);   // a run at 90 leaves first
        q.pop(from, to);
        EXPECT_EQ(from, 12u);
    }
}

namespace {

// Auto-complex's flood over rows x cols pixels in a frame of barrier pixels: ids 1 and 2 seed
// the stroke and the opposite region, 0 is barrier, -1 is left to the flood.
struct SeededCase {
    int rows, cols;
    std::vector<unsigned char> heights;  // over the frame
    std::vector<std::int32_t> ids;       // over the frame

    int stride() const { return cols + 2; }
    PixelOffset at(int x, int y) const { return PixelOffset((x + 1) * stride() + y + 1); }
};

// The flood as it is defined: the seed scan gives ids in storage order and queues every
// neighbour whose id differs at that moment, every record leaves the queue in its turn, and a
// record that meets another region is a contact of its source's region.
std::vector<std::int32_t> referenceSeededFlood(const SeededCase& c, int bias,
                                               std::set<std::pair<PixelOffset, PixelOffset>>& strokeContacts)
{
    const std::ptrdiff_t row = c.stride();
    std::vector<std::int32_t> ids(c.ids.size(), 0);
    for (int x = 0; x < c.rows; ++x)
        for (int y = 0; y < c.cols; ++y)
            ids[c.at(x, y)] = -1;
    // Ordered as the heap orders: priority down, then run, step, side and target up.
    using Record = std::tuple<int, int, int, int, PixelOffset, PixelOffset>;
    std::priority_queue<Record, std::vector<Record>, std::greater<Record>> queue;
    const std::ptrdiff_t sides[4] = {row, -row, 1, -1};
    const auto pushNeighbours = [&](PixelOffset p, int p0, int r, int s) {
        for (const std::ptrdiff_t d : {-row, row, std::ptrdiff_t(-1), std::ptrdiff_t(1)}) {
            const auto q = PixelOffset(std::ptrdiff_t(p) + d);
            if (ids[q] == ids[p])
                continue;
            const int v = c.heights[q] + bias;
            const int side = int(std::find(sides, sides + 4, d) - sides);
            queue.push({-std::min(p0, v), v >= p0 ? r + 1 : 0, s + 1, side, q, p});
        }
    };
    for (int x = 0; x < c.rows; ++x)
        for (int y = 0; y < c.cols; ++y) {
            const PixelOffset p = c.at(x, y);
            ids[p] = c.ids[p];
            if (ids[p] > 0)
                pushNeighbours(p, c.heights[p], 0, 0);
        }
    std::vector<PixelOffset> candidates;
    for (int x = 0; x < c.rows; ++x)
        for (int y = 0; y < c.cols; ++y)
            if (ids[c.at(x, y)] == -1)
                candidates.push_back(c.at(x, y));
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&](PixelOffset a, PixelOffset b) { return c.heights[a] > c.heights[b]; });
    LabelCounter regions(3);
    for (int i = 0; i < 3; ++i)
        regions.take();
    std::size_t next = 0;
    while (next < candidates.size() || !queue.empty()) {
        if (next < candidates.size() &&
            (queue.empty() || c.heights[candidates[next]] > -std::get<0>(queue.top()))) {
            ids[candidates[next]] = regions.take();
            pushNeighbours(candidates[next], c.heights[candidates[next]], 0, 0);
        } else {
            const auto [negPriority, run, step, side, to, from] = queue.top();
            queue.pop();
            if (ids[to] == -1) {
                ids[to] = ids[from];
                pushNeighbours(to, -negPriority, run, step);
            } else if (ids[to] != ids[from] && ids[from] == 1) {
                strokeContacts.insert({from, to});
            }
        }
        while (next < candidates.size() && ids[candidates[next]] != -1)
            ++next;
    }
    return ids;
}

} // namespace

TEST(SeededFlood, LeavingOutRecordsThatChangeNothingGivesTheDefinedRegionsAndContacts)
{
    using Flood = WatershedQueue<RunQueue, FourNeighbours, TargetHeights<>, LabelCounter>;
    std::mt19937 rng(23);
    for (int round = 0; round < 30; ++round) {
        SeededCase c{40 + round, round % 5 == 4 ? 97 : 37, {}, {}};
        const std::size_t cells = std::size_t(c.rows + 2) * c.stride();
        const int levels = round % 3 == 0 ? 3 : round % 3 == 1 ? 2 : 256;  // few levels: many ties
        c.heights.resize(cells);
        for (auto& h : c.heights)
            h = (unsigned char)(rng() % levels * (255 / std::max(1, levels - 1)));
        c.ids.assign(cells, 0);
        for (int x = 0; x < c.rows; ++x)
            for (int y = 0; y < c.cols; ++y) {
                const unsigned k = rng() % 100;
                c.ids[c.at(x, y)] = k < 4 ? 1 : k < 8 ? 2 : k < 12 ? 0 : -1;
            }
        const int bias = round * 7 % 30;

        std::set<std::pair<PixelOffset, PixelOffset>> contacts;
        const std::vector<std::int32_t> expected = referenceSeededFlood(c, bias, contacts);

        std::vector<std::int32_t> ids = c.ids;
        LabelCounter regions(3);
        for (int i = 0; i < 3; ++i)
            regions.take();
        TargetHeights<> heights;
        heights.height = c.heights.data();
        heights.bias = bias;
        RunQueue queue(c.stride(), cells);
        Flood flood(ids.data(), c.stride(), heights, regions, queue);
        for (int x = 0; x < c.rows; ++x)
            for (int y = 0; y < c.cols; ++y)
                if (ids[c.at(x, y)] > 0)
                    flood.pushNeighbours(c.at(x, y), RunQueue::seedOrigin(c.heights[c.at(x, y)]));
        CandidateArea area;
        area.first = c.at(0, 0);
        area.rows = c.rows;
        area.columns = c.cols;
        flood.flood(area, ProgressRange());
        ASSERT_EQ(ids, expected) << "round " << round;

        // The same flood over packed cells: a 16-bit id, the height and the claim side by side.
        struct Cell {
            std::int16_t id;
            unsigned char height;
            unsigned char spare;
            std::uint32_t claim;
        };
        std::vector<Cell> packed(cells);
        for (std::size_t p = 0; p < cells; ++p) {
            packed[p].id = std::int16_t(c.ids[p]);
            packed[p].height = c.heights[p];
        }
        LabelCounter packedRegions(3);
        for (int i = 0; i < 3; ++i)
            packedRegions.take();
        TargetHeights<std::ptrdiff_t(sizeof(Cell))> packedHeights;
        packedHeights.height = &packed[0].height;
        packedHeights.bias = bias;
        RunQueue packedQueue(c.stride(), cells, &packed[0].claim, sizeof(Cell) / sizeof(std::uint32_t));
        WatershedQueue<RunQueue, FourNeighbours, TargetHeights<std::ptrdiff_t(sizeof(Cell))>, LabelCounter,
                       int(sizeof(Cell) / sizeof(std::int16_t)), std::int16_t>
            packedFlood(&packed[0].id, c.stride(), packedHeights, packedRegions, packedQueue);
        for (std::size_t p = 0; p < cells; ++p)
            if (packed[p].id > 0)
                packedFlood.pushNeighbours(PixelOffset(p), RunQueue::seedOrigin(packed[p].height));
        packedFlood.flood(area, ProgressRange());
        for (std::size_t p = 0; p < cells; ++p)
            ASSERT_EQ(packed[p].id, expected[p]) << "round " << round << " element " << p;

        // The stroke region's contacts are exactly its boundary pairs in the finished ids.
        std::set<std::pair<PixelOffset, PixelOffset>> boundary;
        for (int x = 0; x < c.rows; ++x)
            for (int y = 0; y < c.cols; ++y) {
                const PixelOffset p = c.at(x, y);
                if (ids[p] != 1)
                    continue;
                for (const int d : {-c.stride(), c.stride(), -1, 1})
                    if (ids[std::size_t(std::ptrdiff_t(p) + d)] != 1)
                        boundary.insert({p, PixelOffset(std::ptrdiff_t(p) + d)});
            }
        EXPECT_EQ(boundary, contacts) << "round " << round;
    }
}
