// Path rules of the platform in one place.
#pragma once

#include <string>
#include <string_view>

namespace host {

// The path separator: "\" on Windows, "/" on POSIX.
char separator() noexcept;
std::string_view separatorText() noexcept;
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

}  // namespace host
