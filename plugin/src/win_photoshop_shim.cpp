#include "tunnelry/win_photoshop_shim.h"

#include "tunnelry/shim_log.h"

#include "platform/handover.h"
#include "platform/process.h"
#include "platform/settings_file.h"

#include <cerrno>
#include <cstring>

namespace {

// The oldest operating-system release the plug-in runs on. Errors are read before a log line
// starts: its time stamp may touch errno.
constexpr int kMinimumOsMajor = 5;

std::string systemError(int error)
{
    return "errno " + std::to_string(error) + " (" + std::strerror(error) + ")";
}

} // namespace

WinPhotoshopShim::~WinPhotoshopShim()
{
    // A run that ended by an exception still holds its mappings.
    closeSession();
}

void WinPhotoshopShim::restoreHostWindow()
{
    if (!m_hostWindow)
        return;
    m_hostWindow->restore();
    m_hostWindow->setEnabled(m_hostWindowEnabled);
    m_hostWindow = nullptr;
}

void WinPhotoshopShim::hideHostWindow()
{
    platform::HostWindow* window = platform::windowProvider().activeWindow();
    if (!window)
        return;
    window->minimise();
    window->hide();
    m_hostWindowEnabled = window->isEnabled();
    window->setEnabled(false);
    m_hostWindow = window;
}

bool WinPhotoshopShim::showError(const std::string& first, const std::string& second)
{
    return platform::messageSink().showMessage("Kestrine", first + "\n\n" + second, platform::MessageIcon::Error);
}

int WinPhotoshopShim::launchApplication(int32_t width, int32_t height)
{
    const std::string commandLine = platform::handOverCommandLine(m_result, m_source, width, height,
                                                                  m_sixteenBit ? 16 : 8, documentTitle());
    const std::string& program = applicationPath();
    errno = 0;
    const int code = platform::runProcessAndWait(program, commandLine, {int(m_result), int(m_source)});
    const int error = errno;
    LogLine() << "Launch returns " << code << ", " << systemError(error);
    return code;
}

bool WinPhotoshopShim::openSession(unsigned bytesPerPixel, int32_t width, int32_t height)
{
    const uint64_t size = platform::handOverBytes(bytesPerPixel, width, height);
    if (size >= platform::kSharedMemoryLimit) {
        LogLine() << "Required buffer too large at " << size << " bytes";
        return false;
    }
    LogLine() << "Temporary file size: " << size;

    m_source = platform::createSharedMemory(size);
    if (m_source == platform::kNoSharedMemory) {
        const int error = errno;
        LogLine() << "Unable to create mapping to ks3 " << width << " x " << height << ": " << systemError(error);
        return false;
    }
    platform::SharedMemoryView source(m_source);
    if (!source) {
        const int error = errno;
        LogLine() << "Unable to map buffer to ks3 " << size << ": " << systemError(error);
        closeSession();
        return false;
    }
    m_result = platform::createSharedMemory(size);
    if (m_result == platform::kNoSharedMemory) {
        const int error = errno;
        LogLine() << "Unable to create mapping to ks3 " << width << " x " << height << ": " << systemError(error);
        closeSession();
        return false;
    }
    platform::SharedMemoryView result(m_result);
    if (!result) {
        const int error = errno;
        LogLine() << "Unable to create mapping from ks3 " << width << " x " << height << ": " << systemError(error);
        closeSession();
        return false;
    }

    // The result starts as a copy of the source, so that a child that writes nothing hands
    // the layer back unchanged.
    if (!fillViews(source.data(), result.data(), bytesPerPixel, width, height)) {
        closeSession();
        return false;
    }
    return true;
}

void WinPhotoshopShim::closeSession()
{
    platform::closeSharedMemory(m_source);
    platform::closeSharedMemory(m_result);
    m_source = platform::kNoSharedMemory;
    m_result = platform::kNoSharedMemory;
}

void WinPhotoshopShim::launchAbout(const std::string& argument)
{
    const std::string& program = applicationPath();
    errno = 0;
    const bool started = platform::startDetachedProcess(program, platform::aboutCommandLine(program, argument));
    const int error = errno;
    LogLine() << "About: " << (started ? 1 : 0) << ", " << systemError(error);
}

bool WinPhotoshopShim::canLaunch()
{
    const int major = platform::osMajorVersion();
    if (major < kMinimumOsMajor) {
        LogLine() << "Operating system release " << major << " is too old";
        return false;
    }
    const std::string& program = applicationPath();
    if (!platform::isExecutableProgram(program)) {
        LogLine() << "Not a program: [" << program << "]";
        m_error = kResultFileNotFound;
        return false;
    }
    return m_filterRecord ? checkImageMode(*m_filterRecord) : true;
}

const std::string& WinPhotoshopShim::applicationPath()
{
    if (m_applicationPath.empty()) {
        m_applicationPath = "\\unavailable";
        const platform::SettingLookup lookup = platform::applicationExecutableSetting();
        if (lookup.foundString())
            m_applicationPath = lookup.value.substr(0, lookup.value.find('\0'));
        LogLine() << "Plugin executable is [" << m_applicationPath << "] " << lookup.code;
    }
    return m_applicationPath;
}
