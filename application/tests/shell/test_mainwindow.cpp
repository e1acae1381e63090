// The main window's frame, run through the program's own main in this process: its layout,
// the engine commands' feedback in the status bar, the internal-error box, the title, the keys,
// the tool fallbacks, and the close with the exit status it decides. Each case runs in its own
// process with fresh temporary and settings folders.

#include "canvas/ImageView.h"
#include "document/Brushing.h"
#include "document/GmAction.h"
#include "document/GmColor.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/KsSourceImage.h"
#include "document/RectRegion.h"
#include "document/Rectangle.h"
#include "document/SegmentationStuff.h"
#include "engine/DravikCommand.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdRedo.h"
#include "engine/DvCmdSelect.h"
#include "engine/DvCmdUndo.h"
#include "panels/FakeDock.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindow.h"
#include "shell/Launch.h"
#include "tools/GmTool.h"
#include "tools/NoTool.h"

#include "HoldCommand.h"
#include "MainWindowRun.h"
#include "ProgramRun.h"
#include "RunLog.h"
#include "ScriptedPrompt.h"
#include "Wait.h"

#include "platform/clock.h"
#include "platform/shared_memory.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPointer>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

using testsupport::closeSoon;
using testsupport::keepStroke;
using testsupport::engineIdle;
using testsupport::mainWindow;
using testsupport::openHandedOverImage;
using testsupport::openPhoto;
using testsupport::PhotoHandOver;
using testsupport::runEmptyTunnel;
using testsupport::runLogHas;
using testsupport::runMain;
using testsupport::ScriptedPrompt;
using testsupport::waitUntil;
using testsupport::worker;

namespace {

const QString analysisDescription = QStringLiteral("Finding Edges in Image...");

QString statusMessage()
{
    return mainWindow()->statusBar()->currentMessage();
}

bool progressIdle()
{
    const QProgressBar* bar = mainWindow()->progressBar();
    return bar->value() == 0 && !bar->isTextVisible() && bar->toolTip().isEmpty() && statusMessage().isEmpty();
}

void sendKey(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
             bool autoRepeat = false)
{
    QKeyEvent event(type, key, modifiers, QString(), autoRepeat);
    QApplication::sendEvent(mainWindow(), &event);
}

void pressAndRelease(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    sendKey(QEvent::KeyPress, key, modifiers);
    sendKey(QEvent::KeyRelease, key, modifiers);
}

// Every report of the engine passes its thinning: each reading is a fifth of a second later.
std::atomic<std::int64_t> g_fakeNow{0};
std::int64_t fakeNow()
{
    return g_fakeNow.fetch_add(200'000'000) + 200'000'000;
}

// A tool that counts what the window hands it.
class KeyTool : public GmTool {
public:
    explicit KeyTool(const QString& name, ImageView::ViewTabs tabs = ImageView::ViewTabs(7))
        : GmTool(name, name, QIcon(), QString(), QString()), m_tabs(tabs)
    {
        setEnabledSlot();
    }
    void escapeKeyPressed() override { ++escapes; }
    void keyEvent(QKeyEvent* event) override
    {
        keys.append(QStringLiteral("%1 %2").arg(event->type() == QEvent::KeyPress ? "press" : "release").arg(event->key()));
    }
    bool isAvailable() const override { return available; }
    ImageView::ViewTabs usableViewTabs() const override { return m_tabs; }
    void activate(GmTool*) override {}
    void deactivate(GmTool*) override {}

    int escapes = 0;
    QStringList keys;
    bool available = true;

private:
    ImageView::ViewTabs m_tabs;
};

// Completes with the given engine code.
class CodeCommand : public DravikCommand {
public:
    CodeCommand(const QString& description, int code) : DravikCommand(nullptr, description), m_code(code) {}
    void execute() override { m_result = m_code; }
    void finish() override { checkResult(m_result); }

private:
    int m_code;
};

// Holds the worker until released; records whether the window was still up at its completion.
class WatchedCommand : public DravikCommand {
public:
    explicit WatchedCommand(bool* windowUpAtFinish) : DravikCommand(nullptr, QStringLiteral("Watched")), m_up(windowUpAtFinish) {}
    void execute() override {}
    void finish() override { *m_up = mainWindow() && mainWindow()->isVisible(); }
    bool isCancellable() const override { return false; }

private:
    bool* m_up;
};

class MainWindowTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        KsApp::setStartUpHook(nullptr);
        platform::setCounterSource(nullptr);
    }
};

