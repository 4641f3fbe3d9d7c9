// The checksum a verified copy is checked with: 128-bit XXH3 of a stream of
// bytes, taken while the copy is written and again as it is read back. Not
// for security, only to tell two byte streams apart: a changed byte changes
// it, and it is computed about as fast as memory is read.
#pragma once

#include <cstddef>
#include <cstdint>

struct XXH3_state_s;

namespace base {

class Checksum {
  public:
    // Throws std::bad_alloc.
    Checksum();
    ~Checksum();
    Checksum(const Checksum&) = delete;
    Checksum& operator=(const Checksum&) = delete;

    void add(const void* data, std::size_t size) noexcept;
    // `count` zero bytes: a hole the copy keeps as a hole reads back as zeros.
    void addZeros(std::uint64_t count) noexcept;

    struct Digest {
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        bool operator==(const Digest&) const = default;
    };
    // Of the bytes added so far.
    Digest digest() const noexcept;

  private:
    XXH3_state_s* state_;
};

}  // namespace base
