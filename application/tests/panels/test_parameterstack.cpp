// The parameter stack (named rows of slider and spin box that persist under a group) and the
// nudge slider.

#include "document/KsAppPreferences.h"
#include "panels/ParameterStack.h"
#include "panels/Slider.h"

#include "WidgetInput.h"
#include "Wait.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

namespace {

class ValueReceiver : public QObject {
    Q_OBJECT
public:
    QList<int> values;
public slots:
    void takeValue(int value) { values.append(value); }
};

// A widget's place in a grid layout.
struct Cell {
    int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
    bool operator==(const Cell& o) const
    {
        return row == o.row && column == o.column && rowSpan == o.rowSpan &&
               columnSpan == o.columnSpan;
    }
};

std::ostream& operator<<(std::ostream& out, const Cell& c)
{
    return out << "(" << c.row << "," << c.column << " span " << c.rowSpan << "x" << c.columnSpan
               << ")";
}

class ParameterStackTest : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }
    void TearDown() override { QSettings().clear(); }

    // The persisted options, as the workspace preference has them.
    void setPersistOptions(bool on)
    {
        if (!m_preferences)
            m_preferences = std::make_unique<KsAppPreferences>();
        m_preferences->setPersistOptions(on);
    }

    static std::unique_ptr<ParameterStack> strengthStack(bool persist)
    {
        auto stack = std::make_unique<ParameterStack>(ParameterStack::Horizontal, 0x108);
        stack->setSettingsGroup("ToolOptions/Common");
        EXPECT_TRUE(stack->addSlider("Strength", "Strength", 0, 7, 0, "", nullptr, nullptr,
                                     persist));
        return stack;
    }

    static QVariant stored(const QString& key) { return QSettings().value(key); }

    static Cell cellOf(const ParameterStack& stack, QWidget* widget)
    {
        auto* grid = qobject_cast<QGridLayout*>(stack.layout());
        Cell cell;
        const int index = grid ? grid->indexOf(widget) : -1;
        if (index >= 0)
            grid->getItemPosition(index, &cell.row, &cell.column, &cell.rowSpan, &cell.columnSpan);
        return cell;
    }
    // The separator lines, in the order they were added.
    static QList<QFrame*> separators(const ParameterStack& stack)
    {
        QList<QFrame*> lines;
        for (QFrame* frame : stack.findChildren<QFrame*>(QString(), Qt::FindDirectChildrenOnly))
            if (frame->metaObject() == &QFrame::staticMetaObject)
                lines.append(frame);
        return lines;
    }

    std::unique_ptr<KsAppPreferences> m_preferences;
};

TEST_F(ParameterStackTest, RowValueSurvivesARebuildWhenOptionsPersist)
{
    setPersistOptions(true);
    auto stack = strengthStack(true);
    EXPECT_TRUE(stack->setValue("Strength", 5));
    stack.reset();
    EXPECT_EQ(stored("ToolOptions/Common/Strength").toInt(), 5);

    stack = strengthStack(true);
    int value = -1;
    EXPECT_TRUE(stack->value("Strength", value));
    EXPECT_EQ(value, 5);
    EXPECT_EQ(stack->slider("Strength")->value(), 5);
}

TEST_F(ParameterStackTest, NothingIsWrittenUnlessBothRowAndPreferenceAskForIt)
{
    // Preference off.
    setPersistOptions(false);
    auto stack = strengthStack(true);
    stack->setValue("Strength", 6);
    stack.reset();
    EXPECT_FALSE(QSettings().contains("ToolOptions/Common/Strength"));

    // Row not persisted: a stored value is loaded, none is written.
    setPersistOptions(true);
    QSettings().setValue("ToolOptions/Common/Strength", 2);
    stack = strengthStack(false);
    int value = -1;
    stack->value("Strength", value);
    EXPECT_EQ(value, 2);
    stack->setValue("Strength", 4);
    stack.reset();
    EXPECT_EQ(stored("ToolOptions/Common/Strength").toInt(), 2);

    // No preferences at all count as off.
    m_preferences.reset();
    QSettings().clear();
    stack = strengthStack(true);
    stack->setValue("Strength", 3);
    stack.reset();
    EXPECT_FALSE(QSettings().contains("ToolOptions/Common/Strength"));
}

