// Auto-fill over a whole 5-megapixel working image: a clean marking (one Keep shape on
// Unassigned) and a noisy, checkerboard-like one in which nearly every pixel lies on a border,
// each with its Blend band, commit and undo record.
#include "session/classification.h"

#include <benchmark/benchmark.h>

#include <random>

using classification::Bytes;
using classification::IiClassification;

namespace {

constexpr int rows = 1944, cols = 2592;  // 5 megapixels

struct Scene {
    classification::RgbaView8 image{rows, cols};
    Bytes status{rows, cols};
    Bytes marking{rows, cols};
    Bytes widths{rows, cols};
    IiClassification c{image};

    explicit Scene(bool noisy)
    {
        std::mt19937 rng(7);
        for (int x = 0; x < rows; ++x)
            for (int y = 0; y < cols; ++y) {
                // Widths 2..8 as the analysis gives them, varying slowly over the image.
                widths(x, y) = static_cast<unsigned char>(2 + (x / 97 + y / 131) % 7);
                if (noisy) {
                    const bool keep = ((x ^ y) & 1) != (rng() % 5 == 0);
                    marking(x, y) = keep ? 2 : 1;
                } else {
                    const double dx = (x - rows / 2) / 700.0, dy = (y - cols / 2) / 900.0;
                    marking(x, y) = dx * dx + dy * dy <= 1.0 ? 2 : 1;
                }
            }
        c.widthMap.reference(widths);
    }
};

void run(benchmark::State& state, bool noisy)
{
    Scene scene(noisy);
    const float band = state.range(0) / 10.f;
    for (auto _ : state) {
        state.PauseTiming();
        scene.status = scene.marking;
        scene.c.undoStack().clear();
        state.ResumeTiming();
        scene.c.autoFill(scene.status, std::nullopt, 2, band, &scene.c.undoStack(), nullptr);
    }
}

void cleanMarking(benchmark::State& state) { run(state, false); }
BENCHMARK(cleanMarking)->Arg(0)->Arg(10)->Arg(30)->Unit(benchmark::kMillisecond);

void noisyMarking(benchmark::State& state) { run(state, true); }
BENCHMARK(noisyMarking)->Arg(0)->Arg(10)->Arg(30)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
