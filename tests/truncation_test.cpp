// The cut rules without a window: jqwz, the source folder it yields, and the
// cut of a list's names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grid/grid.h"
#include "host/paths.h"
#include "host/progress.h"
#include "kelvane/import/jqwz.h"
#include "support/skips.h"

using kelvane::cutNames;
using kelvane::jqwz;
using kelvane::sourceFolderOf;

namespace {

TEST(Jqwz, FindsTheNumberedBackslash) {
    EXPECT_EQ(jqwz("\\a\\b.txt", 2, "\\"), 3);
    EXPECT_EQ(jqwz("\\a\\b.txt", 1, "\\"), 1);
    EXPECT_EQ(jqwz("C:\\data\\proj\\a\\b.txt", 1, "\\"), 3);
    EXPECT_EQ(jqwz("C:\\data\\proj\\a\\b.txt", 3, "\\"), 13);
    // Doubled separators count one by one: none is skipped or merged.
    EXPECT_EQ(jqwz("/data//x/a.txt", 2, "/"), 6);
    EXPECT_EQ(jqwz("/data//x/a.txt", 3, "/"), 7);
    EXPECT_EQ(jqwz("/data//x/a.txt", 4, "/"), 9);
    EXPECT_EQ(jqwz("C:\\data\\\\x", 3, "\\"), 9);
}

TEST(Jqwz, FewerSeparatorsOrACountBelowOneGiveZero) {
    EXPECT_EQ(jqwz("\\a\\b.txt", 3, "\\"), 0);
    EXPECT_EQ(jqwz("\\a\\b.txt", 99, "\\"), 0);
    EXPECT_EQ(jqwz("\\a\\b.txt", 0, "\\"), 0);
    EXPECT_EQ(jqwz("\\a\\b.txt", -4, "\\"), 0);
    EXPECT_EQ(jqwz("", 1, "\\"), 0);
    EXPECT_EQ(jqwz("abc", 1, "\\"), 0);
}

TEST(Jqwz, CountsChineseCharactersAsTwoBytes) {
    // 数据 fills bytes 4-7.
    EXPECT_EQ(jqwz("C:\\数据\\项目\\a.txt", 2, "\\"), 8);
    EXPECT_EQ(jqwz("C:\\数据\\项目\\a.txt", 3, "\\"), 13);
    // 乗's GBK form ends in the byte of "\", which must not count as one.
    EXPECT_EQ(jqwz("C:\\乗\\a.txt", 2, "\\"), 6);
    EXPECT_EQ(jqwz("C:\\乗乗a.txt", 2, "\\"), 0);
}

class PosixPaths : public ::testing::Test {
  protected:
    void SetUp() override {
        if (host::separator() != '/')
            GTEST_SKIP() << testing_support::kSkipPlatformRules << "POSIX paths";
    }
};

TEST_F(PosixPaths, JqwzCountsSlashes) {
    EXPECT_EQ(jqwz("/home/用户/a.txt", 1), 1);
    EXPECT_EQ(jqwz("/home/用户/a.txt", 2), 6);
    EXPECT_EQ(jqwz("/home/用户/a.txt", 3), 11);
    EXPECT_EQ(jqwz("/home/用户/a.txt", 4), 0);
    EXPECT_EQ(jqwz("C:\\data\\a.txt", 1), 0);
}

TEST_F(PosixPaths, TheFirstSlashLeavesNoFolderAndTheSecondGivesTheFirstFolder) {
    EXPECT_EQ(kelvane::firstFolderCount(), 2);
    EXPECT_EQ(sourceFolderOf("/home/用户/a.txt", 1), "");
    EXPECT_EQ(sourceFolderOf("/home/用户/a.txt", kelvane::firstFolderCount()), "/home");
    EXPECT_EQ(sourceFolderOf("/home/用户/a.txt", 3), "/home/用户");
    EXPECT_EQ(sourceFolderOf("/home/用户/a.txt", 4), "");
    EXPECT_EQ(sourceFolderOf("/home/用户/a.txt", 0), "");
}

// Remembers every step it is told of.
class RecordingProgress : public host::ProgressSink {
  public:
    std::vector<long> counts;
    void step(long count, std::string_view) override { counts.push_back(count); }
};

class CutNames : public ::testing::Test {
  protected:
    CutNames()
        : grid(grid::parseGridDefinition("grid htmd1\n"
                                         "column md text 256 md_t 380 名单\n"
                                         "column xh number 0 xh_t 60 序号\n"
                                         "column jg text 5 jg_t 50 结果\n")) {}

