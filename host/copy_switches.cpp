#include "host/copy_switches.h"

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

void setKillCopyAfterBytesForTesting(long long bytes) noexcept {
    killSwitch.store(bytes < 0 ? -1 : bytes);
}

std::string_view detail::trimmedRelative(std::string_view relative) noexcept {
    while (!relative.empty() && isSeparator(relative.front())) relative.remove_prefix(1);
    while (!relative.empty() && isSeparator(relative.back())) relative.remove_suffix(1);
    return relative;
}

}  // namespace host
