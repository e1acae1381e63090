// The whole-image engine commands through the document model and the real engine on a
// photograph: brush strokes, whole-image selections, cleaning, auto-fill, analysis and the
// cut-out.

#include "document/BlendingStuff.h"
#include "document/Brushing.h"
#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/SegmentationStuff.h"
#include "document/Shape.h"
#include "engine/CommandHooks.h"
#include "engine/DravikCommand.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdAnalyseImage.h"
#include "engine/DvCmdDespeckleSelection.h"
#include "engine/DvCmdGenerateMask.h"
#include "engine/DvCmdRedo.h"
#include "engine/DvCmdSelect.h"
#include "engine/DvCmdUndo.h"

#include "EngineDocument.h"
#include "HoldCommand.h"
#include "Wait.h"
#include "thread_start_failure.h"

#include "dravik.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

using testsupport::waitUntil;

namespace {

const QString photoPath = QStringLiteral(KESTRINE_TEST_DATA "/chelsea.png");

// Stands in for the edge-finding panel, which the record reaches by slot name.
class PanelStandIn : public QObject {
    Q_OBJECT
public:
    int calls = 0;
    bool pendingAtLastCall = false;
    SegmentationStuff* record = nullptr;
public slots:
    void setEnablednessOfButtons()
    {
        ++calls;
        pendingAtLastCall = record->hasPendingAnalysis();
    }
};

class EngineCommandTest : public testsupport::EngineDocument {
protected:
    void SetUp() override
    {
        EngineDocument::SetUp();
        QObject::connect(m_thread.get(), &DravikThread::commandFinished, m_thread.get(),
                         [this](DravikCommand* command) {
                             m_results.append(qMakePair(command->description(), command->result()));
                         });
        QObject::connect(m_model, &GmModel::dvUndoStackChanged, m_thread.get(),
                         [this](int undo, int redo) { m_undoStack.append({undo, redo}); });
        CommandHooks::setTipHook([this](const QString& text, bool) { m_tips.append(text); });
    }
    void TearDown() override
    {
        CommandHooks::setTipHook(nullptr);
        EngineDocument::TearDown();
    }

    // At full resolution, with the lists of what came before cleared.
    void open(const QString& path = photoPath)
    {
        ASSERT_TRUE(m_model->setImage(1, 1, new KsSourceImage(path), nullptr));
        ASSERT_TRUE(idle());
        ASSERT_NE(m_model->statusArray()->statusImage(), nullptr);
        m_results.clear();
        m_undoStack.clear();
    }

    void analyse()
    {
        EngineDocument::analyse();
        m_results.clear();
        m_undoStack.clear();
    }

    int lastResult() const { return m_results.isEmpty() ? -1 : m_results.last().second; }
    // Working pixels with the class bit.
    int classCount(int bit) const
    {
        int n = 0;
        for (const char s : statusBytes())
            n += (uchar(s) & bit) != 0;
        return n;
    }
    QByteArray cutoutBytes() const
    {
        const DvImageDesc pixels = m_model->output()->fullResolutionPixels();
        QByteArray bytes;
        for (int y = 0; y < pixels.height; ++y)
            bytes.append(static_cast<const char*>(pixels.data) + std::size_t(y) * pixels.stride,
                         pixels.width * (pixels.pixelType == DvPixelRgba8 ? 4 : 8));
        return bytes;
    }

