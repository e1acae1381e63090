// "Analyse Image" end to end (DvAnalyseImage on a fresh session: envelopes, colour levels,
// segmentation, fine labels, region map and outlines) on enlarged real photographs, and the
// same analysis step by step. Peak memory is the process's resident high-water mark after the
// runs; run one size per process (--benchmark_filter) to read it per size.
#include "classification/session.h"
#include "dravik.h"

#include "testimage.h"

#include "platform/clock.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

namespace {

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// A photograph enlarged to about `megapixels` by bilinear interpolation, with sensor noise of
// standard deviation 1.5 levels, as a real photograph of that size has.
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
                const double n = c == 3 ? 255.0 : v + noise(rng);
                out.row(y)[x * 4 + c] = static_cast<std::uint8_t>(std::lround(std::clamp(n, 0.0, 255.0)));
            }
        }
    }
    return out;
}

testsupport::RgbaImage8& photo(int megapixels)
{
    static std::map<int, testsupport::RgbaImage8> cache;
    auto it = cache.find(megapixels);
    if (it == cache.end())
        it = cache.emplace(megapixels, enlargedPhoto(megapixels)).first;
    return it->second;
}

DvImageDesc describe(testsupport::RgbaImage8& image)
{
    return {image.width, image.height, image.strideBytes(), DvPixelRgba8, image.samples.data()};
}

int quiet(unsigned char, void*) { return 0; }

void analyseImage(benchmark::State& state)
{
    testsupport::RgbaImage8& image = photo(int(state.range(0)));
    platform::setProcessorCountOverride(unsigned(state.range(1)));
    DvLibrary* library = DvInit();
    int outlines = 0;
    for (auto _ : state) {
        state.PauseTiming();
        DvSession* session = DvBeginSession(library, describe(image));
        DvPrepareAnalysis(session, DvEdgeOptions{0.49f, session->edgeWidth, 1, 1});
        state.ResumeTiming();
        if (DvAnalyseImage(session, quiet) != DvOk)
            state.SkipWithError("analysis failed");
        state.PauseTiming();
        outlines = session->outlineCount;
        DvEndSession(session);
        state.ResumeTiming();
    }
    DvFinish(library);
    platform::setProcessorCountOverride(0);
    state.counters["pixels"] = double(image.width) * image.height;
    state.counters["outlines"] = outlines;
    state.counters["peak_MB"] = peakMegabytes();
}
// Arguments: megapixels, threads.
BENCHMARK(analyseImage)
    ->Args({4, 8})
    ->Args({4, 1})
    ->Args({12, 8})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The same analysis step by step on the classification object, each step's mean time (ms) in
// a counter.
void analysisSteps(benchmark::State& state)
{
    testsupport::RgbaImage8& image = photo(int(state.range(0)));
    platform::setProcessorCountOverride(unsigned(state.range(1)));
    DvLibrary* library = DvInit();
    DvSession* session = DvBeginSession(library, describe(image));
    classification::IiClassification& c = static_cast<DvInSession*>(session)->classification();
    double steps[6] = {};
    const char* names[6] = {"envelopes", "levels", "segmentation", "fine_labels", "region_map", "outlines"};
    for (auto _ : state) {
        std::int64_t t = platform::counterNanoseconds();
        const auto lap = [&](int k) {
            const std::int64_t now = platform::counterNanoseconds();
            steps[k] += double(now - t) * 1e-6;
            t = now;
        };
        c.requireNewEnvelopes();
        c.envelopeStep(ProgressRange());
        lap(0);
        c.colourLevels().ensureLevels(ProgressRange());
        lap(1);
        c.segmentation().analyse(ProgressRange());
        lap(2);
        c.buildFineLabels();
        lap(3);
        c.buildRegionMap(ProgressRange());
        lap(4);
        benchmark::DoNotOptimize(classification::buildRegionOutlines(
            c.regionLabels, c.outlinePointRule, c.outlineSimplify, c.outlineSmoothing, c.parameters.imageTol));
        lap(5);
    }
    DvFinish(library);
    platform::setProcessorCountOverride(0);
    for (int k = 0; k < 6; ++k)
        state.counters[names[k]] = steps[k] / double(state.iterations());
    state.counters["peak_MB"] = peakMegabytes();
}
BENCHMARK(analysisSteps)->Args({4, 8})->Args({12, 8})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
