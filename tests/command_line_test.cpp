// kelvane's command line, run as the built program in a temporary folder with
// no display: its output blocks, its messages and its exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "kelvane/command_line.h"
#include "kelvane/copy/progress_line.h"
#include "support/temp_folder.h"
#if KELVANE_TEST_SPREADSHEETS
#include "import_fixtures.h"
#endif

extern char** environ;

using namespace std::string_literals;

using testing_support::TempFolder;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// One block of the output: its heading line and its rows, split at tabs.
struct Block {
    std::string heading;
    std::vector<std::vector<std::string>> rows;
};

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

std::map<std::string, Block> blocks(const std::string& out) {
    std::map<std::string, Block> found;
    Block* current = nullptr;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(start, end - start);
        start = end + 1;
        if (line.empty()) {
            current = nullptr;
        } else if (!current) {
            const std::string name = line.substr(0, line.find('\t'));
            current = &found[name];
            current->heading = line;
        } else {
            current->rows.push_back(split(line));
        }
    }
    return found;
}

std::vector<std::string> firstFields(const Block& block) {
    std::vector<std::string> names;
    for (const auto& row : block.rows) names.push_back(row.at(0));
    return names;
}

class CommandLine : public ::testing::Test {
  protected:
    CommandLine() : src(folder.mkdir("src")), dst(folder.mkdir("dst")) {}

    // Where standard output goes: a file read back, another file such as
    // /dev/full, or a pipe whose reader has gone.
    enum class Output { Read, Elsewhere, ClosedPipe };

    // Runs the program with `args` in the temporary folder, with no display
    // and no Qt platform named, so any attempt at a window would fail.
    // With `errTerminal`, standard error is that pseudo-terminal's side and
    // Outcome::err stays empty (the caller reads the other side).
    Outcome run(const std::vector<std::string>& args, Output output = Output::Read,
                std::string outPath = {}, int errTerminal = -1) {
        if (output == Output::Read) outPath = folder / "stdout.txt";
        const std::string errPath = folder / "stderr.txt";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int pipeEnds[2] = {-1, -1};
        if (output == Output::ClosedPipe) {
            if (::pipe(pipeEnds) != 0) ADD_FAILURE() << "no pipe";
            ::close(pipeEnds[0]);
            posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
            posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
        } else {
            posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        if (errTerminal >= 0)
            posix_spawn_file_actions_adddup2(&actions, errTerminal, 2);
        else
            posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addchdir_np(&actions, folder.path().c_str());

        std::vector<std::string> argStore{KELVANE_PROGRAM};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : argStore) argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::vector<std::string> envStore;
        for (char** entry = environ; *entry; ++entry) {
            const std::string_view text(*entry);
            if (text.starts_with("DISPLAY=") || text.starts_with("WAYLAND_DISPLAY=") ||
                text.starts_with("QT_QPA_PLATFORM="))
                continue;
            envStore.emplace_back(text);
        }
        std::vector<char*> envp;
        for (auto& entry : envStore) envp.push_back(entry.data());
        envp.push_back(nullptr);

        Outcome result;
        pid_t pid = 0;
        const int spawned =
            posix_spawn(&pid, KELVANE_PROGRAM, &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (pipeEnds[1] >= 0) ::close(pipeEnds[1]);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << KELVANE_PROGRAM << ": " << std::strerror(spawned);
            return result;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (output == Output::Read) result.out = TempFolder::read(outPath);
        if (errTerminal < 0) result.err = TempFolder::read(errPath);
        return result;
    }

    TempFolder folder;
    std::string src;
    std::string dst;
};

TEST_F(CommandLine, HelpExplainsTheCommandAndItsExitStatus) {
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("kelvane check SOURCE TARGET"), std::string::npos);
    EXPECT_NE(help.out.find("--no-replace"), std::string::npos);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
    EXPECT_TRUE(help.err.empty());
    EXPECT_EQ(run({"check", "--help"}).status, 0);
}

TEST_F(CommandLine, BadArgumentsExitTwoWithAMessage) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"check"},
                                                 {"check", src},
                                                 {"check", src, dst, "third"},
                                                 {"check", src, dst, "--option", "6"},
                                                 {"check", src, dst, "--option"},
                                                 {"check", src, dst, "--verbose"},
                                                 {"check", src, dst, "--copy", "--jobs"},
                                                 {"compare", src, dst}}) {
        const Outcome refused = run(args);
        EXPECT_EQ(refused.status, 2) << args.back();
        EXPECT_TRUE(refused.out.empty()) << args.back();
        EXPECT_NE(refused.err.find("kelvane --help"), std::string::npos) << refused.err;
    }
}

