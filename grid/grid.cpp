// The grid's rows and cells: insertion, deletion, selection, and the
// notifications the view adapter hears.
#include <algorithm>

#include "base/numbers_and_dates.h"
#include "base/text.h"
#include "grid/grid_internal.h"

namespace grid {

Grid::Grid(GridDefinition definition) : impl_(std::make_unique<Impl>(std::move(definition))) {}
Grid::~Grid() = default;

const GridDefinition& Grid::definition() const noexcept {
    return impl_->definition;
}

int Grid::columnIndex(std::string_view name) const noexcept {
    const auto& columns = impl_->definition.columns;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].name == name) return static_cast<int>(i);
    }
    return -1;
}

int Grid::columnCount() const noexcept {
    return impl_->columnCount();
}

std::string Grid::cellText(long row, int column) const {
    if (!impl_->validRow(row) || column < 0 || column >= impl_->columnCount()) return {};
    return impl_->cell(impl_->idAt(row), column);
}

TextPieces Grid::textPieces(long row, int column, TextBuffer& buffer) const noexcept {
    if (!impl_->validRow(row) || column < 0 || column >= impl_->columnCount() ||
        impl_->isNumber(column)) {
        return {};
    }
    return impl_->texts[column].pieces(impl_->idAt(row), buffer);
}

std::string_view Grid::textView(long row, int column) const {
    TextBuffer buffer;
    const TextPieces pieces = textPieces(row, column, buffer);
    if (pieces.head.empty() && pieces.tail.data() != buffer.bytes) return pieces.tail;
    impl_->joined.clear();
    pieces.appendTo(impl_->joined);
    return impl_->joined;
}

long Grid::insertrow(long row) {
    Impl& d = *impl_;
    long count = static_cast<long>(d.shown.size());
    if (row < 0 || row > count) return -1;
    long newRow = row == 0 ? count + 1 : row;
    if (d.announcing()) d.observer->rowsAboutToBeInserted(newRow, newRow);
    RowId id = d.newRow();
    if (row == 0) {
        d.shown.push_back(id);
        d.indexAppended(static_cast<Position>(count), id);
    } else {
        d.shown.insert(d.shown.begin() + (row - 1), id);
        d.dropIndexes();
    }
    if (d.redraw && d.observer) d.observer->rowsInserted(newRow, newRow);
    return newRow;
}

long Grid::rowcount() const noexcept {
    return static_cast<long>(impl_->shown.size());
}
long Grid::filteredcount() const noexcept {
    return static_cast<long>(impl_->hidden.size());
}

bool Grid::setitem(long row, std::string_view column, std::string_view text) {
    Impl& d = *impl_;
    int c = columnIndex(column);
    if (c < 0 || !d.validRow(row)) return false;
    if (d.isNumber(c)) {
        std::string trimmed = base::trim(text);
        if (trimmed.empty()) return setitem(row, column, kNull);
        if (!base::isNumber(trimmed)) return false;
        return setitem(row, column, parseCellNumber(trimmed));
    }
    RowId id = d.idAt(row);
    TextColumn& cells = d.texts[c];
    if (d.indexes[c].valid) {
        // Copies: a set may move the column's bytes, and `text` may be one of them.
        std::string before = cells.text(id);
        std::string after(text);
        cells.set(id, after);
        d.indexCellChanged(c, static_cast<Position>(row - 1), before, after);
    } else {
        cells.set(id, text);
    }
    if (d.announcing()) d.observer->rowChanged(row);
    return true;
}

bool Grid::setitem(long row, std::string_view column, double number) {
    Impl& d = *impl_;
    int c = columnIndex(column);
    if (c < 0 || !d.validRow(row)) return false;
    if (!d.isNumber(c)) return setitem(row, column, formatCellNumber(number));
    RowId id = d.idAt(row);
    if (d.indexes[c].valid) {
        std::string before = formatCellNumber(d.numbers[c][id]);
        d.numbers[c].set(id, number);
        d.indexCellChanged(c, static_cast<Position>(row - 1), before, formatCellNumber(number));
    } else {
        d.numbers[c].set(id, number);
    }
    if (d.announcing()) d.observer->rowChanged(row);
    return true;
}

