// The select tool through the window: what a click activates, which object wins where several
// lie under the pointer, the cursors, dragging handles and bodies, the zoom of a double-click,
// and the forced edges sent again when the tool is left.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "document/BrushRegion.h"
#include "document/Brushing.h"
#include "document/ForcedEdge.h"
#include "document/GmModel.h"
#include "document/KsAppPreferences.h"
#include "document/RectRegion.h"
#include "engine/DravikThread.h"
#include "panels/ParameterStack.h"
#include "tools/ArrowTool.h"
#include "tools/NoTool.h"

#include "HoldCommand.h"
#include "ModelImage.h"
#include "ShownView.h"
#include "Wait.h"
#include "WidgetInput.h"
#include "dravik.h"

#include <QMouseEvent>
#include <QPointer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

using testsupport::ModelImage;

namespace {

class ArrowToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qRegisterMetaType<ImageRectF>("ImageRectF");
        qRegisterMetaType<GmRegion*>("GmRegion*");
        m_preferences = std::make_unique<KsAppPreferences>();
        m_image = std::make_unique<ModelImage>(400, 300, 1);
        m_model = GmModel::instance();
        m_view = std::make_unique<ImageView>();
        m_noTool = std::make_unique<NoTool>();
        m_tool = std::make_unique<ArrowTool>();
        ASSERT_TRUE(testsupport::showWithViewport(*m_view, QSize(1000, 800)));
        canvas()->setZoom(true, 1);
        testsupport::settle();
        // A worker held busy keeps what the tool submits in its queue.
        m_thread = std::make_unique<DravikThread>();
        m_thread->submit(new testsupport::HoldCommand(&m_release));
        ASSERT_TRUE(m_tool->installSlot());
    }
    void TearDown() override
    {
        m_release = true;
        EXPECT_TRUE(testsupport::waitUntil([this] { return !m_thread->isBusy() && m_thread->isQueueEmpty(); }));
        m_tool.reset();
        m_noTool.reset();
        m_view.reset();
        m_thread.reset();
        m_image.reset();
        m_preferences.reset();
    }

    GmZoomWidget* canvas() const { return m_view->canvas(); }
    QPoint at(QPointF imagePoint) const { return canvas()->imageRect().topLeft() + imagePoint.toPoint(); }
    void press(QPointF p) { testsupport::mousePress(canvas(), at(p)); }
    void move(QPointF p) { testsupport::mouseMove(canvas(), at(p)); }
    void release(QPointF p) { testsupport::mouseRelease(canvas(), at(p)); }
    void click(QPointF p) { testsupport::mouseClick(canvas(), at(p)); }
    int cursorShape() const { return int(m_tool->cursor().shape()); }
    int queued(const QString& description) const
    {
        int n = 0;
        for (DravikCommand* command : m_thread->queue())
            n += command->description() == description;
        return n;
    }

    static RectRegion* rectPatch(const QRectF& r)
    {
        auto* patch = new RectRegion(r.topLeft());
        patch->rectangle().dragCornerTo(r.bottomRight());
        patch->rectangle().endDrag();
        return patch;
    }
    static ForcedEdge* edge(QPointF from, QPointF to, int width = 3)
    {
        auto* line = new ForcedEdge(from, width);
        line->polygon().appendPoint(to);
        return line;
    }

    std::unique_ptr<KsAppPreferences> m_preferences;
    std::unique_ptr<ModelImage> m_image;
    GmModel* m_model = nullptr;
    std::unique_ptr<ImageView> m_view;
    std::unique_ptr<NoTool> m_noTool;
    std::unique_ptr<ArrowTool> m_tool;
    std::atomic<bool> m_release{false};
    std::unique_ptr<DravikThread> m_thread;
};

} // namespace

