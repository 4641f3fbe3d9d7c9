// Pieces shared by the spreadsheet readers (and tested on their own).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvane::sheet {

// The cells of one column, row 1 first, packed into one buffer: a million rows
// cost their text and 8 bytes each, not a string object each.
class PackedColumn {
  public:
    std::size_t size() const noexcept { return ends_.size(); }
    std::size_t textSize() const noexcept { return text_.size(); }
    std::string_view operator[](std::size_t index) const noexcept;
    void push_back(std::string_view cell);
    void reserve(std::size_t cells, std::size_t bytes);

  private:
    std::string text_;
    std::vector<std::size_t> ends_;
};

// A cell number as a spreadsheet shows it in the General format: whole numbers
// below 1e15 without a point, others with up to 15 significant digits.
std::string numberText(double value);

// Time: a time of day; Elapsed: a duration ([h]:mm:ss), whose hours go past 24.
enum class DateKind { None, Date, DateTime, Time, Elapsed };
// What a built-in number format id shows (14-22, 27-36, 45-47, 50-58 ...).
DateKind builtInFormatKind(int id) noexcept;
// What a custom format code shows: y/m/d a date, h/s a time of day, both a
// date with its time; quoted text, escaped characters and [colour]/[locale]
// brackets do not count.
DateKind formatCodeKind(std::string_view code) noexcept;
// A serial day number as the format shows it: "yyyy-mm-dd" (Date),
// "yyyy-mm-dd hh:mm:ss" (DateTime), "hh:mm:ss" (Time: the time of day, as a
// spreadsheet shows a date-time in a time format; Elapsed: hours beyond 24 kept),
// rounded to the second.
// The 1900 system keeps the old leap-year quirk (serial 60 is 1900-02-29 there,
// shown here as 1900-02-28). Falls back to numberText for negative serials.
std::string serialDateText(double serial, bool date1904, DateKind kind);
// A cell's name as the user finds it: column letters, then the row ("A7");
// `column` and `row` from 1.
std::string cellName(int column, long row);

// Column `column` (1-based) of delimited text (RFC 4180 quoting), one entry per
// record up to the last record with a value in that column. With ",", a
// field ="..." is the text inside (as the .csv export writes a name a
// spreadsheet would read as a formula or a number). Throws ListFileError
// (without a path) for a quote that never closes.
std::vector<std::string> readDelimitedColumn(std::string_view text, char delimiter, int column);

// Why a file holding a NUL character is refused as a list.
inline constexpr const char* kNotText = "不是电子表格或文本文件";

// The whole file; throws ListFileError with the system's reason.
std::string readWholeFile(const std::string& path);

std::vector<std::string> readXlsColumn(const std::string& path, int column);
// `bytes` is the whole .xlsx file; `path` names it in errors. Besides damage it
// refuses a column of more than 256 MB of text.
PackedColumn readXlsxColumn(const std::string& path, std::string_view bytes, int column);

}  // namespace kelvane::sheet
