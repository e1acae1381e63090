// The click filter: a release turns into a single click only after the double-click interval,
// a double click never also gives a single click, and the watched widget still sees every event.

#include "canvas/MouseClickFilter.h"

#include "Wait.h"
#include "WidgetInput.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWidget>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct Click {
    QEvent::Type type;
    QPoint pos;
    Qt::MouseButton button;
    Qt::MouseButtons buttons;
    Qt::KeyboardModifiers modifiers;
};

Click copyOf(const QMouseEvent* event)
{
    return {event->type(), event->pos(), event->button(), event->buttons(), event->modifiers()};
}

// Counts the mouse events that reach it, so that a consumed event would show.
class Target : public QWidget {
public:
    QList<QEvent::Type> seen;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonRelease
            || event->type() == QEvent::MouseButtonDblClick)
            seen.append(event->type());
        return QWidget::event(event);
    }
};

class MouseClickFilterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Short, so that the cases wait little; the platform's double clicks follow it too.
        QApplication::setDoubleClickInterval(150);
        target.resize(60, 40);
        target.installEventFilter(&filter);
        QObject::connect(&filter, &MouseClickFilter::singleClick, &target,
                         [this](const QMouseEvent* e) { singles.append(copyOf(e)); });
        QObject::connect(&filter, &MouseClickFilter::doubleClick, &target,
                         [this](const QMouseEvent* e) { doubles.append(copyOf(e)); });
    }

    // Lets well more than the double-click interval pass.
    static void waitPastInterval()
    {
        waitUntil([] { return false; }, QApplication::doubleClickInterval() * 3);
    }

    void sendRelease(QPoint pos)
    {
        QMouseEvent release(QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(&target, &release);
    }

    Target target;
    MouseClickFilter filter{&target};
    QList<Click> singles;
    QList<Click> doubles;
};

} // namespace

TEST_F(MouseClickFilterTest, ReleaseBecomesOneSingleClickOnceTheIntervalHasPassed)
{
    ASSERT_TRUE(showForInput(&target));
    mouseClick(&target, QPoint(7, 9), Qt::RightButton, Qt::ShiftModifier);

    // Not yet: a second click could still make it a double click.
    EXPECT_TRUE(singles.isEmpty());
    EXPECT_TRUE(filter.isActive());
    ASSERT_TRUE(waitUntil([&] { return !singles.isEmpty(); }));
    waitPastInterval();

    ASSERT_EQ(singles.size(), 1);
    EXPECT_TRUE(doubles.isEmpty());
    const Click& click = singles.first();
    EXPECT_EQ(click.type, QEvent::MouseButtonRelease);
    EXPECT_EQ(click.pos, QPoint(7, 9));
    EXPECT_EQ(click.button, Qt::RightButton);
    EXPECT_EQ(click.buttons, Qt::NoButton);
    EXPECT_EQ(click.modifiers, Qt::ShiftModifier);
    // The widget itself still got the release.
    EXPECT_EQ(target.seen, QList<QEvent::Type>{QEvent::MouseButtonRelease});
}

TEST_F(MouseClickFilterTest, DoubleClickGivesOneDoubleClickAndNoSingleClick)
{
    ASSERT_TRUE(showForInput(&target));
    mouseDoubleClick(&target, QPoint(20, 11));
    waitPastInterval();

    ASSERT_EQ(doubles.size(), 1);
    EXPECT_EQ(doubles.first().type, QEvent::MouseButtonDblClick);
    EXPECT_EQ(doubles.first().pos, QPoint(20, 11));
    EXPECT_TRUE(singles.isEmpty());
    EXPECT_FALSE(filter.isActive());
    EXPECT_EQ(target.seen, (QList<QEvent::Type>{QEvent::MouseButtonRelease,
                                                QEvent::MouseButtonDblClick,
                                                QEvent::MouseButtonRelease}));

    // The next click is a single click again.
    mouseClick(&target, QPoint(3, 3));
    ASSERT_TRUE(waitUntil([&] { return singles.size() == 1; }));
    EXPECT_EQ(doubles.size(), 1);
}

TEST_F(MouseClickFilterTest, TwoReleasesWithinTheIntervalGiveNothing)
{
    sendRelease(QPoint(1, 1));
    sendRelease(QPoint(2, 2));
    waitPastInterval();
    EXPECT_TRUE(singles.isEmpty());
    EXPECT_TRUE(doubles.isEmpty());

    sendRelease(QPoint(4, 5));
    ASSERT_TRUE(waitUntil([&] { return singles.size() == 1; }));
    EXPECT_EQ(singles.first().pos, QPoint(4, 5));
}

TEST_F(MouseClickFilterTest, ClickDuringASingleClickHandlerStartsAfresh)
{
    // A receiver that runs a dialog sees further clicks while it handles the first one.
    bool nested = false;
    QObject::connect(&filter, &MouseClickFilter::singleClick, &target,
                     [&](const QMouseEvent*) {
                         if (!nested) {
                             nested = true;
                             sendRelease(QPoint(30, 30));
                         }
                     });
    sendRelease(QPoint(10, 10));
    ASSERT_TRUE(waitUntil([&] { return singles.size() == 2; }));
    waitPastInterval();
    ASSERT_EQ(singles.size(), 2);
    EXPECT_EQ(singles.at(0).pos, QPoint(10, 10));
    EXPECT_EQ(singles.at(1).pos, QPoint(30, 30));
}
