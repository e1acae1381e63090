// The tool framework: exclusive selection and the order of the selection sequence, enabled
// actions that follow the image, the hand-over when the current tool goes or becomes unusable,
// button tracking, help texts and the default Escape handling.

#include "document/ForcedEdge.h"
#include "document/GmAction.h"
#include "document/GmModel.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/RectRegion.h"
#include "document/Rectangle.h"
#include "engine/DravikThread.h"
#include "panels/ToolOptions.h"
#include "tools/GmTool.h"
#include "tools/NoTool.h"

#include "EngineDocument.h"
#include "ModelImage.h"
#include "RecordingTool.h"
#include "Wait.h"

#include <QActionGroup>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>

#include <gtest/gtest.h>

#include <memory>

using testsupport::ModelImage;
using testsupport::RecordingTool;

namespace {

QStringList checkedActions(const QList<GmTool*>& tools)
{
    QStringList names;
    for (GmTool* tool : tools) {
        if (tool->action()->isChecked())
            names.append(tool->name());
    }
    return names;
}

QMouseEvent mouseEvent(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    return QMouseEvent(type, QPointF(5, 5), QPointF(5, 5), QPointF(5, 5), button, buttons, Qt::NoModifier);
}

} // namespace

TEST(ToolSelection, ActionsSelectExclusivelyAndReselectionRunsTheWholeSequence)
{
    ModelImage image(200, 150, 1);
    ToolOptions options;
    QStringList log;
    NoTool none(nullptr, nullptr, &options);
    RecordingTool::Options inStrip;
    inStrip.toolOptions = &options;
    RecordingTool keep(QStringLiteral("Keep Tool"), &log, inStrip);
    RecordingTool drop(QStringLiteral("Delete Tool"), &log, inStrip);
    const QList<GmTool*> all{&none, &keep, &drop};
    EXPECT_EQ(GmTool::currentTool(), nullptr);
    EXPECT_FALSE(GmTool::toolHasBeenInstalled());

    QObject listening;
    QObject::connect(GmModel::instance(), &GmModel::toolChanged, &listening, [&log](const GmTool* tool) {
        log.append(QStringLiteral("toolChanged(%1) options=%2")
                       .arg(RecordingTool::nameOf(tool), tool->optionsWidget()->objectName()));
    });

    keep.action()->trigger();
    EXPECT_EQ(GmTool::currentTool(), &keep);
    EXPECT_TRUE(GmTool::toolHasBeenInstalled());
    EXPECT_EQ(log, QStringList({"toolChanged(Keep Tool) options=", "activate(none) options=ToolOptionsWidget"}));
    drop.action()->trigger();
    EXPECT_EQ(checkedActions(all), QStringList{"Delete Tool"});
    none.action()->trigger();
    EXPECT_EQ(checkedActions(all), QStringList{"No Tool"});
    drop.action()->trigger();

    // The current tool again: it is deactivated and activated with itself, the model announces
    // it again and the strip shows its options in between.
    log.clear();
    drop.action()->trigger();
    EXPECT_EQ(log, QStringList({"deactivate(Delete Tool)", "toolChanged(Delete Tool) options=",
                                "activate(Delete Tool) options=ToolOptionsWidget"}));
    EXPECT_EQ(GmTool::currentTool(), &drop);
    EXPECT_EQ(checkedActions(all), QStringList{"Delete Tool"});

    // installSlot on the current tool does nothing at all.
    log.clear();
    EXPECT_TRUE(drop.installSlot());
    EXPECT_TRUE(log.isEmpty());
    EXPECT_TRUE(keep.installSlot());
    EXPECT_EQ(log, QStringList({"deactivate(Keep Tool)", "toolChanged(Keep Tool) options=",
                                "activate(Delete Tool) options=ToolOptionsWidget"}));
}

using ToolAvailabilityTest = testsupport::EngineDocument;

TEST_F(ToolAvailabilityTest, ActionsAreEnabledExactlyWhileAnImageIsOpen)
{
    ToolOptions options;
    NoTool none(nullptr, nullptr, &options);
    RecordingTool::Options inStrip;
    inStrip.toolOptions = &options;
    RecordingTool keep(QStringLiteral("Keep Tool"), nullptr, inStrip);
    RecordingTool drop(QStringLiteral("Delete Tool"), nullptr, inStrip);
    EXPECT_TRUE(none.action()->isEnabled());
    EXPECT_FALSE(keep.action()->isEnabled());
    EXPECT_FALSE(drop.action()->isEnabled());
    EXPECT_FALSE(keep.installSlot()) << "a tool without an image cannot be installed";
    EXPECT_EQ(GmTool::currentTool(), &none) << "the failed install lets the fallback take over";

    GmModel* model = GmModel::instance();
    ASSERT_TRUE(model->setImage(1, 1, new KsSourceImage(QStringLiteral(KESTRINE_TEST_DATA "/chelsea.png")), nullptr));
    ASSERT_TRUE(idle());
    EXPECT_TRUE(none.action()->isEnabled());
    EXPECT_TRUE(keep.action()->isEnabled());
    EXPECT_TRUE(drop.action()->isEnabled());

    // Closing the image takes the current tool's footing away: the placeholder takes over.
    EXPECT_TRUE(drop.installSlot());
    EXPECT_EQ(GmTool::currentTool(), &drop);
    model->closeImage();
    ASSERT_TRUE(idle());
    EXPECT_FALSE(keep.action()->isEnabled());
    EXPECT_FALSE(drop.action()->isEnabled());
    EXPECT_EQ(GmTool::currentTool(), &none);
    EXPECT_TRUE(none.action()->isChecked());
}

