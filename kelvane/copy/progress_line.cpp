#include "kelvane/copy/progress_line.h"

#include <cstdio>
#include <vector>

namespace kelvane {

namespace {

// The bytes and terminal columns of the UTF-8 character at `at`, roughly: CJK
// and other wide scripts take two. A byte that starts no valid sequence
// counts as one column, so any name can be measured.
struct Glyph {
    std::size_t bytes = 1;
    std::size_t columns = 1;
};

Glyph glyphAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 1;
    if (at + length > text.size()) length = 1;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return {};
        code = (code << 6) | (next & 0x3F);
    }
    const bool wide = code >= 0x1100 &&
                      (code <= 0x115F || (code >= 0x2E80 && code <= 0xA4CF) ||
                       (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
                       (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
                       (code >= 0xFFE0 && code <= 0xFFE6) || code >= 0x20000);
    return {length, wide ? 2u : 1u};
}

}  // namespace

std::string byteCountText(double bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    char buffer[32];
    if (unit == 0)
        std::snprintf(buffer, sizeof buffer, "%.0f B", bytes);
    else
        std::snprintf(buffer, sizeof buffer, "%.1f %s", bytes, units[unit]);
    return buffer;
}

ProgressLine::ProgressLine(std::ostream& err, std::ostream& output, long totalFiles, int columns,
                           Clock::time_point (*now)())
    : err_(err),
      output_(output),
      total_(totalFiles),
      columns_(columns),
      now_(now),
      started_(now()) {}

ProgressLine::~ProgressLine() {
    finish();
}

void ProgressLine::step(long, std::string_view current) {
    current_.assign(current);
    drawIfDue();
}

void ProgressLine::fileDone(std::int64_t bytes) {
    ++done_;
    if (bytes > 0) bytes_ += bytes;
    drawIfDue();
}

std::string ProgressLine::text() const {
    const double seconds = std::chrono::duration<double>(now_() - started_).count();
    std::string head = std::to_string(done_) + "/" + std::to_string(total_) + "  " +
                       byteCountText(static_cast<double>(bytes_));
    if (seconds >= 0.5) head += "  " + byteCountText(static_cast<double>(bytes_) / seconds) + "/s";
    head += "  ";
    // The last column stays free: writing into it wraps on some terminals.
    const std::size_t room = columns_ > 1 ? static_cast<std::size_t>(columns_ - 1) : 0;
    if (head.size() >= room) return head.substr(0, room);

    // The name's end says most (the file, not the shared folders): keep the
    // tail that fits, after "…" when something was cut.
    std::vector<Glyph> glyphs;
    std::size_t width = 0;
    for (std::size_t at = 0; at < current_.size();) {
        glyphs.push_back(glyphAt(current_, at));
        at += glyphs.back().bytes;
        width += glyphs.back().columns;
    }
    const std::size_t free = room - head.size();
    if (free < 2) return head;
    std::size_t start = 0;
    const bool cut = width > free;
    for (std::size_t index = 0; cut && width + 1 > free && index < glyphs.size(); ++index) {
        width -= glyphs[index].columns;
        start += glyphs[index].bytes;
    }
    std::string line = head + (cut ? "\xE2\x80\xA6" : "");
    // Control bytes would move the cursor: they are drawn as "?".
    for (std::size_t at = start; at < current_.size(); ++at) {
        const auto byte = static_cast<unsigned char>(current_[at]);
        line += byte < 0x20 || byte == 0x7F ? '?' : current_[at];
    }
    return line;
}

void ProgressLine::drawIfDue() {
    const Clock::time_point now = now_();
    if (lastDraw_ && now - *lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    const std::string line = text();
    std::size_t width = 0;
    for (std::size_t at = 0; at < line.size();) {
        const Glyph glyph = glyphAt(line, at);
        at += glyph.bytes;
        width += glyph.columns;
    }
    finish();
    output_.flush();
    err_ << line << '\r';
    err_.flush();
    drawn_ = true;
    drawnWidth_ = width;
}

void ProgressLine::finish() {
    if (!drawn_) return;
    // The cursor stands at the line's start (every draw ends with "\r").
    err_ << std::string(drawnWidth_, ' ') << '\r';
    err_.flush();
    drawn_ = false;
    drawnWidth_ = 0;
}

}  // namespace kelvane
