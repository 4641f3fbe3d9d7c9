#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "host/descriptor_posix.h"
#include "host/durability.h"
#include "host/file_content_posix.h"
#include "host/paths.h"

namespace host {

using posix::Descriptor;
using posix::fail;
using posix::folderOf;

bool flushFileSystem(const std::string& path, std::string* error) noexcept {
    const Descriptor fd(
        ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return fail(error, "cannot open", path, errno);
    return ::syncfs(fd.get()) == 0 || fail(error, "cannot flush the file system of", path, errno);
}

bool flushFolder(const std::string& folder, std::string* error) noexcept {
    const Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return fail(error, "cannot open", folder, errno);
    return ::fsync(fd.get()) == 0 || errno == EINVAL || errno == ENOTSUP || errno == ENOSYS ||
           fail(error, "cannot flush", folder, errno);
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
    static_assert(kClosed == -1);
    Descriptor::closeKept(handle_);
}

ExclusiveLock::Result ExclusiveLock::acquire(const std::string& path, bool wait,
                                             std::string* error) noexcept {
    release();
    Descriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (!fd) {
        fail(error, "cannot create", path, errno);
        return Result::Failed;
    }
    // flock belongs to this open file, not to the process, so a window and
    // its own run in one process exclude each other as two processes do.
    int status;
    do {
        status = ::flock(fd.get(), LOCK_EX | (wait ? 0 : LOCK_NB));
    } while (status != 0 && errno == EINTR);
    if (status != 0) {
        if (errno == EWOULDBLOCK) return Result::Busy;
        fail(error, "cannot lock", path, errno);
        return Result::Failed;
    }
    handle_ = fd.release();
    return Result::Taken;
}

void ExclusiveLock::release() noexcept {
    Descriptor::closeKept(handle_);
}

}  // namespace host
