#include "shell/KsMainWindow.h"

#include "canvas/GmZoomWidget.h"
#include "canvas/KsWorkspace.h"
#include "canvas/Navigator.h"
#include "canvas/TabFilter.h"
#include "colour/ColourDisplay.h"
#include "colour/ColourWorkspace.h"
#include "colour/ColourWorkspaceSelectTool.h"
#include "document/EDOs.h"
#include "document/ForcedEdge.h"
#include "document/GmAction.h"
#include "document/GmColor.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/GmStatusArray.h"
#include "document/KsSourceImage.h"
#include "document/NamedImage.h"
#include "document/PolyRegion.h"
#include "document/Prompt.h"
#include "document/RectRegion.h"
#include "document/SegmentationStuff.h"
#include "document/Texts.h"
#include "engine/DravikCommand.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdDespeckleSelection.h"
#include "engine/DvCmdGenerateMask.h"
#include "engine/DvCmdRedo.h"
#include "engine/DvCmdSelect.h"
#include "engine/DvCmdUndo.h"
#include "panels/Browser.h"
#include "panels/FakeDock.h"
#include "panels/GmSubWindow.h"
#include "panels/ImageBlendingWindow.h"
#include "panels/ImageEdgeFinder.h"
#include "panels/NavigatorWindow.h"
#include "panels/RegionalProperties.h"
#include "panels/TipWindow.h"
#include "panels/ToolOptions.h"
#include "panels/ToolPalette.h"
#include "panels/ToolPaletteButton.h"
#include "panels/ViewOptions.h"
#include "shell/BackgroundPicker.h"
#include "shell/DistributorRecord.h"
#include "shell/FileHandler.h"
#include "shell/ImageReceiver.h"
#include "shell/Klogger.h"
#include "shell/KsApp.h"
#include "shell/KsAppPrefsDialog.h"
#include "shell/Tunnelry.h"
#include "shell/WindowLayoutRules.h"
#include "tools/ArrowTool.h"
#include "tools/CleanTool.h"
#include "tools/ComplexExactTool.h"
#include "tools/ComplexGlobalTool.h"
#include "tools/ComplexLocalTool.h"
#include "tools/DeleteExactTool.h"
#include "tools/DeleteGlobalTool.h"
#include "tools/DeleteLocalTool.h"
#include "tools/EraseExactTool.h"
#include "tools/EraseGlobalTool.h"
#include "tools/EraseLocalTool.h"
#include "tools/ForcedEdgeTool.h"
#include "tools/GmTool.h"
#include "tools/KeepExactTool.h"
#include "tools/KeepGlobalTool.h"
#include "tools/KeepLocalTool.h"
#include "tools/NoTool.h"
#include "tools/PanTool.h"
#include "tools/RegionBrushTool.h"
#include "tools/RegionPolyTool.h"
#include "tools/RegionRectTool.h"
#include "tools/TestRenderTool.h"
#include "tools/ZoomTool.h"

#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDockWidget>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSignalMapper>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace {

KsMainWindow* g_mainWindow = nullptr;

void setHandBack(HandBackStatus status)
{
    if (KsApp* app = KsApp::instance())
        app->setHandBackStatus(status);
}

// The layout's keys; a stored version other than this one is ignored as a whole.
constexpr int kPersistVersion = 2;
const char* const kPersistVersionKey = "PersistVersion";
const char* const kGeometryKey = "UI/Geometry";
const char* const kScreenModeKey = "UI/ScreenMode";
const char* const kMaximizedKey = "UI/Maximized";
const char* const kNormalGeometryKey = "UI/NormalGeometry";
const char* const kChildStateKey = "UI/ChildState";
const QString subWindowKey(const QObject* window)
{
    return QStringLiteral("UI/SubWindows/") + window->objectName();
}

// Only the first request of a run goes to the log.
bool g_helpLogged = false;

bool launchedByHost()
{
    const KsApp* app = KsApp::instance();
    return app && app->launchedByHost();
}

// The engine's undo and redo counts as last reported; 0xFFFFFFFF in a report means unchanged.
constexpr std::uint32_t kCountUnchanged = 0xFFFFFFFF;
std::uint32_t g_undoCount = 0;
std::uint32_t g_redoCount = 0;

constexpr quint8 kKeepBit = 2;
constexpr quint8 kDeleteBit = 4;
constexpr quint8 kBlendBit = 8;

QString helpLink(const char* topic)
{
    return learnMoreParagraph(KsApp::helpUrl() + QLatin1Char('/') + QLatin1String(topic));
}

void enable(QAction* action, bool enabled)
{
    if (action)
        action->setEnabled(enabled);
}

// Every action of the menu also works through the window, so its key works with the menu bar
// hidden.
void addMenuActionsTo(const QMenu* menu, QWidget* widget)
{
    if (!menu)
        return;
    for (QAction* action : menu->actions())
        widget->addAction(action);
}

