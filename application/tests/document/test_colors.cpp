// Named colours and the preferences record: what reaches the settings store (and what must
// not), the scripted colour dialog, the change slots' signals, and the seven colours of the
// preferences across a restart.

#include "document/GmColor.h"
#include "document/KsAppPreferences.h"

#include "ScriptedPrompt.h"
#include "StreamRoundTrip.h"

#include <QAction>
#include <QByteArray>
#include <QColorDialog>
#include <QDataStream>
#include <QIcon>
#include <QImage>
#include <QPointer>
#include <QSettings>
#include <QToolButton>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

using testsupport::ScriptedPrompt;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings().clear();
        for (int i = 0; i < QColorDialog::customCount(); ++i)
            QColorDialog::setCustomColor(i, QColor(Qt::white));
    }
    void TearDown() override { GmColor::setStatusMessageHook(nullptr); }
};

// The colours a named colour announced, in order.
struct ChangeRecorder {
    explicit ChangeRecorder(GmColor& colour)
    {
        QObject::connect(&colour, &GmColor::colorChanged, &context,
                         [this](QColor color) { colours.append(color); });
    }
    QObject context;
    QList<QColor> colours;
};

QColor iconColour(QAction* action)
{
    const QImage image = action->icon().pixmap(32, 32).toImage();
    return image.pixelColor(16, 16);
}

} // namespace

using GmColorTest = SettingsTest;
using PreferencesTest = SettingsTest;

TEST_F(GmColorTest, PersistentColourReadsItsKeyAndWritesItBack)
{
    {
        GmColor fresh("Keep Mask", "Keep Mask", Qt::green, 1);
        EXPECT_EQ(fresh.color(), QColor(Qt::green));
        fresh.setColor(QColor(1, 2, 3));
    }
    QSettings settings;
    EXPECT_EQ(settings.value("Colors/Keep Mask").value<QColor>(), QColor(1, 2, 3));

    GmColor again("Keep Mask", "Keep Mask", Qt::green, 1);
    EXPECT_EQ(again.color(), QColor(1, 2, 3));
    EXPECT_EQ(again.defaultColor(), QColor(Qt::green));
    // Reverting before any change keeps the stored colour.
    again.revertChangeSlot();
    EXPECT_EQ(again.color(), QColor(1, 2, 3));
}

TEST_F(GmColorTest, UnusableStoredColourFallsBackToTheDefault)
{
    QSettings().setValue("Colors/Blend Mask", QStringLiteral("not a colour"));
    const GmColor colour("Blend Mask", "Blend Mask", Qt::blue, 1);
    EXPECT_EQ(colour.color(), QColor(Qt::blue));
}

TEST_F(GmColorTest, NotPersistedColourNeverTouchesTheSettings)
{
    QSettings().setValue("Colors/Other", QColor(Qt::cyan));
    {
        GmColor colour("Other", "Other", Qt::red, 0);
        EXPECT_EQ(colour.color(), QColor(Qt::red));
        colour.setColor(Qt::magenta);
        colour.restoreDefaultSlot();
        colour.setColor(Qt::gray);
    }
    QSettings settings;
    EXPECT_EQ(settings.allKeys(), QStringList{"Colors/Other"});
    EXPECT_EQ(settings.value("Colors/Other").value<QColor>(), QColor(Qt::cyan));
}

TEST_F(GmColorTest, CancelledDialogKeepsTheColourButStoresTheCustomColours)
{
    QSettings settings;
    settings.setValue("Colors/NumCustomColors", 4);
    settings.setValue("Colors/CustomColor3", QColor(9, 8, 7));
    settings.setValue("Colors/CustomColor5", QColor(1, 1, 1));  // beyond the stored count

    GmColor colour("Keep Mask", "Keep Mask", Qt::green, 0);
    ChangeRecorder changed(colour);
    ScriptedPrompt prompt;
    prompt.cancelColor();
    colour.changeColorSlot();

    EXPECT_EQ(prompt.colorRequests(), 1);
    EXPECT_EQ(colour.color(), QColor(Qt::green));
    EXPECT_EQ(changed.colours.size(), 0);
    // The stored custom colours were offered to the dialog, and its list written back whole.
    EXPECT_EQ(QColorDialog::customColor(3), QColor(9, 8, 7));
    EXPECT_EQ(QColorDialog::customColor(5), QColor(Qt::white));
    const int count = QColorDialog::customCount();
    EXPECT_EQ(settings.value("Colors/NumCustomColors").toInt(), count);
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(settings.value(QStringLiteral("Colors/CustomColor%1").arg(i)).value<QColor>(),
                  QColorDialog::customColor(i))
            << i;
    EXPECT_FALSE(settings.contains("Colors/Keep Mask"));
}

