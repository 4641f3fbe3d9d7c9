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

bool looksLikeUtf8(std::string_view bytes) noexcept {
    auto asciiLetter = [](char32_t c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; };
    auto latinLetter = [](char32_t c) { return c >= 0xC0 && c <= 0x17F && c != 0xD7 && c != 0xF7; };
    bool longSequence = false;
    bool latinWords = true;  // every run of Latin letters so far beside an ASCII letter
    bool inRun = false, runBesideAscii = false;
    char32_t before = 0;
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        char32_t c = 0;
        const std::size_t length = detail::decodeUtf8(bytes.substr(offset), c);
        if (length == 0) return false;
        longSequence = longSequence || length >= 3;
        if (length == 1) {
            if (inRun && !runBesideAscii && !asciiLetter(c)) latinWords = false;
            inRun = false;
        } else if (!latinLetter(c)) {
            latinWords = false;
        } else if (!inRun) {
            inRun = true;
            runBesideAscii = asciiLetter(before);
        }
        before = c;
        offset += length;
    }
    if (inRun && !runBesideAscii) latinWords = false;
    return longSequence || latinWords;
}

std::string unknownTextToUtf8(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return std::string(bytes.substr(3));
    const bool little = bytes.substr(0, 2) == "\xFF\xFE";
    if (little || bytes.substr(0, 2) == "\xFE\xFF") {
        std::u16string units;
        units.reserve(bytes.size() / 2);
        for (std::size_t at = 2; at + 1 < bytes.size(); at += 2) {
            const auto first = static_cast<unsigned char>(bytes[at]);
            const auto second = static_cast<unsigned char>(bytes[at + 1]);
            units += static_cast<char16_t>(little ? (second << 8 | first) : (first << 8 | second));
        }
        std::string out = utf16ToUtf8(units);
        if (bytes.size() % 2 != 0) appendUtf8(out, 0xFFFD);
        return out;
    }
    return looksLikeUtf8(bytes) ? std::string(bytes) : gbkToUtf8(bytes);
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

}  // namespace host
