// One text column of the grid, kept small: a list of a million file names
// must fit in a few tens of megabytes.
//
// Names of files are most of it, and the names of one folder share all but
// their last part. A cell keeps the part up to its last separator ('/' or
// '\') once per column, in a table of folders, and beside the row only the
// folder's number and the rest of the name. Short texts (up to 7 bytes, no
// separator), times ("yyyy-mm-dd hh:mm:ss") and lengths ("123.45KB",
// "1024字节") live in the cell's own 8 bytes, as digits. While a column has
// held no more than 255 different texts (the result column: "不同", "相同",
// "成功", "失败") it keeps one byte per row and each text once. A column that
// was never given a text holds nothing at all. Every cell reads back exactly
// the bytes it was given.
//
// Views handed out (TextPieces) are valid until the next change to the column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "grid/block_array.h"
#include "grid/grid.h"

namespace grid {

// Rows are addressed by a stable id; sorting, filtering and deleting move ids, never cells.
using RowId = std::uint32_t;

class TextColumn {
  public:
    TextPieces pieces(RowId id, TextBuffer& buffer) const noexcept;
    std::string text(RowId id) const;
    bool equals(RowId id, std::string_view text) const noexcept;
    // The hash of the cell's text, equal to hashText of that text.
    std::uint64_t hash(RowId id) const noexcept;
    static std::uint64_t hashText(std::string_view text) noexcept;

    // `text` may be a view of this column's own cells.
    void set(RowId id, std::string_view text);
    void emplace_back();
    void release(RowId id) noexcept;

    // Tells the cells equal to one text, faster than equals() for many rows.
    class Match {
      public:
        bool operator()(RowId id) const noexcept;

      private:
        friend class TextColumn;
        const TextColumn* column_ = nullptr;
        std::string value_;
        int code_ = 0;            // coded column: the value's code, -1 when no cell has it
        std::uint64_t word_ = 0;  // packed column: the value's cell, when kept in the cell
        bool inWord_ = false;
    };
    Match matcher(std::string_view value) const;

    // Orders the rows [begin, end) by their texts' bytes, equal texts in their
    // given order (text_sort.cpp).
    void sort(RowId* begin, RowId* end, bool ascending) const;

  private:
    enum class Mode : std::uint8_t { Empty, Coded, Packed };

    struct Folder {
        std::uint64_t offset = 0;  // of its bytes in the chunks
        std::uint32_t length = 0;
        std::uint32_t uses = 0;   // cells that name it
        std::uint64_t state = 0;  // the running hash after its bytes
    };

    static constexpr unsigned kChunkBits = 20;
    static constexpr std::size_t kChunkSize = std::size_t{1} << kChunkBits;

    // Packed cells.
    TextPieces packedPieces(std::uint64_t cell, RowId id, TextBuffer& buffer) const noexcept;
    void packedSet(RowId id, std::string_view text);
    void releaseCell(RowId id, std::uint64_t cell) noexcept;
    void toPacked();

    // The folder table.
    std::string_view folderText(std::uint32_t folder) const noexcept;
    std::uint32_t internFolder(std::string_view path);
    void insertSlot(std::uint32_t folder);
    void useFolder(std::uint32_t folder) noexcept;
    void dropFolder(std::uint32_t folder) noexcept;

    // The chunks.
    const char* at(std::uint64_t offset) const noexcept {
        return chunks_[offset >> kChunkBits].data() + (offset & (kChunkSize - 1));
    }
    char* at(std::uint64_t offset) noexcept {
        return chunks_[offset >> kChunkBits].data() + (offset & (kChunkSize - 1));
    }
    std::size_t used() const noexcept {
        return chunks_.empty() ? 0 : (chunks_.size() - 1) * kChunkSize + chunks_.back().size();
    }
    std::uint64_t append(std::string_view first, std::string_view second = {});
    bool inLastChunkOrLarge(std::string_view text) const noexcept;
    void compact();

    // Sorting (text_sort.cpp); the ascending sorts return whether two texts were equal.
    void sortCoded(RowId* begin, RowId* end, bool ascending) const;
    bool sortPacked(RowId* begin, RowId* end) const;
    bool sortWhole(RowId* begin, RowId* end) const;

    Mode mode_ = Mode::Empty;
    std::size_t size_ = 0;

    // Coded: 0 for an empty cell, else 1 + the index of the text in dictionary_.
    BlockArray<std::uint8_t> codes_;
    std::vector<std::string> dictionary_;

    // Packed: one word per row (see text_column.cpp for its forms), the bytes
    // of stored cells and of folders in 1 MiB chunks, texts longer than a
    // chunk apart.
    BlockArray<std::uint64_t> cells_;
    std::vector<std::vector<char>> chunks_;
    std::unordered_map<RowId, std::string> large_;
    std::vector<Folder> folders_;
    std::vector<std::uint32_t> slots_;  // folder + 1 by hash; 0 is an empty slot
    std::uint32_t lastFolder_ = 0;
    std::size_t garbage_ =
        0;  // dead bytes in the chunks, skipped chunk ends and unused folders included
};

}  // namespace grid
