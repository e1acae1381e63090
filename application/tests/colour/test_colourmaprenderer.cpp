// The colour display's renderer on a real photograph at half size: the cell table against a
// brute-force count, patch and status restrictions, the cell image, the histogram's columns,
// lazy rebuilds and the background choices.

#include "colour/ColourMapRenderer.h"

#include "WorkingPhoto.h"

#include <colourSpace>

#include <QPainter>

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <utility>
#include <vector>

using testsupport::ellipseMask;
using testsupport::statusImage;
using testsupport::workingPhoto;

namespace {

using Channel = Ht::colour::channel;

const std::vector<std::pair<Channel, Channel>>& builderPairs()
{
    using namespace Ht::colour;
    static const std::vector<std::pair<Channel, Channel>> pairs = {
        {Red, Green}, {Red, Blue}, {Green, Red}, {Green, Blue}, {Blue, Red}, {Blue, Green},
        {Hue, Lightness}, {Hue, Saturation}, {Lightness, Hue}, {Lightness, Saturation},
        {Saturation, Hue}, {Saturation, Lightness}};
    return pairs;
}

int value(Channel channel, QRgb colour)
{
    uint8_t hls[3] = {uint8_t(qRed(colour)), uint8_t(qGreen(colour)), uint8_t(qBlue(colour))};
    rgbToHls(hls[0], hls[1], hls[2]);
    switch (channel) {
    case Ht::colour::Hue: return hls[0];
    case Ht::colour::Lightness: return hls[1];
    case Ht::colour::Saturation: return hls[2];
    case Ht::colour::Red: return qRed(colour);
    case Ht::colour::Green: return qGreen(colour);
    default: return qBlue(colour);
    }
}

struct Expected {
    quint64 count = 0;
    std::array<quint64, 3> sums{};
};

// Pixel by pixel through QImage's own accessors.
std::map<std::pair<int, int>, Expected> bruteForce(const QImage& working, const QImage& status,
                                                   const QImage* mask, Channel h, Channel v,
                                                   int shift, int statusMask)
{
    std::map<std::pair<int, int>, Expected> cells;
    const bool rgb = h >= Ht::colour::Red;
    for (int y = 0; y < working.height(); ++y) {
        for (int x = 0; x < working.width(); ++x) {
            if (mask) {
                const QPoint p = QPoint(x, y) - mask->offset();
                if (!mask->rect().contains(p) || mask->pixelIndex(p) == 0)
                    continue;
            }
            if ((status.pixelIndex(x, y) & statusMask) == 0)
                continue;
            const QRgb c = working.pixel(x, y);
            Expected& e = cells[{value(h, c) >> shift, value(v, c) >> shift}];
            ++e.count;
            if (rgb) {
                const int third = Ht::colour::Red + Ht::colour::Green + Ht::colour::Blue - h - v;
                e.sums[0] += value(Channel(third), c);
            } else {
                e.sums[0] += qRed(c);
                e.sums[1] += qGreen(c);
                e.sums[2] += qBlue(c);
            }
        }
    }
    return cells;
}

void expectTableMatches(const ColourMapRenderer& renderer,
                        const std::map<std::pair<int, int>, Expected>& expected)
{
    const int n = renderer.binCount();
    int mismatches = 0;
    for (int h = 0; h < n; ++h) {
        for (int v = 0; v < n; ++v) {
            const ColourMapRenderer::Cell& cell = renderer.cell(h, v);
            const auto found = expected.find({h, v});
            const Expected e = found == expected.end() ? Expected{} : found->second;
            const quint64 divisor = e.count ? e.count : 1;
            if (cell.count != e.count || cell.sum0 != e.sums[0] / divisor
                || cell.sum1 != e.sums[1] / divisor || cell.sum2 != e.sums[2] / divisor) {
                if (++mismatches <= 3)
                    ADD_FAILURE() << "cell " << h << "," << v << ": count " << cell.count
                                  << " expected " << e.count;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

class ColourMapRendererTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_working = workingPhoto("chelsea.png");
        m_status = statusImage(m_working.size());
    }

    ColourMapRenderer::Inputs inputs(const QImage* mask = nullptr) const
    {
        return {&m_working, &m_status, mask};
    }

    QImage m_working;
    QImage m_status;
};

TEST_F(ColourMapRendererTest, EveryPairMatchesABruteForceCount)
{
    for (const auto& [h, v] : builderPairs()) {
        SCOPED_TRACE(testing::Message() << "pair " << h << "," << v);
        ColourMapRenderer renderer;
        renderer.setChannels(h, v);
        renderer.setColourBits(5);
        renderer.setStatusMask(2 | 8);
        renderer.rebuild(inputs());
        EXPECT_FALSE(renderer.isEmpty());
        expectTableMatches(renderer, bruteForce(m_working, m_status, nullptr, h, v, 3, 2 | 8));
    }
}

TEST_F(ColourMapRendererTest, PairsOutsideTheBuilderTableCountNothing)
{
    using namespace Ht::colour;
    const std::pair<int, int> others[] = {{Hue, Hue},     {Red, Red},    {Hue, Red},
                                          {Blue, Saturation}, {NonRGB, Red}, {Green, NonRGB},
                                          {NonRGB, NonRGB}, {-1, 2}};
    for (const auto& [h, v] : others) {
        ColourMapRenderer renderer;
        renderer.setChannels(h, v);
        renderer.rebuild(inputs());
        EXPECT_TRUE(renderer.isEmpty()) << h << "," << v;
    }
}

TEST_F(ColourMapRendererTest, PatchMaskCountsOnlyItsInside)
{
    // One mask inside the image, one hanging over its top-left corner.
    for (const QRect& rect : {QRect(31, 17, 120, 90), QRect(-40, -25, 100, 80)}) {
        const QImage mask = ellipseMask(rect);
        for (const auto& [h, v] : {std::pair<Channel, Channel>{Ht::colour::Red, Ht::colour::Blue},
                                   {Ht::colour::Saturation, Ht::colour::Hue}}) {
            ColourMapRenderer renderer;
            renderer.setChannels(h, v);
            renderer.rebuild(inputs(&mask));
            expectTableMatches(renderer, bruteForce(m_working, m_status, &mask, h, v, 3, 15));
        }
    }
}

TEST_F(ColourMapRendererTest, StatusMaskZeroCountsNothing)
{
    ColourMapRenderer renderer;
    renderer.setStatusMask(0);
    renderer.rebuild(inputs());
    EXPECT_TRUE(renderer.isEmpty());
}

TEST_F(ColourMapRendererTest, MissingOrMismatchedImagesCountNothing)
{
    ColourMapRenderer renderer;
    renderer.rebuild({});
    EXPECT_TRUE(renderer.isEmpty());
    const QImage nullImage;
    renderer.rebuild({&m_working, &nullImage, nullptr});
    EXPECT_TRUE(renderer.isEmpty());
    // A status image of the full-resolution size would be read past the working image.
    const QImage larger = statusImage(m_working.size() * 2);
    renderer.rebuild({&m_working, &larger, nullptr});
    EXPECT_TRUE(renderer.isEmpty());
}

TEST_F(ColourMapRendererTest, OtherColourFormatsCountAsTheirArgbColours)
{
    const QImage premultiplied = m_working.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ColourMapRenderer direct;
    direct.rebuild(inputs());
    ColourMapRenderer converted;
    converted.rebuild({&premultiplied, &m_status, nullptr});
    for (int h = 0; h < direct.binCount(); ++h) {
        for (int v = 0; v < direct.binCount(); ++v)
            ASSERT_EQ(direct.cell(h, v).count, converted.cell(h, v).count);
    }
}

TEST_F(ColourMapRendererTest, CellImageShowsRedGreenCellsWithTheirBlueAverage)
{
    ColourMapRenderer renderer;
    renderer.setChannels(Ht::colour::Red, Ht::colour::Green);
    renderer.rebuild(inputs());
    const QColor background = ColourMapRenderer::backgroundColour(1);
    QImage device(256, 256, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&device);
        renderer.draw(painter, ColourMapRenderer::ColourMapMode, background);
    }
    const auto expected = bruteForce(m_working, m_status, nullptr, Ht::colour::Red,
                                     Ht::colour::Green, 3, 15);
    const int n = 32;
    const QImage& cells = renderer.cellImage();
    for (int r = 0; r < n; ++r) {
        for (int g = 0; g < n; ++g) {
            const auto found = expected.find({r, g});
            const QRgb want = found == expected.end()
                ? background.rgb()
                : qRgb(replicateBits(r, 3), replicateBits(g, 3),
                       int(found->second.sums[0] / found->second.count));
            ASSERT_EQ(cells.pixel(r, n - 1 - g), want) << r << "," << g;
            // Drawn as 8 x 8 squares, highest green at the top.
            ASSERT_EQ(device.pixel(r * 8 + 4, (n - 1 - g) * 8 + 4), want) << r << "," << g;
        }
    }
}

TEST_F(ColourMapRendererTest, BackgroundChangeRepaintsTheCellImage)
{
    ColourMapRenderer renderer;
    renderer.setChannels(Ht::colour::Red, Ht::colour::Green);
    renderer.rebuild(inputs());
    QImage device(64, 64, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&device);
    renderer.draw(painter, ColourMapRenderer::ColourMapMode, ColourMapRenderer::backgroundColour(0));
    // Saturated red with no green never occurs in the photograph.
    const int corner = renderer.binCount() - 1;
    ASSERT_EQ(renderer.cell(corner, 0).count, 0u);
    EXPECT_EQ(renderer.cellImage().pixel(corner, corner), ColourMapRenderer::backgroundColour(0).rgb());
    renderer.draw(painter, ColourMapRenderer::ColourMapMode, ColourMapRenderer::backgroundColour(2));
    EXPECT_EQ(renderer.cellImage().pixel(corner, corner), ColourMapRenderer::backgroundColour(2).rgb());
}

QImage oneColour(QSize size, QRgb colour)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

QImage drawHistogram(ColourMapRenderer& renderer, const QColor& background)
{
    QImage device(256, 256, QImage::Format_ARGB32_Premultiplied);
    device.fill(Qt::black);
    QPainter painter(&device);
    renderer.draw(painter, ColourMapRenderer::HistogramMode, background);
    return device;
}

TEST(ColourMapRendererHistogram, OneColourIsOneFullHeightColumn)
{
    const QRgb colour = qRgb(77, 140, 200);
    const QImage working = oneColour(QSize(40, 30), colour);
    const QImage status = statusImage(working.size());
    const QColor background = ColourMapRenderer::backgroundColour(0);

    ColourMapRenderer renderer;
    renderer.setChannels(Ht::colour::Red, Ht::colour::Blue);
    renderer.setColourBits(8);
    renderer.rebuild({&working, &status, nullptr});
    const QImage eightBits = drawHistogram(renderer, background);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(eightBits.pixel(x, y), x == 77 ? colour : background.rgb()) << x << "," << y;
    }

    // At one bit there are two columns of 128; red 77 falls in the first.
    renderer.setColourBits(1);
    renderer.rebuild({&working, &status, nullptr});
    const QImage oneBit = drawHistogram(renderer, background);
    const QRgb cellColour = renderer.cellColour(0, 1);
    EXPECT_EQ(qBlue(cellColour), 255);  // the bin's own value, not the pixel's
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(oneBit.pixel(x, y), x < 128 ? cellColour : background.rgb()) << x << "," << y;
    }
}

