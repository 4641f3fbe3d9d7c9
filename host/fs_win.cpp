// File services through the wide-character Win32 API: names are UTF-8 in the
// program and UTF-16 at every call, so Chinese names work whatever the
// system's ANSI code page.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "base/checksum.h"
#include "base/listing_order.h"
#include "base/temporary_names.h"
#include "host/fault_injection.h"
#include "host/fs.h"
#include "host/paths.h"
#include "host/progress.h"
#include "host/windows_internal.h"

namespace host {

namespace temporary_names = base::temporary_names;

namespace {

using windows::fail;
using windows::failBecause;
using windows::Handle;
using windows::narrow;
using windows::systemMessage;
using windows::systemPath;

// The attributes a copy carries over, as the system's own copy does.
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

class FindHandle {
  public:
    explicit FindHandle(HANDLE handle) noexcept : handle_(handle) {}
    ~FindHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) ::FindClose(handle_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const noexcept { return handle_; }

  private:
    HANDLE handle_;
};

DWORD attributesOf(const std::string& path) noexcept {
    try {
        return ::GetFileAttributesW(systemPath(path).c_str());
    } catch (...) {
        return INVALID_FILE_ATTRIBUTES;
    }
}

std::wstring wideFolderOf(const std::wstring& path) {
    const std::size_t last = path.find_last_of(L"\\/");
    if (last == std::wstring::npos)
        return path.size() >= 2 && path[1] == L':' ? path.substr(0, 2) : L".";
    if (last == 0) return path.substr(0, 1);
    return path.substr(0, last);
}

std::wstring wideJoin(const std::wstring& folder, const std::wstring& name) {
    std::wstring joined = folder;
    if (!joined.empty() && joined.back() != L'\\' && joined.back() != L'/') joined += L'\\';
    joined += name;
    return joined;
}

std::wstring wideBaseName(const std::wstring& path) {
    const std::size_t last = path.find_last_of(L"\\/");
    return last == std::wstring::npos ? path : path.substr(last + 1);
}

// The stem of a temporary name: the whole base name, or the start of a name so
// long that the temporary name would not fit in 255 UTF-16 units (never half
// a surrogate pair).
std::wstring temporaryStem(const std::wstring& base) {
    using temporary_names::kNameMax;
    using temporary_names::kOverhead;
    if (base.size() + kOverhead <= kNameMax) return base;
    std::size_t length = kNameMax - kOverhead;
    if (length > 0 && base[length - 1] >= 0xD800 && base[length - 1] <= 0xDBFF) --length;
    return base.substr(0, length);
}

// Creates a new hidden temporary file for a target named `base` in `folder`.
// It shares nothing, FILE_SHARE_DELETE least of all: while it is open no one
// can delete or rename it, which is what tells a running writer's file from a
// leftover. DELETE access lets it be renamed through this very handle.
// `readable`: the file may be read through this handle and opened for
// reading once more while it is open (to be read back from the device).
HANDLE createTemporary(const std::wstring& folder, const std::wstring& base,
                       std::wstring& temporaryPath, bool readable = false) {
    const std::string stem = narrow(temporaryStem(base));
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporaryPath = wideJoin(folder, windows::widen(temporary_names::make(stem)));
        const HANDLE handle = ::CreateFileW(
            temporaryPath.c_str(),
            GENERIC_WRITE | DELETE | FILE_WRITE_ATTRIBUTES | (readable ? GENERIC_READ : 0),
            readable ? FILE_SHARE_READ : 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (handle != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return handle;
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

// Deletes a leftover unless a writer still has it open: the writer shares
// nothing, so opening it fails while it runs.
void removeIfUnlocked(const std::wstring& path) noexcept {
    const HANDLE handle =
        ::CreateFileW(path.c_str(), DELETE | FILE_WRITE_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    // A read-only leftover (killed after its attributes were set) cannot be deleted as it is.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
    ::CloseHandle(handle);
}

// Removes the unlocked temporary files that killed copies to the same target left.
void removeLeftovers(const std::wstring& folder, const std::wstring& base) {
    const std::wstring stem = temporaryStem(base);
    const std::string narrowStem = narrow(stem);
    WIN32_FIND_DATAW data;
    const std::wstring pattern = wideJoin(
        folder, L"." + stem + L".*" +
                    std::wstring(temporary_names::kTag.begin(), temporary_names::kTag.end()));
    FindHandle find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, 0));
    if (!find.valid()) return;
    do {
        const std::wstring name = data.cFileName;
        if (temporary_names::isFor(narrow(name), narrowStem))
            removeIfUnlocked(wideJoin(folder, name));
    } while (::FindNextFileW(find.get(), &data));
}

// Gives the open temporary file the name of `target` (in the same folder)
// through its own handle, so it is held until it has that name. False with
// the system's error set.
bool renameHeld(HANDLE handle, const std::wstring& target, bool replace) {
    // A full path: a bare name is not read the same way by every system.
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got = ::GetFullPathNameW(target.c_str(), static_cast<DWORD>(full.size()),
                                             full.data(), nullptr);
        if (got == 0) return false;
        if (got < full.size()) {
            full.resize(got);
            break;
        }
        full.resize(got);
    }
    const std::size_t bytes = sizeof(FILE_RENAME_INFO) + full.size() * sizeof(wchar_t);
    std::unique_ptr<char[]> buffer(new char[bytes]());
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(full.size() * sizeof(wchar_t));
    std::copy(full.begin(), full.end(), info->FileName);
    return ::SetFileInformationByHandle(handle, FileRenameInfo, info, static_cast<DWORD>(bytes));
}

bool writeAll(HANDLE handle, const char* data, std::size_t size) noexcept {
    while (size > 0) {
        const std::size_t allowed = faults::writeAllowance(handle, size);
        if (allowed == 0) {
            ::SetLastError(ERROR_DISK_FULL);
            return false;
        }
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(allowed, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(handle, data, chunk, &written, nullptr)) return false;
        data += written;
        size -= written;
    }
    return true;
}

// Copies the file `from` to `to` to its end; `*copied` is how many bytes
// the source gave. With `checksum`, every byte copied is added to it.
bool copyContent(HANDLE from, HANDLE to, base::Checksum* checksum, long long* copied) noexcept {
    static constexpr DWORD kBufferSize = 1 << 20;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kBufferSize]);
    if (!buffer) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    const long long killAfter = faults::killCopyAfter();
    const long long readLimit = faults::sourceReadLimit();
    const long long blockedAfter = faults::sourceBlockedAfter();
    *copied = 0;
    for (;;) {
        DWORD wanted = kBufferSize;
        if (readLimit >= 0)
            wanted = static_cast<DWORD>(std::clamp<long long>(readLimit - *copied, 0, wanted));
        if (blockedAfter >= 0) {
            if (*copied >= blockedAfter) faults::blockForGood();
            wanted = static_cast<DWORD>(std::min<long long>(blockedAfter - *copied, wanted));
        }
        DWORD got = 0;
        if (wanted > 0 && !::ReadFile(from, buffer.get(), wanted, &got, nullptr)) return false;
        if (got == 0) return true;
        if (checksum) checksum->add(buffer.get(), got);
        if (killAfter >= 0 && *copied + got > killAfter) {
            writeAll(to, buffer.get(), static_cast<std::size_t>(killAfter - *copied));
            faults::killProcessNow();
        }
        if (!writeAll(to, buffer.get(), got)) return false;
        *copied += got;
        markProgress();
        faults::copiedSourceBytes(*copied);
    }
}

std::int64_t nanoseconds(std::int64_t ticks) noexcept {
    return (ticks - windows::kEpochDifferenceTicks) * 100;
}

// The stamp of an open file; false with the system's error set.
bool stampOf(HANDLE file, SourceStamp& stamp) noexcept {
    FILE_BASIC_INFO basic{};
    LARGE_INTEGER size{};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileSizeEx(file, &size))
        return false;
    stamp.length = size.QuadPart;
    stamp.modifiedNs = nanoseconds(basic.LastWriteTime.QuadPart);
    // A file system without a change time (FAT) gives 0: the last write stands in.
    stamp.changedNs =
        basic.ChangeTime.QuadPart != 0 ? nanoseconds(basic.ChangeTime.QuadPart) : stamp.modifiedNs;
    return true;
}

