// Panels and the dock column in an offscreen window: a splitter with a placeholder workspace and
// the dock column, and panels docked into it or floating. Offscreen has no window manager, so
// the checks are of flags, geometry and visibility, never of frames.

#include "ModelImage.h"
#include "Wait.h"
#include "WidgetInput.h"
#include "document/GmModel.h"
#include "document/RectRegion.h"
#include "engine/DravikThread.h"
#include "panels/FakeDock.h"
#include "panels/GmSubWindow.h"
#include "panels/GmSubWindowLayout.h"
#include "panels/KeptOnScreen.h"
#include "panels/TitleButton.h"
#include "panels/TitleWidget.h"

#include <QAction>
#include <QCloseEvent>
#include <QDataStream>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QSizeGrip>
#include <QSplitter>
#include <QStyle>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class TestPanel : public GmSubWindow {
public:
    TestPanel(const QString& name, QWidget* parent, int contentWidth,
              const QString& shortcut = QString(), QWidget* actionHost = nullptr)
        : GmSubWindow(name, name, actionHost, shortcut, parent)
    {
        auto* content = new QWidget;
        content->setMinimumSize(contentWidth, 40);
        setWidget(content);
    }

    bool hasDefaultSize() const override { return false; }
    int usableViewTabs() const override { return tabs; }
    bool restoresVisibility() const override { return restores; }

    int tabs = AllViewTabs;
    bool restores = true;
};

// The main window's stand-in: records the key presses that reach it.
class Window : public QWidget {
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent* event) override { keys.append(event->key()); }
};

// What QWidget::saveGeometry records of a window with this inside, unframed as offscreen windows
// are, on a screen of the given width.
QByteArray geometryRecord(const QRect& inside, int screenWidth)
{
    QByteArray record;
    QDataStream stream(&record, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_4_0);
    stream << quint32(0x1D9D0CB) << quint16(3) << quint16(0) << inside << inside << qint32(0) << quint8(0)
           << quint8(0) << qint32(screenWidth) << inside;
    return record;
}

class SubWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_window.resize(900, 600);
        auto* layout = new QHBoxLayout(&m_window);
        layout->setContentsMargins(0, 0, 0, 0);
        m_splitter = new QSplitter(Qt::Horizontal);
        layout->addWidget(m_splitter);
        m_workspace = new QWidget;
        m_splitter->addWidget(m_workspace);
        m_dock = new FakeDock(m_splitter);
        m_splitter->setStretchFactor(0, 1);
        m_splitter->setStretchFactor(1, 0);
        m_splitter->setCollapsible(0, false);
        m_splitter->setCollapsible(1, false);
        ASSERT_TRUE(testsupport::showForInput(&m_window));
    }

    TestPanel* dockedPanel(const QString& name, int contentWidth)
    {
        auto* panel = new TestPanel(name, &m_window, contentWidth);
        panel->setDock(m_dock);
        panel->setFloating(false, true);
        return panel;
    }

    TestPanel* floatingPanel(const QString& name, int contentWidth)
    {
        auto* panel = new TestPanel(name, &m_window, contentWidth);
        panel->setFloating(true, true);
        return panel;
    }

    Window m_window;
    QSplitter* m_splitter = nullptr;
    QWidget* m_workspace = nullptr;
    FakeDock* m_dock = nullptr;
};

