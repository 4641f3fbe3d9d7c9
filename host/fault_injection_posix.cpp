// The seams' POSIX side: what a kill, a damaged copy and a full disk do here.
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "host/fault_injection.h"

namespace host::faults {

void killProcessNow() noexcept {
    ::kill(::getpid(), SIGKILL);
}

void signalProcessNow(int signal) noexcept {
    // Raised in the calling thread, whose handler has run when this returns:
    // sent to the process, it could reach the main thread only after this
    // thread had begun more copies, and the test's stop would fall anywhere.
    ::raise(signal);
}

void damageCopy(int fd) noexcept {
    struct stat st;
    unsigned char byte = 0;
    if (::fstat(fd, &st) != 0 || st.st_size == 0 || ::pread(fd, &byte, 1, st.st_size - 1) != 1)
        return;
    byte ^= 0xFF;
    if (::pwrite(fd, &byte, 1, st.st_size - 1) == 1) ::fdatasync(fd);
}

namespace {

// The injected full disk: bytes left, and below which folder.
struct InjectedFailure {
    std::mutex mutex;
    std::atomic<bool> active{false};
    long long budget = 0;
    std::string folder;  // with a trailing separator; empty: everywhere
};
InjectedFailure injected;

}  // namespace

bool diskFullInjected() noexcept {
    return injected.active.load(std::memory_order_relaxed);
}

std::size_t writeAllowance(int fd, std::size_t size) noexcept {
    if (!injected.active.load()) return size;
    std::lock_guard lock(injected.mutex);
    if (!injected.folder.empty()) {
        char link[64];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        char path[PATH_MAX + 1];
        const ssize_t length = ::readlink(link, path, PATH_MAX);
        if (length < 0 || std::string_view(path, static_cast<std::size_t>(length))
                                  .substr(0, injected.folder.size()) != injected.folder)
            return size;
    }
    const auto allowed =
        static_cast<std::size_t>(std::min(injected.budget, static_cast<long long>(size)));
    injected.budget -= static_cast<long long>(allowed);
    return allowed;
}

void setWriteFailureAfterBytesForTesting(long long bytes, std::string folder) noexcept {
    std::lock_guard lock(injected.mutex);
    injected.budget = bytes;
    injected.folder.clear();
    if (bytes >= 0 && !folder.empty()) {
        // The descriptors name resolved paths.
        if (char* resolved = ::realpath(folder.c_str(), nullptr)) {
            injected.folder = resolved;
            ::free(resolved);
        } else {
            injected.folder = std::move(folder);
        }
        injected.folder += '/';
    }
    injected.active.store(bytes >= 0);
}

}  // namespace host::faults
