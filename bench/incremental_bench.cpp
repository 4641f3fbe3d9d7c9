// torrin's incremental run, its walk and its copies together, against the
// tools in the same session: FILES files in folders of 100, NEWER of them
// changed after the threshold, on tmpfs and on the disk; each round runs every
// command once, in turn, and the medians of the rounds are compared:
//   torrin exit          the program, started in a folder with its confi9.ini
//                        (it flushes the target before storing its threshold);
//   fd walking alone     fdfind -u -t f --changed-after THRESHOLD -j CORES;
//   fd + cp              the same piped into xargs cp --parents, then sync;
//   find + cp            find -newermt THRESHOLD piped into xargs cp --parents,
//                        then sync.
// Usage: incremental_bench [--files N (100000)] [--newer N (1000)] [--rounds R (5)]
//                          [--tmpfs DIR (/dev/shm)] [--disk DIR (/tmp)] [--jobs J (4)]
// An empty DIR leaves that file system out. Everything is made under DIR and
// removed afterwards.
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_start.h"
#include "bench/tree_generator.h"
#include "host/clock.h"
#include "host/fs.h"
#include "host/paths.h"

namespace {

struct Options {
    long files = 100000;
    long newer = 1000;
    int rounds = 5;
    int jobs = 4;
    std::vector<std::pair<std::string, std::string>> places = {{"tmpfs", "/dev/shm"},
                                                               {"disk", "/tmp"}};
};

double timed(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "incremental_bench: failed: %s\n", command.c_str());
        std::exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Folders of 100 files of 64 bytes; every (files / newer)-th file changed at
// `newerTime`, the others at `olderTime`.
void makeTree(const std::string& root, const Options& options, std::time_t olderTime,
              std::time_t newerTime) {
    const std::string content(64, 'x');
    const long every = options.files / std::max(options.newer, 1L);
    for (long i = 0; i < options.files; ++i) {
        const std::string folder =
            root + "/g" + std::to_string(i / 10000) + "/d" + std::to_string(i / 100 % 100);
        if (i % 100 == 0) std::filesystem::create_directories(folder);
        const std::string path = folder + "/file" + std::to_string(i % 100) + ".dat";
        std::ofstream(path, std::ios::binary) << content;
        const std::time_t at = i % every == 0 ? newerTime : olderTime;
        const timeval times[2] = {{at, 0}, {at, 0}};
        ::utimes(path.c_str(), times);
    }
}

void measure(const std::string& label, const std::string& parent, const Options& options,
             const std::string& torrin) {
    std::string work = parent + "/incremental-bench-XXXXXX";
    if (!::mkdtemp(work.data())) {
        std::perror(parent.c_str());
        std::exit(2);
    }
    const std::string source = work + "/src", run = work + "/run";
    // Made now: creation times are now, before the threshold an hour ahead.
    const std::time_t now = std::time(nullptr);
    const std::string threshold = host::localTimeText(now + 3600);
    makeTree(source, options, now - 86400, now + 7200);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::string fd = "fdfind -u -t f --changed-after " + bench::shellQuoted(threshold) +
                           " -j " + std::to_string(cores) + " . " + bench::shellQuoted(source);
    // Each command writes into a target of its own, made empty before it
    // starts and removed only at the end: none pays for the inodes another
    // one's removal left to skip.
    using Command = std::function<std::string(const std::string& target)>;
    const std::vector<std::pair<std::string, Command>> commands = {
        {"torrin exit",
         [&](const std::string&) {
             return "cd " + bench::shellQuoted(run) + " && " + bench::shellQuoted(torrin) + " exit";
         }},
        {"fd walking alone", [&](const std::string&) { return fd + " > /dev/null"; }},
        {"fd + cp, sync",
         [&](const std::string& target) {
             return "cd " + bench::shellQuoted(source) + " && fdfind -u -t f --changed-after " +
                    bench::shellQuoted(threshold) + " -j " + std::to_string(cores) +
                    " -0 | xargs -0 -r cp -p --parents -t " + bench::shellQuoted(target) +
                    " && sync";
         }},
        {"find + cp, sync",
         [&](const std::string& target) {
             return "cd " + bench::shellQuoted(source) + " && find . -type f -newermt " +
                    bench::shellQuoted(threshold) + " -print0 | xargs -0 -r cp -p --parents -t " +
                    bench::shellQuoted(target) + " && sync";
         }},
    };
    std::filesystem::create_directories(run);
    std::vector<std::vector<double>> times(commands.size());
    timed(fd + " > /dev/null");  // the tree in the cache
    for (int round = 0; round < options.rounds; ++round) {
        // Each round starts with a different command, so a drift of the
        // machine falls on all of them.
        for (std::size_t k = 0; k < commands.size(); ++k) {
            const std::size_t c = (k + static_cast<std::size_t>(round)) % commands.size();
            const std::string target =
                work + "/target-" + std::to_string(round) + "-" + std::to_string(c);
            std::filesystem::create_directories(target);
            std::ofstream(run + "/confi9.ini", std::ios::binary)
                << "[other]\r\nmpath=" << target << "\r\nfdt=" << threshold
                << "\r\nypath1=" << source
                << "\r\nsfth=y\r\nbkycwj=y\r\nqmljg=n\r\njobs=" << options.jobs << "\r\n";
            ::sync();
            times[c].push_back(timed(commands[c].second(target)));
        }
    }
    std::printf("%s (%s): %ld files, %ld newer, %d rounds, medians:\n", label.c_str(),
                parent.c_str(), options.files, options.newer, options.rounds);
    const double ours = median(times[0]);
    for (std::size_t c = 0; c < commands.size(); ++c) {
        const double m = median(times[c]);
        std::printf("  %-18s %8.3f s", commands[c].first.c_str(), m);
        if (c > 0) std::printf("   torrin / this %5.2f", ours / m);
        std::printf("\n");
    }
    timed("rm -rf " + bench::shellQuoted(work));
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = bench::start(
            argc, argv,
            "usage: incremental_bench [--files N (100000)] [--newer N (1000)] [--rounds R (5)]\n"
            "                         [--tmpfs DIR (/dev/shm)] [--disk DIR (/tmp)] [--jobs J "
            "(4)]\n"
            "needs: fdfind find xargs cp\n",
            {"fdfind", "find", "xargs", "cp"});
        status >= 0)
        return status;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--files")
            options.files = std::atol(value.c_str());
        else if (name == "--newer")
            options.newer = std::atol(value.c_str());
        else if (name == "--rounds")
            options.rounds = std::atoi(value.c_str());
        else if (name == "--jobs")
            options.jobs = std::atoi(value.c_str());
        else if (name == "--tmpfs")
            options.places[0].second = value;
        else if (name == "--disk")
            options.places[1].second = value;
        else {
            std::fprintf(stderr, "incremental_bench: unknown option %s\n", name.c_str());
            return 2;
        }
    }
    const std::string torrin = host::joinPath(host::programDirectory(), "torrin");
    if (!host::fileExists(torrin)) {
        std::fprintf(stderr, "incremental_bench: %s is missing (build it first)\n", torrin.c_str());
        return 2;
    }
    for (const auto& [label, parent] : options.places) {
        if (!parent.empty()) measure(label, parent, options, torrin);
    }
    return 0;
}
