// Mask generation through the call interface on a marked synthetic photograph (analysis
// stood in for by a width map), and the forced-edge pass on its own.
#include "client_progress.h"
#include "testimage.h"

#include "mask/generatemask.h"
#include "session/session.h"
#include "dravik.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <tuple>
#include <utility>
#include <vector>

using classification::Bytes;
using classification::ColourImage;
using classification::FloatPair;
using classification::ForcedEdge;

namespace {

constexpr int W = 64, H = 48;

template <typename T>
struct Picture {
    std::vector<T> samples;
    DvImageDesc desc;
};

template <typename T>
Picture<T> pictureFrom(const testsupport::RgbaImage8& photo, int pixelType, int full)
{
    Picture<T> p;
    p.samples.resize(photo.samples.size());
    for (std::size_t i = 0; i < p.samples.size(); ++i)
        p.samples[i] = T((photo.samples[i] * full + 127) / 255);
    p.desc = {photo.width, photo.height, unsigned(photo.width * 4 * sizeof(T)), pixelType, p.samples.data()};
    return p;
}

class MarkedSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_photo = testsupport::syntheticPhoto(W, H, 7);
        for (std::size_t i = 3; i < m_photo.samples.size(); i += 4)
            m_photo.samples[i] = 255;
        m_library = DvInit();
        const DvImageDesc d{W, H, m_photo.strideBytes(), DvPixelRgba8, m_photo.samples.data()};
        m_session = DvBeginSession(m_library, d);
        m_status = DvNewStatusImage(m_library, d);
        ASSERT_TRUE(m_session && m_status);
        m_widths.resize(H, W);
        m_widths = 2;
        classification().widthMap.reference(m_widths);
        m_session->analysed = 1;
        // Keep above row 20, Delete below row 26, Unassigned between.
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                at(x, y) = y < 20 ? 2 : y > 26 ? 4 : 1;
    }
    void TearDown() override { EXPECT_EQ(DvFinish(m_library), DvOk); }

    classification::IiClassification& classification()
    {
        return static_cast<DvInSession*>(m_session)->classification();
    }
    unsigned char& at(int x, int y) { return m_status->data[std::size_t(y) * m_status->stride + x]; }
    std::vector<unsigned char> snapshot() const
    {
        return {m_status->data, m_status->data + std::size_t(m_status->stride) * m_status->height};
    }
    int undoCount()
    {
        int n = -1;
        EXPECT_EQ(DvNumAvailableUndo(m_session, &n), DvOk);
        return n;
    }
    template <typename T>
    DvResult generate(Picture<T>& cut, const Picture<T>& source, const DvArea* area = nullptr,
                      const DvForcedEdge* edges = nullptr, int edgeCount = 0,
                      const DvMaskPatch* patches = nullptr, int patchCount = 0)
    {
        return DvGenerateMask(m_session, area, cut.desc, source.desc, m_status, edges, edgeCount, 1.f,
                              0.5f, patches, patchCount);
    }
    bool pendingBitsLeft()
    {
        for (unsigned char s : snapshot())
            if (s & 0xC0)
                return true;
        return false;
    }

    testsupport::RgbaImage8 m_photo;
    DvLibrary* m_library = nullptr;
    DvSession* m_session = nullptr;
    DvImage* m_status = nullptr;
    Bytes m_widths;
};

template <typename T>
T alphaAt(const Picture<T>& p, int x, int y)
{
    return p.samples[(std::size_t(y) * W + x) * 4 + 3];
}

template <typename T>
void expectCutOut(const Picture<T>& cut, const Picture<T>& source, int full)
{
    for (int x = 0; x < W; x += 7) {
        EXPECT_EQ(alphaAt(cut, x, 5), full) << x;
        EXPECT_EQ(cut.samples[(5 * W + x) * 4], source.samples[(5 * W + x) * 4]);
        EXPECT_EQ(alphaAt(cut, x, 40), 0) << x;
    }
}

} // namespace

TEST_F(MarkedSession, EveryPixelTypeGivesAnOpaqueObjectAndATransparentBackground)
{
    {
        auto source = pictureFrom<std::uint8_t>(m_photo, DvPixelRgba8, 255);
        auto cut = source;
        cut.desc.data = cut.samples.data();
        ASSERT_EQ(generate(cut, source), DvOk);
        expectCutOut(cut, source, 255);
    }
    {
        auto source = pictureFrom<std::uint16_t>(m_photo, DvPixelRgba16, 65535);
        auto cut = source;
        cut.desc.data = cut.samples.data();
        ASSERT_EQ(generate(cut, source), DvOk);
        expectCutOut(cut, source, 65535);
    }
    {
        auto source = pictureFrom<std::uint16_t>(m_photo, DvPixelRgba16H, 32768);
        auto cut = source;
        cut.desc.data = cut.samples.data();
        ASSERT_EQ(generate(cut, source), DvOk);
        expectCutOut(cut, source, 32768);
    }
    EXPECT_FALSE(pendingBitsLeft());
}

TEST_F(MarkedSession, TheWholeImageKeepsItsAutoFillAsAnUndoStep)
{
    for (int y = 27; y < H; ++y)
        for (int x = 0; x < W; ++x)
            at(x, y) = 1;
    auto source = pictureFrom<std::uint8_t>(m_photo, DvPixelRgba8, 255);
    auto cut = source;
    cut.desc.data = cut.samples.data();
    const int before = undoCount();
    ASSERT_EQ(generate(cut, source), DvOk);
    EXPECT_EQ(undoCount(), before + 1);
    EXPECT_EQ(at(10, 40) & 0x0F, 4);  // filled as Delete
    EXPECT_EQ(alphaAt(cut, 10, 45), 0);
    EXPECT_FALSE(pendingBitsLeft());
}

