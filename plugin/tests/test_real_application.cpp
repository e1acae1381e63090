// The plug-in end to end with the real application: the test host loads the module and calls
// it as an image editor does, the plug-in starts kestrine3 on a private X display, and a
// thread of the test works the application's window with keys, as a user would, while the
// host waits in Start. Each case checks what the host gets back and what both logs say.

#include "application_driver.h"
#include "host_session.h"
#include "log_order.h"
#include "plugin_module.h"
#include "scenario.h"

#include "LogFileLines.h"
#include "XvfbDisplay.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QKeySequence>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using tunnelrytest::ApplicationDriver;
using tunnelrytest::DriverStep;

const char* const kChelsea = KESTRINE_TEST_DATA "/chelsea.png";

// Far ahead (2100-01-01): the application asks nothing of the network during the run.
const char* const kSuppressedChecks = "UpdateSupressUntil=4102444800\nNewsSupressUntil=4102444800\n";

// Sets variables for the case and puts the earlier values back at its end.
class EnvironmentOverride {
public:
    ~EnvironmentOverride()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->set)
                setenv(it->name.c_str(), it->value.c_str(), 1);
            else
                unsetenv(it->name.c_str());
        }
    }
    void set(const char* name, const std::string& value)
    {
        save(name);
        setenv(name, value.c_str(), 1);
    }
    void unset(const char* name)
    {
        save(name);
        unsetenv(name);
    }

private:
    struct Saved {
        std::string name;
        bool set;
        std::string value;
    };
    void save(const char* name)
    {
        const char* value = std::getenv(name);
        m_saved.push_back({name, value != nullptr, value ? value : ""});
    }
    std::vector<Saved> m_saved;
};

void setSample16(unsigned char* at, uint16_t value)
{
    std::memcpy(at, &value, 2);
}

// The photograph as the host's layer: 8-bit RGBA, or its samples scaled to the host's 16-bit
// range 0..32768, opaque as the photograph is (the engine leaves pixels that are not fully
// opaque as they are). The output buffer holds a sentinel pattern.
void loadPhotographLayer(FakeHost& host, bool sixteenBit)
{
    const QImage photo = QImage(QString::fromUtf8(kChelsea)).convertToFormat(QImage::Format_RGBA8888);
    ASSERT_FALSE(photo.isNull()) << kChelsea;
    host.setLayer(sixteenBit ? kImageModeRGB48 : kImageModeRGB, 4, photo.width(), photo.height(), true);
    const std::size_t rowBytes = std::size_t(host.record.inRowBytes);
    const int bytes = sixteenBit ? 2 : 1;
    std::size_t index = 0;
    for (int y = 0; y < photo.height(); ++y) {
        const uchar* from = photo.constScanLine(y);
        for (int x = 0; x < photo.width(); ++x) {
            unsigned char* pixel = host.input.data() + y * rowBytes + std::size_t(x) * 4 * bytes;
            unsigned char* out = host.output.data() + y * rowBytes + std::size_t(x) * 4 * bytes;
            for (int s = 0; s < 4; ++s) {
                const int value = from[4 * x + s];
                if (sixteenBit)
                    setSample16(pixel + 2 * s, uint16_t((value * 32768 + 127) / 255));
                else
                    pixel[s] = uchar(value);
            }
            for (int b = 0; b < 4 * bytes; ++b)
                out[b] = uchar(index++ * 13 + 0x5B);
        }
    }
    host.initialOutput = host.output;
}

// The host's output as it should come back: the layer's colours with every alpha sample set.
std::vector<unsigned char> layerWithAlpha(const FakeHost& host, uint16_t alpha)
{
    std::vector<unsigned char> rgba = host.expectedHandOver();
    const int bytes = host.bytesPerSample;
    for (std::size_t at = 3 * bytes; at < rgba.size(); at += 4 * bytes) {
        if (bytes == 2)
            setSample16(&rgba[at], alpha);
        else
            rgba[at] = uchar(alpha);
    }
    return host.expectedOutput(rgba);
}

