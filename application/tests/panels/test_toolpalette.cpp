// The tool palette: placing buttons row by row, its double-click and menu buttons, the header
// link, suppression against the user's wish and the state blob; and the tool options strip
// that shows the current tool's widget, icon and help.

#include "document/GmAction.h"
#include "panels/Browser.h"
#include "panels/TipWindow.h"
#include "panels/ToolOptions.h"
#include "panels/ToolPalette.h"
#include "panels/ToolPaletteButton.h"
#include "tools/GmTool.h"
#include "tools/NoTool.h"

#include "LogCapture.h"
#include "ModelImage.h"
#include "PopupMenuCloser.h"
#include "RecordingTool.h"
#include "UrlCatcher.h"
#include "Wait.h"
#include "WidgetInput.h"

#include <QAction>
#include <QApplication>
#include <QDataStream>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QScreen>
#include <QStackedWidget>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

struct Cell {
    int row = -1;
    int column = -1;
    int rowSpan = 0;
    int columnSpan = 0;
    bool operator==(const Cell& other) const
    {
        return row == other.row && column == other.column && rowSpan == other.rowSpan
               && columnSpan == other.columnSpan;
    }
};

std::ostream& operator<<(std::ostream& out, const Cell& cell)
{
    return out << "(" << cell.row << ", " << cell.column << " span " << cell.rowSpan << "x" << cell.columnSpan << ")";
}

Cell cellOf(const ToolPalette& palette, QWidget* widget)
{
    Cell cell;
    const int index = palette.grid()->indexOf(widget);
    if (index >= 0)
        palette.grid()->getItemPosition(index, &cell.row, &cell.column, &cell.rowSpan, &cell.columnSpan);
    return cell;
}

QByteArray blob(QPoint position, bool visible, bool floating)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_4_0);
    stream << position << visible << floating;
    return bytes;
}

} // namespace

TEST(ToolPaletteGrid, PlacesRowByRowAndStartsANewRowForAMisalignedWidget)
{
    LogCapture log;
    ToolPalette palette(nullptr, nullptr, QString());
    EXPECT_EQ(palette.columnCount(), 2);
    QAction keep(QStringLiteral("Keep"), nullptr);
    QAction drop(QStringLiteral("Delete"), nullptr);

    ToolPaletteButton* first = palette.addAction(&keep, 1, Qt::AlignCenter);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(cellOf(palette, first), (Cell{1, 0, 1, 1})) << "row 0 is the header's";
    EXPECT_EQ(first->defaultAction(), &keep);
    EXPECT_TRUE(first->autoRaise());
    EXPECT_EQ(first->focusPolicy(), Qt::NoFocus);

    auto* wide = new QLabel(QStringLiteral("wide"));
    palette.addWidget(wide, 1, 2, Qt::AlignCenter);
    EXPECT_EQ(log.lines(), QStringList{"Tool Palette: Misaligned widget add"});
    EXPECT_EQ(cellOf(palette, wide), (Cell{2, 0, 1, 2}));

    log.clear();
    ToolPaletteButton* left = palette.addAction(&drop, 1, Qt::AlignCenter);
    auto* right = new QLabel(QStringLiteral("right"));
    palette.addWidget(right, 1, 1, Qt::AlignCenter);
    auto* tall = new QLabel(QStringLiteral("tall"));
    palette.addWidget(tall, 2, 2, Qt::AlignCenter);
    EXPECT_EQ(cellOf(palette, left), (Cell{3, 0, 1, 1}));
    EXPECT_EQ(cellOf(palette, right), (Cell{3, 1, 1, 1})) << "fits the row: no warning";
    EXPECT_EQ(cellOf(palette, tall), (Cell{4, 0, 2, 2}));
    palette.addSeparator();
    EXPECT_TRUE(log.lines().isEmpty());
    auto* line = qobject_cast<QFrame*>(palette.grid()->itemAt(palette.grid()->count() - 1)->widget());
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->frameStyle(), 52);
    EXPECT_EQ(cellOf(palette, line), (Cell{6, 0, 1, 2})) << "a widget two rows high takes both";

    // A button two columns wide gets an icon twice as wide.
    ToolPaletteButton* twoWide = palette.addAction(&keep, 2, Qt::AlignCenter);
    EXPECT_EQ(twoWide->iconSize().width(), 2 * first->iconSize().width());
    EXPECT_EQ(twoWide->iconSize().height(), first->iconSize().height());

    // What adds nothing.
    const int count = palette.grid()->count();
    EXPECT_EQ(palette.addAction(nullptr, 1, Qt::AlignCenter), nullptr);
    palette.addWidget(nullptr, 1, 1, Qt::AlignCenter);
    palette.addWidget(new QLabel(&palette), 1, 0, Qt::AlignCenter);
    EXPECT_EQ(palette.addDoubleClickButton(&keep, nullptr), nullptr);
    EXPECT_EQ(palette.addDoubleClickButton(nullptr, &keep), nullptr);
    EXPECT_EQ(palette.addActionMenuButton({&keep}), nullptr);
    EXPECT_EQ(palette.addActionMenuButton({&keep, nullptr, &drop}), nullptr);
    EXPECT_EQ(palette.grid()->count(), count);
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST(ToolPaletteButtons, DoubleClickButtonRunsItsSecondActionOnAQuickSecondClick)
{
    QMainWindow window;
    ToolPalette palette(&window, nullptr, QString());
    GmAction hand(QStringLiteral("Hand Tool"), nullptr);
    hand.setCheckable(true);
    GmAction fit(QStringLiteral("&Fit on Screen"), nullptr);
    int handCount = 0;
    int fitCount = 0;
    QObject::connect(&hand, &QAction::triggered, [&handCount] { ++handCount; });
    QObject::connect(&fit, &QAction::triggered, [&fitCount] { ++fitCount; });
    ToolPaletteButton* button = palette.addDoubleClickButton(&hand, &fit);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(cellOf(palette, button), (Cell{1, 0, 1, 1}));
    window.resize(400, 300);
    ASSERT_TRUE(showForInput(&window));
    ASSERT_TRUE(button->isVisible());

    const QPoint middle = button->rect().center();
    mouseClick(button, middle);
    EXPECT_EQ(handCount, 1);
    mouseClick(button, middle);
    EXPECT_EQ(handCount, 1);
    EXPECT_EQ(fitCount, 1);
    EXPECT_TRUE(hand.isChecked()) << "the second click leaves the tool chosen";
    mouseClick(button, middle);
    EXPECT_EQ(handCount, 2);
    EXPECT_EQ(fitCount, 1);
}

