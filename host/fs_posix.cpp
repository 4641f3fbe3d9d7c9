#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/openat2.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>
#include <unordered_map>

#include "base/checksum.h"
#include "base/listing_order.h"
#include "base/temporary_names.h"
#include "host/descriptor_posix.h"
#include "host/durability.h"
#include "host/fault_injection.h"
#include "host/file_content_posix.h"
#include "host/fs.h"
#include "host/long_path_posix.h"
#include "host/paths.h"
#include "host/progress.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace host {

namespace temporary_names = base::temporary_names;

using posix::copyContent;
using posix::Descriptor;
using posix::fail;
using posix::failBecause;
using posix::folderOf;
using posix::systemReason;
using posix::writeAll;

namespace {

// A nameless file is named through its /proc/self/fd link (AT_EMPTY_PATH
// would need a privilege ordinary users lack); without /proc it cannot be.
bool namelessPossible() noexcept {
    static const bool possible = ::access("/proc/self/fd", X_OK) == 0;
    return possible && !faults::namedTemporaries();
}

// The writer's lock on its temporary file: an open-file-description lock, so
// it belongs to this open file (not to the process, which may have several
// copies running) and ends when the file is closed or the process dies.
// False only when someone else holds a lock; a file system without locks
// leaves the file unlocked.
bool lockForWriting(int fd) noexcept {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
    return errno != EAGAIN && errno != EACCES;
}

// Removes the temporary file at `path` unless a writer holds it. A file
// whose lock cannot be tested is kept: it may be a running copy's.
void removeIfUnlocked(int folder, const std::string& name) noexcept {
    const Descriptor fd(
        ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd) return;
    struct stat st;
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    // Removed while our lock is held, so a writer that made this name in the
    // same instant finds its lock refused or its file unlinked, and makes another.
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::fcntl(fd.get(), F_OFD_SETLK, &lock) == 0)
        ::unlinkat(folder, name.c_str(), 0);
}

// Creates a new temporary file with a temporary name in the open `folder`,
// locked; returns its descriptor (or none, with errno set) and its name.
Descriptor createNamed(int folder, std::string_view stem, mode_t mode, std::string& name,
                       int access = O_WRONLY) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = temporary_names::make(stem);
        Descriptor fd(::openat(folder, name.c_str(), access | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (!fd) {
            if (errno == EEXIST) continue;
            return fd;
        }
        struct stat st;
        if (lockForWriting(fd.get()) && ::fstat(fd.get(), &st) == 0 && st.st_nlink > 0) return fd;
        // A remover of leftovers took the name first; it unlinks it.
    }
    errno = EEXIST;
    return Descriptor();
}

