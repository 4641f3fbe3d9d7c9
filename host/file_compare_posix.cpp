// Comparing the bytes of two files on POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "host/descriptor_posix.h"
#include "host/file_content_posix.h"
#include "host/fs.h"
#include "host/long_path_posix.h"
#include "host/paths.h"
#include "host/progress.h"

namespace host {

namespace {

// Bytes read from each file at a time: both blocks stay in the processor's
// cache while they are compared (larger ones compare slower from the page
// cache), and on a disk the kernel reads ahead of a sequential reader anyway.
constexpr std::size_t kBlock = 256 * 1024;

// Reads up to `size` bytes; fewer only at the end of the file. -1 with errno set.
ssize_t readUpTo(int fd, char* buffer, std::size_t size) noexcept {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t read = ::read(fd, buffer + got, size - got);
        if (read == 0) break;
        if (read < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        got += static_cast<std::size_t>(read);
        markProgress();
    }
    return static_cast<ssize_t>(got);
}

}  // namespace

ContentComparer::ContentComparer() = default;

ContentComparer::~ContentComparer() {
    for (Folder& folder : folders_) posix::Descriptor::closeKept(folder.handle);
}

Result<ContentComparison> ContentComparer::compare(const std::string& first,
                                                   const std::string& second) noexcept {
    using posix::fail;
    const std::string* paths[2] = {&first, &second};
    // O_NONBLOCK: a FIFO is refused below, never waited on.
    constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    int openError[2] = {0, 0};
    const auto open = [&](int side) noexcept -> posix::Descriptor {
        const std::string& path = *paths[side];
        Folder& folder = folders_[side];
        try {
            const std::string_view parent = parentPath(path);
            if (!parent.empty() && parent != folder.path) {
                posix::Descriptor::closeKept(folder.handle);
                folder.path.assign(parent);
                // Through its ancestors when it lies deeper than PATH_MAX, as
                // the walk reached it.
                folder.handle =
                    posix::openPath(folder.path, O_PATH | O_DIRECTORY | O_CLOEXEC).release();
            }
            if (!parent.empty() && folder.handle >= 0) {
                posix::Descriptor file(
                    ::openat(folder.handle, std::string(baseName(path)).c_str(), kFlags));
                openError[side] = errno;
                return file;
            }
        } catch (...) {
            folder.path.clear();
        }
        posix::Descriptor file = posix::openPath(path, kFlags);
        openError[side] = errno;
        return file;
    };
    const posix::Descriptor files[2] = {open(0), open(1)};
    struct stat st[2];
    for (int i = 0; i < 2; ++i) {
        if (!files[i]) return fail("cannot open", *paths[i], openError[i]);
        if (::fstat(files[i].get(), &st[i]) != 0)
            return fail("cannot read the status of", *paths[i], errno);
        if (!S_ISREG(st[i].st_mode))
            return fail("cannot compare", *paths[i], S_ISDIR(st[i].st_mode) ? EISDIR : EINVAL);
    }
    if (st[0].st_size != st[1].st_size) return ContentComparison::Different;
    const off_t length = st[0].st_size;
    if (!blocks_) {
        blocks_.reset(new (std::nothrow) char[2 * kBlock]);
        if (!blocks_) return fail("out of memory comparing", first, ENOMEM);
    }
    if (length > static_cast<off_t>(kBlock)) {
        for (const posix::Descriptor& file : files)
            ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    // The length the status gave is what is compared: a file that grows
    // meanwhile is compared as it was, one that shrinks ends early.
    char* block[2] = {blocks_.get(), blocks_.get() + kBlock};
    for (off_t offset = 0; offset < length;) {
        const auto want = static_cast<std::size_t>(std::min<off_t>(length - offset, kBlock));
        ssize_t got[2];
        for (int i = 0; i < 2; ++i) {
            got[i] = readUpTo(files[i].get(), block[i], want);
            if (got[i] < 0) return fail("cannot read", *paths[i], errno);
        }
        if (got[0] != got[1] ||
            std::memcmp(block[0], block[1], static_cast<std::size_t>(got[0])) != 0)
            return ContentComparison::Different;
        if (static_cast<std::size_t>(got[0]) < want) break;
        offset += got[0];
    }
    return ContentComparison::Same;
}

}  // namespace host
