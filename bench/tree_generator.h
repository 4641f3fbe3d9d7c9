// A deterministic file tree for the walk benchmarks: the same count and seed
// always give the same names, nesting, lengths and modification times.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct TreeShape {
    long files = 200000;
    std::uint64_t seed = 20240601;
};

struct TreeSize {
    long files = 0;
    long folders = 0;
    long hiddenFiles = 0;
};

// Fills the existing, empty folder `root`. Names mix Chinese characters,
// blanks, both quote marks and digits; about one file in 30 and one folder in
// 50 is hidden (leading "."); folders nest up to 12 deep, a few hold several
// hundred files. Lengths are sparse (no data written), times lie in
// 2012..2020. Throws std::runtime_error with the path when a file cannot be made.
TreeSize generateTree(const std::string& root, const TreeShape& shape);

// The files generateTree would make for `shape`, without making them: each
// file's path below the root with a leading "/", in the order a walk of that
// tree lists them (each folder in listing order, depth first).
std::vector<std::string> generateNames(const TreeShape& shape);

// Cuts the lengths of the files under `root` (holes, as generateTree makes
// them) to under 4 KB of written bytes, their times kept, so that a tree and
// its copies stay small; returns the files' paths below `root`, with a
// leading "/", in the order of the walk. Throws std::runtime_error.
std::vector<std::string> shrinkTree(const std::string& root);

// `text` in single quotes for sh, its own single quotes kept.
std::string shellQuoted(const std::string& text);

}  // namespace bench
