// The fault guard: real faults of each kind end the guarded call and nothing else, the
// earlier handlers and alternate stack come back on every way out, and faults that are not
// the guarded call's still reach the earlier handler.

#include "platform/fault_guard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};

std::atomic<int> g_hostSignal{0};
std::atomic<int> g_hostCalls{0};

void hostHandler(int signal, siginfo_t*, void*)
{
    g_hostSignal = signal;
    ++g_hostCalls;
}

// A host program's own handlers for the four signals and SIGABRT, and an alternate stack of
// its own; all put back when the test ends.
class FaultGuardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_hostSignal = 0;
        g_hostCalls = 0;
        struct sigaction host {};
        host.sa_sigaction = &hostHandler;
        host.sa_flags = SA_SIGINFO;
        sigemptyset(&host.sa_mask);
        for (int i = 0; i < 5; ++i)
            sigaction(signalAt(i), &host, &m_saved[i]);
        m_hostStack.ss_sp = m_hostStackMemory;
        m_hostStack.ss_size = sizeof m_hostStackMemory;
        ASSERT_EQ(sigaltstack(&m_hostStack, &m_savedStack), 0);
    }

    void TearDown() override
    {
        for (int i = 0; i < 5; ++i)
            sigaction(signalAt(i), &m_saved[i], nullptr);
        m_savedStack.ss_flags &= ~SS_ONSTACK;
        if (!m_savedStack.ss_sp)
            m_savedStack.ss_flags = SS_DISABLE;
        sigaltstack(&m_savedStack, nullptr);
    }

    static int signalAt(int i) { return i < 4 ? kSignals[i] : SIGABRT; }

    static bool hostHandlerInstalled(int signal)
    {
        struct sigaction now {};
        sigaction(signal, nullptr, &now);
        return (now.sa_flags & SA_SIGINFO) && now.sa_sigaction == &hostHandler;
    }

    void expectHostStateBack() const
    {
        for (int i = 0; i < 5; ++i)
            EXPECT_TRUE(hostHandlerInstalled(signalAt(i))) << "signal " << signalAt(i);
        stack_t now{};
        sigaltstack(nullptr, &now);
        EXPECT_EQ(now.ss_sp, m_hostStack.ss_sp);
        EXPECT_EQ(now.ss_size, m_hostStack.ss_size);
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        for (const int signal : kSignals)
            EXPECT_FALSE(sigismember(&mask, signal)) << "signal " << signal << " left blocked";
    }

    struct sigaction m_saved[5] {};
    stack_t m_savedStack{};
    stack_t m_hostStack{};
    alignas(16) char m_hostStackMemory[64 * 1024];
};

template <typename F>
bool guarded(F&& body, platform::CaughtFault* fault = nullptr)
{
    return platform::runGuarded([](void* context) { (*static_cast<F*>(context))(); }, &body, fault);
}

void writeToProtectedPage()
{
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    static_cast<volatile char*>(page)[8] = 1;
    munmap(page, 4096);
}

void readPastEndOfFile()
{
    FILE* file = tmpfile();
    const long page = sysconf(_SC_PAGESIZE);
    ftruncate(fileno(file), 1);
    void* view = mmap(nullptr, size_t(page) * 2, PROT_READ, MAP_SHARED, fileno(file), 0);
    volatile char c = static_cast<volatile char*>(view)[page + 1];
    (void)c;
    munmap(view, size_t(page) * 2);
    fclose(file);
}

volatile int g_quotient;

[[maybe_unused]] void divideBy(volatile int divisor)
{
    g_quotient = 7 / divisor;
}

int recurse(int depth)
{
    volatile char frame[512];
    if (depth < 0)
        return 0;
    frame[depth % 512] = char(depth);
    return recurse(depth + 1) + frame[(depth * 7) % 512];
}

} // namespace

TEST_F(FaultGuardTest, CallThatReturnsLeavesTheHostAsItWas)
{
    bool ran = false;
    bool guardInstalled = false;
    stack_t inside{};
    EXPECT_TRUE(guarded([&] {
        ran = true;
        guardInstalled = !hostHandlerInstalled(SIGSEGV) && !hostHandlerInstalled(SIGILL)
                         && hostHandlerInstalled(SIGABRT);
        sigaltstack(nullptr, &inside);
    }));
    EXPECT_TRUE(ran);
    EXPECT_TRUE(guardInstalled);
    EXPECT_NE(inside.ss_sp, m_hostStack.ss_sp);
    EXPECT_EQ(inside.ss_size, platform::kFaultGuardStackSize);
    expectHostStateBack();
}

