#include "common/stored_keys.h"

#include "host/ini.h"

namespace common {

bool storedVerify(const std::string& profile) {
    return host::IniFile(profile).read("other", "verify", "n") == "y";
}

}  // namespace common
