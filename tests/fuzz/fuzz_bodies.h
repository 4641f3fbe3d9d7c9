// What each fuzz target does with one input, shared by the libFuzzer targets
// and the regression test that replays the kept inputs in the normal build.
// A body returns normally for any input; a broken promise of the code under
// test aborts with the check that failed, so the fuzzer keeps the input.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "grid/grid.h"
#include "host/encoding.h"
#include "host/gbk_positions.h"
#include "host/ini.h"
#include "host/progress.h"
#include "kelvane/import/list_rows.h"
#include "kelvane/import/spreadsheet_internal.h"
#include "kelvane/import/spreadsheet_reader.h"
#include "torrin/engine/run_records.h"

namespace fuzz {

[[noreturn]] inline void checkFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
    std::abort();
}

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::fuzz::checkFailed(#condition, __FILE__, __LINE__))

// Some readers take only a path: the input goes to a file of this process's
// own, so parallel fuzzing jobs do not overwrite each other's input.
inline std::string scratchFile(const char* extension) {
    const char* folder = std::getenv("TMPDIR");
    std::string path = folder && *folder ? folder : "/tmp";
    path += "/zarvik-fuzz-" + std::to_string(::getpid()) + "." + extension;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::perror(path.c_str());
        std::abort();
    }
    std::fclose(file);
    return path;
}

inline void writeScratch(const std::string& path, std::string_view bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    FUZZ_CHECK(std::fclose(file) == 0);
}

// Splits the front of an input into parts ended by a zero byte.
class Parts {
  public:
    explicit Parts(std::string_view input) : rest_(input) {}
    std::string_view next() {
        const std::size_t end = rest_.find('\0');
        std::string_view part = rest_.substr(0, end);
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        return part;
    }
    // Eight bytes as a signed number (fewer at the end of the input).
    long nextLong() {
        std::uint64_t value = 0;
        for (int i = 0; i < 8 && !rest_.empty(); ++i) {
            value = (value << 8) | static_cast<unsigned char>(rest_.front());
            rest_.remove_prefix(1);
        }
        long result = 0;
        std::memcpy(&result, &value, sizeof result);
        return result;
    }
    std::string_view rest() const { return rest_; }

  private:
    std::string_view rest_;
};

inline bool startsWith(std::string_view text, std::string_view head) {
    return text.substr(0, head.size()) == head;
}
inline bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The settings reader. Input: file bytes, 0, section, 0, key, 0, value.
// torrin's records beside its settings, which an editor, a file-sync tool or
// a cut write may leave holding anything: each reader takes any bytes, and
// what a run would write of what was read reads back the same.
inline void torrinRecordsBody(std::string_view input) {
    const torrin::RetryList retries = torrin::parseRetryList(input);
    FUZZ_CHECK(torrin::parseRetryList(torrin::retryListText(retries.entries)).entries ==
               retries.entries);
    const torrin::RunState state = torrin::parseRunState(input);
    FUZZ_CHECK(torrin::parseRunState(torrin::runStateText(state)) == state);
    if (const std::optional<torrin::Journal> journal = torrin::parseJournal(input)) {
        std::string text = torrin::journalHeaderText(journal->header);
        for (std::size_t i = 0; i < journal->entries.size(); ++i) {
            const torrin::JournalEntry& entry = journal->entries[i];
            torrin::appendJournalEntry(text, entry.source, entry.destination);
            if (entry.confirmed) torrin::appendJournalConfirmation(text, i, *entry.confirmed);
        }
        const std::optional<torrin::Journal> again = torrin::parseJournal(text);
        FUZZ_CHECK(again && again->header == journal->header &&
                   again->entries.size() == journal->entries.size());
        for (std::size_t i = 0; i < again->entries.size(); ++i)
            FUZZ_CHECK(again->entries[i].source == journal->entries[i].source &&
                       again->entries[i].destination == journal->entries[i].destination &&
                       again->entries[i].confirmed == journal->entries[i].confirmed);
    }
}

