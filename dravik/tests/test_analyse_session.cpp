// "Analyse Image" through the call interface on real photographs: the analysis, its outlines
// and variables, the region selects that read its labels, cancels and sub-sessions.
#include "client_progress.h"
#include "session_fixture.h"
#include "thread_start_failure.h"

#include "platform/clock.h"

#include <algorithm>
#include <cstring>
#include <queue>
#include <set>
#include <string>
#include <vector>

using classification::Labels;
using testsupport::abortFrom;
using testsupport::abortFromPercent;
using corvath::utility::domainOf;
using corvath::utility::Rect;
using testsupport::classificationOf;
using testsupport::describe;
using testsupport::RgbaImage8;

namespace {

std::string variableText(DvSession* s, const char* name)
{
    DvVariable v{};
    EXPECT_EQ(DvGetVariable(s, &v, name), DvOk) << name;
    return v.text ? v.text : "";
}

bool anyVariableChanged(DvSession* s)
{
    for (int i = 0; i < s->variableCount; ++i)
        if (std::strchr(s->variables[i].text, '*'))
            return true;
    return false;
}

bool sameLabels(const Labels& a, const Labels& b)
{
    return domainOf(a) == domainOf(b) && (a.numElements() == 0 || blitz::all(a == b));
}

// The 4-connected pixels of r around (x, y) whose label equals its label.
std::set<std::pair<int, int>> componentOf(const Labels& labels, const Rect& r, int x, int y)
{
    std::set<std::pair<int, int>> seen{{x, y}};
    std::queue<std::pair<int, int>> q;
    q.push({x, y});
    const int l = labels(x, y);
    while (!q.empty()) {
        const auto [a, b] = q.front();
        q.pop();
        const std::pair<int, int> next[4] = {{a + 1, b}, {a - 1, b}, {a, b + 1}, {a, b - 1}};
        for (const auto& p : next)
            if (r.contains(p.first, p.second) && labels(p.first, p.second) == l && seen.insert(p).second)
                q.push(p);
    }
    return seen;
}

class Analyse : public testsupport::SessionTest {
protected:
    void SetUp() override { begin(testsupport::loadRgba8("coffee.png")); }

    void TearDown() override
    {
        testsupport::stopFailingThreadStarts();
        platform::setProcessorCountOverride(0);
        abortFromPercent = 1000;
        SessionTest::TearDown();
    }

    // The pixels (row, column) whose status is s.
    std::set<std::pair<int, int>> withStatus(unsigned char s)
    {
        std::set<std::pair<int, int>> out;
        for (int row = 0; row < m_status->height; ++row)
            for (int column = 0; column < m_status->width; ++column)
                if (at(column, row) == s)
                    out.insert({row, column});
        return out;
    }

    DvResult strokeAt(int row, int column, int size, int mode, float strength)
    {
        const DvSelection stroke{column, row, {size, size, unsigned(size), DvPixelStatus, nullptr}};
        return DvSelect(m_session, m_status, &stroke, 2, 1, mode, strength, nullptr);
    }
};

} // namespace

