#include "host/copy_names.h"

#include <algorithm>

#include "host/fs.h"

namespace host {

namespace {
bool isLowerHex(char c) noexcept {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}
}  // namespace

bool isCopyTemporaryName(std::string_view name) noexcept {
    using namespace copy_names;
    if (name.size() < kOverhead + 1 || name.front() != '.') return false;
    if (name.substr(name.size() - kSuffix.size()) != kSuffix) return false;
    const std::size_t dot = name.size() - kSuffix.size() - kRandomLength - 1;
    if (name[dot] != '.') return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(dot + 1),
                       name.begin() + static_cast<std::ptrdiff_t>(dot + 1 + kRandomLength),
                       isLowerHex);
}

}  // namespace host
