#include "tunnelry/shim_log.h"

#include "platform/host_ui.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

// An output buffer over a descriptor of our own, opened close-on-exec so that the log file
// never leaks into the application the plug-in starts (a standard file stream cannot).
class ShimLogBuffer : public std::streambuf {
public:
    explicit ShimLogBuffer(int fd) : m_fd(fd) { setp(m_data, m_data + sizeof m_data); }
    ~ShimLogBuffer() override
    {
        drain();
        ::close(m_fd);
    }

protected:
    int_type overflow(int_type c) override
    {
        if (!drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    int sync() override { return drain() ? 0 : -1; }

private:
    bool drain()
    {
        const char* next = pbase();
        const char* end = pptr();
        while (next < end) {
            const ssize_t written = ::write(m_fd, next, std::size_t(end - next));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                setp(m_data, m_data + sizeof m_data);
                return false;
            }
            next += written;
        }
        setp(m_data, m_data + sizeof m_data);
        return true;
    }

    int m_fd;
    char m_data[1024];
};

namespace {

ShimLog* g_log = nullptr;
std::string g_path;
ShimLog::Clock g_clock = nullptr;

struct Reading {
    std::tm local{};
    int milliseconds = 0;
};

Reading readClock()
{
    using namespace std::chrono;
    const system_clock::time_point now = g_clock ? g_clock() : system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    Reading reading;
    localtime_r(&seconds, &reading.local);
    const auto sinceEpoch = duration_cast<milliseconds>(now.time_since_epoch()).count();
    reading.milliseconds = int(((sinceEpoch % 1000) + 1000) % 1000);
    return reading;
}

// QDir::cleanPath's rule: no empty or "." parts, ".." removes the part before it, no
// trailing separator.
std::string cleanPath(const std::string& path)
{
    const bool absolute = !path.empty() && path[0] == '/';
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= path.size()) {
        std::size_t end = path.find('/', i);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(i, end - i);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (!absolute)
                parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = end + 1;
    }
    std::string cleaned = absolute ? "/" : "";
    for (std::size_t k = 0; k < parts.size(); ++k) {
        if (k > 0)
            cleaned += '/';
        cleaned += parts[k];
    }
    return cleaned.empty() ? "." : cleaned;
}

void logMessage(const std::string& line)
{
    LogLine() << line;
}

} // namespace

ShimLog::ShimLog()
{
    const Reading created = readClock();
    std::string folder = temporaryDirectory();
    if (folder.back() != '/')
        folder += '/';
    g_path = folder + "Kestrine3/" + fileName(created.local, created.milliseconds);

    if (!openFile(g_path)) {
        std::cerr << "Could not establish logger: " << "Failed to open output stream " << g_path << "\n";
    } else {
        const std::string prefix = linePrefix(created.local, created.milliseconds);
        std::cerr << "Log file is [" << g_path << "]\n";
        std::cerr << "KLOG:" << prefix << g_path << "\n";
        m_stream << prefix << g_path << '\n';
        m_stream.flush();
    }
    if (!m_stream.good()) {
        // A full disk or a missing folder must not cost the host call: write into nothing.
        m_stream.rdbuf(nullptr);
        m_buffer.reset();
        if (!openFile("/dev/null"))
            std::cerr << "Couldn't even redirect message to /dev/null\n";
    }
    std::cerr.flush();
    g_log = this;
    platform::setMessageLogHook(&logMessage);
}

ShimLog::~ShimLog()
{
    if (g_log == this) {
        g_log = nullptr;
        platform::setMessageLogHook(nullptr);
    }
    m_stream.flush();
    m_stream.rdbuf(nullptr);
}

ShimLog* ShimLog::instance()
{
    return g_log;
}

void ShimLog::close()
{
    std::cerr << "Closing logfile\n";
    std::cerr.flush();
    delete g_log;
}

const std::string& ShimLog::path()
{
    return g_path;
}

std::ostream& ShimLog::stream()
{
    m_stream << currentPrefix();
    return m_stream;
}

void ShimLog::flush()
{
    m_stream << '\n';
    m_stream.flush();
}

std::string ShimLog::temporaryDirectory()
{
    const char* tmp = std::getenv("TMPDIR");
    return cleanPath(tmp && *tmp ? tmp : "/tmp");
}

std::string ShimLog::fileName(const std::tm& t, int milliseconds)
{
    char name[96];
    std::snprintf(name, sizeof name, "%d.%02d.%02d_%02d.%02d.%02d.%d-shim.txt", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, milliseconds);
    return name;
}

std::string ShimLog::linePrefix(const std::tm& t, int milliseconds)
{
    char prefix[48];
    std::snprintf(prefix, sizeof prefix, "%d:%d:%d.%d: ", t.tm_hour, t.tm_min, t.tm_sec, milliseconds);
    return prefix;
}

void ShimLog::setClock(Clock clock)
{
    g_clock = clock;
}

bool ShimLog::openFile(const std::string& path)
{
    int fd;
    do
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    m_buffer = std::make_unique<ShimLogBuffer>(fd);
    m_stream.rdbuf(m_buffer.get());
    m_stream.clear();
    return true;
}

std::string ShimLog::currentPrefix() const
{
    const Reading now = readClock();
    return linePrefix(now.local, now.milliseconds);
}