TEST_F(MarkedSession, AnAreaLimitedCallLeavesTheStatusAndTheUndoCountAsTheyWere)
{
    // The area holds Keep and Unassigned only: auto-fill runs inside it and is taken back.
    const DvArea area{10, 10, 20, 14};
    auto source = pictureFrom<std::uint8_t>(m_photo, DvPixelRgba8, 255);
    const auto statusBefore = snapshot();
    const int before = undoCount();
    {
        auto cut = source;
        cut.desc.data = cut.samples.data();
        ASSERT_EQ(generate(cut, source, &area), DvOk);
        EXPECT_EQ(snapshot(), statusBefore);
        EXPECT_EQ(undoCount(), before);
        // Outside the area (mapped at factor 1) nothing is written; inside, the Unassigned
        // rows were filled as Delete for the call.
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                if (y < 10 || y > 23 || x < 10 || x > 29) {
                    ASSERT_EQ(alphaAt(cut, x, y), 255) << x << "," << y;
                }
            }
        EXPECT_EQ(alphaAt(cut, 15, 22), 0);
    }
    {
        // Made transparent where the source is opaque, so that a write-back would show.
        auto cut = source;
        cut.desc.data = cut.samples.data();
        for (std::size_t i = 3; i < cut.samples.size(); i += 4)
            cut.samples[i] = 9;
        const auto cutBefore = cut.samples;
        testsupport::RacingClock cancel(DvProgressAbort);
        ASSERT_EQ(generate(cut, source, &area), DvCancelled);
        EXPECT_EQ(snapshot(), statusBefore);
        EXPECT_EQ(undoCount(), before);
        EXPECT_EQ(cut.samples, cutBefore);
    }
}

TEST_F(MarkedSession, OnlyACutOutTheStatusImageIsAReductionOfIsWritten)
{
    // The area, in status-image pixels, over the Unassigned band: filled and blended there.
    const DvArea area{10, 10, 20, 20};
    // Cut-outs of which no factor makes the 64 x 48 status image: refused, nothing written.
    for (const auto& [w, h] : {std::pair{192, 144}, {96, 72}, {32, 24}, {128, 48}, {65, 49}}) {
        auto source = pictureFrom<std::uint8_t>(testsupport::syntheticPhoto(w, h, 3), DvPixelRgba8, 255);
        auto cut = source;
        cut.desc.data = cut.samples.data();
        EXPECT_EQ(generate(cut, source, &area), DvBadImage) << w << "x" << h;
        EXPECT_EQ(cut.samples, source.samples) << w << "x" << h;
    }
    // Reductions by 2, 4 and 8, exact or rounded up: written, and only over the area's pixels.
    for (const auto& [w, h, f] : {std::tuple{128, 96, 2}, {127, 95, 2}, {256, 192, 4}, {505, 377, 8}}) {
        auto source = pictureFrom<std::uint8_t>(testsupport::syntheticPhoto(w, h, 3), DvPixelRgba8, 255);
        auto cut = source;
        cut.desc.data = cut.samples.data();
        for (std::size_t i = 3; i < cut.samples.size(); i += 4)
            cut.samples[i] = 9;
        ASSERT_EQ(generate(cut, source, &area), DvOk) << w << "x" << h;
        int inside = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool in = x >= 10 * f && x < 30 * f && y >= 10 * f && y < 30 * f;
                const int alpha = cut.samples[(std::size_t(y) * w + x) * 4 + 3];
                if (!in) {
                    ASSERT_EQ(alpha, 9) << w << "x" << h << " at " << x << "," << y;
                }
                inside += in && alpha != 9;
            }
        EXPECT_GT(inside, 0) << w << "x" << h;
    }
    EXPECT_FALSE(pendingBitsLeft());
}

TEST_F(MarkedSession, NothingIsWrittenWithoutSegmentationOrWithAnEmptyExclusivePatch)
{
    auto source = pictureFrom<std::uint8_t>(m_photo, DvPixelRgba8, 255);
    auto cut = source;
    cut.desc.data = cut.samples.data();
    for (std::size_t i = 3; i < cut.samples.size(); i += 4)
        cut.samples[i] = 9;
    const auto cutBefore = cut.samples;
    const auto statusBefore = snapshot();

    DvMaskPatch outside{};
    outside.area = {W + 5, 0, {4, 4, 4, DvPixelStatus, nullptr}};
    outside.exclusive = 1;
    outside.method = 3;
    EXPECT_EQ(generate(cut, source, nullptr, nullptr, 0, &outside, 1), DvRefused);
    EXPECT_EQ(cut.samples, cutBefore);
    EXPECT_EQ(snapshot(), statusBefore);

    const DvArea beyond{W, 0, 5, 5};
    EXPECT_EQ(generate(cut, source, &beyond), DvRefused);

    m_session->analysed = 0;
    EXPECT_EQ(generate(cut, source), DvNoSegmentation);
    EXPECT_EQ(cut.samples, cutBefore);
}

TEST_F(MarkedSession, PatchesReachingPastTheImageAreClipped)
{
    // Bitmaps larger than the image, hanging over every side.
    const int pw = W + 10, ph = H + 10;
    std::vector<unsigned char> bits(std::size_t(pw) * ph, 1);
    DvMaskPatch patches[2]{};
    patches[0].area = {-5, -5, {pw, ph, unsigned(pw), DvPixelStatus, bits.data()}};
    patches[0].method = 3;
    patches[0].level = 0.3f;
    patches[1].area = {-5, 15, {pw, 15, unsigned(pw), DvPixelStatus, bits.data()}};
    patches[1].method = 1;
    patches[1].valueA = patches[1].valueB = 0.5f;
    auto source = pictureFrom<std::uint8_t>(m_photo, DvPixelRgba8, 255);
    auto cut = source;
    cut.desc.data = cut.samples.data();
    ASSERT_EQ(generate(cut, source, nullptr, nullptr, 0, patches, 2), DvOk);
    EXPECT_EQ(alphaAt(cut, 3, 2), 255);
    EXPECT_EQ(alphaAt(cut, 3, 45), 0);
    EXPECT_FALSE(pendingBitsLeft());
}