std::string Grid::getitemstring(long row, std::string_view column) const {
    return cellText(row, columnIndex(column));
}

double Grid::getitemnumber(long row, std::string_view column) const {
    const Impl& d = *impl_;
    int c = columnIndex(column);
    if (c < 0 || !d.validRow(row)) return 0;
    RowId id = d.idAt(row);
    if (d.isNumber(c)) {
        double value = d.numbers[c][id];
        return std::isnan(value) ? 0 : value;
    }
    const std::string text = d.texts[c].text(id);
    return base::isNumber(text) ? parseCellNumber(text) : 0;
}

bool Grid::deleterow(long row) {
    Impl& d = *impl_;
    if (!d.validRow(row)) return false;
    if (d.announcing()) d.observer->rowsAboutToBeRemoved(row, row);
    RowId id = d.idAt(row);
    d.shown.erase(d.shown.begin() + (row - 1));
    if (row == static_cast<long>(d.shown.size()) + 1) {
        d.indexLastRemoved(static_cast<Position>(row - 1), id);
    } else {
        d.dropIndexes();
    }
    d.releaseRow(id);
    if (d.redraw && d.observer) d.observer->rowsRemoved(row, row);
    return true;
}

long Grid::deleterows(const std::vector<long>& rows) {
    Impl& d = *impl_;
    std::vector<char> doomed(d.shown.size(), 0);
    long count = 0;
    for (long row : rows) {
        if (!d.validRow(row) || doomed[static_cast<std::size_t>(row - 1)]) continue;
        doomed[static_cast<std::size_t>(row - 1)] = 1;
        ++count;
    }
    if (count == 0) return 0;
    d.aboutToReset();
    std::size_t kept = 0;
    for (std::size_t p = 0; p < d.shown.size(); ++p) {
        if (doomed[p]) {
            d.releaseRow(d.shown[p]);
        } else {
            d.shown[kept++] = d.shown[p];
        }
    }
    d.shown.resize(kept);
    d.dropIndexes();
    d.didReset();
    return count;
}

void Grid::reset() {
    Impl& d = *impl_;
    d.aboutToReset();
    d.shown = {};
    d.hidden = {};
    d.freeIds = {};
    d.selected = {};
    d.rowIds = 0;
    for (auto& column : d.texts) column = {};
    for (auto& column : d.numbers) column = {};
    d.dropIndexes();
    d.didReset();
}

std::string Grid::headerText(int column) const {
    if (column < 0 || column >= impl_->columnCount()) return {};
    return impl_->headerTexts[column];
}

bool Grid::selectrow(long row, bool selected) {
    Impl& d = *impl_;
    if (selected && d.selected.empty()) d.selected.assign(d.rowIds, 0);
    if (row == 0) {
        if (!d.selected.empty())
            for (RowId id : d.shown) d.selected[id] = selected ? 1 : 0;
        if (d.announcing() && !d.shown.empty()) {
            d.observer->rowsAboutToBeReset();
            d.observer->rowsReset();
        }
        return true;
    }
    if (!d.validRow(row)) return false;
    if (!d.selected.empty()) d.selected[d.idAt(row)] = selected ? 1 : 0;
    if (d.announcing()) d.observer->rowChanged(row);
    return true;
}

bool Grid::isselected(long row) const noexcept {
    return impl_->validRow(row) && !impl_->selected.empty() &&
           impl_->selected[impl_->idAt(row)] != 0;
}

void Grid::setObserver(GridObserver* observer) noexcept {
    impl_->observer = observer;
}

void Grid::setredraw(bool redraw) {
    Impl& d = *impl_;
    if (redraw == d.redraw) return;
    d.redraw = redraw;
    if (redraw && d.changedWhileNoRedraw) {
        d.changedWhileNoRedraw = false;
        if (d.observer) {
            d.observer->rowsAboutToBeReset();
            d.observer->rowsReset();
            d.observer->headerChanged();
        }
    }
}

bool Grid::redraw() const noexcept {
    return impl_->redraw;
}

}  // namespace grid
