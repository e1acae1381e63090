// The tip window: its tip texts and shortcuts, live help for widgets, tabs and actions from
// tool-tip and What's This events, links into the help pages, the engine commands' tips, and
// the menu help that the application style hooks into every menu.

#include "LogCapture.h"
#include "UrlCatcher.h"
#include "Wait.h"
#include "WidgetInput.h"
#include "engine/CommandHooks.h"
#include "panels/Browser.h"
#include "panels/KsAppStyle.h"
#include "panels/ShowMenuActionWhatsThis.h"
#include "panels/TipWindow.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QMenu>
#include <QStyleFactory>
#include <QTabBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWhatsThis>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Counts the help events that get past the tip window.
class HelpTarget : public QWidget {
public:
    using QWidget::QWidget;
    int helpEvents = 0;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::WhatsThis || event->type() == QEvent::ToolTip)
            ++helpEvents;
        return QWidget::event(event);
    }
};

bool sendHelp(QWidget* widget, QEvent::Type type, QPoint pos = QPoint(2, 2))
{
    QHelpEvent event(type, pos, widget->mapToGlobal(pos));
    return QApplication::sendEvent(widget, &event);
}

class TipWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_window.resize(400, 300);
        m_tip = new TipWindow(&m_window, &m_window, "Ctrl+T");
    }

    QString shown() const { return m_tip->browser()->toPlainText(); }

    QWidget m_window;
    TipWindow* m_tip = nullptr;
};

TEST(AppendShortcutToTip, GoesIntoTheTitleParagraphOnly)
{
    QString tip = "<p><b>T</b></p><p>x</p>";
    EXPECT_TRUE(appendShortcutToTip(tip, QKeySequence(Qt::CTRL + Qt::Key_T)));
    EXPECT_EQ(tip, "<p><b>T</b> (Ctrl+T)</p><p>x</p>");

    QString bare = "<b>T</b> no paragraph";
    EXPECT_FALSE(appendShortcutToTip(bare, QKeySequence(Qt::Key_F7)));
    EXPECT_EQ(bare, "<b>T</b> no paragraph");

    QString unchanged = "<p><b>T</b></p>";
    EXPECT_FALSE(appendShortcutToTip(unchanged, QKeySequence()));
    EXPECT_EQ(unchanged, "<p><b>T</b></p>");

    // Only the exact closing tag counts.
    QString upper = "<P><b>T</b></P>";
    EXPECT_FALSE(appendShortcutToTip(upper, QKeySequence(Qt::Key_F7)));
}

TEST_F(TipWindowTest, IsTheOneResizableTipPanel)
{
    EXPECT_EQ(TipWindow::instance(), m_tip);
    EXPECT_EQ(m_tip->objectName(), "DockWidget: Tip");
    EXPECT_EQ(m_tip->windowTitle(), "Tip");
    EXPECT_EQ(m_tip->toggleViewAction()->shortcut(), QKeySequence("Ctrl+T"));
    EXPECT_FALSE(m_tip->hasDefaultSize());
    EXPECT_TRUE(m_tip->isResizable());
    EXPECT_EQ(m_tip->minimumHeight(), 120);
    EXPECT_EQ(m_tip->usableViewTabs(), GmSubWindow::AllViewTabs);
    EXPECT_TRUE(m_tip->restoresVisibility());

    // The spacer below the text shows only while the window floats.
    m_tip->setFloating(true, true);
    m_tip->userShow();
    EXPECT_TRUE(m_tip->floatingSpacer()->isVisibleTo(m_tip));
    EXPECT_NE(m_tip->sizeGrip(), nullptr);
    m_tip->setFloating(false, true);
    EXPECT_FALSE(m_tip->floatingSpacer()->isVisibleTo(m_tip));
}

TEST_F(TipWindowTest, ListsBecomeBulletedLinesAndItalicsKeepASpace)
{
    EXPECT_EQ(TipWindow::tipDisplayHtml("<ul><li>A</li><li>B</li></ul><i>x</i>y"),
              "&bull; A<br/>&bull; B</li><i>x</i> y");
    TipWindow::setTipHtml("<ul><li>A</li><li>B</li></ul><i>x</i>y");
    EXPECT_EQ(shown(), QString::fromUtf8("\u2022 A\n\u2022 Bx y"));
    EXPECT_EQ(m_tip->currentSource(), nullptr);
}

