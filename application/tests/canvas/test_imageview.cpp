// The image view: three tabs over one page, their actions and keys, the tab a tool needs, and
// the engine commands' tab requests.

#include "canvas/IVTabWidget.h"
#include "canvas/ImageView.h"
#include "canvas/KsWorkspace.h"
#include "document/GmAction.h"
#include "engine/CommandHooks.h"
#include "tools/GmTool.h"
#include "tools/NoTool.h"

#include "ModelImage.h"
#include "RecordingTool.h"
#include "WidgetInput.h"

#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using testsupport::ModelImage;
using testsupport::RecordingTool;

namespace {

QStringList tabTexts(const QTabBar* bar)
{
    QStringList texts;
    for (int i = 0; i < bar->count(); ++i)
        texts.append(bar->tabText(i));
    return texts;
}

} // namespace

TEST(ImageView, ThreeTabsOverOnePageWithTheirActionsStartingOnWorkspace)
{
    ImageView view;
    EXPECT_EQ(ImageView::instance(), &view);
    EXPECT_EQ(tabTexts(view.tabBar()), QStringList({"Source", "Workspace", "Cut-out"}));
    EXPECT_EQ(view.tabFlags(), QVector<ImageView::ViewTab>({ImageView::Source, ImageView::Workspace, ImageView::CutOut}));
    EXPECT_EQ(view.tabWidget()->pageCount(), 1) << "every tab shows the one workspace";
    EXPECT_EQ(view.tabWidget()->indexOfPage(view.workspace()), 0);

    QStringList texts;
    QStringList shortcuts;
    QStringList tips;
    for (GmAction* action : view.tabActions()) {
        texts.append(action->text());
        shortcuts.append(action->shortcut().toString());
        tips.append(action->toolTip());
        EXPECT_TRUE(action->isCheckable());
        EXPECT_EQ(action->actionGroup(), view.actionGroup());
    }
    EXPECT_EQ(texts, QStringList({"&Source", "&Workspace", "&Cut-out"}));
    EXPECT_EQ(shortcuts, QStringList({"1", "2", "3"}));
    EXPECT_EQ(tips, QStringList({"Show original image (1)", "Show working image where masks are applied (2)",
                                 "Show cut-out image (3)"}));
    EXPECT_EQ(view.tabBar()->tabToolTip(0), "Show original image");
    EXPECT_EQ(view.cutoutAction(), view.tabActions().at(2));

    EXPECT_EQ(view.currentViewTab(), ImageView::Workspace);
    EXPECT_TRUE(view.workspaceAction()->isChecked());
    EXPECT_TRUE(view.actionGroup()->isExclusive());

    // The help of each tab: its own title, then the shared list and the link.
    const QString cutoutHelp = view.tabBar()->tabWhatsThis(2);
    EXPECT_TRUE(cutoutHelp.startsWith("<p><b>Image View&mdash;Cut-out</b></p>"
                                      "<p>View your image in one of three ways:</p>"))
        << cutoutHelp.toStdString();
    EXPECT_TRUE(cutoutHelp.endsWith("4-Kestrine_Tools/Project_Window.htm\">Learn More</a></p>"))
        << cutoutHelp.toStdString();
    EXPECT_EQ(view.cutoutAction()->whatsThis(), cutoutHelp);

    EXPECT_EQ(view.minimumSizeHint(), QSize(400, 300));
    view.resize(50, 40);
    EXPECT_EQ(view.minimumSizeHint(), QSize(400, 300));
}

TEST(ImageView, KeyThreeShowsTheCutOut)
{
    ImageView view;
    view.resize(500, 400);
    ASSERT_TRUE(testsupport::showForInput(&view));
    QSignalSpy changed(&view, &ImageView::viewTabChanged);
    QSignalSpy pages(&view, &ImageView::switchToTab);

    QTest::keyClick(&view, Qt::Key_3);
    EXPECT_EQ(view.currentTabIndex(), 2);
    EXPECT_TRUE(view.cutoutAction()->isChecked());
    EXPECT_FALSE(view.workspaceAction()->isChecked());
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed.at(0).at(0).value<ImageView::ViewTab>(), ImageView::CutOut);
    EXPECT_EQ(pages.at(0).at(0).toInt(), 0) << "the page stays the workspace";
    EXPECT_EQ(view.tabWidget()->currentPage(), 0);

    // Clicking a tab checks its action as the key does.
    const QRect sourceTab = view.tabBar()->tabRect(0);
    testsupport::mouseClick(view.tabBar(), sourceTab.center());
    EXPECT_EQ(view.currentViewTab(), ImageView::Source);
    EXPECT_TRUE(view.sourceAction()->isChecked());

    // The current tab's key again changes nothing.
    changed.clear();
    QTest::keyClick(&view, Qt::Key_1);
    EXPECT_TRUE(changed.isEmpty());
    EXPECT_TRUE(view.sourceAction()->isChecked());
}

