// torrin's window through the scripted Host, on the offscreen platform: its
// controls and captions, the settings at open and close, the list buttons,
// the grid's click rules and in-place editing, and a copy run.
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <future>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "grid/qt/grid_model.h"
#include "grid/qt/grid_view.h"
#include "host/clock.h"
#include "host/desktop.h"
#include "host/encoding.h"
#include "host/fault_injection.h"
#include "host/ini.h"
#include "support/run_stop.h"
#include "support/temp_folder.h"
#include "tests/support/scripted_host.h"
#include "tests/support/window_controls.h"
#include "torrin/engine/run_records.h"
#include "torrin/window/w_copy.h"

using testing_support::TempFolder;
using torrin::w_copy;
using Message = host::ScriptedHost::Message;

using testing_support::expectCaptioned;
using testing_support::expectNamed;

namespace {

QString utf8(const char* text) {
    return QString::fromUtf8(text);
}

class CopyWindow : public ::testing::Test {
  protected:
    std::unique_ptr<w_copy> openWindow() { return std::make_unique<w_copy>(host, app); }
    void writeProfile(const std::string& utf8Text) {
        folder.write("confi9.ini", host::utf8ToGbk(utf8Text));
    }
    std::string stored(const char* key) const {
        return host::iniRead(app.profile(), "other", key, "<missing>");
    }
    static std::vector<std::string> rows(w_copy& window) { return window.sourceRows(); }
    static void addRows(w_copy& window, const std::vector<std::string>& paths) {
        for (const std::string& path : paths) {
            window.dw_1().setitem(window.dw_1().insertrow(0), "ypath", path);
        }
    }
    static void click(w_copy& window, const char* button) {
        window.findChild<QPushButton*>(button)->click();
    }
    static std::set<long> selected(w_copy& window) {
        std::set<long> rows;
        for (long row = 1; row <= window.dw_1().rowcount(); ++row) {
            if (window.dw_1().isselected(row)) rows.insert(row);
        }
        return rows;
    }
    static QLineEdit* threshold(w_copy& window) { return window.em_1(); }

    TempFolder folder;
    torrin::torapp app{folder.path()};
    host::ScriptedHost host;
};

TEST_F(CopyWindow, ShowsEveryControlWithItsCaption) {
    auto window = openWindow();
    EXPECT_EQ(window->windowTitle(), utf8("Zarvik文件增量复制小工具"));
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    expectCaptioned<QPushButton>({
        {window->pb_2(), "pb_2", "添加文件夹"},
        {window->cb_6(), "cb_6", "移除所选"},
        {window->cb_9(), "cb_9", "反向选择"},
        {window->cb_8(), "cb_8", "全部移除"},
        {window->cb_11(), "cb_11", "另存为"},
        {window->pb_1(), "pb_1", "浏览..."},
        {window->cb_1(), "cb_1", "开始复制"},
    });
    expectCaptioned<QLabel>({{window->st_1(), "st_1", "目标文件夹："},
                             {window->st_2(), "st_2", "修改日期大于："},
                             {window->st_3(), "st_3", "或创建日期大于："}});
    expectNamed(window->gb_1(), "gb_1");
    expectNamed(window->gb_2(), "gb_2");
    expectNamed(window->cbx_1(), "cbx_1");
    expectNamed(window->cbx_4(), "cbx_4");
    expectNamed(window->rb_1(), "rb_1");
    expectNamed(window->rb_2(), "rb_2");
    expectNamed(window->sle_2(), "sle_2");
    expectNamed(window->em_1(), "em_1");
    expectNamed(window->progress(), "progress");
    expectNamed(&window->gridView(), "dw_1");
    EXPECT_EQ(window->gb_1()->title(), utf8("源文件夹列 表"));
    EXPECT_EQ(window->gb_2()->title(), QString());
    EXPECT_EQ(window->cbx_1()->text(), utf8("替换同名文件"));
    EXPECT_EQ(window->cbx_4()->text(), utf8("包括隐藏文件"));
    EXPECT_EQ(window->rb_1()->text(), utf8("保留全目录结构"));
    EXPECT_EQ(window->rb_2()->text(), utf8("保留子目录结构"));
    EXPECT_TRUE(window->sle_2()->isReadOnly());
    EXPECT_EQ(threshold(*window)->inputMask(), QStringLiteral("0000-00-00 00:00:00"));
    expectNamed(window->lb_1(), "lb_1");
    EXPECT_TRUE(window->lb_1()->isHidden());
    grid::GridView* grid = &window->gridView();
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->model().headerData(0, Qt::Horizontal).toString(), utf8("源文件夹"));
    EXPECT_EQ(grid->tableView()->selectionMode(), QAbstractItemView::NoSelection);
}

