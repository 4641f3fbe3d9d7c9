#include "kelvane/import/spreadsheet_reader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "host/encoding.h"
#include "host/fs.h"
#include "kelvane/import/spreadsheet_internal.h"

namespace kelvane {

ListFileError::ListFileError(std::string path, std::string reason)
    : std::runtime_error(path + ": " + reason),
      path_(std::move(path)),
      reason_(std::move(reason)) {}

bool spreadsheetReaderAvailable() noexcept {
#ifdef KELVANE_WITH_SPREADSHEETS
    return true;
#else
    return false;
#endif
}

namespace sheet {

namespace {

// Howard Hinnant's days-to-civil conversion; day 0 is 1970-01-01.
void civilFromDays(long long days, long long& year, unsigned& month, unsigned& day) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<long long>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

// Days from 1970-01-01 to the start of each serial system.
constexpr long long kDay0Of1900System = -25569;  // 1899-12-30
constexpr long long kDay0Of1904System = -24107;  // 1904-01-01

}  // namespace

std::string numberText(double value) {
    if (!std::isfinite(value)) return "#NUM!";
    char buffer[64];
    // Whole numbers a double holds exactly keep every digit (card and ID
    // numbers). Others get the 15 significant digits a spreadsheet shows,
    // written out rather than with an exponent while that stays short.
    if (value == std::floor(value) && std::fabs(value) <= 9007199254740992.0) {
        std::snprintf(buffer, sizeof buffer, "%.0f", value == 0 ? 0.0 : value);
        return buffer;
    }
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    const double magnitude = std::fabs(value);
    if (std::strchr(buffer, 'e') && magnitude >= 1e-9 && magnitude < 1e15) {
        const int before = static_cast<int>(std::floor(std::log10(magnitude))) + 1;
        std::snprintf(buffer, sizeof buffer, "%.*f", std::max(0, 15 - before), value);
        std::string text = buffer;
        if (text.find('.') != std::string::npos) {
            text.erase(text.find_last_not_of('0') + 1);
            if (text.back() == '.') text.pop_back();
        }
        return text;
    }
    return buffer;
}

DateKind builtInFormatKind(int id) noexcept {
    // 27-36 and 50-58 are the East Asian built-in dates and times.
    static constexpr int kDates[] = {14, 15, 16, 17, 27, 28, 29, 30, 31, 36, 50, 51, 54, 57, 58};
    static constexpr int kTimes[] = {18, 19, 20, 21, 32, 33, 34, 35, 45, 47, 52, 53, 55, 56};
    if (id == 22) return DateKind::DateTime;
    if (id == 46) return DateKind::Elapsed;  // [h]:mm:ss
    if (std::find(std::begin(kDates), std::end(kDates), id) != std::end(kDates))
        return DateKind::Date;
    if (std::find(std::begin(kTimes), std::end(kTimes), id) != std::end(kTimes))
        return DateKind::Time;
    return DateKind::None;
}

DateKind formatCodeKind(std::string_view code) noexcept {
    bool year = false, month = false, day = false, hour = false, second = false, elapsed = false;
    auto startsWith = [&](std::size_t at, std::string_view word) {
        if (code.size() - at < word.size()) return false;
        for (std::size_t k = 0; k < word.size(); ++k) {
            char c = code[at + k];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != word[k]) return false;
        }
        return true;
    };
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (c == ';') break;  // later sections are for negatives, zero and text
        if (c == '"') {
            std::size_t close = code.find('"', i + 1);
            if (close == std::string_view::npos) break;
            i = close;
        } else if (c == '\\' || c == '_' || c == '*') {
            ++i;
        } else if (c == '[') {
            std::size_t close = code.find(']', i + 1);
            if (close == std::string_view::npos) break;
            // [h], [mm], [ss] are elapsed times; anything else is a colour,
            // condition or locale.
            std::string_view inner = code.substr(i + 1, close - i - 1);
            if (!inner.empty() && inner.find_first_not_of("hHmMsS") == std::string_view::npos)
                hour = elapsed = true;
            i = close;
        } else if (startsWith(i, "general")) {
            i += 6;
        } else if (startsWith(i, "am/pm")) {
            i += 4;
        } else if (startsWith(i, "a/p")) {
            i += 2;
        } else {
            const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            year = year || lower == 'y';
            month = month || lower == 'm';
            day = day || lower == 'd';
            hour = hour || lower == 'h';
            second = second || lower == 's';
        }
    }
    // "m" next to hours or seconds means minutes.
    const bool time = hour || second;
    if (year || day || (month && !time)) return time ? DateKind::DateTime : DateKind::Date;
    if (time) return elapsed ? DateKind::Elapsed : DateKind::Time;
    return DateKind::None;
}

