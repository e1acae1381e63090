// The view options strip: the opacity label and the status colours that read the slider, the
// resolution selector against the model in both directions, the show-edges box and what is
// kept in the settings.

#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsAppPreferences.h"
#include "panels/ViewOptions.h"

#include "ModelFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>

#include <gtest/gtest.h>

#include <memory>

namespace {

class ViewOptionsTest : public testsupport::ModelFixture {
protected:
    void TearDown() override
    {
        m_strip.reset();
        ModelFixture::TearDown();
    }

    ViewOptions& strip()
    {
        m_strip = std::make_unique<ViewOptions>();
        return *m_strip;
    }
    QString selected() const { return m_strip->resolutionSelector()->currentText(); }

    std::unique_ptr<ViewOptions> m_strip;
};

TEST_F(ViewOptionsTest, TheLabelShowsTheOpacityAsATruncatedPercentage)
{
    ViewOptions& options = strip();
    QSlider* slider = options.opacitySlider();
    EXPECT_EQ(slider->minimum(), 26);
    EXPECT_EQ(slider->maximum(), 255);
    EXPECT_EQ(slider->value(), 153);
    EXPECT_EQ(options.opacityLabel()->text(), QStringLiteral("Mask Opacity: 60%"));
    QSignalSpy changed(&options, &ViewOptions::opacityChanged);
    slider->setValue(26);
    EXPECT_EQ(options.opacityLabel()->text(), QStringLiteral("Mask Opacity: 10%"));
    slider->setValue(255);
    EXPECT_EQ(options.opacityLabel()->text(), QStringLiteral("Mask Opacity: 100%"));
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed.at(1).at(0).toInt(), 255);
    // Room for the widest text from the start.
    EXPECT_GE(options.opacityLabel()->minimumWidth(), options.opacityLabel()->sizeHint().width());
}

TEST_F(ViewOptionsTest, TheStatusColoursReadTheLatestStripsSlider)
{
    ViewOptions& options = strip();
    EXPECT_EQ(ViewOptions::instance(), &options);
    options.opacitySlider()->setValue(26);
    EXPECT_NEAR(GmStatusArray::saturationScaledColour(Qt::red, 0.0).alphaF(), 0.0, 1e-3);
    options.opacitySlider()->setValue(255);
    EXPECT_NEAR(GmStatusArray::saturationScaledColour(Qt::red, 0.0).alphaF(), 1.0, 1e-3);
    m_strip.reset();
    EXPECT_EQ(ViewOptions::instance(), nullptr);
    // Without a strip the middle opacity.
    EXPECT_NEAR(GmStatusArray::saturationScaledColour(Qt::red, 0.0).alphaF(), 0.5, 1e-3);
}

TEST_F(ViewOptionsTest, ChoosingARatioChangesTheModelsResolution)
{
    ViewOptions& options = strip();
    QComboBox* selector = options.resolutionSelector();
    ASSERT_EQ(selector->count(), 4);
    EXPECT_EQ(selector->itemText(0), QStringLiteral("1:1"));
    EXPECT_EQ(selector->itemText(3), QStringLiteral("1:8"));
    EXPECT_TRUE(selector->isEnabled());
    EXPECT_EQ(selected(), QStringLiteral("1:1"));

    QSignalSpy modified(&options, &ViewOptions::modified);
    selector->setCurrentIndex(selector->findText(QStringLiteral("1:2")));
    EXPECT_EQ(m_model->resolution(), 2);
    EXPECT_EQ(modified.count(), 1);
}

TEST_F(ViewOptionsTest, AChangeAnnouncedByTheModelIsShownAndNotSentBack)
{
    ViewOptions& options = strip();
    QObject::connect(m_model, &GmModel::resolutionChanged, &options, &ViewOptions::syncResolutionSlot);
    QSignalSpy modified(&options, &ViewOptions::modified);
    QSignalSpy announced(m_model, &GmModel::resolutionChanged);

    m_model->chooseResolutionForPixelCount(16000001);
    ASSERT_EQ(m_model->resolution(), 4);
    EXPECT_EQ(selected(), QStringLiteral("1:4"));
    EXPECT_EQ(announced.count(), 1);
    EXPECT_EQ(modified.count(), 0);

    // A "No" to the model's question announces the old divisor again: the selector snaps back.
    options.resolutionSelector()->setCurrentIndex(1);
    emit m_model->resolutionChanged(4, 4);
    EXPECT_EQ(selected(), QStringLiteral("1:4"));

    options.syncResolutionSlot(4, 3);
    EXPECT_EQ(selected(), QStringLiteral("1:1"));
    options.syncResolutionSlot(1, 8);
    EXPECT_EQ(selected(), QStringLiteral("1:8"));
    EXPECT_EQ(m_model->resolution(), 2) << "set by the one choice above, never by a sync";
}

