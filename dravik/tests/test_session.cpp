#include "client_progress.h"
#include "session_fixture.h"

#include <algorithm>
#include <cstring>
#include <vector>

using testsupport::describe;
using testsupport::RgbaImage8;

namespace {

constexpr int imageWidth = 320, imageHeight = 240;

// A photo-like image with a transparent disk and one pixel just short of opaque.
RgbaImage8 photoWithHole()
{
    RgbaImage8 image = testsupport::syntheticPhoto(imageWidth, imageHeight, 3);
    for (int y = 0; y < imageHeight; ++y)
        for (int x = 0; x < imageWidth; ++x) {
            const int dx = x - 200, dy = y - 120;
            image.row(y)[4 * x + 3] = dx * dx + dy * dy < 30 * 30 ? 0 : 255;
        }
    image.row(5)[4 * 7 + 3] = 254;
    return image;
}

std::string variableText(DvSession* s, const char* name)
{
    DvVariable v{};
    EXPECT_EQ(DvGetVariable(s, &v, name), DvOk) << name;
    return v.text ? v.text : "";
}

// Sessions and status images are made by each test.
class Engine : public testsupport::SessionTest {
protected:
    void SetUp() override
    {
        m_image = photoWithHole();
        m_library = DvInit();
        ASSERT_NE(m_library, nullptr);
    }

    DvSession* beginSession() { return DvBeginSession(m_library, describe(m_image)); }
    DvImage* newStatusImage() { return DvNewStatusImage(m_library, describe(m_image)); }
};

} // namespace

