// Auto-fill and the Clean tool's despeckle through the call interface on a real photograph,
// with a width map injected in place of an analysis.
#include "session_fixture.h"

#include <string>
#include <vector>

using classification::Bytes;
using testsupport::Snapshot;
using testsupport::wholeRect;

namespace {

class PhotoMarks : public testsupport::SessionTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(begin(testsupport::loadRgba8("coffee.png")));  // 600 x 400
        // Widths 2 over the upper half of the image, 8 over the lower half; analysed.
        m_widths.resize(m_image.height, m_image.width);
        m_widths = 2;
        m_widths(blitz::Range(200, m_image.height - 1), blitz::Range::all()) = 8;
        classification().widthMap.reference(m_widths);
        m_session->analysed = 1;
    }

    void mark(int left, int top, int width, int height, unsigned char value)
    {
        const DvSelection s = wholeRect(left, top, width, height);
        const unsigned char target = value == 2 || value == 4 ? 0x0F : 0;
        ASSERT_EQ(DvSelect(m_session, m_status, &s, value, target, 0, 0.f, nullptr), DvOk);
    }
    // 'B' where a status row holds Blend, '-' elsewhere, over columns from..to.
    std::string blendRow(int y, int from, int to)
    {
        std::string s;
        for (int x = from; x <= to; ++x)
            s += at(x, y) == 8 ? 'B' : '-';
        return s;
    }

    Bytes m_widths;
};

} // namespace

TEST_F(PhotoMarks, AutoFillDeletesAroundKeepMarksWithABandAsWideAsTheWidthMap)
{
    mark(200, 100, 200, 200, 2);  // Keep over columns 200..399, rows 100..299
    mark(400, 130, 10, 10, 32);   // protection against its right edge
    mark(195, 250, 1, 20, 16);    // a forced edge five pixels left of its left edge
    const Snapshot before = snapshot();
    const int steps = undoCount();

    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvAutoFill(m_session, m_status, nullptr, 2, 1.0f), DvOk);
    EXPECT_EQ(undoCount(), steps + 1);
    EXPECT_EQ(m_session->dirtyWidth, m_image.width);
    EXPECT_EQ(m_session->dirtyHeight, m_image.height);

    for (int y = 0; y < m_image.height; ++y)
        for (int x = 0; x < m_image.width; ++x) {
            const unsigned char was = before[std::size_t(y) * m_status->stride + x], now = at(x, y);
            if (was & 0x30) {
                ASSERT_EQ(now, was) << x << ", " << y;
            } else if (was == 1) {
                ASSERT_TRUE(now == 4 || now == 8) << x << ", " << y;
            } else {
                ASSERT_TRUE(now == was || now == 8) << x << ", " << y;
            }
        }
    // Width 2 reaches one pixel beyond each border pixel, width 8 four pixels.
    EXPECT_EQ(blendRow(150, 190, 209), "--------BBBB--------");
    EXPECT_EQ(blendRow(150, 390, 409), "--------BBBB--------");
    EXPECT_EQ(blendRow(280, 190, 209), "-----BBBBBBBBBB-----");
    EXPECT_EQ(blendRow(280, 390, 409), "-----BBBBBBBBBB-----");
    EXPECT_EQ(at(250, 150), 2);
    EXPECT_EQ(at(100, 150), 4);
    // No band within reach of the forced edge or the protection.
    for (int y = 250; y < 270; ++y)
        EXPECT_EQ(blendRow(y, 185, 215), std::string(31, '-')) << y;
    for (int y = 130; y < 140; ++y)
        EXPECT_EQ(blendRow(y, 390, 420), std::string(31, '-')) << y;

    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(PhotoMarks, AutoFillsAreaFillClassAndBand)
{
    mark(200, 100, 200, 200, 4);
    const Snapshot before = snapshot();
    for (unsigned char bad : {1, 3, 6, 8, 16})
        EXPECT_EQ(DvAutoFill(m_session, m_status, nullptr, bad, 1.0f), DvRefused) << int(bad);
    EXPECT_EQ(snapshot(), before);

    // Fill class 0 takes the marked class from the first marked pixel: Delete, so Keep fills.
    const DvArea area{150, 80, 100, 50};
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvAutoFill(m_session, m_status, &area, 0, 1.0f), DvOk);
    int blend = 0;
    for (int y = 0; y < m_image.height; ++y)
        for (int x = 0; x < m_image.width; ++x) {
            const bool inside = x >= 150 && x < 250 && y >= 80 && y < 130;
            const unsigned char was = before[std::size_t(y) * m_status->stride + x];
            if (!inside) {
                ASSERT_EQ(at(x, y), was) << x << ", " << y;
            } else if (was == 1) {
                ASSERT_TRUE(at(x, y) == 2 || at(x, y) == 8) << x << ", " << y;
            }
            blend += at(x, y) == 8;
        }
    EXPECT_GT(blend, 0);
    EXPECT_EQ(m_session->dirtyLeft, 150);
    EXPECT_EQ(m_session->dirtyWidth, 100);
    ASSERT_EQ(DvUndo(m_session), DvOk);

    // Without an analysis there is no band.
    m_session->analysed = 0;
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvAutoFill(m_session, m_status, nullptr, 4, 1.0f), DvOk);
    for (int y = 0; y < m_image.height; ++y)
        for (int x = 0; x < m_image.width; ++x)
            ASSERT_EQ(at(x, y), before[std::size_t(y) * m_status->stride + x] == 1 ? 2 : 4);
}

