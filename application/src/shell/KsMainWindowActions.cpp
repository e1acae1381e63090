// The main window's actions and menus, what enables them, and the slots that are not engine commands.
#include "shell/KsMainWindow.h"

#include "document/EDOs.h"
#include "document/GmAction.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/GmStatusArray.h"
#include "document/KsSourceImage.h"
#include "document/SegmentationStuff.h"
#include "document/Texts.h"
#include "engine/DravikThread.h"
#include "panels/Browser.h"
#include "panels/ImageEdgeFinder.h"
#include "panels/RegionalProperties.h"
#include "panels/ViewOptions.h"
#include "shell/DistributorRecord.h"
#include "shell/FileHandler.h"
#include "shell/Klogger.h"
#include "shell/KsApp.h"
#include "shell/KsAppPrefsDialog.h"
#include "shell/KsMainWindowHelpers.h"
#include "tools/GmTool.h"

#include <QActionGroup>
#include <QComboBox>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QSignalMapper>
#include <QStatusBar>
#include <QUrl>

#include <utility>

using namespace mainwindow;

namespace {

// Only the first request of a run goes to the log.
bool g_helpLogged = false;

QString helpLink(const char* topic)
{
    return learnMoreParagraph(KsApp::helpUrl() + QLatin1Char('/') + QLatin1String(topic));
}

} // namespace

// ---- Actions and menus ------------------------------------------------------------------

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

// ---- Slots of the view and the model ----------------------------------------------------

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

// ---- Action slots -----------------------------------------------------------------------

void KsMainWindow::actionNotImplementedSlot(QAction* action)
{
    if (action)
        statusBar()->showMessage(QStringLiteral("Action \"%1\" not yet implemented").arg(action->text()), 5000);
}

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

void KsMainWindow::homePageSlot()
{
    Browser::openOnDesktop(QUrl(KsApp::distributorBaseUrl()), this);
}
