// Copies that meet at one file. Names that a stick takes for one file (case
// on FAT and exFAT through FUSE, non-ASCII case on exFAT), and a link in the
// target to another of its folders: several workers must leave what one
// leaves. Two programs copying into one folder of a stick at once, where the
// system refuses both the renames that never replace and hard links: each
// name is copied by exactly one of them and holds that one's bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/ordered_work.h"
#include "hardening_support.h"
#include "host/encoding.h"
#include "host/fault_injection.h"
#include "support/mounted.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Mounted;
using testing_support::TempFolder;

constexpr int kManyWorkers = 8;

// What a run leaves: its lines (log or marks) and the target's files.
struct Seen {
    std::vector<std::string> lines;
    std::map<std::string, std::string> files;
};

std::map<std::string, std::string> filesBelow(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string relative = fs::relative(entry.path(), folder).string();
        files[relative] = entry.is_symlink()        ? "link"
                          : entry.is_regular_file() ? TempFolder::read(entry.path().string())
                                                    : "folder";
    }
    return files;
}

class MeetingCopies : public ::testing::Test {
  protected:
    // Copies `source` into `target` (made, or held ready by `prepare`) by
    // torrin's engine and by kelvane's, with one worker and with many whose
    // copies are held back a while; expects the same of both and returns what
    // one worker left, per program and replace setting.
    template <typename Prepare>
    std::map<std::string, Seen> sameWithOneAndMany(const std::string& source,
                                                   const std::string& targets,
                                                   const Prepare& prepare) {
        std::map<std::string, Seen> ones;
        for (const bool replace : {false, true}) {
            for (const std::string program : {"torrin", "kelvane"}) {
                std::map<int, Seen> seen;
                for (const int workers : {1, kManyWorkers}) {
                    const std::string target = targets + "/" + program + std::to_string(replace) +
                                               "-" + std::to_string(workers);
                    fs::create_directory(target);
                    prepare(target);
                    host::faults::setWorkDelayForTesting(workers > 1 ? 3000 : 0);
                    seen[workers] = program == "torrin" ? torrin(source, target, replace, workers)
                                                        : kelvane(source, target, replace, workers);
                    host::faults::setWorkDelayForTesting(0);
                }
                SCOPED_TRACE(program + (replace ? " replacing" : " not replacing"));
                EXPECT_EQ(seen[kManyWorkers].lines, seen[1].lines);
                EXPECT_EQ(seen[kManyWorkers].files, seen[1].files);
                ones[program + (replace ? " replacing" : "")] = seen[1];
            }
        }
        return ones;
    }

    Seen torrin(const std::string& source, const std::string& target, bool replace, int workers) {
        torrin::RunDescription run;
        run.sourceFolders = {source};
        run.target = target;
        run.threshold = "2000-01-01 00:00:00";
        run.replace = replace;
        run.logfile = temp_ / "log.txt";
        run.workers = workers;
        host::NullProgress quiet;
        torrin::rcopy(run, quiet);
        Seen seen;
        std::istringstream log(host::gbkToUtf8(TempFolder::read(run.logfile)));
        for (std::string line; std::getline(log, line);) {
            if (line.starts_with("开始时间:") || line.starts_with("结束时间:")) continue;
            // Each run has a target of its own; a failure names it.
            for (std::size_t at; (at = line.find(target)) != std::string::npos;)
                line.replace(at, target.size(), "TARGET");
            seen.lines.push_back(line);
        }
        fs::remove(run.logfile);
        seen.files = filesBelow(target);
        return seen;
    }

    static Seen kelvane(const std::string& source, const std::string& target, bool replace,
                        int workers) {
        grid::Grid list(grid::loadGridDefinition("htmd1"));
        hardening::walkAndCopy(list, source, target, replace, host::kListNormal, workers);
        Seen seen;
        for (long row = 1; row <= list.rowcount(); ++row)
            seen.lines.push_back(list.getitemstring(row, "md") + " " +
                                 list.getitemstring(row, "jg"));
        seen.files = filesBelow(target);
        return seen;
    }

    TempFolder temp_;
};

class OnSticks : public MeetingCopies, public ::testing::WithParamInterface<std::string> {
  protected:
    void SetUp() override {
        top_ = temp_.mkdir("top");
        mounted_.emplace(GetParam(), temp_ / "image", top_);
        SKIP_UNLESS_MOUNTED(GetParam(), *mounted_);
    }

