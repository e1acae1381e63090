// The highlight threads on a real photograph at half size: every channel and channel pair
// against a brute-force highlight, status and patch restrictions, the null rectangle, aborts
// (at a chosen pixel and from the owner's thread) and the finished() hand-over.

#include "document/HighlightThread.h"
#include "document/Set1DThread.h"
#include "document/Set2DThread.h"

#include "LogCapture.h"
#include "Wait.h"
#include "WorkingPhoto.h"

#include <colourSpace>

#include <QObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

using testsupport::ellipseMask;
using testsupport::statusImage;
using testsupport::waitUntil;
using testsupport::workingPhoto;

namespace {

using Channel = Ht::colour::channel;

// The coordinates as the highlight defines them, through independent arithmetic.
int coordinateOf(Channel channel, QRgb colour)
{
    const float r = qRed(colour) * 0.003921569f;
    const float g = qGreen(colour) * 0.003921569f;
    const float b = qBlue(colour) * 0.003921569f;
    switch (channel) {
    case Ht::colour::Hue:
        return rgbToHue(colour);
    case Ht::colour::Lightness:
        return int((std::max({r, g, b}) + std::min({r, g, b})) / 2 * 255) & 255;
    case Ht::colour::Saturation:
        return rgbToSaturation(colour);
    case Ht::colour::Red:
        return qRed(colour);
    case Ht::colour::Green:
        return qGreen(colour);
    default:
        return qBlue(colour);
    }
}

QImage monoImage(QSize size, int fill)
{
    QImage image(size, QImage::Format_Mono);
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    image.fill(fill);
    return image;
}

// A fixed scatter of 0 and 1, so that both values are written over and kept.
QImage scatteredMono(QSize size)
{
    QImage image = monoImage(size, 0);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, ((x * 7 + y * 13) % 5) < 2 ? 1 : 0);
    }
    return image;
}

std::vector<bool> scatteredSelection()
{
    std::vector<bool> selection(256);
    for (int i = 0; i < 256; ++i)
        selection[size_t(i)] = (i * 37) % 7 < 3;
    return selection;
}

QImage scatteredPairs()
{
    QImage selection = monoImage(QSize(256, 256), 0);
    for (int v = 0; v < 256; ++v) {
        for (int h = 0; h < 256; ++h)
            selection.setPixel(h, v, ((h / 8) * 5 + (v / 8) * 3) % 7 < 3 ? 1 : 0);
    }
    return selection;
}

// Where the rectangle (and the patch) does not reach, the old value stays.
QImage expectedHighlight(const QImage& old, const QImage& working, const QImage& status,
                         const QImage* mask, const QRect& rect, int statusMask,
                         const std::function<bool(QRgb)>& selected)
{
    QImage expected = old.copy();
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (mask) {
                const QPoint p = QPoint(x, y) - mask->offset();
                if (!mask->rect().contains(p) || mask->pixelIndex(p) == 0)
                    continue;
            }
            const bool on = (status.pixelIndex(x, y) & statusMask) != 0 && selected(working.pixel(x, y));
            expected.setPixel(x, y, on ? 1 : 0);
        }
    }
    return expected;
}

int differences(const QImage& a, const QImage& b)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x)
            count += a.pixelIndex(x, y) != b.pixelIndex(x, y);
    }
    return count;
}

class HighlightThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_working = workingPhoto("astronaut.png");
        m_status = statusImage(m_working.size());
    }

    QImage m_working;
    QImage m_status;
};

TEST_F(HighlightThreadTest, EachChannelMatchesABruteForceHighlight)
{
    const std::vector<bool> selection = scatteredSelection();
    const int statusMask = 2 | 4 | 8;
    for (int channel = Ht::colour::Hue; channel <= Ht::colour::Blue; ++channel) {
        SCOPED_TRACE(testing::Message() << "channel " << channel);
        QImage output = scatteredMono(m_working.size());
        const QImage expected = expectedHighlight(
            output, m_working, m_status, nullptr, m_working.rect(), statusMask,
            [&](QRgb c) { return bool(selection[size_t(coordinateOf(Channel(channel), c))]); });
        Set1DThread thread;
        thread.setSelection(selection);
        thread.setChannel(Channel(channel));
        thread.start(&output, &m_working, &m_status, nullptr, m_working.rect(), statusMask);
        ASSERT_TRUE(thread.wait(20000));
        EXPECT_EQ(differences(output, expected), 0);
    }
}

