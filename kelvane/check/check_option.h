// The check option (`addszf`): what the files of a matched name are compared
// by, as the items of ddlb_2 and the digits of --option name it.
#pragma once

#include <string_view>

namespace kelvane {

enum class CheckOption {
    None,               // no file comparison
    Length,             // "1"
    Modified,           // "2": the modification times
    LengthAndModified,  // "3": both differ
    LengthOrModified,   // "4", and any other number: either differs
    Content,            // "5": the bytes
};

// The option a text names (ddlb_2's first character, --option's digit):
// "1" to "5" and any other number as above; a text that is not a number
// (empty, the label's first character) names none.
CheckOption checkOption(std::string_view addszf) noexcept;
// True when `addszf` selects a file comparison.
bool optionInForce(CheckOption addszf) noexcept;
// True when `addszf` compares the files' contents.
bool comparesContent(CheckOption addszf) noexcept;

}  // namespace kelvane
