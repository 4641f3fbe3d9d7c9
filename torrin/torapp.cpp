#include "torrin/torapp.h"

#include "common/ordered_work.h"

#include <ostream>

#include "host/clock.h"
#include "host/fs.h"
#include "host/paths.h"
#include "host/text.h"

namespace torrin {

torapp::torapp(std::string ap_path)
    : ap_path_(ap_path.empty() ? std::string(".") : std::move(ap_path)),
      profile_(profilePath(ap_path_)),
      logfile_(logPath(ap_path_)) {}

std::string commandLineText(int argc, const char* const* argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    return text;
}

bool isUnattended(std::string_view commandLine) {
    return host::trim(commandLine) == "exit";
}

std::optional<std::string> preRunCheck(const std::string& threshold, std::size_t sourceRows,
                                       const std::string& target) {
    if (!isValidThreshold(threshold)) {
        return "文件复制条件，修改（创建）日期或时间错误，错误为：" + threshold;
    }
    if (sourceRows == 0) return std::string("源文件夹列表为空");
    if (!host::folderExists(target)) return std::string("目标文件夹不存在");
    return std::nullopt;
}

void appendLogLines(const std::string& logfile, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    host::appendToFile(logfile, host::utf8ToGbk(text));
}

void writeCheckFailure(const std::string& logfile, const std::string& reason) {
    appendLogLines(logfile, {"开始时间:" + host::nowText(), reason});
}

std::vector<std::string> foldersToWalk(const std::vector<std::string>& rows,
                                       const std::string& startFolder) {
    std::vector<std::string> folders;
    for (const std::string& row : rows) {
        if (!host::trim(row).empty()) folders.push_back(host::absoluteLexically(row, startFolder));
    }
    return folders;
}

int listMask(std::string_view bkycwj) noexcept {
    return isOn(bkycwj) ? host::kListEverything : host::kListNormal;
}

RunDescription runFrom(const RunChoices& choices, const torapp& app) {
    RunDescription run;
    run.sourceFolders = foldersToWalk(choices.sourceRows, app.ap_path());
    run.target = choices.target;
    run.threshold = choices.threshold;
    run.replace = isOn(choices.sfth);
    run.fullStructure = isOn(choices.qmljg);
    run.mask = listMask(choices.bkycwj);
    run.logfile = app.logfile();
    run.profile = app.profile();
    run.workers = common::storedWorkers(app.profile());
    return run;
}

RunDescription runFromSettings(const Settings& settings, const torapp& app) {
    return runFrom({storedSourceFolders(settings), settings.mpath, settings.fdt, settings.sfth,
                    settings.qmljg, settings.bkycwj},
                   app);
}

int runUnattended(const torapp& app, std::ostream& errors) {
    try {
        const Settings settings = loadSettings(app.profile());
        // The grid's rows count, empty ones included, as the window would show them.
        const std::size_t rows = storedSourceFolders(settings).size();
        if (auto failure = preRunCheck(settings.fdt, rows, settings.mpath)) {
            writeCheckFailure(app.logfile(), *failure);
            return kExitCheckFailed;
        }
        host::NullProgress quiet;
        const RunResult result = rcopy(runFromSettings(settings, app), quiet);
        return result.cccs > 0 ? kExitSomeFailed : kExitAllCopied;
    } catch (...) {
        const std::string report = unexpectedErrorText("torapp", "exit", std::current_exception());
        errors << report << std::flush;
        host::appendToFile(app.logfile(), host::utf8ToGbk(report));
        return kExitUnexpectedError;
    }
}

std::string errorDescription(int number) {
    switch (number) {
        case 32:
            return "调用外部对象函数时，未找到函数名";
        case 33:
            return "调用外部对象函数时，参数类型不合法";
        case 34:
            return "调用外部对象函数时，使用不正确的参数个数";
        case 35:
            return "错误调用外部对象函数";
        default:
            return "未知错误";
    }
}

std::string errorReportText(const ErrorReport& report) {
    return "错误编号：" + std::to_string(report.number) + "\r\n" + "出错对象：" + report.object +
           "\r\n" + "出错事件：" + report.event + "\r\n" + "出错行数：" +
           std::to_string(report.line) + "\r\n" + "错误信息：" + errorDescription(report.number) +
           "\r\n";
}

std::string unexpectedErrorText(const std::string& object, const std::string& event,
                                std::exception_ptr error) {
    std::string text = errorReportText({0, object, event, 0});
    try {
        if (error) std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        if (*caught.what() != '\0') text += std::string(caught.what()) + "\r\n";
    } catch (...) {
    }
    return text;
}

}  // namespace torrin
