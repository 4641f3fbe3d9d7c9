// base::caselessKey: the text two spellings of one name share on a file
// system that ignores case or normalizes accents.
#include <algorithm>
#include <cstdint>
#include <iterator>

#include "base/caseless_key.h"
#include "base/text.h"
#include "base/text_internal.h"

namespace base {

namespace {

struct FoldRun {
    char32_t first;
    char32_t last;
    std::int32_t delta;
    std::uint32_t step;
};
struct Decomposition {
    char32_t code;
    char32_t first;
    char32_t second;
};
struct ClassRun {
    char32_t first;
    char32_t last;
    int combiningClass;
};

#include "base/unicode_tables.inc"

// A byte that does not begin valid UTF-8 travels as kRawByte + its value: no
// character folds into it and it is written back unchanged.
constexpr char32_t kRawByte = kNotACharacter;

// The run of `table` whose first code point is the last one not after `c`.
template <typename Run, std::size_t N>
const Run* runOf(const Run (&table)[N], char32_t c) {
    const auto after =
        std::upper_bound(std::begin(table), std::end(table), c,
                         [](char32_t code, const Run& run) { return code < run.first; });
    if (after == std::begin(table)) return nullptr;
    const Run* run = std::prev(after);
    return c <= run->last ? run : nullptr;
}

// The CJK ideographs, most characters of the names these programs meet,
// neither fold, decompose nor combine.
bool isIdeograph(char32_t c) {
    return c >= 0x3400 && c <= 0x9FFF;
}

char32_t folded(char32_t c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    if (isIdeograph(c)) return c;
    const FoldRun* run = runOf(kFoldRuns, c);
    if (!run || (c - run->first) % run->step != 0) return c;
    return static_cast<char32_t>(static_cast<std::int32_t>(c) + run->delta);
}

int combiningClass(char32_t c) {
    if (c < kClassRuns[0].first || isIdeograph(c)) return 0;
    const ClassRun* run = runOf(kClassRuns, c);
    return run ? run->combiningClass : 0;
}

// Hangul syllables decompose by rule into their leading consonant, vowel and
// trailing consonant.
constexpr char32_t kSyllableFirst = 0xAC00, kLeadFirst = 0x1100, kVowelFirst = 0x1161,
                   kTrailBefore = 0x11A7;
constexpr char32_t kVowels = 21, kTrails = 28, kSyllables = 19 * kVowels * kTrails;

void decompose(char32_t c, std::u32string& out) {
    if (c >= kSyllableFirst && c < kSyllableFirst + kSyllables) {
        const char32_t index = c - kSyllableFirst;
        out += kLeadFirst + index / (kVowels * kTrails);
        out += kVowelFirst + index % (kVowels * kTrails) / kTrails;
        if (index % kTrails != 0) out += kTrailBefore + index % kTrails;
        return;
    }
    if (c < kDecompositions[0].code || isIdeograph(c)) {
        out += c;
        return;
    }
    const auto found = std::lower_bound(
        std::begin(kDecompositions), std::end(kDecompositions), c,
        [](const Decomposition& entry, char32_t code) { return entry.code < code; });
    if (found == std::end(kDecompositions) || found->code != c) {
        out += c;
        return;
    }
    decompose(found->first, out);
    if (found->second != 0) decompose(found->second, out);
}

// Canonical order: each run of combining marks sorted by class, marks of one
// class keeping their order.
void putInCanonicalOrder(std::u32string& text) {
    for (std::size_t start = 0; start < text.size();) {
        if (combiningClass(text[start]) == 0) {
            ++start;
            continue;
        }
        // Runs are a few marks long: sorted in place by insertion, which
        // keeps marks of one class in their order.
        std::size_t end = start + 1;
        for (; end < text.size(); ++end) {
            const int endClass = combiningClass(text[end]);
            if (endClass == 0) break;
            for (std::size_t at = end; at > start && combiningClass(text[at - 1]) > endClass; --at)
                std::swap(text[at - 1], text[at]);
        }
        start = end;
    }
}

}  // namespace

std::u32string nameCharacters(std::string_view text, bool foldCase) {
    std::u32string characters;
    characters.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t c = 0;
        std::size_t length = detail::decodeUtf8(text.substr(at), c);
        if (length == 0) {
            c = kRawByte + static_cast<unsigned char>(text[at]);
            length = 1;
        } else if (foldCase) {
            c = folded(c);
        }
        characters += c;
        at += length;
    }
    return characters;
}

std::string caselessKey(std::string_view text) {
    std::string key(text);
    if (detail::isAscii(text)) {
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return key;
    }
    // Decomposed, folded and decomposed again, as Unicode defines a canonical
    // caseless match: folding may give a character that decomposes, or a
    // combining mark that no longer is one (U+0345).
    std::u32string decomposed;
    for (const char32_t c : nameCharacters(text, false)) decompose(c, decomposed);
    putInCanonicalOrder(decomposed);
    std::u32string folds;
    for (const char32_t c : decomposed) decompose(folded(c), folds);
    putInCanonicalOrder(folds);
    key.clear();
    for (const char32_t c : folds) {
        if (c >= kRawByte)
            key += static_cast<char>(c - kRawByte);
        else
            appendUtf8(key, c);
    }
    return key;
}

}  // namespace base
