// Pieces shared by the text helpers and the encoding converters.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
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

// The UTF-8 to GBK loop both platforms' converters share: `utf8` is cut into
// its longest runs of valid UTF-8, each handed to `convertRun`, which appends
// the run's GB18030 bytes to `out` (and the UTF-8 bytes of a character it
// refuses); a byte that is not UTF-8 is kept as it is, so no name is lost.
std::string utf8ToGbkByRuns(
    std::string_view utf8,
    const std::function<void(std::string_view run, std::string& out)>& convertRun);

inline bool isAscii(std::string_view text) noexcept {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace host::detail
