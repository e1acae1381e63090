// Seeded random calls of every entry of the call interface, hostile and plausible arguments
// mixed, on images from 1 x 1 pixel to a photograph. After every call: the result is one the
// entry documents, the library is alive, nothing changed where the call failed, and an
// operation opened by its own undo step is taken back and redone byte for byte.
//
// Each case runs for a few seconds. For a longer run by hand:
//   DRAVIK_RANDOM_CALLS_SECONDS=600 DRAVIK_RANDOM_CALLS_SEED=7 dravik_tests --gtest_filter='RandomCalls*'
// A failure names the seed and the call number; the same seed repeats the same calls.
#include "testimage.h"

#include "session/session.h"
#include "dravik.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

double envNumber(const char* name, double fallback)
{
    const char* text = std::getenv(name);
    return text && *text ? std::atof(text) : fallback;
}

// The progress callback of the operations that take one: it answers "abort" from the given
// call on, and tries an entry of the running library, which must refuse.
struct CallbackState {
    int abortAt = -1;  // -1: never
    int calls = 0;
    DvSession* session = nullptr;
    int reentryResult = DvRefused;
};
CallbackState g_callback;

int randomProgress(unsigned char, void*)
{
    CallbackState& c = g_callback;
    if (c.session) {
        const int r = DvUndo(c.session);
        if (r != DvRefused)
            c.reentryResult = r;
    }
    return c.abortAt >= 0 && c.calls++ >= c.abortAt ? DvProgressAbort : 0;
}

// An image in memory owned here, described as the engine sees it.
struct Picture {
    Bytes bytes;
    DvImageDesc desc{};
};

class RandomCalls : public ::testing::Test {
protected:
    void TearDown() override
    {
        finishLibrary();
        g_callback = CallbackState();
    }

    // Runs calls until the time is up; sizes are drawn from 1 up to maxSide, and a photograph
    // joins the images when one is named.
    void run(unsigned caseSeed, int maxSide, const char* photo)
    {
        const unsigned seed = unsigned(envNumber("DRAVIK_RANDOM_CALLS_SEED", 1)) * 7919u + caseSeed;
        const double seconds = envNumber("DRAVIK_RANDOM_CALLS_SECONDS", 5.0);
        m_rng.seed(seed);
        m_maxSide = maxSide;
        if (photo) {
            const testsupport::RgbaImage8 p = testsupport::loadRgba8(photo);
            m_photo.bytes.assign(p.samples.begin(), p.samples.end());
            m_photo.desc = {p.width, p.height, p.strideBytes(), DvPixelRgba8, nullptr};
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        long calls = 0;
        while (std::chrono::steady_clock::now() < end && !HasFailure()) {
            ++calls;
            SCOPED_TRACE("seed " + std::to_string(seed) + ", call " + std::to_string(calls));
            step();
        }
        std::printf("random calls: seed %u, %ld calls, %ld entries\n", seed, calls, m_entries);
        RecordProperty("calls", std::to_string(calls));
    }

private:
    // ---- Random values -------------------------------------------------------------------
    int pick(int n) { return int(m_rng() % unsigned(n)); }
    bool chance(int percent) { return pick(100) < percent; }
    int anyInt()
    {
        switch (pick(6)) {
        case 0: return pick(8) - 2;
        case 1: return pick(2 * m_side + 4) - 2;
        case 2: return std::initializer_list<int>{INT_MAX, INT_MIN, INT_MAX - 2, INT_MIN + 1, 1 << 29, -(1 << 29)}
                    .begin()[pick(6)];
        default: return pick(m_side + 1);
        }
    }
    float anyFloat()
    {
        const float inf = std::numeric_limits<float>::infinity();
        switch (pick(8)) {
        case 0: return std::initializer_list<float>{inf, -inf, std::nanf(""), 1e30f, -1e30f, 3e38f}.begin()[pick(6)];
        case 1: return float(pick(2000)) / 100.f - 10.f;
        default: return float(pick(300)) / 100.f;
        }
    }
    unsigned char anyStatusValue()
    {
        return chance(60) ? static_cast<unsigned char>(1u << pick(6)) : static_cast<unsigned char>(pick(256));
    }

    // ---- Images --------------------------------------------------------------------------
    // An image of the given type and size with rows padded by 0..9 bytes, or the photograph.
    Picture picture(int type, int width, int height, bool photo = false)
    {
        Picture p;
        if (photo && !m_photo.bytes.empty()) {
            p.bytes = m_photo.bytes;
            p.desc = m_photo.desc;
            p.desc.data = p.bytes.data();
            return p;
        }
        const unsigned bpp = type == DvPixelRgba16 || type == DvPixelRgba16H ? 8 : type == DvPixelRgba8 ? 4 : 1;
        const unsigned stride = unsigned(width) * bpp + (chance(50) ? 0u : unsigned(pick(10)));
        const unsigned offset = chance(80) ? 0u : 1u;
        p.bytes.resize(offset + std::size_t(stride) * height + 8);
        const testsupport::RgbaImage8 synthetic = testsupport::syntheticPhoto(width, height, m_rng());
        const bool transparent = chance(20);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int k = 0; k < 4 && k < int(bpp); ++k) {
                    int v = synthetic.row(y)[4 * x + k];
                    if (k == 3)
                        v = transparent && pick(4) == 0 ? pick(255) : 255;
                    unsigned char* at = p.bytes.data() + offset + std::size_t(y) * stride + std::size_t(x) * bpp;
                    if (bpp == 8) {
                        const std::uint16_t full = type == DvPixelRgba16 ? 65535 : 32768;
                        const std::uint16_t w = std::uint16_t(v == 255 ? full : v * (full / 256));
                        std::memcpy(at + 2 * k, &w, 2);
                    } else {
                        at[k] = static_cast<unsigned char>(v);
                    }
                }
        p.desc = {width, height, stride, type, p.bytes.data() + offset};
        return p;
    }