TEST(ImageView, EnsureTabAllowsAndTheCommandsTabRequests)
{
    auto view = std::make_unique<ImageView>();
    view->ensureTabAllows(ImageView::Source | ImageView::Workspace | ImageView::CutOut, ImageView::Source);
    EXPECT_EQ(view->currentViewTab(), ImageView::Workspace);
    view->cutoutAction()->trigger();
    view->ensureTabAllows(ImageView::Workspace, ImageView::Workspace);
    EXPECT_EQ(view->currentViewTab(), ImageView::Workspace);
    view->ensureTabAllows(ImageView::Source, ImageView::ViewTab(8));
    EXPECT_EQ(view->currentViewTab(), ImageView::Workspace) << "no tab of the preferred kind: stay";
    view->ensureTabAllows(ImageView::Source, ImageView::CutOut);
    EXPECT_EQ(view->currentViewTab(), ImageView::CutOut) << "the preferred tab, not an allowed one";

    CommandHooks::ensureTab(CommandHooks::WorkspaceTab);
    EXPECT_EQ(view->currentViewTab(), ImageView::Workspace);
    CommandHooks::ensureTab(CommandHooks::CutoutTab);
    EXPECT_EQ(view->currentViewTab(), ImageView::CutOut);

    view.reset();
    EXPECT_EQ(ImageView::instance(), nullptr);
    CommandHooks::ensureTab(CommandHooks::WorkspaceTab);  // reaches no view
}

TEST(ImageView, ToolsMoveTheViewToATabTheyWorkIn)
{
    ModelImage image(200, 150, 1);
    ImageView view;
    NoTool none;
    RecordingTool brush(QStringLiteral("Keep Tool"), nullptr);
    RecordingTool::Options everyView;
    everyView.tabs = ImageView::Source | ImageView::Workspace | ImageView::CutOut;
    RecordingTool hand(QStringLiteral("Hand Tool"), nullptr, everyView);
    RecordingTool::Options patchTabs;
    patchTabs.tabs = ImageView::Workspace | ImageView::CutOut;
    RecordingTool patch(QStringLiteral("Rectangle Patch Tool"), nullptr, patchTabs);

    view.cutoutAction()->trigger();
    EXPECT_FALSE(brush.isUsableInCurrentTab());
    EXPECT_TRUE(patch.isUsableInCurrentTab());
    brush.action()->trigger();
    EXPECT_EQ(view.currentViewTab(), ImageView::Workspace);
    EXPECT_TRUE(view.workspaceAction()->isChecked());

    view.cutoutAction()->trigger();
    hand.action()->trigger();
    EXPECT_EQ(view.currentViewTab(), ImageView::CutOut) << "the hand works in every tab";
    view.sourceAction()->trigger();
    patch.action()->trigger();
    EXPECT_EQ(view.currentViewTab(), ImageView::Workspace) << "the home tab of a tool not usable here";

    // While the Space-bar hand stands in for a tool, picking tools leaves the tab alone.
    bool handHolds = true;
    GmTool::setHandHoldsToolHook([&handHolds] { return handHolds; });
    view.cutoutAction()->trigger();
    brush.action()->trigger();
    EXPECT_EQ(view.currentViewTab(), ImageView::CutOut);
    handHolds = false;
    brush.action()->trigger();
    EXPECT_EQ(view.currentViewTab(), ImageView::Workspace);
    GmTool::setHandHoldsToolHook(GmTool::HandHoldsToolHook());
}

TEST(ImageView, TabChangesRecheckTheTools)
{
    ModelImage image(200, 150, 1);
    ImageView view;
    NoTool none;
    bool available = true;
    RecordingTool::Options switchable;
    switchable.available = &available;
    RecordingTool brush(QStringLiteral("Keep Tool"), nullptr, switchable);
    brush.action()->trigger();
    available = false;
    view.cutoutAction()->trigger();
    EXPECT_FALSE(brush.action()->isEnabled());
    EXPECT_EQ(GmTool::currentTool(), &none);
}
