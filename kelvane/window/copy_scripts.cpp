// The window's copy scripts: cb_17 "开始复制" copies what list 1 shows into
// the target folder; a double click on list 1 or list 2 opens the named file.
#include <QCheckBox>
#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>

#include "base/numbers_and_dates.h"
#include "common/ordered_work.h"
#include "common/stored_keys.h"
#include "grid/qt/grid_view.h"
#include "host/fs.h"
#include "host/gbk_positions.h"
#include "host/paths.h"
#include "host/qt/busy.h"
#include "kelvane/copy/copy_engine.h"
#include "kelvane/copy/open_listed_file.h"
#include "kelvane/import/jqwz.h"
#include "kelvane/window/scripts.h"
#include "kelvane/window/w_htmd.h"
#include "kelvane/window/w_put.h"

namespace kelvane {

namespace {

constexpr const char* kTitle = "提示";

void cb_17_clicked(w_htmd& window) {
    host::Host& host = window.hostServices();
    grid::Grid& dw_1 = window.dw_1();
    const long n = dw_1.rowcount();
    if (n == 0) {
        host.messageBox(kTitle, "数字窗口1为空,表示没有要复制的文件");
        return;
    }
    auto* sle_1 = window.sle_1();
    const std::string target = window.fieldText(window.sle_2());
    if (!host::folderExists(target)) {
        host.messageBox(kTitle, "目标文件夹不存在，不能复制文件");
        return;
    }
    const std::string name1 = dw_1.getitemstring(1, "md");
    CopyPlan plan;
    plan.targetFolder = target;
    plan.replace = window.cbx_2()->isChecked();
    plan.verify = common::storedVerify(window.profile());
    plan.reading = host::listNameReading(
        n, [&](long row) { return dw_1.getitemstring(row, "md"); }, window.fieldText(sle_1));
    if (plan.reading == host::NameReading::Unfit) {
        host.messageBox(kTitle, "数据窗口1中数据不符合复制条件");
        return;
    }
    if (plan.reading == host::NameReading::Full) {
        const std::string text = w_put::openModal(host, {name1, target}, &window);
        plan.cut = jqwz(name1, static_cast<long>(base::toInteger(text)));
        window.setFieldText(sle_1, plan.cut > 0 ? host::gbkLeft(name1, plan.cut - 1) : "");
        const std::string source = window.fieldText(sle_1);
        if (source.empty()) {
            host.messageBox(kTitle, "截取的源文件夹为空，不能复制文件");
            return;
        }
        if (!host::folderExists(source)) {
            host.messageBox(kTitle, "截取的源文件夹不存在，不能复制文件");
            return;
        }
    }
    plan.sourceFolder = window.fieldText(sle_1);

    // Busy: every other script is refused until the run ends, so list 1
    // keeps the rows counted above.
    const int workers = common::storedWorkers(window.profile());
    plan.skipCopied = std::exchange(window.copyStopped, false);
    CopySummary summary;
    try {
        window.runOnWorker([&](host::ProgressSink& progress) {
            summary = copyShownRows(dw_1, plan, progress, {}, workers);
        });
    } catch (const host::RunStopped&) {
        window.copyStopped = true;
        // Unless the window is closing, which says nothing.
        if (!window.busy().closing())
            host.messageBox(kTitle, "已停止: " + std::to_string(summary.copied + summary.failed) +
                                        "/" + std::to_string(n) +
                                        "（再按开始复制将跳过已成功的文件）");
        throw;
    }
    host.messageBox(kTitle, "文件复制结束");
}

// A double click where no row is (below the last row, or on the heading)
// reaches the list as row 0.
class EmptyPlaceDoubleClicks : public QObject {
  public:
    EmptyPlaceDoubleClicks(QTableView* table, std::function<void()> handler)
        : QObject(table), table_(table), handler_(std::move(handler)) {
        table->viewport()->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonDblClick && watched == table_->viewport()) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (!table_->indexAt(mouse->position().toPoint()).isValid()) handler_();
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    QTableView* table_;
    std::function<void()> handler_;
};

void connectList(w_htmd& window, grid::GridView* view, bool list1) {
    auto open = [&window, list1](long row) {
        window.runScript([&window, list1, row] {
            openListedFile(window.hostServices(), list1 ? window.dw_1() : window.dw_2(), row,
                           list1 ? window.ls_path1 : window.ls_path2, list1);
        });
    };
    QObject::connect(view, &grid::GridView::doubleClicked, &window, open);
    QObject::connect(view->tableView()->horizontalHeader(), &QHeaderView::sectionDoubleClicked,
                     &window, [open] { open(0); });
    new EmptyPlaceDoubleClicks(view->tableView(), [open] { open(0); });
}

}  // namespace

void connectCopyScripts(w_htmd& window) {
    QObject::connect(window.cb_17(), &QPushButton::clicked, &window,
                     [&window] { window.runScript([&window] { cb_17_clicked(window); }); });
    connectList(window, &window.gridView(1), true);
    connectList(window, &window.gridView(2), false);
}

}  // namespace kelvane
