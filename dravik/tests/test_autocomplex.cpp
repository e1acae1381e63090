// Auto-complex after real selects on small hand-made status arrays, with the gradient's lower
// heights and the width map injected in place of an analysis.
#include "session/classification.h"
#include "status_letters.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using classification::Bytes;
using classification::IiClassification;
using classification::Labels;
using classification::Rect;

namespace {

// Arrays start away from 0 so that index mistakes show.
constexpr int X0 = testsupport::sceneRow0, Y0 = testsupport::sceneCol0;

using Rows = testsupport::StatusRows;
using testsupport::render;
using Cell3 = blitz::TinyVector<unsigned char, 3>;

constexpr int Exact = classification::SelectExact, Local = classification::SelectLocal,
              Global = classification::SelectGlobal, Regions = classification::SelectRegions;

class AutoComplex : public testsupport::StatusScene {
protected:
    // Statuses as letters; lower heights 200 and widths 0 everywhere, gradient scale 1.
    void scene(const Rows& statuses)
    {
        const int rows = int(statuses.size()), cols = int(statuses[0].size());
        makeScene(statuses);
        m_cells.resize(blitz::Range(X0 - 2, X0 + rows + 1), blitz::Range(Y0 - 2, Y0 + cols + 1));
        m_cells = Cell3(0, 200, 0);
        m_c->gradient.reference(m_cells);
        m_c->gradientScale = 1.f;
        m_c->parameters.imageTol = 2.f;
        Bytes byte2 = m_cells[2];
        m_c->widthMap.reference(corvath::utility::viewOf(byte2, corvath::utility::domainOf(m_status)));
    }

    // Lower height at (i, j) counted from the image's corner; the frame lies at -1 and beyond.
    unsigned char& height(int i, int j) { return m_cells(X0 + i, Y0 + j)[1]; }
    void widths(unsigned char w) { m_cells[2] = w; }

    // A select of the given mode whose region labels are the '#' pixels of `took`, with a
    // stroke painted on exactly those pixels: it takes them where the filter lets it.
    void select(const Rows& took, int mode, unsigned char value = 2, unsigned char target = 0x0F,
                unsigned char match = 0x3F, unsigned char write = 15)
    {
        const Rect image = corvath::utility::domainOf(m_status);
        Bytes mask(m_status.shape());
        mask.reindexSelf(m_status.lbound());
        Labels labels(m_status.shape());
        labels.reindexSelf(m_status.lbound());
        for (int i = 0; i < int(took.size()); ++i)
            for (int j = 0; j < int(took[0].size()); ++j) {
                mask(X0 + i, Y0 + j) = took[i][j] == '#';
                labels(X0 + i, Y0 + j) = took[i][j] == '#';
            }
        m_c->injectLabelsForTesting(Labels(), std::vector<Labels>(7, labels));
        m_c->undoStack().beginStep();
        m_c->select(image, &mask, m_status, mode, value, write, target, match, 1, nullptr);
        m_selected.reference(m_status.copy());
        m_steps = m_c->undoStack().undoCount();
    }

    void complete(float bandFactor) { m_c->autoComplex(m_status, ProgressRange(), bandFactor); }

    // Undoes the step of the select and auto-complex: back to before the select.
    void undo()
    {
        classification::DirtyArea dirty;
        m_c->undoStack().undo(dirty);
    }

    Bytes m_selected;
    blitz::Array<Cell3, 2> m_cells;
    std::uint32_t m_steps = 0;
};

const Rows ringStatuses = {"11111111",
                           "11111111",
                           "11111111",
                           "11111111",
                           "11111111",
                           "11111111"};
const Rows ring = {"........",
                   ".#####..",
                   ".#...#..",
                   ".#...#..",
                   ".#####..",
                   "........"};

} // namespace

TEST_F(AutoComplex, FillsAnEnclosedPocketInTheRegionModesAndNothingOutside)
{
    // No pixel of the opposite class: no Blend, whatever the band factor.
    for (const int mode : {Local, Global, Regions}) {
        scene(ringStatuses);
        select(ring, mode);
        complete(mode == Local ? 0.f : 2.f);
        EXPECT_EQ(render(m_status), (Rows{"11111111",
                                          "1KKKKK11",
                                          "1KKKKK11",
                                          "1KKKKK11",
                                          "1KKKKK11",
                                          "11111111"}))
            << mode;
        // Into the select's own step; one undo takes both back.
        EXPECT_EQ(m_c->undoStack().undoCount(), m_steps);
        undo();
        EXPECT_EQ(render(m_status), ringStatuses) << mode;
    }
    // Delete strokes fill with Delete.
    scene(ringStatuses);
    select(ring, Local, 4);
    complete(0.f);
    EXPECT_EQ(render(m_status)[2], "1DDDDD11");
}

