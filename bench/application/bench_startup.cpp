// Start-up as the user sees it: from the program's main with a 20-megapixel photograph on the
// command line to the first paint of the canvas showing it, with every panel, tool and the
// palette built. Each run is a fresh process (the program holds one application per process),
// so every iteration forks a child that runs main and reports its time through a pipe.

#include "canvas/GmZoomWidget.h"
#include "canvas/ImageView.h"
#include "document/GmModel.h"
#include "document/KsSourceImage.h"
#include "engine/DravikCommand.h"
#include "engine/DravikThread.h"
#include "engine/DvCmdAnalyseImage.h"
#include "shell/KsApp.h"
#include "shell/KsMainWindow.h"
#include "shell/Launch.h"

#include "benchsupport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::string g_photo;

// Runs the body in a child process and returns what it wrote (a double), or -1 on failure.
double inChild(const std::function<double()>& body)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        const double value = body();
        const ssize_t written = write(fds[1], &value, sizeof value);
        _exit(written == sizeof value ? 0 : 1);
    }
    close(fds[1]);
    double value = -1;
    if (read(fds[0], &value, sizeof value) != sizeof value)
        value = -1;
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return value;
}

// The photograph, enlarged to 20 megapixels and written as a camera would: a JPEG.
std::string writePhoto()
{
    char folder[] = "/tmp/kestrine-bench-startup-XXXXXX";
    if (!mkdtemp(folder))
        return {};
    const std::string path = std::string(folder) + "/photo20mp.jpg";
    const double ok = inChild([&] {
        int argc = 1;
        char name[] = "bench";
        char* argv[] = {name, nullptr};
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        QGuiApplication app(argc, argv);
        const testsupport::RgbaImage8 photo = benchsupport::enlargedPhoto("chelsea.png", 20.0, 1.5);
        QImage image(photo.width, photo.height, QImage::Format_RGBA8888);
        for (int y = 0; y < photo.height; ++y)
            std::memcpy(image.scanLine(y), photo.row(y), std::size_t(photo.width) * 4);
        return image.save(QString::fromStdString(path), "JPEG", 92) ? 1.0 : 0.0;
    });
    return ok == 1.0 ? path : std::string();
}

// The program's main on the photograph, offscreen, its settings and the run's log beside the
// photograph written for the benchmarks.
void runProgramOn(const std::string& photo)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string folder = g_photo.substr(0, g_photo.rfind('/'));
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    setenv("TMPDIR", folder.c_str(), 1);
    std::string program = "kestrine3";
    std::string path = photo;
    char* argv[] = {program.data(), path.data(), nullptr};
    kestrineMain(2, argv);
}

// Waits for the canvas's first paint with the photograph in the model.
class FirstPaint : public QObject {
public:
    FirstPaint(QWidget* canvas, Clock::time_point start, double* seconds)
        : m_start(start), m_seconds(seconds)
    {
        canvas->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && *m_seconds < 0) {
            const GmModel* model = GmModel::existingInstance();
            if (model && model->source()) {
                *m_seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
                if (QWidget* window = KsMainWindow::instance())
                    QTimer::singleShot(0, window, &QWidget::close);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    Clock::time_point m_start;
    double* m_seconds;
};

double startToFirstPaint()
{
    return inChild([] {
        double seconds = -1;
        const Clock::time_point start = Clock::now();
        KsApp::setStartUpHook([&](QWidget* window) {
            auto* main = static_cast<KsMainWindow*>(window);
            // The command line's photograph, should this build not open it at start-up yet.
            GmModel* model = GmModel::instance();
            if (!model->source())
                model->setImage(1, 1, new KsSourceImage(QString::fromStdString(g_photo)), nullptr);
            new FirstPaint(main->imageView()->canvas(), start, &seconds);
            main->imageView()->canvas()->update();
        });
        runProgramOn(g_photo);
        return seconds;
    });
}

void BM_StartToFirstPaint20MP(benchmark::State& state)
{
    if (g_photo.empty()) {
        state.SkipWithError("the photograph could not be written");
        return;
    }
    for (auto _ : state) {
        const double seconds = startToFirstPaint();
        if (seconds < 0) {
            state.SkipWithError("the run did not paint the photograph");
            return;
        }
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_StartToFirstPaint20MP)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// From main with a photograph on the command line to the end of the image's edge finding, the
// point where the user can start marking. KESTRINE_BENCH_PHOTO names the photograph (a 24 MP
// camera JPEG, say); without it the 20-megapixel one above is used.
double startToEdges(const std::string& photo)
{
    return inChild([&photo] {
        double seconds = -1;
        const Clock::time_point start = Clock::now();
        KsApp::setStartUpHook([&](QWidget* window) {
            QObject::connect(DravikThread::instance(), &DravikThread::commandFinished, window,
                             [&seconds, start, window](DravikCommand* command) {
                                 if (seconds >= 0 || !qobject_cast<DvCmdAnalyseImage*>(command) || command->result() != 0)
                                     return;
                                 seconds = std::chrono::duration<double>(Clock::now() - start).count();
                                 QTimer::singleShot(0, window, &QWidget::close);
                             });
        });
        runProgramOn(photo);
        return seconds;
    });
}

void BM_StartToEdges(benchmark::State& state)
{
    const char* chosen = std::getenv("KESTRINE_BENCH_PHOTO");
    const std::string photo = chosen && *chosen ? std::string(chosen) : g_photo;
    if (photo.empty() || g_photo.empty()) {
        state.SkipWithError("no photograph");
        return;
    }
    for (auto _ : state) {
        const double seconds = startToEdges(photo);
        if (seconds < 0) {
            state.SkipWithError("the run did not find the edges");
            return;
        }
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_StartToEdges)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    g_photo = writePhoto();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (!g_photo.empty()) {
        const std::string folder = g_photo.substr(0, g_photo.rfind('/'));
        const std::string command = "rm -rf '" + folder + "'";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "could not remove %s\n", folder.c_str());
    }
    return 0;
}
