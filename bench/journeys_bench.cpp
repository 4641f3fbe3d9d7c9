// Whole user journeys on one generated tree, each run as its own process so its
// time and peak memory are its own, side by side with the usual tools in the
// same run:
//   find over both folders, then kelvane check SRC DST --copy against
//   rsync -a --ignore-existing (a tenth of the files missing in DST);
//   torrin's first run (build/bin/torrin exit) against cp -a;
//   torrin's incremental run (a hundredth of the files touched) against
//   find -newermt THRESHOLD piped into cp -a --parents.
// Every journey runs once per worker count (kelvane's --jobs, the "jobs" key
// of the confi9.ini in the folder torrin starts in), each beside its tool
// measured again in that round, and the ratios are printed per worker count;
// a million files give torrin's peak memory.
//
// Usage: journeys_bench [files=100000] [--folder PARENT] [--jobs 1,2,4,8,16]
// The tree goes into a new folder under PARENT (default /tmp, on disk;
// /dev/shm is tmpfs) that is removed at the end. rsync, find, cp and xargs
// must be on the path (bash scripts/bench installs what is missing). File
// lengths are cut to under 4 KB so a million-file tree and its copies stay a
// few GB; at most two trees exist at once, so a million files also fit a tmpfs.
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_start.h"
#include "bench/tree_generator.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Measure {
    double seconds = 0;
    double peakMegabytes = 0;
};

// Runs `args` in `folder` (empty: here) with output to /dev/null, writes its
// time and peak memory (wait4's ru_maxrss) to `resultFile` and returns its status.
// Called in a fresh process (see `run`): a child's peak memory includes that of
// the process that forked it, so the child must come from a small one.
int launch(char** args, const char* folder, const char* resultFile) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) return 125;
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        if (*folder != '\0' && ::chdir(folder) != 0) ::_exit(126);
        ::execvp(args[0], args);
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    FILE* out = std::fopen(resultFile, "w");
    if (!out) return 125;
    std::fprintf(out, "%.6f %ld\n", seconds, usage.ru_maxrss);
    std::fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 125;
}

std::string resultFile;
std::string self;

// Runs `args` through a fresh copy of this program (`launch`). Throws when the
// program fails.
Measure run(const std::vector<std::string>& args, const std::string& folder = {}) {
    std::vector<std::string> store{self, "--launch", resultFile, folder};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : store) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + self);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        throw std::runtime_error("cannot start " + args.front() +
                                 " (bash scripts/bench installs what the benchmarks need)");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(args.back() + " failed with status " + std::to_string(status));
    Measure measure;
    long kilobytes = 0;
    std::ifstream in(resultFile);
    in >> measure.seconds >> kilobytes;
    measure.peakMegabytes = static_cast<double>(kilobytes) / 1024.0;
    return measure;
}

Measure shell(const std::string& line) {
    return run({"sh", "-c", line});
}

long countFiles(const std::string& folder) {
    long count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.symlink_status().type() == fs::file_type::regular) ++count;
    return count;
}

void removeEvery(const std::string& root, const std::vector<std::string>& files, std::size_t step) {
    for (std::size_t i = 3 % step; i < files.size(); i += step)
        if (::unlink((root + files[i]).c_str()) != 0)
            throw std::runtime_error("cannot remove " + root + files[i]);
}

std::string storedThreshold(const std::string& profile) {
    std::ifstream in(profile, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("fdt=", 0) == 0) {
            line = line.substr(4);
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
            return line;
        }
    }
    throw std::runtime_error("no threshold stored in " + profile);
}

// torrin reads its settings from the folder it starts in; "jobs" sets its workers.
void writeProfile(const std::string& folder, const std::string& source, const std::string& target,
                  const std::string& threshold, int jobs) {
    std::ofstream out(folder + "/confi9.ini", std::ios::binary);
    out << "[other]\r\nmpath=" << target << "\r\nfdt=" << threshold << "\r\nypath1=" << source
        << "\r\nsfth=y\r\nbkycwj=y\r\nqmljg=y\r\njobs=" << jobs << "\r\n";
}

