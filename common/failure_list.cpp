#include "common/failure_list.h"

namespace common {

void appendFailureList(std::string& text, const std::string& heading,
                       const std::vector<std::string>& lines, long total, const std::string& rest) {
    if (total <= 0) return;
    if (!text.empty()) text += "\n\n";
    text += heading;
    std::size_t shown = 0;
    for (; shown < lines.size() && shown < kFailuresShown; ++shown) text += "\n" + lines[shown];
    if (total > static_cast<long>(shown))
        text += "\n……另有" + std::to_string(total - static_cast<long>(shown)) + "个" + rest;
}

}  // namespace common
