#include "mask/maskpasses.h"

#include "arrays.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <queue>
#include <stdexcept>
#include <tuple>
#include <vector>

using namespace classification;
using corvath::utility::domainOf;
using corvath::utility::fitArrayToRect;

namespace {

using testsupport::arrayOver;

struct Recorder : corvath::utility::IiUI {
    std::vector<float> fractions;
    void progress(float f, const std::string& text) override
    {
        EXPECT_TRUE(text.empty());
        fractions.push_back(f);
    }
};

struct Canceller : corvath::utility::IiUI {
    void progress(float, const std::string&) override { throw DvExCancel(); }
};

template <typename T, int N>
bool equal(const blitz::TinyVector<T, N>& a, const blitz::TinyVector<T, N>& b)
{
    for (int c = 0; c < N; ++c)
        if (a[c] != b[c])
            return false;
    return true;
}
inline bool equal(short a, short b) { return a == b; }

template <typename T>
int countDifferent(const blitz::Array<T, 2>& a, const T& v)
{
    int n = 0;
    for (int i = a.lbound(0); i <= a.ubound(0); ++i)
        for (int j = a.lbound(1); j <= a.ubound(1); ++j)
            n += !equal(a(i, j), v);
    return n;
}

// Equal extents and equal elements at equal offsets from the lower bounds.
template <typename T>
bool sameValues(const blitz::Array<T, 2>& a, const blitz::Array<T, 2>& b)
{
    if (a.extent(0) != b.extent(0) || a.extent(1) != b.extent(1))
        return false;
    for (int i = 0; i < a.extent(0); ++i)
        for (int j = 0; j < a.extent(1); ++j)
            if (!equal(a(a.lbound(0) + i, a.lbound(1) + j), b(b.lbound(0) + i, b.lbound(1) + j)))
                return false;
    return true;
}

// ---------------------------------------------------------------- nearest-colour chamfer

struct ChamferMaps {
    blitz::Array<int, 2> dist;
    blitz::Array<Rgb8, 2> colour;

    explicit ChamferMaps(const Rect& r)
        : dist(arrayOver(corvath::utility::grow(r, 2), chamferUnreached)),
          colour(arrayOver(corvath::utility::grow(r, 2), Rgb8(0, 0, 0)))
    {
    }
    void seed(int i, int j, Rgb8 c)
    {
        dist(i, j) = 0;
        colour(i, j) = c;
    }
    void run(const Rect& r)
    {
        propagateNearestColourForward(r, dist, colour, nullptr, 0.f, 1.f);
        propagateNearestColourBackward(r, dist, colour, nullptr, 0.f, 1.f);
    }
};

// Shortest paths over axial, diagonal and knight's steps inside r: the distance that the
// two raster passes must reproduce exactly on a rectangle.
blitz::Array<int, 2> chamferReference(const Rect& r, int si, int sj)
{
    blitz::Array<int, 2> d = arrayOver(r, INT_MAX);
    using Node = std::tuple<int, int, int>;
    std::priority_queue<Node, std::vector<Node>, std::greater<Node>> open;
    d(si, sj) = 0;
    open.emplace(0, si, sj);
    while (!open.empty()) {
        auto [dd, i, j] = open.top();
        open.pop();
        if (dd > d(i, j))
            continue;
        for (int di = -2; di <= 2; ++di)
            for (int dj = -2; dj <= 2; ++dj) {
                const int a = std::abs(di), b = std::abs(dj);
                int w = 0;
                if (a + b == 1)
                    w = chamferAxial;
                else if (a == 1 && b == 1)
                    w = chamferDiagonal;
                else if (a + b == 3)
                    w = chamferKnight;
                if (!w || !r.contains(i + di, j + dj))
                    continue;
                if (dd + w < d(i + di, j + dj)) {
                    d(i + di, j + dj) = dd + w;
                    open.emplace(dd + w, i + di, j + dj);
                }
            }
    }
    return d;
}

} // namespace

