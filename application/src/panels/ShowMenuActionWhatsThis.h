#pragma once
// Menu help: while a menu is open, the What's This text of the item the pointer rests on
// goes to the tip window 700 ms after the last hover. One process-wide timer, made by the
// application style when it first polishes a widget and owned by the Qt application.

#include <QAction>
#include <QHash>
#include <QMenu>
#include <QMetaObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

class ShowMenuActionWhatsThis : public QTimer {
    Q_OBJECT
public:
    static constexpr int HelpDelayMs = 700;

    // Made on the first call, as a child of the Qt application; null without one.
    static ShowMenuActionWhatsThis* instance();

    // Follows the menu's openings and closings (once per menu, however often it is polished).
    void watchMenu(QMenu* menu);

    QMenu* pendingMenu() const { return m_menu; }
    QAction* pendingAction() const { return m_action; }

private:
    explicit ShowMenuActionWhatsThis(QObject* parent);

    void menuShown(QMenu* menu);
    void menuHovered(QMenu* menu, QAction* action);
    void menuHidden(QMenu* menu);
    void timeoutSlot();

    // Guarded: a menu or an action deleted before the delay ends is never used.
    QPointer<QMenu> m_menu;
    QPointer<QAction> m_action;
    QSet<QMenu*> m_watched;
    QHash<QMenu*, QMetaObject::Connection> m_hoverConnections;
};
