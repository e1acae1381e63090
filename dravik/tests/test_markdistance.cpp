#include "common/helpers.h"
#include "mask/markdistance.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <queue>
#include <random>
#include <vector>

using namespace classification;
using corvath::utility::domainOf;

namespace {

using Status = blitz::Array<unsigned char, 2>;

std::uint32_t bitsOf(float f)
{
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// The wave-front algorithm as a plain ordered map of buckets and a heap of pending
// expansions, with the neighbour lists: the reference the fast passes must match bit for bit.
MarkDistances referenceDistances(const Status& status)
{
    const Rect r = domainOf(status);
    MarkDistances d;
    corvath::utility::fitArrayToRect(d, r);
    for (int i = r.x1; i <= r.x2; ++i)
        for (int j = r.y1; j <= r.y2; ++j) {
            const float v = (status(i, j) & 6) ? 0.f : markUnreached;
            d(i, j) = MarkDistance(v, v);
        }
    const float a = markAxialStep, b = markDiagonalStep;
    const unsigned char bits[2] = {2, 4};
    NeighbourList list(r);
    for (int k = 0; k < 2; ++k) {
        std::map<float, std::vector<IntPair>> buckets;
        using Pair = std::pair<float, float>;
        const auto later = [](const Pair& p, const Pair& q) { return p.first + p.second > q.first + q.second; };
        std::priority_queue<Pair, std::vector<Pair>, decltype(later)> heap(later);
        buckets[a];
        buckets[b];
        heap.push({a, a});
        heap.push({a, b});
        heap.push({b, a});
        heap.push({b, b});
        const auto hasClass = [&](IntPair q) { return (status(q.x, q.y) & 0x0F & bits[k]) != 0; };
        for (int i = r.x1; i <= r.x2; ++i)
            for (int j = r.y1; j <= r.y2; ++j) {
                if (d(i, j)[k] != markUnreached)
                    continue;
                bool hit = false;
                fourNeighbours(list, {i, j});
                for (IntPair q : list.entries)
                    hit = hit || hasClass(q);
                if (hit) {
                    d(i, j)[k] = a;
                    buckets[a].push_back({i, j});
                    continue;
                }
                diagonalNeighbours(list, {i, j});
                for (IntPair q : list.entries)
                    hit = hit || hasClass(q);
                if (hit) {
                    d(i, j)[k] = b;
                    buckets[b].push_back({i, j});
                }
            }
        while (!heap.empty()) {
            const Pair e = heap.top();
            heap.pop();
            auto from = buckets.find(e.first);
            if (!from->second.empty()) {
                const float nd = e.first + e.second;
                auto [to, created] = buckets.try_emplace(nd);
                if (created) {
                    heap.push({nd, a});
                    heap.push({nd, b});
                }
                for (IntPair p : from->second) {
                    if (e.second == a)
                        fourNeighbours(list, p);
                    else
                        diagonalNeighbours(list, p);
                    for (IntPair q : list.entries)
                        if (d(q.x, q.y)[k] == markUnreached) {
                            d(q.x, q.y)[k] = nd;
                            to->second.push_back(q);
                        }
                }
            }
            if (e.second == b)
                buckets.erase(from);
        }
    }
    return d;
}

Status statusOver(int x1, int y1, int rows, int cols, unsigned char value)
{
    Status s(blitz::Range(x1, x1 + rows - 1), blitz::Range(y1, y1 + cols - 1));
    s = value;
    return s;
}

MarkDistances distancesOf(const Status& s)
{
    MarkDistances d;
    computeMarkDistances(d, s, ProgressRange());
    return d;
}

int countMismatches(const MarkDistances& got, const MarkDistances& want)
{
    int n = 0;
    for (int i = want.lbound(0); i <= want.ubound(0); ++i)
        for (int j = want.lbound(1); j <= want.ubound(1); ++j)
            for (int k = 0; k < 2; ++k)
                n += bitsOf(got(i, j)[k]) != bitsOf(want(i, j)[k]);
    return n;
}

} // namespace

TEST(MarkDistanceConstants, HaveTheirBitPatterns)
{
    EXPECT_EQ(bitsOf(markAxialStep), 0x3F76415Eu);
    EXPECT_EQ(bitsOf(markDiagonalStep), 0x3FAE2340u);
    EXPECT_EQ(bitsOf(markUnreached), 0x7EFFFFFFu);
}

TEST(MarkDistances, StepsFromOneKeepPixel)
{
    Status s = statusOver(0, 0, 7, 7, 1);
    s(3, 3) = 2;
    const MarkDistances d = distancesOf(s);
    const float a = markAxialStep, b = markDiagonalStep;
    EXPECT_EQ(d(3, 3)[0], 0.f);
    EXPECT_EQ(d(3, 4)[0], 0.9619349f);
    EXPECT_EQ(d(2, 3)[0], a);
    EXPECT_EQ(d(4, 4)[0], 1.3604507f);
    EXPECT_EQ(d(3, 5)[0], a + a);
    EXPECT_EQ(d(3, 5)[0], 1.9238698f);
    EXPECT_EQ(d(4, 5)[0], a + b);
    EXPECT_EQ(d(4, 5)[0], 2.3223858f);
    // No Delete pixel: component 1 is unreached everywhere but on the mark.
    EXPECT_EQ(d(3, 3)[1], 0.f);
    EXPECT_EQ(d(0, 0)[1], markUnreached);
}

TEST(MarkDistances, UnmarkedRectangleIsUnreachedEverywhere)
{
    const MarkDistances d = distancesOf(statusOver(5, -3, 6, 9, 1 | 8));
    EXPECT_EQ(domainOf(d), (Rect{5, -3, 10, 5}));
    for (int i = 5; i <= 10; ++i)
        for (int j = -3; j <= 5; ++j) {
            EXPECT_EQ(d(i, j)[0], markUnreached);
            EXPECT_EQ(d(i, j)[1], markUnreached);
        }
}

TEST(MarkDistances, MarksBlockThePaths)
{
    // A ring of Delete around an unmarked hole, Keep only outside the ring.
    Status s = statusOver(0, 0, 11, 11, 1);
    for (int i = 2; i <= 8; ++i)
        for (int j = 2; j <= 8; ++j)
            s(i, j) = (i == 2 || i == 8 || j == 2 || j == 8) ? 4 : 1;
    s(0, 0) = 2;
    const MarkDistances d = distancesOf(s);
    EXPECT_EQ(d(5, 5)[0], markUnreached);
    EXPECT_EQ(d(3, 3)[0], markUnreached);
    EXPECT_EQ(d(5, 5)[1], markAxialStep + markAxialStep + markAxialStep);
    EXPECT_EQ(d(3, 3)[1], markAxialStep);
    EXPECT_EQ(d(2, 5)[0], 0.f);
    EXPECT_EQ(d(2, 5)[1], 0.f);
    EXPECT_EQ(d(0, 0)[1], 0.f);
    EXPECT_EQ(d(1, 1)[1], markDiagonalStep);
    EXPECT_EQ(d(0, 1)[1], markDiagonalStep + markAxialStep);
    EXPECT_NE(d(10, 10)[0], markUnreached);
}

TEST(MarkDistances, MatchesTheOrderedBucketAlgorithmBitForBit)
{
    std::mt19937 rng(11);
    for (int trial = 0; trial < 6; ++trial) {
        const int rows = 20 + int(rng() % 60), cols = 20 + int(rng() % 60);
        Status s = statusOver(int(rng() % 7) - 3, int(rng() % 7) - 3, rows, cols, 1);
        // Sparse marks leave wide unmarked areas, where many distinct sums meet.
        const int marks = trial < 3 ? 3 : rows * cols / 6;
        for (int m = 0; m < marks; ++m) {
            const int i = s.lbound(0) + int(rng() % rows), j = s.lbound(1) + int(rng() % cols);
            s(i, j) = (rng() % 2 ? 2 : 4) | (rng() % 3 == 0 ? 8 : 0);
        }
        const MarkDistances want = referenceDistances(s);
        const MarkDistances got = distancesOf(s);
        ASSERT_EQ(domainOf(got), domainOf(s));
        EXPECT_EQ(countMismatches(got, want), 0) << "trial " << trial;
    }
}

TEST(MarkDistances, WideOpenAreaMatchesBitForBit)
{
    // Two seeds in a wide unmarked area: tens of thousands of distinct sums, far more buckets
    // than are live at any one time.
    Status s = statusOver(0, 0, 300, 340, 1);
    s(40, 70) = 2;
    s(250, 300) = 4;
    EXPECT_EQ(countMismatches(distancesOf(s), referenceDistances(s)), 0);
}

TEST(MarkDistances, ReadsAViewWithItsOwnIndices)
{
    Status whole = statusOver(0, 0, 30, 40, 1);
    whole(3, 4) = 2;
    whole(20, 30) = 4;
    whole(10, 10) = 2;
    const Rect part{5, 6, 25, 33};
    const Status view = corvath::utility::viewOf(whole, part);
    Status copy(blitz::Range(part.x1, part.x2), blitz::Range(part.y1, part.y2));
    copy = view;
    const MarkDistances got = distancesOf(view);
    EXPECT_EQ(domainOf(got), part);
    EXPECT_EQ(countMismatches(got, referenceDistances(copy)), 0);
    EXPECT_EQ(got(10, 11)[0], markAxialStep);
}