std::string cellName(int column, long row) {
    std::string name;
    for (int c = column; c > 0; c = (c - 1) / 26)
        name.insert(name.begin(), static_cast<char>('A' + (c - 1) % 26));
    return name + std::to_string(row);
}

std::string serialDateText(double serial, bool date1904, DateKind kind) {
    if (kind == DateKind::None || !(serial >= 0) || serial > 2958466.0) return numberText(serial);
    const long long total = std::llround(serial * 86400.0);
    long long days = total / 86400;
    const long long seconds = total % 86400;
    char buffer[64];
    if (kind == DateKind::Time || kind == DateKind::Elapsed) {
        const long long hours = kind == DateKind::Time ? seconds / 3600 : total / 3600;
        std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld", hours, total / 60 % 60,
                      total % 60);
        return buffer;
    }
    if (date1904) {
        days += kDay0Of1904System;
    } else {
        // The 1900 system counts a 29 February 1900 that never was: serials
        // before it are one day later than the plain count from 1899-12-30.
        if (days < 60) ++days;
        days += kDay0Of1900System;
    }
    long long year = 0;
    unsigned month = 0, day = 0;
    civilFromDays(days, year, month, day);
    if (kind == DateKind::Date) {
        std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u", year, month, day);
    } else {
        std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u %02lld:%02lld:%02lld", year, month,
                      day, seconds / 3600, seconds / 60 % 60, seconds % 60);
    }
    return buffer;
}

namespace {

// A field a spreadsheet would read as a formula or a number, written as a
// formula that gives its text (="000123"): such a field is read back as the
// text inside.
std::optional<std::string> textOfTextFormula(std::string_view field) {
    if (field.size() < 3 || !field.starts_with("=\"") || !field.ends_with('"')) return std::nullopt;
    std::string text;
    const std::string_view inside = field.substr(2, field.size() - 3);
    for (std::size_t i = 0; i < inside.size(); ++i) {
        if (inside[i] == '"') {
            if (i + 1 == inside.size() || inside[i + 1] != '"') return std::nullopt;
            ++i;
        }
        text += inside[i];
    }
    return text;
}

}  // namespace

std::vector<std::string> readDelimitedColumn(std::string_view text, char delimiter, int column) {
    std::vector<std::string> cells;
    std::size_t lastWithValue = 0;
    const std::size_t n = text.size();
    std::size_t i = 0;
    std::size_t line = 1;  // of the record being read
    while (i < n) {
        std::string wanted;
        int current = 1;
        while (true) {
            std::string field;
            const bool keep = current == column;
            if (i < n && text[i] == '"') {
                const std::size_t opened = line;
                ++i;
                bool closed = false;
                while (i < n) {
                    if (text[i] == '"') {
                        if (i + 1 < n && text[i + 1] == '"') {
                            if (keep) field += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        closed = true;
                        break;
                    }
                    if (text[i] == '\n') ++line;
                    if (keep) field += text[i];
                    ++i;
                }
                // The rest of the file would become one name.
                if (!closed)
                    throw ListFileError(
                        {}, "第" + std::to_string(opened) + "行的引号没有结束，文件不完整或已损坏");
            }
            // Unquoted text, or whatever follows a closing quote, up to the
            // delimiter or the line end.
            std::size_t end = i;
            while (end < n && text[end] != delimiter && text[end] != '\n' && text[end] != '\r')
                ++end;
            if (keep) {
                field.append(text.substr(i, end - i));
                if (delimiter == ',') {
                    if (std::optional<std::string> inner = textOfTextFormula(field))
                        field = std::move(*inner);
                }
                wanted = std::move(field);
            }
            i = end;
            if (i < n && text[i] == delimiter) {
                ++i;
                ++current;
                continue;
            }
            if (i < n && text[i] == '\r') ++i;
            if (i < n && text[i] == '\n') ++i;
            ++line;
            break;
        }
        cells.push_back(std::move(wanted));
        if (!cells.back().empty()) lastWithValue = cells.size();
    }
    cells.resize(lastWithValue);
    return cells;
}

std::string_view PackedColumn::operator[](std::size_t index) const noexcept {
    const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(text_).substr(begin, ends_[index] - begin);
}

void PackedColumn::push_back(std::string_view cell) {
    text_.append(cell);
    ends_.push_back(text_.size());
}

void PackedColumn::reserve(std::size_t cells, std::size_t bytes) {
    ends_.reserve(cells);
    text_.reserve(bytes);
}

std::string readWholeFile(const std::string& path) {
    host::Result<std::string> bytes = host::readFile(path);
    if (!bytes) throw ListFileError(path, "无法读取文件：" + bytes.error().reasonText());
    return std::move(*bytes);
}

}  // namespace sheet

