// Brush strokes at the working resolution: dabs and segments, drawing, rasterising, the
// project map, repaint announcements and the model's brushing list.

#include "document/Brushing.h"
#include "document/GmBrushing.h"
#include "document/GmModel.h"
#include "document/PixelState.h"
#include "document/ResolutionMapping.h"

#include "ModelImage.h"
#include "StreamRoundTrip.h"

#include <QBitmap>
#include <QBuffer>
#include <QDataStream>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

using testsupport::ModelImage;

namespace {

const QSize kImage(301, 203);

int stroked(const QImage& mono)
{
    int n = 0;
    for (int y = 0; y < mono.height(); ++y)
        for (int x = 0; x < mono.width(); ++x)
            n += mono.pixelIndex(x, y) == 1;
    return n;
}

QRect strokedBounds(const QImage& mono)
{
    QRect bounds;
    for (int y = 0; y < mono.height(); ++y)
        for (int x = 0; x < mono.width(); ++x)
            if (mono.pixelIndex(x, y) == 1)
                bounds = bounds.united(QRect(x, y, 1, 1));
    return bounds;
}

} // namespace

class DabTest : public ::testing::TestWithParam<int> {};

TEST_P(DabTest, OneClickPaintsARoundDabOfTheBrushSize)
{
    const int d = GetParam();
    ModelImage image(kImage.width(), kImage.height(), d);
    Brushing stroke(QColor(0, 200, 0));
    EXPECT_EQ(stroke.size(), workingImageRect().size());
    EXPECT_EQ(stroke.format(), QImage::Format_Mono);

    testsupport::DirtyLog dirty;
    stroke.startStroke(QPointF(100.0, 80.0), 9);
    const int n = stroked(stroke);
    EXPECT_GE(n, 55);
    EXPECT_LE(n, 70);
    // Round: as wide as high, centred on the point in working coordinates.
    const QRect bounds = strokedBounds(stroke);
    EXPECT_EQ(bounds.width(), bounds.height());
    EXPECT_LE(std::abs(bounds.center().x() + 0.5 - 100.0 / d), 1.0);
    EXPECT_LE(std::abs(bounds.center().y() + 0.5 - 80.0 / d), 1.0);

    // Everything painted lies inside the announced area and the bounding rectangle.
    ASSERT_EQ(dirty.size(), 1);
    EXPECT_TRUE(dirty.united().contains(QRectF(bounds.x() * d, bounds.y() * d, bounds.width() * d, bounds.height() * d)));
    EXPECT_TRUE(stroke.boundingReducedRect().contains(QRectF(bounds)));
    EXPECT_EQ(stroke.boundingRect(), scaleRectByResolution(stroke.boundingReducedRect()));
    EXPECT_EQ(stroke.path().elementCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Divisors, DabTest, ::testing::Values(1, 2));

TEST(BrushStroke, SegmentsStayInsideTheirAreaAndRasteriseAsPainted)
{
    ModelImage image(kImage.width(), kImage.height(), 2);
    Brushing stroke(QColor(200, 0, 0));
    stroke.startStroke(QPointF(30, 40), 6);
    stroke.addSegment(QPointF(180, 60), 6);
    stroke.addSegment(QPointF(250, 170), 11);
    EXPECT_EQ(stroke.path().elementCount(), 3);
    const QRect bounds = strokedBounds(stroke);
    EXPECT_TRUE(stroke.boundingReducedRect().contains(QRectF(bounds)));
    // Painted at the working resolution: the segment ends sit at the divided points.
    EXPECT_EQ(stroke.pixelIndex(90 - 1, 30 - 1), 1);
    EXPECT_EQ(stroke.pixelIndex(125 - 1, 85 - 1), 1);

    stroke.rasterise();
    const PixelState* state = stroke.pixelState();
    ASSERT_TRUE(state->hasMask());
    EXPECT_EQ(state->mask().format(), QImage::Format_Indexed8);
    QRectF aligned = stroke.boundingReducedRect();
    alignRectToPixels(aligned);
    EXPECT_EQ(state->maskRect(), aligned.toRect() & stroke.rect());
    for (int y = 0; y < stroke.height(); ++y)
        for (int x = 0; x < stroke.width(); ++x) {
            const QPoint at = QPoint(x, y) - state->offset();
            const int raster = state->mask().rect().contains(at) ? state->mask().pixelIndex(at) : 0;
            ASSERT_EQ(raster, stroke.pixelIndex(x, y)) << x << "," << y;
        }
    const DvSelection selection = state->selection();
    EXPECT_EQ(selection.left, state->maskRect().left());
    EXPECT_EQ(selection.image.pixelType, int(DvPixelStatus));
}

TEST(BrushStroke, ContainsOnlyWhereTheMaskIsSet)
{
    ModelImage image(kImage.width(), kImage.height(), 2);
    Brushing stroke(QColor(0, 0, 255));
    stroke.startStroke(QPointF(60, 60), 10);
    stroke.addSegment(QPointF(140, 90), 10);
    int inside = 0;
    for (double y = 30; y < 120; y += 0.75)
        for (double x = 30; x < 170; x += 0.75) {
            const int px = int(std::floor(x / 2 + 0.5));
            const int py = int(std::floor(y / 2 + 0.5));
            const bool set = stroke.pixelIndex(px, py) == 1;
            inside += set;
            ASSERT_EQ(stroke.contains(QPointF(x, y)), set) << x << "," << y;
        }
    EXPECT_GT(inside, 100);
    EXPECT_FALSE(stroke.contains(QPointF(-10, 5)));
    EXPECT_FALSE(stroke.contains(QPointF(5000, 5)));
}

TEST(BrushStroke, StrokeOutsideTheImageHasNoArea)
{
    ModelImage image(kImage.width(), kImage.height(), 1);
    Brushing stroke(QColor(0, 0, 255));
    testsupport::DirtyLog dirty;
    stroke.startStroke(QPointF(-100, -100), 9);
    stroke.addSegment(QPointF(-50, -120), 9);
    EXPECT_TRUE(stroke.boundingRect().isEmpty());
    EXPECT_EQ(stroked(stroke), 0);
    EXPECT_TRUE(dirty.isEmpty());
}

TEST(BrushStroke, PendingSegmentIsDrawnNotPaintedAndClearingEmptiesAll)
{
    ModelImage image(kImage.width(), kImage.height(), 1);
    Brushing stroke(QColor(255, 0, 0));
    stroke.startStroke(QPointF(20, 20), 5);
    const int dab = stroked(stroke);
    testsupport::DirtyLog dirty;
    stroke.updateStroke(QPointF(120, 20), 5);
    stroke.updateStroke(QPointF(120, 100), 5);
    EXPECT_EQ(stroked(stroke), dab);
    ASSERT_EQ(dirty.size(), 2);
    EXPECT_TRUE(dirty.last().contains(QPointF(118, 20)));  // the old end

    QImage canvas(kImage, QImage::Format_ARGB32);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        stroke.draw(&painter, Shape::DrawPlain, QRectF(), 0);
    }
    EXPECT_EQ(canvas.pixel(19, 19), qRgb(255, 0, 0));  // the dab from the mask
    EXPECT_EQ(canvas.pixel(70, 60), qRgb(255, 0, 0));  // the pending segment
    EXPECT_EQ(canvas.pixel(200, 150), qRgb(255, 255, 255));

    dirty.clear();
    stroke.clearStroke();
    EXPECT_EQ(stroked(stroke), 0);
    EXPECT_TRUE(stroke.boundingRect().isEmpty());
    EXPECT_EQ(stroke.path().elementCount(), 0);
    ASSERT_EQ(dirty.size(), 1);
    EXPECT_TRUE(dirty.last().contains(QRectF(18, 18, 100, 80)));
}

