#include "mask/maskcore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

using namespace classification;
using corvath::utility::domainOf;

namespace {

template <typename T>
ColourImage<T> imageOver(const Rect& r, const Colour<T>& value)
{
    ColourImage<T> im(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2));
    im = value;
    return im;
}

StatusByteArray bytesOver(const Rect& r, unsigned char value)
{
    StatusByteArray s(blitz::Range(r.x1, r.x2), blitz::Range(r.y1, r.y2));
    s = value;
    return s;
}

// A soft-edged disc of one textured colour over another, at full resolution n x n, with its
// working image at 1 / f, the true alpha, and the classification a careful user would give it:
// Keep where the working pixel is wholly inside, Delete where wholly outside, Blend between,
// everything pending.
template <typename T>
struct DiscScene {
    int f, n, m;
    float M;
    ColourImage<T> source, out, working;
    ColourImage<unsigned char> session;
    blitz::Array<float, 2> alpha;
    StatusByteArray status, blend;
    MarkDistances distances;

    DiscScene(int factor, int fullScale) : f(factor), n(96 * factor), m(96), M(float(fullScale))
    {
        source.resize(n, n);
        alpha.resize(n, n);
        std::mt19937 rng(17);
        const float c = n / 2.f, R = n * 0.3f, h = 3.f * f;
        const auto sample = [&](float v8) { return T(std::lround(std::min(255.f, v8) * M / 255.f)); };
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                const float d = std::hypot(i + 0.5f - c, j + 0.5f - c);
                const float a = std::clamp((R + h - d) / (2 * h), 0.f, 1.f);
                alpha(i, j) = a;
                const float fg[3] = {210.f + rng() % 12, 150.f + rng() % 12, 40.f + rng() % 12};
                const float bg[3] = {30.f + rng() % 12, 80.f + rng() % 12, 190.f + rng() % 12};
                for (int ch = 0; ch < 3; ++ch)
                    source(i, j)[ch] = sample(a * fg[ch] + (1 - a) * bg[ch]);
                source(i, j)[3] = T(fullScale);
            }
        out.resize(n, n);
        out = Colour<T>(1, 2, 3, 4);

        working.resize(m, m);
        session.resize(m, m);
        status.resize(m, m);
        for (int i = 0; i < m; ++i)
            for (int j = 0; j < m; ++j) {
                float sum[3] = {0, 0, 0}, a = 0;
                for (int u = 0; u < f; ++u)
                    for (int v = 0; v < f; ++v) {
                        for (int ch = 0; ch < 3; ++ch)
                            sum[ch] += source(i * f + u, j * f + v)[ch];
                        a += alpha(i * f + u, j * f + v);
                    }
                for (int ch = 0; ch < 3; ++ch) {
                    working(i, j)[ch] = T(std::lround(sum[ch] / (f * f)));
                    session(i, j)[ch] = (unsigned char)std::lround(sum[ch] / (f * f) * 255.f / M);
                }
                working(i, j)[3] = T(fullScale);
                session(i, j)[3] = 255;
                a /= f * f;
                status(i, j) = (a >= 1.f ? 2 : a <= 0.f ? 4 : 8) | 128;
            }
        blend.resize(m, m);
        blend = 0;
        computeMarkDistances(distances, status, ProgressRange());
    }

    Rect rect() const { return {0, 0, m - 1, m - 1}; }
    MaskCoreSession core() const { return {session, 1.0f}; }
    unsigned char workingStatusAt(int i, int j) const { return status(i / f, j / f) & 15; }
};

template <typename T>
int runCore(DiscScene<T>& s, int M, bool eightBitWorking, int model)
{
    const FloatPair scale{float(s.f), float(s.f)};
    if (eightBitWorking) {
        if constexpr (sizeof(T) == 2)
            if (M == 32768)
                return invokeMaskCoreVariant<T>(s.core(), s.out, s.source, s.session, s.status, s.rect(),
                                            s.rect(), scale, s.blend, s.distances, model, 0.f,
                                            ProgressRange());
        return invokeMaskCore<T>(s.core(), s.out, s.source, s.session, s.status, s.rect(), s.rect(),
                                 scale, s.blend, s.distances, model, 0.f, ProgressRange());
    }
    if constexpr (sizeof(T) == 2) {
        if (M == 32768)
            return computeMaskCoreVariant<T>(s.core(), s.out, s.source, s.working, s.status,
                                             s.rect(), s.rect(), scale, s.blend, s.distances, model,
                                             0.f, ProgressRange());
    }
    return computeMaskCore<T>(s.core(), s.out, s.source, s.working, s.status, s.rect(), s.rect(),
                              scale, s.blend, s.distances, model, 0.f, ProgressRange());
}

