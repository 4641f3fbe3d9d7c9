// A text column's cells: the coded and packed forms, the folder table and
// the chunks (text_column.h says why each exists).
//
// A packed cell is one 64-bit word; its low two bits say its form:
//   0 stored: bits 2..23 the length of its bytes in the chunks (0: an empty
//     cell; all ones: a text longer than a chunk, kept in `large_`), bits
//     24..63 their offset. The bytes are the folder's number (LEB128) and the
//     text after the folder.
//   1 short: bits 2..4 the length (1..7), the text's bytes from bit 8 on. Only
//     texts without a separator, so that every row's text after its folder
//     holds none (the sort relies on it).
//   2 time: "yyyy-mm-dd hh:mm:ss", its 14 digits as 4-bit numbers from bit 8 on.
//   3 length: bits 2..3 the unit ("", "字节", "KB", "MB"), bits 4..7 the count
//     of characters before it (1..14), each of 0-9 and '.' as a 4-bit number
//     from bit 8 on.
// Each text has exactly one form, so two cells of the forms kept in the word
// hold the same text exactly when their words are equal.
#include "grid/text_column.h"

#include "grid/text_cells.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace grid {

using namespace text_cells;

namespace {

constexpr std::uint64_t kHashBasis = 14695981039346656037ull;

bool isSeparator(char c) noexcept {
    return c == '/' || c == '\\';
}

std::uint64_t hashOn(std::uint64_t state, std::string_view bytes) noexcept {
    for (const char c : bytes) {
        state ^= static_cast<unsigned char>(c);
        state *= 1099511628211ull;
    }
    return state;
}

// Spreads the running hash's bits over the whole word, so any bits of it can
// pick a slot.
std::uint64_t finish(std::uint64_t state) noexcept {
    state ^= state >> 33;
    state *= 0xff51afd7ed558ccdull;
    state ^= state >> 33;
    state *= 0xc4ceb9fe1a85ec53ull;
    state ^= state >> 33;
    return state;
}

constexpr std::string_view kTimeShape = "0000-00-00 00:00:00";
constexpr std::array<std::string_view, 4> kUnits = {"", "字节", "KB", "MB"};
constexpr std::size_t kMostLengthCharacters = 14;

bool isDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// The cell word of a text kept in the word, or false.
bool encodeInWord(std::string_view text, std::uint64_t& word) noexcept {
    if (text.size() <= 7) {
        for (const char c : text)
            if (isSeparator(c)) return false;
        word = kShort | (static_cast<std::uint64_t>(text.size()) << kLengthShift);
        for (std::size_t i = 0; i < text.size(); ++i)
            word |= static_cast<std::uint64_t>(static_cast<unsigned char>(text[i])) << (8 + 8 * i);
        return true;
    }
    if (text.size() == kTimeShape.size()) {
        std::uint64_t digits = 0;
        unsigned count = 0;
        bool fits = true;
        for (std::size_t i = 0; i < text.size() && fits; ++i) {
            if (kTimeShape[i] == '0') {
                fits = isDigit(text[i]);
                digits |= static_cast<std::uint64_t>(text[i] - '0') << (8 + 4 * count++);
            } else {
                fits = text[i] == kTimeShape[i];
            }
        }
        if (fits) {
            word = kTime | digits;
            return true;
        }
    }
    for (std::size_t unit = kUnits.size(); unit-- > 0;) {
        if (!text.ends_with(kUnits[unit])) continue;
        const std::string_view number = text.substr(0, text.size() - kUnits[unit].size());
        if (number.empty() || number.size() > kMostLengthCharacters) return false;
        std::uint64_t digits = 0;
        for (std::size_t i = 0; i < number.size(); ++i) {
            const char c = number[i];
            if (!isDigit(c) && c != '.') return false;
            const std::uint64_t nibble = c == '.' ? 10 : static_cast<std::uint64_t>(c - '0');
            digits |= nibble << (8 + 4 * i);
        }
        word = kLength | (static_cast<std::uint64_t>(unit) << 2) |
               (static_cast<std::uint64_t>(number.size()) << 4) | digits;
        return true;
    }
    return false;
}

std::string_view decodeWord(std::uint64_t word, TextBuffer& buffer) noexcept {
    char* out = buffer.bytes;
    switch (word & 3) {
        case kShort: {
            const std::size_t length = (word >> kLengthShift) & 7;
            for (std::size_t i = 0; i < length; ++i)
                out[i] = static_cast<char>((word >> (8 + 8 * i)) & 0xFF);
            return {out, length};
        }
        case kTime: {
            unsigned count = 0;
            for (std::size_t i = 0; i < kTimeShape.size(); ++i) {
                out[i] = kTimeShape[i] == '0'
                             ? static_cast<char>('0' + ((word >> (8 + 4 * count++)) & 0xF))
                             : kTimeShape[i];
            }
            return {out, kTimeShape.size()};
        }
        case kLength: {
            const std::size_t length = (word >> 4) & 0xF;
            for (std::size_t i = 0; i < length; ++i) {
                const auto nibble = static_cast<unsigned>((word >> (8 + 4 * i)) & 0xF);
                out[i] = nibble == 10 ? '.' : static_cast<char>('0' + nibble);
            }
            const std::string_view unit = kUnits[(word >> 2) & 3];
            std::memcpy(out + length, unit.data(), unit.size());
            return {out, length + unit.size()};
        }
        default:
            return {};
    }
}

}  // namespace

