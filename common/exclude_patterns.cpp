#include "common/exclude_patterns.h"

#include <algorithm>

#include "base/caseless_key.h"
#include "base/text.h"
#include "host/ini.h"
#include "host/paths.h"

namespace common {

namespace {

// Separators of names and patterns, '\' too on Windows, are matched as one.
constexpr char32_t kSeparator = U'/';

}  // namespace

ExcludePatterns::ExcludePatterns(const std::vector<std::string>& patterns) {
    for (const std::string& text : patterns) {
        std::u32string characters = charactersOf(text);
        Pattern pattern;
        if (!characters.empty() && characters.back() == kSeparator) {
            pattern.foldersOnly = true;
            characters.pop_back();
        }
        bool anchored = false;
        if (!characters.empty() && characters.front() == kSeparator) {
            anchored = true;
            characters.erase(0, 1);
        }
        if (characters.empty()) continue;
        pattern.wholePath = anchored || characters.find(kSeparator) != std::u32string::npos;
        // Not anchored, a path pattern may begin with any folder's name.
        if (pattern.wholePath && !anchored) pattern.tokens.push_back({Kind::Folders});
        const auto atFolderStart = [&] {
            if (pattern.tokens.empty()) return true;
            const Token& last = pattern.tokens.back();
            return last.kind == Kind::Folders ||
                   (last.kind == Kind::Character && last.character == kSeparator);
        };
        for (std::size_t at = 0; at < characters.size(); ++at) {
            const char32_t c = characters[at];
            // Where a backslash separates folders charactersOf has made it
            // one, so a backslash left here escapes.
            if (c == U'\\' && at + 1 < characters.size()) {
                pattern.tokens.push_back({Kind::Character, characters[++at]});
            } else if (const std::size_t close = c == U'[' ? readClass(characters, at, pattern) : 0;
                       close != 0) {
                at = close;
            } else if (c == U'*' && at + 1 < characters.size() && characters[at + 1] == U'*') {
                // "**/" after a folder boundary stands for whole folders only.
                const bool wholeFolders = atFolderStart() && at + 2 < characters.size() &&
                                          characters[at + 2] == kSeparator;
                at += wholeFolders ? 2 : 1;
                pattern.tokens.push_back({wholeFolders ? Kind::Folders : Kind::Any});
            } else if (c == U'*') {
                pattern.tokens.push_back({Kind::AnyInName});
            } else if (c == U'?') {
                pattern.tokens.push_back({Kind::AnyOne});
            } else {
                pattern.tokens.push_back({Kind::Character, c});
            }
        }
        wholePaths_ = wholePaths_ || pattern.wholePath;
        patterns_.push_back(std::move(pattern));
    }
}

// The class "[...]" opening at `open`, as the shell reads it: "!" or "^"
// first negates, a "]" first is a member, "a-z" a range, a backslash escapes.
// Added to `pattern` when it closes; returns the position of its "]", or 0
// when it never closes (then "[" is the character itself).
std::size_t ExcludePatterns::readClass(const std::u32string& characters, std::size_t open,
                                       Pattern& pattern) {
    CharacterSet set;
    std::size_t at = open + 1;
    if (at < characters.size() && (characters[at] == U'!' || characters[at] == U'^')) {
        set.negated = true;
        ++at;
    }
    const std::size_t first = at;
    const auto member = [&](std::size_t& position) {
        if (characters[position] == U'\\' && position + 1 < characters.size()) ++position;
        return characters[position];
    };
    for (; at < characters.size(); ++at) {
        if (characters[at] == U']' && at != first) {
            pattern.tokens.push_back({Kind::Class, 0, pattern.sets.size()});
            pattern.sets.push_back(std::move(set));
            return at;
        }
        const char32_t low = member(at);
        char32_t high = low;
        if (at + 2 < characters.size() && characters[at + 1] == U'-' &&
            characters[at + 2] != U']') {
            at += 2;
            high = member(at);
        }
        set.ranges.emplace_back(low, high);
    }
    return 0;
}

bool ExcludePatterns::CharacterSet::holds(char32_t c) const noexcept {
    if (c == kSeparator) return false;
    const bool listed = std::any_of(ranges.begin(), ranges.end(), [c](const auto& range) {
        return range.first <= c && c <= range.second;
    });
    return listed != negated;
}

std::u32string ExcludePatterns::charactersOf(std::string_view text) const {
    std::u32string characters = base::nameCharacters(text, host::namesIgnoreCase());
    for (char32_t& c : characters) {
        if (c < 0x80 && host::isSeparator(static_cast<char>(c))) c = kSeparator;
    }
    return characters;
}

// The pattern as an automaton, every state it may be in carried along the
// text at once: time in proportion to the pattern's length times the
// text's, whatever stars the pattern holds.
bool ExcludePatterns::matches(const Pattern& pattern, const std::u32string& text) {
    const std::vector<Token>& tokens = pattern.tokens;
    const std::size_t states = tokens.size() + 1;
    // Before token `state`; or, for "**/", inside one of the folder names it
    // stands for, from where only that name's separator leads on.
    constexpr char kBefore = 1;
    constexpr char kInFolderName = 2;
    thread_local std::vector<char> current, next;
    current.assign(states, 0);
    const auto reach = [&](std::vector<char>& set, std::size_t state) {
        // Stars and folders may stand for nothing: the states after them too.
        for (; state < states; ++state) {
            if (set[state] & kBefore) return;
            set[state] |= kBefore;
            if (state == tokens.size()) return;
            const Kind kind = tokens[state].kind;
            if (kind != Kind::AnyInName && kind != Kind::Any && kind != Kind::Folders) return;
        }
    };
    reach(current, 0);
    for (const char32_t c : text) {
        next.assign(states, 0);
        for (std::size_t state = 0; state < tokens.size(); ++state) {
            if (!current[state]) continue;
            const Token& token = tokens[state];
            switch (token.kind) {
                case Kind::Character:
                    if (c == token.character) reach(next, state + 1);
                    break;
                case Kind::AnyOne:
                    if (c != kSeparator) reach(next, state + 1);
                    break;
                case Kind::Class:
                    if (pattern.sets[token.set].holds(c)) reach(next, state + 1);
                    break;
                case Kind::AnyInName:
                    if (c != kSeparator) reach(next, state);
                    break;
                case Kind::Any:
                    reach(next, state);
                    break;
                case Kind::Folders:
                    if (c == kSeparator)
                        reach(next, state);
                    else
                        next[state] |= kInFolderName;
                    break;
            }
        }
        if (std::all_of(next.begin(), next.end(), [](char state) { return state == 0; }))
            return false;
        current.swap(next);
    }
    return (current[tokens.size()] & kBefore) != 0;
}

bool ExcludePatterns::excludes(std::string_view folder, std::string_view name,
                               bool isFolder) const {
    if (patterns_.empty()) return false;
    const std::u32string nameCharacters = charactersOf(name);
    std::u32string path;
    if (wholePaths_) {
        path = charactersOf(folder);
        path += nameCharacters;
    }
    for (const Pattern& pattern : patterns_) {
        if (pattern.foldersOnly && !isFolder) continue;
        if (matches(pattern, pattern.wholePath ? path : nameCharacters)) return true;
    }
    return false;
}

bool ExcludePatterns::excludesPath(std::string_view relative, bool isFolder) const {
    if (patterns_.empty()) return false;
    std::size_t top = 0;
    while (top < relative.size() && host::isSeparator(relative[top])) ++top;
    // Each folder on the way, then the entry itself.
    for (std::size_t start = top, end = top; end <= relative.size(); ++end) {
        if (end < relative.size() && !host::isSeparator(relative[end])) continue;
        if (end > start) {
            std::size_t after = end;
            while (after < relative.size() && host::isSeparator(relative[after])) ++after;
            const bool last = after == relative.size();
            if (excludes(relative.substr(top, start - top), relative.substr(start, end - start),
                         last ? isFolder : true))
                return true;
        }
        start = end + 1;
    }
    return false;
}

std::vector<std::string> patternsOfSetting(std::string_view value) {
    std::vector<std::string> patterns;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(';', start);
        if (end == std::string_view::npos) end = value.size();
        std::string pattern = base::trim(value.substr(start, end - start));
        if (!pattern.empty()) patterns.push_back(std::move(pattern));
        start = end + 1;
    }
    return patterns;
}

std::vector<std::string> patternsOfFile(std::string_view content) {
    // Editors on Windows begin UTF-8 with a byte-order mark, old Mac ones end
    // lines with CR alone; neither belongs to a pattern.
    if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);
    std::vector<std::string> patterns;
    base::forEachLine(content, [&](std::string_view line) {
        if (!line.empty() && line.front() != '#') patterns.emplace_back(line);
    });
    return patterns;
}

std::vector<std::string> storedPatterns(const std::string& profile) {
    return patternsOfSetting(host::IniFile(profile).read("other", "exclude", ""));
}

}  // namespace common
