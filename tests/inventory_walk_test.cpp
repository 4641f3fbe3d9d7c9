// The folder walk engine on real temporary folders.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/exclude_patterns.h"
#include "common/file_attributes.h"
#include "grid/grid.h"
#include "host/clock.h"
#include "host/fs.h"
#include "host/paths.h"
#include "kelvane/inventory/folder_walk.h"
#include "kelvane/kelvane_settings.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unprivileged.h"

namespace {

using kelvane::WalkOptions;
using kelvane::WalkResult;
using testing_support::TempFolder;

constexpr std::time_t kConditionSecond = 1136163845;  // 2006-01-02, any zone

class RecordingProgress : public host::ProgressSink {
  public:
    void step(long count, std::string_view current) override {
        counts.push_back(count);
        names.emplace_back(current);
    }
    // A stop asked for once `stopAfter` files were met (Esc in the window).
    bool stopRequested() const noexcept override {
        return stopAfter >= 0 && static_cast<long>(counts.size()) >= stopAfter;
    }
    long stopAfter = -1;
    std::vector<long> counts;
    std::vector<std::string> names;
};

class FolderWalk : public ::testing::Test {
  protected:
    WalkResult walk(const WalkOptions& options = {}) { return walkFrom(tree.path(), options); }
    WalkResult walkFrom(const std::string& top, const WalkOptions& options = {}) {
        return kelvane::walkFolder(grid, top, tree.path(), options, progress);
    }
    std::vector<std::string> column(const char* name) const {
        std::vector<std::string> values;
        for (long row = 1; row <= grid.rowcount(); ++row)
            values.push_back(grid.getitemstring(row, name));
        return values;
    }
    std::vector<std::string> names() const { return column("md"); }
    std::vector<double> numbers() const {
        std::vector<double> values;
        for (long row = 1; row <= grid.rowcount(); ++row)
            values.push_back(grid.getitemnumber(row, "xh"));
        return values;
    }
    static WalkOptions condition(const std::string& szf, const std::string& time,
                                 const std::string& unit = "2") {
        WalkOptions options;
        options.condition = kelvane::browseCondition(szf);
        options.conditionTime = time;
        options.lengthUnit = unit;
        return options;
    }

