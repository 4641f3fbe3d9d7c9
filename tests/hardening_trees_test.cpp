// Hostile trees on real folders: trees deeper than the stack or the longest
// path likes, very full folders, names no list format was made for, links that
// loop or lead nowhere, folders nobody may read, and files that change between
// the listing and the copy. What counts is what a user sees: rows, their
// "成功"/"失败", the log's lines and the bytes on disk.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "grid/grid.h"
#include "hardening_support.h"
#include "host/encoding.h"
#include "host/fs.h"
#include "host/progress.h"
#include "kelvane/check/check_engine.h"
#include "kelvane/command_line.h"
#include "kelvane/copy/copy_engine.h"
#include "kelvane/inventory/folder_walk.h"
#include "support/temp_folder.h"
#include "torrin/engine/rcopy.h"

namespace {

using testing_support::TempFolder;

const bool memoryTemporaryFolders = hardening::preferMemoryTemporaryFolders();

constexpr const char* kOldThreshold = "2000-01-01 00:00:00";

std::vector<std::string> column(const grid::Grid& grid, const char* name) {
    std::vector<std::string> values;
    for (long row = 1; row <= grid.rowcount(); ++row)
        values.push_back(grid.getitemstring(row, name));
    return values;
}

// Runs `body` on a thread with a 1 MiB stack: a walk whose stack use grows
// with the depth of the tree overflows there long before 1,500 levels.
void onSmallStack(const std::function<void()>& body) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 1 << 20);
    auto trampoline = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    pthread_t thread;
    ASSERT_EQ(
        pthread_create(&thread, &attributes, trampoline, const_cast<std::function<void()>*>(&body)),
        0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

torrin::RunDescription torrinRun(const std::string& source, const std::string& target,
                                 const TempFolder& temp) {
    torrin::RunDescription run;
    run.sourceFolders = {source};
    run.target = target;
    run.threshold = kOldThreshold;
    run.replace = true;
    run.mask = host::kListEverything;
    run.logfile = temp / "log.txt";
    return run;
}

std::string logText(const TempFolder& temp) {
    return host::gbkToUtf8(TempFolder::read(temp / "log.txt"));
}

// ---------------------------------------------------------------------------
// Deep trees

class DeepTree : public ::testing::Test {
  protected:
    static constexpr int kDepth = 1500;
    static constexpr int kFileEvery = 500;

    void SetUp() override {
        source_ = temp_.mkdir("s");
        ASSERT_TRUE(hardening::makeDeepTree(source_, kDepth, "d", kFileEvery));
    }

    // The md of the file `file` at `level` folders below the root.
    static std::string nameAt(int level, const std::string& file) {
        std::string name;
        for (int i = 0; i < level; ++i) name += "/d";
        return name + "/" + file;
    }

    TempFolder temp_;
    std::string source_;
};

TEST_F(DeepTree, KelvaneWalkListsEveryLevelInListingOrderOnASmallStack) {
    grid::Grid grid(grid::loadGridDefinition("htmd1"));
    kelvane::WalkResult result;
    host::NullProgress quiet;
    onSmallStack([&] { result = kelvane::walkFolder(grid, source_, source_, {}, quiet); });

    // "[d]" sorts before "f": each folder's sub-folder is walked before its file.
    std::vector<std::string> expected;
    for (int level = kDepth; level >= 0; --level) {
        if (level % kFileEvery == 0) expected.push_back(nameAt(level, "f"));
        if (level == kDepth) expected.push_back(nameAt(level, "z"));
    }
    EXPECT_EQ(column(grid, "md"), expected);
    EXPECT_TRUE(result.skippedFolders.empty());
    EXPECT_EQ(grid.getitemnumber(grid.rowcount(), "xh"), static_cast<double>(expected.size()));
}

TEST_F(DeepTree, TorrinCopiesTheWholeDepthOnASmallStack) {
    const std::string target = temp_.mkdir("t");
    torrin::RunResult result;
    host::NullProgress quiet;
    onSmallStack([&] { result = torrin::rcopy(torrinRun(source_, target, temp_), quiet); });

    EXPECT_EQ(result.cccs, 0) << logText(temp_);
    EXPECT_EQ(result.cgcs, kDepth / kFileEvery + 2);
    EXPECT_EQ(TempFolder::read(target + nameAt(kDepth, "z")), "bottom");
    EXPECT_EQ(TempFolder::read(target + nameAt(1000, "f")), "1000");
}

TEST_F(DeepTree, CheckAndCopyOfTheDeepTreeMatchByteForByte) {
    const std::string target = temp_.mkdir("t");
    grid::Grid list(grid::loadGridDefinition("htmd1"));
    const kelvane::CopySummary copied = hardening::walkAndCopy(list, source_, target);
    EXPECT_EQ(copied.failed, 0);

    host::NullProgress quiet;
    grid::Grid dw_1(grid::loadGridDefinition("htmd1")), dw_2(grid::loadGridDefinition("htmd2"));
    grid::Grid dw_3(grid::loadGridDefinition("cfmd1")), dw_4(grid::loadGridDefinition("cfmd2"));
    kelvane::walkFolder(dw_1, source_, source_, {}, quiet);
    kelvane::walkFolder(dw_2, target, target, {}, quiet);
    bool zfmdxg = false;
    const auto summary =
        kelvane::mdhd({dw_1, dw_2, dw_3, dw_4},
                      {source_, target, kelvane::CheckOption::LengthOrModified}, zfmdxg, quiet);
    EXPECT_EQ(summary.matched, dw_1.rowcount());
    EXPECT_EQ(summary.differing, 0);
}

// Deeper than PATH_MAX (4096 bytes): no path names the deepest folders, yet
// both programs reach them through their ancestors' handles, walk them and
// copy them, and nothing is left out.
class BeyondPathMax : public ::testing::Test {
  protected:
    static constexpr int kDepth = 2100;  // 2 bytes a level: past 4096 bytes
    static constexpr int kFileEvery = 500;

    void SetUp() override {
        source_ = temp_.mkdir("s");
        target_ = temp_.mkdir("t");
        ASSERT_TRUE(hardening::makeDeepTree(source_, kDepth, "d", kFileEvery));
    }
    void TearDown() override {
        hardening::removeTree(source_);
        hardening::removeTree(target_);
    }

    // Every file of the tree in walk order, as DeepTree has it.
    static std::vector<std::string> allNames() {
        std::vector<std::string> names;
        for (int level = kDepth; level >= 0; --level) {
            if (level % kFileEvery == 0) names.push_back(nameAt(level, "f"));
            if (level == kDepth) names.push_back(nameAt(level, "z"));
        }
        return names;
    }
    static std::string nameAt(int level, const std::string& file) {
        std::string name;
        for (int i = 0; i < level; ++i) name += "/d";
        return name + "/" + file;
    }

    TempFolder temp_;
    std::string source_;
    std::string target_;
};

TEST_F(BeyondPathMax, KelvaneChecksAndCopiesEveryLevel) {
    grid::Grid grid(grid::loadGridDefinition("htmd1"));
    host::NullProgress quiet;
    const kelvane::WalkResult result = kelvane::walkFolder(grid, source_, source_, {}, quiet);
    EXPECT_TRUE(result.skippedFolders.empty());
    EXPECT_EQ(column(grid, "md"), allNames());

    std::ostringstream out, err;
    EXPECT_EQ(kelvane::runCommandLine({"check", source_, target_, "--copy"}, out, err),
              kelvane::kExitSuccess)
        << err.str();
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(host::readFile(target_ + nameAt(kDepth, "z")), "bottom");
    // A second check finds both sides equal, down to the last level.
    std::ostringstream again, againErr;
    for (const char* option : {"4", "5"}) {
        EXPECT_EQ(kelvane::runCommandLine({"check", source_, target_, "--option", option}, again,
                                          againErr),
                  kelvane::kExitSuccess);
        EXPECT_EQ(again.str().find("/z"), std::string::npos) << option << again.str();
    }
}

TEST_F(BeyondPathMax, TorrinCopiesEveryLevel) {
    host::NullProgress quiet;
    const torrin::RunResult result = torrin::rcopy(torrinRun(source_, target_, temp_), quiet);
    EXPECT_EQ(result.cgcs, static_cast<long>(allNames().size())) << logText(temp_);
    EXPECT_EQ(result.cccs, 0) << logText(temp_);
    EXPECT_EQ(host::readFile(target_ + nameAt(kDepth, "z")), "bottom");
    EXPECT_EQ(host::readFile(target_ + nameAt(2000, "f")), "2000");
}

// ---------------------------------------------------------------------------
// Many files in one folder. The unit test keeps to a count CI walks in well
// under a second; bench/hardening_bench runs 200,000.

class CrowdedFolder : public ::testing::Test {
  protected:
    static constexpr int kFiles = 20000;

    void SetUp() override {
        source_ = temp_.mkdir("s");
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = source_ + "/n" + std::to_string(i);
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ASSERT_GE(fd, 0);
            ::close(fd);
        }
    }

    TempFolder temp_;
    std::string source_;
};