TEST(NearestColour, OneSeedGivesTheChamferWeightsAndTheirSums)
{
    const Rect r{-7, 100, 12, 117};  // any index base
    ChamferMaps m(r);
    const Rgb8 red(200, 10, 20);
    m.seed(2, 108, red);
    m.run(r);

    EXPECT_EQ(m.dist(2, 108), 0);
    EXPECT_EQ(m.dist(2, 109), 34);
    EXPECT_EQ(m.dist(1, 108), 34);
    EXPECT_EQ(m.dist(3, 107), 48);
    EXPECT_EQ(m.dist(3, 110), 76);
    EXPECT_EQ(m.dist(0, 107), 76);
    EXPECT_EQ(m.dist(2, 110), 68);
    EXPECT_EQ(m.dist(4, 110), 96);
    EXPECT_EQ(m.dist(5, 108), 102);
    EXPECT_EQ(m.dist(4, 111), 124);  // a knight's step and a diagonal one
    EXPECT_EQ(m.dist(6, 110), 152);  // two knight's steps

    const blitz::Array<int, 2> ref = chamferReference(r, 2, 108);
    for (int i = r.x1; i <= r.x2; ++i)
        for (int j = r.y1; j <= r.y2; ++j) {
            ASSERT_EQ(m.dist(i, j), ref(i, j)) << i << "," << j;
            ASSERT_TRUE(equal(m.colour(i, j), red)) << i << "," << j;
        }
    // The margin is read, never written.
    EXPECT_EQ(m.dist(r.x1 - 1, r.y1), chamferUnreached);
    EXPECT_EQ(m.dist(r.x2 + 2, r.y2 + 2), chamferUnreached);
}

TEST(NearestColour, EachPixelTakesTheNearestSeedAndTiesKeepTheFirst)
{
    const Rect r{0, 0, 10, 10};
    ChamferMaps m(r);
    const Rgb8 red(255, 0, 0), blue(0, 0, 255);
    m.seed(5, 3, red);
    m.seed(5, 7, blue);
    m.run(r);
    EXPECT_TRUE(equal(m.colour(5, 4), red));
    EXPECT_TRUE(equal(m.colour(5, 6), blue));
    EXPECT_TRUE(equal(m.colour(0, 9), blue));
    // (5, 5) is 68 from both seeds: the forward pass gives it red, and the backward pass's
    // equal offer from blue does not move it.
    EXPECT_EQ(m.dist(5, 5), 68);
    EXPECT_TRUE(equal(m.colour(5, 5), red));
}

TEST(NearestColour, RelaxationNeedsStrictlySmallerDistanceAndCannotOverflow)
{
    const Rgb8 q(1, 2, 3);
    Rgb8 p(9, 9, 9);
    int dp = 100;
    relaxDistanceWithColour(dp, p, 66, q, 34);
    EXPECT_EQ(dp, 100);
    EXPECT_TRUE(equal(p, Rgb8(9, 9, 9)));
    relaxDistanceWithColour(dp, p, 65, q, 34);
    EXPECT_EQ(dp, 99);
    EXPECT_TRUE(equal(p, q));

    // A neighbour seeded at the largest int is never taken, and its sum does not wrap.
    dp = chamferUnreached;
    relaxDistanceWithColour(dp, p, INT_MAX, Rgb8(7, 7, 7), chamferKnight);
    EXPECT_EQ(dp, chamferUnreached);
    EXPECT_TRUE(equal(p, q));
}