    // A descriptor the entry may refuse: no data, no size, rows too short or an unknown type.
    DvImageDesc spoil(DvImageDesc d)
    {
        switch (pick(5)) {
        case 0: d.data = nullptr; break;
        case 1: d.width = chance(50) ? 0 : -pick(5) - 1; break;
        case 2: d.height = chance(50) ? 0 : INT_MIN; break;
        case 3: d.stride = d.stride > 0 ? d.stride - 1 : 0; d.width = std::max(d.width, 1); break;
        default: d.pixelType = chance(50) ? 7 : -1; break;
        }
        return d;
    }

    // A stroke, patch or status bytes: a bitmap of up to 40 x 40 bytes anywhere, or a rectangle
    // of any place and size without one. The bytes live until the next call of this.
    DvSelection selection(bool statusBytes)
    {
        DvSelection s{};
        if (chance(30)) {
            s.left = anyInt();
            s.top = anyInt();
            s.image = {anyInt(), anyInt(), unsigned(pick(64)), DvPixelStatus, nullptr};
            return s;
        }
        const int w = 1 + pick(40), h = 1 + pick(40);
        const unsigned stride = unsigned(w + pick(4));
        m_selectionBytes.assign(std::size_t(stride) * h, 0);
        for (unsigned char& b : m_selectionBytes)
            b = statusBytes ? (chance(70) ? static_cast<unsigned char>(1u << pick(4)) : 0) : (chance(60) ? 1 : 0);
        s.left = chance(80) ? pick(m_side + 10) - 20 : anyInt();
        s.top = chance(80) ? pick(m_side + 10) - 20 : anyInt();
        s.image = {w, h, stride, DvPixelStatus, m_selectionBytes.data()};
        if (chance(10))
            s.image.width = -s.image.width;
        return s;
    }

