#include "common/border.h"
#include "analysis/globalclassification.h"
#include "analysis/labelling.h"
#include "common/rect.h"

#include "arrays.h"
#include "sixchannel.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

using classification::SixChannelClassification;
using corvath::utility::Rect;
using Labels = blitz::Array<int, 2>;
using Key = SixChannelClassification::PackedKey;

namespace {

using testsupport::arrayOver;

// Rows of digits as a value image indexed from (x0, y0).
Labels fromRows(const std::vector<std::string>& rows, int x0 = 0, int y0 = 0)
{
    Labels a = arrayOver<int>({x0, y0, x0 + int(rows.size()) - 1, y0 + int(rows[0].size()) - 1});
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[i].size(); ++j)
            a(x0 + int(i), y0 + int(j)) = rows[i][j] - '0';
    return a;
}

std::vector<int> flat(const Labels& a)
{
    return std::vector<int>(a.begin(), a.end());
}

struct Recorder : corvath::utility::IiUI {
    std::vector<float> fractions;
    void progress(float f, const std::string&) override { fractions.push_back(f); }
};

} // namespace

TEST(Labelling, RegionsAreFourConnectedAndNumberedInStorageOrder)
{
    int counter = 5;
    Labels uniform = fromRows({"333", "333"}, 2, -1);
    Labels labels = arrayOver<int>(corvath::utility::domainOf(uniform));
    classification::labelConnectedRegions(uniform, counter, labels);
    EXPECT_TRUE(blitz::all(labels == 5));
    EXPECT_EQ(counter, 6);

    counter = 0;
    Labels checker = fromRows({"0101", "1010", "0101"});
    Labels checkerLabels = arrayOver<int>({0, 0, 2, 3});
    classification::labelConnectedRegions(checker, counter, checkerLabels);
    EXPECT_EQ(counter, 12) << "diagonal neighbours never join";
    EXPECT_EQ(flat(checkerLabels), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));

    // The arms of the U meet only in its last row: the right arm's provisional label is
    // joined to the left one's. The 2s inside are one region, the 3 outside another.
    counter = 0;
    Labels u = fromRows({"12213", "12213", "11113"});
    Labels uLabels = arrayOver<int>({0, 0, 2, 4});
    classification::labelConnectedRegions(u, counter, uLabels);
    EXPECT_EQ(flat(uLabels), (std::vector<int>{0, 1, 1, 0, 2, 0, 1, 1, 0, 2, 0, 0, 0, 0, 2}));
    EXPECT_EQ(counter, 3);
}

