// Patches and forced edges in the document model without the engine: the factory and the
// project maps, the active patch and forced edge with the patch actions and the Delete
// shortcut, the engine points of a forced edge, and what deleting and resetting queue.

#include "document/BrushRegion.h"
#include "document/Brushing.h"
#include "document/ForcedEdge.h"
#include "document/GmAction.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/GmStatusArray.h"
#include "document/PixelState.h"
#include "document/PolyRegion.h"
#include "document/RectRegion.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdEndSession.h"
#include "engine/DvCmdProtect.h"
#include "engine/DvCmdSelect.h"

#include "HoldCommand.h"
#include "LogCapture.h"
#include "ModelImage.h"
#include "StreamRoundTrip.h"
#include "Wait.h"

#include <QPointer>
#include <QSignalSpy>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using testsupport::DirtyLog;
using testsupport::HoldCommand;
using testsupport::ModelImage;
using testsupport::waitUntil;

namespace {

class ArrowTargetTest : public ::testing::Test {
protected:
    void SetUp() override { useDivisor(1); }
    void TearDown() override
    {
        if (m_thread) {
            m_release = true;
            EXPECT_TRUE(idle());
        }
        m_thread.reset();
        m_image.reset();
    }

    // A 400 x 300 image in a fresh model at the divisor.
    void useDivisor(int divisor)
    {
        m_image.reset();
        m_image = std::make_unique<ModelImage>(400, 300, divisor);
        m_model = GmModel::instance();
    }

    // An engine worker held busy, so that what is submitted stays in its queue.
    void holdWorker()
    {
        m_thread = std::make_unique<DravikThread>();
        m_thread->submit(new HoldCommand(&m_release));
        ASSERT_TRUE(m_thread->isBusy());
    }

    bool idle()
    {
        return waitUntil([this] { return !m_thread->isBusy() && m_thread->isQueueEmpty(); });
    }

    template <typename Command>
    int queued() const
    {
        int n = 0;
        for (DravikCommand* command : m_thread->queue())
            n += dynamic_cast<Command*>(command) != nullptr;
        return n;
    }

    static RectRegion* rectPatch(QRectF r)
    {
        auto* patch = new RectRegion(r.topLeft());
        patch->rectangle().dragCornerTo(r.bottomRight());
        return patch;
    }

    static std::unique_ptr<Brushing> stroke(QPointF from, QPointF to, double size)
    {
        auto brushing = std::make_unique<Brushing>(QColor(Qt::green));
        brushing->startStroke(from, size);
        brushing->addSegment(to, size);
        return brushing;
    }

