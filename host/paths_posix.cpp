#include "base/caseless_key.h"
#include "base/path_rules.h"
#include "host/fs.h"
#include "host/paths.h"

namespace host {

std::string sameFileKey(std::string_view path) {
    // Linux itself never folds, but a FAT or exFAT stick, an NTFS or a CIFS
    // share mounted here may.
    return base::caselessKey(path);
}

NameReading listNameReading(long count, const std::function<std::string(long)>& nameAt,
                            std::string_view root) {
    return base::posixNameReading(count, nameAt, root,
                                  [](const std::string& path) { return fileExists(path); });
}

}  // namespace host