enum class ReadBack { Same, Different, Failed };
// Reads the flushed file at `path` back and compares its checksum with
// `expected`: unbuffered, so what comes back is what the device holds; where
// the file system refuses that (some network shares), through the cache.
// Failed, with the system's error set, when it cannot be read.
ReadBack readBack(const std::wstring& path, const base::Checksum::Digest& expected) noexcept {
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const auto open = [&](DWORD flags) {
        return ::CreateFileW(path.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING, flags,
                             nullptr);
    };
    HANDLE opened = open(FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN);
    const bool unbuffered = opened != INVALID_HANDLE_VALUE;
    if (!unbuffered) opened = open(FILE_FLAG_SEQUENTIAL_SCAN);
    const Handle file(opened);
    if (!file.valid()) return ReadBack::Failed;
    // Whole pages: unbuffered reads want addresses and sizes in sectors.
    constexpr DWORD kBlock = 4 << 20;
    void* buffer = ::VirtualAlloc(nullptr, kBlock, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!buffer) return ReadBack::Failed;
    try {
        base::Checksum checksum;
        for (;;) {
            DWORD got = 0;
            if (!::ReadFile(file.get(), buffer, kBlock, &got, nullptr)) {
                const DWORD code = ::GetLastError();
                ::VirtualFree(buffer, 0, MEM_RELEASE);
                ::SetLastError(code);
                return ReadBack::Failed;
            }
            checksum.add(buffer, got);
            markProgress();
            // Unbuffered, only the end gives less, and nothing lies after it.
            if (got == 0 || (unbuffered && got < kBlock)) break;
        }
        ::VirtualFree(buffer, 0, MEM_RELEASE);
        return checksum.digest() == expected ? ReadBack::Same : ReadBack::Different;
    } catch (...) {
        ::VirtualFree(buffer, 0, MEM_RELEASE);
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return ReadBack::Failed;
    }
}