TEST_F(CopyWindow, FirstStartShowsTheDefaults) {
    auto window = openWindow();
    EXPECT_EQ(window->fieldText(window->sle_2()), "");
    EXPECT_EQ(window->fieldText(threshold(*window)), "");
    EXPECT_TRUE(window->cbx_1()->isChecked());
    EXPECT_TRUE(window->cbx_4()->isChecked());
    EXPECT_TRUE(window->rb_1()->isChecked());
    EXPECT_EQ(window->dw_1().rowcount(), 0);
    EXPECT_EQ(window->lx, 55);
}

TEST_F(CopyWindow, OpenRestoresTheSettingsWithFoldersGroupedByKey) {
    writeProfile(
        "[other]\r\nmpath=/备份\r\nfdt=2024-01-02 03:04:05\r\nbkycwj=n\r\nsfth=n\r\n"
        "qmljg=n\r\nypath1=A;D;\r\nypath2=B;E;\r\nypath3=C\r\n");
    auto window = openWindow();
    EXPECT_EQ(window->fieldText(window->sle_2()), "/备份");
    EXPECT_EQ(window->fieldText(threshold(*window)), "2024-01-02 03:04:05");
    EXPECT_FALSE(window->cbx_1()->isChecked());
    EXPECT_FALSE(window->cbx_4()->isChecked());
    EXPECT_TRUE(window->rb_2()->isChecked());
    EXPECT_EQ(window->lx, 16);
    EXPECT_EQ(rows(*window), (std::vector<std::string>{"A", "D", "B", "E", "C"}));
}

TEST_F(CopyWindow, CloseDealsFiveFoldersAndTheNextStartListsThemGrouped) {
    {
        auto window = openWindow();
        addRows(*window, {"A", "B", "C", "D", "E"});
        window->cbx_1()->setChecked(false);
        window->rb_2()->setChecked(true);
        window->setFieldText(threshold(*window), "2024-01-02 03:04:05");
        window->close();
    }
    EXPECT_EQ(stored("ypath1"), "A;D;");
    EXPECT_EQ(stored("ypath2"), "B;E;");
    EXPECT_EQ(stored("ypath3"), "C");
    EXPECT_EQ(stored("sfth"), "n");
    EXPECT_EQ(stored("bkycwj"), "y");
    EXPECT_EQ(stored("qmljg"), "n");
    EXPECT_EQ(stored("fdt"), "2024-01-02 03:04:05");
    EXPECT_EQ(stored("mpath"), "");
    auto reopened = openWindow();
    EXPECT_EQ(rows(*reopened), (std::vector<std::string>{"A", "D", "B", "E", "C"}));
}

TEST_F(CopyWindow, CloseWithAnEmptyGridOrIncompleteThresholdKeepsThoseKeys) {
    writeProfile("[other]\r\nfdt=2020-01-01 00:00:00\r\nypath1=/a;/b;\r\n");
    {
        auto window = openWindow();
        click(*window, "cb_8");
        // Typed, not set: the mask leaves the missing seconds blank.
        threshold(*window)->clear();
        QTest::keyClicks(threshold(*window), "2024010212");
        window->close();
    }
    EXPECT_EQ(stored("fdt"), "2020-01-01 00:00:00");
    EXPECT_EQ(stored("ypath1"), "/a;/b;");
}

TEST_F(CopyWindow, AddFolderAppendsRowsAndReportsACancel) {
    auto window = openWindow();
    host.chooseFolder("/src/one");
    host.chooseFolder("/src/one");
    click(*window, "pb_2");
    click(*window, "pb_2");
    click(*window, "pb_2");
    EXPECT_EQ(rows(*window), (std::vector<std::string>{"/src/one", "/src/one"}));
    EXPECT_EQ(host.dialogTitles,
              std::vector<std::string>(3, "选择欲放置更名后的文件所在的源文件夹"));
    EXPECT_EQ(host.messages, (std::vector<Message>{{"提示", "源文件夹选择被取消"}}));
}

