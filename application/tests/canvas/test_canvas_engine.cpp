// The canvas over a photograph opened through the model and the engine, at workspace divisors
// 1 and 2: where presses land, what the Source, Workspace and Cut-out views show, and whose
// object edges the Workspace draws.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "document/GmAction.h"
#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/RectRegion.h"
#include "document/SegmentationStuff.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdSetStatus.h"
#include "panels/ViewOptions.h"
#include "shell/BackgroundPicker.h"
#include "shell/BackgroundSwatch.h"
#include "tools/NoTool.h"

#include "RecordingTool.h"
#include "ScriptedPrompt.h"
#include "ShownView.h"
#include "Wait.h"
#include "WidgetInput.h"

#include <QAction>
#include <QCheckBox>
#include <QColor>
#include <QMouseEvent>
#include <QRgba64>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using testsupport::waitUntil;

namespace {

const QString photoPath = QStringLiteral(KESTRINE_TEST_DATA "/chelsea.png");
// Where the Keep block lies, in working pixels.
const QRect keepBlock(20, 20, 40, 30);
const QRgb magenta = qRgb(255, 0, 255);

class PressTool : public testsupport::RecordingTool {
public:
    explicit PressTool(const QString& name) : RecordingTool(name, nullptr) {}
    void mousePressed(const ImagePointF& point, QMouseEvent*) override { presses.append(point); }
    QList<QPointF> presses;
};

// Source-over of a straight-alpha colour on an opaque pixel.
QRgb over(QRgb top, QRgb below)
{
    const double a = qAlpha(top) / 255.0;
    const auto mix = [a](int t, int b) { return int(std::lround(t * a + b * (1.0 - a))); };
    return qRgb(mix(qRed(top), qRed(below)), mix(qGreen(top), qGreen(below)), mix(qBlue(top), qBlue(below)));
}

bool near(QRgb a, QRgb b, int tolerance = 2)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
           && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

std::string text(QRgb c)
{
    return QStringLiteral("(%1, %2, %3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c)).toStdString();
}

class CanvasPhotoTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        m_preferences = std::make_unique<KsAppPreferences>();
        m_thread = std::make_unique<DravikThread>();
        m_model = GmModel::instance();
        m_view = std::make_unique<ImageView>();
        m_noTool = std::make_unique<NoTool>();
        m_tool = std::make_unique<PressTool>(QStringLiteral("Keep Tool"));
        ASSERT_TRUE(testsupport::showWithViewport(*m_view, QSize(1000, 800)));
        ASSERT_TRUE(m_model->setImage(1, 1, new KsSourceImage(photoPath), nullptr));
        ASSERT_TRUE(idle());
        if (GetParam() != 1) {
            m_model->changeResolution(GetParam());
            ASSERT_TRUE(idle());
        }
        ASSERT_EQ(m_model->resolution(), GetParam());
        ASSERT_NE(m_model->statusArray()->statusImage(), nullptr);
        ASSERT_TRUE(m_tool->installSlot());
        canvas()->setZoom(true, 2);
        testsupport::settle();
    }
    void TearDown() override
    {
        m_tool.reset();
        m_noTool.reset();
        m_view.reset();
        m_model->closeImage();
        EXPECT_TRUE(idle());
        GmModel::destroy();
        m_thread.reset();
        m_preferences.reset();
    }

    bool idle()
    {
        return waitUntil([this] { return !m_thread->isBusy() && m_thread->isQueueEmpty(); });
    }
    GmZoomWidget* canvas() const { return m_view->canvas(); }
    int divisor() const { return GetParam(); }
    // The widget pixel at the centre of an image pixel's square (zoom 2).
    QPoint widgetPoint(QPoint imagePixel) const { return canvas()->imageRect().topLeft() + imagePixel * 2 + QPoint(1, 1); }
    QRgb shown(const QImage& grab, QPoint imagePixel) const { return grab.pixel(widgetPoint(imagePixel)); }

    // Marks the Keep block, Unassigned elsewhere, through the engine.
    void markKeepBlock()
    {
        const QSize size = m_model->source()->workingImage().size();
        QImage status(size, QImage::Format_Indexed8);
        status.setColorCount(256);
        status.fill(1);
        for (int y = keepBlock.top(); y <= keepBlock.bottom(); ++y)
            for (int x = keepBlock.left(); x <= keepBlock.right(); ++x)
                status.scanLine(y)[x] = 2;
        m_thread->submit(new DvCmdSetStatus(m_model, status));
        ASSERT_TRUE(idle());
    }

    // Paints a magenta square into the cut-out's own pixels, as the engine writes them.
    void paintCutout(const QRect& square) { fillCutout(square, QColor(255, 0, 255, 255)); }