namespace {

std::string lowerExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

bool isWorkbookExtension(const std::string& extension) {
    static const char* const kWorkbook[] = {"xls", "xlsx", "xlsm", "xlt", "xltx", "xltm", "xlsb"};
    return std::find(std::begin(kWorkbook), std::end(kWorkbook), extension) != std::end(kWorkbook);
}

// A single-line text for the grid: a tab would start another column and a
// line break another row. A line break is one blank, whichever writer made it
// (CR LF, LF or CR).
void appendAsLine(std::string& lines, std::string_view cell) {
    for (std::size_t i = 0; i < cell.size(); ++i) {
        const char c = cell[i];
        if (c == '\r' && i + 1 < cell.size() && cell[i + 1] == '\n') continue;
        lines += (c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
    }
    lines += '\n';
}

}  // namespace

namespace {

sheet::PackedColumn packed(const std::vector<std::string>& cells) {
    sheet::PackedColumn column;
    std::size_t bytes = 0;
    for (const std::string& cell : cells) bytes += cell.size();
    column.reserve(cells.size(), bytes);
    for (const std::string& cell : cells) column.push_back(cell);
    return column;
}

// Why bytes named as a workbook are none. Web systems often export an HTML
// table or an XML spreadsheet under the name .xls: say which.
std::string notAWorkbook(std::string_view bytes) {
    if (bytes.empty()) return "文件是空的，不是Excel工作簿";
    std::string head(bytes.substr(0, 4096));
    for (char& c : head)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const char* kind = nullptr;
    if (head.find("urn:schemas-microsoft-com:office:spreadsheet") != std::string::npos)
        kind = "XML表格（XML Spreadsheet 2003）";
    else if (head.find("<html") != std::string::npos || head.find("<table") != std::string::npos)
        kind = "网页（HTML表格）";
    if (!kind) return "文件已损坏或不是Excel工作簿";
    return std::string("文件是") + kind +
           "，不是Excel工作簿，请在电子表格程序中打开并另存为.xlsx后再导入";
}

sheet::PackedColumn readColumn(const std::string& path, int column) {
    if (!spreadsheetReaderAvailable()) throw ListFileError(path, "本程序未包含电子表格读取功能");
    if (column < 1 || column > 16384) throw ListFileError(path, "列号超出范围");
    // The content decides the format; the extension only says whether plain
    // text is acceptable.
    std::string bytes = sheet::readWholeFile(path);
#ifdef KELVANE_WITH_SPREADSHEETS
    const std::string_view head = std::string_view(bytes).substr(0, 8);
    if (head == std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
        return packed(sheet::readXlsColumn(path, column));
    if (head.substr(0, 4) == "PK\x03\x04" || head.substr(0, 4) == "PK\x05\x06")
        return sheet::readXlsxColumn(path, bytes, column);
#endif
    const std::string extension = lowerExtension(path);
    if (isWorkbookExtension(extension)) throw ListFileError(path, notAWorkbook(bytes));
    const std::optional<std::string> text = host::listFileText(std::move(bytes));
    if (!text) throw ListFileError(path, sheet::kNotText);
    try {
        return packed(sheet::readDelimitedColumn(*text, extension == "csv" ? ',' : '\t', column));
    } catch (const ListFileError& error) {
        throw ListFileError(path, error.reason());
    }
}

}  // namespace

std::vector<std::string> readSpreadsheetColumn(const std::string& path, int column) {
    const sheet::PackedColumn cells = readColumn(path, column);
    std::vector<std::string> out;
    out.reserve(cells.size());
    for (std::size_t row = 0; row < cells.size(); ++row) out.emplace_back(cells[row]);
    return out;
}

std::string spreadsheetColumnLines(const std::string& path, int column, int firstRow) {
    const sheet::PackedColumn cells = readColumn(path, column);
    const std::size_t first = static_cast<std::size_t>(std::max(firstRow, 1)) - 1;
    std::string lines;
    lines.reserve(cells.textSize() + cells.size());
    for (std::size_t row = first; row < cells.size(); ++row) appendAsLine(lines, cells[row]);
    return lines;
}

}  // namespace kelvane
