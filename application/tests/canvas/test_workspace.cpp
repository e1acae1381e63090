// The workspace scroll area: zooming about the viewport's centre and about a point, showing a
// rectangle, scrolling, what it reports as visible, and the tab-key filter.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "canvas/KsWorkspace.h"
#include "canvas/TabFilter.h"

#include "ModelImage.h"
#include "ShownView.h"
#include "Wait.h"
#include "WidgetInput.h"

#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

using testsupport::ModelImage;

namespace {

const QSize viewport(800, 600);

class WorkspaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qRegisterMetaType<GRectF>("GRectF");
        m_image = std::make_unique<ModelImage>(2000, 1500, 1);
        m_view = std::make_unique<ImageView>();
        ASSERT_TRUE(testsupport::showWithViewport(*m_view, viewport));
        canvas()->setZoom(true, 1);
        testsupport::settle();
    }
    void TearDown() override
    {
        m_view.reset();
        m_image.reset();
    }

    KsWorkspace* workspace() const { return m_view->workspace(); }
    GmZoomWidget* canvas() const { return m_view->canvas(); }
    QScrollBar* h() const { return workspace()->horizontalScrollBar(); }
    QScrollBar* v() const { return workspace()->verticalScrollBar(); }
    void scrollTo(int x, int y)
    {
        h()->setValue(x);
        v()->setValue(y);
    }
    // The image point at the viewport's centre.
    QPointF centre() const
    {
        const double z = canvas()->zoom();
        return QPointF((h()->value() + h()->pageStep() / 2.0 - canvas()->imageRect().left()) / z,
                       (v()->value() + v()->pageStep() / 2.0 - canvas()->imageRect().top()) / z);
    }
    // Where an image point is in the viewport.
    QPointF onScreen(QPointF imagePoint) const
    {
        const double z = canvas()->zoom();
        return QPointF(imagePoint.x() * z + canvas()->imageRect().left() - h()->value(),
                       imagePoint.y() * z + canvas()->imageRect().top() - v()->value());
    }

    std::unique_ptr<ModelImage> m_image;
    std::unique_ptr<ImageView> m_view;
};

} // namespace

TEST_F(WorkspaceTest, ZoomingInAndOutKeepsTheImagePointAtTheCentre)
{
    scrollTo(300, 200);
    const QPointF kept = centre();
    EXPECT_EQ(kept, QPointF(700, 500));

    m_view->zoomInSlot();
    testsupport::settle();
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 1.25);
    EXPECT_LE(std::abs(centre().x() - kept.x()) * canvas()->zoom(), 1.0) << centre().x();
    EXPECT_LE(std::abs(centre().y() - kept.y()) * canvas()->zoom(), 1.0) << centre().y();

    m_view->zoomOutSlot();
    m_view->zoomOutSlot();
    testsupport::settle();
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 0.8);
    EXPECT_LE(std::abs(centre().x() - kept.x()) * canvas()->zoom(), 1.0) << centre().x();
    EXPECT_LE(std::abs(centre().y() - kept.y()) * canvas()->zoom(), 1.0) << centre().y();

    m_view->zoomToSlot(3.0);
    testsupport::settle();
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 3.0);
    EXPECT_LE(std::abs(centre().x() - kept.x()) * 3.0, 1.0);
    m_view->zoomTo100PercentSlot();
    testsupport::settle();
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 1.0);
    EXPECT_LE(std::abs(centre().x() - kept.x()), 1.0);

    // From the top-left corner, the point at the centre stays too.
    scrollTo(0, 0);
    const QPointF corner = centre();
    m_view->zoomInSlot();
    testsupport::settle();
    EXPECT_LE(std::abs(centre().x() - corner.x()) * canvas()->zoom(), 1.0);
    EXPECT_LE(std::abs(centre().y() - corner.y()) * canvas()->zoom(), 1.0);
}