TEST_F(SubWindowTest, TheDockColumnShowsForItsPanelsAndWidensForTheWidest)
{
    TestPanel* first = dockedPanel("First", 120);
    EXPECT_TRUE(m_dock->isHidden()) << "docked but not wanted";
    EXPECT_FALSE(first->isWindow());
    EXPECT_TRUE(first->titleWidget()->isVisibleTo(first));

    first->toggleViewSlot(true);
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(m_dock->isHidden());
    EXPECT_TRUE(first->toggleViewAction()->isChecked());
    QCoreApplication::processEvents();
    const QList<int> before = m_splitter->sizes();
    ASSERT_EQ(before.size(), 2);
    ASSERT_GE(m_dock->width(), first->minimumSizeHint().width());

    // A panel wider than the column by d takes d from the workspace.
    const int d = 37;
    TestPanel* wide = dockedPanel("Wide", m_dock->width() + d - 4);
    ASSERT_EQ(wide->minimumSizeHint().width(), m_dock->width() + d);
    wide->toggleViewSlot(true);
    const QList<int> after = m_splitter->sizes();
    EXPECT_EQ(after, (QList<int>{before[0] - d, before[1] + d}));
    QCoreApplication::processEvents();
    EXPECT_EQ(m_splitter->sizes(), after) << "the splitter keeps the new sizes";

    // A narrower one changes nothing.
    TestPanel* narrow = dockedPanel("Narrow", 60);
    narrow->toggleViewSlot(true);
    EXPECT_EQ(m_splitter->sizes(), after);

    // The column goes with its last visible panel, and the sizes are not put back.
    first->closeViewSlot();
    wide->closeViewSlot();
    EXPECT_FALSE(m_dock->isHidden());
    narrow->closeViewSlot();
    EXPECT_TRUE(m_dock->isHidden());
    EXPECT_FALSE(narrow->toggleViewAction()->isChecked());

    // Floating the only visible panel hides the column too.
    first->toggleViewSlot(true);
    EXPECT_FALSE(m_dock->isHidden());
    first->setFloating(true, true);
    EXPECT_TRUE(first->isWindow());
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->titleWidget()->isVisibleTo(first));
    EXPECT_TRUE(m_dock->isHidden());
    EXPECT_EQ(m_dock->dockLayout()->indexOf(first), -1);
}

TEST_F(SubWindowTest, DockingFollowsTheUsersWishWhetherOrNotQuiet)
{
    // Shown floating, then docked quietly: it stays shown in the column.
    TestPanel* shown = floatingPanel("Shown", 80);
    shown->toggleViewSlot(true);
    ASSERT_TRUE(shown->isVisible());
    shown->setDock(m_dock);
    shown->setFloating(false, true);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_FALSE(m_dock->isHidden());

    // Never wanted: docking does not bring it up.
    TestPanel* unwanted = floatingPanel("Unwanted", 80);
    unwanted->setDock(m_dock);
    unwanted->setFloating(false, true);
    QCoreApplication::processEvents();
    EXPECT_FALSE(unwanted->isVisible());

    // A panel without a dock stays a window.
    TestPanel* homeless = floatingPanel("Homeless", 80);
    homeless->setFloating(false, false);
    EXPECT_TRUE(homeless->isWindow());
}

TEST_F(SubWindowTest, FloatingAndDockingKeepTheWindowGeometryAndTheSizeGrip)
{
    TestPanel* panel = dockedPanel("Panel", 100);
    panel->setResizable(true);
    panel->setDefaultPosition(QPoint(50, 60));
    panel->setDefaultSize(QSize(220, 180));
    panel->setUserVisible(true);

    panel->setFloating(true, false);
    ASSERT_TRUE(panel->isWindow());
    EXPECT_TRUE(panel->windowFlags().testFlag(Qt::Tool));
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->pos(), QPoint(50, 60)) << "no stored geometry: the default";
    EXPECT_EQ(panel->size(), QSize(220, 180));
    ASSERT_NE(panel->sizeGrip(), nullptr);
    QSizeGrip* grip = panel->sizeGrip();
    EXPECT_TRUE(grip->isVisible());
    EXPECT_EQ(grip->geometry().bottomRight(), panel->rect().bottomRight());
    panel->resize(260, 200);
    EXPECT_EQ(grip->geometry().bottomRight(), panel->rect().bottomRight()) << "placed again";

    // Docking stores the window geometry; floating again restores it.
    panel->move(70, 80);
    const QRect floated = panel->geometry();
    panel->setFloating(false, false);
    EXPECT_FALSE(panel->isWindow());
    EXPECT_EQ(panel->sizeGrip(), nullptr);
    EXPECT_EQ(panel->windowFlags() & Qt::WindowType_Mask, Qt::Widget);
    EXPECT_FALSE(panel->savedGeometry().isEmpty());
    panel->setFloating(true, false);
    EXPECT_EQ(panel->geometry(), floated);

    // Not resizable: a fixed-size window without a grip.
    panel->setResizable(false);
    EXPECT_EQ(panel->sizeGrip(), nullptr);
    EXPECT_EQ(panel->subWindowLayout()->sizeConstraint(), QLayout::SetFixedSize);
    panel->setFloating(false, false);
    EXPECT_EQ(panel->subWindowLayout()->sizeConstraint(), QLayout::SetDefaultConstraint);
    EXPECT_EQ(panel->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
}

