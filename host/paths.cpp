// The running platform's path rules behind host/paths.h.
#include "host/paths.h"

#include "host/path_rules.h"

namespace host {

char separator() noexcept {
    return platform_rules::kSeparator;
}

std::string_view separatorText() noexcept {
    return platform_rules::kSeparatorText;
}

std::string joinPath(std::string_view folder, std::string_view name) {
    return platform_rules::joinPath(folder, name);
}

std::string heldRoot(std::string_view chosenFolder) {
    return platform_rules::heldRoot(chosenFolder);
}

std::string_view baseName(std::string_view path) noexcept {
    return platform_rules::baseName(path);
}

std::string_view parentPath(std::string_view path) noexcept {
    return platform_rules::parentPath(path);
}

std::string fullStructureFolder(std::string_view target, std::string_view sourceRoot,
                                std::string_view relative) {
    return platform_rules::fullStructureFolder(target, sourceRoot, relative);
}

}  // namespace host