TEST_F(ArrowToolTest, IsTheSelectToolOfTheWorkspace)
{
    EXPECT_EQ(GmTool::selectTool(), m_tool.get());
    EXPECT_EQ(m_tool->name(), "Select Tool");
    EXPECT_EQ(m_tool->usableViewTabs(), ImageView::ViewTabs(ImageView::Workspace));
    RectRegion* patch = rectPatch({10, 10, 50, 50});
    ForcedEdge* line = edge({100, 100}, {200, 120});
    line->activate();
    EXPECT_EQ(m_tool->arrowTargetDisplayState(line), 5);
    EXPECT_EQ(m_tool->arrowTargetDisplayState(patch), 3);
}

TEST_F(ArrowToolTest, AClickActivatesWhatIsUnderThePointerAndOnEmptyAreaNothing)
{
    RectRegion* patch = rectPatch({20, 20, 100, 80});
    ForcedEdge* line = edge({200, 200}, {300, 250});
    click({60, 60});
    EXPECT_EQ(m_model->activeRegion(), patch);
    click({350, 50});
    EXPECT_EQ(m_model->activeRegion(), nullptr);
    EXPECT_EQ(m_model->activeForcedEdge(), nullptr);

    click({250, 225});
    EXPECT_EQ(m_model->activeForcedEdge(), line);
    click({350, 50});
    EXPECT_EQ(m_model->activeForcedEdge(), nullptr);
    EXPECT_EQ(m_model->activeRegion(), nullptr);
    EXPECT_FALSE(m_tool->isDragging());

    // The view's request (the context menu) works the same way.
    m_tool->activateArrowTargetAtSlot(QPointF(60, 60));
    EXPECT_EQ(m_model->activeRegion(), patch);
    m_tool->activateArrowTargetAtSlot(QPointF(350, 50));
    EXPECT_EQ(m_model->activeRegion(), nullptr);
}

TEST_F(ArrowToolTest, HandlesOfTheActiveObjectBeatBodiesAndTheActiveBodyBeatsOthers)
{
    RectRegion* big = rectPatch({0, 0, 200, 200});
    RectRegion* small = rectPatch({50, 50, 50, 50});
    // Two inactive bodies: the later in the list lies on top.
    EXPECT_EQ(ArrowTool::hitAt({75, 75}).target, small);
    click({75, 75});
    EXPECT_EQ(m_model->activeRegion(), small);

    // The active patch's corner beats the body of another.
    big->activate();
    ASSERT_EQ(m_model->patches().last(), big) << "activation moves the patch to the top";
    RectRegion* cover = rectPatch({150, 150, 100, 100});
    ShapeHit hit = ArrowTool::hitAt({200, 200});
    EXPECT_EQ(hit.target, big);
    EXPECT_EQ(hit.kind, ShapeHit::Corner);

    // The active body beats a later body over it.
    hit = ArrowTool::hitAt({175, 175});
    EXPECT_EQ(hit.target, big);
    EXPECT_EQ(hit.kind, ShapeHit::Whole);
    // A handle of another object beats the active body.
    hit = ArrowTool::hitAt({150, 150});
    EXPECT_EQ(hit.target, cover);
    EXPECT_EQ(hit.kind, ShapeHit::Corner);
    EXPECT_EQ(ArrowTool::hitAt({300, 250}).kind, ShapeHit::None);
}

TEST_F(ArrowToolTest, CursorsShowNothingAnotherObjectOrThePartOfTheActiveOneClosingWhilePressed)
{
    RectRegion* patch = rectPatch({20, 20, 100, 80});
    rectPatch({200, 100, 100, 100});
    patch->activate();
    move({350, 50});
    EXPECT_EQ(cursorShape(), Qt::ArrowCursor);
    move({250, 150});
    EXPECT_EQ(cursorShape(), Qt::PointingHandCursor);
    move({60, 60});
    EXPECT_EQ(cursorShape(), Qt::OpenHandCursor);
    EXPECT_EQ(canvas()->cursor().shape(), Qt::OpenHandCursor) << "the canvas follows the tool";
    move({120, 100});
    EXPECT_EQ(cursorShape(), Qt::SizeFDiagCursor);

    move({60, 60});
    press({60, 60});
    EXPECT_EQ(cursorShape(), Qt::ClosedHandCursor);
    EXPECT_EQ(canvas()->cursor().shape(), Qt::ClosedHandCursor);
    release({60, 60});
    EXPECT_EQ(cursorShape(), Qt::OpenHandCursor);
}

