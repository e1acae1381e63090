// The canvas in a shown image view: zoom and placement, fitting, the repaint of dirty
// rectangles, tool input, pen pressure, the background colour, the context menu and the patch
// preview's area.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "canvas/KsWorkspace.h"
#include "document/ForcedEdge.h"
#include "document/GmAction.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/KsAppPreferences.h"
#include "document/PixelState.h"
#include "document/RectRegion.h"
#include "tools/NoTool.h"

#include "ModelImage.h"
#include "PopupMenuCloser.h"
#include "RecordingTool.h"
#include "ScriptedPrompt.h"
#include "ShownView.h"
#include "Wait.h"
#include "WidgetInput.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMimeData>
#include <QSettings>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using testsupport::ModelImage;
using testsupport::RecordingTool;

namespace {

const QSize viewport(1000, 800);

// A tool that records where the canvas hands it the mouse, and may use a brush.
class PointTool : public RecordingTool {
public:
    PointTool(const QString& name, const Options& options, bool brush = false)
        : RecordingTool(name, nullptr, options), m_brush(brush)
    {
    }
    explicit PointTool(const QString& name) : PointTool(name, Options()) {}

    void mousePressed(const ImagePointF& point, QMouseEvent*) override { presses.append(point); }
    void mouseMoved(const ImagePointF& point, QMouseEvent*) override { moves.append(point); }
    void mouseReleased(const ImagePointF& point, QMouseEvent*) override { releases.append(point); }
    bool usesBrush() const override { return m_brush; }

    QList<QPointF> presses;
    QList<QPointF> moves;
    QList<QPointF> releases;

private:
    bool m_brush;
};

QRect paintedBounds(const testsupport::PaintRecorder& recorder)
{
    return recorder.painted().boundingRect();
}

RectRegion* rectPatch(const QRectF& r)
{
    auto* patch = new RectRegion(r.topLeft());
    patch->rectangle().dragCornerTo(r.bottomRight());
    patch->rectangle().endDrag();
    return patch;
}

void sendContextMenu(GmZoomWidget* canvas, QPoint at)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, canvas->mapToGlobal(at));
    QCoreApplication::sendEvent(canvas, &event);
}

} // namespace

TEST(CanvasZoom, LimitedToSixteenAndRefusingNothingOrLess)
{
    ModelImage image(400, 300, 1);
    ImageView view;
    GmZoomWidget* canvas = view.canvas();
    QSignalSpy zoomed(&view, &ImageView::zoomChanged);

    canvas->setZoom(true, 20);
    EXPECT_EQ(canvas->zoom(), 16.0);
    ASSERT_EQ(zoomed.size(), 1) << "the view relays the canvas's signal";
    EXPECT_EQ(zoomed.at(0).at(0).toDouble(), 16.0);
    EXPECT_EQ(canvas->size(), QSize(6400, 4800));

    canvas->setZoom(false, 0);
    canvas->setZoom(false, -1);
    canvas->setZoom(true, 0);
    canvas->setZoom(false, std::nan(""));
    EXPECT_EQ(canvas->zoom(), 16.0);
    EXPECT_EQ(zoomed.size(), 1);

    canvas->setZoom(false, 0.5);
    EXPECT_EQ(canvas->zoom(), 8.0);
    canvas->setZoom(false, 4);
    EXPECT_EQ(canvas->zoom(), 16.0);
    EXPECT_EQ(canvas->scaledImageSize(), QSize(6400, 4800));
}

TEST(CanvasZoom, ASmallImageIsCentredAndALargeOneStartsAtTheTopLeft)
{
    ModelImage image(400, 300, 1);
    ImageView view;
    ASSERT_TRUE(testsupport::showWithViewport(view, viewport));
    GmZoomWidget* canvas = view.canvas();

    canvas->setZoom(true, 1);
    EXPECT_EQ(canvas->size(), viewport) << "the canvas fills the viewport";
    EXPECT_EQ(canvas->imageRect(), QRect(300, 250, 400, 300));
    EXPECT_EQ(canvas->imagePoint(QPointF(300, 250)), QPointF(0, 0));

    // Wider than the viewport, still lower: flush left, centred from top to bottom.
    canvas->setZoom(true, 3);
    EXPECT_EQ(canvas->size(), QSize(1200, 900));
    EXPECT_EQ(canvas->imageRect(), QRect(0, 0, 1200, 900));
    canvas->setZoom(true, 2.6);
    EXPECT_EQ(canvas->imageRect(), QRect(0, 10, 1040, 780));

    // Without an image: no image rectangle, the canvas fills the viewport.
    GmModelTestAccess::setSource(nullptr);
    canvas->imageChangedSlot();
    EXPECT_TRUE(canvas->imageRect().isNull());
    EXPECT_EQ(canvas->zoom(), 1.0);
    EXPECT_EQ(canvas->scaledImageSize(), QSize(0, 0));
    EXPECT_EQ(canvas->size(), viewport);
}

