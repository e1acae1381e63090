// The Preview Cut-out tool on an analysed photograph at divisor 2: when it can be chosen, what a
// click, a flat drag and a real drag submit, the area the engine renders, Escape and
// deactivation, and the preview of a patch.

#include "document/RectRegion.h"
#include "document/Rectangle.h"
#include "engine/DvCmdGenerateMask.h"
#include "engine/DvCmdSelect.h"
#include "tools/NoTool.h"
#include "tools/TestRenderTool.h"

#include "EngineDocument.h"
#include "HoldCommand.h"

#include <QMouseEvent>

#include <atomic>
#include <memory>

namespace {

class TestRenderToolTest : public testsupport::EngineDocument {
protected:
    void SetUp() override
    {
        EngineDocument::SetUp();
        m_noTool = std::make_unique<NoTool>();
        m_tool = std::make_unique<TestRenderTool>();
        open(2);
    }
    void TearDown() override
    {
        m_release = true;
        EXPECT_TRUE(idle());
        m_tool.reset();
        m_noTool.reset();
        EngineDocument::TearDown();
    }
    // Keep above, Delete below a horizontal line through the preview area.
    void markKeepAndDelete()
    {
        auto keep = stroke(QPointF(0, 30), QPointF(120, 30), 5);
        submit(new DvCmdSelect(m_model, keep.get(), 1, 2, 0, 0));
        auto remove = stroke(QPointF(0, 55), QPointF(120, 55), 5);
        submit(new DvCmdSelect(m_model, remove.get(), 1, 4, 0, 0));
    }
    void hold()
    {
        m_release = false;
        m_thread->submit(new testsupport::HoldCommand(&m_release));
    }
    QList<DvCmdGenerateMask*> queuedRenders() const
    {
        QList<DvCmdGenerateMask*> renders;
        for (DravikCommand* command : m_thread->queue())
            if (auto* render = qobject_cast<DvCmdGenerateMask*>(command))
                renders.append(render);
        return renders;
    }
    // The mouse as the canvas hands it to the current tool.
    void send(QEvent::Type type, QPointF p, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, QPointF(), QPointF(), button, buttons, Qt::NoModifier);
        m_tool->trackButtons(&event);
        if (type == QEvent::MouseButtonPress)
            m_tool->mousePressed(p, &event);
        else if (type == QEvent::MouseMove)
            m_tool->mouseMoved(p, &event);
        else
            m_tool->mouseReleased(p, &event);
    }
    void drag(QPointF from, QPointF via, QPointF to)
    {
        send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseMove, via, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    }
    QByteArray outputBytes() const
    {
        const DvImageDesc pixels = m_model->output()->fullResolutionPixels();
        return QByteArray(static_cast<const char*>(pixels.data), int(pixels.stride * pixels.height));
    }

    std::unique_ptr<NoTool> m_noTool;
    std::unique_ptr<TestRenderTool> m_tool;
    std::atomic<bool> m_release{true};
};

} // namespace

TEST_F(TestRenderToolTest, AvailableOnlyWithAnAnalysisAndKeepOrDeletePixels)
{
    EXPECT_FALSE(m_tool->isAvailable());
    markKeepAndDelete();
    EXPECT_FALSE(m_tool->isAvailable()) << "no analysis yet";
    m_model->segmentation()->submitAnalysis(nullptr);
    EXPECT_TRUE(m_tool->isAvailable()) << "an analysis pending counts";
    ASSERT_TRUE(idle());
    EXPECT_TRUE(m_tool->isAvailable());
    EXPECT_TRUE(m_tool->installSlot());
}

TEST_F(TestRenderToolTest, WithoutKeepOrDeleteItCannotBeChosen)
{
    analyse();
    EXPECT_FALSE(m_tool->isAvailable());
    EXPECT_FALSE(m_tool->installSlot());
}

