// The Workspace Settings dialog: its pages as the preferences stand, what OK and Cancel do to
// the options and the colours, the remembered tab, and the colours' buttons, which the dialog
// only borrows. exec() runs for real; a zero-delay timer acts in the dialog and closes it.

#include "document/GmColor.h"
#include "document/KsAppPreferences.h"
#include "shell/KsAppPrefsDialog.h"

#include "ScriptedPrompt.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using testsupport::ScriptedPrompt;

namespace {

template <typename T>
T* findByText(QWidget* root, const QString& text)
{
    for (T* widget : root->findChildren<T*>()) {
        if (widget->text() == text)
            return widget;
    }
    return nullptr;
}

QGroupBox* findGroup(QWidget* root, const QString& title)
{
    for (QGroupBox* box : root->findChildren<QGroupBox*>()) {
        if (box->title() == title)
            return box;
    }
    return nullptr;
}

// Every key and value in the settings store.
QVariantMap settingsSnapshot()
{
    QSettings settings;
    QVariantMap all;
    for (const QString& key : settings.allKeys())
        all.insert(key, settings.value(key));
    return all;
}

class PrefsDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings().clear();
        preferences = std::make_unique<KsAppPreferences>();
    }

    GmColor* colour(int index) const { return preferences->colors().at(index); }
    static QToolButton* buttonOf(GmColor* colour) { return colour->toolButton(nullptr); }

    // Runs the dialog: `during` acts while it is open, then the given button closes it.
    static int run(KsAppPrefsDialog& dialog, QDialogButtonBox::StandardButton closeWith,
                   const std::function<void()>& during = {})
    {
        bool acted = false;
        QTimer::singleShot(0, &dialog, [&] {
            acted = true;
            if (during)
                during();
            dialog.findChild<QDialogButtonBox*>()->button(closeWith)->click();
        });
        const int result = dialog.exec();
        EXPECT_TRUE(acted);
        return result;
    }

    std::unique_ptr<KsAppPreferences> preferences;
};

// The colours each named colour announced, per colour.
struct Announcements {
    explicit Announcements(const QList<GmColor*>& colours) : seen(colours.size())
    {
        for (int i = 0; i < colours.size(); ++i)
            QObject::connect(colours.at(i), &GmColor::colorChanged, &context,
                             [this, i](QColor c) { seen[i].append(c); });
    }
    QObject context;
    QVector<QList<QColor>> seen;
};

} // namespace

TEST_F(PrefsDialogTest, GeneralPageShowsTheOptionsAsTheyStand)
{
    KsAppPrefsDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Workspace Settings");
    auto* tabs = dialog.findChild<QTabWidget*>();
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), "General");
    EXPECT_EQ(tabs->tabText(1), "Colors");
    EXPECT_EQ(tabs->currentIndex(), 0);

    QGroupBox* startUp = findGroup(&dialog, "Start Up");
    ASSERT_NE(startUp, nullptr);
    auto* useDefaults = findByText<QRadioButton>(startUp, "Use Defaults");
    auto* restore = findByText<QRadioButton>(startUp, "Restore from Last Session");
    ASSERT_TRUE(useDefaults && restore);
    EXPECT_TRUE(useDefaults->isChecked());
    EXPECT_FALSE(restore->isChecked());
    auto* note = findByText<QLabel>(startUp, "These apply to options found on the 'Edge Finding' "
                                             "and 'Edge Blending' windows, and the 'Workspace "
                                             "Resolution'");
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->wordWrap());

    QGroupBox* options = findGroup(&dialog, "Options");
    ASSERT_NE(options, nullptr);
    auto* pressure = findByText<QCheckBox>(options, "Wacom Pen pressure controls Brush Size");
    ASSERT_NE(pressure, nullptr);
    EXPECT_TRUE(pressure->isChecked());

    // The buttons: OK and Cancel, side by side.
    auto* box = dialog.findChild<QDialogButtonBox*>();
    EXPECT_EQ(box->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(box->orientation(), Qt::Horizontal);

    preferences->setPersistOptions(true);
    preferences->setUseTabletPressure(false);
    KsAppPrefsDialog again;
    EXPECT_TRUE(findByText<QRadioButton>(&again, "Restore from Last Session")->isChecked());
    EXPECT_FALSE(findByText<QRadioButton>(&again, "Use Defaults")->isChecked());
    EXPECT_FALSE(findByText<QCheckBox>(&again, "Wacom Pen pressure controls Brush Size")->isChecked());
}

