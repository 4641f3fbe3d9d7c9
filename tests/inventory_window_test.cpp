// The window's folder walks and folder buttons, driven through the scripted Host.
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <memory>
#include <string>
#include <vector>

#include "common/file_attributes.h"
#include "host/clock.h"
#include "host/fs.h"
#include "kelvane/window/w_htmd.h"
#include "kelvane/window/walk_scripts.h"
#include "support/temp_folder.h"
#include "tests/support/scripted_host.h"

namespace {

using kelvane::w_htmd;
using Message = host::ScriptedHost::Message;
using testing_support::nativeNames;
using testing_support::TempFolder;

constexpr std::time_t kConditionSecond = 1136163845;

class WindowWalk : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<w_htmd>(host, profileFolder / "selmo1.ini", 1024, 768);
        tree.write("a.txt", "");
        tree.write("sub/b.txt", "");
        tree.write(".hidden", "");
        setChecked("cbx_3", false);
        setChecked("cbx_4", true);
        setCondition(0);
        setTime("2001-01-01 01:01:01");
    }

    void click(const char* button) { window->findChild<QPushButton*>(button)->click(); }
    void setChecked(const char* box, bool checked) {
        window->findChild<QCheckBox*>(box)->setChecked(checked);
    }
    void setCondition(int item) { window->ddlb_3()->setCurrentIndex(item); }
    void setUnit(int item) { window->ddlb_4()->setCurrentIndex(item); }
    void setTime(const std::string& text) { window->setFieldText(window->em_1(), text); }
    std::string field(const char* name) const {
        return window->fieldText(window->findChild<QLineEdit*>(name));
    }
    void browse(const std::string& folder) {
        host.chooseFolder(folder);
        click("cb_3");
    }
    static std::vector<std::string> names(const grid::Grid& grid) {
        std::vector<std::string> values;
        for (long row = 1; row <= grid.rowcount(); ++row)
            values.push_back(grid.getitemstring(row, "md"));
        return values;
    }
    Message lastMessage() const { return host.messages.empty() ? Message{} : host.messages.back(); }

    TempFolder profileFolder;
    TempFolder tree;
    host::ScriptedHost host;
    std::unique_ptr<w_htmd> window;
};

// --- cb_3: browse into the chosen list -----------------------------------------------

TEST_F(WindowWalk, BrowseFillsList1WithRelativeNamesAndSaysDone) {
    browse(tree.path());
    EXPECT_EQ(host.dialogTitles, std::vector<std::string>{"浏览"});
    EXPECT_EQ(names(window->dw_1()), nativeNames({"/sub/b.txt", "/a.txt"}));
    EXPECT_EQ(window->dw_2().rowcount(), 0);
    EXPECT_EQ(window->ls_path1, tree.path());
    EXPECT_EQ(field("sle_1"), tree.path());
    EXPECT_EQ(host.messages, (std::vector<Message>{{"提示", "完成"}}));
    EXPECT_EQ(window->lx, host::kListNormal);
    EXPECT_FALSE(window->busy().isBusy());
    EXPECT_TRUE(window->dw_1().redraw());
}

TEST_F(WindowWalk, BrowseWithList2ChosenFillsList2) {
    window->rb_2()->setChecked(true);
    browse(tree.path() + "/");
    EXPECT_EQ(names(window->dw_2()), nativeNames({"/sub/b.txt", "/a.txt"}));
    EXPECT_EQ(window->dw_1().rowcount(), 0);
    EXPECT_EQ(window->ls_path2, tree.path());  // held without the trailing separator
    EXPECT_EQ(field("sle_2"), tree.path());
}

TEST_F(WindowWalk, IncludeHiddenSetsTheEverythingMask) {
    setChecked("cbx_3", true);
    browse(tree.path());
    EXPECT_EQ(window->lx, host::kListEverything);
    EXPECT_EQ(names(window->dw_1()), nativeNames({"/.hidden", "/sub/b.txt", "/a.txt"}));
}

