#include "matting/palettes.h"

#include "platform/clock.h"
#include "testimage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <string>
#include <vector>

using namespace corvath::matting;

namespace {

using C8 = StoredColour<unsigned char>;
using C16 = StoredColour<unsigned short>;

template <typename T>
ColourCluster<T> clusterOf(const std::vector<StoredColour<T>>& members)
{
    ColourCluster<T> k;
    k.members = members;
    computeStatistics(k);
    return k;
}

// x' S x for a symmetric matrix in rr, gg, bb, rg, gb, rb order.
double quadratic(const Sym3& s, const Vec3& x)
{
    return s[0] * x[0] * x[0] + s[1] * x[1] * x[1] + s[2] * x[2] * x[2] +
           2.0 * (s[3] * x[0] * x[1] + s[4] * x[1] * x[2] + s[5] * x[0] * x[2]);
}

Vec3 times(const Sym3& s, const Vec3& e)
{
    return Vec3(s[0] * e[0] + s[3] * e[1] + s[5] * e[2], s[3] * e[0] + s[1] * e[1] + s[4] * e[2],
                s[5] * e[0] + s[4] * e[1] + s[2] * e[2]);
}

std::vector<C8> group(C8 centre, int n, int spread, std::mt19937& rng)
{
    std::uniform_int_distribution<int> d(-spread, spread);
    std::vector<C8> g;
    for (int i = 0; i < n; ++i)
        g.push_back(C8(std::clamp(centre[0] + d(rng), 0, 255), std::clamp(centre[1] + d(rng), 0, 255),
                       std::clamp(centre[2] + d(rng), 0, 255)));
    return g;
}

struct Recorder : corvath::utility::IiUI {
    std::vector<float> fractions;
    void progress(float f, const std::string&) override { fractions.push_back(f); }
};

// A source of rows x cols pixels of the given colour function, every pixel marked with bit
// 128 and the class returned by `status`.
template <typename T, typename Colours, typename Classes>
void scene(int rows, int cols, Colours colour, Classes cls, blitz::Array<Colour<T>, 2>& source,
           MattingSampler& sampler)
{
    source.resize(rows, cols);
    sampler.status.resize(rows, cols);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            source(i, j) = colour(i, j);
            sampler.status(i, j) = 128 | cls(i, j);
        }
}

} // namespace

TEST(MattingCluster, SixteenBitMomentsAreExact)
{
    const ColourCluster<unsigned short> k = clusterOf<unsigned short>({C16(65535, 65535, 65535)});
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(k.second[i], 65535.0 * 65535.0);
    EXPECT_EQ(k.first[0], 65535.0);
}

TEST(MattingCluster, LargestEigenvalueAndAxis)
{
    // Diagonal, repeated and zero spectra take both closed forms.
    EXPECT_NEAR(largestEigenvalue(Sym3(3, 7, 5, 0, 0, 0)), 7.0, 1e-9);
    EXPECT_NEAR(largestEigenvalue(Sym3(4, 4, 4, 0, 0, 0)), 4.0, 1e-9);
    EXPECT_EQ(largestEigenvalue(Sym3(0.0)), 0.0);

    std::mt19937 rng(5);
    for (int trial = 0; trial < 200; ++trial) {
        const ColourCluster<unsigned char> k = clusterOf(group(C8(120, 100, 80), 12, 60, rng));
        const Sym3 s = clusterScatter(k);
        const Vec3 e = k.axis;
        const double norm = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
        ASSERT_GT(norm, 0.0);
        const Vec3 se = times(s, e);
        for (int c = 0; c < 3; ++c)
            ASSERT_NEAR(se[c], k.lambda * e[c], 1e-6 * k.lambda * norm);
        // No direction spreads more than the principal one.
        for (int probe = 0; probe < 20; ++probe) {
            std::normal_distribution<double> n;
            const Vec3 x(n(rng), n(rng), n(rng));
            ASSERT_LE(quadratic(s, x) / (x[0] * x[0] + x[1] * x[1] + x[2] * x[2]), k.lambda * (1 + 1e-9));
        }
    }
}

