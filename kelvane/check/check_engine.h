// Checking list 1 against list 2 and the list operations on the result,
// without any window: the buttons and the command line both call these with
// the grids, the roots and the option digit they hold. Rows hidden by a
// filter take part in nothing here.
//
// Grids are the name lists (columns md, xh, jg) and the duplicate lists
// (columns dmd, dxh). Nothing here throws beyond std::bad_alloc.
#pragma once

#include <string>
#include <string_view>

#include "grid/grid.h"
#include "host/progress.h"
#include "kelvane/check/check_option.h"

namespace kelvane {

// The result texts of column jg.
inline constexpr std::string_view kSame = "相同";
inline constexpr std::string_view kDifferent = "不同";
// The design heading of dw_3, restored when a check runs without an option.
inline constexpr std::string_view kDuplicateHeading1 = "重复名单1";

// The four grids a check works on.
struct CheckGrids {
    grid::Grid& dw_1;  // list 1
    grid::Grid& dw_2;  // list 2
    grid::Grid& dw_3;  // duplicates of list 1, then the option's findings
    grid::Grid& dw_4;  // duplicates of list 2
};

struct CheckSettings {
    std::string ls_path1;  // root of list 1: root + md is the file's full path
    std::string ls_path2;
    CheckOption addszf = CheckOption::None;
    // Pairs of files whose contents are compared at once (Content); 1: one
    // after the other. dw_3 lists them in the same order either way.
    int workers = 1;
};

struct CheckSummary {
    long duplicates1 = 0;  // rows moved from list 1 to dw_3
    long duplicates2 = 0;  // rows moved from list 2 to dw_4
    long matched = 0;      // names marked kSame in both lists
    long differing = 0;    // matched names the option listed in dw_3
    // Asked to stop: the names after the last one matched were not matched,
    // and the files of the matched ones not all compared.
    bool stopped = false;
};

// The dw_3 heading for an option in force ("文件的长度不同的名单", ...).
std::string optionHeading(CheckOption addszf);

// Sorts `list` ascending by md and moves every repeated name after the first
// of its run into `duplicates` (dmd = name, dxh = the row's xh), keeping the
// run's first row. Empty names are never repeats. Returns the rows moved.
long removeDuplicates(grid::Grid& list, grid::Grid& duplicates);

// Whether the two files named `zml1` under the roots differ as `addszf` says:
// lengths and modification times (instants) as their status gives them (two
// missing files alike), or their bytes (a file that cannot be read counts as
// different). A Failure when the status of either cannot be read: the
// comparison cannot be made. Touches no grid, so workers may call it.
host::Result<bool> filesDiffer(const std::string& zml1, const CheckSettings& settings);

// Appends `zml1` to `dw_3` with dxh = its row number there when filesDiffer
// says so, or when it fails, which then goes to `progress` (failed): a pair
// nothing could be learnt of is never taken for the same. Returns whether it
// appended.
bool addhd(const std::string& zml1, const CheckSettings& settings, grid::Grid& dw_3,
           host::ProgressSink& progress);

// The whole check: duplicates out of both lists, every name of list 1 found
// in list 2 marked kSame in both (the first shown row of list 2 with that
// name), the option's comparison for each match (its failures to
// `progress`), and the dw_3 heading.
// `zfmdxg` becomes true once a check runs with an option and is never
// cleared here. `progress` hears one step per row of list 1. Every grid's
// redraw is on again at the end.
CheckSummary mdhd(CheckGrids grids, const CheckSettings& settings, bool& zfmdxg,
                  host::ProgressSink& progress);

// Shows only the rows whose jg is `shown` in both lists, list 1 first; "全部"
// (or an empty text) shows every row.
void showRows(grid::Grid& dw_1, grid::Grid& dw_2, std::string_view shown);

// True when a path field names a list file rather than a folder: its last four
// characters, lower-cased, are ".txt", ".xls", "xlsx" or ".csv" (the formats the
// list-file dialogs offer).
bool namesListFile(std::string_view field);

// Puts `lswjj` in front of md of every shown row.
void hywjj(grid::Grid& dw9, std::string_view lswjj);
// Selects every shown row that was not selected and deselects the others.
void invertSelection(grid::Grid& list);
// Deletes the selected shown rows; returns how many.
long removeSelected(grid::Grid& list);

}  // namespace kelvane
