#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "host/durability.h"
#include "host/file_content_posix.h"
#include "host/paths.h"

namespace host {

using posix::fail;
using posix::folderOf;

bool flushFileSystem(const std::string& path, std::string* error) noexcept {
    const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return fail(error, "cannot open", path, errno);
    const bool ok = ::syncfs(fd) == 0;
    const int code = errno;
    ::close(fd);
    return ok || fail(error, "cannot flush the file system of", path, code);
}

bool flushFolder(const std::string& folder, std::string* error) noexcept {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return fail(error, "cannot open", folder, errno);
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP || errno == ENOSYS;
    const int code = errno;
    ::close(fd);
    return ok || fail(error, "cannot flush", folder, code);
}

bool removeFileDurably(const std::string& path, std::string* error) noexcept {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return fail(error, "cannot remove", path, errno);
    try {
        return flushFolder(folderOf(path), error);
    } catch (...) {
        return fail(error, "out of memory removing", path, ENOMEM);
    }
}

JournalFile::~JournalFile() {
    close();
}

bool JournalFile::open(const std::string& path, std::string* error) noexcept {
    close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return fail(error, "cannot open", path, errno);
    handle_ = fd;
    try {
        path_ = path;
    } catch (...) {
    }
    return true;
}

bool JournalFile::append(std::string_view bytes, std::string* error) noexcept {
    if (handle_ == kClosed) return fail(error, "cannot write", path_, EBADF);
    return posix::writeAll(static_cast<int>(handle_), bytes.data(), bytes.size()) ||
           fail(error, "cannot write", path_, errno);
}

bool JournalFile::flush(std::string* error) noexcept {
    if (handle_ == kClosed) return fail(error, "cannot write", path_, EBADF);
    return ::fdatasync(static_cast<int>(handle_)) == 0 || fail(error, "cannot flush", path_, errno);
}

void JournalFile::close() noexcept {
    if (handle_ != kClosed) ::close(static_cast<int>(handle_));
    handle_ = kClosed;
}

ExclusiveLock::Result ExclusiveLock::acquire(const std::string& path, bool wait,
                                             std::string* error) noexcept {
    release();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        fail(error, "cannot create", path, errno);
        return Result::Failed;
    }
    // flock belongs to this open file, not to the process, so a window and
    // its own run in one process exclude each other as two processes do.
    int status;
    do {
        status = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB));
    } while (status != 0 && errno == EINTR);
    if (status != 0) {
        const int code = errno;
        ::close(fd);
        if (code == EWOULDBLOCK) return Result::Busy;
        fail(error, "cannot lock", path, code);
        return Result::Failed;
    }
    handle_ = fd;
    return Result::Taken;
}

void ExclusiveLock::release() noexcept {
    if (handle_ != kClosed) ::close(static_cast<int>(handle_));
    handle_ = kClosed;
}

}  // namespace host
