#include "base/text.h"

#include <string>
#include <string_view>

#include "base/text_internal.h"

namespace base {

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

}  // namespace detail

std::string trimLeft(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && detail::isBlank(text[start])) ++start;
    return std::string(text.substr(start));
}

std::string trimRight(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && detail::isBlank(text[end - 1])) --end;
    return std::string(text.substr(0, end));
}

std::string trim(std::string_view text) {
    std::size_t start = 0, end = text.size();
    while (start < end && detail::isBlank(text[start])) ++start;
    while (end > start && detail::isBlank(text[end - 1])) --end;
    return std::string(text.substr(start, end - start));
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

}  // namespace base