TEST_F(WorkspaceTest, AZeroSizeRectangleZoomsInAboutItsPoint)
{
    scrollTo(500, 400);
    const QPointF point(750, 600);
    const QPointF before = onScreen(point);
    ASSERT_TRUE(QRectF(QPointF(0, 0), QSizeF(viewport)).contains(before));

    m_view->moveImageViewportToSlot(QRectF(point, QSizeF(0, 0)));
    testsupport::settle();
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 1.25);
    const QPointF after = onScreen(point);
    EXPECT_LE(std::abs(after.x() - before.x()), 1.0) << after.x() << " was " << before.x();
    EXPECT_LE(std::abs(after.y() - before.y()), 1.0) << after.y() << " was " << before.y();
}

TEST_F(WorkspaceTest, ARectangleIsZoomedToFitAndCentred)
{
    m_view->moveImageViewportToSlot(QRectF(1000, 700, 200, 100));
    testsupport::settle();
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 4.0);  // min(800 / 200, 600 / 100)
    EXPECT_LE(std::abs(centre().x() - 1100), 0.5);
    EXPECT_LE(std::abs(centre().y() - 750), 0.5);
    EXPECT_EQ(workspace()->displayedImageRect(), QRectF(1000, 675, 200, 150));
}

TEST_F(WorkspaceTest, TheSizeCheckedMoveTakesATinyRectangleAsAClick)
{
    scrollTo(300, 200);
    const QPointF kept = centre();
    m_view->minCheckedMoveImageViewportToSlot(QRectF(100, 100, 3, 40));
    testsupport::settle();
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 1.25);
    EXPECT_LE(std::abs(centre().x() - kept.x()) * 1.25, 1.0) << "about the centre, not the rectangle";
    EXPECT_LE(std::abs(centre().y() - kept.y()) * 1.25, 1.0);

    // Large enough at the current zoom: shown as it is.
    m_view->minCheckedMoveImageViewportToSlot(QRectF(400, 300, 400, 300));
    testsupport::settle();
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 2.0);
    EXPECT_LE(std::abs(centre().x() - 600), 0.5);

    // A negative size only scrolls, whichever of the two moves gets it.
    m_view->minCheckedMoveImageViewportToSlot(QRectF(100, 50, -1, -1));
    testsupport::settle();
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 2.0);
    EXPECT_EQ(h()->value(), 200);
    EXPECT_EQ(v()->value(), 100);
    m_view->moveImageViewportToSlot(QRectF(300.3, 150.2, -5, 10));
    testsupport::settle();
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 2.0);
    EXPECT_EQ(h()->value(), 601);
    EXPECT_EQ(v()->value(), 300);
}

TEST_F(WorkspaceTest, PanningAndCentringMoveTheScrollBars)
{
    scrollTo(300, 200);
    m_view->panImageViewportSlot(QPoint(30, -20));
    EXPECT_EQ(h()->value(), 330);
    EXPECT_EQ(v()->value(), 180);
    m_view->centreViewportOnSlot(QPoint(1000, 750));
    EXPECT_EQ(h()->value(), 1000 - viewport.width() / 2);
    EXPECT_EQ(v()->value(), 750 - viewport.height() / 2);
    EXPECT_EQ(centre(), QPointF(1000, 750));
}

TEST_F(WorkspaceTest, TheDisplayedRectangleIsReportedAsTheViewScrolls)
{
    QSignalSpy shown(m_view.get(), &ImageView::sayViewportRectChanged);
    scrollTo(300, 200);
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.last().at(0).value<GRectF>(), QRectF(300, 200, 800, 600));
    EXPECT_EQ(shown.last().at(1).toDouble(), 1.0);
    EXPECT_EQ(workspace()->displayedImageRect(), QRectF(300, 200, 800, 600));

    canvas()->setZoom(true, 2);
    testsupport::settle();
    h()->setValue(1000);
    EXPECT_EQ(shown.last().at(0).value<GRectF>(), QRectF(500, v()->value() / 2.0, 400, 300));
    EXPECT_EQ(shown.last().at(1).toDouble(), 2.0);

    // The whole image in view: scrolling reports nothing, a resize the zero rectangle.
    m_view->fitImageOnScreenSlot();
    testsupport::settle();
    EXPECT_EQ(workspace()->displayedImageRect(), QRectF(0, 0, 0, 0));
    shown.clear();
    h()->setValue(h()->maximum());
    EXPECT_TRUE(shown.isEmpty());
    m_view->resize(m_view->size() + QSize(20, 20));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !shown.isEmpty(); }, 5000));
    EXPECT_EQ(shown.last().at(0).value<GRectF>(), QRectF(0, 0, 0, 0));
}

