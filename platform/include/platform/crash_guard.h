#pragma once
// The crash guard: on SIGSEGV, SIGBUS, SIGFPE, SIGILL or SIGABRT in any thread it writes a dump
// file (signal, address, registers, backtrace, memory map), starts a small program that tells
// the user, and ends the process with status 255. An abort is a crash too: an exception nobody
// caught, a fatal message or a library giving up (out of memory, say) ends the program as
// unexpectedly. Everything the handler needs is prepared beforehand in fixed buffers: the
// handler allocates nothing and makes only async-signal-safe calls.

namespace platform {

// The folder, ending in '/', of the program or library that holds this code; empty when it
// cannot be found or its name does not fit the buffer. Found once, on first call.
const char* installDirectory();

// The dump file to write on a crash. Null or empty means no dump. A path that does not fit
// the guard's buffer is refused (false) and no dump is written, rather than a shortened path.
bool setCrashDumpPath(const char* path);
// The program, in installDirectory(), started with the message text as its one argument and
// waited for. False (and no program) when it does not fit or there is no install directory.
bool setCrashMessageProgram(const char* fileName);
// The texts for the user, in static storage: the first when a dump path is set, the second
// when it is not. Written to standard error when the message program cannot be started.
void setCrashMessages(const char* withDump, const char* withoutDump);

// Installs the handlers for every thread, gives the calling thread an alternate signal stack
// and warms up backtrace() (its first call loads a library). Call once, early.
void armCrashGuard();

// Gives the calling thread an alternate signal stack of its own, so that a stack overflow on
// it still reaches the handler; released when the thread ends. Harmless to call twice.
void prepareThreadForCrashes();

// Tests only: called inside the handler once it has taken the crash.
void setCrashHandlerProbe(void (*probe)());

// The dump's name for a signal ("SIGSEGV"), or "signal" for others.
const char* crashSignalName(int signal);

} // namespace platform
