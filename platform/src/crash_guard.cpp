#include "platform/crash_guard.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

constexpr std::size_t pathBufferSize = PATH_MAX;
// Room for the handler itself, backtrace() and the sanitizers' instrumented frames.
constexpr std::size_t alternateStackSize = 256 * 1024;
constexpr int guardedSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

char g_installDirectory[pathBufferSize];
char g_dumpPath[pathBufferSize];
char g_messageProgram[pathBufferSize];
const char* g_messageWithDump = "The program has encountered a problem and is exiting.\n";
const char* g_messageWithoutDump = "The program has encountered a problem and is exiting.\n";
void (*g_probe)() = nullptr;
// Thread id of the thread handling a crash; 0 while none is.
std::atomic<long> g_handlingThread{0};

bool copyPath(char* buffer, const char* text)
{
    const std::size_t length = text ? std::strlen(text) : 0;
    if (length >= pathBufferSize) {
        buffer[0] = '\0';
        return false;
    }
    std::memcpy(buffer, text ? text : "", length + 1);
    return true;
}

void findInstallDirectory()
{
    char path[pathBufferSize] = {};
    Dl_info info;
    const char* name = nullptr;
    if (dladdr(reinterpret_cast<void*>(&findInstallDirectory), &info) && info.dli_fname)
        name = info.dli_fname;
    // For the program itself dladdr gives argv[0], which may be a bare name found on the
    // search path; the kernel's link gives the real file.
    if (name && std::strchr(name, '/')) {
        if (!realpath(name, path))
            path[0] = '\0';
    }
    if (!path[0]) {
        const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
        if (length <= 0 || std::size_t(length) >= sizeof path)
            return;
        path[length] = '\0';
    }
    char* slash = std::strrchr(path, '/');
    if (!slash)
        return;
    slash[1] = '\0';
    copyPath(g_installDirectory, path);
}

// Async-signal-safe output: whole writes, retried on interruption.
struct Output {
    int fd;
    bool ok = true;

    void bytes(const char* data, std::size_t length)
    {
        while (ok && length > 0) {
            const ssize_t written = ::write(fd, data, length);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                ok = false;
                return;
            }
            data += written;
            length -= std::size_t(written);
        }
    }
    void text(const char* s) { bytes(s, std::strlen(s)); }
    void decimal(std::int64_t value)
    {
        char digits[24];
        int n = 0;
        const bool negative = value < 0;
        std::uint64_t v = negative ? std::uint64_t(0) - std::uint64_t(value) : std::uint64_t(value);
        do {
            digits[n++] = char('0' + v % 10);
            v /= 10;
        } while (v);
        if (negative)
            digits[n++] = '-';
        char out[24];
        for (int i = 0; i < n; ++i)
            out[i] = digits[n - 1 - i];
        bytes(out, std::size_t(n));
    }
    void hex(std::uint64_t value)
    {
        char out[18] = {'0', 'x'};
        for (int i = 0; i < 16; ++i)
            out[2 + i] = "0123456789abcdef"[(value >> (60 - 4 * i)) & 0xf];
        bytes(out, sizeof out);
    }
};

void writeRegisters(Output& out, const void* context)
{
    out.text("registers:\n");
#if defined(__x86_64__)
    static const char* const names[NGREG] = {
        "r8",  "r9",  "r10", "r11", "r12", "r13",    "r14", "r15",    "rdi",    "rsi",     "rbp", "rbx",
        "rdx", "rax", "rcx", "rsp", "rip", "eflags", "csgsfs", "err", "trapno", "oldmask", "cr2"};
    const auto* uc = static_cast<const ucontext_t*>(context);
    for (int i = 0; i < NGREG; ++i) {
        out.text("  ");
        out.text(names[i]);
        out.text(" ");
        out.hex(std::uint64_t(uc->uc_mcontext.gregs[i]));
        out.text("\n");
    }
#elif defined(__aarch64__)
    const auto* uc = static_cast<const ucontext_t*>(context);
    for (int i = 0; i < 31; ++i) {
        out.text("  x");
        out.decimal(i);
        out.text(" ");
        out.hex(uc->uc_mcontext.regs[i]);
        out.text("\n");
    }
    out.text("  sp ");
    out.hex(uc->uc_mcontext.sp);
    out.text("\n  pc ");
    out.hex(uc->uc_mcontext.pc);
    out.text("\n");
#else
    (void)context;
    out.text("  (not recorded on this processor)\n");
#endif
}

void copyFileInto(Output& out, const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        out.text("(unreadable)\n");
        return;
    }
    char block[4096];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.bytes(block, std::size_t(n));
    }
    ::close(fd);
}

