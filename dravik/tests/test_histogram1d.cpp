#include "analysis/histogram1d.h"
#include "analysis/segmentation.h"
#include "morphology/convolve.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

using namespace classification;

namespace {

std::vector<int> countsOf(const Histogram1D& h)
{
    return std::vector<int>(h.counts(), h.counts() + h.binCount());
}

// A histogram over bins 0 .. counts.size() - 1 (shift 0) holding the given counts.
Histogram1D withCounts(const std::vector<int>& counts)
{
    Histogram1D h;
    h.setRange(0, int(counts.size()) - 1, 8, 0);
    for (std::size_t k = 0; k < counts.size(); ++k)
        h.count(int(k)) = counts[k];
    return h;
}

// The records of one histogram as the mode split leaves them: peak and valley counts set.
std::vector<ModeRecord> modesOf(const Histogram1D& h, float featureTol, int& best)
{
    std::vector<ModeRecord> records;
    splitModes(h, featureTol, records);
    for (ModeRecord& r : records) {
        r.peakCount = h.count(r.peakBin);
        r.valleyCount = r.valleyBin < 0 ? 0 : h.count(r.valleyBin);
        if (r.valleyBin < 0)
            r.valleyBin = 256;
    }
    best = findBestSplit(records, 0, int(records.size()));
    return records;
}

// A two-by-two image of one channel, x along the first index.
struct TinyChannel {
    unsigned char v[2][2];
    ChannelView view() const { return {&v[0][0], 2, 1, {0, 0, 1, 1}}; }
};

} // namespace

TEST(Histogram1D, DefaultHasOneBinHoldingOne)
{
    const Histogram1D h;
    EXPECT_EQ(h.shift(), 0);
    EXPECT_EQ(h.firstBin(), 0);
    EXPECT_EQ(countsOf(h), std::vector<int>{1});
    EXPECT_EQ(h.firstRecord, 0);
    EXPECT_EQ(h.endRecord, 0);
}

TEST(Histogram1D, SetRangeChoosesPowerOfTwoBins)
{
    Histogram1D h;
    h.setRange(10, 200, 4, 0);  // d = 190, exponent 7
    EXPECT_EQ(h.shift(), 4);
    EXPECT_EQ(h.firstBin(), 0);
    EXPECT_EQ(h.lastBin(), 12);
    EXPECT_EQ(countsOf(h), std::vector<int>(13, 0));

    h.setRange(77, 77, 0, 0);  // d taken as 1: shift 1 - colour bits
    EXPECT_EQ(h.shift(), 1);
    EXPECT_EQ(h.binCount(), 1);
    h.setRange(77, 77, 4, 0);
    EXPECT_EQ(h.shift(), 0);

    h.setRange(3, 5, 8, 2);  // never finer than the minimum shift
    EXPECT_EQ(h.shift(), 2);
    EXPECT_EQ(h.firstBin(), 0);
    EXPECT_EQ(h.lastBin(), 1);

    h.setRange(0, 255, 8, 0);  // widest: one bin per value, beyond the inline storage
    EXPECT_EQ(h.binCount(), 256);
}

TEST(Histogram1D, CopiesAndMovesKeepCountsInlineAndOnTheHeap)
{
    Histogram1D wide;
    wide.setRange(0, 255, 8, 0);
    for (int k = 0; k < 256; ++k)
        wide.count(k) = k;
    Histogram1D narrow = withCounts({4, 5, 6});

    Histogram1D a = wide;
    EXPECT_EQ(countsOf(a), countsOf(wide));
    a = narrow;  // reuses the larger storage
    EXPECT_EQ(countsOf(a), (std::vector<int>{4, 5, 6}));
    Histogram1D b = std::move(a);
    EXPECT_EQ(countsOf(b), (std::vector<int>{4, 5, 6}));
    Histogram1D c = narrow;
    c = std::move(wide);
    EXPECT_EQ(c.binCount(), 256);
    EXPECT_EQ(c.count(200), 200);
    std::vector<Histogram1D> many(3, c);
    many.emplace_back(narrow);
    EXPECT_EQ(many[2].count(255), 255);
    EXPECT_EQ(countsOf(many[3]), (std::vector<int>{4, 5, 6}));
}

TEST(Histogram1D, SumAddsBinWiseOrIntoCoarserBins)
{
    Histogram1D p, q, r;
    p.setRange(0, 3, 4, 0);
    q.setRange(2, 5, 4, 0);
    for (int k = 0; k <= 3; ++k)
        p.count(k) = 1 + k;
    for (int k = 2; k <= 5; ++k)
        q.count(k) = 10 * k;
    sumHistograms(p, q, 4, 0, r);
    EXPECT_EQ(r.lo(), 0);
    EXPECT_EQ(r.hi(), 5);
    EXPECT_EQ(countsOf(r), (std::vector<int>{1, 2, 23, 34, 40, 50}));

    // A wide operand forces coarser bins: q's bins 2..5 fold into bins 0, 0, 1, 1 of shift 2,
    // and the wide operand's own bins carry over as they are.
    Histogram1D wide;
    wide.setRange(0, 40, 4, 0);  // d = 40: shift 2
    ASSERT_EQ(wide.shift(), 2);
    wide.fill(1);
    sumHistograms(wide, q, 4, 0, r);
    EXPECT_EQ(r.shift(), 2);
    std::vector<int> expected(11, 1);
    expected[0] += 20 + 30;
    expected[1] += 40 + 50;
    EXPECT_EQ(countsOf(r), expected);
}

