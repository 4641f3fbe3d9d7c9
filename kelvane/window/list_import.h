// Filling a name list from a list file: a text file through the grid's own
// text import, anything else through the spreadsheet reader. Used by the
// import buttons and by the check's start button.
#pragma once

#include <string>

#include "grid/grid.h"
#include "host/progress.h"

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

// drwj in its three steps, for a caller that runs the import beside other
// work: made on the window's thread (the spin boxes read), run on any thread,
// then reported on the window's thread (the message boxes).
class ListFileImport {
  public:
    ListFileImport(w_htmd& window, std::string path, grid::Grid& grid);
    // Nothing when the import was refused as it was made.
    void run(host::ProgressSink& progress);
    bool refused() const noexcept { return !refusal_.empty(); }
    // The refusal or the failure in a message box: -1; else 1.
    int report();

  private:
    w_htmd& window_;
    std::string path_;
    grid::Grid& grid_;
    int firstRow_ = 0;
    int column_ = 0;
    std::string refusal_;
    std::string failure_;
};

}  // namespace kelvane
