// The main window's actions and menus, the rules that enable them as the document changes, and
// the commands behind them, run through the program's own main in this process. The host launch
// goes end to end: a photograph handed over in two memory files, masks painted, Ctrl+S, and the
// cut-out read back from the result file. Each case runs in its own process.

#include "document/Brushing.h"
#include "document/ForcedEdge.h"
#include "document/GmAction.h"
#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsSourceImage.h"
#include "document/RectRegion.h"
#include "document/Rectangle.h"
#include "document/SegmentationStuff.h"
#include "engine/DravikCommand.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdDespeckleSelection.h"
#include "engine/DvCmdGenerateMask.h"
#include "engine/DvCmdSelect.h"
#include "panels/ViewOptions.h"
#include "shell/DistributorRecord.h"
#include "shell/Identity.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindow.h"
#include "shell/Launch.h"

#include "HoldCommand.h"
#include "MainWindowRun.h"
#include "ProgramRun.h"
#include "ScriptedPrompt.h"
#include "UrlCatcher.h"
#include "Wait.h"

#include "dravik.h"
#include "platform/shared_memory.h"

#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ostream>
#include <string>
#include <unistd.h>

using testsupport::closeSoon;
using testsupport::engineIdle;
using testsupport::mainWindow;
using testsupport::openHandedOverImage;
using testsupport::openPhoto;
using testsupport::PhotoHandOver;
using testsupport::runEmptyTunnel;
using testsupport::runMain;
using testsupport::ScriptedPrompt;
using testsupport::waitUntil;
using testsupport::worker;

namespace {

const QString separator = QStringLiteral("---");

// The window's action with exactly this text; null when there is none or several.
QAction* action(const QString& text)
{
    QAction* found = nullptr;
    for (QAction* candidate : mainWindow()->findChildren<QAction*>()) {
        if (candidate->text() != text)
            continue;
        if (found)
            return nullptr;
        found = candidate;
    }
    return found;
}

QMenu* menu(const QString& title)
{
    for (QAction* entry : mainWindow()->menuBar()->actions())
        if (entry->menu() && entry->text() == title)
            return entry->menu();
    return nullptr;
}

// The menu as it shows: separators first, last or doubled are collapsed, sub-menus marked.
QStringList layout(const QMenu* shown)
{
    QStringList entries;
    if (!shown)
        return {QStringLiteral("no menu")};
    for (const QAction* entry : shown->actions()) {
        if (!entry->isVisible())
            continue;
        if (entry->isSeparator()) {
            if (!entries.isEmpty() && entries.last() != separator)
                entries << separator;
        } else {
            entries << (entry->menu() ? QStringLiteral("> ") : QString()) + entry->text();
        }
    }
    while (!entries.isEmpty() && entries.last() == separator)
        entries.removeLast();
    return entries;
}

QStringList menuBarTitles()
{
    QStringList titles;
    for (const QAction* entry : mainWindow()->menuBar()->actions())
        titles << entry->text();
    return titles;
}

// "name:on" or "name:off" for each action, "name:missing" when absent.
QStringList enabledStates(const QStringList& texts)
{
    QStringList states;
    for (const QString& text : texts) {
        const QAction* found = action(text);
        states << text + (found ? (found->isEnabled() ? ":on" : ":off") : ":missing");
    }
    return states;
}

QStringList withState(const QStringList& texts, const char* state)
{
    QStringList states;
    for (const QString& text : texts)
        states << text + state;
    return states;
}

// A stroke of the given kind over Unassigned pixels only, exactly where it goes.
void stroke(quint8 kind, QPointF from, QPointF to)
{
    Brushing brushing(QColor(Qt::green));
    brushing.startStroke(from, 9);
    brushing.addSegment(to, 9);
    worker()->submit(new DvCmdSelect(GmModel::instance(), &brushing, 1, kind, 0, 0));
    ASSERT_TRUE(engineIdle());
}

const QPointF keepFrom(200, 150), keepTo(260, 170), keepProbe(230, 160);
const QPointF deleteFrom(15, 20), deleteTo(60, 20), deleteProbe(35, 20);

void keepAndDeleteStrokes()
{
    stroke(2, keepFrom, keepTo);
    stroke(4, deleteFrom, deleteTo);
}

bool analyse()
{
    GmModel::instance()->segmentation()->submitAnalysis(nullptr);
    return engineIdle() && GmModel::instance()->segmentation()->isAnalysed();
}

void statusesChanged()
{
    mainWindow()->statusesPresentChangedSlot(GmModel::instance()->statusArray()->statusesPresent());
}

// Completes with the given engine code.
class CodeCommand : public DravikCommand {
public:
    explicit CodeCommand(int code) : DravikCommand(nullptr, QStringLiteral("Coded")), m_code(code) {}
    void execute() override {}
    void finish() override { checkResult(m_code); }

private:
    int m_code;
};

// Ctrl+S as the user presses it, from the event loop.
void pressKey(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(mainWindow(), Qt::Key(key), modifiers);
}

class MainWindowActionsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        KsApp::setStartUpHook(nullptr);
        setDistributorFolder(QString());
    }
};

// ---- Actions ----------------------------------------------------------------------------------

