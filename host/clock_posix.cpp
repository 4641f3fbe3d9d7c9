// Local time through the C library's zone rules.
#include <cstdio>
#include <ctime>
#include <string>

#include "base/numbers_and_dates.h"
#include "host/clock.h"

namespace host {

std::string localTimeText(std::time_t seconds) {
    std::tm local{};
    if (!localtime_r(&seconds, &local)) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

bool parseLocalTimeText(const std::string& text, std::time_t& seconds) noexcept {
    std::size_t space = text.find(' ');
    if (space == std::string::npos) return false;
    std::string_view date = std::string_view(text).substr(0, space);
    std::string_view time = std::string_view(text).substr(space + 1);
    if (!base::isDate(date) || !base::isTime(time)) return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    // Both parts are validated above, so the scan only has to pick the numbers.
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d", &year, &month, &day, &hour, &minute) != 5)
        return false;
    std::size_t secondColon = time.find(':', time.find(':') + 1);
    if (secondColon != std::string_view::npos)
        second = static_cast<int>(base::toInteger(time.substr(secondColon + 1, 2)));
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;  // let the zone rules decide for that date
    std::time_t result = std::mktime(&local);
    if (result == static_cast<std::time_t>(-1) &&
        !(local.tm_year == year - 1900 && local.tm_mon == month - 1 && local.tm_mday == day))
        return false;
    seconds = result;
    return true;
}

long utcOffsetSeconds() noexcept {
    std::time_t now = clock().now();
    std::tm local{};
    if (!localtime_r(&now, &local)) return 0;
    return local.tm_gmtoff;
}

}  // namespace host

namespace host {

std::optional<Clock::SinceBoot> systemSinceBoot() {
    std::FILE* file = std::fopen("/proc/sys/kernel/random/boot_id", "r");
    if (!file) return std::nullopt;
    char boot[64] = {};
    const bool read = std::fgets(boot, sizeof boot, file) != nullptr;
    std::fclose(file);
    timespec since{};
    if (!read || ::clock_gettime(CLOCK_BOOTTIME, &since) != 0) return std::nullopt;
    std::string id(boot);
    while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
    return Clock::SinceBoot{std::move(id), static_cast<std::int64_t>(since.tv_sec)};
}

}  // namespace host
