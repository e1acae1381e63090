#include "outline/outline.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <tuple>

using namespace classification;
using blitz::Range;
using Labels = blitz::Array<int, 2>;
using Bytes = blitz::Array<unsigned char, 2>;

namespace {

// Interior rows x cols from (0, 0), with a frame of -1 around it.
Labels framedLabels(int rows, int cols)
{
    Labels a(Range(-1, rows), Range(-1, cols));
    a = -1;
    return a;
}

Labels fromRows(const std::vector<std::vector<int>>& rows)
{
    Labels a = framedLabels(int(rows.size()), int(rows[0].size()));
    for (int i = 0; i < int(rows.size()); ++i)
        for (int j = 0; j < int(rows[i].size()); ++j)
            a(i, j) = rows[i][j];
    return a;
}

Rect interior(const Labels& a) { return corvath::utility::grow(corvath::utility::domainOf(a), -1); }

Polyline pts(std::initializer_list<std::pair<int, int>> l)
{
    Polyline p;
    for (auto [x, y] : l)
        p.push_back({x, y});
    return p;
}

FloatPolyline fpts(std::initializer_list<std::pair<float, float>> l)
{
    FloatPolyline p;
    for (auto [x, y] : l)
        p.push_back({x, y});
    return p;
}

void expectNear(const FloatPolyline& actual, const FloatPolyline& expected, float tol = 1e-5f)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_NEAR(actual[i].x, expected[i].x, tol) << "point " << i;
        EXPECT_NEAR(actual[i].y, expected[i].y, tol) << "point " << i;
    }
}

FloatPolyline toFloat(const Polyline& p)
{
    FloatPolyline f;
    for (Point q : p)
        f.push_back({float(q.x), float(q.y)});
    return f;
}

// A crack as its first corner and axis (0: along the first index, 1: along the second).
using Crack = std::tuple<int, int, int>;

// Every crack of a chain must be one unit step; reports its left and right pixels.
template <typename Visit>
void forEachCrack(const Polyline& chain, Visit&& visit)
{
    for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
        const Point a = chain[i], b = chain[i + 1];
        const int dx = b.x - a.x, dy = b.y - a.y;
        ASSERT_EQ(std::abs(dx) + std::abs(dy), 1) << "chain jumps at point " << i;
        if (dx == 1)
            visit(Crack{a.x, a.y, 0}, Point{a.x, a.y - 1}, Point{a.x, a.y});
        else if (dy == 1)
            visit(Crack{a.x, a.y, 1}, Point{a.x, a.y}, Point{a.x - 1, a.y});
        else if (dx == -1)
            visit(Crack{b.x, b.y, 0}, Point{a.x - 1, a.y}, Point{a.x - 1, a.y - 1});
        else
            visit(Crack{b.x, b.y, 1}, Point{a.x - 1, a.y - 1}, Point{a.x, a.y - 1});
    }
}

// Every crack between different labels of rect and its frame, each once.
template <typename T>
std::set<Crack> bordersOf(const blitz::Array<T, 2>& a, const Rect& rect)
{
    std::set<Crack> cracks;
    for (int x = rect.x1 - 1; x <= rect.x2 + 1; ++x)
        for (int y = rect.y1 - 1; y <= rect.y2 + 1; ++y) {
            if (x <= rect.x2 && a(x, y) != a(x + 1, y))
                cracks.insert({x + 1, y, 1});
            if (y <= rect.y2 && a(x, y) != a(x, y + 1))
                cracks.insert({x, y + 1, 0});
        }
    return cracks;
}

// The traced chains cover every border crack exactly once, with label A on the left.
void expectExactCover(const Labels& labels, const std::vector<BorderRecord>& records)
{
    const Rect rect = interior(labels);
    std::set<Crack> seen;
    for (const BorderRecord& r : records) {
        ASSERT_GE(r.points.size(), 2u);
        ASSERT_NE(r.labelA, r.labelB);
        forEachCrack(r.points, [&](Crack c, Point left, Point right) {
            EXPECT_TRUE(seen.insert(c).second) << "crack walked twice";
            EXPECT_EQ(labels(left.x, left.y), r.labelA);
            EXPECT_EQ(labels(right.x, right.y), r.labelB);
        });
    }
    EXPECT_EQ(seen, bordersOf(labels, rect));
}