TEST_F(Engine, LifeCycle)
{
    DvImage* status = newStatusImage();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->width, imageWidth);
    EXPECT_EQ(status->height, imageHeight);
    EXPECT_EQ(status->stride, 320u);
    EXPECT_EQ(status->pixelType, DvPixelStatus);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(status->data) % 4, 0u);
    for (int y = 0; y < imageHeight; ++y)
        for (int x = 0; x < imageWidth; ++x)
            ASSERT_EQ(status->data[y * status->stride + x], m_image.row(y)[4 * x + 3] == 255 ? 1 : 0)
                << x << ", " << y;

    DvSession* session = beginSession();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->left, 0);
    EXPECT_EQ(session->top, 0);
    EXPECT_EQ(session->width, imageWidth);
    EXPECT_EQ(session->height, imageHeight);
    EXPECT_EQ(session->dirtyWidth, 0);
    EXPECT_EQ(session->dirtyHeight, 0);
    EXPECT_NEAR(session->sensitivity, 0.49f, 1e-5);
    EXPECT_EQ(session->edgeWidth, 2);  // 320 / 2^8.5 is below the smallest width
    EXPECT_EQ(session->edgeContrast, 1);
    EXPECT_EQ(session->texture, 1);
    ASSERT_EQ(session->variableCount, 22);
    EXPECT_STREQ(session->variables[0].name, "imageTol");
    EXPECT_STREQ(session->variables[21].name, "bg sampling");
    EXPECT_STREQ(session->variables[6].text, "3");
    EXPECT_EQ(session->analysed, 0);
    EXPECT_EQ(session->outlines, nullptr);
    EXPECT_EQ(session->outlineCount, 0);
    EXPECT_EQ(session->library, m_library);
    EXPECT_EQ(session->parent, nullptr);

    // Variables by name.
    EXPECT_EQ(DvSetVariable(session, "overlap", 1.0f), DvOk);
    EXPECT_EQ(variableText(session, "overlap"), "3*");
    EXPECT_EQ(DvSetVariable(session, "imageTol", 0.25f), DvOk);
    EXPECT_NEAR(session->sensitivity, 0.75f, 1e-5);
    DvVariable untouched{0.5f, "x", "y"};
    EXPECT_EQ(DvGetVariable(session, &untouched, "no such"), DvRefused);
    EXPECT_EQ(untouched.normalised, 0.5f);
    EXPECT_STREQ(untouched.name, "x");
    EXPECT_EQ(DvSetVariable(session, "no such", 0.5f), DvRefused);

    // Prepare: the records change, the suggested settings wait for the next set.
    EXPECT_EQ(DvPrepareAnalysis(session, DvEdgeOptions{0.3f, 5, 2, 0}), DvOk);
    DvVariable v{};
    ASSERT_EQ(DvGetVariable(session, &v, "imageTol"), DvOk);
    EXPECT_NEAR(v.normalised, 0.7f, 1e-5);
    EXPECT_EQ(variableText(session, "inFocusEdgeWidth"), "5*");
    EXPECT_EQ(variableText(session, "edgeContrast"), "2=high*");
    EXPECT_EQ(variableText(session, "textureFilter"), "0=fine*");
    EXPECT_NEAR(session->sensitivity, 0.75f, 1e-5);
    EXPECT_EQ(DvSetVariable(session, "focus", 0.5f), DvOk);
    EXPECT_NEAR(session->sensitivity, 0.3f, 1e-5);
    EXPECT_EQ(session->edgeWidth, 5);
    EXPECT_EQ(session->edgeContrast, 2);
    EXPECT_EQ(session->texture, 0);

    // Undo steps.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(DvBeginUndoStep(session), DvOk);
    EXPECT_EQ(testsupport::undoCount(session), 3);
    EXPECT_EQ(DvUndo(session), DvOk);
    EXPECT_EQ(DvUndo(session), DvOk);
    EXPECT_EQ(testsupport::undoCount(session), 1);
    EXPECT_EQ(testsupport::redoCount(session), 2);
    EXPECT_EQ(DvRedo(session), DvOk);
    EXPECT_EQ(testsupport::undoCount(session), 2);
    EXPECT_EQ(testsupport::redoCount(session), 1);
    EXPECT_EQ(DvBeginUndoStep(session), DvOk);
    EXPECT_EQ(testsupport::redoCount(session), 0);

    // A sub-session on a circular patch.
    std::vector<unsigned char> disk = testsupport::disk(64);
    const DvSelection patch{100, 50, {64, 64, 64, DvPixelStatus, disk.data()}};
    DvSession* sub = DvBeginSubSession(session, &patch, 1);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->left, 100);
    EXPECT_EQ(sub->top, 50);
    EXPECT_EQ(sub->width, 64);
    EXPECT_EQ(sub->height, 64);
    EXPECT_EQ(sub->dirtyLeft, 100);
    EXPECT_EQ(sub->dirtyTop, 50);
    EXPECT_EQ(sub->dirtyWidth, 64);
    EXPECT_EQ(sub->dirtyHeight, 64);
    EXPECT_EQ(sub->parent, session);
    EXPECT_EQ(sub->analysed, 0);
    EXPECT_EQ(sub->variableCount, 22);
    // The patch's outline: one closed polyline around the disk, column first, in the parent's
    // coordinates.
    ASSERT_EQ(sub->outlineCount, 1);
    const DvOutline& outline = sub->outlines[0];
    ASSERT_GT(outline.count, 8);
    EXPECT_EQ(outline.points[0].column, outline.points[outline.count - 1].column);
    EXPECT_EQ(outline.points[0].row, outline.points[outline.count - 1].row);
    for (int i = 0; i < outline.count; ++i) {
        EXPECT_GE(outline.points[i].column, 100.f);
        EXPECT_LE(outline.points[i].column, 164.f);
        EXPECT_GE(outline.points[i].row, 50.f);
        EXPECT_LE(outline.points[i].row, 114.f);
    }
    const auto [left, right] = std::minmax_element(
        outline.points, outline.points + outline.count,
        [](const DvOutlinePoint& a, const DvOutlinePoint& b) { return a.column < b.column; });
    EXPECT_LE(left->column, 102.f);
    EXPECT_GE(right->column, 162.f);
    EXPECT_EQ(DvSetVariable(sub, "overlap", 0.0f), DvRefused);
    EXPECT_EQ(variableText(sub, "overlap"), "1");
    EXPECT_EQ(DvSetStatusInSession(sub, status), DvOk);
    EXPECT_EQ(DvSetStatusInParent(sub, status), DvOk);

    EXPECT_EQ(DvDeleteStatusImage(status), DvOk);
    EXPECT_EQ(DvFinish(m_library), DvOk);
    m_library = nullptr;
}

