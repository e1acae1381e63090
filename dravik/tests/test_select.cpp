// The classification's status filter, commit and select modes on small hand-made arrays.
#include "session/classification.h"
#include "session/session.h"
#include "status_letters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using classification::Bytes;
using classification::IiClassification;
using classification::Labels;
using classification::Rect;
using classification::statusMatches;

namespace {

constexpr int X0 = testsupport::sceneRow0, Y0 = testsupport::sceneCol0;

using Rows = testsupport::StatusRows;
using testsupport::render;

Bytes statusGrid(const Rows& rows)
{
    Bytes a(blitz::Range(X0, X0 + int(rows.size()) - 1), blitz::Range(Y0, Y0 + int(rows[0].size()) - 1));
    testsupport::writeRows(a, rows);
    return a;
}

// Digits and letters a.. (10..) are labels, '.' is -1.
Labels labelGrid(const Rows& rows)
{
    Labels a(blitz::Range(X0, X0 + int(rows.size()) - 1), blitz::Range(Y0, Y0 + int(rows[0].size()) - 1));
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[i].size(); ++j) {
            const char c = rows[i][j];
            a(X0 + int(i), Y0 + int(j)) = c == '.' ? -1 : c >= 'a' ? 10 + c - 'a' : c - '0';
        }
    return a;
}

// A mask of the painted ('#') pixels over the rectangle starting at (x, y).
Bytes strokeMask(int x, int y, const Rows& rows)
{
    Bytes a(blitz::Range(x, x + int(rows.size()) - 1), blitz::Range(y, y + int(rows[0].size()) - 1));
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[i].size(); ++j)
            a(x + int(i), y + int(j)) = rows[i][j] == '#' ? 1 : 0;
    return a;
}

Rect stroke(int row, int col, int rows = 1, int cols = 1)
{
    return {X0 + row, Y0 + col, X0 + row + rows - 1, Y0 + col + cols - 1};
}

class Recorder : public corvath::utility::IiUI {
public:
    void progress(float fraction, const std::string& text) override
    {
        fractions.push_back(fraction);
        texts.push_back(text);
        if (cancelAt >= 0 && int(fractions.size()) - 1 == cancelAt)
            throw DvExCancel();
    }
    std::vector<float> fractions;
    std::vector<std::string> texts;
    int cancelAt = -1;
};

// A classification over an image of the status grid's size with its status array.
class Select : public testsupport::StatusScene {
protected:
    void scene(const Rows& statuses) { makeScene(statuses); }

    // The level labels for every level: `levels` for level 0 and the same plus 100 for the others.
    void injectLabels(const Rows& fine, const Rows& levels, int currentLevel)
    {
        std::vector<Labels> byLevel;
        for (int k = 0; k < 7; ++k) {
            Labels l = labelGrid(levels);
            if (k > 0)
                l += 100 * k;
            byLevel.push_back(l);
        }
        m_c->injectLabelsForTesting(fine.empty() ? Labels() : labelGrid(fine), byLevel);
        m_c->levelLabels.reference(labelGrid(levels));
        m_c->currentLevel = currentLevel;
        m_c->regionCount = 10;
    }

    void select(const Rect& r, int mode, unsigned char value, unsigned char target, int strength = 0,
                const Bytes* mask = nullptr, ProgressRange* progress = nullptr)
    {
        const dravik::SelectMasks m = dravik::selectMasks(value, target, mode);
        m_c->select(r, mask, m_status, mode, value, m.write, target, m.match, strength, progress);
    }

    unsigned undoSteps() const { return m_c->undoStack().undoCount(); }
    void undo() { m_c->undoStack().undo(m_c->dirty()); }
};

} // namespace

TEST(StatusFilter, ClassesForcedEdgesAndProtection)
{
    // Class bits in the mask restrict changes to the target's classes.
    EXPECT_TRUE(statusMatches(0x02, 0x02, 0x3F));
    EXPECT_FALSE(statusMatches(0x04, 0x02, 0x3F));
    EXPECT_TRUE(statusMatches(0x04, 0x02, 0x30)) << "no class bits in the mask: any class";
    // Protection and forced edges shield unless the target names them.
    EXPECT_FALSE(statusMatches(0x22, 0x02, 0x3F));
    EXPECT_TRUE(statusMatches(0x22, 0x22, 0x3F));
    EXPECT_FALSE(statusMatches(0x12, 0x02, 0x3F));
    EXPECT_TRUE(statusMatches(0x12, 0x02, 0x2F)) << "a mask without 16 does not shield forced edges";
    EXPECT_TRUE(statusMatches(0x00, 0x10, 0x10)) << "status 0 passes a forced-edge filter";
    EXPECT_EQ(classification::setStatusBits(0x12, 0x0F, 0x04), 0x14);
}

