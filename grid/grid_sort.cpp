// Sorting the shown rows: numbers by value, texts by their bytes.
#include <algorithm>

#include "grid/grid_internal.h"

namespace host {

// One stable pass per key, the last key first, gives the order of all keys.
void Grid::Impl::sortBy(const SortKey& key) {
    if (isNumber(key.column)) {
        sortByNumber(key);
    } else {
        std::vector<TextSortItem> items(shown.size());
        for (std::size_t i = 0; i < shown.size(); ++i) items[i].id = shown[i];
        sortTextRange(items.data(), items.data() + items.size(), key, 0);
        for (std::size_t i = 0; i < shown.size(); ++i) shown[i] = items[i].id;
    }
}

void Grid::Impl::sortByNumber(const SortKey& key) {
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

std::uint64_t Grid::Impl::bigEndianAt(std::string_view text, std::size_t offset) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        value <<= 8;
        if (offset + i < text.size()) value |= static_cast<unsigned char>(text[offset + i]);
    }
    return value;
}

void Grid::Impl::sortTextRange(TextSortItem* begin, TextSortItem* end, const SortKey& key,
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

bool Grid::sort() {
    Impl& d = *impl_;
    if (d.sortKeys.empty()) return true;
    d.aboutToReset();
    for (auto key = d.sortKeys.rbegin(); key != d.sortKeys.rend(); ++key) d.sortBy(*key);
    d.dropIndexes();
    d.didReset();
    return true;
}

}  // namespace host
