// torrin's start-up: the "exit" rule, the checks before an unattended run with
// their log entries, the unattended run (also as the built program with no
// display), its exit status, and the error report.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "host/clock.h"
#include "host/desktop.h"
#include "host/encoding.h"
#include "host/fault_injection.h"
#include "host/ini.h"
#include "support/temp_folder.h"
#include "torrin/torapp.h"

using testing_support::TempFolder;

namespace {

std::string gbk(const std::string& utf8) {
    return host::utf8ToGbk(utf8);
}

TEST(TorrinCommandLine, ExitTrimmedExactAndCaseSensitiveStartsUnattended) {
    EXPECT_TRUE(torrin::isUnattended("exit"));
    EXPECT_TRUE(torrin::isUnattended("  exit  "));
    EXPECT_TRUE(torrin::isUnattended("\texit"));
    EXPECT_FALSE(torrin::isUnattended(""));
    EXPECT_FALSE(torrin::isUnattended("EXIT"));
    EXPECT_FALSE(torrin::isUnattended("Exit"));
    EXPECT_FALSE(torrin::isUnattended("exit now"));
    EXPECT_FALSE(torrin::isUnattended("exits"));
    EXPECT_FALSE(torrin::isUnattended("/exit"));
}

TEST(TorrinCommandLine, ArgumentsFormOneTextSoAFurtherWordCounts) {
    const char* alone[] = {"torrin", " exit "};
    EXPECT_TRUE(torrin::isUnattended(torrin::commandLineText(2, alone)));
    const char* twoWords[] = {"torrin", "exit", "now"};
    EXPECT_EQ(torrin::commandLineText(3, twoWords), "exit now");
    EXPECT_FALSE(torrin::isUnattended(torrin::commandLineText(3, twoWords)));
    const char* none[] = {"torrin"};
    EXPECT_FALSE(torrin::isUnattended(torrin::commandLineText(1, none)));
}

TEST(TorrinErrorReport, FiveLinesWithTheDescriptionOfTheNumber) {
    EXPECT_EQ(torrin::errorReportText({32, "w_copy", "clicked", 12}),
              "错误编号：32\r\n出错对象：w_copy\r\n出错事件：clicked\r\n出错行数：12\r\n"
              "错误信息：调用外部对象函数时，未找到函数名\r\n");
    EXPECT_EQ(torrin::errorDescription(33), "调用外部对象函数时，参数类型不合法");
    EXPECT_EQ(torrin::errorDescription(34), "调用外部对象函数时，使用不正确的参数个数");
    EXPECT_EQ(torrin::errorDescription(35), "错误调用外部对象函数");
    EXPECT_EQ(torrin::errorDescription(31), "未知错误");
    EXPECT_EQ(torrin::errorDescription(36), "未知错误");
}

TEST(TorrinErrorReport, AnExceptionKeepsTheLayoutAndAddsItsText) {
    std::exception_ptr error = std::make_exception_ptr(std::runtime_error("no memory"));
    EXPECT_EQ(torrin::unexpectedErrorText("w_copy", "cb_1.clicked", error),
              "错误编号：0\r\n出错对象：w_copy\r\n出错事件：cb_1.clicked\r\n出错行数：0\r\n"
              "错误信息：未知错误\r\nno memory\r\n");
    EXPECT_EQ(torrin::unexpectedErrorText("torapp", "exit", std::make_exception_ptr(42)),
              torrin::errorReportText({0, "torapp", "exit", 0}));
}

TEST(TorrinDesktop, FolderOpensInTheFileManagerWithoutPassingAnOption) {
    const host::ProgramStart opener = host::folderOpener("/bak/目标");
    EXPECT_EQ(opener.program, "xdg-open");
    EXPECT_EQ(opener.args, std::vector<std::string>{"/bak/目标"});
    EXPECT_EQ(host::folderOpener("-x").args, std::vector<std::string>{"./-x"});
}

// An unattended start in a fresh working folder with a source tree, a target
// and a fixed clock (so the log's time lines are known).
class UnattendedRun : public ::testing::Test {
  protected:
    UnattendedRun() : app(folder.path()) {
        folder.mkdir("target");
        std::tm when{};
        when.tm_year = 2024 - 1900;
        when.tm_mon = 4;
        when.tm_mday = 6;
        when.tm_hour = 7;
        when.tm_min = 8;
        when.tm_sec = 9;
        when.tm_isdst = -1;
        clock.set(std::mktime(&when));
    }
    void writeProfile(const std::string& utf8Text) { folder.write("confi9.ini", gbk(utf8Text)); }
    std::string validProfile() const {
        return "[other]\r\nmpath=" + (folder / "target") + "\r\nfdt=2001-01-01 00:00:00\r\n" +
               "ypath1=" + (folder / "src") + "\r\nsfth=y\r\nqmljg=n\r\n";
    }
    std::string log() const { return TempFolder::read(app.logfile()); }
    int run() {
        std::ostringstream errors;
        const int status = torrin::runUnattended(app, errors);
        errorText = errors.str();
        return status;
    }