// Where two buffers first differ, with the pixel's position; empty when they are equal.
std::string firstDifference(const FakeHost& host, const std::vector<unsigned char>& actual,
                            const std::vector<unsigned char>& expected)
{
    if (actual.size() != expected.size())
        return "sizes " + std::to_string(actual.size()) + " and " + std::to_string(expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] != expected[i]) {
            const std::size_t row = i / std::size_t(host.record.outRowBytes);
            const std::size_t column = i % std::size_t(host.record.outRowBytes) / std::size_t(host.columnBytes);
            return "byte " + std::to_string(i) + " (pixel " + std::to_string(column) + ", " + std::to_string(row)
                   + "): " + std::to_string(actual[i]) + " instead of " + std::to_string(expected[i]);
        }
    }
    return std::string();
}

class RealApplication : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : {"Xvfb", "xdotool"})
            if (QStandardPaths::findExecutable(QString::fromUtf8(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        m_display = std::make_unique<testsupport::XvfbDisplay>();
        ASSERT_TRUE(m_display->isRunning()) << qPrintable(m_display->error());

        m_scenario = std::make_unique<Scenario>(KESTRINE_PROGRAM);
        ASSERT_TRUE(m_scenario->isReady());
        const std::string settings = m_scenario->userConfigFolder() + "/OrlenthTech";
        ASSERT_EQ(mkdir(settings.c_str(), 0700), 0);
        std::ofstream(settings + "/Kestrine3.conf") << "[General]\n" << kSuppressedChecks;

        // The application reaches the display as on a desktop; no access cookie is needed.
        m_environment.set("DISPLAY", m_display->display().toStdString());
        for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XAUTHORITY"})
            m_environment.unset(name);

        ASSERT_TRUE(m_module.load(TUNNELRY_MODULE)) << m_module.error();
        ASSERT_NE(m_module.entry(), nullptr);
        m_session = std::make_unique<HostSession>(m_module.entry(), m_host);
    }

    void TearDown() override
    {
        m_session.reset();
        m_scenario.reset();
    }

    // Prepare, then Start with the driver working the application, then Finish when Start
    // succeeded (a host ends a run whose Start failed without Finish). Returns Start's result.
    int16_t runFilter(std::vector<DriverStep> steps)
    {
        EXPECT_EQ(m_session->call(kSelectorPrepare), 0);
        ApplicationDriver driver(*m_display, m_scenario->logFolder());
        driver.start(std::move(steps));
        const int16_t result = m_session->call(kSelectorStart);
        driver.finish();
        m_runLog = driver.runLogPath();
        const std::vector<std::string> problems = driver.problems();
        if (!problems.empty() || driver.watchdogFired() || !driver.completed()) {
            std::string report;
            for (const std::string& problem : problems)
                report += problem + "\n";
            ADD_FAILURE() << "the run did not go as planned:\n"
                          << report << "--- run log " << m_runLog.toStdString() << ":\n"
                          << readWholeFile(m_runLog.toStdString()) << "--- plug-in log:\n"
                          << m_scenario->logText();
        }
        if (result == 0) {
            EXPECT_EQ(m_session->call(kSelectorFinish), 0);
        }
        EXPECT_EQ(m_session->data, 0);
        return result;
    }

    // The plug-in log of a Start that ended with `code` from the application.
    void expectSessionLog(int code, int16_t result)
    {
        const std::string size = std::to_string(int64_t(m_host.width) * m_host.height * 4 * m_host.bytesPerSample);
        std::vector<std::string> lines = {
            "PluginMain, begins with selector = 2", "PluginMainCatchingCppExceptions, begin", "AllocatePlugin",
            "PhotoshopShim::Prepare. maxSpace = ", "PhotoshopShim::Prepare finished",
            "PluginMain, returns with selector = 2",
            "PluginMain, begins with selector = 3", "PhotoshopShim::Start",
            "Plugin executable is [" KESTRINE_PROGRAM "] 0", "PhotoshopShim::RunSession",
            "Temporary file size: " + size, "Launch returns " + std::to_string(code),
            "PhotoshopShim::RunSession launchApplication returned. error = " + std::to_string(code)};
        if (code == 0) {
            lines.push_back("PhotoshopShim::RunSession has just SetImageData theErr = 0");
        } else if (code != 1 && code != 2) {
            lines.push_back("PhotoshopShim::RunSession - unhandled case for error: " + std::to_string(code));
            lines.push_back("PhotoshopShim::RunSession - setting image data anyway");
        }
        for (const char* line : {"PhotoshopShim::RunSession clearing inRect, outRect, maskRect",
                                 "PhotoshopShim::RunSession finished", "PhotoshopShim::Start finished"})
            lines.push_back(line);
        lines.push_back("PluginMain, returns with selector = 3");
        if (result == 0) {
            lines.push_back("PluginMain, begins with selector = 5");
            lines.push_back("PluginMainCatchingCppExceptions, plugin->Message() == Done");
            lines.push_back("PluginMain, returns with selector = 5, unloaded = 0, *data = 0, *result = 0");
        } else {
            lines.push_back(", *result = " + std::to_string(result));
        }
        expectInOrder(m_scenario->logText(), lines);
    }

    // The application made the cut-out that it handed back.
    void expectCutOutMade() const
    {
        EXPECT_EQ(testsupport::logFileLines(m_runLog).filter(QStringLiteral("Creating Cut-out... - hasFinished")).size(), 1)
            << readWholeFile(m_runLog.toStdString());
    }

    // The main window opened: the application's log in the same folder names its version.
    void expectVersionLine() const
    {
        ASSERT_FALSE(m_runLog.isEmpty());
        EXPECT_TRUE(testsupport::logFileLines(m_runLog).filter(QStringLiteral("Version: ")).size() == 1)
            << readWholeFile(m_runLog.toStdString());
    }

    std::string difference(const std::vector<unsigned char>& expected) const
    {
        return firstDifference(m_host, m_host.output, expected);
    }

    std::unique_ptr<testsupport::XvfbDisplay> m_display;
    std::unique_ptr<Scenario> m_scenario;
    EnvironmentOverride m_environment;
    PluginModule m_module;
    FakeHost m_host;
    std::unique_ptr<HostSession> m_session;
    QString m_runLog;
};

} // namespace

