#include "host/long_path_posix.h"

#include <unistd.h>

#include <cerrno>
#include <climits>

namespace host::posix {

LongPath::LongPath(std::string_view path) noexcept {
    try {
        if (path.size() < PATH_MAX) {
            rest_.assign(path);
            return;
        }
        std::size_t start = 0;
        while (path.size() - start >= PATH_MAX) {
            // The last separator that leaves the leading part short enough.
            const std::size_t cut = path.rfind('/', start + PATH_MAX - 1);
            if (cut == std::string_view::npos || cut < start) {
                // One name longer than any path: the system refuses it too.
                opened_.reset();
                folder_ = -1;
                errno = ENAMETOOLONG;
                return;
            }
            const std::string part(cut == 0 ? "/" : path.substr(start, cut - start));
            if (!part.empty()) {
                opened_.reset(::openat(folder_, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
                folder_ = opened_.get();
                if (!opened_) return;
            }
            start = cut + 1;
        }
        rest_.assign(start < path.size() ? path.substr(start) : std::string_view("."));
    } catch (...) {
        opened_.reset();
        folder_ = -1;
        errno = ENOMEM;
    }
}

Descriptor openPath(std::string_view path, int flags, mode_t mode) noexcept {
    const LongPath at(path);
    if (at.folder() == -1) return Descriptor();
    return Descriptor(::openat(at.folder(), at.rest(), flags, mode));
}

int statPath(std::string_view path, struct stat& st, int flags) noexcept {
    const LongPath at(path);
    if (at.folder() == -1) return -1;
    return ::fstatat(at.folder(), at.rest(), &st, flags);
}

int makeFolderPath(std::string_view path, mode_t mode) noexcept {
    const LongPath at(path);
    if (at.folder() == -1) return -1;
    return ::mkdirat(at.folder(), at.rest(), mode);
}

}  // namespace host::posix
