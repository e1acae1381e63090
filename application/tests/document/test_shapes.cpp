// Coordinates, rectangles, polygons, raster masks and their result snapshot, and engine outlines.

#include "document/BlendingOptions.h"
#include "document/GmModel.h"
#include "document/PixelState.h"
#include "document/Polygon.h"
#include "document/Rectangle.h"
#include "document/ResolutionMapping.h"

#include "LogCapture.h"
#include "ModelImage.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <vector>

using testsupport::ModelImage;

namespace {

const QSize kImage(201, 151);

QSize workingSize(int d)
{
    return QSize((kImage.width() + d - 1) / d, (kImage.height() + d - 1) / d);
}

QPen maskPen(double width)
{
    return QPen(QColor(Qt::color1), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QPolygonF star()
{
    return QPolygonF(QVector<QPointF>{QPointF(40.3, 20.7), QPointF(150.2, 35.1), QPointF(60.6, 120.9), QPointF(100.1, 8.4),
                      QPointF(130.8, 128.2)});
}

ks::Polygon polygonOf(const QPolygonF& points, int openness)
{
    ks::Polygon polygon(points.first(), openness);
    for (int i = 1; i < points.size(); ++i)
        polygon.appendPoint(points[i]);
    return polygon;
}

} // namespace

TEST(Coordinates, AlignRoundGrowAndOverlap)
{
    QRectF r;
    r.setCoords(0.2, 0.7, 3.3, 2.9);
    alignRectToPixels(r);
    EXPECT_EQ(r, QRectF(QPointF(0, 0), QPointF(4, 3)));

    QRectF n;
    n.setCoords(-1.5, 2.49, 3.5, 7.51);
    EXPECT_EQ(roundRectF(n), QRectF(QPointF(-1, 2), QPointF(4, 8)));
    EXPECT_EQ(growRect(QRectF(1, 2, 3, 4), 0.5), QRectF(0.5, 1.5, 4, 5));
    EXPECT_EQ(dividePointF(QPointF(3, 9), 3), QPointF(1, 3));

    EXPECT_TRUE(ks::rectsOverlap(QRectF(0, 0, 10, 10), QRectF(10, 0, 5, 5)));   // touching edges
    EXPECT_TRUE(ks::rectsOverlap(QRectF(0, 0, 10, 10), QRectF(10, 10, 0, 0)));  // touching corner
    EXPECT_TRUE(ks::rectsOverlap(QRectF(0, 0, 10, 10), QRectF(2, 2, 1, 1)));
    EXPECT_FALSE(ks::rectsOverlap(QRectF(0, 0, 10, 10), QRectF(10.01, 0, 5, 5)));
    EXPECT_FALSE(ks::rectsOverlap(QRectF(0, 0, 10, 10), QRectF(5, 5, -2, 2)));
}

TEST(Coordinates, FollowTheModelsDivisor)
{
    ModelImage image(kImage.width(), kImage.height(), 4);
    EXPECT_EQ(toWorkspacePoint(QPointF(10, 6)), QPointF(2.5, 1.5));
    EXPECT_EQ(scalePointByResolution(QPointF(2.5, 1.5)), QPointF(10, 6));
    EXPECT_EQ(scaleRectByResolution(QRectF(1, 2, 3, 4)), QRectF(4, 8, 12, 16));
    EXPECT_EQ(unscaleRectByResolution(QRectF(4, 8, 12, 16)), QRectF(1, 2, 3, 4));
    EXPECT_EQ(roundedPointScaledByResolution(QPointF(2.5, 1.49)), QPointF(12, 4));
    EXPECT_EQ(workingImageRect(), QRect(0, 0, 51, 38));  // rounded up, as the working image is built
}

class Rasterise : public ::testing::TestWithParam<int> {};

TEST_P(Rasterise, MasksMatchAnIndependentlyPaintedReference)
{
    const int d = GetParam();
    ModelImage image(kImage.width(), kImage.height(), d);

    struct Case {
        const char* name;
        std::unique_ptr<Shape> shape;
        QPen pen;
        QBrush brush;
    };
    std::vector<Case> cases;
    auto rect = std::make_unique<ks::Rectangle>(QPointF(20.4, 30.6));
    rect->dragCornerTo(QPointF(133.3, 97.8));
    cases.push_back({"rectangle", std::move(rect), QPen(Qt::NoPen), QBrush(Qt::color1)});
    cases.push_back({"polygon", std::make_unique<ks::Polygon>(polygonOf(star(), 1)), QPen(Qt::NoPen),
                     QBrush(Qt::color1)});
    cases.push_back({"polyline", std::make_unique<ks::Polygon>(polygonOf(star(), 0)), maskPen(d * 3.0),
                     QBrush(Qt::NoBrush)});

    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        PixelState* state = c.shape->setPenAndBrush(c.pen, c.brush);
        ASSERT_TRUE(state->hasMask());
        const QImage reference = testsupport::referenceMask(workingSize(d), d, c.pen, c.brush, [&](QPainter& p) {
            c.shape->draw(&p, Shape::DrawPlain, QRectF(), 0);
        });
        ASSERT_GT(testsupport::setPixels(reference), 100);
        EXPECT_EQ(testsupport::differingPixels(testsupport::placedMask(workingSize(d), state->mask()), reference), 0);
        // The mask is its aligned bounds, at most the pen and a pixel of margin larger.
        const QRectF bounds = unscaleRectByResolution(c.shape->boundingRect());
        const QRect maskRect = state->maskRect();
        EXPECT_LE(maskRect.left(), bounds.left());
        EXPECT_LE(maskRect.top(), bounds.top());
        EXPECT_GE(maskRect.left(), bounds.left() - 4);
        EXPECT_GE(maskRect.right() + 1, bounds.right());
        EXPECT_LE(maskRect.right() + 1, bounds.right() + 4);
        for (int y = 0; y < state->mask().height(); ++y)
            for (int x = 0; x < state->mask().width(); ++x)
                ASSERT_LE(state->mask().constScanLine(y)[x], 1);

        const DvSelection selection = state->selection();
        EXPECT_EQ(selection.left, maskRect.left());
        EXPECT_EQ(selection.top, maskRect.top());
        EXPECT_EQ(selection.image.width, maskRect.width());
        EXPECT_EQ(selection.image.height, maskRect.height());
        EXPECT_EQ(selection.image.pixelType, int(DvPixelStatus));
        EXPECT_EQ(int(selection.image.stride), state->mask().bytesPerLine());
        EXPECT_EQ(selection.image.data, state->mask().constBits());
    }
}

INSTANTIATE_TEST_SUITE_P(Divisors, Rasterise, ::testing::Values(1, 2));

TEST(RasteriseEdges, ShapeOutsideTheImageGivesAnEmptyMaskAndClippingKeepsTheRest)
{
    ModelImage image(kImage.width(), kImage.height(), 2);
    ks::Polygon outside = polygonOf(QPolygonF(QVector<QPointF>{QPointF(300, 300), QPointF(400, 310), QPointF(350, 390)}), 1);
    PixelState* state = outside.setPenAndBrush(Qt::NoPen, QBrush(Qt::color1));
    EXPECT_TRUE(state->isRasterised());
    EXPECT_FALSE(state->hasMask());
    EXPECT_EQ(state->selection().image.width, 0);
    EXPECT_EQ(state->selection().image.data, nullptr);

    ks::Polygon across = polygonOf(QPolygonF(QVector<QPointF>{QPointF(-50, -50), QPointF(150, -20), QPointF(80, 90)}), 1);
    state = across.setPenAndBrush(Qt::NoPen, QBrush(Qt::color1));
    ASSERT_TRUE(state->hasMask());
    EXPECT_TRUE(QRect(QPoint(), workingSize(2)).contains(state->maskRect()));
    EXPECT_EQ(state->maskRect().topLeft(), QPoint(0, 0));
}

TEST(RasteriseEdges, SameStyleKeepsTheMaskAnotherStyleRebuildsIt)
{
    ModelImage image(kImage.width(), kImage.height(), 1);
    ks::Polygon line = polygonOf(QPolygonF(QVector<QPointF>{QPointF(10, 10), QPointF(90, 60)}), 0);
    PixelState* state = line.setPenAndBrush(maskPen(1), Qt::NoBrush);
    const QImage first = state->mask();
    EXPECT_EQ(line.setPenAndBrush(maskPen(1), Qt::NoBrush)->mask().constBits(), first.constBits());
    const int thin = testsupport::setPixels(state->mask());
    state = line.setPenAndBrush(maskPen(7), Qt::NoBrush);
    EXPECT_GT(testsupport::setPixels(state->mask()), 3 * thin);
    // The earlier mask's bytes live on in the copy that was taken of them.
    EXPECT_EQ(testsupport::setPixels(first), thin);

    std::unique_ptr<PixelState> taken = line.takePixelState();
    EXPECT_TRUE(taken->hasMask());
    EXPECT_FALSE(line.pixelState()->hasMask());
    EXPECT_FALSE(line.pixelState()->styleDiffers(maskPen(7), Qt::NoBrush));
}

TEST(PolygonShape, HitTestsAndDrags)
{
    ModelImage image(kImage.width(), kImage.height(), 1);
    ks::Polygon square = polygonOf(QPolygonF(QVector<QPointF>{QPointF(10, 10), QPointF(110, 10), QPointF(110, 110), QPointF(10, 110)}), 1);
    square.setHandleHalfSize(3);

    ShapeHit miss = square.hitTest(QPointF(150, 50));
    EXPECT_EQ(miss.kind, 0);
    EXPECT_EQ(miss.cursorShape, 10);

    ShapeHit vertex = square.hitTest(QPointF(111.5, 108.0));
    EXPECT_EQ(vertex.kind, 1);
    EXPECT_EQ(vertex.index, 2);
    EXPECT_EQ(vertex.cursorShape, 9);
    EXPECT_EQ(vertex.offset, QPointF(1.5, -2.0));

    ShapeHit segment = square.hitTest(QPointF(60, 111));
    EXPECT_EQ(segment.kind, 2);
    EXPECT_EQ(segment.index, 2);
    EXPECT_EQ(segment.cursorShape, 17);
    ShapeHit closing = square.hitTest(QPointF(9, 60));
    EXPECT_EQ(closing.kind, 2);
    EXPECT_EQ(closing.index, 3);

    ShapeHit inside = square.hitTest(QPointF(60, 60));
    EXPECT_EQ(inside.kind, 3);

    // The closing segment of an open polyline does not exist.
    ks::Polygon open = polygonOf(square.vertices(), 0);
    open.setHandleHalfSize(3);
    EXPECT_EQ(open.hitTest(QPointF(9, 60)).kind, 0);
    EXPECT_EQ(open.hitTest(QPointF(60, 60)).kind, 0);

    testsupport::DirtyLog dirty;
    square.beginDrag(vertex, QPointF(111.5, 108.0));
    EXPECT_FALSE(square.isChanged());
    square.dragTo(vertex, QPointF(121.5, 118.0));
    EXPECT_EQ(square.vertices()[2], QPointF(120, 120));
    EXPECT_TRUE(square.endDrag());
    ASSERT_FALSE(dirty.isEmpty());
    const QRectF announced = dirty.last();
    EXPECT_TRUE(announced.contains(QRectF(10, 10, 110, 110)));

    square.beginDrag(inside, QPointF(60, 60));
    square.dragTo(inside, QPointF(65, 62));
    EXPECT_EQ(square.vertices()[0], QPointF(15, 12));
    EXPECT_EQ(square.vertices()[2], QPointF(125, 122));
    EXPECT_TRUE(square.endDrag());

    square.beginDrag(inside, QPointF(65, 62));
    square.dragTo(inside, QPointF(65, 62));
    EXPECT_FALSE(square.endDrag());
}

TEST(PolygonShape, ContainsByTheEvenOddRule)
{
    ModelImage image(kImage.width(), kImage.height(), 1);
    ks::Polygon square = polygonOf(QPolygonF(QVector<QPointF>{QPointF(0, 0), QPointF(10, 0), QPointF(10, 10), QPointF(0, 10)}), 1);
    // A ray from outside the top-left corner to the centre passes through the vertex (0, 0).
    EXPECT_TRUE(square.contains(QPointF(5, 5)));
    EXPECT_TRUE(square.contains(QPointF(9, 1)));
    EXPECT_FALSE(square.contains(QPointF(11, 5)));
    ks::Polygon bow = polygonOf(star(), 1);
    EXPECT_FALSE(bow.contains(QPointF(95, 75)));  // the star's centre is covered twice
    ks::Polygon single(QPointF(3, 3), 1);
    EXPECT_FALSE(single.contains(QPointF(3, 3)));
}

TEST(PolygonShape, EditingTheTail)
{
    ModelImage image(kImage.width(), kImage.height(), 1);
    ks::Polygon line(QPointF(5, 5), 1);
    line.appendPoint(QPointF(5, 5));
    line.appendPoint(QPointF(5, 5));
    line.dropRepeatedTailPoints();
    EXPECT_EQ(line.vertices(), QPolygonF(QVector<QPointF>{QPointF(5, 5)}));

    line.appendPoint(QPointF(20, 5));
    line.appendPoint(QPointF(20, 5 + 1e-13));
    line.appendPoint(QPointF(20, 5 + 2e-13));
    line.dropRepeatedTailPoints();
    EXPECT_EQ(line.vertices().size(), 2);

    testsupport::DirtyLog dirty;
    line.appendPoint(QPointF(30, 40));
    line.moveLastPoint(QPointF(60, 80));
    EXPECT_EQ(line.vertices().last(), QPointF(60, 80));
    ASSERT_EQ(dirty.size(), 2);
    const QRectF moved = dirty.last();
    EXPECT_TRUE(moved.contains(QRectF(QPointF(20, 5), QPointF(60, 80))));  // old and new rubber band
    EXPECT_TRUE(moved.contains(QPointF(5, 5)));                             // and the closing segment

    line.redrawLastSegment();
    EXPECT_EQ(line.vertices(), QPolygonF(QVector<QPointF>{QPointF(5, 5), QPointF(60, 80)}));
}

TEST(RectangleShape, DragsNormaliseAndReportChanges)
{
    ModelImage image(kImage.width(), kImage.height(), 1);
    ks::Rectangle r(QPointF(50, 50));
    testsupport::DirtyLog dirty;
    r.dragCornerTo(QPointF(20, 30));  // past the anchor
    EXPECT_LT(r.rect().width(), 0);
    ASSERT_EQ(dirty.size(), 1);
    EXPECT_EQ(dirty.last(), QRectF(20, 30, 30, 20));
    EXPECT_TRUE(r.endDrag());
    EXPECT_EQ(r.rect(), QRectF(20, 30, 30, 20));
    EXPECT_EQ(r.corner1(), QPointF(20, 30));
    EXPECT_EQ(r.freeCorner(), QPointF(50, 50));

    r.dragCornerTo(QPointF(900, -40));  // kept inside the image
    EXPECT_EQ(r.freeCorner(), QPointF(201, 0));
    r.endDrag();

    ks::Rectangle box(QPointF(20, 20));
    box.dragCornerTo(QPointF(80, 60));
    box.endDrag();
    box.setHandleHalfSize(2);
    EXPECT_EQ(box.hitTest(QPointF(10, 10)).kind, 0);
    ShapeHit corner = box.hitTest(QPointF(81, 59));
    EXPECT_EQ(corner.kind, 1);
    EXPECT_EQ(corner.index, 2);
    ShapeHit edge = box.hitTest(QPointF(50, 19));
    EXPECT_EQ(edge.kind, 2);
    EXPECT_EQ(edge.index, 1);
    ShapeHit whole = box.hitTest(QPointF(50, 40));
    EXPECT_EQ(whole.kind, 3);
    EXPECT_EQ(whole.cursorShape, int(Qt::OpenHandCursor));

    box.beginDrag(corner, QPointF(81, 59));
    box.dragTo(corner, QPointF(11, 11));  // the bottom-right corner past the top-left one
    EXPECT_TRUE(box.endDrag());
    EXPECT_EQ(box.rect(), QRectF(QPointF(10, 12), QPointF(20, 20)));

    box.beginDrag(whole, QPointF(15, 15));
    box.dragTo(whole, QPointF(15, 15));
    EXPECT_FALSE(box.endDrag());
    ShapeHit top = box.hitTest(QPointF(15, 12));
    ASSERT_EQ(top.kind, 2);
    box.beginDrag(top, QPointF(15, 12));
    box.dragTo(top, QPointF(15, 2));
    EXPECT_TRUE(box.endDrag());
    EXPECT_EQ(box.rect().top(), 2);
}

TEST(RectangleShape, SnapKeepsCornersOnTheWorkingGrid)
{
    ModelImage image(kImage.width(), kImage.height(), 4);
    ks::Rectangle r(QPointF(9.7, 14.1), 1);
    EXPECT_EQ(r.corner1(), QPointF(8, 16));
    r.dragCornerTo(QPointF(33.9, 30.0));
    EXPECT_EQ(r.freeCorner(), QPointF(32, 32));
}

TEST(ShapeMaps, RoundTrip)
{
    ModelImage image(kImage.width(), kImage.height(), 1);
    ks::Rectangle r(QPointF(70, 60), 1);
    r.dragCornerTo(QPointF(30, 90));
    ks::Rectangle back(r.toVariant());
    EXPECT_EQ(back.rect(), r.rect());
    EXPECT_EQ(back.corner1(), r.corner1());
    EXPECT_EQ(back.freeCorner(), r.freeCorner());
    EXPECT_EQ(back.snap(), 1);

    QVariantMap old = r.toVariant().toMap();
    old.remove(QStringLiteral("snap_"));
    EXPECT_EQ(ks::Rectangle(QVariant(old)).snap(), 0);

    ks::Polygon p = polygonOf(star(), 0);
    const QVariantMap map = p.toVariant().toMap();
    EXPECT_EQ(map.value(QStringLiteral("openness_")).toInt(), 0);
    ks::Polygon q(p.toVariant());
    EXPECT_EQ(q.vertices(), p.vertices());
    EXPECT_EQ(q.openness(), 0);
}

TEST(Outlines, SessionPolylinesScaledUnitedAndShortOnesSkipped)
{
    ModelImage image(kImage.width(), kImage.height(), 2);
    std::vector<DvOutlinePoint> a = {{1.0f, 2.0f}, {5.5f, 2.0f}, {5.5f, 9.0f}};
    std::vector<DvOutlinePoint> single = {{40.0f, 40.0f}};
    std::vector<DvOutlinePoint> b = {{20.0f, 30.0f}, {25.0f, 31.0f}};
    std::vector<DvOutline> lines = {{a.data(), 3, 0}, {single.data(), 1, 0}, {b.data(), 2, 0}, {nullptr, 4, 0}};
    DvSession session{};
    session.outlines = lines.data();
    session.outlineCount = int(lines.size());

    ks::Polygon shape(QPointF(0, 0), 1);
    shape.setOutlinePolygons(&session);
    ASSERT_EQ(shape.outlinePieces().size(), 2u);
    EXPECT_EQ(shape.outlinePieces()[0].polygon,
              QPolygonF(QVector<QPointF>{QPointF(2, 4), QPointF(11, 4), QPointF(11, 18)}));
    EXPECT_EQ(shape.outlinePieces()[0].bounds, QRectF(QPointF(2, 4), QPointF(11, 18)));
    EXPECT_EQ(shape.outlinePieces()[1].bounds, QRectF(QPointF(40, 60), QPointF(50, 62)));
    EXPECT_EQ(shape.outlineBounds(), QRectF(QPointF(2, 4), QPointF(50, 62)));

    QImage canvas(100, 100, QImage::Format_ARGB32);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        painter.setPen(Qt::black);
        shape.drawOutlines(&painter, QRectF(0, 0, 20, 20));  // the second piece lies outside
    }
    EXPECT_EQ(qGray(canvas.pixel(6, 4)), 0);
    EXPECT_EQ(qGray(canvas.pixel(45, 61)), 255);

