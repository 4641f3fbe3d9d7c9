// Filling a name list from a list file: a text file through the grid's own
// text import, anything else through the spreadsheet reader. Used by the
// import buttons and by the check's start button.
#pragma once

#include <string>

#include "grid/grid.h"

namespace kelvane {

class w_htmd;

// Imports `str_savename` into `dw9` after the rows already there, then
// normalises every shown row (name trimmed of spaces, `xh` = row number, `jg` =
// "不同"). A name whose last 3 characters read "TXT" in any case is a text
// list; anything else is read as a spreadsheet: column `em_3` from row `em_2`.
// Returns 1 after an import; -1 when the spreadsheet reader is not part of
// this build or the file cannot be read or parsed: a message box has then said
// so and `dw9` is untouched. Does not throw for file problems.
int drwj(w_htmd& window, const std::string& str_savename, grid::Grid& dw9);

}  // namespace kelvane