TEST_F(MarkedSession, AForcedEdgeAcrossTheBoundaryCutsAlongTheLine)
{
    // A line through the middle of row 23 (session coordinates, factor 1).
    DvOutlinePoint points[] = {{2.f, 23.f}, {60.f, 23.f}, {60.f, 23.f}};
    const DvForcedEdge edge{points, 3, 1.f};
    auto source = pictureFrom<std::uint8_t>(m_photo, DvPixelRgba8, 255);
    auto cut = source;
    cut.desc.data = cut.samples.data();
    ASSERT_EQ(generate(cut, source, nullptr, &edge, 1), DvOk);
    EXPECT_EQ(alphaAt(cut, 30, 23), 127);
    EXPECT_EQ(alphaAt(cut, 30, 22), 255);
    EXPECT_EQ(alphaAt(cut, 30, 24), 0);
    EXPECT_EQ(cut.samples[(23 * W + 30) * 4], source.samples[(23 * W + 30) * 4]);
}

namespace {

// The forced-edge pass alone over a 40 x 40 picture at scale 1, Keep above row 20.
template <typename T, int M>
void expectRamp(int (*pass)(float, ColourImage<T>&, const ColourImage<T>&, const Bytes&, FloatPair,
                            const std::vector<ForcedEdge>&, ProgressRange))
{
    ColourImage<T> source(40, 40), out(40, 40);
    source = classification::Colour<T>(100, 50, 25, T(M));
    out = classification::Colour<T>(1, 2, 3, 7);
    Bytes status(40, 40);
    status = 4;
    status(blitz::Range(0, 19), blitz::Range::all()) = 2;
    // Along row 20's centre line (points given as (row, column)), width 1.
    std::vector<ForcedEdge> edges{{1.f, {{20.5f, 3.f}, {20.5f, 30.f}}}};
    EXPECT_EQ(pass(1.f, out, source, status, {1.f, 1.f}, edges, ProgressRange()), 0);
    EXPECT_EQ(int(out(20, 10)[3]), int((M + 0.999) / 2)) << M;
    EXPECT_EQ(int(out(19, 10)[3]), M) << M;  // one width on the Keep side: fully opaque
    EXPECT_EQ(int(out(21, 10)[3]), 0) << M;
    EXPECT_EQ(int(out(19, 10)[0]), 100);
    // Beyond the band and past the square ends nothing is touched.
    EXPECT_EQ(int(out(17, 10)[3]), 7);
    EXPECT_EQ(int(out(20, 34)[3]), 7);

    // Without Keep or Delete on either side an edge has no side.
    ColourImage<T> untouched(40, 40);
    untouched = classification::Colour<T>(1, 2, 3, 7);
    status = 1;
    pass(1.f, untouched, source, status, {1.f, 1.f}, edges, ProgressRange());
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < 40; ++y)
            ASSERT_EQ(int(untouched(x, y)[3]), 7);
}

} // namespace

TEST(ForcedEdgePass, RampsAcrossTheLineOnEveryScale)
{
    expectRamp<unsigned char, 255>(&classification::maskPass<unsigned char>);
    expectRamp<unsigned short, 65535>(&classification::maskPass<unsigned short>);
    expectRamp<unsigned short, 32768>(&classification::maskPassVariant<unsigned short>);
}

TEST(ForcedEdgePass, AnEdgeWithOneClassOnBothSidesUpToTheBorderChangesNothing)
{
    ColourImage<std::uint8_t> source(40, 40), out(40, 40);
    source = classification::Colour<std::uint8_t>(100, 50, 25, 255);
    Bytes status(40, 40);
    // Two pixels from the border, so that one probe leaves the image while the other goes on,
    // across another edge's line, which auto-fill leaves Unassigned.
    const std::vector<ForcedEdge> edges{{1.f, {{2.5f, 3.f}, {2.5f, 30.f}}}};
    for (const unsigned char both : {4, 2}) {
        status = both;
        status(6, blitz::Range::all()) = 16 | 1;
        out = classification::Colour<std::uint8_t>(1, 2, 3, 7);
        classification::maskPass<std::uint8_t>(1.f, out, source, status, {1.f, 1.f}, edges, ProgressRange());
        for (int x = 0; x < 40; ++x)
            for (int y = 0; y < 40; ++y)
                ASSERT_EQ(int(out(x, y)[3]), 7) << int(both) << " at " << x << "," << y;
    }
    // A Keep farther away than the band reaches gives no side: the band would lie in Delete.
    status = 4;
    status(6, blitz::Range::all()) = 16 | 1;
    status(blitz::Range(30, 39), blitz::Range::all()) = 2;
    classification::maskPass<std::uint8_t>(1.f, out, source, status, {1.f, 1.f}, edges, ProgressRange());
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < 40; ++y)
            ASSERT_EQ(int(out(x, y)[3]), 7) << "at " << x << "," << y;
}

namespace {

constexpr int untouchedAlpha = 7;

// The 8-bit pass at scale 1 over an opaque source, onto an output whose alpha is
// untouchedAlpha everywhere.
ColourImage<std::uint8_t> passOver(const Bytes& status, const std::vector<ForcedEdge>& edges)
{
    ColourImage<std::uint8_t> source(status.extent(0), status.extent(1));
    ColourImage<std::uint8_t> out(status.extent(0), status.extent(1));
    source = classification::Colour<std::uint8_t>(100, 50, 25, 255);
    out = classification::Colour<std::uint8_t>(1, 2, 3, untouchedAlpha);
    classification::maskPass<std::uint8_t>(1.f, out, source, status, {1.f, 1.f}, edges, ProgressRange());
    return out;
}

// A vertical edge of width w along x = line, from y = 4 to y = 36.
std::vector<ForcedEdge> edgeAt(float line, float w)
{
    return {{w, {{line, 4.f}, {line, 36.f}}}};
}

int changedPixels(const ColourImage<std::uint8_t>& out)
{
    int n = 0;
    for (int x = out.lbound(0); x <= out.ubound(0); ++x)
        for (int y = out.lbound(1); y <= out.ubound(1); ++y)
            n += out(x, y)[3] != untouchedAlpha;
    return n;
}

// Row y across a vertical edge at x = line whose band reaches `reach` pixels: opaque beyond
// half on the Keep side (toward lower x when keepBelow), transparent beyond half on the other,
// untouched past the band.
void expectBandAcross(const ColourImage<std::uint8_t>& out, float line, float reach, bool keepBelow,
                      int y = 20)
{
    for (int x = out.lbound(0); x <= out.ubound(0); ++x) {
        const float s = keepBelow ? line - (float(x) + 0.5f) : (float(x) + 0.5f) - line;
        const int alpha = out(x, y)[3];
        if (!(std::abs(s) < reach))
            EXPECT_EQ(alpha, untouchedAlpha) << "past the band at " << x;
        else if (s > 0.f)
            EXPECT_GT(alpha, 127) << "on the Keep side at " << x;
        else if (s < 0.f)
            EXPECT_LT(alpha, 127) << "on the Delete side at " << x;
        else
            EXPECT_EQ(alpha, 127) << "on the line at " << x;
    }
}

} // namespace

