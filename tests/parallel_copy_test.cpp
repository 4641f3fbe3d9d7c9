// Several workers against one. The same sources are copied once by one
// worker and twice by many: once with every copy held back a random while,
// once with the later copies forced to complete first
// (host::faults::WorkOrder::LaterFirst), so every wait the copies
// need shows whenever it is missing. What each run leaves must be the same:
// the target folder (names, bytes, modification times, permissions), torrin's
// log and counts, kelvane's marks, and the progress either shows.
//
// The sources map onto the same target names from several folders, so the
// runs cover numbered-name chains, a later source replacing an earlier one,
// and copies that fail inside a chain: every write into a "bad" folder fails
// (an injected full disk), so there only the empty files are copied and the
// names the failed ones would have taken stay free.
#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/ordered_work.h"
#include "grid/grid.h"
#include "host/encoding.h"
#include "host/fault_injection.h"
#include "host/fs.h"
#include "host/progress.h"
#include "kelvane/copy/copy_engine.h"
#include "support/temp_folder.h"
#include "support/work_order.h"
#include "torrin/engine/rcopy.h"

namespace {

namespace fs = std::filesystem;
using testing_support::fsPath;
using testing_support::TempFolder;

constexpr int kManyWorkers = 8;
constexpr int kSources = 3;

using host::faults::WorkOrder;

using testing_support::inOrder;

// Every step a run reports, in order.
struct StepRecord : host::ProgressSink {
    void step(long count, std::string_view current) override {
        steps.emplace_back(count, std::string(current));
    }
    std::vector<std::pair<long, std::string>> steps;
};

class ParallelCopy : public ::testing::Test {
  protected:
    void SetUp() override {
        std::time_t modified = 1700000000;
        const fs::perms modes[] = {
            fs::perms::owner_read | fs::perms::owner_write,
            fs::perms::owner_all | fs::perms::group_read,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read};
        int made = 0;
        const auto make = [&](const std::string& relative, const std::string& bytes) {
            const std::string full = temp_.write(relative, bytes);
            TempFolder::setModified(full, modified += 7);
            fs::permissions(fsPath(full), modes[made++ % 3]);
        };
        for (int source = 1; source <= kSources; ++source) {
            const std::string s = "s" + std::to_string(source) + "/";
            // The same names in every source: one chain of numbered names each.
            make(s + "a.txt", "a from " + s);
            make(s + "sub/x.txt", std::string(1000 * source, 'x'));
            // Only the second source's file is empty, so only it gets through.
            make(s + "bad/b.txt", source == 2 ? "" : "b from " + s);
            // A folder each: torrin hands a folder's files to one worker
            // together, so a dozen folders make a dozen pieces at once.
            for (int i = 0; i < 12; ++i) {
                make(s + "own" + std::to_string(source) + "/d" + std::to_string(i) + "/f",
                     std::string(i * 300, static_cast<char>('a' + i)));
            }
        }
    }

    // A fresh target holding the start of the "a.txt" chain.
    std::string freshTarget(int workers) {
        const std::string target = temp_.mkdir("t" + std::to_string(workers));
        // The failing folder is there from the start: the injected failure
        // knows a folder by the path the system gives it.
        temp_.mkdir("t" + std::to_string(workers) + "/bad");
        for (const char* name : {"a.txt", "0a.txt"}) {
            TempFolder::setModified(temp_.write("t" + std::to_string(workers) + "/" + name, name),
                                    1600000000);
        }
        return target;
    }

    // Runs `copy` into a fresh target with the failing "bad" folder; with many
    // workers every copy is delayed, or the later ones forced first, and some
    // must have completed early.
    template <typename Copy>
    std::string run(int workers, WorkOrder order, const Copy& copy) {
        const std::string target = freshTarget(workers);
        host::faults::setWriteFailureAfterBytesForTesting(
            0, target + testing_support::kSeparator + "bad");
        const long outOfOrder = host::faults::outOfOrderCompletionsForTesting();
        host::faults::setWorkDelayForTesting(workers > 1 && order == WorkOrder::AsPosted ? 3000
                                                                                         : 0);
        inOrder(order, [&] { copy(target, workers); });
        host::faults::setWorkDelayForTesting(0);
        host::faults::setWriteFailureAfterBytesForTesting(-1);
        if (workers > 1) {
            EXPECT_GT(host::faults::outOfOrderCompletionsForTesting(), outOfOrder);
        }
        return target;
    }

