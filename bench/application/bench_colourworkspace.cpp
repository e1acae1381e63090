// The colour workspace's pixel work on a 4-megapixel working image (a photograph scaled to
// 2048 x 2048): one highlight run per channel or pair on its worker thread, a rebuild of the
// colour table, and how long an abort takes to stop a run under way.

#include "colour/ColourMapRenderer.h"
#include "document/Set1DThread.h"
#include "document/Set2DThread.h"

#include <colourSpace>

#include <QImage>
#include <QString>

#include <benchmark/benchmark.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

struct Images {
    QImage working;
    QImage status;
};

const Images& images()
{
    static const Images loaded = [] {
        QImage photo(QString::fromUtf8(KESTRINE_TEST_DATA) + "/astronaut.png");
        if (photo.isNull())
            throw std::runtime_error("cannot read astronaut.png");
        Images i;
        i.working = photo.scaled(2048, 2048, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .convertToFormat(QImage::Format_ARGB32);
        // Mostly viewed classes, a few pixels the view leaves out.
        i.status = QImage(i.working.size(), QImage::Format_Indexed8);
        QVector<QRgb> table;
        for (int v = 0; v < 256; ++v)
            table.append(qRgb(v, v, v));
        i.status.setColorTable(table);
        static const uchar values[] = {1, 2, 4, 8, 2, 1, 0, 2};
        for (int y = 0; y < i.status.height(); ++y) {
            uchar* row = i.status.scanLine(y);
            for (int x = 0; x < i.status.width(); ++x)
                row[x] = values[(x / 16 + y / 16) % 8];
        }
        return i;
    }();
    return loaded;
}

QImage monoOutput(QSize size)
{
    QImage output(size, QImage::Format_Mono);
    output.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    output.fill(0);
    return output;
}

std::vector<bool> halfTheValues()
{
    std::vector<bool> selection(256);
    for (int i = 0; i < 256; ++i)
        selection[size_t(i)] = (i / 16) % 2 == 0;
    return selection;
}

QImage halfThePairs()
{
    QImage selection = monoOutput(QSize(256, 256));
    for (int v = 0; v < 256; ++v) {
        for (int h = 0; h < 256; ++h)
            selection.setPixel(h, v, (h / 32 + v / 32) % 2);
    }
    return selection;
}

void BM_Highlight1D(benchmark::State& state)
{
    const Images& i = images();
    QImage output = monoOutput(i.working.size());
    Set1DThread thread;
    thread.setSelection(halfTheValues());
    thread.setChannel(Ht::colour::channel(state.range(0)));
    for (auto _ : state) {
        thread.start(&output, &i.working, &i.status, nullptr, i.working.rect(), 15);
        thread.wait();
    }
    state.SetItemsProcessed(state.iterations() * i.working.width() * i.working.height());
}
BENCHMARK(BM_Highlight1D)
    ->ArgName("channel")
    ->DenseRange(Ht::colour::Hue, Ht::colour::Blue)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Highlight2D(benchmark::State& state)
{
    const Images& i = images();
    QImage output = monoOutput(i.working.size());
    Set2DThread thread;
    thread.setSelection(halfThePairs());
    thread.setChannels(Ht::colour::channel(state.range(0)), Ht::colour::channel(state.range(1)));
    for (auto _ : state) {
        thread.start(&output, &i.working, &i.status, nullptr, i.working.rect(), 15);
        thread.wait();
    }
    state.SetItemsProcessed(state.iterations() * i.working.width() * i.working.height());
}
BENCHMARK(BM_Highlight2D)
    ->ArgNames({"h", "v"})
    ->Args({Ht::colour::Hue, Ht::colour::Lightness})
    ->Args({Ht::colour::Saturation, Ht::colour::Hue})
    ->Args({Ht::colour::Red, Ht::colour::Green})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_TableRebuild(benchmark::State& state)
{
    const Images& i = images();
    ColourMapRenderer renderer;
    renderer.setChannels(int(state.range(0)), int(state.range(1)));
    renderer.setColourBits(int(state.range(2)));
    for (auto _ : state) {
        renderer.rebuild({&i.working, &i.status, nullptr});
        benchmark::DoNotOptimize(renderer.cell(0, 0));
    }
    state.SetItemsProcessed(state.iterations() * i.working.width() * i.working.height());
}
BENCHMARK(BM_TableRebuild)
    ->ArgNames({"h", "v", "bits"})
    ->Args({Ht::colour::Red, Ht::colour::Green, 5})
    ->Args({Ht::colour::Hue, Ht::colour::Lightness, 5})
    ->Args({Ht::colour::Saturation, Ht::colour::Hue, 8})
    ->Unit(benchmark::kMillisecond);

// From the abort request to the joined thread, a few milliseconds into a hue run.
void BM_AbortLatency(benchmark::State& state)
{
    const Images& i = images();
    QImage output = monoOutput(i.working.size());
    Set1DThread thread;
    thread.setSelection(halfTheValues());
    thread.setChannel(Ht::colour::Hue);
    for (auto _ : state) {
        thread.start(&output, &i.working, &i.status, nullptr, i.working.rect(), 15);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const auto begin = std::chrono::steady_clock::now();
        thread.abort();
        thread.wait();
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
    }
}
BENCHMARK(BM_AbortLatency)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
