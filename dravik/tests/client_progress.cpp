#include "client_progress.h"

#include "dravik.h"
#include "platform/clock.h"

#include <cstdint>

namespace {

std::int64_t g_now = 0;
std::int64_t racingNow() { return g_now += 200'000'000; }

} // namespace

namespace testsupport {

ClientProgress& clientProgress()
{
    // Reserved, so that recording a call allocates nothing while allocation failures are injected.
    static ClientProgress progress = [] {
        ClientProgress p;
        p.calls.reserve(4096);
        return p;
    }();
    return progress;
}

int abortFromPercent = 1000;
int abortFrom(unsigned char percent, void*) { return percent >= abortFromPercent ? DvProgressAbort : 0; }

RacingClock::RacingClock(int answer)
{
    clientProgress().answer = answer;
    clientProgress().fromPercent = 0;
    clientProgress().calls.clear();
    platform::setCounterSource(racingNow);
}

RacingClock::~RacingClock()
{
    platform::setCounterSource(nullptr);
    clientProgress().answer = 0;
    clientProgress().abortAtCall = -1;
    clientProgress().fromPercent = 0;
    clientProgress().calls.clear();
}

} // namespace testsupport

extern "C" int DvProgressCallback(unsigned char percent, void*)
{
    testsupport::ClientProgress& p = testsupport::clientProgress();
    const bool abortNow = p.abortAtCall >= 0 && long(p.calls.size()) == p.abortAtCall;
    if (p.calls.size() < p.calls.capacity())
        p.calls.push_back(percent);
    if (abortNow)
        return DvProgressAbort;
    return percent >= p.fromPercent ? p.answer : 0;
}
