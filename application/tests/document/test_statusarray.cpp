// The status array over a status record in the test's own memory: colours by class and
// opacity, classes present, snapshot, trimap, highlight runs and the pixel cursor.

#include "document/GmColor.h"
#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsAppPreferences.h"
#include "document/StatusPixelCursor.h"

#include "ModelImage.h"
#include "Wait.h"

#include "dravik.h"

#include <QSignalSpy>
#include <QSlider>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using testsupport::ModelImage;
using testsupport::waitUntil;

namespace {

// A status record as the engine publishes it, over bytes the test owns: rows padded to four.
struct FakeStatusRecord {
    FakeStatusRecord(int width, int height)
        : stride((width + 3) & ~3), bytes(std::size_t(stride) * height, 1)
    {
        record.width = width;
        record.height = height;
        record.stride = unsigned(stride);
        record.pixelType = DvPixelStatus;
        record.data = bytes.data();
    }
    void set(int x, int y, uchar value) { bytes[std::size_t(y) * stride + x] = value; }
    void fill(uchar value)
    {
        for (int y = 0; y < record.height; ++y)
            for (int x = 0; x < record.width; ++x)
                set(x, y, value);
    }

    int stride;
    std::vector<uchar> bytes;
    DvImage record{};
};

class StatusArrayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_preferences = std::make_unique<KsAppPreferences>();
        GmStatusArray::setOpacitySliderLookup([this] { return m_slider.get(); });
    }
    void TearDown() override
    {
        m_image.reset();
        GmStatusArray::setOpacitySliderLookup(nullptr);
        GmStatusArray::setPatchMaskLookup(nullptr);
        GmModel::destroy();
        m_slider.reset();
        m_preferences.reset();
    }

    // A model with a plain grey image of the record's size, the record installed.
    GmStatusArray* install(FakeStatusRecord& status)
    {
        m_image = std::make_unique<ModelImage>(status.record.width, status.record.height, 1);
        GmModel::instance()->source()->updateWorkingImage();
        GmStatusArray* array = GmModel::instance()->statusArray();
        array->setStatusImage(&status.record);
        return array;
    }

    QColor named(KsAppPreferences::ColorIndex index) const { return m_preferences->color(index)->color(); }

    std::unique_ptr<KsAppPreferences> m_preferences;
    std::unique_ptr<QSlider> m_slider;
    std::unique_ptr<ModelImage> m_image;
};

TEST_F(StatusArrayTest, ShowsTheEngineBytesWithoutACopyWhateverTheColours)
{
    FakeStatusRecord status(13, 7);
    m_slider = std::make_unique<QSlider>();
    m_slider->setRange(0, 100);
    m_slider->setValue(50);
    GmStatusArray* array = install(status);
    ASSERT_NE(array->statusImage(), nullptr);
    EXPECT_EQ(array->statusImage()->constBits(), status.bytes.data());
    EXPECT_EQ(array->statusImage()->bytesPerLine(), status.stride);
    EXPECT_EQ(array->statusImage()->format(), QImage::Format_Indexed8);

    status.set(3, 2, 4);
    EXPECT_EQ(array->statusImage()->pixelIndex(3, 2), 4);

    // The slider was connected when the record arrived; a colour change builds a new wrapper.
    m_slider->setValue(10);
    EXPECT_EQ(array->statusImage()->constBits(), status.bytes.data());
    m_preferences->color(KsAppPreferences::KeepMaskColor)->setColor(Qt::cyan);
    emit m_preferences->color(KsAppPreferences::KeepMaskColor)->colorChanged(Qt::cyan);
    EXPECT_EQ(array->statusImage()->constBits(), status.bytes.data());
    EXPECT_EQ(QColor::fromRgba(array->statusImage()->color(2)).hue(), QColor(Qt::cyan).hue());
}

