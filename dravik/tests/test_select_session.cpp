// Select, set status, undo and redo through the call interface on a real photograph, with
// region labels injected in place of an analysis.
#include "client_progress.h"
#include "session_fixture.h"

#include <set>
#include <vector>

using classification::Labels;
using testsupport::abortFrom;
using testsupport::abortFromPercent;
using testsupport::disk;
using testsupport::Snapshot;
using testsupport::wholeRect;

namespace {

class PhotoSelect : public testsupport::SessionTest {
protected:
    void SetUp() override
    {
        testsupport::RgbaImage8 photo = testsupport::loadRgba8("coffee.png");
        // A transparent corner gives status-0 pixels.
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 60; ++x)
                photo.row(y)[4 * x + 3] = 0;
        begin(photo);
    }
};

} // namespace

TEST_F(PhotoSelect, ExactStrokesUndoAndRedoByteForByte)
{
    // Protection first: no undo step.
    const DvSelection shield = wholeRect(150, 100, 30, 20);
    ASSERT_EQ(DvSelect(m_session, m_status, &shield, 32, 0, 0, 0.f, nullptr), DvOk);
    EXPECT_EQ(undoCount(), 0);
    EXPECT_EQ(at(150, 100), 0x21);
    const Snapshot start = snapshot();

    // A Keep stroke from a disk bitmap over the protected block.
    std::vector<unsigned char> bytes = disk(120);
    const DvSelection keep{100, 60, {120, 120, 120, DvPixelStatus, bytes.data()}};
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvSelect(m_session, m_status, &keep, 2, 0x0F, 0, 0.f, nullptr), DvOk);
    int changed = 0, minX = 1 << 30, maxX = -1, minY = 1 << 30, maxY = -1;
    for (int y = 0; y < m_image.height; ++y)
        for (int x = 0; x < m_image.width; ++x) {
            const std::size_t i = std::size_t(y) * m_status->stride + x;
            const bool painted = x >= 100 && x < 220 && y >= 60 && y < 180 && bytes[(y - 60) * 120 + x - 100];
            const bool eligible = painted && start[i] != 0 && !(start[i] & 0x30);
            ASSERT_EQ(m_status->data[i], eligible ? 2 : start[i]) << x << ", " << y;
            if (eligible) {
                ++changed;
                minX = std::min(minX, x), maxX = std::max(maxX, x);
                minY = std::min(minY, y), maxY = std::max(maxY, y);
            }
        }
    EXPECT_GT(changed, 10000);
    EXPECT_EQ(m_session->dirtyLeft, minX);
    EXPECT_EQ(m_session->dirtyTop, minY);
    EXPECT_EQ(m_session->dirtyWidth, maxX - minX + 1);
    EXPECT_EQ(m_session->dirtyHeight, maxY - minY + 1);
    const Snapshot afterKeep = snapshot();

    // A Delete over the whole block leaves the protected pixels, and the transparent corner.
    const DvSelection erase = wholeRect(0, 0, 200, 150);
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvSelect(m_session, m_status, &erase, 4, 0x0F, 0, 0.f, nullptr), DvOk);
    EXPECT_EQ(at(160, 110), 0x21);
    EXPECT_EQ(at(10, 10), 0);
    EXPECT_EQ(at(150, 90), 4);
    EXPECT_EQ(m_session->dirtyWidth, 200);
    const Snapshot afterDelete = snapshot();

    EXPECT_EQ(undoCount(), 2);
    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_EQ(snapshot(), afterKeep);
    EXPECT_EQ(m_session->dirtyWidth, 200);
    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_EQ(snapshot(), start);
    ASSERT_EQ(DvRedo(m_session), DvOk);
    ASSERT_EQ(DvRedo(m_session), DvOk);
    EXPECT_EQ(snapshot(), afterDelete);

    // The dirty area is handed over once: a stroke that changes nothing reports none.
    const DvSelection outside = wholeRect(-50, -50, 20, 20);
    ASSERT_EQ(DvSelect(m_session, m_status, &outside, 2, 0x0F, 0, 0.f, nullptr), DvOk);
    EXPECT_EQ(m_session->dirtyWidth, 0);
    EXPECT_EQ(m_session->dirtyHeight, 0);
    EXPECT_EQ(undoCount(), 2);
}