TEST_F(CrowdedFolder, EveryFileIsListedOnceInOrderAndChecksAgainstItself) {
    grid::Grid dw_1(grid::loadGridDefinition("htmd1")), dw_2(grid::loadGridDefinition("htmd2"));
    grid::Grid dw_3(grid::loadGridDefinition("cfmd1")), dw_4(grid::loadGridDefinition("cfmd2"));
    host::NullProgress quiet;
    kelvane::walkFolder(dw_1, source_, source_, {}, quiet);
    kelvane::walkFolder(dw_2, source_, source_, {}, quiet);
    ASSERT_EQ(dw_1.rowcount(), kFiles);
    std::set<std::string> distinct;
    for (long row = 1; row <= dw_1.rowcount(); ++row)
        distinct.insert(dw_1.getitemstring(row, "md"));
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kFiles));
    EXPECT_EQ(dw_1.getitemstring(1, "md"), "/n0");
    EXPECT_EQ(dw_1.getitemstring(2, "md"), "/n1");
    EXPECT_EQ(dw_1.getitemstring(3, "md"), "/n10");

    bool zfmdxg = false;
    const auto summary =
        kelvane::mdhd({dw_1, dw_2, dw_3, dw_4},
                      {source_, source_, kelvane::CheckOption::LengthAndModified}, zfmdxg, quiet);
    EXPECT_EQ(summary.matched, kFiles);
    EXPECT_EQ(summary.duplicates1, 0);
    EXPECT_EQ(summary.differing, 0);
}

