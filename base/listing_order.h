// The order of a folder listing, the same on every platform: by listing text
// ("[name]" for a folder), bytes compared with ASCII letters folded to lower
// case, ties broken by the raw bytes.
#pragma once

#include <string>
#include <vector>

namespace base {

struct ListingEntry {
    std::string name;  // bare name, bytes as the file system gave them
    bool isFolder = false;
};
// The listing text of an entry: the bare name of a file, "[" name "]" of a folder.
std::string listingText(const ListingEntry& entry);

namespace detail {

class ListingCollector {
  public:
    void add(std::string name, bool isFolder);
    // Moves the collected entries into `entries` in listing order.
    void sortInto(std::vector<ListingEntry>& entries);

  private:
    struct Keyed {
        std::string key;
        ListingEntry entry;
    };
    std::vector<Keyed> found_;
};

}  // namespace detail

}  // namespace base