TEST(ToolPaletteButtons, MenuButtonShowsTheLastActionChosen)
{
    QMainWindow window;
    ToolPalette palette(&window, nullptr, QString());
    QAction exact(QStringLiteral("Erase Exact"), nullptr);
    QAction local(QStringLiteral("Erase Local"), nullptr);
    QAction global(QStringLiteral("Erase Global"), nullptr);
    int localCount = 0;
    QObject::connect(&local, &QAction::triggered, [&localCount] { ++localCount; });
    ToolPaletteButton* button = palette.addActionMenuButton({&exact, &local, &global});
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->actions().size(), 3);
    EXPECT_EQ(button->defaultAction(), &exact);
    window.resize(400, 300);
    ASSERT_TRUE(showForInput(&window));

    PopupMenuCloser closer(QStringLiteral("Erase Local"));
    button->showMenu();
    ASSERT_TRUE(closer.opened());
    EXPECT_EQ(closer.itemTexts(), QStringList({"Erase Exact", "Erase Local", "Erase Global"}));
    EXPECT_EQ(localCount, 1);
    EXPECT_EQ(button->defaultAction(), &local);

    mouseClick(button, button->rect().center());
    EXPECT_EQ(localCount, 2) << "a plain click runs the action shown";
}

TEST(ToolPaletteHeader, OpensItsLinkFromTheTopOfThePalette)
{
    UrlCatcher urls;
    QMainWindow window;
    ToolPalette palette(&window, nullptr, QString());
    palette.addAction(new QAction(QStringLiteral("Keep"), &palette), 1, Qt::AlignCenter);
    palette.setHeader(QStringLiteral(":images/tool_keep_exact.png"), QStringLiteral(":images/tool_keep_local.png"),
                      QStringLiteral("Go To Orlenth Homepage"), QStringLiteral("http://www.orlenthtech.example/"));
    ToolPaletteButton* header = palette.headerButton();
    ASSERT_NE(header, nullptr);
    const QSize pictureSize = QPixmap(QStringLiteral(":images/tool_keep_exact.png")).size();
    EXPECT_EQ(header->iconSize(), pictureSize);
    EXPECT_EQ(header->minimumSize(), pictureSize);
    EXPECT_EQ(header->toolTip(), "Go To Orlenth Homepage");
    window.resize(400, 300);
    ASSERT_TRUE(showForInput(&window));
    EXPECT_LT(header->geometry().bottom(), palette.grid()->geometry().top() + 1) << "the header sits above the grid";

    mouseClick(header, header->rect().center());
    ASSERT_EQ(urls.urls().size(), 1);
    EXPECT_EQ(urls.urls().first(), QUrl("http://www.orlenthtech.example/"));
}

