// Pieces shared by the text helpers of base/ and host/'s converters.
#pragma once

#include <cstddef>
#include <string_view>

namespace base::detail {

// Length of the valid UTF-8 character at the start of `text` (1..4) and its
// code point in `codePoint`; 0 when the first byte does not begin one (a lone
// continuation byte, an overlong form, a surrogate, a value above U+10FFFF or a
// truncated sequence).
std::size_t decodeUtf8(std::string_view text, char32_t& codePoint) noexcept;

inline bool isAscii(std::string_view text) noexcept {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

// The blanks that trimming removes: spaces and tabs.
inline bool isBlank(char c) noexcept {
    return c == ' ' || c == '\t';
}

}  // namespace base::detail