TEST_F(CommandLine, RefusalsSayWhatIsWrongWithTheNameGiven) {
    const std::string file = folder.write("plain", "x");
    const std::string fifo = folder / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"check", src, dst, "third", "fourth"},
         "check takes one SOURCE and one TARGET; also given: third fourth"},
        {{"check", file, dst},
         "source is a file, not a folder (a list file's name ends in .txt, .xls, .xlsx or "
         ".csv): " +
             file},
        {{"check", src, fifo}, "target is a FIFO, not a folder: " + fifo},
        {{"check", "", dst}, "SOURCE is empty"},
        {{"check", src, " "}, "TARGET is blank"},
        {{""}, "unknown command: \"\""},
    };
    for (const auto& [args, message] : cases) {
        const Outcome refused = run(args);
        EXPECT_EQ(refused.status, 2) << message;
        EXPECT_NE(refused.err.find("kelvane: " + message + "\n"), std::string::npos) << refused.err;
    }
    // A --jobs value that names no number of workers is worth a warning
    // whether or not anything is copied: the walks use it too.
    const Outcome jobs = run({"check", src, dst, "--jobs", "abc"});
    EXPECT_EQ(jobs.status, 0);
    EXPECT_EQ(jobs.err,
              "kelvane: --jobs takes a number from 1 to 64, not abc; working on 4 workers\n");
}

TEST_F(CommandLine, MissingFolderIsNamedAndExitsTwo) {
    const Outcome missing = run({"check", src, folder / "nowhere"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("target folder does not exist: " + folder / "nowhere"),
              std::string::npos)
        << missing.err;
    EXPECT_TRUE(missing.out.empty());
    // A folder whose name ends like a list file's is called a folder.
    const std::string named = folder.mkdir("dir.txt");
    const Outcome folderList = run({"check", named, dst});
    EXPECT_EQ(folderList.status, 2);
    EXPECT_NE(folderList.err.find("source is a folder, but its name ends as a list "
                                  "file's does: " +
                                  named),
              std::string::npos)
        << folderList.err;
}

TEST_F(CommandLine, UnreadableListFileIsNamedAndExitsTwo) {
    const std::string broken = folder.write("names.xlsx", "not a workbook");
    const Outcome refused = run({"check", broken, dst});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find(broken), std::string::npos) << refused.err;
    const Outcome absent = run({"check", folder / "absent.txt", dst});
    EXPECT_EQ(absent.status, 2);
    EXPECT_NE(absent.err.find(folder / "absent.txt"), std::string::npos) << absent.err;
}

#if KELVANE_TEST_SPREADSHEETS
TEST_F(CommandLine, ASpreadsheetListGivesColumnAFromRowTwo) {
    folder.write("dst/b.txt", "b");
    const std::string list = folder / "names.xlsx";
    import_fixtures::writePackage(
        list, import_fixtures::minimalWorkbookParts(
                  "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>"
                  "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>1</v></c>"
                  "<c r=\"B2\" t=\"s\"><v>3</v></c></row>"
                  "<row r=\"3\"><c r=\"A3\" t=\"s\"><v>2</v></c></row>",
                  "<si><t>/heading.txt</t></si><si><t>/a.txt</t></si><si><t>/b.txt</t></si>"
                  "<si><t>/beside.txt</t></si>"));
    const Outcome checked = run({"check", list, dst});
    EXPECT_EQ(checked.status, 0) << checked.err;
    EXPECT_EQ(firstFields(blocks(checked.out)["[dw_1]"]), std::vector<std::string>{"/a.txt"});
}
#endif

TEST_F(CommandLine, OutputThatCannotBeWrittenExitsTwoAndTheCopiesStillRun) {
    folder.write("src/clash", "a file here");
    folder.write("dst/clash/inside.txt", "a folder there");
    folder.write("src/fine.txt", "f");
    // A failed copy (1) and a full device: 2 wins.
    const Outcome full = run({"check", src, dst, "--copy"}, Output::Elsewhere, "/dev/full");
    EXPECT_EQ(full.status, 2);
    EXPECT_NE(full.err.find("kelvane: the output could not be written"), std::string::npos)
        << full.err;
    EXPECT_EQ(TempFolder::read(dst + "/fine.txt"), "f");
    // A reader that has gone ("| head -1"): no end by a signal, the same status.
    const Outcome gone = run({"check", src, dst}, Output::ClosedPipe);
    EXPECT_EQ(gone.status, 2) << gone.err;
    EXPECT_EQ(run({"--help"}, Output::ClosedPipe).status, 2);
}

