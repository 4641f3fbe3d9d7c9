// How long-running engines report progress: a count and the current item,
// each failure with its reason, and learn whether they are asked to stop. Implementations throttle
// what reaches the screen; engines call step() once per item and poll stopRequested() between
// items: once it is true they start nothing new, let the items in flight end, and return what was
// done.
#pragma once

#include <cstdint>
#include <string_view>

#include "host/result.h"

namespace host {

class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void step(long count, std::string_view current) = 0;
    // Something the run could not do (a file not copied, a folder not read),
    // with why, in the order the run reports its results; on the thread that
    // calls step(). `item` is the row's name or the path as the run names it.
    virtual void failed(std::string_view item, const Failure& failure) {
        static_cast<void>(item);
        static_cast<void>(failure);
    }
    // May be called from any thread of the run.
    virtual bool stopRequested() const noexcept { return false; }
    // The run waits for the listing of `folder` (read now, or ahead by a
    // worker); on the thread that calls step().
    virtual void reading(std::string_view folder) { static_cast<void>(folder); }
};

// Signs of life of the work under way, process-wide, so that a watch can
// tell work that goes on slowly (a large file over a slow link) from work
// stuck for good (a read from a share whose server has died): the copy loops
// mark each piece of a file they copy (a few MiB at most), the listings each
// entry, the runs each file and each copy's end. A mark is one relaxed atomic
// add, cheap enough for any loop.
void markProgress() noexcept;
std::uint64_t progressMarks() noexcept;

// Held around a wait for a device to take what was written to it (a flush),
// which marks nothing however long the device takes (minutes on a slow disk
// with much written to it): a watch does not count that time. Its end is a
// mark.
class FlushUnderWay {
  public:
    FlushUnderWay() noexcept;
    ~FlushUnderWay();
    FlushUnderWay(const FlushUnderWay&) = delete;
    FlushUnderWay& operator=(const FlushUnderWay&) = delete;
};
bool flushUnderWay() noexcept;

// Reports nothing (tests, benchmarks).
class NullProgress : public ProgressSink {
  public:
    void step(long, std::string_view) override {}
};

}  // namespace host
