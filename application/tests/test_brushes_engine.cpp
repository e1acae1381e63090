// The brushes, the clean tool and the brush outline through the canvas over a photograph opened
// through the model and the engine, at workspace divisors 1 and 2.

#include "BrushingTool.h"
#include "CleanTool.h"
#include "DeleteExactTool.h"
#include "GmAction.h"
#include "GmZoomWidget.h"
#include "ImageView.h"
#include "KeepExactTool.h"
#include "KsWorkspace.h"
#include "NoTool.h"
#include "RectRegion.h"

#include "EngineDocument.h"
#include "ShownView.h"
#include "WidgetInput.h"

#include <QScrollBar>
#include <QSlider>

namespace {

constexpr int zoom = 2;

class BrushPhotoTest : public testsupport::EngineDocument, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override
    {
        EngineDocument::SetUp();
        m_view = std::make_unique<ImageView>();
        m_noTool = std::make_unique<NoTool>();
        m_keep = std::make_unique<KeepExactTool>();
        m_delete = std::make_unique<DeleteExactTool>();
        m_clean = std::make_unique<CleanTool>();
        ASSERT_TRUE(testsupport::showWithViewport(*m_view, QSize(900, 700)));
        open(GetParam());
        BrushingTool::setBrushSize(7);
        canvas()->setZoom(true, zoom);
        testsupport::settle();
    }
    void TearDown() override
    {
        m_clean.reset();
        m_delete.reset();
        m_keep.reset();
        m_noTool.reset();
        m_view.reset();
        EngineDocument::TearDown();
    }
    GmZoomWidget* canvas() const { return m_view->canvas(); }
    QPoint widgetPoint(QPointF imagePoint) const
    {
        return canvas()->imageRect().topLeft() + (imagePoint * zoom).toPoint();
    }
    void drag(QPointF from, QPointF to)
    {
        testsupport::mousePress(canvas(), widgetPoint(from));
        testsupport::mouseMove(canvas(), widgetPoint(to));
        testsupport::mouseRelease(canvas(), widgetPoint(to));
        ASSERT_TRUE(idle());
    }
    // The working pixels a stroke between the points covers.
    QImage strokePixels(QPointF from, QPointF to) const
    {
        auto reference = stroke(from, to, 7);
        return *reference;
    }

    std::unique_ptr<ImageView> m_view;
    std::unique_ptr<NoTool> m_noTool;
    std::unique_ptr<KeepExactTool> m_keep;
    std::unique_ptr<DeleteExactTool> m_delete;
    std::unique_ptr<CleanTool> m_clean;
};

} // namespace

TEST_P(BrushPhotoTest, ExactStrokesMarkTheirRasterisedPixelsAndRespectProtection)
{
    ASSERT_TRUE(m_keep->installSlot());
    const QPointF a(40, 40), b(120, 64);
    drag(a, b);
    const QImage keepMask = strokePixels(a, b);
    int marked = 0;
    for (int y = 0; y < status().height(); ++y)
        for (int x = 0; x < status().width(); ++x) {
            const bool inStroke = keepMask.pixelIndex(x, y) == 1;
            ASSERT_EQ(statusAt(x, y) & 15, inStroke ? 2 : 1) << x << "," << y;
            marked += inStroke;
        }
    EXPECT_GT(marked, 50);

    ASSERT_TRUE(m_delete->installSlot());
    m_delete->protectKeepBox()->setChecked(true);
    const QPointF c(40, 52), d(160, 52);
    drag(c, d);
    const QImage deleteMask = strokePixels(c, d);
    for (int y = 0; y < status().height(); ++y)
        for (int x = 0; x < status().width(); ++x) {
            const int expected = keepMask.pixelIndex(x, y) ? 2 : deleteMask.pixelIndex(x, y) ? 4 : 1;
            ASSERT_EQ(statusAt(x, y) & 15, expected) << x << "," << y;
        }
}

TEST_P(BrushPhotoTest, AStrokeOutsideTheImageOrAbandonedSubmitsNothing)
{
    ASSERT_TRUE(m_keep->installSlot());
    const int before = m_thread->changeCounter();
    const QPointF outside(-30, -30);
    drag(outside, outside);
    EXPECT_EQ(m_thread->changeCounter(), before);

    testsupport::mousePress(canvas(), widgetPoint(QPointF(50, 50)));
    testsupport::mouseMove(canvas(), widgetPoint(QPointF(70, 50)));
    m_keep->escapeKeyPressed();
    testsupport::mouseRelease(canvas(), widgetPoint(QPointF(70, 50)));
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_thread->changeCounter(), before);
    EXPECT_EQ(m_keep->brushing(), nullptr);
    EXPECT_TRUE(m_model->brushings().isEmpty());
}

