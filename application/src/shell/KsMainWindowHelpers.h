#pragma once
// What the main window's source files share, and nothing else includes: the hand-back and
// launch as the application holds them, the status class bits, and two menu helpers.

#include "shell/KsApp.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace mainwindow {

inline void setHandBack(HandBackStatus status)
{
    if (KsApp* app = KsApp::instance())
        app->setHandBackStatus(status);
}

inline bool launchedByHost()
{
    const KsApp* app = KsApp::instance();
    return app && app->launchedByHost();
}

constexpr quint8 kKeepBit = 2;
constexpr quint8 kDeleteBit = 4;
constexpr quint8 kBlendBit = 8;

inline void enable(QAction* action, bool enabled)
{
    if (action)
        action->setEnabled(enabled);
}

// Every action of the menu also works through the window, so its key works with the menu bar
// hidden.
inline void addMenuActionsTo(const QMenu* menu, QWidget* widget)
{
    if (!menu)
        return;
    for (QAction* action : menu->actions())
        widget->addAction(action);
}

inline void addIfPresent(QMenu* menu, QAction* action)
{
    if (action)
        menu->addAction(action);
}

} // namespace mainwindow
