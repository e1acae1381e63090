// The workspace the main window builds around the image: its panels with their keys, names and
// places, the Options tool bar, the tools in the menus, the tool palette, and how the tools
// meet the keys, the analysis and new patches on a real photograph.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "colour/ColourWorkspace.h"
#include "document/GmAction.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/KsSourceImage.h"
#include "document/RectRegion.h"
#include "panels/FakeDock.h"
#include "panels/GmSubWindow.h"
#include "panels/ImageBlendingWindow.h"
#include "panels/ImageEdgeFinder.h"
#include "panels/NavigatorWindow.h"
#include "panels/RegionalProperties.h"
#include "panels/TipWindow.h"
#include "panels/ToolPalette.h"
#include "panels/ToolPaletteButton.h"
#include "shell/BackgroundPicker.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindow.h"
#include "tools/BrushingTool.h"
#include "tools/GmTool.h"
#include "tools/NoTool.h"
#include "tools/RegionRectTool.h"
#include "tools/ZoomTool.h"

#include "MainWindowRun.h"
#include "ProgramRun.h"
#include "ScratchFiles.h"
#include "Wait.h"
#include "WidgetInput.h"

#include <QAbstractButton>
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

using testsupport::closeSoon;
using testsupport::engineIdle;
using testsupport::mainWindow;
using testsupport::openPhoto;
using testsupport::runMain;
using testsupport::waitUntil;

namespace {

void pressKey(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(mainWindow(), Qt::Key(key), modifiers);
}

void sendKey(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool autoRepeat = false)
{
    QKeyEvent event(type, key, modifiers, QString(), autoRepeat);
    QApplication::sendEvent(mainWindow(), &event);
}

QMenu* menu(const QString& title)
{
    for (QAction* entry : mainWindow()->menuBar()->actions())
        if (entry->menu() && entry->text() == title)
            return entry->menu();
    return nullptr;
}

bool inAnyMenu(const QAction* action)
{
    for (QAction* entry : mainWindow()->menuBar()->actions())
        if (entry->menu() && entry->menu()->actions().contains(const_cast<QAction*>(action)))
            return true;
    return false;
}

// The palette's cells row by row: a button's action text, "picker", "row" for the screen-mode
// row, "---" for a separator.
QStringList paletteCells(const ToolPalette* palette)
{
    QGridLayout* grid = palette->grid();
    QStringList cells;
    for (int row = 0; row < grid->rowCount(); ++row) {
        for (int column = 0; column < grid->columnCount(); ++column) {
            QLayoutItem* item = grid->itemAtPosition(row, column);
            if (!item || !item->widget())
                continue;
            int r = 0, c = 0, rowSpan = 0, columnSpan = 0;
            grid->getItemPosition(grid->indexOf(item->widget()), &r, &c, &rowSpan, &columnSpan);
            if (r != row || c != column)
                continue;
            QWidget* widget = item->widget();
            if (auto* button = qobject_cast<QToolButton*>(widget))
                cells << (button->defaultAction() ? button->defaultAction()->text() : QStringLiteral("?"));
            else if (widget == mainWindow()->backgroundPicker())
                cells << QStringLiteral("picker");
            else if (widget->findChild<QAbstractButton*>())
                cells << QStringLiteral("row");
            else
                cells << QStringLiteral("---");
        }
    }
    return cells;
}

ToolPaletteButton* paletteButtonFor(const QAction* action)
{
    for (ToolPaletteButton* button : mainWindow()->toolPalette()->findChildren<ToolPaletteButton*>())
        if (button->defaultAction() == action)
            return button;
    return nullptr;
}

// Presses a panel's key twice: "<title> <the first press toggled it> <the second put it back>".
QString toggledTwice(int key, const QWidget* panel)
{
    const bool before = panel->isVisible();
    pressKey(key & ~Qt::KeyboardModifierMask, Qt::KeyboardModifiers(key & Qt::KeyboardModifierMask));
    const bool after = panel->isVisible();
    pressKey(key & ~Qt::KeyboardModifierMask, Qt::KeyboardModifiers(key & Qt::KeyboardModifierMask));
    return QStringLiteral("%1 %2 %3").arg(panel->windowTitle()).arg(after != before).arg(panel->isVisible() == before);
}

class MainWindowWorkspaceTest : public ::testing::Test {
protected:
    void TearDown() override { KsApp::setStartUpHook(nullptr); }
};

} // namespace