TEST(ToolPaletteDock, ToggleActionDockingAndLayoutConstraint)
{
    QMainWindow window;
    QWidget host;
    ToolPalette palette(&window, &host, QStringLiteral("F5"));
    EXPECT_EQ(palette.objectName(), "DockWidget: Tools");
    EXPECT_EQ(palette.windowTitle(), "Tools");
    EXPECT_EQ(palette.toggleViewAction()->text(), "Tools");
    EXPECT_EQ(palette.toggleViewAction()->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_TRUE(host.actions().contains(palette.toggleViewAction()));
    EXPECT_EQ(palette.allowedAreas(), Qt::LeftDockWidgetArea);
    EXPECT_EQ(window.dockWidgetArea(&palette), Qt::LeftDockWidgetArea);
    EXPECT_FALSE(palette.isFloating());

    palette.slotTopLevelChanged(true);
    EXPECT_EQ(palette.widget()->layout()->sizeConstraint(), QLayout::SetFixedSize);
    palette.slotTopLevelChanged(false);
    EXPECT_EQ(palette.widget()->layout()->sizeConstraint(), QLayout::SetNoConstraint);

    // Without a main window the palette floats; without a host its toggle action has no key.
    ToolPalette alone(nullptr, nullptr, QStringLiteral("F5"));
    EXPECT_TRUE(alone.isFloating());
    EXPECT_TRUE(alone.toggleViewAction()->shortcut().isEmpty());
}

TEST(ToolPaletteVisibility, SuppressionKeepsTheUsersWish)
{
    QMainWindow window;
    window.setCentralWidget(new QWidget);
    ToolPalette palette(&window, nullptr, QString());
    window.resize(400, 300);
    ASSERT_TRUE(showForInput(&window));
    ASSERT_TRUE(palette.isVisible());

    palette.setSuppressed(true);
    EXPECT_FALSE(palette.isVisible());
    EXPECT_TRUE(palette.state().suppressed);
    EXPECT_TRUE(palette.state().visible) << "suppression is not the user's doing";
    palette.setSuppressed(false);
    EXPECT_TRUE(palette.isVisible());
    EXPECT_FALSE(palette.state().suppressed);

    // Closed by the user, it stays closed through a suppression.
    palette.close();
    EXPECT_FALSE(palette.state().visible);
    palette.setSuppressed(true);
    palette.setSuppressed(false);
    EXPECT_FALSE(palette.isVisible());
    palette.toggleViewAction()->trigger();
    EXPECT_TRUE(palette.isVisible());
    EXPECT_TRUE(palette.state().visible);
}

TEST(ToolPaletteState, SavedAsPositionVisibilityAndFloatingChoice)
{
    ToolPalette palette(nullptr, nullptr, QString());
    palette.setFloatingChoice(true);
    palette.move(120, 80);
    palette.show();
    ASSERT_TRUE(waitUntil([&palette] { return palette.isVisible(); }));
    const QByteArray saved = palette.saveState();
    ASSERT_EQ(saved.size(), 10);
    EXPECT_EQ(saved, blob(palette.pos(), true, true)) << "stream version 7: QPoint, bool, bool";
    EXPECT_EQ(palette.state().position, palette.pos()) << "a floating palette stores where it is";

    ToolPalette restored(nullptr, nullptr, QString());
    restored.restoreState(blob(QPoint(70, 60), false, true));
    EXPECT_EQ(restored.state().position, QPoint(70, 60));
    EXPECT_FALSE(restored.state().visible);
    EXPECT_TRUE(restored.state().floating);
    EXPECT_EQ(restored.pos(), QPoint(70, 60));
    EXPECT_FALSE(restored.isVisible()) << "a palette the user closed stays closed";

    // (-1, -1) moves nothing; a visible record shows the palette.
    restored.move(30, 40);
    restored.restoreState(blob(QPoint(-1, -1), true, false));
    EXPECT_EQ(restored.pos(), QPoint(30, 40));
    EXPECT_TRUE(restored.isVisible());
    EXPECT_FALSE(restored.state().floating);
}

// A floating place kept on a larger screen comes back on this one.
TEST(ToolPaletteState, APlaceKeptOnALargerScreenComesBackInsideThisOne)
{
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    ToolPalette restored(nullptr, nullptr, QString());
    restored.resize(80, 300);
    restored.restoreState(blob(QPoint(work.right() + 200, 60), true, true));
    EXPECT_EQ(restored.state().position, QPoint(work.right() + 1 - restored.width(), 60));
    EXPECT_EQ(restored.pos(), restored.state().position);
}

// Moved in from a larger screen and left there, the palette keeps the place it had there; once
// the user moves it, its new place is kept.
TEST(ToolPaletteState, APlaceMovedInFromALargerScreenIsKeptForItUntilThePaletteIsMoved)
{
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    ToolPalette restored(nullptr, nullptr, QString());
    restored.resize(80, 300);
    const QByteArray kept = blob(QPoint(work.right() + 200, 60), true, true);
    restored.restoreState(kept);
    ASSERT_LT(restored.x(), work.right()) << "moved in";
    EXPECT_EQ(restored.saveState(), kept);

    restored.move(restored.x() - 30, 60);
    EXPECT_EQ(restored.saveState(), blob(restored.pos(), true, true));
}

TEST(ToolPaletteState, ShortBlobsChangeNothing)
{
    ToolPalette palette(nullptr, nullptr, QString());
    palette.restoreState(blob(QPoint(5, 6), false, true));
    const ToolPalette::State before = palette.state();
    const QByteArray full = blob(QPoint(70, 60), true, false);
    for (int size : {0, 3, 4, 8, 9}) {
        palette.restoreState(full.left(size));
        EXPECT_EQ(palette.state().position, before.position) << size << " bytes";
        EXPECT_EQ(palette.state().visible, before.visible) << size << " bytes";
        EXPECT_EQ(palette.state().floating, before.floating) << size << " bytes";
    }
    palette.restoreState(full + QByteArray("trailing"));
    EXPECT_EQ(palette.state().position, QPoint(70, 60));
    EXPECT_TRUE(palette.state().visible);
}

TEST(ToolOptions, ShowsTheCurrentToolsWidgetIconAndHelp)
{
    ModelImage image(200, 150, 1);
    QWidget window;
    window.resize(400, 300);
    new TipWindow(&window, &window, QStringLiteral("Ctrl+T"));
    ToolOptions options;
    EXPECT_EQ(options.objectName(), "ToolOptions");
    EXPECT_EQ(options.stackedWidget()->objectName(), "ToolOptionsStackedWidget");
    EXPECT_EQ(options.layout()->objectName(), "ToolOptionsLayout");

    NoTool none(nullptr, nullptr, &options);
    RecordingTool::Options handOptions;
    handOptions.shortcut = QStringLiteral("H");
    handOptions.icon = QIcon(QStringLiteral(":images/tool_image_pan.png"));
    handOptions.toolOptions = &options;
    RecordingTool hand(QStringLiteral("Hand Tool"), nullptr, handOptions);
    hand.setHelpText(QStringLiteral("<p>Drag to move the image.</p>"));
    QWidget* handWidget = hand.optionsWidget();

    hand.action()->trigger();
    EXPECT_EQ(handWidget->objectName(), "ToolOptionsWidget");
    EXPECT_EQ(options.stackedWidget()->currentWidget(), handWidget);
    EXPECT_EQ(options.iconLabel()->toolTip(), "Current Tool: Hand Tool");
    EXPECT_EQ(options.iconLabel()->pixmap(Qt::ReturnByValue).size(), QSize(20, 20));
    EXPECT_EQ(options.windowTitle(), "Hand Tool");
    EXPECT_EQ(TipWindow::instance()->browser()->toPlainText(), "Hand Tool (H)\nDrag to move the image.");

    // A tool without an icon leaves the label empty; going back shows the same widget again.
    none.action()->trigger();
    EXPECT_EQ(options.iconLabel()->toolTip(), "Current Tool: No Tool");
    EXPECT_TRUE(options.iconLabel()->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_EQ(options.stackedWidget()->currentWidget(), none.optionsWidget());
    hand.action()->trigger();
    EXPECT_EQ(options.stackedWidget()->currentWidget(), handWidget);
    EXPECT_EQ(options.stackedWidget()->count(), 2);

    // A widget shared by two tools is in the stack once; a tool whose widget is gone changes
    // only the icon and title.
    RecordingTool::Options sharing;
    sharing.toolOptions = &options;
    RecordingTool other(QStringLiteral("Zoom Tool"), nullptr, sharing);
    delete other.optionsWidget();
    other.setOptionsWidget(handWidget);
    other.action()->trigger();
    EXPECT_EQ(options.stackedWidget()->count(), 2);
    other.setOptionsWidget(nullptr);
    none.action()->trigger();
    other.action()->trigger();
    EXPECT_EQ(options.stackedWidget()->currentWidget(), none.optionsWidget());
    EXPECT_EQ(options.windowTitle(), "Zoom Tool");
}
