// The layout arithmetic of the main window, apart from any window.

#include "shell/WindowLayoutRules.h"

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QRect& r, std::ostream* out)
{
    *out << "(" << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height() << ")";
}

TEST(WindowLayoutRules, ARectangleIsShrunkToTheScreenThenShiftedInside)
{
    const QRect screen(0, 0, 800, 600);
    EXPECT_EQ(WindowLayoutRules::keptInside(QRect(700, -50, 1000, 900), screen), QRect(0, 0, 800, 600));
    EXPECT_EQ(WindowLayoutRules::keptInside(QRect(700, 500, 200, 200), screen), QRect(600, 400, 200, 200));
    EXPECT_EQ(WindowLayoutRules::keptInside(QRect(-30, -20, 100, 100), screen), QRect(0, 0, 100, 100));
    // Inside already: untouched.
    EXPECT_EQ(WindowLayoutRules::keptInside(QRect(10, 20, 300, 200), screen), QRect(10, 20, 300, 200));
    // A screen that does not start at the origin (a second monitor, a panel at the top).
    const QRect right(1920, 30, 1280, 1000);
    EXPECT_EQ(WindowLayoutRules::keptInside(QRect(100, 0, 400, 300), right), QRect(1920, 30, 400, 300));
    EXPECT_EQ(WindowLayoutRules::keptInside(QRect(3100, 900, 400, 300), right), QRect(2800, 730, 400, 300));
}

TEST(WindowLayoutRules, TheFirstRunInsetIsATenthOnEachSideRoundedHalfUp)
{
    EXPECT_EQ(WindowLayoutRules::insetByTenth(QRect(0, 0, 800, 600)), QRect(80, 60, 640, 480));
    // 80.5 and 60.5 round up, 80.4 and 60.4 down.
    EXPECT_EQ(WindowLayoutRules::insetByTenth(QRect(0, 0, 805, 605)), QRect(81, 61, 643, 483));
    EXPECT_EQ(WindowLayoutRules::insetByTenth(QRect(0, 0, 804, 604)), QRect(80, 60, 644, 484));
    EXPECT_EQ(WindowLayoutRules::insetByTenth(QRect(100, 50, 1000, 500)), QRect(200, 100, 800, 400));
}

TEST(WindowLayoutRules, TabAndShiftTabHideAndTheSameKeyAgainShowsEverything)
{
    using R = WindowLayoutRules;
    EXPECT_EQ(R::nextTabHideState(0, false), 1);
    EXPECT_EQ(R::nextTabHideState(1, false), 0);
    EXPECT_EQ(R::nextTabHideState(2, false), 1);
    EXPECT_EQ(R::nextTabHideState(0, true), 2);
    EXPECT_EQ(R::nextTabHideState(2, true), 0);
    EXPECT_EQ(R::nextTabHideState(1, true), 2);
}

TEST(WindowLayoutRules, PanelsStackDownAndOverflowIntoAColumnFurtherLeft)
{
    // Top line 100, bottom 599, gap 4, column 200 wide at x 500.
    const QList<QRect> placed = WindowLayoutRules::stackedColumn({150, 200, 120, 300}, 500, 200, 100, 599, 4);
    ASSERT_EQ(placed.size(), 4);
    EXPECT_EQ(placed[0], QRect(500, 100, 200, 150));
    EXPECT_EQ(placed[1], QRect(500, 254, 200, 200));
    // 458 + 120 - 1 = 577: still fits.
    EXPECT_EQ(placed[2], QRect(500, 458, 200, 120));
    // 582 + 300 would pass the bottom: a new column one width and one gap further left.
    EXPECT_EQ(placed[3], QRect(296, 100, 200, 300));

    // Exactly reaching the bottom still fits.
    const QList<QRect> exact = WindowLayoutRules::stackedColumn({250, 250}, 0, 10, 100, 599, 0);
    EXPECT_EQ(exact[1], QRect(0, 350, 10, 250));
    // A panel taller than the column stays at the top of the first.
    const QList<QRect> tall = WindowLayoutRules::stackedColumn({900}, 0, 10, 100, 599, 0);
    EXPECT_EQ(tall[0], QRect(0, 100, 10, 900));
}
