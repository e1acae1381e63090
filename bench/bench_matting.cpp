// The matting solver: a 1-megapixel Blend band on a 4-megapixel photo-like image, the
// pyramids of a 20-megapixel whole-image cut-out (time and memory), and the alpha quality on
// composites with a known alpha (SAD and MSE over the unknown band of their trimaps).
//
// The composites are read from $KESTRINE_MATTING_DATA, else from ../shared/testdata/matting
// beside the source tree; without them those runs are skipped.
#include "matting/palettes.h"
#include "matting/solver.h"
#include "platform/clock.h"
#include "testimage.h"

#include <benchmark/benchmark.h>
#include <boost/gil.hpp>
#include <boost/gil/extension/io/png.hpp>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace corvath::matting;
using classification::MaskPatch;
using classification::StatusByteArray;

namespace {

namespace gil = boost::gil;

template <typename T>
using Image = blitz::Array<Colour<T>, 2>;

template <typename T, int V>
Image<T> photoLike(int rows, int cols)
{
    const testsupport::RgbaImage8 photo = testsupport::syntheticPhoto(cols, rows, 7);
    Image<T> image(rows, cols);
    for (int i = 0; i < rows; ++i) {
        const std::uint8_t* p = photo.row(i);
        for (int j = 0; j < cols; ++j, p += 4)
            image(i, j) = Colour<T>(T(p[0] * V / 255), T(p[1] * V / 255), T(p[2] * V / 255), T(V));
    }
    return image;
}

// Keep left of a wavy line, Drop right of a second one `band` columns further, Blend between.
StatusByteArray wavyTrimap(int rows, int cols, int from, int band, long long& blendPixels)
{
    StatusByteArray status(rows, cols);
    blendPixels = 0;
    for (int i = 0; i < rows; ++i) {
        const int edge = from + int(std::lround(std::sin(i / 150.0) * 100.0));
        for (int j = 0; j < cols; ++j) {
            const unsigned char c = j < edge ? 2 : j >= edge + band ? 4 : 8;
            blendPixels += c == 8;
            status(i, j) = 128 | c;
        }
    }
    return status;
}

template <typename T, int V>
void bandOfOneMegapixel(benchmark::State& state)
{
    const int rows = 2048, cols = 2048;
    const Image<T> source = photoLike<T, V>(rows, cols);
    long long blend = 0;
    const StatusByteArray trimap = wavyTrimap(rows, cols, 700, 500, blend);
    Image<T> output(rows, cols);
    MaskPatch patch;
    patch.valueA = patch.valueB = float(state.range(0)) / 100.f;
    platform::setProcessorCountOverride(unsigned(state.range(1)));
    for (auto _ : state) {
        state.PauseTiming();
        StatusByteArray status = trimap.copy();
        state.ResumeTiming();
        const int result = detail::solveMatteOnScale<T, V>(source, status, output, Rect{0, 0, rows - 1, cols - 1},
                                                           FloatPair{1.f, 1.f}, patch, ProgressRange(),
                                                           detail::SolveOptions());
        benchmark::DoNotOptimize(result);
    }
    platform::setProcessorCountOverride(0);
    state.counters["blend_Mpx"] = double(blend) / 1e6;
    // A digest of the output, to see that a change to the solver's speed left its results alone.
    std::uint32_t digest = 2166136261u;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            for (int c = 0; c < 4; ++c)
                digest = (digest ^ std::uint32_t(output(i, j)[c])) * 16777619u;
    state.SetLabel("digest " + std::to_string(digest));
}

template <typename T, int V>
void pyramidsOfTwentyMegapixels(benchmark::State& state)
{
    const int rows = 3648, cols = 5472;
    const Image<T> source = photoLike<T, V>(rows, cols);
    long long blend = 0;
    MattingSampler sampler{wavyTrimap(rows, cols, 2000, 60, blend), 1.f, 1.f, 2};
    const double unit = V / 255.0;
    std::size_t bytes = 0;
    for (auto _ : state) {
        MattingPyramid<T> foreground, background;
        sampler.classBits = 2;
        solvePyramid(foreground, source, sampler, 11.7 * unit, 1e-5 * std::pow(unit, 6), ProgressRange());
        sampler.classBits = 4;
        solvePyramid(background, source, sampler, 31.9 * unit, 1e-5 * std::pow(unit, 6), ProgressRange());
        bytes = foreground.memoryBytes() + background.memoryBytes();
    }
    state.counters["pyramids_MB"] = double(bytes) / 1e6;
}

std::string compositeFolder()
{
    if (const char* env = std::getenv("KESTRINE_MATTING_DATA"))
        return env;
    return std::string(KESTRINE_TEST_DATA) + "/../../../shared/testdata/matting";
}

void composite(benchmark::State& state, const std::string& foreground, const std::string& background)
{
    const std::string folder = compositeFolder();
    const std::string image = folder + "/" + foreground + "__" + background + ".png";
    if (!std::filesystem::exists(image)) {
        state.SkipWithError(("no composite at " + image).c_str());
        return;
    }
    gil::rgb8_image_t rgb;
    gil::gray8_image_t truth, trimap;
    gil::read_and_convert_image(image, rgb, gil::png_tag());
    gil::read_and_convert_image(folder + "/" + foreground + ".gt.png", truth, gil::png_tag());
    gil::read_and_convert_image(folder + "/" + foreground + ".trimap.png", trimap, gil::png_tag());
    const int rows = int(rgb.height()), cols = int(rgb.width());
    Image<unsigned char> source(rows, cols), output(rows, cols);
    StatusByteArray classes(rows, cols);
    const auto rv = gil::const_view(rgb);
    const auto tv = gil::const_view(trimap);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const auto p = rv(j, i);
            source(i, j) = Colour<unsigned char>(p[0], p[1], p[2], 255);
            const int t = tv(j, i)[0];
            classes(i, j) = 128 | (t == 255 ? 2 : t == 0 ? 4 : 8);
        }
    MaskPatch patch;
    patch.valueA = patch.valueB = float(state.range(0)) / 100.f;
    for (auto _ : state) {
        StatusByteArray status = classes.copy();
        if (solveMatte<unsigned char>(source, status, output, Rect{0, 0, rows - 1, cols - 1},
                                      FloatPair{1.f, 1.f}, patch, ProgressRange()) != 0)
            state.SkipWithError("solver failed");
    }
    const auto gv = gil::const_view(truth);
    double sad = 0.0, sse = 0.0;
    long long unknown = 0;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            const int t = tv(j, i)[0];
            if (t == 0 || t == 255)
                continue;
            const double e = (double(output(i, j)[3]) - double(gv(j, i)[0])) / 255.0;
            sad += std::fabs(e);
            sse += e * e;
            ++unknown;
        }
    if (const char* dump = std::getenv("KESTRINE_MATTING_DUMP")) {
        gil::gray8_image_t a(cols, rows);
        auto av = gil::view(a);
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j)
                av(j, i)[0] = output(i, j)[3];
        gil::write_view(std::string(dump) + "/" + foreground + "__" + background + "_" +
                            std::to_string(state.range(0)) + ".png",
                        gil::const_view(a), gil::png_tag());
    }
    state.counters["SAD"] = sad / 1000.0;
    state.counters["MSE"] = unknown ? sse / double(unknown) : 0.0;
    state.counters["unknown_px"] = double(unknown);
}

} // namespace

