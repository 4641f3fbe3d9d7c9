// torrin's copy run on real temporary folders: which files qualify, where they
// land, what the log says byte for byte, and what is stored as the next
// threshold.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/clock.h"
#include "host/encoding.h"
#include "host/fs.h"
#include "host/ini.h"
#include "host/paths.h"
#include "support/temp_folder.h"
#include "support/unprivileged.h"
#include "torrin/engine/destination_names.h"
#include "torrin/engine/rcopy.h"
#include "torrin/engine/run_records.h"

namespace {

using testing_support::TempFolder;

// 2040-03-05 10:20:30 UTC: the moment the fixed clock shows during a run. Runs
// and thresholds lie in the future, after the real creation (or change) time of
// every file a test makes, so only the modification times set by a test decide.
constexpr std::time_t kRunMoment = 2214555630;

// Every test reads times in UTC so that logs can be compared with fixed texts.
class UtcEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
};
const auto* const utcEnvironment = ::testing::AddGlobalTestEnvironment(new UtcEnvironment);

// Lets a test act in the middle of a run, at the step before a file's copy.
class StepHook : public host::ProgressSink {
  public:
    std::function<void(long, const std::string&)> onStep;
    std::vector<std::string> steps;
    void step(long count, std::string_view current) override {
        steps.emplace_back(current);
        if (onStep) onStep(count, std::string(current));
    }
};

std::string gbkLines(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& line : lines) bytes += host::utf8ToGbk(line) + "\r\n";
    return bytes;
}

bool exists(const std::string& path) {
    return std::filesystem::exists(std::filesystem::symlink_status(path));
}

class CopyRunTest : public ::testing::Test {
  protected:
    CopyRunTest() : clock_(kRunMoment), scoped_(clock_) {
        source_ = temp_.mkdir("data/src");
        target_ = temp_.mkdir("bak");
        run_.sourceFolders = {source_};
        run_.target = target_;
        run_.threshold = "2040-03-01 00:00:00";
        run_.logfile = temp_ / "log.txt";
        run_.profile = temp_ / "confi9.ini";
        run_.mask = host::kListEverything;
    }

    // A file in the source tree, last written at `modified`.
    std::string sourceFile(const std::string& relative, std::time_t modified,
                           const std::string& bytes = "x") {
        const std::string full = temp_.write("data/src/" + relative, bytes);
        TempFolder::setModified(full, modified);
        return full;
    }

    torrin::RunResult runCopy() { return torrin::rcopy(run_, hook_); }
    std::string log() const { return TempFolder::read(run_.logfile); }

    // Modification times before and after the threshold.
    static constexpr std::time_t kOld = 1893456000;    // 2030-01-01 00:00:00
    static constexpr std::time_t kNewer = 2214432000;  // 2040-03-04 00:00:00

    TempFolder temp_;
    host::FixedClock clock_;
    host::ScopedClock scoped_;
    std::string source_;
    std::string target_;
    torrin::RunDescription run_;
    StepHook hook_;
};

// --- the qualifying rule -------------------------------------------------

// Files are created now, so their creation time is now; thresholds in the
// future leave only the modification time to decide.
class QualifyingRuleTest : public CopyRunTest {
  protected:
    std::time_t future_ = std::time(nullptr) + 30 * 86400;
};

TEST_F(QualifyingRuleTest, EqualToTheSecondDoesNotQualifyOneSecondLaterDoes) {
    // The last nanosecond of the threshold's second is still that second.
    TempFolder::setModified(sourceFile("equal.txt", future_), future_, 999999999);
    sourceFile("later.txt", future_ + 1);
    TempFolder::setModified(sourceFile("earlier.txt", future_), future_ - 1, 999999999);
    run_.threshold = host::localTimeText(future_);
    const auto result = runCopy();
    EXPECT_EQ(result.cgcs, 1);
    EXPECT_EQ(result.cccs, 0);
    EXPECT_TRUE(exists(target_ + "/later.txt"));
    EXPECT_FALSE(exists(target_ + "/equal.txt"));
    EXPECT_FALSE(exists(target_ + "/earlier.txt"));
}