TEST_F(StatusArrayTest, ColoursFollowTheClassAndTheProtection)
{
    FakeStatusRecord status(4, 4);
    GmStatusArray* array = install(status);
    const QImage& image = *array->statusImage();
    const QRgb keep = image.color(2);
    EXPECT_EQ(QColor::fromRgba(keep).hue(), named(KsAppPreferences::KeepMaskColor).hue());
    EXPECT_EQ(image.color(34), image.color(32));
    EXPECT_EQ(QColor::fromRgba(image.color(32)).rgb(), named(KsAppPreferences::PatchProtectionColor).rgb());
    EXPECT_EQ(image.color(18), keep);
    EXPECT_EQ(image.color(4 | 64), image.color(4));
    EXPECT_EQ(image.color(8 | 128), image.color(8));
    for (int index : {1, 3, 5, 6, 7, 9, 10, 11, 12, 13, 14})
        EXPECT_EQ(qAlpha(image.color(index)), 0) << index;
    // Without a slider the mask opacity is one half.
    EXPECT_NEAR(qAlpha(keep), 128, 1);
}

TEST_F(StatusArrayTest, TheSliderMinimumHidesTheStatusesButNotTheHighlight)
{
    FakeStatusRecord status(4, 4);
    m_slider = std::make_unique<QSlider>();
    m_slider->setRange(10, 90);
    m_slider->setValue(50);
    GmStatusArray* array = install(status);
    m_slider->setValue(10);
    for (int index : {0, 2, 4, 8, 32, 34, 255})
        EXPECT_EQ(qAlpha(array->statusImage()->color(index)), 0) << index;
    EXPECT_NEAR(qAlpha(array->highlightImage()->color(1)), 217, 1);
    EXPECT_EQ(qAlpha(array->highlightImage()->color(0)), 0);

    m_slider->setValue(90);
    EXPECT_EQ(qAlpha(array->statusImage()->color(2)), 255);
    EXPECT_EQ(QColor::fromRgba(array->statusImage()->color(2)).rgb(), named(KsAppPreferences::KeepMaskColor).rgb());
}

TEST_F(StatusArrayTest, SaturationFollowsTheSquareRootOfTheOpacity)
{
    const QColor c = GmStatusArray::saturationScaledColour(QColor::fromHsv(120, 200, 180), 0);
    EXPECT_NEAR(c.alphaF(), 0.5, 0.01);
    EXPECT_NEAR(c.hsvSaturationF(), 200 / 255.0 * std::sqrt(0.5), 0.01);
    EXPECT_EQ(c.hsvHue(), 120);
    EXPECT_EQ(c.value(), 180);
}

TEST_F(StatusArrayTest, RefreshReportsTheClassesPresentOnlyWhenTheyChange)
{
    FakeStatusRecord status(37, 5);
    GmStatusArray* array = install(status);
    EXPECT_EQ(array->statusesPresent(), 1);
    QSignalSpy changed(array, &GmStatusArray::statusChanged);
    QSignalSpy present(array, &GmStatusArray::statusesPresentChanged);

    status.set(1, 1, 2);
    array->refresh();
    EXPECT_EQ(array->statusesPresent(), 3);
    ASSERT_EQ(present.count(), 1);
    EXPECT_EQ(present.at(0).at(0).value<quint8>(), 3);

    // The last pixel of a row that is not a whole number of words.
    status.set(36, 4, 2 | 32);
    array->refresh();
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(present.count(), 1);

    status.set(36, 4, 8 | 64);
    array->refresh();
    EXPECT_EQ(array->statusesPresent(), 11);
    EXPECT_EQ(present.count(), 2);

    // The snapshot is a copy: later writes into the engine's bytes do not reach it.
    status.set(0, 0, 4);
    EXPECT_EQ(array->snapshot().pixelIndex(0, 0), 1);
    EXPECT_NE(array->snapshot().constBits(), status.bytes.data());
}