// --- TextPieces ---

std::string TextPieces::text() const {
    std::string out;
    appendTo(out);
    return out;
}

void TextPieces::appendTo(std::string& out) const {
    out.reserve(out.size() + size());
    out.append(head);
    out.append(tail);
}

int compareTexts(const TextPieces& a, const TextPieces& b) noexcept {
    // Most names of one list share their folder piece, which one comparison
    // of the views settles.
    if (a.head.data() == b.head.data() && a.head.size() == b.head.size()) {
        const int order = a.tail.compare(b.tail);
        return order < 0 ? -1 : (order > 0 ? 1 : 0);
    }
    const std::string_view as[2] = {a.head, a.tail};
    const std::string_view bs[2] = {b.head, b.tail};
    std::size_t ai = 0, bi = 0;
    std::string_view x = as[0], y = bs[0];
    while (true) {
        while (x.empty() && ai == 0) x = as[++ai];
        while (y.empty() && bi == 0) y = bs[++bi];
        if (x.empty() || y.empty()) return x.empty() ? (y.empty() ? 0 : -1) : 1;
        const std::size_t n = std::min(x.size(), y.size());
        if (const int order = std::memcmp(x.data(), y.data(), n); order != 0)
            return order < 0 ? -1 : 1;
        x.remove_prefix(n);
        y.remove_prefix(n);
    }
}

bool operator==(const TextPieces& a, const TextPieces& b) noexcept {
    return a.size() == b.size() && compareTexts(a, b) == 0;
}

bool operator==(const TextPieces& a, std::string_view b) noexcept {
    return a.size() == b.size() && b.starts_with(a.head) && b.substr(a.head.size()) == a.tail;
}

// --- reading ---

TextPieces TextColumn::pieces(RowId id, TextBuffer& buffer) const noexcept {
    switch (mode_) {
        case Mode::Empty:
            return {};
        case Mode::Coded: {
            const std::uint8_t code = codes_[id];
            if (code == 0) return {};
            return {{}, dictionary_[code - 1u]};
        }
        case Mode::Packed:
            break;
    }
    return packedPieces(cells_[id], id, buffer);
}

