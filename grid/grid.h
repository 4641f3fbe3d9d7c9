// The grid's data: columns, shown rows, rows hidden by a filter, selection,
// sort, filter, an indexed find, header texts and import/export. Plain C++;
// the Qt table model (grid/qt/grid_model.h) is only an adapter over it.
//
// Row numbers are 1-based positions among the shown rows in their current
// order, valid until rows are inserted, deleted, sorted or filtered.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/host.h"

namespace grid {

enum class ColumnType { Text, Number };

struct ColumnDefinition {
    std::string name;  // "md"
    ColumnType type = ColumnType::Text;
    int declaredLength = 0;    // declared text length (informational; values are kept whole)
    std::string headerObject;  // "md_t"
    std::string headerText;    // "源文件夹文件名单(或名单1)"
    int width = 100;           // display width in pixels at 1024x768
};

struct GridDefinition {
    std::string name;  // "htmd1"
    std::vector<ColumnDefinition> columns;
    // Computed field under the rows: "" (none), or an expression such as
    // "'总数:'+count(dmd for all)" or "count(dmd for all)".
    std::string footerExpression;
    // Row background expression, e.g.
    // "if(getrow()=currentrow(),rgb(174,241,242),rgb(255,255,255))".
    std::string rowColourExpression;
};

// Parses a grid definition file's text; throws std::runtime_error on a malformed one.
GridDefinition parseGridDefinition(std::string_view text);
// Reads resources/<name>.grid from the program's resource folder; throws
// std::runtime_error (with the path) when it cannot.
GridDefinition loadGridDefinition(const std::string& name);

// A cell's text as it stands in a tab-separated line. On POSIX a file name may
// hold a tab or a line break, which would split the line into more columns or
// rows and mix the name up with its neighbours; each is written as its
// control picture instead (U+2409, U+240A, U+240D: visible, and no name of a
// neighbouring cell can be taken for it). The grid itself keeps the bytes.
std::string tabSeparatedCell(std::string_view cell);

// A text cell as two pieces whose concatenation is its text. Names of files
// keep their folder part once per column (`head`, shared by every row of that
// folder) and the rest beside the row (`tail`); other texts have an empty head.
// The views are valid until the grid next changes, and for as long as the
// TextBuffer the grid was given lives.
struct TextPieces {
    std::string_view head;
    std::string_view tail;

    std::size_t size() const noexcept { return head.size() + tail.size(); }
    bool empty() const noexcept { return head.empty() && tail.empty(); }
    std::string text() const;
    void appendTo(std::string& out) const;
};
// Byte order, as std::string_view compares: negative, zero or positive.
int compareTexts(const TextPieces& a, const TextPieces& b) noexcept;
bool operator==(const TextPieces& a, const TextPieces& b) noexcept;
bool operator==(const TextPieces& a, std::string_view b) noexcept;

// Room for the text of a cell the grid keeps encoded (a short text, a time, a
// length): TextPieces of such a cell point into it.
struct TextBuffer {
    char bytes[24];
};

// Observer of a grid's changes, for the view adapter.
class GridObserver {
  public:
    virtual ~GridObserver() = default;
    virtual void rowsReset() = 0;                          // anything may have changed
    virtual void rowsInserted(long first, long last) = 0;  // 1-based shown rows
    virtual void rowsRemoved(long first, long last) = 0;
    virtual void rowChanged(long row) = 0;
    virtual void headerChanged() = 0;
    // Announced just before the change, so an adapter can keep its own count
    // consistent (Qt models must be told before rows appear or vanish).
    virtual void rowsAboutToBeReset() {}
    virtual void rowsAboutToBeInserted(long /*first*/, long /*last*/) {}
    virtual void rowsAboutToBeRemoved(long /*first*/, long /*last*/) {}
};

class Grid {
  public:
    explicit Grid(GridDefinition definition);
    ~Grid();
    Grid(const Grid&) = delete;
    Grid& operator=(const Grid&) = delete;