    TempFolder folder;
    torrin::torapp app;
    host::FixedClock clock{0};
    host::ScopedClock useClock{clock};
    std::string errorText;
};

// Started in a folder without settings (a cron line that starts elsewhere):
// one line naming the folder, and no file left there, a dry run likewise.
TEST_F(UnattendedRun, WithoutSettingsSaysSoAndLeavesNoFile) {
    folder.write("src/a.txt", "a");
    const auto before = std::distance(std::filesystem::directory_iterator(folder.path()), {});
    EXPECT_EQ(run(), torrin::kExitCheckFailed);
    const std::string line = "torrin: the run did not start: there is no confi9.ini in " +
                             folder.path() + " (start torrin in the folder of its settings)\n";
    EXPECT_EQ(errorText, line);
    std::ostringstream planned, errors;
    EXPECT_EQ(torrin::runDryRun(app, planned, errors), torrin::kExitCheckFailed);
    EXPECT_EQ(errors.str(), line);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), before);
}

TEST_F(UnattendedRun, ChecksComeInOrderThresholdSourcesTarget) {
    // Everything wrong: the threshold is reported.
    writeProfile("[other]\r\nmpath=/no/such/folder\r\nfdt=2024-01-01 12:\r\n");
    EXPECT_EQ(run(), torrin::kExitCheckFailed);
    EXPECT_EQ(log(), gbk("开始时间:2024-05-06 07:08:09\r\n"
                         "文件复制条件，修改（创建）日期或时间错误，错误为：2024-01-01 12:\r\n"));

    // Threshold fixed, no source folder and no target: the empty list.
    writeProfile("[other]\r\nmpath=/no/such/folder\r\nfdt=2024-01-01 12:00:00\r\n");
    EXPECT_EQ(run(), torrin::kExitCheckFailed);
    EXPECT_TRUE(log().ends_with(gbk("\r\n开始时间:2024-05-06 07:08:09\r\n源文件夹列表为空\r\n")));

    // Sources given, the target missing.
    writeProfile(
        "[other]\r\nmpath=/no/such/folder\r\nfdt=2024-01-01 12:00:00\r\n"
        "ypath2=/a;/b;\r\n");
    EXPECT_EQ(run(), torrin::kExitCheckFailed);
    EXPECT_TRUE(log().ends_with(
        gbk("\r\n开始时间:2024-05-06 07:08:09\r\n目标文件夹不存在:/no/such/folder\r\n")));
    // Appended, never truncated: three entries of two lines.
    const std::string text = log();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
}

TEST_F(UnattendedRun, CopiesWithTheStoredOptionsAndReturnsZero) {
    folder.write("src/a.txt", "a");
    folder.write("src/sub/b.txt", "b");
    writeProfile(validProfile());
    EXPECT_EQ(run(), torrin::kExitAllCopied);
    // qmljg=n: the sub-directory structure.
    EXPECT_EQ(TempFolder::read(folder / "target/a.txt"), "a");
    EXPECT_EQ(TempFolder::read(folder / "target/sub/b.txt"), "b");
    EXPECT_TRUE(log().starts_with(gbk("开始时间:")));
    EXPECT_NE(log().find(gbk("成功复制全部应复制的文件数:2\r\n")), std::string::npos);
    EXPECT_EQ(errorText, "");
}

TEST_F(UnattendedRun, LeavesTheSettingsAsTheyWereExceptTheNewThreshold) {
    folder.write("src/a.txt", "a");
    // Values the window's close would rewrite: a lower-case-only option, a
    // single folder list in one key.
    const std::string profileText = validProfile() + "bkycwj=Y\r\nypath3=" + folder.mkdir("x") +
                                    ";" + folder.mkdir("y") + ";" + folder.mkdir("z") + ";\r\n";
    writeProfile(profileText);
    ASSERT_EQ(run(), torrin::kExitAllCopied);
    const std::string start = host::localTimeText(clock.now() - 1);
    std::string expected = gbk(profileText);
    expected.replace(expected.find("2001-01-01 00:00:00"), 19, start);
    EXPECT_EQ(TempFolder::read(app.profile()), expected);
    EXPECT_TRUE(log().starts_with(gbk("开始时间:" + start + "\r\n")));
}