    std::string top_;
    std::optional<Mounted> mounted_;
};

TEST_P(OnSticks, NamesTheStickTakesForOneEndAsWithOneWorker) {
    // The FUSE FAT driver refuses names beyond ASCII.
    std::vector<std::string> names = {"Read.me", "read.ME", "other.txt"};
    if (GetParam() != "vfat") names.insert(names.end(), {"É.txt", "é.txt", "e\xCC\x81.txt"});
    std::time_t modified = 1700000000;
    for (const std::string& name : names)
        TempFolder::setModified(temp_.write("s/" + name, "from " + name), modified += 60);
    const auto ones = sameWithOneAndMany(temp_ / "s", top_, [](const std::string&) {});
    if (GetParam() == "exfat") {
        // É.txt first in the walk, then é.txt finds its name taken.
        EXPECT_EQ(ones.at("torrin").files.at("0é.txt"), "from é.txt");
        EXPECT_EQ(ones.at("torrin replacing").files.at("é.txt"), "from é.txt");
    }
    if (!GetParam().empty()) {
        EXPECT_EQ(ones.at("torrin").files.at("0read.ME"), "from read.ME");
    }
}

// Two kelvane processes copy the same names from two sources into one folder
// of the stick at once, never replacing. A few names per folder: the FUSE FAT
// driver garbles files once a folder outgrows its first cluster (64 entries,
// and every temporary name takes four).
TEST_P(OnSticks, NeverReplaceHoldsBetweenTwoPrograms) {
    std::vector<std::string> names;
    for (int folder = 0; folder < 12; ++folder) {
        for (int file = 0; file < 3; ++file)
            names.push_back("d" + std::to_string(folder) + "/f" + std::to_string(file));
    }
    for (const std::string source : {"a", "b"}) {
        for (const std::string& name : names) temp_.write(source + "/" + name, source + name);
    }
    const std::string target = top_ + "/t";
    ASSERT_TRUE(host::createFolder(target));
    const auto command = [&](const std::string& source) {
        // Each waits between finding a name free and taking it.
        return "ZARVIK_TEST_FREE_NAME_WAIT=2000 '" + std::string(KELVANE_PROGRAM) + "' check '" +
               temp_ / source + "' '" + target + "' --copy --no-replace --jobs 4 >'" +
               temp_ / (source + ".out") + "' 2>/dev/null";
    };
    Mounted::run("(" + command("a") + " & " + command("b") + " & wait)");
    const std::string printed[] = {TempFolder::read(temp_ / "a.out"),
                                   TempFolder::read(temp_ / "b.out")};
    for (const std::string& name : names) {
        std::string copiedBy;
        for (int run = 0; run < 2; ++run) {
            if (printed[run].find("/" + name + "\t成功") != std::string::npos)
                copiedBy += "ab"[run];
        }
        EXPECT_EQ(copiedBy.size() == 1 ? copiedBy + name : "one of a and b",
                  TempFolder::read(target + "/" + name))
            << name << " copied by \"" << copiedBy << "\"";
    }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, OnSticks, ::testing::Values("", "vfat", "exfat"),
                         [](const auto& info) {
                             return info.param.empty() ? std::string("tmp") : info.param;
                         });

TEST_F(MeetingCopies, ALinkToAnotherFolderOfTheTargetIsNeverWrittenThroughByAnyWorker) {
    // The target's "l" leads to its "d": the copies of the source's "l" fail,
    // and "d" holds only the source's "d".
    for (const char* folder : {"d", "l"}) {
        for (int i = 0; i < 4; ++i)
            temp_.write(std::string("s/") + folder + "/x" + std::to_string(i),
                        std::string(folder) + std::to_string(i));
    }
    temp_.mkdir("targets");
    const auto ones =
        sameWithOneAndMany(temp_ / "s", temp_ / "targets", [](const std::string& target) {
            fs::create_directory(target + "/d");
            fs::create_directory_symlink("d", target + "/l");
        });
    EXPECT_EQ(ones.at("torrin").files.count("d/0x3"), 0u);
    EXPECT_EQ(ones.at("kelvane replacing").files.at("d/x3"), "d3");
}

}  // namespace
