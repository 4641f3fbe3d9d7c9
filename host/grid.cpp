// Grid storage: cells live column by column, addressed by a stable row id, so
// sorting, filtering and deleting only move 32-bit ids around. `shown` is the
// visible order; `hidden` holds the rows the filter set aside.
#include "host/grid.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include "host/fs.h"
#include "host/text.h"

namespace host {

namespace {

using RowId = std::uint32_t;
using Position = std::uint32_t;

constexpr double kNull = std::numeric_limits<double>::quiet_NaN();

std::string formatCellNumber(double value) {
    if (std::isnan(value)) return {};
    if (std::floor(value) == value && std::fabs(value) < 1e15) {
        return std::to_string(static_cast<long long>(value));
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

double parseCellNumber(std::string_view text) {
    std::string trimmed = trim(text);
    if (!trimmed.empty() && trimmed.front() == '+') trimmed.erase(0, 1);
    return std::strtod(trimmed.c_str(), nullptr);
}

void skipBlanks(std::string_view text, std::size_t& at) {
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n')) {
        ++at;
    }
}

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

std::string readName(std::string_view text, std::size_t& at) {
    std::size_t start = at;
    while (at < text.size() && isNameChar(text[at])) ++at;
    return std::string(text.substr(start, at - start));
}

// A quoted literal in '...' or "..."; "~" escapes the next character, as the
// grid expressions have always done.
std::optional<std::string> readQuoted(std::string_view text, std::size_t& at) {
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

std::string_view stripBom(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    return text;
}

// Text cells of one column by row id, packed into 1 MiB chunks of bytes: each
// cell is a 64-bit word (offset << 24 | length), so a cell costs 8 bytes plus
// its text instead of a 32-byte string and a heap block. Fixed chunks, not one
// growing buffer: a buffer grown by copying leaves its earlier copies behind in
// the heap. A shorter or equal text is written over the old one; a longer one
// is appended and the old bytes become garbage, reclaimed by compacting once
// they outweigh the live ones. Texts longer than a chunk are kept apart. A
// column that was never given a text holds nothing at all: a walk without a
// browse condition leaves three of a list's six columns empty.
//
// A view returned by operator[] is valid until the next set on this column.
class TextColumn {
  public:
    std::string_view operator[](RowId id) const {
        if (cells_.empty()) return {};
        std::uint64_t cell = cells_[id];
        std::size_t length = cell & kLengthMask;
        if (length == 0) return {};
        if (length == kLarge) return large_.at(id);
        return {at(cell >> kLengthBits), length};
    }

    void set(RowId id, std::string_view text) {
        if (cells_.empty()) {
            if (text.empty()) return;
            cells_.resize(size_, 0);
        }
        std::uint64_t cell = cells_[id];
        std::size_t oldLength = cell & kLengthMask;
        if (oldLength == kLarge) {
            if (text.size() > kChunkSize) {
                large_[id].assign(text);
                return;
            }
            std::string keep(text);  // `text` may be the cell being erased
            large_.erase(id);
            cells_[id] = 0;
            if (!keep.empty()) cells_[id] = pack(append(keep), keep.size());
            return;
        }
        if (text.size() > kChunkSize) {
            large_[id].assign(text);
            garbage_ += oldLength;
            cells_[id] = kLarge;
            return;
        }
        if (text.size() <= oldLength) {
            std::size_t offset = cell >> kLengthBits;
            // memmove: `text` may lie in this column.
            if (!text.empty()) std::memmove(at(offset), text.data(), text.size());
            garbage_ += oldLength - text.size();
            cells_[id] = text.empty() ? 0 : pack(offset, text.size());
            return;
        }
        std::string keep;
        if (!chunks_.empty() && text.data() >= chunks_.back().data() &&
            text.data() < chunks_.back().data() + chunks_.back().size()) {
            keep.assign(text);  // growing the last chunk would move the bytes `text` points at
            text = keep;
        }
        garbage_ += oldLength;
        cells_[id] = pack(append(text), text.size());
        std::size_t total = used();
        if (total > kChunkSize && garbage_ > total / 2) compact();
    }

    void emplace_back() {
        ++size_;
        if (!cells_.empty()) cells_.push_back(0);
    }

    void release(RowId id) {
        if (cells_.empty()) return;
        std::size_t length = cells_[id] & kLengthMask;
        if (length == kLarge) {
            large_.erase(id);
        } else {
            garbage_ += length;
        }
        cells_[id] = 0;
    }

  private:
    static constexpr unsigned kLengthBits = 24;
    static constexpr std::uint64_t kLengthMask = (std::uint64_t{1} << kLengthBits) - 1;
    // The length field's top value marks a cell kept in `large_`.
    static constexpr std::size_t kLarge = kLengthMask;
    static constexpr unsigned kChunkBits = 20;
    static constexpr std::size_t kChunkSize = std::size_t{1} << kChunkBits;

    static std::uint64_t pack(std::size_t offset, std::size_t length) {
        return (static_cast<std::uint64_t>(offset) << kLengthBits) | length;
    }
    const char* at(std::size_t offset) const {
        return chunks_[offset >> kChunkBits].data() + (offset & (kChunkSize - 1));
    }
    char* at(std::size_t offset) {
        return chunks_[offset >> kChunkBits].data() + (offset & (kChunkSize - 1));
    }
    std::size_t used() const {
        return chunks_.empty() ? 0 : (chunks_.size() - 1) * kChunkSize + chunks_.back().size();
    }

    // Where `text` (no longer than a chunk) now starts; a text never spans two chunks.
    std::size_t append(std::string_view text) {
        if (chunks_.empty() || chunks_.back().size() + text.size() > kChunkSize) {
            if (!chunks_.empty()) garbage_ += kChunkSize - chunks_.back().size();
            chunks_.emplace_back();
            // The first chunk starts small and grows, so a short list stays small.
            chunks_.back().reserve(chunks_.size() == 1 ? std::size_t{4096} : kChunkSize);
        }
        std::vector<char>& chunk = chunks_.back();
        if (chunk.size() + text.size() > chunk.capacity()) {
            chunk.reserve(
                std::min(kChunkSize, std::max(chunk.size() + text.size(), chunk.capacity() * 2)));
        }
        std::size_t offset = (chunks_.size() - 1) * kChunkSize + chunk.size();
        chunk.insert(chunk.end(), text.begin(), text.end());
        return offset;
    }

    // Rewrites the live cells in id order.
    void compact() {
        std::vector<std::vector<char>> old;
        old.swap(chunks_);
        garbage_ = 0;
        for (std::uint64_t& cell : cells_) {
            std::size_t length = cell & kLengthMask;
            if (length == kLarge || length == 0) continue;
            std::size_t offset = cell >> kLengthBits;
            const char* from = old[offset >> kChunkBits].data() + (offset & (kChunkSize - 1));
            cell = pack(append({from, length}), length);
        }
    }

    std::vector<std::vector<char>> chunks_;
    std::vector<std::uint64_t> cells_;  // empty until the column's first text
    std::unordered_map<RowId, std::string> large_;
    std::size_t size_ = 0;
    std::size_t garbage_ = 0;  // dead bytes in the chunks, skipped chunk ends included
};

}  // namespace

struct Grid::Impl {
    GridDefinition definition;
    std::vector<std::string> headerTexts;

    // Cells by column, indexed by row id; a number column keeps NaN for empty.
    std::vector<TextColumn> texts;
    std::vector<std::vector<double>> numbers;
    std::vector<char> selected;  // by row id
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
        return std::string(texts[column][id]);
    }

    bool validRow(long row) const { return row >= 1 && row <= static_cast<long>(shown.size()); }
    RowId idAt(long row) const { return shown[static_cast<std::size_t>(row - 1)]; }

    RowId newRow() {
        RowId id;
        if (!freeIds.empty()) {
            id = freeIds.back();
            freeIds.pop_back();
        } else {
            id = static_cast<RowId>(selected.size());
            selected.push_back(0);
            for (int c = 0; c < columnCount(); ++c) {
                if (isNumber(c)) {
                    numbers[c].push_back(kNull);
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
                numbers[c][id] = kNull;
            } else {
                texts[c].release(id);
            }
        }
        selected[id] = 0;
        freeIds.push_back(id);
    }

    // A cell's text without copying it; number cells are formatted into `scratch`.
    std::string_view cellView(RowId id, int column, std::string& scratch) const {
        if (isNumber(column)) {
            scratch = formatCellNumber(numbers[column][id]);
            return scratch;
        }
        return texts[column][id];
    }

    void dropIndex(int column) { indexes[column] = ColumnIndex(); }
    void dropIndexes() {
        for (int c = 0; c < columnCount(); ++c) {
            if (indexes[c].valid) dropIndex(c);
        }
    }

    const ColumnIndex& indexFor(int column) const {
        ColumnIndex& index = indexes[column];
        if (index.valid) return index;
        index = ColumnIndex();
        std::size_t count = shown.size();
        std::size_t capacity = 16;
        while (capacity < count * 2) capacity *= 2;
        index.slots.assign(capacity, 0);
        std::vector<std::uint32_t> groupOf(count);
        std::vector<std::size_t> groupHash;
        std::vector<Position> groupFirst;
        std::vector<Position> groupSize;
        std::string scratch;
        std::string otherScratch;
        std::hash<std::string_view> hasher;
        for (std::size_t p = 0; p < count; ++p) {
            std::string_view value = cellView(shown[p], column, scratch);
            std::size_t hash = hasher(value);
            for (std::size_t slot = hash & (capacity - 1);; slot = (slot + 1) & (capacity - 1)) {
                std::uint64_t entry = index.slots[slot];
                if (entry == 0) {
                    auto group = static_cast<std::uint32_t>(groupFirst.size());
                    index.slots[slot] = group + 1;
                    groupHash.push_back(hash);
                    groupFirst.push_back(static_cast<Position>(p));
                    groupSize.push_back(1);
                    groupOf[p] = group;
                    break;
                }
                auto group = static_cast<std::uint32_t>(entry - 1);
                if (groupHash[group] == hash &&
                    cellView(shown[groupFirst[group]], column, otherScratch) == value) {
                    ++groupSize[group];
                    groupOf[p] = group;
                    break;
                }
            }
        }
        std::vector<std::uint32_t> offsets(groupFirst.size());
        std::uint32_t offset = 0;
        for (std::size_t g = 0; g < groupFirst.size(); ++g) {
            offsets[g] = offset;
            offset += 2 + groupSize[g];
        }
        index.groups.resize(offset);
        std::vector<std::uint32_t> fill(groupFirst.size());
        for (std::size_t g = 0; g < groupFirst.size(); ++g) {
            index.groups[offsets[g]] = groupSize[g];
            index.groups[offsets[g] + 1] = shown[groupFirst[g]];
            fill[g] = offsets[g] + 2;
        }
        for (std::size_t p = 0; p < count; ++p)
            index.groups[fill[groupOf[p]]++] = static_cast<Position>(p);
        for (std::uint64_t& entry : index.slots) {
            if (entry == 0) continue;
            auto group = static_cast<std::uint32_t>(entry - 1);
            entry =
                (static_cast<std::uint64_t>(groupHash[group] >> 32) << 32) | (offsets[group] + 1u);
        }
        index.baseCount = static_cast<Position>(count);
        index.valid = true;
        return index;
    }

    // The built positions holding `value`, ascending; empty when none.
    std::pair<const Position*, const Position*> basePositions(int column, const ColumnIndex& index,
                                                              std::string_view value) const {
        std::size_t hash = std::hash<std::string_view>()(value);
        std::uint64_t tag = static_cast<std::uint64_t>(hash >> 32);
        std::size_t mask = index.slots.size() - 1;
        std::string scratch;
        for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            std::uint64_t entry = index.slots[slot];
            if (entry == 0) return {nullptr, nullptr};
            if ((entry >> 32) != tag) continue;
            const std::uint32_t* group = index.groups.data() + ((entry & 0xFFFFFFFFu) - 1);
            if (cellView(group[1], column, scratch) == value)
                return {group + 2, group + 2 + group[0]};
        }
    }

    // A shown row appended at the end keeps every index current cheaply, until
    // the appended part outgrows the built one; then a rebuild is cheaper.
    void indexAppended(Position position, RowId id) {
        std::string scratch;
        for (int c = 0; c < columnCount(); ++c) {
            ColumnIndex& index = indexes[c];
            if (!index.valid) continue;
            if (position - index.baseCount > std::max<Position>(index.baseCount, 4096)) {
                dropIndex(c);
                continue;
            }
            index.tail[std::string(cellView(id, c, scratch))].push_back(position);
        }
    }

    // A change to a cell of the appended part is followed; any other drops the index.
    void indexCellChanged(int column, Position position, const std::string& before,
                          const std::string& after) {
        ColumnIndex& index = indexes[column];
        if (!index.valid || before == after) return;
        auto old = index.tail.find(before);
        if (position < index.baseCount || old == index.tail.end()) {
            dropIndex(column);
            return;
        }
        auto& from = old->second;
        auto at = std::lower_bound(from.begin(), from.end(), position);
        if (at == from.end() || *at != position) {
            dropIndex(column);
            return;
        }
        from.erase(at);
        if (from.empty()) index.tail.erase(old);
        auto& to = index.tail[after];
        to.insert(std::lower_bound(to.begin(), to.end(), position), position);
    }

    // Removing the last shown row leaves every other position where it was.
    void indexLastRemoved(Position position, RowId id) {
        std::string scratch;
        for (int c = 0; c < columnCount(); ++c) {
            ColumnIndex& index = indexes[c];
            if (!index.valid) continue;
            auto found = index.tail.find(std::string(cellView(id, c, scratch)));
            if (position < index.baseCount || found == index.tail.end() ||
                found->second.back() != position) {
                dropIndex(c);
                continue;
            }
            found->second.pop_back();
            if (found->second.empty()) index.tail.erase(found);
        }
    }

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

    bool passes(RowId id, std::string& scratch) const {
        if (filterRule.column < 0) return true;
        return cellView(id, filterRule.column, scratch) == filterRule.value;
    }

    // One stable pass per key, the last key first, gives the order of all keys.
    void sortBy(const SortKey& key) {
        if (isNumber(key.column)) {
            sortByNumber(key);
        } else {
            std::vector<TextSortItem> items(shown.size());
            for (std::size_t i = 0; i < shown.size(); ++i) items[i].id = shown[i];
            sortTextRange(items.data(), items.data() + items.size(), key, 0);
            for (std::size_t i = 0; i < shown.size(); ++i) shown[i] = items[i].id;
        }
    }

    void sortByNumber(const SortKey& key) {
        struct Item {
            int rank;  // an empty cell sorts before every number
            double value;
            RowId id;
        };
        std::vector<Item> items;
        items.reserve(shown.size());
        for (RowId id : shown) {
            double value = numbers[key.column][id];
            items.push_back({std::isnan(value) ? 0 : 1, std::isnan(value) ? 0 : value, id});
        }
        auto less = [](const Item& a, const Item& b) {
            return a.rank != b.rank ? a.rank < b.rank : a.value < b.value;
        };
        if (key.ascending) {
            std::stable_sort(items.begin(), items.end(), less);
        } else {
            std::stable_sort(items.begin(), items.end(),
                             [&less](const Item& a, const Item& b) { return less(b, a); });
        }
        for (std::size_t i = 0; i < items.size(); ++i) shown[i] = items[i].id;
    }

    // Texts are compared 16 bytes at a time from keys held beside the row ids,
    // so most comparisons touch no string; only runs that tie go a level deeper.
    struct TextSortItem {
        std::uint64_t high = 0;
        std::uint64_t low = 0;
        RowId id = 0;
        std::uint8_t rest = 0;  // bytes left from this level, 17 meaning "more than 16"
    };

    static std::uint64_t bigEndianAt(std::string_view text, std::size_t offset) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            value <<= 8;
            if (offset + i < text.size()) value |= static_cast<unsigned char>(text[offset + i]);
        }
        return value;
    }

