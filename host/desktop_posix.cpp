#include "host/desktop.h"

namespace host {

ProgramStart folderOpener(const std::string& folder) {
    // A relative name beginning with "-" would be taken for an option;
    // "./" names the same folder without that risk.
    if (!folder.empty() && folder.front() == '-') return {"xdg-open", {"./" + folder}};
    return {"xdg-open", {folder}};
}

std::optional<bool> openWithAssociatedProgramNow(const std::string&) noexcept {
    return std::nullopt;
}

}  // namespace host
