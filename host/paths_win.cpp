#include "host/path_rules.h"
#include "host/paths.h"

namespace host {

char separator() noexcept {
    return windows_rules::kSeparator;
}

std::string_view separatorText() noexcept {
    return "\\";
}

std::string joinPath(std::string_view folder, std::string_view name) {
    return windows_rules::joinPath(folder, name);
}

std::string heldRoot(std::string_view chosenFolder) {
    return windows_rules::heldRoot(chosenFolder);
}

std::string_view baseName(std::string_view path) noexcept {
    return windows_rules::baseName(path);
}

std::string_view parentPath(std::string_view path) noexcept {
    return windows_rules::parentPath(path);
}

std::string fullStructureFolder(std::string_view target, std::string_view sourceRoot,
                                std::string_view relative) {
    return windows_rules::fullStructureFolder(target, sourceRoot, relative);
}

NameReading listNameReading(long count, const std::function<std::string(long)>& nameAt,
                            std::string_view) {
    // The drive letter tells full paths from relative names; no file is asked.
    if (count < 1) return NameReading::Relative;
    return windows_rules::nameReading(nameAt(1));
}

}  // namespace host
