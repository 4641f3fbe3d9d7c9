#include "kelvane/copy/copy_engine.h"

#include "common/file_attributes.h"
#include "grid/redraw_pause.h"
#include "host/fs.h"
#include "host/paths.h"
#include "host/text.h"

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

}  // namespace

Copier::Copier(CopyPlan plan) : plan_(std::move(plan)) {}

CopyPaths Copier::paths(std::string_view name) const {
    if (plan_.reading == host::NameReading::Full) {
        return {std::string(name), plan_.targetFolder + host::gbkMid(name, plan_.cut)};
    }
    return {plan_.sourceFolder + std::string(name), plan_.targetFolder + std::string(name)};
}

bool Copier::insideTarget(const std::string& target, std::string_view tail, std::string& error) {
    const bool joined =
        !tail.empty() &&
        (host::isSeparator(tail.front()) ||
         (!plan_.targetFolder.empty() && host::isSeparator(plan_.targetFolder.back())));
    if (!joined || hasParentStep(tail)) {
        error = "outside the target folder: " + target;
        return false;
    }
    const std::string folder(host::parentPath(target));
    if (folder == lastFolder_) return true;
    // Checked before any folder is made, so a link inside the target folder
    // can never have folders created at the other end.
    if (!host::pathInside(plan_.targetFolder, folder)) {
        error = "outside the target folder: " + target;
        return false;
    }
    common::cr_d(target, plan_.targetFolder);
    lastFolder_ = folder;
    return true;
}

CopyOutcome Copier::copy(std::string_view name) {
    CopyOutcome outcome;
    const CopyPaths where = paths(name);
    const std::string_view tail = std::string_view(where.target).substr(plan_.targetFolder.size());
    const bool folderKnown = !lastFolder_.empty() && host::parentPath(where.target) == lastFolder_;
    // Folders are made only for a file about to be copied into them: a list of
    // missing files leaves no empty folder tree in the target.
    if (!host::fileExists(where.source)) {
        outcome.error = "the source file does not exist: " + where.source;
        return outcome;
    }
    if (!insideTarget(where.target, tail, outcome.error)) return outcome;
    outcome.copied =
        host::copyFileSafely(where.source, where.target, plan_.replace, &outcome.error);
    if (!outcome.copied && folderKnown) {
        // The folder was made for an earlier row and its folders were not made
        // again: it may have gone meanwhile, so check and make them once more.
        lastFolder_.clear();
        if (!insideTarget(where.target, tail, outcome.error)) return outcome;
        outcome.error.clear();
        outcome.copied =
            host::copyFileSafely(where.source, where.target, plan_.replace, &outcome.error);
    }
    if (!outcome.copied) lastFolder_.clear();
    return outcome;
}

CopySummary copyShownRows(host::Grid& list, Copier& copier, host::ProgressSink& progress,
                          const CopyReport& report) {
    CopySummary summary;
    const long rows = list.rowcount();
    const host::RedrawPause redraw(list);
    for (long row = 1; row <= rows; ++row) {
        const std::string name = list.getitemstring(row, "md");
        progress.step(row, name);
        const CopyOutcome outcome = copier.copy(name);
        if (outcome.copied) {
            list.setitem(row, "jg", kCopied);
            list.selectrow(row, true);
            ++summary.copied;
        } else {
            list.selectrow(row, false);
            list.setitem(row, "jg", kCopyFailed);
            ++summary.failed;
        }
        if (report) report(row, name, copier.paths(name), outcome);
    }
    return summary;
}

}  // namespace kelvane
