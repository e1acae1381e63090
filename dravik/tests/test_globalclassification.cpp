#include "analysis/globalclassification.h"
#include "common/rect.h"
#include "platform/clock.h"

#include "allocation_failure.h"
#include "sixchannel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

using classification::SixChannelClassification;
using testsupport::SixChannel;
using testsupport::SixChannelImage;
using Labels = blitz::Array<int, 2>;

namespace {

using Key = SixChannelClassification::PackedKey;

// Analysis image of a real photograph; indices deliberately not starting at 0.
const SixChannelImage& photo()
{
    static const SixChannelImage image =
        testsupport::sixChannelImage(testsupport::loadRgba8("chelsea.png"), 5, -3);
    return image;
}

// A new array over another array's index range.
template <typename T, typename U>
blitz::Array<T, 2> over(const blitz::Array<U, 2>& a)
{
    blitz::Array<T, 2> out;
    corvath::utility::fitArrayToRect(out, corvath::utility::domainOf(a));
    return out;
}

Labels labelsLike(const SixChannelImage& image) { return over<int>(image); }

struct Recorder : corvath::utility::IiUI {
    std::vector<float> fractions;
    void progress(float f, const std::string&) override { fractions.push_back(f); }
};

// Every cell's id, keyed by level and key, for comparing two runs.
std::map<std::pair<int, Key>, int> allIds(const SixChannelClassification& gc)
{
    std::map<std::pair<int, Key>, int> ids;
    for (int level = 0; level < SixChannelClassification::levelCount; ++level)
        gc.levelMap(level).forEach([&](Key k, const SixChannelClassification::Cell& c) {
            ids[{level, k}] = c.id;
        });
    return ids;
}

std::uint64_t countSum(const SixChannelClassification& gc, int level)
{
    std::uint64_t sum = 0;
    gc.levelMap(level).forEach([&](Key, const SixChannelClassification::Cell& c) { sum += c.count; });
    return sum;
}

// An image of `counts[i]` pixels of each key, in one row.
SixChannelImage keysImage(const std::vector<std::pair<SixChannel, int>>& counts)
{
    int n = 0;
    for (auto& kc : counts)
        n += kc.second;
    SixChannelImage image(1, n);
    int c = 0;
    for (auto& kc : counts)
        for (int i = 0; i < kc.second; ++i)
            image(0, c++) = kc.first;
    return image;
}

SixChannel key(int a, int b = 0) { return SixChannel(a, b, 0, 0, 0, 0); }

class ProcessorCount : public ::testing::Test {
protected:
    void TearDown() override { platform::setProcessorCountOverride(0); }
};

} // namespace

TEST(GlobalClassification, LevelsOfAPhotographCountEveryPixel)
{
    SixChannelClassification gc;
    gc.setImage(photo());
    gc.ensureLevels(ProgressRange());
    const std::uint64_t pixels = std::uint64_t(photo().numElements());

    for (int level = 0; level < SixChannelClassification::levelCount; ++level) {
        SCOPED_TRACE(level);
        EXPECT_EQ(countSum(gc, level), pixels);
        EXPECT_GE(gc.marker(level), 1);
        EXPECT_EQ(gc.marker(level), gc.labelCounter(level).next);

        // The level is the histogram of the pixels' level keys.
        std::map<Key, std::uint32_t> expected;
        for (auto it = photo().begin(); it != photo().end(); ++it)
            ++expected[SixChannelClassification::levelKey(SixChannelClassification::packKey(*it), level)];
        ASSERT_EQ(gc.levelMap(level).size(), expected.size());
        std::set<int> used;
        gc.levelMap(level).forEach([&](Key k, const SixChannelClassification::Cell& c) {
            EXPECT_EQ(c.count, expected[k]);
            EXPECT_GE(c.id, 0);
            EXPECT_LT(c.id, gc.marker(level));
            used.insert(c.id);
        });
        EXPECT_EQ(int(used.size()), gc.marker(level)) << "region labels are compact";
    }
    EXPECT_LE(gc.levelMap(6).size(), 4096u);
    EXPECT_LT(gc.marker(6), gc.marker(0));
}

