#include "kelvane/window/list_import.h"

#include <QSpinBox>
#include <utility>

#include "kelvane/import/list_rows.h"
#include "kelvane/import/spreadsheet_reader.h"
#include "kelvane/window/w_htmd.h"

namespace kelvane {

ListFileImport::ListFileImport(w_htmd& window, std::string path, grid::Grid& grid)
    : window_(window), path_(std::move(path)), grid_(grid) {
    if (!isTextListName(path_) && !spreadsheetReaderAvailable()) {
        refusal_ = "连接EXCEL失败，请检查计算机中是否安装了EXCEL!";
        return;
    }
    firstRow_ = window.em_2()->value();
    column_ = window.em_3()->value();
}

void ListFileImport::run(host::ProgressSink& progress) {
    if (refused()) return;
    const host::Result<long> added = importListFile(grid_, path_, firstRow_, column_, progress);
    if (!added)
        failure_ = "文件“" + added.error().path + "”导入失败：" + added.error().reasonText();
}

int ListFileImport::report() {
    const std::string& said = refused() ? refusal_ : failure_;
    if (said.empty()) return 1;
    window_.hostServices().messageBox("信息提示", said);
    return -1;
}

int drwj(w_htmd& window, const std::string& str_savename, grid::Grid& dw9) {
    ListFileImport import(window, str_savename, dw9);
    if (!import.refused())
        window.runOnWorker([&](host::ProgressSink& progress) { import.run(progress); });
    // Shown after the run, so the busy indication does not stay up behind it.
    return import.report();
}

}  // namespace kelvane
