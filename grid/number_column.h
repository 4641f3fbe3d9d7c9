// One number column of the grid. Whole numbers (row numbers, mostly) take 4
// bytes a row; the column turns to 8-byte doubles once it is given anything
// else. An empty cell reads as NaN. A column that was never given a number
// holds nothing at all, and neither does one whose rows, from the first on,
// hold their own numbers (1, 2, 3, ...: the row numbers a list is given as
// it is filled) and are otherwise empty.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "grid/block_array.h"
#include "grid/text_column.h"

namespace grid {

class NumberColumn {
  public:
    double operator[](RowId id) const noexcept {
        if (wide_) return values_[id];
        const std::int32_t value = wholeAt(id);
        return value == kEmpty ? kNaN : value;
    }

    void set(RowId id, double value) {
        if (wide_) {
            values_[id] = value;
            return;
        }
        if (whole_.empty()) {
            const bool own = value == static_cast<double>(id) + 1 && isWhole(value);
            if (id < counted_ && own) return;
            if (id == counted_ && own) {
                ++counted_;
                return;
            }
            if (id >= counted_ && std::isnan(value)) return;  // empty already
            spell();
        }
        if (std::isnan(value)) {
            if (!whole_.empty()) whole_[id] = kEmpty;
            return;
        }
        if (isWhole(value)) {
            if (whole_.empty()) whole_.assign(size_, kEmpty);
            whole_[id] = static_cast<std::int32_t>(value);
            return;
        }
        values_.assign(size_, kNaN);
        for (std::size_t i = 0; i < whole_.size(); ++i) {
            if (whole_[i] != kEmpty) values_[i] = whole_[i];
        }
        whole_.clear();
        wide_ = true;
        values_[id] = value;
    }

    void emplace_back() {
        ++size_;
        if (wide_) {
            values_.push_back(kNaN);
        } else if (!whole_.empty()) {
            whole_.push_back(kEmpty);
        }
    }

    void release(RowId id) {
        if (wide_) {
            values_[id] = kNaN;
            return;
        }
        if (id < counted_) spell();
        if (!whole_.empty()) whole_[id] = kEmpty;
    }

    // Orders the rows [begin, end) by value, empty cells before every number,
    // equal values in their given order.
    void sort(RowId* begin, RowId* end, bool ascending) const {
        const std::vector<RowId> given(begin, end);
        if (!wide_) {
            // The value (empty lowest) above, the given position below: one
            // plain sort of words keeps equal values in order.
            std::vector<std::uint64_t> keys(given.size());
            for (std::size_t i = 0; i < given.size(); ++i) {
                std::uint32_t key = biased(wholeAt(given[i]));
                if (!ascending) key = ~key;
                keys[i] = (static_cast<std::uint64_t>(key) << 32) | i;
            }
            std::sort(keys.begin(), keys.end());
            for (std::size_t i = 0; i < keys.size(); ++i) begin[i] = given[keys[i] & 0xFFFFFFFFu];
            return;
        }
        struct Item {
            double value;
            std::uint32_t position;
            bool empty;
        };
        std::vector<Item> items(given.size());
        for (std::size_t i = 0; i < given.size(); ++i) {
            const double value = values_[given[i]];
            items[i] = {std::isnan(value) ? 0 : value, static_cast<std::uint32_t>(i),
                        std::isnan(value)};
        }
        std::sort(items.begin(), items.end(), [ascending](const Item& a, const Item& b) {
            if (a.empty != b.empty) return ascending ? a.empty : b.empty;
            if (a.value != b.value) return ascending ? a.value < b.value : b.value < a.value;
            return a.position < b.position;
        });
        for (std::size_t i = 0; i < items.size(); ++i) begin[i] = given[items[i].position];
    }

  private:
    static constexpr std::int32_t kEmpty = std::numeric_limits<std::int32_t>::min();
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

    static bool isWhole(double value) noexcept {
        // -0.0 is kept as a double, so that it reads back as it was given.
        return value > kEmpty && value <= std::numeric_limits<std::int32_t>::max() &&
               std::floor(value) == value && !(value == 0 && std::signbit(value));
    }
    static std::uint32_t biased(std::int32_t value) noexcept {
        return static_cast<std::uint32_t>(value) ^ 0x80000000u;
    }

    // A whole-number column's cell, kEmpty for an empty one.
    std::int32_t wholeAt(RowId id) const noexcept {
        if (!whole_.empty()) return whole_[id];
        return id < counted_ ? static_cast<std::int32_t>(id + 1) : kEmpty;
    }
    // The rows that hold their own numbers written out, before any other
    // number is kept.
    void spell() {
        whole_.assign(size_, kEmpty);
        for (std::size_t id = 0; id < counted_; ++id)
            whole_[id] = static_cast<std::int32_t>(id + 1);
        counted_ = 0;
    }

    std::size_t size_ = 0;
    // While whole_ is empty: rows [0, counted_) hold id + 1, the others are empty.
    std::size_t counted_ = 0;
    BlockArray<std::int32_t> whole_;  // empty until the column's first number
    BlockArray<double> values_;       // once a number is not whole
    bool wide_ = false;
};

}  // namespace grid
