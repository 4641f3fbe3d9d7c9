// The watch over torrin's unattended run. A share whose server has died
// (sshfs, NFS, SMB) makes reads of it wait for ever: the run would hang, a
// stop signal would wait for copies that never end, and every later run
// would be refused while the lock stays held. The watch sees the run's
// progress (host::markProgress) and ends a run that shows none for a bound.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "host/progress.h"

namespace torrin {

// Nothing moved for this long: the source does not answer. A large file over
// a slow link marks progress every few MiB, far more often.
inline constexpr std::chrono::seconds kUnansweredAfter{120};
// Asked to stop, a run whose copies under way show no progress for this long
// is ended: they would never end.
inline constexpr std::chrono::seconds kStopGrace{10};

class RunWatch : public host::ProgressSink {
  public:
    struct Bounds {
        std::chrono::milliseconds unanswered = kUnansweredAfter;
        std::chrono::milliseconds stopGrace = kStopGrace;
    };
    // The program's bounds, or those a test gives (host/fault_injection.h).
    static Bounds bounds() noexcept;

    // Called on the watch's thread when the run has shown no progress for
    // its bound: `at` is the file or folder the run had come to, `stopAsked`
    // whether `passedOn` had asked for a stop. It is to end the process.
    using Stuck = std::function<void(const std::string& at, bool stopAsked)>;

    // Passes the run's progress on to `passedOn`, and asks for a stop when it does.
    RunWatch(host::ProgressSink& passedOn, Bounds bounds, Stuck stuck);
    ~RunWatch() override;
    RunWatch(const RunWatch&) = delete;
    RunWatch& operator=(const RunWatch&) = delete;

    void step(long count, std::string_view current) override;
    void failed(std::string_view item, const host::Failure& failure) override;
    bool stopRequested() const noexcept override { return passedOn_.stopRequested(); }
    void reading(std::string_view folder) override;

  private:
    void cameTo(std::string_view path);
    void watch(std::stop_token stop);

    host::ProgressSink& passedOn_;
    const Bounds bounds_;
    const Stuck stuck_;
    std::mutex mutex_;
    std::string at_;
    std::condition_variable_any wake_;
    // Last: the thread ends before what it reads goes.
    std::jthread thread_;
};

}  // namespace torrin
