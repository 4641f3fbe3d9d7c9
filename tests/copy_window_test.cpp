// cb_17 "开始复制" and the double clicks on the lists, on the main window
// through the scripted Host and real temporary folders.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>

#include <QElapsedTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "grid/qt/grid_model.h"
#include "grid/qt/grid_view.h"
#include "host/fault_injection.h"
#include "host/qt/qt_host.h"
#include "kelvane/copy/open_listed_file.h"
#include "kelvane/window/w_htmd.h"
#include "kelvane/window/w_put.h"
#include "support/run_stop.h"
#include "support/temp_folder.h"
#include "tests/support/scripted_host.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#endif

using host::ScriptedHost;
using kelvane::w_htmd;
using kelvane::w_put;
using testing_support::native;
using testing_support::TempFolder;
using Messages = std::vector<ScriptedHost::Message>;

namespace {

class CopyWindow : public ::testing::Test {
  protected:
    CopyWindow() : window(host, folder / "selmo1.ini", 1024, 768) {
        src = folder.mkdir("src");
        dst = folder.mkdir("dst");
        window.setFieldText(sle_1(), src);
        window.setFieldText(sle_2(), dst);
    }

    QLineEdit* sle_1() { return window.sle_1(); }
    QLineEdit* sle_2() { return window.sle_2(); }
    void add(grid::Grid& grid, const std::string& name, const std::string& jg = "不同") {
        const long row = grid.insertrow(0);
        grid.setitem(row, "md", native(name));
        grid.setitem(row, "xh", static_cast<double>(row));
        grid.setitem(row, "jg", jg);
    }
    void copy() { window.cb_17()->click(); }
    // Answers w_put with `count` once the copy opens it.
    void answerDialog(int count) {
        QTimer::singleShot(0, [this, count] {
            auto* dialog = qobject_cast<w_put*>(QApplication::activeModalWidget());
            if (!dialog) return;
            sawDialog = true;
            seenParameter = dialog->lstr_p();
            dialog->em_1()->setValue(count);
            dialog->close();
            if (dialog->isVisible()) dialog->hide();
        });
    }
    std::vector<std::string> results() {
        std::vector<std::string> found;
        for (long row = 1; row <= window.dw_1().rowcount(); ++row)
            found.push_back(window.dw_1().getitemstring(row, "jg"));
        return found;
    }
    // The number of separators in the temporary folder's own path.
    long depth() const {
        return std::count(folder.path().begin(), folder.path().end(), testing_support::kSeparator);
    }

    TempFolder folder;
    ScriptedHost host;
    w_htmd window;
    std::string src;
    std::string dst;
    bool sawDialog = false;
    kelvane::putcs seenParameter;
};

TEST_F(CopyWindow, EmptyListIsRefused) {
    copy();
    EXPECT_EQ(host.messages, (Messages{{"提示", "数字窗口1为空,表示没有要复制的文件"}}));
}

TEST_F(CopyWindow, MissingEmptyOrBlankTargetFolderIsRefused) {
    folder.write("src/a.txt", "a");
    add(window.dw_1(), "/a.txt");
    for (const std::string& target : {folder / "nowhere", std::string(), std::string("  ")}) {
        host.messages.clear();
        window.setFieldText(sle_2(), target);
        copy();
        EXPECT_EQ(host.messages, (Messages{{"提示", "目标文件夹不存在，不能复制文件"}})) << target;
        EXPECT_EQ(results(), std::vector<std::string>{"不同"});
    }
}

TEST_F(CopyWindow, FirstNameOfNeitherFormIsRefused) {
    add(window.dw_1(), "abc.txt");
    copy();
    EXPECT_EQ(host.messages, (Messages{{"提示", "数据窗口1中数据不符合复制条件"}}));
}

TEST_F(CopyWindow, RelativeCopyTakesOnlyTheShownRowsAndEndsWithTheMessage) {
    folder.write("src/a/new.txt", "new");
    folder.write("src/same.txt", "same");
    add(window.dw_1(), "/a/new.txt");
    add(window.dw_1(), "/same.txt", "相同");
    add(window.dw_1(), "/gone.txt");
    window.dw_1().setfilter("jg = '不同'");
    window.dw_1().filter();
    copy();
    // The described box, then the failures with their reasons.
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[0], (ScriptedHost::Message{"提示", "文件复制结束"}));
    EXPECT_EQ(host.messages[1].title, "提示");
    EXPECT_TRUE(host.messages[1].text.starts_with("以下1个文件复制失败:\ncannot open \"" + src +
                                                  native("/gone.txt") + "\": "))
        << host.messages[1].text;
    EXPECT_EQ(results(), (std::vector<std::string>{"成功", "失败"}));
    EXPECT_TRUE(window.dw_1().isselected(1));
    EXPECT_FALSE(window.dw_1().isselected(2));
    EXPECT_EQ(TempFolder::read(dst + native("/a/new.txt")), "new");
    EXPECT_FALSE(std::filesystem::exists(testing_support::fsPath(dst + native("/same.txt"))));
    EXPECT_FALSE(window.busy().isBusy());
}

