// Sorting rows by a text column: by the bytes of the texts, equal texts in
// their given order.
//
// A packed column keeps each name as its folder and the rest, which holds no
// separator. In byte order the rows of one folder are not all together: they
// interleave with the rows of its sub-folders, each sub-folder's rows falling
// where its first name part (up to and including its separator) falls among
// the folder's own names. So the folders are put in order first, a few
// thousand of them, and each row gets the number of its place between the
// folder's sub-folders (a "gap"). Counting the rows by that number puts them
// in order but for the rows of one gap, which share their folder and are
// ordered by the rest of their names alone: short runs, mostly in order
// already, since a walk lists each folder sorted.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include "grid/text_cells.h"
#include "grid/text_column.h"

namespace grid {

using namespace text_cells;

namespace {

struct Item {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    RowId id = 0;
    std::uint8_t rest = 0;  // bytes left from this level, 17 meaning "more than 16"
};

// Up to 8 bytes of `text` from `offset` as a big-endian number, zeros after its end.
std::uint64_t bigEndianAt(std::string_view text, std::size_t offset) noexcept {
    if (offset >= text.size()) return 0;
    const std::size_t n = std::min<std::size_t>(8, text.size() - offset);
    std::uint64_t value = 0;
    std::memcpy(&value, text.data() + offset, n);
    if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap64(value);
    return value;
}

std::uint64_t bigEndianAt(const TextPieces& text, std::size_t offset) noexcept {
    if (text.head.empty()) return bigEndianAt(text.tail, offset);
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        value <<= 8;
        const std::size_t at = offset + i;
        if (at < text.head.size()) {
            value |= static_cast<unsigned char>(text.head[at]);
        } else if (at - text.head.size() < text.tail.size()) {
            value |= static_cast<unsigned char>(text.tail[at - text.head.size()]);
        }
    }
    return value;
}

bool itemLess(const Item& a, const Item& b) noexcept {
    if (a.high != b.high) return a.high < b.high;
    if (a.low != b.low) return a.low < b.low;
    return a.rest < b.rest;
}

bool itemTies(const Item& a, const Item& b) noexcept {
    return a.high == b.high && a.low == b.low && a.rest == b.rest;
}

void keyItem(Item& item, const TextPieces& text, std::size_t offset) noexcept {
    item.high = bigEndianAt(text, offset);
    item.low = bigEndianAt(text, offset + 8);
    item.rest = static_cast<std::uint8_t>(std::min<std::size_t>(text.size() - offset, 17));
}

// A stable merge sort that does little on what is in order already (a walk
// lists each folder sorted), with room for half the items in `spare`.
void mergeSort(Item* begin, Item* end, Item* spare) {
    if (end - begin <= 24) {
        for (Item* item = begin + 1; item < end; ++item) {
            if (!itemLess(*item, item[-1])) continue;
            const Item moving = *item;
            Item* to = item;
            do {
                *to = to[-1];
                --to;
            } while (to != begin && itemLess(moving, to[-1]));
            *to = moving;
        }
        return;
    }
    Item* middle = begin + (end - begin) / 2;
    mergeSort(begin, middle, spare);
    mergeSort(middle, end, spare);
    if (!itemLess(*middle, middle[-1])) return;
    Item* const spareEnd = std::copy(begin, middle, spare);
    // The output never overtakes the right half it reads from.
    std::merge(spare, spareEnd, middle, end, begin, itemLess);
}

// Items whose keys are set, in order: compared 16 bytes at a time from keys
// held beside the row ids, so most comparisons touch no text; only runs that
// tie go a level deeper, asking `piecesOf` for the texts. Returns whether two
// texts were equal.
template <typename Pieces>
bool sortKeyed(Item* begin, Item* end, const Pieces& piecesOf, std::size_t offset,
               std::vector<Item>& spare) {
    if (spare.size() < static_cast<std::size_t>(end - begin) / 2 + 1)
        spare.resize(static_cast<std::size_t>(end - begin) / 2 + 1);
    mergeSort(begin, end, spare.data());
    bool equal = false;
    for (Item* run = begin; run != end;) {
        Item* next = run + 1;
        while (next != end && itemTies(*next, *run)) ++next;
        if (next - run > 1) {
            if (run->rest == 17) {
                TextBuffer buffer;
                for (Item* item = run; item != next; ++item)
                    keyItem(*item, piecesOf(item->id, buffer), offset + 16);
                equal = sortKeyed(run, next, piecesOf, offset + 16, spare) || equal;
            } else {
                equal = true;
            }
        }
        run = next;
    }
    return equal;
}

// Orders `ids` by `less` keeping equal ones in their order, in fewer
// comparisons the more of it is in order already: runs found, then merged.
template <typename Less>
void sortInRuns(std::vector<std::uint32_t>& ids, const Less& less) {
    std::vector<std::size_t> runs{0};
    for (std::size_t i = 1; i < ids.size(); ++i) {
        if (less(ids[i], ids[i - 1])) runs.push_back(i);
    }
    runs.push_back(ids.size());
    std::vector<std::uint32_t> merged(ids.size());
    while (runs.size() > 2) {
        std::vector<std::size_t> next{0};
        for (std::size_t r = 0; r + 1 < runs.size(); r += 2) {
            const std::size_t first = runs[r], middle = runs[r + 1];
            const std::size_t last = r + 2 < runs.size() ? runs[r + 2] : middle;
            std::merge(ids.begin() + static_cast<std::ptrdiff_t>(first),
                       ids.begin() + static_cast<std::ptrdiff_t>(middle),
                       ids.begin() + static_cast<std::ptrdiff_t>(middle),
                       ids.begin() + static_cast<std::ptrdiff_t>(last),
                       merged.begin() + static_cast<std::ptrdiff_t>(first), less);
            next.push_back(last);
        }
        ids.swap(merged);
        runs.swap(next);
    }
}

// Below this many rows a sort stays on the calling thread: a thread costs
// more than it saves.
constexpr std::size_t kRowsForThreads = 65536;

// Calls `work(first, last)` on consecutive slices of [0, count): one slice
// when `count` is small, else one for each core (up to four), each but the
// first on a thread of its own. What a slice throws is thrown here.
template <typename Work>
void inSlices(std::size_t count, const Work& work) {
    const std::size_t slices =
        count < kRowsForThreads
            ? 1
            : std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    std::vector<std::exception_ptr> failures(slices);
    {
        std::vector<std::jthread> helpers;
        for (std::size_t s = 1; s < slices; ++s) {
            helpers.emplace_back([&, s] {
                try {
                    work(count * s / slices, count * (s + 1) / slices);
                } catch (...) {
                    failures[s] = std::current_exception();
                }
            });
        }
        try {
            work(0, count / slices);
        } catch (...) {
            failures[0] = std::current_exception();
        }
    }
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

}  // namespace

void TextColumn::sort(RowId* begin, RowId* end, bool ascending) const {
    if (end - begin < 2) return;
    switch (mode_) {
        case Mode::Empty:
            return;
        case Mode::Coded:
            sortCoded(begin, end, ascending);
            return;
        case Mode::Packed:
            break;
    }
    const bool equal = sortPacked(begin, end);
    if (ascending) return;
    // Descending keeps equal texts in their given order too: the ascending
    // order reversed, each run of equal texts turned back.
    std::reverse(begin, end);
    if (!equal) return;
    TextBuffer buffers[2];
    RowId* run = begin;
    TextPieces runText = pieces(*run, buffers[0]);
    int spare = 1;
    for (RowId* row = begin + 1; row <= end; ++row) {
        TextPieces text;
        if (row != end) text = pieces(*row, buffers[spare]);
        if (row != end && text == runText) continue;
        std::reverse(run, row);
        run = row;
        runText = text;
        spare ^= 1;
    }
}

void TextColumn::sortCoded(RowId* begin, RowId* end, bool ascending) const {
    // Each text's rank among the texts, the empty one first; then one
    // counting pass, which keeps equal texts in their order.
    std::vector<std::uint8_t> byText(dictionary_.size());
    for (std::size_t k = 0; k < byText.size(); ++k) byText[k] = static_cast<std::uint8_t>(k);
    std::sort(byText.begin(), byText.end(),
              [this](std::uint8_t a, std::uint8_t b) { return dictionary_[a] < dictionary_[b]; });
    std::vector<std::size_t> rank(dictionary_.size() + 1, 0);
    for (std::size_t r = 0; r < byText.size(); ++r) rank[byText[r] + 1u] = r + 1;
    if (!ascending) {
        for (std::size_t& value : rank) value = dictionary_.size() - value;
    }
    std::vector<std::size_t> start(dictionary_.size() + 2, 0);
    for (RowId* row = begin; row != end; ++row) ++start[rank[codes_[*row]] + 1];
    for (std::size_t r = 1; r < start.size(); ++r) start[r] += start[r - 1];
    std::vector<RowId> sorted(static_cast<std::size_t>(end - begin));
    for (RowId* row = begin; row != end; ++row) sorted[start[rank[codes_[*row]]]++] = *row;
    std::copy(sorted.begin(), sorted.end(), begin);
}

bool TextColumn::sortWhole(RowId* begin, RowId* end) const {
    std::vector<Item> items(static_cast<std::size_t>(end - begin));
    const auto piecesOf = [this](RowId id, TextBuffer& buffer) { return pieces(id, buffer); };
    TextBuffer buffer;
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i].id = begin[i];
        keyItem(items[i], pieces(begin[i], buffer), 0);
    }
    std::vector<Item> spare;
    const bool equal = sortKeyed(items.data(), items.data() + items.size(), piecesOf, 0, spare);
    for (std::size_t i = 0; i < items.size(); ++i) begin[i] = items[i].id;
    return equal;
}