TEST(NearestColour, MapsWithoutTheTwoPixelMarginAreRefused)
{
    const Rect r{0, 0, 5, 5};
    blitz::Array<int, 2> dist = arrayOver(Rect{-2, -2, 7, 6}, 5);
    blitz::Array<Rgb8, 2> colour = arrayOver(Rect{-2, -2, 7, 7}, Rgb8(0, 0, 0));
    EXPECT_THROW(propagateNearestColourForward(r, dist, colour, nullptr, 0, 1), std::invalid_argument);
    EXPECT_THROW(propagateNearestColourBackward(r, dist, colour, nullptr, 0, 1), std::invalid_argument);
    EXPECT_TRUE(blitz::all(dist == 5));
    // An empty rectangle needs no margin and does nothing.
    EXPECT_NO_THROW(propagateNearestColourForward(Rect{3, 3, 2, 2}, dist, colour, nullptr, 0, 1));
}

TEST(NearestColour, ProgressEvery512thFirstIndexAndCancelPassesThrough)
{
    const Rect r{0, 0, 1023, 1};
    ChamferMaps m(r);
    m.seed(0, 0, Rgb8(1, 1, 1));
    Recorder ui;
    propagateNearestColourForward(r, m.dist, m.colour, &ui, 0.2f, 0.6f);
    ASSERT_EQ(ui.fractions.size(), 2u);
    EXPECT_FLOAT_EQ(ui.fractions[0], 0.2f);
    EXPECT_FLOAT_EQ(ui.fractions[1], 0.4f);

    ui.fractions.clear();
    propagateNearestColourBackward(r, m.dist, m.colour, &ui, 0.f, 1.f);
    ASSERT_EQ(ui.fractions.size(), 2u);
    EXPECT_FLOAT_EQ(ui.fractions[0], 511.f / 1024.f);
    EXPECT_FLOAT_EQ(ui.fractions[1], 1023.f / 1024.f);
    EXPECT_EQ(m.dist(1023, 1), 1021 * 34 + 76);  // a knight's step beats a diagonal one

    Canceller stop;
    EXPECT_THROW(propagateNearestColourForward(r, m.dist, m.colour, &stop, 0, 1), DvExCancel);
}

// ---------------------------------------------------------------- boundary colour pyramid

namespace {

// An image over rows 10..17, columns 20..27 whose pixel (i, j) has the colour (i, j, i + j)
// scaled by k, and Drop statuses with a 4 x 4 Keep square at rows 12..15, columns 22..25.
template <typename T>
struct SquareScene {
    const Rect domain{10, 20, 17, 27};
    blitz::Array<Colour<T>, 2> image;
    StatusByteArray status;

    explicit SquareScene(int k)
        : image(arrayOver(domain, Colour<T>(0, 0, 0, 0))), status(arrayOver(domain, (unsigned char)4))
    {
        for (int i = domain.x1; i <= domain.x2; ++i)
            for (int j = domain.y1; j <= domain.y2; ++j)
                image(i, j) = Colour<T>(T(i * k), T(j * k), T((i + j) * k), T(7));
        for (int i = 12; i <= 15; ++i)
            for (int j = 22; j <= 25; ++j)
                status(i, j) = 2;
    }
};

void expectCell(const ColourSumLevel& level, int x, int y, float r, float g, float b, float n)
{
    const ColourSumCell& c = level.cells(x, y);
    EXPECT_FLOAT_EQ(c[0], r) << x << "," << y;
    EXPECT_FLOAT_EQ(c[1], g) << x << "," << y;
    EXPECT_FLOAT_EQ(c[2], b) << x << "," << y;
    EXPECT_FLOAT_EQ(c[3], n) << x << "," << y;
}

std::vector<std::pair<int, int>> pairs(const std::vector<IntPair>& v)
{
    std::vector<std::pair<int, int>> out;
    for (IntPair p : v)
        out.emplace_back(p.x, p.y);
    return out;
}

} // namespace

