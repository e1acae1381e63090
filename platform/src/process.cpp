#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>

#include <elf.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

std::optional<std::string> g_releaseOverride;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Pointers into `arguments` for exec; the strings must outlive them.
std::vector<char*> argumentVector(std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    return argv;
}

pid_t waitForChild(pid_t child, int& status)
{
    pid_t result;
    do
        result = waitpid(child, &status, 0);
    while (result < 0 && errno == EINTR);
    return result;
}

// Exit status as the hand-over reads it: 255 (a crash reported by the program itself, whose
// -1 arrives as 255) and death by a signal are both -1.
int exitCode(int status)
{
    if (WIFEXITED(status)) {
        const int code = WEXITSTATUS(status);
        return code == 255 ? -1 : code;
    }
    errno = 0;
    return -1;
}

} // namespace

std::string quoteArgument(const std::string& text)
{
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    for (char c : text)
        if (c != '"')
            quoted += c;
    quoted += '"';
    return quoted;
}

std::vector<std::string> splitCommandLine(const std::string& commandLine)
{
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool inQuotes = false;
    for (char c : commandLine) {
        if (c == '"') {
            inQuotes = !inQuotes;
            inArgument = true;
        } else if (isBlank(c) && !inQuotes) {
            if (inArgument)
                arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.push_back(std::move(current));
    return arguments;
}

int runProcessAndWait(const std::string& program, const std::string& commandLine,
                      const std::vector<int>& inheritedDescriptors)
{
    std::vector<std::string> arguments = splitCommandLine(commandLine);
    std::vector<char*> argv = argumentVector(arguments);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int error = posix_spawn_file_actions_init(&actions);
    if (error != 0) {
        errno = error;
        return -1;
    }
    error = posix_spawnattr_init(&attributes);
    if (error != 0) {
        posix_spawn_file_actions_destroy(&actions);
        errno = error;
        return -1;
    }
    // Duplicating a descriptor onto itself clears its close-on-exec flag in the child only.
    for (int fd : inheritedDescriptors)
        if (error == 0)
            error = posix_spawn_file_actions_adddup2(&actions, fd, fd);

    sigset_t emptyMask;
    sigset_t allSignals;
    sigemptyset(&emptyMask);
    sigfillset(&allSignals);
    if (error == 0)
        error = posix_spawnattr_setsigmask(&attributes, &emptyMask);
    if (error == 0)
        error = posix_spawnattr_setsigdefault(&attributes, &allSignals);
    if (error == 0)
        error = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t child = -1;
    if (error == 0)
        error = posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        errno = error;
        return -1;
    }

    int status = 0;
    if (waitForChild(child, status) < 0)
        return -1;
    return exitCode(status);
}

bool startDetachedProcess(const std::string& program, const std::string& commandLine)
{
    // Everything the children need is prepared here: after fork only async-signal-safe
    // calls are made, since the host may run other threads.
    std::vector<std::string> arguments = splitCommandLine(commandLine);
    std::vector<char*> argv = argumentVector(arguments);
    const char* path = program.c_str();
    sigset_t emptyMask;
    sigset_t allSignals;
    sigemptyset(&emptyMask);
    sigfillset(&allSignals);
    struct sigaction defaultAction;
    std::memset(&defaultAction, 0, sizeof defaultAction);
    defaultAction.sa_handler = SIG_DFL;

    // The program's start is reported through a close-on-exec pipe: end of file means exec
    // succeeded, an int is the errno of a failure.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return false;

    const pid_t intermediate = fork();
    if (intermediate < 0) {
        const int error = errno;
        close(report[0]);
        close(report[1]);
        errno = error;
        return false;
    }
    if (intermediate == 0) {
        close(report[0]);
        // Default actions before unblocking, so that no host handler runs in this copy.
        for (int sig = 1; sig < NSIG; ++sig)
            if (sigismember(&allSignals, sig) == 1)
                sigaction(sig, &defaultAction, nullptr);
        sigprocmask(SIG_SETMASK, &emptyMask, nullptr);
        const pid_t grandchild = fork();
        if (grandchild == 0)
            execve(path, argv.data(), environ);
        if (grandchild > 0)
            _exit(0);
        // Only a failed fork or a failed exec gets here.
        const int error = errno;
        ssize_t written;
        do
            written = write(report[1], &error, sizeof error);
        while (written < 0 && errno == EINTR);
        _exit(127);
    }

    close(report[1]);
    // The pipe alone tells the outcome: a host that ignores SIGCHLD has its children reaped
    // by the system, and then the wait fails although the start succeeded.
    int status = 0;
    waitForChild(intermediate, status);
    int childError = 0;
    ssize_t got;
    do
        got = read(report[0], &childError, sizeof childError);
    while (got < 0 && errno == EINTR);
    const int readError = errno;
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof childError)) {
        errno = childError;
        return false;
    }
    if (got < 0) {
        errno = readError;
        return false;
    }
    return true;
}

bool isExecutableProgram(const std::string& path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    if (access(path.c_str(), X_OK) != 0)
        return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // e_ident and e_type sit at the same offsets in both classes.
    unsigned char header[EI_NIDENT + 2];
    ssize_t got;
    do
        got = read(fd, header, sizeof header);
    while (got < 0 && errno == EINTR);
    close(fd);
    if (got != static_cast<ssize_t>(sizeof header))
        return false;
    if (std::memcmp(header, ELFMAG, SELFMAG) != 0)
        return false;
    if (header[EI_CLASS] != ELFCLASS32 && header[EI_CLASS] != ELFCLASS64)
        return false;
    unsigned type;
    if (header[EI_DATA] == ELFDATA2LSB)
        type = header[EI_NIDENT] | (header[EI_NIDENT + 1] << 8);
    else if (header[EI_DATA] == ELFDATA2MSB)
        type = (header[EI_NIDENT] << 8) | header[EI_NIDENT + 1];
    else
        return false;
    return type == ET_EXEC || type == ET_DYN;
}

int osMajorVersion()
{
    std::string release;
    if (g_releaseOverride) {
        release = *g_releaseOverride;
    } else {
        struct utsname name;
        if (uname(&name) != 0)
            return -1;
        release = name.release;
    }
    int major = 0;
    std::size_t i = 0;
    for (; i < release.size() && release[i] >= '0' && release[i] <= '9'; ++i) {
        major = major * 10 + (release[i] - '0');
        if (major > 100000)
            return -1;
    }
    return i == 0 ? -1 : major;
}

void setOsReleaseOverride(const char* release)
{
    if (release)
        g_releaseOverride = std::string(release);
    else
        g_releaseOverride.reset();
}

} // namespace platform
