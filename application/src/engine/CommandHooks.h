#pragma once
// What the engine commands, the model and the widgets under the shell need from the tools, the
// tip window, the image view, the main window and the launch, reached through hooks those
// install: the lower layers are built and tested without them.

#include <QString>

#include <functional>

class KsSourceImage;
class QWidget;

class CommandHooks {
public:
    // The brush tools' "Strength" (0 when there are no brush tools).
    using StrengthHook = std::function<int()>;
    // The clean tool's "Strength"; false when there is no clean tool.
    using CleanLevelHook = std::function<bool(int& level)>;
    // Shows a text in the tip window; plain asks for it as plain text rather than rich text.
    using TipHook = std::function<void(const QString& text, bool plain)>;
    // Makes the image view show one of its tabs (0 Workspace, 1 Cut-out).
    using TabHook = std::function<void(int tab)>;

    // The main window, or null while there is none.
    using MainWindowHook = std::function<QWidget*()>;
    // Whether the run was started by a host or to edit a file in place: the images stay for the
    // hand-back.
    using LaunchKeepsImagesHook = std::function<bool()>;
    // Whether an image is one the launch made, which it holds until the hand-back.
    using HeldByLaunchHook = std::function<bool(const KsSourceImage* image)>;

    enum Tab { WorkspaceTab = 0, CutoutTab = 1 };

    static void setBrushStrengthHook(StrengthHook hook);
    static void setCleanLevelHook(CleanLevelHook hook);
    static void setTipHook(TipHook hook);
    static void setTabHook(TabHook hook);
    static void setMainWindowHook(MainWindowHook hook);
    static void setLaunchKeepsImagesHook(LaunchKeepsImagesHook hook);
    static void setHeldByLaunchHook(HeldByLaunchHook hook);

    static int brushStrength();
    // The clean tool's level when it exists, else the process-wide despeckle level.
    static int cleanLevel();
    static void showTip(const QString& text, bool plain);
    static void ensureTab(int tab);
    // Null, false and false without the hooks.
    static QWidget* mainWindow();
    static bool launchKeepsImages();
    static bool heldByLaunch(const KsSourceImage* image);

    // The process-wide despeckle level the clean tool keeps (1..20, default 3).
    static int despeckleLevel();
    static void setDespeckleLevel(int level);
};
