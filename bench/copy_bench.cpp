// The command line's incremental copy against the usual tools:
//   kelvane check SRC DST --copy   vs  rsync -a --ignore-existing SRC/ DST/
// over many small files of which a tenth is missing in the target, and
//   kelvane check SRC DST --copy   vs  cp -a SRC/. DST/
// over a few large files. Each side runs several rounds on the same trees,
// alternating, with the target put back between rounds; prints the times.
//
// Usage: copy_bench [--files N] [--big-files N] [--big-mb M] [--rounds R] [FOLDER]
// FOLDER (default: a new temporary folder) must be empty or absent; everything
// made there is removed at the end.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_start.h"
#include "host/fs.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Settings {
    long files = 100000;
    int bigFiles = 3;
    long bigMegabytes = 1024;
    int rounds = 3;
    std::string folder;
};

void writeFile(const std::string& path, const char* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot write " + path);
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    ::close(fd);
}

// Small files: 100 per folder, folders two levels deep; a tenth of the files
// (one name in ten of every folder) is missing in the target.
std::vector<std::string> makeSmallTrees(const std::string& src, const std::string& dst,
                                        long files) {
    std::vector<std::string> missing;
    std::string content(300, 'x');
    for (long i = 0; i < files; ++i) {
        const long folder = i / 100;
        const std::string relative = "/d" + std::to_string(folder / 10) + "/e" +
                                     std::to_string(folder % 10) + "/f" + std::to_string(i) +
                                     ".txt";
        if (i % 100 == 0) {
            fs::create_directories(fs::path(src + relative).parent_path());
            fs::create_directories(fs::path(dst + relative).parent_path());
        }
        content.replace(0, 12, std::to_string(1000000000 + i));
        writeFile(src + relative, content.data(), content.size());
        if (i % 10 == 3) {
            missing.push_back(relative);
        } else {
            writeFile(dst + relative, content.data(), content.size());
        }
    }
    return missing;
}

void makeBigFiles(const std::string& src, int count, long megabytes) {
    fs::create_directories(src);
    std::vector<char> block(1 << 20);
    for (int f = 0; f < count; ++f) {
        const std::string path = src + "/big" + std::to_string(f) + ".bin";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) throw std::runtime_error("cannot create " + path);
        unsigned state = 12345u + static_cast<unsigned>(f);
        for (long m = 0; m < megabytes; ++m) {
            // Cheap non-repeating bytes, so no layer can compress or skip them.
            for (std::size_t i = 0; i < block.size(); i += 4) {
                state = state * 1664525u + 1013904223u;
                std::memcpy(&block[i], &state, 4);
            }
            if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
                ::close(fd);
                throw std::runtime_error("cannot write " + path);
            }
        }
        ::close(fd);
    }
}

// Runs `args` with standard output to /dev/null; returns seconds, or throws
// when the program fails.
double timed(const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> store(args);
    std::vector<char*> argv;
    for (auto& arg : store) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error("cannot start " + args[0] +
                                 " (bash scripts/bench installs what the benchmarks need)");
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(args[0] + " failed with status " + std::to_string(status));
    return seconds;
}

void syncDisks() {
    ::sync();
}

void removeListed(const std::string& dst, const std::vector<std::string>& names) {
    for (const auto& name : names) ::unlink((dst + name).c_str());
}

long countFiles(const std::string& folder) {
    long count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) ++count;
    return count;
}

struct Times {
    std::vector<double> ours;
    std::vector<double> theirs;
};

void report(const char* what, const char* tool, Times times) {
    std::sort(times.ours.begin(), times.ours.end());
    std::sort(times.theirs.begin(), times.theirs.end());
    const double ours = times.ours.front();
    const double theirs = times.theirs.front();
    std::printf("%s\n  kelvane --copy: best %.3f s, median %.3f s\n", what, ours,
                times.ours[times.ours.size() / 2]);
    const double ourMedian = times.ours[times.ours.size() / 2];
    const double theirMedian = times.theirs[times.theirs.size() / 2];
    std::printf("  %-14s best %.3f s, median %.3f s\n  ratio: %.2f (best), %.2f (median)\n", tool,
                theirs, theirMedian, ours / theirs, ourMedian / theirMedian);
}