TEST_F(ParameterStackTest, PreferenceAtDestructionDecides)
{
    setPersistOptions(true);
    auto stack = strengthStack(true);
    stack->setValue("Strength", 6);
    setPersistOptions(false);
    stack.reset();
    EXPECT_FALSE(QSettings().contains("ToolOptions/Common/Strength"));

    stack = strengthStack(true);
    stack->setValue("Strength", 4);
    setPersistOptions(true);
    stack.reset();
    EXPECT_EQ(stored("ToolOptions/Common/Strength").toInt(), 4);
}

TEST_F(ParameterStackTest, StoredValueIsClampedIntoTheRowsRange)
{
    QSettings().setValue("ToolOptions/CleanTool/Strength", 55);
    ParameterStack stack(ParameterStack::Vertical, 0x109);
    stack.setSettingsGroup("ToolOptions/CleanTool");
    stack.addSlider("Strength", "Strength", 1, 20, 3, "");
    int value = 0;
    stack.value("Strength", value);
    EXPECT_EQ(value, 20);
    EXPECT_EQ(stack.slider("Strength")->value(), 20);
    EXPECT_EQ(stack.spinBox("Strength")->objectName(), "ToolOptions/CleanTool/Strength");
}

TEST_F(ParameterStackTest, HorizontalStackPutsRowsSideBySide)
{
    ParameterStack stack(ParameterStack::Horizontal, 0x108);
    stack.setSettingsGroup("T");
    ASSERT_TRUE(stack.addSlider("A", "Alpha", 0, 10, 1, "px"));
    ASSERT_TRUE(stack.addSlider("B", "Beta", 0, 10, 2, ""));

    EXPECT_EQ(cellOf(stack, stack.label("A")), (Cell{0, 0, 1, 1}));
    EXPECT_EQ(cellOf(stack, stack.slider("A")), (Cell{0, 1, 1, 1}));
    EXPECT_EQ(cellOf(stack, stack.spinBox("A")), (Cell{0, 2, 1, 1}));
    const QList<QFrame*> lines = separators(stack);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(cellOf(stack, lines[0]), (Cell{0, 3, 1, 1}));
    EXPECT_EQ(lines[0]->frameShape(), QFrame::VLine);
    EXPECT_EQ(lines[0]->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(cellOf(stack, stack.label("B")), (Cell{0, 4, 1, 1}));
    EXPECT_EQ(cellOf(stack, stack.slider("B")), (Cell{0, 5, 1, 1}));
    EXPECT_EQ(cellOf(stack, stack.spinBox("B")), (Cell{0, 6, 1, 1}));

    auto* grid = qobject_cast<QGridLayout*>(stack.layout());
    EXPECT_EQ(grid->columnStretch(1), 1);
    EXPECT_EQ(grid->columnStretch(5), 1);
    EXPECT_EQ(grid->contentsMargins(), QMargins());
    EXPECT_FALSE(stack.spinBox("A")->isHidden());
    EXPECT_EQ(stack.spinBox("A")->suffix(), "px");
    EXPECT_EQ(stack.label("B")->text(), "Beta");
}

TEST_F(ParameterStackTest, VerticalStackPutsEachRowOnItsOwnGridRow)
{
    ParameterStack stack(ParameterStack::Vertical, 0x109);
    stack.setSettingsGroup("T");
    ASSERT_TRUE(stack.addSlider("One", "One", 0, 10, 1, ""));
    ASSERT_TRUE(stack.addSlider("Two", "Two", 0, 10, 2, ""));

    EXPECT_EQ(cellOf(stack, stack.label("One")), (Cell{0, 0, 1, 1}));
    EXPECT_EQ(cellOf(stack, stack.slider("One")), (Cell{0, 1, 1, 1}));
    EXPECT_EQ(cellOf(stack, stack.spinBox("One")), (Cell{0, 2, 1, 1}));
    const QList<QFrame*> lines = separators(stack);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(cellOf(stack, lines[0]), (Cell{2, 0, 1, 3}));
    EXPECT_EQ(lines[0]->frameShape(), QFrame::HLine);
    EXPECT_EQ(cellOf(stack, stack.label("Two")), (Cell{3, 0, 1, 1}));
    EXPECT_TRUE(stack.spinBox("One")->isHidden());
    EXPECT_TRUE(stack.spinBox("Two")->isHidden());
}

TEST_F(ParameterStackTest, WithoutSliderFlagTheSpinBoxFollowsTheLabel)
{
    ParameterStack stack(ParameterStack::Horizontal, 0);
    stack.setSettingsGroup("T");
    stack.addSlider("A", "A", 0, 10, 1, "");
    stack.addSlider("B", "B", 0, 10, 1, "");
    EXPECT_EQ(cellOf(stack, stack.spinBox("A")), (Cell{0, 1, 1, 1}));
    EXPECT_EQ(cellOf(stack, separators(stack).value(0)), (Cell{0, 2, 1, 1}));
    EXPECT_EQ(separators(stack).value(0)->frameShadow(), QFrame::Plain);
    EXPECT_EQ(cellOf(stack, stack.label("B")), (Cell{0, 3, 1, 1}));
    EXPECT_TRUE(stack.slider("A")->isHidden());
}

TEST_F(ParameterStackTest, UnknownAndDuplicateNamesAreRefused)
{
    ParameterStack stack(ParameterStack::Horizontal, 0x108);
    stack.setSettingsGroup("T");
    ASSERT_TRUE(stack.addSlider("A", "First", 0, 10, 4, ""));
    EXPECT_FALSE(stack.addSlider("A", "Second", 0, 99, 50, ""));
    EXPECT_EQ(stack.label("A")->text(), "First");
    EXPECT_EQ(stack.spinBox("A")->maximum(), 10);
    EXPECT_TRUE(separators(stack).isEmpty());
    EXPECT_EQ(stack.layout()->count(), 3);

    int out = 123;
    EXPECT_FALSE(stack.value("nope", out));
    EXPECT_EQ(out, 123);
    EXPECT_FALSE(stack.setValue("nope", 1));
    EXPECT_FALSE(stack.setHelp("nope", "t", "w"));
    EXPECT_FALSE(stack.setRowEnabled("nope", false));
    EXPECT_FALSE(stack.connectValue("nope", nullptr, nullptr));
    EXPECT_EQ(stack.spinBox("nope"), nullptr);
}

TEST_F(ParameterStackTest, SpinBoxAndSliderStayInStep)
{
    ParameterStack stack(ParameterStack::Horizontal, 0x108);
    stack.setSettingsGroup("T");
    stack.addSlider("A", "A", 2, 16, 3, "");
    QSlider* slider = stack.slider("A");
    QSpinBox* spin = stack.spinBox("A");
    EXPECT_EQ(slider->minimum(), 2);
    EXPECT_EQ(slider->maximum(), 16);
    EXPECT_EQ(slider->value(), 3);

    slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(spin->value(), slider->value());
    spin->setValue(11);
    EXPECT_EQ(slider->value(), 11);
    stack.setValue("A", 40);
    int out = 0;
    stack.value("A", out);
    EXPECT_EQ(out, 16);
    EXPECT_EQ(slider->value(), 16);
}

TEST_F(ParameterStackTest, ValueChangesReachTheConnectedSlot)
{
    ValueReceiver receiver;
    ParameterStack stack(ParameterStack::Horizontal, 0x108);
    stack.setSettingsGroup("T");
    stack.addSlider("A", "A", 0, 10, 1, "", &receiver, SLOT(takeValue(int)));
    stack.slider("A")->setValue(7);
    EXPECT_EQ(receiver.values, QList<int>{7});

    stack.addSlider("B", "B", 0, 10, 1, "");
    EXPECT_TRUE(stack.connectValue("B", nullptr, SLOT(takeValue(int))));
    EXPECT_TRUE(stack.connectValue("B", &receiver, nullptr));
    EXPECT_TRUE(stack.connectValue("B", &receiver, SLOT(takeValue(int))));
    stack.setValue("B", 9);
    EXPECT_EQ(receiver.values, (QList<int>{7, 9}));
    EXPECT_FALSE(stack.connectValue("B", &receiver, SLOT(noSuchSlot(int))));
}

TEST_F(ParameterStackTest, HelpAndEnabledStateCoverTheWholeRow)
{
    ParameterStack stack(ParameterStack::Horizontal, 0x108);
    stack.setSettingsGroup("T");
    stack.addSlider("A", "A", 0, 10, 1, "");
    stack.addSlider("B", "B", 0, 10, 1, "");
    EXPECT_TRUE(stack.setHelp("A", "tip", "<p>help</p>"));
    for (QWidget* w : {static_cast<QWidget*>(stack.label("A")),
                       static_cast<QWidget*>(stack.slider("A")),
                       static_cast<QWidget*>(stack.spinBox("A"))}) {
        EXPECT_EQ(w->toolTip(), "tip");
        EXPECT_EQ(w->whatsThis(), "<p>help</p>");
    }
    EXPECT_TRUE(stack.setRowEnabled("A", false));
    EXPECT_FALSE(stack.label("A")->isEnabled());
    EXPECT_FALSE(stack.slider("A")->isEnabled());
    EXPECT_FALSE(stack.spinBox("A")->isEnabled());
    EXPECT_TRUE(stack.spinBox("B")->isEnabled());
    EXPECT_TRUE(stack.setRowEnabled("A", true));
    EXPECT_TRUE(stack.slider("A")->isEnabled());
}

// ---------------------------------------------------------------------------------------------

TEST(SliderTest, NudgeWithNothingConnectedMovesBySingleStep)
{
    Slider slider;
    slider.slider()->setRange(-25, 25);
    slider.slider()->setSingleStep(3);
    slider.nudgeUp();
    EXPECT_EQ(slider.slider()->value(), 3);
    slider.nudgeDown();
    slider.nudgeDown();
    EXPECT_EQ(slider.slider()->value(), -3);
    slider.slider()->setValue(24);
    slider.nudgeUp();
    EXPECT_EQ(slider.slider()->value(), 25);
}

TEST(SliderTest, NudgeWithAReceiverOnlyEmitsTheRequest)
{
    Slider slider;
    slider.slider()->setRange(-25, 25);
    int ups = 0;
    QObject context;
    QObject::connect(&slider, &Slider::requestNudgeUp, &context, [&] { ++ups; });
    slider.nudgeUp();
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(slider.slider()->value(), 0);
    // The other direction, with nobody listening, still moves by itself.
    slider.nudgeDown();
    EXPECT_EQ(slider.slider()->value(), -1);
    EXPECT_EQ(ups, 1);
}

TEST(SliderTest, NudgeButtonsFrameTheSliderAndAreReplacedOnRequest)
{
    Slider slider;
    auto* layout = qobject_cast<QBoxLayout*>(slider.layout());
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->objectName(), "Slider::layout_");
    EXPECT_EQ(layout->count(), 1);
    slider.setNudgeToolTips("down", "up");  // no buttons yet: nothing to do

    QPixmap down(16, 16), up(16, 16);
    down.fill(Qt::red);
    up.fill(Qt::green);
    slider.setNudgeButtons(down, up);
    slider.setNudgeButtons(down, up);
    ASSERT_EQ(layout->count(), 3);
    EXPECT_EQ(layout->itemAt(0)->widget(), slider.nudgeDownButton());
    EXPECT_EQ(layout->itemAt(1)->widget(), slider.slider());
    EXPECT_EQ(layout->itemAt(2)->widget(), slider.nudgeUpButton());
    EXPECT_EQ(layout->stretch(1), 1);
    EXPECT_EQ(slider.findChildren<QToolButton*>().size(), 2);
    EXPECT_TRUE(slider.nudgeUpButton()->autoRepeat());
    EXPECT_TRUE(slider.nudgeUpButton()->autoRaise());

    slider.setNudgeToolTips("Zoom Out", "Zoom In");
    EXPECT_EQ(slider.nudgeDownButton()->toolTip(), "Zoom Out");
    EXPECT_EQ(slider.nudgeUpButton()->toolTip(), "Zoom In");
}

