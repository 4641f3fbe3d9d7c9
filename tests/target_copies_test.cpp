// The one copy path of both programs (common::TargetCopies) on real folders:
// a copy ends only holding every byte of one state of its source, it takes
// its name only after a flush, the finishes come in order with their reasons,
// and what a missing or odd source, or a folder removed meanwhile, does.
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/sequences_by_hash.h"
#include "common/target_copies.h"
#include "host/fault_injection.h"
#include "host/fs.h"
#include "support/temp_folder.h"

namespace {

using common::CopyEnd;
using testing_support::TempFolder;

class TargetCopiesTest : public ::testing::TestWithParam<int> {
  protected:
    TargetCopiesTest() : src(folder.mkdir("src")), dst(folder.mkdir("dst")) {}
    ~TargetCopiesTest() override {
        host::faults::setSourceReadLimitForTesting(-1);
        host::faults::setMidCopyActionForTesting(-1, {});
    }

    common::TargetCopies make() { return common::TargetCopies(dst, {GetParam(), false, 16, {}}); }

    // Adds the copy of src/`relative` to dst/`relative`; its end goes to `ends`.
    void add(common::TargetCopies& copies, const std::string& relative, const std::string& name) {
        const std::string folderPart = std::filesystem::path(relative).parent_path().string();
        copies.add({src + "/" + relative, folderPart, name, true, folderPart + "/" + name, {}, 0},
                   [this, name](const CopyEnd& end) {
                       ends.push_back(name + (end.how == CopyEnd::How::Copied ? " copied"
                                              : end.failure ? " " + end.failure->message()
                                                            : " not begun"));
                   });
    }
    bool there(const std::string& relative) const {
        return std::filesystem::exists(dst + "/" + relative);
    }

