// Starting programs: the command line rule, exit codes, what the child inherits, starting
// without waiting, and the checks made before a start.
#include "platform/process.h"
#include "platform/shared_memory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Arguments = std::vector<std::string>;

std::string joined(const Arguments& arguments)
{
    std::string line;
    for (const std::string& argument : arguments)
        line += (line.empty() ? "" : " ") + platform::quoteArgument(argument);
    return line;
}

int runShell(const std::string& script, const std::vector<int>& inherited = {})
{
    return platform::runProcessAndWait("/bin/sh", joined({"sh", "-c", script}), inherited);
}

class TempFolder {
public:
    TempFolder()
    {
        char pattern[] = "/tmp/kplatform-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made)
            m_path = made;
    }
    ~TempFolder()
    {
        if (!m_path.empty())
            std::system(("rm -rf '" + m_path + "'").c_str());
    }
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name, const std::string& content, mode_t mode) const
    {
        const std::string path = m_path + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        chmod(path.c_str(), mode);
        return path;
    }

private:
    std::string m_path;
};

bool hasChildren()
{
    int status;
    return !(waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD);
}

} // namespace

TEST(CommandLine, QuotingDropsQuotesAndWraps)
{
    EXPECT_EQ(platform::quoteArgument("My \"best\" shot"), "\"My best shot\"");
    EXPECT_EQ(platform::quoteArgument(""), "\"\"");
    EXPECT_EQ(platform::quoteArgument("\"\""), "\"\"");
}

TEST(CommandLine, SplitIsTheInverseOfQuotedJoin)
{
    const std::vector<Arguments> cases = {
        {"a"},
        {"", ""},
        {"two words", "", "tab\there", "  padded  "},
        {"/path with blanks/prog", "--about"},
        {"unicode \xC3\xA9t\xC3\xA9", "back\\slash\\", "semi;colon", "x=1,y=2"},
    };
    for (const Arguments& arguments : cases)
        EXPECT_EQ(platform::splitCommandLine(joined(arguments)), arguments) << joined(arguments);
}

TEST(CommandLine, SplitRule)
{
    EXPECT_EQ(platform::splitCommandLine(""), Arguments{});
    EXPECT_EQ(platform::splitCommandLine("  \t "), Arguments{});
    EXPECT_EQ(platform::splitCommandLine(" a  b\tc "), (Arguments{"a", "b", "c"}));
    // Quotes group within an argument and are dropped; there are no escapes.
    EXPECT_EQ(platform::splitCommandLine("a\"b c\"d e"), (Arguments{"ab cd", "e"}));
    EXPECT_EQ(platform::splitCommandLine("x \"\" y"), (Arguments{"x", "", "y"}));
    EXPECT_EQ(platform::splitCommandLine("\\\"a b\\\""), (Arguments{"\\a b\\"}));
    // An unterminated quote runs to the end.
    EXPECT_EQ(platform::splitCommandLine("a \"b c"), (Arguments{"a", "b c"}));
}

TEST(ProcessStart, ExitCodesArriveAndCrashesReadAsMinusOne)
{
    for (int code : {0, 1, 2, 12, 254})
        EXPECT_EQ(runShell("exit " + std::to_string(code)), code);
    EXPECT_EQ(runShell("exit 255"), -1);
    EXPECT_EQ(runShell("kill -SEGV $$"), -1);
}

TEST(ProcessStart, MissingProgramFailsWithErrno)
{
    errno = 0;
    EXPECT_EQ(platform::runProcessAndWait("/nonexistent/program", "\"x\"", {}), -1);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_FALSE(platform::startDetachedProcess("/nonexistent/program", "\"x\""));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(hasChildren());
}

TEST(ProcessStart, ChildGetsEmptyMaskAndDefaultActions)
{
    sigset_t blockTerm;
    sigset_t previousMask;
    sigemptyset(&blockTerm);
    sigaddset(&blockTerm, SIGTERM);
    ASSERT_EQ(sigprocmask(SIG_BLOCK, &blockTerm, &previousMask), 0);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previousInt;
    ASSERT_EQ(sigaction(SIGINT, &ignore, &previousInt), 0);

    // Blocked or ignored in the child, either signal would let the shell reach "exit 0".
    const int term = runShell("kill -TERM $$; exit 0");
    const int interrupt = runShell("kill -INT $$; exit 0");

    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    sigaction(SIGINT, &previousInt, nullptr);
    EXPECT_EQ(term, -1);
    EXPECT_EQ(interrupt, -1);
}