TEST_F(PhotoMarks, ASubSessionBandsWithItsParentsWidthMap)
{
    const DvSelection patch = wholeRect(100, 150, 120, 100);
    DvSession* sub = DvBeginSubSession(m_session, &patch, 0);
    ASSERT_NE(sub, nullptr);
    const Bytes& widths = testsupport::classificationOf(sub).widthMap;
    EXPECT_EQ(corvath::utility::domainOf(widths), (classification::Rect{150, 100, 249, 219}));
    EXPECT_EQ(&widths(150, 100), &m_widths(150, 100)) << "a view, not a copy";

    ASSERT_EQ(DvSetStatusInSession(sub, m_status), DvOk);
    const DvSelection keep = wholeRect(150, 180, 20, 20);
    ASSERT_EQ(DvSelect(sub, m_status, &keep, 2, 0x0F, 0, 0.f, nullptr), DvOk);
    ASSERT_EQ(DvAutoFill(sub, m_status, nullptr, 2, 1.0f), DvOk);
    ASSERT_EQ(DvSetStatusInParent(sub, m_status), DvOk);
    // The patch's rows 180..199 have width 2, rows 200..249 width 8 (from (150, 180) on).
    EXPECT_EQ(blendRow(190, 145, 154), "---BBBB---");
    EXPECT_EQ(at(99, 190), 1) << "outside the patch";
    EXPECT_EQ(at(110, 190), 4);
}

TEST_F(PhotoMarks, TheCleanToolFillsOnePixelHolesAsOneUndoStep)
{
    // A Keep stroke with holes: single pixels, a one-pixel line, and 2 x 2 blocks.
    std::vector<unsigned char> bytes(100 * 100, 1);
    const auto hole = [&](int x, int y) { bytes[std::size_t(y) * 100 + x] = 0; };
    hole(20, 20);
    hole(50, 70);
    for (int x = 30; x < 60; ++x)
        hole(x, 40);
    for (int x : {70, 71})
        for (int y : {20, 21})
            hole(x, y);
    hole(10, 80), hole(11, 80), hole(10, 81), hole(11, 81);
    const DvSelection stroke{250, 150, {100, 100, 100, DvPixelStatus, bytes.data()}};
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvSelect(m_session, m_status, &stroke, 2, 0x0F, 0, 0.f, nullptr), DvOk);
    const Snapshot marked = snapshot();
    const int steps = undoCount();

    // The application's Clean sequence: a Keep select of Keep onto itself, then despeckle.
    const DvSelection region = wholeRect(240, 140, 120, 120);
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvSelect(m_session, m_status, &region, 2, 2, 0, 0.f, nullptr), DvOk);
    EXPECT_EQ(snapshot(), marked);
    ASSERT_EQ(DvDespeckleSelection(m_session, m_status, 1), DvOk);
    EXPECT_EQ(undoCount(), steps + 1);
    EXPECT_EQ(m_session->dirtyLeft, 250);
    EXPECT_EQ(m_session->dirtyWidth, 100);
    for (int y = 150; y < 250; ++y)
        for (int x = 250; x < 350; ++x) {
            const int bx = x - 250, by = y - 150;
            const bool square = (bx >= 70 && bx <= 71 && by >= 20 && by <= 21) ||
                                (bx >= 10 && bx <= 11 && by >= 80 && by <= 81);
            ASSERT_EQ(at(x, y), square ? 1 : 2) << x << ", " << y;
        }
    const Snapshot cleaned = snapshot();

    // Undo takes the whole clean back; a despeckle right after changes nothing.
    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_EQ(snapshot(), marked);
    ASSERT_EQ(DvDespeckleSelection(m_session, m_status, 1), DvOk);
    EXPECT_EQ(snapshot(), marked);
    EXPECT_EQ(undoCount(), steps);
    EXPECT_EQ(redoCount(), 1);
    ASSERT_EQ(DvRedo(m_session), DvOk);
    EXPECT_EQ(snapshot(), cleaned);

    // At level 2 the squares close too.
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvSelect(m_session, m_status, &region, 2, 2, 0, 0.f, nullptr), DvOk);
    ASSERT_EQ(DvDespeckleSelection(m_session, m_status, 2), DvOk);
    EXPECT_EQ(at(320, 170), 2);
    EXPECT_EQ(at(261, 231), 2);
}

TEST_F(PhotoMarks, AllocationFailuresLeaveTheStatusesAndTheSteps)
{
    std::vector<unsigned char> bytes(60 * 60, 1);
    bytes[30 * 60 + 30] = 0;
    const DvSelection stroke{300, 200, {60, 60, 60, DvPixelStatus, bytes.data()}};
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvSelect(m_session, m_status, &stroke, 2, 0x0F, 0, 0.f, nullptr), DvOk);
    const Snapshot before = snapshot();
    for (const bool clean : {true, false}) {
        const DvResult r = failEachAllocation(
            [&] {
                ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
                if (clean) {
                    ASSERT_EQ(DvSelect(m_session, m_status, &stroke, 2, 2, 0, 0.f, nullptr), DvOk);
                }
            },
            [&] {
                return clean ? DvDespeckleSelection(m_session, m_status, 1)
                             : DvAutoFill(m_session, m_status, nullptr, 2, 1.0f);
            });
        ASSERT_EQ(r, DvOk);
        EXPECT_NE(snapshot(), before);
        ASSERT_EQ(DvUndo(m_session), DvOk);
        EXPECT_EQ(snapshot(), before);
    }
}
