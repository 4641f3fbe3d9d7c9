#include "kelvane/window/walk_scripts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <utility>

#include "base/numbers_and_dates.h"
#include "base/text.h"
#include "host/fs.h"
#include "host/gbk_positions.h"
#include "host/paths.h"
#include "host/qt/busy.h"
#include "host/qt/qt_text.h"
#include "kelvane/check/check_engine.h"
#include "kelvane/inventory/folder_walk.h"
#include "kelvane/window/w_htmd.h"

namespace kelvane {

namespace {

constexpr const char* kTitle = "提示";

std::string firstCharacter(const QComboBox* list) {
    return host::gbkLeft(host::fromQString(list->currentText()), 1);
}

// A walk with the patterns of the settings file's "exclude" key, read (never
// written) for each walk.
ListWalk walkWith(w_htmd& window, const std::string& topFolder, const std::string& root,
                  grid::Grid& grid, WalkOptions options) {
    options.exclude = common::ExcludePatterns(common::storedPatterns(window.profile()));
    return ListWalk{grid, topFolder, root, std::move(options)};
}

void walkInto(w_htmd& window, const ListWalk& walk) {
    window.runOnWorker([&](host::ProgressSink& progress) { walk.run(progress); });
}

// Asks for a folder with the dialog titled "浏览"; false when the user cancelled.
bool chooseFolder(w_htmd& window, std::string& chosen) {
    const host::DialogResult result = window.hostServices().folderDialog("浏览");
    if (result.code != 1) return false;
    chosen = result.path;
    return true;
}

void chooseFolderField(w_htmd& window, bool list1) {
    std::string chosen;
    if (!chooseFolder(window, chosen)) {
        window.hostServices().messageBox(kTitle, "文件夹选择被取消");
        return;
    }
    (list1 ? window.ls_path1 : window.ls_path2) = chosen;
    window.setFieldText((list1 ? window.sle_1() : window.sle_2()), chosen);
}

}  // namespace

void ue_dir(w_htmd& window, const std::string& as_topdir, grid::Grid& dw) {
    WalkOptions options;
    options.mask = window.lx;
    options.condition = window.szf;
    options.conditionTime = window.fieldText(window.em_1());
    options.lengthUnit = window.ctdwszf;
    const std::string root = window.list1Chosen() ? window.ls_path1 : window.ls_path2;
    walkInto(window, walkWith(window, as_topdir, root, dw, std::move(options)));
}

ListWalk walkOfList1(w_htmd& window, const std::string& as_topdir) {
    WalkOptions options;
    options.mask = window.lx;
    // A target folder inside the source is left out of list 1: what the last
    // copy put there is no part of the source.
    const std::string target = window.fieldText(window.sle_2());
    if (!namesListFile(target) && !base::trim(target).empty())
        options.leaveOut = host::pathInside(as_topdir, target).value_or("");
    return walkWith(window, as_topdir, window.ls_path1, window.dw_1(), std::move(options));
}

ListWalk walkOfList2(w_htmd& window, const std::string& as_topdir) {
    WalkOptions options;
    options.mask = window.lx;
    return walkWith(window, as_topdir, window.ls_path2, window.dw_2(), std::move(options));
}

void ue_dir1(w_htmd& window, const std::string& as_topdir) {
    walkInto(window, walkOfList1(window, as_topdir));
}

void ue_dir2(w_htmd& window, const std::string& as_topdir) {
    walkInto(window, walkOfList2(window, as_topdir));
}

void drwjj1(w_htmd& window, const std::string& as_topdir) {
    ue_dir1(window, as_topdir);
}

void drwjj2(w_htmd& window, const std::string& as_topdir) {
    ue_dir2(window, as_topdir);
}

void cb_3_clicked(w_htmd& window) {
    host::Host& host = window.hostServices();
    const bool list1 = window.list1Chosen();
    grid::Grid& grid = list1 ? window.dw_1() : window.dw_2();
    std::string chosen;
    const bool wasChosen = chooseFolder(window, chosen);
    // Emptying comes before the dialog's answer is looked at: with "不累加导入"
    // even a cancelled choice leaves the list empty.
    if (window.cbx_4()->isChecked()) grid.reset();
    if (!wasChosen) {
        host.messageBox(kTitle, "文件夹选择被取消");
        return;
    }
    chosen = host::heldRoot(chosen);

    window.szf = browseCondition(firstCharacter(window.ddlb_3()));
    window.ctdwszf = firstCharacter(window.ddlb_4());
    if (window.szf != BrowseCondition::None) {
        const std::string time = window.fieldText(window.em_1());
        if (!base::isDate(host::gbkLeft(time, 10))) {
            host.messageBox(kTitle, "修改日期错误");
            return;
        }
        if (!base::isTime(host::gbkRight(time, 8))) {
            host.messageBox(kTitle, "修改日期时间错误");
            return;
        }
    }
    window.lx = window.cbx_3()->isChecked() ? host::kListEverything : host::kListNormal;

    // The root is taken only now, together with the field that shows it, so a
    // refused browse never leaves the list's root naming a folder nobody sees.
    std::string& root = list1 ? window.ls_path1 : window.ls_path2;
    root = chosen;
    window.setFieldText((list1 ? window.sle_1() : window.sle_2()), root);
    // The walk holds the grid's repainting until it ends, also on an exception.
    ue_dir(window, root, grid);
    host.messageBox(kTitle, "完成");
}

void cb_12_clicked(w_htmd& window) {
    chooseFolderField(window, true);
}

void cb_13_clicked(w_htmd& window) {
    chooseFolderField(window, false);
}

}  // namespace kelvane
