// torrin's settings in section "other" of confi9.ini: the keys with their
// defaults, the source folders dealt over "ypath1".."ypath3", and the rules
// that turn the stored texts into a run and back.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "host/result.h"

namespace torrin {

inline constexpr std::string_view kSettingsSection = "other";
inline constexpr std::string_view kSettingsFileName = "confi9.ini";
inline constexpr std::string_view kLogFileName = "log.txt";
// Beside the settings: the lock that lets one run at a time use them, the
// journal of the run in progress, the failures to try again and the state
// of the last run.
inline constexpr std::string_view kLockFileName = "confi9.lock";
inline constexpr std::string_view kJournalFileName = "confi9.journal";
inline constexpr std::string_view kRetryFileName = "confi9.retry";
// The state of the last run: its threshold's instant, the disks it used.
inline constexpr std::string_view kStateFileName = "confi9.state";

struct Settings {
    std::string mpath;  // target folder
    std::string fdt;    // threshold "yyyy-mm-dd hh:mm:ss"
    std::string bkycwj = "y";
    std::string sfth = "y";
    std::string qmljg = "y";
    std::array<std::string, 3> ypath;  // "ypath1".."ypath3" as stored
};

// Only exactly "y" is on.
inline bool isOn(std::string_view option) noexcept {
    return option == "y";
}
inline std::string optionText(bool on) {
    return on ? "y" : "n";
}

// `ap_path` + separator + "confi9.ini" / "log.txt".
std::string profilePath(const std::string& ap_path);
std::string logPath(const std::string& ap_path);

// A missing file or key gives the defaults above; never throws.
Settings loadSettings(const std::string& profile);

// The grid rows a start-up lists: "ypath1", "ypath2", "ypath3" split in turn,
// so the folders come back grouped by key.
std::vector<std::string> storedSourceFolders(const Settings& settings);

// Rows dealt out in turn to the three keys: a key with one row holds that path
// alone, a key with more holds each path followed by ";".
std::array<std::string, 3> dealSourceFolders(const std::vector<std::string>& rows);

// The first 10 characters form a valid date and the last 8 a valid time.
bool isValidThreshold(std::string_view text);

// What the window holds when it closes.
struct CloseState {
    bool replace = true;            // 替换同名文件
    bool includeHidden = true;      // 包括隐藏文件
    bool fullStructure = true;      // 保留全目录结构
    std::string threshold;          // the threshold to store; kept out when not valid
    std::string target;             // sle_2
    std::vector<std::string> rows;  // the grid's ypath values in grid order
};

// Writes the close-time keys: "fdt" only when the threshold is valid, the
// "ypath" keys only when there is at least one row. A failure leaves the file
// as it was (the window lets it go: a read-only working folder must not stop
// the program closing).
host::Status saveCloseSettings(const std::string& profile, const CloseState& state);

// Writes "mpath" at once (the target was just chosen).
host::Status saveTarget(const std::string& profile, const std::string& target);

}  // namespace torrin
