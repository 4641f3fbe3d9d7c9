#include "host/paths.h"

namespace host {

char separator() noexcept {
    return '/';
}

std::string_view separatorText() noexcept {
    return "/";
}

std::string joinPath(std::string_view folder, std::string_view name) {
    // A relative name joined to nothing stays relative rather than becoming "/name".
    if (folder.empty()) return std::string(name);
    std::string joined(folder);
    if (joined.back() != '/') joined += '/';
    joined += name;
    return joined;
}

std::string heldRoot(std::string_view chosenFolder) {
    // POSIX has no drive: only the trailing separator of an ordinary folder goes,
    // and "/" (or "//") itself stays the root.
    std::size_t end = chosenFolder.size();
    while (end > 1 && chosenFolder[end - 1] == '/') --end;
    return std::string(chosenFolder.substr(0, end));
}

std::string_view baseName(std::string_view path) noexcept {
    const std::size_t last = path.rfind('/');
    return last == std::string_view::npos ? path : path.substr(last + 1);
}

std::string_view parentPath(std::string_view path) noexcept {
    const std::size_t last = path.rfind('/');
    if (last == std::string_view::npos) return {};
    if (last == 0) return path.substr(0, 1);
    return path.substr(0, last);
}

}  // namespace host
