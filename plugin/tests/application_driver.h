#pragma once
// The user at the real application that the plug-in starts. While the host's thread is blocked
// in the plug-in's Start, a thread of the test follows the application's run log, types keys
// into its window through XTEST (xdotool, after focusing the window: no window manager runs)
// and bounds the whole run with a watchdog that kills the application on expiry.
//
// A key is typed only once the run log shows that the application is ready for it: the first
// one after the session's edge analysis has finished, each later one after the "hasFinished"
// line of the command the key before it started. Nothing waits for a fixed time.

#include "XvfbDisplay.h"

#include <QKeySequence>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace tunnelrytest {

// The run log line of the session's edge analysis, once it is done.
extern const char* const kAnalysisFinished;
// The description of the image auto-fill commands in the run log.
extern const char* const kAutoFilling;

struct DriverStep {
    enum Kind {
        Key,           // type `keys`; when `awaited` is set, wait for that command's finish
        Screenshot,    // the whole screen into the file `path`
        KillWithSegv,  // the application gets SIGSEGV, as a fault of its own would give it
        CloseCrashBox  // the crash guard's message box is confirmed with Return
    };
    Kind kind = Key;
    QKeySequence keys;
    QString awaited;
    QString path;

    static DriverStep key(const QString& keys, const QString& awaited = QString())
    {
        DriverStep step;
        step.keys = QKeySequence(keys);
        step.awaited = awaited;
        return step;
    }
    static DriverStep screenshot(const QString& path)
    {
        DriverStep step;
        step.kind = Screenshot;
        step.path = path;
        return step;
    }
    static DriverStep of(Kind kind)
    {
        DriverStep step;
        step.kind = kind;
        return step;
    }
};

// The application's processes among this process's children, by name; 0 when none.
pid_t childProcessNamed(const std::string& name);
// This process's children that have ended and not been reaped.
std::vector<pid_t> zombieChildren();
// Whether the process still runs (a zombie counts as ended).
bool processRuns(pid_t pid);

class ApplicationDriver {
public:
    // `logFolder` is the application's log folder; the watchdog's time runs from construction.
    ApplicationDriver(const testsupport::XvfbDisplay& display, const std::string& logFolder,
                      std::chrono::seconds watchdog = std::chrono::seconds(120));
    ~ApplicationDriver();
    ApplicationDriver(const ApplicationDriver&) = delete;
    ApplicationDriver& operator=(const ApplicationDriver&) = delete;

    // Starts following the application on a thread of its own, with the steps to take.
    void start(std::vector<DriverStep> steps);
    // The host's call has returned: no more waiting; joins the thread.
    void finish();

    // What went wrong (a missing window, a refused key, the watchdog), one line each.
    std::vector<std::string> problems() const;
    bool watchdogFired() const { return m_watchdogFired; }
    // The application's run log; empty when none was found.
    QString runLogPath() const;
    // Every step was taken.
    bool completed() const { return m_completed; }

private:
    void run(std::vector<DriverStep> steps);
    bool waitFor(const std::function<bool()>& condition, const char* what);
    bool findApplication();
    bool takeStep(const DriverStep& step);
    int finishedLines() const;
    bool finishedAfter(int count, const QString& description) const;
    void problem(const std::string& text);
    void expire();

    const testsupport::XvfbDisplay& m_display;
    std::string m_logFolder;
    std::chrono::steady_clock::time_point m_deadline;
    std::thread m_thread;
    std::atomic<bool> m_hostReturned{false};
    std::atomic<bool> m_watchdogFired{false};
    std::atomic<bool> m_completed{false};
    std::atomic<pid_t> m_pid{0};
    qulonglong m_window = 0;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_problems;
    QString m_runLog;
};

} // namespace tunnelrytest
