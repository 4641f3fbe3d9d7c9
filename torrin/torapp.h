// torrin's start-up: the working directory holding the settings and the log,
// the command-line rule for an unattended start, the checks before an
// unattended run, the run itself, and the report of an unexpected error.
// Plain C++: an unattended start never creates a window or a GUI application,
// so it runs where there is no display (cron, systemd timers).
#pragma once

#include <exception>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/durability.h"
#include "torrin/engine/rcopy.h"
#include "torrin/torrin_settings.h"

namespace torrin {

class torapp {
  public:
    // `ap_path` is the process's working directory at start-up (not the
    // program's folder); "" (a working directory that no longer exists)
    // stands for ".".
    explicit torapp(std::string ap_path);

    const std::string& ap_path() const noexcept { return ap_path_; }
    const std::string& profile() const noexcept { return profile_; }
    const std::string& logfile() const noexcept { return logfile_; }
    // Beside the settings (torrin_settings.h).
    std::string lockfile() const;
    std::string journal() const;
    std::string retryList() const;
    std::string stateFile() const;

  private:
    std::string ap_path_;
    std::string profile_;
    std::string logfile_;
};

// The whole argument text: the arguments after the program name joined by
// single blanks (so "exit now" stays two words).
std::string commandLineText(int argc, const char* const* argv);
// `arun`: the argument text, trimmed, is exactly "exit" (case-sensitive).
bool isUnattended(std::string_view commandLine);

// What the command line asks for. Arguments that start with "--" are options;
// any other text opens the window unless it is "exit".
enum class Command { Window, Unattended, DryRun, Help, Version, BadOption };
struct CommandLine {
    Command command = Command::Window;
    std::string badOption;  // the option not understood
};
CommandLine readCommandLine(int argc, const char* const* argv);
// What --help prints.
std::string commandLineHelp();

// Exit statuses of `torrin exit`, for schedulers.
inline constexpr int kExitAllCopied = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitCheckFailed = 2;
inline constexpr int kExitUnexpectedError = 3;
// The run ran, but log.txt could not be written (standard error says why).
inline constexpr int kExitLogUnwritable = 3;
// A run stopped by a signal leaves with host::kExitInterrupted (SIGINT) or
// host::kExitTerminated (SIGTERM).

// The checks before an unattended run, in their order: the threshold, the
// source folders, the target folder. The second log line of the first that
// fails; nullopt when all pass.
std::optional<std::string> preRunCheck(const std::string& threshold, std::size_t sourceRows,
                                       const std::string& target);
// Appends lines (UTF-8, without line ends) to the log as GBK, each ended by
// CR LF. A log that cannot be written is not an error: the run goes on.
void appendLogLines(const std::string& logfile, const std::vector<std::string>& lines);
// The two-line entry of an unattended start that cannot run.
void writeCheckFailure(const std::string& logfile, const std::string& reason);

// What a run is made from, as the settings file or the window's controls hold
// it: the source rows, the target, the threshold and the "y"/"n" switches.
struct RunChoices {
    std::vector<std::string> sourceRows;
    std::string target;
    std::string threshold;
    std::string sfth;    // replace existing files
    std::string qmljg;   // full folder structure
    std::string bkycwj;  // hidden files included
    // `threshold` is the stored one, not one the user typed (rcopy.h).
    bool thresholdIsStored = false;
};
// The one builder of a run, for the unattended start and the window alike.
// Empty or blank source rows are left out: an empty folder text would walk
// the file system's root.
RunDescription runFrom(const RunChoices& choices, const torapp& app);
// The run the stored settings describe.
RunDescription runFromSettings(const Settings& settings, const torapp& app);
// The listing mask `lx` that bkycwj chooses: hidden files included or not.
int listMask(std::string_view bkycwj) noexcept;
// The run-time folders of the grid rows: empty or blank rows left out (as
// above), a relative row made absolute against `startFolder` by its text alone,
// so that the full-structure destination is built from where the folder
// really is rather than from the text as written.
std::vector<std::string> foldersToWalk(const std::vector<std::string>& rows,
                                       const std::string& startFolder);

// The log line of a run refused because another one uses the settings.
inline constexpr std::string_view kAnotherRunLine = "另一次复制正在进行，本次未运行";
// The log line, before the path it had come to, of an unattended run that
// showed no progress for its bound (RunWatch) and was ended.
inline constexpr std::string_view kUnansweredLine =
    "源文件夹无响应，本次复制中止，下次将继续本次复制:";

// The lock of the settings folder: a run holds it from before it reads the
// settings to after it has stored its threshold, and the window holds it
// while it writes the settings, so two runs never share a journal or a
// target and the window never writes back a threshold a run has moved on.
// Taken: it is held. Busy: another run has it. A Failure: the folder takes
// no lock file.
host::Result<host::ExclusiveLock::Taking> lockSettings(const torapp& app, host::ExclusiveLock& lock,
                                                       bool wait);

// The unattended start: lock the settings, load them, check, run, and return
// the exit status. Shows nothing and processes no events. The settings are
// not saved afterwards: the run has stored its start time as "fdt", the safe
// threshold for the next run, and every other key stays as the user left it.
// A run that shows no progress for kUnansweredAfter (a source that does not
// answer), or for kStopGrace once a stop signal has asked it to stop, ends
// the process at once with kExitCheckFailed (or the signal's status) after
// its log line: as safe as a kill, which the journal makes the next run
// continue, and the end of the process lets go of the lock.
// When the run has failures or does not run, a short report (UTF-8) goes to
// `errors`: the count, the first failed names and the log's path; nothing on a
// clean run. Unexpected errors are written to `errors` and to the log.
int runUnattended(const torapp& app, std::ostream& errors);

// `torrin --dry-run`: what `torrin exit` would copy now, with the names it
// would give, one "source<TAB>destination" line each (UTF-8, names escaped
// as in the failure report), then the count. Copies nothing, writes no log,
// takes no lock and touches neither the threshold, the journal nor the retry
// list. 0, or kExitCheckFailed (the reason on `errors`) when the run's checks
// would fail.
int runDryRun(const torapp& app, std::ostream& out, std::ostream& errors);

// The error report: "错误编号：", "出错对象：", "出错事件：", "出错行数：" and
// "错误信息：" lines, each ended by CR LF.
struct ErrorReport {
    int number = 0;
    std::string object;
    std::string event;
    int line = 0;
};
std::string errorDescription(int number);
std::string errorReportText(const ErrorReport& report);
// The report of an exception that reached a top-level handler: the layout
// above (error number 0, line 0), then the exception's own text on a further
// line so the user learns what failed.
std::string unexpectedErrorText(const std::string& object, const std::string& event,
                                std::exception_ptr error);

}  // namespace torrin
