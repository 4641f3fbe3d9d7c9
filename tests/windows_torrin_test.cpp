// torrin's copy run on Windows folders: the attribute mask, numbered copies,
// the full structure below a drive, and the log's GBK bytes with "\" paths.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host/clock.h"
#include "host/encoding.h"
#include "host/fs.h"
#include "host/ini.h"
#include "host/progress.h"
#include "tests/support/windows_temp_folder.h"
#include "torrin/engine/rcopy.h"
#include "torrin/engine/run_records.h"

namespace {

using testing_support::WindowsTempFolder;

constexpr std::time_t kRunMoment = 2214555630;  // 2040-03-05 10:20:30 UTC

std::string gbkLines(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& line : lines) bytes += host::utf8ToGbk(line) + "\r\n";
    return bytes;
}

class WindowsCopyRun : public ::testing::Test {
  protected:
    WindowsCopyRun() : clock_(kRunMoment), scoped_(clock_) {
        source_ = temp_.mkdir("数据\\src");
        target_ = temp_.mkdir("备份");
        run_.sourceFolders = {source_};
        run_.target = target_;
        // Every file made now is newer, by its creation and its last write.
        run_.threshold = "2001-01-01 00:00:00";
        run_.logfile = temp_ / "log.txt";
        run_.profile = temp_ / "confi9.ini";
        run_.mask = host::kListNormal;
    }
    torrin::RunResult runCopy() { return torrin::rcopy(run_, progress_); }
    std::string startLine() const { return "开始时间:" + host::localTimeText(kRunMoment - 1); }
    std::string thresholdLine() const {
        return "copy源文件修改日期（或创建日期）大于:" + run_.threshold;
    }
    std::string endLine() const { return "结束时间:" + host::localTimeText(kRunMoment); }

    WindowsTempFolder temp_;
    host::FixedClock clock_;
    host::ScopedClock scoped_;
    host::NullProgress progress_;
    std::string source_;
    std::string target_;
    torrin::RunDescription run_;
};

TEST_F(WindowsCopyRun, MaskSixteenLeavesHiddenAndSystemFilesAndFoldersBehind) {
    temp_.write("数据\\src\\a.txt", "a");
    temp_.write("数据\\src\\只读.txt", "r", FILE_ATTRIBUTE_READONLY);
    temp_.write("数据\\src\\h.txt", "h", FILE_ATTRIBUTE_HIDDEN);
    temp_.write("数据\\src\\s.txt", "s", FILE_ATTRIBUTE_SYSTEM);
    temp_.mkdir("数据\\src\\secret", FILE_ATTRIBUTE_HIDDEN);
    temp_.write("数据\\src\\secret\\x.txt", "x");
    const auto result = runCopy();
    EXPECT_EQ(result.cgcs, 2);
    EXPECT_EQ(result.cccs, 0);
    EXPECT_TRUE(host::fileExists(target_ + "\\a.txt"));
    EXPECT_TRUE(host::fileExists(target_ + "\\只读.txt"));
    EXPECT_FALSE(host::fileExists(target_ + "\\h.txt"));
    EXPECT_FALSE(host::fileExists(target_ + "\\s.txt"));
    EXPECT_FALSE(host::folderExists(target_ + "\\secret"));
}

