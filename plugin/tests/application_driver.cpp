#include "application_driver.h"

#include "LogFileLines.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <unistd.h>

namespace tunnelrytest {

const char* const kAnalysisFinished = "Finding Edges in Image... - hasFinished";
const char* const kAutoFilling = "Auto-Filling...";

namespace {

// The log is polled at this interval while a condition is awaited.
constexpr auto kPoll = std::chrono::milliseconds(20);

struct ProcessStatus {
    pid_t pid = 0;
    pid_t parent = 0;
    char state = 0;
    std::string name;
};

// /proc/PID/stat: "pid (name) state ppid ..."; the name may hold blanks and parentheses.
bool readStatus(pid_t pid, ProcessStatus& status)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(file, text))
        return false;
    const std::size_t open = text.find('(');
    const std::size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 4 > text.size())
        return false;
    status.pid = pid;
    status.name = text.substr(open + 1, close - open - 1);
    std::istringstream rest(text.substr(close + 2));
    long parent = 0;
    rest >> status.state >> parent;
    status.parent = pid_t(parent);
    return bool(rest);
}

std::vector<ProcessStatus> children()
{
    std::vector<ProcessStatus> found;
    DIR* folder = opendir("/proc");
    if (!folder)
        return found;
    const pid_t self = getpid();
    while (const dirent* entry = readdir(folder)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        ProcessStatus status;
        if (pid > 0 && end && *end == '\0' && readStatus(pid_t(pid), status) && status.parent == self)
            found.push_back(status);
    }
    closedir(folder);
    return found;
}

} // namespace

pid_t childProcessNamed(const std::string& name)
{
    for (const ProcessStatus& child : children())
        if (child.name == name && child.state != 'Z')
            return child.pid;
    return 0;
}

std::vector<pid_t> zombieChildren()
{
    std::vector<pid_t> zombies;
    for (const ProcessStatus& child : children())
        if (child.state == 'Z')
            zombies.push_back(child.pid);
    return zombies;
}

bool processRuns(pid_t pid)
{
    ProcessStatus status;
    return readStatus(pid, status) && status.state != 'Z';
}

ApplicationDriver::ApplicationDriver(const testsupport::XvfbDisplay& display, const std::string& logFolder,
                                     std::chrono::seconds watchdog)
    : m_display(display), m_logFolder(logFolder), m_deadline(std::chrono::steady_clock::now() + watchdog)
{
}

ApplicationDriver::~ApplicationDriver()
{
    finish();
}

void ApplicationDriver::start(std::vector<DriverStep> steps)
{
    m_thread = std::thread([this, steps = std::move(steps)] { run(steps); });
}

void ApplicationDriver::finish()
{
    m_hostReturned = true;
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<std::string> ApplicationDriver::problems() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_problems;
}

QString ApplicationDriver::runLogPath() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_runLog;
}

void ApplicationDriver::problem(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_problems.push_back(text);
}

void ApplicationDriver::expire()
{
    if (m_watchdogFired.exchange(true))
        return;
    problem("watchdog: the run did not end within its time; the application was killed");
    // The application may not have been seen yet: it is looked for once more.
    pid_t pid = m_pid;
    if (pid == 0)
        pid = childProcessNamed("kestrine3");
    if (pid != 0)
        kill(pid, SIGKILL);
}

bool ApplicationDriver::waitFor(const std::function<bool()>& condition, const char* what)
{
    while (!condition()) {
        if (m_hostReturned) {
            problem(std::string("the application ended before ") + what);
            return false;
        }
        if (std::chrono::steady_clock::now() > m_deadline) {
            problem(std::string("watchdog expired waiting for ") + what);
            expire();
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

bool ApplicationDriver::findApplication()
{
    const bool started = waitFor(
        [this] {
            m_pid = childProcessNamed("kestrine3");
            return m_pid != 0;
        },
        "the application to start");
    if (!started)
        return false;

    // Its run log: the one log of the folder that is not the plug-in's.
    const QDir folder(QString::fromStdString(m_logFolder));
    const bool logged = waitFor(
        [&] {
            for (const QString& name : folder.entryList({QStringLiteral("20*.txt")}, QDir::Files)) {
                if (!name.endsWith(QLatin1String("-shim.txt"))) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_runLog = folder.filePath(name);
                    return true;
                }
            }
            return false;
        },
        "the application's run log");
    if (!logged)
        return false;

    const QString log = runLogPath();
    if (!waitFor([&] { return testsupport::logFileHas(log, QLatin1String(kAnalysisFinished)); },
                 "the session's edge analysis"))
        return false;

    // Its main window, titled with the product's name.
    return waitFor(
        [this] {
            QString found;
            m_display.xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                               QString::number(m_pid), QStringLiteral("--name"), QStringLiteral("^Kestrine 3")},
                              &found);
            bool ok = false;
            m_window = found.section(QLatin1Char('\n'), 0, 0).toULongLong(&ok);
            return ok && m_window != 0;
        },
        "the main window");
}

