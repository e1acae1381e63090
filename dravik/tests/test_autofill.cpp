// Auto-fill on small hand-made status arrays, and against a plain reading of its rules on
// random markings.
#include "session/classification.h"
#include "status_letters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

using classification::Bytes;
using classification::IiClassification;
using classification::Rect;

namespace {

// Arrays start away from 0 so that index mistakes show.
constexpr int X0 = testsupport::sceneRow0, Y0 = testsupport::sceneCol0;

using Rows = testsupport::StatusRows;
using testsupport::render;

using Cell3 = blitz::TinyVector<unsigned char, 3>;

class AutoFill : public testsupport::StatusScene {
protected:
    void scene(int rows, int cols)
    {
        makeScene(rows, cols);
        widths(0);
    }
    void scene(const Rows& statuses)
    {
        makeScene(statuses);
        widths(0);
    }

    // The width map as the analysis keeps it: byte 2 of three-byte cells over the image grown
    // by two, viewed over the image.
    void widths(unsigned char constant)
    {
        const Rect r = corvath::utility::domainOf(m_status);
        m_cells.resize(blitz::Range(r.x1 - 2, r.x2 + 2), blitz::Range(r.y1 - 2, r.y2 + 2));
        m_cells = Cell3(7, 7, constant);
        Bytes byte2 = m_cells[2];
        m_c->widthMap.reference(corvath::utility::viewOf(byte2, r));
    }

    void fill(unsigned char fillFrom, float bandFactor, std::optional<Rect> area = std::nullopt)
    {
        m_c->autoFill(m_status, area, fillFrom, bandFactor, &m_c->undoStack(), nullptr);
    }

