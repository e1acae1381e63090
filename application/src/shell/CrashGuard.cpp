#include "shell/CrashGuard.h"

#include "shell/Klogger.h"

#include "platform/crash_guard.h"

#include <QFile>

int runGuarded(int argc, char** argv, GuardedMain guardedMain)
{
    // The dump path goes into the guard's buffer now, so that the handler builds nothing. It
    // is used only in a folder that is ours alone.
    if (Klogger::prepareLogDirectory().isEmpty())
        platform::setCrashDumpPath(QFile::encodeName(Klogger::dumpPath()).constData());
    else
        platform::setCrashDumpPath(nullptr);
    platform::setCrashMessageProgram("kestrine3-crashbox");
    platform::setCrashMessages(crashMessageShort(), crashMessageLong());
    platform::armCrashGuard();
    return guardedMain(argc, argv);
}

const char* crashMessageShort()
{
    return "Sorry - Kestrine 3 has encountered a problem and is exiting.\n";
}

const char* crashMessageLong()
{
    return "Sorry - Kestrine 3 has encountered a problem and is exiting.\n\n"
           "Further, minidump support is not available.\n"
           "Please re-install Orlenth Kestrine 3.";
}
