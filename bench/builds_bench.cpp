// Two builds of the programs beside each other on one generated tree, with
// the usual tools in the same rounds: torrin's first run (against cp -a and
// sync), its incremental run with a hundredth of the files touched (against
// find -newermt piped into cp, and sync) and kelvane check --copy with a
// tenth of the files missing (against rsync --ignore-existing). Each round
// runs every journey once per build, the builds in alternating order, and the
// medians of the rounds are printed with the ratios this build / the other
// and this build / the tool. For a change to the copy path: is it as fast as
// before, and still ahead of the tools where it was?
//
// Usage: builds_bench --baseline DIR [--files N (20000)] [--rounds R (7)]
//                     [--folder PARENT (/tmp; /dev/shm is tmpfs)] [--jobs J (4)]
// DIR holds the other build's kelvane and torrin (with its resources/).
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
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
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_start.h"
#include "bench/tree_generator.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Runs `args` in `folder`, its output thrown away; its wall time in seconds.
double timed(const std::vector<std::string>& args, const std::string& folder = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + args.front());
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(args.front() + " failed with status " + std::to_string(status));
    return seconds;
}

double shell(const std::string& line) {
    return timed({"sh", "-c", line});
}

void settle() {
    ::sync();
}

void writeProfile(const std::string& folder, const std::string& source, const std::string& target,
                  int jobs) {
    std::ofstream out(folder + "/confi9.ini", std::ios::binary);
    out << "[other]\r\nmpath=" << target << "\r\nfdt=2001-01-01 00:00:00\r\nypath1=" << source
        << "\r\nsfth=y\r\nbkycwj=y\r\nqmljg=n\r\njobs=" << jobs << "\r\n";
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Build {
    std::string name;
    std::string folder;  // holds kelvane and torrin
};

}  // namespace