    DvArea area()
    {
        if (chance(70))
            return {pick(m_side) - 2, pick(m_side) - 2, 1 + pick(m_side), 1 + pick(m_side)};
        return {anyInt(), anyInt(), anyInt(), anyInt()};
    }

    // ---- The library under test ----------------------------------------------------------
    struct Sub {
        DvSession* session;
        Bytes patchBytes;  // must outlive the sub-session
    };

    void newLibrary()
    {
        m_library = DvInit();
        ASSERT_NE(m_library, nullptr);
        m_side = 1 + pick(m_maxSide);
        const bool photo = !m_photo.bytes.empty() && chance(40);
        const int w = photo ? m_photo.desc.width : 1 + pick(m_side), h = photo ? m_photo.desc.height : 1 + pick(m_side);
        m_image = picture(DvPixelRgba8, w, h, photo);
        m_side = std::max(w, h);
        m_session = DvBeginSession(m_library, m_image.desc);
        m_status = DvNewStatusImage(m_library, m_image.desc);
        ASSERT_TRUE(m_session && m_status);
        // A second status image of the same size, and one of another library.
        m_second = DvNewStatusImage(m_library, m_image.desc);
        m_otherLibrary = DvInit();
        m_foreign = DvNewStatusImage(m_otherLibrary, m_image.desc);
        ASSERT_TRUE(m_second && m_foreign);
        m_costlySettings.clear();
        for (const char* name : {"#texture", "textureFilter", "#resolution", "inFocusEdgeWidth", "t%", "overlap"}) {
            DvVariable v{};
            ASSERT_EQ(DvGetVariable(m_session, &v, name), DvOk);
            m_costlySettings.emplace_back(name, v.normalised);
        }
        for (int i = 0; i < m_status->height; ++i)
            for (int x = 0; x < m_status->width; ++x)
                m_status->data[std::size_t(i) * m_status->stride + x] =
                    x < m_status->width / 3 ? 2 : x >= 2 * m_status->width / 3 ? 4 : 1;
    }

    void finishLibrary()
    {
        if (!m_library)
            return;
        EXPECT_EQ(m_library->dead, 0);
        EXPECT_EQ(DvFinish(m_otherLibrary), DvOk);
        EXPECT_EQ(DvFinish(m_library), DvOk);
        m_library = m_otherLibrary = nullptr;
        m_subs.clear();
    }

    Bytes statusBytes(const DvImage* image) const
    {
        return Bytes(image->data, image->data + std::size_t(image->stride) * image->height);
    }
    int undoCount(DvSession* s)
    {
        int n = -1;
        EXPECT_EQ(DvNumAvailableUndo(s, &n), DvOk);
        return n;
    }

    DvSession* anySession()
    {
        if (!m_subs.empty() && chance(30))
            return m_subs[std::size_t(pick(int(m_subs.size())))].session;
        return m_session;
    }
    DvImage* anyImage()
    {
        const int k = pick(20);
        return k < 16 ? m_status : k < 18 ? m_second : m_foreign;
    }

    // ---- Checks --------------------------------------------------------------------------
    void expectDocumented(int result, std::initializer_list<int> allowed, const char* entry)
    {
        ++m_entries;
        EXPECT_TRUE(std::find(allowed.begin(), allowed.end(), result) != allowed.end())
            << entry << " returned " << result;
        ASSERT_EQ(m_library->dead, 0) << entry << " killed the library";
    }

    // ---- One step ------------------------------------------------------------------------
    void step()
    {
        if (!m_library) {
            newLibrary();
            return;
        }
        const int k = pick(100);
        if (k < 30)
            undoableOperation();
        else if (k < 45)
            plainOperation();
        else if (k < 52)
            analysis();
        else if (k < 58)
            generateMask();
        else if (k < 64)
            subSessions();
        else if (k < 74)
            undoAndCounts();
        else if (k < 82)
            variables();
        else if (k < 87)
            scaleImage();
        else if (k < 93)
            badHandles();
        else if (k < 96)
            statusImages();
        else if (k < 98)
            staleHandles();
        else
            finishLibrary();
    }

