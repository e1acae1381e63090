// The analysis steps of the classification object: colour envelopes, fine labels and the
// region map.
#include "session/classification.h"
#include "analysis/finelabels.h"
#include "analysis/rancour.h"
#include "platform/clock.h"

#include "arrays.h"
#include "photo_arrays.h"
#include "testimage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <queue>
#include <random>
#include <set>
#include <string>
#include <vector>

using classification::ByteChannel;
using classification::EnvelopeSettings;
using classification::Labels;
using classification::SixChannelImage;
using corvath::utility::domainOf;
using corvath::utility::Rect;

namespace {

using testsupport::arrayOver;

// Rows of characters as labels from (x0, y0): digits are labels, 'a'.. are 10.., '-' is -1.
Labels fromRows(const std::vector<std::string>& rows, int x0 = 0, int y0 = 0)
{
    Labels a = arrayOver<int>({x0, y0, x0 + int(rows.size()) - 1, y0 + int(rows[0].size()) - 1});
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[i].size(); ++j) {
            const char c = rows[i][j];
            a(x0 + int(i), y0 + int(j)) = c == '-' ? -1 : c >= 'a' ? c - 'a' + 10 : c - '0';
        }
    return a;
}

// The interpolated order statistic of the filters, computed from sorted values.
int percentileOf(std::vector<int> v, float p)
{
    std::sort(v.begin(), v.end());
    const int m = int(v.size());
    const float t = p * float(m - 1) + 1.f;
    const int lower = std::clamp(int(std::floor(t + 0.001f)), 1, m);
    const int upper = std::clamp(int(std::ceil(t - 0.001f)), 1, m);
    const int a = v[std::size_t(lower - 1)], b = v[std::size_t(upper - 1)];
    return a == b ? a : a + int(float(b - a) * (t - float(lower)) + 0.5f);
}

// The envelopes by their definition: the window's percentiles over the reduced channel with
// its edge repeated, the first pass over offsets 0..n, the second over -n..0.
void bruteForceEnvelopes(const ByteChannel& source, const EnvelopeSettings& s, ByteChannel& opening,
                         ByteChannel& closing)
{
    const Rect r = domainOf(source);
    const int n = s.textureSize;
    const blitz::Array<int, 2> disk = classification::diskWindow(n + 1);
    const auto reduced = [&](int x, int y) {
        return source(std::clamp(x, r.x1, r.x2), std::clamp(y, r.y1, r.y2)) >> (8 - s.maximumBits);
    };
    const Rect pairRect{r.x1 - n, r.y1 - n, r.x2, r.y2};
    Labels low = arrayOver<int>(pairRect), high = arrayOver<int>(pairRect);
    std::vector<int> v;
    for (int x = pairRect.x1; x <= pairRect.x2; ++x)
        for (int y = pairRect.y1; y <= pairRect.y2; ++y) {
            v.clear();
            for (int i = 0; i <= n; ++i)
                for (int j = 0; j <= n; ++j)
                    if (disk(i, j))
                        v.push_back(reduced(x + i, y + j));
            low(x, y) = percentileOf(v, s.percentile);
            high(x, y) = percentileOf(v, 1.f - s.percentile);
        }
    for (int x = r.x1; x <= r.x2; ++x)
        for (int y = r.y1; y <= r.y2; ++y) {
            std::vector<int> lo, hi;
            for (int i = 0; i <= n; ++i)
                for (int j = 0; j <= n; ++j)
                    if (disk(i, j)) {
                        lo.push_back(low(x - i, y - j));
                        hi.push_back(high(x - i, y - j));
                    }
            opening(x, y) = static_cast<unsigned char>(percentileOf(lo, 1.f - s.percentile));
            closing(x, y) = static_cast<unsigned char>(percentileOf(hi, s.percentile));
        }
}

classification::RgbaView8 viewOf(testsupport::RgbaImage8& image)
{
    return classification::viewRgba8(
        {image.width, image.height, image.strideBytes(), DvPixelRgba8, image.samples.data()});
}

