// The names of the safe copy's temporary files, the same on every platform:
// "." + target name + "." + 8 lowercase hex digits + ".partial", in the
// target's folder, so they are hidden, never listed by the walks, and a
// leftover of a killed copy is found again by its target's name.
#pragma once

#include <cstddef>
#include <string_view>

namespace host::copy_names {

inline constexpr std::string_view kSuffix = ".partial";
inline constexpr std::size_t kRandomLength = 8;
// One name of the file system holds at most this many units.
inline constexpr std::size_t kNameMax = 255;
// What a temporary name adds to its stem: the two dots, the digits, the suffix.
inline constexpr std::size_t kOverhead = 1 + 1 + kRandomLength + kSuffix.size();

}  // namespace host::copy_names