TEST(Labelling, NeighboursOutsideTheViewCountAsDifferent)
{
    // The view is the interior of a larger image whose border has the same value and whose
    // labels outside the view hold rubbish: the region stops at the view's edge.
    Labels values = fromRows({"11111", "11111", "11211", "11111"});
    Labels labels = arrayOver<int>({0, 0, 3, 4});
    labels = 1 << 30;
    Labels view = corvath::utility::viewOf(labels, {1, 1, 3, 3});
    int counter = 0;
    classification::labelConnectedRegions(values, counter, view);
    EXPECT_EQ(flat(view), (std::vector<int>{0, 0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(counter, 2);
    EXPECT_EQ(labels(0, 0), 1 << 30) << "nothing written outside the view";
}

TEST(Labelling, RegionModesPreferTheValueThatReachedTheCountFirst)
{
    // Label 0 carries 5, 7, 7 and label 1 carries 4, 9, 4 in storage order; label 2 never
    // occurs and keeps its entry; label 3 is at the count and -1 is outside any region: both
    // are ignored.
    Labels labels = fromRows({"0001", "0111"});
    labels(1, 3) = 3;
    labels(0, 1) = -1;
    Labels values = arrayOver<int>({0, 0, 1, 3});
    values = 5, 99, 7, 4,
             7, 9, 4, 88;
    labels(0, 2) = 0;
    std::vector<int> modes{-7, -7, 42};
    classification::computeRegionModes(modes, 3, labels, values);
    EXPECT_EQ(modes, (std::vector<int>{7, 4, 42}));

    // 5 reaches 1, 7 reaches 1, 7 reaches 2, 5 reaches 2: 7 got there first.
    Labels tie = fromRows({"0000"});
    Labels tieValues = fromRows({"5775"});
    classification::computeRegionModes(modes, 1, tie, tieValues);
    EXPECT_EQ(modes, (std::vector<int>{7}));
}

TEST(Labelling, RegionModesReportEvery256thRow)
{
    Labels labels = arrayOver<int>({250, 0, 769, 1});
    labels = 0;
    Recorder ui;
    std::vector<int> modes;
    classification::computeRegionModes(modes, 1, labels, labels, &ui, 0.3f, 0.7f);
    // Rows 256, 512 and 768, as fractions of the rows from 250.
    ASSERT_EQ(ui.fractions.size(), 3u);
    EXPECT_FLOAT_EQ(ui.fractions[0], 0.3f + 0.4f * 6.f / 520.f);
    EXPECT_FLOAT_EQ(ui.fractions[1], 0.3f + 0.4f * 262.f / 520.f);
    EXPECT_FLOAT_EQ(ui.fractions[2], 0.3f + 0.4f * 518.f / 520.f);
}

TEST(Labelling, BackwardPassSharesLabelsWithRightAndLowerNeighbours)
{
    // A holds labels; W starts at -1 and receives A's label wherever a pixel of the pass
    // shares it with its right or lower neighbour. The pass covers rows 0-1 and columns 0-2
    // and reads one more row and column, so the 3s of column 3 are never compared.
    Labels a = fromRows({"1123", "4523", "4553"});
    Labels w = arrayOver<int>({0, 0, 2, 3});
    w = -1;
    Recorder ui;
    classification::backwardNeighbourPass({0, 0, 1, 2}, a, w, &ui, 0.f, 1.f);
    EXPECT_EQ(flat(w), (std::vector<int>{1, 1, 2, -1,
                                         4, 5, 2, -1,
                                         4, 5, -1, -1}));
    EXPECT_EQ(ui.fractions, (std::vector<float>{0.5f})) << "one report, at row 0";

    // A one-pixel rectangle still compares with the neighbours outside it.
    w = -1;
    classification::backwardNeighbourPass({1, 1, 1, 1}, a, w, nullptr, 0.f, 1.f);
    EXPECT_EQ(w(1, 1), 5);
    EXPECT_EQ(w(2, 1), 5);
    EXPECT_EQ(w(1, 2), -1);
    EXPECT_THROW(classification::backwardNeighbourPass({2, 3, 2, 3}, a, w, nullptr, 0.f, 1.f),
                 std::invalid_argument);
}

TEST(Labelling, ChamferStepsNeedAStrictlyShorterDistance)
{
    int from = 10, to = 44;
    unsigned char fromColour = 1, toColour = 2;
    classification::relaxDistanceWithColour(&from, &to, &fromColour, &toColour, 34);
    EXPECT_EQ(to, 44);
    EXPECT_EQ(toColour, 2) << "an equal distance never moves the colour";
    classification::relaxDistanceWithColour(&from, &to, &fromColour, &toColour, 33);
    EXPECT_EQ(to, 43);
    EXPECT_EQ(toColour, 1);
    classification::relaxDistance(&from, &to, 48);
    EXPECT_EQ(to, 43);
}

namespace {

const blitz::Array<blitz::TinyVector<unsigned char, 6>, 2>& photo()
{
    static const auto image =
        testsupport::sixChannelImage(testsupport::loadRgba8("astronaut.png"), -7, 4);
    return image;
}

} // namespace

TEST(Labelling, PartitionedPhotographMatchesAFloodFillAndItsModes)
{
    SixChannelClassification gc;
    gc.setImage(photo());
    gc.ensureLevels(ProgressRange());
    const int level = 3;

    // The level labels live inside a frame of 2, as the session keeps them.
    const corvath::utility::Rect image = corvath::utility::domainOf(photo());
    const corvath::utility::Rect framed = corvath::utility::grow(image, 2);
    Labels values = arrayOver<int>(framed);
    Labels inner = corvath::utility::viewOf(values, image);
    classification::fillOutsideRect(image, -2, values);
    EXPECT_EQ(gc.partition(level, inner, ProgressRange()), gc.marker(level));
    for (auto it = photo().begin(); it != photo().end(); ++it) {
        const Key k = SixChannelClassification::levelKey(SixChannelClassification::packKey(*it), level);
        ASSERT_EQ(inner(it.position()), gc.levelMap(level).find(k)->id);
    }

    Labels regions = arrayOver<int>(framed);
    regions = -1;
    Labels regionView = corvath::utility::viewOf(regions, image);
    int counter = 0;
    classification::labelConnectedRegions(values, counter, regionView);

    // Reference: flood fill in storage order.
    Labels expected = arrayOver<int>(image);
    expected = -1;
    int next = 0;
    std::vector<std::pair<int, int>> stack;
    for (int x = image.x1; x <= image.x2; ++x)
        for (int y = image.y1; y <= image.y2; ++y) {
            if (expected(x, y) >= 0)
                continue;
            const int v = inner(x, y), label = next++;
            expected(x, y) = label;
            stack.push_back({x, y});
            while (!stack.empty()) {
                auto [px, py] = stack.back();
                stack.pop_back();
                for (auto [dx, dy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}}) {
                    const int qx = px + dx, qy = py + dy;
                    if (image.contains(qx, qy) && expected(qx, qy) < 0 && inner(qx, qy) == v) {
                        expected(qx, qy) = label;
                        stack.push_back({qx, qy});
                    }
                }
            }
        }
    EXPECT_EQ(counter, next);
    EXPECT_TRUE(blitz::all(regionView == expected));
    EXPECT_TRUE(blitz::all(regions(framed.x1, blitz::Range::all()) == -1)) << "frame untouched";

    // Modes of coarse connected regions over the level labels: the most frequent value, ties
    // to the value that reached the final count first.
    Labels coarse = arrayOver<int>(image);
    gc.partition(6, coarse, ProgressRange());
    Labels coarseRegions = arrayOver<int>(image);
    int coarseCount = 0;
    classification::labelConnectedRegions(coarse, coarseCount, coarseRegions);
    std::vector<int> modes;
    classification::computeRegionModes(modes, coarseCount, coarseRegions, inner);
    std::vector<std::map<int, int>> counts{std::size_t(coarseCount)};
    std::vector<int> best(std::size_t(coarseCount), 0), expectedModes(std::size_t(coarseCount), 0);
    for (int x = image.x1; x <= image.x2; ++x)
        for (int y = image.y1; y <= image.y2; ++y) {
            const std::size_t l = std::size_t(coarseRegions(x, y));
            const int c = ++counts[l][inner(x, y)];
            if (c > best[l]) {
                best[l] = c;
                expectedModes[l] = inner(x, y);
            }
        }
    EXPECT_EQ(modes, expectedModes);
}

TEST(Labelling, BandsJoinedAtTheirBordersNumberRegionsAsOnePass)
{
    // A comb whose teeth meet only in its last row, a spiral that crosses every band many
    // times, and noise with clusters of every shape; from 2 bands to more bands than rows.
    const int rows = 41, cols = 37;
    std::vector<Labels> images;
    Labels comb = arrayOver<int>({3, -2, 3 + rows - 1, -2 + cols - 1});
    for (int x = 0; x < rows; ++x)
        for (int y = 0; y < cols; ++y)
            comb(3 + x, -2 + y) = y % 2 == 0 || x == rows - 1 ? 1 : 2 + (y % 4 == 1);
    images.push_back(comb);

    // The path keeps one pixel of background between its turns: it and the corridor beside
    // it are one region each.
    Labels spiral = arrayOver<int>({0, 0, rows - 1, cols - 1}, 0);
    const int dx[4] = {0, 1, 0, -1}, dy[4] = {1, 0, -1, 0};
    const auto painted = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < rows && y < cols && spiral(x, y) == 1;
    };
    const auto open = [&](int x, int y, int d) {
        return x >= 0 && y >= 0 && x < rows && y < cols && !painted(x, y) && !painted(x + dx[d], y + dy[d]);
    };
    for (int x = 0, y = 0, d = 0, turns = 0; turns < 2;) {
        spiral(x, y) = 1;
        if (open(x + dx[d], y + dy[d], d)) {
            x += dx[d];
            y += dy[d];
            turns = 0;
        } else {
            d = (d + 1) % 4;
            ++turns;
        }
    }
    images.push_back(spiral);

    std::mt19937 rng(9);
    for (int density : {45, 60}) {
        Labels noise = arrayOver<int>({0, 0, rows - 1, cols - 1});
        for (int x = 0; x < rows; ++x)
            for (int y = 0; y < cols; ++y)
                noise(x, y) = int(rng() % 100) < density;
        images.push_back(noise);
    }

    for (std::size_t i = 0; i < images.size(); ++i) {
        const Labels& values = images[i];
        Labels one = arrayOver<int>(corvath::utility::domainOf(values));
        int oneCount = 5;
        classification::labelConnectedRegions(values, oneCount, one, 1);
        for (int bands : {2, 3, 8, rows - 1, rows, rows + 7}) {
            SCOPED_TRACE(testing::Message() << "image " << i << ", " << bands << " bands");
            Labels banded = arrayOver<int>(corvath::utility::domainOf(values));
            int count = 5;
            classification::labelConnectedRegions(values, count, banded, bands);
            EXPECT_EQ(count, oneCount);
            EXPECT_EQ(flat(banded), flat(one));
        }
    }
    Labels spiralLabels = arrayOver<int>(corvath::utility::domainOf(spiral));
    int spiralCount = 0;
    classification::labelConnectedRegions(spiral, spiralCount, spiralLabels, 1);
    EXPECT_EQ(spiralCount, 2);
}