    void sortTextRange(TextSortItem* begin, TextSortItem* end, const SortKey& key,
                       std::size_t offset) {
        const auto& column = texts[key.column];
        for (TextSortItem* item = begin; item != end; ++item) {
            std::string_view text = column[item->id];
            item->high = bigEndianAt(text, offset);
            item->low = bigEndianAt(text, offset + 8);
            item->rest = static_cast<std::uint8_t>(std::min<std::size_t>(text.size() - offset, 17));
        }
        auto less = [](const TextSortItem& a, const TextSortItem& b) {
            if (a.high != b.high) return a.high < b.high;
            if (a.low != b.low) return a.low < b.low;
            return a.rest < b.rest;
        };
        if (key.ascending) {
            std::stable_sort(begin, end, less);
        } else {
            std::stable_sort(begin, end, [&less](const TextSortItem& a, const TextSortItem& b) {
                return less(b, a);
            });
        }
        for (TextSortItem* run = begin; run != end;) {
            TextSortItem* next = run + 1;
            while (next != end && next->high == run->high && next->low == run->low &&
                   next->rest == run->rest) {
                ++next;
            }
            if (next - run > 1 && run->rest == 17) sortTextRange(run, next, key, offset + 16);
            run = next;
        }
    }

    std::vector<std::string> splitFields(std::string_view line) const {
        std::vector<std::string> fields;
        std::size_t start = 0;
        while (true) {
            std::size_t tab = line.find('\t', start);
            fields.emplace_back(
                line.substr(start, tab == std::string_view::npos ? tab : tab - start));
            if (tab == std::string_view::npos) break;
            start = tab + 1;
        }
        return fields;
    }
};

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

