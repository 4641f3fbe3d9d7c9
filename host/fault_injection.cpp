#include "host/fault_injection.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

namespace host::faults {

void killProcessNow() noexcept;  // the platform's side

namespace {

struct KillPoint {
    std::mutex mutex;
    std::string point;
    long remaining = 0;
};
KillPoint killPoint;
// -1: not yet read from the environment; 0: none; 1: set.
std::atomic<int> state{-1};

void set(std::string_view point, long count) noexcept {
    try {
        std::lock_guard lock(killPoint.mutex);
        killPoint.point.assign(point);
        killPoint.remaining = count;
        state.store(point.empty() || count <= 0 ? 0 : 1);
    } catch (...) {
        state.store(0);
    }
}

void readEnvironment() noexcept {
    const char* value = std::getenv("ZARVIK_TEST_KILL_AT");
    const std::string_view text = value ? value : "";
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        set({}, 0);
        return;
    }
    set(text.substr(0, colon), std::strtol(value + colon + 1, nullptr, 10));
}

}  // namespace

void reach(std::string_view point) noexcept {
    int current = state.load(std::memory_order_relaxed);
    if (current == 0) return;
    if (current < 0) {
        readEnvironment();
        if (state.load() == 0) return;
    }
    std::lock_guard lock(killPoint.mutex);
    if (killPoint.point == point && --killPoint.remaining == 0) killProcessNow();
}

namespace {

// Verified copies to come before the one damaged; -1: not yet read from the
// environment; 0: none.
std::atomic<long> copiesBeforeDamage{-1};

}  // namespace

bool corruptThisCopy() noexcept {
    long left = copiesBeforeDamage.load();
    if (left < 0) {
        const char* value = std::getenv("ZARVIK_TEST_CORRUPT_COPY");
        const long count = value ? std::strtol(value, nullptr, 10) : 0;
        copiesBeforeDamage.compare_exchange_strong(left, count > 0 ? count : 0);
        left = copiesBeforeDamage.load();
    }
    // Each copy takes one step; the one that takes the last is damaged.
    while (left > 0) {
        if (copiesBeforeDamage.compare_exchange_weak(left, left - 1)) return left == 1;
    }
    return false;
}

void setCorruptCopyForTesting(long count) noexcept {
    copiesBeforeDamage.store(count > 0 ? count : 0);
}

bool journalSwitchedOff() noexcept {
    static const bool off = [] {
        const char* value = std::getenv("ZARVIK_TEST_NO_JOURNAL");
        return value && *value && std::string_view(value) != "0";
    }();
    return off;
}

void setKillAtForTesting(std::string_view point, long count) noexcept {
    set(point, count);
}

namespace {
// -1: not yet read from the environment.
std::atomic<int> noOpenat2{-1};
std::atomic<WorkOrder> order{WorkOrder::AsPosted};
}  // namespace

bool withoutOpenat2() noexcept {
    int without = noOpenat2.load(std::memory_order_relaxed);
    if (without < 0) {
        const char* value = std::getenv("ZARVIK_TEST_WITHOUT_OPENAT2");
        without = value && *value && std::string_view(value) != "0" ? 1 : 0;
        noOpenat2.store(without);
    }
    return without == 1;
}

void setWithoutOpenat2ForTesting(bool without) noexcept {
    noOpenat2.store(without ? 1 : 0);
}

WorkOrder workOrder() noexcept {
    return order.load(std::memory_order_relaxed);
}

void setWorkOrderForTesting(WorkOrder newOrder) noexcept {
    order.store(newOrder);
}

}  // namespace host::faults
