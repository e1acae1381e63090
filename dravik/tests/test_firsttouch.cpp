// Fresh arrays set up on several threads: every element is reached exactly once whatever the
// thread count and size, and the arrays index as the Blitz arrays they replace.
#include "common/firsttouch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

using corvath::utility::Rect;

namespace {

class FirstTouch : public ::testing::TestWithParam<unsigned> {
protected:
    void SetUp() override { platform::setProcessorCountOverride(GetParam()); }
    void TearDown() override { platform::setProcessorCountOverride(0); }
};

// Counts live objects; each remembers that it was constructed.
std::atomic<long> g_live{0};
struct Counted {
    Counted() noexcept { g_live.fetch_add(1, std::memory_order_relaxed); }
    ~Counted() { g_live.fetch_sub(1, std::memory_order_relaxed); }
    std::uint32_t marker = 0x5eed;
    std::uint32_t pad[7] = {};
};

} // namespace

TEST_P(FirstTouch, FillReachesEveryElementOnceAndNothingBeyond)
{
    // Sizes around the per-thread share (4 MB of ints), odd extents, and a lower corner off 0.
    for (int rows : {1, 1023, 1025, 4099}) {
        const int cols = 1031;
        blitz::Array<std::int32_t, 2> guarded(rows + 2, cols);
        guarded = -5;
        blitz::Array<std::int32_t, 2> inside = guarded(blitz::Range(1, rows), blitz::Range::all());
        inside.reindexSelf(blitz::TinyVector<int, 2>(-3, 7));
        corvath::utility::fillInSlices(inside, 42);
        EXPECT_EQ(blitz::count(inside == 42), inside.numElements()) << rows;
        EXPECT_EQ(blitz::count(guarded(0, blitz::Range::all()) == -5), cols) << rows;
        EXPECT_EQ(blitz::count(guarded(rows + 1, blitz::Range::all()) == -5), cols) << rows;
        // Prefaulting keeps what the elements hold.
        corvath::utility::prefault(inside);
        EXPECT_EQ(blitz::count(inside == 42), inside.numElements()) << rows;
    }
    // A view that is not one block of storage is filled as Blitz would.
    blitz::Array<std::int32_t, 2> a(300, 200);
    a = 1;
    blitz::Array<std::int32_t, 2> columns = a(blitz::Range::all(), blitz::Range(10, 19));
    corvath::utility::fillInSlices(columns, 9);
    EXPECT_EQ(blitz::count(a == 9), 300 * 10);
    EXPECT_EQ(blitz::count(a == 1), 300 * 190);
}

TEST_P(FirstTouch, SlicedStorageConstructsAndDestroysEveryElementOnce)
{
    {
        corvath::utility::SlicedStorage<Counted> storage;
        blitz::Array<Counted, 2> a;
        // Past several threads' shares (32 bytes each), then smaller, then empty.
        const Rect big{-2, 5, 1200, 1004};
        storage.fit(a, big);
        EXPECT_EQ(corvath::utility::domainOf(a), big);
        EXPECT_EQ(g_live.load(), long(a.numElements()));
        long marked = 0;
        for (int x = big.x1; x <= big.x2; ++x)
            for (int y = big.y1; y <= big.y2; ++y)
                marked += a(x, y).marker == 0x5eed;
        EXPECT_EQ(marked, long(a.numElements()));
        // Storage order as a Blitz array's: rows of contiguous columns.
        EXPECT_EQ(&a(big.x1 + 1, big.y1) - &a(big.x1, big.y1), std::ptrdiff_t(1000));

        storage.fit(a, Rect{0, 0, 2, 3});
        EXPECT_EQ(g_live.load(), 12);
        storage.fit(a, Rect{0, 0, -1, -1});
        EXPECT_EQ(a.numElements(), 0);
        EXPECT_EQ(g_live.load(), 0);
        storage.fit(a, Rect{0, 0, 9, 9});
    }
    EXPECT_EQ(g_live.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Threads, FirstTouch, ::testing::Values(1u, 3u, 8u));