TEST_F(HighlightThreadTest, EachPairMatchesABruteForceHighlight)
{
    using namespace Ht::colour;
    const std::pair<Channel, Channel> pairs[] = {
        {Hue, Lightness}, {Hue, Saturation}, {Lightness, Hue}, {Lightness, Saturation},
        {Saturation, Hue}, {Saturation, Lightness}, {Red, Green}, {Red, Blue},
        {Green, Red}, {Green, Blue}, {Blue, Red}, {Blue, Green}};
    const QImage selection = scatteredPairs();
    for (const auto& [h, v] : pairs) {
        SCOPED_TRACE(testing::Message() << "pair " << h << "," << v);
        QImage output = scatteredMono(m_working.size());
        const QImage expected = expectedHighlight(
            output, m_working, m_status, nullptr, m_working.rect(), 15, [&](QRgb c) {
                return selection.pixelIndex(coordinateOf(h, c), coordinateOf(v, c)) != 0;
            });
        Set2DThread thread;
        thread.setSelection(selection);
        thread.setChannels(h, v);
        thread.start(&output, &m_working, &m_status, nullptr, m_working.rect(), 15);
        ASSERT_TRUE(thread.wait(20000));
        EXPECT_EQ(differences(output, expected), 0);
    }
}

TEST_F(HighlightThreadTest, PairsOfMixedFamiliesMarkNothing)
{
    using namespace Ht::colour;
    const QImage selection = monoImage(QSize(256, 256), 1);
    const std::pair<Channel, Channel> pairs[] = {{Hue, Red}, {Red, Red}, {NonRGB, Green}};
    for (const auto& [h, v] : pairs) {
        QImage output = scatteredMono(m_working.size());
        const QImage before = output.copy();
        Set2DThread thread;
        thread.setSelection(selection);
        thread.setChannels(h, v);
        thread.start(&output, &m_working, &m_status, nullptr, m_working.rect(), 15);
        ASSERT_TRUE(thread.wait(20000));
        EXPECT_EQ(differences(output, before), 0) << h << "," << v;
    }
}

TEST_F(HighlightThreadTest, StatusOutsideTheMaskGivesZero)
{
    QImage output = monoImage(m_working.size(), 1);
    Set1DThread thread;
    thread.setSelection(std::vector<bool>(256, true));
    thread.setChannel(Ht::colour::Green);
    thread.start(&output, &m_working, &m_status, nullptr, m_working.rect(), 2);
    ASSERT_TRUE(thread.wait(20000));
    int zeros = 0;
    for (int y = 0; y < output.height(); ++y) {
        for (int x = 0; x < output.width(); ++x) {
            ASSERT_EQ(output.pixelIndex(x, y), (m_status.pixelIndex(x, y) & 2) ? 1 : 0) << x << "," << y;
            zeros += output.pixelIndex(x, y) == 0;
        }
    }
    EXPECT_GT(zeros, 0);
}

TEST_F(HighlightThreadTest, NullRectangleTouchesNothingAndKeepsTheMask)
{
    QImage output = scatteredMono(m_working.size());
    const QImage before = output.copy();
    const QImage mask = ellipseMask(QRect(10, 10, 50, 40));
    Set1DThread thread;
    EXPECT_TRUE(thread.rect().isNull());
    thread.setSelection(std::vector<bool>(256, true));
    thread.start(&output, &m_working, &m_status, &mask, QRect(), 15);
    ASSERT_TRUE(thread.wait(20000));
    EXPECT_EQ(output, before);
    EXPECT_FALSE(thread.patchMask().isNull());
}

TEST_F(HighlightThreadTest, PatchMaskLeavesOutsidePixelsAlone)
{
    const QImage selection = scatteredPairs();
    // The status array's rectangle is the mask's; a wider one must still respect the mask.
    const QImage mask = ellipseMask(QRect(40, 30, 150, 110));
    for (const QRect& rect : {QRect(40, 30, 150, 110), m_working.rect()}) {
        QImage output = scatteredMono(m_working.size());
        const QImage expected = expectedHighlight(output, m_working, m_status, &mask, rect, 15, [&](QRgb c) {
            return selection.pixelIndex(coordinateOf(Ht::colour::Saturation, c),
                                        coordinateOf(Ht::colour::Hue, c)) != 0;
        });
        Set2DThread thread;
        thread.setSelection(selection);
        thread.setChannels(Ht::colour::Saturation, Ht::colour::Hue);
        thread.start(&output, &m_working, &m_status, &mask, rect, 15);
        ASSERT_TRUE(thread.wait(20000));
        EXPECT_EQ(differences(output, expected), 0);
        // The run is over: its copy of the mask is gone.
        EXPECT_TRUE(thread.patchMask().isNull());
    }
}

