#pragma once
// A fresh world for one run of the plug-in inside a host: its own temporary, settings and home
// folders in the environment, the application registered the way its installer does it, and
// the standard error stream captured at its descriptor, where the plug-in writes.

#include <string>
#include <vector>

class Scenario {
public:
    // New folders under a new temporary root: TMPDIR with the application's log folder
    // "Kestrine3/", XDG_CONFIG_DIRS with OrlenthTech/Kestrine3.conf holding Exe=application
    // (no file when `application` is empty), an empty XDG_CONFIG_HOME for the user's settings,
    // and HOME. The earlier environment comes back
    // and the folders are removed when the scenario ends.
    explicit Scenario(const std::string& application);
    ~Scenario();
    Scenario(const Scenario&) = delete;
    Scenario& operator=(const Scenario&) = delete;

    // False when the folders could not be made.
    bool isReady() const { return !m_root.empty(); }
    const std::string& root() const { return m_root; }
    // A path for a file of the caller's own under the root.
    std::string path(const std::string& name) const { return m_root + "/" + name; }
    std::string logFolder() const { return m_root + "/tmp/Kestrine3"; }
    // XDG_CONFIG_HOME: where the application keeps its user settings.
    std::string userConfigFolder() const { return m_root + "/userconfig"; }
    // The plug-in's log files, oldest name first, and their texts in that order.
    std::vector<std::string> logFiles() const;
    std::string logText() const;

private:
    struct Saved {
        std::string name;
        bool set;
        std::string value;
    };
    std::string m_root;
    std::vector<Saved> m_saved;
};

// Sends descriptor 2 into a file until stop() (or the end of the object) puts it back.
class StandardErrorCapture {
public:
    explicit StandardErrorCapture(const std::string& file);
    ~StandardErrorCapture();
    StandardErrorCapture(const StandardErrorCapture&) = delete;
    StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;

    // Puts descriptor 2 back and returns everything written meanwhile.
    std::string stop();

private:
    std::string m_file;
    int m_saved = -1;
};

// The text of a file, empty when it cannot be read.
std::string readWholeFile(const std::string& path);
