// The pixel work of a filter run on a 20-megapixel layer: filling both mappings from the
// host's padded rows, and copying the result mapping back into the host's output rows, with
// 8-bit and 16-bit samples. The application itself is not started.

#include "tunnelry/win_photoshop_shim.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int32_t kWidth = 5000;
constexpr int32_t kHeight = 4000;
constexpr int32_t kPadding = 12;

int16_t acceptTransfer()
{
    return 0;
}

// A host with one RGB or RGB48 layer over the whole rectangle.
struct BenchHost {
    explicit BenchHost(bool sixteenBit)
        : bytesPerPixel(sixteenBit ? 8 : 4)
        , rowBytes(kWidth * int32_t(bytesPerPixel) + kPadding)
        , input(std::size_t(rowBytes) * kHeight)
        , output(std::size_t(rowBytes) * kHeight)
    {
        for (std::size_t i = 0; i < input.size(); ++i)
            input[i] = static_cast<unsigned char>(i * 31 + i / 4099);
        big.filterRect32 = VRect{0, 0, kHeight, kWidth};
        record.bigDocumentData = &big;
        record.advanceState = &acceptTransfer;
        record.imageMode = sixteenBit ? kImageModeRGB48 : kImageModeRGB;
        record.planes = 4;
        record.inData = input.data();
        record.outData = output.data();
        record.inRowBytes = record.outRowBytes = rowBytes;
        shim.Message(kSelectorPrepare, &record);
        shim.setupTransfer();
    }

    unsigned bytesPerPixel;
    int32_t rowBytes;
    std::vector<unsigned char> input;
    std::vector<unsigned char> output;
    BigDocumentStruct big{};
    FilterRecord record{};
    WinPhotoshopShim shim;
};

void BM_FillMappings(benchmark::State& state)
{
    BenchHost host(state.range(0) == 16);
    for (auto _ : state) {
        if (!host.shim.openSession(host.bytesPerPixel, kWidth, kHeight)) {
            state.SkipWithError("the mappings could not be made");
            break;
        }
        host.shim.closeSession();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * host.bytesPerPixel);
}

void BM_CopyBack(benchmark::State& state)
{
    BenchHost host(state.range(0) == 16);
    if (!host.shim.openSession(host.bytesPerPixel, kWidth, kHeight)) {
        state.SkipWithError("the mappings could not be made");
        return;
    }
    for (auto _ : state) {
        if (host.shim.SetImageData(host.bytesPerPixel, kWidth, kHeight) != 0) {
            state.SkipWithError("the copy-back failed");
            break;
        }
        benchmark::DoNotOptimize(host.output.data());
    }
    host.shim.closeSession();
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * host.bytesPerPixel);
}

} // namespace

BENCHMARK(BM_FillMappings)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopyBack)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