TEST_F(Analyse, PublishesOutlinesAndCommitsTheVariables)
{
    ASSERT_EQ(DvSetVariable(m_session, "featureTol", 0.3f), DvOk);
    ASSERT_TRUE(anyVariableChanged(m_session));
    ASSERT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);
    EXPECT_EQ(m_session->analysed, 1);
    EXPECT_FALSE(anyVariableChanged(m_session));

    const classification::IiClassification& c = classification();
    EXPECT_GT(c.fineLabelCount, 1);
    EXPECT_EQ(domainOf(c.levelLabels), c.imageRect());
    EXPECT_EQ(domainOf(c.regionLabels), corvath::utility::grow(c.imageRect(), 1));
    EXPECT_TRUE(corvath::utility::covers(domainOf(c.widthMap), c.imageRect())) << "auto-fill's band widths";

    // Outlines: (column, row) points inside the image; the image is wider than high, so some
    // columns lie beyond the last row.
    ASSERT_GT(m_session->outlineCount, 0);
    ASSERT_NE(m_session->outlines, nullptr);
    bool beyondLastRow = false;
    for (int i = 0; i < m_session->outlineCount; ++i) {
        const DvOutline& o = m_session->outlines[i];
        ASSERT_GE(o.count, 2);
        for (int k = 0; k < o.count; ++k) {
            ASSERT_GE(o.points[k].column, 0.f);
            ASSERT_LE(o.points[k].column, float(m_image.width));
            ASSERT_GE(o.points[k].row, 0.f);
            ASSERT_LE(o.points[k].row, float(m_image.height));
            beyondLastRow = beyondLastRow || o.points[k].column > float(m_image.height);
        }
    }
    EXPECT_TRUE(beyondLastRow);
}

TEST_F(Analyse, StrokesFloodTheAnalysisRegions)
{
    ASSERT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);
    const classification::IiClassification& c = classification();
    const Rect image = c.imageRect();

    // Regions at strength 0: the region of the stroke's pixel in the labels select floods,
    // here exactly the pixel's fine region.
    const int x = 200, y = 300;
    ASSERT_EQ(strokeAt(x, y, 1, classification::SelectRegions, 0.0f), DvOk);
    const auto taken = withStatus(2);
    EXPECT_EQ(taken, componentOf(c.regionLabels, image, x, y));
    EXPECT_EQ(taken, componentOf(c.fineLabels, image, x, y));
    EXPECT_GT(taken.size(), 1u);
    ASSERT_EQ(DvUndo(m_session), DvOk);

    // Local at strength 3: the Regions flood at level 2, grown through the classes touched.
    ASSERT_EQ(strokeAt(x, y, 3, classification::SelectRegions, 3.0f), DvOk);
    EXPECT_EQ(c.currentLevel, 2);
    const auto regionsAtLevel = withStatus(2);
    ASSERT_EQ(DvUndo(m_session), DvOk);
    ASSERT_EQ(strokeAt(x, y, 3, classification::SelectLocal, 3.0f), DvOk);
    const auto local = withStatus(2);
    EXPECT_TRUE(std::includes(local.begin(), local.end(), regionsAtLevel.begin(), regionsAtLevel.end()));
    EXPECT_GT(local.size(), regionsAtLevel.size());
    std::set<int> touched;
    for (int i = x; i < x + 3; ++i)
        for (int j = y; j < y + 3; ++j)
            touched.insert(c.levelLabels(i, j));
    for (const auto& p : local)
        ASSERT_TRUE(touched.count(c.levelLabels(p.first, p.second)));
}

TEST_F(Analyse, ASecondCallWithTheSameVariablesDoesNoWork)
{
    testsupport::RacingClock clock;
    ASSERT_EQ(DvAnalyseImage(m_session, DvProgressCallback), DvOk);
    const auto& calls = testsupport::clientProgress().calls;
    EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](int p) { return p > 5 && p < 70; }));
    const classification::IiClassification& c = classification();
    const auto* envelopes = c.analysisImage().data();
    const Labels fine = c.fineLabels.copy();
    const int outlines = m_session->outlineCount;

    testsupport::clientProgress().calls.clear();
    ASSERT_EQ(DvAnalyseImage(m_session, DvProgressCallback), DvOk);
    EXPECT_FALSE(std::any_of(calls.begin(), calls.end(), [](int p) { return p > 0 && p < 90; }));
    EXPECT_EQ(c.analysisImage().data(), envelopes);
    EXPECT_TRUE(sameLabels(c.fineLabels, fine));
    EXPECT_EQ(m_session->analysed, 1);
    EXPECT_EQ(m_session->outlineCount, outlines);
}