TEST_F(UnattendedRun, TheVerifyKeyFailsACopyThatDoesNotReadBackAsWritten) {
    folder.write("src/a.txt", "a");
    folder.write("target/a.txt", "old");
    writeProfile(validProfile() + "verify=y\r\n");
    host::faults::setCorruptCopyForTesting(1);
    EXPECT_EQ(run(), torrin::kExitSomeFailed);
    host::faults::setCorruptCopyForTesting(0);
    EXPECT_EQ(TempFolder::read(folder / "target/a.txt"), "old");
    EXPECT_NE(log().find(gbk("复制文件全部失败，失败数:1")), std::string::npos);
    EXPECT_EQ(host::iniRead(app.profile(), "other", "verify", ""), "y");
}

TEST_F(UnattendedRun, AFailedCopyReturnsOne) {
    folder.write("src/sub/b.txt", "b");
    folder.write("src/c.txt", "c");
    // A file where the sub-folder should be created: that copy fails.
    folder.write("target/sub", "not a folder");
    writeProfile(validProfile());
    EXPECT_EQ(run(), torrin::kExitSomeFailed);
    EXPECT_NE(log().find(gbk("以下文件复制出错:\r\n" + (folder / "src/sub/b.txt") +
                             ": cannot create a file in \"" + (folder / "target/sub") +
                             "\": Not a directory\r\n")),
              std::string::npos);
    EXPECT_EQ(TempFolder::read(folder / "target/c.txt"), "c");
}

// What the log cannot hold, standard error says: the run still copies,
// lists its failures there and ends with 3, never with 0.
TEST_F(UnattendedRun, ALogThatCannotBeWrittenIsSaidOnStandardErrorWithThree) {
    folder.write("src/c.txt", "c");
    folder.write("target/sub", "not a folder");
    folder.write("src/sub/b.txt", "b");
    folder.mkdir("log.txt");  // even root cannot append to a folder
    writeProfile(validProfile());
    EXPECT_EQ(run(), torrin::kExitLogUnwritable);
    EXPECT_EQ(TempFolder::read(folder / "target/c.txt"), "c");
    EXPECT_NE(errorText.find("torrin: the log could not be written, so it lacks this run: "),
              std::string::npos)
        << errorText;
    EXPECT_NE(errorText.find(folder / "src/sub/b.txt"), std::string::npos) << errorText;
}

TEST_F(UnattendedRun, AnEmptySourceRowIsNotWalked) {
    // ";" stores one empty row: the list is not empty, but an empty folder
    // text must not walk the file system's root.
    writeProfile("[other]\r\nmpath=" + (folder / "target") +
                 "\r\nfdt=2001-01-01 00:00:00\r\nypath1=;\r\n");
    EXPECT_EQ(run(), torrin::kExitAllCopied);
    EXPECT_NE(log().find(gbk("成功复制全部应复制的文件数:0\r\n")), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(folder / "target"));
    EXPECT_EQ(torrin::foldersToWalk({"/a", "", " ", "/b"}, "/w"),
              (std::vector<std::string>{"/a", "/b"}));
}

TEST_F(UnattendedRun, ARelativeSourceIsTakenFromTheWorkingFolderAndNeverCopiedIntoItself) {
    folder.write("src/a.txt", "a");
    // Written relative to the start-up folder, with a ".." step: the full
    // structure is built from where the folder really is.
    writeProfile("[other]\r\nmpath=" + (folder / "target") +
                 "\r\nfdt=2001-01-01 00:00:00\r\nypath1=x/../src\r\nqmljg=y\r\n");
    EXPECT_EQ(run(), torrin::kExitAllCopied);
    EXPECT_EQ(TempFolder::read(folder / "target" + (folder / "src/a.txt")), "a");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "src"), {}), 1);
    EXPECT_NE(log().find(gbk("成功复制全部应复制的文件数:1\r\n")), std::string::npos);
    EXPECT_EQ(host::iniRead(app.profile(), "other", "ypath1", ""), "x/../src");
}