// ---------------------------------------------------------------------------
// Names no list format was made for

class HostileNames : public ::testing::Test {
  protected:
    void SetUp() override {
        source_ = temp_.mkdir("s");
        target_ = temp_.mkdir("t");
        for (const std::string& name : names()) temp_.write("s/" + name, "bytes of " + name);
        temp_.write("s/sub [x]/in'side", "nested");
    }

    // Every name the system allows and a list finds awkward.
    static std::vector<std::string> names() {
        return {"with blank",  "double\"quote", "single'quote",  "~tilde",         "[bracket]",
                "tab\there",   "line\nbreak",   "carriage\rret", "\xff\xfe bytes", "lone\x80",
                "gbk\xc4\xe3", " leading",      "trailing ",     "a;b,c",          "\\back"};
    }

    std::set<std::string> expectedNames() const {
        std::set<std::string> expected;
        for (const std::string& name : names()) expected.insert("/" + name);
        expected.insert("/sub [x]/in'side");
        return expected;
    }

    TempFolder temp_;
    std::string source_;
    std::string target_;
    host::NullProgress quiet_;
};

TEST_F(HostileNames, WalkListsEveryNameByteExact) {
    grid::Grid grid(grid::loadGridDefinition("htmd1"));
    kelvane::walkFolder(grid, source_, source_, {}, quiet_);
    const std::vector<std::string> listed = column(grid, "md");
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), expectedNames());
    EXPECT_EQ(listed.size(), expectedNames().size());
}