TEST_F(Engine, HandlesAreValidatedInOrder)
{
    DvSession* session = beginSession();
    DvImage* status = newStatusImage();
    ASSERT_TRUE(session && status);
    const DvSelection stroke{0, 0, {4, 4, 4, DvPixelStatus, nullptr}};

    EXPECT_EQ(DvSelect(nullptr, nullptr, &stroke, 2, 1, 0, 0, nullptr), DvBadImage);
    EXPECT_EQ(DvSelect(nullptr, status, &stroke, 2, 1, 0, 0, nullptr), DvBadSession);

    DvImage fakeImage = *status;
    fakeImage.magic = 0;
    EXPECT_EQ(DvSelect(session, &fakeImage, &stroke, 2, 1, 0, 0, nullptr), DvBadImage);

    DvSession fake = *session;
    fake.magic = 1;
    EXPECT_EQ(DvUndo(&fake), DvBadSession);
    // A copy of a live session's block is no session, whatever it holds.
    fake = *session;
    EXPECT_EQ(DvSelect(&fake, status, &stroke, 2, 1, 0, 0, nullptr), DvBadSession);
    int count = 42;
    EXPECT_EQ(DvNumAvailableUndo(&fake, &count), DvBadSession);
    EXPECT_EQ(DvNumAvailableRedo(nullptr, &count), DvBadSession);
    EXPECT_EQ(count, 42);
    EXPECT_EQ(DvFinish(nullptr), DvBadLibrary);
    DvLibrary notFromInit;
    EXPECT_EQ(DvFinish(&notFromInit), DvBadLibrary);
    EXPECT_EQ(DvBeginSession(&notFromInit, describe(m_image)), nullptr);
    EXPECT_EQ(DvDeleteStatusImage(&fakeImage), DvBadImage);

    // Nothing that is not a handle is ever marked: the library is alive.
    EXPECT_EQ(m_library->dead, 0);
}

TEST_F(Engine, BeginSessionTakesOnlyUsableRgbaImages)
{
    DvImageDesc d = describe(m_image);
    for (int type : {0, 2, 3}) {
        DvImageDesc other = d;
        other.pixelType = type;
        EXPECT_EQ(DvBeginSession(m_library, other), nullptr) << type;
    }
    DvImageDesc shortStride = d;
    shortStride.stride = 4 * imageWidth - 1;
    EXPECT_EQ(DvBeginSession(m_library, shortStride), nullptr);
    DvImageDesc noData = d;
    noData.data = nullptr;
    EXPECT_EQ(DvBeginSession(m_library, noData), nullptr);
    DvImageDesc empty = d;
    empty.height = 0;
    EXPECT_EQ(DvBeginSession(m_library, empty), nullptr);
    EXPECT_EQ(DvBeginSession(nullptr, d), nullptr);
    EXPECT_TRUE(m_library->sessions.empty());
    EXPECT_EQ(m_library->dead, 0);
}

TEST_F(Engine, SubSessionPatchMustLieInsideTheParent)
{
    DvSession* session = beginSession();
    ASSERT_NE(session, nullptr);
    const DvSelection outside{imageWidth - 10, 0, {20, 20, 20, DvPixelStatus, nullptr}};
    const DvSelection negative{-1, 5, {20, 20, 20, DvPixelStatus, nullptr}};
    const DvSelection empty{10, 10, {0, 20, 0, DvPixelStatus, nullptr}};
    EXPECT_EQ(DvBeginSubSession(session, &outside, 1), nullptr);
    EXPECT_EQ(DvBeginSubSession(session, &negative, 1), nullptr);
    EXPECT_EQ(DvBeginSubSession(session, &empty, 1), nullptr);
    EXPECT_EQ(DvBeginSubSession(session, nullptr, 1), nullptr);
    EXPECT_EQ(m_library->sessions.size(), 1u);

    // A whole-image patch is allowed, and a patch without a bitmap publishes no outlines.
    const DvSelection whole{0, 0, {imageWidth, imageHeight, 0, DvPixelStatus, nullptr}};
    DvSession* sub = DvBeginSubSession(session, &whole, 0);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->outlines, nullptr);
    EXPECT_EQ(sub->outlineCount, 0);
    // Without its own analysis it has no variables to publish and cannot analyse.
    EXPECT_EQ(sub->variables, nullptr);
    EXPECT_EQ(DvAnalyseImage(sub, nullptr), DvNoSegmentation);
}