TEST_F(PrefsDialogTest, ColorsPageLaysTheSevenColoursOutTwoPerRow)
{
    KsAppPrefsDialog dialog;
    QPushButton* restoreDefaults = findByText<QPushButton>(&dialog, "Restore Defaults");
    ASSERT_NE(restoreDefaults, nullptr);
    QToolButton* first = buttonOf(colour(0));
    ASSERT_NE(first, nullptr);
    auto* grid = qobject_cast<QGridLayout*>(first->parentWidget()->layout());
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->rowCount(), 4);
    EXPECT_EQ(grid->columnCount(), 4);

    for (int i = 0; i < KsAppPreferences::ColorCount; ++i) {
        const int row = i / 2;
        const int column = 2 * (i % 2);
        QLayoutItem* buttonItem = grid->itemAtPosition(row, column);
        QLayoutItem* labelItem = grid->itemAtPosition(row, column + 1);
        ASSERT_TRUE(buttonItem && labelItem) << i;
        EXPECT_EQ(buttonItem->widget(), buttonOf(colour(i))) << i;
        EXPECT_EQ(buttonItem->alignment(), Qt::AlignLeft) << i;
        auto* label = qobject_cast<QLabel*>(labelItem->widget());
        ASSERT_NE(label, nullptr) << i;
        EXPECT_EQ(label->text(), colour(i)->description()) << i;
        EXPECT_EQ(label->toolTip(), colour(i)->description()) << i;
        EXPECT_EQ(labelItem->alignment(), Qt::AlignLeft) << i;
    }
    EXPECT_EQ(grid->itemAtPosition(3, 2), nullptr);
    EXPECT_EQ(colour(6)->description(), "Color Workspace Highlight");
}

TEST_F(PrefsDialogTest, ReopensOnTheTabLastShown)
{
    {
        KsAppPrefsDialog dialog;
        dialog.findChild<QTabWidget*>()->setCurrentIndex(1);
        run(dialog, QDialogButtonBox::Cancel);
    }
    {
        KsAppPrefsDialog dialog;
        EXPECT_EQ(dialog.findChild<QTabWidget*>()->currentIndex(), 1);
        dialog.findChild<QTabWidget*>()->setCurrentIndex(0);
    }
    KsAppPrefsDialog dialog;
    EXPECT_EQ(dialog.findChild<QTabWidget*>()->currentIndex(), 0);
}

TEST_F(PrefsDialogTest, OkSetsBothOptionsCancelLeavesThemAndNothingIsWritten)
{
    const QVariantMap before = settingsSnapshot();
    const auto flipBoth = [](KsAppPrefsDialog& dialog) {
        return [&dialog] {
            findByText<QRadioButton>(&dialog, "Restore from Last Session")->click();
            findByText<QCheckBox>(&dialog, "Wacom Pen pressure controls Brush Size")->click();
        };
    };
    {
        KsAppPrefsDialog dialog;
        EXPECT_EQ(run(dialog, QDialogButtonBox::Cancel, flipBoth(dialog)), QDialog::Rejected);
    }
    EXPECT_FALSE(preferences->persistOptions());
    EXPECT_TRUE(preferences->useTabletPressure());
    {
        KsAppPrefsDialog dialog;
        EXPECT_EQ(run(dialog, QDialogButtonBox::Ok, flipBoth(dialog)), QDialog::Accepted);
    }
    EXPECT_TRUE(preferences->persistOptions());
    EXPECT_FALSE(preferences->useTabletPressure());
    {
        // And back: "Use Defaults" clears the option again.
        KsAppPrefsDialog dialog;
        run(dialog, QDialogButtonBox::Ok,
            [&] { findByText<QRadioButton>(&dialog, "Use Defaults")->click(); });
    }
    EXPECT_FALSE(preferences->persistOptions());
    EXPECT_FALSE(preferences->useTabletPressure());
    EXPECT_EQ(settingsSnapshot(), before);

    // The record writes them when it goes.
    preferences.reset();
    QSettings settings;
    EXPECT_EQ(settings.value("Preferences/PersistOptions").toBool(), false);
    EXPECT_EQ(settings.value("Preferences/UseTabletPressure").toBool(), false);
}

