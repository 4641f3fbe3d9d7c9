#include "torrin/engine/rcopy.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "base/text.h"
#include "common/target_copies.h"
#include "host/clock.h"
#include "host/encoding.h"
#include "host/folder_status.h"
#include "host/fs.h"
#include "host/ini.h"
#include "host/paths.h"
#include "torrin/engine/destination_names.h"
#include "torrin/engine/folder_read_ahead.h"
#include "torrin/engine/run_journal.h"
#include "torrin/engine/run_state.h"
#include "torrin/engine/threshold.h"

namespace torrin {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::string withSeparator(std::string folder) {
    if (folder.empty() || !host::isSeparator(folder.back())) folder += host::separator();
    return folder;
}

// The part of `path` below `row` ("" for the row itself).
std::string belowRow(const std::string& row, const std::string& path) {
    if (path.size() <= row.size()) return {};
    std::size_t start = row.size();
    while (start < path.size() && host::isSeparator(path[start])) ++start;
    return path.substr(start);
}

// Why `path` could not be copied or read, as the log says it after the path:
// the system's reason where the failure is about the path itself, else the
// whole message (a destination folder that cannot be made, say).
std::string reasonFor(const std::string& path, const host::Failure& failure) {
    return failure.path == path ? failure.reasonText() : failure.message();
}

// Why a file the listing named has no status: gone meanwhile, or unreadable.
host::Failure statusFailure(const std::string& path) {
    const host::EntryInfo found = host::lookUpEntry(path);
    if (found.kind == host::EntryInfo::Kind::Missing ||
        found.kind == host::EntryInfo::Kind::Unreadable)
        return host::Failure{"cannot read the status of", path, 0, found.text};
    return host::Failure{"cannot read the status of", path, 0, "it changed while it was read"};
}

// Where the files of one source folder go, and whether they may go there.
struct Destination {
    std::string folder;    // ends with a separator
    std::string relative;  // below the target, without separators at its ends
    std::string key;       // host::folderKey of the folder: its copies' keys start with it
    std::optional<host::Failure> refused;  // no copy goes there, and why
    bool reached = false;                  // its folders are made and it is the walk's destination
    // A dry run's look at the destination, made the first time a name is chosen there.
    std::shared_ptr<host::TargetFolder> existing;
};

common::TargetCopies::Options copyOptions(const RunDescription& run, host::ProgressSink& progress) {
    common::TargetCopies::Options options;
    options.workers = run.workers;
    options.verify = run.verify;
    options.stopRequested = [&progress] { return progress.stopRequested(); };
    return options;
}

class CopyRun {
  public:
    CopyRun(const RunDescription& run, host::ProgressSink& progress)
        : run_(run),
          progress_(progress),
          state_(run.stateFile.empty() ? RunState{} : readRunState(run.stateFile)),
          inForce_(run.thresholdIsStored && !run.stateFile.empty()
                       ? thresholdInForce(state_, run.threshold, host::clock().now(),
                                          host::clock().sinceBoot())
                       : givenThreshold(run.threshold)),
          runThreshold_(inForce_.text, inForce_.instant),
          threshold_(&runThreshold_),
          target_(run.target),
          journal_(run.journal, run.retryList, dryRun()),
          copies_(run.target, copyOptions(run, progress)),
          readAhead_(&copies_.pool(), run.mask) {
        copies_.setBeforeRelease([this] { return writeJournal(); });
    }

    RunResult rcopy() {
        // One second back: a file changed later in the same second as the start,
        // after the walk passed it, is still newer than the stored threshold.
        startInstant_ = host::clock().now() - 1;
        startSinceBoot_ = host::clock().sinceBoot();
        result_.startTime = host::localTimeText(startInstant_);
        if (!checkDisks() || !openRecords()) return result_;
        writeLog("开始时间:" + result_.startTime);
        writeLog("copy源文件修改日期（或创建日期）大于:" + runThreshold_.text());
        for (const std::string* line : {&inForce_.movedBack, &inForce_.distrusted})
            if (!line->empty()) writeLog(*line);
        result_.thresholdDistrusted = inForce_.distrusted;
        for (const std::string& line : result_.disksChanged) writeLog(line);
        for (const std::string& note : journal_.notes()) writeLog(note);

        retryEarlierFailures();
        for (const std::string& row : run_.sourceFolders) {
            // An empty or blank row would walk the whole file system from its root.
            if (stopping() || base::trim(row).empty() || leftOut(row)) continue;
            if (!beginRow(row, runThreshold_)) continue;
            ue_dir(ls_path1_, std::string());
        }
        finishAll();
        commitRecords();

        result_.endTime = host::nowText();
        if (stopped_) {
            writeLog(std::string(kStoppedLine) + "成功数：" + std::to_string(result_.cgcs) +
                     "；失败数:" + std::to_string(result_.cccs));
        } else if (result_.cccs == 0 && result_.foldersLeftOut == 0) {
            writeLog("成功复制全部应复制的文件数:" + std::to_string(result_.cgcs));
        } else if (result_.cgcs == 0 && result_.cccs > 0) {
            writeLog("复制文件全部失败，失败数:" + std::to_string(result_.cccs));
        } else {
            writeLog("复制文件部分成功。成功数：" + std::to_string(result_.cgcs) +
                     "；失败数:" + std::to_string(result_.cccs));
        }
        if (result_.foldersLeftOut > 0)
            writeLog("无法读取的文件夹数:" + std::to_string(result_.foldersLeftOut));
        writeLog("结束时间:" + result_.endTime);
        return result_;
    }

