#include "analysis/segmentation.h"
#include "platform/clock.h"
#include "sixchannel.h"
#include "testimage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace classification;
using Seg = Segmentation<6, 0>;

namespace {

// The settings a session starts with: cells of 3 pixels, 4 colour bits.
void setHead(Seg& s, float imageTol = 2.02792f, int edgeWidth = 2)
{
    SegmentationState& h = s.head();
    h.colourBits = 4;
    h.interpolation = 0;
    h.resolution = 3;
    h.overlap = 1;
    h.histogramLevel = 4;
    h.featureTol = 1.1f;
    h.imageTol = imageTol;
    h.focus = 0.f;
    h.spareC = 0.f;
    h.inFocusEdgeWidth = edgeWidth;
}

struct Report {
    float fraction;
    std::string text;
};

// Records every report; the n-th (from 1) runs fail.
struct Reporter : corvath::utility::IiUI {
    std::vector<Report> reports;
    int failAt = 0;
    std::function<void()> fail;
    void progress(float f, const std::string& text) override
    {
        reports.push_back({f, text});
        if (int(reports.size()) == failAt)
            fail();
    }
    // Reports strictly inside (lo, hi]: a stage that recomputes reports inside its share.
    int within(float lo, float hi) const
    {
        return int(std::count_if(reports.begin(), reports.end(),
                                 [&](const Report& r) { return r.fraction > lo + 1e-6f && r.fraction <= hi + 1e-6f; }));
    }
};

Seg::Image fromRgba(const testsupport::RgbaImage8& rgba)
{
    Seg::Image img;
    img.reference(testsupport::sixChannelImage(rgba));
    return img;
}

// 1 inside a disk, 2 inside a square, 0 on the background.
int objectAt(int x, int y, int rows, int cols)
{
    const double dx = x - rows * 0.3, dy = y - cols * 0.3, r = rows * 0.2;
    if (dx * dx + dy * dy <= r * r)
        return 1;
    if (x >= rows * 0.55 && x <= rows * 0.85 && y >= cols * 0.55 && y <= cols * 0.85)
        return 2;
    return 0;
}

// The same object (or the background) all around (x, y) within d pixels.
int deepObjectAt(int x, int y, int rows, int cols, int d)
{
    const int o = objectAt(x, y, rows, cols);
    for (int dx = -d; dx <= d; dx += d)
        for (int dy = -d; dy <= d; dy += d)
            if (objectAt(x + dx, y + dy, rows, cols) != o)
                return -1;
    return o;
}

// Two objects (a red disk and a blue square) on a green textured background, with noise.
testsupport::RgbaImage8 twoObjects(int rows, int cols, unsigned seed = 7)
{
    testsupport::RgbaImage8 img;
    img.width = cols;
    img.height = rows;
    img.samples.assign(std::size_t(rows) * cols * 4, 255);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (int x = 0; x < rows; ++x)
        for (int y = 0; y < cols; ++y) {
            std::uint8_t* p = img.row(x) + 4 * y;
            int r = 70, g = 150 + ((x / 4 + y / 4) % 2) * 25, b = 60;  // a checked texture
            if (objectAt(x, y, rows, cols) == 1) {
                r = 210;
                g = 40;
                b = 40;
            } else if (objectAt(x, y, rows, cols) == 2) {
                r = 40;
                g = 50;
                b = 200;
            }
            p[0] = std::uint8_t(std::clamp(r + noise(rng), 0, 255));
            p[1] = std::uint8_t(std::clamp(g + noise(rng), 0, 255));
            p[2] = std::uint8_t(std::clamp(b + noise(rng), 0, 255));
        }
    return img;
}

} // namespace