    // Runs one status operation; 0 when it ran, else its result.
    int statusOperation(DvSession* s, DvImage* image, int which, DvProgressFunction callback)
    {
        switch (which) {
        case 0: {
            const DvSelection stroke = selection(false);
            const unsigned char value = anyStatusValue(), target = chance(50) ? 0x0F : anyStatusValue();
            // Mostly one strength, so that the region levels are not rebuilt at every call.
            const float strength = chance(85) ? 1.f : anyFloat();
            const int mode = chance(90) ? pick(4) : anyInt();
            m_lastSelectSpecial = classification::selectSetsEdgesOrProtection(value, target);
            const int r = DvSelect(s, image, chance(3) ? nullptr : &stroke, value, target, mode, strength, callback);
            expectDocumented(r, {0, 1, 2, 6, 9, 10}, "DvSelect");
            return r;
        }
        case 1: {
            const int r = DvAutoComplex(s, image, anyFloat(), callback);
            expectDocumented(r, {0, 2, 6, 9, 10}, "DvAutoComplex");
            return r;
        }
        case 2: {
            const int r = DvDespeckleSelection(s, image, static_cast<unsigned char>(chance(70) ? pick(6) : pick(256)));
            expectDocumented(r, {0, 2, 6, 9, 10}, "DvDespeckleSelection");
            return r;
        }
        case 3: {
            const DvArea a = area();
            const unsigned char fill = chance(80) ? std::initializer_list<unsigned char>{0, 2, 4}.begin()[pick(3)]
                                                  : static_cast<unsigned char>(pick(256));
            const int r = DvAutoFill(s, image, chance(50) ? nullptr : &a, fill, anyFloat());
            expectDocumented(r, {0, 1, 2, 6, 9}, "DvAutoFill");
            return r;
        }
        default: {
            const DvSelection bytes = selection(true);
            const int r = DvSetStatus(s, image, chance(3) ? nullptr : &bytes);
            expectDocumented(r, {0, 1, 2, 6, 9}, "DvSetStatus");
            return r;
        }
        }
    }

    // An operation on the session in a step of its own: failed, it changed nothing; done,
    // undo restores the statuses before it and redo those after it.
    void undoableOperation()
    {
        ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
        const Bytes before = statusBytes(m_status);
        const int steps = undoCount(m_session);
        const int which = pick(5);
        g_callback = CallbackState{chance(10) ? pick(4) : -1, 0, chance(20) ? m_session : nullptr, DvRefused};
        const int r = statusOperation(m_session, chance(95) ? m_status : anyImage(), which, randomProgress);
        EXPECT_EQ(g_callback.reentryResult, DvRefused) << "an entry ran inside another";
        g_callback = CallbackState();
        if (r != DvOk) {
            EXPECT_TRUE(statusBytes(m_status) == before) << "a failed operation changed the statuses";
            // A cancel takes back the open step, here the empty one just begun.
            const int left = undoCount(m_session);
            EXPECT_TRUE(left == steps || (r == DvCancelled && left == steps - 1)) << left << " of " << steps;
            return;
        }
        if (which == 0 && m_lastSelectSpecial)
            return;  // forced edges and protection are not undoable
        const Bytes after = statusBytes(m_status);
        ASSERT_EQ(DvUndo(m_session), DvOk);
        EXPECT_TRUE(statusBytes(m_status) == before) << "undo is not exact after operation " << which;
        ASSERT_EQ(DvRedo(m_session), DvOk);
        EXPECT_TRUE(statusBytes(m_status) == after) << "redo is not exact after operation " << which;
    }