    shape.setOutlinePolygons(nullptr);
    EXPECT_TRUE(shape.outlinePieces().empty());
}

class SnapshotTest : public ::testing::Test {
protected:
    SnapshotTest() : m_image(kImage.width(), kImage.height(), 1)
    {
        m_status = QImage(workingSize(1), QImage::Format_Indexed8);
        QVector<QRgb> grey;
        for (int i = 0; i < 256; ++i)
            grey.append(qRgb(i, i, i));
        m_status.setColorTable(grey);
        for (int y = 0; y < m_status.height(); ++y)
            for (int x = 0; x < m_status.width(); ++x)
                m_status.scanLine(y)[x] = uchar((x < 100 ? 2 : 4) | (y % 3 == 0 ? 64 : 0) | (y % 5 == 0 ? 32 : 0));
    }

    ModelImage m_image;
    QImage m_status;
};

TEST_F(SnapshotTest, StatusChangedAgainstTheSavedClassBits)
{
    ks::Polygon patch = polygonOf(QPolygonF(QVector<QPointF>{QPointF(80, 20), QPointF(140, 20), QPointF(110, 90)}), 1);
    PixelState* state = patch.setPenAndBrush(Qt::NoPen, QBrush(Qt::color1));
    EXPECT_TRUE(state->statusChanged(m_status));  // nothing saved
    const QImage maskBefore = state->mask().copy();

    state->savemask(m_status);
    EXPECT_TRUE(state->isSaved());
    EXPECT_FALSE(state->statusChanged(m_status));
    // The raster mask the engine reads stays 0/1.
    EXPECT_EQ(testsupport::differingPixels(state->mask(), maskBefore), 0);
    EXPECT_EQ(state->mask().constBits() == nullptr, false);
    const QImage& saved = state->savedStatus();
    const QPoint inside = QPoint(110, 40) - state->offset();
    EXPECT_EQ(saved.pixelIndex(inside), 4);
    EXPECT_EQ(saved.pixelIndex(QPoint(100, 40) - state->offset()), 4);
    EXPECT_EQ(saved.pixelIndex(QPoint(95, 40) - state->offset()), 2);

    // Only the class bits count, and only inside the shape.
    m_status.scanLine(40)[110] = 4 | 64;
    m_status.scanLine(60)[85] = 8;  // inside the mask's rectangle, outside the shape
    EXPECT_FALSE(state->statusChanged(m_status));
    m_status.scanLine(40)[110] = 8;
    EXPECT_TRUE(state->statusChanged(m_status));

    // A rebuilt mask drops the snapshot that belonged to the old one.
    patch.setPenAndBrush(maskPen(3), QBrush(Qt::color1));
    EXPECT_FALSE(patch.pixelState()->isSaved());
}