TEST_F(CopyWindow, RemoveSelectedNeedsRowsAndRemovesOnlySelectedOnes) {
    auto window = openWindow();
    click(*window, "cb_6");
    EXPECT_EQ(host.messages, (std::vector<Message>{{"提示", "还没有源文件"}}));
    addRows(*window, {"a", "b", "c", "d"});
    click(*window, "cb_6");
    EXPECT_EQ(window->dw_1().rowcount(), 4);
    window->dw_1().selectrow(2, true);
    window->dw_1().selectrow(4, true);
    click(*window, "cb_6");
    EXPECT_EQ(rows(*window), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(host.messages.size(), 1u);
}

TEST_F(CopyWindow, InvertAndRemoveAll) {
    auto window = openWindow();
    click(*window, "cb_9");  // nothing on an empty grid
    addRows(*window, {"a", "b", "c"});
    window->dw_1().selectrow(2, true);
    click(*window, "cb_9");
    EXPECT_EQ(selected(*window), (std::set<long>{1, 3}));
    click(*window, "cb_8");
    EXPECT_EQ(window->dw_1().rowcount(), 0);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(CopyWindow, SaveAsWritesTheFolderList) {
    auto window = openWindow();
    addRows(*window, {"/a", "/源"});
    host.saveAnswers.push_back({1, folder / "list.txt", host::SaveFormat::Text});
    click(*window, "cb_11");
    EXPECT_EQ(TempFolder::read(folder / "list.txt"), host::utf8ToGbk("/a\r\n/源\r\n"));
}

TEST_F(CopyWindow, BrowseStoresTheTargetAtOnceAndKeepsItOnCancel) {
    auto window = openWindow();
    host.chooseFolder("/bak/目标");
    click(*window, "pb_1");
    EXPECT_EQ(window->fieldText(window->sle_2()), "/bak/目标");
    EXPECT_EQ(window->ls_path2, "/bak/目标");
    // Before any close: an abnormal end keeps it.
    EXPECT_EQ(stored("mpath"), "/bak/目标");
    click(*window, "pb_1");
    EXPECT_EQ(window->fieldText(window->sle_2()), "/bak/目标");
    EXPECT_EQ(host.messages, (std::vector<Message>{{"提示", "目标文件夹选择被取消"}}));
    EXPECT_EQ(host.dialogTitles,
              std::vector<std::string>(2, "选择欲放置更名后的文件所在的目标文件夹"));
}

// The settings' lock held by another thread, as a scheduled run holds it,
// until released; after 20 seconds in any case, so that a window that waits
// on the lock fails its test rather than hangs.
class HeldByAScheduledRun {
  public:
    explicit HeldByAScheduledRun(const torrin::torapp& app) {
        std::promise<bool> taken;
        std::future<bool> isTaken = taken.get_future();
        holder_ = std::jthread(
            [&app, taken = std::move(taken), released = released_.get_future()]() mutable {
                host::ExclusiveLock lock;
                const auto taking = torrin::lockSettings(app, lock, false);
                taken.set_value(taking && *taking == host::ExclusiveLock::Taking::Taken);
                released.wait_for(std::chrono::seconds(20));
            });
        EXPECT_TRUE(isTaken.get());
    }
    ~HeldByAScheduledRun() { release(); }
    void release() {
        if (!holder_.joinable()) return;
        released_.set_value();
        holder_.join();
    }

  private:
    std::promise<void> released_;
    std::jthread holder_;
};

constexpr const char* kWaitQuestion =
    "计划的复制正在进行，设置要等它结束后才能保存。\n"
    "等待它结束后保存并关闭吗？（取消：不保存，直接关闭）";

// A scheduled run holds the settings for all of its run: the window never
// waits on it. Its close asks; without waiting nothing is written, and
// waiting, the window stays responsive and saves and closes once the run ends.
TEST_F(CopyWindow, ACloseWhileAScheduledRunHoldsTheSettingsAsksInsteadOfWaiting) {
    writeProfile("[other]\r\nmpath=/old\r\n");
    const std::string before = TempFolder::read(app.profile());
    HeldByAScheduledRun scheduled(app);
    {
        auto window = openWindow();
        window->setFieldText(window->sle_2(), "/new");
        host.questionAnswers = {host::kButtonCancel};
        EXPECT_TRUE(window->close());
        EXPECT_EQ(host.messages, (std::vector<Message>{{"提示", kWaitQuestion}}));
        EXPECT_EQ(TempFolder::read(app.profile()), before);
    }
    host.messages.clear();
    auto window = openWindow();
    window->setFieldText(window->sle_2(), "/new");
    window->show();
    host.questionAnswers = {host::kButtonOk};
    EXPECT_FALSE(window->close());
    EXPECT_EQ(host.messages, (std::vector<Message>{{"提示", kWaitQuestion}}));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(stored("mpath"), "/old");
    scheduled.release();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, 10000));
    EXPECT_EQ(stored("mpath"), "/new");
    EXPECT_EQ(host.messages.size(), 1u);
}

