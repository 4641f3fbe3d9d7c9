// The text of a "提示" box that lists what a run could not do: a heading with
// the count, the first lines, and how many more there are and where to see
// them. Both programs' windows show their failures this way.
#pragma once

#include <string>
#include <vector>

namespace common {

// How many lines of one kind a box names; the rest are counted.
inline constexpr std::size_t kFailuresShown = 10;

// Appends, after a blank line when `text` holds something already,
// `heading`, the first kFailuresShown of `lines`, and for the rest of
// `total` "……另有N个" and `rest`. Nothing when `total` is 0.
void appendFailureList(std::string& text, const std::string& heading,
                       const std::vector<std::string>& lines, long total, const std::string& rest);

}  // namespace common
