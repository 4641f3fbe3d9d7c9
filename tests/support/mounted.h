// A file system made for a test and mounted on a folder for the object's
// life: "tmpfs", an "ext4" or "xfs" loop image, "vfat" through FUSE (no
// kernel FAT driver needed), or "exfat" through FUSE on a loop device (its
// FUSE driver wants a block device). `reason` says why there is none; `forbidden`
// when the machine refuses (no root, a refused mount) rather than a tool
// missing. CI must run what mounts: only a forbidden mount is an allowed
// reason to skip there (support/skips.h).
#pragma once

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/skips.h"

namespace testing_support {

struct Mounted {
    Mounted(const std::string& kind, const std::string& image, const std::string& folder)
        : folder(folder) {
        if (kind.empty()) return;
        std::string tools = "mkfs." + kind;
        std::string make = "true";
        std::string mount = "mount -o loop '" + image + "' '" + folder + "'";
        if (kind == "tmpfs") {
            tools = "mount";
            mount = "mount -t tmpfs -o size=64m tmpfs '" + folder + "'";
        } else if (kind == "ext4") {
            make = "mkfs.ext4 -q -F '" + image + "' 16M";
        } else if (kind == "xfs") {
            // The smallest image mkfs.xfs accepts; sparse, so it costs no room.
            make = "truncate -s 300M '" + image + "' && mkfs.xfs -q -f '" + image + "'";
        } else if (kind == "exfat") {
            tools = "mkfs.exfat mount.exfat-fuse losetup";
            make = "truncate -s 16M '" + image + "' && mkfs.exfat '" + image + "'";
            device = image + ".device";
            mount = "losetup --find --show '" + image + "' >'" + device +
                    "' && mount.exfat-fuse \"$(cat '" + device + "')\" '" + folder + "'";
        } else {
            tools = "mkfs.vfat fusefat";
            make = "mkfs.vfat -C '" + image + "' 16384";
            mount = "fusefat -o rw+ '" + image + "' '" + folder + "'";
        }
        if (::geteuid() != 0) {
            reason = "mounting needs root";
            forbidden = true;
        } else if (run("for t in " + tools + "; do command -v $t || exit 1; done >/dev/null") !=
                   0) {
            reason = "missing " + tools + " (scripts/deps)";
        } else if (run(make + " >/dev/null 2>&1 && " + mount + " >/dev/null 2>&1") != 0) {
            reason = "the machine refuses the " + kind + " mount";
            forbidden = true;
        }
        mounted = reason.empty();
    }
    ~Mounted() {
        if (mounted) ::umount2(folder.c_str(), MNT_DETACH);
        // Freed now, or as soon as its FUSE driver lets go.
        if (!device.empty()) run("losetup -d \"$(cat '" + device + "')\" 2>/dev/null");
    }
    Mounted(const Mounted&) = delete;
    Mounted& operator=(const Mounted&) = delete;

    static int run(const std::string& command) {
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string folder;
    std::string device;  // the file that names the loop device, if one is used
    bool mounted = false;
    bool forbidden = false;
    std::string reason;
};

// In a test's SetUp or body: skip with the reason.
#define SKIP_UNLESS_MOUNTED(kind, mounted)                                                  \
    if (!(mounted).reason.empty()) {                                                        \
        GTEST_SKIP() << ((mounted).forbidden ? ::testing_support::kSkipMountForbidden : "") \
                     << (kind) << ": " << (mounted).reason;                                 \
    }

}  // namespace testing_support
