#include "shell/Launch.h"

#include "shell/KestrineResources.h"
#include "shell/KsAboutBox.h"
#include "shell/KsAppStandAlone.h"

#include "platform/memory.h"

#include <QString>

#include <cstring>
#include <new>

namespace {

bool is(const char* argument, const char* text)
{
    return argument && std::strcmp(argument, text) == 0;
}

void logEscapedException(const char* what)
{
    // The application's logger is gone with it; this line reopens the run's log.
    try {
        Klogger::stream() << "Exiting on an unexpected error: " << QString::fromUtf8(what)
                          << Klogger::endl;
    } catch (...) {
        // Out of memory again: the exit code still tells.
    }
}

} // namespace

LaunchMode launchModeFor(int argc, const char* const* argv)
{
    if (argc == 9 && is(argv[1], "--tn"))
        return LaunchTunnel;
    if (argc == 3 && is(argv[1], "--xmltn"))
        return LaunchXmlTunnel;
    if (argc == 3 && is(argv[1], "--aperture"))
        return LaunchAperture;
    return LaunchStandalone;
}

int kestrineMain(int argc, char** argv)
{
    // Before any thread runs: the engine's threads would otherwise reserve most of a limited
    // address space in heap arenas.
    platform::boundHeapArenasUnderAddressSpaceLimit();
    initKestrineResources();
    if (argc == 2 && is(argv[1], "--about")) {
        KsAboutBox::runAlone(argc, argv);
        return 0;
    }
    const LaunchMode mode = launchModeFor(argc, argv);
    try {
        bool handBackFailed = false;
        int exitCode = 0;
        {
            KsAppStandAlone app(mode, &handBackFailed);
            app.init(argc, argv);
            const int loopResult = app.run();
            exitCode = mode == LaunchTunnel ? int(app.handBackStatus()) : loopResult;
        }
        // The hand-back ran in the destructor, after the status was chosen.
        return handBackFailed ? kExitHandBackFailed : exitCode;
    } catch (const std::bad_alloc&) {
        logEscapedException("out of memory");
        return 11;
    } catch (const std::exception& error) {
        logEscapedException(error.what());
        return 12;
    } catch (const QString& text) {
        // The start-up's own failures (an unreadable control file) are thrown as text.
        logEscapedException(text.toUtf8().constData());
        return 12;
    } catch (...) {
        logEscapedException("unknown exception");
        return 12;
    }
}
