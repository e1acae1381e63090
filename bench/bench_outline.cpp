// Region outlines of an analysed image with about 50,000 regions (Voronoi cells over
// 2048 x 1536 pixels), and the outline of a large patch bitmap.
#include "outline/outline.h"

#include <benchmark/benchmark.h>

#include <random>

using blitz::Range;

namespace {

constexpr int rows = 1536, cols = 2048, cell = 8;  // 192 x 256 = 49,152 cells

// Region labels with a frame of -1: each pixel takes the nearest of one jittered seed per cell.
blitz::Array<int, 2> voronoiLabels()
{
    const int gr = rows / cell, gc = cols / cell;
    std::mt19937 rng(7);
    std::vector<int> sx(gr * gc), sy(gr * gc);
    for (int i = 0; i < gr; ++i)
        for (int j = 0; j < gc; ++j) {
            sx[i * gc + j] = i * cell + int(rng() % cell);
            sy[i * gc + j] = j * cell + int(rng() % cell);
        }
    blitz::Array<int, 2> labels(Range(-1, rows), Range(-1, cols));
    labels = -1;
    for (int x = 0; x < rows; ++x)
        for (int y = 0; y < cols; ++y) {
            const int ci = x / cell, cj = y / cell;
            int best = -1;
            long bestD = 1L << 40;
            for (int i = std::max(0, ci - 2); i <= std::min(gr - 1, ci + 2); ++i)
                for (int j = std::max(0, cj - 2); j <= std::min(gc - 1, cj + 2); ++j) {
                    const long dx = x - sx[i * gc + j], dy = y - sy[i * gc + j];
                    if (dx * dx + dy * dy < bestD) {
                        bestD = dx * dx + dy * dy;
                        best = i * gc + j;
                    }
                }
            labels(x, y) = best;
        }
    return labels;
}

const blitz::Array<int, 2>& sharedLabels()
{
    static const blitz::Array<int, 2> labels = voronoiLabels();
    return labels;
}

void regionOutlines(benchmark::State& state)
{
    const blitz::Array<int, 2>& labels = sharedLabels();
    std::size_t count = 0, points = 0;
    for (auto _ : state) {
        const std::vector<classification::FloatPolyline> out =
            classification::buildRegionOutlines(labels, int(state.range(0)), 1.0f, 1.0f, 2.0f);
        count = out.size();
        points = 0;
        for (const auto& p : out)
            points += p.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["polylines"] = double(count);
    state.counters["points"] = double(points);
}
BENCHMARK(regionOutlines)->Arg(0)->Arg(6)->Unit(benchmark::kMillisecond);

void traceOnly(benchmark::State& state)
{
    const blitz::Array<int, 2>& labels = sharedLabels();
    for (auto _ : state) {
        std::vector<classification::BorderRecord> records;
        classification::traceRegionBorders(labels, {0, 0, rows - 1, cols - 1}, records);
        benchmark::DoNotOptimize(records.data());
    }
}
BENCHMARK(traceOnly)->Unit(benchmark::kMillisecond);

void selectionOutline(benchmark::State& state)
{
    blitz::Array<unsigned char, 2> bitmap(rows, cols);
    for (int x = 0; x < rows; ++x)
        for (int y = 0; y < cols; ++y)
            bitmap(x, y) = (x - 768) * (x - 768) + (y - 1024) * (y - 1024) < 700 * 700;
    for (auto _ : state) {
        const std::vector<classification::Polyline> out = classification::buildSelectionOutline(bitmap);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(selectionOutline)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