TEST(BoundaryPyramid, KeepSquareSumsItsTwelveBorderPixels)
{
    SquareScene<unsigned char> s(1);
    Recorder ui;
    const ColourSumPyramid p = buildBoundaryColourPyramid(s.status, 2, s.image, &ui, 0.f, 1.f);

    ASSERT_EQ(p.size(), 5u);
    EXPECT_EQ(domainOf(p[0].cells), (Rect{5, 10, 8, 13}));
    EXPECT_EQ(domainOf(p[1].cells), (Rect{2, 5, 4, 6}));
    EXPECT_EQ(domainOf(p[2].cells), (Rect{1, 2, 2, 3}));
    EXPECT_EQ(domainOf(p[3].cells), (Rect{0, 1, 1, 1}));
    EXPECT_EQ(domainOf(p[4].cells), (Rect{0, 0, 0, 0}));

    // Each 2 x 2 quarter of the square holds three border pixels and one inner pixel.
    EXPECT_EQ(pairs(p[0].occupied), (std::vector<std::pair<int, int>>{{6, 11}, {6, 12}, {7, 11}, {7, 12}}));
    expectCell(p[0], 6, 11, 12 + 12 + 13, 22 + 23 + 22, 34 + 35 + 35, 3);
    expectCell(p[0], 7, 12, 14 + 15 + 15, 25 + 24 + 25, 39 + 39 + 40, 3);
    expectCell(p[0], 5, 10, 0, 0, 0, 0);

    EXPECT_EQ(pairs(p[1].occupied), (std::vector<std::pair<int, int>>{{3, 5}, {3, 6}}));
    expectCell(p[1], 3, 5, 37 + 14 + 15 + 15, 67 + 22 + 22 + 23, 104 + 36 + 37 + 38, 6);
    // The 12 border pixels: rows 12 and 15 whole, rows 13 and 14 at columns 22 and 25.
    const float r = 4 * 12 + 4 * 15 + 2 * 13 + 2 * 14, g = 2 * (22 + 23 + 24 + 25) + 2 * (22 + 25);
    expectCell(p[4], 0, 0, r, g, r + g, 12);

    const std::vector<float> expected{0.25f, 0.5f, 0.75f, 0.875f, 0.9375f, 1.f};
    EXPECT_EQ(ui.fractions, expected);
}

TEST(BoundaryPyramid, SixteenBitSamplesAndClassMaskHighBitsIgnored)
{
    SquareScene<unsigned short> s(1000);
    // Forced-edge and decided bits outside the square must not make it look inside the class.
    s.status = blitz::where(s.status == 4, (unsigned char)(4 | 16 | 64), s.status);
    const ColourSumPyramid p = buildBoundaryColourPyramid(s.status, 2 | 16, s.image, nullptr, 0, 1);
    ASSERT_EQ(p.size(), 5u);
    expectCell(p[0], 6, 11, 37000, 67000, 104000, 3);
    EXPECT_FLOAT_EQ(p[4].cells(0, 0)[3], 12);

    // With Drop in the mask too, every pixel is in the class: no border, no levels.
    EXPECT_TRUE(buildBoundaryColourPyramid(s.status, 2 | 4, s.image, nullptr, 0, 1).empty());
}

TEST(BoundaryPyramid, NoOutsideNeighbourOrNoMatchGivesNoLevels)
{
    SquareScene<unsigned char> s(1);
    s.status = 2;
    Recorder ui;
    EXPECT_TRUE(buildBoundaryColourPyramid(s.status, 2, s.image, &ui, 0.4f, 0.8f).empty());
    ASSERT_EQ(ui.fractions.size(), 1u);
    EXPECT_FLOAT_EQ(ui.fractions[0], 0.5f);
    EXPECT_TRUE(buildBoundaryColourPyramid(s.status, 8, s.image, nullptr, 0, 1).empty());
}

