// Pieces the Win32 side of host/ shares. The program's byte strings are UTF-8
// on Windows; every system call gets UTF-16, converted at the call.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>

#include "host/result.h"

namespace host::windows {

std::wstring widen(std::string_view utf8);
// A path for the file calls: as given while it is short; a long one (which the
// calls would refuse past MAX_PATH) made full and given the "\\?\" prefix.
std::wstring systemPath(std::string_view utf8);
std::string narrow(std::wstring_view utf16);
// The system's text for an error code, in UTF-8, without the trailing line end.
std::string systemMessage(DWORD code);
// The failure of `what` on `path` with the system's error `code` (the last
// error is set to it too), worded by the system or, failBecause, by the
// reason given.
Failure fail(std::string_view what, const std::string& path, DWORD code);
Failure failBecause(std::string_view what, const std::string& path, std::string_view reason,
                    DWORD code);

// Owns a handle of the file calls (INVALID_HANDLE_VALUE: none).
class Handle {
  public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) noexcept : handle_(handle) {}
    ~Handle() { close(); }
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    Handle& operator=(Handle&& other) noexcept {
        close();
        handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const noexcept { return handle_; }
    // False when closing reported a failure (a late write error).
    bool close() noexcept {
        if (!valid()) return true;
        const bool ok = ::CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return ok;
    }

  private:
    HANDLE handle_;
};

// 100-nanosecond ticks between 1601-01-01 and 1970-01-01 (both UTC).
inline constexpr std::int64_t kEpochDifferenceTicks = 116444736000000000LL;
inline constexpr std::int64_t kTicksPerSecond = 10000000LL;

inline std::int64_t ticksOf(const FILETIME& time) noexcept {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                     time.dwLowDateTime);
}
inline FILETIME fileTimeOf(std::int64_t ticks) noexcept {
    const auto bits = static_cast<std::uint64_t>(ticks);
    return FILETIME{static_cast<DWORD>(bits & 0xFFFFFFFFu), static_cast<DWORD>(bits >> 32)};
}
// Whole seconds, rounded down, so that sub-second parts never move a time text.
inline std::time_t secondsOf(const FILETIME& time) noexcept {
    const std::int64_t ticks = ticksOf(time) - kEpochDifferenceTicks;
    std::int64_t seconds = ticks / kTicksPerSecond;
    if (ticks % kTicksPerSecond < 0) --seconds;
    return static_cast<std::time_t>(seconds);
}
inline FILETIME fileTimeOfSeconds(std::time_t seconds) noexcept {
    return fileTimeOf(static_cast<std::int64_t>(seconds) * kTicksPerSecond + kEpochDifferenceTicks);
}

}  // namespace host::windows
