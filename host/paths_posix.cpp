#include "host/fs.h"
#include "host/path_rules.h"
#include "host/paths.h"

namespace host {

char separator() noexcept {
    return posix_rules::kSeparator;
}

std::string_view separatorText() noexcept {
    return "/";
}

std::string joinPath(std::string_view folder, std::string_view name) {
    return posix_rules::joinPath(folder, name);
}

std::string heldRoot(std::string_view chosenFolder) {
    return posix_rules::heldRoot(chosenFolder);
}

std::string_view baseName(std::string_view path) noexcept {
    return posix_rules::baseName(path);
}

std::string_view parentPath(std::string_view path) noexcept {
    return posix_rules::parentPath(path);
}

std::string fullStructureFolder(std::string_view target, std::string_view sourceRoot,
                                std::string_view relative) {
    return posix_rules::fullStructureFolder(target, sourceRoot, relative);
}

NameReading listNameReading(long count, const std::function<std::string(long)>& nameAt,
                            std::string_view root) {
    return posixNameReading(count, nameAt, root,
                            [](const std::string& path) { return fileExists(path); });
}

}  // namespace host
