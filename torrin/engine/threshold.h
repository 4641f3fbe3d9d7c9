// The threshold test of torrin's run: which file times count as after the
// threshold text "yyyy-mm-dd hh:mm:ss", read as local time.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace torrin {

// The instant a threshold text names in the local zone. Where the clock shows
// that text twice (the hour repeated when summer time ends) it is the earlier
// instant, so a run copies more, never less; where it never shows it (the
// hour skipped when summer time begins) it is the first instant after the gap.
// nullopt for a text not in that exact form or naming no real date and time.
std::optional<std::time_t> thresholdInstant(std::string_view text);

// Whether `a` names an earlier moment than `b` (both threshold texts; texts
// that name none compare as text).
bool earlierThreshold(const std::string& a, const std::string& b);

class ThresholdTest {
  public:
    explicit ThresholdTest(std::string threshold);
    // The instant given rather than read from the text in the local zone.
    ThresholdTest(std::string threshold, std::optional<std::time_t> instant);
    // Strictly after: a time equal to the threshold to the second is not.
    bool isAfter(std::time_t time) const;
    const std::string& text() const noexcept { return text_; }

  private:
    std::string text_;
    std::optional<std::time_t> instant_;
};

}  // namespace torrin