    // Makes a square of the cut-out fully transparent, as the engine leaves deleted pixels.
    void clearCutout(const QRect& square) { fillCutout(square, QColor(0, 0, 0, 0)); }

    // Writes one straight-alpha colour into a square of the cut-out's own pixels.
    void fillCutout(const QRect& square, const QColor& colour)
    {
        KsSourceImage* output = m_model->output();
        const QRgba64 wide = colour.rgba64();
        for (int y = square.top(); y <= square.bottom(); ++y) {
            for (int x = square.left(); x <= square.right(); ++x) {
                if (output->masterKind() == KsSourceImage::Master16Bit) {
                    const KsSourceImage::View16& v = output->view16();
                    auto* p = reinterpret_cast<std::uint16_t*>(reinterpret_cast<char*>(v.data) + y * v.bytesPerLine) + x * 4;
                    p[0] = wide.red(), p[1] = wide.green(), p[2] = wide.blue(), p[3] = wide.alpha();
                } else {
                    const KsSourceImage::View8& v = output->view8();
                    std::uint8_t* p = v.data + y * v.bytesPerLine + x * 4;
                    p[0] = std::uint8_t(colour.red()), p[1] = std::uint8_t(colour.green());
                    p[2] = std::uint8_t(colour.blue()), p[3] = std::uint8_t(colour.alpha());
                }
            }
        }
        m_model->signalDirtyOutputImageSlot();
    }

    std::unique_ptr<KsAppPreferences> m_preferences;
    std::unique_ptr<DravikThread> m_thread;
    GmModel* m_model = nullptr;
    std::unique_ptr<ImageView> m_view;
    std::unique_ptr<NoTool> m_noTool;
    std::unique_ptr<PressTool> m_tool;
};

} // namespace

TEST_P(CanvasPhotoTest, APressReachesTheToolAtTheFullResolutionPoint)
{
    const QPoint origin = canvas()->imageRect().topLeft();
    testsupport::mousePress(canvas(), origin + QPoint(200, 150));
    testsupport::mouseRelease(canvas(), origin + QPoint(200, 150));
    ASSERT_EQ(m_tool->presses.size(), 1);
    EXPECT_EQ(m_tool->presses.first(), QPointF(100, 75)) << "image pixels, whatever the divisor";

    m_view->sourceAction()->trigger();
    testsupport::mousePress(canvas(), origin + QPoint(40, 40));
    testsupport::mouseRelease(canvas(), origin + QPoint(40, 40));
    EXPECT_EQ(m_tool->presses.size(), 1) << "a Workspace tool hears nothing on the Source tab";
}

TEST_P(CanvasPhotoTest, EachViewShowsItsImage)
{
    markKeepBlock();
    paintCutout(QRect(300, 200, 20, 20));
    const int d = divisor();
    const QImage working = m_model->source()->workingImage();
    const QImage original = m_model->source()->qImage();
    const QRgb keepColour = m_model->statusArray()->statusImage()->color(2);
    ASSERT_GT(qAlpha(keepColour), 0);

    const QImage workspace = canvas()->grab().toImage();
    const QPoint inKeep = (keepBlock.topLeft() + QPoint(5, 7)) * d;
    const QPoint outside(200 * d / 2, 120);
    EXPECT_TRUE(near(shown(workspace, inKeep), over(keepColour, working.pixel(inKeep / d))))
        << text(shown(workspace, inKeep)) << " for Keep over " << text(working.pixel(inKeep / d));
    EXPECT_TRUE(near(shown(workspace, outside), working.pixel(outside / d), 0))
        << text(shown(workspace, outside)) << " for " << text(working.pixel(outside / d));
    EXPECT_TRUE(near(shown(workspace, {305, 205}), working.pixel(305 / d, 205 / d), 0))
        << "the Workspace shows the working image, not the cut-out";

    m_view->sourceAction()->trigger();
    const QImage source = canvas()->grab().toImage();
    EXPECT_TRUE(near(shown(source, inKeep), original.pixel(inKeep), 0)) << "no overlay on the Source tab";
    EXPECT_TRUE(near(shown(source, {305, 205}), original.pixel(305, 205), 0));
    EXPECT_TRUE(near(shown(source, {7, 290}), original.pixel(7, 290), 0)) << "full resolution at every divisor";

    m_view->cutoutAction()->trigger();
    const QImage cutout = canvas()->grab().toImage();
    EXPECT_EQ(shown(cutout, {305, 205}), magenta);
    EXPECT_TRUE(near(shown(cutout, {100, 100}), original.pixel(100, 100), 0));
}

