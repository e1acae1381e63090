// The three patch tools through the canvas on a photograph opened through the model and the
// engine: what a drag, a polygon or a stroke leaves in the model, what is cancelled, where the
// tools can be used; and the outline hit test of a brushed patch.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "document/BrushRegion.h"
#include "document/Brushing.h"
#include "document/PolyRegion.h"
#include "document/RectRegion.h"
#include "tools/BrushingTool.h"
#include "tools/NoTool.h"
#include "tools/RegionBrushTool.h"
#include "tools/RegionPolyTool.h"
#include "tools/RegionRectTool.h"

#include "EngineDocument.h"
#include "ShownView.h"
#include "WidgetInput.h"

#include "dravik.h"

#include <QSignalSpy>

#include <memory>

namespace {

// The mask's pixel indices row by row: comparable whatever the colour table says.
QByteArray maskBits(const QImage& mask)
{
    QByteArray bits;
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x)
            bits.append(char(mask.pixelIndex(x, y)));
    return bits;
}

class PatchToolTest : public testsupport::EngineDocument {
protected:
    void SetUp() override
    {
        EngineDocument::SetUp();
        qRegisterMetaType<GmRegion*>();
        m_view = std::make_unique<ImageView>();
        m_noTool = std::make_unique<NoTool>();
        m_rect = std::make_unique<RegionRectTool>();
        m_poly = std::make_unique<RegionPolyTool>();
        m_brush = std::make_unique<RegionBrushTool>();
        ASSERT_TRUE(testsupport::showWithViewport(*m_view, QSize(900, 700)));
    }
    void TearDown() override
    {
        m_brush.reset();
        m_poly.reset();
        m_rect.reset();
        m_noTool.reset();
        m_view.reset();
        EngineDocument::TearDown();
    }
    void openPhoto()
    {
        open(1);
        canvas()->setZoom(true, 1);
        testsupport::settle();
    }
    GmZoomWidget* canvas() const { return m_view->canvas(); }
    QPoint at(QPointF p) const { return canvas()->imageRect().topLeft() + p.toPoint(); }
    void press(QPointF p) { testsupport::mousePress(canvas(), at(p)); }
    void move(QPointF p) { testsupport::mouseMove(canvas(), at(p)); }
    void release(QPointF p) { testsupport::mouseRelease(canvas(), at(p)); }
    void click(QPointF p) { testsupport::mouseClick(canvas(), at(p)); }
    void doubleClick(QPointF p) { testsupport::mouseDoubleClick(canvas(), at(p)); }
    void drag(QPointF from, QPointF via, QPointF to)
    {
        press(from);
        move(via);
        move(to);
        release(to);
    }

    std::unique_ptr<ImageView> m_view;
    std::unique_ptr<NoTool> m_noTool;
    std::unique_ptr<RegionRectTool> m_rect;
    std::unique_ptr<RegionPolyTool> m_poly;
    std::unique_ptr<RegionBrushTool> m_brush;
};

} // namespace

TEST_F(PatchToolTest, NoneIsAvailableWithoutAnImageAndTheirTabsDiffer)
{
    for (GmTool* tool : {static_cast<GmTool*>(m_rect.get()), static_cast<GmTool*>(m_poly.get()),
                         static_cast<GmTool*>(m_brush.get())}) {
        EXPECT_FALSE(tool->isAvailable()) << tool->name().toStdString();
        EXPECT_FALSE(tool->installSlot()) << tool->name().toStdString();
        EXPECT_EQ(tool->homeViewTab(), ImageView::Workspace);
    }
    EXPECT_EQ(int(m_rect->usableViewTabs()), 6);
    EXPECT_EQ(int(m_poly->usableViewTabs()), 6);
    EXPECT_EQ(int(m_brush->usableViewTabs()), 2);
    EXPECT_TRUE(m_brush->usesBrush());
    EXPECT_FALSE(m_rect->usesBrush());
    EXPECT_FALSE(m_brush->usesStrength());
    EXPECT_EQ(m_rect->optionsWidget(), m_poly->optionsPage()) << "one shared empty page";

    openPhoto();
    for (GmTool* tool : {static_cast<GmTool*>(m_rect.get()), static_cast<GmTool*>(m_poly.get()),
                         static_cast<GmTool*>(m_brush.get())})
        EXPECT_TRUE(tool->isAvailable()) << tool->name().toStdString();
}

