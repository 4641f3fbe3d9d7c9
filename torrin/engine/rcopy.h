// torrin's copy run: every file of the source folders modified or created after
// the threshold is copied into the target folder, and a report is appended to
// the log. Plain C++: the window, the unattended run, the tests and the
// benchmark all drive this same code.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/exclude_patterns.h"
#include "common/ordered_work.h"
#include "host/progress.h"

namespace torrin {

// What one run works from (the window's fields and options, or the settings
// file in an unattended run).
struct RunDescription {
    std::vector<std::string> sourceFolders;  // the `ypath` rows, in grid order
    std::string target;                      // `sle_2`: the target root folder
    std::string threshold;                   // `em_1`: "yyyy-mm-dd hh:mm:ss"
    bool replace = false;                    // `sfth` == "y": overwrite same-name files
    bool fullStructure = false;              // `qmljg` == "y": keep the source's full path
    int mask = 16;                           // `lx`: 16, or 55 with hidden files
    std::string logfile;                     // full path of "log.txt"
    std::string profile;                     // full path of "confi9.ini" ("fdt" is stored there)
    int workers = common::kDefaultWorkers;   // files copied at once ("jobs"); 1: one at a time
    common::ExcludePatterns exclude;         // names below each source folder left out ("exclude")
    bool verify = false;  // each copy read back from the device and compared ("verify")
    // The journal of the run in progress and the list of failures to try
    // again (see run_records.h); empty: the run keeps neither, and stores the
    // threshold without first flushing the target to its device.
    std::string journal;
    std::string retryList;
    // The state of the last run (run_state.h): the instant of the threshold
    // it stored and the disks it used. Empty: neither is weighed.
    std::string stateFile;
    // `threshold` is the one the last run stored ("fdt"): weighed against the
    // state and the clock before it is used. A threshold the user typed is
    // taken as it is.
    bool thresholdIsStored = false;
    // A source row or the target on another disk than last time is used,
    // and its disk remembered (the user said so); else it is left out.
    bool acceptChangedDisks = false;
    // A dry run when set: nothing is copied, logged or stored and no folder is
    // made; each copy the run would make, in walk order (failures to try again
    // first), goes here with its destination's full path (numbered names
    // chosen as the run would choose them). The journal and the retry list
    // are read, never written.
    std::function<void(const std::string& source, const std::string& destination)> planned;
};

// A failure of a run, for the report that names the first ones.
struct ReportedFailure {
    std::string path;    // the source file or folder
    std::string reason;  // why, as the log gives it after the path
};

struct RunResult {
    long cgcs = 0;  // files copied
    long cccs = 0;  // files whose copy failed
    // Folders that could not be read: their files were not copied (and the
    // folders are kept for retrying).
    long foldersLeftOut = 0;
    std::string startTime;  // the text stored as "fdt" and written as the log's start line
    std::string endTime;    // the text the threshold field shows after the run
    // The run could not keep its records (the settings folder takes no
    // writes), or its target is not on the disk of last time, and copied
    // nothing; the log line that says why.
    std::string refusal;
    // The run copied, but could not store the next threshold (or stopped when
    // its journal could not be written); the next run continues it. The log
    // line that says why.
    std::string storeFailure;
    bool resumed = false;  // it continued an interrupted run
    // It was asked to stop (host::ProgressSink::stopRequested): it copied
    // what it had begun, stored no threshold and kept its journal, so the
    // next run continues it; the log says so in kStoppedLine.
    bool stopped = false;
    std::vector<ReportedFailure> failures;  // the first ones, for a short report
    std::vector<ReportedFailure> folders;   // the first folders left out, likewise
    // The first write to the log that failed, with why: then the log holds
    // less than the run did, and only standard error can say so.
    std::string logFailure;
    // The source rows left out because their disk is not the one of last
    // time, each as the log line that says so: no threshold was stored, and
    // the journal stays for the next run to continue.
    std::vector<std::string> disksChanged;
    // The stored threshold lay after now and was not trusted: the log line.
    std::string thresholdDistrusted;
};

// Runs one copy run on `run.workers` threads; what it writes to the target,
// the log and the profile is the same whatever their number. `progress` gets
// one step per qualifying file, in walk order, as the file is handed to a
// worker (the window passes its busy indication; the unattended run passes
// one that asks for a stop on SIGINT or SIGTERM). Once `progress` asks for a
// stop, no further copy is begun (see RunResult::stopped). Never throws for a file or a
// folder that fails: those are counted, logged, and the run goes on.
//
// The copies go through common::TargetCopies: a copy counts once it holds its
// source's bytes under its name on the device. With a journal
// (run_journal.h) the run is durable: each copy is recorded before it
// starts and confirmed once it is on the device, the threshold is stored
// only once every copy is, and then the journal goes. A run that finds a
// journal of the same target, sources, structure and threshold continues it:
// a confirmed copy whose source is still as it was copied, and whose
// destination has its length and modification time, counts as copied; an
// unconfirmed one whose destination holds the source's bytes does too; any
// other is copied again, to the same name where replacing is on or the name
// is free, else (the name taken meanwhile by another program) to the next
// free name. Failures, each logged with its reason, are kept in the retry
// list and tried first by the next run.
RunResult rcopy(const RunDescription& run, host::ProgressSink& progress);

// The log line of a stopped run, before its counts.
inline constexpr std::string_view kStoppedLine =
    "复制被中止，复制条件时间未更新，下次将继续本次复制。";

// How many failed sources a RunResult names.
inline constexpr std::size_t kReportedFailures = 10;

// The folders of a stored folder list, one per grid row to append: the whole
// text when it holds no ";", else each piece before a ";" (empty pieces too;
// text after the last ";" is not taken). Empty text gives none.
std::vector<std::string> tjywjj(const std::string& yfolder);

}  // namespace torrin