TEST(ForcedEdgePass, AnEdgeOnTheBoundaryOrWithinItsWidthOfItRampsAcrossIt)
{
    // Keep below column 20 and Delete from it, then the other way round; width 3.
    for (const bool keepBelow : {true, false}) {
        Bytes status(40, 40);
        status = keepBelow ? 4 : 2;
        status(blitz::Range(0, 19), blitz::Range::all()) = keepBelow ? 2 : 4;
        for (const float line : {20.f, 18.f, 22.f}) {
            SCOPED_TRACE(testing::Message() << "Keep below " << keepBelow << ", line at " << line);
            expectBandAcross(passOver(status, edgeAt(line, 3.f)), line, 3.f, keepBelow);
        }
    }
}

TEST(ForcedEdgePass, AnEdgeWithDeleteOnBothSidesWithinItsReachChangesNothing)
{
    // Keep only farther away than the band's 3 pixels reach; once also with another edge's line,
    // which auto-fill leaves Unassigned, where the first probe lands.
    for (const bool crossed : {false, true}) {
        Bytes status(40, 40);
        status = 4;
        status(blitz::Range(30, 39), blitz::Range::all()) = 2;
        if (crossed)
            status(13, blitz::Range::all()) = 16 | 1;
        EXPECT_EQ(changedPixels(passOver(status, edgeAt(12.f, 3.f))), 0) << crossed;
    }
}

TEST(ForcedEdgePass, AnEdgeWithKeepOnBothSidesWithinItsReachChangesNothing)
{
    // The Delete beside the kept block lies 28 pixels from the line.
    Bytes status(64, 40);
    status = 4;
    status(blitz::Range(0, 47), blitz::Range::all()) = 2;
    EXPECT_EQ(changedPixels(passOver(status, edgeAt(20.f, 3.f))), 0);
}

TEST(ForcedEdgePass, AnEdgeOnTheImagesBorderWithKeepInsideChangesNothing)
{
    // Keep up to the band's reach and beyond, the left border's outside on the other side: on
    // the border, one pixel outside it, and a little inside it.
    Bytes status(40, 40);
    status = 4;
    status(blitz::Range(0, 19), blitz::Range::all()) = 2;
    for (const float line : {0.5f, 0.f, -1.f, 1.f})
        for (const float w : {1.f, 3.f}) {
            EXPECT_EQ(changedPixels(passOver(status, {{w, {{line, 3.f}, {line, 30.f}}}})), 0)
                << "left border, line at " << line << ", width " << w;
        }
    // The right border.
    status = 4;
    status(blitz::Range(20, 39), blitz::Range::all()) = 2;
    for (const float line : {39.5f, 40.f, 41.f})
        EXPECT_EQ(changedPixels(passOver(status, edgeAt(line, 3.f))), 0) << "right border at " << line;
}

TEST(ForcedEdgePass, AClosedEdgeRoundASubjectCutByTheFrameRampsItsSidesOnTheBoundaryOnly)
{
    // Keep over rows 0-19 of columns 5-34, cut by the frame at row 0; the outline's frame side
    // on the border, just above it, and as far above it as a click beside the frame lands.
    Bytes status(40, 40);
    status = 4;
    status(blitz::Range(0, 19), blitz::Range(5, 34)) = 2;
    for (const float top : {0.5f, -1.f, -4.7f}) {
        SCOPED_TRACE(testing::Message() << "frame side at row " << top);
        const std::vector<ForcedEdge> edges{
            {1.f, {{top, 5.5f}, {top, 34.5f}, {19.5f, 34.5f}, {19.5f, 5.5f}, {top, 5.5f}}}};
        const ColourImage<std::uint8_t> out = passOver(status, edges);
        // The border rows stay as the mask made them, away from the sides' bands.
        for (int row = 0; row < 3; ++row)
            for (int column = 8; column < 32; ++column)
                ASSERT_EQ(int(out(row, column)[3]), untouchedAlpha) << row << "," << column;
        EXPECT_EQ(int(out(10, 20)[3]), untouchedAlpha);
        // The bottom, left and right sides ramp, Keep inside, the sides as far as the frame.
        EXPECT_EQ(int(out(18, 20)[3]), 255);
        EXPECT_EQ(int(out(19, 20)[3]), 127);
        EXPECT_EQ(int(out(20, 20)[3]), 0);
        for (const int row : {0, 10}) {
            EXPECT_EQ(int(out(row, 4)[3]), 0) << row;
            EXPECT_EQ(int(out(row, 5)[3]), 127) << row;
            EXPECT_EQ(int(out(row, 6)[3]), 255) << row;
            EXPECT_EQ(int(out(row, 33)[3]), 255) << row;
            EXPECT_EQ(int(out(row, 34)[3]), 127) << row;
            EXPECT_EQ(int(out(row, 35)[3]), 0) << row;
        }
    }
}