  private:
    // Each line goes to the end of the file as it happens, so the failures of a
    // run that is killed are still on record; a log that cannot be written
    // stops nothing, and the run's result says so.
    void writeLog(std::string_view line) {
        if (dryRun()) return;
        std::string bytes = host::utf8ToGbk(line);
        bytes += kLineEnd;
        if (const host::Status written = host::appendToFile(run_.logfile, bytes);
            !written && result_.logFailure.empty())
            result_.logFailure = written.error().message();
    }

    // --- the records beside the settings -----------------------------------

    // Reads the journal and the retry list and starts this run's journal.
    // False, with the run refused and the reason logged, when they cannot be
    // kept: then nothing is copied, since a run that cannot vouch for its
    // copies would copy them again, or lose them, after a kill.
    bool openRecords() {
        if (!journal_.kept()) return true;
        header_ = JournalHeader{run_.target, runThreshold_.text(), run_.fullStructure, {}};
        for (const std::string& row : run_.sourceFolders) {
            if (!base::trim(row).empty()) header_.sources.push_back(row);
        }
        if (const host::Status opened = journal_.open(header_); !opened)
            return refuse(opened.error().message());
        result_.resumed = journal_.resumed();
        retries_ = journal_.takeRetries();
        return true;
    }

    bool refuse(const std::string& reason) {
        return refuseWith("无法写入设置文件夹，本次未运行:" + reason);
    }

    bool refuseWith(std::string line) {
        result_.refusal = std::move(line);
        writeLog("开始时间:" + host::nowText());
        writeLog(result_.refusal);
        return false;
    }

    // The target and the source rows against the disks the last run used. A
    // target on another disk (an empty mount point: the disk is not plugged
    // in) takes no copy; a source row there is left out, and the run stores
    // no threshold, which would pass over the files changed on its disk.
    // Folders seen for the first time are remembered as they are.
    bool checkDisks() {
        if (run_.stateFile.empty()) return true;
        const DiskCheck check = torrin::checkDisks(state_, run_.target, run_.sourceFolders);
        for (const DiskCheck::Change& change :
             run_.acceptChangedDisks ? std::vector<DiskCheck::Change>{} : check.changes) {
            if (change.isTarget) return refuseWith(diskChangeLine(change));
            result_.disksChanged.push_back(diskChangeLine(change));
            leftOutRows_.insert(change.folder);
        }
        std::vector<RememberedDisk> disks =
            run_.acceptChangedDisks ? check.whenAccepted : check.whenRefused;
        if (disks == state_.disks) return true;
        state_.disks = std::move(disks);
        // Kept at once, so that a disk the user accepted stays accepted
        // whatever becomes of the run; a state that cannot be written is
        // written again with the threshold.
        if (!dryRun()) static_cast<void>(writeRunState(run_.stateFile, state_, false));
        return true;
    }

    bool leftOut(const std::string& row) const {
        return !leftOutRows_.empty() && leftOutRows_.contains(row);
    }

    // The copies' flushes call this once the copies named before them have
    // ended and before the copies held for their entries begin: the
    // entries recorded and the copies confirmed since the last one reach the
    // device.
    host::Status writeJournal() {
        if (stopped_ && !journal_.kept()) return {};
        const host::Status written = journal_.flush();
        if (!written && !journalFailed_) {
            // Copies the journal cannot vouch for would be copied again, or
            // passed over, after a kill: the run stops here, and the next one
            // continues it from what the journal holds.
            journalFailed_ = true;
            stopped_ = true;
            result_.storeFailure =
                "无法写入设置文件夹，本次复制中止，下次将继续本次复制:" + written.error().message();
            writeLog(result_.storeFailure);
        }
        return written;
    }

    // The end of a run whose copies are all on their devices: the failures to
    // try again, then the threshold, and only then does the journal go (see
    // RunJournal::commit). A stopped run stores nothing, as a killed one.
    void commitRecords() {
        if (dryRun() || stopping() || !result_.disksChanged.empty()) return;
        if (!journal_.kept() && run_.profile.empty()) return;
        if (const host::Status committed =
                journal_.commit([this] { return storeThreshold(journal_.kept()); });
            !committed)
            failToStore(committed.error().message());
    }

