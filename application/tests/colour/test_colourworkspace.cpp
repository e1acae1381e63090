// The colour workspace panel: its form, the axis choosers and rulers, the bucket buttons, the
// edge strips that start a drag outside the display, the hand-over of a selection to the engine
// on a real photograph, when the panel shows and hides, and the Color Sampler tool.

#include "colour/AxisWidget.h"
#include "colour/CWSMouseEventFilter.h"
#include "colour/ColourDisplay.h"
#include "colour/ColourWorkspace.h"
#include "colour/ColourWorkspaceSelectTool.h"
#include "document/GmAction.h"
#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsAppPreferences.h"
#include "document/RectRegion.h"
#include "document/Rectangle.h"
#include "engine/DvCmdSelect.h"
#include "panels/ToolOptions.h"
#include "tools/NoTool.h"

#include "EngineDocument.h"
#include "ModelImage.h"
#include "PopupMenuCloser.h"
#include "RecordingTool.h"
#include "Wait.h"
#include "WidgetInput.h"

#include <QAction>
#include <QCheckBox>
#include <QMouseEvent>
#include <QSlider>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>
#include <new>

using testsupport::PopupMenuCloser;
using testsupport::RecordingTool;
using testsupport::waitUntil;

namespace {

template <typename T>
T* child(QWidget* panel, const char* name)
{
    T* found = panel->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QImage pixmapImage(const QIcon& icon)
{
    return icon.pixmap(64, QIcon::Normal, QIcon::On).toImage().convertToFormat(QImage::Format_ARGB32);
}

// A panel on its own, with the preferences the display reads its colours from.
class PanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_preferences = std::make_unique<KsAppPreferences>();
        m_panel = std::make_unique<ColourWorkspace>(nullptr, QString(), nullptr);
    }
    void TearDown() override
    {
        m_panel.reset();
        GmModel::destroy();
        m_preferences.reset();
    }
    // Shown as a window big enough for the strips around the display.
    void showPanel()
    {
        m_panel->resize(520, 340);
        m_panel->setUserVisible(true);
        ASSERT_TRUE(testsupport::showForInput(m_panel.get()));
    }
    ColourDisplay* display() const { return m_panel->colourDisplay(); }

    std::unique_ptr<KsAppPreferences> m_preferences;
    std::unique_ptr<ColourWorkspace> m_panel;
};

} // namespace

// ---- Form ---------------------------------------------------------------------------------

