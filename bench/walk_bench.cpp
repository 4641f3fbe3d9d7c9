// Walk speed and memory on a generated tree, against find(1) on the same tree.
// Usage: walk_bench [files=200000] [--keep] [--tree FOLDER]. The tree goes
// under /tmp and is removed at the end unless --keep is given; --tree times an
// existing tree instead (never removed).
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "bench/bench_start.h"
#include "bench/tree_generator.h"
#include "grid/grid.h"
#include "host/fs.h"
#include "host/progress.h"
#include "kelvane/inventory/folder_walk.h"

namespace {

double seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best of three runs, all on a warm cache (a busy machine only slows runs down).
double bestOfThree(const std::function<void()>& work) {
    double best = seconds(work);
    for (int run = 1; run < 3; ++run) best = std::min(best, seconds(work));
    return best;
}

double shell(const std::string& command) {
    return bestOfThree([&] {
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "failed: %s\n", command.c_str());
    });
}

// The best of three walks, each into a fresh list; building and freeing the list
// are not timed, only the filling.
double timeWalk(const std::string& root, const kelvane::WalkOptions& options, long& rows) {
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        grid::Grid grid(grid::loadGridDefinition("htmd1"));
        host::NullProgress progress;
        const double taken =
            seconds([&] { kelvane::walkFolder(grid, root, root, options, progress); });
        if (run == 0 || taken < best) best = taken;
        rows = grid.rowcount();
    }
    return best;
}

long peakKilobytes() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr const char* kUsage =
        "usage: walk_bench [FILES (200000)] [--keep] [--tree FOLDER]\nneeds: find\n";
    if (const int status = bench::start(argc, argv, kUsage, {"find"}); status >= 0) return status;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures show as they come, also into a file
    bench::TreeShape shape;
    bool keep = false;
    std::string existing;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0) {
            keep = true;
        } else if (std::strcmp(argv[i], "--tree") == 0 && i + 1 < argc) {
            existing = argv[++i];
            keep = true;
        } else {
            shape.files = std::atol(argv[i]);
        }
    }
    if (shape.files <= 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    std::string root = existing.empty() ? "/tmp/kelvane-walk-bench-XXXXXX" : existing;
    if (existing.empty()) {
        if (!::mkdtemp(root.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        std::printf("tree: %s\n", root.c_str());
        bench::TreeSize size;
        const double generation = seconds([&] { size = bench::generateTree(root, shape); });
        std::printf("generation: %ld files (%ld hidden) in %ld folders, %.2f s\n", size.files,
                    size.hiddenFiles, size.folders, generation);
    }

    const std::string quoted = "'" + root + "'";
    // Warm the cache before anything is timed.
    shell("find " + quoted + " -type f -printf '%T@ %s\\n' > /dev/null");

    kelvane::WalkOptions plain;
    plain.mask = host::kListEverything;  // find lists hidden files too
    long rows = 0;
    const double walkPlain = timeWalk(root, plain, rows);
    std::printf("walk without condition: %ld rows, %.3f s\n", rows, walkPlain);

    kelvane::WalkOptions condition = plain;
    condition.condition = kelvane::BrowseCondition::Either;
    condition.conditionTime = "1000-01-01 00:00:00";  // keeps every file, columns filled
    condition.lengthUnit = "2";
    const double walkCondition = timeWalk(root, condition, rows);
    std::printf("walk with condition:    %ld rows, %.3f s\n", rows, walkCondition);

    const double find = shell("find " + quoted + " -type f > /dev/null");
    const double findPrintf = shell("find " + quoted + " -type f -printf '%T@ %s\\n' > /dev/null");
    std::printf("find -type f:           %.3f s (walk/find %.2f)\n", find, walkPlain / find);
    std::printf("find -type f -printf:   %.3f s (walk/find %.2f)\n", findPrintf,
                walkCondition / findPrintf);
    std::printf("peak RSS: %.1f MB\n", static_cast<double>(peakKilobytes()) / 1024.0);

    if (keep) {
        std::printf("kept %s\n", root.c_str());
    } else {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    return 0;
}
