#include "testimage.h"

#include "session/session.h"
#include "dravik.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using classification::Rect;

namespace {

// Interleaved RGBA of any sample type whose every alpha is given per pixel.
template <typename T>
std::vector<T> rgbaWithAlpha(int width, int height, T opaque)
{
    std::vector<T> samples(std::size_t(width) * height * 4, T(7));
    for (std::size_t i = 3; i < samples.size(); i += 4)
        samples[i] = opaque;
    return samples;
}

template <typename T>
DvImageDesc describe(std::vector<T>& samples, int width, int height, int type)
{
    return {width, height, unsigned(width * 4 * sizeof(T)), type, samples.data()};
}

unsigned char at(const DvImage* image, int x, int y) { return image->data[y * image->stride + x]; }

class Statuses : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_library = DvInit();
        ASSERT_NE(m_library, nullptr);
    }
    void TearDown() override
    {
        if (m_library->dead)
            dravik::destroyLibrary(m_library);
        else
            EXPECT_EQ(DvFinish(m_library), DvOk);
    }

    // A session over a 60 x 40 opaque image with its status image, every status 1.
    void beginSession()
    {
        m_pixels = rgbaWithAlpha<unsigned char>(60, 40, 255);
        const DvImageDesc d = describe(m_pixels, 60, 40, DvPixelRgba8);
        m_status = DvNewStatusImage(m_library, d);
        m_session = DvBeginSession(m_library, d);
        ASSERT_TRUE(m_status && m_session);
    }

    DvResult setStatus(DvSession* s, int left, int top, int width, int height, unsigned char value)
    {
        m_update.assign(std::size_t(width) * height, value);
        const DvSelection sel{left, top, {width, height, unsigned(width), DvPixelStatus, m_update.data()}};
        return DvSetStatus(s, m_status, &sel);
    }

    int count(unsigned char value, int x1, int y1, int x2, int y2) const
    {
        int n = 0;
        for (int y = y1; y <= y2; ++y)
            for (int x = x1; x <= x2; ++x)
                n += at(m_status, x, y) == value;
        return n;
    }

    DvLibrary* m_library = nullptr;
    std::vector<unsigned char> m_pixels;
    std::vector<unsigned char> m_update;
    DvImage* m_status = nullptr;
    DvSession* m_session = nullptr;
};

} // namespace

TEST_F(Statuses, StatusImagesFollowTheSourceAlpha)
{
    auto rgba8 = rgbaWithAlpha<unsigned char>(5, 3, 255);
    rgba8[4 * 6 + 3] = 254;  // pixel (1, 1)
    DvImage* s8 = DvNewStatusImage(m_library, describe(rgba8, 5, 3, DvPixelRgba8));
    ASSERT_NE(s8, nullptr);
    EXPECT_EQ(s8->stride, 8u);
    EXPECT_EQ(at(s8, 0, 0), 1);
    EXPECT_EQ(at(s8, 1, 1), 0);
    EXPECT_EQ(at(s8, 4, 2), 1);

    auto full16 = rgbaWithAlpha<std::uint16_t>(4, 2, 65535);
    full16[3] = 65534;
    DvImage* s16 = DvNewStatusImage(m_library, describe(full16, 4, 2, DvPixelRgba16));
    ASSERT_NE(s16, nullptr);
    EXPECT_EQ(at(s16, 0, 0), 0);
    EXPECT_EQ(at(s16, 1, 0), 1);

    auto half16 = rgbaWithAlpha<std::uint16_t>(4, 2, 32768);
    half16[4 * 5 + 3] = 32767;  // pixel (1, 1)
    DvImage* h16 = DvNewStatusImage(m_library, describe(half16, 4, 2, DvPixelRgba16H));
    ASSERT_NE(h16, nullptr);
    EXPECT_EQ(at(h16, 0, 0), 1);
    EXPECT_EQ(at(h16, 1, 1), 0);

    // Types other than 1 to 3 are not read: every status is Unassigned.
    std::vector<unsigned char> zeros(16, 0);
    for (int type : {0, 9}) {
        DvImage* s = DvNewStatusImage(m_library, {4, 4, 4, type, zeros.data()});
        ASSERT_NE(s, nullptr) << type;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(at(s, x, y), 1);
    }

    EXPECT_EQ(DvNewStatusImage(m_library, {5, 3, 20, DvPixelRgba8, nullptr}), nullptr);
    EXPECT_EQ(DvNewStatusImage(m_library, {0, 3, 20, DvPixelRgba8, rgba8.data()}), nullptr);
    EXPECT_EQ(DvNewStatusImage(m_library, {5, -1, 20, DvPixelRgba8, rgba8.data()}), nullptr);
    EXPECT_EQ(DvNewStatusImage(m_library, {5, 3, 19, DvPixelRgba8, rgba8.data()}), nullptr);
    EXPECT_EQ(DvNewStatusImage(m_library, {4, 2, 31, DvPixelRgba16, full16.data()}), nullptr);
    EXPECT_EQ(DvNewStatusImage(nullptr, describe(rgba8, 5, 3, DvPixelRgba8)), nullptr);
    EXPECT_EQ(m_library->images.size(), 5u);
}

