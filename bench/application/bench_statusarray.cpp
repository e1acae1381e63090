// The status array's refresh after a status-changing command on a 4-megapixel working image:
// the classes present and the snapshot copy; and the recolouring of an opacity change.

#include "document/GmStatusArray.h"

#include "dravik.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int kSide = 2000;  // 4 megapixels

// Engine-like status bytes: Unassigned with a band of Keep, and Delete in the last rows only,
// so that the classes-present scan cannot stop early.
struct StatusBytes {
    StatusBytes() : bytes(std::size_t(kSide) * kSide, 1)
    {
        for (int y = kSide / 4; y < kSide / 2; ++y)
            for (int x = 0; x < kSide; ++x)
                bytes[std::size_t(y) * kSide + x] = (x % 7) ? 2 : 2 | 32;
        for (int x = 0; x < kSide; ++x)
            bytes[std::size_t(kSide - 1) * kSide + x] = 4;
        record.width = kSide;
        record.height = kSide;
        record.stride = kSide;
        record.pixelType = DvPixelStatus;
        record.data = bytes.data();
    }
    std::vector<unsigned char> bytes;
    DvImage record{};
};

void BM_RefreshStatusArray(benchmark::State& state)
{
    StatusBytes status;
    GmStatusArray array(nullptr);
    array.setStatusImage(&status.record);
    for (auto _ : state) {
        array.refresh();
        benchmark::DoNotOptimize(array.snapshot().constBits());
    }
    state.SetItemsProcessed(state.iterations() * qint64(kSide) * kSide);
}
BENCHMARK(BM_RefreshStatusArray)->Unit(benchmark::kMillisecond);

void BM_RecolourStatusArray(benchmark::State& state)
{
    StatusBytes status;
    GmStatusArray array(nullptr);
    array.setStatusImage(&status.record);
    for (auto _ : state) {
        array.opacityChanged(0);
        benchmark::DoNotOptimize(array.statusImage());
    }
}
BENCHMARK(BM_RecolourStatusArray)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
