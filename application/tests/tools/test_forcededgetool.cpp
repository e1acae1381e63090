// The forced-edge tool through the window with the real click sequences: drawing, finishing,
// stepping back and abandoning a line, the line's feather width, and the select tool's copy
// of the "Feather Width" page.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "document/ForcedEdge.h"
#include "document/GmModel.h"
#include "document/KsAppPreferences.h"
#include "engine/DravikThread.h"
#include "panels/ParameterStack.h"
#include "tools/ArrowTool.h"
#include "tools/ForcedEdgeTool.h"
#include "tools/NoTool.h"

#include "HoldCommand.h"
#include "ModelImage.h"
#include "ShownView.h"
#include "Wait.h"
#include "WidgetInput.h"

#include <QPointer>
#include <QSettings>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using testsupport::ModelImage;

namespace {

const QString widthKey = QStringLiteral("ToolOptions/ForcedEdgeTool/FeatherWidth");
const QPointF p1(40, 30), p2(150, 60), p3(250, 200);

class ForcedEdgeToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_preferences = std::make_unique<KsAppPreferences>();
        m_preferences->setPersistOptions(true);
        m_image = std::make_unique<ModelImage>(400, 300, 1);
        m_model = GmModel::instance();
        m_view = std::make_unique<ImageView>();
        m_noTool = std::make_unique<NoTool>();
        ASSERT_TRUE(testsupport::showWithViewport(*m_view, QSize(1000, 800)));
        canvas()->setZoom(true, 1);
        testsupport::settle();
        // A worker held busy keeps what the tool submits in its queue.
        m_thread = std::make_unique<DravikThread>();
        m_thread->submit(new testsupport::HoldCommand(&m_release));
    }
    void TearDown() override
    {
        m_release = true;
        EXPECT_TRUE(testsupport::waitUntil([this] { return !m_thread->isBusy() && m_thread->isQueueEmpty(); }));
        m_arrow.reset();
        m_tool.reset();
        m_noTool.reset();
        m_view.reset();
        m_thread.reset();
        m_image.reset();
        m_preferences.reset();
    }

    void useTool()
    {
        m_tool = std::make_unique<ForcedEdgeTool>();
        ASSERT_TRUE(m_tool->installSlot());
    }
    GmZoomWidget* canvas() const { return m_view->canvas(); }
    QPoint at(QPointF imagePoint) const { return canvas()->imageRect().topLeft() + imagePoint.toPoint(); }
    void click(QPointF p) { testsupport::mouseClick(canvas(), at(p)); }
    void move(QPointF p) { testsupport::mouseMove(canvas(), at(p)); }
    void doubleClick(QPointF p) { testsupport::mouseDoubleClick(canvas(), at(p)); }
    QStringList queue() const
    {
        QStringList names;
        for (DravikCommand* command : m_thread->queue())
            names.append(command->description());
        return names;
    }

    std::unique_ptr<KsAppPreferences> m_preferences;
    std::unique_ptr<ModelImage> m_image;
    GmModel* m_model = nullptr;
    std::unique_ptr<ImageView> m_view;
    std::unique_ptr<NoTool> m_noTool;
    std::unique_ptr<ForcedEdgeTool> m_tool;
    std::unique_ptr<ArrowTool> m_arrow;
    std::atomic<bool> m_release{false};
    std::unique_ptr<DravikThread> m_thread;
};

} // namespace

TEST_F(ForcedEdgeToolTest, ClickClickDoubleClickMakesALineOfThreeVerticesThatIsSentAndActive)
{
    useTool();
    click(p1);
    ASSERT_TRUE(m_tool->isDrawing());
    ASSERT_EQ(m_model->forcedEdges().size(), 1) << "the line is listed from its first click";
    ForcedEdge* edge = m_model->forcedEdges().first();
    EXPECT_EQ(m_tool->edgeBeingDrawn(), edge);
    move(p2);
    EXPECT_EQ(edge->polygon().vertices(), QPolygonF(QVector<QPointF>{p1, p2})) << "the rubber band follows the pointer";
    click(p2);
    move(p3);
    EXPECT_TRUE(queue().filter("Forced Edge").isEmpty()) << "nothing is sent while drawing";

    doubleClick(p3);
    EXPECT_FALSE(m_tool->isDrawing());
    ASSERT_EQ(m_model->forcedEdges(), QList<ForcedEdge*>({edge}));
    EXPECT_EQ(edge->polygon().vertices(), QPolygonF(QVector<QPointF>{p1, p2, p3}));
    EXPECT_EQ(m_model->activeForcedEdge(), edge);
    EXPECT_EQ(m_tool->edgeBeingDrawn(), nullptr);
    EXPECT_EQ(queue().filter("Creating Forced Edge").size(), 1);

    // The next click starts a new line; the finished one stays.
    click(p2);
    EXPECT_TRUE(m_tool->isDrawing());
    EXPECT_EQ(m_model->forcedEdges().size(), 2);
    EXPECT_NE(m_tool->edgeBeingDrawn(), edge);
}

TEST_F(ForcedEdgeToolTest, ADoubleClickOnTheFirstVertexDeletesTheLineAndSendsNothing)
{
    useTool();
    doubleClick(p1);
    EXPECT_FALSE(m_tool->isDrawing());
    EXPECT_TRUE(m_model->forcedEdges().isEmpty());
    EXPECT_EQ(m_model->activeForcedEdge(), nullptr);

    // A click, then a double-click on the same place, is one distinct vertex as well.
    click(p2);
    doubleClick(p2);
    EXPECT_FALSE(m_tool->isDrawing());
    EXPECT_TRUE(m_model->forcedEdges().isEmpty());
    EXPECT_TRUE(queue().filter("Forced Edge").isEmpty());
}

