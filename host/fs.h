// File services. Paths are byte strings used unchanged for every system call,
// so a file whose name is not valid UTF-8 is still found, listed and copied.
// None of these functions throws; a failure is a host::Failure in the result
// (host/result.h), whose message names the operation, the path and the
// system's reason.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/listing_order.h"
#include "base/temporary_names.h"
#include "host/folder_status.h"
#include "host/result.h"

namespace host {

bool fileExists(const std::string& path) noexcept;    // a regular file (or a link to one)
bool folderExists(const std::string& path) noexcept;  // a folder (or a link to one)
// Creates one folder; its parent must exist.
Status createFolder(const std::string& path);
// Length in bytes (64-bit exact), or why the file's status cannot be read.
Result<std::int64_t> fileLength(const std::string& path);
// The process's working directory, without a trailing separator (except "/").
std::string currentDirectory();
// The folder that holds the running program.
std::string programDirectory();

struct FileTimes {
    std::time_t modified = 0;
    // Birth time where the file system keeps one; otherwise the status-change
    // time, which is never earlier than the modification time, so a
    // "created after" condition may take in a renamed or re-permissioned file
    // but never misses a new one.
    std::time_t created = 0;
};
// The times of a file (from its status, no read permission needed), or nullopt.
std::optional<FileTimes> fileTimes(const std::string& path) noexcept;

// The length and times of a source as a copy read it, to the nanosecond. A
// copy is of one state of its source: the same stamp after the last byte
// says nobody wrote the source meanwhile, and a later stamp says whether it
// still is the state that was copied.
struct SourceStamp {
    std::int64_t length = 0;
    std::int64_t modifiedNs = 0;  // since 1970-01-01 UTC
    // The last change of the file's data or status (POSIX: ctime; Windows:
    // ChangeTime where the file system keeps one, else the last write).
    std::int64_t changedNs = 0;
    bool operator==(const SourceStamp&) const = default;
};
// The stamp of the file `path` names now (a link followed), or nullopt.
std::optional<SourceStamp> sourceStampOf(const std::string& path) noexcept;

// The rules every copy of both programs keeps, whatever it is copied into:
// - The bytes go to a file without a name (Linux: O_TMPFILE) or, where the
//   file system has none (FAT, network shares, Windows), with a temporary name
//   (base/temporary_names.h), locked while it is written. Unlocked
//   temporary files of earlier, killed copies to the same name are removed
//   first; nothing else is ever removed.
// - A copy holds the source's bytes or fails: a source that gives fewer
//   bytes than its length ("the source gave N of M bytes", as a share that
//   stops answering does), or whose length, modification time or change time
//   are not the same after its last byte as when it was opened ("the source
//   changed while it was copied", a file saved or appended to meanwhile),
//   leaves no copy.
// - The modification time and permission bits of the source are kept. The
//   data is cloned where the file system shares blocks between files (XFS,
//   btrfs), else only its data ranges are copied, so holes stay holes.
// - The copy takes its name only once its bytes are on the device (see
//   StagedCopy): a name never points at data a power cut can take. With
//   `replace` false an existing target is never touched and the copy fails
//   ("will not replace", with the system's "file exists" code).

// A copy whose bytes are written, under a temporary handle in its
// destination folder, and which has not yet taken its name. Gone without
// publish(), it leaves nothing behind.
class StagedCopy {
  public:
    struct State;  // the platform's
    explicit StagedCopy(std::unique_ptr<State> state) noexcept;
    ~StagedCopy();
    StagedCopy(StagedCopy&&) noexcept;
    StagedCopy& operator=(StagedCopy&&) noexcept;

    // The source as it was copied.
    const SourceStamp& source() const noexcept;
    // The target's full path, for messages.
    const std::string& path() const noexcept;
    // Whether `other` goes into the same folder.
    bool sameFolder(const StagedCopy& other) const noexcept;
    // Whether it has its name already: where a file system offers nothing to
    // wait for (memory), or a copy must be named at once (FUSE), stage()
    // named it.
    bool published() const noexcept;
    // Gives the copy its name in its folder (without `replace` never over an
    // existing one). Its bytes must be on the device first: the copy flushed
    // itself when it was staged, or a FileSystemFlush that noted it has
    // flushed since.
    Status publish() noexcept;

    State& state() noexcept { return *state_; }

