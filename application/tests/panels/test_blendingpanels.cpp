// The edge-blending widgets and the patch panel's parts that need no engine: width and ratio
// positions against the record, the kept settings of the "Edge Blending" panel, the complex
// blending types and their speed warning, the palette and smoothness sliders, the override
// colours, and the two panels' answers to the sub-window framework.

#include "document/BlendingStuff.h"
#include "document/EDOs.h"
#include "document/GmAction.h"
#include "document/GmColor.h"
#include "document/GmModel.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/SegmentationStuff.h"
#include "engine/DravikCommand.h"
#include "panels/CommonBlendOptsWidget.h"
#include "panels/EdgeDetectionOptions.h"
#include "panels/ImageBlendingWindow.h"
#include "panels/RegionBlendOptsWidget.h"
#include "panels/RegionalProperties.h"
#include "tools/PipetteTool.h"

#include "ModelFixture.h"
#include "ScriptedPrompt.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QStackedWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

class BlendingPanelTest : public testsupport::ModelFixture {
protected:
    void TearDown() override
    {
        m_window.reset();
        m_patchPanel.reset();
        ModelFixture::TearDown();
    }

    BlendingOptions& image() { return m_model->blending()->options(); }
    CommonBlendOptsWidget& imageWidget()
    {
        m_window = std::make_unique<ImageBlendingWindow>(nullptr);
        return *m_window->blendOptions();
    }
    RegionalProperties& patchPanel()
    {
        m_patchPanel = std::make_unique<RegionalProperties>(nullptr);
        return *m_patchPanel;
    }
    // A small image the model announces (the widgets only look at whether there is one).
    void announceImage()
    {
        m_image = std::make_unique<KsSourceImage>(
            KsSourceImage::View8{4, 4, reinterpret_cast<std::uint8_t*>(m_pixels.data()), 16}, QStringLiteral("grey"));
        emit m_model->tellImageChanged(m_image.get());
    }

    std::unique_ptr<ImageBlendingWindow> m_window;
    std::unique_ptr<RegionalProperties> m_patchPanel;
    std::vector<std::uint32_t> m_pixels = std::vector<std::uint32_t>(16, 0xff808080u);
    std::unique_ptr<KsSourceImage> m_image;
};

TEST_F(BlendingPanelTest, StoredWidthsSnapToTheNearestChoiceAndAreWrittenBack)
{
    CommonBlendOptsWidget& widget = imageWidget();
    struct Case {
        float stored;
        const char* shown;
        float written;
    };
    for (const Case& c : {Case{0.5f, "Medium", 0.75f}, Case{2.0f, "Thick", 1.5f}, Case{0.0f, "None", 0.0f},
                          Case{0.2f, "Thin", 0.15f}, Case{-3.0f, "None", 0.0f}}) {
        SCOPED_TRACE(c.stored);
        image().autoBlendWidth = c.stored;
        widget.showSettings(&image());
        EXPECT_EQ(widget.widthCombo()->currentText(), QString::fromLatin1(c.shown));
        EXPECT_FLOAT_EQ(image().autoBlendWidth, c.written);
    }

    // A choice edits the image's record; an index that is no choice changes nothing.
    widget.setAutoBlueWidthToChoice(3);
    EXPECT_FLOAT_EQ(image().autoBlendWidth, 1.5f);
    widget.autoBlueWidthChangedSlot(1);
    EXPECT_FLOAT_EQ(image().autoBlendWidth, 0.15f);
    widget.autoBlueWidthChangedSlot(4);
    widget.autoBlueWidthChangedSlot(-1);
    EXPECT_FLOAT_EQ(image().autoBlendWidth, 0.15f);
}

