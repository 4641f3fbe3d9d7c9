// What a failed host::Result says, kept in a string for the assertions that
// look at it.
#pragma once

#include <string>

namespace testing_support {

// Whether `result` succeeded; when it failed its message ("<op> "<path>":
// <reason>") is put in `text`.
template <class R>
bool reportedIn(const R& result, std::string& text) {
    if (!result) text = result.error().message();
    return static_cast<bool>(result);
}

// Whether `result` succeeded; when it failed the system's reason alone is
// put in `text`.
template <class R>
bool reasonIn(const R& result, std::string& text) {
    if (!result) text = result.error().reasonText();
    return static_cast<bool>(result);
}

}  // namespace testing_support
