// GBK conversions through the Win32 code pages. Code page 54936 (GB18030) is
// used in both directions: it writes every GBK character exactly as code page
// 936 does and can still encode the characters GBK lacks, so no text is lost
// on the way to disk. Where 54936 is missing, 936 is used and a character it
// cannot write keeps its UTF-8 bytes. Bytes that are not valid UTF-8 (on the
// way out) or do not decode (on the way in) pass through unchanged, so a
// round trip restores them.
#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "base/text.h"
#include "base/text_encoding.h"
#include "base/text_internal.h"
#include "host/encoding.h"
#include "host/windows_internal.h"

namespace host {
namespace {

constexpr UINT kGb18030 = 54936;
constexpr UINT kGbk = 936;

UINT codePage() {
    static const UINT page = [] {
        CPINFO info;
        return ::GetCPInfo(kGb18030, &info) ? kGb18030 : kGbk;
    }();
    return page;
}

// Encodes UTF-16 text in the code page; false when a character cannot be written.
bool encode(std::wstring_view wide, std::string& out) {
    if (wide.empty()) return true;
    const UINT page = codePage();
    const int size = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    // 54936 accepts no default-character query; it writes every character.
    BOOL* usedDefaultQuery = page == kGb18030 ? nullptr : &usedDefault;
    const DWORD flags = page == kGb18030 ? WC_ERR_INVALID_CHARS : 0;
    const int needed = ::WideCharToMultiByte(page, flags, wide.data(), size, nullptr, 0, nullptr,
                                             usedDefaultQuery);
    if (needed <= 0 || usedDefault) return false;
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(needed));
    ::WideCharToMultiByte(page, flags, wide.data(), size, out.data() + at, needed, nullptr,
                          nullptr);
    return true;
}

// Decodes code-page bytes; false when they do not decode.
bool decode(std::string_view bytes, std::string& out) {
    if (bytes.empty()) return true;
    const int size = static_cast<int>(bytes.size());
    const int needed =
        ::MultiByteToWideChar(codePage(), MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (needed <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    ::MultiByteToWideChar(codePage(), MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(),
                          needed);
    out += windows::narrow(wide);
    return true;
}

// GB18030 writes the planes above the BMP in four bytes, in plain linear
// order from 90 30 81 30 on. Done here rather than through the code page, so
// those characters keep their four-byte codes where 54936 is missing (wine).
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr char32_t kLastCodePoint = 0x10FFFF;

void appendSupplementary(char32_t c, std::string& out) {
    std::uint32_t index = c - kFirstSupplementary;
    char bytes[4];
    bytes[3] = static_cast<char>(0x30 + index % 10);
    index /= 10;
    bytes[2] = static_cast<char>(0x81 + index % 126);
    index /= 126;
    bytes[1] = static_cast<char>(0x30 + index % 10);
    index /= 10;
    bytes[0] = static_cast<char>(0x90 + index);
    out.append(bytes, 4);
}

// The supplementary character of a four-byte code, or 0 when it is none.
char32_t supplementaryOf(std::string_view code) noexcept {
    const auto at = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(code[i]));
    };
    if (code.size() != 4 || at(0) < 0x90 || at(0) > 0xE3) return 0;
    const std::uint32_t index =
        (((at(0) - 0x90) * 10 + (at(1) - 0x30)) * 126 + (at(2) - 0x81)) * 10 + (at(3) - 0x30);
    const char32_t c = kFirstSupplementary + index;
    return c <= kLastCodePoint ? c : 0;
}

std::wstring utf16Of(char32_t c) {
    if (c < 0x10000) return std::wstring(1, static_cast<wchar_t>(c));
    const char32_t v = c - 0x10000;
    return {static_cast<wchar_t>(0xD800 + (v >> 10)), static_cast<wchar_t>(0xDC00 + (v & 0x3FF))};
}

int utf8Length(char32_t c) noexcept {
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

int widthOf(char32_t c) {
    if (c >= kFirstSupplementary) return 4;
    std::string out;
    return encode(utf16Of(c), out) ? static_cast<int>(out.size()) : utf8Length(c);
}

const std::array<std::uint8_t, 0x10000>& bmpWidths() {
    static const auto table = [] {
        auto widths = std::make_unique<std::array<std::uint8_t, 0x10000>>();
        for (char32_t c = 0; c < 0x10000; ++c) {
            if (c < 0x80 || (c >= 0xD800 && c <= 0xDFFF))
                (*widths)[c] = 1;  // a surrogate never comes from valid UTF-8
            else
                (*widths)[c] = static_cast<std::uint8_t>(widthOf(c));
        }
        return widths;
    }();
    return *table;
}

// Length of the GB18030-shaped sequence at the start of `bytes`: 1 (ASCII), 2
// or 4; 0 when the first byte begins none.
std::size_t sequenceLength(std::string_view bytes) noexcept {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (at(0) < 0x80) return 1;
    if (at(0) == 0x80 || at(0) == 0xFF || bytes.size() < 2) return 0;
    const unsigned char second = at(1);
    if ((second >= 0x40 && second <= 0x7E) || (second >= 0x80 && second <= 0xFE)) return 2;
    if (second >= 0x30 && second <= 0x39 && bytes.size() >= 4 && at(2) >= 0x81 && at(2) <= 0xFE &&
        at(3) >= 0x30 && at(3) <= 0x39)
        return 4;
    return 0;
}

}  // namespace

namespace detail {

int gb18030Width(char32_t codePoint) noexcept {
    if (codePoint < 0x80) return 1;
    try {
        if (codePoint < 0x10000) return bmpWidths()[codePoint];
        return widthOf(codePoint);
    } catch (...) {
        return utf8Length(codePoint);
    }
}

}  // namespace detail

std::string utf8ToGbk(std::string_view utf8) {
    if (base::detail::isAscii(utf8)) return std::string(utf8);
    return base::detail::utf8ToGbkByRuns(utf8, [](std::string_view run, std::string& out) {
        if (encode(windows::widen(run), out)) return;
        // One character at a time; one the code page refuses keeps its own bytes.
        char32_t codePoint = 0;
        while (!run.empty()) {
            const std::size_t length = base::detail::decodeUtf8(run, codePoint);
            const std::string_view one = run.substr(0, length);
            if (codePoint >= kFirstSupplementary)
                appendSupplementary(codePoint, out);
            else if (!encode(windows::widen(one), out))
                out.append(one);
            run.remove_prefix(length);
        }
    });
}

std::string gbkToUtf8(std::string_view gbk) {
    if (base::detail::isAscii(gbk)) return std::string(gbk);
    std::string out;
    out.reserve(gbk.size() + gbk.size() / 2);
    std::string_view rest = gbk;
    while (!rest.empty()) {
        // The longest run of well-shaped sequences goes in one call.
        std::size_t runEnd = 0;
        while (runEnd < rest.size()) {
            const std::size_t length = sequenceLength(rest.substr(runEnd));
            if (length == 0) break;
            runEnd += length;
        }
        if (runEnd > 0 && !decode(rest.substr(0, runEnd), out)) {
            std::string_view run = rest.substr(0, runEnd);
            while (!run.empty()) {
                const std::size_t length = sequenceLength(run);
                const char32_t supplementary = length == 4 ? supplementaryOf(run.substr(0, 4)) : 0;
                if (supplementary != 0) {
                    base::appendUtf8(out, supplementary);
                    run.remove_prefix(length);
                } else if (length > 0 && decode(run.substr(0, length), out)) {
                    run.remove_prefix(length);
                } else {
                    // Its lead byte passes through; what follows is read afresh.
                    out.push_back(run.front());
                    run.remove_prefix(1);
                }
            }
        }
        rest.remove_prefix(runEnd);
        if (!rest.empty()) {
            // The byte begins no character: pass it through. What follows a
            // failed lead byte is ASCII or another stray byte, so it can never
            // join its neighbours into valid UTF-8, and converting back restores it.
            out.push_back(rest.front());
            rest.remove_prefix(1);
        }
    }
    return out;
}

}  // namespace host
