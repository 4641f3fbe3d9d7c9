// A sequence number by a 64-bit hash, in one flat table with linear probing:
// a lookup reads a slot or two of one array where a node-based map reads a
// node of its own, a cache miss, for every entry it looks at. For the copies
// of a run it is asked about several times per file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace common {

class SequencesByHash {
  public:
    // `hash` maps to `sequence` (≥ 0) from now on.
    void set(std::uint64_t hash, long sequence) {
        if ((used_ + 1) * 2 > slots_.size()) grow();
        std::size_t at = home(hash);
        for (; slots_[at].sequence >= 0; at = next(at)) {
            if (slots_[at].hash == hash) {
                slots_[at].sequence = sequence;
                return;
            }
        }
        slots_[at] = {hash, sequence};
        ++used_;
    }

    std::optional<long> find(std::uint64_t hash) const {
        if (slots_.empty()) return std::nullopt;
        for (std::size_t at = home(hash); slots_[at].sequence >= 0; at = next(at))
            if (slots_[at].hash == hash) return slots_[at].sequence;
        return std::nullopt;
    }

    // Forgets `hash` when it maps to `sequence` (a later copy to it stays).
    void eraseIf(std::uint64_t hash, long sequence) {
        if (slots_.empty()) return;
        std::size_t at = home(hash);
        for (; slots_[at].sequence >= 0; at = next(at)) {
            if (slots_[at].hash == hash) break;
        }
        if (slots_[at].sequence != sequence || slots_[at].hash != hash) return;
        // Later slots whose home lies at or before the emptied one move back
        // into it, so that no probe meets an empty slot before its entry.
        std::size_t empty = at;
        for (std::size_t later = next(at); slots_[later].sequence >= 0; later = next(later)) {
            const std::size_t wanted = home(slots_[later].hash);
            const bool passesEmpty = empty <= later ? wanted <= empty || wanted > later
                                                    : wanted <= empty && wanted > later;
            if (passesEmpty) {
                slots_[empty] = slots_[later];
                empty = later;
            }
        }
        slots_[empty] = {};
        --used_;
    }

    std::size_t size() const noexcept { return used_; }

  private:
    struct Slot {
        std::uint64_t hash = 0;
        long sequence = -1;  // < 0: empty
    };

    std::size_t home(std::uint64_t hash) const noexcept {
        // The hashes come from std::hash of strings, mixed already; the top
        // bits of a multiplication spread any that are not.
        return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> shift_);
    }
    std::size_t next(std::size_t at) const noexcept { return (at + 1) & (slots_.size() - 1); }

    void grow() {
        std::vector<Slot> old = std::move(slots_);
        const std::size_t size = old.empty() ? 64 : old.size() * 2;
        slots_.assign(size, Slot{});
        shift_ = 64;
        for (std::size_t s = size; s > 1; s /= 2) --shift_;
        used_ = 0;
        for (const Slot& slot : old)
            if (slot.sequence >= 0) set(slot.hash, slot.sequence);
    }

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
    int shift_ = 64;
};

}  // namespace common
