// The grid's save-as: every format is written to a temporary file in the
// target's folder and renamed over the target, so a failed save never leaves a
// half-written file behind.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "base/temporary_names.h"
#include "base/text.h"
#include "grid/grid.h"
#include "host/encoding.h"
#include "host/fs.h"
#include "host/fs_path.h"
#include "host/paths.h"

#ifdef ZARVIK_WITH_XLSX
#include <xlsxwriter.h>
#endif

namespace grid {

namespace {

constexpr const char* kSaveFailed = "文件保存失败：";

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

// The format a typed name asks for; the filter's when its ending names none.
host::SaveFormat formatOfName(std::string_view path, host::SaveFormat filterFormat) {
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos) return filterFormat;
    std::string ending(path.substr(dot + 1));
    for (char& c : ending)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (ending == "txt") return host::SaveFormat::Text;
    if (ending == "csv") return host::SaveFormat::Csv;
    if (ending == "xlsx") return host::SaveFormat::Xlsx;
    return filterFormat;
}

// Whether a spreadsheet opening the file would take `text` for a formula
// (=, +, -, @, or a tab or CR before one) or a number or date ("000123",
// "1e5", "2024-01-02"), and so show something else.
bool readAsOtherThanText(std::string_view text) {
    if (text.empty()) return false;
    if (std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) return true;
    return text.front() >= '0' && text.front() <= '9' &&
           text.find_first_not_of("0123456789.,-/: eE+") == std::string_view::npos;
}

std::string csvQuoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

// `asText`: a text column's cell, to be shown as the text it is.
std::string csvField(const std::string& text, bool asText = true) {
    if (asText && readAsOtherThanText(text)) {
        // A formula that gives the text itself (="…", its quotes doubled):
        // shown as the name, run as nothing, read back by the import as the name.
        return csvQuoted("=" + csvQuoted(text));
    }
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    return csvQuoted(text);
}

std::string csvText(const Grid& grid) {
    std::string text = "\xEF\xBB\xBF";
    int columns = grid.columnCount();
    for (int c = 0; c < columns; ++c) {
        if (c > 0) text += ',';
        text += csvField(grid.headerText(c));
    }
    text += "\r\n";
    for (long row = 1; row <= grid.rowcount(); ++row) {
        for (int c = 0; c < columns; ++c) {
            if (c > 0) text += ',';
            text += csvField(
                grid.cellText(row, c),
                grid.definition().columns[static_cast<std::size_t>(c)].type == ColumnType::Text);
        }
        text += "\r\n";
    }
    return text;
}

#ifdef ZARVIK_WITH_XLSX
// A sheet has 1,048,576 rows and the heading takes the first.
constexpr long kSheetRowsForNames = 1048575;
// Longest text a cell holds, in UTF-16 units as the spreadsheet counts.
constexpr std::size_t kLongestCellText = 32767;
constexpr const char* kTooManyRows =
    "名单超过Excel工作表的行数上限(1048575行)，请另存为txt或csv文件";
constexpr const char* kTextTooLong =
    "名称超过Excel单元格的长度上限(32767个字符)，请另存为txt或csv文件";

std::size_t utf16Length(std::string_view utf8) {
    std::size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80) ++units;  // one per character
        if (c >= 0xF0) ++units;           // and a second for a surrogate pair
    }
    return units;
}

// A cell's text as the sheet stores it. The format requires UTF-8: bytes that
// are not stay visible as U+FFFD. Readers turn "_xHHHH_" into the character
// HHHH, so the underscore that begins such a run is itself written as
// "_x005F_" and the name reads back as it was.
std::string sheetText(const std::string& text) {
    std::string shown = base::isValidUtf8(text) ? text : base::displayText(text);
    if (shown.find("_x") == std::string::npos) return shown;
    auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    std::string escaped;
    escaped.reserve(shown.size() + 12);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == '_' && i + 6 < shown.size() && shown[i + 1] == 'x' && shown[i + 6] == '_' &&
            isHex(shown[i + 2]) && isHex(shown[i + 3]) && isHex(shown[i + 4]) &&
            isHex(shown[i + 5]))
            escaped += "_x005F";
        escaped += shown[i];
    }
    return escaped;
}

// A scratch name beside the target for the library's own file, one of the
// program's temporary names, so walks leave it out; it is removed on every
// way out.
std::string workbookScratchPath(const std::string& path) {
    const std::string_view parent = host::parentPath(path);
    return host::joinPath(
        parent.empty() ? "." : parent,
        base::temporary_names::make(base::temporary_names::stemOf(host::baseName(path))));
}