    host::Status storeThreshold(bool durable) {
        if (!run_.stateFile.empty()) {
            // Before "fdt": a kill between the two leaves a state whose
            // threshold "fdt" does not hold, which the next run passes over.
            StoredThreshold stored{result_.startTime, startInstant_, {}, 0};
            if (startSinceBoot_) {
                stored.boot = startSinceBoot_->boot;
                stored.sinceBoot = startSinceBoot_->seconds - 1;
            }
            rememberThreshold(state_, inForce_, std::move(stored), host::clock().now());
            if (host::Status kept = writeRunState(run_.stateFile, state_, durable); !kept)
                return kept;
        }
        host::IniFile ini(run_.profile);
        ini.write("other", "fdt", result_.startTime);
        return ini.save(durable);
    }

    void failToStore(const std::string& reason) {
        result_.storeFailure =
            "无法写入设置文件夹，复制条件时间未更新，下次将继续本次复制:" + reason;
        writeLog(result_.storeFailure);
    }

    // --- failures to try again ----------------------------------------------

    // Tries the failures an earlier run kept, each with the threshold of the
    // run that failed, before this run's own walk.
    void retryEarlierFailures() {
        std::vector<RetryEntry> entries = std::move(retries_);
        std::map<std::string, std::optional<std::string>> rowsNow;
        for (RetryEntry& entry : entries) {
            if (stopping()) break;
            auto [known, added] = rowsNow.try_emplace(entry.row);
            if (added) known->second = rowNow(entry.row);
            // Its row is gone from the settings, or it is excluded now:
            // nothing to try any more.
            if (!known->second || run_.exclude.excludesPath(entry.relative, entry.isFolder) ||
                leftOut(*known->second))
                continue;
            entry.row = *known->second;
            // Kept to the end of the run: the finishes of its copies read it.
            const ThresholdTest& threshold = retryThresholds_.emplace_back(entry.threshold);
            if (!beginRow(entry.row, threshold)) continue;
            const std::string path =
                entry.relative.empty() ? entry.row : host::joinPath(entry.row, entry.relative);
            if (isGone(entry, path)) {
                queueNote("源文件已不存在，不再重试:" + path);
                walkParentOfGone(entry, path);
                continue;
            }
            queueNote("重试上次失败的文件:" + path);
            if (entry.isFolder) {
                ue_dir(path,
                       entry.relative.empty() ? std::string() : withSeparator(entry.relative));
                continue;
            }
            const std::string folder(host::parentPath(path));
            const std::string name(host::baseName(path));
            const std::string_view below = host::parentPath(entry.relative);
            std::optional<host::FileStatus> status;
            host::FolderStatusReader reader;
            if (reader.open(folder)) status = reader.status(name);
            std::optional<Destination> filenp;
            copyIfNewer(folder, name, status,
                        below.empty() ? std::string() : withSeparator(std::string(below)), filenp);
        }
        // The row context goes back to the walk's own.
        finishAll();
        threshold_ = &runThreshold_;
    }

    // Whether `name` in `folder` is a copy of a source with `source`'s length
    // and modification time that an earlier run made: with replacing off, a
    // file that qualifies by its time alone (dated in the future, changed in
    // the second a run began) then gets no new numbered copy every night.
    // Made before this run began by the system's own clock, which stamps the
    // files: this run's copies of a folder given twice take their numbered
    // names as before. A continued run began with the run it continues, whose
    // start it does not know: it makes the copies that run would have.
    bool copiedByEarlierRun(const host::TargetFolder& folder, const std::string& name,
                            const host::FileStatus& source) const {
        if (journal_.resumed()) return false;
        const std::optional<host::FileStatus> there = sameCopyIn(folder, name, source);
        return there && there->created < systemStart_;
    }
    // The file `name` in `folder` when it has `source`'s length and
    // modification time, whoever made it.
    static std::optional<host::FileStatus> sameCopyIn(const host::TargetFolder& folder,
                                                      const std::string& name,
                                                      const host::FileStatus& source) {
        std::optional<host::FileStatus> there = folder.statusOf(name);
        if (there && (there->length != source.length || there->modified != source.modified))
            there.reset();
        return there;
    }
    // Whether the destination holds `name` with `source`'s length and
    // modification time. Replacing, the walk has not entered it to choose
    // names: it does so now (entering again costs nothing).
    bool copyInDestination(Destination& destination, const std::string& name,
                           const host::FileStatus& source) {
        if (dryRun()) return sameCopyIn(existingDestination(destination), name, source).has_value();
        const host::Result<host::TargetFolder::Reach> reached = target_.enter(destination.relative);
        return reached && *reached == host::TargetFolder::Reach::Reached &&
               sameCopyIn(target_, name, source);
    }
    // A dry run's look at a destination as it is, if it is there: opening it
    // makes nothing, and one that cannot be opened has no name taken.
    static const host::TargetFolder& existingDestination(Destination& destination) {
        if (!destination.existing) {
            destination.existing = std::make_shared<host::TargetFolder>(destination.folder);
            static_cast<void>(destination.existing->enter(""));
        }
        return *destination.existing;
    }