Labels randomBlobs(int rows, int cols, unsigned seed)
{
    std::mt19937 rng(seed);
    Labels a = framedLabels(rows, cols);
    const int labels = 2 + int(rng() % 5);
    a(Range(0, rows - 1), Range(0, cols - 1)) = int(rng() % labels);
    for (int b = int(rng() % 40); b > 0; --b) {
        const int cx = int(rng() % rows), cy = int(rng() % cols), r = 1 + int(rng() % 9);
        const int v = int(rng() % labels);
        for (int x = std::max(0, cx - r); x <= std::min(rows - 1, cx + r); ++x)
            for (int y = std::max(0, cy - r); y <= std::min(cols - 1, cy + r); ++y)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r)
                    a(x, y) = v;
    }
    return a;
}

// Per-pixel noise: the most diagonal junctions, where the crack-walk rule matters.
Labels randomNoise(int rows, int cols, int labels, unsigned seed)
{
    std::mt19937 rng(seed);
    Labels a = framedLabels(rows, cols);
    for (int x = 0; x < rows; ++x)
        for (int y = 0; y < cols; ++y)
            a(x, y) = int(rng() % labels);
    return a;
}

double distanceToSegment(float px, float py, DvOutlinePoint a, DvOutlinePoint b)
{
    const double ux = b.row - a.row, uy = b.column - a.column;
    const double l2 = ux * ux + uy * uy;
    double t = l2 > 0 ? ((px - a.row) * ux + (py - a.column) * uy) / l2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(px - (a.row + t * ux), py - (a.column + t * uy));
}

} // namespace

TEST(CrackTrace, EnclosedPixelIsOneClosedChainOfFiveCorners)
{
    const Labels labels = fromRows({{1, 1, 1}, {1, 0, 1}, {1, 1, 1}});
    std::vector<BorderRecord> records;
    traceRegionBorders(labels, interior(labels), records);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].labelA, 1);
    EXPECT_EQ(records[0].labelB, -1);
    EXPECT_EQ(records[1].labelA, 0);
    EXPECT_EQ(records[1].labelB, 1);
    EXPECT_EQ(records[1].points, pts({{1, 1}, {1, 2}, {2, 2}, {2, 1}, {1, 1}}));
    expectExactCover(labels, records);
}

TEST(CrackTrace, DiagonalPixelsJoinAtTheCentreCorner)
{
    const Labels labels = fromRows({{0, 1}, {1, 0}});
    std::vector<BorderRecord> records;
    traceRegionBorders(labels, interior(labels), records);
    expectExactCover(labels, records);

    std::vector<Polyline> inner;
    for (const BorderRecord& r : records)
        if (r.labelA != -1 && r.labelB != -1) {
            EXPECT_EQ(r.labelA, 0);
            EXPECT_EQ(r.labelB, 1);
            inner.push_back(r.points);
        }
    ASSERT_EQ(inner.size(), 2u);
    EXPECT_EQ(inner[0], pts({{2, 1}, {1, 1}, {1, 0}}));
    EXPECT_EQ(inner[1], pts({{0, 1}, {1, 1}, {1, 2}}));
}

TEST(CrackTrace, RandomLabelsAreCoveredCrackByCrack)
{
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        const Labels labels = seed % 4 == 0 ? randomNoise(23, 31, 2, seed)
                              : seed % 4 == 1 ? randomNoise(17, 40, 4, seed)
                                              : randomBlobs(45, 38, seed);
        std::vector<BorderRecord> records;
        traceRegionBorders(labels, interior(labels), records);
        expectExactCover(labels, records);
        for (const BorderRecord& r : records) {
            if (r.points.front() == r.points.back()) {
                EXPECT_GE(r.points.size(), 5u);
            }
        }
    }
}

