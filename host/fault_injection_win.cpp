// The seams' Windows side: what a kill, a damaged copy and a full disk do here.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "host/fault_injection.h"
#include "host/windows_internal.h"

namespace host::faults {

void killProcessNow() noexcept {
    ::TerminateProcess(::GetCurrentProcess(), 137);
}

void signalProcessNow(int signal) noexcept {
    // No signals here: ended as by the signal's default action.
    ::TerminateProcess(::GetCurrentProcess(), 128 + static_cast<unsigned>(signal));
}

void damageCopy(void* file) noexcept {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size) || size.QuadPart == 0) return;
    const auto last = static_cast<std::uint64_t>(size.QuadPart - 1);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(last);
    at.OffsetHigh = static_cast<DWORD>(last >> 32);
    unsigned char byte = 0;
    DWORD done = 0;
    if (!::ReadFile(file, &byte, 1, &done, &at) || done != 1) return;
    byte ^= 0xFF;
    if (::WriteFile(file, &byte, 1, &done, &at)) ::FlushFileBuffers(file);
}

namespace {

// The injected full disk: bytes left, and below which folder.
struct InjectedFailure {
    std::mutex mutex;
    std::atomic<bool> active{false};
    long long budget = 0;
    std::wstring folder;  // final path with a trailing separator; empty: everywhere
};
InjectedFailure injected;

std::wstring finalPath(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got =
            ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
        if (got == 0) return {};
        if (got < path.size()) {
            path.resize(got);
            return path;
        }
        path.resize(got);
    }
}

}  // namespace

bool diskFullInjected() noexcept {
    return injected.active.load(std::memory_order_relaxed);
}

std::size_t writeAllowance(void* file, std::size_t size) noexcept {
    if (!injected.active.load()) return size;
    try {
        std::lock_guard lock(injected.mutex);
        if (!injected.folder.empty() && !finalPath(file).starts_with(injected.folder)) return size;
        const auto allowed =
            static_cast<std::size_t>(std::min(injected.budget, static_cast<long long>(size)));
        injected.budget -= static_cast<long long>(allowed);
        return allowed;
    } catch (...) {
        return size;
    }
}

void setWriteFailureAfterBytesForTesting(long long bytes, std::string folder) noexcept {
    try {
        std::lock_guard lock(injected.mutex);
        injected.budget = bytes;
        injected.folder.clear();
        if (bytes >= 0 && !folder.empty()) {
            // Handles name final paths; the folder is compared in the same form.
            const std::wstring path = windows::systemPath(folder);
            const HANDLE opened =
                ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (opened != INVALID_HANDLE_VALUE) {
                injected.folder = finalPath(opened);
                ::CloseHandle(opened);
            } else {
                injected.folder = path;
            }
            if (!injected.folder.empty() && injected.folder.back() != L'\\')
                injected.folder += L'\\';
        }
        injected.active.store(bytes >= 0);
    } catch (...) {
    }
}

}  // namespace host::faults
