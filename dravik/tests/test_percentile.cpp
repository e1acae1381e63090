#include "common/helpers.h"
#include "analysis/percentile.h"
#include "analysis/rancour.h"

#include "photo_arrays.h"

#include "platform/clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

using classification::BytePair;
using corvath::utility::domainOf;
using corvath::utility::Rect;

namespace {

template <typename T>
using Array2 = blitz::Array<T, 2>;
using Window = Array2<int>;

// The percentile of the values under the window at (x, y), straight from its definition:
// the lower-rank order statistic, moved toward the next distinct value by the fraction.
template <typename S>
int brutePercentile(const Array2<S>& s, const Window& w, int x, int y, float p)
{
    std::vector<int> v;
    for (int r = w.lbound(0); r <= w.ubound(0); ++r)
        for (int c = w.lbound(1); c <= w.ubound(1); ++c)
            if (w(r, c) != 0)
                v.push_back(s(x + r, y + c));
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const int n = int(v.size());
    const float t = p * float(n - 1) + 1.f;
    const int lower = int(std::floor(t + 0.001f)), upper = int(std::ceil(t - 0.001f));
    const int value = v[lower - 1];
    if (v[upper - 1] == value)
        return value;
    const int next = *std::upper_bound(v.begin(), v.end(), value);
    return value + int(float(next - value) * (t - float(lower)) + 0.5f);
}

Window ones(int r1, int c1, int r2, int c2)
{
    Window w(blitz::Range(r1, r2), blitz::Range(c1, c2));
    w = 1;
    return w;
}

// A ragged window with holes and negative offsets: rows of several runs.
Window raggedWindow()
{
    Window w(blitz::Range(-2, 2), blitz::Range(-3, 3));
    const char* rows[] = {"..xx.x.", "xxx.xxx", ".x...x.", "xxxxxxx", "x.....x"};
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 7; ++c)
            w(r - 2, c - 3) = rows[r][c] == 'x' ? 1 : 0;
    return w;
}

template <typename T>
Array2<T> filled(const Array2<T>& like, T v)
{
    Array2<T> a(like.shape());
    a.reindexSelf(like.base());
    a = v;
    return a;
}

// Every element inside the output domain equals the brute force; every other keeps `untouched`.
template <typename S, typename Get>
void expectMatches(const Array2<S>& source, const Window& w, const Rect& r, float p, Get got,
                   int untouched)
{
    EXPECT_EQ(r, domainOf(source).minkowskiDifference(domainOf(w)));
    const Rect d = domainOf(source);
    for (int x = d.x1; x <= d.x2; ++x)
        for (int y = d.y1; y <= d.y2; ++y) {
            const int want = r.contains(x, y) ? brutePercentile(source, w, x, y, p) : untouched;
            ASSERT_EQ(got(x, y), want) << "at " << x << ", " << y << ", p " << p;
        }
}

struct Recorder : corvath::utility::IiUI {
    std::vector<float> fractions;
    int throwAt = -1;
    void progress(float f, const std::string&) override
    {
        fractions.push_back(f);
        if (int(fractions.size()) == throwAt)
            throw DvExCancel();
    }
};

Array2<unsigned short> widened(const Array2<unsigned char>& a, int factor)
{
    Array2<unsigned short> w(a.shape());
    w.reindexSelf(a.base());
    w = blitz::cast<unsigned short>(a) * factor;
    return w;
}

} // namespace

TEST(PercentileFilter, MedianOfThreeByThreeMatchesBruteForce)
{
    const auto photo = testsupport::photoChannel(61, 83, 0, -9, 14);
    const Window w = ones(-1, -1, 1, 1);
    auto out = filled(photo, (unsigned char)3);
    const Rect r = classification::processOneChannelImage(out, photo, w, 0, 255, 0.5f, nullptr, 0, 1);
    EXPECT_EQ(r, (Rect{-8, 15, 50, 95}));
    expectMatches(photo, w, r, 0.5f, [&](int x, int y) { return int(out(x, y)); }, 3);

    // Through the histogram: a rank that rounds to the same order statistic.
    auto viaHistogram = filled(photo, (unsigned char)3);
    classification::processOneChannelImage(viaHistogram, photo, w, 0, 255, 0.4999f, nullptr, 0, 1);
    EXPECT_TRUE(blitz::all(viaHistogram == out));
}

