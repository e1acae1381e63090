// Saving and loading a 20-megapixel document as a project holds it: the document map built by
// the model and written with a data stream into a file, and read back from the file and
// installed by the model (until the model has replaced the open document; the engine's
// session on it follows on its worker and is counted separately). The same through the file
// handler, with its container, its checks and its safe replacement of the file, and the
// handler's cut-out saves as PNG and TIFF.

#include "document/BrushRegion.h"
#include "document/Brushing.h"
#include "document/ForcedEdge.h"
#include "document/GmModel.h"
#include "document/KsAppPreferences.h"
#include "document/KsSourceImage.h"
#include "document/PolyRegion.h"
#include "document/Prompt.h"
#include "document/RectRegion.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdSelect.h"
#include "qtbench.h"
#include "shell/FileHandler.h"

#include <QApplication>
#include <QDataStream>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <functional>

namespace {

using Clock = std::chrono::steady_clock;

void waitIdle(DravikThread& thread)
{
    while (thread.isBusy() || !thread.isQueueEmpty())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

// A photograph of the test data enlarged to 20 megapixels, with a little sensor-like noise so
// that the picture compresses as a real one does, written as a file the model opens.
QString twentyMegapixelPhoto(const QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("photo20mp.png"));
    QImage image = QImage(QStringLiteral(KESTRINE_TEST_DATA "/chelsea.png"))
                       .scaled(5477, 3651, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                       .convertToFormat(QImage::Format_RGB32);
    std::uint32_t seed = 12345;
    for (int y = 0; y < image.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int n = int(seed >> 29) - 4;
            const auto add = [n](int v) { return qBound(0, v + n, 255); };
            row[x] = qRgb(add(qRed(row[x])), add(qGreen(row[x])), add(qBlue(row[x])));
        }
    }
    image.save(path);
    return path;
}

struct Document {
    explicit Document(const QString& path)
    {
        qInstallMessageHandler(qtbench::quiet);
        model = GmModel::instance();
        ok = model->setImage(1, 1, new KsSourceImage(path), nullptr);
        waitIdle(thread);
        ok = ok && model->resolution() == 8;
        if (!ok)
            return;
        // Marks, patches and a forced edge, as a document being worked on has them.
        Brushing keep{QColor(Qt::green)};
        keep.startStroke(QPointF(2400, 1800), 40);
        keep.addSegment(QPointF(3000, 2000), 40);
        thread.submit(new DvCmdSelect(model, &keep, 1, 2, 0, 1));
        Brushing remove{QColor(Qt::red)};
        remove.startStroke(QPointF(100, 100), 40);
        remove.addSegment(QPointF(800, 100), 40);
        thread.submit(new DvCmdSelect(model, &remove, 1, 4, 0, 1));
        auto* rect = new RectRegion(QPointF(1000, 800));
        rect->rectangle().dragCornerTo({2200, 1900});
        rect->beginSubSession();
        auto* poly = new PolyRegion(QPointF(3000, 500));
        poly->polygon().appendPoint({4200, 700});
        poly->polygon().appendPoint({3600, 1600});
        poly->beginSubSession();
        auto* brushed = new BrushRegion(keep);
        brushed->beginSubSession();
        auto* edge = new ForcedEdge(QPointF(500, 3000), 6);
        edge->polygon().appendPoint({2500, 3300});
        edge->submitToEngine();
        waitIdle(thread);
    }
    ~Document()
    {
        model->closeImage();
        waitIdle(thread);
        GmModel::destroy();
    }
    // Whether the photograph opened; the benchmark is skipped when it did not.
    bool openedFor(benchmark::State& state) const
    {
        if (!ok)
            state.SkipWithError("the photograph did not open at divisor 8");
        return ok;
    }

    KsAppPreferences preferences;
    DravikThread thread;
    GmModel* model = nullptr;
    bool ok = false;
};

void save(GmModel* model, const QString& path)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QDataStream out(&file);
    out << QVariant(model->saveToVariant());
}

// Times each load; the engine's session that follows is measured apart, outside the timing.
void timeLoads(benchmark::State& state, Document& document, const std::function<bool()>& load)
{
    double engineSeconds = 0;
    for (auto _ : state) {
        if (!load()) {
            state.SkipWithError("the project did not load");
            return;
        }
        state.PauseTiming();
        const auto start = Clock::now();
        waitIdle(document.thread);
        engineSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        state.ResumeTiming();
    }
    state.counters["then_engine_ms"] = benchmark::Counter(engineSeconds * 1000, benchmark::Counter::kAvgIterations);
}

