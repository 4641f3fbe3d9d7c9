// Positions and lengths of the GBK helpers count bytes of the text as it would
// be stored in GBK: an ASCII character counts 1, a character of GBK counts 2, a
// character only GB18030 encodes counts 4, and a byte that is not part of valid
// UTF-8 counts 1 (it is kept unchanged). Positions are 1-based. A cut never
// splits a character: only characters lying wholly inside the requested byte
// range are returned. Which characters GBK holds is the platform converter's
// answer (host/encoding.h), so these helpers live beside it.
#pragma once

#include <string>
#include <string_view>

namespace host {

// Length of `text` in GBK bytes.
long gbkLength(std::string_view text) noexcept;
// The characters within the first `count` GBK bytes.
std::string gbkLeft(std::string_view text, long count);
// The characters within the last `count` GBK bytes.
std::string gbkRight(std::string_view text, long count);
// The characters within GBK bytes [start, start + count - 1]; count < 0 means
// "to the end". start < 1 is treated as 1.
std::string gbkMid(std::string_view text, long start, long count = -1);
// GBK position of the first occurrence of `needle` that starts at or after GBK
// position `from` (on a character boundary); 0 when there is none.
long gbkFind(std::string_view text, std::string_view needle, long from = 1) noexcept;

}  // namespace host
