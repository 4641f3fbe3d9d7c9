#include <signal.h>

#include <atomic>

#include "host/stop_signals.h"

namespace host {

namespace {

// Written by the handler: a lock-free atomic store is async-signal-safe.
std::atomic<int> arrived{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void recordStopSignal(int signal) {
    int none = 0;
    arrived.compare_exchange_strong(none, signal == SIGINT ? kExitInterrupted : kExitTerminated);
}

}  // namespace

void catchStopSignals() noexcept {
    struct sigaction action {};
    action.sa_handler = recordStopSignal;
    sigemptyset(&action.sa_mask);
    // Calls the signal interrupts go on; the second signal of a kind ends the
    // program by the default action.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int stopSignalStatus() noexcept {
    return arrived.load(std::memory_order_relaxed);
}

std::string_view stopSignalName(int status) noexcept {
    return status == kExitInterrupted ? "interrupt (SIGINT)" : "termination (SIGTERM)";
}

}  // namespace host