TEST_F(AutoComplex, PocketsWithABarrierTheOppositeClassAPeakOrAnOpeningStay)
{
    const auto pocketAfter = [&](const Rows& statuses, const Rows& took, unsigned char target = 0x0F) {
        scene(statuses);
        select(took, Local, 2, target);
        complete(0.f);
        return render(m_status);
    };
    // A forced edge, a protected pixel or a pixel of the opposite class inside the pocket.
    for (const char inside : {'E', 'P', 'D'}) {
        Rows statuses = ringStatuses;
        statuses[2][3] = inside;
        Rows expected = {"11111111", "1KKKKK11", "1K111K11", "1K111K11", "1KKKKK11", "11111111"};
        expected[2][3] = inside;
        EXPECT_EQ(pocketAfter(statuses, ring), expected) << inside;
    }
    // A Blend pixel that the select's filter excludes.
    Rows statuses = ringStatuses;
    statuses[3][4] = 'B';
    EXPECT_EQ(pocketAfter(statuses, ring, 0x03)[3], "1K11BK11");
    // A height peak that starts a region of its own.
    scene(ringStatuses);
    height(2, 2) = 230;
    select(ring, Local);
    complete(0.f);
    EXPECT_EQ(render(m_status), render(m_selected));
    // A pocket open to the edge of the work rectangle.
    EXPECT_EQ(pocketAfter({"1111", "1111", "1111"}, {"#.#.", "#.#.", "###."})[0], "K1K1");
}

TEST_F(AutoComplex, TheBiasOfImageTolLetsTheStrokeCrossARidgeIntoABasin)
{
    // The pocket's edge is a ridge of lower height 50 around a basin at 80: the stroke crosses
    // the ridge at 50 + bias, which must reach 80 before the basin starts its own region.
    const auto filled = [&](float imageTol, float scale) {
        scene({"11111111", "11111111", "11111111", "11111111", "11111111", "11111111", "11111111"});
        for (int i = 2; i <= 4; ++i)
            for (int j = 2; j <= 4; ++j)
                height(i, j) = i == 3 && j == 3 ? 80 : 50;
        m_c->parameters.imageTol = imageTol;
        m_c->gradientScale = scale;
        select({"........", ".#####..", ".#...#..", ".#...#..", ".#...#..", ".#####..", "........"}, Local);
        complete(0.f);
        return render(m_status)[3] == "1KKKKK11";
    };
    EXPECT_TRUE(filled(2.0f, 50.f));   // trunc(50 ln 2) = 34
    EXPECT_TRUE(filled(1.5f, 50.f));   // at or below 2.0, ln 2 counts
    EXPECT_TRUE(filled(0.5f, 50.f));
    EXPECT_FALSE(filled(2.0f, 40.f));  // 27
    EXPECT_TRUE(filled(3.0f, 40.f));   // trunc(40 ln 3) = 43
}

TEST_F(AutoComplex, BlendGoesAroundTheLowerPixelOfEachContactWithTheOppositeClass)
{
    const Rows statuses = {"1111111DDD",
                           "1111111DDD",
                           "1111111DDD",
                           "1111111DDD"};
    const Rows left = {"#####.....",
                       "#####.....",
                       "#####.....",
                       "#####....."};
    // Column 6 is a valley: the opposite class takes it, the stroke's flood stops at column 5,
    // and the contact's lower pixel is in column 6. Width 0 still draws the centre.
    for (const int mode : {Exact, Local}) {
        scene(statuses);
        for (int i = 0; i < 4; ++i)
            height(i, 6) = 50;
        select(left, mode);
        complete(2.f);
        EXPECT_EQ(render(m_status), (Rows{"KKKKK1BDDD",
                                          "KKKKK1BDDD",
                                          "KKKKK1BDDD",
                                          "KKKKK1BDDD"}))
            << mode;
        EXPECT_EQ(m_c->changed(), (Rect{X0, Y0, X0 + 3, Y0 + 6}));
        EXPECT_EQ(m_c->undoStack().undoCount(), m_steps);
        undo();
        EXPECT_EQ(render(m_status), statuses);
    }

    // Equal heights: a disk at each pixel of the contact.
    const Rows direct = {"#######...", "#######...", "#######...", "#######..."};
    scene(statuses);
    select(direct, Local);
    complete(2.f);
    EXPECT_EQ(render(m_status)[1], "KKKKKKBBDD");
    scene(statuses);
    for (int i = 0; i < 4; ++i)
        height(i, 7) = 201;
    select(direct, Local);
    complete(2.f);
    EXPECT_EQ(render(m_status)[1], "KKKKKKBDDD");
}