// Pixels with the same label form one 4-connected piece.
bool labelsAreConnected(const Labels& labels, const Rect& r)
{
    std::map<int, int> pieces;
    Labels seen = arrayOver<int>(r);
    seen = 0;
    for (int x = r.x1; x <= r.x2; ++x)
        for (int y = r.y1; y <= r.y2; ++y) {
            if (seen(x, y))
                continue;
            const int l = labels(x, y);
            if (++pieces[l] > 1)
                return false;
            std::queue<std::pair<int, int>> q;
            q.push({x, y});
            seen(x, y) = 1;
            while (!q.empty()) {
                const auto [a, b] = q.front();
                q.pop();
                const int next[4][2] = {{a + 1, b}, {a - 1, b}, {a, b + 1}, {a, b - 1}};
                for (const auto& p : next)
                    if (r.contains(p[0], p[1]) && !seen(p[0], p[1]) && labels(p[0], p[1]) == l) {
                        seen(p[0], p[1]) = 1;
                        q.push({p[0], p[1]});
                    }
            }
        }
    return true;
}

class EnvelopeThreads : public ::testing::Test {
protected:
    void TearDown() override { platform::setProcessorCountOverride(0); }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Colour envelopes

TEST(Envelopes, MatchTheirDefinitionOverCentredDisks)
{
    const ByteChannel source = testsupport::photoChannel(23, 31, 1, 4, -3);
    const Rect r = domainOf(source);
    for (const EnvelopeSettings s : {EnvelopeSettings{1, 1.f / 6, 8}, EnvelopeSettings{2, 0.16f, 7},
                                     EnvelopeSettings{4, 0.25f, 5}, EnvelopeSettings{3, 0.f, 8}}) {
        // The result arrays reach past the source: nothing outside its rectangle is written.
        ByteChannel opening = arrayOver<unsigned char>(corvath::utility::grow(r, 2));
        ByteChannel closing = arrayOver<unsigned char>(corvath::utility::grow(r, 2));
        opening = 77;
        closing = 77;
        classification::envelopeBody(source, opening, closing, s);
        ByteChannel expectOpen = arrayOver<unsigned char>(r), expectClose = arrayOver<unsigned char>(r);
        bruteForceEnvelopes(source, s, expectOpen, expectClose);
        for (int x = opening.lbound(0); x <= opening.ubound(0); ++x)
            for (int y = opening.lbound(1); y <= opening.ubound(1); ++y) {
                if (!r.contains(x, y)) {
                    ASSERT_EQ(opening(x, y), 77);
                    ASSERT_EQ(closing(x, y), 77);
                    continue;
                }
                ASSERT_EQ(opening(x, y), expectOpen(x, y)) << s.textureSize << " at " << x << ", " << y;
                ASSERT_EQ(closing(x, y), expectClose(x, y)) << s.textureSize << " at " << x << ", " << y;
            }

        // Bands of rows, one at a time, give the same as the whole channel at once.
        ByteChannel bandOpen = arrayOver<unsigned char>(r), bandClose = arrayOver<unsigned char>(r);
        for (int first = r.x1 - 2; first <= r.x2; first += 5)
            classification::envelopeRows(source, bandOpen, bandClose, {first, 1000, first + 4, -1000}, s);
        EXPECT_TRUE(blitz::all(bandOpen == expectOpen));
        EXPECT_TRUE(blitz::all(bandClose == expectClose));
    }
}

TEST(Envelopes, TextureOffCopiesEveryColourChannelIntoBothEnvelopes)
{
    testsupport::RgbaImage8 photo = testsupport::syntheticPhoto(37, 29, 5);
    classification::JobRecord record;
    const SixChannelImage six = classification::computeEnvelopes(viewOf(photo), {0, 0.16f, 5}, record);
    ASSERT_EQ(six.extent(0), 29);
    ASSERT_EQ(six.extent(1), 37);
    for (int x = 0; x < 29; ++x)
        for (int y = 0; y < 37; ++y)
            for (int j = 0; j < 3; ++j) {
                ASSERT_EQ(six(x, y)[j], photo.row(x)[4 * y + 2 - j]);
                ASSERT_EQ(six(x, y)[j + 3], photo.row(x)[4 * y + 2 - j]);
            }
}

TEST_F(EnvelopeThreads, AreTheSameOnOneAndOnEight)
{
    testsupport::RgbaImage8 photo = testsupport::loadRgba8("chelsea.png");
    classification::JobRecord record;
    const EnvelopeSettings settings{3, 0.16f, 7};
    platform::setProcessorCountOverride(1);
    const SixChannelImage one = classification::computeEnvelopes(viewOf(photo), settings, record);
    platform::setProcessorCountOverride(8);
    const SixChannelImage eight = classification::computeEnvelopes(viewOf(photo), settings, record);
    for (int c = 0; c < 6; ++c)
        EXPECT_TRUE(blitz::all(one.extractComponent((unsigned char)0, c, 6) ==
                               eight.extractComponent((unsigned char)0, c, 6)));

    // Channel j is the opening of colour channel 2 - j, channel j + 3 its closing.
    const ByteChannel red = classification::viewRgba8({photo.width, photo.height, photo.strideBytes(),
                                                       DvPixelRgba8, photo.samples.data()})
                                .extractComponent((unsigned char)0, 0, 4);
    ByteChannel opening = arrayOver<unsigned char>(domainOf(red)), closing = opening.copy();
    classification::envelopeBody(red, opening, closing, settings);
    EXPECT_TRUE(blitz::all(one.extractComponent((unsigned char)0, 2, 6) == opening));
    EXPECT_TRUE(blitz::all(one.extractComponent((unsigned char)0, 5, 6) == closing));
}

TEST(Envelopes, TheStepRunsOnceUntilNewEnvelopesAreRequired)
{
    testsupport::RgbaImage8 photo = testsupport::syntheticPhoto(40, 30, 2);
    classification::IiClassification c(viewOf(photo));
    EXPECT_EQ(c.envelopeState(), 0);
    c.textureSize = 2;
    c.envelopeStep(ProgressRange());
    EXPECT_EQ(c.envelopeState(), 2);
    EXPECT_EQ(domainOf(c.analysisImage()), c.imageRect());
    EXPECT_EQ(c.segmentation().bounds(), c.imageRect());
    const auto* first = c.analysisImage().data();
    c.envelopeStep(ProgressRange());
    EXPECT_EQ(c.analysisImage().data(), first) << "current envelopes are kept";

    c.colourLevels().ensureLevels(ProgressRange());
    EXPECT_GE(c.colourLevels().marker(0), 1);
    c.requireNewEnvelopes();
    EXPECT_EQ(c.envelopeState(), 0);
    EXPECT_EQ(c.colourLevels().marker(0), -1) << "the levels of the old envelopes are dropped";
    c.textureSize = 0;
    c.envelopeStep(ProgressRange());
    EXPECT_EQ(c.analysisImage()(3, 4)[1], photo.row(3)[4 * 4 + 1]);
}

// ---------------------------------------------------------------------------------------------
// Fine labels

TEST(FineLabels, BoundaryPixelsTakeTheirNeighboursMajority)
{
    // A pixel alone in its label inside a ring of 5 takes 5.
    Labels ring = fromRows({"-----", "-555-", "-505-", "-555-", "-----"});
    classification::resolveBoundaryLabels({1, 1, 3, 3}, 6, ring);
    EXPECT_EQ(ring(2, 2), 5);

    // Edge neighbours 5, 5, 7, 7 and diagonals 7, 9, 9, 9: 7 reaches 3 with the first diagonal.
    Labels tie = fromRows({"759", "507", "979"});
    classification::resolveBoundaryLabels({1, 1, 1, 1}, 10, tie);
    EXPECT_EQ(tie(1, 1), 7);

    // A pixel next to a 0 becomes -1, and so does that neighbour and every later 0 edge
    // neighbour; diagonal zeros are left alone.
    Labels edge = fromRows({"0303", "3003", "3333"});
    classification::resolveBoundaryLabels({1, 1, 1, 1}, 4, edge);
    EXPECT_EQ(edge(1, 1), -1);
    EXPECT_EQ(edge(1, 2), -1);
    EXPECT_EQ(edge(0, 0), 0);
}

TEST(FineLabels, TheVoteTableFitsEveryLabelPresent)
{
    // Labels far above the count given: the table grows to the largest one.
    Labels big = arrayOver<int>({-1, -1, 3, 3});
    big = 1000000;
    big(1, 1) = 0;
    big(2, 2) = 2000000;
    classification::resolveBoundaryLabels({0, 0, 2, 2}, 3, big);
    EXPECT_EQ(big(1, 1), 1000000);
}

TEST(FineLabels, AreTheCompactConnectedRegionsOfTheSegmentation)
{
    // Every region has at least two pixels, so no pixel is resolved: the fine labels are the
    // 4-connected pieces of the region labels, numbered by their first pixel.
    const Labels regions = fromRows({"0000000", "0112230", "0112230", "0441130", "0444330", "0000000"}, 3, -2);
    const Labels before = regions.copy();
    Labels fine;
    const Rect bounds{4, -1, 7, 3};
    const int count = classification::makeFineLabels(regions, bounds, fine);
    EXPECT_TRUE(blitz::all(regions == before)) << "the segmentation's labels stay as they are";
    EXPECT_EQ(count, 5);
    EXPECT_EQ(domainOf(fine), corvath::utility::grow(bounds, 1));
    const Labels expected = fromRows({"-------", "-00112-", "-00112-", "-33442-", "-33322-", "-------"}, 3, -2);
    EXPECT_TRUE(blitz::all(fine == expected));
}

TEST(FineLabels, LinesOfZeroAndLonePixelsBecomeRegionsOfTheirOwn)
{
    // A line of 0 labels turns -1 and then one fine region per piece; a lone pixel among 5s
    // joins them; two adjacent lone pixels of different labels become a region of their own.
    const Labels regions = fromRows({"000000000", "055505550", "055505850", "055505550", "000000000",
                                     "011111110", "016711110", "011111110", "000000000"});
    Labels fine;
    const int count = classification::makeFineLabels(regions, {1, 1, 7, 7}, fine);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(fine(2, 6), fine(1, 6)) << "the lone 8 joins the 5s around it";
    EXPECT_EQ(fine(6, 2), fine(6, 3)) << "6 and 7 side by side";
    EXPECT_NE(fine(6, 2), fine(5, 2));
    EXPECT_NE(fine(1, 4), fine(1, 3)) << "the zero column";
    EXPECT_EQ(fine(1, 4), fine(3, 4));
    EXPECT_EQ(fine(4, 1), fine(1, 4)) << "the zero row and column are one piece";
    EXPECT_TRUE(labelsAreConnected(fine, {1, 1, 7, 7}));
}

TEST(FineLabels, OfRandomBlobsAreCompactAndConnected)
{
    std::mt19937 rng(4);
    const Rect bounds{2, 5, 61, 80};
    Labels regions = arrayOver<int>(corvath::utility::grow(bounds, 2));
    regions = 0;
    // Blobs of random labels with scattered lone pixels.
    for (int x = bounds.x1; x <= bounds.x2; ++x)
        for (int y = bounds.y1; y <= bounds.y2; ++y)
            regions(x, y) = 1 + ((x / 7) * 13 + (y / 5) * 7) % 9;
    for (int k = 0; k < 300; ++k)
        regions(bounds.x1 + int(rng() % 60), bounds.y1 + int(rng() % 76)) = 1 + int(rng() % 40);
    Labels fine;
    const int count = classification::makeFineLabels(regions, bounds, fine);
    std::set<int> present;
    for (int x = bounds.x1; x <= bounds.x2; ++x)
        for (int y = bounds.y1; y <= bounds.y2; ++y)
            present.insert(fine(x, y));
    EXPECT_EQ(int(present.size()), count);
    EXPECT_EQ(*present.begin(), 0);
    EXPECT_EQ(*present.rbegin(), count - 1);
    EXPECT_TRUE(labelsAreConnected(fine, bounds));

    Labels ringed = regions.copy();
    ringed(bounds.x2 + 1, bounds.y1) = 3;
    EXPECT_THROW(classification::makeFineLabels(ringed, bounds, fine), std::invalid_argument);
}

TEST(FineLabels, AreTheSameOnOneAndOnEightThreads)
{
    // Tall enough for eight bands of rows: blobs, lone pixels whose votes read pixels resolved
    // in the band above, and lines of 0 that cross band borders.
    std::mt19937 rng(6);
    const Rect bounds{0, 0, 599, 299};
    Labels regions = arrayOver<int>(corvath::utility::grow(bounds, 1), 0);
    for (int x = bounds.x1; x <= bounds.x2; ++x)
        for (int y = bounds.y1; y <= bounds.y2; ++y)
            regions(x, y) = x % 97 == 0 || y == 150 ? 0 : 1 + ((x / 9) * 13 + (y / 6) * 7) % 11;
    for (int k = 0; k < 20000; ++k)
        regions(int(rng() % 600), int(rng() % 300)) = int(rng() % 60);
    Labels fine[2];
    int count[2];
    for (int k = 0; k < 2; ++k) {
        platform::setProcessorCountOverride(k == 0 ? 1 : 8);
        count[k] = classification::makeFineLabels(regions, bounds, fine[k]);
    }
    platform::setProcessorCountOverride(0);
    EXPECT_EQ(count[0], count[1]);
    EXPECT_TRUE(blitz::all(fine[0] == fine[1]));
}

// ---------------------------------------------------------------------------------------------
// Region map

namespace {

struct Recorder : corvath::utility::IiUI {
    std::vector<float> fractions;
    void progress(float f, const std::string&) override { fractions.push_back(f); }
};

// A classification over a photograph with its colour levels and fine labels of 12 x 12 blocks.
class RegionMap : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_photo = testsupport::loadRgba8("chelsea.png");
        m_c = std::make_unique<classification::IiClassification>(viewOf(m_photo));
        m_c->envelopeStep(ProgressRange());
        m_c->colourLevels().ensureLevels(ProgressRange());
        const Rect r = m_c->imageRect();
        Labels regions = arrayOver<int>(corvath::utility::grow(r, 1));
        regions = 0;
        for (int x = r.x1; x <= r.x2; ++x)
            for (int y = r.y1; y <= r.y2; ++y)
                regions(x, y) = 1 + (x / 12) * 100 + y / 12;
        m_c->fineLabelCount = classification::makeFineLabels(regions, r, m_c->fineLabels);
        m_c->parameters.imageTol = 2.0f;
    }

