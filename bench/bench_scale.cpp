// Workspace reduction of a 20-megapixel RGBA photograph by 2 and by 4, single-threaded.
#include "dravik.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr int width = 5472, height = 3648;  // 20 megapixels

// Smooth gradients with noise, so that block medians are not trivially equal values.
const std::vector<std::uint8_t>& photo()
{
    static const std::vector<std::uint8_t> pixels = [] {
        std::vector<std::uint8_t> p(std::size_t(width) * height * 4);
        std::mt19937 rng(7);
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c) {
                std::uint8_t* q = p.data() + (std::size_t(r) * width + c) * 4;
                const int n = int(rng() % 32);
                q[0] = std::uint8_t((c * 255 / width + n) & 0xFF);
                q[1] = std::uint8_t((r * 255 / height + n) & 0xFF);
                q[2] = std::uint8_t(((r + c) / 16 + n) & 0xFF);
                q[3] = 255;
            }
        return p;
    }();
    return pixels;
}

void reduce(benchmark::State& state)
{
    const int factor = int(state.range(0));
    std::vector<std::uint8_t>& source = const_cast<std::vector<std::uint8_t>&>(photo());
    const int w = (width + factor - 1) / factor, h = (height + factor - 1) / factor;
    std::vector<std::uint8_t> destination(std::size_t(w) * h * 4);
    const DvImageDesc s{width, height, unsigned(width * 4), DvPixelRgba8, source.data()};
    const DvImageDesc d{w, h, unsigned(w * 4), DvPixelRgba8, destination.data()};
    for (auto _ : state) {
        if (DvScaleImage(d, s) != DvOk)
            state.SkipWithError("reduction failed");
        benchmark::DoNotOptimize(destination.data());
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(width) * height);
}
BENCHMARK(reduce)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
