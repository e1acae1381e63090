#pragma once
// A fresh folder for one test binary, removed when the binary ends: the settings and runtime
// folders (and, when asked, the temporary folder) point into it, so that no test reads or
// writes the user's own. Made before the Qt application, which reads these variables.

#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

class ScratchFolder {
public:
    enum Temporary { KeepTemporaryFolder, OwnTemporaryFolder };

    explicit ScratchFolder(Temporary temporary)
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kestrine-test-XXXXXX";
        if (!mkdtemp(pattern.data()))
            return;
        m_path = pattern;
        if (temporary == OwnTemporaryFolder)
            point("TMPDIR", "/tmp");
        point("XDG_CONFIG_HOME", "/config");
        point("XDG_RUNTIME_DIR", "/runtime");
        setenv("KESTRINE_TEST_SCRATCH", m_path.c_str(), 1);
    }

    ~ScratchFolder()
    {
        if (m_path.empty())
            return;
        // Tests may leave folders without write permission behind.
        const std::string command = "chmod -R u+rwx '" + m_path + "' && rm -rf '" + m_path + "'";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "could not remove %s\n", m_path.c_str());
    }

    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

private:
    void point(const char* variable, const char* folder)
    {
        const std::string path = m_path + folder;
        mkdir(path.c_str(), 0700);
        setenv(variable, path.c_str(), 1);
    }

    std::string m_path;
};

} // namespace testsupport
