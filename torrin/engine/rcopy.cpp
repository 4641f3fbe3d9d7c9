#include "torrin/engine/rcopy.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "base/text.h"
#include "common/file_attributes.h"
#include "host/clock.h"
#include "host/durability.h"
#include "host/encoding.h"
#include "host/fault_injection.h"
#include "host/folder_status.h"
#include "host/fs.h"
#include "host/ini.h"
#include "host/paths.h"
#include "torrin/engine/destination_names.h"
#include "torrin/engine/folder_read_ahead.h"
#include "torrin/engine/run_records.h"
#include "torrin/engine/threshold.h"

namespace torrin {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Journal entries are flushed to the device in batches: once this many wait
// (or as many copies as the workers may have under way are kept back for
// them), once the first of them has waited kJournalInterval, or when the
// workers have run out of copies and the last flush is old enough. Each
// flush also flushes the target's whole file system, which on a disk shared
// with other writers can take long: the gap before an idle flush is a few
// times what the last flush took, so flushing takes a fifth of a run's time
// at most, from kMinIdleFlushGap on a quiet disk to kMaxIdleFlushGap on a
// busy one, and a run's first copies start at once.
constexpr long kJournalBatch = 4096;
constexpr std::chrono::milliseconds kJournalInterval{500};
constexpr std::chrono::microseconds kMinIdleFlushGap{500};
constexpr std::chrono::milliseconds kMaxIdleFlushGap{100};
constexpr int kIdleFlushGapPerFlushTime = 4;

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

// Where the files of one source folder go, and whether they may go there.
struct Destination {
    std::string folder;    // ends with a separator
    std::string relative;  // below the target, without separators at its ends
    std::string key;       // host::folderKey of the folder: its copies' keys start with it
    bool refused = false;
    bool reached = false;  // its folders are made and it is the target's destination
    // A dry run's look at the destination, made the first time a name is chosen there.
    std::shared_ptr<host::TargetFolder> existing;
};

class CopyRun {
  public:
    CopyRun(const RunDescription& run, host::ProgressSink& progress)
        : run_(run),
          progress_(progress),
          runThreshold_(run.threshold),
          threshold_(&runThreshold_),
          target_(run.target),
          workers_(run.workers,
                   [&] {
                       auto folder =
                           std::make_unique<host::TargetFolder>(run.target, !run.journal.empty());
                       folder->setVerify(run.verify);
                       return folder;
                   }),
          readAhead_(&workers_.pool(), run.mask) {}

    RunResult rcopy() {
        // One second back: a file changed later in the same second as the start,
        // after the walk passed it, is still newer than the stored threshold.
        result_.startTime = host::localTimeText(host::clock().now() - 1);
        if (!openRecords()) return result_;
        writeLog("开始时间:" + result_.startTime);
        writeLog("copy源文件修改日期（或创建日期）大于:" + run_.threshold);
        for (const std::string& note : recordNotes_) writeLog(note);

        retryEarlierFailures();
        for (const std::string& row : run_.sourceFolders) {
            // An empty or blank row would walk the whole file system from its root.
            if (stopping() || base::trim(row).empty()) continue;
            if (!beginRow(row, runThreshold_)) continue;
            ue_dir(ls_path1_, std::string());
        }
        finishAll();
        commitRecords();

        result_.endTime = host::nowText();
        if (result_.stopped) {
            writeLog(std::string(kStoppedLine) + "成功数：" + std::to_string(result_.cgcs) +
                     "；失败数:" + std::to_string(result_.cccs));
        } else if (result_.cccs == 0) {
            writeLog("成功复制全部应复制的文件数:" + std::to_string(result_.cgcs));
        } else if (result_.cgcs == 0) {
            writeLog("复制文件全部失败，失败数:" + std::to_string(result_.cccs));
        } else {
            writeLog("复制文件部分成功。成功数：" + std::to_string(result_.cgcs) +
                     "；失败数:" + std::to_string(result_.cccs));
        }
        writeLog("结束时间:" + result_.endTime);
        return result_;
    }