TEST(ToolLifetime, DestroyingTheCurrentToolInstallsNoTool)
{
    ModelImage image(200, 150, 1);
    QStringList log;
    auto none = std::make_unique<NoTool>();
    auto* keep = new RecordingTool(QStringLiteral("Keep Tool"), &log);
    auto* drop = new RecordingTool(QStringLiteral("Delete Tool"), &log);
    // A widget shared by two tools goes with the first of them, once.
    auto* shared = new QLabel(QStringLiteral("brush bar"));
    keep->setOptionsWidget(shared);
    drop->setOptionsWidget(shared);
    QPointer<QLabel> sharedWatch(shared);
    QPointer<GmAction> keepAction(keep->action());

    keep->action()->trigger();
    log.clear();
    delete keep;
    EXPECT_EQ(GmTool::currentTool(), none.get());
    EXPECT_TRUE(none->action()->isChecked());
    EXPECT_TRUE(log.isEmpty()) << "a tool being destroyed is not deactivated: " << log.join(", ").toStdString();
    EXPECT_TRUE(sharedWatch.isNull());
    EXPECT_EQ(drop->optionsWidget(), nullptr);
    EXPECT_TRUE(keepAction.isNull()) << "the action of a destroyed tool must not linger in menus";
    delete drop;

    // The placeholder itself leaves no tool behind.
    none.reset();
    EXPECT_EQ(GmTool::currentTool(), nullptr);
    EXPECT_EQ(GmTool::noTool(), nullptr);
}

TEST(ToolFallback, AnUnusableCurrentToolGivesWayToTheSelectToolThenNoTool)
{
    ModelImage image(200, 150, 1);
    KsSourceImage* source = GmModel::instance()->source();
    QStringList log;
    NoTool none;
    RecordingTool select(QStringLiteral("Select Tool"), &log);
    bool keepAvailable = true;
    RecordingTool::Options switchable;
    switchable.available = &keepAvailable;
    RecordingTool keep(QStringLiteral("Keep Tool"), &log, switchable);
    GmTool::registerSelectTool(&select);
    keep.action()->trigger();

    keepAvailable = false;
    keep.setEnabledSlot();
    EXPECT_FALSE(keep.action()->isEnabled());
    EXPECT_EQ(GmTool::currentTool(), &select);
    EXPECT_TRUE(select.action()->isChecked());

    // The image goes: the Select tool is unusable too, the placeholder takes over.
    GmModelTestAccess::setSource(nullptr);
    emit GmModel::instance()->tellImageChanged(nullptr);
    EXPECT_EQ(GmTool::currentTool(), &none);
    EXPECT_FALSE(select.action()->isEnabled());
    EXPECT_TRUE(none.action()->isEnabled());

    GmModelTestAccess::setSource(source);
    emit GmModel::instance()->tellImageChanged(source);
    EXPECT_TRUE(select.action()->isEnabled());
    EXPECT_EQ(GmTool::currentTool(), &none) << "an image alone picks no tool";
}

TEST(ToolFallback, TheMainWindowsHooksDecide)
{
    ModelImage image(200, 150, 1);
    QStringList log;
    NoTool none;
    RecordingTool select(QStringLiteral("Select Tool"), &log);
    RecordingTool::Options keepsHighlight;
    keepsHighlight.clearsHighlight = false;
    RecordingTool pan(QStringLiteral("Hand Tool"), &log, keepsHighlight);
    GmTool::registerSelectTool(&select);

    int highlightCleared = 0;
    GmTool::setClearColourHighlightHook([&highlightCleared] { ++highlightCleared; });
    pan.action()->trigger();
    EXPECT_EQ(highlightCleared, 0) << "the hand keeps the colour highlight";
    select.action()->trigger();
    EXPECT_EQ(highlightCleared, 1);

    // The default revalidation keeps an available current tool ...
    EXPECT_TRUE(GmTool::revalidateCurrentTool());
    EXPECT_EQ(GmTool::currentTool(), &select);

    // ... and the main window's hook replaces it.
    int revalidations = 0;
    GmTool::setRevalidateHook([&revalidations] {
        ++revalidations;
        return true;
    });
    GmModelTestAccess::setSource(nullptr);
    EXPECT_FALSE(pan.installSlot());
    EXPECT_EQ(revalidations, 1);
    emit GmModel::instance()->tellImageChanged(nullptr);
    EXPECT_EQ(revalidations, 2) << "only the current tool asks when it becomes unusable";
    EXPECT_EQ(GmTool::currentTool(), &select);
    GmTool::setRevalidateHook(GmTool::RevalidateHook());
    GmTool::setClearColourHighlightHook(GmTool::ClearColourHighlightHook());
}

