#include "fake_application.h"

#include "platform/handover.h"
#include "platform/shared_memory.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::FILE* g_report = stdout;

void report(const std::string& key, const std::string& value)
{
    std::fprintf(g_report, "%s=%s\n", key.c_str(), value.c_str());
    std::fflush(g_report);
}

void reportDescriptor(const std::string& name, const char* text, platform::SharedMemoryHandle& handle)
{
    if (!platform::parseHandle(text, handle)) {
        report(name + ".handle", "unparsable");
        handle = platform::kNoSharedMemory;
        return;
    }
    report(name + ".handle", std::to_string(handle));
    const int flags = fcntl(int(handle), F_GETFD);
    report(name + ".open", flags >= 0 ? "1" : "0");
    if (flags < 0)
        return;
    report(name + ".cloexec", (flags & FD_CLOEXEC) ? "1" : "0");
    struct stat info;
    report(name + ".size", fstat(int(handle), &info) == 0 ? std::to_string(info.st_size) : "-1");
}

// Read before the program opens anything, so that no descriptor of its own takes the number.
std::vector<std::pair<std::string, bool>> probeDescriptors()
{
    std::vector<std::pair<std::string, bool>> probes;
    const char* list = std::getenv("FAKE_APP_PROBE");
    if (!list)
        return probes;
    const std::string text(list);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string number = text.substr(start, end - start);
        if (!number.empty())
            probes.emplace_back(number, fcntl(std::atoi(number.c_str()), F_GETFD) >= 0);
        start = end + 1;
    }
    return probes;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::pair<std::string, bool>> probes = probeDescriptors();
    if (const char* path = std::getenv("FAKE_APP_REPORT")) {
        g_report = std::fopen(path, "we");
        if (!g_report)
            return 99;
    }
    const char* modeText = std::getenv("FAKE_APP_MODE");
    const std::string mode = modeText ? modeText : "";

    report("argc", std::to_string(argc));
    for (int i = 0; i < argc; ++i)
        report("argv[" + std::to_string(i) + "]", argv[i]);

    platform::SharedMemoryHandle result = platform::kNoSharedMemory;
    platform::SharedMemoryHandle source = platform::kNoSharedMemory;
    if (argc == platform::kHandOverArgumentCount && std::strcmp(argv[1], platform::kHandOverFlag) == 0) {
        reportDescriptor("result", argv[2], result);
        reportDescriptor("source", argv[3], source);
    }
    platform::SharedMemoryView resultView(result);
    platform::SharedMemoryView sourceView(source);
    if (resultView && sourceView)
        report("same", resultView.size() == sourceView.size()
                               && std::memcmp(resultView.data(), sourceView.data(), sourceView.size()) == 0
                           ? "1"
                           : "0");
    for (const auto& [number, open] : probes)
        report("probe." + number, open ? "1" : "0");
    report("ready", "1");

    if (mode == "apply" || mode == "echo") {
        if (!resultView || !sourceView || resultView.size() != sourceView.size())
            return 98;
        for (std::size_t i = 0; i < sourceView.size(); ++i)
            resultView.data()[i] = mode == "apply" ? fakeApplied(sourceView.data()[i]) : sourceView.data()[i];
        return 0;
    }
    if (mode.compare(0, 5, "exit:") == 0)
        return std::atoi(mode.c_str() + 5);
    if (mode == "segv") {
        // Restored first, so that a sanitizer's handler cannot turn the fault into an exit.
        std::signal(SIGSEGV, SIG_DFL);
        std::raise(SIGSEGV);
        return 97;
    }
    if (mode == "about") {
        const char* release = std::getenv("FAKE_APP_RELEASE");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (release && access(release, F_OK) != 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        report("ended", "1");
        return 0;
    }
    return 0;
}
