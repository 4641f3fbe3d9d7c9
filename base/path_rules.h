// The path rules of both platforms as plain functions, built on every platform
// so that each rule is tested everywhere against the other. host/paths.h gives
// the running platform's choice.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace base {

// How the names of a list become file paths.
enum class NameReading {
    Relative,  // below the list's root: root + name
    Full,      // a full path, used as it stands
    Unfit,     // neither form: the copy refuses such a list
};

// The Windows rule, from the first name alone: "\" first is relative (network
// names "\\server\share\..." too, whose root is then put in front of them),
// ":" second is a full path with its drive.
inline NameReading windowsNameReading(std::string_view firstName) noexcept {
    if (!firstName.empty() && firstName.front() == '\\') return NameReading::Relative;
    if (firstName.size() >= 2 && firstName[1] == ':') return NameReading::Full;
    return NameReading::Unfit;
}

// The POSIX rule. Full paths begin with "/" just like relative names, so the
// files decide: the first name in list order (names 1..count from `nameAt`)
// whose file exists under either reading settles it: full when the name
// itself is a file and `root` + name is not, relative otherwise. Relative when
// no name's file exists; unfit when the first name does not begin with "/".
NameReading posixNameReading(long count, const std::function<std::string(long)>& nameAt,
                             std::string_view root,
                             const std::function<bool(const std::string&)>& fileExists);

}  // namespace base

namespace base::windows_rules {

inline constexpr char kSeparator = '\\';
inline constexpr std::string_view kSeparatorText = "\\";
// The file systems compare names ignoring case.
inline constexpr bool kNamesIgnoreCase = true;
// "\" is the separator; "/" is accepted too where a path is taken apart,
// as the system itself accepts it.
inline bool isSeparator(char c) noexcept {
    return c == '\\' || c == '/';
}

std::string joinPath(std::string_view folder, std::string_view name);
// "D:\" is held as "D:"; other trailing separators go too ("D:\a\" -> "D:\a",
// "\\srv\sh\" -> "\\srv\sh").
std::string heldRoot(std::string_view chosenFolder);
std::string_view baseName(std::string_view path) noexcept;
// "D:\a\b.txt" -> "D:\a"; "D:\b.txt" -> "D:" (a held root); "\\srv\sh\b" -> "\\srv\sh".
std::string_view parentPath(std::string_view path) noexcept;
// target + source root without its drive + "\" + relative. A network source
// "\\srv\sh\src" loses only its first "\", so its copies land below the
// target ("D:\bak\srv\sh\src\...") and never beside it.
std::string fullStructureFolder(std::string_view target, std::string_view sourceRoot,
                                std::string_view relative);
// "\" first: relative (network names "\\server\share\..." too); ":" second:
// a full path with its drive; anything else is unfit.
inline NameReading nameReading(std::string_view firstName) noexcept {
    return windowsNameReading(firstName);
}
// The folder the file manager is given: a bare drive "D:" would name the
// drive's current folder, so it gets its root separator back.
std::string folderForShell(std::string_view folder);

}  // namespace base::windows_rules

namespace base::posix_rules {

inline constexpr char kSeparator = '/';
inline constexpr std::string_view kSeparatorText = "/";
inline constexpr bool kNamesIgnoreCase = false;

std::string joinPath(std::string_view folder, std::string_view name);
std::string heldRoot(std::string_view chosenFolder);
std::string_view baseName(std::string_view path) noexcept;
std::string_view parentPath(std::string_view path) noexcept;
std::string fullStructureFolder(std::string_view target, std::string_view sourceRoot,
                                std::string_view relative);
inline NameReading nameReading(long count, const std::function<std::string(long)>& nameAt,
                               std::string_view root,
                               const std::function<bool(const std::string&)>& fileExists) {
    return posixNameReading(count, nameAt, root, fileExists);
}

}  // namespace base::posix_rules

namespace base {
// The running platform's rules, the one place where the choice is made.
#ifdef _WIN32
namespace platform_rules = windows_rules;
#else
namespace platform_rules = posix_rules;
#endif
}  // namespace base