TEST_F(HostileNames, CopyAndCheckKeepEveryByte) {
    grid::Grid list(grid::loadGridDefinition("htmd1"));
    const kelvane::CopySummary copied = hardening::walkAndCopy(list, source_, target_);
    EXPECT_EQ(copied.failed, 0);
    for (long row = 1; row <= list.rowcount(); ++row) {
        const std::string name = list.getitemstring(row, "md");
        EXPECT_EQ(list.getitemstring(row, "jg"), kelvane::kCopied) << name;
        EXPECT_EQ(TempFolder::read(target_ + name), TempFolder::read(source_ + name)) << name;
    }

    grid::Grid dw_1(grid::loadGridDefinition("htmd1")), dw_2(grid::loadGridDefinition("htmd2"));
    grid::Grid dw_3(grid::loadGridDefinition("cfmd1")), dw_4(grid::loadGridDefinition("cfmd2"));
    kelvane::walkFolder(dw_1, source_, source_, {}, quiet_);
    kelvane::walkFolder(dw_2, target_, target_, {}, quiet_);
    bool zfmdxg = false;
    const auto summary =
        kelvane::mdhd({dw_1, dw_2, dw_3, dw_4},
                      {source_, target_, kelvane::CheckOption::LengthOrModified}, zfmdxg, quiet_);
    EXPECT_EQ(summary.matched, static_cast<long>(expectedNames().size()));
    EXPECT_EQ(summary.differing, 0);
    for (long row = 1; row <= dw_1.rowcount(); ++row)
        EXPECT_EQ(dw_1.getitemstring(row, "jg"), kelvane::kSame) << dw_1.getitemstring(row, "md");
}

TEST_F(HostileNames, TorrinCopiesEveryNameByteExact) {
    const torrin::RunResult result = torrin::rcopy(torrinRun(source_, target_, temp_), quiet_);
    EXPECT_EQ(result.cccs, 0) << logText(temp_);
    for (const std::string& name : expectedNames())
        EXPECT_EQ(TempFolder::read(target_ + name), TempFolder::read(source_ + name)) << name;
}

// A tab or a line break cannot stand in a tab-separated line: the grid keeps
// the bytes, the text export shows them as the control pictures ␉ ␊ ␍, and no
// row or column of the export is shifted.
TEST_F(HostileNames, TabSeparatedExportNeverMixesUpNeighbouringRows) {
    grid::Grid list(grid::loadGridDefinition("htmd1"));
    kelvane::walkFolder(list, source_, source_, {}, quiet_);
    const std::string text = list.datatext();
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    ASSERT_EQ(static_cast<long>(lines.size()), list.rowcount());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), list.columnCount() - 1) << line;
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    }
    // The grid itself still holds the exact name.
    bool found = false;
    for (long row = 1; row <= list.rowcount(); ++row)
        found = found || list.getitemstring(row, "md") == "/tab\there";
    EXPECT_TRUE(found);
    EXPECT_NE(text.find("/tab\xE2\x90\x89here"), std::string::npos);
    EXPECT_NE(text.find("/line\xE2\x90\x8A"
                        "break"),
              std::string::npos);
    EXPECT_NE(text.find("/carriage\xE2\x90\x8Dret"), std::string::npos);

    // Saved as text and read back, every row keeps its own cells.
    const std::string saved = temp_ / "list.txt";
    ASSERT_TRUE(list.saveas(saved, host::SaveFormat::Text));
    grid::Grid back(grid::loadGridDefinition("htmd1"));
    EXPECT_EQ(back.importfile(saved), list.rowcount());
    for (long row = 1; row <= list.rowcount(); ++row) {
        EXPECT_EQ(back.getitemnumber(row, "xh"), list.getitemnumber(row, "xh"));
        EXPECT_EQ(back.getitemstring(row, "jg"), list.getitemstring(row, "jg"));
    }
}