std::string_view Grid::textView(long row, int column) const noexcept {
    if (!impl_->validRow(row) || column < 0 || column >= impl_->columnCount() ||
        impl_->isNumber(column)) {
        return {};
    }
    return impl_->texts[column][impl_->idAt(row)];
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
        std::string trimmed = trim(text);
        if (trimmed.empty()) return setitem(row, column, kNull);
        if (!host::isNumber(trimmed)) return false;
        return setitem(row, column, parseCellNumber(trimmed));
    }
    RowId id = d.idAt(row);
    TextColumn& cells = d.texts[c];
    if (d.indexes[c].valid) {
        // Copies: a set may move the column's bytes, and `text` may be one of them.
        std::string before(cells[id]);
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
        d.numbers[c][id] = number;
        d.indexCellChanged(c, static_cast<Position>(row - 1), before, formatCellNumber(number));
    } else {
        d.numbers[c][id] = number;
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
    std::string_view text = d.texts[c][id];
    return host::isNumber(text) ? parseCellNumber(text) : 0;
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
    for (auto& column : d.texts) column = {};
    for (auto& column : d.numbers) column = {};
    d.dropIndexes();
    d.didReset();
}

bool Grid::setsort(std::string_view expression) {
    std::vector<Impl::SortKey> keys;
    std::size_t at = 0;
    while (true) {
        skipBlanks(expression, at);
        if (at >= expression.size()) break;
        std::string name = readName(expression, at);
        int column = columnIndex(name);
        if (column < 0) return false;
        skipBlanks(expression, at);
        bool ascending = true;
        if (at < expression.size() && expression[at] != ',') {
            char direction =
                static_cast<char>(std::toupper(static_cast<unsigned char>(expression[at])));
            if (direction != 'A' && direction != 'D') return false;
            ascending = direction == 'A';
            ++at;
            if (at < expression.size() && isNameChar(expression[at])) return false;
            skipBlanks(expression, at);
        }
        keys.push_back({column, ascending});
        if (at < expression.size()) {
            if (expression[at] != ',') return false;
            ++at;
        }
    }
    impl_->sortKeys = std::move(keys);
    return true;
}

