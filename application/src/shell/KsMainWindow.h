#pragma once
// The program's one top-level window: the tabbed image view beside the dock column, the
// engine worker with its commands' feedback in the status bar, the window title, the keys
// that reach the window, and the close that waits for the engine and records the hand-back
// status. It registers itself process-wide first thing, before any child exists, and is
// deleted when closed.

#include "canvas/ImageView.h"
#include "document/NamedImage.h"

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QBrush>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>

#include <cstdint>

class ArrowTool;
class BackgroundPicker;
class BrushingTool;
class CleanTool;
class ColourWorkspace;
class ColourWorkspaceSelectTool;
class DravikCommand;
class DravikThread;
class FakeDock;
class FileHandler;
class ForcedEdgeTool;
class GmSubWindow;
class GmTool;
class ImageBlendingWindow;
class ImageEdgeFinder;
class NavigatorWindow;
class RegionBrushTool;
class RegionPolyTool;
class RegionRectTool;
class RegionalProperties;
class TestRenderTool;
class TipWindow;
class ToolOptions;
class ToolPalette;
class ZoomTool;
class KsSourceImage;
class NamedImage;
class NoTool;
class GmRegion;
class QAction;
class QActionGroup;
class QButtonGroup;
class QCloseEvent;
class QComboBox;
class QKeyEvent;
class QMenu;
class QProgressBar;
class QShortcut;
class QSignalMapper;
class QSplitter;
class QToolBar;
class QToolButton;
class ViewOptions;

class KsMainWindow : public QMainWindow {
    Q_OBJECT
public:
    KsMainWindow();
    // Deletes the tools, the fallback tool last. The engine worker normally went with the
    // close; a window destroyed without one takes the worker with it.
    ~KsMainWindow() override;

    // Null before the window is built and after it is gone.
    static KsMainWindow* instance();

    // While false the close check hands back without asking; Save and Apply clears it.
    bool promptOnDiscard() const { return m_promptOnDiscard; }
    void setPromptOnDiscard(bool prompt) { m_promptOnDiscard = prompt; }

    // Whether the current work may be dropped; asks under the title when it would be lost.
    // Sets the hand-back status: nothing when there is nothing to lose, discarded after the
    // user's Discard, apply otherwise.
    bool okToClose(const QString& title);

    // Keeps the current tool while it is available, else installs the Select tool or the
    // fallback tool. False without a current tool.
    bool revalidateCurrentTool();
    // Installs the tool when it can be used in the image view's tab, else the Select tool
    // when that can, else the fallback tool.
    void selectToolOrFallback(GmTool* tool);

    ImageView* imageView() const { return m_imageView; }
    FakeDock* dockColumn() const { return m_dock; }
    QProgressBar* progressBar() const { return m_progressBar; }
    ViewOptions* viewOptions() const { return m_viewOptions; }
    NoTool* fallbackTool() const { return m_noTool; }
    FileHandler* fileHandler() const { return m_fileHandler; }
    // Map the recent menus' entries to their paths; the handler opens them once the menu has
    // closed.
    QSignalMapper* recentFilesMapper() const { return m_recentFilesMapper; }
    QSignalMapper* recentProjectsMapper() const { return m_recentProjectsMapper; }

    // The image view shows the Workspace tab: a newly opened image is worked on there.
    void switchToWorkspaceTab();

    // The panels; the list in the order the window keeps them (colour workspace, patch
    // properties, navigator, edge finding, edge blending, tips). A panel not built is left out.
    TipWindow* tipWindow() const { return m_tipWindow; }
    NavigatorWindow* navigatorWindow() const { return m_navigatorWindow; }
    ImageEdgeFinder* edgeFinder() const { return m_edgeFinder; }
    ImageBlendingWindow* blendingWindow() const { return m_blendingWindow; }
    ColourWorkspace* colourWorkspace() const { return m_colourWorkspace; }
    RegionalProperties* patchProperties() const { return m_patchProperties; }
    QList<GmSubWindow*> subWindows() const;
    QToolBar* optionsToolBar() const { return m_optionsToolBar; }
    ToolPalette* toolPalette() const { return m_toolPalette; }
    BackgroundPicker* backgroundPicker() const { return m_backgroundPicker; }
    QButtonGroup* screenModeButtons() const { return m_screenModeButtons; }
    QActionGroup* screenModeGroup() const;
    // The palette's colour-workspace entry, which mirrors the panel's toggle.
    QAction* colourWorkspacePaletteAction() const { return m_colourWorkspacePaletteAction; }

