#include "host/progress.h"

#include <atomic>

namespace host {

namespace {

std::atomic<std::uint64_t> marks{0};
std::atomic<int> flushes{0};

}  // namespace

void markProgress() noexcept {
    marks.fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t progressMarks() noexcept {
    return marks.load(std::memory_order_relaxed);
}

FlushUnderWay::FlushUnderWay() noexcept {
    flushes.fetch_add(1, std::memory_order_relaxed);
}

FlushUnderWay::~FlushUnderWay() {
    markProgress();
    flushes.fetch_sub(1, std::memory_order_relaxed);
}

bool flushUnderWay() noexcept {
    return flushes.load(std::memory_order_relaxed) > 0;
}

}  // namespace host