TEST(SliderTest, HeldNudgeButtonRepeats)
{
    QWidget window;
    auto* slider = new Slider(&window);
    slider->setGeometry(0, 0, 200, 30);
    slider->slider()->setRange(0, 100);
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::blue);
    slider->setNudgeButtons(pixmap, pixmap);
    window.resize(200, 30);
    ASSERT_TRUE(testsupport::showForInput(&window));

    QToolButton* up = slider->nudgeUpButton();
    const QPoint centre = up->rect().center();
    testsupport::mouseClick(up, centre);
    EXPECT_EQ(slider->slider()->value(), 1);

    testsupport::mousePress(up, centre);
    EXPECT_TRUE(testsupport::waitUntil([&] { return slider->slider()->value() >= 4; }, 5000));
    testsupport::mouseRelease(up, centre);
    const int released = slider->slider()->value();
    QTest::qWait(250);
    EXPECT_EQ(slider->slider()->value(), released);

    // With a receiver the held button keeps asking and the slider stays put.
    int requests = 0;
    QObject::connect(slider, &Slider::requestNudgeUp, slider, [&] { ++requests; });
    testsupport::mousePress(up, centre);
    EXPECT_TRUE(testsupport::waitUntil([&] { return requests >= 2; }, 5000));
    testsupport::mouseRelease(up, centre);
    EXPECT_EQ(slider->slider()->value(), released);
}

} // namespace

#include "test_parameterstack.moc"