bool Grid::sort() {
    Impl& d = *impl_;
    if (d.sortKeys.empty()) return true;
    d.aboutToReset();
    for (auto key = d.sortKeys.rbegin(); key != d.sortKeys.rend(); ++key) d.sortBy(*key);
    d.dropIndexes();
    d.didReset();
    return true;
}

bool Grid::setfilter(std::string_view expression) {
    Impl::FilterRule rule;
    std::size_t at = 0;
    skipBlanks(expression, at);
    if (at < expression.size()) {
        std::string name = readName(expression, at);
        rule.column = columnIndex(name);
        if (rule.column < 0) return false;
        skipBlanks(expression, at);
        if (at >= expression.size() || expression[at] != '=') return false;
        ++at;
        skipBlanks(expression, at);
        if (auto quoted = readQuoted(expression, at)) {
            rule.value = *quoted;
        } else if (impl_->isNumber(rule.column)) {
            std::size_t start = at;
            while (at < expression.size() &&
                   !std::isspace(static_cast<unsigned char>(expression[at])))
                ++at;
            std::string_view literal = expression.substr(start, at - start);
            if (!host::isNumber(literal)) return false;
            rule.value = formatCellNumber(parseCellNumber(literal));
        } else {
            return false;
        }
        skipBlanks(expression, at);
        if (at != expression.size()) return false;
        if (impl_->isNumber(rule.column) && host::isNumber(rule.value)) {
            rule.value = formatCellNumber(parseCellNumber(rule.value));
        }
    }
    impl_->filterRule = std::move(rule);
    return true;
}