TEST_F(QualifyingRuleTest, TimesFarFromTheThresholdFollowTheTextOrder) {
    sourceFile("days-before.txt", future_ - 3 * 86400);
    sourceFile("days-after.txt", future_ + 3 * 86400);
    sourceFile("two-days-after.txt", future_ + 2 * 86400);
    sourceFile("two-days-before.txt", future_ - 2 * 86400);
    run_.threshold = host::localTimeText(future_);
    EXPECT_EQ(runCopy().cgcs, 2);
    EXPECT_TRUE(exists(target_ + "/days-after.txt"));
    EXPECT_TRUE(exists(target_ + "/two-days-after.txt"));
}

// Thresholds are instants: across a clock change a time's text may sort on
// the wrong side of the threshold's. The changes lie in the future, after the
// creation time of every file made here, so only modification times decide.
TEST_F(QualifyingRuleTest, AcrossClockChangesThresholdsAreInstants) {
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    struct Case {
        const char* threshold;
        std::vector<std::pair<std::string, std::time_t>> files;  // name, UTC instant
        std::set<std::string> copied;
    };
    // 2027-10-31: 03:00 summer time goes back to 02:00, so 02:00-02:59 comes
    // twice; a text of that hour means its first pass (copy more, never less).
    // 2027-03-28: 02:00 jumps to 03:00, so 02:30 never shows; it means 03:00.
    constexpr std::time_t autumnFirstHalfPastTwo = 1824942600;  // 00:30 UTC
    constexpr std::time_t springGapEnd = 1806195600;            // 01:00 UTC
    const std::vector<Case> cases = {
        {"2027-10-31 02:30:00",
         {{"before.txt", autumnFirstHalfPastTwo - 15 * 60},
          {"equal.txt", autumnFirstHalfPastTwo},
          {"summer-quarter-to-three.txt", autumnFirstHalfPastTwo + 15 * 60},
          // 02:15 in winter time: its text sorts before the threshold's.
          {"winter-quarter-past-two.txt", autumnFirstHalfPastTwo + 45 * 60},
          {"winter-half-past-two.txt", autumnFirstHalfPastTwo + 60 * 60}},
         {"summer-quarter-to-three.txt", "winter-quarter-past-two.txt",
          "winter-half-past-two.txt"}},
        // A run in the second pass stored the same text: more is copied again.
        {"2027-10-31 02:10:00",
         {{"summer-five-past-two.txt", autumnFirstHalfPastTwo - 25 * 60},
          {"summer-quarter-past-two.txt", autumnFirstHalfPastTwo - 15 * 60}},
         {"summer-quarter-past-two.txt"}},
        {"2027-03-28 02:30:00",
         {{"winter-one-fifty-nine.txt", springGapEnd - 60},
          {"gap-end.txt", springGapEnd},
          {"a-second-after.txt", springGapEnd + 1}},
         {"a-second-after.txt"}},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(source_);
        std::filesystem::remove_all(target_);
        std::filesystem::create_directories(source_);
        std::filesystem::create_directories(target_);
        for (const auto& [name, instant] : c.files) sourceFile(name, instant);
        run_.threshold = c.threshold;
        runCopy();
        std::set<std::string> copied;
        for (const auto& entry : std::filesystem::directory_iterator(target_))
            copied.insert(entry.path().filename().string());
        EXPECT_EQ(copied, c.copied) << c.threshold;
    }
    ::setenv("TZ", "UTC", 1);
    ::tzset();
}

TEST_F(QualifyingRuleTest, CreationTimeAfterTheThresholdQualifiesAnOldFile) {
    constexpr std::time_t longAgo = 946684800;  // 2000-01-01 00:00:00
    const std::string file = sourceFile("old.txt", longAgo);
    const auto times = host::fileTimes(file);
    ASSERT_TRUE(times);
    ASSERT_GT(times->created, longAgo + 1);
    // Between the old modification time and the real birth (or change) time.
    run_.threshold = host::localTimeText(times->created - 1);
    EXPECT_EQ(runCopy().cgcs, 1);
    EXPECT_TRUE(exists(target_ + "/old.txt"));

    std::filesystem::remove(target_ + "/old.txt");
    run_.threshold = host::localTimeText(times->created);
    EXPECT_EQ(runCopy().cgcs, 0);
    EXPECT_FALSE(exists(target_ + "/old.txt"));
}

TEST_F(QualifyingRuleTest, AnEmptyThresholdTakesEveryFile) {
    sourceFile("a.txt", kOld);
    sourceFile("s/b.txt", kOld);
    run_.threshold = "";
    EXPECT_EQ(runCopy().cgcs, 2);
}