TEST_F(PatchToolTest, ADraggedRectangleBecomesAPatchWithItsSubSession)
{
    openPhoto();
    ASSERT_TRUE(m_rect->installSlot());
    QSignalSpy created(m_rect.get(), &GmTool::userCreatedRegion);
    drag(QPointF(40, 30), QPointF(80, 60), QPointF(140, 110));
    ASSERT_EQ(m_model->patches().size(), 1);
    auto* patch = qobject_cast<RectRegion*>(m_model->patches().first());
    ASSERT_NE(patch, nullptr);
    EXPECT_EQ(m_rect->regionBeingDrawn(), nullptr);
    ASSERT_EQ(created.count(), 1);
    EXPECT_EQ(created.first().first().value<GmRegion*>(), patch);
    EXPECT_EQ(patch->rectangle().rect(), QRectF(QPointF(40, 30), QPointF(140, 110)));
    ASSERT_TRUE(idle());
    EXPECT_NE(patch->segmentation().session(), nullptr) << "the sub-session was begun";
}

TEST_F(PatchToolTest, AFlatDragOrAPlainClickLeavesNoPatch)
{
    openPhoto();
    ASSERT_TRUE(m_rect->installSlot());
    QSignalSpy created(m_rect.get(), &GmTool::userCreatedRegion);
    drag(QPointF(50, 30), QPointF(50, 60), QPointF(50, 100));
    ASSERT_TRUE(idle());
    EXPECT_TRUE(m_model->patches().isEmpty());
    click(QPointF(60, 60));
    ASSERT_TRUE(idle());
    EXPECT_TRUE(m_model->patches().isEmpty());
    EXPECT_EQ(created.count(), 0);
}

TEST_F(PatchToolTest, EscapeOrASwitchWhileDraggingDeletesTheHeldPatch)
{
    openPhoto();
    ASSERT_TRUE(m_rect->installSlot());
    press(QPointF(40, 30));
    move(QPointF(60, 50));
    move(QPointF(90, 80));
    ASSERT_NE(m_rect->regionBeingDrawn(), nullptr);
    EXPECT_EQ(m_rect->arrowTargetDisplayState(m_rect->regionBeingDrawn()), 1);
    m_rect->escapeKeyPressed();
    release(QPointF(90, 80));
    ASSERT_TRUE(idle());
    EXPECT_TRUE(m_model->patches().isEmpty());
    EXPECT_EQ(m_rect->buttonState(), 0);

    press(QPointF(40, 30));
    move(QPointF(60, 50));
    move(QPointF(90, 80));
    ASSERT_EQ(m_model->patches().size(), 1);
    ASSERT_TRUE(m_poly->installSlot());
    release(QPointF(90, 80));
    ASSERT_TRUE(idle());
    EXPECT_TRUE(m_model->patches().isEmpty());
}

TEST_F(PatchToolTest, APolygonOfThreeCornersIsKeptAndOneOfTwoDeleted)
{
    openPhoto();
    ASSERT_TRUE(m_poly->installSlot());
    QSignalSpy created(m_poly.get(), &GmTool::userCreatedRegion);
    const QPointF a(40, 30), b(150, 60), c(100, 160);
    click(a);
    ASSERT_EQ(m_model->patches().size(), 1) << "listed from the first click";
    click(b);
    click(c);
    doubleClick(c);
    ASSERT_EQ(m_model->patches().size(), 1);
    auto* patch = qobject_cast<PolyRegion*>(m_model->patches().first());
    ASSERT_NE(patch, nullptr);
    EXPECT_EQ(patch->polygon().vertices(), QPolygonF(QVector<QPointF>{a, b, c}));
    EXPECT_EQ(created.count(), 1);
    EXPECT_EQ(m_poly->regionBeingDrawn(), nullptr);
    ASSERT_TRUE(idle());
    EXPECT_NE(patch->segmentation().session(), nullptr);

    click(a);
    click(b);
    doubleClick(b);
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_model->patches(), QList<GmRegion*>({patch}));
    EXPECT_EQ(created.count(), 1);
}

