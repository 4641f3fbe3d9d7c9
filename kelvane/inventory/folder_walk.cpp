#include "kelvane/inventory/folder_walk.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <string_view>
#include <utility>
#include <vector>

#include "base/numbers_and_dates.h"
#include "base/text.h"
#include "common/file_attributes.h"
#include "grid/redraw_pause.h"
#include "host/clock.h"
#include "host/folder_status.h"
#include "host/paths.h"

namespace kelvane {

namespace {

constexpr std::string_view kDifferent = "不同";

// A folder path without trailing separators; the root "/" becomes "", so that
// adding one separator gives back "/" and names under it still start with one.
std::string withoutTrailingSeparators(std::string_view folder) {
    const char separator = host::separator();
    while (!folder.empty() && folder.back() == separator) folder.remove_suffix(1);
    return std::string(folder);
}

// filelzf's text for a known length; kept beside filelzf's rule and compared
// with it by the tests.
std::string lengthText(double length, std::string_view unit) {
    if (unit == "1") return base::formatDecimal(length, 0) + "字节";
    if (unit == "3") return base::formatDecimal(length * 0.0009765625 * 0.0009765625, 2) + "MB";
    return base::formatDecimal(length * 0.0009765625, 2) + "KB";
}

// Neighbouring files often share a time; formatting it once saves the
// calendar conversion.
class TimeTextCache {
  public:
    const std::string& text(std::time_t seconds) {
        if (!valid_ || seconds != seconds_) {
            text_ = host::localTimeText(seconds);
            seconds_ = seconds;
            valid_ = true;
        }
        return text_;
    }

  private:
    bool valid_ = false;
    std::time_t seconds_ = 0;
    std::string text_;
};

struct Frame {
    std::vector<host::ListingEntry> entries;
    std::size_t next = 0;
    std::size_t folderLength = 0;  // length of the folder path (with its separator)
};

class Walker {
  public:
    Walker(grid::Grid& grid, const std::string& root, const WalkOptions& options,
           host::ProgressSink& progress)
        : grid_(grid),
          options_(options),
          progress_(progress),
          condition_(options.condition),
          cut_(withoutTrailingSeparators(root).size()) {}

    WalkResult run(const std::string& topFolder) {
        folder_ = withoutTrailingSeparators(topFolder);
        folder_ += host::separator();
        Frame top;
        if (host::Status listed = host::listDirectory(folder_, options_.mask, top.entries);
            !listed) {
            leftOut(withoutTrailingSeparators(folder_), std::move(listed).error());
            return result_;
        }
        if (top.entries.empty()) return result_;
        result_.listed = true;
        top.folderLength = folder_.size();
        topLength_ = folder_.size();
        const std::string leaveOut = withoutTrailingSeparators(options_.leaveOut);
        if (!leaveOut.empty() && !host::isSeparator(leaveOut.front()))
            leftOut_ = folder_ + leaveOut + host::separator();
        stack_.push_back(std::move(top));
        enteredFolder();

        while (!stack_.empty()) {
            Frame& frame = stack_.back();
            if (frame.next == frame.entries.size()) {
                stack_.pop_back();
                if (!stack_.empty()) {
                    folder_.resize(stack_.back().folderLength);
                    enteredFolder();
                }
                continue;
            }
            if (progress_.stopRequested()) {
                result_.stopped = true;
                break;
            }
            const host::ListingEntry& entry = frame.entries[frame.next++];
            // An excluded folder is never listed, its files never met.
            if (!options_.exclude.empty() &&
                options_.exclude.excludes(std::string_view(folder_).substr(topLength_), entry.name,
                                          entry.isFolder))
                continue;
            if (entry.isFolder) {
                descend(entry.name);
            } else {
                file(entry.name);
            }
        }
        return result_;
    }

  private:
    // A folder that cannot be read is left out: said, with why, named as
    // the walk names it.
    void leftOut(const std::string& folder, host::Failure failure) {
        failure.path = folder;
        progress_.failed(folder, failure);
    }