TEST_F(MainWindowWorkspaceTest, ThePanelKeysToggleTheirPanelsAndTheToolBarKeepsToTopAndBottom)
{
    QStringList toggles;
    QStringList names;
    bool floatingAsMade = false;
    bool dockHomes = false;
    bool paletteToggled = false;
    Qt::ToolBarAreas areas;
    bool separatorBeforeToolBar = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        KsMainWindow* main = mainWindow();
        ASSERT_TRUE(testsupport::showForInput(main));
        ASSERT_TRUE(openPhoto());
        const std::pair<int, GmSubWindow*> keys[] = {
            {Qt::Key_F6, main->navigatorWindow()}, {Qt::Key_F7, main->edgeFinder()},
            {Qt::Key_F8, main->blendingWindow()},  {Qt::Key_F9, main->patchProperties()},
            {Qt::Key_C, main->colourWorkspace()},  {Qt::Key_T | Qt::CTRL, main->tipWindow()}};
        for (const auto& [key, panel] : keys) {
            ASSERT_NE(panel, nullptr);
            toggles << toggledTwice(key, panel);
        }
        ToolPalette* palette = main->toolPalette();
        const bool shown = palette->isVisible();
        pressKey(Qt::Key_F5);
        const bool once = palette->isVisible();
        pressKey(Qt::Key_F5);
        paletteToggled = once != shown && palette->isVisible() == shown;

        names << main->tipWindow()->objectName() << main->navigatorWindow()->objectName()
              << main->optionsToolBar()->objectName();
        floatingAsMade = main->colourWorkspace()->isWindow() && main->patchProperties()->isWindow();
        dockHomes = main->navigatorWindow()->dock() == main->dockColumn()
                    && main->edgeFinder()->dock() == main->dockColumn()
                    && main->blendingWindow()->dock() == main->dockColumn()
                    && main->tipWindow()->dock() == main->dockColumn() && !main->colourWorkspace()->dock()
                    && !main->patchProperties()->dock();
        QStringList order;
        for (GmSubWindow* panel : main->subWindows())
            order << panel->windowTitle();
        names << order.join(QLatin1Char(','));
        areas = main->optionsToolBar()->allowedAreas();
        const QList<QAction*> entries = menu(QStringLiteral("&Window"))->actions();
        const int at = entries.indexOf(main->optionsToolBar()->toggleViewAction());
        separatorBeforeToolBar = at > 0 && entries.at(at - 1)->isSeparator();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(toggles, (QStringList{"Navigator 1 1", "Edge Finding 1 1", "Edge Blending 1 1", "Patch Properties 1 1",
                                    "Color Workspace 1 1", "Tip 1 1"}));
    EXPECT_TRUE(paletteToggled);
    EXPECT_EQ(names, (QStringList{"tipWindow_", "navigatorWindow_", "ToolBar-Options",
                                  "Color Workspace,Patch Properties,Navigator,Edge Finding,Edge Blending,Tip"}));
    EXPECT_TRUE(floatingAsMade);
    EXPECT_TRUE(dockHomes);
    EXPECT_EQ(areas, Qt::TopToolBarArea | Qt::BottomToolBarArea);
    EXPECT_TRUE(separatorBeforeToolBar);
}

