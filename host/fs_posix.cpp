#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <unordered_map>

#include "host/fs.h"
#include "host/listing_order.h"
#include "host/paths.h"
#include "host/temporary_names.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace host {

namespace {

std::string systemReason(int error) {
    return std::system_category().message(error);
}

bool fail(std::string* error, std::string_view what, const std::string& path, int code) noexcept {
    if (error) {
        try {
            *error = std::string(what) + " \"" + path + "\": " + systemReason(code);
        } catch (...) {
        }
    }
    errno = code;
    return false;
}

std::string folderOf(const std::string& path) {
    const std::string_view parent = parentPath(path);
    return parent.empty() ? std::string(".") : std::string(parent);
}

// The test switches; -2 means "not yet read from the environment".
std::atomic<int> namedSwitch{-2};
std::atomic<long long> killSwitch{-2};

bool namedTemporariesForced() noexcept {
    int named = namedSwitch.load();
    if (named == -2) {
        const char* value = std::getenv("ZARVIK_TEST_NAMED_TEMPORARIES");
        named = value && *value && std::strcmp(value, "0") != 0 ? 1 : 0;
        namedSwitch.store(named);
    }
    return named == 1;
}

long long killCopyAfter() noexcept {
    long long bytes = killSwitch.load();
    if (bytes == -2) {
        const char* value = std::getenv("ZARVIK_TEST_KILL_COPY_AFTER");
        bytes = value && *value ? std::strtoll(value, nullptr, 10) : -1;
        if (bytes < 0) bytes = -1;
        killSwitch.store(bytes);
    }
    return bytes;
}

// A nameless file is named through its /proc/self/fd link (AT_EMPTY_PATH
// would need a privilege ordinary users lack); without /proc it cannot be.
bool namelessPossible() noexcept {
    static const bool possible = ::access("/proc/self/fd", X_OK) == 0;
    return possible && !namedTemporariesForced();
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
void removeIfUnlocked(const std::string& path) noexcept {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return;
    struct stat st;
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    // Removed while our lock is held, so a writer that made this name in the
    // same instant finds its lock refused or its file unlinked, and makes another.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fcntl(fd, F_OFD_SETLK, &lock) == 0)
        ::unlink(path.c_str());
    ::close(fd);
}

// Creates a new temporary file with a temporary name in `folder`, locked;
// returns its descriptor (or -1 with errno set) and its path.
int createNamed(const std::string& folder, std::string_view stem, mode_t mode, std::string& path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = joinPath(folder, temporary_names::make(stem));
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return -1;
        }
        struct stat st;
        if (lockForWriting(fd) && ::fstat(fd, &st) == 0 && st.st_nlink > 0) return fd;
        // A remover of leftovers took the name first; it unlinks it.
        ::close(fd);
    }
    errno = EEXIST;
    return -1;
}

// Links a nameless file (through the descriptor `fd`) under `path`; fails with
// EEXIST when the name is taken.
bool linkNameless(int fd, const std::string& path) noexcept {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, link, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
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

bool sameState(const FolderScan& scan, const struct stat& st) noexcept {
    return scan.device == st.st_dev && scan.inode == st.st_ino &&
           scan.modified.tv_sec == st.st_mtim.tv_sec && scan.modified.tv_nsec == st.st_mtim.tv_nsec;
}

void rememberState(FolderScan& scan, const struct stat& st) noexcept {
    scan.device = st.st_dev;
    scan.inode = st.st_ino;
    scan.modified = st.st_mtim;
}

void removeLeftovers(const std::string& folder, std::string_view base) {
    std::lock_guard lock(scanMutex);
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0) return;
    auto found = scans.find(folder);
    if (found == scans.end() || !sameState(found->second, st)) {
        if (scans.size() >= kMaxScans) scans.clear();
        FolderScan scan;
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) return;
        while (const dirent* entry = ::readdir(dir)) {
            if (isTemporaryName(entry->d_name)) scan.temporaryNames.emplace_back(entry->d_name);
        }
        ::closedir(dir);
        rememberState(scan, st);
        found = scans.insert_or_assign(folder, std::move(scan)).first;
    }
    const std::string_view stem = temporary_names::stemOf(base);
    auto& names = found->second.temporaryNames;
    // A name still there after the attempt belongs to a writer that is running;
    // it stays in the list for the next copy to try again.
    std::erase_if(names, [&](const std::string& name) {
        if (!temporary_names::isFor(name, stem)) return false;
        const std::string path = joinPath(folder, name);
        removeIfUnlocked(path);
        struct stat left;
        return ::lstat(path.c_str(), &left) != 0;
    });
}

