#include "KsMainWindow.h"

#include "DravikCommand.h"
#include "DravikThread.h"
#include "DvCmdRedo.h"
#include "DvCmdUndo.h"
#include "FakeDock.h"
#include "GmAction.h"
#include "GmColor.h"
#include "GmModel.h"
#include "GmRegion.h"
#include "GmStatusArray.h"
#include "GmTool.h"
#include "Klogger.h"
#include "KsApp.h"
#include "KsSourceImage.h"
#include "NoTool.h"
#include "Prompt.h"
#include "Texts.h"
#include "ToolOptions.h"
#include "Tunnelry.h"
#include "ViewOptions.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

namespace {

KsMainWindow* g_mainWindow = nullptr;

void setHandBack(HandBackStatus status)
{
    if (KsApp* app = KsApp::instance())
        app->setHandBackStatus(status);
}

bool launchedByHost()
{
    const KsApp* app = KsApp::instance();
    return app && app->launchedByHost();
}

} // namespace

KsMainWindow::KsMainWindow() : QMainWindow(nullptr)
{
    // The tools and prompts reach the window through this while it is being built.
    g_mainWindow = this;

    setWindowTitle(productName());
    setAttribute(Qt::WA_DeleteOnClose, true);
    setIconSize(QSize(24, 24));

    // Set before any tool exists: tools ask the window for a usable tool, and the hand on
    // Space keeps the tab it stands in.
    GmTool::setRevalidateHook([this] { return revalidateCurrentTool(); });
    GmTool::setHandHoldsToolHook([this] { return !m_toolBeforePanning.isNull(); });
    // The colour dialog says in the status bar which colour it changes.
    GmColor::setStatusMessageHook([this](const QString& message) {
        if (message.isEmpty())
            statusBar()->clearMessage();
        else
            statusBar()->showMessage(message);
    });

    m_imageView = new ImageView(this);
    m_imageView->setObjectName(QStringLiteral("imageView_"));
    connect(m_imageView, &ImageView::addTabAction, this, &KsMainWindow::addTabAction);
    connect(m_imageView, &ImageView::viewTabChanged, this, &KsMainWindow::updateActionEnablednessSlot);
    connect(m_imageView, &ImageView::zoomChanged, this, &KsMainWindow::setWindowTitleSlot);

    m_splitter = new QSplitter(Qt::Horizontal);
    m_splitter->setObjectName(QStringLiteral("Main Splitter"));
    m_splitter->addWidget(m_imageView);
    m_dock = new FakeDock(m_splitter);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    m_splitter->setCollapsible(0, false);
    m_splitter->setCollapsible(1, false);
    setCentralWidget(m_splitter);

    createFileHandler();

    m_engineWorker = new DravikThread();
    connectEngineWorker();

    // The status bar needs the Cancel and Show Object Edges actions; the tools need the menus,
    // the tool action group and the options strip; the palette needs the tools.
    createActions();
    createStatusBar();
    createMenus();
    createSubWindows();
    createTools();

    connectZoomThroughNavigator();

    GmModel* model = GmModel::instance();
    connect(model->statusArray(), &GmStatusArray::statusesPresentChanged, this,
            &KsMainWindow::statusesPresentChangedSlot);

    connectPatchTools();

    connect(model, &GmModel::smegChanged, this, &KsMainWindow::updateShowEdgesSlot);
    connect(model, &GmModel::activeRegionChanged, this, &KsMainWindow::updateShowEdgesSlot);
    // The view options' opacity reaches the colour workspace once that exists.

    connectSubWindowsToViewTabs();

    connect(m_imageView, &ImageView::viewTabChanged, this, &KsMainWindow::viewTabChangedSlot);
    if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance()))
        connect(application, &QApplication::focusChanged, this, &KsMainWindow::focusChangedSlot);

    restoreWindowState();
    readControlFile();
    openLaunchImage();

    // The problem report needs the window as the owner of its box.
    if (Klogger* logger = Klogger::instance())
        logger->reportProblems(this);

    runStartUpChecks();
}