    // A kept failure renamed or moved since (during the run that failed,
    // say): the folder that held it is walked under the failing run's
    // threshold, so what it is called now is copied. Once per folder and
    // threshold.
    void walkParentOfGone(const RetryEntry& entry, const std::string& path) {
        const std::string parent(host::parentPath(path));
        if (!walkedParents_.insert(parent + '\n' + entry.threshold).second) return;
        queueNote("改为重试其所在的文件夹:" + parent);
        const std::string_view below = host::parentPath(entry.relative);
        // Its other files' copies the failing run made are not made again.
        parentOfGone_ = true;
        ue_dir(parent, below.empty() ? std::string() : withSeparator(std::string(below)));
        parentOfGone_ = false;
    }

    // The source row of the settings that names the folder a kept failure's
    // row named, however either is written ("src/", "./src", "SRC" where
    // names are folded): a row respelt keeps its failures.
    std::optional<std::string> rowNow(const std::string& kept) const {
        const auto& rows = header_.sources;
        if (std::find(rows.begin(), rows.end(), kept) != rows.end()) return kept;
        const std::string key = host::folderKey(kept);
        for (const std::string& row : rows)
            if (host::folderKey(row) == key) return row;
        return std::nullopt;
    }

    // The source of a kept failure is gone when the folder that held it can
    // be read and holds it no more. A row's own folder is never gone: it may
    // be a disk that is not there today.
    bool isGone(const RetryEntry& entry, const std::string& path) {
        if (entry.relative.empty()) return false;
        const std::string parent(host::parentPath(path));
        const std::string_view name = host::baseName(path);
        if (parent != listedParent_) {
            listedParent_ = parent;
            parentListed_ =
                bool(host::listDirectory(parent, host::kListEverything, parentEntries_));
        }
        if (!parentListed_) return false;
        return std::none_of(parentEntries_.begin(), parentEntries_.end(),
                            [&](const host::ListingEntry& listed) {
                                return listed.name == name && listed.isFolder == entry.isFolder;
                            });
    }

    // --- the walk --------------------------------------------------------------

    // Makes `row` the source folder walked next, under `threshold`; false when
    // it is the target itself (copying it into itself would only duplicate it).
    bool beginRow(const std::string& row, const ThresholdTest& threshold) {
        // The earlier rows' copies may land in this source: they are all in
        // place before its walk begins, as one at a time. Their finishes also
        // still see the row and threshold they were made under.
        finishAll();
        ls_path1_ = row;
        threshold_ = &threshold;
        targetBelowSource_ = host::pathInside(row, run_.target);
        sourceBelowTarget_ = host::pathInside(run_.target, row).has_value();
        return !(targetBelowSource_ && targetBelowSource_->empty());
    }

    // What the walk holds for one folder while its sub-folders are walked.
    // It lives on the heap: the stack keeps only a pointer per level, so a
    // tree thousands of folders deep is walked on a small stack.
    struct Level {
        FolderReading reading;
        std::optional<Destination> filenp;
        std::string subFolder;  // the sub-folder being walked, and its zml1
        std::string subRelative;
    };

    // `zml1` is the sub-folder path of `as_topdir` below the source root, empty
    // or ending with a separator. Sub-folders are walked at their position in
    // the sorted listing; the workers read them ahead.
    int ue_dir(const std::string& as_topdir, const std::string& zml1) {
        const std::unique_ptr<Level> level = enter(as_topdir, zml1);
        if (!level) return 0;
        const std::vector<host::ListingEntry>& entries = level->reading.entries;
        for (std::size_t i = 0; i < entries.size() && !stopping(); ++i) {
            if (!entries[i].isFolder) {
                copyIfNewer(as_topdir, entries[i].name, level->reading.statuses[i], zml1,
                            level->filenp);
            } else if (!isTargetFolder(zml1, entries[i].name)) {
                level->subFolder = host::joinPath(as_topdir, entries[i].name);
                level->subRelative = zml1 + entries[i].name + host::separator();
                const bool outer = arrivedWhole_;
                arrivedWhole_ =
                    outer || arrivedWhole(level->reading.statuses[i], level->subRelative);
                ue_dir(level->subFolder, level->subRelative);
                arrivedWhole_ = outer;
            }
        }
        return 1;
    }

