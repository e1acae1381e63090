// The application's executable from its system-scope settings file, read the way the
// application's settings write it.
#include "platform/settings_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kplatform-conf-XXXXXX";
        const char* made = mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        m_folder = made;
        const char* previous = std::getenv("XDG_CONFIG_DIRS");
        m_hadPrevious = previous != nullptr;
        if (previous)
            m_previous = previous;
        setenv("XDG_CONFIG_DIRS", (m_folder + ":/etc/xdg").c_str(), 1);
    }
    void TearDown() override
    {
        if (m_hadPrevious)
            setenv("XDG_CONFIG_DIRS", m_previous.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_DIRS");
        std::system(("rm -rf '" + m_folder + "'").c_str());
    }

    void writeConf(const std::string& content)
    {
        mkdir((m_folder + "/OrlenthTech").c_str(), 0755);
        std::ofstream(m_folder + "/OrlenthTech/Kestrine3.conf", std::ios::binary) << content;
    }

    // The value of "Exe" when it is found as a string; "<code>" otherwise.
    std::string exe(const std::string& content)
    {
        writeConf(content);
        const platform::SettingLookup lookup = platform::applicationExecutableSetting();
        if (lookup.foundString())
            return lookup.value;
        return "<" + std::to_string(lookup.code) + (lookup.code == 0 && !lookup.isString ? " not a string" : "") + ">";
    }

    std::string m_folder;
    std::string m_previous;
    bool m_hadPrevious = false;
};

} // namespace

TEST_F(SettingsFileTest, FileInTheFirstConfigFolder)
{
    EXPECT_EQ(platform::applicationSystemSettingsPath(), m_folder + "/OrlenthTech/Kestrine3.conf");
    setenv("XDG_CONFIG_DIRS", "", 1);
    EXPECT_EQ(platform::systemConfigFolder(), "/etc/xdg");
    unsetenv("XDG_CONFIG_DIRS");
    EXPECT_EQ(platform::applicationSystemSettingsPath(), "/etc/xdg/OrlenthTech/Kestrine3.conf");
    setenv("XDG_CONFIG_DIRS", "/opt/conf/", 1);
    EXPECT_EQ(platform::applicationSystemSettingsPath(), "/opt/conf/OrlenthTech/Kestrine3.conf");
}

TEST_F(SettingsFileTest, MissingFileOrKey)
{
    const platform::SettingLookup none = platform::applicationExecutableSetting();
    EXPECT_EQ(none.code, platform::kSettingMissing);
    EXPECT_FALSE(none.foundString());
    EXPECT_EQ(exe(""), "<2>");
    EXPECT_EQ(exe("Other=/usr/bin/x\nexe=/lower/case\n"), "<2>");
    EXPECT_EQ(exe("[Paths]\nExe=/in/a/group\n"), "<2>");
    // A group really named "General" is written escaped; it is not the top level.
    EXPECT_EQ(exe("[%General]\nExe=/in/a/group\n"), "<2>");
    EXPECT_EQ(exe("; Exe=/commented\n# Exe=/commented\n"), "<2>");
}

TEST_F(SettingsFileTest, PlainAndQuotedStrings)
{
    EXPECT_EQ(exe("Exe=/opt/kestrine3/bin/kestrine3\n"), "/opt/kestrine3/bin/kestrine3");
    EXPECT_EQ(exe("[General]\nExe = /usr/bin/k3   \r\n"), "/usr/bin/k3");
    EXPECT_EQ(exe("[Paths]\nExe=/no\n[General]\nExe=/yes"), "/yes");
    EXPECT_EQ(exe("Exe=\"/opt/My Apps/k3 \"\n"), "/opt/My Apps/k3 ");
    EXPECT_EQ(exe("Exe=\"/opt/a,b;c=d\"\n"), "/opt/a,b;c=d");
    EXPECT_EQ(exe("Exe=/opt/k3 ; installed by hand\n"), "/opt/k3");
    EXPECT_EQ(exe("Exe=C:\\\\Tools\\\\k3\\x00e9\\t\\\"q\\\"\n"), "C:\\Tools\\k3\xC3\xA9\t\"q\"");
    EXPECT_EQ(exe("Exe=/opt/\\\nk3\n"), "/opt/k3");
    EXPECT_EQ(exe("Ex%65=/escaped/key\n"), "/escaped/key");
    // The last entry of the key wins.
    EXPECT_EQ(exe("Exe=/first\nExe=/second\n"), "/second");
    EXPECT_EQ(exe("Exe=\n"), "");
}

TEST_F(SettingsFileTest, StoredTypesOtherThanTextFail)
{
    EXPECT_EQ(exe("Exe=/a, /b\n"), "<0 not a string>");
    EXPECT_EQ(exe("Exe=@Variant(\\0\\0\\0\\x7f)\n"), "<0 not a string>");
    EXPECT_EQ(exe("Exe=@Invalid()\n"), "<0 not a string>");
    EXPECT_EQ(exe("Exe=@Rect(0 0 1 1)\n"), "<0 not a string>");
    EXPECT_EQ(exe("Exe=@ByteArray(/opt/k3)\n"), "/opt/k3");
    EXPECT_EQ(exe("Exe=@@home/k3\n"), "@home/k3");
    EXPECT_EQ(exe("Exe=@Unknown(x)\n"), "@Unknown(x)");
}

TEST_F(SettingsFileTest, ValueAndNulMustFitTheBuffer)
{
    const std::string fits(259, 'a');
    EXPECT_EQ(exe("Exe=" + fits + "\n"), fits);
    EXPECT_EQ(exe("Exe=" + fits + "b\n"), "<234>");
    const platform::SettingLookup lookup = platform::readSettingsValue(
        m_folder + "/OrlenthTech/Kestrine3.conf", "Exe", 260);
    EXPECT_EQ(lookup.code, platform::kSettingTooLong);
    EXPECT_TRUE(lookup.value.empty());
    // An escape counts by the bytes it stands for.
    EXPECT_EQ(exe("Exe=" + std::string(258, 'a') + "\\x00e9\n"), "<234>");
}

TEST_F(SettingsFileTest, UnreadableFile)
{
    writeConf("Exe=/opt/k3\n");
    const std::string path = m_folder + "/OrlenthTech/Kestrine3.conf";
    chmod(path.c_str(), 0);
    if (access(path.c_str(), R_OK) == 0)
        GTEST_SKIP() << "running with permission to read anything";
    EXPECT_EQ(platform::applicationExecutableSetting().code, platform::kSettingUnreadable);
}