TEST(ForcedEdgePass, AnLShapedEdgeRampsAlongTheLegOnTheBoundaryOnly)
{
    // Keep over columns 10-39 of rows 0-29, Delete elsewhere. One leg runs inside the Keep along
    // row 8, the other down the Keep's left side on the boundary at column 10, whichever of
    // them is the longer.
    Bytes status(40, 40);
    status = 4;
    status(blitz::Range(0, 29), blitz::Range(10, 39)) = 2;
    for (const float end : {35.f, 20.f}) {
        SCOPED_TRACE(testing::Message() << "inner leg to column " << end);
        const ColourImage<std::uint8_t> out = passOver(status, {{1.f, {{8.f, end}, {8.f, 10.f}, {26.f, 10.f}}}});
        // Every pixel the edge changed lies within the boundary leg's band, and it ramps.
        for (int row = 0; row < 40; ++row)
            for (int column = 0; column < 40; ++column) {
                const float across = float(column) + 0.5f - 10.f, along = float(row) + 0.5f;
                const bool band = std::abs(across) < 2.f && along >= 8.f && along <= 26.f;
                ASSERT_EQ(out(row, column)[3] != untouchedAlpha, band) << row << "," << column;
            }
        EXPECT_LT(int(out(20, 9)[3]), 127);
        EXPECT_GT(int(out(20, 10)[3]), 127);
    }
}

TEST(ForcedEdgePass, ANarrowEdgeAtAReducedScaleProbesNoFartherThanItsBand)
{
    // Working Keep above row 20 and Delete from it, at 4 image pixels per working pixel: the
    // boundary lies at image row 80. A width of 1 feathers 4 image pixels either side.
    Bytes status(40, 40);
    status = 4;
    status(blitz::Range(0, 19), blitz::Range::all()) = 2;
    ColourImage<std::uint8_t> source(160, 160), out(160, 160);
    source = classification::Colour<std::uint8_t>(100, 50, 25, 255);
    for (const float line : {80.f, 77.f, 75.f, 74.f, 85.f, 86.f}) {
        SCOPED_TRACE(testing::Message() << "line at image row " << line);
        out = classification::Colour<std::uint8_t>(1, 2, 3, untouchedAlpha);
        const std::vector<ForcedEdge> edges{{1.f, {{line, 12.f}, {line, 140.f}}}};
        classification::maskPass<std::uint8_t>(1.f, out, source, status, {4.f, 4.f}, edges, ProgressRange());
        const bool meetsBoth = std::abs(line - 80.f) < 4.f;
        EXPECT_EQ(changedPixels(out) != 0, meetsBoth);
        if (meetsBoth) {
            EXPECT_EQ(int(out(int(line) - 2, 60)[3]), 255);
            EXPECT_EQ(int(out(int(line) + 1, 60)[3]), 0);
        }
    }
}

TEST(ForcedEdgePass, AnEdgeOnTheImagesBorderWithDeleteInsideChangesNothing)
{
    // Delete up to the band's reach, once with Keep beyond it; on the left and the right border.
    for (const bool keepBeyond : {false, true}) {
        Bytes status(40, 40);
        status = 4;
        if (keepBeyond)
            status(blitz::Range(10, 29), blitz::Range::all()) = 2;
        EXPECT_EQ(changedPixels(passOver(status, edgeAt(0.5f, 3.f))), 0) << keepBeyond;
        EXPECT_EQ(changedPixels(passOver(status, edgeAt(39.5f, 3.f))), 0) << keepBeyond;
    }
}

TEST(ForcedEdgePass, AnEdgeThroughBlendOrUnassignedTakesItsSideFromTheClassesFartherOut)
{
    // Blend, or Unassigned, over columns 10-29 round the line; Keep and Delete beyond, both ways.
    for (const unsigned char between : {8, 1})
        for (const bool keepBelow : {true, false}) {
            Bytes status(40, 40);
            status = between;
            status(blitz::Range(0, 9), blitz::Range::all()) = keepBelow ? 2 : 4;
            status(blitz::Range(30, 39), blitz::Range::all()) = keepBelow ? 4 : 2;
            SCOPED_TRACE(testing::Message() << "between " << int(between) << ", Keep below " << keepBelow);
            expectBandAcross(passOver(status, edgeAt(20.f, 3.f)), 20.f, 3.f, keepBelow);
        }
}

TEST(ForcedEdgePass, AProbeThatLeavesTheImageStandsForTheClassItSaw)
{
    // Keep from the border to column 8 and Delete beyond: the line lies 6.5 pixels inside the
    // Keep, within its width of 8, and the probe toward the border leaves the image first.
    Bytes status(40, 40);
    status = 4;
    status(blitz::Range(0, 8), blitz::Range::all()) = 2;
    expectBandAcross(passOver(status, edgeAt(2.5f, 8.f)), 2.5f, 8.f, true);
}

namespace {

// A patch over columns 8..39 and rows 12..31 (across the Unassigned band) whose bitmap holds
// a disk and leaves the rest of its rectangle out.
struct DiskPatch {
    static constexpr int left = 8, top = 12, width = 32, height = 20;
    std::vector<unsigned char> bits;
    DvMaskPatch patch{};

    explicit DiskPatch(unsigned char method, bool exclusive = true) : bits(std::size_t(width) * height, 0)
    {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                bits[std::size_t(y) * width + x] = inside(x + left, y + top) ? 1 : 0;
        patch.area = {left, top, {width, height, unsigned(width), DvPixelStatus, bits.data()}};
        patch.exclusive = exclusive ? 1 : 0;
        patch.method = method;
        patch.valueA = patch.valueB = 0.5f;
        patch.level = 0.4f;
    }
    // In image coordinates.
    static bool inside(int x, int y)
    {
        const int dx = x - (left + width / 2), dy = y - (top + height / 2);
        return dx * dx + dy * dy <= 81;
    }
};

// The cut-out starts as the source with an alpha no step writes, so that every write shows.
Picture<std::uint8_t> blankCut(const Picture<std::uint8_t>& source)
{
    Picture<std::uint8_t> cut = source;
    cut.desc.data = cut.samples.data();
    for (std::size_t i = 3; i < cut.samples.size(); i += 4)
        cut.samples[i] = 9;
    return cut;
}

} // namespace

