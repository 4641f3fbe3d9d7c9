#include "host/gbk_positions.h"

#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "base/text_internal.h"
#include "host/encoding.h"

namespace host {

namespace {

// Calls visit(byteOffset, byteLength, gbkWidth) for each character until it
// returns false. A byte that does not begin valid UTF-8 is a character of its own.
template <class Visit>
void forEachCharacter(std::string_view text, Visit visit) {
    std::size_t offset = 0;
    while (offset < text.size()) {
        char32_t codePoint = 0;
        std::size_t length = base::detail::decodeUtf8(text.substr(offset), codePoint);
        long width = 1;
        if (length == 0)
            length = 1;
        else
            width = detail::gb18030Width(codePoint);
        if (!visit(offset, length, width)) return;
        offset += length;
    }
}

}  // namespace

long gbkLength(std::string_view text) noexcept {
    if (base::detail::isAscii(text)) return static_cast<long>(text.size());
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
    if (base::detail::isAscii(text)) {
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
    if (base::detail::isAscii(text)) {
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

}  // namespace host