// --- destinations ----------------------------------------------------------

TEST(FullStructureFolder, DropsNothingOnPosixAndNeverDoublesTheSeparator) {
    EXPECT_EQ(host::fullStructureFolder("/bak", "/data/src", "a/b/"), "/bak/data/src/a/b/");
    EXPECT_EQ(host::fullStructureFolder("/bak", "/data/src", ""), "/bak/data/src/");
    EXPECT_EQ(host::fullStructureFolder("/bak/", "/data/src", "a/"), "/bak/data/src/a/");
    EXPECT_EQ(host::fullStructureFolder("/", "/data/src", "a/"), "/data/src/a/");
    EXPECT_EQ(host::fullStructureFolder("/bak", "/", "a/"), "/bak/a/");
    EXPECT_EQ(host::fullStructureFolder("/bak", "rel/src", ""), "/bak/rel/src/");
}

class StructureTest : public CopyRunTest {
  protected:
    void SetUp() override {
        sourceFile("top.txt", kNewer, "top");
        sourceFile("a/b/deep.txt", kNewer, "deep");
        sourceFile("a/b/stale.txt", kOld);
    }
};

TEST_F(StructureTest, SubDirectoryStructureRecreatesFoldersBelowTheSource) {
    run_.fullStructure = false;
    EXPECT_EQ(runCopy().cgcs, 2);
    EXPECT_EQ(TempFolder::read(target_ + "/top.txt"), "top");
    EXPECT_EQ(TempFolder::read(target_ + "/a/b/deep.txt"), "deep");
    EXPECT_FALSE(exists(target_ + "/a/b/stale.txt"));
}

TEST_F(StructureTest, FullStructurePutsTheWholeSourcePathUnderTheTarget) {
    run_.fullStructure = true;
    EXPECT_EQ(runCopy().cgcs, 2);
    const std::string root = target_ + source_;
    EXPECT_EQ(TempFolder::read(root + "/top.txt"), "top");
    EXPECT_EQ(TempFolder::read(root + "/a/b/deep.txt"), "deep");
    EXPECT_FALSE(exists(target_ + "/top.txt"));
}

TEST_F(StructureTest, CopiesKeepTheModificationTime) {
    runCopy();
    const auto times = host::fileTimes(target_ + "/a/b/deep.txt");
    ASSERT_TRUE(times);
    EXPECT_EQ(times->modified, kNewer);
}

TEST_F(StructureTest, SourceFoldersAreWalkedInRowOrderAndEmptyRowsAreSkipped) {
    const std::string second = temp_.mkdir("second");
    TempFolder::setModified(temp_.write("second/other.txt", "o"), kNewer);
    // An empty row must not become a walk of "/".
    run_.sourceFolders = {"", source_, "", second};
    runCopy();
    ASSERT_EQ(hook_.steps.size(), 3u);
    EXPECT_EQ(hook_.steps[0], source_ + "/a/b/deep.txt");
    EXPECT_EQ(hook_.steps[1], source_ + "/top.txt");
    EXPECT_EQ(hook_.steps[2], second + "/other.txt");
}

TEST_F(CopyRunTest, OnlyEmptyRowsWalkNothing) {
    run_.sourceFolders = {"", ""};
    run_.threshold = "";
    hook_.onStep = [](long, const std::string& path) {
        throw std::runtime_error("walked into " + path);
    };
    EXPECT_EQ(runCopy().cgcs, 0);
}

// --- same names --------------------------------------------------------------

TEST(FreeName, PutsTheFirstFreeCounterInFrontOfTheWholeName) {
    TempFolder folder;
    host::TargetFolder fpath(folder.path());
    ASSERT_EQ(fpath.enter(""), host::TargetFolder::Reach::Reached);
    EXPECT_EQ(torrin::fzmccf(fpath, "a.txt"), "a.txt");
    folder.write("a.txt", "1");
    EXPECT_EQ(torrin::fzmccf(fpath, "a.txt"), "0a.txt");
    folder.write("0a.txt", "2");
    EXPECT_EQ(torrin::fzmccf(fpath, "a.txt"), "1a.txt");
    // A folder or a dangling link takes a name as well.
    folder.mkdir("1a.txt");
    ASSERT_EQ(::symlink("missing", (folder / "2a.txt").c_str()), 0);
    EXPECT_EQ(torrin::fzmccf(fpath, "a.txt"), "3a.txt");
}