TEST_F(Select, ExactTakesThePaintedEligiblePixels)
{
    scene({"11111", "1QQ11", "1DD11", "11111"});
    const Bytes mask = strokeMask(X0 + 1, Y0 + 1, {"##.", "###"});
    select(stroke(1, 1, 2, 3), classification::SelectExact, 2, 0x0F, 0, &mask);
    // Protected pixels are shielded; the unpainted pixel keeps its status.
    EXPECT_EQ(render(m_status), (Rows{"11111", "1QQ11", "1KKK1", "11111"}));
    EXPECT_EQ(m_c->changed(), stroke(2, 1, 1, 3));
    ASSERT_TRUE(m_c->dirty());
    EXPECT_EQ(*m_c->dirty(), stroke(2, 1, 1, 3));
    EXPECT_EQ(undoSteps(), 1u);
    EXPECT_TRUE(m_c->commitState().withUndo);
    EXPECT_TRUE(m_c->commitState().done);

    // A Delete over the protected pixels leaves them, also with no stroke mask.
    select(stroke(0, 0, 2, 3), classification::SelectExact, 4, 0x0F);
    EXPECT_EQ(render(m_status), (Rows{"DDD11", "DQQ11", "1KKK1", "11111"}));
    EXPECT_EQ(undoSteps(), 1u) << "both commits went into the open step";
    undo();
    EXPECT_EQ(render(m_status), (Rows{"11111", "1QQ11", "1DD11", "11111"}));
}

TEST_F(Select, StrokesThatChangeNothingRecordNothing)
{
    scene({"111", "KKK"});
    select({X0 + 5, Y0, X0 + 9, Y0 + 2}, classification::SelectExact, 2, 0x0F);
    select({X0 - 3, Y0 - 3, X0 - 1, Y0 + 5}, classification::SelectExact, 2, 0x0F);
    EXPECT_TRUE(m_c->changed().isEmpty());
    // A Keep stroke whose target is Keep commits nothing, although the working array holds its
    // decision.
    select(stroke(0, 0, 2, 3), classification::SelectExact, 2, 2);
    EXPECT_FALSE(m_c->commitState().withUndo);
    EXPECT_EQ(render(m_status), (Rows{"111", "KKK"}));
    EXPECT_EQ(undoSteps(), 0u);
    EXPECT_FALSE(m_c->dirty());
    // An unknown mode writes nothing.
    select(stroke(0, 0, 2, 3), 7, 4, 0x0F);
    EXPECT_EQ(undoSteps(), 0u);
}

TEST_F(Select, ForcedEdgesAndProtectionAreNotUndoable)
{
    scene({"1111", "KKKK"});
    select(stroke(0, 0, 1, 2), classification::SelectExact, 32, 0);
    select(stroke(1, 2, 1, 2), classification::SelectExact, 16, 0);
    EXPECT_EQ(render(m_status), (Rows{"PP11", "KKFF"}));
    EXPECT_EQ(undoSteps(), 0u);
    EXPECT_FALSE(m_c->commitState().withUndo);
    ASSERT_TRUE(m_c->dirty());
    EXPECT_EQ(*m_c->dirty(), stroke(0, 0, 2, 4));
    // Erasing a forced edge (new value 1 over target 16) and lifting protection keep the class.
    select(stroke(1, 3), classification::SelectExact, 1, 16);
    select(stroke(0, 0), classification::SelectExact, 1, 32);
    EXPECT_EQ(render(m_status), (Rows{"1P11", "KKFK"}));
    EXPECT_EQ(undoSteps(), 0u);
}

TEST_F(Select, UndoRestoresEveryCommittedPixelAlsoOverStatusZero)
{
    // A match mask without class bits lets status-0 pixels through; the record must undo them
    // too.
    scene({"..11", "..KK"});
    m_c->select(stroke(0, 0, 2, 4), nullptr, m_status, classification::SelectExact, 8, 0x0F, 0, 0x30, 0,
                nullptr);
    EXPECT_EQ(render(m_status), (Rows{"BBBB", "BBBB"}));
    undo();
    EXPECT_EQ(render(m_status), (Rows{"..11", "..KK"})) << "the pixels that were 0 are 0 again";
    m_c->undoStack().redo(m_c->dirty());
    EXPECT_EQ(render(m_status), (Rows{"BBBB", "BBBB"}));
}