bool Grid::filter() {
    Impl& d = *impl_;
    d.aboutToReset();
    std::vector<RowId> shown;
    std::vector<RowId> hidden;
    shown.reserve(d.shown.size() + d.hidden.size());
    std::string scratch;
    for (RowId id : d.shown) (d.passes(id, scratch) ? shown : hidden).push_back(id);
    for (RowId id : d.hidden) (d.passes(id, scratch) ? shown : hidden).push_back(id);
    d.shown = std::move(shown);
    d.hidden = std::move(hidden);
    d.dropIndexes();
    d.didReset();
    return true;
}

long Grid::find(std::string_view column, std::string_view value, long first, long last) const {
    const Impl& d = *impl_;
    int c = columnIndex(column);
    long count = static_cast<long>(d.shown.size());
    if (c < 0 || count == 0) return 0;
    if (first < 1) first = 1;
    if (last < 0 || last > count) last = count;
    if (first > last) return 0;
    const auto& index = d.indexFor(c);
    std::string normalised;
    if (d.isNumber(c) && host::isNumber(value)) {
        normalised = formatCellNumber(parseCellNumber(value));
        value = normalised;
    }
    auto from = static_cast<Position>(first - 1);
    auto [begin, end] = d.basePositions(c, index, value);
    const Position* at = std::lower_bound(begin, end, from);
    if (at != end) return static_cast<long>(*at) + 1 <= last ? static_cast<long>(*at) + 1 : 0;
    if (index.tail.empty()) return 0;
    auto appended = index.tail.find(std::string(value));
    if (appended == index.tail.end()) return 0;
    auto later = std::lower_bound(appended->second.begin(), appended->second.end(), from);
    if (later == appended->second.end() || static_cast<long>(*later) + 1 > last) return 0;
    return static_cast<long>(*later) + 1;
}