// The target holds a.txt and, as the next name, a link that leads nowhere:
// it takes its name like any entry.
class SameNameTest : public CopyRunTest {
  protected:
    void SetUp() override {
        sourceFile("a.txt", kNewer, "new");
        temp_.write("bak/a.txt", "first");
        ASSERT_EQ(::symlink("missing", (target_ + "/0a.txt").c_str()), 0);
    }
    bool linkUntouched() const {
        std::error_code error;
        return std::filesystem::read_symlink(target_ + "/0a.txt", error) == "missing";
    }
};

TEST_F(SameNameTest, WithoutReplaceTheCopyTakesTheNextFreeNameAndNothingIsOverwritten) {
    run_.replace = false;
    const auto result = runCopy();
    EXPECT_EQ(result.cgcs, 1);
    EXPECT_EQ(result.cccs, 0);
    EXPECT_EQ(TempFolder::read(target_ + "/a.txt"), "first");
    EXPECT_TRUE(linkUntouched());
    EXPECT_EQ(TempFolder::read(target_ + "/1a.txt"), "new");
}

TEST_F(SameNameTest, WithReplaceTheExistingFileIsOverwritten) {
    run_.replace = true;
    EXPECT_EQ(runCopy().cgcs, 1);
    EXPECT_EQ(TempFolder::read(target_ + "/a.txt"), "new");
    EXPECT_TRUE(linkUntouched());
    EXPECT_FALSE(exists(target_ + "/1a.txt"));
}

// --- the log -----------------------------------------------------------------

class LogTest : public CopyRunTest {
  protected:
    // Start line: the run's moment one second back; end line: the moment itself.
    const std::string start_ = "开始时间:2040-03-05 10:20:29";
    const std::string thresholdLine_ = "copy源文件修改日期（或创建日期）大于:2040-03-01 00:00:00";
    const std::string end_ = "结束时间:2040-03-05 10:20:30";

    // Makes the copy of the source file `relative` fail: with replace on, a
    // folder stands where the copy would go.
    void blockDestination(const std::string& relative) {
        run_.replace = true;
        temp_.mkdir("bak/" + relative);
    }
    // The log line of a copy blockDestination failed.
    std::string blocked(const std::string& relative) const {
        return source_ + "/" + relative + ": cannot rename to \"" + target_ + "/" + relative +
               "\": Is a directory";
    }
};

TEST_F(LogTest, SuccessfulRun) {
    sourceFile("a.txt", kNewer);
    sourceFile("b.txt", kNewer);
    runCopy();
    EXPECT_EQ(log(), gbkLines({start_, thresholdLine_, "成功复制全部应复制的文件数:2", end_}));
}

TEST_F(LogTest, NoFileQualifies) {
    sourceFile("a.txt", kOld);
    const auto result = runCopy();
    EXPECT_EQ(log(), gbkLines({start_, thresholdLine_, "成功复制全部应复制的文件数:0", end_}));
    EXPECT_EQ(result.endTime, "2040-03-05 10:20:30");
}

TEST_F(LogTest, PartialRunListsEachFailureOnceUnderOneHeading) {
    sourceFile("a.txt", kNewer);
    sourceFile("b.txt", kNewer);
    sourceFile("c.txt", kNewer);
    sourceFile("d.txt", kNewer);
    blockDestination("a.txt");
    blockDestination("c.txt");
    const auto result = runCopy();
    EXPECT_EQ(result.cgcs, 2);
    EXPECT_EQ(result.cccs, 2);
    EXPECT_EQ(log(), gbkLines({start_, thresholdLine_, "以下文件复制出错:", blocked("a.txt"),
                               blocked("c.txt"), "复制文件部分成功。成功数：2；失败数:2", end_}));
}

TEST_F(LogTest, PunctuationBytesAreTheFullWidthGbkOnes) {
    sourceFile("a.txt", kNewer);
    sourceFile("b.txt", kNewer);
    blockDestination("a.txt");
    runCopy();
    // "：" is A3 BA and "；" A3 BB in GBK; the other colons are ASCII.
    EXPECT_NE(log().find("\xA3\xBA"
                         "1\xA3\xBB"),
              std::string::npos);
    EXPECT_EQ(log().substr(0, 9), "\xBF\xAA\xCA\xBC\xCA\xB1\xBC\xE4:");
}

