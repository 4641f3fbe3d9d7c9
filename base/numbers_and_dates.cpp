#include "base/numbers_and_dates.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

#include "base/text_internal.h"

namespace base {

namespace {

using detail::isBlank;

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

}  // namespace base
