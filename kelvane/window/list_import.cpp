#include "kelvane/window/list_import.h"

#include <QSpinBox>

#include "kelvane/import/list_rows.h"
#include "kelvane/import/spreadsheet_reader.h"
#include "kelvane/window/w_htmd.h"

namespace kelvane {

int drwj(w_htmd& window, const std::string& str_savename, grid::Grid& dw9) {
    host::Host& host = window.hostServices();
    if (!isTextListName(str_savename) && !spreadsheetReaderAvailable()) {
        host.messageBox("信息提示", "连接EXCEL失败，请检查计算机中是否安装了EXCEL!");
        return -1;
    }
    const int eh = window.em_2()->value();
    const int el = window.em_3()->value();
    std::string failure;
    window.runOnWorker([&](host::ProgressSink& progress) {
        const host::Result<long> added = importListFile(dw9, str_savename, eh, el, progress);
        if (!added)
            failure = "文件“" + added.error().path + "”导入失败：" + added.error().reasonText();
    });
    // Shown after the run, so the busy indication does not stay up behind it.
    if (!failure.empty()) {
        host.messageBox("信息提示", failure);
        return -1;
    }
    return 1;
}

}  // namespace kelvane
