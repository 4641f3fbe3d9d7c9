#include "kelvane/import/jqwz.h"

#include "grid/redraw_pause.h"
#include "host/gbk_positions.h"
#include "host/paths.h"

namespace kelvane {

long jqwz(std::string_view s1, long iend, std::string_view separator) noexcept {
    long pos = 0;
    long start = 1;
    for (long i = 1; i <= iend; ++i) {
        pos = host::gbkFind(s1, separator, start);
        if (pos < 1) break;
        start = pos + 1;
    }
    return pos;
}

long jqwz(std::string_view s1, long iend) noexcept {
    return jqwz(s1, iend, host::separatorText());
}

std::string sourceFolderOf(std::string_view s1, long iend) {
    const long pos = jqwz(s1, iend);
    if (pos < 1) return {};
    return host::gbkLeft(s1, pos - 1);
}

int firstFolderCount() noexcept {
    return host::separator() == '/' ? 2 : 1;
}

long cutNames(grid::Grid& grid, long start, host::ProgressSink& progress) {
    const long rows = grid.rowcount();
    // Position 1 keeps every name whole: nothing to write.
    if (start <= 1) return rows;
    // One refresh at the end instead of one per row, also when a row fails.
    const grid::RedrawPause redraw(grid);
    for (long row = 1; row <= rows; ++row) {
        const std::string name = grid.getitemstring(row, "md");
        grid.setitem(row, "md", host::gbkMid(name, start));
        progress.step(row, name);
    }
    return rows;
}

}  // namespace kelvane
