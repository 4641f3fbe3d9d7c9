#include "base/temporary_names.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <thread>

namespace base {

namespace {

bool isLowerHex(char c) noexcept {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// 64 bits for every name. The generator is seeded once per thread from the
// system's random source; creating the file with O_EXCL settles the
// (practically impossible) clash with a name another writer just made.
std::uint64_t randomBits() {
    thread_local std::uint64_t state = [] {
        std::random_device device;
        std::uint64_t seed = (static_cast<std::uint64_t>(device()) << 32) ^ device();
        seed ^=
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        seed ^= std::hash<std::thread::id>{}(std::this_thread::get_id());
        return seed;
    }();
    // splitmix64
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t mixed = state;
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ull;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBull;
    return mixed ^ (mixed >> 31);
}

}  // namespace

namespace temporary_names {

std::string make(std::string_view stem) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string name;
    name.reserve(stem.size() + kOverhead);
    name += '.';
    name += stem;
    name += '.';
    std::uint64_t bits = randomBits();
    for (std::size_t i = 0; i < kRandomLength; ++i, bits >>= 4) name += digits[bits & 15];
    name += kTag;
    return name;
}

std::string_view stemOf(std::string_view base) noexcept {
    if (base.size() + kOverhead <= kNameMax) return base;
    std::size_t length = kNameMax - kOverhead;
    while (length > 1 && (static_cast<unsigned char>(base[length]) & 0xC0) == 0x80) --length;
    return base.substr(0, length);
}

bool isFor(std::string_view name, std::string_view stem) noexcept {
    return name.size() == stem.size() + kOverhead && isTemporaryName(name) &&
           name.substr(1, stem.size()) == stem;
}

}  // namespace temporary_names

bool isTemporaryName(std::string_view name) noexcept {
    using namespace temporary_names;
    if (name.size() < kOverhead || name.front() != '.') return false;
    if (!name.ends_with(kTag)) return false;
    const std::size_t dot = name.size() - kTag.size() - kRandomLength - 1;
    if (name[dot] != '.') return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(dot + 1),
                       name.begin() + static_cast<std::ptrdiff_t>(dot + 1 + kRandomLength),
                       isLowerHex);
}

}  // namespace base