TEST_F(Engine, EndingASessionEndsItsSubSessionsFirst)
{
    DvSession* session = beginSession();
    ASSERT_NE(session, nullptr);
    const DvSelection patch{10, 10, {50, 40, 50, DvPixelStatus, nullptr}};
    DvSession* sub = DvBeginSubSession(session, &patch, 1);
    ASSERT_NE(sub, nullptr);
    const DvSelection inner{20, 20, {10, 10, 10, DvPixelStatus, nullptr}};
    ASSERT_NE(DvBeginSubSession(sub, &inner, 0), nullptr);
    ASSERT_NE(DvBeginSubSession(session, &patch, 0), nullptr);
    EXPECT_EQ(m_library->sessions.size(), 4u);

    EXPECT_EQ(DvEndSession(sub), DvOk);
    EXPECT_EQ(m_library->sessions.size(), 2u);
    EXPECT_EQ(static_cast<DvInSession*>(session)->children().size(), 1u);
    EXPECT_EQ(DvEndSession(session), DvOk);
    EXPECT_TRUE(m_library->sessions.empty());
}

TEST_F(Engine, CancelDuringBeginSessionBuildsNothing)
{
    DvSession* session = beginSession();
    ASSERT_NE(session, nullptr);
    {
        testsupport::RacingClock clock(DvProgressAbort);
        EXPECT_EQ(beginSession(), nullptr);
        EXPECT_FALSE(testsupport::clientProgress().calls.empty());
        const DvSelection patch{10, 10, {50, 40, 50, DvPixelStatus, nullptr}};
        EXPECT_EQ(DvBeginSubSession(session, &patch, 1), nullptr);
    }
    EXPECT_EQ(m_library->sessions.size(), 1u);
    EXPECT_TRUE(static_cast<DvInSession*>(session)->children().empty());
    EXPECT_EQ(m_library->dead, 0);

    // Once built, a session's own reporter no longer cancels.
    testsupport::RacingClock clock(DvProgressAbort);
    EXPECT_EQ(DvBeginUndoStep(session), DvOk);
    EXPECT_EQ(DvUndo(session), DvOk);
}

TEST_F(Engine, AllocationFailureDuringUndoKillsTheLibrary)
{
    DvSession* session = beginSession();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(DvBeginUndoStep(session), DvOk);
    testsupport::failAllocation(0);
    EXPECT_EQ(DvUndo(session), DvOutOfMemoryUntrusted);
    EXPECT_TRUE(testsupport::allocationFailed());
    int count = 7;
    EXPECT_EQ(DvNumAvailableUndo(session, &count), DvLibraryDead);
    EXPECT_EQ(count, 7);
    EXPECT_EQ(DvRedo(session), DvLibraryDead);
    EXPECT_EQ(DvBeginSession(m_library, describe(m_image)), nullptr);
    EXPECT_EQ(DvFinish(m_library), DvLibraryDead);
}

TEST_F(Engine, AllocationFailuresDuringBeginSession)
{
    // Every allocation the construction makes, failed in turn, gives null and a dead library.
    DvImageDesc d = describe(m_image);
    for (long n = 0;; ++n) {
        DvLibrary* library = DvInit();
        ASSERT_NE(library, nullptr);
        testsupport::failAllocation(n);
        DvSession* session = DvBeginSession(library, d);
        const bool failed = testsupport::allocationFailed();
        testsupport::stopFailingAllocations();
        if (!failed) {
            ASSERT_NE(session, nullptr);
            EXPECT_EQ(DvFinish(library), DvOk);
            break;
        }
        EXPECT_EQ(session, nullptr) << n;
        EXPECT_TRUE(library->sessions.empty()) << n;
        EXPECT_EQ(library->dead, 1) << n;
        dravik::destroyLibrary(library);
    }
}

