#include "host/desktop.h"

#include "host/path_rules.h"
#include "host/windows_internal.h"

#include <shellapi.h>

namespace host {

ProgramStart folderOpener(const std::string& folder) {
    return {"explorer.exe", {windows_rules::folderForShell(folder)}};
}

std::optional<bool> openWithAssociatedProgramNow(const std::string& path) noexcept {
    try {
        const std::wstring wide = windows::widen(path);
        const auto result = reinterpret_cast<INT_PTR>(
            ::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        // ShellExecute's old convention: values up to 32 are error codes.
        return result > 31;
    } catch (...) {
        return false;
    }
}

}  // namespace host