TEST_F(TipWindowTest, EngineCommandTipsArriveAsRichOrPlainText)
{
    CommandHooks::showTip("<p>Use the <b>Apply</b> button</p>", false);
    EXPECT_EQ(shown(), "Use the Apply button");
    CommandHooks::showTip("Brushing failed <b>", true);
    EXPECT_EQ(shown(), "Brushing failed <b>");

    // Without the tip window the statics do nothing and the tips go to the log.
    delete m_tip;
    m_tip = nullptr;
    EXPECT_EQ(TipWindow::instance(), nullptr);
    TipWindow::setTipHtml("<p>nothing</p>");
    TipWindow::showActionHelp(nullptr);
    TipWindow::showWidgetHelp(&m_window);
    testsupport::LogCapture log;
    CommandHooks::showTip("Lost", false);
    EXPECT_TRUE(log.contains("Tip: Lost"));
}

TEST_F(TipWindowTest, AToolTipOnAToolButtonShowsItsHelpWithTheDefaultActionsShortcut)
{
    auto* button = new QToolButton(&m_window);
    auto* action = new QAction("Keep", button);
    action->setShortcut(QKeySequence("Ctrl+K"));
    action->setWhatsThis("<p><b>Keep Brush</b></p><p>Paints what stays.</p>");
    button->setDefaultAction(action);

    sendHelp(button, QEvent::ToolTip);
    EXPECT_EQ(shown(), "Keep Brush (Ctrl+K)\nPaints what stays.");
    EXPECT_EQ(m_tip->currentSource(), button);

    // A second tool tip for the same widget changes nothing.
    button->setWhatsThis("<p>Changed</p>");
    sendHelp(button, QEvent::ToolTip);
    EXPECT_EQ(shown(), "Keep Brush (Ctrl+K)\nPaints what stays.");
    EXPECT_EQ(m_tip->currentSource(), button);
}

TEST_F(TipWindowTest, AChildShowsItsNearestParentsHelpWithinItsWindow)
{
    auto* group = new QWidget(&m_window);
    group->setWhatsThis("<p><b>Group</b></p>");
    group->addAction(new QAction("first", group));
    group->actions().first()->setShortcut(QKeySequence(Qt::Key_F3));
    auto* inner = new QWidget(group);
    auto* child = new HelpTarget(inner);

    EXPECT_FALSE(sendHelp(child, QEvent::ToolTip) && child->helpEvents == 0);
    EXPECT_EQ(child->helpEvents, 1) << "tool tips go on to the widget";
    EXPECT_EQ(shown(), "Group (F3)");
    EXPECT_EQ(m_tip->currentSource(), child);

    // A child's own help is not replaced by its parent's when the unanswered tool tip travels
    // on to the parent; nor is it shown again for the next request at the child.
    inner->setWhatsThis("<p>Inner</p>");
    sendHelp(child, QEvent::ToolTip, QPoint(3, 3));
    EXPECT_EQ(shown(), "Group (F3)");
    child->setWhatsThis("<p>Child</p>");
    auto* other = new QWidget(&m_window);
    sendHelp(other, QEvent::ToolTip);
    sendHelp(child, QEvent::ToolTip, QPoint(4, 4));
    EXPECT_EQ(shown(), "Child");
    EXPECT_EQ(m_tip->currentSource(), child);
    EXPECT_EQ(child->helpEvents, 3);

    // The search stops at the window: the window's own text counts, its parents' not.
    TipWindow::setTipHtml("<p>before</p>");
    auto* dialog = new QWidget(group, Qt::Dialog);
    auto* lonely = new QWidget(dialog);
    sendHelp(lonely, QEvent::ToolTip);
    EXPECT_EQ(shown(), "before");
    dialog->setWhatsThis("<p>Dialog</p>");
    sendHelp(dialog, QEvent::ToolTip, QPoint(30, 30));
    EXPECT_EQ(shown(), "Dialog");

    // A panel shows the shortcut of its toggle action.
    TipWindow::setTipHtml("<p>before</p>");
    m_tip->setWhatsThis("<p><b>Tip</b></p>");
    sendHelp(m_tip->browser(), QEvent::ToolTip);
    EXPECT_EQ(shown(), "Tip (Ctrl+T)");
}