    blitz::Array<Cell3, 2> m_cells;
};

TEST_F(AutoFill, FreePixelsTakeTheClassOppositeToTheMarkedOne)
{
    const Rows keep = {"1111.",
                       "1KK1P",
                       "1KK1E",
                       "11111"};
    scene(keep);
    fill(2, 0.f);
    EXPECT_EQ(render(m_status), (Rows{"DDDD.",
                                      "DKKDP",
                                      "DKKDE",
                                      "DDDDD"}));
    EXPECT_EQ(m_c->undoStack().undoCount(), 1);
    EXPECT_EQ(m_c->changed(), (Rect{X0, Y0, X0 + 3, Y0 + 4}));

    scene({"1D1",
           "1D1"});
    fill(4, 0.f);
    EXPECT_EQ(render(m_status), (Rows{"KDK",
                                      "KDK"}));

    // Marks that count forced-edge or protected pixels as marked fill with Keep.
    for (unsigned char from : {0x12, 0x22, 0x32}) {
        scene(keep);
        fill(from, 0.f);
        EXPECT_EQ(render(m_status), (Rows{"KKKK.",
                                          "KKKKP",
                                          "KKKKE",
                                          "KKKKK"}))
            << int(from);
    }
}

TEST_F(AutoFill, FillFromWithoutAClassAndAreasOutsideTheImageDoNothing)
{
    const Rows marks = {"11K",
                        "1D1"};
    for (unsigned char from : {0x00, 0x01, 0x08, 0x30}) {
        scene(marks);
        m_c->changed() = Rect{X0, Y0, X0, Y0};
        fill(from, 1.f);
        EXPECT_EQ(render(m_status), marks) << int(from);
        EXPECT_EQ(m_c->undoStack().undoCount(), 0);
        EXPECT_EQ(m_c->changed(), (Rect{X0, Y0, X0, Y0})) << "the last operation still stands";
    }
    scene(marks);
    fill(2, 1.f, Rect{X0 + 2, Y0, X0 + 5, Y0 + 2});
    EXPECT_EQ(render(m_status), marks);
    EXPECT_EQ(m_c->undoStack().undoCount(), 0);
    EXPECT_FALSE(m_c->dirty().has_value());
}

TEST_F(AutoFill, AtWidthZeroTheBorderPixelsThemselvesTurnBlend)
{
    scene({"11111",
           "1KKK1",
           "1KKK1",
           "11111"});
    fill(2, 1.f);
    EXPECT_EQ(render(m_status), (Rows{"DBBBD",
                                      "BBBBB",
                                      "BBBBB",
                                      "DBBBD"}));
    // Without a band nothing is Blend, whatever the width map says.
    scene({"11111",
           "1KKK1",
           "11111"});
    widths(9);
    fill(2, 0.f);
    EXPECT_EQ(render(m_status), (Rows{"DDDDD",
                                      "DKKKD",
                                      "DDDDD"}));
}

TEST_F(AutoFill, NoBandWithinReachOfAForcedEdgeOrAProtectedPixel)
{
    for (const char shield : {'P', 'E'}) {
        std::string last = "111P11";
        last[3] = shield;
        scene({"111111",
               "1KK111",
               "1KK111",
               last});
        fill(2, 1.f);
        std::string expected = "DBDPDD";
        expected[3] = shield;
        EXPECT_EQ(render(m_status), (Rows{"DBBDDD",
                                          "BBBBDD",
                                          "BBKDDD",
                                          expected}))
            << shield;
    }
}

TEST_F(AutoFill, UndoRestoresEveryBitOfTheStatus)
{
    scene({"1111",
           "1KK1",
           "1111"});
    // Bits above the class part (a mask generation's marks) on free and band pixels.
    m_status(X0, Y0) = 0x41;
    m_status(X0 + 1, Y0) = 0x81;
    m_status(X0 + 1, Y0 + 1) = 0x42;
    const Bytes before = m_status.copy();
    widths(2);
    fill(2, 1.f);
    EXPECT_EQ(int(m_status(X0, Y0)), 0x48);
    EXPECT_EQ(int(m_status(X0 + 1, Y0 + 1)), 0x48);
    m_c->undoStack().undo(m_c->dirty());
    EXPECT_TRUE(blitz::all(m_status == before));
}

TEST_F(AutoFill, ReportsAtFourFifthsBeforeTheCommitAndAtTheEnd)
{
    struct Recorder : corvath::utility::IiUI {
        void progress(float f, const std::string&) override { fractions.push_back(f); }
        std::vector<float> fractions;
    } recorder;
    scene({"1K"});
    ProgressRange range(&recorder, 0.2f, 0.6f);
    m_c->autoFill(m_status, std::nullopt, 2, 1.f, nullptr, &range);
    ASSERT_EQ(recorder.fractions.size(), 2u);
    EXPECT_NEAR(recorder.fractions[0], 0.52f, 1e-6);
    EXPECT_NEAR(recorder.fractions[1], 0.6f, 1e-6);
    EXPECT_EQ(render(m_status), (Rows{"BB"}));
    EXPECT_EQ(m_c->undoStack().undoCount(), 0) << "no stack given, nothing recorded";
}

TEST_F(AutoFill, ABandNeedsAWidthMapOverTheRectangle)
{
    scene({"1K1"});
    m_c->widthMap.free();
    EXPECT_THROW(fill(2, 1.f), std::logic_error);
    scene({"1K1"});
    m_c->widthMap.free();
    fill(2, 0.f);
    EXPECT_EQ(render(m_status), (Rows{"DKD"}));
    // Nothing to draw: no border, no width map needed.
    scene({"KKK"});
    m_c->widthMap.free();
    fill(2, 1.f);
    EXPECT_EQ(render(m_status), (Rows{"KKK"}));
}

// ---------------------------------------------------------------------------------------------
// Against a plain reading of the rules

// Auto-fill as its rules read, step by step, with a border list and a full box scan per border
// pixel; returns the new status array.
Bytes literalAutoFill(const Bytes& status, const Bytes& widthMap, std::optional<Rect> area,
                      unsigned char fillFrom, float bandFactor)
{
    Bytes out = status.copy();
    if (!(fillFrom & 6))
        return out;
    Rect r = corvath::utility::domainOf(status);
    if (area)
        r = corvath::utility::intersect(r, *area);
    if (r.isEmpty())
        return out;
    const auto marked = [&](unsigned char s) {
        return (fillFrom & s & 0x0F) && (!(s & 16) || (fillFrom & 16)) && (!(s & 32) || (fillFrom & 32));
    };
    const auto isFree = [](unsigned char s) { return (s & 1) && !(s & 48); };
    const unsigned char fillValue = (fillFrom & 2) && !(fillFrom & 48) ? 4 : 2;
    Bytes working(status.shape());
    working.reindexSelf(status.lbound());
    working = 0;

    std::vector<std::pair<int, int>> border;
    for (int x = r.x1; x <= r.x2; ++x)
        for (int y = r.y1; y <= r.y2; ++y) {
            const unsigned char s = status(x, y);
            bool anyMarked = false, anyFree = false;
            const int nx[4] = {x - 1, x, x + 1, x}, ny[4] = {y, y - 1, y, y + 1};
            for (int k = 0; k < 4; ++k)
                if (r.contains(nx[k], ny[k])) {
                    anyMarked |= marked(status(nx[k], ny[k])) != 0;
                    anyFree |= isFree(status(nx[k], ny[k]));
                }
            if (marked(s) ? anyFree : isFree(s) && anyMarked)
                border.emplace_back(x, y);
        }

    if (bandFactor != 0.f)
        for (const auto& [bx, by] : border) {
            const float R = float(widthMap(bx, by)) * 0.5f * bandFactor + 0.49f;
            const int rr = int(R);
            const Rect box =
                corvath::utility::intersect(Rect{bx - rr - 1, by - rr - 1, bx + rr + 1, by + rr + 1}, r);
            if (box.isEmpty())
                continue;
            bool shielded = false;
            for (int x = box.x1; x <= box.x2; ++x)
                for (int y = box.y1; y <= box.y2; ++y)
                    shielded |= (status(x, y) & 48) != 0;
            if (shielded)
                continue;
            for (int x = box.x1; x <= box.x2; ++x)
                for (int y = box.y1; y <= box.y2; ++y) {
                    const unsigned char s = status(x, y);
                    const int d2 = (x - bx) * (x - bx) + (y - by) * (y - by);
                    if ((s & 7) && !(s & 48) && float(d2) <= R * R)
                        working(x, y) = (working(x, y) & 0xF8) | 8;
                }
        }

    for (int x = r.x1; x <= r.x2; ++x)
        for (int y = r.y1; y <= r.y2; ++y)
            if (isFree(status(x, y)) && working(x, y) == 0)
                working(x, y) = fillValue;
    for (int x = r.x1; x <= r.x2; ++x)
        for (int y = r.y1; y <= r.y2; ++y)
            if (working(x, y))
                out(x, y) = (out(x, y) & 0xF0) | (working(x, y) & 0x0F);
    return out;
}

TEST_F(AutoFill, AgreesWithAPlainReadingOfItsRulesOnRandomMarkings)
{
    std::mt19937 rng(11);
    const unsigned char statuses[] = {0x01, 0x01, 0x01, 0x02, 0x02, 0x04, 0x00, 0x08, 0x03,
                                      0x06, 0x11, 0x12, 0x21, 0x24, 0x41};
    const unsigned char fillFroms[] = {2, 4, 6, 0x12, 0x24, 0x32, 1};
    const float factors[] = {0.f, 0.5f, 1.f, 1.7f, 3.f, -1.f};
    for (int trial = 0; trial < 400; ++trial) {
        const int rows = 1 + int(rng() % 18), cols = 1 + int(rng() % 18);
        scene(rows, cols);
        // Blobs of one status in a few cases, scattered pixels in the others.
        const bool blobs = trial % 3 != 0;
        for (int x = X0; x < X0 + rows; ++x)
            for (int y = Y0; y < Y0 + cols; ++y)
                m_status(x, y) = statuses[rng() % (blobs ? 6 : std::size(statuses))];
        if (blobs)
            for (int b = 0; b < 3; ++b) {
                const int x = X0 + int(rng() % rows), y = Y0 + int(rng() % cols), size = 1 + int(rng() % 6);
                const unsigned char s = statuses[rng() % std::size(statuses)];
                for (int i = x; i < std::min(x + size, X0 + rows); ++i)
                    for (int j = y; j < std::min(y + size, Y0 + cols); ++j)
                        m_status(i, j) = s;
            }
        // Widths that change from pixel to pixel, or one width for a whole trial.
        const int width = trial % 2 ? int(rng() % 7) : -1;
        for (int x = X0; x < X0 + rows; ++x)
            for (int y = Y0; y < Y0 + cols; ++y)
                m_cells(x, y)[2] = static_cast<unsigned char>(width < 0 ? rng() % 7 : width);
        std::optional<Rect> area;
        if (rng() % 3 == 0) {
            const int x = X0 - 2 + int(rng() % (rows + 2)), y = Y0 - 2 + int(rng() % (cols + 2));
            area = Rect{x, y, x + int(rng() % 12), y + int(rng() % 12)};
        }
        const unsigned char from = fillFroms[rng() % std::size(fillFroms)];
        const float factor = factors[rng() % std::size(factors)];

        const Bytes before = m_status.copy();
        const Bytes expected = literalAutoFill(m_status, m_c->widthMap, area, from, factor);
        fill(from, factor, area);
        ASSERT_TRUE(blitz::all(m_status == expected))
            << "trial " << trial << ", fill from " << int(from) << ", factor " << factor;
        // Forced-edge and protected pixels never change, and undo gives back every byte.
        for (int x = X0; x < X0 + rows; ++x)
            for (int y = Y0; y < Y0 + cols; ++y) {
                if (before(x, y) & 48) {
                    ASSERT_EQ(m_status(x, y), before(x, y));
                }
            }
        m_c->undoStack().undo(m_c->dirty());
        ASSERT_TRUE(blitz::all(m_status == before)) << "trial " << trial;
    }
}

} // namespace
