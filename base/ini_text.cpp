#include "base/ini_text.h"

#include <string>
#include <string_view>
#include <utility>

namespace base {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view trimmedView(std::string_view text) {
    std::size_t start = 0, end = text.size();
    while (start < end && (text[start] == ' ' || text[start] == '\t')) ++start;
    while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    return text.substr(start, end - start);
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

enum class LineKind { Blank, Comment, Section, Key, Other };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key value, trimmed, quotes still on
};

ParsedLine parseLine(std::string_view raw) {
    ParsedLine parsed;
    std::string_view text = trimmedView(raw);
    if (text.empty()) {
        parsed.kind = LineKind::Blank;
    } else if (text.front() == ';' || text.front() == '#') {
        parsed.kind = LineKind::Comment;
    } else if (text.front() == '[') {
        parsed.kind = LineKind::Section;
        std::size_t close = text.find(']');
        parsed.name =
            trimmedView(text.substr(1, close == std::string_view::npos ? text.npos : close - 1));
    } else if (std::size_t equals = text.find('='); equals != std::string_view::npos) {
        parsed.kind = LineKind::Key;
        parsed.name = trimmedView(text.substr(0, equals));
        parsed.value = trimmedView(text.substr(equals + 1));
    }
    return parsed;
}

std::string_view withoutQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// The text that, read back, gives `value` again: a line break cannot be
// stored, and blanks at the ends or enclosing quotes would be stripped on
// reading, so such a value is wrapped in quotes.
std::string storableValue(std::string_view value) {
    std::string text(value);
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    bool needsQuotes =
        !text.empty() && (text.front() == ' ' || text.front() == '\t' || text.back() == ' ' ||
                          text.back() == '\t' || withoutQuotes(text).size() != text.size());
    return needsQuotes ? "\"" + text + "\"" : text;
}

bool usableName(std::string_view name, bool isSection) {
    if (name.empty()) return false;
    for (char c : name)
        if (c == '\r' || c == '\n' || (isSection ? c == ']' : c == '=')) return false;
    return isSection || (name.front() != '[' && name.front() != ';' && name.front() != '#');
}

}  // namespace

IniText::IniText(std::string_view bytes, Converter gbkToUtf8, Converter utf8ToGbk)
    : gbkToUtf8_(gbkToUtf8), utf8ToGbk_(utf8ToGbk) {
    parse(bytes);
}

void IniText::parse(std::string_view bytes) {
    if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        utf8_ = true;
        bytes.remove_prefix(kByteOrderMark.size());
    }
    bool lineEndSeen = false;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t newline = bytes.find('\n', pos);
        Line line;
        if (newline == std::string_view::npos) {
            line.raw = std::string(bytes.substr(pos));
            // A lone carriage return at the very end is that line's end: kept
            // apart, so a line added after it cannot join it into "\r\n" and
            // change what the line reads as.
            if (!line.raw.empty() && line.raw.back() == '\r') {
                line.raw.pop_back();
                line.end = "\r";
            }
            finalLineEnd_ = false;
            pos = bytes.size();
        } else {
            line.raw = std::string(bytes.substr(pos, newline - pos));
            line.end = "\n";
            if (!line.raw.empty() && line.raw.back() == '\r') {
                line.raw.pop_back();
                line.end = "\r\n";
            }
            if (!lineEndSeen) {
                lineEnd_ = line.end;
                lineEndSeen = true;
            }
            pos = newline + 1;
        }
        lines_.push_back(std::move(line));
    }
}

std::string IniText::toFile(std::string_view utf8) const {
    return utf8_ ? std::string(utf8) : utf8ToGbk_(utf8);
}

std::string IniText::fromFile(std::string_view bytes) const {
    return utf8_ ? std::string(bytes) : gbkToUtf8_(bytes);
}

