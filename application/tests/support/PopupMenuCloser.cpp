#include "PopupMenuCloser.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>

namespace testsupport {

PopupMenuCloser::PopupMenuCloser(const QString& choose)
{
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &PopupMenuCloser::poll);
    arm(choose);
}

void PopupMenuCloser::arm(const QString& choose)
{
    m_choose = choose;
    m_opened = false;
    m_itemTexts.clear();
    m_timer.start();
}

void PopupMenuCloser::poll()
{
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        m_timer.stop();
        handle(menu);
    }
}

void PopupMenuCloser::handle(QMenu* menu)
{
    m_opened = true;
    QAction* chosen = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || !action->isVisible())
            continue;
        m_itemTexts.append(action->text());
        if (!m_choose.isEmpty() && !chosen && action->text() == m_choose)
            chosen = action;
    }
    if (chosen && chosen->isEnabled()) {
        menu->setActiveAction(chosen);
        QTest::keyClick(menu, Qt::Key_Return);
    } else {
        menu->close();
    }
}

} // namespace testsupport
