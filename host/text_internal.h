// Pieces shared by the text helpers and the encoding converters.
#pragma once

#include <cstddef>
#include <string_view>

namespace host::detail {

// Length of the valid UTF-8 character at the start of `text` (1..4) and its
// code point in `codePoint`; 0 when the first byte does not begin one (a lone
// continuation byte, an overlong form, a surrogate, a value above U+10FFFF or a
// truncated sequence).
std::size_t decodeUtf8(std::string_view text, char32_t& codePoint) noexcept;

// Bytes the character `codePoint` takes in GB18030 as utf8ToGbk writes it: 1
// for ASCII, 2 for a GBK character, 4 for one only GB18030 encodes. The few
// characters the converter refuses are copied as their UTF-8 bytes and count
// that many.
int gb18030Width(char32_t codePoint) noexcept;

inline bool isAscii(std::string_view text) noexcept {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace host::detail
