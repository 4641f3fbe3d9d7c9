// The stop of a command-line run by the signals that ask a program to end:
// SIGINT and SIGTERM (on Windows Ctrl+C, Ctrl+Break and the console's close).
// Once they are caught a signal only records itself; the run's engines poll
// the record between files, let the files in flight end, and the program
// leaves with the status the first signal gives. A second SIGINT (or SIGTERM
// after a SIGTERM; on Windows a second Ctrl+C or Ctrl+Break) ends the program
// at once, as if nothing had been caught.
#pragma once

#include <string_view>

#include "host/progress.h"

namespace host {

inline constexpr int kExitInterrupted = 130;  // SIGINT, Ctrl+C: 128 + 2
inline constexpr int kExitTerminated = 143;   // SIGTERM and the others: 128 + 15

// From now on, for the life of the process.
void catchStopSignals() noexcept;
// 0 while no stop signal has arrived; else the exit status of the first.
int stopSignalStatus() noexcept;
// What to tell the user: "interrupt" or "termination".
std::string_view stopSignalName(int status) noexcept;

// Progress that goes on to `shown` and asks for a stop once a stop signal
// has arrived.
class StopOnSignals : public ProgressSink {
  public:
    explicit StopOnSignals(ProgressSink& shown) : shown_(shown) {}
    void step(long count, std::string_view current) override { shown_.step(count, current); }
    void failed(std::string_view item, const Failure& failure) override {
        shown_.failed(item, failure);
    }
    bool stopRequested() const noexcept override { return stopSignalStatus() != 0; }
    void reading(std::string_view folder) override { shown_.reading(folder); }

  private:
    ProgressSink& shown_;
};

}  // namespace host