TEST_F(SnapshotTest, BlendingChangedComparesTheSettingsMaps)
{
    ks::Polygon patch = polygonOf(QPolygonF(QVector<QPointF>{QPointF(80, 20), QPointF(140, 20), QPointF(110, 90)}), 1);
    PixelState* state = patch.setPenAndBrush(Qt::NoPen, QBrush(Qt::color1));
    BlendingOptions options;
    EXPECT_TRUE(state->blendingChanged(options));
    state->setKey(options.toMap());
    EXPECT_FALSE(state->blendingChanged(options));
    options.blendRatio = 0.6f;
    EXPECT_TRUE(state->blendingChanged(options));
}

TEST_F(SnapshotTest, SavingWithoutAMaskIsLoggedAndSavesNothing)
{
    PixelState state;
    testsupport::LogCapture log;
    state.savemask(m_status);
    EXPECT_TRUE(log.contains(QStringLiteral("Caught (and avoided) crash in PixelState::savemask (bug 1196)")));
    EXPECT_FALSE(state.isSaved());
    EXPECT_TRUE(state.statusChanged(m_status));
}

TEST_F(SnapshotTest, SnapshotCopiedIntoAnOverlappingPatch)
{
    ks::Rectangle left(QPointF(40, 40));
    left.dragCornerTo(QPointF(100, 80));
    ks::Rectangle right(QPointF(90, 50));
    right.dragCornerTo(QPointF(150, 70));
    PixelState* a = left.setPenAndBrush(Qt::NoPen, QBrush(Qt::color1));
    PixelState* b = right.setPenAndBrush(Qt::NoPen, QBrush(Qt::color1));
    a->savemask(m_status);
    b->copySavedFrom(*a);
    EXPECT_FALSE(b->isSaved());
    const QImage& copied = b->savedStatus();
    ASSERT_FALSE(copied.isNull());
    EXPECT_EQ(copied.pixelIndex(QPoint(95, 60) - b->offset()), 2);   // inside both
    EXPECT_EQ(copied.pixelIndex(QPoint(120, 60) - b->offset()), 0);  // only in the second
}
