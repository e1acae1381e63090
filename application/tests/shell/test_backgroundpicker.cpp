// The background picker: its geometry as pure functions, the brushes of its swatches, what
// single and double clicks do, the colours that persist (and the order that does not), and
// what it paints.

#include "panels/Browser.h"
#include "shell/BackgroundPicker.h"
#include "shell/BackgroundSwatch.h"

#include "ScriptedPrompt.h"
#include "Wait.h"
#include "WidgetInput.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QSettings>

#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

const QString primaryKey = QStringLiteral("Colors/BackgroundPicker/Primary Background");
const QString secondaryKey = QStringLiteral("Colors/BackgroundPicker/Secondary Background");

QRect square(int x0, int y0, int x1, int y1)
{
    return QRect(QPoint(x0, y0), QPoint(x1, y1));
}

QImage picture(const char* name)
{
    return QImage(QStringLiteral(":images/%1.png").arg(name)).convertToFormat(QImage::Format_ARGB32);
}

// What the checkerboard shows at a widget point: the swatch's colour on its dark squares, white
// on its light ones.
QColor checkerAt(const QImage& board, QPoint at, const QColor& colour)
{
    return qGray(board.pixel(at.x() % 16, at.y() % 16)) < 128 ? colour : QColor(Qt::white);
}

QImage rendered(BackgroundPicker& picker)
{
    QImage image(picker.size(), QImage::Format_ARGB32);
    image.fill(Qt::black);
    picker.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

// Answers colour requests and notes how often the picker had announced a change by then.
class WatchingPrompt : public ScriptedPrompt {
public:
    const int* announced = nullptr;
    QList<int> announcedAtRequest;

    QColor color(const QColor& initial, QWidget* parent, const QString& title,
                 QColorDialog::ColorDialogOptions options) override
    {
        announcedAtRequest.append(announced ? *announced : -1);
        return ScriptedPrompt::color(initial, parent, title, options);
    }
};

class BackgroundPickerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings().clear();
        QApplication::setDoubleClickInterval(150);
    }

    // A shown picker of the given size that counts its announcements.
    std::unique_ptr<BackgroundPicker> shownPicker(QSize size = QSize(50, 50))
    {
        auto picker = std::make_unique<BackgroundPicker>();
        picker->resize(size);
        QObject::connect(picker.get(), &BackgroundPicker::activeBrushChanged, picker.get(),
                         [this] { ++announced; });
        EXPECT_TRUE(showForInput(picker.get()));
        EXPECT_EQ(picker->size(), size);
        return picker;
    }

    static void waitPastInterval()
    {
        waitUntil([] { return false; }, QApplication::doubleClickInterval() * 3);
    }

    int announced = 0;
};

} // namespace

TEST(BackgroundPickerGeometry, SmallestSizeHoldsTwoOverlappingSquares)
{
    EXPECT_EQ(BackgroundPicker::minimumSizeFor(2), QSize(50, 50));
    const BackgroundPicker::Geometry g = BackgroundPicker::geometryFor(QSize(50, 50), 2);
    EXPECT_EQ(g.cell, 16);
    EXPECT_EQ(g.dx, 0);
    EXPECT_EQ(g.dy, 0);
    EXPECT_EQ(BackgroundPicker::swatchRect(g, 0), square(0, 0, 32, 32));
    EXPECT_EQ(BackgroundPicker::swatchRect(g, 1), square(16, 16, 48, 48));
}

TEST(BackgroundPickerGeometry, LongerSideCentresTheSquares)
{
    BackgroundPicker::Geometry g = BackgroundPicker::geometryFor(QSize(80, 50), 2);
    EXPECT_EQ(g.cell, 16);
    EXPECT_EQ(g.dx, 5);
    EXPECT_EQ(g.dy, 0);
    EXPECT_EQ(BackgroundPicker::swatchRect(g, 0), square(5, 0, 37, 32));
    EXPECT_EQ(BackgroundPicker::swatchRect(g, 1), square(21, 16, 53, 48));

    g = BackgroundPicker::geometryFor(QSize(50, 80), 2);
    EXPECT_EQ(g.cell, 16);
    EXPECT_EQ(g.dx, 0);
    EXPECT_EQ(g.dy, 5);
}

