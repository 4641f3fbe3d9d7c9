// File content on POSIX: how the bytes of one file reach its copy.
#include "host/file_content_posix.h"
#include "host/paths.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "base/checksum.h"
#include "host/fault_injection.h"
#include "host/fs.h"
#include "host/progress.h"

namespace host {
namespace posix {

namespace {

// The most the kernel copies in one call: each call is a sign of life
// (host::markProgress), so a large file over a slow link shows that it moves.
constexpr off_t kMostInKernel = 8 << 20;

// Copies the byte ranges of one file, each at its own offset so that the
// holes between them stay holes. The kernel copies where it can; where it
// refuses, and for the test switches (a disk failure counts the bytes that go
// through writeAll, the kill switch stops in the middle of them, a source
// that stops giving bytes, blocks or is written to midway), the bytes pass
// through a buffer.
class RangeCopier {
  public:
    // With `checksum`, every byte passes through the buffer and is added to it.
    RangeCopier(int from, int to, base::Checksum* checksum) noexcept
        : from_(from),
          to_(to),
          checksum_(checksum),
          killAfter_(faults::killCopyAfter()),
          readLimit_(faults::sourceReadLimit()),
          blockedAfter_(faults::sourceBlockedAfter()),
          inKernel_(!faults::diskFullInjected() && killAfter_ < 0 && readLimit_ < 0 &&
                    blockedAfter_ < 0 && !faults::midCopyActionSet() && !checksum) {}

    // Copies [offset, end). EndedEarly, with `end` set to where the source
    // ended, when it gives nothing more before `end`.
    ContentCopy copy(off_t offset, off_t& end) noexcept {
        while (inKernel_ && offset < end) {
            loff_t in = offset, out = offset;
            const ssize_t copied = ::copy_file_range(
                from_, &in, to_, &out,
                static_cast<std::size_t>(std::min(end - offset, kMostInKernel)), 0);
            if (copied > 0) {
                markProgress();
                offset += copied;
                continue;
            }
            if (copied == 0) break;  // the source ended, or a pseudo file says 0: read
            if (errno == EINTR) continue;
            switch (errno) {
                case EXDEV:
                case ENOSYS:
                case EINVAL:
                case EOPNOTSUPP:
                case EBADF:
                case EPERM:
                case ETXTBSY:
                    inKernel_ = false;  // refused here, for the rest of this file too
                    break;
                default:
                    return ContentCopy::Failed;
            }
        }
        return offset >= end ? ContentCopy::Copied : byReading(offset, end);
    }

  private:
    ContentCopy byReading(off_t offset, off_t& end) noexcept {
        char buffer[1 << 16];
        while (offset < end) {
            auto wanted = static_cast<std::size_t>(std::min<off_t>(end - offset, sizeof buffer));
            if (readLimit_ >= 0)
                wanted = static_cast<std::size_t>(
                    std::clamp<long long>(readLimit_ - offset, 0, static_cast<long long>(wanted)));
            if (blockedAfter_ >= 0) {
                if (copied_ >= blockedAfter_) faults::blockForGood();
                wanted = static_cast<std::size_t>(
                    std::min<long long>(blockedAfter_ - copied_, static_cast<long long>(wanted)));
            }
            const ssize_t got = wanted == 0 ? 0 : ::pread(from_, buffer, wanted, offset);
            if (got == 0) {
                end = offset;
                return ContentCopy::EndedEarly;
            }
            if (got < 0) {
                if (errno == EINTR) continue;
                return ContentCopy::Failed;
            }
            if (checksum_) checksum_->add(buffer, static_cast<std::size_t>(got));
            off_t at = offset;
            if (killAfter_ >= 0 && copied_ + got > killAfter_) {
                writeAll(to_, buffer, static_cast<std::size_t>(killAfter_ - copied_), &at);
                faults::killProcessNow();
            }
            if (!writeAll(to_, buffer, static_cast<std::size_t>(got), &at))
                return ContentCopy::Failed;
            copied_ += got;
            offset += got;
            markProgress();
            faults::copiedSourceBytes(copied_);
        }
        return ContentCopy::Copied;
    }