TEST_F(PhotoSelect, SetStatusReplacesOnlyWhereOldAndNewAreNonZero)
{
    // Alternating 0 and Delete over a block that overlaps the transparent corner.
    std::vector<unsigned char> update(std::size_t(80) * 50);
    for (std::size_t i = 0; i < update.size(); ++i)
        update[i] = i % 3 ? 4 : 0;
    const DvSelection s{20, 10, {80, 50, 80, DvPixelStatus, update.data()}};
    const Snapshot before = snapshot();
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvSetStatus(m_session, m_status, &s), DvOk);
    for (int y = 0; y < m_image.height; ++y)
        for (int x = 0; x < m_image.width; ++x) {
            const std::size_t i = std::size_t(y) * m_status->stride + x;
            const bool inside = x >= 20 && x < 100 && y >= 10 && y < 60;
            const unsigned char n = inside ? update[(y - 10) * 80 + x - 20] : 0;
            ASSERT_EQ(m_status->data[i], before[i] && n ? n : before[i]) << x << ", " << y;
        }
    EXPECT_EQ(m_session->dirtyLeft, 20);
    EXPECT_EQ(m_session->dirtyWidth, 80);
    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(PhotoSelect, TheSubSessionBracketChangesTheParentOnlyInsideThePatch)
{
    analysed(colourClasses());
    std::vector<unsigned char> patchBytes = disk(90);
    const DvSelection patch{300, 150, {90, 90, 90, DvPixelStatus, patchBytes.data()}};
    // Without its own analysis the sub-session borrows the parent's labels and level.
    DvSession* sub = DvBeginSubSession(m_session, &patch, 0);
    ASSERT_NE(sub, nullptr);
    const Snapshot before = snapshot();

    ASSERT_EQ(DvSetStatusInSession(sub, m_status), DvOk);
    ASSERT_EQ(DvBeginUndoStep(sub), DvOk);
    const DvSelection big = wholeRect(250, 100, 200, 200);
    ASSERT_EQ(DvSelect(sub, m_status, &big, 4, 0x0F, 0, 0.f, nullptr), DvOk);
    const DvSelection spot = wholeRect(345, 195, 1, 1);
    ASSERT_EQ(DvSelect(sub, m_status, &spot, 2, 0x0F, 2, 2.f, nullptr), DvOk);
    EXPECT_EQ(snapshot(), before) << "the parent waits for the bracket's end";
    EXPECT_EQ(classification().currentLevel, 1) << "the level is the parent's";
    ASSERT_EQ(DvSetStatusInParent(sub, m_status), DvOk);

    int keeps = 0;
    for (int y = 0; y < m_image.height; ++y)
        for (int x = 0; x < m_image.width; ++x) {
            const std::size_t i = std::size_t(y) * m_status->stride + x;
            const bool inside = x >= 300 && x < 390 && y >= 150 && y < 240;
            if (!inside)
                ASSERT_EQ(m_status->data[i], before[i]) << x << ", " << y;
            else
                ASSERT_TRUE(m_status->data[i] == 4 || m_status->data[i] == 2) << x << ", " << y;
            keeps += m_status->data[i] == 2;
        }
    EXPECT_GT(keeps, 0);
    EXPECT_EQ(m_session->dirtyLeft, 300);
    EXPECT_EQ(m_session->dirtyWidth, 90);
    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(PhotoSelect, RegionModesNestAndGlobalTakesEveryTouchedClass)
{
    analysed(colourClasses());
    const Labels classes = colourClasses();
    const DvSelection shield = wholeRect(400, 250, 60, 60);
    ASSERT_EQ(DvSelect(m_session, m_status, &shield, 32, 0, 0, 0.f, nullptr), DvOk);
    const Snapshot start = snapshot();
    std::vector<unsigned char> bytes = disk(40);
    const DvSelection stroke{380, 230, {40, 40, 40, DvPixelStatus, bytes.data()}};

    std::set<int> touched;
    for (int y = 230; y < 270; ++y)
        for (int x = 380; x < 420; ++x) {
            const unsigned char s = start[std::size_t(y) * m_status->stride + x];
            if (bytes[(y - 230) * 40 + x - 380] && s && !(s & 0x30))
                touched.insert(classes(y, x));
        }

    std::vector<Snapshot> results;
    for (int mode : {3, 1, 2}) {
        ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
        ASSERT_EQ(DvSelect(m_session, m_status, &stroke, 2, 0x0F, mode, 1.f, nullptr), DvOk) << mode;
        results.push_back(snapshot());
        ASSERT_EQ(DvUndo(m_session), DvOk);
        ASSERT_EQ(snapshot(), start);
    }
    EXPECT_EQ(classification().injectedRebuildsForTesting(), 1);
    const Snapshot &regions = results[0], &local = results[1], &global = results[2];
    int nRegions = 0, nLocal = 0, nGlobal = 0;
    for (int y = 0; y < m_image.height; ++y)
        for (int x = 0; x < m_image.width; ++x) {
            const std::size_t i = std::size_t(y) * m_status->stride + x;
            const bool g = start[i] && !(start[i] & 0x30) && touched.count(classes(y, x));
            ASSERT_EQ(global[i], g ? 2 : start[i]) << x << ", " << y;
            ASSERT_TRUE(regions[i] == start[i] || local[i] == 2) << x << ", " << y;
            ASSERT_TRUE(local[i] == start[i] || global[i] == 2) << x << ", " << y;
            nRegions += regions[i] != start[i];
            nLocal += local[i] != start[i];
            nGlobal += global[i] != start[i];
        }
    EXPECT_LT(nRegions, nLocal);
    EXPECT_LT(nLocal, nGlobal);
}

TEST_F(PhotoSelect, CancelledSelectsWithoutUndoKeepTheUsersLastStep)
{
    const DvSelection keep = wholeRect(100, 100, 50, 50);
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvSelect(m_session, m_status, &keep, 2, 0x0F, 0, 0.f, nullptr), DvOk);
    const Snapshot kept = snapshot();
    const DvSelection shield = wholeRect(120, 120, 50, 50);
    testsupport::RacingClock clock;

    // Cancelled before its commit: nothing changes and the Keep step stays.
    abortFromPercent = 0;
    EXPECT_EQ(DvSelect(m_session, m_status, &shield, 32, 0, 0, 0.f, abortFrom), DvCancelled);
    EXPECT_EQ(snapshot(), kept);
    EXPECT_EQ(undoCount(), 1);
    // Cancelled at its last report (94 percent), after the commit: the protection stands.
    abortFromPercent = 94;
    EXPECT_EQ(DvSelect(m_session, m_status, &shield, 32, 0, 0, 0.f, abortFrom), DvOk);
    EXPECT_EQ(at(130, 130), 0x22);
    EXPECT_EQ(undoCount(), 1);
    // A Keep stroke onto its own target commits nothing either.
    EXPECT_EQ(DvSelect(m_session, m_status, &keep, 2, 2, 0, 0.f, abortFrom), DvOk);
    abortFromPercent = 0;
    EXPECT_EQ(DvSelect(m_session, m_status, &keep, 2, 2, 0, 0.f, abortFrom), DvCancelled);
    EXPECT_EQ(undoCount(), 1);

    // An undoable select cancelled after its commit takes its step back.
    const Snapshot shielded = snapshot();
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    abortFromPercent = 94;
    EXPECT_EQ(DvSelect(m_session, m_status, &keep, 4, 0x0F, 0, 0.f, abortFrom), DvCancelled);
    EXPECT_EQ(snapshot(), shielded);
    EXPECT_EQ(undoCount(), 1);
    abortFromPercent = 1000;

    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_EQ(at(110, 110), 1) << "the Keep step was still there to undo";
    EXPECT_EQ(at(130, 130), 0x21);
    EXPECT_EQ(m_library->dead, 0);
}