TEST_F(FaultGuardTest, EachKindOfFaultEndsOnlyTheCall)
{
    struct Case {
        const char* name;
        void (*fault)();
        int signal;
    };
    const Case cases[] = {
        {"write to a protected page", &writeToProtectedPage, SIGSEGV},
        {"read past the end of a mapped file", &readPastEndOfFile, SIGBUS},
        {"trap instruction", [] { __builtin_trap(); }, SIGILL},
// The undefined-behaviour sanitizer reports a division by zero before the processor can.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(__SANITIZE_ADDRESS__)
        {"integer division by zero", [] { divideBy(0); }, SIGFPE},
#else
        {"raised SIGFPE", [] { raise(SIGFPE); }, SIGFPE},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::CaughtFault fault;
        bool after = false;
        EXPECT_FALSE(guarded(
            [&] {
                c.fault();
                after = true;
            },
            &fault));
        EXPECT_FALSE(after);
        EXPECT_EQ(fault.signal, c.signal);
        EXPECT_EQ(g_hostCalls.load(), 0);
        expectHostStateBack();
    }
    // The guard still works after four faults.
    EXPECT_TRUE(guarded([] {}));
}

TEST_F(FaultGuardTest, StackOverflowIsCaughtOnTheGuardsOwnStack)
{
    // A small stack keeps the overflow quick.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    struct Result {
        bool returned = true;
        int signal = 0;
    } result;
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void* out) -> void* {
                      platform::CaughtFault fault;
                      auto* r = static_cast<Result*>(out);
                      r->returned = guarded([] { recurse(0); }, &fault);
                      r->signal = fault.signal;
                      return nullptr;
                  },
                  &result),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_FALSE(result.returned);
    EXPECT_EQ(result.signal, SIGSEGV);
    expectHostStateBack();
}

TEST_F(FaultGuardTest, FaultAddressIsReported)
{
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    platform::CaughtFault fault;
    EXPECT_FALSE(guarded([&] { static_cast<volatile char*>(page)[100] = 1; }, &fault));
    EXPECT_EQ(fault.address, reinterpret_cast<std::uintptr_t>(page) + 100);
    munmap(page, 4096);
}

TEST_F(FaultGuardTest, NestedCallsEachCatchTheirOwnFault)
{
    bool innerReturned = true;
    bool outerGuardAfterInner = false;
    platform::CaughtFault outer;
    EXPECT_FALSE(guarded(
        [&] {
            innerReturned = guarded([] { writeToProtectedPage(); });
            outerGuardAfterInner = !hostHandlerInstalled(SIGSEGV);
            __builtin_trap();
        },
        &outer));
    EXPECT_FALSE(innerReturned);
    EXPECT_TRUE(outerGuardAfterInner);
    EXPECT_EQ(outer.signal, SIGILL);
    expectHostStateBack();
}

TEST_F(FaultGuardTest, ExceptionLeavingTheCallStillRestoresTheHost)
{
    EXPECT_THROW(guarded([] { throw std::runtime_error("out"); }), std::runtime_error);
    expectHostStateBack();
}

TEST_F(FaultGuardTest, SignalsNotOfTheCallReachTheHostsHandler)
{
    // SIGABRT is never the guard's.
    EXPECT_TRUE(guarded([] { raise(SIGABRT); }));
    EXPECT_EQ(g_hostSignal.load(), SIGABRT);

    // A fault signal for another thread while a guarded call runs on this one.
    g_hostSignal = 0;
    const pthread_t self = pthread_self();
    (void)self;
    EXPECT_TRUE(guarded([] {
        std::thread other([] { pthread_kill(pthread_self(), SIGBUS); });
        other.join();
    }));
    EXPECT_EQ(g_hostSignal.load(), SIGBUS);
    expectHostStateBack();
}

TEST_F(FaultGuardTest, HostWithoutHandlersGetsTheDefaultsBack)
{
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    for (const int signal : kSignals)
        sigaction(signal, &defaults, nullptr);
    EXPECT_TRUE(guarded([] {}));
    for (const int signal : kSignals) {
        struct sigaction now {};
        sigaction(signal, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL) << "signal " << signal;
    }
}
