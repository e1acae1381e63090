// Option controls that remember their value: the key they store under, what they load, and
// that they write only when destroyed with persist on.

#include "panels/PersistentWidget.h"

#include <QSettings>
#include <QStringList>

#include <gtest/gtest.h>

#include <memory>

namespace {

class PersistentWidgetTest : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }
    void TearDown() override { QSettings().clear(); }

    static void store(const QString& key, const QVariant& value)
    {
        QSettings settings;
        settings.setValue(key, value);
        settings.sync();
    }
    static bool stored(const QString& key) { return QSettings().contains(key); }
    static QVariant storedValue(const QString& key) { return QSettings().value(key); }
};

TEST_F(PersistentWidgetTest, KeyDropsEveryBlankAndDashAndNamesTheWidget)
{
    EXPECT_EQ(persistent::settingsKey("EdgeDetectionOptions", "Number of Edges"),
              "EdgeDetectionOptions/NumberofEdges");
    EXPECT_EQ(persistent::settingsKey("EdgeDetectionOptions/Edge Contrast", "High"),
              "EdgeDetectionOptions/EdgeContrast/High");
    EXPECT_EQ(persistent::settingsKey("Tool-Options/Clean Tool", " Fill - Level "),
              "ToolOptions/CleanTool/FillLevel");
    // Only blanks and dashes: other characters, and case, are kept.
    EXPECT_EQ(persistent::settingsKey("A_b", "x.Y"), "A_b/x.Y");

    PersistentWidget<QSlider, int> slider("EdgeDetectionOptions", "Number of Edges", 3, false);
    EXPECT_EQ(slider.key(), "EdgeDetectionOptions/NumberofEdges");
    EXPECT_EQ(slider.objectName(), "EdgeDetectionOptions/NumberofEdges");
    EXPECT_EQ(slider.name(), "Number of Edges");
}

TEST_F(PersistentWidgetTest, MissingKeyLoadsTheDefault)
{
    PersistentWidget<QSpinBox, int> spin("G", "Size", 7, false);
    EXPECT_EQ(spin.value(), 7);
    PersistentWidget<QCheckBox, bool> box("G", "Keep", true, false);
    EXPECT_TRUE(box.isChecked());
    PersistentWidget<QComboBox, QString> combo("G", "Width", "Thin", false);
    EXPECT_EQ(combo.currentText(), "Thin");
    EXPECT_EQ(combo.count(), 1);
}

TEST_F(PersistentWidgetTest, StoredNumberIsClampedIntoTheOwnersLaterRange)
{
    store("G/Size", 900);
    PersistentWidget<QSpinBox, int> spin("G", "Size", 5, false);
    EXPECT_EQ(spin.value(), 900);
    spin.setRange(1, 400);
    EXPECT_EQ(spin.value(), 400);

    store("G/Level", -3);
    PersistentWidget<QSlider, int> slider("G", "Level", 5, false);
    EXPECT_EQ(slider.value(), -3);
    slider.setRange(0, 8);
    EXPECT_EQ(slider.value(), 0);
}