TEST_F(CopyWindow, TheVerifyKeyFailsACopyThatDoesNotReadBackAsWritten) {
    folder.write("selmo1.ini", "[other]\r\nverify=y\r\njobs=1\r\n");
    folder.write("src/a.txt", "a");
    folder.write("src/b.txt", "b");
    add(window.dw_1(), "/a.txt");
    add(window.dw_1(), "/b.txt");
    host::faults::setCorruptCopyForTesting(2);
    copy();
    host::faults::setCorruptCopyForTesting(0);
    EXPECT_EQ(results(), (std::vector<std::string>{"成功", "失败"}));
    EXPECT_FALSE(std::filesystem::exists(testing_support::fsPath(dst + native("/b.txt"))));
}

// Files named like temporary files are a user's: copied like any other, and
// the target's own are never taken for leftovers.
TEST_F(CopyWindow, FilesNamedLikeTemporaryFilesAreCopiedAndKept) {
    folder.write("src/report.txt", "new");
    folder.write("src/.notes.0123abcd.partial", "notes");
    folder.write("dst/report.txt", "old");
    folder.write("dst/.report.txt.deadbeef.partial", "the user's");
    add(window.dw_1(), "/report.txt");
    add(window.dw_1(), "/.notes.0123abcd.partial");
    copy();
    EXPECT_EQ(results(), (std::vector<std::string>{"成功", "成功"}));
    EXPECT_EQ(TempFolder::read(dst + native("/report.txt")), "new");
    EXPECT_EQ(TempFolder::read(dst + native("/.notes.0123abcd.partial")), "notes");
    EXPECT_EQ(TempFolder::read(dst + native("/.report.txt.deadbeef.partial")), "the user's");
}

TEST_F(CopyWindow, ClearedReplaceBoxKeepsTheTargetChecked) {
    folder.write("src/x.txt", "new");
    folder.write("dst/x.txt", "old");
    add(window.dw_1(), "/x.txt");
    window.cbx_2()->setChecked(false);
    copy();
    EXPECT_EQ(results(), std::vector<std::string>{"失败"});
    EXPECT_EQ(TempFolder::read(dst + native("/x.txt")), "old");
    window.cbx_2()->setChecked(true);
    copy();
    EXPECT_EQ(results(), std::vector<std::string>{"成功"});
    EXPECT_EQ(TempFolder::read(dst + native("/x.txt")), "new");
}

TEST_F(CopyWindow, FullPathsAskWhereTheSourceFolderEndsAndSetSle1) {
    const std::string first = folder.write("data/proj/a/b.txt", "b");
    add(window.dw_1(), first);
    answerDialog(static_cast<int>(depth()) + 3);
    copy();
    EXPECT_TRUE(sawDialog);
    EXPECT_EQ(seenParameter.s1, first);
    EXPECT_EQ(seenParameter.s2, dst);
    EXPECT_EQ(window.fieldText(sle_1()), folder / "data/proj");
    EXPECT_EQ(TempFolder::read(dst + native("/a/b.txt")), "b");
    EXPECT_EQ(host.messages, (Messages{{"提示", "文件复制结束"}}));
}

TEST_F(CopyWindow, CountBeyondTheSeparatorsEmptiesSle1AndCopiesNothing) {
    const std::string first = folder.write("data/b.txt", "b");
    add(window.dw_1(), first);
    answerDialog(90);
    copy();
    EXPECT_EQ(window.fieldText(sle_1()), "");
    EXPECT_EQ(host.messages, (Messages{{"提示", "截取的源文件夹为空，不能复制文件"}}));
    EXPECT_EQ(results(), std::vector<std::string>{"不同"});
}

