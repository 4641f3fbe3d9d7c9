// cb_11 on the main window and the dialog w_put, through the scripted Host.
#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "host/paths.h"
#include "kelvane/window/w_htmd.h"
#include "kelvane/window/w_put.h"
#include "support/skips.h"
#include "support/temp_folder.h"
#include "tests/support/scripted_host.h"

using host::ScriptedHost;
using kelvane::putcs;
using kelvane::w_htmd;
using kelvane::w_put;
using testing_support::TempFolder;

namespace {

QString utf8(const char* text) {
    return QString::fromUtf8(text);
}

class Truncation : public ::testing::Test {
  protected:
    Truncation() : window(host, folder / "selmo1.ini", 1024, 768) {}

    void add(grid::Grid& grid, const std::string& name) {
        long row = grid.insertrow(0);
        grid.setitem(row, "md", name);
        grid.setitem(row, "xh", static_cast<double>(row));
        grid.setitem(row, "jg", "不同");
    }
    void cut(int start) {
        window.em_4()->setValue(start);
        window.cb_11()->click();
    }
    ScriptedHost::Message lastMessage() const {
        return host.messages.empty() ? ScriptedHost::Message{} : host.messages.back();
    }

    TempFolder folder;
    ScriptedHost host;
    w_htmd window;
};

TEST_F(Truncation, StartPositionOpensAtOneWithinZeroToHundred) {
    auto* em_4 = window.em_4();
    EXPECT_EQ(em_4->value(), 1);
    EXPECT_EQ(em_4->minimum(), 0);
    EXPECT_EQ(em_4->maximum(), 100);
}

TEST_F(Truncation, EmptyChosenListIsRefusedWithItsNumber) {
    add(window.dw_2(), "\\a.txt");
    cut(3);
    EXPECT_EQ(
        host.messages,
        (std::vector<ScriptedHost::Message>{{"信息提示", "数据窗口1无数据，不能进行截取操作!"}}));
    EXPECT_EQ(window.dw_2().getitemstring(1, "md"), "\\a.txt");

    host.messages.clear();
    window.dw_2().reset();
    add(window.dw_1(), "\\b.txt");
    window.rb_2()->setChecked(true);
    cut(3);
    EXPECT_EQ(
        host.messages,
        (std::vector<ScriptedHost::Message>{{"信息提示", "数据窗口2无数据，不能进行截取操作!"}}));
    EXPECT_EQ(window.dw_1().getitemstring(1, "md"), "\\b.txt");
}

TEST_F(Truncation, CutsTheChosenListOnlyAndSaysItIsDone) {
    add(window.dw_1(), "\\文件夹\\甲.txt");
    add(window.dw_2(), "\\文件夹\\甲.txt");
    add(window.dw_2(), "\\文件夹\\子\\乙.txt");
    window.rb_2()->setChecked(true);
    cut(9);
    EXPECT_EQ(lastMessage(), (ScriptedHost::Message{"信息提示", "截取完成!"}));
    EXPECT_EQ(window.dw_2().getitemstring(1, "md"), "甲.txt");
    EXPECT_EQ(window.dw_2().getitemstring(2, "md"), "子\\乙.txt");
    EXPECT_EQ(window.dw_1().getitemstring(1, "md"), "\\文件夹\\甲.txt");
    EXPECT_FALSE(window.busy().isBusy());
}

TEST_F(Truncation, ZeroOrAnEmptiedFieldKeepsNamesWhole) {
    add(window.dw_1(), "\\目录\\a.txt");
    cut(0);
    EXPECT_EQ(lastMessage().text, "截取完成!");
    EXPECT_EQ(window.dw_1().getitemstring(1, "md"), "\\目录\\a.txt");
    auto* em_4 = window.em_4();
    em_4->findChild<QLineEdit*>()->clear();
    window.cb_11()->click();
    EXPECT_EQ(window.dw_1().getitemstring(1, "md"), "\\目录\\a.txt");
}

TEST_F(Truncation, TheFolderFieldsAndRootsAreLeftAlone) {
    window.ls_path1 = "/data";
    add(window.dw_1(), "\\a\\b.txt");
    cut(4);
    EXPECT_EQ(window.dw_1().getitemstring(1, "md"), "b.txt");
    EXPECT_EQ(window.ls_path1, "/data");
}

class PutDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        if (host::separator() != '/')
            GTEST_SKIP() << testing_support::kSkipPlatformRules << "POSIX paths";
    }
    static void emptyField(QSpinBox* field) { field->findChild<QLineEdit*>()->clear(); }

    ScriptedHost host;
    putcs parameter{"/home/用户/项目/a.txt", "/backup/目标"};
};

