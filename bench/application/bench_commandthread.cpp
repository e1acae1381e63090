// A command that does nothing, from submit to the end of its finish: the cost the worker adds
// to every engine operation (thread start, queued completion, log lines).

#include "engine/DravikCommand.h"
#include "engine/DravikThread.h"
#include "qtbench.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <benchmark/benchmark.h>

namespace {

class NoOpCommand : public DravikCommand {
public:
    explicit NoOpCommand(bool* done) : DravikCommand(nullptr, QStringLiteral("No-op")), m_done(done) {}
    void execute() override {}
    void finish() override { *m_done = true; }

private:
    bool* m_done;
};

void BM_SubmitToFinish(benchmark::State& state)
{
    int argc = 1;
    char name[] = "bench";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(qtbench::quiet);
    DravikThread thread;
    for (auto _ : state) {
        bool done = false;
        thread.submit(new NoOpCommand(&done));
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}
BENCHMARK(BM_SubmitToFinish)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