TEST_F(Analyse, AVariableNoStageReadsRerunsWithoutChangingTheLabels)
{
    ASSERT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);
    const classification::IiClassification& c = classification();
    const Labels fine = c.fineLabels.copy(), regions = c.regionLabels.copy(), levels = c.levelLabels.copy();
    for (float focus : {0.5f, 0.25f}) {
        ASSERT_EQ(DvSetVariable(m_session, "focus", focus), DvOk);
        ASSERT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);
        EXPECT_TRUE(sameLabels(c.fineLabels, fine));
        EXPECT_TRUE(sameLabels(c.regionLabels, regions));
        EXPECT_TRUE(sameLabels(c.levelLabels, levels));
        EXPECT_FALSE(anyVariableChanged(m_session));
    }
    // A brush strength in between changes nothing either.
    ASSERT_EQ(strokeAt(10, 10, 2, classification::SelectRegions, 4.0f), DvOk);
    ASSERT_EQ(strokeAt(10, 10, 2, classification::SelectRegions, 0.0f), DvOk);
    EXPECT_TRUE(sameLabels(c.regionLabels, regions));

    // "imageTol" reruns the segmentation's last stage: new fine labels, still compact.
    ASSERT_EQ(DvSetVariable(m_session, "imageTol", 0.8f), DvOk);
    ASSERT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);
    EXPECT_FALSE(sameLabels(c.fineLabels, fine));
    const Rect r = c.imageRect();
    EXPECT_EQ(blitz::max(c.fineLabels(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2))),
              c.fineLabelCount - 1);
}

TEST_F(Analyse, FullSensitivityUsesTheLevelLabelsAtStrengthZero)
{
    ASSERT_EQ(DvPrepareAnalysis(m_session, DvEdgeOptions{1.0f, 2, 1, 1}), DvOk);
    ASSERT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);
    const classification::IiClassification& c = classification();
    EXPECT_EQ(c.parameters.imageTol, 1.0f);
    EXPECT_EQ(c.fineLabels.numElements(), 0);
    EXPECT_EQ(c.fineLabelCount, -1);
    EXPECT_EQ(c.regionLabels.numElements(), 0);
    EXPECT_EQ(m_session->outlineCount, 0);
    EXPECT_EQ(m_session->outlines, nullptr);

    ASSERT_EQ(strokeAt(150, 100, 1, classification::SelectRegions, 0.0f), DvOk);
    EXPECT_EQ(withStatus(2), componentOf(c.levelLabels, c.imageRect(), 150, 100));
    EXPECT_EQ(m_library->dead, 0);
}