TEST_F(PanelTest, TheFormHasItsNamesTextsAndTips)
{
    const struct {
        const char* name;
        const char* tip;
    } tips[] = {
        {"toKeep_", "Add Keep Mask to selected colors"},
        {"toDrop_", "Add Delete Mask to selected colors"},
        {"toBlend_", "Add Blend Mask to selected colors"},
        {"toUnassigned_", "Remove mask(s) from selected colors "},
        {"horizontalAxis_", "Current horizontal axis type"},
        {"horizontalAxisChooser_", "Change horizontal axis type"},
        {"verticalAxisChooser_", "Change vertical axis type"},
        {"colourDisplay_", "Click+Drag to select colors"},
        {"histogramMode_", "Show histogram mode"},
        {"colourMapMode_", "Show 2D color map"},
        {"colourBits_", "Set Color Workspace resolution"},
        {"viewUnassigned_", "Show unassigned colors"},
        {"viewKeep_", "Show Keep colors"},
        {"viewDrop_", "Show Delete colors"},
        {"viewBlend_", "Show Blend colors"},
    };
    for (const auto& tip : tips) {
        QWidget* widget = child<QWidget>(m_panel.get(), tip.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->toolTip(), QString::fromLatin1(tip.tip)) << tip.name;
        if (auto* button = qobject_cast<QToolButton*>(widget)) {
            EXPECT_TRUE(button->text().isEmpty()) << tip.name;
        }
    }
    EXPECT_EQ(child<QLabel>(m_panel.get(), "resolutionLabel_")->text(), "Resolution:");
    EXPECT_EQ(child<QLabel>(m_panel.get(), "coarseLabel_")->text(), "Coarse");
    EXPECT_EQ(child<QLabel>(m_panel.get(), "fineLabel")->text(), "Fine");
    EXPECT_EQ(child<QLabel>(m_panel.get(), "viewLabel_")->text(), "Views:");
    auto* autoBlend = child<QCheckBox>(m_panel.get(), "autoBlend");
    EXPECT_EQ(autoBlend->text(), "Add blend mask automatically");
    EXPECT_FALSE(autoBlend->isChecked());
    for (const char* name : {"line_3", "line_4", "mainHDivider_", "vLine1", "vLine2", "colourDisplayFrame_"})
        EXPECT_NE(m_panel->findChild<QFrame*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(m_panel->windowTitle(), "Color Workspace");
    EXPECT_EQ(m_panel->objectName(), "DockWidget: Color Workspace");
    EXPECT_TRUE(m_panel->hasDefaultSize());
    EXPECT_FALSE(m_panel->restoresVisibility());
    EXPECT_TRUE(child<QToolButton>(m_panel.get(), "toKeep_")->whatsThis().contains(
        "4-Kestrine_Tools/Using_the_Color_Workspace.htm"));

    auto* bits = child<QSlider>(m_panel.get(), "colourBits_");
    EXPECT_EQ(bits->minimum(), 4);
    EXPECT_EQ(bits->maximum(), 8);
    EXPECT_EQ(bits->pageStep(), 2);
    EXPECT_EQ(bits->value(), 5);
    EXPECT_FALSE(bits->hasTracking());
    EXPECT_EQ(display()->colourBits(), 5);

    EXPECT_EQ(display()->horizontalChannel(), Ht::colour::Lightness);
    EXPECT_EQ(display()->verticalChannel(), Ht::colour::Hue);
    EXPECT_EQ(m_panel->horizontalAxis()->orientation(), Qt::Horizontal);
    EXPECT_EQ(m_panel->horizontalAxis()->channel(), Ht::colour::Lightness);
    EXPECT_EQ(m_panel->verticalAxis()->orientation(), Qt::Vertical);
    EXPECT_EQ(m_panel->verticalAxis()->channel(), Ht::colour::Hue);
    EXPECT_EQ(m_panel->verticalAxis()->labels(),
              QStringList({"Hue", "Lightness", "Saturation", "Red", "Green", "Blue"}));
}

TEST_F(PanelTest, EyeButtonsShowAnOffIconWhenOff)
{
    const char* names[] = {"viewUnassigned_", "viewKeep_", "viewDrop_", "viewBlend_"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NE(pixmapImage(m_panel->viewOffIcon(i)), pixmapImage(m_panel->viewOnIcon(i))) << names[i];
        auto* eye = child<QToolButton>(m_panel.get(), names[i]);
        EXPECT_TRUE(eye->isChecked());
        eye->click();
        EXPECT_EQ(pixmapImage(eye->icon()), pixmapImage(m_panel->viewOffIcon(i))) << names[i];
    }
    // All four off: nothing is counted or highlighted.
    EXPECT_EQ(display()->statusesViewed(), 0);
    child<QToolButton>(m_panel.get(), "viewKeep_")->click();
    EXPECT_EQ(display()->statusesViewed(), 2);
    EXPECT_EQ(pixmapImage(child<QToolButton>(m_panel.get(), "viewKeep_")->icon()), pixmapImage(m_panel->viewOnIcon(1)));
}

TEST_F(PanelTest, OnlyTheWorkspaceTabShowsThePanel)
{
    m_panel->setUserVisible(true);
    m_panel->viewTabChangedSlot(ImageView::Workspace);
    EXPECT_TRUE(m_panel->isVisible());
    EXPECT_TRUE(m_panel->toggleViewAction()->isEnabled());
    for (int tab : {int(ImageView::Source), int(ImageView::CutOut)}) {
        m_panel->viewTabChangedSlot(tab);
        EXPECT_FALSE(m_panel->isVisible()) << tab;
        EXPECT_FALSE(m_panel->toggleViewAction()->isEnabled()) << tab;
    }
    m_panel->viewTabChangedSlot(ImageView::Workspace);
    EXPECT_TRUE(m_panel->isVisible());
}

// ---- Axes ---------------------------------------------------------------------------------

TEST(ColourWorkspaceAxes, ThePartnerRuleKeepsTwoDifferentChannelsOfOneFamily)
{
    const auto family = [](int c) { return c <= Ht::colour::Saturation ? 0 : 1; };
    const int defaults[] = {Ht::colour::Lightness, Ht::colour::Hue, Ht::colour::Hue,
                            Ht::colour::Green,     Ht::colour::Red, Ht::colour::Red};
    for (int chosen = 0; chosen < 6; ++chosen) {
        for (int other = 0; other < 6; ++other) {
            const int partner = ColourWorkspace::partnerChannel(chosen, other);
            EXPECT_NE(partner, chosen) << chosen << " " << other;
            EXPECT_EQ(family(partner), family(chosen)) << chosen << " " << other;
            if (other != chosen && family(other) == family(chosen)) {
                EXPECT_EQ(partner, other) << "a fitting partner stays: " << chosen << " " << other;
            } else {
                EXPECT_EQ(partner, defaults[chosen]) << chosen << " " << other;
            }
        }
    }
}

TEST_F(PanelTest, AxisChoosersSetBothAxesOrChangeNothing)
{
    showPanel();
    auto* horizontal = child<QToolButton>(m_panel.get(), "horizontalAxisChooser_");
    auto* vertical = child<QToolButton>(m_panel.get(), "verticalAxisChooser_");

    // A channel of the other family moves the other axis to its default partner.
    {
        PopupMenuCloser closer(QStringLiteral("Red"));
        testsupport::mouseClick(horizontal, horizontal->rect().center());
        ASSERT_TRUE(waitUntil([&] { return closer.opened(); }));
        EXPECT_EQ(closer.itemTexts(), QStringList({"Hue", "Lightness", "Saturation", "Red", "Green", "Blue"}));
    }
    ASSERT_TRUE(waitUntil([&] { return display()->horizontalChannel() == Ht::colour::Red; }));
    EXPECT_EQ(display()->verticalChannel(), Ht::colour::Green);
    EXPECT_EQ(m_panel->horizontalAxis()->channel(), Ht::colour::Red);
    EXPECT_EQ(m_panel->verticalAxis()->channel(), Ht::colour::Green);
    EXPECT_FALSE(horizontal->isDown());

    // A fitting partner stays.
    {
        PopupMenuCloser closer(QStringLiteral("Blue"));
        testsupport::mouseClick(vertical, vertical->rect().center());
        ASSERT_TRUE(waitUntil([&] { return closer.opened(); }));
    }
    ASSERT_TRUE(waitUntil([&] { return display()->verticalChannel() == Ht::colour::Blue; }));
    EXPECT_EQ(display()->horizontalChannel(), Ht::colour::Red);

    // The current channel, or a dismissed menu, keeps the selection and releases the chooser.
    display()->colourPicked(QColor(200, 10, 10), Qt::NoModifier);
    ASSERT_FALSE(display()->isSelectionEmpty());
    for (const QString& choice : {QStringLiteral("Blue"), QString()}) {
        PopupMenuCloser closer(choice);
        testsupport::mouseClick(vertical, vertical->rect().center());
        ASSERT_TRUE(waitUntil([&] { return closer.opened(); }));
        ASSERT_TRUE(waitUntil([&] { return !vertical->isDown(); }));
        EXPECT_EQ(display()->horizontalChannel(), Ht::colour::Red);
        EXPECT_EQ(display()->verticalChannel(), Ht::colour::Blue);
        EXPECT_FALSE(display()->isSelectionEmpty()) << qPrintable(choice);
    }
}

TEST_F(PanelTest, TheVerticalRulerNamesFrequencyInHistogramMode)
{
    AxisWidget* vertical = m_panel->verticalAxis();
    AxisWidget* horizontal = m_panel->horizontalAxis();
    EXPECT_EQ(vertical->labelText(), "Frequency (Hue)");
    EXPECT_EQ(horizontal->labelText(), "Lightness");
    child<QToolButton>(m_panel.get(), "colourMapMode_")->click();
    EXPECT_EQ(display()->mode(), ColourDisplay::ColourMapMode);
    EXPECT_EQ(vertical->labelText(), "Hue");
    child<QToolButton>(m_panel.get(), "histogramMode_")->click();
    EXPECT_EQ(vertical->labelText(), "Frequency (Hue)");
    horizontal->setChannel(Ht::colour::NonRGB);
    EXPECT_EQ(horizontal->labelText(), "Non RGB");
    vertical->setChannel(7);
    EXPECT_EQ(vertical->labelText(), "");

    // Outside the panel there is no prefix.
    AxisWidget loose;
    loose.setOrientation(Qt::Vertical);
    loose.setChannel(Ht::colour::Saturation);
    EXPECT_EQ(loose.labelText(), "Saturation");
}

TEST(ColourWorkspaceAxes, TheSizeHintFitsTheLabelsAndStaysUntilReset)
{
    AxisWidget horizontal;
    EXPECT_EQ(horizontal.sizeHint(), QSize(11, 1));
    AxisWidget vertical;
    vertical.setOrientation(Qt::Vertical);
    EXPECT_EQ(vertical.sizeHint(), QSize(1, 11));

    horizontal.setLabels({QStringLiteral("A much longer label than before")});
    EXPECT_EQ(horizontal.sizeHint(), QSize(11, 1)) << "cached";
    horizontal.resetCachedHint();
    const QSize fitted = horizontal.sizeHint();
    EXPECT_GT(fitted.width(), 11);
    EXPECT_EQ(fitted.width(), QFontMetrics(horizontal.font()).boundingRect("A much longer label than before").width() + 10);

    vertical.setLabels({QStringLiteral("A much longer label than before")});
    vertical.resetCachedHint();
    EXPECT_EQ(vertical.sizeHint(), fitted.transposed());
}

// ---- Buckets and strips -------------------------------------------------------------------

TEST_F(PanelTest, BucketsStartEnabledAndFollowEachHighlight)
{
    const char* names[] = {"toKeep_", "toDrop_", "toBlend_", "toUnassigned_"};
    for (const char* name : names)
        EXPECT_TRUE(child<QToolButton>(m_panel.get(), name)->isEnabled()) << name;
    display()->unHighlight();
    for (const char* name : names)
        EXPECT_FALSE(child<QToolButton>(m_panel.get(), name)->isEnabled()) << name;
    display()->colourPicked(QColor(10, 200, 10), Qt::NoModifier);
    for (const char* name : names)
        EXPECT_TRUE(child<QToolButton>(m_panel.get(), name)->isEnabled()) << name;
    child<QToolButton>(m_panel.get(), "colourMapMode_")->click();
    display()->colourPicked(QColor(10, 200, 10), Qt::NoModifier);
    EXPECT_TRUE(child<QToolButton>(m_panel.get(), "toKeep_")->isEnabled());
    display()->colourPicked(QColor(10, 200, 10), Qt::AltModifier);
    EXPECT_FALSE(child<QToolButton>(m_panel.get(), "toKeep_")->isEnabled());
}

TEST_F(PanelTest, EdgeStripsAreTwentyPixelsAndTopAndBottomOnlyInTheMap)
{
    showPanel();
    const CWSMouseEventFilter* filter = m_panel->mouseFilter();
    const QPoint o = display()->mapToGlobal(QPoint(0, 0));
    const int w = display()->width();
    const int h = display()->height();
    ASSERT_GT(w, 40);
    ASSERT_GT(h, 40);
    const int midY = o.y() + h / 2;
    const int midX = o.x() + w / 2;
    const auto strips = [&] {
        return std::vector<int>{filter->hitTest({o.x() - 19, midY}), filter->hitTest({o.x(), midY}),
                                filter->hitTest({o.x() - 20, midY}), filter->hitTest({o.x() + 1, midY}),
                                filter->hitTest({o.x() + w, midY}),  filter->hitTest({o.x() + w + 19, midY}),
                                filter->hitTest({o.x() + w + 20, midY}), filter->hitTest({o.x() - 5, o.y() - 1}),
                                filter->hitTest({midX, o.y() - 19}), filter->hitTest({midX, o.y()}),
                                filter->hitTest({midX, o.y() - 20}), filter->hitTest({midX, o.y() + h}),
                                filter->hitTest({midX, o.y() + h + 19}), filter->hitTest({midX, o.y() + h + 20})};
    };
    EXPECT_EQ(strips(), std::vector<int>({3, 3, 4, 4, 1, 1, 4, 4, 4, 4, 4, 4, 4, 4}));
    child<QToolButton>(m_panel.get(), "colourMapMode_")->click();
    EXPECT_EQ(strips(), std::vector<int>({3, 3, 4, 4, 1, 1, 4, 4, 0, 0, 4, 2, 2, 4}));
}

TEST_F(PanelTest, AStripDragMayLeaveTheDisplayAndCommitsOutside)
{
    showPanel();
    QWidget* content = m_panel->widget();
    const QPoint o = display()->mapTo(content, QPoint(0, 0));
    const int w = display()->width();
    const int h = display()->height();

    // From the left strip, out past the right edge: every bin up to 255.
    const QPoint start(o.x() - 8, o.y() + h / 2);
    testsupport::mousePress(content, start);
    EXPECT_TRUE(m_panel->mouseFilter()->isDragging());
    testsupport::mouseMove(content, QPoint(o.x() + w / 2, o.y() + h / 2));
    testsupport::mouseMove(content, QPoint(o.x() + w + 60, o.y() + h + 40));
    testsupport::mouseRelease(content, QPoint(o.x() + w + 60, o.y() + h + 40));
    EXPECT_FALSE(m_panel->mouseFilter()->isDragging());
    EXPECT_TRUE(display()->selectedBins().all()) << display()->selectedBins().count();

    // In the map, from the bottom strip up past the top: every cell, committed on release.
    child<QToolButton>(m_panel.get(), "colourMapMode_")->click();
    const QPoint bottom(o.x() + w / 3, o.y() + h + 6);
    testsupport::mousePress(content, bottom);
    EXPECT_TRUE(m_panel->mouseFilter()->isDragging());
    testsupport::mouseMove(content, QPoint(o.x() + w / 3, o.y() + h / 2));
    testsupport::mouseMove(content, QPoint(o.x() + w / 3, o.y() - 50));
    testsupport::mouseRelease(content, QPoint(o.x() + w / 3, o.y() - 50));
    const QImage& mask = display()->selectedMask();
    EXPECT_EQ(mask.pixelIndex(0, 255), 1);
    EXPECT_EQ(mask.pixelIndex(255, 0), 1);
    EXPECT_EQ(mask.pixelIndex(128, 255), 1);
}

TEST_F(PanelTest, ANewPatchWhereADeletedOneWasStillRefreshesTheDisplay)
{
    alignas(RectRegion) unsigned char storage[sizeof(RectRegion)];
    const auto refreshed = [this](GmRegion* patch) {
        display()->grab();  // paints, which clears the pending rebuild
        EXPECT_FALSE(display()->isRenderNeeded());
        EXPECT_TRUE(QMetaObject::invokeMethod(m_panel.get(), "regionChanged", Q_ARG(GmRegion*, patch)));
        return display()->isRenderNeeded();
    };
    auto* first = new (storage) RectRegion(QPointF(10, 10));
    EXPECT_TRUE(refreshed(first));
    EXPECT_FALSE(refreshed(first)) << "the same patch, unchanged";
    first->~RectRegion();
    auto* second = new (storage) RectRegion(QPointF(30, 30));
    ASSERT_EQ(static_cast<void*>(second), static_cast<void*>(first));
    EXPECT_EQ(second->changeCount(), 0);
    EXPECT_TRUE(refreshed(second)) << "a new patch at the old address";
    second->~RectRegion();
    EXPECT_TRUE(refreshed(nullptr)) << "no patch after one";
    EXPECT_FALSE(refreshed(nullptr));
}

// ---- End to end on a photograph -----------------------------------------------------------

namespace {

class PanelOnPhotoTest : public testsupport::EngineDocument {
protected:
    void SetUp() override
    {
        EngineDocument::SetUp();
        m_panel = std::make_unique<ColourWorkspace>(nullptr, QString(), nullptr);
        QObject::connect(m_thread.get(), &DravikThread::commandStarted, m_panel.get(), [this](DravikCommand* command) {
            if (qobject_cast<DvCmdSelect*>(command))
                ++m_selects;
        });
    }
    void TearDown() override
    {
        m_panel.reset();
        EngineDocument::TearDown();
    }
    void showPanel()
    {
        m_panel->resize(520, 340);
        m_panel->setUserVisible(true);
        ASSERT_TRUE(testsupport::showForInput(m_panel.get()));
    }
    ColourDisplay* display() const { return m_panel->colourDisplay(); }
    // A histogram drag over part of the display; waits for the highlight to be computed.
    void dragHistogram(double from, double to)
    {
        const int w = display()->width();
        const int y = display()->height() / 2;
        testsupport::mousePress(display(), QPoint(int(w * from), y));
        testsupport::mouseMove(display(), QPoint(int(w * to), y));
        testsupport::mouseRelease(display(), QPoint(int(w * to), y));
        ASSERT_TRUE(waitUntil([this] { return !m_model->statusArray()->isHighlightRunning(); }));
    }
    void click(const char* name) { m_panel->findChild<QToolButton*>(QString::fromLatin1(name))->click(); }
    int countWithBit(quint8 bit) const
    {
        const QByteArray bytes = statusBytes();
        return int(std::count_if(bytes.begin(), bytes.end(), [bit](char b) { return (quint8(b) & bit) != 0; }));
    }

    std::unique_ptr<ColourWorkspace> m_panel;
    int m_selects = 0;
};

} // namespace

TEST_F(PanelOnPhotoTest, AHistogramDragAndTheKeepBucketGiveExactlyTheHighlightedPixelsKeep)
{
    open(2);
    analyse();
    showPanel();
    const int undoBefore = m_model->undoCount();
    dragHistogram(0.35, 0.6);
    ASSERT_FALSE(display()->isSelectionEmpty());
    const QImage highlight = m_model->statusArray()->highlightImage()->copy();
    ASSERT_EQ(highlight.size(), status().size()) << "the highlight has the working size";
    EXPECT_EQ(countWithBit(2), 0);

    click("toKeep_");
    EXPECT_TRUE(display()->isSelectionEmpty()) << "the selection goes once it is assigned";
    ASSERT_TRUE(idle());
    EXPECT_EQ(m_selects, 1);
    EXPECT_EQ(m_model->undoCount(), undoBefore + 1);
    int highlighted = 0;
    int mismatches = 0;
    for (int y = 0; y < highlight.height(); ++y)
        for (int x = 0; x < highlight.width(); ++x) {
            const bool lit = highlight.pixelIndex(x, y) != 0;
            highlighted += lit;
            mismatches += lit != ((statusAt(x, y) & 2) != 0);
        }
    EXPECT_GT(highlighted, 1000);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(countWithBit(8), 0) << "no Blend without Delete and the box";
    EXPECT_TRUE(m_model->brushings().isEmpty()) << "the stroke goes with its command";
}

TEST_F(PanelOnPhotoTest, OnlyACheckedBoxAddsBlendAutomatically)
{
    open(2);
    analyse();
    showPanel();
    dragHistogram(0.0, 0.3);
    click("toDrop_");
    ASSERT_TRUE(idle());
    ASSERT_GT(countWithBit(4), 0);

    dragHistogram(0.6, 0.75);
    click("toKeep_");
    ASSERT_TRUE(idle());
    EXPECT_EQ(countWithBit(8), 0) << "unchecked: Keep beside Delete adds no Blend";

    QMetaObject::invokeMethod(m_panel.get(), "setAutoBlend", Q_ARG(bool, true));
    EXPECT_TRUE(m_panel->findChild<QCheckBox*>("autoBlend")->isChecked());
    dragHistogram(0.75, 1.0);
    click("toKeep_");
    ASSERT_TRUE(idle());
    EXPECT_GT(countWithBit(8), 0) << "checked: the engine completes the mask with Blend";
    EXPECT_EQ(m_selects, 3);
}

TEST_F(PanelOnPhotoTest, ABucketWithoutAnImageOrHighlightDoesNothing)
{
    click("toKeep_");
    EXPECT_TRUE(idle());
    EXPECT_EQ(m_selects, 0);
    EXPECT_TRUE(m_model->brushings().isEmpty());
}

// ---- Visibility and the Color Sampler -----------------------------------------------------

namespace {

class SamplerTest : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        m_none = std::make_unique<NoTool>(nullptr, nullptr, &m_options);
        RecordingTool::Options inStrip;
        inStrip.toolOptions = &m_options;
        m_other = std::make_unique<RecordingTool>(QStringLiteral("Other"), nullptr, inStrip);
        m_sampler = std::make_unique<ColourWorkspaceSelectTool>(m_panel.get(), nullptr, nullptr, &m_options);
    }
    void TearDown() override
    {
        m_sampler.reset();
        m_other.reset();
        m_none.reset();
        PanelTest::TearDown();
    }
    ToolOptions m_options;
    std::unique_ptr<NoTool> m_none;
    std::unique_ptr<RecordingTool> m_other;
    std::unique_ptr<ColourWorkspaceSelectTool> m_sampler;
};

