// Auto-complex through the call interface, after Keep Local strokes: on a two-colour image
// with a hand-made gradient ridge, and on a real photograph with the gradient and width map of
// its own segmentation. Colour classes stand in for the analysis's level labels.
#include "client_progress.h"
#include "session_fixture.h"
#include "sixchannel.h"

#include "analysis/segmentation.h"
#include "platform/clock.h"

#include <algorithm>
#include <vector>

using classification::Bytes;
using classification::Labels;
using testsupport::RgbaImage8;
using testsupport::Snapshot;
using testsupport::wholeRect;

namespace {

using Cell3 = blitz::TinyVector<unsigned char, 3>;

// Answers "abort" at its n-th call (from 1).
int g_calls = 0, g_abortAt = 0;
int abortAtCall(unsigned char, void*) { return ++g_calls == g_abortAt ? DvProgressAbort : 0; }

class AutoComplexSession : public testsupport::SessionTest {
protected:
    DvResult stroke(const DvSelection& s, unsigned char value, int mode)
    {
        return DvSelect(m_session, m_status, &s, value, 0x0F, mode, 1.f, nullptr);
    }
};

// 120 rows by 160 columns: colour A left of column 80 with a 10 x 10 blob of colour C, colour
// B from column 80 on. Lower heights 200, 180 over the blob, and a ridge of 20 on the columns
// 79 and 80 where the colours meet; widths 3.
class TwoColours : public AutoComplexSession {
protected:
    static constexpr int rows = 120, cols = 160;
    static bool blob(int x, int y) { return x >= 50 && x < 60 && y >= 30 && y < 40; }

    void SetUp() override
    {
        RgbaImage8 image;
        image.width = cols;
        image.height = rows;
        image.samples.assign(std::size_t(rows) * cols * 4, 255);
        Labels classes(rows, cols);
        m_gradient.resize(blitz::Range(-2, rows + 1), blitz::Range(-2, cols + 1));
        m_gradient = Cell3(0, 200, 3);
        for (int x = 0; x < rows; ++x)
            for (int y = 0; y < cols; ++y) {
                const int c = y >= 80 ? 1 : blob(x, y) ? 2 : 0;
                std::uint8_t* p = image.row(x) + 4 * y;
                p[0] = c == 1 ? 40 : 200;
                p[1] = c == 2 ? 150 : 70;
                p[2] = c == 1 ? 200 : 40;
                classes(x, y) = c;
                m_gradient(x, y)[1] = y == 79 || y == 80 ? 20 : c == 2 ? 180 : 200;
            }
        ASSERT_NO_FATAL_FAILURE(begin(image));
        analysed(classes);
        classification().gradient.reference(m_gradient);
        Bytes widths = m_gradient[2];
        classification().widthMap.reference(widths);

        // Delete marks over the right of the B side.
        ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
        ASSERT_EQ(stroke(wholeRect(100, 0, 60, rows), 4, 0), DvOk);
        m_before = snapshot();
        m_steps = undoCount();
    }

    // The application's Keep stroke with auto-complex: one undo step.
    DvResult keepWithAutoComplex(DvProgressFunction callback)
    {
        EXPECT_EQ(DvBeginUndoStep(m_session), DvOk);
        EXPECT_EQ(stroke(wholeRect(10, 10, 10, 10), 2, 1), DvOk);
        return DvAutoComplex(m_session, m_status, 2.0f, callback);
    }

    blitz::Array<Cell3, 2> m_gradient;
    Snapshot m_before;
    int m_steps = 0;
};

} // namespace

TEST_F(TwoColours, AKeepStrokeFillsThePocketAndBlendsAlongTheRidgeAsOneUndoStep)
{
    ASSERT_EQ(keepWithAutoComplex(nullptr), DvOk);
    EXPECT_EQ(undoCount(), m_steps + 1);
    // R = 3 * 0.5 * 2 + 0.49: three pixels either side of both ridge columns.
    for (int x = 0; x < rows; ++x)
        for (int y = 0; y < cols; ++y) {
            const unsigned char expected = y < 76 ? 2 : y <= 83 ? 8 : y < 100 ? 1 : 4;
            ASSERT_EQ(at(y, x), expected) << x << ", " << y;
        }
    EXPECT_EQ(m_session->dirtyLeft, 0);
    EXPECT_EQ(m_session->dirtyWidth, 84);

    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_EQ(snapshot(), m_before);
    EXPECT_EQ(undoCount(), m_steps);
}

TEST_F(TwoColours, ACancelAtAnyReportRestoresTheStatusFromBeforeTheSelect)
{
    testsupport::RacingClock racing;  // every report reaches the callback
    int cancels = 0;
    for (g_abortAt = 1;; ++g_abortAt) {
        g_calls = 0;
        const DvResult r = keepWithAutoComplex(abortAtCall);
        if (r == DvOk)
            break;
        ASSERT_EQ(r, DvCancelled) << g_abortAt;
        ASSERT_EQ(snapshot(), m_before) << g_abortAt;
        ASSERT_EQ(undoCount(), m_steps) << g_abortAt;
        ++cancels;
    }
    EXPECT_GE(cancels, 6) << "0, 0.1, 0.85, 0.9, 0.95 and 1.0";
    EXPECT_EQ(at(35, 55), 2);
    EXPECT_EQ(m_library->dead, 0);
}