TEST_F(AutoComplex, DisksFollowTheWidthMapAreClippedAndSpareWhatTheFilterShields)
{
    const Rows statuses = {"1111111DDD",
                           "1111111DDD",
                           "11111P1DDD",
                           "1111111DDD"};
    const Rows left = {"#####.....", "#####.....", "#####.....", "#####....."};
    scene(statuses);
    for (int i = 0; i < 4; ++i)
        height(i, 6) = 50;
    widths(2);  // R = 2 * 0.5 * 1 + 0.49: the 3 x 3 box
    select(left, Local);
    complete(1.f);
    EXPECT_EQ(render(m_status), (Rows{"KKKKKBBBDD",
                                      "KKKKKBBBDD",
                                      "KKKKKPBBDD",
                                      "KKKKKBBBDD"}));
    EXPECT_EQ(m_c->changed(), (Rect{X0, Y0, X0 + 3, Y0 + 7}));
    undo();
    EXPECT_EQ(render(m_status), statuses);
}

TEST_F(AutoComplex, ExactStrokesGetTheBandButNoHoleFill)
{
    // The Delete row is lower, so the disks go around its pixels.
    Rows statuses = ringStatuses;
    statuses[0] = "DDDDDDDD";
    scene(statuses);
    for (int j = 0; j < 8; ++j)
        height(0, j) = 100;
    select(ring, Exact);
    complete(2.f);
    EXPECT_EQ(render(m_status), (Rows{"BBBBBBBB",
                                      "1KKKKK11",
                                      "1K111K11",
                                      "1K111K11",
                                      "1KKKKK11",
                                      "11111111"}));
    undo();
    EXPECT_EQ(render(m_status), statuses);
}

TEST_F(AutoComplex, FollowsOnlyKeepAndDeleteSelectsThatTookPixels)
{
    const auto unchanged = [&](unsigned char value, int mode, float bandFactor, const Rows& took) {
        scene({"1111D", "1111D", "1111D"});
        const bool special = value == 16 || value == 32;
        select(took, mode, value, special ? 0 : 0x0F, special ? value : 0x3F, special ? value : 15);
        const Bytes before = m_status.copy();
        const auto dirty = m_c->dirty();
        complete(bandFactor);
        return blitz::all(m_status == before) && m_c->undoStack().undoCount() == m_steps &&
               m_c->dirty() == dirty;
    };
    const Rows some = {"##...", "##...", "....."};
    for (const unsigned char value : {1, 8, 16, 32})
        EXPECT_TRUE(unchanged(value, Local, 2.f, some)) << int(value);
    EXPECT_TRUE(unchanged(2, Exact, 0.f, some));
    EXPECT_TRUE(unchanged(2, Local, 2.f, {".....", ".....", "....."}));
}

TEST_F(AutoComplex, UndoRestoresBitsOutsideTheWriteMaskUnderTheBand)
{
    // A match mask without the forced-edge bit lets the band over a forced-edge pixel; undo
    // gives its forced edge back.
    const Rows statuses = {"11111EDD", "11111DDD", "11111DDD"};
    scene(statuses);
    widths(2);
    select({"#####...", "#####...", "#####..."}, Local, 2, 0x0F, 0x2F);
    complete(1.f);
    EXPECT_EQ(m_status(X0, Y0 + 5), 0x18);
    undo();
    EXPECT_EQ(render(m_status), statuses);
}

TEST_F(AutoComplex, HoleFillOverRowBandsMatchesOneThreadWhereShapesWindAcrossTheBands)
{
    // Two serpentine corridors through stroke walls, their legs running down through every band
    // of rows: the left one opens onto the image's edge, so all of it leaves the stroke, though
    // the clearing must cross the bands' borders again and again; the right one is closed, a
    // pocket that takes the stroke's class.
    const int rows = 1100, cols = 80;
    Rows statuses(std::size_t(rows), std::string(std::size_t(cols), '1'));
    Rows took(std::size_t(rows), std::string(std::size_t(cols), '#'));
    const auto corridor = [&](int left, int right) {
        for (int j = left; j <= right; j += 4) {
            for (int i = 1; i < rows - 1; ++i)
                took[std::size_t(i)][std::size_t(j)] = '.';
            if (j + 4 <= right)
                for (int k = j; k <= j + 4; ++k)
                    took[std::size_t((j - left) / 4 % 2 == 0 ? rows - 2 : 1)][std::size_t(k)] = '.';
        }
    };
    corridor(1, 37);
    took[1][0] = '.';  // the opening
    corridor(42, 78);
    const auto run = [&](unsigned threads) {
        platform::setProcessorCountOverride(threads);
        scene(statuses);
        select(took, Global);
        complete(0.f);
        platform::setProcessorCountOverride(0);
        return render(m_status);
    };
    const Rows one = run(1), eight = run(8);
    EXPECT_EQ(eight, one);
    EXPECT_EQ(one[600][5], '1');  // the open corridor stays
    EXPECT_EQ(one[600][46], 'K'); // the pocket is filled
}
