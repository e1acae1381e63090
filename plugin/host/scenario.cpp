#include "scenario.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kVariables[] = {"TMPDIR", "XDG_CONFIG_DIRS", "XDG_CONFIG_HOME", "HOME"};

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    ::remove(path);
    return 0;
}

} // namespace

Scenario::Scenario(const std::string& application)
{
    for (const char* name : kVariables) {
        const char* value = std::getenv(name);
        m_saved.push_back({name, value != nullptr, value ? value : ""});
    }
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tunnelry-host-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return;
    const std::string root = pattern;
    const std::string settings = root + "/config/OrlenthTech";
    bool made = true;
    for (const std::string& folder : {root + "/tmp", root + "/tmp/Kestrine3", root + "/config", settings, root + "/userconfig", root + "/home"})
        made = made && mkdir(folder.c_str(), 0700) == 0;
    if (made && !application.empty()) {
        std::ofstream conf(settings + "/Kestrine3.conf");
        conf << "[General]\nExe=" << application << "\n";
        made = bool(conf);
    }
    if (!made) {
        nftw(root.c_str(), &removeEntry, 16, FTW_DEPTH | FTW_PHYS);
        return;
    }
    m_root = root;
    setenv("TMPDIR", (root + "/tmp").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (root + "/config").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/userconfig").c_str(), 1);
    setenv("HOME", (root + "/home").c_str(), 1);
}

Scenario::~Scenario()
{
    for (const Saved& saved : m_saved) {
        if (saved.set)
            setenv(saved.name.c_str(), saved.value.c_str(), 1);
        else
            unsetenv(saved.name.c_str());
    }
    if (!m_root.empty())
        nftw(m_root.c_str(), &removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::vector<std::string> Scenario::logFiles() const
{
    std::vector<std::string> files;
    DIR* folder = opendir(logFolder().c_str());
    if (!folder)
        return files;
    const std::string suffix = "-shim.txt";
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            files.push_back(logFolder() + "/" + name);
    }
    closedir(folder);
    std::sort(files.begin(), files.end());
    return files;
}

std::string Scenario::logText() const
{
    std::string text;
    for (const std::string& file : logFiles())
        text += readWholeFile(file);
    return text;
}

StandardErrorCapture::StandardErrorCapture(const std::string& file) : m_file(file)
{
    std::cerr.flush();
    std::fflush(stderr);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    m_saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (m_saved >= 0)
        dup2(fd, STDERR_FILENO);
    ::close(fd);
}

StandardErrorCapture::~StandardErrorCapture()
{
    stop();
}

std::string StandardErrorCapture::stop()
{
    if (m_saved < 0)
        return readWholeFile(m_file);
    std::cerr.flush();
    std::fflush(stderr);
    dup2(m_saved, STDERR_FILENO);
    ::close(m_saved);
    m_saved = -1;
    return readWholeFile(m_file);
}

std::string readWholeFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