// Removes a temporary file this writer made and gives up.
void removeTemporary(const std::wstring& temporary) noexcept {
    ::SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(temporary.c_str());
}

// Sets the attributes of the finished temporary file and gives it the name
// `target`, through its handle, so it is held until it has that name; then
// closes it. ERROR_SUCCESS, or the system's error with the temporary file
// removed. Without `replace` an existing target is refused, never replaced.
// `flush`: the content reaches the device before the file takes its name.
DWORD finishTemporary(Handle& file, const std::wstring& temporary, const std::wstring& target,
                      DWORD attributes, bool replace, bool flush) {
    FILE_BASIC_INFO basic{};  // zero times: left as they are
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    DWORD code = ERROR_SUCCESS;
    const FlushUnderWay waiting;
    if (flush && !::FlushFileBuffers(file.get())) {
        code = ::GetLastError();
    } else if (!::SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic)) {
        code = ::GetLastError();
    } else if (renameHeld(file.get(), target, replace)) {
        return file.close() ? ERROR_SUCCESS : ::GetLastError();
    } else {
        code = ::GetLastError();
        if (code == ERROR_INVALID_PARAMETER || code == ERROR_NOT_SUPPORTED ||
            code == ERROR_INVALID_FUNCTION) {
            // A file system without renames through a handle: moved by name once closed.
            if (!file.close()) {
                code = ::GetLastError();
            } else {
                const DWORD flags =
                    MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
                if (::MoveFileExW(temporary.c_str(), target.c_str(), flags)) return ERROR_SUCCESS;
                code = ::GetLastError();
            }
        }
    }
    file.close();
    removeTemporary(temporary);
    return code;
}

// A junction or a symbolic link to a folder: walking it could loop.
bool isLinkedFolder(const WIN32_FIND_DATAW& data) noexcept {
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT ||
            data.dwReserved0 == IO_REPARSE_TAG_SYMLINK);
}

}  // namespace