void addIfPresent(QMenu* menu, QAction* action)
{
    if (action)
        menu->addAction(action);
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
    if (m_colourWorkspace && m_viewOptions)
        connect(m_viewOptions, &ViewOptions::opacityChanged, m_colourWorkspace, &ColourWorkspace::opacityChanged);

    connectSubWindowsToViewTabs();

    connect(m_imageView, &ImageView::viewTabChanged, this, &KsMainWindow::viewTabChangedSlot);
    if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance()))
        connect(application, &QApplication::focusChanged, this, &KsMainWindow::focusChangedSlot);

    connectViewSlots();
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
    GmTool::setClearColourHighlightHook(nullptr);
    GmZoomWidget::setColourHighlightShownHook(nullptr);
    GmZoomWidget::setImageMenuActionsHook(nullptr);
    GmZoomWidget::setShowActionsHook(nullptr);
    GmZoomWidget::setBackgroundBrushHook(nullptr);

    delete m_fileHandler;
    m_fileHandler = nullptr;
    deleteTools();

    // Closed without the close sequence (the loop ended otherwise, or start-up failed): the
    // worker stops here, cutting a running command short.
    if (m_engineWorker) {
        m_engineWorker->disconnect(this);
        const bool libraryDead = m_engineWorker->isLibraryDead();
        delete m_engineWorker;
        m_engineWorker = nullptr;
        // The image was never closed: its library, with the sessions and the status image,
        // goes now that no worker uses it. A library that failed may not be called again.
        GmModel* model = GmModel::existingInstance();
        if (!libraryDead && model && model->library()) {
            DvFinish(model->library());
            model->setLibrary(nullptr);
        }
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
    m_fileHandler = new FileHandler(this);
    m_recentFilesMapper = new QSignalMapper(this);
    m_recentProjectsMapper = new QSignalMapper(this);
    // Queued: the file opens once the menu has closed. The handler asks before the current
    // work is dropped.
    connect(m_recentFilesMapper, &QSignalMapper::mappedString, m_fileHandler, &FileHandler::recentFileChosenSlot,
            Qt::QueuedConnection);
    connect(m_recentProjectsMapper, &QSignalMapper::mappedString, m_fileHandler,
            &FileHandler::recentProjectChosenSlot, Qt::QueuedConnection);
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
    GmModel* model = GmModel::instance();
    const bool hostMode = launchedByHost();
    const QString menusLink = helpLink("4-Kestrine_Tools/Menus.htm");

    // Save and Apply takes over the translated key of Save, so it is translated in every mode.
    const QString openText = tr("&Open...", "[all]");
    const QString saveText = tr("&Save", "[all]");
    const QString saveAsText = tr("Save &As...", "[all]");
    const QString saveKey = tr("Ctrl+S", "[all]");
    if (!hostMode) {
        auto* open = new GmAction(QIcon(QStringLiteral(":images/stock_open.png")), openText, this);
        open->setShortcut(QKeySequence(tr("Ctrl+O", "[all]")));
        open->setWhatsThis(tr("Open an image file", "[all]"));
        connect(open, &QAction::triggered, m_fileHandler, &FileHandler::fileOpenSlot);
        m_openAction = open;

        auto* save = new GmAction(saveText, this);
        save->setShortcut(QKeySequence(saveKey));
        save->setWhatsThis(tr("Save the cut-out to a file", "[all]"));
        connect(save, &QAction::triggered, m_fileHandler, &FileHandler::fileSaveSlot);
        m_saveAction = save;

        m_saveAsAction = new QAction(saveAsText, this);
        m_saveAsAction->setWhatsThis(tr("Save the cut-out to a file, specifying the file name", "[all]"));
        connect(m_saveAsAction, &QAction::triggered, m_fileHandler, &FileHandler::fileSaveAsSlot);
    }

    auto* undo = new GmAction(QIcon(QStringLiteral(":images/stock_undo.png")), tr("&Undo", "[all]"), this);
    undo->setObjectName(QStringLiteral("Undo Action"));
    undo->setShortcut(QKeySequence(tr("Ctrl+Z", "[all]")));
    undo->setWhatsThis(tr("<p><b>Undo</b></p><p>Undo any <b>Delete</b>, <b>Blend</b> or <b>Erase</b> strokes. There "
                          "are an unlimited number of Undo steps.</p>",
                          "[all]"));
    connect(undo, &QAction::triggered, this, &KsMainWindow::undoSlot);
    m_undoAction = undo;

    auto* redo = new GmAction(QIcon(QStringLiteral(":images/stock_redo.png")), tr("&Redo", "[all]"), this);
    redo->setObjectName(QStringLiteral("Redo Action"));
    redo->setShortcut(QKeySequence(tr("Ctrl+Y", "[all]")));
    redo->setWhatsThis(tr("<p><b>Redo</b></p><p>Redo any <b>Undo</b> steps.</p>", "[all]"));
    connect(redo, &QAction::triggered, this, &KsMainWindow::redoSlot);
    m_redoAction = redo;
    // The second key for Redo; it redoes only when Redo itself could.
    m_redoShortcut = new QShortcut(QKeySequence(tr("Ctrl+Shift+Z", "[all]")), this);
    m_redoShortcut->setContext(Qt::WindowShortcut);
    connect(m_redoShortcut, &QShortcut::activated, this, [this] {
        if (m_redoAction && m_redoAction->isEnabled())
            redoSlot();
    });

    auto* cancel = new GmAction(QIcon(QStringLiteral(":images/stock_stop.png")), tr("&Cancel", "[all]"), this);
    cancel->setToolTip(tr("Cancel", "[all]"));
    cancel->setShortcut(QKeySequence(tr("Ctrl+X", "[all]")));
    connect(cancel, &QAction::triggered, m_engineWorker, &DravikThread::cancelCommandsSlot);
    cancel->setEnabled(m_engineWorker->canCancel());
    m_cancelAction = cancel;

    m_preferencesAction = new QAction(QIcon(QStringLiteral(":images/stock_preferences.png")),
                                      tr("&Workspace Settings...", "[all]"), this);
    m_preferencesAction->setMenuRole(QAction::PreferencesRole);
    connect(m_preferencesAction, &QAction::triggered, this, &KsMainWindow::invokePreferencesSlot);

    // The zoom keys are set as lists, so the tips show none; the navigator drives them.
    m_zoomInAction = new GmAction(QIcon(QStringLiteral(":images/stock_zoom-in.png")), tr("Zoom &In", "[all]"), this);
    m_zoomInAction->setShortcuts({QKeySequence(tr("Ctrl++", "[all]")), QKeySequence(tr("Ctrl+=", "[all]")),
                                  QKeySequence(tr("+", "[all]")), QKeySequence(tr("=", "[all]"))});
    m_zoomOutAction = new GmAction(QIcon(QStringLiteral(":images/stock_zoom-out.png")), tr("Zoom &Out", "[all]"), this);
    m_zoomOutAction->setShortcuts({QKeySequence(tr("Ctrl+-", "[all]")), QKeySequence(tr("-", "[all]"))});

    auto* fit = new GmAction(tr("&Fit on Screen", "[all]"), this);
    fit->setShortcut(QKeySequence(tr("Ctrl+0", "[all]")));
    connect(fit, &QAction::triggered, m_imageView, &ImageView::fitImageOnScreenSlot);
    m_fitOnScreenAction = fit;
    auto* actual = new GmAction(tr("Actual Pixels", "[all]"), this);
    actual->setShortcut(QKeySequence(tr("Alt+Ctrl+0", "[all]")));
    connect(actual, &QAction::triggered, m_imageView, &ImageView::zoomTo100PercentSlot);
    m_actualPixelsAction = actual;

    m_cleanAllAction = new QAction(QIcon(QStringLiteral(":images/tool_filter_clean_all.png")),
                                   tr("&Clean All", "[all]"), this);
    m_cleanAllAction->setWhatsThis(
        tr("<p><b>Clean All</b></p><p>Fill small holes inside any masked area(s), with the same mask type "
           "(<b>Keep</b>, <b>Delete</b> etc) surrounding the hole.</p><p>The maximum size of holes filled is "
           "determined by the <b>Strength</b> setting of the <b>Clean Tool</b>.</p>",
           "[all]")
        + menusLink);
    connect(m_cleanAllAction, &QAction::triggered, this, &KsMainWindow::cleanAllSlot);
    // The link goes in before the kind's name, so a "%1" in the address is never replaced.
    const QString cleanKindHelp = tr("<p><b>Clean All %1</b></p><p>Fill small holes inside any <b>%1</b> mask(s).</p>"
                                     "<p>The maximum size of holes filled is determined by the <b>Strength</b> "
                                     "setting of the <b>Clean Tool</b>.</p>",
                                     "[all]")
                                  + menusLink;
    const QString keepName = tr("Keep", "[all]");
    const QString deleteName = tr("Delete", "[all]");
    const QString blendName = tr("Blend", "[all]");
    const auto cleanKind = [&](const char* icon, const QString& text, const QString& kind,
                               void (KsMainWindow::*slot)()) {
        auto* action = new QAction(QIcon(QString::fromLatin1(icon)), text, this);
        action->setWhatsThis(cleanKindHelp.arg(kind));
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    m_cleanKeepAction = cleanKind(":images/tool_filter_clean_keep.png", tr("Clean All &Keep", "[all]"), keepName,
                                  &KsMainWindow::cleanKeepSlot);
    m_cleanDeleteAction = cleanKind(":images/tool_filter_clean_delete.png", tr("Clean All &Delete", "[all]"),
                                    deleteName, &KsMainWindow::cleanDeleteSlot);
    m_cleanComplexAction = cleanKind(":images/tool_filter_clean_complex.png", tr("Clean All &Blend", "[all]"),
                                     blendName, &KsMainWindow::cleanComplexSlot);
    m_cleanLastSelectionAction = new QAction(QIcon(QStringLiteral(":images/tool_filter_clean_last.png")),
                                             tr("Clean &Last Selection", "[all]"), this);
    m_cleanLastSelectionAction->setWhatsThis(
        tr("<p><b>Clean Last Selection</b></p><p>Fill small holes inside the masked area created by your last brush "
           "stroke.</p><p>The maximum size of holes filled is determined by the <b>Strength</b> setting of the "
           "<b>Clean Tool</b>.</p>",
           "[all]")
        + menusLink);
    connect(m_cleanLastSelectionAction, &QAction::triggered, this, &KsMainWindow::cleanLastSelectionSlot);

    auto* autoFill = new GmAction(tr("&Auto-Fill Image", "[all]"), this);
    autoFill->setShortcut(QKeySequence(tr("Ctrl+F", "[all]")));
    autoFill->setWhatsThis(
        tr("<p><b>Auto-Fill Image</b></p><p> When you have only created <b>Keep</b> or <b>Delete</b> mask, but not "
           "both, this will fill the rest of the image with the opposite type of mask.</p><p>Blend masks will be "
           "applied to the borders between the two masks according to the settings in the Edge Blending Options "
           "palette.</p><p>If you have neither <b>Keep</b> and <b>Delete</b> masks, or both, this command is "
           "disabled.</p>",
           "[all]")
        + menusLink);
    connect(autoFill, &QAction::triggered, model, [] { GmModel::instance()->autoFillImageSlot(); });
    m_autoFillImageAction = autoFill;
    const QString autoFillWithHelp =
        tr("<p><b>Auto-Fill with %1</b></p><p>Fills any unmasked areas of the image with <b>%1</b> mask.</p>", "[all]")
        + menusLink;
    m_autoFillKeepAction = new QAction(tr("Auto-Fill with &Keep", "[all]"), this);
    m_autoFillKeepAction->setWhatsThis(autoFillWithHelp.arg(keepName));
    connect(m_autoFillKeepAction, &QAction::triggered, model, [] { GmModel::instance()->autoFillImageWithKeepSlot(); });
    m_autoFillDeleteAction = new QAction(tr("Auto-Fill with &Delete", "[all]"), this);
    m_autoFillDeleteAction->setWhatsThis(autoFillWithHelp.arg(deleteName));
    connect(m_autoFillDeleteAction, &QAction::triggered, model,
            [] { GmModel::instance()->autoFillImageWithDeleteSlot(); });

    auto* generate = new GmAction(QIcon(QStringLiteral(":images/tool_cmd_mask.png")), tr("Create Cu&t-Out", "[all]"),
                                  this);
    generate->setToolTip(tr("Create Cut-out", "[all]"));
    generate->setShortcut(QKeySequence(tr("Ctrl+U", "[all]")));
    generate->setWhatsThis(
        tr("<p><b>Create Cut-out</b></p><p>Once all masks have been painted, Create Cut-out applies masks to the "
           "image and renders the cut-out image in the <b>Cut-out</b> view.</p><p><b><i>Note:</i></b> Your view "
           "automatically swaps from the <b>Workspace view</b> to the <b>Cut-out view</b> where you see the "
           "result.</p><p>You must create a cut-out before you can save and apply the cut-out in the original "
           "application or to file.</p>",
           "[all]")
        + helpLink("2-Using_Kestrine/Making_the_Cut-out.htm"));
    connect(generate, &QAction::triggered, this, &KsMainWindow::generateMaskSlot);
    m_generateMaskAction = generate;
    connect(model, &GmModel::smegChanged, this, &KsMainWindow::updateGenerateMaskEnablednessSlot);
    connect(m_engineWorker, &DravikThread::stateChanged, this, &KsMainWindow::updateGenerateMaskEnablednessSlot);

    if (!hostMode) {
        auto* close = new GmAction(tr("&Close", "[all]"), this);
        close->setShortcut(QKeySequence(tr("Ctrl+W", "[all]")));
        connect(close, &QAction::triggered, m_fileHandler, &FileHandler::fileCloseSlot);
        m_closeAction = close;
    }
    auto* exit = new GmAction(tr("E&xit ", "[all]") + productName(), this);
    exit->setShortcut(QKeySequence(tr("Ctrl+Q", "[all]")));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    m_exitAction = exit;
    if (hostMode) {
        auto* apply = new GmAction(tr("&Save and Apply", "[all]"), this);
        apply->setShortcut(QKeySequence(saveKey));
        connect(apply, &QAction::triggered, this, &KsMainWindow::saveAndApplySlot);
        m_saveAndApplyAction = apply;
    }
    m_revertMaskAction = new QAction(tr("&Revert Mask", "[all]"), this);
    connect(m_revertMaskAction, &QAction::triggered, this, &KsMainWindow::revertSlot);
    m_revertAllAction = new QAction(tr("Re&vert All", "[all]"), this);
    connect(m_revertAllAction, &QAction::triggered, this, &KsMainWindow::revertAllSlot);

    auto* loadProject = new GmAction(tr("&Load Project...", "[all]"), this);
    loadProject->setShortcut(QKeySequence(tr("Ctrl+Shift+O", "[all]")));
    connect(loadProject, &QAction::triggered, m_fileHandler, &FileHandler::projectLoadSlot);
    m_loadProjectAction = loadProject;
    auto* saveProject = new GmAction(tr("Save &Project", "[all]"), this);
    saveProject->setShortcut(QKeySequence(tr("Ctrl+Shift+S", "[all]")));
    connect(saveProject, &QAction::triggered, m_fileHandler, &FileHandler::projectSaveSlot);
    m_saveProjectAction = saveProject;
    m_saveProjectAsAction = new QAction(tr("Sa&ve Project As...", "[all]"), this);
    connect(m_saveProjectAsAction, &QAction::triggered, m_fileHandler, &FileHandler::projectSaveAsSlot);
    m_revertProjectAction = new QAction(tr("Rever&t Project", "[all]"), this);
    connect(m_revertProjectAction, &QAction::triggered, m_fileHandler, &FileHandler::projectRevertSlot);

    auto* showEdges = new GmAction(tr("Show Object &Edges", "[ks3]"), this);
    showEdges->setShortcut(QKeySequence(tr("F2", "[all]")));
    showEdges->setCheckable(true);
    showEdges->setChecked(true);
    connect(showEdges, &QAction::triggered, model, [] { GmModel::instance()->signalDirtyImageSlot(); });
    m_showEdgesAction = showEdges;
    m_toolActionGroup = GmTool::sharedActionGroup();

    auto* help = new GmAction(productName() + tr(" &Help", "[all]"), this);
    help->setShortcut(QKeySequence(tr("F1", "[all]")));
    connect(help, &QAction::triggered, this, &KsMainWindow::helpSlot);
    m_helpAction = help;
    m_tutorialsAction = new QAction(tr("&Tutorials", "[all]"), this);
    connect(m_tutorialsAction, &QAction::triggered, this, &KsMainWindow::tutorialsSlot);
    const DistributorRecord& distributor = distributorRecord();
    if (distributor.homePage) {
        m_homePageAction = new QAction(tr("Home Page", "[all]"), this);
        connect(m_homePageAction, &QAction::triggered, this, &KsMainWindow::homePageSlot);
    }
    if (distributor.checkForUpdates) {
        m_checkForUpdatesAction = new QAction(tr("&Check for Updates", "[all]"), this);
        if (KsApp* app = KsApp::instance())
            connect(m_checkForUpdatesAction, &QAction::triggered, app, &KsApp::checkForUpdateSlot);
    }
    if (distributor.latestNews && !KsApp::newsUrl().isEmpty()) {
        m_latestNewsAction = new QAction(tr("Latest &News", "[all]"), this);
        // Offered from the start: only the news check's answer withdraws it, so with no
        // network or a suppressed check the news page can still be asked for.
        KsApp* app = KsApp::instance();
        m_latestNewsAction->setEnabled(app && app->newsAvailable());
        if (app) {
            connect(m_latestNewsAction, &QAction::triggered, app, &KsApp::checkForNewsSlot);
            connect(app, &KsApp::newsAvailability, m_latestNewsAction.data(), &QAction::setEnabled);
        }
    }

    m_aboutAction = new QAction(tr("&About %1 ...", "[all]").arg(productName()), this);
    m_aboutAction->setMenuRole(QAction::AboutRole);
    connect(m_aboutAction, &QAction::triggered, this, &KsMainWindow::aboutSlot);

    // The window starts without an image.
    statusesPresentChangedSlot(0);
    connect(model, &GmModel::tellImageChanged, this, &KsMainWindow::imageChangedSlot);
    imageChangedSlot(nullptr);
    connect(model, &GmModel::imageAnalysisHasBegun, this, &KsMainWindow::imageAnalysisHasBegunSlot);
    connect(model, &GmModel::activeRegionChanged, this, &KsMainWindow::activeRegionChangedSlot);
    activeRegionChangedSlot(nullptr);
    // The model's counts are ints; -1 arrives as "unchanged".
    connect(model, &GmModel::dvUndoStackChanged, this, [this](int undoCount, int redoCount) {
        dvUndoStackChangedSlot(std::uint32_t(undoCount), std::uint32_t(redoCount));
    });
    connect(m_engineWorker, &DravikThread::stateChanged, this, &KsMainWindow::updateUndoRedoEnabledness);
    dvUndoStackChangedSlot(0, 0);

    // In no menu: its key works in every screen mode.
    auto* toggle = new GmAction(tr("Toggle Screen Mode", "[all]"), this);
    toggle->setShortcut(QKeySequence(tr("F", "[all]")));
    connect(toggle, &QAction::triggered, this, &KsMainWindow::toggleScreenModeSlot);
    addAction(toggle);
    m_toggleScreenModeAction = toggle;
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
    QMenuBar* bar = menuBar();

    m_fileMenu = bar->addMenu(tr("&File", "[all]"));
    addIfPresent(m_fileMenu, m_openAction);
    addIfPresent(m_fileMenu, m_closeAction);
    addIfPresent(m_fileMenu, m_saveAction);
    addIfPresent(m_fileMenu, m_saveAsAction);
    m_fileMenu->addSeparator();
    addIfPresent(m_fileMenu, m_saveAndApplyAction);
    addIfPresent(m_fileMenu, m_revertMaskAction);
    addIfPresent(m_fileMenu, m_revertAllAction);
    if (m_loadProjectAction || m_saveProjectAction || m_saveProjectAsAction || m_revertProjectAction)
        m_fileMenu->addSeparator();
    addIfPresent(m_fileMenu, m_loadProjectAction);
    addIfPresent(m_fileMenu, m_saveProjectAction);
    addIfPresent(m_fileMenu, m_saveProjectAsAction);
    addIfPresent(m_fileMenu, m_revertProjectAction);
    m_fileMenu->addSeparator();
    if (m_openAction || m_loadProjectAction) {
        // Their entries follow the file handler's lists.
        if (m_openAction)
            m_recentFilesMenu = m_fileMenu->addMenu(tr("Recent &Files", "[all]"));
        if (m_loadProjectAction)
            m_recentProjectsMenu = m_fileMenu->addMenu(tr("Recent Pro&jects", "[all]"));
        m_fileMenu->addSeparator();
    }
    addIfPresent(m_fileMenu, m_exitAction);

    m_editMenu = bar->addMenu(tr("&Edit", "[all]"));
    addIfPresent(m_editMenu, m_undoAction);
    addIfPresent(m_editMenu, m_redoAction);
    addIfPresent(m_editMenu, m_cancelAction);
    m_editMenu->addSeparator();
    addIfPresent(m_editMenu, m_preferencesAction);

    m_imageMenu = bar->addMenu(tr("&Image", "[all]"));
    for (QAction* action : {m_cleanAllAction.data(), m_cleanKeepAction.data(), m_cleanDeleteAction.data(),
                            m_cleanComplexAction.data(), m_cleanLastSelectionAction.data()})
        addIfPresent(m_imageMenu, action);
    m_imageMenu->addSeparator();
    addIfPresent(m_imageMenu, m_autoFillImageAction);
    addIfPresent(m_imageMenu, m_autoFillKeepAction);
    addIfPresent(m_imageMenu, m_autoFillDeleteAction);
    m_imageMenu->addSeparator();
    addIfPresent(m_imageMenu, m_generateMaskAction);
    m_imageMenu->addSeparator();
    m_resolutionMenu = m_imageMenu->addMenu(tr("Workspace Resolution", "[all]"));
    if (m_viewOptions) {
        const QComboBox* combo = m_viewOptions->resolutionSelector();
        m_resolutionMenu->menuAction()->setWhatsThis(combo->whatsThis());
        // The menu and the combo box are kept in step by the view slots.
        m_resolutionGroup = fillResolutionMenu(m_resolutionMenu, combo);
    }

    m_brushMenu = bar->addMenu(tr("&Brush", "[all]"));
    m_patchMenu = bar->addMenu(tr("&Patch", "[all]"));

    m_viewMenu = bar->addMenu(tr("&View", "[all]"));
    bool anyTab = false;
    for (GmAction* tab : m_imageView->tabActions()) {
        if (tab) {
            m_viewMenu->addAction(tab);
            anyTab = true;
        }
    }
    if (anyTab)
        m_viewMenu->addSeparator();
    addIfPresent(m_viewMenu, m_showEdgesAction);
    m_viewMenu->addSeparator();
    m_screenModeMenu = m_viewMenu->addMenu(tr("Screen Mode", "[all]"));
    const QString screenModeHelp =
        tr("<p><b>Screen Mode</b> (F)</p><p>You can choose from three screen modes, depending on which best suits "
           "your work-flow:</p><ul><li><b>Standard Screen Mode</b>: Shows the window title bar and menu in a "
           "re-sizable window (default).</li><li><b>Full Screen with Menu Mode</b>: Maximizes the working area "
           "while keeping all functionality&mdash;the window title bar is hidden, while the menu and operating "
           "system task-bar remain visible.</li><li><b>Full Screen Mode</b>: Maximizes the working area&mdash;the "
           "window title bar, its menu, and the operating system task-bar are all hidden.</li></ul><p>You can swap "
           "Screen Modes by:</p><ul><li>Toggling through them, using the &lsquo;F&rsquo; shortcut key.</li><li>"
           "Clicking a Screen Mode button at the bottom of the <b>Tool Palette</b>.</li><li>Choosing from the "
           "&lsquo;View&rsquo; &gt; &lsquo;Screen Mode&rsquo; menu.</li></ul>",
           "[all]")
        + helpLink("4-Kestrine_Tools/About_the_Kestrine_Workspace.htm");
    m_screenModeMenu->setWhatsThis(screenModeHelp);
    m_screenModeMenu->menuAction()->setWhatsThis(screenModeHelp);
    m_screenModeGroup = new QActionGroup(this);
    const std::pair<QString, void (KsMainWindow::*)()> modes[] = {
        {tr("Standard Screen Mode", "[all]"), &KsMainWindow::setScreenModeNormalSlot},
        {tr("Full Screen with Menu Mode", "[all]"), &KsMainWindow::setScreenModeFullWithMenuSlot},
        {tr("Full Screen Mode", "[all]"), &KsMainWindow::setScreenModeFullSlot}};
    for (const auto& [text, slot] : modes) {
        auto* mode = new QAction(text, m_screenModeGroup);
        mode->setCheckable(true);
        mode->setToolTip(text);
        mode->setWhatsThis(screenModeHelp);
        m_screenModeMenu->addAction(mode);
        connect(mode, &QAction::triggered, this, slot);
    }
    m_viewMenu->addSeparator();
    addIfPresent(m_viewMenu, m_zoomInAction);
    addIfPresent(m_viewMenu, m_zoomOutAction);
    addIfPresent(m_viewMenu, m_actualPixelsAction);
    addIfPresent(m_viewMenu, m_fitOnScreenAction);
    m_viewMenu->addSeparator();

    m_windowMenu = bar->addMenu(tr("&Window", "[all]"));
    m_helpMenu = bar->addMenu(tr("&Help", "[all]"));
    addIfPresent(m_helpMenu, m_helpAction);
    addIfPresent(m_helpMenu, m_tutorialsAction);
    addIfPresent(m_helpMenu, m_homePageAction);
    addIfPresent(m_helpMenu, m_latestNewsAction);
    if (m_checkForUpdatesAction) {
        m_helpMenu->addSeparator();
        m_helpMenu->addAction(m_checkForUpdatesAction);
    }
    if (m_aboutAction) {
        m_helpMenu->addSeparator();
        m_helpMenu->addAction(m_aboutAction);
    }

    for (const QMenu* menu : {m_fileMenu.data(), m_editMenu.data(), m_viewMenu.data(), m_imageMenu.data(),
                              m_windowMenu.data(), m_brushMenu.data(), m_patchMenu.data(), m_helpMenu.data()})
        addMenuActionsTo(menu, this);
}

QActionGroup* KsMainWindow::fillResolutionMenu(QMenu* menu, const QComboBox* combo)
{
    auto* group = new QActionGroup(menu);
    menu->setToolTip(combo->toolTip());
    menu->setWhatsThis(combo->whatsThis());
    for (int i = 0; i < combo->count(); ++i) {
        auto* entry = new QAction(combo->itemText(i), group);
        entry->setCheckable(true);
        entry->setEnabled(combo->isEnabled());
        entry->setToolTip(combo->toolTip());
        entry->setWhatsThis(combo->whatsThis());
        menu->addAction(entry);
    }
    const QList<QAction*> entries = group->actions();
    const int current = combo->currentIndex();
    if (current >= 0 && current < entries.size())
        entries.at(current)->setChecked(true);
    return group;
}

void KsMainWindow::createSubWindows()
{
    GmModel* model = GmModel::instance();

    m_tipWindow = new TipWindow(this, m_windowMenu, tr("Ctrl+T", "[all]"));
    m_tipWindow->setObjectName(QStringLiteral("tipWindow_"));
    showWelcomeTip();

    m_navigatorWindow = new NavigatorWindow(this, m_windowMenu, tr("F6", "[all]"));
    m_navigatorWindow->setObjectName(QStringLiteral("navigatorWindow_"));
    Navigator* navigator = m_navigatorWindow->navigator();
    connect(model, &GmModel::tellImageChanged, navigator, &Navigator::updateImage);
    connect(navigator, &Navigator::rectChanged, m_imageView, &ImageView::moveImageViewportToSlot);
    connect(navigator, &Navigator::rectCenterChanged, m_imageView, &ImageView::centreViewportOnSlot);
    connect(m_imageView, &ImageView::sayViewportRectChanged, m_navigatorWindow, &NavigatorWindow::setRectSlot);
    connect(m_navigatorWindow, &NavigatorWindow::requestZoomTo, m_imageView, &ImageView::zoomToSlot);

    m_edgeFinder = new ImageEdgeFinder(this, m_windowMenu, tr("F7", "[all]"));
    m_edgeFinder->setKeepWidth(true);
    m_blendingWindow = new ImageBlendingWindow(this, m_windowMenu, tr("F8", "[all]"));
    m_blendingWindow->setKeepWidth(true);

    createOptionsToolBar();

    m_colourWorkspace = new ColourWorkspace(m_windowMenu, QStringLiteral("C"), this);
    m_colourWorkspace->setFloating(true, false);
    connect(m_colourWorkspace, &GmSubWindow::escapeKeyPressed, this, &KsMainWindow::subWindowEscapeSlot);

    m_patchProperties = new RegionalProperties(this, m_windowMenu, QStringLiteral("F9"));
    m_patchProperties->setFloating(true, false);
    connect(m_patchProperties, &GmSubWindow::escapeKeyPressed, this, &KsMainWindow::subWindowEscapeSlot);

    connect(model, &GmModel::resolutionChanged, m_viewOptions, &ViewOptions::syncResolutionSlot);
    connect(model, &GmModel::resolutionChanged, this, &KsMainWindow::setWindowTitleSlot);

    for (GmSubWindow* docked : {static_cast<GmSubWindow*>(m_edgeFinder), static_cast<GmSubWindow*>(m_blendingWindow),
                                static_cast<GmSubWindow*>(m_navigatorWindow), static_cast<GmSubWindow*>(m_tipWindow)})
        if (docked)
            docked->setDock(m_dock);

    m_subWindows.clear();
    for (GmSubWindow* window :
         {static_cast<GmSubWindow*>(m_colourWorkspace), static_cast<GmSubWindow*>(m_patchProperties),
          static_cast<GmSubWindow*>(m_navigatorWindow), static_cast<GmSubWindow*>(m_edgeFinder),
          static_cast<GmSubWindow*>(m_blendingWindow), static_cast<GmSubWindow*>(m_tipWindow)})
        if (window)
            m_subWindows.append(window);
}

void KsMainWindow::createOptionsToolBar()
{
    const QString title = tr("Options", "[all]");
    m_optionsToolBar = addToolBar(title);
    m_optionsToolBar->setObjectName(QStringLiteral("ToolBar-") + title);
    m_optionsToolBar->setAllowedAreas(Qt::TopToolBarArea | Qt::BottomToolBarArea);
    m_windowMenu->addSeparator();
    m_windowMenu->addAction(m_optionsToolBar->toggleViewAction());

    auto* widget = new QWidget;
    widget->setObjectName(QStringLiteral("OptionsWidget"));
    widget->setMinimumHeight(30);
    auto* layout = new QHBoxLayout(widget);
    layout->setObjectName(QStringLiteral("OptionsLayout"));
    layout->setAlignment(Qt::AlignHCenter);
    m_optionsToolBar->addWidget(widget);
    // The one strip every tool shows its options in.
    layout->addWidget(GmTool::defaultToolOptions(), 1);
}

QList<GmSubWindow*> KsMainWindow::subWindows() const
{
    QList<GmSubWindow*> windows;
    for (const QPointer<GmSubWindow>& window : m_subWindows)
        if (window)
            windows.append(window.data());
    return windows;
}

QActionGroup* KsMainWindow::screenModeGroup() const
{
    return m_screenModeGroup;
}

QMenu* KsMainWindow::recentFilesMenu() const
{
    return m_recentFilesMenu;
}

QMenu* KsMainWindow::recentProjectsMenu() const
{
    return m_recentProjectsMenu;
}

QActionGroup* KsMainWindow::resolutionGroup() const
{
    return m_resolutionGroup;
}

void KsMainWindow::createTools()
{
    QActionGroup* group = GmTool::sharedActionGroup();
    ToolOptions* options = GmTool::defaultToolOptions();

    // The placeholder tool is the first: the fallbacks need it.
    m_noTool = new NoTool(group, nullptr, options);
    if (m_noTool->isAvailable()) {
        if (GmTool::currentTool() != m_noTool)
            m_noTool->action()->trigger();
    } else {
        revalidateCurrentTool();
    }

    m_testRenderTool = new TestRenderTool(group, m_imageMenu, nullptr, options);
    m_imageMenu->addSeparator();
    m_arrowTool = new ArrowTool(group, m_imageMenu, nullptr, options);
    connect(m_imageView, &ImageView::activateArrowTargetAt, m_arrowTool, &ArrowTool::activateArrowTargetAtSlot);
    m_cleanTool = new CleanTool(group, m_imageMenu, nullptr, options);
    m_forcedEdgeTool = new ForcedEdgeTool(group, m_imageMenu, nullptr, options);

    m_keepExactBrush = new KeepExactTool(group, m_brushMenu, nullptr, options);
    m_deleteExactBrush = new DeleteExactTool(group, m_brushMenu, nullptr, options);
    m_complexExactBrush = new ComplexExactTool(group, m_brushMenu, nullptr, options);
    m_eraseExactBrush = new EraseExactTool(group, m_brushMenu, nullptr, options);
    m_keepLocalBrush = new KeepLocalTool(group, m_brushMenu, nullptr, options);
    m_deleteLocalBrush = new DeleteLocalTool(group, m_brushMenu, nullptr, options);
    m_complexLocalBrush = new ComplexLocalTool(group, m_brushMenu, nullptr, options);
    m_eraseLocalBrush = new EraseLocalTool(group, m_brushMenu, nullptr, options);
    m_keepGlobalBrush = new KeepGlobalTool(group, m_brushMenu, nullptr, options);
    m_deleteGlobalBrush = new DeleteGlobalTool(group, m_brushMenu, nullptr, options);
    m_complexGlobalBrush = new ComplexGlobalTool(group, m_brushMenu, nullptr, options);
    m_eraseGlobalBrush = new EraseGlobalTool(group, m_brushMenu, nullptr, options);

    m_regionRectTool = new RegionRectTool(group, m_patchMenu, nullptr, options);
    m_regionPolyTool = new RegionPolyTool(group, m_patchMenu, nullptr, options);
    m_regionBrushTool = new RegionBrushTool(group, m_patchMenu, nullptr, options);
    m_patchMenu->addSeparator();
    GmModel* model = GmModel::instance();
    for (QAction* action : {static_cast<QAction*>(model->deletePatchAction()),
                            static_cast<QAction*>(model->clearMaskInPatchAction()),
                            static_cast<QAction*>(model->protectPatchAction()),
                            static_cast<QAction*>(model->autoFillPatchWithKeepAction()),
                            static_cast<QAction*>(model->autoFillPatchWithDeleteAction()),
                            static_cast<QAction*>(model->previewPatchAction())})
        addIfPresent(m_patchMenu, action);
    // Its key works on the active forced edge; it has no menu entry.
    if (QAction* deleteEdge = model->deleteForcedEdgeAction())
        addAction(deleteEdge);

    auto* pan = new PanTool(group, m_viewMenu, nullptr, options);
    m_panTool = pan;
    m_zoomTool = new ZoomTool(group, m_viewMenu, nullptr, options);

    m_colourSamplerTool = new ColourWorkspaceSelectTool(m_colourWorkspace, group, m_imageMenu, options);

    // The tools' keys work with the menu bar hidden too.
    for (const QMenu* menu : {m_imageMenu.data(), m_brushMenu.data(), m_patchMenu.data(), m_viewMenu.data()})
        addMenuActionsTo(menu, this);

    createToolPalette();

    connect(pan, &PanTool::tellPan, m_imageView, &ImageView::panImageViewportSlot);
    connect(m_arrowTool, &ArrowTool::zoomToRectSignal, m_imageView, &ImageView::moveImageViewportToSlot);
    connect(m_zoomTool, &ZoomTool::zoomToRectSignal, m_imageView, &ImageView::minCheckedMoveImageViewportToSlot);
    connect(m_zoomTool, &ZoomTool::actualPixelsSignal, m_imageView, &ImageView::zoomTo100PercentSlot);
    connect(m_zoomTool, &ZoomTool::fitScreenSignal, m_imageView, &ImageView::fitImageOnScreenSlot);
    // A click steps from the view's own zoom, not from the navigator's rounded and clamped box.
    connect(m_zoomTool, &ZoomTool::zoomInSignal, m_imageView, &ImageView::zoomInSlot);
    connect(m_zoomTool, &ZoomTool::zoomOutSignal, m_imageView, &ImageView::zoomOutSlot);
    if (m_navigatorWindow) {
        connect(m_navigatorWindow, &NavigatorWindow::zoomInEnabled, m_zoomTool, &ZoomTool::zoomInEnabledSlot);
        connect(m_navigatorWindow, &NavigatorWindow::zoomOutEnabled, m_zoomTool, &ZoomTool::zoomOutEnabledSlot);
    }

    // The brush size is shared by every brush, so one brush's slots serve them all.
    const auto brushSizeAction = [this](const QString& text, const QString& key) {
        auto* action = new GmAction(text, this);
        action->setShortcut(QKeySequence(key, QKeySequence::NativeText));
        addAction(action);
        return action;
    };
    m_increaseBrushSizeAction = brushSizeAction(tr("Increase Brush Size", "[all]"),
                                                tr("]", "[all] shortcut for increasing brush size"));
    m_decreaseBrushSizeAction = brushSizeAction(tr("Decrease Brush Size", "[all]"),
                                                tr("[", "[all] shortcut for increasing brush size"));
    connect(m_increaseBrushSizeAction, &QAction::triggered, m_deleteExactBrush,
            &BrushingTool::increaseBrushSizeSlot);
    connect(m_decreaseBrushSizeAction, &QAction::triggered, m_deleteExactBrush,
            &BrushingTool::decreaseBrushSizeSlot);

    setShellHooks();
}

void KsMainWindow::createToolPalette()
{
    m_toolPalette = new ToolPalette(this, m_windowMenu, tr("F5", "[all]"));
    m_toolPalette->setHeader(QStringLiteral(":images/brand_logo_blue.png"), QStringLiteral(":images/brand_logo.png"),
                             tr("Go To Orlenth Homepage", "[all]"), KsApp::distributorBaseUrl());

    ToolPalette* palette = m_toolPalette;
    for (GmTool* tool : {static_cast<GmTool*>(m_keepExactBrush), static_cast<GmTool*>(m_deleteExactBrush),
                         static_cast<GmTool*>(m_keepLocalBrush), m_deleteLocalBrush,
                         static_cast<GmTool*>(m_keepGlobalBrush), static_cast<GmTool*>(m_deleteGlobalBrush)})
        palette->addAction(tool->action());
    const auto menuButton = [palette](std::initializer_list<GmTool*> tools) {
        QList<QAction*> actions;
        for (GmTool* tool : tools)
            actions.append(tool->action());
        palette->addActionMenuButton(actions);
    };
    menuButton({m_eraseExactBrush, m_eraseLocalBrush, m_eraseGlobalBrush});
    menuButton({m_complexExactBrush, m_complexLocalBrush, m_complexGlobalBrush});
    menuButton({m_regionRectTool, m_regionPolyTool, m_regionBrushTool});
    for (GmTool* tool : {static_cast<GmTool*>(m_forcedEdgeTool), static_cast<GmTool*>(m_colourSamplerTool),
                         static_cast<GmTool*>(m_testRenderTool), static_cast<GmTool*>(m_cleanTool),
                         static_cast<GmTool*>(m_arrowTool)})
        palette->addAction(tool->action());
    palette->addDoubleClickButton(m_panTool->action(), m_fitOnScreenAction);
    palette->addDoubleClickButton(m_zoomTool->action(), m_actualPixelsAction);
    palette->addSeparator();

    m_backgroundPicker = new BackgroundPicker;
    palette->addWidget(m_backgroundPicker, 2, 2, Qt::AlignCenter);
    connect(m_backgroundPicker, &BackgroundPicker::activeBrushChanged, GmModel::instance(),
            [] { GmModel::instance()->signalDirtyImageSlot(); });
    palette->addSeparator();

    palette->addAction(m_generateMaskAction, 2);

    if (m_colourWorkspace) {
        QAction* toggle = m_colourWorkspace->toggleViewAction();
        auto* entry = new QAction(QIcon(QStringLiteral(":images/palette.png")), toggle->text(), this);
        entry->setCheckable(toggle->isCheckable());
        entry->setChecked(toggle->isChecked());
        entry->setToolTip(m_colourWorkspace->toolTip());
        QString tip = m_colourWorkspace->whatsThis();
        appendShortcutToTip(tip, toggle->shortcut());
        entry->setWhatsThis(tip);
        connect(entry, &QAction::triggered, toggle, &QAction::trigger);
        connect(toggle, &QAction::toggled, entry, &QAction::setChecked);
        m_colourWorkspacePaletteAction = entry;
        palette->addAction(entry, 2);
    }
    palette->addSeparator();

    addScreenModeButtons();
}

void KsMainWindow::addScreenModeButtons()
{
    if (!m_screenModeGroup)
        return;
    static const char* const pictures[] = {":images/scrn-mode-nrml-13x12.png", ":images/scrn-mode-full-menu-13x12.png",
                                           ":images/scrn-mode-full-13x12.png"};
    const QString toggleKey = m_toggleScreenModeAction
                                  ? m_toggleScreenModeAction->shortcut().toString(QKeySequence::NativeText)
                                  : QString();
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    m_screenModeButtons = new QButtonGroup(this);
    const QList<QAction*> modes = m_screenModeGroup->actions();
    for (int i = 0; i < modes.size() && i < 3; ++i) {
        QAction* mode = modes.at(i);
        auto* button = new ToolPaletteButton(row);
        button->setCheckable(true);
        button->setAutoRaise(true);
        const QPixmap picture(QString::fromLatin1(pictures[i]));
        button->setIcon(QIcon(picture));
        button->setIconSize(picture.size() + QSize(3, 4));
        button->setToolTip(mode->toolTip() + QStringLiteral(" (") + toggleKey + QLatin1Char(')'));
        button->setWhatsThis(mode->whatsThis());
        button->setChecked(mode->isChecked());
        m_screenModeButtons->addButton(button, i);
        connect(button, &QAbstractButton::clicked, mode, &QAction::trigger);
        connect(mode, &QAction::toggled, button, &QAbstractButton::setChecked);
        layout->addWidget(button);
    }
    m_toolPalette->addWidget(row, 1, 2, Qt::AlignCenter);
}

void KsMainWindow::setShellHooks()
{
    GmTool::setClearColourHighlightHook([this] {
        if (m_colourWorkspace)
            m_colourWorkspace->colourDisplay()->unHighlight();
    });
    GmZoomWidget::setColourHighlightShownHook([this] { return m_colourWorkspace && m_colourWorkspace->isVisible(); });
    GmZoomWidget::setImageMenuActionsHook([this] {
        return QList<QAction*>{m_autoFillImageAction.data(), m_autoFillKeepAction.data(),
                               m_autoFillDeleteAction.data(), m_generateMaskAction.data()};
    });
    GmZoomWidget::setShowActionsHook([this] {
        GmZoomWidget::ShowActions actions;
        if (m_patchProperties)
            actions.patchProperties = m_patchProperties->toggleViewAction();
        if (m_colourWorkspace)
            actions.colourWorkspace = m_colourWorkspace->toggleViewAction();
        return actions;
    });
}
void KsMainWindow::connectZoomThroughNavigator()
{
    if (!m_navigatorWindow)
        return;
    NavigatorWindow* navigator = m_navigatorWindow;
    if (m_zoomInAction) {
        connect(m_zoomInAction, &QAction::triggered, navigator, &NavigatorWindow::zoomInSlot);
        connect(navigator, &NavigatorWindow::zoomInEnabled, m_zoomInAction, &QAction::setEnabled);
    }
    if (m_zoomOutAction) {
        connect(m_zoomOutAction, &QAction::triggered, navigator, &NavigatorWindow::zoomOutSlot);
        connect(navigator, &NavigatorWindow::zoomOutEnabled, m_zoomOutAction, &QAction::setEnabled);
    }
    if (m_zoomTool) {
        connect(navigator, &NavigatorWindow::zoomSliderChange, m_zoomTool, &ZoomTool::setZoomSliderValue);
        connect(m_zoomTool, &ZoomTool::zoomSliderChanged, navigator, &NavigatorWindow::syncBoxFromSliderSlot);
    }
}

void KsMainWindow::connectPatchTools()
{
    // A patch just drawn shows its properties and its colours, and the Select tool takes over.
    for (GmTool* tool : {static_cast<GmTool*>(m_regionRectTool), static_cast<GmTool*>(m_regionPolyTool),
                         static_cast<GmTool*>(m_regionBrushTool)}) {
        if (!tool)
            continue;
        if (m_patchProperties)
            connect(tool, &GmTool::userCreatedRegion, m_patchProperties, &GmSubWindow::userShow);
        connect(tool, &GmTool::userCreatedRegion, this, &KsMainWindow::regionCreatedSlot);
        if (m_colourWorkspace)
            connect(tool, &GmTool::userCreatedRegion, m_colourWorkspace, &GmSubWindow::userShow);
    }
}

void KsMainWindow::connectSubWindowsToViewTabs()
{
    const ImageView::ViewTab tab = m_imageView->currentViewTab();
    for (GmSubWindow* window : subWindows()) {
        connect(m_imageView, &ImageView::viewTabChanged, window,
                [window](ImageView::ViewTab changed) { window->viewTabChangedSlot(int(changed)); });
        window->toggleViewAction()->setEnabled((window->usableViewTabs() & int(tab)) != 0);
        window->updateVisibility();
    }
}

void KsMainWindow::connectViewSlots()
{
    // Tab and Shift+Tab on the image, wherever the focus is inside it.
    for (TabFilter* filter : {m_imageView->tabFilter(), m_imageView->workspace()->tabFilter(),
                              m_imageView->canvas() ? m_imageView->canvas()->tabFilter() : nullptr})
        if (filter)
            connect(filter, &TabFilter::tabPressed, this, &KsMainWindow::tabPressed);

    GmZoomWidget::setBackgroundBrushHook([this] { return backgroundBrush(); });

    if (m_viewOptions && m_resolutionGroup) {
        connect(m_viewOptions->resolutionSelector(), QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &KsMainWindow::syncResolutionMenuSlot);
        connect(m_resolutionGroup, &QActionGroup::triggered, this, &KsMainWindow::syncResolutionComboSlot);
    }

    if (m_fileHandler) {
        connect(m_fileHandler, &FileHandler::recentFilesChanged, this, &KsMainWindow::recentFilesChanged);
        connect(m_fileHandler, &FileHandler::recentProjectsChanged, this, &KsMainWindow::recentProjectsChanged);
        recentFilesChanged(m_fileHandler->recentFiles());
        recentProjectsChanged(m_fileHandler->recentProjects());
    }
}

QRect KsMainWindow::availableScreenGeometry() const
{
    QScreen* screen = this->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void KsMainWindow::restoreWindowState()
{
    // Until the full-screen modes or the user put the panels to use.
    m_defaultPlacesFollowWindow = true;
    QSettings settings;
    if (settings.value(QLatin1String(kPersistVersionKey), -1).toInt() != kPersistVersion) {
        useDefaultLayout();
    } else {
        restoreGeometry(settings.value(QLatin1String(kGeometryKey)).toByteArray());
        restoreState(settings.value(QLatin1String(kChildStateKey)).toByteArray(), kPersistVersion);
        m_maximized = settings.value(QLatin1String(kMaximizedKey), true).toBool();
        m_normalGeometry = settings.value(QLatin1String(kNormalGeometryKey)).toRect();
        const int mode = settings.value(QLatin1String(kScreenModeKey), 0).toInt();
        // A mode this program does not know would leave the window in none.
        m_screenMode = mode >= 0 && mode <= 2 ? mode : 0;
        for (GmSubWindow* window : subWindows())
            window->restoreState(settings.value(subWindowKey(window)).toByteArray());
        if (m_toolPalette)
            m_toolPalette->restoreState(settings.value(subWindowKey(m_toolPalette)).toByteArray());
        setScreenMode(m_screenMode, true);
        // A quiet dock leaves the panels' visibility to be settled here.
        for (GmSubWindow* window : subWindows())
            window->updateVisibility();
        if (m_screenMode == 0 && m_toolPalette && m_toolPalette->state().visible && m_toolPalette->state().floating)
            m_toolPalette->show();
    }
    // The places depend on the sizes the panels take once laid out.
    QTimer::singleShot(0, this, &KsMainWindow::setDefaultSubWindowStateSlot);
}

void KsMainWindow::useDefaultLayout()
{
    // Un-maximising later gives four fifths of the screen, centred.
    m_normalGeometry = WindowLayoutRules::insetByTenth(availableScreenGeometry());
    setGeometry(m_normalGeometry);
    // Docked first: docking takes a panel out of sight, the visibility is settled afterwards.
    if (m_dock)
        for (GmSubWindow* window : subWindows())
            window->setFloating(false, true);
    for (GmSubWindow* window : {static_cast<GmSubWindow*>(m_navigatorWindow), static_cast<GmSubWindow*>(m_edgeFinder),
                                static_cast<GmSubWindow*>(m_blendingWindow), static_cast<GmSubWindow*>(m_tipWindow)}) {
        if (window) {
            window->setUserVisible(true);
            window->updateVisibility();
        }
    }
    m_screenMode = 0;
    if (m_screenModeGroup && !m_screenModeGroup->actions().isEmpty())
        m_screenModeGroup->actions().first()->setChecked(true);
    if (m_toolPalette) {
        m_toolPalette->setAllowedAreas(Qt::LeftDockWidgetArea);
        m_toolPalette->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable
                                   | QDockWidget::DockWidgetFloatable);
        m_toolPalette->setFloating(false);
    }
    if (m_dock)
        m_dock->childVisibilityChanged();
    menuBar()->show();
    showMaximized();
}

void KsMainWindow::setScreenMode(int mode, bool force)
{
    if (mode < 0 || mode > 2)
        return;
    if (m_screenMode == 0 && mode != 0)
        rememberStandardGeometry();
    if (mode != 0)
        m_defaultPlacesFollowWindow = false;
    const Qt::WindowStates windowed = windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen);
    switch (mode) {
    case 0:
        setPanelsFloating(false, force);
        menuBar()->show();
        setUpdatesEnabled(false);
        changeWindowFlags(Qt::Window);
        setWindowState(windowed);
        // Nothing remembered yet: the window keeps the geometry it has.
        if (m_normalGeometry.isValid())
            setGeometry(WindowLayoutRules::keptInside(m_normalGeometry, availableScreenGeometry()));
        if (m_maximized)
            setWindowState(windowState() | Qt::WindowMaximized);
        setUpdatesEnabled(true);
        show();
        break;
    case 1:
        setPanelsFloating(true, force);
        menuBar()->show();
        setUpdatesEnabled(false);
        changeWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        setWindowState(windowed);
        setGeometry(availableScreenGeometry());
        setUpdatesEnabled(true);
        show();
        break;
    default:
        setPanelsFloating(true, force);
        menuBar()->hide();
        setUpdatesEnabled(false);
        changeWindowFlags(Qt::Window);
        setWindowState((windowState() & ~Qt::WindowMaximized) | Qt::WindowFullScreen);
        setUpdatesEnabled(true);
        show();
        // Without the menu the way back has to be on screen.
        if (m_screenModeGroup && m_screenModeGroup->actions().size() > 2)
            TipWindow::showActionHelp(m_screenModeGroup->actions().at(2));
        break;
    }
    if (m_screenModeGroup && mode < m_screenModeGroup->actions().size())
        m_screenModeGroup->actions().at(mode)->setChecked(true);
    m_screenMode = mode;
    if (isVisible())
        activateWindow();
}