TEST(CrackTrace, CheckerboardAndOffsetRectangle)
{
    // Every inner corner is a diagonal junction; the array starts at a non-zero index.
    Labels labels(Range(9, 22), Range(-5, 6));
    labels = 3;
    for (int x = 10; x <= 21; ++x)
        for (int y = -4; y <= 5; ++y)
            labels(x, y) = (x + y) & 1;
    std::vector<BorderRecord> records;
    traceRegionBorders(labels, interior(labels), records);
    expectExactCover(labels, records);
}

TEST(CrackTrace, ByteLabelsCoverEveryCrackOnce)
{
    std::mt19937 rng(5);
    Bytes labels(Range(-1, 30), Range(-1, 20));
    labels = 9;
    for (int x = 0; x < 30; ++x)
        for (int y = 0; y < 20; ++y)
            labels(x, y) = (unsigned char)(rng() % 3);
    const Rect rect{0, 0, 29, 19};
    std::vector<Polyline> chains;
    traceRegionBorders(labels, rect, chains);
    std::set<Crack> seen;
    for (const Polyline& c : chains)
        forEachCrack(c, [&](Crack k, Point left, Point right) {
            EXPECT_TRUE(seen.insert(k).second);
            EXPECT_NE(labels(left.x, left.y), labels(right.x, right.y));
        });
    EXPECT_EQ(seen, bordersOf(labels, rect));
}

TEST(CrackTrace, RefusesAFrameItCannotRead)
{
    Labels labels = fromRows({{0, 1}, {1, 0}});
    std::vector<BorderRecord> records;
    EXPECT_THROW(traceRegionBorders(labels, corvath::utility::domainOf(labels), records), std::invalid_argument);
    labels(-1, 1) = 0;
    EXPECT_THROW(traceRegionBorders(labels, interior(labels), records), std::invalid_argument);
}

TEST(PointRule, OpenChainKeepsItsEnds)
{
    const Polyline chain = pts({{0, 0}, {0, 2}, {2, 2}, {2, 4}});
    expectNear(applyPointRule(chain, 0), fpts({{0, 0}, {0, 1}, {1, 2}, {2, 3}, {2, 4}}));
    expectNear(applyPointRule(chain, 1), fpts({{0, 0}, {0, 2.f / 3}, {2.f / 3, 2}, {2, 8.f / 3}, {2, 4}}));
    expectNear(applyPointRule(chain, 2),
               fpts({{0, 0}, {0, 0.5f}, {0, 1.5f}, {0.5f, 2}, {1.5f, 2}, {2, 2.5f}, {2, 3.5f}, {2, 4}}));
    expectNear(applyPointRule(chain, 3), fpts({{0, 0}, {0.5f, 1.5f}, {1.5f, 2.5f}, {2, 4}}));
    expectNear(applyPointRule(chain, 4), fpts({{0, 0}, {0.4f, 1.6f}, {1.6f, 2.4f}, {2, 4}}));
    expectNear(applyPointRule(chain, 5), fpts({{0, 0}, {2.f / 6, 10.f / 6}, {10.f / 6, 14.f / 6}, {2, 4}}));
    for (int rule : {6, 7, -1})
        expectNear(applyPointRule(chain, rule), toFloat(chain));
    for (int rule = 0; rule <= 6; ++rule)
        expectNear(applyPointRule(pts({{3, 1}, {3, 2}}), rule), fpts({{3, 1}, {3, 2}}));
}

TEST(PointRule, ClosedChainWrapsAroundAndStaysClosed)
{
    const Polyline square = pts({{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}});
    expectNear(applyPointRule(square, 0), fpts({{0, 0.5f}, {0.5f, 1}, {1, 0.5f}, {0.5f, 0}, {0, 0.5f}}));
    expectNear(applyPointRule(square, 3),
               fpts({{0.25f, 0.25f}, {0.25f, 0.75f}, {0.75f, 0.75f}, {0.75f, 0.25f}, {0.25f, 0.25f}}));
    const FloatPolyline cut = applyPointRule(square, 2);
    ASSERT_EQ(cut.size(), 9u);
    EXPECT_EQ(cut.front().x, cut.back().x);
    EXPECT_EQ(cut.front().y, cut.back().y);
}