TEST_F(MainWindowWorkspaceTest, InFullScreenModeThePanelKeysStillToggleThePanels)
{
    bool menuBarHidden = false;
    QStringList toggles;
    KsApp::setStartUpHook([&](QWidget* window) {
        KsMainWindow* main = mainWindow();
        ASSERT_TRUE(testsupport::showForInput(main));
        ASSERT_TRUE(openPhoto());
        main->setScreenModeFullSlot();
        menuBarHidden = !main->menuBar()->isVisible();
        ASSERT_TRUE(testsupport::showForInput(main));
        const std::pair<int, QWidget*> keys[] = {
            {Qt::Key_F7, main->edgeFinder()},         {Qt::Key_F5, main->toolPalette()},
            {Qt::Key_F6, main->navigatorWindow()},    {Qt::Key_F8, main->blendingWindow()},
            {Qt::Key_F9, main->patchProperties()},    {Qt::Key_C, main->colourWorkspace()},
            {Qt::Key_T | Qt::CTRL, main->tipWindow()}};
        for (const auto& [key, panel] : keys) {
            ASSERT_NE(panel, nullptr);
            toggles << toggledTwice(key, panel);
        }
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(menuBarHidden);
    EXPECT_EQ(toggles, (QStringList{"Edge Finding 1 1", "Tools 1 1", "Navigator 1 1", "Edge Blending 1 1",
                                    "Patch Properties 1 1", "Color Workspace 1 1", "Tip 1 1"}));
}

TEST_F(MainWindowWorkspaceTest, TheBrushSizeKeysWorkWithThePlaceholderAndDeleteForcedEdgeIsOnTheWindowOnly)
{
    int before = 0, larger = 0, back = 0;
    bool placeholderCurrent = false;
    bool forcedEdgeOnWindowOnly = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        ASSERT_TRUE(testsupport::showForInput(mainWindow()));
        placeholderCurrent = GmTool::currentTool() == mainWindow()->fallbackTool();
        before = BrushingTool::brushSize();
        pressKey(Qt::Key_BracketRight);
        larger = BrushingTool::brushSize();
        pressKey(Qt::Key_BracketLeft);
        back = BrushingTool::brushSize();
        const QAction* deleteEdge = GmModel::instance()->deleteForcedEdgeAction();
        forcedEdgeOnWindowOnly = window->actions().contains(const_cast<QAction*>(deleteEdge)) && !inAnyMenu(deleteEdge);
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(placeholderCurrent);
    EXPECT_GT(larger, before);
    EXPECT_EQ(back, before);
    EXPECT_TRUE(forcedEdgeOnWindowOnly);
}

TEST_F(MainWindowWorkspaceTest, ThePaletteHoldsTheToolsInOrderWithTheirDoubleClicksAndMirrors)
{
    QStringList cells;
    QStringList header;
    int fits = 0, actualPixels = 0;
    bool mirrorsToggle = false;
    bool paletteOpensPanel = false;
    QStringList modeButtons;
    KsApp::setStartUpHook([&](QWidget* window) {
        KsMainWindow* main = mainWindow();
        ASSERT_TRUE(testsupport::showForInput(main));
        ASSERT_TRUE(openPhoto());
        cells = paletteCells(main->toolPalette());
        if (ToolPaletteButton* logo = main->toolPalette()->headerButton())
            header << logo->toolTip() << main->toolPalette()->headerLink()
                   << QStringLiteral("%1x%2").arg(logo->iconSize().width()).arg(logo->iconSize().height());

        QAction* fit = nullptr;
        QAction* actual = nullptr;
        for (QAction* action : main->findChildren<QAction*>()) {
            if (action->text() == QStringLiteral("&Fit on Screen"))
                fit = action;
            if (action->text() == QStringLiteral("Actual Pixels"))
                actual = action;
        }
        ASSERT_TRUE(fit && actual);
        QSignalSpy fitSpy(fit, &QAction::triggered);
        QSignalSpy actualSpy(actual, &QAction::triggered);
        ToolPaletteButton* hand = paletteButtonFor(main->panTool()->action());
        ToolPaletteButton* zoom = paletteButtonFor(main->zoomTool()->action());
        ASSERT_TRUE(hand && zoom);
        QTest::mouseClick(hand, Qt::LeftButton);
        QTest::mouseClick(hand, Qt::LeftButton);
        fits = fitSpy.count();
        QTest::mouseClick(zoom, Qt::LeftButton);
        QTest::mouseClick(zoom, Qt::LeftButton);
        actualPixels = actualSpy.count();

        QAction* toggle = main->colourWorkspace()->toggleViewAction();
        QAction* entry = main->colourWorkspacePaletteAction();
        toggle->trigger();
        const bool checkedWithPanel = entry->isChecked();
        toggle->trigger();
        mirrorsToggle = checkedWithPanel && !entry->isChecked();
        entry->trigger();
        paletteOpensPanel = main->colourWorkspace()->isVisible() && toggle->isChecked();

        const QList<QAction*> modes = main->screenModeGroup()->actions();
        for (int i = modes.size() - 1; i >= 0; --i) {
            modes.at(i)->setChecked(true);
            QAbstractButton* button = main->screenModeButtons()->button(i);
            modeButtons << QStringLiteral("%1 %2").arg(button->isChecked()).arg(button->toolTip());
        }
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(header, (QStringList{"Go To Orlenth Homepage", KsApp::distributorBaseUrl(), "64x40"}));
    EXPECT_EQ(cells, (QStringList{"Keep Exact Brush", "Delete Exact Brush", "Keep Local Brush",
                                  "Delete Local Brush", "Keep Global Brush", "Delete Global Brush",
                                  "Erase Exact Brush", "Blend Exact Brush", "Rectangle Patch", "Forced Edge Tool",
                                  "Color Sampler", "Preview Cut-out", "Clean Tool", "Select Tool", "Hand Tool",
                                  "Zoom Tool", "---", "picker", "---", "Create Cu&t-Out", "Color Workspace", "---",
                                  "row"}));
    EXPECT_EQ(fits, 1);
    EXPECT_EQ(actualPixels, 1);
    EXPECT_TRUE(mirrorsToggle);
    EXPECT_TRUE(paletteOpensPanel);
    EXPECT_EQ(modeButtons, (QStringList{"1 Full Screen Mode (F)", "1 Full Screen with Menu Mode (F)",
                                        "1 Standard Screen Mode (F)"}));
}

TEST_F(MainWindowWorkspaceTest, SpaceLendsTheHandAndGivesTheToolBackButShiftSpaceForgetsIt)
{
    QStringList steps;
    KsApp::setStartUpHook([&](QWidget* window) {
        KsMainWindow* main = mainWindow();
        ASSERT_TRUE(openPhoto());
        GmTool* brush = main->deleteExactBrush();
        brush->action()->trigger();
        const auto current = [&] { return GmTool::currentTool() ? GmTool::currentTool()->displayName() : QString(); };
        sendKey(QEvent::KeyPress, Qt::Key_Space);
        steps << current();
        sendKey(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, true);
        sendKey(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, true);
        steps << current();
        sendKey(QEvent::KeyRelease, Qt::Key_Space);
        steps << current();
        // The hand again, then Shift+Space: the tool before is forgotten and stays away.
        sendKey(QEvent::KeyPress, Qt::Key_Space);
        sendKey(QEvent::KeyPress, Qt::Key_Space, Qt::ShiftModifier);
        sendKey(QEvent::KeyRelease, Qt::Key_Space, Qt::ShiftModifier);
        steps << current();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(steps, (QStringList{"Hand Tool", "Hand Tool", "Delete Exact Brush", "Hand Tool"}));
}

TEST_F(MainWindowWorkspaceTest, TheFirstAnalysisWithThePlaceholderInstallsDeleteLocalInTheWorkspace)
{
    bool placeholderBefore = false;
    GmTool* after = nullptr;
    GmTool* deleteLocal = nullptr;
    ImageView::ViewTab tab = ImageView::Source;
    KsApp::setStartUpHook([&](QWidget* window) {
        placeholderBefore = GmTool::currentTool() == mainWindow()->fallbackTool();
        ASSERT_TRUE(openPhoto());
        after = GmTool::currentTool();
        deleteLocal = mainWindow()->deleteLocalBrush();
        tab = mainWindow()->imageView()->currentViewTab();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(placeholderBefore);
    ASSERT_NE(deleteLocal, nullptr);
    EXPECT_EQ(after, deleteLocal);
    EXPECT_EQ(tab, ImageView::Workspace);
}

TEST_F(MainWindowWorkspaceTest, ARectanglePatchShowsThePanelsAndHandsOverToTheSelectTool)
{
    bool colourWorkspaceShown = false;
    bool patchPropertiesShown = false;
    bool patchMade = false;
    QString toolAfter;
    KsApp::setStartUpHook([&](QWidget* window) {
        KsMainWindow* main = mainWindow();
        ASSERT_TRUE(testsupport::showForInput(main));
        ASSERT_TRUE(openPhoto());
        main->imageView()->zoomToSlot(1.0);
        QTest::qWait(30);
        GmZoomWidget* canvas = main->imageView()->canvas();
        main->regionRectTool()->action()->trigger();
        const QPoint origin = canvas->imageRect().topLeft();
        testsupport::mousePress(canvas, origin + QPoint(40, 30));
        testsupport::mouseMove(canvas, origin + QPoint(80, 60));
        testsupport::mouseMove(canvas, origin + QPoint(140, 110));
        testsupport::mouseRelease(canvas, origin + QPoint(140, 110));
        engineIdle();
        patchMade = GmModel::instance()->activeRegion() != nullptr;
        colourWorkspaceShown = main->colourWorkspace()->isVisible();
        patchPropertiesShown = main->patchProperties()->isVisible();
        toolAfter = GmTool::currentTool() ? GmTool::currentTool()->displayName() : QString();
        main->setPromptOnDiscard(false);
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(patchMade);
    EXPECT_TRUE(colourWorkspaceShown);
    EXPECT_TRUE(patchPropertiesShown);
    EXPECT_EQ(toolAfter, QStringLiteral("Select Tool"));
}

TEST_F(MainWindowWorkspaceTest, AZoomToolClickStepsFromTheViewsZoomBelowTheNavigatorsLimit)
{
    // A long strip, fitted far below the navigator box's smallest value (6.25 %).
    QImage strip(12000, 60, QImage::Format_RGB32);
    strip.fill(Qt::darkCyan);
    const QString path = testsupport::scratchPath(QStringLiteral("strip.png"));
    ASSERT_TRUE(strip.save(path, "PNG"));
    double fitted = 0.0, zoomedIn = 0.0;
    KsApp::setStartUpHook([&](QWidget* window) {
        KsMainWindow* main = mainWindow();
        ASSERT_TRUE(testsupport::showForInput(main));
        ASSERT_TRUE(GmModel::instance()->setImage(1, 1, new KsSourceImage(path), nullptr) && engineIdle());
        main->imageView()->fitImageOnScreenSlot();
        QTest::qWait(30);
        GmZoomWidget* canvas = main->imageView()->canvas();
        fitted = canvas->zoom();
        main->zoomTool()->action()->trigger();
        const QPoint centre = canvas->imageRect().center();
        testsupport::mousePress(canvas, centre);
        testsupport::mouseRelease(canvas, centre);
        QTest::qWait(30);
        zoomedIn = canvas->zoom();
        main->setPromptOnDiscard(false);
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    ASSERT_GT(fitted, 0.0);
    ASSERT_LT(fitted, 0.0625);
    EXPECT_DOUBLE_EQ(zoomedIn, fitted * 1.25);
}

TEST_F(MainWindowWorkspaceTest, EscapeInTheFloatingPanelsReachesTheCurrentTool)
{
    QStringList previews;
    KsApp::setStartUpHook([&](QWidget* window) {
        KsMainWindow* main = mainWindow();
        ASSERT_TRUE(openPhoto());
        // The common Escape first removes the cut-out preview rectangle.
        GmModel* model = GmModel::instance();
        for (GmSubWindow* panel : {static_cast<GmSubWindow*>(main->colourWorkspace()),
                                   static_cast<GmSubWindow*>(main->patchProperties())}) {
            panel->userShow();
            model->beginTestRenderRect(ImagePointF(10, 10));
            const bool before = model->testRenderRect() != nullptr;
            QTest::keyClick(panel, Qt::Key_Escape);
            previews << QStringLiteral("%1 %2").arg(before).arg(model->testRenderRect() != nullptr);
        }
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(previews, (QStringList{"1 0", "1 0"}));
}
