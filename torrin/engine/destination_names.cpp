#include "torrin/engine/destination_names.h"

#include "host/fs.h"

namespace torrin {

std::string fzmccf(const host::TargetFolder& folder, const std::string& fname,
                   const std::function<bool(const std::string& name)>& claimed,
                   const std::function<void(const std::string& name)>& seen) {
    const auto taken = [&](const std::string& name) {
        if (claimed && claimed(name)) return true;
        if (!folder.nameTaken(name)) return false;
        if (seen) seen(name);
        return true;
    };
    if (!taken(fname)) return fname;
    for (unsigned long long counter = 0;; ++counter) {
        std::string candidate = std::to_string(counter) + fname;
        if (!taken(candidate)) return candidate;
    }
}

}  // namespace torrin
