// A volume's serial number and whether a folder is its root, as Windows gives
// them: a drive letter that now names another disk has another serial.
#include <cstdio>
#include <string>

#include "host/disks.h"
#include "host/windows_internal.h"

namespace host {

Result<DiskIdentity> diskOf(const std::string& folder) {
    const std::wstring path = windows::systemPath(folder);
    const windows::Handle handle(::CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid()) return windows::fail("cannot look at", folder, ::GetLastError());
    DWORD serial = 0;
    if (!::GetVolumeInformationByHandleW(handle.get(), nullptr, 0, &serial, nullptr, nullptr,
                                         nullptr, 0))
        return windows::fail("cannot look at", folder, ::GetLastError());
    DiskIdentity disk;
    char text[32];
    std::snprintf(text, sizeof text, "serial=%08lx", static_cast<unsigned long>(serial));
    disk.names = text;
    // The root of a volume is its own volume path: "D:\", or a folder a
    // volume is mounted on.
    wchar_t root[MAX_PATH + 1] = {};
    const std::wstring full = windows::widen(folder);
    if (::GetVolumePathNameW(full.c_str(), root, MAX_PATH)) {
        std::wstring given = full;
        while (!given.empty() && (given.back() == L'\\' || given.back() == L'/')) given.pop_back();
        std::wstring volume = root;
        while (!volume.empty() && volume.back() == L'\\') volume.pop_back();
        disk.ownRoot =
            ::CompareStringOrdinal(given.c_str(), -1, volume.c_str(), -1, TRUE) == CSTR_EQUAL;
    }
    return disk;
}

}  // namespace host
