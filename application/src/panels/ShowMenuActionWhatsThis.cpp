#include "panels/ShowMenuActionWhatsThis.h"

#include "panels/TipWindow.h"

#include <QCoreApplication>
#include <QMenu>

ShowMenuActionWhatsThis* ShowMenuActionWhatsThis::instance()
{
    static QPointer<ShowMenuActionWhatsThis> timer;
    if (!timer && QCoreApplication::instance())
        timer = new ShowMenuActionWhatsThis(QCoreApplication::instance());
    return timer;
}

ShowMenuActionWhatsThis::ShowMenuActionWhatsThis(QObject* parent) : QTimer(parent)
{
    // A coarse timer may fire up to 5 % early.
    setTimerType(Qt::PreciseTimer);
    connect(this, &QTimer::timeout, this, &ShowMenuActionWhatsThis::timeoutSlot);
}

void ShowMenuActionWhatsThis::watchMenu(QMenu* menu)
{
    if (!menu || m_watched.contains(menu))
        return;
    m_watched.insert(menu);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { menuShown(menu); });
    connect(menu, &QMenu::aboutToHide, this, [this, menu] { menuHidden(menu); });
    // The pointer is only a key here; it is never followed once the menu is gone.
    connect(menu, &QObject::destroyed, this, [this, menu] {
        m_watched.remove(menu);
        m_hoverConnections.remove(menu);
    });
}

void ShowMenuActionWhatsThis::menuShown(QMenu* menu)
{
    if (m_hoverConnections.contains(menu))
        return;
    m_hoverConnections.insert(menu, connect(menu, &QMenu::hovered, this,
                                            [this, menu](QAction* action) { menuHovered(menu, action); }));
}

void ShowMenuActionWhatsThis::menuHovered(QMenu* menu, QAction* action)
{
    if (action == m_action)
        return;
    m_menu = menu;
    m_action = action;
    start(HelpDelayMs);
}

void ShowMenuActionWhatsThis::menuHidden(QMenu* menu)
{
    disconnect(m_hoverConnections.take(menu));
    stop();
    // Forgotten, so that the next opening waits the whole delay again, also for the same item.
    m_menu = nullptr;
    m_action = nullptr;
}

void ShowMenuActionWhatsThis::timeoutSlot()
{
    if (m_menu && m_action)
        TipWindow::showActionHelp(m_action);
    stop();
    m_menu = nullptr;
    m_action = nullptr;
}