    // Any operation on any session and image, without a step of its own.
    void plainOperation()
    {
        DvSession* s = anySession();
        const bool sub = s != m_session;
        const Bytes before = statusBytes(m_status);
        if (sub && chance(50)) {
            const int r = DvSetStatusInSession(s, anyImage());
            expectDocumented(r, {0, 9}, "DvSetStatusInSession");
        }
        const int r = statusOperation(s, anyImage(), pick(5), nullptr);
        if (r != DvOk || sub) {
            EXPECT_TRUE(statusBytes(m_status) == before) << "the session's statuses changed";
        }
        if (sub && chance(60)) {
            const int back = DvSetStatusInParent(s, anyImage());
            expectDocumented(back, {0, 9}, "DvSetStatusInParent");
        }
    }

    void analysis()
    {
        DvSession* s = anySession();
        // Beyond tiny images the settings stay near their defaults: the widest texture windows
        // make an analysis take seconds.
        const bool tiny = m_side <= 16;
        if (chance(40)) {
            const DvEdgeOptions options =
                tiny ? DvEdgeOptions{anyFloat(), anyInt(), static_cast<unsigned char>(pick(256)),
                                     static_cast<unsigned char>(pick(256))}
                     : DvEdgeOptions{float(pick(101)) / 100.f, 1 + pick(4), static_cast<unsigned char>(pick(4)),
                                     static_cast<unsigned char>(pick(3))};
            expectDocumented(DvPrepareAnalysis(s, options), {0, 1}, "DvPrepareAnalysis");
        }
        if (!tiny)
            for (const auto& [name, value] : m_costlySettings)
                expectDocumented(DvSetVariable(m_session, name.c_str(), value), {0}, "DvSetVariable");
        // An analysed session is analysed again now and then only; a photograph seldom.
        if (s->analysed && chance(m_side > 200 ? 90 : 60))
            return;
        g_callback = CallbackState{chance(10) ? pick(5) : -1, 0, nullptr, DvRefused};
        expectDocumented(DvAnalyseImage(s, randomProgress), {0, 2, 10}, "DvAnalyseImage");
        g_callback = CallbackState();
    }

