// cb_1 "导入文件", cb_14/cb_15 "添加文件" and cb_10 "粘贴导入".
#include <QLineEdit>
#include <QPushButton>

#include "kelvane/import/list_rows.h"
#include "kelvane/window/list_import.h"
#include "kelvane/window/scripts.h"
#include "kelvane/window/w_htmd.h"

namespace kelvane {

namespace {

// "*.csv" comes last, beside the three list formats the button always offered.
const char* const kListFileFilters =
    "Excel文件(*.xls),*.xls,Excel文件(*.xlsx),*.xlsx,文本文件 (*.TXT),*.TXT,"
    "CSV文件(*.csv),*.csv,";

// The chosen list file, or "" after the dialog was cancelled or gave no name
// (the user has been told).
std::string chooseListFile(w_htmd& window) {
    host::Host& host = window.hostServices();
    const host::DialogResult chosen = host.fileOpenDialog("打开文件", "xls", kListFileFilters);
    if (chosen.code != 1) {
        host.messageBox("提示", "文件选择失败!");
        return "";
    }
    if (chosen.path.empty()) host.messageBox("提示", "文件名不能为空!");
    return chosen.path;
}

void cb_1_clicked(w_htmd& window) {
    const std::string path = chooseListFile(window);
    if (path.empty()) return;
    // A failed import has told the user why; "finished" would contradict it.
    if (drwj(window, path, window.chosenGrid()) == 1)
        window.hostServices().messageBox("信息提示", "导入完成!");
}

void addListFile(w_htmd& window, QLineEdit* field) {
    const std::string path = chooseListFile(window);
    if (path.empty()) return;
    window.setFieldText(field, path);
}

void cb_10_clicked(w_htmd& window) {
    host::Host& host = window.hostServices();
    const std::string text = host.clipboardText();
    if (text.empty()) {
        host.messageBox("提示", "剪贴板中没有内容或不能粘贴");
        return;
    }
    grid::Grid& grid = window.chosenGrid();
    window.runOnWorker([&](host::ProgressSink& progress) {
        grid.importtext(text);
        // Pasted names stay as they are, blanks included.
        renumberShownRows(grid, false, progress);
    });
    host.messageBox("信息提示", "导入完成!");
}

void connectButton(w_htmd& window, QPushButton* button, void (*script)(w_htmd&)) {
    QObject::connect(button, &QPushButton::clicked, &window, [&window, script] {
        window.runScript([&window, script] { script(window); });
    });
}

}  // namespace

void connectImportScripts(w_htmd& window) {
    connectButton(window, window.cb_1(), cb_1_clicked);
    connectButton(window, window.cb_14(), [](w_htmd& w) { addListFile(w, w.sle_1()); });
    connectButton(window, window.cb_15(), [](w_htmd& w) { addListFile(w, w.sle_2()); });
    connectButton(window, window.cb_10(), cb_10_clicked);
}

}  // namespace kelvane
