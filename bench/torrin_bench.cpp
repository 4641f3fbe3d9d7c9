// torrin's copy run against the system tools on the same warm tree:
//   1. an incremental run over a large tree of which 1,000 files are newer than
//      the threshold, against `find -newermt` alone and with the copy;
//   2. a first run copying 100,000 small files, against `cp -a`.
// Usage: torrin_bench [files-in-the-large-tree (default 200000)]
//                     [files-of-the-first-run (default 100000; 0 skips it)]
// Everything is generated under /tmp and removed afterwards.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "bench/bench_start.h"
#include "host/clock.h"
#include "host/progress.h"
#include "torrin/engine/rcopy.h"

namespace {

constexpr long kFilesPerFolder = 100;
constexpr long kFoldersPerGroup = 100;
constexpr long kNewerFiles = 1000;

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void writeSmallFile(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        std::perror(path.c_str());
        std::exit(1);
    }
    ::close(fd);
}

// `count` files in groups of folders of kFilesPerFolder files; every
// (count / newer)-th file gets the modification time `newerTime` when `newer`
// is not 0.
void generateTree(const std::string& root, long count, long newer, std::time_t newerTime) {
    const std::string content(64, 'x');
    const long every = newer > 0 ? count / newer : 0;
    long made = 0;
    for (long group = 0; made < count; ++group) {
        const std::string groupPath = root + "/g" + std::to_string(group);
        std::filesystem::create_directories(groupPath);
        for (long folder = 0; folder < kFoldersPerGroup && made < count; ++folder) {
            const std::string folderPath = groupPath + "/d" + std::to_string(folder);
            std::filesystem::create_directory(folderPath);
            for (long file = 0; file < kFilesPerFolder && made < count; ++file, ++made) {
                const std::string path = folderPath + "/file" + std::to_string(file) + ".dat";
                writeSmallFile(path, content);
                if (every > 0 && made % every == 0) {
                    const timeval times[2] = {{newerTime, 0}, {newerTime, 0}};
                    ::utimes(path.c_str(), times);
                }
            }
        }
    }
}

double timeCommand(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
    return seconds(start);
}

void removeAll(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

struct Timed {
    double seconds;
    torrin::RunResult result;
};

Timed timeRun(const torrin::RunDescription& run) {
    host::NullProgress progress;
    const auto start = std::chrono::steady_clock::now();
    torrin::RunResult result = torrin::rcopy(run, progress);
    return {seconds(start), result};
}

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

void firstRun(torrin::RunDescription run, const std::string& base, long firstRunFiles);
void bigFilesRun(torrin::RunDescription run, const std::string& base, long count, long megabytes);

}  // namespace