TEST_F(CopyWindow, ATargetChosenWhileAScheduledRunHoldsTheSettingsIsStoredWhenItEnds) {
    HeldByAScheduledRun scheduled(app);
    auto window = openWindow();
    host.chooseFolder("/bak/目标");
    click(*window, "pb_1");
    EXPECT_EQ(window->fieldText(window->sle_2()), "/bak/目标");
    EXPECT_EQ(stored("mpath"), "<missing>");
    scheduled.release();
    EXPECT_TRUE(QTest::qWaitFor([&] { return stored("mpath") == "/bak/目标"; }, 10000));
    EXPECT_EQ(host.messages, std::vector<Message>{});
}

TEST_F(CopyWindow, StartValidatesDateTimeAndTargetInThatOrder) {
    auto window = openWindow();
    addRows(*window, {folder.mkdir("src")});
    click(*window, "cb_1");
    window->setFieldText(threshold(*window), "2024-13-01 00:00:00");
    click(*window, "cb_1");
    threshold(*window)->clear();
    QTest::keyClicks(threshold(*window), "2024010212");
    click(*window, "cb_1");
    window->setFieldText(threshold(*window), "2024-01-02 12:00:00");
    window->setFieldText(window->sle_2(), folder / "missing");
    click(*window, "cb_1");
    EXPECT_EQ(host.messages,
              (std::vector<Message>{{"提示", "修改（或 创建）日期错误"},
                                    {"提示", "修改（或 创建）日期错误"},
                                    {"提示", "修改（或 创建）日期时间错误"},
                                    {"提示", "目标文件夹不存在:" + (folder / "missing")}}));
    EXPECT_FALSE(std::filesystem::exists(app.logfile()));
}

TEST_F(CopyWindow, StartWithAnEmptyGridDoesNothing) {
    auto window = openWindow();
    window->setFieldText(threshold(*window), "2024-01-02 12:00:00");
    window->setFieldText(window->sle_2(), folder.mkdir("target"));
    click(*window, "cb_1");
    EXPECT_TRUE(host.messages.empty());
    EXPECT_FALSE(std::filesystem::exists(app.logfile()));
    EXPECT_EQ(stored("fdt"), "<missing>");
}

class CopyWindowRun : public CopyWindow {
  protected:
    CopyWindowRun() {
        folder.write("src/a.txt", "a");
        folder.write("src/sub/b.txt", "b");
        folder.mkdir("target");
    }
    std::unique_ptr<w_copy> readyWindow() {
        auto window = openWindow();
        addRows(*window, {folder / "src"});
        window->setFieldText(threshold(*window), "2001-01-01 00:00:00");
        window->setFieldText(window->sle_2(), folder / "target");
        return window;
    }
};

