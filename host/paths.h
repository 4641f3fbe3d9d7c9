// Path rules of the platform in one place.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/path_rules.h"

namespace host {

// The path separator: "\" on Windows, "/" on POSIX.
char separator() noexcept;
std::string_view separatorText() noexcept;
// True for the platform's separator; on Windows "/" as well, as the system
// itself accepts it wherever a path is taken apart.
bool isSeparator(char c) noexcept;
// True where file names compare ignoring case (Windows), false where they
// compare exactly (Linux; a FAT stick mounted there is the exception).
bool namesIgnoreCase() noexcept;
// `folder` + separator + `name`, without doubling a separator that `folder`
// already ends with.
std::string joinPath(std::string_view folder, std::string_view name);
// A chosen folder as it is held as a list root: on Windows a drive root "D:\"
// is held as "D:"; on POSIX "/" stays "/".
std::string heldRoot(std::string_view chosenFolder);
// The part of `path` after its last separator.
std::string_view baseName(std::string_view path) noexcept;
// The part of `path` before its last separator ("" when there is none; "/" for
// a file directly under "/").
std::string_view parentPath(std::string_view path) noexcept;
// A sub-folder path below a folder without the separators at its ends, so
// "/a/b/", "a/b" and "a/b/" name one folder.
std::string_view trimmedRelative(std::string_view relative) noexcept;

// A text that is the same for two names the file system may take for one file:
// caselessKey of the path (Windows, FAT and exFAT fold case; some systems
// take composed and decomposed accents for one), so two copies to such names
// are never under way at the same time. Folding more than a file system does
// only makes a copy wait. Different texts may still name one file through
// links (see folderKey); equal texts always do.
std::string sameFileKey(std::string_view path);
// sameFileKey of the folder a copy into `folder` reaches: the links of the part
// that exists followed (a link to another folder of the target leads both
// paths to one key), the rest as written, so the key stays the same when the
// missing folders are made. Ends with a separator: a name's sameFileKey
// appended gives the key of the file there.
std::string folderKey(std::string_view folder);
// folderKey of the folders of one walk, which come one after another below the
// same parents: the last parent's key is kept, so a further folder costs one
// look at its own name instead of one at each part of its path.
class FolderKeys {
  public:
    std::string of(std::string_view folder);

  private:
    std::string parent_;
    std::string parentKey_;
};

// `path` made absolute against `base` when it is relative, its "." and ".."
// steps removed by the text alone (links are not followed) and its trailing
// separators dropped as heldRoot does; an absolute path is returned as given.
std::string absoluteLexically(std::string_view path, std::string_view base);

// Whether `path` lies inside `folder` (or is that folder) once both are
// resolved: links followed and "." and ".." steps removed, as far as the path
// exists (a part that does not exist yet is taken as written). Gives the part
// of `path` below `folder` without a leading separator ("" for the folder
// itself), or nullopt when it lies elsewhere or either cannot be resolved.
// Only a separator ends the folder's part: "/t2" does not lie inside "/t".
std::optional<std::string> pathInside(std::string_view folder, std::string_view path);

// The destination folder of the full-directory structure: the target, then the
// source root without its drive, then `relative` (the sub-folder path below the
// source root, empty or ending with a separator). The result ends with a
// separator. Windows: "D:\bak" + "\data\src" + "\" + "a\b\" (drive dropped);
// POSIX, where there is no drive: "/bak" + "/data/src" + "/" + "a/b/".
std::string fullStructureFolder(std::string_view target, std::string_view sourceRoot,
                                std::string_view relative);

using base::NameReading;

// The platform's rule over names 1..count, with the file system's existence
// test where the rule needs one.
NameReading listNameReading(long count, const std::function<std::string(long)>& nameAt,
                            std::string_view root);

// The folder the program's data files (grid definitions, icons) are read
// from: <program folder>/resources when it holds them, else
// <program folder>/../share/zarvik when that does, else the first (so that
// errors name it).
std::string resourceDirectoryFor(const std::string& programFolder);
std::string resourceDirectory();

}  // namespace host