TEST_F(TwoColours, AnAllocationFailureTakesBackTheSelectAndLeavesTheSessionUsable)
{
    const DvResult r = failEachAllocation(
        [&] {
            ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
            ASSERT_EQ(stroke(wholeRect(10, 10, 10, 10), 2, 1), DvOk);
        },
        [&] { return DvAutoComplex(m_session, m_status, 2.0f, nullptr); });
    ASSERT_EQ(r, DvOk);
    EXPECT_EQ(at(35, 55), 2);
}

namespace {

// coffee.png with its own segmentation's gradient and width map, and colour classes of two
// bits per channel.
class Photograph : public AutoComplexSession {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(begin(testsupport::loadRgba8("coffee.png")));  // 600 x 400
        classification::SegmentationState& h = m_segmentation.head();
        h.colourBits = 4;
        h.interpolation = 0;
        h.resolution = 3;
        h.overlap = 1;
        h.histogramLevel = 4;
        h.featureTol = 1.1f;
        h.imageTol = 2.02792f;
        h.focus = 0.f;
        h.spareC = 0.f;
        h.inFocusEdgeWidth = 2;
        Segmentation::Image six;
        six.reference(testsupport::sixChannelImage(m_image));
        m_segmentation.attachImage(six);
        ASSERT_TRUE(m_segmentation.analyse(ProgressRange()));

        analysed(colourClasses());
        classification::IiClassification& c = classification();
        c.gradient.reference(m_segmentation.gradient());
        c.gradientScale = m_segmentation.gradientScale();
        c.widthMap.reference(m_segmentation.widthMap());
        c.parameters.imageTol = h.imageTol;
    }

    using Segmentation = classification::Segmentation<6, 0>;
    Segmentation m_segmentation;
};

} // namespace

TEST_F(Photograph, PocketsEnclosedByTheStrokeFillAndBlendFollowsItsEdgeWithDelete)
{
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(stroke(wholeRect(380, 0, 220, 400), 4, 0), DvOk);
    const Snapshot before = snapshot();
    const DvSelection keep = wholeRect(300, 180, 20, 20);

    // Without a band: every pixel that auto-complex changes was Unassigned and turns Keep, in
    // pockets whose 4-neighbours the select took.
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(stroke(keep, 2, 1), DvOk);
    const Snapshot selected = snapshot();
    ASSERT_EQ(DvAutoComplex(m_session, m_status, 0.f, nullptr), DvOk);
    const std::size_t stride = m_status->stride;
    const auto index = [&](int x, int y) { return std::size_t(y) * stride + std::size_t(x); };
    const auto taken = [&](std::size_t i) { return selected[i] != before[i]; };
    const auto filled = [&](std::size_t i) { return at(int(i % stride), int(i / stride)) != selected[i]; };
    std::vector<std::size_t> pocket;
    for (int y = 0; y < m_image.height; ++y)
        for (int x = 0; x < m_image.width; ++x) {
            const std::size_t i = index(x, y);
            if (!filled(i))
                continue;
            pocket.push_back(i);
            ASSERT_EQ(selected[i], 1);
            ASSERT_EQ(at(x, y), 2);
            ASSERT_TRUE(x > 0 && y > 0 && x + 1 < m_image.width && y + 1 < m_image.height);
            for (const std::size_t n : {i - 1, i + 1, i - stride, i + stride})
                ASSERT_TRUE(taken(n) || filled(n)) << x << ", " << y;
        }
    EXPECT_GT(pocket.size(), 0u);
    ASSERT_EQ(DvUndo(m_session), DvOk);
    ASSERT_EQ(snapshot(), before);

    // With the application's band: the same pockets, and Blend only over pixels of the two
    // classes or Unassigned, some on each side of the line where Keep meets Delete.
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(stroke(keep, 2, 1), DvOk);
    ASSERT_EQ(snapshot(), selected);
    ASSERT_EQ(DvAutoComplex(m_session, m_status, 2.0f, nullptr), DvOk);
    int blendOnKeep = 0, blendOnDelete = 0;
    for (std::size_t i = 0; i < selected.size(); ++i) {
        const unsigned char now = at(int(i % stride), int(i / stride));
        if (now == 8) {
            ASSERT_TRUE(selected[i] == 1 || selected[i] == 2 || selected[i] == 4) << i;
            blendOnKeep += selected[i] == 2;
            blendOnDelete += selected[i] == 4;
        } else if (now != selected[i]) {
            ASSERT_EQ(now, 2);
            ASSERT_TRUE(std::binary_search(pocket.begin(), pocket.end(), i)) << i;
        }
    }
    EXPECT_GT(blendOnKeep, 0);
    EXPECT_GT(blendOnDelete, 0);
    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(AutoComplexSession, FollowsARealAnalysisInASessionAndInASubSessionOfIt)
{
    begin(testsupport::loadRgba8("coffee.png"));
    ASSERT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);
    classification::IiClassification& c = classification();
    EXPECT_EQ(&c.gradient(0, 0), &c.segmentation().gradient()(0, 0)) << "a view, not a copy";
    EXPECT_EQ(c.gradientScale, c.segmentation().gradientScale());

    ASSERT_EQ(stroke(wholeRect(380, 0, 220, 400), 4, 0), DvOk);
    const Snapshot before = snapshot();
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(stroke(wholeRect(300, 180, 20, 20), 2, 1), DvOk);
    const Snapshot selected = snapshot();
    ASSERT_EQ(DvAutoComplex(m_session, m_status, 2.0f, nullptr), DvOk);
    EXPECT_NE(snapshot(), selected);
    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_EQ(snapshot(), before);

    const DvSelection patch = wholeRect(250, 120, 120, 120);
    DvSession* sub = DvBeginSubSession(m_session, &patch, 0);
    ASSERT_NE(sub, nullptr);
    ASSERT_EQ(DvSetStatusInSession(sub, m_status), DvOk);
    const DvSelection keep = wholeRect(300, 180, 20, 20);
    ASSERT_EQ(DvSelect(sub, m_status, &keep, 2, 0x0F, 1, 1.f, nullptr), DvOk);
    EXPECT_EQ(DvAutoComplex(sub, m_status, 2.0f, nullptr), DvOk);
    EXPECT_EQ(DvEndSession(sub), DvOk);
}

