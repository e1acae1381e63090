#pragma once
// What the engine commands need from the tools, the tip window and the image view, reached
// through hooks those widgets install: the commands are built and tested without them.

#include <QString>

#include <functional>

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

    enum Tab { WorkspaceTab = 0, CutoutTab = 1 };

    static void setBrushStrengthHook(StrengthHook hook);
    static void setCleanLevelHook(CleanLevelHook hook);
    static void setTipHook(TipHook hook);
    static void setTabHook(TabHook hook);

    static int brushStrength();
    // The clean tool's level when it exists, else the process-wide despeckle level.
    static int cleanLevel();
    static void showTip(const QString& text, bool plain);
    static void ensureTab(int tab);

    // The process-wide despeckle level the clean tool keeps (1..20, default 3).
    static int despeckleLevel();
    static void setDespeckleLevel(int level);
};