TEST_F(SubWindowTest, HidingAFloatingPanelStoresItsGeometryForTheSavedState)
{
    TestPanel* panel = floatingPanel("Panel", 100);
    panel->setResizable(true);
    panel->userShow();
    panel->setGeometry(140, 130, 250, 190);
    panel->closeViewSlot();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(panel->isUserVisible());
    TestPanel* reader = floatingPanel("Reader", 100);
    reader->setResizable(true);
    ASSERT_TRUE(reader->restoreGeometry(panel->savedGeometry()));
    EXPECT_EQ(reader->geometry(), QRect(140, 130, 250, 190));

    panel->setGeometry(110, 120, 200, 150);
    panel->userShow();
    const QByteArray state = panel->saveState();
    ASSERT_GE(state.size(), 2);
    EXPECT_EQ(state.at(0), 1);
    EXPECT_EQ(state.mid(1), panel->saveGeometry());

    // A second panel comes back where the first was, visible.
    TestPanel* copy = floatingPanel("Copy", 100);
    copy->setResizable(true);
    copy->restoreState(state);
    EXPECT_EQ(copy->geometry(), QRect(110, 120, 200, 150));
    EXPECT_TRUE(copy->isUserVisible());
    copy->updateVisibility();
    EXPECT_TRUE(copy->isVisible());
}

// A place kept on a larger screen: the panel comes back wholly on this one, moved in no further
// than it must be.
TEST_F(SubWindowTest, APlaceKeptOnALargerScreenComesBackInsideThisOne)
{
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    TestPanel* panel = floatingPanel("Panel", 100);
    panel->setResizable(true);
    panel->setGeometry(work.right() - 100, 120, 250, 190);
    panel->storeGeometry();
    const QByteArray state = QByteArray(1, '\1') + panel->savedGeometry();

    TestPanel* copy = floatingPanel("Copy", 100);
    copy->setResizable(true);
    copy->restoreState(state);
    EXPECT_EQ(copy->size(), QSize(250, 190));
    EXPECT_EQ(copy->geometry().right(), work.right());
    EXPECT_EQ(copy->y(), 120);
}

// A place and size kept on a screen 1920 pixels wide come back on one 1024 wide, and the other
// way round: Qt's restoreGeometry takes nothing from a record made on a screen more than a
// quarter wider or narrower than this one.
TEST_F(SubWindowTest, APlaceKeptOnAScreenOfAnotherWidthComesBackOnThisOne)
{
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    const int here = QGuiApplication::primaryScreen()->geometry().width();
    TestPanel* made = floatingPanel("Made", 100);
    made->setResizable(true);
    made->setGeometry(140, 130, 250, 190);
    ASSERT_EQ(geometryRecord(QRect(140, 130, 250, 190), here), made->saveGeometry()) << "the record is Qt's";

    // From the larger screen: moved in from its right edge, and one taller than this screen
    // shrunk to it with room for its title bar.
    const int larger = here * 1920 / 1024;
    TestPanel* panel = floatingPanel("Panel", 100);
    panel->setResizable(true);
    panel->restoreState(QByteArray(1, '\1') + geometryRecord(QRect(larger - 300, 120, 250, 190), larger));
    EXPECT_EQ(panel->size(), QSize(250, 190));
    EXPECT_EQ(panel->geometry().right(), work.right());
    EXPECT_EQ(panel->y(), 120);
    const int titleBar = panel->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, panel);
    TestPanel* tall = floatingPanel("Tall", 100);
    tall->setResizable(true);
    const QRect tallPlace(larger - 300, 40, 250, work.height() + 200);
    tall->restoreState(QByteArray(1, '\1') + geometryRecord(tallPlace, larger));
    EXPECT_EQ(tall->geometry(), QRect(work.right() + 1 - 250, work.top() + titleBar, 250, work.height() - titleBar));

    // From the smaller screen: where it was, as it was.
    const int smaller = here * 1024 / 1920;
    TestPanel* back = floatingPanel("Back", 100);
    back->setResizable(true);
    back->restoreState(QByteArray(1, '\1') + geometryRecord(QRect(100, 120, 250, 190), smaller));
    EXPECT_EQ(back->geometry(), QRect(100, 120, 250, 190));
}

