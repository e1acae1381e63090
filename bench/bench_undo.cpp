// Undo stack cost on a 5-megapixel status image: memory per step and the time to take back
// and replay a whole-image step.
#include "session/undo.h"

#include <benchmark/benchmark.h>

#include <random>

using Bytes = blitz::Array<unsigned char, 2>;

namespace {

constexpr int rows = 1944, cols = 2592;  // 5 megapixels

// A realistic stroke-like change: blobs of Keep and Delete over unassigned pixels.
Bytes strokeChange(double density)
{
    Bytes change(rows, cols);
    change = 0;
    std::mt19937 rng(3);
    const int blobs = int(density * 2000);
    for (int b = 0; b < blobs; ++b) {
        const int r = rng() % rows, c = rng() % cols, rad = 5 + rng() % 60;
        const unsigned char v = (rng() & 1) ? 2 : 4;
        for (int i = std::max(0, r - rad); i < std::min(rows, r + rad); ++i)
            for (int j = std::max(0, c - rad); j < std::min(cols, c + rad); ++j)
                change(i, j) = v;
    }
    return change;
}

void recordStep(benchmark::State& state)
{
    Bytes status(rows, cols);
    status = 1;
    const Bytes change = strokeChange(state.range(0) / 100.0);
    std::size_t bytes = 0;
    for (auto _ : state) {
        classification::IiUndoModifyStatus record(change, status);
        bytes = record.runs().size() * sizeof(std::uint32_t);
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["step_bytes"] = double(bytes);
}
BENCHMARK(recordStep)->Arg(0)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void undoRedoWholeImage(benchmark::State& state)
{
    Bytes status(rows, cols);
    status = 1;
    Bytes change = strokeChange(state.range(0) / 100.0);
    change = blitz::where(change == 0, 8, change);  // every pixel changes
    classification::UndoStack stack(200);
    stack.beginStep();
    stack.push(std::make_unique<classification::IiUndoModifyStatus>(change, status));
    classification::DirtyArea dirty;
    for (auto _ : state) {
        stack.undo(dirty);
        stack.redo(dirty);
    }
    state.counters["per_undo_ms"] = benchmark::Counter(
        double(state.iterations()) * 2, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(undoRedoWholeImage)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
