// A program that crashes on purpose under the crash guard, the way its first argument says.
// Built without the undefined-behaviour checks, which would otherwise stop it first.
#include "shell/CrashGuard.h"
#include "shell/Klogger.h"

#include "platform/crash_guard.h"

#include <cstring>
#include <new>
#include <thread>

#include <sys/resource.h>

namespace {

const char* g_kind = "";

int* volatile g_nowhere = nullptr;
volatile int g_zero = 0;

__attribute__((noinline)) int recurse(int depth)
{
    volatile char frame[256];
    frame[depth % 256] = char(depth);
    // Never false; read anew each time, so that the compiler cannot see the end coming.
    if (g_zero == 0)
        return recurse(depth + 1) + frame[(depth + 1) % 256];
    return frame[0];
}

void crashInHandler()
{
    *g_nowhere = 2;
}

int crashMain(int, char**)
{
    Klogger logger;
    logger.setMessageType(QtFatalMsg, false, true);
    logger.installMessageHandler();
    Klogger::stream() << "about to crash: " << g_kind << Klogger::endl;

    if (!std::strcmp(g_kind, "null")) {
        *g_nowhere = 1;
    } else if (!std::strcmp(g_kind, "divide")) {
        return 10 / g_zero;
    } else if (!std::strcmp(g_kind, "recurse")) {
        return recurse(0);
    } else if (!std::strcmp(g_kind, "thread")) {
        std::thread worker([] {
            platform::prepareThreadForCrashes();
            *g_nowhere = 3;
        });
        worker.join();
    } else if (!std::strcmp(g_kind, "handler")) {
        platform::setCrashHandlerProbe(&crashInHandler);
        *g_nowhere = 4;
    } else if (!std::strcmp(g_kind, "fatal")) {
        qFatal("a fatal message before the end");
    } else if (!std::strcmp(g_kind, "uncaught")) {
        std::thread worker([] {
            platform::prepareThreadForCrashes();
            throw std::bad_alloc();
        });
        worker.join();
    }
    return 3;
}

} // namespace

int main(int argc, char** argv)
{
    // No core files from the crashes the tests ask for.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (argc != 2)
        return 2;
    g_kind = argv[1];
    return runGuarded(argc, argv, &crashMain);
}