  private:
    // Each line goes to the end of the file as it happens, so the failures of a
    // run that is killed are still on record; a log that cannot be written
    // stops nothing.
    void writeLog(std::string_view line) {
        if (dryRun()) return;
        std::string bytes = host::utf8ToGbk(line);
        bytes += kLineEnd;
        static_cast<void>(host::appendToFile(run_.logfile, bytes));
    }

    // --- the records beside the settings -----------------------------------

    // Reads the journal and the retry list and starts this run's journal.
    // False, with the run refused and the reason logged, when they cannot be
    // kept: then nothing is copied, since a run that cannot vouch for its
    // copies would copy them again, or lose them, after a kill.
    bool openRecords() {
        if (run_.journal.empty()) return true;
        header_ = JournalHeader{run_.target, run_.threshold, run_.fullStructure, {}};
        for (const std::string& row : run_.sourceFolders) {
            if (!base::trim(row).empty()) header_.sources.push_back(row);
        }
        std::string text = journalHeaderText(header_);
        const host::Result<std::string> earlier = host::readFile(run_.journal);
        if (earlier) {
            const auto journal = parseJournal(*earlier);
            if (journal && journal->header == header_) {
                result_.resumed = true;
                recordNotes_.push_back("继续上次中断的复制");
                for (const JournalEntry& entry : journal->entries) {
                    resume_[entry.source].push_back(entry.destination);
                    text += journalEntryText(entry);
                }
            } else if (!dryRun()) {
                // Another target, other sources or another threshold: kept for
                // whoever wants to look, and this run starts afresh.
                const std::string aside = run_.journal + ".set-aside";
                if (const host::Status kept = host::writeFileAtomically(aside, *earlier, true);
                    !kept)
                    return refuse(kept.error().message());
                recordNotes_.push_back("上次中断的复制与当前设置不符，其记录已另存为:" + aside);
            }
        } else if (host::fileExists(run_.journal)) {
            return refuse(earlier.error().reasonText());
        }
        if (!run_.retryList.empty()) {
            if (const host::Result<std::string> list = host::readFile(run_.retryList))
                retries_ = parseRetryList(*list);
            else if (host::fileExists(run_.retryList))
                return refuse(list.error().reasonText());
        }
        if (dryRun()) return true;
        if (const host::Status started = host::writeFileAtomically(run_.journal, text, true);
            !started)
            return refuse(started.error().message());
        if (const host::Status opened = journal_.open(run_.journal); !opened)
            return refuse(opened.error().message());
        return true;
    }

    bool refuse(const std::string& reason) {
        result_.refusal = "无法写入设置文件夹，本次未运行:" + reason;
        writeLog("开始时间:" + host::nowText());
        writeLog(result_.refusal);
        return false;
    }

    // The end of a run: its copies reach the device, then the failures to
    // try again, then the threshold, and only then does the journal go. A
    // kill at any point leaves a journal the next run continues, never a
    // threshold that passes over a file not yet safely copied.
    void commitRecords() {
        if (dryRun()) return;
        if (run_.journal.empty()) {
            if (run_.profile.empty() || stopped_) return;
            if (const host::Status stored = storeThreshold(false); !stored)
                failToStore(stored.error().message());
            return;
        }
        if (stopped_) return;
        if (const host::Status flushed = host::flushFileSystem(run_.target); !flushed)
            return failToStore(flushed.error().message());
        if (!run_.retryList.empty()) {
            const host::Status stored =
                newRetries_.empty()
                    ? host::removeFileDurably(run_.retryList)
                    : host::writeFileAtomically(run_.retryList, retryListText(newRetries_), true);
            if (!stored) return failToStore(stored.error().message());
        }
        if (const host::Status stored = storeThreshold(true); !stored)
            return failToStore(stored.error().message());
        host::faults::reach(host::faults::kThresholdStored);
        journal_.close();
        if (const host::Status removed = host::removeFileDurably(run_.journal); !removed)
            failToStore(removed.error().message());
    }