TEST(Simplify, ToleranceIsStrictAndTheFirstOfEqualPointsWins)
{
    std::vector<FloatPolyline> f = {fpts({{0, 0}, {5, 1}, {10, 0}}), fpts({{0, 0}, {5, 2}, {10, 0}}),
                                    fpts({{0, 0}, {5, 3}, {6, 3}, {10, 0}})};
    simplifyPolylines(f, 1.0f);
    expectNear(f[0], fpts({{0, 0}, {10, 0}}));
    expectNear(f[1], fpts({{0, 0}, {5, 2}, {10, 0}}));
    expectNear(f[2], fpts({{0, 0}, {5, 3}, {10, 0}}));

    std::vector<Polyline> i = {pts({{0, 0}, {5, 1}, {10, 0}}), pts({{0, 0}, {5, 2}, {10, 0}})};
    simplifyPolylines(i, 1.0f);
    EXPECT_EQ(i[0], pts({{0, 0}, {10, 0}}));
    EXPECT_EQ(i[1], pts({{0, 0}, {5, 2}, {10, 0}}));
}

TEST(Simplify, ClosedPolylineSplitsAtItsFarthestPoint)
{
    std::vector<Polyline> p = {pts({{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 3}, {2, 3}, {3, 3}, {3, 2}, {3, 1},
                                    {3, 0}, {2, 0}, {1, 0}, {0, 0}}),
                               pts({{4, 4}, {4, 5}}), pts({{1, 1}})};
    simplifyPolylines(p, 0.1f);
    EXPECT_EQ(p[0], pts({{0, 0}, {0, 3}, {3, 3}, {3, 0}, {0, 0}}));
    EXPECT_EQ(p[1], pts({{4, 4}, {4, 5}}));
    EXPECT_EQ(p[2], pts({{1, 1}}));
}

TEST(Smooth, StraightRunAndSquareCorner)
{
    std::vector<FloatPolyline> p = {fpts({{0, 0}, {8, 0}, {16, 0}})};
    smoothPolylines(p, 1.0f);
    expectNear(p[0], fpts({{0, 0}, {7, 0}, {9, 0}, {16, 0}}));

    FloatPolyline out;
    smoothCorner({0, 8}, {0, 0}, {8, 0}, 1.0f, out);
    expectNear(out, fpts({{0, std::sqrt(2.f)}, {std::sqrt(2.f), 0}}));
    out.clear();
    smoothCorner({0, 2}, {0, 0}, {2, 0}, 1.0f, out);  // capped at a quarter of each segment
    expectNear(out, fpts({{0, 0.5f}, {0.5f, 0}}));
}

TEST(Smooth, TurnBackAndZeroLengthKeepTheVertex)
{
    FloatPolyline out;
    smoothCorner({4, 0}, {8, 0}, {4, 0}, 1.0f, out);
    smoothCorner({8, 0}, {8, 0}, {4, 3}, 1.0f, out);
    smoothCorner({4, 3}, {8, 0}, {8, 0}, 1.0f, out);
    expectNear(out, fpts({{8, 0}, {8, 0}, {8, 0}}));

    std::vector<FloatPolyline> p = {fpts({{0, 0}, {4, 0}, {8, 0}, {4, 0}, {4, 4}})};
    smoothPolylines(p, 1.0f);
    expectNear(p[0], fpts({{0, 0}, {3, 0}, {5, 0}, {8, 0}, {5, 0}, {4, 1}, {4, 4}}));
}