bool fileExists(const std::string& path) noexcept {
    const DWORD attributes = attributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool folderExists(const std::string& path) noexcept {
    const DWORD attributes = attributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

Status createFolder(const std::string& path) {
    if (!::CreateDirectoryW(systemPath(path).c_str(), nullptr))
        return fail("cannot create", path, ::GetLastError());
    return {};
}

Result<std::int64_t> fileLength(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(systemPath(path).c_str(), GetFileExInfoStandard, &data))
        return fail("cannot read the status of", path, ::GetLastError());
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                     data.nFileSizeLow);
}

std::string currentDirectory() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (got == 0) return {};
        if (got < buffer.size()) {
            buffer.resize(got);
            break;
        }
        buffer.resize(got);
    }
    // "C:\" is given as "C:", so that + "\name" makes one separator.
    while (buffer.size() > 1 && (buffer.back() == L'\\' || buffer.back() == L'/'))
        buffer.pop_back();
    return narrow(buffer);
}

std::string programDirectory() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (got == 0) return currentDirectory();
        if (got < buffer.size()) {
            buffer.resize(got);
            return narrow(wideFolderOf(buffer));
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<FileTimes> fileTimes(const std::string& path) noexcept {
    try {
        const std::wstring wide = systemPath(path);
        FILETIME created{}, accessed{}, written{};
        // Opened for its attributes only: a file another program holds open or
        // locked still gives its times. Folders need backup semantics to open.
        Handle file(::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (file.valid()) {
            if (!::GetFileTime(file.get(), &created, &accessed, &written)) return std::nullopt;
        } else {
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data))
                return std::nullopt;
            created = data.ftCreationTime;
            written = data.ftLastWriteTime;
        }
        return FileTimes{windows::secondsOf(written), windows::secondsOf(created)};
    } catch (...) {
        return std::nullopt;
    }
}

struct TargetFolder::Folder {
    std::string path;
};

struct StagedCopy::State {
    ~State() {
        if (published || !file.valid()) return;
        file.close();
        removeTemporary(temporary);
    }
    Handle file;
    std::wstring temporary;
    std::wstring target;
    std::string targetText;
    DWORD attributes = 0;
    bool replace = false;
    bool published = false;
    SourceStamp source;
};

StagedCopy::StagedCopy(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}
StagedCopy::~StagedCopy() = default;
StagedCopy::StagedCopy(StagedCopy&&) noexcept = default;
StagedCopy& StagedCopy::operator=(StagedCopy&&) noexcept = default;

const SourceStamp& StagedCopy::source() const noexcept {
    return state_->source;
}

const std::string& StagedCopy::path() const noexcept {
    return state_->targetText;
}

bool StagedCopy::published() const noexcept {
    return state_->published;
}

bool StagedCopy::sameFolder(const StagedCopy& other) const noexcept {
    return wideFolderOf(state_->target) == wideFolderOf(other.state_->target);
}

Status StagedCopy::publish() noexcept {
    State& state = *state_;
    if (state.published) return {};
    // Flushed when it was staged: no file system here can be flushed whole.
    const DWORD code = finishTemporary(state.file, state.temporary, state.target, state.attributes,
                                       state.replace, false);
    state.published = code == ERROR_SUCCESS;
    if (state.published) return {};
    const bool exists = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
    return fail(exists ? "will not replace" : "cannot rename to", state.targetText, code);
}

// Every copy flushes itself before it is staged, and a folder's entries reach
// the device as the file system keeps them: an ordinary user can flush no
// file system, nor a folder, here.
struct FileSystemFlush::State {};
FileSystemFlush::FileSystemFlush() : state_(std::make_unique<State>()) {}
FileSystemFlush::~FileSystemFlush() = default;
void FileSystemFlush::noteStaged(StagedCopy&) noexcept {}
void FileSystemFlush::notePublished(StagedCopy&) noexcept {}
Status FileSystemFlush::flush() noexcept {
    return {};
}

std::size_t openFileAllowance() noexcept {
    return 1 << 14;
}