inline void iniBody(std::string_view input) {
    Parts parts(input);
    const std::string_view file = parts.next();
    const std::string_view section = parts.next();
    const std::string_view key = parts.next();
    const std::string_view value = parts.rest();

    host::IniFile ini("/nonexistent/zarvik-fuzz.ini", file);
    // A file nobody changed is written back byte for byte.
    FUZZ_CHECK(ini.content() == file);
    const std::string before = ini.read(section, key, "\x01");
    ini.write(section, key, value);
    const std::string after = ini.read(section, key, "\x01");

    // What a reader of the saved file sees is what this object says.
    const std::string saved = ini.content();
    host::IniFile reread("/nonexistent/zarvik-fuzz.ini", saved);
    FUZZ_CHECK(reread.read(section, key, "\x01") == after);
    FUZZ_CHECK(reread.content() == saved);

    // Values handed in are UTF-8; a line break cannot be stored and becomes a
    // blank. A name that would break the file is refused and changes nothing.
    if (base::isValidUtf8(section) && base::isValidUtf8(key) && base::isValidUtf8(value) &&
        !startsWith(value, "\xEF\xBB\xBF")) {
        std::string expected(value);
        for (char& c : expected)
            if (c == '\r' || c == '\n') c = ' ';
        FUZZ_CHECK(after == expected || (after == before && saved == file));
    }
}

inline const grid::GridDefinition& nameListDefinition() {
    static const grid::GridDefinition definition = grid::loadGridDefinition("htmd1");
    return definition;
}

// The text-list import: a .txt list file in UTF-8 or GBK, read whole.
inline void textListBody(std::string_view input) {
    static const std::string path = scratchFile("txt");
    writeScratch(path, input);
    grid::Grid grid(nameListDefinition());
    host::NullProgress progress;
    const std::optional<std::string> decoded = host::listFileText(std::string(input));
    const host::Result<long> imported = kelvane::importListFile(grid, path, 1, 1, progress);
    if (!imported) {
        // Only a text with a NUL character is refused, and the list stays empty.
        FUZZ_CHECK(!decoded && grid.rowcount() == 0);
        return;
    }
    const long added = *imported;
    FUZZ_CHECK(decoded && added == grid.rowcount());
    for (long row = 1; row <= grid.rowcount(); ++row) {
        FUZZ_CHECK(grid.getitemnumber(row, "xh") == static_cast<double>(row));
        const std::string name = grid.getitemstring(row, "md");
        FUZZ_CHECK(name.find('\n') == std::string::npos);
        FUZZ_CHECK(name.empty() || (name.front() != ' ' && name.back() != ' '));
    }

    // Starting at line 3 leaves out at most the first two rows.
    grid::Grid later(nameListDefinition());
    const long fromThird = later.importtext(*decoded, 3);
    FUZZ_CHECK(fromThird <= added && added - fromThird <= 2);
}

// The CSV reader, and a text file read as tab-separated columns.
inline void csvBody(std::string_view input) {
    static const std::string path = scratchFile("csv");
    writeScratch(path, input);
    for (int column : {1, 2}) {
        try {
            const std::vector<std::string> cells = kelvane::readSpreadsheetColumn(path, column);
            FUZZ_CHECK(cells.empty() || !cells.back().empty());
            const std::string lines = kelvane::spreadsheetColumnLines(path, column, 2);
            std::size_t breaks = 0;
            for (char c : lines) breaks += c == '\n';
            FUZZ_CHECK(breaks == (cells.size() > 1 ? cells.size() - 1 : 0));
        } catch (const kelvane::ListFileError&) {
        }
    }
    try {
        const std::vector<std::string> tabbed =
            kelvane::sheet::readDelimitedColumn(host::unknownTextToUtf8(input), '\t', 2);
        FUZZ_CHECK(tabbed.empty() || !tabbed.back().empty());
    } catch (const kelvane::ListFileError&) {
    }
}

#if ZARVIK_FUZZ_SPREADSHEETS
// The .xlsx reader, on the package bytes in memory.
inline void xlsxBody(std::string_view input) {
    for (int column : {1, 2}) {
        try {
            const kelvane::sheet::PackedColumn cells =
                kelvane::sheet::readXlsxColumn("fuzz.xlsx", input, column);
            FUZZ_CHECK(cells.size() <= 1048576);
            FUZZ_CHECK(cells.size() == 0 || !cells[cells.size() - 1].empty());
        } catch (const kelvane::ListFileError&) {
        }
    }
}