TEST(Smooth, ClosedPolylineStaysClosedWithoutRepeats)
{
    std::vector<FloatPolyline> p = {fpts({{0, 0}, {0, 8}, {8, 8}, {8, 0}, {0, 0}})};
    smoothPolylines(p, 1.0f);
    ASSERT_EQ(p[0].size(), 9u);
    EXPECT_EQ(p[0].front().x, p[0].back().x);
    EXPECT_EQ(p[0].front().y, p[0].back().y);
    for (std::size_t i = 0; i + 1 < p[0].size(); ++i)
        EXPECT_FALSE(p[0][i].x == p[0][i + 1].x && p[0][i].y == p[0][i + 1].y);
    const float r = std::sqrt(2.f);
    expectNear(p[0], fpts({{0, 8 - r}, {r, 8}, {8 - r, 8}, {8, 8 - r}, {8, r}, {8 - r, 0}, {r, 0}, {0, r},
                           {0, 8 - r}}));
}

TEST(RegionOutlines, ImageEdgeBordersAndLowScaleGiveNothing)
{
    Labels one = framedLabels(6, 5);
    one(Range(0, 5), Range(0, 4)) = 3;
    EXPECT_TRUE(buildRegionOutlines(one, 0, 1.f, 1.f, 2.f).empty());

    const Labels two = fromRows({{0, 1}, {1, 0}});
    EXPECT_EQ(buildRegionOutlines(two, 0, 1.f, 1.f, 2.f).size(), 2u);
    EXPECT_TRUE(buildRegionOutlines(two, 0, 1.f, 1.f, 1.f).empty());
    EXPECT_TRUE(buildRegionOutlines(Labels(), 0, 1.f, 1.f, 2.f).empty());
}

TEST(RegionOutlines, RawCornersWithEverythingOff)
{
    const Labels two = fromRows({{0, 1}, {1, 0}});
    const std::vector<FloatPolyline> out = buildRegionOutlines(two, 6, 0.f, 0.f, 2.f);
    ASSERT_EQ(out.size(), 2u);
    expectNear(out[0], fpts({{2, 1}, {1, 1}, {1, 0}}));
    expectNear(out[1], fpts({{0, 1}, {1, 1}, {1, 2}}));

    const Labels blobs = randomBlobs(30, 30, 11);
    std::vector<BorderRecord> records;
    traceRegionBorders(blobs, interior(blobs), records);
    const std::vector<FloatPolyline> raw = buildRegionOutlines(blobs, 6, 0.f, 0.f, 2.f);
    std::size_t k = 0;
    for (const BorderRecord& r : records)
        if (r.labelA != -1 && r.labelB != -1) {
            ASSERT_LT(k, raw.size());
            expectNear(raw[k++], toFloat(r.points));
        }
    EXPECT_EQ(k, raw.size());
}

TEST(RegionOutlines, StraightBorderBecomesTwoPoints)
{
    Labels labels = framedLabels(7, 6);
    labels(Range(0, 6), Range(0, 2)) = 4;
    labels(Range(0, 6), Range(3, 5)) = 8;
    const std::vector<FloatPolyline> out = buildRegionOutlines(labels, 0, 1.f, 1.f, 2.f);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0].size(), 2u);
    EXPECT_EQ(out[0][0].y, 3.f);
    EXPECT_EQ(out[0][1].y, 3.f);
    EXPECT_EQ(std::min(out[0][0].x, out[0][1].x), 0.f);
    EXPECT_EQ(std::max(out[0][0].x, out[0][1].x), 7.f);
}

TEST(RegionOutlines, EveryRuleWithPassesOnKeepsClosedOutlinesClosed)
{
    const Labels labels = randomBlobs(40, 40, 3);
    for (int rule = 0; rule <= 6; ++rule) {
        SCOPED_TRACE(rule);
        std::vector<BorderRecord> records;
        traceRegionBorders(labels, interior(labels), records);
        std::size_t closed = 0;
        for (const BorderRecord& r : records)
            closed += r.labelA != -1 && r.labelB != -1 && r.points.front() == r.points.back();
        std::size_t closedOut = 0;
        for (const FloatPolyline& p : buildRegionOutlines(labels, rule, 1.f, 1.f, 2.f)) {
            ASSERT_GE(p.size(), 2u);
            closedOut += p.front().x == p.back().x && p.front().y == p.back().y;
            for (const FloatPoint& q : p) {
                EXPECT_GE(q.x, 0.f);
                EXPECT_LE(q.x, 40.f);
                EXPECT_GE(q.y, 0.f);
                EXPECT_LE(q.y, 40.f);
            }
        }
        EXPECT_EQ(closedOut, closed);
    }
}