    void generateMask()
    {
        const DvImage* status = anyImage();
        const int type = chance(70) ? DvPixelRgba8 : std::initializer_list<int>{2, 3, 0, 9}.begin()[pick(4)];
        // The full-resolution images: the session's size, or a multiple of it, rounded up now
        // and then; sometimes a size that no factor reduces to the session's.
        const int sw = m_image.desc.width, sh = m_image.desc.height;
        const int factor = chance(70) ? 1 : 1 << pick(4);
        int w = std::min(sw * factor - (chance(30) ? pick(factor) : 0), 512);
        int h = std::min(sh * factor - (chance(30) ? pick(factor) : 0), 512);
        if (chance(15)) {
            w = std::max(1, w + pick(5) - 2);
            h = std::max(1, h + pick(5) - 2);
        } else if (chance(5)) {
            w = 1 + pick(std::min(9 * sw, 512));
            h = 1 + pick(std::min(9 * sh, 512));
        }
        Picture source = picture(type, w, h);
        Picture cut = picture(type, w, h);
        cut.desc.stride = source.desc.stride;
        cut.bytes.resize(source.bytes.size());
        cut.desc.data = cut.bytes.data() + (static_cast<unsigned char*>(source.desc.data) - source.bytes.data());
        DvImageDesc sourceDesc = chance(5) ? spoil(source.desc) : source.desc;

        std::vector<std::vector<DvOutlinePoint>> points(std::size_t(pick(3)));
        std::vector<DvForcedEdge> edges;
        for (auto& line : points) {
            line.resize(std::size_t(pick(5)));
            for (DvOutlinePoint& p : line)
                p = chance(80) ? DvOutlinePoint{float(pick(m_side)), float(pick(m_side))}
                               : DvOutlinePoint{anyFloat() * 1e10f, anyFloat()};
            edges.push_back({line.data(), int(line.size()), anyFloat()});
        }
        std::vector<Bytes> patchBytes;
        std::vector<DvMaskPatch> patches(std::size_t(pick(3)));
        for (DvMaskPatch& p : patches) {
            p.area = selection(false);
            patchBytes.push_back(m_selectionBytes);
            if (p.area.image.data)
                p.area.image.data = patchBytes.back().data();
            p.exclusive = chance(20);
            p.method = std::initializer_list<unsigned char>{0, 1, 3, 7}.begin()[pick(4)];
            p.valueA = anyFloat();
            p.valueB = anyFloat();
            p.level = anyFloat();
            p.valueE = anyFloat();
            p.valueD = anyFloat();
        }
        const DvArea a = area();
        const Bytes statusBefore = statusBytes(m_status);
        const Bytes cutBefore = cut.bytes;
        const int steps = undoCount(m_session);
        const bool usedArea = chance(50);
        const int r = DvGenerateMask(m_session, usedArea ? &a : nullptr, cut.desc, sourceDesc,
                                     const_cast<DvImage*>(status), edges.data(), int(edges.size()), anyFloat(),
                                     anyFloat(), patches.data(), int(patches.size()));
        expectDocumented(r, {0, 1, 9, 10}, "DvGenerateMask");
        // The factor that reduces the cut-out's size to the status image's, 0 when none does.
        int related = 0;
        for (int f : {8, 4, 2, 1})
            if ((w + f - 1) / f == sw && (h + f - 1) / f == sh)
                related = f;
        if (r != DvOk) {
            EXPECT_TRUE(cut.bytes == cutBefore) << "a failed generation wrote the cut-out";
            EXPECT_TRUE(statusBytes(m_status) == statusBefore) << "a failed generation changed the statuses";
            EXPECT_EQ(undoCount(m_session), steps);
        } else {
            ASSERT_NE(related, 0) << "a cut-out of " << w << "x" << h << " over a status image of " << sw << "x"
                                  << sh << " was written";
            for (int y = 0; y < m_status->height; ++y)
                for (int x = 0; x < m_status->width; ++x)
                    ASSERT_EQ(m_status->data[std::size_t(y) * m_status->stride + x] & 0xC0, 0);
            expectWrittenOnlyInside(cut, cutBefore, usedArea ? &a : nullptr, related);
        }
    }

    // Every pixel of the cut-out outside the area, mapped to full resolution by the factor, is
    // as it was.
    void expectWrittenOnlyInside(const Picture& cut, const Bytes& before, const DvArea* area, int factor)
    {
        const long long sw = m_image.desc.width, sh = m_image.desc.height;
        long long left = 0, top = 0, right = sw - 1, bottom = sh - 1;
        if (area) {
            left = std::max<long long>(left, area->left);
            top = std::max<long long>(top, area->top);
            right = std::min<long long>(right, (long long)area->left + area->width - 1);
            bottom = std::min<long long>(bottom, (long long)area->top + area->height - 1);
        }
        left *= factor;
        top *= factor;
        right = (right + 1) * factor - 1;
        bottom = (bottom + 1) * factor - 1;
        const DvImageDesc& d = cut.desc;
        const std::size_t bpp = d.pixelType == DvPixelRgba8 ? 4 : 8;
        const std::size_t offset = std::size_t(static_cast<const unsigned char*>(d.data) - cut.bytes.data());
        for (int y = 0; y < d.height; ++y)
            for (int x = 0; x < d.width; ++x) {
                if (x >= left && x <= right && y >= top && y <= bottom)
                    continue;
                const std::size_t at = offset + std::size_t(y) * d.stride + std::size_t(x) * bpp;
                ASSERT_TRUE(std::equal(before.begin() + long(at), before.begin() + long(at + bpp),
                                       cut.bytes.begin() + long(at)))
                    << "pixel " << x << "," << y << " outside the area was written (factor " << factor << ")";
            }
    }

