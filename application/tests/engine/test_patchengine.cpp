// Patches and forced edges through the model and the real engine on a photograph at divisor 2:
// sub-sessions and their outlines, protection, forced edges, strokes and auto-fill inside a
// patch with undo, a patch's preview and its snapshot, a Complex Hair patch that cannot be
// solved, and deleting patches.

#include "document/BlendingStuff.h"
#include "document/BrushRegion.h"
#include "document/ForcedEdge.h"
#include "document/GmRegion.h"
#include "document/PixelState.h"
#include "document/PolyRegion.h"
#include "document/RectRegion.h"
#include "document/Shape.h"
#include "engine/CommandHooks.h"
#include "engine/DvCmdAutoFill.h"
#include "engine/DvCmdGenerateMask.h"
#include "engine/DvCmdSelect.h"
#include "engine/DvCmdUndo.h"

#include "EngineDocument.h"
#include "LogCapture.h"
#include "ModelImage.h"
#include "ScriptedPrompt.h"

#include "dravik.h"

#include <QLineF>
#include <QPointer>
#include <QSignalSpy>
#include <QVariantMap>

#include <cmath>
#include <cstring>
#include <vector>

using testsupport::placedMask;
using testsupport::waitUntil;

namespace {

constexpr uchar kKeep = 2;
constexpr uchar kDelete = 4;
constexpr uchar kForcedEdge = 16;
constexpr uchar kProtected = 32;
constexpr uchar kDecided = 64;

class PatchEngineTest : public testsupport::EngineDocument {
protected:
    static RectRegion* rectPatch(QRectF r)
    {
        auto* patch = new RectRegion(r.topLeft());
        patch->rectangle().dragCornerTo(r.bottomRight());
        patch->rectangle().endDrag();
        return patch;
    }

    QSize workingSize() const { return status().size(); }
    // The patch's filled mask over the whole working image.
    QImage maskOf(GmRegion* patch) const { return placedMask(workingSize(), patch->filledMask()->mask()); }

    // Every outline point of the patch lies on its mask's border: among the four working
    // pixels that meet at the point's nearest corner, some are inside and some outside.
    void expectOutlineBorders(GmRegion* patch)
    {
        const std::vector<ShapeOutline>& pieces = patch->shape()->outlinePieces();
        ASSERT_FALSE(pieces.empty());
        const QImage mask = maskOf(patch);
        const double d = m_model->resolution();
        int points = 0;
        for (const ShapeOutline& piece : pieces) {
            for (const QPointF& p : piece.polygon) {
                const int cx = int(std::lround(p.x() / d));
                const int cy = int(std::lround(p.y() / d));
                int inside = 0;
                int outside = 0;
                for (int y = cy - 1; y <= cy; ++y)
                    for (int x = cx - 1; x <= cx; ++x) {
                        const bool in = mask.rect().contains(x, y) && mask.pixelIndex(x, y) == 1;
                        (in ? inside : outside) += 1;
                    }
                ASSERT_TRUE(inside > 0 && outside > 0) << p.x() << "," << p.y();
                ++points;
            }
        }
        EXPECT_GE(points, 4);
        // And the pieces go all the way round: their bounds are the mask's.
        QRect set;
        for (int y = 0; y < mask.height(); ++y)
            for (int x = 0; x < mask.width(); ++x)
                if (mask.pixelIndex(x, y) == 1)
                    set |= QRect(x, y, 1, 1);
        const QRectF outline = patch->shape()->outlineBounds();
        EXPECT_NEAR(outline.left() / d, set.left(), 1.0);
        EXPECT_NEAR(outline.top() / d, set.top(), 1.0);
        EXPECT_NEAR(outline.right() / d, set.right() + 1, 1.0);
        EXPECT_NEAR(outline.bottom() / d, set.bottom() + 1, 1.0);
    }

    // The full-resolution cut-out's bytes of one row.
    static const uchar* outputRow(const DvImageDesc& pixels, int y)
    {
        return static_cast<const uchar*>(pixels.data) + std::size_t(y) * pixels.stride;
    }
    QByteArray outputBytes()
    {
        const DvImageDesc pixels = m_model->output()->fullResolutionPixels();
        QByteArray bytes;
        const int row = pixels.width * (pixels.pixelType == DvPixelRgba8 ? 4 : 8);
        for (int y = 0; y < pixels.height; ++y)
            bytes.append(reinterpret_cast<const char*>(outputRow(pixels, y)), row);
        return bytes;
    }