TEST_P(CanvasPhotoTest, TheCheckerboardBehindTheCutoutTakesTheChosenSecondaryColour)
{
    testsupport::ScriptedPrompt prompt;
    const QColor chosen(200, 30, 120);
    prompt.answerColor(chosen);
    BackgroundPicker picker;
    picker.resize(50, 50);
    GmZoomWidget::setBackgroundBrushHook([&picker] { return picker.primaryBrush(); });
    picker.doubleClickEvent(nullptr);
    const QMouseEvent click(QEvent::MouseButtonRelease, QPointF(10, 10), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
    picker.singleClickEvent(&click);
    ASSERT_EQ(picker.swatch(0)->color(), chosen);

    // A hole in the cut-out, on whole squares of the 16-pixel checkerboard.
    clearCutout(QRect(320, 224, 32, 32));
    m_view->cutoutAction()->trigger();
    const QImage cutout = canvas()->grab().toImage();
    GmZoomWidget::setBackgroundBrushHook(nullptr);
    EXPECT_EQ(shown(cutout, {324, 228}), chosen.rgb()) << text(shown(cutout, {324, 228}));
    EXPECT_EQ(shown(cutout, {347, 251}), chosen.rgb()) << text(shown(cutout, {347, 251}));
    EXPECT_EQ(shown(cutout, {332, 228}), qRgb(255, 255, 255)) << text(shown(cutout, {332, 228}));
    EXPECT_EQ(shown(cutout, {324, 236}), qRgb(255, 255, 255)) << text(shown(cutout, {324, 236}));
}

TEST_P(CanvasPhotoTest, ShiftF6TogglesTheWashOverEveryView)
{
    const QImage before = canvas()->grab().toImage();
    const QPoint at = widgetPoint({150, 100});
    const QRgb base = before.pixel(at);

    QTest::keyClick(canvas(), Qt::Key_F6, Qt::ShiftModifier);
    ASSERT_TRUE(GmZoomWidget::washAction()->isChecked());
    const QRgb washed = canvas()->grab().toImage().pixel(at);
    // The tint is (i, i, 0) at alpha 70 for some intensity i.
    const double a = 70.0 / 255.0;
    EXPECT_NEAR(qBlue(washed), qBlue(base) * (1 - a), 1.5) << text(washed) << " over " << text(base);
    const double iFromRed = (qRed(washed) - qRed(base) * (1 - a)) / a;
    const double iFromGreen = (qGreen(washed) - qGreen(base) * (1 - a)) / a;
    EXPECT_NEAR(iFromRed, iFromGreen, 8.0);
    EXPECT_GE(iFromRed, -8.0);
    EXPECT_LE(iFromRed, 263.0);

    QTest::keyClick(canvas(), Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_FALSE(GmZoomWidget::washAction()->isChecked());
    EXPECT_EQ(canvas()->grab().toImage().pixel(at), base);
}

TEST_P(CanvasPhotoTest, AnUntickedPatchShowsTheImagesEdges)
{
    ViewOptions viewOptions;
    viewOptions.showEdgesBox()->setChecked(true);
    const QRect inside(110, 90, 180, 130);
    auto* patch = new RectRegion(QPointF(100, 80));
    patch->rectangle().dragCornerTo(QPointF(300, 230));
    patch->rectangle().endDrag();
    patch->beginSubSession();
    ASSERT_TRUE(idle());
    const auto edgesInside = [this, &inside] {
        const QImage grab = canvas()->grab().toImage();
        QVector<QRgb> pixels;
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x = inside.left(); x <= inside.right(); ++x)
                pixels.append(shown(grab, {x, y}));
        return pixels;
    };
    m_model->setActiveRegion(nullptr);
    const QVector<QRgb> imageEdges = edgesInside();

    // The patch analysed on its own, much more finely than the image.
    SegmentationStuff& own = patch->segmentation();
    own.setChecked(true);
    own.edos().sensitivity().setCurrent(94);
    own.submitAnalysis(nullptr);
    ASSERT_TRUE(idle());
    ASSERT_TRUE(patch->hasOwnSegmentation());
    const auto differing = [&imageEdges](const QVector<QRgb>& shownEdges) {
        int n = 0;
        for (int i = 0; i < shownEdges.size(); ++i)
            n += shownEdges[i] != imageEdges[i];
        return n;
    };
    m_model->setActiveRegion(patch);
    ASSERT_GT(differing(edgesInside()), 100) << "the patch's own edges are shown while it is ticked";

    own.setChecked(false);
    emit m_model->ownSmegStatusChanged(patch);
    EXPECT_EQ(differing(edgesInside()), 0);
}

INSTANTIATE_TEST_SUITE_P(Divisors, CanvasPhotoTest, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) { return "Divisor" + std::to_string(info.param); });
