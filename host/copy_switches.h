// What both platforms' safe copies share: the test switches read from the
// environment, and how a destination below a target folder is written.
#pragma once

#include <string_view>

namespace host::detail {

// The bytes of one file's data after which a copy kills the process
// (ZARVIK_TEST_KILL_COPY_AFTER, or setKillCopyAfterBytesForTesting); -1: never.
long long killCopyAfter() noexcept;

// Microseconds a copy waits between finding its name free and taking it,
// where the system cannot do both in one step (ZARVIK_TEST_FREE_NAME_WAIT;
// 0: no wait), so that a test sees two programs meet in between.
long long freeNameWait() noexcept;

// A sub-folder path below a target folder without the separators at its ends,
// so "/a/b/", "a/b" and "a/b/" reach one folder.
std::string_view trimmedRelative(std::string_view relative) noexcept;

}  // namespace host::detail
