#include "torrin/torapp.h"

#include "common/ordered_work.h"
#include "common/stored_keys.h"

#include <cstdlib>
#include <ostream>

#include "base/text.h"
#include "host/clock.h"
#include "host/encoding.h"
#include "host/fault_injection.h"
#include "host/fs.h"
#include "host/paths.h"
#include "host/stop_signals.h"
#include "torrin/run_watch.h"

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

std::string torapp::lockfile() const {
    return host::joinPath(ap_path_, kLockFileName);
}

std::string torapp::journal() const {
    return host::joinPath(ap_path_, kJournalFileName);
}

std::string torapp::retryList() const {
    return host::joinPath(ap_path_, kRetryFileName);
}

std::string torapp::stateFile() const {
    return host::joinPath(ap_path_, kStateFileName);
}

bool isUnattended(std::string_view commandLine) {
    return base::trim(commandLine) == "exit";
}

CommandLine readCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    // "-h" is what people type first to learn the options.
    if (argc == 2 && std::string_view(argv[1]) == "-h") {
        line.command = Command::Help;
        return line;
    }
    if (argc < 2 || !std::string_view(argv[1]).starts_with("--")) {
        line.command =
            isUnattended(commandLineText(argc, argv)) ? Command::Unattended : Command::Window;
        return line;
    }
    line.command = Command::Help;
    bool version = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--version") {
            version = true;
        } else if (argument == "--dry-run" && argc == 2) {
            line.command = Command::DryRun;
            return line;
        } else if (argument != "--help") {
            line.command = Command::BadOption;
            line.badOption = argument;
            return line;
        }
    }
    if (version) line.command = Command::Version;
    return line;
}

std::string commandLineHelp() {
    return R"(Usage:
  torrin                  open the window
  torrin exit             run unattended (from cron, a systemd timer or Task Scheduler)
  torrin --dry-run        print what "torrin exit" would copy now, and where, without
                          copying, logging, locking or storing anything
  torrin --help           show this text
  torrin -h               the same
  torrin --version        show the version

torrin copies every file modified or created after the threshold from the
source folders, with all their sub-folders, into the target folder, appends
a report to log.txt and stores the run's start time as the next threshold.
Everything it reads and writes lies in the folder it is started in:
  confi9.ini      the settings (GBK; UTF-8 with a byte-order mark);
                  "exit" reads mpath (the target), fdt (the threshold),
                  ypath1..3 (the source folders), sfth (y: replace files of
                  the same name), qmljg (y: the full folder structure), bkycwj
                  (y: hidden files too), jobs (files copied at once, 1 to 64,
                  default 4), verify (y: each copy read back from the disk and
                  compared) and exclude (names left out, patterns separated by
                  ";", as in "*.tmp; node_modules/")
  log.txt         the run log (GBK, names outside GBK in GB18030)
  confi9.lock     held while a run works: one run at a time per folder
  confi9.journal  the run in progress; a killed run is continued by the next
  confi9.retry    the failed copies, tried again by the next run
  confi9.state    the last threshold's instant and the disks the run used

Exit status of "torrin exit":
  0  every qualifying file was copied (also when none qualified)
  1  at least one copy failed, or a folder could not be read; the log lists
     them; or the stored threshold lay after now and was not trusted
  2  the run did not run or could not finish its records: a check failed
     (threshold, source folders, target folder, a folder not on the disk of
     last time), another run holds this folder, or the folder takes no
     writes (lock, journal, threshold).
     Also a run that showed no progress for 120 seconds (a source that no
     longer answers, such as a share whose server died): it is ended at
     once, the log names the file or folder it had come to, no threshold is
     stored, and the next run continues the copy
  3  an unexpected error, or log.txt could not be written (the run ran;
     standard error says what the log lacks)
  130  stopped by SIGINT (Ctrl+C): the copies under way end, no threshold is
       stored, and the next run continues the copy (130 and 143 win over 1;
       2 wins over them); copies under way that show no progress for 10
       seconds are not waited for, and a second signal ends torrin at once
  143  stopped by SIGTERM, as by SIGINT
On 1, 2, 3, 130 and 143 a short report goes to standard error; a clean run
prints nothing.
)";
}

std::optional<std::string> preRunCheck(const std::string& threshold, std::size_t sourceRows,
                                       const std::string& target) {
    if (!isValidThreshold(threshold)) {
        return "文件复制条件，修改（创建）日期或时间错误，错误为：" + threshold;
    }
    if (sourceRows == 0) return std::string("源文件夹列表为空");
    if (!host::folderExists(target)) return "目标文件夹不存在:" + base::quotedName(target);
    return std::nullopt;
}

