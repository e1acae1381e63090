// Moving about the image: the navigator's thumbnail and box, its zoom box and slider, the hand
// and zoom tools, and all of them wired to a shown image view as the main window wires them.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "canvas/KsWorkspace.h"
#include "canvas/Navigator.h"
#include "document/BrushRegion.h"
#include "document/Brushing.h"
#include "document/GmAction.h"
#include "document/GmModel.h"
#include "document/KsSourceImage.h"
#include "document/Rectangle.h"
#include "panels/NavigatorWindow.h"
#include "panels/Slider.h"
#include "tools/NoTool.h"
#include "tools/PanTool.h"
#include "tools/ZoomTool.h"

#include "ModelImage.h"
#include "RecordingTool.h"
#include "ShownView.h"
#include "Wait.h"
#include "WidgetInput.h"

#include "dravik.h"

#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using testsupport::ModelImage;
using testsupport::RecordingTool;

namespace {

void send(QWidget* widget, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, buttons, modifiers);
    QCoreApplication::sendEvent(widget, &event);
}

// The same, with an explicit screen position (the hand reads only that).
void sendAt(QWidget* widget, QEvent::Type type, QPoint global, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    const QPoint pos = widget->mapFromGlobal(global);
    QMouseEvent event(type, pos, global, button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

QList<double> zoomRequests(const QSignalSpy& spy)
{
    QList<double> zooms;
    for (const QList<QVariant>& call : spy)
        zooms.append(call.at(0).toDouble());
    return zooms;
}

// A tool that outlines targets in its own way, to see the stand-ins forward the question.
class OutliningTool : public RecordingTool {
public:
    explicit OutliningTool(const QString& name) : RecordingTool(name, nullptr) {}
    int arrowTargetDisplayState(ArrowTarget*) const override { return 1; }
};

bool isRed(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 60 && qBlue(pixel) < 60;
}

} // namespace

// --- the zoom box and slider -------------------------------------------------------------------

TEST(NavigatorZoom, SliderEndsAndMiddleAskForTheirZoomAndTheBoxFollowsQuietly)
{
    NavigatorWindow window(nullptr);
    EXPECT_DOUBLE_EQ(window.zoomBox()->minimum(), 6.25);
    EXPECT_DOUBLE_EQ(window.zoomBox()->maximum(), 1600.0);
    EXPECT_EQ(window.zoomBox()->value(), 100.0);
    QSignalSpy requests(&window, &NavigatorWindow::requestZoomTo);
    QSignalSpy sliderChanges(&window, &NavigatorWindow::zoomSliderChange);

    QSlider* slider = window.zoomSlider()->slider();
    slider->setValue(-25);
    slider->setValue(0);
    slider->setValue(25);
    const QList<double> zooms = zoomRequests(requests);
    ASSERT_EQ(zooms.size(), 3);
    EXPECT_DOUBLE_EQ(zooms[0], 0.0625);
    EXPECT_DOUBLE_EQ(zooms[1], 1.0);
    EXPECT_DOUBLE_EQ(zooms[2], 16.0);
    EXPECT_DOUBLE_EQ(window.zoomBox()->value(), 1600.0);
    // The box was set with its signals blocked: no echo back to the slider.
    EXPECT_EQ(sliderChanges.count(), 0);
}

TEST(NavigatorZoom, ABoxValuePutsTheSliderAtItsNearestPosition)
{
    NavigatorWindow window(nullptr);
    QSignalSpy requests(&window, &NavigatorWindow::requestZoomTo);
    QSignalSpy sliderChanges(&window, &NavigatorWindow::zoomSliderChange);
    window.zoomBox()->setValue(150.0);
    EXPECT_EQ(window.zoomSlider()->slider()->value(), 4);
    ASSERT_EQ(sliderChanges.count(), 1);
    EXPECT_EQ(sliderChanges.at(0).at(0).toInt(), 4);
    // One request: the slider moved quietly and did not ask for its own (rounded) zoom.
    EXPECT_EQ(zoomRequests(requests), QList<double>{1.5});
    EXPECT_DOUBLE_EQ(window.zoomBox()->value(), 150.0);
}

TEST(NavigatorZoom, ZoomingInStopsAtTheLimitAndTheEnabledSignalsFireOnlyOnAFlip)
{
    NavigatorWindow window(nullptr);
    QSignalSpy inEnabled(&window, &NavigatorWindow::zoomInEnabled);
    QSignalSpy outEnabled(&window, &NavigatorWindow::zoomOutEnabled);
    QSignalSpy requests(&window, &NavigatorWindow::requestZoomTo);
    window.zoomBox()->setValue(1500.0);
    EXPECT_EQ(inEnabled.count(), 0);
    requests.clear();

    window.zoomInSlot();
    EXPECT_DOUBLE_EQ(window.zoomBox()->value(), 1600.0);
    EXPECT_EQ(zoomRequests(requests), QList<double>{16.0});
    window.zoomInSlot();
    EXPECT_EQ(requests.count(), 1);
    ASSERT_EQ(inEnabled.count(), 1);
    EXPECT_FALSE(inEnabled.at(0).at(0).toBool());

    window.zoomOutSlot();
    EXPECT_DOUBLE_EQ(window.zoomBox()->value(), 1280.0);
    ASSERT_EQ(inEnabled.count(), 2);
    EXPECT_TRUE(inEnabled.at(1).at(0).toBool());

    window.zoomBox()->setValue(7.0);
    window.zoomOutSlot();
    EXPECT_DOUBLE_EQ(window.zoomBox()->value(), 6.25);
    window.zoomOutSlot();
    ASSERT_EQ(outEnabled.count(), 1);
    EXPECT_FALSE(outEnabled.at(0).at(0).toBool());
}

TEST(NavigatorZoom, EachNudgeButtonShowsAndDoesWhatItsTipSays)
{
    NavigatorWindow window(nullptr);
    Slider* slider = window.zoomSlider();
    QToolButton* down = slider->nudgeDownButton();
    QToolButton* up = slider->nudgeUpButton();
    ASSERT_NE(down, nullptr);
    ASSERT_NE(up, nullptr);
    EXPECT_EQ(down->toolTip(), QStringLiteral("Zoom Out (Ctrl+-)"));
    EXPECT_EQ(up->toolTip(), QStringLiteral("Zoom In (Ctrl++)"));
    EXPECT_EQ(slider->slider()->toolTip(), QStringLiteral("Zoom Slider"));
    const QSize size = up->iconSize();
    EXPECT_EQ(down->icon().pixmap(size).toImage(),
              QPixmap(QStringLiteral(":images/nav_zoom_out.png")).toImage().convertToFormat(
                  down->icon().pixmap(size).toImage().format()));
    EXPECT_EQ(up->icon().pixmap(size).toImage(),
              QPixmap(QStringLiteral(":images/nav_zoom_in.png")).toImage().convertToFormat(
                  up->icon().pixmap(size).toImage().format()));

    down->click();
    EXPECT_DOUBLE_EQ(window.zoomBox()->value(), 80.0);
    up->click();
    up->click();
    EXPECT_DOUBLE_EQ(window.zoomBox()->value(), 125.0);
}

TEST(NavigatorZoom, TheViewsReportSetsBoxAndSliderQuietlyAndTheBox)
{
    NavigatorWindow window(nullptr);
    QSignalSpy requests(&window, &NavigatorWindow::requestZoomTo);
    QSignalSpy sliderChanges(&window, &NavigatorWindow::zoomSliderChange);
    QSignalSpy inEnabled(&window, &NavigatorWindow::zoomInEnabled);
    window.setRectSlot(GRectF(10, 20, 30, 40), 16.0);
    EXPECT_EQ(window.navigator()->viewRect(), QRectF(10, 20, 30, 40));
    EXPECT_DOUBLE_EQ(window.zoomBox()->value(), 1600.0);
    EXPECT_EQ(window.zoomSlider()->slider()->value(), 25);
    EXPECT_EQ(requests.count(), 0);
    ASSERT_EQ(sliderChanges.count(), 1);
    EXPECT_EQ(sliderChanges.at(0).at(0).toInt(), 25);
    EXPECT_EQ(inEnabled.count(), 1);

    // The same zoom again moves only the box.
    window.setRectSlot(GRectF(0, 0, 30, 40), 16.0);
    EXPECT_EQ(sliderChanges.count(), 1);
    EXPECT_EQ(inEnabled.count(), 1);
}

// --- the thumbnail -----------------------------------------------------------------------------

TEST(NavigatorThumbnail, SizeHintFollowsTheImagesAspectAndIsAtLeastEighty)
{
    Navigator empty;
    EXPECT_EQ(empty.sizeHint(), QSize(80, 80));

    ModelImage image(400, 300, 1);
    Navigator navigator;
    navigator.resize(200, 100);
    navigator.updateImage();
    EXPECT_EQ(navigator.sizeHint(), QSize(80, 150));
    navigator.resize(80, 100);
    EXPECT_EQ(navigator.sizeHint(), QSize(80, 80));
    EXPECT_EQ(navigator.minimumSize(), QSize(80, 80));
}

TEST(NavigatorThumbnail, TheRedBoxIsTheImageBorderUntilTheViewReportsARectangle)
{
    ModelImage image(400, 300, 1);
    Navigator navigator;
    navigator.resize(240, 150);
    navigator.updateImage();
    EXPECT_DOUBLE_EQ(navigator.scale(), 0.5);
    EXPECT_EQ(navigator.offset(), QPoint(20, 0));

    QImage shot = navigator.grab().toImage();
    EXPECT_TRUE(isRed(shot.pixel(20, 75)));
    EXPECT_TRUE(isRed(shot.pixel(219, 75)));
    EXPECT_TRUE(isRed(shot.pixel(120, 0)));
    EXPECT_TRUE(isRed(shot.pixel(120, 149)));
    EXPECT_FALSE(isRed(shot.pixel(120, 75)));

    navigator.setViewRect(QRectF(100, 100, 100, 60));
    shot = navigator.grab().toImage();
    EXPECT_FALSE(isRed(shot.pixel(20, 75)));
    EXPECT_TRUE(isRed(shot.pixel(70, 60)));
    EXPECT_TRUE(isRed(shot.pixel(119, 60)));
    EXPECT_TRUE(isRed(shot.pixel(90, 50)));
    EXPECT_TRUE(isRed(shot.pixel(90, 79)));
}

TEST(NavigatorThumbnail, TheThumbnailIsMadeOncePerImageAndSize)
{
    ModelImage image(400, 300, 1);
    Navigator navigator;
    navigator.resize(240, 150);
    navigator.updateImage();
    navigator.grab();
    const qint64 first = navigator.thumbnail().cacheKey();
    EXPECT_EQ(navigator.thumbnail().size(), QSize(200, 150));
    navigator.grab();
    navigator.setViewRect(QRectF(10, 10, 50, 50));
    navigator.grab();
    EXPECT_EQ(navigator.thumbnail().cacheKey(), first);

    navigator.resize(120, 150);
    navigator.grab();
    EXPECT_NE(navigator.thumbnail().cacheKey(), first);
    EXPECT_EQ(navigator.thumbnail().size(), QSize(120, 90));
}

TEST(NavigatorThumbnail, AClickBesideTheBoxCentresThereAndADragInsideMovesTheBox)
{
    ModelImage image(400, 300, 1);
    Navigator navigator;
    navigator.resize(230, 130);
    navigator.updateImage();
    const double s = navigator.scale();
    EXPECT_DOUBLE_EQ(s, 130.0 / 300.0);
    EXPECT_EQ(navigator.offset(), QPoint(28, 0));
    navigator.setViewRect(QRectF(100, 100, 80, 60));
    QSignalSpy centres(&navigator, &Navigator::rectCenterChanged);
    QSignalSpy moves(&navigator, &Navigator::rectChanged);

    send(&navigator, QEvent::MouseButtonPress, QPoint(150, 100), Qt::LeftButton, Qt::LeftButton);
    ASSERT_EQ(centres.count(), 1);
    EXPECT_EQ(centres.at(0).at(0).toPoint(),
              QPoint(int(std::lround((150 - 28) / s)), int(std::lround(100 / s))));
    EXPECT_EQ(navigator.cursor(), *navigator.grabHandCursor());
    send(&navigator, QEvent::MouseButtonRelease, QPoint(150, 100), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(navigator.cursor(), *navigator.pointCursor());

    send(&navigator, QEvent::MouseButtonPress, QPoint(80, 60), Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(centres.count(), 1);
    send(&navigator, QEvent::MouseMove, QPoint(90, 66), Qt::NoButton, Qt::LeftButton);
    ASSERT_EQ(moves.count(), 1);
    const QRectF moved = moves.at(0).at(0).toRectF();
    EXPECT_DOUBLE_EQ(moved.x(), 100 + 10 / s);
    EXPECT_DOUBLE_EQ(moved.y(), 100 + 6 / s);
    EXPECT_EQ(moved.size(), QSizeF(80, 60));
    send(&navigator, QEvent::MouseButtonRelease, QPoint(90, 66), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(navigator.cursor(), *navigator.openHandCursor());
}

TEST(NavigatorThumbnail, WhileTheWholeImageIsShownADragAsksNothingOfTheView)
{
    ModelImage image(400, 300, 1);
    Navigator navigator;
    navigator.resize(240, 150);
    navigator.updateImage();
    QSignalSpy moves(&navigator, &Navigator::rectChanged);
    send(&navigator, QEvent::MouseButtonPress, QPoint(100, 70), Qt::LeftButton, Qt::LeftButton);
    send(&navigator, QEvent::MouseMove, QPoint(110, 80), Qt::NoButton, Qt::LeftButton);
    send(&navigator, QEvent::MouseMove, QPoint(120, 90), Qt::NoButton, Qt::LeftButton);
    // An empty rectangle would read as a point to zoom in on, once per move.
    EXPECT_EQ(moves.count(), 0);
}

TEST(NavigatorThumbnail, ABrushedPatchIsRedrawnAsItsOutlineOnceTheOutlineIsSet)
{
    ModelImage image(400, 300, 1);
    Brushing stroke(QColor(Qt::green));
    stroke.startStroke(QPointF(180, 150), 40);
    stroke.addSegment(QPointF(220, 150), 40);
    std::unique_ptr<BrushRegion> patch(new BrushRegion(stroke));
    GmModel::instance()->setActiveRegion(patch.get(), 0);
    Navigator navigator;
    navigator.resize(240, 150);
    navigator.updateImage();
    ASSERT_TRUE(testsupport::showForInput(&navigator));
    // What the window shows once the pending paints are done, without painting it again.
    const auto shown = [&navigator](QPoint p) {
        QCoreApplication::sendPostedEvents();
        return navigator.screen()->grabWindow(navigator.winId()).toImage().pixel(p);
    };
    const auto thumbnail = [&navigator](QPoint p) { return navigator.thumbnail().toImage().pixel(p - navigator.offset()); };
    ASSERT_DOUBLE_EQ(navigator.scale(), 0.5);
    const QPoint centre(20 + 100, 75), onRing(20 + 75, 75);
    // The stroke's pixels, before the engine has outlined the patch.
    ASSERT_NE(shown(centre), thumbnail(centre));

    std::vector<DvOutlinePoint> ring = {{150.0f, 120.0f}, {250.0f, 120.0f}, {250.0f, 180.0f}, {150.0f, 180.0f},
                                        {150.0f, 120.0f}};
    DvOutline outline{ring.data(), int(ring.size()), 0};
    DvSession session{};
    session.outlines = &outline;
    session.outlineCount = 1;
    patch->setOutline(&session);
    EXPECT_EQ(shown(centre), thumbnail(centre));
    EXPECT_NE(shown(onRing), thumbnail(onRing));
}

TEST(NavigatorThumbnail, WithoutAnImageTheMouseDoesNothing)
{
    Navigator navigator;
    navigator.resize(100, 100);
    navigator.updateImage();
    QSignalSpy centres(&navigator, &Navigator::rectCenterChanged);
    send(&navigator, QEvent::MouseButtonPress, QPoint(50, 50), Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(centres.count(), 0);
    EXPECT_EQ(navigator.cursor().shape(), Qt::ArrowCursor);
}

// --- the tools on their own --------------------------------------------------------------------

TEST(NavigationTools, BothWorkInEveryTabAndLeavePreviewAndHighlightAlone)
{
    ModelImage image(200, 150, 1);
    PanTool pan;
    ZoomTool zoom;
    for (GmTool* tool : {static_cast<GmTool*>(&pan), static_cast<GmTool*>(&zoom)}) {
        EXPECT_EQ(int(tool->usableViewTabs()), 7);
        EXPECT_EQ(tool->homeViewTab(), ImageView::Workspace);
        EXPECT_FALSE(tool->clearsPreviewOnPress());
        EXPECT_FALSE(tool->clearsColourHighlight());
        EXPECT_FALSE(tool->usesBrush());
        EXPECT_TRUE(tool->isAvailable());
    }
    EXPECT_EQ(pan.name(), QStringLiteral("Hand Tool"));
    EXPECT_EQ(zoom.name(), QStringLiteral("Zoom Tool"));
    EXPECT_EQ(pan.action()->shortcut(), QKeySequence(QStringLiteral("H")));
    EXPECT_EQ(zoom.action()->shortcut(), QKeySequence(QStringLiteral("Z")));
    EXPECT_TRUE(pan.action()->whatsThis().contains(QStringLiteral("temporarily switch to the <b>Hand Tool</b>")));
    EXPECT_TRUE(zoom.action()->whatsThis().contains(QStringLiteral("Marquee (Box) Zoom")));
}

TEST(NavigationTools, AHandPickedFromTheZoomStandsInForTheToolBeforeIt)
{
    ModelImage image(200, 150, 1);
    NoTool none;
    OutliningTool keep(QStringLiteral("Keep Tool"));
    PanTool pan;
    ZoomTool zoom;
    EXPECT_EQ(pan.arrowTargetDisplayState(nullptr), 3);

    keep.action()->trigger();
    zoom.action()->trigger();
    EXPECT_EQ(zoom.underlyingTool(), &keep);
    EXPECT_EQ(zoom.arrowTargetDisplayState(nullptr), 1);
    pan.action()->trigger();
    EXPECT_EQ(pan.underlyingTool(), &keep);
    EXPECT_EQ(pan.arrowTargetDisplayState(nullptr), 1);
    // Picked again, it still stands in for the same tool.
    pan.action()->trigger();
    EXPECT_EQ(pan.underlyingTool(), &keep);
}

TEST(NavigationTools, NeitherEverStandsInForItself)
{
    ModelImage image(200, 150, 1);
    NoTool none;
    PanTool pan;
    ZoomTool zoom;
    // The zoom tool first, standing in for nothing; the hand from it stands in for the zoom
    // tool, and the zoom tool picked from that hand would find itself.
    zoom.action()->trigger();
    EXPECT_EQ(zoom.underlyingTool(), nullptr);
    pan.action()->trigger();
    EXPECT_EQ(pan.underlyingTool(), &zoom);
    zoom.action()->trigger();
    EXPECT_EQ(zoom.underlyingTool(), nullptr);
    pan.action()->trigger();
    EXPECT_EQ(pan.underlyingTool(), &zoom);
    // Forwarding would recurse without end if either stood in for itself.
    EXPECT_EQ(zoom.arrowTargetDisplayState(nullptr), 3);
    EXPECT_EQ(pan.arrowTargetDisplayState(nullptr), 3);

    none.action()->trigger();
    zoom.action()->trigger();
    zoom.action()->trigger();
    EXPECT_EQ(zoom.underlyingTool(), &none);
}

TEST(NavigationTools, TheZoomOptionsAskForActualPixelsAndFitScreen)
{
    ModelImage image(200, 150, 1);
    ZoomTool zoom;
    QSignalSpy actual(&zoom, &ZoomTool::actualPixelsSignal);
    QSignalSpy fit(&zoom, &ZoomTool::fitScreenSignal);
    auto* actualButton = zoom.optionsWidget()->findChild<QPushButton*>(QStringLiteral("actualPixels"));
    auto* fitButton = zoom.optionsWidget()->findChild<QPushButton*>(QStringLiteral("fitScreen"));
    ASSERT_NE(actualButton, nullptr);
    ASSERT_NE(fitButton, nullptr);
    EXPECT_EQ(actualButton->text(), QStringLiteral("Actual Pixels"));
    EXPECT_EQ(fitButton->text(), QStringLiteral("Fit Screen"));
    actualButton->click();
    EXPECT_EQ(actual.count(), 1);
    EXPECT_EQ(fit.count(), 0);
    fitButton->click();
    EXPECT_EQ(fit.count(), 1);
}

TEST(NavigationTools, TheHandSharesTheEmptyOptionsPage)
{
    ModelImage image(200, 150, 1);
    auto first = std::make_unique<PanTool>();
    PanTool second;
    ASSERT_NE(first->optionsWidget(), nullptr);
    EXPECT_EQ(first->optionsWidget(), second.optionsWidget());
    first.reset();
    // The page outlives the first hand.
    EXPECT_NE(second.optionsWidget(), nullptr);
}

TEST(NavigationTools, TheZoomCursorFollowsAltAndTheLimits)
{
    ModelImage image(200, 150, 1);
    ZoomTool zoom;
    zoom.action()->trigger();
    QList<const QCursor*> cursors;
    QObject::connect(GmModel::instance(), &GmModel::cursorChanged, &zoom,
                     [&cursors](const QCursor* cursor) { cursors.append(cursor); });
    EXPECT_EQ(zoom.currentCursor(), zoom.zoomInCursor());

    QKeyEvent altDown(QEvent::KeyPress, Qt::Key_Alt, Qt::NoModifier);
    zoom.keyEvent(&altDown);
    EXPECT_EQ(zoom.currentCursor(), zoom.zoomOutCursor());
    ASSERT_EQ(cursors.count(), 1);
    EXPECT_EQ(cursors.at(0), zoom.zoomOutCursor());
    QKeyEvent altUp(QEvent::KeyRelease, Qt::Key_Alt, Qt::AltModifier);
    zoom.keyEvent(&altUp);
    EXPECT_EQ(zoom.currentCursor(), zoom.zoomInCursor());

    zoom.zoomInEnabledSlot(false);
    zoom.keyEvent(&altDown);
    zoom.keyEvent(&altUp);
    EXPECT_EQ(zoom.currentCursor(), zoom.unavailableCursor());
    zoom.zoomInEnabledSlot(true);
    EXPECT_EQ(zoom.currentCursor(), zoom.zoomInCursor());

    // Alt has no say once a rectangle is being dragged.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10), QPointF(10, 10), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, QPointF(20, 20), QPointF(20, 20), QPointF(20, 20), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QMouseEvent altMove(QEvent::MouseMove, QPointF(30, 30), QPointF(30, 30), QPointF(30, 30), Qt::NoButton,
                        Qt::LeftButton, Qt::AltModifier);
    zoom.trackButtons(&press);
    zoom.mousePressed(QPointF(10, 10), &press);
    zoom.trackButtons(&move);
    zoom.mouseMoved(QPointF(20, 20), &move);
    ASSERT_NE(GmModel::instance()->zoomRect(), nullptr);
    zoom.trackButtons(&altMove);
    zoom.mouseMoved(QPointF(30, 30), &altMove);
    EXPECT_EQ(zoom.currentCursor(), zoom.zoomInCursor());
    EXPECT_EQ(GmModel::instance()->zoomRect()->freeCorner(), QPointF(30, 30));

    // Escape during the drag drops the rectangle and the drag.
    zoom.escapeKeyPressed();
    EXPECT_EQ(GmModel::instance()->zoomRect(), nullptr);
    EXPECT_EQ(zoom.buttonState(), 0);
    EXPECT_EQ(GmTool::currentTool(), &zoom);
}

TEST(NavigationTools, LeavingTheZoomToolDropsItsRectangle)
{
    ModelImage image(200, 150, 1);
    NoTool none;
    ZoomTool zoom;
    zoom.action()->trigger();
    GmModel::instance()->beginZoomRect(QPointF(5, 5));
    none.action()->trigger();
    EXPECT_EQ(GmModel::instance()->zoomRect(), nullptr);
}

// --- wired to a shown view of a photograph -----------------------------------------------------

namespace {

class WiredNavigation : public ::testing::Test {
protected:
    void SetUp() override
    {
        qRegisterMetaType<GRectF>("GRectF");
        m_source = std::make_unique<KsSourceImage>(QString::fromUtf8(KESTRINE_TEST_DATA) + "/coffee.png");
        ASSERT_TRUE(m_source->isValid());
        GmModelTestAccess::setSource(m_source.get());
        m_view = std::make_unique<ImageView>();
        ASSERT_TRUE(testsupport::showWithViewport(*m_view, QSize(800, 600)));
        // Screen position (50, 50) is the viewport's top-left.
        const QPoint shift = QPoint(50, 50) - viewport()->mapToGlobal(QPoint(0, 0));
        m_view->move(m_view->pos() + shift);
        ASSERT_TRUE(testsupport::waitUntil([this] { return viewport()->mapToGlobal(QPoint(0, 0)) == QPoint(50, 50); },
                                           5000));

        m_window = std::make_unique<NavigatorWindow>(nullptr);
        m_window->setObjectName(QStringLiteral("navigatorWindow_"));
        m_window->navigator()->resize(200, 150);
        m_none = std::make_unique<NoTool>();
        m_pan = std::make_unique<PanTool>();
        m_zoom = std::make_unique<ZoomTool>();

        // As the main window wires them.
        GmModel* model = GmModel::instance();
        Navigator* navigator = m_window->navigator();
        QObject::connect(model, &GmModel::tellImageChanged, navigator, &Navigator::updateImage);
        QObject::connect(navigator, &Navigator::rectChanged, m_view.get(), &ImageView::moveImageViewportToSlot);
        QObject::connect(navigator, &Navigator::rectCenterChanged, m_view.get(), &ImageView::centreViewportOnSlot);
        QObject::connect(m_view.get(), &ImageView::sayViewportRectChanged, m_window.get(),
                         &NavigatorWindow::setRectSlot);
        QObject::connect(m_window.get(), &NavigatorWindow::requestZoomTo, m_view.get(), &ImageView::zoomToSlot);
        QObject::connect(m_pan.get(), &PanTool::tellPan, m_view.get(), &ImageView::panImageViewportSlot);
        QObject::connect(m_zoom.get(), &ZoomTool::zoomToRectSignal, m_view.get(),
                         &ImageView::minCheckedMoveImageViewportToSlot);
        QObject::connect(m_zoom.get(), &ZoomTool::actualPixelsSignal, m_view.get(), &ImageView::zoomTo100PercentSlot);
        QObject::connect(m_zoom.get(), &ZoomTool::fitScreenSignal, m_view.get(), &ImageView::fitImageOnScreenSlot);
        QObject::connect(m_zoom.get(), &ZoomTool::zoomInSignal, m_view.get(), &ImageView::zoomInSlot);
        QObject::connect(m_zoom.get(), &ZoomTool::zoomOutSignal, m_view.get(), &ImageView::zoomOutSlot);
        QObject::connect(m_window.get(), &NavigatorWindow::zoomInEnabled, m_zoom.get(), &ZoomTool::zoomInEnabledSlot);
        QObject::connect(m_window.get(), &NavigatorWindow::zoomOutEnabled, m_zoom.get(),
                         &ZoomTool::zoomOutEnabledSlot);

        emit model->tellImageChanged(m_source.get());
        zoomTo(1.0);
    }
    void TearDown() override
    {
        m_zoom.reset();
        m_pan.reset();
        m_none.reset();
        m_window.reset();
        m_view.reset();
        GmModelTestAccess::setSource(nullptr);
        GmModel::destroy();
        m_source.reset();
    }

    GmZoomWidget* canvas() const { return m_view->canvas(); }
    QWidget* viewport() const { return m_view->workspace()->viewport(); }
    QScrollBar* h() const { return m_view->workspace()->horizontalScrollBar(); }
    QScrollBar* v() const { return m_view->workspace()->verticalScrollBar(); }
    void zoomTo(double zoom)
    {
        m_view->zoomToSlot(zoom);
        testsupport::settle();
        ASSERT_DOUBLE_EQ(canvas()->zoom(), zoom);
    }
    // Where an image point lies in the canvas.
    QPoint onCanvas(QPointF imagePoint) const
    {
        const double z = canvas()->zoom();
        return QPoint(int(std::lround(imagePoint.x() * z)), int(std::lround(imagePoint.y() * z)))
               + canvas()->imageRect().topLeft();
    }
    void drag(QPointF from, QPointF to)
    {
        testsupport::mousePress(canvas(), onCanvas(from));
        testsupport::mouseMove(canvas(), onCanvas((from + to) / 2));
        testsupport::mouseMove(canvas(), onCanvas(to));
        testsupport::mouseRelease(canvas(), onCanvas(to));
        testsupport::settle();
    }

    std::unique_ptr<KsSourceImage> m_source;
    std::unique_ptr<ImageView> m_view;
    std::unique_ptr<NavigatorWindow> m_window;
    std::unique_ptr<NoTool> m_none;
    std::unique_ptr<PanTool> m_pan;
    std::unique_ptr<ZoomTool> m_zoom;
};

} // namespace

TEST_F(WiredNavigation, TheNavigatorSliderZoomsTheCanvas)
{
    m_window->zoomSlider()->slider()->setValue(25);
    testsupport::settle();
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 16.0);
    m_window->zoomSlider()->slider()->setValue(0);
    testsupport::settle();
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 1.0);
}

TEST_F(WiredNavigation, ANavigatorClickCentresTheViewThereAndTheBoxFollows)
{
    zoomTo(4.0);
    Navigator* navigator = m_window->navigator();
    const QRectF before = navigator->viewRect();
    ASSERT_FALSE(before.isEmpty());
    const double s = navigator->scale();
    const QPoint press = navigator->offset() + QPoint(int(450 * s), int(300 * s));
    send(navigator, QEvent::MouseButtonPress, press, Qt::LeftButton, Qt::LeftButton);
    send(navigator, QEvent::MouseButtonRelease, press, Qt::LeftButton, Qt::NoButton);
    testsupport::settle();

    const QPointF wanted((press.x() - navigator->offset().x()) / s, (press.y() - navigator->offset().y()) / s);
    const GRectF shown = m_view->workspace()->displayedImageRect();
    EXPECT_NEAR(shown.center().x(), std::lround(wanted.x()), 1.0);
    EXPECT_NEAR(shown.center().y(), std::lround(wanted.y()), 1.0);
    EXPECT_EQ(navigator->viewRect(), shown);
    EXPECT_NE(navigator->viewRect(), before);

    // Dragging the box moves the view with it.
    const QPoint inside = navigator->widgetRect(navigator->viewRect()).center();
    send(navigator, QEvent::MouseButtonPress, inside, Qt::LeftButton, Qt::LeftButton);
    send(navigator, QEvent::MouseMove, inside - QPoint(20, 10), Qt::NoButton, Qt::LeftButton);
    send(navigator, QEvent::MouseButtonRelease, inside - QPoint(20, 10), Qt::LeftButton, Qt::NoButton);
    testsupport::settle();
    const GRectF dragged = m_view->workspace()->displayedImageRect();
    EXPECT_NEAR(dragged.x(), shown.x() - 20 / s, 1.0);
    EXPECT_NEAR(dragged.y(), shown.y() - 10 / s, 1.0);
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 4.0);
}

TEST_F(WiredNavigation, AHandDragPansByThePointersMovementUnderTheGrabbingHand)
{
    zoomTo(2.0);
    h()->setValue(200);
    v()->setValue(150);
    m_pan->action()->trigger();
    EXPECT_EQ(canvas()->cursor(), *m_pan->openHandCursor());
    QSignalSpy pans(m_pan.get(), &PanTool::tellPan);

    sendAt(canvas(), QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(canvas()->cursor(), *m_pan->grabHandCursor());
    sendAt(canvas(), QEvent::MouseMove, QPoint(90, 95), Qt::NoButton, Qt::LeftButton);
    ASSERT_EQ(pans.count(), 1);
    EXPECT_EQ(pans.at(0).at(0).toPoint(), QPoint(10, 5));
    EXPECT_EQ(h()->value(), 210);
    EXPECT_EQ(v()->value(), 155);
    EXPECT_EQ(canvas()->cursor(), *m_pan->grabHandCursor());

    sendAt(canvas(), QEvent::MouseButtonRelease, QPoint(85, 95), Qt::LeftButton, Qt::NoButton);
    ASSERT_EQ(pans.count(), 2);
    EXPECT_EQ(pans.at(1).at(0).toPoint(), QPoint(5, 0));
    EXPECT_EQ(h()->value(), 215);
    EXPECT_EQ(v()->value(), 155);
    EXPECT_EQ(canvas()->cursor(), *m_pan->openHandCursor());
}

TEST_F(WiredNavigation, SpacePressedDuringADragPansFromThePointersPosition)
{
    zoomTo(2.0);
    h()->setValue(200);
    v()->setValue(150);
    RecordingTool keep(QStringLiteral("Keep Tool"), nullptr);
    keep.action()->trigger();
    testsupport::mousePress(canvas(), canvas()->mapFromGlobal(QPoint(300, 300)));
    QCursor::setPos(QPoint(320, 310));
    testsupport::settle();
    m_pan->action()->trigger();
    EXPECT_EQ(m_pan->underlyingTool(), &keep);
    QSignalSpy pans(m_pan.get(), &PanTool::tellPan);
    sendAt(canvas(), QEvent::MouseMove, QPoint(310, 300), Qt::NoButton, Qt::LeftButton);
    ASSERT_EQ(pans.count(), 1);
    EXPECT_EQ(pans.at(0).at(0).toPoint(), QPoint(10, 10));
    testsupport::mouseRelease(canvas(), canvas()->mapFromGlobal(QPoint(310, 300)));
}

TEST_F(WiredNavigation, AZoomDragFitsTheRectangleAndClicksZoomInOrWithAltOut)
{
    m_zoom->action()->trigger();
    QSignalSpy rects(m_zoom.get(), &ZoomTool::zoomToRectSignal);
    drag(QPointF(100, 100), QPointF(300, 200));
    ASSERT_EQ(rects.count(), 1);
    EXPECT_EQ(rects.at(0).at(0).toRectF(), QRectF(100, 100, 200, 100));
    EXPECT_EQ(GmModel::instance()->zoomRect(), nullptr);
    // 200 by 100 image pixels into 800 by 600: the width just fits.
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 4.0);
    const GRectF shown = m_view->workspace()->displayedImageRect();
    EXPECT_NEAR(shown.left(), 100.0, 0.5);
    EXPECT_NEAR(shown.right(), 300.0, 0.5);
    EXPECT_TRUE(shown.contains(QRectF(100.5, 100.5, 199, 99)));

    testsupport::mouseClick(canvas(), onCanvas(QPointF(200, 150)));
    testsupport::settle();
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 5.0);
    testsupport::mouseClick(canvas(), onCanvas(QPointF(200, 150)), Qt::LeftButton, Qt::AltModifier);
    testsupport::settle();
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 4.0);
    EXPECT_EQ(rects.count(), 1);
}

