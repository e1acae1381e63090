#pragma once
// What the application's benchmarks share: silenced log lines, and a main that runs the
// registered benchmarks under an offscreen Qt application.

#include <QtGlobal>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace qtbench {

// The measured code's log lines would otherwise be timed along with it.
inline void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

template <typename Application>
int runOffscreen(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Application app(argc, argv);
    qInstallMessageHandler(quiet);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}

} // namespace qtbench