TEST(PercentileFilter, DiskWindowPairMatchesBruteForce)
{
    const auto photo = testsupport::photoChannel(57, 70, 1, 30, -40);
    for (int size : {9, 4}) {
        const Window disk = classification::diskWindow(size);
        Array2<BytePair> out(photo.shape());
        out.reindexSelf(photo.base());
        out = BytePair(7, 7);
        const Rect r = classification::Rancour::processTwoChannelImage(out, photo, disk, 0, 255, 0.16f,
                                                                        0.84f, nullptr, 0, 1);
        expectMatches(photo, disk, r, 0.16f, [&](int x, int y) { return int(out(x, y)[0]); }, 7);
        expectMatches(photo, disk, r, 0.84f, [&](int x, int y) { return int(out(x, y)[1]); }, 7);
    }
}

TEST(PercentileFilter, RaggedWindowAndInterpolatedPercentiles)
{
    const auto photo = testsupport::photoChannel(40, 50, 2, -5, 5);
    const Window w = raggedWindow();
    for (float p : {0.f, 0.25f, 0.37f, 0.5f, 0.9f, 1.f}) {
        auto out = filled(photo, (unsigned char)1);
        const Rect r = classification::processOneChannelImageBody(out, photo, w, 0, 255, p, nullptr, 0, 1);
        expectMatches(photo, w, r, p, [&](int x, int y) { return int(out(x, y)); }, 1);
    }
}

TEST(PercentileFilter, DriverReflectsTheWindow)
{
    const auto photo = testsupport::photoChannel(30, 36, 0, 0, 0);
    const Window w = raggedWindow();
    Window reflected(blitz::Range(-2, 2), blitz::Range(-3, 3));
    for (int r = -2; r <= 2; ++r)
        for (int c = -3; c <= 3; ++c)
            reflected(r, c) = w(-r, -c);
    auto viaDriver = filled(photo, (unsigned char)0), viaBody = filled(photo, (unsigned char)0);
    classification::processOneChannelImageDriver(viaDriver, photo, w, 0, 255, 0.3f, nullptr, 0, 1);
    classification::processOneChannelImageBody(viaBody, photo, reflected, 0, 255, 0.3f, nullptr, 0, 1);
    EXPECT_TRUE(blitz::all(viaDriver == viaBody));
    // An off-centre single entry shifts the image, the other way round for the driver.
    Array2<unsigned char> shifted(blitz::Range(2, 31), blitz::Range(-1, 34));
    const Rect r = classification::processOneChannelImageDriver(shifted, photo, ones(2, -1, 2, -1), 0, 255, 0.7f,
                                                                nullptr, 0, 1);
    EXPECT_EQ(r, (Rect{2, -1, 31, 34}));
    EXPECT_TRUE(blitz::all(shifted == photo(blitz::Range(0, 29), blitz::Range(0, 35)).reindex({2, -1})));
}

// The instruction sets this processor runs, each forced in turn; the choice goes back to
// automatic when the test ends.
struct EveryLaneChoice {
    std::vector<classification::PercentileLanes> choices;
    EveryLaneChoice()
    {
        using classification::PercentileLanes;
        for (PercentileLanes l : {PercentileLanes::portable, PercentileLanes::avx2, PercentileLanes::avx512})
            if (classification::usePercentileLanes(l))
                choices.push_back(l);
        classification::usePercentileLanes(PercentileLanes::automatic);
    }
    ~EveryLaneChoice() { classification::usePercentileLanes(classification::PercentileLanes::automatic); }
};