void writeDump(int signal, const siginfo_t* info, const void* context)
{
    const int fd = ::open(g_dumpPath, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    Output out{fd};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    out.text("crash dump 1\nsignal: ");
    out.text(crashSignalName(signal));
    out.text(" (");
    out.decimal(signal);
    out.text(")\ncode: ");
    out.decimal(info ? info->si_code : 0);
    out.text("\naddress: ");
    out.hex(info ? std::uint64_t(reinterpret_cast<std::uintptr_t>(info->si_addr)) : 0);
    out.text("\npid: ");
    out.decimal(getpid());
    out.text("\ntid: ");
    out.decimal(long(syscall(SYS_gettid)));
    out.text("\nstamp: ");
    out.decimal(now.tv_sec);
    const long milliseconds = now.tv_nsec / 1000000;
    out.text(milliseconds < 10 ? ".00" : milliseconds < 100 ? ".0" : ".");
    out.decimal(milliseconds);
    out.text(" s since 1970\n");
    writeRegisters(out, context);
    out.text("backtrace:\n");
    if (out.ok) {
        void* frames[64];
        const int count = backtrace(frames, 64);
        backtrace_symbols_fd(frames, count, fd);
    }
    out.text("maps:\n");
    copyFileInto(out, "/proc/self/maps");
    ::close(fd);
    // A partial dump would mislead whoever reads it.
    if (!out.ok)
        ::unlink(g_dumpPath);
}

void tellUser()
{
    const char* message = g_dumpPath[0] ? g_messageWithDump : g_messageWithoutDump;
    bool shown = false;
    if (g_messageProgram[0]) {
        const pid_t child = _Fork();
        if (child == 0) {
            char* const arguments[] = {g_messageProgram, const_cast<char*>(message), nullptr};
            execve(g_messageProgram, arguments, environ);
            _exit(127);
        }
        if (child > 0) {
            int status = 0;
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            shown = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
    }
    if (!shown) {
        Output err{STDERR_FILENO};
        err.text(message);
        const std::size_t length = std::strlen(message);
        if (length == 0 || message[length - 1] != '\n')
            err.text("\n");
    }
}

void crashHandler(int signal, siginfo_t* info, void* context)
{
    const long self = long(syscall(SYS_gettid));
    long expected = 0;
    if (!g_handlingThread.compare_exchange_strong(expected, self)) {
        if (expected == self) {
            // A crash inside the crash handling: the system's default ends the process.
            struct sigaction action {};
            action.sa_handler = SIG_DFL;
            sigemptyset(&action.sa_mask);
            sigaction(signal, &action, nullptr);
            raise(signal);
            return;
        }
        // Another thread is writing the dump and will end the process.
        for (;;)
            pause();
    }
    if (g_probe)
        g_probe();
    if (g_dumpPath[0])
        writeDump(signal, info, context);
    tellUser();
    _exit(255);
}

struct AlternateStack {
    void* memory = nullptr;

    ~AlternateStack()
    {
        if (!memory)
            return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(memory, alternateStackSize);
    }
};

thread_local AlternateStack t_alternateStack;

} // namespace

const char* installDirectory()
{
    static const bool found = (findInstallDirectory(), true);
    (void)found;
    return g_installDirectory;
}

bool setCrashDumpPath(const char* path)
{
    return copyPath(g_dumpPath, path);
}

bool setCrashMessageProgram(const char* fileName)
{
    const char* folder = installDirectory();
    g_messageProgram[0] = '\0';
    if (!folder[0] || !fileName)
        return false;
    const std::size_t folderLength = std::strlen(folder);
    const std::size_t nameLength = std::strlen(fileName);
    if (folderLength + nameLength >= pathBufferSize)
        return false;
    std::memcpy(g_messageProgram, folder, folderLength);
    std::memcpy(g_messageProgram + folderLength, fileName, nameLength + 1);
    return true;
}

void setCrashMessages(const char* withDump, const char* withoutDump)
{
    g_messageWithDump = withDump;
    g_messageWithoutDump = withoutDump;
}

void setCrashHandlerProbe(void (*probe)())
{
    g_probe = probe;
}

void prepareThreadForCrashes()
{
    if (t_alternateStack.memory)
        return;
    void* memory = mmap(nullptr, alternateStackSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED)
        return;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = alternateStackSize;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(memory, alternateStackSize);
        return;
    }
    t_alternateStack.memory = memory;
}

void armCrashGuard()
{
    installDirectory();
    prepareThreadForCrashes();
    void* frames[4];
    backtrace(frames, 4);
    struct sigaction action {};
    action.sa_sigaction = &crashHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : guardedSignals)
        sigaction(signal, &action, nullptr);
}

const char* crashSignalName(int signal)
{
    switch (signal) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "signal";
    }
}

} // namespace platform
