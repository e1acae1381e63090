// "Analyse Image" end to end (DvAnalyseImage on a fresh session: envelopes, colour levels,
// segmentation, fine labels, region map and outlines) on enlarged real photographs and on
// mosaics of them at their own resolution (as many edges as a real photograph of that size),
// and the same analysis step by step. Peak memory is the process's resident high-water mark after the
// runs; run one size per process (--benchmark_filter) to read it per size.
#include "session/session.h"
#include "dravik.h"

#include "benchsupport.h"
#include "testimage.h"

#include "platform/clock.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace {

// source 0: an enlarged photograph; 1: a mosaic of photographs.
testsupport::RgbaImage8& photo(int megapixels, int source)
{
    static std::map<std::pair<int, int>, testsupport::RgbaImage8> cache;
    const std::pair<int, int> key(megapixels, source);
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache
                 .emplace(key, source == 1 ? benchsupport::photoMosaic(megapixels)
                                           : benchsupport::enlargedPhoto("coffee.png", megapixels, 1.5f))
                 .first;
    return it->second;
}

DvImageDesc describe(testsupport::RgbaImage8& image)
{
    return {image.width, image.height, image.strideBytes(), DvPixelRgba8, image.samples.data()};
}

int quiet(unsigned char, void*) { return 0; }

void analyseImage(benchmark::State& state)
{
    testsupport::RgbaImage8& image = photo(int(state.range(0)), int(state.range(2)));
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
    state.counters["peak_MB"] = benchsupport::peakMegabytes();
}
// Arguments: megapixels, threads, source (0 enlarged, 1 mosaic).
BENCHMARK(analyseImage)
    ->Args({4, 8, 0})
    ->Args({4, 1, 0})
    ->Args({12, 8, 0})
    ->Args({4, 8, 1})
    ->Args({4, 1, 1})
    ->Args({6, 8, 1})
    ->Args({24, 8, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The same analysis step by step on the classification object, each step's mean time (ms) in
// a counter.
void analysisSteps(benchmark::State& state)
{
    testsupport::RgbaImage8& image = photo(int(state.range(0)), int(state.range(2)));
    platform::setProcessorCountOverride(unsigned(state.range(1)));
    DvLibrary* library = DvInit();
    DvSession* session = DvBeginSession(library, describe(image));
    classification::IiClassification& c = static_cast<DvInSession*>(session)->classification();
    static const char* const names[6] = {"envelopes", "levels", "segmentation", "fine_labels", "region_map", "outlines"};
    benchsupport::StepClock<6> clock(names);
    for (auto _ : state) {
        clock.start();
        c.requireNewEnvelopes();
        c.envelopeStep(ProgressRange());
        clock.lap(0);
        c.colourLevels().ensureLevels(ProgressRange());
        clock.lap(1);
        c.segmentation().analyse(ProgressRange());
        clock.lap(2);
        c.buildFineLabels();
        clock.lap(3);
        c.buildRegionMap(ProgressRange());
        clock.lap(4);
        benchmark::DoNotOptimize(classification::buildRegionOutlines(
            c.regionLabels, c.outlinePointRule, c.outlineSimplify, c.outlineSmoothing, c.parameters.imageTol));
        clock.lap(5);
    }
    DvFinish(library);
    platform::setProcessorCountOverride(0);
    clock.report(state);
    state.counters["peak_MB"] = benchsupport::peakMegabytes();
}
BENCHMARK(analysisSteps)->Args({4, 8, 0})->Args({12, 8, 0})->Args({4, 8, 1})->Args({6, 8, 1})->Args({24, 8, 1})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