    QList<QPair<QString, int>> m_results;
    QList<QPair<int, int>> m_undoStack;
    QStringList m_tips;
};

TEST_F(EngineCommandTest, ALocalStrokeBeforeAnyAnalysisAsksForOne)
{
    open();
    auto brushing = stroke({100, 100}, {140, 100}, 9);
    submit(new DvCmdSelect(m_model, brushing.get(), 1, 2, 1, 0));
    EXPECT_EQ(lastResult(), DvNoSegmentation);
    ASSERT_EQ(m_tips.size(), 1);
    EXPECT_EQ(m_tips.first(),
              QStringLiteral("Brushing failed because no segmentation was available. Apply some "
                             "Edge Detection options to create a segmentation"));
    EXPECT_EQ(statusAt(120, 100), 1);
}

TEST_F(EngineCommandTest, AnExactStrokeMarksExactlyItsPaintedPixelsAndUndoFollows)
{
    open();
    auto brushing = stroke({100, 100}, {140, 120}, 9);
    submit(new DvCmdSelect(m_model, brushing.get(), 1, 2, 0, 0));
    EXPECT_EQ(lastResult(), DvOk);
    const QImage& status = *m_model->statusArray()->statusImage();
    int marked = 0;
    for (int y = 0; y < status.height(); ++y)
        for (int x = 0; x < status.width(); ++x) {
            const bool painted = brushing->pixelIndex(x, y) == 1;
            ASSERT_EQ(status.pixelIndex(x, y), painted ? 2 : 1) << x << "," << y;
            marked += painted;
        }
    EXPECT_GT(marked, 200);
    EXPECT_EQ(m_model->statusArray()->statusesPresent(), 2 | 1);

    auto second = stroke({300, 200}, {320, 200}, 5);
    submit(new DvCmdSelect(m_model, second.get(), 1, 2, 0, 0));
    ASSERT_EQ(m_undoStack.size(), 2);
    EXPECT_EQ(m_undoStack[0], qMakePair(1, 0));
    EXPECT_EQ(m_undoStack[1], qMakePair(2, 0));
}

TEST_F(EngineCommandTest, WholeImageSelectionsClearAClassAndOnlyRealChangesOpenAStep)
{
    open();
    auto brushing = stroke({100, 100}, {140, 120}, 9);
    submit(new DvCmdSelect(m_model, brushing.get(), 1, 2, 0, 0));
    ASSERT_EQ(statusAt(120, 110), 2);
    m_undoStack.clear();

    // Equal values and protection change nothing on the undo stack.
    submit(new DvCmdSelect(m_model, 2, 2));
    submit(new DvCmdSelect(m_model, 32, 1));
    ASSERT_EQ(m_undoStack.size(), 2);
    EXPECT_EQ(m_undoStack[1], qMakePair(1, 0));

    submit(new DvCmdSelect(m_model, 14, 1));
    EXPECT_EQ(lastResult(), DvOk);
    EXPECT_EQ(statusAt(120, 110), 1);
    EXPECT_EQ(m_model->statusArray()->statusesPresent(), 1);
    EXPECT_EQ(m_undoStack.last(), qMakePair(2, 0));
}

TEST_F(EngineCommandTest, AStrokeOutsideTheImageDoesNotRun)
{
    open();
    auto brushing = stroke({-100, -100}, {-60, -100}, 5);
    submit(new DvCmdSelect(m_model, brushing.get(), 1, 2, 0, 0));
    EXPECT_TRUE(m_undoStack.isEmpty() || m_undoStack.last() == qMakePair(0, 0));
    EXPECT_EQ(m_model->statusArray()->statusesPresent(), 1);
}

TEST_F(EngineCommandTest, AnAnalysisAppliesTheOptionsAndRebuildsTheOutline)
{
    open();
    QSignalSpy begun(m_model, &GmModel::imageAnalysisHasBegun);
    QSignalSpy smeg(m_model, &GmModel::smegChanged);
    SegmentationStuff* record = m_model->segmentation();
    record->edos().sensitivity().setCurrent(50);
    record->submitAnalysis(nullptr);
    EXPECT_EQ(begun.count(), 1);
    EXPECT_GE(smeg.count(), 1);
    EXPECT_EQ(record->edos().sensitivity().applied(), 50);
    ASSERT_TRUE(idle());
    EXPECT_EQ(lastResult(), DvOk);
    EXPECT_GE(smeg.count(), 2);
    DvSession* session = record->analysisSession();
    ASSERT_NE(session, nullptr);
    EXPECT_TRUE(session->analysed);
    DvVariable variable{};
    ASSERT_EQ(DvGetVariable(session, &variable, "imageTol"), DvOk);
    EXPECT_NEAR(variable.normalised, 1.0f - 49.0f / 99.0f, 1e-5);
    ASSERT_NE(record->edgeOutline(), nullptr);
    EXPECT_FALSE(record->edgeOutline()->outlinePieces().empty());
}

TEST_F(EngineCommandTest, ThePanelUpdatesItsButtonsWhenTheAnalysisStartsAndEnds)
{
    open();
    PanelStandIn panel;
    panel.record = m_model->segmentation();
    panel.record->submitAnalysis(&panel);
    EXPECT_EQ(panel.calls, 1);
    EXPECT_TRUE(panel.pendingAtLastCall);
    ASSERT_TRUE(idle());
    EXPECT_EQ(panel.calls, 2);
}

TEST_F(EngineCommandTest, ASecondAnalysisCancelsOneStillQueued)
{
    open();
    std::atomic<bool> release{false};
    m_thread->submit(new testsupport::HoldCommand(&release));
    SegmentationStuff* record = m_model->segmentation();
    record->submitAnalysis(nullptr);
    QPointer<DravikCommand> first = record->analysisCommand();
    ASSERT_FALSE(first.isNull());
    record->submitAnalysis(nullptr);
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(record->hasPendingAnalysis());
    release = true;
    ASSERT_TRUE(idle());
    int analyses = 0;
    for (const auto& result : m_results)
        analyses += result.first == QStringLiteral("Finding Edges in Image...");
    EXPECT_EQ(analyses, 1);
    EXPECT_FALSE(record->hasPendingAnalysis());
}

TEST_F(EngineCommandTest, ACancelledAnalysisRestoresTheStoredOptions)
{
    const QString big = QString::fromLocal8Bit(qgetenv("KESTRINE_TEST_SCRATCH")) + "/big.png";
    QImage photo(photoPath);
    ASSERT_FALSE(photo.isNull());
    ASSERT_TRUE(photo.scaled(2449, 1630, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(big));
    open(big);
    SegmentationStuff* record = m_model->segmentation();
    const int stored = record->edos().sensitivity().stored();
    QObject::connect(m_thread.get(), &DravikThread::commandStarted, m_thread.get(),
                     [this](DravikCommand* command) { m_thread->cancelCommand(command); });
    record->edos().sensitivity().setCurrent(stored == 90 ? 10 : 90);
    record->edos().width().setCurrent(record->edos().width().stored() + 2);
    record->submitAnalysis(nullptr);
    ASSERT_TRUE(idle());
    EXPECT_EQ(lastResult(), DvCancelled);
    EXPECT_EQ(record->edos().sensitivity().applied(), stored);
    EXPECT_EQ(record->edos().width().applied(), record->edos().width().stored());
}

// An analysis whose worker thread cannot be started lacks memory: its options go back to the
// stored ones, the outline of the analysis the engine keeps stays shown, and the next analysis
// runs.
TEST_F(EngineCommandTest, AnAnalysisWhoseWorkerCannotStartKeepsTheEarlierOutline)
{
    open();
    analyse();
    SegmentationStuff* record = m_model->segmentation();
    ASSERT_NE(record->edgeOutline(), nullptr);
    const std::size_t pieces = record->edgeOutline()->outlinePieces().size();
    ASSERT_GT(pieces, 0u);
    const int stored = record->edos().sensitivity().stored();
    record->edos().sensitivity().setCurrent(stored == 90 ? 10 : 90);
    testsupport::failThreadStart(0);
    record->submitAnalysis(nullptr);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(testsupport::threadStartFailed());
    testsupport::stopFailingThreadStarts();
    EXPECT_EQ(lastResult(), DvOutOfMemory);
    EXPECT_FALSE(m_thread->isLibraryDead());
    EXPECT_EQ(record->edos().sensitivity().applied(), stored);
    ASSERT_NE(record->edgeOutline(), nullptr);
    EXPECT_EQ(record->edgeOutline()->outlinePieces().size(), pieces);

    record->submitAnalysis(nullptr);
    ASSERT_TRUE(idle());
    EXPECT_EQ(lastResult(), DvOk);
}

TEST_F(EngineCommandTest, AStrokeAgainstTheOtherClassCompletesTheMaskInTheSameStep)
{
    open();
    analyse();
    auto keep = stroke({200, 150}, {240, 160}, 9);
    submit(new DvCmdSelect(m_model, keep.get(), 1, 2, 0, 0));
    ASSERT_EQ(m_model->statusArray()->statusesPresent() & 8, 0);
    // Outside the Keep stroke, near enough for the two to meet.
    auto remove = stroke({200, 180}, {240, 190}, 9);
    submit(new DvCmdSelect(m_model, remove.get(), 1, 4, 1, 0));
    EXPECT_EQ(lastResult(), DvOk);
    EXPECT_NE(m_model->statusArray()->statusesPresent() & 8, 0);
    submit(new DvCmdUndo(m_model));
    submit(new DvCmdRedo(m_model));
    const QList<QPair<int, int>> expected{{1, 0}, {2, 0}, {1, 1}, {2, 0}};
    EXPECT_EQ(m_undoStack, expected);
}

TEST_F(EngineCommandTest, CleaningNeedsAnAnalysisAndIsOneStep)
{
    open();
    submit(new DvCmdDespeckleSelection(m_model, 2 | 8));
    EXPECT_EQ(m_tips.size(), 1);
    EXPECT_EQ(m_undoStack.last(), qMakePair(0, 0));

    analyse();
    auto keep = stroke({200, 150}, {240, 160}, 9);
    submit(new DvCmdSelect(m_model, keep.get(), 1, 2, 0, 0));
    // A lone speck of Keep away from the stroke.
    auto speck = stroke({20, 280}, {20, 280}, 1);
    submit(new DvCmdSelect(m_model, speck.get(), 1, 2, 0, 0));
    m_model->cleanSelection(2 | 8);
    ASSERT_TRUE(idle());
    EXPECT_EQ(lastResult(), DvOk);
    EXPECT_EQ(m_undoStack.last(), qMakePair(3, 0));
    // Unassigned too: the clean tool's promise on an unmarked click.
    m_model->cleanSelection(1);
    ASSERT_TRUE(idle());
    EXPECT_EQ(lastResult(), DvOk);
    EXPECT_EQ(m_undoStack.last(), qMakePair(4, 0));
}

TEST_F(EngineCommandTest, TheImageAutoFillSlotsEachMakeOneStep)
{
    open();
    analyse();
    auto keep = stroke({200, 150}, {240, 160}, 9);
    submit(new DvCmdSelect(m_model, keep.get(), 1, 2, 0, 0));
    auto remove = stroke({10, 10}, {60, 10}, 9);
    submit(new DvCmdSelect(m_model, remove.get(), 1, 4, 0, 1));
    const int before = m_undoStack.last().first;
    m_model->autoFillImageWithKeepSlot();
    ASSERT_TRUE(idle());
    EXPECT_EQ(lastResult(), DvOk);
    m_model->autoFillImageWithDeleteSlot();
    ASSERT_TRUE(idle());
    EXPECT_EQ(lastResult(), DvOk);
    m_model->autoFillImageSlot();
    ASSERT_TRUE(idle());
    EXPECT_EQ(lastResult(), DvOk);
    EXPECT_EQ(m_undoStack.last().first, before + 3);
    EXPECT_EQ(m_model->statusArray()->statusesPresent() & 1, 0);
}

// The cut-out's alpha at a full-resolution pixel, on 0..1.
double alphaAt(KsSourceImage* image, int x, int y)
{
    const DvImageDesc pixels = image->fullResolutionPixels();
    const auto* row = static_cast<const uchar*>(pixels.data) + std::size_t(y) * pixels.stride;
    switch (pixels.pixelType) {
    case DvPixelRgba8:
        return row[x * 4 + 3] / 255.0;
    case DvPixelRgba16:
        return reinterpret_cast<const quint16*>(row)[x * 4 + 3] / 65535.0;
    case DvPixelRgba16H:
        return reinterpret_cast<const quint16*>(row)[x * 4 + 3] / 32768.0;
    }
    return -1;
}

class CutoutTest : public EngineCommandTest, public ::testing::WithParamInterface<const char*> {};

TEST_F(EngineCommandTest, ACutoutNeedsAnAnalysisAndAMarkedClass)
{
    open();
    DvCmdGenerateMask::setCutoutStamp(-7);
    QSignalSpy cutout(m_model, &GmModel::cutoutChanged);
    auto keep = stroke({200, 150}, {240, 160}, 9);
    submit(new DvCmdSelect(m_model, keep.get(), 1, 2, 0, 0));
    m_model->generateMaskSlot();
    ASSERT_TRUE(idle());
    EXPECT_EQ(DvCmdGenerateMask::cutoutStamp(), -7);
    EXPECT_EQ(cutout.count(), 0);

    submit(new DvCmdSelect(m_model, 14, 1));
    analyse();
    m_model->generateMaskSlot();
    ASSERT_TRUE(idle());
    EXPECT_EQ(DvCmdGenerateMask::cutoutStamp(), -7);
    EXPECT_EQ(cutout.count(), 0);
}

TEST_P(CutoutTest, TheCutoutFollowsTheStrokesAndStampsTheChangeCounter)
{
    open(QStringLiteral(KESTRINE_TEST_DATA "/") + GetParam());
    analyse();
    auto keep = stroke({200, 150}, {240, 160}, 9);
    submit(new DvCmdSelect(m_model, keep.get(), 1, 2, 0, 0));
    auto remove = stroke({10, 10}, {60, 10}, 9);
    submit(new DvCmdSelect(m_model, remove.get(), 1, 4, 0, 1));
    QSignalSpy cutout(m_model, &GmModel::cutoutChanged);
    QList<int> tabs;
    CommandHooks::setTabHook([&tabs](int tab) { tabs.append(tab); });
    m_model->generateMaskSlot();
    CommandHooks::setTabHook(nullptr);
    EXPECT_EQ(tabs, QList<int>{CommandHooks::CutoutTab});
    ASSERT_TRUE(idle());
    EXPECT_EQ(lastResult(), DvOk);
    EXPECT_EQ(cutout.count(), 1);
    EXPECT_DOUBLE_EQ(alphaAt(m_model->output(), 220, 155), 1.0);
    EXPECT_DOUBLE_EQ(alphaAt(m_model->output(), 35, 10), 0.0);
    EXPECT_EQ(DvCmdGenerateMask::cutoutStamp(), m_thread->changeCounter());
    const QImage& status = *m_model->statusArray()->statusImage();
    for (int y = 0; y < status.height(); ++y)
        for (int x = 0; x < status.width(); ++x)
            ASSERT_EQ(status.pixelIndex(x, y) & 64, 0) << x << "," << y;

    m_model->autoFillImageSlot();
    ASSERT_TRUE(idle());
    EXPECT_NE(DvCmdGenerateMask::cutoutStamp(), m_thread->changeCounter());
}


// The Blend Mask Width is the band factor of what lays Blend automatically: a Keep or Delete
// stroke that meets the other class, and the auto-fill that completes a cut-out's missing
// class. Over Keep and Delete already marked, a cut-out fills nothing and the width is moot.
TEST_F(EngineCommandTest, TheBlendMaskWidthSizesTheBandOfAStrokeAgainstTheOtherClassAndOfACutoutsFill)
{
    open();
    analyse();
    std::vector<int> bands;
    for (const float width : {0.0f, 0.15f, 0.75f, 1.5f}) {
        m_model->blending()->options().autoBlendWidth = width;
        auto keep = stroke({200, 150}, {240, 160}, 9);
        submit(new DvCmdSelect(m_model, keep.get(), 1, 2, 0, 0));
        auto remove = stroke({200, 180}, {240, 190}, 9);
        submit(new DvCmdSelect(m_model, remove.get(), 1, 4, 1, 0));
        bands.push_back(classCount(8));
        if (width == 0.75f) {
            // Changed after the strokes, the width leaves the cut-out as it was.
            m_model->generateMaskSlot();
            ASSERT_TRUE(idle());
            const QByteArray medium = cutoutBytes();
            m_model->blending()->options().autoBlendWidth = 1.5f;
            m_model->revertMask();
            m_model->generateMaskSlot();
            ASSERT_TRUE(idle());
            EXPECT_EQ(cutoutBytes(), medium);
        }
        submit(new DvCmdUndo(m_model));
        submit(new DvCmdUndo(m_model));
        ASSERT_EQ(m_model->statusArray()->statusesPresent() & (2 | 4 | 8), 0);
    }
    EXPECT_EQ(bands[0], 0);
    EXPECT_LT(bands[0], bands[1]);
    EXPECT_LT(bands[1], bands[2]);
    EXPECT_LT(bands[2], bands[3]);

    // Keep only: the cut-out fills the rest as Delete, with a band as wide as the width says.
    std::vector<QByteArray> cutouts;
    for (const float width : {0.0f, 1.5f}) {
        m_model->blending()->options().autoBlendWidth = width;
        auto keep = stroke({200, 150}, {240, 160}, 9);
        submit(new DvCmdSelect(m_model, keep.get(), 1, 2, 1, 0));
        m_model->revertMask();
        m_model->generateMaskSlot();
        ASSERT_TRUE(idle());
        ASSERT_EQ(lastResult(), DvOk);
        EXPECT_EQ(classCount(8) != 0, width != 0.0f);
        cutouts.push_back(cutoutBytes());
        submit(new DvCmdUndo(m_model));
        submit(new DvCmdUndo(m_model));
    }
    EXPECT_NE(cutouts[0], cutouts[1]);
}

INSTANTIATE_TEST_SUITE_P(Photographs, CutoutTest, ::testing::Values("chelsea.png", "chelsea16.png"));

} // namespace

#include "test_enginecommands.moc"