    host::Status storeThreshold(bool durable) {
        host::IniFile ini(run_.profile);
        ini.write("other", "fdt", result_.startTime);
        return ini.save(durable);
    }

    void failToStore(const std::string& reason) {
        result_.storeFailure =
            "无法写入设置文件夹，复制条件时间未更新，下次将继续本次复制:" + reason;
        writeLog(result_.storeFailure);
    }

    // Journal entries wait in memory until a batch is flushed; the copies
    // they describe, and every piece after them, are kept back with them.
    void journalCopy(const std::string& source, const std::string& destination) {
        if (!journal_.isOpen()) return;
        if (journalPending_.empty()) firstPending_ = std::chrono::steady_clock::now();
        journalPending_ += journalEntryText({source, destination});
        ++pendingEntries_;
        copies().holdBack();
    }

    // Flushes the waiting entries (after the copies before them, so the
    // journal never runs ahead of the device by more than one batch) and lets
    // the copies they describe start.
    void flushJournal() {
        if (!journalPending_.empty()) {
            const auto flushStart = std::chrono::steady_clock::now();
            host::Status written = host::flushFileSystem(run_.target);
            if (written) written = journal_.append(journalPending_);
            if (written) written = journal_.flush();
            if (!written) {
                const std::string error = written.error().message();
                // Copies the journal cannot vouch for would be copied again,
                // or passed over, after a kill: the run stops here, and the
                // next one continues it from what the journal holds.
                journal_.close();
                journalPending_.clear();
                pendingEntries_ = 0;
                copies().discardKeptBack();
                stopped_ = true;
                result_.storeFailure =
                    "无法写入设置文件夹，本次复制中止，下次将继续本次复制:" + error;
                writeLog(result_.storeFailure);
                return;
            }
            host::faults::reach(host::faults::kJournalFlushed);
            const auto flushed = std::chrono::steady_clock::now();
            idleFlushGap_ = std::clamp(
                std::chrono::duration_cast<std::chrono::microseconds>(flushed - flushStart) *
                    kIdleFlushGapPerFlushTime,
                kMinIdleFlushGap, std::chrono::microseconds(kMaxIdleFlushGap));
            lastFlush_ = flushed;
            journalPending_.clear();
            pendingEntries_ = 0;
        }
        copies().release();
    }

    // --- failures to try again ----------------------------------------------

