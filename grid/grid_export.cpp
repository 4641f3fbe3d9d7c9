// The grid's save-as: every format is written to a temporary file in the
// target's folder and renamed over the target, so a failed save never leaves a
// half-written file behind.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "grid/grid.h"
#include "host/fs.h"
#include "host/fs_path.h"
#include "host/paths.h"
#include "host/temporary_names.h"
#include "host/text.h"

#ifdef ZARVIK_WITH_XLSX
#include <xlsxwriter.h>
#endif

namespace host {

namespace {

constexpr const char* kSaveFailed = "文件保存失败：";

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

// The format a typed name asks for; the filter's when its ending names none.
SaveFormat formatOfName(std::string_view path, SaveFormat filterFormat) {
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos) return filterFormat;
    std::string ending(path.substr(dot + 1));
    for (char& c : ending)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (ending == "txt") return SaveFormat::Text;
    if (ending == "csv") return SaveFormat::Csv;
    if (ending == "xlsx") return SaveFormat::Xlsx;
    return filterFormat;
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
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
            text += csvField(grid.cellText(row, c));
        }
        text += "\r\n";
    }
    return text;
}

#ifdef ZARVIK_WITH_XLSX
// A scratch name beside the target for the library's own file, one of the
// program's temporary names, so walks leave it out; it is removed on every
// way out.
std::string workbookScratchPath(const std::string& path) {
    const std::string_view parent = parentPath(path);
    return joinPath(parent.empty() ? "." : parent,
                    temporary_names::make(temporary_names::stemOf(baseName(path))));
}

void removeScratch(const std::string& scratch) {
    std::error_code ignored;
    std::filesystem::remove(fsPath(scratch), ignored);
}

// The workbook is written by the library to a scratch file, then its bytes go
// to the target like every other format: atomically, through the host's file
// calls, so names and the replace rules are those of the platform.
bool saveXlsx(const Grid& grid, const std::string& path, std::string* error) {
    const std::string temporary = workbookScratchPath(path);
    lxw_workbook* workbook = workbook_new(temporary.c_str());
    lxw_worksheet* sheet = workbook ? workbook_add_worksheet(workbook, nullptr) : nullptr;
    if (!sheet) {
        if (workbook) workbook_close(workbook);
        removeScratch(temporary);
        setError(error, kSaveFailed + path);
        return false;
    }
    const auto& columns = grid.definition().columns;
    for (int c = 0; c < grid.columnCount(); ++c) {
        worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(c), grid.headerText(c).c_str(),
                               nullptr);
    }
    for (long row = 1; row <= grid.rowcount(); ++row) {
        auto sheetRow = static_cast<lxw_row_t>(row);
        for (int c = 0; c < grid.columnCount(); ++c) {
            std::string text = grid.cellText(row, c);
            if (text.empty()) continue;
            auto sheetColumn = static_cast<lxw_col_t>(c);
            if (columns[c].type == ColumnType::Number) {
                worksheet_write_number(sheet, sheetRow, sheetColumn,
                                       grid.getitemnumber(row, columns[c].name), nullptr);
            } else {
                // The sheet format requires UTF-8; bytes that are not stay visible as U+FFFD.
                const std::string& shown = isValidUtf8(text) ? text : displayText(text);
                worksheet_write_string(sheet, sheetRow, sheetColumn, shown.c_str(), nullptr);
            }
        }
    }
    lxw_error result = workbook_close(workbook);
    if (result != LXW_NO_ERROR) {
        removeScratch(temporary);
        setError(error, kSaveFailed + path + "\n" + lxw_strerror(result));
        return false;
    }
    std::string reason;
    const std::optional<std::string> bytes = readFile(temporary, &reason);
    removeScratch(temporary);
    if (!bytes || !writeFileAtomically(path, *bytes, &reason)) {
        setError(error, kSaveFailed + path + "\n" + reason);
        return false;
    }
    return true;
}
#endif

}  // namespace

bool Grid::saveas(const std::string& path, SaveFormat format, std::string* error) const {
    std::string bytes;
    switch (format) {
        case SaveFormat::Text:
            bytes = utf8ToGbk(datatext());
            break;
        case SaveFormat::Csv:
            bytes = csvText(*this);
            break;
        case SaveFormat::Xlsx:
#ifdef ZARVIK_WITH_XLSX
            return saveXlsx(*this, path, error);
#else
            setError(error, std::string(kSaveFailed) + path + "\n不支持 xlsx 格式");
            return false;
#endif
    }
    std::string reason;
    if (!writeFileAtomically(path, bytes, &reason)) {
        setError(error, kSaveFailed + path + "\n" + reason);
        return false;
    }
    return true;
}

int Grid::saveas(Host& host) const {
    SaveDialogResult answer = host.fileSaveDialog("另存为");
    if (answer.code != 1) return 0;
    std::string error;
    if (saveas(answer.path, formatOfName(answer.path, answer.format), &error)) return 1;
    host.messageBox("提示", error);
    return -1;
}

}  // namespace host
