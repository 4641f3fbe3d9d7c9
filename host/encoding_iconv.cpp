// GBK conversions through iconv. GB18030 is used in both directions: it writes
// every GBK character exactly as GBK does and can still encode the characters
// GBK lacks, so no text is lost on the way to disk.
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text_encoding.h"
#include "base/text_internal.h"
#include "host/encoding.h"

namespace host {
namespace {

class Converter {
  public:
    Converter(const char* to, const char* from) noexcept : handle_(iconv_open(to, from)) {}
    ~Converter() {
        if (valid()) iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const noexcept { return handle_ != reinterpret_cast<iconv_t>(-1); }

    // Converts the longest convertible prefix of `in`, appending to `out`.
    // Returns the number of input bytes consumed; stops before the first
    // sequence that does not convert (or is cut off at the end).
    std::size_t convert(std::string_view in, std::string& out) {
        if (!valid()) return 0;
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        char* input = const_cast<char*>(in.data());
        std::size_t inputLeft = in.size();
        char buffer[4096];
        while (inputLeft > 0) {
            char* output = buffer;
            std::size_t outputLeft = sizeof buffer;
            std::size_t result = iconv(handle_, &input, &inputLeft, &output, &outputLeft);
            int error = errno;
            out.append(buffer, static_cast<std::size_t>(output - buffer));
            if (result != static_cast<std::size_t>(-1)) break;
            if (error != E2BIG) break;
        }
        return in.size() - inputLeft;
    }

  private:
    iconv_t handle_;
};

// One pair per thread: iconv descriptors hold conversion state and must not be
// shared between threads.
Converter& toGb18030() {
    thread_local Converter converter("GB18030", "UTF-8");
    return converter;
}
Converter& fromGb18030() {
    thread_local Converter converter("UTF-8", "GB18030");
    return converter;
}

struct WidthTable {
    std::array<std::uint8_t, 0x10000> bmp{};
    // The few supplementary characters GB18030 writes in two bytes.
    std::vector<char32_t> twoByteSupplementary;
};

std::string utf32le(char32_t codePoint) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((codePoint >> (8 * i)) & 0xFF);
    return bytes;
}

WidthTable buildWidthTable() {
    WidthTable table;
    for (char32_t c = 0; c < 0x80; ++c) table.bmp[c] = 1;
    Converter encoder("GB18030", "UTF-32LE");
    std::string out;
    for (char32_t c = 0x80; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            table.bmp[c] = 1;  // never decoded from valid UTF-8; its bytes count one each
            continue;
        }
        if (!encoder.valid()) {
            table.bmp[c] = 2;
            continue;
        }
        out.clear();
        std::string in = utf32le(c);
        // A character the converter refuses is copied as its UTF-8 bytes.
        table.bmp[c] = encoder.convert(in, out) == 4 ? static_cast<std::uint8_t>(out.size())
                                                     : static_cast<std::uint8_t>(c < 0x800 ? 2 : 3);
    }
    Converter decoder("UTF-32LE", "GB18030");
    if (decoder.valid()) {
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (trail == 0x7F) continue;
                const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                out.clear();
                if (decoder.convert(std::string_view(pair, 2), out) != 2 || out.size() != 4)
                    continue;
                char32_t c = 0;
                for (int i = 3; i >= 0; --i) c = (c << 8) | static_cast<unsigned char>(out[i]);
                if (c > 0xFFFF) table.twoByteSupplementary.push_back(c);
            }
        }
        std::sort(table.twoByteSupplementary.begin(), table.twoByteSupplementary.end());
    }
    return table;
}

const WidthTable& widthTable() {
    static const WidthTable table = buildWidthTable();
    return table;
}

}  // namespace

namespace detail {

int gb18030Width(char32_t codePoint) noexcept {
    if (codePoint < 0x80) return 1;
    const WidthTable& table = widthTable();
    if (codePoint < 0x10000) return table.bmp[codePoint];
    return std::binary_search(table.twoByteSupplementary.begin(), table.twoByteSupplementary.end(),
                              codePoint)
               ? 2
               : 4;
}

}  // namespace detail

std::string utf8ToGbk(std::string_view utf8) {
    if (base::detail::isAscii(utf8)) return std::string(utf8);
    Converter& converter = toGb18030();
    return base::detail::utf8ToGbkByRuns(utf8, [&converter](std::string_view run,
                                                            std::string& out) {
        char32_t codePoint = 0;
        while (!run.empty()) {
            run.remove_prefix(converter.convert(run, out));
            if (run.empty()) break;
            // A character the converter refuses keeps its own bytes.
            std::size_t length = std::max<std::size_t>(1, base::detail::decodeUtf8(run, codePoint));
            out.append(run.substr(0, length));
            run.remove_prefix(length);
        }
    });
}

std::string gbkToUtf8(std::string_view gbk) {
    if (base::detail::isAscii(gbk)) return std::string(gbk);
    std::string out;
    out.reserve(gbk.size() + gbk.size() / 2);
    Converter& converter = fromGb18030();
    std::string_view rest = gbk;
    while (!rest.empty()) {
        rest.remove_prefix(converter.convert(rest, out));
        if (rest.empty()) break;
        // The byte does not begin a GB18030 character: pass it through. It can
        // never join the bytes around it into valid UTF-8, because what follows
        // a failed lead byte is ASCII or another stray byte, so converting back
        // restores it.
        out.push_back(rest.front());
        rest.remove_prefix(1);
    }
    return out;
}

}  // namespace host