TEST(ColourMapRendererHistogram, ColumnsStackCellsBySquareRoots)
{
    // Column red 10: three quarters green 0 below, one quarter green 255 above. Column red 200:
    // half as many pixels, so sqrt(1/2) of the height.
    QImage working(64, 48, QImage::Format_ARGB32);
    for (int y = 0; y < working.height(); ++y) {
        for (int x = 0; x < working.width(); ++x) {
            QRgb c;
            if (x < 32)
                c = y < 36 ? qRgb(10, 0, 50) : qRgb(10, 255, 50);
            else
                c = x < 48 ? qRgb(200, 100, 0) : qRgb(90, 90, 90);
            working.setPixel(x, y, c);
        }
    }
    const QImage status = statusImage(working.size());
    ColourMapRenderer renderer;
    renderer.setChannels(Ht::colour::Red, Ht::colour::Green);
    renderer.setColourBits(8);
    renderer.setStatusMask(0xff);
    renderer.rebuild({&working, &status, nullptr});
    const QColor background = ColourMapRenderer::backgroundColour(0);
    const QImage device = drawHistogram(renderer, background);

    // sqrt(3/4) of 256 is 221.7 pixels from the bottom.
    EXPECT_EQ(device.pixel(10, 255), qRgb(10, 0, 50));
    EXPECT_EQ(device.pixel(10, 256 - 215), qRgb(10, 0, 50));
    EXPECT_EQ(device.pixel(10, 256 - 228), qRgb(10, 255, 50));
    EXPECT_EQ(device.pixel(10, 0), qRgb(10, 255, 50));
    // sqrt(1/2) of 256 is 181 pixels.
    EXPECT_EQ(device.pixel(200, 256 - 175), qRgb(200, 100, 0));
    EXPECT_EQ(device.pixel(200, 256 - 188), background.rgb());
    EXPECT_EQ(device.pixel(90, 256 - 175), qRgb(90, 90, 90));
    EXPECT_EQ(device.pixel(11, 128), background.rgb());
}

