// The plug-in as a host meets it: the library loaded by path, its property list and exports,
// and whole selector sequences through its entry point with the fake application, including
// the ways a call can fail (bad sequence, stale object, exceptions and faults in host code).

#include "fake_application.h"
#include "host_session.h"
#include "log_order.h"
#include "plugin_module.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

namespace {

const char* const kCrashMessage =
    "Kestrine 3 (error): Kestrine 3 has encountered a serious problem and will attempt to return to the plugin "
    "host.\n\nPlease save your work as soon as possible and re-start the plugin host.";

bool isZero(const Rect& r)
{
    return r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0;
}

bool isZero(const VRect& r)
{
    return r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0;
}

int occurrences(const std::string& text, const std::string& part)
{
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

bool waitForReport(const std::string& path, const std::string& key)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (readFakeReport(path).count(key))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Descriptors and mappings of hand-over memory this process still holds.
int handOverDescriptors()
{
    int count = 0;
    DIR* folder = opendir("/proc/self/fd");
    while (const dirent* entry = folder ? readdir(folder) : nullptr) {
        char target[256] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) > 0 && std::string(target).find("memfd:") == 0)
            ++count;
    }
    if (folder)
        closedir(folder);
    return count;
}

int handOverMappings()
{
    return occurrences(readWholeFile("/proc/self/maps"), "memfd:");
}

// Names of the symbols the module defines: its dynamic table with "-D", else its whole table.
std::set<std::string> definedSymbols(const std::string& table)
{
    std::set<std::string> names;
    const std::string command = "nm " + table + " --defined-only '" TUNNELRY_MODULE "'";
    std::FILE* nm = popen(command.c_str(), "r");
    if (!nm) {
        ADD_FAILURE() << "cannot run " << command;
        return names;
    }
    char line[4096];
    while (std::fgets(line, sizeof line, nm)) {
        char address[64], type[8], name[4000];
        if (std::sscanf(line, "%63s %7s %3999s", address, type, name) == 3)
            names.insert(name);
    }
    EXPECT_EQ(pclose(nm), 0) << command;
    return names;
}

class EntryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_scenario = std::make_unique<Scenario>(FAKE_APPLICATION);
        ASSERT_TRUE(m_scenario->isReady());
        m_freshLoad = dlopen(TUNNELRY_MODULE, RTLD_NOW | RTLD_NOLOAD) == nullptr;
        ASSERT_TRUE(m_module.load(TUNNELRY_MODULE)) << m_module.error();
        m_entry = m_module.entry();
        ASSERT_NE(m_entry, nullptr);
        m_session = std::make_unique<HostSession>(m_entry, m_host);
        m_report = m_scenario->path("report.txt");
        setenv("FAKE_APP_REPORT", m_report.c_str(), 1);
        setenv("FAKE_APP_MODE", "apply", 1);
        m_stderr = std::make_unique<StandardErrorCapture>(m_scenario->path("stderr.txt"));
    }

    void TearDown() override
    {
        stopCapture();
        for (const char* name : {"FAKE_APP_REPORT", "FAKE_APP_MODE", "FAKE_APP_RELEASE"})
            unsetenv(name);
        m_scenario.reset();
    }

    std::string stopCapture()
    {
        if (m_stderr)
            m_stderrText = m_stderr->stop();
        m_stderr.reset();
        return m_stderrText;
    }

    int16_t call(int16_t selector) { return m_session->call(selector); }
    intptr_t data() const { return m_session->data; }
    bool childStarted() const { return access(m_report.c_str(), F_OK) == 0; }

    void expectRectanglesCleared() const
    {
        EXPECT_TRUE(isZero(m_host.record.inRect));
        EXPECT_TRUE(isZero(m_host.record.outRect));
        EXPECT_TRUE(isZero(m_host.record.maskRect));
        ASSERT_NE(m_host.record.bigDocumentData, nullptr);
        EXPECT_TRUE(isZero(m_host.big.inRect32));
        EXPECT_TRUE(isZero(m_host.big.outRect32));
        EXPECT_TRUE(isZero(m_host.big.maskRect32));
    }

    std::unique_ptr<Scenario> m_scenario;
    PluginModule m_module;
    PluginEntryProc m_entry = nullptr;
    bool m_freshLoad = false;
    FakeHost m_host;
    std::unique_ptr<HostSession> m_session;
    std::string m_report;
    std::unique_ptr<StandardErrorCapture> m_stderr;
    std::string m_stderrText;
};

} // namespace

TEST_F(EntryTest, PropertyListAndExportsAreExactlyTheInterface)
{
    for (const std::string& problem : m_module.checkPropertyList())
        ADD_FAILURE() << problem;
    const std::vector<uint8_t> entryName = m_module.property(kPropertyEntry);
    EXPECT_EQ(std::string(entryName.begin(), entryName.end()), "PluginMain");

    // Nothing of the plug-in's libraries may clash with the host's symbols, and the host's
    // allocator stays the one in use.
    EXPECT_EQ(definedSymbols("-D"), (std::set<std::string>{"PluginMain", "PluginPropertyList"}));
    // Not even inside: an allocator of its own would serve the host's objects freed by us.
    const std::set<std::string> all = definedSymbols("");
    for (const char* allocator : {"_Znwm", "_Znam", "_ZdlPv", "_ZdaPv"})
        EXPECT_EQ(all.count(allocator), 0u) << allocator;
}