TEST(MattingCluster, ClippedChannelStillSplits)
{
    // Red is clipped at 255 throughout: the first adjugate column vanishes.
    std::vector<C8> members;
    for (int i = 0; i < 6; ++i) {
        members.push_back(C8(255, 20 + i, 30));
        members.push_back(C8(255, 200 + i, 210));
    }
    ColourCluster<unsigned char> k = clusterOf(members);
    ColourCluster<unsigned char> other;
    ASSERT_TRUE(splitCluster(k, 50.0, other));
    EXPECT_EQ(k.size(), 6);
    EXPECT_EQ(other.size(), 6);
    EXPECT_LT(k.members[0][1], 100);
    EXPECT_GT(other.members[0][1], 100);
}

TEST(MattingCluster, SplitNeedsTwoSidesFartherApartThanD)
{
    ColourCluster<unsigned char> scratch;
    ColourCluster<unsigned char> same = clusterOf<unsigned char>(std::vector<C8>(9, C8(40, 50, 60)));
    EXPECT_FALSE(splitCluster(same, 0.0, scratch));
    EXPECT_EQ(same.size(), 9);

    std::vector<C8> two;
    for (int i = 0; i < 4; ++i) {
        two.push_back(C8(100, 100, 100));
        two.push_back(C8(130, 140, 100)); // 50 apart
    }
    ColourCluster<unsigned char> near = clusterOf(two);
    EXPECT_FALSE(splitCluster(near, 50.0, scratch));
    EXPECT_EQ(near.size(), 8);
    EXPECT_EQ(scratch.size(), 0);

    ColourCluster<unsigned char> far = clusterOf(two);
    const Sym3 sums = far.second;
    ASSERT_TRUE(splitCluster(far, 49.0, scratch));
    EXPECT_EQ(far.size() + scratch.size(), 8);
    // The kept side's sums are the whole minus the new side's.
    for (int i = 0; i < 6; ++i)
        EXPECT_DOUBLE_EQ(far.second[i] + scratch.second[i], sums[i]);
    ColourCluster<unsigned char> fresh = clusterOf(far.members);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(far.first[i], fresh.first[i], 1e-9);
}

TEST(MattingCluster, SplittingStopsAtTheMaximum)
{
    std::mt19937 rng(11);
    ClusterList<unsigned char> list;
    ColourCluster<unsigned char> scratch;
    list.append().members = group(C8(128, 128, 128), 400, 127, rng);
    computeStatistics(list[0]);
    splitClusters(list, maxClustersPerList, 0.0, scratch);
    EXPECT_EQ(list.size(), maxClustersPerList);
    int total = 0;
    for (int i = 0; i < list.size(); ++i)
        total += list[i].size();
    EXPECT_EQ(total, 400);
}

TEST(MattingCluster, ReductionKeepsOneMeanPerSubCluster)
{
    std::mt19937 rng(3);
    const C8 centres[3] = {C8(20, 30, 40), C8(200, 40, 60), C8(90, 210, 120)};
    std::vector<C8> members;
    std::vector<std::vector<C8>> groups;
    for (const C8& c : centres) {
        groups.push_back(group(c, 7, 3, rng));
        members.insert(members.end(), groups.back().begin(), groups.back().end());
    }
    ColourCluster<unsigned char> k = clusterOf(members), scratch;
    ClusterList<unsigned char> temp;
    reduceCluster(k, maxClustersPerList, 30.0, temp, scratch);
    ASSERT_EQ(k.size(), 3);
    for (const std::vector<C8>& g : groups) {
        const C8 mean = clusterRepresentative(clusterOf(g));
        EXPECT_NE(std::find_if(k.members.begin(), k.members.end(),
                               [&](const C8& m) { return m[0] == mean[0] && m[1] == mean[1] && m[2] == mean[2]; }),
                  k.members.end());
    }
}

TEST(MattingCluster, LikelihoodsAgreeAcrossSampleRanges)
{
    // A cluster and its 16-bit twin (every sample times 257) have the same likelihoods when
    // the singular threshold scales with the sixth power of the range. Three members span
    // only a plane: their scatter is singular in both ranges and gives no likelihood term.
    const std::vector<C8> four = {C8(10, 20, 30), C8(14, 21, 29), C8(12, 26, 35), C8(9, 18, 33)};
    const std::vector<C8> three = {C8(10, 20, 30), C8(13, 21, 29), C8(12, 26, 35)};
    for (const std::vector<C8>& m8 : {four, three}) {
        const int n = int(m8.size());
        std::vector<C16> m16;
        for (const C8& m : m8)
            m16.push_back(C16(m[0] * 257, m[1] * 257, m[2] * 257));
        double l8[4], l16[4];
        EXPECT_EQ(describeMembers(m8.data(), n, 1e-5, l8),
                  describeMembers(m16.data(), n, 1e-5 * std::pow(257.0, 6), l16));
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(l8[i], l16[i], 1e-9);
            if (n == 3) {
                EXPECT_EQ(l16[i], 0.0);
            }
        }
    }
}

