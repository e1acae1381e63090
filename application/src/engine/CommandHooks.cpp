#include "engine/CommandHooks.h"

#include <QtGlobal>

namespace {

CommandHooks::StrengthHook g_brushStrength;
CommandHooks::CleanLevelHook g_cleanLevel;
CommandHooks::TipHook g_tip;
CommandHooks::TabHook g_tab;
CommandHooks::MainWindowHook g_mainWindow;
CommandHooks::LaunchKeepsImagesHook g_launchKeepsImages;
CommandHooks::HeldByLaunchHook g_heldByLaunch;
int g_despeckleLevel = 3;

} // namespace

void CommandHooks::setBrushStrengthHook(StrengthHook hook) { g_brushStrength = std::move(hook); }
void CommandHooks::setCleanLevelHook(CleanLevelHook hook) { g_cleanLevel = std::move(hook); }
void CommandHooks::setTipHook(TipHook hook) { g_tip = std::move(hook); }
void CommandHooks::setTabHook(TabHook hook) { g_tab = std::move(hook); }
void CommandHooks::setMainWindowHook(MainWindowHook hook) { g_mainWindow = std::move(hook); }
void CommandHooks::setLaunchKeepsImagesHook(LaunchKeepsImagesHook hook) { g_launchKeepsImages = std::move(hook); }
void CommandHooks::setHeldByLaunchHook(HeldByLaunchHook hook) { g_heldByLaunch = std::move(hook); }

int CommandHooks::brushStrength()
{
    return g_brushStrength ? g_brushStrength() : 0;
}

int CommandHooks::cleanLevel()
{
    int level = g_despeckleLevel;
    if (g_cleanLevel && g_cleanLevel(level))
        return level;
    return g_despeckleLevel;
}

void CommandHooks::showTip(const QString& text, bool plain)
{
    if (g_tip)
        g_tip(text, plain);
    else
        qWarning("Tip: %s", qUtf8Printable(text));
}

void CommandHooks::ensureTab(int tab)
{
    if (g_tab)
        g_tab(tab);
}

QWidget* CommandHooks::mainWindow()
{
    return g_mainWindow ? g_mainWindow() : nullptr;
}

bool CommandHooks::launchKeepsImages()
{
    return g_launchKeepsImages && g_launchKeepsImages();
}

bool CommandHooks::heldByLaunch(const KsSourceImage* image)
{
    return g_heldByLaunch && g_heldByLaunch(image);
}

int CommandHooks::despeckleLevel()
{
    return g_despeckleLevel;
}

void CommandHooks::setDespeckleLevel(int level)
{
    g_despeckleLevel = qBound(1, level, 20);
}
