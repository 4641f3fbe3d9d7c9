// How a run weighs what the last run left in its state file (run_records.h)
// before it copies: whether the stored threshold can be trusted (a clock
// that was fast, set back, or read in another zone), and whether the source
// rows and the target are on the disks they were on (a disk not plugged in
// leaves an empty mount point; a drive letter may name another disk).
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "host/clock.h"
#include "host/result.h"
#include "torrin/engine/run_records.h"

namespace torrin {

// Later than now by more than this, a threshold was stored by a clock that
// was ahead; a clock set back by more than this moves the threshold back.
inline constexpr std::time_t kClockMargin = 2;

struct ThresholdInForce {
    std::string text;                    // as the run logs it and its journal records it
    std::optional<std::time_t> instant;  // nullopt: `text` read in the local zone
    // No threshold can be trusted: every file whose copy in the target is
    // missing or differs in length or modification time is copied.
    bool everyMissingCopy = false;
    // The log line of a stored threshold that lay after now ("" when none):
    // the run says it on standard error too and ends with status 1.
    std::string distrusted;
    // The log line of a threshold moved back because the clock was set back.
    std::string movedBack;
};

// The threshold a run works under when `stored` is the text "fdt" holds.
// Where the state recorded that text, its instant stands, whatever the zone
// now; else the text is read in the local zone, as it always was.
ThresholdInForce thresholdInForce(const RunState& state, const std::string& stored, std::time_t now,
                                  const std::optional<host::Clock::SinceBoot>& sinceBoot);
// A threshold the user gave: read in the local zone, trusted.
ThresholdInForce givenThreshold(const std::string& text);

// What the state holds once a run that worked under `used` stores
// `stored` as its successor.
void rememberThreshold(RunState& state, const ThresholdInForce& used, StoredThreshold stored,
                       std::time_t now);

// The folders of a run as against the disks the state remembers.
struct DiskCheck {
    struct Change {
        bool isTarget = false;
        std::string folder;
        bool absent = false;  // a mount point whose disk is not there; else another disk
    };
    std::vector<Change> changes;
    // The disks to remember after the run: each folder's disk as it is now
    // (or as remembered, where it cannot be looked at), the changes' new
    // disks when the user accepts them, else the ones remembered.
    std::vector<RememberedDisk> whenAccepted;
    std::vector<RememberedDisk> whenRefused;
};
DiskCheck checkDisks(const RunState& state, const std::string& target,
                     const std::vector<std::string>& rows);
// The log line of a change.
std::string diskChangeLine(const DiskCheck::Change& change);

// A missing or unreadable file reads as an empty state.
RunState readRunState(const std::string& path);
host::Status writeRunState(const std::string& path, const RunState& state, bool durable);

}  // namespace torrin
