// Copying the names a list shows into the target folder, without any window:
// "开始复制" and the command line's --copy both run this after their own
// checks. Paths are formed by plain concatenation, as the lists hold them.
//
// Nothing here throws beyond std::bad_alloc.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/ordered_work.h"
#include "grid/grid.h"
#include "host/fs.h"
#include "host/paths.h"
#include "host/progress.h"

namespace kelvane {

// The result texts a copy writes into jg.
inline constexpr std::string_view kCopied = "成功";
inline constexpr std::string_view kCopyFailed = "失败";

struct CopyPlan {
    host::NameReading reading = host::NameReading::Relative;  // Relative or Full
    std::string sourceFolder;  // sle_1: put in front of relative names
    std::string targetFolder;  // sle_2, as typed: put in front of every name's tail
    // Full names: the position (GBK bytes, 1-based) of the separator that ends
    // the source folder in the first name; every name is cut there.
    long cut = 0;
    bool replace = true;  // cbx_2
    // Each copy read back from the device and compared before it takes its
    // name (host::TargetFolder::setVerify).
    bool verify = false;
    // Rows already marked kCopied are left as they are (a copy started again
    // after a stop goes on with the rest).
    bool skipCopied = false;
};

struct CopyPaths {
    std::string source;
    std::string target;
};

struct CopyOutcome {
    bool copied = false;
    std::optional<host::Failure> failure;  // why not
    std::string error() const { return failure ? failure->message() : std::string(); }
};

// The source and target of `name` as the plan forms them.
CopyPaths copyPaths(const CopyPlan& plan, std::string_view name);
// Why the target of `name` is refused before anything is made: a ".."
// component in the name's tail, or a tail that does not begin with a
// separator (it would extend the folder's own name). A folder that resolves
// elsewhere through a link, also one put there during the run, is refused
// by the copy itself (common::TargetCopies), which then makes no folder and
// writes no byte.
std::optional<host::Failure> refusedTarget(const CopyPlan& plan, std::string_view name);

struct CopySummary {
    long copied = 0;
    long failed = 0;
    bool stopped = false;  // asked to stop: the rows after the last one marked were not copied
};

// Called after each row with its number, name, paths and outcome.
using CopyReport = std::function<void(long row, const std::string& name, const CopyPaths& paths,
                                      const CopyOutcome& outcome)>;

// Copies every row `list` shows, the row count taken once at the start, on
// `workers` threads (1: one after the other), through common::TargetCopies:
// a row is marked kCopied only once its copy holds its source's bytes under
// its name on the device. Whatever the workers, the rows are marked and
// reported in order, and two rows with one target are copied one after the
// other, so the list, the report and the target folder end as one worker
// leaves them; each failure also goes to `progress` (failed) with its reason. Each row's jg becomes
// kCopied (then the row is selected) or kCopyFailed (after the row is deselected); no other row's
// selection changes. A failed row never stops the run. `progress` hears one
// step per row, in order, as the row is handed to a worker; once it asks for
// a stop no further row is begun (rows queued but not yet begun are left
// unmarked and unreported), and the rows under way end and are marked.
CopySummary copyShownRows(grid::Grid& list, const CopyPlan& plan, host::ProgressSink& progress,
                          const CopyReport& report = {}, int workers = common::kDefaultWorkers);

}  // namespace kelvane