TEST_F(ForcedEdgeToolTest, EscapeAbandonsAfterOneClickAndStepsBackAfterTwo)
{
    useTool();
    click(p1);
    move(p2);
    m_tool->escapeKeyPressed();
    EXPECT_FALSE(m_tool->isDrawing());
    EXPECT_TRUE(m_model->forcedEdges().isEmpty());
    EXPECT_EQ(m_tool->buttonState(), 0);

    click(p1);
    click(p2);
    move(p3);
    ASSERT_EQ(m_model->forcedEdges().size(), 1);
    ForcedEdge* edge = m_model->forcedEdges().first();
    m_tool->escapeKeyPressed();
    EXPECT_TRUE(m_tool->isDrawing());
    EXPECT_EQ(edge->polygon().vertices(), QPolygonF(QVector<QPointF>{p1, p3})) << "the band starts again at the first vertex";
    move(QPointF(200, 250));
    doubleClick(QPointF(200, 250));
    EXPECT_EQ(edge->polygon().vertices(), QPolygonF(QVector<QPointF>{p1, QPointF(200, 250)}));
    EXPECT_EQ(m_model->activeForcedEdge(), edge);

    // Not drawing, Escape does what every tool does: the active edge goes inactive.
    m_tool->escapeKeyPressed();
    EXPECT_EQ(m_model->activeForcedEdge(), nullptr);
    EXPECT_EQ(m_model->forcedEdges().size(), 1);
}

TEST_F(ForcedEdgeToolTest, SwitchingToolsOrDeletingTheLineElsewhereEndsTheDrawing)
{
    useTool();
    click(p1);
    click(p2);
    ASSERT_TRUE(m_noTool->installSlot());
    EXPECT_FALSE(m_tool->isDrawing());
    EXPECT_TRUE(m_model->forcedEdges().isEmpty());

    ASSERT_TRUE(m_tool->installSlot());
    click(p1);
    move(p2);
    QPointer<ForcedEdge> edge = m_model->forcedEdges().first();
    m_model->deleteForcedEdge(edge);
    EXPECT_TRUE(edge.isNull());
    EXPECT_FALSE(m_tool->isDrawing());
    EXPECT_EQ(m_tool->edgeBeingDrawn(), nullptr);
    // The pointer moves on and a double-click comes, with nothing left to draw on.
    move(p3);
    doubleClick(p3);
    EXPECT_TRUE(m_model->forcedEdges().isEmpty());
    click(p2);
    EXPECT_TRUE(m_tool->isDrawing());
    EXPECT_EQ(m_model->forcedEdges().size(), 1);
}

TEST_F(ForcedEdgeToolTest, ANewLineTakesTheStoredFeatherWidthWithinItsRangeOrThreeWithoutThePage)
{
    QSettings().setValue(widthKey, 9);
    useTool();
    click(p1);
    doubleClick(p2);
    ASSERT_EQ(m_model->forcedEdges().size(), 1);
    EXPECT_EQ(m_model->forcedEdges().first()->width(), 9);
    m_tool.reset();
    EXPECT_EQ(ForcedEdgeTool::parameterStack(), nullptr);
    EXPECT_EQ(ForcedEdgeTool::featherWidth(), 3);
    EXPECT_EQ(QSettings().value(widthKey).toInt(), 9);

    QSettings().setValue(widthKey, 40);
    useTool();
    EXPECT_EQ(ForcedEdgeTool::featherWidth(), 16);
    m_tool.reset();
    EXPECT_EQ(QSettings().value(widthKey).toInt(), 16);
}

TEST_F(ForcedEdgeToolTest, TheSelectToolShowsTheActiveLinesWidthButNeverStoresIt)
{
    QSettings().setValue(widthKey, 4);
    useTool();
    m_arrow = std::make_unique<ArrowTool>();
    ParameterStack* shown = m_arrow->parameterStack();
    ASSERT_NE(shown, ForcedEdgeTool::parameterStack()) << "the select tool's page is a second one";
    int value = 0;
    ASSERT_TRUE(shown->value("Feather Width", value));
    EXPECT_EQ(value, 4) << "the page loads the stored width";

    auto* edge = new ForcedEdge(p1, 6);
    edge->polygon().appendPoint(p2);
    edge->activate();
    ASSERT_TRUE(m_arrow->installSlot());
    ASSERT_TRUE(shown->value("Feather Width", value));
    EXPECT_EQ(value, 6);
    EXPECT_TRUE(m_arrow->optionsWidget()->isEnabled());
    EXPECT_FALSE(m_arrow->optionsWidget()->isHidden());
    EXPECT_EQ(edge->width(), 6);
    EXPECT_FALSE(m_model->forcedEdgesChanged()) << "showing the edge's own width changes nothing";

    // Without an active edge the page is hidden.
    m_model->setActiveForcedEdge(nullptr);
    ASSERT_TRUE(m_noTool->installSlot());
    ASSERT_TRUE(m_arrow->installSlot());
    EXPECT_FALSE(m_arrow->optionsWidget()->isEnabled());
    EXPECT_TRUE(m_arrow->optionsWidget()->isHidden());

    m_arrow.reset();
    EXPECT_EQ(QSettings().value(widthKey).toInt(), 4) << "the select tool's page wrote its value";
    ForcedEdgeTool::parameterStack()->setValue("Feather Width", 5);
    m_tool.reset();
    EXPECT_EQ(QSettings().value(widthKey).toInt(), 5) << "the forced-edge tool's page keeps the user's width";
}