// Moved in from a larger screen and left there, a panel keeps the place it had there, so that
// back on that screen it is where the user put it; once the user moves it, its new place is kept.
TEST_F(SubWindowTest, APlaceMovedInFromALargerScreenIsKeptForItUntilThePanelIsMoved)
{
    const int here = QGuiApplication::primaryScreen()->geometry().width();
    const int larger = here * 1920 / 1024;
    const QByteArray state = QByteArray(1, '\1') + geometryRecord(QRect(larger - 300, 120, 250, 190), larger);
    TestPanel* panel = floatingPanel("Panel", 100);
    panel->setResizable(true);
    panel->restoreState(state);
    ASSERT_LT(panel->geometry().right(), larger - 50) << "moved in";
    EXPECT_EQ(panel->saveState(), state);

    panel->move(panel->x() - 40, panel->y());
    const QByteArray moved = panel->saveState();
    EXPECT_EQ(storedGeometry(moved.mid(1)), panel->geometry());
}

TEST_F(SubWindowTest, RestoringTheVisibleByteAloneAppliesTheDefaults)
{
    TestPanel* panel = floatingPanel("Panel", 100);
    panel->setResizable(true);
    panel->setDefaultPosition(QPoint(25, 35));
    panel->setDefaultSize(QSize(210, 170));
    panel->restoreState(QByteArray(1, '\1'));
    EXPECT_TRUE(panel->savedGeometry().isEmpty());
    EXPECT_EQ(panel->pos(), QPoint(25, 35));
    EXPECT_EQ(panel->size(), QSize(210, 170));
    EXPECT_TRUE(panel->isUserVisible());
    EXPECT_FALSE(panel->isVisible()) << "the caller updates the visibility";
    panel->updateVisibility();
    EXPECT_TRUE(panel->isVisible());

    TestPanel* shy = floatingPanel("Shy", 100);
    shy->restores = false;
    shy->restoreState(QByteArray(1, '\1'));
    EXPECT_FALSE(shy->isUserVisible());
    shy->updateVisibility();
    EXPECT_FALSE(shy->isVisible());

    // An empty blob changes nothing.
    panel->setGeometry(60, 70, 230, 160);
    panel->storeGeometry();
    const QByteArray geometry = panel->savedGeometry();
    panel->restoreState(QByteArray());
    EXPECT_EQ(panel->savedGeometry(), geometry);
    EXPECT_EQ(panel->geometry(), QRect(60, 70, 230, 160));
    EXPECT_TRUE(panel->isUserVisible());
    EXPECT_TRUE(panel->isVisible());

    // Without a default size a panel keeps its own.
    TestPanel* plain = floatingPanel("Plain", 100);
    plain->setResizable(true);
    plain->resize(190, 140);
    plain->restoreState(QByteArray(1, '\0'));
    EXPECT_EQ(plain->size(), QSize(190, 140));
    EXPECT_EQ(plain->pos(), QPoint(0, 0));
}

TEST_F(SubWindowTest, KeepWidthHoldsTheRestoredWidthAsTheLayoutsHint)
{
    TestPanel* panel = floatingPanel("Panel", 80);
    panel->setResizable(true);
    panel->setKeepWidth(true);
    panel->setDefaultSize(QSize(300, 150));
    panel->applyGeometry();
    EXPECT_EQ(panel->subWindowLayout()->minimumWidthHint(), 300);
    EXPECT_GE(panel->subWindowLayout()->sizeHint().width(), 300);
}