std::optional<SourceStamp> sourceStampOf(const std::string& path) noexcept {
    try {
        Handle file(::CreateFileW(systemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
        SourceStamp stamp;
        if (!file.valid() || !stampOf(file.get(), stamp)) return std::nullopt;
        return stamp;
    } catch (...) {
        return std::nullopt;
    }
}

namespace {

// Copies `source` to `target` up to its name; see host::StagedCopy.
// `verify`: the copy, flushed, is read back from the device and compared with
// the checksum taken while it was written.
Result<StagedCopy> stageFile(const std::string& source, const std::string& target, bool replace,
                             bool verify) noexcept {
    try {
        const std::wstring wideSource = systemPath(source);
        const std::wstring wideTarget = systemPath(target);
        Handle from(::CreateFileW(wideSource.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!from.valid()) return fail("cannot open", source, ::GetLastError());
        BY_HANDLE_FILE_INFORMATION info;
        if (!::GetFileInformationByHandle(from.get(), &info))
            return fail("cannot read the status of", source, ::GetLastError());
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            return fail("cannot copy", source, ERROR_ACCESS_DENIED);
        auto state = std::make_unique<StagedCopy::State>();
        if (!stampOf(from.get(), state->source))
            return fail("cannot read the status of", source, ::GetLastError());
        if (!replace && ::GetFileAttributesW(wideTarget.c_str()) != INVALID_FILE_ATTRIBUTES)
            return fail("will not replace", target, ERROR_FILE_EXISTS);

        const std::wstring folder = wideFolderOf(wideTarget);
        const std::wstring base = wideBaseName(wideTarget);
        removeLeftovers(folder, base);

        std::optional<base::Checksum> checksum;
        if (verify) checksum.emplace();
        state->file = Handle(createTemporary(folder, base, state->temporary, verify));
        if (!state->file.valid())
            return fail("cannot create a file in", narrow(folder), ::GetLastError());
        // Every failure from here on leaves no file behind (the temporary one
        // goes with the state).
        const HANDLE to = state->file.get();
        long long copied = 0;
        if (!copyContent(from.get(), to, checksum ? &*checksum : nullptr, &copied))
            return fail("cannot copy", source, ::GetLastError());
        if (copied < state->source.length)
            return failBecause("cannot copy", source,
                               "the source gave " + std::to_string(copied) + " of " +
                                   std::to_string(state->source.length) + " bytes",
                               ERROR_HANDLE_EOF);
        // A copy is of one state of the source: written meanwhile (saved,
        // appended to, cut short), it may hold some of each.
        SourceStamp after;
        if (!stampOf(from.get(), after))
            return fail("cannot read the status of", source, ::GetLastError());
        if (!(after == state->source) || copied != state->source.length)
            return failBecause("cannot copy", source, "the source changed while it was copied",
                               ERROR_SHARING_VIOLATION);
        // The last-write time travels with the copy, as the system's copy keeps it;
        // the creation time is the copy's own.
        if (!::SetFileTime(to, nullptr, nullptr, &info.ftLastWriteTime))
            return fail("cannot set the time of", target, ::GetLastError());
        from.close();
        {
            const FlushUnderWay waiting;
            if (!::FlushFileBuffers(to)) return fail("cannot write", target, ::GetLastError());
        }
        if (verify) {
            if (faults::corruptThisCopy()) faults::damageCopy(to);
            switch (readBack(state->temporary, checksum->digest())) {
                case ReadBack::Same:
                    break;
                case ReadBack::Different:
                    return failBecause("cannot verify the copy", target,
                                       "it reads back from the device with other bytes than "
                                       "were written",
                                       ERROR_CRC);
                case ReadBack::Failed:
                    return fail("cannot read back", target, ::GetLastError());
            }
        }
        state->target = wideTarget;
        state->targetText = target;
        state->attributes = info.dwFileAttributes & kCopiedAttributes;
        state->replace = replace;
        return StagedCopy(std::move(state));
    } catch (...) {
        return fail("out of memory copying", source, ERROR_NOT_ENOUGH_MEMORY);
    }
}

Status stageAndPublish(const std::string& source, const std::string& target, bool replace,
                       bool verify) noexcept {
    Result<StagedCopy> staged = stageFile(source, target, replace, verify);
    if (!staged) return std::move(staged).error();
    return staged->publish();
}

}  // namespace

Status copyFileSafely(const std::string& source, const std::string& target, bool replace) noexcept {
    return stageAndPublish(source, target, replace, false);
}

// Windows offers no lookup relative to an open folder that refuses to leave
// it, so each destination is checked by its resolved path when it is entered,
// and its folders made one by one after the check.
TargetFolder::TargetFolder(std::string root) : rootPath_(std::move(root)) {}

TargetFolder::~TargetFolder() = default;

Result<TargetFolder::Reach> TargetFolder::enter(std::string_view relative) noexcept {
    try {
        relative = trimmedRelative(relative);
        if (folder_ && relative == relative_) return Reach::Reached;
        folder_.reset();
        relative_.assign(relative);
        path_ = relative.empty() ? rootPath_ : joinPath(rootPath_, relative);
        if (!pathInside(rootPath_, path_)) return Reach::Outside;
        for (std::size_t p = rootPath_.size() + 1; p <= path_.size(); ++p) {
            if (p < path_.size() && !isSeparator(path_[p])) continue;
            const std::string folder = path_.substr(0, p);
            if (folderExists(folder)) continue;
            if (const Status made = createFolder(folder); !made && !folderExists(folder))
                return fail("cannot create a file in", path_,
                            static_cast<DWORD>(made.error().code));
        }
        folder_ = std::make_shared<const Folder>(Folder{path_});
        return Reach::Reached;
    } catch (...) {
        return fail("out of memory opening", rootPath_, ERROR_NOT_ENOUGH_MEMORY);
    }
}

void TargetFolder::leave() noexcept {
    folder_.reset();
}

bool TargetFolder::isAt(std::string_view relative) const noexcept {
    return folder_ && trimmedRelative(relative) == relative_;
}

bool TargetFolder::destinationGone() const noexcept {
    try {
        return folder_ && !folderExists(path_);
    } catch (...) {
        return false;
    }
}

bool TargetFolder::nameTaken(const std::string& name) const noexcept {
    try {
        return ::GetFileAttributesW(systemPath(joinPath(path_, name)).c_str()) !=
               INVALID_FILE_ATTRIBUTES;
    } catch (...) {
        return true;
    }
}

std::optional<FileStatus> TargetFolder::statusOf(const std::string& name) const noexcept {
    try {
        if (!folder_) return std::nullopt;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!::GetFileAttributesExW(systemPath(joinPath(path_, name)).c_str(),
                                    GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            return std::nullopt;
        const auto length = static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
        return FileStatus{length, windows::secondsOf(data.ftLastWriteTime),
                          windows::secondsOf(data.ftCreationTime)};
    } catch (...) {
        return std::nullopt;
    }
}

Result<StagedCopy> TargetFolder::stage(const std::string& source, const std::string& name,
                                       bool replace) noexcept {
    try {
        if (!folder_) return fail("cannot create a file in", path_, ERROR_INVALID_HANDLE);
        return stageFile(source, joinPath(path_, name), replace, verify_);
    } catch (...) {
        return fail("out of memory copying", source, ERROR_NOT_ENOUGH_MEMORY);
    }
}

Status TargetFolder::copyHere(const std::string& source, const std::string& name,
                              bool replace) noexcept {
    Result<StagedCopy> staged = stage(source, name, replace);
    if (!staged) return std::move(staged).error();
    return staged->publish();
}

void TargetFolder::removeLeftoversOf(const std::string& name) noexcept {
    try {
        if (folder_) removeLeftovers(systemPath(path_), windows::widen(name));
    } catch (...) {
    }
}

Result<bool> readFileInPieces(const std::string& path,
                              const std::function<bool(std::string_view, std::uint64_t)>& take) {
    Handle file(::CreateFileW(systemPath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) return fail("cannot open", path, ::GetLastError());
    if (::GetFileType(file.get()) != FILE_TYPE_DISK)
        return fail("cannot read", path, ERROR_INVALID_FUNCTION);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size))
        return fail("cannot read the status of", path, ::GetLastError());
    const auto length = static_cast<std::uint64_t>(size.QuadPart);
    char buffer[1 << 16];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr))
            return fail("cannot read", path, ::GetLastError());
        if (got == 0) return true;
        if (!take({buffer, got}, length)) return false;
    }
}

