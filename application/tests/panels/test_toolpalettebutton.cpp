// The palette's button: a quick second click runs only the double-click action and leaves the
// check state alone; the menu triangle appears only for a choice of actions.

#include "panels/ToolPaletteButton.h"

#include "WidgetInput.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QThread>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct Counts {
    int primary = 0;
    int secondary = 0;
};

} // namespace

TEST(ToolPaletteButton, QuickSecondClickRunsOnlyTheDoubleClickAction)
{
    QAction primary(QStringLiteral("Hand Tool"), nullptr);
    primary.setCheckable(true);
    QAction secondary(QStringLiteral("Fit in Window"), nullptr);
    Counts counts;
    QObject::connect(&primary, &QAction::triggered, [&counts] { ++counts.primary; });
    QObject::connect(&secondary, &QAction::triggered, [&counts] { ++counts.secondary; });

    ToolPaletteButton button;
    button.setDefaultAction(&primary);
    button.setDoubleClickAction(&secondary);
    button.resize(32, 32);
    ASSERT_TRUE(showForInput(&button));

    mouseClick(&button, {16, 16});
    EXPECT_EQ(counts.primary, 1);
    EXPECT_TRUE(primary.isChecked());

    mouseClick(&button, {16, 16});
    EXPECT_EQ(counts.primary, 1);
    EXPECT_EQ(counts.secondary, 1);
    EXPECT_TRUE(primary.isChecked()) << "the double click must not toggle the tool off";

    // The pair is spent: the next click is a first click again.
    mouseClick(&button, {16, 16});
    EXPECT_EQ(counts.primary, 2);
    EXPECT_EQ(counts.secondary, 1);
}

TEST(ToolPaletteButton, SlowSecondClickAndPlainButtonsBehaveOrdinarily)
{
    QAction primary(QStringLiteral("Zoom Tool"), nullptr);
    QAction secondary(QStringLiteral("Actual Pixels"), nullptr);
    int primaryCount = 0;
    int secondaryCount = 0;
    QObject::connect(&primary, &QAction::triggered, [&primaryCount] { ++primaryCount; });
    QObject::connect(&secondary, &QAction::triggered, [&secondaryCount] { ++secondaryCount; });

    ToolPaletteButton withPair;
    withPair.setDefaultAction(&primary);
    withPair.setDoubleClickAction(&secondary);
    withPair.resize(32, 32);
    ASSERT_TRUE(showForInput(&withPair));
    mouseClick(&withPair, {16, 16});
    QThread::msleep(QApplication::doubleClickInterval() + 50);
    mouseClick(&withPair, {16, 16});
    EXPECT_EQ(primaryCount, 2);
    EXPECT_EQ(secondaryCount, 0);

    // A deleted double-click action leaves an ordinary button behind.
    {
        QAction gone(QStringLiteral("Gone"), nullptr);
        withPair.setDoubleClickAction(&gone);
    }
    mouseClick(&withPair, {16, 16});
    mouseClick(&withPair, {16, 16});
    EXPECT_EQ(primaryCount, 4);
}

TEST(ToolPaletteButton, MenuTriangleOnlyForSeveralActions)
{
    QAction first(QStringLiteral("Keep Brush"), nullptr);
    QAction second(QStringLiteral("Keep Bucket"), nullptr);
    const auto grab = [](ToolPaletteButton& button) {
        button.resize(32, 32);
        QImage image(button.size(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        button.render(&image);
        return image;
    };

    ToolPaletteButton single;
    single.setDefaultAction(&first);
    ToolPaletteButton choice;
    choice.setDefaultAction(&first);
    choice.addAction(&second);

    const QImage plain = grab(single);
    const QImage withTriangle = grab(choice);
    // The triangle's widest line runs from (w - 12, h - 10) to (w - 6, h - 10).
    const QRgb ink = choice.palette().color(QPalette::ButtonText).rgb();
    EXPECT_EQ(withTriangle.pixel(32 - 12, 32 - 10), ink);
    EXPECT_EQ(withTriangle.pixel(32 - 9, 32 - 7), ink);
    EXPECT_NE(plain.pixel(32 - 12, 32 - 10), ink);

    choice.setEnabled(false);
    const QImage disabled = grab(choice);
    EXPECT_EQ(disabled.pixel(32 - 12, 32 - 10), choice.palette().color(QPalette::Disabled, QPalette::Mid).rgb());
}
