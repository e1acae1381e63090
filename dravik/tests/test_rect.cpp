#include "allocation_failure.h"
#include "common/helpers.h"

#include <gtest/gtest.h>

#include <new>

using namespace corvath::utility;
using classification::NeighbourList;

namespace {
std::vector<std::pair<int, int>> pairs(const NeighbourList& l)
{
    std::vector<std::pair<int, int>> v;
    for (auto e : l.entries)
        v.emplace_back(e.x, e.y);
    return v;
}
} // namespace

TEST(Rect, UniteAndExtendTreatEmptyAsIdentity)
{
    const Rect r{3, 4, 5, 6};
    EXPECT_EQ(unite(Rect::emptyValue(), r), r);
    EXPECT_EQ(unite(r, Rect::emptyValue()), r);
    EXPECT_EQ(unite(r, Rect{0, 9, 1, 10}), (Rect{0, 4, 5, 10}));
    EXPECT_EQ(extend(Rect::emptyValue(), IntPair{7, 9}), (Rect{7, 9, 7, 9}));
    EXPECT_EQ(extend(Rect{7, 9, 7, 9}, IntPair{2, 12}), (Rect{2, 9, 7, 12}));
}

TEST(Rect, ExtentEmptinessAndTranspose)
{
    EXPECT_EQ(extent(Rect{0, 0, 0, 0}), (IntPair{1, 1}));
    EXPECT_EQ(extent(Rect{1, 0, 0, 0}), (IntPair{0, 1}));
    EXPECT_TRUE(Rect::emptyValue().isEmpty());
    EXPECT_TRUE((Rect{1, 0, 0, 0}).isEmpty());
    EXPECT_FALSE((Rect{0, 0, 0, 0}).isEmpty());
    EXPECT_EQ(transpose(Rect{1, 2, 3, 4}), (Rect{2, 1, 4, 3}));
    EXPECT_EQ(growByWindow(Rect{5, 5, 9, 9}, Rect{0, 0, 2, 2}), (Rect{3, 3, 11, 11}));
    EXPECT_EQ(lineDomainFirst(4), (Rect{0, 0, 3, 0}));
    EXPECT_EQ(lineDomainSecond(4), (Rect{0, 0, 0, 3}));
}

TEST(Rect, FitArrayResizesAndRebases)
{
    blitz::Array<int, 2> a(3, 3);
    fitArrayToRect(a, Rect{-2, 5, 1, 6});
    EXPECT_EQ(domainOf(a), (Rect{-2, 5, 1, 6}));
    a = 7;
    fitArrayToRect(a, Rect{0, 0, 3, 1});  // same extent: kept, only re-based
    EXPECT_EQ(a(3, 1), 7);
}

// A failed allocation must not leave the array pointing at the storage it gave up.
TEST(Rect, FitArrayThatCannotAllocateLeavesTheArrayEmpty)
{
    blitz::Array<int, 2> a(3, 3);
    a = 7;
    testsupport::failAllocation(0);
    EXPECT_THROW(fitArrayToRect(a, Rect{0, 0, 9, 9}), std::bad_alloc);
    testsupport::stopFailingAllocations();
    EXPECT_EQ(a.numElements(), 0);
    fitArrayToRect(a, Rect{0, 0, 1, 1});
    EXPECT_EQ(domainOf(a), (Rect{0, 0, 1, 1}));
}

TEST(Rect, ViewKeepsTheIndicesOfItsRectangle)
{
    blitz::Array<int, 2> a(blitz::Range(2, 6), blitz::Range(3, 8));
    a = 0;
    blitz::Array<int, 2> v = viewOf(a, Rect{3, 4, 5, 6});
    EXPECT_EQ(domainOf(v), (Rect{3, 4, 5, 6}));
    v(4, 5) = 7;
    EXPECT_EQ(a(4, 5), 7);
}

TEST(Neighbours, OrderAndBounds)
{
    NeighbourList l(Rect{0, 0, 4, 4});
    classification::fourNeighbours(l, {0, 0});
    EXPECT_EQ(pairs(l), (std::vector<std::pair<int, int>>{{1, 0}, {0, 1}}));
    classification::diagonalNeighbours(l, {0, 0});
    EXPECT_EQ(pairs(l), (std::vector<std::pair<int, int>>{{1, 1}}));
    classification::fourNeighbours(l, {2, 2});
    EXPECT_EQ(pairs(l), (std::vector<std::pair<int, int>>{{1, 2}, {2, 1}, {3, 2}, {2, 3}}));
    classification::diagonalNeighbours(l, {2, 2});
    EXPECT_EQ(pairs(l), (std::vector<std::pair<int, int>>{{1, 1}, {1, 3}, {3, 1}, {3, 3}}));

    NeighbourList single(Rect{3, 3, 3, 3});
    classification::fourNeighbours(single, {3, 3});
    EXPECT_TRUE(single.entries.empty());
    classification::diagonalNeighbours(single, {3, 3});
    EXPECT_TRUE(single.entries.empty());
}

TEST(DiskWindow, SmallSizes)
{
    for (int n : {1, 2, 3})
        EXPECT_EQ(blitz::sum(classification::diskWindow(n)), n * n) << n;
    auto four = classification::diskWindow(4);
    EXPECT_EQ(blitz::sum(four), 12);
    EXPECT_EQ(four(0, 0) + four(0, 3) + four(3, 0) + four(3, 3), 0);
    auto five = classification::diskWindow(5);
    EXPECT_EQ(blitz::sum(five), 21);
    EXPECT_EQ(five(0, 1), 1);
}

TEST(LevelRange, ShiftAndBins)
{
    classification::LevelRange r;
    r.set(0, 256, 8, 0);
    EXPECT_EQ(r.shift, 1);
    EXPECT_EQ(r.firstBin, 0);
    EXPECT_EQ(r.lastBin, 128);
    r.set(0, 256, 0, 10);
    EXPECT_EQ(r.shift, 10);
    EXPECT_EQ(r.binCount(), 1);
    r.set(5, 6, 0, 0);  // d = 1: the exponent of 1 is 0
    EXPECT_EQ(r.shift, 1);
}
