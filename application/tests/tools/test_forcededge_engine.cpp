// A forced edge drawn through the window on a photograph, with the real engine at divisors 1
// and 2: the line's pixels get the forced-edge bit, without any analysis of the image.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "document/ForcedEdge.h"
#include "tools/ForcedEdgeTool.h"
#include "tools/NoTool.h"

#include "EngineDocument.h"
#include "ShownView.h"
#include "WidgetInput.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

constexpr uchar forcedEdgeBit = 16;

class ForcedEdgePhotoTest : public testsupport::EngineDocument, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override
    {
        EngineDocument::SetUp();
        m_view = std::make_unique<ImageView>();
        m_noTool = std::make_unique<NoTool>();
        m_tool = std::make_unique<ForcedEdgeTool>();
        ASSERT_TRUE(testsupport::showWithViewport(*m_view, QSize(1000, 800)));
        open(GetParam());
        ASSERT_TRUE(m_tool->installSlot());
        m_view->canvas()->setZoom(true, 1);
        testsupport::settle();
    }
    void TearDown() override
    {
        m_tool.reset();
        m_noTool.reset();
        m_view.reset();
        EngineDocument::TearDown();
    }

    QPoint at(QPointF imagePoint) const
    {
        return m_view->canvas()->imageRect().topLeft() + imagePoint.toPoint();
    }

    // Whether a forced-edge pixel lies at the working pixel or next to it.
    bool edgeNear(QPointF working) const
    {
        const int cx = int(std::floor(working.x()));
        const int cy = int(std::floor(working.y()));
        for (int y = cy - 1; y <= cy + 1; ++y)
            for (int x = cx - 1; x <= cx + 1; ++x)
                if (status().rect().contains(x, y) && (statusAt(x, y) & forcedEdgeBit))
                    return true;
        return false;
    }

    std::unique_ptr<ImageView> m_view;
    std::unique_ptr<NoTool> m_noTool;
    std::unique_ptr<ForcedEdgeTool> m_tool;
};

double distanceToSegment(QPointF p, QPointF a, QPointF b)
{
    const QPointF ab = b - a;
    const double length2 = QPointF::dotProduct(ab, ab);
    const double t = length2 > 0 ? qBound(0.0, QPointF::dotProduct(p - a, ab) / length2, 1.0) : 0.0;
    const QPointF d = p - (a + t * ab);
    return std::hypot(d.x(), d.y());
}

} // namespace

TEST_P(ForcedEdgePhotoTest, TheDrawnLineGetsTheForcedEdgeBitAlongItAndNowhereElse)
{
    const QPolygonF drawn({{60, 40}, {220, 70}, {330, 230}});
    GmZoomWidget* canvas = m_view->canvas();
    testsupport::mouseClick(canvas, at(drawn[0]));
    testsupport::mouseMove(canvas, at(drawn[1]));
    testsupport::mouseClick(canvas, at(drawn[1]));
    testsupport::mouseMove(canvas, at(drawn[2]));
    testsupport::mouseDoubleClick(canvas, at(drawn[2]));

    ASSERT_EQ(m_model->forcedEdges().size(), 1);
    ForcedEdge* edge = m_model->forcedEdges().first();
    EXPECT_EQ(edge->polygon().vertices(), drawn);
    EXPECT_EQ(m_model->activeForcedEdge(), edge);
    ASSERT_TRUE(idle());
    EXPECT_FALSE(m_model->segmentation()->analysisSession() && m_model->segmentation()->analysisSession()->analysed)
        << "the line needs no analysis";

    const double d = GetParam();
    QPolygonF working;
    for (const QPointF& v : drawn)
        working.append(v / d);
    int missing = 0;
    for (int i = 0; i + 1 < working.size(); ++i) {
        const QPointF a = working[i], b = working[i + 1];
        const int steps = int(std::hypot(b.x() - a.x(), b.y() - a.y()) * 2);
        for (int s = 0; s <= steps; ++s)
            missing += !edgeNear(a + (b - a) * (double(s) / steps));
    }
    EXPECT_EQ(missing, 0) << "points of the line without the bit beside them";

    int marked = 0, stray = 0;
    for (int y = 0; y < status().height(); ++y) {
        for (int x = 0; x < status().width(); ++x) {
            if (!(statusAt(x, y) & forcedEdgeBit))
                continue;
            ++marked;
            const QPointF centre(x + 0.5, y + 0.5);
            double nearest = 1e9;
            for (int i = 0; i + 1 < working.size(); ++i)
                nearest = std::min(nearest, distanceToSegment(centre, working[i], working[i + 1]));
            stray += nearest > 1.5;
        }
    }
    EXPECT_GT(marked, 0);
    EXPECT_EQ(stray, 0) << "forced-edge pixels away from the line";
}

INSTANTIATE_TEST_SUITE_P(Divisors, ForcedEdgePhotoTest, ::testing::Values(1, 2));
