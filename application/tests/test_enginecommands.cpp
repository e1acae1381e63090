// The whole-image engine commands through the document model and the real engine on a
// photograph: brush strokes, whole-image selections, cleaning, auto-fill, analysis and the
// cut-out.

#include "Brushing.h"
#include "CommandHooks.h"
#include "DravikCommand.h"
#include "DravikThread.h"
#include "DvCmdSelect.h"
#include "GmModel.h"
#include "GmStatusArray.h"
#include "KsAppPreferences.h"
#include "KsSourceImage.h"
#include "SegmentationStuff.h"

#include "Wait.h"

#include "dravik.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>

using testsupport::waitUntil;

namespace {

const QString photoPath = QStringLiteral(KESTRINE_TEST_DATA "/chelsea.png");

class EngineCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_preferences = std::make_unique<KsAppPreferences>();
        m_thread = std::make_unique<DravikThread>();
        QObject::connect(m_thread.get(), &DravikThread::commandFinished, m_thread.get(),
                         [this](DravikCommand* command) {
                             m_results.append(qMakePair(command->description(), command->result()));
                         });
        m_model = GmModel::instance();
        QObject::connect(m_model, &GmModel::dvUndoStackChanged, m_thread.get(),
                         [this](int undo, int redo) { m_undoStack.append({undo, redo}); });
        CommandHooks::setTipHook([this](const QString& text, bool) { m_tips.append(text); });
    }
    void TearDown() override
    {
        CommandHooks::setTipHook(nullptr);
        if (GmModel* model = GmModel::existingInstance()) {
            model->closeImage();
            EXPECT_TRUE(idle());
        }
        GmModel::destroy();
        m_thread.reset();
        m_preferences.reset();
    }

    bool idle()
    {
        return waitUntil([this] { return !m_thread->isBusy() && m_thread->isQueueEmpty(); });
    }

    void open(const QString& path = photoPath)
    {
        ASSERT_TRUE(m_model->setImage(1, 1, new KsSourceImage(path), nullptr));
        ASSERT_TRUE(idle());
        ASSERT_NE(m_model->statusArray()->statusImage(), nullptr);
        m_results.clear();
        m_undoStack.clear();
    }

    void submit(DravikCommand* command)
    {
        m_thread->submit(command);
        ASSERT_TRUE(idle());
    }

    int lastResult() const { return m_results.isEmpty() ? -1 : m_results.last().second; }
    uchar statusAt(int x, int y) const { return m_model->statusArray()->statusImage()->pixelIndex(x, y); }

    // A straight stroke of the given width between two image points.
    static std::unique_ptr<Brushing> stroke(QPointF from, QPointF to, double size)
    {
        auto brushing = std::make_unique<Brushing>(QColor(Qt::green));
        brushing->startStroke(from, size);
        brushing->addSegment(to, size);
        return brushing;
    }

    std::unique_ptr<KsAppPreferences> m_preferences;
    std::unique_ptr<DravikThread> m_thread;
    GmModel* m_model = nullptr;
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

} // namespace