TextPieces TextColumn::packedPieces(std::uint64_t cell, RowId id,
                                    TextBuffer& buffer) const noexcept {
    if (!isStored(cell)) return {{}, decodeWord(cell, buffer)};
    const std::size_t length = storedLength(cell);
    if (length == 0) return {};
    if (length == kLarge) {
        const auto found = large_.find(id);
        return found == large_.end() ? TextPieces{} : TextPieces{{}, found->second};
    }
    const char* bytes = at(cell >> kOffsetShift);
    std::size_t n = 0;
    const std::uint32_t folder = getNumber(bytes, n);
    return {folderText(folder), {bytes + n, length - n}};
}

std::string TextColumn::text(RowId id) const {
    TextBuffer buffer;
    return pieces(id, buffer).text();
}

bool TextColumn::equals(RowId id, std::string_view text) const noexcept {
    TextBuffer buffer;
    return pieces(id, buffer) == text;
}

std::uint64_t TextColumn::hashText(std::string_view text) noexcept {
    return finish(hashOn(kHashBasis, text));
}

std::uint64_t TextColumn::hash(RowId id) const noexcept {
    if (mode_ == Mode::Packed && inChunks(cells_[id])) {
        const char* bytes = at(cells_[id] >> kOffsetShift);
        std::size_t n = 0;
        const std::uint32_t folder = getNumber(bytes, n);
        return finish(hashOn(folders_[folder].state, {bytes + n, storedLength(cells_[id]) - n}));
    }
    TextBuffer buffer;
    const TextPieces text = pieces(id, buffer);
    return finish(hashOn(hashOn(kHashBasis, text.head), text.tail));
}

// --- changing ---

void TextColumn::emplace_back() {
    ++size_;
    if (mode_ == Mode::Coded) codes_.push_back(0);
    if (mode_ == Mode::Packed) cells_.push_back(0);
}

void TextColumn::release(RowId id) noexcept {
    if (mode_ == Mode::Coded) codes_[id] = 0;
    if (mode_ == Mode::Packed) {
        releaseCell(id, cells_[id]);
        cells_[id] = 0;
    }
}

void TextColumn::set(RowId id, std::string_view text) {
    if (mode_ == Mode::Empty) {
        if (text.empty()) return;
        mode_ = Mode::Coded;
        codes_.assign(size_, 0);
    }
    if (mode_ == Mode::Packed) {
        packedSet(id, text);
        return;
    }
    if (text.empty()) {
        codes_[id] = 0;
        return;
    }
    for (std::size_t k = 0; k < dictionary_.size(); ++k) {
        if (dictionary_[k] == text) {
            codes_[id] = static_cast<std::uint8_t>(k + 1);
            return;
        }
    }
    // `text` may be a view of an entry, which growing the dictionary moves.
    std::string keep(text);
    if (dictionary_.size() < 255) {
        dictionary_.push_back(std::move(keep));
        codes_[id] = static_cast<std::uint8_t>(dictionary_.size());
        return;
    }
    toPacked();
    packedSet(id, keep);
}

void TextColumn::toPacked() {
    BlockArray<std::uint8_t> codes = std::move(codes_);
    codes_.clear();
    std::vector<std::string> dictionary;
    dictionary.swap(dictionary_);
    mode_ = Mode::Packed;
    cells_.assign(size_, 0);
    folders_.assign(1, Folder{0, 0, 0, kHashBasis});
    for (std::size_t id = 0; id < codes.size(); ++id) {
        if (codes[id] != 0) packedSet(static_cast<RowId>(id), dictionary[codes[id] - 1u]);
    }
}

bool TextColumn::inLastChunkOrLarge(std::string_view text) const noexcept {
    if (!chunks_.empty()) {
        const std::vector<char>& last = chunks_.back();
        if (text.data() >= last.data() && text.data() < last.data() + last.capacity()) return true;
    }
    for (const auto& [id, kept] : large_) {
        if (text.data() >= kept.data() && text.data() < kept.data() + kept.size()) return true;
    }
    return false;
}

