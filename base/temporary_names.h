// The names of the program's temporary files, the same for both programs and
// every platform: copies, settings files, saved lists and exports all use them.
//   "." + stem + "." + 16 lower-case hex digits + ".zarvik-tmp"
// The stem is the target's name (cut when the whole would be too long), so a
// user can tell what a leftover was meant to become. The 16 digits are 64
// random bits and the tag is fixed, so no user's file has such a name by
// chance: walks leave out exactly these names, and only these are ever
// removed as leftovers (and only when no running writer holds them).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace base {

// True for the names of the program's temporary files (copies, settings,
// saved lists, exports); listings leave out these names and no others.
bool isTemporaryName(std::string_view name) noexcept;

namespace temporary_names {

inline constexpr std::string_view kTag = ".zarvik-tmp";
inline constexpr std::size_t kRandomLength = 16;
// One name of the file system holds at most this many units.
inline constexpr std::size_t kNameMax = 255;
// What a temporary name adds to its stem: the two dots, the digits, the tag.
inline constexpr std::size_t kOverhead = 1 + 1 + kRandomLength + kTag.size();

// A new temporary name for a target whose (already cut) stem is `stem`.
std::string make(std::string_view stem);
// The stem of a UTF-8 `base` name: the whole name, or its start cut at a
// character boundary so that the temporary name fits in kNameMax bytes.
std::string_view stemOf(std::string_view base) noexcept;
// True when `name` is a temporary name made for the stem `stem`.
bool isFor(std::string_view name, std::string_view stem) noexcept;

}  // namespace temporary_names

}  // namespace base