TEST(Histogram1D, SumSaturatesInsteadOfWrapping)
{
    Histogram1D p = withCounts({INT_MAX - 5, 7});
    Histogram1D q = withCounts({10, INT_MAX});
    Histogram1D r;
    sumHistograms(p, q, 8, 0, r);
    EXPECT_EQ(countsOf(r), (std::vector<int>{INT_MAX, INT_MAX}));
    EXPECT_EQ(countsOf(morphology::LineOpHistogramSum{8, 0}(p, q)), countsOf(r));
}

TEST(HistogramBuilders, SpreadWeighsBinsByTheirShareOfTheInterval)
{
    Histogram1D h;
    h.setRange(0, 15, 2, 0);  // shift 2: bins 0..3 of four values
    ASSERT_EQ(h.shift(), 2);
    spreadInterval(h, 5, 14, 1024);  // w = 4096 / 9 = 455
    EXPECT_EQ(countsOf(h), (std::vector<int>{0, 341, 455, 341}));

    h.fill(0);
    spreadInterval(h, 9, 9, 1024);  // a single value: the whole total
    EXPECT_EQ(countsOf(h), (std::vector<int>{0, 0, 1024, 0}));
    h.fill(0);
    spreadInterval(h, 8, 9, 512);  // d taken as 1, two values in one bin
    EXPECT_EQ(countsOf(h), (std::vector<int>{0, 0, 1024, 0}));
}

// One 2 x 2 block with the values 10, 20 (second index) over 30, 40: range 10..40 in bins of
// two values (5..20), each builder by hand.
TEST(HistogramBuilders, EachInterpolationOnOneBlock)
{
    const TinyChannel ch{{{10, 20}, {30, 40}}};
    Histogram1D h;
    std::vector<int> e(16);

    buildBlockHistogram(ch.view(), {0, 0}, {1, 1}, 0, 4, h);  // range: spread(10, 40, 1024)
    ASSERT_EQ(h.shift(), 1);
    ASSERT_EQ(h.firstBin(), 5);
    ASSERT_EQ(h.lastBin(), 20);
    std::fill(e.begin(), e.end(), 68);
    e[15] = 34;
    EXPECT_EQ(countsOf(h), e);

    buildBlockHistogram(ch.view(), {0, 0}, {1, 1}, 1, 4, h);  // range fast: 1024 / 15 each
    EXPECT_EQ(countsOf(h), std::vector<int>(16, 68));

    buildBlockHistogram(ch.view(), {0, 0}, {1, 1}, 2, 4, h);  // median: 10..25 and 25..40
    std::fill(e.begin(), e.end(), 68);
    e[12 - 5] = 68 + 34;
    e[15] = 34;
    EXPECT_EQ(countsOf(h), e);

    buildBlockHistogram(ch.view(), {0, 0}, {1, 1}, 3, 4, h);  // median fast: 512 / 7 per bin
    EXPECT_EQ(countsOf(h), std::vector<int>(16, 73));
}

TEST(HistogramBuilders, BlockWithoutPositionsIsFlatOverItsEdgePixels)
{
    const TinyChannel ch{{{10, 20}, {30, 40}}};
    Histogram1D h;
    // Empty along the first index: the range still comes from pixels (1, 0) and (1, 1).
    buildBlockHistogram(ch.view(), {1, 0}, {1, 1}, 0, 4, h);
    EXPECT_EQ(h.lo(), 30);
    EXPECT_EQ(h.hi(), 40);
    EXPECT_EQ(countsOf(h), std::vector<int>(h.binCount(), 1024 / h.binCount()));
    // No pixels at all: the whole byte range, flat.
    buildBlockHistogram(ch.view(), {1, 1}, {0, 0}, 2, 4, h);
    EXPECT_EQ(h.lo(), 0);
    EXPECT_EQ(h.hi(), 255);
    EXPECT_EQ(countsOf(h), std::vector<int>(16, 64));

    Histogram1D untouched = withCounts({9, 9});
    buildBlockHistogram(ch.view(), {0, 0}, {1, 1}, 4, 4, untouched);  // no such builder
    EXPECT_EQ(countsOf(untouched), (std::vector<int>{9, 9}));
}

