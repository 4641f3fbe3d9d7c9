// The grid's bulk removal, which the check and "移除所选" rely on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grid/grid.h"

namespace {

using grid::Grid;

class BulkRemoval : public ::testing::Test {
  protected:
    void append(const std::vector<std::string>& names) {
        for (const auto& name : names) {
            long row = grid.insertrow(0);
            grid.setitem(row, "xh", static_cast<double>(row));
            grid.setitem(row, "md", name);
            grid.setitem(row, "jg", "不同");
        }
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (long r = 1; r <= grid.rowcount(); ++r) out.push_back(grid.getitemstring(r, "md"));
        return out;
    }

    Grid grid{grid::loadGridDefinition("htmd1")};
};

struct CountingObserver : grid::GridObserver {
    int resets = 0;
    int aboutToReset = 0;
    int other = 0;
    void rowsReset() override { ++resets; }
    void rowsAboutToBeReset() override { ++aboutToReset; }
    void rowsInserted(long, long) override { ++other; }
    void rowsRemoved(long, long) override { ++other; }
    void rowChanged(long) override { ++other; }
    void headerChanged() override { ++other; }
};

TEST_F(BulkRemoval, RemovesTheNamedRowsInAnyOrderKeepingTheRest) {
    append({"a", "b", "c", "d", "e"});
    EXPECT_EQ(grid.deleterows({4, 2, 4, 0, 9, -1}), 2);
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "c", "e"}));
    EXPECT_EQ(grid.getitemnumber(3, "xh"), 5);
}

TEST_F(BulkRemoval, NothingToRemoveChangesNothingAndTellsNoOne) {
    append({"a"});
    CountingObserver observer;
    grid.setObserver(&observer);
    EXPECT_EQ(grid.deleterows({}), 0);
    EXPECT_EQ(grid.deleterows({2}), 0);
    EXPECT_EQ(observer.resets + observer.aboutToReset + observer.other, 0);
    grid.setObserver(nullptr);
}

TEST_F(BulkRemoval, ObserverHearsOneResetOrNothingWhileRedrawIsOff) {
    append({"a", "b", "c"});
    CountingObserver observer;
    grid.setObserver(&observer);
    grid.deleterows({1, 3});
    EXPECT_EQ(observer.aboutToReset, 1);
    EXPECT_EQ(observer.resets, 1);
    EXPECT_EQ(observer.other, 0);
    append({"d", "e"});
    observer = {};
    grid.setredraw(false);
    grid.deleterows({1, 2});
    EXPECT_EQ(observer.resets, 0);
    grid.setredraw(true);
    EXPECT_EQ(observer.resets, 1);
    grid.setObserver(nullptr);
}

TEST_F(BulkRemoval, FindSeesTheRowsAtTheirNewPlaces) {
    append({"a", "b", "c", "b"});
    EXPECT_EQ(grid.find("md", "c"), 3);  // index built before the removal
    grid.deleterows({1, 2});
    EXPECT_EQ(grid.find("md", "c"), 1);
    EXPECT_EQ(grid.find("md", "b"), 2);
    EXPECT_EQ(grid.find("md", "a"), 0);
}

TEST_F(BulkRemoval, HiddenRowsStayAndFreedRowsComeBackClean) {
    append({"a", "b", "c"});
    grid.setitem(2, "jg", "相同");
    grid.selectrow(3, true);
    grid.setfilter("jg = '不同'");
    grid.filter();
    EXPECT_EQ(grid.deleterows({1, 2}), 2);
    EXPECT_EQ(grid.rowcount(), 0);
    append({"new"});
    EXPECT_FALSE(grid.isselected(1));
    EXPECT_EQ(grid.getitemstring(1, "jg"), "不同");
    grid.setfilter("");
    grid.filter();
    EXPECT_EQ(names(), (std::vector<std::string>{"new", "b"}));
}

TEST_F(BulkRemoval, TextViewReadsTextCellsOnly) {
    append({"name"});
    EXPECT_EQ(grid.textView(1, grid.columnIndex("md")), "name");
    EXPECT_EQ(grid.textView(1, grid.columnIndex("xh")), "");  // a number column
    EXPECT_EQ(grid.textView(2, 0), "");
    EXPECT_EQ(grid.textView(1, -1), "");
    EXPECT_EQ(grid.textView(1, grid.columnCount()), "");
}

}  // namespace
