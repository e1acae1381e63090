// The mask brushes and the clean tool without the engine: the shared size and its shortcuts,
// slider and pen pressure, the protection boxes and their settings, strength and
// availability, the limits fitted to an image, and where the clean tool reads its class.

#include "canvas/GmZoomWidget.h"
#include "document/GmModel.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "engine/CommandHooks.h"
#include "panels/ParameterStack.h"
#include "tools/BrushingTool.h"
#include "tools/CleanTool.h"
#include "tools/ComplexGlobalTool.h"
#include "tools/DeleteExactTool.h"
#include "tools/DeleteLocalTool.h"
#include "tools/EraseExactTool.h"
#include "tools/KeepExactTool.h"
#include "tools/KeepLocalTool.h"
#include "tools/NoTool.h"

#include "ModelImage.h"
#include "WidgetInput.h"

#include <QCheckBox>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

// An image of the size, for the limits a new image sets.
class SizedImage {
public:
    SizedImage(int width, int height)
        : m_pixels(std::size_t(width) * height, 0xff808080u),
          m_image(KsSourceImage::View8{width, height, reinterpret_cast<std::uint8_t*>(m_pixels.data()),
                                       qint64(width) * 4},
                  QStringLiteral("sized"))
    {
    }
    const KsSourceImage* image() const { return &m_image; }

private:
    std::vector<std::uint32_t> m_pixels;
    KsSourceImage m_image;
};

class BrushTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_preferences = std::make_unique<KsAppPreferences>();
        m_image = std::make_unique<testsupport::ModelImage>(800, 600, 1);
        m_keep = std::make_unique<KeepExactTool>();
        m_delete = std::make_unique<DeleteExactTool>();
    }
    void TearDown() override
    {
        m_delete.reset();
        m_keep.reset();
        m_image.reset();
        m_preferences.reset();
    }
    static int size() { return BrushingTool::sizeSpinBox()->value(); }

    std::unique_ptr<KsAppPreferences> m_preferences;
    std::unique_ptr<testsupport::ModelImage> m_image;
    std::unique_ptr<KeepExactTool> m_keep;
    std::unique_ptr<DeleteExactTool> m_delete;
};

} // namespace

TEST_F(BrushTest, SizeShortcutsStepByThreePercentWithinTheRange)
{
    const auto step = [this](int from, bool up) {
        BrushingTool::setBrushSize(from);
        up ? m_keep->increaseBrushSizeSlot() : m_keep->decreaseBrushSizeSlot();
        return size();
    };
    EXPECT_EQ(step(1, false), 1);
    EXPECT_EQ(step(400, true), 400);
    EXPECT_EQ(step(10, true), 11);
    EXPECT_EQ(step(10, false), 9);
    EXPECT_EQ(step(100, true), 104);
    EXPECT_EQ(step(100, false), 96);
    BrushingTool::setBrushSize(37);
    EXPECT_EQ(BrushingTool::brushSize(), 37) << "one size for every brush";
}

TEST_F(BrushTest, SliderAndSizeMapBothWaysWithoutEchoing)
{
    QSlider* slider = BrushingTool::sizeSlider();
    EXPECT_EQ(slider->minimum(), 0);
    EXPECT_EQ(slider->maximum(), 100);
    slider->setValue(30);
    int moves = 0;
    QObject::connect(GmModel::instance(), &GmModel::brushSizeSliderMoved, [&moves] { ++moves; });
    slider->setValue(0);
    EXPECT_EQ(size(), 1);
    slider->setValue(50);
    EXPECT_EQ(size(), 100);
    slider->setValue(100);
    EXPECT_EQ(size(), 400);
    EXPECT_EQ(moves, 3);
    EXPECT_EQ(slider->value(), 100) << "the spin box's change does not move the slider back";

    BrushingTool::setBrushSize(100);
    EXPECT_EQ(slider->value(), 49);
    EXPECT_EQ(size(), 100) << "the slider's move does not round the size";
    EXPECT_EQ(moves, 3);
}

TEST_F(BrushTest, PenPressureScalesTheSizeForOneStroke)
{
    GmZoomWidget canvas;
    canvas.resize(400, 300);
    ASSERT_TRUE(testsupport::showForInput(&canvas));
    ASSERT_TRUE(m_keep->installSlot());
    BrushingTool::setBrushSize(25);
    testsupport::tabletEvent(&canvas, QEvent::TabletPress, QPointF(50, 50), 0.5);
    EXPECT_EQ(BrushingTool::brushSize(), 13) << "ceil(25 x 0.5)";
    testsupport::tabletEvent(&canvas, QEvent::TabletMove, QPointF(52, 50), 0.01);
    EXPECT_EQ(BrushingTool::brushSize(), 1);
    // The stroke ends: the spin box's size is back.
    m_keep->mousePressed(ImagePointF(10, 10), nullptr);
    m_keep->mouseReleased(ImagePointF(10, 10), nullptr);
    EXPECT_EQ(BrushingTool::brushSize(), 25);
}

TEST_F(BrushTest, ProtectionBoxesShapeTheOverwriteMaskPerBrush)
{
    EXPECT_EQ(m_delete->overwriteMask(), 15);
    m_delete->protectKeepBox()->setChecked(true);
    EXPECT_EQ(m_delete->overwriteMask(), 13);
    m_delete->protectDeleteBox()->setChecked(true);
    m_delete->protectBlendBox()->setChecked(true);
    EXPECT_EQ(m_delete->overwriteMask(), 1);
    EXPECT_EQ(m_keep->overwriteMask(), 15) << "a box in one brush changes no other";
}