TEST(MattingCluster, StoredStatisticsMatchTheClusterOnes)
{
    // What the pyramid stores per member is what the cluster itself would give.
    std::mt19937 rng(17);
    for (int n = 1; n <= 27; n += 2) {
        const ColourCluster<unsigned char> k = clusterOf(group(C8(90, 140, 60), n, 20, rng));
        double stored[27];
        EXPECT_EQ(describeMembers(k.members.data(), n, 1e-5, stored), nearestMemberToMean(k));
        for (int i = 0; i < n; ++i) {
            const C8& m = k.members[std::size_t(i)];
            EXPECT_EQ(stored[i], clusterLikelihood(k, Vec3(m[0], m[1], m[2]), 1e-5));
            EXPECT_LE(stored[i], 1e-9);
        }
    }
}

TEST(MattingPyramid, LevelsHalveToOneCell)
{
    blitz::Array<Colour<unsigned char>, 2> source;
    MattingSampler sampler;
    sampler.classBits = 2;
    scene<unsigned char>(5, 3, [](int i, int j) { return Colour<unsigned char>(i * 40, j * 60, 9, 255); },
                         [](int, int) { return 2; }, source, sampler);
    MattingPyramid<unsigned char> p;
    Recorder ui;
    solvePyramid(p, source, sampler, 10.0, 1e-5, ProgressRange(&ui, 0.f, 1.f));
    ASSERT_EQ(p.levelCount(), 3);
    EXPECT_EQ(p.baseCells, (Rect{0, 0, 2, 1}));
    EXPECT_EQ(p.upper[0].cells, (Rect{0, 0, 1, 0}));
    EXPECT_EQ(p.upper[1].cells, (Rect{0, 0, 0, 0}));
    EXPECT_EQ(ui.fractions, (std::vector<float>{0.5f, 0.75f, 0.875f}));

    blitz::Array<Colour<unsigned char>, 2> tiny;
    scene<unsigned char>(2, 2, [](int, int) { return Colour<unsigned char>(1, 2, 3, 255); },
                         [](int, int) { return 2; }, tiny, sampler);
    Recorder once;
    solvePyramid(p, tiny, sampler, 10.0, 1e-5, ProgressRange(&once, 0.f, 1.f));
    EXPECT_EQ(p.levelCount(), 1);
    EXPECT_EQ(once.fractions, std::vector<float>{0.5f});
}

TEST(MattingPyramid, SamplesNeedTheMarkAndTheClass)
{
    blitz::Array<Colour<unsigned char>, 2> source;
    MattingSampler sampler;
    sampler.classBits = 4;
    // Drop only in the bottom-right 4 x 4 corner of an 8 x 8 image; one of them unmarked.
    scene<unsigned char>(8, 8, [](int i, int j) { return Colour<unsigned char>(i, j, 0, 255); },
                         [](int i, int j) { return i >= 4 && j >= 4 ? 4 : 2; }, source, sampler);
    sampler.status(7, 7) = 4;
    MattingPyramid<unsigned char> p;
    solvePyramid(p, source, sampler, 1000.0, 1e-5, ProgressRange());
    StoredColour<unsigned char> members[4];
    EXPECT_EQ(baseCellMembers(p, 0, 0, members), 0);
    EXPECT_EQ(baseCellMembers(p, 3, 3, members), 3);
    EXPECT_EQ(baseCellMembers(p, 2, 2, members), 4);
    EXPECT_EQ(members[1][0], 4);
    EXPECT_EQ(members[1][1], 5);

    // A pixel far from every sample takes the palette of the first ancestor that has some.
    BasePalette<unsigned char> base;
    int level = 0;
    const Palette<unsigned char> palette = gatherPalette(p, 0, 0, level, base);
    EXPECT_EQ(level, 2);
    ASSERT_EQ(palette.count, 1);
    EXPECT_EQ(palette.clusters[0].count, 1); // 15 samples within 1000 of each other: one mean
    level = 0;
    gatherPalette(p, 5, 5, level, base);
    EXPECT_EQ(level, 0);
}

