#include "matting/pixelhelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace corvath::matting;
using corvath::utility::Rect;

namespace {
template <typename T>
void expectColour(const StoredColour<T>& c, int r, int g, int b)
{
    EXPECT_EQ(int(c[0]), r);
    EXPECT_EQ(int(c[1]), g);
    EXPECT_EQ(int(c[2]), b);
}
} // namespace

TEST(MattingRanges, HalfRangeClampsAtItsEdges)
{
    expectColour(toHalfRange16(SolverColour(40000.f, -3.5f, 32768.9f)), 32768, 0, 32768);
    expectColour(toHalfRange16(SolverColour(32767.9f, -0.99f, 0.99f)), 32767, 0, 0);
}

TEST(MattingRanges, FullRangeClampsAtItsEdges)
{
    expectColour(toFullRange16(SolverColour(70000.f, 65535.7f, 65534.99f)), 65535, 65535, 65534);
    expectColour(toFullRange16(SolverColour(-70000.f, 123.9f, 1e30f)), 0, 123, 65535);
}

TEST(MattingRanges, NonFiniteValuesStayInRange)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    expectColour(toFullRange16(SolverColour(inf, -inf, nan)), 65535, 0, 0);
    expectColour(toHalfRange16(SolverColour(inf, -inf, nan)), 32768, 0, 0);
    expectColour(clampColour8(SolverColour(inf, -inf, nan)), 255, 0, 0);
}

TEST(MattingRanges, EightBitClampAndPlainTruncation)
{
    expectColour(clampColour8(SolverColour(256.f, 255.99f, -1.f)), 255, 255, 0);
    expectColour(truncateColour<unsigned char>(SolverColour(254.9f, 0.99f, 17.5f)), 254, 0, 17);
    expectColour(truncateColour<unsigned short>(SolverColour(40000.9f, 65535.f, 1.5f)), 40000, 65535, 1);
}

TEST(MattingBlend, RgbaBlendTruncatesAllFourChannels)
{
    const Colour<unsigned char> p(100, 201, 3, 255), q(0, 0, 0, 0);
    const Colour<unsigned char> r = blendRgba(0.25f, p, 0.75f, q);
    EXPECT_EQ(int(r[0]), 25);
    EXPECT_EQ(int(r[1]), 50);
    EXPECT_EQ(int(r[2]), 0);
    EXPECT_EQ(int(r[3]), 63);

    // Complementary weights at full scale neither wrap past the maximum nor exceed it.
    const Colour<unsigned short> full(65535, 65535, 32768, 65535);
    for (float t : {0.f, 0.1f, 0.3f, 0.7f, 0.999f}) {
        const Colour<unsigned short> s = blendRgba(1.f - t, full, t, full);
        EXPECT_GE(int(s[0]), 65534) << t;
        EXPECT_GE(int(s[2]), 32767) << t;
        EXPECT_LE(int(s[2]), 32768) << t;
    }
}

TEST(MattingGrid, MapToGridTruncatesTowardZero)
{
    const corvath::utility::IntPair a = mapToGrid({5, 7}, 0.5f, {2.f, 4.f});
    EXPECT_EQ(a.x, 2);  // 2.75
    EXPECT_EQ(a.y, 1);  // 1.875
    const corvath::utility::IntPair b = mapToGrid({-3, -1}, 0.5f, {2.f, 1.f});
    EXPECT_EQ(b.x, -1);  // -1.25
    EXPECT_EQ(b.y, 0);   // -0.5
}

TEST(MattingGrid, ClampIntoRectMovesOnlyOutsideCoordinates)
{
    const Rect r{-2, 3, 4, 9};
    corvath::utility::IntPair p{-5, 12};
    corvath::utility::clampIntoRect(p, r);
    EXPECT_EQ(p, (corvath::utility::IntPair{-2, 9}));
    p = {7, 0};
    corvath::utility::clampIntoRect(p, r);
    EXPECT_EQ(p, (corvath::utility::IntPair{4, 3}));
    p = {0, 5};
    corvath::utility::clampIntoRect(p, r);
    EXPECT_EQ(p, (corvath::utility::IntPair{0, 5}));
}

TEST(MattingGrid, RectDivideTruncatesEveryCorner)
{
    EXPECT_EQ((Rect{-3, 5, 7, -1}).divide(2), (Rect{-1, 2, 3, 0}));
    EXPECT_EQ((Rect{10, 20, 17, 27}).divide(2), (Rect{5, 10, 8, 13}));
}

namespace {

// Every pixel outside the inner rectangle must hold the colour of the nearest inner pixel.
template <typename T>
void checkColourBorderReplication(int scale)
{
    const Rect domain{-3, 10, 4, 16}, inner{-1, 12, 2, 14};
    blitz::Array<StoredColour<T>, 2> a;
    corvath::utility::fitArrayToRect(a, domain);
    for (int i = domain.x1; i <= domain.x2; ++i)
        for (int j = domain.y1; j <= domain.y2; ++j)
            a(i, j) = inner.contains(i, j)
                          ? StoredColour<T>(T((i + 3) * scale), T(j * scale), T((i + j) * scale))
                          : StoredColour<T>(T(1), T(2), T(3));
    const blitz::Array<StoredColour<T>, 2> before = a.copy();

    classification::replicateBorder(inner, a);
    for (int i = domain.x1; i <= domain.x2; ++i)
        for (int j = domain.y1; j <= domain.y2; ++j) {
            corvath::utility::IntPair p{i, j};
            corvath::utility::clampIntoRect(p, inner);
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(a(i, j)[c], before(p.x, p.y)[c]) << i << "," << j << " channel " << c;
        }

    // The whole array as the inner rectangle changes nothing.
    const blitz::Array<StoredColour<T>, 2> replicated = a.copy();
    a(domain.x1, domain.y1) = StoredColour<T>(T(9), T(9), T(9));
    classification::replicateBorder(domain, a);
    EXPECT_EQ(int(a(domain.x1, domain.y1)[0]), 9);
    EXPECT_EQ(int(a(domain.x2, domain.y2)[2]), int(replicated(domain.x2, domain.y2)[2]));
}

} // namespace

TEST(ColourBorder, EightBitColoursReplicateTheNearestEdge) { checkColourBorderReplication<unsigned char>(3); }

TEST(ColourBorder, SixteenBitColoursReplicateTheNearestEdge)
{
    checkColourBorderReplication<unsigned short>(1000);
}