TEST_F(Select, ACommitAfterAnUndoOpensANewStep)
{
    scene({"1111"});
    m_c->undoStack().beginStep();
    select(stroke(0, 0), classification::SelectExact, 2, 0x0F);
    m_c->undoStack().beginStep();
    select(stroke(0, 1), classification::SelectExact, 2, 0x0F);
    undo();
    EXPECT_EQ(m_c->undoStack().redoCount(), 1u);
    select(stroke(0, 3), classification::SelectExact, 4, 0x0F);
    EXPECT_EQ(m_c->undoStack().redoCount(), 0u);
    EXPECT_EQ(undoSteps(), 2u);
    undo();
    EXPECT_EQ(render(m_status), (Rows{"K111"}));
}

TEST_F(Select, RegionsFloodsTheTouchedFourConnectedParts)
{
    scene({"111111", "111111", "111111", "111111"});
    const Rows levels{"112233", "122213", "111133", "344444"};
    injectLabels({}, levels, 0);
    // One pixel of region 1 (strength 1 = level 0, already chosen).
    select(stroke(0, 0), classification::SelectRegions, 2, 0x0F, 1);
    // The 1 at (1, 4) touches the region only diagonally and stays.
    EXPECT_EQ(render(m_status), (Rows{"KK1111", "K11111", "KKKK11", "111111"}));
    EXPECT_EQ(m_c->changed(), stroke(0, 0, 3, 4));
    EXPECT_EQ(m_c->injectedRebuildsForTesting(), 0);

    // The stroke mask picks the seeds only; a seed over a shielded pixel starts nothing.
    scene({"111111", "111111", "1111Q1", "111111"});
    injectLabels({}, levels, 0);
    const Bytes mask = strokeMask(X0 + 2, Y0 + 4, {"##"});
    select(stroke(2, 4, 1, 2), classification::SelectRegions, 4, 0x0F, 1, &mask);
    EXPECT_EQ(render(m_status), (Rows{"1111DD", "11111D", "1111QD", "111111"}));
}

TEST_F(Select, RegionFloodsStopAtShieldedPixelsAndTheImageBorder)
{
    // A protected column cuts region 1 in two; the flood runs along the border without
    // leaving the image.
    scene({"11Q111", "11Q111", "11Q111"});
    injectLabels({}, {"111111", "111111", "111111"}, 0);
    select(stroke(1, 0), classification::SelectRegions, 2, 0x0F, 1);
    EXPECT_EQ(render(m_status), (Rows{"KKQ111", "KKQ111", "KKQ111"}));
    // Only pixels of the target's classes pass: Keep pixels are a wall for a Delete stroke
    // whose target is Unassigned.
    select(stroke(0, 5), classification::SelectRegions, 4, 0x01, 1);
    EXPECT_EQ(render(m_status), (Rows{"KKQDDD", "KKQDDD", "KKQDDD"}));
}

TEST_F(Select, LocalGrowsThroughTheTouchedClassesOnly)
{
    const Rows statuses{"111111111", "111111111"};
    const Rows levels{"112211311", "992299399"};
    // The stroke touches class 1 at (0, 0) and class 2 at (0, 2).
    for (const auto& [mode, expected] : {
             std::pair<int, Rows>{classification::SelectRegions, {"KKKK11111", "11KK11111"}},
             std::pair<int, Rows>{classification::SelectLocal, {"KKKKKK111", "11KK11111"}},
             std::pair<int, Rows>{classification::SelectGlobal, {"KKKKKK1KK", "11KK11111"}},
         }) {
        scene(statuses);
        injectLabels({}, levels, 0);
        const Bytes mask = strokeMask(X0, Y0, {"#.#"});
        select(stroke(0, 0, 1, 3), mode, 2, 0x0F, 1, &mask);
        EXPECT_EQ(render(m_status), expected) << mode;
    }
}

TEST_F(Select, GlobalReachesEveryPixelOfATouchedClass)
{
    scene({"11111111", "11111111", "1111111Q", "11111111"});
    injectLabels({}, {"3.......", "........", "......33", "3333...."}, 0);
    select(stroke(0, 0), classification::SelectGlobal, 4, 0x0F, 1);
    EXPECT_EQ(render(m_status), (Rows{"D1111111", "11111111", "111111DQ", "DDDD1111"}));
    EXPECT_EQ(m_c->changed(), stroke(0, 0, 4, 7));
    // A stroke over negative labels only selects nothing.
    select(stroke(1, 1, 1, 3), classification::SelectGlobal, 4, 0x0F, 1);
    EXPECT_EQ(render(m_status), (Rows{"D1111111", "11111111", "111111DQ", "DDDD1111"}));
    EXPECT_TRUE(m_c->changed().isEmpty());
}

