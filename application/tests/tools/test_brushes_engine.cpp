// The brushes, the clean tool and the brush outline through the canvas over a photograph (or a
// two-colour image built here) opened through the model and the engine, at workspace divisors
// 1 and 2.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "canvas/KsWorkspace.h"
#include "document/GmAction.h"
#include "document/NamedImage.h"
#include "document/RectRegion.h"
#include "engine/CommandHooks.h"
#include "engine/DvCmdSetStatus.h"
#include "tools/BrushingTool.h"
#include "tools/CleanTool.h"
#include "tools/DeleteExactTool.h"
#include "tools/KeepExactTool.h"
#include "tools/KeepLocalTool.h"
#include "tools/NoTool.h"

#include "EngineDocument.h"
#include "ShownView.h"
#include "WidgetInput.h"

#include <QPainter>
#include <QScrollBar>
#include <QSlider>
#include <QUrl>

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
        CommandHooks::setTipHook([this](const QString& text, bool) { m_tips.append(text); });
        ASSERT_TRUE(testsupport::showWithViewport(*m_view, QSize(900, 700)));
        openDocument();
        BrushingTool::setBrushSize(7);
        canvas()->setZoom(true, zoom);
        testsupport::settle();
    }
    void TearDown() override
    {
        CommandHooks::setTipHook(nullptr);
        m_clean.reset();
        m_delete.reset();
        m_keep.reset();
        m_noTool.reset();
        m_view.reset();
        EngineDocument::TearDown();
    }
    // The document the cases work on.
    virtual void openDocument() { open(GetParam()); }

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
    // Sets the mask class (the low four bits) of working pixels, keeping their other bits.
    static void setClass(QImage& status, const QRect& pixels, int maskClass)
    {
        for (int y = pixels.top(); y <= pixels.bottom(); ++y)
            for (int x = pixels.left(); x <= pixels.right(); ++x) {
                uchar& byte = status.scanLine(y)[x];
                byte = uchar((byte & ~15) | maskClass);
            }
    }
    QByteArray classBytes() const
    {
        QByteArray bytes = statusBytes();
        for (char& b : bytes)
            b = char(b & 15);
        return bytes;
    }
    int classAt(const QByteArray& classes, QPoint p) const { return classes.at(p.y() * status().width() + p.x()); }

    std::unique_ptr<ImageView> m_view;
    std::unique_ptr<NoTool> m_noTool;
    std::unique_ptr<KeepExactTool> m_keep;
    std::unique_ptr<DeleteExactTool> m_delete;
    std::unique_ptr<CleanTool> m_clean;
    QStringList m_tips;
};

// A 400 x 300 image, pure red on the left half and pure blue on the right.
class RedBlueBrushTest : public BrushPhotoTest {
protected:
    void SetUp() override
    {
        BrushPhotoTest::SetUp();
        m_keepLocal = std::make_unique<KeepLocalTool>();
    }
    void TearDown() override
    {
        m_keepLocal.reset();
        BrushPhotoTest::TearDown();
    }
    void openDocument() override
    {
        QImage image(400, 300, QImage::Format_ARGB32);
        image.fill(QColor(0, 0, 255));
        QPainter(&image).fillRect(0, 0, 200, 300, QColor(255, 0, 0));
        openSource(new KsSourceImage(NamedImage(image, QUrl())), GetParam());
    }

