// Whole-image mask passes at the application's working size (about 4 megapixels): the two
// nearest-colour chamfer passes and the boundary colour pyramid of a class made of blobs.
#include "mask/maskpasses.h"

#include <benchmark/benchmark.h>

#include <random>

using namespace classification;

namespace {

constexpr int rows = 1728, cols = 2304;  // 4 megapixels

StatusByteArray blobStatus()
{
    StatusByteArray status(rows, cols);
    status = 4;
    std::mt19937 rng(5);
    for (int b = 0; b < 300; ++b) {
        const int r = rng() % rows, c = rng() % cols, rad = 5 + rng() % 80;
        for (int i = std::max(0, r - rad); i < std::min(rows, r + rad); ++i)
            for (int j = std::max(0, c - rad); j < std::min(cols, c + rad); ++j)
                if ((i - r) * (i - r) + (j - c) * (j - c) < rad * rad)
                    status(i, j) = 2;
    }
    return status;
}

void chamferPasses(benchmark::State& state)
{
    const StatusByteArray status = blobStatus();
    const Rect r{0, 0, rows - 1, cols - 1};
    blitz::Array<int, 2> dist(blitz::Range(-2, rows + 1), blitz::Range(-2, cols + 1));
    blitz::Array<Rgb8, 2> colour(blitz::Range(-2, rows + 1), blitz::Range(-2, cols + 1));
    for (auto _ : state) {
        state.PauseTiming();
        dist = chamferUnreached;
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j)
                if (status(i, j) == 2)
                    dist(i, j) = 0;
        state.ResumeTiming();
        propagateNearestColourForward(r, dist, colour, nullptr, 0.f, 0.5f);
        propagateNearestColourBackward(r, dist, colour, nullptr, 0.5f, 1.f);
        benchmark::DoNotOptimize(dist.data());
    }
}
BENCHMARK(chamferPasses)->Unit(benchmark::kMillisecond);

void boundaryPyramid(benchmark::State& state)
{
    const StatusByteArray status = blobStatus();
    blitz::Array<Colour<unsigned short>, 2> image(rows, cols);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            image(i, j) = Colour<unsigned short>(i * 37, j * 29, (i + j) * 11, 65535);
    for (auto _ : state) {
        ColourSumPyramid p = buildBoundaryColourPyramid(status, 2, image, nullptr, 0.f, 1.f);
        benchmark::DoNotOptimize(p.data());
    }
}
BENCHMARK(boundaryPyramid)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