TEST(BrushStroke, DrawnScaledByTheDivisorInTheStrokeColour)
{
    ModelImage image(kImage.width(), kImage.height(), 2);
    Brushing stroke(QColor(10, 20, 250));
    stroke.startStroke(QPointF(100, 100), 8);
    QImage canvas(kImage, QImage::Format_ARGB32);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        painter.setPen(QColor(0, 0, 0, 255));
        stroke.draw(&painter, Shape::DrawNormal, QRectF(90, 90, 5, 5), 0);
    }
    EXPECT_EQ(canvas.pixel(97, 97), qRgb(10, 20, 250));
    EXPECT_EQ(canvas.pixel(93, 95), qRgb(10, 20, 250));
    EXPECT_EQ(canvas.pixel(91, 91), qRgb(255, 255, 255));    // outside the round dab
    EXPECT_EQ(canvas.pixel(104, 100), qRgb(255, 255, 255));  // in the dab, far from the exposed area
}

TEST(BrushStroke, ProjectMapRoundTripKeepsEveryPixel)
{
    ModelImage image(kImage.width(), kImage.height(), 2);
    Brushing stroke(QColor(12, 34, 56));
    stroke.startStroke(QPointF(10, 10), 7);
    stroke.addSegment(QPointF(280, 190), 13);
    stroke.addSegment(QPointF(200, 20), 3);
    const QVariant map = stroke.toVariant();
    const QVariantMap m = map.toMap();
    ASSERT_TRUE(m.value(QStringLiteral("Bitmap")).canConvert<QBitmap>());
    // Stored inverted: a pixel of the stroke is a clear bitmap pixel.
    const QImage stored = m.value(QStringLiteral("Bitmap")).value<QBitmap>().toImage();
    EXPECT_EQ(QColor(stored.pixel(5, 5)), QColor(Qt::color0));
    EXPECT_EQ(QColor(stored.pixel(100, 100)), QColor(Qt::color1));

    // Through the project file's stream, as a project is written.
    Brushing back(testsupport::throughStream(map));
    ASSERT_EQ(back.size(), stroke.size());
    for (int y = 0; y < stroke.height(); ++y)
        for (int x = 0; x < stroke.width(); ++x)
            ASSERT_EQ(back.pixelIndex(x, y), stroke.pixelIndex(x, y)) << x << "," << y;
    EXPECT_EQ(back.path(), stroke.path());
    EXPECT_EQ(back.boundingReducedRect(), stroke.boundingReducedRect());
    EXPECT_EQ(back.colour(), stroke.colour());
    EXPECT_EQ(back.color(1), QColor(12, 34, 56).rgba());
    EXPECT_EQ(qAlpha(back.color(0)), 0);
}