using testsupport::ModelImage;

} // namespace

TEST_F(SamplerTest, ThePanelShowsForAPatchUnlessClosedAndForTheSampler)
{
    ModelImage image(200, 150, 1);
    m_other->setEnabledSlot();
    m_sampler->setEnabledSlot();
    ASSERT_TRUE(m_other->installSlot());
    EXPECT_FALSE(m_panel->isVisible());

    GmModel* model = GmModel::instance();
    auto* patch = new RectRegion(QPointF(10, 10));
    patch->rectangle().dragCornerTo(QPointF(60, 50));
    model->addRegion(patch);
    model->setActiveRegion(patch);
    model->emitActiveRegionReady();
    EXPECT_TRUE(m_panel->isVisible()) << "a patch became active";

    m_panel->close();
    model->setActiveRegion(nullptr);
    model->setActiveRegion(patch);
    model->emitActiveRegionReady();
    EXPECT_FALSE(m_panel->isVisible()) << "the user closed it";

    ASSERT_TRUE(m_sampler->installSlot());
    EXPECT_TRUE(m_panel->isVisible()) << "the sampler wants it";
    EXPECT_EQ(m_sampler->previousTool(), m_other.get());

    // Hiding the panel gives the previous tool back.
    m_panel->viewTabChangedSlot(ImageView::Source);
    EXPECT_FALSE(m_panel->isVisible());
    EXPECT_EQ(GmTool::currentTool(), m_other.get());
}

