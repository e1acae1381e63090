// Select on a 5-megapixel working image: an Exact stroke of 500 x 500 pixels, and a Global
// select over colour classes, each with its commit and undo record.
#include "session/classification.h"

#include <benchmark/benchmark.h>

#include <random>

using classification::Bytes;
using classification::IiClassification;
using classification::Labels;

namespace {

constexpr int rows = 1944, cols = 2592;  // 5 megapixels

// Blobby colour classes: a coarse random class per 16 x 16 cell, 40 classes.
Labels colourClasses()
{
    Labels labels(rows, cols);
    std::mt19937 rng(5);
    const int cellRows = rows / 16 + 1, cellCols = cols / 16 + 1;
    std::vector<int> cell(std::size_t(cellRows) * cellCols);
    for (int& c : cell)
        c = int(rng() % 40);
    for (int x = 0; x < rows; ++x)
        for (int y = 0; y < cols; ++y)
            labels(x, y) = cell[std::size_t(x / 16) * cellCols + y / 16];
    return labels;
}

struct Scene {
    classification::RgbaView8 image{rows, cols};
    Bytes status{rows, cols};
    IiClassification c{image};
    Scene()
    {
        status = 1;
        c.injectLabelsForTesting(Labels(), std::vector<Labels>(7, colourClasses()));
    }
};

// A disk-shaped stroke mask over a 500 x 500 rectangle.
Bytes diskMask(int x1, int y1, int size)
{
    Bytes mask(blitz::Range(x1, x1 + size - 1), blitz::Range(y1, y1 + size - 1));
    const double c = (size - 1) / 2.0;
    for (int i = 0; i < size; ++i)
        for (int j = 0; j < size; ++j)
            mask(x1 + i, y1 + j) = (i - c) * (i - c) + (j - c) * (j - c) <= c * c;
    return mask;
}

// Keep and Delete strokes in turn, so that every select changes its pixels.
void run(benchmark::State& state, int mode, bool withMask)
{
    Scene scene;
    const classification::Rect stroke{700, 1000, 1199, 1499};
    const Bytes mask = diskMask(700, 1000, 500);
    unsigned char value = 2;
    for (auto _ : state) {
        scene.c.select(stroke, withMask ? &mask : nullptr, scene.status, mode, value, 15, 15, 63, 1, nullptr);
        value = value == 2 ? 4 : 2;
        state.PauseTiming();
        scene.c.undoStack().clear();
        state.ResumeTiming();
    }
}

void exactStroke(benchmark::State& state) { run(state, classification::SelectExact, state.range(0) != 0); }
BENCHMARK(exactStroke)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void globalSelect(benchmark::State& state) { run(state, classification::SelectGlobal, true); }
BENCHMARK(globalSelect)->Unit(benchmark::kMillisecond);

void localSelect(benchmark::State& state) { run(state, classification::SelectLocal, true); }
BENCHMARK(localSelect)->Unit(benchmark::kMillisecond);

void regionsSelect(benchmark::State& state) { run(state, classification::SelectRegions, true); }
BENCHMARK(regionsSelect)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
