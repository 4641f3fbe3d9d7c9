// Paths longer than the system resolves in one call (PATH_MAX, 4096 bytes):
// a folder that deep is still reached, through its ancestors' handles.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

#include "host/descriptor_posix.h"

namespace host::posix {

// A path and where the system is to start resolving it. A path shorter than
// PATH_MAX is resolved as it is (from the working folder). A longer one is
// cut at separators into parts each shorter than that: the folder the
// leading parts name is opened part after part, each from the one before,
// and the last part is resolved from it, so every link on the way is
// followed as in the resolution of the whole path.
class LongPath {
  public:
    explicit LongPath(std::string_view path) noexcept;
    LongPath(const LongPath&) = delete;
    LongPath& operator=(const LongPath&) = delete;

    // The folder rest() is resolved from: AT_FDCWD, an open folder, or -1
    // with errno set when one of the leading parts cannot be opened.
    int folder() const noexcept { return folder_; }
    const char* rest() const noexcept { return rest_.c_str(); }

  private:
    int folder_ = AT_FDCWD;
    Descriptor opened_;  // the folder, when one was opened
    std::string rest_;
};

// open(2), stat(2) (lstat with AT_SYMLINK_NOFOLLOW in `flags`) and mkdir(2)
// of a path of any length; none (-1) with errno set on failure.
Descriptor openPath(std::string_view path, int flags, mode_t mode = 0) noexcept;
int statPath(std::string_view path, struct stat& st, int flags = 0) noexcept;
int makeFolderPath(std::string_view path, mode_t mode) noexcept;

}  // namespace host::posix
