#include "panels/TipWindow.h"

#include "engine/CommandHooks.h"
#include "panels/Browser.h"

#include <QAction>
#include <QApplication>
#include <QHelpEvent>
#include <QTabBar>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWhatsThis>

namespace {

TipWindow* g_tipWindow = nullptr;

const int floatingMinimumHeight = 120;

} // namespace

bool appendShortcutToTip(QString& html, const QKeySequence& shortcut)
{
    if (shortcut.isEmpty())
        return false;
    const int end = html.indexOf(QLatin1String("</p>"));
    if (end < 0)
        return false;
    html.insert(end, QStringLiteral(" (") + shortcut.toString(QKeySequence::PortableText)
                         + QLatin1Char(')'));
    return true;
}

TipWindow::TipWindow(QWidget* parent, QWidget* actionHost, const QString& shortcut)
    : GmSubWindow(QStringLiteral("Tip"), tr("Tip"), actionHost, shortcut, parent),
      m_browser(new Browser),
      m_floatingSpacer(new QWidget)
{
    QCoreApplication::instance()->installEventFilter(this);

    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->addWidget(m_browser);
    // Three lines of text: less than its scroll bar asks for, so that the tip can give up height.
    m_browser->setMinimumHeight(3 * m_browser->fontMetrics().lineSpacing() + 2 * m_browser->frameWidth()
                                + 2 * int(m_browser->document()->documentMargin()));
    m_floatingSpacer->setMinimumHeight(10);
    m_floatingSpacer->setVisible(isWindow());
    layout->addWidget(m_floatingSpacer);
    setWidget(content);
    setResizable(true);
    setMinimumHeight(floatingMinimumHeight);

    g_tipWindow = this;
    CommandHooks::setTipHook([](const QString& text, bool plain) {
        if (plain)
            setTipText(text);
        else
            setTipHtml(text);
    });
}

TipWindow::~TipWindow()
{
    if (g_tipWindow == this) {
        g_tipWindow = nullptr;
        CommandHooks::setTipHook(nullptr);
    }
    if (QCoreApplication* application = QCoreApplication::instance())
        application->removeEventFilter(this);
}

TipWindow* TipWindow::instance()
{
    return g_tipWindow;
}

bool TipWindow::hasDefaultSize() const
{
    return false;
}

void TipWindow::setFloating(bool floating, bool quiet)
{
    GmSubWindow::setFloating(floating, quiet);
    m_floatingSpacer->setVisible(floating);
    // In the column the tip is the first to give up height, down to its title and three lines,
    // so that a low screen still has room for the window's status bar.
    setMinimumHeight(floating ? floatingMinimumHeight : 0);
}

QString TipWindow::tipDisplayHtml(const QString& html)
{
    QString text = html;
    text.remove(QLatin1String("<ul>"));
    text.remove(QLatin1String("</ul>"));
    text.replace(QLatin1String("</li><li>"), QLatin1String("<br/><li>"));
    text.replace(QLatin1String("<li>"), QLatin1String("&bull; "));
    text.replace(QLatin1String("</i>"), QLatin1String("</i> "));
    return text;
}

void TipWindow::setTipHtml(const QString& html)
{
    if (!g_tipWindow)
        return;
    g_tipWindow->m_browser->setHtml(tipDisplayHtml(html));
    g_tipWindow->m_currentSource = nullptr;
}

void TipWindow::setTipText(const QString& text)
{
    if (!g_tipWindow)
        return;
    g_tipWindow->m_browser->setPlainText(text);
    g_tipWindow->m_currentSource = nullptr;
}

void TipWindow::showHelpText(QString text, QAction* shortcutAction)
{
    if (shortcutAction)
        appendShortcutToTip(text, shortcutAction->shortcut());
    setTipHtml(text);
}

void TipWindow::showWidgetHelp(QWidget* widget)
{
    if (!g_tipWindow)
        return;
    while (widget && widget->whatsThis().isEmpty()) {
        if (widget->isWindow())
            return;
        widget = widget->parentWidget();
    }
    if (!widget)
        return;

    QAction* action = nullptr;
    if (auto* subWindow = qobject_cast<GmSubWindow*>(widget))
        action = subWindow->toggleViewAction();
    else if (auto* button = qobject_cast<QToolButton*>(widget))
        action = button->defaultAction();
    else if (!widget->actions().isEmpty())
        action = widget->actions().first();
    showHelpText(widget->whatsThis(), action);
}

void TipWindow::showActionHelp(QAction* action)
{
    if (!g_tipWindow || !action || action->whatsThis().isEmpty())
        return;
    showHelpText(action->whatsThis(), action);
}

bool TipWindow::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    const bool whatsThis = type == QEvent::WhatsThis;
    if (!whatsThis && type != QEvent::ToolTip)
        return false;
    if (!whatsThis) {
        // A tool tip the widget does not answer travels on to its parents as fresh events at
        // the same place; they are the same request, and the parents' help must not replace
        // the widget's.
        auto* widget = qobject_cast<QWidget*>(watched);
        const QPoint place = static_cast<QHelpEvent*>(event)->globalPos();
        if (widget && m_toolTipTarget && place == m_toolTipPlace && widget->isAncestorOf(m_toolTipTarget))
            return false;
        m_toolTipTarget = widget;
        m_toolTipPlace = place;
        if (watched == m_currentSource)
            return false;
    }

    if (auto* tabBar = qobject_cast<QTabBar*>(watched)) {
        const int tab = tabBar->tabAt(static_cast<QHelpEvent*>(event)->pos());
        if (tab >= 0)
            setTipHtml(tabBar->tabWhatsThis(tab));
    } else if (auto* widget = qobject_cast<QWidget*>(watched)) {
        showWidgetHelp(widget);
    } else if (auto* action = qobject_cast<QAction*>(watched)) {
        showActionHelp(action);
    } else {
        return false;
    }
    if (QWhatsThis::inWhatsThisMode())
        QWhatsThis::leaveWhatsThisMode();
    m_currentSource = qobject_cast<QTabBar*>(watched) ? nullptr : watched;
    return whatsThis;
}
