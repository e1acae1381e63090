// The call interface under calls a careful client would not make: far-off and infinite
// arguments, stale, foreign and misused handles, entries called from a progress callback,
// and failures after the work had started.
#include "client_progress.h"
#include "session_fixture.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

using testsupport::describe;
using testsupport::Snapshot;
using testsupport::wholeRect;

namespace {

constexpr float infinity = std::numeric_limits<float>::infinity();

testsupport::RgbaImage8 opaquePhoto(int width, int height, unsigned seed = 3)
{
    testsupport::RgbaImage8 photo = testsupport::syntheticPhoto(width, height, seed);
    for (std::size_t i = 3; i < photo.samples.size(); i += 4)
        photo.samples[i] = 255;
    return photo;
}

// A cut-out and its source of the session's image size, 8-bit.
struct CutOut {
    std::vector<unsigned char> pixels;
    DvImageDesc desc;
};

CutOut cutOutOf(testsupport::RgbaImage8& image)
{
    CutOut c{image.samples, {}};
    c.desc = {image.width, image.height, image.strideBytes(), DvPixelRgba8, c.pixels.data()};
    return c;
}

class Hostile : public testsupport::SessionTest {
protected:
    // A 40 x 30 session with Keep above row 12, Delete below row 18 and Unassigned between.
    void beginMarked(bool analyse)
    {
        begin(opaquePhoto(40, 30));
        if (analyse) {
            ASSERT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);
        }
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                at(x, y) = y < 12 ? 2 : y > 18 ? 4 : 1;
    }

    DvResult generate(const DvArea* area, const DvForcedEdge* edges, int edgeCount, float band,
                      const DvMaskPatch* patches = nullptr, int patchCount = 0)
    {
        CutOut cut = cutOutOf(m_image);
        return DvGenerateMask(m_session, area, cut.desc, describe(m_image), m_status, edges, edgeCount,
                              band, 0.5f, patches, patchCount);
    }

    bool statusesValid()
    {
        for (int y = 0; y < m_status->height; ++y)
            for (int x = 0; x < m_status->width; ++x)
                if (at(x, y) & 0xC0)
                    return false;
        return true;
    }
};

} // namespace

TEST_F(Hostile, ForcedEdgesWithFarApartOrInfiniteEndsFinish)
{
    beginMarked(true);
    // Far apart, the segment's length overflows a float; infinite, there is no normal at all.
    for (const float far : {2e19f, 3e38f, infinity}) {
        DvOutlinePoint points[2] = {{-far, 10.f}, {far, 10.f}};
        const DvForcedEdge edge{points, 2, 2.f};
        EXPECT_EQ(generate(nullptr, &edge, 1, 1.f), DvOk) << far;
    }
    DvOutlinePoint vertical[2] = {{20.f, -2e19f}, {20.f, 2e19f}};
    const DvForcedEdge edge{vertical, 2, 2.f};
    EXPECT_EQ(generate(nullptr, &edge, 1, 1.f), DvOk);
    EXPECT_TRUE(statusesValid());
    EXPECT_EQ(m_library->dead, 0);
}

TEST_F(Hostile, InfiniteAndHugeBandFactorsLayABandOfTheImagesSize)
{
    beginMarked(true);
    const DvArea area{3, 3, 20, 20};
    EXPECT_EQ(generate(&area, nullptr, 0, infinity), DvOk);
    EXPECT_EQ(generate(nullptr, nullptr, 0, 1e30f), DvOk);
    EXPECT_TRUE(statusesValid());

    for (const float band : {infinity, -infinity, 1e30f}) {
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                at(x, y) = y < 12 ? 2 : 1;
        ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
        EXPECT_EQ(DvAutoFill(m_session, m_status, nullptr, 2, band), DvOk) << band;
        EXPECT_TRUE(at(20, 25) == 4 || at(20, 25) == 8) << band;
    }

    // A Keep stroke next to Delete, completed with a band of any width.
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            at(x, y) = x < 20 ? 4 : 1;
    const DvSelection stroke = wholeRect(24, 5, 6, 20);
    for (const float band : {1e30f, infinity}) {
        ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
        ASSERT_EQ(DvSelect(m_session, m_status, &stroke, 2, 0x0F, 1, 1.f, nullptr), DvOk);
        EXPECT_EQ(DvAutoComplex(m_session, m_status, band, nullptr), DvOk) << band;
        EXPECT_EQ(DvUndo(m_session), DvOk);
    }
    EXPECT_EQ(m_library->dead, 0);
}

