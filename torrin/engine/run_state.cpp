#include "torrin/engine/run_state.h"

#include <algorithm>

#include "host/disks.h"
#include "host/fs.h"
#include "host/paths.h"
#include "torrin/engine/threshold.h"

namespace torrin {

namespace {

// How many thresholds before the last one the state keeps: enough to fall
// back past a few runs made while the clock was ahead.
constexpr std::size_t kEarlierKept = 4;

// Far enough back that every file counts by its time; the zone cannot move
// it before the epoch.
constexpr std::string_view kEverything = "1970-01-02 00:00:00";

}  // namespace

ThresholdInForce givenThreshold(const std::string& text) {
    ThresholdInForce given;
    given.text = text;
    return given;
}

ThresholdInForce thresholdInForce(const RunState& state, const std::string& stored, std::time_t now,
                                  const std::optional<host::Clock::SinceBoot>& sinceBoot) {
    ThresholdInForce used = givenThreshold(stored);
    const bool recorded = state.threshold && state.threshold->text == stored;
    std::optional<std::time_t> instant =
        recorded ? std::optional(state.threshold->instant) : thresholdInstant(stored);
    if (!instant) return used;
    if (recorded && sinceBoot && !state.threshold->boot.empty() &&
        state.threshold->boot == sinceBoot->boot) {
        // The same start of the system: the clock should read the stored
        // instant plus the seconds it has run since. Reading less, it was
        // set back, and files written since carry times before the stored
        // threshold (a fast clock that NTP corrected).
        const std::time_t expected =
            *instant + static_cast<std::time_t>(sinceBoot->seconds - state.threshold->sinceBoot);
        if (now < expected - kClockMargin) {
            const std::time_t back = expected - now;
            *instant -= back;
            used.movedBack = "系统时间在上次复制后被调回" + std::to_string(back) +
                             "秒，复制条件时间相应提前为:" + host::localTimeText(*instant);
        }
    }
    if (*instant > now + kClockMargin) {
        // Stored while the clock was ahead: every change since would be
        // passed over. The last threshold stored before, if it is not in
        // the future too; else every file whose copy is missing.
        const auto trusted =
            std::find_if(state.earlier.begin(), state.earlier.end(),
                         [&](const auto& t) { return t.instant <= now + kClockMargin; });
        used.distrusted = "复制条件时间晚于当前时间，不可信:" + stored;
        if (trusted != state.earlier.end()) {
            instant = trusted->instant;
            used.distrusted += "；改用上次可信的复制条件时间:" + host::localTimeText(*instant);
        } else {
            instant = thresholdInstant(kEverything);
            used.everyMissingCopy = true;
            used.distrusted += "；改为复制目标文件夹中没有或长度、修改时间不同的文件";
        }
    }
    used.instant = instant;
    used.text = used.everyMissingCopy ? std::string(kEverything) : host::localTimeText(*instant);
    return used;
}

void rememberThreshold(RunState& state, const ThresholdInForce& used, StoredThreshold stored,
                       std::time_t now) {
    std::vector<StoredThreshold> earlier;
    if (!used.everyMissingCopy) {
        if (const auto instant = used.instant ? used.instant : thresholdInstant(used.text))
            earlier.push_back({used.text, *instant, {}, 0});
    }
    for (const StoredThreshold& kept : state.earlier) {
        if (earlier.size() == kEarlierKept) break;
        if (kept.instant <= now + kClockMargin &&
            (earlier.empty() || kept.instant < earlier.back().instant))
            earlier.push_back(kept);
    }
    state.threshold = std::move(stored);
    state.earlier = std::move(earlier);
}

DiskCheck checkDisks(const RunState& state, const std::string& target,
                     const std::vector<std::string>& rows) {
    DiskCheck check;
    // A row respelt ("src/", "./src") is the same row.
    const auto rememberedOf = [&](bool isTarget,
                                  const std::string& folder) -> const RememberedDisk* {
        const RememberedDisk* found = nullptr;
        std::string key;
        for (const RememberedDisk& disk : state.disks) {
            if (disk.isTarget != isTarget) continue;
            if (disk.folder == folder) return &disk;
            if (key.empty()) key = host::folderKey(folder);
            if (!found && host::folderKey(disk.folder) == key) found = &disk;
        }
        return found;
    };
    const auto look = [&](bool isTarget, const std::string& folder) {
        const RememberedDisk* before = rememberedOf(isTarget, folder);
        const host::Result<host::DiskIdentity> disk = host::diskOf(folder);
        if (!disk) {
            // Not there at all: the run's own checks say so (a missing target
            // stops it; a missing row is kept for retrying).
            if (before) {
                check.whenAccepted.push_back(*before);
                check.whenRefused.push_back(*before);
            }
            return;
        }
        const RememberedDisk now{isTarget, folder, disk->names, disk->ownRoot};
        check.whenAccepted.push_back(now);
        if (before && before->ownRoot && !disk->ownRoot) {
            check.changes.push_back({isTarget, folder, true});
            check.whenRefused.push_back(*before);
        } else if (before && !host::sameDisk(before->names, disk->names)) {
            check.changes.push_back({isTarget, folder, false});
            check.whenRefused.push_back(*before);
        } else {
            check.whenRefused.push_back(now);
        }
    };
    look(true, target);
    for (const std::string& row : rows) {
        const bool seen =
            std::any_of(check.whenAccepted.begin(), check.whenAccepted.end(),
                        [&](const auto& d) { return !d.isTarget && d.folder == row; });
        if (!seen) look(false, row);
    }
    return check;
}

std::string diskChangeLine(const DiskCheck::Change& change) {
    if (change.isTarget)
        return (change.absent ? "目标文件夹原是一个磁盘的挂载点，现在该磁盘不在，本次未运行:"
                              : "目标文件夹现在所在的磁盘与上次复制时不同，本次未运行:") +
               change.folder;
    return (change.absent
                ? "源文件夹原是一个磁盘的挂载点，现在该磁盘不在，未复制，复制条件时间未更新:"
                : "源文件夹现在所在的磁盘与上次复制时不同，未复制，复制条件时间未更新:") +
           change.folder;
}

RunState readRunState(const std::string& path) {
    const host::Result<std::string> text = host::readFile(path);
    return text ? parseRunState(*text) : RunState{};
}

host::Status writeRunState(const std::string& path, const RunState& state, bool durable) {
    return host::writeFileAtomically(path, runStateText(state), durable);
}

}  // namespace torrin