    testsupport::RgbaImage8 m_photo;
    std::unique_ptr<classification::IiClassification> m_c;
};

} // namespace

TEST_F(RegionMap, PartitionsTheLevelAndRelabelsEveryFineRegionByItsMajority)
{
    classification::IiClassification& c = *m_c;
    const Rect r = c.imageRect();
    c.currentLevel = 2;
    Recorder recorder;
    c.buildRegionMap(ProgressRange(&recorder, 0.9f, 1.0f));
    ASSERT_FALSE(recorder.fractions.empty());
    EXPECT_TRUE(std::is_sorted(recorder.fractions.begin(), recorder.fractions.end()));
    EXPECT_GE(recorder.fractions.front(), 0.9f);
    EXPECT_LE(recorder.fractions.back(), 1.0f);

    // The level labels: the interior of an array two pixels larger, whose frame holds -1.
    EXPECT_EQ(domainOf(c.levelLabels), r);
    EXPECT_EQ(domainOf(c.levelLabelsFramed), corvath::utility::grow(r, 2));
    EXPECT_EQ(&c.levelLabels(r.x1, r.y1), &c.levelLabelsFramed(r.x1, r.y1));
    EXPECT_EQ(c.levelLabelsFramed(r.x1 - 2, r.y1 - 2), -1);
    EXPECT_EQ(c.regionCount, c.colourLevels().marker(2));
    Labels partition = arrayOver<int>(r);
    c.colourLevels().partition(2, partition, ProgressRange());
    EXPECT_TRUE(blitz::all(partition == c.levelLabels));

    // Every fine region carries the level label that most of its pixels have.
    std::map<int, std::map<int, int>> counts;
    for (int x = r.x1; x <= r.x2; ++x)
        for (int y = r.y1; y <= r.y2; ++y)
            ++counts[c.fineLabels(x, y)][partition(x, y)];
    for (int x = r.x1; x <= r.x2; ++x)
        for (int y = r.y1; y <= r.y2; ++y) {
            const std::map<int, int>& votes = counts[c.fineLabels(x, y)];
            int most = 0;
            for (const auto& v : votes)
                most = std::max(most, v.second);
            ASSERT_EQ(votes.at(c.regionLabels(x, y)), most) << x << ", " << y;
        }
    EXPECT_EQ(c.regionLabels(r.x1 - 1, r.y1), -1);
}