    // Tries the failures an earlier run kept, each with the threshold of the
    // run that failed, before this run's own walk.
    void retryEarlierFailures() {
        const std::vector<RetryEntry> entries = std::move(retries_);
        for (const RetryEntry& entry : entries) {
            if (stopping()) break;
            // Its row is gone from the settings, or it is excluded now:
            // nothing to try any more.
            if (std::find(header_.sources.begin(), header_.sources.end(), entry.row) ==
                    header_.sources.end() ||
                run_.exclude.excludesPath(entry.relative, entry.isFolder))
                continue;
            // Kept to the end of the run: the finishes of its copies read it.
            const ThresholdTest& threshold = retryThresholds_.emplace_back(entry.threshold);
            if (!beginRow(entry.row, threshold)) continue;
            const std::string path =
                entry.relative.empty() ? entry.row : host::joinPath(entry.row, entry.relative);
            if (isGone(entry, path)) {
                queueNote("源文件已不存在，不再重试:" + path);
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

    // A failure of this run, kept for the next: under the threshold in force
    // where it happened (an earlier run's, for what a retry missed again).
    void keepForRetry(const std::string& path, bool isFolder) {
        if (run_.retryList.empty()) return;
        RetryEntry entry{isFolder, ls_path1_, belowRow(ls_path1_, path), threshold_->text()};
        const auto same =
            std::find_if(newRetries_.begin(), newRetries_.end(), [&](const auto& kept) {
                return kept.isFolder == entry.isFolder && kept.row == entry.row &&
                       kept.relative == entry.relative;
            });
        if (same == newRetries_.end())
            newRetries_.push_back(std::move(entry));
        else if (earlierThreshold(entry.threshold, same->threshold))
            same->threshold = entry.threshold;
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
                ue_dir(level->subFolder, level->subRelative);
            }
        }
        return 1;
    }

    // The reading of a folder about to be walked, its sub-folders expected
    // by the workers; null when it holds nothing to walk.
    [[gnu::noinline]] std::unique_ptr<Level> enter(const std::string& as_topdir,
                                                   const std::string& zml1) {
        flushJournalWhenDue();
        auto level = std::make_unique<Level>();
        level->reading = readAhead_.take(as_topdir);
        if (!level->reading.listed) {
            // A folder that cannot be read may hold new files; the threshold
            // moves on after this run, so passing it over silently would lose
            // them for good.
            queueFailure(as_topdir, false);
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
            queueFailure(host::joinPath(ls_dir, ls_filename));
            return;
        }
        if (!threshold_->isAfter(status->modified) && !threshold_->isAfter(status->created)) return;
        const std::string yfilea = host::joinPath(ls_dir, ls_filename);
        // A file an earlier failure's retry has taken care of is copied once.
        if (!retried_.empty() && threshold_ == &runThreshold_ && retried_.contains(yfilea)) return;
        if (threshold_ != &runThreshold_) retried_.insert(yfilea);

        // All files of one folder share their destination; its folders are
        // made once, before the first copy into it.
        if (!filenp) {
            filenp.emplace();
            filenp->folder = run_.fullStructure
                                 ? host::fullStructureFolder(run_.target, ls_path1_, zml1)
                                 : withSeparator(run_.target) + zml1;
            filenp->key = folderKeys_.of(filenp->folder);
            filenp->refused = landsInSource(filenp->folder);
            const std::string_view root = run_.target;
            if (std::string_view(filenp->folder).substr(0, root.size()) == root)
                filenp->relative = host::trimmedRelative(filenp->folder.substr(root.size()));
        }
        // Reached from the target folder's handle, so a folder swapped for a
        // link during the run cannot lead a copy outside the target. The
        // destination stays open while this folder's files are copied.
        const std::string_view folder = filenp->folder;
        const std::string_view root = run_.target;
        if (!filenp->refused) {
            // A dry run makes no folder: its names are looked up by path.
            // Replacing, the walk chooses no name there: the worker that
            // copies reaches the folder, and fails the copy if it cannot.
            filenp->reached =
                folder.substr(0, root.size()) == root &&
                (dryRun() || run_.replace ||
                 target_.enter(folder.substr(root.size())) == host::TargetFolder::Reach::Reached);
        }
        if (filenp->refused || !filenp->reached) {
            // Copies into the folder being walked would be met again, and
            // with replacing on a file would be copied onto itself.
            queueFailure(yfilea);
            return;
        }
        const std::optional<std::string> recorded = resumedName(yfilea, filenp->relative);
        // A name a copy still under way may take is settled first: the copy
        // in walk order before this one decides, as it does one at a time.
        // A copy onto a name waits for the copies before it to that name by
        // its key.
        std::string name;
        if (recorded || run_.replace) {
            name = recorded ? *recorded : ls_filename;
        } else if (dryRun()) {
            // The destination as it is, if it is there: opening it makes nothing.
            if (!filenp->existing) {
                filenp->existing = std::make_shared<host::TargetFolder>(filenp->folder);
                // One that cannot be opened has no name taken.
                static_cast<void>(filenp->existing->enter(""));
            }
            name = fzmccf(*filenp->existing, ls_filename, [&](const std::string& candidate) {
                return planned_.contains(filenp->key + host::sameFileKey(candidate));
            });
        } else {
            name = fzmccf(target_, ls_filename, [&](const std::string& candidate) {
                settle(filenp->key + host::sameFileKey(candidate));
                return false;
            });
        }
        if (dryRun()) {
            planned_.insert(filenp->key + host::sameFileKey(name));
            ++result_.cgcs;
            run_.planned(yfilea, filenp->folder + name);
            return;
        }
        // Settling may have found the journal unwritable: nothing more is copied.
        if (stopped_) return;
        if (!recorded)
            journalCopy(yfilea,
                        filenp->relative.empty() ? name : host::joinPath(filenp->relative, name));
        progress_.step(++queued_, yfilea);
        Copy copy{yfilea, name, filenp->key + host::sameFileKey(name), std::nullopt, false};
        if (recorded) copy.recorded = *status;
        queueCopy(std::move(copy), filenp->relative, status->length);
    }

    // The destination the interrupted run recorded for `source`, when it is
    // in `relative` (as it is with the same settings).
    std::optional<std::string> resumedName(const std::string& source, const std::string& relative) {
        if (resume_.empty()) return std::nullopt;
        const auto found = resume_.find(source);
        if (found == resume_.end()) return std::nullopt;
        // The same folder may be walked twice (a row given twice): its
        // recorded copies are taken in their order.
        const std::string destination = std::move(found->second.front());
        found->second.pop_front();
        if (found->second.empty()) resume_.erase(found);
        const std::string_view folder = host::parentPath(destination);
        if (folder != relative) return std::nullopt;
        return std::string(host::baseName(destination));
    }

    // Waits for the copies under way to the destination whose key is `key`.
    void settle(const std::string& key) {
        if (batch_ && std::any_of(batch_->copies.begin(), batch_->copies.end(),
                                  [&](const Copy& copy) { return copy.key == key; }))
            handOver();
        if (copies().keptBack(key)) flushJournal();
        copies().waitForKey(key);
    }

    struct Copy {
        std::string source;
        std::string name;
        std::string key;  // the destination, as settle() finds it
        // An interrupted run's copy: the source's status, which its
        // destination has when that copy was completed.
        std::optional<host::FileStatus> recorded;
        bool copied = false;
        bool begun = false;  // a stop leaves the copies queued behind it unbegun
    };
    // Copies into one destination folder, handed to one worker together:
    // fewer hand-overs, and workers that seldom write into the same folder at
    // once (the system lets one at a time add a name to a folder).
    struct Batch {
        std::string relative;  // the destination folder below the target
        std::vector<Copy> copies;
        std::int64_t bytes = 0;
    };
    static constexpr std::size_t kBatchFiles = 16;
    // Large files go to a worker each, so that several are copied at once.
    static constexpr std::int64_t kBatchBytes = 1 << 20;

    void queueCopy(Copy copy, const std::string& relative, std::int64_t length) {
        if (batch_ && batch_->relative != relative) handOver();
        if (!batch_) {
            batch_ = std::make_shared<Batch>();
            batch_->relative = relative;
        }
        batch_->copies.push_back(std::move(copy));
        batch_->bytes += length;
        // One at a time each file is copied as soon as it is met.
        if (workers_.threads() == 0 || batch_->copies.size() >= kBatchFiles ||
            batch_->bytes >= kBatchBytes)
            handOver();
    }

    // Copies one file of a batch on a worker.
    static bool copyOne(host::TargetFolder& target, const Copy& copy, bool replace) {
        if (copy.recorded) {
            const auto there = target.statusOf(copy.name);
            if (there && there->length == copy.recorded->length &&
                there->modified == copy.recorded->modified)
                return true;
            replace = true;
        }
        if (!target.copyHere(copy.source, copy.name, replace)) return false;
        host::faults::reach(host::faults::kCopyDone);
        return true;
    }

    // Gives the batch being gathered to the workers.
    void handOver() {
        if (!batch_) return;
        common::OrderedWork::Keys keys;
        for (const Copy& copy : batch_->copies) keys.writes.push_back(copy.key);
        copies().add(
            [this, batch = batch_](int worker) {
                host::TargetFolder& target = workers_.state(worker);
                const bool reached =
                    target.enter(batch->relative) == host::TargetFolder::Reach::Reached;
                for (Copy& copy : batch->copies) {
                    if (progress_.stopRequested()) break;
                    copy.begun = true;
                    copy.copied = reached && copyOne(target, copy, run_.replace);
                }
            },
            [this, batch = batch_] {
                for (const Copy& copy : batch->copies) {
                    if (!copy.begun)
                        stopping();
                    else if (copy.copied)
                        ++result_.cgcs;
                    else
                        recordFailure(copy.source, false);
                }
            },
            std::move(keys));
        batch_.reset();
        flushJournalWhenDue();
    }

    // The copies wait for their journal entries at most about one interval,
    // however long the walk takes to find the next new file.
    void flushJournalWhenDue() {
        // On workers, more copies released at once than the window holds
        // would make the walk wait for the oldest of them to end.
        const std::size_t keptBackLimit =
            workers_.threads() > 0 ? copies().window() : std::size_t{kJournalBatch};
        if (pendingEntries_ >= kJournalBatch || copies().keptBackCount() >= keptBackLimit) {
            flushJournal();
            return;
        }
        if (journalPending_.empty()) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - firstPending_ >= kJournalInterval ||
            (copies().running() == 0 && now - lastFlush_ >= idleFlushGap_))
            flushJournal();
    }

