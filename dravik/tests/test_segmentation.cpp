#include "analysis/segmentation.h"
#include "testimage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <vector>

using namespace classification;
using Seg = Segmentation<6, 0>;

namespace {

// Six channels from a synthetic photograph: its colours, their inverse and two blends.
Seg::Image sixChannelImage(int rows, int cols, int x0 = 0, int y0 = 0, unsigned seed = 1)
{
    const auto photo = testsupport::syntheticPhoto(cols, rows, seed);
    Seg::Image img(blitz::Range(x0, x0 + rows - 1), blitz::Range(y0, y0 + cols - 1));
    for (int x = 0; x < rows; ++x)
        for (int y = 0; y < cols; ++y) {
            const std::uint8_t* p = photo.row(x) + 4 * y;
            Seg::Pixel& q = img(x0 + x, y0 + y);
            q[0] = p[0];
            q[1] = p[1];
            q[2] = p[2];
            q[3] = 255 - p[0];
            q[4] = (p[0] + p[1]) / 2;
            q[5] = (p[1] + p[2]) / 2;
        }
    return img;
}

void setHead(Seg& s, int colourBits, int interpolation, int resolution, int overlap)
{
    SegmentationState& h = s.head();
    h.colourBits = colourBits;
    h.interpolation = interpolation;
    h.resolution = resolution;
    h.overlap = overlap;
    h.histogramLevel = 4;
    h.featureTol = 1.05f;
}

// Records what reaches it; the n-th report (from 1) runs fail.
struct Reporter : corvath::utility::IiUI {
    std::vector<float> fractions;
    int failAt = 0;
    std::function<void()> fail;
    void progress(float f, const std::string&) override
    {
        fractions.push_back(f);
        if (int(fractions.size()) == failAt)
            fail();
    }
};

bool sameHistogram(const Histogram1D& a, const Histogram1D& b)
{
    return a.lo() == b.lo() && a.hi() == b.hi() && a.shift() == b.shift()
           && a.binCount() == b.binCount()
           && std::equal(a.counts(), a.counts() + a.binCount(), b.counts());
}

// The stage's result for channel c by brute force: every cell's window summed directly,
// the window clamped to the grid, cells whose window would leave the grid copied from the
// nearest cell whose window does not.
blitz::Array<Histogram1D, 2> referenceHistograms(const Seg& s, int c)
{
    const SegmentationState& head = s.head();
    const Rect b = s.bounds();
    const Rect d = cellDomain(b, head.resolution);
    const int res = head.resolution;
    blitz::Array<Histogram1D, 2> block(blitz::Range(d.x1, d.x2), blitz::Range(d.y1, d.y2));
    const ChannelView ch = channelOf<6>(s.image(), c);
    for (int i = d.x1; i <= d.x2; ++i)
        for (int j = d.y1; j <= d.y2; ++j)
            buildBlockHistogram(ch, {std::max(b.x1, i * res), std::max(b.y1, j * res)},
                                {std::min(b.x2, (i + 1) * res), std::min(b.y2, (j + 1) * res)},
                                head.interpolation, head.colourBits, block(i, j));

    const int w1 = std::min(2 * head.overlap + 1, d.x2 - d.x1 + 1);
    const int w2 = std::min(2 * head.overlap + 1, d.y2 - d.y1 + 1);
    blitz::Array<Histogram1D, 2> out(block.shape());
    out.reindexSelf(block.base());
    for (int i = d.x1; i <= d.x2; ++i)
        for (int j = d.y1; j <= d.y2; ++j) {
            const int ci = std::clamp(i, d.x1 + (w1 - 1) / 2, d.x2 - w1 / 2);
            const int cj = std::clamp(j, d.y1 + (w2 - 1) / 2, d.y2 - w2 / 2);
            Histogram1D sum = block(ci - (w1 - 1) / 2, cj - (w2 - 1) / 2), next;
            for (int u = ci - (w1 - 1) / 2; u <= ci + w1 / 2; ++u)
                for (int v = cj - (w2 - 1) / 2; v <= cj + w2 / 2; ++v) {
                    if (u == ci - (w1 - 1) / 2 && v == cj - (w2 - 1) / 2)
                        continue;
                    sumHistograms(sum, block(u, v), head.colourBits, 0, next);
                    std::swap(sum, next);
                }
            for (int k = 0; k < sum.binCount(); ++k)
                sum.counts()[k] >>= sum.shift();
            sum.counts()[0] = std::max(sum.counts()[0], 1);
            sum.counts()[sum.binCount() - 1] = std::max(sum.counts()[sum.binCount() - 1], 1);
            out(i, j) = sum;
        }
    return out;
}

// Counts the cells of every channel that differ from the brute-force reference.
int mismatches(const Seg& s)
{
    int bad = 0;
    const auto& hist = s.histograms();
    for (int c = 0; c < 6; ++c) {
        const auto ref = referenceHistograms(s, c);
        EXPECT_EQ(corvath::utility::domainOf(hist), corvath::utility::domainOf(ref));
        for (int i = ref.lbound(0); i <= ref.ubound(0); ++i)
            for (int j = ref.lbound(1); j <= ref.ubound(1); ++j)
                if (!sameHistogram(hist(i, j)[c], ref(i, j)) && bad++ == 0)
                    ADD_FAILURE() << "first mismatch: channel " << c << ", cell (" << i << ", " << j << ")";
    }
    return bad;
}

struct Geometry {
    int rows, cols, x0, y0;
    int resolution, overlap, interpolation, colourBits;
};

class HistogramWindows : public ::testing::TestWithParam<Geometry> {};

} // namespace