TEST_F(MainWindowActionsTest, StandAloneHasTheFileActionsWithTheirTextsKeysAndTips)
{
    QStringList found;
    QStringList tips;
    QStringList keys;
    QString saveKey;
    bool saveAndApply = true;
    QString undoName, redoName;
    bool icons = false;
    QStringList zoomInKeys;
    QString exitText, helpText, aboutText;
    bool showEdgesChecked = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        for (const char* text : {"&Open...", "&Save", "Save &As...", "&Close"})
            found << QString(text) + (action(text) ? "" : " missing");
        saveKey = action("&Save") ? action("&Save")->shortcut().toString() : QString();
        saveAndApply = action("&Save and Apply") != nullptr;
        for (const char* text : {"&Open...", "&Cancel", "&Redo", "&Undo", "Zoom &In", "Zoom &Out", "Create Cu&t-Out",
                                 "Save &As...", "&Auto-Fill Image", "Show Object &Edges"})
            tips << (action(text) ? action(text)->toolTip() : QString(text) + " missing");
        for (const char* text : {"&Fit on Screen", "Actual Pixels", "Auto-Fill with &Keep", "Auto-Fill with &Delete",
                                 "&Load Project...", "Save &Project", "E&xit Kestrine 3", "Kestrine 3 &Help",
                                 "Toggle Screen Mode"})
            keys << (action(text) ? action(text)->shortcut().toString() : QString(text) + " missing");
        undoName = action("&Undo")->objectName();
        redoName = action("&Redo")->objectName();
        icons = !action("&Open...")->icon().isNull() && !action("&Undo")->icon().isNull()
                && !action("Create Cu&t-Out")->icon().isNull() && !action("Clean All &Blend")->icon().isNull()
                && action("&Save")->icon().isNull();
        for (const QKeySequence& key : action("Zoom &In")->shortcuts())
            zoomInKeys << key.toString();
        exitText = action("E&xit Kestrine 3") ? "ok" : "missing";
        helpText = action("Kestrine 3 &Help") ? "ok" : "missing";
        aboutText = action("&About Kestrine 3 ...") ? "ok" : "missing";
        showEdgesChecked = action("Show Object &Edges")->isCheckable() && action("Show Object &Edges")->isChecked();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(found, (QStringList{"&Open...", "&Save", "Save &As...", "&Close"}));
    EXPECT_EQ(saveKey, QStringLiteral("Ctrl+S"));
    EXPECT_FALSE(saveAndApply);
    EXPECT_EQ(tips, (QStringList{"Open (Ctrl+O)", "Cancel (Ctrl+X)", "Redo (Ctrl+Y)", "Undo (Ctrl+Z)", "Zoom In",
                                 "Zoom Out", "Create Cut-out (Ctrl+U)", "Save As", "Auto-Fill Image (Ctrl+F)",
                                 "Show Object Edges (F2)"}));
    // No patch is active: the auto-fill keys sit on the image's actions.
    EXPECT_EQ(keys, (QStringList{"Ctrl+0", "Ctrl+Alt+0", "Ctrl+Shift+K", "Ctrl+Shift+D", "Ctrl+Shift+O",
                                 "Ctrl+Shift+S", "Ctrl+Q", "F1", "F"}));
    EXPECT_EQ(undoName, QStringLiteral("Undo Action"));
    EXPECT_EQ(redoName, QStringLiteral("Redo Action"));
    EXPECT_TRUE(icons);
    EXPECT_EQ(zoomInKeys, (QStringList{"Ctrl++", "Ctrl+=", "+", "="}));
    EXPECT_EQ(exitText + helpText + aboutText, QStringLiteral("okokok"));
    EXPECT_TRUE(showEdgesChecked);
}

TEST_F(MainWindowActionsTest, HostModesHaveSaveAndApplyOnControlSInsteadOfTheFileActions)
{
    QStringList missing;
    QString applyKey;
    QString applyTip;
    KsApp::setStartUpHook([&](QWidget* window) {
        for (const char* text : {"&Open...", "&Save", "Save &As...", "&Close"})
            if (!action(text))
                missing << text;
        if (QAction* apply = action("&Save and Apply")) {
            applyKey = apply->shortcut().toString();
            applyTip = apply->toolTip();
        }
        closeSoon(window);
    });
    EXPECT_EQ(runEmptyTunnel(), int(HandBackNothing));
    EXPECT_EQ(missing, (QStringList{"&Open...", "&Save", "Save &As...", "&Close"}));
    EXPECT_EQ(applyKey, QStringLiteral("Ctrl+S"));
    EXPECT_EQ(applyTip, QStringLiteral("Save and Apply (Ctrl+S)"));
}