// "1,2,4,8,16": each 1..64, as the programs accept.
std::vector<int> parseJobs(const std::string& text) {
    std::vector<int> jobs;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        char* end = nullptr;
        const long value = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || value < 1 || value > 64) return {};
        jobs.push_back(static_cast<int>(value));
        at = comma + 1;
    }
    return jobs;
}

// One journey at one worker count, beside the tool measured in the same round.
struct Pair {
    Measure ours;
    Measure tool;
};

struct Journey {
    std::string title;
    std::string tool;
    std::vector<Pair> rounds;  // one per worker count
};

void printRound(int jobs, const Journey& journey) {
    const Pair& pair = journey.rounds.back();
    std::printf("  jobs %2d  %-34s %7.2f s %7.1f MB | %-32s %7.2f s %7.1f MB | ratio %.2f\n", jobs,
                journey.title.c_str(), pair.ours.seconds, pair.ours.peakMegabytes,
                journey.tool.c_str(), pair.tool.seconds, pair.tool.peakMegabytes,
                pair.ours.seconds / pair.tool.seconds);
}

void printTable(const std::vector<int>& jobs, const Journey& journey) {
    std::printf("\n%s, against %s\n  %4s %9s %9s %7s %9s\n", journey.title.c_str(),
                journey.tool.c_str(), "jobs", "ours s", "tool s", "ratio", "ours MB");
    for (std::size_t i = 0; i < journey.rounds.size(); ++i) {
        const Pair& pair = journey.rounds[i];
        std::printf("  %4d %9.2f %9.2f %7.2f %9.1f\n", jobs[i], pair.ours.seconds,
                    pair.tool.seconds, pair.ours.seconds / pair.tool.seconds,
                    pair.ours.peakMegabytes);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::strcmp(argv[1], "--launch") == 0)
        return launch(argv + 4, argv[3], argv[2]);
    constexpr const char* kUsage =
        "usage: journeys_bench [FILES (100000)] [--folder PARENT] [--jobs 1,2,4,8,16]\n"
        "  each worker count is 1..64\n"
        "needs: rsync find cp xargs\n";
    if (const int status = bench::start(argc, argv, kUsage, {"rsync", "find", "cp", "xargs"});
        status >= 0)
        return status;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bench::TreeShape shape;
    shape.files = 100000;
    std::string parent = "/tmp";
    std::vector<int> jobs{1, 2, 4, 8, 16};
    bool usable = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc) {
            parent = argv[++i];
        } else if (std::strcmp(argv[i], "--jobs") == 0 && i + 1 < argc) {
            jobs = parseJobs(argv[++i]);
            usable = usable && !jobs.empty();
        } else {
            shape.files = std::atol(argv[i]);
        }
    }
    if (!usable || shape.files <= 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    self = fs::canonical("/proc/self/exe").string();
    const std::string binaries = fs::path(self).parent_path().string();
    const std::string kelvane = binaries + "/kelvane";
    const std::string torrin = binaries + "/torrin";

    std::string base = parent + "/journeys-bench-XXXXXX";
    if (!::mkdtemp(base.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    resultFile = base + "/measure";
    int status = 0;
    try {
        const std::string src = base + "/src";
        const std::string dst = base + "/dst";
        const std::string torrinTarget = base + "/torrin-target";
        const std::string work = base + "/work";
        fs::create_directories(src);
        fs::create_directories(work);

        auto begun = std::chrono::steady_clock::now();
        const bench::TreeSize size = bench::generateTree(src, shape);
        const std::vector<std::string> files = bench::shrinkTree(src);
        ::sync();
        std::printf(
            "tree: %ld files (%ld hidden) in %ld folders under %s, made in %.1f s\n", size.files,
            size.hiddenFiles, size.folders, base.c_str(),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count());

        const Measure findSource =
            shell("find " + bench::shellQuoted(src) + " -type f");  // warms the cache
        const Measure findAgain = shell("find " + bench::shellQuoted(src) + " -type f");
        std::printf("find over the source: %.2f s (cold), %.2f s (warm), %.1f MB\n",
                    findSource.seconds, findAgain.seconds, findAgain.peakMegabytes);

        // A tenth missing for kelvane; a hundredth touched for torrin's incremental run.
        std::size_t missing = 0;
        for (std::size_t i = 3 % 10; i < files.size(); i += 10) ++missing;
        std::size_t touched = 0;
        for (std::size_t i = 7 % 100; i < files.size(); i += 100) ++touched;
        Journey check{"kelvane check --copy (" + std::to_string(missing) + " missing)",
                      "rsync -a --ignore-existing",
                      {}};
        Journey first{"torrin first run (all new)", "cp -a", {}};
        Journey incremental{"torrin incremental (" + std::to_string(touched) + " newer)",
                            "find -newermt | cp -a --parents",
                            {}};
        Measure findBoth;

        // Each round is one worker count, every journey beside its tool in
        // that round; at most two trees exist at a time (tmpfs runs out of
        // inodes on a million files otherwise).
        for (const int count : jobs) {
            // cp -a makes the target kelvane and rsync fill in, and is
            // torrin's first-run yardstick; both start from the same warm cache.
            const Measure copyAll = run({"cp", "-a", src, dst});
            ::sync();
            removeEvery(dst, files, 10);
            ::sync();
            if (count == jobs.front())
                findBoth = shell("find " + bench::shellQuoted(src) + " " + bench::shellQuoted(dst) +
                                 " -type f");
            const Measure ours =
                run({kelvane, "check", src, dst, "--copy", "--jobs", std::to_string(count)});
            ::sync();
            if (countFiles(dst) != size.files)
                throw std::runtime_error("kelvane left the target incomplete");
            removeEvery(dst, files, 10);
            ::sync();
            const Measure rsync = run({"rsync", "-a", "--ignore-existing", src + "/", dst + "/"});
            ::sync();
            check.rounds.push_back({ours, rsync});
            printRound(count, check);
            // Each removal is written out before the next measure, which would
            // otherwise pay for it (on a disk, many times its own time).
            fs::remove_all(dst);
            ::sync();

            fs::create_directories(torrinTarget);
            fs::remove(work + "/log.txt");
            writeProfile(work, src, torrinTarget, "2001-01-01 00:00:00", count);
            const Measure firstRun = run({torrin, "exit"}, work);
            ::sync();
            if (countFiles(torrinTarget + src) != size.files)
                throw std::runtime_error("torrin's first run left the target incomplete");
            first.rounds.push_back({firstRun, copyAll});
            printRound(count, first);

            // Touched after the threshold the first run stored.
            const std::string threshold = storedThreshold(work + "/confi9.ini");
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
            for (std::size_t i = 7 % 100; i < files.size(); i += 100)
                if (::utimensat(AT_FDCWD, (src + files[i]).c_str(), nullptr, 0) != 0)
                    throw std::runtime_error("cannot touch " + src + files[i]);
            ::sync();
            shell("find " + bench::shellQuoted(src) + " -type f");  // the same warm start for both
            const Measure incrementalRun = run({torrin, "exit"}, work);
            ::sync();
            const Measure findCopy =
                shell("find " + bench::shellQuoted(src) + " -type f -newermt " +
                      bench::shellQuoted(threshold) + " -print0 | xargs -0 -r cp -a --parents -t " +
                      bench::shellQuoted(torrinTarget));
            ::sync();
            incremental.rounds.push_back({incrementalRun, findCopy});
            printRound(count, incremental);
            fs::remove_all(torrinTarget);
            ::sync();
        }

        std::printf(
            "\nfind over both folders before the first kelvane run: %.2f s "
            "(kelvane/find %.2f at %d jobs)\n",
            findBoth.seconds, check.rounds.front().ours.seconds / findBoth.seconds, jobs.front());
        printTable(jobs, first);
        printTable(jobs, incremental);
        printTable(jobs, check);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "journeys_bench: %s\n", error.what());
        status = 1;
    }
    std::error_code ignored;
    fs::remove_all(base, ignored);
    return status;
}
