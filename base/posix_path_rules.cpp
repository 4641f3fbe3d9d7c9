#include <string>
#include <string_view>

#include "base/path_rules.h"

namespace base {

namespace posix_rules {

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

std::string fullStructureFolder(std::string_view target, std::string_view sourceRoot,
                                std::string_view relative) {
    // The whole source path follows the target; one separator where they meet,
    // also when the target is "/" or the source is held without a leading "/".
    std::string folder(target);
    if (!folder.empty() && folder.back() == '/' && !sourceRoot.empty() && sourceRoot.front() == '/')
        sourceRoot.remove_prefix(1);
    else if ((folder.empty() || folder.back() != '/') && !sourceRoot.empty() &&
             sourceRoot.front() != '/')
        folder += '/';
    folder += sourceRoot;
    if (folder.empty() || folder.back() != '/') folder += '/';
    folder += relative;
    return folder;
}

}  // namespace posix_rules

NameReading posixNameReading(long count, const std::function<std::string(long)>& nameAt,
                             std::string_view root,
                             const std::function<bool(const std::string&)>& fileExists) {
    if (count < 1) return NameReading::Relative;
    const std::string first = nameAt(1);
    if (first.empty() || first.front() != '/') return NameReading::Unfit;
    for (long i = 1; i <= count; ++i) {
        const std::string name = i == 1 ? first : nameAt(i);
        const bool underRoot = fileExists(std::string(root) + name);
        if (underRoot) return NameReading::Relative;
        if (fileExists(name)) return NameReading::Full;
    }
    return NameReading::Relative;
}

}  // namespace base
