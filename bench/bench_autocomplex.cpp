// Auto-complex right after the select it completes: a Local stroke whose changed rectangle is
// 1000 x 1000 pixels on a 4-megapixel image, and a Global stroke over a 5-megapixel image. The
// colour classes are blobs of 16 x 16 cells, the lower heights a smooth wave with noise, and
// Delete marks lie beside the stroke so that the band is drawn. Only auto-complex is timed;
// peak_MB is the most heap it held above what was allocated when it started (its work table,
// 8 bytes per pixel of its work area, is kept from one stroke to the next and so shows only in
// a first run).
#include "session/classification.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>

namespace {

std::atomic<std::size_t> g_live{0}, g_peak{0};

void* track(std::size_t size)
{
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    const std::size_t live = g_live += malloc_usable_size(p);
    std::size_t peak = g_peak;
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
    return p;
}

void release(void* p)
{
    if (p) {
        g_live -= malloc_usable_size(p);
        std::free(p);
    }
}

} // namespace

void* operator new(std::size_t size) { return track(size); }
void* operator new[](std::size_t size) { return track(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }

namespace {

using classification::Bytes;
using classification::IiClassification;
using classification::Labels;
using classification::Rect;
using Cell3 = blitz::TinyVector<unsigned char, 3>;

struct Scene {
    int rows, cols;
    classification::RgbaView8 image;
    Bytes status, start;
    blitz::Array<Cell3, 2> gradient;
    IiClassification c;

    // classOf(cellRow, cellCol, random class) gives each 16 x 16 cell its class; status 4 where
    // deleteAt(x, y).
    template <typename ClassOf, typename DeleteAt>
    Scene(int r, int k, ClassOf classOf, DeleteAt deleteAt)
        : rows(r), cols(k), image(r, k), status(r, k), gradient(blitz::Range(-2, r + 1), blitz::Range(-2, k + 1)),
          c(image)
    {
        Labels labels(rows, cols);
        std::mt19937 rng(5);
        const int cellRows = rows / 16 + 1, cellCols = cols / 16 + 1;
        std::vector<int> cell(std::size_t(cellRows) * cellCols);
        for (int i = 0; i < cellRows; ++i)
            for (int j = 0; j < cellCols; ++j)
                cell[std::size_t(i) * cellCols + j] = classOf(i, j, int(rng() % 40));
        std::uniform_int_distribution<int> noise(-6, 6);
        gradient = Cell3(0, 200, 3);
        for (int x = 0; x < rows; ++x)
            for (int y = 0; y < cols; ++y) {
                labels(x, y) = cell[std::size_t(x / 16) * cellCols + y / 16];
                status(x, y) = deleteAt(x, y) ? 4 : 1;
                const double wave = 120 + 70 * std::sin(x / 37.0) * std::cos(y / 53.0);
                gradient(x, y)[1] = (unsigned char)std::lround(std::clamp(wave + noise(rng), 0.0, 255.0));
            }
        start.reference(status.copy());
        c.injectLabelsForTesting(Labels(), std::vector<Labels>(7, labels));
        c.gradient.reference(gradient);
        c.gradientScale = 40.f;
        Bytes widths = gradient[2];
        c.widthMap.reference(widths);
    }
};

void run(benchmark::State& state, Scene& scene, int mode, const Rect& stroke)
{
    std::size_t peak = 0;
    Rect changed;
    for (auto _ : state) {
        state.PauseTiming();
        scene.status = scene.start;
        scene.c.undoStack().clear();
        // A Keep brush that leaves Delete marks alone.
        scene.c.select(stroke, nullptr, scene.status, mode, 2, 15, 3, 63, 1, nullptr);
        changed = scene.c.changed();
        const std::size_t base = g_live;
        g_peak = base;
        state.ResumeTiming();
        scene.c.autoComplex(scene.status, ProgressRange(), 2.0f);
        state.PauseTiming();
        peak = std::max(peak, std::size_t(g_peak) - base);
        state.ResumeTiming();
    }
    state.counters["changed_MP"] = double(changed.width()) * double(changed.height()) / 1e6;
    state.counters["peak_MB"] = double(peak) / (1 << 20);
    // The low 32 bits of an FNV-1a digest of the result, to compare builds by.
    std::uint64_t digest = 14695981039346656037ull;
    for (const unsigned char b : scene.status) {
        digest ^= b;
        digest *= 1099511628211ull;
    }
    state.counters["status_digest"] = double(digest & 0xFFFFFFFFu);
}

// Class 0 over the square [500, 1500) x [500, 1500) with a pocket cell of class 1 in every
// tenth cell; Delete marks in a band right of it.
void localStroke(benchmark::State& state)
{
    static Scene scene(
        2000, 2000,
        [](int i, int j, int random) {
            const bool inside = i * 16 >= 500 && i * 16 + 15 < 1500 && j * 16 >= 500 && j * 16 + 15 < 1500;
            if (!inside)
                return 2 + random;
            return (i * 7 + j * 3) % 10 == 0 ? 1 : 0;
        },
        [](int x, int y) { return x >= 500 && x < 1500 && y >= 1510 && y < 1560; });
    // The square holds whole cells from 512 to 1487: the changed rectangle is 976 x 976.
    run(state, scene, classification::SelectLocal, Rect{950, 950, 999, 999});
}
BENCHMARK(localStroke)->Unit(benchmark::kMillisecond);

// A stroke over 4 x 4 cells takes up to 16 of the 40 classes all over the image; Delete marks
// on every fortieth cell.
void globalStroke(benchmark::State& state)
{
    static Scene scene(
        1944, 2592, [](int, int, int random) { return random; },
        [](int x, int y) { return (x / 16 * 13 + y / 16 * 7) % 40 == 3; });
    run(state, scene, classification::SelectGlobal, Rect{960, 1280, 1023, 1343});
}
BENCHMARK(globalStroke)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