TEST_F(Hostile, BitmapsPlacedAtTheEndsOfTheIntRangeChangeNothing)
{
    beginMarked(true);
    const Snapshot before = snapshot();
    std::vector<unsigned char> bytes(64, 2);
    const int far[][2] = {{INT_MAX - 2, 0}, {0, INT_MAX - 2}, {INT_MIN, 0}, {0, INT_MIN}, {INT_MAX, INT_MAX}};
    for (const auto& place : far) {
        const DvSelection stroke{place[0], place[1], {8, 8, 8, DvPixelStatus, bytes.data()}};
        EXPECT_EQ(DvSelect(m_session, m_status, &stroke, 4, 0x0F, 0, 0.f, nullptr), DvOk);
        EXPECT_EQ(DvSetStatus(m_session, m_status, &stroke), DvOk);
        EXPECT_EQ(DvBeginSubSession(m_session, &stroke, 1), nullptr);
        const DvSelection whole{place[0], place[1], {8, 8, 8, DvPixelStatus, nullptr}};
        EXPECT_EQ(DvSelect(m_session, m_status, &whole, 4, 0x0F, 0, 0.f, nullptr), DvOk);
        EXPECT_EQ(DvBeginSubSession(m_session, &whole, 0), nullptr);
        // A mask area there covers no pixel; a patch there takes none.
        const DvArea area{place[0], place[1], 8, 8};
        EXPECT_EQ(generate(&area, nullptr, 0, 1.f), DvRefused);
        DvMaskPatch patch{};
        patch.area = stroke;
        patch.method = 3;
        EXPECT_EQ(generate(nullptr, nullptr, 0, 1.f, &patch, 1), DvOk);
        EXPECT_TRUE(snapshot() == before) << place[0] << ", " << place[1];
    }
    // A stroke that starts outside and reaches into the image still paints its inside part.
    const DvSelection across{-8, 20, {12, INT_MAX, 12, DvPixelStatus, nullptr}};
    EXPECT_EQ(DvSelect(m_session, m_status, &across, 8, 0x0F, 0, 0.f, nullptr), DvOk);
    EXPECT_EQ(at(3, 25), 8);
    EXPECT_EQ(at(4, 25), 4);
    EXPECT_EQ(at(3, 19), 4);
    EXPECT_EQ(m_library->dead, 0);
}

TEST_F(Hostile, StatusBytesOfNoPixelChangeNothing)
{
    beginMarked(false);
    const Snapshot before = snapshot();
    std::vector<unsigned char> bytes(64, 4);
    for (const int width : {0, -3, INT_MIN}) {
        const DvSelection empty{2, 2, {width, 4, 8, DvPixelStatus, bytes.data()}};
        EXPECT_EQ(DvSetStatus(m_session, m_status, &empty), DvOk) << width;
        const DvSelection flat{2, 2, {4, width, 8, DvPixelStatus, bytes.data()}};
        EXPECT_EQ(DvSetStatus(m_session, m_status, &flat), DvOk) << width;
    }
    EXPECT_TRUE(snapshot() == before);
    EXPECT_EQ(undoCount(), 0);
    EXPECT_EQ(m_library->dead, 0);
}

