#include "base/checksum.h"

#include <xxhash.h>

#include <algorithm>
#include <new>

namespace base {

Checksum::Checksum() : state_(XXH3_createState()) {
    if (!state_) throw std::bad_alloc();
    XXH3_128bits_reset(state_);
}

Checksum::~Checksum() {
    XXH3_freeState(state_);
}

void Checksum::add(const void* data, std::size_t size) noexcept {
    XXH3_128bits_update(state_, data, size);
}

void Checksum::addZeros(std::uint64_t count) noexcept {
    static constexpr char kZeros[64 * 1024] = {};
    while (count > 0) {
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof kZeros));
        XXH3_128bits_update(state_, kZeros, size);
        count -= size;
    }
}

Checksum::Digest Checksum::digest() const noexcept {
    const XXH128_hash_t hash = XXH3_128bits_digest(state_);
    return {hash.low64, hash.high64};
}

}  // namespace base
