// Global colour levels on working-size images: the seven level histograms plus the colour
// watershed (ensureLevels). Peak memory is the process's resident high-water mark after the runs; run one
// size per process (--benchmark_filter) to read it per size.
#include "classification/globalclassification.h"

#include "sixchannel.h"
#include "testimage.h"

#include "platform/clock.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cmath>
#include <random>

using classification::SixChannelClassification;

namespace {

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// A photograph enlarged to about `megapixels` by bilinear interpolation, with mild sensor
// noise so that the colour count grows with the size as in a real photograph.
testsupport::RgbaImage8 enlargedPhoto(double megapixels)
{
    const testsupport::RgbaImage8 src = testsupport::loadRgba8("coffee.png");
    const double scale = std::sqrt(megapixels * 1e6 / (double(src.width) * src.height));
    testsupport::RgbaImage8 out;
    out.width = int(src.width * scale);
    out.height = int(src.height * scale);
    out.samples.resize(std::size_t(out.width) * out.height * 4);
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(0.f, 1.5f);
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
                const double n = c < 3 ? v + noise(rng) : 255.0;
                out.row(y)[x * 4 + c] = static_cast<std::uint8_t>(std::lround(std::clamp(n, 0.0, 255.0)));
            }
        }
    }
    return out;
}

const testsupport::SixChannelImage& image(int megapixels)
{
    static std::map<int, testsupport::SixChannelImage> cache;
    auto it = cache.find(megapixels);
    if (it == cache.end())
        it = cache.emplace(megapixels, testsupport::sixChannelImage(enlargedPhoto(megapixels))).first;
    return it->second;
}

void ensureLevels(benchmark::State& state)
{
    const auto& keys = image(int(state.range(0)));
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
BENCHMARK(ensureLevels)
    ->Args({4, 8})
    ->Args({4, 1})
    ->Args({12, 8})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void computeLevelsOnly(benchmark::State& state)
{
    const auto& keys = image(int(state.range(0)));
    SixChannelClassification gc;
    gc.setImage(keys);
    for (auto _ : state) {
        gc.clearLevels();
        gc.computeLevels(ProgressRange());
    }
    state.counters["peak_MB"] = peakMegabytes();
}
BENCHMARK(computeLevelsOnly)->Arg(4)->Arg(12)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