TEST(BackgroundPickerGeometry, CellsRoundHalfUpAndStayInside)
{
    // 50 / 3 = 16.67 and 49 / 3 = 16.33.
    EXPECT_EQ(BackgroundPicker::geometryFor(QSize(52, 52), 2).cell, 17);
    EXPECT_EQ(BackgroundPicker::geometryFor(QSize(51, 51), 2).cell, 16);
    // One swatch: 33 / 2 = 16.5 rounds up; 36 / 2 = 18 against 16.5, offset (18 - 17) / 2.
    EXPECT_EQ(BackgroundPicker::geometryFor(QSize(35, 35), 1).cell, 17);
    const BackgroundPicker::Geometry wide = BackgroundPicker::geometryFor(QSize(38, 35), 1);
    EXPECT_EQ(wide.cell, 17);
    EXPECT_EQ(wide.dx, 0);
    EXPECT_EQ(BackgroundPicker::minimumSizeFor(1), QSize(34, 34));
    // Whatever the size, the back square ends inside the widget.
    for (int w = 50; w < 120; ++w) {
        for (int h = 50; h < 120; h += 7) {
            const QRect back =
                BackgroundPicker::swatchRect(BackgroundPicker::geometryFor(QSize(w, h), 2), 1);
            EXPECT_TRUE(QRect(0, 0, w, h).contains(back)) << w << " x " << h;
        }
    }
    // Too small to hold anything: empty squares, never negative ones.
    EXPECT_EQ(BackgroundPicker::geometryFor(QSize(1, 0), 2).cell, 0);
}

TEST(BackgroundPickerGeometry, HitsTellSwatchesFromTheSwapArea)
{
    const QSize size(50, 50);
    const auto at = [&](int x, int y) { return BackgroundPicker::swatchAt(QPoint(x, y), size, 2); };
    EXPECT_EQ(at(0, 0), 0);
    EXPECT_EQ(at(32, 32), 0);   // edges belong to the square
    EXPECT_EQ(at(16, 16), 0);   // the front one first
    EXPECT_EQ(at(33, 33), 1);
    EXPECT_EQ(at(40, 20), 1);   // the back swatch's visible corner
    EXPECT_EQ(at(48, 48), 1);
    EXPECT_EQ(at(49, 49), -1);
    EXPECT_EQ(at(40, 5), -1);
    EXPECT_EQ(at(5, 40), -1);

    const auto swaps = [&](int x, int y) { return BackgroundPicker::isSwapPoint(QPoint(x, y), size); };
    EXPECT_TRUE(swaps(40, 5));
    EXPECT_TRUE(swaps(26, 49));
    EXPECT_FALSE(swaps(25, 5));  // the middle column is the left half's
    EXPECT_FALSE(swaps(5, 40));
    // A release dragged off the widget is no click on it.
    EXPECT_FALSE(swaps(40, 50));
    EXPECT_FALSE(swaps(50, 5));
    EXPECT_FALSE(swaps(40, -1));
}

