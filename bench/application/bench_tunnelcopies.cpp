// The plug-in hand-over of a 20-megapixel layer (5472 x 3648): taking the image in (the view
// of the host's mapping, a fresh buffer, the copy exchanging red and blue) and handing the
// cut-out back (the view, the copy), at 8 and 16 bits a sample; 16 bits with and without the
// byte swap of a foreign byte order.

#include "shell/HandOverPixels.h"

#include "platform/handover.h"
#include "platform/shared_memory.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr std::int64_t kWidth = 5472;
constexpr std::int64_t kHeight = 3648;

struct HandOverMemory {
    explicit HandOverMemory(int bits)
        : bytes(platform::handOverBytes(platform::handOverBytesPerPixel(bits), kWidth, kHeight))
        , handle(platform::createSharedMemory(bytes))
    {
        platform::SharedMemoryView view(handle);
        for (std::uint64_t i = 0; i < bytes; ++i)
            view.data()[i] = std::uint8_t(i * 31 + (i >> 12));
    }
    ~HandOverMemory() { platform::closeSharedMemory(handle); }

    std::uint64_t bytes;
    platform::SharedMemoryHandle handle;
};

void copyIn(benchmark::State& state, int bits, bool swap)
{
    HandOverMemory memory(bits);
    for (auto _ : state) {
        const platform::SharedMemoryView view(memory.handle);
        std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[memory.bytes]);
        if (bits == 8)
            handoverpixels::copy8(view.data(), buffer.get(), kWidth, kHeight);
        else
            handoverpixels::copy16(view.data(), buffer.get(), kWidth, kHeight, swap);
        benchmark::DoNotOptimize(buffer.get());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * memory.bytes));
}

void copyOut(benchmark::State& state, int bits, bool swap)
{
    HandOverMemory memory(bits);
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[memory.bytes]);
    std::memset(buffer.get(), 0x5A, memory.bytes);
    for (auto _ : state) {
        const platform::SharedMemoryView view(memory.handle);
        if (bits == 8)
            handoverpixels::copy8(buffer.get(), view.data(), kWidth, kHeight);
        else
            handoverpixels::copy16(buffer.get(), view.data(), kWidth, kHeight, swap);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * memory.bytes));
}

void BM_HandOverIn8(benchmark::State& state) { copyIn(state, 8, false); }
void BM_HandOverOut8(benchmark::State& state) { copyOut(state, 8, false); }
void BM_HandOverIn16(benchmark::State& state) { copyIn(state, 16, false); }
void BM_HandOverOut16(benchmark::State& state) { copyOut(state, 16, false); }
void BM_HandOverIn16Swapped(benchmark::State& state) { copyIn(state, 16, true); }
void BM_HandOverOut16Swapped(benchmark::State& state) { copyOut(state, 16, true); }

BENCHMARK(BM_HandOverIn8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HandOverOut8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HandOverIn16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HandOverOut16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HandOverIn16Swapped)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HandOverOut16Swapped)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