KsMainWindow::~KsMainWindow()
{
    // The children go after this body: nothing they announce on their way out may reach a
    // window that is half gone.
    if (m_imageView)
        m_imageView->disconnect(this);
    if (QCoreApplication* application = QCoreApplication::instance())
        application->disconnect(this);
    if (GmModel* model = GmModel::existingInstance()) {
        model->disconnect(this);
        model->statusArray()->disconnect(this);
    }
    GmTool::setRevalidateHook(nullptr);
    GmTool::setHandHoldsToolHook(nullptr);
    GmColor::setStatusMessageHook(nullptr);

    deleteTools();

    // Closed without the close sequence (the loop ended otherwise, or start-up failed): the
    // worker stops here, cutting a running command short.
    if (m_engineWorker) {
        m_engineWorker->disconnect(this);
        delete m_engineWorker;
        m_engineWorker = nullptr;
    }
    if (g_mainWindow == this)
        g_mainWindow = nullptr;
}

KsMainWindow* KsMainWindow::instance()
{
    return g_mainWindow;
}

// ---- Construction steps ----------------------------------------------------------------

void KsMainWindow::createFileHandler()
{
    // The file handler, and the recent-item mappers queued to its loaders.
}

void KsMainWindow::connectEngineWorker()
{
    DravikThread* worker = m_engineWorker;
    connect(worker, &DravikThread::commandStarted, this, &KsMainWindow::commandStartedSlot);
    connect(worker, &DravikThread::commandFinished, this, &KsMainWindow::commandFinishedSlot);
    connect(worker, &DravikThread::commandCancelling, this, &KsMainWindow::commandCancellingSlot);
    connect(worker, &DravikThread::commandDiscarded, this, &KsMainWindow::commandDiscardedSlot);
    // Emitted on the worker thread: it arrives queued.
    connect(worker, &DravikThread::commandProgress, this, &KsMainWindow::commandProgressSlot);
    connect(worker, &DravikThread::stateChanged, this, &KsMainWindow::updateCancelEnabledness);
    connect(worker, &DravikThread::deadLibrary, this, &KsMainWindow::internalErrorSlot);
    connect(worker, &DravikThread::submissionRejectedLibraryDead, this,
            &KsMainWindow::submissionRejectedOnDeadLibSlot);
}

void KsMainWindow::createActions()
{
    // The window's actions come first; then the window is brought into its no-image state.
    GmModel* model = GmModel::instance();
    connect(model, &GmModel::tellImageChanged, this, &KsMainWindow::imageChangedSlot);
    imageChangedSlot(nullptr);
    connect(model, &GmModel::imageAnalysisHasBegun, this, &KsMainWindow::imageAnalysisHasBegunSlot);
}

void KsMainWindow::createStatusBar()
{
    QStatusBar* bar = statusBar();
    if (m_cancelAction) {
        m_cancelButton = new QToolButton;
        m_cancelButton->addAction(m_cancelAction);
        m_cancelButton->setDefaultAction(m_cancelAction);
        QSizePolicy policy = m_cancelButton->sizePolicy();
        policy.setVerticalPolicy(QSizePolicy::MinimumExpanding);
        m_cancelButton->setSizePolicy(policy);
        bar->addPermanentWidget(m_cancelButton);
    }

    m_progressContainer = new QWidget;
    auto* layout = new QHBoxLayout(m_progressContainer);
    layout->setSpacing(10);
    layout->setContentsMargins(0, 0, 0, 0);
    m_progressBar = new QProgressBar;
    m_progressBar->setWhatsThis(ksAppTr("<b>Progress Bar</b><p>Indicates time spent and remaining till a "
                                        "command is complete. Click the red cross button to cancel "
                                        "the command.</p>",
                                        "[tip]"));
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    layout->addWidget(m_progressBar);
    bar->addPermanentWidget(m_progressContainer);

    m_viewOptions = new ViewOptions;
    bar->addPermanentWidget(m_viewOptions);
    GmModel* model = GmModel::instance();
    connect(m_viewOptions, &ViewOptions::modified, model, [model] { model->signalDirtyImageSlot(); });
    if (m_showEdgesAction) {
        connect(m_showEdgesAction, &QAction::toggled, m_viewOptions, &ViewOptions::setShowVectorEdges);
        connect(m_viewOptions, &ViewOptions::showVectorEdges, m_showEdgesAction, &QAction::setChecked);
    }
    m_viewOptions->setShowVectorEdgesEnabled(false);

    QSizePolicy policy = bar->sizePolicy();
    policy.setHorizontalPolicy(QSizePolicy::MinimumExpanding);
    bar->setSizePolicy(policy);
}