struct DiscCase {
    int fullScale;
    int factor;
    int model;
    bool eightBitWorking;
};

class MaskCoreDisc : public ::testing::TestWithParam<DiscCase> {
protected:
    template <typename T>
    void check()
    {
        const DiscCase c = GetParam();
        DiscScene<T> s(c.factor, c.fullScale);
        EXPECT_EQ(runCore(s, c.fullScale, c.eightBitWorking, c.model), 0);

        double errorSum = 0;
        int ring = 0;
        for (int i = 0; i < s.n; ++i)
            for (int j = 0; j < s.n; ++j) {
                const Colour<T>& o = s.out(i, j);
                const unsigned char w = s.workingStatusAt(i, j);
                if (w == 8) {
                    errorSum += std::abs(float(o[3]) - s.alpha(i, j) * s.M);
                    ++ring;
                }
                // Wholly inside or outside the band at working resolution (all four bilinear
                // neighbours of one class): exact.
                bool allKeep = true, allDelete = true;
                for (int u = -1; u <= 1; ++u)
                    for (int v = -1; v <= 1; ++v) {
                        const int a = std::clamp(i / s.f + u, 0, s.m - 1), b = std::clamp(j / s.f + v, 0, s.m - 1);
                        allKeep = allKeep && (s.status(a, b) & 2);
                        allDelete = allDelete && (s.status(a, b) & 4);
                    }
                if (allKeep) {
                    ASSERT_EQ(int(o[3]), c.fullScale) << i << "," << j;
                    ASSERT_EQ(int(o[0]), int(s.source(i, j)[0]));
                    ASSERT_EQ(int(o[2]), int(s.source(i, j)[2]));
                }
                if (allDelete) {
                    ASSERT_EQ(int(o[3]), 0) << i << "," << j;
                    ASSERT_EQ(int(o[0]) + int(o[1]) + int(o[2]), 0);
                }
                ASSERT_LE(int(o[3]), c.fullScale);
            }
        ASSERT_GT(ring, 0);
        const double mae = errorSum / ring / s.M;
        EXPECT_LT(mae, 0.10) << "ring pixels " << ring;
        RecordProperty("ring_mae_percent", std::to_string(mae * 100));
        for (int i = 0; i < s.m; ++i)
            for (int j = 0; j < s.m; ++j)
                ASSERT_TRUE(s.status(i, j) & 64) << i << "," << j;
        for (int j = 0; j < s.m; ++j)
            EXPECT_FALSE(s.status(s.m - 1, j) & 128);
    }
};

TEST_P(MaskCoreDisc, ReproducesTheTrueAlphaInTheRing)
{
    if (GetParam().fullScale == 255)
        check<unsigned char>();
    else
        check<unsigned short>();
}

std::vector<DiscCase> discCases()
{
    std::vector<DiscCase> v;
    for (int M : {255, 65535, 32768})
        for (int f : {1, 2})
            for (int model : {1, 2})
                v.push_back({M, f, model, f == 2 && M != 255});
    return v;
}

INSTANTIATE_TEST_SUITE_P(AllTypes, MaskCoreDisc, ::testing::ValuesIn(discCases()),
                         [](const ::testing::TestParamInfo<DiscCase>& i) {
                             return "M" + std::to_string(i.param.fullScale) + "_f" +
                                    std::to_string(i.param.factor) + "_model" +
                                    std::to_string(i.param.model) +
                                    (i.param.eightBitWorking ? "_8bitWorking" : "");
                         });

// A strip of working columns: Keep, n Blend columns, Delete, one colour everywhere, scale 1.
struct Strip {
    static constexpr int rows = 5;
    int cols;
    ColourImage<unsigned char> source, out;
    StatusByteArray status, blend;
    MarkDistances distances;