TEST(CanvasZoom, ANewImageFitsIntoMostOfTheViewportAlsoWhenItArrivedWhileHidden)
{
    ModelImage image(2000, 1000, 1);
    ImageView view;
    ASSERT_TRUE(testsupport::showWithViewport(view, viewport));
    GmZoomWidget* canvas = view.canvas();

    canvas->setZoom(true, 1);
    canvas->imageChangedSlot();
    EXPECT_DOUBLE_EQ(canvas->zoom(), 0.425);
    EXPECT_EQ(canvas->imageRect(), QRect(75, 187, 850, 425));

    canvas->setZoom(true, 1);
    view.hide();
    canvas->imageChangedSlot();
    EXPECT_EQ(canvas->zoom(), 1.0) << "nothing is fitted while hidden";
    ASSERT_TRUE(testsupport::showForInput(&view));
    EXPECT_EQ(view.workspace()->viewport()->size(), viewport);
    EXPECT_DOUBLE_EQ(canvas->zoom(), 0.425) << "the fit runs at the next show";

    // The view's own fit takes the whole viewport.
    view.fitImageOnScreenSlot();
    EXPECT_DOUBLE_EQ(canvas->zoom(), 0.5);
}

TEST(CanvasZoom, AnImageOpenedWhileTheViewGrowsIsFittedToTheFinalViewUntilTheUserZooms)
{
    ModelImage image(2000, 1000, 1);
    ImageView view;
    ASSERT_TRUE(testsupport::showWithViewport(view, QSize(400, 300)));
    GmZoomWidget* canvas = view.canvas();
    canvas->setZoom(true, 1);

    // The image arrives while the window is still on its way to its final size.
    canvas->imageChangedSlot();
    EXPECT_DOUBLE_EQ(canvas->zoom(), 0.17);
    ASSERT_TRUE(testsupport::showWithViewport(view, QSize(700, 500)));
    ASSERT_TRUE(testsupport::showWithViewport(view, viewport));
    EXPECT_DOUBLE_EQ(canvas->zoom(), 0.425);
    EXPECT_EQ(canvas->imageRect(), QRect(75, 187, 850, 425));

    // A zoom of the user's own stays when the view changes size.
    view.zoomInSlot();
    const double zoomed = canvas->zoom();
    ASSERT_TRUE(testsupport::showWithViewport(view, QSize(600, 400)));
    EXPECT_DOUBLE_EQ(canvas->zoom(), zoomed);
}

TEST(CanvasRepaint, ADirtyRectangleRepaintsItsWidgetAreaGrownByTheHint)
{
    ModelImage image(200, 150, 1);
    ImageView view;
    ASSERT_TRUE(testsupport::showWithViewport(view, viewport));
    GmZoomWidget* canvas = view.canvas();
    canvas->setZoom(true, 2);
    ASSERT_EQ(canvas->imageRect().topLeft(), QPoint(300, 250));
    testsupport::settle();
    testsupport::PaintRecorder recorder(canvas);

    canvas->rectDirtySlot(QRectF(10, 10, 20, 20), DirtyHintHandles);
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.count() > 0; }, 5000));
    EXPECT_EQ(recorder.painted(), QRegion(QRect(315, 265, 50, 50)));

    recorder.clear();
    canvas->rectDirtySlot(QRectF(10, 10, 20, 20), DirtyHintOutline);
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.count() > 0; }, 5000));
    EXPECT_EQ(recorder.painted(), QRegion(QRect(318, 268, 44, 44)));

    // The model's announcement reaches the canvas; fractions round outward.
    recorder.clear();
    emit GmModel::instance()->rectDirty(QRectF(10.3, 10.3, 0.5, 0.5));
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.count() > 0; }, 5000));
    EXPECT_EQ(paintedBounds(recorder), QRect(320, 270, 2, 2));

    // A rectangle that is no number repaints nothing and harms nothing.
    recorder.clear();
    canvas->rectDirtySlot(QRectF(std::nan(""), 0, 10, 10), DirtyHintHandles);
    testsupport::settle();
    EXPECT_EQ(recorder.count(), 0);
}

