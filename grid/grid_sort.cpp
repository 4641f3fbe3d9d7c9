// Sorting the shown rows: numbers by value, texts by their bytes
// (number_column.h, text_sort.cpp).
#include "grid/grid_internal.h"

namespace grid {

bool Grid::sort() {
    Impl& d = *impl_;
    if (d.sortKeys.empty()) return true;
    d.aboutToReset();
    RowId* begin = d.shown.data();
    RowId* end = begin + d.shown.size();
    // One stable pass per key, the last key first, gives the order of all keys.
    for (auto key = d.sortKeys.rbegin(); key != d.sortKeys.rend(); ++key) {
        if (d.isNumber(key->column)) {
            d.numbers[key->column].sort(begin, end, key->ascending);
        } else {
            d.texts[key->column].sort(begin, end, key->ascending);
        }
    }
    d.dropIndexes();
    d.didReset();
    return true;
}

}  // namespace grid
