// Grid speed with a million rows: append as the folder walk does, sort by
// name, filter on the result column, and one find per row as the check does.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_start.h"
#include "grid/grid.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = bench::start(argc, argv, "usage: grid_bench\n"); status >= 0)
        return status;
    constexpr long kRows = 1'000'000;
    grid::Grid grid(grid::loadGridDefinition("htmd1"));

    // Names in a shuffled order, so the sort has real work to do.
    std::vector<std::string> names;
    names.reserve(kRows);
    for (long i = 0; i < kRows; ++i) {
        names.push_back("\\folder" + std::to_string(i % 997) + "\\sub" + std::to_string(i % 13) +
                        "\\file" + std::to_string(i) + ".txt");
    }
    std::shuffle(names.begin(), names.end(), std::mt19937(42));

    auto start = Clock::now();
    grid.setredraw(false);
    for (long i = 0; i < kRows; ++i) {
        grid.insertrow(0);
        long row = grid.rowcount();
        grid.setitem(row, "xh", static_cast<double>(row));
        grid.setitem(row, "md", names[static_cast<std::size_t>(i)]);
        grid.setitem(row, "jg", i % 2 == 0 ? "相同" : "不同");
    }
    grid.setredraw(true);
    std::printf("append %ld rows: %.0f ms\n", kRows, millisecondsSince(start));

    start = Clock::now();
    grid.setsort("md A");
    grid.sort();
    std::printf("sort by md: %.0f ms\n", millisecondsSince(start));

    start = Clock::now();
    grid.find("md", names[0]);
    double indexing = millisecondsSince(start);
    long found = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (grid.find("md", names[i], 1, grid.rowcount()) > 0) ++found;
    }
    std::printf("find every md (%ld found): %.0f ms, of which building the index %.0f ms\n", found,
                millisecondsSince(start), indexing);

    start = Clock::now();
    grid.setfilter("jg = '不同'");
    grid.filter();
    std::printf("filter jg = '不同' (%ld shown): %.0f ms\n", grid.rowcount(),
                millisecondsSince(start));

    start = Clock::now();
    grid.setfilter("");
    grid.filter();
    std::printf("unfilter (%ld shown): %.0f ms\n", grid.rowcount(), millisecondsSince(start));
    return found == kRows ? 0 : 1;
}
