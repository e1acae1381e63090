// Global colour levels on working-size images: the seven level histograms plus the colour
// watershed (ensureLevels). Peak memory is the process's resident high-water mark after the runs; run one
// size per process (--benchmark_filter) to read it per size.
#include "analysis/globalclassification.h"
#include "analysis/rancour.h"
#include "session/variables.h"

#include "sixchannel.h"
#include "benchsupport.h"
#include "testimage.h"

#include "platform/clock.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>

using classification::SixChannelClassification;

namespace {

// Built once per size and noise (in tenths of a level).
const testsupport::SixChannelImage& image(int megapixels, int noiseTenths)
{
    static std::map<std::pair<int, int>, testsupport::SixChannelImage> cache;
    const std::pair<int, int> key{megapixels, noiseTenths};
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.emplace(key, testsupport::sixChannelImage(
                                    benchsupport::enlargedPhoto("coffee.png", megapixels, noiseTenths / 10.f)))
                 .first;
    return it->second;
}

// The seven levels of keys from scratch on the given number of threads, once per iteration.
void measureLevels(benchmark::State& state, const testsupport::SixChannelImage& keys, unsigned threads)
{
    platform::setProcessorCountOverride(threads);
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
    state.counters["peak_MB"] = benchsupport::peakMegabytes();
}

void ensureLevels(benchmark::State& state)
{
    measureLevels(state, image(int(state.range(0)), int(state.range(2))), unsigned(state.range(1)));
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
// (with sensor noise) under the texture, percentile and bit depth a session of that size
// starts with.
void ensureLevelsOfEnvelopes(benchmark::State& state)
{
    static const classification::SixChannelImage keys = [] {
        testsupport::RgbaImage8 photo = benchsupport::enlargedPhoto("coffee.png", 4, 1.5f);
        const classification::RgbaView8 view = classification::viewRgba8(
            {photo.width, photo.height, photo.strideBytes(), DvPixelRgba8, photo.samples.data()});
        dravik::Variables defaults;
        defaults.resetDefaults(std::max(photo.width, photo.height));
        classification::EnvelopeSettings settings;
        settings.textureSize = defaults.texture.effective();
        settings.percentile = defaults.percentile.effective();
        settings.maximumBits = defaults.maxBits.effective();
        classification::JobRecord record;
        return classification::computeEnvelopes(view, settings, record);
    }();
    measureLevels(state, keys, 8);
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
    state.counters["peak_MB"] = benchsupport::peakMegabytes();
}
BENCHMARK(levelHistograms)->Arg(4)->Arg(12)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