    // The tools, for the palette, the menus and the keys.
    GmTool* panTool() const { return m_panTool; }
    ZoomTool* zoomTool() const { return m_zoomTool; }
    ArrowTool* arrowTool() const { return m_arrowTool; }
    RegionRectTool* regionRectTool() const { return m_regionRectTool; }
    BrushingTool* deleteExactBrush() const { return m_deleteExactBrush; }
    GmTool* deleteLocalBrush() const { return m_deleteLocalBrush; }
    ColourWorkspaceSelectTool* colourSamplerTool() const { return m_colourSamplerTool; }

    // The Workspace Resolution sub-menu: one checkable entry per entry of the combo box, in its
    // order, with its tool tip and help and enabled as it is, in a new exclusive group that the
    // menu owns; the entry of the combo box's current item is checked.
    static QActionGroup* fillResolutionMenu(QMenu* menu, const QComboBox* combo);

    // The internal-error box's text; the project advice only when both project actions exist.
    static QString outOfMemoryText(const QString& operation, const QString& message);
    static QString internalErrorText(const QString& operation, const QString& message,
                                     const QAction* saveProject, const QAction* loadProject);

    // 0 Standard, 1 Full Screen with Menu, 2 Full Screen. Force makes floating panels take
    // their saved places even when they float already (used when a layout is restored).
    void setScreenMode(int mode, bool force);
    int screenMode() const { return m_screenMode; }
    // 0 every panel shown, 1 all hidden by Tab, 2 the panels hidden by Shift+Tab.
    int tabHideState() const { return m_tabHideState; }
    // The geometry and maximised state the window takes back in Standard mode.
    QRect rememberedNormalGeometry() const { return m_normalGeometry; }
    bool rememberedMaximized() const { return m_maximized; }
    // Writes the layout to the user's settings; the close does it too.
    void saveWindowState();
    // The canvas's background: the picker's primary brush, white without a picker.
    QBrush backgroundBrush() const;
    QMenu* recentFilesMenu() const;
    QMenu* recentProjectsMenu() const;
    QActionGroup* resolutionGroup() const;

public slots:
    // Help > About: the About box over this window, without blocking.
    void aboutSlot();
    // A view-tab action made after the menus: into "&View" after the other tab entries.
    void addTabAction(QAction* action);
    // "Kestrine 3: file (W x H) @ Z.Z%", or the product name alone without an image.
    void setWindowTitleSlot();
    void updateActionEnablednessSlot();
    void statusesPresentChangedSlot(quint8 present);
    void updateShowEdgesSlot();
    void updateCancelEnabledness();
    // Create Cut-out: an analysis done or under way, and a Keep or Delete mask.
    void updateGenerateMaskEnablednessSlot();
    // The Ctrl+Shift+K and Ctrl+Shift+D auto-fills act on the active patch, else the image.
    void activeRegionChangedSlot(GmRegion* region);
    // A patch just drawn: the Select tool takes over.
    void regionCreatedSlot();
    // The engine's undo and redo counts; 0xFFFFFFFF leaves a count as it was.
    void dvUndoStackChangedSlot(std::uint32_t undoCount, std::uint32_t redoCount);
    void updateUndoRedoEnabledness();

    // The commands of the Edit, Image, File and Help menus.
    void invokePreferencesSlot();
    void cleanAllSlot();
    void cleanKeepSlot();
    void cleanDeleteSlot();
    void cleanComplexSlot();
    void cleanLastSelectionSlot();
    // Makes the cut-out when the document changed since the last one, then closes; the close
    // hands the cut-out back once the engine has finished it.
    void saveAndApplySlot();
    void revertSlot();
    void revertAllSlot();
    void homePageSlot();

    void viewTabChangedSlot(ImageView::ViewTab tab);
    void focusChangedSlot(QWidget* old, QWidget* now);

    // The engine worker's reports.
    void commandStartedSlot(DravikCommand* command);
    void commandProgressSlot(int percent);
    void commandFinishedSlot(DravikCommand* command);
    void commandCancellingSlot(DravikCommand* command);
    void commandDiscardedSlot(DravikCommand* command);
    void submissionRejectedOnDeadLibSlot(DravikCommand* command);
    // The library failed during the operation; the box opens once the worker's completion
    // has returned.
    void internalErrorSlot(const QString& operation, const QString& message);
    // The operation lacked memory and the engine stays usable: one warning, once the worker's
    // completion has returned, for all the commands that lack memory before the queue empties.
    void outOfMemorySlot(const QString& operation, const QString& message);