TEST_F(BrushTest, SettingsAreWrittenAtExitOnlyWithThePreference)
{
    m_preferences->setPersistOptions(true);
    QSettings().setValue(QStringLiteral("ToolOptions/Common/Strength"), 5);
    auto local = std::make_unique<KeepLocalTool>();
    EXPECT_EQ(BrushingTool::strength(), 0) << "the bar exists already; the stored strength is read by a new one";
    local->protectDeleteBox()->setChecked(true);
    BrushingTool::setBrushSize(77);
    local.reset();
    m_keep.reset();
    m_delete.reset();
    EXPECT_EQ(BrushingTool::sharedBar(), nullptr) << "the bar goes with the last brushing tool";
    QSettings settings;
    EXPECT_EQ(settings.value(QStringLiteral("ToolOptions/Common/Size")).toInt(), 77);
    EXPECT_TRUE(settings.value(QStringLiteral("ToolOptions/KeepLocalBrush/Delete")).toBool());
    EXPECT_FALSE(settings.value(QStringLiteral("ToolOptions/KeepExactBrush/Delete")).toBool());
    EXPECT_EQ(BrushingTool::brushSize(), BrushingTool::fallbackSize);

    auto again = std::make_unique<KeepLocalTool>();
    EXPECT_EQ(BrushingTool::brushSize(), 77);
    EXPECT_EQ(BrushingTool::strength(), 5);
    EXPECT_TRUE(again->protectDeleteBox()->isChecked());
    again->protectDeleteBox()->setChecked(false);
    m_preferences->setPersistOptions(false);
    BrushingTool::strengthStack()->setValue(QStringLiteral("Strength"), 2);
    again.reset();
    EXPECT_EQ(settings.value(QStringLiteral("ToolOptions/Common/Strength")).toInt(), 5) << "never written";
    EXPECT_TRUE(settings.value(QStringLiteral("ToolOptions/KeepLocalBrush/Delete")).toBool())
        << "without the preference nothing is written";
}

TEST_F(BrushTest, StrengthRowFollowsTheReachAndFeedsTheCommands)
{
    auto local = std::make_unique<KeepLocalTool>();
    auto global = std::make_unique<ComplexGlobalTool>();
    const auto enabled = [] { return BrushingTool::strengthStack()->spinBox(QStringLiteral("Strength"))->isEnabled(); };
    m_keep->activate(nullptr);
    EXPECT_FALSE(enabled());
    local->activate(nullptr);
    EXPECT_TRUE(enabled());
    global->activate(nullptr);
    EXPECT_TRUE(enabled());
    BrushingTool::strengthStack()->setValue(QStringLiteral("Strength"), 6);
    EXPECT_EQ(CommandHooks::brushStrength(), 6);
    EXPECT_EQ(global->maskKind(), 8);
    EXPECT_EQ(global->brushMode(), 2);
}

TEST_F(BrushTest, ReachingBrushesWaitForAnAnalysis)
{
    auto local = std::make_unique<DeleteLocalTool>();
    EXPECT_TRUE(m_keep->isAvailable());
    EXPECT_FALSE(local->isAvailable()) << "no analysis finished or pending";
    EraseExactTool erase;
    EXPECT_TRUE(erase.isAvailable());
    EXPECT_EQ(erase.maskKind(), 1);
    EXPECT_EQ(erase.strokeColour(), QColor(Qt::gray));
}

TEST_F(BrushTest, ANewImageAndAResolutionChangeFitTheLimits)
{
    SizedImage small(800, 600);
    BrushingTool::fitToolsToImage(small.image());
    EXPECT_EQ(size(), 60);
    emit GmModel::instance()->resolutionChanged(1, 2);
    EXPECT_EQ(size(), 30);
    emit GmModel::instance()->resolutionChanged(2, 2);
    EXPECT_EQ(size(), 30) << "an unchanged divisor keeps the size";

    CleanTool clean;
    BrushingTool::fitToolsToImage(small.image());
    int level = 0;
    ASSERT_TRUE(CleanTool::strengthStack()->value(QStringLiteral("Strength"), level));
    EXPECT_EQ(level, 12);
    SizedImage large(2000, 1500);
    BrushingTool::fitToolsToImage(large.image());
    EXPECT_EQ(CommandHooks::cleanLevel(), 20);
}

TEST_F(BrushTest, ANewImagesBrushIsTheSameShareOfItsWorkingImageAtEveryResolution)
{
    // As the model installs an image: the divisor for its pixel count first, then the fit.
    const auto share = [](int width, int height) {
        SizedImage image(width, height);
        GmModel::instance()->chooseResolutionForPixelCount(qint64(width) * height);
        BrushingTool::fitToolsToImage(image.image());
        const int divisor = GmModel::instance()->resolution();
        return double(size()) / std::min((width + divisor - 1) / divisor, (height + divisor - 1) / divisor);
    };
    const double large = share(3000, 2000);
    EXPECT_EQ(GmModel::instance()->resolution(), 2);
    EXPECT_EQ(size(), 100) << "a tenth of the 1500 x 1000 working image";
    const double small = share(370, 318);
    EXPECT_EQ(GmModel::instance()->resolution(), 1);
    EXPECT_NEAR(large, small, 0.005);
}

TEST(CleanToolTest, WithoutItsPageTheLevelIsClamped)
{
    CleanTool::setStrength(0);
    EXPECT_EQ(CommandHooks::cleanLevel(), 1);
    CleanTool::setStrength(25);
    EXPECT_EQ(CommandHooks::cleanLevel(), 20);
}

TEST(BrushingToolTest, WithoutTheBarTheSizeIsTen)
{
    EXPECT_EQ(BrushingTool::brushSize(), 10);
    BrushingTool::setBrushSize(200);
    EXPECT_EQ(BrushingTool::brushSize(), 10);
}
