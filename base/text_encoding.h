// Telling the encoding of text that does not say what it is in: a byte-order
// mark, UTF-16's zero bytes, or the evidence of its lines for UTF-8 or GBK.
// The GBK conversion itself is the platform's (host/encoding.h) and is handed in.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace base {

// The evidence unknownTextToUtf8 weighs (for `bytes` without a byte-order
// mark): every line that reads sensibly in one encoding only votes for it, and
// UTF-8 must win the vote, so a tie is GBK, what lists are on the desktops
// they come from. A line reads sensibly in GBK when it keeps to GB2312, and in
// UTF-8 when each of its words keeps to one alphabet; when both hold, a word
// mixing ASCII and accented letters ("café") or a character of three or more
// bytes still speaks for UTF-8. Invalid in one encoding is a vote for the other.
bool looksLikeUtf8(std::string_view bytes) noexcept;
// How host::unknownTextToUtf8 reads the lines of a text without a byte-order
// mark or zero bytes, from the evidence of all of them.
enum class LineEncoding {
    Utf8,         // every line as it is
    Gbk,          // every line from GBK
    Utf8ElseGbk,  // UTF-8, a line invalid in it from GBK
    GbkElseUtf8,  // GBK, a line invalid in it but valid UTF-8 as it is
};
// The evidence of a text read in pieces: given every line in order (line
// ends left out), it decides as host::unknownTextToUtf8 decides for the whole
// text.
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

// The length of a UTF-8 byte-order mark at the start of `bytes`: 3 or 0.
std::size_t utf8MarkLength(std::string_view bytes) noexcept;

// `bytes` in UTF-8 as host::unknownTextToUtf8 reads them when that takes a
// conversion, GBK lines decoded by `decodeGbk`; nullopt when they are UTF-8 as
// they are (after their mark).
using GbkDecoder = std::string (*)(std::string_view gbk);
std::optional<std::string> convertedToUtf8(std::string_view bytes, GbkDecoder decodeGbk);

namespace detail {
// The UTF-8 to GBK loop both platforms' converters share: `utf8` is cut into
// its longest runs of valid UTF-8, each handed to `convertRun`, which appends
// the run's GB18030 bytes to `out` (and the UTF-8 bytes of a character it
// refuses); a byte that is not UTF-8 is kept as it is, so no name is lost.
std::string utf8ToGbkByRuns(
    std::string_view utf8,
    const std::function<void(std::string_view run, std::string& out)>& convertRun);
}  // namespace detail

}  // namespace base
