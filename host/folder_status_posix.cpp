#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "host/descriptor_posix.h"
#include "host/file_content_posix.h"
#include "host/folder_status.h"
#include "host/long_path_posix.h"

namespace host {

FolderStatusReader::~FolderStatusReader() {
    close();
}

bool FolderStatusReader::open(const std::string& folder) noexcept {
    close();
    handle_ = posix::openPath(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC).release();
    return handle_ >= 0;
}

void FolderStatusReader::close() noexcept {
    posix::Descriptor::closeKept(handle_);
}

std::optional<FileStatus> FolderStatusReader::status(const std::string& name) const noexcept {
    if (handle_ < 0) return std::nullopt;
    return posix::statusAt(handle_, name);
}

std::optional<FileStatus> posix::statusAt(int folder, const std::string& name) noexcept {
    struct statx sx;
    // The same query as host::fileTimes plus the size, so the texts built from
    // it equal those of getft and filelzf.
    if (::statx(folder, name.c_str(), AT_STATX_SYNC_AS_STAT,
                STATX_SIZE | STATX_MTIME | STATX_CTIME | STATX_BTIME, &sx) != 0)
        return std::nullopt;
    FileStatus status;
    status.length = static_cast<std::int64_t>(sx.stx_size);
    status.modified = static_cast<std::time_t>(sx.stx_mtime.tv_sec);
    const bool hasBirth = (sx.stx_mask & STATX_BTIME) && sx.stx_btime.tv_sec != 0;
    status.created = static_cast<std::time_t>(hasBirth ? sx.stx_btime.tv_sec : sx.stx_ctime.tv_sec);
    status.changed = static_cast<std::time_t>(sx.stx_ctime.tv_sec);
    return status;
}

}  // namespace host