TEST_F(Hostile, MaskAreaOfAReducedSessionMapsByTheScalingFactor)
{
    // 10 x 10 reduced to 5 x 5 by 2: status pixel (1, 1) covers full-resolution pixels 2-3.
    testsupport::RgbaImage8 full = opaquePhoto(10, 10);
    testsupport::RgbaImage8 reduced = opaquePhoto(5, 5);
    ASSERT_EQ(DvScaleImage(describe(reduced), describe(full)), DvOk);
    begin(reduced);
    ASSERT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            at(x, y) = x < 2 ? 2 : 4;
    CutOut cut = cutOutOf(full);
    for (std::size_t i = 3; i < cut.pixels.size(); i += 4)
        cut.pixels[i] = 77;
    const DvArea area{1, 1, 1, 1};
    ASSERT_EQ(DvGenerateMask(m_session, &area, cut.desc, describe(full), m_status, nullptr, 0, 1.f, 0.5f,
                             nullptr, 0),
              DvOk);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool inside = x >= 2 && x <= 3 && y >= 2 && y <= 3;
            const unsigned char alpha = cut.pixels[(std::size_t(y) * 10 + x) * 4 + 3];
            EXPECT_EQ(alpha != 77, inside) << x << ", " << y;
        }

    // A cut-out smaller than the status image is no reduction of it: refused, left as it was.
    testsupport::RgbaImage8 small = opaquePhoto(4, 4);
    CutOut smallCut = cutOutOf(small);
    const std::vector<unsigned char> smallBefore = smallCut.pixels;
    EXPECT_EQ(DvGenerateMask(m_session, nullptr, smallCut.desc, describe(small), m_status, nullptr, 0, 1.f,
                             0.5f, nullptr, 0),
              DvBadImage);
    EXPECT_EQ(smallCut.pixels, smallBefore);
}

TEST_F(Hostile, SubSessionWithItsOwnAnalysisNeverBorrowsItsParents)
{
    beginMarked(true);
    const DvSelection patch = wholeRect(5, 5, 20, 20);
    DvSession* sub = DvBeginSubSession(m_session, &patch, 1);
    ASSERT_NE(sub, nullptr);
    const DvSelection stroke = wholeRect(8, 8, 3, 3);
    EXPECT_EQ(DvSelect(sub, m_status, &stroke, 2, 0x0F, 1, 1.f, nullptr), DvNoSegmentation);
    EXPECT_EQ(DvSelect(sub, m_status, &stroke, 2, 0x0F, 2, 1.f, nullptr), DvNoSegmentation);
    EXPECT_EQ(DvAutoComplex(sub, m_status, 1.f, nullptr), DvNoSegmentation);
    EXPECT_EQ(DvDespeckleSelection(sub, m_status, 2), DvNoSegmentation);
    // Without an analysis auto-fill lays no band, but fills.
    EXPECT_EQ(DvAutoFill(sub, m_status, nullptr, 2, 1.f), DvOk);
    EXPECT_EQ(m_library->dead, 0);
    EXPECT_EQ(DvSelect(sub, m_status, &stroke, 2, 0x0F, 0, 1.f, nullptr), DvOk);
    EXPECT_EQ(DvEndSession(sub), DvOk);
}

TEST_F(Hostile, StatusImageOfAnotherLibraryIsRefused)
{
    beginMarked(false);
    DvLibrary* other = DvInit();
    ASSERT_NE(other, nullptr);
    DvImage* foreign = DvNewStatusImage(other, describe(m_image));
    ASSERT_NE(foreign, nullptr);
    const DvSelection stroke = wholeRect(0, 0, 10, 10);
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    EXPECT_EQ(DvSelect(m_session, foreign, &stroke, 4, 0x0F, 0, 0.f, nullptr), DvBadImage);
    EXPECT_EQ(DvSetStatusInSession(m_session, foreign), DvBadImage);
    EXPECT_EQ(DvAutoFill(m_session, foreign, nullptr, 2, 1.f), DvBadImage);
    EXPECT_EQ(foreign->data[0], 1) << "the foreign image is untouched";
    EXPECT_EQ(DvFinish(other), DvOk);
    // Nothing of the session refers to the freed image.
    EXPECT_EQ(DvUndo(m_session), DvOk);
    EXPECT_EQ(DvRedo(m_session), DvOk);
    EXPECT_EQ(m_library->dead, 0);
}