TEST_F(SubWindowTest, APanelWaitsForAUsableTabUnlessClosedMeanwhile)
{
    TestPanel* panel = dockedPanel("Workspace Only", 80);
    panel->tabs = 2;
    panel->viewTabChangedSlot(1);
    EXPECT_FALSE(panel->toggleViewAction()->isEnabled());
    panel->toggleViewSlot(true);
    EXPECT_FALSE(panel->isVisible());
    panel->viewTabChangedSlot(2);
    EXPECT_TRUE(panel->isVisible());
    panel->viewTabChangedSlot(4);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_TRUE(m_dock->isHidden());

    panel->closeViewSlot();
    panel->viewTabChangedSlot(2);
    EXPECT_FALSE(panel->isVisible());

    // userShow shows it at once, whatever the tab.
    panel->viewTabChangedSlot(1);
    panel->userShow();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(m_dock->isHidden());
}

TEST_F(SubWindowTest, TogglingOnLiftsTheSuppressionOfThatPanelOnly)
{
    TestPanel* one = dockedPanel("One", 80);
    TestPanel* two = dockedPanel("Two", 80);
    for (TestPanel* panel : {one, two}) {
        panel->toggleViewSlot(true);
        panel->setSuppressed(true);
        panel->updateVisibility();
        EXPECT_FALSE(panel->isVisible());
    }
    EXPECT_TRUE(m_dock->isHidden());

    one->toggleViewSlot(true);
    EXPECT_TRUE(one->isVisible());
    EXPECT_FALSE(one->isSuppressed());
    EXPECT_TRUE(two->isSuppressed());
    two->updateVisibility();
    EXPECT_FALSE(two->isVisible());
}