TEST_F(MarkedSession, AMattingPatchThatCannotBeSolvedLeavesTheCutOutAsWithoutItAndSaysSo)
{
    // A Keep disc in Delete, and a matting disc inside it whose square reaches into the
    // Delete: no background colour to sample among the patch's pixels.
    const auto keepDisc = [](int x, int y) { return (x - 32) * (x - 32) + (y - 24) * (y - 24) <= 81; };
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            at(x, y) = keepDisc(x, y) ? 2 : 4;
    const auto marks = snapshot();
    constexpr int left = 24, top = 16, side = 17;
    const auto inPatch = [](int x, int y) { return (x - 32) * (x - 32) + (y - 24) * (y - 24) <= 64; };
    std::vector<unsigned char> bits(std::size_t(side) * side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            bits[std::size_t(y) * side + x] = inPatch(x + left, y + top) ? 1 : 0;
    unsigned char unsolved = 7;
    DvMaskPatch patch{};
    patch.area = {left, top, {side, side, unsigned(side), DvPixelStatus, bits.data()}};
    patch.method = 1;
    patch.valueA = patch.valueB = 0.5f;
    patch.level = 0.1f;  // not the call's: the patch's level must not stay behind either
    patch.unsolved = &unsolved;
    const auto source = pictureFrom<std::uint8_t>(m_photo, DvPixelRgba8, 255);

    auto without = blankCut(source);
    ASSERT_EQ(generate(without, source), DvOk);
    std::copy(marks.begin(), marks.end(), m_status->data);
    auto with = blankCut(source);
    ASSERT_EQ(generate(with, source, nullptr, nullptr, 0, &patch, 1), DvOk);
    EXPECT_EQ(unsolved, 1);
    EXPECT_TRUE(with.samples == without.samples) << "the patch changed the cut-out";
    EXPECT_EQ(alphaAt(with, left, top), 0) << "a corner of the patch's square, in the Delete";
    EXPECT_FALSE(pendingBitsLeft());

    // Generated alone: its own pixels take the mask the image would give them, no other pixel
    // is written.
    std::copy(marks.begin(), marks.end(), m_status->data);
    patch.exclusive = 1;
    unsolved = 7;
    auto alone = blankCut(source);
    ASSERT_EQ(generate(alone, source, nullptr, nullptr, 0, &patch, 1), DvOk);
    EXPECT_EQ(unsolved, 1);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            ASSERT_EQ(alphaAt(alone, x, y), inPatch(x, y) ? alphaAt(without, x, y) : 9) << x << "," << y;
    EXPECT_FALSE(pendingBitsLeft());

    // Beside a matting patch that can be solved, which is solved; the other, in Keep only, is not.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            at(x, y) = y < 20 ? 2 : y > 26 ? 4 : 8;
    const auto bands = snapshot();
    DiskPatch solvable(1, false);
    unsigned char solved = 7;
    solvable.patch.unsolved = &solved;
    DvMaskPatch keepOnly{};
    keepOnly.area = {12, 4, {5, 5, 5, DvPixelStatus, nullptr}};
    keepOnly.method = 1;
    keepOnly.unsolved = &unsolved;
    auto plain = blankCut(source);
    ASSERT_EQ(generate(plain, source), DvOk);
    std::copy(bands.begin(), bands.end(), m_status->data);
    auto both = blankCut(source);
    const DvMaskPatch two[2] = {keepOnly, solvable.patch};
    ASSERT_EQ(generate(both, source, nullptr, nullptr, 0, two, 2), DvOk);
    EXPECT_EQ(unsolved, 1);
    EXPECT_EQ(solved, 0);
    for (int y = 4; y < 9; ++y)
        for (int x = 12; x < 17; ++x)
            ASSERT_EQ(alphaAt(both, x, y), alphaAt(plain, x, y)) << x << "," << y;
    int partial = 0;
    for (int y = 12; y < 32; ++y)
        for (int x = 8; x < 40; ++x)
            partial += DiskPatch::inside(x, y) && alphaAt(both, x, y) > 0 && alphaAt(both, x, y) < 255;
    EXPECT_GT(partial, 0) << "the solvable patch was not blended";
}

TEST_F(MarkedSession, AnExclusivePatchWithABitmapChangesOnlyItsOwnPixels)
{
    const auto marks = snapshot();
    for (const unsigned char method : {0, 1, 3}) {
        SCOPED_TRACE(int(method));
        const std::vector<unsigned char> start(marks);
        std::copy(start.begin(), start.end(), m_status->data);
        DiskPatch disk(method);
        auto source = pictureFrom<std::uint8_t>(m_photo, DvPixelRgba8, 255);
        auto cut = blankCut(source);
        const auto before = cut.samples;
        ASSERT_EQ(generate(cut, source, nullptr, nullptr, 0, &disk.patch, 1), DvOk);
        int written = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const std::size_t at = (std::size_t(y) * W + x) * 4;
                const bool same = std::equal(&cut.samples[at], &cut.samples[at] + 4, &before[at]);
                if (!DiskPatch::inside(x, y))
                    ASSERT_TRUE(same) << x << "," << y;
                else
                    written += cut.samples[at + 3] != 9;
            }
        // Inside the disk the Keep rows are opaque and the Delete rows transparent.
        EXPECT_EQ(alphaAt(cut, 24, 17), 255);
        EXPECT_EQ(alphaAt(cut, 24, 29), 0);
        EXPECT_GT(written, 200);
        EXPECT_FALSE(pendingBitsLeft());
    }
}