TEST_F(Hostile, StaleAndMisusedHandlesAreRefusedWithoutBeingRead)
{
    beginMarked(false);
    const DvSelection patch = wholeRect(5, 5, 10, 10);
    DvSession* sub = DvBeginSubSession(m_session, &patch, 0);
    DvSession* second = DvBeginSession(m_library, describe(m_image));
    ASSERT_TRUE(sub && second);
    const DvSelection stroke = wholeRect(0, 0, 4, 4);

    // A status image is no session.
    EXPECT_EQ(DvUndo(reinterpret_cast<DvSession*>(m_status)), DvBadSession);
    EXPECT_EQ(DvSelect(reinterpret_cast<DvSession*>(m_status), m_status, &stroke, 2, 0x0F, 0, 0.f, nullptr),
              DvBadSession);
    EXPECT_EQ(DvDeleteStatusImage(reinterpret_cast<DvImage*>(m_session)), DvBadImage);
    EXPECT_EQ(DvFinish(reinterpret_cast<DvLibrary*>(m_session)), DvBadLibrary);

    ASSERT_EQ(DvEndSession(second), DvOk);
    EXPECT_EQ(DvEndSession(second), DvBadSession);
    EXPECT_EQ(DvUndo(second), DvBadSession);
    // Ending a parent first ends its sub-sessions with it.
    ASSERT_EQ(DvEndSession(m_session), DvOk);
    EXPECT_EQ(DvSelect(sub, m_status, &stroke, 2, 0x0F, 0, 0.f, nullptr), DvBadSession);
    EXPECT_EQ(DvEndSession(sub), DvBadSession);

    m_session = DvBeginSession(m_library, describe(m_image));
    ASSERT_NE(m_session, nullptr);
    DvSession* session = m_session;
    DvImage* status = m_status;
    DvLibrary* library = m_library;
    ASSERT_EQ(DvFinish(library), DvOk);
    m_library = nullptr;
    int count = 5;
    EXPECT_EQ(DvNumAvailableUndo(session, &count), DvBadSession);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(DvSelect(session, status, &stroke, 2, 0x0F, 0, 0.f, nullptr), DvBadImage);
    EXPECT_EQ(DvDeleteStatusImage(status), DvBadImage);
    EXPECT_EQ(DvEndSession(session), DvBadSession);
    EXPECT_EQ(DvFinish(library), DvBadLibrary);
    EXPECT_EQ(DvBeginSession(library, describe(m_image)), nullptr);
    EXPECT_EQ(DvNewStatusImage(library, describe(m_image)), nullptr);
}

namespace {

// What the progress callback below does and saw.
struct Reentry {
    DvLibrary* library = nullptr;
    DvSession* session = nullptr;
    DvImage* image = nullptr;
    DvImageDesc pixels{};
    std::vector<long long> results;
};
Reentry g_reentry;

int callEntriesFromProgress(unsigned char, void*)
{
    Reentry& r = g_reentry;
    const DvSelection stroke = wholeRect(0, 0, 4, 4);
    int count = -1;
    r.results.push_back(DvEndSession(r.session));
    r.results.push_back(DvFinish(r.library));
    r.results.push_back(DvSelect(r.session, r.image, &stroke, 4, 0x0F, 0, 0.f, nullptr));
    r.results.push_back(DvUndo(r.session));
    r.results.push_back(DvNumAvailableUndo(r.session, &count));
    r.results.push_back(DvDeleteStatusImage(r.image));
    r.results.push_back(DvBeginSession(r.library, r.pixels) != nullptr);
    r.results.push_back(count);
    return 0;
}

} // namespace

TEST_F(Hostile, EntriesCalledFromAProgressCallbackAreRefused)
{
    beginMarked(false);
    g_reentry = Reentry{m_library, m_session, m_status, describe(m_image), {}};
    const Snapshot before = snapshot();
    const DvSelection stroke = wholeRect(0, 0, 40, 12);
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvSelect(m_session, m_status, &stroke, 4, 0x0F, 0, 0.f, callEntriesFromProgress), DvOk);
    ASSERT_FALSE(g_reentry.results.empty());
    for (std::size_t i = 0; i < g_reentry.results.size(); i += 8) {
        for (std::size_t k = 0; k < 6; ++k)
            EXPECT_EQ(g_reentry.results[i + k], DvRefused) << i + k;
        EXPECT_EQ(g_reentry.results[i + 6], 0) << "no session was begun";
        EXPECT_EQ(g_reentry.results[i + 7], -1) << "the count was not written";
    }
    // The select ran as if alone, and the library serves the next entry.
    EXPECT_EQ(at(0, 0), 4);
    EXPECT_EQ(undoCount(), 1);
    EXPECT_EQ(DvUndo(m_session), DvOk);
    EXPECT_TRUE(snapshot() == before);
    EXPECT_EQ(m_library->dead, 0);
}

