// torrin's runs where unattended backups fail in real life: a run killed at
// any point and run again, a copy that fails and is tried again after the
// threshold has moved on, two runs on one settings folder, and the order in
// which a run stores its threshold.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "base/temporary_names.h"
#include "hardening_support.h"
#include "host/clock.h"
#include "host/durability.h"
#include "host/encoding.h"
#include "host/fault_injection.h"
#include "host/ini.h"
#include "host/progress.h"
#include "host/stop_signals.h"
#include "support/file_trees.h"
#include "support/mounted.h"
#include "support/temp_folder.h"
#include "torrin/engine/run_records.h"
#include "torrin/torapp.h"
#include "torrin/torrin_settings.h"

namespace {

using testing_support::TempFolder;

using testing_support::differences;
using testing_support::Tree;
using testing_support::treeOf;

// Settings copying `folder`/src into `folder`/target under `threshold`,
// sub-folder structure; `extra` holds further keys ("sfth=n\r\n").
void writeSettings(const TempFolder& folder, const std::string& threshold,
                   const std::string& extra = {}) {
    folder.write("confi9.ini", "[other]\r\nmpath=" + (folder / "target") + "\r\nfdt=" + threshold +
                                   "\r\nypath1=" + (folder / "src") + "\r\n" + extra +
                                   "qmljg=n\r\n");
}

// A settings folder with a source tree of which every file qualifies, given
// twice as a source row (so the second pass makes numbered names), and a
// target that already holds two of its names: a run chooses "0a.txt",
// "1a.txt", ... and a rerun that forgot what it copied would add more.
class Backup {
  public:
    explicit Backup(int workers) : app(folder.path()), useClock(clock) {
        for (int i = 0; i < 12; ++i) {
            const std::string name =
                (i % 3 == 0 ? "sub/" : "") + std::string("f") + std::to_string(i) + ".txt";
            folder.write("src/" + name, "bytes of " + name + std::string(i * 97, 'x'));
        }
        folder.write("src/a.txt", "new a");
        folder.write("target/a.txt", "older a");
        folder.write("target/sub/f0.txt", "old f0");
        folder.write("confi9.ini", "[other]\r\nmpath=" + (folder / "target") +
                                       "\r\nfdt=2001-01-01 00:00:00\r\nypath1=" + (folder / "src") +
                                       "\r\nypath2=" + (folder / "src") +
                                       "\r\nsfth=n\r\nqmljg=n\r\njobs=" + std::to_string(workers) +
                                       "\r\n");
    }
    static constexpr int kCopies = 2 * 13;