void KsMainWindow::rememberStandardGeometry()
{
    m_maximized = isMaximized();
    // A window maximised before it was ever shown normally has no normal geometry of its own:
    // the one it was given stays.
    const QRect normal = normalGeometry();
    if (normal.isValid())
        m_normalGeometry = normal;
}

void KsMainWindow::changeWindowFlags(Qt::WindowFlags flags)
{
    if (windowFlags() == flags)
        return;
    // QWidget::setWindowFlags hides a shown window and maps it anew: a window manager then
    // takes it in as a new window, stacks it over the floating panels it no longer counts as
    // its own, and drops the state changes and key presses that come meanwhile.
    if (isVisible() && windowHandle()) {
        overrideWindowFlags(flags);
        windowHandle()->setFlags(flags);
    } else {
        setWindowFlags(flags);
    }
}

void KsMainWindow::setPanelsFloating(bool full, bool force)
{
    const QDockWidget::DockWidgetFeatures features =
        QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable;
    if (ToolPalette* palette = m_toolPalette) {
        if (full) {
            // The user's own choice, to go back to in Standard mode.
            if (m_screenMode == 0)
                palette->setFloatingChoice(palette->isFloating());
            palette->setAllowedAreas(Qt::NoDockWidgetArea);
            palette->setFeatures(features);
            if (!palette->isFloating() || force) {
                palette->setFloating(true);
                const QPoint saved = palette->state().position;
                if (saved != QPoint(-1, -1))
                    palette->move(saved);
            }
        } else {
            if (palette->isFloating() && !force)
                palette->setSavedPosition(palette->pos());
            palette->setAllowedAreas(Qt::LeftDockWidgetArea);
            palette->setFeatures(features);
            palette->setFloating(palette->state().floating);
        }
    }
    if (m_dock) {
        for (GmSubWindow* window : subWindows())
            window->setFloating(full, force);
        m_dock->childVisibilityChanged();
    }
    // The window's minimum size follows the panels it now holds before it is given a geometry.
    if (layout())
        layout()->activate();
}