TEST(BoundaryPyramid, OnePixelClassFillsOneCellOnEveryLevel)
{
    SquareScene<unsigned char> s(1);
    s.status = 4;
    s.status(17, 27) = 8;
    const ColourSumPyramid p = buildBoundaryColourPyramid(s.status, 8, s.image, nullptr, 0, 1);
    ASSERT_EQ(p.size(), 5u);
    for (const ColourSumLevel& level : p) {
        ASSERT_EQ(level.occupied.size(), 1u);
        const ColourSumCell& c = level.cells(level.occupied[0].x, level.occupied[0].y);
        EXPECT_FLOAT_EQ(c[0], 17);
        EXPECT_FLOAT_EQ(c[3], 1);
    }
    EXPECT_EQ(p[0].occupied[0], (IntPair{8, 13}));
    EXPECT_EQ(corvath::utility::extent(domainOf(p.back().cells)), (IntPair{1, 1}));
}

TEST(BoundaryPyramid, CancelPassesThrough)
{
    SquareScene<unsigned char> s(1);
    Canceller stop;
    EXPECT_THROW(buildBoundaryColourPyramid(s.status, 2, s.image, &stop, 0, 1), DvExCancel);
}

TEST(BoundaryPyramid, CoarseningListsEachParentOnceInFirstContributionOrder)
{
    ColourSumLevel fine;
    fine.cells.reference(arrayOver(Rect{-3, 0, 3, 5}, ColourSumCell(0.f)));
    const std::vector<IntPair> cells{{3, 5}, {-3, 0}, {2, 4}, {-2, 1}, {-1, 0}};
    for (std::size_t n = 0; n < cells.size(); ++n) {
        fine.cells(cells[n].x, cells[n].y) = ColourSumCell(1.f, 2.f, 3.f, float(n + 1));
        fine.occupied.push_back(cells[n]);
    }
    const ColourSumLevel coarse = coarsenColourSums(fine);
    EXPECT_EQ(domainOf(coarse.cells), (Rect{-1, 0, 1, 2}));
    // -3 / 2 and -2 / 2 are -1; -1 / 2 is 0 (truncation toward zero).
    EXPECT_EQ(pairs(coarse.occupied), (std::vector<std::pair<int, int>>{{1, 2}, {-1, 0}, {0, 0}}));
    EXPECT_FLOAT_EQ(coarse.cells(1, 2)[3], 1 + 3);
    EXPECT_FLOAT_EQ(coarse.cells(1, 2)[0], 2);
    EXPECT_FLOAT_EQ(coarse.cells(-1, 0)[3], 2 + 4);
    EXPECT_FLOAT_EQ(coarse.cells(0, 0)[3], 5);
    EXPECT_FLOAT_EQ(coarse.cells(0, 1)[3], 0);
}

// ---------------------------------------------------------------- joins

namespace {

constexpr short unsetMark = -32768;

struct JoinScene {
    blitz::Array<short, 2> field;
    std::vector<IntPair> set;
    explicit JoinScene(const Rect& r) : field(arrayOver(r, unsetMark)) {}
    void join(FloatPair a, FloatPair j, FloatPair b, int e, float R, float w)
    {
        renderJoin(a, j, b, e, R, w, 8192.f, field, set, unsetMark);
    }
};

} // namespace

TEST(Join, ValuesAtAndAroundALeftTurn)
{
    JoinScene s(Rect{0, 0, 20, 20});
    // Cross product (5, 0) x (0, 5) = 25 > 0: the factor is -e.
    s.join({5.5f, 10.5f}, {10.5f, 10.5f}, {10.5f, 15.5f}, 1, 3.f, 2.f);
    EXPECT_EQ(s.field(10, 10), 0);
    EXPECT_EQ(s.field(11, 10), -4096);   // distance 1, half of w
    EXPECT_EQ(s.field(10, 9), -4096);
    EXPECT_EQ(s.field(11, 11), -5793);   // floor(sqrt(2) / 2 * 8192 + 0.5)
    EXPECT_EQ(s.field(12, 10), -8192);   // distance w
    EXPECT_EQ(s.field(12, 12), -11585);  // 2.83 < R
    EXPECT_EQ(s.field(13, 10), unsetMark);  // distance 3 is not inside R
    // Every pixel centre strictly inside the radius, listed once in scan order.
    EXPECT_EQ(s.set.size(), 25u);
    EXPECT_EQ(s.set.front(), (IntPair{8, 8}));
    EXPECT_EQ(s.set.back(), (IntPair{12, 12}));
    EXPECT_EQ(blitz::count(s.field != unsetMark), 25);
}