TEST_F(MarkedSession, AMattingPatchWritesEveryPixelOfItsBitmapAndNoOtherOnEveryScale)
{
    // Working columns Keep | Blend | Delete under a patch whose bitmap leaves a one-pixel
    // border of its rectangle empty, as the program's shapes rasterise.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            at(x, y) = x < 24 ? 2 : x < 40 ? 8 : 4;
    const auto marks = snapshot();
    constexpr int left = 12, top = 8, width = 40, height = 32;
    std::vector<unsigned char> bits(std::size_t(width) * height, 0);
    for (int y = 1; y < height - 1; ++y)
        for (int x = 1; x < width - 1; ++x)
            bits[std::size_t(y) * width + x] = 1;
    const auto inBitmap = [](int x, int y) {
        return x > left && x < left + width - 1 && y > top && y < top + height - 1;
    };
    // Green is 40 all over the source, so no pass writes this colour.
    const std::uint8_t sentinel[4] = {0, 255, 0, 9};

    for (const int f : {1, 2, 8})
        for (const bool exclusive : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "factor " << f << (exclusive ? ", exclusive" : ""));
            std::copy(marks.begin(), marks.end(), m_status->data);
            DvMaskPatch patch{};
            patch.area = {left, top, {width, height, unsigned(width), DvPixelStatus, bits.data()}};
            patch.exclusive = exclusive ? 1 : 0;
            patch.method = 1;
            patch.valueA = patch.valueB = 0.5f;
            patch.level = 0.4f;

            // Red over Keep, blue over Delete, a ramp between them over Blend.
            const int fw = W * f, fh = H * f;
            Picture<std::uint8_t> source;
            source.samples.resize(std::size_t(fw) * fh * 4);
            for (int y = 0; y < fh; ++y)
                for (int x = 0; x < fw; ++x) {
                    const float t = std::clamp((float(x) + 0.5f - 24.f * f) / (16.f * f), 0.f, 1.f);
                    std::uint8_t* p = &source.samples[(std::size_t(y) * fw + x) * 4];
                    p[0] = std::uint8_t(200.f - 160.f * t);
                    p[1] = 40;
                    p[2] = std::uint8_t(40.f + 160.f * t);
                    p[3] = 255;
                }
            source.desc = {fw, fh, unsigned(fw * 4), DvPixelRgba8, source.samples.data()};
            Picture<std::uint8_t> cut = source;
            cut.desc.data = cut.samples.data();
            for (std::size_t i = 0; i < cut.samples.size(); i += 4)
                std::copy(sentinel, sentinel + 4, &cut.samples[i]);

            ASSERT_EQ(generate(cut, source, nullptr, nullptr, 0, &patch, 1), DvOk);
            int partial = 0;
            for (int y = 0; y < fh; ++y)
                for (int x = 0; x < fw; ++x) {
                    const std::uint8_t* p = &cut.samples[(std::size_t(y) * fw + x) * 4];
                    const bool untouched = std::equal(p, p + 4, sentinel);
                    if (inBitmap(x / f, y / f)) {
                        ASSERT_FALSE(untouched) << "not written at " << x << "," << y;
                        partial += p[3] > 0 && p[3] < 255;
                    } else if (exclusive) {
                        ASSERT_TRUE(untouched) << "written at " << x << "," << y;
                    }
                }
            // Solved, not given up and covered with the source.
            EXPECT_GT(partial, 0);
            EXPECT_FALSE(pendingBitsLeft());
        }
}

TEST_F(MarkedSession, MattingAndCorePatchesTogetherReportProgressThatOnlyRises)
{
    // Two matting patches around a mask-core patch: each matting patch's share ends at its
    // place in the list, which lies behind where the distances left the progress.
    DiskPatch first(1, false), core(3, false), last(1, false);
    core.patch.area.left = 20;
    last.patch.area.top = 16;
    const DvMaskPatch patches[] = {first.patch, core.patch, last.patch};
    auto source = pictureFrom<std::uint8_t>(m_photo, DvPixelRgba8, 255);
    auto cut = blankCut(source);
    std::vector<int> calls;
    {
        testsupport::RacingClock clock;
        ASSERT_EQ(generate(cut, source, nullptr, nullptr, 0, patches, 3), DvOk);
        calls = testsupport::clientProgress().calls;
    }
    ASSERT_GE(calls.size(), 4u);
    for (std::size_t k = 1; k < calls.size(); ++k)
        EXPECT_LE(calls[k - 1], calls[k]) << "call " << k;
    EXPECT_EQ(calls.back(), 100);
    EXPECT_FALSE(pendingBitsLeft());
}

TEST_F(MarkedSession, ACancelAtAnyReportLeavesTheCutOutAndTheStatusAsTheyWere)
{
    DiskPatch disk(3);
    auto source = pictureFrom<std::uint8_t>(m_photo, DvPixelRgba8, 255);
    const auto statusBefore = snapshot();
    const int undoBefore = undoCount();
    std::size_t reports = 0;
    Picture<std::uint8_t> finished = blankCut(source);
    {
        testsupport::RacingClock clock;
        ASSERT_EQ(generate(finished, source, nullptr, nullptr, 0, &disk.patch, 1), DvOk);
        reports = testsupport::clientProgress().calls.size();
    }
    ASSERT_GE(reports, 3u);
    const auto statusAfter = snapshot();
    const int undoAfter = undoCount();
    // Taking back the auto-fill restores the marks the call started from.
    while (undoCount() > undoBefore)
        ASSERT_EQ(DvUndo(m_session), DvOk);
    ASSERT_EQ(snapshot(), statusBefore);

    for (std::size_t k = 0; k < reports; ++k) {
        SCOPED_TRACE(k);
        auto cut = blankCut(source);
        const auto cutBefore = cut.samples;
        DvResult result;
        {
            testsupport::RacingClock clock;
            testsupport::clientProgress().abortAtCall = long(k);
            result = generate(cut, source, nullptr, nullptr, 0, &disk.patch, 1);
        }
        if (result == DvOk) {
            // Only the final report may come too late to cancel anything.
            EXPECT_EQ(k + 1, reports);
            EXPECT_EQ(cut.samples, finished.samples);
            EXPECT_EQ(snapshot(), statusAfter);
            EXPECT_EQ(undoCount(), undoAfter);
            continue;
        }
        ASSERT_EQ(result, DvCancelled);
        EXPECT_EQ(cut.samples, cutBefore);
        EXPECT_EQ(snapshot(), statusBefore);
        EXPECT_EQ(undoCount(), undoBefore);
    }
}