namespace {

struct ThreadCount : ::testing::Test {
    void TearDown() override { platform::setProcessorCountOverride(0); }
};

// Stages 1 and 2, so that the gradient stage has modes to read.
void firstStages(Seg& s)
{
    s.updateHistograms(false, ProgressRange());
    s.watershedFirstAllChannels(true, ProgressRange());
}

bool sameGradient(const Seg::GradientImage& a, const Seg::GradientImage& b)
{
    if (corvath::utility::domainOf(a) != corvath::utility::domainOf(b))
        return false;
    for (int x = a.lbound(0); x <= a.ubound(0); ++x)
        for (int y = a.lbound(1); y <= a.ubound(1); ++y)
            for (int k = 0; k < 3; ++k)
                if (a(x, y)[k] != b(x, y)[k])
                    return false;
    return true;
}

bool allWidthBytesZero(const Seg& s)
{
    for (const auto& e : s.gradient())
        if (e[2] != 0)
            return false;
    return true;
}

bool allGradientBytesZero(const Seg& s)
{
    for (const auto& e : s.gradient())
        if (e[0] != 0 || e[1] != 0 || e[2] != 0)
            return false;
    return true;
}

const testsupport::RgbaImage8& photo()
{
    static const testsupport::RgbaImage8 img = testsupport::loadRgba8("chelsea.png");
    return img;
}

// A piece of the photograph.
testsupport::RgbaImage8 photoCrop(int rows, int cols)
{
    testsupport::RgbaImage8 out;
    out.width = cols;
    out.height = rows;
    out.samples.resize(std::size_t(rows) * cols * 4);
    for (int x = 0; x < rows; ++x)
        std::copy_n(photo().row(x), cols * 4, out.row(x));
    return out;
}

// Width bytes of cells with (lower) and without (upper) the tightest split, as the stage
// scales them.
std::pair<int, int> widthByteBounds(const SegmentationState& h)
{
    const long long n = (2LL * h.overlap + 1) * h.resolution;
    const long long lower = 1024LL * h.inFocusEdgeWidth * n;
    const long long upper = std::min(261120LL * n, 4096LL * h.inFocusEdgeWidth * n);
    const int t = int(std::ceil(double(float(1024 * n) * 0.0068709636f)));
    return {int(float(lower / t) / 145.54f + 0.5f), int(float(upper / t) / 145.54f + 0.5f)};
}

} // namespace

// Gradient stage

TEST(GradientStage, WithoutAnUpstreamChangeItOnlyFitsTheArrayToTheBounds)
{
    Seg s;
    setHead(s);
    s.attachImage(fromRgba(photoCrop(20, 30)));
    EXPECT_FALSE(s.updateGradients(false, ProgressRange()));
    EXPECT_EQ(corvath::utility::domainOf(s.gradient()), (Rect{-2, -2, 21, 31}));
    EXPECT_EQ(corvath::utility::domainOf(s.gradientView()), (Rect{0, 0, 19, 29}));
}

TEST(GradientStage, ImagesOnePixelThinGiveScaleOneAndZeroBytes)
{
    for (const auto& [rows, cols] : {std::pair{1, 40}, std::pair{40, 1}}) {
        Seg s;
        setHead(s);
        s.attachImage(fromRgba(photoCrop(rows, cols)));
        firstStages(s);
        EXPECT_TRUE(s.updateGradients(true, ProgressRange()));
        EXPECT_EQ(s.gradientScale(), 1.0f);
        EXPECT_TRUE(allGradientBytesZero(s)) << rows << " x " << cols;
    }
}

// A block within one mode of every channel scores that mode's peak at both ends; a block
// that crosses valleys scores no more at the valleys than at the peaks.
TEST(GradientStage, ValleySumsNeverFallBelowPeakSums)
{
    Seg s;
    setHead(s);
    s.attachImage(fromRgba(photoCrop(30, 40)));
    firstStages(s);
    const Rect d = corvath::utility::domainOf(s.histograms());
    int crossing = 0;
    for (int i = d.x1; i <= d.x2; ++i)
        for (int j = d.y1; j <= d.y2; ++j) {
            const auto& cell = s.histograms()(i, j);
            float single = 0.f;
            for (int c = 0; c < 6; ++c) {
                const ModeRecord& m = s.modes(c)[std::size_t(cell[c].firstRecord)];
                single += 1.f / (float(m.peakCount) * float(m.peakCount));
            }
            const unsigned char zero[6] = {0, 0, 0, 0, 0, 0};
            const LevelPair p = s.inverseCountSums({i, j}, zero, zero);
            EXPECT_EQ(p.peak, single);
            EXPECT_EQ(p.valley, single);
            for (int lo = 0; lo < 256; lo += 37) {
                const unsigned char l[6] = {(unsigned char)lo, (unsigned char)lo, (unsigned char)lo,
                                            (unsigned char)lo, (unsigned char)lo, (unsigned char)lo};
                const unsigned char h[6] = {255, 255, 255, 255, 255, 255};
                const LevelPair q = s.inverseCountSums({i, j}, l, h);
                ASSERT_GE(q.valley, q.peak);
                crossing += q.valley > q.peak;
            }
        }
    EXPECT_GT(crossing, 0) << "some ranges cross a valley";
}