TEST(Join, TurnSideFactorAndStraightJoints)
{
    JoinScene s(Rect{0, 0, 20, 20});
    s.join({10.5f, 5.5f}, {10.5f, 10.5f}, {15.5f, 10.5f}, 1, 3.f, 2.f);  // cross -25: +e
    EXPECT_EQ(s.field(11, 10), 4096);
    JoinScene t(Rect{0, 0, 20, 20});
    t.join({10.5f, 5.5f}, {10.5f, 10.5f}, {15.5f, 10.5f}, -1, 3.f, 2.f);
    EXPECT_EQ(t.field(11, 10), -4096);

    JoinScene straight(Rect{0, 0, 20, 20});
    straight.join({2.f, 2.f}, {10.5f, 10.5f}, {14.f, 14.f}, 1, 3.f, 2.f);
    EXPECT_TRUE(straight.set.empty());
    EXPECT_TRUE(blitz::all(straight.field == unsetMark));
}

TEST(Join, SmallestMagnitudeWinsAndFarValuesStayUnset)
{
    JoinScene s(Rect{0, 0, 20, 20});
    s.field(11, 10) = 100;
    s.field(12, 10) = -20000;
    s.field(10, 11) = 4096;  // equal magnitude: kept
    s.join({5.5f, 10.5f}, {10.5f, 10.5f}, {10.5f, 15.5f}, 1, 3.f, 2.f);
    EXPECT_EQ(s.field(11, 10), 100);
    EXPECT_EQ(s.field(12, 10), -8192);
    EXPECT_EQ(s.field(10, 11), 4096);
    EXPECT_EQ(s.set.size(), 22u) << "cells that were set are not listed again";

    // At four widths and beyond the value is 32768 in magnitude, which no cell takes.
    JoinScene far(Rect{0, 0, 20, 20});
    far.join({5.5f, 10.5f}, {10.5f, 10.5f}, {10.5f, 15.5f}, 1, 3.f, 0.5f);
    EXPECT_EQ(far.field(11, 10), -16384);
    EXPECT_EQ(far.field(12, 10), unsetMark);
}

TEST(Join, ClippedToTheFieldAndTranslationInvariant)
{
    // The same joint and field moved into negative indices paint the same cells: the box
    // around the joint must not lose a column where truncation and floor differ.
    const FloatPair a{9.3f, 0.5f}, j{14.3f, 10.5f}, b{14.3f, 15.5f};
    JoinScene pos(Rect{0, 0, 24, 24});
    pos.join(a, j, b, 1, 3.f, 2.f);
    JoinScene neg(Rect{-20, -20, 4, 4});
    neg.join({a.x - 20, a.y - 20}, {j.x - 20, j.y - 20}, {b.x - 20, b.y - 20}, 1, 3.f, 2.f);
    EXPECT_EQ(pos.field(11, 10), neg.field(-9, -10));
    EXPECT_NE(pos.field(11, 10), unsetMark);
    EXPECT_TRUE(sameValues(pos.field, neg.field));
    EXPECT_EQ(pos.set.size(), neg.set.size());

    JoinScene corner(Rect{0, 0, 5, 5});
    corner.join({-5.f, 0.5f}, {0.5f, 0.5f}, {0.5f, 6.f}, 1, 3.f, 2.f);
    EXPECT_EQ(corner.field(0, 0), 0);
    EXPECT_EQ(corner.set.size(), 9u);  // the quarter disk: (0..2, 0..2)
}

