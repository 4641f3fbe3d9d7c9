// Helpers of the hardening tests: running a piece of a test as an
// unprivileged user (permission bits mean nothing to root), small tmpfs
// mounts for a disk that really fills up, and removal of trees deeper than
// the longest path the system accepts.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "grid/grid.h"
#include "host/fs.h"
#include "host/paths.h"
#include "host/progress.h"
#include "kelvane/copy/copy_engine.h"
#include "kelvane/inventory/folder_walk.h"
#include "support/unprivileged.h"
#include "torrin/engine/rcopy.h"

namespace hardening {

// Deep trees and crowded folders cost seconds of journal writes on a disk
// file system; a memory file system, where there is one, keeps them quick.
inline bool preferMemoryTemporaryFolders() {
    if (::access("/dev/shm", W_OK | X_OK) == 0) ::setenv("TMPDIR", "/dev/shm", 1);
    return true;
}

// Runs `body` as the user "nobody" in a child process when this process is
// root (testing_support::runUnprivileged), with every grid definition read
// first: a checkout under /root is closed to nobody.
inline std::string runUnprivileged(const std::function<std::string()>& body) {
    std::vector<host::ListingEntry> resources;
    static_cast<void>(host::listDirectory(host::resourceDirectory(), host::kListNormal, resources));
    for (const host::ListingEntry& entry : resources) {
        if (entry.name.ends_with(".grid"))
            grid::loadGridDefinition(entry.name.substr(0, entry.name.size() - 5));
    }
    return testing_support::runUnprivileged(body);
}

using testing_support::giveToNobody;

// A tmpfs of `kilobytes` mounted on `folder` for the object's life. Mounting
// needs root (or a mount namespace); when refused, `reason()` says why.
class SmallDisk {
  public:
    SmallDisk(const std::string& folder, long kilobytes) : folder_(folder) {
        if (::geteuid() != 0) {
            reason_ = "mounting a tmpfs needs root";
            return;
        }
        const std::string options = "size=" + std::to_string(kilobytes) + "k";
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            reason_ = std::string("mount refused: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& reason() const { return reason_; }
    // Makes the mounted disk read-only (true) or writable again.
    bool setReadOnly(bool readOnly) {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return ::mount("tmpfs", folder_.c_str(), "tmpfs", flags, nullptr) == 0;
    }

  private:
    std::string folder_;
    bool mounted_ = false;
    std::string reason_;
};

// Makes `depth` nested folders named `name` under `top` through *at calls, so
// the tree may go deeper than any path the system accepts; `fileEvery` > 0
// puts a file "f" (holding its depth) into every level divisible by it, and
// the deepest level gets a file "z". False when the system refused.
inline bool makeDeepTree(const std::string& top, int depth, const std::string& name,
                         int fileEvery) {
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    auto putFile = [](int folder, const char* file, const std::string& bytes) {
        const int out = ::openat(folder, file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0) return false;
        const bool ok =
            ::write(out, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        return ::close(out) == 0 && ok;
    };
    for (int level = 0; level <= depth; ++level) {
        if (fileEvery > 0 && level % fileEvery == 0 && !putFile(fd, "f", std::to_string(level))) {
            ::close(fd);
            return false;
        }
        if (level == depth) break;
        if (::mkdirat(fd, name.c_str(), 0755) != 0 && errno != EEXIST) {
            ::close(fd);
            return false;
        }
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        if (next < 0) return false;
        fd = next;
    }
    const bool ok = putFile(fd, "z", "bottom");
    ::close(fd);
    return ok;
}

// Removes a tree of any depth ("rm" walks with *at calls, std::filesystem
// does not).
inline void removeTree(const std::string& path) {
    const std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0) return;
}

// Walks `source` into `list` as the simple check does, then copies the rows the
// list shows into `target` as "开始复制" does in relative mode.
inline kelvane::CopySummary walkAndCopy(grid::Grid& list, const std::string& source,
                                        const std::string& target, bool replace = false,
                                        int mask = host::kListNormal,
                                        int workers = common::kDefaultWorkers) {
    host::NullProgress quiet;
    kelvane::WalkOptions options;
    options.mask = mask;
    kelvane::walkFolder(list, source, source, options, quiet);
    kelvane::CopyPlan plan;
    plan.sourceFolder = source;
    plan.targetFolder = target;
    plan.replace = replace;
    return kelvane::copyShownRows(list, plan, quiet, {}, workers);
}

// Runs torrin's engine over `source` into `target`, every file qualifying,
// hidden ones included, same-name files replaced.
inline torrin::RunResult torrinCopyAll(const std::string& source, const std::string& target,
                                       const std::string& logfile,
                                       int workers = common::kDefaultWorkers) {
    torrin::RunDescription run;
    run.sourceFolders = {source};
    run.target = target;
    run.threshold = "2000-01-01 00:00:00";
    run.replace = true;
    run.mask = host::kListEverything;
    run.logfile = logfile;
    run.workers = workers;
    host::NullProgress quiet;
    return torrin::rcopy(run, quiet);
}

}  // namespace hardening
