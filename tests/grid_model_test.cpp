// The Qt adapter over the grid: model consistency under every kind of change,
// display and header texts, row colours, and the view's footer.
#include "grid/qt/grid_model.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QBrush>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QSignalSpy>
#include <QTableView>

#include "grid/qt/grid_view.h"
#include "host/paths.h"

namespace {

using grid::Grid;
using grid::GridModel;

class GridModelTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!QApplication::instance()) {
            static int argc = 1;
            static char name[] = "grid_model_test";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
        }
    }

    QString text(const GridModel& model, int row, int column) const {
        return model.data(model.index(row, column)).toString();
    }

    long append(Grid& grid, const std::string& name, const std::string& result = "不同") {
        grid.insertrow(0);
        long row = grid.rowcount();
        grid.setitem(row, "xh", static_cast<double>(row));
        grid.setitem(row, "md", name);
        grid.setitem(row, "jg", result);
        return row;
    }
};

TEST_F(GridModelTest, StaysConsistentThroughEveryKindOfChange) {
    Grid grid(grid::loadGridDefinition("htmd1"));
    GridModel model(grid);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    append(grid, "c");
    append(grid, "a", "相同");
    append(grid, "b");
    EXPECT_EQ(model.rowCount(), 3);
    grid.insertrow(2);
    grid.deleterow(1);
    grid.deleterow(grid.rowcount());
    grid.importtext("x\t9\ny\t10\n");
    grid.setsort("md A");
    grid.sort();
    grid.setfilter("jg = '不同'");
    grid.filter();
    grid.selectrow(0, true);
    grid.modify("md_t.text = '名单'");
    EXPECT_EQ(model.rowCount(), grid.rowcount());
    grid.setredraw(false);
    for (int i = 0; i < 5; ++i) append(grid, "n");
    grid.deleterow(1);
    EXPECT_NE(model.rowCount(), grid.rowcount());  // nothing announced yet
    grid.setredraw(true);
    EXPECT_EQ(model.rowCount(), grid.rowcount());
    grid.reset();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(GridModelTest, ObserverDrivenInsertionReachesTheView) {
    Grid grid(grid::loadGridDefinition("htmd1"));
    GridModel model(grid);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    append(grid, "a");
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 0);
    EXPECT_EQ(inserted[0][2].toInt(), 0);
    EXPECT_EQ(changed.count(), 3);  // xh, md, jg
    EXPECT_EQ(text(model, 0, 0), "a");
}

TEST_F(GridModelTest, DisplayAndHeaderTexts) {
    Grid grid(grid::loadGridDefinition("htmd1"));
    GridModel model(grid);
    append(grid, "名单");
    grid.insertrow(0);
    grid.setitem(2, "md", std::string("bad\xFF"));
    grid.setitem(2, "xh", 2.5);
    EXPECT_EQ(text(model, 0, 0), QString::fromUtf8("名单"));
    EXPECT_EQ(text(model, 0, 1), "1");  // not "1.0"
    EXPECT_EQ(text(model, 0, 2), QString::fromUtf8("不同"));
    EXPECT_EQ(text(model, 1, 0), QString::fromUtf8("bad\xEF\xBF\xBD"));
    EXPECT_EQ(grid.getitemstring(2, "md"), "bad\xFF");  // stored bytes untouched
    EXPECT_EQ(text(model, 1, 1), "2.5");
    EXPECT_EQ(text(model, 1, 2), "");
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(),
              QString::fromUtf8("源文件夹文件名单(或名单1)"));
    EXPECT_EQ(model.headerData(5, Qt::Horizontal).toString(), QString::fromUtf8("创建日期"));
    QSignalSpy header(&model, &QAbstractItemModel::headerDataChanged);
    grid.modify("xh_t.text = '编号'");
    EXPECT_EQ(header.count(), 1);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("编号"));
}

TEST_F(GridModelTest, SelectionAndCurrentRowColours) {
    Grid grid(grid::loadGridDefinition("frn1"));
    GridModel model(grid);
    for (int i = 0; i < 3; ++i) {
        grid.insertrow(0);
        grid.setitem(grid.rowcount(), "ypath", "/data/" + std::to_string(i));
    }
    auto background = [&](int row) {
        return model.data(model.index(row, 0), Qt::BackgroundRole).value<QBrush>().color();
    };
    model.setCurrentRow(2);
    EXPECT_EQ(background(1), QColor(174, 241, 242));
    EXPECT_EQ(background(0), QColor(255, 255, 255));
    grid.selectrow(3, true);
    EXPECT_TRUE(model.data(model.index(2, 0), GridModel::SelectedRole).toBool());
    EXPECT_NE(background(2), QColor(255, 255, 255));
    EXPECT_FALSE(model.data(model.index(0, 0), GridModel::SelectedRole).toBool());
    grid.deleterow(1);
    EXPECT_EQ(model.currentRow(), 1);  // the current row moved up with its data
}

TEST_F(GridModelTest, ViewShowsFooterAndUsesFixedRowHeights) {
    Grid grid(grid::loadGridDefinition("cfmd1"));
    grid::GridView view(grid);
    ASSERT_NE(view.footerLabel(), nullptr);
    EXPECT_EQ(view.footerLabel()->text(), QString::fromUtf8("总数:0"));
    grid.insertrow(0);
    grid.insertrow(0);
    EXPECT_EQ(view.footerLabel()->text(), QString::fromUtf8("总数:2"));
    grid.setredraw(false);
    grid.reset();
    grid.setredraw(true);
    EXPECT_EQ(view.footerLabel()->text(), QString::fromUtf8("总数:0"));
    EXPECT_EQ(view.tableView()->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);

    Grid list(grid::loadGridDefinition("htmd1"));
    grid::GridView listView(list);
    EXPECT_EQ(listView.footerLabel(), nullptr);
    QSignalSpy headerClicks(&listView, &grid::GridView::headerClicked);
    emit listView.tableView()->horizontalHeader()->sectionClicked(0);
    EXPECT_EQ(headerClicks.count(), 1);
}

TEST_F(GridModelTest, ShippedIconsLoadAndDiffer) {
    QString folder = QString::fromStdString(host::resourceDirectory());
    QImage hand(folder + "/hand.ico");
    QImage flower(folder + "/flower.ico");
    ASSERT_FALSE(hand.isNull());
    ASSERT_FALSE(flower.isNull());
    EXPECT_EQ(hand.width(), 32);
    EXPECT_NE(hand.convertToFormat(QImage::Format_ARGB32),
              flower.convertToFormat(QImage::Format_ARGB32));
}

}  // namespace
