// The length and times of the files of one folder, read relative to the open
// folder: a walk then needs no full path per file and the system does not
// resolve every folder of the path again for each of a million files.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace host {

struct FileStatus {
    std::int64_t length = 0;
    std::time_t modified = 0;
    // The same rule as host::fileTimes: birth time where kept, else the
    // status-change time.
    std::time_t created = 0;
    // The status-change time where the listing gives it, else 0. A file moved,
    // linked or restored into a folder keeps its old modification and birth
    // times; only this one says when it arrived.
    std::time_t changed = 0;
};

// None of these throws.
class FolderStatusReader {
  public:
    FolderStatusReader() = default;
    ~FolderStatusReader();
    FolderStatusReader(const FolderStatusReader&) = delete;
    FolderStatusReader& operator=(const FolderStatusReader&) = delete;

    // Opens `folder` (closing the one open before); false when it cannot.
    bool open(const std::string& folder) noexcept;
    void close() noexcept;
    bool isOpen() const noexcept { return handle_ >= 0; }
    // The status of `name` in the open folder, following a link as the file
    // services do; nullopt when it cannot be read this way (the caller then
    // asks by full path, which gives the documented failure results).
    std::optional<FileStatus> status(const std::string& name) const noexcept;

  private:
    int handle_ = -1;
    // Windows has no status call relative to an open folder: the folder's path
    // is kept and each name joined to it.
    std::string folder_;
};

}  // namespace host
