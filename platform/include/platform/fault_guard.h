#pragma once
// Runs one call with the processor's faults (SIGSEGV, SIGBUS, SIGILL, SIGFPE) caught, so that
// a library inside another program's process can turn a fault in its code, or in a callback
// of the host, into an error result instead of taking the host down. Unlike the crash guard,
// which ends the process, this one abandons the guarded call and returns.
//
// While a guarded call runs, the calling thread has an alternate signal stack of the guard's
// own (so that a stack overflow is caught too) and the four signals go to the guard's handler
// for the whole process. On every way out, normal or by a fault, the handlers and the
// alternate stack that were in place before are put back. A fault on a thread that is not in
// a guarded call, or a second fault while one is being taken, puts the earlier handler back
// and raises the signal again, so that the host's own crash handling sees it. SIGABRT is never
// caught: deliberate aborts are not faults.
//
// The abandoned frames of the call are skipped without their destructors: whatever they held
// is leaked, and any state they were changing may be half-changed. The caller decides what
// can still be trusted.

#include <cstddef>
#include <cstdint>

namespace platform {

struct CaughtFault {
    int signal = 0;
    // The address the fault names (the bad access for SIGSEGV and SIGBUS).
    std::uintptr_t address = 0;
};

// Runs body(context). Returns true when it returned; false when a fault ended it, with the
// fault in *fault when given. Calls may be nested and may run on several threads at once.
bool runGuarded(void (*body)(void* context), void* context, CaughtFault* fault = nullptr);

// Size of the guard's alternate signal stack.
constexpr std::size_t kFaultGuardStackSize = 64 * 1024;

} // namespace platform
