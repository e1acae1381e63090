#include "mask/maskcolours.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace classification;
using corvath::utility::domainOf;

namespace {

using Image8 = blitz::Array<Colour<unsigned char>, 2>;

StatusByteArray statusOver(const Rect& r, unsigned char value)
{
    StatusByteArray s(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2));
    s = value;
    return s;
}

Image8 imageOver(const Rect& r, unsigned seed)
{
    Image8 im(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2));
    std::mt19937 rng(seed);
    for (int i = r.x1; i <= r.x2; ++i)
        for (int j = r.y1; j <= r.y2; ++j)
            im(i, j) = Colour<unsigned char>(rng() % 256, rng() % 256, rng() % 256, 255);
    return im;
}

// The sampler as first written: the window trunc(p/s - 0.5) .. trunc(p/s + 0.5), clipped to the
// level, the first cell weighted 1 - fx.
ColourSumCell literalSample(FloatPair p, const ColourSumPyramid& pyramid)
{
    ColourSumCell result(0.f);
    double s = 2;
    for (const ColourSumLevel& level : pyramid) {
        const Rect lr = domainOf(level.cells);
        const float fx = float(std::fmod(s / 2 + p.x, s) / s), fy = float(std::fmod(s / 2 + p.y, s) / s);
        const int xa = int(p.x / s - 0.5), xb = int(p.x / s + 0.5);
        const int ya = int(p.y / s - 0.5), yb = int(p.y / s + 0.5);
        ColourSumCell c[4] = {ColourSumCell(0.f), ColourSumCell(0.f), ColourSumCell(0.f), ColourSumCell(0.f)};
        const int xs[2] = {xa, xb}, ys[2] = {ya, yb};
        for (int u = 0; u < 2; ++u)
            for (int v = 0; v < 2; ++v)
                if (lr.contains(xs[u], ys[v]) && (u == 0 || xb != xa) && (v == 0 || yb != ya))
                    c[u + 2 * v] = level.cells(xs[u], ys[v]);
        accumulateBilinear(result, c[0], 1 - fx, 1 - fy, c[1], fx, 1 - fy, c[2], 1 - fx, fy, c[3], fx,
                           fy, float(s * s * s * s));
        if (result[3] * float(s * s * s) > 2.0)
            break;
        s *= 2;
    }
    return result;
}

} // namespace

TEST(ColourPyramidSample, EmptyPyramidGivesZeros)
{
    // A class covering the whole rectangle has no border pixel.
    const Rect r{0, 0, 15, 15};
    const ColourSumPyramid p =
        buildBoundaryColourPyramid(statusOver(r, 2), 2, imageOver(r, 1), nullptr, 0.f, 1.f);
    ASSERT_TRUE(p.empty());
    const ColourSumCell c = sampleColourPyramid({5.f, 5.f}, p);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(c[k], 0.f);
}

TEST(ColourPyramidSample, AgreesWithTheLiteralWindowAwayFromTheLowBorder)
{
    const Rect r{0, 0, 127, 127};
    StatusByteArray status = statusOver(r, 4);
    std::mt19937 rng(3);
    for (int b = 0; b < 12; ++b) {
        const int ci = int(rng() % 128), cj = int(rng() % 128), rad = 2 + int(rng() % 9);
        for (int i = std::max(0, ci - rad); i <= std::min(127, ci + rad); ++i)
            for (int j = std::max(0, cj - rad); j <= std::min(127, cj + rad); ++j)
                status(i, j) = 2;
    }
    const ColourSumPyramid p = buildBoundaryColourPyramid(status, 2, imageOver(r, 2), nullptr, 0.f, 1.f);
    ASSERT_EQ(p.size(), 7u);
    // At p / s >= 0.5 on every level (positions 64 and above) both windows are one cell pair.
    for (int t = 0; t < 300; ++t) {
        const FloatPair at{float(64 + rng() % 64), float(64 + rng() % 64)};
        const ColourSumCell want = literalSample(at, p), got = sampleColourPyramid(at, p);
        for (int k = 0; k < 4; ++k)
            ASSERT_EQ(got[k], want[k]) << at.x << "," << at.y;
    }
}

