// The whole segmentation pipeline (stages 1 to 5), its last three stages and each stage
// alone, and the inner watershed's packed flood alone, on 4- and 12-megapixel six-channel
// images made by tiling a real photograph. Peak memory is the process's resident high-water
// mark after the runs.
#include "analysis/innerflood.h"
#include "analysis/segmentation.h"
#include "platform/clock.h"
#include "sixchannel.h"
#include "testimage.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <map>

using Seg = classification::Segmentation<6, 0>;

namespace {

// Args: rows, columns.
const Seg::Image& tiledImage(int rows, int cols)
{
    static std::map<std::pair<int, int>, Seg::Image> cache;
    auto it = cache.find({rows, cols});
    if (it != cache.end())
        return it->second;
    const auto photo = testsupport::loadRgba8("astronaut.png");
    testsupport::RgbaImage8 big;
    big.width = cols;
    big.height = rows;
    big.samples.resize(std::size_t(rows) * cols * 4);
    for (int x = 0; x < rows; ++x)
        for (int y = 0; y < cols; ++y) {
            // Mirrored tiles: no seams that a real photograph would not have.
            const int px = (x / photo.height) % 2 ? photo.height - 1 - x % photo.height : x % photo.height;
            const int py = (y / photo.width) % 2 ? photo.width - 1 - y % photo.width : y % photo.width;
            std::copy_n(photo.row(px) + 4 * py, 4, big.row(x) + 4 * y);
        }
    Seg::Image img;
    img.reference(testsupport::sixChannelImage(big));
    return cache.emplace(std::make_pair(rows, cols), img).first->second;
}

// What a session sets for an image of this size: cells and edge widths grow with the image.
void setHead(Seg& s, int resolution, int edgeWidth)
{
    classification::SegmentationState& h = s.head();
    h.colourBits = 4;
    h.interpolation = 0;
    h.resolution = resolution;
    h.overlap = 1;
    h.histogramLevel = 4;
    h.featureTol = 1.1f;
    h.imageTol = 2.02792f;
    h.focus = 0.f;
    h.spareC = 0.f;
    h.inFocusEdgeWidth = edgeWidth;
}

double peakMegabytes()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

// Args: rows, columns, cell side, edge width.
void wholePipeline(benchmark::State& state)
{
    const int rows = int(state.range(0)), cols = int(state.range(1));
    const Seg::Image& image = tiledImage(rows, cols);
    Seg s;
    setHead(s, int(state.range(2)), int(state.range(3)));
    for (auto _ : state) {
        s.attachImage(image);  // every stage recomputes
        benchmark::DoNotOptimize(s.analyse(ProgressRange()));
    }
    state.counters["regions"] = double(s.fineLabelCount());
    state.counters["peak_MB"] = peakMegabytes();
    state.SetItemsProcessed(state.iterations() * std::int64_t(rows) * cols);
}

// Stages 3 to 5 after the histograms and modes are in place.
void lastThreeStages(benchmark::State& state)
{
    const int rows = int(state.range(0)), cols = int(state.range(1));
    Seg s;
    setHead(s, int(state.range(2)), int(state.range(3)));
    s.attachImage(tiledImage(rows, cols));
    s.analyse(ProgressRange());
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.updateGradients(true, ProgressRange()));
        benchmark::DoNotOptimize(s.computeWidthMap(true, ProgressRange()));
        benchmark::DoNotOptimize(s.watershedInner(true, ProgressRange()));
    }
    state.counters["peak_MB"] = peakMegabytes();
}

// Stage 1 alone: every channel's histograms rebuilt.
void histogramStage(benchmark::State& state)
{
    Seg s;
    setHead(s, int(state.range(2)), int(state.range(3)));
    s.attachImage(tiledImage(int(state.range(0)), int(state.range(1))));
    s.analyse(ProgressRange());
    for (auto _ : state) {
        s.resetChannelStates();
        benchmark::DoNotOptimize(s.updateHistograms(true, ProgressRange()));
    }
}

// Stage 2 alone: every channel's histograms split into modes again.
void modeStage(benchmark::State& state)
{
    Seg s;
    setHead(s, int(state.range(2)), int(state.range(3)));
    s.attachImage(tiledImage(int(state.range(0)), int(state.range(1))));
    s.analyse(ProgressRange());
    for (auto _ : state)
        benchmark::DoNotOptimize(s.watershedFirstAllChannels(true, ProgressRange()));
}