TEST_F(Statuses, SetStatusReplacesWhereBothAreSetAndUndoes)
{
    beginSession();
    // Row 12 holds 0 (outside the image's alpha) and must stay so.
    std::memset(m_status->data + 12 * m_status->stride, 0, 60);
    const std::vector<unsigned char> before(m_status->data, m_status->data + m_status->stride * 40);

    // A new image with a hole of 0 at its centre.
    std::vector<unsigned char> update(20 * 10, 4);
    update[5 * 20 + 10] = 0;
    const DvSelection sel{30, 8, {20, 10, 20, DvPixelStatus, update.data()}};
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvSetStatus(m_session, m_status, &sel), DvOk);

    EXPECT_EQ(count(4, 30, 8, 49, 17), 20 * 10 - 20 - 1);
    EXPECT_EQ(at(m_status, 40, 13), 1) << "a 0 in the new image leaves the pixel";
    EXPECT_EQ(count(0, 30, 12, 49, 12), 20) << "a 0 in the status array stays";
    EXPECT_EQ(count(4, 0, 0, 59, 39), 20 * 10 - 20 - 1) << "nothing outside the update";
    EXPECT_EQ(m_session->dirtyLeft, 30);
    EXPECT_EQ(m_session->dirtyTop, 8);
    EXPECT_EQ(m_session->dirtyWidth, 20);
    EXPECT_EQ(m_session->dirtyHeight, 10);
    const std::vector<unsigned char> after(m_status->data, m_status->data + m_status->stride * 40);

    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), m_status->data));
    EXPECT_EQ(m_session->dirtyWidth, 20);
    ASSERT_EQ(DvRedo(m_session), DvOk);
    EXPECT_TRUE(std::equal(after.begin(), after.end(), m_status->data));

    // The dirty area is handed over once, then forgotten.
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_EQ(m_session->dirtyWidth, 0);
}

TEST_F(Statuses, SetStatusOverlapAndSteps)
{
    beginSession();
    int n = 0;
    // Reaching past the image: only the overlap changes.
    ASSERT_EQ(setStatus(m_session, 50, 35, 30, 30, 2), DvOk);
    EXPECT_EQ(count(2, 0, 0, 59, 39), 10 * 5);
    EXPECT_EQ(m_session->dirtyLeft, 50);
    EXPECT_EQ(m_session->dirtyWidth, 10);
    EXPECT_EQ(m_session->dirtyHeight, 5);
    // Twice without a begin-step: one step.
    ASSERT_EQ(setStatus(m_session, 0, 0, 5, 5, 4), DvOk);
    ASSERT_EQ(DvNumAvailableUndo(m_session, &n), DvOk);
    EXPECT_EQ(n, 1);
    // No overlap: no change and no step.
    ASSERT_EQ(DvUndo(m_session), DvOk);
    ASSERT_EQ(setStatus(m_session, 70, 0, 5, 5, 4), DvOk);
    ASSERT_EQ(DvNumAvailableUndo(m_session, &n), DvOk);
    EXPECT_EQ(n, 0);
    ASSERT_EQ(DvNumAvailableRedo(m_session, &n), DvOk);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(count(1, 0, 0, 59, 39), 60 * 40);
}

TEST_F(Statuses, SubSessionBracketChangesTheParentOnlyInsideThePatch)
{
    beginSession();
    const DvSelection patch{10, 5, {20, 15, 0, DvPixelStatus, nullptr}};
    DvSession* sub = DvBeginSubSession(m_session, &patch, 1);
    ASSERT_NE(sub, nullptr);
    // The parent changes after the sub-session was begun; the bracket brings it in.
    ASSERT_EQ(setStatus(m_session, 0, 0, 60, 40, 8), DvOk);
    ASSERT_EQ(DvSetStatusInSession(sub, m_status), DvOk);
    DvInSession* inner = static_cast<DvInSession*>(sub);
    classification::Bytes own = inner->statusArrayFor(*static_cast<DvInImage*>(m_status));
    EXPECT_EQ(own.lbound(0), 5);
    EXPECT_EQ(own.lbound(1), 10);
    EXPECT_TRUE(blitz::all(own == 8));

    // The sub-session's own set status, in the parent's coordinates, reaches past the patch.
    ASSERT_EQ(setStatus(sub, 0, 0, 60, 40, 2), DvOk);
    EXPECT_EQ(count(2, 0, 0, 59, 39), 0) << "the parent is untouched until the bracket closes";
    EXPECT_EQ(sub->dirtyLeft, 10);
    EXPECT_EQ(sub->dirtyTop, 5);
    EXPECT_EQ(sub->dirtyWidth, 20);
    EXPECT_EQ(sub->dirtyHeight, 15);

    int parentSteps = 0;
    ASSERT_EQ(DvBeginUndoStep(m_session), DvOk);
    ASSERT_EQ(DvNumAvailableUndo(m_session, &parentSteps), DvOk);
    ASSERT_EQ(DvSetStatusInParent(sub, m_status), DvOk);
    EXPECT_EQ(count(2, 10, 5, 29, 19), 20 * 15);
    EXPECT_EQ(count(2, 0, 0, 59, 39), 20 * 15);
    EXPECT_EQ(m_session->dirtyLeft, 10);
    EXPECT_EQ(m_session->dirtyHeight, 15);

    // Closing the bracket is one undoable step of the parent.
    int steps = 0;
    ASSERT_EQ(DvNumAvailableUndo(m_session, &steps), DvOk);
    EXPECT_EQ(steps, parentSteps);
    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_EQ(count(8, 0, 0, 59, 39), 60 * 40);
}

TEST_F(Statuses, UndoAndRedoForgetTheLastOperation)
{
    beginSession();
    ASSERT_EQ(setStatus(m_session, 0, 0, 5, 5, 4), DvOk);
    classification::IiClassification& c = static_cast<DvInSession*>(m_session)->classification();
    // As a select leaves it: a changed rectangle that a despeckle could commit again.
    c.changed() = Rect{0, 0, 4, 4};
    ASSERT_EQ(DvUndo(m_session), DvOk);
    EXPECT_TRUE(c.changed().isEmpty());
    c.changed() = Rect{0, 0, 4, 4};
    ASSERT_EQ(DvRedo(m_session), DvOk);
    EXPECT_TRUE(c.changed().isEmpty());
}