TEST_F(CommandLine, CopyNeedsTwoFolders) {
    const std::string list = folder.write("names.txt", "/a.txt\n");
    const Outcome refused = run({"check", list, dst, "--copy"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("folders"), std::string::npos);
}

TEST_F(CommandLine, PrintsEachListsDifferencesAndTheDuplicateLists) {
    folder.write("src/a.txt", "a");
    folder.write("src/sub/b.txt", "b");
    folder.write("src/both.txt", "1");
    folder.write("dst/both.txt", "1");
    folder.write("dst/only.txt", "o");
    const Outcome checked = run({"check", src, dst});
    EXPECT_EQ(checked.status, 0) << checked.err;
    auto found = blocks(checked.out);
    ASSERT_EQ(found.size(), 4u) << checked.out;
    EXPECT_EQ(firstFields(found["[dw_1]"]), (std::vector<std::string>{"/a.txt", "/sub/b.txt"}));
    EXPECT_EQ(firstFields(found["[dw_2]"]), std::vector<std::string>{"/only.txt"});
    EXPECT_TRUE(found["[dw_3]"].rows.empty());
    EXPECT_TRUE(found["[dw_4]"].rows.empty());
    // Heading: the block's name, then the grid's column headings.
    EXPECT_EQ(split(found["[dw_1]"].heading).size(), 7u);
    EXPECT_EQ(split(found["[dw_3]"].heading),
              (std::vector<std::string>{"[dw_3]", "重复名单1", "序号"}));
    // Every column of the row, jg third.
    ASSERT_EQ(found["[dw_1]"].rows[0].size(), 6u);
    EXPECT_EQ(found["[dw_1]"].rows[0][2], "不同");
    // A check copies nothing.
    EXPECT_FALSE(std::filesystem::exists(dst + "/a.txt"));
}

TEST_F(CommandLine, HiddenFilesTakePartUnlessLeftOut) {
    folder.write("src/.hidden", "h");
    folder.write("src/seen.txt", "s");
    EXPECT_EQ(firstFields(blocks(run({"check", src, dst}).out)["[dw_1]"]),
              (std::vector<std::string>{"/.hidden", "/seen.txt"}));
    EXPECT_EQ(firstFields(blocks(run({"check", src, dst, "--no-hidden"}).out)["[dw_1]"]),
              std::vector<std::string>{"/seen.txt"});
}

TEST_F(CommandLine, OptionListsMatchedNamesWhoseFilesDiffer) {
    folder.write("src/same.txt", "12");
    folder.write("dst/same.txt", "12");
    folder.write("src/longer.txt", "123");
    folder.write("dst/longer.txt", "1");
    const Outcome checked = run({"check", src + "/", dst, "--option", "1"});
    EXPECT_EQ(checked.status, 0) << checked.err;
    auto found = blocks(checked.out);
    EXPECT_EQ(split(found["[dw_3]"].heading),
              (std::vector<std::string>{"[dw_3]", "文件的长度不同的名单", "序号"}));
    ASSERT_EQ(found["[dw_3]"].rows.size(), 1u);
    EXPECT_EQ(found["[dw_3]"].rows[0], (std::vector<std::string>{"/longer.txt", "1"}));
    EXPECT_TRUE(found["[dw_1]"].rows.empty());
}

// Times shown and compared to the second, on both sides of a second
// boundary: the last nanosecond of a second is still that second. The copy
// keeps the time to the nanosecond.
TEST_F(CommandLine, ModificationTimesCountWholeSecondsAndCopiesKeepTheirNanoseconds) {
    constexpr std::time_t kSecond = 1700000000;
    const auto make = [&](const std::string& relative, std::time_t seconds, long nanoseconds) {
        TempFolder::setModified(folder.write(relative, "x"), seconds, nanoseconds);
    };
    make("src/one second.txt", kSecond, 1);
    make("dst/one second.txt", kSecond, 999999999);
    make("src/across.txt", kSecond, 999999999);
    make("dst/across.txt", kSecond + 1, 0);
    make("src/new.txt", kSecond, 999999999);
    const Outcome checked = run({"check", src, dst, "--option", "2", "--copy"});
    EXPECT_EQ(checked.status, 0) << checked.err;
    auto found = blocks(checked.out);
    EXPECT_EQ(firstFields(found["[dw_3]"]), std::vector<std::string>{"/across.txt"});
    EXPECT_EQ(firstFields(found["[copy]"]), std::vector<std::string>{"/new.txt"});
    struct stat copied {};
    ASSERT_EQ(::stat((dst + "/new.txt").c_str(), &copied), 0);
    EXPECT_EQ(copied.st_mtim.tv_sec, kSecond);
    EXPECT_EQ(copied.st_mtim.tv_nsec, 999999999);
}

TEST_F(CommandLine, ContentOptionListsFilesOneByteApart) {
    constexpr std::time_t kTime = 1328259907;
    for (const auto& [name, bytes] : {std::pair{"src/same.txt", "abc"},
                                      {"dst/same.txt", "abc"},
                                      {"src/edited.txt", "abc"},
                                      {"dst/edited.txt", "abd"}})
        TempFolder::setModified(folder.write(name, bytes), kTime);
    const Outcome checked = run({"check", src, dst, "--option", "5", "--jobs", "2"});
    EXPECT_EQ(checked.status, 0) << checked.err;
    auto found = blocks(checked.out);
    EXPECT_EQ(split(found["[dw_3]"].heading),
              (std::vector<std::string>{"[dw_3]", "文件的内容不同的名单", "序号"}));
    EXPECT_EQ(found["[dw_3]"].rows, (std::vector<std::vector<std::string>>{{"/edited.txt", "1"}}));
}

// Patterns leave names out of both walks; an excluded folder is never even
// opened, as the program's system calls show.
TEST_F(CommandLine, ExcludedNamesLeaveBothListsAndTheirFoldersAreNeverOpened) {
    for (const char* name :
         {"src/keep.txt", "src/a.tmp", "src/build/o.txt", "src/sub/build/b.txt",
          "src/web/node_modules/m.js", "src/photos/1/a.raw", "src/myphotos/b.raw", "dst/only.txt",
          "dst/deep/b.tmp", "dst/build/x.txt", "dst/node_modules/n.js"})
        folder.write(name, name);
    const std::string patterns = folder.write("patterns", "# made by hand\r\n*.tmp\r\n\r\n");
    const std::string trace = folder / "trace";
    const std::string command = "cd '" + folder.path() +
                                "' && ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -qq "
                                "-e trace=open,openat,openat2 -o '" +
                                trace + "' '" + KELVANE_PROGRAM +
                                "' check src dst --exclude-from patterns "
                                "--exclude=/build/ --exclude node_modules/ --exclude "
                                "'photos/**/*.raw' >out.txt";
    ASSERT_EQ(std::system(command.c_str()), 0) << "strace is needed";
    auto found = blocks(TempFolder::read(folder / "out.txt"));
    EXPECT_EQ(firstFields(found["[dw_1]"]),
              (std::vector<std::string>{"/keep.txt", "/myphotos/b.raw", "/sub/build/b.txt"}));
    EXPECT_EQ(firstFields(found["[dw_2]"]), std::vector<std::string>{"/only.txt"});
    const std::string calls = TempFolder::read(trace);
    EXPECT_NE(calls.find("sub/build"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("node_modules"), std::string::npos) << calls;

    EXPECT_EQ(run({"check", src, dst, "--exclude-from", folder / "absent"}).status, 2);
}

TEST_F(CommandLine, DuplicateNamesOfTextListsGoToTheirBlocks) {
    const std::string list1 = folder.write("one.txt", "/a\n/b\n/b\n");
    const std::string list2 = folder.write("two.TXT", "/b\n/c\n");
    const Outcome checked = run({"check", list1, list2});
    EXPECT_EQ(checked.status, 0) << checked.err;
    auto found = blocks(checked.out);
    EXPECT_EQ(firstFields(found["[dw_1]"]), std::vector<std::string>{"/a"});
    EXPECT_EQ(firstFields(found["[dw_2]"]), std::vector<std::string>{"/c"});
    EXPECT_EQ(firstFields(found["[dw_3]"]), std::vector<std::string>{"/b"});
}

#if KELVANE_TEST_SPREADSHEETS
// An .xls saved with its second sheet active, and a .csv: names from row 2.
TEST_F(CommandLine, XlsActiveSheetAndCsvLists) {
    using import_fixtures::XlsCell;
    const std::vector<std::vector<XlsCell>> sheets = {
        {{0, 0, std::string("md")}, {1, 0, std::string("/wrong")}},
        {{0, 0, std::string("md")}, {1, 0, std::string("/a")}, {2, 0, std::string("/b")}}};
    const std::string list1 = folder.write("one.xls", import_fixtures::xlsSheetsFile(sheets, 1));
    const std::string list2 = folder.write("two.csv", "md\n/b\n/c\n");
    const Outcome checked = run({"check", list1, list2});
    EXPECT_EQ(checked.status, 0) << checked.err;
    auto found = blocks(checked.out);
    EXPECT_EQ(firstFields(found["[dw_1]"]), std::vector<std::string>{"/a"});
    EXPECT_EQ(firstFields(found["[dw_2]"]), std::vector<std::string>{"/c"});
}
#endif

TEST_F(CommandLine, CopyCopiesListOnesDifferencesAndReportsEachFile) {
    folder.write("src/a.txt", "a");
    folder.write("src/sub/deeper/b.txt", "b");
    folder.write("src/both.txt", "new");
    folder.write("dst/both.txt", "old");
    const Outcome copied = run({"check", src, dst, "--copy"});
    EXPECT_EQ(copied.status, 0) << copied.err;
    EXPECT_EQ(copied.err, "") << "no progress line when standard error is no terminal";
    auto found = blocks(copied.out);
    ASSERT_EQ(found.count("[copy]"), 1u) << copied.out;
    EXPECT_EQ(found["[copy]"].rows, (std::vector<std::vector<std::string>>{
                                        {"/a.txt", "成功"}, {"/sub/deeper/b.txt", "成功"}}));
    EXPECT_EQ(TempFolder::read(dst + "/sub/deeper/b.txt"), "b");
    EXPECT_EQ(TempFolder::read(dst + "/both.txt"), "old");

    // A second run finds nothing left to copy.
    const Outcome again = run({"check", src, dst, "--copy", "--no-replace"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(blocks(again.out)["[copy]"].rows.empty());
}

TEST_F(CommandLine, UpdateAlsoReplacesWhatTheOptionFoundDifferent) {
    constexpr std::time_t kTime = 1328259907;
    for (const auto& [name, bytes] : {std::pair{"src/new.txt", "n"},
                                      {"src/edited.txt", "abc"},
                                      {"dst/edited.txt", "abd"},
                                      {"src/same.txt", "s"},
                                      {"dst/same.txt", "s"}})
        TempFolder::setModified(folder.write(name, bytes), kTime);
    const Outcome updated = run({"check", src, dst, "--option", "5", "--copy", "--update"});
    EXPECT_EQ(updated.status, 0) << updated.err;
    auto found = blocks(updated.out);
    EXPECT_EQ(firstFields(found["[dw_3]"]), std::vector<std::string>{"/edited.txt"});
    EXPECT_EQ(found["[copy]"].rows, (std::vector<std::vector<std::string>>{
                                        {"/new.txt", "成功"}, {"/edited.txt", "成功"}}));
    EXPECT_EQ(TempFolder::read(dst + "/edited.txt"), "abc");

    // A target edited after its source is kept, and listed, unless forced.
    TempFolder::setModified(folder.write("dst/edited.txt", "mine"), kTime + 1);
    const Outcome kept = run({"check", src, dst, "--option", "5", "--copy", "--update"});
    EXPECT_EQ(kept.status, 0) << kept.err;
    found = blocks(kept.out);
    EXPECT_EQ(firstFields(found["[newer]"]), std::vector<std::string>{"/edited.txt"});
    EXPECT_TRUE(found["[copy]"].rows.empty());
    EXPECT_EQ(TempFolder::read(dst + "/edited.txt"), "mine");
    run({"check", src, dst, "--option", "5", "--copy", "--update", "--force"});
    EXPECT_EQ(TempFolder::read(dst + "/edited.txt"), "abc");

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"check", src, dst, "--copy", "--update"},
          {"check", src, dst, "--option", "4", "--copy", "--update", "--no-replace"},
          {"check", src, dst, "--option", "4", "--update"},
          {"check", src, dst, "--option", "4", "--copy", "--force"}}) {
        const Outcome refused = run(args);
        EXPECT_EQ(refused.status, 2) << args.back();
        EXPECT_NE(refused.err.find("--update"), std::string::npos) << refused.err;
        EXPECT_TRUE(refused.out.empty());
    }
}

TEST_F(CommandLine, VerifyFailsACopyThatDoesNotReadBackAsWritten) {
    folder.write("src/a.txt", "a");
    folder.write("src/b.txt", "b");
    // The second copy is damaged on the device after it was written.
    ::setenv("ZARVIK_TEST_CORRUPT_COPY", "2", 1);
    const Outcome copied = run({"check", src, dst, "--copy", "--verify", "--jobs", "1"});
    ::unsetenv("ZARVIK_TEST_CORRUPT_COPY");
    EXPECT_EQ(copied.status, 1);
    EXPECT_EQ(blocks(copied.out)["[copy]"].rows,
              (std::vector<std::vector<std::string>>{{"/a.txt", "成功"}, {"/b.txt", "失败"}}));
    EXPECT_NE(copied.err.find("cannot verify the copy \"" + dst + "/b.txt\""), std::string::npos)
        << copied.err;
    EXPECT_FALSE(std::filesystem::exists(dst + "/b.txt"));
    EXPECT_EQ(run({"check", src, dst, "--verify"}).status, 2);
}

TEST_F(CommandLine, JobsOutsideOneToSixtyFourCopyOnTheDefaultWorkersAfterAWarning) {
    for (int i = 0; i < 20; ++i) folder.write("src/f" + std::to_string(i), std::to_string(i));
    const Outcome one = run({"check", src, dst, "--copy", "--jobs", "1"});
    EXPECT_EQ(one.err, "");
    std::filesystem::remove_all(dst);
    folder.mkdir("dst");
    const Outcome refused = run({"check", src, dst, "--copy", "--jobs=65"});
    EXPECT_EQ(refused.status, 0);
    EXPECT_NE(refused.err.find("--jobs takes a number from 1 to 64, not 65; working on 4"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.out, one.out);
}

TEST_F(CommandLine, ATargetInsideTheSourceIsLeftOutOfTheSourcesWalk) {
    folder.write("src/a.txt", "a");
    const std::string inside = folder.mkdir("src/bak");
    for (const std::vector<std::string>& expected : {std::vector<std::string>{"/a.txt"}, {}}) {
        const Outcome copied = run({"check", src, inside + "/", "--copy"});
        EXPECT_EQ(copied.status, 0) << copied.err;
        EXPECT_EQ(firstFields(blocks(copied.out)["[copy]"]), expected);
    }
    EXPECT_EQ(TempFolder::read(inside + "/a.txt"), "a");
    EXPECT_FALSE(std::filesystem::exists(inside + "/bak"));
}

// Names as scripts read them back: quoted with escapes where a name holds what
// a line cannot, else as they are; with -z as their bytes.
TEST_F(CommandLine, EachPrintedNameReadsBackAsExactlyOneName) {
    const std::vector<std::string> names = {"\"quoted",
                                            "a\tb",
                                            "a\xE2\x90\x89"
                                            "b",
                                            "back\\slash",
                                            "bad\xFF",
                                            "cr\r",
                                            "line\nfeed"};
    for (const std::string& name : names) folder.write("src/" + name, "x");
    folder.write("dst/only", "o");
    const Outcome checked = run({"check", src, dst, "--copy"});
    EXPECT_EQ(checked.status, 0) << checked.err;
    const std::vector<std::string> printed = {"/\"quoted",
                                              "\"/a\\tb\"",
                                              "/a\xE2\x90\x89"
                                              "b",
                                              "/back\\slash",
                                              "\"/bad\\377\"",
                                              "\"/cr\\r\"",
                                              "\"/line\\nfeed\""};
    auto found = blocks(checked.out);
    EXPECT_EQ(firstFields(found["[dw_1]"]), printed);
    EXPECT_EQ(firstFields(found["[copy]"]), printed);

    std::filesystem::remove_all(dst);
    folder.write("dst/only", "o");
    folder.write("dst/cr\r/inside", "a folder where a file would go");
    // -z: one block's names, below the folder given, each ended by NUL.
    std::string expected;
    for (const std::string& name : names) expected += name + '\0';
    EXPECT_EQ(run({"check", src, dst, "-z"}).out, expected);
    EXPECT_EQ(run({"check", src, dst, "-z", "--names", "dw_2"}).out, "cr\r/inside\0only\0"s);
    const Outcome failed = run({"check", src, dst, "--copy", "-z", "--names=failed"});
    EXPECT_EQ(failed.status, 1) << failed.err;
    EXPECT_EQ(failed.out, "cr\r\0"s);
    EXPECT_EQ(run({"check", src, dst, "--names", "dw_2"}).status, 2);
}

TEST_F(CommandLine, AFailedCopyExitsOneAndSaysWhy) {
    folder.write("src/clash", "a file here");
    folder.write("dst/clash/inside.txt", "a folder there");
    folder.write("src/fine.txt", "f");
    const Outcome copied = run({"check", src, dst, "--copy"});
    EXPECT_EQ(copied.status, 1);
    EXPECT_EQ(blocks(copied.out)["[copy]"].rows,
              (std::vector<std::vector<std::string>>{{"/clash", "失败"}, {"/fine.txt", "成功"}}));
    EXPECT_NE(copied.err.find(dst + "/clash"), std::string::npos) << copied.err;
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// With two workers the target is walked on a thread of its own while the
// source is filled. Memory running out in the source's list ends the run
// with status 2 and the reason, the thread joined, as with one worker.
// (The sanitizers reserve more address space than any limit leaves.)
TEST(CommandLineInProcess, MemoryRunningOutWhileTheTargetIsWalkedExitsTwoWithTheReason) {
    TempFolder folder;
    const std::string target = folder.mkdir("dst");
    for (int i = 0; i < 100; ++i) folder.write("dst/f" + std::to_string(i), "x");
    std::string names;
    for (int i = 0; i < 1'000'000; ++i) names += "/folder/name" + std::to_string(i) + ".txt\n";
    const std::string list = folder.write("names.txt", names);
    names.clear();
    names.shrink_to_fit();
    for (const std::string jobs : {"1", "2"}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Room for the program as it stands and a thread, not for the list.
            long pages = 0;
            if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
                std::fclose(statm);
            }
            const rlim_t room = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (64 << 20);
            const rlimit limit{room, room};
            ::setrlimit(RLIMIT_AS, &limit);
            std::ostringstream out, err;
            const int status =
                kelvane::runCommandLine({"check", list, target, "--jobs", jobs}, out, err);
            const bool said = err.str().starts_with("kelvane: ") && out.str().empty();
            ::_exit(status == kelvane::kExitBadInput && said ? 0 : 10 + status);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status))
            << "ended by signal " << WTERMSIG(status) << " with --jobs " << jobs;
        EXPECT_EQ(WEXITSTATUS(status), 0) << "--jobs " << jobs;
    }
}
#endif

