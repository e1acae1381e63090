// The hand-over as the plug-in performs it: two mappings, the command line, the start with
// wait, and what the started program finds and hands back.
#include "fake_application.h"

#include "platform/handover.h"
#include "platform/process.h"
#include "platform/shared_memory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using platform::SharedMemoryHandle;
using Report = std::map<std::string, std::string>;

constexpr int kWidth = 64;
constexpr int kHeight = 48;

unsigned char pattern(std::size_t i)
{
    return static_cast<unsigned char>(i * 31 + 7 + i / 251);
}

class HandOverLaunchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/tunnelry-launch-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        m_report = m_folder + "/report.txt";
        setenv("FAKE_APP_REPORT", m_report.c_str(), 1);
        unsetenv("FAKE_APP_MODE");
        unsetenv("FAKE_APP_PROBE");
    }
    void TearDown() override
    {
        platform::closeSharedMemory(m_source);
        platform::closeSharedMemory(m_result);
        for (const char* name : {"FAKE_APP_REPORT", "FAKE_APP_MODE", "FAKE_APP_PROBE", "FAKE_APP_RELEASE"})
            unsetenv(name);
        std::system(("rm -rf '" + m_folder + "'").c_str());
    }

    // The plug-in's side of the set-up: source first, then result, the source filled and
    // copied into the result, both views gone and both handles kept.
    void openSession(unsigned bytesPerPixel, const std::vector<unsigned char>& pixels)
    {
        const std::uint64_t bytes = platform::handOverBytes(bytesPerPixel, kWidth, kHeight);
        ASSERT_EQ(pixels.size(), bytes);
        m_source = platform::createSharedMemory(bytes);
        ASSERT_NE(m_source, platform::kNoSharedMemory);
        platform::SharedMemoryView source(m_source);
        ASSERT_TRUE(source);
        m_result = platform::createSharedMemory(bytes);
        ASSERT_NE(m_result, platform::kNoSharedMemory);
        platform::SharedMemoryView result(m_result);
        ASSERT_TRUE(result);
        std::memcpy(source.data(), pixels.data(), pixels.size());
        std::memcpy(result.data(), source.data(), source.size());
    }

    void openPatternSession()
    {
        std::vector<unsigned char> pixels(std::size_t(kWidth) * kHeight * 4);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = pattern(i);
        openSession(4, pixels);
    }

    int launch(const std::string& title, int bits = 8)
    {
        return platform::runProcessAndWait(
            FAKE_APPLICATION, platform::handOverCommandLine(m_result, m_source, kWidth, kHeight, bits, title),
            {int(m_result), int(m_source)});
    }

    std::vector<unsigned char> contents(SharedMemoryHandle handle) const
    {
        platform::SharedMemoryView view(handle);
        return std::vector<unsigned char>(view.data(), view.data() + view.size());
    }

    Report report() const { return readFakeReport(m_report); }

    std::string m_folder;
    std::string m_report;
    SharedMemoryHandle m_source = platform::kNoSharedMemory;
    SharedMemoryHandle m_result = platform::kNoSharedMemory;
};

} // namespace

TEST_F(HandOverLaunchTest, ChildReceivesTheContract)
{
    openPatternSession();
    // A mapping the plug-in holds for itself must not reach the application.
    const SharedMemoryHandle unrelated = platform::createSharedMemory(4096);
    ASSERT_NE(unrelated, platform::kNoSharedMemory);
    setenv("FAKE_APP_PROBE", std::to_string(unrelated).c_str(), 1);

    EXPECT_EQ(launch("My \"best\" shot"), 0);
    platform::closeSharedMemory(unrelated);

    const Report r = report();
    ASSERT_EQ(r.count("ready"), 1u) << "the fake application did not finish its report";
    EXPECT_EQ(r.at("argc"), "9");
    const std::vector<std::string> expected = {"LaunchedBy Plugin he said", "--tn", platform::formatHandle(m_result),
                                               platform::formatHandle(m_source), "64", "48", "8", "little",
                                               "My best shot"};
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(r.at("argv[" + std::to_string(i) + "]"), expected[i]) << i;
    for (const char* name : {"result", "source"}) {
        const std::string key(name);
        EXPECT_EQ(r.at(key + ".open"), "1") << key;
        EXPECT_EQ(r.at(key + ".cloexec"), "0") << key;
        EXPECT_EQ(r.at(key + ".size"), "12288") << key;
    }
    EXPECT_EQ(r.at("result.handle"), std::to_string(m_result));
    EXPECT_EQ(r.at("source.handle"), std::to_string(m_source));
    EXPECT_EQ(r.at("same"), "1");
    EXPECT_EQ(r.at("probe." + std::to_string(unrelated)), "0");
}

