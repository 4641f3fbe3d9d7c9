#include "kelvane/kelvane_settings.h"

#include "host/ini.h"
#include "host/paths.h"
#include "host/text.h"

namespace kelvane {

std::string profilePath(const std::string& ap_path) {
    return host::joinPath(ap_path, kSettingsFileName);
}

MainSettings loadMainSettings(const std::string& profile) {
    host::IniFile ini(profile);
    MainSettings settings;
    settings.hjlltj = ini.read(kSettingsSection, "hjlltj", "0");
    settings.sle_1 = ini.read(kSettingsSection, "sle_1", "");
    settings.sle_2 = ini.read(kSettingsSection, "sle_2", "");
    settings.em_1rq = ini.read(kSettingsSection, "em_1rq", "");
    settings.bkycwj = ini.read(kSettingsSection, "bkycwj", "y");
    return settings;
}

bool saveMainSettings(const std::string& profile, const MainSettings& settings) {
    host::IniFile ini(profile);
    ini.write(kSettingsSection, "sle_1", settings.sle_1);
    ini.write(kSettingsSection, "sle_2", settings.sle_2);
    ini.write(kSettingsSection, "bkycwj", settings.bkycwj);
    ini.write(kSettingsSection, "hjlltj", settings.hjlltj);
    ini.write(kSettingsSection, "em_1rq", settings.em_1rq);
    return ini.save();
}

int browseConditionItem(std::string_view szf) {
    const long long n = host::toInteger(szf);
    return (n > 0 && n < 4) ? static_cast<int>(n) : 0;
}

std::string hjlltjFromText(std::string_view ddlb3Text) {
    std::string first = host::gbkLeft(ddlb3Text, 1);
    return host::toInteger(first) >= 1 ? first : std::string("0");
}

}  // namespace kelvane