TEST_F(PutDialog, ShowsTitleLabelsAndStartsAtTheFirstFolder) {
    w_put dialog(host, parameter);
    EXPECT_EQ(dialog.windowTitle(), utf8("从左边第一个字符开始截取到第几个\"/\"作为源文件夹"));
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(dialog.st_1()->text(), utf8("源文件夹：/home/用户/项目/a.txt"));
    EXPECT_EQ(dialog.st_2()->text(), utf8("目标文件夹：/backup/目标"));
    EXPECT_EQ(dialog.cb_2()->text(), utf8("截取"));
    EXPECT_EQ(dialog.cb_1()->text(), utf8("退出(&Q)"));
    EXPECT_EQ(dialog.em_1()->value(), 2);
    EXPECT_EQ(dialog.em_1()->minimum(), 1);
    EXPECT_EQ(dialog.em_1()->maximum(), 99);
    EXPECT_EQ(dialog.lstr_p().s1, parameter.s1);
    EXPECT_EQ(dialog.lstr_p().s2, parameter.s2);
}

TEST_F(PutDialog, PreviewShowsTheSourceFolderOfTheCount) {
    w_put dialog(host, parameter);
    dialog.cb_2()->click();
    EXPECT_EQ(dialog.st_1()->text(), utf8("源文件夹：/home"));
    dialog.em_1()->setValue(4);
    dialog.cb_2()->click();
    EXPECT_EQ(dialog.st_1()->text(), utf8("源文件夹：/home/用户/项目"));
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(PutDialog, PreviewWithoutAFolderSaysSoAndKeepsTheLabel) {
    w_put dialog(host, parameter);
    dialog.em_1()->setValue(3);
    dialog.cb_2()->click();
    // The root's "/" leaves nothing before it.
    dialog.em_1()->setValue(1);
    dialog.cb_2()->click();
    dialog.em_1()->setValue(9);
    dialog.cb_2()->click();
    EXPECT_EQ(host.messages, (std::vector<ScriptedHost::Message>{{"提示", "截取的源文件夹错误"},
                                                                 {"提示", "截取的源文件夹错误"}}));
    EXPECT_EQ(dialog.st_1()->text(), utf8("源文件夹：/home/用户"));
}

TEST_F(PutDialog, ClosingWithAnEmptiedCountIsRefused) {
    w_put dialog(host, parameter);
    dialog.show();
    emptyField(dialog.em_1());
    dialog.close();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.wasClosed());
    EXPECT_EQ(host.messages, (std::vector<ScriptedHost::Message>{{"提示", "请输入大于0的值"}}));
    emptyField(dialog.em_1());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(host.messages.size(), 2u);
    EXPECT_TRUE(dialog.returnText().empty());
}

// The emptied field loses focus on the way out (the mouse on 退出, the refusal's
// message): it must stay empty and keep refusing.
TEST_F(PutDialog, AnEmptiedCountSurvivesLosingFocus) {
    w_put dialog(host, parameter);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    dialog.em_1()->setFocus();
    emptyField(dialog.em_1());
    QTest::mouseClick(dialog.cb_1(), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.em_1()->text().isEmpty());
    QWidget other;  // a message box takes the activation
    other.show();
    QApplication::setActiveWindow(&other);
    EXPECT_TRUE(dialog.em_1()->text().isEmpty());
    QApplication::setActiveWindow(&dialog);
    dialog.em_1()->setFocus();
    QTest::keyClick(dialog.em_1(), Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.em_1()->text().isEmpty());
    EXPECT_EQ(host.messages.size(), 2u);
    QTest::keyClicks(dialog.em_1(), "3");
    QTest::mouseClick(dialog.cb_1(), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.returnText(), "3");
}

TEST_F(PutDialog, EveryWayOutHandsBackTheCount) {
    {
        w_put dialog(host, parameter);
        dialog.show();
        dialog.em_1()->setValue(3);
        dialog.cb_1()->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.returnText(), "3");
    }
    {
        w_put dialog(host, parameter);
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.returnText(), "2");
    }
    {
        w_put dialog(host, parameter);
        dialog.show();
        dialog.em_1()->setValue(12);
        dialog.close();
        EXPECT_TRUE(dialog.wasClosed());
        EXPECT_EQ(dialog.returnText(), "12");
    }
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(PutDialog, TheCountAtClosingCountsNotThePreviewed) {
    w_put dialog(host, parameter);
    dialog.show();
    dialog.em_1()->setValue(4);
    dialog.cb_2()->click();
    dialog.em_1()->setValue(2);
    dialog.close();
    EXPECT_EQ(dialog.returnText(), "2");
}

// How the copy uses it: modally, waiting until the user has closed it.
TEST_F(PutDialog, OpenModalWaitsForTheUserAndReturnsTheCount) {
    bool sawDialog = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<w_put*>(QApplication::activeModalWidget());
        if (!dialog) return;
        sawDialog = true;
        emptyField(dialog->em_1());
        dialog->close();  // refused: the field is empty
        dialog->em_1()->setValue(5);
        dialog->cb_2()->click();
        dialog->close();
        if (dialog->isVisible()) dialog->hide();  // never leave the test waiting
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* stuck = QApplication::activeModalWidget()) stuck->hide();
    });
    guard.start(5000);
    const std::string answer = w_put::openModal(host, parameter);
    EXPECT_TRUE(sawDialog);
    EXPECT_EQ(answer, "5");
    EXPECT_EQ(host.messages, (std::vector<ScriptedHost::Message>{{"提示", "请输入大于0的值"},
                                                                 {"提示", "截取的源文件夹错误"}}));
}

}  // namespace
