// The pipette through the canvas on a photograph at workspace divisors 1 and 2: the colour it
// picks and the tool it hands control back to.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "document/KsSourceImage.h"
#include "tools/NoTool.h"
#include "tools/PipetteTool.h"

#include "EngineDocument.h"
#include "RecordingTool.h"
#include "ShownView.h"
#include "WidgetInput.h"

#include <QSignalSpy>

#include <memory>

namespace {

class PipetteTest : public testsupport::EngineDocument, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override
    {
        EngineDocument::SetUp();
        m_view = std::make_unique<ImageView>();
        m_noTool = std::make_unique<NoTool>();
        testsupport::RecordingTool::Options options;
        options.available = &m_previousAvailable;
        m_previous = std::make_unique<testsupport::RecordingTool>(QStringLiteral("previous"), nullptr, options);
        m_pipette = std::make_unique<PipetteTool>();
        m_second = std::make_unique<PipetteTool>();
        ASSERT_TRUE(testsupport::showWithViewport(*m_view, QSize(900, 700)));
        open(GetParam());
        canvas()->setZoom(true, 1);
        testsupport::settle();
    }
    void TearDown() override
    {
        m_second.reset();
        m_pipette.reset();
        m_previous.reset();
        m_noTool.reset();
        m_view.reset();
        EngineDocument::TearDown();
    }
    GmZoomWidget* canvas() const { return m_view->canvas(); }
    void clickAt(QPoint imagePixel) { testsupport::mouseClick(canvas(), canvas()->imageRect().topLeft() + imagePixel); }

    bool m_previousAvailable = true;
    std::unique_ptr<ImageView> m_view;
    std::unique_ptr<NoTool> m_noTool;
    std::unique_ptr<testsupport::RecordingTool> m_previous;
    std::unique_ptr<PipetteTool> m_pipette;
    std::unique_ptr<PipetteTool> m_second;
};

} // namespace

TEST_P(PipetteTest, APickGivesTheWorkingPixelAndReturnsToThePreviousTool)
{
    const int d = GetParam();
    ASSERT_TRUE(m_previous->installSlot());
    QSignalSpy selected(m_pipette.get(), &PipetteTool::pipetteToolSelected);
    QSignalSpy picked(m_pipette.get(), &PipetteTool::pipetteToolColourSelected);
    ASSERT_TRUE(m_pipette->installSlot());
    EXPECT_EQ(m_pipette->previousTool(), m_previous.get());
    ASSERT_EQ(selected.count(), 1);
    EXPECT_TRUE(selected.last().first().toBool());

    const QImage& working = m_model->source()->workingImage();
    ASSERT_EQ(working.width(), (451 + d - 1) / d);
    // Odd image coordinates: the working pixel is the same whether or not the canvas adds half
    // a pixel to the point.
    for (const QPoint p : {QPoint(101, 61), QPoint(251, 177)}) {
        picked.clear();
        ASSERT_TRUE(m_pipette->installSlot());
        clickAt(p);
        ASSERT_EQ(picked.count(), 1);
        const QColor expected = QColor::fromRgba(working.pixel(p.x() / d, p.y() / d));
        EXPECT_EQ(picked.first().first().value<QColor>(), expected) << p.x() << "," << p.y();
        EXPECT_EQ(GmTool::currentTool(), m_previous.get());
    }
    EXPECT_FALSE(selected.last().first().toBool()) << "the pipette announced it was left";
}

TEST_P(PipetteTest, APipetteFromAPipetteReturnsToTheToolBeforeTheFirst)
{
    ASSERT_TRUE(m_previous->installSlot());
    ASSERT_TRUE(m_pipette->installSlot());
    ASSERT_TRUE(m_second->installSlot());
    EXPECT_EQ(m_second->previousTool(), m_previous.get());
    clickAt(QPoint(51, 51));
    EXPECT_EQ(GmTool::currentTool(), m_previous.get());
}

TEST_P(PipetteTest, WhenThePreviousToolIsGoneOrUnavailableControlStillLeavesThePipette)
{
    ASSERT_TRUE(m_previous->installSlot());
    ASSERT_TRUE(m_pipette->installSlot());
    m_previousAvailable = false;
    clickAt(QPoint(51, 51));
    EXPECT_EQ(GmTool::currentTool(), m_noTool.get());

    m_previousAvailable = true;
    ASSERT_TRUE(m_previous->installSlot());
    ASSERT_TRUE(m_pipette->installSlot());
    m_previous.reset();
    m_pipette->escapeKeyPressed();
    EXPECT_EQ(GmTool::currentTool(), m_noTool.get());
}

INSTANTIATE_TEST_SUITE_P(Divisors, PipetteTest, ::testing::Values(1, 2));