bool TextColumn::sortPacked(RowId* begin, RowId* end) const {
    const auto count = static_cast<std::size_t>(end - begin);
    // A text longer than a chunk is kept whole; holding a separator, it has
    // no folder of its own, and the rows are compared whole instead.
    for (const auto& [id, text] : large_) {
        if (text.find_first_of("/\\") == std::string::npos) continue;
        if (std::find(begin, end, id) != end) return sortWhole(begin, end);
    }

    // The folders in byte order: each comes right before the folders below
    // it. A walk adds them in nearly that order.
    std::vector<std::uint32_t> order(folders_.size());
    for (std::uint32_t f = 0; f < order.size(); ++f) order[f] = f;
    sortInRuns(order,
               [this](std::uint32_t a, std::uint32_t b) { return folderText(a) < folderText(b); });

    // Each folder's sub-folder name parts in order, and the number of each gap
    // around them, numbered in the order the gaps' rows come. Two passes over
    // the folders, the first counting each one's parts, so that each folder's
    // parts and numbers lie together in one array.
    struct Key {
        std::uint64_t high, low;
        auto operator<=>(const Key&) const = default;
    };
    std::uint32_t gapCount = 0;
    const auto keyOf = [](std::string_view text) {
        return Key{bigEndianAt(text, 0), bigEndianAt(text, 8)};
    };
    const std::size_t folderCount = folders_.size();
    std::vector<std::uint32_t> firstPart(folderCount + 1, 0);
    std::vector<std::string_view> parts;
    std::vector<Key> partKeys;
    std::vector<std::uint32_t> numbers;
    std::vector<std::uint32_t> found(folderCount), emitted(folderCount);
    std::vector<std::string_view> lastPart(folderCount);
    std::vector<std::uint32_t> open;  // the folders the current one lies in, outermost first
    for (const bool counting : {true, false}) {
        std::uint32_t next = 0;
        std::fill(found.begin(), found.end(), 0);
        std::fill(emitted.begin(), emitted.end(), 0);
        const auto number = [&](std::uint32_t folder) {
            if (!counting) numbers[firstPart[folder] + folder + emitted[folder]] = next;
            ++emitted[folder];
            ++next;
        };
        const auto close = [&] {
            if (found[open.back()] > 0) number(open.back());
            open.pop_back();
        };
        for (const std::uint32_t folder : order) {
            const std::string_view path = folderText(folder);
            while (!open.empty() && !path.starts_with(folderText(open.back()))) close();
            if (!open.empty()) {
                const std::uint32_t outer = open.back();
                const std::string_view below = path.substr(folderText(outer).size());
                const std::string_view part = below.substr(0, below.find_first_of("/\\") + 1);
                if (found[outer] == 0 || part != lastPart[outer]) {
                    if (!counting) {
                        parts[firstPart[outer] + found[outer]] = part;
                        partKeys[firstPart[outer] + found[outer]] = keyOf(part);
                    }
                    lastPart[outer] = part;
                    if (found[outer]++ > 0) number(outer);
                }
            }
            open.push_back(folder);
            number(folder);
        }
        while (!open.empty()) close();
        if (counting) {
            for (std::size_t f = 0; f < folderCount; ++f)
                firstPart[f + 1] = firstPart[f] + found[f];
            parts.assign(firstPart.back(), {});
            partKeys.assign(firstPart.back(), {});
            numbers.assign(firstPart.back() + folderCount, 0);
            gapCount = next;
        }
    }

    const auto gapOf = [&](RowId id, TextBuffer& buffer) {
        const std::uint64_t cell = cells_[id];
        std::uint32_t folder = 0;
        std::string_view tail;
        if (inChunks(cell)) {
            const char* bytes = at(cell >> kOffsetShift);
            std::size_t n = 0;
            folder = getNumber(bytes, n);
            tail = {bytes + n, storedLength(cell) - n};
        } else {
            tail = packedPieces(cell, id, buffer).tail;
        }
        const std::uint32_t* gapNumbers = numbers.data() + firstPart[folder] + folder;
        const std::uint32_t first = firstPart[folder], last = firstPart[folder + 1];
        if (first == last) return gapNumbers[0];
        // The parts before the tail: by their first 16 bytes, and whole where those tie.
        const Key key = keyOf(tail);
        std::uint32_t low = first, high = last;
        while (low < high) {
            const std::uint32_t middle = low + (high - low) / 2;
            const auto order = partKeys[middle] <=> key;
            if (order < 0 || (order == 0 && parts[middle] < tail)) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        return gapNumbers[low - first];
    };
    // Each row's gap, read in the order the cells lie in memory when most
    // rows take part; then a counting pass puts the gaps in order.
    const bool byId = count * 2 >= size_;
    std::vector<std::uint32_t> gapNumbers(byId ? size_ : count);
    inSlices(gapNumbers.size(), [&](std::size_t first, std::size_t last) {
        TextBuffer buffer;
        for (std::size_t i = first; i < last; ++i)
            gapNumbers[i] = gapOf(byId ? static_cast<RowId>(i) : begin[i], buffer);
    });
    const auto gapAt = [&](std::size_t i) { return gapNumbers[byId ? begin[i] : i]; };
    std::vector<std::uint32_t> start(static_cast<std::size_t>(gapCount) + 1, 0);
    for (std::size_t i = 0; i < count; ++i) {
        if (byId && i + 16 < count) __builtin_prefetch(&gapNumbers[begin[i + 16]]);
        ++start[gapAt(i) + 1];
    }
    for (std::size_t g = 1; g < start.size(); ++g) start[g] += start[g - 1];
    std::vector<RowId> sorted(count);
    {
        std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
        for (std::size_t i = 0; i < count; ++i) sorted[fill[gapAt(i)]++] = begin[i];
    }
    gapNumbers = {};

    // The rows of one gap share their folder: the rest of their names orders them.
    const auto tailOf = [this](RowId id, TextBuffer& into) {
        TextPieces text = pieces(id, into);
        text.head = {};
        return text;
    };
    // The gaps are sorted apart from each other: a slice of rows sorts the
    // gaps that start in it, whole.
    std::atomic<bool> equal{false};
    inSlices(count, [&](std::size_t sliceFirst, std::size_t sliceLast) {
        TextBuffer buffer;
        std::vector<Item> items, spare;
        const auto gap = std::lower_bound(start.begin(), start.end(), sliceFirst);
        // This slice's rows end where the first gap another slice sorts begins;
        // the rows beyond are another thread's.
        const std::size_t rowsEnd = *std::lower_bound(start.begin(), start.end(), sliceLast);
        for (std::size_t g = static_cast<std::size_t>(gap - start.begin());
             g + 1 < start.size() && start[g] < sliceLast; ++g) {
            const std::size_t first = start[g], last = start[g + 1];
            if (last - first < 2) continue;
            items.resize(last - first);
            for (std::size_t i = first; i < last; ++i) {
                // The rows ahead are asked for early: reading their cells and
                // bytes, scattered over the chunks, is most of the time here.
                if (i + 16 < rowsEnd) __builtin_prefetch(&cells_[sorted[i + 16]]);
                if (i + 8 < rowsEnd) {
                    const std::uint64_t ahead = cells_[sorted[i + 8]];
                    if (inChunks(ahead)) __builtin_prefetch(at(ahead >> kOffsetShift));
                }
                Item& item = items[i - first];
                item.id = sorted[i];
                const std::uint64_t cell = cells_[item.id];
                if (inChunks(cell)) {
                    const char* bytes = at(cell >> kOffsetShift);
                    std::size_t n = 0;
                    getNumber(bytes, n);
                    keyItem(item, TextPieces{{}, {bytes + n, storedLength(cell) - n}}, 0);
                } else {
                    keyItem(item, tailOf(item.id, buffer), 0);
                }
            }
            if (sortKeyed(items.data(), items.data() + items.size(), tailOf, 0, spare))
                equal = true;
            for (std::size_t i = first; i < last; ++i) sorted[i] = items[i - first].id;
        }
    });
    std::copy(sorted.begin(), sorted.end(), begin);
    return equal;
}

}  // namespace grid
