// The forms of a packed text column's cell word, shared by the column's
// files (text_column.cpp describes them).
#pragma once

#include <cstddef>
#include <cstdint>

namespace grid::text_cells {

inline constexpr std::uint64_t kStored = 0;
inline constexpr std::uint64_t kShort = 1;
inline constexpr std::uint64_t kTime = 2;
inline constexpr std::uint64_t kLength = 3;

inline constexpr unsigned kLengthShift = 2;
inline constexpr std::uint64_t kLengthMask = (std::uint64_t{1} << 22) - 1;
inline constexpr std::uint64_t kLarge = kLengthMask;
inline constexpr unsigned kOffsetShift = 24;
inline constexpr std::uint64_t kLargeCell = kLarge << kLengthShift;

inline std::size_t putNumber(std::uint32_t value, char* out) noexcept {
    std::size_t n = 0;
    while (value >= 0x80) {
        out[n++] = static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out[n++] = static_cast<char>(value);
    return n;
}

inline std::uint32_t getNumber(const char* in, std::size_t& n) noexcept {
    std::uint32_t value = 0;
    unsigned shift = 0;
    n = 0;
    while (true) {
        const auto byte = static_cast<unsigned char>(in[n++]);
        value |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
        if (byte < 0x80) return value;
        shift += 7;
    }
}

inline std::uint64_t storedCell(std::uint64_t offset, std::size_t length) noexcept {
    return (offset << kOffsetShift) | (static_cast<std::uint64_t>(length) << kLengthShift);
}

inline bool isStored(std::uint64_t cell) noexcept {
    return (cell & 3) == kStored;
}
inline std::size_t storedLength(std::uint64_t cell) noexcept {
    return static_cast<std::size_t>((cell >> kLengthShift) & kLengthMask);
}
// A stored cell whose bytes are in the chunks.
inline bool inChunks(std::uint64_t cell) noexcept {
    const std::size_t length = storedLength(cell);
    return isStored(cell) && length != 0 && length != kLarge;
}

}  // namespace grid::text_cells