// A dry run shows what "exit" would copy and where, numbered names and the
// failures kept for retrying included, and changes nothing at all.
TEST_F(UnattendedRun, ADryRunListsTheCopiesAndTouchesNothing) {
    folder.write("src/a.txt", "a");
    folder.write("src/old/b.txt", "b");
    TempFolder::setModified(folder / "src/old/b.txt", 946684800);  // 2000
    folder.write("target/a.txt", "kept");
    writeProfile("[other]\r\nmpath=" + (folder / "target") +
                 "\r\nfdt=2001-01-01 00:00:00\r\nypath1=" + (folder / "src") +
                 "\r\nypath2=" + (folder / "src") + "\r\nsfth=n\r\nqmljg=n\r\n");
    folder.write("confi9.retry", "zarvik-torrin-retry 1\nfile\t" + (folder / "src") +
                                     "\told/b.txt\t1999-01-01 00:00:00\n");
    const auto before = std::filesystem::last_write_time(app.profile());
    std::ostringstream out, errors;
    EXPECT_EQ(torrin::runDryRun(app, out, errors), torrin::kExitAllCopied);
    EXPECT_EQ(out.str(), (folder / "src/old/b.txt") + "\t" + (folder / "target/old/b.txt") + "\n" +
                             (folder / "src/a.txt") + "\t" + (folder / "target/0a.txt") + "\n" +
                             (folder / "src/a.txt") + "\t" + (folder / "target/1a.txt") + "\n" +
                             "3 files would be copied\n");
    EXPECT_EQ(errors.str(), "");
    EXPECT_EQ(std::filesystem::last_write_time(app.profile()), before);
    for (const std::string& untouched : {app.logfile(), app.lockfile(), app.journal()})
        EXPECT_FALSE(std::filesystem::exists(untouched)) << untouched;
    EXPECT_TRUE(std::filesystem::exists(app.retryList()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "target"), {}), 1);

    writeProfile("[other]\r\nfdt=2001-01-01\r\n");
    EXPECT_EQ(torrin::runDryRun(app, out, errors), torrin::kExitCheckFailed);
    EXPECT_NE(errors.str().find("文件复制条件"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(app.logfile()));
}