    TempFolder tree;
    grid::Grid grid{grid::loadGridDefinition("htmd1")};
    RecordingProgress progress;
};

// --- names and order ---------------------------------------------------------

TEST_F(FolderWalk, FileInTheRootIsNamedWithALeadingSeparatorAndMarkedDifferent) {
    tree.write("a.txt", "x");
    const WalkResult result = walk();
    EXPECT_TRUE(result.listed);
    EXPECT_EQ(names(), std::vector<std::string>{"/a.txt"});
    EXPECT_EQ(grid.getitemnumber(1, "xh"), 1);
    EXPECT_EQ(grid.getitemstring(1, "jg"), "不同");
    EXPECT_EQ(grid.getitemstring(1, "wjct"), "");
    EXPECT_EQ(grid.getitemstring(1, "xgrq"), "");
    EXPECT_EQ(grid.getitemstring(1, "cjrq"), "");
}

TEST_F(FolderWalk, SubfoldersComeDepthFirstWhereTheirEntrySortsInTheListing) {
    // Listing texts: "1.txt" < "[a]" < "b.txt" < "C.txt" (letters folded), and
    // inside a: "[b]" < "x.txt".
    tree.write("C.txt", "");
    tree.write("b.txt", "");
    tree.write("1.txt", "");
    tree.write("a/x.txt", "");
    tree.write("a/b/y.txt", "");
    walk();
    EXPECT_EQ(names(),
              (std::vector<std::string>{"/1.txt", "/a/b/y.txt", "/a/x.txt", "/b.txt", "/C.txt"}));
    EXPECT_EQ(numbers(), (std::vector<double>{1, 2, 3, 4, 5}));
}

TEST_F(FolderWalk, NamesKeepChineseBlanksQuotesAndBytesThatAreNotUtf8) {
    const std::vector<std::string> files = {"文件夹 一/报告 \"终\".txt", "it's.txt",
                                            std::string("raw\xB2\xE2.txt")};
    for (const auto& file : files) tree.write(file, "");
    walk();
    // "[" of a folder's listing text sorts before letters.
    EXPECT_EQ(names(), (std::vector<std::string>{"/文件夹 一/报告 \"终\".txt", "/it's.txt",
                                                 std::string("/raw\xB2\xE2.txt")}));
}

TEST_F(FolderWalk, TrailingSeparatorsOnTopOrRootChangeNoName) {
    tree.write("d/f.txt", "");
    kelvane::walkFolder(grid, tree.path() + "//", tree.path() + "/", {}, progress);
    EXPECT_EQ(names(), std::vector<std::string>{"/d/f.txt"});
}

TEST_F(FolderWalk, UnderTheFileSystemRootNamesAreWholePathsWithOneLeadingSeparator) {
    tree.write("d/f.txt", "");
    kelvane::walkFolder(grid, tree.path(), "/", {}, progress);
    EXPECT_EQ(names(), std::vector<std::string>{tree.path() + "/d/f.txt"});
}

TEST_F(FolderWalk, NamesOfASubfolderWalkAreStillRelativeToTheRoot) {
    tree.write("d/e/f.txt", "");
    walkFrom(tree / "d");
    EXPECT_EQ(names(), std::vector<std::string>{"/d/e/f.txt"});
}

TEST_F(FolderWalk, EmptyOrMissingTopFolderGivesNoRowsAndIsNotListed) {
    EXPECT_FALSE(walk().listed);
    EXPECT_FALSE(walkFrom(tree / "missing").listed);
    // An empty or blank folder text names no folder, not the file system's root.
    for (const char* text : {"", " ", " \t "})
        EXPECT_FALSE(kelvane::walkFolder(grid, text, text, {}, progress).listed)
            << '"' << text << '"';
    EXPECT_EQ(grid.rowcount(), 0);
}

TEST_F(FolderWalk, EmptySubfoldersAddNothingAndAreNotSkips) {
    tree.mkdir("empty/deeper");
    tree.write("z.txt", "");
    const WalkResult result = walk();
    EXPECT_EQ(names(), std::vector<std::string>{"/z.txt"});
    EXPECT_TRUE(result.skippedFolders.empty());
}

TEST_F(FolderWalk, ProgressSeesEveryFileOnceWithARunningCount) {
    tree.write("a.txt", "");
    tree.write("s/b.txt", "");
    walk(condition("1", "2999-01-01 00:00:00"));  // nothing kept, all met
    EXPECT_EQ(grid.rowcount(), 0);
    EXPECT_EQ(progress.counts, (std::vector<long>{1, 2}));
    EXPECT_EQ(progress.names, (std::vector<std::string>{"/s/b.txt", "/a.txt"}));
}

// A stop ends the walk before the next entry: the rows are the files met.
TEST_F(FolderWalk, AStopEndsTheWalkWithTheFilesMetListed) {
    for (int i = 0; i < 10; ++i)
        tree.write("s" + std::to_string(i % 2) + "/f" + std::to_string(i), "");
    progress.stopAfter = 3;
    const WalkResult result = walk();
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.filesMet, 3);
    EXPECT_EQ(names(), progress.names);
}

// --- appending to a list ----------------------------------------------------------

TEST_F(FolderWalk, WalkingTwiceAppendsAndNumbersOn) {
    tree.write("a.txt", "");
    tree.write("b.txt", "");
    walk();
    walk();
    EXPECT_EQ(names(), (std::vector<std::string>{"/a.txt", "/b.txt", "/a.txt", "/b.txt"}));
    EXPECT_EQ(numbers(), (std::vector<double>{1, 2, 3, 4}));
}

TEST_F(FolderWalk, UnderAFilterNumbersFollowTheShownRows) {
    for (int i = 0; i < 3; ++i) {
        grid.insertrow(0);
        grid.setitem(i + 1, "xh", i + 1.0);
        grid.setitem(i + 1, "jg", i == 1 ? "不同" : "相同");
    }
    grid.setfilter("jg = '不同'");
    grid.filter();
    tree.write("n.txt", "");
    walk();
    ASSERT_EQ(grid.rowcount(), 2);
    EXPECT_EQ(grid.getitemnumber(2, "xh"), 2);
    EXPECT_EQ(grid.getitemstring(2, "md"), "/n.txt");
}

TEST_F(FolderWalk, RepaintingIsHeldDuringTheWalkAndRestoredAfter) {
    tree.write("a.txt", "");
    walk();
    EXPECT_TRUE(grid.redraw());
    grid.setredraw(false);
    walk();
    EXPECT_FALSE(grid.redraw());
}

// --- masks and special entries -------------------------------------------------------

