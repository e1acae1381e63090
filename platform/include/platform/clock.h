#pragma once
// Steady high-resolution time and processor count for the engine.

#include <cstdint>

namespace platform {

// Nanoseconds since an arbitrary fixed point, never going backwards.
std::int64_t counterNanoseconds();

// Seconds between two counter readings.
inline double counterSeconds(std::int64_t from, std::int64_t to)
{
    return double(to - from) * 1e-9;
}

// Tests substitute a fake time source so that throttling can be checked without sleeping;
// nullptr restores the real clock. Not thread-safe: set it before the engine runs.
using CounterSource = std::int64_t (*)();
void setCounterSource(CounterSource source);

// Number of processors to run worker threads on; always at least 1.
unsigned processorCount();

// Tests force a thread count to compare results across counts; 0 restores the real count.
void setProcessorCountOverride(unsigned count);

} // namespace platform
