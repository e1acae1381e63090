// The main of every GUI test binary: an offscreen QApplication with its settings and runtime
// folders in a fresh temporary folder, so that no test reads or writes the user's own.

#include "KestrineResources.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

extern "C" {
// The offscreen platform plug-in never frees its screen objects; Boost.GIL's PNG reader takes
// libpng's errors by longjmp, which skips its row buffer's destructor, so each corrupt PNG it
// reads leaks that buffer. Those two paths alone are suppressed, never our own code.
const char* __lsan_default_suppressions()
{
    return "leak:QGuiApplicationPrivate::createPlatformIntegration\n"
           "leak:boost::gil::detail::row_buffer_helper\n";
}

// Full allocation stacks, so that the suppressions above match frames deep inside Qt.
const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0:malloc_context_size=30";
}
}

namespace {

std::string makeScratchFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kestrine-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return {};
    return pattern;
}

void removeFolder(const std::string& folder)
{
    if (folder.empty())
        return;
    const std::string command = "rm -rf '" + folder + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", folder.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string scratch = makeScratchFolder();
    if (!scratch.empty()) {
        const std::string config = scratch + "/config";
        const std::string runtime = scratch + "/runtime";
        mkdir(config.c_str(), 0700);
        mkdir(runtime.c_str(), 0700);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("KESTRINE_TEST_SCRATCH", scratch.c_str(), 1);
    }
    int result;
    {
        QApplication app(argc, argv);
        // The settings store the program itself uses, inside the scratch folder.
        QCoreApplication::setOrganizationName(QStringLiteral("OrlenthTech"));
        QCoreApplication::setOrganizationDomain(QStringLiteral("orlenthtech.example"));
        QCoreApplication::setApplicationName(QStringLiteral("Kestrine3"));
        initKestrineResources();
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    removeFolder(scratch);
    return result;
}