TEST_F(Hostile, FailedWholeImageMaskGenerationTakesItsAutoFillBack)
{
    // Keep marks only: the whole-image generation completes them with an auto-fill first.
    begin(opaquePhoto(40, 30));
    ASSERT_EQ(DvAnalyseImage(m_session, nullptr), DvOk);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            at(x, y) = y < 12 ? 2 : 1;
    const Snapshot before = snapshot();
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvUndo(m_session), DvOk);
    // An exclusive patch that lies outside the image ends the call with 1 after the fill.
    DvMaskPatch patch{};
    patch.area = wholeRect(100, 100, 5, 5);
    patch.exclusive = 1;
    patch.method = 3;
    CutOut cut = cutOutOf(m_image);
    EXPECT_EQ(DvGenerateMask(m_session, nullptr, cut.desc, describe(m_image), m_status, nullptr, 0, 1.f,
                             0.5f, &patch, 1),
              DvRefused);
    EXPECT_TRUE(snapshot() == before);
    EXPECT_EQ(undoCount(), 0);
    EXPECT_EQ(redoCount(), 1) << "the user's redo step is kept";

    // A cancel after the fill the same.
    {
        testsupport::RacingClock cancel(DvProgressAbort);
        testsupport::clientProgress().fromPercent = 10;
        EXPECT_EQ(DvGenerateMask(m_session, nullptr, cut.desc, describe(m_image), m_status, nullptr, 0, 1.f,
                                 0.5f, nullptr, 0),
                  DvCancelled);
    }
    EXPECT_TRUE(snapshot() == before);
    EXPECT_EQ(undoCount(), 0);

    // A generation that succeeds keeps the fill as the user's step.
    EXPECT_EQ(DvGenerateMask(m_session, nullptr, cut.desc, describe(m_image), m_status, nullptr, 0, 1.f, 0.5f,
                             nullptr, 0),
              DvOk);
    EXPECT_EQ(at(20, 25), 4);
    EXPECT_EQ(undoCount(), 1);
    EXPECT_EQ(DvUndo(m_session), DvOk);
    EXPECT_TRUE(snapshot() == before);
}

namespace {

// Pixels in rows that do not start on whole pixels: the stride is the packed one plus `pad`
// bytes, and the first pixel is `offset` bytes into the buffer.
template <typename T>
struct PaddedImage {
    std::vector<unsigned char> bytes;
    DvImageDesc desc;

    PaddedImage(const std::vector<T>& samples, int width, int height, int pixelType, unsigned pad, unsigned offset)
    {
        const unsigned row = unsigned(width) * 4 * sizeof(T);
        const unsigned stride = row + pad;
        bytes.assign(offset + std::size_t(stride) * height, 0xA5);
        for (int y = 0; y < height; ++y)
            std::memcpy(bytes.data() + offset + std::size_t(y) * stride,
                        reinterpret_cast<const unsigned char*>(samples.data()) + std::size_t(y) * row, row);
        desc = {width, height, stride, pixelType, bytes.data() + offset};
    }

    // Row y's pixels, packed.
    std::vector<T> row(int y) const
    {
        std::vector<T> out(std::size_t(desc.width) * 4);
        std::memcpy(out.data(), static_cast<const unsigned char*>(desc.data) + std::size_t(y) * desc.stride,
                    out.size() * sizeof(T));
        return out;
    }
};

std::vector<std::vector<float>> outlinePoints(const DvSession* s)
{
    std::vector<std::vector<float>> all;
    for (int i = 0; i < s->outlineCount; ++i) {
        std::vector<float> points;
        for (int k = 0; k < s->outlines[i].count; ++k) {
            points.push_back(s->outlines[i].points[k].column);
            points.push_back(s->outlines[i].points[k].row);
        }
        all.push_back(points);
    }
    return all;
}

} // namespace

