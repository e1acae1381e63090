// The main window's screen modes, Tab panel hiding, stored layout and view slots, run through
// the program's own main in this process. Each case runs in its own process with fresh
// temporary and settings folders; the offscreen screen is 800 x 600.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "canvas/KsWorkspace.h"
#include "colour/ColourWorkspace.h"
#include "document/EDOs.h"
#include "document/GmModel.h"
#include "document/KsSourceImage.h"
#include "document/SegmentationStuff.h"
#include "panels/Browser.h"
#include "panels/GmSubWindow.h"
#include "panels/ImageBlendingWindow.h"
#include "panels/ImageEdgeFinder.h"
#include "panels/NavigatorWindow.h"
#include "panels/TipWindow.h"
#include "panels/ToolPalette.h"
#include "panels/ViewOptions.h"
#include "shell/BackgroundPicker.h"
#include "shell/FileHandler.h"
#include "shell/Identity.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindow.h"
#include "tools/NoTool.h"

#include "MainWindowRun.h"
#include "ProgramRun.h"
#include "RunLog.h"
#include "ScriptedPrompt.h"
#include "UrlCatcher.h"
#include "Wait.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QSignalMapper>
#include <QTemporaryDir>
#include <QToolBar>

#include <gtest/gtest.h>

#include <ostream>

using testsupport::chelseaPath;
using testsupport::closeSoon;
using testsupport::engineIdle;
using testsupport::mainWindow;
using testsupport::openPhoto;
using testsupport::runLogHas;
using testsupport::runMain;
using testsupport::ScriptedPrompt;
using testsupport::waitUntil;

inline void PrintTo(const QRect& r, std::ostream* out)
{
    *out << "(" << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height() << ")";
}

inline void PrintTo(const QPoint& p, std::ostream* out)
{
    *out << "(" << p.x() << ", " << p.y() << ")";
}

