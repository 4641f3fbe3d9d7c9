#include "torrin/engine/rcopy.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "common/file_attributes.h"
#include "host/clock.h"
#include "host/folder_status.h"
#include "host/fs.h"
#include "host/fs_path.h"
#include "host/ini.h"
#include "host/paths.h"
#include "host/text.h"
#include "torrin/engine/folder_read_ahead.h"

namespace torrin {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Times this far from the threshold compare as texts the way they compare as
// numbers: no change of a zone's UTC offset comes near two days.
constexpr std::time_t kTextOrderMargin = 2 * 86400;
// Beyond this the year no longer has four digits and text order breaks.
constexpr std::time_t kFourDigitYearsEnd = 253402214400;  // 9999-12-31 00:00:00 UTC

// How far the local clock is ahead of UTC at `time`, read from its text.
std::optional<std::time_t> localClockOffset(std::time_t time) {
    const std::string text = host::localTimeText(time);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute,
                    &second) != 6)
        return std::nullopt;
    const std::chrono::sys_days date = std::chrono::year_month_day(
        std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
        std::chrono::day(static_cast<unsigned>(day)));
    const std::time_t local =
        date.time_since_epoch().count() * 86400L + hour * 3600L + minute * 60L + second;
    return local - time;
}

// The threshold test of one time, with the same result as comparing getft's
// text with the threshold text, but without formatting the time: when it lies
// clearly on one side, or near the threshold when the zone's offset stays the
// same around it (then the texts order as the times do).
class ThresholdTest {
  public:
    explicit ThresholdTest(std::string threshold) : text_(std::move(threshold)) {
        std::time_t seconds = 0;
        // Only a threshold in the exact form of a time text orders like a time.
        if (!host::parseLocalTimeText(text_, seconds) || host::localTimeText(seconds) != text_)
            return;
        seconds_ = seconds;
        const auto before = localClockOffset(seconds - kTextOrderMargin);
        steadyOffset_ = before && before == localClockOffset(seconds + kTextOrderMargin);
    }

    bool isAfter(std::time_t time) const {
        if (seconds_ && time >= 0 && time < kFourDigitYearsEnd) {
            if (time > *seconds_ + kTextOrderMargin) return true;
            if (time < *seconds_ - kTextOrderMargin) return false;
            if (steadyOffset_) return time > *seconds_;
        }
        return host::localTimeText(time) > text_;
    }

  private:
    std::string text_;
    std::optional<std::time_t> seconds_;
    bool steadyOffset_ = false;
};

// Any directory entry, a dangling link included, takes a name.
bool nameTaken(const std::string& path) noexcept {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(host::fsPath(path), error));
}

// The first of name, 0name, 1name, ... that `taken` does not refuse.
template <typename Taken>
std::string numberedName(const std::string& fname, const Taken& taken) {
    if (!taken(fname)) return fname;
    for (unsigned long long counter = 0;; ++counter) {
        std::string candidate = std::to_string(counter) + fname;
        if (!taken(candidate)) return candidate;
    }
}

std::string withSeparator(std::string folder) {
    if (folder.empty() || !host::isSeparator(folder.back())) folder += host::separator();
    return folder;
}

// Where the files of one source folder go, and whether they may go there.
struct Destination {
    std::string folder;  // ends with a separator
    std::string key;     // host::folderKey of the folder: its copies' keys start with it
    bool refused = false;
    bool reached = false;  // its folders are made and it is the target's destination
};

class CopyRun {
  public:
    CopyRun(const RunDescription& run, host::ProgressSink& progress)
        : run_(run),
          progress_(progress),
          threshold_(run.threshold),
          target_(run.target),
          pool_(run.workers > 1 ? run.workers : 0),
          copies_(&pool_),
          readAhead_(&pool_, run.mask) {
        // Each worker reaches its destinations from its own handle on the target.
        const int workers = std::max(pool_.threads(), 1);
        for (int worker = 0; worker < workers; ++worker)
            workerTargets_.push_back(std::make_unique<host::TargetFolder>(run.target));
    }