namespace {

// FNV-1a over bytes, folded across calls.
struct StatusDigest {
    std::uint64_t value = 14695981039346656037ull;
    void add(const Snapshot& bytes)
    {
        for (const unsigned char b : bytes) {
            value ^= b;
            value *= 1099511628211ull;
        }
    }
};

} // namespace

// The status after auto-complex on real photographs, their own analysis's gradient and width
// map, Keep and Delete strokes in the Local and Global modes, with and without the band:
// pinned byte for byte, so that a faster flood cannot change which region a pixel joins.
class PinnedAutoComplex : public AutoComplexSession {
protected:
    void TearDown() override
    {
        platform::setProcessorCountOverride(0);
        AutoComplexSession::TearDown();
    }

    std::uint64_t digestOf(const char* photo)
    {
        begin(testsupport::loadRgba8(photo));
        EXPECT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);
        const int w = m_image.width, h = m_image.height;
        // Delete marks down the right side, Keep marks down the left.
        EXPECT_EQ(stroke(wholeRect(w - w / 5, 0, w / 5, h), 4, 0), DvOk);
        EXPECT_EQ(stroke(wholeRect(0, 0, w / 6, h), 2, 0), DvOk);
        StatusDigest d;
        int changed = 0;
        for (const int mode : {1, 2})
            for (const unsigned char value : {2, 4})
                for (const float band : {0.f, 2.f}) {
                    EXPECT_EQ(DvBeginUndoStep(m_session), DvOk);
                    const DvSelection s = value == 2 ? wholeRect(w / 2 - 15, h / 2 - 10, 30, 20)
                                                     : wholeRect(w / 2 + 25, h / 3, 20, 30);
                    EXPECT_EQ(stroke(s, value, mode), DvOk);
                    const Snapshot selected = snapshot();
                    EXPECT_EQ(DvAutoComplex(m_session, m_status, band, nullptr), DvOk);
                    changed += snapshot() != selected;
                    d.add(snapshot());
                    EXPECT_EQ(DvUndo(m_session), DvOk);
                }
        // The digest pins the flood's work, not only the selects'.
        EXPECT_GE(changed, 3) << photo;
        // The next digest starts a library of its own.
        EXPECT_EQ(DvFinish(m_library), DvOk);
        m_library = nullptr;
        return d.value;
    }
};

// The scans around the flood run in bands on one thread per processor: one thread and eight
// give the same bytes.
TEST_F(PinnedAutoComplex, OnTheCoffeePhotographOnOneAndOnEightThreads)
{
    platform::setProcessorCountOverride(1);
    EXPECT_EQ(digestOf("coffee.png"), 6598095216019278339ull);
    platform::setProcessorCountOverride(8);
    EXPECT_EQ(digestOf("coffee.png"), 6598095216019278339ull);
}

TEST_F(PinnedAutoComplex, OnTheCatPhotographOnOneAndOnEightThreads)
{
    platform::setProcessorCountOverride(8);
    EXPECT_EQ(digestOf("chelsea.png"), 1541394289069577424ull);
    platform::setProcessorCountOverride(1);
    EXPECT_EQ(digestOf("chelsea.png"), 1541394289069577424ull);
}
