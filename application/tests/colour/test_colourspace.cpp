// The colour workspace's channel conversions and bin arithmetic: known colours, reference
// values worked out independently in single precision, and the one-pass conversion against
// the three converters over every 24-bit colour.

#include <colourSpace>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

namespace {

uint32_t argb(int r, int g, int b, int a = 255)
{
    return (uint32_t(a) << 24) | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
}

struct Hls {
    int hue, lightness, saturation;
};

Hls onePass(int r, int g, int b)
{
    uint8_t x = uint8_t(r), y = uint8_t(g), z = uint8_t(b);
    rgbToHls(x, y, z);
    return {x, y, z};
}

TEST(ColourSpace, PrimariesAndSecondariesHaveTheirHues)
{
    EXPECT_EQ(rgbToHue(argb(255, 0, 0)), 0);
    EXPECT_EQ(rgbToHue(argb(0, 255, 0)), 85);
    EXPECT_EQ(rgbToHue(argb(0, 0, 255)), 170);
    // Red equals blue: the red branch is tested first, so the hue wraps from -1 to 5.
    EXPECT_EQ(rgbToHue(argb(255, 0, 255)), 212);
    EXPECT_EQ(rgbToHue(argb(255, 255, 0)), 42);
    EXPECT_EQ(rgbToHue(argb(0, 255, 255)), 127);
    for (uint32_t c : {argb(255, 0, 0), argb(0, 255, 0), argb(0, 0, 255), argb(255, 0, 255)}) {
        EXPECT_EQ(rgbToSaturation(c), 255);
        EXPECT_EQ(rgbToLightness(c), 127);
    }
}

TEST(ColourSpace, GreysHaveNoHueOrSaturation)
{
    int previous = -1;
    for (int v = 0; v < 256; ++v) {
        const uint32_t grey = argb(v, v, v);
        EXPECT_EQ(rgbToHue(grey), 0) << v;
        EXPECT_EQ(rgbToSaturation(grey), 0) << v;
        const int lightness = rgbToLightness(grey);
        EXPECT_GE(lightness, previous) << v;
        EXPECT_LE(std::abs(lightness - v), 1) << v;
        previous = lightness;
    }
    EXPECT_EQ(rgbToLightness(argb(255, 255, 255)), 255);
    EXPECT_EQ(rgbToLightness(argb(0, 0, 0)), 0);
}

TEST(ColourSpace, MatchesSinglePrecisionReferenceValues)
{
    // Worked out step by step in single precision, apart from this code.
    struct Case {
        int r, g, b;
        Hls expected;
    };
    const Case cases[] = {
        {200, 100, 50, {14, 125, 153}},  {12, 200, 180, {122, 106, 226}},
        {90, 30, 220, {183, 125, 193}},  {1, 2, 3, {148, 2, 127}},
        {100, 100, 101, {170, 100, 1}},  {255, 128, 0, {21, 127, 255}},
        {150, 0, 105, {225, 75, 255}},
        // Lightness exactly one half: the second saturation formula, which gives 3 (the first
        // would give 2).
        {129, 127, 126, {14, 127, 3}},
    };
    for (const Case& c : cases) {
        const uint32_t colour = argb(c.r, c.g, c.b);
        EXPECT_EQ(rgbToHue(colour), c.expected.hue) << c.r << "," << c.g << "," << c.b;
        EXPECT_EQ(rgbToLightness(colour), c.expected.lightness) << c.r << "," << c.g << "," << c.b;
        EXPECT_EQ(rgbToSaturation(colour), c.expected.saturation) << c.r << "," << c.g << "," << c.b;
        const Hls one = onePass(c.r, c.g, c.b);
        EXPECT_EQ(one.hue, c.expected.hue);
        EXPECT_EQ(one.lightness, c.expected.lightness);
        EXPECT_EQ(one.saturation, c.expected.saturation);
    }
}

TEST(ColourSpace, OnePassEqualsTheThreeConvertersForEveryColour)
{
    int mismatches = 0;
    for (uint32_t rgb = 0; rgb < (1u << 24); ++rgb) {
        const uint32_t colour = 0xff000000u | rgb;
        uint8_t h = uint8_t(rgb >> 16), l = uint8_t(rgb >> 8), s = uint8_t(rgb);
        rgbToHls(h, l, s);
        const int hue = rgbToHue(colour);
        const int lightness = rgbToLightness(colour);
        const int saturation = rgbToSaturation(colour);
        if (hue != h || lightness != l || saturation != s || hue < 0 || hue > 255 || lightness < 0
            || lightness > 255 || saturation < 0 || saturation > 255) {
            if (++mismatches <= 5)
                ADD_FAILURE() << "colour " << std::hex << rgb << std::dec << ": " << hue << "/"
                              << int(h) << " " << lightness << "/" << int(l) << " " << saturation
                              << "/" << int(s);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(ColourSpace, ChannelValueReadsTheChannelAndIgnoresAlpha)
{
    const uint32_t colour = argb(200, 100, 50, 7);
    EXPECT_EQ(channelValue(Ht::colour::Hue, colour), 14);
    EXPECT_EQ(channelValue(Ht::colour::Lightness, colour), 125);
    EXPECT_EQ(channelValue(Ht::colour::Saturation, colour), 153);
    EXPECT_EQ(channelValue(Ht::colour::Red, colour), 200);
    EXPECT_EQ(channelValue(Ht::colour::Green, colour), 100);
    EXPECT_EQ(channelValue(Ht::colour::Blue, colour), 50);
    EXPECT_EQ(channelValue(Ht::colour::NonRGB, colour), 200);
    EXPECT_EQ(channelValue(-3, colour), 200);
    for (int channel = 0; channel <= 5; ++channel)
        EXPECT_EQ(channelValue(channel, colour), channelValue(channel, colour | 0xff000000u));
}

TEST(ColourSpace, BinEdges)
{
    EXPECT_EQ(binLow(200, 3), 200);
    EXPECT_EQ(binHigh(200, 3), 207);
    EXPECT_EQ(binHigh(255, 0), 255);
    for (int shift = 0; shift <= 7; ++shift) {
        for (int v = 0; v < 256; ++v) {
            const int low = binLow(v, shift);
            const int high = binHigh(v, shift);
            EXPECT_LE(low, v);
            EXPECT_GE(high, v);
            EXPECT_EQ(high - low + 1, 1 << shift) << v << " at shift " << shift;
            EXPECT_EQ(low >> shift, v >> shift);
        }
        EXPECT_EQ(binHigh(255, shift), 255);
    }
}

TEST(ColourSpace, ReplicatedBitsSpanTheFullRange)
{
    EXPECT_EQ(replicateBits(31, 3), 255);
    EXPECT_EQ(replicateBits(16, 3), 132);
    for (int shift = 0; shift <= 7; ++shift) {
        const int last = (256 >> shift) - 1;
        EXPECT_EQ(replicateBits(0, shift), 0) << shift;
        EXPECT_EQ(replicateBits(last, shift), 255) << shift;
        int previous = -1;
        for (int b = 0; b <= last; ++b) {
            const int wide = replicateBits(b, shift);
            EXPECT_GT(wide, previous) << b << " at shift " << shift;
            // The index stays in the top bits, so the value falls back into its own bin.
            EXPECT_EQ(wide >> shift, b) << b << " at shift " << shift;
            previous = wide;
        }
    }
    EXPECT_EQ(replicateBits(5, 8), 5);
}

} // namespace
