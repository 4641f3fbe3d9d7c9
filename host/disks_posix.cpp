// A file system's UUID from the links udev keeps in /dev/disk/by-uuid, its
// identity from statfs, its device number from stat.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/disks.h"

namespace host {

namespace {

// The UUID of the block device `device`, where udev names it.
std::string uuidOf(dev_t device) {
    std::string found;
    DIR* links = ::opendir("/dev/disk/by-uuid");
    if (!links) return found;
    while (const dirent* entry = ::readdir(links)) {
        if (entry->d_name[0] == '.') continue;
        const std::string link = std::string("/dev/disk/by-uuid/") + entry->d_name;
        struct stat target {};
        if (::stat(link.c_str(), &target) == 0 && S_ISBLK(target.st_mode) &&
            target.st_rdev == device) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(links);
    return found;
}

}  // namespace

Result<DiskIdentity> diskOf(const std::string& folder) {
    struct stat own {};
    if (::stat(folder.c_str(), &own) != 0) return Failure{"cannot look at", folder, errno, {}};
    struct stat parent {};
    const std::string up = folder + "/..";
    if (::stat(up.c_str(), &parent) != 0) return Failure{"cannot look at", up, errno, {}};
    DiskIdentity disk;
    disk.ownRoot = own.st_dev != parent.st_dev || own.st_ino == parent.st_ino;
    if (const std::string uuid = uuidOf(own.st_dev); !uuid.empty())
        disk.names = "uuid=" + uuid + ";";
    struct statfs system {};
    if (::statfs(folder.c_str(), &system) == 0) {
        unsigned words[2];
        static_assert(sizeof words == sizeof system.f_fsid);
        std::memcpy(words, &system.f_fsid, sizeof words);
        if (words[0] != 0 || words[1] != 0) {
            char text[40];
            std::snprintf(text, sizeof text, "fsid=%08x%08x;", words[0], words[1]);
            disk.names += text;
        }
    }
    disk.names +=
        "dev=" + std::to_string(major(own.st_dev)) + ":" + std::to_string(minor(own.st_dev));
    return disk;
}

}  // namespace host
