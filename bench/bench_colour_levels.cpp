// Global colour levels on working-size images: the seven level histograms plus the colour
// watershed (ensureLevels). Peak memory is the process's resident high-water mark after the runs; run one
// size per process (--benchmark_filter) to read it per size.
#include "classification/globalclassification.h"
#include "classification/rancour.h"

#include "sixchannel.h"
#include "testimage.h"

#include "platform/clock.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cmath>
#include <map>
#include <random>

using classification::SixChannelClassification;

namespace {

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// A photograph enlarged to about `megapixels` by bilinear interpolation, with sensor noise
// of the given standard deviation: with noise almost every pixel has a colour of its own, as
// in a real photograph of that size (the worst case for the level-0 histogram).
testsupport::RgbaImage8 enlargedPhoto(double megapixels, float noiseSigma)
{
    const testsupport::RgbaImage8 src = testsupport::loadRgba8("coffee.png");
    const double scale = std::sqrt(megapixels * 1e6 / (double(src.width) * src.height));
    testsupport::RgbaImage8 out;
    out.width = int(src.width * scale);
    out.height = int(src.height * scale);
    out.samples.resize(std::size_t(out.width) * out.height * 4);
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(0.f, std::max(noiseSigma, 1e-6f));
    for (int y = 0; y < out.height; ++y) {
        const double sy = std::min((y + 0.5) / scale - 0.5, src.height - 1.001);
        const int y0 = std::max(0, int(sy));
        const double fy = std::max(0.0, sy - y0);
        for (int x = 0; x < out.width; ++x) {
            const double sx = std::min((x + 0.5) / scale - 0.5, src.width - 1.001);
            const int x0 = std::max(0, int(sx));
            const double fx = std::max(0.0, sx - x0);
            for (int c = 0; c < 4; ++c) {
                auto at = [&](int yy, int xx) { return double(src.row(yy)[xx * 4 + c]); };
                const double v = (1 - fy) * ((1 - fx) * at(y0, x0) + fx * at(y0, x0 + 1)) +
                                 fy * ((1 - fx) * at(y0 + 1, x0) + fx * at(y0 + 1, x0 + 1));
                const double n = c == 3 ? 255.0 : noiseSigma > 0.f ? v + noise(rng) : v;
                out.row(y)[x * 4 + c] = static_cast<std::uint8_t>(std::lround(std::clamp(n, 0.0, 255.0)));
            }
        }
    }
    return out;
}

// Built once per size and noise (in tenths of a level).
const testsupport::SixChannelImage& image(int megapixels, int noiseTenths)
{
    static std::map<std::pair<int, int>, testsupport::SixChannelImage> cache;
    const std::pair<int, int> key{megapixels, noiseTenths};
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.emplace(key, testsupport::sixChannelImage(enlargedPhoto(megapixels, noiseTenths / 10.f))).first;
    return it->second;
}

void ensureLevels(benchmark::State& state)
{
    const auto& keys = image(int(state.range(0)), int(state.range(2)));
    platform::setProcessorCountOverride(unsigned(state.range(1)));
    SixChannelClassification gc;
    gc.setImage(keys);
    for (auto _ : state) {
        gc.clearLevels();
        gc.resetMarkers();
        gc.ensureLevels(ProgressRange());
    }
    platform::setProcessorCountOverride(0);
    state.counters["pixels"] = double(keys.numElements());
    state.counters["level0_cells"] = double(gc.levelMap(0).size());
    state.counters["level0_regions"] = gc.marker(0);
    state.counters["level3_regions"] = gc.marker(3);
    state.counters["peak_MB"] = peakMegabytes();
}
// Arguments: megapixels, threads, noise in tenths of a level.
BENCHMARK(ensureLevels)
    ->Args({4, 8, 15})
    ->Args({4, 1, 15})
    ->Args({4, 8, 5})
    ->Args({4, 8, 0})
    ->Args({12, 8, 15})
    ->Args({12, 8, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What the application hands the levels: the colour envelopes of a 4-megapixel photograph
// (with sensor noise) under the default texture, percentile and bit depth.
void ensureLevelsOfEnvelopes(benchmark::State& state)
{
    static const classification::SixChannelImage keys = [] {
        testsupport::RgbaImage8 photo = enlargedPhoto(4, 1.5f);
        const classification::RgbaView8 view = classification::viewRgba8(
            {photo.width, photo.height, photo.strideBytes(), DvPixelRgba8, photo.samples.data()});
        classification::JobRecord record;
        return classification::computeEnvelopes(view, {1, 1.0f / 6.0f, 7}, record);
    }();
    platform::setProcessorCountOverride(8);
    SixChannelClassification gc;
    gc.setImage(keys);
    for (auto _ : state) {
        gc.clearLevels();
        gc.resetMarkers();
        gc.ensureLevels(ProgressRange());
    }
    platform::setProcessorCountOverride(0);
    state.counters["pixels"] = double(keys.numElements());
    state.counters["level0_cells"] = double(gc.levelMap(0).size());
    state.counters["level0_regions"] = gc.marker(0);
    state.counters["peak_MB"] = peakMegabytes();
}
BENCHMARK(ensureLevelsOfEnvelopes)->Unit(benchmark::kMillisecond)->UseRealTime();

// The serial part: the seven level histograms without the watershed.
void levelHistograms(benchmark::State& state)
{
    const auto& keys = image(int(state.range(0)), 15);
    SixChannelClassification gc;
    gc.setImage(keys);
    for (auto _ : state) {
        gc.clearLevels();
        gc.computeLevels(ProgressRange());
    }
    state.counters["peak_MB"] = peakMegabytes();
}
BENCHMARK(levelHistograms)->Arg(4)->Arg(12)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