    // Both show the Workspace tab first, then submit a cancellable engine step.
    void undoSlot();
    void redoSlot();
    void actionNotImplementedSlot(QAction* action);

    // Screen modes; the toggle goes 0, 1, 2 and round.
    void setScreenModeNormalSlot();
    void setScreenModeFullWithMenuSlot();
    void setScreenModeFullSlot();
    void toggleScreenModeSlot();
    // Tab hides every panel with the tool bar and the palette, Shift+Tab only the panels; the
    // same key again shows them all.
    void tabPressed(bool backtab);
    // Floating places for the panels: the palette at the top left, the colour workspace and
    // the patch properties beside it, the others in columns at the right.
    void setDefaultSubWindowStateSlot();
    // The resolution menu and the combo box follow each other.
    void syncResolutionMenuSlot(int index);
    void syncResolutionComboSlot(QAction* action);
    void recentFilesChanged(const QStringList& files);
    void recentProjectsChanged(const QStringList& projects);
    void generateMaskSlot();
    // An image that came as a whole rather than as a file.
    void loadNamedImage(const NamedImage& image);
    // An empty path asks for a file first.
    void loadImage(const QString& path);
    void loadImage();
    void receivedTextSlot(const QString& text);
    void fileSaveSlot();
    void helpSlot();
    void tutorialsSlot();

    void imageChangedSlot(const KsSourceImage* image);
    // Leaves the placeholder tool for a brush once the image's edges are being found.
    void imageAnalysisHasBegunSlot();

    // Space released: the tool the hand stood in for comes back.
    void stopPanningSlot();
    // Escape pressed in a floating panel acts as in the window.
    void escapeKeyPressedSlot(QKeyEvent* event);
    // Escape pressed in a floating panel, which announces it without the event.
    void subWindowEscapeSlot();

    // An image dropped on the canvas: once the current work may be dropped, it becomes the
    // document and the fallback tool becomes current. By value: the question may run the
    // event loop, and the sender may be gone when it returns.
    void receivedImageSlot(NamedImage image);

signals:
    // Workspace Settings ended with OK.
    void preferencesChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    // Asks, then ends the engine session and stays disabled until the worker has drained.
    void closeEvent(QCloseEvent* event) override;
    // The default floating places follow the window (see followWindowWithDefaultPlaces).
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // The colour workspace and the patch properties about to show in a full-screen mode take
    // a clear place among the panels as they are on the screen then.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Construction steps in their order; several are filled by later work.
    void createFileHandler();
    void connectEngineWorker();
    void createActions();
    void createStatusBar();
    void createMenus();
    void createSubWindows();
    void createOptionsToolBar();
    void createTools();
    void createToolPalette();
    void addScreenModeButtons();
    void setShellHooks();
    void connectZoomThroughNavigator();
    void connectPatchTools();
    void connectSubWindowsToViewTabs();
    void restoreWindowState();
    void readControlFile();
    void openLaunchImage();
    void runStartUpChecks();
    void connectViewSlots();
    void useDefaultLayout();
    // The palette and the panels floating (full) or back in their docks.
    void setPanelsFloating(bool full, bool force);
    // The full-screen modes' floating panels; the first time, the column of panels is stacked
    // again from the sizes they take afloat.
    void floatPanels(bool force);
    void restackFloatedColumn(const QList<GmSubWindow*>& floated);
    // The default layout's parts: the top line under the tool bar, the room a title bar takes,
    // the column of panels at the right and its places.
    int defaultPanelTop() const;
    int decorationGap();
    // A panel's place moved (and, too large, shrunk) so that the frame a window manager puts
    // round it is inside the work area.
    QRect placeOnScreen(const GmSubWindow* panel, const QRect& place);
    // The frame round a panel the manager has not framed yet, as far as it can be foreseen.
    QMargins expectedPanelFrame();
    // The same for the window out of the maximised state.
    QMargins expectedWindowFrame();
    // The rectangle grown to the window's minimum size and moved (and, too large, shrunk) so
    // that the window with its frame is inside the work area.
    QRect fittedOnScreen(const QRect& rect);
    QList<GmSubWindow*> defaultColumn() const;
    QList<QRect> defaultColumnPlaces(const QList<GmSubWindow*>& column, int top, int gap);
    // The frame round the panel when Qt has moved it to the place, at the size.
    QRect panelFrameAt(const GmSubWindow* panel, const QPoint& place, const QSize& size);
    QMargins panelFrameMargins(const GmSubWindow* panel);
    // In the full-screen modes the colour workspace and the patch properties, where the program
    // put them, go where they cover no other floating panel, or where there is no room for
    // that, no panel's title bar; back in Standard mode they go back to its places. With only,
    // that one alone, among the panels shown.
    void placeClearOfFloatingPanels(const GmSubWindow* only = nullptr);
    void restoreStandardPlaces();
    // Where the program put the panel, for Standard mode or for the full-screen ones.
    bool atProgramPlace(const GmSubWindow* panel) const;
    // The window's own part of a screen mode: menu bar, flags, state and geometry; then shown.
    void showInScreenMode(int mode);
    // The maximised flag and normal geometry Standard mode goes back to.
    void rememberStandardGeometry();
    // The screen modes' window flags, given to the shown window in place.
    void changeWindowFlags(Qt::WindowFlags flags);
    // Works the default floating places out again for where the window now stands, until a
    // panel has floated or opened.
    void followWindowWithDefaultPlaces();
    QRect availableScreenGeometry() const;
    void fillRecentMenu(QMenu* menu, QSignalMapper* mapper, const QStringList& paths);