TEST_F(GmColorTest, ChosenColourIsTakenAndAnnouncedOnce)
{
    GmColor colour("Delete Mask", "Delete Mask", Qt::red, 0);
    QAction* action = colour.action();
    ChangeRecorder changed(colour);
    QStringList status;
    GmColor::setStatusMessageHook([&status](const QString& text) { status.append(text); });
    ScriptedPrompt prompt;
    prompt.answerColor(QColor(0, 128, 255));

    action->trigger();

    EXPECT_EQ(prompt.colorRequests(), 1);
    EXPECT_EQ(colour.color(), QColor(0, 128, 255));
    ASSERT_EQ(changed.colours.size(), 1);
    EXPECT_EQ(changed.colours.at(0), QColor(0, 128, 255));
    EXPECT_EQ(iconColour(action), QColor(0, 128, 255));
    // Shown while the dialog is open, cleared afterwards.
    EXPECT_EQ(status, (QStringList{"Select Delete Mask color", QString()}));
}

TEST_F(GmColorTest, RestoreAndRevertAnnounceCommitDoesNot)
{
    GmColor colour("Blend Mask", "Blend Mask", Qt::blue, 0);
    QAction* action = colour.action();
    ChangeRecorder changed(colour);

    colour.setColor(Qt::cyan);
    colour.commitChangeSlot();
    EXPECT_EQ(changed.colours.size(), 0);
    EXPECT_EQ(colour.savedColor(), QColor(Qt::cyan));

    colour.setColor(Qt::magenta);
    colour.revertChangeSlot();
    EXPECT_EQ(colour.color(), QColor(Qt::cyan));
    ASSERT_EQ(changed.colours.size(), 1);
    EXPECT_EQ(changed.colours.at(0), QColor(Qt::cyan));
    EXPECT_EQ(iconColour(action), QColor(Qt::cyan));

    colour.restoreDefaultSlot();
    EXPECT_EQ(colour.color(), QColor(Qt::blue));
    ASSERT_EQ(changed.colours.size(), 2);
    EXPECT_EQ(changed.colours.at(1), QColor(Qt::blue));
    EXPECT_EQ(iconColour(action), QColor(Qt::blue));
    // Restoring the default does not commit it.
    EXPECT_EQ(colour.savedColor(), QColor(Qt::cyan));
}

TEST_F(GmColorTest, ActionAndToolButton)
{
    GmColor colour("Keep Mask", "Keep Mask", Qt::green, 0);
    QAction* action = colour.action();
    EXPECT_EQ(action, colour.action());
    EXPECT_EQ(action->text(), "Change Keep Mask color");
    const QList<QSize> sizes = action->icon().availableSizes();
    EXPECT_EQ(sizes, QList<QSize>{QSize(32, 32)});
    EXPECT_EQ(iconColour(action), QColor(Qt::green));

    auto dialog = std::make_unique<QWidget>();
    QPointer<QToolButton> button = colour.toolButton(dialog.get());
    EXPECT_EQ(button->defaultAction(), action);
    EXPECT_EQ(button->toolTip(), action->toolTip());
    EXPECT_EQ(colour.toolButton(dialog.get()), button.data());

    // A dialog hands the button back before it goes; the colour keeps it for the next one.
    button->setParent(nullptr);
    dialog.reset();
    ASSERT_FALSE(button.isNull());
    auto nextDialog = std::make_unique<QWidget>();
    EXPECT_EQ(colour.toolButton(nextDialog.get()), button.data());
    EXPECT_EQ(button->parentWidget(), nextDialog.get());
    button->setParent(nullptr);
}

TEST_F(GmColorTest, ToolButtonGoesWithTheColour)
{
    QPointer<QToolButton> button;
    {
        GmColor colour("Keep Mask", "Keep Mask", Qt::green, 0);
        button = colour.toolButton(nullptr);
        ASSERT_FALSE(button.isNull());
    }
    EXPECT_TRUE(button.isNull());
}

