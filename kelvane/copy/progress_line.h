// The command line's progress display for --copy: one line on standard error,
// "files done/total, bytes, rate, current name", redrawn in place at most ten
// times a second and wiped at the end, so that what stays on the terminal is
// only the program's real output. The caller shows it only when standard
// error is a terminal; scripts and logs never see it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "host/progress.h"

namespace kelvane {

class ProgressLine : public host::ProgressSink {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kRedrawInterval{100};

    // `columns`: the terminal's width; the line never reaches its last column,
    // so it cannot wrap. `output` (the program's results, perhaps on the same
    // terminal) is flushed after the line is wiped and before it is drawn
    // again, so results never land on top of it. `now` is read for the
    // throttle and the rate.
    ProgressLine(std::ostream& err, std::ostream& output, long totalFiles, int columns,
                 Clock::time_point (*now)() = &Clock::now);
    ~ProgressLine() override;
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // The engine starts on `current` (its `count`-th item).
    void step(long count, std::string_view current) override;
    // A file is done; `bytes` of it were copied.
    void fileDone(std::int64_t bytes);
    // Wipes the line (if one was drawn), e.g. before a message goes to the
    // terminal; the next due redraw brings it back. Called by the destructor.
    void finish();

    // The text of the line as it would be drawn now, clipped to the width.
    std::string text() const;

  private:
    void drawIfDue();

    std::ostream& err_;
    std::ostream& output_;
    long total_;
    int columns_;
    Clock::time_point (*now_)();
    Clock::time_point started_;
    std::optional<Clock::time_point> lastDraw_;
    bool drawn_ = false;
    std::size_t drawnWidth_ = 0;
    long done_ = 0;
    std::int64_t bytes_ = 0;
    std::string current_;
};

// "1023 B", "1.5 KiB", "12.0 MiB", ...
std::string byteCountText(double bytes);

}  // namespace kelvane
