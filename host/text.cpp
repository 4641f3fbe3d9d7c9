#include "host/text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

#include "host/text_internal.h"

namespace host {

namespace detail {

std::size_t decodeUtf8(std::string_view text, char32_t& codePoint) noexcept {
    if (text.empty()) return 0;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char first = byte(0);
    if (first < 0x80) {
        codePoint = first;
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        if (first == 0xE0) low = 0xA0;   // overlong
        if (first == 0xED) high = 0x9F;  // surrogates
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        if (first == 0xF0) low = 0x90;   // overlong
        if (first == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    char32_t value = first & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) value = (value << 6) | (byte(i) & 0x3F);
    codePoint = value;
    return length;
}

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

// Calls visit(byteOffset, byteLength, gbkWidth) for each character until it
// returns false. A byte that does not begin valid UTF-8 is a character of its own.
template <class Visit>
void forEachCharacter(std::string_view text, Visit visit) {
    std::size_t offset = 0;
    while (offset < text.size()) {
        char32_t codePoint = 0;
        std::size_t length = detail::decodeUtf8(text.substr(offset), codePoint);
        long width = 1;
        if (length == 0)
            length = 1;
        else
            width = detail::gb18030Width(codePoint);
        if (!visit(offset, length, width)) return;
        offset += length;
    }
}

bool isBlank(char c) noexcept {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// Reads 1..maxDigits digits at `pos`; false when there are none or too many.
bool readNumber(std::string_view text, std::size_t& pos, std::size_t maxDigits, int& value) {
    std::size_t start = pos;
    value = 0;
    while (pos < text.size() && isDigit(text[pos])) {
        if (pos - start == maxDigits) return false;
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    return pos > start;
}

}  // namespace

long gbkLength(std::string_view text) noexcept {
    if (detail::isAscii(text)) return static_cast<long>(text.size());
    long total = 0;
    forEachCharacter(text, [&](std::size_t, std::size_t, long width) {
        total += width;
        return true;
    });
    return total;
}

std::string gbkLeft(std::string_view text, long count) {
    return gbkMid(text, 1, count < 0 ? 0 : count);
}

std::string gbkRight(std::string_view text, long count) {
    if (count <= 0) return {};
    long total = gbkLength(text);
    if (count >= total) return std::string(text);
    return gbkMid(text, total - count + 1);
}

std::string gbkMid(std::string_view text, long start, long count) {
    if (start < 1) start = 1;
    if (count == 0) return {};
    if (detail::isAscii(text)) {
        auto first = static_cast<std::size_t>(start - 1);
        if (first >= text.size()) return {};
        return std::string(text.substr(
            first, count < 0 ? std::string_view::npos : static_cast<std::size_t>(count)));
    }
    // GBK byte range [first, last) as 0-based offsets.
    const long long first = start - 1;
    // A range running past the largest position (a huge count) means "to the end".
    constexpr long long kEnd = std::numeric_limits<long long>::max();
    const long long last = count < 0 || count > kEnd - first ? kEnd : first + count;
    std::size_t begin = text.size(), end = text.size();
    bool started = false;
    long long position = 0;
    forEachCharacter(text, [&](std::size_t offset, std::size_t, long width) {
        if (!started && position >= first) {
            started = true;
            begin = offset;
        }
        if (started && position + width > last) {
            end = offset;
            return false;
        }
        position += width;
        return true;
    });
    if (!started) return {};
    return std::string(text.substr(begin, end - begin));
}

long gbkFind(std::string_view text, std::string_view needle, long from) noexcept {
    if (needle.empty() || needle.size() > text.size()) return 0;
    if (from < 1) from = 1;
    if (detail::isAscii(text)) {
        std::size_t found = text.find(needle, static_cast<std::size_t>(from - 1));
        return found == std::string_view::npos ? 0 : static_cast<long>(found) + 1;
    }
    long result = 0;
    long position = 1;
    forEachCharacter(text, [&](std::size_t offset, std::size_t, long width) {
        if (position >= from && text.size() - offset >= needle.size() &&
            std::memcmp(text.data() + offset, needle.data(), needle.size()) == 0) {
            result = position;
            return false;
        }
        position += width;
        return text.size() - offset > needle.size();
    });
    return result;
}

std::string trimLeft(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && isBlank(text[start])) ++start;
    return std::string(text.substr(start));
}

std::string trimRight(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && isBlank(text[end - 1])) --end;
    return std::string(text.substr(0, end));
}

std::string trim(std::string_view text) {
    std::size_t start = 0, end = text.size();
    while (start < end && isBlank(text[start])) ++start;
    while (end > start && isBlank(text[end - 1])) --end;
    return std::string(text.substr(start, end - start));
}

bool isNumber(std::string_view text) noexcept {
    std::size_t start = 0, end = text.size();
    while (start < end && isBlank(text[start])) ++start;
    while (end > start && isBlank(text[end - 1])) --end;
    std::string_view body = text.substr(start, end - start);
    std::size_t pos = 0;
    if (pos < body.size() && (body[pos] == '+' || body[pos] == '-')) ++pos;
    std::size_t digits = 0;
    while (pos < body.size() && isDigit(body[pos])) ++pos, ++digits;
    if (pos < body.size() && body[pos] == '.') {
        ++pos;
        while (pos < body.size() && isDigit(body[pos])) ++pos, ++digits;
    }
    if (digits == 0) return false;
    if (pos < body.size() && (body[pos] == 'e' || body[pos] == 'E')) {
        ++pos;
        if (pos < body.size() && (body[pos] == '+' || body[pos] == '-')) ++pos;
        std::size_t exponentDigits = 0;
        while (pos < body.size() && isDigit(body[pos])) ++pos, ++exponentDigits;
        if (exponentDigits == 0) return false;
    }
    return pos == body.size();
}

long long toInteger(std::string_view text) noexcept {
    if (!isNumber(text)) return 0;
    std::size_t start = 0, end = text.size();
    while (isBlank(text[start])) ++start;
    while (isBlank(text[end - 1])) --end;
    std::string_view body = text.substr(start, end - start);
    bool negative = body.front() == '-';
    if (body.front() == '+' || body.front() == '-') body.remove_prefix(1);
    long long value = 0;
    auto [rest, error] = std::from_chars(body.data(), body.data() + body.size(), value);
    if (error == std::errc() && rest == body.data() + body.size()) return negative ? -value : value;
    if (error == std::errc::result_out_of_range && negative &&
        body == std::to_string(std::numeric_limits<long long>::min()).substr(1))
        return std::numeric_limits<long long>::min();
    // A fraction or an exponent: cut towards zero. Out of range is not a number.
    double real = 0;
    auto [realRest, realError] = std::from_chars(body.data(), body.data() + body.size(), real);
    if (realError != std::errc() || realRest != body.data() + body.size()) return 0;
    real = std::trunc(real);
    if (!(real < 9.2e18)) return 0;
    long long whole = static_cast<long long>(real);
    return negative ? -whole : whole;
}

bool isDate(std::string_view text) noexcept {
    std::size_t pos = 0;
    int year = 0, month = 0, day = 0;
    std::size_t yearStart = pos;
    if (!readNumber(text, pos, 4, year) || pos - yearStart != 4) return false;
    if (pos >= text.size() || text[pos++] != '-') return false;
    if (!readNumber(text, pos, 2, month)) return false;
    if (pos >= text.size() || text[pos++] != '-') return false;
    if (!readNumber(text, pos, 2, day)) return false;
    if (pos != text.size()) return false;
    if (year < 1 || month < 1 || month > 12 || day < 1) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int monthDays = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= monthDays;
}

bool isTime(std::string_view text) noexcept {
    std::size_t pos = 0;
    int hour = 0, minute = 0, second = 0;
    if (!readNumber(text, pos, 2, hour)) return false;
    if (pos >= text.size() || text[pos++] != ':') return false;
    if (!readNumber(text, pos, 2, minute)) return false;
    if (pos < text.size()) {
        if (text[pos++] != ':') return false;
        if (!readNumber(text, pos, 2, second)) return false;
        if (pos < text.size()) {
            // Fractions of a second: up to six digits.
            if (text[pos++] != '.') return false;
            int fraction = 0;
            if (!readNumber(text, pos, 6, fraction) || pos != text.size()) return false;
        }
    }
    return hour <= 23 && minute <= 59 && second <= 59;
}

std::string formatNumber(long long value, std::string_view pattern) {
    std::size_t minimumDigits = 0;
    for (char c : pattern)
        if (c == '0') ++minimumDigits;
    unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    std::string digits = std::to_string(magnitude);
    if (digits.size() < minimumDigits) digits.insert(0, minimumDigits - digits.size(), '0');
    return value < 0 ? "-" + digits : digits;
}

std::string formatDecimal(double value, int decimals) {
    if (!std::isfinite(value)) return "0";
    if (decimals < 0) decimals = 0;
    // Round the shortest decimal form of the value, half away from zero, so that
    // 2.675 rounds to 2.68 as it reads rather than as its binary value.
    char buffer[400];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (error != std::errc()) return "0";
    std::string text(buffer, end);
    bool negative = !text.empty() && text.front() == '-';
    if (negative) text.erase(0, 1);
    std::size_t point = text.find('.');
    std::string whole = point == std::string::npos ? text : text.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if (fraction.size() > static_cast<std::size_t>(decimals)) {
        bool roundUp = fraction[decimals] >= '5';
        fraction.resize(decimals);
        if (roundUp) {
            std::string digits = whole + fraction;
            std::size_t i = digits.size();
            while (i > 0) {
                --i;
                if (digits[i] == '9') {
                    digits[i] = '0';
                } else {
                    ++digits[i];
                    break;
                }
                if (i == 0) digits.insert(0, 1, '1');
            }
            whole = digits.substr(0, digits.size() - fraction.size());
            fraction = digits.substr(digits.size() - fraction.size());
        }
    }
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    std::string result = fraction.empty() ? whole : whole + "." + fraction;
    if (negative && result.find_first_not_of("0.") != std::string::npos) result.insert(0, 1, '-');
    return result;
}

bool isValidUtf8(std::string_view bytes) noexcept {
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        char32_t codePoint = 0;
        std::size_t length = detail::decodeUtf8(bytes.substr(offset), codePoint);
        if (length == 0) return false;
        offset += length;
    }
    return true;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string utf16ToUtf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size() * 3);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char32_t unit = units[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            appendUtf8(out, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
        }
    }
    return out;
}

