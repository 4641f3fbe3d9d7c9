// The busy indication of long operations. On Windows the window is minimized
// for the run and restored at its end; on Linux it stays as it is
// (host::minimizesDuringRuns says why). A progress line shows the running count
// and the current name, the cursor shows busy, and the window icon alternates
// between "hand.ico" and "flower.ico". What reaches the screen is throttled to
// about 20 updates a second.
//
// While a run is active isBusy() is true: controls that would start another
// operation or change a list must ignore clicks, and a close request is held
// until the run has ended.
//
// The engines' work of a run (walks, checks, imports, copies) goes to a
// worker thread through runOnWorker(): the window's events go on meanwhile,
// the worker's progress reaches the progress line through queued calls, and a
// stop asked for (Esc while the run is active, or a close) reaches the engine
// through its progress sink, which it polls between files.
#pragma once

#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QShortcut>
#include <QWidget>
#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/progress.h"

namespace host {

class BusyIndicator {
  public:
    BusyIndicator(QWidget* window, QLabel* progressLine);

    bool isBusy() const noexcept { return depth_ > 0; }
    // Starts a run. Runs nest (the simple check walks and imports inside its
    // own run): only the outermost begin and end change what is shown.
    void begin();
    // Ends the run: icon back to "hand.ico", progress line hidden, cursor
    // restored; a close requested meanwhile is carried out now.
    void end();
    // Called from the window's close event: true when closing may go on now;
    // false when a run is active (it is asked to stop, and the close then
    // happens at its end).
    bool allowClose();
    // A close asked for during the run waits for its end.
    bool closing() const noexcept { return closePending_; }

    // Asks the active run to stop after the files in flight; nothing when no
    // run is active. A stop holds to the end of the outermost run.
    void requestStop() noexcept;
    bool stopRequested() const noexcept { return stop_.load(); }

    // What the runs since the last take could not do (their progress sinks'
    // failed calls), in the order they were reported.
    struct RunFailure {
        std::string item;
        Failure failure;
    };
    std::vector<RunFailure> takeFailures() { return std::exchange(failures_, {}); }

    // Runs `work` on a worker thread, within a run, and returns when it has
    // ended; meanwhile the events of the window are processed (a local event
    // loop), so a script that calls this still ends after its work, as it did
    // when the work ran here. `work` gets a progress sink that may be used
    // from any thread: its steps are shown here, throttled, and it asks for a
    // stop once one is requested. What `work` throws is thrown here. True
    // when a stop was requested.
    bool runOnWorker(const std::function<void(ProgressSink&)>& work);

    static QIcon idleIcon();
    static QIcon alternateIcon();

  private:
    // Shows a step: icon, progress line.
    void show(long count, std::string_view current);
    void giveKeysBack();

    QPointer<QWidget> window_;
    QPointer<QLabel> progressLine_;
    int depth_ = 0;
    bool alternate_ = false;
    bool closePending_ = false;
    std::atomic<bool> stop_{false};
    std::vector<RunFailure> failures_;
    QPointer<QShortcut> stopKey_;
    std::vector<QPointer<QShortcut>> heldKeys_;
    // Held keys on their way back after a stopped run, and the count that
    // tells a give-back still due from one a later run has cancelled.
    std::vector<QPointer<QShortcut>> returningKeys_;
    unsigned keysGeneration_ = 0;
};

// Thrown by a window's script step when its run was stopped: the script ends
// there, quietly (host::runScript catches it).
struct RunStopped {};

// A run for the lifetime of the guard, ended also when an exception leaves it.
class BusyRun {
  public:
    explicit BusyRun(BusyIndicator& indicator) : indicator_(indicator) { indicator_.begin(); }
    ~BusyRun() { indicator_.end(); }
    BusyRun(const BusyRun&) = delete;
    BusyRun& operator=(const BusyRun&) = delete;

  private:
    BusyIndicator& indicator_;
};

}  // namespace host