// What a terminal shows at the end of `bytes` on one line: "\r" returns to
// the line's start, later text overwrites cell by cell (a CJK character, three
// UTF-8 bytes from 0xE3 on, takes two cells).
std::string visibleLine(const std::string& bytes) {
    std::vector<std::string> cells;
    std::size_t cursor = 0;
    for (std::size_t at = 0; at < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        std::size_t length = 1;
        while (at + length < bytes.size() && (bytes[at + length] & 0xC0) == 0x80) ++length;
        const std::string glyph = bytes.substr(at, length);
        at += length;
        if (glyph == "\r") {
            cursor = 0;
            continue;
        }
        const std::size_t width = lead >= 0xE3 ? 2 : 1;
        if (cells.size() < cursor + width) cells.resize(cursor + width, " ");
        cells[cursor] = glyph;
        if (width == 2) cells[cursor + 1] = "";
        cursor += width;
    }
    std::string line;
    for (const auto& cell : cells) line += cell;
    return line.substr(0, line.find_last_not_of(' ') + 1);
}

TEST_F(CommandLine, ProgressLineOnATerminalIsWipedAtTheEndAndQuietTurnsItOff) {
    folder.write("src/一/a.txt", "aaaa");
    folder.write("src/b.txt", "bb");
    for (const bool quiet : {false, true}) {
        int terminal = -1;
        int program = -1;
        ASSERT_EQ(openpty(&terminal, &program, nullptr, nullptr, nullptr), 0);
        std::vector<std::string> args{"check", src, dst + (quiet ? "/q" : "/p"), "--copy"};
        folder.mkdir(quiet ? "dst/q" : "dst/p");
        if (quiet) args.push_back("--quiet");
        const Outcome copied = run(args, Output::Read, {}, program);
        ::close(program);
        std::string shown;
        char buffer[4096];
        for (ssize_t got; (got = ::read(terminal, buffer, sizeof buffer)) > 0;)
            shown.append(buffer, static_cast<std::size_t>(got));
        ::close(terminal);
        EXPECT_EQ(copied.status, 0);
        EXPECT_EQ(blocks(copied.out)["[copy]"].rows.size(), 2u) << copied.out;
        if (quiet) {
            EXPECT_EQ(shown, "");
        } else {
            // The first file is drawn at once: "done/total  bytes  name".
            EXPECT_NE(shown.find("0/2  0 B  /"), std::string::npos) << shown;
            EXPECT_EQ(shown.find('\n'), std::string::npos) << shown;
            EXPECT_EQ(visibleLine(shown), "") << shown;
        }
    }
}