TEST_F(StatusArrayTest, TheTrimapIsGreyExceptForExactKeepAndDelete)
{
    FakeStatusRecord status(6, 1);
    const uchar values[] = {2, 4, 34, 1, 8, 20};
    for (int x = 0; x < 6; ++x)
        status.set(x, 0, values[x]);
    GmStatusArray* array = install(status);
    const QImage trimap = array->toGreyMaskImage();
    EXPECT_EQ(trimap.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(trimap.pixel(1, 0), qRgb(0, 0, 0));
    for (int x = 2; x < 6; ++x)
        EXPECT_EQ(trimap.pixel(x, 0), qRgb(128, 128, 128)) << x;
    EXPECT_NE(trimap.constBits(), status.bytes.data());
}

TEST_F(StatusArrayTest, ClosingEmptiesTheArrayAndReportsNoClasses)
{
    FakeStatusRecord status(8, 8);
    GmStatusArray* array = install(status);
    QSignalSpy present(array, &GmStatusArray::statusesPresentChanged);
    array->setStatusImage(nullptr);
    EXPECT_EQ(array->statusImage(), nullptr);
    EXPECT_EQ(array->highlightImage(), nullptr);
    EXPECT_EQ(array->engineStatusImage(), nullptr);
    ASSERT_EQ(present.count(), 1);
    EXPECT_EQ(present.at(0).at(0).value<quint8>(), 0);
    EXPECT_TRUE(array->toGreyMaskImage().isNull());
}

int setBits(const QImage& mono, const QImage& mask, bool inside)
{
    int n = 0;
    for (int y = 0; y < mono.height(); ++y)
        for (int x = 0; x < mono.width(); ++x) {
            const QPoint m = QPoint(x, y) - mask.offset();
            const bool in = mask.rect().contains(m) && mask.pixelIndex(m) != 0;
            if (in == inside)
                n += mono.pixelIndex(x, y);
        }
    return n;
}

TEST_F(StatusArrayTest, APatchLimitedRunLeavesNothingOutsideThePatch)
{
    FakeStatusRecord status(40, 30);
    GmStatusArray* array = install(status);
    const std::vector<bool> all(256, true);
    array->highlightChanged(all, Ht::colour::Red, 0xff);
    ASSERT_TRUE(waitUntil([&] { return !array->isHighlightRunning(); }));
    const QImage& highlight = *array->highlightImage();
    ASSERT_EQ(setBits(highlight, QImage(), false), 40 * 30);

    QImage mask(12, 9, QImage::Format_Indexed8);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    mask.fill(0);
    for (int y = 2; y < 7; ++y)
        for (int x = 3; x < 10; ++x)
            mask.setPixel(x, y, 1);
    mask.setOffset(QPoint(20, 15));
    GmStatusArray::setPatchMaskLookup([&] { return mask; });
    array->highlightChanged(all, Ht::colour::Red, 0xff);
    ASSERT_TRUE(waitUntil([&] { return !array->isHighlightRunning(); }));
    EXPECT_EQ(setBits(*array->highlightImage(), mask, false), 0);
    EXPECT_EQ(setBits(*array->highlightImage(), mask, true), 7 * 5);

    array->unHighlight();
    EXPECT_EQ(setBits(*array->highlightImage(), QImage(), false), 0);
}

TEST_F(StatusArrayTest, TheHighlightReadsTheSnapshotNotTheEngineBytes)
{
    FakeStatusRecord status(16, 16);
    GmStatusArray* array = install(status);
    // Written by a command after the last refresh: not yet part of what is shown.
    status.fill(0);
    array->highlightChanged(std::vector<bool>(256, true), Ht::colour::Red, 1);
    ASSERT_TRUE(waitUntil([&] { return !array->isHighlightRunning(); }));
    EXPECT_EQ(setBits(*array->highlightImage(), QImage(), false), 16 * 16);
}

TEST(StatusPixelCursor, VisitsOnlyMarkedPixelsOfTheRectangle)
{
    QImage status(6, 4, QImage::Format_Indexed8);
    status.fill(0);
    status.scanLine(1)[2] = 5;
    status.scanLine(1)[5] = 1;
    status.scanLine(3)[0] = 9;
    status.setOffset(QPoint(10, 20));
    StatusPixelCursor cursor;
    QList<QPoint> seen;
    for (cursor.begin(QRect(10, 20, 6, 4), &status), cursor.advance(); cursor.inRange(); cursor.advance())
        seen.append(QPoint(cursor.x(), cursor.y()));
    EXPECT_EQ(seen, (QList<QPoint>{{12, 21}, {15, 21}, {10, 23}}));

    // Parts of the rectangle outside the status image count as unmarked.
    seen.clear();
    for (cursor.begin(QRect(0, 0, 30, 30), &status), cursor.advance(); cursor.inRange(); cursor.advance())
        seen.append(QPoint(cursor.x(), cursor.y()));
    EXPECT_EQ(seen.size(), 3);
}

} // namespace