void KsMainWindow::setScreenModeNormalSlot()
{
    setScreenMode(0, false);
}

void KsMainWindow::setScreenModeFullWithMenuSlot()
{
    setScreenMode(1, false);
}

void KsMainWindow::setScreenModeFullSlot()
{
    setScreenMode(2, false);
}

void KsMainWindow::toggleScreenModeSlot()
{
    setScreenMode((m_screenMode + 1) % 3, false);
}

void KsMainWindow::tabPressed(bool backtab)
{
    m_tabHideState = WindowLayoutRules::nextTabHideState(m_tabHideState, backtab);
    if (m_optionsToolBar)
        m_optionsToolBar->setVisible(m_tabHideState != 1);
    if (m_toolPalette)
        m_toolPalette->setSuppressed(m_tabHideState == 1);
    for (GmSubWindow* window : subWindows()) {
        window->setSuppressed(m_tabHideState != 0);
        window->updateVisibility();
    }
    activateWindow();
}

void KsMainWindow::setDefaultSubWindowStateSlot()
{
    const QRect work = availableScreenGeometry();
    int top = work.top();
    if (m_optionsToolBar)
        top = m_optionsToolBar->mapToGlobal(m_optionsToolBar->rect().bottomLeft()).y() + 12;
    const QList<GmSubWindow*> windows = subWindows();
    int gap = frameGeometry().height() - geometry().height();
    for (GmSubWindow* window : windows)
        gap = std::max(gap, window->frameGeometry().height() - window->geometry().height());

    QSettings settings;
    // A panel the user has placed keeps its place.
    const auto unplaced = [&settings](const QObject* window) {
        return settings.value(subWindowKey(window)).toByteArray().size() <= 1;
    };
    const auto place = [](GmSubWindow* window, const QRect& rect, bool applyNow) {
        window->setDefaultPosition(rect.topLeft());
        window->setDefaultSize(rect.size());
        if (applyNow && window->isWindow()) {
            window->move(rect.topLeft());
            window->resize(rect.size());
        }
    };

    int left = work.left() + 8 + gap;
    // While the places follow the window the palette's is still the one given here.
    m_paletteDefaultPlaced = m_toolPalette
                             && (m_toolPalette->state().position == QPoint(-1, -1)
                                 || (m_paletteDefaultPlaced && m_defaultPlacesFollowWindow));
    if (m_paletteDefaultPlaced) {
        const QPoint position(work.left() + 8, top);
        m_toolPalette->setSavedPosition(position);
        if (m_toolPalette->isFloating())
            m_toolPalette->move(position);
        left += m_toolPalette->sizeHint().width();
    }
    if (m_colourWorkspace && unplaced(m_colourWorkspace))
        place(m_colourWorkspace, QRect(QPoint(left, top), m_colourWorkspace->sizeHint()), true);
    if (m_patchProperties && unplaced(m_patchProperties)) {
        const int below = m_colourWorkspace ? m_colourWorkspace->height() + 3 * gap : 0;
        place(m_patchProperties, QRect(QPoint(left, top + below), m_patchProperties->sizeHint()), true);
    }

    QList<GmSubWindow*> column;
    for (GmSubWindow* window : {static_cast<GmSubWindow*>(m_navigatorWindow), static_cast<GmSubWindow*>(m_edgeFinder),
                                static_cast<GmSubWindow*>(m_blendingWindow), static_cast<GmSubWindow*>(m_tipWindow)})
        if (window)
            column.append(window);
    int columnWidth = 0;
    QList<int> heights;
    for (GmSubWindow* window : column) {
        columnWidth = std::max(columnWidth, window->sizeHint().width());
        heights.append(window->isWindow() && window->isVisible() ? window->height() : window->sizeHint().height());
    }
    const QList<QRect> stacked = WindowLayoutRules::stackedColumn(heights, work.right() - 26 - columnWidth,
                                                                  columnWidth, top, work.bottom(), gap);
    for (int i = 0; i < column.size(); ++i)
        place(column.at(i), stacked.at(i), unplaced(column.at(i)));
}