TEST_F(PanelOnPhotoTest, TheSamplerPicksTheWorkingPixelWithTheLeftButtonOnly)
{
    open(2);
    ToolOptions options;
    ColourWorkspaceSelectTool sampler(m_panel.get(), nullptr, nullptr, &options);
    EXPECT_EQ(m_panel->selectTool(), &sampler);
    QList<QPair<QColor, Qt::KeyboardModifiers>> picks;
    QObject::connect(&sampler, &ColourWorkspaceSelectTool::colourPicked, m_panel.get(),
                     [&picks](const QColor& colour, Qt::KeyboardModifiers modifiers) { picks.append({colour, modifiers}); });
    const QImage& working = m_model->source()->workingImage();
    ASSERT_FALSE(working.isNull());

    const QPointF point(101.7, 50.2);
    QMouseEvent left(QEvent::MouseButtonPress, point, point, Qt::LeftButton, Qt::LeftButton, Qt::ShiftModifier);
    sampler.mousePressed(point, &left);
    ASSERT_EQ(picks.count(), 1);
    EXPECT_EQ(picks[0].first, QColor::fromRgba(working.pixel(50, 25)));
    EXPECT_EQ(picks[0].second, Qt::ShiftModifier);
    EXPECT_NE(picks[0].first, QColor::fromRgba(working.pixel(101, 50))) << "not the image pixel";
    EXPECT_FALSE(display()->isSelectionEmpty()) << "the pick reaches the display";

    QMouseEvent right(QEvent::MouseButtonPress, point, point, Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    sampler.mousePressed(point, &right);
    EXPECT_EQ(picks.count(), 1);
}

TEST_F(SamplerTest, EscapeClearsTheSelectionFirstThenDoesTheCommonAction)
{
    ModelImage image(200, 150, 1);
    m_sampler->setEnabledSlot();
    ASSERT_TRUE(m_sampler->installSlot());
    display()->colourPicked(QColor(30, 60, 90), Qt::NoModifier);
    ASSERT_FALSE(display()->isSelectionEmpty());
    m_sampler->escapeKeyPressed();
    EXPECT_TRUE(display()->isSelectionEmpty());
    EXPECT_EQ(GmTool::currentTool(), m_sampler.get()) << "the first Escape only clears";
    m_sampler->escapeKeyPressed();
    EXPECT_EQ(GmTool::currentTool(), m_none.get()) << "then the common Escape: the fallback tool";
}

TEST_F(SamplerTest, TheResolutionSlidersMoveTogetherAndTheCursorPointsAtItsTip)
{
    QSlider* own = m_sampler->resolutionSlider();
    auto* panelSlider = child<QSlider>(m_panel.get(), "colourBits_");
    EXPECT_EQ(own->minimum(), 4);
    EXPECT_EQ(own->maximum(), 8);
    EXPECT_EQ(own->value(), 5);
    own->setValue(7);
    EXPECT_EQ(panelSlider->value(), 7);
    EXPECT_EQ(display()->colourBits(), 7);
    panelSlider->setValue(4);
    EXPECT_EQ(own->value(), 4);

    const QCursor cursor = m_sampler->cursor();
    EXPECT_EQ(cursor.shape(), Qt::BitmapCursor);
    EXPECT_EQ(cursor.hotSpot(), QPoint(0, 31));
    EXPECT_EQ(m_sampler->displayName(), "Color Sampler");
    EXPECT_FALSE(m_sampler->action()->icon().isNull());
    EXPECT_TRUE(m_sampler->usableViewTabs() == ImageView::ViewTabs(ImageView::Workspace));
}

TEST_F(SamplerTest, AClickInTheDisplayMakesTheSamplerCurrent)
{
    ModelImage image(200, 150, 1);
    m_other->setEnabledSlot();
    m_sampler->setEnabledSlot();
    ASSERT_TRUE(m_other->installSlot());
    showPanel();
    testsupport::mouseClick(display(), QPoint(display()->width() / 2, display()->height() / 2));
    EXPECT_EQ(GmTool::currentTool(), m_sampler.get());
}