TEST_F(Select, StrengthZeroUsesTheFineLabelsOnlyWhenTheyExist)
{
    const Rows statuses{"1111", "1111"};
    const Rows fine{"0011", "2211"}, levels{"1111", "1111"};
    for (const bool withFine : {true, false})
        for (const float scale : {2.0f, 1.0f})
            for (const int mode : {classification::SelectRegions, classification::SelectLocal}) {
                scene(statuses);
                injectLabels(withFine ? fine : Rows{}, levels, -1);
                m_c->parameters.imageTol = scale;
                select(stroke(0, 0), mode, 2, 0x0F, 0);
                const bool byFine = withFine && scale > 1.0f;
                const Rows expected = byFine ? Rows{"KK11", "1111"} : Rows{"KKKK", "KKKK"};
                EXPECT_EQ(render(m_status), expected)
                    << withFine << " " << scale << " " << mode;
                EXPECT_EQ(m_c->injectedRebuildsForTesting(), 0);
            }
    // Global never uses the fine labels.
    scene(statuses);
    injectLabels(fine, levels, -1);
    select(stroke(0, 0), classification::SelectGlobal, 2, 0x0F, 0);
    EXPECT_EQ(render(m_status), (Rows{"KKKK", "KKKK"}));
}

TEST_F(Select, LevelLabelsAreRebuiltOnlyWhenTheLevelChanges)
{
    scene({"1111", "1111"});
    // At level k the injected labels are the level-0 labels plus 100 k.
    injectLabels({}, {"0011", "0011"}, -1);
    select(stroke(0, 0), classification::SelectRegions, 2, 0x0F, 3);
    EXPECT_EQ(m_c->currentLevel, 2);
    EXPECT_EQ(m_c->levelLabels(X0, Y0), 200);
    EXPECT_EQ(m_c->injectedRebuildsForTesting(), 1);
    select(stroke(1, 3), classification::SelectGlobal, 4, 0x0F, 3);
    select(stroke(0, 0), classification::SelectExact, 4, 0x0F, 5);
    EXPECT_EQ(m_c->injectedRebuildsForTesting(), 1);
    EXPECT_EQ(render(m_status), (Rows{"DKDD", "KKDD"}));

    // Strength is kept to the levels -1..6.
    select(stroke(0, 0), classification::SelectRegions, 2, 0x0F, 100);
    EXPECT_EQ(m_c->currentLevel, 6);
    select(stroke(0, 0), classification::SelectRegions, 2, 0x0F, -5);
    EXPECT_EQ(m_c->currentLevel, -1);
    EXPECT_EQ(m_c->levelLabels(X0, Y0), 0) << "level -1 partitions like level 0";
    EXPECT_EQ(m_c->injectedRebuildsForTesting(), 3);
}

TEST_F(Select, ACancelledLevelRebuildIsRedoneByTheNextSelect)
{
    scene({"1111"});
    injectLabels({}, {"0011"}, 0);
    Recorder ui;
    ui.cancelAt = 0;
    ProgressRange range(nullptr, 0.f, 1.f);
    range.parent = &ui;
    EXPECT_THROW(select(stroke(0, 0), classification::SelectRegions, 2, 0x0F, 2, nullptr, &range), DvExCancel);
    EXPECT_EQ(m_c->currentLevel, IiClassification::levelUnset);
    EXPECT_EQ(render(m_status), (Rows{"1111"}));
    select(stroke(0, 0), classification::SelectRegions, 2, 0x0F, 2);
    EXPECT_EQ(m_c->currentLevel, 1);
    EXPECT_EQ(m_c->injectedRebuildsForTesting(), 2);
    EXPECT_EQ(render(m_status), (Rows{"KK11"}));
}