    // Keep on the cat's face, Delete on the wall at the left.
    void markCatAndWall()
    {
        auto keep = stroke({250, 150}, {330, 170}, 8);
        submit(new DvCmdSelect(m_model, keep.get(), 1, kKeep, 0, 0));
        auto drop = stroke({20, 40}, {20, 260}, 8);
        submit(new DvCmdSelect(m_model, drop.get(), 1, kDelete, 0, 0));
        ASSERT_EQ(m_model->statusArray()->statusesPresent() & (kKeep | kDelete), kKeep | kDelete);
    }
};

TEST_F(PatchEngineTest, EachPatchGetsASubSessionBorderedByItsOutlineAndProtectionStaysInside)
{
    open();
    QPointer<GmRegion> rect = rectPatch({60, 40, 140, 120});
    rect->beginSubSession();
    EXPECT_EQ(m_model->activeRegion(), rect);
    auto* poly = new PolyRegion(QPointF(250, 50));
    poly->polygon().appendPoint({400, 60});
    poly->polygon().appendPoint({330, 200});
    poly->beginSubSession();
    auto painted = stroke({100, 220}, {300, 262}, 12);
    auto* brushed = new BrushRegion(*painted);
    brushed->beginSubSession();
    brushed->setProtected(true);
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_model->activeRegion(), brushed);

    const DvSession* image = m_model->segmentation()->session();
    for (GmRegion* patch : {static_cast<GmRegion*>(rect), static_cast<GmRegion*>(poly), static_cast<GmRegion*>(brushed)}) {
        SCOPED_TRACE(patch->metaObject()->className());
        const DvSession* session = patch->segmentation().session();
        ASSERT_NE(session, nullptr);
        EXPECT_EQ(session->parent, image);
        // Without an analysis of its own the sub-session is also the analysis session.
        EXPECT_EQ(patch->segmentation().analysisSession(), session);
        EXPECT_FALSE(patch->hasOwnSegmentation());
        expectOutlineBorders(patch);
    }

    const QImage protectedMask = maskOf(brushed);
    ASSERT_GT(testsupport::setPixels(protectedMask), 200);
    for (int y = 0; y < workingSize().height(); ++y)
        for (int x = 0; x < workingSize().width(); ++x)
            ASSERT_EQ((statusAt(x, y) & kProtected) != 0, protectedMask.pixelIndex(x, y) == 1) << x << "," << y;

    // Unprotected, the bits go; a later protection of the rectangle covers it alone.
    brushed->setProtected(false);
    rect->setProtected(true);
    ASSERT_TRUE(idle());
    const QImage rectMask = maskOf(rect);
    for (int y = 0; y < workingSize().height(); ++y)
        for (int x = 0; x < workingSize().width(); ++x)
            ASSERT_EQ((statusAt(x, y) & kProtected) != 0, rectMask.pixelIndex(x, y) == 1) << x << "," << y;
}

