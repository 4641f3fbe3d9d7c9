#include "base/text_encoding.h"

#include <optional>
#include <string>
#include <string_view>

#include "base/text.h"
#include "base/text_internal.h"

namespace base {

namespace detail {

std::string utf8ToGbkByRuns(
    std::string_view utf8,
    const std::function<void(std::string_view run, std::string& out)>& convertRun) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    char32_t codePoint = 0;
    while (pos < utf8.size()) {
        std::size_t runEnd = pos;
        while (runEnd < utf8.size()) {
            const std::size_t length = decodeUtf8(utf8.substr(runEnd), codePoint);
            if (length == 0) break;
            runEnd += length;
        }
        convertRun(utf8.substr(pos, runEnd - pos), out);
        if (runEnd < utf8.size()) {
            out.push_back(utf8[runEnd]);  // not UTF-8: kept as it is
            ++runEnd;
        }
        pos = runEnd;
    }
    return out;
}

}  // namespace detail

namespace {

// How a line reads in one encoding: not at all, only as something people seldom
// write, or plausibly.
enum class Reading { Invalid, Unusual, Plausible };

// GBK as GB18030 decodes it. Plausible keeps to GB2312 (the symbols and the
// 6,763 hanzi of rows A1-A9 and B0-F7) and GBK's other hanzi (GBK/3 and
// GBK/4, where the traditional characters are: 螞蟻, 藥品); its user-defined
// areas, other symbols and the four-byte characters are valid but rare. UTF-8
// lands in GBK's hanzi too (UTF-8 "Привет" reads as 袩 and 螘), so the
// UTF-8 reading needs evidence of its own to win (utf8Reading's `strong`).
Reading gbkReading(std::string_view line) noexcept {
    Reading reading = Reading::Plausible;
    const std::size_t n = line.size();
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(line[i]); };
    for (std::size_t i = 0; i < n;) {
        const unsigned char lead = at(i);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead == 0x80 || lead == 0xFF || i + 1 == n) return Reading::Invalid;
        const unsigned char trail = at(i + 1);
        if (trail >= 0x30 && trail <= 0x39) {  // a four-byte GB18030 character
            if (i + 3 >= n || !((lead >= 0x81 && lead <= 0x84) || (lead >= 0x90 && lead <= 0xE3)) ||
                at(i + 2) < 0x81 || at(i + 2) == 0xFF || at(i + 3) < 0x30 || at(i + 3) > 0x39)
                return Reading::Invalid;
            reading = Reading::Unusual;
            i += 4;
            continue;
        }
        if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return Reading::Invalid;
        const bool gb2312 = ((lead >= 0xA1 && lead <= 0xA9) || (lead >= 0xB0 && lead <= 0xF7)) &&
                            trail >= 0xA1 && !(lead == 0xD7 && trail >= 0xFA);
        const bool otherHanzi =
            (lead >= 0x81 && lead <= 0xA0) || (lead >= 0xAA && lead <= 0xFE && trail <= 0xA0);
        if (!gb2312 && !otherHanzi) reading = Reading::Unusual;
        i += 2;
    }
    return reading;
}

// The alphabet a character belongs to, coarsely: a word of a real name keeps
// to one. Neutral characters (digits, punctuation, signs like µ ° ©, combining
// marks) belong to any word and end none; Unusual ones (C1 controls, private
// use, U+FFFD) are not written in names at all.
constexpr int kNeutral = 0, kUnusualCharacter = -1, kLatin = 1, kGreek = 2, kCyrillic = 3, kHan = 4,
              kHangul = 5;

int scriptOf(char32_t c) noexcept {
    if (c < 0x80) return ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') ? kLatin : kNeutral;
    if (c < 0xA0) return kUnusualCharacter;
    if (c < 0xC0 || c == 0xD7 || c == 0xF7) return kNeutral;
    if (c < 0x2B0) return kLatin;
    if (c < 0x370) return kNeutral;
    if (c < 0x400) return kGreek;
    if (c < 0x530) return kCyrillic;
    if (c >= 0x1100 && c < 0x1200) return kHangul;
    if (c >= 0x1E00 && c < 0x1F00) return kLatin;
    if (c >= 0x1F00 && c < 0x2000) return kGreek;
    if (c >= 0x2000 && c < 0x2E80) return kNeutral;
    if (c >= 0x3000 && c < 0x3040) return kNeutral;  // CJK punctuation
    if (c >= 0x3130 && c < 0x3190) return kHangul;
    if (c >= 0x2E80 && c < 0xA000) return kHan;  // with kana and bopomofo: Japanese mixes them
    if (c >= 0xAC00 && c < 0xD7B0) return kHangul;
    if (c >= 0xE000 && c < 0xF900) return kUnusualCharacter;
    if (c >= 0xF900 && c < 0xFB00) return kHan;
    if (c >= 0xFE30 && c < 0xFE50) return kNeutral;
    if (c >= 0xFF00 && c < 0xFFF0) return kNeutral;  // full-width forms
    if (c >= 0xFFF0 && c < 0x10000) return kUnusualCharacter;
    if (c >= 0x1F000 && c < 0x20000) return kNeutral;  // emoji and other pictographs
    if (c >= 0x20000 && c < 0x40000) return kHan;
    return 16 + static_cast<int>(c >> 8);  // other scripts, told apart by their block
}

