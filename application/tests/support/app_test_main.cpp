// The main of test binaries that run the program's own start-up (which makes the Qt
// application itself): temporary, settings and runtime folders in a fresh scratch folder, so
// that no test reads or writes the user's own, and the offscreen windowing plug-in.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

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
    const std::string command = "chmod -R u+rwx '" + folder + "' && rm -rf '" + folder + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", folder.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string scratch = makeScratchFolder();
    if (!scratch.empty()) {
        const std::string tmp = scratch + "/tmp";
        const std::string config = scratch + "/config";
        const std::string runtime = scratch + "/runtime";
        mkdir(tmp.c_str(), 0700);
        mkdir(config.c_str(), 0700);
        mkdir(runtime.c_str(), 0700);
        setenv("TMPDIR", tmp.c_str(), 1);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("KESTRINE_TEST_SCRATCH", scratch.c_str(), 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    removeFolder(scratch);
    return result;
}