Settings parse(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&] {
            if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
            return std::stol(argv[++i]);
        };
        if (arg == "--files") {
            settings.files = value();
        } else if (arg == "--big-files") {
            settings.bigFiles = static_cast<int>(value());
        } else if (arg == "--big-mb") {
            settings.bigMegabytes = value();
        } else if (arg == "--rounds") {
            settings.rounds = static_cast<int>(std::max(1L, value()));
        } else if (arg.starts_with("-") || !settings.folder.empty()) {
            throw std::runtime_error("unknown argument " + arg);
        } else {
            settings.folder = arg;
        }
    }
    return settings;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr const char* kUsage =
        "usage: copy_bench [--files N] [--big-files N] [--big-mb M] [--rounds R] [FOLDER]\n"
        "needs: rsync cp\n";
    if (const int status = bench::start(argc, argv, kUsage, {"rsync", "cp"}); status >= 0)
        return status;
    Settings settings;
    try {
        settings = parse(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "copy_bench: " << error.what() << '\n' << kUsage;
        return 2;
    }
    std::string base = settings.folder;
    if (base.empty()) {
        std::string pattern = (fs::temp_directory_path() / "copy-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::cerr << "copy_bench: cannot make a temporary folder\n";
            return 2;
        }
        base = pattern;
    } else if (fs::exists(base) && !fs::is_empty(base)) {
        std::cerr << "copy_bench: " << base << " is not empty\n";
        return 2;
    }
    const std::string kelvane = host::programDirectory() + "/kelvane";
    int status = 0;
    try {
        fs::create_directories(base);
        const std::string src = base + "/small-src";
        const std::string dst = base + "/small-dst";
        std::printf("making %ld small files ...\n", settings.files);
        std::fflush(stdout);
        const std::vector<std::string> missing = makeSmallTrees(src, dst, settings.files);
        syncDisks();
        // Both tools then start from a warm cache of both trees.
        timed({kelvane, "check", src, dst});
        timed({"rsync", "-a", "--dry-run", "--ignore-existing", src + "/", dst + "/"});

        Times small;
        for (int round = 0; round < settings.rounds; ++round) {
            removeListed(dst, missing);
            syncDisks();
            small.ours.push_back(timed({kelvane, "check", src, dst, "--copy"}));
            if (countFiles(dst) != settings.files)
                throw std::runtime_error("kelvane left the target incomplete");
            removeListed(dst, missing);
            syncDisks();
            small.theirs.push_back(
                timed({"rsync", "-a", "--ignore-existing", src + "/", dst + "/"}));
        }
        char title[128];
        std::snprintf(title, sizeof title,
                      "%ld small files, %zu missing in the target:", settings.files,
                      missing.size());
        report(title, "rsync:", small);
        fs::remove_all(src);
        fs::remove_all(dst);

        if (settings.bigFiles > 0) {
            const std::string bigSrc = base + "/big-src";
            const std::string bigDst = base + "/big-dst";
            std::printf("making %d files of %ld MB ...\n", settings.bigFiles,
                        settings.bigMegabytes);
            std::fflush(stdout);
            makeBigFiles(bigSrc, settings.bigFiles, settings.bigMegabytes);
            syncDisks();
            Times big;
            for (int round = 0; round < settings.rounds; ++round) {
                fs::remove_all(bigDst);
                fs::create_directories(bigDst);
                syncDisks();
                big.ours.push_back(timed({kelvane, "check", bigSrc, bigDst, "--copy"}));
                fs::remove_all(bigDst);
                fs::create_directories(bigDst);
                syncDisks();
                big.theirs.push_back(timed({"cp", "-a", bigSrc + "/.", bigDst + "/"}));
            }
            fs::remove_all(bigDst);
            std::snprintf(title, sizeof title,
                          "%d files of %ld MB into an empty target:", settings.bigFiles,
                          settings.bigMegabytes);
            report(title, "cp -a:", big);
        }
    } catch (const std::exception& error) {
        std::cerr << "copy_bench: " << error.what() << '\n';
        status = 1;
    }
    std::error_code ignored;
    fs::remove_all(base, ignored);
    return status;
}
