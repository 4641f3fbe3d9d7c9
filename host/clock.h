// The clock the engines read, so that tests can fix the time and compare logs
// byte for byte.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace host {

class Clock {
  public:
    virtual ~Clock() = default;
    // Seconds since the epoch.
    virtual std::time_t now() const = 0;
    // Which start of the system this is, and the seconds since it: a clock
    // that setting the time does not move, so that a run can tell the time
    // was set back since the last one. nullopt where the system does not say.
    struct SinceBoot {
        std::string boot;
        std::int64_t seconds = 0;
    };
    virtual std::optional<SinceBoot> sinceBoot() const;
};

// The system's own, for Clock::sinceBoot.
std::optional<Clock::SinceBoot> systemSinceBoot();

// The clock in use: the system clock unless a test has installed another.
const Clock& clock() noexcept;
// Installs `replacement` until the returned guard is destroyed.
class ScopedClock {
  public:
    explicit ScopedClock(const Clock& replacement) noexcept;
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

  private:
    const Clock* previous_;
};

// A clock that stands still at a given instant (tests).
class FixedClock : public Clock {
  public:
    explicit FixedClock(std::time_t at) noexcept : at_(at) {}
    std::time_t now() const override { return at_; }
    void set(std::time_t at) noexcept { at_ = at; }
    // Unknown unless set.
    std::optional<SinceBoot> sinceBoot() const override { return sinceBoot_; }
    void setSinceBoot(std::optional<SinceBoot> since) { sinceBoot_ = std::move(since); }

  private:
    std::time_t at_;
    std::optional<SinceBoot> sinceBoot_;
};

// `seconds` since the epoch as local "yyyy-mm-dd hh:mm:ss".
std::string localTimeText(std::time_t seconds);
// The current local time as "yyyy-mm-dd hh:mm:ss", from clock().
std::string nowText();
// "yyyy-mm-dd hh:mm:ss" (local) -> seconds since the epoch; false when the text
// is not a valid date and time.
bool parseLocalTimeText(const std::string& text, std::time_t& seconds) noexcept;
// The offset of local time from UTC, in seconds, at the current instant.
long utcOffsetSeconds() noexcept;

}  // namespace host
