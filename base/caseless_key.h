// Names compared as file systems that ignore case compare them.
#pragma once

#include <string>
#include <string_view>

namespace base {

// The text every spelling of one name shares on a file system that ignores
// case or the way accents are written: Unicode simple case folding of its
// canonical decomposition (decomposed, folded, decomposed again), so "É",
// "é" and "e" with a combining acute give one text. Bytes that are not UTF-8
// stay as they are. For comparing only; never shown or used as a name.
std::string caselessKey(std::string_view text);
// The characters of a name, for matching it against patterns: each UTF-8
// character as its code point, a byte that does not begin one as
// kNotACharacter + its value; with `foldCase`, Unicode simple case folding of
// each character, nothing else, as a file system that ignores case compares.
inline constexpr char32_t kNotACharacter = 0x110000;
std::u32string nameCharacters(std::string_view text, bool foldCase);
}  // namespace base
