#include "platform/fault_guard.h"

#include <csetjmp>
#include <csignal>
#include <mutex>

#include <sys/mman.h>

namespace platform {

namespace {

constexpr int kGuardedSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr int kGuardedCount = sizeof kGuardedSignals / sizeof kGuardedSignals[0];

struct Frame {
    sigjmp_buf jump;
    Frame* outer = nullptr;
    // Set once a fault of this call is being taken: a further fault is not the call's.
    volatile sig_atomic_t taking = 0;
    CaughtFault fault;
};

// Initial-exec, so that the handler reads it without the lazy allocation a library's
// thread-local storage may otherwise make on first use in a thread.
__attribute__((tls_model("initial-exec"))) thread_local Frame* t_frame = nullptr;

// The handlers in place before the outermost guarded call of the process; valid while
// g_depth is above 0.
std::mutex g_mutex;
int g_depth = 0;
struct sigaction g_previous[kGuardedCount];

int slotOf(int signal)
{
    for (int i = 0; i < kGuardedCount; ++i)
        if (kGuardedSignals[i] == signal)
            return i;
    return -1;
}

void faultHandler(int signal, siginfo_t* info, void*)
{
    Frame* frame = t_frame;
    if (!frame || frame->taking) {
        // Not a fault of a guarded call: hand it to whoever had the signal before.
        const int slot = slotOf(signal);
        if (slot >= 0)
            sigaction(signal, &g_previous[slot], nullptr);
        // A sent signal is sent again and arrives once this handler returns; a processor
        // fault recurs when the instruction runs again, now with its real address.
        if (!info || info->si_code <= 0)
            raise(signal);
        return;
    }
    frame->taking = 1;
    frame->fault.signal = signal;
    frame->fault.address = info ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0;
    siglongjmp(frame->jump, 1);
}

// The handlers for the process, counted over every guarded call of every thread.
void installHandlers()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_depth++ > 0)
        return;
    struct sigaction action {};
    action.sa_sigaction = &faultHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : kGuardedSignals)
        sigaddset(&action.sa_mask, signal);
    for (int i = 0; i < kGuardedCount; ++i)
        sigaction(kGuardedSignals[i], &action, &g_previous[i]);
}

void restoreHandlers()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (--g_depth > 0)
        return;
    for (int i = 0; i < kGuardedCount; ++i)
        sigaction(kGuardedSignals[i], &g_previous[i], nullptr);
}

// The calling thread's alternate stack for one guarded call, the earlier one put back after.
class AlternateStack {
public:
    AlternateStack()
    {
        void* memory = mmap(nullptr, kFaultGuardStackSize, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (memory == MAP_FAILED)
            return;
        stack_t ours{};
        ours.ss_sp = memory;
        ours.ss_size = kFaultGuardStackSize;
        // Refused while the thread runs on its current alternate stack; that one serves then.
        if (sigaltstack(&ours, &m_previous) != 0) {
            munmap(memory, kFaultGuardStackSize);
            return;
        }
        m_memory = memory;
    }
    ~AlternateStack()
    {
        if (!m_memory)
            return;
        m_previous.ss_flags &= ~SS_ONSTACK;
        if (m_previous.ss_sp == nullptr || (m_previous.ss_flags & SS_DISABLE)) {
            stack_t off{};
            off.ss_flags = SS_DISABLE;
            sigaltstack(&off, nullptr);
        } else {
            sigaltstack(&m_previous, nullptr);
        }
        munmap(m_memory, kFaultGuardStackSize);
    }
    AlternateStack(const AlternateStack&) = delete;
    AlternateStack& operator=(const AlternateStack&) = delete;

private:
    void* m_memory = nullptr;
    stack_t m_previous{};
};

// Everything a guarded call changes, undone on every way out: return, fault, or exception.
class GuardScope {
public:
    explicit GuardScope(Frame& frame) : m_frame(frame)
    {
        frame.outer = t_frame;
        installHandlers();
        t_frame = &frame;
    }
    ~GuardScope()
    {
        m_frame.taking = 1;
        restoreHandlers();
        t_frame = m_frame.outer;
    }
    GuardScope(const GuardScope&) = delete;
    GuardScope& operator=(const GuardScope&) = delete;

private:
    Frame& m_frame;
};

} // namespace

bool runGuarded(void (*body)(void* context), void* context, CaughtFault* fault)
{
    Frame frame;
    AlternateStack stack;
    volatile bool returned = false;
    {
        GuardScope scope(frame);
        if (sigsetjmp(frame.jump, 1) == 0) {
            body(context);
            returned = true;
        }
    }
    if (!returned && fault)
        *fault = frame.fault;
    return returned;
}

} // namespace platform