TEST(ColourPyramidSample, LowBorderPairsWithTheCellOutside)
{
    // One Keep pixel at the corner: only cell (0, 0) of each level holds weight.
    const Rect r{0, 0, 7, 7};
    StatusByteArray status = statusOver(r, 4);
    status(0, 0) = 2;
    Image8 image = imageOver(r, 4);
    image(0, 0) = Colour<unsigned char>(40, 80, 120, 255);
    const ColourSumPyramid p = buildBoundaryColourPyramid(status, 2, image, nullptr, 0.f, 1.f);
    ASSERT_EQ(p.size(), 3u);
    // At position 0 every level pairs cell -1 (nothing) with cell 0 at weight 1/2 per axis, so
    // the weights are 1/4 of the cell over s^4, until the weight times s^3 exceeds 2 at s = 8.
    const ColourSumCell c = sampleColourPyramid({0.f, 0.f}, p);
    const float w = 0.25f / 16.f + 0.25f / 256.f + 0.25f / 4096.f;
    EXPECT_FLOAT_EQ(c[3], w);
    EXPECT_FLOAT_EQ(c[0] / c[3], 40.f);
    EXPECT_FLOAT_EQ(c[2] / c[3], 120.f);
    // At position 1 the first level's pair is (0, 1) with cell 0 at full weight.
    const ColourSumCell d = sampleColourPyramid({1.f, 1.f}, p);
    EXPECT_GT(d[3], c[3]);
    EXPECT_FLOAT_EQ(d[0] / d[3], 40.f);
}