// The range builder's vector lanes against its portable code: blocks of random bytes whose
// spread gives one bin up to more bins than the lanes take, so every lane count is met and
// the hand-over to the portable code too.
TEST(HistogramBuilders, RangeLanesMatchThePortableBuilder)
{
    if (!useSpreadLanes(true))
        GTEST_SKIP() << "no vector lanes on this processor";
    std::uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 24;
    };
    std::vector<unsigned char> pixels(11 * 11);
    const ChannelView view{pixels.data(), 11, 1, {0, 0, 10, 10}};
    int checked = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const int base = int(next()), spread = 1 + int(next()) % 256;
        for (unsigned char& p : pixels)
            p = static_cast<unsigned char>(std::min(255, base % (257 - spread) + int(next()) % spread));
        const int bits = 1 + trial % 7, side = 1 + trial % 10;
        Histogram1D lanes, portable;
        ASSERT_TRUE(useSpreadLanes(true));
        buildBlockHistogram(view, {0, 0}, {side, side}, 0, bits, lanes);
        ASSERT_TRUE(useSpreadLanes(false));
        buildBlockHistogram(view, {0, 0}, {side, side}, 0, bits, portable);
        useSpreadLanes(true);
        ASSERT_EQ(lanes.shift(), portable.shift());
        ASSERT_EQ(lanes.firstBin(), portable.firstBin());
        ASSERT_EQ(countsOf(lanes), countsOf(portable)) << "trial " << trial;
        checked += lanes.binCount() > 16 ? 1 : 0;
    }
    EXPECT_GT(checked, 0);
}

TEST(ModeSplit, DeepValleySplitsTwoPeaks)
{
    int best = 0;
    const auto r = modesOf(withCounts({10, 2, 10}), 2.f, best);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].peakBin, 0);
    EXPECT_EQ(r[0].valleyBin, 1);
    EXPECT_EQ(r[0].valleyCount, 2);
    EXPECT_EQ(r[1].peakBin, 2);
    EXPECT_EQ(r[1].valleyBin, 256);
    EXPECT_EQ(best, 0);
    EXPECT_EQ(r[0].lowerPeak, 10);
    EXPECT_EQ(r[0].peakDistance, 2);
}

TEST(ModeSplit, ShallowValleyEqualPeaksAndRisingHistogramsGiveOneMode)
{
    int best = 0;
    auto r = modesOf(withCounts({10, 6, 10}), 2.f, best);  // 10 > 12 fails
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].peakBin, 0);  // an equal count does not move the peak
    EXPECT_EQ(best, -1);

    r = modesOf(withCounts({1, 2, 3, 5, 8}), 1.05f, best);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].peakBin, 4);
    EXPECT_EQ(best, -1);

    r = modesOf(withCounts({42}), 1.05f, best);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].peakBin, 0);
    EXPECT_EQ(best, -1);
}

TEST(ModeSplit, ValleyMovesDownBeforeThePeakRisesAgain)
{
    int best = 0;
    // 9 > 4 * 2 starts the valley at bin 1; it moves to 3 and 5 is reached only at bin 5.
    const auto r = modesOf(withCounts({9, 4, 3, 1, 2, 5}), 2.f, best);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].valleyBin, 3);
    EXPECT_EQ(r[1].peakBin, 5);
    EXPECT_EQ(r[0].lowerPeak, 5);
    EXPECT_EQ(r[0].peakDistance, 5);
}

TEST(ModeSplit, LowerPeakLooksBeyondShallowerValleys)
{
    int best = 0;
    // Valleys 1 (count 1) and 3 (count 2): the first valley's right peak is found beyond the
    // second valley, which is shallower than it.
    auto r = modesOf(withCounts({10, 1, 5, 2, 8}), 1.5f, best);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].lowerPeak, 8);
    EXPECT_EQ(r[0].peakDistance, 4);
    EXPECT_EQ(r[1].lowerPeak, 5);
    EXPECT_EQ(r[1].peakDistance, 2);
    EXPECT_EQ(best, 0);  // 8 / 1 beats 5 / 2

    // Mirrored: the second valley's left peak lies beyond the first.
    r = modesOf(withCounts({8, 2, 4, 1, 9}), 1.5f, best);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].lowerPeak, 8);
    EXPECT_EQ(r[0].peakDistance, 4);
    EXPECT_EQ(r[1].lowerPeak, 8);
    EXPECT_EQ(r[1].peakDistance, 4);
    EXPECT_EQ(best, 1);  // 8 / 1 beats 8 / 2
}

TEST(ModeSplit, EmptyValleyWinsAndTheFirstOfEqualRatiosStays)
{
    int best = 0;
    auto r = modesOf(withCounts({6, 0, 6, 3, 9}), 1.5f, best);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(best, 0);  // 6 / 0 is infinite
    r = modesOf(withCounts({6, 2, 6, 2, 6}), 1.5f, best);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(best, 0);
}
