#include <atomic>

#include "host/stop_signals.h"
#include "host/windows_internal.h"

namespace host {

namespace {

std::atomic<int> arrived{0};

BOOL WINAPI recordStopSignal(DWORD event) {
    int none = 0;
    const bool first = arrived.compare_exchange_strong(
        none, event == CTRL_C_EVENT ? kExitInterrupted : kExitTerminated);
    // A second Ctrl+C or Ctrl+Break goes on to the default handler, which ends
    // the program; closing the console ends it once this returns, in any case.
    return first || (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT);
}

}  // namespace

void catchStopSignals() noexcept {
    ::SetConsoleCtrlHandler(recordStopSignal, TRUE);
}

int stopSignalStatus() noexcept {
    return arrived.load(std::memory_order_relaxed);
}

std::string_view stopSignalName(int status) noexcept {
    return status == kExitInterrupted ? "interrupt (Ctrl+C)" : "termination";
}

}  // namespace host