TEST_F(Engine, AllocationFailuresDuringBeginSubSession)
{
    std::vector<unsigned char> disk = testsupport::disk(40);
    const DvSelection patch{30, 20, {40, 40, 40, DvPixelStatus, disk.data()}};
    for (long n = 0;; ++n) {
        DvLibrary* library = DvInit();
        DvSession* session = DvBeginSession(library, describe(m_image));
        ASSERT_NE(session, nullptr);
        testsupport::failAllocation(n);
        DvSession* sub = DvBeginSubSession(session, &patch, 1);
        const bool failed = testsupport::allocationFailed();
        testsupport::stopFailingAllocations();
        if (!failed) {
            ASSERT_NE(sub, nullptr);
            EXPECT_EQ(sub->outlineCount, 1);
            EXPECT_EQ(DvFinish(library), DvOk);
            break;
        }
        EXPECT_EQ(sub, nullptr) << n;
        EXPECT_EQ(library->sessions.size(), 1u) << n;
        EXPECT_TRUE(static_cast<DvInSession*>(session)->children().empty()) << n;
        EXPECT_EQ(library->dead, 1) << n;
        dravik::destroyLibrary(library);
    }
}

TEST_F(Engine, AllocationFailuresDuringSetStatusLeaveTheSessionUsable)
{
    m_session = beginSession();
    m_status = newStatusImage();
    ASSERT_TRUE(m_session && m_status);
    std::vector<unsigned char> keep(40 * 30, 2);
    const DvSelection update{60, 70, {40, 30, 40, DvPixelStatus, keep.data()}};
    // Each failed operation's step is taken back: no undo step, nothing to redo.
    const DvResult r = failEachAllocation([&] { ASSERT_EQ(DvBeginUndoStep(m_session), DvOk); },
                                          [&] { return DvSetStatus(m_session, m_status, &update); });
    EXPECT_EQ(r, DvOk);
    EXPECT_EQ(at(60, 70), 2);
    EXPECT_EQ(undoCount(), 1);
}

TEST_F(Engine, AllocationFailureWhileCopyingASubSessionsStatusesIsFatal)
{
    DvSession* session = beginSession();
    DvImage* status = newStatusImage();
    ASSERT_TRUE(session && status);
    const DvSelection patch{10, 10, {50, 40, 50, DvPixelStatus, nullptr}};
    DvSession* sub = DvBeginSubSession(session, &patch, 1);
    ASSERT_NE(sub, nullptr);
    testsupport::failAllocation(0);
    EXPECT_EQ(DvSetStatusInSession(sub, status), DvInternalFailure);
    EXPECT_EQ(m_library->dead, 1);
}