void removeScratch(const std::string& scratch) {
    std::error_code ignored;
    std::filesystem::remove(host::fsPath(scratch), ignored);
}

// The workbook is written by the library to a scratch file, then its bytes go
// to the target like every other format: atomically, through the host's file
// calls, so names and the replace rules are those of the platform.
bool saveXlsx(const Grid& grid, const std::string& path, std::string* error) {
    if (grid.rowcount() > kSheetRowsForNames) {
        setError(error, kTooManyRows);
        return false;
    }
    const auto& columns = grid.definition().columns;
    const int columnCount = grid.columnCount();
    // Every text is checked before the first byte is written.
    for (int c = 0; c < columnCount; ++c) {
        if (columns[c].type == ColumnType::Number) continue;
        for (long row = 0; row <= grid.rowcount(); ++row) {
            const std::string text = row == 0 ? grid.headerText(c) : grid.cellText(row, c);
            if (utf16Length(base::isValidUtf8(text) ? text : base::displayText(text)) >
                kLongestCellText) {
                setError(error, kTextTooLong);
                return false;
            }
        }
    }

    const std::string temporary = workbookScratchPath(path);
    lxw_workbook* workbook = workbook_new(temporary.c_str());
    lxw_worksheet* sheet = workbook ? workbook_add_worksheet(workbook, nullptr) : nullptr;
    lxw_error result = sheet ? LXW_NO_ERROR : LXW_ERROR_MEMORY_MALLOC_FAILED;
    for (int c = 0; c < columnCount && result == LXW_NO_ERROR; ++c) {
        result = worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(c),
                                        sheetText(grid.headerText(c)).c_str(), nullptr);
    }
    for (long row = 1; row <= grid.rowcount() && result == LXW_NO_ERROR; ++row) {
        const auto sheetRow = static_cast<lxw_row_t>(row);
        for (int c = 0; c < columnCount && result == LXW_NO_ERROR; ++c) {
            const std::string text = grid.cellText(row, c);
            if (text.empty()) continue;
            const auto sheetColumn = static_cast<lxw_col_t>(c);
            result = columns[c].type == ColumnType::Number
                         ? worksheet_write_number(sheet, sheetRow, sheetColumn,
                                                  grid.getitemnumber(row, columns[c].name), nullptr)
                         : worksheet_write_string(sheet, sheetRow, sheetColumn,
                                                  sheetText(text).c_str(), nullptr);
        }
    }
    // Closing writes the file; it also frees a workbook whose writing failed.
    const lxw_error closed = workbook ? workbook_close(workbook) : LXW_ERROR_CREATING_XLSX_FILE;
    if (result == LXW_NO_ERROR) result = closed;
    if (result != LXW_NO_ERROR) {
        removeScratch(temporary);
        setError(error, kSaveFailed + path + "\n" + lxw_strerror(result));
        return false;
    }
    const host::Result<std::string> bytes = host::readFile(temporary);
    removeScratch(temporary);
    if (!bytes) {
        setError(error, kSaveFailed + path + "\n" + bytes.error().reasonText());
        return false;
    }
    if (const host::Status written = host::writeFileAtomically(path, *bytes); !written) {
        setError(error, kSaveFailed + path + "\n" + written.error().message());
        return false;
    }
    return true;
}
#endif

}  // namespace

bool Grid::saveas(const std::string& path, host::SaveFormat format, std::string* error) const {
    std::string bytes;
    switch (format) {
        case host::SaveFormat::Text:
            bytes = host::utf8ToGbk(datatext());
            break;
        case host::SaveFormat::Csv:
            bytes = csvText(*this);
            break;
        case host::SaveFormat::Xlsx:
#ifdef ZARVIK_WITH_XLSX
            return saveXlsx(*this, path, error);
#else
            setError(error, std::string(kSaveFailed) + path + "\n不支持 xlsx 格式");
            return false;
#endif
    }
    if (const host::Status written = host::writeFileAtomically(path, bytes); !written) {
        setError(error, kSaveFailed + path + "\n" + written.error().message());
        return false;
    }
    return true;
}

int Grid::saveas(host::Host& host) const {
    host::SaveDialogResult answer = host.fileSaveDialog("另存为");
    if (answer.code != 1) return 0;
    std::string error;
    if (saveas(answer.path, formatOfName(answer.path, answer.format), &error)) return 1;
    host.messageBox("提示", error);
    return -1;
}

}  // namespace grid
