#pragma once
// Bands of rows run side by side: band 0 on the calling thread, every other band on a thread
// of its own, and the first failure in band order rethrown once all have ended.

#include "common/threadstart.h"
#include "platform/clock.h"

#include <boost/thread/thread.hpp>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <vector>

namespace classification {

// How many bands a pass over rows x cols splits into: one per processor, none thinner than
// minRows rows or smaller than minPixels pixels, so small images stay on one thread.
inline int bandCount(int rows, int cols, int minRows = 16, std::int64_t minPixels = 1 << 16)
{
    if (rows <= 0 || cols <= 0)
        return 1;
    const std::int64_t byRows = rows / std::max(minRows, 1);
    const std::int64_t byPixels = std::int64_t(rows) * cols / std::max<std::int64_t>(minPixels, 1);
    const std::int64_t n = std::min({std::int64_t(platform::processorCount()), byRows, byPixels});
    return int(std::max<std::int64_t>(n, 1));
}

// The first row of band b of n over rows rows; bandStart(n) == rows.
inline int bandStart(int rows, int bands, int b)
{
    return int(std::int64_t(rows) * b / bands);
}

// What runBands does when a band's thread cannot be started: run the band on the calling
// thread, or run no band there and rethrow that failure after the join (for callers whose
// every allocation failure must reach their own caller).
enum class ThreadStartFailure { runHere, rethrow };

// Runs f(0) .. f(bands - 1) and returns once all have ended. An exception of a band is kept,
// and the one of the lowest band is rethrown after the join.
template <typename F>
void runBands(int bands, const F& f, ThreadStartFailure onStartFailure = ThreadStartFailure::runHere)
{
    if (bands <= 1) {
        if (bands == 1)
            f(0);
        return;
    }
    std::vector<std::exception_ptr> failures(static_cast<std::size_t>(bands));
    const auto guarded = [&f, &failures](int b) {
        try {
            f(b);
        } catch (...) {
            failures[std::size_t(b)] = std::current_exception();
        }
    };
    std::vector<boost::thread> threads;
    std::exception_ptr notStarted;
    int started = 1;
    try {
        threads.reserve(std::size_t(bands - 1));
        for (; started < bands; ++started)
            threads.push_back(startThread([&guarded, b = started] { guarded(b); }));
    } catch (...) {
        // Too few threads: the rest run here, unless the caller wants the failure.
        if (onStartFailure == ThreadStartFailure::rethrow)
            notStarted = std::current_exception();
    }
    if (!notStarted) {
        guarded(0);
        for (int b = started; b < bands; ++b)
            guarded(b);
    }
    for (boost::thread& t : threads)
        t.join();
    if (notStarted)
        std::rethrow_exception(notStarted);
    for (const std::exception_ptr& e : failures)
        if (e)
            std::rethrow_exception(e);
}

// The rows 0 .. rows - 1 of a pass over rows x cols in bandCount(rows, cols) bands side by
// side: f(first, end) for each band's rows.
template <typename F>
void runRowBands(int rows, int cols, const F& f)
{
    const int bands = bandCount(rows, cols);
    runBands(bands, [&](int b) { f(bandStart(rows, bands, b), bandStart(rows, bands, b + 1)); });
}

} // namespace classification
