// What torrin's journal and its flushes cost a first run: `torrin exit` copying
// FILES small files, with its records (journal, retry list, the target flushed
// before the threshold is stored) against the same run with them switched off
// (ZARVIK_TEST_NO_JOURNAL=1), in alternating rounds, and the system calls each
// makes (strace -c).
// Usage: journal_bench [--folder DIR (/dev/shm)] [--files N (100000)]
//                      [--rounds R (7)] [--jobs J (4)]
// Everything is made under DIR and removed afterwards.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_start.h"
#include "host/fs.h"
#include "host/paths.h"

namespace {

struct Options {
    std::string folder = "/dev/shm";
    long files = 100000;
    int rounds = 7;
    int jobs = 4;
};

constexpr const char* kUsage =
    "usage: journal_bench [--folder DIR (/dev/shm)] [--files N (100000)] [--rounds R (7)]\n"
    "                     [--jobs J (4)]\n"
    "Times torrin's first run of N small files with its journal and flushes against\n"
    "the same run without them, in R alternating rounds each (medians), and counts\n"
    "the system calls of one run each with strace -c.\n"
    "needs: strace\n";

[[noreturn]] void usage(int status) {
    std::fputs(kUsage, status == 0 ? stdout : stderr);
    std::exit(status);
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (i + 1 >= argc) usage(2);
        const std::string value = argv[++i];
        if (argument == "--folder")
            options.folder = value;
        else if (argument == "--files")
            options.files = std::stol(value);
        else if (argument == "--rounds")
            options.rounds = std::stoi(value);
        else if (argument == "--jobs")
            options.jobs = std::stoi(value);
        else
            usage(2);
    }
    return options;
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "journal_bench: failed: %s\n", command.c_str());
        std::exit(1);
    }
}

// A fresh target and settings, as before a first run.
void reset(const std::string& work, int jobs) {
    run("rm -rf '" + work + "/target' '" + work + "/run' && mkdir -p '" + work + "/target' '" +
        work + "/run'");
    std::ofstream("" + work + "/run/confi9.ini", std::ios::binary)
        << "[other]\r\nmpath=" << work << "/target\r\nfdt=2010-01-01 00:00:00\r\nypath1=" << work
        << "/src\r\nsfth=y\r\nqmljg=n\r\njobs=" << jobs << "\r\n";
}

double timedRun(const std::string& work, const std::string& torrin, bool journal) {
    const auto start = std::chrono::steady_clock::now();
    run("cd '" + work + "/run' && " + (journal ? "" : "ZARVIK_TEST_NO_JOURNAL=1 ") + "'" + torrin +
        "' exit");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long systemCalls(const std::string& work, const std::string& torrin, bool journal) {
    const std::string counts = work + "/strace.txt";
    run("cd '" + work + "/run' && " + (journal ? "" : "ZARVIK_TEST_NO_JOURNAL=1 ") +
        "strace -f -c -o '" + counts + "' '" + torrin + "' exit >/dev/null");
    std::ifstream in(counts);
    std::string line, last;
    while (std::getline(in, line)) {
        if (line.find("total") != std::string::npos) last = line;
    }
    // "100.00    0.123456   1   123456   12  total": the calls are the fourth field.
    long calls = 0;
    double percent = 0, seconds = 0;
    long perCall = 0;
    std::sscanf(last.c_str(), "%lf %lf %ld %ld", &percent, &seconds, &perCall, &calls);
    return calls;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = bench::start(argc, argv, kUsage, {"strace"}); status >= 0) return status;
    const Options options = parse(argc, argv);
    const std::string torrin = host::joinPath(host::programDirectory(), "torrin");
    if (!host::fileExists(torrin)) {
        std::fprintf(stderr, "journal_bench: %s is missing (build it first)\n", torrin.c_str());
        return 2;
    }
    std::string work = options.folder + "/journal-bench-XXXXXX";
    if (!::mkdtemp(work.data())) {
        std::perror(options.folder.c_str());
        return 2;
    }
    std::printf("%ld files of 64 bytes in %s, %d workers, %d rounds\n", options.files,
                options.folder.c_str(), options.jobs, options.rounds);
    for (long i = 0; i < options.files; ++i) {
        const std::string folder = work + "/src/d" + std::to_string(i / 100);
        if (i % 100 == 0) std::filesystem::create_directories(folder);
        std::ofstream(folder + "/f" + std::to_string(i), std::ios::binary) << std::string(64, 'x');
    }

    std::vector<double> on, off;
    for (int round = 0; round < options.rounds; ++round) {
        // Alternating which goes first, so a drift of the machine hits both.
        for (const bool journal : {round % 2 == 0, round % 2 != 0}) {
            reset(work, options.jobs);
            (journal ? on : off).push_back(timedRun(work, torrin, journal));
        }
    }
    reset(work, options.jobs);
    const long callsOn = systemCalls(work, torrin, true);
    reset(work, options.jobs);
    const long callsOff = systemCalls(work, torrin, false);
    run("rm -rf '" + work + "'");

    const double medianOn = median(on), medianOff = median(off);
    std::printf("with journal and flushes: median %.3f s (min %.3f, max %.3f)\n", medianOn,
                *std::min_element(on.begin(), on.end()), *std::max_element(on.begin(), on.end()));
    std::printf("without:                  median %.3f s (min %.3f, max %.3f)\n", medianOff,
                *std::min_element(off.begin(), off.end()),
                *std::max_element(off.begin(), off.end()));
    std::printf("ratio %.3f (goal: at most 1.05)\n", medianOn / medianOff);
    std::printf("system calls: %ld with, %ld without: %.3f extra per file (goal: at most 2)\n",
                callsOn, callsOff, double(callsOn - callsOff) / double(options.files));
    return 0;
}
