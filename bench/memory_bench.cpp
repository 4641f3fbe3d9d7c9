// Peak memory of `kelvane check` per listed row, beside rsync's peak on the
// same trees in the same run. Each command runs in a process of its own under
// /usr/bin/time, whose figure is the peak resident memory of that command
// alone (a process started from this one would also count this one's pages).
//
// Usage: memory_bench [files=100000] [--folder PARENT]
// Makes, in a new folder under PARENT (default /tmp; removed at the end),
// SOURCE (bench/tree_generator's tree of `files` files), TARGET (the same tree
// less every tenth file) and the list files a.txt and b.txt of their names;
// then measures, in this order:
//   kelvane check on two lists of one name each (the program's own start);
//   kelvane check SOURCE TARGET;
//   rsync -a --ignore-existing --dry-run SOURCE/ TARGET/;
//   rsync -a --ignore-existing SOURCE/ TARGET/ (the copies removed again);
//   kelvane check a.txt b.txt;
//   window_bench check a.txt b.txt and SOURCE TARGET, when it was built:
//     "开始核对" in the window, its time also as a ratio to kelvane check's;
//   kelvane check SOURCE TARGET --copy.
// A row's bytes are the peak above the program's start over the rows of both
// lists (files + 9/10 of files).
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_start.h"
#include "bench/tree_generator.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Peak {
    double seconds = 0;
    double megabytes = 0;
};

// Runs `args` under /usr/bin/time with its output to `output`; throws when
// it fails.
Peak measure(const std::vector<std::string>& args, const std::string& resultFile,
             const std::string& output = "/dev/null") {
    std::vector<std::string> store{"/usr/bin/time", "-f", "%e %M", "-o", resultFile};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : store) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = 0;
    const int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) throw std::runtime_error("cannot start /usr/bin/time");
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(args.front() + " failed with status " + std::to_string(status));
    Peak peak;
    long kilobytes = 0;
    std::ifstream in(resultFile);
    in >> peak.seconds >> kilobytes;
    peak.megabytes = static_cast<double>(kilobytes) / 1024.0;
    return peak;
}

void writeList(const std::string& path, const std::vector<std::string>& names) {
    std::ofstream out(path, std::ios::binary);
    for (const std::string& name : names) out << name << '\n';
    if (!out) throw std::runtime_error("cannot write " + path);
}

const char* const kUsage =
    "usage: memory_bench [files=100000] [--folder PARENT]\n"
    "Peak memory of kelvane check (folders, --copy, list files, the window) per\n"
    "listed row, beside rsync's peak on the same trees in the same run.\n"
    "needs: rsync time\n";

}  // namespace