    void subSessions()
    {
        if (!m_subs.empty() && chance(40)) {
            const std::size_t i = std::size_t(pick(int(m_subs.size())));
            expectDocumented(DvEndSession(m_subs[i].session), {0}, "DvEndSession");
            m_subs.erase(m_subs.begin() + long(i));
            return;
        }
        if (m_subs.size() >= 3)
            return;
        DvSelection patch = selection(false);
        Sub sub{nullptr, m_selectionBytes};
        if (patch.image.data)
            patch.image.data = sub.patchBytes.data();
        sub.session = DvBeginSubSession(m_session, chance(3) ? nullptr : &patch, pick(2));
        ++m_entries;
        ASSERT_EQ(m_library->dead, 0);
        if (sub.session)
            m_subs.push_back(std::move(sub));
    }

    void undoAndCounts()
    {
        DvSession* s = anySession();
        int count = -7;
        switch (pick(5)) {
        case 0: expectDocumented(DvUndo(s), {0}, "DvUndo"); break;
        case 1: expectDocumented(DvRedo(s), {0}, "DvRedo"); break;
        case 2: expectDocumented(DvBeginUndoStep(s), {0}, "DvBeginUndoStep"); break;
        case 3:
            expectDocumented(DvNumAvailableUndo(s, chance(10) ? nullptr : &count), {0, 1}, "DvNumAvailableUndo");
            EXPECT_TRUE(count == -7 || count >= 0);
            break;
        default:
            expectDocumented(DvNumAvailableRedo(s, &count), {0}, "DvNumAvailableRedo");
            EXPECT_GE(count, 0);
        }
    }

    void variables()
    {
        DvSession* s = anySession();
        const DvVariable* table = s->variables;
        const int n = s->variableCount;
        std::string name = table && n > 0 && chance(80) ? table[pick(n)].name : std::string("no such variable");
        if (chance(5))
            name.clear();
        if (chance(50)) {
            const int r = DvSetVariable(s, chance(3) ? nullptr : name.c_str(), anyFloat());
            expectDocumented(r, {0, 1}, "DvSetVariable");
        } else {
            DvVariable out{-5.f, nullptr, nullptr};
            const int r = DvGetVariable(s, chance(3) ? nullptr : &out, name.c_str());
            expectDocumented(r, {0, 1}, "DvGetVariable");
            if (r != DvOk) {
                EXPECT_EQ(out.name, nullptr) << "a refused read wrote the record";
            }
        }
    }

    void scaleImage()
    {
        const int w = 1 + pick(m_maxSide), h = 1 + pick(m_maxSide);
        const Picture source = picture(chance(90) ? DvPixelRgba8 : DvPixelRgba16, w, h);
        const int d = 1 << pick(4);
        Picture destination = picture(DvPixelRgba8, std::max(1, (w + d - 1) / d + pick(3) - 1),
                                      std::max(1, (h + d - 1) / d + pick(3) - 1));
        const Bytes before = destination.bytes;
        const int r = DvScaleImage(chance(5) ? spoil(destination.desc) : destination.desc,
                                   chance(5) ? spoil(source.desc) : source.desc);
        ++m_entries;
        EXPECT_TRUE(r == DvOk || r == DvRefused || r == DvInternalFailure) << r;
        if (r != DvOk) {
            EXPECT_TRUE(destination.bytes == before) << "a refused scaling wrote its destination";
        }
    }