TEST(CanvasInput, PressesReachTheToolInImageCoordinatesOnlyInItsTabs)
{
    ModelImage image(200, 150, 1);
    ImageView view;
    NoTool none;
    PointTool tool(QStringLiteral("Keep Tool"));
    ASSERT_TRUE(tool.installSlot());
    ASSERT_TRUE(testsupport::showWithViewport(view, viewport));
    GmZoomWidget* canvas = view.canvas();
    canvas->setZoom(true, 2);
    ASSERT_EQ(canvas->imageRect().topLeft(), QPoint(300, 250));

    testsupport::mousePress(canvas, {500, 400});
    testsupport::mouseMove(canvas, {510, 401});
    testsupport::mouseRelease(canvas, {510, 401});
    ASSERT_EQ(tool.presses.size(), 1);
    EXPECT_EQ(tool.presses.first(), QPointF(100, 75));
    ASSERT_FALSE(tool.moves.isEmpty());
    EXPECT_EQ(tool.moves.last(), QPointF(105, 75.5));
    ASSERT_EQ(tool.releases.size(), 1);
    EXPECT_EQ(tool.buttonState(), 0);

    // On the Source tab the Workspace tool hears nothing.
    view.sourceAction()->trigger();
    ASSERT_EQ(view.currentViewTab(), ImageView::Source);
    tool.presses.clear();
    tool.moves.clear();
    tool.releases.clear();
    testsupport::mousePress(canvas, {400, 300});
    testsupport::mouseMove(canvas, {420, 300});
    testsupport::mouseRelease(canvas, {420, 300});
    EXPECT_TRUE(tool.presses.isEmpty());
    EXPECT_TRUE(tool.moves.isEmpty());
    EXPECT_TRUE(tool.releases.isEmpty());
}

TEST(CanvasInput, PenPressureIsRecordedForBrushesOnlyAndTheEventStaysIgnored)
{
    ModelImage image(200, 150, 1);
    KsAppPreferences preferences;
    ImageView view;
    NoTool none;
    RecordingTool::Options options;
    PointTool brush(QStringLiteral("Keep Tool"), options, true);
    PointTool plain(QStringLiteral("Patch Tool"), options, false);
    ASSERT_TRUE(testsupport::showWithViewport(view, viewport));
    GmZoomWidget* canvas = view.canvas();
    EXPECT_EQ(GmZoomWidget::tabletPressure(), 1.0);
    EXPECT_FALSE(GmZoomWidget::tabletPressureInEffect());

    ASSERT_TRUE(plain.installSlot());
    EXPECT_FALSE(testsupport::tabletEvent(canvas, QEvent::TabletPress, {400, 300}, 0.3));
    EXPECT_EQ(GmZoomWidget::tabletPressure(), 1.0) << "no brush, no pressure";

    ASSERT_TRUE(brush.installSlot());
    EXPECT_FALSE(testsupport::tabletEvent(canvas, QEvent::TabletPress, {400, 300}, 0.0));
    EXPECT_EQ(GmZoomWidget::tabletPressure(), 0.0);
    EXPECT_FALSE(GmZoomWidget::tabletPressureInEffect()) << "pressure 0 does not count as a pen's pressure";
    EXPECT_FALSE(testsupport::tabletEvent(canvas, QEvent::TabletMove, {401, 300}, 0.4));
    EXPECT_EQ(GmZoomWidget::tabletPressure(), 0.4);
    EXPECT_TRUE(GmZoomWidget::tabletPressureInEffect());

    preferences.setUseTabletPressure(false);
    EXPECT_FALSE(testsupport::tabletEvent(canvas, QEvent::TabletMove, {402, 300}, 0.7));
    EXPECT_EQ(GmZoomWidget::tabletPressure(), 0.4) << "the preference is off";
}

