// Despeckle over a whole 5-megapixel working image after the Clean tool's select of Keep onto
// itself: a Keep marking with one-pixel and 2 x 2 holes scattered over it, at several levels.
#include "session/classification.h"

#include <benchmark/benchmark.h>

#include <random>

using classification::Bytes;
using classification::IiClassification;

namespace {

constexpr int rows = 1944, cols = 2592;  // 5 megapixels

void despeckle(benchmark::State& state)
{
    classification::RgbaView8 image(rows, cols);
    IiClassification c(image);
    Bytes marking(rows, cols), status(rows, cols);
    marking = 2;
    std::mt19937 rng(9);
    for (int i = 0; i < rows * cols / 200; ++i) {
        const int x = int(rng() % (rows - 1)), y = int(rng() % (cols - 1));
        const int size = rng() % 4 == 0 ? 2 : 1;
        for (int a = 0; a < size; ++a)
            for (int b = 0; b < size; ++b)
                marking(x + a, y + b) = 1;
    }
    const classification::Rect whole{0, 0, rows - 1, cols - 1};
    const int level = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        status = marking;
        c.undoStack().clear();
        c.select(whole, nullptr, status, classification::SelectExact, 2, 0x0F, 2, 0x3F, 0, nullptr);
        state.ResumeTiming();
        c.despeckleSelection(status, level, ProgressRange());
    }
}
BENCHMARK(despeckle)->Arg(1)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