    explicit Strip(int blendColumns, Colour<unsigned char> colour = Colour<unsigned char>(90, 120, 150, 255))
        : cols(blendColumns + 2)
    {
        const Rect r{0, 0, rows - 1, cols - 1};
        source.reference(imageOver(r, colour));
        out.reference(imageOver(r, Colour<unsigned char>(7, 7, 7, 7)));
        status.reference(bytesOver(r, 8 | 128));
        for (int i = 0; i < rows; ++i) {
            status(i, 0) = 2 | 128;
            status(i, cols - 1) = 4 | 128;
        }
        blend.reference(bytesOver(r, 0));
        computeMarkDistances(distances, status, ProgressRange());
    }
    Rect rect() const { return {0, 0, rows - 1, cols - 1}; }
    int run(int model = ColourPyramids, float minimumOpacity = 1.f)
    {
        return computeMaskCore<unsigned char>({source, minimumOpacity}, out, source, source, status,
                                              rect(), rect(), {1.f, 1.f}, blend, distances, model,
                                              0.f, ProgressRange());
    }
};

} // namespace

TEST(MaskCore, CoincidingColoursGiveTheSmoothRampAlone)
{
    Strip s(5);
    s.run();
    for (int j = 0; j < s.cols; ++j) {
        float r = j == 0 ? 0.f : j == s.cols - 1 ? 1.f : s.distances(2, j)[0] / (s.distances(2, j)[0] + s.distances(2, j)[1]);
        const float ramp = r * r * r * (r * (6.f * r - 15.f) + 10.f);
        EXPECT_EQ(int(s.out(2, j)[3]), int((255.f + 0.99f) * (1.f - ramp))) << j;
        // I - A E with E = 0: the source colour.
        if (j < s.cols - 1) {
            EXPECT_EQ(int(s.out(2, j)[1]), 120);
        }
    }
    EXPECT_EQ(int(s.out(2, 0)[3]), 255);
    EXPECT_EQ(int(s.out(2, s.cols - 1)[3]), 0);
    EXPECT_EQ(int(s.out(2, s.cols - 1)[0]), 0);
}

TEST(MaskCore, OpacityGateLeavesTranslucentSourcePixels)
{
    Strip s(3);
    s.source(1, 2)[3] = 254;
    s.run();
    EXPECT_EQ(int(s.out(1, 2)[0]), 7);
    EXPECT_EQ(int(s.out(1, 2)[3]), 7);
    EXPECT_NE(int(s.out(2, 2)[3]), 7);

    Strip t(3);
    t.source(1, 2)[3] = 128;
    t.run(ColourPyramids, 0.5f);
    EXPECT_NE(int(t.out(1, 2)[3]), 7);
}

TEST(MaskCore, DecidedOrNotPendingPixelsAreNotWritten)
{
    Strip s(3);
    s.status(1, 2) |= 64;
    s.status(3, 3) &= 0x7F;
    s.run();
    EXPECT_EQ(int(s.out(1, 2)[3]), 7);
    EXPECT_EQ(int(s.out(3, 3)[3]), 7);
    EXPECT_NE(int(s.out(2, 2)[3]), 7);
    // Bit 64 marks the pending pixels only; the last column loses bit 128.
    EXPECT_FALSE(s.status(3, 3) & 64);
    EXPECT_TRUE(s.status(2, 3) & 64);
    EXPECT_TRUE(s.status(2, 3) & 128);
    EXPECT_EQ(s.status(Strip::rows - 1, 2), 8 | 64);
}

