#pragma once
// Read-only access to the application's system-scope settings file without Qt: the INI
// dialect the application writes (Qt's quoting and escapes), looked up the way a registry
// query answers.

#include <cstddef>
#include <string>

namespace platform {

// Result codes of a lookup, as a registry query gives them.
constexpr int kSettingFound = 0;
constexpr int kSettingMissing = 2;      // no file, or no such key
constexpr int kSettingUnreadable = 5;   // the file exists but may not be read
constexpr int kSettingTooLong = 234;    // the value and its NUL do not fit the caller's buffer

struct SettingLookup {
    int code = kSettingMissing;
    // The value is one plain string, not a list or another stored type.
    bool isString = false;
    // The text; set only when code is kSettingFound and isString.
    std::string value;

    bool foundString() const { return code == kSettingFound && isString; }
};

// Looks up a top-level key (group "General") of an INI settings file. A string value whose
// bytes and a terminating NUL pass `bufferBytes` gives kSettingTooLong and no text.
SettingLookup readSettingsValue(const std::string& filePath, const std::string& key,
                                std::size_t bufferBytes);

// Folder of machine-wide settings: the first entry of XDG_CONFIG_DIRS, else "/etc/xdg".
std::string systemConfigFolder();

// The application's system-scope settings file: OrlenthTech/Kestrine3.conf there.
std::string applicationSystemSettingsPath();

// The application's executable as its installer registered it: the string "Exe" of the
// application's system-scope settings, at most 260 bytes with its NUL. Never written here.
SettingLookup applicationExecutableSetting();

} // namespace platform