TEST_F(CopyWindow, CutSourceFolderThatDoesNotExistIsRefused) {
    // Row 2's file exists as a full path and decides the reading; row 1's
    // folder, cut from its name, is gone.
    const std::string second = folder.write("data/b.txt", "b");
    add(window.dw_1(), folder / "vanished/a.txt");
    add(window.dw_1(), second);
    answerDialog(static_cast<int>(depth()) + 2);
    copy();
    EXPECT_EQ(window.fieldText(sle_1()), folder / "vanished");
    EXPECT_EQ(host.messages, (Messages{{"提示", "截取的源文件夹不存在，不能复制文件"}}));
}

TEST_F(CopyWindow, NamesEscapingTheTargetFailAndTheRunGoesOn) {
    folder.write("src/ok.txt", "ok");
    folder.write("secret.txt", "s");
    add(window.dw_1(), "/../secret.txt");
    add(window.dw_1(), "/ok.txt");
    copy();
    EXPECT_EQ(results(), (std::vector<std::string>{"失败", "成功"}));
    EXPECT_EQ(TempFolder::read(folder / "secret.txt"), "s");
}

// Esc while the copy runs on its worker: the copies under way end and are
// marked, no other is begun, a box says how far it came, and list 1's marks
// name exactly the files the target holds; started again, the copy goes on
// with the rest and leaves the rows it copied alone.
TEST_F(CopyWindow, EscStopsTheCopyAfterTheFilesUnderWay) {
    folder.write("selmo1.ini", "[other]\r\njobs=2\r\n");
    constexpr int kFiles = 60;
    // A folder each: a copy makes its folder as it begins, so the target
    // shows how many have begun while their names wait for a flush.
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "/d" + std::to_string(100 + i) + "/f.txt";
        folder.write("src" + name, name);
        add(window.dw_1(), name);
    }
    host::faults::setWorkDelayForTesting(20000);
    bool stoppedWhileBusy = false;
    const testing_support::OnceFolderHolds stopper(dst, 3, [&] {
        QShortcut* esc = testing_support::stopKey(window);
        stoppedWhileBusy = esc && window.busy().isBusy();
        if (esc) emit esc->activated();
    });
    copy();
    host::faults::setWorkDelayForTesting(0);
    EXPECT_TRUE(stoppedWhileBusy);
    EXPECT_FALSE(window.busy().isBusy());
    // Esc stopped the run, not the program: closing would have saved sle_1.
    QApplication::processEvents();
    EXPECT_EQ(TempFolder::read(folder / "selmo1.ini"), "[other]\r\njobs=2\r\n");
    long copied = 0;
    for (long row = 1; row <= window.dw_1().rowcount(); ++row) {
        const std::string name = window.dw_1().getitemstring(row, "md");
        const bool there = std::filesystem::exists(testing_support::fsPath(dst + name));
        EXPECT_EQ(window.dw_1().getitemstring(row, "jg"), there ? "成功" : "不同") << name;
        copied += there;
    }
    EXPECT_GE(copied, 3);
    EXPECT_LT(copied, kFiles);
    EXPECT_EQ(
        host.messages,
        (Messages{{"提示", "已停止: " + std::to_string(copied) + "/" + std::to_string(kFiles) +
                               "（再按开始复制将跳过已成功的文件）"}}));

    const std::vector<std::string> marks = results();
    const long done = std::find(marks.begin(), marks.end(), "成功") - marks.begin() + 1;
    const std::string name = window.dw_1().getitemstring(done, "md");
    const std::string copiedBytes = TempFolder::read(dst + name);
    folder.write("src" + name, "changed since");  // copied before the stop
    copy();
    EXPECT_EQ(results(), std::vector<std::string>(kFiles, "成功"));
    EXPECT_EQ(TempFolder::read(dst + name), copiedBytes);
}