// Our own temporary files and renames changed the folder; none of that leaves a
// leftover, so the kept reading stays true.
void refreshScan(const std::string& folder) {
    std::lock_guard lock(scanMutex);
    auto found = scans.find(folder);
    if (found == scans.end()) return;
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0)
        rememberState(found->second, st);
    else
        scans.erase(found);
}

// The injected "disk full": bytes left, and below which folder.
struct InjectedFailure {
    std::mutex mutex;
    std::atomic<bool> active{false};
    long long budget = 0;
    std::string folder;  // with a trailing separator; empty: everywhere
};
InjectedFailure injected;

// How many of `size` bytes the injected failure lets through to `fd`.
std::size_t injectedAllowance(int fd, std::size_t size) noexcept {
    if (!injected.active.load()) return size;
    std::lock_guard lock(injected.mutex);
    if (!injected.folder.empty()) {
        char link[64];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        char path[PATH_MAX + 1];
        const ssize_t length = ::readlink(link, path, PATH_MAX);
        if (length < 0 || std::string_view(path, static_cast<std::size_t>(length))
                                  .substr(0, injected.folder.size()) != injected.folder)
            return size;
    }
    const auto allowed =
        static_cast<std::size_t>(std::min(injected.budget, static_cast<long long>(size)));
    injected.budget -= static_cast<long long>(allowed);
    return allowed;
}

