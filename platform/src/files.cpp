#include "platform/files.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

bool makeFolders(const std::string& path)
{
    if (path.empty())
        return false;
    // Each component in turn, so that every folder made here gets 0700 (the umask can only
    // take rights away).
    std::string::size_type pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        const std::string prefix = path.substr(0, pos);
        if (prefix.empty() || prefix == "/")
            continue;
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace

PrivateFolder makePrivateFolder(const std::string& path)
{
    if (!makeFolders(path))
        return PrivateFolder::CannotCreate;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return PrivateFolder::CannotCreate;
    if (!S_ISDIR(info.st_mode))
        return PrivateFolder::NotAFolder;
    if (info.st_uid != geteuid())
        return PrivateFolder::NotOwned;
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return PrivateFolder::OpenToOthers;
    return PrivateFolder::Ready;
}

std::optional<std::int64_t> birthTime(const std::string& path)
{
    struct statx info;
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &info) != 0)
        return std::nullopt;
    if (!(info.stx_mask & STATX_BTIME))
        return std::nullopt;
    return std::int64_t(info.stx_btime.tv_sec);
}

} // namespace platform