TEST_F(ArrowToolTest, DraggingACornerReshapesThePatchOnceAndAStillDragChangesNothing)
{
    RectRegion* patch = rectPatch({40, 40, 60, 40});
    patch->activate();
    QSignalSpy ready(m_model, &GmModel::activeRegionReady);
    const int changes = patch->changeCount();

    press({100, 80});
    EXPECT_TRUE(m_tool->isDragging());
    move({110, 85});
    move({120, 90});
    EXPECT_EQ(patch->changeCount(), changes) << "nothing is recomputed during the drag";
    release({120, 90});
    EXPECT_FALSE(m_tool->isDragging());
    EXPECT_EQ(patch->shape()->boundingRect(), QRectF(40, 40, 80, 50));
    EXPECT_EQ(patch->changeCount(), changes + 1);
    ASSERT_GE(ready.count(), 1);
    EXPECT_EQ(ready.last().at(0).value<GmRegion*>(), patch);

    // Pressing and releasing on the body moves nothing.
    press({60, 60});
    release({60, 60});
    EXPECT_EQ(patch->changeCount(), changes + 1);
    EXPECT_EQ(patch->shape()->boundingRect(), QRectF(40, 40, 80, 50));

    // A drag of the body moves the whole patch.
    press({60, 60});
    move({70, 65});
    release({70, 65});
    EXPECT_EQ(patch->shape()->boundingRect(), QRectF(50, 45, 80, 50));
    EXPECT_EQ(patch->changeCount(), changes + 2);
}