// The per-row tables give the very sums of the scan over the modes, for blocks within one mode
// and across valleys, also where a channel has more modes than a table indexes (fine colour
// bins on a noisy image).
TEST(GradientStage, TableLookupsMatchTheScanBitForBit)
{
    for (const int bits : {4, 8}) {
        Seg s;
        setHead(s);
        s.head().colourBits = bits;
        s.head().resolution = bits == 8 ? 12 : 3;
        testsupport::RgbaImage8 noisy = photoCrop(36, 48);
        std::uint32_t seed = 12345;
        for (unsigned char& v : noisy.samples) {
            seed = seed * 1664525u + 1013904223u;
            v = static_cast<unsigned char>(std::clamp(int(v) + int(seed >> 27) - 16, 0, 255));
        }
        s.attachImage(fromRgba(bits == 8 ? noisy : photoCrop(36, 48)));
        firstStages(s);
        const Rect d = corvath::utility::domainOf(s.histograms());
        int crossing = 0, manyModes = 0;
        for (int i = d.x1; i <= d.x2; ++i)
            for (int j = d.y1; j <= d.y2; ++j) {
                for (int c = 0; c < 6; ++c) {
                    const auto& h = s.histograms()(i, j)[c];
                    int modes = 1;
                    while (s.modes(c)[std::size_t(h.firstRecord + modes - 1)].valleyBin < (255 >> h.shift()))
                        ++modes;
                    manyModes += modes > 16;
                }
                for (int lo = 0; lo < 256; lo += 15)
                    for (int span = 0; lo + span < 256; span += 9) {
                        unsigned char l[6], h[6];
                        for (int c = 0; c < 6; ++c) {
                            l[c] = static_cast<unsigned char>(std::max(0, lo - 11 * c));
                            h[c] = static_cast<unsigned char>(lo + span);
                        }
                        const LevelPair want = s.inverseCountSums({i, j}, l, h);
                        const LevelPair got = s.tableCountSums({i, j}, l, h);
                        ASSERT_EQ(std::memcmp(&want, &got, sizeof want), 0)
                            << bits << " bits, cell " << i << "," << j << ", lo " << lo << ", span " << span;
                        crossing += want.valley != want.peak;
                    }
            }
        EXPECT_GT(crossing, 0) << bits << " bits";
        if (bits == 8) {
            EXPECT_GT(manyModes, 0) << "some channel of some cell has more than 16 modes";
        }
    }
}

TEST_F(ThreadCount, GradientBandsAreReportedInHandOutOrder)
{
    platform::setProcessorCountOverride(8);
    for (const auto& [rows, fractions] :
         {std::pair{201, std::vector<float>{0.f, 0.32f, 0.64f, 0.96f}},
          std::pair{129, std::vector<float>{0.f, 0.5f, 1.f}}}) {
        Seg s;
        setHead(s);
        s.attachImage(fromRgba(testsupport::syntheticPhoto(100, rows)));
        firstStages(s);
        Reporter r;
        s.updateGradients(true, ProgressRange(&r, 0.f, 1.f));
        std::vector<float> expected{0.1f};
        for (float f : fractions)
            expected.push_back(0.1f + 0.5f * f);
        expected.push_back(0.8f);
        expected.push_back(0.9f);
        ASSERT_EQ(r.reports.size(), expected.size()) << rows << " rows";
        for (std::size_t k = 0; k < expected.size(); ++k)
            EXPECT_NEAR(r.reports[k].fraction, expected[k], 1e-5f) << rows << " rows, report " << k;
        EXPECT_NE(r.reports[0].text.find("After array creation"), std::string::npos);
    }
}