TEST_F(MainWindowActionsTest, TheHelpTextsEndWithTheirLinkAndTheKindIsNamedAfterIt)
{
    QString keepHelp, cleanAllHelp, autoFillDeleteHelp, cutOutHelp, openHelp, undoHelp;
    QString helpUrl;
    KsApp::setStartUpHook([&](QWidget* window) {
        helpUrl = KsApp::helpUrl();
        keepHelp = action("Clean All &Keep")->whatsThis();
        cleanAllHelp = action("&Clean All")->whatsThis();
        autoFillDeleteHelp = action("Auto-Fill with &Delete")->whatsThis();
        cutOutHelp = action("Create Cu&t-Out")->whatsThis();
        openHelp = action("&Open...")->whatsThis();
        undoHelp = action("&Undo")->whatsThis();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    const QString menusLink = "<p><a href=\"" + helpUrl + "/4-Kestrine_Tools/Menus.htm\">Learn More</a></p>";
    EXPECT_EQ(keepHelp, "<p><b>Clean All Keep</b></p><p>Fill small holes inside any <b>Keep</b> mask(s).</p><p>The "
                        "maximum size of holes filled is determined by the <b>Strength</b> setting of the <b>Clean "
                        "Tool</b>.</p>" + menusLink);
    EXPECT_TRUE(cleanAllHelp.startsWith("<p><b>Clean All</b></p><p>Fill small holes inside any masked area(s)"));
    EXPECT_TRUE(cleanAllHelp.endsWith(menusLink));
    EXPECT_EQ(autoFillDeleteHelp, "<p><b>Auto-Fill with Delete</b></p><p>Fills any unmasked areas of the image with "
                                  "<b>Delete</b> mask.</p>" + menusLink);
    EXPECT_TRUE(cutOutHelp.endsWith("<p><a href=\"" + helpUrl
                                    + "/2-Using_Kestrine/Making_the_Cut-out.htm\">Learn More</a></p>"));
    EXPECT_EQ(openHelp, QStringLiteral("Open an image file"));
    EXPECT_EQ(undoHelp, QStringLiteral("<p><b>Undo</b></p><p>Undo any <b>Delete</b>, <b>Blend</b> or <b>Erase</b> "
                                       "strokes. There are an unlimited number of Undo steps.</p>"));
}

TEST_F(MainWindowActionsTest, WithoutAnImageOnlyTheFileAndHelpActionsAreOffered)
{
    QStringList off, on;
    const QStringList expectedOff{"&Undo", "&Redo", "&Clean All", "Clean All &Keep", "Clean All &Delete",
                                  "Clean All &Blend", "Clean &Last Selection", "&Auto-Fill Image",
                                  "Auto-Fill with &Keep", "Auto-Fill with &Delete", "Create Cu&t-Out",
                                  "&Revert Mask", "Re&vert All", "&Close", "&Save", "Save &As...", "Zoom &In",
                                  "Zoom &Out", "&Fit on Screen", "Actual Pixels", "Show Object &Edges",
                                  "Save &Project", "Sa&ve Project As...", "Rever&t Project", "&Cancel"};
    const QStringList expectedOn{"&Open...", "&Load Project...", "E&xit Kestrine 3", "Kestrine 3 &Help", "&Tutorials",
                                 "Home Page", "&Check for Updates", "&About Kestrine 3 ...",
                                 "&Workspace Settings..."};
    KsApp::setStartUpHook([&](QWidget* window) {
        off = enabledStates(expectedOff);
        on = enabledStates(expectedOn);
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(off, withState(expectedOff, ":off"));
    EXPECT_EQ(on, withState(expectedOn, ":on"));
}

TEST_F(MainWindowActionsTest, LatestNewsIsOfferedFromTheStartWithoutWaitingForTheNewsCheck)
{
    // A check that sends nothing today: only the application's own flag can decide.
    QSettings(organizationName(), applicationName())
        .setValue(QStringLiteral("NewsSupressUntil"), quint64(QDateTime::currentSecsSinceEpoch() + 86400));
    bool flag = false;
    QString news;
    KsApp::setStartUpHook([&](QWidget* window) {
        flag = KsApp::instance()->newsAvailable();
        news = enabledStates({QStringLiteral("Latest &News")}).first();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(flag);
    EXPECT_EQ(news, QStringLiteral("Latest &News:on"));
}

TEST_F(MainWindowActionsTest, TheZoomKeysAndTheSecondRedoKeyWork)
{
    int zoomIns = 0;
    int zoomOuts = 0;
    QString redone;
    KsApp::setStartUpHook([&](QWidget* window) {
        ASSERT_TRUE(openPhoto());
        QObject counting;
        QObject::connect(action("Zoom &In"), &QAction::triggered, &counting, [&] { ++zoomIns; });
        QObject::connect(action("Zoom &Out"), &QAction::triggered, &counting, [&] { ++zoomOuts; });
        pressKey(Qt::Key_Plus, Qt::ControlModifier);
        pressKey(Qt::Key_Equal, Qt::ControlModifier);
        pressKey(Qt::Key_Plus);
        pressKey(Qt::Key_Equal);
        pressKey(Qt::Key_Minus, Qt::ControlModifier);
        pressKey(Qt::Key_Minus);

        stroke(2, keepFrom, keepTo);
        GmModel* model = GmModel::instance();
        pressKey(Qt::Key_Z, Qt::ControlModifier);
        ASSERT_TRUE(engineIdle());
        redone += QStringLiteral("%1/%2 ").arg(model->undoCount()).arg(model->redoCount());
        pressKey(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        ASSERT_TRUE(engineIdle());
        redone += QStringLiteral("%1/%2").arg(model->undoCount()).arg(model->redoCount());
        closeSoon(window);
    });
    ScriptedPrompt prompt;
    prompt.answer(QMessageBox::Discard);
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(zoomIns, 4);
    EXPECT_EQ(zoomOuts, 2);
    EXPECT_EQ(redone, QStringLiteral("0/1 1/0"));
}

// ---- Menus ------------------------------------------------------------------------------------

TEST_F(MainWindowActionsTest, TheMenuBarAndTheStandAloneMenusReadInOrder)
{
    QStringList titles, file, edit, image, view, help, window, brush, patch;
    KsApp::setStartUpHook([&](QWidget* main) {
        titles = menuBarTitles();
        file = layout(menu("&File"));
        edit = layout(menu("&Edit"));
        image = layout(menu("&Image"));
        view = layout(menu("&View"));
        help = layout(menu("&Help"));
        window = layout(menu("&Window"));
        brush = layout(menu("&Brush"));
        patch = layout(menu("&Patch"));
        closeSoon(main);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(titles, (QStringList{"&File", "&Edit", "&Image", "&Brush", "&Patch", "&View", "&Window", "&Help"}));
    EXPECT_EQ(file, (QStringList{"&Open...", "&Close", "&Save", "Save &As...", separator, "&Revert Mask", "Re&vert All",
                                 separator, "&Load Project...", "Save &Project", "Sa&ve Project As...",
                                 "Rever&t Project", separator, "> Recent &Files", "> Recent Pro&jects", separator,
                                 "E&xit Kestrine 3"}));
    EXPECT_EQ(edit, (QStringList{"&Undo", "&Redo", "&Cancel", separator, "&Workspace Settings..."}));
    EXPECT_EQ(image, (QStringList{"&Clean All", "Clean All &Keep", "Clean All &Delete", "Clean All &Blend",
                                  "Clean &Last Selection", separator, "&Auto-Fill Image", "Auto-Fill with &Keep",
                                  "Auto-Fill with &Delete", separator, "Create Cu&t-Out", separator,
                                  "> Workspace Resolution", "Preview Cut-out", separator, "Select Tool",
                                  "Clean Tool", "Forced Edge Tool", "Color Sampler"}));
    EXPECT_EQ(view, (QStringList{"&Source", "&Workspace", "&Cut-out", separator, "Show Object &Edges", separator,
                                 "> Screen Mode", separator, "Zoom &In", "Zoom &Out", "Actual Pixels",
                                 "&Fit on Screen", separator, "Hand Tool", "Zoom Tool"}));
    EXPECT_EQ(help, (QStringList{"Kestrine 3 &Help", "&Tutorials", "Home Page", "Latest &News", separator,
                                 "&Check for Updates", separator, "&About Kestrine 3 ..."}));
    EXPECT_EQ(brush, (QStringList{"Keep Exact Brush", "Delete Exact Brush", "Blend Exact Brush", "Erase Exact Brush",
                                  "Keep Local Brush", "Delete Local Brush", "Blend Local Brush", "Erase Local Brush",
                                  "Keep Global Brush", "Delete Global Brush", "Blend Global Brush",
                                  "Erase Global Brush"}));
    EXPECT_EQ(patch, (QStringList{"Rectangle Patch", "Polygon Patch", "Patch Brush", separator, "Delete Patch",
                                  "Erase Mask in Patch", "Protect Patch", "Auto-Fill Patch with &Keep",
                                  "Auto-Fill Patch with &Delete", "Preview Cut-out in Patch"}));
    // The panels' toggles in the order the panels are made, the tool bar's after a separator.
    EXPECT_EQ(window, (QStringList{"Tip", "Navigator", "Edge Finding", "Edge Blending", separator, "Options",
                                   "Color Workspace", "Patch Properties", "Tools"}));
}

TEST_F(MainWindowActionsTest, InAHostModeTheFileMenuStartsWithSaveAndApplyAndOffersOnlyRecentProjects)
{
    QStringList file;
    KsApp::setStartUpHook([&](QWidget* main) {
        file = layout(menu("&File"));
        closeSoon(main);
    });
    EXPECT_EQ(runEmptyTunnel(), int(HandBackNothing));
    EXPECT_EQ(file, (QStringList{"&Save and Apply", "&Revert Mask", "Re&vert All", separator, "&Load Project...",
                                 "Save &Project", "Sa&ve Project As...", "Rever&t Project", separator,
                                 "> Recent Pro&jects", separator, "E&xit Kestrine 3"}));
}

TEST_F(MainWindowActionsTest, ADistributorWithoutUpdatesNewsOrHomePageLeavesNoGapsInHelp)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile xml(folder.filePath("distributor.xml"));
    ASSERT_TRUE(xml.open(QIODevice::WriteOnly));
    xml.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Distributor id=\"acme\">\n  <HomePage enabled=\"0\"/>\n"
              "  <LatestNews enabled=\"0\"/>\n  <CheckForUpdates enabled=\"0\"/>\n  <AboutBoxText>Acme</AboutBoxText>\n"
              "  <Email support=\"help@acme.example\"/>\n</Distributor>\n");
    xml.close();
    setDistributorFolder(folder.path());
    QStringList help;
    bool none = false;
    KsApp::setStartUpHook([&](QWidget* main) {
        help = layout(menu("&Help"));
        none = !action("Home Page") && !action("&Check for Updates") && !action("Latest &News");
        closeSoon(main);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(help, (QStringList{"Kestrine 3 &Help", "&Tutorials", separator, "&About Kestrine 3 ..."}));
    EXPECT_TRUE(none);
}

TEST_F(MainWindowActionsTest, WithTheMenuBarHiddenTheMenuKeysStillWork)
{
    ScriptedPrompt prompt;
    prompt.answer(QMessageBox::Discard);
    int undoCount = -1;
    bool everyEntryOnTheWindow = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        ASSERT_TRUE(openPhoto());
        stroke(2, keepFrom, keepTo);
        everyEntryOnTheWindow = true;
        for (const char* title : {"&File", "&Edit", "&Image", "&View", "&Help"})
            for (QAction* entry : menu(title)->actions())
                if (!entry->isSeparator() && !entry->menu() && !window->actions().contains(entry))
                    everyEntryOnTheWindow = false;
        mainWindow()->menuBar()->hide();
        pressKey(Qt::Key_Z, Qt::ControlModifier);
        ASSERT_TRUE(engineIdle());
        undoCount = GmModel::instance()->undoCount();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(everyEntryOnTheWindow);
    EXPECT_EQ(undoCount, 0);
}

TEST_F(MainWindowActionsTest, TheResolutionMenuFollowsTheComboBoxAndAnEmptyOneGivesAnEmptyMenu)
{
    QStringList entries;
    QStringList checked;
    bool sameHelp = false;
    bool exclusive = false;
    int emptyEntries = -1;
    KsApp::setStartUpHook([&](QWidget* window) {
        const QComboBox* combo = mainWindow()->viewOptions()->resolutionSelector();
        QMenu* resolution = nullptr;
        for (QAction* entry : menu("&Image")->actions())
            if (entry->menu())
                resolution = entry->menu();
        ASSERT_NE(resolution, nullptr);
        sameHelp = resolution->toolTip() == combo->toolTip() && resolution->whatsThis() == combo->whatsThis()
                   && resolution->menuAction()->whatsThis() == combo->whatsThis();
        for (QAction* entry : resolution->actions()) {
            entries << entry->text();
            if (entry->isChecked())
                checked << entry->text();
            sameHelp = sameHelp && entry->isCheckable() && entry->toolTip() == combo->toolTip()
                       && entry->whatsThis() == combo->whatsThis();
            exclusive = entry->actionGroup() && entry->actionGroup()->isExclusive();
        }
        checked << combo->currentText();

        QMenu empty;
        QComboBox nothing;
        QActionGroup* group = KsMainWindow::fillResolutionMenu(&empty, &nothing);
        emptyEntries = empty.actions().size() + group->actions().size();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(entries, (QStringList{"1:1", "1:2", "1:4", "1:8"}));
    ASSERT_EQ(checked.size(), 2);
    EXPECT_EQ(checked[0], checked[1]);
    EXPECT_TRUE(sameHelp);
    EXPECT_TRUE(exclusive);
    EXPECT_EQ(emptyEntries, 0);
}

// ---- Enabledness ------------------------------------------------------------------------------

const QStringList maskActions{"&Auto-Fill Image", "&Clean All", "Clean All &Keep", "Clean All &Delete",
                              "Clean All &Blend", "Clean &Last Selection", "&Revert Mask", "Re&vert All",
                              "&Save and Apply", "Create Cu&t-Out"};

TEST_F(MainWindowActionsTest, KeepAndDeleteOfferTheCutOutButNotTheAutoFill)
{
    PhotoHandOver handOver;
    QStringList states;
    QStringList beforeStrokes;
    KsApp::setStartUpHook([&](QWidget* window) {
        // The session's own analysis has run: only the masks are missing.
        ASSERT_TRUE(openHandedOverImage());
        beforeStrokes = enabledStates({"Create Cu&t-Out"});
        keepAndDeleteStrokes();
        ASSERT_TRUE(analyse());
        states = enabledStates(maskActions);
        mainWindow()->setPromptOnDiscard(false);
        closeSoon(window);
    });
    EXPECT_EQ(handOver.run(), int(HandBackApply));
    EXPECT_EQ(beforeStrokes, QStringList{"Create Cu&t-Out:off"});
    EXPECT_EQ(states, (QStringList{"&Auto-Fill Image:off", "&Clean All:on", "Clean All &Keep:on",
                                   "Clean All &Delete:on", "Clean All &Blend:off", "Clean &Last Selection:on",
                                   "&Revert Mask:on", "Re&vert All:on", "&Save and Apply:on", "Create Cu&t-Out:on"}));
}

TEST_F(MainWindowActionsTest, BlendAloneOffersTheCleaningAndRevertsOnly)
{
    PhotoHandOver handOver;
    QStringList states;
    QStringList keepOnly;
    KsApp::setStartUpHook([&](QWidget* window) {
        ASSERT_TRUE(openHandedOverImage());
        ASSERT_TRUE(analyse());
        stroke(8, keepFrom, keepTo);
        states = enabledStates(maskActions);
        mainWindow()->statusesPresentChangedSlot(2);
        keepOnly = enabledStates({"&Auto-Fill Image", "Create Cu&t-Out"});
        mainWindow()->setPromptOnDiscard(false);
        closeSoon(window);
    });
    EXPECT_EQ(handOver.run(), int(HandBackApply));
    EXPECT_EQ(states, (QStringList{"&Auto-Fill Image:off", "&Clean All:on", "Clean All &Keep:off",
                                   "Clean All &Delete:off", "Clean All &Blend:on", "Clean &Last Selection:on",
                                   "&Revert Mask:on", "Re&vert All:on", "&Save and Apply:off",
                                   "Create Cu&t-Out:off"}));
    // The rule reads the status array for the cut-out, not the value passed in.
    EXPECT_EQ(keepOnly, (QStringList{"&Auto-Fill Image:on", "Create Cu&t-Out:off"}));
}

TEST_F(MainWindowActionsTest, AForcedEdgeAloneOffersRevertAllButNotRevertMask)
{
    QStringList states;
    QStringList afterRevertAll;
    int targets = -1;
    KsApp::setStartUpHook([&](QWidget* window) {
        ASSERT_TRUE(openPhoto());
        new ForcedEdge(QPointF(30, 30), 3);
        statusesChanged();
        states = enabledStates({"&Revert Mask", "Re&vert All"});
        action("Re&vert All")->trigger();
        ASSERT_TRUE(engineIdle());
        targets = GmModel::instance()->arrowTargets().size();
        afterRevertAll = enabledStates({"&Revert Mask", "Re&vert All"});
        closeSoon(window);
    });
    ScriptedPrompt prompt;
    prompt.answer(QMessageBox::Discard);
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(states, (QStringList{"&Revert Mask:off", "Re&vert All:on"}));
    EXPECT_EQ(targets, 0);
    EXPECT_EQ(afterRevertAll, (QStringList{"&Revert Mask:off", "Re&vert All:off"}));
}

TEST_F(MainWindowActionsTest, UndoWaitsForTheEngineWhileRedoDoesNot)
{
    QStringList states;
    KsApp::setStartUpHook([&](QWidget* window) {
        KsMainWindow* main = mainWindow();
        main->dvUndoStackChangedSlot(2, 0);
        states << enabledStates({"&Undo", "&Redo"}).join(' ');
        std::atomic<bool> release{false};
        worker()->submit(new testsupport::HoldCommand(&release));
        states << enabledStates({"&Undo", "&Redo"}).join(' ');
        main->dvUndoStackChangedSlot(0xFFFFFFFF, 3);
        states << enabledStates({"&Undo", "&Redo"}).join(' ');
        release = true;
        ASSERT_TRUE(engineIdle());
        // The remembered undo count came through the unchanged report.
        states << enabledStates({"&Undo", "&Redo"}).join(' ');
        main->dvUndoStackChangedSlot(0, 0xFFFFFFFF);
        states << enabledStates({"&Undo", "&Redo"}).join(' ');
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(states, (QStringList{"&Undo:on &Redo:off", "&Undo:off &Redo:off", "&Undo:off &Redo:on",
                                   "&Undo:on &Redo:on", "&Undo:off &Redo:on"}));
}

TEST_F(MainWindowActionsTest, AnActivePatchTakesTheAutoFillKeysAndGivesThemBack)
{
    QStringList holders;
    int clashes = 0;
    KsApp::setStartUpHook([&](QWidget* window) {
        ASSERT_TRUE(openPhoto());
        GmModel* model = GmModel::instance();
        QList<QAction*> four{action("Auto-Fill with &Keep"), action("Auto-Fill with &Delete"),
                             model->autoFillPatchWithKeepAction(), model->autoFillPatchWithDeleteAction()};
        const auto holdersOf = [&](const QString& key) {
            QStringList names;
            for (QAction* candidate : four)
                if (candidate->shortcut() == QKeySequence(key))
                    names << candidate->text();
            return names;
        };
        QObject watching;
        for (QAction* candidate : four)
            QObject::connect(candidate, &QAction::changed, &watching, [&] {
                if (holdersOf("Ctrl+Shift+K").size() > 1 || holdersOf("Ctrl+Shift+D").size() > 1)
                    ++clashes;
            });
        auto* patch = new RectRegion(QPointF(20, 20));
        patch->rectangle().dragCornerTo(QPointF(120, 100));
        patch->rectangle().endDrag();
        model->setActiveRegion(patch);
        holders << holdersOf("Ctrl+Shift+K") << holdersOf("Ctrl+Shift+D");
        model->setActiveRegion(nullptr);
        holders << holdersOf("Ctrl+Shift+K") << holdersOf("Ctrl+Shift+D");
        model->deleteAllArrowTargets();
        ASSERT_TRUE(engineIdle());
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(holders, (QStringList{"Auto-Fill Patch with &Keep", "Auto-Fill Patch with &Delete",
                                    "Auto-Fill with &Keep", "Auto-Fill with &Delete"}));
    EXPECT_EQ(clashes, 0);
}

// ---- Command slots ----------------------------------------------------------------------------

TEST_F(MainWindowActionsTest, TheCleanCommandsSubmitCancellableCleansOfTheirKinds)
{
    QStringList submitted;
    KsApp::setStartUpHook([&](QWidget* window) {
        std::atomic<bool> release{false};
        worker()->submit(new testsupport::HoldCommand(&release));
        KsMainWindow* main = mainWindow();
        for (void (KsMainWindow::*slot)() : {&KsMainWindow::cleanAllSlot, &KsMainWindow::cleanKeepSlot,
                                             &KsMainWindow::cleanDeleteSlot, &KsMainWindow::cleanComplexSlot,
                                             &KsMainWindow::cleanLastSelectionSlot}) {
            (main->*slot)();
            auto* clean = qobject_cast<DvCmdDespeckleSelection*>(worker()->queue().value(0));
            submitted << (clean ? QStringLiteral("%1%2").arg(clean->classes()).arg(clean->uncancellable() ? " fixed" : "")
                                : QStringLiteral("none"));
            worker()->cancelCommandsSlot();
        }
        // The menu entry reaches its slot.
        action("Clean All &Blend")->setEnabled(true);
        action("Clean All &Blend")->trigger();
        auto* clean = qobject_cast<DvCmdDespeckleSelection*>(worker()->queue().value(0));
        submitted << (clean ? QString::number(clean->classes()) : QStringLiteral("none"));
        worker()->cancelCommandsSlot();
        release = true;
        ASSERT_TRUE(engineIdle());
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(submitted, (QStringList{"14", "2", "4", "8", "0", "8"}));
}

TEST_F(MainWindowActionsTest, RevertAllRemovesThePatchesAndTheMasks)
{
    int patches = -1;
    int present = -1;
    bool edgesShown = false;
    int tab = -1;
    KsApp::setStartUpHook([&](QWidget* window) {
        ASSERT_TRUE(openPhoto());
        keepAndDeleteStrokes();
        auto* patch = new RectRegion(QPointF(20, 20));
        patch->rectangle().dragCornerTo(QPointF(120, 100));
        patch->rectangle().endDrag();
        action("Show Object &Edges")->setChecked(false);
        mainWindow()->imageView()->ensureTabAllows(ImageView::CutOut, ImageView::CutOut);
        mainWindow()->revertAllSlot();
        ASSERT_TRUE(engineIdle());
        patches = GmModel::instance()->patches().size();
        present = GmModel::instance()->statusArray()->statusesPresent() & 14;
        edgesShown = action("Show Object &Edges")->isChecked();
        tab = mainWindow()->imageView()->currentViewTab();
        closeSoon(window);
    });
    ScriptedPrompt prompt;
    prompt.answer(QMessageBox::Discard);
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(patches, 0);
    EXPECT_EQ(present, 0);
    EXPECT_TRUE(edgesShown);
    EXPECT_EQ(tab, int(ImageView::Workspace));
}

TEST_F(MainWindowActionsTest, WorkspaceSettingsAnnouncesOnlyAnAcceptedDialog)
{
    QList<int> emitted;
    KsApp::setStartUpHook([&](QWidget* window) {
        int count = 0;
        QObject counting;
        QObject::connect(mainWindow(), &KsMainWindow::preferencesChanged, &counting, [&] { ++count; });
        for (bool accept : {false, true}) {
            QTimer::singleShot(0, [accept] {
                auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (!dialog)
                    return;
                if (accept)
                    dialog->accept();
                else
                    dialog->reject();
            });
            action("&Workspace Settings...")->trigger();
            emitted << count;
        }
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(emitted, (QList<int>{0, 1}));
}

TEST_F(MainWindowActionsTest, HomePageOpensTheDistributorsAddress)
{
    QList<QUrl> opened;
    QString expected;
    KsApp::setStartUpHook([&](QWidget* window) {
        testsupport::UrlCatcher catcher;
        expected = KsApp::distributorBaseUrl();
        action("Home Page")->trigger();
        opened = catcher.urls();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first(), QUrl(expected));
    EXPECT_TRUE(expected.startsWith(QStringLiteral("http://")));
}

TEST_F(MainWindowActionsTest, WithoutABrowserTheWebCommandsGiveTheAddressToCopy)
{
    // The offscreen platform starts no browser.
    ScriptedPrompt prompt;
    QStringList addresses;
    KsApp::setStartUpHook([&](QWidget* window) {
        addresses << KsApp::helpUrl() + QStringLiteral("/About_Kestrine.htm") << KsApp::tutorialsUrl()
                  << KsApp::distributorBaseUrl() << KsApp::updateCheckUrl();
        for (const char* text : {"Kestrine 3 &Help", "&Tutorials", "Home Page", "&Check for Updates"}) {
            QAction* command = action(QString::fromLatin1(text));
            ASSERT_NE(command, nullptr) << text;
            command->trigger();
        }
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    ASSERT_EQ(prompt.messages().size(), 4);
    for (int i = 0; i < 4; ++i) {
        const Prompt::Message& message = prompt.messages().at(i);
        EXPECT_EQ(message.kind, Prompt::Warning);
        EXPECT_EQ(message.title, QStringLiteral("Kestrine 3 - No Web Browser"));
        EXPECT_TRUE(message.text.contains(QUrl(addresses.at(i)).toDisplayString().toHtmlEscaped()))
            << message.text.toStdString();
        EXPECT_TRUE(message.selectableText);
    }
}

TEST_F(MainWindowActionsTest, WithoutABrowserLatestNewsGivesTheAddressToCopy)
{
    // The offscreen platform starts no browser.
    ScriptedPrompt prompt;
    QString address;
    KsApp::setStartUpHook([&](QWidget* window) {
        address = KsApp::newsUrl();
        QAction* news = action(QStringLiteral("Latest &News"));
        ASSERT_NE(news, nullptr);
        news->trigger();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    ASSERT_EQ(prompt.messages().size(), 1);
    const Prompt::Message& message = prompt.messages().first();
    EXPECT_EQ(message.kind, Prompt::Warning);
    EXPECT_EQ(message.title, QStringLiteral("Kestrine 3 - No Web Browser"));
    EXPECT_TRUE(message.text.contains(QUrl(address).toDisplayString().toHtmlEscaped())) << message.text.toStdString();
    EXPECT_TRUE(message.selectableText);
}

// ---- Save and Apply in a host launch ------------------------------------------------------------

// The document as the host's launch sets it up: the handed-over images, analysed, with a Keep
// stroke on the cat and a Delete stroke on the background.
void paintHandedOverPhoto()
{
    ASSERT_TRUE(openHandedOverImage());
    ASSERT_TRUE(analyse());
    keepAndDeleteStrokes();
}

TEST_F(MainWindowActionsTest, ControlSMakesTheCutOutClosesAndHandsItBack)
{
    PhotoHandOver handOver;
    int cutOuts = -1;
    bool fixedWholeImage = false;
    bool stayedForTheEngine = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        paintHandedOverPhoto();
        QTimer::singleShot(0, window, [&] {
            QPointer<KsMainWindow> main = mainWindow();
            pressKey(Qt::Key_S, Qt::ControlModifier);
            cutOuts = 0;
            QList<DravikCommand*> commands = worker()->queue();
            commands.prepend(worker()->currentCommand());
            for (DravikCommand* command : commands) {
                if (auto* cutOut = qobject_cast<DvCmdGenerateMask*>(command)) {
                    ++cutOuts;
                    fixedWholeImage = cutOut->uncancellable() && cutOut->isWholeImage();
                }
            }
            stayedForTheEngine = main && main->isVisible();
        });
    });
    EXPECT_EQ(handOver.run(), int(HandBackApply));
    EXPECT_EQ(cutOuts, 1);
    EXPECT_TRUE(fixedWholeImage);
    EXPECT_TRUE(stayedForTheEngine);
    const QImage result = handOver.result();
    EXPECT_EQ(qAlpha(result.pixel(keepProbe.toPoint())), 255);
    EXPECT_EQ(qAlpha(result.pixel(deleteProbe.toPoint())), 0);
}

TEST_F(MainWindowActionsTest, WithoutChangesSinceTheLastCutOutControlSClosesAtOnce)
{
    PhotoHandOver handOver;
    int queued = -1;
    bool closed = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        paintHandedOverPhoto();
        GmModel::instance()->generateMaskSlot();
        ASSERT_TRUE(engineIdle());
        ASSERT_EQ(DvCmdGenerateMask::cutoutStamp(), worker()->changeCounter());
        QTimer::singleShot(0, window, [&] {
            QObject watching;
            int submitted = 0;
            QObject::connect(worker(), &DravikThread::commandStarted, &watching, [&](DravikCommand* command) {
                if (qobject_cast<DvCmdGenerateMask*>(command))
                    ++submitted;
            });
            QPointer<KsMainWindow> main = mainWindow();
            pressKey(Qt::Key_S, Qt::ControlModifier);
            queued = submitted;
            for (DravikCommand* command : worker()->queue())
                if (qobject_cast<DvCmdGenerateMask*>(command))
                    ++queued;
            closed = !main || !main->isVisible() || !main->isEnabled();
        });
    });
    EXPECT_EQ(handOver.run(), int(HandBackApply));
    EXPECT_EQ(queued, 0);
    EXPECT_TRUE(closed);
}

TEST_F(MainWindowActionsTest, ALibraryDeathBeforeTheCutOutHandsBackNothing)
{
    ScriptedPrompt prompt;
    PhotoHandOver handOver;
    bool applied = false;
    std::atomic<bool> release{false};
    DvLibrary* engine = nullptr;
    KsApp::setStartUpHook([&](QWidget* window) {
        paintHandedOverPhoto();
        engine = GmModel::instance()->library();
        QTimer::singleShot(0, window, [&] {
            worker()->submit(new testsupport::HoldCommand(&release));
            worker()->submit(new CodeCommand(DvLibraryDead), DravikThread::SubmitUncancellable);
            mainWindow()->saveAndApplySlot();
            applied = worker()->changeCounter() != DvCmdGenerateMask::cutoutStamp();
            release = true;
        });
    });
    EXPECT_EQ(handOver.run(), int(HandBackNothing));
    EXPECT_TRUE(applied);
    // The engine never wrote the cut-out.
    EXPECT_EQ(handOver.result(), handOver.photo());
    // Only the worker took the engine for dead: its sessions, which nothing may end after the
    // fault, go here rather than with the process.
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(DvFinish(engine), DvOk);
}

} // namespace
