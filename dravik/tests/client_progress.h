#pragma once
// The test binary's definition of the application's progress function, and a clock that
// lets every report through the reporters' throttle.

#include <vector>

namespace testsupport {

struct ClientProgress {
    int answer = 0;          // what DvProgressCallback answers
    int fromPercent = 0;     // below this percentage it answers 0
    std::vector<int> calls;  // the percentages it was called with
    long abortAtCall = -1;   // answers "abort" to the call of this index (0-based), -1 never
};
ClientProgress& clientProgress();

// While alive: the engine clock moves 0.2 s at every reading and the client answers `answer`.
class RacingClock {
public:
    explicit RacingClock(int answer = 0);
    ~RacingClock();
    RacingClock(const RacingClock&) = delete;
    RacingClock& operator=(const RacingClock&) = delete;
};

// A progress function that answers "abort" from abortFromPercent on (1000: never).
extern int abortFromPercent;
int abortFrom(unsigned char percent, void*);

} // namespace testsupport