TEST_F(EntryTest, AboutThenFilterRunOnAnRgbLayer)
{
    m_host.setLayer(kImageModeRGB, 4, 37, 21, true);

    const std::string aboutReport = m_scenario->path("about.txt");
    const std::string release = m_scenario->path("release");
    setenv("FAKE_APP_REPORT", aboutReport.c_str(), 1);
    setenv("FAKE_APP_MODE", "about", 1);
    setenv("FAKE_APP_RELEASE", release.c_str(), 1);
    EXPECT_EQ(call(kSelectorAbout), 0);
    EXPECT_EQ(data(), 0);
    // About returned while the application is still up.
    ASSERT_TRUE(waitForReport(aboutReport, "ready"));
    std::map<std::string, std::string> about = readFakeReport(aboutReport);
    EXPECT_EQ(about["argc"], "2");
    EXPECT_EQ(about["argv[0]"], FAKE_APPLICATION);
    EXPECT_EQ(about["argv[1]"], "--about");
    EXPECT_EQ(about.count("ended"), 0u);
    std::ofstream(release) << "go";
    EXPECT_TRUE(waitForReport(aboutReport, "ended"));

    setenv("FAKE_APP_REPORT", m_report.c_str(), 1);
    setenv("FAKE_APP_MODE", "apply", 1);
    EXPECT_EQ(call(kSelectorPrepare), 0);
    EXPECT_NE(data(), 0);
    EXPECT_EQ(call(kSelectorStart), 0);
    EXPECT_NE(data(), 0);
    EXPECT_EQ(call(kSelectorFinish), 0);
    EXPECT_EQ(data(), 0);
    EXPECT_EQ(outputState(m_host), OutputState::Inverted);
    EXPECT_EQ(readFakeReport(m_report)["argv[1]"], "--tn");

    EXPECT_EQ(occurrences(stopCapture(), "Closing logfile\n"), 1) << m_stderrText;
    ASSERT_EQ(m_scenario->logFiles().size(), 1u);
    const std::string size = std::to_string(37 * 21 * 4);
    expectInOrder(m_scenario->logText(),
                  {"PluginMain, begins with selector = 0, unloaded = 1, *data = 0, *result = 0",
                   "PluginMainCatchingCppExceptions, begin", "PluginMainCatchingCppExceptions, sSPBasic = 0x",
                   "AllocatePlugin", "PhotoshopShim:: About", "Plugin executable is [" FAKE_APPLICATION "] 0",
                   "About: 1", "PluginMainCatchingCppExceptions, plugin->Message() == Done \n",
                   "PluginMainCatchingCppExceptions, returns",
                   "PluginMain, returns with selector = 0, unloaded = 0, *data = 0, *result = 0",

                   "PluginMain, begins with selector = 2, unloaded = 0, *data = 0, *result = 0",
                   "PluginMainCatchingCppExceptions, begin", "AllocatePlugin",
                   "PhotoshopShim::Prepare. maxSpace = 1073741824", "PhotoshopShim::Prepare finished",
                   "PluginMainCatchingCppExceptions, returns",
                   "PluginMain, returns with selector = 2, unloaded = 0, *data = 0x", ", *result = 0",

                   "PluginMain, begins with selector = 3, unloaded = 0, *data = 0x", "PhotoshopShim::Start",
                   "PhotoshopShim::RunSession", "Temporary file size: " + size, "Launch returns 0",
                   "PhotoshopShim::RunSession launchApplication returned. error = 0",
                   "PhotoshopShim::RunSession has just SetImageData theErr = 0",
                   "PhotoshopShim::RunSession clearing inRect, outRect, maskRect",
                   "PhotoshopShim::RunSession finished", "PhotoshopShim::Start finished",
                   "PluginMainCatchingCppExceptions, returns", "PluginMain, returns with selector = 3",

                   "PluginMain, begins with selector = 5", "PluginMainCatchingCppExceptions, plugin->Message() == Done",
                   "PluginMain, returns with selector = 5, unloaded = 0, *data = 0, *result = 0"});
}

TEST_F(EntryTest, ContinueEndsTheRunWithEmptyRectangles)
{
    m_host.setLayer(kImageModeRGB48, 4, 16, 9, true);
    EXPECT_EQ(call(kSelectorPrepare), 0);
    m_host.record.inRect = m_host.record.outRect = Rect{1, 1, 5, 5};
    m_host.big.inRect32 = m_host.big.outRect32 = VRect{1, 1, 5, 5};
    EXPECT_EQ(call(kSelectorContinue), kResultParameterError);
    EXPECT_EQ(data(), 0);
    expectRectanglesCleared();
    EXPECT_FALSE(childStarted());
    EXPECT_NE(m_scenario->logText().find("PluginMainCatchingCppExceptions: CONTINUE!"), std::string::npos);

    // The next run starts afresh.
    EXPECT_EQ(call(kSelectorPrepare), 0);
    EXPECT_NE(data(), 0);
    EXPECT_EQ(call(kSelectorFinish), 0);
}

