// Speed of the check: two lists of a million names (half shared, 1% repeated
// rows) checked with duplicate removal, then option "4" over matched pairs of
// real files made under the temporary folder and removed afterwards.
//
// check_bench [names per list] [file pairs]
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_start.h"
#include "grid/grid.h"
#include "host/progress.h"
#include "kelvane/check/check_engine.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time of this process: on a busy machine wall time says little.
double cpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

std::string nameOf(long id) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "\\folder%04ld\\document %07ld.txt", id % 1000, id);
    return buffer;
}

void fill(grid::Grid& list, const std::vector<long>& ids) {
    list.setredraw(false);
    for (long id : ids) {
        const long row = list.insertrow(0);
        list.setitem(row, "xh", static_cast<double>(row));
        list.setitem(row, "md", nameOf(id));
        list.setitem(row, "jg", "不同");
    }
    list.setredraw(true);
}

struct Grids {
    grid::Grid dw_1{grid::loadGridDefinition("htmd1")};
    grid::Grid dw_2{grid::loadGridDefinition("htmd2")};
    grid::Grid dw_3{grid::loadGridDefinition("cfmd1")};
    grid::Grid dw_4{grid::loadGridDefinition("cfmd2")};
    kelvane::CheckGrids all() { return {dw_1, dw_2, dw_3, dw_4}; }
};

// Unique ids [first, first + unique) plus `unique / 99` repeats, shuffled.
std::vector<long> listIds(long first, long unique, std::mt19937& random) {
    std::vector<long> ids;
    ids.reserve(static_cast<std::size_t>(unique + unique / 99));
    for (long id = first; id < first + unique; ++id) ids.push_back(id);
    std::uniform_int_distribution<long> pick(first, first + unique - 1);
    for (long i = 0; i < unique / 99; ++i) ids.push_back(pick(random));
    std::shuffle(ids.begin(), ids.end(), random);
    return ids;
}

void benchNames(long perList) {
    std::mt19937 random(20240611);
    const long unique = perList * 99 / 100;
    const std::vector<long> ids1 = listIds(0, unique, random);
    const std::vector<long> ids2 = listIds(unique / 2, unique, random);
    Grids grids;
    auto start = Clock::now();
    fill(grids.dw_1, ids1);
    fill(grids.dw_2, ids2);
    const double filling = secondsSince(start);

    kelvane::CheckSettings settings;
    settings.addszf = kelvane::CheckOption::None;
    bool zfmdxg = false;
    host::NullProgress progress;
    start = Clock::now();
    double cpu = cpuSeconds();
    const kelvane::CheckSummary summary = kelvane::mdhd(grids.all(), settings, zfmdxg, progress);
    const double checking = secondsSince(start);
    const double checkingCpu = cpuSeconds() - cpu;
    start = Clock::now();
    cpu = cpuSeconds();
    kelvane::showRows(grids.dw_1, grids.dw_2, kelvane::kDifferent);
    const double filtering = secondsSince(start);
    const double filteringCpu = cpuSeconds() - cpu;

    std::printf("names: %zu + %zu rows\n", ids1.size(), ids2.size());
    std::printf("  filling both lists        %7.3f s (not part of the check)\n", filling);
    std::printf("  check (sort, duplicates, matching) %7.3f s wall %7.3f s cpu\n", checking,
                checkingCpu);
    std::printf("    duplicates %ld + %ld, matched %ld\n", summary.duplicates1, summary.duplicates2,
                summary.matched);
    std::printf(
        "  filter to \"不同\"                   %7.3f s wall %7.3f s cpu  shown %ld + %ld\n",
        filtering, filteringCpu, grids.dw_1.rowcount(), grids.dw_2.rowcount());
    std::printf("  check + filter                     %7.3f s wall %7.3f s cpu  (goal < 3 s)\n",
                checking + filtering, checkingCpu + filteringCpu);
}

// Both files of a pair get one modification time, so only the lengths differ.
void writeFile(const std::string& path, std::size_t length) {
    {
        std::ofstream out(path, std::ios::binary);
        out << std::string(length, 'x');
    }
    const struct timeval times[2] = {{1328259907, 0}, {1328259907, 0}};
    ::utimes(path.c_str(), times);
}

void benchOption4(long pairs) {
    std::string pattern = (std::filesystem::temp_directory_path() / "check-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return;
    }
    const std::string root = pattern;
    const std::string source = root + "/src";
    const std::string target = root + "/dst";
    Grids grids;
    auto start = Clock::now();
    std::vector<std::string> names;
    for (long id = 0; id < pairs; ++id) {
        if (id % 1000 == 0) {
            std::filesystem::create_directories(source + "/d" + std::to_string(id / 1000));
            std::filesystem::create_directories(target + "/d" + std::to_string(id / 1000));
        }
        const std::string name =
            "/d" + std::to_string(id / 1000) + "/f" + std::to_string(id) + ".bin";
        writeFile(source + name, 8);
        writeFile(target + name, id % 10 == 0 ? 9 : 8);  // every tenth length differs
        names.push_back(name);
    }
    const double making = secondsSince(start);
    for (grid::Grid* list : {&grids.dw_1, &grids.dw_2}) {
        list->setredraw(false);
        for (const std::string& name : names) {
            const long row = list->insertrow(0);
            list->setitem(row, "xh", static_cast<double>(row));
            list->setitem(row, "md", name);
            list->setitem(row, "jg", "不同");
        }
        list->setredraw(true);
    }

    kelvane::CheckSettings settings{source, target, kelvane::CheckOption::LengthOrModified};
    bool zfmdxg = false;
    host::NullProgress progress;
    start = Clock::now();
    const double cpu = cpuSeconds();
    const kelvane::CheckSummary summary = kelvane::mdhd(grids.all(), settings, zfmdxg, progress);
    const double checking = secondsSince(start);
    const double checkingCpu = cpuSeconds() - cpu;

    std::printf("option \"4\": %ld matched pairs of real files\n", summary.matched);
    std::printf("  making the files          %7.3f s (not part of the check)\n", making);
    std::printf("  check with option \"4\"     %7.3f s wall %7.3f s cpu  listed %ld\n", checking,
                checkingCpu, summary.differing);
    start = Clock::now();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    std::printf("  removing the files        %7.3f s\n", secondsSince(start));
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = bench::start(argc, argv,
                                        "usage: check_bench [NAMES-PER-LIST (1000000)] "
                                        "[FILE-PAIRS (100000)]\n");
        status >= 0)
        return status;
    const long perList = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long pairs = argc > 2 ? std::atol(argv[2]) : 100000;
    benchNames(perList);
    benchOption4(pairs);
    return 0;
}