TEST_F(CopyWindowRun, RunsThenAsksWithCancelPreselectedAndOpensNothing) {
    auto window = readyWindow();
    window->rb_2()->setChecked(true);
    click(*window, "cb_1");
    EXPECT_EQ(TempFolder::read(folder / "target/a.txt"), "a");
    EXPECT_EQ(TempFolder::read(folder / "target/sub/b.txt"), "b");
    EXPECT_EQ(host.messages,
              (std::vector<Message>{{"提示", "复制结束。确定要打开目标文件夹吗？"}}));
    EXPECT_TRUE(host.startedPrograms.empty());
    ASSERT_NE(window->lastRun(), nullptr);
    EXPECT_EQ(window->lastRun()->cgcs, 2);
    EXPECT_EQ(window->fieldText(threshold(*window)), window->lastRun()->endTime);
    EXPECT_EQ(stored("fdt"), window->lastRun()->startTime);
    EXPECT_FALSE(window->busy().isBusy());
    EXPECT_EQ(window->sfth, "y");
    EXPECT_EQ(window->qmljg, "n");
    const std::string log = TempFolder::read(app.logfile());
    EXPECT_NE(log.find(host::utf8ToGbk("成功复制全部应复制的文件数:2\r\n")), std::string::npos);
}

TEST_F(CopyWindowRun, ARowClickedDuringTheRunMovesNothing) {
    auto window = readyWindow();
    addRows(*window, {folder / "src"});
    grid::GridView& view = window->gridView();
    bool clickedWhileBusy = false;
    QTimer::singleShot(0, [&] {
        clickedWhileBusy = window->busy().isBusy();
        emit view.tableView()->clicked(view.tableView()->model()->index(1, 0));
    });
    click(*window, "cb_1");
    EXPECT_TRUE(clickedWhileBusy);
    EXPECT_EQ(view.model().currentRow(), 0);
    EXPECT_EQ(selected(*window), std::set<long>{});
}

TEST_F(CopyWindowRun, OkOpensTheTargetInTheFileManager) {
    auto window = readyWindow();
    host.questionAnswers.push_back(host::kButtonOk);
    click(*window, "cb_1");
    const host::ProgramStart opener = host::folderOpener(folder / "target");
    std::vector<std::string> started{opener.program};
    started.insert(started.end(), opener.args.begin(), opener.args.end());
    EXPECT_EQ(host.startedPrograms, std::vector<std::vector<std::string>>{started});
    EXPECT_EQ(opener.args, std::vector<std::string>{folder / "target"});
    // Full structure by default: the source's whole path under the target (on
    // Windows without its drive).
    std::string source = folder / "src";
    if (source.size() > 1 && source[1] == ':') source.erase(0, 2);
    EXPECT_EQ(TempFolder::read(folder / "target" + source + testing_support::native("/a.txt")),
              "a");
}

TEST_F(CopyWindowRun, TheEndTimeShownStandsForTheRunsStartTime) {
    auto window = readyWindow();
    click(*window, "cb_1");
    const torrin::RunResult first = *window->lastRun();
    // A second start from the shown end time uses the first run's start, so a
    // file changed while the first run walked is not missed.
    EXPECT_EQ(window->effectiveThreshold(), first.startTime);
    click(*window, "cb_1");
    const std::string log = host::gbkToUtf8(TempFolder::read(app.logfile()));
    EXPECT_NE(log.find("大于:" + first.startTime + "\r\n", log.find("大于:2001")),
              std::string::npos);
    // Closing stores a start time, never the end time the field shows.
    const torrin::RunResult second = *window->lastRun();
    window->close();
    EXPECT_EQ(stored("fdt"), second.startTime);
    // A threshold the user typed is stored as typed.
    auto again = openWindow();
    again->setFieldText(threshold(*again), "2024-06-07 08:09:10");
    again->close();
    EXPECT_EQ(stored("fdt"), "2024-06-07 08:09:10");
}

// A window left open while a scheduled run moves the threshold on does not
// write the older one back when it closes; a start while that run holds the
// settings changes nothing and says why.
TEST_F(CopyWindowRun, AScheduledRunsThresholdSurvivesTheWindowAndItsStart) {
    writeProfile("[other]\r\nfdt=2001-01-01 00:00:00\r\n");
    auto window = readyWindow();
    window->setFieldText(threshold(*window), "2001-01-01 00:00:00");
    host::ExclusiveLock scheduled;
    ASSERT_EQ(torrin::lockSettings(app, scheduled, false), host::ExclusiveLock::Taking::Taken);
    click(*window, "cb_1");
    EXPECT_EQ(host.messages, (std::vector<Message>{{"提示", "另一次复制正在进行，本次未运行"}}));
    EXPECT_FALSE(std::filesystem::exists(folder / "target/a.txt"));
    ASSERT_TRUE(host::iniWrite(app.profile(), "other", "fdt", "2024-06-07 08:09:10"));
    scheduled.release();
    window->close();
    EXPECT_EQ(stored("fdt"), "2024-06-07 08:09:10");
}

