// A whole file's bytes, read through the platform's piece reader.
#include <cstdint>
#include <string>
#include <string_view>

#include "host/fs.h"

namespace host {

Result<std::string> readFile(const std::string& path) {
    std::string bytes;
    const Result<bool> read =
        readFileInPieces(path, [&bytes](std::string_view piece, std::uint64_t length) {
            if (bytes.empty()) bytes.reserve(static_cast<std::size_t>(length));
            bytes.append(piece);
            return true;
        });
    if (!read) return read.error();
    return bytes;
}

}  // namespace host