  private:
    std::unique_ptr<State> state_;
};

// The file systems a run's copies are written to, and flushing them: one that
// can be flushed whole (Linux: ext4, XFS, btrfs, tmpfs) by one syncfs for all
// the copies made there since the last flush; on one that cannot (FUSE
// ones, network shares, every one on Windows) each copy flushed itself when
// it was staged, and the folders that took names are flushed here.
class FileSystemFlush {
  public:
    FileSystemFlush();
    ~FileSystemFlush();
    FileSystemFlush(const FileSystemFlush&) = delete;
    FileSystemFlush& operator=(const FileSystemFlush&) = delete;

    // Notes the file system of a staged copy (its bytes), or of one just
    // published (its name), as written to since the last flush.
    void noteStaged(StagedCopy& copy) noexcept;
    void notePublished(StagedCopy& copy) noexcept;
    // Everything noted since the last flush reaches the device: the bytes of
    // the staged copies, the names of the published ones.
    Status flush() noexcept;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// How many files this process may hold open at once, its own limit raised
// first as far as the system lets it (Linux: RLIMIT_NOFILE up to its hard
// limit): copies written and not yet named hold a file open each.
std::size_t openFileAllowance() noexcept;

// Copies `source` to `target` by the rules above, on its own: the copy flushes
// itself and takes its name, and the name reaches the device, before this
// returns.
Status copyFileSafely(const std::string& source, const std::string& target, bool replace) noexcept;

// How the bytes of two files compare.
enum class ContentComparison { Same, Different };

// Compares the contents of pairs of files, one pair after another; one per
// thread. Each file is read once, front to back, small ones in one read, large
// ones in large sequential reads. Files of one folder following each other
// (pairs in name order) are opened relative to the folder, opened once.
class ContentComparer {
  public:
    ContentComparer();
    ~ContentComparer();
    ContentComparer(const ContentComparer&) = delete;
    ContentComparer& operator=(const ContentComparer&) = delete;

    // Different when the lengths differ (no byte is read then) or at the
    // first block that differs (reading stops there), Same when every byte is
    // equal, a Failure when either cannot be opened or read; a folder, FIFO
    // or device fails, never waited on.
    Result<ContentComparison> compare(const std::string& first, const std::string& second) noexcept;

  private:
    struct Folder {
        std::string path;
        int handle = -1;  // POSIX: the open folder; Windows: unused
    };
    Folder folders_[2];
    std::unique_ptr<char[]> blocks_;
};

// A run's target folder, opened once. Destinations below it are reached from
// that handle, never by their path again, so a folder swapped for a link to
// elsewhere during a run (a target shared with other users) cannot lead a
// write outside the target: the check and the write are one act. No link
// below the root is followed, not even one to a folder inside the target
// (the walk leaves such links out, so what they lead to is not what the
// check saw). Linux: openat2 with RESOLVE_BENEATH and RESOLVE_NO_SYMLINKS,
// or where that is missing each part opened from the one before with
// O_NOFOLLOW. Windows: the path is checked with pathInside before each
// folder is entered.
class TargetFolder {
  public:
    explicit TargetFolder(std::string root);
    ~TargetFolder();
    TargetFolder(const TargetFolder&) = delete;
    TargetFolder& operator=(const TargetFolder&) = delete;

    enum class Reach { Reached, Outside };
    // Makes the sub-folder `relative` below the root (empty: the root itself)
    // the destination of the copies that follow, making its missing folders.
    // The folder stays open, so entering it again costs nothing. Outside when
    // a part is a link or leads out of the root (no folder is made there); a Failure when
    // it cannot be made.
    Result<Reach> enter(std::string_view relative) noexcept;
    // Forgets the destination, so the next enter reaches it afresh.
    void leave() noexcept;
    // Whether `relative` is the destination entered (and still open).
    bool isAt(std::string_view relative) const noexcept;
    // The path text of the destination, for messages.
    const std::string& path() const noexcept { return path_; }
    // Whether the destination was removed since it was entered (a copy into
    // it then fails; entering it again makes it anew).
    bool destinationGone() const noexcept;
    // Whether any entry (a dangling link too) has this name in the destination.
    bool nameTaken(const std::string& name) const noexcept;
    // The length and times of the file `name` in the destination (a link is
    // not followed); nullopt when there is no such file.
    std::optional<FileStatus> statusOf(const std::string& name) const noexcept;
    // Each copy that follows, once flushed and before it takes its name, is
    // read back from the device (its cached pages dropped, or read around
    // the cache, where the file system lets them; from memory on tmpfs and
    // some FUSE file systems) and compared with a checksum taken while it was
    // written. One that does not read back as written is removed, the
    // target's file is left as it was, and the copy fails with that reason.
    void setVerify(bool verify) noexcept { verify_ = verify; }
    // Copies `source` into the destination under `name`, by the rules of the
    // copies above, up to its name: the returned copy is flushed and given
    // its name by the caller, with others (FileSystemFlush).
    Result<StagedCopy> stage(const std::string& source, const std::string& name,
                             bool replace) noexcept;
    // stage, flush and publish one copy, as copyFileSafely does.
    Status copyHere(const std::string& source, const std::string& name, bool replace) noexcept;
    // Removes the unlocked temporary files that killed copies to `name` left
    // in the destination, as a copy to that name does first.
    void removeLeftoversOf(const std::string& name) noexcept;

