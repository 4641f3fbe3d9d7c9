// The grid as tab-separated text: import from text, a file or the clipboard,
// and the shown rows as text.
#include <algorithm>

#include "grid/grid_internal.h"
#include "host/fs.h"

namespace host {

namespace {

std::vector<std::string> splitFields(std::string_view line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        std::size_t tab = line.find('\t', start);
        fields.emplace_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    return fields;
}

}  // namespace

long Grid::importtext(std::string_view text, long firstLine) {
    Impl& d = *impl_;
    text = stripBom(text);
    if (firstLine < 1) firstLine = 1;
    std::vector<std::vector<std::string>> rows;
    long lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::string_view line =
            text.substr(start, end == std::string_view::npos ? end : end - start);
        start = end == std::string_view::npos ? text.size() : end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (lineNumber < firstLine || line.empty()) continue;
        rows.push_back(splitFields(line));
    }
    if (rows.empty()) return 0;
    long first = static_cast<long>(d.shown.size()) + 1;
    long last = first + static_cast<long>(rows.size()) - 1;
    if (d.announcing()) d.observer->rowsAboutToBeInserted(first, last);
    d.shown.reserve(d.shown.size() + rows.size());
    for (auto& fields : rows) {
        RowId id = d.newRow();
        std::size_t count = std::min(fields.size(), static_cast<std::size_t>(d.columnCount()));
        for (std::size_t f = 0; f < count; ++f) {
            int c = static_cast<int>(f);
            if (d.isNumber(c)) {
                const std::string& field = fields[f];
                if (trim(field).empty()) continue;
                d.numbers[c][id] = host::isNumber(field) ? parseCellNumber(field) : 0;
            } else {
                d.texts[c].set(id, fields[f]);
            }
        }
        d.shown.push_back(id);
        d.indexAppended(static_cast<Position>(d.shown.size() - 1), id);
    }
    if (d.redraw && d.observer) d.observer->rowsInserted(first, last);
    return static_cast<long>(rows.size());
}

long Grid::importfile(const std::string& path, long firstLine) {
    std::optional<std::string> bytes = readFile(path);
    if (!bytes) return -1;
    return importtext(unknownTextToUtf8(*bytes), firstLine);
}

long Grid::importclipboard(Host& host, long firstLine) {
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

}  // namespace host
