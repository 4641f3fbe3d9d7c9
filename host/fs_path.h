// std::filesystem paths from the program's byte strings and back. A narrow
// string given to std::filesystem::path is read in the ANSI code page on
// Windows, not as UTF-8, so a Chinese name would name another file there;
// through char8_t it is read as UTF-8 everywhere, and on POSIX the bytes pass
// unchanged (names that are not valid UTF-8 included).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace host {

inline std::filesystem::path fsPath(std::string_view text) {
    return std::filesystem::path(
        std::u8string_view(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

inline std::string fsPathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace host
