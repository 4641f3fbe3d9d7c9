#include "host/fs.h"
#include "host/path_rules.h"
#include "host/paths.h"

namespace host {

NameReading listNameReading(long count, const std::function<std::string(long)>& nameAt,
                            std::string_view root) {
    return posixNameReading(count, nameAt, root,
                            [](const std::string& path) { return fileExists(path); });
}

}  // namespace host