    std::unique_ptr<KeepLocalTool> m_keepLocal;
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

TEST_P(BrushPhotoTest, CleanFillsOnlyUnassignedHolesOfTheClickedMaskOnceAnalysed)
{
    // A Keep square with a two-pixel Unassigned hole and a two-pixel Delete speck in it.
    const QPoint hole(30, 30), speck(48, 46);
    QImage marked = status().copy();
    setClass(marked, QRect(20, 20, 40, 40), 2);
    setClass(marked, QRect(hole, QSize(2, 1)), 1);
    setClass(marked, QRect(speck, QSize(1, 2)), 4);
    submit(new DvCmdSetStatus(m_model, marked));
    ASSERT_EQ(statusAt(hole.x(), hole.y()) & 15, 1);
    ASSERT_EQ(statusAt(speck.x(), speck.y()) & 15, 4);
    ASSERT_TRUE(m_clean->installSlot());
    const int d = GetParam();
    const QPointF onKeep((25 + 0.5) * d, (50 + 0.5) * d);

    // Without an analysis there is nothing to clean by: the user is told, nothing changes.
    QByteArray before = statusBytes();
    testsupport::mouseClick(canvas(), widgetPoint(onKeep));
    ASSERT_TRUE(idle());
    EXPECT_EQ(statusBytes(), before);
    ASSERT_EQ(m_tips.size(), 1);
    EXPECT_TRUE(m_tips.first().startsWith(QStringLiteral("Brushing failed because no segmentation")));

    analyse();
    before = classBytes();
    testsupport::mouseClick(canvas(), widgetPoint(onKeep));
    ASSERT_TRUE(idle());
    const QByteArray after = classBytes();
    const int w = status().width();
    for (int i = 0; i < after.size(); ++i) {
        const QPoint p(i % w, i / w);
        const bool inHole = p == hole || p == hole + QPoint(1, 0);
        ASSERT_EQ(int(after.at(i)), inHole ? 2 : int(before.at(i))) << p.x() << "," << p.y();
    }
    EXPECT_EQ(classAt(after, speck), 4);
    EXPECT_EQ(classAt(after, speck + QPoint(0, 1)), 4);
}

TEST_P(BrushPhotoTest, CleanReadsTheWorkingPixelThePointFallsIn)
{
    // Four 30-pixel quadrants meeting at working pixel corner (50, 50): Delete, Keep / Keep,
    // Blend, each with a two-pixel Unassigned hole in its middle. Only the clicked class's hole
    // is filled, which tells the class the click read.
    const int d = GetParam();
    QImage marked = status().copy();
    const QRect quadrant(0, 0, 30, 30);
    const struct {
        QPoint corner;
        int maskClass;
    } parts[] = {{{20, 20}, 4}, {{50, 20}, 2}, {{20, 50}, 2}, {{50, 50}, 8}};
    for (const auto& part : parts) {
        setClass(marked, quadrant.translated(part.corner), part.maskClass);
        setClass(marked, QRect(part.corner + QPoint(14, 15), QSize(2, 1)), 1);
    }
    submit(new DvCmdSetStatus(m_model, marked));
    analyse();
    ASSERT_TRUE(m_clean->installSlot());
    const auto filledHoles = [&](QPointF imagePoint) {
        const QByteArray before = classBytes();
        // Half an image pixel before the corner: rounding would land in the Blend quadrant.
        m_clean->mousePressed(ImagePointF(imagePoint), nullptr);
        EXPECT_TRUE(idle());
        const QByteArray after = classBytes();
        QList<int> filled;
        for (const auto& part : parts) {
            const QPoint hole = part.corner + QPoint(14, 15);
            if (classAt(before, hole) == 1 && classAt(after, hole) == part.maskClass)
                filled.append(part.maskClass);
        }
        return filled;
    };
    const double justBefore = 50 * d - 0.5;
    EXPECT_EQ(filledHoles(QPointF(justBefore, justBefore)), QList<int>{4});
    EXPECT_EQ(filledHoles(QPointF(50 * d, 50 * d)), QList<int>{8});

    // The same through the canvas, a widget pixel before the corner.
    const QByteArray before = classBytes();
    const QPoint widgetCorner = widgetPoint(QPointF(50 * d, 20 * d + 15 * d));
    testsupport::mouseClick(canvas(), widgetCorner - QPoint(1, 0));
    ASSERT_TRUE(idle());
    EXPECT_EQ(classBytes(), before) << "the Delete hole is filled already";
    testsupport::mouseClick(canvas(), widgetCorner);
    ASSERT_TRUE(idle());
    EXPECT_EQ(classAt(classBytes(), QPoint(64, 35)), 2);
    EXPECT_EQ(classAt(classBytes(), QPoint(34, 65)), 2) << "every Keep hole";
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

TEST_P(RedBlueBrushTest, AKeepLocalStrokeInTheRedHalfMarksKeepThereAndNothingInTheBlue)
{
    analyse();
    ASSERT_TRUE(m_keepLocal->installSlot());
    const QPointF a(60, 150), b(140, 170);
    drag(a, b);
    const QImage underStroke = strokePixels(a, b);
    const int half = status().width() / 2;
    int keep = 0;
    for (int y = 0; y < status().height(); ++y)
        for (int x = 0; x < status().width(); ++x) {
            const int maskClass = statusAt(x, y) & 15;
            if (x >= half) {
                ASSERT_EQ(maskClass, 1) << x << "," << y;
            } else if (underStroke.pixelIndex(x, y)) {
                ASSERT_EQ(maskClass, 2) << x << "," << y;
            }
            keep += maskClass == 2;
        }
    EXPECT_GT(keep, 50);
}

INSTANTIATE_TEST_SUITE_P(Divisors, RedBlueBrushTest, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) { return "Divisor" + std::to_string(info.param); });
INSTANTIATE_TEST_SUITE_P(Divisors, BrushPhotoTest, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) { return "Divisor" + std::to_string(info.param); });
