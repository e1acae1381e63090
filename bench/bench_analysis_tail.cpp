// The analysis's last steps (fine labels, region map, outlines) on a photo mosaic, the
// steps before them run once. Arguments: megapixels, threads.
#include "session/session.h"
#include "dravik.h"

#include "benchsupport.h"
#include "testimage.h"

#include "platform/clock.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <map>

namespace {

// FNV-1a over the values, cut to 52 bits so that a counter holds it exactly.
struct Digest {
    std::uint64_t h = 1469598103934665603ull;
    void add(std::int64_t v)
    {
        for (int i = 0; i < 8; ++i, v >>= 8) {
            h ^= std::uint64_t(v) & 0xFF;
            h *= 1099511628211ull;
        }
    }
    double value() const { return double(h & ((1ull << 52) - 1)); }
};

double labelDigest(const blitz::Array<int, 2>& a, int count)
{
    Digest d;
    d.add(count);
    for (int x = a.lbound(0); x <= a.ubound(0); ++x)
        for (int y = a.lbound(1); y <= a.ubound(1); ++y)
            d.add(a(x, y));
    return d.value();
}

void analysisTail(benchmark::State& state)
{
    // One mosaic per size, made the first time it is asked for.
    static std::map<int, testsupport::RgbaImage8> mosaics;
    auto it = mosaics.find(int(state.range(0)));
    if (it == mosaics.end())
        it = mosaics.emplace(int(state.range(0)), benchsupport::photoMosaic(int(state.range(0)))).first;
    testsupport::RgbaImage8& image = it->second;
    DvImageDesc desc{image.width, image.height, image.strideBytes(), DvPixelRgba8, image.samples.data()};
    DvLibrary* library = DvInit();
    DvSession* session = DvBeginSession(library, desc);
    classification::IiClassification& c = static_cast<DvInSession*>(session)->classification();
    platform::setProcessorCountOverride(8);
    c.requireNewEnvelopes();
    c.envelopeStep(ProgressRange());
    c.colourLevels().ensureLevels(ProgressRange());
    c.segmentation().analyse(ProgressRange());
    platform::setProcessorCountOverride(unsigned(state.range(1)));
    double digests[3] = {};
    static const char* const names[3] = {"fine_labels", "region_map", "outlines"};
    benchsupport::StepClock<3> clock(names);
    for (auto _ : state) {
        clock.start();
        c.buildFineLabels();
        clock.lap(0);
        c.buildRegionMap(ProgressRange());
        clock.lap(1);
        const std::vector<classification::FloatPolyline> outlines = classification::buildRegionOutlines(
            c.regionLabels, c.outlinePointRule, c.outlineSimplify, c.outlineSmoothing, c.parameters.imageTol);
        clock.lap(2);
        state.PauseTiming();
        digests[0] = labelDigest(c.fineLabels, c.fineLabelCount);
        digests[1] = labelDigest(c.regionLabels, c.regionCount);
        Digest d;
        for (const classification::FloatPolyline& line : outlines) {
            d.add(std::int64_t(line.size()));
            for (const classification::FloatPoint& p : line) {
                std::int32_t bits[2];
                std::memcpy(bits, &p, sizeof bits);
                d.add(bits[0]);
                d.add(bits[1]);
            }
        }
        digests[2] = d.value();
        state.ResumeTiming();
    }
    DvEndSession(session);
    DvFinish(library);
    platform::setProcessorCountOverride(0);
    clock.report(state);
    state.counters["digest_fine"] = digests[0];
    state.counters["digest_region"] = digests[1];
    state.counters["digest_outlines"] = digests[2];
}
BENCHMARK(analysisTail)->Args({4, 8})->Args({4, 1})->Args({6, 8})->Args({24, 8})->Args({24, 1})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

} // namespace

BENCHMARK_MAIN();
