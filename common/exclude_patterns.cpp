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
        // Not anchored, a path pattern may begin in any folder.
        if (pattern.wholePath && !anchored) pattern.tokens.push_back({Kind::Folders});
        for (std::size_t at = 0; at < characters.size(); ++at) {
            const char32_t c = characters[at];
            if (c == U'*' && at + 1 < characters.size() && characters[at + 1] == U'*') {
                ++at;
                // "**/" standing for whole folders also stands for none.
                const bool wholeFolders = (at == 1 || characters[at - 2] == kSeparator) &&
                                          at + 1 < characters.size() &&
                                          characters[at + 1] == kSeparator;
                if (wholeFolders) ++at;
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
bool ExcludePatterns::matches(const std::vector<Token>& tokens, const std::u32string& text) {
    const std::size_t states = tokens.size() + 1;
    thread_local std::vector<char> current, next;
    current.assign(states, 0);
    const auto reach = [&](std::vector<char>& set, std::size_t state) {
        // Stars and folders may stand for nothing: the states after them too.
        for (; state < states; ++state) {
            if (set[state]) return;
            set[state] = 1;
            if (state == tokens.size() || tokens[state].kind == Kind::Character ||
                tokens[state].kind == Kind::AnyOne)
                return;
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
                case Kind::AnyInName:
                    if (c != kSeparator) reach(next, state);
                    break;
                case Kind::Any:
                    reach(next, state);
                    break;
                case Kind::Folders:
                    reach(next, state);
                    if (c == kSeparator) reach(next, state + 1);
                    break;
            }
        }
        if (std::find(next.begin(), next.end(), 1) == next.end()) return false;
        current.swap(next);
    }
    return current[tokens.size()] != 0;
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
        if (matches(pattern.tokens, pattern.wholePath ? path : nameCharacters)) return true;
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
    std::vector<std::string> patterns;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string_view::npos) end = content.size();
        std::string_view line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line.front() != '#') patterns.emplace_back(line);
        start = end + 1;
    }
    return patterns;
}

std::vector<std::string> storedPatterns(const std::string& profile) {
    return patternsOfSetting(host::IniFile(profile).read("other", "exclude", ""));
}

}  // namespace common