TEST_F(LogTest, AllFailedRunInWalkOrder) {
    sourceFile("b.txt", kNewer);
    sourceFile("a/x.txt", kNewer);
    sourceFile("c.txt", kNewer);
    blockDestination("b.txt");
    blockDestination("a/x.txt");
    blockDestination("c.txt");
    runCopy();
    // "[a]" sorts before "b.txt": the sub-folder is walked at its place.
    EXPECT_EQ(log(),
              gbkLines({start_, thresholdLine_, "以下文件复制出错:", blocked("a/x.txt"),
                        blocked("b.txt"), blocked("c.txt"), "复制文件全部失败，失败数:3", end_}));
}

TEST_F(LogTest, FailuresAreOnRecordBeforeTheRunEnds) {
    sourceFile("sub/a.txt", kNewer);
    sourceFile("b.txt", kNewer);
    // A file where the destination folder would go: the copy fails as it is
    // written, not only when it would take its name.
    temp_.write("bak/sub", "");
    // One at a time the failure is on record at the next step; several
    // workers record it a few copies later, in the same order.
    run_.workers = 1;
    std::string seenAtSecondStep;
    hook_.onStep = [&](long count, const std::string&) {
        if (count == 2) seenAtSecondStep = log();
    };
    runCopy();
    EXPECT_EQ(seenAtSecondStep, gbkLines({start_, thresholdLine_, "以下文件复制出错:",
                                          source_ + "/sub/a.txt: cannot create a file in \"" +
                                              target_ + "/sub\": Not a directory"}));
}

TEST_F(LogTest, RunsAreAppendedAndNothingBeforeIsLost) {
    temp_.write("log.txt", "earlier run\r\n");
    runCopy();
    runCopy();
    const std::string oneRun =
        gbkLines({start_, thresholdLine_, "成功复制全部应复制的文件数:0", end_});
    EXPECT_EQ(log(), "earlier run\r\n" + oneRun + oneRun);
}

TEST_F(LogTest, NonUtf8NamesAreLoggedAsTheirOwnBytes) {
    const std::string name = "bad\xFF.txt";
    sourceFile(name, kNewer);
    blockDestination(name);
    runCopy();
    EXPECT_NE(log().find(blocked(name) + "\r\n"), std::string::npos);
}

TEST_F(CopyRunTest, ARunWithoutAWritableLogStillCopies) {
    sourceFile("a.txt", kNewer);
    run_.logfile = temp_ / "missing-folder/log.txt";
    const auto result = runCopy();
    EXPECT_EQ(result.cgcs, 1);
    EXPECT_TRUE(exists(target_ + "/a.txt"));
}

// An exception on the walk's thread (out of memory, a progress sink that
// throws) leaves the run while workers still copy: they must never be left
// with the folders they copy into gone (caught under AddressSanitizer).
TEST_F(CopyRunTest, AnExceptionOnTheWalkLeavesNoWorkerOnFreedState) {
    for (int i = 0; i < 200; ++i)
        sourceFile("d" + std::to_string(i % 20) + "/f" + std::to_string(i), kNewer,
                   std::string(4096, 'x'));
    run_.workers = 8;
    hook_.onStep = [](long count, const std::string&) {
        if (count == 150) throw std::runtime_error("no memory");
    };
    EXPECT_THROW(runCopy(), std::runtime_error);
}

// A journal cut short by a kill keeps its whole lines; names with the
// journal's own separators read back as they were written.
TEST(RunRecords, ATruncatedLastLineIsLeftOutAndNamesReadBack) {
    const torrin::JournalHeader header{"/t", "2024-01-02 03:04:05", true, {"/a\tb", "/c\\d"}};
    const std::string text = torrin::journalHeaderText(header) +
                             torrin::journalEntryText({"/a\tb/x\ny", "x\ny", std::nullopt}) +
                             torrin::journalEntryText({"/c\\d/z", "z", std::nullopt});
    const auto whole = torrin::parseJournal(text);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->header, header);
    ASSERT_EQ(whole->entries.size(), 2u);
    EXPECT_EQ(whole->entries[0].source, "/a\tb/x\ny");
    const auto cut = torrin::parseJournal(text.substr(0, text.size() - 3));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->entries.size(), 1u);
    EXPECT_FALSE(torrin::parseJournal("zarvik-torrin-journal 1\ntarget\t/t\nbogus\nbegin\n"));
}

// --- the stored threshold ----------------------------------------------------