// Wide rows walk the filter a block of pixels at a time; noise makes each cursor jump far
// from the pixel above, flat patches leave whole blocks unchanged, and the byte range's ends
// test the comparisons at 0 and 255. Rows are not a multiple of any lane count, the values
// fill all eight bits or (shifted) seven, and the windows include one of the 255 values byte
// lanes can count and the envelopes' disks at 6 and 24 MP (112 and 421 entries, the latter
// always on the sliding histogram, whose byte counts are split over copies). Every instruction set this processor has must match the brute force. A
// transposed copy reads the same windows through a strided view, one pixel at a time, and
// must agree.
TEST(PercentileFilter, WideRowsOfNoiseFlatPatchesAndExtremesMatchBruteForce)
{
    Array2<unsigned char> source(blitz::Range(-3, 36), blitz::Range(5, 154));
    std::mt19937 rng(11);
    for (int x = -3; x <= 36; ++x)
        for (int y = 5; y <= 154; ++y) {
            const unsigned v = rng();
            if (y < 40)
                source(x, y) = static_cast<unsigned char>(v);          // noise
            else if (y < 80)
                source(x, y) = (v % 7 == 0) ? 255 : (v % 7 == 1 ? 0 : 254);  // the ends
            else if (y < 120)
                source(x, y) = static_cast<unsigned char>(x < 15 ? 90 : 91);  // flat
            else
                source(x, y) = static_cast<unsigned char>((x * 3 + y) % 256);  // ramps
        }
    Array2<unsigned char> sevenBits(source.shape());
    sevenBits.reindexSelf(source.base());
    sevenBits = source / 2;
    const EveryLaneChoice lanes;
    for (const auto choice : lanes.choices) {
        classification::usePercentileLanes(choice);
        SCOPED_TRACE(int(choice));
        for (const Window& w : {classification::diskWindow(9), raggedWindow(), ones(-7, -8, 7, 8),
                                 classification::diskWindow(12), classification::diskWindow(23)}) {
            for (const Array2<unsigned char>& values : {source, sevenBits}) {
                for (float p : {0.f, 0.16f, 0.5f, 1.f}) {
                    auto out = filled(values, (unsigned char)6);
                    const Rect r = classification::processOneChannelImageBody(out, values, w, 0, 255, p, nullptr, 0, 1);
                    expectMatches(values, w, r, p, [&](int x, int y) { return int(out(x, y)); }, 6);
                }
                Array2<BytePair> pairs(values.shape());
                pairs.reindexSelf(values.base());
                pairs = BytePair(6, 6);
                const Rect r = classification::Rancour::processTwoChannelImage(pairs, values, w, 0, 255, 1.f / 6.f,
                                                                                5.f / 6.f, nullptr, 0, 1);
                expectMatches(values, w, r, 1.f / 6.f, [&](int x, int y) { return int(pairs(x, y)[0]); }, 6);
                expectMatches(values, w, r, 5.f / 6.f, [&](int x, int y) { return int(pairs(x, y)[1]); }, 6);
            }

            // The same windows read through a view whose second index steps through storage rows.
            Array2<unsigned char> stored(blitz::Range(5, 154), blitz::Range(-3, 36));
            stored = source.transpose(1, 0);
            const Array2<unsigned char> strided = stored.transpose(1, 0);
            ASSERT_NE(strided.stride(1), 1);
            auto direct = filled(source, (unsigned char)6), viaStride = filled(source, (unsigned char)6);
            classification::processOneChannelImageBody(direct, source, w, 0, 255, 0.3f, nullptr, 0, 1);
            classification::processOneChannelImageBody(viaStride, strided, w, 0, 255, 0.3f, nullptr, 0, 1);
            EXPECT_TRUE(blitz::all(direct == viaStride));
        }

        // All zeros: no bit to search.
        Array2<unsigned char> zeros(40, 70), out(40, 70);
        zeros = 0;
        out = 9;
        const Rect r = classification::processOneChannelImageBody(out, zeros, classification::diskWindow(9), 0, 255,
                                                                  0.84f, nullptr, 0, 1);
        EXPECT_TRUE(blitz::all(out(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2)) == 0));
    }
}

