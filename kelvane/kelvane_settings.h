// kelvane's five settings in section "other" of selmo1.ini, and the rules that
// turn them into control states and back.
#pragma once

#include <string>
#include <string_view>

namespace kelvane {

inline constexpr std::string_view kSettingsSection = "other";
inline constexpr std::string_view kSettingsFileName = "selmo1.ini";

struct MainSettings {
    std::string hjlltj = "0";  // browse condition digit
    std::string sle_1;
    std::string sle_2;
    std::string em_1rq;
    std::string bkycwj = "y";  // only exactly "y" counts as on
};

// `ap_path` + separator + "selmo1.ini".
std::string profilePath(const std::string& ap_path);

// Missing file, section or key gives the defaults above; never throws.
MainSettings loadMainSettings(const std::string& profile);
// Writes all five keys; false when the file could not be written (ignored by
// the window, as a read-only working folder must not stop the program closing).
bool saveMainSettings(const std::string& profile, const MainSettings& settings);

// The 0-based item of the browse-condition list to select for `szf`: 1..3 for
// the digits "1".."3", else 0 (the label item).
int browseConditionItem(std::string_view szf);
// The "hjlltj" value for the text shown by the browse-condition list: its first
// character when that is an integer of at least 1, else "0".
std::string hjlltjFromText(std::string_view ddlb3Text);

}  // namespace kelvane
