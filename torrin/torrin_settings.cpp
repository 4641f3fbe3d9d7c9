#include "torrin/torrin_settings.h"

#include "base/numbers_and_dates.h"
#include "host/gbk_positions.h"
#include "host/ini.h"
#include "host/paths.h"
#include "torrin/engine/rcopy.h"

namespace torrin {

namespace {
constexpr std::array<std::string_view, 3> kYpathKeys = {"ypath1", "ypath2", "ypath3"};
}

std::string profilePath(const std::string& ap_path) {
    return host::joinPath(ap_path, kSettingsFileName);
}

std::string logPath(const std::string& ap_path) {
    return host::joinPath(ap_path, kLogFileName);
}

Settings loadSettings(const std::string& profile) {
    const host::IniFile ini(profile);
    Settings settings;
    settings.mpath = ini.read(kSettingsSection, "mpath", "");
    settings.fdt = ini.read(kSettingsSection, "fdt", "");
    settings.bkycwj = ini.read(kSettingsSection, "bkycwj", "y");
    settings.sfth = ini.read(kSettingsSection, "sfth", "y");
    settings.qmljg = ini.read(kSettingsSection, "qmljg", "y");
    for (std::size_t k = 0; k < kYpathKeys.size(); ++k) {
        settings.ypath[k] = ini.read(kSettingsSection, kYpathKeys[k], "");
    }
    return settings;
}

std::vector<std::string> storedSourceFolders(const Settings& settings) {
    std::vector<std::string> rows;
    for (const std::string& stored : settings.ypath) {
        std::vector<std::string> folders = tjywjj(stored);
        rows.insert(rows.end(), folders.begin(), folders.end());
    }
    return rows;
}

std::array<std::string, 3> dealSourceFolders(const std::vector<std::string>& rows) {
    std::array<std::string, 3> values;
    std::array<int, 3> counts{};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::size_t key = i % 3;
        // The first row stands alone until a second joins it; then every
        // path of the key is followed by ";" (the reading rule needs that).
        if (counts[key] == 1) values[key] += ';';
        values[key] += rows[i];
        if (counts[key] >= 1) values[key] += ';';
        ++counts[key];
    }
    return values;
}

bool isValidThreshold(std::string_view text) {
    return base::isDate(host::gbkLeft(text, 10)) && base::isTime(host::gbkRight(text, 8));
}

host::Status saveCloseSettings(const std::string& profile, const CloseState& state) {
    host::IniFile ini(profile);
    ini.write(kSettingsSection, "sfth", optionText(state.replace));
    ini.write(kSettingsSection, "bkycwj", optionText(state.includeHidden));
    ini.write(kSettingsSection, "qmljg", optionText(state.fullStructure));
    if (isValidThreshold(state.threshold)) ini.write(kSettingsSection, "fdt", state.threshold);
    ini.write(kSettingsSection, "mpath", state.target);
    if (!state.rows.empty()) {
        const std::array<std::string, 3> values = dealSourceFolders(state.rows);
        for (std::size_t k = 0; k < kYpathKeys.size(); ++k) {
            ini.write(kSettingsSection, kYpathKeys[k], values[k]);
        }
    }
    return ini.save();
}

host::Status saveTarget(const std::string& profile, const std::string& target) {
    return host::iniWrite(profile, kSettingsSection, "mpath", target);
}

}  // namespace torrin