// Arguments: palette detail in percent, threads.
BENCHMARK_TEMPLATE(bandOfOneMegapixel, unsigned char, 255)
    ->Args({0, 8})->Args({50, 8})->Args({100, 8})->Args({50, 1})
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK_TEMPLATE(bandOfOneMegapixel, unsigned short, 65535)
    ->Args({50, 8})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK_TEMPLATE(pyramidsOfTwentyMegapixels, unsigned char, 255)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK_TEMPLATE(pyramidsOfTwentyMegapixels, unsigned short, 65535)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

BENCHMARK_CAPTURE(composite, lion_building, std::string("lion"), std::string("building"))->Arg(0)->Arg(50)->Arg(100)->Iterations(1);
BENCHMARK_CAPTURE(composite, lion_baboon, std::string("lion"), std::string("baboon"))->Arg(0)->Arg(50)->Arg(100)->Iterations(1);
BENCHMARK_CAPTURE(composite, crane_building, std::string("crane"), std::string("building"))->Arg(0)->Arg(50)->Arg(100)->Iterations(1);
BENCHMARK_CAPTURE(composite, crane_baboon, std::string("crane"), std::string("baboon"))->Arg(0)->Arg(50)->Arg(100)->Iterations(1);
BENCHMARK_CAPTURE(composite, rambutan_building, std::string("rambutan"), std::string("building"))->Arg(0)->Arg(50)->Arg(100)->Iterations(1);
BENCHMARK_CAPTURE(composite, rambutan_baboon, std::string("rambutan"), std::string("baboon"))->Arg(0)->Arg(50)->Arg(100)->Iterations(1);

BENCHMARK_MAIN();