TEST_F(MainWindowTest, WithoutArgumentsTheWindowIsBareAndIdle)
{
    QString title;
    bool deleteOnClose = false;
    QSize iconSize;
    QStringList splitterChildren;
    int viewStretch = -1;
    int dockStretch = -1;
    bool collapsible = true;
    bool idle = false;
    bool noToolCurrent = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        auto* main = static_cast<KsMainWindow*>(window);
        title = main->windowTitle();
        deleteOnClose = main->testAttribute(Qt::WA_DeleteOnClose);
        iconSize = main->iconSize();
        auto* splitter = qobject_cast<QSplitter*>(main->centralWidget());
        if (splitter && splitter->count() == 2) {
            splitterChildren << splitter->objectName() << splitter->widget(0)->objectName();
            splitterChildren << (qobject_cast<FakeDock*>(splitter->widget(1)) ? "dock" : "other");
            viewStretch = splitter->widget(0)->sizePolicy().horizontalStretch();
            dockStretch = splitter->widget(1)->sizePolicy().horizontalStretch();
            collapsible = splitter->isCollapsible(0) || splitter->isCollapsible(1);
        }
        idle = progressIdle() && main->progressBar()->minimum() == 0 && main->progressBar()->maximum() == 100;
        noToolCurrent = GmTool::currentTool() == main->fallbackTool() && GmTool::currentTool() != nullptr;
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(title, QStringLiteral("Kestrine 3"));
    EXPECT_TRUE(deleteOnClose);
    EXPECT_EQ(iconSize, QSize(24, 24));
    EXPECT_EQ(splitterChildren, (QStringList{"Main Splitter", "imageView_", "dock"}));
    EXPECT_EQ(viewStretch, 1);
    EXPECT_EQ(dockStretch, 0);
    EXPECT_FALSE(collapsible);
    EXPECT_TRUE(idle);
    EXPECT_TRUE(noToolCurrent);
}

