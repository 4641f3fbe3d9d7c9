// The import buttons cb_1, cb_14, cb_15, the paste import cb_10 and drwj,
// driven through the scripted Host.
#include <gtest/gtest.h>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <memory>
#include <string>
#include <vector>

#include "host/encoding.h"
#include "host/fs.h"
#include "kelvane/import/spreadsheet_reader.h"
#include "kelvane/window/list_import.h"
#include "kelvane/window/w_htmd.h"
#include "support/result_text.h"
#include "support/temp_folder.h"
#include "tests/support/scripted_host.h"

#ifdef KELVANE_TEST_SPREADSHEETS
#include <xlsxwriter.h>
#endif

namespace {

using kelvane::w_htmd;
using Message = host::ScriptedHost::Message;
using Texts = std::vector<std::string>;
using testing_support::reasonIn;
using testing_support::TempFolder;

const Message kFinished{"信息提示", "导入完成!"};

class ImportButtons : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<w_htmd>(host, profileFolder / "selmo1.ini", 1024, 768);
        host.messages.clear();
    }

    void click(const char* button) { window->findChild<QPushButton*>(button)->click(); }
    void chooseList2() { window->rb_2()->setChecked(true); }
    void setStart(int row, int column) {
        window->em_2()->setValue(row);
        window->em_3()->setValue(column);
    }
    std::string field(const char* name) const {
        return window->fieldText(window->findChild<QLineEdit*>(name));
    }
    static Texts cells(const grid::Grid& grid, const char* column) {
        Texts values;
        for (long row = 1; row <= grid.rowcount(); ++row)
            values.push_back(grid.getitemstring(row, column));
        return values;
    }
    static std::vector<double> numbers(const grid::Grid& grid) {
        std::vector<double> values;
        for (long row = 1; row <= grid.rowcount(); ++row)
            values.push_back(grid.getitemnumber(row, "xh"));
        return values;
    }
    static void addRows(grid::Grid& grid, const Texts& names, const char* result) {
        for (const std::string& name : names) {
            const long row = grid.insertrow(0);
            grid.setitem(row, "xh", static_cast<double>(row));
            grid.setitem(row, "md", name);
            grid.setitem(row, "jg", result);
        }
    }

    TempFolder profileFolder;
    TempFolder files;
    host::ScriptedHost host;
    std::unique_ptr<w_htmd> window;
};

TEST_F(ImportButtons, TheDialogOffersTheListFormats) {
    click("cb_1");
    ASSERT_EQ(host.dialogTitles, Texts{"打开文件"});
    EXPECT_EQ(host.dialogFilters,
              Texts{"Excel文件(*.xls),*.xls,Excel文件(*.xlsx),*.xlsx,文本文件 (*.TXT),*.TXT,"
                    "CSV文件(*.csv),*.csv,"});
}

TEST_F(ImportButtons, CancelledOrEmptyChoiceImportsNothing) {
    addRows(window->dw_1(), {"\\kept"}, "相同");
    click("cb_1");
    host.chooseFile("");
    click("cb_1");
    EXPECT_EQ(host.messages,
              (std::vector<Message>{{"提示", "文件选择失败!"}, {"提示", "文件名不能为空!"}}));
    EXPECT_EQ(cells(window->dw_1(), "jg"), Texts{"相同"});
}

TEST_F(ImportButtons, TextListGoesIntoTheChosenList) {
    addRows(window->dw_1(), {"\\one", "\\two", "\\three"}, "相同");
    host.chooseFile(files.write("list.txt", " \\a.txt \r\n\\b.txt"));
    click("cb_1");
    EXPECT_EQ(host.messages, std::vector<Message>{kFinished});
    EXPECT_EQ(cells(window->dw_1(), "md"),
              (Texts{"\\one", "\\two", "\\three", "\\a.txt", "\\b.txt"}));
    EXPECT_EQ(numbers(window->dw_1()), (std::vector<double>{1, 2, 3, 4, 5}));
    EXPECT_EQ(cells(window->dw_1(), "jg"), Texts(5, "不同"));
    EXPECT_EQ(window->dw_2().rowcount(), 0);

    chooseList2();
    host.chooseFile(files.write("gbk.TxT", host::utf8ToGbk("\\中文.txt\n")));
    click("cb_1");
    EXPECT_EQ(cells(window->dw_2(), "md"), Texts{"\\中文.txt"});
    EXPECT_EQ(window->dw_1().rowcount(), 5);
}