TEST_F(SubWindowTest, NameTitleShortcutAndTitleBar)
{
    QWidget menuHost;
    auto* panel = new TestPanel("Edge Finding", &m_window, 100, "F7", &menuHost);
    EXPECT_EQ(panel->objectName(), "DockWidget: Edge Finding");
    EXPECT_EQ(panel->windowTitle(), "Edge Finding");
    EXPECT_EQ(panel->toolTip(), "Edge Finding (F7)");
    QAction* toggle = panel->toggleViewAction();
    EXPECT_EQ(toggle->toolTip(), "Edge Finding (F7)");
    EXPECT_EQ(toggle->shortcut(), QKeySequence(Qt::Key_F7));
    EXPECT_EQ(toggle->text(), "Edge Finding");
    EXPECT_TRUE(toggle->isCheckable());
    EXPECT_TRUE(menuHost.actions().contains(toggle));
    EXPECT_TRUE(panel->isWindow()) << "built floating";
    EXPECT_TRUE(panel->isHidden());

    // The title reaches the action and the title bar.
    panel->setWindowTitle("Kantensuche");
    EXPECT_EQ(toggle->text(), "Kantensuche");
    EXPECT_EQ(panel->titleWidget()->text(), "Kantensuche");

    // Without a shortcut nothing is appended, and without a host the action goes nowhere.
    auto* plain = new TestPanel("Plain", &m_window, 100, QString(), nullptr);
    EXPECT_TRUE(plain->toolTip().isEmpty());
    EXPECT_TRUE(plain->toggleViewAction()->shortcut().isEmpty());
    EXPECT_FALSE(m_window.actions().contains(plain->toggleViewAction()));

    // The title bar: a blue band with white text and a close button that closes the panel.
    panel->setDock(m_dock);
    panel->setFloating(false, true);
    panel->toggleViewSlot(true);
    TitleWidget* title = panel->titleWidget();
    ASSERT_TRUE(title->isVisible());
    EXPECT_EQ(title->palette().color(QPalette::Window), QColor(0, 189, 242, 255));
    EXPECT_EQ(title->label()->palette().color(QPalette::WindowText), QColor(Qt::white));
    const QImage band = title->grab().toImage();
    EXPECT_EQ(QColor(band.pixel(1, 1)), QColor(0, 189, 242));
    TitleButton* close = title->closeButton();
    EXPECT_EQ(close->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(close->sizeHint().width(), close->sizeHint().height());
    close->click();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(panel->isUserVisible());
    EXPECT_FALSE(toggle->isChecked());

    // The toggle action opens it again, as the Window menu does.
    toggle->trigger();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(toggle->isChecked());
}

TEST_F(SubWindowTest, TitleButtonIsASquareJustAroundItsIcon)
{
    TitleButton button;
    EXPECT_EQ(button.sizeHint(), QSize(4, 4));
    QPixmap picture(10, 6);
    picture.fill(Qt::red);
    button.setIcon(QIcon(picture));
    const int small = button.style()->pixelMetric(QStyle::PM_SmallIconSize);
    ASSERT_GE(small, 10);
    EXPECT_EQ(button.sizeHint(), QSize(14, 14));
    EXPECT_EQ(button.minimumSizeHint(), button.sizeHint());
}

TEST_F(SubWindowTest, EscapeIsAnnouncedBackspaceConsumedOtherKeysReachTheParent)
{
    TestPanel* panel = dockedPanel("Keys", 80);
    panel->toggleViewSlot(true);
    QSignalSpy escapes(panel, &GmSubWindow::escapeKeyPressed);

    QTest::keyClick(panel, Qt::Key_Escape);
    EXPECT_EQ(escapes.count(), 1);
    QTest::keyClick(panel, Qt::Key_Backspace);
    EXPECT_TRUE(m_window.keys.isEmpty()) << "Escape and Backspace stay with the panel";
    QTest::keyClick(panel, Qt::Key_A);
    EXPECT_EQ(m_window.keys, QList<int>{Qt::Key_A});
    EXPECT_EQ(escapes.count(), 1);
}

TEST_F(SubWindowTest, BackspaceDeletesTheActivePatchOnly)
{
    testsupport::ModelImage image(400, 300, 1);
    GmModel* model = GmModel::instance();
    DravikThread thread;
    // A closed worker lets a deleted patch go at once.
    thread.setAccepting(false);
    QPointer<RectRegion> kept = new RectRegion(QPointF(10, 10));
    kept->rectangle().dragCornerTo(QPointF(60, 60));
    QPointer<RectRegion> active = new RectRegion(QPointF(100, 100));
    active->rectangle().dragCornerTo(QPointF(160, 160));
    model->setActiveRegion(active, 1);

    TestPanel* panel = dockedPanel("Keys", 80);
    panel->toggleViewSlot(true);
    QTest::keyClick(panel, Qt::Key_Backspace);
    EXPECT_TRUE(active.isNull());
    ASSERT_FALSE(kept.isNull());
    EXPECT_EQ(model->patches().size(), 1);

    // Nothing active: Backspace deletes nothing.
    QTest::keyClick(panel, Qt::Key_Backspace);
    EXPECT_FALSE(kept.isNull());
    thread.setAccepting(true);
}

TEST_F(SubWindowTest, CloseAndShowEventsTrackTheClosedFlagAndTheAction)
{
    TestPanel* panel = floatingPanel("Closable", 80);
    panel->userShow();
    ASSERT_TRUE(panel->isVisible());
    EXPECT_FALSE(panel->isClosed());
    QSignalSpy changes(panel, &GmSubWindow::visibilityChanged);

    EXPECT_TRUE(panel->close());
    EXPECT_TRUE(panel->isClosed());
    EXPECT_FALSE(panel->isUserVisible());
    EXPECT_FALSE(panel->toggleViewAction()->isChecked());
    EXPECT_GE(changes.count(), 1);

    panel->userShow();
    EXPECT_FALSE(panel->isClosed());
    EXPECT_TRUE(panel->toggleViewAction()->isChecked());
}

TEST_F(SubWindowTest, ReplacedContentLeavesTheLayoutAndDeletedContentIsForgotten)
{
    TestPanel* panel = floatingPanel("Content", 80);
    QWidget* first = panel->widget();
    ASSERT_NE(first, nullptr);
    auto* second = new QWidget;
    auto* inner = new QHBoxLayout(second);
    inner->setContentsMargins(9, 9, 9, 9);
    panel->setWidget(second);
    EXPECT_EQ(panel->widget(), second);
    EXPECT_EQ(panel->subWindowLayout()->indexOf(first), -1);
    EXPECT_EQ(inner->contentsMargins(), QMargins(0, 0, 0, 0));
    EXPECT_EQ(inner->spacing(), 5);
    EXPECT_EQ(panel->subWindowLayout()->contentsMargins(), QMargins(2, 2, 2, 2));
    delete second;
    EXPECT_EQ(panel->widget(), nullptr);
}

} // namespace
