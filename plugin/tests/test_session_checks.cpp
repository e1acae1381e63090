// What a filter run checks and touches besides the pixels: the document's mode, the
// application's registration, the operating system, Prepare's answers, the host window, the
// document title, About, and the suites the plug-in object still holds when it goes.
#include "session_fixture.h"

#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include <fcntl.h>

namespace {

// Marks the launch among the window's calls, and can fail it.
class ObservedShim : public WinPhotoshopShim {
public:
    explicit ObservedShim(FakeWindow* window) : m_window(window) {}

    void aboutToLaunch() override
    {
        if (m_window)
            m_window->events.push_back("launch");
        launchedSource = sourceHandle();
        launchedResult = resultHandle();
    }
    int launchApplication(int32_t width, int32_t height) override
    {
        if (throwOnLaunch)
            throw std::runtime_error("launch failed");
        return WinPhotoshopShim::launchApplication(width, height);
    }

    bool throwOnLaunch = false;
    platform::SharedMemoryHandle launchedSource = platform::kNoSharedMemory;
    platform::SharedMemoryHandle launchedResult = platform::kNoSharedMemory;

private:
    FakeWindow* m_window;
};

// Keeps a suite to see that the object's end gives it back.
class SuiteHoldingShim : public WinPhotoshopShim {
public:
    bool hold() { return acquireHostSuite(kColorSpaceSuiteName, kColorSpaceSuiteVersion) != nullptr; }
};

bool isOpen(platform::SharedMemoryHandle handle)
{
    return fcntl(int(handle), F_GETFD) >= 0;
}

const char* const kModeAlertText =
    "Kestrine requires a layer in an RGBA or CMYKA image format, including an alpha channel.\n\n\n"
    "Please add an alpha channel to your image (and, for some plugin hosts, convert it to filter layer) and try "
    "again.";

} // namespace

TEST_F(SessionTest, LayersWithoutTransparencyGetTheAlert)
{
    for (int16_t mode : {kImageModeRGB, kImageModeRGB48, kImageModeCMYK, kImageModeCMYK64}) {
        SCOPED_TRACE(mode);
        m_sink.messages.clear();
        FakeHost host;
        const bool cmyk = mode == kImageModeCMYK || mode == kImageModeCMYK64;
        host.setLayer(mode, cmyk ? 4 : 3, 19, 7, true);
        host.record.inRect = host.record.outRect = host.record.filterRect;
        WinPhotoshopShim shim;
        EXPECT_EQ(run(shim, host), kResultNotUsable);
        ASSERT_EQ(m_sink.messages.size(), 1u);
        EXPECT_EQ(m_sink.messages[0].caption, "Kestrine");
        EXPECT_EQ(m_sink.messages[0].text, kModeAlertText);
        EXPECT_EQ(m_sink.messages[0].icon, platform::MessageIcon::Error);
        EXPECT_EQ(host.transfer.calls, 0);
        EXPECT_FALSE(childStarted());
        expectRectanglesCleared(host);
    }
    // Other modes are refused the same way.
    m_sink.messages.clear();
    FakeHost host;
    host.setLayer(kImageModeRGB, 4, 19, 7, false);
    host.record.imageMode = 9;
    WinPhotoshopShim shim;
    EXPECT_EQ(run(shim, host), kResultNotUsable);
    EXPECT_EQ(m_sink.messages.size(), 1u);
}

TEST_F(SessionTest, UnusableApplicationIsFileNotFound)
{
    {
        SCOPED_TRACE("no registration");
        registerApplication("");
        FakeHost host;
        host.setLayer(kImageModeRGB, 4, 19, 7, false);
        WinPhotoshopShim shim;
        EXPECT_EQ(run(shim, host), kResultFileNotFound);
        EXPECT_EQ(shim.applicationPath(), "\\unavailable");
        EXPECT_NE(logText().find("Plugin executable is [\\unavailable] 2"), std::string::npos) << logText();
        EXPECT_TRUE(m_sink.messages.empty());
        EXPECT_FALSE(childStarted());
        expectRectanglesCleared(host);
    }
    {
        SCOPED_TRACE("a shell script");
        const std::string script = m_folder + "/kestrine3.sh";
        std::ofstream(script) << "#!/bin/sh\nexit 0\n";
        chmod(script.c_str(), 0755);
        registerApplication(script);
        FakeHost host;
        host.setLayer(kImageModeRGB, 4, 19, 7, false);
        WinPhotoshopShim shim;
        EXPECT_EQ(run(shim, host), kResultFileNotFound);
        EXPECT_EQ(shim.applicationPath(), script);
        EXPECT_FALSE(childStarted());
    }
    {
        SCOPED_TRACE("a lookup is made once per object");
        registerApplication("");
        FakeHost host;
        host.setLayer(kImageModeRGB, 4, 19, 7, false);
        WinPhotoshopShim shim;
        EXPECT_EQ(shim.applicationPath(), "\\unavailable");
        registerApplication(FAKE_APPLICATION);
        EXPECT_EQ(run(shim, host), kResultFileNotFound);
    }
}

TEST_F(SessionTest, TooOldSystemEndsSilentlyWithTwo)
{
    platform::setOsReleaseOverride("4.19.0");
    FakeHost host;
    host.setLayer(kImageModeRGB, 4, 19, 7, false);
    WinPhotoshopShim shim;
    EXPECT_EQ(run(shim, host), kResultNotUsable);
    EXPECT_TRUE(m_sink.messages.empty());
    EXPECT_FALSE(childStarted());
    expectRectanglesCleared(host);
}

