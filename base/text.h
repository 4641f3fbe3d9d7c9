// Text helpers. Text inside the program is a byte string: UTF-8 for what the
// program makes, and file names exactly as the file system gave them.

#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace base {

// Blanks (spaces and tabs) removed from both ends.
std::string trim(std::string_view text);
// Blanks removed from the start / the end only.
std::string trimLeft(std::string_view text);
std::string trimRight(std::string_view text);

// True when `bytes` is valid UTF-8 (a leading byte-order mark allowed).
bool isValidUtf8(std::string_view bytes) noexcept;
// Calls visit(line) for each line of `text`, the line end left out. A line
// ends at LF, CR LF or a lone CR; after a final line end there is no further
// line. Neither UTF-8 nor GBK has a byte below 0x30 inside a character, so a
// split never cuts one.
template <typename Visit>
void forEachLine(std::string_view text, Visit visit) {
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* start = begin;
    while (start < end) {
        const char* stop = start;
        while (stop < end && *stop != '\n' && *stop != '\r') ++stop;
        visit(std::string_view(start, static_cast<std::size_t>(stop - start)));
        start = stop + 1;
        if (stop + 1 < end && *stop == '\r' && stop[1] == '\n') ++start;
    }
}
// Appends code point `c` (at most U+10FFFF, not a surrogate) as UTF-8.
void appendUtf8(std::string& out, char32_t c);
// UTF-16 code units as UTF-8; a surrogate without its partner becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view units);
// `bytes` for display: invalid UTF-8 sequences become U+FFFD. The stored text
// is never changed by this.
std::string displayText(std::string_view bytes);
// A name as a command line prints it, so that each printed text reads back
// as exactly one name. A name that is not empty, does not begin with a double
// quote and holds only printable UTF-8 is printed as it is. Any other is put
// in double quotes, with "\\" and "\"" for a backslash and a double quote,
// "\t", "\n" and "\r" for a tab, a line feed and a carriage return, and "\"
// with three octal digits for every other control character's byte (C0, DEL,
// C1) and every byte that is not part of valid UTF-8 ("\377").
std::string quotedName(std::string_view name);

}  // namespace base
