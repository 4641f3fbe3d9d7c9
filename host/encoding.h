// GBK and GB18030 through the platform's converter, and text of unknown
// encoding read as UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/text_encoding.h"

namespace host {

// UTF-8 -> GBK bytes; characters outside GBK are written in GB18030 and bytes
// that are not valid UTF-8 pass through unchanged.
std::string utf8ToGbk(std::string_view utf8);
// GBK/GB18030 bytes -> UTF-8; bytes that do not decode pass through unchanged,
// so utf8ToGbk(gbkToUtf8(x)) == x for any bytes x that are valid GB18030 and for
// any lone bytes >= 0x80 that are not.
std::string gbkToUtf8(std::string_view gbk);
// Text of unknown encoding (a text list, a .csv, clipboard bytes) as UTF-8. A
// byte-order mark (UTF-8, UTF-16LE, UTF-16BE) decides and is dropped; UTF-16
// without one is told by its zero bytes. Otherwise the evidence of the whole
// text decides between UTF-8 and GBK (base::looksLikeUtf8), each line is read in that
// encoding, and a line invalid in it is read in the other, so one stray byte
// changes one line, not the list. Lines end at LF, CR LF or a lone CR.
std::string unknownTextToUtf8(std::string_view bytes);
// A list file's bytes (a text list, a .csv) as unknownTextToUtf8 reads them;
// nullopt when the text holds a NUL character, which no list does: the file is
// binary, or UTF-16 of a shape not recognised. Bytes that are UTF-8 already
// come back as they were given, not copied.
std::optional<std::string> listFileText(std::string bytes);
// `line` in UTF-8 as a text read as `encoding` gives it: `line` itself when it
// is kept, else its conversion, held in `converted`.
std::string_view lineInUtf8(std::string_view line, base::LineEncoding encoding,
                            std::string& converted);

namespace detail {
// Bytes the character `codePoint` takes in GB18030 as utf8ToGbk writes it: 1
// for ASCII, 2 for a GBK character, 4 for one only GB18030 encodes. The few
// characters the converter refuses are copied as their UTF-8 bytes and count
// that many.
int gb18030Width(char32_t codePoint) noexcept;
}  // namespace detail

}  // namespace host
