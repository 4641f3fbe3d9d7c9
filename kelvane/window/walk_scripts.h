// The window's folder walks: `ue_dir` for the browse button, `ue_dir1` and
// `ue_dir2` (through `drwjj1`/`drwjj2`) for the simple check, and the buttons
// that choose folders: cb_3 (browse into the chosen list), cb_12 and cb_13
// (choose the folder of list 1 / list 2 for the simple check).
#pragma once

#include <string>

#include "grid/grid.h"
#include "host/progress.h"
#include "kelvane/inventory/folder_walk.h"

namespace kelvane {

class w_htmd;

// Walks `as_topdir` into `dw` with the window's `lx`, `szf`, `ctdwszf` and the
// time in em_1; names are relative to the chosen list's root (`ls_path1` while
// rb_1 is checked, else `ls_path2`).
void ue_dir(w_htmd& window, const std::string& as_topdir, grid::Grid& dw);
// Walks `as_topdir` into dw_1 (names relative to `ls_path1`) / dw_2 (relative
// to `ls_path2`) with `lx`, without condition or length and time columns.
// ue_dir1 leaves out the folder sle_2 names when it lies inside `as_topdir`.
void ue_dir1(w_htmd& window, const std::string& as_topdir);
void ue_dir2(w_htmd& window, const std::string& as_topdir);

// ue_dir1's and ue_dir2's walk made on the window's thread (its fields and the
// settings file read), for a caller that runs it beside other work.
struct ListWalk {
    grid::Grid& grid;
    std::string topFolder;
    std::string root;
    WalkOptions options;
    void run(host::ProgressSink& progress) const {
        walkFolder(grid, topFolder, root, options, progress);
    }
};
ListWalk walkOfList1(w_htmd& window, const std::string& as_topdir);
ListWalk walkOfList2(w_htmd& window, const std::string& as_topdir);
// The simple check's way in: the caller sets `ls_path1`/`ls_path2` and `lx`.
void drwjj1(w_htmd& window, const std::string& as_topdir);
void drwjj2(w_htmd& window, const std::string& as_topdir);

void cb_3_clicked(w_htmd& window);
void cb_12_clicked(w_htmd& window);
void cb_13_clicked(w_htmd& window);

}  // namespace kelvane