TEST(MattingPyramid, BuiltAlikeOnOneThreadAndMany)
{
    const testsupport::RgbaImage8 photo = testsupport::loadRgba8("coffee.png");
    blitz::Array<Colour<unsigned char>, 2> source;
    MattingSampler sampler;
    sampler.classBits = 2;
    scene<unsigned char>(
        300, 400,
        [&](int i, int j) {
            const std::uint8_t* p = photo.row(i) + 4 * j;
            return Colour<unsigned char>(p[0], p[1], p[2], 255);
        },
        [](int i, int j) { return (i / 7 + j / 5) % 3 ? 2 : 4; }, source, sampler);
    MattingPyramid<unsigned char> one, many;
    platform::setProcessorCountOverride(1);
    solvePyramid(one, source, sampler, 12.0, 1e-5, ProgressRange());
    platform::setProcessorCountOverride(8);
    solvePyramid(many, source, sampler, 12.0, 1e-5, ProgressRange());
    platform::setProcessorCountOverride(0);
    ASSERT_EQ(one.levelCount(), many.levelCount());
    EXPECT_EQ(one.baseMask, many.baseMask);
    for (std::size_t l = 0; l < one.upper.size(); ++l) {
        const PyramidLevel<unsigned char>&a = one.upper[l], &b = many.upper[l];
        ASSERT_EQ(a.quadrants.size(), b.quadrants.size());
        for (std::size_t q = 0; q < a.quadrants.size(); ++q)
            ASSERT_TRUE(a.quadrants[q].first == b.quadrants[q].first && a.quadrants[q].count == b.quadrants[q].count);
        ASSERT_EQ(a.members.size(), b.members.size());
        for (std::size_t m = 0; m < a.members.size(); ++m)
            ASSERT_TRUE(a.members[m][0] == b.members[m][0] && a.members[m][1] == b.members[m][1] &&
                        a.members[m][2] == b.members[m][2]);
        EXPECT_EQ(a.likelihood, b.likelihood);
        // Every cluster of a coarse cell is reduced to at most 27 representatives.
        for (const PaletteCluster& c : a.clusters)
            ASSERT_LE(c.count, maxClustersPerList);
    }
    EXPECT_GT(one.upper[0].members.size(), 0u);
}

TEST(MattingPalettes, SegmentFit)
{
    const Vec3 p(200, 0, 0), q(0, 0, 200);
    SegmentFit fit = projectOnSegment(p, q, Vec3(100, 0, 100));
    EXPECT_FLOAT_EQ(fit.alpha, 0.5f);
    EXPECT_FLOAT_EQ(fit.score, 0.f);
    fit = projectOnSegment(p, q, Vec3(-10, 0, 230)); // beyond Q
    EXPECT_EQ(fit.alpha, 0.f);
    EXPECT_FLOAT_EQ(fit.score, -float(std::sqrt(10.0 * 10 + 30 * 30)));
    fit = projectOnSegment(p, q, Vec3(260, 0, 0)); // beyond P
    EXPECT_EQ(fit.alpha, 1.f);
    EXPECT_FLOAT_EQ(fit.score, -60.f);
    // Equal ends: alpha 1, the distance to the end, no NaN.
    fit = projectOnSegment(p, p, Vec3(200, 3, 4));
    EXPECT_EQ(fit.alpha, 1.f);
    EXPECT_FLOAT_EQ(fit.score, -5.f);

    EXPECT_EQ(alphaFromColours(SolverColour(5.f), SolverColour(9.f), SolverColour(9.f)), 1.f);
    EXPECT_FLOAT_EQ(alphaFromColours(SolverColour(3.f), SolverColour(4.f), SolverColour(0.f)), 0.75f);
    EXPECT_EQ(alphaFromColours(SolverColour(9.f), SolverColour(4.f), SolverColour(0.f)), 1.f);
}

TEST(MattingPalettes, SearchKeepsTheFirstOfEqualPairs)
{
    // Two foreground clusters at the same distance from C: the first wins.
    const C8 members[4] = {C8(100, 0, 0), C8(0, 100, 0), C8(0, 0, 0), C8(0, 0, 0)};
    const double likelihood[4] = {0, 0, 0, 0};
    const PaletteCluster fgClusters[2] = {{0, 1, 0}, {1, 1, 0}};
    const PaletteCluster bgClusters[1] = {{2, 1, 0}};
    const Palette<unsigned char> fg{fgClusters, 2, members, likelihood};
    const Palette<unsigned char> bg{bgClusters, 1, members, likelihood};
    SolverColour f, b;
    const float score = searchPalettes(fg, bg, SolverColour(50.f, 50.f, 0.f), f, b);
    EXPECT_EQ(f[0], 100.f);
    EXPECT_FLOAT_EQ(score, -50.f);

    // C exactly between single-member clusters scores 0 and is accepted at once.
    EXPECT_EQ(searchPalettes(fg, bg, SolverColour(50.f, 0.f, 0.f), f, b), 0.f);
    EXPECT_EQ(f[0], 100.f);
    EXPECT_EQ(b[0], 0.f);
}