// Large windows filter rows in pairs from one histogram, each row's own counts read past the
// other row's edge gathered into a vector: output heights of one to five rows (the first row
// and an odd last one go alone), widths around one block of sixteen (the last block moved
// back), and windows whose edge just fills, or just overflows, one 64-byte vector or the
// 256-byte gather buffer (one run of 49 cells; sixteen or seventeen single cells), and a
// window whose two-row union has fewer runs than itself.
TEST(PercentileFilter, PairedRowsMatchBruteForce)
{
    const auto sparseRow = [](int cells) {
        Window w(blitz::Range(0, 0), blitz::Range(0, 2 * cells - 2));
        w = 0;
        for (int c = 0; c < cells; ++c)
            w(0, 2 * c) = 1;
        return w;
    };
    // Rows of alternating cells: the union of two rows' windows has fewer runs than one.
    Window interleaved(blitz::Range(0, 3), blitz::Range(0, 4));
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c)
            interleaved(r, c) = (r + c) % 2 == 0 ? 1 : 0;
    std::mt19937 rng(23);
    const EveryLaneChoice lanes;
    for (const auto choice : lanes.choices) {
        classification::usePercentileLanes(choice);
        SCOPED_TRACE(int(choice));
        for (const Window& w : {classification::diskWindow(23), ones(-1, -24, 1, 24), ones(-1, -25, 1, 25),
                                 sparseRow(16), sparseRow(17), interleaved}) {
            for (int height : {1, 2, 3, 4, 5})
                for (int width : {15, 16, 17, 40}) {
                    SCOPED_TRACE(std::to_string(height) + " x " + std::to_string(width));
                    Array2<unsigned char> source(blitz::Range(w.lbound(0), w.ubound(0) + height - 1),
                                                 blitz::Range(w.lbound(1), w.ubound(1) + width - 1));
                    for (auto& v : source)
                        v = static_cast<unsigned char>(rng() % 3 == 0 ? 128 : rng());
                    auto out = filled(source, (unsigned char)6);
                    Rect r = classification::processOneChannelImageBody(out, source, w, 0, 255, 0.3f, nullptr, 0, 1);
                    expectMatches(source, w, r, 0.3f, [&](int x, int y) { return int(out(x, y)); }, 6);
                    Array2<BytePair> pairs(source.shape());
                    pairs.reindexSelf(source.base());
                    pairs = BytePair(6, 6);
                    r = classification::Rancour::processTwoChannelImage(pairs, source, w, 0, 255, 1.f / 6.f, 5.f / 6.f,
                                                                        nullptr, 0, 1);
                    expectMatches(source, w, r, 1.f / 6.f, [&](int x, int y) { return int(pairs(x, y)[0]); }, 6);
                    expectMatches(source, w, r, 5.f / 6.f, [&](int x, int y) { return int(pairs(x, y)[1]); }, 6);
                }
        }
    }
}

TEST(PercentileFilter, SmallCasesByHand)
{
    Array2<unsigned char> s(1, 4), out(1, 4);
    s(0, 0) = 40, s(0, 1) = 10, s(0, 2) = 30, s(0, 3) = 20;
    out = 0;
    // Percentile 0.25 over 10, 20, 30, 40: 10 + (int)(10 * 0.75 + 0.5).
    classification::processOneChannelImageBody(out, s, ones(0, 0, 0, 3), 0, 255, 0.25f, nullptr, 0, 1);
    EXPECT_EQ(out(0, 0), 18);
    // A row of three: the median of three.
    out = 0;
    const Rect r = classification::processOneChannelImageBody(out, s, ones(0, -1, 0, 1), 0, 255, 0.5f, nullptr, 0, 1);
    EXPECT_EQ(r, (Rect{0, 1, 0, 2}));
    EXPECT_EQ(out(0, 1), 30);
    EXPECT_EQ(out(0, 2), 20);
    EXPECT_EQ(out(0, 0), 0);
}

