#include <algorithm>
#include <cstdint>

#include "host/durability.h"
#include "host/paths.h"
#include "host/progress.h"
#include "host/windows_internal.h"

namespace host {

namespace {

using windows::fail;
using windows::systemPath;

HANDLE handleOf(long long value) noexcept {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(value));
}

long long valueOf(HANDLE handle) noexcept {
    return static_cast<long long>(reinterpret_cast<std::intptr_t>(handle));
}

}  // namespace

Status flushFileSystem(const std::string&) noexcept {
    // Each copy of a run is flushed before it takes its name.
    return {};
}

Status removeFileDurably(const std::string& path) noexcept {
    try {
        if (::DeleteFileW(systemPath(path).c_str())) return {};
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return {};
        return fail("cannot remove", path, code);
    } catch (...) {
        return fail("out of memory removing", path, ERROR_NOT_ENOUGH_MEMORY);
    }
}

JournalFile::~JournalFile() {
    close();
}

Status JournalFile::open(const std::string& path) noexcept {
    close();
    try {
        const HANDLE file =
            ::CreateFileW(systemPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return fail("cannot open", path, ::GetLastError());
        handle_ = valueOf(file);
        path_ = path;
        return {};
    } catch (...) {
        return fail("out of memory opening", path, ERROR_NOT_ENOUGH_MEMORY);
    }
}

Status JournalFile::append(std::string_view bytes) noexcept {
    if (handle_ == kClosed) return fail("cannot write", path_, ERROR_INVALID_HANDLE);
    while (!bytes.empty()) {
        DWORD wrote = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!::WriteFile(handleOf(handle_), bytes.data(), chunk, &wrote, nullptr) || wrote == 0)
            return fail("cannot write", path_, ::GetLastError());
        bytes.remove_prefix(wrote);
    }
    return {};
}

Status JournalFile::flush() noexcept {
    if (handle_ == kClosed) return fail("cannot write", path_, ERROR_INVALID_HANDLE);
    const FlushUnderWay waiting;
    if (!::FlushFileBuffers(handleOf(handle_)))
        return fail("cannot flush", path_, ::GetLastError());
    return {};
}

void JournalFile::close() noexcept {
    if (handle_ != kClosed) ::CloseHandle(handleOf(handle_));
    handle_ = kClosed;
}

Result<ExclusiveLock::Taking> ExclusiveLock::acquire(const std::string& path, bool wait) noexcept {
    release();
    try {
        const std::wstring wide = systemPath(path);
        for (;;) {
            // Opened with no sharing at all: while it is open nobody else can
            // open it, and the system closes it when the process ends.
            const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                handle_ = valueOf(file);
                return Taking::Taken;
            }
            const DWORD code = ::GetLastError();
            if (code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION)
                return fail("cannot create", path, code);
            if (!wait) return Taking::Busy;
            ::Sleep(100);
        }
    } catch (...) {
        return fail("out of memory locking", path, ERROR_NOT_ENOUGH_MEMORY);
    }
}

void ExclusiveLock::release() noexcept {
    if (handle_ != kClosed) ::CloseHandle(handleOf(handle_));
    handle_ = kClosed;
}

}  // namespace host