void BM_SaveProject20MP(benchmark::State& state)
{
    QTemporaryDir dir;
    Document document(twentyMegapixelPhoto(dir));
    if (!document.openedFor(state))
        return;
    const QString path = dir.filePath(QStringLiteral("document.project"));
    for (auto _ : state)
        save(document.model, path);
    state.counters["file_MB"] = double(QFile(path).size()) / 1e6;
}
BENCHMARK(BM_SaveProject20MP)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_LoadProject20MP(benchmark::State& state)
{
    QTemporaryDir dir;
    Document document(twentyMegapixelPhoto(dir));
    if (!document.openedFor(state))
        return;
    const QString path = dir.filePath(QStringLiteral("document.project"));
    save(document.model, path);
    timeLoads(state, document, [&] {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        QDataStream in(&file);
        QVariant map;
        in >> map;
        return document.model->loadFromVariant(map);
    });
}
BENCHMARK(BM_LoadProject20MP)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Answers the file dialogs with one name and filter; every message box with OK.
class AnsweringPrompt : public Prompt::Handler {
public:
    AnsweringPrompt(const QString& name, const QString& filter) : m_name(name), m_filter(filter)
    {
        Prompt::setHandler(this);
    }
    ~AnsweringPrompt() override { Prompt::setHandler(nullptr); }
    QMessageBox::StandardButton message(QWidget*, const Prompt::Message&) override
    {
        ++messages;
        return QMessageBox::Ok;
    }
    QColor color(const QColor&, QWidget*, const QString&, QColorDialog::ColorDialogOptions) override
    {
        return QColor();
    }
    QString fileName(QWidget*, const Prompt::FileRequest&, QString* selectedFilter) override
    {
        if (selectedFilter)
            *selectedFilter = m_filter;
        return m_name;
    }
    int messages = 0;

private:
    QString m_name;
    QString m_filter;
};

// Save As once, then Save: the cut-out written in the format of the filter.
void saveCutout(benchmark::State& state, const QString& fileName, const QString& filter)
{
    QTemporaryDir dir;
    Document document(twentyMegapixelPhoto(dir));
    if (!document.openedFor(state))
        return;
    FileHandler handler(nullptr);
    AnsweringPrompt prompt(dir.filePath(fileName), filter);
    if (!handler.fileSaveAsSlot()) {
        state.SkipWithError("the cut-out was not saved");
        return;
    }
    for (auto _ : state)
        if (!handler.fileSaveSlot()) {
            state.SkipWithError("the cut-out was not saved");
            return;
        }
    state.counters["file_MB"] = double(QFile(handler.cutoutPath()).size()) / 1e6;
}

void BM_FileHandlerSaveCutoutPng20MP(benchmark::State& state)
{
    saveCutout(state, QStringLiteral("cutout.png"), QStringLiteral("Portable Network Graphics (*.png)"));
}
BENCHMARK(BM_FileHandlerSaveCutoutPng20MP)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_FileHandlerSaveCutoutTiff20MP(benchmark::State& state)
{
    saveCutout(state, QStringLiteral("cutout.tif"), QStringLiteral("Tagged Image File Format (*.tif)"));
}
BENCHMARK(BM_FileHandlerSaveCutoutTiff20MP)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_FileHandlerSaveProject20MP(benchmark::State& state)
{
    QTemporaryDir dir;
    Document document(twentyMegapixelPhoto(dir));
    if (!document.openedFor(state))
        return;
    FileHandler handler(nullptr);
    AnsweringPrompt prompt(dir.filePath(QStringLiteral("document.okrp")), QString());
    handler.projectSaveAsSlot();
    if (prompt.messages != 0 || handler.projectPath().isEmpty()) {
        state.SkipWithError("the project was not saved");
        return;
    }
    for (auto _ : state)
        handler.projectSaveSlot();
    if (prompt.messages != 0)
        state.SkipWithError("the project was not saved");
    state.counters["file_MB"] = double(QFile(handler.projectPath()).size()) / 1e6;
}
BENCHMARK(BM_FileHandlerSaveProject20MP)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_FileHandlerLoadProject20MP(benchmark::State& state)
{
    QTemporaryDir dir;
    Document document(twentyMegapixelPhoto(dir));
    if (!document.openedFor(state))
        return;
    FileHandler handler(nullptr);
    const QString path = dir.filePath(QStringLiteral("document.okrp"));
    AnsweringPrompt prompt(path, QString());
    handler.projectSaveAsSlot();
    timeLoads(state, document, [&] { return handler.loadProject(path); });
}
BENCHMARK(BM_FileHandlerLoadProject20MP)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return qtbench::runOffscreen<QApplication>(argc, argv);
}