TEST_F(WorkspaceTest, WithoutAnImageNothingIsReported)
{
    GmModelTestAccess::setSource(nullptr);
    canvas()->imageChangedSlot();
    testsupport::settle();
    QSignalSpy shown(m_view.get(), &ImageView::sayViewportRectChanged);
    scrollTo(10, 10);
    m_view->resize(m_view->size() + QSize(20, 20));
    testsupport::settle();
    m_view->zoomInSlot();
    testsupport::settle();
    EXPECT_TRUE(shown.isEmpty());
}

TEST(WorkspaceAnchor, AViewportOrImageOfNoSizeGivesNoScrollPositionThatIsNoNumber)
{
    // Never shown and squeezed: the scroll bars have no range and no page.
    ImageView view;
    KsWorkspace* workspace = view.workspace();
    workspace->resize(0, 0);
    workspace->horizontalScrollBar()->setRange(0, 0);
    workspace->horizontalScrollBar()->setPageStep(0);
    workspace->verticalScrollBar()->setRange(0, 0);
    workspace->verticalScrollBar()->setPageStep(0);
    workspace->zoomAbout(false, 2.0);
    EXPECT_EQ(view.zoom(), 2.0);
    EXPECT_EQ(workspace->horizontalScrollBar()->value(), 0);

    // No image: a rectangle has no place to be anchored to; the zoom still changes.
    workspace->zoomToRect(QRectF(10, 10, 0, 0));
    EXPECT_EQ(view.zoom(), 2.5);
    workspace->zoomToRect(QRectF(10, 10, 0, 0));
    EXPECT_EQ(view.zoom(), 3.125) << "no anchor was left pending";
    EXPECT_EQ(workspace->verticalScrollBar()->value(), 0);
}

TEST(WorkspaceTabs, TabAndShiftTabNeverReachAFocusedChild)
{
    ModelImage image(400, 300, 1);
    ImageView view;
    ASSERT_TRUE(testsupport::showWithViewport(view, QSize(600, 400)));
    int forward = 0;
    int backward = 0;
    for (TabFilter* filter : {view.tabFilter(), view.workspace()->tabFilter(), view.canvas()->tabFilter()}) {
        QObject::connect(filter, &TabFilter::tabPressed, [&](bool backtab) { ++(backtab ? backward : forward); });
    }

    // A child added after the filters were installed, and one of the canvas's.
    auto* inWorkspace = new QLineEdit(view.workspace()->viewport());
    auto* inCanvas = new QLineEdit(view.canvas());
    auto* other = new QLineEdit(view.workspace()->viewport());
    for (QLineEdit* edit : {inWorkspace, inCanvas, other})
        edit->show();

    for (QLineEdit* edit : {inWorkspace, inCanvas}) {
        edit->setFocus();
        ASSERT_TRUE(testsupport::waitUntil([&] { return edit->hasFocus(); }, 5000));
        forward = backward = 0;
        QTest::keyClick(edit, Qt::Key_Tab);
        EXPECT_EQ(forward, 1);
        EXPECT_TRUE(edit->hasFocus()) << "Tab did not move the focus";
        QTest::keyClick(edit, Qt::Key_Backtab, Qt::ShiftModifier);
        QTest::keyClick(edit, Qt::Key_Tab, Qt::ShiftModifier);
        EXPECT_EQ(backward, 2);
        EXPECT_EQ(forward, 1);
        EXPECT_TRUE(edit->hasFocus());
        // Every other key passes.
        QTest::keyClicks(edit, QStringLiteral("ab"));
        EXPECT_EQ(edit->text(), "ab");
    }

    // On the canvas itself and on the view.
    forward = 0;
    QTest::keyClick(view.canvas(), Qt::Key_Tab);
    QTest::keyClick(&view, Qt::Key_Tab);
    EXPECT_EQ(forward, 2);
}
