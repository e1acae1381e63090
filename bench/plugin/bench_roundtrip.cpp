// A whole filter run with the real application on a 20-megapixel RGB layer: from the host's
// Start call to its return, with the user auto-filling the image with Keep (Ctrl+Shift+K) and
// applying (Ctrl+S). The application runs on a private X display started here, worked by the
// same driver as the end-to-end tests. The pixel copies of the hand-over (the plug-in filling
// both mappings, the application taking both in and writing the result, the plug-in copying
// it back) are timed on their own over the same geometry, and reported with their share of
// the round trip.

#include "application_driver.h"
#include "host_session.h"
#include "plugin_module.h"
#include "scenario.h"

#include "XvfbDisplay.h"
#include "shell/HandOverPixels.h"

#include "tunnelry/win_photoshop_shim.h"

#include <QDir>
#include <QImage>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

constexpr int32_t kWidth = 5000;
constexpr int32_t kHeight = 4000;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The photograph scaled to the layer's size, opaque, in the host's RGBA rows.
void loadLayer(FakeHost& host)
{
    host.setLayer(kImageModeRGB, 4, kWidth, kHeight, true);
    const QImage photo = QImage(QStringLiteral(KESTRINE_TEST_DATA "/chelsea.png"))
                             .scaled(kWidth, kHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGBA8888);
    const std::size_t rowBytes = std::size_t(host.record.inRowBytes);
    for (int y = 0; y < kHeight; ++y)
        std::copy_n(photo.constScanLine(y), std::size_t(kWidth) * 4, host.input.data() + y * rowBytes);
    host.initialOutput = host.output;
}

int16_t acceptTransfer()
{
    return 0;
}

struct CopyTimes {
    double fill = 0;         // the plug-in fills both mappings
    double application = 0;  // the application takes both in and writes the cut-out
    double copyBack = 0;     // the plug-in copies the result into the host's rows
    double total() const { return fill + application + copyBack; }
};

// The best of a few runs of each copy of the hand-over, in seconds.
CopyTimes handOverCopies(FakeHost& host)
{
    FilterRecord record = host.record;
    BigDocumentStruct big = host.big;
    record.bigDocumentData = &big;
    record.advanceState = &acceptTransfer;
    WinPhotoshopShim shim;
    shim.Message(kSelectorPrepare, &record);
    shim.setupTransfer();
    std::vector<unsigned char> mapping(std::size_t(kWidth) * kHeight * 4);
    std::vector<unsigned char> own(mapping.size());

    auto best = [](auto&& work) {
        double shortest = 1e9;
        for (int i = 0; i < 3; ++i) {
            const Clock::time_point start = Clock::now();
            work();
            shortest = std::min(shortest, secondsSince(start));
        }
        return shortest;
    };
    CopyTimes times;
    times.fill = best([&] {
        shim.openSession(4, kWidth, kHeight);
        shim.closeSession();
    });
    // The application copies the source and the result mapping in, and the cut-out out.
    times.application = 3 * best([&] {
        handoverpixels::copy8(mapping.data(), own.data(), kWidth, kHeight);
        benchmark::DoNotOptimize(own.data());
    });
    shim.openSession(4, kWidth, kHeight);
    times.copyBack = best([&] { shim.SetImageData(4, kWidth, kHeight); });
    shim.closeSession();
    return times;
}

void BM_RoundTrip20Megapixels(benchmark::State& state)
{
    testsupport::XvfbDisplay display;
    if (!display.isRunning()) {
        state.SkipWithError("no Xvfb display");
        return;
    }
    Scenario scenario(KESTRINE_PROGRAM);
    const std::string settings = scenario.userConfigFolder() + "/OrlenthTech";
    mkdir(settings.c_str(), 0700);
    std::ofstream(settings + "/Kestrine3.conf")
        << "[General]\nUpdateSupressUntil=4102444800\nNewsSupressUntil=4102444800\n";
    setenv("DISPLAY", display.display().toLocal8Bit().constData(), 1);
    unsetenv("QT_QPA_PLATFORM");

    PluginModule module;
    if (!module.load(TUNNELRY_MODULE) || !module.entry()) {
        state.SkipWithError("the plug-in did not load");
        return;
    }
    FakeHost host;
    loadLayer(host);
    HostSession session(module.entry(), host);

    double total = 0;
    int runs = 0;
    for (auto _ : state) {
        if (session.call(kSelectorPrepare) != 0) {
            state.SkipWithError("Prepare failed");
            break;
        }
        tunnelrytest::ApplicationDriver driver(display, scenario.logFolder());
        driver.start({tunnelrytest::DriverStep::key(QStringLiteral("Ctrl+Shift+K"), tunnelrytest::kAutoFilling),
                      tunnelrytest::DriverStep::key(QStringLiteral("Ctrl+S"))});
        const Clock::time_point start = Clock::now();
        const int16_t result = session.call(kSelectorStart);
        const double elapsed = secondsSince(start);
        driver.finish();
        if (result != 0 || !driver.completed() || !driver.problems().empty()) {
            state.SkipWithError(("the run failed: " + std::to_string(result) + " "
                                 + (driver.problems().empty() ? std::string() : driver.problems().front()))
                                    .c_str());
            break;
        }
        session.call(kSelectorFinish);
        state.SetIterationTime(elapsed);
        // Each run's logs go, so that the next finds only its own.
        QDir logs(QString::fromStdString(scenario.logFolder()));
        for (const QString& name : logs.entryList({QStringLiteral("20*")}, QDir::Files))
            logs.remove(name);
        total += elapsed;
        ++runs;
    }
    unsetenv("DISPLAY");

    const CopyTimes copies = handOverCopies(host);
    state.counters["fill_ms"] = copies.fill * 1000;
    state.counters["app_copies_ms"] = copies.application * 1000;
    state.counters["copy_back_ms"] = copies.copyBack * 1000;
    state.counters["copies_ms"] = copies.total() * 1000;
    if (runs > 0)
        state.counters["copy_share_pct"] = copies.total() * 100 / (total / runs);
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 4);
}

} // namespace

BENCHMARK(BM_RoundTrip20Megapixels)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