int main(int argc, char** argv) {
    if (const int status = bench::start(argc, argv,
                                        "usage: torrin_bench [FILES-IN-THE-LARGE-TREE (200000)] "
                                        "[FILES-OF-THE-FIRST-RUN (100000)]\n"
                                        "                    [BIG-FILES (3)] [BIG-MB (1024)]\n"
                                        "needs: find xargs cp\n",
                                        {"find", "xargs", "cp"});
        status >= 0)
        return status;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const long treeFiles = argc > 1 ? std::atol(argv[1]) : 200000;
    const long firstRunFiles = argc > 2 ? std::atol(argv[2]) : 100000;
    const long bigFiles = argc > 3 ? std::atol(argv[3]) : 3;
    const long bigMegabytes = argc > 4 ? std::atol(argv[4]) : 1024;
    constexpr int kRounds = 3;

    std::string base = "/tmp/torrin-bench-XXXXXX";
    if (!::mkdtemp(base.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string source = base + "/src";
    const std::string profile = base + "/confi9.ini";
    const std::string logfile = base + "/log.txt";

    // Files are created now, so their creation time is now: the threshold lies
    // an hour ahead and the newer files two hours ahead.
    const std::time_t now = std::time(nullptr);
    const std::string threshold = host::localTimeText(now + 3600);
    std::printf("generating %ld files (%ld newer than %s) under %s\n", treeFiles, kNewerFiles,
                threshold.c_str(), source.c_str());
    auto start = std::chrono::steady_clock::now();
    generateTree(source, treeFiles, kNewerFiles, now + 7200);
    std::printf("  generated in %.1f s\n", seconds(start));

    torrin::RunDescription run;
    run.sourceFolders = {source};
    run.threshold = threshold;
    run.replace = false;
    run.fullStructure = false;
    run.mask = 55;
    run.logfile = logfile;
    run.profile = profile;

    const std::string findCommand =
        "find " + quoted(source) + " -type f -newermt " + quoted(threshold) + " > /dev/null";
    timeCommand(findCommand);  // warms the tree
    double bestFind = 1e9, bestFindCopy = 1e9, bestRun = 1e9;
    long copied = 0, failed = 0;
    for (int round = 0; round < kRounds; ++round) {
        bestFind = std::min(bestFind, timeCommand(findCommand));

        const std::string shellTarget = base + "/cp-target";
        std::filesystem::create_directories(shellTarget);
        bestFindCopy =
            std::min(bestFindCopy,
                     timeCommand("cd " + quoted(source) + " && find . -type f -newermt " +
                                 quoted(threshold) + " -print0 | xargs -0 -r cp -p --parents -t " +
                                 quoted(shellTarget)));
        removeAll(shellTarget);

        run.target = base + "/rcopy-target";
        std::filesystem::create_directories(run.target);
        const Timed timed = timeRun(run);
        bestRun = std::min(bestRun, timed.seconds);
        copied = timed.result.cgcs;
        failed = timed.result.cccs;
        removeAll(run.target);
    }
    const long walkRss = peakRssKb();
    std::printf("incremental run over %ld files, best of %d:\n", treeFiles, kRounds);
    std::printf("  find -newermt             %8.3f s\n", bestFind);
    std::printf("  find -newermt + cp        %8.3f s\n", bestFindCopy);
    std::printf("  rcopy                     %8.3f s  (%ld copied, %ld failed)\n", bestRun, copied,
                failed);
    std::printf("  rcopy / (find + cp)       %8.2f\n", bestRun / bestFindCopy);
    std::printf("  peak RSS after the walks  %8ld KB\n", walkRss);
    removeAll(source);

    if (firstRunFiles > 0) firstRun(run, base, firstRunFiles);
    if (bigFiles > 0) bigFilesRun(run, base, bigFiles, bigMegabytes);
    removeAll(base);
    return 0;
}

namespace {

// First run: everything qualifies.
void firstRun(torrin::RunDescription run, const std::string& base, long firstRunFiles) {
    const std::string small = base + "/small";
    std::printf("generating %ld small files under %s\n", firstRunFiles, small.c_str());
    generateTree(small, firstRunFiles, 0, 0);
    run.sourceFolders = {small};
    run.threshold = "";
    run.fullStructure = false;
    double bestCp = 1e9;
    double bestRun = 1e9;
    long copied = 0;
    long failed = 0;
    for (int round = 0; round < 2; ++round) {
        const std::string cpTarget = base + "/cp-small";
        bestCp = std::min(bestCp, timeCommand("cp -a " + quoted(small) + " " + quoted(cpTarget)));
        removeAll(cpTarget);
        ::sync();

        run.target = base + "/rcopy-small";
        std::filesystem::create_directories(run.target);
        const Timed timed = timeRun(run);
        bestRun = std::min(bestRun, timed.seconds);
        copied = timed.result.cgcs;
        failed = timed.result.cccs;
        removeAll(run.target);
        ::sync();
    }
    std::printf("first run of %ld small files, best of 2:\n", firstRunFiles);
    std::printf("  cp -a                     %8.3f s\n", bestCp);
    std::printf("  rcopy                     %8.3f s  (%ld copied, %ld failed)\n", bestRun, copied,
                failed);
    std::printf("  rcopy / cp -a             %8.2f\n", bestRun / bestCp);
    std::printf("  peak RSS                  %8ld KB\n", peakRssKb());
    removeAll(small);
}

// A few large files, all qualifying: the copy itself against cp.
void bigFilesRun(torrin::RunDescription run, const std::string& base, long count, long megabytes) {
    const std::string big = base + "/big";
    std::filesystem::create_directories(big);
    std::printf("making %ld files of %ld MB under %s\n", count, megabytes, big.c_str());
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 2654435761u >> 13);
    for (long f = 0; f < count; ++f) {
        std::FILE* out = std::fopen((big + "/big" + std::to_string(f) + ".bin").c_str(), "wb");
        if (!out) {
            std::perror("fopen");
            return;
        }
        for (long m = 0; m < megabytes; ++m) {
            block[0] = static_cast<char>(m);
            std::fwrite(block.data(), 1, block.size(), out);
        }
        std::fclose(out);
    }
    ::sync();
    run.sourceFolders = {big};
    run.threshold = "";
    double bestCp = 1e9, bestRun = 1e9;
    long copied = 0;
    for (int round = 0; round < 3; ++round) {
        const std::string cpTarget = base + "/cp-big";
        bestCp = std::min(bestCp, timeCommand("cp -a " + quoted(big) + " " + quoted(cpTarget)));
        removeAll(cpTarget);
        ::sync();
        run.target = base + "/rcopy-big";
        std::filesystem::create_directories(run.target);
        const Timed timed = timeRun(run);
        bestRun = std::min(bestRun, timed.seconds);
        copied = timed.result.cgcs;
        removeAll(run.target);
        ::sync();
    }
    std::printf("%ld files of %ld MB, best of 3:\n", count, megabytes);
    std::printf("  cp -a                     %8.3f s\n", bestCp);
    std::printf("  rcopy                     %8.3f s  (%ld copied)\n", bestRun, copied);
    std::printf("  rcopy / cp -a             %8.2f\n", bestRun / bestCp);
    removeAll(big);
}

}  // namespace