TEST_F(HandOverLaunchTest, EmptyTitleIsAnEmptyLastArgument)
{
    openPatternSession();
    EXPECT_EQ(launch(""), 0);
    const Report r = report();
    EXPECT_EQ(r.at("argc"), "9");
    EXPECT_EQ(r.at("argv[8]"), "");
    EXPECT_EQ(r.at("same"), "1");
}

TEST_F(HandOverLaunchTest, ApplyWritesOnlyTheResult)
{
    openPatternSession();
    const std::vector<unsigned char> original = contents(m_source);
    setenv("FAKE_APP_MODE", "apply", 1);
    EXPECT_EQ(launch("t"), 0);
    EXPECT_EQ(contents(m_source), original);
    const std::vector<unsigned char> result = contents(m_result);
    ASSERT_EQ(result.size(), original.size());
    for (std::size_t i = 0; i < result.size(); ++i)
        ASSERT_EQ(result[i], fakeApplied(original[i])) << i;
}

TEST_F(HandOverLaunchTest, ExitCodesAndCrashes)
{
    openPatternSession();
    const std::vector<unsigned char> original = contents(m_source);
    for (int code : {0, 1, 2, 12}) {
        setenv("FAKE_APP_MODE", ("exit:" + std::to_string(code)).c_str(), 1);
        EXPECT_EQ(launch("t"), code);
    }
    for (const char* mode : {"exit:255", "exit:-1", "segv"}) {
        setenv("FAKE_APP_MODE", mode, 1);
        EXPECT_EQ(launch("t"), -1) << mode;
    }
    // Nothing written: the result still holds the layer, so a copy-back restores it unchanged.
    EXPECT_EQ(contents(m_result), original);
}

TEST_F(HandOverLaunchTest, SixteenBitSamplesSurviveEcho)
{
    std::vector<unsigned char> pixels(std::size_t(kWidth) * kHeight * 8);
    for (std::size_t sample = 0; sample < pixels.size() / 2; ++sample) {
        const unsigned value = sample % 3 == 0 ? 32768u : unsigned(sample * 97 % 32769);
        pixels[2 * sample] = static_cast<unsigned char>(value & 0xFF);
        pixels[2 * sample + 1] = static_cast<unsigned char>(value >> 8);
    }
    openSession(8, pixels);
    setenv("FAKE_APP_MODE", "echo", 1);
    EXPECT_EQ(launch("sixteen", 16), 0);
    EXPECT_EQ(report().at("argv[6]"), "16");
    EXPECT_EQ(report().at("result.size"), "24576");
    EXPECT_EQ(contents(m_result), pixels);
    const std::vector<unsigned char> result = contents(m_result);
    EXPECT_EQ(result[0] | (result[1] << 8), 32768);
}

TEST_F(HandOverLaunchTest, AboutReturnsBeforeTheChildEndsAndLeavesNoZombie)
{
    const std::string release = m_folder + "/release";
    setenv("FAKE_APP_MODE", "about", 1);
    setenv("FAKE_APP_RELEASE", release.c_str(), 1);

    ASSERT_TRUE(platform::startDetachedProcess(FAKE_APPLICATION,
                                               platform::aboutCommandLine(FAKE_APPLICATION, platform::kAboutFlag)));
    int status;
    EXPECT_TRUE(waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD) << "a child of ours is left";

    const auto waitFor = [&](const char* key) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (report().count(key) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return report().count(key) == 1;
    };
    ASSERT_TRUE(waitFor("ready"));
    const Report r = report();
    EXPECT_EQ(r.at("argc"), "2");
    EXPECT_EQ(r.at("argv[0]"), FAKE_APPLICATION);
    EXPECT_EQ(r.at("argv[1]"), "--about");
    EXPECT_EQ(r.count("ended"), 0u) << "the start waited for the program";

    std::ofstream(release) << "go";
    EXPECT_TRUE(waitFor("ended"));
}