TEST_F(CopyWindow, OtherScriptsAreRefusedWhileTheCopyRuns) {
    for (int i = 0; i < 20; ++i) {
        folder.write("src/f" + std::to_string(i) + ".txt", "x");
        add(window.dw_1(), "/f" + std::to_string(i) + ".txt");
    }
    // Runs when the copy first lets events through, after it counted the rows:
    // "全部移除" must not empty list 1 under it.
    // The drop-down, the radio buttons and a row clicked meanwhile are put
    // back to what is in force, so the window never shows what it does not do.
    auto* shown = window.ddlb_1();
    auto* list2 = window.rb_2();
    auto* view = &window.gridView(1);
    bool clickedWhileBusy = false;
    QTimer::singleShot(0, [&] {
        clickedWhileBusy = window.busy().isBusy();
        window.cb_2()->click();
        shown->setCurrentIndex(2);
        list2->click();
        emit view->tableView()->clicked(view->tableView()->model()->index(4, 0));
    });
    copy();
    EXPECT_TRUE(clickedWhileBusy);
    EXPECT_EQ(shown->currentIndex(), 0);
    EXPECT_TRUE(window.rb_1()->isChecked());
    EXPECT_FALSE(list2->isChecked());
    EXPECT_EQ(view->model().currentRow(), 0);
    EXPECT_EQ(window.dw_1().rowcount(), 20);
    const auto marks = results();
    EXPECT_EQ(std::count(marks.begin(), marks.end(), "成功"), 20);
}

// ---- double clicks ----------------------------------------------------------

class OpenByDoubleClick : public CopyWindow {
  protected:
    grid::GridView* view(const char* name) { return window.findChild<grid::GridView*>(name); }
};

TEST_F(OpenByDoubleClick, RowOfList1OpensUnderItsRoot) {
    folder.write("src/a/b.txt", "b");
    window.ls_path1 = src;
    add(window.dw_1(), "/a/b.txt");
    emit view("dw_1")->doubleClicked(1);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.openedFiles, std::vector<std::string>{src + native("/a/b.txt")});
}

TEST_F(OpenByDoubleClick, MissingFileOfList2NamesThePath) {
    window.ls_path2 = dst;
    add(window.dw_2(), "/gone.txt");
    emit view("dw_2")->doubleClicked(1);
    EXPECT_EQ(host.messages,
              (Messages{{"提示", "你要打开的文件" + dst + native("/gone.txt") + "不存在"}}));
}

TEST_F(OpenByDoubleClick, HeadingDoubleClickSaysTheListIsEmpty) {
    add(window.dw_1(), "/a.txt");
    emit view("dw_1")->tableView()->horizontalHeader()->sectionDoubleClicked(0);
    EXPECT_EQ(host.messages, (Messages{{"提示", "数据窗口为空的情况下，不能通过双击打开源文件"}}));
}