int main(int argc, char** argv) {
    constexpr const char* kUsage =
        "usage: builds_bench --baseline DIR [--files N (20000)] [--rounds R (7)]\n"
        "                    [--folder PARENT (/tmp)] [--jobs J (4)]\n"
        "  DIR holds the other build's kelvane and torrin\n"
        "needs: cp rsync find xargs\n";
    if (const int status = bench::start(argc, argv, kUsage, {"cp", "rsync", "find", "xargs"});
        status >= 0)
        return status;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bench::TreeShape shape;
    shape.files = 20000;
    int rounds = 7, jobs = 4;
    std::string parent = "/tmp", baseline;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--baseline")
            baseline = value;
        else if (name == "--files")
            shape.files = std::atol(value.c_str());
        else if (name == "--rounds")
            rounds = std::atoi(value.c_str());
        else if (name == "--folder")
            parent = value;
        else if (name == "--jobs")
            jobs = std::atoi(value.c_str());
    }
    if (baseline.empty() || shape.files <= 0 || rounds <= 0 || jobs < 1 ||
        !fs::exists(baseline + "/torrin") || !fs::exists(baseline + "/kelvane")) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string self = fs::canonical("/proc/self/exe").parent_path().string();
    const std::vector<Build> builds{{"this build", self}, {"baseline", baseline}};

    std::string base = parent + "/builds-bench-XXXXXX";
    if (!::mkdtemp(base.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    int status = 0;
    try {
        const std::string src = base + "/src";
        fs::create_directories(src);
        const bench::TreeSize size = bench::generateTree(src, shape);
        const std::vector<std::string> files = bench::shrinkTree(src);
        settle();
        std::printf("tree: %ld files in %ld folders under %s; %d rounds, %d jobs\n", size.files,
                    size.folders, base.c_str(), rounds, jobs);

        // seconds by journey, then by build (or tool)
        std::map<std::string, std::map<std::string, std::vector<double>>> times;
        for (int round = 0; round < rounds; ++round) {
            std::vector<Build> order = builds;
            if (round % 2 == 1) std::reverse(order.begin(), order.end());
            // Every run writes into a folder of its own, and nothing is
            // removed before the last round: ext4 makes a new file past the
            // free inodes of files removed in the last seconds (minutes,
            // while their blocks are not yet written), so removing a copy
            // of the tree before a run made that run several times slower,
            // by how long ago the removal was.
            const auto fresh = [&](const std::string& name) {
                return base + "/" + name + "-" + std::to_string(round);
            };
            for (const Build& build : order) {
                const std::string work = fresh("work-" + build.name.substr(0, 4));
                const std::string target = fresh("target-" + build.name.substr(0, 4));
                fs::create_directories(target);
                fs::create_directories(work);
                writeProfile(work, src, target, jobs);
                settle();
                times["torrin first run"][build.name].push_back(
                    timed({build.folder + "/torrin", "exit"}, work));
                settle();
            }
            times["torrin first run"]["cp -a, sync"].push_back(
                shell("cp -a " + bench::shellQuoted(src) + " " + bench::shellQuoted(fresh("cp")) +
                      " && sync"));
            settle();
            // Touched after every threshold stored so far.
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
            const auto touchedAt =
                std::chrono::system_clock::now() - std::chrono::milliseconds(500);
            for (std::size_t i = 7 % 100; i < files.size(); i += 100)
                if (::utimensat(AT_FDCWD, (src + files[i]).c_str(), nullptr, 0) != 0)
                    throw std::runtime_error("cannot touch " + src + files[i]);
            settle();
            shell("find " + bench::shellQuoted(src) +
                  " -type f >/dev/null");  // the same warm start
            for (const Build& build : order) {
                const std::string work = fresh("work-" + build.name.substr(0, 4));
                times["torrin incremental"][build.name].push_back(
                    timed({build.folder + "/torrin", "exit"}, work));
                settle();
            }
            {
                const std::time_t at = std::chrono::system_clock::to_time_t(touchedAt);
                char when[32];
                std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&at));
                const std::string copies = fresh("cp-newer");
                fs::create_directories(copies);
                times["torrin incremental"]["find + cp, sync"].push_back(
                    shell("cd " + bench::shellQuoted(src) + " && find . -type f -newermt " +
                          bench::shellQuoted(when) + " -print0 | xargs -0 -r cp -p --parents -t " +
                          bench::shellQuoted(copies) + " && sync"));
                settle();
            }
            for (const Build& build : order) {
                const std::string target = fresh("dst-" + build.name.substr(0, 4));
                shell("cp -a " + bench::shellQuoted(src) + " " + bench::shellQuoted(target));
                for (std::size_t i = 3 % 10; i < files.size(); i += 10)
                    fs::remove(target + files[i]);
                settle();
                times["kelvane check --copy"][build.name].push_back(
                    timed({build.folder + "/kelvane", "check", src, target, "--copy", "--jobs",
                           std::to_string(jobs)}));
                settle();
                if (&build == &order.back()) {
                    for (std::size_t i = 3 % 10; i < files.size(); i += 10)
                        fs::remove(target + files[i]);
                    settle();
                    times["kelvane check --copy"]["rsync --ignore-existing"].push_back(
                        timed({"rsync", "-a", "--ignore-existing", src + "/", target + "/"}));
                    settle();
                }
            }
            std::printf("round %d done\n", round + 1);
        }

        std::printf("\nmedians of %d rounds (s); ratios of the medians\n", rounds);
        for (const auto& [journey, byBuild] : times) {
            const double ours = median(byBuild.at("this build"));
            const double before = median(byBuild.at("baseline"));
            std::printf("  %-22s this build %7.3f  baseline %7.3f  ratio %.2f", journey.c_str(),
                        ours, before, ours / before);
            for (const auto& [tool, seconds] : byBuild) {
                if (tool == "this build" || tool == "baseline") continue;
                const double theirs = median(seconds);
                std::printf("  | %s %7.3f  this/tool %.2f  baseline/tool %.2f", tool.c_str(),
                            theirs, ours / theirs, before / theirs);
            }
            std::printf("\n");
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "builds_bench: %s\n", error.what());
        status = 1;
    }
    std::error_code ignored;
    fs::remove_all(base, ignored);
    return status;
}