    // What a person or a program sees of `folder`: each entry's kind, bytes,
    // permissions and (for files) modification time.
    static std::map<std::string, std::string> snapshot(const std::string& folder) {
        std::map<std::string, std::string> seen;
        for (const auto& entry : fs::recursive_directory_iterator(fsPath(folder))) {
            const std::u8string relative = fs::relative(entry.path(), fsPath(folder)).u8string();
            std::string& what = seen[std::string(relative.begin(), relative.end())];
            what = std::to_string(static_cast<int>(entry.status().permissions()));
            if (entry.is_regular_file()) {
                const std::u8string path = entry.path().u8string();
                what += " " + std::to_string(entry.last_write_time().time_since_epoch().count()) +
                        " " + TempFolder::read(std::string(path.begin(), path.end()));
            }
        }
        return seen;
    }

    std::string source(int n) const { return temp_ / ("s" + std::to_string(n)); }

    // What one run shows: its lines (log or marks and report), its progress
    // and its target folder.
    struct Outcome {
        std::vector<std::string> lines;
        StepRecord progress;
        std::map<std::string, std::string> target;
    };
    // Runs `copy(target, workers, outcome)` with one worker and with many in
    // either order, expects the same outcome of all and returns the
    // one-worker outcome.
    template <typename Copy>
    Outcome sameWithOneAndMany(const Copy& copy) {
        std::vector<Outcome> outcomes;
        for (const auto& [workers, order] :
             {std::pair{1, WorkOrder::AsPosted}, std::pair{kManyWorkers, WorkOrder::AsPosted},
              std::pair{kManyWorkers, WorkOrder::LaterFirst}}) {
            Outcome& outcome = outcomes.emplace_back();
            const std::string target = run(workers, order, [&](const std::string& to, int count) {
                copy(to, count, outcome);
            });
            outcome.target = snapshot(target);
            fs::remove_all(fsPath(target));
        }
        for (std::size_t many = 1; many < outcomes.size(); ++many) {
            SCOPED_TRACE(many == 1 ? "copies held back at random" : "later copies first");
            EXPECT_EQ(outcomes[many].lines, outcomes[0].lines);
            EXPECT_EQ(outcomes[many].progress.steps, outcomes[0].progress.steps);
            EXPECT_EQ(outcomes[many].target, outcomes[0].target);
        }
        return outcomes[0];
    }

    TempFolder temp_;
};

TEST_F(ParallelCopy, TorrinRunsEndAsOneWorkerLeavesThem) {
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replace" : "numbered names");
        const Outcome one =
            sameWithOneAndMany([&](const std::string& target, int workers, Outcome& outcome) {
                torrin::RunDescription description;
                for (int n = 1; n <= kSources; ++n) description.sourceFolders.push_back(source(n));
                description.target = target;
                description.threshold = "2000-01-01 00:00:00";
                description.replace = replace;
                description.logfile = target + ".log";
                description.workers = workers;
                const torrin::RunResult result = torrin::rcopy(description, outcome.progress);
                outcome.lines.push_back(std::to_string(result.cgcs) + "/" +
                                        std::to_string(result.cccs));
                // The log without its two lines of the clock.
                std::istringstream log(host::gbkToUtf8(TempFolder::read(description.logfile)));
                for (std::string line; std::getline(log, line);) {
                    if (!line.starts_with("开始时间:") && !line.starts_with("结束时间:"))
                        outcome.lines.push_back(line);
                }
                fs::remove(fsPath(description.logfile));
            });
        // Two failed copies; in "bad" the empty file took the first name the
        // failed ones left. The chain: the two files already there, then one
        // name per source.
        ASSERT_FALSE(one.lines.empty());
        EXPECT_TRUE(one.lines.front().ends_with("/2"));
        EXPECT_TRUE(one.target.contains(testing_support::native("bad/b.txt")));
        if (!replace) {
            EXPECT_TRUE(one.target.contains("3a.txt") && !one.target.contains("4a.txt"));
        }
    }
}

