// The running platform's path rules behind host/paths.h.
#include "host/paths.h"

#include <filesystem>
#include <system_error>

#include "base/path_rules.h"
#include "host/fs.h"
#include "host/fs_path.h"

namespace host {

char separator() noexcept {
    return base::platform_rules::kSeparator;
}

std::string_view separatorText() noexcept {
    return base::platform_rules::kSeparatorText;
}

bool isSeparator(char c) noexcept {
    return c == base::platform_rules::kSeparator || c == '/';
}

bool namesIgnoreCase() noexcept {
    return base::platform_rules::kNamesIgnoreCase;
}

std::string joinPath(std::string_view folder, std::string_view name) {
    return base::platform_rules::joinPath(folder, name);
}

std::string heldRoot(std::string_view chosenFolder) {
    return base::platform_rules::heldRoot(chosenFolder);
}

std::string_view baseName(std::string_view path) noexcept {
    return base::platform_rules::baseName(path);
}

std::string_view parentPath(std::string_view path) noexcept {
    return base::platform_rules::parentPath(path);
}

std::string_view trimmedRelative(std::string_view relative) noexcept {
    while (!relative.empty() && isSeparator(relative.front())) relative.remove_prefix(1);
    while (!relative.empty() && isSeparator(relative.back())) relative.remove_suffix(1);
    return relative;
}

std::string fullStructureFolder(std::string_view target, std::string_view sourceRoot,
                                std::string_view relative) {
    return base::platform_rules::fullStructureFolder(target, sourceRoot, relative);
}

std::string absoluteLexically(std::string_view path, std::string_view base) {
    const std::filesystem::path given = fsPath(path);
    if (path.empty() || given.is_absolute()) return std::string(path);
    std::error_code error;
    std::filesystem::path start = std::filesystem::absolute(fsPath(base), error);
    if (error) start = fsPath(base);
    return heldRoot(fsPathText((start / given).lexically_normal()));
}

namespace {

// `text` with links followed and "." and ".." steps removed as far as it
// exists, the rest as written; nullopt when it cannot be resolved.
std::optional<std::string> resolved(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::error_code error;
    std::filesystem::path real = std::filesystem::weakly_canonical(fsPath(text), error);
    if (error) return std::nullopt;
    real = real.lexically_normal();
    // "/a/b/" and "/a/b" are one folder; a root keeps its separator.
    if (!real.has_filename() && real.has_relative_path()) real = real.parent_path();
    return fsPathText(real);
}

}  // namespace

std::string folderKey(std::string_view folder) {
    std::string key = sameFileKey(resolved(folder).value_or(std::string(folder)));
    if (key.empty() || !isSeparator(key.back())) key += separator();
    return key;
}

std::string FolderKeys::of(std::string_view folder) {
#ifdef _WIN32
    // Junctions and mount points lead elsewhere without being links.
    return folderKey(folder);
#else
    std::string_view trimmed = folder;
    while (trimmed.size() > 1 && isSeparator(trimmed.back())) trimmed.remove_suffix(1);
    const std::string_view leaf = baseName(trimmed);
    const std::string_view parent = parentPath(trimmed);
    if (leaf.empty() || leaf == "." || leaf == ".." || parent.empty()) return folderKey(folder);
    // A link is followed wherever it leads; anything else adds its own name.
    std::error_code error;
    const auto status = std::filesystem::symlink_status(fsPath(trimmed), error);
    if (status.type() == std::filesystem::file_type::symlink ||
        (error && status.type() != std::filesystem::file_type::not_found))
        return folderKey(folder);
    if (parent != parent_) {
        parentKey_ = folderKey(parent);
        parent_.assign(parent);
    }
    return parentKey_ + sameFileKey(leaf) + separator();
#endif
}

std::optional<std::string> pathInside(std::string_view folder, std::string_view path) {
    const std::optional<std::string> outer = resolved(folder);
    const std::optional<std::string> inner = resolved(path);
    if (!outer || !inner || outer->empty() || inner->compare(0, outer->size(), *outer) != 0)
        return std::nullopt;
    if (inner->size() == outer->size()) return std::string();
    // Only a root ("/", "D:\") ends with its separator; any other folder's
    // text must be followed by one.
    std::size_t below = outer->size();
    if (!isSeparator(outer->back()) && !isSeparator((*inner)[below])) return std::nullopt;
    while (below < inner->size() && isSeparator((*inner)[below])) ++below;
    return inner->substr(below);
}

std::string resourceDirectoryFor(const std::string& programFolder) {
    // Beside the program: the build tree and the Windows zip. Under
    // <prefix>/share/zarvik: an installed program in <prefix>/bin, wherever
    // the prefix is. Never the source tree, which an installed program
    // cannot rely on.
    std::string beside = programFolder + "/resources";
    if (fileExists(beside + "/htmd1.grid")) return beside;
    std::string installed = std::string(parentPath(programFolder)) + "/share/zarvik";
    if (fileExists(installed + "/htmd1.grid")) return installed;
    return beside;
}

std::string resourceDirectory() {
    return resourceDirectoryFor(programDirectory());
}

}  // namespace host
