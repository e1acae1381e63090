#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {

namespace {
std::atomic<CounterSource> g_source{nullptr};
std::atomic<unsigned> g_processorOverride{0};
} // namespace

std::int64_t counterNanoseconds()
{
    if (CounterSource source = g_source.load(std::memory_order_relaxed))
        return source();
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

void setCounterSource(CounterSource source)
{
    g_source.store(source);
}

unsigned processorCount()
{
    if (unsigned forced = g_processorOverride.load(std::memory_order_relaxed))
        return forced;
    unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

void setProcessorCountOverride(unsigned count)
{
    g_processorOverride.store(count);
}

} // namespace platform
