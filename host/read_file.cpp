// A whole file's bytes, read through the platform's piece reader.
#include <cstdint>
#include <string>
#include <string_view>

#include "host/fs.h"

namespace host {

std::optional<std::string> readFile(const std::string& path, std::string* reason) {
    std::string bytes;
    const bool read = readFileInPieces(
        path,
        [&bytes](std::string_view piece, std::uint64_t length) {
            if (bytes.empty()) bytes.reserve(static_cast<std::size_t>(length));
            bytes.append(piece);
            return true;
        },
        reason);
    if (!read) return std::nullopt;
    return bytes;
}

}  // namespace host
