// Test seams in one place. They are set through the environment, so a test or
// a benchmark may give them to a program it starts:
//   ZARVIK_TEST_KILL_AT=<point>:<n>   killed (SIGKILL; on Windows, terminated)
//                                     the n-th time <point> is reached, so what
//                                     a kill leaves behind is tested at exact
//                                     moments instead of at random ones;
//   ZARVIK_TEST_CORRUPT_COPY=<n>      the n-th copy that is verified gets its last
//                                     byte changed on the device after it was
//                                     written, checksummed and flushed, before
//                                     it is read back: what a failing disk,
//                                     cable or controller does to a copy;
//   ZARVIK_TEST_NO_JOURNAL=1          torrin's runs keep no journal or retry
//                                     list and flush nothing before storing the
//                                     threshold, so a benchmark can tell what
//                                     those cost;
//   ZARVIK_TEST_WITHOUT_OPENAT2=1     the folders below a target folder are
//                                     reached part by part, each opened from
//                                     the one before and following no link, as
//                                     on kernels without openat2, so that way
//                                     is tested on any kernel.
// Unset, a point costs one relaxed atomic load. A test sets the same seams
// in its own process through the functions below, and the order of ordered
// work (which no program started by a test needs) only there.
#pragma once

#include <string_view>

namespace host::faults {

// Points the programs pass.
inline constexpr std::string_view kCopyDone = "copy-done";                // a copy took its name
inline constexpr std::string_view kJournalFlushed = "journal-flushed";    // a batch of entries
inline constexpr std::string_view kThresholdStored = "threshold-stored";  // before the journal goes

void reach(std::string_view point) noexcept;

// True the n-th time a verified copy asks (ZARVIK_TEST_CORRUPT_COPY): that
// copy is to be damaged before it is read back.
bool corruptThisCopy() noexcept;
// Sets the copy to damage in this process (as the environment does): the
// `count`-th verified copy from now on; 0: none.
void setCorruptCopyForTesting(long count) noexcept;

// ZARVIK_TEST_NO_JOURNAL is set.
bool journalSwitchedOff() noexcept;

// Sets the kill point in this process (as the environment does); an empty
// point clears it.
void setKillAtForTesting(std::string_view point, long count) noexcept;

// ZARVIK_TEST_WITHOUT_OPENAT2 is set, or setWithoutOpenat2ForTesting(true).
bool withoutOpenat2() noexcept;
void setWithoutOpenat2ForTesting(bool without) noexcept;

// How the pieces of ordered work (common::OrderedWork) on a pool complete.
enum class WorkOrder {
    // As the workers take them.
    AsPosted,
    // Each piece's work is held back until the thread that added it waits for
    // a piece, then the pieces held so far run one after the other, the last
    // added first. Whatever a program needs done before something later must
    // therefore be waited for by the program itself: a missing wait shows
    // every time, not only when the workers happen to be slow.
    LaterFirst,
};
WorkOrder workOrder() noexcept;
void setWorkOrderForTesting(WorkOrder order) noexcept;

}  // namespace host::faults
