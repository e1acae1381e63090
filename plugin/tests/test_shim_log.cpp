// The plug-in's log: its file name, first line and line prefix, the notices on the standard
// error stream, and a missing folder that costs nothing but the log.
#include "tunnelry/shim_log.h"

#include "platform/host_ui.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono;

// 2026-12-08 05:45:43.007 UTC.
system_clock::time_point fixedTime()
{
    return system_clock::time_point(seconds(1796708743)) + milliseconds(7);
}

std::vector<std::string> linesOf(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line))
        lines.push_back(line);
    return lines;
}

// '9' stands for one digit, '*' for one to three digits; everything else matches itself.
bool matchesShape(const std::string& text, const std::string& shape)
{
    std::size_t t = 0;
    for (char c : shape) {
        const auto digit = [&] { return t < text.size() && text[t] >= '0' && text[t] <= '9'; };
        if (c == '9' || c == '*') {
            if (!digit())
                return false;
            ++t;
            for (int extra = 0; c == '*' && extra < 2 && digit(); ++extra)
                ++t;
        } else if (t >= text.size() || text[t++] != c) {
            return false;
        }
    }
    return t == text.size();
}

class ShimLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tunnelry-log-XXXXXX";
        const char* made = mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        m_folder = made;
        setenv("TMPDIR", m_folder.c_str(), 1);
        setenv("TZ", "UTC", 1);
        tzset();
        ShimLog::setClock(&fixedTime);
    }
    void TearDown() override
    {
        delete ShimLog::instance();
        ShimLog::setClock(nullptr);
        unsetenv("TMPDIR");
        std::system(("rm -rf '" + m_folder + "'").c_str());
    }

    std::string logFolder() const { return m_folder + "/Kestrine3"; }
    void makeLogFolder() const { mkdir(logFolder().c_str(), 0700); }

    std::string m_folder;
};

} // namespace

TEST_F(ShimLogTest, NameFirstLineAndNotices)
{
    makeLogFolder();
    const std::string expected = logFolder() + "/2026.12.08_05.45.43.7-shim.txt";

    testing::internal::CaptureStderr();
    new ShimLog;
    const std::string notices = testing::internal::GetCapturedStderr();

    ASSERT_NE(ShimLog::instance(), nullptr);
    EXPECT_EQ(ShimLog::path(), expected);
    EXPECT_EQ(notices, "Log file is [" + expected + "]\nKLOG:5:45:43.7: " + expected + "\n");

    LogLine() << "PluginMain, begins with selector = " << 3 << ", *result = " << -50;
    // Flushed line by line: readable while the log is still open.
    EXPECT_EQ(linesOf(expected), (std::vector<std::string>{"5:45:43.7: " + expected,
                                                           "5:45:43.7: PluginMain, begins with selector = 3, *result = -50"}));
    ShimLog::instance()->stream() << "by hand";
    ShimLog::instance()->flush();
    EXPECT_EQ(linesOf(expected).back(), "5:45:43.7: by hand");

    testing::internal::CaptureStderr();
    ShimLog::close();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Closing logfile\n");
    EXPECT_EQ(ShimLog::instance(), nullptr);
    EXPECT_EQ(ShimLog::path(), expected);
    LogLine() << "after close"; // dropped, no log
    EXPECT_EQ(linesOf(expected).size(), 3u);
}

TEST_F(ShimLogTest, FieldsHaveNoLeadingZerosInLinesButTwoDigitsInNames)
{
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 2;
    t.tm_hour = 0;
    t.tm_min = 5;
    t.tm_sec = 9;
    EXPECT_EQ(ShimLog::linePrefix(t, 0), "0:5:9.0: ");
    EXPECT_EQ(ShimLog::linePrefix(t, 45), "0:5:9.45: ");
    EXPECT_EQ(ShimLog::fileName(t, 0), "2026.01.02_00.05.09.0-shim.txt");
    EXPECT_EQ(ShimLog::fileName(t, 999), "2026.01.02_00.05.09.999-shim.txt");
    t.tm_hour = 23;
    t.tm_min = 59;
    t.tm_sec = 60; // a leap second
    EXPECT_EQ(ShimLog::linePrefix(t, 999), "23:59:60.999: ");
}

