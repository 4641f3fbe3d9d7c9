// Keys of section "other" both programs read from their settings file and
// never write, so the file stays as its user left it ("jobs" is in
// common/ordered_work.h, "exclude" in common/exclude_patterns.h).
#pragma once

#include <string>

namespace common {

// "verify": each copy is read back from the device and compared (only
// exactly "y" is on; default off).
bool storedVerify(const std::string& profile);

}  // namespace common