TEST(PaddedRows, ScaleImageReadsAndWritesRowsOfAnyStride)
{
    testsupport::RgbaImage8 photo = opaquePhoto(33, 21);
    const PaddedImage<unsigned char> source(photo.samples, 33, 21, DvPixelRgba8, 1, 0);
    PaddedImage<unsigned char> copy(std::vector<unsigned char>(photo.samples.size(), 0), 33, 21, DvPixelRgba8, 3, 0);
    ASSERT_EQ(DvScaleImage(copy.desc, source.desc), DvOk);
    for (int y = 0; y < 21; ++y)
        EXPECT_EQ(copy.row(y), std::vector<unsigned char>(photo.row(y), photo.row(y) + 33 * 4)) << y;

    testsupport::RgbaImage8 half = opaquePhoto(17, 11);
    ASSERT_EQ(DvScaleImage(describe(half), describe(photo)), DvOk);
    PaddedImage<unsigned char> padded(std::vector<unsigned char>(half.samples.size(), 0), 17, 11, DvPixelRgba8, 5, 0);
    ASSERT_EQ(DvScaleImage(padded.desc, source.desc), DvOk);
    for (int y = 0; y < 11; ++y)
        EXPECT_EQ(padded.row(y), std::vector<unsigned char>(half.row(y), half.row(y) + 17 * 4)) << y;
}

TEST(PaddedRows, SessionsAndMasksDoNotDependOnTheStride)
{
    testsupport::RgbaImage8 photo = opaquePhoto(33, 21, 5);
    const PaddedImage<unsigned char> padded(photo.samples, 33, 21, DvPixelRgba8, 1, 0);
    DvLibrary* library = DvInit();
    DvSession* packedSession = DvBeginSession(library, testsupport::describe(photo));
    DvSession* paddedSession = DvBeginSession(library, padded.desc);
    DvImage* status = DvNewStatusImage(library, padded.desc);
    ASSERT_TRUE(packedSession && paddedSession && status);
    ASSERT_EQ(DvAnalyseImage(packedSession, nullptr), DvOk);
    ASSERT_EQ(DvAnalyseImage(paddedSession, nullptr), DvOk);
    EXPECT_EQ(outlinePoints(paddedSession), outlinePoints(packedSession));

    // The same marks, and masks from 8-bit and 16-bit pixels in packed and padded rows.
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 33; ++x)
            status->data[std::size_t(y) * status->stride + x] = x < 10 ? 2 : x > 22 ? 4 : 1;
    const std::vector<unsigned char> marks(status->data, status->data + std::size_t(status->stride) * 21);
    const auto generate = [&](DvSession* s, DvImageDesc cut, DvImageDesc source) {
        std::copy(marks.begin(), marks.end(), status->data);
        return DvGenerateMask(s, nullptr, cut, source, status, nullptr, 0, 1.f, 0.5f, nullptr, 0);
    };
    std::vector<unsigned char> packedCut = photo.samples;
    PaddedImage<unsigned char> paddedCut(photo.samples, 33, 21, DvPixelRgba8, 1, 0);
    DvImageDesc packedCutDesc = testsupport::describe(photo);
    packedCutDesc.data = packedCut.data();
    ASSERT_EQ(generate(packedSession, packedCutDesc, testsupport::describe(photo)), DvOk);
    ASSERT_EQ(generate(paddedSession, paddedCut.desc, padded.desc), DvOk);
    for (int y = 0; y < 21; ++y)
        EXPECT_EQ(paddedCut.row(y),
                  std::vector<unsigned char>(packedCut.begin() + y * 33 * 4, packedCut.begin() + (y + 1) * 33 * 4))
            << y;

    std::vector<std::uint16_t> wide(photo.samples.size());
    for (std::size_t i = 0; i < wide.size(); ++i)
        wide[i] = std::uint16_t(photo.samples[i] * 257);
    std::vector<std::uint16_t> wideCut = wide;
    const DvImageDesc wideDesc{33, 21, 33 * 8, DvPixelRgba16, wide.data()};
    DvImageDesc wideCutDesc = wideDesc;
    wideCutDesc.data = wideCut.data();
    // An odd stride and an odd address: no 16-bit sample is aligned.
    const PaddedImage<std::uint16_t> oddSource(wide, 33, 21, DvPixelRgba16, 3, 1);
    PaddedImage<std::uint16_t> oddCut(wide, 33, 21, DvPixelRgba16, 3, 1);
    ASSERT_EQ(generate(packedSession, wideCutDesc, wideDesc), DvOk);
    ASSERT_EQ(generate(paddedSession, oddCut.desc, oddSource.desc), DvOk);
    for (int y = 0; y < 21; ++y)
        EXPECT_EQ(oddCut.row(y), std::vector<std::uint16_t>(wideCut.begin() + y * 33 * 4, wideCut.begin() + (y + 1) * 33 * 4))
            << y;
    EXPECT_EQ(oddCut.bytes[0], 0xA5) << "nothing written before the first pixel";
    EXPECT_EQ(DvFinish(library), DvOk);
}

