// The clock the engines read, so that tests can fix the time and compare logs
// byte for byte.
#pragma once

#include <ctime>
#include <string>

namespace host {

class Clock {
  public:
    virtual ~Clock() = default;
    // Seconds since the epoch.
    virtual std::time_t now() const = 0;
};

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

  private:
    std::time_t at_;
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
