// Reading one column of a list file without any office program: .xls (BIFF8,
// read directly), .xlsx (libzip + expat, read as a stream), .csv and other
// text as a one-sheet spreadsheet. Qt-free; never touches the clipboard.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace kelvane {

// A list file that cannot be read: the file and the reason, for the message
// the user sees.
class ListFileError : public std::runtime_error {
  public:
    ListFileError(std::string path, std::string reason);
    const std::string& path() const noexcept { return path_; }
    const std::string& reason() const noexcept { return reason_; }

  private:
    std::string path_;
    std::string reason_;
};

// False in a build without the spreadsheet libraries; the reader then refuses
// every file.
bool spreadsheetReaderAvailable() noexcept;

// The cells of column `column` (1 = A) of the workbook's active sheet (the
// first sheet where the workbook names none), one per row from row 1 to the
// last row with a value in that column; empty cells are "". Numbers read as
// written (whole numbers without a point, others with up to 15 significant
// digits), date-formatted cells as "yyyy-mm-dd" or "yyyy-mm-dd hh:mm:ss",
// booleans as "TRUE"/"FALSE", errors as "#N/A" and the like; a formula cell
// gives its saved result. Other text is decoded by host::unknownTextToUtf8.
// Throws ListFileError when the file cannot be opened, is damaged, encrypted,
// not a spreadsheet, or holds a cell in the column that cannot be read.
std::vector<std::string> readSpreadsheetColumn(const std::string& path, int column);

// The same cells from row `firstRow` on as the lines Grid::importtext takes:
// one line per row, tabs and line breaks inside a cell turned into blanks so a
// cell stays one name. Throws ListFileError.
std::string spreadsheetColumnLines(const std::string& path, int column, int firstRow);

}  // namespace kelvane