TEST(GlobalClassification, RegionsAreConnectedInColourSpace)
{
    SixChannelClassification gc;
    gc.setImage(photo());
    gc.ensureLevels(ProgressRange());
    for (int level : {2, 4}) {
        const auto& map = gc.levelMap(level);
        // Union the cells of each region along their +-1 neighbours; each region must end
        // as one component.
        std::map<Key, Key> parent;
        map.forEach([&](Key k, const SixChannelClassification::Cell&) { parent[k] = k; });
        std::function<Key(Key)> root = [&](Key k) { return parent[k] == k ? k : parent[k] = root(parent[k]); };
        map.forEach([&](Key k, const SixChannelClassification::Cell& c) {
            for (int ch = 0; ch < 6; ++ch) {
                const Key up = k + (Key(1) << (8 * ch));
                if (((k >> (8 * ch)) & 0xFF) == 0xFF)
                    continue;
                const auto* n = map.find(up);
                if (n && n->id == c.id)
                    parent[root(up)] = root(k);
            }
        });
        std::map<int, std::set<Key>> roots;
        map.forEach([&](Key k, const SixChannelClassification::Cell& c) { roots[c.id].insert(root(k)); });
        for (auto& r : roots)
            EXPECT_EQ(r.second.size(), 1u) << "level " << level << " region " << r.first;
    }
}

TEST(GlobalClassification, WatershedJoinsAFlankUnlessItIsAHill)
{
    // 10 and 4: the neighbour's queue priority is 10 / 2 = 5, and 4 is not above it.
    for (auto [second, regions] : {std::pair{4, 1}, std::pair{5, 1}, std::pair{6, 2}}) {
        const SixChannelImage image = keysImage({{key(0), 10}, {key(1), second}});
        SixChannelClassification gc;
        gc.setImage(image);
        gc.ensureLevels(ProgressRange());
        EXPECT_EQ(gc.marker(0), regions) << "second count " << second;
        EXPECT_EQ(gc.levelMap(0).find(0)->id, 0) << "the larger cell seeds region 0";
        EXPECT_EQ(gc.marker(1), 1) << "keys 0 and 1 share a cell one level up";
    }
}

TEST(GlobalClassification, CountsOfMillionsOrderTheSeedsAlike)
{
    // The same flank rule with counts beyond a million pixels per colour.
    const int hill = (1 << 20) + (1 << 18);
    for (auto [second, regions] : {std::pair{600000, 1}, std::pair{700000, 2}}) {
        const SixChannelImage image = keysImage({{key(0), hill}, {key(1), second}});
        SixChannelClassification gc;
        gc.setImage(image);
        gc.ensureLevels(ProgressRange());
        EXPECT_EQ(gc.marker(0), regions) << "second count " << second;
        EXPECT_EQ(gc.levelMap(0).find(0)->id, 0);
        EXPECT_EQ(gc.levelMap(0).find(0)->count, std::uint32_t(hill));
    }
}

TEST(GlobalClassification, ACellBetweenTwoHillsGoesToTheHigherPass)
{
    // Hills 100 and 90 with a valley cell of 10 between their flanks: the valley is reached
    // from the flank whose half count (the pass) is higher.
    for (auto [left, right, winner] : {std::tuple{50, 40, 0}, std::tuple{40, 45, 1}}) {
        const SixChannelImage image = keysImage(
            {{key(0), 100}, {key(1), left}, {key(2), 10}, {key(3), right}, {key(4), 90}});
        SixChannelClassification gc;
        gc.setImage(image);
        gc.ensureLevels(ProgressRange());
        auto id = [&](int a) { return gc.levelMap(0).find(SixChannelClassification::packKey(key(a)))->id; };
        EXPECT_EQ(gc.marker(0), 2);
        EXPECT_EQ(id(0), 0);
        EXPECT_EQ(id(1), 0);
        EXPECT_EQ(id(3), 1);
        EXPECT_EQ(id(4), 1);
        EXPECT_EQ(id(2), winner) << left << " / " << right;
    }
}