TEST(MattingPalettes, LikelihoodsWeighAlikeAcrossSampleRanges)
{
    // C lies on the segment from the foreground member (103, 103, 101) to the background, a
    // little off the segments of the others; at 8 bits the likelihood of (102, 103, 102),
    // nearer the cluster's middle, outweighs that. The 16-bit twin (every sample times 257),
    // whose likelihoods count as one 8-bit level of colour distance, chooses alike.
    const std::vector<C8> f8 = {C8(102, 103, 102), C8(103, 102, 103), C8(103, 100, 103),
                                C8(101, 101, 100), C8(103, 103, 101), C8(100, 103, 102)};
    const C8 b8(20, 20, 200);
    std::vector<C16> f16;
    for (const C8& m : f8)
        f16.push_back(C16(m[0] * 257, m[1] * 257, m[2] * 257));
    const C16 b16(b8[0] * 257, b8[1] * 257, b8[2] * 257);
    const int n = int(f8.size());
    double l8[6], l16[6];
    const double none[1] = {0.0};
    const PaletteCluster fc8{0, std::uint16_t(n), std::uint16_t(describeMembers(f8.data(), n, 1e-5, l8))};
    const PaletteCluster fc16{0, std::uint16_t(n),
                              std::uint16_t(describeMembers(f16.data(), n, 1e-5 * std::pow(257.0, 6), l16))};
    const PaletteCluster bc{0, 1, 0};
    const Palette<unsigned char> fg8{&fc8, 1, f8.data(), l8}, bg8{&bc, 1, &b8, none};
    const Palette<unsigned short> fg16{&fc16, 1, f16.data(), l16, 257.0}, bg16{&bc, 1, &b16, none, 257.0};

    const SolverColour c(61.5f, 61.5f, 150.5f);
    SolverColour f, b, f2, b2;
    const float score8 = searchPalettes(fg8, bg8, c, f, b);
    ASSERT_EQ(f[0], 102.f);
    ASSERT_EQ(f[2], 102.f);
    const float score16 = searchPalettes(fg16, bg16, SolverColour(c * 257.f), f2, b2);
    for (int ch = 0; ch < 3; ++ch) {
        EXPECT_EQ(f2[ch], f[ch] * 257.f) << ch;
        EXPECT_EQ(b2[ch], b[ch] * 257.f) << ch;
    }
    EXPECT_NEAR(score16, score8 * 257.f, 1e-3f * 257.f);
}

TEST(MattingPalettes, EmptyPyramidsThrow)
{
    blitz::Array<Colour<unsigned char>, 2> source;
    MattingSampler keepSide, dropSide;
    scene<unsigned char>(6, 6, [](int, int) { return Colour<unsigned char>(9, 9, 9, 255); },
                         [](int, int j) { return j < 3 ? 2 : 8; }, source, keepSide);
    dropSide = keepSide;
    keepSide.classBits = 2;
    dropSide.classBits = 4;
    MattingPyramid<unsigned char> fg, bg;
    solvePyramid(fg, source, keepSide, 10.0, 1e-5, ProgressRange());
    solvePyramid(bg, source, dropSide, 10.0, 1e-5, ProgressRange());
    PaletteScratch<unsigned char> scratch;
    SolverColour f, b;
    float alpha;
    const auto message = [&](const MattingPyramid<unsigned char>& a, const MattingPyramid<unsigned char>& c) {
        try {
            buildPalettes(f, b, 2, 4, alpha, a, c, SolverColour(9.f), 0, 0, -0.01f, scratch);
        } catch (const EmptyPalette& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(message(fg, bg), "Empty background palette");
    EXPECT_EQ(message(bg, bg), "Empty foreground palette");
    EXPECT_EQ(message(fg, fg), "");
    EXPECT_EQ(f[0], 9.f);
    EXPECT_EQ(alpha, 1.f); // foreground equal to background
}
