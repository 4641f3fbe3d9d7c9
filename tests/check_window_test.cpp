// The window's check and result buttons, driven through the scripted Host.
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <memory>
#include <string>
#include <vector>

#include "base/numbers_and_dates.h"
#include "kelvane/window/w_htmd.h"
#include "support/temp_folder.h"
#include "tests/support/scripted_host.h"
#if KELVANE_TEST_SPREADSHEETS
#include "import_fixtures.h"
#endif

using kelvane::w_htmd;
using testing_support::nativeNames;
using testing_support::TempFolder;

namespace {

class CheckWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<w_htmd>(host, folder / "selmo1.ini", 1024, 768);
    }

    void append(grid::Grid& list, const std::vector<std::string>& names) {
        for (const auto& name : names) {
            long row = list.insertrow(0);
            list.setitem(row, "xh", static_cast<double>(row));
            list.setitem(row, "md", name);
            list.setitem(row, "jg", "不同");
        }
    }
    static std::vector<std::string> column(const grid::Grid& grid, const char* name) {
        std::vector<std::string> out;
        for (long r = 1; r <= grid.rowcount(); ++r) out.push_back(grid.getitemstring(r, name));
        return out;
    }
    void click(const char* button) { window->findChild<QPushButton*>(button)->click(); }
    QComboBox* combo(const char* name) { return window->findChild<QComboBox*>(name); }
    void chooseShown(int item) { combo("ddlb_1")->setCurrentIndex(item); }
    void setField(const char* name, const std::string& text) {
        window->setFieldText(window->findChild<QLineEdit*>(name), text);
    }
    host::ScriptedHost::Message lastMessage() const {
        return host.messages.empty() ? host::ScriptedHost::Message{} : host.messages.back();
    }

    TempFolder folder;
    host::ScriptedHost host;
    std::unique_ptr<w_htmd> window;
};

using Message = host::ScriptedHost::Message;

TEST_F(CheckWindow, CheckListsShowsTheDifferingRowsAndReportsTheEnd) {
    append(window->dw_1(), {"\\two", "\\one", "\\two", "\\three"});
    append(window->dw_2(), {"\\one", "\\four"});
    chooseShown(0);
    click("cb_4");
    EXPECT_EQ(host.messages, (std::vector<Message>{{"提示", "核对结束"}}));
    EXPECT_EQ(column(window->dw_1(), "md"), (std::vector<std::string>{"\\three", "\\two"}));
    EXPECT_EQ(column(window->dw_2(), "md"), (std::vector<std::string>{"\\four"}));
    EXPECT_EQ(column(window->dw_3(), "dmd"), (std::vector<std::string>{"\\two"}));
    EXPECT_EQ(column(window->dw_3(), "dxh"), (std::vector<std::string>{"3"}));
    EXPECT_EQ(combo("ddlb_1")->currentText(), QString::fromUtf8("不同"));
    EXPECT_FALSE(window->busy().isBusy());
}

TEST_F(CheckWindow, ShowSwitchesBothListsBetweenAllSameAndDifferent) {
    append(window->dw_1(), {"a", "b"});
    append(window->dw_2(), {"b", "a"});
    click("cb_4");
    EXPECT_EQ(window->dw_1().rowcount(), 0);
    EXPECT_EQ(window->dw_2().rowcount(), 0);
    chooseShown(0);  // 全部
    EXPECT_EQ(column(window->dw_1(), "jg"), (std::vector<std::string>{"相同", "相同"}));
    EXPECT_EQ(column(window->dw_2(), "jg"), (std::vector<std::string>{"相同", "相同"}));
    append(window->dw_1(), {"c"});
    chooseShown(1);  // 相同
    EXPECT_EQ(column(window->dw_1(), "md"), (std::vector<std::string>{"a", "b"}));
    chooseShown(2);  // 不同
    EXPECT_EQ(column(window->dw_1(), "md"), (std::vector<std::string>{"c"}));
}

