// The grid as tab-separated text: import from text, a file or the clipboard,
// and the shown rows as text.
#include <algorithm>
#include <optional>
#include <utility>

#include "base/numbers_and_dates.h"
#include "base/text.h"
#include "base/text_encoding.h"
#include "grid/grid_internal.h"
#include "host/encoding.h"
#include "host/fs.h"

namespace grid {

namespace {

// Calls visit(line) for every line from line `firstLine` on that is not empty.
template <typename Visit>
void forEachLineFrom(std::string_view text, long firstLine, Visit visit) {
    long lineNumber = 0;
    base::forEachLine(text, [&](std::string_view line) {
        if (++lineNumber >= firstLine && !line.empty()) visit(line);
    });
}

// The lines of a text handed over in pieces, split as forEachLine splits the
// whole text: a line end may fall between two pieces, CR LF too.
class PieceLines {
  public:
    template <typename Visit>
    void feed(std::string_view piece, Visit visit) {
        if (afterCr_ && !piece.empty()) {
            afterCr_ = false;
            if (piece.front() == '\n') piece.remove_prefix(1);
        }
        while (!piece.empty()) {
            const std::size_t stop = piece.find_first_of("\r\n");
            if (stop == std::string_view::npos) {
                pending_.append(piece);
                return;
            }
            if (pending_.empty()) {
                visit(piece.substr(0, stop));
            } else {
                pending_.append(piece.substr(0, stop));
                visit(std::string_view(pending_));
                pending_.clear();
            }
            const bool cr = piece[stop] == '\r';
            piece.remove_prefix(stop + 1);
            if (cr) {
                if (piece.empty()) {
                    afterCr_ = true;
                } else if (piece.front() == '\n') {
                    piece.remove_prefix(1);
                }
            }
        }
    }
    // The last line, when the text does not end with a line end.
    template <typename Visit>
    void finish(Visit visit) {
        if (!pending_.empty()) visit(std::string_view(pending_));
        pending_.clear();
    }

  private:
    std::string pending_;  // the start of a line the next piece ends
    bool afterCr_ = false;
};

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

}  // namespace

void Grid::Impl::appendLine(std::string_view line) {
    const RowId id = newRow();
    std::size_t start = 0;
    for (int c = 0; c < columnCount(); ++c) {
        const std::size_t tab = line.find('\t', start);
        const std::string_view field = line.substr(start, tab - start);
        if (isNumber(c)) {
            if (!base::trim(field).empty())
                numbers[c].set(id, base::isNumber(field) ? parseCellNumber(field) : 0);
        } else {
            texts[c].set(id, field);
        }
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    shown.push_back(id);
    indexAppended(static_cast<Position>(shown.size() - 1), id);
}

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
    forEachLineFrom(text, firstLine, [&](std::string_view line) { d.appendLine(line); });
    if (d.redraw && d.observer) d.observer->rowsInserted(first, last);
    return count;
}

long Grid::importfile(const std::string& path, long firstLine) {
    Impl& d = *impl_;
    if (firstLine < 1) firstLine = 1;
    // Read twice, in pieces, so that a list of a million names is never held
    // whole beside its rows: once for what decides the encoding (the
    // evidence of every line), once into the rows. A text that needs the
    // whole of itself to be read (UTF-16, zero bytes) is read whole.
    base::LineEvidence evidence;
    PieceLines lines;
    bool marked = false, first = true, whole = false;
    long lineCount = 0;
    const auto weighLine = [&](std::string_view line) {
        ++lineCount;
        if (!marked) evidence.add(line);
    };
    const bool weighed =
        host::readFileInPieces(path, [&](std::string_view piece, std::uint64_t) {
            if (std::exchange(first, false)) {
                if (piece.starts_with("\xFF\xFE") || piece.starts_with("\xFE\xFF")) {
                    whole = true;
                    return false;
                }
                marked = piece.starts_with(kUtf8Mark);
                if (marked) piece.remove_prefix(kUtf8Mark.size());
            }
            if (piece.find('\0') != std::string_view::npos) {
                whole = true;
                return false;
            }
            lines.feed(piece, weighLine);
            return true;
        }).value_or(false);
    if (whole) {
        host::Result<std::string> bytes = host::readFile(path);
        if (!bytes) return -1;
        const std::optional<std::string> text = host::listFileText(std::move(*bytes));
        if (!text) return -1;
        return importtext(*text, firstLine);
    }
    if (!weighed) return -1;
    lines.finish(weighLine);

    const base::LineEncoding encoding = marked ? base::LineEncoding::Utf8 : evidence.encoding();
    const std::size_t before = d.shown.size();
    d.shown.reserve(before + static_cast<std::size_t>(lineCount));
    std::string converted;
    long lineNumber = 0;
    first = true;
    const auto importLine = [&](std::string_view line) {
        // The first line is looked at whole for a mark (below).
        if (++lineNumber != 1 && (lineNumber < firstLine || line.empty())) return;
        std::string_view text = host::lineInUtf8(line, encoding, converted);
        // A mark left at the start of the text (a second one, or U+FEFF
        // from GB18030) is no part of the first name, as in importtext.
        if (lineNumber == 1 && text.starts_with(kUtf8Mark)) text.remove_prefix(kUtf8Mark.size());
        if (lineNumber >= firstLine && !text.empty()) d.appendLine(text);
    };
    const bool read = host::readFileInPieces(path, [&](std::string_view piece, std::uint64_t) {
                          if (std::exchange(first, false) && marked && piece.starts_with(kUtf8Mark))
                              piece.remove_prefix(kUtf8Mark.size());
                          lines.feed(piece, importLine);
                          return true;
                      }).value_or(false);
    if (read) lines.finish(importLine);
    if (!read) {
        // The grid stays as it was, as when the file cannot be read at all.
        for (std::size_t p = before; p < d.shown.size(); ++p) d.releaseRow(d.shown[p]);
        d.shown.resize(before);
        d.dropIndexes();
        return -1;
    }
    // The rows are announced once they are there; the view keeps its own
    // count until it hears of them.
    const long added = static_cast<long>(d.shown.size() - before);
    if (added > 0) {
        if (d.announcing())
            d.observer->rowsAboutToBeInserted(static_cast<long>(before) + 1,
                                              static_cast<long>(d.shown.size()));
        if (d.redraw && d.observer)
            d.observer->rowsInserted(static_cast<long>(before) + 1,
                                     static_cast<long>(d.shown.size()));
    }
    return added;
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