TEST(CanvasBackground, TheColourComesFromTheSettingsAndGoesBackThere)
{
    const QString key = QStringLiteral("GmZoomWidget/backgroundColour_");
    QSettings().setValue(key, int(qRgb(10, 20, 30)));
    ModelImage image(200, 150, 1);
    testsupport::ScriptedPrompt prompts;
    {
        ImageView view;
        GmZoomWidget* canvas = view.canvas();
        EXPECT_EQ(canvas->backgroundColour(), QColor(10, 20, 30));
        EXPECT_EQ(canvas->styleSheet(), "background-color: #0a141e ;");
        ASSERT_TRUE(testsupport::showWithViewport(view, viewport));
        canvas->setZoom(true, 1);
        EXPECT_EQ(canvas->grab().toImage().pixel(5, 5), qRgb(10, 20, 30)) << "the area around the image";

        prompts.cancelColor();
        emit GmModel::instance()->changeBackgroundColour();
        EXPECT_EQ(prompts.colorRequests(), 1);
        EXPECT_EQ(canvas->backgroundColour(), QColor(10, 20, 30));
        prompts.answerColor(QColor(200, 100, 50));
        canvas->changeBackgroundColourSlot();
        EXPECT_EQ(canvas->backgroundColour(), QColor(200, 100, 50));
        EXPECT_EQ(canvas->grab().toImage().pixel(5, 5), qRgb(200, 100, 50));
    }
    EXPECT_EQ(QSettings().value(key).toInt(), int(qRgb(200, 100, 50)));
}

TEST(CanvasBackground, WhiteByDefault)
{
    QSettings().remove(QStringLiteral("GmZoomWidget/backgroundColour_"));
    ImageView view;
    EXPECT_EQ(view.canvas()->backgroundColour(), QColor(Qt::white));
}

TEST(CanvasMenu, APatchMenuListsThePatchCommandsAndTheShowActions)
{
    ModelImage image(200, 150, 1);
    ImageView view;
    QAction patchPanel(QStringLiteral("Show Patch Properties"));
    QAction colourPanel(QStringLiteral("Show Color Workspace"));
    GmZoomWidget::setShowActionsHook([&] { return GmZoomWidget::ShowActions{&patchPanel, &colourPanel}; });
    ASSERT_TRUE(testsupport::showWithViewport(view, viewport));
    GmZoomWidget* canvas = view.canvas();
    canvas->setZoom(true, 2);
    GmModel* model = GmModel::instance();
    RectRegion* patch = rectPatch({20, 20, 60, 40});
    patch->activate();
    ASSERT_EQ(model->activeRegion(), patch);
    qRegisterMetaType<GmRegion*>();
    QSignalSpy targets(canvas, &GmZoomWidget::activateArrowTargetAt);
    QSignalSpy ready(model, &GmModel::activeRegionReady);

    testsupport::PopupMenuCloser closer;
    sendContextMenu(canvas, {400, 310});
    ASSERT_TRUE(closer.opened());
    EXPECT_EQ(closer.itemTexts(),
              QStringList({"Auto-Fill Patch with &Keep", "Auto-Fill Patch with &Delete", "Preview Cut-out in Patch",
                           "Delete Patch", "Erase Mask in Patch", "Protect Patch", "Show Patch Properties",
                           "Show Color Workspace"}));
    ASSERT_EQ(targets.size(), 1);
    EXPECT_EQ(targets.at(0).at(0).toPointF(), QPointF(50, 30));
    ASSERT_EQ(ready.size(), 1) << "the patch is announced ready again after the menu";
    EXPECT_EQ(ready.at(0).at(0).value<GmRegion*>(), patch);

    // The menu deletes the patch: nothing is announced for it afterwards.
    ready.clear();
    QPointer<GmRegion> deleted = patch;
    closer.arm(QStringLiteral("Delete Patch"));
    sendContextMenu(canvas, {400, 310});
    ASSERT_TRUE(closer.opened());
    testsupport::flushDeferredDeletes();
    EXPECT_TRUE(deleted.isNull());
    EXPECT_EQ(model->activeRegion(), nullptr);
    for (const QList<QVariant>& emitted : ready)
        EXPECT_EQ(emitted.at(0).value<GmRegion*>(), nullptr);
    EXPECT_LE(ready.size(), 1);
    GmZoomWidget::setShowActionsHook(GmZoomWidget::ShowActionsHook());
}

