// The edge-finding options widget on the model's image record without the engine: the width
// across resolution divisors, the settings carried between runs, the button states, the
// radio codes, the advanced switch and the image's arrival and departure.

#include "document/EDOs.h"
#include "document/GmModel.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/SegmentationStuff.h"
#include "engine/DravikCommand.h"
#include "panels/EdgeDetectionOptions.h"
#include "panels/ImageEdgeFinder.h"
#include "panels/ToolPaletteButton.h"

#include "ModelFixture.h"
#include "dravik.h"

#include <QAction>
#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class NoOp : public DravikCommand {
public:
    NoOp() : DravikCommand(nullptr, QStringLiteral("No-op")) {}
    void execute() override {}
};

QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The enabled states of Defaults, Revert and Apply.
struct Buttons {
    bool defaults, revert, apply;
    bool operator==(const Buttons& o) const
    {
        return defaults == o.defaults && revert == o.revert && apply == o.apply;
    }
};

std::ostream& operator<<(std::ostream& out, const Buttons& b)
{
    return out << "{defaults " << b.defaults << ", revert " << b.revert << ", apply " << b.apply << "}";
}

class EdgeFindingTest : public testsupport::ModelFixture {
protected:
    void TearDown() override
    {
        m_panel.reset();
        ModelFixture::TearDown();
    }

    EdgeDetectionOptions& panel(bool persistable = false)
    {
        m_panel = std::make_unique<EdgeDetectionOptions>(persistable);
        return *m_panel;
    }
    EDOs& edos() { return m_model->segmentation()->edos(); }
    Buttons buttons() const
    {
        return {m_panel->defaultsButton()->isEnabled(), m_panel->revertButton()->isEnabled(),
                m_panel->applyButton()->isEnabled()};
    }

    std::unique_ptr<EdgeDetectionOptions> m_panel;
};

TEST_F(EdgeFindingTest, TheWidthKeepsItsSizeInImagePixelsAcrossDivisors)
{
    EdgeDetectionOptions& options = panel();
    ASSERT_EQ(edos().width().applied(), 3);

    m_model->changeResolution(2);
    EXPECT_EQ(edos().width().current(), 1);
    EXPECT_EQ(options.widthSlider()->value(), 1);
    m_model->changeResolution(1);
    EXPECT_EQ(edos().width().current(), 3);
    EXPECT_EQ(options.widthSpinBox()->value(), 3);

    // 20 at divisor 2 is 40 image pixels: clamped to 32 at full size, 5 at divisor 8.
    m_model->changeResolution(2);
    options.widthSlider()->setValue(20);
    EXPECT_EQ(edos().widthInImageCoords(), 40);
    m_model->changeResolution(1);
    EXPECT_EQ(edos().width().current(), 32);
    m_model->changeResolution(8);
    EXPECT_EQ(edos().width().current(), 5);
    EXPECT_EQ(options.widthSpinBox()->value(), 5);

    // The lower clamp.
    m_model->changeResolution(1);
    options.widthSpinBox()->setValue(1);
    EXPECT_EQ(edos().width().current(), 1);
    m_model->changeResolution(8);
    EXPECT_EQ(edos().width().current(), 1);
    EXPECT_EQ(edos().widthInImageCoords(), 1);

    // The divisor announced again after a refused change leaves a width set since alone.
    edos().width().setCurrent(7);
    options.showValues(&edos());
    emit m_model->resolutionChanged(8, 8);
    EXPECT_EQ(edos().width().current(), 7);
}

TEST_F(EdgeFindingTest, RevertAndDefaultsCarryTheWidthShownToTheNextDivisor)
{
    EdgeDetectionOptions& options = panel();
    edos().width().setDefaultValue(6);
    options.widthSlider()->setValue(20);
    ASSERT_FALSE(options.revertButton()->isEnabled()) << "the record's own edge finding is off";
    options.revertValuesSlot();
    EXPECT_EQ(edos().width().current(), 3);
    m_model->changeResolution(2);
    EXPECT_EQ(edos().width().current(), 1) << "not half of the width the user left";

    m_model->changeResolution(1);
    options.widthSlider()->setValue(20);
    options.setDefaultsSlot();
    EXPECT_EQ(edos().width().current(), 6);
    m_model->changeResolution(2);
    EXPECT_EQ(edos().width().current(), 3);
}

TEST_F(EdgeFindingTest, WithPersistedOptionsTheFirstPanelStartsFromTheSettingDefaults)
{
    m_preferences->setPersistOptions(true);
    EdgeDetectionOptions& options = panel(true);
    EXPECT_EQ(edos().sensitivity().current(), 10);
    EXPECT_EQ(edos().width().current(), 8);
    EXPECT_EQ(edos().contrast().current(), 1);
    EXPECT_EQ(edos().texture().current(), 1);
    EXPECT_EQ(options.sensitivityGroup()->title(), QStringLiteral("Number of Edges:    10 %"));
    EXPECT_EQ(options.record(), m_model->segmentation());
    // Changed from the applied values, which a session then applies.
    EXPECT_EQ(buttons(), (Buttons{true, false, true}));
}