    common::OrderedWork& copies() { return workers_.work(); }
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
        return stopped_;
    }

    // Every copy so far finished, in order.
    void finishAll() {
        handOver();
        flushJournal();
        copies().finishAll();
    }

    // A failure the walk finds, recorded in its turn among the copies. A file
    // counts as a step of the progress; an unreadable folder does not.
    void queueFailure(const std::string& path, bool isFile = true) {
        handOver();
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
        copies().add({}, [this, path, isFile] { recordFailure(path, !isFile); });
    }

    // A log line in its turn among the copies.
    void queueNote(std::string line) {
        handOver();
        copies().add({}, [this, line = std::move(line)] { writeLog(line); });
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

    void recordFailure(const std::string& yfilea, bool isFolder) {
        ++result_.cccs;
        if (result_.cccs == 1) writeLog("以下文件复制出错:");
        writeLog(yfilea);
        if (result_.failedSources.size() < kReportedFailures)
            result_.failedSources.push_back(yfilea);
        keepForRetry(yfilea, isFolder);
    }

    const RunDescription& run_;
    host::ProgressSink& progress_;
    const ThresholdTest runThreshold_;
    // The threshold in force: the run's, or a kept failure's while it is retried.
    const ThresholdTest* threshold_;
    // The walk's own handle: it makes the destinations and chooses the names.
    host::TargetFolder target_;
    // Each worker reaches its destinations from its own handle on the target.
    common::WorkersWithState<host::TargetFolder> workers_;
    FolderReadAhead readAhead_;
    std::shared_ptr<Batch> batch_;  // being gathered
    long queued_ = 0;               // files and unreadable folders so far, in walk order
    RunResult result_;
    std::string ls_path1_;
    // Where the target lies below the source root being walked, if it does.
    std::optional<std::string> targetBelowSource_;
    bool sourceBelowTarget_ = false;

    // The journal, and its entries waiting to reach the device (the pieces
    // after them are kept back in the ordered work until they do).
    JournalHeader header_;
    host::FolderKeys folderKeys_;
    host::JournalFile journal_;
    std::string journalPending_;
    long pendingEntries_ = 0;
    std::chrono::steady_clock::time_point firstPending_;
    std::chrono::steady_clock::time_point lastFlush_;  // the epoch before the first
    std::chrono::microseconds idleFlushGap_ = kMinIdleFlushGap;
    std::vector<std::string> recordNotes_;  // log lines of the records, after the start
    // The interrupted run's destinations by source, in its order.
    std::unordered_map<std::string, std::deque<std::string>> resume_;
    bool stopped_ = false;  // the journal could not be written, or a stop was asked for

    // Failures: kept by an earlier run, tried again by this one, kept for the next.
    std::vector<RetryEntry> retries_;
    std::vector<RetryEntry> newRetries_;
    std::unordered_set<std::string> retried_;
    std::unordered_set<std::string> retriedFolders_;
    std::unordered_set<std::string> planned_;  // a dry run's destinations, by key
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
