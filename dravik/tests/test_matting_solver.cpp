#include "matting/solver.h"

#include "platform/clock.h"
#include "testimage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

using namespace corvath::matting;
using classification::MaskPatch;
using classification::StatusByteArray;

namespace {

template <typename T>
using Image = blitz::Array<Colour<T>, 2>;

constexpr unsigned char keep = 2, drop = 4, blend = 8, marked = 128, decided = 64;

template <typename T>
struct Scene {
    Image<T> source;
    Image<T> output;
    StatusByteArray status;
    Rect rectangle;
    FloatPair factor;
};

template <typename T>
bool sameImage(const Image<T>& a, const Image<T>& b)
{
    for (int i = a.lbound(0); i <= a.ubound(0); ++i)
        for (int j = a.lbound(1); j <= a.ubound(1); ++j)
            for (int c = 0; c < 4; ++c)
                if (a(i, j)[c] != b(i, j)[c])
                    return false;
    return true;
}

using Rgb = std::array<int, 3>;

// rows x cols pixels at full resolution, the status at 1 / factor of it (rounded up). Along
// the second index: Keep (`from`, red by default) for session columns below `a`, Delete
// (`to`, blue) from `b` on, a ramp between them over the Blend columns between. Colours are
// given in 8-bit units. Every status byte carries bit 128.
template <typename T, int V>
Scene<T> bandScene(int rows, int cols, int factor, int a, int b, Rgb from = {255, 0, 0},
                   Rgb to = {0, 0, 255})
{
    Scene<T> s;
    s.source.resize(rows, cols);
    s.output.resize(rows, cols);
    s.output = Colour<T>(T(7));
    const int srows = (rows + factor - 1) / factor, scols = (cols + factor - 1) / factor;
    s.status.resize(srows, scols);
    for (int i = 0; i < srows; ++i)
        for (int j = 0; j < scols; ++j)
            s.status(i, j) = marked | (j < a ? keep : j >= b ? drop : blend);
    const int fa = a * factor, fb = b * factor;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const float t = j < fa ? 0.f : j >= fb ? 1.f : (float(j - fa) + 0.5f) / float(fb - fa);
            const auto mix = [&](int c) { return T((float(from[c]) * (1.f - t) + float(to[c]) * t) * V / 255.f); };
            s.source(i, j) = Colour<T>(mix(0), mix(1), mix(2), T(V));
        }
    s.rectangle = {0, 0, srows - 1, scols - 1};
    s.factor = {float(factor), float(factor)};
    return s;
}

template <int V, typename T>
int solve(Scene<T>& s, const MaskPatch& patch = MaskPatch(), ProgressRange progress = ProgressRange())
{
    return detail::solveMatteOnScale<T, V>(s.source, s.status, s.output, s.rectangle, s.factor, patch,
                                           progress, detail::SolveOptions());
}

template <typename T, int V>
void checkBand()
{
    Scene<T> s = bandScene<T, V>(64, 64, 1, 24, 40);
    ASSERT_EQ(solve<V>(s), 0);
    for (int i = 0; i < 64; ++i) {
        for (int j = 0; j < 64; ++j) {
            const Colour<T>& o = s.output(i, j);
            for (int c = 0; c < 4; ++c)
                ASSERT_LE(int(o[c]), V) << i << "," << j;
            if (j > 0) {
                ASSERT_LE(o[3], s.output(i, j - 1)[3]) << "alpha rises at " << i << "," << j;
            }
            if (j < 24) {
                ASSERT_TRUE(o[0] == s.source(i, j)[0] && o[2] == s.source(i, j)[2] && o[3] == V);
            }
            if (j >= 40) {
                ASSERT_TRUE(o[0] == 0 && o[1] == 0 && o[2] == 0 && o[3] == 0);
            }
            ASSERT_EQ(s.status(i, j) & (marked | decided), decided);
        }
        EXPECT_GE(double(s.output(i, 24)[3]) * 255.0 / V, 250.0);
        EXPECT_LE(double(s.output(i, 39)[3]) * 255.0 / V, 5.0);
    }
}

struct Recorder : corvath::utility::IiUI {
    std::vector<float> fractions;
    void progress(float f, const std::string&) override { fractions.push_back(f); }
};

struct CancelAfter : corvath::utility::IiUI {
    int left;
    explicit CancelAfter(int n) : left(n) {}
    void progress(float, const std::string&) override
    {
        if (--left < 0)
            throw DvExCancel();
    }
};