TEST(ColourMapRendererHistogram, EmptyTableDrawsOnlyTheBackground)
{
    ColourMapRenderer renderer;
    const QColor background = ColourMapRenderer::backgroundColour(2);
    const QImage histogram = drawHistogram(renderer, background);
    EXPECT_EQ(histogram, oneColour(QSize(256, 256), background.rgb()).convertToFormat(histogram.format()));
    QImage map(256, 256, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&map);
        renderer.draw(painter, ColourMapRenderer::ColourMapMode, background);
    }
    EXPECT_EQ(map, histogram);
}

TEST(ColourMapRendererCell, SixtyFourBitSumsAverageAWhiteBackdrop)
{
    ColourMapRenderer::Cell cell;
    for (int i = 0; i < (1 << 25); ++i)
        cell.add(255, 255, 255);
    cell.average();
    EXPECT_EQ(cell.count, quint64(1) << 25);
    EXPECT_EQ(cell.sum0, 255u);
    EXPECT_EQ(cell.sum1, 255u);
    EXPECT_EQ(cell.sum2, 255u);
}

TEST_F(ColourMapRendererTest, DrawingRebuildsOnlyWhenAsked)
{
    int reads = 0;
    ColourMapRenderer renderer;
    renderer.setInputSource([&] {
        ++reads;
        return inputs();
    });
    QImage device(32, 32, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&device);
    renderer.draw(painter, ColourMapRenderer::HistogramMode, Qt::white);
    EXPECT_EQ(reads, 0);
    EXPECT_TRUE(renderer.isEmpty());

    renderer.requestRebuild();
    renderer.draw(painter, ColourMapRenderer::ColourMapMode, Qt::white);
    EXPECT_EQ(reads, 1);
    EXPECT_FALSE(renderer.isRebuildRequested());
    EXPECT_FALSE(renderer.isEmpty());
    renderer.draw(painter, ColourMapRenderer::HistogramMode, Qt::white);
    EXPECT_EQ(reads, 1);
}