// The command line prints one line per row even for such names.
TEST_F(HostileNames, CommandLineKeepsOneLinePerRow) {
    std::ostringstream out, err;
    ASSERT_EQ(kelvane::runCommandLine({"check", source_, target_}, out, err),
              kelvane::kExitSuccess);
    std::istringstream lines(out.str());
    std::string line;
    const long columns = grid::Grid(grid::loadGridDefinition("htmd1")).columnCount();
    int rowsOfList1 = 0;
    bool inList1 = false;
    while (std::getline(lines, line)) {
        if (line.rfind("[dw_1]", 0) == 0) {
            inList1 = true;
            continue;
        }
        if (line.empty()) inList1 = false;
        if (!inList1) continue;
        ++rowsOfList1;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), columns - 1) << line;
    }
    EXPECT_EQ(rowsOfList1, static_cast<int>(expectedNames().size()));
}

// ---------------------------------------------------------------------------
// Links

class Links : public ::testing::Test {
  protected:
    void SetUp() override {
        source_ = temp_.mkdir("s");
        target_ = temp_.mkdir("t");
        temp_.write("s/a/file", "real");
        ASSERT_EQ(::symlink("..", (temp_ / "s/a/up").c_str()), 0);
        ASSERT_EQ(::symlink(source_.c_str(), (temp_ / "s/a/loop").c_str()), 0);
        ASSERT_EQ(::symlink("nowhere", (temp_ / "s/dangling").c_str()), 0);
        ASSERT_EQ(::symlink("self", (temp_ / "s/self").c_str()), 0);
        ASSERT_EQ(::symlink("a/file", (temp_ / "s/to-file").c_str()), 0);
    }

    TempFolder temp_;
    std::string source_;
    std::string target_;
    host::NullProgress quiet_;
};