void KsMainWindow::createMenus()
{
    // The menu bar; every action placed in a menu is also added to the window.
}

void KsMainWindow::createSubWindows()
{
    // The dockable panels and the "Options" tool bar with its tool options strip.
    GmModel* model = GmModel::instance();
    connect(model, &GmModel::resolutionChanged, m_viewOptions, &ViewOptions::syncResolutionSlot);
    connect(model, &GmModel::resolutionChanged, this, &KsMainWindow::setWindowTitleSlot);
}

void KsMainWindow::createTools()
{
    // The placeholder tool is the first: the fallbacks need it. The other tools, the
    // shortcut-only actions and the tool palette follow it.
    m_noTool = new NoTool(GmTool::sharedActionGroup());
    if (m_noTool->isAvailable()) {
        if (GmTool::currentTool() != m_noTool)
            m_noTool->action()->trigger();
    } else {
        revalidateCurrentTool();
    }
}

void KsMainWindow::connectZoomThroughNavigator()
{
    // Zoom In, Zoom Out and the Zoom tool's slider through the navigator window.
}

void KsMainWindow::connectPatchTools()
{
    // A patch drawn with any patch tool shows the patch properties and the colour workspace.
}

void KsMainWindow::connectSubWindowsToViewTabs()
{
    // Each sub-window follows the view tab and is offered only in the tabs it works in.
}

void KsMainWindow::restoreWindowState()
{
    // The saved layout, or the first-run one.
}

void KsMainWindow::readControlFile()
{
    Tunnelry* controlFile = Tunnelry::current();
    if (!controlFile)
        return;
    // Start-up read it a moment ago; should it have gone since, the paths it gave stand.
    try {
        controlFile->read();
    } catch (const QString& error) {
        qWarning("%s", qUtf8Printable(error));
    }
}

void KsMainWindow::openLaunchImage()
{
    // The command line's file, or the images the launch handed over.
}

void KsMainWindow::runStartUpChecks()
{
    // The distributor record, then the update and news checks.
}

void KsMainWindow::saveWindowState()
{
    // The layout under "PersistVersion" and the "UI/" keys.
}

void KsMainWindow::showWelcomeTip()
{
    // The welcome text in the tip window.
}

bool KsMainWindow::savedSinceLastChange() const
{
    // The file handler's saved stamps compared with the worker's change counter.
    return false;
}

double KsMainWindow::viewZoom() const
{
    return m_imageView->zoom();
}

// ---- Slots of the view and the model ---------------------------------------------------

void KsMainWindow::aboutSlot()
{
    KsApp::about(this);
}

void KsMainWindow::addTabAction(QAction* action)
{
    if (!m_viewMenu || !action)
        return;
    auto isTabEntry = [this](const QAction* entry) {
        if (!m_imageView)
            return false;
        for (const GmAction* tabAction : m_imageView->tabActions())
            if (tabAction == entry)
                return true;
        return false;
    };
    bool pastTabEntries = false;
    for (QAction* entry : m_viewMenu->actions()) {
        if (isTabEntry(entry)) {
            pastTabEntries = true;
        } else if (pastTabEntries && entry->isSeparator()) {
            m_viewMenu->insertAction(entry, action);
            return;
        }
    }
    m_viewMenu->addAction(action);
}