    void descend(const std::string& name) {
        const std::size_t parentLength = folder_.size();
        folder_ += name;
        folder_ += host::separator();
        if (folder_ == leftOut_) {
            folder_.resize(parentLength);
            return;
        }
        Frame sub;
        if (const host::Status listed = host::listDirectory(folder_, options_.mask, sub.entries);
            !listed) {
            folder_.resize(folder_.size() - 1);
            result_.skippedFolders.push_back({folder_, listed.error().reasonText()});
            leftOut(folder_, std::move(listed).error());
            folder_.resize(parentLength);
            return;
        }
        if (sub.entries.empty()) {
            folder_.resize(parentLength);
            return;
        }
        sub.folderLength = folder_.size();
        stack_.push_back(std::move(sub));
        enteredFolder();
    }

    // The relative folder is the folder path from the byte after the root on;
    // a root longer than the path leaves nothing.
    void enteredFolder() {
        relative_.assign(folder_, std::min(cut_, folder_.size()));
        reader_.close();
        readerTried_ = false;
    }

    void file(const std::string& name) {
        ++result_.filesMet;
        name_.assign(relative_);
        name_ += name;
        progress_.step(result_.filesMet, name_);
        if (condition_ == BrowseCondition::None) {
            appendRow();
            return;
        }
        readStatus(name);
        const std::string& time = options_.conditionTime;
        bool keep = false;
        switch (condition_) {
            case BrowseCondition::Modified:
                keep = modified_ > time;
                break;
            case BrowseCondition::Created:
                keep = created_ > time;
                break;
            default:
                keep = modified_ > time || created_ > time;
                break;
        }
        if (!keep) return;
        const long row = appendRow();
        grid_.setitem(row, "wjct", length_);
        grid_.setitem(row, "xgrq", modified_);
        grid_.setitem(row, "cjrq", created_);
    }

    long appendRow() {
        grid_.insertrow(0);
        const long row = grid_.rowcount();
        grid_.setitem(row, "xh", static_cast<double>(row));
        grid_.setitem(row, "md", name_);
        grid_.setitem(row, "jg", kDifferent);
        ++result_.rowsAppended;
        return row;
    }

    // Fills length_, modified_ and created_ with the texts filelzf and getft
    // give, from one status query relative to the open folder.
    void readStatus(const std::string& name) {
        if (!readerTried_) {
            reader_.open(folder_);
            readerTried_ = true;
        }
        if (const auto status = reader_.status(name)) {
            length_ = lengthText(static_cast<double>(status->length), options_.lengthUnit);
            modified_ = modifiedTimes_.text(status->modified);
            created_ = createdTimes_.text(status->created);
            return;
        }
        // The rare failure goes through the file services, whose failure
        // results (the zero time, 4294967295 bytes) the texts must keep.
        const std::string path = folder_ + name;
        modified_ = common::getft(path, 3);
        created_ = common::getft(path, 1);
        length_ = common::filelzf(path, options_.lengthUnit);
    }

    grid::Grid& grid_;
    const WalkOptions& options_;
    host::ProgressSink& progress_;
    const BrowseCondition condition_;
    const std::size_t cut_;

    WalkResult result_;
    std::vector<Frame> stack_;
    std::string folder_;         // the folder being listed, ending with a separator
    std::string relative_;       // its part after the root
    std::string name_;           // the current file's `md`
    std::string leftOut_;        // the folder left out, as folder_ would name it
    std::size_t topLength_ = 0;  // of the top folder's path in folder_, with its separator

    host::FolderStatusReader reader_;
    bool readerTried_ = false;
    TimeTextCache modifiedTimes_;
    TimeTextCache createdTimes_;
    std::string length_;
    std::string modified_;
    std::string created_;
};

}  // namespace

BrowseCondition browseCondition(std::string_view szf) noexcept {
    if (szf.empty() || !base::isNumber(szf)) return BrowseCondition::None;
    if (szf == "1") return BrowseCondition::Modified;
    if (szf == "2") return BrowseCondition::Created;
    return BrowseCondition::Either;
}

WalkResult walkFolder(grid::Grid& grid, const std::string& topFolder, const std::string& root,
                      const WalkOptions& options, host::ProgressSink& progress) {
    // An empty or blank folder text names no folder; read as a path it would
    // become the file system's root and list every file on the machine.
    if (base::trim(topFolder).empty()) return {};
    const grid::RedrawPause hold(grid);
    return Walker(grid, root, options, progress).run(topFolder);
}

}  // namespace kelvane