TEST_F(RealApplication, ExitAsTheFirstKeyHandsNothingBack)
{
    loadPhotographLayer(m_host, false);
    const QString shot = QStringLiteral(KESTRINE_TEST_ARTEFACTS "/tunnel-session.png");
    // Save and Apply stays disabled without Keep or Delete, so Exit is the way out, and an
    // untouched document is closed without a question.
    const int16_t result = runFilter({DriverStep::screenshot(shot), DriverStep::key(QStringLiteral("Ctrl+Q"))});
    EXPECT_EQ(result, 2);
    EXPECT_EQ(difference(m_host.initialOutput), "");
    EXPECT_GT(QFileInfo(shot).size(), 0);
    expectSessionLog(2, 2);
    expectVersionLine();
}

TEST_F(RealApplication, KeepEverythingThenSaveAndApplyGivesTheLayerOpaque)
{
    loadPhotographLayer(m_host, false);
    const int16_t result = runFilter({DriverStep::key(QStringLiteral("Ctrl+Shift+K"), tunnelrytest::kAutoFilling),
                                      DriverStep::key(QStringLiteral("Ctrl+S"))});
    EXPECT_EQ(result, 0);
    EXPECT_EQ(difference(layerWithAlpha(m_host, 255)), "");
    expectSessionLog(0, 0);
    expectVersionLine();
    expectCutOutMade();
}

TEST_F(RealApplication, DeleteEverythingThenSaveAndApplyGivesNoAlpha)
{
    loadPhotographLayer(m_host, false);
    const int16_t result = runFilter({DriverStep::key(QStringLiteral("Ctrl+Shift+D"), tunnelrytest::kAutoFilling),
                                      DriverStep::key(QStringLiteral("Ctrl+S"))});
    EXPECT_EQ(result, 0);
    const std::size_t rowBytes = std::size_t(m_host.record.outRowBytes);
    int opaque = 0;
    for (int32_t y = 0; y < m_host.height; ++y)
        for (int32_t x = 0; x < m_host.width; ++x)
            opaque += m_host.output[y * rowBytes + std::size_t(x) * 4 + 3] != 0;
    EXPECT_EQ(opaque, 0);
    expectSessionLog(0, 0);
    expectVersionLine();
    expectCutOutMade();
}