TEST_F(MainWindowTest, TheTitleNamesTheImageItsSizeAndTheZoomAndFollowsTheirChanges)
{
    QStringList titles;
    KsApp::setStartUpHook([&](QWidget* window) {
        ASSERT_TRUE(openPhoto());
        ImageView* view = mainWindow()->imageView();
        view->zoomTo100PercentSlot();
        titles << window->windowTitle();
        // Only a zoom or resolution change refreshes the title.
        GmModel::instance()->source()->setFileName(QStringLiteral("/elsewhere/renamed.png"));
        titles << window->windowTitle();
        view->zoomToSlot(2.0);
        titles << window->windowTitle();
        GmModel::instance()->source()->setFileName(QStringLiteral("/elsewhere/again.png"));
        emit GmModel::instance()->resolutionChanged(1, 1);
        titles << window->windowTitle();
        view->zoomToSlot(0.125);
        titles << window->windowTitle();
        // The View menu's "Actual Pixels" reaches the view.
        for (QAction* action : window->findChildren<QAction*>())
            if (action->text() == QStringLiteral("Actual Pixels"))
                action->trigger();
        titles << window->windowTitle();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(titles, (QStringList{"Kestrine 3: chelsea.png (451 x 300) @ 100.0%",
                                   "Kestrine 3: chelsea.png (451 x 300) @ 100.0%",
                                   "Kestrine 3: renamed.png (451 x 300) @ 200.0%",
                                   "Kestrine 3: again.png (451 x 300) @ 200.0%",
                                   "Kestrine 3: again.png (451 x 300) @ 12.5%",
                                   "Kestrine 3: again.png (451 x 300) @ 100.0%"}));
}

TEST_F(MainWindowTest, TheAnalysisShowsItsDescriptionAndAGrowingPercentage)
{
    platform::setCounterSource(fakeNow);
    QStringList messages;
    QList<int> values;
    QString tipWhileRunning;
    bool percentShown = false;
    bool idleAfter = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        QProgressBar* bar = mainWindow()->progressBar();
        // The session's first analysis starts with the image; the record begins with it.
        bool analysing = false;
        QObject recording;
        QObject::connect(mainWindow()->statusBar(), &QStatusBar::messageChanged, &recording,
                         [&](const QString& message) {
                             if (analysing)
                                 messages << message;
                         });
        QObject::connect(bar, &QProgressBar::valueChanged, &recording, [&](int value) {
            if (analysing)
                values << value;
        });
        QObject::connect(worker(), &DravikThread::commandStarted, &recording, [&, bar](DravikCommand* command) {
            if (command->description() != analysisDescription)
                return;
            analysing = true;
            messages << command->description();
            tipWhileRunning = bar->toolTip();
            percentShown = bar->isTextVisible();
        });
        ASSERT_TRUE(openPhoto());
        ASSERT_TRUE(analysing);
        idleAfter = progressIdle();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(messages.value(0), analysisDescription);
    EXPECT_EQ(messages.value(1), QString());
    EXPECT_EQ(tipWhileRunning, analysisDescription);
    EXPECT_TRUE(percentShown);
    // Reports while it runs, rising, then back to 0 at the end.
    ASSERT_GE(values.size(), 3) << values.size();
    EXPECT_EQ(values.last(), 0);
    values.removeLast();
    for (int i = 1; i < values.size(); ++i)
        EXPECT_LE(values[i - 1], values[i]) << i;
    EXPECT_GT(values.last(), values.first());
    EXPECT_LE(values.last(), 100);
    EXPECT_TRUE(idleAfter);
}

TEST_F(MainWindowTest, CancellingTheAnalysisShowsCancelingThenIdle)
{
    QStringList messages;
    bool idleAfter = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        ASSERT_TRUE(openPhoto());
        QObject recording;
        QObject::connect(mainWindow()->statusBar(), &QStatusBar::messageChanged, &recording,
                         [&](const QString& message) { messages << message; });
        GmModel::instance()->segmentation()->submitAnalysis(nullptr);
        worker()->cancelCommandsSlot();
        ASSERT_TRUE(engineIdle());
        idleAfter = progressIdle();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(messages, (QStringList{analysisDescription, "Canceling...", ""}));
    EXPECT_TRUE(idleAfter);
}

TEST_F(MainWindowTest, AQueuedCommandThatIsDiscardedSaysSo)
{
    QString afterDiscard;
    bool barIdleAfterDiscard = false;
    QString afterHold;
    KsApp::setStartUpHook([&](QWidget* window) {
        ASSERT_TRUE(openPhoto());
        std::atomic<bool> release{false};
        worker()->submit(new testsupport::HoldCommand(&release));
        GmModel::instance()->segmentation()->submitAnalysis(nullptr);
        worker()->cancelCommandsSlot();
        afterDiscard = statusMessage();
        const QProgressBar* bar = mainWindow()->progressBar();
        barIdleAfterDiscard = bar->value() == 0 && !bar->isTextVisible() && bar->toolTip().isEmpty();
        release = true;
        ASSERT_TRUE(engineIdle());
        afterHold = statusMessage();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(afterDiscard, analysisDescription + " discarded");
    EXPECT_TRUE(barIdleAfterDiscard);
    EXPECT_EQ(afterHold, QString());
}

TEST_F(MainWindowTest, ALibraryFaultShowsTheInternalErrorOnceTheCompletionHasReturned)
{
    ScriptedPrompt prompt;
    int promptsDuringCompletion = -1;
    QString afterRefusal;
    KsApp::setStartUpHook([&](QWidget* window) {
        QObject::connect(worker(), &DravikThread::deadLibrary,
                         [&] { promptsDuringCompletion = prompt.messages().size(); });
        worker()->submit(new CodeCommand(QStringLiteral("Failing Operation..."), DvLibraryDead));
        ASSERT_TRUE(waitUntil([&] { return !prompt.messages().isEmpty(); }));
        worker()->submit(new CodeCommand(QStringLiteral("Later"), DvOk));
        afterRefusal = statusMessage();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(promptsDuringCompletion, 0);
    ASSERT_EQ(prompt.messages().size(), 1);
    const Prompt::Message& box = prompt.messages().first();
    EXPECT_EQ(box.kind, Prompt::Critical);
    EXPECT_EQ(box.title, QStringLiteral("Internal Error"));
    EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // The window has both project actions, so it advises saving a project.
    EXPECT_EQ(box.text, QStringLiteral("<p>Kestrine&nbsp;3 has detected an internal error:</p><p><center>Dravik "
                                       "library fault</center></p><p>while performing the operation:</p><p><center>"
                                       "Failing Operation...</center></p><p>If possible, you should Save your work in "
                                       "a<br/>Project File (Ctrl+Shift+S) and then Exit.</p><p>When you restart "
                                       "Kestrine&nbsp;3, you can <br/>Load the Project File (Ctrl+Shift+O) and<br/>"
                                       "continue with your work.</p>"));
    EXPECT_EQ(afterRefusal, QStringLiteral("Please save project and exit"));
}

// An operation that lacked memory, the engine usable, is told in one warning however many lack
// it one after another; nothing tells the user to save and exit, and later commands run.
TEST_F(MainWindowTest, OperationsThatLackMemoryAreToldOnceAndTheEngineGoesOn)
{
    ScriptedPrompt prompt;
    bool laterRan = false;
    bool libraryDead = true;
    QString afterLater;
    KsApp::setStartUpHook([&](QWidget* window) {
        worker()->submit(new CodeCommand(QStringLiteral("Finding Edges in Image..."), DvOutOfMemory));
        worker()->submit(new CodeCommand(QStringLiteral("Creating Cut-out..."), DvOutOfMemory));
        ASSERT_TRUE(waitUntil([&] { return !prompt.messages().isEmpty(); }));
        ASSERT_TRUE(engineIdle());
        auto* later = new CodeCommand(QStringLiteral("Later"), DvOk);
        QObject::connect(later, &QObject::destroyed, [&] { laterRan = true; });
        worker()->submit(later);
        ASSERT_TRUE(engineIdle());
        afterLater = statusMessage();
        libraryDead = worker()->isLibraryDead();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(laterRan);
    EXPECT_FALSE(libraryDead);
    EXPECT_NE(afterLater, QStringLiteral("Please save project and exit"));
    ASSERT_EQ(prompt.messages().size(), 1);
    const Prompt::Message& box = prompt.messages().first();
    EXPECT_EQ(box.kind, Prompt::Warning);
    EXPECT_EQ(box.title, QStringLiteral("Kestrine 3"));
    EXPECT_EQ(box.text, QStringLiteral("<p>Out of memory</p><p>while performing the operation:</p><p><center>Finding "
                                       "Edges in Image...</center></p><p>What was done before it is kept. Close other "
                                       "programs, or work on a smaller image, and try again.</p>"));
}

TEST_F(MainWindowTest, TheInternalErrorAdvisesAProjectOnlyWithBothProjectActions)
{
    QString withBoth;
    QString withSaveOnly;
    KsApp::setStartUpHook([&](QWidget* window) {
        QAction save(QStringLiteral("Save Project"));
        save.setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+S")));
        QAction load(QStringLiteral("Load Project"));
        load.setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+O")));
        withBoth = KsMainWindow::internalErrorText("Op %1", "Msg %2", &save, &load);
        withSaveOnly = KsMainWindow::internalErrorText("Op", "Msg", &save, nullptr);
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    // Markers in the texts stay as they are.
    EXPECT_EQ(withBoth, QStringLiteral("<p>Kestrine&nbsp;3 has detected an internal error:</p><p><center>Msg %2"
                                       "</center></p><p>while performing the operation:</p><p><center>Op %1</center>"
                                       "</p><p>If possible, you should Save your work in a<br/>Project File "
                                       "(Ctrl+Shift+S) and then Exit.</p><p>When you restart Kestrine&nbsp;3, you can "
                                       "<br/>Load the Project File (Ctrl+Shift+O) and<br/>continue with your work.</p>"));
    EXPECT_FALSE(withSaveOnly.contains(QStringLiteral("Project File")));
}

TEST_F(MainWindowTest, UndoAndRedoShowTheWorkspaceAndSubmitCancellableSteps)
{
    QString tabsAndCommands;
    KsApp::setStartUpHook([&](QWidget* window) {
        ImageView* view = mainWindow()->imageView();
        std::atomic<bool> release{false};
        worker()->submit(new testsupport::HoldCommand(&release));
        for (bool undo : {true, false}) {
            view->ensureTabAllows(ImageView::CutOut, ImageView::CutOut);
            tabsAndCommands += QString::number(view->currentViewTab());
            if (undo)
                mainWindow()->undoSlot();
            else
                mainWindow()->redoSlot();
            tabsAndCommands += QString::number(view->currentViewTab());
            DravikCommand* queued = worker()->queue().isEmpty() ? nullptr : worker()->queue().last();
            tabsAndCommands += qobject_cast<DvCmdUndo*>(queued) ? " undo" : qobject_cast<DvCmdRedo*>(queued) ? " redo" : " none";
            tabsAndCommands += queued && !queued->uncancellable() ? " cancellable;" : " fixed;";
            worker()->cancelCommandsSlot();
        }
        release = true;
        ASSERT_TRUE(engineIdle());
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(tabsAndCommands, QStringLiteral("42 undo cancellable;42 redo cancellable;"));
}

TEST_F(MainWindowTest, TheColourDialogSaysInTheStatusBarWhatItChanges)
{
    class ColourPrompt : public ScriptedPrompt {
    public:
        QColor color(const QColor& initial, QWidget* parent, const QString& title,
                     QColorDialog::ColorDialogOptions options) override
        {
            shown = statusMessage();
            return ScriptedPrompt::color(initial, parent, title, options);
        }
        QString shown;
    } prompt;
    QString after;
    KsApp::setStartUpHook([&](QWidget* window) {
        GmColor colour(QStringLiteral("TestColour"), QStringLiteral("Test"), Qt::red, 0);
        colour.changeColorSlot();
        after = statusMessage();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(prompt.shown, QStringLiteral("Select Test color"));
    EXPECT_EQ(after, QString());
}

// ---- Close and exit status ----------------------------------------------------------------

TEST_F(MainWindowTest, AnUnmodifiedHostDocumentExitsWithNothingWithoutAsking)
{
    ScriptedPrompt prompt;
    KsApp::setStartUpHook(closeSoon);
    EXPECT_EQ(runEmptyTunnel(), int(HandBackNothing));
    EXPECT_TRUE(prompt.messages().isEmpty());
}

TEST_F(MainWindowTest, AKeepStrokeAsksAndDiscardExitsWithDiscarded)
{
    ScriptedPrompt prompt;
    prompt.answer(QMessageBox::Discard);
    PhotoHandOver handOver;
    int undoCount = 0;
    KsApp::setStartUpHook([&](QWidget* window) {
        ASSERT_TRUE(openHandedOverImage());
        keepStroke();
        undoCount = GmModel::instance()->undoCount();
        closeSoon(window);
    });
    EXPECT_EQ(handOver.run(), int(HandBackDiscarded));
    EXPECT_EQ(undoCount, 1);
    ASSERT_EQ(prompt.messages().size(), 1);
    const Prompt::Message& box = prompt.messages().first();
    EXPECT_EQ(box.kind, Prompt::Critical);
    EXPECT_EQ(box.title, QStringLiteral("Unsaved changes"));
    EXPECT_EQ(box.text, QStringLiteral("You have made unsaved changes that will be lost.\nDo you wish to discard these changes?"));
    EXPECT_EQ(box.buttons, QMessageBox::Discard | QMessageBox::Cancel);
    EXPECT_EQ(box.defaultButton, QMessageBox::Cancel);
}

TEST_F(MainWindowTest, CancelKeepsTheWindowAndWithoutPromptingTheCloseApplies)
{
    ScriptedPrompt prompt;
    prompt.answer(QMessageBox::Cancel);
    PhotoHandOver handOver;
    bool keptOpen = false;
    int statusAfterCancel = -1;
    KsApp::setStartUpHook([&](QWidget* window) {
        ASSERT_TRUE(openHandedOverImage());
        keepStroke();
        KsApp::instance()->setHandBackStatus(HandBackNothing);
        QTimer::singleShot(0, window, [&, window] {
            QPointer<QWidget> guard(window);
            window->close();
            keptOpen = guard && window->isVisible() && window->isEnabled();
            statusAfterCancel = KsApp::instance()->handBackStatus();
            // As after Save and Apply: the close asks nothing.
            mainWindow()->setPromptOnDiscard(false);
            window->close();
        });
    });
    EXPECT_EQ(handOver.run(), int(HandBackApply));
    EXPECT_TRUE(keptOpen);
    EXPECT_EQ(statusAfterCancel, int(HandBackApply));
    EXPECT_EQ(prompt.messages().size(), 1);
}

TEST_F(MainWindowTest, ClosingDuringALongCommandWaitsDisabledForTheQueueToDrain)
{
    std::atomic<bool> release{false};
    QString message;
    bool disabled = false;
    bool waitCursor = false;
    bool openAfterSecondClose = false;
    bool visibleAtClosure = false;
    bool cursorRestored = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        worker()->submit(new testsupport::HoldCommand(&release));
        QObject::connect(worker(), &DravikThread::closureComplete,
                         [&, window] { visibleAtClosure = mainWindow() == window && window->isVisible(); });
        QObject::connect(window, &QObject::destroyed, [&] { cursorRestored = QApplication::overrideCursor() == nullptr; });
        QTimer::singleShot(0, window, [&, window] {
            QPointer<QWidget> guard(window);
            window->close();
            message = statusMessage();
            disabled = guard && window->isVisible() && !window->isEnabled();
            waitCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            window->close();
            openAfterSecondClose = guard && window->isVisible();
            release = true;
        });
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(message, QStringLiteral("Exiting Kestrine 3 ..."));
    EXPECT_TRUE(disabled);
    EXPECT_TRUE(waitCursor);
    EXPECT_TRUE(openAfterSecondClose);
    EXPECT_TRUE(visibleAtClosure);
    EXPECT_TRUE(cursorRestored);
    EXPECT_TRUE(runLogHas(QStringLiteral("Closed several times")));
    EXPECT_EQ(KsMainWindow::instance(), nullptr);
}

TEST_F(MainWindowTest, ClosingWhileThePhotoIsStillLoadingEndsTheRun)
{
    bool engineStarting = false;
    bool closedBeforeTheLoop = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        engineStarting = worker()->isBusy();
        QPointer<QWidget> guard(window);
        // Ctrl+Q while the engine still starts on the photo: the close waits for it, and the
        // start-up's last events (the splash screen waits for the window) let it drain.
        window->close();
        closedBeforeTheLoop = waitUntil([&] { return guard.isNull() || !guard->isVisible(); }, 60000);
        QTimer::singleShot(30000, QCoreApplication::instance(), [] {
            ADD_FAILURE() << "the run did not end";
            QCoreApplication::exit(99);
        });
    });
    EXPECT_EQ(runMain({"kestrine3", testsupport::chelseaPath.toStdString()}), 0);
    EXPECT_TRUE(engineStarting);
    EXPECT_TRUE(closedBeforeTheLoop);
    EXPECT_EQ(KsMainWindow::instance(), nullptr);
}

TEST_F(MainWindowTest, ACommandWhoseCompletionIsStillQueuedFinishesBeforeTheWindowGoes)
{
    bool windowUpAtFinish = false;
    bool finished = false;
    KsApp::setStartUpHook([&](QWidget* window) {
        QTimer::singleShot(0, window, [&, window] {
            worker()->submit(new WatchedCommand(&windowUpAtFinish));
            QObject::connect(worker(), &DravikThread::commandFinished, [&] { finished = true; });
            // The command's thread has ended; its completion waits in the event queue.
            worker()->wait();
            window->close();
        });
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_TRUE(finished);
    EXPECT_TRUE(windowUpAtFinish);
    EXPECT_FALSE(runLogHas(QStringLiteral("Closed several times")));
}

// ---- Keys ------------------------------------------------------------------------------------

TEST_F(MainWindowTest, EscapeAndControlPeriodReachTheToolsEscapeAndEveryKeyReachesTheTool)
{
    std::vector<int> escapes;
    QStringList keys;
    KsApp::setStartUpHook([&](QWidget* window) {
        KeyTool tool(QStringLiteral("Keys"));
        tool.installSlot();
        pressAndRelease(Qt::Key_Escape);
        escapes.push_back(tool.escapes);
        pressAndRelease(Qt::Key_Period, Qt::ControlModifier);
        escapes.push_back(tool.escapes);
        pressAndRelease(Qt::Key_Period, Qt::ControlModifier | Qt::ShiftModifier);
        escapes.push_back(tool.escapes);
        pressAndRelease(Qt::Key_Period);
        escapes.push_back(tool.escapes);
        // Auto-repeats go nowhere.
        sendKey(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, true);
        sendKey(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, true);
        escapes.push_back(tool.escapes);
        keys = tool.keys;
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(escapes, (std::vector<int>{1, 2, 2, 2, 2}));
    const QString escape = QString::number(Qt::Key_Escape);
    const QString period = QString::number(Qt::Key_Period);
    EXPECT_EQ(keys, (QStringList{"press " + escape, "release " + escape, "press " + period, "release " + period,
                                 "press " + period, "release " + period, "press " + period, "release " + period}));
}

TEST_F(MainWindowTest, BackspaceDeletesTheActivePatchAndStillReachesTheTool)
{
    int patchesBefore = -1;
    int patchesAfter = -1;
    int patchesWithoutActive = -1;
    QStringList keys;
    KsApp::setStartUpHook([&](QWidget* window) {
        ASSERT_TRUE(openPhoto());
        GmModel* model = GmModel::instance();
        auto* first = new RectRegion(QPointF(20, 20));
        first->rectangle().dragCornerTo(QPointF(120, 100));
        first->rectangle().endDrag();
        auto* second = new RectRegion(QPointF(200, 120));
        second->rectangle().dragCornerTo(QPointF(300, 220));
        second->rectangle().endDrag();
        model->setActiveRegion(first);
        patchesBefore = model->patches().size();
        KeyTool tool(QStringLiteral("Keys"));
        tool.installSlot();
        pressAndRelease(Qt::Key_Backspace);
        patchesAfter = model->patches().size();
        pressAndRelease(Qt::Key_Backspace);
        patchesWithoutActive = model->patches().size();
        keys = tool.keys;
        ASSERT_TRUE(engineIdle());
        model->deleteAllArrowTargets();
        ASSERT_TRUE(engineIdle());
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(patchesBefore, 2);
    EXPECT_EQ(patchesAfter, 1);
    EXPECT_EQ(patchesWithoutActive, 1);
    const QString backspace = QString::number(Qt::Key_Backspace);
    EXPECT_EQ(keys, (QStringList{"press " + backspace, "release " + backspace, "press " + backspace,
                                 "release " + backspace}));
}

// ---- Tools -------------------------------------------------------------------------------------

TEST_F(MainWindowTest, TheToolFallbacksTakeTheToolThenTheSelectToolThenNoTool)
{
    QStringList chosen;
    KsApp::setStartUpHook([&](QWidget* window) {
        KsMainWindow* main = mainWindow();
        ImageView* view = main->imageView();
        KeyTool sourceOnly(QStringLiteral("SourceOnly"), ImageView::Source);
        KeyTool select(QStringLiteral("Select"), ImageView::Workspace);
        GmTool::registerSelectTool(&select);
        auto record = [&] { chosen << (GmTool::currentTool() ? GmTool::currentTool()->name() : QStringLiteral("none")); };

        main->selectToolOrFallback(&sourceOnly);  // Workspace tab
        record();
        view->ensureTabAllows(ImageView::CutOut, ImageView::CutOut);
        main->selectToolOrFallback(&sourceOnly);
        record();
        view->ensureTabAllows(ImageView::Source, ImageView::Source);
        main->selectToolOrFallback(&sourceOnly);
        record();

        // A current tool that can no longer be used makes way for the Select tool, then for
        // the placeholder.
        sourceOnly.available = false;
        chosen << (main->revalidateCurrentTool() ? "true" : "false");
        record();
        select.available = false;
        sourceOnly.available = true;
        sourceOnly.installSlot();
        sourceOnly.available = false;
        chosen << (main->revalidateCurrentTool() ? "true" : "false");
        record();
        // A closed image brings the placeholder back.
        sourceOnly.available = true;
        sourceOnly.installSlot();
        record();
        main->imageChangedSlot(nullptr);
        record();
        GmTool::registerSelectTool(nullptr);
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(chosen, (QStringList{"Select", "No Tool", "SourceOnly", "true", "Select", "true", "No Tool",
                                   "SourceOnly", "No Tool"}));
}

TEST_F(MainWindowTest, TheStartOfTheAnalysisLeavesThePlaceholderForTheWorkspace)
{
    QList<int> tabs;
    KsApp::setStartUpHook([&](QWidget* window) {
        ImageView* view = mainWindow()->imageView();
        view->ensureTabAllows(ImageView::CutOut, ImageView::CutOut);
        emit GmModel::instance()->imageAnalysisHasBegun();
        tabs << view->currentViewTab();
        KeyTool other(QStringLiteral("Other"));
        other.installSlot();
        view->ensureTabAllows(ImageView::CutOut, ImageView::CutOut);
        emit GmModel::instance()->imageAnalysisHasBegun();
        tabs << view->currentViewTab();
        closeSoon(window);
    });
    EXPECT_EQ(runMain({"kestrine3"}), 0);
    EXPECT_EQ(tabs, (QList<int>{ImageView::Workspace, ImageView::CutOut}));
}

} // namespace