// A crop of a photograph with a ring-shaped Blend band between a Keep disk and Delete.
template <typename T, int V>
Scene<T> photoScene(int factor)
{
    const testsupport::RgbaImage8 photo = testsupport::loadRgba8("chelsea.png");
    const int rows = 97, cols = 121;
    Scene<T> s;
    s.source.resize(rows, cols);
    s.output.resize(rows, cols);
    s.output = Colour<T>(T(0));
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const std::uint8_t* p = photo.row(40 + i) + 4 * (120 + j);
            const auto scale = [](int v) { return T(v * V / 255); };
            s.source(i, j) = Colour<T>(scale(p[0]), scale(p[1]), scale(p[2]), T(V));
        }
    const int srows = (rows + factor - 1) / factor, scols = (cols + factor - 1) / factor;
    s.status.resize(srows, scols);
    for (int i = 0; i < srows; ++i)
        for (int j = 0; j < scols; ++j) {
            const double d = std::hypot(i * factor - rows / 2.0, j * factor - cols / 2.0);
            s.status(i, j) = marked | (d < 25 ? keep : d > 40 ? drop : blend);
        }
    s.rectangle = {0, 0, srows - 1, scols - 1};
    s.factor = {float(factor), float(factor)};
    return s;
}

} // namespace

TEST(MattingSolver, BandOfThreePixelTypes)
{
    checkBand<unsigned char, 255>();
    checkBand<unsigned short, 65535>();
    checkBand<unsigned short, 32768>();
}

template <typename T, int V>
void checkCloseColours()
{
    // Keep and Delete lie 8 units apart, closer than the opacity ramp starts: the band stays
    // opaque and keeps its colour, whatever the sample range.
    Scene<T> s = bandScene<T, V>(24, 24, 1, 8, 16, {100, 100, 100}, {108, 100, 100});
    ASSERT_EQ(solve<V>(s), 0);
    for (int i = 0; i < 24; ++i)
        for (int j = 8; j < 16; ++j) {
            ASSERT_EQ(s.output(i, j)[3], V) << i << "," << j;
            ASSERT_EQ(s.output(i, j)[0], s.source(i, j)[0]);
        }
}

TEST(MattingSolver, CloseKeepAndDropColoursStayOpaque)
{
    checkCloseColours<unsigned char, 255>();
    checkCloseColours<unsigned short, 65535>();
    checkCloseColours<unsigned short, 32768>();
}

TEST(MattingSolver, NothingMarkedWritesNothing)
{
    Scene<unsigned char> s = bandScene<unsigned char, 255>(16, 16, 1, 6, 10);
    Scene<unsigned char> before = bandScene<unsigned char, 255>(16, 16, 1, 6, 10);
    s.status = s.status & 127;
    const StatusByteArray statusBefore = s.status.copy();
    EXPECT_EQ(solve<255>(s), 0);
    EXPECT_TRUE(sameImage(s.output, before.output));
    EXPECT_TRUE(blitz::all(s.status == statusBefore));

    // Marked but all decided already.
    s.status = s.status | (marked | decided);
    EXPECT_EQ(solve<255>(s), 0);
    EXPECT_TRUE(sameImage(s.output, before.output));
}

TEST(MattingSolver, BandWithoutKeepSamplesFails)
{
    Scene<unsigned short> s = bandScene<unsigned short, 65535>(32, 32, 1, 12, 20);
    Scene<unsigned short> before = bandScene<unsigned short, 65535>(32, 32, 1, 12, 20);
    for (int i = 0; i < 32; ++i)
        for (int j = 0; j < 12; ++j)
            s.status(i, j) = keep;
    const StatusByteArray statusBefore = s.status.copy();
    EXPECT_EQ(solve<65535>(s), 1);
    EXPECT_TRUE(sameImage(s.output, before.output));
    EXPECT_TRUE(blitz::all(s.status == statusBefore));
}