    void showWelcomeTip();
    void updateActionEnabledness(const KsSourceImage* image);
    // The cut-out or the project was saved, or the project loaded, after the last change.
    bool savedSinceLastChange() const;
    // The canvas's zoom factor, 1.0 at actual pixels.
    double viewZoom() const;
    GmTool* preferredTool() const;
    void showInternalError(const QString& operation, const QString& message);
    // Nothing is queued, running, or finished on the worker and waiting for its completion.
    bool engineWorkerIdle() const;
    void releaseEngineWorker();
    void deleteTools();
    // The action's trigger tells in the status bar that the command is not available yet.
    void connectNotImplemented(QAction* action);
    void submitClean(int classes);
    // At the last step of a close after Save and Apply: nothing is handed back when the
    // cut-out it asked for was never made.
    void settleSaveAndApply();

    bool m_promptOnDiscard = true;
    // Set once the close waits for the engine worker; never cleared.
    bool m_closing = false;
    // An operation lacked memory since the engine worker's queue last emptied, and was told.
    bool m_outOfMemoryTold = false;

    ImageView* m_imageView = nullptr;
    QSplitter* m_splitter = nullptr;
    FakeDock* m_dock = nullptr;
    DravikThread* m_engineWorker = nullptr;
    FileHandler* m_fileHandler = nullptr;
    QSignalMapper* m_recentFilesMapper = nullptr;
    QSignalMapper* m_recentProjectsMapper = nullptr;

    QToolButton* m_cancelButton = nullptr;
    QWidget* m_progressContainer = nullptr;
    QProgressBar* m_progressBar = nullptr;
    ViewOptions* m_viewOptions = nullptr;

    // Made with the actions and menus; an action a launch mode or the distributor leaves out
    // stays null.
    QPointer<QAction> m_openAction;
    QPointer<QAction> m_saveAction;
    QPointer<QAction> m_saveAsAction;
    QPointer<QAction> m_undoAction;
    QPointer<QAction> m_redoAction;
    QShortcut* m_redoShortcut = nullptr;
    QPointer<QAction> m_cancelAction;
    QPointer<QAction> m_preferencesAction;
    QPointer<QAction> m_zoomInAction;
    QPointer<QAction> m_zoomOutAction;
    QPointer<QAction> m_fitOnScreenAction;
    QPointer<QAction> m_actualPixelsAction;
    QPointer<QAction> m_cleanAllAction;
    QPointer<QAction> m_cleanKeepAction;
    QPointer<QAction> m_cleanDeleteAction;
    QPointer<QAction> m_cleanComplexAction;
    QPointer<QAction> m_cleanLastSelectionAction;
    QPointer<QAction> m_autoFillImageAction;
    QPointer<QAction> m_autoFillKeepAction;
    QPointer<QAction> m_autoFillDeleteAction;
    QPointer<QAction> m_generateMaskAction;
    QPointer<QAction> m_closeAction;
    QPointer<QAction> m_exitAction;
    QPointer<QAction> m_saveAndApplyAction;
    QPointer<QAction> m_revertMaskAction;
    QPointer<QAction> m_revertAllAction;
    QPointer<QAction> m_loadProjectAction;
    QPointer<QAction> m_saveProjectAction;
    QPointer<QAction> m_saveProjectAsAction;
    QPointer<QAction> m_revertProjectAction;
    QPointer<QAction> m_showEdgesAction;
    QPointer<QAction> m_helpAction;
    QPointer<QAction> m_tutorialsAction;
    QPointer<QAction> m_homePageAction;
    QPointer<QAction> m_checkForUpdatesAction;
    QPointer<QAction> m_latestNewsAction;
    QPointer<QAction> m_aboutAction;
    QPointer<QAction> m_toggleScreenModeAction;
    QPointer<QActionGroup> m_toolActionGroup;