TEST_F(ParallelCopy, KelvaneMarksAndTargetEndAsOneWorkerLeavesThem) {
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replace" : "no replace");
        const Outcome one =
            sameWithOneAndMany([&](const std::string& target, int workers, Outcome& outcome) {
                // Full names from every source, cut behind the source folder, so
                // the sources' same names meet at one target. One other row lies
                // between rows with the same target, so that both would be under
                // way at once if nothing kept them apart.
                grid::Grid list(grid::loadGridDefinition("htmd1"));
                int own = 0;
                for (const std::string name : {"a.txt", "sub/x.txt", "bad/b.txt", "missing"}) {
                    for (int n = 1; n <= kSources; ++n, ++own) {
                        list.setitem(list.insertrow(0), "md", source(n) + "/" + name);
                        list.setitem(list.insertrow(0), "md",
                                     source(n) + "/own" + std::to_string(n) + "/d" +
                                         std::to_string(own % 12) + "/f");
                    }
                }
                kelvane::CopyPlan plan;
                plan.reading = host::NameReading::Full;
                plan.targetFolder = target;
                plan.cut = static_cast<long>(source(1).size()) + 1;
                plan.replace = replace;
                kelvane::copyShownRows(
                    list, plan, outcome.progress,
                    [&](long row, const std::string& name, const kelvane::CopyPaths&,
                        const kelvane::CopyOutcome& copied) {
                        outcome.lines.push_back(std::to_string(row) + name +
                                                (copied.copied ? " copied" : " failed"));
                    },
                    workers);
                for (long row = 1; row <= list.rowcount(); ++row)
                    outcome.lines.push_back(list.getitemstring(row, "jg") +
                                            (list.isselected(row) ? "+" : "-"));
            });
        // "bad/b.txt" of the three sources (rows 13, 15, 17): only the empty
        // one is copied. With replacing the last source's file is left.
        ASSERT_EQ(one.lines.size(), 48u);
        EXPECT_EQ(one.lines[24 + 12] + one.lines[24 + 14] + one.lines[24 + 16], "失败-成功+失败-");
        if (replace) {
            EXPECT_TRUE(one.target.at(testing_support::native("sub/x.txt"))
                            .ends_with(std::string(3000, 'x')));
        }
    }
}

// A source row below the target: the copies of the rows before it land in
// it before its walk, as one at a time, though the copies are held back as
// long as the run does not wait for them.
TEST(OrderedCopies, TorrinWalksARowAfterTheEarlierRowsCopiesLanded) {
    const TempFolder temp;
    temp.write("S/x/new.txt", "new");
    const std::string target = temp.mkdir("T");
    temp.mkdir("T/x");
    torrin::RunDescription run;
    run.sourceFolders = {temp / "S", temp / "T/x"};
    run.target = target;
    run.threshold = "2000-01-01 00:00:00";
    run.logfile = temp / "log.txt";
    run.workers = 4;
    torrin::RunResult result;
    host::NullProgress quiet;
    inOrder(WorkOrder::LaterFirst, [&] { result = torrin::rcopy(run, quiet); });
    EXPECT_EQ(result.cgcs, 2);
    EXPECT_EQ(result.cccs, 0);
    EXPECT_EQ(TempFolder::read(temp / "T/x/new.txt"), "new");
    EXPECT_EQ(TempFolder::read(temp / "T/new.txt"), "new");
}

