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
#include "host/progress.h"

namespace host {

using posix::Descriptor;
using posix::fail;
using posix::folderOf;

Status flushFileSystem(const std::string& path) noexcept {
    const FlushUnderWay waiting;
    const Descriptor fd(
        ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return fail("cannot open", path, errno);
    if (::syncfs(fd.get()) != 0) return fail("cannot flush the file system of", path, errno);
    return {};
}

Status flushFolder(const std::string& folder) noexcept {
    const FlushUnderWay waiting;
    const Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return fail("cannot open", folder, errno);
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != ENOTSUP && errno != ENOSYS)
        return fail("cannot flush", folder, errno);
    return {};
}

Status removeFileDurably(const std::string& path) noexcept {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return fail("cannot remove", path, errno);
    try {
        return flushFolder(folderOf(path));
    } catch (...) {
        return fail("out of memory removing", path, ENOMEM);
    }
}

JournalFile::~JournalFile() {
    close();
}

Status JournalFile::open(const std::string& path) noexcept {
    close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return fail("cannot open", path, errno);
    handle_ = fd;
    try {
        path_ = path;
    } catch (...) {
    }
    return {};
}

Status JournalFile::append(std::string_view bytes) noexcept {
    if (handle_ == kClosed) return fail("cannot write", path_, EBADF);
    if (!posix::writeAll(static_cast<int>(handle_), bytes.data(), bytes.size()))
        return fail("cannot write", path_, errno);
    return {};
}

Status JournalFile::flush() noexcept {
    if (handle_ == kClosed) return fail("cannot write", path_, EBADF);
    const FlushUnderWay waiting;
    if (::fdatasync(static_cast<int>(handle_)) != 0) return fail("cannot flush", path_, errno);
    return {};
}

void JournalFile::close() noexcept {
    static_assert(kClosed == -1);
    Descriptor::closeKept(handle_);
}

Result<ExclusiveLock::Taking> ExclusiveLock::acquire(const std::string& path, bool wait) noexcept {
    release();
    Descriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (!fd) return fail("cannot create", path, errno);
    // flock belongs to this open file, not to the process, so a window and
    // its own run in one process exclude each other as two processes do.
    int status;
    do {
        status = ::flock(fd.get(), LOCK_EX | (wait ? 0 : LOCK_NB));
    } while (status != 0 && errno == EINTR);
    if (status != 0) {
        if (errno == EWOULDBLOCK) return Taking::Busy;
        return fail("cannot lock", path, errno);
    }
    handle_ = fd.release();
    return Taking::Taken;
}

void ExclusiveLock::release() noexcept {
    Descriptor::closeKept(handle_);
}

}  // namespace host
