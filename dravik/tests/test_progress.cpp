#include "session/progress.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A clock the test moves by hand, and a callback that records what reaches the client.
std::int64_t g_now = 0;
std::int64_t fakeNow() { return g_now; }
std::vector<int> g_calls;
int g_answer = 0;
int recordingCallback(unsigned char percent, void* context)
{
    EXPECT_EQ(context, nullptr);
    g_calls.push_back(percent);
    return g_answer;
}

class Progress : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_now = 1'000'000'000;
        g_calls.clear();
        g_answer = 0;
        platform::setCounterSource(fakeNow);
    }
    void TearDown() override { platform::setCounterSource(nullptr); }
    static void advance(double seconds) { g_now += std::int64_t(seconds * 1e9); }
};

// Records every fraction its children report.
struct Recorder : corvath::utility::IiUI {
    std::vector<float> fractions;
    void progress(float f, const std::string&) override { fractions.push_back(f); }
};

} // namespace

TEST_F(Progress, ThrottlesToOneCallPerTenthOfASecond)
{
    DvInProgress p(recordingCallback, "Select", true);
    p.progress(0.05f, "");
    p.progress(0.06f, "");
    EXPECT_TRUE(g_calls.empty()) << "too soon after creation";
    advance(0.11);
    p.progress(0.07f, "");
    p.progress(0.08f, "");
    EXPECT_EQ(g_calls, (std::vector<int>{7}));
    p.progress(1.0f, "");  // the final report always goes through
    EXPECT_EQ(g_calls, (std::vector<int>{7, 100}));
}

TEST_F(Progress, PercentIsTruncated)
{
    DvInProgress p(recordingCallback, "Select", false);
    advance(0.2);
    p.progress(0.999f, "");
    EXPECT_EQ(g_calls.back(), 99);
}

TEST_F(Progress, DestructorSendsTheFinalHundredOnce)
{
    {
        DvInProgress p(recordingCallback, "Undo", false);
        advance(0.2);
        p.progress(0.999f, "");
    }
    EXPECT_EQ(g_calls, (std::vector<int>{99, 100}));
    g_calls.clear();
    {
        DvInProgress p(recordingCallback, "Undo", false);
        p.progress(1.0f, "");
    }
    EXPECT_EQ(g_calls, (std::vector<int>{100})) << "already complete: nothing more";
}

TEST_F(Progress, CancelIsRaisedOnceAndOnlyWhenCancellable)
{
    g_answer = DvProgressAbort;
    {
        DvInProgress undo(recordingCallback, "Undo", false);
        advance(0.2);
        EXPECT_NO_THROW(undo.progress(0.5f, ""));
    }
    g_calls.clear();
    {
        DvInProgress select(recordingCallback, "Select", true);
        advance(0.2);
        EXPECT_THROW(select.progress(0.5f, ""), DvExCancel);
        EXPECT_TRUE(select.cancelled());
        advance(0.2);
        EXPECT_NO_THROW(select.progress(0.6f, ""));
    }
    EXPECT_EQ(g_calls, (std::vector<int>{50, 60})) << "no auto-destruct report after a cancel";
}

TEST_F(Progress, RestartEndsCancellability)
{
    g_answer = DvProgressAbort;
    DvInProgress p(recordingCallback, "Begin Session", true);
    p.restart();
    advance(0.2);
    EXPECT_NO_THROW(p.progress(0.5f, ""));
}

TEST_F(Progress, ReporterWithoutCallbackNeverCancels)
{
    DvInProgress p(nullptr, "Select", true);
    advance(1.0);
    EXPECT_NO_THROW(p.progress(0.3f, ""));
    EXPECT_FLOAT_EQ(p.lastFraction(), 0.3f);
}

TEST(ProgressRange, MapsThroughNestedRanges)
{
    Recorder top;
    ProgressRange root(&top);
    ASSERT_EQ(top.fractions, (std::vector<float>{0.f}));

    ProgressRange sub(&top, 0.2f, 0.6f);
    sub.report("", 0.5f);
    EXPECT_FLOAT_EQ(top.fractions.back(), 0.4f);

    ProgressRange fresh(&top, 0.f, 1.f);
    ProgressRange first = fresh.nextStep(0.5f);
    ProgressRange second = fresh.nextStep(1.0f);
    EXPECT_FLOAT_EQ(first.lo, 0.f);
    EXPECT_FLOAT_EQ(first.hi, 0.5f);
    EXPECT_FLOAT_EQ(second.lo, 0.5f);
    EXPECT_FLOAT_EQ(second.hi, 1.0f);

    // Two levels deep: half of the second half of [0.2, 0.6].
    ProgressRange inner = sub.nextStep(1.0f);  // sub's position was 0.5: [0.4, 0.6]
    inner.report("", 0.5f);
    EXPECT_FLOAT_EQ(top.fractions.back(), 0.5f);
}

TEST(ProgressRange, WithoutParentReportsNothing)
{
    ProgressRange r(nullptr);
    r.report("x", 0.7f);
    EXPECT_FLOAT_EQ(r.position, 0.7f);
}

TEST(TimedBlock, TextNamesPositionAndLabel)
{
    EXPECT_EQ(corvath::utility::timedBlockText("a/b.h", 12, "levels", 0.5),
              "a/b.h: 12:\n(before [levels]): 0.5");
}