// Asks for its own abort when it reaches a chosen pixel of the walk.
class AbortAtPixel : public HighlightThread {
public:
    explicit AbortAtPixel(long stopAt) : m_stopAt(stopAt) {}

protected:
    void run() override
    {
        guardedRun([this] {
            walk([this](QRgb) {
                if (++m_visited == m_stopAt)
                    abort();
                return true;
            });
        });
    }

private:
    long m_stopAt;
    long m_visited = 0;
};

TEST_F(HighlightThreadTest, AbortKeepsTheFinishedRowsAndLeavesTheRest)
{
    const QRect rect(5, 8, 100, 60);
    QImage output = monoImage(m_working.size(), 0);
    QImage unassigned = m_status.copy();
    unassigned.fill(1);
    // Stops after the pixel at column 20 of the rectangle's row 20.
    AbortAtPixel thread(20L * rect.width() + 21);
    thread.start(&output, &m_working, &unassigned, nullptr, rect, 1);
    ASSERT_TRUE(thread.wait(20000));
    for (int y = 0; y < output.height(); ++y) {
        for (int x = 0; x < output.width(); ++x) {
            const bool inRect = rect.contains(x, y);
            const int row = y - rect.top();
            const bool written = inRect && (row < 20 || (row == 20 && x - rect.left() <= 20));
            ASSERT_EQ(output.pixelIndex(x, y), written ? 1 : 0) << x << "," << y;
        }
    }
}

TEST_F(HighlightThreadTest, AbortFromTheOwnerStopsBetweenPixels)
{
    // A working image large enough that the run is still going when the abort comes.
    const QImage large = m_working.scaled(m_working.size() * 4);
    const QImage status = statusImage(large.size());
    QImage output = monoImage(large.size(), 0);
    const QImage old = output.copy();
    const std::vector<bool> selection = scatteredSelection();
    const QImage complete = expectedHighlight(old, large, status, nullptr, large.rect(), 15, [&](QRgb c) {
        return bool(selection[size_t(rgbToHue(c))]);
    });
    Set1DThread thread;
    thread.setSelection(selection);
    thread.setChannel(Ht::colour::Hue);
    thread.start(&output, &large, &status, nullptr, large.rect(), 15);
    thread.abort();
    ASSERT_TRUE(thread.wait(20000));
    // Row-major: every pixel before the stop holds its result, every one after it its old value.
    bool stopped = false;
    for (int y = 0; y < large.height(); ++y) {
        for (int x = 0; x < large.width(); ++x) {
            const int got = output.pixelIndex(x, y);
            if (complete.pixelIndex(x, y) == old.pixelIndex(x, y))
                continue;
            if (got == old.pixelIndex(x, y))
                stopped = true;
            else
                ASSERT_FALSE(stopped) << "result after the stop at " << x << "," << y;
        }
    }
    EXPECT_TRUE(stopped);
}

TEST_F(HighlightThreadTest, RestartAbortsTheRunningPass)
{
    const QImage large = m_working.scaled(m_working.size() * 4);
    const QImage status = statusImage(large.size());
    QImage output = monoImage(large.size(), 0);
    Set1DThread thread;
    thread.setSelection(std::vector<bool>(256, true));
    thread.setChannel(Ht::colour::Hue);
    thread.start(&output, &large, &status, nullptr, large.rect(), 15);
    const QRect rect(0, 0, 64, 64);
    thread.start(&output, &large, &status, nullptr, rect, 15);
    ASSERT_TRUE(thread.wait(20000));
    for (int y = 0; y < rect.height(); ++y) {
        for (int x = 0; x < rect.width(); ++x)
            ASSERT_EQ(output.pixelIndex(x, y), (status.pixelIndex(x, y) & 15) ? 1 : 0);
    }
}

TEST_F(HighlightThreadTest, MismatchedImagesMarkNothing)
{
    testsupport::LogCapture log;
    QImage output = scatteredMono(m_working.size() * 2);
    const QImage before = output.copy();
    Set1DThread thread;
    thread.setSelection(std::vector<bool>(256, true));
    thread.start(&output, &m_working, &m_status, nullptr, output.rect(), 15);
    ASSERT_TRUE(thread.wait(20000));
    EXPECT_EQ(output, before);
    EXPECT_FALSE(log.lines().isEmpty());
}

TEST_F(HighlightThreadTest, FinishedReachesItsReceiver)
{
    QImage output = monoImage(m_working.size(), 0);
    Set2DThread thread;
    thread.setSelection(scatteredPairs());
    thread.setChannels(Ht::colour::Red, Ht::colour::Blue);
    QObject receiver;
    int finishedCount = 0;
    QObject::connect(&thread, &QThread::finished, &receiver, [&] { ++finishedCount; });
    thread.start(&output, &m_working, &m_status, nullptr, m_working.rect(), 15);
    EXPECT_TRUE(waitUntil([&] { return finishedCount == 1; }));
}

} // namespace