TEST_F(PrefsDialogTest, CancelRestoresChangedColoursAndAnnouncesEveryColour)
{
    Announcements announced(preferences->colors());
    ScriptedPrompt prompt;
    prompt.answerColor(QColor(10, 20, 30));
    prompt.answerColor(QColor(40, 50, 60));
    KsAppPrefsDialog dialog;

    run(dialog, QDialogButtonBox::Cancel, [&] {
        buttonOf(colour(1))->click();
        buttonOf(colour(4))->click();
        // A change shows at once.
        EXPECT_EQ(colour(1)->color(), QColor(10, 20, 30));
        EXPECT_EQ(colour(4)->color(), QColor(40, 50, 60));
    });

    EXPECT_EQ(prompt.colorRequests(), 2);
    EXPECT_EQ(colour(1)->color(), QColor(Qt::red));
    EXPECT_EQ(colour(4)->color(), QColor(Qt::darkYellow));
    for (int i = 0; i < KsAppPreferences::ColorCount; ++i) {
        const QList<QColor>& seen = announced.seen.at(i);
        ASSERT_FALSE(seen.isEmpty()) << i;
        EXPECT_EQ(seen.last(), colour(i)->color()) << i;
        EXPECT_EQ(seen.size(), (i == 1 || i == 4) ? 2 : 1) << i;
    }
}

TEST_F(PrefsDialogTest, RestoreDefaultsThenCancelBringsBackTheCommittedColours)
{
    const QList<GmColor*> colours = preferences->colors();
    for (int i = 0; i < colours.size(); ++i) {
        colours.at(i)->setColor(QColor(i * 30, 7, 9));
        colours.at(i)->commitChangeSlot();
    }
    Announcements announced(colours);
    KsAppPrefsDialog dialog;

    run(dialog, QDialogButtonBox::Cancel, [&] {
        findByText<QPushButton>(&dialog, "Restore Defaults")->click();
        for (GmColor* c : colours)
            EXPECT_EQ(c->color(), c->defaultColor()) << c->keyName().toStdString();
    });

    for (int i = 0; i < colours.size(); ++i) {
        EXPECT_EQ(colours.at(i)->color(), QColor(i * 30, 7, 9)) << i;
        // Once for the defaults, once for the way back.
        EXPECT_EQ(announced.seen.at(i).size(), 2) << i;
    }
}

TEST_F(PrefsDialogTest, ColourButtonsOutliveTheDialogAndServeTheNextOne)
{
    QPointer<QToolButton> button;
    {
        KsAppPrefsDialog dialog;
        button = buttonOf(colour(2));
        run(dialog, QDialogButtonBox::Ok);
    }
    ASSERT_FALSE(button.isNull());
    EXPECT_EQ(button->parentWidget(), nullptr);
    EXPECT_FALSE(button->isVisible());

    ScriptedPrompt prompt;
    prompt.answerColor(QColor(0, 200, 100));
    {
        KsAppPrefsDialog dialog;
        EXPECT_EQ(buttonOf(colour(2)), button.data());
        EXPECT_EQ(button->window(), &dialog);
        run(dialog, QDialogButtonBox::Ok, [&] {
            auto* tabs = dialog.findChild<QTabWidget*>();
            tabs->setCurrentIndex(1);
            EXPECT_TRUE(button->isVisible());
            button->click();
        });
    }
    EXPECT_EQ(prompt.colorRequests(), 1);
    EXPECT_EQ(colour(2)->color(), QColor(0, 200, 100));
    // OK committed it: a later revert keeps it.
    colour(2)->revertChangeSlot();
    EXPECT_EQ(colour(2)->color(), QColor(0, 200, 100));
    ASSERT_FALSE(button.isNull());

    // They go with their colours.
    preferences.reset();
    EXPECT_TRUE(button.isNull());
}