TEST_F(PatchEngineTest, AForcedEdgeLaysItsBitAlongItsLineAndReachesTheCutOutHalved)
{
    open();
    analyse();
    markCatAndWall();
    const QPointF a(150, 100);
    const QPointF b(300, 181);
    const int undoMarked = m_model->undoCount();
    auto* edge = new ForcedEdge(a, 6);
    edge->polygon().appendPoint(b);
    edge->submitToEngine();
    ASSERT_TRUE(idle());
    // Laying an edge is no step on the undo stack.
    EXPECT_EQ(m_model->undoCount(), undoMarked);

    // Bit 16 on the line (within a working pixel) and nowhere away from it.
    const QLineF line(a / 2, b / 2);
    int onLine = 0;
    for (int y = 0; y < workingSize().height(); ++y)
        for (int x = 0; x < workingSize().width(); ++x) {
            if (!(statusAt(x, y) & kForcedEdge))
                continue;
            const QPointF centre(x + 0.5, y + 0.5);
            const QPointF along = line.p1() + (line.p2() - line.p1())
                * qBound(0.0, QPointF::dotProduct(centre - line.p1(), line.p2() - line.p1()) / (line.length() * line.length()), 1.0);
            ASSERT_LE(QLineF(centre, along).length(), 1.6) << x << "," << y;
            ++onLine;
        }
    EXPECT_GE(onLine, 70);
    for (int i = 0; i <= 20; ++i) {
        const QPointF p = line.pointAt(i / 20.0);
        bool found = false;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                found |= (statusAt(int(p.x()) + dx, int(p.y()) + dy) & kForcedEdge) != 0;
        EXPECT_TRUE(found) << p.x() << "," << p.y();
    }

    std::vector<DvForcedEdge> edges;
    std::vector<std::vector<DvOutlinePoint>> points;
    QObject::connect(m_thread.get(), &DravikThread::commandStarted, m_thread.get(), [&](DravikCommand* command) {
        if (auto* cut = dynamic_cast<DvCmdGenerateMask*>(command)) {
            edges = cut->edgeRecords();
            for (const DvForcedEdge& e : edges)
                points.emplace_back(e.points, e.points + e.count);
        }
    });
    m_model->generateMaskSlot();
    ASSERT_TRUE(idle());
    const int undoCut = m_model->undoCount();
    ASSERT_EQ(edges.size(), 1u);
    EXPECT_FLOAT_EQ(edges[0].width, 6.0f);
    ASSERT_EQ(points[0].size(), 2u);
    EXPECT_FLOAT_EQ(points[0][0].column, 75.0f);
    EXPECT_FLOAT_EQ(points[0][0].row, 50.0f);
    EXPECT_FLOAT_EQ(points[0][1].column, 150.0f);
    EXPECT_FLOAT_EQ(points[0][1].row, 90.5f);

    // Deleted and sent again, no edge is left in the engine.
    m_model->deleteForcedEdge(edge);
    m_model->resubmitForcedEdges();
    ASSERT_TRUE(idle());
    for (int y = 0; y < workingSize().height(); ++y)
        for (int x = 0; x < workingSize().width(); ++x)
            ASSERT_EQ(statusAt(x, y) & kForcedEdge, 0) << x << "," << y;
    // Neither is clearing them.
    EXPECT_EQ(m_model->undoCount(), undoCut);
}

TEST_F(PatchEngineTest, AStrokeInsideAPatchWithItsOwnAnalysisIsUndoneWhole)
{
    open();
    analyse();
    markCatAndWall();
    GmRegion* patch = rectPatch({200, 100, 200, 150});
    patch->segmentation().setChecked(true);
    patch->submitToEngine();
    patch->activate();
    ASSERT_TRUE(idle());
    // The patch's analysis ran in a sub-session of its own, beside the borrowing one.
    const DvSession* session = patch->segmentation().session();
    const DvSession* analysis = patch->segmentation().analysisSession();
    ASSERT_NE(session, nullptr);
    ASSERT_NE(analysis, nullptr);
    EXPECT_NE(analysis, session);
    EXPECT_TRUE(analysis->analysed);
    EXPECT_TRUE(patch->hasOwnSegmentation());

    const QByteArray before = statusBytes();
    const int undoBefore = m_model->undoCount();
    auto keep = stroke({260, 200}, {340, 210}, 6);
    submit(new DvCmdSelect(m_model, keep.get(), 1, kKeep, 1, 0));
    const QByteArray after = statusBytes();
    ASSERT_NE(after, before);
    // Only inside the patch.
    const QImage mask = maskOf(patch);
    const int width = workingSize().width();
    for (int i = 0; i < before.size(); ++i) {
        if (before[i] != after[i]) {
            ASSERT_EQ(mask.pixelIndex(i % width, i / width), 1) << i % width << "," << i / width;
        }
    }
    EXPECT_EQ(m_model->undoCount(), undoBefore + 1);

    submit(new DvCmdUndo(m_model));
    EXPECT_EQ(statusBytes(), before);
    EXPECT_EQ(m_model->undoCount(), undoBefore);
}