TEST(MaskCore, ProjectsOntoTheSegmentBetweenTheClassColours)
{
    // Keep red, Delete blue, the middle column an exact half mix: the colour projection
    // finds A = 1/2 and gives back the foreground colour.
    const Rect r{0, 0, 8, 8};
    ColourImage<unsigned char> source = imageOver(r, Colour<unsigned char>(200, 0, 0, 255));
    StatusByteArray status = bytesOver(r, 2 | 128);
    for (int i = 0; i <= 8; ++i)
        for (int j = 5; j <= 8; ++j) {
            source(i, j) = Colour<unsigned char>(0, 0, 200, 255);
            status(i, j) = 4 | 128;
        }
    for (int i = 0; i <= 8; ++i) {
        source(i, 4) = Colour<unsigned char>(100, 0, 100, 255);
        status(i, 4) = 8 | 128;
    }
    ColourImage<unsigned char> out = imageOver(r, Colour<unsigned char>(0, 0, 0, 0));
    StatusByteArray blend = bytesOver(r, 0);
    MarkDistances d;
    computeMarkDistances(d, status, ProgressRange());
    computeMaskCore<unsigned char>({source, 1.f}, out, source, source, status, r, r, {1.f, 1.f},
                                   blend, d, ColourPyramids, 0.f, ProgressRange());
    EXPECT_EQ(int(out(4, 4)[3]), 127);
    EXPECT_NEAR(int(out(4, 4)[0]), 200, 1);
    EXPECT_NEAR(int(out(4, 4)[2]), 0, 1);
}

TEST(MaskCore, PyramidWithoutWeightUsesThePixelsOwnColour)
{
    // No Delete pixel at all: the background estimate is the pixel itself, so the blue Blend
    // column projects fully onto the background and its foreground colour is the Keep red.
    const Rect r{0, 0, 6, 6};
    ColourImage<unsigned char> source = imageOver(r, Colour<unsigned char>(0, 0, 200, 255));
    StatusByteArray status = bytesOver(r, 8 | 128);
    for (int i = 0; i <= 6; ++i) {
        source(i, 0) = Colour<unsigned char>(200, 0, 0, 255);
        status(i, 0) = 2 | 128;
    }
    ColourImage<unsigned char> out = imageOver(r, Colour<unsigned char>(0, 0, 0, 9));
    StatusByteArray blend = bytesOver(r, 0);
    MarkDistances d;
    computeMarkDistances(d, status, ProgressRange());
    computeMaskCore<unsigned char>({source, 1.f}, out, source, source, status, r, r, {1.f, 1.f},
                                   blend, d, ColourPyramids, 0.f, ProgressRange());
    EXPECT_EQ(int(out(3, 3)[3]), 0);
    EXPECT_EQ(int(out(3, 3)[0]), 200);
    EXPECT_EQ(int(out(3, 3)[2]), 0);
}

TEST(MaskCore, HalfScaleSixteenBitClampsAtItsFullScale)
{
    const Rect r{0, 0, 4, 6};
    using C16 = Colour<unsigned short>;
    ColourImage<unsigned short> source = imageOver(r, C16(40000, 100, 100, 32768));
    StatusByteArray status = bytesOver(r, 8 | 128);
    for (int i = 0; i <= 4; ++i) {
        status(i, 0) = 2 | 128;
        status(i, 6) = 4 | 128;
    }
    ColourImage<unsigned short> out = imageOver(r, C16(1, 1, 1, 1));
    StatusByteArray blend = bytesOver(r, 0);
    MarkDistances d;
    computeMarkDistances(d, status, ProgressRange());
    computeMaskCoreVariant<unsigned short>({ColourImage<unsigned char>(), 1.f}, out, source, source,
                                           status, r, r, {1.f, 1.f}, blend, d, ColourPyramids, 0.f,
                                           ProgressRange());
    EXPECT_EQ(int(out(2, 0)[3]), 32768);
    for (int j = 1; j < 6; ++j) {
        EXPECT_EQ(int(out(2, j)[0]), 32768) << j;
        EXPECT_LE(int(out(2, j)[3]), 32768);
        EXPECT_GT(int(out(2, j)[3]), 0);
    }
    // An alpha of 32767 fails the opacity gate.
    source(1, 3)[3] = 32767;
    out = C16(1, 1, 1, 1);
    status = 8 | 128;
    computeMaskCoreVariant<unsigned short>({ColourImage<unsigned char>(), 1.f}, out, source, source,
                                           status, r, r, {1.f, 1.f}, blend, d, ColourPyramids, 0.f,
                                           ProgressRange());
    EXPECT_EQ(int(out(1, 3)[3]), 1);
}