TEST_F(BlendingPanelTest, TheRatioShowsItsPositionAndTitleAndReadsBackInFloatingPoint)
{
    CommonBlendOptsWidget& widget = imageWidget();
    QSignalSpy announced(m_model, &GmModel::imageBlendRatioChanged);
    image().blendRatio = 0.2f;
    widget.showSettings(&image());
    EXPECT_EQ(widget.ratioSlider()->value(), 6);
    EXPECT_EQ(widget.ratioGroup()->title(), QStringLiteral("Intelligent Blending:    1:3"));
    EXPECT_FLOAT_EQ(image().blendRatio, 0.25f) << "the record follows the position shown";
    ASSERT_FALSE(announced.isEmpty());
    EXPECT_FLOAT_EQ(announced.last().first().toFloat(), 0.25f);

    BlendingOptions read;
    widget.readSettings(&read);
    EXPECT_FLOAT_EQ(read.blendRatio, 0.25f);
    EXPECT_FLOAT_EQ(read.autoBlendWidth, 0.75f);

    widget.setBinaryBlendRatio(true);
    EXPECT_EQ(image().blendRatio, 1.0f);
    EXPECT_EQ(widget.ratioGroup()->title(), QStringLiteral("Intelligent Blending:    5:0"));
    widget.setBinaryBlendRatio(false);
    EXPECT_EQ(image().blendRatio, 0.0f);
    EXPECT_EQ(widget.ratioSlider()->value(), 8);
    // Already at the end: the record is still set.
    image().blendRatio = 0.5f;
    widget.setBinaryBlendRatio(false);
    EXPECT_EQ(image().blendRatio, 0.0f);

    // Ratios outside 0..1, as a damaged project may hold, land on the nearest end.
    for (float wild : {-4.0f, 7.0f, std::nanf("")}) {
        image().blendRatio = wild;
        widget.showSettings(&image());
        EXPECT_GE(widget.ratioSlider()->value(), 0);
        EXPECT_LE(widget.ratioSlider()->value(), 8);
        EXPECT_TRUE(image().blendRatio >= 0.0f && image().blendRatio <= 1.0f) << wild;
    }
}

TEST_F(BlendingPanelTest, WithKeptOptionsAndNothingStoredThePanelWritesThinAndFeatherIntoTheImage)
{
    m_preferences->setPersistOptions(true);
    image().autoBlendWidth = 1.5f;
    image().blendRatio = 0.2f;
    CommonBlendOptsWidget& widget = imageWidget();
    EXPECT_FLOAT_EQ(image().autoBlendWidth, 0.15f);
    EXPECT_EQ(image().blendRatio, 1.0f);
    EXPECT_FALSE(widget.isEnabled()) << "no image yet";

    widget.widthCombo()->setCurrentIndex(2);
    widget.ratioSlider()->setValue(3);
    m_window.reset();
    QSettings settings;
    EXPECT_EQ(settings.value("BlendingOptions/BlendMaskWidth").toString(), QStringLiteral("Medium"));
    EXPECT_EQ(settings.value("BlendingOptions/IntelligentBlending").toInt(), 3);

    // The next run starts from them.
    imageWidget();
    EXPECT_FLOAT_EQ(image().autoBlendWidth, 0.75f);
    EXPECT_FLOAT_EQ(image().blendRatio, 1.0f - 3.0f / 8.0f);
}

TEST_F(BlendingPanelTest, KeptValuesAreWrittenOnlyWhenThePreferenceIsOnAtExit)
{
    QSettings settings;
    imageWidget().ratioSlider()->setValue(5);
    m_preferences->setPersistOptions(true);
    m_window.reset();
    settings.sync();
    EXPECT_EQ(settings.value("BlendingOptions/IntelligentBlending").toInt(), 5)
        << "on at exit decides, though it was off when the panel was built";

    settings.clear();
    imageWidget();
    m_preferences->setPersistOptions(false);
    m_window.reset();
    settings.sync();
    EXPECT_FALSE(settings.contains("BlendingOptions/IntelligentBlending"));

    // The patch panel's widget never keeps anything.
    m_preferences->setPersistOptions(true);
    patchPanel().commonBlending()->ratioSlider()->setValue(2);
    m_patchPanel.reset();
    settings.sync();
    EXPECT_FALSE(settings.contains("BlendingOptions/IntelligentBlending"));
}

TEST_F(BlendingPanelTest, AWidthStoredInAnotherLanguageSelectsNone)
{
    QSettings().setValue("BlendingOptions/BlendMaskWidth", QStringLiteral("Mittel"));
    m_preferences->setPersistOptions(true);
    CommonBlendOptsWidget& widget = imageWidget();
    EXPECT_EQ(widget.widthCombo()->count(), 4);
    EXPECT_EQ(widget.widthCombo()->currentText(), QStringLiteral("None"));
    EXPECT_EQ(image().autoBlendWidth, 0.0f);
}

TEST_F(BlendingPanelTest, TheWidgetsAreUsableOnlyWithAnImage)
{
    CommonBlendOptsWidget& widget = imageWidget();
    RegionalProperties& panel = patchPanel();
    EXPECT_FALSE(widget.isEnabled());
    EXPECT_FALSE(panel.commonBlending()->isEnabled());
    announceImage();
    EXPECT_TRUE(widget.isEnabled());
    EXPECT_TRUE(panel.commonBlending()->isEnabled());
    emit m_model->tellImageChanged(nullptr);
    EXPECT_FALSE(widget.isEnabled());
}