TEST(PercentileFilter, DegenerateWindows)
{
    const auto photo = testsupport::photoChannel(20, 25, 1, 3, -2);
    // One entry: the source itself, for every percentile.
    for (float p : {0.f, 0.3f, 1.f}) {
        auto out = filled(photo, (unsigned char)0);
        classification::processOneChannelImageBody(out, photo, ones(0, 0, 0, 0), 0, 255, p, nullptr, 0, 1);
        EXPECT_TRUE(blitz::all(out == photo));
    }
    // No entry at all: zeros over the output domain.
    Window none(blitz::Range(-1, 1), blitz::Range(0, 2));
    none = 0;
    auto out = filled(photo, (unsigned char)9);
    Array2<BytePair> pairs(photo.shape());
    pairs.reindexSelf(photo.base());
    pairs = BytePair(9, 9);
    const Rect r = classification::processOneChannelImageBody(out, photo, none, 0, 255, 0.5f, nullptr, 0, 1);
    classification::Rancour::processTwoChannelImage(pairs, photo, none, 0, 255, 0.1f, 0.9f, nullptr, 0, 1);
    for (int x = 3; x <= 22; ++x)
        for (int y = -2; y <= 22; ++y) {
            ASSERT_EQ(out(x, y), r.contains(x, y) ? 0 : 9);
            ASSERT_EQ(pairs(x, y)[1], r.contains(x, y) ? 0 : 9);
        }
    // Wider than the source: nothing to write.
    out = 9;
    EXPECT_TRUE(classification::processOneChannelImageBody(out, photo, ones(0, 0, 20, 0), 0, 255, 0.5f, nullptr, 0, 1)
                    .isEmpty());
    EXPECT_TRUE(blitz::all(out == 9));
    // Percentiles outside 0..1 act as 0 and 1.
    auto low = filled(photo, (unsigned char)0), clamped = filled(photo, (unsigned char)0);
    classification::processOneChannelImageBody(low, photo, raggedWindow(), 0, 255, -3.f, nullptr, 0, 1);
    classification::processOneChannelImageBody(clamped, photo, raggedWindow(), 0, 255, 0.f, nullptr, 0, 1);
    EXPECT_TRUE(blitz::all(low == clamped));
    classification::processOneChannelImageBody(low, photo, raggedWindow(), 0, 255, 7.f, nullptr, 0, 1);
    classification::processOneChannelImageBody(clamped, photo, raggedWindow(), 0, 255, 1.f, nullptr, 0, 1);
    EXPECT_TRUE(blitz::all(low == clamped));
}

TEST(PercentileFilter, SixteenBitAgreesWithEightBit)
{
    const auto photo = testsupport::photoChannel(45, 52, 0, -3, 8);
    const auto wide = widened(photo, 1);
    const Window square = ones(-1, -1, 1, 1), disk = classification::diskWindow(5);
    for (const auto& [w, p] : {std::pair{square, 0.5f}, {square, 0.4999f}, {disk, 0.16f}, {disk, 0.84f}}) {
        auto narrowOut = filled(photo, (unsigned char)0);
        auto wideOut = filled(wide, (unsigned short)0);
        classification::processOneChannelImage(narrowOut, photo, w, 0, 255, p, nullptr, 0, 1);
        classification::processOneChannelImage(wideOut, wide, w, 0, 255, p, nullptr, 0, 1);
        EXPECT_TRUE(blitz::all(blitz::cast<int>(wideOut) == blitz::cast<int>(narrowOut))) << p;
    }
}

TEST(PercentileFilter, SixteenBitCoversItsWholeRangeWhateverTheCallerPasses)
{
    // Full-range samples with the 0..255 that the matting smoothing passes for every type.
    const auto photo = testsupport::photoChannel(33, 41, 1, 0, 0);
    auto wide = widened(photo, 257);
    wide(5, 5) = 65535;
    wide(6, 7) = 0;
    for (const auto& [w, p] : {std::pair{ones(-1, -1, 1, 1), 0.5f}, {raggedWindow(), 0.37f}, {raggedWindow(), 1.f}}) {
        auto out = filled(wide, (unsigned short)1);
        const Rect r = classification::processOneChannelImageBody(out, wide, w, 0, 255, p, nullptr, 0, 1);
        expectMatches(wide, w, r, p, [&](int x, int y) { return int(out(x, y)); }, 1);
    }
}

TEST(PercentileFilter, ChannelOfAColourArray)
{
    using Colour16 = corvath::utility::Colour<unsigned short>;
    const auto photo = testsupport::photoChannel(24, 30, 2, -1, -1);
    Array2<Colour16> image(photo.shape()), smoothed(photo.shape());
    image.reindexSelf(photo.base());
    smoothed.reindexSelf(photo.base());
    for (int x = -1; x <= 22; ++x)
        for (int y = -1; y <= 28; ++y)
            image(x, y) = Colour16(0, photo(x, y) * 200, 0, 0);
    smoothed = Colour16(1, 2, 3, 4);
    const Array2<unsigned short> green = image[1];
    const Rect r = classification::processOneChannelImage(smoothed[1], green, ones(-1, -1, 1, 1), 0, 255, 0.5f,
                                                          nullptr, 0, 1);
    expectMatches(Array2<unsigned short>(green.copy()), ones(-1, -1, 1, 1), r, 0.5f,
                  [&](int x, int y) { return int(smoothed(x, y)[1]); }, 2);
    EXPECT_TRUE(blitz::all(smoothed[0] == 1) && blitz::all(smoothed[2] == 3) && blitz::all(smoothed[3] == 4));
}