void TextColumn::packedSet(RowId id, std::string_view text) {
    // Appending may move the last chunk, and replacing a long text frees it.
    std::string keep;
    if (!text.empty() && inLastChunkOrLarge(text)) {
        keep.assign(text);
        text = keep;
    }
    const std::uint64_t old = cells_[id];
    std::uint64_t word = 0;
    if (text.empty() || encodeInWord(text, word)) {
        releaseCell(id, old);
        cells_[id] = word;
        return;
    }
    if (text.size() + 5 > kChunkSize) {
        releaseCell(id, old);
        large_[id].assign(text);
        cells_[id] = kLargeCell;
        return;
    }
    const std::size_t separator = text.find_last_of("/\\");
    const std::size_t cut = separator == std::string_view::npos ? 0 : separator + 1;
    const std::uint32_t folder = internFolder(text.substr(0, cut));
    const std::string_view tail = text.substr(cut);
    char number[5];
    const std::size_t n = putNumber(folder, number);
    const std::size_t length = n + tail.size();
    useFolder(folder);
    if (inChunks(old) && storedLength(old) >= length) {
        const std::uint64_t offset = old >> kOffsetShift;
        char* to = at(offset);
        std::size_t oldN = 0;
        dropFolder(getNumber(to, oldN));
        // `tail` may be this cell's own bytes: moved first, then the number.
        std::memmove(to + n, tail.data(), tail.size());
        std::memcpy(to, number, n);
        garbage_ += storedLength(old) - length;
        cells_[id] = storedCell(offset, length);
    } else {
        releaseCell(id, old);
        cells_[id] = storedCell(append({number, n}, tail), length);
    }
    const std::size_t total = used();
    if (total > kChunkSize && garbage_ > total / 2) compact();
}

void TextColumn::releaseCell(RowId id, std::uint64_t cell) noexcept {
    if (!isStored(cell)) return;
    const std::size_t length = storedLength(cell);
    if (length == 0) return;
    if (length == kLarge) {
        large_.erase(id);
        return;
    }
    std::size_t n = 0;
    dropFolder(getNumber(at(cell >> kOffsetShift), n));
    garbage_ += length;
}

// --- folders ---

std::string_view TextColumn::folderText(std::uint32_t folder) const noexcept {
    if (folder == 0) return {};
    const Folder& f = folders_[folder];
    return {at(f.offset), f.length};
}

void TextColumn::useFolder(std::uint32_t folder) noexcept {
    if (folder == 0) return;
    if (folders_[folder].uses++ == 0) garbage_ -= folders_[folder].length;
}

void TextColumn::dropFolder(std::uint32_t folder) noexcept {
    if (folder == 0) return;
    if (--folders_[folder].uses == 0) garbage_ += folders_[folder].length;
}

void TextColumn::insertSlot(std::uint32_t folder) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = finish(folders_[folder].state) & mask;; slot = (slot + 1) & mask) {
        if (slots_[slot] == 0) {
            slots_[slot] = folder + 1;
            return;
        }
    }
}

std::uint32_t TextColumn::internFolder(std::string_view path) {
    if (path.empty()) return 0;
    // A walk sets the names of one folder one after another.
    if (lastFolder_ != 0 && folderText(lastFolder_) == path) return lastFolder_;
    const std::uint64_t state = hashOn(kHashBasis, path);
    const std::uint64_t hash = finish(state);
    if (!slots_.empty()) {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = hash & mask; slots_[slot] != 0; slot = (slot + 1) & mask) {
            const std::uint32_t folder = slots_[slot] - 1;
            if (folders_[folder].state == state && folderText(folder) == path) {
                lastFolder_ = folder;
                return folder;
            }
        }
    }
    const std::uint64_t offset = append(path);
    const auto folder = static_cast<std::uint32_t>(folders_.size());
    folders_.push_back(Folder{offset, static_cast<std::uint32_t>(path.size()), 0, state});
    garbage_ += path.size();  // until a cell names it
    if (folders_.size() * 2 > slots_.size()) {
        slots_.assign(std::max<std::size_t>(16, slots_.size() * 2), 0);
        for (std::uint32_t f = 1; f < folders_.size(); ++f) insertSlot(f);
    } else {
        insertSlot(folder);
    }
    lastFolder_ = folder;
    return folder;
}

