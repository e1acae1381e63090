// Line filters on a 12-megapixel byte image: the 2 x 2 maximum of the gradient stage and
// single passes along each index, for several windows (the time must not grow with w).
#include "morphology/convolve.h"
#include "morphology/separable.h"

#include <benchmark/benchmark.h>

#include <random>

using Bytes = blitz::Array<unsigned char, 2>;

namespace {

constexpr int rows = 3000, cols = 4000;  // 12 megapixels

Bytes photoLike()
{
    Bytes a(rows, cols);
    std::mt19937 rng(5);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            a(i, j) = static_cast<unsigned char>((i / 7 + j / 5) % 200 + rng() % 40);
    return a;
}

void separableMax2x2(benchmark::State& state)
{
    const Bytes source = photoLike();
    Bytes dest(rows, cols);
    for (auto _ : state)
        benchmark::DoNotOptimize(morphology::separableMaxFilter(dest, {2, 2}, source, ProgressRange()));
    state.SetItemsProcessed(state.iterations() * rows * cols);
}
BENCHMARK(separableMax2x2)->Unit(benchmark::kMillisecond);

void maxAlongFirstIndex(benchmark::State& state)
{
    const Bytes source = photoLike();
    Bytes dest(rows, cols);
    const int w = int(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(morphology::convolveLineFast(source, w, morphology::LineOpMax(), dest, ProgressRange()));
    state.SetItemsProcessed(state.iterations() * rows * cols);
}
BENCHMARK(maxAlongFirstIndex)->Arg(2)->Arg(9)->Arg(33)->Arg(129)->Unit(benchmark::kMillisecond);

void maxAlongSecondIndex(benchmark::State& state)
{
    const Bytes source = photoLike();
    Bytes dest(rows, cols);
    const int w = int(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(
            morphology::convolveLineFastTransposed(source, w, morphology::LineOpMax(), dest, ProgressRange()));
    state.SetItemsProcessed(state.iterations() * rows * cols);
}
BENCHMARK(maxAlongSecondIndex)->Arg(2)->Arg(9)->Arg(33)->Arg(129)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