TEST_F(WindowsCopyRun, MaskFiftyFiveCopiesThemWithTheirAttributes) {
    run_.mask = host::kListEverything;
    temp_.write("数据\\src\\h.txt", "h", FILE_ATTRIBUTE_HIDDEN);
    temp_.mkdir("数据\\src\\secret", FILE_ATTRIBUTE_HIDDEN);
    temp_.write("数据\\src\\secret\\x.txt", "x", FILE_ATTRIBUTE_SYSTEM);
    const auto result = runCopy();
    EXPECT_EQ(result.cgcs, 2);
    EXPECT_TRUE(WindowsTempFolder::attributes(target_ + "\\h.txt") & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(WindowsTempFolder::attributes(target_ + "\\secret\\x.txt") & FILE_ATTRIBUTE_SYSTEM);
}

// A file or a folder moved in keeps its old times; the change time the
// move gave it (NTFS keeps one) makes it count, and its copy is made.
TEST_F(WindowsCopyRun, FilesAndFoldersMovedInAreCopied) {
    const FILETIME old = testing_support::utcFileTime(2000, 1, 1, 0, 0, 0);
    for (const char* name : {"elsewhere\\moved.txt", "elsewhere\\tree\\deep\\old.txt"}) {
        const std::string file = temp_.write(name, "old bytes");
        ASSERT_TRUE(WindowsTempFolder::setTimes(file, &old, &old));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    run_.threshold = host::localTimeText(std::time(nullptr));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    std::filesystem::rename(std::filesystem::u8path(temp_ / "elsewhere\\moved.txt"),
                            std::filesystem::u8path(source_ + "\\moved.txt"));
    std::filesystem::rename(std::filesystem::u8path(temp_ / "elsewhere\\tree"),
                            std::filesystem::u8path(source_ + "\\tree"));
    EXPECT_EQ(runCopy().cgcs, 2);
    EXPECT_EQ(WindowsTempFolder::read(target_ + "\\moved.txt"), "old bytes");
    EXPECT_EQ(WindowsTempFolder::read(target_ + "\\tree\\deep\\old.txt"), "old bytes");
}

TEST_F(WindowsCopyRun, WithoutReplaceTheCopyTakesTheNextNumberedName) {
    // A Chinese target: the free-name search must read the names as UTF-8,
    // not in the ANSI code page.
    temp_.write("数据\\src\\x.doc", "new");
    temp_.write("备份\\x.doc", "old");
    temp_.write("备份\\0x.doc", "older");
    runCopy();
    EXPECT_EQ(WindowsTempFolder::read(target_ + "\\x.doc"), "old");
    EXPECT_EQ(WindowsTempFolder::read(target_ + "\\0x.doc"), "older");
    EXPECT_EQ(WindowsTempFolder::read(target_ + "\\1x.doc"), "new");
}

TEST_F(WindowsCopyRun, WithReplaceTheSameNameIsOverwritten) {
    run_.replace = true;
    temp_.write("数据\\src\\x.doc", "new");
    temp_.write("备份\\x.doc", "old");
    runCopy();
    EXPECT_EQ(WindowsTempFolder::read(target_ + "\\x.doc"), "new");
    EXPECT_FALSE(host::fileExists(target_ + "\\0x.doc"));
}

TEST_F(WindowsCopyRun, FullStructureDropsOnlyTheDrive) {
    run_.fullStructure = true;
    temp_.write("数据\\src\\a\\b.txt", "b");
    runCopy();
    ASSERT_EQ(source_[1], ':');
    // "C:\...\数据\src" + "\a\b.txt" below the target, drive letter and colon dropped.
    EXPECT_TRUE(host::fileExists(target_ + source_.substr(2) + "\\a\\b.txt"))
        << target_ + source_.substr(2);
}

TEST_F(WindowsCopyRun, ASourceWrittenWithSlashesCopiesUnderFullStructure) {
    run_.fullStructure = true;
    temp_.write("数据\\src\\a\\b.txt", "b");
    std::string slashed = source_;
    for (char& c : slashed)
        if (c == '\\') c = '/';
    run_.sourceFolders = {slashed};
    const torrin::RunResult result = runCopy();
    EXPECT_EQ(result.cgcs, 1);
    EXPECT_EQ(result.cccs, 0);
    EXPECT_EQ(WindowsTempFolder::read(target_ + source_.substr(2) + "\\a\\b.txt"), "b");
}

TEST_F(WindowsCopyRun, TheLogIsGbkWithCrLfAndBackslashPaths) {
    run_.replace = true;
    temp_.write("数据\\src\\好.txt", "a");
    temp_.write("数据\\src\\坏.txt", "b");
    temp_.mkdir("备份\\坏.txt");  // a folder where the copy would go
    const auto result = runCopy();
    EXPECT_EQ(result.cgcs, 1);
    EXPECT_EQ(result.cccs, 1);
    // The failure's line is the path, then why: the system's words.
    const std::string log = WindowsTempFolder::read(run_.logfile);
    const std::string failed =
        gbkLines({startLine(), thresholdLine(), "以下文件复制出错:"}) +
        host::utf8ToGbk(source_ + "\\坏.txt: cannot rename to \"" + target_ + "\\坏.txt\": ");
    EXPECT_TRUE(log.starts_with(failed)) << log;
    EXPECT_TRUE(log.ends_with(gbkLines({"复制文件部分成功。成功数：1；失败数:1", endLine()})))
        << log;
    EXPECT_EQ(host::iniRead(run_.profile, "other", "fdt", ""), host::localTimeText(kRunMoment - 1));
}

// A run that finds the journal of an interrupted one continues it: a copy
// already in place counts as copied, the name of one never made is taken
// again, and no numbered duplicate appears. Its own records are gone after.
TEST_F(WindowsCopyRun, AJournalOfTheSameRunIsContinued) {
    const std::string a = temp_.write("数据\\src\\a.txt", "new a");
    const std::string b = temp_.write("数据\\src\\b.txt", "new b");
    temp_.write("备份\\a.txt", "old a");
    ASSERT_TRUE(host::copyFileSafely(a, target_ + "\\0a.txt", false));
    run_.fullStructure = false;
    run_.journal = temp_ / "confi9.journal";
    run_.retryList = temp_ / "confi9.retry";
    temp_.write("confi9.journal",
                torrin::journalHeaderText({target_, run_.threshold, false, {source_}}) +
                    torrin::journalEntryText({a, "0a.txt", std::nullopt}) +
                    torrin::journalEntryText({b, "0b.txt", std::nullopt}));
    const torrin::RunResult result = runCopy();
    EXPECT_TRUE(result.resumed);
    EXPECT_EQ(result.cgcs, 2);
    EXPECT_EQ(WindowsTempFolder::read(target_ + "\\0a.txt"), "new a");
    EXPECT_EQ(WindowsTempFolder::read(target_ + "\\0b.txt"), "new b");
    EXPECT_FALSE(host::fileExists(target_ + "\\1a.txt"));
    EXPECT_FALSE(host::fileExists(target_ + "\\b.txt"));
    EXPECT_FALSE(host::fileExists(run_.journal));
    EXPECT_EQ(host::iniRead(run_.profile, "other", "fdt", ""), host::localTimeText(kRunMoment - 1));
}

}  // namespace