// --- chunks ---

// Where the bytes (no more than a chunk together) now start; they never span two chunks.
std::uint64_t TextColumn::append(std::string_view first, std::string_view second) {
    const std::size_t total = first.size() + second.size();
    if (chunks_.empty() || chunks_.back().size() + total > kChunkSize) {
        if (!chunks_.empty()) garbage_ += kChunkSize - chunks_.back().size();
        chunks_.emplace_back();
        // The first chunk starts small and grows, so a short list stays small.
        chunks_.back().reserve(chunks_.size() == 1 ? std::size_t{4096} : kChunkSize);
    }
    std::vector<char>& chunk = chunks_.back();
    if (chunk.size() + total > chunk.capacity()) {
        chunk.reserve(std::min(kChunkSize, std::max(chunk.size() + total, chunk.capacity() * 2)));
    }
    const std::uint64_t offset = (chunks_.size() - 1) * kChunkSize + chunk.size();
    chunk.insert(chunk.end(), first.begin(), first.end());
    chunk.insert(chunk.end(), second.begin(), second.end());
    return offset;
}

// Rewrites the folders still named, then the live cells in id order.
void TextColumn::compact() {
    std::vector<std::vector<char>> old;
    old.swap(chunks_);
    const auto oldAt = [&old](std::uint64_t offset) {
        return old[offset >> kChunkBits].data() + (offset & (kChunkSize - 1));
    };
    garbage_ = 0;
    std::vector<Folder> oldFolders;
    oldFolders.swap(folders_);
    std::vector<std::uint32_t> renumbered(oldFolders.size(), 0);
    folders_.push_back(oldFolders.front());
    for (std::size_t f = 1; f < oldFolders.size(); ++f) {
        Folder folder = oldFolders[f];
        if (folder.uses == 0) continue;
        folder.offset = append({oldAt(folder.offset), folder.length});
        renumbered[f] = static_cast<std::uint32_t>(folders_.size());
        folders_.push_back(folder);
    }
    slots_.assign(16, 0);
    while (slots_.size() < folders_.size() * 2) slots_.resize(slots_.size() * 2);
    for (std::uint32_t f = 1; f < folders_.size(); ++f) insertSlot(f);
    lastFolder_ = 0;
    for (std::size_t id = 0; id < cells_.size(); ++id) {
        std::uint64_t& cell = cells_[id];
        if (!inChunks(cell)) continue;
        const char* bytes = oldAt(cell >> kOffsetShift);
        std::size_t n = 0;
        const std::uint32_t folder = renumbered[getNumber(bytes, n)];
        const std::string_view tail(bytes + n, storedLength(cell) - n);
        char number[5];
        const std::size_t m = putNumber(folder, number);
        cell = storedCell(append({number, m}, tail), m + tail.size());
    }
}

// --- matching ---

TextColumn::Match TextColumn::matcher(std::string_view value) const {
    Match match;
    match.column_ = this;
    match.value_.assign(value);
    switch (mode_) {
        case Mode::Empty:
            match.code_ = value.empty() ? 0 : -1;
            break;
        case Mode::Coded:
            match.code_ = value.empty() ? 0 : -1;
            for (std::size_t k = 0; k < dictionary_.size() && !value.empty(); ++k) {
                if (dictionary_[k] == value) match.code_ = static_cast<int>(k + 1);
            }
            break;
        case Mode::Packed:
            match.inWord_ = value.empty() || encodeInWord(value, match.word_);
            break;
    }
    return match;
}

bool TextColumn::Match::operator()(RowId id) const noexcept {
    switch (column_->mode_) {
        case Mode::Empty:
            return code_ == 0;
        case Mode::Coded:
            return code_ >= 0 && column_->codes_[id] == code_;
        case Mode::Packed:
            break;
    }
    if (inWord_) return column_->cells_[id] == word_;
    return column_->equals(id, value_);
}

}  // namespace grid
