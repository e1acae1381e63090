// The application's share of the engine commands: a brush stroke on a 4-megapixel working
// image from submit to the end of its finish (status refresh and undo counts included) less
// the engine's own time, and a whole-image cut-out of a 20-megapixel photograph at divisor 2.

#include "document/Brushing.h"
#include "document/GmModel.h"
#include "document/GmStatusArray.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/SegmentationStuff.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdGenerateMask.h"
#include "engine/DvCmdSelect.h"
#include "qtbench.h"

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

void waitIdle(DravikThread& thread)
{
    while (thread.isBusy() || !thread.isQueueEmpty())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

// The stroke command with its engine call timed.
class TimedSelect : public DvCmdSelect {
public:
    TimedSelect(GmModel* model, Brushing* stroke, quint8 kind, double* engineSeconds)
        : DvCmdSelect(model, stroke, 1 | 2 | 4, kind, 0, 1), m_engineSeconds(engineSeconds)
    {
    }
    void execute() override
    {
        const auto start = Clock::now();
        DvCmdSelect::execute();
        *m_engineSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    }

private:
    double* m_engineSeconds;
};

// A photograph of the test data enlarged to the size, as a file the model opens.
QString enlargedPhoto(const QTemporaryDir& dir, QSize size)
{
    const QString path = dir.filePath(QStringLiteral("photo%1.png").arg(size.width()));
    QImage(QStringLiteral(KESTRINE_TEST_DATA "/chelsea.png"))
        .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .save(path);
    return path;
}

struct Document {
    Document(const QString& path, int divisor, int flag)
    {
        qInstallMessageHandler(qtbench::quiet);
        model = GmModel::instance();
        if (divisor > 1)
            model->changeResolution(divisor);
        ok = model->setImage(flag, 1, new KsSourceImage(path), nullptr);
        waitIdle(thread);
    }
    ~Document()
    {
        model->closeImage();
        waitIdle(thread);
        GmModel::destroy();
    }
    KsAppPreferences preferences;
    DravikThread thread;
    GmModel* model = nullptr;
    bool ok = false;
};

void BM_StrokeApplicationShare(benchmark::State& state)
{
    QTemporaryDir dir;
    Document document(enlargedPhoto(dir, QSize(2449, 1630)), 1, 1);
    if (!document.ok) {
        state.SkipWithError("the photograph did not open");
        return;
    }
    Brushing stroke{QColor(Qt::green)};
    stroke.startStroke(QPointF(600, 500), 40);
    stroke.addSegment(QPointF(1400, 900), 40);
    double engine = 0, engineTotal = 0;
    quint8 kind = 2;
    for (auto _ : state) {
        const auto start = Clock::now();
        document.thread.submit(new TimedSelect(document.model, &stroke, kind, &engine));
        waitIdle(document.thread);
        const double total = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(total - engine);
        engineTotal += engine;
        kind = kind == 2 ? 4 : 2;
    }
    state.counters["engine_ms"] = benchmark::Counter(engineTotal * 1000, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_StrokeApplicationShare)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

void BM_WholeImageCutout20MP(benchmark::State& state)
{
    QTemporaryDir dir;
    Document document(enlargedPhoto(dir, QSize(5477, 3651)), 2, 0);
    if (!document.ok || document.model->resolution() != 2) {
        state.SkipWithError("the photograph did not open at divisor 2");
        return;
    }
    document.model->segmentation()->submitAnalysis(nullptr);
    waitIdle(document.thread);
    Brushing keep{QColor(Qt::green)};
    keep.startStroke(QPointF(2400, 1800), 40);
    keep.addSegment(QPointF(3000, 2000), 40);
    document.thread.submit(new DvCmdSelect(document.model, &keep, 1, 2, 0, 1));
    Brushing remove{QColor(Qt::red)};
    remove.startStroke(QPointF(100, 100), 40);
    remove.addSegment(QPointF(800, 100), 40);
    document.thread.submit(new DvCmdSelect(document.model, &remove, 1, 4, 0, 1));
    waitIdle(document.thread);
    for (auto _ : state) {
        document.thread.submit(new DvCmdGenerateMask(document.model));
        waitIdle(document.thread);
    }
    if (DvCmdGenerateMask::cutoutStamp() != document.thread.changeCounter())
        state.SkipWithError("the cut-out failed");
}
BENCHMARK(BM_WholeImageCutout20MP)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
