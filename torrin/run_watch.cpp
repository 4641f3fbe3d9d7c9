#include "torrin/run_watch.h"

#include <algorithm>

#include "host/fault_injection.h"

namespace torrin {

RunWatch::Bounds RunWatch::bounds() noexcept {
    Bounds bounds;
    if (const long long ms = host::faults::watchBoundMs(); ms >= 0)
        bounds.unanswered = std::chrono::milliseconds(ms);
    if (const long long ms = host::faults::watchStopGraceMs(); ms >= 0)
        bounds.stopGrace = std::chrono::milliseconds(ms);
    return bounds;
}

RunWatch::RunWatch(host::ProgressSink& passedOn, Bounds bounds, Stuck stuck)
    : passedOn_(passedOn),
      bounds_(bounds),
      stuck_(std::move(stuck)),
      thread_([this](std::stop_token stop) { watch(stop); }) {}

RunWatch::~RunWatch() = default;

void RunWatch::step(long count, std::string_view current) {
    cameTo(current);
    passedOn_.step(count, current);
}

void RunWatch::failed(std::string_view item, const host::Failure& failure) {
    host::markProgress();
    passedOn_.failed(item, failure);
}

void RunWatch::reading(std::string_view folder) {
    cameTo(folder);
    passedOn_.reading(folder);
}

void RunWatch::cameTo(std::string_view path) {
    host::markProgress();
    std::lock_guard lock(mutex_);
    at_.assign(path);
}

void RunWatch::watch(std::stop_token stop) {
    using Clock = std::chrono::steady_clock;
    // Looked at a few times per bound, at most once a second.
    const auto shortest = std::min(bounds_.unanswered, bounds_.stopGrace);
    const auto interval = std::clamp<std::chrono::milliseconds>(
        shortest / 4, std::chrono::milliseconds(10), std::chrono::seconds(1));
    std::uint64_t marks = host::progressMarks();
    Clock::time_point moved = Clock::now();
    bool stopAsked = false;
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        wake_.wait_for(lock, stop, interval, [] { return false; });
        if (stop.stop_requested()) return;
        const Clock::time_point now = Clock::now();
        const std::uint64_t seen = host::progressMarks();
        // A flush takes as long as its device needs, marking nothing.
        if (seen != marks || host::flushUnderWay()) {
            marks = seen;
            moved = now;
        }
        if (!stopAsked && passedOn_.stopRequested()) {
            stopAsked = true;
            moved = now;
        }
        if (now - moved < (stopAsked ? bounds_.stopGrace : bounds_.unanswered)) continue;
        const std::string at = at_;
        lock.unlock();
        stuck_(at, stopAsked);
        return;
    }
}

}  // namespace torrin
