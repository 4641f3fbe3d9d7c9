// Grid storage: cells live column by column, addressed by a stable row id, so
// sorting, filtering and deleting only move 32-bit ids around. `shown` is the
// visible order; `hidden` holds the rows the filter set aside.
//
// Shared by the grid's files only: the storage (grid.cpp), the index behind
// find (grid_index.cpp), sorting (grid_sort.cpp), the expressions
// (grid_expressions.cpp) and the text import and export (grid_text.cpp).
#pragma once

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/numbers_and_dates.h"
#include "base/text.h"
#include "grid/grid.h"
#include "grid/number_column.h"
#include "grid/text_column.h"

namespace grid {

using Position = std::uint32_t;

inline const double kNull = std::numeric_limits<double>::quiet_NaN();

inline std::string formatCellNumber(double value) {
    if (std::isnan(value)) return {};
    if (std::floor(value) == value && std::fabs(value) < 1e15) {
        return std::to_string(static_cast<long long>(value));
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

inline double parseCellNumber(std::string_view text) {
    std::string trimmed = base::trim(text);
    if (!trimmed.empty() && trimmed.front() == '+') trimmed.erase(0, 1);
    return std::strtod(trimmed.c_str(), nullptr);
}

inline void skipBlanks(std::string_view text, std::size_t& at) {
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n')) {
        ++at;
    }
}

inline bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

inline std::string readName(std::string_view text, std::size_t& at) {
    std::size_t start = at;
    while (at < text.size() && isNameChar(text[at])) ++at;
    return std::string(text.substr(start, at - start));
}

// A quoted literal in '...' or "..."; "~" escapes the next character, so that
// either quote or a "~" can stand inside a literal.
inline std::optional<std::string> readQuoted(std::string_view text, std::size_t& at) {
    if (at >= text.size() || (text[at] != '\'' && text[at] != '"')) return std::nullopt;
    char quote = text[at++];
    std::string value;
    while (at < text.size()) {
        char c = text[at++];
        if (c == quote) return value;
        if (c == '~' && at < text.size()) c = text[at++];
        value += c;
    }
    return std::nullopt;
}

inline std::string_view stripBom(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    return text;
}

struct Grid::Impl {
    GridDefinition definition;
    std::vector<std::string> headerTexts;

    // Cells by column, indexed by row id; a number column reads NaN for empty.
    std::vector<TextColumn> texts;
    std::vector<NumberColumn> numbers;
    BlockArray<char> selected;  // by row id; empty until a row is first selected
    std::size_t rowIds = 0;     // ids given out, free ones included
    std::vector<RowId> freeIds;

    std::vector<RowId> shown;
    std::vector<RowId> hidden;

    struct SortKey {
        int column;
        bool ascending;
    };
    std::vector<SortKey> sortKeys;

    struct FilterRule {
        int column = -1;  // -1: every row passes
        std::string value;
    };
    FilterRule filterRule;

    // value -> ascending shown positions, per column, built on demand. The
    // positions that existed at the build are grouped in one flat array behind
    // an open-addressing table; rows appended later go to a small map, so a walk
    // that appends while an index exists does not rebuild it.
    struct ColumnIndex {
        bool valid = false;
        Position baseCount = 0;
        // Each slot: the value's hash in the upper half, its group's offset in
        // `groups` + 1 in the lower half; 0 is an empty slot. A group is laid
        // out as [count, row id of the first row, positions...], so a lookup
        // touches the slot, the group and the one cell it compares.
        std::vector<std::uint64_t> slots;
        std::vector<std::uint32_t> groups;
        std::unordered_map<std::string, std::vector<Position>> tail;
    };
    mutable std::vector<ColumnIndex> indexes;

    GridObserver* observer = nullptr;
    bool redraw = true;
    bool changedWhileNoRedraw = false;

    explicit Impl(GridDefinition def) : definition(std::move(def)) {
        std::size_t count = definition.columns.size();
        texts.resize(count);
        numbers.resize(count);
        indexes.resize(count);
        for (const auto& column : definition.columns) headerTexts.push_back(column.headerText);
    }

    bool isNumber(int column) const {
        return definition.columns[static_cast<std::size_t>(column)].type == ColumnType::Number;
    }
    int columnCount() const { return static_cast<int>(definition.columns.size()); }

    std::string cell(RowId id, int column) const {
        if (isNumber(column)) return formatCellNumber(numbers[column][id]);
        return texts[column].text(id);
    }

    bool validRow(long row) const { return row >= 1 && row <= static_cast<long>(shown.size()); }
    RowId idAt(long row) const { return shown[static_cast<std::size_t>(row - 1)]; }

    RowId newRow() {
        RowId id;
        if (!freeIds.empty()) {
            id = freeIds.back();
            freeIds.pop_back();
        } else {
            id = static_cast<RowId>(rowIds++);
            if (!selected.empty()) selected.push_back(0);
            for (int c = 0; c < columnCount(); ++c) {
                if (isNumber(c)) {
                    numbers[c].emplace_back();
                } else {
                    texts[c].emplace_back();
                }
            }
        }
        return id;
    }

    void releaseRow(RowId id) {
        for (int c = 0; c < columnCount(); ++c) {
            if (isNumber(c)) {
                numbers[c].release(id);
            } else {
                texts[c].release(id);
            }
        }
        if (!selected.empty()) selected[id] = 0;
        freeIds.push_back(id);
    }

    // Appends one row from a tab-separated line, fields into the columns in
    // their order, without announcing it.
    void appendLine(std::string_view line);

    // A cell's text in pieces; number cells are formatted into `scratch`.
    TextPieces cellPieces(RowId id, int column, TextBuffer& buffer, std::string& scratch) const {
        if (isNumber(column)) {
            scratch = formatCellNumber(numbers[column][id]);
            return {{}, scratch};
        }
        return texts[column].pieces(id, buffer);
    }
    std::uint64_t cellHash(RowId id, int column) const {
        if (isNumber(column)) return TextColumn::hashText(formatCellNumber(numbers[column][id]));
        return texts[column].hash(id);
    }
    bool cellEquals(RowId id, int column, std::string_view value) const {
        if (isNumber(column)) return formatCellNumber(numbers[column][id]) == value;
        return texts[column].equals(id, value);
    }

    void dropIndex(int column) { indexes[column] = ColumnIndex(); }
    void dropIndexes() {
        for (int c = 0; c < columnCount(); ++c) {
            if (indexes[c].valid) dropIndex(c);
        }
    }

    // The index of `column`, built when missing (grid_index.cpp).
    const ColumnIndex& indexFor(int column) const;
    // The built positions holding `value`, ascending; empty when none.
    std::pair<const Position*, const Position*> basePositions(int column, const ColumnIndex& index,
                                                              std::string_view value) const;
    // Keeping the indexes current as rows are appended, changed or removed at the end.
    void indexAppended(Position position, RowId id);
    void indexCellChanged(int column, Position position, const std::string& before,
                          const std::string& after);
    void indexLastRemoved(Position position, RowId id);

    // Notifications; while redraw is off they collapse into one reset.
    bool announcing() {
        if (!redraw) {
            changedWhileNoRedraw = true;
            return false;
        }
        return observer != nullptr;
    }
    void aboutToReset() {
        if (announcing()) observer->rowsAboutToBeReset();
    }
    void didReset() {
        if (redraw && observer) observer->rowsReset();
    }

    // A text cell's text in one piece, for textView.
    mutable std::string joined;
};

}  // namespace grid
