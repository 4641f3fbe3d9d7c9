#include "kelvane/copy/open_listed_file.h"

#include "host/fs.h"
#include "host/paths.h"

namespace kelvane {

std::string listedFilePath(const grid::Grid& list, long row, const std::string& root) {
    const std::string name = list.getitemstring(row, "md");
    // The clicked row speaks first: when its own file exists under one reading
    // that one is right, whatever the other rows hold.
    const auto nameAt = [&](long i) {
        if (i == 1) return name;
        return list.getitemstring(i - 1 < row ? i - 1 : i, "md");
    };
    const host::NameReading reading = host::listNameReading(list.rowcount(), nameAt, root);
    return reading == host::NameReading::Relative ? root + name : name;
}

void openListedFile(host::Host& host, const grid::Grid& list, long row, const std::string& root,
                    bool list1) {
    if (row < 1 || row > list.rowcount()) {
        host.messageBox("提示", "数据窗口为空的情况下，不能通过双击打开源文件");
        return;
    }
    if (list.getitemstring(row, "md").empty()) {
        host.messageBox("提示", "文件名不能为空");
        return;
    }
    const std::string filey1 = listedFilePath(list, row, root);
    if (!host::fileExists(filey1)) {
        host.messageBox("提示", list1 ? std::string("你要打开的文件不存在")
                                      : "你要打开的文件" + filey1 + "不存在");
        return;
    }
    host.openWithAssociatedProgram(filey1, [&host, filey1] {
        host.messageBox("操作提示", "程序执行非法操作!请对该文件进行正确关联。 \r\n" + filey1);
    });
}

}  // namespace kelvane