TEST(GlobalClassification, EmptyImageAndEmptyMaskGiveEmptyLevels)
{
    SixChannelClassification empty;
    empty.setImage(SixChannelImage());
    empty.ensureLevels(ProgressRange());
    for (int level = 0; level < SixChannelClassification::levelCount; ++level) {
        EXPECT_EQ(empty.marker(level), 0);
        EXPECT_TRUE(empty.levelMap(level).empty());
    }

    SixChannelClassification gc;
    gc.setImage(photo());
    blitz::Array<unsigned char, 2> mask = over<unsigned char>(photo());
    mask = 0x30;  // no class bits
    gc.setMask(mask);
    gc.ensureLevels(ProgressRange());
    EXPECT_TRUE(gc.levelMap(0).empty());
    EXPECT_EQ(gc.marker(3), 0);
    Labels labels = labelsLike(photo());
    EXPECT_EQ(gc.partition(3, labels, ProgressRange()), 0);
    EXPECT_TRUE(blitz::all(labels == -1));
}

TEST(GlobalClassification, MaskedColoursPartitionToMinusOne)
{
    // Three keys; the pixels of key 200 are all masked out, those of key 0 only in part.
    const SixChannelImage image = keysImage({{key(0), 3}, {key(200, 9), 2}, {key(90), 1}});
    blitz::Array<unsigned char, 2> mask = over<unsigned char>(image);
    mask = 2;
    mask(0, 0) = 0x10;
    mask(0, 3) = mask(0, 4) = 0;
    SixChannelClassification gc;
    gc.setImage(image);
    gc.setMask(mask);
    gc.setClassMask(0x0F);
    gc.ensureLevels(ProgressRange());
    EXPECT_EQ(countSum(gc, 0), 3u);
    EXPECT_EQ(gc.levelMap(0).find(0)->count, 2u);
    EXPECT_EQ(gc.levelMap(0).find(SixChannelClassification::packKey(key(200, 9))), nullptr);

    Labels labels = labelsLike(image);
    gc.partition(0, labels, ProgressRange());
    EXPECT_EQ(labels(0, 0), labels(0, 1)) << "a masked pixel of a counted colour gets its region";
    EXPECT_GE(labels(0, 0), 0);
    EXPECT_EQ(labels(0, 3), -1);
    EXPECT_EQ(labels(0, 4), -1);
    const auto* inserted = gc.levelMap(0).find(SixChannelClassification::packKey(key(200, 9)));
    ASSERT_NE(inserted, nullptr) << "partition enters the uncounted colour";
    EXPECT_EQ(inserted->count, 0u);
    EXPECT_EQ(inserted->id, -1);
}

TEST(GlobalClassification, ProgressSplitsTheRangeAndAComputedLevelSetReportsNothing)
{
    SixChannelClassification gc;
    gc.setImage(photo());
    Recorder ui;
    gc.ensureLevels(ProgressRange(&ui, 0.5f, 1.0f));
    ASSERT_FALSE(ui.fractions.empty());
    for (std::size_t i = 1; i < ui.fractions.size(); ++i)
        EXPECT_GE(ui.fractions[i], ui.fractions[i - 1]);
    // Level steps end at 1/2, 3/4, ... of the first fifth; the watershed reports nothing.
    for (float end : {0.75f, 0.875f, 0.9375f, 0.96875f, 0.984375f, 1.0f}) {
        const float expected = 0.5f + 0.5f * 0.2f * end;
        EXPECT_NE(std::find_if(ui.fractions.begin(), ui.fractions.end(),
                               [&](float f) { return std::abs(f - expected) < 1e-6f; }),
                  ui.fractions.end())
            << end;
    }
    EXPECT_LE(ui.fractions.back(), 0.6f + 1e-6f);

    ui.fractions.clear();
    gc.ensureLevels(ProgressRange(&ui, 0.5f, 1.0f));
    EXPECT_TRUE(ui.fractions.empty());
}