TEST_F(CopyRunTest, FdtIsTheStartTimeOneSecondBackAndStoredOnlyAfterTheCopies) {
    ASSERT_TRUE(host::iniWrite(run_.profile, "other", "mpath", "/somewhere"));
    sourceFile("a.txt", kNewer);
    std::string fdtAtFirstCopy = "<none>";
    hook_.onStep = [&](long, const std::string&) {
        fdtAtFirstCopy = host::iniRead(run_.profile, "other", "fdt", "<none>");
        // The copy runs long: the clock moves on, the stored threshold does not.
        clock_.set(kRunMoment + 600);
    };
    const auto result = runCopy();
    // A run killed before its copies are in place leaves the old threshold.
    EXPECT_EQ(fdtAtFirstCopy, "<none>");
    EXPECT_EQ(result.startTime, "2040-03-05 10:20:29");
    EXPECT_EQ(result.endTime, "2040-03-05 10:30:30");
    EXPECT_EQ(host::iniRead(run_.profile, "other", "fdt", ""), "2040-03-05 10:20:29");
    EXPECT_EQ(host::iniRead(run_.profile, "other", "mpath", ""), "/somewhere");
}

TEST_F(CopyRunTest, AFileChangedInTheStartSecondIsCopiedByTheNextRun) {
    sourceFile("a.txt", kOld);
    const auto first = runCopy();
    EXPECT_EQ(first.cgcs, 0);
    // Written after the walk passed it, within the second the run started.
    sourceFile("a.txt", kRunMoment);
    run_.threshold = host::iniRead(run_.profile, "other", "fdt", "");
    clock_.set(kRunMoment + 5);
    EXPECT_EQ(runCopy().cgcs, 1);
}

// --- what the walk leaves alone ---------------------------------------------

TEST_F(CopyRunTest, ATargetInsideTheSourceIsNotWalked) {
    sourceFile("a.txt", kNewer);
    sourceFile("sub/b.txt", kNewer);
    run_.target = temp_.mkdir("data/src/sub/bak");
    for (bool full : {false, true}) {
        run_.fullStructure = full;
        run_.replace = true;
        runCopy();
        runCopy();
    }
    // Only the two source files, each run, never copies of copies.
    EXPECT_EQ(hook_.steps.size(), 8u);
    for (const auto& step : hook_.steps) EXPECT_EQ(step.find("/bak/"), std::string::npos) << step;
    EXPECT_TRUE(exists(run_.target + "/sub/b.txt"));
    EXPECT_TRUE(exists(run_.target + source_ + "/a.txt"));
}

TEST_F(CopyRunTest, ATargetThatIsTheSourceItselfIsNotWalked) {
    sourceFile("a.txt", kNewer);
    run_.target = source_ + "/./";
    EXPECT_EQ(runCopy().cgcs, 0);
    EXPECT_FALSE(exists(source_ + "/0a.txt"));
}

