#include "host/fs.h"
#include "host/path_rules.h"
#include "host/paths.h"

namespace host {

std::string sameFileKey(std::string_view path) {
    std::string key(path);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

NameReading listNameReading(long count, const std::function<std::string(long)>& nameAt,
                            std::string_view root) {
    return posixNameReading(count, nameAt, root,
                            [](const std::string& path) { return fileExists(path); });
}

}  // namespace host
