#include "torrin/engine/threshold.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>
#include <vector>

#include "host/clock.h"

namespace torrin {

namespace {

constexpr std::time_t kDay = 86400;

// The seconds a time text would count if it were UTC: texts of one zone
// compare as these numbers do. nullopt unless the text has exactly the form
// "yyyy-mm-dd hh:mm:ss" and names a real date and time of day.
std::optional<std::time_t> wallClockSeconds(std::string_view text) {
    if (text.size() != 19) return std::nullopt;
    const std::string bytes(text);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char formed[32];
    if (std::sscanf(bytes.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &year, &month, &day, &hour, &minute,
                    &second) != 6 ||
        std::snprintf(formed, sizeof formed, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day,
                      hour, minute, second) != 19 ||
        bytes != formed)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    return static_cast<std::time_t>(std::chrono::sys_days(date).time_since_epoch().count()) * kDay +
           hour * 3600 + minute * 60 + second;
}

// The wall clock the local zone shows at `instant`, as wallClockSeconds counts it.
std::optional<std::time_t> wallClockAt(std::time_t instant) {
    return wallClockSeconds(host::localTimeText(instant));
}

}  // namespace

std::optional<std::time_t> thresholdInstant(std::string_view text) {
    const std::optional<std::time_t> wall = wallClockSeconds(text);
    if (!wall) return std::nullopt;
    // Each offset the zone uses around that day gives one candidate instant;
    // a candidate counts when the clock really shows the text then.
    std::vector<std::time_t> candidates;
    for (const std::time_t probe : {*wall - kDay, *wall, *wall + kDay}) {
        const std::optional<std::time_t> shown = wallClockAt(probe);
        if (!shown) continue;
        const std::time_t candidate = *wall - (*shown - probe);
        if (std::find(candidates.begin(), candidates.end(), candidate) == candidates.end())
            candidates.push_back(candidate);
    }
    if (candidates.empty()) return std::nullopt;
    std::optional<std::time_t> earliest;
    for (const std::time_t candidate : candidates) {
        if (wallClockAt(candidate) == wall && (!earliest || candidate < *earliest))
            earliest = candidate;
    }
    if (earliest) return earliest;
    // The text falls in a gap: the first instant whose clock shows a later
    // time lies between the candidates, where the clock only moves forward.
    std::time_t low = *std::min_element(candidates.begin(), candidates.end());
    std::time_t high = *std::max_element(candidates.begin(), candidates.end());
    if (wallClockAt(high).value_or(*wall) < *wall) return std::nullopt;
    while (low < high) {
        const std::time_t middle = low + (high - low) / 2;
        if (wallClockAt(middle).value_or(*wall) < *wall)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

bool earlierThreshold(const std::string& a, const std::string& b) {
    const auto first = thresholdInstant(a), second = thresholdInstant(b);
    if (first && second) return *first < *second;
    return a < b;
}

ThresholdTest::ThresholdTest(std::string threshold)
    : text_(std::move(threshold)), instant_(thresholdInstant(text_)) {}

ThresholdTest::ThresholdTest(std::string threshold, std::optional<std::time_t> instant)
    : text_(std::move(threshold)), instant_(instant ? instant : thresholdInstant(text_)) {}

bool ThresholdTest::isAfter(std::time_t time) const {
    if (instant_) return time > *instant_;
    // A text of another form compares as text, as it always has.
    return host::localTimeText(time) > text_;
}

}  // namespace torrin
