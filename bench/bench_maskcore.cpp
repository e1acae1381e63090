// The mask core's two heavy steps at the application's sizes: the distances from the marks over
// a 5-megapixel working image (a cut-out with a Blend band, and bare strokes that leave almost
// everything unmarked), and the whole-image mask core of a 20-megapixel photograph over that
// working image at factor 2.
#include "mask/markdistance.h"
#include "mask/maskcore.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

using namespace classification;

namespace {

constexpr int rows = 1944, cols = 2592;  // 5 megapixels
constexpr int factor = 2;

// An object of overlapping blobs, Keep inside, Delete outside, a Blend band of about
// `band` pixels along its boundary.
StatusByteArray cutOutStatus(int band)
{
    blitz::Array<float, 2> inside(rows, cols);
    inside = 1e9f;
    std::mt19937 rng(9);
    for (int b = 0; b < 40; ++b) {
        const float ci = float(rows / 4 + rng() % (rows / 2)), cj = float(cols / 4 + rng() % (cols / 2));
        const float rad = float(120 + rng() % 300);
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j) {
                const float d = std::hypot(i - ci, j - cj) - rad;
                if (d < inside(i, j))
                    inside(i, j) = d;
            }
    }
    StatusByteArray status(rows, cols);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const float d = inside(i, j);
            status(i, j) = d < -band / 2.f ? 2 : d > band / 2.f ? 4 : 8;
        }
    return status;
}

StatusByteArray strokeStatus()
{
    StatusByteArray status(rows, cols);
    status = 1;
    for (int t = 0; t < 4000; ++t) {
        const int i = rows / 2 + int(300 * std::sin(t * 0.002)), j = cols / 3 + t / 8;
        status(i, j) = 2;
        status(i / 5, j) = 4;
        status(rows - 1 - i / 6, (j * 3) % cols) = 4;
    }
    return status;
}

void distancesBand(benchmark::State& state)
{
    const StatusByteArray status = cutOutStatus(int(state.range(0)));
    MarkDistances d;
    for (auto _ : state) {
        computeMarkDistances(d, status, ProgressRange());
        benchmark::DoNotOptimize(d.data());
    }
}
BENCHMARK(distancesBand)->Arg(24)->Arg(200)->Unit(benchmark::kMillisecond);

void distancesStrokes(benchmark::State& state)
{
    const StatusByteArray status = strokeStatus();
    MarkDistances d;
    for (auto _ : state) {
        computeMarkDistances(d, status, ProgressRange());
        benchmark::DoNotOptimize(d.data());
    }
}
BENCHMARK(distancesStrokes)->Unit(benchmark::kMillisecond);

template <typename T>
ColourImage<T> photo(int r, int c, int fullScale)
{
    ColourImage<T> im(r, c);
    std::mt19937 rng(3);
    const float k = fullScale / 255.f;
    for (int i = 0; i < r; ++i)
        for (int j = 0; j < c; ++j) {
            const float g = 0.5f + 0.5f * std::sin(i * 0.01f + j * 0.013f);
            im(i, j) = Colour<T>(T((40 + 180 * g + rng() % 16) * k), T((90 + 100 * g + rng() % 16) * k),
                                 T((200 - 150 * g + rng() % 16) * k), T(fullScale));
        }
    return im;
}

template <typename T, int M>
void wholeImageCore(benchmark::State& state)
{
    const StatusByteArray marks = cutOutStatus(24);
    const ColourImage<T> source = photo<T>(rows * factor, cols * factor, M);
    const ColourImage<unsigned char> session = photo<unsigned char>(rows, cols, 255);
    ColourImage<T> out(rows * factor, cols * factor);
    StatusByteArray status(rows, cols), blend(rows, cols);
    blend = 64;
    MarkDistances d;
    computeMarkDistances(d, marks, ProgressRange());
    const Rect r{0, 0, rows - 1, cols - 1};
    const MaskCoreSession core{session, 1.f};
    for (auto _ : state) {
        state.PauseTiming();
        status = marks;
        status |= 128;
        state.ResumeTiming();
        if constexpr (M == 32768)
            invokeMaskCoreVariant<T>(core, out, source, session, status, r, r,
                                     {float(factor), float(factor)}, blend, d, ColourPyramids, 0.f,
                                     ProgressRange());
        else
            invokeMaskCore<T>(core, out, source, session, status, r, r,
                              {float(factor), float(factor)}, blend, d, ColourPyramids, 0.f,
                              ProgressRange());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK_TEMPLATE(wholeImageCore, unsigned char, 255)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(wholeImageCore, unsigned short, 65535)->Unit(benchmark::kMillisecond);

// A mask-core patch of 1000 x 1000 working pixels with region colours sampled over the whole
// working image and 50 relaxation sweeps.
void patchCoreRegionColours(benchmark::State& state)
{
    const StatusByteArray marks = cutOutStatus(24);
    const ColourImage<unsigned char> session = photo<unsigned char>(rows, cols, 255);
    ColourImage<unsigned char> out(rows, cols);
    StatusByteArray status(rows, cols), blend(rows, cols);
    blend = 64;
    MarkDistances d;
    computeMarkDistances(d, marks, ProgressRange());
    const Rect patch{400, 700, 1399, 1699}, r{0, 0, rows - 1, cols - 1};
    const MaskCoreSession core{session, 1.f};
    for (auto _ : state) {
        state.PauseTiming();
        status = marks;
        status(blitz::Range(patch.x1, patch.x2), blitz::Range(patch.y1, patch.y2)) |= 128;
        state.ResumeTiming();
        computeMaskCore<unsigned char>(core, out, session, session, status, patch, r, {1.f, 1.f},
                                       blend, d, RegionColours, 0.5f, ProgressRange());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(patchCoreRegionColours)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
