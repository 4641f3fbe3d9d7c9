// What a run needs so that a power cut or a kill never loses what it vouched
// for: flushing what was written to the device, a file written and flushed a
// piece at a time (a journal), and an exclusive lock that ends with the process.
// None of these functions throws; a failure is a host::Failure in the result.
#pragma once

#include <string>
#include <string_view>

#include "host/result.h"

namespace host {

// Flushes everything written to the file system that holds `path` (Linux:
// syncfs), so copies made there survive a power cut. Windows has no such call
// for an ordinary user; there each copy is flushed before it takes its name
// (TargetFolder's flushed copies), and this does nothing.
Status flushFileSystem(const std::string& path) noexcept;

// Flushes a folder's entries (names made, renamed or removed in it) to the
// device. Some file systems (FUSE ones) cannot flush a folder and say so:
// their names are then as durable as they get, and that is no failure.
Status flushFolder(const std::string& folder) noexcept;

// Removes `path` and flushes its folder, so the removal survives a power cut.
// A missing file counts as removed.
Status removeFileDurably(const std::string& path) noexcept;

// A file that grows by appends and is flushed to the device on demand.
class JournalFile {
  public:
    JournalFile() = default;
    ~JournalFile();
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;

    // Opens an existing file for appending.
    Status open(const std::string& path) noexcept;
    Status append(std::string_view bytes) noexcept;
    // The data appended so far reaches the device.
    Status flush() noexcept;
    void close() noexcept;
    bool isOpen() const noexcept { return handle_ != kClosed; }

  private:
    static constexpr long long kClosed = -1;
    long long handle_ = kClosed;  // a descriptor, or a Windows handle's value
    std::string path_;
};

// An exclusive lock on a file, held until release or the end of the process
// (however it ends). Linux: an advisory lock (flock); Windows: the file opened
// with no sharing. The file is made when missing and never removed, since
// removing a lock file lets two holders lock two different files.
class ExclusiveLock {
  public:
    enum class Taking { Taken, Busy };

    ExclusiveLock() = default;
    ~ExclusiveLock() { release(); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

    // Busy when another holder has it; a Failure when the file cannot be
    // made or opened.
    Result<Taking> tryTake(const std::string& path) noexcept { return acquire(path, false); }
    // Waits while another holder has it.
    Result<Taking> take(const std::string& path) noexcept { return acquire(path, true); }
    void release() noexcept;
    bool held() const noexcept { return handle_ != kClosed; }

  private:
    Result<Taking> acquire(const std::string& path, bool wait) noexcept;

    static constexpr long long kClosed = -1;
    long long handle_ = kClosed;
};

}  // namespace host