TEST_F(EdgeFindingTest, PersistedSettingsWinOverTheModelsValues)
{
    QSettings settings;
    settings.setValue("EdgeDetectionOptions/NumberofEdges", 77);
    settings.setValue("EdgeDetectionOptions/EdgeWidthThreshold", 40);
    settings.setValue("EdgeDetectionOptions/EdgeContrast/Medium", false);
    settings.setValue("EdgeDetectionOptions/EdgeContrast/Low", true);
    settings.setValue("EdgeDetectionOptions/Filtering/Medium", false);
    settings.setValue("EdgeDetectionOptions/Filtering/Coarse", true);
    m_preferences->setPersistOptions(true);
    panel(true);
    EXPECT_EQ(edos().sensitivity().current(), 77);
    EXPECT_EQ(edos().width().current(), 32) << "clamped to the slider's range";
    EXPECT_EQ(edos().contrast().current(), 0);
    EXPECT_EQ(edos().texture().current(), 2);

    // A resolution change starts from the kept width, not from the applied one.
    m_panel.reset();
    settings.setValue("EdgeDetectionOptions/EdgeWidthThreshold", 12);
    GmModel::destroy();
    m_model = GmModel::instance();
    panel(true);
    m_model->changeResolution(4);
    EXPECT_EQ(edos().width().current(), 3);
}

TEST_F(EdgeFindingTest, ValuesAreWrittenAtExitOnlyWhenThePreferenceIsOnThen)
{
    QSettings settings;
    {
        // On at the start, off at exit: nothing is written.
        m_preferences->setPersistOptions(true);
        EdgeDetectionOptions& options = panel(true);
        options.sensitivitySlider()->setValue(42);
        m_preferences->setPersistOptions(false);
        m_panel.reset();
        settings.sync();
        EXPECT_FALSE(settings.contains("EdgeDetectionOptions/NumberofEdges"));
    }
    {
        // Off at the start, on at exit.
        EdgeDetectionOptions& options = panel(true);
        options.sensitivitySlider()->setValue(42);
        options.widthSlider()->setValue(12);
        options.contrastButtons()->button(2)->click();
        options.textureButtons()->button(0)->click();
        m_preferences->setPersistOptions(true);
        m_panel.reset();
        settings.sync();
        EXPECT_EQ(settings.value("EdgeDetectionOptions/NumberofEdges").toInt(), 42);
        EXPECT_EQ(settings.value("EdgeDetectionOptions/EdgeWidthThreshold").toInt(), 12);
        EXPECT_TRUE(settings.value("EdgeDetectionOptions/EdgeContrast/High").toBool());
        EXPECT_FALSE(settings.value("EdgeDetectionOptions/EdgeContrast/Medium").toBool());
        EXPECT_FALSE(settings.value("EdgeDetectionOptions/EdgeContrast/Low").toBool());
        EXPECT_TRUE(settings.value("EdgeDetectionOptions/Filtering/Fine").toBool());
        EXPECT_FALSE(settings.value("EdgeDetectionOptions/Filtering/Coarse").toBool());
        EXPECT_TRUE(settings.contains("EdgeDetectionOptions/Filtering/Medium"));
    }
    settings.clear();
    {
        // A patch's panel never keeps its values.
        EdgeDetectionOptions& options = panel(false);
        options.sensitivitySlider()->setValue(42);
        m_panel.reset();
        settings.sync();
        EXPECT_TRUE(settings.allKeys().filter("EdgeDetectionOptions").isEmpty());
    }
}

TEST_F(EdgeFindingTest, ButtonsFollowTheValuesAndTheAnalysisState)
{
    EdgeDetectionOptions& options = panel();
    SegmentationStuff* record = m_model->segmentation();
    // Never analysed and nothing on its way: the unchanged values may be applied.
    EXPECT_EQ(buttons(), (Buttons{false, false, true}));

    auto* command = new NoOp;
    record->setAnalysisCommand(command);
    options.setEnablednessOfButtons();
    EXPECT_EQ(buttons(), (Buttons{false, false, false}));
    delete command;

    DvSession session{};
    session.analysed = 1;
    record->setSession(&session);
    record->setAnalysisSession(&session);
    options.setEnablednessOfButtons();
    EXPECT_EQ(buttons(), (Buttons{false, false, false}));

    options.sensitivitySlider()->setValue(70);
    EXPECT_EQ(edos().sensitivity().current(), 70);
    EXPECT_EQ(buttons(), (Buttons{true, false, true}));
    record->setChecked(true);
    options.contrastButtons()->button(0)->click();
    EXPECT_EQ(edos().contrast().current(), 0);
    EXPECT_EQ(buttons(), (Buttons{true, true, true}));

    options.revertButton()->click();
    EXPECT_EQ(edos().sensitivity().current(), 50);
    EXPECT_EQ(options.sensitivitySlider()->value(), 50);
    EXPECT_TRUE(options.contrastButtons()->button(1)->isChecked());
    EXPECT_EQ(buttons(), (Buttons{false, false, false}));

    // A changed default makes the shown values non-default; Defaults takes them.
    edos().texture().setDefaultValue(2);
    options.setEnablednessOfButtons();
    EXPECT_EQ(buttons(), (Buttons{true, false, false}));
    options.defaultsButton()->click();
    EXPECT_EQ(edos().texture().current(), 2);
    EXPECT_TRUE(options.textureButtons()->button(2)->isChecked());
    EXPECT_EQ(buttons(), (Buttons{false, true, true}));

    record->setSession(nullptr);
    record->setAnalysisSession(nullptr);
}