TEST_F(BackgroundPickerTest, WidgetSizesHelpAndPictures)
{
    BackgroundPicker picker;
    EXPECT_EQ(picker.minimumSizeHint(), QSize(50, 50));
    EXPECT_EQ(picker.sizePolicy().horizontalPolicy(), QSizePolicy::MinimumExpanding);
    EXPECT_EQ(picker.sizePolicy().verticalPolicy(), QSizePolicy::MinimumExpanding);
    EXPECT_EQ(picker.toolTip(), "Select the background color");
    EXPECT_TRUE(picker.whatsThis().startsWith("<p><b>Background Picker</b></p><p>Choose the "
                                              "color of the background"));
    EXPECT_TRUE(picker.whatsThis().endsWith(
        "using the swap arrow.</p><p><a href=\"" + Browser::helpRoot()
        + "/4-Kestrine_Tools/About_Kestrine_Tools.htm\">Learn More</a></p>"));

    // Our pictures: an even two-tone board, and the arrow.
    const QImage board = picture("background_checker");
    ASSERT_EQ(board.size(), QSize(16, 16));
    EXPECT_EQ(board.pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(board.pixelColor(8, 8), QColor(Qt::black));
    EXPECT_EQ(board.pixelColor(8, 0), QColor(Qt::white));
    EXPECT_EQ(board.pixelColor(0, 8), QColor(Qt::white));
    EXPECT_EQ(picture("background_swap").size(), QSize(16, 16));
}

TEST_F(BackgroundPickerTest, FrontBrushIsSolidUntilTheCheckerIsSwappedIn)
{
    BackgroundPicker picker;
    ASSERT_EQ(picker.swatchCount(), 2);
    EXPECT_EQ(picker.primaryBrush().style(), Qt::SolidPattern);
    EXPECT_EQ(picker.primaryBrush().color(), QColor(Qt::blue));
    EXPECT_EQ(picker.brush(2).style(), Qt::NoBrush);

    int announced = 0;
    QObject::connect(&picker, &BackgroundPicker::activeBrushChanged, [&] { ++announced; });
    picker.doubleClickEvent(nullptr);
    const QBrush front = picker.primaryBrush();
    EXPECT_EQ(front.style(), Qt::TexturePattern);
    EXPECT_EQ(front.color(), QColor(Qt::gray));
    EXPECT_EQ(front.textureImage().convertToFormat(QImage::Format_ARGB32),
              picture("background_checker"));
    EXPECT_EQ(picker.brush(1).color(), QColor(Qt::blue));
    EXPECT_EQ(announced, 1);

    picker.doubleClickEvent(nullptr);
    EXPECT_EQ(picker.primaryBrush().color(), QColor(Qt::blue));
    EXPECT_EQ(announced, 2);
}

TEST_F(BackgroundPickerTest, ColoursPersistButTheOrderDoesNot)
{
    {
        BackgroundPicker picker;
        picker.swatch(0)->setColor(QColor(1, 2, 3));
        picker.swatch(1)->setColor(QColor(4, 5, 6));
        picker.doubleClickEvent(nullptr);
        EXPECT_EQ(picker.swatch(0)->keyName(), "BackgroundPicker/Secondary Background");
    }
    QSettings settings;
    EXPECT_EQ(settings.value(primaryKey).value<QColor>(), QColor(1, 2, 3));
    EXPECT_EQ(settings.value(secondaryKey).value<QColor>(), QColor(4, 5, 6));

    BackgroundPicker again;
    EXPECT_EQ(again.swatch(0)->keyName(), "BackgroundPicker/Primary Background");
    EXPECT_EQ(again.swatch(0)->color(), QColor(1, 2, 3));
    EXPECT_EQ(again.swatch(0)->defaultColor(), QColor(Qt::blue));
    EXPECT_TRUE(again.swatch(0)->backdrop().isNull());
    EXPECT_EQ(again.swatch(1)->color(), QColor(4, 5, 6));
    EXPECT_EQ(again.swatch(1)->defaultColor(), QColor(Qt::gray));
    EXPECT_FALSE(again.swatch(1)->backdrop().isNull());
}

TEST_F(BackgroundPickerTest, ClickOnEitherSwatchEditsTheFrontColourThenAnnounces)
{
    WatchingPrompt prompt;
    prompt.announced = &announced;
    prompt.cancelColor();
    prompt.answerColor(QColor(10, 200, 10));
    auto picker = shownPicker();

    // A cancelled dialog is announced all the same.
    mouseClick(picker.get(), QPoint(10, 10));
    ASSERT_TRUE(waitUntil([&] { return announced == 1; }));
    EXPECT_EQ(picker->swatch(0)->color(), QColor(Qt::blue));

    // The back swatch's visible corner edits the front colour too.
    mouseClick(picker.get(), QPoint(45, 45));
    ASSERT_TRUE(waitUntil([&] { return announced == 2; }));
    waitPastInterval();

    EXPECT_EQ(prompt.colorRequests(), 2);
    // The dialog came first, the announcement after it.
    EXPECT_EQ(prompt.announcedAtRequest, (QList<int>{0, 1}));
    EXPECT_EQ(picker->swatch(0)->keyName(), "BackgroundPicker/Primary Background");
    EXPECT_EQ(picker->swatch(0)->color(), QColor(10, 200, 10));
    EXPECT_EQ(picker->swatch(1)->color(), QColor(Qt::gray));
    EXPECT_EQ(announced, 2);
}

TEST_F(BackgroundPickerTest, ClickBesideTheSwatchesSwapsOnTheRightOnly)
{
    ScriptedPrompt prompt;
    auto picker = shownPicker(QSize(80, 50));

    // Left of the squares: nothing.
    mouseClick(picker.get(), QPoint(2, 45));
    waitPastInterval();
    EXPECT_EQ(announced, 0);

    // Right half, outside the squares (they end at x = 53): a swap.
    mouseClick(picker.get(), QPoint(70, 10));
    ASSERT_TRUE(waitUntil([&] { return announced == 1; }));
    EXPECT_EQ(picker->primaryBrush().style(), Qt::TexturePattern);

    mouseClick(picker.get(), QPoint(60, 45));
    ASSERT_TRUE(waitUntil([&] { return announced == 2; }));
    waitPastInterval();
    EXPECT_EQ(picker->primaryBrush().color(), QColor(Qt::blue));
    EXPECT_EQ(prompt.colorRequests(), 0);
    EXPECT_EQ(announced, 2);
}

TEST_F(BackgroundPickerTest, DoubleClickAnywhereSwapsWithoutADialog)
{
    ScriptedPrompt prompt;
    auto picker = shownPicker();

    mouseDoubleClick(picker.get(), QPoint(10, 10));
    ASSERT_TRUE(waitUntil([&] { return announced == 1; }));
    EXPECT_EQ(picker->swatch(0)->keyName(), "BackgroundPicker/Secondary Background");

    mouseDoubleClick(picker.get(), QPoint(5, 45));
    ASSERT_TRUE(waitUntil([&] { return announced == 2; }));
    waitPastInterval();
    EXPECT_EQ(picker->swatch(0)->keyName(), "BackgroundPicker/Primary Background");
    EXPECT_EQ(prompt.colorRequests(), 0);
    EXPECT_EQ(announced, 2);
}

TEST_F(BackgroundPickerTest, PaintsFramedSwatchesFrontOnTopAndTheArrowTopRight)
{
    BackgroundPicker picker;
    picker.resize(50, 50);
    QImage image = rendered(picker);

    const QColor white(Qt::white);
    const QColor blue(Qt::blue);
    EXPECT_EQ(image.pixelColor(16, 16), blue);  // swatch 0's centre
    EXPECT_EQ(image.pixelColor(1, 1), blue);
    EXPECT_EQ(image.pixelColor(31, 31), blue);
    for (const QPoint frame : {QPoint(0, 16), QPoint(16, 0), QPoint(32, 16), QPoint(16, 32),
                               QPoint(32, 40), QPoint(40, 32)})
        EXPECT_EQ(image.pixelColor(frame), white) << frame.x() << "," << frame.y();
    // The back swatch's own frame and its checkerboard in its colour, tiled from the widget's
    // corner.
    const QImage board = picture("background_checker");
    const QColor gray(Qt::gray);
    EXPECT_EQ(image.pixelColor(48, 40), white);
    for (const QPoint inside : {QPoint(33, 33), QPoint(40, 20), QPoint(47, 47), QPoint(20, 44)})
        EXPECT_EQ(image.pixelColor(inside), checkerAt(board, inside, gray)) << inside.x() << "," << inside.y();

    // The arrow's solid pixels, its top right corner at (48, 0).
    const QImage arrow = picture("background_swap");
    int solid = 0;
    for (int y = 0; y < arrow.height(); ++y) {
        for (int x = 0; x < arrow.width(); ++x) {
            if (qAlpha(arrow.pixel(x, y)) == 255) {
                ++solid;
                EXPECT_EQ(image.pixel(33 + x, y), arrow.pixel(x, y)) << x << "," << y;
            }
        }
    }
    EXPECT_GT(solid, 10);

    picker.doubleClickEvent(nullptr);
    image = rendered(picker);
    for (const QPoint inside : {QPoint(16, 16), QPoint(8, 3), QPoint(24, 24), QPoint(1, 30)})
        EXPECT_EQ(image.pixelColor(inside), checkerAt(board, inside, gray)) << inside.x() << "," << inside.y();
    EXPECT_EQ(image.pixelColor(0, 16), white);
    // Blue now shows only where the front square leaves the back one.
    EXPECT_EQ(image.pixelColor(40, 40), blue);
    EXPECT_EQ(image.pixelColor(31, 31), gray);
}

TEST_F(BackgroundPickerTest, AChosenSecondaryColourPaintsTheCheckerboard)
{
    ScriptedPrompt prompt;
    const QColor chosen(200, 30, 120);
    prompt.answerColor(chosen);
    BackgroundPicker picker;
    picker.resize(50, 50);
    picker.doubleClickEvent(nullptr);
    const QMouseEvent click(QEvent::MouseButtonRelease, QPointF(10, 10), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
    picker.singleClickEvent(&click);
    ASSERT_EQ(prompt.colorRequests(), 1);
    ASSERT_EQ(picker.swatch(0)->keyName(), "BackgroundPicker/Secondary Background");
    EXPECT_EQ(picker.swatch(0)->color(), chosen);

    const QImage image = rendered(picker);
    const QImage board = picture("background_checker");
    for (const QPoint inside : {QPoint(3, 3), QPoint(12, 3), QPoint(20, 12), QPoint(24, 24)})
        EXPECT_EQ(image.pixelColor(inside), checkerAt(board, inside, chosen)) << inside.x() << "," << inside.y();
    EXPECT_EQ(image.pixelColor(3, 3), chosen);
}
