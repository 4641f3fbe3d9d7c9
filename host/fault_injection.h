// Test seams in one place: named points of the programs where a test may stop
// the process, so that what a kill leaves behind is tested at exact moments
// instead of at random ones. They are set through the environment, so a test
// may give them to a program it starts:
//   ZARVIK_TEST_KILL_AT=<point>:<n>   killed (SIGKILL; on Windows, terminated)
//                                     the n-th time <point> is reached.
// Unset, a point costs one relaxed atomic load.
#pragma once

#include <string_view>

namespace host::faults {

// Points the programs pass.
inline constexpr std::string_view kCopyDone = "copy-done";                // a copy took its name
inline constexpr std::string_view kJournalFlushed = "journal-flushed";    // a batch of entries
inline constexpr std::string_view kThresholdStored = "threshold-stored";  // before the journal goes

void reach(std::string_view point) noexcept;

// Sets the kill point in this process (as the environment does); an empty
// point clears it.
void setKillAtForTesting(std::string_view point, long count) noexcept;

}  // namespace host::faults
