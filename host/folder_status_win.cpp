#include "host/folder_status.h"
#include "host/fs.h"
#include "host/paths.h"
#include "host/windows_internal.h"

namespace host {

FolderStatusReader::~FolderStatusReader() {
    close();
}

bool FolderStatusReader::open(const std::string& folder) noexcept {
    close();
    if (!folderExists(folder)) return false;
    try {
        folder_ = folder;
    } catch (...) {
        return false;
    }
    handle_ = 0;
    return true;
}

void FolderStatusReader::close() noexcept {
    handle_ = -1;
    folder_.clear();
}

std::optional<FileStatus> FolderStatusReader::status(const std::string& name) const noexcept {
    if (handle_ < 0) return std::nullopt;
    try {
        // The same times host::fileTimes gives, so the texts built from them
        // equal those of getft.
        const std::string path = joinPath(folder_, name);
        const std::optional<FileTimes> times = fileTimes(path);
        const Result<std::int64_t> length = fileLength(path);
        if (!times || !length) return std::nullopt;
        return FileStatus{*length, times->modified, times->created};
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace host