namespace {

// A composite of one foreground colour over four backgrounds side by side, 18, 45, 75 and
// 130 levels from it, under a soft alpha across a wavy line: Keep above it, Delete below,
// Blend over the soft rows and two more on each side. The mixed pixels meet every colour
// distance that the mask core and the solver weigh; each colour is uniform, so that the
// solver has one pair of colours to explain a pixel by.
struct SoftComposite {
    static constexpr int w = 96, h = 64;
    testsupport::RgbaImage8 image;
    std::vector<unsigned char> marks;

    SoftComposite() : marks(std::size_t(w) * h)
    {
        image.width = w;
        image.height = h;
        image.samples.resize(std::size_t(w) * h * 4);
        const float fg[3] = {190.f, 150.f, 70.f};
        const float bg[4][3] = {{180.f, 162.f, 60.f}, {160.f, 125.f, 48.f}, {140.f, 170.f, 20.f},
                                {110.f, 90.f, 150.f}};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const float edge = 32.f + 5.f * std::sin(float(x) / 9.f);
                const float a = std::clamp(0.5f - (float(y) + 0.5f - edge) / 8.f, 0.f, 1.f);
                std::uint8_t* p = image.row(y) + 4 * x;
                for (int c = 0; c < 3; ++c)
                    p[c] = std::uint8_t(std::lround(a * fg[c] + (1.f - a) * bg[x / 24][c]));
                p[3] = 255;
                const float d = float(y) + 0.5f - edge;
                marks[std::size_t(y) * w + x] = d < -6.f ? 2 : d > 6.f ? 4 : 8;
            }
    }
};

// The cut-out of the composite handed over as pixelType, by the whole-image core (method 0)
// or by one exclusive patch over the image; alphas in levels of 255.
std::vector<float> cutOutAlphas(const SoftComposite& composite, int pixelType, unsigned char method)
{
    const int w = SoftComposite::w, h = SoftComposite::h;
    const DvImageDesc working{w, h, composite.image.strideBytes(), DvPixelRgba8,
                              const_cast<std::uint8_t*>(composite.image.samples.data())};
    DvLibrary* library = DvInit();
    DvSession* session = DvBeginSession(library, working);
    DvImage* status = DvNewStatusImage(library, working);
    EXPECT_TRUE(session && status);
    Bytes widths(h, w);
    widths = 2;
    static_cast<DvInSession*>(session)->classification().widthMap.reference(widths);
    session->analysed = 1;
    std::vector<unsigned char> marks = composite.marks;
    const DvSelection all{0, 0, {w, h, unsigned(w), DvPixelStatus, marks.data()}};
    EXPECT_EQ(DvSetStatus(session, status, &all), DvOk);

    DvMaskPatch patch{};
    patch.area = {0, 0, {w, h, unsigned(w), DvPixelStatus, nullptr}};
    patch.exclusive = 1;
    patch.method = method;
    patch.valueA = patch.valueB = 0.5f;
    patch.level = 0.5f;
    const int full = pixelType == DvPixelRgba16 ? 65535 : pixelType == DvPixelRgba16H ? 32768 : 255;
    std::vector<float> alphas(std::size_t(w) * h);
    const auto run = [&](auto& cut, const auto& source) {
        const unsigned stride = unsigned(w * 4 * sizeof(cut[0]));
        const DvImageDesc sd{w, h, stride, pixelType,
                             const_cast<void*>(static_cast<const void*>(source.data()))};
        const DvImageDesc cd{w, h, stride, pixelType, cut.data()};
        EXPECT_EQ(DvGenerateMask(session, nullptr, cd, sd, status, nullptr, 0, 1.f, 0.5f,
                                 method ? &patch : nullptr, method ? 1 : 0),
                  DvOk);
        for (std::size_t i = 0; i < alphas.size(); ++i)
            alphas[i] = float(cut[i * 4 + 3]) * 255.f / float(full);
    };
    if (pixelType == DvPixelRgba8) {
        std::vector<std::uint8_t> cut = composite.image.samples;
        run(cut, composite.image.samples);
    } else {
        // Type 2 as the 8-bit samples times 257, type 3 rounded onto 0..32768.
        std::vector<std::uint16_t> source(composite.image.samples.size());
        for (std::size_t i = 0; i < source.size(); ++i)
            source[i] = std::uint16_t((composite.image.samples[i] * full + 127) / 255);
        std::vector<std::uint16_t> cut = source;
        run(cut, source);
    }
    EXPECT_EQ(DvFinish(library), DvOk);
    return alphas;
}

} // namespace

TEST(GenerateMaskDepths, TheSameCompositeIsCutOutAlikeAtEightAndSixteenBits)
{
    const SoftComposite composite;
    long blend = 0;
    for (unsigned char m : composite.marks)
        blend += m == 8;
    for (const unsigned char method : {0, 1, 3}) {
        const std::vector<float> narrow = cutOutAlphas(composite, DvPixelRgba8, method);
        for (const int type : {DvPixelRgba16, DvPixelRgba16H}) {
            SCOPED_TRACE(::testing::Message() << "method " << int(method) << ", pixel type " << type);
            const std::vector<float> wide = cutOutAlphas(composite, type, method);
            long apart = 0;
            float most = 0.f;
            for (std::size_t i = 0; i < wide.size(); ++i) {
                apart += std::fabs(wide[i] - narrow[i]) > 2.f;
                most = std::max(most, std::fabs(wide[i] - narrow[i]));
            }
            // Within 2 levels on 99 % of the Blend pixels, the only ones that can differ.
            EXPECT_LE(apart * 100, blend) << apart << " of " << blend << " apart, up to " << most;
        }
    }
}