// A name chosen while the copy that takes it is still under way (or waits
// for its journal entry): "a.txt" finds "0a.txt" taken by the copy of the
// file "0a.txt" before it, and takes "1a.txt".
TEST(OrderedCopies, TorrinChoosesANameAfterTheCopyTakingItLanded) {
    for (const bool journal : {false, true}) {
        const TempFolder temp;
        temp.write("S/0a.txt", "zero");
        temp.write("S/a.txt", "new");
        temp.write("T/a.txt", "old");
        torrin::RunDescription run;
        run.sourceFolders = {temp / "S"};
        run.target = temp / "T";
        run.threshold = "2000-01-01 00:00:00";
        run.logfile = temp / "log.txt";
        if (journal) run.journal = temp / "journal";
        run.workers = 4;
        torrin::RunResult result;
        host::NullProgress quiet;
        inOrder(WorkOrder::LaterFirst, [&] { result = torrin::rcopy(run, quiet); });
        EXPECT_EQ(result.cgcs, 2) << journal;
        EXPECT_EQ(TempFolder::read(temp / "T/0a.txt"), "zero") << journal;
        EXPECT_EQ(TempFolder::read(temp / "T/1a.txt"), "new") << journal;
    }
}

// The target inside the source: S/bak/a.txt is both a row's source and
// "/a.txt"'s target. The rows are copied in `rows`' order, each piece held
// back so that the later ones would run first.
void copyIntoTargetInsideSource(const TempFolder& temp, std::initializer_list<const char*> rows) {
    temp.write("S/a.txt", "new");
    temp.write("S/bak/a.txt", "old");
    grid::Grid list(grid::loadGridDefinition("htmd1"));
    for (const char* name : rows)
        list.setitem(list.insertrow(0), "md", testing_support::native(name));
    kelvane::CopyPlan plan;
    plan.sourceFolder = temp / "S";
    plan.targetFolder = temp / "S/bak";
    host::NullProgress quiet;
    inOrder(WorkOrder::LaterFirst,
            [&] { kelvane::copyShownRows(list, plan, quiet, {}, kManyWorkers); });
}

// The row "/a.txt" writes the file the later row "/bak/a.txt" reads, which
// then copies what the earlier row left.
TEST(OrderedCopies, KelvaneRowReadsWhatAnEarlierRowWrote) {
    const TempFolder temp;
    copyIntoTargetInsideSource(temp, {"/a.txt", "/bak/a.txt"});
    EXPECT_EQ(TempFolder::read(temp / "S/bak/a.txt"), "new");
    EXPECT_EQ(TempFolder::read(temp / "S/bak/bak/a.txt"), "new");
}

// The other way round: the row "/a.txt" writes the file the earlier row
// "/bak/a.txt" reads, which still copies what was there before.
TEST(OrderedCopies, KelvaneRowWritesWhatAnEarlierRowReads) {
    const TempFolder temp;
    copyIntoTargetInsideSource(temp, {"/bak/a.txt", "/a.txt"});
    EXPECT_EQ(TempFolder::read(temp / "S/bak/a.txt"), "new");
    EXPECT_EQ(TempFolder::read(temp / "S/bak/bak/a.txt"), "old");
}

}  // namespace

namespace {

TEST(Workers, TheJobsSettingCountsOnlyFromOneToSixtyFour) {
    const TempFolder temp;
    const std::string profile = temp / "settings.ini";
    EXPECT_EQ(common::storedWorkers(profile), common::kDefaultWorkers) << "no file";
    for (const auto& [content, workers] : std::vector<std::pair<std::string, int>>{
             {"[other]\r\nJOBS= 16 \r\n", 16},
             {"[other]\r\njobs=1\r\n", 1},
             {"[other]\r\njobs=64\r\n", 64},
             {"[other]\r\njobs=65\r\n", common::kDefaultWorkers},
             {"[other]\r\njobs=0\r\n", common::kDefaultWorkers},
             {"[other]\r\njobs=2x\r\n", common::kDefaultWorkers},
             {"[elsewhere]\r\njobs=2\r\n", common::kDefaultWorkers}}) {
        temp.write("settings.ini", content);
        EXPECT_EQ(common::storedWorkers(profile), workers) << content;
    }
}

}  // namespace
