#include "host/copy_switches.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "host/fs.h"
#include "host/paths.h"

namespace host {

namespace {
// -2: not yet read from the environment.
std::atomic<long long> killSwitch{-2};
}  // namespace

long long detail::killCopyAfter() noexcept {
    long long bytes = killSwitch.load();
    if (bytes == -2) {
        const char* value = std::getenv("ZARVIK_TEST_KILL_COPY_AFTER");
        bytes = value && *value ? std::strtoll(value, nullptr, 10) : -1;
        if (bytes < 0) bytes = -1;
        killSwitch.store(bytes);
    }
    return bytes;
}

long long detail::freeNameWait() noexcept {
    static const long long microseconds = [] {
        const char* value = std::getenv("ZARVIK_TEST_FREE_NAME_WAIT");
        return value && *value ? std::max(0LL, std::strtoll(value, nullptr, 10)) : 0LL;
    }();
    return microseconds;
}

void setKillCopyAfterBytesForTesting(long long bytes) noexcept {
    killSwitch.store(bytes < 0 ? -1 : bytes);
}

std::string_view detail::trimmedRelative(std::string_view relative) noexcept {
    while (!relative.empty() && isSeparator(relative.front())) relative.remove_prefix(1);
    while (!relative.empty() && isSeparator(relative.back())) relative.remove_suffix(1);
    return relative;
}

}  // namespace host