    // A folder moved or restored in as a whole: it changed after the
    // threshold and its copy is missing from the target. The files below it
    // keep their old times, yet each whose copy is missing is copied.
    bool arrivedWhole(const std::optional<host::FileStatus>& folder, const std::string& zml1) {
        if (!folder || folder->changed == 0 || !threshold_->isAfter(folder->changed)) return false;
        return !host::folderExists(destinationFolder(zml1));
    }

    // The reading of a folder about to be walked, its sub-folders expected
    // by the workers; null when it holds nothing to walk.
    [[gnu::noinline]] std::unique_ptr<Level> enter(const std::string& as_topdir,
                                                   const std::string& zml1) {
        static_cast<void>(copies_.flushWhenDue());  // a failure is its copies', and the hook's
        auto level = std::make_unique<Level>();
        progress_.reading(as_topdir);
        level->reading = readAhead_.take(as_topdir);
        if (!level->reading.listed) {
            // A folder that cannot be read may hold new files; the threshold
            // moves on after this run, so passing it over silently would lose
            // them for good.
            queueFailure(as_topdir,
                         level->reading.failure.value_or(
                             host::Failure{"cannot list", as_topdir, 0, "unreadable"}),
                         false);
            return nullptr;
        }
        leaveOutExcluded(level->reading, zml1);
        if (level->reading.entries.empty()) return nullptr;
        std::vector<std::string> subFolders;
        for (const host::ListingEntry& entry : level->reading.entries) {
            if (entry.isFolder && !isTargetFolder(zml1, entry.name))
                subFolders.push_back(host::joinPath(as_topdir, entry.name));
        }
        readAhead_.expect(subFolders);
        return level;
    }

    // What the patterns leave out goes before the walk or the workers look at
    // it: an excluded folder is never read, ahead or otherwise.
    void leaveOutExcluded(FolderReading& reading, const std::string& zml1) const {
        if (run_.exclude.empty()) return;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < reading.entries.size(); ++i) {
            const host::ListingEntry& entry = reading.entries[i];
            if (run_.exclude.excludes(zml1, entry.name, entry.isFolder)) continue;
            if (kept != i) {
                reading.entries[kept] = std::move(reading.entries[i]);
                reading.statuses[kept] = reading.statuses[i];
            }
            ++kept;
        }
        reading.entries.resize(kept);
        reading.statuses.resize(kept);
    }

    // The copies land there: walking it would copy the backup into itself.
    bool isTargetFolder(const std::string& zml1, const std::string& name) const {
        return targetBelowSource_ && targetBelowSource_->size() == zml1.size() + name.size() &&
               targetBelowSource_->starts_with(zml1) && targetBelowSource_->ends_with(name);
    }

