#pragma once
// A library with a session and its status image over an RGBA image, for tests that drive the
// engine through the call interface, with the helpers those tests share.

#include "allocation_failure.h"
#include "testimage.h"

#include "session/session.h"
#include "dravik.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace testsupport {

using Snapshot = std::vector<unsigned char>;

inline DvImageDesc describe(RgbaImage8& image)
{
    return {image.width, image.height, image.strideBytes(), DvPixelRgba8, image.samples.data()};
}

// Every pixel of a rectangle: a selection without a bitmap.
inline DvSelection wholeRect(int left, int top, int width, int height)
{
    return {left, top, {width, height, unsigned(width), DvPixelStatus, nullptr}};
}

// A disk of the given diameter, one byte per pixel: 1 inside, 0 outside.
inline std::vector<unsigned char> disk(int size)
{
    std::vector<unsigned char> bytes(std::size_t(size) * size);
    const double c = (size - 1) / 2.0;
    for (int r = 0; r < size; ++r)
        for (int col = 0; col < size; ++col)
            bytes[std::size_t(r) * size + col] = (r - c) * (r - c) + (col - c) * (col - c) <= c * c ? 1 : 0;
    return bytes;
}

inline classification::IiClassification& classificationOf(DvSession* s)
{
    return static_cast<DvInSession*>(s)->classification();
}

inline int undoCount(DvSession* s)
{
    int n = -1;
    EXPECT_EQ(DvNumAvailableUndo(s, &n), DvOk);
    return n;
}

inline int redoCount(DvSession* s)
{
    int n = -1;
    EXPECT_EQ(DvNumAvailableRedo(s, &n), DvOk);
    return n;
}

// Finishes the library after each test, or releases it when an allocation failure killed it.
class SessionTest : public ::testing::Test {
protected:
    // A new library, a session on the image and a status image for it; the fixture keeps the
    // image, which the session reads.
    void begin(RgbaImage8 image)
    {
        m_image = std::move(image);
        m_library = DvInit();
        m_session = DvBeginSession(m_library, describe(m_image));
        m_status = DvNewStatusImage(m_library, describe(m_image));
        ASSERT_TRUE(m_session && m_status);
    }

    void TearDown() override
    {
        stopFailingAllocations();
        if (!m_library)
            return;
        if (m_library->dead)
            dravik::destroyLibrary(m_library);
        else
            EXPECT_EQ(DvFinish(m_library), DvOk);
    }

    // The status byte at column x, row y.
    unsigned char& at(int x, int y) { return m_status->data[std::size_t(y) * m_status->stride + x]; }
    Snapshot snapshot() const
    {
        return Snapshot(m_status->data, m_status->data + std::size_t(m_status->stride) * m_status->height);
    }
    int undoCount() { return testsupport::undoCount(m_session); }
    int redoCount() { return testsupport::redoCount(m_session); }
    classification::IiClassification& classification() { return classificationOf(m_session); }

    // Colour classes of the image, two bits per channel.
    classification::Labels colourClasses() const
    {
        classification::Labels classes(m_image.height, m_image.width);
        for (int y = 0; y < m_image.height; ++y)
            for (int x = 0; x < m_image.width; ++x) {
                const unsigned char* p = m_image.row(y) + 4 * x;
                classes(y, x) = (p[0] >> 6) * 16 + (p[1] >> 6) * 4 + (p[2] >> 6);
            }
        return classes;
    }
    // The session counts as analysed, with these level labels at every level.
    void analysed(const classification::Labels& levelLabels)
    {
        classification().injectLabelsForTesting(classification::Labels(),
                                                std::vector<classification::Labels>(7, levelLabels));
        m_session->analysed = 1;
    }

    // Calls prepare() and then run() with the n-th allocation of run() failing, for n = 0, 1, ...
    // until run() makes no failing allocation, and returns that run's result. Every failing run
    // must return DvOutOfMemory and leave the statuses, the undo count and the library as they
    // were before the first, and the redo count as prepare() left it; the first broken rule ends
    // the loop.
    template <typename Prepare, typename Run>
    DvResult failEachAllocation(Prepare prepare, Run run)
    {
        const Snapshot before = snapshot();
        const int steps = undoCount();
        for (long n = 0;; ++n) {
            prepare();
            const int redoSteps = redoCount();
            failAllocation(n);
            const DvResult r = run();
            const bool failed = allocationFailed();
            stopFailingAllocations();
            if (!failed)
                return r;
            EXPECT_EQ(r, DvOutOfMemory) << n;
            EXPECT_TRUE(snapshot() == before) << n;
            EXPECT_EQ(undoCount(), steps) << n;
            EXPECT_EQ(redoCount(), redoSteps) << n;
            EXPECT_EQ(m_library->dead, 0) << n;
            if (HasFailure())
                return r;
        }
    }

    RgbaImage8 m_image;
    DvLibrary* m_library = nullptr;
    DvSession* m_session = nullptr;
    DvImage* m_status = nullptr;
};

} // namespace testsupport
