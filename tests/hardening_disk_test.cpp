// Failing disks: a target that fills up in the middle of a copy (injected
// through host's write hook everywhere, and on a real 1 MiB tmpfs when the
// tests may mount one), and settings and log on a full or read-only disk.
// What counts: the rows' "成功"/"失败", torrin's log lines, the bytes of every
// target file, and that no partial file is ever left under a target's name.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "grid/grid.h"
#include "hardening_support.h"
#include "host/encoding.h"
#include "host/fault_injection.h"
#include "host/fs.h"
#include "host/ini.h"
#include "host/progress.h"
#include "kelvane/copy/copy_engine.h"
#include "kelvane/inventory/folder_walk.h"
#include "support/skips.h"
#include "support/temp_folder.h"
#include "torrin/engine/rcopy.h"

namespace {

using testing_support::TempFolder;

// Every name in `folder`, hidden ones included, straight from the system.
std::vector<std::string> rawNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// Fills the disk holding `folder` until the system refuses another byte.
void fillUp(const std::string& folder) {
    std::ofstream out(folder + "/ballast", std::ios::binary);
    const std::string block(4096, 'b');
    while (out.write(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
}

class DiskFull : public ::testing::Test {
  protected:
    void SetUp() override {
        source_ = temp_.mkdir("s");
        target_ = temp_.mkdir("t");
        temp_.write("s/a", std::string(10000, 'a'));
        temp_.write("s/b", std::string(200000, 'B'));
        temp_.write("s/c", std::string(10000, 'c'));
        temp_.write("t/b", "old b, complete");
    }
    void TearDown() override { host::faults::setWriteFailureAfterBytesForTesting(-1); }

    kelvane::CopySummary kelvaneCopy(grid::Grid& list) {
        // One at a time: the injected full disk counts the bytes in copy order.
        return hardening::walkAndCopy(list, source_, target_, true, host::kListNormal, 1);
    }

    torrin::RunResult torrinCopy() {
        return hardening::torrinCopyAll(source_, target_, temp_ / "log.txt", 1);
    }

    std::string log() const { return host::gbkToUtf8(TempFolder::read(temp_ / "log.txt")); }

    TempFolder temp_;
    std::string source_;
    std::string target_;
};

std::vector<std::string> column(const grid::Grid& grid, const char* name) {
    std::vector<std::string> values;
    for (long row = 1; row <= grid.rowcount(); ++row)
        values.push_back(grid.getitemstring(row, name));
    return values;
}

TEST_F(DiskFull, KelvaneMarksTheCutCopyFailedAndKeepsTheOldTarget) {
    // "a" fits, "b" breaks off half-way, and the disk stays full for "c".
    host::faults::setWriteFailureAfterBytesForTesting(10000 + 100000, target_);
    grid::Grid list(grid::loadGridDefinition("htmd1"));
    const kelvane::CopySummary summary = kelvaneCopy(list);
    host::faults::setWriteFailureAfterBytesForTesting(-1);

    EXPECT_EQ(column(list, "md"), (std::vector<std::string>{"/a", "/b", "/c"}));
    EXPECT_EQ(column(list, "jg"), (std::vector<std::string>{"成功", "失败", "失败"}));
    EXPECT_EQ(summary.copied, 1);
    EXPECT_EQ(TempFolder::read(target_ + "/a"), std::string(10000, 'a'));
    EXPECT_EQ(TempFolder::read(target_ + "/b"), "old b, complete");
    EXPECT_EQ(rawNames(target_), (std::vector<std::string>{"a", "b"}));

    // With room again the same list copies completely.
    grid::Grid again(grid::loadGridDefinition("htmd1"));
    EXPECT_EQ(kelvaneCopy(again).failed, 0);
    EXPECT_EQ(TempFolder::read(target_ + "/b"), std::string(200000, 'B'));
    EXPECT_EQ(rawNames(target_), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(DiskFull, TorrinLogsEveryCutCopyAndKeepsTheOldTarget) {
    host::faults::setWriteFailureAfterBytesForTesting(10000 + 100000, target_);
    const torrin::RunResult result = torrinCopy();
    host::faults::setWriteFailureAfterBytesForTesting(-1);

    EXPECT_EQ(result.cgcs, 1);
    EXPECT_EQ(result.cccs, 2);
    const std::string text = log();
    EXPECT_NE(text.find("以下文件复制出错:\r\n" + source_ + "/b: No space left on device\r\n" +
                        source_ + "/c: No space left on device\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("复制文件部分成功。成功数：1；失败数:2\r\n"), std::string::npos) << text;
    EXPECT_EQ(TempFolder::read(target_ + "/b"), "old b, complete");
    EXPECT_EQ(rawNames(target_), (std::vector<std::string>{"a", "b"}));

    const torrin::RunResult again = torrinCopy();
    EXPECT_EQ(again.cccs, 0) << log();
    EXPECT_EQ(TempFolder::read(target_ + "/b"), std::string(200000, 'B'));
    EXPECT_EQ(rawNames(target_), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(DiskFull, SettingsAreNeverHalfWritten) {
    const std::string profile = temp_.write("confi9.ini", "[other]\r\nfdt=2020-01-01 00:00:00\r\n");
    host::faults::setWriteFailureAfterBytesForTesting(10, temp_.path());
    host::IniFile file(profile);
    file.write("other", "fdt", "2030-06-06 06:06:06");
    file.write("other", "mpath", std::string(5000, 'm'));
    EXPECT_FALSE(file.save());
    EXPECT_FALSE(host::iniWrite(profile, "other", "fdt", "2031-01-01 00:00:00"));
    host::faults::setWriteFailureAfterBytesForTesting(-1);
    EXPECT_EQ(TempFolder::read(profile), "[other]\r\nfdt=2020-01-01 00:00:00\r\n");
    EXPECT_EQ(rawNames(temp_.path()), (std::vector<std::string>{"confi9.ini", "s", "t"}));
}

// A real file system that fills up: the big file's copy fails, its space comes
// back, and the small file after it is copied.
class SmallTarget : public DiskFull {
  protected:
    void SetUp() override {
        source_ = temp_.mkdir("s");
        target_ = temp_.mkdir("t");
        disk_ = std::make_unique<hardening::SmallDisk>(target_, 1024);
        if (!disk_->mounted())
            GTEST_SKIP() << testing_support::kSkipMountForbidden << "no small disk, "
                         << disk_->reason();
        temp_.write("s/a", std::string(100000, 'a'));
        temp_.write("s/big", std::string(3000000, 'B'));
        temp_.write("s/c", std::string(100000, 'c'));
        temp_.write("t/big", "old big, complete");
    }
    void TearDown() override { disk_.reset(); }

    std::unique_ptr<hardening::SmallDisk> disk_;
};

TEST_F(SmallTarget, KelvaneFailsTheFileThatDoesNotFitAndCopiesTheNext) {
    grid::Grid list(grid::loadGridDefinition("htmd1"));
    kelvaneCopy(list);
    EXPECT_EQ(column(list, "jg"), (std::vector<std::string>{"成功", "失败", "成功"}));
    EXPECT_EQ(TempFolder::read(target_ + "/big"), "old big, complete");
    EXPECT_EQ(TempFolder::read(target_ + "/c"), std::string(100000, 'c'));
    EXPECT_EQ(rawNames(target_), (std::vector<std::string>{"a", "big", "c"}));
}

TEST_F(SmallTarget, TorrinLogsTheFileThatDoesNotFitAndCopiesTheNext) {
    const torrin::RunResult result = torrinCopy();
    EXPECT_EQ(result.cgcs, 2);
    EXPECT_EQ(result.cccs, 1);
    EXPECT_NE(log().find("以下文件复制出错:\r\n" + source_ + "/big: No space left on device\r\n"),
              std::string::npos)
        << log();
    EXPECT_EQ(TempFolder::read(target_ + "/big"), "old big, complete");
    EXPECT_EQ(rawNames(target_), (std::vector<std::string>{"a", "big", "c"}));
}

// torrin's settings and log live in its working folder. On a full or
// read-only disk the settings file stays whole. A run that keeps no records
// still copies; one that keeps its journal there, as the programs' runs do,
// copies nothing: after a kill it could not tell what it had copied.
class SettingsDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        ::chmod(temp_.path().c_str(), 0755);
        app_ = temp_.mkdir("app");
        source_ = temp_.mkdir("s");
        target_ = temp_.mkdir("t");
        temp_.write("s/one", "1");
        temp_.write("s/two", "2");
    }

    torrin::RunDescription run() const {
        torrin::RunDescription run;
        run.sourceFolders = {source_};
        run.target = target_;
        run.threshold = "2000-01-01 00:00:00";
        run.replace = true;
        run.logfile = app_ + "/log.txt";
        run.profile = app_ + "/confi9.ini";
        return run;
    }

    static constexpr const char* kProfile = "[other]\r\nfdt=2000-01-01 00:00:00\r\nmpath=x\r\n";

    TempFolder temp_;
    std::string app_;
    std::string source_;
    std::string target_;
};

TEST_F(SettingsDisk, ReadOnlyFolderStillCopiesAndKeepsTheSettings) {
    temp_.write("app/confi9.ini", kProfile);
    hardening::giveToNobody(temp_.path());
    const std::string report = hardening::runUnprivileged([&]() -> std::string {
        ::chmod(app_.c_str(), 0555);
        host::NullProgress quiet;
        const torrin::RunResult result = torrin::rcopy(run(), quiet);
        return std::to_string(result.cgcs) + "/" + std::to_string(result.cccs);
    });
    EXPECT_EQ(report, "2/0");
    EXPECT_EQ(TempFolder::read(app_ + "/confi9.ini"), kProfile);
    EXPECT_EQ(TempFolder::read(target_ + "/two"), "2");
    EXPECT_EQ(rawNames(app_), (std::vector<std::string>{"confi9.ini"}));
}

TEST_F(SettingsDisk, FullDiskStillCopiesAndKeepsTheSettings) {
    hardening::SmallDisk disk(app_, 64);
    if (!disk.mounted())
        GTEST_SKIP() << testing_support::kSkipMountForbidden << "no small disk, " << disk.reason();
    temp_.write("app/confi9.ini", kProfile);
    fillUp(app_);
    host::NullProgress quiet;
    torrin::RunDescription journaled = run();
    journaled.journal = app_ + "/confi9.journal";
    const torrin::RunResult refused = torrin::rcopy(journaled, quiet);
    EXPECT_NE(refused.refusal, "");
    EXPECT_EQ(refused.cgcs + refused.cccs, 0);
    EXPECT_FALSE(std::filesystem::exists(target_ + "/one"));
    const torrin::RunResult result = torrin::rcopy(run(), quiet);
    EXPECT_EQ(result.cgcs, 2);
    EXPECT_EQ(TempFolder::read(app_ + "/confi9.ini"), kProfile);
    EXPECT_EQ(TempFolder::read(target_ + "/one"), "1");
    EXPECT_EQ(rawNames(app_), (std::vector<std::string>{"ballast", "confi9.ini", "log.txt"}));
}

#ifdef TORRIN_PROGRAM
// The program itself started in a read-only working folder can keep neither
// its lock, its journal nor its threshold: it copies nothing, says so on
// standard error and ends with status 2, where it used to report success
// while its threshold never moved.
TEST_F(SettingsDisk, UnattendedProgramRefusesAReadOnlyFolder) {
    temp_.write("app/confi9.ini", "[other]\r\nfdt=2000-01-01 00:00:00\r\nmpath=" + target_ +
                                      "\r\nypath1=" + source_ + "\r\nsfth=y\r\nqmljg=n\r\n");
    const std::string before = TempFolder::read(app_ + "/confi9.ini");
    // A copy of the program nobody can reach, wherever the build folder lies.
    const std::string program = temp_ / "torrin";
    std::filesystem::copy_file(TORRIN_PROGRAM, program);
    hardening::giveToNobody(temp_.path());
    const std::string report = hardening::runUnprivileged([&]() -> std::string {
        ::chmod(app_.c_str(), 0555);
        const std::string command = "cd '" + app_ + "' && '" + program + "' exit 2>&1";
        std::string output;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[512];
            while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
                output.append(buffer, got);
            const int status = ::pclose(pipe);
            return (WIFEXITED(status) ? std::to_string(WEXITSTATUS(status)) : "killed") + " " +
                   output.substr(0, output.find(':'));
        }
        return std::string("no pipe");
    });
    EXPECT_EQ(report, "2 torrin");
    EXPECT_FALSE(std::filesystem::exists(target_ + "/one"));
    EXPECT_EQ(TempFolder::read(app_ + "/confi9.ini"), before);
}
#endif

}  // namespace
