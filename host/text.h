// Text helpers. Text inside the program is a byte string: UTF-8 for what the
// program makes, and file names exactly as the file system gave them.
//
// Positions and lengths of the GBK helpers count bytes of the text as it would
// be stored in GBK: an ASCII character counts 1, a character of GBK counts 2, a
// character only GB18030 encodes counts 4, and a byte that is not part of valid
// UTF-8 counts 1 (it is kept unchanged). Positions are 1-based. A cut never
// splits a character: only characters lying wholly inside the requested byte
// range are returned.
#pragma once

#include <cstdint>
#include <optional>
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

// Blanks (spaces and tabs) removed from both ends.
std::string trim(std::string_view text);
// Blanks removed from the start / the end only.
std::string trimLeft(std::string_view text);
std::string trimRight(std::string_view text);

// True when `text`, trimmed, is a decimal number ("12", "-3", "+4.5", "1e3").
bool isNumber(std::string_view text) noexcept;
// The integer `text` holds (trimmed, optional sign, digits); 0 when it is not a
// number. A decimal number is cut towards zero.
long long toInteger(std::string_view text) noexcept;
// "yyyy-mm-dd" (also "yyyy-m-d") naming a real calendar date.
bool isDate(std::string_view text) noexcept;
// "hh:mm:ss" (also "h:m:s", or "hh:mm") naming a real time of day.
bool isTime(std::string_view text) noexcept;
// `value` written with a digit pattern: "0000" pads to four digits, "00" to two.
std::string formatNumber(long long value, std::string_view pattern);
// `value` rounded to `decimals` places, written without trailing zeros after
// the point ("1.5", "1.53", "0", "4194304").
std::string formatDecimal(double value, int decimals);

// UTF-8 -> GBK bytes; characters outside GBK are written in GB18030 and bytes
// that are not valid UTF-8 pass through unchanged.
std::string utf8ToGbk(std::string_view utf8);
// GBK/GB18030 bytes -> UTF-8; bytes that do not decode pass through unchanged,
// so utf8ToGbk(gbkToUtf8(x)) == x for any bytes x that are valid GB18030 and for
// any lone bytes >= 0x80 that are not.
std::string gbkToUtf8(std::string_view gbk);
// True when `bytes` is valid UTF-8 (a leading byte-order mark allowed).
bool isValidUtf8(std::string_view bytes) noexcept;
// Text of unknown encoding (a text list, a .csv, clipboard bytes) as UTF-8. A
// byte-order mark (UTF-8, UTF-16LE, UTF-16BE) decides and is dropped; UTF-16
// without one is told by its zero bytes. Otherwise the evidence of the whole
// text decides between UTF-8 and GBK (looksLikeUtf8), each line is read in that
// encoding, and a line invalid in it is read in the other, so one stray byte
// changes one line, not the list. Lines end at LF, CR LF or a lone CR.
std::string unknownTextToUtf8(std::string_view bytes);
// The evidence unknownTextToUtf8 weighs (for `bytes` without a byte-order
// mark): every line that reads sensibly in one encoding only votes for it, and
// UTF-8 must win the vote, so a tie is GBK, what lists are on the desktops
// they come from. A line reads sensibly in GBK when it keeps to GB2312, and in
// UTF-8 when each of its words keeps to one alphabet; when both hold, a word
// mixing ASCII and accented letters ("café") or a character of three or more
// bytes still speaks for UTF-8. Invalid in one encoding is a vote for the other.
bool looksLikeUtf8(std::string_view bytes) noexcept;
// How unknownTextToUtf8 reads the lines of a text without a byte-order mark
// or zero bytes, from the evidence of all of them.
enum class LineEncoding {
    Utf8,         // every line as it is
    Gbk,          // every line from GBK
    Utf8ElseGbk,  // UTF-8, a line invalid in it from GBK
    GbkElseUtf8,  // GBK, a line invalid in it but valid UTF-8 as it is
};
// The evidence of a text read in pieces: given every line in order (line
// ends left out), it decides as unknownTextToUtf8 decides for the whole text.
class LineEvidence {
  public:
    void add(std::string_view line) noexcept;
    bool saysUtf8() const noexcept { return utf8Votes_ > gbkVotes_; }
    LineEncoding encoding() const noexcept;

  private:
    long utf8Votes_ = 0;
    long gbkVotes_ = 0;
    bool invalidUtf8Line_ = false;
    bool invalidGbkLine_ = false;
    bool nonAscii_ = false;
};
// True when `line` is kept as it is (it is UTF-8) in a text read as `encoding`.
bool lineIsUtf8(std::string_view line, LineEncoding encoding) noexcept;
// `line` in UTF-8 as a text read as `encoding` gives it: `line` itself when it
// is kept, else its conversion, held in `converted`.
std::string_view lineInUtf8(std::string_view line, LineEncoding encoding, std::string& converted);
// A list file's bytes (a text list, a .csv) as unknownTextToUtf8 reads them;
// nullopt when the text holds a NUL character, which no list does: the file is
// binary, or UTF-16 of a shape not recognised. Bytes that are UTF-8 already
// come back as they were given, not copied.
std::optional<std::string> listFileText(std::string bytes);
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

}  // namespace host
