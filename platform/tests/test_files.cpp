// The private folder the program keeps its logs and dumps in, and the crash guard's buffers.
#include "platform/crash_guard.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class PrivateFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kplatform-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
    }
    void TearDown() override
    {
        const std::string command = "chmod -R u+rwx '" + m_root + "' && rm -rf '" + m_root + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    static mode_t modeOf(const std::string& path)
    {
        struct stat info;
        EXPECT_EQ(lstat(path.c_str(), &info), 0);
        return info.st_mode & 07777;
    }

    std::string m_root;
};

TEST_F(PrivateFolderTest, CreatesTheFolderAndMissingParentsOwnerOnly)
{
    const mode_t previous = umask(0);
    const std::string folder = m_root + "/a/b/logs";
    EXPECT_EQ(platform::makePrivateFolder(folder), platform::PrivateFolder::Ready);
    umask(previous);
    EXPECT_EQ(modeOf(m_root + "/a"), 0700u);
    EXPECT_EQ(modeOf(folder), 0700u);
    // A second start finds it ready.
    EXPECT_EQ(platform::makePrivateFolder(folder + "/"), platform::PrivateFolder::Ready);
}

TEST_F(PrivateFolderTest, RefusesFoldersOthersCanWriteInto)
{
    const std::string open = m_root + "/open";
    ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    EXPECT_EQ(platform::makePrivateFolder(open), platform::PrivateFolder::OpenToOthers);
    ASSERT_EQ(chmod(open.c_str(), 0770), 0);
    EXPECT_EQ(platform::makePrivateFolder(open), platform::PrivateFolder::OpenToOthers);
    // Readable by others is no risk to what we write.
    ASSERT_EQ(chmod(open.c_str(), 0755), 0);
    EXPECT_EQ(platform::makePrivateFolder(open), platform::PrivateFolder::Ready);
}

TEST_F(PrivateFolderTest, NeverFollowsALinkOrTakesAFile)
{
    const std::string target = m_root + "/target";
    ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    const std::string link = m_root + "/link";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(platform::makePrivateFolder(link), platform::PrivateFolder::NotAFolder);

    const std::string file = m_root + "/file";
    FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(platform::makePrivateFolder(file), platform::PrivateFolder::NotAFolder);
    EXPECT_EQ(platform::makePrivateFolder(file + "/below"), platform::PrivateFolder::CannotCreate);
}

TEST_F(PrivateFolderTest, ReportsAFolderItCannotMake)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "the superuser writes anywhere";
    const std::string locked = m_root + "/locked";
    ASSERT_EQ(mkdir(locked.c_str(), 0500), 0);
    EXPECT_EQ(platform::makePrivateFolder(locked + "/logs"), platform::PrivateFolder::CannotCreate);
    EXPECT_EQ(platform::makePrivateFolder(""), platform::PrivateFolder::CannotCreate);
}

TEST_F(PrivateFolderTest, BirthTimeIsRecentForANewFileOrUnknown)
{
    const std::string file = m_root + "/new.txt";
    FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    const auto born = platform::birthTime(file);
    if (born) {
        EXPECT_LE(std::llabs(*born - std::int64_t(std::time(nullptr))), 60);
    }
    EXPECT_FALSE(platform::birthTime(m_root + "/missing.txt"));
}

TEST(CrashGuardSetup, InstallDirectoryIsTheFolderOfThisProgram)
{
    const std::string folder = platform::installDirectory();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.front(), '/');
    EXPECT_EQ(folder.back(), '/');
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    EXPECT_EQ(std::string(self).rfind(folder, 0), 0u);
}

TEST(CrashGuardSetup, PathsThatDoNotFitAreRefusedNotShortened)
{
    EXPECT_TRUE(platform::setCrashDumpPath("/tmp/x.dmp"));
    EXPECT_FALSE(platform::setCrashDumpPath(std::string(PATH_MAX, 'a').c_str()));
    EXPECT_TRUE(platform::setCrashDumpPath(std::string(PATH_MAX - 1, 'a').c_str()));
    EXPECT_TRUE(platform::setCrashMessageProgram("crashbox"));
    EXPECT_FALSE(platform::setCrashMessageProgram(std::string(PATH_MAX, 'b').c_str()));
    EXPECT_STREQ(platform::crashSignalName(SIGFPE), "SIGFPE");
}

} // namespace
