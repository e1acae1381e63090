// Percentile filters on one 12-megapixel channel: the colour envelopes' pair of percentiles
// over disk windows (the time per pixel follows the window's edge, not its area), and the
// 3 x 3 median that the matting smoothing runs on 8-bit and 16-bit channels.
#include "common/helpers.h"
#include "analysis/percentile.h"
#include "analysis/rancour.h"

#include "benchsupport.h"
#include "testimage.h"

#include "platform/clock.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <random>

namespace {

constexpr int rows = 3000, cols = 4000;  // 12 megapixels

template <typename S>
blitz::Array<S, 2> photoLike(int scale)
{
    blitz::Array<S, 2> a(rows, cols);
    std::mt19937 rng(5);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            a(i, j) = static_cast<S>(((i / 7 + j / 5) % 200 + rng() % 40) * scale);
    return a;
}

void diskPercentilePair(benchmark::State& state)
{
    const auto source = photoLike<unsigned char>(1);
    const blitz::Array<int, 2> disk = classification::diskWindow(int(state.range(0)));
    blitz::Array<classification::BytePair, 2> dest(rows, cols);
    for (auto _ : state)
        benchmark::DoNotOptimize(classification::Rancour::processTwoChannelImage(
            dest, source, disk, 0, 255, 0.16f, 0.84f, nullptr, 0.f, 1.f));
    state.SetItemsProcessed(state.iterations() * rows * cols);
}
BENCHMARK(diskPercentilePair)->Arg(9)->Arg(17)->Arg(33)->Unit(benchmark::kMillisecond);

// Chooses the filters' instruction set (classification::PercentileLanes: 0 the widest this
// processor has, 1 the portable histogram, 2 AVX2, 3 AVX-512); false, with the benchmark
// skipped, where this processor lacks it.
bool chooseLanes(benchmark::State& state, std::int64_t choice)
{
    if (classification::usePercentileLanes(classification::PercentileLanes(choice)))
        return true;
    classification::usePercentileLanes(classification::PercentileLanes::automatic);
    state.SkipWithError("this processor lacks the instructions");
    return false;
}

// A photo mosaic of this many megapixels, made once per process.
classification::RgbaView8 mosaicOf(std::int64_t megapixels)
{
    static std::map<std::int64_t, testsupport::RgbaImage8> mosaics;
    auto it = mosaics.find(megapixels);
    if (it == mosaics.end())
        it = mosaics.emplace(megapixels, benchsupport::photoMosaic(double(megapixels))).first;
    testsupport::RgbaImage8& mosaic = it->second;
    return classification::RgbaView8(reinterpret_cast<blitz::TinyVector<unsigned char, 4>*>(mosaic.samples.data()),
                                     blitz::shape(mosaic.height, mosaic.width), blitz::neverDeleteData);
}

// The settings a session gives an image whose envelopes use this texture size.
classification::EnvelopeSettings envelopeSettings(std::int64_t textureSize)
{
    classification::EnvelopeSettings settings;
    settings.textureSize = int(textureSize);
    settings.percentile = 1.f / 6.f;
    settings.maximumBits = 7;
    return settings;
}

// The colour envelopes of one channel of a 4-megapixel photo mosaic on one thread, with the
// settings a session gives an image of that size (disk of 9, t = 1/6, 7 bits): the pair and
// the two single percentiles that follow it, on real picture content with its flat areas.
// The argument is the instruction set.
void envelopeChannel(benchmark::State& state)
{
    if (!chooseLanes(state, state.range(0)))
        return;
    const classification::RgbaView8 image = mosaicOf(4);
    const classification::ByteChannel source = image.extractComponent((unsigned char)0, 1, 4);
    classification::ByteChannel opening(image.shape()), closing(image.shape());
    const classification::EnvelopeSettings settings = envelopeSettings(8);
    for (auto _ : state)
        classification::envelopeBody(source, opening, closing, settings);
    classification::usePercentileLanes(classification::PercentileLanes::automatic);
    state.SetItemsProcessed(state.iterations() * image.numElements());
}
BENCHMARK(envelopeChannel)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// One band of 512 rows of the colour envelopes of one channel of a photo mosaic on one thread,
// with the window a session gives an image of that size (arguments: megapixels, texture size;
// 6 MP takes 11, a disk of 112 entries, 24 MP 22, a disk of 421) and instruction set as above.
void envelopeBand(benchmark::State& state)
{
    if (!chooseLanes(state, state.range(2)))
        return;
    const classification::RgbaView8 image = mosaicOf(state.range(0));
    const classification::ByteChannel source = image.extractComponent((unsigned char)0, 1, 4);
    classification::ByteChannel opening(image.shape()), closing(image.shape());
    const classification::EnvelopeSettings settings = envelopeSettings(state.range(1));
    const int first = image.extent(0) / 3;
    const corvath::utility::Rect rows{first, 0, first + 511, image.extent(1) - 1};
    for (auto _ : state)
        classification::envelopeRows(source, opening, closing, rows, settings);
    classification::usePercentileLanes(classification::PercentileLanes::automatic);
    state.SetItemsProcessed(state.iterations() * 512 * image.extent(1));
}
BENCHMARK(envelopeBand)
    ->Args({4, 8, 0})
    ->Args({6, 11, 0})
    ->Args({6, 11, 1})
    ->Args({24, 22, 0})
    ->Args({24, 22, 1})
    ->Unit(benchmark::kMillisecond);

// All six envelopes of a photo mosaic as the analysis computes them (arguments: megapixels,
// texture size as above, threads, 0 for every processor).
void allEnvelopes(benchmark::State& state)
{
    const classification::RgbaView8 image = mosaicOf(state.range(0));
    const classification::EnvelopeSettings settings = envelopeSettings(state.range(1));
    platform::setProcessorCountOverride(unsigned(state.range(2)));
    classification::JobRecord record;
    for (auto _ : state)
        benchmark::DoNotOptimize(classification::computeEnvelopes(image, settings, record));
    platform::setProcessorCountOverride(0);
    state.SetItemsProcessed(state.iterations() * image.numElements());
}
BENCHMARK(allEnvelopes)
    ->Args({4, 8, 0})
    ->Args({4, 8, 1})
    ->Args({6, 11, 8})
    ->Args({24, 22, 8})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

template <typename S>
void median3x3(benchmark::State& state)
{
    const auto source = photoLike<S>(sizeof(S) == 1 ? 1 : 257);
    blitz::Array<int, 2> square(blitz::Range(-1, 1), blitz::Range(-1, 1));
    square = 1;
    blitz::Array<S, 2> dest(rows, cols);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            classification::processOneChannelImage(dest, source, square, 0, 255, 0.5f, nullptr, 0.f, 1.f));
    state.SetItemsProcessed(state.iterations() * rows * cols);
}
BENCHMARK_TEMPLATE(median3x3, unsigned char)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(median3x3, unsigned short)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