void KsMainWindow::setWindowTitleSlot()
{
    QString title = productName();
    const GmModel* model = GmModel::existingInstance();
    if (const KsSourceImage* image = model ? model->source() : nullptr) {
        title += QStringLiteral(": %1").arg(QFileInfo(image->fileName()).fileName());
        title += QStringLiteral(" (%1 x %2)").arg(image->width()).arg(image->height());
        if (m_imageView)
            title += QStringLiteral(" @ %1%").arg(viewZoom() * 100.0, 0, 'f', 1);
    }
    setWindowTitle(title);
}

void KsMainWindow::updateActionEnablednessSlot()
{
    const GmModel* model = GmModel::existingInstance();
    updateActionEnabledness(model ? model->source() : nullptr);
}

void KsMainWindow::updateActionEnabledness(const KsSourceImage*)
{
    setWindowTitleSlot();
    // The actions follow the image, the engine and the view tab.
}

void KsMainWindow::statusesPresentChangedSlot(quint8)
{
    // The actions that need Keep, Delete or Blend marks follow what the status image holds.
}

void KsMainWindow::updateShowEdgesSlot()
{
    // Whether the view options offer the object edges.
}

void KsMainWindow::updateCancelEnabledness()
{
    // Cancel follows whether the worker can cancel.
}

void KsMainWindow::viewTabChangedSlot(ImageView::ViewTab) {}

void KsMainWindow::focusChangedSlot(QWidget*, QWidget*) {}

void KsMainWindow::imageChangedSlot(const KsSourceImage* image)
{
    if (image) {
        showWelcomeTip();
    } else if (m_noTool && GmTool::currentTool() != m_noTool) {
        m_noTool->installSlot();
    }
    updateActionEnabledness(image);
}

void KsMainWindow::imageAnalysisHasBegunSlot()
{
    if (!m_noTool || GmTool::currentTool() != m_noTool)
        return;
    m_imageView->ensureTabAllows(ImageView::Workspace, ImageView::Workspace);
    if (m_deleteLocalBrush)
        m_deleteLocalBrush->installSlot();
}

// ---- Engine feedback ----------------------------------------------------------------------

void KsMainWindow::commandStartedSlot(DravikCommand* command)
{
    const QString description = command->description();
    m_progressBar->setToolTip(description);
    m_progressBar->setTextVisible(true);
    statusBar()->showMessage(description);
}

void KsMainWindow::commandProgressSlot(int percent)
{
    m_progressBar->setValue(percent);
}

void KsMainWindow::commandFinishedSlot(DravikCommand*)
{
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    statusBar()->clearMessage();
    m_progressBar->setToolTip(QString());
}

void KsMainWindow::commandCancellingSlot(DravikCommand*)
{
    statusBar()->showMessage(tr("Canceling..."));
}

void KsMainWindow::commandDiscardedSlot(DravikCommand* command)
{
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    statusBar()->showMessage(tr("%1 discarded").arg(command->description()));
    m_progressBar->setToolTip(QString());
}

void KsMainWindow::submissionRejectedOnDeadLibSlot(DravikCommand*)
{
    statusBar()->showMessage(tr("Please save project and exit"));
}

void KsMainWindow::internalErrorSlot(const QString& operation, const QString& message)
{
    // The worker is inside its command's completion: a modal box must not run its own event
    // loop from there.
    QTimer::singleShot(0, this, [this, operation, message] { showInternalError(operation, message); });
}

