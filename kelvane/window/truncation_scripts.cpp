// cb_11 "名单截取": cuts the leading part off every name of the chosen list.
#include <QPushButton>
#include <QSpinBox>

#include "base/numbers_and_dates.h"
#include "host/qt/qt_text.h"
#include "kelvane/import/jqwz.h"
#include "kelvane/window/scripts.h"
#include "kelvane/window/w_htmd.h"

namespace kelvane {

namespace {

// em_4 opens at 1, the position that keeps names whole: a click on cb_11
// without choosing a position then changes nothing.
constexpr int kFirstCutPosition = 1;

void cb_11_clicked(w_htmd& window) {
    // An emptied field reads as 0, which keeps the names whole, as 1 does.
    const long start = static_cast<long>(base::toInteger(host::fromQString(window.em_4()->text())));
    const bool list1 = window.list1Chosen();
    grid::Grid& grid = list1 ? window.dw_1() : window.dw_2();
    if (grid.rowcount() < 1) {
        window.hostServices().messageBox("信息提示", list1 ? "数据窗口1无数据，不能进行截取操作!"
                                                           : "数据窗口2无数据，不能进行截取操作!");
        return;
    }
    window.runOnWorker([&](host::ProgressSink& progress) { cutNames(grid, start, progress); });
    window.hostServices().messageBox("信息提示", "截取完成!");
}

}  // namespace

void connectTruncationScripts(w_htmd& window) {
    window.em_4()->setValue(kFirstCutPosition);
    QObject::connect(window.cb_11(), &QPushButton::clicked, &window,
                     [&window] { window.runScript([&] { cb_11_clicked(window); }); });
}

}  // namespace kelvane
