// The main window: its construction, panels and tools, start-up, keys and close.
#include "shell/KsMainWindow.h"

#include "canvas/GmZoomWidget.h"
#include "canvas/KsWorkspace.h"
#include "canvas/Navigator.h"
#include "canvas/TabFilter.h"
#include "colour/ColourWorkspace.h"
#include "colour/ColourWorkspaceSelectTool.h"
#include "document/ForcedEdge.h"
#include "document/GmAction.h"
#include "document/GmColor.h"
#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsSourceImage.h"
#include "document/NamedImage.h"
#include "document/PolyRegion.h"
#include "document/Prompt.h"
#include "document/RectRegion.h"
#include "document/Texts.h"
#include "engine/CommandHooks.h"
#include "engine/DravikThread.h"
#include "panels/FakeDock.h"
#include "panels/GmSubWindow.h"
#include "panels/ImageBlendingWindow.h"
#include "panels/ImageEdgeFinder.h"
#include "panels/NavigatorWindow.h"
#include "panels/RegionalProperties.h"
#include "panels/TipWindow.h"
#include "panels/ToolOptions.h"
#include "panels/ToolPalette.h"
#include "panels/ViewOptions.h"
#include "shell/BackgroundPicker.h"
#include "shell/FileHandler.h"
#include "shell/ImageReceiver.h"
#include "shell/Klogger.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindowHelpers.h"
#include "shell/Tunnelry.h"
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
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QProgressBar>
#include <QSignalMapper>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

using namespace mainwindow;

namespace {

KsMainWindow* g_mainWindow = nullptr;

} // namespace

KsMainWindow::KsMainWindow() : QMainWindow(nullptr)
{
    // The tools and prompts reach the window through this while it is being built; the layers
    // below the shell through the hook, which answers the same.
    g_mainWindow = this;
    CommandHooks::setMainWindowHook([] { return static_cast<QWidget*>(KsMainWindow::instance()); });

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
    connect(worker, &DravikThread::outOfMemory, this, &KsMainWindow::outOfMemorySlot);
    connect(worker, &DravikThread::queueEmptied, this, [this] { m_outOfMemoryTold = false; });
    connect(worker, &DravikThread::submissionRejectedLibraryDead, this,
            &KsMainWindow::submissionRejectedOnDeadLibSlot);
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
    m_colourWorkspace->installEventFilter(this);
    connect(m_colourWorkspace, &GmSubWindow::escapeKeyPressed, this, &KsMainWindow::subWindowEscapeSlot);

    m_patchProperties = new RegionalProperties(this, m_windowMenu, QStringLiteral("F9"));
    m_patchProperties->setFloating(true, false);
    m_patchProperties->installEventFilter(this);
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

    createToolPalette();

    // The tools' and the panels' keys work with the menu bar hidden too; the menus got these
    // entries after the first pass over them.
    for (const QMenu* menu :
         {m_imageMenu.data(), m_brushMenu.data(), m_patchMenu.data(), m_viewMenu.data(), m_windowMenu.data()})
        addMenuActionsTo(menu, this);

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
        // The selector's own handler asks the model first; when the user refuses the change it
        // has put the selector back before this runs, so the menu takes what the selector
        // shows now rather than the choice that was refused.
        const QComboBox* selector = m_viewOptions->resolutionSelector();
        connect(selector, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                [this, selector] { syncResolutionMenuSlot(selector->currentIndex()); });
        // A resolution the model chooses itself (for a large image, from a project) reaches the
        // selector without its signal; the menu follows it there.
        connect(GmModel::instance(), &GmModel::resolutionChanged, this,
                [this, selector] { syncResolutionMenuSlot(selector->currentIndex()); });
        connect(m_resolutionGroup, &QActionGroup::triggered, this, &KsMainWindow::syncResolutionComboSlot);
    }

    if (m_fileHandler) {
        connect(m_fileHandler, &FileHandler::recentFilesChanged, this, &KsMainWindow::recentFilesChanged);
        connect(m_fileHandler, &FileHandler::recentProjectsChanged, this, &KsMainWindow::recentProjectsChanged);
        recentFilesChanged(m_fileHandler->recentFiles());
        recentProjectsChanged(m_fileHandler->recentProjects());
    }
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
