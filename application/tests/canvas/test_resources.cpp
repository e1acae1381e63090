// The compiled-in pictures and the bitmap cursors built from them.

#include "canvas/BitmapCursor.h"

#include <QBitmap>
#include <QFile>
#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

namespace {

const char* const kPictures[] = {
    "tool_image_pan", "tool_image_zoom",
    "tool_keep_exact", "tool_keep_local", "tool_keep_global",
    "tool_delete_exact", "tool_delete_local", "tool_delete_global",
    "tool_complex_exact", "tool_complex_local", "tool_complex_global",
    "tool_erase_exact", "tool_erase_local", "tool_erase_global",
    "tool_filter_clean", "tool_region_select", "tool_mark_edge", "tool_region_rect",
    "tool_region_poly", "tool_region_exact", "tool_mark_preview",
    "curs_data_handpoint", "curs_mask_handpoint", "curs_data_handopen", "curs_mask_handopen",
    "curs_data_handgrab", "curs_mask_handgrab", "curs_data_poly", "curs_mask_poly",
    "curs_data_pipette", "curs_mask_pipette", "curs_data_zoomin", "curs_data_zoomout",
    "curs_data_zoomunavailable", "curs_mask_zoom",
    "slider_handle_horizontal", "slider_handle_vertical", "nav_zoom_in", "nav_zoom_out",
    "2arrow-show-icon-16x16", "2arrow-hide-icon-16x16", "pipette",
};

struct CursorCase {
    const char* data;
    const char* mask;
    int hotX;
    int hotY;
};

const CursorCase kCursors[] = {
    {"handpoint", "handpoint", 5, 1},
    {"handopen", "handopen", 7, 7},
    {"handgrab", "handgrab", 8, 9},
    {"zoomin", "zoom", 6, 6},
    {"zoomout", "zoom", 6, 6},
    {"zoomunavailable", "zoom", 6, 6},
    {"poly", "poly", 5, 16},
    {"pipette", "pipette", 0, 31},
};

QString path(const char* name, bool withSlash)
{
    return QString(withSlash ? ":/images/%1.png" : ":images/%1.png").arg(name);
}

bool isBlack(QRgb pixel) { return qGray(pixel) < 128; }

TEST(ResourcesTest, EveryPictureLoadsUnderBothSpellings)
{
    EXPECT_EQ(std::size(kPictures), 42u);
    for (const char* name : kPictures) {
        for (bool slash : {true, false}) {
            const QString p = path(name, slash);
            EXPECT_TRUE(QFile::exists(p)) << p.toStdString();
            EXPECT_FALSE(QImage(p).isNull()) << p.toStdString();
            EXPECT_FALSE(QPixmap(p).isNull()) << p.toStdString();
        }
    }
}

TEST(ResourcesTest, TheSplashScreenHasAnOpaquePicture)
{
    const QImage splash(QStringLiteral(":/images/splash.png"));
    ASSERT_FALSE(splash.isNull());
    EXPECT_EQ(splash.size(), QSize(480, 300));
    const QImage argb = splash.convertToFormat(QImage::Format_ARGB32);
    int transparent = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            transparent += qAlpha(argb.pixel(x, y)) < 255 ? 1 : 0;
    EXPECT_EQ(transparent, 0);
}

TEST(ResourcesTest, CursorPicturesAre32By32BlackAndWhite)
{
    for (const char* name : kPictures) {
        if (!QString(name).startsWith("curs_"))
            continue;
        const QImage image(path(name, true));
        ASSERT_EQ(image.size(), QSize(32, 32)) << name;
        int black = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const QRgb p = image.pixel(x, y);
                EXPECT_EQ(qAlpha(p), 255) << name;
                EXPECT_TRUE(p == qRgb(0, 0, 0) || p == qRgb(255, 255, 255))
                    << name << " at " << x << "," << y;
                black += isBlack(p);
            }
        EXPECT_GT(black, 20) << name;
    }
}

TEST(ResourcesTest, SliderHandlesAreUprightAndLying)
{
    const QImage horizontal(":/images/slider_handle_horizontal.png");
    const QImage vertical(":/images/slider_handle_vertical.png");
    EXPECT_EQ(horizontal.size(), vertical.size().transposed());
    EXPECT_LT(horizontal.width(), horizontal.height());
}

TEST(ResourcesTest, EveryCursorPairBuildsWithItsHotSpot)
{
    for (const CursorCase& c : kCursors) {
        const QString dataPath = QString(":images/curs_data_%1.png").arg(c.data);
        const QString maskPath = QString(":images/curs_mask_%1.png").arg(c.mask);
        const std::unique_ptr<QCursor> cursor = makeBitmapCursor(c.hotX, c.hotY, dataPath, maskPath);
        ASSERT_NE(cursor, nullptr) << c.data;
        EXPECT_EQ(cursor->shape(), Qt::BitmapCursor);
        EXPECT_EQ(cursor->hotSpot(), QPoint(c.hotX, c.hotY)) << c.data;

        // Black in the picture is a set bit of the cursor, in the data and in the mask.
        const QImage data(dataPath), mask(maskPath);
        const QImage dataBits = cursor->bitmap(Qt::ReturnByValue).toImage();
        const QImage maskBits = cursor->mask(Qt::ReturnByValue).toImage();
        ASSERT_EQ(dataBits.size(), QSize(32, 32));
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                ASSERT_EQ(isBlack(dataBits.pixel(x, y)), isBlack(data.pixel(x, y))) << c.data;
                ASSERT_EQ(isBlack(maskBits.pixel(x, y)), isBlack(mask.pixel(x, y))) << c.mask;
            }
        // The hot spot lies on the visible cursor, and nothing black lies outside the mask.
        EXPECT_TRUE(isBlack(mask.pixel(c.hotX, c.hotY))) << c.data;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                if (isBlack(data.pixel(x, y))) {
                    ASSERT_TRUE(isBlack(mask.pixel(x, y))) << c.data << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(ResourcesTest, CursorIsNotBuiltFromMissingOrMismatchedPictures)
{
    EXPECT_EQ(makeBitmapCursor(0, 0, ":/images/none.png", ":/images/curs_mask_zoom.png"), nullptr);
    EXPECT_EQ(makeBitmapCursor(0, 0, ":/images/curs_data_zoomin.png", ""), nullptr);
    // A 24 x 24 picture does not pair with a 32 x 32 mask.
    EXPECT_EQ(makeBitmapCursor(0, 0, ":/images/tool_image_pan.png", ":/images/curs_mask_zoom.png"),
              nullptr);
}

TEST(ResourcesTest, TransparentPixelsCountAsWhite)
{
    const QString scratch = qEnvironmentVariable("KESTRINE_TEST_SCRATCH");
    ASSERT_FALSE(scratch.isEmpty());
    QImage data(8, 8, QImage::Format_ARGB32);
    data.fill(Qt::transparent);
    data.setPixel(2, 3, qRgb(0, 0, 0));
    QImage mask(8, 8, QImage::Format_ARGB32);
    mask.fill(Qt::black);
    ASSERT_TRUE(data.save(scratch + "/data.png"));
    ASSERT_TRUE(mask.save(scratch + "/mask.png"));
    const auto cursor = makeBitmapCursor(1, 1, scratch + "/data.png", scratch + "/mask.png");
    ASSERT_NE(cursor, nullptr);
    const QImage bits = cursor->bitmap(Qt::ReturnByValue).toImage();
    EXPECT_TRUE(isBlack(bits.pixel(2, 3)));
    EXPECT_FALSE(isBlack(bits.pixel(0, 0)));
}

} // namespace
