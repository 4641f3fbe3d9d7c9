#include "kelvane/copy/copy_engine.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "common/target_copies.h"
#include "grid/redraw_pause.h"
#include "host/fs.h"
#include "host/gbk_positions.h"
#include "host/paths.h"

namespace kelvane {

namespace {

bool hasParentStep(std::string_view tail) {
    std::size_t start = 0;
    while (start <= tail.size()) {
        std::size_t end = start;
        while (end < tail.size() && !host::isSeparator(tail[end])) ++end;
        if (tail.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

// The key of a file by which two rows bound for one file are kept apart: the
// folder it is reached in (host::folderKey), then its name. Rows come folder
// by folder, so a folder is resolved once for the rows that follow in it.
class FileKeys {
  public:
    std::string operator()(const std::string& path) {
        const std::string_view folder = host::parentPath(path);
        if (!known_ || folder != folder_) {
            folder_ = folder;
            folderKey_ = host::folderKey(folder);
            known_ = true;
        }
        return folderKey_ + host::sameFileKey(host::baseName(path));
    }

  private:
    bool known_ = false;
    std::string folder_;
    std::string folderKey_;
};

}  // namespace

CopyPaths copyPaths(const CopyPlan& plan, std::string_view name) {
    if (plan.reading == host::NameReading::Full) {
        return {std::string(name), plan.targetFolder + host::gbkMid(name, plan.cut)};
    }
    return {plan.sourceFolder + std::string(name), plan.targetFolder + std::string(name)};
}

std::optional<host::Failure> refusedTarget(const CopyPlan& plan, std::string_view name) {
    const CopyPaths where = copyPaths(plan, name);
    const std::string_view tail = std::string_view(where.target).substr(plan.targetFolder.size());
    const bool joined =
        !tail.empty() &&
        (host::isSeparator(tail.front()) ||
         (!plan.targetFolder.empty() && host::isSeparator(plan.targetFolder.back())));
    if (joined && !hasParentStep(tail)) return std::nullopt;
    return host::Failure{"will not write", where.target, 0, "it is outside the target folder"};
}

CopySummary copyShownRows(grid::Grid& list, const CopyPlan& plan, host::ProgressSink& progress,
                          const CopyReport& report, int workers) {
    CopySummary summary;
    const long rows = list.rowcount();
    const grid::RedrawPause redraw(list);
    common::TargetCopies::Options options;
    options.workers = workers;
    options.verify = plan.verify;
    options.batchFiles = 8;
    options.stopRequested = [&progress] { return progress.stopRequested(); };
    common::TargetCopies copies(plan.targetFolder, std::move(options));
    FileKeys targetKeys, sourceKeys;
    for (long row = 1; row <= rows; ++row) {
        // The copies under way end and are marked; no other row is begun.
        if (progress.stopRequested()) {
            summary.stopped = true;
            break;
        }
        if (plan.skipCopied && list.getitemstring(row, "jg") == kCopied) continue;
        std::string name = list.getitemstring(row, "md");
        CopyPaths paths = copyPaths(plan, name);
        progress.step(row, name);
        auto finish = [&, row, name, paths](const common::CopyEnd& end) {
            if (end.how == common::CopyEnd::How::NotBegun) {
                summary.stopped = true;
                return;
            }
            CopyOutcome outcome;
            outcome.copied = end.how == common::CopyEnd::How::Copied;
            if (end.failure) outcome.failure = *end.failure;
            if (outcome.copied) {
                list.setitem(row, "jg", kCopied);
                list.selectrow(row, true);
                ++summary.copied;
            } else {
                list.selectrow(row, false);
                list.setitem(row, "jg", kCopyFailed);
                ++summary.failed;
                progress.failed(name, *outcome.failure);
            }
            if (report) report(row, name, paths, outcome);
        };
        if (auto refused = refusedTarget(plan, name)) {
            common::CopyEnd end;
            end.how = common::CopyEnd::How::Failed;
            end.failure = std::make_shared<const host::Failure>(std::move(*refused));
            copies.addInTurn([finish, end] { finish(end); });
            continue;
        }
        // A row whose target another copy still reads or writes, or whose
        // source it writes, waits for it: the later row lands last, and reads
        // what the earlier one left, as one at a time.
        const std::string_view tail =
            std::string_view(paths.target).substr(plan.targetFolder.size());
        common::TargetCopy copy;
        copy.source = paths.source;
        copy.folder = std::string(host::parentPath(tail));
        copy.name = std::string(host::baseName(tail));
        copy.replace = plan.replace;
        copy.key = targetKeys(paths.target);
        copy.reads = {sourceKeys(paths.source)};
        copies.add(std::move(copy), std::move(finish));
    }
    // A failure to flush is each copy's it concerns: those are marked failed.
    static_cast<void>(copies.finishAll());
    return summary;
}

}  // namespace kelvane