TEST_F(CheckWindow, OptionComparesFilesUnderTheRootsAndNamesTheHeading) {
    TempFolder source;
    TempFolder target;
    source.write("same.txt", "abc");
    target.write("same.txt", "abc");
    source.write("long.txt", "abc");
    target.write("long.txt", "abcd");
    window->ls_path1 = source.path();
    window->ls_path2 = target.path();
    append(window->dw_1(), {"/long.txt", "/same.txt", "/same.txt"});
    append(window->dw_2(), {"/same.txt", "/long.txt"});
    combo("ddlb_2")->setCurrentIndex(1);
    click("cb_4");
    EXPECT_EQ(window->addszf, kelvane::CheckOption::Length);
    EXPECT_TRUE(window->zfmdxg);
    EXPECT_EQ(column(window->dw_3(), "dmd"), (std::vector<std::string>{"/same.txt", "/long.txt"}));
    EXPECT_EQ(column(window->dw_3(), "dxh"), (std::vector<std::string>{"3", "2"}));
    EXPECT_EQ(window->dw_3().headerText(0), "文件的长度不同的名单");

    click("cb_6");
    EXPECT_EQ(host.clipboard, "/same.txt\t3\r\n/long.txt\t2\r\n");

    combo("ddlb_2")->setCurrentIndex(0);
    click("cb_4");
    EXPECT_EQ(window->dw_3().headerText(0), "重复名单1");
    EXPECT_FALSE(kelvane::optionInForce(window->addszf));
}

TEST_F(CheckWindow, StartCheckWalksBothFoldersAfterEmptyingEveryGrid) {
    TempFolder source;
    TempFolder target;
    source.write("a.txt", "1");
    source.write("sub/b.txt", "2");
    source.write("it's~.txt", "3");
    target.write("a.txt", "1");
    target.write("it's~.txt", "3");
    target.write("only.txt", "4");
    append(window->dw_1(), {"stale"});
    window->dw_3().insertrow(0);
    window->dw_4().insertrow(0);
    setField("sle_1", source.path());
    setField("sle_2", target.path());
    click("cb_16");
    EXPECT_EQ(window->ls_path1, source.path());
    EXPECT_EQ(window->ls_path2, target.path());
    EXPECT_EQ(column(window->dw_1(), "md"), nativeNames({"/sub/b.txt"}));
    EXPECT_EQ(column(window->dw_2(), "md"), nativeNames({"/only.txt"}));
    EXPECT_EQ(window->dw_3().rowcount(), 0);
    EXPECT_EQ(window->dw_4().rowcount(), 0);
    EXPECT_EQ(lastMessage(), (Message{"提示", "核对结束"}));
    chooseShown(0);
    EXPECT_EQ(window->dw_1().rowcount(), 3);
    EXPECT_EQ(window->dw_1().filteredcount(), 0);
    // An empty target text walks no folder at all, not "/": list 2 stays empty.
    setField("sle_2", "");
    click("cb_16");
    EXPECT_EQ(window->dw_2().rowcount() + window->dw_2().filteredcount(), 0);
    EXPECT_EQ(window->dw_1().rowcount(), 3);
}

TEST_F(CheckWindow, StartCheckLeavesATargetInsideTheSourceOutOfListOne) {
    TempFolder source;
    source.write("a.txt", "1");
    source.write("bak/a.txt", "1");
    source.write("bak2/b.txt", "2");
    setField("sle_1", source.path());
    setField("sle_2", source / "bak");
    click("cb_16");
    EXPECT_EQ(column(window->dw_1(), "md"), nativeNames({"/bak2/b.txt"}));
    EXPECT_EQ(window->dw_2().rowcount(), 0);
}

TEST_F(CheckWindow, StartCheckLeavesOutWhatTheExcludeKeyNames) {
    TempFolder source;
    TempFolder target;
    for (const char* name : {"a.txt", "a.tmp", "cache/x.txt"}) source.write(name, name);
    for (const char* name : {"z.txt", "sub/z.tmp", "sub/cache/y.txt"}) target.write(name, name);
    folder.write("selmo1.ini", "[other]\r\nexclude=*.tmp; cache/\r\n");
    setField("sle_1", source.path());
    setField("sle_2", target.path());
    click("cb_16");
    EXPECT_EQ(column(window->dw_1(), "md"), nativeNames({"/a.txt"}));
    EXPECT_EQ(column(window->dw_2(), "md"), nativeNames({"/z.txt"}));
}