TEST_F(PatchEngineTest, AStrokeInsideTheActivePatchBlendsAsWideAsThePatchsOwnWidth)
{
    open();
    analyse();
    // A Complex Hair patch over the cat, active while the strokes are made.
    GmRegion* patch = rectPatch({150, 100, 200, 150});
    patch->blending().options().isChoices = true;
    patch->beginSubSession();
    ASSERT_TRUE(idle());
    m_model->setActiveRegion(patch, 0);
    std::vector<int> bands;
    for (const float width : {0.0f, 1.5f}) {
        patch->blending().options().autoBlendWidth = width;
        m_model->blending()->options().autoBlendWidth = 1.5f - width;
        auto keep = stroke({200, 150}, {240, 160}, 9);
        submit(new DvCmdSelect(m_model, keep.get(), 1, kKeep, 0, 0));
        auto drop = stroke({200, 180}, {240, 190}, 9);
        submit(new DvCmdSelect(m_model, drop.get(), 1, kDelete, 1, 0));
        int band = 0;
        for (const char s : statusBytes())
            band += (uchar(s) & 8) != 0;
        bands.push_back(band);
        submit(new DvCmdUndo(m_model));
        submit(new DvCmdUndo(m_model));
    }
    EXPECT_EQ(bands[0], 0) << "the image's width does not reach into the active patch";
    EXPECT_GT(bands[1], 0);
}

TEST_F(PatchEngineTest, AStrokeInAPatchThatWantsItsOwnAnalysisWaitsForIt)
{
    open();
    analyse();
    QStringList tips;
    CommandHooks::setTipHook([&](const QString& text, bool) { tips.append(text); });
    GmRegion* patch = rectPatch({200, 100, 200, 150});
    patch->beginSubSession();
    ASSERT_TRUE(idle());
    patch->segmentation().setChecked(true);
    const QByteArray before = statusBytes();
    auto keep = stroke({260, 200}, {340, 210}, 6);
    submit(new DvCmdSelect(m_model, keep.get(), 1, kKeep, 1, 0));
    CommandHooks::setTipHook(nullptr);
    EXPECT_EQ(tips, QStringList{"Use the <b>Apply</b> button to analyze the patch"});
    EXPECT_EQ(statusBytes(), before);
}

TEST_F(PatchEngineTest, AutoFillInsideAPatchChangesOnlyThePatchAsOneStep)
{
    open();
    analyse();
    markCatAndWall();
    GmRegion* patch = rectPatch({180, 100, 200, 150});
    patch->beginSubSession();
    ASSERT_TRUE(idle());
    const QByteArray before = statusBytes();
    const int undoBefore = m_model->undoCount();
    m_model->autoFillWithKeepSlot();
    ASSERT_TRUE(idle());
    const QByteArray after = statusBytes();
    // The engine fills the sub-session's rectangle: the patch's mask and its rim.
    const QRect area = patch->filledMask()->maskRect();
    const int width = workingSize().width();
    int changed = 0;
    for (int i = 0; i < before.size(); ++i)
        if (before[i] != after[i]) {
            ASSERT_TRUE(area.contains(i % width, i / width)) << i % width << "," << i / width;
            ++changed;
        }
    EXPECT_GT(changed, 100);
    EXPECT_EQ(m_model->undoCount(), undoBefore + 1);
    submit(new DvCmdUndo(m_model));
    EXPECT_EQ(statusBytes(), before);
}