    // Kept out of ue_dir, whose frame is on the stack once per level of the tree.
    [[gnu::noinline]] void copyIfNewer(const std::string& ls_dir, const std::string& ls_filename,
                                       const std::optional<host::FileStatus>& status,
                                       const std::string& zml1,
                                       std::optional<Destination>& filenp) {
        if (!status) {
            // Listed but gone or unreadable: it may be new, so it is reported
            // rather than passed over.
            const std::string path = host::joinPath(ls_dir, ls_filename);
            queueFailure(path, statusFailure(path));
            return;
        }
        bool byTime = threshold_->isAfter(status->modified) || threshold_->isAfter(status->created);
        // Moved, linked or restored in with its old times (mv, cp -p, tar,
        // touch -d): copied when the target lacks its copy, and a change of
        // its owner or permissions alone makes no copy.
        bool byChangeAlone =
            !byTime && status->changed != 0 && threshold_->isAfter(status->changed);
        if (inForce_.everyMissingCopy && threshold_ == &runThreshold_) {
            // No threshold to trust: every file whose copy is missing.
            byTime = false;
            byChangeAlone = true;
        } else if (arrivedWhole_) {
            // Below a folder moved in, a file with its old times too; a new
            // one (all of them on a first run) is copied as any other.
            byChangeAlone = !byTime;
        } else if (parentOfGone_) {
            byChangeAlone = byTime || byChangeAlone;
            byTime = false;
        }
        if (!byTime && !byChangeAlone) return;
        const std::string yfilea = host::joinPath(ls_dir, ls_filename);
        // A file an earlier failure's retry has taken care of is copied once.
        if (threshold_ == &runThreshold_) {
            if (!retried_.empty() && retried_.contains(yfilea)) return;
        } else if (!retried_.insert(yfilea).second) {
            return;
        }

        // All files of one folder share their destination; its folders are
        // made once, before the first copy into it.
        if (!filenp) filenp = destinationOf(zml1);
        if (!filenp->refused && !filenp->reached) reachDestination(*filenp);
        if (filenp->refused) {
            // Copies into the folder being walked would be met again, and
            // with replacing on a file would be copied onto itself.
            queueFailure(yfilea, *filenp->refused);
            return;
        }
        const std::string keyPrefix = filenp->key;
        std::optional<RunJournal::EarlierCopy> earlier = earlierCopyIn(yfilea, filenp->relative);
        std::string name;
        bool replace = run_.replace;
        std::optional<std::size_t> entry;
        if (earlier && !dryRun()) {
            switch (resume(*earlier, yfilea, *filenp)) {
                case Resume::Done:
                    return;
                case Resume::SameName:
                    name = std::string(host::baseName(earlier->destination));
                    entry = earlier->index;
                    break;
                case Resume::SameNameReplacing:
                    name = std::string(host::baseName(earlier->destination));
                    entry = earlier->index;
                    replace = true;
                    break;
                case Resume::NextFreeName:
                    break;
            }
        } else if (earlier) {
            name = std::string(host::baseName(earlier->destination));
        }
        // A name a copy still under way may take is settled first: the copy
        // in walk order before this one decides, as it does one at a time.
        const auto copiedBefore = [&](const host::TargetFolder& folder,
                                      const std::string& candidate) {
            return byChangeAlone ? sameCopyIn(folder, candidate, *status).has_value()
                                 : copiedByEarlierRun(folder, candidate, *status);
        };
        if (!name.empty() || run_.replace) {
            if (name.empty()) {
                name = ls_filename;
                if (byChangeAlone && copyInDestination(*filenp, name, *status)) return;
            }
        } else if (dryRun()) {
            const host::TargetFolder& existing = existingDestination(*filenp);
            bool copied = false;
            name = fzmccf(
                existing, ls_filename,
                [&](const std::string& candidate) {
                    return planned_.contains(keyPrefix + host::sameFileKey(candidate));
                },
                [&](const std::string& taken) {
                    copied = copied || copiedBefore(existing, taken);
                });
            if (copied) return;
        } else {
            bool copied = false;
            name = fzmccf(
                target_, ls_filename,
                [&](const std::string& candidate) {
                    copies_.settle(keyPrefix + host::sameFileKey(candidate));
                    return false;
                },
                [&](const std::string& taken) { copied = copied || copiedBefore(target_, taken); });
            if (copied) return;
        }
        if (dryRun()) {
            planned_.insert(keyPrefix + host::sameFileKey(name));
            ++result_.cgcs;
            run_.planned(yfilea, filenp->folder + name);
            return;
        }
        // Settling may have found the journal unwritable: nothing more is copied.
        if (stopped_) return;
        if (!entry && journal_.kept()) {
            entry = journal_.record(
                yfilea, filenp->relative.empty() ? name : host::joinPath(filenp->relative, name));
        }
        if (journal_.kept()) copies_.holdUntilFlushed();
        progress_.step(++queued_, yfilea);
        common::TargetCopy copy;
        copy.source = yfilea;
        copy.folder = filenp->relative;
        copy.name = name;
        copy.replace = replace;
        copy.key = keyPrefix + host::sameFileKey(name);
        copy.length = status->length;
        copies_.add(std::move(copy), [this, yfilea, entry](const common::CopyEnd& end) {
            switch (end.how) {
                case common::CopyEnd::How::Copied:
                    ++result_.cgcs;
                    if (entry) journal_.confirm(*entry, end.source);
                    break;
                case common::CopyEnd::How::Failed:
                    recordFailure(yfilea, *end.failure, false);
                    break;
                case common::CopyEnd::How::NotBegun:
                    stopping();
                    break;
            }
        });
    }

    // Where the files of the source folder `zml1` go, ending with a separator.
    std::string destinationFolder(const std::string& zml1) const {
        return run_.fullStructure ? host::fullStructureFolder(run_.target, ls_path1_, zml1)
                                  : withSeparator(run_.target) + zml1;
    }

    // The destination of the files of the source folder `zml1`.
    Destination destinationOf(const std::string& zml1) {
        Destination destination;
        destination.folder = destinationFolder(zml1);
        destination.key = folderKeys_.of(destination.folder);
        if (landsInSource(destination.folder))
            destination.refused = host::Failure{"will not copy into", destination.folder, 0,
                                                "it lies inside the source folder walked"};
        const std::string_view root = run_.target;
        if (std::string_view(destination.folder).substr(0, root.size()) == root)
            destination.relative = host::trimmedRelative(destination.folder.substr(root.size()));
        else
            destination.refused = host::Failure{"will not copy into", destination.folder, 0,
                                                "it is outside the target folder"};
        return destination;
    }