TEST_F(CheckWindow, StartCheckImportsListFilesByTheirEnding) {
    const std::string list1 = folder.write("names1.TXT", "\\a\n\\b\n\\b\n");
    const std::string list2 = folder.write("names2.txt", "\\b\n\\c\n");
    setField("sle_1", list1);
    setField("sle_2", list2);
    window->ls_path1 = "unchanged";
    click("cb_16");
    EXPECT_EQ(column(window->dw_1(), "md"), (std::vector<std::string>{"\\a"}));
    EXPECT_EQ(column(window->dw_2(), "md"), (std::vector<std::string>{"\\c"}));
    EXPECT_EQ(column(window->dw_3(), "dmd"), (std::vector<std::string>{"\\b"}));
    EXPECT_EQ(window->ls_path1, "unchanged");
    EXPECT_EQ(lastMessage(), (Message{"提示", "核对结束"}));
}

// Both lists are filled at once; what each import met is said afterwards,
// list 1's first, as when list 1 was filled before list 2.
TEST_F(CheckWindow, StartCheckSaysWhatEachListFileMetListOneFirst) {
    setField("sle_1", folder.mkdir("folder.txt"));
    setField("sle_2", folder / "missing.txt");
    click("cb_16");
    ASSERT_EQ(host.messages.size(), 3u);
    EXPECT_NE(host.messages[0].text.find("folder.txt"), std::string::npos) << host.messages[0].text;
    EXPECT_NE(host.messages[1].text.find("missing.txt"), std::string::npos)
        << host.messages[1].text;
    EXPECT_EQ(host.messages[2], (Message{"提示", "核对结束"}));
}

#if KELVANE_TEST_SPREADSHEETS
// The list-file dialogs offer .csv; an .xls is read at its active sheet.
TEST_F(CheckWindow, StartCheckImportsAnXlsActiveSheetAndACsv) {
    using import_fixtures::XlsCell;
    const std::vector<std::vector<XlsCell>> sheets = {
        {{0, 0, std::string("md")}, {1, 0, std::string("/wrong")}},
        {{0, 0, std::string("md")}, {1, 0, std::string("/a")}, {2, 0, std::string("/b")}}};
    setField("sle_1", folder.write("one.xls", import_fixtures::xlsSheetsFile(sheets, 1)));
    setField("sle_2", folder.write("two.csv", "md\n/b\n/c\n"));
    window->ls_path2 = "unchanged";
    click("cb_16");
    EXPECT_EQ(column(window->dw_1(), "md"), (std::vector<std::string>{"/a"}));
    EXPECT_EQ(column(window->dw_2(), "md"), (std::vector<std::string>{"/c"}));
    EXPECT_EQ(window->ls_path2, "unchanged");  // not walked as a folder
}
#endif

// A folder typed wrong is named in a box, and nothing is checked: walked,
// Something the walk cannot list (a file given as the folder) is named, with
// why, after the described box.
TEST_F(CheckWindow, StartCheckNamesTheFolderItCouldNotRead) {
    TempFolder target;
    target.write("a.txt", "1");
    const std::string unlistable = folder.write("plain", "not a folder");
    setField("sle_1", unlistable);
    setField("sle_2", target.path());
    click("cb_16");
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[0], (Message{"提示", "核对结束"}));
    EXPECT_TRUE(host.messages[1].text.starts_with(
        "以下1个文件夹无法读取，未列入列表:\ncannot list \"" + unlistable + "\": "))
        << host.messages[1].text;
    EXPECT_EQ(column(window->dw_2(), "md"), nativeNames({"/a.txt"}));
}

// it would be an empty list against which every name looks missing.
TEST_F(CheckWindow, StartCheckNamesAFolderThatDoesNotExist) {
    append(window->dw_1(), {"kept"});
    setField("sle_1", folder / "mistyped");
    setField("sle_2", folder.path());
    click("cb_16");
    EXPECT_EQ(host.messages,
              (std::vector<Message>{{"提示", "源文件夹不存在:" + (folder / "mistyped")}}));
    EXPECT_EQ(column(window->dw_1(), "md"), (std::vector<std::string>{"kept"}));
}

TEST_F(CheckWindow, StartCheckTakesTheHiddenFilesOptionIntoLx) {
    TempFolder source;
    source.write(".hidden", "x");
    setField("sle_1", source.path());
    setField("sle_2", folder.mkdir("empty"));
    window->cbx_1()->setChecked(false);
    click("cb_16");
    EXPECT_EQ(window->lx, 16);
    EXPECT_EQ(window->dw_1().rowcount(), 0);
    window->cbx_1()->setChecked(true);
    click("cb_16");
    EXPECT_EQ(window->lx, 55);
    EXPECT_EQ(column(window->dw_1(), "md"), nativeNames({"/.hidden"}));
}

