#include "kelvane/kelvane_settings.h"

#include "base/numbers_and_dates.h"
#include "host/gbk_positions.h"
#include "host/ini.h"
#include "host/paths.h"

namespace kelvane {

namespace {

// The digits of "hjlltj", in the order of ddlb_3's items.
constexpr std::string_view kConditionDigits[] = {"0", "1", "2", "3"};

BrowseCondition storedCondition(std::string_view hjlltj) noexcept {
    const long long n = base::toInteger(hjlltj);
    return n > 0 && n < 4 ? static_cast<BrowseCondition>(n) : BrowseCondition::None;
}

}  // namespace

std::string profilePath(const std::string& ap_path) {
    return host::joinPath(ap_path, kSettingsFileName);
}

MainSettings loadMainSettings(const std::string& profile) {
    host::IniFile ini(profile);
    MainSettings settings;
    settings.hjlltj = storedCondition(ini.read(kSettingsSection, "hjlltj", "0"));
    settings.sle_1 = ini.read(kSettingsSection, "sle_1", "");
    settings.sle_2 = ini.read(kSettingsSection, "sle_2", "");
    settings.em_1rq = ini.read(kSettingsSection, "em_1rq", "");
    settings.bkycwj = ini.read(kSettingsSection, "bkycwj", "y");
    return settings;
}

host::Status saveMainSettings(const std::string& profile, const MainSettings& settings) {
    host::IniFile ini(profile);
    ini.write(kSettingsSection, "sle_1", settings.sle_1);
    ini.write(kSettingsSection, "sle_2", settings.sle_2);
    ini.write(kSettingsSection, "bkycwj", settings.bkycwj);
    ini.write(kSettingsSection, "hjlltj", kConditionDigits[browseConditionItem(settings.hjlltj)]);
    ini.write(kSettingsSection, "em_1rq", settings.em_1rq);
    return ini.save();
}

int browseConditionItem(BrowseCondition szf) noexcept {
    return static_cast<int>(szf);
}

}  // namespace kelvane