// Borders and outlines of labels traced on one thread and on eight: the same records and
// points, in the same order; eight holds the eight-thread borders.
void expectSameOnOneAndEightThreads(const Labels& labels, int smoothing, std::vector<BorderRecord>& eight)
{
    std::vector<BorderRecord> traced[2];
    std::vector<FloatPolyline> outlines[2];
    for (int k = 0; k < 2; ++k) {
        platform::setProcessorCountOverride(k == 0 ? 1 : 8);
        traceRegionBorders(labels, interior(labels), traced[k]);
        outlines[k] = buildRegionOutlines(labels, smoothing, 1.f, 1.f, 2.f);
    }
    platform::setProcessorCountOverride(0);
    ASSERT_EQ(traced[0].size(), traced[1].size());
    for (std::size_t i = 0; i < traced[0].size(); ++i) {
        ASSERT_EQ(traced[0][i].labelA, traced[1][i].labelA) << i;
        ASSERT_EQ(traced[0][i].labelB, traced[1][i].labelB) << i;
        ASSERT_EQ(traced[0][i].points, traced[1][i].points) << i;
    }
    ASSERT_EQ(outlines[0].size(), outlines[1].size());
    for (std::size_t i = 0; i < outlines[0].size(); ++i) {
        ASSERT_EQ(outlines[0][i].size(), outlines[1][i].size());
        for (std::size_t j = 0; j < outlines[0][i].size(); ++j) {
            ASSERT_EQ(outlines[0][i][j].x, outlines[1][i][j].x);
            ASSERT_EQ(outlines[0][i][j].y, outlines[1][i][j].y);
        }
    }
    eight = std::move(traced[1]);
}

TEST(RegionOutlines, AreTheSameOnOneAndOnEightThreads)
{
    // Wide enough along the first index for eight bands of the scan's start marks, with
    // chains enough for eight slices of the conversion.
    Labels labels = randomNoise(700, 260, 3, 5);
    const Labels blobs = randomBlobs(700, 260, 8);
    labels(Range(0, 349), Range::all()) = blobs(Range(0, 349), Range::all());
    std::vector<BorderRecord> traced;
    expectSameOnOneAndEightThreads(labels, 3, traced);
}

TEST(RegionOutlines, LongChainsAndSaddlesAcrossScanBandsMatchOneBand)
{
    // Long along the second index, so that eight threads split the scan into eight bands of
    // lines: two-label noise (saddles everywhere) in stretches, a thin region and a staircase
    // touching itself only at corners across every band, and blobs between them.
    for (unsigned seed = 1; seed <= 2; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        Labels labels = randomBlobs(200, 3000, seed);
        for (int y = 0; y < 3000; ++y)
            for (int x = 0; x < 200; ++x) {
                if ((y / 170) % 2 == 0 && x < 120)
                    labels(x, y) = 10 + int(rng() % 2);
                if (x == 50 || x == 51)
                    labels(x, y) = 7;
                if (x == (y / 3) % 200 && x > 60)
                    labels(x, y) = 8;
            }
        std::vector<BorderRecord> traced;
        ASSERT_NO_FATAL_FAILURE(expectSameOnOneAndEightThreads(labels, 4, traced));
        expectExactCover(labels, traced);
    }
}