TEST_F(EntryTest, ObjectFromAnEarlierLoadIsRefusedOnce)
{
    if (!m_freshLoad)
        GTEST_SKIP() << "the library was already loaded in this process";
    m_host.setLayer(kImageModeRGB, 4, 8, 8, true);
    // What an earlier load of the library left in the host's slot.
    m_session->data = 0x5a5a5a50;
    EXPECT_EQ(call(kSelectorPrepare), kResultParameterError);
    EXPECT_EQ(data(), 0);
    EXPECT_NE(m_scenario->logText().find("PluginMainCatchingCppExceptions, (plugin != NULL && unloaded)"),
              std::string::npos);

    EXPECT_EQ(call(kSelectorPrepare), 0);
    EXPECT_NE(data(), 0);
    EXPECT_EQ(call(kSelectorStart), 0);
    EXPECT_EQ(call(kSelectorFinish), 0);
    EXPECT_EQ(outputState(m_host), OutputState::Inverted);
}

TEST_F(EntryTest, ExceptionsFromHostCallbacksBecomeResults)
{
    struct Case {
        const char* name;
        void (*thrower)(FilterRecord&);
        int16_t result;
        const char* line;
    };
    const Case cases[] = {
        {"out of memory", [](FilterRecord&) { throw std::bad_alloc(); }, kResultMemoryFull,
         "PluginMainCatchingCppExceptions, bad_alloc exception caught. *result = -108"},
        {"anything else", [](FilterRecord&) { throw std::runtime_error("host trouble"); }, kResultParameterError,
         "PluginMainCatchingCppExceptions, unnamed (...) exception caught. *result = -50"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_host.setLayer(kImageModeRGB, 4, 8, 8, true);
        m_host.onAdvance = c.thrower;
        EXPECT_EQ(call(kSelectorPrepare), 0);
        EXPECT_EQ(call(kSelectorStart), c.result);
        EXPECT_EQ(data(), 0);
        EXPECT_FALSE(childStarted());
        EXPECT_EQ(outputState(m_host), OutputState::Untouched);
        const std::vector<std::string> logs = m_scenario->logFiles();
        ASSERT_FALSE(logs.empty());
        const std::string log = readWholeFile(logs.back());
        EXPECT_NE(log.find(c.line), std::string::npos) << log;
        // A failed Start ends the log: the next call opens a new one.
        for (const std::string& file : logs)
            unlink(file.c_str());
    }
    EXPECT_EQ(occurrences(stopCapture(), "Closing logfile\n"), 2) << m_stderrText;
}

TEST_F(EntryTest, FaultInAHostCallbackIsCaughtAndTheHostGoesOn)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers take the fault themselves in this build";
#endif
    // The host's own crash handling must be there again after the call.
    struct sigaction hostAction {};
    hostAction.sa_sigaction = [](int, siginfo_t*, void*) { _exit(70); };
    hostAction.sa_flags = SA_SIGINFO;
    sigemptyset(&hostAction.sa_mask);
    struct sigaction saved {};
    ASSERT_EQ(sigaction(SIGSEGV, &hostAction, &saved), 0);

    m_host.setLayer(kImageModeCMYK, 5, 24, 10, true);
    m_host.faultInConversion = true;
    EXPECT_EQ(call(kSelectorPrepare), 0);
    EXPECT_EQ(call(kSelectorStart), 201);
    EXPECT_EQ(data(), 0);
    expectRectanglesCleared();
    EXPECT_FALSE(childStarted());
    EXPECT_EQ(handOverDescriptors(), 0);
    EXPECT_EQ(handOverMappings(), 0);

    struct sigaction now {};
    sigaction(SIGSEGV, nullptr, &now);
    EXPECT_EQ(now.sa_sigaction, hostAction.sa_sigaction);

    const std::string errors = stopCapture();
    EXPECT_NE(errors.find(kCrashMessage), std::string::npos) << errors;
    EXPECT_EQ(occurrences(errors, "Closing logfile\n"), 1) << errors;
    expectInOrder(m_scenario->logText(), {"PluginMain, begins with selector = 3", "PhotoshopShim::RunSession",
                                          "PluginMain, returns with selector = 3", "*result = 201"});

    // The host goes on: the next run of the same library works.
    m_host.setLayer(kImageModeCMYK, 5, 24, 10, true);
    m_host.faultInConversion = false;
    EXPECT_EQ(call(kSelectorPrepare), 0);
    EXPECT_EQ(call(kSelectorStart), 0);
    EXPECT_EQ(call(kSelectorFinish), 0);
    EXPECT_EQ(outputState(m_host), OutputState::Inverted);
    EXPECT_EQ(handOverDescriptors(), 0);

    sigaction(SIGSEGV, &saved, nullptr);
}
