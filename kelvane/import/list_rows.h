// The window-free part of filling a name list from a list file or pasted
// text: the import itself and the renumbering that follows it.
#pragma once

#include <string>
#include <string_view>

#include "grid/grid.h"
#include "host/progress.h"
#include "host/result.h"

namespace kelvane {

// A list file's name read as a text list: its last 3 characters, upper-cased,
// are "TXT". Anything else is handed to the spreadsheet reader.
bool isTextListName(std::string_view path) noexcept;

// `text` without leading and trailing space characters (tabs stay).
std::string trimSpaces(std::string_view text);

// Every shown row gets its row number in `xh` and "不同" in `jg`; with
// `trimNames` its `md` loses leading and trailing spaces too. Rows hidden by a
// filter are left alone.
void renumberShownRows(grid::Grid& grid, bool trimNames, host::ProgressSink& progress);

// Appends the rows of list file `path` to `grid` (a text list whole, or column
// `column` of a spreadsheet from row `firstRow`), then renumbers every shown
// row with names trimmed. Returns the number of rows added, or, with `grid`
// untouched, why the file cannot be read (the readers' ListFileError, whose
// path and reason the failure carries: this is where it stops).
host::Result<long> importListFile(grid::Grid& grid, const std::string& path, int firstRow,
                                  int column, host::ProgressSink& progress);

}  // namespace kelvane