TEST_F(Engine, PreconditionsOfTheClassificationOperations)
{
    DvSession* session = beginSession();
    DvImage* status = newStatusImage();
    ASSERT_TRUE(session && status);
    const DvSelection stroke{0, 0, {4, 4, 4, DvPixelStatus, nullptr}};
    for (int mode : {1, 2, 3})
        EXPECT_EQ(DvSelect(session, status, &stroke, 2, 1, mode, 1.0f, nullptr), DvNoSegmentation);
    EXPECT_EQ(DvAutoComplex(session, status, 2.0f, nullptr), DvNoSegmentation);
    EXPECT_EQ(DvDespeckleSelection(session, status, 3), DvNoSegmentation);
    EXPECT_EQ(DvAutoFill(session, status, nullptr, 3, 1.0f), DvRefused);
    EXPECT_EQ(DvSelect(session, status, nullptr, 2, 1, 0, 1.0f, nullptr), DvRefused);
    EXPECT_EQ(DvSetStatus(session, status, nullptr), DvRefused);
    EXPECT_EQ(DvSetStatus(session, status, &stroke), DvRefused) << "no status bytes to read";
    EXPECT_EQ(DvSetStatusInSession(session, status), DvRefused);
    EXPECT_EQ(DvSetStatusInParent(session, status), DvRefused);
    int* none = nullptr;
    EXPECT_EQ(DvNumAvailableUndo(session, none), DvRefused);

    const DvSelection patch{10, 10, {50, 40, 50, DvPixelStatus, nullptr}};
    DvSession* sub = DvBeginSubSession(session, &patch, 0);
    ASSERT_NE(sub, nullptr);
    const DvArea area{0, 0, 5, 5};
    EXPECT_EQ(DvAutoFill(sub, status, &area, 2, 1.0f), DvRefused);
    EXPECT_EQ(DvSelect(sub, status, &stroke, 2, 1, 1, 1.0f, nullptr), DvNoSegmentation);

    // A status image of another size is refused as a bad image.
    RgbaImage8 small = testsupport::syntheticPhoto(100, 100);
    DvImage* other = DvNewStatusImage(m_library, describe(small));
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(DvSetStatusInSession(sub, other), DvBadImage);
    EXPECT_EQ(DvSetStatus(session, other, &stroke), DvBadImage);
    EXPECT_EQ(m_library->dead, 0);
}

TEST_F(Engine, CancelledAnalysisRestoresTheVariables)
{
    DvSession* session = beginSession();
    ASSERT_NE(session, nullptr);
    const float sensitivity = session->sensitivity;
    EXPECT_EQ(DvPrepareAnalysis(session, DvEdgeOptions{0.9f, 7, 0, 2}), DvOk);
    EXPECT_EQ(DvSetVariable(session, "overlap", 0.0f), DvOk);
    EXPECT_NE(session->sensitivity, sensitivity);

    testsupport::RacingClock clock(DvProgressAbort);
    EXPECT_EQ(DvAnalyseImage(session, DvProgressCallback), DvCancelled);
    EXPECT_EQ(session->analysed, 0);
    EXPECT_NEAR(session->sensitivity, sensitivity, 1e-5);
    EXPECT_EQ(session->edgeWidth, 2);
    EXPECT_EQ(session->edgeContrast, 1);
    EXPECT_EQ(session->texture, 1);
    EXPECT_EQ(variableText(session, "overlap"), "1");
    EXPECT_EQ(m_library->dead, 0);
}

TEST_F(Engine, NotANumberIsRefused)
{
    DvSession* session = beginSession();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(DvSetVariable(session, "focus", std::nanf("")), DvRefused);
    EXPECT_EQ(DvPrepareAnalysis(session, DvEdgeOptions{std::nanf(""), 3, 1, 1}), DvRefused);
    EXPECT_EQ(DvSetVariable(session, "focus", 7.0f), DvOk);
    EXPECT_EQ(variableText(session, "focus"), "4*") << "values beyond 1 are clamped";
    EXPECT_EQ(DvPrepareAnalysis(session, DvEdgeOptions{0.5f, 1000, 9, 200}), DvOk);
    EXPECT_EQ(variableText(session, "inFocusEdgeWidth"), "32*");
    EXPECT_EQ(variableText(session, "textureFilter"), "2=coarse*");
}

namespace {
void clientHandler() {}
} // namespace

TEST_F(Engine, EntriesRestoreTheClientsAllocationHandler)
{
    std::set_new_handler(clientHandler);
    DvSession* session = beginSession();
    EXPECT_EQ(std::get_new_handler(), clientHandler);
    EXPECT_EQ(DvUndo(nullptr), DvBadSession);
    EXPECT_EQ(std::get_new_handler(), clientHandler);
    testsupport::failAllocation(0);
    EXPECT_EQ(DvBeginSession(m_library, describe(m_image)), nullptr);
    EXPECT_EQ(std::get_new_handler(), clientHandler);
    std::set_new_handler(nullptr);
    (void)session;
}