QString KsMainWindow::internalErrorText(const QString& operation, const QString& message,
                                        const QAction* saveProject, const QAction* loadProject)
{
    const QString product = KsApp::productNameNbsp();
    QString text = tr("<p>%1 has detected an internal error:</p><p><center>%2</center></p>"
                      "<p>while performing the operation:</p><p><center>%3</center></p>")
                       .arg(product, message, operation);
    if (saveProject && loadProject) {
        text += tr("<p>If possible, you should Save your work in a<br/>Project File (%2) and then "
                   "Exit.</p><p>When you restart %1, you can <br/>Load the Project File (%3) and"
                   "<br/>continue with your work.</p>")
                    .arg(product, saveProject->shortcut().toString(QKeySequence::NativeText),
                         loadProject->shortcut().toString(QKeySequence::NativeText));
    }
    return text;
}

void KsMainWindow::showInternalError(const QString& operation, const QString& message)
{
    Prompt::critical(this, tr("Internal Error"),
                     internalErrorText(operation, message, m_saveProjectAction, m_loadProjectAction),
                     QMessageBox::Ok, QMessageBox::Ok);
}

void KsMainWindow::undoSlot()
{
    m_imageView->ensureTabAllows(ImageView::Workspace, ImageView::Workspace);
    if (m_engineWorker)
        m_engineWorker->submit(new DvCmdUndo(GmModel::instance()), DravikThread::SubmitCancellable);
}

void KsMainWindow::redoSlot()
{
    m_imageView->ensureTabAllows(ImageView::Workspace, ImageView::Workspace);
    if (m_engineWorker)
        m_engineWorker->submit(new DvCmdRedo(GmModel::instance()), DravikThread::SubmitCancellable);
}

void KsMainWindow::actionNotImplementedSlot(QAction* action)
{
    if (action)
        statusBar()->showMessage(QStringLiteral("Action \"%1\" not yet implemented").arg(action->text()), 5000);
}

// ---- Tools --------------------------------------------------------------------------------

GmTool* KsMainWindow::preferredTool() const
{
    // The Select tool registers itself when it is built.
    return GmTool::selectTool();
}

bool KsMainWindow::revalidateCurrentTool()
{
    GmTool* current = GmTool::currentTool();
    if (!current)
        return false;
    if (current->isAvailable())
        return true;
    GmTool* preferred = preferredTool();
    if (preferred && preferred->isAvailable())
        return preferred->installSlot();
    return m_noTool && m_noTool->installSlot();
}

void KsMainWindow::selectToolOrFallback(GmTool* tool)
{
    GmTool* choice = nullptr;
    if (tool && tool->isUsableInCurrentTab()) {
        choice = tool;
    } else {
        GmTool* preferred = preferredTool();
        choice = preferred && preferred->isUsableInCurrentTab() ? preferred : m_noTool;
    }
    if (choice && choice != GmTool::currentTool())
        choice->installSlot();
}

void KsMainWindow::deleteTools()
{
    // Every other tool goes before the placeholder, which takes over from a current tool that
    // is deleted.
    m_toolBeforePanning = nullptr;
    QPointer<ToolOptions> options = m_noTool ? m_noTool->toolOptions() : nullptr;
    delete m_noTool;
    m_noTool = nullptr;
    // A strip made on first use for tools built without one belongs to no window: it goes
    // with the tools rather than outlive the Qt application.
    if (options && !options->parent())
        delete options.data();
}

// ---- Keys ---------------------------------------------------------------------------------

void KsMainWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->isAutoRepeat())
        return;
    const int key = event->key();
    if (key == Qt::Key_Escape || (key == Qt::Key_Period && event->modifiers() == Qt::ControlModifier)) {
        if (GmTool* tool = GmTool::currentTool())
            tool->escapeKeyPressed();
    }
    if (key == Qt::Key_Space) {
        m_toolBeforePanning = nullptr;
        GmTool* current = GmTool::currentTool();
        if (event->modifiers() == Qt::NoModifier && m_panTool && current != m_panTool
            && m_panTool->isAvailable() && m_panTool->isUsableInCurrentTab()) {
            m_toolBeforePanning = current;
            m_panTool->installSlot();
        }
    }
    if (key == Qt::Key_Backspace) {
        GmModel* model = GmModel::instance();
        if (model->activeRegion())
            model->deleteRegion(model->activeRegion());
    }
    if (GmTool* tool = GmTool::currentTool())
        tool->keyEvent(event);
}

