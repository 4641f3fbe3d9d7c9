// Local time as Windows gives it to file times: FileTimeToLocalFileTime moves a
// time by the zone's offset in force now (not the one of the time's own date),
// and the time texts of the lists and the log are built exactly that way.
#include <cstdio>
#include <string>

#include "base/numbers_and_dates.h"
#include "host/clock.h"
#include "host/windows_internal.h"

namespace host {

std::string localTimeText(std::time_t seconds) {
    const FILETIME universal = windows::fileTimeOfSeconds(seconds);
    FILETIME local{};
    // Before the zero file time the conversion fails; the time stays as it is.
    if (!::FileTimeToLocalFileTime(&universal, &local)) local = universal;
    SYSTEMTIME parts{};
    if (!::FileTimeToSystemTime(&local, &parts)) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", parts.wYear, parts.wMonth,
                  parts.wDay, parts.wHour, parts.wMinute, parts.wSecond);
    return text;
}

bool parseLocalTimeText(const std::string& text, std::time_t& seconds) noexcept {
    const std::size_t space = text.find(' ');
    if (space == std::string::npos) return false;
    const std::string_view date = std::string_view(text).substr(0, space);
    const std::string_view time = std::string_view(text).substr(space + 1);
    if (!base::isDate(date) || !base::isTime(time)) return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d", &year, &month, &day, &hour, &minute) != 5)
        return false;
    int second = 0;
    const std::size_t secondColon = time.find(':', time.find(':') + 1);
    if (secondColon != std::string_view::npos)
        second = static_cast<int>(base::toInteger(time.substr(secondColon + 1, 2)));
    SYSTEMTIME parts{};
    parts.wYear = static_cast<WORD>(year);
    parts.wMonth = static_cast<WORD>(month);
    parts.wDay = static_cast<WORD>(day);
    parts.wHour = static_cast<WORD>(hour);
    parts.wMinute = static_cast<WORD>(minute);
    parts.wSecond = static_cast<WORD>(second);
    FILETIME local{}, universal{};
    // The inverse of localTimeText, so a text read back gives the same text.
    if (!::SystemTimeToFileTime(&parts, &local)) return false;
    if (!::LocalFileTimeToFileTime(&local, &universal)) return false;
    seconds = windows::secondsOf(universal);
    return true;
}

long utcOffsetSeconds() noexcept {
    const FILETIME universal = windows::fileTimeOfSeconds(clock().now());
    FILETIME local{};
    if (!::FileTimeToLocalFileTime(&universal, &local)) return 0;
    return static_cast<long>((windows::ticksOf(local) - windows::ticksOf(universal)) /
                             windows::kTicksPerSecond);
}

}  // namespace host

namespace host {

// Windows names no boot the way Linux does; a run there relies on the
// threshold check against the present alone.
std::optional<Clock::SinceBoot> systemSinceBoot() {
    return std::nullopt;
}

}  // namespace host
