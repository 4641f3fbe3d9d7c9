#include "base/caseless_key.h"
#include "base/path_rules.h"
#include "host/paths.h"
#include "host/windows_internal.h"

namespace host {

std::string sameFileKey(std::string_view path) {
    // The system's own upper case of every letter, as NTFS compares names
    // (it also takes the dotless i for I), then folded as on every platform.
    std::wstring wide = windows::widen(path);
    if (!wide.empty()) ::CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return base::caselessKey(windows::narrow(wide));
}

NameReading listNameReading(long count, const std::function<std::string(long)>& nameAt,
                            std::string_view) {
    // The drive letter tells full paths from relative names; no file is asked.
    if (count < 1) return NameReading::Relative;
    return base::windows_rules::nameReading(nameAt(1));
}

}  // namespace host