namespace {
std::int64_t g_now = 0;
std::int64_t fakeNow() { return g_now; }
int abortAlways(unsigned char, void*) { return DvProgressAbort; }
} // namespace

TEST(GlobalClassification, AbortLeavesMarkersUnsetAndTheNextRunCountsAfresh)
{
    g_now = 1'000'000'000;
    platform::setCounterSource(fakeNow);
    SixChannelClassification gc;
    gc.setImage(photo());
    {
        DvInProgress progress(abortAlways, "Analyse", true);
        g_now += 200'000'000;  // past the reporter's 0.1 s throttle
        EXPECT_THROW(gc.ensureLevels(ProgressRange(&progress, 0.f, 1.f)), DvExCancel);
    }
    platform::setCounterSource(nullptr);
    for (int level = 0; level < SixChannelClassification::levelCount; ++level)
        EXPECT_EQ(gc.marker(level), -1);

    gc.ensureLevels(ProgressRange());
    SixChannelClassification fresh;
    fresh.setImage(photo());
    fresh.ensureLevels(ProgressRange());
    EXPECT_EQ(countSum(gc, 0), std::uint64_t(photo().numElements()));
    EXPECT_EQ(allIds(gc), allIds(fresh));
}

namespace {
// Answers "abort" at its n-th report (counting from 1).
struct AbortAt : corvath::utility::IiUI {
    int left;
    explicit AbortAt(int n) : left(n) {}
    void progress(float, const std::string&) override
    {
        if (--left == 0)
            throw DvExCancel();
    }
};
} // namespace