TEST_F(TipWindowTest, WhatsThisRequestsLandHereAndAreConsumed)
{
    auto* target = new HelpTarget(&m_window);
    target->setWhatsThis("<p><b>Target</b></p><p>Help.</p>");
    QWhatsThis::enterWhatsThisMode();
    ASSERT_TRUE(QWhatsThis::inWhatsThisMode());
    EXPECT_TRUE(sendHelp(target, QEvent::WhatsThis));
    EXPECT_EQ(target->helpEvents, 0);
    EXPECT_EQ(shown(), "Target\nHelp.");
    EXPECT_FALSE(QWhatsThis::inWhatsThisMode());

    // Consumed also for the widget whose help is shown, and for one without help.
    EXPECT_TRUE(sendHelp(target, QEvent::WhatsThis));
    auto* silent = new HelpTarget(&m_window);
    EXPECT_TRUE(sendHelp(silent, QEvent::WhatsThis));
    EXPECT_EQ(target->helpEvents + silent->helpEvents, 0);
}

TEST_F(TipWindowTest, ATabShowsItsTabHelp)
{
    auto* tabs = new QTabBar(&m_window);
    tabs->addTab("Source");
    tabs->addTab("Workspace");
    tabs->setTabWhatsThis(1, "<p><b>Workspace</b></p>");
    tabs->resize(tabs->sizeHint());
    sendHelp(tabs, QEvent::ToolTip, tabs->tabRect(1).center());
    EXPECT_EQ(shown(), "Workspace");
    EXPECT_EQ(m_tip->currentSource(), nullptr);

    // Every tool tip over the bar is looked at again: the pointer may be on another tab.
    tabs->setTabWhatsThis(0, "<p>Source</p>");
    sendHelp(tabs, QEvent::ToolTip, tabs->tabRect(0).center());
    EXPECT_EQ(shown(), "Source");
}

TEST_F(TipWindowTest, ActionHelpNeedsAText)
{
    QAction action("Undo", nullptr);
    action.setShortcut(QKeySequence("Ctrl+Z"));
    TipWindow::setTipHtml("<p>before</p>");
    TipWindow::showActionHelp(&action);
    EXPECT_EQ(shown(), "before");
    action.setWhatsThis("<p><b>Undo</b></p>");
    TipWindow::showActionHelp(&action);
    EXPECT_EQ(shown(), "Undo (Ctrl+Z)");
}

TEST_F(TipWindowTest, LinksOpenOnTheDesktopRelativeOnesUnderTheHelpRoot)
{
    testsupport::UrlCatcher catcher;
    Browser* browser = m_tip->browser();
    browser->setSource(QUrl("4-Kestrine_Tools/Navigator.htm"));
    browser->setSource(QUrl("http://www.orlenthtech.example/news.htm"));
    ASSERT_EQ(catcher.urls().size(), 2);
    EXPECT_EQ(catcher.urls()[0], QUrl(Browser::helpRoot() + "/4-Kestrine_Tools/Navigator.htm"));
    EXPECT_EQ(catcher.urls()[0].scheme(), "file");
    EXPECT_EQ(catcher.urls()[1], QUrl("http://www.orlenthtech.example/news.htm"));
    EXPECT_TRUE(browser->source().isEmpty()) << "the browser never navigates";

    Browser::setHelpRootHook([] { return QStringLiteral("file:///opt/kestrine/Help/de"); });
    browser->setSource(QUrl("4-Kestrine_Tools/Navigator.htm"));
    Browser::setHelpRootHook(nullptr);
    ASSERT_EQ(catcher.urls().size(), 3);
    EXPECT_EQ(catcher.urls()[2].toLocalFile(), "/opt/kestrine/Help/de/4-Kestrine_Tools/Navigator.htm");

    // A clicked link in a tip goes the same way.
    TipWindow::setTipHtml("<p><a href=\"4-Kestrine_Tools/Clean.htm\">Learn More</a></p>");
    m_tip->userShow();
    ASSERT_TRUE(testsupport::showForInput(m_tip));
    m_tip->resize(300, 200);
    QCoreApplication::processEvents();
    const QTextCursor link = browser->document()->find("Learn");
    ASSERT_FALSE(link.isNull());
    testsupport::mouseClick(browser->viewport(), browser->cursorRect(link).center());
    ASSERT_EQ(catcher.urls().size(), 4);
    EXPECT_EQ(catcher.urls()[3], QUrl(Browser::helpRoot() + "/4-Kestrine_Tools/Clean.htm"));
}

