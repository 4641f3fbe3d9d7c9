#include "kelvane/import/list_rows.h"

#include "grid/redraw_pause.h"
#include "host/encoding.h"
#include "kelvane/import/spreadsheet_internal.h"
#include "kelvane/import/spreadsheet_reader.h"

namespace kelvane {

bool isTextListName(std::string_view path) noexcept {
    if (path.size() < 3) return false;
    std::string_view tail = path.substr(path.size() - 3);
    for (std::size_t i = 0; i < 3; ++i) {
        const char c = tail[i];
        const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        if (upper != "TXT"[i]) return false;
    }
    return true;
}

std::string trimSpaces(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return "";
    const std::size_t last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

void renumberShownRows(grid::Grid& grid, bool trimNames, host::ProgressSink& progress) {
    const grid::RedrawPause redraw(grid);
    for (long row = 1; row <= grid.rowcount(); ++row) {
        if (trimNames) {
            const std::string name = grid.getitemstring(row, "md");
            if (!name.empty() && (name.front() == ' ' || name.back() == ' '))
                grid.setitem(row, "md", trimSpaces(name));
        }
        grid.setitem(row, "xh", static_cast<double>(row));
        grid.setitem(row, "jg", "不同");
        if ((row & 0x3FF) == 0) progress.step(row, {});
    }
}

host::Result<long> importListFile(grid::Grid& grid, const std::string& path, int firstRow,
                                  int column, host::ProgressSink& progress) {
    long added = 0;
    try {
        if (isTextListName(path)) {
            added = grid.importfile(path);
            if (added < 0) {
                // The grid says only that it could not; the file says why.
                if (!host::listFileText(sheet::readWholeFile(path)))
                    throw ListFileError(path, sheet::kNotText);
                throw ListFileError(path, "无法读取文件");
            }
        } else {
            // Read whole before the grid changes, so a failure leaves it as it was.
            const std::string lines = spreadsheetColumnLines(path, column, firstRow);
            const grid::RedrawPause redraw(grid);
            added = grid.importtext(lines);
        }
    } catch (const ListFileError& error) {
        return host::Failure{"cannot import", error.path(), 0, error.reason()};
    }
    renumberShownRows(grid, true, progress);
    return added;
}

}  // namespace kelvane
