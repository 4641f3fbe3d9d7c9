// How long-running engines report progress: a count and the current item,
// each failure with its reason, and learn whether they are asked to stop. Implementations throttle
// what reaches the screen; engines call step() once per item and poll stopRequested() between
// items: once it is true they start nothing new, let the items in flight end, and return what was
// done.
#pragma once

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
};

// Reports nothing (tests, benchmarks).
class NullProgress : public ProgressSink {
  public:
    void step(long, std::string_view) override {}
};

}  // namespace host
