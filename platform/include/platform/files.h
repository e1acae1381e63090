#pragma once
// File-system checks for folders the program keeps private data in (its run logs and crash
// dumps), and the creation time of a file where the file system records one.

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

enum class PrivateFolder {
    Ready,        // a real folder, owned by this user, writable by no one else
    CannotCreate, // it or a missing parent could not be made
    NotAFolder,   // a file, or a symbolic link (never followed)
    NotOwned,     // another user's folder
    OpenToOthers  // group or others may write into it
};

// Makes the folder and its missing parents, each new one with mode 0700, then checks the
// folder itself with lstat. Existing parents are left as they are. Only Ready means the
// folder may be used.
PrivateFolder makePrivateFolder(const std::string& path);

// Seconds since 1970 at which the file was created (statx birth time); nothing when the file
// system does not record it or the file cannot be read. Links are not followed.
std::optional<std::int64_t> birthTime(const std::string& path);

} // namespace platform