TEST_F(CheckWindow, ListTwoChosenEmptiesListTwoButRemovalAndInversionStayOnListOne) {
    append(window->dw_1(), {"1", "2", "3", "4"});
    append(window->dw_2(), {"x"});
    window->rb_2()->click();
    EXPECT_FALSE(window->rb_1()->isChecked());
    window->dw_1().selectrow(1, true);
    window->dw_1().selectrow(3, true);
    click("cb_20");
    EXPECT_EQ((std::vector<bool>{window->dw_1().isselected(1), window->dw_1().isselected(2),
                                 window->dw_1().isselected(3), window->dw_1().isselected(4)}),
              (std::vector<bool>{false, true, false, true}));
    click("cb_19");
    EXPECT_EQ(column(window->dw_1(), "md"), (std::vector<std::string>{"1", "3"}));
    click("cb_2");
    EXPECT_EQ(window->dw_2().rowcount(), 0);
    EXPECT_EQ(window->dw_1().rowcount(), 2);
    window->rb_1()->click();
    EXPECT_FALSE(window->rb_2()->isChecked());
    click("cb_2");
    EXPECT_EQ(window->dw_1().rowcount(), 0);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(CheckWindow, RemoveSelectedReportsWhenListOneShowsNothing) {
    click("cb_19");
    EXPECT_EQ(host.messages, (std::vector<Message>{{"提示", "还没有源文件"}}));
    append(window->dw_1(), {"a"});
    append(window->dw_2(), {"a"});
    click("cb_4");  // every row now hidden as "相同"
    window->dw_1().selectrow(0, true);
    click("cb_19");
    EXPECT_EQ(lastMessage(), (Message{"提示", "还没有源文件"}));
    click("cb_20");  // nothing shown: nothing to invert, no message
    EXPECT_EQ(host.messages.size(), 3u);
    chooseShown(0);
    EXPECT_EQ(window->dw_1().rowcount(), 1);
}

TEST_F(CheckWindow, RestoreFolderActsOnTheChosenListOnlyAndRepeats) {
    window->ls_path1 = "/src";
    window->ls_path2 = "/dst";
    append(window->dw_1(), {"/a"});
    append(window->dw_2(), {"/b"});
    click("cb_18");
    click("cb_18");
    EXPECT_EQ(column(window->dw_1(), "md"), (std::vector<std::string>{"/src/src/a"}));
    window->rb_2()->click();
    click("cb_18");
    EXPECT_EQ(column(window->dw_2(), "md"), (std::vector<std::string>{"/dst/b"}));
    EXPECT_EQ(column(window->dw_1(), "md"), (std::vector<std::string>{"/src/src/a"}));
}

TEST_F(CheckWindow, SaveAsWritesTheChosenOrDuplicateGridAndCancelKeepsEverything) {
    append(window->dw_1(), {"one"});
    append(window->dw_2(), {"two"});
    window->dw_4().insertrow(0);
    window->dw_4().setitem(1, "dmd", "dup");
    window->dw_4().setitem(1, "dxh", 7.0);
    host.saveAnswers.push_back({1, folder / "list1.txt", host::SaveFormat::Text});
    click("cb_5");
    window->rb_2()->click();
    host.saveAnswers.push_back({1, folder / "list2.txt", host::SaveFormat::Text});
    click("cb_5");
    host.saveAnswers.push_back({1, folder / "dups2.txt", host::SaveFormat::Text});
    click("cb_8");
    click("cb_7");  // cancelled: no answer queued
    EXPECT_EQ(TempFolder::read(folder / "list1.txt").substr(0, 6), "one\t1\t");
    EXPECT_EQ(TempFolder::read(folder / "list2.txt").substr(0, 6), "two\t1\t");
    EXPECT_EQ(TempFolder::read(folder / "dups2.txt"), "dup\t7\r\n");
    EXPECT_EQ(host.dialogTitles.size(), 4u);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(CheckWindow, CopyPutsTheSecondDuplicateListOnTheClipboard) {
    append(window->dw_2(), {"b", "a", "b", "b"});
    click("cb_4");
    click("cb_21");
    EXPECT_EQ(host.clipboard, "b\t3\r\nb\t4\r\n");
    host.clipboard = "kept";
    click("cb_6");  // dw_3 empty: empty text
    EXPECT_EQ(host.clipboard, "");
}

}  // namespace
