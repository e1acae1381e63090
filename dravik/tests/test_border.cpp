#include "common/border.h"
#include "common/helpers.h"

#include <gtest/gtest.h>

#include <random>

using corvath::utility::Rect;

TEST(RectArithmetic, SumDifferenceAndErosion)
{
    const Rect image{0, 0, 99, 199}, window{-2, -3, 2, 3};
    EXPECT_EQ(image.minkowskiDifference(window), (Rect{2, 3, 97, 196}));
    EXPECT_EQ(image - window, (Rect{-2, -3, 101, 202}));
    EXPECT_EQ(image + window, (Rect{-2, -3, 101, 202}));
    // An asymmetric window tells the sum, the difference and the erosion apart.
    const Rect lopsided{0, -1, 2, 0};
    EXPECT_EQ(image + lopsided, (Rect{0, -1, 101, 199}));
    EXPECT_EQ(image - lopsided, (Rect{-2, 0, 99, 200}));
    EXPECT_EQ(image.minkowskiDifference(lopsided), (Rect{0, 1, 97, 199}));
    // A window wider than the image erodes it to nothing.
    EXPECT_TRUE((Rect{0, 0, 3, 3}).minkowskiDifference(Rect{0, 0, 4, 0}).isEmpty());
}

TEST(RectArithmetic, NegateAndInflate)
{
    const Rect r{-4, 1, 7, 9};
    EXPECT_EQ(r.negate(), (Rect{-7, -9, 4, -1}));
    EXPECT_EQ(r.negate().negate(), r);
    Rect g = r;
    g.inflate(2);
    EXPECT_EQ(g, (Rect{-6, -1, 9, 11}));
    g.inflate(-2);
    EXPECT_EQ(g, r);
    Rect single{5, 5, 5, 5};
    single.inflate(-1);
    EXPECT_TRUE(single.isEmpty());
    EXPECT_NE(r, r.negate());
}

TEST(ColourConversion, FromClampedInts)
{
    const auto c = corvath::utility::fromClampedInts(-5, 300, 128);
    EXPECT_EQ(int(c[0]), 0);
    EXPECT_EQ(int(c[1]), 255);
    EXPECT_EQ(int(c[2]), 128);
}

namespace {

// A brute-force reference: every element takes the element of r nearest to it.
template <typename T>
blitz::Array<T, 2> nearestInside(const blitz::Array<T, 2>& a, const Rect& r)
{
    blitz::Array<T, 2> out(a.shape());
    out.reindexSelf(a.base());
    for (int i = a.lbound(0); i <= a.ubound(0); ++i)
        for (int j = a.lbound(1); j <= a.ubound(1); ++j)
            out(i, j) = a(std::clamp(i, r.x1, r.x2), std::clamp(j, r.y1, r.y2));
    return out;
}

template <typename T>
bool equal(const T& a, const T& b) { return a == b; }
template <typename T, int N>
bool equal(const blitz::TinyVector<T, N>& a, const blitz::TinyVector<T, N>& b)
{
    for (int c = 0; c < N; ++c)
        if (a[c] != b[c])
            return false;
    return true;
}

template <typename T>
bool sameElements(const blitz::Array<T, 2>& a, const blitz::Array<T, 2>& b)
{
    if (corvath::utility::domainOf(a) != corvath::utility::domainOf(b))
        return false;
    for (int i = a.lbound(0); i <= a.ubound(0); ++i)
        for (int j = a.lbound(1); j <= a.ubound(1); ++j)
            if (!equal(a(i, j), b(i, j)))
                return false;
    return true;
}

blitz::Array<unsigned char, 2> randomBytes(const Rect& d, unsigned seed)
{
    blitz::Array<unsigned char, 2> a(d.x2 - d.x1 + 1, d.y2 - d.y1 + 1);
    a.reindexSelf(blitz::TinyVector<int, 2>(d.x1, d.y1));
    std::mt19937 rng(seed);
    for (auto it = a.begin(); it != a.end(); ++it)
        *it = static_cast<unsigned char>(rng());
    return a;
}

} // namespace

TEST(ReplicateBorder, BytesMatchNearestEdgeElement)
{
    const Rect domain{-3, 10, 12, 30};
    for (const Rect r : {Rect{0, 14, 7, 20}, Rect{-3, 10, -3, 30}, Rect{5, 30, 5, 30},
                         Rect{-3, 10, 12, 30}, Rect{2, 11, 11, 29}}) {
        auto a = randomBytes(domain, 7);
        const auto expected = nearestInside(blitz::Array<unsigned char, 2>(a.copy()), r);
        classification::replicateBorder(r, a);
        EXPECT_TRUE(sameElements(a, expected)) << r.x1 << "," << r.y1 << "," << r.x2 << "," << r.y2;
    }
}