namespace {

QRect screenArea()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

int checkedScreenMode(const KsMainWindow* window)
{
    const QList<QAction*> modes = window->screenModeGroup()->actions();
    for (int i = 0; i < modes.size(); ++i)
        if (modes.at(i)->isChecked())
            return i;
    return -1;
}

QAction* actionNamed(const QWidget* widget, const QString& text)
{
    for (QAction* action : widget->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

void pressOn(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
}

// The panels the Tab key hides: their own visibility, and the palette and the tool bar.
struct Shown {
    bool toolBar;
    bool palette;
    bool anyPanel;
};

Shown shown(const KsMainWindow* window)
{
    bool anyPanel = false;
    for (const GmSubWindow* panel : window->subWindows())
        anyPanel = anyPanel || panel->isVisible();
    return {window->optionsToolBar()->isVisible(), window->toolPalette()->isVisible(), anyPanel};
}

// Runs the program without an image, the body once the window is up.
int runWindow(const std::function<void(KsMainWindow*)>& body)
{
    KsApp::setStartUpHook([body](QWidget* window) {
        body(static_cast<KsMainWindow*>(window));
        closeSoon(window);
    });
    return runMain({"kestrine3"});
}

class MainWindowLayoutTest : public ::testing::Test {
protected:
    void TearDown() override { KsApp::setStartUpHook(nullptr); }
};

} // namespace

TEST_F(MainWindowLayoutTest, TheFirstStartIsMaximisedStandardWithTheMainPanelsAndDefaultPlaces)
{
    // The program's own settings, also before its start has named them.
    QSettings(organizationName(), applicationName()).remove(QStringLiteral("PersistVersion"));
    bool ran = false;
    EXPECT_EQ(runWindow([&](KsMainWindow* window) {
                  ran = true;
                  EXPECT_TRUE(window->isVisible());
                  EXPECT_TRUE(window->isMaximized());
                  EXPECT_EQ(window->screenMode(), 0);
                  EXPECT_EQ(checkedScreenMode(window), 0);
                  EXPECT_TRUE(window->menuBar()->isVisible());
                  EXPECT_EQ(window->rememberedNormalGeometry(), QRect(80, 60, 640, 480));
                  for (GmSubWindow* panel :
                       {static_cast<GmSubWindow*>(window->navigatorWindow()), static_cast<GmSubWindow*>(window->edgeFinder()),
                        static_cast<GmSubWindow*>(window->blendingWindow()), static_cast<GmSubWindow*>(window->tipWindow())}) {
                      EXPECT_TRUE(panel->isUserVisible()) << qPrintable(panel->objectName());
                      EXPECT_FALSE(panel->isWindow()) << qPrintable(panel->objectName());
                      EXPECT_EQ(panel->parentWidget(), window->dockColumn()) << qPrintable(panel->objectName());
                  }
                  EXPECT_TRUE(window->dockColumn()->isVisible());
                  EXPECT_FALSE(window->toolPalette()->isFloating());
                  EXPECT_EQ(window->dockWidgetArea(window->toolPalette()), Qt::LeftDockWidgetArea);

                  // The default places come with the zero-delay timer.
                  ASSERT_TRUE(waitUntil([window] { return window->toolPalette()->state().position != QPoint(-1, -1); }));
                  // The top line sits 12 pixels below the tool bar as it was then.
                  const int topLine = window->toolPalette()->state().position.y();
                  EXPECT_GE(topLine, screenArea().top() + 12);
                  EXPECT_EQ(window->toolPalette()->state().position.x(), screenArea().left() + 8);
                  int columnWidth = 0;
                  for (GmSubWindow* panel :
                       {static_cast<GmSubWindow*>(window->navigatorWindow()), static_cast<GmSubWindow*>(window->edgeFinder()),
                        static_cast<GmSubWindow*>(window->blendingWindow()), static_cast<GmSubWindow*>(window->tipWindow())})
                      columnWidth = std::max(columnWidth, panel->sizeHint().width());
                  EXPECT_EQ(window->navigatorWindow()->defaultPosition(),
                            QPoint(screenArea().right() - 26 - columnWidth, topLine));
                  EXPECT_EQ(window->navigatorWindow()->defaultSize().width(), columnWidth);
                  // Each panel's place starts below the one before it, or in a column further left.
                  const QPoint edge = window->edgeFinder()->defaultPosition();
                  EXPECT_TRUE(edge.y() > topLine || edge.x() < window->navigatorWindow()->defaultPosition().x());
                  // The colour workspace beside the palette, at the top line.
                  EXPECT_EQ(window->colourWorkspace()->defaultPosition().y(), topLine);
                  EXPECT_GT(window->colourWorkspace()->defaultPosition().x(), screenArea().left() + 8);
              }),
              0);
    EXPECT_TRUE(ran);
}

TEST_F(MainWindowLayoutTest, TheFKeyCyclesTheThreeScreenModes)
{
    EXPECT_EQ(runWindow([](KsMainWindow* window) {
                  QAction* toggle = actionNamed(window, QStringLiteral("Toggle Screen Mode"));
                  ASSERT_NE(toggle, nullptr);
                  EXPECT_EQ(toggle->shortcut(), QKeySequence(QStringLiteral("F")));
                  // The place the window takes out of the maximised state, on the screen.
                  const QRect normal = window->normalGeometry();

                  toggle->trigger();
                  EXPECT_EQ(window->screenMode(), 1);
                  EXPECT_EQ(checkedScreenMode(window), 1);
                  EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
                  EXPECT_FALSE(window->isMaximized());
                  EXPECT_FALSE(window->isFullScreen());
                  EXPECT_TRUE(window->menuBar()->isVisible());
                  // The whole available area, from its corner (the window may not shrink below its
                  // minimum size).
                  EXPECT_EQ(window->geometry().topLeft(), screenArea().topLeft());
                  // The palette and the docked panels float.
                  EXPECT_TRUE(window->toolPalette()->isFloating());
                  EXPECT_TRUE(window->navigatorWindow()->isWindow());
                  EXPECT_TRUE(window->isVisible());

                  toggle->trigger();
                  EXPECT_EQ(window->screenMode(), 2);
                  EXPECT_EQ(checkedScreenMode(window), 2);
                  EXPECT_TRUE(window->isFullScreen());
                  EXPECT_FALSE(window->menuBar()->isVisible());
                  EXPECT_FALSE(window->windowFlags() & Qt::FramelessWindowHint);
                  // The way back is in the tip window.
                  EXPECT_TRUE(window->tipWindow()->browser()->toPlainText().contains(QStringLiteral("Full Screen Mode")));

                  toggle->trigger();
                  EXPECT_EQ(window->screenMode(), 0);
                  EXPECT_EQ(checkedScreenMode(window), 0);
                  EXPECT_FALSE(window->isFullScreen());
                  EXPECT_TRUE(window->isMaximized());
                  EXPECT_TRUE(window->menuBar()->isVisible());
                  EXPECT_EQ(window->rememberedNormalGeometry().topLeft(), normal.topLeft());
                  EXPECT_FALSE(window->toolPalette()->isFloating());
                  EXPECT_FALSE(window->navigatorWindow()->isWindow());
                  EXPECT_TRUE(window->navigatorWindow()->isVisible());

                  // The menu's entries choose a mode directly.
                  window->screenModeGroup()->actions().at(2)->trigger();
                  EXPECT_EQ(window->screenMode(), 2);
                  window->screenModeGroup()->actions().at(0)->trigger();
                  EXPECT_EQ(window->screenMode(), 0);
              }),
              0);
}

TEST_F(MainWindowLayoutTest, TabAndShiftTabHideThePanelsAndTheSameKeyShowsThemAgain)
{
    EXPECT_EQ(runWindow([](KsMainWindow* window) {
                  QWidget* canvas = window->imageView()->canvas();
                  ASSERT_TRUE(shown(window).anyPanel && shown(window).palette && shown(window).toolBar);

                  pressOn(canvas, Qt::Key_Tab);
                  EXPECT_EQ(window->tabHideState(), 1);
                  EXPECT_FALSE(shown(window).toolBar);
                  EXPECT_FALSE(shown(window).palette);
                  EXPECT_FALSE(shown(window).anyPanel);
                  pressOn(canvas, Qt::Key_Tab);
                  EXPECT_EQ(window->tabHideState(), 0);
                  EXPECT_TRUE(shown(window).toolBar && shown(window).palette && shown(window).anyPanel);

                  // Tab, then Shift+Tab: the tool bar and the palette come back, the panels stay away.
                  pressOn(window->imageView(), Qt::Key_Tab);
                  pressOn(window->imageView()->workspace(), Qt::Key_Backtab, Qt::ShiftModifier);
                  EXPECT_EQ(window->tabHideState(), 2);
                  EXPECT_TRUE(shown(window).toolBar);
                  EXPECT_TRUE(shown(window).palette);
                  EXPECT_FALSE(shown(window).anyPanel);
                  pressOn(canvas, Qt::Key_Tab);
                  EXPECT_EQ(window->tabHideState(), 1);
                  pressOn(canvas, Qt::Key_Tab);
                  EXPECT_EQ(window->tabHideState(), 0);

                  pressOn(canvas, Qt::Key_Backtab, Qt::ShiftModifier);
                  EXPECT_EQ(window->tabHideState(), 2);
                  EXPECT_FALSE(shown(window).anyPanel);
                  pressOn(canvas, Qt::Key_Backtab, Qt::ShiftModifier);
                  EXPECT_EQ(window->tabHideState(), 0);
                  EXPECT_TRUE(shown(window).toolBar && shown(window).palette && shown(window).anyPanel);

                  // A panel the user had closed stays closed when the panels come back.
                  window->blendingWindow()->closeViewSlot();
                  pressOn(canvas, Qt::Key_Tab);
                  pressOn(canvas, Qt::Key_Tab);
                  EXPECT_FALSE(window->blendingWindow()->isVisible());
                  EXPECT_TRUE(window->navigatorWindow()->isVisible());
              }),
              0);
}

TEST_F(MainWindowLayoutTest, CloseAndReopenRestoreTheModeTheGeometryAndThePanels)
{
    QByteArray navigatorBlob;
    QRect normal;
    EXPECT_EQ(runWindow([&](KsMainWindow* window) {
                  window->setScreenModeNormalSlot();
                  window->showNormal();
                  window->setGeometry(QRect(50, 40, 500, 400));
                  // As large as the window's minimum size allows on the small test screen.
                  normal = window->normalGeometry();
                  EXPECT_EQ(normal.topLeft(), QPoint(50, 40));
                  window->edgeFinder()->closeViewSlot();
                  // Tab has hidden the tool bar and the palette: the stored layout has them shown.
                  pressOn(window->imageView(), Qt::Key_Tab);
                  window->setScreenModeFullWithMenuSlot();
              }),
              0);
    QSettings settings(organizationName(), applicationName());
    EXPECT_EQ(settings.value(QStringLiteral("PersistVersion")).toInt(), 2);
    EXPECT_EQ(settings.value(QStringLiteral("UI/ScreenMode")).toInt(), 1);
    EXPECT_FALSE(settings.value(QStringLiteral("UI/Maximized")).toBool());
    // Saved in Full Screen with Menu: the geometry Standard mode last had.
    EXPECT_EQ(settings.value(QStringLiteral("UI/NormalGeometry")).toRect(), normal);
    navigatorBlob = settings.value(QStringLiteral("UI/SubWindows/navigatorWindow_")).toByteArray();
    ASSERT_GE(navigatorBlob.size(), 1);
    EXPECT_EQ(navigatorBlob.at(0), 1);
    EXPECT_EQ(settings.value(QStringLiteral("UI/SubWindows/DockWidget: Edge Finding")).toByteArray().left(1),
              QByteArray(1, '\0'));
    for (const char* key : {"UI/Geometry", "UI/ChildState", "UI/SubWindows/DockWidget: Tools",
                            "UI/SubWindows/tipWindow_", "UI/SubWindows/DockWidget: Edge Blending"})
        EXPECT_FALSE(settings.value(QLatin1String(key)).toByteArray().isEmpty()) << key;

    EXPECT_EQ(runWindow([&](KsMainWindow* window) {
                  EXPECT_EQ(window->screenMode(), 1);
                  EXPECT_EQ(checkedScreenMode(window), 1);
                  EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
                  EXPECT_FALSE(window->rememberedMaximized());
                  EXPECT_EQ(window->rememberedNormalGeometry(), normal);
                  EXPECT_TRUE(window->optionsToolBar()->isVisible());
                  EXPECT_TRUE(window->toolPalette()->isVisible());
                  EXPECT_TRUE(window->navigatorWindow()->isUserVisible());
                  EXPECT_TRUE(window->navigatorWindow()->isWindow());
                  EXPECT_FALSE(window->edgeFinder()->isUserVisible());
                  EXPECT_FALSE(window->edgeFinder()->isVisible());

                  // Back in Standard mode: the stored window, not maximised.
                  window->setScreenModeNormalSlot();
                  EXPECT_FALSE(window->isMaximized());
                  EXPECT_EQ(window->rememberedNormalGeometry(), normal);
                  EXPECT_FALSE(window->navigatorWindow()->isWindow());
              }),
              0);
}

TEST_F(MainWindowLayoutTest, ALayoutOfAnotherVersionGivesTheDefaultLayout)
{
    {
        QSettings settings(organizationName(), applicationName());
        settings.setValue(QStringLiteral("PersistVersion"), 1);
        settings.setValue(QStringLiteral("UI/ScreenMode"), 2);
        settings.setValue(QStringLiteral("UI/Maximized"), false);
        settings.setValue(QStringLiteral("UI/NormalGeometry"), QRect(10, 10, 300, 200));
        settings.setValue(QStringLiteral("UI/SubWindows/navigatorWindow_"), QByteArray(1, '\0'));
    }
    EXPECT_EQ(runWindow([](KsMainWindow* window) {
                  EXPECT_EQ(window->screenMode(), 0);
                  EXPECT_TRUE(window->isMaximized());
                  EXPECT_EQ(window->rememberedNormalGeometry(), QRect(80, 60, 640, 480));
                  EXPECT_TRUE(window->navigatorWindow()->isUserVisible());
                  EXPECT_TRUE(window->menuBar()->isVisible());
              }),
              0);
}

TEST_F(MainWindowLayoutTest, AStoredGeometryIsKeptInsideTheScreen)
{
    for (const auto& [stored, expected] : {std::pair<QRect, QRect>{QRect(700, -50, 1000, 900), QRect(0, 0, 800, 600)},
                                           std::pair<QRect, QRect>{QRect(700, 500, 200, 200), QRect(600, 400, 200, 200)}}) {
        {
            QSettings settings(organizationName(), applicationName());
            settings.clear();
            settings.setValue(QStringLiteral("PersistVersion"), 2);
            settings.setValue(QStringLiteral("UI/ScreenMode"), 0);
            settings.setValue(QStringLiteral("UI/Maximized"), false);
            settings.setValue(QStringLiteral("UI/NormalGeometry"), stored);
        }
        // The exact arithmetic is the layout rules' own test; here the window, which may not
        // shrink below its minimum size on the small test screen, comes back onto the screen.
        QRect frame;
        QRect area;
        EXPECT_EQ(runWindow([&](KsMainWindow* window) {
                      EXPECT_EQ(window->rememberedNormalGeometry(), stored);
                      frame = window->frameGeometry();
                      area = screenArea();
                  }),
                  0);
        EXPECT_TRUE(area.adjusted(-2, -2, 0, 0).contains(frame.topLeft())) << qPrintable(QStringLiteral("%1,%2").arg(frame.x()).arg(frame.y()));
        EXPECT_LE(frame.left(), expected.left());
    }
}

TEST_F(MainWindowLayoutTest, TheRecentMenusHoldOneEntryPerPathThatOpensIt)
{
    EXPECT_EQ(runWindow([](KsMainWindow* window) {
                  QMenu* files = window->recentFilesMenu();
                  QMenu* projects = window->recentProjectsMenu();
                  ASSERT_NE(files, nullptr);
                  ASSERT_NE(projects, nullptr);
                  EXPECT_FALSE(files->isEnabled());
                  EXPECT_TRUE(files->actions().isEmpty());
                  EXPECT_FALSE(projects->isEnabled());

                  const QString other = QStringLiteral(KESTRINE_TEST_DATA "/coffee.png");
                  emit window->fileHandler()->recentFilesChanged({chelseaPath, other});
                  ASSERT_EQ(files->actions().size(), 2);
                  EXPECT_TRUE(files->isEnabled());
                  EXPECT_EQ(files->actions().at(0)->text(), chelseaPath);
                  EXPECT_EQ(files->actions().at(1)->text(), other);
                  // Rebuilt, not appended to.
                  emit window->fileHandler()->recentFilesChanged({other});
                  ASSERT_EQ(files->actions().size(), 1);
                  emit window->fileHandler()->recentFilesChanged({});
                  EXPECT_FALSE(files->isEnabled());
                  EXPECT_TRUE(files->actions().isEmpty());

                  emit window->fileHandler()->recentProjectsChanged({QStringLiteral("/nowhere/a.okrp")});
                  EXPECT_TRUE(projects->isEnabled());
                  ASSERT_EQ(projects->actions().size(), 1);

                  // The entry reaches the file handler, which opens the image.
                  emit window->fileHandler()->recentFilesChanged({chelseaPath});
                  files->actions().at(0)->trigger();
                  EXPECT_TRUE(waitUntil([] {
                      const KsSourceImage* source = GmModel::instance()->source();
                      return source && source->fileName() == chelseaPath;
                  }));
                  EXPECT_TRUE(engineIdle());
              }),
              0);
}

TEST_F(MainWindowLayoutTest, HelpIsLoggedOnlyTheFirstTimeAndTutorialsOpenTheirPage)
{
    testsupport::UrlCatcher catcher;
    EXPECT_EQ(runWindow([&](KsMainWindow* window) {
                  const QString address = KsApp::helpUrl() + QStringLiteral("/About_Kestrine.htm");
                  QAction* help = actionNamed(window, QStringLiteral("Kestrine 3 &Help"));
                  ASSERT_NE(help, nullptr);
                  help->trigger();
                  EXPECT_TRUE(runLogHas(QStringLiteral("Help is at hand: ") + address));
                  window->helpSlot();
                  int logged = 0;
                  for (const QString& line : testsupport::runLogLines())
                      logged += line.contains(QStringLiteral("Help is at hand: ")) ? 1 : 0;
                  EXPECT_EQ(logged, 1);
                  ASSERT_EQ(catcher.urls().size(), 2);
                  EXPECT_EQ(catcher.urls().at(0), QUrl(address));
                  EXPECT_EQ(catcher.urls().at(1), QUrl(address));

                  catcher.clear();
                  QAction* tutorials = actionNamed(window, QStringLiteral("&Tutorials"));
                  ASSERT_NE(tutorials, nullptr);
                  tutorials->trigger();
                  ASSERT_EQ(catcher.urls().size(), 1);
                  EXPECT_EQ(catcher.urls().at(0), QUrl(KsApp::tutorialsUrl()));
              }),
              0);
}

TEST_F(MainWindowLayoutTest, TheCanvasBackgroundIsThePickersPrimaryBrush)
{
    EXPECT_EQ(runWindow([](KsMainWindow* window) {
                  ASSERT_NE(window->backgroundPicker(), nullptr);
                  EXPECT_EQ(window->backgroundBrush(), window->backgroundPicker()->primaryBrush());
                  EXPECT_EQ(GmZoomWidget::backgroundBrush(), window->backgroundPicker()->primaryBrush());
                  EXPECT_NE(window->backgroundPicker()->primaryBrush(), window->backgroundPicker()->brush(1));
              }),
              0);
    // With the window gone the canvas falls back to white.
    EXPECT_EQ(GmZoomWidget::backgroundBrush(), QBrush(Qt::white));
}

TEST_F(MainWindowLayoutTest, ShowEdgesFollowsTheEdgeFindingSensitivity)
{
    EXPECT_EQ(runWindow([](KsMainWindow* window) {
                  ASSERT_TRUE(openPhoto());
                  SegmentationStuff* record = window->edgeFinder()->segmentation();
                  ASSERT_NE(record, nullptr);
                  ASSERT_EQ(EDOs::edgeScaleFactor, 1.0f);
                  const auto offered = [window] {
                      return !window->viewOptions()->showEdgesBox()->testAttribute(Qt::WA_ForceDisabled);
                  };
                  record->edos().sensitivity().setCurrent(99);
                  window->updateShowEdgesSlot();
                  EXPECT_TRUE(offered());
                  record->edos().sensitivity().setCurrent(100);
                  window->updateShowEdgesSlot();
                  EXPECT_FALSE(offered());
                  record->edos().sensitivity().setCurrent(50);
                  window->updateShowEdgesSlot();
                  EXPECT_TRUE(offered());
              }),
              0);
}

TEST_F(MainWindowLayoutTest, TheResolutionMenuAndComboBoxFollowEachOther)
{
    EXPECT_EQ(runWindow([](KsMainWindow* window) {
                  QComboBox* combo = window->viewOptions()->resolutionSelector();
                  QActionGroup* group = window->resolutionGroup();
                  ASSERT_NE(group, nullptr);
                  ASSERT_GE(combo->count(), 2);
                  ASSERT_EQ(group->actions().size(), combo->count());
                  const int other = combo->currentIndex() == 0 ? 1 : 0;

                  combo->setCurrentIndex(other);
                  EXPECT_TRUE(group->actions().at(other)->isChecked());
                  window->syncResolutionMenuSlot(combo->count() - 1);
                  EXPECT_TRUE(group->actions().at(combo->count() - 1)->isChecked());

                  group->actions().at(0)->trigger();
                  EXPECT_EQ(combo->currentIndex(), 0);
                  EXPECT_TRUE(group->actions().at(0)->isChecked());
                  // Matched by the exact text.
                  QAction stranger(combo->itemText(1).toUpper() + QStringLiteral("x"));
                  window->syncResolutionComboSlot(&stranger);
                  EXPECT_EQ(combo->currentIndex(), 0);
                  QAction same(combo->itemText(1));
                  window->syncResolutionComboSlot(&same);
                  EXPECT_EQ(combo->currentIndex(), 1);
              }),
              0);
}

TEST_F(MainWindowLayoutTest, ARefusedResolutionLeavesTheMenuAndComboBoxAtTheResolutionInForce)
{
    ScriptedPrompt prompt;
    QString inForce;
    QStringList afterMenu;
    QStringList afterCombo;
    EXPECT_EQ(runWindow([&](KsMainWindow* window) {
                  ASSERT_TRUE(openPhoto());
                  // The window goes at the end without asking about the stroke.
                  window->setPromptOnDiscard(false);
                  testsupport::keepStroke();
                  QComboBox* combo = window->viewOptions()->resolutionSelector();
                  QActionGroup* group = window->resolutionGroup();
                  ASSERT_NE(group, nullptr);
                  inForce = QStringLiteral("1:%1").arg(GmModel::instance()->resolution());
                  const auto shown = [&] {
                      const QAction* checked = group->checkedAction();
                      return QStringList{checked ? checked->text() : QString(), combo->currentText()};
                  };
                  ASSERT_EQ(shown(), (QStringList{inForce, inForce}));

                  prompt.answer(QMessageBox::No);
                  for (QAction* entry : group->actions())
                      if (entry->text() == QStringLiteral("1:4"))
                          entry->trigger();
                  afterMenu = shown();

                  prompt.answer(QMessageBox::No);
                  combo->setCurrentIndex(combo->findText(QStringLiteral("1:2")));
                  afterCombo = shown();
              }),
              0);
    ASSERT_EQ(prompt.messages().size(), 2);
    EXPECT_EQ(prompt.messages().at(0).title, QStringLiteral("Confirm change of resolution"));
    EXPECT_EQ(prompt.messages().at(1).title, QStringLiteral("Confirm change of resolution"));
    EXPECT_EQ(inForce, QStringLiteral("1:1"));
    EXPECT_EQ(afterMenu, (QStringList{inForce, inForce}));
    EXPECT_EQ(afterCombo, (QStringList{inForce, inForce}));
}

TEST_F(MainWindowLayoutTest, TheResolutionChosenForALargePhotoShowsInTheMenuAndComboBox)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString large = folder.filePath(QStringLiteral("large.png"));
    QImage photo(3000, 2000, QImage::Format_RGB32);
    photo.fill(Qt::gray);
    ASSERT_TRUE(photo.save(large));
    QStringList shown;
    EXPECT_EQ(runWindow([&](KsMainWindow* window) {
                  ASSERT_TRUE(GmModel::instance()->setImage(1, 1, new KsSourceImage(large), nullptr));
                  ASSERT_TRUE(engineIdle());
                  const QAction* checked = window->resolutionGroup()->checkedAction();
                  shown << QStringLiteral("1:%1").arg(GmModel::instance()->resolution())
                        << (checked ? checked->text() : QString())
                        << window->viewOptions()->resolutionSelector()->currentText();
              }),
              0);
    EXPECT_EQ(shown, (QStringList{"1:2", "1:2", "1:2"}));
}

TEST_F(MainWindowLayoutTest, TheWelcomeTipNamesTheProductAndImagesOpenThroughTheHandler)
{
    EXPECT_EQ(runWindow([](KsMainWindow* window) {
                  window->loadImage(chelseaPath);
                  ASSERT_TRUE(waitUntil([] { return GmModel::instance()->source() != nullptr; }));
                  EXPECT_EQ(GmModel::instance()->source()->fileName(), chelseaPath);
                  EXPECT_TRUE(engineIdle());
                  window->imageChangedSlot(GmModel::instance()->source());
                  const QString tip = window->tipWindow()->browser()->toPlainText();
                  EXPECT_TRUE(tip.contains(QStringLiteral("Welcome to Kestrine 3")));
                  EXPECT_TRUE(tip.contains(QStringLiteral("the #1 rated masking and cut-out tool")));
              }),
              0);
}