TEST(ToolInput, TrackButtonsFollowsTheLeftButtonOnly)
{
    RecordingTool tool(QStringLiteral("Keep Tool"), nullptr);
    const auto track = [&tool](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event = mouseEvent(type, button, buttons);
        tool.trackButtons(&event);
        return std::make_pair(tool.buttonState(), tool.previousButtonState());
    };
    using State = std::pair<int, int>;

    // A drag that began outside the tool's sight is no drag.
    EXPECT_EQ(track(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton), State(0, 0));
    EXPECT_EQ(track(QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton), State(0, 0));
    EXPECT_EQ(track(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton), State(1, 0));
    EXPECT_EQ(track(QEvent::MouseMove, Qt::NoButton, Qt::RightButton), State(1, 0));
    EXPECT_EQ(track(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton | Qt::RightButton), State(2, 1));
    EXPECT_EQ(track(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton), State(2, 2));
    EXPECT_EQ(track(QEvent::MouseButtonRelease, Qt::RightButton, Qt::LeftButton), State(2, 2));
    EXPECT_EQ(track(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton), State(0, 2));
    EXPECT_EQ(track(QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton), State(1, 0));
    tool.clearButtonStates();
    EXPECT_EQ(std::make_pair(tool.buttonState(), tool.previousButtonState()), State(0, 0));
}

TEST(ToolHelp, TitleParagraphShortcutInTheTipAndEmptyHelp)
{
    RecordingTool::Options withKey;
    withKey.shortcut = QStringLiteral("H");
    RecordingTool hand(QStringLiteral("Hand Tool"), nullptr, withKey);
    EXPECT_EQ(hand.action()->text(), "Hand Tool");
    EXPECT_EQ(hand.action()->toolTip(), "Hand Tool (H)");
    EXPECT_EQ(hand.action()->shortcut(), QKeySequence(Qt::Key_H));
    EXPECT_TRUE(hand.action()->isCheckable());
    EXPECT_EQ(hand.action()->actionGroup(), GmTool::sharedActionGroup());
    EXPECT_TRUE(GmTool::sharedActionGroup()->isExclusive());

    hand.setHelpText(QStringLiteral("<p>x</p>"));
    EXPECT_EQ(hand.action()->whatsThis(), "<p><b>Hand Tool</b></p><p>x</p>");
    hand.setHelpText(QString());
    EXPECT_EQ(hand.action()->whatsThis(), "") << "no bare title without a help text";

    // Tools built without a strip share the default one; without an image view the tool
    // counts the tab as Workspace.
    EXPECT_EQ(hand.toolOptions(), GmTool::defaultToolOptions());
    EXPECT_TRUE(hand.isUsableInCurrentTab());
    RecordingTool::Options sourceOnly;
    sourceOnly.tabs = ImageView::Source;
    EXPECT_FALSE(RecordingTool(QStringLiteral("Source Tool"), nullptr, sourceOnly).isUsableInCurrentTab());
}

TEST(ToolEscape, DefaultEscapeUndoesOneThingAtATime)
{
    ModelImage image(200, 150, 1);
    GmModel* model = GmModel::instance();
    NoTool none;
    RecordingTool brush(QStringLiteral("Keep Tool"), nullptr);
    brush.action()->trigger();

    model->beginTestRenderRect(ImagePointF(20, 20));
    model->testRenderRect()->dragCornerTo(ImagePointF(60, 50));
    auto* patch = new RectRegion(QPointF(10, 10));
    model->setActiveRegion(patch);
    QMouseEvent press = mouseEvent(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
    brush.trackButtons(&press);

    brush.escapeKeyPressed();
    EXPECT_EQ(brush.buttonState(), 0);
    EXPECT_EQ(model->testRenderRect(), nullptr);
    EXPECT_EQ(model->activeRegion(), patch) << "one Escape, one step back";
    EXPECT_EQ(GmTool::currentTool(), &brush);

    brush.escapeKeyPressed();
    EXPECT_EQ(model->activeRegion(), nullptr);
    EXPECT_EQ(GmTool::currentTool(), &brush);

    brush.escapeKeyPressed();
    EXPECT_EQ(GmTool::currentTool(), &none) << "without a Select tool the placeholder is installed";

    RecordingTool select(QStringLiteral("Select Tool"), nullptr);
    GmTool::registerSelectTool(&select);
    brush.action()->trigger();
    brush.escapeKeyPressed();
    EXPECT_EQ(GmTool::currentTool(), &select);

    // An active forced edge is let go before any tool changes.
    auto* edge = new ForcedEdge(QPointF(30, 30), 4);
    model->setActiveForcedEdge(edge);
    brush.action()->trigger();
    brush.escapeKeyPressed();
    EXPECT_EQ(model->activeForcedEdge(), nullptr);
    EXPECT_EQ(GmTool::currentTool(), &brush);
}
