// How long-running engines report progress: a count, the current item, and a
// chance to let the window process events. Implementations throttle what
// reaches the screen; engines call step() once per item.
#pragma once

#include <string_view>

namespace host {

class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void step(long count, std::string_view current) = 0;
};

// Reports nothing (tests, benchmarks).
class NullProgress : public ProgressSink {
  public:
    void step(long, std::string_view) override {}
};

}  // namespace host