TEST_F(FolderWalk, HiddenFilesAndFoldersOnlyWithTheEverythingMask) {
    tree.write(".hidden", "");
    tree.write(".secret/in.txt", "");
    tree.write("shown.txt", "");
    walk();
    EXPECT_EQ(names(), std::vector<std::string>{"/shown.txt"});
    grid.reset();
    WalkOptions everything;
    everything.mask = host::kListEverything;
    walk(everything);
    EXPECT_EQ(names(), (std::vector<std::string>{"/.hidden", "/.secret/in.txt", "/shown.txt"}));
}

TEST_F(FolderWalk, LinkLoopEndsAndALinkToAFileIsListedAsTheFile) {
    tree.write("real/f.txt", "");
    ASSERT_EQ(::symlink("..", (tree / "real/up").c_str()), 0);
    ASSERT_EQ(::symlink("f.txt", (tree / "real/g.txt").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (tree / "real/dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((tree / "real/pipe").c_str(), 0600), 0);
    walk();
    EXPECT_EQ(names(), (std::vector<std::string>{"/real/f.txt", "/real/g.txt"}));
}

// Permissions bind no superuser: when the tests run as root, these walk as
// "nobody".
class UnreadableFolderWalk : public FolderWalk {
  protected:
    void asUser(const std::function<void()>& body) {
        testing_support::giveToNobody(tree.path());
        testing_support::asUnprivileged(body);
    }
};

TEST_F(UnreadableFolderWalk, IsSkippedAndTheWalkGoesOn) {
    tree.write("0.txt", "");
    tree.write("locked/hidden.txt", "");
    tree.write("m/after.txt", "");
    asUser([&] {
        ASSERT_EQ(::chmod((tree / "locked").c_str(), 0), 0);
        const WalkResult result = walk();
        EXPECT_EQ(names(), (std::vector<std::string>{"/0.txt", "/m/after.txt"}));
        EXPECT_EQ(result.skippedFolders.size(), 1u);
    });
}

TEST_F(UnreadableFolderWalk, FilesWhoseStatusCannotBeReadGetTheFileServicesFailureTexts) {
    // Readable but not searchable: the names list, their status does not.
    const std::string file = tree.write("nosearch/f.txt", "abc");
    asUser([&] {
        ASSERT_EQ(::chmod((tree / "nosearch").c_str(), 0444), 0);
        walk(condition("1", "1000-01-01 00:00:00"));
        ASSERT_EQ(grid.rowcount(), 1);
        EXPECT_EQ(grid.getitemstring(1, "xgrq"), common::getft(file, 3));
        EXPECT_EQ(grid.getitemstring(1, "cjrq"), common::getft(file, 1));
        EXPECT_EQ(grid.getitemstring(1, "wjct"), "4194304KB");
    });
}

// --- browse conditions ---------------------------------------------------------------

class BrowseCondition : public FolderWalk {
  protected:
    void SetUp() override {
        equal = tree.write("equal.txt", "");
        later = tree.write("later.txt", "");
        TempFolder::setModified(equal, kConditionSecond);
        TempFolder::setModified(later, kConditionSecond + 1);
    }
    std::string conditionText() const { return host::localTimeText(kConditionSecond); }
    std::string equal;
    std::string later;
};

TEST_F(BrowseCondition, ModifiedAfterIsStrictlyGreater) {
    walk(condition("1", conditionText()));
    EXPECT_EQ(names(), std::vector<std::string>{"/later.txt"});
    EXPECT_EQ(grid.getitemnumber(1, "xh"), 1);
}

TEST_F(BrowseCondition, KeptRowsCarryTheTextsOfFilelzfAndGetft) {
    walk(condition("1", "1000-01-01 00:00:00"));
    ASSERT_EQ(grid.rowcount(), 2);
    EXPECT_EQ(column("xgrq"),
              (std::vector<std::string>{common::getft(equal, 3), common::getft(later, 3)}));
    EXPECT_EQ(column("cjrq"),
              (std::vector<std::string>{common::getft(equal, 1), common::getft(later, 1)}));
    EXPECT_EQ(grid.getitemstring(2, "xgrq"), host::localTimeText(kConditionSecond + 1));
    EXPECT_EQ(grid.getitemstring(1, "wjct"), common::filelzf(equal, "2"));
}

TEST_F(BrowseCondition, CreatedAfterUsesTheCreationTimeAlone) {
    const std::string created = common::getft(later, 1);
    walk(condition("2", created));  // equal to the creation time: not kept
    EXPECT_EQ(grid.rowcount(), 0);
    std::time_t seconds = 0;
    ASSERT_TRUE(host::parseLocalTimeText(created, seconds));
    walk(condition("2", host::localTimeText(seconds - 1)));
    EXPECT_EQ(names(), (std::vector<std::string>{"/equal.txt", "/later.txt"}));
}

TEST_F(BrowseCondition, EitherTakesAFileCreatedAfterEvenWhenModifiedBefore) {
    // Both files were modified in 2006 but came into being today.
    const std::string threshold = "2010-01-01 00:00:00";
    walk(condition("1", threshold));
    EXPECT_EQ(grid.rowcount(), 0);
    walk(condition("3", threshold));
    EXPECT_EQ(grid.rowcount(), 2);
    walk(condition("7", threshold));  // any number other than 1 and 2 means either
    EXPECT_EQ(grid.rowcount(), 4);
}

TEST_F(BrowseCondition, TextThatIsNotANumberMeansNoConditionAndNoExtraColumns) {
    for (const char* szf : {"", "附", "x"}) {
        grid.reset();
        walk(condition(szf, "2999-01-01 00:00:00"));
        EXPECT_EQ(grid.rowcount(), 2) << szf;
        EXPECT_EQ(column("wjct"), (std::vector<std::string>{"", ""})) << szf;
        EXPECT_EQ(column("xgrq"), (std::vector<std::string>{"", ""})) << szf;
    }
}

TEST_F(BrowseCondition, LengthTextFollowsTheUnitAsFilelzfDoes) {
    const std::string sized = tree.write("sized.bin", std::string(1536, 'x'));
    const std::vector<std::pair<std::string, std::string>> units = {
        {"1", "1536字节"}, {"2", "1.5KB"}, {"3", "0MB"}, {"", "1.5KB"}, {"文", "1.5KB"}};
    for (const auto& [unit, expected] : units) {
        grid.reset();
        walk(condition("1", "1000-01-01 00:00:00", unit));
        ASSERT_EQ(grid.rowcount(), 3);
        const long row = grid.find("md", "/sized.bin");
        ASSERT_GT(row, 0);
        EXPECT_EQ(grid.getitemstring(row, "wjct"), common::filelzf(sized, unit)) << unit;
        EXPECT_EQ(grid.getitemstring(row, "wjct"), expected) << unit;
    }
}

// --- exclude patterns ------------------------------------------------------------

TEST(ExcludePatterns, GlobsMatchNamesAndPathsBelowTheWalkedFolder) {
    struct Case {
        const char* pattern;
        const char* relative;
        bool isFolder;
        bool excluded;
    };
    const Case cases[] = {
        {"*.tmp", "a.tmp", false, true},
        {"*.tmp", "deep/er/a.tmp", false, true},  // a name at any depth
        {"*.tmp", "a.tmpx", false, false},
        {"?.txt", "中.txt", false, true},  // ? is one character, not one byte
        {"?.txt", "ab.txt", false, false},
        {"node_modules/", "web/node_modules", true, true},
        {"node_modules/", "web/node_modules", false, false},  // folders only
        {"/build/", "build", true, true},
        {"/build/", "src/build", true, false},  // anchored at the walked folder
        {"cache/*.bin", "a/cache/x.bin", false, true},
        {"cache/*.bin", "cache/d/x.bin", false, false},  // * stays within a name
        {"photos/**/*.raw", "photos/a.raw", false, true},
        {"photos/**/*.raw", "x/photos/2024/06/a.raw", false, true},
        {"photos/**/*.raw", "photosx/a.raw", false, false},
        {"/a**z", "a/b/z", false, true},
        // A path pattern starts, and "**/" stands, at folder boundaries only.
        {"photos/**/*.raw", "myphotos/2024/a.raw", false, false},
        {"photos/**/*.raw", "x/old_photos/a.raw", false, false},
        {"cache/*.bin", "mycache/x.bin", false, false},
        {"**/cache", "a/precache", true, false},
        {"**/cache", "a/cache", true, true},
        {"build/tmp/", "rebuild/tmp", true, false},
        {"a/**/b", "a/xb", false, false},
        {"a/**/b", "a/yyb", true, false},
        {"a/**/b", "a/x/y/b", false, true},
        {"a/**/b", "a/b", false, true},
        // Classes and escapes as the shell reads them.
        {"*.[oa]", "x.a", false, true},
        {"*.[oa]", "x.c", false, false},
        {"[!a-c]?.txt", "d1.txt", false, true},
        {"[^a-c]?.txt", "b1.txt", false, false},
        {"[]x].txt", "].txt", false, true},
        {"a[/]b", "a/b", false, false},  // a class never takes a separator
        {"[ab", "[ab", false, true},     // never closed: the characters themselves
        {"*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaac", false, false},
    };
    for (const Case& c : cases) {
        const common::ExcludePatterns patterns({c.pattern});
        const std::string relative = testing_support::native(c.relative);
        const std::size_t cut = relative.find_last_of(testing_support::kSeparator) + 1;
        EXPECT_EQ(patterns.excludes(relative.substr(0, cut), relative.substr(cut), c.isFolder),
                  c.excluded)
            << c.pattern << " " << c.relative;
    }
    // Case counts only where file names ignore it.
    const common::ExcludePatterns upper({"*.TMP", "ÉTÉ/"});
    EXPECT_EQ(upper.excludes("", "a.tmp", false), host::namesIgnoreCase());
    EXPECT_EQ(upper.excludes("", "été", true), host::namesIgnoreCase());
    EXPECT_TRUE(upper.excludes("", "b.TMP", false));
    // A path is left out by any folder it lies in.
    const common::ExcludePatterns folders({"node_modules/"});
    EXPECT_TRUE(folders.excludesPath(testing_support::native("web/node_modules/x/y.js"), false));
    EXPECT_FALSE(folders.excludesPath(testing_support::native("web/x/node_modules"), false));
    EXPECT_TRUE(common::ExcludePatterns({"", "/"}).empty());

    EXPECT_EQ(common::patternsOfSetting(" *.tmp ; ;/build/;"),
              (std::vector<std::string>{"*.tmp", "/build/"}));
    EXPECT_EQ(common::patternsOfFile("# comment\r\n*.o\r\n\r\n build/\n"),
              (std::vector<std::string>{"*.o", " build/"}));
    EXPECT_EQ(common::patternsOfFile("\xEF\xBB\xBF*.o\r*.a\r\r#x\r"),
              (std::vector<std::string>{"*.o", "*.a"}));
    // A backslash escapes where it does not separate folders.
    if (!host::isSeparator('\\')) {
        const common::ExcludePatterns escaped({"\\*.txt", "a\\[b].c"});
        EXPECT_TRUE(escaped.excludes("", "*.txt", false));
        EXPECT_FALSE(escaped.excludes("", "x.txt", false));
        EXPECT_TRUE(escaped.excludes("", "a[b].c", false));
        EXPECT_FALSE(escaped.excludes("", "ab.c", false));
    }
}

TEST_F(FolderWalk, ExcludedNamesAreLeftOutRelativeToTheTopFolder) {
    tree.write("top/keep.txt", "k");
    tree.write("top/a.tmp", "t");
    tree.write("top/out/x.txt", "x");
    tree.write("top/sub/out/y.txt", "y");
    tree.write("top/sub/z.tmp", "z");
    WalkOptions options;
    options.exclude = common::ExcludePatterns({"*.tmp", "/out/"});
    walkFrom(tree / "top", options);
    EXPECT_EQ(names(), testing_support::nativeNames({"/top/sub/out/y.txt", "/top/keep.txt"}));
}

// The setting "hjlltj" holds the condition as its digit: what is read is
// written back as the same digit, and a text that names no condition of the
// list (the window shows its label for it) goes back as "0".
TEST(BrowseConditionSetting, StoredDigitsReadAndWriteBackUnchanged) {
    TempFolder folder;
    const std::string profile = kelvane::profilePath(folder.path());
    for (const auto& [stored, written] : std::vector<std::pair<std::string, std::string>>{
             {"0", "0"}, {"1", "1"}, {"2", "2"}, {"3", "3"}, {"4", "0"}, {"x", "0"}, {"", "0"}}) {
        folder.write("selmo1.ini", "[other]\r\nhjlltj=" + stored + "\r\n");
        ASSERT_TRUE(kelvane::saveMainSettings(profile, kelvane::loadMainSettings(profile)));
        EXPECT_NE(TempFolder::read(profile).find("hjlltj=" + written + "\r\n"), std::string::npos)
            << stored << ": " << TempFolder::read(profile);
    }
}

}  // namespace