TEST(PercentileFilter, ProgressEveryTwoHundredFiftySixthRowAndCancel)
{
    Array2<unsigned char> s(blitz::Range(-300, 299), blitz::Range(0, 4)), out(blitz::Range(-300, 299), blitz::Range(0, 4));
    std::mt19937 rng(2);
    for (auto it = s.begin(); it != s.end(); ++it)
        *it = static_cast<unsigned char>(rng());
    out = 0;
    Recorder ui;
    const Rect r = classification::processOneChannelImageBody(out, s, ones(-1, 0, 1, 1), 0, 255, 0.5f, &ui, 0.2f, 0.4f);
    ASSERT_EQ(r, (Rect{-299, 0, 298, 3}));
    ASSERT_EQ(ui.fractions.size(), 3u);  // rows -256, 0 and 256
    for (int k = 0; k < 3; ++k) {
        const float f = float(-256 + 256 * k + 299 + 1) / 598.f;
        EXPECT_FLOAT_EQ(ui.fractions[k], (1 - f) * 0.2f + f * 0.4f);
    }

    // Cancelled at row 0: the rows up to it are written, the rest not.
    Recorder cancelling;
    cancelling.throwAt = 2;
    out = 0;
    const auto reference = filled(out, (unsigned char)0);
    EXPECT_THROW(classification::processOneChannelImageBody(out, s, ones(-1, 0, 1, 1), 0, 255, 0.5f, &cancelling, 0, 1),
                 DvExCancel);
    EXPECT_EQ(out(0, 0), brutePercentile(s, ones(-1, 0, 1, 1), 0, 0, 0.5f));
    EXPECT_TRUE(blitz::all(out(blitz::Range(1, 299), blitz::Range::all()) == 0));
}

TEST(PercentileFilter, DestinationMustCoverTheOutput)
{
    const auto photo = testsupport::photoChannel(10, 10, 0, 0, 0);
    Array2<unsigned char> small(blitz::Range(1, 8), blitz::Range(1, 7));
    EXPECT_THROW(classification::processOneChannelImageBody(small, photo, ones(-1, -1, 1, 1), 0, 255, 0.5f, nullptr, 0, 1),
                 std::invalid_argument);
}

// The envelope jobs' bands, the last handed out cut in halves, together give the whole
// image's envelopes, for heights around the band sizes and any thread count.
TEST(PercentileFilter, EnvelopeBandsCoverEveryRow)
{
    std::mt19937 rng(4);
    for (int texture : {0, 22})
        for (int height : {1, 65, 300, 1633, 4000}) {
            classification::RgbaView8 source(height, 3);
            for (auto it = source.begin(); it != source.end(); ++it)
                *it = blitz::TinyVector<unsigned char, 4>(rng() % 256, rng() % 256, rng() % 256, 255);
            classification::EnvelopeSettings settings;
            settings.textureSize = texture;
            const classification::ByteChannel green = source.extractComponent((unsigned char)0, 1, 4);
            classification::ByteChannel opening(height, 3), closing(height, 3);
            classification::envelopeBody(green, opening, closing, settings);
            for (int threads : {1, 3, 8, 12}) {
                platform::setProcessorCountOverride(unsigned(threads));
                classification::SixChannelImage six(height, 3);
                six = classification::SixChannelPixel(7);
                const classification::Rancour work(six, source, settings);
                for (int job = 0; job < work.jobCount(); ++job)
                    work(job);
                platform::setProcessorCountOverride(0);
                SCOPED_TRACE(std::to_string(texture) + " " + std::to_string(height) + " " + std::to_string(threads));
                EXPECT_TRUE(blitz::all(six.extractComponent((unsigned char)0, 1, 6) == opening));
                EXPECT_TRUE(blitz::all(six.extractComponent((unsigned char)0, 4, 6) == closing));
            }
        }
}