TEST(MattingSolver, OddImageAtFactorTwoStaysInside)
{
    // The session rectangle maps to 66 x 64 full-resolution pixels; the image has 65 x 63.
    for (const Rect r : {Rect{0, 0, 32, 31}, Rect{5, 3, 32, 31}}) {
        Scene<unsigned char> s = bandScene<unsigned char, 255>(65, 63, 2, 12, 20);
        s.rectangle = r;
        ASSERT_EQ(solve<255>(s), 0);
        for (int i = r.x1 * 2 + 1; i < 65; ++i)
            for (int j = r.y1 * 2 + 1; j < 62; ++j)
                ASSERT_LE(s.output(i, j + 1)[3], s.output(i, j)[3]) << i << "," << j;
        EXPECT_EQ(s.output(64, r.y1 * 2)[3], 255);
        EXPECT_EQ(s.output(64, 62)[3], 0);
        // Nothing outside the rectangle is written.
        for (int i = 0; i < 65; ++i)
            for (int j = 0; j < 63; ++j)
                if (i < r.x1 * 2 || j < r.y1 * 2) {
                    ASSERT_EQ(s.output(i, j)[3], 7);
                }
    }
}

TEST(MattingSolver, OneThreadAndEightAgree)
{
    Scene<unsigned char> one = photoScene<unsigned char, 255>(1);
    Scene<unsigned char> eight = photoScene<unsigned char, 255>(1);
    platform::setProcessorCountOverride(1);
    ASSERT_EQ(solve<255>(one), 0);
    platform::setProcessorCountOverride(8);
    ASSERT_EQ(solve<255>(eight), 0);
    platform::setProcessorCountOverride(0);
    EXPECT_TRUE(sameImage(one.output, eight.output));
    EXPECT_TRUE(blitz::all(one.status == eight.status));
}

TEST(MattingSolver, EstimatingOnlyWhatTheOutputReadsChangesNothing)
{
    for (int factor : {1, 2}) {
        Scene<unsigned short> lean = photoScene<unsigned short, 32768>(factor);
        Scene<unsigned short> full = photoScene<unsigned short, 32768>(factor);
        MaskPatch patch;
        patch.valueA = 0.7f;
        patch.valueB = 0.4f;
        detail::SolveOptions every;
        every.estimateEveryOpenPixel = true;
        ASSERT_EQ(solve<32768>(lean, patch), 0);
        ASSERT_EQ((detail::solveMatteOnScale<unsigned short, 32768>(
                      full.source, full.status, full.output, full.rectangle, full.factor, patch,
                      ProgressRange(), every)),
                  0);
        EXPECT_TRUE(sameImage(lean.output, full.output)) << "factor " << factor;
    }
}

TEST(MattingSolver, PhotoBandIsSoftAndInRange)
{
    Scene<unsigned short> s = photoScene<unsigned short, 32768>(2);
    ASSERT_EQ(solve<32768>(s), 0);
    int partial = 0;
    for (int i = 0; i < 97; ++i)
        for (int j = 0; j < 121; ++j) {
            for (int c = 0; c < 4; ++c)
                ASSERT_LE(s.output(i, j)[c], 32768);
            partial += s.output(i, j)[3] > 0 && s.output(i, j)[3] < 32768;
        }
    EXPECT_GT(partial, 500);
}

TEST(MattingSolver, CancelPassesThroughAndJoinsWorkers)
{
    for (unsigned threads : {1u, 8u})
        for (int reports : {0, 3, 12}) {
            platform::setProcessorCountOverride(threads);
            Scene<unsigned char> s = photoScene<unsigned char, 255>(1);
            const StatusByteArray statusBefore = s.status.copy();
            CancelAfter ui(reports);
            EXPECT_THROW(solve<255>(s, MaskPatch(), ProgressRange(&ui, 0.f, 1.f)),
                         DvExCancel);
            EXPECT_TRUE(blitz::all(s.status == statusBefore));
        }
    platform::setProcessorCountOverride(0);
}

TEST(MattingSolver, ReportsPhasesInOrder)
{
    Scene<unsigned char> s = bandScene<unsigned char, 255>(32, 32, 1, 12, 20);
    Recorder ui;
    ASSERT_EQ(solve<255>(s, MaskPatch(), ProgressRange(&ui, 0.f, 1.f)), 0);
    ASSERT_GE(ui.fractions.size(), 4u);
    EXPECT_FLOAT_EQ(ui.fractions.front(), 0.05f);
    EXPECT_FLOAT_EQ(ui.fractions.back(), 0.98f);
    // The smoothing phase runs from 0.85 down to 0.75.
    EXPECT_TRUE(std::any_of(ui.fractions.begin(), ui.fractions.end(),
                            [](float f) { return f > 0.835f && f < 0.845f; }));
}