    TempFolder folder;
    std::string src, dst;
    std::vector<std::string> ends;
};

// A name is given only after the flush that puts the bytes on the device,
// and the copy ends only after the next one has put the name there too.
TEST_P(TargetCopiesTest, ACopyIsNamedAfterOneFlushAndEndsAfterTheNext) {
    folder.write("src/a/x.txt", "x");
    auto copies = make();
    add(copies, "a/x.txt", "x.txt");
    // No flush yet: no name, whatever the workers did (with one, the copy is
    // written by now). In memory (tmpfs) there is nothing to wait for, and
    // the copy is named as it is written.
    struct statfs fs {};
    ASSERT_EQ(::statfs(dst.c_str(), &fs), 0);
    if (fs.f_type != TMPFS_MAGIC) {
        EXPECT_FALSE(there("a/x.txt"));
    }
    copies.settle("a/x.txt");
    EXPECT_TRUE(there("a/x.txt"));
    EXPECT_TRUE(ends.empty());
    ASSERT_TRUE(copies.flush());
    EXPECT_EQ(ends, std::vector<std::string>{"x.txt copied"});
    EXPECT_EQ(TempFolder::read(dst + "/a/x.txt"), "x");
}

TEST_P(TargetCopiesTest, ASourceThatEndsEarlyOrChangesMidwayLeavesNoCopy) {
    const std::string bytes(300000, 'b');
    folder.write("src/short.bin", bytes);
    folder.write("src/saved.bin", bytes);
    folder.write("src/grown.bin", bytes);
    folder.write("src/whole.bin", bytes);
    {
        // As a share whose server stopped answering: the reads end at 65536.
        host::faults::setSourceReadLimitForTesting(65536);
        auto copies = make();
        add(copies, "short.bin", "short.bin");
        ASSERT_TRUE(copies.finishAll());
        host::faults::setSourceReadLimitForTesting(-1);
    }
    {
        // Rewritten in place by another program while it is copied.
        host::faults::setMidCopyActionForTesting(
            100000, [&] { folder.write("src/saved.bin", std::string(300000, 'n')); });
        auto copies = make();
        add(copies, "saved.bin", "saved.bin");
        ASSERT_TRUE(copies.finishAll());
        // Appended to: the same.
        host::faults::setMidCopyActionForTesting(
            100000, [&] { std::ofstream(src + "/grown.bin", std::ios::app) << "more"; });
        add(copies, "grown.bin", "grown.bin");
        add(copies, "whole.bin", "whole.bin");
        ASSERT_TRUE(copies.finishAll());
    }
    EXPECT_EQ(ends,
              (std::vector<std::string>{"short.bin cannot copy \"" + src +
                                            "/short.bin\": the source gave 65536 of 300000 bytes",
                                        "saved.bin cannot copy \"" + src +
                                            "/saved.bin\": the source changed while it was copied",
                                        "grown.bin cannot copy \"" + src +
                                            "/grown.bin\": the source changed while it was copied",
                                        "whole.bin copied"}));
    EXPECT_FALSE(there("short.bin"));
    EXPECT_FALSE(there("saved.bin"));
    EXPECT_FALSE(there("grown.bin"));
    EXPECT_EQ(TempFolder::read(dst + "/whole.bin"), bytes);
    // No temporary file is left either.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dst), {}), 1);
}

TEST_P(TargetCopiesTest, ASourceThatIsNoFileSaysWhatItIsAndMakesNoFolder) {
    ASSERT_EQ(::mkfifo((src + "/pipe").c_str(), 0600), 0);
    folder.mkdir("src/sub/folder");
    auto copies = make();
    add(copies, "new/pipe", "pipe");  // the source is src/new/pipe: missing
    add(copies, "pipe", "pipe");
    add(copies, "sub/folder", "folder");
    ASSERT_TRUE(copies.finishAll());
    EXPECT_EQ(ends, (std::vector<std::string>{
                        "pipe cannot open \"" + src + "/new/pipe\": No such file or directory",
                        "pipe cannot copy \"" + src + "/pipe\": not a file but a FIFO",
                        "folder cannot copy \"" + src + "/sub/folder\": not a file but a folder"}));
    EXPECT_FALSE(there("new"));
    EXPECT_FALSE(there("sub"));
}

TEST_P(TargetCopiesTest, AFolderRemovedDuringTheRunIsMadeAgain) {
    folder.write("src/a/1.txt", "1");
    folder.write("src/a/2.txt", "2");
    auto copies = make();
    add(copies, "a/1.txt", "1.txt");
    ASSERT_TRUE(copies.finishAll());
    std::filesystem::remove_all(dst + "/a");
    add(copies, "a/2.txt", "2.txt");
    // A missing source says so, into a folder already reached or not, and
    // makes no folder for itself.
    add(copies, "a/gone.txt", "gone.txt");
    add(copies, "b/gone.txt", "gone.txt");
    ASSERT_TRUE(copies.finishAll());
    EXPECT_EQ(ends,
              (std::vector<std::string>{
                  "1.txt copied", "2.txt copied",
                  "gone.txt cannot open \"" + src + "/a/gone.txt\": No such file or directory",
                  "gone.txt cannot open \"" + src + "/b/gone.txt\": No such file or directory"}));
    EXPECT_EQ(TempFolder::read(dst + "/a/2.txt"), "2");
    EXPECT_FALSE(there("b"));
}

// The hook before the held copies begin fails (torrin: its journal cannot be
// written): the held copies are dropped, and a copy written before them, past
// a copy that failed, still takes its name and ends.
TEST_P(TargetCopiesTest, AFailingHookDropsOnlyTheCopiesHeldForIt) {
    folder.write("src/a.txt", "a");
    folder.write("src/held.txt", "held");
    auto copies = make();
    add(copies, "a.txt", "a.txt");
    add(copies, "gone.txt", "gone.txt");
    copies.settle("/gone.txt");  // both written (or failed), neither named
    copies.setBeforeRelease([] {
        return host::Status(host::Failure{"cannot write", "journal", EIO, {}});
    });
    copies.holdUntilFlushed();
    add(copies, "held.txt", "held.txt");
    EXPECT_FALSE(copies.flush());
    static_cast<void>(copies.finishAll());  // returns, every copy ended
    EXPECT_EQ(ends, (std::vector<std::string>{"a.txt copied",
                                              "gone.txt cannot open \"" + src +
                                                  "/gone.txt\": No such file or directory"}));
    EXPECT_EQ(TempFolder::read(dst + "/a.txt"), "a");
    EXPECT_FALSE(there("held.txt"));
}

// The failing hook is called by the flush a copy's reads make, as it is
// added: that copy, and any after it, fail with it rather than begin unheld.
TEST_P(TargetCopiesTest, ACopyAddedWhenTheHookHasFailedIsNeverWritten) {
    folder.write("src/held.txt", "held");
    folder.write("src/late.txt", "late");
    auto copies = make();
    copies.setBeforeRelease([] {
        return host::Status(host::Failure{"cannot write", "journal", EIO, {}});
    });
    copies.holdUntilFlushed();
    add(copies, "held.txt", "held.txt");
    copies.holdUntilFlushed();
    copies.add({src + "/late.txt", "", "late.txt", true, "/late.txt", {"/held.txt"}, 0},
               [this](const CopyEnd& end) {
                   ends.push_back(end.failure ? "late.txt " + end.failure->message() : "late.txt");
               });
    static_cast<void>(copies.finishAll());
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_TRUE(ends[0].starts_with("late.txt cannot write")) << ends[0];
    EXPECT_FALSE(there("late.txt"));
    EXPECT_FALSE(there("held.txt"));
}

// The flat table of copies not yet named answers as a map does, through
// collisions, probes that wrap past the table's end, and growth: rounds of
// random steps on 63 random hashes (a table at its fullest, crowded in other
// places each round), each round's hashes erased at its end, then on many.
TEST(SequencesByHash, AnswersAsAMapDoes) {
    std::mt19937_64 random(7);
    common::SequencesByHash table;
    std::unordered_map<std::uint64_t, long> expected;
    long step = 0;
    const auto steps = [&](const std::vector<std::uint64_t>& hashes, int times) {
        for (int i = 0; i < times; ++i, ++step) {
            const std::uint64_t hash = hashes[random() % hashes.size()];
            const auto found = expected.find(hash);
            if (random() % 4 != 0) {
                table.set(hash, step);
                expected[hash] = step;
            } else {
                // Erased only when the sequence is the one held.
                const long sequence = found != expected.end() && random() % 2 ? found->second : -2;
                table.eraseIf(hash, sequence);
                if (found != expected.end() && found->second == sequence) expected.erase(found);
            }
            for (const auto& [held, sequence] : expected)
                ASSERT_EQ(table.find(held), sequence) << "step " << step;
            ASSERT_EQ(table.size(), expected.size());
        }
    };
    const auto drawn = [&](std::size_t count) {
        std::vector<std::uint64_t> hashes(count);
        for (std::uint64_t& hash : hashes) hash = random();
        return hashes;
    };
    for (int round = 0; round < 3000 && !HasFailure(); ++round) {
        steps(drawn(63), 200);
        for (const auto& [held, sequence] : std::unordered_map(expected))
            table.eraseIf(held, sequence);
        expected.clear();
        ASSERT_EQ(table.size(), 0u);
    }
    steps(drawn(3000), 3000);
}

INSTANTIATE_TEST_SUITE_P(Workers, TargetCopiesTest, ::testing::Values(1, 4));

}  // namespace