TEST_F(Analyse, CancelsRestoreTheVariablesAndLeaveNoTrace)
{
    // The reference: the same photograph and settings, analysed without interruption.
    DvSession* reference = DvBeginSession(m_library, describe(m_image));
    ASSERT_EQ(DvSetVariable(reference, "featureTol", 0.4f), DvOk);

    // Settings made since the last analysis are lost with a cancelled one.
    const float sensitivity = m_session->sensitivity;
    const int edgeWidth = m_session->edgeWidth;
    const std::string featureTol = variableText(m_session, "featureTol");
    ASSERT_EQ(DvPrepareAnalysis(m_session, DvEdgeOptions{0.3f, 3, 0, 2}), DvOk);
    ASSERT_EQ(DvSetVariable(m_session, "featureTol", 0.4f), DvOk);
    ASSERT_NE(m_session->edgeWidth, edgeWidth);
    testsupport::RacingClock clock;
    for (int from : {1, 8, 15, 40, 66, 69}) {
        abortFromPercent = from;
        EXPECT_EQ(DvAnalyseImage(m_session, abortFrom), DvCancelled) << from;
        EXPECT_EQ(m_session->analysed, 0);
        EXPECT_EQ(m_session->outlines, nullptr);
        EXPECT_EQ(m_session->outlineCount, 0);
        EXPECT_EQ(variableText(m_session, "featureTol"), featureTol) << "back to the committed value";
        EXPECT_FALSE(anyVariableChanged(m_session));
        EXPECT_NEAR(m_session->sensitivity, sensitivity, 1e-6);
        EXPECT_EQ(m_session->edgeWidth, edgeWidth);
        EXPECT_EQ(strokeAt(5, 5, 2, classification::SelectLocal, 1.0f), DvNoSegmentation);
        ASSERT_EQ(DvPrepareAnalysis(m_session, DvEdgeOptions{0.3f, 3, 0, 2}), DvOk);
        ASSERT_EQ(DvSetVariable(m_session, "featureTol", 0.4f), DvOk);
    }
    EXPECT_EQ(m_library->dead, 0);

    // What the cancels left behind does not leak into the next analysis.
    ASSERT_EQ(DvPrepareAnalysis(reference, DvEdgeOptions{0.3f, 3, 0, 2}), DvOk);
    ASSERT_EQ(DvAnalyseImage(reference, nullptr), DvOk);
    abortFromPercent = 1000;
    ASSERT_EQ(DvAnalyseImage(m_session, abortFrom), DvOk);
    const classification::IiClassification& c = classification();
    const classification::IiClassification& r = classificationOf(reference);
    EXPECT_TRUE(sameLabels(c.fineLabels, r.fineLabels));
    EXPECT_TRUE(sameLabels(c.regionLabels, r.regionLabels));
    EXPECT_TRUE(sameLabels(c.levelLabels, r.levelLabels));
    EXPECT_EQ(m_session->outlineCount, reference->outlineCount);
}

TEST_F(Analyse, AllocationFailuresLeaveTheSessionUsable)
{
    for (long n : {0L, 3L, 40L, 400L, 4000L}) {
        testsupport::failAllocation(n);
        const DvResult result = DvAnalyseImage(m_session, nullptr);
        const bool failed = testsupport::allocationFailed();
        testsupport::stopFailingAllocations();
        if (!failed) {
            EXPECT_EQ(result, DvOk);
            continue;
        }
        EXPECT_EQ(result, DvOutOfMemory) << n;
        EXPECT_EQ(m_session->analysed, 0);
        EXPECT_EQ(m_library->dead, 0);
    }
    ASSERT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);
    EXPECT_GT(m_session->outlineCount, 0);
}

// A worker thread the system cannot start is a lack of memory like a failed allocation: the
// analysis ends with the out-of-memory result (or does that thread's work on the caller's
// thread), the session stays usable and the library alive, and the next analysis succeeds.
TEST_F(Analyse, AThreadThatCannotStartIsOutOfMemoryAndLeavesTheSessionUsable)
{
    platform::setProcessorCountOverride(8);
    int outOfMemory = 0;
    for (long n : {0L, 1L, 7L, 8L, 9L, 20L, 40L}) {
        testsupport::failThreadStart(n);
        const DvResult result = DvAnalyseImage(m_session, nullptr);
        const bool failed = testsupport::threadStartFailed();
        testsupport::stopFailingThreadStarts();
        if (!failed) {
            EXPECT_EQ(result, DvOk) << n;
            continue;
        }
        EXPECT_TRUE(result == DvOutOfMemory || result == DvOk) << n << ": " << result;
        EXPECT_EQ(m_library->dead, 0) << n;
        if (result == DvOutOfMemory) {
            ++outOfMemory;
            EXPECT_EQ(m_session->analysed, 0) << n;
            EXPECT_EQ(m_session->outlineCount, 0) << n;
        }
    }
    EXPECT_GT(outOfMemory, 0);
    ASSERT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);
    EXPECT_EQ(m_session->analysed, 1);
    EXPECT_GT(m_session->outlineCount, 0);
    EXPECT_EQ(strokeAt(40, 40, 4, 1, 0.0f), DvOk);
}

