// The copy engine, the name-reading rules and opening a listed file, on real
// temporary folders and through the scripted Host.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/path_rules.h"
#include "grid/grid.h"
#include "host/fault_injection.h"
#include "host/fs.h"
#include "host/paths.h"
#include "host/progress.h"
#include "kelvane/copy/copy_engine.h"
#include "kelvane/copy/open_listed_file.h"
#include "kelvane/import/jqwz.h"
#include "support/temp_folder.h"
#include "tests/support/scripted_host.h"

using host::NameReading;
using host::ScriptedHost;
using kelvane::CopyPlan;
using testing_support::TempFolder;

namespace {

std::unique_ptr<grid::Grid> nameList() {
    return std::make_unique<grid::Grid>(grid::loadGridDefinition("htmd1"));
}

void add(grid::Grid& grid, const std::string& name, const std::string& jg = "不同") {
    const long row = grid.insertrow(0);
    grid.setitem(row, "md", name);
    grid.setitem(row, "xh", static_cast<double>(row));
    grid.setitem(row, "jg", jg);
}

// ---- the name-reading rules ------------------------------------------------

TEST(WindowsNameReading, BackslashFirstIsRelativeDriveColonIsFullElseUnfit) {
    EXPECT_EQ(base::windowsNameReading("\\a\\b.txt"), NameReading::Relative);
    EXPECT_EQ(base::windowsNameReading("C:\\data\\a.txt"), NameReading::Full);
    EXPECT_EQ(base::windowsNameReading("abc.txt"), NameReading::Unfit);
    EXPECT_EQ(base::windowsNameReading(""), NameReading::Unfit);
    EXPECT_EQ(base::windowsNameReading("/a/b.txt"), NameReading::Unfit);
}

TEST(WindowsNameReading, NetworkNamesReadRelative) {
    EXPECT_EQ(base::windowsNameReading("\\\\server\\share\\a.txt"), NameReading::Relative);
}

class PosixNameReading : public ::testing::Test {
  protected:
    NameReading read(const std::vector<std::string>& names, const std::string& root) {
        return base::posixNameReading(
            static_cast<long>(names.size()),
            [&](long i) { return names.at(static_cast<std::size_t>(i - 1)); }, root,
            [&](const std::string& path) {
                asked.push_back(path);
                return existing.count(path) > 0;
            });
    }
    std::set<std::string> existing;
    std::vector<std::string> asked;
};

TEST_F(PosixNameReading, NameUnderTheRootIsRelative) {
    existing = {"/src/a.txt"};
    EXPECT_EQ(read({"/a.txt"}, "/src"), NameReading::Relative);
}

TEST_F(PosixNameReading, NameThatIsItselfAFileIsFull) {
    existing = {"/data/a.txt"};
    EXPECT_EQ(read({"/data/a.txt"}, "/src"), NameReading::Full);
}

TEST_F(PosixNameReading, BothReadingsExistingReadsRelative) {
    existing = {"/data/a.txt", "/src/data/a.txt"};
    EXPECT_EQ(read({"/data/a.txt"}, "/src"), NameReading::Relative);
}

TEST_F(PosixNameReading, FirstRowWhoseFileExistsDecidesInListOrder) {
    existing = {"/data/b.txt", "/src/c.txt"};
    EXPECT_EQ(read({"/gone.txt", "/data/b.txt", "/c.txt"}, "/src"), NameReading::Full);
    EXPECT_EQ(read({"/gone.txt", "/c.txt", "/data/b.txt"}, "/src"), NameReading::Relative);
}

TEST_F(PosixNameReading, NoFileExistingReadsRelative) {
    EXPECT_EQ(read({"/x.txt", "/y.txt"}, "/src"), NameReading::Relative);
    EXPECT_EQ(asked.size(), 4u);
}

TEST_F(PosixNameReading, EmptyRootReadsRelativeSoTheNameIsTheSource) {
    existing = {"/data/a.txt"};
    EXPECT_EQ(read({"/data/a.txt"}, ""), NameReading::Relative);
}

TEST_F(PosixNameReading, FirstNameWithoutLeadingSeparatorIsUnfit) {
    existing = {"abc.txt", "/src/abc.txt"};
    EXPECT_EQ(read({"abc.txt", "/a.txt"}, "/src"), NameReading::Unfit);
    EXPECT_TRUE(asked.empty());
}

TEST_F(PosixNameReading, StopsAtTheDecidingRow) {
    existing = {"/src/a.txt"};
    read({"/a.txt", "/b.txt", "/c.txt"}, "/src");
    EXPECT_EQ(asked, std::vector<std::string>{"/src/a.txt"});
}

// ---- the copy --------------------------------------------------------------

class CopyEngine : public ::testing::Test {
  protected:
    CopyEngine() : src(folder.mkdir("src")), dst(folder.mkdir("dst")), list(nameList()) {}

