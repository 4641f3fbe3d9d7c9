// The busy indication of long operations. On Windows the window is minimized
// for the run and restored at its end; on Linux it stays as it is
// (host::minimizesDuringRuns says why). A progress line shows the running count
// and the current name, the cursor shows busy, and the window icon alternates
// between "hand.ico" and "flower.ico". What reaches the screen is throttled to
// about 20 updates a second; pending events are processed then, so the window
// repaints.
//
// While a run is active isBusy() is true: controls that would start another
// operation or change a list must ignore clicks, and a close request is held
// until the run has ended.
#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <string_view>

#include "host/progress.h"

namespace host {

class BusyIndicator : public ProgressSink {
  public:
    BusyIndicator(QWidget* window, QLabel* progressLine);

    bool isBusy() const noexcept { return depth_ > 0; }
    // Starts a run. Runs nest (the simple check walks and imports inside its
    // own run): only the outermost begin and end change what is shown.
    void begin();
    void step(long count, std::string_view current) override;
    // Ends the run: icon back to "hand.ico", progress line hidden, cursor
    // restored; a close requested meanwhile is carried out now.
    void end();
    // Called from the window's close event: true when closing may go on now;
    // false when a run is active (the close then happens at its end).
    bool allowClose();

    static QIcon idleIcon();
    static QIcon alternateIcon();

  private:
    QPointer<QWidget> window_;
    QPointer<QLabel> progressLine_;
    QElapsedTimer sinceRepaint_;
    int depth_ = 0;
    bool alternate_ = false;
    bool closePending_ = false;
};

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