int main(int argc, char** argv) {
    if (const int status = bench::start(argc, argv, kUsage, {"rsync", "time"}); status >= 0)
        return status;
    long files = 100000;
    std::string parent = "/tmp";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--folder" && i + 1 < argc) {
            parent = argv[++i];
        } else {
            files = std::atol(arg.c_str());
        }
    }
    if (files < 10) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string binaries = fs::canonical("/proc/self/exe").parent_path().string();
    const std::string kelvane = binaries + "/kelvane";
    const std::string window = binaries + "/window_bench";
    const std::string work = fs::path(parent) / ("memory_bench." + std::to_string(::getpid()));
    fs::create_directories(work);
    int status = 0;
    try {
        const std::string src = work + "/src", dst = work + "/dst";
        const std::string resultFile = work + "/peak";
        fs::create_directory(src);
        fs::create_directory(dst);
        const bench::TreeShape shape{files, 20240601};
        std::printf("making two trees of %ld and %ld files under %s ...\n", files,
                    files - files / 10, work.c_str());
        std::fflush(stdout);
        bench::generateTree(src, shape);
        bench::generateTree(dst, shape);
        const std::vector<std::string> names = bench::generateNames(shape);
        std::vector<std::string> targetNames, missing;
        for (std::size_t i = 0; i < names.size(); ++i)
            (i % 10 == 9 ? missing : targetNames).push_back(names[i]);
        for (const std::string& name : missing) {
            fs::remove(dst + name);
            // The files the copies write are cut to under 4 KiB (a tree's
            // files are up to 50 MB long, holes only), their times kept.
            struct stat st {};
            const std::string path = src + name;
            if (::stat(path.c_str(), &st) != 0 || st.st_size < 4096) continue;
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            if (::truncate(path.c_str(), st.st_size % 4096) != 0 ||
                ::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
                throw std::runtime_error("cannot shorten " + path);
        }
        writeList(work + "/a.txt", names);
        writeList(work + "/b.txt", targetNames);
        writeList(work + "/one.txt", {names.front()});
        const double rows = static_cast<double>(names.size() + targetNames.size());

        const Peak start =
            measure({kelvane, "check", work + "/one.txt", work + "/one.txt"}, resultFile);
        const auto perRow = [&](const Peak& peak) {
            return (peak.megabytes - start.megabytes) * 1024 * 1024 / rows;
        };
        const Peak folders = measure({kelvane, "check", src, dst}, resultFile);
        const Peak dryRun = measure(
            {"rsync", "-a", "--ignore-existing", "--dry-run", src + "/", dst + "/"}, resultFile);
        const Peak rsyncCopy =
            measure({"rsync", "-a", "--ignore-existing", src + "/", dst + "/"}, resultFile);
        for (const std::string& name : missing) fs::remove(dst + name);
        const Peak lists =
            measure({kelvane, "check", work + "/a.txt", work + "/b.txt"}, resultFile);
        Peak shown, shownFolders;
        double shownClick = 0, shownFoldersClick = 0;
        const bool windowBuilt = ::access(window.c_str(), X_OK) == 0;
        if (windowBuilt) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
            // The window's own figure is the time from the click to the end
            // of the check; the process's also holds Qt's start.
            const std::string said = work + "/window.out";
            const auto clickToEnd = [&] {
                double seconds = 0;
                std::ifstream(said) >> seconds;
                return seconds;
            };
            shown = measure({window, "check", work + "/a.txt", work + "/b.txt"}, resultFile, said);
            shownClick = clickToEnd();
            shownFolders = measure({window, "check", src, dst}, resultFile, said);
            shownFoldersClick = clickToEnd();
        }
        const Peak copy = measure({kelvane, "check", src, dst, "--copy"}, resultFile);

        std::printf(
            "\n%ld files in SOURCE, %zu in TARGET (%zu missing); rows of both lists: "
            "%.0f\n\n",
            files, targetNames.size(), missing.size(), rows);
        std::printf("%-46s %8s %10s %12s %10s\n", "", "seconds", "peak MB", "bytes/row", "/ rsync");
        const auto line = [&](const char* what, const Peak& peak, bool ours, const Peak& tool) {
            std::printf("%-46s %8.2f %10.1f", what, peak.seconds, peak.megabytes);
            if (ours) {
                std::printf(" %12.1f %10.2f\n", perRow(peak), peak.megabytes / tool.megabytes);
            } else {
                std::printf("\n");
            }
        };
        line("kelvane check, two one-name lists (start)", start, false, dryRun);
        line("rsync -a --ignore-existing --dry-run", dryRun, false, dryRun);
        line("rsync -a --ignore-existing (copies)", rsyncCopy, false, dryRun);
        line("kelvane check SOURCE TARGET", folders, true, dryRun);
        line("kelvane check SOURCE TARGET --copy", copy, true, rsyncCopy);
        line("kelvane check a.txt b.txt", lists, true, dryRun);
        if (windowBuilt) {
            line("window: 开始核对 on a.txt b.txt", shown, true, dryRun);
            line("window: 开始核对 on SOURCE TARGET", shownFolders, true, dryRun);
        }
        std::printf(
            "\n(/ rsync: the peak over rsync's; --copy against rsync's copy, the others "
            "against its dry run)\n");
        if (windowBuilt)
            std::printf(
                "开始核对 from its click to 核对结束: folders %.2f s, lists %.2f s; / kelvane "
                "check's: folders %.2f, lists %.2f (goal <= 1.2)\n",
                shownFoldersClick, shownClick, shownFoldersClick / folders.seconds,
                shownClick / lists.seconds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "memory_bench: %s\n", error.what());
        status = 1;
    }
    std::error_code ignored;
    fs::remove_all(work, ignored);
    return status;
}