TEST_F(PhotoSelect, AllocationFailuresLeaveTheStatusesAndTheLastStep)
{
    analysed(colourClasses());
    const DvSelection keep = wholeRect(100, 100, 50, 50);
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvSelect(m_session, m_status, &keep, 2, 0x0F, 0, 0.f, nullptr), DvOk);

    // A Local select (with its level rebuild) and a protection select, failed at every
    // allocation in turn.
    const DvSelection stroke = wholeRect(200, 200, 30, 30);
    for (const unsigned char value : {4, 32}) {
        const Snapshot before = snapshot();
        const DvResult r = failEachAllocation(
            [&] {
                if (value == 4) {
                    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
                }
            },
            [&] { return DvSelect(m_session, m_status, &stroke, value, 0x0F, 1, 2.f, nullptr); });
        ASSERT_EQ(r, DvOk);
        EXPECT_NE(snapshot(), before);
    }
    EXPECT_EQ(undoCount(), 2) << "the protection added no step";
}

TEST_F(PhotoSelect, UndoAndRedoForgetTheLastOperation)
{
    const DvSelection keep = wholeRect(10, 300, 50, 50);
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvSelect(m_session, m_status, &keep, 2, 0x0F, 0, 0.f, nullptr), DvOk);
    classification::IiClassification& c = classification();
    EXPECT_FALSE(c.changed().isEmpty());
    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_TRUE(c.changed().isEmpty());
    ASSERT_EQ(DvRedo(m_session), DvOk);
    EXPECT_TRUE(c.changed().isEmpty());
}

