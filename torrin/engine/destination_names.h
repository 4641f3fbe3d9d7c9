// The name a torrin copy takes in its destination folder when it replaces
// nothing: its own name, or the first numbered one that neither an entry there
// nor a copy not yet made has taken.
#pragma once

#include <functional>
#include <string>

namespace host {
class TargetFolder;
}

namespace torrin {

// The first name of fname, "0"+fname, "1"+fname, ... that no entry (a folder
// or a dangling link too) has in `folder`'s destination
// (host::TargetFolder::nameTaken) and that `claimed`, asked first when given,
// does not say a copy not yet made has claimed. `claimed` may also wait for
// the copies under way to that name to land. `seen`, when given, is told each
// name an entry of the folder has taken, as it is passed over.
std::string fzmccf(const host::TargetFolder& folder, const std::string& fname,
                   const std::function<bool(const std::string& name)>& claimed = {},
                   const std::function<void(const std::string& name)>& seen = {});

}  // namespace torrin
