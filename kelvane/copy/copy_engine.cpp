#include "kelvane/copy/copy_engine.h"

#include <filesystem>
#include <system_error>

#include "common/file_attributes.h"
#include "host/fs.h"
#include "host/fs_path.h"
#include "host/text.h"

namespace kelvane {

namespace {

namespace fs = std::filesystem;

bool isSeparator(char c) {
    // "/" separates on every platform the file system knows.
    return c == host::separator() || c == '/';
}

bool hasParentStep(std::string_view tail) {
    std::size_t start = 0;
    while (start <= tail.size()) {
        std::size_t end = start;
        while (end < tail.size() && !isSeparator(tail[end])) ++end;
        if (tail.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

std::string resolved(const std::string& path) {
    std::error_code error;
    const fs::path full = fs::weakly_canonical(host::fsPath(path), error);
    return error ? std::string() : host::fsPathText(full);
}

bool within(const std::string& path, const std::string& folder) {
    if (folder.empty() || path.compare(0, folder.size(), folder) != 0) return false;
    return path.size() == folder.size() || isSeparator(folder.back()) ||
           isSeparator(path[folder.size()]);
}

class RedrawAtEnd {
  public:
    explicit RedrawAtEnd(host::Grid& grid) : grid_(grid), previous_(grid.redraw()) {
        grid_.setredraw(false);
    }
    ~RedrawAtEnd() { grid_.setredraw(previous_); }
    RedrawAtEnd(const RedrawAtEnd&) = delete;
    RedrawAtEnd& operator=(const RedrawAtEnd&) = delete;

  private:
    host::Grid& grid_;
    bool previous_;
};

}  // namespace

Copier::Copier(CopyPlan plan) : plan_(std::move(plan)) {
    if (!plan_.targetFolder.empty()) resolvedTarget_ = resolved(plan_.targetFolder);
}

CopyPaths Copier::paths(std::string_view name) const {
    if (plan_.reading == host::NameReading::Full) {
        return {std::string(name), plan_.targetFolder + host::gbkMid(name, plan_.cut)};
    }
    return {plan_.sourceFolder + std::string(name), plan_.targetFolder + std::string(name)};
}

bool Copier::insideTarget(const std::string& target, std::string_view tail, std::string& error) {
    const bool joined =
        !tail.empty() && (isSeparator(tail.front()) ||
                          (!plan_.targetFolder.empty() && isSeparator(plan_.targetFolder.back())));
    if (!joined || hasParentStep(tail)) {
        error = "outside the target folder: " + target;
        return false;
    }
    const std::string folder(host::parentPath(target));
    if (folder == lastFolder_) return true;
    // Checked before any folder is made, so a link inside the target folder
    // can never have folders created at the other end.
    if (!within(resolved(folder), resolvedTarget_)) {
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
    const RedrawAtEnd redraw(list);
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
