#include "base/listing_order.h"

#include <algorithm>

namespace base {

namespace {
int compareListing(const std::string& a, const std::string& b) noexcept {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return a < b ? -1 : (b < a ? 1 : 0);
}
}  // namespace

std::string listingText(const ListingEntry& entry) {
    return entry.isFolder ? "[" + entry.name + "]" : entry.name;
}

namespace detail {

void ListingCollector::add(std::string name, bool isFolder) {
    ListingEntry entry{std::move(name), isFolder};
    std::string key = listingText(entry);
    found_.push_back({std::move(key), std::move(entry)});
}

void ListingCollector::sortInto(std::vector<ListingEntry>& entries) {
    std::sort(found_.begin(), found_.end(),
              [](const Keyed& a, const Keyed& b) { return compareListing(a.key, b.key) < 0; });
    entries.reserve(entries.size() + found_.size());
    for (auto& item : found_) entries.push_back(std::move(item.entry));
    found_.clear();
}

}  // namespace detail
}  // namespace base