// UTF-8: Plausible when every word keeps to one alphabet. `strong` is set for
// what a GBK text hardly ever reads as: a word mixing ASCII letters with
// accented ones ("café"), accented letters beside a word of plain ones
// ("À la carte"), a letter of three or more bytes, or a word of four or more
// letters of another two-byte alphabet ("Привет"; two GBK hanzi often read as
// a two-letter Greek or Cyrillic word). A combining mark with no letter
// before it, or Syriac punctuation, is no word at all.
Reading utf8Reading(std::string_view line, bool& strong) noexcept {
    Reading reading = Reading::Plausible;
    int wordScript = kNeutral;
    bool wordAscii = false, wordAccented = false;
    int wordLetters = 0;
    bool accented = false, spacedAsciiWord = false, afterSpace = false;
    strong = false;
    std::size_t offset = 0;
    while (offset < line.size()) {
        char32_t c = 0;
        const std::size_t length = detail::decodeUtf8(line.substr(offset), c);
        if (length == 0) return Reading::Invalid;
        offset += length;
        const bool spaceBefore = afterSpace;
        afterSpace = c == ' ';
        const int script = scriptOf(c);
        const bool combining = c >= 0x300 && c < 0x370;
        if (combining && wordScript != kNeutral) continue;  // it marks the letter before
        if ((combining || (c >= 0x700 && c < 0x710)) && wordScript == kNeutral)
            reading = Reading::Unusual;
        if (script == kNeutral) {
            wordScript = kNeutral;
            wordAscii = wordAccented = false;
            wordLetters = 0;
            continue;
        }
        if (script == kUnusualCharacter || (wordScript != kNeutral && wordScript != script))
            reading = Reading::Unusual;
        wordScript = script;
        wordAscii = wordAscii || c < 0x80;
        wordAccented = wordAccented || (c >= 0x80 && script == kLatin);
        if (wordLetters == 0 && spaceBefore && c < 0x80) spacedAsciiWord = true;
        accented = accented || (c >= 0x80 && script == kLatin);
        ++wordLetters;
        if ((wordAscii && wordAccented) || length >= 3 ||
            (length == 2 && script != kLatin && wordLetters >= 4))
            strong = true;
    }
    if (accented && spacedAsciiWord) strong = true;
    return reading;
}

// What the lines of a text say about its encoding. A line both readings make
// sense of says nothing: most short GBK names are valid UTF-8 too ("茅" is
// the bytes of "é").
LineEvidence weigh(std::string_view text) noexcept {
    LineEvidence evidence;
    forEachLine(text, [&](std::string_view line) { evidence.add(line); });
    return evidence;
}

// UTF-16 without a byte-order mark, told by its zero bytes: a list is mostly
// ASCII (at least its line ends and extensions), whose characters have a zero
// high byte. The length must be even, at least a quarter of the units must
// look so in one byte order and none may be a zero character.
// 1 = little-endian, 2 = big-endian, 0 = not UTF-16.
int utf16ByteOrder(std::string_view bytes) noexcept {
    if (bytes.size() % 2 != 0) return 0;
    std::size_t units = bytes.size() / 2, littleAscii = 0, bigAscii = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const bool firstZero = bytes[i] == '\0', secondZero = bytes[i + 1] == '\0';
        if (firstZero && secondZero) return 0;
        littleAscii += secondZero && static_cast<unsigned char>(bytes[i]) < 0x80;
        bigAscii += firstZero && static_cast<unsigned char>(bytes[i + 1]) < 0x80;
    }
    if (littleAscii >= bigAscii && littleAscii * 4 >= units && littleAscii > 0) return 1;
    if (bigAscii > littleAscii && bigAscii * 4 >= units) return 2;
    return 0;
}