TEST(ProcessStart, OnlyListedDescriptorsAreHandedOver)
{
    const platform::SharedMemoryHandle listed = platform::createSharedMemory(100);
    const platform::SharedMemoryHandle unlisted = platform::createSharedMemory(100);
    ASSERT_NE(listed, platform::kNoSharedMemory);
    ASSERT_NE(unlisted, platform::kNoSharedMemory);
    const auto probe = [](platform::SharedMemoryHandle fd) {
        return "if [ -e /proc/$$/fd/" + std::to_string(fd) + " ]; then exit 3; else exit 4; fi";
    };
    EXPECT_EQ(runShell(probe(listed), {int(listed)}), 3);
    EXPECT_EQ(runShell(probe(unlisted), {int(listed)}), 4);
    // The parent's descriptor keeps its close-on-exec flag.
    EXPECT_TRUE(fcntl(int(listed), F_GETFD) & FD_CLOEXEC);
    platform::closeSharedMemory(listed);
    platform::closeSharedMemory(unlisted);
}

TEST(ProcessStart, DetachedStartReturnsAtOnceAndLeavesNoZombie)
{
    TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const std::string release = folder.path() + "/release";
    const std::string done = folder.path() + "/done";
    const std::string script =
        "i=0; while [ ! -e '" + release + "' ] && [ $i -lt 3000 ]; do sleep 0.01; i=$((i+1)); done; echo > '" + done + "'";
    ASSERT_TRUE(platform::startDetachedProcess("/bin/sh", joined({"sh", "-c", script})));
    EXPECT_FALSE(hasChildren());
    EXPECT_NE(access(done.c_str(), F_OK), 0);

    std::ofstream(release) << "go";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (access(done.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(access(done.c_str(), F_OK), 0);
}

TEST(ExecutableCheck, AcceptsElfProgramsOnly)
{
    TempFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const auto elf = [](unsigned char elfClass, unsigned char data, unsigned type) {
        std::string header("\x7F" "ELF", 4);
        header += char(elfClass);
        header += char(data);
        header += std::string(10, '\1');
        header += data == 2 ? char(type >> 8) : char(type & 0xFF);
        header += data == 2 ? char(type & 0xFF) : char(type >> 8);
        return header + std::string(40, '\0');
    };
    EXPECT_TRUE(platform::isExecutableProgram("/bin/sh"));
    EXPECT_TRUE(platform::isExecutableProgram(folder.file("exec64", elf(2, 1, 2), 0755)));
    EXPECT_TRUE(platform::isExecutableProgram(folder.file("dyn32", elf(1, 1, 3), 0755)));
    EXPECT_TRUE(platform::isExecutableProgram(folder.file("big", elf(2, 2, 3), 0755)));

    EXPECT_FALSE(platform::isExecutableProgram(folder.file("script", "#!/bin/sh\nexit 0\n", 0755)));
    EXPECT_FALSE(platform::isExecutableProgram(folder.file("object", elf(2, 1, 1), 0755)));
    EXPECT_FALSE(platform::isExecutableProgram(folder.file("core", elf(2, 1, 4), 0755)));
    EXPECT_FALSE(platform::isExecutableProgram(folder.file("class3", elf(3, 1, 2), 0755)));
    EXPECT_FALSE(platform::isExecutableProgram(folder.file("short", std::string("\x7F" "ELF\2\1", 6), 0755)));
    EXPECT_FALSE(platform::isExecutableProgram(folder.path()));
    EXPECT_FALSE(platform::isExecutableProgram(folder.path() + "/missing"));
    EXPECT_FALSE(platform::isExecutableProgram(""));
    EXPECT_FALSE(platform::isExecutableProgram(folder.file("noexec", elf(2, 1, 2), 0644)));
}

TEST(OsVersion, MajorNumberOfTheRelease)
{
    EXPECT_GE(platform::osMajorVersion(), 1);
    platform::setOsReleaseOverride("6.1.0-18-amd64");
    EXPECT_EQ(platform::osMajorVersion(), 6);
    platform::setOsReleaseOverride("4.19");
    EXPECT_EQ(platform::osMajorVersion(), 4);
    platform::setOsReleaseOverride("12");
    EXPECT_EQ(platform::osMajorVersion(), 12);
    platform::setOsReleaseOverride("");
    EXPECT_EQ(platform::osMajorVersion(), -1);
    platform::setOsReleaseOverride("v6.1");
    EXPECT_EQ(platform::osMajorVersion(), -1);
    platform::setOsReleaseOverride(nullptr);
    EXPECT_GE(platform::osMajorVersion(), 1);
}

TEST(ProcessStart, HostThatIgnoresChildSignals)
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous;
    ASSERT_EQ(sigaction(SIGCHLD, &ignore, &previous), 0);
    // The system reaps the children itself: a detached start still reports success...
    const bool detached = platform::startDetachedProcess("/bin/sh", joined({"sh", "-c", "exit 0"}));
    // ...while an exit code cannot be had, which is a failure, not a success.
    errno = 0;
    const int waited = runShell("exit 0");
    const int waitError = errno;
    sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_TRUE(detached);
    EXPECT_EQ(waited, -1);
    EXPECT_EQ(waitError, ECHILD);
}