TEST_F(WindowWalk, WithoutDoNotAccumulateASecondWalkAppendsAndNumbersOn) {
    setChecked("cbx_4", false);
    browse(tree.path());
    browse(tree.path());
    EXPECT_EQ(window->dw_1().rowcount(), 4);
    EXPECT_EQ(window->dw_1().getitemnumber(4, "xh"), 4);
    EXPECT_EQ(window->dw_1().getitemstring(3, "md"), window->dw_1().getitemstring(1, "md"));
}

TEST_F(WindowWalk, DoNotAccumulateEmptiesTheListBeforeWalking) {
    browse(tree.path());
    browse(tree / "sub");
    EXPECT_EQ(names(window->dw_1()), nativeNames({"/b.txt"}));
    EXPECT_EQ(window->dw_1().getitemnumber(1, "xh"), 1);
}

TEST_F(WindowWalk, EmptyFolderGivesNoRowsAndStillSaysDone) {
    TempFolder empty;
    browse(empty.path());
    EXPECT_EQ(window->dw_1().rowcount(), 0);
    EXPECT_EQ(lastMessage(), (Message{"提示", "完成"}));
}

// --- cancelling ----------------------------------------------------------------------

TEST_F(WindowWalk, CancelledBrowseStillEmptiesTheListWhenNotAccumulating) {
    browse(tree.path());
    host.messages.clear();
    click("cb_3");  // no answer queued: cancelled
    EXPECT_EQ(host.messages, (std::vector<Message>{{"提示", "文件夹选择被取消"}}));
    EXPECT_EQ(window->dw_1().rowcount(), 0);
    EXPECT_EQ(field("sle_1"), tree.path());
    EXPECT_EQ(window->ls_path1, tree.path());
}

TEST_F(WindowWalk, CancelledBrowseKeepsTheRowsWhenAccumulating) {
    setChecked("cbx_4", false);
    browse(tree.path());
    click("cb_3");
    EXPECT_EQ(window->dw_1().rowcount(), 2);
    EXPECT_EQ(lastMessage(), (Message{"提示", "文件夹选择被取消"}));
}

// --- browse conditions ---------------------------------------------------------------

class WindowCondition : public WindowWalk {
  protected:
    void SetUp() override {
        WindowWalk::SetUp();
        TempFolder::setModified(tree / "a.txt", kConditionSecond);
        TempFolder::setModified(tree / "sub/b.txt", kConditionSecond + 1);
        setTime(host::localTimeText(kConditionSecond));
    }
};

TEST_F(WindowCondition, ModifiedAfterListsOnlyTheLaterFileWithLengthAndTimes) {
    setCondition(1);
    setUnit(1);
    tree.write("sub/b.txt", "12345");
    TempFolder::setModified(tree / "sub/b.txt", kConditionSecond + 1);
    browse(tree.path());
    EXPECT_EQ(window->szf, kelvane::BrowseCondition::Modified);
    EXPECT_EQ(window->ctdwszf, "1");
    const grid::Grid& grid = window->dw_1();
    ASSERT_EQ(names(grid), nativeNames({"/sub/b.txt"}));
    EXPECT_EQ(grid.getitemstring(1, "wjct"), "5字节");
    EXPECT_EQ(grid.getitemstring(1, "xgrq"), host::localTimeText(kConditionSecond + 1));
    EXPECT_EQ(grid.getitemstring(1, "cjrq"), common::getft(tree / "sub/b.txt", 1));
}

TEST_F(WindowCondition, CaptionItemMeansEveryFileAndNoExtraColumns) {
    setUnit(1);
    browse(tree.path());
    EXPECT_EQ(window->dw_1().rowcount(), 2);
    EXPECT_EQ(window->dw_1().getitemstring(1, "wjct"), "");
    EXPECT_EQ(window->dw_1().getitemstring(2, "xgrq"), "");
}