    void add(const std::string& name, const std::string& result = "不同") {
        long row = grid.insertrow(0);
        grid.setitem(row, "md", name);
        grid.setitem(row, "xh", static_cast<double>(row));
        grid.setitem(row, "jg", result);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (long row = 1; row <= grid.rowcount(); ++row)
            out.push_back(grid.getitemstring(row, "md"));
        return out;
    }
    using Names = std::vector<std::string>;

    grid::Grid grid;
    host::NullProgress quiet;
};

TEST_F(CutNames, KeepsThePartFromTheStartPosition) {
    add("\\a\\b.txt");
    add("\\c.txt");
    EXPECT_EQ(cutNames(grid, 4, quiet), 2);
    EXPECT_EQ(names(), (Names{"b.txt", "txt"}));
}

TEST_F(CutNames, ChineseCharactersCountTwoAndAreNeverSplit) {
    add("\\中文\\甲.txt");
    add("\\中文\\乙.txt");
    cutNames(grid, 4, quiet);
    EXPECT_EQ(names(), (Names{"文\\甲.txt", "文\\乙.txt"}));
    // Position 2 falls on 文's second byte: the half character is dropped.
    cutNames(grid, 2, quiet);
    EXPECT_EQ(names(), (Names{"\\甲.txt", "\\乙.txt"}));
}

TEST_F(CutNames, PositionsZeroAndOneKeepNamesWhole) {
    add("\\用户\\a.txt");
    cutNames(grid, 0, quiet);
    EXPECT_EQ(names(), (Names{"\\用户\\a.txt"}));
    cutNames(grid, 1, quiet);
    EXPECT_EQ(names(), (Names{"\\用户\\a.txt"}));
}

TEST_F(CutNames, APositionPastTheEndLeavesTheEmptyName) {
    add("\\a.txt");
    add("\\很长的名字.txt");
    cutNames(grid, 8, quiet);
    EXPECT_EQ(names(), (Names{"", "名字.txt"}));
}

TEST_F(CutNames, RunningTwiceCutsTwice) {
    add("\\a\\b\\c.txt");
    cutNames(grid, 3, quiet);
    cutNames(grid, 3, quiet);
    EXPECT_EQ(names(), (Names{"\\c.txt"}));
}

TEST_F(CutNames, OnlyShownRowsAndOnlyTheNameChange) {
    add("\\x\\a.txt", "不同");
    add("\\x\\b.txt", "相同");
    add("\\x\\c.txt", "不同");
    ASSERT_TRUE(grid.setfilter("jg = '不同'"));
    grid.filter();
    ASSERT_EQ(grid.rowcount(), 2);
    EXPECT_EQ(cutNames(grid, 4, quiet), 2);
    EXPECT_EQ(names(), (Names{"a.txt", "c.txt"}));
    EXPECT_EQ(grid.getitemnumber(1, "xh"), 1);
    EXPECT_EQ(grid.getitemstring(2, "jg"), "不同");
    grid.setfilter("");
    grid.filter();
    EXPECT_EQ(names(), (Names{"a.txt", "c.txt", "\\x\\b.txt"}));
}

TEST_F(CutNames, BytesThatAreNotUtf8CountOneAndSurvive) {
    add(std::string("\\\xff\xfe") + "ab");
    cutNames(grid, 3, quiet);
    EXPECT_EQ(names(), (Names{std::string("\xfe") + "ab"}));
}

TEST_F(CutNames, ReportsEveryRowAndRestoresTheRedrawState) {
    for (int i = 0; i < 5; ++i) add("\\n" + std::to_string(i));
    RecordingProgress progress;
    cutNames(grid, 2, progress);
    EXPECT_EQ(progress.counts, (std::vector<long>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(grid.redraw());
    grid.setredraw(false);
    cutNames(grid, 2, quiet);
    EXPECT_FALSE(grid.redraw());
}

TEST_F(CutNames, TheCutNamesAreFoundByFind) {
    add("\\d\\a.txt");
    add("\\d\\b.txt");
    // Builds the find index over the old names first.
    EXPECT_EQ(grid.find("md", "\\d\\b.txt"), 2);
    cutNames(grid, 4, quiet);
    EXPECT_EQ(grid.find("md", "b.txt"), 2);
    EXPECT_EQ(grid.find("md", "\\d\\b.txt"), 0);
}

}  // namespace
