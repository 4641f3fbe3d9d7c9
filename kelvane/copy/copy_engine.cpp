#include "kelvane/copy/copy_engine.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "common/file_attributes.h"
#include "grid/redraw_pause.h"
#include "host/fault_injection.h"
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

Copier::Copier(CopyPlan plan) : plan_(std::move(plan)), target_(plan_.targetFolder) {
    target_.setVerify(plan_.verify);
}

CopyPaths Copier::paths(std::string_view name) const {
    if (plan_.reading == host::NameReading::Full) {
        return {std::string(name), plan_.targetFolder + host::gbkMid(name, plan_.cut)};
    }
    return {plan_.sourceFolder + std::string(name), plan_.targetFolder + std::string(name)};
}

host::Status Copier::insideTarget(const std::string& target, std::string_view tail) {
    const host::Failure outside{"will not write", target, 0, "it is outside the target folder"};
    const bool joined =
        !tail.empty() &&
        (host::isSeparator(tail.front()) ||
         (!plan_.targetFolder.empty() && host::isSeparator(plan_.targetFolder.back())));
    if (!joined || hasParentStep(tail)) return outside;
    // Each folder is reached from the target folder's handle and made there,
    // so a link inside the target folder, or one put there during the run,
    // can never have folders made or bytes written at its other end.
    const host::Result<host::TargetFolder::Reach> reached = target_.enter(host::parentPath(tail));
    if (!reached) return reached.error();
    if (*reached == host::TargetFolder::Reach::Outside) return outside;
    return {};
}

CopyOutcome Copier::copy(std::string_view name) {
    CopyOutcome outcome;
    const CopyPaths where = paths(name);
    const std::string_view tail = std::string_view(where.target).substr(plan_.targetFolder.size());
    const std::string base(host::baseName(where.target));
    // A source that cannot be copied, said in the system's words: a missing
    // file, one behind a folder that may not be searched, a FIFO in its place.
    const auto missing = [&] {
        if (host::fileExists(where.source)) return false;
        const host::EntryInfo found = host::lookUpEntry(where.source);
        using Kind = host::EntryInfo::Kind;
        if (found.kind == Kind::Missing)
            outcome.error = "the source file does not exist: " + where.source;
        else if (found.kind == Kind::Unreadable)
            outcome.error = "cannot read the source file \"" + where.source + "\": " + found.text;
        else
            outcome.error = "the source is " + found.text + ", not a file: " + where.source;
        return true;
    };
    // Folders are made only for a file about to be copied into them: a list of
    // missing files leaves no empty folder tree in the target. Into a folder
    // already reached, the copy's own open of the source tells, and the walk's
    // reading of the file is not repeated.
    const bool folderKnown = target_.path() == host::parentPath(where.target);
    if (!folderKnown && missing()) return outcome;
    const auto reachTarget = [&] {
        const host::Status inside = insideTarget(where.target, tail);
        if (!inside) outcome.error = inside.error().message();
        return bool(inside);
    };
    if (!reachTarget()) return outcome;
    const auto copyHere = [&] {
        const host::Status copied = target_.copyHere(where.source, base, plan_.replace);
        outcome.copied = bool(copied);
        if (!copied) outcome.error = copied.error().message();
    };
    copyHere();
    if (!outcome.copied && folderKnown && missing()) return outcome;
    if (!outcome.copied && folderKnown && target_.destinationGone()) {
        // The folder was reached for an earlier row and has gone meanwhile:
        // reach and make it once more. Any other failure (a copy that did
        // not verify among them) stands.
        target_.leave();
        outcome.error.clear();
        if (!reachTarget()) return outcome;
        copyHere();
    }
    if (!outcome.copied)
        target_.leave();
    else
        host::faults::reach(host::faults::kCopyDone);
    return outcome;
}

CopySummary copyShownRows(grid::Grid& list, const CopyPlan& plan, host::ProgressSink& progress,
                          const CopyReport& report, int workers) {
    CopySummary summary;
    const long rows = list.rowcount();
    const grid::RedrawPause redraw(list);
    common::WorkerPool pool(workers > 1 ? workers : 0);
    // Each worker reaches its target folders from its own handle.
    std::vector<std::unique_ptr<Copier>> copiers;
    for (int worker = 0; worker < std::max(pool.threads(), 1); ++worker)
        copiers.push_back(std::make_unique<Copier>(plan));
    struct Row {
        long row;
        std::string name;
        CopyPaths paths;
        CopyOutcome outcome;
        bool begun = false;  // a stop leaves the rows queued behind it unbegun
    };
    common::OrderedWork copies(&pool);
    FileKeys targetKeys, sourceKeys;
    for (long row = 1; row <= rows; ++row) {
        // The copies under way end and are marked; no other row is begun.
        if (progress.stopRequested()) {
            summary.stopped = true;
            break;
        }
        std::string name = list.getitemstring(row, "md");
        CopyPaths paths = copiers.front()->paths(name);
        auto job = std::make_shared<Row>(Row{row, std::move(name), std::move(paths), {}});
        progress.step(row, job->name);
        // A row whose target another copy still reads or writes, or whose
        // source it writes, waits for it: the later row lands last, and reads
        // what the earlier one left, as one at a time.
        common::OrderedWork::Keys keys{{sourceKeys(job->paths.source)},
                                       {targetKeys(job->paths.target)}};
        copies.add(
            [job, &copiers, &progress](int worker) {
                if (progress.stopRequested()) return;
                job->begun = true;
                job->outcome = copiers[static_cast<std::size_t>(worker)]->copy(job->name);
            },
            [&, job] {
                if (!job->begun) {
                    summary.stopped = true;
                } else if (job->outcome.copied) {
                    list.setitem(job->row, "jg", kCopied);
                    list.selectrow(job->row, true);
                    ++summary.copied;
                } else {
                    list.selectrow(job->row, false);
                    list.setitem(job->row, "jg", kCopyFailed);
                    ++summary.failed;
                }
                if (report && job->begun) report(job->row, job->name, job->paths, job->outcome);
            },
            std::move(keys));
    }
    copies.finishAll();
    return summary;
}

}  // namespace kelvane