bool writeAll(int fd, const char* data, std::size_t size) noexcept {
    while (size > 0) {
        const std::size_t allowed = injectedAllowance(fd, size);
        if (allowed == 0) {
            errno = ENOSPC;
            return false;
        }
        const ssize_t written = ::write(fd, data, allowed);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool copyByReading(int from, int to) noexcept {
    const long long killAfter = killCopyAfter();
    long long copied = 0;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (killAfter >= 0 && copied + got > killAfter) {
            writeAll(to, buffer, static_cast<std::size_t>(killAfter - copied));
            ::kill(::getpid(), SIGKILL);
        }
        if (!writeAll(to, buffer, static_cast<std::size_t>(got))) return false;
        copied += got;
    }
}

// `expected` is the size the source had when opened: once that much has gone
// over, the copy is the file as it was opened and no call is spent to hear EOF.
bool copyContent(int from, int to, std::size_t expected) noexcept {
    // An injected disk failure counts the bytes that go through writeAll, and
    // the kill switch stops in the middle of them.
    if (injected.active.load() || killCopyAfter() >= 0) return copyByReading(from, to);
    std::size_t total = 0;
    for (;;) {
        const ssize_t copied = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (copied > 0) {
            total += static_cast<std::size_t>(copied);
            if (expected > 0 && total >= expected) return true;
            continue;
        }
        if (copied == 0) {
            // Some pseudo file systems report 0 at once; reading tells the truth.
            return total > 0 ? true : copyByReading(from, to);
        }
        if (errno == EINTR) continue;
        switch (errno) {
            case EXDEV:
            case ENOSYS:
            case EINVAL:
            case EOPNOTSUPP:
            case EBADF:
            case EPERM:
            case ETXTBSY:
                // The fast path is refused here; both offsets are where it stopped.
                return copyByReading(from, to);
            default:
                return false;
        }
    }
}

constexpr off_t kCheckTargetFirstFrom = 1 << 20;

// Moves the finished temporary file to `target` without replacing an existing one.
bool renameNoReplace(const std::string& temporary, const std::string& target) noexcept {
    if (::syscall(SYS_renameat2, AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(),
                  RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    // The file system cannot refuse in a rename; a hard link refuses an existing name.
    if (::link(temporary.c_str(), target.c_str()) == 0) {
        ::unlink(temporary.c_str());
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return false;
    // No hard links either (FAT-like): test, then rename. Only another writer racing
    // for the same name in between could be replaced.
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(temporary.c_str(), target.c_str()) == 0;
}

// Sets the permission bits of a temporary file. A file system that keeps none
// (FAT, some FUSE ones) refuses, and the copy goes on without them, as a copy
// to such a disk must.
bool setMode(int fd, mode_t mode) noexcept {
    if (::fchmod(fd, mode) == 0) return true;
    return errno == EPERM || errno == ENOSYS || errno == EOPNOTSUPP;
}

// The file a copy or an atomic write fills before it takes the target's name:
// nameless where the file system allows, else under a temporary name. Either
// way it is locked until it has its final name, so no remover of leftovers
// ever takes it from a running writer.
class Temporary {
  public:
    explicit Temporary(std::string folder) : folder_(std::move(folder)) {}
    ~Temporary() { discard(); }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    // Creates the file for a target named `base`; false with errno set.
    bool create(std::string_view base, mode_t mode) {
        stem_ = temporary_names::stemOf(base);
        if (namelessPossible()) {
            fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
            if (fd_ >= 0) {
                lockForWriting(fd_);
                return true;
            }
            // Refused by the file system (FAT, network shares, overlays): a name.
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
        }
        fd_ = createNamed(folder_, stem_, mode, path_);
        return fd_ >= 0;
    }

    int fd() const noexcept { return fd_; }

    // Reports what a file system tells only on close (a late write error), yet
    // keeps the file open, and so locked, through `dup`.
    bool flush() noexcept {
        const int kept = ::dup(fd_);
        if (kept < 0) return false;
        const bool ok = ::close(fd_) == 0;
        fd_ = kept;
        return ok;
    }

    // Gives the file the name `target`: without `replace` never over an
    // existing name (EEXIST). False with errno set.
    bool publish(const std::string& target, bool replace) {
        if (path_.empty()) {
            // A link refuses an existing name: the atomic "never replace", and
            // for a missing target (the usual case of a backup) the whole job.
            if (linkNameless(fd_, target)) return true;
            if (errno != EEXIST || !replace) return false;
            // Linked under a temporary name, renamed over the target at once:
            // that name exists only for this instant, and is locked all along.
            for (int attempt = 0; attempt < 100; ++attempt) {
                const std::string path = joinPath(folder_, temporary_names::make(stem_));
                if (linkNameless(fd_, path)) {
                    path_ = path;
                    break;
                }
                if (errno != EEXIST) return false;
            }
            if (path_.empty()) return false;
        }
        const bool moved =
            replace ? ::rename(path_.c_str(), target.c_str()) == 0 : renameNoReplace(path_, target);
        if (moved) path_.clear();
        return moved;
    }

    // Closes the file; a named one that never got its final name is removed.
    void discard() noexcept {
        if (fd_ < 0 && path_.empty()) return;
        const int code = errno;
        if (!path_.empty()) ::unlink(path_.c_str());
        path_.clear();
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        refreshScan(folder_);
        errno = code;
    }

  private:
    std::string folder_;
    std::string stem_;
    int fd_ = -1;
    std::string path_;  // empty while nameless and once published
};

}  // namespace

bool fileExists(const std::string& path) noexcept {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool folderExists(const std::string& path) noexcept {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool createFolder(const std::string& path) noexcept {
    return ::mkdir(path.c_str(), 0777) == 0;
}

std::int64_t fileLength(const std::string& path) noexcept {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

std::string currentDirectory() {
    std::string buffer(PATH_MAX, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size())) {
            buffer.resize(std::char_traits<char>::length(buffer.c_str()));
            return buffer;
        }
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string programDirectory() {
    std::string buffer(PATH_MAX, '\0');
    for (;;) {
        const ssize_t got = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (got < 0) return currentDirectory();
        if (static_cast<std::size_t>(got) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(got));
            return std::string(parentPath(buffer));
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<FileTimes> fileTimes(const std::string& path) noexcept {
    struct statx sx;
    if (::statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT,
                STATX_MTIME | STATX_CTIME | STATX_BTIME, &sx) == 0) {
        FileTimes times;
        times.modified = static_cast<std::time_t>(sx.stx_mtime.tv_sec);
        const bool hasBirth = (sx.stx_mask & STATX_BTIME) && sx.stx_btime.tv_sec != 0;
        times.created =
            static_cast<std::time_t>(hasBirth ? sx.stx_btime.tv_sec : sx.stx_ctime.tv_sec);
        return times;
    }
    if (errno != ENOSYS) return std::nullopt;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileTimes{st.st_mtime, st.st_ctime};
}

bool copyFileSafely(const std::string& source, const std::string& target, bool replace,
                    std::string* error) noexcept {
    try {
        // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just below.
        const int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (from < 0) return fail(error, "cannot open", source, errno);
        struct stat st;
        if (::fstat(from, &st) != 0) {
            const int code = errno;
            ::close(from);
            return fail(error, "cannot read the status of", source, code);
        }
        if (!S_ISREG(st.st_mode)) {
            ::close(from);
            return fail(error, "cannot copy", source, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        }
        // The final rename refuses an existing target by itself; asking first only
        // pays where it spares copying many bytes for nothing.
        struct stat existing;
        if (!replace && st.st_size >= kCheckTargetFirstFrom &&
            ::lstat(target.c_str(), &existing) == 0) {
            ::close(from);
            return fail(error, "will not replace", target, EEXIST);
        }

        const std::string folder = folderOf(target);
        const std::string_view base = baseName(target);
        removeLeftovers(folder, base);

        Temporary to(folder);
        if (!to.create(base, 0600)) {
            const int code = errno;
            ::close(from);
            return fail(error, "cannot create a file in", folder, code);
        }
        auto abandon = [&](std::string_view what, const std::string& path, int code) {
            ::close(from);
            to.discard();
            return fail(error, what, path, code);
        };
        if (!copyContent(from, to.fd(), static_cast<std::size_t>(st.st_size)))
            return abandon("cannot copy", source, errno);
        if (!setMode(to.fd(), st.st_mode & 0777))
            return abandon("cannot set the mode of", target, errno);
        const timespec times[2] = {st.st_atim, st.st_mtim};
        if (::futimens(to.fd(), times) != 0)
            return abandon("cannot set the time of", target, errno);
        if (!to.flush()) return abandon("cannot write", target, errno);
        if (!to.publish(target, replace)) {
            const int code = errno;
            return abandon(code == EEXIST ? "will not replace" : "cannot rename to", target, code);
        }
        ::close(from);
        to.discard();
        return true;
    } catch (...) {
        return fail(error, "out of memory copying", source, ENOMEM);
    }
}

std::optional<std::string> readFile(const std::string& path, std::string* reason) {
    auto failed = [&](int code) -> std::optional<std::string> {
        if (reason) *reason = systemReason(code);
        return std::nullopt;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return failed(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int code = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return failed(code);
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            const int code = errno;
            ::close(fd);
            return failed(code);
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return bytes;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes,
                         std::string* error) noexcept {
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
        const std::string folder = folderOf(real);
        Temporary file(folder);
        if (!file.create(baseName(real), 0666))
            return fail(error, "cannot create a file in", folder, errno);
        const bool ok = writeAll(file.fd(), bytes.data(), bytes.size()) &&
                        (!exists || setMode(file.fd(), st.st_mode & 07777)) && file.flush() &&
                        file.publish(real, true);
        if (!ok) {
            const int code = errno;
            file.discard();
            return fail(error, "cannot write", real, code);
        }
        return true;
    } catch (...) {
        return fail(error, "out of memory writing", path, ENOMEM);
    }
}

bool appendToFile(const std::string& path, std::string_view bytes) noexcept {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes.data(), bytes.size());
    if (::close(fd) != 0) ok = false;
    return ok;
}

void setWriteFailureAfterBytesForTesting(long long bytes, std::string folder) noexcept {
    std::lock_guard lock(injected.mutex);
    injected.budget = bytes;
    injected.folder.clear();
    if (bytes >= 0 && !folder.empty()) {
        // The descriptors name resolved paths.
        if (char* resolved = ::realpath(folder.c_str(), nullptr)) {
            injected.folder = resolved;
            ::free(resolved);
        } else {
            injected.folder = std::move(folder);
        }
        injected.folder += '/';
    }
    injected.active.store(bytes >= 0);
}

void setNamedTemporariesForTesting(bool named) noexcept {
    namedSwitch.store(named ? 1 : 0);
}

void setKillCopyAfterBytesForTesting(long long bytes) noexcept {
    killSwitch.store(bytes < 0 ? -1 : bytes);
}

bool listDirectory(const std::string& folder, int mask, std::vector<ListingEntry>& entries) {
    entries.clear();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    // Bit 2 (hidden) and bit 4 (system) of the mask both bring in hidden names;
    // bit 16 brings in sub-folders.
    const bool withHidden = (mask & 6) != 0;
    const bool withFolders = (mask & 16) != 0;
    const int dirFd = ::dirfd(dir);
    detail::ListingCollector found;
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(dir);
        if (!item) {
            if (errno != 0) {
                ::closedir(dir);
                return false;
            }
            break;
        }
        const std::string_view name = item->d_name;
        if (name == "." || name == "..") continue;
        if (name.front() == '.' && !withHidden) continue;
        if (isTemporaryName(name)) continue;
        bool isFolder = false;
        switch (item->d_type) {
            case DT_REG:
                break;
            case DT_DIR:
                isFolder = true;
                break;
            case DT_LNK:
            case DT_UNKNOWN: {
                struct stat st;
                if (::fstatat(dirFd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                if (S_ISLNK(st.st_mode)) {
                    // A link counts as what it points at, and only a file will do.
                    if (::fstatat(dirFd, item->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
                        continue;
                } else if (S_ISDIR(st.st_mode)) {
                    isFolder = true;
                } else if (!S_ISREG(st.st_mode)) {
                    continue;
                }
                break;
            }
            default:
                continue;  // FIFOs, sockets, devices
        }
        if (isFolder && !withFolders) continue;
        found.add(std::string(name), isFolder);
    }
    ::closedir(dir);
    found.sortInto(entries);
    return true;
}

}  // namespace host
