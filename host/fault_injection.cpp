#include "host/fault_injection.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>

namespace host::faults {

namespace {

// The environment's switches are read here, once, as the program starts: the
// code the seams sit in only loads a flag.
const char* environment(const char* name) noexcept {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

bool switchedOn(const char* name) noexcept {
    const char* value = environment(name);
    return value && std::string_view(value) != "0";
}

long long number(const char* name, long long unset) noexcept {
    const char* value = environment(name);
    return value ? std::strtoll(value, nullptr, 10) : unset;
}

struct KillPoint {
    std::mutex mutex;
    std::string point;
    long remaining = 0;
    int signal = 0;  // 0: SIGKILL
    // 0: none; 1: set.
    std::atomic<int> state{0};

    void set(std::string_view newPoint, long count, int newSignal) noexcept {
        try {
            std::lock_guard lock(mutex);
            point.assign(newPoint);
            remaining = count;
            signal = newSignal;
            state.store(newPoint.empty() || count <= 0 ? 0 : 1);
        } catch (...) {
            state.store(0);
        }
    }

    KillPoint() {
        const char* value = environment("ZARVIK_TEST_KILL_AT");
        const std::string_view text = value ? value : "";
        const std::size_t colon = text.find(':');
        if (colon == std::string_view::npos) return;
        char* end = nullptr;
        const long count = std::strtol(value + colon + 1, &end, 10);
        set(text.substr(0, colon), count,
            *end == ':' ? static_cast<int>(std::strtol(end + 1, nullptr, 10)) : 0);
    }
};
KillPoint killPoint;

// -1: never.
std::atomic<long long> killAfterBytes{std::max(-1LL, number("ZARVIK_TEST_KILL_COPY_AFTER", -1))};
// Verified copies to come before the one damaged; 0: none.
std::atomic<long> copiesBeforeDamage{
    static_cast<long>(std::max(0LL, number("ZARVIK_TEST_CORRUPT_COPY", 0)))};
const bool noJournal = switchedOn("ZARVIK_TEST_NO_JOURNAL");
std::atomic<bool> noOpenat2{switchedOn("ZARVIK_TEST_WITHOUT_OPENAT2")};
std::atomic<bool> namedOnly{switchedOn("ZARVIK_TEST_NAMED_TEMPORARIES")};
std::atomic<long long> sourceLimit{std::max(-1LL, number("ZARVIK_TEST_SHORT_READ", -1))};
const long long blockedAfter = std::max(-1LL, number("ZARVIK_TEST_BLOCKED_READ", -1));
// "<bound>:<grace>".
struct WatchBounds {
    long long bound = -1;
    long long grace = -1;
    WatchBounds() {
        const char* value = environment("ZARVIK_TEST_WATCH_BOUNDS");
        if (!value) return;
        char* end = nullptr;
        bound = std::max(-1LL, std::strtoll(value, &end, 10));
        if (*end == ':') grace = std::max(-1LL, std::strtoll(end + 1, nullptr, 10));
    }
};
const WatchBounds watchBounds;
struct MidCopyAction {
    std::mutex mutex;
    long long after = -1;
    std::function<void()> action;
    std::atomic<bool> set{false};
};
MidCopyAction midCopyAction;
const long long freeNameWait = std::max(0LL, number("ZARVIK_TEST_FREE_NAME_WAIT", 0));

std::atomic<WorkOrder> order{WorkOrder::AsPosted};
std::atomic<int> workDelay{0};
std::atomic<long> outOfOrder{0};

}  // namespace

void reach(std::string_view point) noexcept {
    if (killPoint.state.load(std::memory_order_relaxed) == 0) return;
    std::lock_guard lock(killPoint.mutex);
    if (killPoint.point != point || --killPoint.remaining != 0) return;
    if (killPoint.signal != 0)
        signalProcessNow(killPoint.signal);
    else
        killProcessNow();
}

void setKillAtForTesting(std::string_view point, long count, int signal) noexcept {
    killPoint.set(point, count, signal);
}

long long killCopyAfter() noexcept {
    return killAfterBytes.load(std::memory_order_relaxed);
}

void setKillCopyAfterBytesForTesting(long long bytes) noexcept {
    killAfterBytes.store(bytes < 0 ? -1 : bytes);
}

bool corruptThisCopy() noexcept {
    long left = copiesBeforeDamage.load(std::memory_order_relaxed);
    // Each copy takes one step; the one that takes the last is damaged.
    while (left > 0) {
        if (copiesBeforeDamage.compare_exchange_weak(left, left - 1)) return left == 1;
    }
    return false;
}

void setCorruptCopyForTesting(long count) noexcept {
    copiesBeforeDamage.store(count > 0 ? count : 0);
}

long long sourceReadLimit() noexcept {
    return sourceLimit.load(std::memory_order_relaxed);
}

void setSourceReadLimitForTesting(long long bytes) noexcept {
    sourceLimit.store(bytes < 0 ? -1 : bytes);
}

long long sourceBlockedAfter() noexcept {
    return blockedAfter;
}

void blockForGood() noexcept {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

long long watchBoundMs() noexcept {
    return watchBounds.bound;
}

long long watchStopGraceMs() noexcept {
    return watchBounds.grace;
}

void setMidCopyActionForTesting(long long bytes, std::function<void()> action) {
    std::lock_guard lock(midCopyAction.mutex);
    midCopyAction.after = bytes;
    midCopyAction.action = std::move(action);
    midCopyAction.set.store(static_cast<bool>(midCopyAction.action));
}

bool midCopyActionSet() noexcept {
    return midCopyAction.set.load(std::memory_order_relaxed);
}

void copiedSourceBytes(long long bytes) noexcept {
    if (!midCopyActionSet()) return;
    std::function<void()> action;
    {
        std::lock_guard lock(midCopyAction.mutex);
        if (!midCopyAction.action || bytes <= midCopyAction.after) return;
        action = std::move(midCopyAction.action);
        midCopyAction.action = nullptr;
        midCopyAction.set.store(false);
    }
    try {
        action();
    } catch (...) {
    }
}

bool journalSwitchedOff() noexcept {
    return noJournal;
}

bool withoutOpenat2() noexcept {
    return noOpenat2.load(std::memory_order_relaxed);
}

void setWithoutOpenat2ForTesting(bool without) noexcept {
    noOpenat2.store(without);
}

bool namedTemporaries() noexcept {
    return namedOnly.load(std::memory_order_relaxed);
}

void setNamedTemporariesForTesting(bool named) noexcept {
    namedOnly.store(named);
}

void waitBeforeTakingFreeName() noexcept {
    if (freeNameWait > 0) std::this_thread::sleep_for(std::chrono::microseconds(freeNameWait));
}

WorkOrder workOrder() noexcept {
    return order.load(std::memory_order_relaxed);
}

void setWorkOrderForTesting(WorkOrder newOrder) noexcept {
    order.store(newOrder);
}

void setWorkDelayForTesting(int microseconds) noexcept {
    workDelay.store(microseconds);
}

void delayWork() {
    const int most = workDelay.load(std::memory_order_relaxed);
    if (most <= 0) return;
    thread_local std::minstd_rand random{std::random_device{}()};
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (most + 1)));
}

bool completionOrderWatched() noexcept {
    return workDelay.load(std::memory_order_relaxed) > 0 || workOrder() == WorkOrder::LaterFirst;
}

void countOutOfOrderCompletion() noexcept {
    ++outOfOrder;
}

long outOfOrderCompletionsForTesting() noexcept {
    return outOfOrder.load();
}

}  // namespace host::faults
