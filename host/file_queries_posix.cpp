// Reading files and folders on POSIX: existence, lengths, times, whole-file
// reads, appends to a log, and folder listings.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/listing_order.h"
#include "base/temporary_names.h"
#include "host/descriptor_posix.h"
#include "host/file_content_posix.h"
#include "host/fs.h"
#include "host/long_path_posix.h"
#include "host/paths.h"
#include "host/progress.h"

namespace host {

using posix::fail;
using posix::openPath;
using posix::statPath;
using posix::systemReason;
using posix::writeAll;

bool fileExists(const std::string& path) noexcept {
    struct stat st;
    return statPath(path, st) == 0 && S_ISREG(st.st_mode);
}

bool folderExists(const std::string& path) noexcept {
    struct stat st;
    return statPath(path, st) == 0 && S_ISDIR(st.st_mode);
}

Status createFolder(const std::string& path) {
    if (posix::makeFolderPath(path, 0777) != 0) return fail("cannot create", path, errno);
    return {};
}

Result<std::int64_t> fileLength(const std::string& path) {
    struct stat st;
    if (statPath(path, st) != 0) return fail("cannot read the status of", path, errno);
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
    const posix::LongPath at(path);
    if (at.folder() == -1) return std::nullopt;
    struct statx sx;
    if (::statx(at.folder(), at.rest(), AT_STATX_SYNC_AS_STAT,
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
    if (::fstatat(at.folder(), at.rest(), &st, 0) != 0) return std::nullopt;
    return FileTimes{st.st_mtime, st.st_ctime};
}

Result<bool> readFileInPieces(const std::string& path,
                              const std::function<bool(std::string_view, std::uint64_t)>& take) {
    const posix::Descriptor fd = openPath(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (!fd) return fail("cannot open", path, errno);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return fail("cannot read the status of", path, errno);
    if (!S_ISREG(st.st_mode))
        return fail("cannot read", path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    const auto length = static_cast<std::uint64_t>(st.st_size);
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return fail("cannot read", path, errno);
        }
        if (!take({buffer, static_cast<std::size_t>(got)}, length)) return false;
    }
}

Status appendToFile(const std::string& path, std::string_view bytes) noexcept {
    posix::Descriptor fd = openPath(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (!fd) return fail("cannot open", path, errno);
    if (!writeAll(fd.get(), bytes.data(), bytes.size())) return fail("cannot write", path, errno);
    if (!fd.close()) return fail("cannot write", path, errno);
    return {};
}

Status listDirectory(const std::string& folder, int mask, std::vector<ListingEntry>& entries,
                     std::vector<std::optional<FileStatus>>* statuses) {
    entries.clear();
    if (statuses) statuses->clear();
    const auto failed = [&folder](int code) { return fail("cannot list", folder, code); };
    // Reached through its ancestors when its path is too long for one call:
    // a walk has no depth limit.
    posix::Descriptor opened = openPath(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (!opened) return failed(errno);
    DIR* dir = ::fdopendir(opened.get());
    if (!dir) return failed(errno);
    opened.release();  // closedir closes it
    const std::unique_ptr<DIR, int (*)(DIR*)> closing(dir, &::closedir);
    // Bit 2 (hidden) and bit 4 (system) of the mask both bring in hidden names;
    // bit 16 brings in sub-folders.
    const bool withHidden = (mask & 6) != 0;
    const bool withFolders = (mask & 16) != 0;
    const int dirFd = ::dirfd(dir);
    base::detail::ListingCollector found;
    for (;;) {
        markProgress();
        errno = 0;
        const dirent* item = ::readdir(dir);
        if (!item) {
            if (errno != 0) return failed(errno);
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
    found.sortInto(entries);
    if (statuses) {
        // From the folder still open: no path is resolved again per file.
        statuses->resize(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            (*statuses)[i] = posix::statusAt(dirFd, entries[i].name);
            markProgress();
        }
    }
    return {};
}

EntryInfo lookUpEntry(const std::string& path) {
    using Kind = EntryInfo::Kind;
    struct stat st;
    if (statPath(path, st) != 0) {
        const int code = errno;
        return {code == ENOENT || code == ENOTDIR ? Kind::Missing : Kind::Unreadable,
                systemReason(code)};
    }
    const Kind kind = S_ISREG(st.st_mode)   ? Kind::File
                      : S_ISDIR(st.st_mode) ? Kind::Folder
                                            : Kind::Other;
    return {kind, posix::entryKind(st.st_mode)};
}

}  // namespace host
