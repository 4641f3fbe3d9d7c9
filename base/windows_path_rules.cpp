#include "base/path_rules.h"

namespace base::windows_rules {

namespace {

bool hasDrive(std::string_view path) noexcept {
    return path.size() >= 2 && path[1] == ':';
}

std::size_t lastSeparator(std::string_view path) noexcept {
    return path.find_last_of("\\/");
}

}  // namespace

std::string joinPath(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    std::string joined(folder);
    if (!isSeparator(joined.back())) joined += kSeparator;
    joined += name;
    return joined;
}

std::string heldRoot(std::string_view chosenFolder) {
    std::size_t end = chosenFolder.size();
    while (end > 1 && isSeparator(chosenFolder[end - 1])) --end;
    return std::string(chosenFolder.substr(0, end));
}

std::string_view baseName(std::string_view path) noexcept {
    const std::size_t last = lastSeparator(path);
    if (last != std::string_view::npos) return path.substr(last + 1);
    // "D:name" is a name on drive D.
    return hasDrive(path) ? path.substr(2) : path;
}

std::string_view parentPath(std::string_view path) noexcept {
    const std::size_t last = lastSeparator(path);
    if (last == std::string_view::npos)
        return hasDrive(path) ? path.substr(0, 2) : std::string_view();
    if (last == 0) return path.substr(0, 1);
    return path.substr(0, last);
}

std::string fullStructureFolder(std::string_view target, std::string_view sourceRoot,
                                std::string_view relative) {
    std::string_view source = sourceRoot;
    if (hasDrive(source)) source.remove_prefix(2);
    // One separator where target and source meet: a network source's "\\"
    // would otherwise leave an empty folder level, and dropping two characters
    // of it (the drive rule) would glue its server name to the target's name.
    while (!source.empty() && isSeparator(source.front())) source.remove_prefix(1);
    std::string folder(target);
    if (folder.empty() || !isSeparator(folder.back())) folder += kSeparator;
    if (!source.empty()) {
        folder += source;
        if (!isSeparator(folder.back())) folder += kSeparator;
    }
    folder += relative;
    return folder;
}

std::string folderForShell(std::string_view folder) {
    std::string shown(folder);
    if (shown.size() == 2 && shown[1] == ':') shown += kSeparator;
    return shown;
}

}  // namespace base::windows_rules