TEST_F(EdgeFindingTest, ShowingValuesSetsTheRadioButtonsByCode)
{
    EdgeDetectionOptions& options = panel();
    edos().contrast().setCurrent(2);
    edos().texture().setCurrent(0);
    options.showValues(&edos());
    EXPECT_EQ(options.contrastButtons()->checkedId(), 2);
    EXPECT_EQ(options.textureButtons()->checkedId(), 0);
    // Unknown codes leave the buttons as they are.
    edos().contrast().setCurrent(7);
    edos().texture().setCurrent(-1);
    options.showValues(&edos());
    EXPECT_EQ(options.contrastButtons()->checkedId(), 2);
    EXPECT_EQ(options.textureButtons()->checkedId(), 0);
    EXPECT_EQ(edos().contrast().current(), 7);

    // A bound record of its own, then none.
    SegmentationStuff patchRecord;
    patchRecord.edos().sensitivity().setAll(88);
    options.bindRecord(&patchRecord);
    EXPECT_EQ(options.sensitivitySlider()->value(), 88);
    options.sensitivitySlider()->setValue(20);
    EXPECT_EQ(patchRecord.edos().sensitivity().current(), 20);
    EXPECT_EQ(edos().sensitivity().current(), 50);
    options.bindRecord(nullptr);
    EXPECT_EQ(options.record(), nullptr);
    EXPECT_EQ(buttons(), (Buttons{false, false, false}));
}

TEST_F(EdgeFindingTest, TheImageEnablesThePanelAndItsDepartureDropsTheRecord)
{
    std::vector<std::uint32_t> pixels(16 * 16, 0xff808080u);
    KsSourceImage image(KsSourceImage::View8{16, 16, reinterpret_cast<std::uint8_t*>(pixels.data()), 64},
                        QStringLiteral("plain"));
    ImageEdgeFinder finder(nullptr, nullptr, QString());
    EdgeDetectionOptions* options = finder.edgeOptions();
    EXPECT_EQ(finder.widget(), options);
    EXPECT_FALSE(options->isEnabled());
    EXPECT_EQ(finder.windowTitle(), QStringLiteral("Edge Finding"));
    EXPECT_EQ(finder.objectName(), QStringLiteral("DockWidget: Edge Finding"));
    EXPECT_FALSE(finder.hasDefaultSize());
    EXPECT_EQ(finder.segmentation(), m_model->segmentation());

    emit m_model->tellImageChanged(&image);
    EXPECT_TRUE(options->isEnabled());
    emit m_model->tellImageChanged(nullptr);
    EXPECT_FALSE(options->isEnabled());
    EXPECT_EQ(finder.segmentation(), nullptr);
    EXPECT_FALSE(options->applyButton()->isEnabled());
    // Without a record the controls write nowhere.
    options->sensitivitySlider()->setValue(99);
    EXPECT_EQ(edos().sensitivity().current(), 50);
}

TEST_F(EdgeFindingTest, TheAdvancedSwitchHidesAndShowsTheContrastAndTextureGroups)
{
    EdgeDetectionOptions& options = panel();
    const QImage hideIcon = iconImage(QIcon(":/images/2arrow-hide-icon-16x16.png"));
    const QImage showIcon = iconImage(QIcon(":/images/2arrow-show-icon-16x16.png"));
    ASSERT_FALSE(hideIcon.isNull());
    ASSERT_NE(hideIcon, showIcon);
    options.show();
    EXPECT_TRUE(options.contrastGroup()->isVisible());
    EXPECT_EQ(options.advancedButton()->toolTip(), QStringLiteral("Hide the advanced options"));
    EXPECT_EQ(iconImage(options.advancedButton()->icon()), hideIcon);

    options.advancedButton()->click();
    EXPECT_FALSE(options.contrastGroup()->isVisible());
    EXPECT_FALSE(options.textureGroup()->isVisible());
    EXPECT_TRUE(options.widthGroup()->isVisible());
    EXPECT_EQ(options.advancedButton()->toolTip(), QStringLiteral("Show the advanced options"));
    EXPECT_EQ(iconImage(options.advancedButton()->icon()), showIcon);

    // The switch works the same on a hidden panel.
    options.hide();
    options.toggleAdvanced();
    options.show();
    EXPECT_TRUE(options.contrastGroup()->isVisible());
    EXPECT_TRUE(options.textureGroup()->isVisible());
    EXPECT_EQ(iconImage(options.advancedButton()->icon()), hideIcon);
}

} // namespace