TEST_F(PatchToolTest, ABrushStrokeBecomesAPatchThatTheNextStrokeLeavesAlone)
{
    openPhoto();
    ASSERT_TRUE(m_brush->installSlot());
    BrushingTool::setBrushSize(9);
    QSignalSpy created(m_brush.get(), &GmTool::userCreatedRegion);
    const QPointF from(60, 60), to(160, 90);
    drag(from, QPointF(100, 70), to);
    EXPECT_EQ(m_brush->brushing(), nullptr);
    ASSERT_EQ(m_model->patches().size(), 1);
    auto* patch = qobject_cast<BrushRegion*>(m_model->patches().first());
    ASSERT_NE(patch, nullptr);
    EXPECT_EQ(created.count(), 1);
    EXPECT_EQ(patch->brushing().colour(), m_brush->strokeColour());

    // The patch holds what the canvas painted: a reference stroke along the same path.
    Brushing reference(QColor(Qt::black));
    reference.startStroke(from, 9);
    reference.addSegment(QPointF(100, 70), 9);
    reference.addSegment(to, 9);
    reference.addSegment(to, 9);
    const QByteArray shape = maskBits(patch->brushing());
    EXPECT_EQ(shape, maskBits(reference));
    EXPECT_GT(shape.count(char(1)), 500);
    const QRectF bounds = patch->brushing().boundingRect();
    EXPECT_TRUE(bounds.contains(QRectF(from, to)));

    ASSERT_TRUE(idle());
    drag(QPointF(200, 150), QPointF(220, 160), QPointF(240, 170));
    ASSERT_TRUE(idle());
    ASSERT_EQ(m_model->patches().size(), 2);
    EXPECT_EQ(m_model->patches().first(), patch);
    EXPECT_EQ(maskBits(patch->brushing()), shape);
    EXPECT_EQ(created.count(), 2);
}

TEST_F(PatchToolTest, ABrushedPatchIsHitNearItsOutlineSegmentsOnly)
{
    openPhoto();
    Brushing stroke(QColor(Qt::black));
    stroke.startStroke(QPointF(60, 55), 10);
    auto* patch = new BrushRegion(stroke);
    Brushing& shape = patch->brushing();
    const double t = 3;
    shape.setHandleHalfSize(t);
    std::vector<DvOutlinePoint> ring = {{40.0f, 40.0f}, {80.0f, 40.0f}, {80.0f, 70.0f}, {40.0f, 70.0f}};
    DvOutline outline{ring.data(), int(ring.size()), 0};
    DvSession session{};
    session.outlines = &outline;
    session.outlineCount = 1;
    shape.setOutlinePolygons(&session);
    ASSERT_EQ(shape.outlinePieces().size(), 1u);

    // Within t of the closing segment (first vertex paired with the last) and of the right side.
    for (const QPointF p : {QPointF(42.5, 55), QPointF(78, 55), QPointF(60, 41)}) {
        const ShapeHit hit = shape.hitTest(p);
        EXPECT_EQ(hit.kind, ShapeHit::Segment) << p.x() << "," << p.y();
        EXPECT_EQ(hit.index, 0);
        EXPECT_EQ(hit.point, p);
        EXPECT_EQ(hit.offset, QPointF());
        EXPECT_EQ(hit.cursorShape, 0);
    }
    // Inside the outline but away from every segment, and outside the grown bounds.
    for (const QPointF p : {QPointF(60, 55), QPointF(90, 55), QPointF(60, 20)}) {
        const ShapeHit hit = shape.hitTest(p);
        EXPECT_EQ(hit.kind, ShapeHit::None) << p.x() << "," << p.y();
        EXPECT_EQ(hit.cursorShape, 10);
    }
    m_model->deleteRegion(patch);
}