TEST_F(Analyse, LabelsAreTheSameOnOneAndOnEightThreads)
{
    platform::setProcessorCountOverride(1);
    ASSERT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);
    platform::setProcessorCountOverride(8);
    DvSession* other = DvBeginSession(m_library, describe(m_image));
    ASSERT_EQ(DvAnalyseImage(other, nullptr), DvOk);
    const classification::IiClassification& one = classification();
    const classification::IiClassification& eight = classificationOf(other);
    for (int ch = 0; ch < 6; ++ch)
        EXPECT_TRUE(blitz::all(one.analysisImage().extractComponent((unsigned char)0, ch, 6) ==
                               eight.analysisImage().extractComponent((unsigned char)0, ch, 6)));
    EXPECT_TRUE(sameLabels(one.fineLabels, eight.fineLabels));
    EXPECT_TRUE(sameLabels(one.regionLabels, eight.regionLabels));
    EXPECT_TRUE(sameLabels(one.levelLabels, eight.levelLabels));
    EXPECT_EQ(one.regionCount, eight.regionCount);
    // The width map is made beside the inner watershed on eight threads, after it on one.
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_TRUE(blitz::all(one.gradient.extractComponent((unsigned char)0, ch, 3) ==
                               eight.gradient.extractComponent((unsigned char)0, ch, 3)))
            << "gradient byte " << ch;
    ASSERT_EQ(m_session->outlineCount, other->outlineCount);
    for (int i = 0; i < other->outlineCount; ++i)
        ASSERT_EQ(m_session->outlines[i].count, other->outlines[i].count);

    // On eight threads the level labels are made beside the segmentation for that analysis's
    // region map only: a later region map of another level partitions anew.
    classification::IiClassification& later = classificationOf(other);
    later.currentLevel = 4;
    later.buildRegionMap(ProgressRange());
    Labels partition(later.levelLabels.shape());
    partition.reindexSelf(later.levelLabels.base());
    later.colourLevels().partition(4, partition, ProgressRange());
    EXPECT_TRUE(blitz::all(partition == later.levelLabels));
    EXPECT_EQ(later.regionCount, later.colourLevels().marker(4));
}

TEST_F(Analyse, ASubSessionWithItsOwnAnalysisKeepsOutsideThePatchOutOfEveryRegion)
{
    // A disk-shaped patch of 90 x 90 pixels at row 100, column 250.
    const int size = 90, top = 100, left = 250;
    std::vector<unsigned char> bitmap(std::size_t(size) * size);
    const double c0 = (size - 1) / 2.0;
    for (int r = 0; r < size; ++r)
        for (int c = 0; c < size; ++c)
            bitmap[std::size_t(r) * size + c] = (r - c0) * (r - c0) + (c - c0) * (c - c0) <= c0 * c0 ? 255 : 0;
    const DvSelection patch{left, top, {size, size, unsigned(size), DvPixelStatus, bitmap.data()}};
    DvSession* sub = DvBeginSubSession(m_session, &patch, 1);
    ASSERT_NE(sub, nullptr);
    ASSERT_EQ(DvAnalyseImage(sub, nullptr), DvOk);
    EXPECT_EQ(sub->analysed, 1);
    EXPECT_EQ(m_session->analysed, 0);

    const classification::IiClassification& c = classificationOf(sub);
    const Rect r = c.imageRect();
    ASSERT_EQ(r, (Rect{top, left, top + size - 1, left + size - 1}));
    int inside = 0;
    for (int x = r.x1; x <= r.x2; ++x)
        for (int y = r.y1; y <= r.y2; ++y) {
            const bool in = bitmap[std::size_t(x - top) * size + (y - left)] != 0;
            if (!in) {
                ASSERT_EQ(c.fineLabels(x, y), -1);
                ASSERT_EQ(c.regionLabels(x, y), -1);
                ASSERT_EQ(c.levelLabels(x, y), -1);
            } else {
                ASSERT_GE(c.fineLabels(x, y), 0);
                ASSERT_GE(c.levelLabels(x, y), 0);
                ++inside;
            }
        }
    EXPECT_GT(inside, 0);
    // Its outlines replace the patch's and lie inside the patch, in the parent's coordinates.
    ASSERT_GT(sub->outlineCount, 0);
    for (int i = 0; i < sub->outlineCount; ++i)
        for (int k = 0; k < sub->outlines[i].count; ++k) {
            const DvOutlinePoint p = sub->outlines[i].points[k];
            ASSERT_GE(p.column, float(left));
            ASSERT_LE(p.column, float(left + size));
            ASSERT_GE(p.row, float(top));
            ASSERT_LE(p.row, float(top + size));
        }
    EXPECT_EQ(DvEndSession(sub), DvOk);
}