TEST_F(PersistentWidgetTest, StoredComboTextSurvivesARefillOnlyWhenStillOffered)
{
    // The owner's refill: take the loaded text, replace the items, select that text again.
    const auto refill = [](QComboBox& combo, const QStringList& items) {
        const QString saved = persistent::comboText(combo);
        combo.removeItem(0);
        combo.addItems(items);
        const int index = combo.findText(saved, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            combo.setCurrentIndex(index);
    };

    store("G/Width", "Foo");
    PersistentWidget<QComboBox, QString> gone("G", "Width", "A", false);
    EXPECT_EQ(gone.currentText(), "Foo");
    EXPECT_FALSE(gone.itemData(0).isValid());
    refill(gone, {"A", "B", "C"});
    EXPECT_EQ(gone.currentText(), "A");

    store("G/Width", "b");
    PersistentWidget<QComboBox, QString> wrongCase("G", "Width", "A", false);
    refill(wrongCase, {"A", "B", "C"});
    EXPECT_EQ(wrongCase.currentText(), "A");

    store("G/Width", "C");
    PersistentWidget<QComboBox, QString> offered("G", "Width", "A", false);
    refill(offered, {"A", "B", "C"});
    EXPECT_EQ(offered.currentText(), "C");
}

TEST_F(PersistentWidgetTest, UnconvertibleStoredValuesLoadAsZeroFalseOrEmpty)
{
    store("G/Size", "lots");
    store("G/Keep", "perhaps");
    store("G/Width", QStringList{"one", "two"});
    PersistentWidget<QSpinBox, int> spin("G", "Size", 5, false);
    PersistentWidget<QCheckBox, bool> box("G", "Keep", true, false);
    PersistentWidget<QComboBox, QString> combo("G", "Width", "Thin", false);
    EXPECT_EQ(spin.value(), 0);
    EXPECT_FALSE(box.isChecked());
    EXPECT_EQ(combo.currentText(), "");
}

TEST_F(PersistentWidgetTest, BooleansReadTheSpellingsTheyAreWrittenWith)
{
    const std::pair<QVariant, bool> cases[] = {
        {QVariant("true"), true}, {QVariant("1"), true},   {QVariant(" TRUE "), true},
        {QVariant("false"), false}, {QVariant("0"), false}, {QVariant(""), false},
        {QVariant(1), true},        {QVariant(0), false},
    };
    for (const auto& [value, expected] : cases) {
        store("G/Flag", value);
        PersistentWidget<QRadioButton, bool> radio("G", "Flag", !expected, false);
        EXPECT_EQ(radio.isChecked(), expected) << value.toString().toStdString();
    }
}

TEST_F(PersistentWidgetTest, WritesOnlyWhenDestroyedAndOnlyWithPersist)
{
    auto spin = std::make_unique<PersistentWidget<QSpinBox, int>>("G", "Size", 5, true);
    spin->setRange(0, 100);
    spin->setValue(42);
    EXPECT_FALSE(stored("G/Size")) << "nothing is written while the user works";
    spin.reset();
    EXPECT_EQ(storedValue("G/Size").toInt(), 42);

    auto off = std::make_unique<PersistentWidget<QSpinBox, int>>("G", "Size", 5, false);
    off->setRange(0, 100);
    off->setValue(77);
    off.reset();
    EXPECT_EQ(storedValue("G/Size").toInt(), 42) << "persist off writes nothing";

    // The owner's last word counts.
    auto late = std::make_unique<PersistentWidget<QSpinBox, int>>("G", "Size", 5, true);
    late->setRange(0, 100);
    late->setValue(13);
    late->setPersist(false);
    late.reset();
    EXPECT_EQ(storedValue("G/Size").toInt(), 42);
    QSettings().remove("G/Size");

    auto never = std::make_unique<PersistentWidget<QSpinBox, int>>("G", "Size", 5, false);
    never.reset();
    EXPECT_FALSE(stored("G/Size"));
}

TEST_F(PersistentWidgetTest, EveryKindRoundTripsThroughTheSettings)
{
    {
        PersistentWidget<QComboBox, QString> combo("R", "Width", "Thin", true);
        combo.removeItem(0);
        combo.addItems({"Thin", "Medium", "Thick"});
        combo.setCurrentIndex(2);
        PersistentWidget<QSlider, int> slider("R", "Ratio", 0, true);
        slider.setRange(0, 8);
        slider.setValue(6);
        PersistentWidget<QRadioButton, bool> radio("R", "High", false, true);
        radio.setChecked(true);
        PersistentWidget<QCheckBox, bool> box("R", "Keep", true, true);
        box.setChecked(false);
    }
    PersistentWidget<QComboBox, QString> combo("R", "Width", "Thin", false);
    PersistentWidget<QSlider, int> slider("R", "Ratio", 0, false);
    PersistentWidget<QRadioButton, bool> radio("R", "High", false, false);
    PersistentWidget<QCheckBox, bool> box("R", "Keep", true, false);
    EXPECT_EQ(combo.currentText(), "Thick");
    EXPECT_EQ(slider.value(), 6);
    EXPECT_TRUE(radio.isChecked());
    EXPECT_FALSE(box.isChecked());
}

TEST_F(PersistentWidgetTest, DestroyedWithItsParentStillWrites)
{
    {
        QWidget panel;
        auto* spin = new PersistentWidget<QSpinBox, int>("P", "Size", 5, true);
        spin->setParent(&panel);
        spin->setRange(0, 50);
        spin->setValue(21);
    }
    EXPECT_EQ(storedValue("P/Size").toInt(), 21);
}

} // namespace