TEST_F(PhotoSelect, TheMasksFollowTheNewValueTargetAndMode)
{
    // A forced-edge Keep pixel beside a plain Keep pixel.
    analysed(colourClasses());
    const DvSelection keep = wholeRect(300, 300, 2, 1);
    const DvSelection edge = wholeRect(300, 300, 1, 1);
    ASSERT_EQ(DvSelect(m_session, m_status, &keep, 2, 0x0F, 0, 0.f, nullptr), DvOk);
    ASSERT_EQ(DvSelect(m_session, m_status, &edge, 16, 0, 0, 0.f, nullptr), DvOk);
    ASSERT_EQ(at(300, 300), 0x12);

    // Unassigning in Exact mode reaches the forced edge (match mask 47) ...
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvSelect(m_session, m_status, &keep, 1, 0x02, 0, 0.f, nullptr), DvOk);
    EXPECT_EQ(at(300, 300), 0x11);
    EXPECT_EQ(at(301, 300), 0x01);
    ASSERT_EQ(DvUndo(m_session), DvOk);
    // ... in the other modes it does not (63).
    ASSERT_EQ(DvSelect(m_session, m_status, &keep, 1, 0x02, 2, 1.f, nullptr), DvOk);
    EXPECT_EQ(at(300, 300), 0x12);
    EXPECT_EQ(at(301, 300), 0x01);
    // Erasing the forced edge touches bit 16 only.
    ASSERT_EQ(DvSelect(m_session, m_status, &edge, 1, 16, 0, 0.f, nullptr), DvOk);
    EXPECT_EQ(at(300, 300), 0x02);
    // Other new values write nothing.
    ASSERT_EQ(DvSelect(m_session, m_status, &keep, 64, 0x0F, 0, 0.f, nullptr), DvOk);
    EXPECT_EQ(at(300, 300), 0x02);
    EXPECT_EQ(at(301, 300), 0x01);
}