    // Makes the walk's handle reach the destination where it chooses names
    // or continues copies there. Reached from the target folder's handle, so
    // a folder swapped for a link during the run cannot lead a copy outside
    // the target. Replacing, the walk chooses no name: the worker that
    // copies reaches the folder, and fails the copy if it cannot.
    void reachDestination(Destination& destination) {
        if (dryRun() || (run_.replace && !journal_.resumed())) {
            destination.reached = true;
            return;
        }
        const host::Result<host::TargetFolder::Reach> reached = target_.enter(destination.relative);
        if (!reached)
            destination.refused = reached.error();
        else if (*reached == host::TargetFolder::Reach::Outside)
            destination.refused = host::Failure{"will not copy into", destination.folder, 0,
                                                "it is outside the target folder"};
        else
            destination.reached = true;
    }

    // The copy the interrupted run recorded for `source`, when it is in
    // `relative` (as it is with the same settings).
    std::optional<RunJournal::EarlierCopy> earlierCopyIn(const std::string& source,
                                                         const std::string& relative) {
        if (!journal_.resumed()) return std::nullopt;
        std::optional<RunJournal::EarlierCopy> earlier = journal_.takeEarlier(source);
        if (!earlier || host::parentPath(earlier->destination) != relative) return std::nullopt;
        return earlier;
    }

    enum class Resume { Done, SameName, SameNameReplacing, NextFreeName };

    // What an interrupted run's copy of `source` leaves to do. A confirmed
    // copy is done when the source is still as it was copied and the copy is
    // still there; an unconfirmed one when the destination holds the
    // source's bytes (it may hold anything: the copy may never have begun,
    // or another program may have taken the free name meanwhile). The walk's
    // handle is at the destination.
    Resume resume(const RunJournal::EarlierCopy& earlier, const std::string& source,
                  Destination& destination) {
        const std::string name(host::baseName(earlier.destination));
        const std::string key = destination.key + host::sameFileKey(name);
        // A source walked twice: the first copy to the name lands first.
        copies_.settle(key);
        if (!destination.reached) reachDestination(destination);
        const std::optional<host::FileStatus> there = target_.statusOf(name);
        if (!there && !target_.nameTaken(name)) return Resume::SameName;
        const std::optional<host::SourceStamp> now = host::sourceStampOf(source);
        bool same = false;
        if (there && now) {
            const bool lengthAndTime =
                there->length == now->length && there->modified == secondsOf(now->modifiedNs);
            if (earlier.confirmed)
                same = *now == *earlier.confirmed &&
                       (lengthAndTime || sameContent(source, destination, name));
            else
                same = there->length == now->length && sameContent(source, destination, name);
        }
        if (same) {
            target_.removeLeftoversOf(name);
            if (!earlier.confirmed) journal_.confirm(earlier.index, *now);
            queueTurn([this] { ++result_.cgcs; });
            return Resume::Done;
        }
        return run_.replace ? Resume::SameNameReplacing : Resume::NextFreeName;
    }

    static std::time_t secondsOf(std::int64_t nanoseconds) {
        std::int64_t seconds = nanoseconds / 1000000000LL;
        if (nanoseconds % 1000000000LL < 0) --seconds;
        return static_cast<std::time_t>(seconds);
    }

    bool sameContent(const std::string& source, const Destination& destination,
                     const std::string& name) {
        const host::Result<host::ContentComparison> compared =
            comparer_.compare(source, destination.folder + name);
        return compared == host::ContentComparison::Same;
    }

    bool dryRun() const { return static_cast<bool>(run_.planned); }

    // Whether the walk is to go on no further: the journal failed, or a stop
    // was asked for. A stopped run lets its copies under way end, keeps its
    // journal and stores no threshold, as a killed one does, so the next run
    // continues it.
    bool stopping() {
        if (!stopped_ && progress_.stopRequested()) {
            stopped_ = true;
            result_.stopped = true;
        }
        if (!stopped_ && copies_.devicesFailure()) {
            // Copies whose names may or may not have reached the device: the
            // journal, which the next run continues, can tell them apart
            // (by their bytes); a list of failures to try again cannot.
            stopped_ = true;
            result_.storeFailure = "目标文件夹无法写入磁盘，本次复制中止，下次将继续本次复制:" +
                                   copies_.devicesFailure()->message();
            writeLog(result_.storeFailure);
        }
        return stopped_;
    }

    // Every copy so far ended and finished, in order.
    void finishAll() {
        if (const host::Status flushed = copies_.finishAll(); !flushed && !journalFailed_)
            static_cast<void>(flushed);  // the copies it concerns have failed, and say why
    }

    // A failure the walk finds, recorded in its turn among the copies. A file
    // counts as a step of the progress; an unreadable folder does not.
    void queueFailure(const std::string& path, host::Failure failure, bool isFile = true) {
        if (isFile) {
            progress_.step(++queued_, path);
        } else {
            // A folder a retry could not read again is not reported twice.
            if (threshold_ != &runThreshold_)
                retriedFolders_.insert(path);
            else if (retriedFolders_.contains(path))
                return;
            ++queued_;
        }
        queueTurn([this, path, isFile, failure = std::move(failure)] {
            recordFailure(path, failure, !isFile);
        });
    }