TEST_F(ImportButtons, AnUnreadableListIsReportedAndNotCalledFinished) {
    addRows(window->dw_1(), {" \\kept "}, "相同");
    const std::string missing = files / "missing.txt";
    host.chooseFile(missing);
    click("cb_1");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].title, "信息提示");
    EXPECT_NE(host.messages[0].text.find(missing), std::string::npos);
    // The system's own reason, as the file service words it on each platform.
    std::string reason;
    ASSERT_FALSE(reasonIn(host::readFile(missing), reason));
    ASSERT_FALSE(reason.empty());
    EXPECT_NE(host.messages[0].text.find(reason), std::string::npos) << host.messages[0].text;
    EXPECT_EQ(cells(window->dw_1(), "md"), Texts{" \\kept "});
    EXPECT_EQ(cells(window->dw_1(), "jg"), Texts{"相同"});
}

TEST_F(ImportButtons, AddFileOnlyFillsTheField) {
    const std::string list1 = files.write("名单1.xls", "");
    const std::string list2 = files.write("list2.txt", "\\x\n");
    host.chooseFile(list1);
    click("cb_14");
    host.chooseFile(list2);
    click("cb_15");
    EXPECT_EQ(field("sle_1"), list1);
    EXPECT_EQ(field("sle_2"), list2);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(window->dw_1().rowcount() + window->dw_2().rowcount(), 0);
    EXPECT_EQ(host.dialogTitles, (Texts{"打开文件", "打开文件"}));

    click("cb_14");
    host.chooseFile("");
    click("cb_15");
    EXPECT_EQ(host.messages,
              (std::vector<Message>{{"提示", "文件选择失败!"}, {"提示", "文件名不能为空!"}}));
    EXPECT_EQ(field("sle_1"), list1);
    EXPECT_EQ(field("sle_2"), list2);
}

