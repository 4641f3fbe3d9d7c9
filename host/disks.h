// Which disk a folder is on, so that a run can tell the disk it used last
// time from an empty mount point (the disk not plugged in) or from another
// disk that now answers to the same path or drive letter.
#pragma once

#include <string>
#include <string_view>

#include "host/result.h"

namespace host {

struct DiskIdentity {
    // "kind=value" pieces separated by ";", the steadiest first: the file
    // system's UUID or serial where the system names it, its identity as the
    // system gives it, the device number.
    std::string names;
    // The folder is the root of its file system: a mount point, a drive's root.
    bool ownRoot = false;
    bool operator==(const DiskIdentity&) const = default;
};

// The disk `folder` is on; a Failure when it cannot be looked at (it is gone).
Result<DiskIdentity> diskOf(const std::string& folder);

// Whether two identities name one disk: by the steadiest kind of name both
// have (a device number changes from one plugging to the next, a UUID does
// not). Identities that share no kind are taken as the same.
bool sameDisk(std::string_view a, std::string_view b);

}  // namespace host