// 开始复制 with the threshold as the window showed it uses the one stored
// now (a scheduled run has moved it on since the window opened), and a
// target the last run found on another disk is used only once the user
// Copies that failed are said in a box, with their reasons; a run that
// copied nothing never offers to open the target as after a good one.
TEST_F(CopyWindowRun, FailedCopiesAreSaidAndAllFailedOffersNoTarget) {
    folder.write("target/sub", "a file where the folder sub would go");
    std::filesystem::remove(folder / "src/a.txt");
    auto window = readyWindow();
    window->rb_2()->setChecked(true);
    click(*window, "cb_1");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].text.starts_with("以下1个文件复制失败:\n" +
                                                  (folder / "src/sub/b.txt") + ": "))
        << host.messages[0].text;
    EXPECT_TRUE(host.messages[0].text.ends_with("下次复制将重试这些文件。"));
    folder.write("src/a.txt", "a");
    window->setFieldText(threshold(*window), "2001-01-01 00:00:00");
    click(*window, "cb_1");
    ASSERT_EQ(host.messages.size(), 3u);
    EXPECT_EQ(host.messages[2].text, "复制结束。确定要打开目标文件夹吗？");
}

// accepts it, which an unattended run then remembers.
TEST_F(CopyWindowRun, AStartReadsTheStoredThresholdAndAsksAboutAnotherDisk) {
    writeProfile("[other]\r\nfdt=2001-01-01 00:00:00\r\nmpath=" + (folder / "target") +
                 "\r\nypath1=" + (folder / "src") + "\r\nqmljg=n\r\n");
    auto window = openWindow();
    // Stored after the files were made: only b.txt, dated ahead, is newer.
    const std::time_t now = std::time(nullptr);
    TempFolder::setModified(folder / "src/sub/b.txt", now + 3600);
    ASSERT_TRUE(host::iniWrite(app.profile(), "other", "fdt", host::localTimeText(now + 1)));
    torrin::RunState state;
    state.disks.push_back({true, folder / "target", "uuid=x;serial=x;fsid=x;dev=x", false});
    folder.write("confi9.state", torrin::runStateText(state));
    click(*window, "cb_1");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].text.find("以下文件夹所在的磁盘与上次复制时不同：\n目标文件夹"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder / "target/sub/b.txt"));

    host.questionAnswers = {host::kButtonOk};
    click(*window, "cb_1");
    EXPECT_TRUE(std::filesystem::exists(folder / "target/sub/b.txt"));
    EXPECT_FALSE(std::filesystem::exists(folder / "target/a.txt"));
    std::ostringstream errors;
    EXPECT_EQ(torrin::runUnattended(app, errors), torrin::kExitAllCopied) << errors.str();
}