    std::unique_ptr<ModelImage> m_image;
    GmModel* m_model = nullptr;
    std::atomic<bool> m_release{false};
    std::unique_ptr<DravikThread> m_thread;
};

TEST_F(ArrowTargetTest, TheFactoryRebuildsEachKindAndNothingElse)
{
    std::unique_ptr<RectRegion> rect(new RectRegion(QPointF(10, 20)));
    rect->rectangle().dragCornerTo({110, 90});
    rect->rectangle().endDrag();
    std::unique_ptr<PolyRegion> poly(new PolyRegion(QPointF(5, 5)));
    poly->polygon().appendPoint({60, 8});
    poly->polygon().appendPoint({30, 70});
    auto painted = stroke({50, 50}, {120, 80}, 9);
    std::unique_ptr<BrushRegion> brushed(new BrushRegion(*painted));
    std::unique_ptr<ForcedEdge> edge(new ForcedEdge(QPointF(1, 2), 7));
    edge->polygon().appendPoint({200, 150});
    // The constructors join the model's lists; those made from maps do not.
    EXPECT_EQ(m_model->patches().size(), 3);
    EXPECT_EQ(m_model->forcedEdges().size(), 1);
    EXPECT_EQ(m_model->arrowTargets().size(), 4);
    EXPECT_EQ(m_model->arrowTargets().last(), edge.get());

    QVariant map;
    rect->toVariant(map);
    std::unique_ptr<ArrowTarget> copy(createArrowTargetFromVariant(testsupport::throughStream(map)));
    auto* rectCopy = dynamic_cast<RectRegion*>(copy.get());
    ASSERT_NE(rectCopy, nullptr);
    EXPECT_EQ(rectCopy->rectangle().rect(), rect->rectangle().rect());
    EXPECT_FALSE(rectCopy->isBrushRegion());
    EXPECT_EQ(rectCopy->asForcedEdge(), nullptr);

    poly->toVariant(map);
    copy.reset(createArrowTargetFromVariant(testsupport::throughStream(map)));
    auto* polyCopy = dynamic_cast<PolyRegion*>(copy.get());
    ASSERT_NE(polyCopy, nullptr);
    EXPECT_EQ(polyCopy->polygon().vertices(), poly->polygon().vertices());
    EXPECT_TRUE(polyCopy->polygon().isClosed());
    EXPECT_FALSE(polyCopy->isBrushRegion());

    brushed->toVariant(map);
    copy.reset(createArrowTargetFromVariant(testsupport::throughStream(map)));
    auto* brushedCopy = dynamic_cast<BrushRegion*>(copy.get());
    ASSERT_NE(brushedCopy, nullptr);
    EXPECT_TRUE(brushedCopy->isBrushRegion());
    EXPECT_EQ(testsupport::differingPixels(brushedCopy->filledMask()->mask(), brushed->filledMask()->mask()), 0);
    EXPECT_GT(testsupport::setPixels(brushedCopy->filledMask()->mask()), 100);

    edge->toVariant(map);
    EXPECT_EQ(map.toMap().value("type").toInt(), 3);
    copy.reset(createArrowTargetFromVariant(testsupport::throughStream(map)));
    auto* edgeCopy = dynamic_cast<ForcedEdge*>(copy.get());
    ASSERT_NE(edgeCopy, nullptr);
    EXPECT_TRUE(edgeCopy->isForcedEdge());
    EXPECT_EQ(edgeCopy->asRegion(), nullptr);
    EXPECT_EQ(edgeCopy->polygon().vertices(), edge->polygon().vertices());
    EXPECT_FALSE(edgeCopy->polygon().isClosed());
    EXPECT_EQ(edgeCopy->width(), 7);
    copy.reset();
    EXPECT_EQ(m_model->arrowTargets().size(), 4);

    for (const QVariant& type : {QVariant(4), QVariant(-1), QVariant(QStringLiteral("x")), QVariant()}) {
        QVariantMap unknown = map.toMap();
        unknown.insert("type", type);
        if (!type.isValid())
            unknown.remove("type");
        EXPECT_EQ(createArrowTargetFromVariant(unknown), nullptr) << type.toString().toStdString();
    }
}

TEST_F(ArrowTargetTest, APatchMapKeepsItsSettings)
{
    std::unique_ptr<RectRegion> rect(rectPatch({10, 10, 50, 40}));
    rect->blending().options().blendRatio = 0.625f;
    rect->blending().options().isMembrane = true;
    rect->segmentation().setChecked(true);
    rect->segmentation().edos().sensitivity().setCurrent(83);
    rect->segmentation().edos().applyAll();
    {
        // Protection queues an engine command; without a worker it is dropped with a line.
        testsupport::LogCapture log;
        rect->setProtected(true);
    }
    QVariant map;
    rect->toVariant(map);
    std::unique_ptr<ArrowTarget> copy(createArrowTargetFromVariant(testsupport::throughStream(map)));
    GmRegion* patch = copy->asRegion();
    ASSERT_NE(patch, nullptr);
    EXPECT_TRUE(patch->isProtected());
    EXPECT_TRUE(patch->segmentation().isChecked());
    EXPECT_EQ(patch->segmentation().edos().sensitivity().applied(), 83);
    EXPECT_EQ(patch->blending().options().toMap(), rect->blending().options().toMap());
    EXPECT_EQ(patch->segmentation().parentRegion(), patch);
}

TEST_F(ArrowTargetTest, ActivatingTheSamePatchAgainRepaintsNothing)
{
    RectRegion* first = rectPatch({10, 10, 40, 40});
    RectRegion* second = rectPatch({100, 100, 30, 30});
    QSignalSpy changed(m_model, &GmModel::activeRegionChanged);
    DirtyLog dirty;

    EXPECT_EQ(m_model->setActiveRegion(first, 1), nullptr);
    EXPECT_EQ(m_model->activeRegion(), first);
    EXPECT_TRUE(first->isActive());
    EXPECT_EQ(m_model->patches().last(), first);  // moved on top
    EXPECT_EQ(changed.count(), 1);
    EXPECT_FALSE(dirty.isEmpty());
    EXPECT_TRUE(dirty.united().contains(QRectF(10, 10, 40, 40)));

    dirty.clear();
    EXPECT_EQ(m_model->setActiveRegion(first, 1), first);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_TRUE(dirty.isEmpty());

    // A patch that is not the active one leaves the active one alone.
    second->deactivate();
    EXPECT_EQ(m_model->activeRegion(), first);

    QSignalSpy ready(m_model, &GmModel::activeRegionReady);
    first->deactivate();
    EXPECT_EQ(m_model->activeRegion(), nullptr);
    ASSERT_EQ(ready.count(), 1);
    EXPECT_EQ(ready.first().first().value<GmRegion*>(), nullptr);
    m_model->setActiveRegion(nullptr, 0);
    EXPECT_EQ(ready.count(), 1);
}

TEST_F(ArrowTargetTest, ThePatchActionsFollowTheActivePatchAndDeleteMovesBetweenThem)
{
    GmAction* deletePatch = m_model->deletePatchAction();
    GmAction* deleteEdge = m_model->deleteForcedEdgeAction();
    const QList<QAction*> patchOnly{m_model->clearMaskInPatchAction(), m_model->autoFillPatchWithKeepAction(),
                                    m_model->autoFillPatchWithDeleteAction()};
    EXPECT_EQ(deletePatch->text(), "Delete Patch");
    EXPECT_EQ(deleteEdge->text(), "Delete Forced Edge");
    EXPECT_EQ(m_model->clearMaskInPatchAction()->text(), "Erase Mask in Patch");
    EXPECT_EQ(m_model->protectPatchAction()->text(), "Protect Patch");
    EXPECT_EQ(m_model->autoFillPatchWithKeepAction()->text(), "Auto-Fill Patch with &Keep");
    EXPECT_EQ(m_model->autoFillPatchWithDeleteAction()->text(), "Auto-Fill Patch with &Delete");
    EXPECT_EQ(m_model->previewPatchAction()->text(), "Preview Cut-out in Patch");
    EXPECT_FALSE(m_model->previewPatchAction()->icon().isNull());
    EXPECT_TRUE(m_model->protectPatchAction()->isCheckable());
    for (QAction* action : {static_cast<QAction*>(deletePatch), static_cast<QAction*>(deleteEdge),
                            static_cast<QAction*>(m_model->protectPatchAction()),
                            static_cast<QAction*>(m_model->previewPatchAction())})
        EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();

    RectRegion* patch = rectPatch({10, 10, 40, 40});
    ForcedEdge* edge = new ForcedEdge(QPointF(5, 5), 3);
    edge->polygon().appendPoint({90, 90});
    patch->activate();
    EXPECT_TRUE(deletePatch->isEnabled());
    for (QAction* action : patchOnly)
        EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
    EXPECT_TRUE(m_model->protectPatchAction()->isEnabled());
    EXPECT_FALSE(m_model->protectPatchAction()->isChecked());
    EXPECT_TRUE(m_model->previewPatchAction()->isEnabled());
    EXPECT_FALSE(deleteEdge->isEnabled());
    EXPECT_EQ(deletePatch->shortcut(), QKeySequence(Qt::Key_Delete));
    EXPECT_TRUE(deleteEdge->shortcut().isEmpty());
    EXPECT_TRUE(deletePatch->toolTip().contains("Del"));

    {
        testsupport::LogCapture log;
        m_model->protectActiveRegionSlot();
    }
    EXPECT_TRUE(patch->isProtected());
    EXPECT_TRUE(m_model->protectPatchAction()->isChecked());
    for (QAction* action : patchOnly)
        EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
    EXPECT_TRUE(deletePatch->isEnabled());

    edge->activate();
    EXPECT_EQ(m_model->activeRegion(), nullptr);
    EXPECT_EQ(m_model->activeForcedEdge(), edge);
    EXPECT_TRUE(deleteEdge->isEnabled());
    EXPECT_FALSE(deletePatch->isEnabled());
    EXPECT_EQ(deleteEdge->shortcut(), QKeySequence(Qt::Key_Delete));
    EXPECT_TRUE(deletePatch->shortcut().isEmpty());

    // Another edge that is not the active one leaves it alone.
    auto* other = new ForcedEdge(QPointF(50, 5), 3);
    other->deactivate();
    EXPECT_EQ(m_model->activeForcedEdge(), edge);
    EXPECT_FALSE(other->isActive());

    // No object active: the shortcut stays where it was.
    m_model->setActiveForcedEdge(nullptr);
    EXPECT_FALSE(deleteEdge->isEnabled());
    EXPECT_EQ(deleteEdge->shortcut(), QKeySequence(Qt::Key_Delete));

    // A patch activated takes the forced edge's place.
    edge->activate();
    patch->activate();
    EXPECT_EQ(m_model->activeForcedEdge(), nullptr);
    EXPECT_EQ(deletePatch->shortcut(), QKeySequence(Qt::Key_Delete));
    EXPECT_TRUE(deleteEdge->shortcut().isEmpty());
}

TEST_F(ArrowTargetTest, APatchOrForcedEdgeMakesTheDocumentModified)
{
    GmModelTestAccess::setLoadState(2);
    EXPECT_TRUE(m_model->isUnmodified());
    std::unique_ptr<GmRegion> patch(rectPatch({10, 10, 40, 40}));
    EXPECT_FALSE(m_model->isUnmodified());
    patch.reset();
    EXPECT_TRUE(m_model->isUnmodified());
    std::unique_ptr<ForcedEdge> edge(new ForcedEdge(QPointF(1, 1), 3));
    EXPECT_FALSE(m_model->isUnmodified());
}

TEST_F(ArrowTargetTest, AForcedEdgeReachesTheEngineDividedWithItsWidthWhole)
{
    useDivisor(4);
    std::unique_ptr<ForcedEdge> edge(new ForcedEdge(QPointF(10, 6), 8));
    edge->polygon().appendPoint({41, 3});
    const ForcedEdge::EnginePoints points = edge->enginePoints();
    ASSERT_EQ(points.count, 2);
    EXPECT_FLOAT_EQ(points.points[0].column, 2.5f);
    EXPECT_FLOAT_EQ(points.points[0].row, 1.5f);
    EXPECT_FLOAT_EQ(points.points[1].column, 10.25f);
    EXPECT_FLOAT_EQ(points.points[1].row, 0.75f);
    EXPECT_FLOAT_EQ(points.width, 8.0f);

    // The line's mask is one working pixel wide and is dropped by a reset.
    const PixelState* state = edge->setMaskStyle();
    EXPECT_EQ(state->pen().widthF(), 4.0);
    ASSERT_TRUE(state->hasMask());
    edge->reset();
    EXPECT_FALSE(edge->shape()->pixelState()->hasMask());

    // Marking it changed only raises the model's flag; re-sending lowers it.
    EXPECT_FALSE(m_model->forcedEdgesChanged());
    edge->shapeChanged();
    EXPECT_TRUE(m_model->forcedEdgesChanged());
}

TEST_F(ArrowTargetTest, ResendingForcedEdgesClearsThemFirstEvenWithNone)
{
    holdWorker();
    m_model->resubmitForcedEdges();
    ASSERT_EQ(m_thread->queue().size(), 1);
    EXPECT_NE(dynamic_cast<DvCmdSelect*>(m_thread->queue().first()), nullptr);
    EXPECT_EQ(m_thread->queue().first()->description(), "Making Selection...");

    new ForcedEdge(QPointF(1, 1), 3);
    new ForcedEdge(QPointF(9, 9), 3);
    m_model->setForcedEdgesChanged(true);
    m_model->resubmitForcedEdges();
    EXPECT_FALSE(m_model->forcedEdgesChanged());
    ASSERT_EQ(m_thread->queue().size(), 4);
    EXPECT_EQ(m_thread->queue()[1]->description(), "Making Selection...");
    EXPECT_EQ(m_thread->queue()[2]->description(), "Creating Forced Edge...");
    EXPECT_EQ(m_thread->queue()[3]->description(), "Creating Forced Edge...");
}

TEST_F(ArrowTargetTest, DeletingAPatchCancelsItsCommandsAndHandsItToTheEndOfItsSessions)
{
    holdWorker();
    QPointer<GmRegion> patch = rectPatch({10, 10, 40, 40});
    patch->beginSubSession();
    patch->setProtected(true);
    EXPECT_EQ(m_model->activeRegion(), patch);
    ASSERT_EQ(queued<DvCmdProtect>(), 1);
    QPointer<DravikCommand> protect = m_thread->queue().last();
    QSignalSpy discarded(m_thread.get(), &DravikThread::commandDiscarded);
    QSignalSpy ready(m_model, &GmModel::activeRegionReady);
    DirtyLog dirty;

    m_model->deleteRegion();  // the active one
    EXPECT_TRUE(protect.isNull());
    EXPECT_EQ(discarded.count(), 1);
    EXPECT_TRUE(m_model->patches().isEmpty());
    EXPECT_EQ(m_model->activeRegion(), nullptr);
    EXPECT_EQ(ready.count(), 1);
    EXPECT_TRUE(dirty.united().contains(QRectF(10, 10, 40, 40)));
    // The patch lives on in the command that ends its sessions, and goes with it.
    ASSERT_FALSE(patch.isNull());
    EXPECT_EQ(queued<DvCmdEndSession>(), 1);
    // The clearing of protections comes before the end.
    EXPECT_EQ(queued<DvCmdSelect>(), 1);

    m_release = true;
    ASSERT_TRUE(idle());
    testsupport::flushDeferredDeletes();
    EXPECT_TRUE(patch.isNull());
}

TEST_F(ArrowTargetTest, APatchDeletedWhileTheWorkerIsClosedGoesAtOnce)
{
    m_thread = std::make_unique<DravikThread>();
    QPointer<GmRegion> patch = rectPatch({10, 10, 40, 40});
    m_thread->setAccepting(false);
    testsupport::LogCapture log;
    m_model->deleteRegion(patch);
    EXPECT_TRUE(patch.isNull());
    EXPECT_TRUE(m_model->patches().isEmpty());
    EXPECT_FALSE(log.lines().join('\n').contains("Trapped"));
    m_thread->setAccepting(true);
}

TEST_F(ArrowTargetTest, APatchDeletedWhileTheWorkerIsClosedAndBusyGoesWhenTheCommandEnds)
{
    holdWorker();
    QPointer<GmRegion> patch = rectPatch({10, 10, 40, 40});
    m_thread->setAccepting(false);
    m_model->deleteRegion(patch);
    EXPECT_FALSE(patch.isNull());
    EXPECT_TRUE(m_model->patches().isEmpty());
    m_release = true;
    ASSERT_TRUE(waitUntil([&] { return patch.isNull(); }));
    m_thread->setAccepting(true);
}

TEST_F(ArrowTargetTest, AResetKeepsRectanglesAndPolygonsAndDeletesBrushedPatches)
{
    holdWorker();
    QPointer<GmRegion> rect = rectPatch({10, 10, 40, 40});
    QPointer<GmRegion> poly = new PolyRegion(QPointF(100, 100));
    auto painted = stroke({50, 50}, {120, 80}, 9);
    QPointer<GmRegion> brushed = new BrushRegion(*painted);
    auto* edge = new ForcedEdge(QPointF(1, 1), 3);
    edge->setMaskStyle();
    ASSERT_TRUE(edge->shape()->pixelState()->hasMask());

    m_model->resetArrowTargets();
    EXPECT_EQ(m_model->patches(), (QList<GmRegion*>{rect, poly}));
    EXPECT_EQ(m_model->forcedEdges(), (QList<ForcedEdge*>{edge}));
    EXPECT_FALSE(edge->shape()->pixelState()->hasMask());
    // One end for each patch's sessions, one more that takes the brushed patch.
    EXPECT_EQ(queued<DvCmdEndSession>(), 4);
    m_release = true;
    ASSERT_TRUE(idle());
    EXPECT_TRUE(brushed.isNull());
    EXPECT_FALSE(rect.isNull());
}

TEST_F(ArrowTargetTest, AResetOfAProtectedPatchResendsTheOthersAndStaysProtected)
{
    holdWorker();
    RectRegion* first = rectPatch({10, 10, 40, 40});
    RectRegion* second = rectPatch({100, 100, 40, 40});
    RectRegion* third = rectPatch({200, 100, 40, 40});
    first->setProtected(true);
    second->setProtected(true);
    Q_UNUSED(third);
    const int before = m_thread->queue().size();

    first->reset();
    EXPECT_TRUE(first->isProtected());
    QList<DravikCommand*> added = m_thread->queue().mid(before);
    ASSERT_EQ(added.size(), 3);
    EXPECT_NE(dynamic_cast<DvCmdSelect*>(added[0]), nullptr);  // every protection cleared
    EXPECT_NE(dynamic_cast<DvCmdProtect*>(added[1]), nullptr);  // the second patch again
    EXPECT_NE(dynamic_cast<DvCmdEndSession*>(added[2]), nullptr);

    // Unprotecting re-sends the remaining protections as well.
    second->setProtected(false);
    added = m_thread->queue().mid(before + 3);
    ASSERT_EQ(added.size(), 2);
    EXPECT_NE(dynamic_cast<DvCmdSelect*>(added[0]), nullptr);
    EXPECT_NE(dynamic_cast<DvCmdProtect*>(added[1]), nullptr);
}

TEST_F(ArrowTargetTest, APatchMaskIsItsFilledShapeAtTheWorkingResolution)
{
    useDivisor(2);
    RectRegion* patch = rectPatch({20, 40, 100, 60});
    const PixelState* state = patch->filledMask();
    ASSERT_TRUE(state->hasMask());
    const QImage whole = testsupport::placedMask(QSize(200, 150), state->mask());
    EXPECT_EQ(whole.pixelIndex(10, 20), 1);
    EXPECT_EQ(whole.pixelIndex(59, 49), 1);
    EXPECT_EQ(whole.pixelIndex(9, 20), 0);
    EXPECT_EQ(whole.pixelIndex(10, 19), 0);
    EXPECT_EQ(whole.pixelIndex(61, 30), 0);
    EXPECT_EQ(testsupport::setPixels(whole), 50 * 30);
    // Asked again, the same bytes: the engine may be reading them.
    EXPECT_EQ(patch->filledMask()->mask().constBits(), state->mask().constBits());
}

TEST_F(ArrowTargetTest, MaskBytesHandedToTheEngineOutliveARebuild)
{
    RectRegion* patch = rectPatch({20, 40, 100, 60});
    PixelState* state = patch->filledMask();
    state->keepForEngine();
    const uchar* bytes = state->mask().constBits();
    QImage probe = state->mask();
    probe = QImage();
    state->clear();
    EXPECT_FALSE(state->hasMask());
    patch->filledMask();
    EXPECT_NE(state->mask().constBits(), bytes);
    // Still readable: the kept copy holds them (the sanitizer build would catch a read of freed
    // memory here).
    int set = 0;
    for (int i = 0; i < 101 * 61; ++i)
        set += bytes[i] != 0;
    EXPECT_GT(set, 0);
}

} // namespace
