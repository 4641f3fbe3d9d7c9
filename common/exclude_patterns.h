// Names left out of a walk, by patterns a user gives both programs, read as
// rsync and the shell read them:
//   *    any characters within one name      ?    one character of a name
//   **   any characters, across folders      a trailing /   folders only
//   **/  zero or more whole folders          [a-z] [!a-z] [^a-z]  classes
//   a leading /   anchored at the walked folder ("/build/" only there)
//   \x   the character x itself (not on Windows, where \ separates folders)
// A pattern without a "/" other than a trailing one matches a name at any
// depth ("*.tmp", "node_modules/"); one with a "/" inside matches the path
// below the walked folder from the start of a folder's name at any depth
// unless anchored ("cache/*.bin" matches "a/cache/x.bin", not
// "mycache/x.bin"); "a/**/b" matches "a/b" and "a/x/y/b", not "a/xb". Names
// compare as the platform's file names do: exactly on Linux, ignoring case on
// Windows.
// Patterns are UTF-8 text, names the file system's bytes; "?" takes one UTF-8
// character (or one byte that is not part of one).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace common {

class ExcludePatterns {
  public:
    // Leaves nothing out.
    ExcludePatterns() = default;
    // Empty patterns (and "/" alone) are ignored.
    explicit ExcludePatterns(const std::vector<std::string>& patterns);

    bool empty() const noexcept { return patterns_.empty(); }
    // Whether the entry `name` of the folder `folder` (its path below the
    // walked folder: empty, or ending with a separator) is left out.
    // Safe to call from several threads at once.
    bool excludes(std::string_view folder, std::string_view name, bool isFolder) const;
    // Whether the entry at `relative` (its path below the walked folder) or a
    // folder it lies in is left out.
    bool excludesPath(std::string_view relative, bool isFolder) const;

  private:
    enum class Kind : unsigned char {
        Character,  // this character
        AnyOne,     // ?: one character, not a separator
        AnyInName,  // *: characters, no separator
        Any,        // **: any characters
        Folders,    // **/: zero or more whole folder names, each with its separator
        Class,      // [...]: one character of a set, not a separator
    };
    struct Token {
        Kind kind;
        char32_t character = 0;
        std::size_t set = 0;  // Class: index into Pattern::sets
    };
    struct CharacterSet {
        std::vector<std::pair<char32_t, char32_t>> ranges;
        bool negated = false;
        bool holds(char32_t c) const noexcept;
    };
    struct Pattern {
        std::vector<Token> tokens;
        std::vector<CharacterSet> sets;
        bool foldersOnly = false;  // written with a trailing separator
        bool wholePath = false;    // matched against the path, not the name only
    };
    static bool matches(const Pattern& pattern, const std::u32string& text);
    static std::size_t readClass(const std::u32string& characters, std::size_t at,
                                 Pattern& pattern);
    std::u32string charactersOf(std::string_view text) const;

    std::vector<Pattern> patterns_;
    bool wholePaths_ = false;  // some pattern needs the path
};

// The patterns of a settings value: separated by ";", blanks around each
// removed, empty ones left out.
std::vector<std::string> patternsOfSetting(std::string_view value);
// The patterns of a file given to --exclude-from: one per line (lines end
// at LF, CR LF or a lone CR, a leading byte-order mark is dropped); empty
// lines and lines beginning with "#" are left out.
std::vector<std::string> patternsOfFile(std::string_view content);
// The patterns of the "exclude" key of section "other" of a settings file,
// which both programs read and never write.
std::vector<std::string> storedPatterns(const std::string& profile);

}  // namespace common
