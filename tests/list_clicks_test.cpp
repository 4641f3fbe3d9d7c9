// Clicks on list 1 and list 2: heading sorts, Ctrl and Shift selection,
// driven with real mouse clicks on the grid views.
#include <gtest/gtest.h>
#include <QHeaderView>
#include <QTableView>
#include <QTest>

#include <set>
#include <string>

#include "grid/qt/grid_model.h"
#include "grid/qt/grid_view.h"
#include "kelvane/window/list_clicks.h"
#include "kelvane/window/w_htmd.h"
#include "support/temp_folder.h"
#include "tests/support/scripted_host.h"

using kelvane::w_htmd;
using testing_support::TempFolder;

namespace {

using Rows = std::set<long>;

class ListClicks : public ::testing::Test {
  protected:
    ListClicks() : window(host, folder / "selmo1.ini", 1024, 768) {
        fill(window.dw_1(), 10);
        fill(window.dw_2(), 5);
        window.show();
    }

    // Rows "n01".."nNN" in xh order, xh counting down, so a sort by either
    // column visibly reorders them.
    static void fill(grid::Grid& grid, int rows) {
        for (int i = 1; i <= rows; ++i) {
            long row = grid.insertrow(0);
            grid.setitem(row, "md", name(i));
            grid.setitem(row, "xh", static_cast<double>(rows + 1 - i));
            grid.setitem(row, "jg", i % 2 ? "不同" : "相同");
        }
    }
    static std::string name(int i) { return (i < 10 ? "n0" : "n") + std::to_string(i); }

    grid::GridView* view(int list) const { return &window.gridView(list); }
    void clickRow(int list, long row, Qt::KeyboardModifiers keys) {
        QTableView* table = view(list)->tableView();
        const QModelIndex index = table->model()->index(static_cast<int>(row - 1), 0);
        table->scrollTo(index);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, keys,
                          table->visualRect(index).center());
    }
    void clickHeading(int list, int column, Qt::KeyboardModifiers keys = Qt::NoModifier) {
        QTableView* table = view(list)->tableView();
        // Bring the heading into view: the name column alone nearly fills the list.
        table->scrollTo(table->model()->index(0, column));
        QHeaderView* header = table->horizontalHeader();
        const QPoint middle(
            header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
            header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, keys, middle);
    }
    Rows selected(int list) {
        grid::Grid& grid = window.dw(list);
        Rows rows;
        for (long row = 1; row <= grid.rowcount(); ++row) {
            if (grid.isselected(row)) rows.insert(row);
        }
        return rows;
    }
    std::string names(int list) {
        grid::Grid& grid = window.dw(list);
        std::string out;
        for (long row = 1; row <= grid.rowcount(); ++row)
            out += grid.getitemstring(row, "md") + " ";
        return out;
    }
    kelvane::ListClickState& state() { return *kelvane::listClickState(window); }

    TempFolder folder;
    host::ScriptedHost host;
    w_htmd window;
};

TEST_F(ListClicks, TheViewsLeaveSelectingToTheGrid) {
    for (int list : {1, 2}) {
        EXPECT_EQ(view(list)->tableView()->selectionMode(), QAbstractItemView::NoSelection);
    }
    ASSERT_NE(kelvane::listClickState(window), nullptr);
    EXPECT_FALSE(state().ib_flag);
    EXPECT_EQ(state().i_lng_lastrow, 0);
}

TEST_F(ListClicks, FirstHeadingClickSortsDescendingTheNextAscending) {
    clickHeading(1, 0);  // md_t
    EXPECT_EQ(names(1), "n10 n09 n08 n07 n06 n05 n04 n03 n02 n01 ");
    EXPECT_TRUE(state().ib_flag);
    // The direction is shared: list 2's xh heading now sorts ascending.
    clickHeading(2, 1);
    EXPECT_EQ(names(2), "n05 n04 n03 n02 n01 ");
    EXPECT_FALSE(state().ib_flag);
    clickHeading(1, 0);
    EXPECT_EQ(names(1), "n10 n09 n08 n07 n06 n05 n04 n03 n02 n01 ");
    clickHeading(1, 0);
    EXPECT_EQ(names(1), "n01 n02 n03 n04 n05 n06 n07 n08 n09 n10 ");
}

TEST_F(ListClicks, HeadingClickWithCtrlOrShiftDoesNothing) {
    clickHeading(1, 0, Qt::ControlModifier);
    clickHeading(1, 0, Qt::ShiftModifier);
    EXPECT_EQ(names(1), "n01 n02 n03 n04 n05 n06 n07 n08 n09 n10 ");
    EXPECT_FALSE(state().ib_flag);
}

TEST_F(ListClicks, SortKeepsTheFilter) {
    ASSERT_TRUE(window.dw_1().setfilter("jg = '不同'"));
    window.dw_1().filter();
    clickHeading(1, 0);
    EXPECT_EQ(names(1), "n09 n07 n05 n03 n01 ");
}

TEST_F(ListClicks, CtrlTogglesRowsAndShiftSelectsTheRangeFromTheLastCtrlRow) {
    clickRow(1, 3, Qt::ControlModifier);
    clickRow(1, 7, Qt::ControlModifier);
    EXPECT_EQ(selected(1), (Rows{3, 7}));
    EXPECT_EQ(state().i_lng_lastrow, 7);
    clickRow(1, 4, Qt::ShiftModifier);
    EXPECT_EQ(selected(1), (Rows{4, 5, 6, 7}));
    // The anchor stays: a second range starts from row 7 again.
    EXPECT_EQ(state().i_lng_lastrow, 7);
    clickRow(1, 9, Qt::ShiftModifier);
    EXPECT_EQ(selected(1), (Rows{7, 8, 9}));
}