TEST_F(ViewOptionsTest, DisablingTheShowEdgesBoxUnchecksItAndEnablingRestoresIt)
{
    ViewOptions& options = strip();
    QCheckBox* box = options.showEdgesBox();
    ASSERT_TRUE(box->isChecked());
    QSignalSpy shown(&options, &ViewOptions::showVectorEdges);

    options.setShowVectorEdgesEnabled(false);
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(box->isEnabled());
    // A second call changes nothing, even after the box was checked meanwhile.
    options.setShowVectorEdges(true);
    options.setShowVectorEdgesEnabled(false);
    EXPECT_TRUE(box->isChecked());
    options.setShowVectorEdges(false);

    options.setShowVectorEdgesEnabled(true);
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(box->isEnabled());
    EXPECT_EQ(shown.count(), 0) << "only the user's clicks are relayed";

    // A disabled strip does not make the box count as disabled.
    options.setEnabled(false);
    options.setShowVectorEdgesEnabled(false);
    options.setEnabled(true);
    EXPECT_FALSE(box->isEnabled());
    EXPECT_FALSE(box->isChecked());
    options.setShowVectorEdgesEnabled(true);

    QSignalSpy modified(&options, &ViewOptions::modified);
    box->click();
    ASSERT_EQ(shown.count(), 1);
    EXPECT_FALSE(shown.at(0).at(0).toBool());
    EXPECT_EQ(modified.count(), 1);
}

TEST_F(ViewOptionsTest, TheValuesAreKeptAndTheResolutionOnlyWithThePreference)
{
    QSettings settings;
    {
        ViewOptions& options = strip();
        options.resolutionSelector()->setCurrentIndex(2);
        m_strip.reset();
    }
    settings.sync();
    EXPECT_EQ(settings.value("ViewOptions/MaskOpacity").toInt(), 153);
    EXPECT_EQ(settings.value("ViewOptions/ShowObjectEdges").toBool(), true);
    EXPECT_FALSE(settings.contains("ViewOptions/WorkspaceResolution"));

    {
        ViewOptions& options = strip();
        options.opacitySlider()->setValue(200);
        options.showEdgesBox()->click();
        m_preferences->setPersistOptions(true);
        options.resolutionSelector()->setCurrentIndex(3);
        m_strip.reset();
    }
    settings.sync();
    EXPECT_EQ(settings.value("ViewOptions/MaskOpacity").toInt(), 200);
    EXPECT_EQ(settings.value("ViewOptions/ShowObjectEdges").toBool(), false);
    EXPECT_EQ(settings.value("ViewOptions/WorkspaceResolution").toString(), QStringLiteral("1:8"));
}

TEST_F(ViewOptionsTest, EdgesUnavailableAtExitKeepTheUsersChoice)
{
    QSettings settings;
    {
        ViewOptions& options = strip();
        options.setShowVectorEdgesEnabled(true);
        ASSERT_TRUE(options.showEdgesBox()->isChecked());
        // Closing the image turns the edges off on the way out.
        options.setShowVectorEdgesEnabled(false);
        m_strip.reset();
    }
    settings.sync();
    EXPECT_EQ(settings.value("ViewOptions/ShowObjectEdges").toBool(), true);
}

TEST_F(ViewOptionsTest, WithThePreferenceTheStoredResolutionIsAppliedAtConstruction)
{
    QSettings().setValue("ViewOptions/WorkspaceResolution", QStringLiteral("1:4"));
    m_preferences->setPersistOptions(true);
    QSignalSpy announced(m_model, &GmModel::resolutionChanged);
    strip();
    EXPECT_EQ(m_model->resolution(), 4);
    EXPECT_EQ(selected(), QStringLiteral("1:4"));
    ASSERT_EQ(announced.count(), 1);
    EXPECT_EQ(announced.at(0).at(1).toInt(), 4);
}

TEST_F(ViewOptionsTest, AStoredTextThatIsNoRatioLeavesTheFirstEntry)
{
    QSettings().setValue("ViewOptions/WorkspaceResolution", QStringLiteral("1:3"));
    m_preferences->setPersistOptions(true);
    strip();
    EXPECT_EQ(selected(), QStringLiteral("1:1"));
    EXPECT_EQ(m_model->resolution(), 1);
    EXPECT_EQ(m_strip->resolutionSelector()->count(), 4);
}

TEST_F(ViewOptionsTest, WithoutThePreferenceTheModelsResolutionIsShown)
{
    QSettings().setValue("ViewOptions/WorkspaceResolution", QStringLiteral("1:4"));
    m_model->changeResolution(8);
    strip();
    EXPECT_EQ(selected(), QStringLiteral("1:8"));
    EXPECT_EQ(m_model->resolution(), 8);
}

} // namespace
