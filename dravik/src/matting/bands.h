#pragma once
// Independent bands of work spread over worker threads.

#include "platform/clock.h"

#include <boost/thread/thread.hpp>

#include <algorithm>
#include <exception>
#include <vector>

namespace corvath::matting::detail {

// How many bands of at least minSize items n items make, at most one per processor.
inline int bandCount(long long n, long long minSize)
{
    if (n <= 0)
        return 1;
    const long long byWork = std::max(1LL, n / std::max(1LL, minSize));
    return int(std::min<long long>(byWork, platform::processorCount()));
}

// Calls work(band, begin, end) for `bands` consecutive slices [begin, end] of [first, last],
// band 0 on the calling thread and the others on their own threads. Returns after all have
// finished; then the exception of the lowest failing band, if any, is rethrown.
template <typename Work>
void runBands(int first, int last, int bands, Work&& work)
{
    const long long n = (long long)last - first + 1;
    if (bands <= 1 || n <= 1) {
        work(0, first, last);
        return;
    }
    std::vector<std::exception_ptr> failures(static_cast<std::size_t>(bands));
    const auto slice = [&](int b) {
        const int begin = first + int(n * b / bands);
        const int end = first + int(n * (b + 1) / bands) - 1;
        try {
            if (begin <= end)
                work(b, begin, end);
        } catch (...) {
            failures[std::size_t(b)] = std::current_exception();
        }
    };
    boost::thread_group workers;
    int started = 1;
    try {
        for (; started < bands; ++started)
            workers.create_thread([&slice, b = started]() { slice(b); });
    } catch (...) {
        // No more threads to be had: the calling thread runs the remaining bands itself.
    }
    slice(0);
    for (int b = started; b < bands; ++b)
        slice(b);
    workers.join_all();
    for (const std::exception_ptr& f : failures)
        if (f)
            std::rethrow_exception(f);
}

} // namespace corvath::matting::detail