bool Grid::modify(std::string_view modification) {
    Impl& d = *impl_;
    std::vector<std::pair<int, std::string>> changes;
    std::size_t at = 0;
    while (true) {
        skipBlanks(modification, at);
        if (at >= modification.size()) break;
        std::string object = readName(modification, at);
        int column = -1;
        for (int c = 0; c < d.columnCount(); ++c) {
            if (d.definition.columns[c].headerObject == object) column = c;
        }
        if (column < 0 || at >= modification.size() || modification[at] != '.') return false;
        ++at;
        if (readName(modification, at) != "text") return false;
        skipBlanks(modification, at);
        if (at >= modification.size() || modification[at] != '=') return false;
        ++at;
        skipBlanks(modification, at);
        auto value = readQuoted(modification, at);
        if (!value) return false;
        changes.emplace_back(column, std::move(*value));
    }
    if (changes.empty()) return false;
    for (auto& [column, text] : changes) d.headerTexts[column] = std::move(text);
    if (d.announcing()) d.observer->headerChanged();
    return true;
}

std::string Grid::headerText(int column) const {
    if (column < 0 || column >= impl_->columnCount()) return {};
    return impl_->headerTexts[column];
}

// Footer expressions are sums of quoted texts and count(<column> for all).
std::string Grid::footerText() const {
    std::string_view expression = impl_->definition.footerExpression;
    std::string result;
    std::size_t at = 0;
    skipBlanks(expression, at);
    if (at >= expression.size()) return {};
    while (true) {
        skipBlanks(expression, at);
        if (auto literal = readQuoted(expression, at)) {
            result += *literal;
        } else {
            std::string function = readName(expression, at);
            skipBlanks(expression, at);
            if (function != "count" || at >= expression.size() || expression[at] != '(') return {};
            std::size_t close = expression.find(')', at);
            if (close == std::string_view::npos) return {};
            at = close + 1;
            result += std::to_string(rowcount());
        }
        skipBlanks(expression, at);
        if (at >= expression.size()) break;
        if (expression[at] != '+') return {};
        ++at;
    }
    return result;
}