// The built program, started like a scheduler would: no display at all, and
// a platform that would fail at once if a GUI application were created.
class UnattendedProgram : public ::testing::Test {
  protected:
    // `wrapper`: settings of the environment and a program that runs torrin
    // (a tracer).
    int start(const std::string& arguments, const std::string& wrapper = {}) {
        const std::string command =
            "cd '" + folder.path() + "' && env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb " +
            wrapper + " '" + std::string(TORRIN_PROGRAM) + "' " + arguments + " >'" +
            (output.path() + "/out") + "' 2>'" + (output.path() + "/err") + "' </dev/null";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string errors() const { return TempFolder::read(output.path() + "/err"); }
    std::string log() const { return TempFolder::read(folder / "log.txt"); }

    TempFolder folder;
    TempFolder output;
};

TEST_F(UnattendedProgram, RunsWithoutADisplayAndUsesTheWorkingDirectory) {
    folder.write("src/a.txt", "a");
    folder.mkdir("target");
    folder.write("confi9.ini", "[other]\r\nmpath=" + (folder / "target") +
                                   "\r\nfdt=2001-01-01 00:00:00\r\nypath1=" + (folder / "src") +
                                   "\r\nqmljg=n\r\n");
    // The dynamic loader lists what it loads: the window's libraries are
    // loaded only when the window opens.
    const std::string loads = output.path() + "/loads";
    EXPECT_EQ(start("' exit '", "LD_DEBUG=files LD_DEBUG_OUTPUT='" + loads + "'"), 0);
    EXPECT_EQ(errors(), "");
    EXPECT_EQ(TempFolder::read(folder / "target/a.txt"), "a");
    EXPECT_NE(log().find(gbk("成功复制全部应复制的文件数:1\r\n")), std::string::npos);
    EXPECT_NE(host::iniRead(folder / "confi9.ini", "other", "fdt", ""), "2001-01-01 00:00:00");
    std::string loaded;
    for (const auto& entry : std::filesystem::directory_iterator(output.path()))
        if (entry.path().filename().string().starts_with("loads."))
            loaded += TempFolder::read(entry.path().string());
    EXPECT_NE(loaded.find("libc.so"), std::string::npos) << loaded;
    EXPECT_EQ(loaded.find("libQt6"), std::string::npos) << loaded;
}

// Cron mails only what a job prints: a run that does not run, or has
// failures, says so on standard error, with the log's path.
TEST_F(UnattendedProgram, ExitStatusTwoWhenACheckFailsAndItSaysWhy) {
    folder.write("confi9.ini", "[other]\r\n");
    EXPECT_EQ(start("exit"), 2);
    EXPECT_EQ(errors(),
              "torrin: the run did not start: 文件复制条件，修改（创建）日期或时间错误，错误为：\n"
              "torrin: the log is " +
                  (folder / "log.txt") + "\n");
    EXPECT_NE(log().find(gbk("文件复制条件，修改（创建）日期或时间错误，错误为：\r\n")),
              std::string::npos);
}

TEST_F(UnattendedProgram, ExitStatusOneWhenACopyFails) {
    folder.write("src/sub/b.txt", "b");
    folder.write("target/sub", "not a folder");
    folder.write("confi9.ini", "[other]\r\nmpath=" + (folder / "target") +
                                   "\r\nfdt=2001-01-01 00:00:00\r\nypath1=" + (folder / "src") +
                                   "\r\nqmljg=n\r\n");
    EXPECT_EQ(start("exit"), 1);
    EXPECT_NE(log().find(gbk("复制文件全部失败，失败数:1\r\n")), std::string::npos);
    EXPECT_EQ(errors(), "torrin: 1 of 1 copies failed:\n  " + (folder / "src/sub/b.txt") +
                            ": cannot create a file in \"" + (folder / "target/sub") +
                            "\": Not a directory\ntorrin: the log is " + (folder / "log.txt") +
                            "\n");
}

// The "exclude" key leaves names out of every source's walk; an excluded
// folder is never even opened, by the walk or by the workers reading ahead.
TEST_F(UnattendedProgram, ExcludedNamesAreNotCopiedAndTheirFoldersNeverOpened) {
    for (const char* name : {"src/keep.txt", "src/a.tmp", "src/sub/b.txt", "src/sub/skipped/c.txt",
                             "src/skipped/d.txt", "src/skipped/deeper/e.txt"})
        folder.write(name, name);
    folder.mkdir("target");
    folder.write("confi9.ini", "[other]\r\nmpath=" + (folder / "target") +
                                   "\r\nfdt=2001-01-01 00:00:00\r\nypath1=" + (folder / "src") +
                                   "\r\nqmljg=n\r\nexclude=*.tmp; skipped/\r\n");
    const std::string trace = output.path() + "/trace";
    // The leak check cannot stop the threads of a traced process.
    EXPECT_EQ(start("exit",
                    "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -qq -e "
                    "trace=open,openat,openat2 -o '" +
                        trace + "'"),
              0)
        << errors();
    std::vector<std::string> copied;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder / "target"))
        if (entry.is_regular_file())
            copied.push_back(entry.path().lexically_relative(folder / "target"));
    std::sort(copied.begin(), copied.end());
    EXPECT_EQ(copied, (std::vector<std::string>{"keep.txt", "sub/b.txt"}));
    const std::string calls = TempFolder::read(trace);
    EXPECT_NE(calls.find("src/sub"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("skipped"), std::string::npos) << calls;
    // Read, never written.
    EXPECT_EQ(host::iniRead(folder / "confi9.ini", "other", "exclude", ""), "*.tmp; skipped/");
}

TEST_F(UnattendedProgram, OptionsPrintTheirTextAndAnUnknownOneIsRefused) {
    for (const char* help : {"--help", "-h"}) {
        EXPECT_EQ(start(help), 0);
        const std::string text = TempFolder::read(output.path() + "/out");
        // Every key a run reads is named.
        for (const char* key : {"torrin exit", "mpath", "jobs", "verify", "exclude"})
            EXPECT_NE(text.find(key), std::string::npos) << help << " " << key;
    }
    EXPECT_EQ(start("--version"), 0);
    EXPECT_TRUE(TempFolder::read(output.path() + "/out").starts_with("torrin "));
    EXPECT_EQ(start("--frobnicate"), 2);
    EXPECT_NE(errors().find("unknown option --frobnicate"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder / "log.txt"));
}

#ifdef TORRIN_WITH_GUI
// Without a display the window cannot open: one line and status 2, not the
// windowing library's abort.
TEST_F(UnattendedProgram, TheInteractiveStartWithoutADisplaySaysSoInOneLine) {
    EXPECT_EQ(start("EXIT"), 2);
    EXPECT_EQ(errors(),
              "torrin: cannot open the window: there is no display (DISPLAY is not set); run "
              "\"torrin exit\" for an unattended run\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "log.txt"));
}
#endif

}  // namespace