Status writeFileAtomically(const std::string& path, std::string_view bytes, bool durable) noexcept {
    try {
        const std::wstring wide = systemPath(path);
        const std::wstring folder = wideFolderOf(wide);
        std::wstring temporary;
        Handle file(createTemporary(folder, wideBaseName(wide), temporary));
        if (!file.valid()) return fail("cannot create a file in", narrow(folder), ::GetLastError());
        if (!writeAll(file.get(), bytes.data(), bytes.size())) {
            const DWORD code = ::GetLastError();
            file.close();
            removeTemporary(temporary);
            return fail("cannot write", path, code);
        }
        // The new content keeps the attributes of the file it replaces.
        const DWORD existing = ::GetFileAttributesW(wide.c_str());
        const DWORD attributes = existing == INVALID_FILE_ATTRIBUTES
                                     ? FILE_ATTRIBUTE_NORMAL
                                     : (existing & kCopiedAttributes & ~FILE_ATTRIBUTE_READONLY);
        const DWORD code = finishTemporary(file, temporary, wide, attributes, true, durable);
        if (code != ERROR_SUCCESS) return fail("cannot write", path, code);
        return {};
    } catch (...) {
        return fail("out of memory writing", path, ERROR_NOT_ENOUGH_MEMORY);
    }
}