void KsMainWindow::followWindowWithDefaultPlaces()
{
    if (!m_defaultPlacesFollowWindow)
        return;
    // A panel with a native window of its own has been placed by the window manager and may
    // have been moved by the user: the places are in use from then on.
    const auto opened = [](const QWidget* window) { return window && window->testAttribute(Qt::WA_WState_Created); };
    if (opened(m_colourWorkspace) || opened(m_patchProperties) || (m_toolPalette && m_toolPalette->isFloating())) {
        m_defaultPlacesFollowWindow = false;
        return;
    }
    setDefaultSubWindowStateSlot();
}

void KsMainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    // Under a window manager the window's place, its tool bar's and its frame are known only
    // once the manager has taken it in, after the first default layout.
    followWindowWithDefaultPlaces();
}

void KsMainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    followWindowWithDefaultPlaces();
}

void KsMainWindow::syncResolutionMenuSlot(int index)
{
    if (!m_resolutionGroup)
        return;
    const QList<QAction*> entries = m_resolutionGroup->actions();
    if (index >= 0 && index < entries.size())
        entries.at(index)->setChecked(true);
}

void KsMainWindow::syncResolutionComboSlot(QAction* action)
{
    if (!m_viewOptions || !action)
        return;
    QComboBox* combo = m_viewOptions->resolutionSelector();
    const int index = combo->findText(action->text(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        combo->setCurrentIndex(index);
}

void KsMainWindow::fillRecentMenu(QMenu* menu, QSignalMapper* mapper, const QStringList& paths)
{
    if (!menu)
        return;
    for (QAction* old : menu->actions())
        mapper->removeMappings(old);
    menu->clear();
    menu->setEnabled(!paths.isEmpty());
    for (const QString& path : paths) {
        QAction* entry = menu->addAction(path);
        connect(entry, &QAction::triggered, mapper, QOverload<>::of(&QSignalMapper::map));
        mapper->setMapping(entry, path);
    }
}

void KsMainWindow::recentFilesChanged(const QStringList& files)
{
    fillRecentMenu(m_recentFilesMenu, m_recentFilesMapper, files);
}

void KsMainWindow::recentProjectsChanged(const QStringList& projects)
{
    fillRecentMenu(m_recentProjectsMenu, m_recentProjectsMapper, projects);
}

void KsMainWindow::generateMaskSlot()
{
    GmModel::instance()->generateMaskSlot();
}

void KsMainWindow::loadNamedImage(const NamedImage& image)
{
    auto* source = new KsSourceImage(image);
    // The handler owns what it accepts.
    if (!source->isValid() || !m_fileHandler || !m_fileHandler->setSourceImage(source, nullptr))
        delete source;
}

void KsMainWindow::loadImage(const QString& path)
{
    if (!m_fileHandler)
        return;
    QString file = path;
    if (file.isEmpty()) {
        file = m_fileHandler->askImageFilename(this);
        if (file.isEmpty())
            return;
    }
    // Through the handler's own entry, which asks before unsaved work goes.
    m_fileHandler->loadFile(file);
}

void KsMainWindow::loadImage()
{
    loadImage(QString());
}

void KsMainWindow::receivedTextSlot(const QString&) {}

void KsMainWindow::fileSaveSlot()
{
    // The handler's Save: Save As without a cut-out file yet, nothing without an image.
    if (m_fileHandler)
        m_fileHandler->fileSaveSlot();
}

QBrush KsMainWindow::backgroundBrush() const
{
    return m_backgroundPicker ? m_backgroundPicker->primaryBrush() : QBrush(Qt::white);
}

void KsMainWindow::helpSlot()
{
    const QString address = KsApp::helpUrl() + QStringLiteral("/About_Kestrine.htm");
    if (!g_helpLogged) {
        g_helpLogged = true;
        Klogger::stream() << "Help is at hand: " << address << Klogger::endl;
    }
    Browser::openOnDesktop(QUrl(address), this);
}

void KsMainWindow::tutorialsSlot()
{
    Browser::openOnDesktop(QUrl(KsApp::tutorialsUrl()), this);
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
    KsApp* app = KsApp::instance();
    if (!app || !m_fileHandler)
        return;
    if (app->launchMode() == LaunchStandalone) {
        const QStringList arguments = QCoreApplication::arguments();
        if (arguments.size() > 1)
            m_fileHandler->loadFile(arguments.at(1));
        return;
    }
    // The launch keeps the images it prepared; the model only refers to them.
    m_fileHandler->setSourceImage(app->sourceImage(), app->outputImage());
}

void KsMainWindow::switchToWorkspaceTab()
{
    m_imageView->ensureTabAllows(ImageView::Workspace, ImageView::Workspace);
}

void KsMainWindow::runStartUpChecks()
{
    // Images dropped on the canvas come to this window.
    GmZoomWidget::setDropSinkHook(&ImageReceiver::receiveMimeData);
    if (KsApp* app = KsApp::instance())
        app->runStartUpChecks();
}

void KsMainWindow::receivedImageSlot(NamedImage image)
{
    if (!okToClose(tr("Unsaved changes", "[all]")))
        return;
    auto* source = new KsSourceImage(image);
    if (!m_fileHandler || !m_fileHandler->installSourceImage(source, nullptr)) {
        delete source;
        return;
    }
    if (m_noTool && GmTool::currentTool() != m_noTool)
        m_noTool->installSlot();
}

void KsMainWindow::saveWindowState()
{
    QSettings settings;
    settings.setValue(QLatin1String(kPersistVersionKey), kPersistVersion);
    settings.setValue(QLatin1String(kGeometryKey), saveGeometry());
    settings.setValue(QLatin1String(kScreenModeKey), m_screenMode);
    // The stored layout has the palette and the tool bar shown, even while Tab hides them.
    if (m_toolPalette)
        m_toolPalette->setSuppressed(false);
    if (m_optionsToolBar && m_optionsToolBar->isHidden())
        m_optionsToolBar->show();
    settings.setValue(QLatin1String(kChildStateKey), saveState(kPersistVersion));
    for (GmSubWindow* window : subWindows())
        settings.setValue(subWindowKey(window), window->saveState());
    // Full-screen modes keep what Standard mode last had.
    if (m_screenMode == 0) {
        if (m_toolPalette)
            m_toolPalette->setFloatingChoice(m_toolPalette->isFloating());
        rememberStandardGeometry();
    }
    if (m_toolPalette)
        settings.setValue(subWindowKey(m_toolPalette), m_toolPalette->saveState());
    settings.setValue(QLatin1String(kMaximizedKey), m_maximized);
    settings.setValue(QLatin1String(kNormalGeometryKey), m_normalGeometry);
}

void KsMainWindow::showWelcomeTip()
{
    TipWindow::setTipHtml(
        tr("<p>Welcome to <b>%1</b>&mdash;%2.</p><p><b>How to use the Tip Window?</b></p><p>Point at an area of "
           "interest in the interface and hold for a couple of seconds. In this <b>Tip</b> window you will "
           "find:</p><p><ul><li>A brief description of the area.</li><li>Details on how to use it.</li><li>"
           "Suggestions of what to consider doing next.</li><li>Link(s) to the manual for further "
           "reading.</li></ul></p>",
           "[tip]")
            .arg(productName(), tr("the #1 rated masking and cut-out tool", "[ks3]")));
}

bool KsMainWindow::savedSinceLastChange() const
{
    // Nothing was submitted as a change since the cut-out or the project was saved, or the
    // project loaded.
    if (!m_engineWorker || !m_fileHandler)
        return false;
    const int counter = m_engineWorker->changeCounter();
    return counter == m_fileHandler->cutoutSavedStamp() || counter == m_fileHandler->projectSavedStamp();
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

void KsMainWindow::updateActionEnabledness(const KsSourceImage* image)
{
    setWindowTitleSlot();
    const bool loaded = image != nullptr;
    enable(m_openAction, true);
    enable(m_loadProjectAction, true);
    for (QAction* action : {m_closeAction.data(), m_saveAction.data(), m_saveAsAction.data(), m_zoomInAction.data(),
                            m_zoomOutAction.data(), m_fitOnScreenAction.data(), m_actualPixelsAction.data(),
                            m_autoFillKeepAction.data(), m_autoFillDeleteAction.data(), m_showEdgesAction.data(),
                            m_saveProjectAction.data(), m_saveProjectAsAction.data()})
        enable(action, loaded);
    if (m_viewOptions)
        m_viewOptions->setShowVectorEdgesEnabled(loaded);
    // Offered once a project file is open.
    enable(m_revertProjectAction, m_fileHandler && !m_fileHandler->projectPath().isEmpty());
    for (QMenu* recent : {m_recentFilesMenu.data(), m_recentProjectsMenu.data()})
        if (recent && !recent->isEmpty())
            recent->setEnabled(true);
}

void KsMainWindow::statusesPresentChangedSlot(quint8 present)
{
    const bool keep = present & kKeepBit;
    const bool remove = present & kDeleteBit;
    const bool blend = present & kBlendBit;
    const bool anyMask = keep || remove || blend;
    enable(m_cleanAllAction, anyMask);
    enable(m_cleanKeepAction, keep);
    enable(m_cleanDeleteAction, remove);
    enable(m_cleanComplexAction, blend);
    enable(m_cleanLastSelectionAction, anyMask);
    enable(m_autoFillImageAction, keep != remove);
    updateGenerateMaskEnablednessSlot();
    enable(m_revertMaskAction, anyMask);
    const GmModel* model = GmModel::existingInstance();
    enable(m_revertAllAction, anyMask || (model && !model->arrowTargets().isEmpty()));
    enable(m_saveAndApplyAction, keep || remove);
}

void KsMainWindow::updateGenerateMaskEnablednessSlot()
{
    if (!m_generateMaskAction)
        return;
    const GmModel* model = GmModel::existingInstance();
    bool usable = false;
    if (model) {
        const SegmentationStuff* segmentation = model->segmentation();
        // A pending analysis may still be writing the completion flag: ask it only without one.
        const bool analysed = segmentation
                              && (segmentation->hasPendingAnalysis()
                                  || segmentation->isAnalysed());
        usable = analysed && (model->statusArray()->statusesPresent() & (kKeepBit | kDeleteBit)) != 0;
    }
    m_generateMaskAction->setEnabled(usable);
}

void KsMainWindow::activeRegionChangedSlot(GmRegion* region)
{
    const GmModel* model = GmModel::existingInstance();
    GmAction* patchKeep = model ? model->autoFillPatchWithKeepAction() : nullptr;
    GmAction* patchDelete = model ? model->autoFillPatchWithDeleteAction() : nullptr;
    const QKeySequence keepKey(tr("Ctrl+Shift+K", "[all]"));
    const QKeySequence deleteKey(tr("Ctrl+Shift+D", "[all]"));
    // The keys leave one action before they reach the other: never on two at once.
    if (region) {
        if (m_autoFillKeepAction)
            m_autoFillKeepAction->setShortcut(QKeySequence());
        if (m_autoFillDeleteAction)
            m_autoFillDeleteAction->setShortcut(QKeySequence());
        if (patchKeep)
            patchKeep->setShortcut(keepKey);
        if (patchDelete)
            patchDelete->setShortcut(deleteKey);
    } else {
        if (patchKeep)
            patchKeep->setShortcut(QKeySequence());
        if (patchDelete)
            patchDelete->setShortcut(QKeySequence());
        if (m_autoFillKeepAction)
            m_autoFillKeepAction->setShortcut(keepKey);
        if (m_autoFillDeleteAction)
            m_autoFillDeleteAction->setShortcut(deleteKey);
    }
}

void KsMainWindow::regionCreatedSlot()
{
    GmTool* select = GmTool::selectTool();
    if (select && select->isAvailable()) {
        if (GmTool::currentTool() != select && select->action())
            select->action()->trigger();
    } else {
        revalidateCurrentTool();
    }
}

void KsMainWindow::dvUndoStackChangedSlot(std::uint32_t undoCount, std::uint32_t redoCount)
{
    if (undoCount != kCountUnchanged)
        g_undoCount = undoCount;
    if (redoCount != kCountUnchanged)
        g_redoCount = redoCount;
    // An undo must not overtake the commands before it; a redo may.
    const bool idle = !m_engineWorker || (m_engineWorker->isQueueEmpty() && !m_engineWorker->isBusy());
    enable(m_undoAction, g_undoCount != 0 && idle);
    enable(m_redoAction, g_redoCount != 0);
}

void KsMainWindow::updateUndoRedoEnabledness()
{
    dvUndoStackChangedSlot(kCountUnchanged, kCountUnchanged);
}

void KsMainWindow::updateShowEdgesSlot()
{
    if (!m_viewOptions)
        return;
    const GmModel* model = GmModel::existingInstance();
    const GmRegion* patch = model ? model->activeRegion() : nullptr;
    bool available = false;
    if (patch && patch->segmentation().isChecked()) {
        // The patch's own analysis decides.
        if (!m_patchProperties)
            return;
        available = m_patchProperties->vectorEdgesAvailable();
    } else {
        if (!m_edgeFinder)
            return;
        const SegmentationStuff* record = m_edgeFinder->segmentation();
        available = record && EDOs::vectorEdgesUseful(record->edos().sensitivity().current());
    }
    m_viewOptions->setShowVectorEdgesEnabled(available);
}

void KsMainWindow::updateCancelEnabledness()
{
    enable(m_cancelAction, m_engineWorker && m_engineWorker->canCancel());
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

// ---- Commands -------------------------------------------------------------------------------

void KsMainWindow::connectNotImplemented(QAction* action)
{
    connect(action, &QAction::triggered, this, [this, action] { actionNotImplementedSlot(action); });
}

void KsMainWindow::invokePreferencesSlot()
{
    KsAppPrefsDialog dialog(this);
    dialog.setModal(true);
    if (dialog.exec() == QDialog::Accepted)
        emit preferencesChanged();
}

void KsMainWindow::submitClean(int classes)
{
    if (m_engineWorker)
        m_engineWorker->submit(new DvCmdDespeckleSelection(GmModel::instance(), classes),
                               DravikThread::SubmitCancellable);
}

void KsMainWindow::cleanAllSlot()
{
    submitClean(kKeepBit | kDeleteBit | kBlendBit);
}

void KsMainWindow::cleanKeepSlot()
{
    submitClean(kKeepBit);
}

void KsMainWindow::cleanDeleteSlot()
{
    submitClean(kDeleteBit);
}

void KsMainWindow::cleanComplexSlot()
{
    submitClean(kBlendBit);
}

void KsMainWindow::cleanLastSelectionSlot()
{
    submitClean(0);
}

void KsMainWindow::saveAndApplySlot()
{
    m_imageView->ensureTabAllows(ImageView::CutOut, ImageView::CutOut);
    m_promptOnDiscard = false;
    if (m_engineWorker && m_engineWorker->changeCounter() != DvCmdGenerateMask::cutoutStamp()) {
        // Uncancellable: closing the image drops only what may be cancelled.
        m_engineWorker->submit(new DvCmdGenerateMask(GmModel::instance()), DravikThread::SubmitUncancellable);
        m_applyStamp = m_engineWorker->changeCounter();
    }
    close();
}

void KsMainWindow::settleSaveAndApply()
{
    // A completed cut-out stamps the counter it ran at, which is at least the one recorded when
    // it was asked for; a refused, discarded or failed one leaves an older stamp.
    if (m_applyStamp >= 0 && DvCmdGenerateMask::cutoutStamp() < m_applyStamp) {
        Klogger::stream() << "The cut-out was not made: nothing is handed back" << Klogger::endl;
        setHandBack(HandBackNothing);
    }
}

void KsMainWindow::revertSlot()
{
    enable(m_revertMaskAction, false);
    m_imageView->ensureTabAllows(ImageView::Workspace, ImageView::Workspace);
    GmModel* model = GmModel::instance();
    if (m_engineWorker)
        m_engineWorker->submit(new DvCmdSelect(model, nullptr, kKeepBit | kDeleteBit | kBlendBit, 1),
                               DravikThread::SubmitCancellable);
    model->revertMask();
    if (m_showEdgesAction)
        m_showEdgesAction->setChecked(true);
}

void KsMainWindow::revertAllSlot()
{
    enable(m_revertAllAction, false);
    GmModel* model = GmModel::instance();
    model->clearTestRenderRect();
    model->resetArrowTargets();
    model->deleteAllArrowTargets();
    revertSlot();
}

void KsMainWindow::homePageSlot()
{
    Browser::openOnDesktop(QUrl(KsApp::distributorBaseUrl()), this);
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
    const auto drop = [](auto*& tool) {
        delete tool;
        tool = nullptr;
    };
    drop(m_colourSamplerTool);
    drop(m_keepExactBrush);
    drop(m_keepLocalBrush);
    drop(m_keepGlobalBrush);
    drop(m_deleteExactBrush);
    drop(m_deleteLocalBrush);
    drop(m_deleteGlobalBrush);
    drop(m_complexExactBrush);
    drop(m_complexLocalBrush);
    drop(m_complexGlobalBrush);
    drop(m_panTool);
    drop(m_eraseExactBrush);
    drop(m_eraseLocalBrush);
    drop(m_eraseGlobalBrush);
    drop(m_regionPolyTool);
    drop(m_regionRectTool);
    drop(m_regionBrushTool);
    drop(m_testRenderTool);
    drop(m_arrowTool);
    drop(m_forcedEdgeTool);
    drop(m_cleanTool);
    drop(m_zoomTool);
    drop(m_backgroundPicker);

    QPointer<ToolOptions> options = m_noTool ? m_noTool->toolOptions() : nullptr;
    drop(m_noTool);
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

void KsMainWindow::subWindowEscapeSlot()
{
    // The panels announce Escape without its event: the window acts on one of its own.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    escapeKeyPressedSlot(&escape);
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
            settleSaveAndApply();
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
        settleSaveAndApply();
        event->accept();
        return;
    }
    m_closing = true;
    // A session that was waiting for the queue gave the window back when it was closed.
    setEnabled(false);
    connect(m_engineWorker, &DravikThread::closureComplete, this, &QWidget::close);
    event->ignore();
}
