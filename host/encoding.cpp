#include "host/encoding.h"

#include <optional>
#include <string>
#include <string_view>

#include "base/text_encoding.h"

namespace host {

std::string unknownTextToUtf8(std::string_view bytes) {
    if (std::optional<std::string> converted = base::convertedToUtf8(bytes, gbkToUtf8))
        return std::move(*converted);
    return std::string(bytes.substr(base::utf8MarkLength(bytes)));
}

std::optional<std::string> listFileText(std::string bytes) {
    // Text that is UTF-8 already (most lists) is kept, not copied: a list of a
    // million names is then held once while it is read.
    if (std::optional<std::string> converted = base::convertedToUtf8(bytes, gbkToUtf8)) {
        bytes = std::move(*converted);
    } else {
        bytes.erase(0, base::utf8MarkLength(bytes));
    }
    if (bytes.find('\0') != std::string::npos) return std::nullopt;
    return bytes;
}

std::string_view lineInUtf8(std::string_view line, base::LineEncoding encoding,
                            std::string& converted) {
    if (base::lineIsUtf8(line, encoding)) return line;
    converted = gbkToUtf8(line);
    return converted;
}

}  // namespace host
