#include "host/path_rules.h"
#include "host/paths.h"

namespace host {

NameReading listNameReading(long count, const std::function<std::string(long)>& nameAt,
                            std::string_view) {
    // The drive letter tells full paths from relative names; no file is asked.
    if (count < 1) return NameReading::Relative;
    return windows_rules::nameReading(nameAt(1));
}

}  // namespace host