TEST_F(RealApplication, SixteenBitLayerComesBackOpaqueWithItsColoursUnchanged)
{
    loadPhotographLayer(m_host, true);
    const int16_t result = runFilter({DriverStep::key(QStringLiteral("Ctrl+Shift+K"), tunnelrytest::kAutoFilling),
                                      DriverStep::key(QStringLiteral("Ctrl+S"))});
    EXPECT_EQ(result, 0);
    EXPECT_EQ(difference(layerWithAlpha(m_host, 32768)), "");
    expectSessionLog(0, 0);
    expectVersionLine();
    expectCutOutMade();
}

TEST_F(RealApplication, ApplicationCrashingMidSessionLeavesTheLayerAsItWas)
{
    // The crash guard must take the signal itself, also in the sanitizer build.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    m_environment.set("ASAN_OPTIONS", std::string(sanitizer ? sanitizer : "")
                                          + ":handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0");
    loadPhotographLayer(m_host, false);
    const int16_t result = runFilter({DriverStep::key(QStringLiteral("Ctrl+Shift+K"), tunnelrytest::kAutoFilling),
                                      DriverStep::of(DriverStep::KillWithSegv),
                                      DriverStep::of(DriverStep::CloseCrashBox)});
    // Status 255 reads as -1: the layer's own pixels are copied back, and the host is told.
    EXPECT_EQ(result, -1);
    EXPECT_EQ(difference(m_host.outputHoldingInput()), "");
    expectSessionLog(-1, -1);
    expectVersionLine();
    ASSERT_TRUE(m_runLog.endsWith(QLatin1String(".txt")));
    QString dump = m_runLog;
    dump.replace(dump.size() - 4, 4, QStringLiteral(".dmp"));
    EXPECT_GT(QFileInfo(dump).size(), 0) << dump.toStdString();
}

TEST_F(RealApplication, AboutReturnsWhileTheBoxIsShownAndTheCloseKeyEndsIt)
{
    // The application's Close key is the X11 platform's: asked of a GUI application of this
    // process on the same display.
    QByteArray display = m_display->display().toLocal8Bit();
    int argc = 5;
    char name[] = "tunnelry-about", platformOption[] = "-platform", xcb[] = "xcb", displayOption[] = "-display";
    char* argv[] = {name, platformOption, xcb, displayOption, display.data(), nullptr};
    QGuiApplication application(argc, argv);
    const QKeySequence close = QKeySequence::keyBindings(QKeySequence::Close).value(0);
    ASSERT_FALSE(close.isEmpty());

    EXPECT_EQ(m_session->call(kSelectorAbout), 0);
    EXPECT_EQ(m_session->data, 0);
    // The call has returned; the box comes up afterwards, in a process the host does not wait for.
    qulonglong window = 0;
    pid_t pid = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (window == 0 && std::chrono::steady_clock::now() < deadline) {
        QString found;
        m_display->xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                            QStringLiteral("^About Kestrine 3$")},
                           &found);
        window = found.section(QLatin1Char('\n'), 0, 0).toULongLong();
        if (window == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(window, 0u) << "no About box\n" << m_scenario->logText();
    QString pidText;
    ASSERT_TRUE(m_display->xdotool({QStringLiteral("getwindowpid"), QString::number(window)}, &pidText));
    pid = pid_t(pidText.toLong());
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(tunnelrytest::processRuns(pid));

    EXPECT_TRUE(m_display->sendKeys(window, close)) << qPrintable(m_display->error());
    while (tunnelrytest::processRuns(pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(tunnelrytest::processRuns(pid)) << "the About box did not close";
    if (tunnelrytest::processRuns(pid))
        kill(pid, SIGKILL);
    EXPECT_TRUE(tunnelrytest::zombieChildren().empty());

    expectInOrder(m_scenario->logText(),
                  {"PluginMain, begins with selector = 0", "PluginMainCatchingCppExceptions, begin", "AllocatePlugin",
                   "PhotoshopShim:: About", "Plugin executable is [" KESTRINE_PROGRAM "] 0", "About: 1",
                   "PluginMainCatchingCppExceptions, plugin->Message() == Done \n",
                   "PluginMainCatchingCppExceptions, returns",
                   "PluginMain, returns with selector = 0, unloaded = 0, *data = 0, *result = 0"});
}
