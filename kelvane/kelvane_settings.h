// kelvane's five settings in section "other" of selmo1.ini, and the rules that
// turn them into control states and back.
#pragma once

#include <string>
#include <string_view>

#include "host/result.h"
#include "kelvane/inventory/browse_condition.h"

namespace kelvane {

inline constexpr std::string_view kSettingsSection = "other";
inline constexpr std::string_view kSettingsFileName = "selmo1.ini";

struct MainSettings {
    // The browse condition, stored as its digit "0".."3" ("0": none); a stored
    // text that is not an integer from 1 to 3 reads as none.
    BrowseCondition hjlltj = BrowseCondition::None;
    std::string sle_1;
    std::string sle_2;
    std::string em_1rq;
    std::string bkycwj = "y";  // only exactly "y" counts as on
};

// `ap_path` + separator + "selmo1.ini".
std::string profilePath(const std::string& ap_path);

// Missing file, section or key gives the defaults above; never throws.
MainSettings loadMainSettings(const std::string& profile);
// Writes all five keys. A failure leaves the file as it was (the window lets
// it go: a read-only working folder must not stop the program closing).
host::Status saveMainSettings(const std::string& profile, const MainSettings& settings);

// The 0-based item of the browse-condition list (ddlb_3) that shows `szf`:
// 1..3 for a condition, 0 (the label item) for none.
int browseConditionItem(BrowseCondition szf) noexcept;

}  // namespace kelvane