TEST_F(SessionTest, PrepareAsksForNoBufferAndBigCoordinates)
{
    FakeHost host;
    host.setLayer(kImageModeRGB, 4, 19, 7, true);
    WinPhotoshopShim shim;
    EXPECT_FALSE(shim.Message(kSelectorPrepare, &host.record));
    EXPECT_EQ(host.record.bufferSpace, 0);
    EXPECT_EQ(host.big.PluginUsing32BitCoordinates, 1);
    EXPECT_EQ(shim.filterRecord(), &host.record);
    EXPECT_EQ(shim.error(), 0);

    FakeHost small;
    small.setLayer(kImageModeRGB, 4, 19, 7, false);
    WinPhotoshopShim other;
    other.Message(kSelectorPrepare, &small.record);
    EXPECT_EQ(small.record.bufferSpace, 0);
    EXPECT_EQ(other.error(), 0);
}

TEST_F(SessionTest, HostWindowIsHiddenAndDisabledForTheLaunch)
{
    for (bool enabledBefore : {true, false}) {
        SCOPED_TRACE(enabledBefore);
        FakeWindow window;
        window.enabled = enabledBefore;
        m_windows.window = &window;
        FakeHost host;
        host.setLayer(kImageModeRGB, 4, 19, 7, false);
        setenv("FAKE_APP_MODE", "apply", 1);
        ObservedShim shim(&window);
        EXPECT_EQ(run(shim, host), 0);
        const std::vector<std::string> expected = {"minimise", "hide",    "isEnabled",
                                                   "disable",  "launch",  "restore",
                                                   enabledBefore ? "enable" : "disable"};
        EXPECT_EQ(window.events, expected);
        EXPECT_EQ(window.enabled, enabledBefore);
    }
}

TEST_F(SessionTest, HostWindowComesBackWhenTheLaunchThrows)
{
    FakeWindow window;
    m_windows.window = &window;
    FakeHost host;
    host.setLayer(kImageModeRGB, 4, 19, 7, false);
    auto shim = std::make_unique<ObservedShim>(&window);
    shim->throwOnLaunch = true;
    shim->Message(kSelectorPrepare, &host.record);
    EXPECT_THROW(shim->Message(kSelectorStart, &host.record), std::runtime_error);
    ASSERT_GE(window.events.size(), 2u);
    EXPECT_EQ(window.events[window.events.size() - 2], "restore");
    EXPECT_EQ(window.events.back(), "enable");
    EXPECT_TRUE(window.enabled);

    // The mappings go with the object that the exception ends.
    ASSERT_NE(shim->launchedSource, platform::kNoSharedMemory);
    EXPECT_TRUE(isOpen(shim->launchedSource));
    const platform::SharedMemoryHandle source = shim->launchedSource;
    const platform::SharedMemoryHandle result = shim->launchedResult;
    shim.reset();
    EXPECT_FALSE(isOpen(source));
    EXPECT_FALSE(isOpen(result));
}

TEST_F(SessionTest, WithoutActiveWindowNothingIsHidden)
{
    FakeHost host;
    host.setLayer(kImageModeRGB, 4, 19, 7, false);
    setenv("FAKE_APP_MODE", "apply", 1);
    ObservedShim shim(nullptr);
    EXPECT_EQ(run(shim, host), 0);
    EXPECT_TRUE(childStarted());
}

TEST_F(SessionTest, DocumentTitleReachesTheApplication)
{
    struct TitleCase {
        bool has;
        std::string title;
        const char* arrives;
        int disposed;
    };
    const TitleCase cases[] = {
        {true, "My \"best\" shot", "My best shot", 1},
        {true, std::string("Front\0back", 10), "Front", 1},
        {true, "", "", 1},
        {false, "", "", 0},
    };
    for (const TitleCase& c : cases) {
        SCOPED_TRACE(c.arrives);
        unlink(m_report.c_str());
        FakeHost host;
        host.setLayer(kImageModeRGB, 4, 19, 7, false);
        host.hasTitle = c.has;
        host.title = c.title;
        setenv("FAKE_APP_MODE", "exit:2", 1);
        WinPhotoshopShim shim;
        EXPECT_EQ(run(shim, host), 2);
        const std::map<std::string, std::string> r = report();
        EXPECT_EQ(r.at("argc"), "9");
        EXPECT_EQ(r.at("argv[8]"), c.arrives);
        EXPECT_EQ(host.disposed, c.disposed);
    }
}

TEST_F(SessionTest, AboutStartsTheApplicationWithoutCheckingTheImage)
{
    FakeHost host;
    AboutRecord about{&host.basicSuite};
    WinPhotoshopShim shim;
    EXPECT_TRUE(shim.Message(kSelectorAbout, &about));
    EXPECT_EQ(shim.error(), 0);
    EXPECT_TRUE(m_sink.messages.empty());

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (report().count("ready") == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::map<std::string, std::string> r = report();
    ASSERT_EQ(r.count("ready"), 1u);
    EXPECT_EQ(r.at("argc"), "2");
    EXPECT_EQ(r.at("argv[0]"), FAKE_APPLICATION);
    EXPECT_EQ(r.at("argv[1]"), "--about");
}

TEST_F(SessionTest, EndOfTheObjectReleasesHeldSuites)
{
    FakeHost host;
    auto shim = std::make_unique<SuiteHoldingShim>();
    ASSERT_TRUE(shim->hold());
    EXPECT_TRUE(shim->hold()) << "a held suite is handed out again";
    EXPECT_EQ(host.suites.acquired.size(), 1u);
    EXPECT_TRUE(host.suites.released.empty());
    shim.reset();
    EXPECT_EQ(host.suites.acquired, host.suites.released);
}