TEST_F(PatchEngineTest, APreviewChangesOnlyThePatchAndItsSnapshotMarksItDecidedWhileItHolds)
{
    open();
    analyse();
    markCatAndWall();
    // Across the wall's Delete stroke and into the picture.
    GmRegion* patch = rectPatch({4, 100, 120, 80});
    patch->beginSubSession();
    ASSERT_TRUE(idle());
    m_model->revertMask();
    const QByteArray before = outputBytes();
    QList<const GmRegion*> available;
    QObject::connect(m_model, &GmModel::patchPreviewAvailable, m_thread.get(),
                     [&](const GmRegion* region) { available.append(region); });

    submit(new DvCmdGenerateMask(m_model, patch));
    ASSERT_EQ(available, QList<const GmRegion*>{patch});
    const QByteArray after = outputBytes();
    ASSERT_NE(after, before);
    const DvImageDesc pixels = m_model->output()->fullResolutionPixels();
    const int pixelBytes = pixels.pixelType == DvPixelRgba8 ? 4 : 8;
    const QRect inside(patch->filledMask()->maskRect().topLeft() * 2, patch->filledMask()->maskRect().size() * 2);
    for (int i = 0; i < before.size(); ++i)
        if (before[i] != after[i]) {
            const int p = i / pixelBytes;
            ASSERT_TRUE(inside.contains(p % pixels.width, p / pixels.width)) << p % pixels.width << "," << p / pixels.width;
        }

    // The snapshot holds the classes inside the patch and the blending the preview ran with.
    const PixelState* state = patch->shape()->pixelState();
    ASSERT_TRUE(state->isSaved());
    EXPECT_EQ(state->key(), QVariant(patch->blending().options().toMap()));
    EXPECT_FALSE(state->statusChanged(status()));
    EXPECT_EQ(state->savedStatus().pixelIndex(10 - state->offset().x(), 70 - state->offset().y()), kDelete);
    for (int y = 0; y < workingSize().height(); ++y)
        for (int x = 0; x < workingSize().width(); ++x)
            ASSERT_EQ(statusAt(x, y) & kDecided, 0);

    // While the preview holds, the patch is marked decided, exactly over its mask.
    const QImage mask = maskOf(patch);
    m_model->statusArray()->markPatchDecided(patch);
    for (int y = 0; y < workingSize().height(); ++y)
        for (int x = 0; x < workingSize().width(); ++x)
            ASSERT_EQ((statusAt(x, y) & kDecided) != 0, mask.pixelIndex(x, y) == 1) << x << "," << y;
    DvImage* record = m_model->statusArray()->engineStatusImage();
    for (int y = 0; y < record->height; ++y)
        for (int x = 0; x < record->width; ++x)
            record->data[std::size_t(y) * record->stride + x] &= uchar(~kDecided);

    // Not once its blending changed.
    patch->blending().options().blendRatio = 0.9f;
    m_model->statusArray()->markPatchDecided(patch);
    for (int y = 0; y < workingSize().height(); ++y)
        for (int x = 0; x < workingSize().width(); ++x)
            ASSERT_EQ(statusAt(x, y) & kDecided, 0);

    // A whole-image cut-out with the preview holding leaves no mark behind.
    patch->blending().options().blendRatio = 0.2f;
    m_model->generateMaskSlot();
    ASSERT_TRUE(idle());
    for (int y = 0; y < workingSize().height(); ++y)
        for (int x = 0; x < workingSize().width(); ++x)
            ASSERT_EQ(statusAt(x, y) & kDecided, 0);

    // Reverting the mask forgets the preview.
    m_model->revertMask();
    EXPECT_FALSE(state->isSaved());
    EXPECT_EQ(outputBytes(), before);
}

TEST_F(PatchEngineTest, AComplexHairPatchWithoutKeepIsCutOutAsIfAbsentAndTheUserIsToldWhichPatch)
{
    testsupport::ScriptedPrompt prompts;
    QStringList tips;
    CommandHooks::setTipHook([&](const QString& text, bool) { tips.append(text); });
    open();
    analyse();
    markCatAndWall();
    // On the wall, Delete only: no colour of the cat to sample there.
    GmRegion* patch = rectPatch({8, 60, 30, 160});
    patch->beginSubSession();
    ASSERT_TRUE(idle());
    submit(new DvCmdSelect(m_model, patch, kKeep | 8 | 1, kDelete));
    m_model->generateMaskSlot();
    ASSERT_TRUE(idle());
    const QByteArray without = outputBytes();
    ASSERT_TRUE(prompts.messages().isEmpty());

    patch->blending().options().isChoices = true;
    m_model->revertMask();
    m_model->generateMaskSlot();
    ASSERT_TRUE(idle());
    EXPECT_TRUE(outputBytes() == without) << "the patch changed the cut-out";
    ASSERT_TRUE(waitUntil([&] { return !prompts.messages().isEmpty(); }, 10000));
    ASSERT_EQ(prompts.messages().size(), 1);
    const Prompt::Message told = prompts.messages().first();
    EXPECT_EQ(told.kind, Prompt::Warning);
    EXPECT_TRUE(told.text.contains("the patch at 8, 60 (30 x 160 pixels)")) << told.text.toStdString();
    EXPECT_TRUE(told.text.contains("needs both Keep and Delete within it")) << told.text.toStdString();

    // Its preview says so too, and keeps no result of its own for later cut-outs.
    submit(new DvCmdGenerateMask(m_model, patch));
    EXPECT_FALSE(patch->shape()->pixelState()->isSaved());
    EXPECT_TRUE(waitUntil([&] { return prompts.messages().size() == 2; }, 10000));

    // A test render over it says so in the tip window, without a message in the drag's way.
    submit(new DvCmdGenerateMask(m_model, QRect(0, 20, 40, 100)));
    QCoreApplication::processEvents();
    CommandHooks::setTipHook(nullptr);
    EXPECT_EQ(prompts.messages().size(), 2);
    ASSERT_EQ(tips.size(), 1);
    EXPECT_TRUE(tips.first().contains("the patch at 8, 60 (30 x 160 pixels)"));
}