TEST_F(Select, ReportsIntoTheRestOfItsRange)
{
    scene({"1111"});
    injectLabels({"0011"}, {"0011"}, 0);
    // Selects in a row on one scene; the range is [0.2, 0.6] of the reporter.
    const auto expectReports = [&](int mode, int strength, std::vector<float> expected) {
        Recorder ui;
        ProgressRange range(&ui, 0.2f, 0.6f);
        select(stroke(0, 0), mode, 2, 0x0F, strength, nullptr, &range);
        EXPECT_EQ(range.position, 1.0f);
        ASSERT_EQ(ui.fractions.size(), expected.size()) << mode << " " << strength;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_FLOAT_EQ(ui.fractions[i], expected[i]) << mode << " " << strength << " " << i;
            EXPECT_EQ(ui.texts[i], "");
        }
    };
    expectReports(classification::SelectExact, 1, {0.4f, 0.6f});
    expectReports(classification::SelectRegions, 1, {0.4f, 0.6f});
    expectReports(classification::SelectLocal, 1, {0.3f, 0.5f, 0.6f});
    // A level rebuild reports into the first half, the mode into the second.
    expectReports(classification::SelectGlobal, 3, {0.4f, 0.45f, 0.55f, 0.6f});
    // Local over the fine labels runs as Regions; an unknown mode reports only the end.
    expectReports(classification::SelectLocal, 0, {0.4f, 0.5f, 0.6f});
    expectReports(9, 0, {0.6f});
}

TEST_F(Select, ASubSessionSharesItsParentsLevel)
{
    scene({"111111", "111111", "111111"});
    injectLabels({}, {"001122", "001122", "334455"}, -1);
    IiClassification& parent = *m_c;
    classification::RgbaView8 patch = corvath::utility::viewOf(m_image, stroke(0, 2, 3, 3));
    IiClassification child(patch);
    child.adoptAnalysis(parent);
    Bytes childStatus(patch.shape());
    childStatus.reindexSelf(patch.lbound());
    childStatus = 1;

    const dravik::SelectMasks m = dravik::selectMasks(2, 0x0F, classification::SelectRegions);
    child.select(stroke(0, 3), nullptr, childStatus, classification::SelectRegions, 2, m.write, 0x0F,
                 m.match, 2, nullptr);
    EXPECT_EQ(parent.currentLevel, 1);
    EXPECT_EQ(child.currentLevel, 1);
    EXPECT_EQ(parent.injectedRebuildsForTesting(), 1);
    EXPECT_EQ(child.levelLabels(X0, Y0 + 3), 101);
    // Region 1 lies half inside the patch: the flood stays within the child's own image.
    EXPECT_EQ(render(childStatus), (Rows{"KK1", "KK1", "111"}));
    child.select(stroke(2, 3), nullptr, childStatus, classification::SelectRegions, 4, m.write, 0x0F,
                 m.match, 2, nullptr);
    EXPECT_EQ(parent.injectedRebuildsForTesting(), 1) << "the shared level is already chosen";
    EXPECT_EQ(render(childStatus), (Rows{"KK1", "KK1", "DD1"}));
    EXPECT_EQ(render(m_status), (Rows{"111111", "111111", "111111"}));
}

TEST_F(Select, FloodsEndWhereNoNewStatusCanBeMarked)
{
    // Erasing forced edges writes bit 16 only: the status-0 pixels of the region would become
    // 0, which the working array cannot hold. They keep their status and carry no flood.
    scene({"FF..F", "F.FFF"});
    injectLabels({}, {"00000", "00000"}, 0);
    select(stroke(0, 0), classification::SelectRegions, 1, 16, 1);
    EXPECT_EQ(render(m_status), (Rows{"KK..F", "K.FFF"}));
    // New value 0 writes every pixel's own status, which for status 0 is nothing; the floods
    // still end.
    select(stroke(0, 0, 2, 5), classification::SelectLocal, 0, 0, 1);
    select(stroke(0, 0, 2, 5), classification::SelectRegions, 0, 0x04, 1);
    EXPECT_EQ(render(m_status), (Rows{"KK..F", "K.FFF"}));
}

TEST_F(Select, RegionModesNeedLabelsOverTheWholeImage)
{
    scene({"1111"});
    m_c->currentLevel = 0;
    EXPECT_THROW(select(stroke(0, 0), classification::SelectRegions, 2, 0x0F, 1), std::logic_error);
    m_c->levelLabels.reference(labelGrid({"001"}));
    EXPECT_THROW(select(stroke(0, 0), classification::SelectGlobal, 2, 0x0F, 1), std::logic_error);
    Bytes small = statusGrid({"111"});
    EXPECT_THROW(m_c->select(stroke(0, 0), nullptr, small, classification::SelectExact, 2, 15, 15, 63, 0, nullptr),
                 std::invalid_argument);
}