    // An open folder, the platform's (POSIX: its descriptor and path text).
    struct Folder;

  private:
    std::string rootPath_;
    std::string relative_;
    std::string path_;
    std::shared_ptr<const Folder> root_;
    std::shared_ptr<const Folder> folder_;  // the destination
    bool verify_ = false;
};
using base::isTemporaryName;

// Reads a whole file. A FIFO or device is refused, never waited on.
Result<std::string> readFile(const std::string& path);
// Reads a file from its start in pieces of at most 64 KiB, handing each in
// order to `take` with the file's length as it was when opened, so that a
// large file is never held whole. The same refusals as readFile. True when
// the whole file was read, false when `take` returned false, which stops the
// reading; a Failure when it cannot be read.
Result<bool> readFileInPieces(
    const std::string& path,
    const std::function<bool(std::string_view piece, std::uint64_t length)>& take);
// Replaces `path` with `bytes` atomically (a temporary file in the same folder,
// made as copyFileSafely makes its own, then renamed), so a crash or a full
// disk never leaves a half-written file. `durable`: the new content and its
// name reach the device before this returns, so they also survive a power cut.
Status writeFileAtomically(const std::string& path, std::string_view bytes,
                           bool durable = false) noexcept;
// Appends `bytes` to `path`, creating it when missing.
Status appendToFile(const std::string& path, std::string_view bytes) noexcept;

// Attribute masks of the directory listing.
inline constexpr int kListNormal = 16;      // folders and ordinary files, no hidden/system ones
inline constexpr int kListEverything = 55;  // adds read-only, hidden, system and archive files

// A listing's entries and their order are the same on every platform.
using base::ListingEntry;
using base::listingText;

// Lists one folder's entries into `entries` (replacing its content). Rules, the
// same for every walk of both programs:
// - "." and ".." are never listed; FIFOs, sockets and devices are never listed;
// - a link to a file is listed as that file; a link to a folder is not listed,
//   so no walk can loop; the program's temporary files (isTemporaryName)
//   are never listed (no other name is left out for its shape);
// - under kListNormal hidden entries (on POSIX: names beginning with ".") are
//   left out; under kListEverything they are listed;
// - entries are sorted by their listing text, bytes compared with ASCII letters
//   folded to lower case, ties broken by the raw bytes.
// A failure leaves `entries` empty.
// With `statuses`, the length and times of each file entry are read from the
// same open folder, so a walk that needs them opens each folder once:
// statuses[i] belongs to entries[i] (a folder's times say when it changed or
// arrived; its length means nothing), nullopt for an entry whose status
// could not be read this way (then ask the file itself), and on Windows for
// every entry (a listing's times can lag behind a file's).
Status listDirectory(const std::string& folder, int mask, std::vector<ListingEntry>& entries,
                     std::vector<std::optional<FileStatus>>* statuses = nullptr);

// What `path` (links followed) names, for a message that says why it cannot
// be used as it was meant.
struct EntryInfo {
    enum class Kind { Missing, Unreadable, File, Folder, Other };
    Kind kind = Kind::Missing;
    // Missing, Unreadable: the system's reason ("No such file or directory",
    // "Permission denied"); otherwise what it is: "a file", "a folder", "a
    // FIFO", "a socket", "a device".
    std::string text;
};
EntryInfo lookUpEntry(const std::string& path);

}  // namespace host
