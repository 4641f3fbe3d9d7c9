// Copies killed in the middle of a file's data (by the copy's own kill
// switch, so the moment is always the same): every target file is afterwards
// the old complete file or the new complete file. With nameless temporary
// files nothing at all is left; with named ones (ZARVIK_TEST_NAMED_TEMPORARIES)
// the half-written leftovers (one per worker at most) are never listed by the
// walks, and the next copy of the same target removes them.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "grid/grid.h"
#include "hardening_support.h"
#include "host/fault_injection.h"
#include "host/fs.h"
#include "host/progress.h"
#include "kelvane/copy/copy_engine.h"
#include "kelvane/inventory/folder_walk.h"
#include "support/temp_folder.h"
#include "torrin/engine/rcopy.h"

namespace {

using testing_support::TempFolder;

const bool memoryTemporaryFolders = hardening::preferMemoryTemporaryFolders();

constexpr int kFiles = 12;
constexpr std::size_t kFileSize = 1 << 20;

// Quicker than reading through stream iterators, for files of megabytes.
std::string readAll(const std::string& path) {
    return host::readFile(path).value_or("<unreadable>");
}

std::vector<std::string> temporaryNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        if (host::isTemporaryName(entry->d_name)) names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

const bool namedTemporaries = [] {
    const char* value = std::getenv("ZARVIK_TEST_NAMED_TEMPORARIES");
    return value && *value && std::string(value) != "0";
}();

// Where the copy stops: in the middle of the first file's data.
constexpr long long kKillAfter = kFileSize / 2 + 3;

// Runs `body` in a child whose copies kill it after kKillAfter bytes of a
// file; true when it was the switch that ended it.
bool killedMidWrite(const std::function<void()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        host::faults::setKillCopyAfterBytesForTesting(kKillAfter);
        ::setenv("ZARVIK_TEST_KILL_COPY_AFTER", std::to_string(kKillAfter).c_str(), 1);
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

std::string content(char fill, int index) {
    std::string bytes(kFileSize, fill);
    bytes.replace(0, std::to_string(index).size(), std::to_string(index));
    return bytes;
}

class KilledCopy : public ::testing::Test {
  protected:
    void SetUp() override {
        source_ = temp_.mkdir("s");
        target_ = temp_.mkdir("t");
        for (int i = 0; i < kFiles; ++i) {
            temp_.write("s/f" + std::to_string(i), content('N', i));
            temp_.write("t/f" + std::to_string(i), content('o', i));
        }
    }

    void kelvaneCopy() {
        grid::Grid list(grid::loadGridDefinition("htmd1"));
        hardening::walkAndCopy(list, source_, target_, true);
    }

    void torrinCopy() { hardening::torrinCopyAll(source_, target_, temp_ / "log.txt"); }

    // Every target is the old or the new file in full; the walks list the
    // targets and nothing else. What is left of the killed copy: nothing
    // with nameless files, else one temporary file that stopped mid-data.
    void expectWholeFilesAfterTheKill() {
        for (int i = 0; i < kFiles; ++i) {
            const std::string bytes = readAll(target_ + "/f" + std::to_string(i));
            EXPECT_TRUE(bytes == content('o', i) || bytes == content('N', i))
                << "f" << i << " holds " << bytes.size() << " bytes";
        }
        grid::Grid grid(grid::loadGridDefinition("htmd2"));
        host::NullProgress quiet;
        kelvane::WalkOptions everything;
        everything.mask = host::kListEverything;
        kelvane::walkFolder(grid, target_, target_, everything, quiet);
        EXPECT_EQ(grid.rowcount(), kFiles);
        const auto leftovers = temporaryNames(target_);
        if (!namedTemporaries) {
            EXPECT_TRUE(leftovers.empty());
            return;
        }
        expectKilledTemporaries(leftovers);
    }

    // One temporary file per copy under way when the kill came: one per
    // worker at most, the one that met the switch cut exactly there.
    void expectKilledTemporaries(const std::vector<std::string>& leftovers) {
        ASSERT_GE(leftovers.size(), 1u);
        EXPECT_LE(leftovers.size(), static_cast<std::size_t>(common::kDefaultWorkers));
        long long longest = 0;
        for (const std::string& name : leftovers)
            longest =
                std::max<long long>(longest, host::fileLength(target_ + "/" + name).value_or(-1));
        EXPECT_EQ(longest, kKillAfter);
    }

    void expectNewFilesAndNoLeftovers() {
        for (int i = 0; i < kFiles; ++i)
            EXPECT_EQ(readAll(target_ + "/f" + std::to_string(i)), content('N', i));
        EXPECT_TRUE(temporaryNames(target_).empty());
    }

    TempFolder temp_;
    std::string source_;
    std::string target_;
};

TEST_F(KilledCopy, KelvaneCopyLeavesOldOrNewFilesAndTheNextCopyCleansUp) {
    ASSERT_TRUE(killedMidWrite([&] { kelvaneCopy(); }));
    expectWholeFilesAfterTheKill();
    EXPECT_EQ(readAll(target_ + "/f0"), content('o', 0));
    kelvaneCopy();
    expectNewFilesAndNoLeftovers();
}

TEST_F(KilledCopy, TorrinRunLeavesOldOrNewFilesAndTheNextRunCleansUp) {
    ASSERT_TRUE(killedMidWrite([&] { torrinCopy(); }));
    expectWholeFilesAfterTheKill();
    torrinCopy();
    expectNewFilesAndNoLeftovers();
}

#ifdef KELVANE_PROGRAM
// The command line killed during --copy: the names it had not reached are
// simply missing, the others are complete; the next run completes the copy.
TEST_F(KilledCopy, CommandLineCopyKilledThenRunAgain) {
    for (int i = 0; i < kFiles; ++i) std::filesystem::remove(target_ + "/f" + std::to_string(i));
    auto runProgram = [&] {
        if (!std::freopen("/dev/null", "w", stdout)) return;
        ::execl(KELVANE_PROGRAM, KELVANE_PROGRAM, "check", source_.c_str(), target_.c_str(),
                "--copy", static_cast<char*>(nullptr));
    };
    ASSERT_TRUE(killedMidWrite(runProgram));
    EXPECT_FALSE(std::filesystem::exists(target_ + "/f0"));
    if (namedTemporaries)
        expectKilledTemporaries(temporaryNames(target_));
    else
        EXPECT_TRUE(temporaryNames(target_).empty());
    const pid_t child = ::fork();
    if (child == 0) {
        runProgram();
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    expectNewFilesAndNoLeftovers();
}
#endif

}  // namespace