TEST(ReplicateBorder, SingleElementFloodsTheArray)
{
    auto a = randomBytes(Rect{4, -8, 9, -1}, 3);
    const unsigned char v = a(6, -5);
    classification::replicateBorder(Rect{6, -5, 6, -5}, a);
    EXPECT_TRUE(blitz::all(a == v));
}

TEST(ReplicateBorder, ClipsToTheArrayAndIgnoresEmptyRectangles)
{
    const Rect domain{1, 1, 8, 9};
    auto a = randomBytes(domain, 11);
    const blitz::Array<unsigned char, 2> original = a.copy();
    classification::replicateBorder(Rect{5, 6, 4, 9}, a);             // empty
    classification::replicateBorder(Rect{20, 20, 30, 30}, a);         // outside
    classification::replicateBorder(Rect::emptyValue(), a);
    EXPECT_TRUE(sameElements(a, original));

    // Reaching past the array: only the part inside counts.
    const Rect wide{-5, 4, 6, 40};
    const auto expected = nearestInside(original, corvath::utility::intersect(wide, domain));
    classification::replicateBorder(wide, a);
    EXPECT_TRUE(sameElements(a, expected));
}

TEST(ReplicateBorder, PairsColoursAndChannelViews)
{
    using Pair = blitz::TinyVector<unsigned char, 2>;
    using Colour16 = corvath::utility::Colour<unsigned short>;
    const Rect domain{-2, 3, 6, 11}, r{0, 5, 3, 8};
    const auto bytes = randomBytes(domain, 5);

    blitz::Array<Pair, 2> pairs(bytes.shape());
    pairs.reindexSelf(bytes.base());
    blitz::Array<Colour16, 2> colours(bytes.shape());
    colours.reindexSelf(bytes.base());
    for (int i = domain.x1; i <= domain.x2; ++i)
        for (int j = domain.y1; j <= domain.y2; ++j) {
            pairs(i, j) = Pair(bytes(i, j), 255 - bytes(i, j));
            colours(i, j) = Colour16(bytes(i, j) * 257, i + 100, j + 100, 65535);
        }
    const auto pairsExpected = nearestInside(blitz::Array<Pair, 2>(pairs.copy()), r);
    const auto coloursExpected = nearestInside(blitz::Array<Colour16, 2>(colours.copy()), r);
    classification::replicateBorder(r, pairs);
    classification::replicateBorder(r, colours);
    EXPECT_TRUE(sameElements(pairs, pairsExpected));
    EXPECT_TRUE(sameElements(colours, coloursExpected));

    // One channel of a colour array, through a strided view: the others stay as they were.
    blitz::Array<Colour16, 2> fresh(colours.shape());
    fresh.reindexSelf(colours.base());
    for (int i = domain.x1; i <= domain.x2; ++i)
        for (int j = domain.y1; j <= domain.y2; ++j)
            fresh(i, j) = Colour16(i * 1000 + j + 5000, 7, 8, 9);
    const blitz::Array<unsigned short, 2> channel = fresh[0];
    const auto channelExpected = nearestInside(blitz::Array<unsigned short, 2>(channel.copy()), r);
    classification::replicateBorder(r, fresh[0]);
    EXPECT_TRUE(sameElements(blitz::Array<unsigned short, 2>(fresh[0]), channelExpected));
    EXPECT_TRUE(blitz::all(fresh[1] == 7) && blitz::all(fresh[3] == 9));
}

TEST(FillOutsideRect, FencesTheRectangle)
{
    blitz::Array<int, 2> a(blitz::Range(-4, 5), blitz::Range(2, 9));
    for (const Rect r : {Rect{-1, 4, 2, 6}, Rect{-4, 2, 5, 9}, Rect{-9, 5, 1, 40}, Rect{3, 3, 2, 8},
                         Rect::emptyValue(), Rect{50, 50, 60, 60}}) {
        a = 1;
        classification::fillOutsideRect(r, -7, a);
        for (int i = -4; i <= 5; ++i)
            for (int j = 2; j <= 9; ++j)
                ASSERT_EQ(a(i, j), r.contains(i, j) ? 1 : -7) << i << "," << j;
    }
}
