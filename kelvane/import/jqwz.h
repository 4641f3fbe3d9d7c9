// Where a list's names are cut: the leading part cb_11 removes from every name,
// and the position of the separator that ends a full path's source folder
// (jqwz), which w_put previews and the copy uses. Positions count GBK bytes
// (a Chinese character counts 2), 1-based, as host/gbk_positions.h does.
#pragma once

#include <string>
#include <string_view>

#include "grid/grid.h"
#include "host/progress.h"

namespace kelvane {

// Position of the `iend`-th separator in `s1`; 0 when `s1` holds fewer or `iend`
// is below 1. Separators are matched on character boundaries only, so the
// second byte of a double-byte character is never taken for one.
long jqwz(std::string_view s1, long iend, std::string_view separator) noexcept;
// The same with the platform's separator ("/" on POSIX, "\" on Windows).
long jqwz(std::string_view s1, long iend) noexcept;

// The source folder that the `iend`-th separator ends: the part of `s1` before
// it; "" when jqwz finds none (or the separator is the first character).
std::string sourceFolderOf(std::string_view s1, long iend);

// The count w_put offers first: the one that yields the first folder. On POSIX
// the first "/" is the root and leaves an empty folder, so it is 2 there; on
// Windows 1 gives the drive ("C:").
int firstFolderCount() noexcept;

// cb_11's cut: every shown row's `md` becomes its part from GBK position
// `start` to the end. A start below 1 keeps the names whole (as 1 does); a
// start beyond a name's end leaves the empty name; a start inside a
// double-byte character drops that character rather than keeping half of it.
// Rows hidden by the filter and every other column stay as they were. Returns
// the number of rows cut.
long cutNames(grid::Grid& grid, long start, host::ProgressSink& progress);

}  // namespace kelvane