    // A log line in its turn among the copies.
    void queueNote(std::string line) {
        queueTurn([this, line = std::move(line)] { writeLog(line); });
    }

    void queueTurn(std::function<void()> turn) {
        if (journal_.kept()) copies_.holdUntilFlushed();
        copies_.addInTurn(std::move(turn));
    }

    // A destination inside the source being walked, other than inside the
    // target's own folder there (which the walk leaves out).
    bool landsInSource(const std::string& folder) const {
        // Destinations are reached without leaving the target: where neither
        // tree holds the other, none lies in the source, and no folder's path
        // needs resolving.
        if (!targetBelowSource_ && !sourceBelowTarget_) return false;
        if (!host::pathInside(ls_path1_, folder)) return false;
        return !(targetBelowSource_ && host::pathInside(run_.target, folder));
    }

    void recordFailure(const std::string& yfilea, const host::Failure& failure, bool isFolder) {
        const std::string reason = reasonFor(yfilea, failure);
        if (isFolder) {
            // Not a copy that failed: every file below it was left out.
            ++result_.foldersLeftOut;
            writeLog("无法读取文件夹，其中的文件未复制:" + yfilea + ": " + reason);
            if (result_.folders.size() < kReportedFailures)
                result_.folders.push_back({yfilea, reason});
        } else {
            ++result_.cccs;
            if (result_.cccs == 1) writeLog("以下文件复制出错:");
            writeLog(yfilea + ": " + reason);
            if (result_.failures.size() < kReportedFailures)
                result_.failures.push_back({yfilea, reason});
        }
        progress_.failed(yfilea, failure);
        journal_.keepForRetry(
            RetryEntry{isFolder, ls_path1_, belowRow(ls_path1_, yfilea), threshold_->text()});
    }

    const RunDescription& run_;
    host::ProgressSink& progress_;
    RunState state_;
    const ThresholdInForce inForce_;
    const ThresholdTest runThreshold_;
    // The threshold in force: the run's, or a kept failure's while it is retried.
    const ThresholdTest* threshold_;
    // The walk's own handle: it makes the destinations and chooses the names.
    host::TargetFolder target_;
    RunJournal journal_;
    common::TargetCopies copies_;
    FolderReadAhead readAhead_;
    host::ContentComparer comparer_;
    long queued_ = 0;  // files and unreadable folders so far, in walk order
    RunResult result_;
    std::string ls_path1_;
    // Where the target lies below the source root being walked, if it does.
    std::optional<std::string> targetBelowSource_;
    bool sourceBelowTarget_ = false;

    JournalHeader header_;
    host::FolderKeys folderKeys_;
    // The second the run began in, by the system's clock (a copy made in
    // it counts as this run's).
    const std::time_t systemStart_ =
        std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::time_t startInstant_ = 0;  // the instant the stored threshold names
    std::optional<host::Clock::SinceBoot> startSinceBoot_;
    std::unordered_set<std::string> leftOutRows_;  // rows on another disk than last time
    bool arrivedWhole_ = false;                    // the walk is below a folder moved in as a whole
    bool parentOfGone_ = false;  // it walks the folder of a kept failure that is gone
    bool stopped_ = false;       // the journal could not be written, or a stop was asked for
    bool journalFailed_ = false;

    // Failures kept by an earlier run and tried again by this one.
    std::vector<RetryEntry> retries_;
    std::unordered_set<std::string> retried_;
    std::unordered_set<std::string> retriedFolders_;
    std::unordered_set<std::string> walkedParents_;  // folders of gone failures, by threshold
    std::unordered_set<std::string> planned_;        // a dry run's destinations, by key
    std::deque<ThresholdTest> retryThresholds_;
    std::string listedParent_;
    bool parentListed_ = false;
    std::vector<host::ListingEntry> parentEntries_;
};

}  // namespace

RunResult rcopy(const RunDescription& run, host::ProgressSink& progress) {
    return CopyRun(run, progress).rcopy();
}

std::vector<std::string> tjywjj(const std::string& yfolder) {
    std::vector<std::string> rows;
    if (yfolder.empty()) return rows;
    std::size_t position = yfolder.find(';');
    if (position == std::string::npos) {
        rows.push_back(yfolder);
        return rows;
    }
    std::size_t start = 0;
    // Text after the last ";" is not a row: stored lists end every folder with ";".
    while (position != std::string::npos) {
        rows.push_back(yfolder.substr(start, position - start));
        start = position + 1;
        position = yfolder.find(';', start);
    }
    return rows;
}

}  // namespace torrin
