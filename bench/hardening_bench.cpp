// 200,000 files in one folder (or the count given as the first argument):
// times the walk, the check of the folder against itself, kelvane's copy and
// torrin's run, and verifies that no file was dropped on the way.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_start.h"
#include "grid/grid.h"
#include "host/fs.h"
#include "host/progress.h"
#include "kelvane/check/check_engine.h"
#include "kelvane/copy/copy_engine.h"
#include "kelvane/inventory/folder_walk.h"
#include "torrin/engine/rcopy.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = bench::start(argc, argv, "usage: hardening_bench [FILES (200000)]\n");
        status >= 0)
        return status;
    const long files = argc > 1 ? std::atol(argv[1]) : 200000;
    std::string top = (std::filesystem::temp_directory_path() / "hardening-bench-XXXXXX").string();
    if (!::mkdtemp(top.data())) return 1;
    const std::string source = top + "/s", copied = top + "/k", torrinTarget = top + "/t";
    for (const std::string& folder : {source, copied, torrinTarget})
        static_cast<void>(host::createFolder(folder));

    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < files; ++i) {
        const std::string name = source + "/file " + std::to_string(i);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, "x", 1) != 1) return 1;
        ::close(fd);
    }
    std::printf("create %ld files: %.2f s\n", files, secondsSince(start));

    host::NullProgress quiet;
    grid::Grid dw_1(grid::loadGridDefinition("htmd1")), dw_2(grid::loadGridDefinition("htmd2"));
    grid::Grid dw_3(grid::loadGridDefinition("cfmd1")), dw_4(grid::loadGridDefinition("cfmd2"));
    start = std::chrono::steady_clock::now();
    kelvane::walkFolder(dw_1, source, source, {}, quiet);
    std::printf("walk: %.2f s, %ld rows\n", secondsSince(start), dw_1.rowcount());
    kelvane::walkFolder(dw_2, source, source, {}, quiet);

    start = std::chrono::steady_clock::now();
    bool zfmdxg = false;
    const auto summary =
        kelvane::mdhd({dw_1, dw_2, dw_3, dw_4},
                      {source, source, kelvane::CheckOption::LengthOrModified}, zfmdxg, quiet);
    std::printf("check (option 4): %.2f s, %ld matched, %ld differing\n", secondsSince(start),
                summary.matched, summary.differing);

    grid::Grid list(grid::loadGridDefinition("htmd1"));
    kelvane::walkFolder(list, source, source, {}, quiet);
    kelvane::CopyPlan plan;
    plan.sourceFolder = source;
    plan.targetFolder = copied;
    start = std::chrono::steady_clock::now();
    const kelvane::CopySummary copiedSummary = kelvane::copyShownRows(list, plan, quiet);
    std::printf("kelvane copy: %.2f s, %ld copied, %ld failed\n", secondsSince(start),
                copiedSummary.copied, copiedSummary.failed);

    torrin::RunDescription run;
    run.sourceFolders = {source};
    run.target = torrinTarget;
    run.threshold = "2000-01-01 00:00:00";
    run.replace = true;
    run.logfile = top + "/log.txt";
    start = std::chrono::steady_clock::now();
    const torrin::RunResult result = torrin::rcopy(run, quiet);
    std::printf("torrin run: %.2f s, %ld copied, %ld failed\n", secondsSince(start), result.cgcs,
                result.cccs);

    std::error_code ignored;
    std::filesystem::remove_all(top, ignored);
    const bool complete = dw_1.rowcount() == files && summary.matched == files &&
                          copiedSummary.copied == files && result.cgcs == files;
    std::printf("%s\n", complete ? "no file dropped" : "FILES DROPPED");
    return complete ? 0 : 1;
}