// Steps a millisecond apart for two seconds draw at most 10 times a second;
// every drawn line fits a narrow terminal however long the name.
TEST(ProgressLineTest, RedrawsAtMostTenTimesASecondWithinTheWidth) {
    static kelvane::ProgressLine::Clock::time_point now{};
    std::ostringstream err;
    std::ostringstream out;
    {
        kelvane::ProgressLine line(err, out, 2000, 50, [] { return now; });
        const std::string name = "/长长的文件夹/" + std::string(60, 'x') + "/最后的文件名.txt";
        for (int file = 0; file < 2000; ++file) {
            line.step(file + 1, name);
            line.fileDone(1024);
            now += std::chrono::milliseconds(1);
            const std::string text = line.text();
            std::size_t columns = 0;
            for (const unsigned char c : text) {
                if ((c & 0xC0) != 0x80) columns += c >= 0xE3 ? 2 : 1;  // CJK: 3 bytes, 2 columns
            }
            ASSERT_LE(columns, 49u) << text;
            ASSERT_NE(text.find("txt"), std::string::npos) << "the name's end is kept: " << text;
        }
    }
    std::size_t draws = 0;
    for (std::size_t at = 0; (at = err.str().find("/2000 ", at)) != std::string::npos; ++at)
        ++draws;
    EXPECT_GE(draws, 15u);
    EXPECT_LE(draws, 21u);
    EXPECT_EQ(visibleLine(err.str()), "");
}