TEST_F(ArrowToolTest, AReleaseMissedOutsideTheCanvasEndsTheDragAtTheNextMove)
{
    RectRegion* patch = rectPatch({40, 40, 60, 40});
    patch->activate();
    press({100, 80});
    move({120, 90});
    ASSERT_TRUE(m_tool->isDragging());
    // The button came up elsewhere: the canvas only sees a move with no button held.
    const QPoint p = at({125, 95});
    QMouseEvent moved(QEvent::MouseMove, p, canvas()->mapToGlobal(p), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(canvas(), &moved);
    EXPECT_FALSE(m_tool->isDragging());
    EXPECT_EQ(patch->shape()->boundingRect(), QRectF(40, 40, 80, 50)) << "the move that ends it moves nothing";
    EXPECT_EQ(patch->changeCount(), 1);
}

TEST_F(ArrowToolTest, ADeletedObjectIsDraggedNoFurther)
{
    QPointer<ForcedEdge> line = edge({100, 100}, {200, 100});
    line->activate();
    press({150, 100});
    ASSERT_TRUE(m_tool->isDragging());
    m_model->deleteActiveForcedEdgeSlot();  // its shortcut, in the middle of the drag
    EXPECT_TRUE(line.isNull());
    EXPECT_FALSE(m_tool->isDragging());
    move({160, 110});
    release({160, 110});

    QPointer<RectRegion> patch = rectPatch({40, 40, 60, 40});
    patch->activate();
    press({60, 60});
    ASSERT_TRUE(m_tool->isDragging());
    m_model->deleteRegion();
    EXPECT_FALSE(m_tool->isDragging());
    move({70, 70});
    release({70, 70});
    EXPECT_EQ(m_model->activeRegion(), nullptr);
}

// A few screen pixels off an outline is on it at every zoom: at 1:8 three image pixels are less
// than half a screen pixel, at 800 % they are 24.
TEST_F(ArrowToolTest, AClickAFewScreenPixelsOffAnOutlineHitsItAtEveryZoom)
{
    Brushing stroke(QColor(Qt::black));
    stroke.startStroke(QPointF(200, 150), 10);
    auto* patch = new BrushRegion(stroke);
    // The outline the engine gives the patch, as the sub-session's end would.
    std::vector<DvOutlinePoint> ring = {{160.0f, 120.0f}, {240.0f, 120.0f}, {240.0f, 184.0f}, {160.0f, 184.0f}};
    DvOutline outline{ring.data(), int(ring.size()), 0};
    DvSession session{};
    session.outlines = &outline;
    session.outlineCount = 1;
    patch->brushing().setOutlinePolygons(&session);
    ForcedEdge* line = edge({40, 240}, {360, 240});

    for (const double zoom : {1.0 / 8, 8.0}) {
        canvas()->setZoom(true, zoom);
        testsupport::settle();
        // The clicks come through the window: at 800 % they must lie in the viewport.
        m_view->centreViewportOnSlot(QPoint(200, 205));
        testsupport::settle();
        const auto onScreen = [this](QPointF imagePoint) {
            return canvas()->imageRect().topLeft() + (imagePoint * canvas()->zoom()).toPoint();
        };
        testsupport::mouseClick(canvas(), onScreen({160, 170}) + QPoint(-3, 0));
        EXPECT_EQ(m_model->activeRegion(), patch) << "zoom " << zoom;
        testsupport::mouseClick(canvas(), onScreen({200, 240}) + QPoint(0, 3));
        EXPECT_EQ(m_model->activeForcedEdge(), line) << "zoom " << zoom;
        // Farther off is beside it.
        testsupport::mouseClick(canvas(), onScreen({240, 170}) + QPoint(10, 0));
        EXPECT_EQ(m_model->activeRegion(), nullptr) << "zoom " << zoom;
        EXPECT_EQ(m_model->activeForcedEdge(), nullptr) << "zoom " << zoom;
    }
}

TEST_F(ArrowToolTest, ADoubleClickZoomsOntoTheActiveObjectWithAMargin)
{
    rectPatch({100, 100, 200, 100})->activate();
    QSignalSpy zoom(m_tool.get(), &ArrowTool::zoomToRectSignal);
    testsupport::mouseDoubleClick(canvas(), at({150, 150}));
    ASSERT_EQ(zoom.count(), 1);
    EXPECT_EQ(zoom.at(0).at(0).value<ImageRectF>(), QRectF(90, 95, 220, 110));

    testsupport::mouseDoubleClick(canvas(), at({350, 20}));
    EXPECT_EQ(zoom.count(), 1) << "nothing active after the first click, nothing to zoom to";
}

TEST_F(ArrowToolTest, LeavingTheToolAfterAWidthChangeSendsTheForcedEdgesAgain)
{
    ForcedEdge* first = edge({100, 100}, {200, 100});
    ForcedEdge* second = edge({100, 200}, {200, 200});
    first->activate();
    ASSERT_TRUE(m_noTool->installSlot());
    EXPECT_EQ(queued("Creating Forced Edge..."), 0) << "nothing changed, nothing is sent";

    ASSERT_TRUE(m_tool->installSlot());
    m_tool->parameterStack()->setValue("Feather Width", 7);
    EXPECT_EQ(first->width(), 7);
    EXPECT_EQ(second->width(), 3);
    EXPECT_TRUE(m_model->forcedEdgesChanged());
    ASSERT_TRUE(m_noTool->installSlot());
    EXPECT_FALSE(m_model->forcedEdgesChanged());
    EXPECT_EQ(queued("Making Selection..."), 1);
    EXPECT_EQ(queued("Creating Forced Edge..."), 2);

    // A moved vertex counts as a change as well.
    ASSERT_TRUE(m_tool->installSlot());
    press({100, 200});
    move({110, 210});
    release({110, 210});
    EXPECT_EQ(m_model->activeForcedEdge(), second);
    EXPECT_TRUE(m_model->forcedEdgesChanged());
    ASSERT_TRUE(m_noTool->installSlot());
    EXPECT_EQ(queued("Creating Forced Edge..."), 4);
}