TEST_F(ShimLogTest, RealClockGivesMatchingNameAndPrefix)
{
    makeLogFolder();
    ShimLog::setClock(nullptr);
    testing::internal::CaptureStderr();
    new ShimLog;
    testing::internal::GetCapturedStderr();
    LogLine() << "x";
    const std::string name = ShimLog::path().substr(logFolder().size() + 1);
    EXPECT_TRUE(matchesShape(name, "9999.99.99_99.99.99.*-shim.txt")) << name;
    const std::vector<std::string> lines = linesOf(ShimLog::path());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(matchesShape(lines[1], "*:*:*.*: x")) << lines[1];
}

TEST_F(ShimLogTest, MissingFolderIsReportedAndIgnored)
{
    const std::string expected = logFolder() + "/2026.12.08_05.45.43.7-shim.txt";
    testing::internal::CaptureStderr();
    new ShimLog;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Could not establish logger: Failed to open output stream " + expected + "\n");
    ASSERT_NE(ShimLog::instance(), nullptr);
    EXPECT_EQ(ShimLog::path(), expected);
    for (int i = 0; i < 1000; ++i)
        LogLine() << "line " << i << " goes nowhere";
    struct stat info;
    EXPECT_NE(stat(logFolder().c_str(), &info), 0) << "the log folder is the application's to create";
    testing::internal::CaptureStderr();
    ShimLog::close();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Closing logfile\n");
}

TEST_F(ShimLogTest, SameSecondReplacesTheEarlierFile)
{
    makeLogFolder();
    testing::internal::CaptureStderr();
    new ShimLog;
    LogLine() << "first run";
    ShimLog::close();
    new ShimLog;
    LogLine() << "second run";
    ShimLog::close();
    testing::internal::GetCapturedStderr();
    const std::vector<std::string> lines = linesOf(ShimLog::path());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "5:45:43.7: second run");
}

TEST_F(ShimLogTest, LogFileIsNotInheritedByStartedPrograms)
{
    makeLogFolder();
    testing::internal::CaptureStderr();
    new ShimLog;
    testing::internal::GetCapturedStderr();
    int found = 0;
    DIR* fds = opendir("/proc/self/fd");
    ASSERT_NE(fds, nullptr);
    while (dirent* entry = readdir(fds)) {
        char target[4096];
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        if (length <= 0 || std::string(target, std::size_t(length)) != ShimLog::path())
            continue;
        ++found;
        EXPECT_TRUE(fcntl(std::atoi(entry->d_name), F_GETFD) & FD_CLOEXEC);
    }
    closedir(fds);
    EXPECT_EQ(found, 1);
}

TEST_F(ShimLogTest, DefaultMessageSinkWritesStderrAndTheLog)
{
    makeLogFolder();
    testing::internal::CaptureStderr();
    new ShimLog;
    platform::messageSink().showMessage("Kestrine", "requires an alpha channel", platform::MessageIcon::Error);
    const std::string notices = testing::internal::GetCapturedStderr();
    EXPECT_NE(notices.find("Kestrine (error): requires an alpha channel\n"), std::string::npos) << notices;
    EXPECT_EQ(linesOf(ShimLog::path()).back(), "5:45:43.7: Kestrine (error): requires an alpha channel");

    // Without a log the sink still answers.
    delete ShimLog::instance();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(platform::messageSink().showMessage("Kestrine 3", "text", platform::MessageIcon::Information));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Kestrine 3: text\n");
}

TEST_F(ShimLogTest, TemporaryDirectoryFollowsQtsRule)
{
    setenv("TMPDIR", "/var//tmp/./x/../y/", 1);
    EXPECT_EQ(ShimLog::temporaryDirectory(), "/var/tmp/y");
    setenv("TMPDIR", "", 1);
    EXPECT_EQ(ShimLog::temporaryDirectory(), "/tmp");
    unsetenv("TMPDIR");
    EXPECT_EQ(ShimLog::temporaryDirectory(), "/tmp");
    setenv("TMPDIR", "/", 1);
    EXPECT_EQ(ShimLog::temporaryDirectory(), "/");
}