// Links a nameless file (through the descriptor `fd`) under `name` in the open
// `folder`; fails with EEXIST when the name is taken.
bool linkNameless(int fd, int folder, const std::string& name) noexcept {
    // By the descriptor itself where the system allows it (it may ask for a
    // privilege), else through its /proc link, which costs a path lookup.
    static std::atomic<bool> byDescriptor{true};
    if (byDescriptor.load()) {
        if (::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0) return true;
        if (errno != ENOENT && errno != EPERM && errno != EINVAL) return false;
        byDescriptor.store(false);
    }
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, link, folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Leftover temporary files are found by reading the target folder. Reading it
// again for every copied file would make copying n files into one folder cost
// n^2, so what one reading found is kept until the folder changes by another
// hand than ours.
struct FolderScan {
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    std::vector<std::string> temporaryNames;
};

std::mutex scanMutex;
std::unordered_map<std::string, FolderScan> scans;
constexpr std::size_t kMaxScans = 4096;
// Copies of this process under way per folder (its path text).
std::unordered_map<std::string, int> ownWriters;

bool sameState(const FolderScan& scan, const struct stat& st) noexcept {
    return scan.device == st.st_dev && scan.inode == st.st_ino &&
           scan.modified.tv_sec == st.st_mtim.tv_sec && scan.modified.tv_nsec == st.st_mtim.tv_nsec;
}

void rememberState(FolderScan& scan, const struct stat& st) noexcept {
    scan.device = st.st_dev;
    scan.inode = st.st_ino;
    scan.modified = st.st_mtim;
}

// `folder` is the open folder, `st` its status, `key` its path text.
void removeLeftovers(int folder, const struct stat& st, const std::string& key,
                     std::string_view base) {
    std::lock_guard lock(scanMutex);
    auto found = scans.find(key);
    // While other copies of ours run in the folder, its changes are theirs:
    // reading it again for each would cost n^2 over a folder's n files.
    const bool othersWriting = ownWriters[key] > 1;
    if (found == scans.end() || (!sameState(found->second, st) && !othersWriting)) {
        if (scans.size() >= kMaxScans) scans.clear();
        FolderScan scan;
        Descriptor listed(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        DIR* dir = listed ? ::fdopendir(listed.get()) : nullptr;
        if (!dir) return;
        listed.release();  // closedir closes it
        while (const dirent* entry = ::readdir(dir)) {
            if (isTemporaryName(entry->d_name)) scan.temporaryNames.emplace_back(entry->d_name);
        }
        ::closedir(dir);
        rememberState(scan, st);
        found = scans.insert_or_assign(key, std::move(scan)).first;
    }
    const std::string_view stem = temporary_names::stemOf(base);
    auto& names = found->second.temporaryNames;
    // A name still there after the attempt belongs to a writer that is running;
    // it stays in the list for the next copy to try again.
    std::erase_if(names, [&](const std::string& name) {
        if (!temporary_names::isFor(name, stem)) return false;
        removeIfUnlocked(folder, name);
        struct stat left;
        return ::fstatat(folder, name.c_str(), &left, AT_SYMLINK_NOFOLLOW) != 0;
    });
}

// A folder this process has just made holds no leftovers: the first copy
// into it need not read it.
void rememberMadeEmpty(int folder, const std::string& key) noexcept {
    struct stat st;
    if (::fstat(folder, &st) != 0) return;
    try {
        std::lock_guard lock(scanMutex);
        if (scans.size() >= kMaxScans) scans.clear();
        FolderScan scan;
        rememberState(scan, st);
        scans.insert_or_assign(key, std::move(scan));
    } catch (...) {
    }
}

// A copy of ours into a folder, from before it looks for leftovers until its
// file has its name. Our own temporary files and renames change the folder;
// none of that leaves a leftover, so when the last copy of ours there ends
// the kept reading stays true.
class OwnWrite {
  public:
    // `key` outlives this writer (its folder's path).
    explicit OwnWrite(int folder, const std::string& key) : folder_(folder), key_(key) {
        std::lock_guard lock(scanMutex);
        ++ownWriters[key_];
    }
    ~OwnWrite() {
        std::lock_guard lock(scanMutex);
        const auto writers = ownWriters.find(key_);
        if (writers != ownWriters.end() && --writers->second <= 0) ownWriters.erase(writers);
        auto found = scans.find(key_);
        if (found == scans.end()) return;
        struct stat st;
        if (::fstat(folder_, &st) == 0)
            rememberState(found->second, st);
        else
            scans.erase(found);
    }
    OwnWrite(const OwnWrite&) = delete;
    OwnWrite& operator=(const OwnWrite&) = delete;

  private:
    int folder_;
    const std::string& key_;
};

constexpr off_t kCheckTargetFirstFrom = 1 << 20;

// An exclusive lock on an open folder for the object's life. A lock of the
// open folder (flock), not of the process, so it also keeps this process's
// threads apart; a file system through FUSE keeps it in the kernel.
class FolderLock {
  public:
    explicit FolderLock(int folder) noexcept
        : fd_(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        const int code = errno;
        while (fd_ && ::flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) {
        }
        errno = code;
    }

  private:
    Descriptor fd_;
};

// Moves the finished temporary file `temporary` to `target`, both in the open
// `folder`, without replacing an existing one.
bool renameNoReplace(int folder, const std::string& temporary, const std::string& target) noexcept {
    if (::syscall(SYS_renameat2, folder, temporary.c_str(), folder, target.c_str(),
                  RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    // The file system cannot refuse in a rename; a hard link refuses an existing name.
    if (::linkat(folder, temporary.c_str(), folder, target.c_str(), 0) == 0) {
        ::unlinkat(folder, temporary.c_str(), 0);
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return false;
    // No hard links either (FAT and exFAT through FUSE): test, then rename,
    // while holding the folder's lock, which every copy of this program, in
    // any process or thread, takes around the same two steps. A program that
    // writes there without it can still slip in between (README). The lock
    // ends with its holder, a killed one too; where the folder cannot be
    // locked the two steps go on without it.
    const FolderLock lock(folder);
    struct stat st;
    if (::fstatat(folder, target.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    faults::waitBeforeTakingFreeName();
    return ::renameat(folder, temporary.c_str(), folder, target.c_str()) == 0;
}

// The process's umask, read once: it is read without being changed only from
// /proc (changing it to read it would race with other threads' creations).
// Unknown: all bits, so the bits are always set after creation.
mode_t processUmask() noexcept {
    static const mode_t mask = [] {
        mode_t found = 0777;
        if (FILE* status = std::fopen("/proc/self/status", "re")) {
            char line[256];
            unsigned value = 0;
            while (std::fgets(line, sizeof line, status))
                if (std::sscanf(line, "Umask: %o", &value) == 1) found = value & 0777;
            std::fclose(status);
        }
        return found;
    }();
    return mask;
}

// Sets the permission bits of a temporary file. A file system that keeps none
// (FAT, some FUSE ones) refuses, and the copy goes on without them, as a copy
// to such a disk must.
bool setMode(int fd, mode_t mode) noexcept {
    if (::fchmod(fd, mode) == 0) return true;
    return errno == EPERM || errno == ENOSYS || errno == EOPNOTSUPP;
}

// An open folder: the handle every name of a copy or an atomic write is
// reached from, and the path text its messages and leftover scans name it by.
// Made from a path it opens the folder (a link to one too) and owns it.
struct OpenFolder {
    explicit OpenFolder(std::string text)
        : owned(posix::openPath(text, O_PATH | O_DIRECTORY | O_CLOEXEC)),
          fd(owned.get()),
          path(std::move(text)) {}
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    Descriptor owned;
    int fd = -1;
    std::string path;
};

// The file a copy or an atomic write fills before it takes the target's name:
// nameless where the file system allows, else under a temporary name. Either
// way it is locked until it has its final name, so no remover of leftovers
// ever takes it from a running writer. Every name is reached from the folder's
// handle, so the file lands in the folder that was opened whatever is renamed
// or swapped for a link meanwhile. The folder stays open while this lives.
class Temporary {
  public:
    explicit Temporary(int folder) : folder_(folder) {}
    ~Temporary() { discard(); }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    // Creates the file for a target named `base`, for writing and, with
    // `readable`, reading; false with errno set.
    bool create(std::string_view base, mode_t mode, bool readable = false) {
        const int access = readable ? O_RDWR : O_WRONLY;
        stem_ = temporary_names::stemOf(base);
        if (namelessPossible()) {
            // Nameless, nobody can reach it to remove it: it is locked only
            // if it ever gets a temporary name (see publish).
            fd_.reset(::openat(folder_, ".", O_TMPFILE | access | O_CLOEXEC, mode));
            if (fd_) return true;
            // Refused by the file system (FAT, network shares, overlays): a name.
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
        }
        fd_ = createNamed(folder_, stem_, mode, name_, access);
        return bool(fd_);
    }

    int fd() const noexcept { return fd_.get(); }

    // Reports what a file system tells only on close (a late write error), yet
    // keeps the file open, and so locked, through `dup`.
    bool flush() noexcept {
        Descriptor kept(::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0));
        if (!kept) return false;
        const bool ok = fd_.close();
        const int code = errno;
        fd_ = std::move(kept);
        errno = code;
        return ok;
    }

    // Gives the file the name `target` in the folder: without `replace` never
    // over an existing name (EEXIST). False with errno set.
    bool publish(const std::string& target, bool replace) {
        if (name_.empty()) {
            // A link refuses an existing name: the atomic "never replace", and
            // for a missing target (the usual case of a backup) the whole job.
            if (linkNameless(fd_.get(), folder_, target)) return true;
            if (errno != EEXIST || !replace) return false;
            // Linked under a temporary name, renamed over the target at once:
            // that name exists only for this instant, and is locked all along.
            lockForWriting(fd_.get());
            for (int attempt = 0; attempt < 100; ++attempt) {
                const std::string name = temporary_names::make(stem_);
                if (linkNameless(fd_.get(), folder_, name)) {
                    name_ = name;
                    break;
                }
                if (errno != EEXIST) return false;
            }
            if (name_.empty()) return false;
        }
        const bool moved = replace
                               ? ::renameat(folder_, name_.c_str(), folder_, target.c_str()) == 0
                               : renameNoReplace(folder_, name_, target);
        if (moved) name_.clear();
        return moved;
    }

    // Closes the file; a named one that never got its final name is removed.
    void discard() noexcept {
        if (!fd_ && name_.empty()) return;
        const int code = errno;
        if (!name_.empty()) ::unlinkat(folder_, name_.c_str(), 0);
        name_.clear();
        fd_.reset();
        errno = code;
    }

  private:
    int folder_;
    std::string stem_;
    Descriptor fd_;
    std::string name_;  // empty while nameless and once published
};

// How the file system of a copy reaches its device.
enum class Flushing {
    // Memory (tmpfs, ramfs): there is no device, and nothing to wait for.
    None,
    // syncfs flushes its bytes and names (ext4, XFS, btrfs).
    Whole,
    // Network shares, and FUSE drivers of a device of their own (exfat-fuse
    // writes its device at a file's flush): syncfs does not reach the server
    // or the driver, a file's own flush (and its folder's) does.
    FileByFile,
    // Other FUSE drivers: some (fusefat, whose image is a file of another
    // file system) never flush where their bytes go: a file's own flush and
    // then the whole system's.
    FileByFileThenSystem,
};

// Whether the FUSE file system on `device` is a driver's of a block device
// of its own ("fuseblk": exfat-fuse, ntfs-3g), which a file's flush makes it
// write, rather than one whose bytes go elsewhere (fusefat's image file, a
// share).
bool fuseOnItsOwnDevice(dev_t device) noexcept {
    FILE* mounts = std::fopen("/proc/self/mountinfo", "re");
    if (!mounts) return false;
    char line[4096];
    bool own = false;
    const std::string wanted =
        std::to_string(major(device)) + ":" + std::to_string(minor(device)) + " ";
    while (std::fgets(line, sizeof line, mounts)) {
        const std::string_view text = line;
        // "36 35 0:45 / /mnt rw - fuseblk /dev/loop0 ...": the third field, and
        // the type after " - ".
        const std::size_t third = text.find(' ', text.find(' ') + 1);
        const std::size_t dash = text.find(" - ");
        if (third == std::string_view::npos || dash == std::string_view::npos) continue;
        if (text.substr(third + 1, wanted.size()) != wanted) continue;
        own = text.substr(dash + 3).starts_with("fuseblk ");
        break;
    }
    std::fclose(mounts);
    return own;
}

// Asked once per device; each thread remembers the last device it asked of.
Flushing flushingOf(int folder, dev_t device) noexcept {
    thread_local std::optional<std::pair<dev_t, Flushing>> last;
    if (last && last->first == device) return last->second;
    static std::mutex mutex;
    static std::vector<std::pair<dev_t, Flushing>> known;
    try {
        std::lock_guard lock(mutex);
        for (const auto& [seen, flushing] : known) {
            if (seen != device) continue;
            last.emplace(device, flushing);
            return flushing;
        }
        struct statfs fs;
        Flushing flushing = Flushing::Whole;
        if (::fstatfs(folder, &fs) == 0) {
            switch (static_cast<unsigned long>(fs.f_type)) {
                case 0x01021994:  // tmpfs
                case 0x858458F6:  // ramfs
                    flushing = Flushing::None;
                    break;
                case 0x65735546:  // FUSE
                    flushing = fuseOnItsOwnDevice(device) ? Flushing::FileByFile
                                                          : Flushing::FileByFileThenSystem;
                    break;
                case 0x6969:      // NFS
                case 0x517B:      // SMB
                case 0xFE534D42:  // SMB2
                case 0xFF534D42:  // CIFS
                case 0x01021997:  // 9P
                case 0x00C36400:  // Ceph
                case 0x5346414F:  // AFS
                    flushing = Flushing::FileByFile;
                    break;
                default:
                    break;
            }
        }
        if (known.size() < 256) known.emplace_back(device, flushing);
        last.emplace(device, flushing);
        return flushing;
    } catch (...) {
        return Flushing::FileByFileThenSystem;
    }
}

// Flushes the entries of the open folder `folder` to the device. A file system
// that cannot flush a folder (some FUSE ones) says so: its names are then as
// durable as they get.
bool flushFolderAt(int folder) noexcept {
    const FlushUnderWay waiting;
    const Descriptor fd(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return false;
    return ::fsync(fd.get()) == 0 || errno == EINVAL || errno == ENOTSUP || errno == ENOSYS;
}

std::int64_t nanoseconds(const timespec& time) noexcept {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

SourceStamp stampOf(const struct stat& st) noexcept {
    return {st.st_size, nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

}  // namespace

struct TargetFolder::Folder {
    Folder(Descriptor handle, std::string text) : fd(std::move(handle)), path(std::move(text)) {}
    Descriptor fd;
    std::string path;
};

struct StagedCopy::State {
    explicit State(std::shared_ptr<const TargetFolder::Folder> in)
        : folder(std::move(in)), file(folder->fd.get()) {}
    std::shared_ptr<const TargetFolder::Folder> folder;
    Temporary file;
    std::string base;
    std::string target;
    bool replace = false;
    SourceStamp source;
    dev_t device = 0;
    bool flushedItself = false;  // its bytes are on the device
    bool published = false;
    std::optional<OwnWrite> ownWrite;  // until it has its name
};

StagedCopy::StagedCopy(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}
StagedCopy::~StagedCopy() = default;
StagedCopy::StagedCopy(StagedCopy&&) noexcept = default;
StagedCopy& StagedCopy::operator=(StagedCopy&&) noexcept = default;

const SourceStamp& StagedCopy::source() const noexcept {
    return state_->source;
}

const std::string& StagedCopy::path() const noexcept {
    return state_->target;
}

bool StagedCopy::published() const noexcept {
    return state_->published;
}

bool StagedCopy::sameFolder(const StagedCopy& other) const noexcept {
    return state_->folder == other.state_->folder;
}

Status StagedCopy::publish() noexcept {
    State& state = *state_;
    try {
        if (state.published) return {};
        if (!state.file.publish(state.base, state.replace)) {
            const int code = errno;
            state.file.discard();
            state.ownWrite.reset();
            return fail(code == EEXIST ? "will not replace" : "cannot rename to", state.target,
                        code);
        }
        state.published = true;
        state.file.discard();
        state.ownWrite.reset();
        return {};
    } catch (...) {
        return fail("out of memory copying to", state.target, ENOMEM);
    }
}

struct FileSystemFlush::State {
    struct Device {
        dev_t device = 0;
        Descriptor fd;  // a folder of it, for syncfs
        std::string path;
        bool written = false;
    };
    std::vector<Device> devices;
    // Folders on file systems flushed copy by copy that took names since the
    // last flush, and whether one of them needs the whole system flushed.
    std::vector<std::shared_ptr<const TargetFolder::Folder>> folders;
    bool system = false;

    void written(const StagedCopy::State& copy) {
        for (Device& known : devices) {
            if (known.device == copy.device) {
                known.written = true;
                return;
            }
        }
        Device device;
        device.device = copy.device;
        device.fd.reset(::openat(copy.folder->fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        device.path = copy.folder->path;
        device.written = true;
        devices.push_back(std::move(device));
    }
};

FileSystemFlush::FileSystemFlush() : state_(std::make_unique<State>()) {}
FileSystemFlush::~FileSystemFlush() = default;

void FileSystemFlush::noteStaged(StagedCopy& copy) noexcept {
    try {
        const StagedCopy::State& staged = copy.state();
        const Flushing flushing = flushingOf(staged.folder->fd.get(), staged.device);
        if (flushing == Flushing::Whole)
            state_->written(staged);
        else if (flushing == Flushing::FileByFileThenSystem)
            state_->system = true;
    } catch (...) {
    }
}

void FileSystemFlush::notePublished(StagedCopy& copy) noexcept {
    try {
        const StagedCopy::State& staged = copy.state();
        const Flushing flushing = flushingOf(staged.folder->fd.get(), staged.device);
        if (flushing == Flushing::None) return;
        if (flushing == Flushing::Whole) {
            state_->written(staged);
            return;
        }
        if (flushing == Flushing::FileByFileThenSystem) state_->system = true;
        auto& folders = state_->folders;
        if (std::find(folders.begin(), folders.end(), staged.folder) == folders.end())
            folders.push_back(staged.folder);
    } catch (...) {
    }
}

Status FileSystemFlush::flush() noexcept {
    const FlushUnderWay waiting;
    for (State::Device& device : state_->devices) {
        if (!device.written) continue;
        if (!device.fd) return fail("cannot open", device.path, EBADF);
        if (::syncfs(device.fd.get()) != 0)
            return fail("cannot flush the file system of", device.path, errno);
        device.written = false;
    }
    for (const auto& folder : state_->folders) {
        if (!flushFolderAt(folder->fd.get())) return fail("cannot flush", folder->path, errno);
    }
    state_->folders.clear();
    if (state_->system) {
        ::sync();
        state_->system = false;
    }
    return {};
}

namespace {

// Copies `source` to `base` in the open `folder`, up to its name; see
// host::StagedCopy and TargetFolder::setVerify.
Result<StagedCopy> stageInto(const std::string& source,
                             const std::shared_ptr<const TargetFolder::Folder>& folder,
                             const std::string& base, bool replace, bool verify) {
    auto state = std::make_unique<StagedCopy::State>(folder);
    state->target = joinPath(folder->path, base);
    const std::string& target = state->target;
    const int folderFd = folder->fd.get();
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just below.
    // Copying a file is not using it: O_NOATIME leaves its access time (and
    // its inode) untouched where the system lets us, the file's owner or a
    // process that may set any file's times.
    constexpr int kReading = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    Descriptor from = posix::openPath(source, kReading | O_NOATIME);
    if (!from && errno == EPERM) from = posix::openPath(source, kReading);
    if (!from) return fail("cannot open", source, errno);
    struct stat st;
    if (::fstat(from.get(), &st) != 0) return fail("cannot read the status of", source, errno);
    if (!S_ISREG(st.st_mode)) {
        return failBecause("cannot copy", source,
                           std::string("not a file but ") + posix::entryKind(st.st_mode),
                           S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    }
    // Its files are made up as they are read: some never end (a link to
    // /proc/self/pagemap would fill the target), and none is a file to keep.
    if (const char* pseudo = posix::pseudoFileSystem(from.get())) {
        return failBecause("cannot copy", source,
                           std::string("a file of the system's pseudo file system ") + pseudo +
                               ", made up as it is read",
                           EINVAL);
    }
    // The final rename refuses an existing target by itself; asking first only
    // pays where it spares copying many bytes for nothing.
    struct stat existing;
    if (!replace && st.st_size >= kCheckTargetFirstFrom &&
        ::fstatat(folderFd, base.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
        return fail("will not replace", target, EEXIST);

    state->base = base;
    state->replace = replace;
    state->source = stampOf(st);
    state->ownWrite.emplace(folderFd, folder->path);
    struct stat folderStatus;
    if (::fstat(folderFd, &folderStatus) != 0)
        return fail("cannot create a file in", folder->path, errno);
    state->device = folderStatus.st_dev;
    removeLeftovers(folderFd, folderStatus, folder->path, base);

    const Flushing flushing = flushingOf(folderFd, folderStatus.st_dev);
    // Made with the source's permission bits where the process's umask keeps
    // them all, which spares setting them afterwards.
    const mode_t mode = st.st_mode & 0777;
    const bool modeAtCreation = (mode & processUmask()) == 0;
    std::optional<base::Checksum> checksum;
    if (verify) checksum.emplace();
    Temporary& to = state->file;
    if (!to.create(base, modeAtCreation ? mode : 0600, verify))
        return fail("cannot create a file in", folder->path, errno);
    // Every failure from here on leaves no file behind (the temporary one
    // goes with the state).
    off_t got = 0;
    switch (posix::copyContent(from.get(), to.fd(), st, folderStatus.st_dev,
                               checksum ? &*checksum : nullptr, &got)) {
        case posix::ContentCopy::Copied:
            break;
        case posix::ContentCopy::Failed:
            return fail("cannot copy", source, errno);
        case posix::ContentCopy::EndedEarly:
            return failBecause("cannot copy", source,
                               "the source gave " + std::to_string(got) + " of " +
                                   std::to_string(st.st_size) + " bytes",
                               EIO);
    }
    // A copy is of one state of the source: written meanwhile (saved,
    // appended to, cut short), it may hold some of each.
    struct stat after;
    if (::fstat(from.get(), &after) != 0) return fail("cannot read the status of", source, errno);
    if (!(stampOf(after) == state->source))
        return failBecause("cannot copy", source, "the source changed while it was copied", EAGAIN);
    if (!modeAtCreation && !setMode(to.fd(), mode))
        return fail("cannot set the mode of", target, errno);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(to.fd(), times) != 0) return fail("cannot set the time of", target, errno);
    const bool flushItself =
        verify || flushing == Flushing::FileByFile || flushing == Flushing::FileByFileThenSystem;
    {
        // A share's close writes the file's cached bytes to the server.
        const FlushUnderWay waiting;
        if (!to.flush()) return fail("cannot write", target, errno);
        if (flushItself) {
            if (::fdatasync(to.fd()) != 0) return fail("cannot write", target, errno);
            state->flushedItself = true;
        }
    }
    if (verify) {
        if (faults::corruptThisCopy()) faults::damageCopy(to.fd());
        switch (posix::readBack(to.fd(), checksum->digest())) {
            case posix::ReadBack::Same:
                break;
            case posix::ReadBack::Different:
                return failBecause("cannot verify the copy", target,
                                   "it reads back from the device with other bytes than were "
                                   "written",
                                   EIO);
            case posix::ReadBack::Failed:
                return fail("cannot read back", target, errno);
        }
    }
    StagedCopy staged(std::move(state));
    // A FUSE driver (fusefat) loses track of names given in a folder long
    // after their files were made there, while others are made: such a copy
    // takes its name at once, as soon as the whole system has flushed its
    // bytes (the driver writes them to another file system, or to a device,
    // that only the whole system's flush reaches). In memory a copy has
    // nothing to wait for.
    if (flushing == Flushing::FileByFileThenSystem) {
        const FlushUnderWay waiting;
        ::sync();
    }
    if (flushing == Flushing::FileByFileThenSystem || flushing == Flushing::None) {
        if (Status named = staged.publish(); !named) return std::move(named).error();
    }
    return staged;
}

// A copy on its own: its bytes flushed, then its name, then its folder.
Status publishAlone(StagedCopy& copy) {
    const FlushUnderWay waiting;
    StagedCopy::State& state = copy.state();
    if (!state.published && !state.flushedItself && ::fdatasync(state.file.fd()) != 0)
        return fail("cannot write", state.target, errno);
    state.flushedItself = true;
    if (Status published = copy.publish(); !published) return published;
    if (!flushFolderAt(state.folder->fd.get()))
        return fail("cannot flush", state.folder->path, errno);
    return {};
}

// Opens `relative` (parts separated by "/", no "." or ".." part) below the
// open folder `root`, never leaving it and following no link, with openat2
// or part by part: a link to a folder in the target is left out of the
// target's walk, so what it leads to may hold files listed as only in the
// target, which a copy through the link would overwrite. Missing parts are
// made; `madeLast` tells whether the folder itself was. None with errno set
// (EXDEV or ELOOP: a part is a link or leads outside).
Descriptor openBeneath(int root, std::string_view relative, bool& madeLast) noexcept {
    madeLast = false;
    static std::atomic<bool> withOpenat2{true};
    const bool tryOpenat2 = !faults::withoutOpenat2();
    // Opens `path` (below the root) whose parent folder is open as `from`.
    auto open = [&](int from, const std::string& path) -> Descriptor {
        if (tryOpenat2 && withOpenat2.load()) {
            // From the root, a link may lead anywhere below it. A path too
            // long for one call (a tree deeper than PATH_MAX) has its last
            // part resolved from its parent, beneath that.
            const bool fromRoot = path.size() < PATH_MAX;
            open_how how{};
            how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
            how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
            const long fd =
                ::syscall(SYS_openat2, fromRoot ? root : from,
                          fromRoot ? path.c_str() : baseName(path).data(), &how, sizeof how);
            if (fd >= 0 || errno != ENOSYS) return Descriptor(static_cast<int>(fd));
            withOpenat2.store(false);
        }
        return Descriptor(
            ::openat(from, baseName(path).data(), O_PATH | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    };
    try {
        // The common case first: the whole folder is there.
        const std::string whole(relative.empty() ? "." : relative);
        if (tryOpenat2 && withOpenat2.load() && whole.size() < PATH_MAX) {
            Descriptor fd = open(root, whole);
            if (fd || errno != ENOENT) return fd;
        }
        // The walk starts at the root, which is not ours: `current` names the
        // folder reached, `owned` holds it once it is one we opened.
        Descriptor owned;
        int current = root;
        std::size_t start = 0;
        if (whole.size() >= PATH_MAX && tryOpenat2 && withOpenat2.load()) {
            // Deeper than one call reaches: the longest leading part that
            // one call does, when it is there, and part after part from it.
            const std::size_t cut = relative.rfind('/', PATH_MAX - 1);
            if (cut != std::string_view::npos && cut > 0) {
                Descriptor fd = open(root, std::string(relative.substr(0, cut)));
                if (fd) {
                    owned = std::move(fd);
                    current = owned.get();
                    start = cut + 1;
                }
            }
        }
        while (current >= 0 && start < relative.size()) {
            std::size_t stop = relative.find('/', start);
            if (stop == std::string_view::npos) stop = relative.size();
            const std::string prefix(relative.substr(0, stop));
            const std::string part(relative.substr(start, stop - start));
            start = stop + 1;
            if (part.empty()) continue;
            Descriptor next = open(current, prefix);
            madeLast = false;
            if (!next && errno == ENOENT) {
                madeLast = ::mkdirat(current, part.c_str(), 0777) == 0;
                if (!madeLast && errno != EEXIST) return Descriptor();
                next = open(current, prefix);
            }
            owned = std::move(next);
            current = owned.get();
        }
        if (current == root) return Descriptor(::fcntl(root, F_DUPFD_CLOEXEC, 0));
        return owned;
    } catch (...) {
        errno = ENOMEM;
        return Descriptor();
    }
}

}  // namespace

std::optional<SourceStamp> sourceStampOf(const std::string& path) noexcept {
    struct stat st;
    if (posix::statPath(path, st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return stampOf(st);
}

std::size_t openFileAllowance() noexcept {
    static const std::size_t allowance = [] {
        struct rlimit limit;
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return std::size_t{1024};
        const rlim_t wanted = std::min<rlim_t>(limit.rlim_max, 1 << 16);
        if (limit.rlim_cur < wanted) {
            struct rlimit raised = limit;
            raised.rlim_cur = wanted;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
        }
        return static_cast<std::size_t>(limit.rlim_cur);
    }();
    return allowance;
}

Status copyFileSafely(const std::string& source, const std::string& target, bool replace) noexcept {
    try {
        const std::string folderPath = folderOf(target);
        auto folder = std::make_shared<const TargetFolder::Folder>(
            posix::openPath(folderPath, O_PATH | O_DIRECTORY | O_CLOEXEC), folderPath);
        if (!folder->fd) return fail("cannot create a file in", folder->path, errno);
        Result<StagedCopy> staged =
            stageInto(source, folder, std::string(baseName(target)), replace, false);
        if (!staged) return std::move(staged).error();
        return publishAlone(*staged);
    } catch (...) {
        return fail("out of memory copying", source, ENOMEM);
    }
}

TargetFolder::TargetFolder(std::string root) : rootPath_(std::move(root)) {}

TargetFolder::~TargetFolder() = default;

Result<TargetFolder::Reach> TargetFolder::enter(std::string_view relative) noexcept {
    try {
        relative = trimmedRelative(relative);
        if (folder_ && relative == relative_) return Reach::Reached;
        folder_.reset();
        relative_.assign(relative);
        path_ = relative.empty() ? rootPath_ : joinPath(rootPath_, relative);
        // Opened at the first copy: a root made after the run began is found.
        if (!root_ || !root_->fd) {
            root_ =
                std::make_shared<const Folder>(posix::openPath(rootPath_.empty() ? "." : rootPath_,
                                                               O_PATH | O_DIRECTORY | O_CLOEXEC),
                                               rootPath_);
        }
        bool made = false;
        Descriptor handle;
        if (root_->fd) handle = openBeneath(root_->fd.get(), relative, made);
        if (handle) {
            if (made) rememberMadeEmpty(handle.get(), path_);
            folder_ = std::make_shared<const Folder>(std::move(handle), path_);
            return Reach::Reached;
        }
        const int code = errno;
        if (code == EXDEV || code == ELOOP) return Reach::Outside;
        return fail("cannot create a file in", path_, code);
    } catch (...) {
        return fail("out of memory opening", rootPath_, ENOMEM);
    }
}

void TargetFolder::leave() noexcept {
    folder_.reset();
}

bool TargetFolder::isAt(std::string_view relative) const noexcept {
    return folder_ && trimmedRelative(relative) == relative_;
}

bool TargetFolder::destinationGone() const noexcept {
    struct stat st;
    return folder_ && (::fstat(folder_->fd.get(), &st) != 0 || st.st_nlink == 0);
}

bool TargetFolder::nameTaken(const std::string& name) const noexcept {
    struct stat st;
    return folder_ && ::fstatat(folder_->fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::optional<FileStatus> TargetFolder::statusOf(const std::string& name) const noexcept {
    struct stat st;
    if (!folder_ || ::fstatat(folder_->fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileStatus{st.st_size, st.st_mtim.tv_sec, st.st_ctim.tv_sec};
}

Result<StagedCopy> TargetFolder::stage(const std::string& source, const std::string& name,
                                       bool replace) noexcept {
    try {
        if (!folder_) return fail("cannot create a file in", path_, EBADF);
        return stageInto(source, folder_, name, replace, verify_);
    } catch (...) {
        return fail("out of memory copying", source, ENOMEM);
    }
}

Status TargetFolder::copyHere(const std::string& source, const std::string& name,
                              bool replace) noexcept {
    try {
        Result<StagedCopy> staged = stage(source, name, replace);
        if (!staged) return std::move(staged).error();
        return publishAlone(*staged);
    } catch (...) {
        return fail("out of memory copying", source, ENOMEM);
    }
}

void TargetFolder::removeLeftoversOf(const std::string& name) noexcept {
    struct stat st;
    if (!folder_ || ::fstat(folder_->fd.get(), &st) != 0) return;
    try {
        removeLeftovers(folder_->fd.get(), st, path_, name);
    } catch (...) {
    }
}

Status writeFileAtomically(const std::string& path, std::string_view bytes, bool durable) noexcept {
    try {
        // Through a link the file it names is replaced, not the link.
        std::string real = path;
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            if (char* resolved = ::realpath(path.c_str(), nullptr)) {
                real = resolved;
                ::free(resolved);
            }
        }
        const bool exists = ::stat(real.c_str(), &st) == 0;
        const OpenFolder folder(folderOf(real));
        if (folder.fd < 0) return fail("cannot create a file in", folder.path, errno);
        Temporary file(folder.fd);
        if (!file.create(baseName(real), 0666))
            return fail("cannot create a file in", folder.path, errno);
        const FlushUnderWay waiting;
        const bool ok = writeAll(file.fd(), bytes.data(), bytes.size()) &&
                        (!exists || setMode(file.fd(), st.st_mode & 07777)) &&
                        (!durable || ::fdatasync(file.fd()) == 0) && file.flush() &&
                        file.publish(std::string(baseName(real)), true);
        if (!ok) {
            const int code = errno;
            file.discard();
            return fail("cannot write", real, code);
        }
        // The new name is an entry of the folder: flushed with it.
        if (durable) return flushFolder(folder.path);
        return {};
    } catch (...) {
        return fail("out of memory writing", path, ENOMEM);
    }
}

}  // namespace host