TEST_F(BlendingPanelTest, TheComplexTypesExcludeEachOtherAndTheRatio)
{
    testsupport::ScriptedPrompt prompt;
    RegionalProperties& panel = patchPanel();
    announceImage();
    RegionBlendOptsWidget& region = *panel.patchBlending();
    QGroupBox* ratio = panel.commonBlending()->ratioGroup();
    ASSERT_TRUE(ratio->isEnabled());

    QTest::keyClick(region.edgeGroup(), Qt::Key_Space);
    ASSERT_TRUE(image().isMembrane);
    EXPECT_FALSE(ratio->isEnabled());
    // Both override flags go on in the record; the boxes wait for the next showing.
    EXPECT_TRUE(image().fgChecked);
    EXPECT_TRUE(image().bgChecked);
    EXPECT_FALSE(region.foregroundBox()->isChecked());
    EXPECT_FALSE(region.backgroundBox()->isChecked());

    QTest::keyClick(region.hairGroup(), Qt::Key_Space);
    EXPECT_TRUE(image().isChoices);
    EXPECT_FALSE(image().isMembrane);
    EXPECT_FALSE(region.edgeGroup()->isChecked());
    EXPECT_TRUE(region.hairGroup()->isChecked());
    EXPECT_FALSE(ratio->isEnabled());

    QTest::keyClick(region.hairGroup(), Qt::Key_Space);
    EXPECT_FALSE(image().isChoices);
    EXPECT_TRUE(ratio->isEnabled());

    region.showSettings(&image());
    EXPECT_TRUE(region.foregroundBox()->isChecked());
    EXPECT_TRUE(region.backgroundBox()->isChecked());
}

TEST_F(BlendingPanelTest, TheSpeedWarningShowsUntilItsBoxIsTicked)
{
    testsupport::ScriptedPrompt prompt;
    RegionBlendOptsWidget& region = *patchPanel().patchBlending();
    const QString key = QStringLiteral("BlendingOptions/Complex Hair BlendingSpeedWarning");
    EXPECT_EQ(RegionBlendOptsWidget::speedWarningKey(QStringLiteral("Complex Hair Blending")), key);

    region.choicesClickedSlot(true);
    ASSERT_EQ(prompt.messages().size(), 1);
    const Prompt::Message& shown = prompt.messages().first();
    EXPECT_EQ(shown.kind, Prompt::Information);
    EXPECT_EQ(shown.title, QStringLiteral("Complex Hair Blending"));
    EXPECT_EQ(shown.checkBoxText, QStringLiteral("Don't tell me again."));
    EXPECT_TRUE(shown.text.startsWith(
        QStringLiteral("<p>Complex Hair Blending is much slower than the other types of blending.</p>")));
    EXPECT_TRUE(QSettings().value(key).toBool());

    // Off, then on again: shown again; this time ticked.
    region.choicesClickedSlot(false);
    EXPECT_EQ(prompt.messages().size(), 1) << "only switching on warns";
    prompt.tick(true);
    region.choicesClickedSlot(true);
    EXPECT_EQ(prompt.messages().size(), 2);
    EXPECT_FALSE(QSettings().value(key, true).toBool());

    region.choicesClickedSlot(true);
    region.membraneClickedSlot(true);
    EXPECT_EQ(prompt.messages().size(), 2) << "never again, and Complex Edge never warns";
}

TEST_F(BlendingPanelTest, SlidersShowTheirPositionAndStoreFractionsOfNinetyNine)
{
    RegionBlendOptsWidget& region = *patchPanel().patchBlending();
    region.keepPaletteSlider()->setValue(50);
    EXPECT_FLOAT_EQ(image().choices1, 50.0f / 99.0f);
    EXPECT_EQ(region.keepPaletteLabel()->text(), QStringLiteral("Keep Mask Color Palette Size:    50"));
    region.deletePaletteSlider()->setValue(99);
    EXPECT_EQ(image().choices2, 1.0f);
    region.smoothnessSlider()->setValue(0);
    EXPECT_EQ(image().membrane1, 0.0f);
    EXPECT_EQ(region.smoothnessLabel()->text(), QStringLiteral("Edge Smoothness:    0"));

    BlendingOptions other;
    other.choices1 = 0.25f;
    other.choices2 = 0.0f;
    other.membrane1 = 0.8f;
    region.showSettings(&other);
    EXPECT_EQ(region.keepPaletteSlider()->value(), 25);
    EXPECT_EQ(region.deletePaletteSlider()->value(), 0);
    EXPECT_EQ(region.smoothnessSlider()->value(), 79);
    EXPECT_EQ(region.deletePaletteLabel()->text(), QStringLiteral("Delete Mask Color Palette Size:    0"));
    EXPECT_FLOAT_EQ(image().choices2, 1.0f) << "showing another record leaves the image's alone";

    BlendingOptions read;
    region.readSettings(&read);
    EXPECT_FLOAT_EQ(read.choices1, 25.0f / 99.0f);
    EXPECT_FLOAT_EQ(read.membrane1, 79.0f / 99.0f);
}