TEST_F(ImportButtons, PasteAddsEveryLineAsPasted) {
    addRows(window->dw_1(), {"\\a", "\\b", "\\c", "\\d"}, "不同");
    window->dw_1().setitem(1, "jg", "相同");
    host.clipboard = "\\pasted \r\n\\second\r\n";
    click("cb_10");
    EXPECT_EQ(host.messages, std::vector<Message>{kFinished});
    EXPECT_EQ(cells(window->dw_1(), "md"),
              (Texts{"\\a", "\\b", "\\c", "\\d", "\\pasted ", "\\second"}));
    EXPECT_EQ(numbers(window->dw_1()), (std::vector<double>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(cells(window->dw_1(), "jg"), Texts(6, "不同"));
    EXPECT_EQ(host.clipboard, "\\pasted \r\n\\second\r\n");
}

TEST_F(ImportButtons, PasteGoesToList2WhenChosen) {
    chooseList2();
    host.clipboard = "\\x\n\\y\n\\z";
    click("cb_10");
    EXPECT_EQ(cells(window->dw_2(), "md"), (Texts{"\\x", "\\y", "\\z"}));
    EXPECT_EQ(numbers(window->dw_2()), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(window->dw_1().rowcount(), 0);
}

TEST_F(ImportButtons, PasteWithAnEmptyClipboardSaysSo) {
    addRows(window->dw_1(), {"\\a"}, "相同");
    host.clipboard = "";
    click("cb_10");
    EXPECT_EQ(host.messages, (std::vector<Message>{{"提示", "剪贴板中没有内容或不能粘贴"}}));
    EXPECT_EQ(cells(window->dw_1(), "jg"), Texts{"相同"});
}

#ifdef KELVANE_TEST_SPREADSHEETS

class SpreadsheetImport : public ImportButtons {
  protected:
    std::string writeWorkbook(const std::string& name) {
        const std::string path = files / name;
        lxw_workbook* workbook = workbook_new(path.c_str());
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
        worksheet_write_string(sheet, 0, 0, "文件名", nullptr);
        worksheet_write_string(sheet, 0, 1, "长度", nullptr);
        worksheet_write_string(sheet, 1, 0, "  \\甲.txt ", nullptr);
        worksheet_write_number(sheet, 1, 1, 10, nullptr);
        worksheet_write_string(sheet, 2, 0, "\\乙.txt", nullptr);
        worksheet_write_number(sheet, 2, 1, 2.5, nullptr);
        workbook_close(workbook);
        return path;
    }
};

TEST_F(SpreadsheetImport, ColumnFromTheStartRowAndTheClipboardLeftAlone) {
    host.clipboard = "the user's own text";
    host.chooseFile(writeWorkbook("list.xlsx"));
    click("cb_1");
    EXPECT_EQ(host.messages, std::vector<Message>{kFinished});
    EXPECT_EQ(cells(window->dw_1(), "md"), (Texts{"\\甲.txt", "\\乙.txt"}));
    EXPECT_EQ(numbers(window->dw_1()), (std::vector<double>{1, 2}));
    EXPECT_EQ(host.clipboard, "the user's own text");

    setStart(1, 2);
    host.chooseFile(files / "list.xlsx");
    click("cb_1");
    EXPECT_EQ(cells(window->dw_1(), "md"), (Texts{"\\甲.txt", "\\乙.txt", "长度", "10", "2.5"}));
    EXPECT_TRUE(window->dw_1().redraw());
}

TEST_F(SpreadsheetImport, ADamagedWorkbookIsReportedAndTheListUntouched) {
    addRows(window->dw_1(), {"\\one", "\\two"}, "相同");
    const std::string good = TempFolder::read(writeWorkbook("good.xlsx"));
    const std::string damaged = files.write("坏的.xlsx", good.substr(0, good.size() / 3));
    host.chooseFile(damaged);
    click("cb_1");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].title, "信息提示");
    EXPECT_NE(host.messages[0].text.find(damaged), std::string::npos);
    EXPECT_NE(host.messages[0].text.find("损坏"), std::string::npos);
    EXPECT_EQ(cells(window->dw_1(), "jg"), Texts(2, "相同"));
    EXPECT_EQ(window->dw_1().rowcount(), 2);
}

TEST_F(SpreadsheetImport, DrwjReturnsWhetherItImported) {
    const std::string csv = files.write("list.csv", "name\n\\a\n");
    EXPECT_EQ(kelvane::drwj(*window, csv, window->dw_2()), 1);
    EXPECT_EQ(cells(window->dw_2(), "md"), Texts{"\\a"});
    EXPECT_EQ(kelvane::drwj(*window, files / "none.xls", window->dw_2()), -1);
    EXPECT_EQ(window->dw_2().rowcount(), 1);
    EXPECT_TRUE(host.messages.size() == 1 && host.messages[0].title == "信息提示");
}

#else

TEST_F(ImportButtons, WithoutTheReaderSpreadsheetsCannotBeReached) {
    addRows(window->dw_1(), {"\\a"}, "相同");
    host.chooseFile(files.write("list.xls", ""));
    click("cb_1");
    EXPECT_EQ(
        host.messages,
        (std::vector<Message>{{"信息提示", "连接EXCEL失败，请检查计算机中是否安装了EXCEL!"}}));
    EXPECT_EQ(cells(window->dw_1(), "jg"), Texts{"相同"});
}

#endif

}  // namespace