// ---------------------------------------------------------------- ribbons

namespace {

template <typename T>
struct RibbonScene {
    blitz::Array<Colour<T>, 2> source, destination;
    explicit RibbonScene(const Rect& r, Colour<T> src, Colour<T> dst = Colour<T>(0, 0, 0, 0))
        : source(arrayOver(r, src)), destination(arrayOver(r, dst))
    {
    }
};

template <typename T>
void expectPixel(const Colour<T>& c, int r, int g, int b, int a)
{
    EXPECT_EQ(int(c[0]), r);
    EXPECT_EQ(int(c[1]), g);
    EXPECT_EQ(int(c[2]), b);
    EXPECT_EQ(int(c[3]), a);
}

} // namespace

TEST(Ribbon, BandBeyondTheEndBlendsTowardsTheDestination)
{
    using C = Colour<unsigned char>;
    RibbonScene<unsigned char> s(Rect{0, 0, 20, 20}, C(100, 150, 200, 255));
    // u = (1, 0), n = (0, 1); pixel (i, j) has t = (i - 5) / 4 and d = j - 10.
    renderSegmentRibbon<unsigned char, 255>({0.5f, 10.5f}, {5.5f, 10.5f}, 2.f, 4.f, 1, s.source,
                                            0.5f, s.destination);
    expectPixel(s.destination(5, 10), 100, 150, 200, 127);  // t = 0: the source unblended
    expectPixel(s.destination(5, 9), 100, 150, 200, 80);    // s = 0.375
    expectPixel(s.destination(5, 11), 100, 150, 200, 174);  // s = 0.625
    expectPixel(s.destination(7, 10), 50, 75, 100, 63);     // t = 0.5
    expectPixel(s.destination(8, 11), 25, 37, 50, 43);      // t = 0.75
    expectPixel(s.destination(9, 10), 0, 0, 0, 0);          // t = 1: left alone
    expectPixel(s.destination(4, 10), 0, 0, 0, 0);          // before Q
    expectPixel(s.destination(5, 12), 0, 0, 0, 0);          // |d| = h
    EXPECT_EQ(countDifferent(s.destination, C(0, 0, 0, 0)), 12);

    // The other side factor mirrors the band across the segment.
    RibbonScene<unsigned char> m(Rect{0, 0, 20, 20}, C(100, 150, 200, 255));
    renderSegmentRibbon<unsigned char, 255>({0.5f, 10.5f}, {5.5f, 10.5f}, 2.f, 4.f, -1, m.source,
                                            0.5f, m.destination);
    expectPixel(m.destination(5, 11), 100, 150, 200, 80);
    expectPixel(m.destination(6, 9), 100 * 3 / 4, 112, 150, 130);
}

TEST(Ribbon, ThresholdOnTheSourceAlpha)
{
    using C = Colour<unsigned char>;
    RibbonScene<unsigned char> s(Rect{0, 0, 20, 20}, C(100, 150, 200, 255));
    s.source(5, 10)[3] = 127;  // 0.5 x 255 = 127.5
    s.source(5, 11)[3] = 128;
    renderSegmentRibbon<unsigned char, 255>({0.5f, 10.5f}, {5.5f, 10.5f}, 2.f, 4.f, 1, s.source,
                                            0.5f, s.destination);
    expectPixel(s.destination(5, 10), 0, 0, 0, 0);
    expectPixel(s.destination(5, 11), 100, 150, 200, 174);
}