std::string utf16BytesToUtf8(std::string_view bytes, bool little) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
        const auto first = static_cast<unsigned char>(bytes[at]);
        const auto second = static_cast<unsigned char>(bytes[at + 1]);
        units += static_cast<char16_t>(little ? (second << 8 | first) : (first << 8 | second));
    }
    std::string out = utf16ToUtf8(units);
    if (bytes.size() % 2 != 0) appendUtf8(out, 0xFFFD);
    return out;
}

}  // namespace

void LineEvidence::add(std::string_view line) noexcept {
    if (detail::isAscii(line)) return;
    nonAscii_ = true;
    bool strong = false;
    const Reading utf8 = utf8Reading(line, strong);
    const Reading gbk = gbkReading(line);
    invalidUtf8Line_ = invalidUtf8Line_ || utf8 == Reading::Invalid;
    invalidGbkLine_ = invalidGbkLine_ || gbk == Reading::Invalid;
    if (utf8 == Reading::Invalid) {
        gbkVotes_ += gbk != Reading::Invalid;
    } else if (gbk == Reading::Invalid) {
        ++utf8Votes_;
    } else if (utf8 == Reading::Plausible && (gbk != Reading::Plausible || strong)) {
        ++utf8Votes_;
    } else if (gbk == Reading::Plausible && utf8 != Reading::Plausible) {
        ++gbkVotes_;
    }
}

LineEncoding LineEvidence::encoding() const noexcept {
    // ASCII reads the same in either encoding, and is kept as it is.
    if (!nonAscii_) return LineEncoding::Utf8;
    if (saysUtf8()) return invalidUtf8Line_ ? LineEncoding::Utf8ElseGbk : LineEncoding::Utf8;
    return invalidGbkLine_ ? LineEncoding::GbkElseUtf8 : LineEncoding::Gbk;
}

bool lineIsUtf8(std::string_view line, LineEncoding encoding) noexcept {
    switch (encoding) {
        case LineEncoding::Utf8:
            return true;
        case LineEncoding::Gbk:
            return false;
        case LineEncoding::Utf8ElseGbk:
            return isValidUtf8(line);
        case LineEncoding::GbkElseUtf8:
            // A line invalid in both is read as GBK, which keeps the bytes it
            // cannot decode.
            return gbkReading(line) == Reading::Invalid && isValidUtf8(line);
    }
    return true;
}

bool looksLikeUtf8(std::string_view bytes) noexcept {
    return weigh(bytes).saysUtf8();
}

std::size_t utf8MarkLength(std::string_view bytes) noexcept {
    return bytes.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

std::optional<std::string> convertedToUtf8(std::string_view bytes, GbkDecoder decodeGbk) {
    if (utf8MarkLength(bytes) > 0) return std::nullopt;
    const bool little = bytes.substr(0, 2) == "\xFF\xFE";
    if (little || bytes.substr(0, 2) == "\xFE\xFF")
        return utf16BytesToUtf8(bytes.substr(2), little);
    if (bytes.find('\0') != std::string_view::npos) {
        if (const int order = utf16ByteOrder(bytes)) return utf16BytesToUtf8(bytes, order == 1);
    }
    if (detail::isAscii(bytes)) return std::nullopt;
    const LineEncoding encoding = weigh(bytes).encoding();
    if (encoding == LineEncoding::Utf8) return std::nullopt;
    if (encoding == LineEncoding::Gbk) return decodeGbk(bytes);
    // Each line in the text's encoding, or in the other where it is invalid;
    // runs of lines in one encoding are converted at once.
    const bool utf8 = encoding == LineEncoding::Utf8ElseGbk;
    std::string out;
    out.reserve(bytes.size() + (utf8 ? 0 : bytes.size() / 2));
    std::size_t runStart = 0;
    bool runUtf8 = utf8;
    auto flush = [&](std::size_t end) {
        const std::string_view run = bytes.substr(runStart, end - runStart);
        if (runUtf8) {
            out.append(run);
        } else {
            out += decodeGbk(run);
        }
        runStart = end;
    };
    forEachLine(bytes, [&](std::string_view line) {
        const bool lineUtf8 = lineIsUtf8(line, encoding);
        if (lineUtf8 != runUtf8) {
            flush(static_cast<std::size_t>(line.data() - bytes.data()));
            runUtf8 = lineUtf8;
        }
    });
    flush(bytes.size());
    return out;
}

}  // namespace base