TEST_F(Links, WalksEndAndListFilesOnlyOnce) {
    grid::Grid grid(grid::loadGridDefinition("htmd1"));
    const kelvane::WalkResult result = kelvane::walkFolder(grid, source_, source_, {}, quiet_);
    EXPECT_EQ(column(grid, "md"), (std::vector<std::string>{"/a/file", "/to-file"}));
    EXPECT_TRUE(result.skippedFolders.empty());

    const torrin::RunResult copied = torrin::rcopy(torrinRun(source_, target_, temp_), quiet_);
    EXPECT_EQ(copied.cgcs, 2);
    EXPECT_EQ(copied.cccs, 0);
    // A link to a file is copied as the file it names.
    EXPECT_EQ(TempFolder::read(target_ + "/to-file"), "real");
    struct stat st;
    ASSERT_EQ(::lstat((target_ + "/to-file").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(Links, ACopyNeverWritesThroughALinkOutOfTheTarget) {
    const std::string outside = temp_.mkdir("outside");
    ASSERT_EQ(::symlink(outside.c_str(), (target_ + "/a").c_str()), 0);
    grid::Grid list(grid::loadGridDefinition("htmd1"));
    hardening::walkAndCopy(list, source_, target_);
    EXPECT_EQ(list.getitemstring(1, "md"), "/a/file");
    EXPECT_EQ(list.getitemstring(1, "jg"), kelvane::kCopyFailed);
    EXPECT_FALSE(std::filesystem::exists(outside + "/file"));
}

// ---------------------------------------------------------------------------
// Folders and files the user may not read. Root reads everything, so these run
// as "nobody" in a child when the tests run as root.

class NoPermission : public ::testing::Test {
  protected:
    void SetUp() override {
        ::chmod(temp_.path().c_str(), 0755);
        source_ = temp_.mkdir("s");
        target_ = temp_.mkdir("t");
        temp_.write("s/0 first", "1");
        temp_.write("s/closed/hidden", "2");  // folder without read permission
        temp_.write("s/locked/inside", "3");  // folder without execute permission
        temp_.write("s/secret", "4");         // file without read permission
        temp_.write("s/z last", "5");
        hardening::giveToNobody(temp_.path());
    }

    TempFolder temp_;
    std::string source_;
    std::string target_;
};

TEST_F(NoPermission, WalkSkipsAndCountsUnreadableFoldersAndGoesOn) {
    const std::string report = hardening::runUnprivileged([&]() -> std::string {
        ::chmod((source_ + "/closed").c_str(), 0300);
        ::chmod((source_ + "/locked").c_str(), 0600);
        grid::Grid grid(grid::loadGridDefinition("htmd1"));
        host::NullProgress quiet;
        const kelvane::WalkResult result = kelvane::walkFolder(grid, source_, source_, {}, quiet);
        std::string seen;
        for (const kelvane::SkippedFolder& skipped : result.skippedFolders)
            seen += skipped.path.substr(source_.size()) + " (" + skipped.reason + "):";
        for (const std::string& name : column(grid, "md")) seen += name + ",";
        return seen;
    });
    // A folder that may be read but not entered still shows its names; their
    // copies fail later, row by row.
    EXPECT_EQ(report, "/closed (Permission denied):/0 first,/locked/inside,/secret,/z last,");
}

// A folder left out may hold what should have been copied: status 1, and
// standard error names it; a file behind a folder that may not be searched
// fails with the system's reason, not as missing.
TEST_F(NoPermission, CommandLineNamesWhatItLeftOutAndWhyAndExitsOne) {
    const std::string report = hardening::runUnprivileged([&]() -> std::string {
        ::chmod((source_ + "/closed").c_str(), 0300);
        ::chmod((source_ + "/locked").c_str(), 0600);
        std::ostringstream out, err;
        const int status =
            kelvane::runCommandLine({"check", source_, target_, "--copy", "--jobs", "1"}, out, err);
        return std::to_string(status) + "\n" + err.str();
    });
    EXPECT_EQ(report, "1\nkelvane: cannot read source sub-folder " + source_ +
                          "/closed: Permission denied; it is left out\n"
                          "kelvane: cannot read the source file \"" +
                          source_ + "/locked/inside\": Permission denied\n");
}

TEST_F(NoPermission, KelvaneCopyMarksTheUnreadableFileFailedAndCopiesTheRest) {
    const std::string report = hardening::runUnprivileged([&]() -> std::string {
        ::chmod((source_ + "/secret").c_str(), 0200);
        grid::Grid list(grid::loadGridDefinition("htmd1"));
        hardening::walkAndCopy(list, source_, target_);
        std::string seen;
        for (long row = 1; row <= list.rowcount(); ++row)
            seen += list.getitemstring(row, "md") + "=" + list.getitemstring(row, "jg") + ",";
        return seen;
    });
    EXPECT_EQ(report,
              "/0 first=成功,/closed/hidden=成功,/locked/inside=成功,/secret=失败,/z last=成功,");
    EXPECT_FALSE(std::filesystem::exists(target_ + "/secret"));
    EXPECT_EQ(TempFolder::read(target_ + "/z last"), "5");
}

TEST_F(NoPermission, TorrinLogsUnreadableFilesAndFoldersAndCopiesTheRest) {
    const std::string report = hardening::runUnprivileged([&]() -> std::string {
        ::chmod((source_ + "/closed").c_str(), 0300);
        ::chmod((source_ + "/locked").c_str(), 0600);
        ::chmod((source_ + "/secret").c_str(), 0200);
        host::NullProgress quiet;
        const torrin::RunResult result = torrin::rcopy(torrinRun(source_, target_, temp_), quiet);
        return std::to_string(result.cgcs) + "/" + std::to_string(result.cccs) + "/" +
               std::to_string(result.foldersLeftOut);
    });
    // The folder that cannot be listed is a folder left out, not a copy.
    EXPECT_EQ(report, "2/2/1");
    const std::string log = logText(temp_);
    EXPECT_NE(log.find(source_ + "/secret: Permission denied\r\n"), std::string::npos) << log;
    EXPECT_NE(
        log.find("无法读取文件夹，其中的文件未复制:" + source_ + "/closed: Permission denied"),
        std::string::npos)
        << log;
    EXPECT_NE(log.find(source_ + "/locked"), std::string::npos) << log;
    EXPECT_EQ(TempFolder::read(target_ + "/0 first"), "1");
    EXPECT_EQ(TempFolder::read(target_ + "/z last"), "5");
}

// ---------------------------------------------------------------------------
// Files that change between the listing and the copy

class ChangingFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        source_ = temp_.mkdir("s");
        target_ = temp_.mkdir("t");
        temp_.write("s/a", "first");
        temp_.write("s/grows", "short");
        temp_.write("s/vanishes", "soon gone");
        temp_.write("s/z", "last");
    }

    TempFolder temp_;
    std::string source_;
    std::string target_;
};

// Acts on the source just before the copy of the file it is told about.
class Meddler : public host::ProgressSink {
  public:
    explicit Meddler(std::string source) : source_(std::move(source)) {}
    void step(long, std::string_view current) override {
        const std::string name(current);
        if (name.ends_with("/vanishes")) std::filesystem::remove(source_ + "/vanishes");
        if (name.ends_with("/grows")) {
            std::ofstream(source_ + "/grows", std::ios::app) << std::string(300000, 'g');
        }
    }

  private:
    std::string source_;
};

TEST_F(ChangingFiles, KelvaneCopiesWhatIsThereAndFailsWhatIsGone) {
    grid::Grid list(grid::loadGridDefinition("htmd1"));
    host::NullProgress quiet;
    kelvane::walkFolder(list, source_, source_, {}, quiet);
    kelvane::CopyPlan plan;
    plan.sourceFolder = source_;
    plan.targetFolder = target_;
    Meddler meddler(source_);
    // One at a time: the meddler's step then comes between the walk and the copy.
    const kelvane::CopySummary summary = kelvane::copyShownRows(list, plan, meddler, {}, 1);
    EXPECT_EQ(column(list, "jg"), (std::vector<std::string>{"成功", "成功", "失败", "成功"}));
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(TempFolder::read(target_ + "/grows"), "short" + std::string(300000, 'g'));
    EXPECT_FALSE(std::filesystem::exists(target_ + "/vanishes"));
    EXPECT_EQ(TempFolder::read(target_ + "/z"), "last");
}

TEST_F(ChangingFiles, TorrinLogsTheVanishedFileAndCopiesTheGrownOneWhole) {
    Meddler meddler(source_);
    torrin::RunDescription run = torrinRun(source_, target_, temp_);
    // One at a time: the meddler's step then comes between the walk and the copy.
    run.workers = 1;
    const torrin::RunResult result = torrin::rcopy(run, meddler);
    EXPECT_EQ(result.cgcs, 3);
    EXPECT_EQ(result.cccs, 1);
    EXPECT_NE(logText(temp_).find("以下文件复制出错:\r\n" + source_ +
                                  "/vanishes: No such file or directory\r\n"),
              std::string::npos)
        << logText(temp_);
    EXPECT_EQ(TempFolder::read(target_ + "/grows"), "short" + std::string(300000, 'g'));
    EXPECT_FALSE(std::filesystem::exists(target_ + "/vanishes"));
}

}  // namespace