TEST_F(ThreadCount, OneThreadAndEightAgreeAndLowerHeightsNeverExceedUpper)
{
    // Bands of 64 rows: 150 rows puts a seam inside the image.
    const Seg::Image image = fromRgba(photoCrop(150, 170));
    Seg one, eight;
    for (Seg* s : {&one, &eight}) {
        setHead(*s);
        s->attachImage(image);
        firstStages(*s);
    }
    platform::setProcessorCountOverride(1);
    one.updateGradients(true, ProgressRange());
    platform::setProcessorCountOverride(8);
    eight.updateGradients(true, ProgressRange());

    EXPECT_EQ(one.gradientScale(), eight.gradientScale());
    EXPECT_GT(one.gradientScale(), 0.f);
    EXPECT_TRUE(allWidthBytesZero(one)) << "new memory starts at 0";
    ASSERT_TRUE(sameGradient(one.gradient(), eight.gradient()));

    const auto& g = one.gradient();
    int distinctUpper = 0;
    std::set<int> uppers;
    for (int x = g.lbound(0); x <= g.ubound(0); ++x)
        for (int y = g.lbound(1); y <= g.ubound(1); ++y) {
            ASSERT_LE(g(x, y)[1], g(x, y)[0]) << x << ", " << y;
            uppers.insert(g(x, y)[0]);
        }
    distinctUpper = int(uppers.size());
    EXPECT_GT(distinctUpper, 20) << "a photograph spans many heights";
    // The margin and the first row and column copy the nearest pixel with four corners.
    for (int y = 1; y <= 168; ++y) {
        EXPECT_EQ(g(-2, y)[0], g(1, y)[0]);
        EXPECT_EQ(g(0, y)[1], g(1, y)[1]);
        EXPECT_EQ(g(151, y)[1], g(148, y)[1]);
    }
    EXPECT_EQ(g(-2, -2)[0], g(1, 1)[0]);
    EXPECT_EQ(g(151, 171)[1], g(148, 168)[1]);
}

// An empty valley makes a level infinite or undefined; it must not decide the scale.
TEST(GradientStage, LevelsThatAreNotFiniteArePassedOverByTheScale)
{
    blitz::Array<LevelPair, 2> levels(2, 3);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    levels(0, 0) = {4.f, 2.f};
    levels(0, 1) = {6.f, 3.f};
    levels(0, 2) = {5.f, -inf};
    levels(1, 0) = {3.f, nan};
    levels(1, 1) = {inf, 2.5f};
    levels(1, 2) = {6.f, 6.f};
    blitz::Array<blitz::TinyVector<unsigned char, 3>, 2> g(blitz::Range(-2, 3), blitz::Range(-2, 4));
    g = blitz::TinyVector<unsigned char, 3>(9, 9, 9);
    const float scale = scaleLevelField(levels, g);
    EXPECT_FLOAT_EQ(scale, 255.99f / 4.f);  // finite levels span 2 .. 6
    EXPECT_EQ(int(g(0, 0)[0]), int((4.f - 2.f) * scale + 0.005f));
    EXPECT_EQ(int(g(0, 0)[1]), 0);
    EXPECT_EQ(int(g(0, 1)[0]), 255);
    EXPECT_EQ(int(g(0, 2)[1]), 0) << "minus infinity is the lowest height";
    EXPECT_EQ(int(g(1, 0)[1]), 0);
    EXPECT_EQ(int(g(1, 1)[0]), 0);
    EXPECT_EQ(int(g(1, 2)[1]), 255);
    EXPECT_EQ(int(g(-1, 0)[0]), 9) << "only the level field's elements are written";
    EXPECT_EQ(int(g(0, 0)[2]), 9);

    // All equal: scale 1 and every byte 0.
    levels = LevelPair{1.5f, 1.5f};
    EXPECT_EQ(scaleLevelField(levels, g), 1.f);
    EXPECT_EQ(int(g(1, 2)[0]), 0);
}

// Width map stage

