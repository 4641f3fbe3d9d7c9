// How long-running engines report progress: a count and the current item, and
// learn whether they are asked to stop. Implementations throttle what reaches
// the screen; engines call step() once per item and poll stopRequested()
// between items: once it is true they start nothing new, let the items in
// flight end, and return what was done.
#pragma once

#include <string_view>

namespace host {

class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void step(long count, std::string_view current) = 0;
    // May be called from any thread of the run.
    virtual bool stopRequested() const noexcept { return false; }
};

// Reports nothing (tests, benchmarks).
class NullProgress : public ProgressSink {
  public:
    void step(long, std::string_view) override {}
};

}  // namespace host