// A stop signal in the middle of --copy (sent by the program to itself as
// the third copy begins): the copies under way end and are listed, no other
// is begun, the status names the signal, and the next run copies the rest.
TEST_F(CommandLine, AStopSignalEndsTheCopyWithTheFilesUnderWayListed) {
    constexpr int kFiles = 40;
    for (int i = 0; i < kFiles; ++i)
        folder.write("src/f" + std::to_string(100 + i) + ".txt", std::to_string(i));
    for (const auto& [signal, status, jobs] :
         {std::tuple{SIGTERM, 143, "1"}, std::tuple{SIGINT, 130, "4"}}) {
        SCOPED_TRACE(jobs);
        std::filesystem::remove_all(dst);
        std::filesystem::create_directory(dst);
        ::setenv("ZARVIK_TEST_KILL_AT", ("copy-begun:3:" + std::to_string(signal)).c_str(), 1);
        const Outcome stopped = run({"check", src, dst, "--copy", "--jobs", jobs});
        ::unsetenv("ZARVIK_TEST_KILL_AT");
        EXPECT_EQ(stopped.status, status);
        EXPECT_NE(stopped.err.find("kelvane: stopped by"), std::string::npos) << stopped.err;
        // The block lists exactly the files the target holds, each copied.
        auto found = blocks(stopped.out);
        std::vector<std::string> listed = firstFields(found["[copy]"]);
        for (const auto& row : found["[copy]"].rows) EXPECT_EQ(row.at(1), "成功");
        std::vector<std::string> there;
        for (const auto& entry : std::filesystem::directory_iterator(dst))
            there.push_back("/" + entry.path().filename().string());
        std::sort(listed.begin(), listed.end());
        std::sort(there.begin(), there.end());
        EXPECT_EQ(listed, there);
        if (std::string(jobs) == "1") {
            EXPECT_EQ(there.size(), 3u);
        }
        EXPECT_GE(there.size(), 3u);
        EXPECT_LT(there.size(), std::size_t(kFiles));
        EXPECT_EQ(run({"check", src, dst, "--copy"}).status, 0);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dst), {}), kFiles);
    }
}

}  // namespace