TEST(Ribbon, FarSideGetsTheChannelMaximumForEveryPixelType)
{
    // h > W: a pixel at d >= W has s = 1.
    const Rect r{0, 0, 20, 30};
    RibbonScene<unsigned char> a(r, Colour<unsigned char>(1, 2, 3, 255));
    renderSegmentRibbon<unsigned char, 255>({0.5f, 10.5f}, {5.5f, 10.5f}, 10.f, 4.f, 1, a.source, 0.f,
                                            a.destination);
    EXPECT_EQ(int(a.destination(5, 15)[3]), 255);
    EXPECT_EQ(int(a.destination(5, 5)[3]), 0);

    using C16 = Colour<unsigned short>;
    RibbonScene<unsigned short> b(r, C16(1000, 2000, 3000, 65535));
    renderSegmentRibbon<unsigned short, 65535>({0.5f, 10.5f}, {5.5f, 10.5f}, 10.f, 4.f, 1, b.source,
                                               1.f, b.destination);
    expectPixel(b.destination(5, 15), 1000, 2000, 3000, 65535);
    EXPECT_EQ(int(b.destination(5, 10)[3]), 32768);  // s = 0.5: 0.5 x 65536
    EXPECT_EQ(int(b.destination(5, 5)[3]), 0);

    RibbonScene<unsigned short> c(r, C16(1000, 2000, 3000, 32768));
    renderSegmentRibbon<unsigned short, 32768>({0.5f, 10.5f}, {5.5f, 10.5f}, 10.f, 4.f, 1, c.source,
                                               1.f, c.destination);
    EXPECT_EQ(int(c.destination(5, 15)[3]), 32768);
    EXPECT_EQ(int(c.destination(5, 10)[3]), 16384);  // 0.5 x 32769, truncated
    EXPECT_EQ(int(c.destination(6, 10)[3]), 12288);  // t = 0.25
}

TEST(Ribbon, ZeroLengthSegmentOrZeroLengthBandPaintsNothing)
{
    using C = Colour<unsigned char>;
    RibbonScene<unsigned char> s(Rect{0, 0, 20, 20}, C(100, 150, 200, 255));
    renderSegmentRibbon<unsigned char, 255>({5.5f, 10.5f}, {5.5f, 10.5f}, 2.f, 4.f, 1, s.source, 0.f,
                                            s.destination);
    renderSegmentRibbon<unsigned char, 255>({0.5f, 10.5f}, {5.5f, 10.5f}, 2.f, 0.f, 1, s.source, 0.f,
                                            s.destination);
    EXPECT_EQ(countDifferent(s.destination, C(0, 0, 0, 0)), 0);
}

TEST(Ribbon, TranslationInvariantIntoNegativeIndices)
{
    using C = Colour<unsigned char>;
    // A diagonal band whose box edges fall on fractional coordinates.
    const FloatPair p{2.25f, 4.375f}, q{6.75f, 9.125f};  // moved by 20 exactly
    RibbonScene<unsigned char> pos(Rect{0, 0, 24, 24}, C(90, 60, 30, 200), C(10, 20, 30, 40));
    renderSegmentRibbon<unsigned char, 255>(p, q, 2.f, 5.f, 1, pos.source, 0.f, pos.destination);
    RibbonScene<unsigned char> neg(Rect{-20, -20, 4, 4}, C(90, 60, 30, 200), C(10, 20, 30, 40));
    renderSegmentRibbon<unsigned char, 255>({p.x - 20, p.y - 20}, {q.x - 20, q.y - 20}, 2.f, 5.f, 1,
                                            neg.source, 0.f, neg.destination);
    EXPECT_GT(countDifferent(pos.destination, C(10, 20, 30, 40)), 10);
    EXPECT_TRUE(sameValues(pos.destination, neg.destination));

    // The horizontal band of half width 2 centred on row 10.3 reaches row 8 (d = -1.8).
    RibbonScene<unsigned char> h(Rect{-20, -20, 4, 4}, C(90, 60, 30, 200));
    renderSegmentRibbon<unsigned char, 255>({-19.5f, -9.7f}, {-14.5f, -9.7f}, 2.f, 4.f, 1, h.source,
                                            0.f, h.destination);
    EXPECT_EQ(int(h.destination(-15, -12)[0]), 90);  // t = 0
}