void gradientStage(benchmark::State& state)
{
    Seg s;
    setHead(s, int(state.range(2)), int(state.range(3)));
    s.attachImage(tiledImage(int(state.range(0)), int(state.range(1))));
    s.analyse(ProgressRange());
    for (auto _ : state)
        benchmark::DoNotOptimize(s.updateGradients(true, ProgressRange()));
}

// The same on one thread: its work, free of how the bands fall on the workers.
void gradientStageOneThread(benchmark::State& state)
{
    Seg s;
    setHead(s, int(state.range(2)), int(state.range(3)));
    s.attachImage(tiledImage(int(state.range(0)), int(state.range(1))));
    s.analyse(ProgressRange());
    platform::setProcessorCountOverride(1);
    for (auto _ : state)
        benchmark::DoNotOptimize(s.updateGradients(true, ProgressRange()));
    platform::setProcessorCountOverride(0);
}

void widthMapStage(benchmark::State& state)
{
    Seg s;
    setHead(s, int(state.range(2)), int(state.range(3)));
    s.attachImage(tiledImage(int(state.range(0)), int(state.range(1))));
    s.analyse(ProgressRange());
    for (auto _ : state)
        benchmark::DoNotOptimize(s.computeWidthMap(true, ProgressRange()));
}

void innerWatershedStage(benchmark::State& state)
{
    Seg s;
    setHead(s, int(state.range(2)), int(state.range(3)));
    s.attachImage(tiledImage(int(state.range(0)), int(state.range(1))));
    s.analyse(ProgressRange());
    for (auto _ : state)
        benchmark::DoNotOptimize(s.watershedInner(true, ProgressRange()));
}

// The inner watershed's packed flood alone, on the calling thread: its cells are set up again
// outside the timing before each run.
void packedInnerFlood(benchmark::State& state)
{
    const int rows = int(state.range(0)), cols = int(state.range(1));
    Seg s;
    setHead(s, int(state.range(2)), int(state.range(3)));
    s.attachImage(tiledImage(rows, cols));
    s.analyse(ProgressRange());
    const Seg::GradientImage& g = s.gradient();
    const std::ptrdiff_t row = g.extent(1);
    const auto* upper = reinterpret_cast<const unsigned char*>(g.data());
    std::vector<std::uint32_t> cells(std::size_t(g.numElements()), 0);
    const int bias = classification::innerWatershedBias(s.head().imageTol, s.gradientScale());
    classification::CandidateArea area;
    area.first = classification::PixelOffset(2 * row + 2);
    area.rows = rows;
    area.columns = cols;
    std::int32_t regions = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int x = 0; x < rows + 2; ++x)
            for (int y = 0; y < cols + 2; ++y) {
                const std::size_t at = std::size_t(x + 1) * std::size_t(row) + std::size_t(y + 1);
                const bool ring = x == 0 || y == 0 || x == rows + 1 || y == cols + 1;
                cells[at] = ring ? 0u : classification::PackedInnerFlood::unlabelledCell(upper[3 * at + 1]);
            }
        classification::LabelCounter counter;
        counter.take();
        state.ResumeTiming();
        classification::PackedInnerFlood flood(cells.data(), upper, row, bias, counter);
        benchmark::DoNotOptimize(flood.flood(area, ProgressRange()));
        regions = counter.next();
    }
    state.counters["regions"] = double(regions);
    state.SetItemsProcessed(state.iterations() * std::int64_t(rows) * cols);
}

// 4.2 megapixels with cells of 8, 12 megapixels with cells of 11.
#define SIZES ->Args({2048, 2048, 8, 5})->Args({3000, 4000, 11, 11})

BENCHMARK(wholePipeline) SIZES->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(lastThreeStages) SIZES->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(histogramStage) SIZES->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(modeStage) SIZES->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(gradientStage) SIZES->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(gradientStageOneThread) SIZES->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(widthMapStage) SIZES->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(innerWatershedStage) SIZES->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(packedInnerFlood) SIZES->Args({4000, 6000, 16, 16})->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
BENCHMARK_MAIN();
