// Segmentation stages 1 and 2 (local histograms, their mode split) on a 4-megapixel
// six-channel image made by tiling a real photograph.
#include "analysis/segmentation.h"
#include "testimage.h"

#include <benchmark/benchmark.h>

using Seg = classification::Segmentation<6, 0>;

namespace {

constexpr int side = 2048;  // 4.2 megapixels

const Seg::Image& sixChannelImage()
{
    static const Seg::Image image = [] {
        const auto photo = testsupport::loadRgba8("astronaut.png");
        Seg::Image img(side, side);
        for (int x = 0; x < side; ++x)
            for (int y = 0; y < side; ++y) {
                const std::uint8_t* p = photo.row(x % photo.height) + 4 * (y % photo.width);
                Seg::Pixel& q = img(x, y);
                q[0] = p[0];
                q[1] = p[1];
                q[2] = p[2];
                q[3] = (p[0] + p[1]) / 2;
                q[4] = (p[1] + p[2]) / 2;
                q[5] = (p[0] + p[2]) / 2;
            }
        return img;
    }();
    return image;
}

// The settings a 2048-pixel image gets by default: cells of 8 pixels, 4 colour bits.
void setHead(Seg& s, int interpolation, int resolution)
{
    classification::SegmentationState& h = s.head();
    h.colourBits = 4;
    h.interpolation = interpolation;
    h.resolution = resolution;
    h.overlap = 1;
    h.histogramLevel = 4;
    h.featureTol = 1.05f;
}

// Args: interpolation, cell side.
void histogramStage(benchmark::State& state)
{
    Seg s;
    setHead(s, int(state.range(0)), int(state.range(1)));
    sixChannelImage();
    for (auto _ : state) {
        s.attachImage(sixChannelImage());  // every channel rebuilds
        benchmark::DoNotOptimize(s.updateHistograms(false, ProgressRange()));
    }
    state.counters["cells"] = double(s.histograms().numElements());
    state.SetItemsProcessed(state.iterations() * std::int64_t(side) * side);
}
BENCHMARK(histogramStage)
    ->Args({0, 8})->Args({1, 8})->Args({2, 8})->Args({3, 8})->Args({0, 3})
    ->UseRealTime()->Unit(benchmark::kMillisecond);

void modeSplitStage(benchmark::State& state)
{
    Seg s;
    setHead(s, 0, int(state.range(0)));
    s.attachImage(sixChannelImage());
    s.updateHistograms(false, ProgressRange());
    std::size_t records = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.watershedFirstAllChannels(true, ProgressRange()));
        records = s.modes(0).size();
    }
    state.counters["records_ch0"] = double(records);
}
BENCHMARK(modeSplitStage)->Arg(8)->Arg(3)->UseRealTime()->Unit(benchmark::kMillisecond);

void bothStages(benchmark::State& state)
{
    Seg s;
    setHead(s, 0, 8);
    sixChannelImage();
    for (auto _ : state) {
        s.attachImage(sixChannelImage());
        const bool changed = s.updateHistograms(false, ProgressRange());
        benchmark::DoNotOptimize(s.watershedFirstAllChannels(changed, ProgressRange()));
    }
}
BENCHMARK(bothStages)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
BENCHMARK_MAIN();