namespace {

// How a line reads in one encoding: not at all, only as something people seldom
// write, or plausibly.
enum class Reading { Invalid, Unusual, Plausible };

// GBK as GB18030 decodes it. Plausible keeps to GB2312 (the symbols and the
// 6,763 hanzi of rows A1-A9 and B0-F7); the rest of GBK is valid but rare, and
// it is where UTF-8 lands, whose continuation bytes lie below 0xA1 more often
// than not (UTF-8 "Привет" reads as GBK characters like 袩 and 螘).
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
        if (!gb2312) reading = Reading::Unusual;
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
// accented ones ("café"), or a letter of three or more bytes.
Reading utf8Reading(std::string_view line, bool& strong) noexcept {
    Reading reading = Reading::Plausible;
    int wordScript = kNeutral;
    bool wordAscii = false, wordAccented = false;
    strong = false;
    std::size_t offset = 0;
    while (offset < line.size()) {
        char32_t c = 0;
        const std::size_t length = detail::decodeUtf8(line.substr(offset), c);
        if (length == 0) return Reading::Invalid;
        offset += length;
        const int script = scriptOf(c);
        if (script == kNeutral) {
            wordScript = kNeutral;
            wordAscii = wordAccented = false;
            continue;
        }
        if (script == kUnusualCharacter || (wordScript != kNeutral && wordScript != script))
            reading = Reading::Unusual;
        wordScript = script;
        wordAscii = wordAscii || c < 0x80;
        wordAccented = wordAccented || (c >= 0x80 && script == kLatin);
        if ((wordAscii && wordAccented) || length >= 3) strong = true;
    }
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

std::string_view lineInUtf8(std::string_view line, LineEncoding encoding, std::string& converted) {
    if (lineIsUtf8(line, encoding)) return line;
    converted = gbkToUtf8(line);
    return converted;
}

bool looksLikeUtf8(std::string_view bytes) noexcept {
    return weigh(bytes).saysUtf8();
}

namespace {

// The length of a UTF-8 byte-order mark at the start of `bytes`: 3 or 0.
std::size_t utf8MarkLength(std::string_view bytes) noexcept {
    return bytes.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

// `bytes` in UTF-8 as unknownTextToUtf8 reads them when that takes a
// conversion; nullopt when they are UTF-8 as they are (after their mark).
std::optional<std::string> convertedToUtf8(std::string_view bytes) {
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
    if (encoding == LineEncoding::Gbk) return gbkToUtf8(bytes);
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
            out += gbkToUtf8(run);
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

}  // namespace

std::string unknownTextToUtf8(std::string_view bytes) {
    if (std::optional<std::string> converted = convertedToUtf8(bytes)) return std::move(*converted);
    return std::string(bytes.substr(utf8MarkLength(bytes)));
}

std::optional<std::string> listFileText(std::string bytes) {
    // Text that is UTF-8 already (most lists) is kept, not copied: a list of a
    // million names is then held once while it is read.
    if (std::optional<std::string> converted = convertedToUtf8(bytes)) {
        bytes = std::move(*converted);
    } else {
        bytes.erase(0, utf8MarkLength(bytes));
    }
    if (bytes.find('\0') != std::string::npos) return std::nullopt;
    return bytes;
}

std::string displayText(std::string_view bytes) {
    if (isValidUtf8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 8);
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        char32_t codePoint = 0;
        std::size_t length = detail::decodeUtf8(bytes.substr(offset), codePoint);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++offset;
        } else {
            out.append(bytes.substr(offset, length));
            offset += length;
        }
    }
    return out;
}

namespace {

// A code point a terminal acts on instead of showing: C0 controls, DEL, C1.
bool isControl(char32_t c) noexcept {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool printsAsItIs(std::string_view name) noexcept {
    if (name.empty() || name.front() == '"') return false;
    for (std::size_t offset = 0; offset < name.size();) {
        char32_t codePoint = 0;
        const std::size_t length = detail::decodeUtf8(name.substr(offset), codePoint);
        if (length == 0 || isControl(codePoint)) return false;
        offset += length;
    }
    return true;
}

void appendOctal(std::string& out, unsigned char byte) {
    out += '\\';
    out += static_cast<char>('0' + (byte >> 6));
    out += static_cast<char>('0' + ((byte >> 3) & 7));
    out += static_cast<char>('0' + (byte & 7));
}

}  // namespace

std::string quotedName(std::string_view name) {
    if (printsAsItIs(name)) return std::string(name);
    std::string out = "\"";
    out.reserve(name.size() + 8);
    for (std::size_t offset = 0; offset < name.size();) {
        char32_t codePoint = 0;
        const std::size_t length = detail::decodeUtf8(name.substr(offset), codePoint);
        if (length == 0) {
            appendOctal(out, static_cast<unsigned char>(name[offset++]));
            continue;
        }
        switch (codePoint) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (isControl(codePoint)) {
                    for (std::size_t i = 0; i < length; ++i)
                        appendOctal(out, static_cast<unsigned char>(name[offset + i]));
                } else {
                    out.append(name.substr(offset, length));
                }
        }
        offset += length;
    }
    out += '"';
    return out;
}

}  // namespace host