TEST_F(RegionMap, IsRebuiltFromTheFineLabelsAtEveryLevel)
{
    classification::IiClassification& c = *m_c;
    const Labels fine = c.fineLabels.copy();
    c.currentLevel = -1;
    c.buildRegionMap(ProgressRange());
    const Labels atLevelZero = c.regionLabels.copy();
    const int* storage = c.regionLabels.data();
    c.currentLevel = 5;
    c.buildRegionMap(ProgressRange());
    EXPECT_FALSE(blitz::all(c.regionLabels == atLevelZero));
    c.currentLevel = -1;
    c.buildRegionMap(ProgressRange());
    c.buildRegionMap(ProgressRange());
    EXPECT_TRUE(blitz::all(c.regionLabels == atLevelZero)) << "no relabelling of its own output";
    EXPECT_EQ(c.regionLabels.data(), storage) << "sub-sessions keep seeing the same array";
    EXPECT_TRUE(blitz::all(c.fineLabels == fine));

    // A scale factor of 1 or below uses no fine labels: the region labels are empty.
    c.parameters.imageTol = 1.0f;
    c.buildRegionMap(ProgressRange());
    EXPECT_EQ(c.regionLabels.numElements(), 0);
    EXPECT_EQ(c.regionCount, c.colourLevels().marker(0));
}

TEST(RegionMajorities, AgreeWithTheRegionModesTiesIncluded)
{
    // Few values per region, so that equal counts are common.
    std::mt19937 rng(9);
    Labels labels = arrayOver<int>({-3, 4, 40, 70}), values = arrayOver<int>({-3, 4, 40, 70});
    for (int x = -3; x <= 40; ++x)
        for (int y = 4; y <= 70; ++y) {
            labels(x, y) = int(rng() % 60) - 2;
            values(x, y) = int(rng() % 4) - 1;
        }
    std::vector<int> expected, actual{5, 5};
    classification::computeRegionModes(expected, 50, labels, values);
    classification::regionMajorities(actual, 50, labels, values, ProgressRange());
    EXPECT_EQ(actual, expected);

    // Values far apart take the general route and agree too.
    values(0, 10) = 2000000000;
    values(1, 10) = -2000000000;
    classification::computeRegionModes(expected, 50, labels, values);
    classification::regionMajorities(actual, 50, labels, values, ProgressRange());
    EXPECT_EQ(actual, expected);
}