TEST_F(CopyRunTest, FifosAreNeverOpenedAndFolderLinksNeverFollowed) {
    sourceFile("real.txt", kNewer, "real");
    ASSERT_EQ(::mkfifo((source_ + "/pipe").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("..", (source_ + "/loop").c_str()), 0);
    ASSERT_EQ(::symlink("real.txt", (source_ + "/alias.txt").c_str()), 0);
    run_.threshold = "";
    const auto result = runCopy();
    EXPECT_EQ(result.cgcs, 2);
    EXPECT_EQ(result.cccs, 0);
    EXPECT_EQ(TempFolder::read(target_ + "/alias.txt"), "real");
    EXPECT_FALSE(exists(target_ + "/pipe"));
    EXPECT_FALSE(exists(target_ + "/loop"));
}

TEST_F(CopyRunTest, HiddenFilesFollowTheMask) {
    sourceFile(".hidden", kNewer);
    sourceFile("shown", kNewer);
    run_.mask = host::kListNormal;
    EXPECT_EQ(runCopy().cgcs, 1);
    run_.mask = host::kListEverything;
    run_.replace = true;
    EXPECT_EQ(runCopy().cgcs, 2);
    EXPECT_TRUE(exists(target_ + "/.hidden"));
}

// A folder that cannot be listed is a folder left out with its reason, not a
// failed copy; the run goes on, never reports all copied, and ends with 1.
TEST_F(LogTest, AFolderThatCannotBeListedIsLeftOutAndTheRunGoesOn) {
    sourceFile("a.txt", kNewer);
    const std::string missing = temp_ / "no-such-folder";
    run_.sourceFolders = {missing, source_};
    const auto result = runCopy();
    EXPECT_EQ(result.cgcs, 1);
    EXPECT_EQ(result.cccs, 0);
    EXPECT_EQ(result.foldersLeftOut, 1);
    EXPECT_EQ(
        log(),
        gbkLines({start_, thresholdLine_,
                  "无法读取文件夹，其中的文件未复制:" + missing + ": No such file or directory",
                  "复制文件部分成功。成功数：1；失败数:0", "无法读取的文件夹数:1", end_}));
}

TEST_F(LogTest, ADestinationInsideTheSourceIsAFailureAndNothingLandsThere) {
    // The full structure below "/" is the source itself: the copies would be
    // walked again, and with replacing on copied onto themselves.
    sourceFile("a.txt", kNewer, "a");
    run_.target = "/";
    run_.fullStructure = true;
    for (bool replace : {false, true}) {
        run_.replace = replace;
        const auto result = runCopy();
        EXPECT_EQ(result.cgcs, 0);
        EXPECT_EQ(result.cccs, 1);
    }
    EXPECT_TRUE(log().ends_with(gbkLines({start_, thresholdLine_, "以下文件复制出错:",
                                          source_ + "/a.txt: will not copy into \"" + source_ +
                                              "/\": it lies inside the source folder walked",
                                          "复制文件全部失败，失败数:1", end_})))
        << host::gbkToUtf8(log());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(source_), {}), 1);
}

TEST_F(CopyRunTest, AnEmptyFolderIsNoFailure) {
    temp_.mkdir("data/src/empty");
    EXPECT_EQ(runCopy().cccs, 0);
}

// --- files that go away ------------------------------------------------------

TEST_F(LogTest, FilesThatVanishDuringTheRunAreFailedCopiesAndTheRunGoesOn) {
    sourceFile("a.txt", kNewer);
    sourceFile("b.txt", kNewer);  // gone before its times are read
    sourceFile("c.txt", kNewer);  // gone between its times and its copy
    sourceFile("d.txt", kNewer);
    // One at a time, so that each step comes between the walk and the copy.
    run_.workers = 1;
    hook_.onStep = [&](long, const std::string& path) {
        if (path == source_ + "/a.txt") std::filesystem::remove(source_ + "/b.txt");
        if (path == source_ + "/c.txt") std::filesystem::remove(path);
    };
    const auto result = runCopy();
    EXPECT_EQ(result.cgcs, 2);
    EXPECT_EQ(result.cccs, 2);
    EXPECT_EQ(log(), gbkLines({start_, thresholdLine_,
                               "以下文件复制出错:", source_ + "/b.txt: No such file or directory",
                               source_ + "/c.txt: No such file or directory",
                               "复制文件部分成功。成功数：2；失败数:2", end_}));
    EXPECT_FALSE(exists(target_ + "/c.txt"));
}

TEST_F(CopyRunTest, AnUnreadableFileIsAFailedCopy) {
    const std::string file = sourceFile("secret.txt", kNewer);
    testing_support::giveToNobody(temp_.path());
    testing_support::asUnprivileged([&] {
        ASSERT_EQ(::chmod(file.c_str(), 0), 0);
        const auto result = runCopy();
        EXPECT_EQ(result.cccs, 1);
    });
    EXPECT_FALSE(exists(target_ + "/secret.txt"));
}

// --- stored folder lists -------------------------------------------------------

TEST(StoredFolderList, SplitsAtEachSemicolon) {
    using Rows = std::vector<std::string>;
    EXPECT_EQ(torrin::tjywjj("C:\\a;C:\\b;"), (Rows{"C:\\a", "C:\\b"}));
    EXPECT_EQ(torrin::tjywjj("C:\\a"), (Rows{"C:\\a"}));
    EXPECT_EQ(torrin::tjywjj("C:\\a;C:\\b"), (Rows{"C:\\a"}));
    EXPECT_EQ(torrin::tjywjj(";;"), (Rows{"", ""}));
    EXPECT_EQ(torrin::tjywjj(""), Rows{});
    EXPECT_EQ(torrin::tjywjj("/数据/源;/b;"), (Rows{"/数据/源", "/b"}));
}

}  // namespace
