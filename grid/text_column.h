// One text column of the grid, packed into chunks of bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace host {

// Rows are addressed by a stable id; sorting, filtering and deleting move ids, never cells.
using RowId = std::uint32_t;

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

}  // namespace host
