#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <unordered_map>

#include "host/copy_names.h"
#include "host/fs.h"
#include "host/listing_order.h"
#include "host/paths.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace host {

namespace {

// "." + name + "." + 8 hex digits + ".partial" must fit in one name of the file system.

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

// The name part that goes into a temporary name: the whole base name, or for a
// name so long that the temporary name would not fit, its start cut at a UTF-8
// character boundary.
std::string_view temporaryStem(std::string_view base) noexcept {
    if (base.size() + copy_names::kOverhead <= copy_names::kNameMax) return base;
    std::size_t length = copy_names::kNameMax - copy_names::kOverhead;
    while (length > 1 && (static_cast<unsigned char>(base[length]) & 0xC0) == 0x80) --length;
    return base.substr(0, length);
}

// True when `name` is a temporary name made for a target whose stem is `stem`.
bool isTemporaryNameOf(std::string_view name, std::string_view stem) noexcept {
    return name.size() == stem.size() + copy_names::kOverhead && isCopyTemporaryName(name) &&
           name.substr(1, stem.size()) == stem;
}

// Seeded once per thread: the names only need to differ, and O_EXCL settles a
// clash, so a system call for every file would buy nothing.
std::string randomHex() {
    thread_local unsigned long long state = [] {
        unsigned long long seed = 0;
        if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof seed))
            seed = static_cast<unsigned long long>(
                std::chrono::steady_clock::now().time_since_epoch().count());
        return seed ^ (static_cast<unsigned long long>(getpid()) << 32);
    }();
    // splitmix64
    state += 0x9E3779B97F4A7C15ull;
    unsigned long long mixed = state;
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ull;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBull;
    mixed ^= mixed >> 31;
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(copy_names::kRandomLength, '0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = digits[(mixed >> (4 * i)) & 15];
    return text;
}

// Creates a new temporary file for `target` in `folder`; returns its descriptor
// (or -1 with errno set) and its path.
int createTemporary(const std::string& folder, std::string_view base, mode_t mode,
                    std::string& temporaryPath) {
    const std::string_view stem = temporaryStem(base);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".";
        name += stem;
        name += '.';
        name += randomHex();
        name += copy_names::kSuffix;
        temporaryPath = joinPath(folder, name);
        const int fd = ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
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
            if (isCopyTemporaryName(entry->d_name)) scan.temporaryNames.emplace_back(entry->d_name);
        }
        ::closedir(dir);
        rememberState(scan, st);
        found = scans.insert_or_assign(folder, std::move(scan)).first;
    }
    const std::string_view stem = temporaryStem(base);
    auto& names = found->second.temporaryNames;
    std::erase_if(names, [&](const std::string& name) {
        if (!isTemporaryNameOf(name, stem)) return false;
        ::unlink(joinPath(folder, name).c_str());
        return true;
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
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (!writeAll(to, buffer, static_cast<std::size_t>(got))) return false;
    }
}

// `expected` is the size the source had when opened: once that much has gone
// over, the copy is the file as it was opened and no call is spent to hear EOF.
bool copyContent(int from, int to, std::size_t expected) noexcept {
    // An injected disk failure counts the bytes that go through writeAll.
    if (injected.active.load()) return copyByReading(from, to);
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

        std::string temporary;
        const int to = createTemporary(folder, base, 0600, temporary);
        if (to < 0) {
            const int code = errno;
            ::close(from);
            return fail(error, "cannot create a file in", folder, code);
        }
        auto abandon = [&](std::string_view what, const std::string& path, int code) {
            ::close(to);
            ::close(from);
            ::unlink(temporary.c_str());
            refreshScan(folder);
            return fail(error, what, path, code);
        };
        if (!copyContent(from, to, static_cast<std::size_t>(st.st_size)))
            return abandon("cannot copy", source, errno);
        if (::fchmod(to, st.st_mode & 0777) != 0)
            return abandon("cannot set the mode of", target, errno);
        const timespec times[2] = {st.st_atim, st.st_mtim};
        if (::futimens(to, times) != 0) return abandon("cannot set the time of", target, errno);
        ::close(from);
        // Some file systems report a failed write only on close.
        if (::close(to) != 0) {
            const int code = errno;
            ::unlink(temporary.c_str());
            refreshScan(folder);
            return fail(error, "cannot write", target, code);
        }
        const bool moved = replace ? ::rename(temporary.c_str(), target.c_str()) == 0
                                   : renameNoReplace(temporary, target);
        if (!moved) {
            const int code = errno;
            ::unlink(temporary.c_str());
            refreshScan(folder);
            return fail(error, code == EEXIST ? "will not replace" : "cannot rename to", target,
                        code);
        }
        refreshScan(folder);
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
        std::string temporary;
        const int fd = createTemporary(folder, baseName(real), 0666, temporary);
        if (fd < 0) return fail(error, "cannot create a file in", folder, errno);
        bool ok = writeAll(fd, bytes.data(), bytes.size());
        if (ok && exists) ok = ::fchmod(fd, st.st_mode & 07777) == 0;
        int code = ok ? 0 : errno;
        if (::close(fd) != 0 && ok) {
            ok = false;
            code = errno;
        }
        if (ok && ::rename(temporary.c_str(), real.c_str()) != 0) {
            ok = false;
            code = errno;
        }
        if (!ok) {
            ::unlink(temporary.c_str());
            return fail(error, "cannot write", real, code);
        }
        refreshScan(folder);
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
        if (isCopyTemporaryName(name)) continue;
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
