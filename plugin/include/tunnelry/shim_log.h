#pragma once
// The plug-in's own trace, one file per filter run in the application's log folder, so that
// one run can be followed across both processes. Writing never fails a host call: without a
// usable file the lines go to /dev/null or nowhere.

#include <chrono>
#include <ctime>
#include <memory>
#include <ostream>
#include <string>

class ShimLogBuffer;

class ShimLog {
public:
    using Clock = std::chrono::system_clock::time_point (*)();

    // Opens "<temporary directory>/Kestrine3/<local time>-shim.txt" (the folder is the
    // application's and is never created here), reports the outcome on the standard error
    // stream and becomes the process-wide log.
    ShimLog();
    // Closes the file; the process-wide log is gone until a new one is made.
    ~ShimLog();
    ShimLog(const ShimLog&) = delete;
    ShimLog& operator=(const ShimLog&) = delete;

    // The process-wide log, or nullptr.
    static ShimLog* instance();
    // Announces the close on the standard error stream and deletes the process-wide log.
    static void close();
    // Path of the most recently opened log file (kept after it is closed).
    static const std::string& path();

    // The stream with the line prefix already written; the caller appends its text and
    // then calls flush().
    std::ostream& stream();
    // Ends the line and flushes it to the file.
    void flush();

    // Qt's temporary directory rule: TMPDIR when set and not empty, else "/tmp", cleaned.
    static std::string temporaryDirectory();
    // File name of a log created at `localTime` with `milliseconds` of the same reading.
    static std::string fileName(const std::tm& localTime, int milliseconds);
    // Line prefix "H:M:S.N: " without leading zeros, N the milliseconds.
    static std::string linePrefix(const std::tm& localTime, int milliseconds);

    // Tests fix the time; nullptr restores the system clock.
    static void setClock(Clock clock);

private:
    bool openFile(const std::string& path);
    std::string currentPrefix() const;

    std::unique_ptr<ShimLogBuffer> m_buffer;
    std::ostream m_stream{nullptr};
};

// One line of the process-wide log: `LogLine() << "text " << value;` The line is written and
// flushed when the object goes; with no log it is dropped.
class LogLine {
public:
    LogLine()
        : m_log(ShimLog::instance())
        , m_stream(m_log ? &m_log->stream() : nullptr)
    {
    }
    ~LogLine()
    {
        if (m_log)
            m_log->flush();
    }
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

    template <typename T>
    LogLine& operator<<(const T& value)
    {
        if (m_stream)
            *m_stream << value;
        return *this;
    }

private:
    ShimLog* m_log;
    std::ostream* m_stream;
};