TEST_F(TestRenderToolTest, AClickOrAFlatDragRendersNothing)
{
    markKeepAndDelete();
    analyse();
    ASSERT_TRUE(m_tool->installSlot());
    hold();
    send(QEvent::MouseButtonPress, QPointF(20, 20), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, QPointF(20, 20), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(m_model->testRenderRect(), nullptr);
    drag(QPointF(20, 20), QPointF(20, 40), QPointF(20, 60));
    EXPECT_TRUE(queuedRenders().isEmpty());
}

TEST_F(TestRenderToolTest, ADragRendersItsWorkingRectangleRoundedOutwardAndNothingElse)
{
    markKeepAndDelete();
    analyse();
    ASSERT_TRUE(m_tool->installSlot());
    const QByteArray before = outputBytes();
    hold();
    drag(QPointF(10.2, 20.7), QPointF(30, 40), QPointF(50.5, 60.1));
    const QList<DvCmdGenerateMask*> renders = queuedRenders();
    ASSERT_EQ(renders.size(), 1);
    EXPECT_EQ(renders.first()->area(), QRect(5, 10, 21, 21));
    EXPECT_TRUE(renders.first()->isCancellable());
    ASSERT_NE(m_model->testRenderRect(), nullptr);
    m_release = true;
    ASSERT_TRUE(idle());

    const QByteArray after = outputBytes();
    const DvImageDesc pixels = m_model->output()->fullResolutionPixels();
    const int pixelBytes = pixels.pixelType == DvPixelRgba8 ? 4 : 8;
    const QRect inside(10, 20, 42, 42);
    int changed = 0;
    for (int y = 0; y < int(pixels.height); ++y)
        for (int x = 0; x < int(pixels.width); ++x) {
            const int at = int(y * pixels.stride) + x * pixelBytes;
            if (before.mid(at, pixelBytes) == after.mid(at, pixelBytes))
                continue;
            ASSERT_TRUE(inside.contains(x, y)) << x << "," << y;
            ++changed;
        }
    EXPECT_GT(changed, 100);
}

TEST_F(TestRenderToolTest, EscapeRemovesTheRectangleThenDoesTheDefaultAndDeactivationClearsIt)
{
    markKeepAndDelete();
    analyse();
    ASSERT_TRUE(m_tool->installSlot());
    drag(QPointF(10, 10), QPointF(20, 20), QPointF(40, 40));
    ASSERT_TRUE(idle());
    ASSERT_NE(m_model->testRenderRect(), nullptr);
    m_tool->escapeKeyPressed();
    EXPECT_EQ(m_model->testRenderRect(), nullptr);
    EXPECT_EQ(GmTool::currentTool(), m_tool.get());
    m_tool->escapeKeyPressed();
    EXPECT_NE(GmTool::currentTool(), m_tool.get()) << "the default Escape installs a fallback";

    ASSERT_TRUE(m_tool->installSlot());
    drag(QPointF(10, 10), QPointF(20, 20), QPointF(40, 40));
    ASSERT_TRUE(idle());
    ASSERT_TRUE(m_noTool->installSlot());
    EXPECT_EQ(m_model->testRenderRect(), nullptr);
}

TEST_F(TestRenderToolTest, APatchPreviewFramesItsBoundsAndSubmitsThePatchForm)
{
    markKeepAndDelete();
    analyse();
    auto* patch = new RectRegion(QPointF(20, 16));
    patch->rectangle().dragCornerTo(QPointF(80, 70));
    patch->beginSubSession();
    ASSERT_TRUE(idle());
    hold();
    patch->testRender();
    ASSERT_NE(m_model->testRenderRect(), nullptr);
    EXPECT_EQ(m_model->testRenderRect()->boundingRect(), patch->shape()->boundingRect());
    const QList<DvCmdGenerateMask*> renders = queuedRenders();
    ASSERT_EQ(renders.size(), 1);
    EXPECT_EQ(renders.first()->patch(), patch);
    EXPECT_TRUE(renders.first()->area().isEmpty());
}