TEST_F(WindowCondition, WrongDateIsRefusedBeforeAnythingIsWalked) {
    setCondition(1);
    setTime("2001-13-01 01:01:01");
    browse(tree.path());
    EXPECT_EQ(host.messages, (std::vector<Message>{{"提示", "修改日期错误"}}));
    EXPECT_EQ(window->dw_1().rowcount(), 0);
    EXPECT_EQ(field("sle_1"), "");
    EXPECT_EQ(window->ls_path1, "");
}

TEST_F(WindowCondition, WrongTimeIsRefusedWithItsOwnMessage) {
    setCondition(3);
    setTime("2001-01-01 25:01:01");
    browse(tree.path());
    EXPECT_EQ(host.messages, (std::vector<Message>{{"提示", "修改日期时间错误"}}));
    EXPECT_EQ(window->dw_1().rowcount(), 0);
}

TEST_F(WindowCondition, WrongTimeIsNotCheckedWithoutACondition) {
    setTime("2001-13-01 25:01:01");
    browse(tree.path());
    EXPECT_EQ(window->dw_1().rowcount(), 2);
    EXPECT_EQ(lastMessage(), (Message{"提示", "完成"}));
}

// --- cb_12, cb_13 and the simple check's walks --------------------------------------------

TEST_F(WindowWalk, AddFolderButtonsOnlyChooseTheFolder) {
    host.chooseFolder(tree.path() + "/");
    click("cb_12");
    host.chooseFolder(tree / "sub");
    click("cb_13");
    EXPECT_EQ(field("sle_1"), tree.path() + "/");
    EXPECT_EQ(window->ls_path1, tree.path() + "/");
    EXPECT_EQ(field("sle_2"), tree / "sub");
    EXPECT_EQ(window->ls_path2, tree / "sub");
    EXPECT_EQ(host.dialogTitles, (std::vector<std::string>{"浏览", "浏览"}));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(window->dw_1().rowcount() + window->dw_2().rowcount(), 0);
}

TEST_F(WindowWalk, AddFolderCancelledKeepsTheField) {
    host.chooseFolder(tree.path());
    click("cb_13");
    click("cb_13");
    EXPECT_EQ(host.messages, (std::vector<Message>{{"提示", "文件夹选择被取消"}}));
    EXPECT_EQ(field("sle_2"), tree.path());
    EXPECT_EQ(window->ls_path2, tree.path());
}

TEST_F(WindowWalk, SimpleCheckWalksIgnoreTheBrowseConditionAndUseTheirOwnList) {
    window->szf = kelvane::BrowseCondition::Modified;
    window->ctdwszf = "1";
    setTime("2999-01-01 00:00:00");
    window->lx = host::kListEverything;
    window->ls_path1 = tree.path();
    window->ls_path2 = tree / "sub";
    window->rb_2()->setChecked(true);  // not looked at
    kelvane::drwjj1(*window, window->ls_path1);
    kelvane::drwjj2(*window, window->ls_path2);
    EXPECT_EQ(names(window->dw_1()), nativeNames({"/.hidden", "/sub/b.txt", "/a.txt"}));
    EXPECT_EQ(window->dw_1().getitemstring(2, "wjct"), "");
    EXPECT_EQ(names(window->dw_2()), nativeNames({"/b.txt"}));
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(WindowWalk, UeDirTakesNamesRelativeToTheChosenListsRoot) {
    window->lx = host::kListNormal;
    window->ls_path1 = tree.path();
    window->ls_path2 = tree / "sub";
    kelvane::ue_dir(*window, tree / "sub", window->dw_2());
    window->rb_2()->setChecked(true);
    kelvane::ue_dir(*window, tree / "sub", window->dw_2());
    EXPECT_EQ(names(window->dw_2()), nativeNames({"/sub/b.txt", "/b.txt"}));
}

}  // namespace