    RunResult rcopy() {
        // One second back: a file changed later in the same second as the start,
        // after the walk passed it, is still newer than the stored threshold.
        result_.startTime = host::localTimeText(host::clock().now() - 1);
        writeLog("开始时间:" + result_.startTime);
        writeLog("copy源文件修改日期（或创建日期）大于:" + run_.threshold);
        if (!run_.profile.empty()) host::iniWrite(run_.profile, "other", "fdt", result_.startTime);

        for (const std::string& row : run_.sourceFolders) {
            // An empty or blank row would walk the whole file system from its root.
            if (host::trim(row).empty()) continue;
            ls_path1_ = row;
            targetBelowSource_ = host::pathInside(row, run_.target);
            sourceBelowTarget_ = host::pathInside(run_.target, row).has_value();
            // The target is the source itself: copying it into itself would
            // only duplicate it.
            if (targetBelowSource_ && targetBelowSource_->empty()) continue;
            // The earlier rows' copies may land in this source: they are all
            // in place before its walk begins, as one at a time.
            finishAll();
            ue_dir(ls_path1_, std::string());
        }
        finishAll();

        result_.endTime = host::nowText();
        if (result_.cccs == 0) {
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
        std::string bytes = host::utf8ToGbk(line);
        bytes += kLineEnd;
        host::appendToFile(run_.logfile, bytes);
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
        for (std::size_t i = 0; i < entries.size(); ++i) {
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
        auto level = std::make_unique<Level>();
        level->reading = readAhead_.take(as_topdir);
        if (!level->reading.listed) {
            // A folder that cannot be read may hold new files; the threshold
            // moves on after this run, so passing it over silently would lose
            // them for good.
            queueFailure(as_topdir, false);
            return nullptr;
        }
        if (level->reading.entries.empty()) return nullptr;
        std::vector<std::string> subFolders;
        for (const host::ListingEntry& entry : level->reading.entries) {
            if (entry.isFolder && !isTargetFolder(zml1, entry.name))
                subFolders.push_back(host::joinPath(as_topdir, entry.name));
        }
        readAhead_.expect(subFolders);
        return level;
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
        if (!threshold_.isAfter(status->modified) && !threshold_.isAfter(status->created)) return;
        const std::string yfilea = host::joinPath(ls_dir, ls_filename);

        // All files of one folder share their destination; its folders are
        // made once, before the first copy into it.
        if (!filenp) {
            filenp = Destination{run_.fullStructure
                                     ? host::fullStructureFolder(run_.target, ls_path1_, zml1)
                                     : withSeparator(run_.target) + zml1,
                                 {}};
            filenp->key = host::folderKey(filenp->folder);
            filenp->refused = landsInSource(filenp->folder);
        }
        // Reached from the target folder's handle, so a folder swapped for a
        // link during the run cannot lead a copy outside the target. The
        // destination stays open while this folder's files are copied.
        const std::string_view folder = filenp->folder;
        const std::string_view root = run_.target;
        if (!filenp->refused) {
            filenp->reached =
                folder.substr(0, root.size()) == root &&
                target_.enter(folder.substr(root.size())) == host::TargetFolder::Reach::Reached;
        }
        if (filenp->refused || !filenp->reached) {
            // Copies into the folder being walked would be met again, and
            // with replacing on a file would be copied onto itself.
            queueFailure(yfilea);
            return;
        }
        // A name a copy still under way may take is settled first: the copy
        // in walk order before this one decides, as it does one at a time.
        const std::string name = run_.replace
                                     ? (settle(filenp->key, ls_filename), ls_filename)
                                     : numberedName(ls_filename, [&](const std::string& candidate) {
                                           settle(filenp->key, candidate);
                                           return target_.nameTaken(candidate);
                                       });
        progress_.step(++queued_, yfilea);
        queueCopy({yfilea, name, filenp->key + host::sameFileKey(name)},
                  std::string(folder.substr(root.size())), status->length);
    }

    // Waits for the copy under way to `name` in the destination whose key is
    // `folderKey`, if any.
    void settle(const std::string& folderKey, const std::string& name) {
        if (inFlight_.empty()) return;
        const auto found = inFlight_.find(folderKey + host::sameFileKey(name));
        if (found == inFlight_.end()) return;
        const long number = found->second;
        handOver();
        copies_.finishThrough(number);
    }

    struct Copy {
        std::string source;
        std::string name;
        std::string key;  // the destination, as settle() finds it
        bool copied = false;
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

    void queueCopy(Copy copy, std::string relative, std::int64_t length) {
        if (batch_ && batch_->relative != relative) handOver();
        if (!batch_) {
            batch_ = std::make_shared<Batch>();
            batch_->relative = std::move(relative);
        }
        inFlight_[copy.key] = copies_.added();
        batch_->copies.push_back(std::move(copy));
        batch_->bytes += length;
        // One at a time each file is copied as soon as it is met.
        if (pool_.threads() == 0 || batch_->copies.size() >= kBatchFiles ||
            batch_->bytes >= kBatchBytes)
            handOver();
    }

    // Gives the batch being gathered to the workers.
    void handOver() {
        if (!batch_) return;
        const long number = copies_.added();
        copies_.add(
            [this, batch = batch_](int worker) {
                host::TargetFolder& target = *workerTargets_[static_cast<std::size_t>(worker)];
                const bool reached =
                    target.enter(batch->relative) == host::TargetFolder::Reach::Reached;
                for (Copy& copy : batch->copies)
                    copy.copied = reached && target.copyHere(copy.source, copy.name, run_.replace);
            },
            [this, batch = batch_, number] {
                for (const Copy& copy : batch->copies) {
                    if (copy.copied)
                        ++result_.cgcs;
                    else
                        recordFailure(copy.source);
                    if (const auto found = inFlight_.find(copy.key);
                        found != inFlight_.end() && found->second == number)
                        inFlight_.erase(found);
                }
            });
        batch_.reset();
    }

    // Every copy so far finished, in order.
    void finishAll() {
        handOver();
        copies_.finishAll();
    }

    // A failure the walk finds, recorded in its turn among the copies. A file
    // counts as a step of the progress; an unreadable folder does not.
    void queueFailure(const std::string& path, bool isFile = true) {
        handOver();
        if (isFile)
            progress_.step(++queued_, path);
        else
            ++queued_;
        copies_.add({}, [this, path] { recordFailure(path); });
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

    void recordFailure(const std::string& yfilea) {
        ++result_.cccs;
        if (result_.cccs == 1) writeLog("以下文件复制出错:");
        writeLog(yfilea);
    }

    const RunDescription& run_;
    host::ProgressSink& progress_;
    const ThresholdTest threshold_;
    // The walk's own handle: it makes the destinations and chooses the names.
    host::TargetFolder target_;
    common::WorkerPool pool_;
    common::OrderedWork copies_;
    FolderReadAhead readAhead_;
    std::vector<std::unique_ptr<host::TargetFolder>> workerTargets_;
    // Destinations of the copies not yet finished, with their numbers.
    std::unordered_map<std::string, long> inFlight_;
    std::shared_ptr<Batch> batch_;  // being gathered
    long queued_ = 0;               // files and unreadable folders so far, in walk order
    RunResult result_;
    std::string ls_path1_;
    // Where the target lies below the source root being walked, if it does.
    std::optional<std::string> targetBelowSource_;
    bool sourceBelowTarget_ = false;
};

}  // namespace

RunResult rcopy(const RunDescription& run, host::ProgressSink& progress) {
    return CopyRun(run, progress).rcopy();
}

std::string fzmccf(const std::string& fpath, const std::string& fname) {
    return numberedName(fname, [&](const std::string& name) { return nameTaken(fpath + name); });
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
