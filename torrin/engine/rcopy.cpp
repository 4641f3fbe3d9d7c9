#include "torrin/engine/rcopy.h"

#include <ctime>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "common/file_attributes.h"
#include "host/clock.h"
#include "host/folder_status.h"
#include "host/fs.h"
#include "host/fs_path.h"
#include "host/ini.h"
#include "host/paths.h"
#include "host/text.h"

namespace torrin {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Times this far from the threshold compare as texts the way they compare as
// numbers: no change of a zone's UTC offset comes near two days.
constexpr std::time_t kTextOrderMargin = 2 * 86400;
// Beyond this the year no longer has four digits and text order breaks.
constexpr std::time_t kFourDigitYearsEnd = 253402214400;  // 9999-12-31 00:00:00 UTC

// The threshold test of one time, with the same result as comparing getft's
// text with the threshold text, but without formatting the time when it lies
// clearly on one side.
class ThresholdTest {
  public:
    explicit ThresholdTest(std::string threshold) : text_(std::move(threshold)) {
        std::time_t seconds = 0;
        // Only a threshold in the exact form of a time text orders like a time.
        if (host::parseLocalTimeText(text_, seconds) && host::localTimeText(seconds) == text_)
            seconds_ = seconds;
    }

    bool isAfter(std::time_t time) const {
        if (seconds_ && time >= 0 && time < kFourDigitYearsEnd) {
            if (time > *seconds_ + kTextOrderMargin) return true;
            if (time < *seconds_ - kTextOrderMargin) return false;
        }
        return host::localTimeText(time) > text_;
    }

  private:
    std::string text_;
    std::optional<std::time_t> seconds_;
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
    bool refused = false;
    bool reached = false;  // its folders are made and it is the target's destination
};

class CopyRun {
  public:
    CopyRun(const RunDescription& run, host::ProgressSink& progress)
        : run_(run), progress_(progress), threshold_(run.threshold), target_(run.target) {}

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
            ue_dir(ls_path1_, std::string());
        }

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

    // `zml1` is the sub-folder path of `as_topdir` below the source root, empty
    // or ending with a separator. Sub-folders are walked at their position in
    // the sorted listing; each folder is listed once.
    int ue_dir(const std::string& as_topdir, const std::string& zml1) {
        std::vector<host::ListingEntry> entries;
        if (!host::listDirectory(as_topdir, run_.mask, entries)) {
            // A folder that cannot be read may hold new files; the threshold
            // moves on after this run, so passing it over silently would lose
            // them for good.
            recordFailure(as_topdir);
            return 0;
        }
        if (entries.empty()) return 0;
        const std::vector<std::optional<host::FileTimes>> times = fileTimesOf(as_topdir, entries);
        std::optional<Destination> filenp;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const host::ListingEntry& entry = entries[i];
            if (entry.isFolder) {
                std::string relative = zml1 + entry.name;
                // The copies land there: walking it would copy the backup into itself.
                if (targetBelowSource_ && relative == *targetBelowSource_) continue;
                relative += host::separator();
                ue_dir(host::joinPath(as_topdir, entry.name), relative);
                continue;
            }
            copyIfNewer(as_topdir, entry.name, times[i], zml1, filenp);
        }
        return 1;
    }

    // The times of a folder's files, read relative to the open folder before
    // any sub-folder is walked (so only one folder is open at a time, however
    // deep the tree): the system then does not resolve the whole path again
    // for each of a million files. A file that cannot be read this way is
    // asked by its full path.
    static std::vector<std::optional<host::FileTimes>> fileTimesOf(
        const std::string& folder, const std::vector<host::ListingEntry>& entries) {
        std::vector<std::optional<host::FileTimes>> times(entries.size());
        host::FolderStatusReader reader;
        reader.open(folder);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].isFolder) continue;
            if (const auto status = reader.status(entries[i].name)) {
                times[i] = host::FileTimes{status->modified, status->created};
            } else {
                times[i] = host::fileTimes(host::joinPath(folder, entries[i].name));
            }
        }
        return times;
    }

    void copyIfNewer(const std::string& ls_dir, const std::string& ls_filename,
                     const std::optional<host::FileTimes>& times, const std::string& zml1,
                     std::optional<Destination>& filenp) {
        const std::string yfilea = host::joinPath(ls_dir, ls_filename);
        if (!times) {
            // Listed but gone or unreadable: it may be new, so it is reported
            // rather than passed over.
            progress_.step(result_.cgcs + result_.cccs + 1, yfilea);
            recordFailure(yfilea);
            return;
        }
        if (!threshold_.isAfter(times->modified) && !threshold_.isAfter(times->created)) return;

        // All files of one folder share their destination; its folders are
        // made once, before the first copy into it.
        if (!filenp) {
            filenp = Destination{run_.fullStructure
                                     ? host::fullStructureFolder(run_.target, ls_path1_, zml1)
                                     : withSeparator(run_.target) + zml1};
            filenp->refused = landsInSource(filenp->folder);
        }
        // Reached from the target folder's handle, so a folder swapped for a
        // link during the run cannot lead a copy outside the target. The
        // destination stays open while this folder's files are copied.
        if (!filenp->refused) {
            const std::string_view folder = filenp->folder;
            const std::string_view root = run_.target;
            filenp->reached =
                folder.substr(0, root.size()) == root &&
                target_.enter(folder.substr(root.size())) == host::TargetFolder::Reach::Reached;
        }
        if (filenp->refused || !filenp->reached) {
            // Copies into the folder being walked would be met again, and
            // with replacing on a file would be copied onto itself.
            progress_.step(result_.cgcs + result_.cccs + 1, yfilea);
            recordFailure(yfilea);
            return;
        }
        const std::string name = run_.replace
                                     ? ls_filename
                                     : numberedName(ls_filename, [&](const std::string& candidate) {
                                           return target_.nameTaken(candidate);
                                       });
        progress_.step(result_.cgcs + result_.cccs + 1, yfilea);
        if (target_.copyHere(yfilea, name, run_.replace))
            ++result_.cgcs;
        else
            recordFailure(yfilea);
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
    host::TargetFolder target_;
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