TEST_P(BrushPhotoTest, AStrokeOutsideTheActivePatchLeavesItActive)
{
    auto* patch = new RectRegion(QPointF(200, 200));
    patch->rectangle().dragCornerTo(QPointF(260, 260));
    patch->rectangle().endDrag();
    m_model->setActiveRegion(patch);
    ASSERT_TRUE(m_keep->installSlot());
    QList<GmRegion*> activeAtSubmission;
    QObject::connect(m_model, &GmModel::activeRegionChanged, [&](GmRegion* r) { activeAtSubmission.append(r); });
    const int before = m_thread->changeCounter();
    drag(QPointF(40, 40), QPointF(60, 40));
    EXPECT_EQ(m_thread->changeCounter(), before + 1);
    EXPECT_EQ(m_model->activeRegion(), patch);
    EXPECT_EQ(activeAtSubmission, (QList<GmRegion*>{nullptr, patch}));

    // Deactivated in the middle of a stroke (a tool shortcut): the patch comes back, and no
    // later stroke brings back a patch that is gone.
    testsupport::mousePress(canvas(), widgetPoint(QPointF(40, 80)));
    EXPECT_EQ(m_model->activeRegion(), nullptr);
    ASSERT_TRUE(m_delete->installSlot());
    EXPECT_EQ(m_model->activeRegion(), patch);
    testsupport::mouseRelease(canvas(), widgetPoint(QPointF(40, 80)));
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_thread->changeCounter(), before + 1);

    ASSERT_TRUE(m_keep->installSlot());
    testsupport::mousePress(canvas(), widgetPoint(QPointF(40, 100)));
    m_model->deleteRegion(patch);
    ASSERT_TRUE(idle());
    testsupport::mouseRelease(canvas(), widgetPoint(QPointF(40, 100)));
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_model->activeRegion(), nullptr);
}

TEST_P(BrushPhotoTest, CleanClicksReadTheWorkingPixelAndStayOnTheImage)
{
    ASSERT_TRUE(m_clean->installSlot());
    const int before = m_thread->changeCounter();
    const int w = m_model->source()->width();
    const int h = m_model->source()->height();
    m_clean->mousePressed(ImagePointF(w, 10), nullptr);
    m_clean->mousePressed(ImagePointF(10, h), nullptr);
    m_clean->mousePressed(ImagePointF(-0.5, 10), nullptr);
    testsupport::mouseClick(canvas(), widgetPoint(QPointF(30, 30)), Qt::RightButton);
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_thread->changeCounter(), before) << "nothing queued";
    // The last pixel of the image reads the last working pixel.
    m_clean->mousePressed(ImagePointF(w - 0.01, h - 0.01), nullptr);
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_thread->changeCounter(), before + 1);
}

TEST_P(BrushPhotoTest, TheOutlineIsTheDabFootprintAndFollowsThePointer)
{
    ASSERT_TRUE(m_keep->installSlot());
    BrushingTool::setBrushSize(9);
    // The footprint is the stroke rasteriser's dab, wherever the point lies within a pixel.
    for (const QPointF p : {QPointF(50, 50), QPointF(50.3, 61.7), QPointF(0.2, 0.9), QPointF(99.5, 40.25)}) {
        Brushing dab(QColor(Qt::green));
        dab.startStroke(p, 9);
        QPoint offset;
        const QImage& footprint = canvas()->brushFootprint(p, 9, &offset);
        int set = 0;
        for (int y = 0; y < dab.height(); ++y)
            for (int x = 0; x < dab.width(); ++x) {
                const QPoint local = QPoint(x, y) - offset;
                const int drawn = footprint.rect().contains(local) ? footprint.pixelIndex(local) : 0;
                ASSERT_EQ(drawn, dab.pixelIndex(x, y)) << p.x() << "," << p.y() << " at " << x << "," << y;
                set += drawn;
            }
        EXPECT_GT(set, 10);
    }

    testsupport::PaintRecorder recorder(canvas());
    testsupport::mouseMove(canvas(), widgetPoint(QPointF(60, 60)));
    const QRect first = canvas()->brushOutlineRect();
    ASSERT_TRUE(first.isValid());
    EXPECT_TRUE(first.contains(widgetPoint(QPointF(60, 60))));
    testsupport::settle();
    recorder.clear();
    testsupport::mouseMove(canvas(), widgetPoint(QPointF(62, 60)));
    const QRect second = canvas()->brushOutlineRect();
    testsupport::settle();
    EXPECT_TRUE((QRegion(first.united(second)) - recorder.painted()).isEmpty());
    EXPECT_EQ(recorder.painted().boundingRect(), first.united(second)) << "only the outline's areas";

    m_view->sourceAction()->trigger();
    testsupport::mouseMove(canvas(), widgetPoint(QPointF(64, 60)));
    EXPECT_FALSE(canvas()->brushOutlineRect().isValid()) << "Workspace only";
    m_view->workspaceAction()->trigger();
    ASSERT_TRUE(m_clean->installSlot());
    testsupport::mouseMove(canvas(), widgetPoint(QPointF(66, 60)));
    EXPECT_FALSE(canvas()->brushOutlineRect().isValid()) << "brushes only";
}

TEST_P(BrushPhotoTest, DraggingTheSizeSliderShowsTheOutlineAtTheViewCentre)
{
    ASSERT_TRUE(m_keep->installSlot());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(canvas(), &leave);
    EXPECT_FALSE(canvas()->brushOutlineRect().isValid());
    QSlider* slider = BrushingTool::sizeSlider();
    slider->setSliderDown(true);
    slider->setValue(40);
    const QRect outline = canvas()->brushOutlineRect();
    ASSERT_TRUE(outline.isValid());
    KsWorkspace* workspace = m_view->workspace();
    const QPoint centre(workspace->horizontalScrollBar()->value() + workspace->horizontalScrollBar()->pageStep() / 2,
                        workspace->verticalScrollBar()->value() + workspace->verticalScrollBar()->pageStep() / 2);
    EXPECT_LE((outline.center() - centre).manhattanLength(), 2);
    slider->setSliderDown(false);
    canvas()->updateBrushOutline();
    EXPECT_FALSE(canvas()->brushOutlineRect().isValid());
}

INSTANTIATE_TEST_SUITE_P(Divisors, BrushPhotoTest, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) { return "Divisor" + std::to_string(info.param); });
