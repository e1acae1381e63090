// Despeckle after a select, on small hand-made status arrays, and against a plain reading of
// its rules on random selections.
#include "session/classification.h"
#include "status_letters.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using classification::Bytes;
using classification::IiClassification;
using classification::Rect;

namespace {

constexpr int X0 = -4, Y0 = 7;

using Rows = testsupport::StatusRows;
using testsupport::render;

struct Recorder : corvath::utility::IiUI {
    void progress(float f, const std::string&) override { fractions.push_back(f); }
    std::vector<float> fractions;
};

class Despeckle : public testsupport::StatusScene {
protected:
    void scene(int rows, int cols) { makeScene(rows, cols, X0, Y0); }
    void scene(const Rows& statuses) { makeScene(statuses, X0, Y0); }

    // The Clean tool's select: a class onto itself over the whole image, which commits nothing.
    void selectOntoItself(unsigned char cls)
    {
        m_c->select(whole(), nullptr, m_status, classification::SelectExact, cls, 0x0F, cls, 0x3F, 0,
                    nullptr);
    }
    void despeckle(int level, Recorder* recorder = nullptr)
    {
        const ProgressRange range = recorder ? ProgressRange(recorder, 0.f, 1.f) : ProgressRange();
        m_c->despeckleSelection(m_status, level, range);
    }

};

TEST_F(Despeckle, LevelOneFillsOnePixelWideHolesAndLeavesTwoByTwoHoles)
{
    scene({"KKKKKKKKK",
           "K1KKK11KK",
           "KKKKK11KK",
           "KK111KKKK",
           "KKKKKKK1K",
           "KKKKKKK1K",
           "KKKKKKKKK"});
    selectOntoItself(2);
    EXPECT_EQ(m_c->undoStack().undoCount(), 0) << "the select itself commits nothing";
    despeckle(1);
    EXPECT_EQ(render(m_status), (Rows{"KKKKKKKKK",
                                      "KKKKK11KK",
                                      "KKKKK11KK",
                                      "KKKKKKKKK",
                                      "KKKKKKKKK",
                                      "KKKKKKKKK",
                                      "KKKKKKKKK"}));
    EXPECT_EQ(m_c->undoStack().undoCount(), 1);
    EXPECT_EQ(m_c->changed(), whole()) << "the changed rectangle stays the select's";

    // A higher level closes the 2 x 2 hole too.
    despeckle(2);
    EXPECT_EQ(render(m_status), Rows(7, "KKKKKKKKK"));
}

TEST_F(Despeckle, HolesOpenToTheOutsideStay)
{
    // A hole on the edge of the changed rectangle, and a notch joined to an uncovered hole.
    const Rows open = {"K1KKKKK",
                       "KKKKKKK",
                       "KK11KKK",
                       "KK111KK",
                       "KKKKKKK"};
    scene(open);
    selectOntoItself(2);
    despeckle(1);
    EXPECT_EQ(render(m_status), open);
    // The edge hole is open whatever the level.
    scene(open);
    selectOntoItself(2);
    despeckle(5);
    EXPECT_EQ(render(m_status)[0], "K1KKKKK");
}

TEST_F(Despeckle, OnlyHolesOfTheNewClassesOrUnassignedThatTheMatchMaskLetsThroughAreFilled)
{
    scene({"KKKKKKK",
           "K1KDKPK",
           "KKKKKKK"});
    selectOntoItself(2);
    despeckle(1);
    EXPECT_EQ(render(m_status), (Rows{"KKKKKKK",
                                      "KKKDKPK",
                                      "KKKKKKK"}));
}

TEST_F(Despeckle, UndoGivesBackAFilledHolesBitsOutsideTheWriteMask)
{
    // An erase (Unassigned over Keep) whose match mask lets forced edges through: the forced-edge
    // hole is filled with Unassigned and must keep its forced-edge bit through undo.
    const Rows before = {"KKK",
                         "KEK",
                         "KKK"};
    scene(before);
    m_c->select(whole(), nullptr, m_status, classification::SelectExact, 1, 0x0F, 2, 0x2F, 0, nullptr);
    despeckle(1);
    EXPECT_EQ(render(m_status), (Rows{"111", "1E1", "111"}));
    m_c->undoStack().undo(m_c->dirty());
    EXPECT_EQ(render(m_status), before);
}

TEST_F(Despeckle, NothingToCleanAfterASelectThatTookNothing)
{
    scene({"DDD",
           "D1D"});
    m_c->select(whole(), nullptr, m_status, classification::SelectExact, 2, 0x0F, 2, 0x3F, 0, nullptr);
    ASSERT_TRUE(m_c->changed().isEmpty());
    Recorder recorder;
    despeckle(3, &recorder);
    EXPECT_EQ(recorder.fractions, std::vector<float>{1.f});
    EXPECT_EQ(m_c->undoStack().undoCount(), 0);
    EXPECT_EQ(render(m_status), (Rows{"DDD", "D1D"}));

    // Level 0 does nothing and reports nothing.
    scene({"KKK",
           "K1K",
           "KKK"});
    selectOntoItself(2);
    Recorder silent;
    despeckle(0, &silent);
    EXPECT_TRUE(silent.fractions.empty());
    EXPECT_EQ(m_status(X0 + 1, Y0 + 1), 1);
}

TEST_F(Despeckle, ProgressRisesToTheEnd)
{
    scene(600, 40);
    m_status = 2;
    for (int x = X0 + 1; x < X0 + 599; x += 3)
        m_status(x, Y0 + 5) = 1;
    selectOntoItself(2);
    Recorder recorder;
    despeckle(1, &recorder);
    ASSERT_GE(recorder.fractions.size(), 4u);
    for (std::size_t i = 1; i < recorder.fractions.size(); ++i)
        EXPECT_LE(recorder.fractions[i - 1], recorder.fractions[i]) << i;
    EXPECT_NEAR(recorder.fractions.front(), 0.1f, 1e-6);
    EXPECT_EQ(recorder.fractions.back(), 1.f);
    EXPECT_EQ(int(blitz::count(m_status == 1)), 0);
}

// ---------------------------------------------------------------------------------------------
// Against a plain reading of the rules

// Despeckle as its rules read: the cover computed pixel by pixel from its definition, then the
// flood from covered unselected pixels beside uncovered ones, then the fill.
Bytes literalDespeckle(const Bytes& status, const Bytes& working, const Rect& R, int n, unsigned char v,
                       unsigned char w, unsigned char m)
{
    Bytes out = status.copy();
    const int h = n / 2;
    const auto selected = [&](int x, int y) { return classification::statusMatches(working(x, y), v, w); };
    blitz::Array<int, 2> cover(blitz::Range(R.x1 - 1, R.x2 + 1), blitz::Range(R.y1 - 1, R.y2 + 1));
    cover = 0;
    for (int x = R.x1; x <= R.x2; ++x)
        for (int y = R.y1; y <= R.y2; ++y)
            for (int a = std::max(R.x1, x - h); a <= std::min(R.x2, x + n - h) && !cover(x, y); ++a)
                for (int b = std::max(R.y1, y - h); b <= std::min(R.y2, y + n - h); ++b)
                    if (selected(a, b)) {
                        cover(x, y) = 1;
                        break;
                    }
    std::vector<std::pair<int, int>> stack;
    const int dx[4] = {1, -1, 0, 0}, dy[4] = {0, 0, 1, -1};
    for (int x = R.x1; x <= R.x2; ++x)
        for (int y = R.y1; y <= R.y2; ++y) {
            bool besideUncovered = false;
            for (int k = 0; k < 4; ++k)
                besideUncovered |= cover(x + dx[k], y + dy[k]) == 0;
            if (cover(x, y) && !selected(x, y) && besideUncovered)
                stack.emplace_back(x, y);
        }
    while (!stack.empty()) {
        const auto [x, y] = stack.back();
        stack.pop_back();
        cover(x, y) = 0;
        for (int k = 0; k < 4; ++k) {
            const int qx = x + dx[k], qy = y + dy[k];
            if (R.contains(qx, qy) && cover(qx, qy) && !selected(qx, qy))
                stack.emplace_back(qx, qy);
        }
    }
    const unsigned char fillTarget = static_cast<unsigned char>(v | 1);
    for (int x = R.x1; x <= R.x2; ++x)
        for (int y = R.y1; y <= R.y2; ++y) {
            unsigned char wv = working(x, y);
            if (cover(x, y) && classification::statusMatches(status(x, y), fillTarget, m))
                wv = classification::setStatusBits(wv, w, v);
            if (wv)
                out(x, y) = classification::setStatusBits(out(x, y), w, wv);
        }
    return out;
}

TEST_F(Despeckle, AgreesWithAPlainReadingOfItsRulesOnRandomSelections)
{
    std::mt19937 rng(3);
    const unsigned char statuses[] = {0x01, 0x02, 0x02, 0x02, 0x04, 0x08, 0x11, 0x21, 0x00};
    struct Stroke {
        unsigned char value, target, match;
    };
    const Stroke strokes[] = {{2, 2, 0x3F}, {4, 4, 0x3F}, {2, 0x0F, 0x3F}, {1, 2, 0x2F}, {2, 1, 0x0F}};
    for (int trial = 0; trial < 250; ++trial) {
        const int rows = 2 + int(rng() % 20), cols = 2 + int(rng() % 20);
        scene(rows, cols);
        const unsigned char common = statuses[1 + rng() % 3];
        for (int x = X0; x < X0 + rows; ++x)
            for (int y = Y0; y < Y0 + cols; ++y)
                m_status(x, y) = rng() % 4 ? common : statuses[rng() % std::size(statuses)];
        // A stroke mask with gaps over part of the image.
        const int sx = X0 + int(rng() % rows), sy = Y0 + int(rng() % cols);
        const Rect stroke{sx, sy, sx + int(rng() % rows), sy + int(rng() % cols)};
        Bytes mask(blitz::Range(stroke.x1, stroke.x2), blitz::Range(stroke.y1, stroke.y2));
        for (int x = stroke.x1; x <= stroke.x2; ++x)
            for (int y = stroke.y1; y <= stroke.y2; ++y)
                mask(x, y) = rng() % 5 != 0;
        const Stroke s = strokes[rng() % std::size(strokes)];
        const Bytes start = m_status.copy();
        m_c->select(stroke, &mask, m_status, classification::SelectExact, s.value, 0x0F, s.target, s.match, 0,
                    nullptr);
        const int level = 1 + int(rng() % 6);

        const Rect R = m_c->changed();
        const Bytes expected =
            R.isEmpty() ? m_status.copy()
                        : literalDespeckle(m_status, m_c->working(), R, level, s.value, 0x0F, s.match);
        despeckle(level);
        ASSERT_TRUE(blitz::all(m_status == expected)) << "trial " << trial << ", level " << level;
        // The select and the despeckle make at most one step, and undo gives back every byte.
        ASSERT_LE(m_c->undoStack().undoCount(), 1u);
        m_c->undoStack().undo(m_c->dirty());
        ASSERT_TRUE(blitz::all(m_status == start)) << "trial " << trial;
    }
}

} // namespace