    const GridDefinition& definition() const noexcept;
    // Column index by name; -1 when there is none.
    int columnIndex(std::string_view name) const noexcept;
    int columnCount() const noexcept;
    // A cell's text by column index: a number column's value without a needless
    // ".0", "" for an empty cell or an invalid row or column.
    std::string cellText(long row, int column) const;
    // A text cell as one view, valid until the grid next changes or textView is
    // called again (a name kept in two pieces is joined in the grid's own
    // buffer); "" for a number column or an invalid row or column.
    std::string_view textView(long row, int column) const;
    // A text cell without copying it, for passes over many rows; empty pieces
    // for a number column or an invalid row or column.
    TextPieces textPieces(long row, int column, TextBuffer& buffer) const noexcept;

    // 0 appends at the end; otherwise inserts before shown row `row`. Returns the
    // new row's number, or -1 for an invalid row.
    long insertrow(long row);
    long rowcount() const noexcept;       // shown rows
    long filteredcount() const noexcept;  // rows hidden by the filter
    bool setitem(long row, std::string_view column, std::string_view text);
    bool setitem(long row, std::string_view column, double number);
    std::string getitemstring(long row, std::string_view column) const;
    double getitemnumber(long row, std::string_view column) const;
    bool deleterow(long row);
    // Removes the shown rows numbered in `rows` (any order; repeated or invalid
    // numbers are ignored) in one pass, keeping the order of the others; the
    // observer hears one reset. Returns the number of rows removed.
    long deleterows(const std::vector<long>& rows);
    void reset();  // removes every row, hidden ones too

    // Sort expressions: "" (none), "md A", "md   A", "xh D", "md A, xh D". Stable.
    bool setsort(std::string_view expression);
    bool sort();
    // Filter expressions: "" (every row shown) or "column = 'text'". filter()
    // hides the rows that fail and brings back hidden rows that pass (appended
    // after the shown rows, in their stored order).
    bool setfilter(std::string_view expression);
    bool filter();
    // First shown row in [first, last] whose column equals `value`; 0 when
    // none. Indexed: a million calls stay fast. last < 0 or beyond the end
    // means "to the last row".
    long find(std::string_view column, std::string_view value, long first = 1,
              long last = -1) const;
    // "md_t.text = '...'" (one or more such assignments); false when not understood.
    bool modify(std::string_view modification);
    std::string headerText(int column) const;
    // The footer's text, from the definition's footer expression; "" when none.
    std::string footerText() const;

    // row 0 = every shown row.
    bool selectrow(long row, bool selected);
    bool isselected(long row) const noexcept;

    // Tab-separated text: one line per row, fields into the columns in their
    // order, from line `firstLine` (1-based); empty lines are skipped. A line
    // ends at LF, CR LF or a lone CR; a missing final line end works. Rows are appended. Returns
    // the number of rows imported.
    long importtext(std::string_view text, long firstLine = 1);
    // A file read as text; its encoding is decided by unknownTextToUtf8. -1
    // when it cannot be read or is no text (listFileText).
    long importfile(const std::string& path, long firstLine = 1);
    long importclipboard(host::Host& host, long firstLine = 1);
    // The shown rows as tab-separated text, one line per row ended by "\r\n"
    // (the grid's whole-data text), UTF-8; cells as tabSeparatedCell gives them.
    std::string datatext() const;
    // Writes the shown rows: Text = tab-separated GBK (GB18030 beyond GBK), no
    // heading line; Csv = UTF-8 with BOM and a heading line; Xlsx = a sheet with a
    // heading row. False with `error` set when it cannot.
    bool saveas(const std::string& path, host::SaveFormat format,
                std::string* error = nullptr) const;
    // Asks the user through `host` for the name and format, then saves; a name
    // ending in ".txt", ".csv" or ".xlsx" (any case) decides the format over
    // the dialog's filter. 1 on success, 0 when cancelled, -1 on failure
    // (reported through a message box).
    int saveas(host::Host& host) const;

    void setObserver(GridObserver* observer) noexcept;
    void setredraw(bool redraw);  // false: changes are announced once, at the next true
    bool redraw() const noexcept;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace grid