TEST_F(WiredNavigation, AtTheLargestZoomTheZoomToolShowsUnavailableAndAsksNothing)
{
    m_zoom->action()->trigger();
    zoomTo(16.0);
    EXPECT_FALSE(m_zoom->zoomInPossible());
    QSignalSpy ins(m_zoom.get(), &ZoomTool::zoomInSignal);
    QSignalSpy rects(m_zoom.get(), &ZoomTool::zoomToRectSignal);
    const QPoint spot = canvas()->mapFrom(viewport(), QPoint(400, 300));
    testsupport::mouseClick(canvas(), spot);
    testsupport::settle();
    EXPECT_EQ(m_zoom->currentCursor(), m_zoom->unavailableCursor());
    EXPECT_EQ(canvas()->cursor(), *m_zoom->unavailableCursor());
    EXPECT_EQ(ins.count(), 0);
    EXPECT_EQ(rects.count(), 0);
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 16.0);

    // Back below the limit the zoom-in cursor returns.
    m_view->zoomOutSlot();
    testsupport::settle();
    EXPECT_TRUE(m_zoom->zoomInPossible());
    EXPECT_EQ(m_zoom->currentCursor(), m_zoom->zoomInCursor());
}

TEST_F(WiredNavigation, AZeroWidthDragStillAsksANegativeOneDoesNot)
{
    m_zoom->action()->trigger();
    QSignalSpy rects(m_zoom.get(), &ZoomTool::zoomToRectSignal);
    drag(QPointF(100, 100), QPointF(100, 200));
    ASSERT_EQ(rects.count(), 1);
    EXPECT_EQ(rects.at(0).at(0).toRectF(), QRectF(100, 100, 0, 100));
    EXPECT_EQ(GmModel::instance()->zoomRect(), nullptr);
    // Under 5 widget pixels wide: the view counts it as a click.
    EXPECT_DOUBLE_EQ(canvas()->zoom(), 1.25);

    const double zoom = canvas()->zoom();
    drag(QPointF(300, 300), QPointF(200, 200));
    EXPECT_EQ(rects.count(), 1);
    EXPECT_EQ(GmModel::instance()->zoomRect(), nullptr);
    EXPECT_DOUBLE_EQ(canvas()->zoom(), zoom);
}