    int run(std::string* errors = nullptr) {
        std::ostringstream report;
        const int status = torrin::runUnattended(app, report);
        if (errors) *errors = report.str();
        return status;
    }
    // Runs in a child that is killed the `count`-th time the run reaches
    // `point`; true when it was.
    bool runKilledAt(std::string_view point, long count) {
        const pid_t child = ::fork();
        if (child == 0) {
            host::faults::setKillAtForTesting(point, count);
            run();
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }
    std::string log() const { return host::gbkToUtf8(TempFolder::read(app.logfile())); }
    std::string fdt() const { return host::iniRead(app.profile(), "other", "fdt", ""); }

    TempFolder folder;
    torrin::torapp app;
    // The runs are in the future: a threshold they store lies after every
    // time of the files made here, so a run after a stored one copies nothing.
    host::FixedClock clock{2208988800};  // 2040-01-01
    host::ScopedClock useClock;
};

// Killed after any number of copies, after a journal batch reached the
// device, or between storing the threshold and removing the journal, and
// then run again: the target is what one run gives, name for name and byte
// for byte. Nothing is lost and no numbered name is added twice.
TEST(KilledRun, TheRerunEndsWhereOneUninterruptedRunEnds) {
    for (const int workers : {1, 4}) {
        Backup reference(workers);
        ASSERT_EQ(reference.run(), torrin::kExitAllCopied);
        const auto expected = treeOf(reference.folder / "target");
        ASSERT_EQ(expected.size(), 2u + Backup::kCopies);
        ASSERT_EQ(expected.count("/sub/1f0.txt"), 1u);

        std::vector<std::pair<std::string_view, long>> kills = {
            {host::faults::kJournalFlushed, 1}, {host::faults::kThresholdStored, 1}};
        for (const long copies : {1L, 2L, 7L, 13L, 20L, long(Backup::kCopies)})
            kills.emplace_back(host::faults::kCopyDone, copies);
        for (const auto& [point, count] : kills) {
            SCOPED_TRACE(std::string(point) + " " + std::to_string(count) + ", " +
                         std::to_string(workers) + " workers");
            Backup backup(workers);
            ASSERT_TRUE(backup.runKilledAt(point, count));
            const bool stored = point == host::faults::kThresholdStored;
            EXPECT_EQ(backup.fdt() == "2001-01-01 00:00:00", !stored);
            EXPECT_EQ(backup.run(), torrin::kExitAllCopied);
            EXPECT_EQ(differences(expected, treeOf(backup.folder / "target")), "");
            // A journal is continued with its threshold; one left behind
            // after the threshold moved on belongs to another run.
            const std::string note =
                stored ? "上次中断的复制与当前设置不符" : "继续上次中断的复制\r\n";
            EXPECT_NE(backup.log().find(note), std::string::npos) << backup.log();
            EXPECT_FALSE(std::filesystem::exists(backup.app.journal()));
            EXPECT_EQ(backup.fdt(), host::localTimeText(backup.clock.now() - 1));
        }
    }
}

// A source row added after a kill: the next run continues the killed run's
// copies of the rows still there (their numbered names included) and copies
// the new row's files; nothing is copied twice.
TEST(KilledRun, ARowAddedAfterTheKillCopiesNothingTwice) {
    const auto addRow = [](Backup& backup) {
        backup.folder.write("more/m.txt", "m");
        ASSERT_TRUE(
            host::iniWrite(backup.app.profile(), "other", "ypath3", backup.folder / "more"));
    };
    Backup reference(4);
    addRow(reference);
    ASSERT_EQ(reference.run(), torrin::kExitAllCopied);
    Backup backup(4);
    ASSERT_TRUE(backup.runKilledAt(host::faults::kCopyDone, 7));
    addRow(backup);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // copies of an earlier second
    EXPECT_EQ(backup.run(), torrin::kExitAllCopied);
    EXPECT_EQ(differences(treeOf(reference.folder / "target"), treeOf(backup.folder / "target")),
              "");
    EXPECT_NE(backup.log().find("继续上次中断的复制中仍在设置里的源文件夹"), std::string::npos);
}

// Files unreadable in one run, a folder unreadable in it, and a file that is
// then deleted: the next run, whose threshold has moved past all of them,
// tries them first under the failed run's threshold and copies what it can.
TEST(RetryList, FailuresAreCopiedByTheNextRunAlthoughTheThresholdMovedOn) {
    TempFolder folder;
    const torrin::torapp app(folder.path());
    // Modified before the runs and after the first threshold; created now,
    // before both (the runs are in the future).
    constexpr std::time_t kModified = 2208988800;  // 2040-01-01
    for (const char* name : {"locked.txt", "closed/inside.txt", "gone.txt", "fine.txt"})
        TempFolder::setModified(folder.write(std::string("src/") + name, name), kModified);
    folder.mkdir("target");
    writeSettings(folder, "2039-01-01 00:00:00");
    hardening::giveToNobody(folder.path());
    host::FixedClock clock(kModified + 86400);
    host::ScopedClock useClock(clock);
    auto runAsNobody = [&] {
        return hardening::runUnprivileged([&] {
            std::ostringstream errors;
            return std::to_string(torrin::runUnattended(app, errors));
        });
    };
    ::chmod((folder / "src/locked.txt").c_str(), 0);
    ::chmod((folder / "src/gone.txt").c_str(), 0);
    ::chmod((folder / "src/closed").c_str(), 0);
    EXPECT_EQ(runAsNobody(), "1");
    EXPECT_EQ(treeOf(folder / "target").size(), 1u);

    ::chmod((folder / "src/locked.txt").c_str(), 0644);
    ::chmod((folder / "src/closed").c_str(), 0755);
    // Renamed since: its folder is walked under the failing run's threshold.
    ::chmod((folder / "src/gone.txt").c_str(), 0644);
    std::filesystem::rename(folder / "src/gone.txt", folder / "src/renamed.txt");
    clock.set(kModified + 2 * 86400);
    EXPECT_EQ(runAsNobody(), "0");
    EXPECT_EQ(treeOf(folder / "target"), (Tree{{"/closed/inside.txt", "closed/inside.txt"},
                                               {"/fine.txt", "fine.txt"},
                                               {"/locked.txt", "locked.txt"},
                                               {"/renamed.txt", "gone.txt"}}));
    const std::string log = host::gbkToUtf8(TempFolder::read(app.logfile()));
    const std::string second = log.substr(log.rfind("开始时间:"));
    for (const std::string& line : std::vector<std::string>{
             "重试上次失败的文件:" + (folder / "src/closed"),
             "重试上次失败的文件:" + (folder / "src/locked.txt"),
             "源文件已不存在，不再重试:" + (folder / "src/gone.txt"),
             "改为重试其所在的文件夹:" + (folder / "src"), "成功复制全部应复制的文件数:3"})
        EXPECT_NE(second.find(line + "\r\n"), std::string::npos) << line << "\n" << second;
    // Everything was tried: nothing is left to try.
    EXPECT_FALSE(std::filesystem::exists(app.retryList()));
}

// A retry list as editors, file-sync tools and cut writes leave it, or kept
// under a row the user has since written differently: every entry that can
// still be read is tried, and a list that cannot be read whole is kept aside
// with a log line rather than overwritten by the run's own.
TEST(RetryList, EveryReadableFailureIsTriedAndADamagedListIsKeptAside) {
    struct Case {
        const char* what;
        std::string (*damage)(std::string text);
        std::string (*row)(const std::string& src);
        bool setAside;
    };
    const auto same = [](const std::string& src) { return src; };
    const auto intact = [](std::string text) { return text; };
    const Case cases[] = {
        {"CR LF and a byte-order mark",
         [](std::string text) {
             std::string converted = "\xEF\xBB\xBF";
             for (const char c : text)
                 converted += c == '\n' ? std::string("\r\n") : std::string(1, c);
             return converted;
         },
         same, false},
        {"last line end lost", [](std::string text) { return text.substr(0, text.size() - 1); },
         same, true},
        {"a garbage line",
         [](std::string text) { return text.insert(text.find('\n') + 1, "\x01garbage\\q\n"); },
         same, true},
        {"first line gone", [](std::string text) { return text.substr(text.find('\n') + 1); }, same,
         true},
        {"row with a trailing separator", intact, [](const std::string& src) { return src + "/"; },
         false},
        {"row with a . step", intact,
         [](const std::string& src) {
             return std::string(host::parentPath(src)) + "/./" + std::string(host::baseName(src));
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const torrin::torapp app(folder.path());
        // Older than the threshold: only the retry list brings them.
        std::vector<torrin::RetryEntry> kept;
        for (const char* name : {"a.txt", "sub/b.txt", "c.txt"}) {
            TempFolder::setModified(folder.write(std::string("src/") + name, name), 946684800);
            kept.push_back({false, c.row(folder / "src"), name, "2001-01-01 00:00:00"});
        }
        const std::string text = c.damage(torrin::retryListText(kept));
        folder.write(std::string(host::baseName(app.retryList())), text);
        folder.mkdir("target");
        writeSettings(folder, "2030-01-01 00:00:00");
        host::FixedClock clock(2208988800);
        host::ScopedClock useClock(clock);
        std::ostringstream errors;
        EXPECT_EQ(torrin::runUnattended(app, errors), torrin::kExitAllCopied);
        EXPECT_EQ(treeOf(folder / "target"),
                  (Tree{{"/a.txt", "a.txt"}, {"/sub/b.txt", "sub/b.txt"}, {"/c.txt", "c.txt"}}));
        const std::string aside = app.retryList() + ".set-aside";
        EXPECT_EQ(std::filesystem::exists(aside), c.setAside);
        if (c.setAside) {
            EXPECT_EQ(TempFolder::read(aside), text);
            EXPECT_NE(
                host::gbkToUtf8(TempFolder::read(app.logfile()))
                    .find("待重试的失败记录有损坏，可读的记录仍将重试，原文件已另存为:" + aside),
                std::string::npos);
        }
        EXPECT_FALSE(std::filesystem::exists(app.retryList()));
    }
}

// With replacing off, a file that qualifies by its time alone night after
// night (a camera's clock a year ahead) is copied once; a changed one still
// gets its numbered copy.
TEST(ReplacingOff, AFileDatedInTheFutureIsCopiedOnceOverThreeRuns) {
    TempFolder folder;
    const torrin::torapp app(folder.path());
    constexpr std::time_t kNow = 2208988800;  // 2040-01-01
    TempFolder::setModified(folder.write("src/IMG_0001.JPG", "picture"), kNow + 365 * 86400);
    folder.mkdir("target");
    writeSettings(folder, "2001-01-01 00:00:00", "sfth=n\r\n");
    host::FixedClock clock(kNow);
    host::ScopedClock useClock(clock);
    for (int night = 0; night < 3; ++night) {
        clock.set(kNow + night * 86400);
        // The copies of a run are told from an earlier run's by the second
        // the system made them in.
        if (night > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        std::ostringstream errors;
        EXPECT_EQ(torrin::runUnattended(app, errors), torrin::kExitAllCopied) << errors.str();
    }
    EXPECT_EQ(treeOf(folder / "target"), (Tree{{"/IMG_0001.JPG", "picture"}}));
    std::ostringstream planned, dryErrors;
    EXPECT_EQ(torrin::runDryRun(app, planned, dryErrors), torrin::kExitAllCopied);
    EXPECT_EQ(planned.str(), "0 files would be copied\n");
    TempFolder::setModified(folder.write("src/IMG_0001.JPG", "edited!"), kNow + 365 * 86400 + 1);
    std::ostringstream errors;
    EXPECT_EQ(torrin::runUnattended(app, errors), torrin::kExitAllCopied);
    EXPECT_EQ(treeOf(folder / "target"),
              (Tree{{"/IMG_0001.JPG", "picture"}, {"/0IMG_0001.JPG", "edited!"}}));
}

// Files moved or hard-linked into a source, or in a folder moved in, keep
// their old modification and birth times: their change time, or their
// folder's, says they arrived, so they are copied, once, and a later change
// of their permissions makes no numbered copy.
TEST(OldTimes, FilesMovedOrLinkedInAreCopiedOnce) {
    TempFolder folder;
    const torrin::torapp app(folder.path());
    folder.mkdir("src");
    folder.mkdir("target");
    TempFolder::setModified(folder.write("outside/moved.txt", "moved"), 946684800);
    TempFolder::setModified(folder.write("outside/linked.txt", "linked"), 946684800);
    TempFolder::setModified(folder.write("outside/tree/deep/old.txt", "old"), 946684800);
    // The threshold lies after both files were made and before they arrive.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    const std::string threshold = host::localTimeText(std::time(nullptr));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    std::filesystem::rename(folder / "outside/moved.txt", folder / "src/moved.txt");
    std::filesystem::create_hard_link(folder / "outside/linked.txt", folder / "src/linked.txt");
    std::filesystem::rename(folder / "outside/tree", folder / "src/tree");
    for (int run = 0; run < 2; ++run) {
        writeSettings(folder, threshold, "sfth=n\r\n");  // the same threshold again
        if (run == 1) ::chmod((folder / "src/moved.txt").c_str(), 0600);
        std::ostringstream errors;
        EXPECT_EQ(torrin::runUnattended(app, errors), torrin::kExitAllCopied) << errors.str();
        EXPECT_EQ(treeOf(folder / "target"), (Tree{{"/moved.txt", "moved"},
                                                   {"/linked.txt", "linked"},
                                                   {"/tree/deep/old.txt", "old"}}))
            << "run " << run;
    }
}

// A stored threshold that lies ahead of the clock (stored while the clock was
// a year fast), that was stored in another zone, or before the clock was set
// back: the files changed since are still copied.
TEST(Clock, AThresholdFromAClockAheadAnotherZoneOrSetBackLosesNothing) {
    TempFolder folder;
    const torrin::torapp app(folder.path());
    folder.mkdir("target");
    constexpr std::time_t kNow = 2208988800, kDay = 86400;  // 2040-01-01
    host::FixedClock clock(kNow);
    host::ScopedClock useClock(clock);
    const auto run = [&](std::time_t at, const std::string& file, std::time_t modified) {
        clock.set(at);
        if (!file.empty()) TempFolder::setModified(folder.write("src/" + file, file), modified);
        std::ostringstream errors;
        const int status = torrin::runUnattended(app, errors);
        EXPECT_EQ(host::iniRead(app.profile(), "other", "fdt", ""), host::localTimeText(at - 1));
        return status;
    };
    const auto copied = [&](const std::string& file) {
        return std::filesystem::exists(folder / ("target/" + file));
    };
    writeSettings(folder, "2001-01-01 00:00:00");
    EXPECT_EQ(run(kNow + 365 * kDay, "a", kNow - 100), torrin::kExitAllCopied);
    // The clock corrected: the threshold of the run before counts.
    EXPECT_EQ(run(kNow + kDay, "b", kNow + 3600), torrin::kExitSomeFailed);
    EXPECT_TRUE(copied("b"));
    const std::string log = host::gbkToUtf8(TempFolder::read(app.logfile()));
    EXPECT_NE(log.find("不可信:" + host::localTimeText(kNow + 365 * kDay - 1) +
                       "；改用上次可信的复制条件时间:2001-01-01 00:00:00"),
              std::string::npos)
        << log;
    // No state to fall back on: every copy missing is made, no other.
    std::filesystem::remove(app.stateFile());
    writeSettings(folder, host::localTimeText(kNow + 10 * kDay));
    EXPECT_EQ(run(kNow + 2 * kDay, "c", kNow), torrin::kExitSomeFailed);
    EXPECT_TRUE(copied("c"));
    EXPECT_TRUE(host::gbkToUtf8(TempFolder::read(app.logfile()))
                    .ends_with("成功复制全部应复制的文件数:1\r\n结束时间:" +
                               host::localTimeText(kNow + 2 * kDay) + "\r\n"));
    // Stored at 08:00 in UTC+8 and read in UTC: the instant, not the text.
    const std::string zone = std::getenv("TZ") ? std::getenv("TZ") : "";
    ::setenv("TZ", "CST-8", 1);
    ::tzset();
    EXPECT_EQ(run(kNow + 3 * kDay, "", 0), torrin::kExitAllCopied);
    ::setenv("TZ", "GMT0", 1);
    ::tzset();
    EXPECT_EQ(run(kNow + 3 * kDay + 7200, "d", kNow + 3 * kDay + 3600), torrin::kExitAllCopied);
    EXPECT_TRUE(copied("d"));
    // Set back 20 s within one start of the system (a fast clock NTP
    // corrected): a file saved since carries a time before the threshold.
    clock.setSinceBoot(host::Clock::SinceBoot{"boot", 1000});
    EXPECT_EQ(run(kNow + 4 * kDay, "", 0), torrin::kExitAllCopied);
    clock.setSinceBoot(host::Clock::SinceBoot{"boot", 1100});
    EXPECT_EQ(run(kNow + 4 * kDay + 80, "e", kNow + 4 * kDay - 10), torrin::kExitAllCopied);
    EXPECT_TRUE(copied("e"));
    EXPECT_NE(
        host::gbkToUtf8(TempFolder::read(app.logfile())).find("系统时间在上次复制后被调回20秒"),
        std::string::npos);
    zone.empty() ? ::unsetenv("TZ") : ::setenv("TZ", zone.c_str(), 1);
    ::tzset();
}

// A target or a source row that was a disk's mount point and now is an
// empty folder (the disk not plugged in), or that is on another disk than
// last time: not used, status 2, no threshold stored. Once the disk is back,
// the next run copies what was left; a new disk the user accepts is used.
TEST(SameDisks, AFolderWhoseDiskIsAbsentOrAnotherIsNotUsed) {
    TempFolder folder;
    const torrin::torapp app(folder.path());
    const std::string target = folder.mkdir("target"), stick = folder.mkdir("stick");
    testing_support::Mounted targetDisk("ext4", folder / "target.img", target);
    SKIP_UNLESS_MOUNTED("ext4", targetDisk);
    auto stickDisk = std::make_unique<testing_support::Mounted>("tmpfs", "", stick);
    SKIP_UNLESS_MOUNTED("tmpfs", *stickDisk);
    writeSettings(folder, "2001-01-01 00:00:00", "ypath2=" + stick + "\r\n");
    folder.write("src/a", "a");
    folder.write("stick/s", "s");
    const auto run = [&](int status, const std::string& line) {
        const std::string before = host::iniRead(app.profile(), "other", "fdt", "");
        std::ostringstream errors;
        EXPECT_EQ(torrin::runUnattended(app, errors), status) << errors.str();
        if (line.empty()) return;
        EXPECT_NE(errors.str().find(line), std::string::npos) << errors.str();
        EXPECT_NE(host::gbkToUtf8(TempFolder::read(app.logfile())).find(line), std::string::npos);
        EXPECT_EQ(host::iniRead(app.profile(), "other", "fdt", ""), before);
    };
    const auto copied = [&](const std::string& file) {
        return std::filesystem::exists(target + "/" + file);
    };
    run(torrin::kExitAllCopied, "");
    ASSERT_TRUE(copied("a") && copied("s"));
    ASSERT_EQ(::umount2(target.c_str(), 0), 0);
    targetDisk.mounted = false;
    folder.write("src/b", "b");
    run(torrin::kExitCheckFailed,
        "目标文件夹原是一个磁盘的挂载点，现在该磁盘不在，本次未运行:" + target);
    EXPECT_TRUE(std::filesystem::is_empty(target));
    ASSERT_EQ(testing_support::Mounted::run("mount -o loop '" + (folder / "target.img") + "' '" +
                                            target + "'"),
              0);
    targetDisk.mounted = true;
    ASSERT_EQ(::umount2(stick.c_str(), 0), 0);
    stickDisk->mounted = false;
    run(torrin::kExitCheckFailed,
        "源文件夹原是一个磁盘的挂载点，现在该磁盘不在，未复制，复制条件时间未更新:" + stick);
    EXPECT_TRUE(copied("b"));
    stickDisk = std::make_unique<testing_support::Mounted>("tmpfs", "", stick);
    folder.write("stick/t", "t");
    run(torrin::kExitCheckFailed,
        "源文件夹现在所在的磁盘与上次复制时不同，未复制，复制条件时间未更新:" + stick);
    EXPECT_FALSE(copied("t"));
    // The user takes the new stick (the window's question): it is used and remembered.
    torrin::RunDescription accepted =
        torrin::runFromSettings(torrin::loadSettings(app.profile()), app);
    accepted.acceptChangedDisks = true;
    host::NullProgress quiet;
    EXPECT_TRUE(torrin::rcopy(accepted, quiet).disksChanged.empty());
    EXPECT_TRUE(copied("t"));
    run(torrin::kExitAllCopied, "");
}

// One run at a time per settings folder: a second one changes nothing, logs
// why and ends with status 2.
TEST(Overlap, ASecondRunOnTheSameSettingsChangesNothing) {
    Backup backup(4);
    host::ExclusiveLock running;
    ASSERT_EQ(torrin::lockSettings(backup.app, running, false), host::ExclusiveLock::Taking::Taken);
    const std::string before = TempFolder::read(backup.app.profile());
    std::string errors;
    EXPECT_EQ(backup.run(&errors), torrin::kExitCheckFailed);
    EXPECT_EQ(treeOf(backup.folder / "target").size(), 2u);
    EXPECT_EQ(TempFolder::read(backup.app.profile()), before);
    EXPECT_TRUE(backup.log().ends_with("\r\n另一次复制正在进行，本次未运行\r\n")) << backup.log();
    EXPECT_NE(errors.find("另一次复制正在进行，本次未运行"), std::string::npos);
    running.release();
    EXPECT_EQ(backup.run(), torrin::kExitAllCopied);
}

// The threshold is stored only after every copy has its name and the target
// has then been flushed to its device: seen in the program's system calls.
TEST(StoreOrder, TheThresholdIsWrittenAfterTheCopiesAreFlushed) {
    Backup backup(4);
    const std::string trace = backup.folder / "trace";
    const std::string command = "cd '" + backup.folder.path() +
                                "' && ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -qq "
                                "-e trace=syncfs,linkat,rename,renameat,renameat2 -o '" +
                                trace + "' '" + TORRIN_PROGRAM + "' exit";
    ASSERT_EQ(std::system(command.c_str()), 0) << "strace is needed";
    std::vector<std::string> calls;
    std::istringstream lines(TempFolder::read(trace));
    for (std::string line; std::getline(lines, line);) calls.push_back(line);
    const auto stored = std::find_if(calls.begin(), calls.end(), [](const std::string& call) {
        return call.find("\"confi9.ini\"") != std::string::npos;
    });
    ASSERT_NE(stored, calls.end()) << TempFolder::read(trace);
    const auto flushed = std::find_if(
        std::make_reverse_iterator(stored), calls.rend(),
        [](const std::string& call) { return call.find("syncfs(") != std::string::npos; });
    ASSERT_NE(flushed, calls.rend()) << TempFolder::read(trace);
    // No copy takes its name after that flush.
    for (auto call = flushed.base(); call != calls.end(); ++call) {
        const bool names =
            call->find("link") != std::string::npos || call->find("rename") != std::string::npos;
        EXPECT_FALSE(names && call->find("confi9.") == std::string::npos) << *call;
    }
}

// Asks for a stop once `steps` files have been handed to the workers.
class StopAfter : public host::ProgressSink {
  public:
    explicit StopAfter(long steps) : steps_(steps) {}
    void step(long count, std::string_view) override {
        if (count >= steps_) stop_ = true;
    }
    bool stopRequested() const noexcept override { return stop_; }

  private:
    long steps_;
    std::atomic<bool> stop_{false};
};

// Stopped in the middle (as the window's Esc and a stop signal stop it), a
// run lets its copies under way end, logs what it did, stores no threshold
// and keeps its journal; the next run continues it and ends where one
// uninterrupted run ends.
TEST(StoppedRun, TheNextRunEndsWhereOneUninterruptedRunEnds) {
    for (const int workers : {1, 4}) {
        Backup reference(workers);
        ASSERT_EQ(reference.run(), torrin::kExitAllCopied);
        const auto expected = treeOf(reference.folder / "target");
        for (const long steps : {1L, 7L, 20L}) {
            SCOPED_TRACE(std::to_string(steps) + " steps, " + std::to_string(workers) + " workers");
            Backup backup(workers);
            StopAfter stop(steps);
            const torrin::RunResult stopped = torrin::rcopy(
                torrin::runFromSettings(torrin::loadSettings(backup.app.profile()), backup.app),
                stop);
            EXPECT_TRUE(stopped.stopped);
            EXPECT_EQ(stopped.cccs, 0);
            EXPECT_LT(stopped.cgcs, Backup::kCopies);
            EXPECT_EQ(treeOf(backup.folder / "target").size(), 2u + stopped.cgcs);
            EXPECT_NE(backup.log().find(std::string(torrin::kStoppedLine) + "成功数：" +
                                        std::to_string(stopped.cgcs) + "；失败数:0\r\n"),
                      std::string::npos)
                << backup.log();
            EXPECT_EQ(backup.fdt(), "2001-01-01 00:00:00");
            EXPECT_TRUE(std::filesystem::exists(backup.app.journal()));

            EXPECT_EQ(backup.run(), torrin::kExitAllCopied);
            EXPECT_EQ(differences(expected, treeOf(backup.folder / "target")), "");
            EXPECT_NE(backup.log().find("继续上次中断的复制\r\n"), std::string::npos);
            EXPECT_EQ(backup.fdt(), host::localTimeText(backup.clock.now() - 1));
        }
    }
}

// SIGTERM to "torrin exit" (sent by the program to itself the fifth time a
// copy takes its name): status 143, a report, a log true to the copies made,
// no threshold stored; the next run completes the copy.
// A journal that cannot be written stops the run: the log says it stopped,
// never that everything was copied, and no threshold is stored.
TEST(StoppedRun, AJournalThatCannotBeWrittenStopsTheRunAndTheLogSaysSo) {
    Backup backup(2);
    backup.folder.mkdir("records");
    torrin::RunDescription run =
        torrin::runFromSettings(torrin::loadSettings(backup.app.profile()), backup.app);
    run.journal = backup.folder / "records/confi9.journal";
    run.retryList = backup.folder / "records/confi9.retry";
    host::faults::setWriteFailureAfterBytesForTesting(600, backup.folder / "records");
    host::NullProgress quiet;
    const torrin::RunResult result = torrin::rcopy(run, quiet);
    host::faults::setWriteFailureAfterBytesForTesting(-1);
    EXPECT_FALSE(result.storeFailure.empty());
    EXPECT_LT(result.cgcs, Backup::kCopies);
    const std::string log = backup.log();
    EXPECT_EQ(log.find("成功复制全部应复制的文件数"), std::string::npos) << log;
    EXPECT_NE(log.find(torrin::kStoppedLine), std::string::npos) << log;
    EXPECT_EQ(backup.fdt(), "2001-01-01 00:00:00");
}

TEST(StoppedRun, TorrinExitEndsWith143OnSigterm) {
    Backup reference(1);
    ASSERT_EQ(reference.run(), torrin::kExitAllCopied);
    Backup backup(1);
    const std::string command = "cd '" + backup.folder.path() +
                                "' && ZARVIK_TEST_KILL_AT=copy-done:5:" + std::to_string(SIGTERM) +
                                " '" + TORRIN_PROGRAM + "' exit 2>errors.txt";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 143);
    EXPECT_NE(TempFolder::read(backup.folder / "errors.txt").find("torrin: stopped by termination"),
              std::string::npos);
    // The copies written before the stop take their names too: the log
    // counts exactly the copies in the target.
    const std::size_t copied = treeOf(backup.folder / "target").size() - 2;
    EXPECT_GE(copied, 5u);
    EXPECT_LT(copied, std::size_t{Backup::kCopies});
    EXPECT_NE(backup.log().find(std::string(torrin::kStoppedLine) + "成功数：" +
                                std::to_string(copied) + "；失败数:0\r\n"),
              std::string::npos)
        << backup.log();
    EXPECT_EQ(backup.fdt(), "2001-01-01 00:00:00");
    EXPECT_EQ(backup.run(), torrin::kExitAllCopied);
    EXPECT_EQ(differences(treeOf(reference.folder / "target"), treeOf(backup.folder / "target")),
              "");
}

// A source whose read never returns once 64 KiB of it are read, as on a share
// whose server died: "torrin exit", with the switches `faults`, and a kill
// after a minute in case it never ends. Its exit status.
int runWithAnUnansweringSource(const TempFolder& folder, const std::string& faults) {
    const std::string command = "cd '" + folder.path() + "' && ZARVIK_TEST_BLOCKED_READ=65536 " +
                                faults + " timeout -s KILL 60 '" + TORRIN_PROGRAM +
                                "' exit 2>errors.txt";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The run is ended once it shows no progress for its bound, or for its grace
// once a stop signal came: it logs where it was, stores no threshold and lets
// go of the lock, and the next run continues the copy.
TEST(UnansweringSource, TheRunIsEndedAndTheNextRunContinuesIt) {
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped by SIGTERM" : "not stopped");
        TempFolder folder;
        const std::string bytes(300000, 'b');
        const std::string source = folder.write("src/big.bin", bytes);
        folder.mkdir("target");
        writeSettings(folder, "2001-01-01 00:00:00");
        // Stopped just before the copy begins, the stop waits for it; a
        // bound that long is never reached.
        const int status = runWithAnUnansweringSource(
            folder, stopped
                        ? "ZARVIK_TEST_WATCH_BOUNDS=600000:1000 ZARVIK_TEST_KILL_AT=copy-begun:1:" +
                              std::to_string(SIGTERM)
                        : "ZARVIK_TEST_WATCH_BOUNDS=2000:600000");
        EXPECT_EQ(status, stopped ? host::kExitTerminated : torrin::kExitCheckFailed);
        const std::string line = std::string(torrin::kUnansweredLine) + source;
        const std::string log = host::gbkToUtf8(TempFolder::read(folder / "log.txt"));
        EXPECT_TRUE(log.ends_with((stopped ? std::string(torrin::kStoppedLine) + "\r\n" : "") +
                                  line + "\r\n"))
            << log;
        EXPECT_NE(TempFolder::read(folder / "errors.txt").find("torrin: " + line + "\n"),
                  std::string::npos);
        EXPECT_EQ(host::iniRead(folder / "confi9.ini", "other", "fdt", ""), "2001-01-01 00:00:00");

        torrin::torapp app(folder.path());
        std::ostringstream errors;
        EXPECT_EQ(torrin::runUnattended(app, errors), torrin::kExitAllCopied) << errors.str();
        EXPECT_NE(host::gbkToUtf8(TempFolder::read(app.logfile())).find("继续上次中断的复制\r\n"),
                  std::string::npos);
        EXPECT_EQ(TempFolder::read(folder / "target/big.bin"), bytes);
    }
}

}  // namespace

namespace {

// A settings folder with one source row, and the records an interrupted run
// left, written by hand: what a continued run may trust and what it must check.
class Interrupted {
  public:
    explicit Interrupted(bool replace) : app(folder.path()), useClock(clock) {
        folder.mkdir("target");
        folder.write("confi9.ini", "[other]\r\nmpath=" + (folder / "target") +
                                       "\r\nfdt=2001-01-01 00:00:00\r\nypath1=" + (folder / "src") +
                                       "\r\nsfth=" + (replace ? "y" : "n") +
                                       "\r\nqmljg=n\r\njobs=1\r\n");
    }
    std::string source(const std::string& name, const std::string& bytes) {
        return folder.write("src/" + name, bytes);
    }
    // The journal of a run of these settings that recorded `entries`.
    void journal(const std::vector<torrin::JournalEntry>& entries) {
        std::string text = torrin::journalHeaderText(
            {folder / "target", "2001-01-01 00:00:00", false, {folder / "src"}});
        for (std::size_t i = 0; i < entries.size(); ++i) {
            text += torrin::journalEntryText(entries[i]);
            if (entries[i].confirmed)
                text += torrin::journalConfirmationText(i, *entries[i].confirmed);
        }
        folder.write("confi9.journal", text);
    }
    int run() {
        std::ostringstream errors;
        return torrin::runUnattended(app, errors);
    }

    TempFolder folder;
    torrin::torapp app;
    host::FixedClock clock{2208988800};  // 2040-01-01
    host::ScopedClock useClock;
};

// Confirmed, and then rewritten in place within the same second, with the same
// length: the copy holds the old bytes, and its length and whole seconds say
// nothing. The source's stamp does, so the new bytes are copied (to a new
// name, replacing off: the old version is kept).
TEST(ContinuedRun, AConfirmedCopyWhoseSourceChangedSinceIsCopiedAgain) {
    Interrupted run(false);
    const std::string source = run.source("a.txt", "first");
    TempFolder::setModified(source, 2000000000, 100);
    ASSERT_TRUE(host::copyFileSafely(source, run.folder / "target/a.txt", false));
    const auto copied = host::sourceStampOf(source);
    run.journal({{source, "a.txt", copied}});
    run.source("a.txt", "again");
    TempFolder::setModified(source, 2000000000, 900);
    EXPECT_EQ(run.run(), torrin::kExitAllCopied);
    EXPECT_EQ(treeOf(run.folder / "target"), (Tree{{"/a.txt", "first"}, {"/0a.txt", "again"}}));
}

// Unconfirmed: the name the killed run chose may hold anything. A name that
// another program took meanwhile is never overwritten (the copy takes the
// next free one); a name that holds the source's bytes is the copy, done, and
// the temporary file a kill left for it goes; a free name is taken.
TEST(ContinuedRun, AnUnconfirmedNameIsTrustedOnlyWithTheSourcesBytes) {
    for (const bool named : {false, true}) {
        SCOPED_TRACE(named ? "named temporaries" : "nameless where possible");
        host::faults::setNamedTemporariesForTesting(named);
        Interrupted run(false);
        const std::string a = run.source("a.txt", "new a");
        const std::string b = run.source("b.txt", "bytes of b");
        const std::string c = run.source("c.txt", "c");
        run.folder.write("target/a.txt", "old a");
        run.folder.write("target/0a.txt", "another program's");
        run.folder.write("target/b.txt", "bytes of b");
        const std::string leftover = run.folder.write(
            "target/" + base::temporary_names::make(base::temporary_names::stemOf("b.txt")),
            "bytes of b");
        run.journal(
            {{a, "0a.txt", std::nullopt}, {b, "b.txt", std::nullopt}, {c, "c.txt", std::nullopt}});
        EXPECT_EQ(run.run(), torrin::kExitAllCopied);
        EXPECT_EQ(treeOf(run.folder / "target"), (Tree{{"/a.txt", "old a"},
                                                       {"/0a.txt", "another program's"},
                                                       {"/1a.txt", "new a"},
                                                       {"/b.txt", "bytes of b"},
                                                       {"/c.txt", "c"}}));
        EXPECT_FALSE(std::filesystem::exists(leftover));
        host::faults::setNamedTemporariesForTesting(false);
    }
}

// Killed after the failures to try again are stored and before the
// threshold: the next run still tries the failed copy, and copies it.
TEST(ContinuedRun, AKillBetweenTheRetryListAndTheThresholdForgetsNoFailure) {
    Interrupted run(true);
    run.source("a.txt", "a");
    run.source("sub/b.txt", "b");
    run.folder.write("target/sub", "in the way");
    const pid_t child = ::fork();
    if (child == 0) {
        host::faults::setKillAtForTesting(host::faults::kRetriesStored, 1);
        run.run();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(host::iniRead(run.app.profile(), "other", "fdt", ""), "2001-01-01 00:00:00");
    std::filesystem::remove(run.folder / "target/sub");
    run.clock.set(run.clock.now() + 86400);
    EXPECT_EQ(run.run(), torrin::kExitAllCopied);
    EXPECT_EQ(treeOf(run.folder / "target"), (Tree{{"/a.txt", "a"}, {"/sub/b.txt", "b"}}));
}

// A share that stops answering mid-copy gives fewer bytes than the file's
// length: no copy is left, the failure is kept, and the next run mends it.
TEST(ContinuedRun, ACopyCutShortByItsSourceIsKeptForTheNextRun) {
    Interrupted run(true);
    run.source("big.bin", std::string(200000, 'b'));
    run.source("small.txt", "s");
    host::faults::setSourceReadLimitForTesting(70000);
    EXPECT_EQ(run.run(), torrin::kExitSomeFailed);
    host::faults::setSourceReadLimitForTesting(-1);
    EXPECT_EQ(treeOf(run.folder / "target"), (Tree{{"/small.txt", "s"}}));
    EXPECT_NE(host::gbkToUtf8(TempFolder::read(run.app.logfile()))
                  .find(run.folder / "src/big.bin" + ": the source gave 70000 of 200000 bytes\r\n"),
              std::string::npos);
    run.clock.set(run.clock.now() + 86400);
    EXPECT_EQ(run.run(), torrin::kExitAllCopied);
    EXPECT_EQ(treeOf(run.folder / "target").at("/big.bin"), std::string(200000, 'b'));
}

}  // namespace
