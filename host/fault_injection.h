// Test seams in one place. They are set through the environment, so a test or
// a benchmark may give them to a program it starts:
//   ZARVIK_TEST_KILL_AT=<point>:<n>   killed (SIGKILL; on Windows, terminated)
//                                     the n-th time <point> is reached, so what
//                                     a kill leaves behind is tested at exact
//                                     moments instead of at random ones;
//   ZARVIK_TEST_NO_JOURNAL=1          torrin's runs keep no journal or retry
//                                     list and flush nothing before storing the
//                                     threshold, so a benchmark can tell what
//                                     those cost.
// Unset, a point costs one relaxed atomic load.
#pragma once

#include <string_view>

namespace host::faults {

// Points the programs pass.
inline constexpr std::string_view kCopyDone = "copy-done";                // a copy took its name
inline constexpr std::string_view kJournalFlushed = "journal-flushed";    // a batch of entries
inline constexpr std::string_view kThresholdStored = "threshold-stored";  // before the journal goes

void reach(std::string_view point) noexcept;

// ZARVIK_TEST_NO_JOURNAL is set.
bool journalSwitchedOff() noexcept;

// Sets the kill point in this process (as the environment does); an empty
// point clears it.
void setKillAtForTesting(std::string_view point, long count) noexcept;

}  // namespace host::faults