TEST(CanvasMenu, AForcedEdgeOrTheWholeImageHaveTheirOwnMenusAndOtherTabsNone)
{
    ModelImage image(200, 150, 1);
    ImageView view;
    QAction autoFill(QStringLiteral("&Auto-Fill Image"));
    QAction cutout(QStringLiteral("Create Cu&t-Out"));
    QAction colourPanel(QStringLiteral("Show Color Workspace"));
    GmZoomWidget::setImageMenuActionsHook([&] { return QList<QAction*>{&autoFill, &cutout}; });
    ASSERT_TRUE(testsupport::showWithViewport(view, viewport));
    GmZoomWidget* canvas = view.canvas();

    testsupport::PopupMenuCloser closer;
    sendContextMenu(canvas, {500, 400});
    ASSERT_TRUE(closer.opened());
    EXPECT_EQ(closer.itemTexts(), QStringList({"&Auto-Fill Image", "Create Cu&t-Out"}));

    GmZoomWidget::setShowActionsHook([&] { return GmZoomWidget::ShowActions{nullptr, &colourPanel}; });
    closer.arm();
    sendContextMenu(canvas, {500, 400});
    ASSERT_TRUE(closer.opened());
    EXPECT_EQ(closer.itemTexts(), QStringList({"&Auto-Fill Image", "Create Cu&t-Out", "Show Color Workspace"}));

    auto* edge = new ForcedEdge(QPointF(10, 10), 4);
    edge->polygon().appendPoint(QPointF(60, 40));
    edge->activate();
    closer.arm();
    sendContextMenu(canvas, {500, 400});
    ASSERT_TRUE(closer.opened());
    EXPECT_EQ(closer.itemTexts(), QStringList({"Delete Forced Edge"}));

    // Only the Workspace tab has a menu.
    view.sourceAction()->trigger();
    closer.arm();
    sendContextMenu(canvas, {500, 400});
    testsupport::settle();
    EXPECT_FALSE(closer.opened());
    GmModel::instance()->deleteForcedEdge(edge);
    GmZoomWidget::setImageMenuActionsHook(GmZoomWidget::ImageMenuActionsHook());
    GmZoomWidget::setShowActionsHook(GmZoomWidget::ShowActionsHook());
}

TEST(CanvasPreview, ThePatchPreviewCoversThePatchInImagePixelsAtEveryDivisor)
{
    ModelImage image(400, 300, 2);
    ImageView view;
    GmZoomWidget* canvas = view.canvas();
    RectRegion* patch = rectPatch({40, 60, 100, 80});
    patch->filledMask();
    ASSERT_TRUE(patch->shape()->pixelState()->hasMask());
    GmModel* model = GmModel::instance();
    model->beginTestRenderRect(QPointF(40, 60));

    canvas->patchPreviewAvailableSlot(patch);
    EXPECT_EQ(canvas->previewPatch(), patch);
    EXPECT_EQ(canvas->previewRegion().boundingRect(), QRect(40, 60, 100, 80));
    EXPECT_TRUE(canvas->previewRegion().contains(QPoint(139, 139)));
    EXPECT_FALSE(canvas->previewRegion().contains(QPoint(141, 100)));

    // A dirty rectangle that asks for it ends the preview and the model's preview rectangle.
    canvas->rectDirtySlot(QRectF(0, 0, 1, 1), DirtyHintNone, ClearPatchPreview);
    EXPECT_EQ(canvas->previewPatch(), nullptr);
    EXPECT_TRUE(canvas->previewRegion().isEmpty());
    EXPECT_EQ(model->testRenderRect(), nullptr);
    model->deleteRegion(patch);
}

TEST(CanvasDrop, DropsGoToTheSinkAndDragsOfUsableDataAreAccepted)
{
    ModelImage image(200, 150, 1);
    ImageView view;
    ASSERT_TRUE(testsupport::showWithViewport(view, viewport));
    GmZoomWidget* canvas = view.canvas();
    QMimeData text;
    text.setText(QStringLiteral("https://example.org/photo.png"));
    QMimeData nothing;
    nothing.setData(QStringLiteral("application/x-unknown"), QByteArray("x"));

    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &nothing, Qt::LeftButton, Qt::NoModifier);
    refused.setAccepted(false);
    QCoreApplication::sendEvent(canvas, &refused);
    EXPECT_FALSE(refused.isAccepted());
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    QCoreApplication::sendEvent(canvas, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);

    // A drop reaches only the target of a running drag: the handler is called as that target's.
    QObject* target = canvas;
    QDropEvent ignored(QPointF(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    target->event(&ignored);
    EXPECT_FALSE(ignored.isAccepted()) << "no sink: the drop is ignored";

    const QMimeData* received = nullptr;
    GmZoomWidget::setDropSinkHook([&](QDropEvent* event) {
        received = event->mimeData();
        event->acceptProposedAction();
    });
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    target->event(&drop);
    EXPECT_EQ(received, &text);
    EXPECT_TRUE(drop.isAccepted());
    GmZoomWidget::setDropSinkHook(GmZoomWidget::DropSinkHook());
}