TEST_F(Analyse, SubSessionsWithoutTheirOwnAnalysisTakeOverTheParents)
{
    const DvSelection patch{300, 120, {80, 60, 80, DvPixelStatus, nullptr}};
    DvSession* sub = DvBeginSubSession(m_session, &patch, 0);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(DvAnalyseImage(sub, nullptr), DvNoSegmentation);
    ASSERT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);

    const classification::IiClassification& c = classificationOf(sub);
    const classification::IiClassification& parent = classification();
    EXPECT_EQ(&c.regionLabels(120, 300), &parent.regionLabels(120, 300));
    EXPECT_EQ(domainOf(c.levelLabels), c.imageRect());
    ASSERT_EQ(DvSetStatusInSession(sub, m_status), DvOk);
    const DvSelection stroke{330, 140, {3, 3, 3, DvPixelStatus, nullptr}};
    EXPECT_EQ(DvSelect(sub, m_status, &stroke, 2, 1, classification::SelectLocal, 2.0f, nullptr), DvOk);
    EXPECT_EQ(parent.currentLevel, 1) << "the sub-session's selects choose the parent's level";
    EXPECT_EQ(DvEndSession(sub), DvOk);
}

namespace {

class AnalysePhotograph : public ::testing::TestWithParam<const char*> {};

} // namespace

TEST_P(AnalysePhotograph, GivesCompactFineLabelsAndOutlinesInsideTheImage)
{
    RgbaImage8 photo = testsupport::loadRgba8(GetParam());
    DvLibrary* library = DvInit();
    DvSession* session = DvBeginSession(library, describe(photo));
    ASSERT_NE(session, nullptr);
    ASSERT_EQ(DvAnalyseImage(session, nullptr), DvOk);
    EXPECT_EQ(session->analysed, 1);
    const classification::IiClassification& c = classificationOf(session);
    const Rect r = c.imageRect();
    std::vector<char> seen(std::size_t(std::max(c.fineLabelCount, 0)), 0);
    for (int x = r.x1; x <= r.x2; ++x)
        for (int y = r.y1; y <= r.y2; ++y) {
            const int l = c.fineLabels(x, y);
            ASSERT_GE(l, 0);
            ASSERT_LT(l, c.fineLabelCount);
            seen[std::size_t(l)] = 1;
            ASSERT_GE(c.regionLabels(x, y), 0);
            ASSERT_LT(c.regionLabels(x, y), c.regionCount);
        }
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](char s) { return s != 0; }));
    ASSERT_GT(session->outlineCount, 0);
    for (int i = 0; i < session->outlineCount; ++i)
        for (int k = 0; k < session->outlines[i].count; ++k) {
            const DvOutlinePoint p = session->outlines[i].points[k];
            ASSERT_TRUE(p.column >= 0.f && p.column <= float(photo.width) && p.row >= 0.f &&
                        p.row <= float(photo.height));
        }
    EXPECT_EQ(DvFinish(library), DvOk);
}

INSTANTIATE_TEST_SUITE_P(TestData, AnalysePhotograph,
                         ::testing::Values("chelsea.png", "astronaut.png"));