    kelvane::CopySummary copyRelative(bool replace = true) {
        CopyPlan plan;
        plan.sourceFolder = src;
        plan.targetFolder = dst;
        plan.replace = replace;
        return kelvane::copyShownRows(*list, plan, progress);
    }
    kelvane::CopySummary copyFull(long cut) {
        CopyPlan plan;
        plan.reading = NameReading::Full;
        plan.targetFolder = dst;
        plan.cut = cut;
        return kelvane::copyShownRows(*list, plan, progress);
    }
    std::vector<std::string> results() const {
        std::vector<std::string> found;
        for (long row = 1; row <= list->rowcount(); ++row)
            found.push_back(list->getitemstring(row, "jg"));
        return found;
    }

    TempFolder folder;
    std::string src;
    std::string dst;
    std::unique_ptr<grid::Grid> list;
    host::NullProgress progress;
};

TEST_F(CopyEngine, RelativeNamesCopyIntoNewSubFoldersAndAreMarkedAndSelected) {
    folder.write("src/a/b/c.txt", "deep");
    folder.write("src/top.txt", "top");
    add(*list, "/a/b/c.txt");
    add(*list, "/top.txt");
    const auto summary = copyRelative();
    EXPECT_EQ(summary.copied, 2);
    EXPECT_EQ(summary.failed, 0);
    EXPECT_EQ(TempFolder::read(folder / "dst/a/b/c.txt"), "deep");
    EXPECT_EQ(TempFolder::read(folder / "dst/top.txt"), "top");
    EXPECT_EQ(results(), (std::vector<std::string>{"成功", "成功"}));
    EXPECT_TRUE(list->isselected(1));
    EXPECT_TRUE(list->isselected(2));
}

// A copy started again after a stop leaves the rows it already copied as
// they are (their sources may even be gone since) and copies the rest.
TEST_F(CopyEngine, AfterAStopTheRowsMarkedCopiedAreSkipped) {
    folder.write("src/rest.txt", "rest");
    add(*list, "/done.txt");
    add(*list, "/rest.txt");
    list->setitem(1, "jg", "成功");
    CopyPlan plan;
    plan.sourceFolder = src;
    plan.targetFolder = dst;
    plan.skipCopied = true;
    const auto summary = kelvane::copyShownRows(*list, plan, progress);
    EXPECT_EQ(summary.copied, 1);
    EXPECT_EQ(summary.failed, 0);
    EXPECT_EQ(results(), (std::vector<std::string>{"成功", "成功"}));
    EXPECT_EQ(TempFolder::read(folder / "dst/rest.txt"), "rest");
}

TEST_F(CopyEngine, ReplaceOffKeepsTheOldTargetAndFailsTheRow) {
    folder.write("src/x.txt", "new");
    folder.write("dst/x.txt", "old");
    add(*list, "/x.txt");
    list->selectrow(1, true);
    EXPECT_EQ(copyRelative(false).failed, 1);
    EXPECT_EQ(TempFolder::read(folder / "dst/x.txt"), "old");
    EXPECT_EQ(results(), std::vector<std::string>{"失败"});
    EXPECT_FALSE(list->isselected(1));
}

TEST_F(CopyEngine, ReplaceOnReplacesTheTargetAndKeepsTheSourceTime) {
    const std::string source = folder.write("src/x.txt", "new");
    TempFolder::setModified(source, 1'000'000'000);
    folder.write("dst/x.txt", "old");
    add(*list, "/x.txt");
    EXPECT_EQ(copyRelative(true).copied, 1);
    EXPECT_EQ(TempFolder::read(folder / "dst/x.txt"), "new");
    EXPECT_EQ(host::fileTimes(folder / "dst/x.txt")->modified, 1'000'000'000);
}

TEST_F(CopyEngine, AFailedRowDoesNotStopTheRunAndOtherSelectionsStay) {
    folder.write("src/b.txt", "b");
    add(*list, "/missing.txt");
    add(*list, "/b.txt");
    add(*list, "/c.txt");
    add(*list, "/d.txt", "相同");
    // Rows hidden by the filter are not copied and keep their selection.
    list->selectrow(4, true);
    list->setfilter("jg = '不同'");
    list->filter();
    list->selectrow(1, true);
    const auto summary = copyRelative();
    EXPECT_EQ(summary.copied, 1);
    EXPECT_EQ(summary.failed, 2);
    EXPECT_EQ(results(), (std::vector<std::string>{"失败", "成功", "失败"}));
    EXPECT_FALSE(list->isselected(1));
    EXPECT_TRUE(list->isselected(2));
    EXPECT_EQ(list->filteredcount(), 1);
}

TEST_F(CopyEngine, EmptySourceFolderTakesTheNameAsTheSource) {
    const std::string source = folder.write("elsewhere/x.txt", "x");
    add(*list, source);
    CopyPlan plan;
    plan.targetFolder = dst;
    EXPECT_EQ(kelvane::copyShownRows(*list, plan, progress).copied, 1);
    EXPECT_EQ(TempFolder::read(dst + source), "x");
}

TEST_F(CopyEngine, MissingSourcesFailWithoutMakingFolders) {
    add(*list, folder / "gone/a/x.txt");
    add(*list, folder / "gone/b/y.txt");
    EXPECT_EQ(copyFull(static_cast<long>(folder.path().size()) + 1).failed, 2);
    EXPECT_TRUE(std::filesystem::is_empty(dst));
}

TEST_F(CopyEngine, FullNamesAreCutAtTheFirstNamesPosition) {
    folder.write("data/proj/a/b.txt", "b");
    folder.write("data/proj/c.txt", "c");
    const std::string first = folder / "data/proj/a/b.txt";
    add(*list, first);
    add(*list, folder / "data/proj/c.txt");
    const long separators = std::count(folder.path().begin(), folder.path().end(), '/');
    const long cut = kelvane::jqwz(first, separators + 3);  // ends ".../data/proj"
    EXPECT_EQ(copyFull(cut).copied, 2);
    EXPECT_EQ(TempFolder::read(folder / "dst/a/b.txt"), "b");
    EXPECT_EQ(TempFolder::read(folder / "dst/c.txt"), "c");
}

TEST_F(CopyEngine, ParentStepsInANameAreRefusedWithoutCreatingAnything) {
    folder.write("src/x.txt", "x");
    folder.mkdir("src/sub");
    add(*list, "/sub/../../escaped/x.txt");
    add(*list, "/../x.txt");
    EXPECT_EQ(copyRelative().failed, 2);
    EXPECT_FALSE(std::filesystem::exists(folder / "escaped"));
    EXPECT_FALSE(std::filesystem::exists(folder / "x.txt"));
    EXPECT_EQ(results(), (std::vector<std::string>{"失败", "失败"}));
}

TEST_F(CopyEngine, ALinkInTheTargetLeadingOutsideIsRefused) {
    // A sibling whose name extends the target's: "/dst2" is not inside "/dst".
    const std::string outside = folder.mkdir("dst2");
    std::filesystem::create_directory_symlink(outside, dst + "/link");
    folder.write("src/link/x.txt", "x");
    folder.write("src/link/new/y.txt", "y");
    add(*list, "/link/x.txt");
    add(*list, "/link/new/y.txt");
    EXPECT_EQ(copyRelative().failed, 2);
    EXPECT_FALSE(std::filesystem::exists(outside + "/x.txt"));
    EXPECT_FALSE(std::filesystem::exists(outside + "/new"));
}

// A link in the target to a folder in it is never written through, with
// openat2 or part by part (CTest runs this file both ways): the walk left it
// out, and what it leads to holds a file listed as only in the target.
TEST_F(CopyEngine, ALinkToAFolderInsideTheTargetIsNeverWrittenThrough) {
    folder.write("dst/real/journal.txt", "mine");
    std::filesystem::create_directory_symlink("real", dst + "/alias");
    folder.write("src/alias/journal.txt", "theirs");
    add(*list, "/alias/journal.txt");
    EXPECT_EQ(copyRelative().failed, 1);
    EXPECT_EQ(TempFolder::read(dst + "/real/journal.txt"), "mine");
}

TEST_F(CopyEngine, AShorterFullNameCutIntoItsFileNameIsRefused) {
    // Cut at row 1's position, row 2's tail no longer begins with a separator:
    // it would land beside the target folder ("dstc.txt"), not in it.
    folder.write("data/proj/deep/a.txt", "a");
    folder.write("data/c.txt", "c");
    const std::string first = folder / "data/proj/deep/a.txt";
    add(*list, first);
    add(*list, folder / "data/c.txt");
    const long cut = static_cast<long>((folder / "data/proj").size()) + 1;
    copyFull(cut);
    EXPECT_EQ(results(), (std::vector<std::string>{"成功", "失败"}));
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        EXPECT_EQ(entry.path().filename().string().rfind("dst", 0) == 0,
                  entry.path().filename() == "dst")
            << entry.path();
}

TEST_F(CopyEngine, AFullNameShorterThanTheCutIsRefused) {
    folder.write("data/proj/deep/a.txt", "a");
    folder.write("x", "x");
    add(*list, folder / "data/proj/deep/a.txt");
    add(*list, folder / "x");
    copyFull(static_cast<long>((folder / "data/proj/deep").size()) + 1);
    EXPECT_EQ(results(), (std::vector<std::string>{"成功", "失败"}));
}

// ---- opening a listed file ---------------------------------------------------

class OpenListedFile : public ::testing::Test {
  protected:
    OpenListedFile() : list(nameList()) {}

    std::vector<ScriptedHost::Message> open(long row, const std::string& root, bool list1) {
        host.messages.clear();
        kelvane::openListedFile(host, *list, row, root, list1);
        return host.messages;
    }

    TempFolder folder;
    ScriptedHost host;
    std::unique_ptr<grid::Grid> list;
};

TEST_F(OpenListedFile, NotOnARowSaysTheListIsEmptyAlsoWhenItIsNot) {
    using M = std::vector<ScriptedHost::Message>;
    const M expected{{"提示", "数据窗口为空的情况下，不能通过双击打开源文件"}};
    EXPECT_EQ(open(0, "", true), expected);
    add(*list, "/a.txt");
    EXPECT_EQ(open(0, "", false), expected);
    EXPECT_TRUE(host.openedFiles.empty());
}

TEST_F(OpenListedFile, EmptyNameIsRefused) {
    add(*list, "");
    EXPECT_EQ(open(1, folder.path(), true),
              (std::vector<ScriptedHost::Message>{{"提示", "文件名不能为空"}}));
}

TEST_F(OpenListedFile, RelativeNameGetsTheListsRoot) {
    folder.write("src/a/b.txt", "b");
    add(*list, "/a/b.txt");
    EXPECT_TRUE(open(1, folder / "src", true).empty());
    EXPECT_EQ(host.openedFiles, std::vector<std::string>{folder / "src/a/b.txt"});
}

TEST_F(OpenListedFile, FullPathOpensAsItStands) {
    const std::string full = folder.write("x/y.doc", "y");
    add(*list, "/rel.txt");
    add(*list, full);
    EXPECT_TRUE(open(2, folder / "other", false).empty());
    EXPECT_EQ(host.openedFiles, std::vector<std::string>{full});
}

TEST_F(OpenListedFile, MissingFileMessagesDifferByList) {
    folder.write("src/kept.txt", "k");
    add(*list, "/kept.txt");
    add(*list, "/deleted.txt");
    EXPECT_EQ(open(2, folder / "src", true),
              (std::vector<ScriptedHost::Message>{{"提示", "你要打开的文件不存在"}}));
    // The other rows say the list is relative, so the missing path has the root.
    EXPECT_EQ(open(2, folder / "src", false),
              (std::vector<ScriptedHost::Message>{
                  {"提示", "你要打开的文件" + folder / "src/deleted.txt" + "不存在"}}));
    EXPECT_TRUE(host.openedFiles.empty());
}

TEST_F(OpenListedFile, FailureToOpenNamesThePathOnItsOwnLine) {
    folder.write("src/a.zzz", "a");
    add(*list, "/a.zzz");
    host.openResult = false;
    EXPECT_EQ(open(1, folder / "src", true),
              (std::vector<ScriptedHost::Message>{
                  {"操作提示",
                   "程序执行非法操作!请对该文件进行正确关联。 \r\n" + folder / "src/a.zzz"}}));
}

}  // namespace