TEST_F(BlendingPanelTest, OverrideColoursFollowThePipetteAndTheColourDialogOfTheShownRecord)
{
    testsupport::ScriptedPrompt prompt;
    RegionBlendOptsWidget& region = *patchPanel().patchBlending();
    EXPECT_EQ(region.foregroundPipette()->objectName(), QStringLiteral("Foreground Picker"));
    EXPECT_EQ(region.backgroundPipette()->action()->toolTip(), QStringLiteral("Pick the background override color"));

    emit region.foregroundPipette()->pipetteToolColourSelected(QColor(10, 200, 30));
    EXPECT_EQ(image().fgOverride()->color(), QColor(10, 200, 30));
    EXPECT_TRUE(region.foregroundBox()->isChecked());
    EXPECT_TRUE(image().fgChecked);
    EXPECT_EQ(iconImage(region.foregroundAction()->icon()), iconImage(image().fgOverride()->action()->icon()));

    // The edit action opens the shown colour's dialog; a choice there ticks the box.
    prompt.answerColor(QColor(0, 0, 255));
    region.backgroundAction()->trigger();
    EXPECT_EQ(prompt.colorRequests(), 1);
    EXPECT_EQ(image().bgOverride()->color(), QColor(0, 0, 255));
    EXPECT_TRUE(region.backgroundBox()->isChecked());
    EXPECT_TRUE(image().bgChecked);

    // Another record shown: the image's colour no longer reaches the panel.
    BlendingOptions other;
    region.showSettings(&other);
    EXPECT_FALSE(region.backgroundBox()->isChecked());
    image().bgOverride()->changeColorSlot();  // cancelled: nothing changes
    emit image().bgOverride()->colorChanged(Qt::red);
    EXPECT_FALSE(region.backgroundBox()->isChecked());
    // A change edits the record in focus (the image's: no patch is active).
    other.bgChecked = true;
    region.backgroundBox()->setChecked(true);
    region.backgroundBox()->setChecked(false);
    EXPECT_FALSE(image().bgChecked);
    EXPECT_TRUE(other.bgChecked);
}

TEST_F(BlendingPanelTest, VectorEdgesAreAvailableBelowTheFinestSensitivity)
{
    EXPECT_FALSE(EDOs::vectorEdgesUseful(100));
    EXPECT_TRUE(EDOs::vectorEdgesUseful(99));
    EXPECT_TRUE(EDOs::vectorEdgesUseful(1));

    RegionalProperties& panel = patchPanel();
    SegmentationStuff* record = panel.edgeOptions()->record();
    ASSERT_NE(record, nullptr);
    record->edos().sensitivity().setCurrent(100);
    EXPECT_FALSE(panel.vectorEdgesAvailable());
    record->edos().sensitivity().setCurrent(99);
    EXPECT_TRUE(panel.vectorEdgesAvailable());
    panel.edgeOptions()->bindRecord(nullptr);
    EXPECT_FALSE(panel.vectorEdgesAvailable());
}

TEST_F(BlendingPanelTest, ThePanelsAnswerTheSubWindowFramework)
{
    ImageBlendingWindow blending(nullptr);
    EXPECT_EQ(blending.objectName(), QStringLiteral("DockWidget: Edge Blending"));
    EXPECT_EQ(blending.windowTitle(), QStringLiteral("Edge Blending"));
    EXPECT_FALSE(blending.hasDefaultSize());
    EXPECT_EQ(blending.usableViewTabs(), GmSubWindow::AllViewTabs);
    EXPECT_TRUE(blending.restoresVisibility());
    EXPECT_EQ(blending.widget(), blending.blendOptions());
    EXPECT_TRUE(blending.blendOptions()->isImageMode());
    EXPECT_TRUE(blending.blendOptions()->isPersistable());

    RegionalProperties& panel = patchPanel();
    EXPECT_EQ(panel.objectName(), QStringLiteral("DockWidget: Patch Properties"));
    EXPECT_EQ(panel.usableViewTabs(), 2);
    EXPECT_FALSE(panel.restoresVisibility());
    EXPECT_TRUE(panel.hasDefaultSize());
    EXPECT_FALSE(panel.isResizable());
    EXPECT_FALSE(panel.commonBlending()->isImageMode());
    EXPECT_FALSE(panel.commonBlending()->isPersistable());
    EXPECT_EQ(panel.pages()->currentIndex(), int(RegionalProperties::NoPatchPage));

    // A saved "visible" never shows it.
    panel.restoreState(QByteArray(1, '\1'));
    EXPECT_FALSE(panel.isUserVisible());
}

} // namespace