TEST(BrushStroke, CopyIsIndependentOfTheOriginal)
{
    ModelImage image(kImage.width(), kImage.height(), 1);
    Brushing stroke(QColor(0, 0, 0));
    stroke.startStroke(QPointF(50, 50), 9);
    Brushing copy(stroke);
    stroke.clearStroke();
    EXPECT_GT(stroked(copy), 50);
    EXPECT_EQ(copy.boundingReducedRect().isEmpty(), false);
}

TEST(BrushStroke, OutlineHitsAndBounds)
{
    ModelImage image(kImage.width(), kImage.height(), 2);
    Brushing stroke(QColor(0, 0, 0));
    stroke.startStroke(QPointF(100, 100), 10);
    stroke.setHandleHalfSize(2);
    EXPECT_EQ(stroke.hitTest(QPointF(10, 10)).kind, 0);
    EXPECT_EQ(stroke.hitTest(QPointF(99, 99)).kind, 3);

    std::vector<DvOutlinePoint> ring = {{46.0f, 46.0f}, {53.0f, 46.0f}, {53.0f, 53.0f}, {46.0f, 53.0f}};
    DvOutline outline{ring.data(), int(ring.size()), 0};
    DvSession session{};
    session.outlines = &outline;
    session.outlineCount = 1;
    stroke.setOutlinePolygons(&session);
    ASSERT_EQ(stroke.outlinePieces().size(), 1u);
    EXPECT_TRUE(stroke.boundingRect().contains(QRectF(92, 92, 14, 14)));
    const ShapeHit onEdge = stroke.hitTest(QPointF(105.5, 100));
    EXPECT_EQ(onEdge.kind, 2);
    EXPECT_EQ(onEdge.cursorShape, 0);
    EXPECT_EQ(stroke.hitTest(QPointF(99, 99)).kind, 0);  // the inside of the outline is no handle

    ShapeHit hit = onEdge;
    stroke.beginDrag(hit, QPointF(105.5, 100));
    stroke.dragTo(hit, QPointF(130, 100));
    EXPECT_FALSE(stroke.endDrag());
}

TEST(BrushingList, JoinsAndLeavesTheModelAndRepaintsOnDeletion)
{
    ModelImage image(kImage.width(), kImage.height(), 2);
    auto* stroke = new Brushing(QColor(1, 2, 3));
    stroke->startStroke(QPointF(150, 100), 12);
    stroke->addSegment(QPointF(200, 120), 12);
    const QRectF area = stroke->boundingRect();
    auto* wrapper = new GmBrushing(stroke);
    auto* other = new GmBrushing(new Brushing(QColor(4, 5, 6)));
    EXPECT_EQ(GmModel::instance()->brushings(), (QList<GmBrushing*>{wrapper, other}));
    EXPECT_EQ(wrapper->brushing(), stroke);

    testsupport::DirtyLog dirty;
    delete wrapper;
    EXPECT_EQ(GmModel::instance()->brushings(), QList<GmBrushing*>{other});
    ASSERT_EQ(dirty.size(), 1);
    EXPECT_TRUE(dirty.last().contains(area));

    // An empty stroke repaints nothing; a wrapper that outlives the model builds no new one.
    dirty.clear();
    GmModel::destroy();
    delete other;
    EXPECT_EQ(GmModel::existingInstance(), nullptr);
}

TEST(BrushingList, PaintLineIsTheFootprintOfADab)
{
    QImage footprint(40, 40, QImage::Format_Mono);
    footprint.setColorTable({qRgba(0, 0, 0, 0), qRgb(255, 0, 0)});
    footprint.fill(0);
    const QRectF area = Brushing::paintLine(footprint, QPointF(20, 20), QPointF(20, 20), 15);
    EXPECT_EQ(area, QRectF(12, 12, 15, 15));
    const int n = stroked(footprint);
    EXPECT_GT(n, int(0.9 * M_PI * 7.5 * 7.5));
    EXPECT_LT(n, int(1.1 * M_PI * 7.5 * 7.5));
    EXPECT_EQ(footprint.color(1), qRgb(255, 0, 0));  // the table is left as it was
    EXPECT_TRUE(Brushing::paintLine(footprint, QPointF(-30, -30), QPointF(-20, -30), 5).isEmpty());
}
