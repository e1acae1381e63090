// The widget test helpers: window-level mouse input, the double-click sequence, pen events, the
// pop-up menu closer and the URL catcher.

#include "PopupMenuCloser.h"
#include "UrlCatcher.h"
#include "Wait.h"
#include "WidgetInput.h"

#include <QDesktopServices>
#include <QMenu>
#include <QMouseEvent>
#include <QTabletEvent>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

struct Seen {
    QEvent::Type type;
    QPoint pos;
    Qt::MouseButtons buttons;
    Qt::KeyboardModifiers modifiers;
    qreal pressure = 0;
};

// Records the mouse and pen events it receives.
class Recorder : public QWidget {
public:
    explicit Recorder(QWidget* parent = nullptr) : QWidget(parent) {}
    QList<Seen> seen;
    bool acceptTablet = true;

    QList<QEvent::Type> types() const
    {
        QList<QEvent::Type> result;
        for (const Seen& s : seen)
            result.append(s.type);
        return result;
    }

protected:
    bool event(QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove: {
            auto* m = static_cast<QMouseEvent*>(event);
            seen.append({event->type(), m->pos(), m->buttons(), m->modifiers()});
            return true;
        }
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease: {
            auto* t = static_cast<QTabletEvent*>(event);
            seen.append({event->type(), t->pos(), t->buttons(), t->modifiers(), t->pressure()});
            event->setAccepted(acceptTablet);
            return true;
        }
        default:
            return QWidget::event(event);
        }
    }
};

class WidgetInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_window.resize(200, 150);
        m_target = new Recorder(&m_window);
        m_target->setGeometry(40, 30, 100, 80);
        ASSERT_TRUE(testsupport::showForInput(m_target));
    }

    QWidget m_window;
    Recorder* m_target = nullptr;
};

TEST_F(WidgetInputTest, PressMoveAndReleaseReachTheWidgetInItsCoordinates)
{
    testsupport::mousePress(m_target, {10, 12});
    testsupport::mouseMove(m_target, {20, 25}, Qt::AltModifier);
    testsupport::mouseRelease(m_target, {20, 25}, Qt::LeftButton, Qt::ShiftModifier);

    ASSERT_EQ(m_target->types(),
              (QList<QEvent::Type>{QEvent::MouseButtonPress, QEvent::MouseMove,
                                   QEvent::MouseButtonRelease}));
    EXPECT_EQ(m_target->seen[0].pos, QPoint(10, 12));
    EXPECT_EQ(m_target->seen[0].buttons, Qt::LeftButton);
    EXPECT_EQ(m_target->seen[1].pos, QPoint(20, 25));
    EXPECT_EQ(m_target->seen[1].buttons, Qt::LeftButton) << "the pressed button is held";
    EXPECT_EQ(m_target->seen[1].modifiers, Qt::AltModifier);
    EXPECT_EQ(m_target->seen[2].pos, QPoint(20, 25));
    EXPECT_EQ(m_target->seen[2].buttons, Qt::NoButton);
    EXPECT_EQ(m_target->seen[2].modifiers, Qt::ShiftModifier);
}

TEST_F(WidgetInputTest, PressedWidgetKeepsTheMouseOutsideItself)
{
    testsupport::mousePress(m_target, {5, 5}, Qt::RightButton);
    testsupport::mouseMove(m_target, {-20, -10});
    testsupport::mouseRelease(m_target, {-20, -10}, Qt::RightButton);
    ASSERT_EQ(m_target->seen.size(), 3);
    EXPECT_EQ(m_target->seen[1].pos, QPoint(-20, -10));
    EXPECT_EQ(m_target->seen[1].buttons, Qt::RightButton);
}

TEST_F(WidgetInputTest, DoubleClickIsTheRealSequence)
{
    testsupport::mouseDoubleClick(m_target, {30, 30});
    EXPECT_EQ(m_target->types(),
              (QList<QEvent::Type>{QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                   QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}));
    // Two clicks made apart are two clicks.
    m_target->seen.clear();
    testsupport::mouseClick(m_target, {30, 30});
    testsupport::mouseClick(m_target, {30, 30});
    EXPECT_EQ(m_target->types(),
              (QList<QEvent::Type>{QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                   QEvent::MouseButtonPress, QEvent::MouseButtonRelease}));
}

TEST_F(WidgetInputTest, PenEventsCarryPressureAndReportAcceptance)
{
    EXPECT_TRUE(testsupport::tabletEvent(m_target, QEvent::TabletPress, {4.5, 6}, 0.25));
    EXPECT_TRUE(testsupport::tabletEvent(m_target, QEvent::TabletMove, {8, 9}, 0.75));
    m_target->acceptTablet = false;
    EXPECT_FALSE(testsupport::tabletEvent(m_target, QEvent::TabletRelease, {8, 9}, 0.0,
                                          Qt::LeftButton, Qt::NoButton));
    ASSERT_EQ(m_target->seen.size(), 3);
    EXPECT_DOUBLE_EQ(m_target->seen[0].pressure, 0.25);
    EXPECT_DOUBLE_EQ(m_target->seen[1].pressure, 0.75);
    EXPECT_EQ(m_target->seen[1].pos, QPoint(8, 9));
    EXPECT_EQ(m_target->seen[2].type, QEvent::TabletRelease);
}

TEST(PopupMenuCloserTest, ClosesOrChoosesFromABlockingMenu)
{
    QMenu menu;
    QAction* one = menu.addAction("&One");
    menu.addSeparator();
    QAction* two = menu.addAction("Two");
    QAction* hidden = menu.addAction("Hidden");
    hidden->setVisible(false);
    Q_UNUSED(one);

    testsupport::PopupMenuCloser closer;
    EXPECT_EQ(menu.exec(QPoint(10, 10)), nullptr);
    EXPECT_TRUE(closer.opened());
    EXPECT_EQ(closer.itemTexts(), (QStringList{"&One", "Two"}));

    closer.arm("Two");
    EXPECT_EQ(menu.exec(QPoint(10, 10)), two);
    EXPECT_TRUE(closer.opened());

    // A non-blocking pop-up is closed too.
    closer.arm();
    menu.popup(QPoint(10, 10));
    EXPECT_TRUE(testsupport::waitUntil([&] { return closer.opened() && !menu.isVisible(); }, 5000));
}

TEST(UrlCatcherTest, CatchesOpenedAddressesWhileItLives)
{
    testsupport::UrlCatcher catcher;
    EXPECT_TRUE(QDesktopServices::openUrl(QUrl("http://www.orlenthtech.example/help/a.htm")));
    EXPECT_TRUE(QDesktopServices::openUrl(QUrl::fromLocalFile("/tmp/b.htm")));
    ASSERT_EQ(catcher.urls().size(), 2);
    EXPECT_EQ(catcher.urls()[0].host(), "www.orlenthtech.example");
    EXPECT_EQ(catcher.urls()[1].path(), "/tmp/b.htm");
}

} // namespace
