// The index behind Grid::find: per column, value -> shown positions.
#include <algorithm>
#include <functional>

#include "base/numbers_and_dates.h"
#include "grid/grid_internal.h"

namespace grid {

// One pass groups the positions by value, a second lays the groups out flat;
// kept whole so that the layout described at ColumnIndex is built in one place.
const Grid::Impl::ColumnIndex& Grid::Impl::indexFor(int column) const {
    ColumnIndex& index = indexes[column];
    if (index.valid) return index;
    index = ColumnIndex();
    std::size_t count = shown.size();
    std::size_t capacity = 16;
    while (capacity < count * 2) capacity *= 2;
    index.slots.assign(capacity, 0);
    std::vector<std::uint32_t> groupOf(count);
    std::vector<std::uint64_t> groupHash;
    std::vector<Position> groupFirst;
    std::vector<Position> groupSize;
    std::string scratch;
    std::string otherScratch;
    TextBuffer buffer;
    TextBuffer otherBuffer;
    for (std::size_t p = 0; p < count; ++p) {
        const std::uint64_t hash = cellHash(shown[p], column);
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
                cellPieces(shown[groupFirst[group]], column, otherBuffer, otherScratch) ==
                    cellPieces(shown[p], column, buffer, scratch)) {
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
        entry = ((groupHash[group] >> 32) << 32) | (offsets[group] + 1u);
    }
    index.baseCount = static_cast<Position>(count);
    index.valid = true;
    return index;
}

// The built positions holding `value`, ascending; empty when none.
std::pair<const Position*, const Position*> Grid::Impl::basePositions(
    int column, const ColumnIndex& index, std::string_view value) const {
    const std::uint64_t hash = TextColumn::hashText(value);
    std::uint64_t tag = hash >> 32;
    std::size_t mask = index.slots.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        std::uint64_t entry = index.slots[slot];
        if (entry == 0) return {nullptr, nullptr};
        if ((entry >> 32) != tag) continue;
        const std::uint32_t* group = index.groups.data() + ((entry & 0xFFFFFFFFu) - 1);
        if (cellEquals(group[1], column, value)) return {group + 2, group + 2 + group[0]};
    }
}

// A shown row appended at the end keeps every index current cheaply, until
// the appended part outgrows the built one; then a rebuild is cheaper.
void Grid::Impl::indexAppended(Position position, RowId id) {
    for (int c = 0; c < columnCount(); ++c) {
        ColumnIndex& index = indexes[c];
        if (!index.valid) continue;
        if (position - index.baseCount > std::max<Position>(index.baseCount, 4096)) {
            dropIndex(c);
            continue;
        }
        index.tail[cell(id, c)].push_back(position);
    }
}

// A change to a cell of the appended part is followed; any other drops the index.
void Grid::Impl::indexCellChanged(int column, Position position, const std::string& before,
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
void Grid::Impl::indexLastRemoved(Position position, RowId id) {
    for (int c = 0; c < columnCount(); ++c) {
        ColumnIndex& index = indexes[c];
        if (!index.valid) continue;
        auto found = index.tail.find(cell(id, c));
        if (position < index.baseCount || found == index.tail.end() ||
            found->second.back() != position) {
            dropIndex(c);
            continue;
        }
        found->second.pop_back();
        if (found->second.empty()) index.tail.erase(found);
    }
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
    if (d.isNumber(c) && base::isNumber(value)) {
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

}  // namespace grid