TEST(WidthMap, ChamferLimitsTheRiseAwayFromALowPixel)
{
    blitz::Array<int, 2> field(blitz::Range(9, 31), blitz::Range(-4, 20));
    field = 100000;
    field(20, 8) = 5;
    const Rect r{10, -3, 30, 19};
    Reporter rep;
    chamferForward(r, field, ProgressRange(&rep, 0.f, 0.5f));
    chamferBackward(r, field, ProgressRange(&rep, 0.5f, 1.f));
    for (int x = r.x1; x <= r.x2; ++x)
        for (int y = r.y1; y <= r.y2; ++y) {
            const int dx = std::abs(x - 20), dy = std::abs(y - 8);
            const int expected = 5 + 99 * std::min(dx, dy) + 70 * (std::max(dx, dy) - std::min(dx, dy));
            ASSERT_EQ(field(x, y), expected) << x << ", " << y;
        }
    EXPECT_EQ(field(9, 8), 100000) << "the frame is read, never written";
    // Rows 10 .. 30 hold no multiple of 512 but for none: no reports.
    EXPECT_TRUE(rep.reports.empty());

    blitz::Array<int, 2> big(blitz::Range(-1, 1100), blitz::Range(-1, 3));
    big = 7;
    chamferForward({0, 0, 1099, 2}, big, ProgressRange(&rep, 0.f, 0.5f));
    chamferBackward({0, 0, 1099, 2}, big, ProgressRange(&rep, 0.5f, 1.f));
    ASSERT_EQ(rep.reports.size(), 6u);
    EXPECT_FLOAT_EQ(rep.reports[0].fraction, 0.f);
    EXPECT_FLOAT_EQ(rep.reports[1].fraction, 0.5f * 512.f / 1100.f);
    EXPECT_FLOAT_EQ(rep.reports[5].fraction, 0.5f + 0.5f * 1099.f / 1100.f);
}

TEST(WidthMap, CellsWithoutSplitsGiveTheUpperClampEverywhere)
{
    testsupport::RgbaImage8 flat;
    flat.width = 31;
    flat.height = 23;
    flat.samples.assign(31 * 23 * 4, 90);
    Seg s;
    setHead(s);
    s.attachImage(fromRgba(flat));
    firstStages(s);
    s.updateGradients(true, ProgressRange());
    EXPECT_TRUE(s.computeWidthMap(true, ProgressRange()));
    // n = 9, U = 73728, T = 64: 1152 per pixel, byte 8, margin included.
    for (const auto& e : s.gradient())
        ASSERT_EQ(int(e[2]), 8);
    EXPECT_EQ(corvath::utility::domainOf(s.widthMap()), (Rect{0, 0, 22, 30}));
}

TEST(WidthMap, BytesLieBetweenTheClampsAndTheMarginCopiesTheEdge)
{
    for (int edgeWidth : {2, 32}) {
        Seg s;
        setHead(s, 2.02792f, edgeWidth);
        s.attachImage(fromRgba(photoCrop(90, 120)));
        firstStages(s);
        s.updateGradients(true, ProgressRange());
        s.computeWidthMap(true, ProgressRange());
        const auto [lo, hi] = widthByteBounds(s.head());
        if (edgeWidth == 32) {
            EXPECT_EQ(lo, 32);
            EXPECT_EQ(hi, 127);
        }
        const auto& w = s.widthMap();
        std::set<int> seen;
        for (int x = 0; x < 90; ++x)
            for (int y = 0; y < 120; ++y) {
                ASSERT_GE(int(w(x, y)), lo);
                ASSERT_LE(int(w(x, y)), hi);
                seen.insert(w(x, y));
            }
        EXPECT_GT(seen.size(), 1u) << "the photograph has splits";
        const auto& g = s.gradient();
        for (int y = 0; y < 120; ++y) {
            EXPECT_EQ(g(-2, y)[2], w(0, y));
            EXPECT_EQ(g(91, y)[2], w(89, y));
        }
        EXPECT_EQ(g(-1, 121)[2], w(0, 119));
    }
}

// Inner watershed stage

TEST(InnerWatershed, AToleranceOfOneOrLessSwitchesItOff)
{
    Seg s;
    setHead(s);
    s.attachImage(fromRgba(photoCrop(40, 50)));
    ASSERT_TRUE(s.analyse(ProgressRange()));
    ASSERT_GT(s.fineLabelCount(), 1);
    ASSERT_GT(s.regionLabels().numElements(), 0);

    s.head().imageTol = 1.0f;
    EXPECT_TRUE(s.analyse(ProgressRange()));
    EXPECT_EQ(s.regionLabels().numElements(), 0);
    EXPECT_EQ(s.regionLabelView().numElements(), 0);
    EXPECT_EQ(s.fineLabelCount(), -1);
    EXPECT_FALSE(s.analyse(ProgressRange()));
}

