// The scripts of w_copy's controls: the source-folder list, the target, the
// grid's click rules and the start of a run.
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>

#include "base/numbers_and_dates.h"
#include "base/text.h"
#include "common/failure_list.h"
#include "grid/qt/grid_view.h"
#include "grid/redraw_pause.h"
#include "host/desktop.h"
#include "host/fs.h"
#include "host/gbk_positions.h"
#include "host/ini.h"
#include "torrin/engine/run_state.h"
#include "torrin/window/w_copy.h"

namespace torrin {

namespace {
constexpr const char* kTitle = "提示";
}

void w_copy::pb_2_clicked() {
    const host::DialogResult chosen = host_.folderDialog("选择欲放置更名后的文件所在的源文件夹");
    if (chosen.code != 1) {
        host_.messageBox(kTitle, "源文件夹选择被取消");
        return;
    }
    grid_->setitem(grid_->insertrow(0), "ypath", chosen.path);
}

void w_copy::cb_6_clicked() {
    if (grid_->rowcount() == 0) {
        host_.messageBox(kTitle, "还没有源文件");
        return;
    }
    for (long row = grid_->rowcount(); row >= 1; --row) {
        if (grid_->isselected(row)) grid_->deleterow(row);
    }
}

void w_copy::cb_9_clicked() {
    const long count = grid_->rowcount();
    if (count == 0) return;
    const grid::RedrawPause redraw(*grid_);
    for (long row = 1; row <= count; ++row) grid_->selectrow(row, !grid_->isselected(row));
}

void w_copy::cb_8_clicked() {
    grid_->reset();
}

void w_copy::cb_11_clicked() {
    grid_->saveas(host_);
}

void w_copy::pb_1_clicked() {
    const host::DialogResult chosen = host_.folderDialog("选择欲放置更名后的文件所在的目标文件夹");
    if (chosen.code != 1) {
        host_.messageBox(kTitle, "目标文件夹选择被取消");
        return;
    }
    ls_path2 = chosen.path;
    setFieldText(sle_2_, ls_path2);
    // Stored at once, so the choice survives a program that ends abnormally;
    // once a scheduled run that holds the settings has ended.
    targetWaiting_ = true;
    if (!writeWaiting()) lockRetry_->start();
}

bool w_copy::writeWaiting() {
    host::ExclusiveLock lock;
    const host::Result<host::ExclusiveLock::Taking> taking = lockSettings(app_, lock, false);
    if (taking && *taking == host::ExclusiveLock::Taking::Busy) return false;
    // A folder that takes no lock file (read-only) is written as far as it
    // lets us: waiting would never end.
    if (closeWaiting_) {
        saveSettings();
    } else if (targetWaiting_) {
        // A target that cannot be stored now is stored again as the window closes.
        static_cast<void>(saveTarget(app_.profile(), ls_path2));
    }
    targetWaiting_ = false;
    return true;
}

void w_copy::retryWaiting() {
    if (!writeWaiting()) return;
    lockRetry_->stop();
    if (closeWaiting_) {
        closeWaiting_ = false;
        settingsSaved_ = true;
        close();
    }
}

bool w_copy::saveOnClose() {
    // Not tried meanwhile: the answer below decides what happens to the settings.
    lockRetry_->stop();
    closeWaiting_ = true;
    if (writeWaiting()) {
        closeWaiting_ = false;
        return true;
    }
    const int answer = host_.questionBox(kTitle,
                                         "计划的复制正在进行，设置要等它结束后才能保存。\n"
                                         "等待它结束后保存并关闭吗？（取消：不保存，直接关闭）",
                                         host::MessageIcon::Question,
                                         host::MessageButtons::OkCancel, host::kButtonOk);
    if (answer != host::kButtonOk) {
        targetWaiting_ = false;
        closeWaiting_ = false;
        return true;
    }
    lockRetry_->start();
    return false;
}

void w_copy::clickRow(long row, Qt::KeyboardModifiers modifiers) {
    const long count = grid_->rowcount();
    if (row < 1 || row > count) return;
    if (modifiers & Qt::ShiftModifier) {
        const long anchor = i_lng_lastrow;
        const grid::RedrawPause redraw(*grid_);
        if (anchor != 0) grid_->selectrow(0, false);
        // With no anchor the range starts at row 0, which stands for every row.
        const long first = std::min(anchor, row);
        const long last = std::min(std::max(anchor, row), count);
        for (long r = first; r <= last; ++r) grid_->selectrow(r, true);
    } else if (modifiers & Qt::ControlModifier) {
        i_lng_lastrow = row;
        grid_->selectrow(row, !grid_->isselected(row));
    }
    // A plain click only moves the current row, which the view has done.
}

void w_copy::clickHeader(Qt::KeyboardModifiers modifiers) {
    if (modifiers & (Qt::ShiftModifier | Qt::ControlModifier)) return;
    grid_->setsort(ib_flag ? "ypath A" : "ypath D");
    grid_->sort();
    ib_flag = !ib_flag;
}

void w_copy::cb_1_clicked() {
    const std::string shown = fieldText(em_1_);
    if (!base::isDate(host::gbkLeft(shown, 10))) {
        host_.messageBox(kTitle, "修改（或 创建）日期错误");
        return;
    }
    if (!base::isTime(host::gbkRight(shown, 8))) {
        host_.messageBox(kTitle, "修改（或 创建）日期时间错误");
        return;
    }
    const std::string target = fieldText(sle_2_);
    if (!host::folderExists(target)) {
        host_.messageBox(kTitle, "目标文件夹不存在:" + base::quotedName(target));
        return;
    }
    qmljg = optionText(rb_1_->isChecked());
    sfth = optionText(cbx_1_->isChecked());
    commitEdit();
    if (grid_->rowcount() == 0) return;
    bkycwj = optionText(cbx_4_->isChecked());
    lx = listMask(bkycwj);

    RunDescription run;
    RunResult result;
    {
        // One run at a time per settings folder, a scheduled one included.
        host::ExclusiveLock lock;
        const host::Result<host::ExclusiveLock::Taking> taking = lockSettings(app_, lock, false);
        if (!taking) {
            host_.messageBox(kTitle, "无法写入设置文件夹，本次未运行:" + taking.error().message());
            return;
        }
        if (*taking == host::ExclusiveLock::Taking::Busy) {
            host_.messageBox(kTitle, std::string(kAnotherRunLine));
            return;
        }
        // A threshold the user left as shown is the stored one, which a
        // scheduled run may have moved on since the window opened.
        std::string threshold = effectiveThreshold();
        const bool unedited = threshold == storedThreshold_;
        if (unedited) {
            threshold = loadSettings(app_.profile()).fdt;
            if (threshold != storedThreshold_) {
                storedThreshold_ = threshold;
                setFieldText(em_1_, threshold);
            }
        }
        run = runFrom({sourceRows(), target, threshold, sfth, qmljg, bkycwj, unedited}, app_);
        if (!acceptChangedDisks(run)) return;
        grid::runWithGridsLent(
            *this, busy(), [&](host::ProgressSink& progress) { result = rcopy(run, progress); });
    }
    // Stopped (Esc, or a close): the log says so; no threshold was stored and
    // the journal stays, so the next run goes on with this one.
    if (result.stopped) return;
    if (!result.refusal.empty()) {
        host_.messageBox(kTitle, result.refusal);
        return;
    }
    lastRun_ = std::move(result);
    hasRun_ = true;
    const bool stored = lastRun_.storeFailure.empty();
    shownEndStandsFor_ = stored ? lastRun_.startTime : run.threshold;
    if (stored) storedThreshold_ = lastRun_.startTime;
    setFieldText(em_1_, lastRun_.endTime);
    if (!stored) host_.messageBox(kTitle, lastRun_.storeFailure);
    if (!lastRun_.thresholdDistrusted.empty())
        host_.messageBox(kTitle, lastRun_.thresholdDistrusted);
    if (lastRun_.cccs > 0 || lastRun_.foldersLeftOut > 0) {
        const auto lines = [](const std::vector<ReportedFailure>& failures) {
            std::vector<std::string> shown;
            for (const ReportedFailure& failure : failures)
                shown.push_back(base::quotedName(failure.path) + ": " + failure.reason);
            return shown;
        };
        std::string text;
        common::appendFailureList(text, "以下" + std::to_string(lastRun_.cccs) + "个文件复制失败:",
                                  lines(lastRun_.failures), lastRun_.cccs, "，见log.txt");
        common::appendFailureList(text,
                                  "以下" + std::to_string(lastRun_.foldersLeftOut) +
                                      "个文件夹无法读取，其中的文件未复制:",
                                  lines(lastRun_.folders), lastRun_.foldersLeftOut, "，见log.txt");
        host_.messageBox(kTitle, text + "\n\n下次复制将重试这些文件。");
        // Nothing copied: no offer to look at a target that did not change.
        if (lastRun_.cgcs == 0) return;
    }

    setWindowIcon(host::BusyIndicator::alternateIcon());
    const int answer =
        host_.questionBox(kTitle, "复制结束。确定要打开目标文件夹吗？", host::MessageIcon::Question,
                          host::MessageButtons::OkCancel, host::kButtonCancel);
    if (answer == host::kButtonOk) {
        const host::ProgramStart opener = host::folderOpener(target);
        host_.startProgram(opener.program, opener.args);
    }
    setWindowIcon(host::BusyIndicator::idleIcon());
}

bool w_copy::acceptChangedDisks(RunDescription& run) {
    if (run.stateFile.empty()) return true;
    const std::vector<DiskCheck::Change> changes =
        checkDisks(readRunState(run.stateFile), run.target, run.sourceFolders).changes;
    if (changes.empty()) return true;
    std::string text = "以下文件夹所在的磁盘与上次复制时不同：";
    for (const DiskCheck::Change& change : changes) {
        text += change.isTarget ? "\n目标文件夹" : "\n源文件夹";
        text +=
            change.absent ? "（原是一个磁盘的挂载点，现在该磁盘不在）:" : "（现在是另一个磁盘）:";
        text += change.folder;
    }
    text += "\n\n若这是新换的磁盘，选择“确定”以它为准开始复制；选择“取消”则不复制。";
    if (host_.questionBox(kTitle, text, host::MessageIcon::Question, host::MessageButtons::OkCancel,
                          host::kButtonCancel) != host::kButtonOk)
        return false;
    run.acceptChangedDisks = true;
    return true;
}

}  // namespace torrin