TEST_F(Hostile, UndoRestoresSelectsOfAnyValuesExactly)
{
    beginMarked(true);
    // Forced edges and protection scattered over the marks.
    for (int i = 0; i < 6; ++i) {
        const DvSelection edge = wholeRect(3 + 6 * i, 2, 2, 26);
        const DvSelection shield = wholeRect(0, 4 + 4 * i, 40, 2);
        ASSERT_EQ(DvSelect(m_session, m_status, &edge, 16, 1, 0, 0.f, nullptr), DvOk);
        ASSERT_EQ(DvSelect(m_session, m_status, &shield, 32, 1, 0, 0.f, nullptr), DvOk);
    }
    std::vector<std::pair<int, int>> values = {{187, 32}, {204, 16}, {221, 16}, {0, 32}, {2, 16}, {49, 49}};
    unsigned seed = 12345;
    const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int i = 0; i < 60; ++i)
        values.emplace_back(int(next() % 256), i % 3 == 0 ? 16 << (i % 2) : int(next() % 256));
    int undone = 0;
    for (const auto& [value, target] : values)
        for (int mode = 0; mode < 4; ++mode) {
            const DvSelection stroke = wholeRect(int(next() % 30), int(next() % 20), 10, 10);
            ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
            const Snapshot before = snapshot();
            ASSERT_EQ(DvSelect(m_session, m_status, &stroke, static_cast<unsigned char>(value),
                               static_cast<unsigned char>(target), mode, 1.f, nullptr),
                      DvOk);
            const bool edgesOrProtection =
                value == 16 || value == 32 || (value == 1 && (target == 16 || target == 32));
            if (edgesOrProtection)
                continue;
            ASSERT_EQ(DvUndo(m_session), DvOk);
            ++undone;
            ASSERT_TRUE(snapshot() == before) << value << " over " << target << " in mode " << mode;
        }
    EXPECT_GT(undone, 200);
}

TEST_F(Hostile, UndoOfACommitRestoresWhateverTheWorkingValuesOtherBitsHold)
{
    // An operation's working value carries stale bits outside its write mask (here: no
    // protection), as despeckle and auto-complex can leave them from an earlier operation; the
    // commit writes only the masked bits, and undo must take back only those.
    begin(opaquePhoto(8, 6));
    at(2, 1) = 0x21;
    at(3, 1) = 0x11;
    const Snapshot before = snapshot();
    classification::IiClassification& c = classification();
    classification::Bytes status = static_cast<DvInSession*>(m_session)->statusArrayFor(*static_cast<DvInImage*>(m_status));
    c.working() = 0;
    c.working()(1, 2) = 0x02;
    c.working()(1, 3) = 0x04;
    c.writeMask = 0x0F;
    c.changed() = classification::Rect{1, 2, 1, 3};
    c.undoStack().beginStep();
    c.recordStatusUndo(status, &c.undoStack());
    EXPECT_EQ(at(2, 1), 0x22);
    EXPECT_EQ(at(3, 1), 0x14);
    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_TRUE(snapshot() == before);
    ASSERT_EQ(DvRedo(m_session), DvOk);
    EXPECT_EQ(at(2, 1), 0x22);
    EXPECT_EQ(at(3, 1), 0x14);
}