TEST_F(ProcessorCount, ACancelOrFailureWhileLevelsFloodLeavesEveryMarkerUnset)
{
    platform::setProcessorCountOverride(8);
    const SixChannelImage small = photo()(blitz::Range(5, 84), blitz::Range(-3, 76)).copy();
    SixChannelClassification fresh;
    fresh.setImage(small);
    fresh.ensureLevels(ProgressRange());
    const auto expected = allIds(fresh);

    auto expectUnsetThenRerun = [&](SixChannelClassification& gc) {
        for (int level = 0; level < SixChannelClassification::levelCount; ++level)
            EXPECT_EQ(gc.marker(level), -1);
        gc.ensureLevels(ProgressRange());
        EXPECT_EQ(allIds(gc), expected);
    };
    // The later reports come from the coarser histograms, counted while the finer levels
    // already flood.
    for (int report : {2, 4, 6}) {
        SCOPED_TRACE(report);
        SixChannelClassification gc;
        gc.setImage(small);
        AbortAt ui(report);
        EXPECT_THROW(gc.ensureLevels(ProgressRange(&ui, 0.f, 1.f)), DvExCancel);
        expectUnsetThenRerun(gc);
    }
    // An allocation failure on any thread, at any point.
    for (long n = 0;; n += 3) {
        SCOPED_TRACE(n);
        SixChannelClassification gc;
        gc.setImage(small);
        testsupport::failAllocation(n);
        bool threw = false;
        try {
            gc.ensureLevels(ProgressRange());
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        const bool failed = testsupport::allocationFailed();
        testsupport::stopFailingAllocations();
        if (!failed)
            break;
        if (threw) {
            expectUnsetThenRerun(gc);
        } else {
            // The failed allocation's owner retried or did without it; the result stands.
            EXPECT_EQ(allIds(gc), expected);
        }
    }
}

TEST(GlobalClassification, RecomputingAfterClearNumbersRegionsFromZero)
{
    SixChannelClassification gc;
    gc.setImage(photo());
    gc.ensureLevels(ProgressRange());
    const auto first = allIds(gc);
    const int marker = gc.marker(1);
    gc.clearLevels();
    gc.resetMarkers();
    gc.ensureLevels(ProgressRange());
    EXPECT_EQ(gc.marker(1), marker);
    EXPECT_EQ(allIds(gc), first);
}

TEST_F(ProcessorCount, OneThreadAndEightThreadsAgree)
{
    platform::setProcessorCountOverride(1);
    SixChannelClassification one;
    one.setImage(photo());
    one.ensureLevels(ProgressRange());
    platform::setProcessorCountOverride(8);
    SixChannelClassification eight;
    eight.setImage(photo());
    eight.ensureLevels(ProgressRange());
    EXPECT_EQ(allIds(one), allIds(eight));
    for (int level = 0; level < SixChannelClassification::levelCount; ++level)
        EXPECT_EQ(one.marker(level), eight.marker(level));
}

namespace {

// FNV-1a over every level's marker, every cell (in key order: key, id, count) and the
// partitions at levels 0 and 3: pins the exact regions, ties included.
std::uint64_t resultDigest(SixChannelClassification& gc, const SixChannelImage& image)
{
    std::uint64_t h = 0xCBF29CE484222325ull;
    auto mix = [&h](std::uint64_t v) {
        for (int b = 0; b < 8; ++b) {
            h ^= (v >> (8 * b)) & 0xFF;
            h *= 0x100000001B3ull;
        }
    };
    for (int level = 0; level < SixChannelClassification::levelCount; ++level) {
        mix(std::uint64_t(std::int64_t(gc.marker(level))));
        std::map<Key, SixChannelClassification::Cell> cells;
        gc.levelMap(level).forEach([&](Key k, const SixChannelClassification::Cell& c) { cells[k] = c; });
        for (const auto& [k, c] : cells) {
            mix(k);
            mix(std::uint64_t(std::int64_t(c.id)));
            mix(c.count);
        }
    }
    for (int level : {0, 3}) {
        Labels labels = labelsLike(image);
        gc.partition(level, labels, ProgressRange());
        for (auto it = labels.begin(); it != labels.end(); ++it)
            mix(std::uint64_t(std::int64_t(*it)));
    }
    return h;
}

// The photograph with deterministic noise of up to +-3 per channel: mostly distinct colours,
// many of them single pixels, as in a large noisy photograph.
SixChannelImage noisyPhoto()
{
    SixChannelImage image = photo().copy();
    std::uint32_t state = 12345;
    for (auto it = image.begin(); it != image.end(); ++it)
        for (int c = 0; c < 6; ++c) {
            state = state * 1664525u + 1013904223u;
            (*it)[c] = static_cast<unsigned char>(std::clamp(int((*it)[c]) + int(state >> 29) - 3, 0, 255));
        }
    return image;
}

} // namespace

// Faster queue or table layouts must not move a single cell to another region.
TEST_F(ProcessorCount, RegionsMatchThePinnedResult)
{
    const SixChannelImage noisy = noisyPhoto();
    for (unsigned threads : {1u, 8u}) {
        SCOPED_TRACE(threads);
        platform::setProcessorCountOverride(threads);
        SixChannelClassification clean;
        clean.setImage(photo());
        clean.ensureLevels(ProgressRange());
        EXPECT_EQ(resultDigest(clean, photo()), 10916527476856056209ull);
        SixChannelClassification rough;
        rough.setImage(noisy);
        rough.ensureLevels(ProgressRange());
        EXPECT_EQ(resultDigest(rough, noisy), 5489450311211637924ull);
    }
}

// Levels too large for one-word queue ranks keep their records spelled out: same regions.
TEST_F(ProcessorCount, SpelledOutQueueRecordsMatchThePinnedResult)
{
    SixChannelClassification::forceWideQueueRecords(true);
    platform::setProcessorCountOverride(1);
    const SixChannelImage noisy = noisyPhoto();
    SixChannelClassification clean;
    clean.setImage(photo());
    clean.ensureLevels(ProgressRange());
    SixChannelClassification rough;
    rough.setImage(noisy);
    rough.ensureLevels(ProgressRange());
    SixChannelClassification::forceWideQueueRecords(false);
    EXPECT_EQ(resultDigest(clean, photo()), 10916527476856056209ull);
    EXPECT_EQ(resultDigest(rough, noisy), 5489450311211637924ull);
}
