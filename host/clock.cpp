#include "host/clock.h"

#include <atomic>
#include <ctime>
#include <string>

namespace host {
namespace {

class SystemClock : public Clock {
  public:
    std::time_t now() const override { return std::time(nullptr); }
};

const SystemClock systemClock;
std::atomic<const Clock*> currentClock{&systemClock};

}  // namespace

std::optional<Clock::SinceBoot> Clock::sinceBoot() const {
    return systemSinceBoot();
}

const Clock& clock() noexcept {
    return *currentClock.load();
}

ScopedClock::ScopedClock(const Clock& replacement) noexcept
    : previous_(currentClock.exchange(&replacement)) {}

ScopedClock::~ScopedClock() {
    currentClock.store(previous_);
}

std::string nowText() {
    return localTimeText(clock().now());
}

}  // namespace host