// Menu help runs through the application style, installed over Fusion for these cases.
class MenuHelpTest : public TipWindowTest {
protected:
    void SetUp() override
    {
        TipWindowTest::SetUp();
        if (!qobject_cast<KsAppStyle*>(QApplication::style()))
            QApplication::setStyle(new KsAppStyle(QStyleFactory::create("Fusion")));
        m_menu = std::make_unique<QMenu>();
        m_first = m_menu->addAction("First");
        m_first->setWhatsThis("<p><b>First</b></p>");
        m_second = m_menu->addAction("Second");
        m_second->setWhatsThis("<p><b>Second</b></p>");
        m_second->setShortcut(QKeySequence("Ctrl+2"));
        TipWindow::setTipHtml("<p>idle</p>");
    }

    void open()
    {
        m_menu->popup(QPoint(50, 50));
        ASSERT_TRUE(testsupport::waitUntil([&] { return m_menu->isVisible(); }, 5000));
    }

    void hover(QAction* action)
    {
        m_lastHover.start();
        m_menu->setActiveAction(action);
    }

    // Long enough for the delay to have passed without anything being shown.
    void waitPastTheDelay()
    {
        QElapsedTimer timer;
        timer.start();
        testsupport::waitUntil([&] { return timer.elapsed() > 2 * ShowMenuActionWhatsThis::HelpDelayMs; });
    }

    std::unique_ptr<QMenu> m_menu;
    QAction* m_first = nullptr;
    QAction* m_second = nullptr;
    QElapsedTimer m_lastHover;
};

TEST_F(MenuHelpTest, HelpShowsAfterTheDelayFromTheLastHover)
{
    open();
    hover(m_first);
    ShowMenuActionWhatsThis* timer = ShowMenuActionWhatsThis::instance();
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->parent(), QCoreApplication::instance());
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->pendingAction(), m_first);
    hover(m_second);
    EXPECT_EQ(timer->pendingAction(), m_second);

    ASSERT_TRUE(testsupport::waitUntil([&] { return shown() != "idle"; }, 5000));
    EXPECT_GE(m_lastHover.elapsed(), ShowMenuActionWhatsThis::HelpDelayMs);
    EXPECT_EQ(shown(), "Second (Ctrl+2)");
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(timer->pendingAction(), nullptr);
}

TEST_F(MenuHelpTest, ClosingTheMenuEarlyShowsNothingAndTheNextOpeningWaitsAgain)
{
    open();
    hover(m_first);
    m_menu->hide();
    ShowMenuActionWhatsThis* timer = ShowMenuActionWhatsThis::instance();
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(timer->pendingAction(), nullptr);
    waitPastTheDelay();
    EXPECT_EQ(shown(), "idle");

    // The same item again after reopening: the whole delay, then its help.
    open();
    hover(m_first);
    EXPECT_TRUE(timer->isActive());
    ASSERT_TRUE(testsupport::waitUntil([&] { return shown() != "idle"; }, 5000));
    EXPECT_EQ(shown(), "First");
}

TEST_F(MenuHelpTest, AnItemDeletedDuringTheDelayIsNeverUsed)
{
    open();
    hover(m_second);
    delete m_second;
    m_second = nullptr;
    waitPastTheDelay();
    EXPECT_EQ(shown(), "idle");
    EXPECT_FALSE(ShowMenuActionWhatsThis::instance()->isActive());
}

TEST_F(MenuHelpTest, AMenuIsWatchedOnceHoweverOftenItIsPolished)
{
    open();
    QApplication::style()->polish(m_menu.get());
    QApplication::style()->polish(m_menu.get());
    hover(m_first);
    ASSERT_TRUE(testsupport::waitUntil([&] { return shown() != "idle"; }, 5000));
    EXPECT_EQ(shown(), "First");
    // Closing disconnects the hover: a hover outside an opening starts nothing.
    m_menu->hide();
    TipWindow::setTipHtml("<p>idle</p>");
    emit m_menu->hovered(m_second);
    EXPECT_FALSE(ShowMenuActionWhatsThis::instance()->isActive());
}

} // namespace