// The .xls reader (compound file and BIFF8 records), from a path as the
// program reads it.
inline void xlsBody(std::string_view input) {
    static const std::string path = scratchFile("xls");
    writeScratch(path, input);
    for (int column : {1, 2}) {
        try {
            const std::vector<std::string> cells = kelvane::sheet::readXlsColumn(path, column);
            FUZZ_CHECK(cells.empty() || !cells.back().empty());
        } catch (const kelvane::ListFileError&) {
        }
    }
}
#endif

// True when valid UTF-8 `text` holds a character of U+E000..U+F8FF.
inline bool holdsPrivateUse(std::string_view text) {
    for (std::size_t i = 0; i + 2 < text.size(); ++i) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const unsigned char next = static_cast<unsigned char>(text[i + 1]);
        if (lead == 0xEE || (lead == 0xEF && next < 0xA4)) return true;
    }
    return false;
}

// GBK conversion and the display text of arbitrary bytes.
inline void gbkConversionBody(std::string_view input) {
    const bool valid = base::isValidUtf8(input);
    const std::string shown = base::displayText(input);
    FUZZ_CHECK(base::isValidUtf8(shown));
    if (valid) FUZZ_CHECK(shown == input);

    // UTF-8 survives the way to disk and back. Known gap: the private-use
    // characters iconv's GB18030 refuses (U+E82C ...) are written as their
    // UTF-8 bytes and read back as other characters.
    const std::string gbk = host::utf8ToGbk(input);
    if (valid && !holdsPrivateUse(input)) FUZZ_CHECK(host::gbkToUtf8(gbk) == input);

    // Bytes read from disk keep their text when written back. Not always their
    // bytes: a few characters have two GB18030 forms (U+200CC is FE53 and
    // 95329730) and are written in the short one.
    const std::string decoded = host::gbkToUtf8(input);
    const std::string encoded = host::utf8ToGbk(decoded);
    FUZZ_CHECK(host::gbkToUtf8(encoded) == decoded);
    if (base::isValidUtf8(decoded)) FUZZ_CHECK(encoded.size() <= input.size());
}

// The GBK position helpers. Input: start, count, from (8 bytes each), the
// needle, 0, the text.
inline void gbkPositionsBody(std::string_view input) {
    Parts parts(input);
    const long start = parts.nextLong();
    const long count = parts.nextLong();
    const long from = parts.nextLong();
    const std::string_view needle = parts.next();
    const std::string_view text = parts.rest();

    const long length = host::gbkLength(text);
    FUZZ_CHECK(length >= 0);
    FUZZ_CHECK(host::gbkLeft(text, length) == text);
    FUZZ_CHECK(host::gbkRight(text, length) == text);
    FUZZ_CHECK(host::gbkMid(text, 1) == text);

    const std::string left = host::gbkLeft(text, count);
    FUZZ_CHECK(startsWith(text, left));
    FUZZ_CHECK(host::gbkLength(left) <= (count < 0 ? 0 : count));
    // Cutting never splits a character, so the two halves join up again.
    const long leftLength = host::gbkLength(left);
    FUZZ_CHECK(left + host::gbkMid(text, leftLength + 1) == text);

    const std::string right = host::gbkRight(text, count);
    FUZZ_CHECK(endsWith(text, right));
    FUZZ_CHECK(host::gbkLength(right) <= (count < 0 ? 0 : count));

    const std::string middle = host::gbkMid(text, start, count);
    FUZZ_CHECK(text.find(middle) != std::string_view::npos);
    if (count >= 0) FUZZ_CHECK(host::gbkLength(middle) <= count);

    const long found = host::gbkFind(text, needle, from);
    if (found > 0) {
        FUZZ_CHECK(found >= from);
        FUZZ_CHECK(startsWith(host::gbkMid(text, found), needle));
    } else {
        FUZZ_CHECK(found == 0);
        // In UTF-8 every match starts on a character boundary.
        if (from <= 1 && !needle.empty() && base::isValidUtf8(text) && base::isValidUtf8(needle))
            FUZZ_CHECK(text.find(needle) == std::string_view::npos);
    }
}

}  // namespace fuzz
