// The browse condition (`szf`): which files a folder walk keeps, by their
// times, as the items of ddlb_3 name it.
#pragma once

#include <string_view>

namespace kelvane {

// Numbered as the items of ddlb_3 and the digits of the "hjlltj" setting.
enum class BrowseCondition {
    None = 0,      // every file, without length and time columns
    Modified = 1,  // "1": modified after the condition's time
    Created = 2,   // "2": created after it
    Either = 3,    // "3", and any other number: modified or created after it
};

// The condition a text names (ddlb_3's first character): "1", "2" and any
// other number as above; a text that is not a number (empty, the caption's
// first character) names none.
BrowseCondition browseCondition(std::string_view szf) noexcept;

}  // namespace kelvane