TEST_F(ListClicks, ShiftWithoutAnchorSelectsTheRowAndAnchorsThere) {
    clickRow(1, 2, Qt::ControlModifier);
    clickRow(1, 2, Qt::ControlModifier);
    state().i_lng_lastrow = 0;
    ASSERT_EQ(selected(1), Rows{});
    clickRow(1, 5, Qt::ShiftModifier);
    EXPECT_EQ(selected(1), (Rows{5}));
    EXPECT_EQ(state().i_lng_lastrow, 5);
    clickRow(1, 3, Qt::ShiftModifier);
    EXPECT_EQ(selected(1), (Rows{3, 4, 5}));
}

TEST_F(ListClicks, CtrlOnASelectedRowDeselectsItAndMakesItTheAnchor) {
    clickRow(1, 2, Qt::ControlModifier);
    clickRow(1, 6, Qt::ControlModifier);
    clickRow(1, 2, Qt::ControlModifier);
    EXPECT_EQ(selected(1), (Rows{6}));
    EXPECT_EQ(state().i_lng_lastrow, 2);
}

TEST_F(ListClicks, CtrlWithShiftActsAsShift) {
    clickRow(1, 8, Qt::ControlModifier);
    clickRow(1, 6, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(selected(1), (Rows{6, 7, 8}));
    EXPECT_EQ(state().i_lng_lastrow, 8);
}

TEST_F(ListClicks, PlainRowClickKeepsTheSelection) {
    clickRow(1, 3, Qt::ControlModifier);
    clickRow(1, 5, Qt::NoModifier);
    clickRow(1, 3, Qt::NoModifier);
    EXPECT_EQ(selected(1), (Rows{3}));
    EXPECT_EQ(state().i_lng_lastrow, 3);
}

TEST_F(ListClicks, ShiftClickBelowTheLastRowChangesNothing) {
    clickRow(2, 2, Qt::ControlModifier);
    QTableView* table = view(2)->tableView();
    const QRect last = table->visualRect(table->model()->index(4, 0));
    const QPoint below(last.center().x(), last.bottom() + last.height());
    ASSERT_LT(below.y(), table->viewport()->height()) << "the list must end inside the view";
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ShiftModifier, below);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier, below);
    EXPECT_EQ(selected(2), (Rows{2}));
    EXPECT_EQ(state().i_lng_lastrow, 2);
}

TEST_F(ListClicks, TheAnchorIsSharedAndRowsPastTheEndAreSkipped) {
    clickRow(1, 9, Qt::ControlModifier);
    clickRow(2, 2, Qt::ShiftModifier);
    EXPECT_EQ(selected(2), (Rows{2, 3, 4, 5}));
    EXPECT_EQ(selected(1), (Rows{9}));
    EXPECT_EQ(state().i_lng_lastrow, 9);
}

TEST_F(ListClicks, TheAnchorOutlivesAShrinkingList) {
    clickRow(1, 8, Qt::ControlModifier);
    while (window.dw_1().rowcount() > 4) window.dw_1().deleterow(window.dw_1().rowcount());
    clickRow(1, 2, Qt::ShiftModifier);
    EXPECT_EQ(selected(1), (Rows{2, 3, 4}));
}

TEST_F(ListClicks, TheModelShowsTheGridsSelection) {
    clickRow(1, 4, Qt::ControlModifier);
    const grid::GridModel& model = view(1)->model();
    EXPECT_TRUE(model.data(model.index(3, 0), grid::GridModel::SelectedRole).toBool());
    EXPECT_FALSE(model.data(model.index(2, 0), grid::GridModel::SelectedRole).toBool());
    EXPECT_NE(model.data(model.index(3, 0), Qt::BackgroundRole),
              model.data(model.index(2, 0), Qt::BackgroundRole));
}

// The rules without a view: a range far past the end stays cheap and safe.
TEST(ListClickRules, ARangeFromAFarAnchorSelectsOnlyExistingRows) {
    grid::Grid grid(grid::parseGridDefinition("grid g\ncolumn md text 256 md_t 100 名\n"));
    for (int i = 0; i < 3; ++i) grid.insertrow(0);
    kelvane::ListClickState state;
    state.i_lng_lastrow = 2000000000;
    kelvane::rowClicked(grid, state, 2, {false, true});
    EXPECT_FALSE(grid.isselected(1));
    EXPECT_TRUE(grid.isselected(2));
    EXPECT_TRUE(grid.isselected(3));
    // A row number past the end is no row.
    kelvane::rowClicked(grid, state, 4, {true, false});
    EXPECT_EQ(state.i_lng_lastrow, 2000000000);
}

TEST(ListClickRules, OnlyHeadingObjectsSort) {
    grid::Grid grid(grid::parseGridDefinition("grid g\ncolumn md text 256 md 100 名\n"));
    kelvane::ListClickState state;
    kelvane::headingClicked(grid, state, "md", {});
    EXPECT_FALSE(state.ib_flag);
    kelvane::headingClicked(grid, state, "md_T", {});
    EXPECT_TRUE(state.ib_flag);
}

}  // namespace