bool Grid::selectrow(long row, bool selected) {
    Impl& d = *impl_;
    if (row == 0) {
        for (RowId id : d.shown) d.selected[id] = selected ? 1 : 0;
        if (d.announcing() && !d.shown.empty()) {
            d.observer->rowsAboutToBeReset();
            d.observer->rowsReset();
        }
        return true;
    }
    if (!d.validRow(row)) return false;
    d.selected[d.idAt(row)] = selected ? 1 : 0;
    if (d.announcing()) d.observer->rowChanged(row);
    return true;
}

bool Grid::isselected(long row) const noexcept {
    return impl_->validRow(row) && impl_->selected[impl_->idAt(row)] != 0;
}

long Grid::importtext(std::string_view text, long firstLine) {
    Impl& d = *impl_;
    text = stripBom(text);
    if (firstLine < 1) firstLine = 1;
    std::vector<std::vector<std::string>> rows;
    long lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::string_view line =
            text.substr(start, end == std::string_view::npos ? end : end - start);
        start = end == std::string_view::npos ? text.size() : end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (lineNumber < firstLine || line.empty()) continue;
        rows.push_back(d.splitFields(line));
    }
    if (rows.empty()) return 0;
    long first = static_cast<long>(d.shown.size()) + 1;
    long last = first + static_cast<long>(rows.size()) - 1;
    if (d.announcing()) d.observer->rowsAboutToBeInserted(first, last);
    d.shown.reserve(d.shown.size() + rows.size());
    for (auto& fields : rows) {
        RowId id = d.newRow();
        std::size_t count = std::min(fields.size(), static_cast<std::size_t>(d.columnCount()));
        for (std::size_t f = 0; f < count; ++f) {
            int c = static_cast<int>(f);
            if (d.isNumber(c)) {
                const std::string& field = fields[f];
                if (trim(field).empty()) continue;
                d.numbers[c][id] = host::isNumber(field) ? parseCellNumber(field) : 0;
            } else {
                d.texts[c].set(id, fields[f]);
            }
        }
        d.shown.push_back(id);
        d.indexAppended(static_cast<Position>(d.shown.size() - 1), id);
    }
    if (d.redraw && d.observer) d.observer->rowsInserted(first, last);
    return static_cast<long>(rows.size());
}

long Grid::importfile(const std::string& path, long firstLine) {
    std::optional<std::string> bytes = readFile(path);
    if (!bytes) return -1;
    return importtext(unknownTextToUtf8(*bytes), firstLine);
}

long Grid::importclipboard(Host& host, long firstLine) {
    return importtext(host.clipboardText(), firstLine);
}

std::string tabSeparatedCell(std::string_view cell) {
    if (cell.find_first_of("\t\n\r") == std::string_view::npos) return std::string(cell);
    std::string text;
    text.reserve(cell.size() + 8);
    for (char c : cell) {
        switch (c) {
            case '\t':
                text += "\xE2\x90\x89";
                break;
            case '\n':
                text += "\xE2\x90\x8A";
                break;
            case '\r':
                text += "\xE2\x90\x8D";
                break;
            default:
                text += c;
        }
    }
    return text;
}

std::string Grid::datatext() const {
    const Impl& d = *impl_;
    std::string text;
    for (RowId id : d.shown) {
        for (int c = 0; c < d.columnCount(); ++c) {
            if (c > 0) text += '\t';
            text += tabSeparatedCell(d.cell(id, c));
        }
        text += "\r\n";
    }
    return text;
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

}  // namespace host
