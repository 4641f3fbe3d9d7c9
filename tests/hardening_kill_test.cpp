// Copies killed (SIGKILL) at a random moment while they write: every target
// file is afterwards the old complete file or the new complete file, a
// leftover temporary file is never listed by the walks, and the next copy of
// the same target removes it.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hardening_support.h"
#include "host/fs.h"
#include "host/grid.h"
#include "host/progress.h"
#include "kelvane/copy/copy_engine.h"
#include "kelvane/inventory/folder_walk.h"
#include "support/temp_folder.h"
#include "torrin/engine/rcopy.h"

namespace {

using testing_support::TempFolder;

const bool memoryTemporaryFolders = hardening::preferMemoryTemporaryFolders();

constexpr int kFiles = 12;
constexpr std::size_t kFileSize = 4 << 20;

// Quicker than reading through stream iterators, for files of megabytes.
std::string readAll(const std::string& path) {
    return host::readFile(path).value_or("<unreadable>");
}

std::vector<std::string> temporaryNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        if (host::isCopyTemporaryName(entry->d_name)) names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

// Starts `body` in a child and kills it a random moment after it first has a
// temporary file in `target`, or when it has ended. True when it was killed.
bool killWhileWriting(const std::function<void()>& body, const std::string& target, unsigned seed) {
    const pid_t child = ::fork();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    std::mt19937 random(seed);
    bool killed = false;
    for (int wait = 0; wait < 200000; ++wait) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) return false;
        if (!temporaryNames(target).empty()) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
            ::kill(child, SIGKILL);
            killed = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    if (!killed) ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return true;
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
        host::Grid list(host::loadGridDefinition("htmd1"));
        hardening::walkAndCopy(list, source_, target_, true);
    }

    void torrinCopy() { hardening::torrinCopyAll(source_, target_, temp_ / "log.txt"); }

    // Every target is the old or the new file in full; the walks list the
    // targets and nothing else.
    void expectWholeFiles() {
        for (int i = 0; i < kFiles; ++i) {
            const std::string bytes = readAll(target_ + "/f" + std::to_string(i));
            EXPECT_TRUE(bytes == content('o', i) || bytes == content('N', i))
                << "f" << i << " holds " << bytes.size() << " bytes";
        }
        host::Grid grid(host::loadGridDefinition("htmd2"));
        host::NullProgress quiet;
        kelvane::WalkOptions everything;
        everything.mask = host::kListEverything;
        kelvane::walkFolder(grid, target_, target_, everything, quiet);
        EXPECT_EQ(grid.rowcount(), kFiles);
        for (long row = 1; row <= grid.rowcount(); ++row)
            EXPECT_FALSE(grid.getitemstring(row, "md").ends_with(".partial"));
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
    int leftovers = 0;
    for (unsigned round = 0; round < 4; ++round) {
        ASSERT_TRUE(killWhileWriting([&] { kelvaneCopy(); }, target_, round * 7919u))
            << "the copy ended before a temporary file was seen";
        expectWholeFiles();
        leftovers += static_cast<int>(temporaryNames(target_).size());
        for (int i = 0; i < kFiles; ++i)  // the old files back for the next round
            temp_.write("t/f" + std::to_string(i), content('o', i));
    }
    EXPECT_GT(leftovers, 0) << "no kill landed during a write";
    kelvaneCopy();
    expectNewFilesAndNoLeftovers();
}

TEST_F(KilledCopy, TorrinRunLeavesOldOrNewFilesAndTheNextRunCleansUp) {
    for (unsigned round = 0; round < 4; ++round) {
        ASSERT_TRUE(killWhileWriting([&] { torrinCopy(); }, target_, round * 104729u + 1));
        expectWholeFiles();
    }
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
    ASSERT_TRUE(killWhileWriting(runProgram, target_, 4242));
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = target_ + "/f" + std::to_string(i);
        if (std::filesystem::exists(path)) {
            EXPECT_EQ(readAll(path), content('N', i));
        }
    }
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