    QPointer<QMenu> m_fileMenu;
    QPointer<QMenu> m_editMenu;
    QPointer<QMenu> m_imageMenu;
    QPointer<QMenu> m_brushMenu;
    QPointer<QMenu> m_patchMenu;
    QPointer<QMenu> m_viewMenu;
    QPointer<QMenu> m_windowMenu;
    QPointer<QMenu> m_helpMenu;
    QPointer<QMenu> m_recentFilesMenu;
    QPointer<QMenu> m_recentProjectsMenu;
    QPointer<QMenu> m_resolutionMenu;
    QPointer<QMenu> m_screenModeMenu;
    QPointer<QActionGroup> m_resolutionGroup;
    QPointer<QActionGroup> m_screenModeGroup;

    // The change stamp a cut-out asked for by Save and Apply reaches once it is made; -1 while
    // none was asked for.
    int m_applyStamp = -1;

    TipWindow* m_tipWindow = nullptr;
    NavigatorWindow* m_navigatorWindow = nullptr;
    ImageEdgeFinder* m_edgeFinder = nullptr;
    ImageBlendingWindow* m_blendingWindow = nullptr;
    ColourWorkspace* m_colourWorkspace = nullptr;
    RegionalProperties* m_patchProperties = nullptr;
    QList<QPointer<GmSubWindow>> m_subWindows;
    QToolBar* m_optionsToolBar = nullptr;
    ToolPalette* m_toolPalette = nullptr;
    BackgroundPicker* m_backgroundPicker = nullptr;
    QButtonGroup* m_screenModeButtons = nullptr;
    QAction* m_colourWorkspacePaletteAction = nullptr;
    QAction* m_increaseBrushSizeAction = nullptr;
    QAction* m_decreaseBrushSizeAction = nullptr;

    NoTool* m_noTool = nullptr;
    TestRenderTool* m_testRenderTool = nullptr;
    ArrowTool* m_arrowTool = nullptr;
    CleanTool* m_cleanTool = nullptr;
    ForcedEdgeTool* m_forcedEdgeTool = nullptr;
    BrushingTool* m_keepExactBrush = nullptr;
    BrushingTool* m_deleteExactBrush = nullptr;
    BrushingTool* m_complexExactBrush = nullptr;
    BrushingTool* m_eraseExactBrush = nullptr;
    BrushingTool* m_keepLocalBrush = nullptr;
    BrushingTool* m_complexLocalBrush = nullptr;
    BrushingTool* m_eraseLocalBrush = nullptr;
    BrushingTool* m_keepGlobalBrush = nullptr;
    BrushingTool* m_deleteGlobalBrush = nullptr;
    BrushingTool* m_complexGlobalBrush = nullptr;
    BrushingTool* m_eraseGlobalBrush = nullptr;
    RegionRectTool* m_regionRectTool = nullptr;
    RegionPolyTool* m_regionPolyTool = nullptr;
    RegionBrushTool* m_regionBrushTool = nullptr;
    ZoomTool* m_zoomTool = nullptr;
    ColourWorkspaceSelectTool* m_colourSamplerTool = nullptr;
    GmTool* m_panTool = nullptr;
    GmTool* m_deleteLocalBrush = nullptr;
    // The tool current when Space brought the hand; null while the hand stands in for none.
    QPointer<GmTool> m_toolBeforePanning;

    int m_screenMode = 0;
    int m_tabHideState = 0;
    bool m_maximized = true;
    QRect m_normalGeometry;
    // The last default layout gave the palette its place (the panels beside it leave its room).
    bool m_paletteDefaultPlaced = false;
    bool m_defaultPlacesFollowWindow = false;
    bool m_columnRestacked = false;
    // The places the full-screen modes gave the colour workspace and the patch properties.
    QHash<const GmSubWindow*, QPoint> m_clearPlaces;
    // The last title-bar height seen; a frameless or full-screen window shows none.
    int m_decorationGap = 0;
    // The widest frame seen round a floating panel; null until one has been framed.
    QMargins m_panelFrame;
};
