// The main window through the scripted Host, on the offscreen platform.
#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "grid/qt/grid_view.h"
#include "host/encoding.h"
#include "kelvane/window/kelapp.h"
#include "kelvane/window/w_htmd.h"
#include "support/temp_folder.h"
#include "tests/support/scripted_host.h"
#include "tests/support/window_controls.h"

using kelvane::w_htmd;
using testing_support::TempFolder;

using testing_support::expectCaptioned;
using testing_support::expectNamed;

namespace {

QString utf8(const char* text) {
    return QString::fromUtf8(text);
}

class MainWindow : public ::testing::Test {
  protected:
    std::unique_ptr<w_htmd> openWindow(int screenWidth = 1024, int screenHeight = 768) {
        return std::make_unique<w_htmd>(host, profile, screenWidth, screenHeight);
    }
    void writeProfile(const std::string& utf8Text) {
        folder.write("selmo1.ini", host::utf8ToGbk(utf8Text));
    }
    std::string profileBytes() const { return TempFolder::read(profile); }

    TempFolder folder;
    std::string profile = folder / "selmo1.ini";
    host::ScriptedHost host;
};

TEST_F(MainWindow, OpensWithTheTitleAndEveryControlCaption) {
    auto window = openWindow();
    EXPECT_EQ(window->windowTitle(), utf8("Zarvik文件核对与增量备份工具"));
    expectCaptioned<QPushButton>({
        {window->cb_12(), "cb_12", "添加文件夹"}, {window->cb_14(), "cb_14", "添加文件"},
        {window->cb_16(), "cb_16", "开始核对"},   {window->cb_13(), "cb_13", "添加文件夹"},
        {window->cb_15(), "cb_15", "添加文件"},   {window->cb_17(), "cb_17", "开始复制"},
        {window->cb_4(), "cb_4", "核对名单"},     {window->cb_9(), "cb_9", "退出(&Q)"},
        {window->cb_1(), "cb_1", "导入文件"},     {window->cb_10(), "cb_10", "粘贴导入"},
        {window->cb_20(), "cb_20", "反向选择"},   {window->cb_19(), "cb_19", "移除所选"},
        {window->cb_2(), "cb_2", "全部移除"},     {window->cb_5(), "cb_5", "另存为"},
        {window->cb_18(), "cb_18", "还原文件夹"}, {window->cb_11(), "cb_11", "名单截取"},
        {window->cb_3(), "cb_3", "浏览文件夹"},   {window->cb_7(), "cb_7", "另存为"},
        {window->cb_6(), "cb_6", "复制"},         {window->cb_8(), "cb_8", "另存为"},
        {window->cb_21(), "cb_21", "复制"},
    });
    const std::vector<std::pair<const QObject*, const char*>> others = {
        {window->sle_1(), "sle_1"},       {window->sle_2(), "sle_2"},
        {window->em_1(), "em_1"},         {window->em_2(), "em_2"},
        {window->em_3(), "em_3"},         {window->em_4(), "em_4"},
        {window->cbx_1(), "cbx_1"},       {window->cbx_2(), "cbx_2"},
        {window->cbx_3(), "cbx_3"},       {window->cbx_4(), "cbx_4"},
        {window->rb_1(), "rb_1"},         {window->rb_2(), "rb_2"},
        {window->ddlb_1(), "ddlb_1"},     {window->ddlb_2(), "ddlb_2"},
        {window->ddlb_3(), "ddlb_3"},     {window->ddlb_4(), "ddlb_4"},
        {window->lb_1(), "lb_1"},         {window->lb_2(), "lb_2"},
        {window->progress(), "progress"},
    };
    for (const auto& [control, name] : others) expectNamed(control, name);
    for (const char* bold : {"cb_16", "cb_17", "cb_4"}) {
        EXPECT_TRUE(window->findChild<QPushButton*>(bold)->font().bold()) << bold;
    }
    const std::map<const char*, const char*> labels = {
        {"st_1", "源文件夹："}, {"st_4", "或名单1:"},     {"st_3", "目标文件夹："},
        {"st_8", "或名单2："},  {"st_2", "显示"},         {"st_5", "行"},
        {"st_6", "列"},         {"st_7", "开始截取位置"},
    };
    for (const auto& [name, caption] : labels) {
        ASSERT_NE(window->findChild<QLabel*>(name), nullptr) << name;
        EXPECT_EQ(window->findChild<QLabel*>(name)->text(), utf8(caption)) << name;
    }
    const std::map<const char*, const char*> groups = {
        {"gb_4", "简易核对模式"},
        {"gb_5", "数据窗口1"},
        {"gb_6", "数据窗口2"},
        {"gb_1", "选择"},
        {"gb_2", "导入EXCEL表的起始行、列"},
    };
    for (const auto& [name, caption] : groups) {
        EXPECT_EQ(window->findChild<QGroupBox*>(name)->title(), utf8(caption)) << name;
    }
    for (const char* name : {"gb_3", "gb_7", "gb_8", "gb_9"}) {
        EXPECT_TRUE(window->findChild<QGroupBox*>(name)->title().isEmpty()) << name;
    }
    EXPECT_EQ(window->cbx_1()->text(), utf8("包括隐藏文件"));
    EXPECT_EQ(window->cbx_2()->text(), utf8("替换同名文件"));
    EXPECT_EQ(window->cbx_3()->text(), utf8("包括隐藏文件"));
    EXPECT_EQ(window->cbx_4()->text(), utf8("不累加导入"));
    EXPECT_TRUE(window->cbx_2()->isChecked());
    EXPECT_TRUE(window->cbx_4()->isChecked());
    EXPECT_EQ(window->rb_1()->text(), utf8("数据窗口1"));
    EXPECT_TRUE(window->rb_1()->isChecked());
    EXPECT_FALSE(window->rb_2()->isChecked());
    for (int number = 1; number <= 4; ++number) {
        expectNamed(&window->gridView(number), ("dw_" + std::to_string(number)).c_str());
    }
}

TEST_F(MainWindow, DropDownListsHoldTheirItemsAndStartOnTheFirst) {
    auto window = openWindow();
    auto items = [&](const char* name) {
        QStringList list;
        auto* box = window->findChild<QComboBox*>(name);
        for (int i = 0; i < box->count(); ++i) list << box->itemText(i);
        return list.join('|');
    };
    EXPECT_EQ(items("ddlb_2"), utf8("附加核对选项:|1.文件的长度|2.文件修改日期|"
                                    "3.文件的长度且修改日期|4.文件的长度或修改日期|5.文件的内容"));
    EXPECT_EQ(items("ddlb_1"), utf8("全部|相同|不同"));
    EXPECT_EQ(items("ddlb_3"), utf8("附加浏览条件:|1.修改日期大于|2.创建日期大于|3.满足条件1或2"));
    EXPECT_EQ(items("ddlb_4"), utf8("文件长度单位:|1、字节|2、KB|3、MB"));
    for (const char* name : {"ddlb_1", "ddlb_2", "ddlb_3", "ddlb_4"}) {
        EXPECT_EQ(window->findChild<QComboBox*>(name)->currentIndex(), 0) << name;
    }
    EXPECT_EQ(window->em_2()->value(), 2);
    EXPECT_EQ(window->em_2()->maximum(), 26);
    EXPECT_EQ(window->em_3()->value(), 1);
    EXPECT_EQ(window->em_4()->maximum(), 100);
}

// The edit masks show their numbers inside their fields. A font whose glyph
// boxes are far taller than its lines (what a system without its dialog font
// falls back to) draws them above the field, out of sight, while the values
// are right.
TEST_F(MainWindow, EditMasksShowTheirNumbersInsideTheirFields) {
    auto window = openWindow();
    window->show();
    for (const auto& [name, text] : {std::pair{"em_2", "2"}, {"em_3", "1"}, {"em_4", "1"}}) {
        auto* spin = window->findChild<QSpinBox*>(name);
        EXPECT_EQ(spin->text(), text) << name;
        auto* field = spin->findChild<QLineEdit*>();
        ASSERT_NE(field, nullptr) << name;
        const QImage image = field->grab().toImage();
        int dark = 0;  // pixels of the digit in the middle half of the field's height
        for (int y = image.height() / 4; y < image.height() * 3 / 4; ++y) {
            for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 128;
        }
        EXPECT_GT(dark, 3) << name << " shows no number";
    }
}

TEST_F(MainWindow, FirstStartWithoutSettingsUsesTheDefaults) {
    auto window = openWindow();
    EXPECT_TRUE(window->sle_1()->text().isEmpty());
    EXPECT_TRUE(window->sle_2()->text().isEmpty());
    EXPECT_TRUE(window->ls_path1.empty());
    EXPECT_TRUE(window->ls_path2.empty());
    EXPECT_EQ(window->ddlb_3()->currentText(), utf8("附加浏览条件:"));
    EXPECT_TRUE(window->em_1()->isHidden());
    EXPECT_EQ(window->fieldText(window->em_1()), "");
    EXPECT_TRUE(window->cbx_1()->isChecked());
    EXPECT_TRUE(window->cbx_3()->isChecked());
    EXPECT_TRUE(window->lb_1()->isHidden());
    EXPECT_TRUE(window->lb_2()->isHidden());
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(MainWindow, BrowseConditionDigitSelectsItsItemAndShowsTheDate) {
    for (const auto& [value, item] : std::vector<std::pair<std::string, int>>{
             {"1", 1}, {"2", 2}, {"3", 3}, {"4", 0}, {"0", 0}, {"-1", 0}, {"x", 0}, {"", 0}}) {
        writeProfile("[other]\r\nhjlltj=" + value + "\r\n");
        auto window = openWindow();
        EXPECT_EQ(window->ddlb_3()->currentIndex(), item) << value;
        EXPECT_EQ(window->em_1()->isHidden(), item == 0) << value;
        EXPECT_EQ(window->szf, static_cast<kelvane::BrowseCondition>(item)) << value;
    }
}

TEST_F(MainWindow, ChoosingABrowseConditionShowsTheDateAndTheLabelHidesIt) {
    auto window = openWindow();
    auto* condition = window->ddlb_3();
    condition->setCurrentIndex(2);
    EXPECT_FALSE(window->em_1()->isHidden());
    condition->setCurrentIndex(0);
    EXPECT_TRUE(window->em_1()->isHidden());
}

TEST_F(MainWindow, OnlyLowerCaseYIncludesHiddenFiles) {
    writeProfile("[other]\r\nbkycwj=Y\r\n");
    auto window = openWindow();
    EXPECT_FALSE(window->cbx_1()->isChecked());
    EXPECT_FALSE(window->cbx_3()->isChecked());
    EXPECT_EQ(window->bkycwj, "Y");
}

TEST_F(MainWindow, OnlyTheFirstHiddenFilesBoxIsSaved) {
    {
        auto window = openWindow();
        window->cbx_3()->setChecked(false);
        window->close();
    }
    auto window = openWindow();
    EXPECT_TRUE(window->cbx_1()->isChecked());
    EXPECT_TRUE(window->cbx_3()->isChecked());
}

TEST_F(MainWindow, ClosingWritesTheFiveSettings) {
    {
        auto window = openWindow();
        window->sle_1()->setText(utf8("/数据/源"));
        window->sle_2()->setText("/backup");
        window->ddlb_3()->setCurrentIndex(2);
        window->em_1()->setText("2020-05-06 07:08:09");
        window->cbx_1()->setChecked(false);
        window->close();
    }
    EXPECT_EQ(host::gbkToUtf8(profileBytes()),
              "[other]\r\nsle_1=/数据/源\r\nsle_2=/backup\r\nbkycwj=n\r\nhjlltj=2\r\n"
              "em_1rq=2020-05-06 07:08:09\r\n");
    auto window = openWindow();
    EXPECT_EQ(window->ls_path1, "/数据/源");
    EXPECT_EQ(window->ddlb_3()->currentIndex(), 2);
}

TEST_F(MainWindow, ClosingWithTheLabelItemWritesZero) {
    writeProfile("[other]\r\nhjlltj=3\r\n");
    {
        auto window = openWindow();
        window->ddlb_3()->setCurrentIndex(0);
        window->close();
    }
    EXPECT_NE(host::gbkToUtf8(profileBytes()).find("hjlltj=0\r\n"), std::string::npos);
}

TEST_F(MainWindow, EscapeClosesAndKeepsEveryOtherLineOfAGbkFile) {
    const std::string original =
        "; 设置文件\r\n[general]\r\nname=旧值\r\n\r\n[other]\r\nhjlltj=3\r\nbkycwj=Y\r\n"
        "sle_1=D:\\数据\\源 文件夹\r\nem_1rq=2012-02-03 09:05:07\r\n; "
        "注释\r\n\r\n[last]\r\nx=1\r\n";
    writeProfile(original);
    const std::string gbkBefore = profileBytes();
    {
        auto window = openWindow();
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        EXPECT_EQ(window->ls_path1, "D:\\数据\\源 文件夹");
        QTest::keyClick(window.get(), Qt::Key_Escape);
        EXPECT_FALSE(window->isVisible());
    }
    const std::string after = profileBytes();
    // Still GBK: the Chinese sle_1 bytes are the very bytes that were read.
    EXPECT_NE(after.find(host::utf8ToGbk("sle_1=D:\\数据\\源 文件夹\r\n")), std::string::npos);
    EXPECT_EQ(host::gbkToUtf8(after),
              "; 设置文件\r\n[general]\r\nname=旧值\r\n\r\n[other]\r\nhjlltj=3\r\nbkycwj=n\r\n"
              "sle_1=D:\\数据\\源 文件夹\r\nem_1rq=2012-02-03 09:05:07\r\n; 注释\r\nsle_2=\r\n"
              "\r\n[last]\r\nx=1\r\n");
    EXPECT_NE(gbkBefore, after);
}

TEST_F(MainWindow, FieldBytesThatAreNotUtf8SurviveARoundTrip) {
    const std::string odd = std::string("/data/\xff\xfe-") + "x";
    folder.write("selmo1.ini", "[other]\r\nsle_2=" + odd + "\r\nem_1rq=not a date\r\n");
    {
        auto window = openWindow();
        EXPECT_EQ(window->ls_path2, odd);
        window->close();
    }
    const std::string after = profileBytes();
    EXPECT_NE(after.find("sle_2=" + odd + "\r\n"), std::string::npos);
    EXPECT_NE(after.find("em_1rq=not a date\r\n"), std::string::npos);
}

TEST_F(MainWindow, AnUnwritableSettingsFileDoesNotStopTheWindowClosing) {
    profile = folder / "missing-folder/selmo1.ini";
    auto window = openWindow();
    window->show();
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(MainWindow, LayoutIsScaledToTheScreen) {
    auto window = openWindow(1280, 1024);
    auto* button = window->cb_16();
    EXPECT_EQ(button->x(), 1015);               // 812 * 1.25
    EXPECT_EQ(button->font().pointSize(), 11);  // 9 * 1.25 cut
    auto* grid = &window->gridView(1);
    EXPECT_EQ(grid->width(), 482);  // 386 * 1.25 cut
    EXPECT_EQ(window->cb_9()->font().pointSize(), 15);
}

TEST_F(MainWindow, AFailingScriptEndsWithAMessageAndTheWindowStaysOpen) {
    auto window = openWindow();
    window->show();
    bool ran = false;
    window->runScript([&] { throw std::runtime_error("磁盘错误"); });
    window->runScript([&] { ran = true; });
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].title, "提示");
    EXPECT_EQ(host.messages[0].text, "磁盘错误");
    EXPECT_TRUE(ran);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindow, WhileBusyOtherScriptsAreRefusedAndClosingWaits) {
    auto window = openWindow();
    window->show();
    bool refusedRan = false;
    bool closedDuringRun = true;
    window->runScript([&] {
        host::BusyRun run(window->busy());
        ASSERT_TRUE(window->busy().isBusy());
        window->runScript([&] { refusedRan = true; });
        window->close();
        closedDuringRun = !window->isVisible();
        window->busy().runOnWorker([](host::ProgressSink& progress) {
            for (long i = 1; i <= 1000; ++i) progress.step(i, "file");
        });
    });
    EXPECT_FALSE(refusedRan);
    EXPECT_FALSE(closedDuringRun);
    // The held close happens once the run has ended.
    QTRY_VERIFY(!window->isVisible());
    EXPECT_FALSE(window->busy().isBusy());
}

TEST(KelApp, SettingsFileLiesInTheWorkingDirectory) {
    TempFolder first;
    TempFolder second;
    second.write("selmo1.ini", "[other]\r\nsle_1=/from/second\r\n");
    host::ScriptedHost host;
    {
        testing_support::ScopedWorkingDirectory cwd(first.path());
        kelvane::kelapp app(host);
        EXPECT_EQ(app.ap_path(), first.path());
        EXPECT_EQ(app.profile(), first / "selmo1.ini");
        EXPECT_TRUE(app.open().ls_path1.empty());
    }
    {
        testing_support::ScopedWorkingDirectory cwd(second.path());
        kelvane::kelapp app(host);
        EXPECT_EQ(app.open().ls_path1, "/from/second");
    }
}

}  // namespace