void appendLogLines(const std::string& logfile, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    // A log that cannot be written stops nothing, and has nowhere to say so.
    static_cast<void>(host::appendToFile(logfile, host::utf8ToGbk(text)));
}

void writeCheckFailure(const std::string& logfile, const std::string& reason) {
    appendLogLines(logfile, {"开始时间:" + host::nowText(), reason});
}

std::vector<std::string> foldersToWalk(const std::vector<std::string>& rows,
                                       const std::string& startFolder) {
    std::vector<std::string> folders;
    for (const std::string& row : rows) {
        if (!base::trim(row).empty()) folders.push_back(host::absoluteLexically(row, startFolder));
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
    run.exclude = common::ExcludePatterns(common::storedPatterns(app.profile()));
    run.verify = common::storedVerify(app.profile());
    if (!host::faults::journalSwitchedOff()) {
        run.journal = app.journal();
        run.retryList = app.retryList();
        run.stateFile = app.stateFile();
    }
    run.thresholdIsStored = choices.thresholdIsStored;
    return run;
}

RunDescription runFromSettings(const Settings& settings, const torapp& app) {
    return runFrom({storedSourceFolders(settings), settings.mpath, settings.fdt, settings.sfth,
                    settings.qmljg, settings.bkycwj, true},
                   app);
}

host::Result<host::ExclusiveLock::Taking> lockSettings(const torapp& app, host::ExclusiveLock& lock,
                                                       bool wait) {
    return wait ? lock.take(app.lockfile()) : lock.tryTake(app.lockfile());
}

namespace {

// The report of a run that has failures or did not run, for cron (which
// mails what a job prints) and for systemd's journal.
void reportRun(std::ostream& errors, const torapp& app, const RunResult& result) {
    if (!result.refusal.empty()) {
        errors << "torrin: nothing was copied: " << result.refusal << "\n";
    } else {
        // The first ones with their reasons, the rest counted.
        const auto list = [&](const std::vector<ReportedFailure>& shown, long count) {
            for (const ReportedFailure& failure : shown)
                errors << "  " << base::quotedName(failure.path) << ": " << failure.reason << "\n";
            if (count > static_cast<long>(shown.size()))
                errors << "  and " << count - static_cast<long>(shown.size()) << " more\n";
        };
        if (result.cccs > 0) {
            errors << "torrin: " << result.cccs << " of " << result.cccs + result.cgcs
                   << " copies failed:\n";
            list(result.failures, result.cccs);
        }
        if (result.foldersLeftOut > 0) {
            errors << "torrin: " << result.foldersLeftOut
                   << (result.foldersLeftOut == 1 ? " folder" : " folders")
                   << " could not be read; the files in them were not copied:\n";
            list(result.folders, result.foldersLeftOut);
        }
        if (!result.storeFailure.empty()) errors << "torrin: " << result.storeFailure << "\n";
        for (const std::string& line : result.disksChanged) errors << "torrin: " << line << "\n";
        if (!result.thresholdDistrusted.empty())
            errors << "torrin: " << result.thresholdDistrusted << "\n";
        if (result.stopped)
            errors << "torrin: stopped by " << host::stopSignalName(host::stopSignalStatus())
                   << " after " << result.cgcs << " copies; the next run continues the copy\n";
    }
    if (result.logFailure.empty())
        errors << "torrin: the log is " << base::quotedName(app.logfile()) << "\n";
    else
        errors << "torrin: the log could not be written, so it lacks this run: "
               << result.logFailure << "\n";
    errors << std::flush;
}

// The end of a run the watch found stuck, at once: waiting for its copies
// would never end.
[[noreturn]] void endStuckRun(const torapp& app, std::ostream& errors, const std::string& at,
                              bool stopAsked) {
    const std::string line = std::string(kUnansweredLine) + at;
    std::vector<std::string> lines;
    if (stopAsked) lines.emplace_back(kStoppedLine);
    lines.push_back(line);
    appendLogLines(app.logfile(), lines);
    const int status = stopAsked ? host::stopSignalStatus() : kExitCheckFailed;
    if (stopAsked)
        errors << "torrin: stopped by " << host::stopSignalName(status)
               << "; the copies under way did not end\n";
    errors << "torrin: " << kUnansweredLine << base::quotedName(at) << "\n"
           << "torrin: the log is " << base::quotedName(app.logfile()) << "\n"
           << std::flush;
    std::_Exit(status);
}

// A start that cannot run: the two-line log entry and the report.
int refuseStart(const torapp& app, std::ostream& errors, const std::string& reason) {
    writeCheckFailure(app.logfile(), reason);
    errors << "torrin: the run did not start: " << reason << "\n"
           << "torrin: the log is " << base::quotedName(app.logfile()) << "\n"
           << std::flush;
    return kExitCheckFailed;
}

}  // namespace

// A start in a folder without settings (a cron line that starts elsewhere):
// said in one line, and no file is made there.
bool settingsMissing(const torapp& app, std::ostream& errors) {
    if (host::fileExists(app.profile())) return false;
    errors << "torrin: the run did not start: there is no " << kSettingsFileName << " in "
           << base::quotedName(app.ap_path()) << " (start torrin in the folder of its settings)\n"
           << std::flush;
    return true;
}

int runDryRun(const torapp& app, std::ostream& out, std::ostream& errors) {
    if (settingsMissing(app, errors)) return kExitCheckFailed;
    const Settings settings = loadSettings(app.profile());
    if (auto failure =
            preRunCheck(settings.fdt, storedSourceFolders(settings).size(), settings.mpath)) {
        errors << "torrin: the run would not start: " << *failure << "\n";
        return kExitCheckFailed;
    }
    RunDescription run = runFromSettings(settings, app);
    run.planned = [&out](const std::string& source, const std::string& destination) {
        out << base::quotedName(source) << '\t' << base::quotedName(destination) << '\n';
    };
    host::NullProgress quiet;
    const RunResult result = rcopy(run, quiet);
    if (!result.refusal.empty()) {
        errors << "torrin: the run would not start: " << result.refusal << "\n";
        return kExitCheckFailed;
    }
    if (!result.thresholdDistrusted.empty())
        errors << "torrin: " << result.thresholdDistrusted << "\n";
    for (const std::string& line : result.disksChanged) errors << "torrin: " << line << "\n";
    out << result.cgcs << (result.cgcs == 1 ? " file" : " files") << " would be copied\n";
    for (const ReportedFailure& failure : result.failures)
        errors << "torrin: would fail: " << base::quotedName(failure.path) << ": " << failure.reason
               << "\n";
    out.flush();
    return out && result.disksChanged.empty() ? kExitAllCopied : kExitCheckFailed;
}

int runUnattended(const torapp& app, std::ostream& errors) {
    try {
        if (settingsMissing(app, errors)) return kExitCheckFailed;
        host::ExclusiveLock lock;
        const host::Result<host::ExclusiveLock::Taking> taking = lockSettings(app, lock, false);
        if (!taking)
            return refuseStart(app, errors,
                               "无法写入设置文件夹，本次未运行:" + taking.error().message());
        if (*taking == host::ExclusiveLock::Taking::Busy)
            return refuseStart(app, errors, std::string(kAnotherRunLine));
        const Settings settings = loadSettings(app.profile());
        // The grid's rows count, empty ones included, as the window would show them.
        const std::size_t rows = storedSourceFolders(settings).size();
        if (auto failure = preRunCheck(settings.fdt, rows, settings.mpath))
            return refuseStart(app, errors, *failure);
        host::NullProgress none;
        host::StopOnSignals quiet(none);
        RunWatch watch(quiet, RunWatch::bounds(), [&](const std::string& at, bool stopAsked) {
            endStuckRun(app, errors, at, stopAsked);
        });
        const RunResult result = rcopy(runFromSettings(settings, app), watch);
        const int status =
            !result.refusal.empty() || !result.storeFailure.empty() || !result.disksChanged.empty()
                ? kExitCheckFailed
            : result.stopped             ? host::stopSignalStatus()
            : !result.logFailure.empty() ? kExitLogUnwritable
            : result.cccs > 0 || result.foldersLeftOut > 0 || !result.thresholdDistrusted.empty()
                ? kExitSomeFailed
                : kExitAllCopied;
        if (status != kExitAllCopied) reportRun(errors, app, result);
        return status;
    } catch (...) {
        const std::string report = unexpectedErrorText("torapp", "exit", std::current_exception());
        errors << report << std::flush;
        static_cast<void>(host::appendToFile(app.logfile(), host::utf8ToGbk(report)));
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