TEST(MaskCore, EightBitWorkingImageIsScaledToTheSixteenBitRange)
{
    DiscScene<unsigned short> wide(2, 65535), narrow(2, 65535);
    runCore(wide, 65535, false, ColourPyramids);
    runCore(narrow, 65535, true, ColourPyramids);
    double diff = 0;
    int mixed = 0;
    for (int i = 0; i < wide.n; ++i)
        for (int j = 0; j < wide.n; ++j)
            if (wide.workingStatusAt(i, j) == 8) {
                diff += std::abs(int(wide.out(i, j)[3]) - int(narrow.out(i, j)[3]));
                ++mixed;
            }
    EXPECT_LT(diff / mixed, 0.01 * 65535);
}

TEST(MaskCore, RectanglesBeyondTheArraysAreClipped)
{
    Strip s(4);
    const Rect wide{-5, -5, 40, 40};
    computeMaskCore<unsigned char>({s.source, 1.f}, s.out, s.source, s.source, s.status, wide,
                                   wide, {2.f, 2.f}, s.blend, s.distances, RegionColours, 0.f,
                                   ProgressRange());
    EXPECT_EQ(int(s.out(0, 0)[3]), 255);
    // Region colours sampled in a corner only: pixels beyond it read its nearest pixels.
    Strip u(4);
    computeMaskCore<unsigned char>({u.source, 1.f}, u.out, u.source, u.source, u.status, u.rect(),
                                   Rect{0, 0, 1, 1}, {1.f, 1.f}, u.blend, u.distances,
                                   RegionColours, 1.f, ProgressRange());
    EXPECT_EQ(int(u.out(4, 5)[3]), 0);
    // An empty rectangle writes nothing and leaves the status alone.
    Strip t(4);
    computeMaskCore<unsigned char>({t.source, 1.f}, t.out, t.source, t.source, t.status,
                                   Rect{3, 3, 2, 2}, t.rect(), {1.f, 1.f}, t.blend, t.distances,
                                   ColourPyramids, 0.f, ProgressRange());
    EXPECT_EQ(int(t.out(0, 0)[3]), 7);
    EXPECT_EQ(t.status(0, 0), 2 | 128);
}

TEST(MaskCore, ReportsProgressAndPassesACancelThrough)
{
    struct Recorder : corvath::utility::IiUI {
        std::vector<float> f;
        void progress(float v, const std::string&) override { f.push_back(v); }
    } rec;
    DiscScene<unsigned char> s(1, 255);
    computeMaskCore<unsigned char>(s.core(), s.out, s.source, s.working, s.status, s.rect(),
                                   s.rect(), {1.f, 1.f}, s.blend, s.distances, ColourPyramids, 0.f,
                                   ProgressRange(&rec, 0.f, 1.f));
    ASSERT_FALSE(rec.f.empty());
    EXPECT_TRUE(std::is_sorted(rec.f.begin(), rec.f.end()));
    EXPECT_LE(rec.f.back(), 1.f);
    EXPECT_GT(rec.f.back(), 0.9f);

    struct Canceller : corvath::utility::IiUI {
        int calls = 0;
        void progress(float, const std::string&) override
        {
            if (++calls > 4)
                throw DvExCancel();
        }
    } cancel;
    DiscScene<unsigned char> t(1, 255);
    EXPECT_THROW(computeMaskCore<unsigned char>(t.core(), t.out, t.source, t.working, t.status,
                                                t.rect(), t.rect(), {1.f, 1.f}, t.blend,
                                                t.distances, ColourPyramids, 0.f,
                                                ProgressRange(&cancel, 0.f, 1.f)),
                 DvExCancel);
}

TEST(Median5, NetworkGivesTheMedianOfEveryOrder)
{
    std::array<int, 5> v{};
    for (int code = 0; code < 3 * 3 * 3 * 3 * 3; ++code) {
        int c = code;
        for (int& x : v) {
            x = c % 3;
            c /= 3;
        }
        std::array<int, 5> sorted = v;
        std::sort(sorted.begin(), sorted.end());
        ASSERT_EQ(median5(v[0], v[1], v[2], v[3], v[4]), sorted[2]) << code;
    }
}

TEST(MaskCore, SessionViewOfTheClassificationObject)
{
    RgbaView8 image(4, 6);
    image = Colour<unsigned char>(1, 2, 3, 255);
    IiClassification c(image);
    const MaskCoreSession s = maskCoreSession(c);
    EXPECT_EQ(s.minimumOpacity, 1.0f);
    EXPECT_EQ(s.image.data(), image.data());
}