void KsMainWindow::keyReleaseEvent(QKeyEvent* event)
{
    if (event->isAutoRepeat())
        return;
    if (event->key() == Qt::Key_Space && m_toolBeforePanning)
        stopPanningSlot();
    if (GmTool* tool = GmTool::currentTool())
        tool->keyEvent(event);
}

void KsMainWindow::stopPanningSlot()
{
    GmTool* current = GmTool::currentTool();
    if (current && current == m_panTool) {
        GmTool* saved = m_toolBeforePanning;
        if (saved && saved->isAvailable()) {
            if (saved != current && saved->action())
                saved->action()->trigger();
        } else {
            revalidateCurrentTool();
        }
    }
    m_toolBeforePanning = nullptr;
}

void KsMainWindow::escapeKeyPressedSlot(QKeyEvent* event)
{
    keyPressEvent(event);
}

// ---- Close ----------------------------------------------------------------------------------

bool KsMainWindow::okToClose(const QString& title)
{
    setHandBack(HandBackApply);
    const bool unmodified = GmModel::instance()->isUnmodified();
    if (unmodified || (!launchedByHost() && savedSinceLastChange())) {
        setHandBack(HandBackNothing);
        return true;
    }
    if (!m_promptOnDiscard)
        return true;
    const QMessageBox::StandardButton answer =
        Prompt::critical(this, title,
                         tr("You have made unsaved changes that will be lost.\n"
                            "Do you wish to discard these changes?"),
                         QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer != QMessageBox::Discard)
        return false;
    setHandBack(HandBackDiscarded);
    return true;
}

bool KsMainWindow::engineWorkerIdle() const
{
    // A command whose thread has ended still has its completion queued while the worker is
    // busy: the window stays until that has run too.
    return !m_engineWorker
           || (m_engineWorker->isQueueEmpty() && !m_engineWorker->isRunning() && !m_engineWorker->isBusy());
}

void KsMainWindow::releaseEngineWorker()
{
    if (!m_engineWorker)
        return;
    m_engineWorker->disconnect(this);
    m_engineWorker->deleteLater();
    m_engineWorker = nullptr;
}

void KsMainWindow::closeEvent(QCloseEvent* event)
{
    if (m_closing) {
        if (engineWorkerIdle()) {
            QApplication::restoreOverrideCursor();
            releaseEngineWorker();
            event->accept();
        } else {
            Klogger::stream() << "Closed several times" << Klogger::endl;
            event->ignore();
        }
        return;
    }

    // The commands that end the session must still be taken.
    if (m_engineWorker && !m_engineWorker->isAccepting())
        m_engineWorker->setAccepting(true);
    if (!okToClose(tr("Unsaved changes"))) {
        event->ignore();
        return;
    }
    statusBar()->showMessage(tr("Exiting %1 ...").arg(productName()));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setEnabled(false);

    saveWindowState();
    GmModel::instance()->closeImage();

    if (m_engineWorker) {
        m_engineWorker->setAccepting(false);
        if (m_engineWorker->isRunning())
            m_engineWorker->setPriority(QThread::HighPriority);
    }
    if (engineWorkerIdle()) {
        // The wait cursor would otherwise stay over any window still open (the About box).
        QApplication::restoreOverrideCursor();
        releaseEngineWorker();
        event->accept();
        return;
    }
    m_closing = true;
    // A session that was waiting for the queue gave the window back when it was closed.
    setEnabled(false);
    connect(m_engineWorker, &DravikThread::closureComplete, this, &QWidget::close);
    event->ignore();
}
