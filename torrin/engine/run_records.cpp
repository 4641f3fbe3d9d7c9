#include "torrin/engine/run_records.h"

#include <charconv>
#include <cstdint>

namespace torrin {

namespace {

constexpr std::string_view kJournalMagic = "zarvik-torrin-journal 1";
constexpr std::string_view kRetryMagic = "zarvik-torrin-retry 1";

std::string escaped(std::string_view field) {
    std::string text;
    text.reserve(field.size());
    for (const char c : field) {
        switch (c) {
            case '\\':
                text += "\\\\";
                break;
            case '\t':
                text += "\\t";
                break;
            case '\n':
                text += "\\n";
                break;
            case '\r':
                text += "\\r";
                break;
            default:
                text += c;
        }
    }
    return text;
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

std::string line(std::initializer_list<std::string_view> fields) {
    std::string text;
    for (const std::string_view field : fields) {
        if (!text.empty()) text += '\t';
        text += escaped(field);
    }
    text += '\n';
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

std::string journalEntryText(const JournalEntry& entry) {
    return line({"copy", entry.source, entry.destination});
}

std::string journalConfirmationText(std::size_t index, const host::SourceStamp& source) {
    return line({"done", std::to_string(index), std::to_string(source.length),
                 std::to_string(source.modifiedNs), std::to_string(source.changedNs)});
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

std::vector<RetryEntry> parseRetryList(std::string_view text) {
    std::vector<RetryEntry> entries;
    if (!text.starts_with(kRetryMagic) || text.substr(kRetryMagic.size(), 1) != "\n")
        return entries;
    for (const auto& fields : records(text.substr(kRetryMagic.size() + 1))) {
        if (!fields || fields->size() != 4) continue;
        const std::vector<std::string>& f = *fields;
        if (f[0] != "file" && f[0] != "folder") continue;
        entries.push_back({f[0] == "folder", f[1], f[2], f[3]});
    }
    return entries;
}

}  // namespace torrin