    int from_;
    int to_;
    base::Checksum* checksum_;
    long long killAfter_;
    long long readLimit_;
    long long blockedAfter_;
    bool inKernel_;
    long long copied_ = 0;
};

// The pairs of devices (source, target) between which a clone was refused:
// asked once, not once per file.
std::mutex cloneMutex;
std::vector<std::pair<dev_t, dev_t>> cloneRefused;

bool cloneMayWork(dev_t from, dev_t to) {
    std::lock_guard lock(cloneMutex);
    return std::find(cloneRefused.begin(), cloneRefused.end(), std::pair(from, to)) ==
           cloneRefused.end();
}

bool tryClone(int from, int to, dev_t fromDevice, dev_t toDevice) {
    if (faults::diskFullInjected() || faults::killCopyAfter() >= 0 ||
        faults::sourceReadLimit() >= 0 || faults::sourceBlockedAfter() >= 0 ||
        faults::midCopyActionSet() || !cloneMayWork(fromDevice, toDevice))
        return false;
    if (::ioctl(to, FICLONE, from) == 0) return true;
    std::lock_guard lock(cloneMutex);
    if (cloneRefused.size() < 64) cloneRefused.emplace_back(fromDevice, toDevice);
    return false;
}

}  // namespace

// A clone costs one call and no space until either file changes; else only
// the data ranges are copied and the length set, so a sparse disk image
// copies in a moment and takes no more room than its source.
ContentCopy copyContent(int from, int to, const struct stat& st, dev_t toDevice,
                        base::Checksum* checksum, off_t* got) noexcept {
    off_t size = st.st_size;
    RangeCopier ranges(from, to, checksum);
    if (size == 0) {
        // Empty, or a pseudo file that does not tell its length: read to its end.
        size = std::numeric_limits<off_t>::max();
        const ContentCopy copied = ranges.copy(0, size);
        return copied == ContentCopy::EndedEarly ? ContentCopy::Copied : copied;
    }
    // A clone is never read: a checksum needs the bytes.
    try {
        if (!checksum && tryClone(from, to, st.st_dev, toDevice)) return ContentCopy::Copied;
    } catch (...) {
    }
    // The holes read back as zeros: the checksum takes them as zeros.
    off_t summed = 0;
    const auto sumHoleUpTo = [&](off_t at) {
        if (checksum && at > summed) checksum->addZeros(static_cast<std::uint64_t>(at - summed));
        summed = std::max(summed, at);
    };
    // A file with as many blocks as bytes has no hole; asking for them costs
    // two calls per file.
    const bool mayHaveHoles = static_cast<off_t>(st.st_blocks) * 512 < size;
    off_t offset = 0;
    off_t written = 0;
    while (offset < size) {
        off_t data = offset;
        off_t hole = size;
        if (mayHaveHoles) {
            data = ::lseek(from, offset, SEEK_DATA);
            // Only a hole is left, or the file is shorter now: its status,
            // looked at again after the copy, tells which.
            if (data < 0 && errno == ENXIO) break;
            if (data < 0) {
                if (errno != EINVAL && errno != EOPNOTSUPP) return ContentCopy::Failed;
                data = offset;  // the file system does not tell: all of it is data
            } else {
                hole = std::min(size, std::max(data, ::lseek(from, data, SEEK_HOLE)));
                if (hole <= data) hole = size;
            }
            if (data >= size) break;
        }
        off_t reached = hole;
        sumHoleUpTo(data);
        const ContentCopy copied = ranges.copy(data, reached);
        if (copied == ContentCopy::EndedEarly) {
            *got = reached;
            return copied;
        }
        if (copied != ContentCopy::Copied) return copied;
        summed = reached;
        written = reached;
        offset = hole;
    }
    sumHoleUpTo(size);
    if (written >= size) return ContentCopy::Copied;
    // A hole at the end: the length is set. A file system that cannot set it
    // (some FUSE ones) gets the last byte, a zero, written instead.
    if (::ftruncate(to, size) == 0) return ContentCopy::Copied;
    off_t last = size - 1;
    return writeAll(to, "", 1, &last) ? ContentCopy::Copied : ContentCopy::Failed;
}

ReadBack readBack(int fd, const base::Checksum::Digest& expected) noexcept {
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    // Large reads, aligned as O_DIRECT wants them on every disk there is.
    constexpr std::size_t kBlock = 4 << 20;
    constexpr std::size_t kAlignment = 4096;
    void* memory = nullptr;
    if (::posix_memalign(&memory, kAlignment, kBlock) != 0) {
        errno = ENOMEM;
        return ReadBack::Failed;
    }
    const std::unique_ptr<char, decltype(&std::free)> buffer(static_cast<char*>(memory),
                                                             &std::free);
    const int flags = ::fcntl(fd, F_GETFL);
    bool direct = flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_DIRECT) == 0;
    const auto restore = [&](ReadBack result) {
        const int code = errno;
        if (direct) ::fcntl(fd, F_SETFL, flags);
        errno = code;
        return result;
    };
    try {
        for (;;) {
            base::Checksum checksum;
            bool refused = false;
            for (off_t offset = 0;;) {
                const ssize_t got = ::pread(fd, buffer.get(), kBlock, offset);
                if (got < 0 && errno == EINTR) continue;
                // An alignment the file system wants beyond the usual: read
                // again without O_DIRECT, the cached pages dropped all the same.
                if (got < 0 && direct && errno == EINVAL && offset == 0) {
                    refused = true;
                    break;
                }
                if (got < 0) return restore(ReadBack::Failed);
                if (got == 0) break;
                checksum.add(buffer.get(), static_cast<std::size_t>(got));
                markProgress();
                offset += got;
                // Reading directly, only the end gives less: the next read
                // would start where no block does.
                if (direct && static_cast<std::size_t>(got) < kBlock) break;
            }
            if (!refused) {
                return restore(checksum.digest() == expected ? ReadBack::Same
                                                             : ReadBack::Different);
            }
            ::fcntl(fd, F_SETFL, flags);
            direct = false;
        }
    } catch (...) {
        errno = ENOMEM;
        return restore(ReadBack::Failed);
    }
}

bool writeAll(int fd, const char* data, std::size_t size, off_t* offset) noexcept {
    while (size > 0) {
        const std::size_t allowed = faults::writeAllowance(fd, size);
        if (allowed == 0) {
            errno = ENOSPC;
            return false;
        }
        const ssize_t written =
            offset ? ::pwrite(fd, data, allowed, *offset) : ::write(fd, data, allowed);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        if (offset) *offset += written;
    }
    return true;
}

std::string systemReason(int error) {
    return std::system_category().message(error);
}

const char* entryKind(mode_t mode) noexcept {
    if (S_ISREG(mode)) return "a file";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    return "a device";
}

const char* pseudoFileSystem(int fd) noexcept {
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0) return nullptr;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case PROC_SUPER_MAGIC:
            return "proc";
        case SYSFS_MAGIC:
            return "sysfs";
        case DEBUGFS_MAGIC:
            return "debugfs";
        case TRACEFS_MAGIC:
            return "tracefs";
        case SECURITYFS_MAGIC:
            return "securityfs";
        case CGROUP_SUPER_MAGIC:
            return "cgroup";
        case CGROUP2_SUPER_MAGIC:
            return "cgroup2";
        case BPF_FS_MAGIC:
            return "bpf";
        default:
            return nullptr;
    }
}

Failure failBecause(std::string_view what, const std::string& path, std::string_view reason,
                    int code) {
    Failure failure{std::string(what), path, code, std::string(reason)};
    errno = code;
    return failure;
}

Failure fail(std::string_view what, const std::string& path, int code) {
    return failBecause(what, path, {}, code);
}

std::string folderOf(const std::string& path) {
    const std::string_view parent = parentPath(path);
    return parent.empty() ? std::string(".") : std::string(parent);
}

}  // namespace posix

std::string Failure::reasonText() const {
    return reason.empty() ? posix::systemReason(code) : reason;
}

}  // namespace host
