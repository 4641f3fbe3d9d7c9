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

namespace {

// The length and times of the file open as `file`, the change time included
// where the file system keeps one (NTFS does, FAT does not: 0).
std::optional<FileStatus> statusOfOpen(HANDLE file) noexcept {
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard))
        return std::nullopt;
    const auto seconds = [](const LARGE_INTEGER& time) {
        return windows::secondsOf(windows::fileTimeOf(time.QuadPart));
    };
    FileStatus status;
    status.length = standard.EndOfFile.QuadPart;
    status.modified = seconds(basic.LastWriteTime);
    status.created = seconds(basic.CreationTime);
    status.changed = basic.ChangeTime.QuadPart != 0 ? seconds(basic.ChangeTime) : 0;
    return status;
}

}  // namespace

std::optional<FileStatus> FolderStatusReader::status(const std::string& name) const noexcept {
    if (handle_ < 0) return std::nullopt;
    try {
        // The same times host::fileTimes gives (from one open for its
        // attributes, which a file held open or locked still allows), so
        // the texts built from them equal those of getft.
        const std::string path = joinPath(folder_, name);
        const windows::Handle file(
            ::CreateFileW(windows::systemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (file.valid()) {
            if (std::optional<FileStatus> status = statusOfOpen(file.get())) return status;
        }
        const std::optional<FileTimes> times = fileTimes(path);
        const Result<std::int64_t> length = fileLength(path);
        if (!times || !length) return std::nullopt;
        return FileStatus{*length, times->modified, times->created};
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace host