TEST(ColourMapRendererSettings, ResolutionStaysWithinOneToEightBits)
{
    ColourMapRenderer renderer;
    EXPECT_EQ(renderer.colourBits(), 5);
    EXPECT_EQ(renderer.binCount(), 32);
    renderer.setColourBits(0);
    EXPECT_EQ(renderer.shift(), 7);
    EXPECT_EQ(renderer.binCount(), 2);
    renderer.setColourBits(12);
    EXPECT_EQ(renderer.shift(), 0);
    EXPECT_EQ(renderer.binCount(), 256);
}

TEST(ColourMapRendererSettings, BackgroundChoices)
{
    EXPECT_EQ(ColourMapRenderer::backgroundColour(0), QColor(240, 240, 240));
    EXPECT_EQ(ColourMapRenderer::backgroundColour(1), QColor(255, 255, 224));
    EXPECT_EQ(ColourMapRenderer::backgroundColour(2), QColor(240, 255, 255));
    EXPECT_EQ(ColourMapRenderer::backgroundColour(7), QColor(240, 240, 240));
    EXPECT_EQ(ColourMapRenderer::backgroundName(0), QStringLiteral("Gray background"));
    EXPECT_EQ(ColourMapRenderer::backgroundName(1), QStringLiteral("Yellow background"));
    EXPECT_EQ(ColourMapRenderer::backgroundName(2), QStringLiteral("Blue background"));
}

} // namespace