TEST_F(OpenByDoubleClick, DoubleClickBelowTheRowsSaysTheListIsEmpty) {
    auto* table = view("dw_2")->tableView();
    table->resize(300, 300);
    QMouseEvent press(QEvent::MouseButtonDblClick, QPointF(20, 250), QPointF(20, 250),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(table->viewport(), &press);
    EXPECT_EQ(host.messages, (Messages{{"提示", "数据窗口为空的情况下，不能通过双击打开源文件"}}));
}

TEST_F(OpenByDoubleClick, UnassociatedFileReportsTheOperationNotice) {
    folder.write("src/a.zzz", "a");
    window.ls_path1 = src;
    add(window.dw_1(), "/a.zzz");
    host.openResult = false;
    emit view("dw_1")->doubleClicked(1);
    EXPECT_EQ(host.messages,
              (Messages{{"操作提示", "程序执行非法操作!请对该文件进行正确关联。 \r\n" + src +
                                         native("/a.zzz")}}));
}

// ---- the desktop's opener, started for real --------------------------------

// The window host with its message boxes written down instead of shown.
class RecordingQtHost : public host::QtHost {
  public:
    void messageBox(const std::string& title, const std::string& text) override {
        messages.push_back({title, text});
    }
    Messages messages;
};

// Double-clicks `name` (created below `folder`) in list 1 through the window
// host's real opener and lets events through until `done` or 20 s.
void openForReal(RecordingQtHost& desktop, const TempFolder& folder, const std::string& name,
                 const std::function<bool()>& done) {
    folder.write(name.substr(1), "x");
    grid::Grid list(grid::loadGridDefinition("htmd1"));
    list.setitem(list.insertrow(0), "md", name);
    kelvane::openListedFile(desktop, list, 1, folder.path(), true);
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
}

Messages operationNotice(const std::string& path) {
    return {{"操作提示", "程序执行非法操作!请对该文件进行正确关联。 \r\n" + path}};
}

#ifdef _WIN32
// Two file types registered for the current user while a test runs:
// ".zarvik-open" opens with open_recorder.exe (beside this test), which writes
// the name it is given to `record`; ".zarvik-broken" names a program that is
// not there, so opening it fails.
class RegisteredFileTypes {
  public:
    explicit RegisteredFileTypes(const std::string& record) {
        wchar_t self[MAX_PATH];
        std::wstring dir(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
        dir.erase(dir.find_last_of(L'\\') + 1);
        const std::wstring stored = QString::fromStdString(record).toStdWString();
        const Root user{HKEY_CURRENT_USER, L"Software\\Classes\\"};
        registerIn(user, dir, stored);
        roots_.push_back(user);
        // wine does not merge the current user's classes into
        // HKEY_CLASSES_ROOT, where its shell looks: there they go in as well.
        HKEY merged = nullptr;
        if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, L".zarvik-open", 0, KEY_READ, &merged) == 0) {
            ::RegCloseKey(merged);
            return;
        }
        registerIn({HKEY_CLASSES_ROOT, L""}, dir, stored);
        roots_.push_back({HKEY_CLASSES_ROOT, L""});
    }
    ~RegisteredFileTypes() {
        for (const auto& [key, prefix] : roots_) {
            for (const wchar_t* name :
                 {L".zarvik-open", L"zarvik.open", L".zarvik-broken", L"zarvik.broken"})
                ::RegDeleteTreeW(key, (prefix + name).c_str());
        }
    }

  private:
    using Root = std::pair<HKEY, std::wstring>;
    static void registerIn(const Root& root, const std::wstring& dir, const std::wstring& record) {
        set(root, L".zarvik-open", L"zarvik.open");
        set(root, L"zarvik.open\\shell\\open\\command",
            L"\"" + dir + L"open_recorder.exe\" \"" + record + L"\" \"%1\"");
        set(root, L".zarvik-broken", L"zarvik.broken");
        set(root, L"zarvik.broken\\shell\\open\\command", L"\"" + dir + L"missing.exe\" \"%1\"");
    }
    static void set(const Root& root, const std::wstring& key, const std::wstring& value) {
        HKEY opened = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(root.first, (root.second + key).c_str(), 0, nullptr, 0,
                                    KEY_WRITE, nullptr, &opened, nullptr),
                  0);
        ::RegSetValueExW(opened, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(opened);
    }
    std::vector<Root> roots_;
};

// ShellExecuteW starts the associated program with the whole name, also one
// outside the ANSI code page; a failed start brings the one operation notice.
TEST(DesktopOpener, GetsTheWholeNameAndAFailedStartBringsTheOneOperationNotice) {
    TempFolder folder;
    const std::string record = folder / "argument";
    RegisteredFileTypes types(record);
    const std::string name = "\\报告 \xF0\x9F\x98\x80 name.zarvik-open";  // U+1F600: not in GBK
    RecordingQtHost desktop;
    openForReal(desktop, folder, name,
                [&] { return TempFolder::read(record) == folder.path() + name; });
    EXPECT_EQ(TempFolder::read(record), folder.path() + name);
    EXPECT_TRUE(desktop.messages.empty());

    const std::string broken = "\\报告.zarvik-broken";
    openForReal(desktop, folder, broken, [&] { return !desktop.messages.empty(); });
    EXPECT_EQ(desktop.messages, operationNotice(folder.path() + broken));
}
#else
TEST(DesktopOpener, GetsTheNameBytesAndItsFailureBringsTheOneOperationNotice) {
    TempFolder folder;
    // A stand-in first on PATH: it writes down its argument and fails.
    const std::string bin = folder.mkdir("bin");
    const std::string opener = folder.write(
        "bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/argument\"\nexit 1\n");
    ::chmod(opener.c_str(), 0755);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (bin + ":" + path).c_str(), 1);

    const std::string name = "/bad\xff\xfe name.txt";  // not UTF-8
    RecordingQtHost desktop;
    openForReal(desktop, folder, name, [&] { return !desktop.messages.empty(); });
    ::setenv("PATH", path.c_str(), 1);

    EXPECT_EQ(TempFolder::read(bin + "/argument"), folder.path() + name);
    EXPECT_EQ(desktop.messages, operationNotice(folder.path() + name));
    // The opener was waited for: no child is left behind as a zombie.
    int status = 0;
    EXPECT_LE(::waitpid(-1, &status, WNOHANG), 0);
}
#endif

}  // namespace