    // Junk, copied and misused handles: refused with their codes, never read.
    void badHandles()
    {
        const DvSelection stroke = selection(false);
        DvSession copy = *m_session;
        std::vector<unsigned char> junk(256);
        for (unsigned char& b : junk)
            b = static_cast<unsigned char>(m_rng());
        DvSession* session = std::initializer_list<DvSession*>{
            nullptr, &copy, reinterpret_cast<DvSession*>(junk.data()),
            reinterpret_cast<DvSession*>(m_status)}.begin()[pick(4)];
        DvImage* image = std::initializer_list<DvImage*>{
            nullptr, reinterpret_cast<DvImage*>(junk.data()), reinterpret_cast<DvImage*>(m_session)}.begin()[pick(3)];
        int count = 3;
        expectDocumented(DvUndo(session), {6}, "DvUndo");
        expectDocumented(DvNumAvailableUndo(session, &count), {6}, "DvNumAvailableUndo");
        EXPECT_EQ(count, 3);
        expectDocumented(DvSelect(session, m_status, &stroke, 2, 15, 0, 0.f, nullptr), {6}, "DvSelect");
        expectDocumented(DvSelect(m_session, image, &stroke, 2, 15, 0, 0.f, nullptr), {9}, "DvSelect");
        expectDocumented(DvDeleteStatusImage(image), {9}, "DvDeleteStatusImage");
        expectDocumented(DvFinish(reinterpret_cast<DvLibrary*>(chance(50) ? junk.data() : nullptr)), {7}, "DvFinish");
        EXPECT_EQ(DvBeginSubSession(session, &stroke, 1), nullptr);
    }

    void statusImages()
    {
        const int type = pick(5);
        Picture source = picture(type == 4 ? DvPixelRgba8 : type, 1 + pick(m_side), 1 + pick(m_side));
        DvImage* image = DvNewStatusImage(chance(10) ? m_otherLibrary : m_library,
                                          chance(10) ? spoil(source.desc) : source.desc);
        ++m_entries;
        if (image && chance(50))
            expectDocumented(DvDeleteStatusImage(image), {0}, "DvDeleteStatusImage");
        if (chance(30)) {
            expectDocumented(DvDeleteStatusImage(m_second), {0}, "DvDeleteStatusImage");
            // Begun on an image that other descriptors may spoil: null, or a session.
            DvSession* extra = DvBeginSession(m_library, chance(50) ? spoil(m_image.desc) : m_image.desc);
            if (extra)
                expectDocumented(DvEndSession(extra), {0}, "DvEndSession");
        }
    }

    // Handles right after their end: refused with their codes.
    void staleHandles()
    {
        if (!m_subs.empty() && chance(50)) {
            DvSession* ended = m_subs.back().session;
            expectDocumented(DvEndSession(ended), {0}, "DvEndSession");
            expectDocumented(DvEndSession(ended), {6}, "DvEndSession");
            expectDocumented(DvUndo(ended), {6}, "DvUndo");
            m_subs.pop_back();
            return;
        }
        DvLibrary* library = m_library;
        DvSession* session = m_session;
        DvImage* status = m_status;
        const DvSelection stroke = selection(false);
        finishLibrary();
        EXPECT_EQ(DvUndo(session), DvBadSession);
        EXPECT_EQ(DvSelect(session, status, &stroke, 2, 15, 0, 0.f, nullptr), DvBadImage);
        EXPECT_EQ(DvDeleteStatusImage(status), DvBadImage);
        EXPECT_EQ(DvFinish(library), DvBadLibrary);
        EXPECT_EQ(DvBeginSession(library, m_image.desc), nullptr);
    }

    std::mt19937 m_rng;
    int m_maxSide = 8;
    int m_side = 8;
    long m_entries = 0;
    Picture m_photo;
    Picture m_image;
    DvLibrary* m_library = nullptr;
    DvLibrary* m_otherLibrary = nullptr;
    DvSession* m_session = nullptr;
    DvImage* m_status = nullptr;
    DvImage* m_second = nullptr;
    DvImage* m_foreign = nullptr;
    std::vector<Sub> m_subs;
    Bytes m_selectionBytes;
    bool m_lastSelectSpecial = false;
    std::vector<std::pair<std::string, float>> m_costlySettings;
};

} // namespace

TEST_F(RandomCalls, TinyImages) { run(1, 4, nullptr); }

TEST_F(RandomCalls, SmallImages) { run(2, 48, nullptr); }

TEST_F(RandomCalls, MediumImages) { run(3, 120, nullptr); }

TEST_F(RandomCalls, Photograph) { run(4, 64, "chelsea.png"); }