TEST(SelectionOutline, DiskGivesOneClosedOutlineOnItsBoundary)
{
    // A patch bitmap in parent coordinates, viewed with a row step wider than the patch.
    Bytes memory(61, 64);
    memory = 0;
    Bytes bitmap = memory(Range(0, 60), Range(0, 60));
    bitmap.reindexSelf(blitz::TinyVector<int, 2>(40, 70));
    auto selected = [](int x, int y) { return (x - 70) * (x - 70) + (y - 100) * (y - 100) <= 625; };
    for (int x = 40; x <= 100; ++x)
        for (int y = 70; y <= 130; ++y)
            bitmap(x, y) = selected(x, y) ? ((x + y) % 3 ? 255 : 7) : 0;

    const std::vector<Polyline> outline = buildSelectionOutline(bitmap);
    ASSERT_EQ(outline.size(), 1u);
    ASSERT_EQ(outline[0].front(), outline[0].back());

    const OutlineRecords records = publishOutlines(outline);
    ASSERT_EQ(records.count(), 1);
    const DvOutline& r = records.data()[0];
    EXPECT_EQ(r.reserved, 0);
    ASSERT_EQ(r.count, int(outline[0].size()));

    // Every published point is a corner of the disk's pixel boundary...
    auto boundaryCorner = [&](int x, int y) {
        const int n = selected(x - 1, y - 1) + selected(x - 1, y) + selected(x, y - 1) + selected(x, y);
        return n > 0 && n < 4;
    };
    for (int i = 0; i < r.count; ++i) {
        const int x = int(std::lround(r.points[i].row)), y = int(std::lround(r.points[i].column));
        EXPECT_LE(std::hypot(r.points[i].row - x, r.points[i].column - y), 0.1);
        EXPECT_TRUE(boundaryCorner(x, y)) << x << ", " << y;
    }
    // ...and every boundary corner lies within 0.1 pixel of the published outline.
    for (int x = 40; x <= 101; ++x)
        for (int y = 70; y <= 131; ++y) {
            if (!boundaryCorner(x, y))
                continue;
            double best = 1e9;
            for (int i = 0; i + 1 < r.count; ++i)
                best = std::min(best, distanceToSegment(float(x), float(y), r.points[i], r.points[i + 1]));
            EXPECT_LE(best, 0.1) << x << ", " << y;
        }
}

TEST(SelectionOutline, EdgeTouchingAndFullPatchesAndEmptyOnes)
{
    Bytes disk(Range(0, 20), Range(0, 20));
    for (int x = 0; x <= 20; ++x)
        for (int y = 0; y <= 20; ++y)
            disk(x, y) = (x - 10) * (x - 10) + (y - 10) * (y - 10) <= 100;
    EXPECT_EQ(buildSelectionOutline(disk).size(), 1u);

    Bytes full(Range(5, 9), Range(2, 4));
    full = 1;
    const std::vector<Polyline> box = buildSelectionOutline(full);
    ASSERT_EQ(box.size(), 1u);
    EXPECT_EQ(box[0].size(), 5u);
    std::set<std::pair<int, int>> corners;
    for (Point p : box[0])
        corners.insert({p.x, p.y});
    const std::set<std::pair<int, int>> expected{{5, 2}, {5, 5}, {10, 5}, {10, 2}};
    EXPECT_EQ(corners, expected);

    full = 0;
    EXPECT_TRUE(buildSelectionOutline(full).empty());
    EXPECT_TRUE(buildSelectionOutline(Bytes()).empty());
}

TEST(OutlineRecords, PointsAreCopiedColumnFirstAndOwned)
{
    std::vector<FloatPolyline> lines = {fpts({{1.5f, 2.5f}, {3, 4}}), fpts({{7, 8}})};
    OutlineRecords records = publishOutlines(lines);
    lines.clear();
    ASSERT_EQ(records.count(), 2);
    EXPECT_EQ(records.data()[0].count, 2);
    EXPECT_EQ(records.data()[0].points[0].column, 2.5f);
    EXPECT_EQ(records.data()[0].points[0].row, 1.5f);
    EXPECT_EQ(records.data()[0].points[1].column, 4.f);
    EXPECT_EQ(records.data()[1].points[0].column, 8.f);
    EXPECT_EQ(records.data()[1].points[0].row, 7.f);

    OutlineRecords moved = std::move(records);
    EXPECT_EQ(records.data(), nullptr);
    EXPECT_EQ(records.count(), 0);
    EXPECT_EQ(moved.count(), 2);
    moved = publishOutlines(std::vector<Polyline>{});
    EXPECT_EQ(moved.data(), nullptr);
    EXPECT_EQ(moved.count(), 0);
}