TEST_F(GmColorTest, MapKeysAndRoundTripWithoutTheSettings)
{
    GmColor colour("Patch Protection", "Patch Protection", Qt::white, 1);
    colour.setColor(QColor(5, 6, 7, 8));
    const QVariantMap map = colour.toVariantMap();
    EXPECT_EQ(map.keys(), (QStringList{"default_", "desc_", "keyname_", "persist_", "qColor_"}));
    EXPECT_EQ(map.value("persist_"), QVariant(1));

    const QVariant streamed = testsupport::throughStream(map);

    // The map, not a stored colour, decides.
    QSettings().setValue("Colors/Patch Protection", QColor(Qt::black));
    const GmColor read(streamed.toMap());
    EXPECT_EQ(read.color(), QColor(5, 6, 7, 8));
    EXPECT_EQ(read.defaultColor(), QColor(Qt::white));
    EXPECT_EQ(read.keyName(), "Patch Protection");
    EXPECT_EQ(read.description(), "Patch Protection");
    EXPECT_EQ(read.persist(), 1);
    EXPECT_EQ(read.toVariantMap(), map);
}

TEST_F(PreferencesTest, SevenColoursInOrderWithTheirDefaults)
{
    const KsAppPreferences preferences;
    EXPECT_EQ(KsAppPreferences::instance(), &preferences);
    const QList<GmColor*>& colours = preferences.colors();
    const QStringList names = {"Keep Mask",
                               "Delete Mask",
                               "Blend Mask",
                               "Patch Protection",
                               "Patch or Forced Edge",
                               "Active Patch or Forced Edge",
                               "Color Workspace Highlight"};
    const QList<QColor> defaults = {Qt::green, Qt::red,    Qt::blue,  Qt::white,
                                    Qt::darkYellow, Qt::yellow, Qt::yellow};
    ASSERT_EQ(colours.size(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(colours.at(i)->keyName(), names.at(i));
        EXPECT_EQ(colours.at(i)->description(), names.at(i));
        EXPECT_EQ(colours.at(i)->color(), defaults.at(i));
        EXPECT_EQ(colours.at(i)->defaultColor(), defaults.at(i));
        EXPECT_EQ(colours.at(i)->persist(), 1);
        EXPECT_EQ(preferences.color(KsAppPreferences::ColorIndex(i)), colours.at(i));
    }
    EXPECT_EQ(preferences.color(KsAppPreferences::ColorWorkspaceHighlightColor)->keyName(),
              "Color Workspace Highlight");
    EXPECT_FALSE(preferences.persistOptions());
    EXPECT_TRUE(preferences.useTabletPressure());
}

TEST_F(PreferencesTest, OptionsAndColoursSurviveARestart)
{
    {
        KsAppPreferences preferences;
        preferences.setPersistOptions(true);
        preferences.setUseTabletPressure(false);
        preferences.color(KsAppPreferences::DeleteMaskColor)->setColor(QColor(1, 2, 3));
    }
    EXPECT_EQ(KsAppPreferences::instance(), nullptr);
    QSettings settings;
    EXPECT_TRUE(settings.contains("Preferences/PersistOptions"));
    EXPECT_TRUE(settings.contains("Preferences/UseTabletPressure"));
    EXPECT_TRUE(settings.contains("Colors/Keep Mask"));

    const KsAppPreferences again;
    EXPECT_TRUE(again.persistOptions());
    EXPECT_FALSE(again.useTabletPressure());
    EXPECT_EQ(again.color(KsAppPreferences::DeleteMaskColor)->color(), QColor(1, 2, 3));
    EXPECT_EQ(again.color(KsAppPreferences::KeepMaskColor)->color(), QColor(Qt::green));
}

TEST_F(PreferencesTest, UnconvertibleTabletPressureReadsFalse)
{
    for (const QVariant& stored : {QVariant(QStringLiteral("perhaps")),
                                   QVariant(QStringList{"a", "b"}), QVariant(QVariantMap())}) {
        QSettings().setValue("Preferences/UseTabletPressure", stored);
        const KsAppPreferences preferences;
        EXPECT_FALSE(preferences.useTabletPressure()) << stored.toString().toStdString();
    }
    QSettings().setValue("Preferences/UseTabletPressure", QStringLiteral("true"));
    const KsAppPreferences preferences;
    EXPECT_TRUE(preferences.useTabletPressure());
}