int ApplicationDriver::finishedLines() const
{
    int count = 0;
    for (const QString& line : testsupport::logFileLines(runLogPath()))
        if (line.contains(QLatin1String(" - hasFinished (")))
            ++count;
    return count;
}

bool ApplicationDriver::finishedAfter(int count, const QString& description) const
{
    int seen = 0;
    for (const QString& line : testsupport::logFileLines(runLogPath())) {
        if (!line.contains(QLatin1String(" - hasFinished (")))
            continue;
        if (seen++ >= count && line.startsWith(description + QLatin1String(" - hasFinished")))
            return true;
    }
    return false;
}

bool ApplicationDriver::takeStep(const DriverStep& step)
{
    switch (step.kind) {
    case DriverStep::Key: {
        const int before = finishedLines();
        if (!m_display.sendKeys(m_window, step.keys)) {
            problem("the key " + step.keys.toString().toStdString()
                    + " was not typed: " + m_display.error().toStdString());
            return false;
        }
        if (step.awaited.isEmpty())
            return true;
        const std::string what = "the finish of \"" + step.awaited.toStdString() + "\" after "
                                 + step.keys.toString().toStdString();
        return waitFor([&] { return finishedAfter(before, step.awaited); }, what.c_str());
    }
    case DriverStep::Screenshot: {
        QDir().mkpath(QFileInfo(step.path).path());
        QFile::remove(step.path);
        const int imported = QProcess::execute(QStringLiteral("import"),
                                               {QStringLiteral("-display"), m_display.display(),
                                                QStringLiteral("-window"), QStringLiteral("root"), step.path});
        if (imported != 0)
            problem("no screenshot: import gave " + std::to_string(imported));
        return true;
    }
    case DriverStep::KillWithSegv:
        if (kill(m_pid, SIGSEGV) != 0) {
            problem("the application could not be sent SIGSEGV");
            return false;
        }
        return true;
    case DriverStep::CloseCrashBox: {
        // The crash guard's box belongs to a program of its own, titled with the full name.
        qulonglong box = 0;
        const bool shown = waitFor(
            [&] {
                QString found;
                m_display.xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                   QStringLiteral("^Orlenth Kestrine 3$")},
                                  &found);
                bool ok = false;
                box = found.section(QLatin1Char('\n'), 0, 0).toULongLong(&ok);
                return ok && box != 0;
            },
            "the crash message box");
        if (!shown)
            return false;
        if (!m_display.sendKeys(box, QKeySequence(Qt::Key_Return))) {
            problem("the crash message box was not confirmed: " + m_display.error().toStdString());
            return false;
        }
        return true;
    }
    }
    return false;
}

void ApplicationDriver::run(std::vector<DriverStep> steps)
{
    if (!findApplication()) {
        // Nothing more can be done for the run; the watchdog still bounds it.
        waitFor([this] { return bool(m_hostReturned); }, "the end of the run");
        return;
    }
    bool ok = true;
    for (const DriverStep& step : steps) {
        if (!(ok = takeStep(step)))
            break;
    }
    m_completed = ok;
    // The run ends with the host's call returning, within the watchdog's time.
    while (!m_hostReturned) {
        if (std::chrono::steady_clock::now() > m_deadline) {
            expire();
            break;
        }
        std::this_thread::sleep_for(kPoll);
    }
}

} // namespace tunnelrytest
