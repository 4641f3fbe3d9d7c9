#include "torrin/engine/run_records.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "torrin/engine/threshold.h"

namespace torrin {

namespace {

constexpr std::string_view kJournalMagic = "zarvik-torrin-journal 1";
constexpr std::string_view kRetryMagic = "zarvik-torrin-retry 1";
constexpr std::string_view kStateMagic = "zarvik-torrin-state 1";

// Whether any of the eight bytes of `word` is below 14 (tab, LF and CR are)
// or a backslash: the bytes that may need escaping, told eight at a time.
bool mayNeedEscaping(std::uint64_t word) noexcept {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    const std::uint64_t below = (word - kOnes * 14) & ~word & kHighs;
    const std::uint64_t other = word ^ (kOnes * static_cast<unsigned char>('\\'));
    return (below | ((other - kOnes) & ~other & kHighs)) != 0;
}

// Appends `field` with "\\", tab, LF and CR escaped, the plain runs between
// them in one piece each: a journal takes a line per copy of a run, and its
// paths are long.
void appendEscaped(std::string& text, std::string_view field) {
    std::size_t from = 0;
    std::size_t at = 0;
    while (at < field.size()) {
        if (at + 8 <= field.size()) {
            std::uint64_t word;
            std::memcpy(&word, field.data() + at, sizeof word);
            if (!mayNeedEscaping(word)) {
                at += 8;
                continue;
            }
        }
        const char c = field[at++];
        if (c != '\\' && c != '\t' && c != '\n' && c != '\r') continue;
        text.append(field.data() + from, at - 1 - from);
        text += '\\';
        text += c == '\\' ? '\\' : c == '\t' ? 't' : c == '\n' ? 'n' : 'r';
        from = at;
    }
    text.append(field.data() + from, field.size() - from);
}

std::optional<std::string> unescaped(std::string_view field) {
    std::string text;
    text.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            text += field[i];
            continue;
        }
        if (++i == field.size()) return std::nullopt;
        switch (field[i]) {
            case '\\':
                text += '\\';
                break;
            case 't':
                text += '\t';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            default:
                return std::nullopt;
        }
    }
    return text;
}

void appendLine(std::string& text, std::initializer_list<std::string_view> fields) {
    std::size_t size = fields.size();
    for (const std::string_view field : fields) size += field.size();
    text.reserve(text.size() + size + 8);
    bool first = true;
    for (const std::string_view field : fields) {
        if (!first) text += '\t';
        first = false;
        appendEscaped(text, field);
    }
    text += '\n';
}

std::string line(std::initializer_list<std::string_view> fields) {
    std::string text;
    appendLine(text, fields);
    return text;
}

// The complete lines of `text`, each split at its tabs and unescaped; a last
// line without its line end is left out. nullopt for a field that does not
// unescape.
std::vector<std::optional<std::vector<std::string>>> records(std::string_view text) {
    std::vector<std::optional<std::vector<std::string>>> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos;
         start = end + 1) {
        std::vector<std::string> fields;
        const std::string_view record = text.substr(start, end - start);
        bool good = true;
        for (std::size_t from = 0;;) {
            const std::size_t tab = record.find('\t', from);
            auto field = unescaped(record.substr(from, tab - from));
            if (!field) {
                good = false;
                break;
            }
            fields.push_back(std::move(*field));
            if (tab == std::string_view::npos) break;
            from = tab + 1;
        }
        result.push_back(good ? std::optional(std::move(fields)) : std::nullopt);
    }
    return result;
}

}  // namespace

std::string journalHeaderText(const JournalHeader& header) {
    std::string text(kJournalMagic);
    text += '\n';
    text += line({"target", header.target});
    text += line({"threshold", header.threshold});
    text += line({"structure", header.fullStructure ? "full" : "sub"});
    for (const std::string& source : header.sources) text += line({"source", source});
    text += line({"begin"});
    return text;
}

void appendJournalEntry(std::string& text, std::string_view source, std::string_view destination) {
    appendLine(text, {"copy", source, destination});
}

std::string journalEntryText(const JournalEntry& entry) {
    std::string text;
    appendJournalEntry(text, entry.source, entry.destination);
    return text;
}

void appendJournalConfirmation(std::string& text, std::size_t index,
                               const host::SourceStamp& source) {
    // Numbers only: nothing to escape. One per copy of a run, so kept cheap.
    char line[5 + 4 * 21];
    char* at = std::copy_n("done", 4, line);
    for (const std::int64_t number :
         {static_cast<std::int64_t>(index), source.length, source.modifiedNs, source.changedNs}) {
        *at++ = '\t';
        at = std::to_chars(at, line + sizeof line, number).ptr;
    }
    *at++ = '\n';
    text.append(line, at);
}

std::string journalConfirmationText(std::size_t index, const host::SourceStamp& source) {
    std::string text;
    appendJournalConfirmation(text, index, source);
    return text;
}