TEST_P(HistogramWindows, MatchBruteForceSumsAndEdgeCopies)
{
    const Geometry g = GetParam();
    Seg s;
    s.attachImage(sixChannelImage(g.rows, g.cols, g.x0, g.y0));
    setHead(s, g.colourBits, g.interpolation, g.resolution, g.overlap);
    EXPECT_TRUE(s.updateHistograms(false, ProgressRange()));
    EXPECT_EQ(mismatches(s), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Stage, HistogramWindows,
    ::testing::Values(Geometry{40, 32, 0, 0, 4, 2, 0, 4},   // 10 x 8 cells, windows of 5
                      Geometry{16, 37, 0, 0, 4, 2, 1, 4},   // 4 cells along x: an even window
                      Geometry{23, 29, 5, 7, 3, 1, 2, 3},   // bounds off the origin
                      Geometry{30, 30, 0, 0, 5, 0, 3, 4},   // one-cell windows
                      Geometry{45, 26, 0, 0, 4, 3, 0, 8},   // one bin per value
                      Geometry{9, 40, 0, 0, 8, 1, 2, 0},    // two cells along x, few bins
                      Geometry{1, 12, 0, 0, 4, 1, 0, 4},    // one pixel high: empty blocks
                      // Bands of 128 rows: the last, of two rows, lies wholly beyond the
                      // summed cells.
                      Geometry{130, 64, 0, 0, 1, 2, 0, 4}));

TEST(HistogramStage, EdgeCellsCopyTheNearestFullyCoveredCell)
{
    Seg s;
    s.attachImage(sixChannelImage(40, 32));  // resolution 4: cells 0..9 x 0..7
    setHead(s, 4, 0, 4, 2);                   // windows of 5: fully covered {2, 2, 7, 5}
    s.updateHistograms(false, ProgressRange());
    const auto& h = s.histograms();
    for (int c = 0; c < 6; ++c) {
        EXPECT_TRUE(sameHistogram(h(0, 3)[c], h(2, 3)[c]));
        EXPECT_TRUE(sameHistogram(h(1, 3)[c], h(2, 3)[c]));
        EXPECT_TRUE(sameHistogram(h(9, 0)[c], h(7, 2)[c]));
        EXPECT_FALSE(sameHistogram(h(3, 3)[c], h(2, 3)[c]));
        for (int i = 0; i <= 9; ++i)
            for (int j = 0; j <= 7; ++j) {
                const Histogram1D& cell = h(i, j)[c];
                EXPECT_GE(cell.counts()[0], 1);
                EXPECT_GE(cell.counts()[cell.binCount() - 1], 1);
            }
    }
}

TEST(HistogramStage, UnchangedSettingsRecomputeNothingButReportEveryChannel)
{
    Seg s;
    s.attachImage(sixChannelImage(24, 24));
    setHead(s, 4, 0, 4, 1);
    Reporter first;
    EXPECT_TRUE(s.updateHistograms(false, ProgressRange(&first, 0.f, 1.f)));
    s.storeChannelStates();
    const blitz::Array<Seg::Cell, 2> before = s.histograms().copy();

    Reporter second;
    EXPECT_FALSE(s.updateHistograms(false, ProgressRange(&second, 0.3f, 0.9f)));
    ASSERT_EQ(second.fractions.size(), 7u);
    for (int k = 0; k < 6; ++k) {
        const float f = std::min(1.0f, float(k + 1) * 0.16666667f);
        EXPECT_FLOAT_EQ(second.fractions[k], (1.f - f) * 0.3f + f * 0.9f);
    }
    EXPECT_FLOAT_EQ(second.fractions[6], 0.9f);  // the end of the stage's range
    ASSERT_EQ(first.fractions.size(), 7u);
    EXPECT_FLOAT_EQ(first.fractions.back(), 1.0f);
    for (int i = before.lbound(0); i <= before.ubound(0); ++i)
        for (int j = before.lbound(1); j <= before.ubound(1); ++j)
            for (int c = 0; c < 6; ++c)
                EXPECT_TRUE(sameHistogram(before(i, j)[c], s.histograms()(i, j)[c]));
}

TEST(HistogramStage, SettingsDecideWhichChannelsRebuild)
{
    Seg s;
    s.attachImage(sixChannelImage(24, 32));
    setHead(s, 4, 0, 4, 1);
    s.updateHistograms(false, ProgressRange());
    s.storeChannelStates();

    s.head().featureTol = 1.5f;  // read by the mode split only
    s.head().histogramLevel = 7;  // a level above 2 keeps the histograms
    EXPECT_FALSE(s.updateHistograms(false, ProgressRange()));

    s.head().colourBits = 3;
    EXPECT_TRUE(s.updateHistograms(false, ProgressRange()));
    EXPECT_EQ(mismatches(s), 0);
    s.storeChannelStates();

    s.head().overlap = 2;
    EXPECT_TRUE(s.updateHistograms(false, ProgressRange()));
    EXPECT_EQ(mismatches(s), 0);
    s.storeChannelStates();

    s.attachImage(sixChannelImage(24, 32, 0, 0, 9));  // a new image rebuilds everything
    EXPECT_TRUE(s.updateHistograms(false, ProgressRange()));
    EXPECT_EQ(mismatches(s), 0);
}

TEST(HistogramStage, ArrayIsKeptWhileTheCellGridStaysTheSame)
{
    Seg s;
    setHead(s, 4, 0, 8, 1);
    s.attachImage(sixChannelImage(33, 41));  // cells 0..4 x 0..5
    s.updateHistograms(false, ProgressRange());
    const Seg::Cell* data = s.histograms().data();
    s.attachImage(sixChannelImage(34, 42));  // bounds grow by less than a cell
    s.updateHistograms(false, ProgressRange());
    EXPECT_EQ(s.histograms().data(), data);
    EXPECT_EQ(mismatches(s), 0);
    s.attachImage(sixChannelImage(41, 42));  // one more row of cells
    s.updateHistograms(false, ProgressRange());
    EXPECT_EQ(corvath::utility::domainOf(s.histograms()), (Rect{0, 0, 5, 5}));
    EXPECT_EQ(mismatches(s), 0);
}

TEST(HistogramStage, UnsetSettingsAreRefused)
{
    Seg s;
    s.attachImage(sixChannelImage(8, 8));
    EXPECT_THROW(s.updateHistograms(false, ProgressRange()), std::invalid_argument);
    setHead(s, 4, 0, 0, 1);
    EXPECT_THROW(s.updateHistograms(false, ProgressRange()), std::invalid_argument);
}

TEST(HistogramStage, EmptyImageGivesOneFlatCell)
{
    Seg s;
    setHead(s, 4, 0, 4, 1);
    s.attachImage(Seg::Image());
    EXPECT_TRUE(s.updateHistograms(false, ProgressRange()));
    ASSERT_EQ(s.histograms().numElements(), 1);
    EXPECT_EQ(s.histograms()(0, 0)[3].lo(), 0);
    EXPECT_EQ(s.histograms()(0, 0)[3].hi(), 255);
}

// An abort answered at report n: the first report comes from the calling thread, the others
// from the worker, the seventh after the last channel.
class HistogramAbort : public ::testing::TestWithParam<int> {};

TEST_P(HistogramAbort, ThrowsCancelAndTheNextRunRecomputes)
{
    Seg s;
    s.attachImage(sixChannelImage(20, 28));
    setHead(s, 4, 2, 4, 1);
    s.updateHistograms(false, ProgressRange());
    s.storeChannelStates();
    s.head().colourBits = 5;

    Reporter r;
    r.failAt = GetParam();
    r.fail = [] { throw DvExCancel(); };
    EXPECT_THROW(s.updateHistograms(false, ProgressRange(&r, 0.f, 1.f)), DvExCancel);
    EXPECT_EQ(int(r.fractions.size()), GetParam()) << "no channel is handed out after a cancel";

    s.resetChannelStates();  // as the pipeline does after any failed stage
    EXPECT_TRUE(s.updateHistograms(false, ProgressRange()));
    EXPECT_EQ(mismatches(s), 0);
}

INSTANTIATE_TEST_SUITE_P(Stage, HistogramAbort, ::testing::Values(1, 2, 4, 7));

TEST(HistogramStage, WorkerFailuresBecomeTheFailureTextOrOutOfMemory)
{
    Seg s;
    s.attachImage(sixChannelImage(12, 12));
    setHead(s, 4, 0, 4, 1);
    Reporter r;
    r.failAt = 3;
    r.fail = [] { throw std::runtime_error("boom"); };
    try {
        s.updateHistograms(false, ProgressRange(&r, 0.f, 1.f));
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Unhandled exception in worker thread.");
    }
    EXPECT_EQ(r.fractions.size(), 3u);

    Reporter m;
    m.failAt = 2;
    m.fail = [] { throw std::bad_alloc(); };
    EXPECT_THROW(s.updateHistograms(false, ProgressRange(&m, 0.f, 1.f)), std::bad_alloc);
    EXPECT_TRUE(s.updateHistograms(false, ProgressRange()));  // flags do not outlive a run
}

namespace {

// Stage 1 then stage 2 on a fresh segmentation.
void runBothStages(Seg& s)
{
    s.updateHistograms(false, ProgressRange());
    s.watershedFirstAllChannels(true, ProgressRange());
}

} // namespace

TEST(WatershedFirst, RecordsCoverEveryCellInStorageOrder)
{
    Seg s;
    s.attachImage(sixChannelImage(36, 44));
    setHead(s, 5, 0, 4, 1);
    runBothStages(s);
    const auto& hist = s.histograms();
    for (int c = 0; c < 6; ++c) {
        const auto& list = s.modes(c);
        ASSERT_FALSE(list.empty());
        EXPECT_EQ(list[0].peakBin, 0);
        EXPECT_EQ(list[0].valleyBin, 256);
        EXPECT_EQ(list[0].valleyCount, 0);
        EXPECT_EQ(list[0].peakCount, 1);
        ASSERT_NE(list[0].cell, nullptr);

        int next = 1, splits = 0;
        for (int i = hist.lbound(0); i <= hist.ubound(0); ++i)
            for (int j = hist.lbound(1); j <= hist.ubound(1); ++j) {
                const Histogram1D& h = hist(i, j)[c];
                ASSERT_EQ(h.firstRecord, next);
                ASSERT_GT(h.endRecord, h.firstRecord);
                std::vector<ModeRecord> fresh;
                splitModes(h, s.head().featureTol, fresh);
                ASSERT_EQ(int(fresh.size()), h.endRecord - h.firstRecord);
                for (int k = h.firstRecord; k < h.endRecord; ++k) {
                    const ModeRecord& r = list[k];
                    EXPECT_EQ(r.cell, &h);
                    EXPECT_EQ(r.peakBin, fresh[k - h.firstRecord].peakBin);
                    EXPECT_EQ(r.peakCount, h.count(r.peakBin));
                    if (k == h.endRecord - 1) {
                        EXPECT_EQ(r.valleyBin, 256);
                    } else {
                        EXPECT_EQ(r.valleyBin, fresh[k - h.firstRecord].valleyBin);
                        EXPECT_EQ(r.valleyCount, h.count(r.valleyBin));
                        EXPECT_LT(r.valleyCount, r.lowerPeak);
                    }
                }
                if (h.endRecord - h.firstRecord == 1) {
                    EXPECT_EQ(h.bestSplit, -1);
                } else {
                    EXPECT_GE(h.bestSplit, h.firstRecord);
                    EXPECT_LT(h.bestSplit, h.endRecord - 1);
                    ++splits;
                }
                next = h.endRecord;
            }
        EXPECT_EQ(next, int(list.size()));
        EXPECT_GT(splits, 0) << "the photograph's edges give some cells two modes";
    }
}

TEST(WatershedFirst, RerunsForAnUpstreamChangeOrANewFeatureTolerance)
{
    Seg s;
    s.attachImage(sixChannelImage(24, 24));
    setHead(s, 4, 0, 4, 1);
    runBothStages(s);
    s.storeChannelStates();
    const std::vector<ModeRecord> before = s.modes(2);

    EXPECT_FALSE(s.watershedFirstAllChannels(false, ProgressRange()));
    EXPECT_FALSE(s.watershedFirst(false, 2, ProgressRange()));
    EXPECT_TRUE(s.watershedFirst(true, 2, ProgressRange()));
    EXPECT_EQ(s.modes(2).size(), before.size());

    s.head().featureTol = 2.0f;  // fewer, deeper valleys
    EXPECT_TRUE(s.watershedFirstAllChannels(false, ProgressRange()));
    EXPECT_LT(s.modes(2).size(), before.size());
}

TEST(WatershedFirst, EachChannelReportsWithinItsShare)
{
    Seg s;
    s.attachImage(sixChannelImage(16, 16));
    setHead(s, 4, 0, 4, 1);
    s.updateHistograms(false, ProgressRange());
    Reporter r;
    EXPECT_TRUE(s.watershedFirstAllChannels(true, ProgressRange(&r, 0.f, 1.f)));
    ASSERT_EQ(r.fractions.size(), 24u);
    float start = 0.f;
    for (int c = 0; c < 6; ++c) {
        const float end = float((c + 0.99) / 6);
        EXPECT_FLOAT_EQ(r.fractions[4 * c], 0.75f * start + 0.25f * end);
        EXPECT_FLOAT_EQ(r.fractions[4 * c + 3], end);
        start = end;
    }
}
