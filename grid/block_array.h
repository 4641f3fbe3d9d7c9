// A per-row array of the grid that grows in fixed blocks.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace grid {

// Growing never copies what is there or leaves a freed copy behind, which at
// a million rows is what a doubling vector costs: its old and new copies at
// once, then a freed block the allocator may keep. A block's memory is only
// touched as its rows are, so a short list costs a page or two.
template <typename T>
class BlockArray {
  public:
    T& operator[](std::size_t i) noexcept { return blocks_[i >> kBits][i & kMask]; }
    const T& operator[](std::size_t i) const noexcept { return blocks_[i >> kBits][i & kMask]; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    void push_back(T value) {
        if ((size_ >> kBits) == blocks_.size())
            blocks_.push_back(std::make_unique_for_overwrite<T[]>(kBlock));
        (*this)[size_++] = value;
    }
    // `count` rows, each `value`.
    void assign(std::size_t count, T value) {
        clear();
        for (std::size_t i = 0; i < count; ++i) push_back(value);
    }
    void clear() noexcept {
        blocks_.clear();
        size_ = 0;
    }

  private:
    static constexpr unsigned kBits = 16;
    static constexpr std::size_t kBlock = std::size_t{1} << kBits;
    static constexpr std::size_t kMask = kBlock - 1;

    std::vector<std::unique_ptr<T[]>> blocks_;
    std::size_t size_ = 0;
};

}  // namespace grid