long IniText::findSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        ParsedLine parsed = parseLine(lines_[i].raw);
        if (parsed.kind == LineKind::Section && sameName(parsed.name, section))
            return static_cast<long>(i);
    }
    return -1;
}

long IniText::findKey(long sectionLine, std::string_view key) const {
    for (std::size_t i = static_cast<std::size_t>(sectionLine) + 1; i < lines_.size(); ++i) {
        ParsedLine parsed = parseLine(lines_[i].raw);
        if (parsed.kind == LineKind::Section) break;
        if (parsed.kind == LineKind::Key && sameName(parsed.name, key)) return static_cast<long>(i);
    }
    return -1;
}

std::string IniText::read(std::string_view section, std::string_view key,
                          std::string_view defaultValue) const {
    long sectionLine = findSection(toFile(trimmedView(section)));
    if (sectionLine < 0) return std::string(defaultValue);
    long keyLine = findKey(sectionLine, toFile(trimmedView(key)));
    if (keyLine < 0) return std::string(defaultValue);
    return fromFile(withoutQuotes(parseLine(lines_[keyLine].raw).value));
}

void IniText::insertLine(std::size_t index, std::string raw) {
    Line line{std::move(raw), lineEnd_};
    if (index >= lines_.size()) {
        // At the end: keep whether the file ends with a line end. A line that
        // itself ends with a carriage return ("[a\r", then the lone one that
        // ended the file) keeps it before an LF, or it would read back shorter.
        if (!lines_.empty() && (lines_.back().end.empty() || lines_.back().end == "\r")) {
            Line& last = lines_.back();
            last.end = !last.raw.empty() && last.raw.back() == '\r' ? "\r\n" : lineEnd_;
        }
        if (!finalLineEnd_) line.end.clear();
        lines_.push_back(std::move(line));
    } else {
        lines_.insert(lines_.begin() + static_cast<long>(index), std::move(line));
    }
}

void IniText::write(std::string_view section, std::string_view key, std::string_view value) {
    std::string sectionName = toFile(trimmedView(section));
    std::string keyName = toFile(trimmedView(key));
    // A name that would break the file's structure is not written at all.
    if (!usableName(sectionName, true) || !usableName(keyName, false)) return;
    std::string stored = storableValue(value);
    std::string storedBytes = toFile(stored);

    long sectionLine = findSection(sectionName);
    if (sectionLine < 0) {
        if (!lines_.empty() && parseLine(lines_.back().raw).kind != LineKind::Blank)
            insertLine(lines_.size(), "");
        insertLine(lines_.size(), "[" + sectionName + "]");
        insertLine(lines_.size(), keyName + "=" + storedBytes);
        dirty_ = true;
        return;
    }
    long keyLine = findKey(sectionLine, keyName);
    if (keyLine >= 0) {
        // An unchanged value keeps its bytes, even ones that do not decode.
        if (read(section, key, "") == value) return;
        std::string& raw = lines_[keyLine].raw;
        std::size_t valueStart = raw.find('=') + 1;
        while (valueStart < raw.size() && (raw[valueStart] == ' ' || raw[valueStart] == '\t'))
            ++valueStart;
        raw = raw.substr(0, valueStart) + storedBytes;
        dirty_ = true;
        return;
    }
    std::size_t insertAt = static_cast<std::size_t>(sectionLine) + 1;
    for (std::size_t i = insertAt; i < lines_.size(); ++i) {
        ParsedLine parsed = parseLine(lines_[i].raw);
        if (parsed.kind == LineKind::Section) break;
        if (parsed.kind != LineKind::Blank) insertAt = i + 1;
    }
    insertLine(insertAt, keyName + "=" + storedBytes);
    dirty_ = true;
}

std::string IniText::content() const {
    std::string bytes;
    if (utf8_) bytes += kByteOrderMark;
    for (const Line& line : lines_) {
        bytes += line.raw;
        bytes += line.end;
    }
    return bytes;
}

}  // namespace base
