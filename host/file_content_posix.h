// The bytes of a copy on POSIX: clone, data ranges with their holes kept, or a
// buffer; shared by the file services of fs_posix.cpp.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/checksum.h"
#include "host/folder_status.h"
#include "host/result.h"

namespace host::posix {

// The system's wording of an errno value.
std::string systemReason(int error);

// What an entry of this mode is, for messages: "a file", "a folder", "a
// FIFO", "a socket", "a device".
const char* entryKind(mode_t mode) noexcept;

// The name of the pseudo file system the open file `fd` belongs to (proc,
// sysfs, debugfs and the like, whose files are made up as they are read and
// may never end), or nullptr for any other.
const char* pseudoFileSystem(int fd) noexcept;

// The failure of `what` on `path` with the system's error `code` (errno is set
// to it too), worded by the system or, failBecause, by the reason given.
Failure fail(std::string_view what, const std::string& path, int code);
Failure failBecause(std::string_view what, const std::string& path, std::string_view reason,
                    int code);

// The folder that holds `path` ("." when the path names none).
std::string folderOf(const std::string& path);

// The length and times of `name` in the open folder `folder`, a link
// followed, as host::fileTimes reads them; nullopt when they cannot be read.
std::optional<FileStatus> statusAt(int folder, const std::string& name) noexcept;

// Writes all of `data` at `*offset` (advanced) when given, else at the file's
// position. False with errno set; the injected disk failure counts here.
bool writeAll(int fd, const char* data, std::size_t size, off_t* offset = nullptr) noexcept;

// How the bytes of a copy came through.
enum class ContentCopy {
    Copied,
    Failed,      // errno says why
    EndedEarly,  // the source gave fewer bytes than its length said
};

// Copies the file `from`, whose status `st` was read when it was opened, into
// the new empty file `to` on the device `toDevice`: every byte of its length,
// holes kept as holes. `*got` is how many bytes the source gave when it ended
// early. A source of length 0 (empty, or a pseudo file that does not tell)
// is read to its end. With `checksum`, every byte of the copy as it will
// read back (its holes as zeros) is added to it: the bytes then pass through
// a buffer, never cloned or copied inside the kernel.
ContentCopy copyContent(int from, int to, const struct stat& st, dev_t toDevice,
                        base::Checksum* checksum, off_t* got) noexcept;

enum class ReadBack { Same, Different, Failed };
// Reads the file `fd` (open for reading, its data flushed to the device) back
// and compares its checksum with `expected`. What comes back is what the
// device holds: the file's cached pages are dropped first, and it is read
// with O_DIRECT where the file system allows. Where neither works (tmpfs,
// whose pages are the file; FUSE file systems that keep a cache of their own)
// it is read all the same, from memory. Failed, with errno set, when it
// cannot be read.
ReadBack readBack(int fd, const base::Checksum::Digest& expected) noexcept;

}  // namespace host::posix