// Closing the window while a run copies stops the run after the files under
// way: no question, the log says so, no threshold is stored and the journal
// stays; the window closes at the run's end, and the next run goes on.
TEST_F(CopyWindowRun, AClosedWindowStopsItsRunAndTheNextRunContinuesIt) {
    writeProfile("[other]\r\njobs=2\r\n");
    constexpr int kFiles = 60;
    // A folder each: a copy makes its folder as it begins, so the target
    // shows how many have begun while their names wait for a flush.
    for (int i = 0; i < kFiles; ++i)
        folder.write("src/many/d" + std::to_string(100 + i) + "/f.txt", "x");
    auto window = readyWindow();
    window->rb_2()->setChecked(true);
    host::faults::setWorkDelayForTesting(20000);
    bool closeHeld = false;
    const testing_support::OnceFolderHolds closer(folder / "target/many", 3,
                                                  [&] { closeHeld = !window->close(); });
    click(*window, "cb_1");
    host::faults::setWorkDelayForTesting(0);
    QApplication::processEvents();
    EXPECT_TRUE(closeHeld);
    EXPECT_EQ(host.messages, std::vector<Message>{});
    EXPECT_EQ(stored("mpath"), folder / "target");  // the held close has happened
    EXPECT_EQ(stored("fdt"), "2001-01-01 00:00:00");
    EXPECT_TRUE(std::filesystem::exists(testing_support::fsPath(app.journal())));
    const std::string log = host::gbkToUtf8(TempFolder::read(app.logfile()));
    EXPECT_NE(log.find(torrin::kStoppedLine), std::string::npos) << log;
    const auto copiedFiles = [&] {
        long files = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(
                 testing_support::fsPath(folder / "target/many")))
            files += entry.is_regular_file();
        return files;
    };
    EXPECT_LT(copiedFiles(), kFiles);

    // What the closed window stored is what the next one starts from.
    auto next = openWindow();
    EXPECT_EQ(rows(*next), std::vector<std::string>{folder / "src"});
    next->rb_2()->setChecked(true);
    click(*next, "cb_1");
    EXPECT_EQ(copiedFiles(), kFiles);
    EXPECT_NE(host::gbkToUtf8(TempFolder::read(app.logfile())).find("继续上次中断的复制"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(testing_support::fsPath(app.journal())));
    EXPECT_EQ(stored("fdt"), next->lastRun()->startTime);
}

TEST_F(CopyWindowRun, ListChangesAndASecondStartAreRefusedWhileARunIsActive) {
    auto window = readyWindow();
    host.chooseFolder("/other");
    window->busy().begin();
    click(*window, "pb_2");
    click(*window, "cb_8");
    click(*window, "cb_1");
    EXPECT_TRUE(host.dialogTitles.empty());
    EXPECT_EQ(window->dw_1().rowcount(), 1);
    EXPECT_FALSE(std::filesystem::exists(app.logfile()));
    // Closing waits for the end of the run.
    EXPECT_FALSE(window->close());
    window->busy().end();
    EXPECT_EQ(stored("mpath"), "<missing>");
    QApplication::processEvents();
    EXPECT_EQ(stored("mpath"), folder / "target");
}

TEST_F(CopyWindow, AnUnexpectedErrorIsReportedWithAnEmptyTitle) {
    auto window = openWindow();
    window->runScript("cb_1.clicked", [] { throw std::runtime_error("disk gone"); });
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].title, "");
    EXPECT_EQ(host.messages[0].text,
              "错误编号：0\r\n出错对象：w_copy\r\n出错事件：cb_1.clicked\r\n出错行数：0\r\n"
              "错误信息：未知错误\r\ndisk gone\r\n");
}

// The grid's click rules, driven by real mouse clicks.
class CopyWindowClicks : public CopyWindow {
  protected:
    CopyWindowClicks() : window(openWindow()) {
        addRows(*window, {"b", "d", "a", "e", "c"});
        window->show();
    }
    QTableView* table() const { return window->gridView().tableView(); }
    void clickRow(long row, Qt::KeyboardModifiers keys = Qt::NoModifier) {
        const QModelIndex index = table()->model()->index(static_cast<int>(row - 1), 0);
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, keys,
                          table()->visualRect(index).center());
    }
    void clickHeader(Qt::KeyboardModifiers keys = Qt::NoModifier) {
        QHeaderView* header = table()->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, keys,
                          QPoint(header->sectionSize(0) / 2, header->height() / 2));
    }
    std::string order() const {
        std::string text;
        for (const std::string& row : window->sourceRows()) text += row;
        return text;
    }

    std::unique_ptr<w_copy> window;
};

TEST_F(CopyWindowClicks, HeaderSortsDescendingFirstThenAlternates) {
    clickHeader();
    EXPECT_EQ(order(), "edcba");
    EXPECT_TRUE(window->ib_flag);
    clickHeader();
    EXPECT_EQ(order(), "abcde");
    clickHeader();
    EXPECT_EQ(order(), "edcba");
    clickHeader(Qt::ControlModifier);
    EXPECT_EQ(order(), "edcba");
}