TEST_F(PatchEngineTest, DeletingAPatchEndsItsSubSessionAndDeletesIt)
{
    open();
    QPointer<GmRegion> patch = rectPatch({60, 40, 140, 120});
    patch->beginSubSession();
    ASSERT_TRUE(idle());
    DvSession* session = patch->segmentation().session();
    ASSERT_NE(session, nullptr);
    int count = 0;
    ASSERT_EQ(DvNumAvailableUndo(session, &count), DvOk);

    m_model->deleteRegion(patch);
    EXPECT_TRUE(m_model->patches().isEmpty());
    ASSERT_TRUE(idle());
    EXPECT_TRUE(patch.isNull());
    EXPECT_EQ(DvNumAvailableUndo(session, &count), DvBadSession);
}

TEST_F(PatchEngineTest, APatchWhollyOutsideTheImageIsDeletedWhenItsSubSessionCannotBegin)
{
    open();
    testsupport::LogCapture log;
    // Built from a map: the rectangle tool would keep it inside the image.
    QVariantMap map{{"type", RectRegion::Type}, {"GmRegion", QVariantMap()},
                    {"rectangle_", QVariantMap{{"rect_", QRectF(-300, -300, 50, 50)}, {"corner1_", QPointF(-300, -300)}}}};
    QPointer<GmRegion> patch = createArrowTargetFromVariant(map)->asRegion();
    m_model->addRegion(patch);
    patch->beginSubSession();
    ASSERT_TRUE(idle());
    EXPECT_TRUE(log.lines().join('\n').contains("DvCmdBeginSubSession::prepare: No DvSelection!"));
    EXPECT_TRUE(m_model->patches().isEmpty());
    EXPECT_TRUE(patch.isNull());
}

TEST_F(PatchEngineTest, ChangingResolutionBeginsThePatchesAgainAtTheNewDivisor)
{
    open();
    GmRegion* patch = rectPatch({60, 40, 140, 120});
    patch->beginSubSession();
    auto painted = stroke({100, 220}, {300, 262}, 12);
    QPointer<GmRegion> brushed = new BrushRegion(*painted);
    brushed->beginSubSession();
    ASSERT_TRUE(idle());
    m_model->changeResolution(1);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(brushed.isNull());
    ASSERT_EQ(m_model->patches(), QList<GmRegion*>{patch});
    ASSERT_NE(patch->segmentation().session(), nullptr);
    EXPECT_EQ(patch->filledMask()->maskRect(), QRect(59, 39, 142, 122));
    expectOutlineBorders(patch);
}

TEST_F(PatchEngineTest, TheHighlightKeepsToTheActivePatch)
{
    open();
    GmRegion* patch = rectPatch({60, 40, 140, 120});
    patch->beginSubSession();
    ASSERT_TRUE(idle());
    GmStatusArray* array = m_model->statusArray();
    array->highlightChanged(std::vector<bool>(256, true), Ht::colour::Red, 0xff);
    ASSERT_TRUE(waitUntil([&] { return !array->isHighlightRunning(); }));
    const QImage& highlight = *array->highlightImage();
    const QImage mask = maskOf(patch);
    for (int y = 0; y < highlight.height(); ++y)
        for (int x = 0; x < highlight.width(); ++x)
            ASSERT_EQ(highlight.pixelIndex(x, y) == 1, mask.pixelIndex(x, y) == 1) << x << "," << y;
}

} // namespace
