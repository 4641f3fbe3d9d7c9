// The folder walk that fills a name list: every file under a folder, depth
// first in listing order, appended to a grid with its name relative to the
// list's root. Without Qt, so the window, the check, the tests and the
// benchmark all drive the same code.
#pragma once

#include <string>
#include <vector>

#include "common/exclude_patterns.h"
#include "grid/grid.h"
#include "host/fs.h"
#include "host/progress.h"
#include "kelvane/inventory/browse_condition.h"

namespace kelvane {

struct WalkOptions {
    int mask = host::kListNormal;  // `lx`
    // `szf`; without one, no length or time columns.
    BrowseCondition condition = BrowseCondition::None;
    std::string conditionTime;  // "yyyy-mm-dd hh:mm:ss"; a time must be strictly greater
    std::string lengthUnit;     // `ctdwszf`
    // A sub-folder below the top folder (its path below it, as
    // host::pathInside gives it) whose whole subtree the walk leaves out: a
    // target folder inside the source, so that what was copied there is not
    // listed, and copied into itself, on the next run. Empty: none.
    std::string leaveOut;
    // Names below the top folder the walk leaves out; an excluded folder is
    // never entered.
    common::ExcludePatterns exclude;
};

struct SkippedFolder {
    std::string path;    // as the walk named it
    std::string reason;  // the system's
};

struct WalkResult {
    bool listed = false;  // the top folder could be read and had entries
    long filesMet = 0;    // files listed, whether or not the condition kept them
    long rowsAppended = 0;
    std::vector<SkippedFolder> skippedFolders;  // folders below the top that could not be read
    bool stopped = false;  // asked to stop, it left the files after the last row appended
};

// Appends the files under `topFolder` to `grid` (a name list: md, xh, jg,
// wjct, xgrq, cjrq), each as a row numbered by the grid's row count, with
// `md` = the folder path after the first length-of-`root` bytes, then the
// file name; with `topFolder` equal to `root` that is the path below the root
// with a leading separator. Each folder is listed once; a folder that cannot
// be read is skipped and the walk goes on. Reports every file met to
// `progress`, and stops before the next entry once it asks for a stop.
// Repainting of `grid` is held until the end. An empty or blank `topFolder`
// lists nothing.
// Throws only what the grid throws (std::bad_alloc).
WalkResult walkFolder(grid::Grid& grid, const std::string& topFolder, const std::string& root,
                      const WalkOptions& options, host::ProgressSink& progress);

}  // namespace kelvane