namespace {

std::optional<std::int64_t> number(const std::string& text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<Journal> parseJournal(std::string_view text) {
    if (!text.starts_with(kJournalMagic) || text.substr(kJournalMagic.size(), 1) != "\n")
        return std::nullopt;
    const auto lines = records(text.substr(kJournalMagic.size() + 1));
    Journal journal;
    bool begun = false;
    for (const auto& fields : lines) {
        if (!fields || fields->empty()) return std::nullopt;
        const std::vector<std::string>& f = *fields;
        if (begun && f[0] == "copy" && f.size() == 3) {
            journal.entries.push_back({f[1], f[2], std::nullopt});
        } else if (begun && f[0] == "done" && f.size() == 5) {
            const auto index = number(f[1]);
            const auto length = number(f[2]), modified = number(f[3]), changed = number(f[4]);
            if (!index || !length || !modified || !changed || *index < 0 ||
                static_cast<std::size_t>(*index) >= journal.entries.size())
                return std::nullopt;
            journal.entries[static_cast<std::size_t>(*index)].confirmed =
                host::SourceStamp{*length, *modified, *changed};
        } else if (!begun && f[0] == "target" && f.size() == 2) {
            journal.header.target = f[1];
        } else if (!begun && f[0] == "threshold" && f.size() == 2) {
            journal.header.threshold = f[1];
        } else if (!begun && f[0] == "structure" && f.size() == 2) {
            journal.header.fullStructure = f[1] == "full";
        } else if (!begun && f[0] == "source" && f.size() == 2) {
            journal.header.sources.push_back(f[1]);
        } else if (!begun && f[0] == "begin" && f.size() == 1) {
            begun = true;
        } else {
            return std::nullopt;
        }
    }
    if (!begun) return std::nullopt;
    return journal;
}

std::string retryListText(const std::vector<RetryEntry>& entries) {
    std::string text(kRetryMagic);
    text += '\n';
    for (const RetryEntry& entry : entries)
        text +=
            line({entry.isFolder ? "folder" : "file", entry.row, entry.relative, entry.threshold});
    return text;
}

RetryList parseRetryList(std::string_view text) {
    RetryList list;
    // What an editor or a file-sync tool may have made of the file: a
    // byte-order mark and CR LF line ends lose nothing (a CR of a name is
    // written escaped).
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    std::string lines;
    lines.reserve(text.size() + 1);
    bool cut = false;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        cut = end == std::string_view::npos;
        if (cut) end = text.size();
        std::string_view record = text.substr(start, end - start);
        if (record.ends_with('\r')) record.remove_suffix(1);
        lines.append(record);
        lines += '\n';
        start = end + 1;
    }
    std::string_view body = lines;
    if (body.starts_with(kRetryMagic) && body.substr(kRetryMagic.size(), 1) == "\n")
        body.remove_prefix(kRetryMagic.size() + 1);
    else
        list.whole = false;
    const auto read = records(body);
    for (std::size_t i = 0; i < read.size(); ++i) {
        const auto& fields = read[i];
        bool entry =
            fields && fields->size() == 4 && ((*fields)[0] == "file" || (*fields)[0] == "folder");
        // A last line without its line end was cut short, or only its end
        // was lost: it counts when its threshold is still a whole one.
        if (cut && i + 1 == read.size()) {
            list.whole = false;
            entry = entry && thresholdInstant((*fields)[3]).has_value();
        }
        if (!entry) {
            list.whole = false;
            continue;
        }
        const std::vector<std::string>& f = *fields;
        list.entries.push_back({f[0] == "folder", f[1], f[2], f[3]});
    }
    return list;
}

namespace {

void appendThreshold(std::string& text, std::string_view kind, const StoredThreshold& threshold) {
    appendLine(text, {kind, threshold.text, std::to_string(threshold.instant), threshold.boot,
                      std::to_string(threshold.sinceBoot)});
}

}  // namespace

std::string runStateText(const RunState& state) {
    std::string text(kStateMagic);
    text += '\n';
    if (state.threshold) appendThreshold(text, "threshold", *state.threshold);
    for (const StoredThreshold& earlier : state.earlier) appendThreshold(text, "earlier", earlier);
    for (const RememberedDisk& disk : state.disks)
        appendLine(text, {disk.isTarget ? "target" : "source", disk.folder, disk.names,
                          disk.ownRoot ? "root" : "inside"});
    return text;
}

RunState parseRunState(std::string_view text) {
    RunState state;
    if (!text.starts_with(kStateMagic) || text.substr(kStateMagic.size(), 1) != "\n") return state;
    for (const auto& fields : records(text.substr(kStateMagic.size() + 1))) {
        if (!fields || fields->empty()) continue;
        const std::vector<std::string>& f = *fields;
        if ((f[0] == "threshold" || f[0] == "earlier") && f.size() == 5) {
            const auto instant = number(f[2]), sinceBoot = number(f[4]);
            if (!instant || !sinceBoot) continue;
            StoredThreshold threshold{f[1], static_cast<std::time_t>(*instant), f[3], *sinceBoot};
            if (f[0] == "threshold")
                state.threshold = std::move(threshold);
            else
                state.earlier.push_back(std::move(threshold));
        } else if ((f[0] == "target" || f[0] == "source") && f.size() == 4) {
            state.disks.push_back({f[0] == "target", f[1], f[2], f[3] == "root"});
        }
    }
    return state;
}

}  // namespace torrin
