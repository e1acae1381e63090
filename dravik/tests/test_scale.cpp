#include "dravik.h"
#include "testimage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using testsupport::RgbaImage8;

namespace {

DvImageDesc describe(RgbaImage8& image)
{
    return {image.width, image.height, image.strideBytes(), DvPixelRgba8, image.samples.data()};
}

RgbaImage8 filled(int width, int height, std::uint8_t value)
{
    RgbaImage8 image;
    image.width = width;
    image.height = height;
    image.samples.assign(std::size_t(width) * height * 4, value);
    return image;
}

// Every sample independent, alpha included.
RgbaImage8 noise(int width, int height, unsigned seed)
{
    RgbaImage8 image = filled(width, height, 0);
    std::mt19937 rng(seed);
    for (auto& s : image.samples)
        s = std::uint8_t(rng());
    return image;
}

// The block median of channel k computed from a sorted copy: the mean of the two middle values.
int blockMedian(const RgbaImage8& s, int top, int left, int b, int k)
{
    std::vector<int> v;
    for (int r = top; r < top + b; ++r)
        for (int c = left; c < left + b; ++c)
            v.push_back(s.row(r)[4 * c + k]);
    std::sort(v.begin(), v.end());
    return (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The whole reduction of s by b into an image of the rounded-up size: a last block that
// does not fit starts b pixels before the source's end.
RgbaImage8 referenceReduction(const RgbaImage8& s, int b)
{
    const int rows = (s.height + b - 1) / b, cols = (s.width + b - 1) / b;
    RgbaImage8 d = filled(cols, rows, 0);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const int top = std::min(r * b, s.height - b), left = std::min(c * b, s.width - b);
            for (int k = 0; k < 4; ++k)
                d.row(r)[4 * c + k] = std::uint8_t(blockMedian(s, top, left, b, k));
        }
    return d;
}

void expectReducesLikeReference(RgbaImage8 source, int b)
{
    const RgbaImage8 expected = referenceReduction(source, b);
    RgbaImage8 d = filled(expected.width, expected.height, 0);
    ASSERT_EQ(DvScaleImage(describe(d), describe(source)), DvOk);
    for (int r = 0; r < d.height; ++r)
        for (int c = 0; c < d.width * 4; ++c)
            ASSERT_EQ(d.row(r)[c], expected.row(r)[c])
                << "factor " << b << " row " << r << " sample " << c << " of " << source.width
                << " x " << source.height;
}

} // namespace

TEST(ScaleImage, BlockMediansOfGeneratedImages)
{
    for (int b : {2, 4, 8}) {
        expectReducesLikeReference(testsupport::syntheticPhoto(1000, 800, 5), b);
        expectReducesLikeReference(noise(1000, 800, 7), b);
        // Rows and columns left over: the end blocks overlap the previous ones.
        expectReducesLikeReference(noise(203, 101, 11), b);
    }
}

TEST(ScaleImage, BlockMediansOfAPhotograph)
{
    const RgbaImage8 photo = testsupport::loadRgba8("chelsea.png");  // 451 x 300
    for (int b : {2, 4, 8})
        expectReducesLikeReference(photo, b);
}

TEST(ScaleImage, MedianOfTwoByTwoIsTheMeanOfTheMiddleValues)
{
    RgbaImage8 s = filled(2, 2, 0);
    const std::uint8_t red[] = {10, 200, 30, 40};
    for (int i = 0; i < 4; ++i)
        s.row(i / 2)[4 * (i % 2)] = red[i];
    RgbaImage8 d = filled(1, 1, 99);
    ASSERT_EQ(DvScaleImage(describe(d), describe(s)), DvOk);
    EXPECT_EQ(d.samples[0], 35);
}

TEST(ScaleImage, FactorThreeBecomesFourAndWritesOnlyTheBlocks)
{
    RgbaImage8 s = noise(1200, 900, 3);
    RgbaImage8 d = filled(400, 300, 77);
    ASSERT_EQ(DvScaleImage(describe(d), describe(s)), DvOk);
    for (int r = 0; r < 300; ++r)
        for (int c = 0; c < 400; ++c) {
            const std::uint8_t* p = d.row(r) + 4 * c;
            if (r < 225 && c < 300)
                ASSERT_EQ(p[1], blockMedian(s, 4 * r, 4 * c, 4, 1)) << r << ", " << c;
            else
                ASSERT_EQ(p[1], 77) << r << ", " << c;
        }
}

TEST(ScaleImage, LastRowComesFromTheLastWholeBlock)
{
    RgbaImage8 s = noise(2, 5, 9);
    RgbaImage8 d = filled(1, 3, 0);
    ASSERT_EQ(DvScaleImage(describe(d), describe(s)), DvOk);
    EXPECT_EQ(d.row(0)[0], blockMedian(s, 0, 0, 2, 0));
    EXPECT_EQ(d.row(1)[0], blockMedian(s, 2, 0, 2, 0));
    EXPECT_EQ(d.row(2)[0], blockMedian(s, 3, 0, 2, 0));
}

TEST(ScaleImage, SameSizeCopiesAndLeavesRowPaddingAlone)
{
    RgbaImage8 s = noise(37, 23, 4);
    // A destination with 12 bytes of padding per row.
    std::vector<std::uint8_t> memory((37 * 4 + 12) * 23, 0xEE);
    DvImageDesc d{37, 23, 37 * 4 + 12, DvPixelRgba8, memory.data()};
    ASSERT_EQ(DvScaleImage(d, describe(s)), DvOk);
    for (int r = 0; r < 23; ++r) {
        const std::uint8_t* row = memory.data() + r * d.stride;
        EXPECT_TRUE(std::equal(row, row + 37 * 4, s.row(r))) << r;
        EXPECT_TRUE(std::all_of(row + 37 * 4, row + d.stride, [](auto v) { return v == 0xEE; }));
    }
}

TEST(ScaleImage, RefusalsAndFailuresWriteNothing)
{
    RgbaImage8 s = noise(600, 600, 1);
    RgbaImage8 d = filled(100, 100, 5);
    const auto untouched = [&d] {
        return std::all_of(d.samples.begin(), d.samples.end(), [](auto v) { return v == 5; });
    };

    // Factors 5, 6 and above 8 are not supported.
    EXPECT_EQ(DvScaleImage(describe(d), describe(s)), DvRefused);
    RgbaImage8 big = noise(1000, 1000, 2);
    EXPECT_EQ(DvScaleImage(describe(d), describe(big)), DvRefused);
    RgbaImage8 fifth = noise(500, 500, 2);
    EXPECT_EQ(DvScaleImage(describe(d), describe(fifth)), DvRefused);
    EXPECT_TRUE(untouched());

    // No whole 4 x 4 block in a 3 x 3 source.
    RgbaImage8 tiny = noise(3, 3, 2);
    RgbaImage8 one = filled(1, 1, 5);
    EXPECT_EQ(DvScaleImage(describe(one), describe(tiny)), DvInternalFailure);
    EXPECT_EQ(one.samples[0], 5);

    RgbaImage8 s2 = noise(200, 200, 1);
    DvImageDesc source = describe(s2);
    for (int type : {0, 2, 3}) {
        DvImageDesc wrong = describe(d);
        wrong.pixelType = type;
        EXPECT_EQ(DvScaleImage(wrong, source), DvRefused) << type;
        DvImageDesc wrongSource = source;
        wrongSource.pixelType = type;
        EXPECT_EQ(DvScaleImage(describe(d), wrongSource), DvRefused) << type;
    }
    DvImageDesc zeroWidth = describe(d);
    zeroWidth.width = 0;
    EXPECT_EQ(DvScaleImage(zeroWidth, source), DvRefused);
    DvImageDesc zeroHeight = describe(d);
    zeroHeight.height = 0;
    EXPECT_EQ(DvScaleImage(zeroHeight, source), DvRefused);
    DvImageDesc noData = describe(d);
    noData.data = nullptr;
    EXPECT_EQ(DvScaleImage(noData, source), DvRefused);
    DvImageDesc shortStride = describe(d);
    shortStride.stride = 4 * 100 - 1;
    EXPECT_EQ(DvScaleImage(shortStride, source), DvRefused);
    DvImageDesc shortSource = source;
    shortSource.stride = 4 * 200 - 4;
    EXPECT_EQ(DvScaleImage(describe(d), shortSource), DvRefused);
    EXPECT_TRUE(untouched());
}

namespace {
void clientHandler() {}
} // namespace

TEST(ScaleImage, RestoresTheClientsAllocationHandler)
{
    std::set_new_handler(clientHandler);
    RgbaImage8 tiny = noise(3, 3, 2);
    RgbaImage8 one = filled(1, 1, 5);
    EXPECT_EQ(DvScaleImage(describe(one), describe(tiny)), DvInternalFailure);
    EXPECT_EQ(std::get_new_handler(), clientHandler);
    RgbaImage8 two = filled(2, 2, 5);
    EXPECT_EQ(DvScaleImage(describe(one), describe(two)), DvOk);
    EXPECT_EQ(std::get_new_handler(), clientHandler);
    std::set_new_handler(nullptr);
}