TEST_F(CopyWindowClicks, PlainClickMovesTheCurrentRowOnly) {
    window->dw_1().selectrow(4, true);
    clickRow(2);
    EXPECT_EQ(selected(*window), std::set<long>{4});
    EXPECT_EQ(window->gridView().model().currentRow(), 2);
    const QColor current = window->gridView()
                               .model()
                               .data(table()->model()->index(1, 0), Qt::BackgroundRole)
                               .value<QBrush>()
                               .color();
    EXPECT_EQ(current, QColor(174, 241, 242));
    EXPECT_EQ(window->i_lng_lastrow, 0);
}

TEST_F(CopyWindowClicks, CtrlTogglesTheRowAndMakesItTheAnchor) {
    clickRow(2, Qt::ControlModifier);
    clickRow(4, Qt::ControlModifier);
    EXPECT_EQ(selected(*window), (std::set<long>{2, 4}));
    EXPECT_EQ(window->i_lng_lastrow, 4);
    clickRow(4, Qt::ControlModifier);
    EXPECT_EQ(selected(*window), std::set<long>{2});
}

TEST_F(CopyWindowClicks, ShiftSelectsFromTheAnchorToTheRowOnly) {
    window->dw_1().selectrow(5, true);
    clickRow(2, Qt::ControlModifier);
    clickRow(4, Qt::ShiftModifier);
    EXPECT_EQ(selected(*window), (std::set<long>{2, 3, 4}));
    // Upwards from the anchor, which does not move.
    clickRow(1, Qt::ShiftModifier);
    EXPECT_EQ(selected(*window), (std::set<long>{1, 2}));
    EXPECT_EQ(window->i_lng_lastrow, 2);
}

TEST_F(CopyWindowClicks, ShiftWithoutAnAnchorSelectsEveryRow) {
    clickRow(2, Qt::ShiftModifier);
    EXPECT_EQ(selected(*window), (std::set<long>{1, 2, 3, 4, 5}));
}

TEST_F(CopyWindowClicks, DoubleClickEditsTheCellAndLeavingCommitsIt) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    const QPoint cell = table()->visualRect(table()->model()->index(2, 0)).center();
    // A double click as the mouse makes it: press, release, double click, release.
    QTest::mouseClick(table()->viewport(), Qt::LeftButton, Qt::NoModifier, cell);
    QTest::mouseDClick(table()->viewport(), Qt::LeftButton, Qt::NoModifier, cell);
    QTest::mouseRelease(table()->viewport(), Qt::LeftButton, Qt::NoModifier, cell);
    ASSERT_TRUE(window->isEditing());
    QLineEdit* editor = window->cellEditor();
    EXPECT_EQ(editor->text(), "a");
    QTest::keyClicks(editor, "/new");
    EXPECT_EQ(window->dw_1().getitemstring(3, "ypath"), "a");
    // Committed when the grid loses the focus.
    ASSERT_TRUE(editor->hasFocus());
    window->cb_9()->setFocus();
    EXPECT_FALSE(window->isEditing());
    EXPECT_EQ(window->dw_1().getitemstring(3, "ypath"), "/new");
}

TEST_F(CopyWindowClicks, EscapeCancelsAnEditAndAStartOrCloseCommitsIt) {
    window->editCell(1);
    QTest::keyClicks(window->cellEditor(), "x");
    QTest::keyClick(window->cellEditor(), Qt::Key_Escape);
    EXPECT_FALSE(window->isEditing());
    EXPECT_EQ(window->dw_1().getitemstring(1, "ypath"), "b");

    window->editCell(1);
    window->cellEditor()->setText("/edited");
    click(*window, "cb_1");  // refused for its empty threshold, the edit still stored
    EXPECT_EQ(window->dw_1().getitemstring(1, "ypath"), "/edited");

    window->editCell(2);
    window->cellEditor()->setText("/last");
    window->close();
    EXPECT_EQ(stored("ypath2"), "/last;c;");
}

TEST_F(CopyWindowClicks, AnUnchangedEditKeepsBytesThatAreNotUtf8) {
    window->dw_1().setitem(1, "ypath", "/src/\xB0\xA1");
    window->editCell(1);
    EXPECT_TRUE(window->commitEdit());
    EXPECT_EQ(window->dw_1().getitemstring(1, "ypath"), "/src/\xB0\xA1");
}

}  // namespace
