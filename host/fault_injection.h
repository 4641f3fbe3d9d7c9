// The test seam, the one place where tests reach into the programs: kill
// points, injected failures, delays and the order of ordered work. Nothing
// else in the product declares a hook for tests.
//
// The switches a test may give to a program it starts are read from the
// environment once, when the program starts:
//   ZARVIK_TEST_KILL_AT=<point>:<n>   killed (SIGKILL; on Windows, terminated)
//                                     the n-th time <point> is reached, so what
//                                     a kill leaves behind is tested at exact
//                                     moments instead of at random ones;
//                                     <point>:<n>:<signal> sends that signal
//                                     instead (POSIX), as a stop asked for at
//                                     that moment;
//   ZARVIK_TEST_KILL_COPY_AFTER=<n>   killed the same way once a copy has
//                                     written n bytes of one file's data and
//                                     more are to come, in the middle of it;
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
//                                     is tested on any kernel;
//   ZARVIK_TEST_NAMED_TEMPORARIES=1   named temporary files even where the file
//                                     system offers nameless ones, so the way
//                                     of FAT, shares and Windows is tested
//                                     everywhere;
//   ZARVIK_TEST_SHORT_READ=<n>        a copy's reads of its source give nothing
//                                     after the source's first n bytes, as a
//                                     share whose server stopped answering does;
//   ZARVIK_TEST_BLOCKED_READ=<n>      a copy's read of its source after its
//                                     first n bytes never returns, as on a share
//                                     whose server died (a hard mount): the
//                                     process ends only when it is killed;
//   ZARVIK_TEST_WATCH_BOUNDS=<a>:<b>  torrin's unattended run takes a run that
//                                     shows no progress for a milliseconds as
//                                     stuck on a source that does not answer
//                                     (instead of 120 s), and a run asked to
//                                     stop as stuck after b (instead of 10 s);
//   ZARVIK_TEST_FREE_NAME_WAIT=<us>   a copy that cannot take a free name in one
//                                     step waits this long between finding it
//                                     free and taking it, so that a test sees
//                                     two programs meet in between.
// A test sets the same seams in its own process through the set...ForTesting
// functions, and the rest (a full disk, delays and the order of ordered work)
// only there. Unset, a seam costs the code it sits in one load of a flag.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace host::faults {

// --- Kill points ---------------------------------------------------------

// Points the programs pass.
inline constexpr std::string_view kCopyBegun = "copy-begun";              // a copy begins writing
inline constexpr std::string_view kCopyDone = "copy-done";                // a copy took its name
inline constexpr std::string_view kJournalFlushed = "journal-flushed";    // a batch of entries
inline constexpr std::string_view kRetriesStored = "retries-stored";      // before the threshold
inline constexpr std::string_view kThresholdStored = "threshold-stored";  // before the journal goes

void reach(std::string_view point) noexcept;
// Sets the kill point in this process (as the environment does); an empty
// point clears it. `signal` 0: SIGKILL.
void setKillAtForTesting(std::string_view point, long count, int signal = 0) noexcept;

// The bytes of one file's data after which a copy kills the process; -1: never.
long long killCopyAfter() noexcept;
void setKillCopyAfterBytesForTesting(long long bytes) noexcept;
// Ends the process at once, as a kill does: SIGKILL, or on Windows an
// immediate termination.
void killProcessNow() noexcept;
// Raises `signal` in the calling thread (on Windows, ends the process with
// status 128 + signal).
void signalProcessNow(int signal) noexcept;

// --- Damaged copies ------------------------------------------------------

// True the n-th time a verified copy asks (ZARVIK_TEST_CORRUPT_COPY): that
// copy is to be damaged before it is read back.
bool corruptThisCopy() noexcept;
// Sets the copy to damage in this process (as the environment does): the
// `count`-th verified copy from now on; 0: none.
void setCorruptCopyForTesting(long count) noexcept;
// The damage: the last byte of the open, flushed copy changed on the device.
// `file` is the descriptor on POSIX, the handle on Windows.
void damageCopy(int file) noexcept;
void damageCopy(void* file) noexcept;

// --- A source that fails while it is copied --------------------------------

// The bytes of a source after which a copy's reads of it give nothing (end of
// file); -1: no limit.
long long sourceReadLimit() noexcept;
void setSourceReadLimitForTesting(long long bytes) noexcept;
// Runs `action` once, in the copying thread, when a copy has read more than
// `bytes` of a source: what another program writing the file meanwhile does.
// An empty action clears it.
void setMidCopyActionForTesting(long long bytes, std::function<void()> action);
// Whether one is set (the copy then reads through a buffer, so it happens
// between two reads), and the call the copy makes after each read.
bool midCopyActionSet() noexcept;
void copiedSourceBytes(long long bytes) noexcept;

// The bytes of a source after which a copy's read of it blocks for good; -1:
// none.
long long sourceBlockedAfter() noexcept;
// Blocks the calling thread until the process ends.
[[noreturn]] void blockForGood() noexcept;

// The bounds of ZARVIK_TEST_WATCH_BOUNDS in milliseconds; -1 where unset.
long long watchBoundMs() noexcept;
long long watchStopGraceMs() noexcept;

// --- A full disk ---------------------------------------------------------

// Once `bytes` more bytes have been written by the file services' writes
// (copies, atomic writes, appends) into files below `folder` (empty: any
// file), every further such write fails as on a full disk (ENOSPC;
// ERROR_DISK_FULL), after writing what still fits. A negative value ends the
// failure. Process-wide.
void setWriteFailureAfterBytesForTesting(long long bytes, std::string folder = {}) noexcept;
// A full disk is injected: the writes ask writeAllowance.
bool diskFullInjected() noexcept;
// How many of `size` bytes the injected full disk lets through to the open
// file `file` (the descriptor on POSIX, the handle on Windows).
std::size_t writeAllowance(int file, std::size_t size) noexcept;
std::size_t writeAllowance(void* file, std::size_t size) noexcept;

// --- Switches of the file services ---------------------------------------

// ZARVIK_TEST_NO_JOURNAL is set.
bool journalSwitchedOff() noexcept;

// ZARVIK_TEST_WITHOUT_OPENAT2 is set, or setWithoutOpenat2ForTesting(true).
bool withoutOpenat2() noexcept;
void setWithoutOpenat2ForTesting(bool without) noexcept;

// ZARVIK_TEST_NAMED_TEMPORARIES is set, or setNamedTemporariesForTesting(true).
// Windows names its temporary files always.
bool namedTemporaries() noexcept;
void setNamedTemporariesForTesting(bool named) noexcept;

// The wait of ZARVIK_TEST_FREE_NAME_WAIT, where it is set.
void waitBeforeTakingFreeName() noexcept;

// --- Ordered work (common::OrderedWork, common::runEachIndex) ------------

// How the pieces of ordered work on a pool complete.
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

// Each piece's work waits a random time of up to `microseconds` before it
// starts, so pieces complete out of their order (0: no wait).
void setWorkDelayForTesting(int microseconds) noexcept;
// The wait of setWorkDelayForTesting, where one is set.
void delayWork();
// True while a delay or the LaterFirst order is set: the work then counts the
// pieces that complete while an earlier piece's work has not.
bool completionOrderWatched() noexcept;
void countOutOfOrderCompletion() noexcept;
// How many have, so a test can tell that pieces did complete out of order.
long outOfOrderCompletionsForTesting() noexcept;

}  // namespace host::faults