TEST(InnerWatershed, TheBiasIsKeptToAByteBeforeItBecomesAnInt)
{
    EXPECT_EQ(innerWatershedBias(4.f, 10.f), int(std::log(4.f) * 10.f));
    EXPECT_EQ(innerWatershedBias(2.02792f, 3e12f), 255) << "a nearly flat level field";
    EXPECT_EQ(innerWatershedBias(2.f, std::numeric_limits<float>::infinity()), 255);
    EXPECT_EQ(innerWatershedBias(2.f, std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(innerWatershedBias(2.f, 0.f), 0);
}

// The pipeline

namespace {

// Every pixel of the bounds has a label of 1 or more, the ring around them 0.
void expectLabelled(const Seg& s, Seg& mutableSeg)
{
    const Rect b = s.bounds();
    const auto& labels = mutableSeg.regionLabels();
    ASSERT_EQ(corvath::utility::domainOf(labels), corvath::utility::grow(b, 2));
    int largest = 0;
    for (int x = b.x1 - 1; x <= b.x2 + 1; ++x)
        for (int y = b.y1 - 1; y <= b.y2 + 1; ++y) {
            if (b.contains(x, y)) {
                ASSERT_GE(labels(x, y), 1) << x << ", " << y;
                largest = std::max(largest, labels(x, y));
            } else {
                ASSERT_EQ(labels(x, y), 0) << x << ", " << y;
            }
        }
    EXPECT_EQ(mutableSeg.fineLabelCount(), largest + 1);
}

} // namespace

TEST(SegmentationPipeline, APhotographIsLabelledAndASecondRunDoesNothing)
{
    Seg s;
    setHead(s);
    s.attachImage(fromRgba(photo()));
    Reporter r;
    EXPECT_TRUE(s.analyse(ProgressRange(&r, 0.3f, 0.9f)));
    expectLabelled(s, s);
    EXPECT_GT(s.fineLabelCount(), 10);

    const auto [lo, hi] = widthByteBounds(s.head());
    for (const auto& e : s.gradient()) {
        ASSERT_GE(int(e[2]), lo);
        ASSERT_LE(int(e[2]), hi);
    }

    // Progress rises through the stage shares and stays inside the range.
    ASSERT_FALSE(r.reports.empty());
    for (std::size_t k = 1; k < r.reports.size(); ++k)
        ASSERT_LE(r.reports[k - 1].fraction, r.reports[k].fraction) << "report " << k;
    EXPECT_GE(r.reports.front().fraction, 0.3f);
    EXPECT_LE(r.reports.back().fraction, 0.9f);
    EXPECT_NEAR(r.reports.front().fraction, 0.3f + (0.3857143f - 0.3f) / 6.f, 1e-5f);
    EXPECT_GT(r.within(0.5657143f, 0.9f), 0) << "the flood reports";
    for (int c = 0; c < 6; ++c)
        EXPECT_EQ(std::memcmp(&s.channelState(c), &s.head(), sizeof(SegmentationState)), 0);
    EXPECT_EQ(std::memcmp(&s.lastComplete(), &s.head(), sizeof(SegmentationState)), 0);

    const blitz::Array<std::int32_t, 2> before = s.regionLabels().copy();
    EXPECT_FALSE(s.analyse(ProgressRange()));
    EXPECT_TRUE(blitz::all(before == s.regionLabels()));
}

TEST(SegmentationPipeline, ObjectBoundariesSeparateRegions)
{
    const int rows = 160, cols = 200;
    Seg s;
    setHead(s);
    s.attachImage(fromRgba(twoObjects(rows, cols)));
    ASSERT_TRUE(s.analyse(ProgressRange()));
    expectLabelled(s, s);
    // No region reaches from deep inside one object to deep inside another or the background.
    std::map<int, int> ownerOf;
    for (int x = 0; x < rows; ++x)
        for (int y = 0; y < cols; ++y) {
            const int o = deepObjectAt(x, y, rows, cols, 3);
            if (o < 0)
                continue;
            const int l = s.regionLabels()(x, y);
            const auto [it, inserted] = ownerOf.emplace(l, o);
            ASSERT_EQ(it->second, o) << "label " << l << " at " << x << ", " << y;
        }
}

// Which stages rerun, seen in the reports that only a recomputing stage makes inside its share.
TEST(SegmentationPipeline, EachSettingRerunsOnlyTheStagesThatDependOnIt)
{
    Seg s;
    setHead(s);
    s.attachImage(fromRgba(photoCrop(200, 200)));
    ASSERT_TRUE(s.analyse(ProgressRange()));
    const float ends[] = {0.f, 0.14285715f, 0.2857143f, 0.42857143f, 0.44285715f, 1.f};
    const auto reran = [&](int stage, const Reporter& r) { return r.within(ends[stage - 1], ends[stage]) > 0; };

    struct Change {
        std::function<void(SegmentationState&)> apply;
        bool stage2, stage3, stage4, stage5;
    };
    const Change changes[] = {
        {[](SegmentationState& h) { h.imageTol = 3.1f; }, false, false, false, true},
        {[](SegmentationState& h) { h.inFocusEdgeWidth = 5; }, false, false, true, true},
        {[](SegmentationState& h) { h.featureTol = 1.3f; }, true, true, true, true},
    };
    for (const Change& c : changes) {
        c.apply(s.head());
        Reporter r;
        EXPECT_TRUE(s.analyse(ProgressRange(&r, 0.f, 1.f)));
        EXPECT_EQ(reran(2, r), c.stage2);
        EXPECT_EQ(reran(3, r), c.stage3);
        EXPECT_EQ(reran(4, r), c.stage4);
        EXPECT_EQ(reran(5, r), c.stage5);
        expectLabelled(s, s);
    }
}

TEST_F(ThreadCount, LabelsAreTheSameWithOneThreadAndWithEight)
{
    const Seg::Image image = fromRgba(photoCrop(220, 260));
    Seg one, eight;
    platform::setProcessorCountOverride(1);
    setHead(one);
    one.attachImage(image);
    one.analyse(ProgressRange());
    platform::setProcessorCountOverride(8);
    setHead(eight);
    eight.attachImage(image);
    eight.analyse(ProgressRange());
    // The histogram stage spreads its channels over the workers.
    const auto& h1 = one.histograms();
    const auto& h8 = eight.histograms();
    int differing = 0;
    for (int i = h1.lbound(0); i <= h1.ubound(0); ++i)
        for (int j = h1.lbound(1); j <= h1.ubound(1); ++j)
            for (int c = 0; c < 6; ++c) {
                const Histogram1D& a = h1(i, j)[c];
                const Histogram1D& b = h8(i, j)[c];
                differing += !(a.lo() == b.lo() && a.hi() == b.hi() && a.shift() == b.shift()
                               && a.binCount() == b.binCount()
                               && std::equal(a.counts(), a.counts() + a.binCount(), b.counts()));
            }
    EXPECT_EQ(differing, 0);
    EXPECT_TRUE(sameGradient(one.gradient(), eight.gradient()));
    EXPECT_TRUE(blitz::all(one.regionLabels() == eight.regionLabels()));
    EXPECT_EQ(one.fineLabelCount(), eight.fineLabelCount());
}

// A flood with more regions than its packed cells may number starts over on plain labels:
// the same labels and count as the packed flood gives.
TEST(InnerWatershed, RunningOutOfPackedLabelsGivesTheSameRegions)
{
    const Seg::Image image = fromRgba(photoCrop(120, 150));
    Seg packed, plain;
    setHead(packed);
    setHead(plain);
    plain.setPackedLabelLimit(5);
    packed.attachImage(image);
    plain.attachImage(image);
    packed.analyse(ProgressRange());
    plain.analyse(ProgressRange());
    ASSERT_GT(packed.fineLabelCount(), 7);
    EXPECT_TRUE(blitz::all(packed.regionLabels() == plain.regionLabels()));
    EXPECT_EQ(packed.fineLabelCount(), plain.fineLabelCount());
}

namespace {

// FNV-1a over bytes, folded across calls.
struct Digest {
    std::uint64_t h = 1469598103934665603ULL;
    void add(const void* data, std::size_t n)
    {
        const auto* p = static_cast<const unsigned char*>(data);
        for (std::size_t k = 0; k < n; ++k)
            h = (h ^ p[k]) * 1099511628211ULL;
    }
    template <typename T>
    void add(const T& v) { add(&v, sizeof v); }
};

// Everything the pipeline leaves for later steps: histograms, heights, widths, labels.
std::uint64_t pipelineDigest(const Seg& s, Seg& mutableSeg)
{
    Digest d;
    for (const Seg::Cell& cell : s.histograms())
        for (int c = 0; c < 6; ++c) {
            const Histogram1D& h = cell[c];
            d.add(h.lo());
            d.add(h.shift());
            d.add(h.bestSplit);
            d.add(h.counts(), sizeof(int) * std::size_t(h.binCount()));
        }
    for (const auto& e : s.gradient())
        d.add(e.data(), 3);
    for (const std::int32_t l : mutableSeg.regionLabels())
        d.add(l);
    d.add(mutableSeg.fineLabelCount());
    d.add(s.gradientScale());
    return d.h;
}

} // namespace

// The results of a real photograph, pinned byte for byte so that faster code cannot change
// them, with one thread and with eight. The image starts away from (0, 0).
TEST_F(ThreadCount, PipelineResultsArePinnedOnAPhotograph)
{
    const Seg::Image image = testsupport::sixChannelImage(testsupport::loadRgba8("coffee.png"), 5, 7);
    struct Settings {
        int interpolation, overlap, colourBits;
        std::uint64_t digest;
    };
    // 7 bits, as an analysis runs by default: histograms of one value per bin, so the
    // gradient's mode lookup covers every value.
    for (const Settings& k : {Settings{0, 1, 4, 2684860522721864284ULL},
                              Settings{2, 2, 5, 17118276501952909293ULL},
                              Settings{1, 1, 7, 1501287261753018560ULL}}) {
        for (int threads : {1, 8}) {
            platform::setProcessorCountOverride(threads);
            Seg s;
            setHead(s);
            s.head().interpolation = k.interpolation;
            s.head().overlap = k.overlap;
            s.head().colourBits = k.colourBits;
            s.attachImage(image);
            ASSERT_TRUE(s.analyse(ProgressRange()));
            EXPECT_EQ(pipelineDigest(s, s), k.digest)
                << "interpolation " << k.interpolation << ", " << threads << " threads";
        }
    }
}

// A stop answered at report n: on the calling thread as stage 1 starts (1), on the histogram
// worker (3), on a gradient worker (34: stage 1 makes 7 reports, stage 2 24, stage 3 one
// before its bands) and in the flood (-1: the last report).
class PipelineStop : public ::testing::TestWithParam<int> {};

TEST_P(PipelineStop, CancelsAndFailuresResetTheChannelsAndSurfaceUnchanged)
{
    platform::setProcessorCountOverride(4);
    const Seg::Image image = fromRgba(photoCrop(200, 220));
    Seg clean;
    setHead(clean);
    clean.attachImage(image);
    clean.analyse(ProgressRange());

    for (int kind = 0; kind < 3; ++kind) {
        Seg s;
        setHead(s);
        s.attachImage(image);
        Reporter r;
        r.failAt = GetParam() < 0 ? 0 : GetParam();
        r.fail = [kind] {
            if (kind == 0)
                throw DvExCancel();
            if (kind == 1)
                throw std::bad_alloc();
            throw std::logic_error("client broke");
        };
        if (GetParam() < 0) {
            // The flood's first report.
            Reporter count;
            Seg probe;
            setHead(probe);
            probe.attachImage(image);
            probe.analyse(ProgressRange(&count, 0.f, 1.f));
            r.failAt = int(count.reports.size());
        }
        const bool onWorker = GetParam() == 3 || GetParam() == 34;
        try {
            s.analyse(ProgressRange(&r, 0.f, 1.f));
            ADD_FAILURE() << "no exception";
        } catch (const DvExCancel&) {
            EXPECT_EQ(kind, 0);
        } catch (const std::bad_alloc&) {
            EXPECT_EQ(kind, 1);
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(kind, 2);
            EXPECT_TRUE(onWorker) << "a worker's failure only";
            EXPECT_STREQ(e.what(), "Unhandled exception in worker thread.");
        } catch (const std::logic_error& e) {
            EXPECT_EQ(kind, 2);
            EXPECT_FALSE(onWorker) << "a failure on the calling thread passes unchanged";
            EXPECT_STREQ(e.what(), "client broke");
        }
        for (int c = 0; c < 6; ++c)
            EXPECT_EQ(s.channelState(c).colourBits, -1);
        EXPECT_EQ(s.lastComplete().colourBits, -1);

        EXPECT_TRUE(s.analyse(ProgressRange()));
        EXPECT_TRUE(blitz::all(s.regionLabels() == clean.regionLabels()));
    }
}

INSTANTIATE_TEST_SUITE_P(Stage, PipelineStop, ::testing::Values(1, 3, 34, -1));
