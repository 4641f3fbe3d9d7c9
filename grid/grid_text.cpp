// The grid as tab-separated text: import from text, a file or the clipboard,
// and the shown rows as text.
#include <algorithm>

#include "grid/grid_internal.h"
#include "host/fs.h"

namespace grid {

namespace {

// Calls visit(line) for every line from line `firstLine` on that is not empty.
template <typename Visit>
void forEachLineFrom(std::string_view text, long firstLine, Visit visit) {
    long lineNumber = 0;
    host::forEachLine(text, [&](std::string_view line) {
        if (++lineNumber >= firstLine && !line.empty()) visit(line);
    });
}

}  // namespace

long Grid::importtext(std::string_view text, long firstLine) {
    Impl& d = *impl_;
    text = stripBom(text);
    if (firstLine < 1) firstLine = 1;
    // Counted first, so the rows go straight into the columns: a million-line
    // list is never held a second time as separate strings.
    long count = 0;
    forEachLineFrom(text, firstLine, [&](std::string_view) { ++count; });
    if (count == 0) return 0;
    const long first = static_cast<long>(d.shown.size()) + 1;
    const long last = first + count - 1;
    if (d.announcing()) d.observer->rowsAboutToBeInserted(first, last);
    d.shown.reserve(d.shown.size() + static_cast<std::size_t>(count));
    forEachLineFrom(text, firstLine, [&](std::string_view line) {
        const RowId id = d.newRow();
        std::size_t start = 0;
        for (int c = 0; c < d.columnCount(); ++c) {
            const std::size_t tab = line.find('\t', start);
            const std::string_view field = line.substr(start, tab - start);
            if (d.isNumber(c)) {
                if (!host::trim(field).empty())
                    d.numbers[c].set(id, host::isNumber(field) ? parseCellNumber(field) : 0);
            } else {
                d.texts[c].set(id, field);
            }
            if (tab == std::string_view::npos) break;
            start = tab + 1;
        }
        d.shown.push_back(id);
        d.indexAppended(static_cast<Position>(d.shown.size() - 1), id);
    });
    if (d.redraw && d.observer) d.observer->rowsInserted(first, last);
    return count;
}

long Grid::importfile(const std::string& path, long firstLine) {
    std::optional<std::string> bytes = host::readFile(path);
    if (!bytes) return -1;
    const std::optional<std::string> text = host::listFileText(std::move(*bytes));
    if (!text) return -1;
    return importtext(*text, firstLine);
}

long Grid::importclipboard(host::Host& host, long firstLine) {
    return importtext(host.clipboardText(), firstLine);
}

std::string tabSeparatedCell(std::string_view cell) {
    if (cell.find_first_of("\t\n\r") == std::string_view::npos) return std::string(cell);
    std::string text;
    text.reserve(cell.size() + 8);
    for (char c : cell) {
        switch (c) {
            case '\t':
                text += "\xE2\x90\x89";
                break;
            case '\n':
                text += "\xE2\x90\x8A";
                break;
            case '\r':
                text += "\xE2\x90\x8D";
                break;
            default:
                text += c;
        }
    }
    return text;
}

std::string Grid::datatext() const {
    const Impl& d = *impl_;
    std::string text;
    for (RowId id : d.shown) {
        for (int c = 0; c < d.columnCount(); ++c) {
            if (c > 0) text += '\t';
            text += tabSeparatedCell(d.cell(id, c));
        }
        text += "\r\n";
    }
    return text;
}

}  // namespace grid
