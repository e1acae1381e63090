#pragma once
// One fixture for the plug-in's filter runs: a fresh log folder, the application registered
// as the fake application, a capturing message sink, a window provider of our own, and the
// fake application's report.

#include "fake_application.h"
#include "fake_host.h"

#include "tunnelry/host_state.h"
#include "tunnelry/shim_log.h"
#include "tunnelry/win_photoshop_shim.h"

#include "platform/host_ui.h"
#include "platform/process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

struct CapturedMessage {
    std::string caption;
    std::string text;
    platform::MessageIcon icon;
};

class CapturingSink : public platform::MessageSink {
public:
    bool showMessage(const std::string& caption, const std::string& text, platform::MessageIcon icon) override
    {
        messages.push_back({caption, text, icon});
        return true;
    }
    std::vector<CapturedMessage> messages;
};

// A host window that writes down every call made on it.
class FakeWindow : public platform::HostWindow {
public:
    void minimise() override { events.push_back("minimise"); }
    void hide() override { events.push_back("hide"); }
    void restore() override { events.push_back("restore"); }
    bool isEnabled() const override
    {
        events.push_back("isEnabled");
        return enabled;
    }
    void setEnabled(bool on) override
    {
        events.push_back(on ? "enable" : "disable");
        enabled = on;
    }

    bool enabled = true;
    mutable std::vector<std::string> events;
};

class FakeWindowProvider : public platform::WindowProvider {
public:
    platform::HostWindow* activeWindow() override { return window; }
    platform::HostWindow* window = nullptr;
};

inline bool isZero(const Rect& r)
{
    return r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0;
}

inline bool isZero(const VRect& r)
{
    return r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0;
}

inline bool operator==(const Rect& a, const Rect& b)
{
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

inline bool operator==(const VRect& a, const VRect& b)
{
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

// Index of the first differing byte, or -1 when equal; keeps failures short on big buffers.
inline long long firstDifference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
    if (a.size() != b.size())
        return static_cast<long long>(std::min(a.size(), b.size()));
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return static_cast<long long>(i);
    return -1;
}

inline std::vector<unsigned char> applied(std::vector<unsigned char> bytes)
{
    for (unsigned char& b : bytes)
        b = fakeApplied(b);
    return bytes;
}

// The plug-in's classes called directly take the current host's basic suite, as the entry
// point hands it to them.
inline void attachHostToPlugin(FakeHost* host)
{
    setHostBasicSuite(host ? &host->basicSuite : nullptr);
    if (!host)
        setCurrentFilterRecord(nullptr);
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeHost::setCurrentHook(&attachHostToPlugin);
        char folder[] = "/tmp/tunnelry-session-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        ASSERT_EQ(mkdir((m_folder + "/Kestrine3").c_str(), 0700), 0);
        setenv("TMPDIR", m_folder.c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (m_folder + "/config").c_str(), 1);
        registerApplication(FAKE_APPLICATION);
        m_report = m_folder + "/report.txt";
        setenv("FAKE_APP_REPORT", m_report.c_str(), 1);
        unsetenv("FAKE_APP_MODE");
        platform::setOsReleaseOverride("6.1.0-test");
        platform::setMessageSink(&m_sink);
        platform::setWindowProvider(&m_windows);
        new ShimLog;
    }

    void TearDown() override
    {
        FakeHost::setCurrentHook(nullptr);
        if (ShimLog::instance())
            ShimLog::close();
        platform::setMessageSink(nullptr);
        platform::setWindowProvider(nullptr);
        platform::setOsReleaseOverride(nullptr);
        for (const char* name : {"TMPDIR", "XDG_CONFIG_DIRS", "FAKE_APP_REPORT", "FAKE_APP_MODE"})
            unsetenv(name);
        std::system(("rm -rf '" + m_folder + "'").c_str());
    }

    // The installer's entry for the application; an empty path removes the settings file.
    void registerApplication(const std::string& path)
    {
        const std::string folder = m_folder + "/config/OrlenthTech";
        std::system(("mkdir -p '" + folder + "'").c_str());
        const std::string file = folder + "/Kestrine3.conf";
        if (path.empty()) {
            unlink(file.c_str());
            return;
        }
        std::ofstream(file) << "[General]\nExe=" << path << "\n";
    }

    // Prepare and Start as the host calls them; the result the host would receive.
    int16_t run(WinPhotoshopShim& shim, FakeHost& host)
    {
        shim.Message(kSelectorPrepare, &host.record);
        shim.Message(kSelectorStart, &host.record);
        return shim.error();
    }

    bool childStarted() const { return access(m_report.c_str(), F_OK) == 0; }
    std::map<std::string, std::string> report() const { return readFakeReport(m_report); }

    std::string logText() const
    {
        std::ifstream file(ShimLog::path());
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    static void expectRectanglesCleared(const FakeHost& host)
    {
        EXPECT_TRUE(isZero(host.record.inRect));
        EXPECT_TRUE(isZero(host.record.outRect));
        EXPECT_TRUE(isZero(host.record.maskRect));
        if (host.record.bigDocumentData) {
            EXPECT_TRUE(isZero(host.big.inRect32));
            EXPECT_TRUE(isZero(host.big.outRect32));
            EXPECT_TRUE(isZero(host.big.maskRect32));
        }
    }

    std::string m_folder;
    std::string m_report;
    CapturingSink m_sink;
    FakeWindowProvider m_windows;
};