TEST(RegionRelaxation, SweepCountFollowsValueE)
{
    EXPECT_EQ(relaxationSweeps(0.f), 1);
    EXPECT_EQ(relaxationSweeps(0.5f), 50);
    EXPECT_EQ(relaxationSweeps(1.f), 100);
    EXPECT_EQ(relaxationSweeps(-0.0101f), 1);
    EXPECT_EQ(relaxationSweeps(-0.0102f), 0);
    EXPECT_EQ(relaxationSweeps(-3.f), 0);
    EXPECT_EQ(relaxationSweeps(7.f), 100);
    EXPECT_EQ(relaxationSweeps(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(relaxationSweeps(std::numeric_limits<float>::infinity()), 100);
}

namespace {

struct RelaxScene {
    blitz::Array<unsigned char, 2> labels{blitz::Range(-1, 5), blitz::Range(-1, 5)};
    blitz::Array<Rgb8, 2> colours{blitz::Range(-1, 5), blitz::Range(-1, 5)};
    RelaxScene()
    {
        labels = RegionOther;
        colours = Rgb8(0, 0, 0);
    }
};

} // namespace

TEST(RegionRelaxation, OverRelaxesTowardsTheNeighbourMean)
{
    RelaxScene s;
    s.labels(2, 2) = RegionToFill;
    s.colours(2, 2) = Rgb8(100, 200, 7);
    for (const IntPair q : {IntPair{1, 2}, IntPair{3, 2}, IntPair{2, 1}, IntPair{2, 3}}) {
        s.labels(q.x, q.y) = RegionSeed;
        s.colours(q.x, q.y) = Rgb8(200, 100, 7);
    }
    relaxRegionColours(s.labels, Rect{0, 0, 4, 4}, s.colours, 1);
    EXPECT_EQ(int(s.colours(2, 2)[0]), 250);
    EXPECT_EQ(int(s.colours(2, 2)[1]), 50);
    EXPECT_EQ(int(s.colours(2, 2)[2]), 7);
    // Seeds never change.
    EXPECT_EQ(int(s.colours(1, 2)[0]), 200);
}

TEST(RegionRelaxation, ClampsAndSeesEarlierWritesOfTheSameSweep)
{
    RelaxScene s;
    // A row of two pixels to fill between seeds: the second sees the first's new value.
    s.labels(2, 1) = RegionSeed;
    s.colours(2, 1) = Rgb8(255, 0, 0);
    s.labels(2, 2) = RegionToFill;
    s.colours(2, 2) = Rgb8(0, 255, 0);
    s.labels(2, 3) = RegionToFill;
    s.colours(2, 3) = Rgb8(0, 0, 0);
    s.labels(2, 4) = RegionSeed;
    s.colours(2, 4) = Rgb8(0, 0, 0);
    relaxRegionColours(s.labels, Rect{0, 0, 4, 4}, s.colours, 1);
    // (2, 2): n = 2, S = (255, 0, 0): 0.5 + 191.25 = 191; 0.5 - 127.5 + 0 < 0 gives 0.
    EXPECT_EQ(int(s.colours(2, 2)[0]), 191);
    EXPECT_EQ(int(s.colours(2, 2)[1]), 0);
    // (2, 3): n = 2, S = (191, 0, 0) from the value just written.
    EXPECT_EQ(int(s.colours(2, 3)[0]), 143);
}

TEST(RegionRelaxation, PixelWithNothingToAverageKeepsItsColour)
{
    RelaxScene s;
    s.labels(2, 2) = RegionToFill;
    s.colours(2, 2) = Rgb8(9, 8, 7);
    s.colours(1, 2) = Rgb8(200, 200, 200);  // labelled RegionOther: does not count
    relaxRegionColours(s.labels, Rect{0, 0, 4, 4}, s.colours, 100);
    EXPECT_EQ(int(s.colours(2, 2)[0]), 9);
    EXPECT_EQ(int(s.colours(1, 2)[0]), 200);
}

TEST(RegionColourFill, NearestSeedColourOverTheGrownView)
{
    const Rect r{10, 20, 29, 49};
    StatusByteArray status = statusOver(r, 4 | 128);
    Image8 image = imageOver(Rect{0, 0, 40, 60}, 6);
    status(12, 22) = 2;
    image(12, 22) = Colour<unsigned char>(10, 20, 30, 255);
    status(27, 47) = 2;
    image(27, 47) = Colour<unsigned char>(200, 210, 220, 255);
    blitz::Array<Rgb8, 2> out;
    maskRegionPass(out, status, 2, -1.f, image, ProgressRange());
    EXPECT_EQ(domainOf(out), (Rect{8, 18, 31, 51}));
    EXPECT_EQ(int(out(14, 25)[0]), 10);
    EXPECT_EQ(int(out(29, 49)[2]), 220);
    EXPECT_EQ(int(out(12, 22)[1]), 20);
    // The Delete class has no seed here: every pixel keeps its own colour.
    blitz::Array<Rgb8, 2> none;
    maskRegionPass(none, statusOver(r, 2 | 128), 4, -1.f, image, ProgressRange());
    EXPECT_EQ(int(none(15, 33)[0]), int(image(15, 33)[0]));
    EXPECT_EQ(int(none(15, 33)[2]), int(image(15, 33)[2]));
}

TEST(RegionColourFill, RelaxesOnlyPendingUndecidedPixels)
{
    const Rect r{0, 0, 9, 9};
    StatusByteArray status = statusOver(r, 1 | 128);
    Image8 image = imageOver(r, 7);
    for (int j = 0; j <= 9; ++j) {
        status(0, j) = 2;
        image(0, j) = Colour<unsigned char>(0, 0, 0, 255);
        status(9, j) = 2;
        image(9, j) = Colour<unsigned char>(250, 250, 250, 255);
    }
    status(5, 5) = 1 | 128 | 64;  // decided: labelled "other", never relaxed
    blitz::Array<Rgb8, 2> once, many;
    maskRegionPass(once, status, 2, -1.f, image, ProgressRange());
    maskRegionPass(many, status, 2, 1.f, image, ProgressRange());
    EXPECT_EQ(int(once(5, 5)[0]), int(many(5, 5)[0]));
    EXPECT_EQ(int(once(0, 3)[0]), 0);
    EXPECT_EQ(int(many(0, 3)[0]), 0);
    EXPECT_EQ(int(many(9, 3)[0]), 250);
    // Unrelaxed, the fill is a hard step between the two seed rows; relaxed, a ramp.
    EXPECT_EQ(int(once(3, 2)[0]), 0);
    EXPECT_GT(int(many(3, 2)[0]), 40);
    EXPECT_LT(int(many(3, 2)[0]), int(many(6, 2)[0]));
}

TEST(RegionColourFill, CancelPassesThrough)
{
    struct Canceller : corvath::utility::IiUI {
        void progress(float, const std::string&) override { throw DvExCancel(); }
    } cancel;
    const Rect r{0, 0, 9, 9};
    blitz::Array<Rgb8, 2> out;
    EXPECT_THROW(maskRegionPass(out, statusOver(r, 2), 2, 0.f, imageOver(r, 1),
                                ProgressRange(&cancel, 0.f, 1.f)),
                 DvExCancel);
}