Status appendToFile(const std::string& path, std::string_view bytes) noexcept {
    try {
        // Shared for reading and writing, as the log is opened "shared".
        Handle file(::CreateFileW(systemPath(path).c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) return fail("cannot open", path, ::GetLastError());
        if (!writeAll(file.get(), bytes.data(), bytes.size()) || !file.close())
            return fail("cannot write", path, ::GetLastError());
        return {};
    } catch (...) {
        return fail("out of memory writing", path, ERROR_NOT_ENOUGH_MEMORY);
    }
}

Status listDirectory(const std::string& folder, int mask, std::vector<ListingEntry>& entries,
                     std::vector<std::optional<FileStatus>>* statuses) {
    entries.clear();
    if (statuses) statuses->clear();
    const auto failed = [&folder](DWORD code) { return fail("cannot list", folder, code); };
    WIN32_FIND_DATAW data;
    const std::wstring pattern = systemPath(joinPath(folder, "*"));
    FindHandle find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find.valid()) return failed(::GetLastError());
    // The listing's attribute mask: hidden entries need bit 2, system entries
    // bit 4, folders bit 16; read-only and archive-flagged files count as
    // ordinary files, so 16 lists them too.
    const bool withHidden = (mask & 2) != 0;
    const bool withSystem = (mask & 4) != 0;
    const bool withFolders = (mask & 16) != 0;
    base::detail::ListingCollector found;
    do {
        markProgress();
        const std::wstring_view wideName = data.cFileName;
        if (wideName == L"." || wideName == L"..") continue;
        const DWORD attributes = data.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_HIDDEN) && !withHidden) continue;
        if ((attributes & FILE_ATTRIBUTE_SYSTEM) && !withSystem) continue;
        const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isFolder && (!withFolders || isLinkedFolder(data))) continue;
        std::string name = narrow(wideName);
        if (isTemporaryName(name)) continue;
        found.add(std::move(name), isFolder);
    } while (::FindNextFileW(find.get(), &data));
    if (const DWORD code = ::GetLastError(); code != ERROR_NO_MORE_FILES) {
        entries.clear();
        return failed(code);
    }
    found.sortInto(entries);
    // The times a listing gives can lag behind those of a file still open
    // for writing (NTFS updates its folder's copy when the file is closed):
    // each file's status is asked of the file itself.
    if (statuses) statuses->assign(entries.size(), std::nullopt);
    return {};
}

EntryInfo lookUpEntry(const std::string& path) {
    using Kind = EntryInfo::Kind;
    const DWORD attributes = attributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = ::GetLastError();
        const bool missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
                             code == ERROR_INVALID_NAME || code == ERROR_BAD_NETPATH;
        return {missing ? Kind::Missing : Kind::Unreadable, systemMessage(code)};
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return {Kind::Folder, "a folder"};
    return {Kind::File, "a file"};
}

}  // namespace host
