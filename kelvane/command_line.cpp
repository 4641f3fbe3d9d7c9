#include "kelvane/command_line.h"

#include "common/ordered_work.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <optional>
#include <ostream>
#include <sstream>
#include <string_view>
#include <thread>

#include "base/text.h"
#include "grid/grid.h"
#include "host/fs.h"
#include "host/paths.h"
#include "host/progress.h"
#include "host/stop_signals.h"
#include "host/terminal.h"
#include "kelvane/check/check_engine.h"
#include "kelvane/copy/copy_engine.h"
#include "kelvane/copy/progress_line.h"
#include "kelvane/import/list_rows.h"
#include "kelvane/import/spreadsheet_reader.h"
#include "kelvane/inventory/folder_walk.h"

namespace kelvane {

namespace {

// Where the window's design puts the names of a spreadsheet list.
constexpr int kSheetFirstRow = 2;
constexpr int kSheetColumn = 1;

struct Arguments {
    std::string source;
    std::string target;
    CheckOption option = CheckOption::None;
    bool hidden = true;  // the window's default: hidden files included
    bool copy = false;
    bool replace = true;
    bool update = false;               // --copy also replaces the files the option found different
    bool force = false;                // --update replaces target files newer than their source too
    bool verify = false;               // --copy reads each copy back from the device
    std::vector<std::string> exclude;  // --exclude and --exclude-from patterns, in order
    bool quiet = false;                // no progress line even on a terminal
    bool null = false;                 // -z: names only, each ended by NUL
    std::string names;                 // --names: the one block -z prints
    int jobs = common::kDefaultWorkers;
    std::string unusableJobs;  // a --jobs value that is not 1..64, to warn of
    bool help = false;
    bool version = false;
};

// The blocks -z can print, one per run (--names).
constexpr std::string_view kNameBlocks[] = {"dw_1",  "dw_2",   "dw_3",  "dw_4",
                                            "newer", "copied", "failed"};

// Refusal of the command line or its input: the message and the status.
struct Refusal {
    std::string message;
};

std::optional<Refusal> parse(const std::vector<std::string>& args, Arguments& parsed) {
    if (args.empty()) return Refusal{"no command given"};
    if (args[0] == "--version") {
        parsed.version = true;
        return std::nullopt;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        parsed.help = true;
        return std::nullopt;
    }
    if (args[0] != "check") return Refusal{"unknown command: " + base::quotedName(args[0])};
    std::vector<std::string> positional;
    bool optionsEnded = false;
    // The value of `option` at args[i], given as "OPTION VALUE" (then i moves
    // past it) or "OPTION=VALUE"; empty when the value is missing, nullopt
    // when args[i] is another argument.
    const auto valueOf = [&](std::string_view option,
                             std::size_t& i) -> std::optional<std::string> {
        const std::string& arg = args[i];
        if (arg == option) return i + 1 < args.size() ? args[++i] : std::string();
        if (arg.starts_with(option) && arg.size() > option.size() && arg[option.size()] == '=')
            return arg.substr(option.size() + 1);
        return std::nullopt;
    };
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            parsed.help = true;
            return std::nullopt;
        } else if (const auto value = valueOf("--option", i)) {
            if (value->empty()) return Refusal{"--option needs a value: 1, 2, 3, 4 or 5"};
            if (value->size() != 1 || (*value)[0] < '1' || (*value)[0] > '5')
                return Refusal{"--option takes 1, 2, 3, 4 or 5, not \"" + *value + "\""};
            parsed.option = checkOption(*value);
        } else if (arg == "--no-hidden") {
            parsed.hidden = false;
        } else if (arg == "--copy") {
            parsed.copy = true;
        } else if (arg == "--no-replace") {
            parsed.replace = false;
        } else if (arg == "--update") {
            parsed.update = true;
        } else if (arg == "--force") {
            parsed.force = true;
        } else if (arg == "--verify") {
            parsed.verify = true;
        } else if (const auto file = valueOf("--exclude-from", i)) {
            if (file->empty()) return Refusal{"--exclude-from needs a file of patterns"};
            const host::Result<std::string> content = host::readFile(*file);
            if (!content)
                return Refusal{"cannot read the patterns of " + base::quotedName(*file) + ": " +
                               content.error().reasonText()};
            for (std::string& pattern : common::patternsOfFile(*content))
                parsed.exclude.push_back(std::move(pattern));
        } else if (const auto pattern = valueOf("--exclude", i)) {
            if (pattern->empty()) return Refusal{"--exclude needs a pattern"};
            parsed.exclude.push_back(*pattern);
        } else if (arg == "--quiet") {
            parsed.quiet = true;
        } else if (arg == "-z" || arg == "--null") {
            parsed.null = true;
        } else if (const auto block = valueOf("--names", i)) {
            if (std::find(std::begin(kNameBlocks), std::end(kNameBlocks), *block) ==
                std::end(kNameBlocks))
                return Refusal{
                    "--names takes dw_1, dw_2, dw_3, dw_4, newer, copied or failed, "
                    "not " +
                    base::quotedName(*block)};
            parsed.names = *block;
        } else if (const auto value = valueOf("--jobs", i)) {
            if (value->empty()) return Refusal{"--jobs needs a number of workers"};
            const std::optional<int> jobs = common::parseWorkers(*value);
            parsed.jobs = jobs.value_or(common::kDefaultWorkers);
            if (!jobs) parsed.unusableJobs = *value;
        } else {
            return Refusal{"unknown option: " + base::quotedName(arg)};
        }
    }
    if (positional.size() < 2) return Refusal{"check needs a SOURCE and a TARGET"};
    if (positional.size() > 2) {
        std::string extra;
        for (std::size_t i = 2; i < positional.size(); ++i)
            extra += ' ' + base::quotedName(positional[i]);
        return Refusal{"check takes one SOURCE and one TARGET; also given:" + extra};
    }
    if (!parsed.names.empty() && !parsed.null) return Refusal{"--names works with -z only"};
    if (parsed.names.empty()) parsed.names = "dw_1";
    if ((parsed.names == "copied" || parsed.names == "failed") && !parsed.copy)
        return Refusal{"--names " + parsed.names + " needs --copy"};
    if (parsed.names == "newer" && !parsed.update) return Refusal{"--names newer needs --update"};
    if (parsed.update && !parsed.copy) return Refusal{"--update works with --copy only"};
    if (parsed.force && !parsed.update) return Refusal{"--force works with --update only"};
    if (parsed.verify && !parsed.copy) return Refusal{"--verify works with --copy only"};
    if (parsed.update && !optionInForce(parsed.option))
        return Refusal{"--update needs --option 1 to 5: it copies what the option finds different"};
    if (parsed.update && !parsed.replace)
        return Refusal{"--update replaces files in TARGET and cannot go with --no-replace"};
    parsed.source = positional[0];
    parsed.target = positional[1];
    return std::nullopt;
}

// Why `argument`, which names no list file, cannot be walked as a folder.
Refusal notAFolder(const std::string& argument, const std::string& which) {
    const host::EntryInfo found = host::lookUpEntry(argument);
    const std::string name = base::quotedName(argument);
    switch (found.kind) {
        case host::EntryInfo::Kind::Missing:
            return {which + " folder does not exist: " + name};
        case host::EntryInfo::Kind::Unreadable:
            return {"cannot reach " + which + " folder " + name + ": " + found.text};
        case host::EntryInfo::Kind::File:
            return {which + " is a file, not a folder (a list file's name ends in .txt, .xls, " +
                    ".xlsx or .csv): " + name};
        case host::EntryInfo::Kind::Folder:
            return {"cannot reach " + which + " folder " + name};
        case host::EntryInfo::Kind::Other:
            break;
    }
    return {which + " is " + found.text + ", not a folder: " + name};
}

// Fills `grid` from `argument`, by the rule "开始核对" follows: a name ending
// in ".txt", ".xls", "xlsx" or ".csv" is a list file, anything else a folder walked
// with its sub-folders, `leaveOut` (a sub-folder below it) left out. `root`
// gets the folder (empty for a list file). Each sub-folder that cannot be
// read is named on `err` and counted in `foldersLeftOut`.
std::optional<Refusal> fill(const std::string& argument, const std::string& which, int mask,
                            const std::string& leaveOut, const common::ExcludePatterns& exclude,
                            grid::Grid& grid, std::string& root, long& foldersLeftOut,
                            std::ostream& err) {
    host::NullProgress none;
    host::StopOnSignals quiet(none);
    if (namesListFile(argument)) {
        if (!host::fileExists(argument))
            return Refusal{which +
                           (host::folderExists(argument)
                                ? " is a folder, but its name ends as a list file's does: "
                                : " list file does not exist: ") +
                           base::quotedName(argument)};
        if (!isTextListName(argument) && !spreadsheetReaderAvailable())
            return Refusal{"this build cannot read spreadsheets: " + base::quotedName(argument)};
        const host::Result<long> added =
            importListFile(grid, argument, kSheetFirstRow, kSheetColumn, quiet);
        if (!added)
            return Refusal{"cannot read " + which + " list file " +
                           base::quotedName(added.error().path) + ": " +
                           added.error().reasonText()};
        return std::nullopt;
    }
    if (!host::folderExists(argument)) return notAFolder(argument, which);
    std::vector<host::ListingEntry> entries;
    if (const host::Status listed = host::listDirectory(argument, mask, entries); !listed)
        return Refusal{"cannot read " + which + " folder " + base::quotedName(argument) + ": " +
                       listed.error().reasonText()};
    root = host::heldRoot(argument);
    WalkOptions options;
    options.mask = mask;
    options.leaveOut = leaveOut;
    options.exclude = exclude;
    const WalkResult walked = walkFolder(grid, root, root, options, quiet);
    for (const SkippedFolder& skipped : walked.skippedFolders) {
        err << "kelvane: cannot read " << which << " sub-folder " << base::quotedName(skipped.path)
            << ": " << skipped.reason << "; it is left out\n";
    }
    foldersLeftOut += static_cast<long>(walked.skippedFolders.size());
    return std::nullopt;
}

// One block: a heading line (never beginning with a tab or a separator: the
// block's name, then the column headings), the shown rows, an empty line.
// The names in column `names` are quoted where they must be (base::quotedName).
void printBlock(std::ostream& out, std::string_view name, const grid::Grid& grid,
                const char* names) {
    out << '[' << name << ']';
    for (int column = 0; column < grid.columnCount(); ++column)
        out << '\t' << grid.headerText(column);
    out << '\n';
    const int nameColumn = grid.columnIndex(names);
    std::string line;
    for (long row = 1; row <= grid.rowcount(); ++row) {
        line.clear();
        for (int column = 0; column < grid.columnCount(); ++column) {
            if (column > 0) line += '\t';
            const std::string cell = grid.cellText(row, column);
            line += column == nameColumn ? base::quotedName(cell) : grid::tabSeparatedCell(cell);
        }
        line += '\n';
        out << line;
    }
    out << '\n';
}

// -z: the names of one block as they are, each ended by NUL. A walk's names
// lose their leading separator, so that they name files below the folder
// given, from there, and never from the root: what `cd TARGET && xargs -0 rm`
// needs. A list file's names are printed as the list holds them.
void printNames(std::ostream& out, const std::vector<std::string>& names, bool walked) {
    for (const std::string& name : names) {
        const bool below = walked && !name.empty() && host::isSeparator(name.front());
        out << std::string_view(name).substr(below ? 1 : 0) << '\0';
    }
}

std::vector<std::string> namesOf(const grid::Grid& grid, const char* column) {
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(grid.rowcount()));
    for (long row = 1; row <= grid.rowcount(); ++row)
        names.push_back(grid.getitemstring(row, column));
    return names;
}

// A run a stop signal cut short: said on `err`; the signal's status.
int stopped(std::ostream& err) {
    const int status = host::stopSignalStatus();
    err << "kelvane: stopped by " << host::stopSignalName(status) << '\n';
    return status;
}

// The progress of --copy: the progress line where it is shown, and each
// failure with its reason on standard error.
class CopyProgress : public host::ProgressSink {
  public:
    CopyProgress(std::optional<ProgressLine>& shown, std::ostream& err)
        : shown_(shown), err_(err) {}
    void step(long count, std::string_view current) override {
        if (shown_) shown_->step(count, current);
    }
    void failed(std::string_view, const host::Failure& failure) override {
        if (shown_) shown_->finish();
        err_ << "kelvane: " << failure.message() << '\n';
    }

  private:
    std::optional<ProgressLine>& shown_;
    std::ostream& err_;
};

// The check's failures, pairs whose files could not be looked at, each
// named on `err`; they are listed in [dw_3] and make the status 1.
class CheckFailures : public host::ProgressSink {
  public:
    explicit CheckFailures(std::ostream& err) : err_(err) {}
    void step(long, std::string_view) override {}
    void failed(std::string_view item, const host::Failure& failure) override {
        err_ << "kelvane: cannot compare " << base::quotedName(item)
             << ", listed as different: " << failure.message() << '\n';
        ++count_;
    }
    long count() const noexcept { return count_; }

  private:
    std::ostream& err_;
    long count_ = 0;
};

// The heading of the findings --update leaves alone: "the names whose file in
// the target is newer".
constexpr std::string_view kNewerInTargetHeading = "目标文件较新的名单";

// Whether the file in the target was modified after its source: --update
// leaves it alone, as rsync -u and cp -u do, since its bytes would be kept
// nowhere else. A time that cannot be read says nothing either way.
bool targetIsNewer(const CopyPaths& paths) {
    const std::optional<host::SourceStamp> source = host::sourceStampOf(paths.source);
    const std::optional<host::SourceStamp> target = host::sourceStampOf(paths.target);
    return source && target && target->modifiedNs > source->modifiedNs;
}

// --copy: the rows of list 1 the check left shown, with --update followed by
// the option's findings (the rows of dw_3 after the repeated names of list 1)
// whose target is not newer than their source, or all of them with --force,
// copied into the target, one line each on `out` (with -z: the names copied,
// then the names that failed, as two blocks of names). With --update the
// findings left alone are printed first, in a block [newer].
int copyDifferences(const Arguments& arguments, const CheckSettings& settings, grid::Grid& dw_1,
                    const grid::Grid& dw_3, long repeatedNames, std::ostream& out,
                    std::ostream& err) {
    CopyPlan plan;
    plan.reading = host::NameReading::Relative;
    plan.sourceFolder = settings.ls_path1;
    plan.targetFolder = settings.ls_path2;
    plan.replace = arguments.replace;
    plan.verify = arguments.verify;
    std::optional<grid::Grid> withFindings;
    if (arguments.update) {
        withFindings.emplace(grid::loadGridDefinition("htmd1"));
        const auto append = [&](std::string_view name) {
            const long row = withFindings->insertrow(0);
            withFindings->setitem(row, "md", name);
        };
        const int md = dw_1.columnIndex("md");
        for (long row = 1; row <= dw_1.rowcount(); ++row) append(dw_1.textView(row, md));
        std::vector<std::string> newer;
        const int dmd = dw_3.columnIndex("dmd");
        for (long row = repeatedNames + 1; row <= dw_3.rowcount(); ++row) {
            const std::string name(dw_3.textView(row, dmd));
            if (!arguments.force && targetIsNewer(copyPaths(plan, name)))
                newer.push_back(name);
            else
                append(name);
        }
        if (arguments.null) {
            if (arguments.names == "newer") printNames(out, newer, true);
        } else {
            out << "[newer]\t" << kNewerInTargetHeading << '\n';
            for (const std::string& name : newer) out << base::quotedName(name) << '\n';
            out << '\n';
        }
    }
    grid::Grid& list = withFindings ? *withFindings : dw_1;
    if (!arguments.null) {
        out << "[copy]\t" << list.headerText(list.columnIndex("md")) << '\t'
            << list.headerText(list.columnIndex("jg")) << '\n';
    }
    // The progress line is for a person at a terminal; a script or log
    // reading standard error gets only the messages.
    std::optional<ProgressLine> shown;
    if (!arguments.quiet && host::standardErrorIsTerminal())
        shown.emplace(err, out, list.rowcount(), host::standardErrorColumns(80));
    CopyProgress shownAndFailures(shown, err);
    host::StopOnSignals progress(shownAndFailures);
    std::vector<std::string> copied, failed;
    const CopySummary summary = copyShownRows(
        list, plan, progress,
        [&](long, const std::string& name, const CopyPaths& paths, const CopyOutcome& outcome) {
            if (arguments.null) {
                (outcome.copied ? copied : failed).push_back(name);
            } else {
                out << base::quotedName(name) << '\t' << (outcome.copied ? kCopied : kCopyFailed)
                    << '\n';
            }
            if (shown) {
                std::int64_t length = 0;
                if (outcome.copied) {
                    if (const auto read = host::fileLength(paths.source)) length = *read;
                }
                shown->fileDone(length);
            }
        },
        arguments.jobs);
    if (shown) shown->finish();
    if (arguments.names == "copied") printNames(out, copied, true);
    if (arguments.names == "failed") printNames(out, failed, true);
    if (!arguments.null) {
        out << '\n';
    }
    out.flush();
    // Output that did not arrive outweighs a failed copy: whoever reads it
    // cannot know what was copied.
    if (!out) return kExitBadInput;
    if (summary.stopped) return stopped(err);
    return summary.failed > 0 ? kExitIncomplete : kExitSuccess;
}

int run(const Arguments& arguments, std::ostream& out, std::ostream& err) {
    if (!arguments.unusableJobs.empty()) {
        err << "kelvane: --jobs takes a number from 1 to " << common::kMaxWorkers << ", not "
            << base::quotedName(arguments.unusableJobs) << "; working on " << arguments.jobs
            << " workers\n";
    }
    for (const auto& [argument, which] :
         {std::pair{&arguments.source, "SOURCE"}, std::pair{&arguments.target, "TARGET"}}) {
        // Read as a path, an empty text would be the working folder (or, to
        // some, the root); neither is what anybody meant.
        if (base::trim(*argument).empty()) {
            err << "kelvane: " << which << " is " << (argument->empty() ? "empty" : "blank")
                << "\n";
            return kExitBadInput;
        }
    }
    if (arguments.copy && (namesListFile(arguments.source) || namesListFile(arguments.target))) {
        err << "kelvane: --copy needs SOURCE and TARGET to be folders, not list files\n";
        return kExitBadInput;
    }
    grid::Grid dw_1(grid::loadGridDefinition("htmd1"));
    grid::Grid dw_2(grid::loadGridDefinition("htmd2"));
    grid::Grid dw_3(grid::loadGridDefinition("cfmd1"));
    grid::Grid dw_4(grid::loadGridDefinition("cfmd2"));
    const int mask = arguments.hidden ? host::kListEverything : host::kListNormal;
    CheckSettings settings;
    // Both sides are looked at before anything is walked, so a mistyped
    // target does not cost a walk of the whole source first.
    for (const auto& [argument, which] :
         {std::pair{&arguments.source, "source"}, std::pair{&arguments.target, "target"}}) {
        if (!namesListFile(*argument) && !host::folderExists(*argument)) {
            err << "kelvane: " << notAFolder(*argument, which).message << '\n';
            return kExitBadInput;
        }
    }
    // A target folder inside the source folder is left out of the source's
    // walk: what the last run copied there is no part of the source.
    std::string leaveOut;
    if (!namesListFile(arguments.source) && !namesListFile(arguments.target))
        leaveOut = host::pathInside(arguments.source, arguments.target).value_or("");
    // With more than one worker the target is read while the source is: two
    // walks at once on separate cores (one at a time spares a spinning disk
    // the seeks). Messages come in the same order either way.
    std::ostringstream targetErr;
    std::optional<Refusal> targetRefused;
    std::exception_ptr targetFailure;
    long foldersLeftOut = 0;
    long targetFoldersLeftOut = 0;
    const common::ExcludePatterns exclude(arguments.exclude);
    const auto fillTarget = [&] {
        try {
            targetRefused = fill(arguments.target, "target", mask, {}, exclude, dw_2,
                                 settings.ls_path2, targetFoldersLeftOut, targetErr);
        } catch (...) {
            targetFailure = std::current_exception();
        }
    };
    // Joined on every path, an exception from the source's walk included:
    // declared after all it uses, it ends before they do.
    std::optional<std::jthread> targetWalk;
    if (arguments.jobs > 1) targetWalk.emplace(fillTarget);
    const std::optional<Refusal> sourceRefused =
        fill(arguments.source, "source", mask, leaveOut, exclude, dw_1, settings.ls_path1,
             foldersLeftOut, err);
    if (targetWalk)
        targetWalk.reset();
    else if (!sourceRefused)
        fillTarget();
    if (targetFailure) std::rethrow_exception(targetFailure);
    for (const auto& refused : {sourceRefused, targetRefused}) {
        if (refused) {
            err << "kelvane: " << refused->message << '\n';
            return kExitBadInput;
        }
        err << targetErr.str();
        targetErr.str("");
    }
    foldersLeftOut += targetFoldersLeftOut;
    settings.addszf = arguments.option;
    settings.workers = arguments.jobs;
    bool zfmdxg = false;
    CheckFailures checkFailures(err);
    host::StopOnSignals quiet(checkFailures);
    // Lists of a walk or a check cut short would be taken for the truth:
    // none is printed.
    if (host::stopSignalStatus() != 0) return stopped(err);
    const CheckSummary checked = mdhd({dw_1, dw_2, dw_3, dw_4}, settings, zfmdxg, quiet);
    if (checked.stopped) return stopped(err);
    showRows(dw_1, dw_2, kDifferent);

    if (arguments.null) {
        const bool sourceWalked = !namesListFile(arguments.source);
        const bool targetWalked = !namesListFile(arguments.target);
        if (arguments.names == "dw_1") printNames(out, namesOf(dw_1, "md"), sourceWalked);
        if (arguments.names == "dw_2") printNames(out, namesOf(dw_2, "md"), targetWalked);
        if (arguments.names == "dw_3") printNames(out, namesOf(dw_3, "dmd"), sourceWalked);
        if (arguments.names == "dw_4") printNames(out, namesOf(dw_4, "dmd"), targetWalked);
    } else {
        printBlock(out, "dw_1", dw_1, "md");
        printBlock(out, "dw_2", dw_2, "md");
        printBlock(out, "dw_3", dw_3, "dmd");
        printBlock(out, "dw_4", dw_4, "dmd");
    }
    // Once a write has failed the stream takes no more; what is left of the
    // output is dropped, and only the status and standard error tell.
    out.flush();
    int status = out ? kExitSuccess : kExitBadInput;
    if (arguments.copy) {
        const int copied =
            copyDifferences(arguments, settings, dw_1, dw_3, checked.duplicates1, out, err);
        if (status == kExitSuccess) status = copied;
    }
    // A folder left out may hold what should have been checked and copied;
    // a pair not looked at was not checked.
    if ((foldersLeftOut > 0 || checkFailures.count() > 0) && status == kExitSuccess)
        status = kExitIncomplete;
    return status;
}

}  // namespace

std::string commandLineHelp() {
    return R"(Usage:
  kelvane                 open the window
  kelvane check SOURCE TARGET [--option 1|2|3|4|5] [--no-hidden] [--copy] [--no-replace]
                [--update [--force]] [--verify] [--exclude GLOB]...
                [--exclude-from FILE] [--quiet] [--jobs N] [-z [--names BLOCK]]
  kelvane --help          show this text
  kelvane --version       show the version

check fills list 1 from SOURCE and list 2 from TARGET, as "开始核对" does:
a name ending in .txt, .xls, .xlsx or .csv is a list file (spreadsheets and
.csv: names in column A from row 2), anything else a folder walked with all
its sub-folders. A TARGET folder inside the SOURCE folder is left out of the
SOURCE's walk.
It then checks the lists and prints, as tab-separated lines in UTF-8:
  [dw_1]  the names of list 1 that list 2 lacks ("不同")
  [dw_2]  the names of list 2 that list 1 lacks
  [dw_3]  the repeated names of list 1, then the option's findings
  [dw_4]  the repeated names of list 2
Each block starts with a heading line: its name in brackets and the column
headings. Rows follow, one per line; an empty line ends the block. A name is
printed as it is when it holds only printable UTF-8 and does not begin with
"; any other is put in double quotes, with \\ \" \t \n \r and \ plus three
octal digits for the other control characters and for bytes that are not
UTF-8, so each printed name reads back as exactly one name.

Options:
  --option N    also compare the files of matched names: 1 length, 2
                modification time, 3 both differ, 4 either differs, 5 content
                (every byte; a file that cannot be read counts as different);
                the names whose files differ are listed in [dw_3]
  --no-hidden   leave hidden files out of the walks
  --exclude GLOB
                leave out of both walks the files and folders GLOB matches
                (an excluded folder is never entered); may be given several
                times. GLOB is matched against the path below SOURCE or
                TARGET: * and ? within one name, ** across folders, **/
                zero or more whole folders, [a-z] [!a-z] classes, \x the
                character x itself (not on Windows); a trailing / matches
                folders only, a leading / anchors at SOURCE or TARGET;
                without a / inside, a name at any depth, with one, from the
                start of a folder's name ('cache/*.bin' leaves out
                a/cache/x.bin, not mycache/x.bin). Case counts (on Windows
                it does not). Examples: '*.tmp', 'node_modules/', '/build/',
                'photos/**/*.raw'
  --exclude-from FILE
                the patterns of FILE, one per line (UTF-8, a byte-order mark
                dropped; lines end at LF, CR LF or CR; empty lines and lines
                beginning with # are skipped), as --exclude
  --copy        copy the names of [dw_1] from SOURCE into TARGET, creating
                sub-folders, as "开始复制" does; prints a [copy] block with one
                line per file: the name and 成功 or 失败 (the reason of a
                failure goes to standard error). SOURCE and TARGET must be
                folders.
  --no-replace  with --copy, never overwrite a file already in TARGET (such a
                copy fails)
  --update      with --copy and --option, also copy the names the option
                lists in [dw_3] (not the repeated names), replacing their
                files in TARGET, except those whose file in TARGET was
                modified later than in SOURCE (as rsync -u and cp -u skip
                files newer on the receiving side): those are listed in a
                block [newer] before [copy] and left alone. The [copy] block
                lists the others after the names of [dw_1]. Refused (status
                2) without --option or with --no-replace
  --force       with --update, replace the newer files in TARGET too
  --verify      with --copy, read each copy back from the disk once it is
                written and flushed, before it takes its name, and compare
                it with a checksum taken while copying; a copy that reads
                back otherwise is removed, the file in TARGET stays as it
                was, and the copy fails (1 in the exit status). On tmpfs and
                some FUSE file systems the copy is read back from memory
  --quiet       with --copy, no progress line; it is shown on standard error
                only when that is a terminal (files done/total, bytes, rate,
                current name) and wiped at the end
  --jobs N      copy N files at once with --copy and compare N pairs at once
                with --option 5 (1 to 64, default 4), and above 1 walk
                SOURCE and TARGET at the same time; the output and
                the target folder end the same whatever N. Give 1 for a
                spinning disk or a USB stick, where work done at once only
                makes the disk seek
  -z, --null    instead of the blocks, print only the names of one block,
                each ended by a NUL byte, as they are, those of a walk
                relative to SOURCE or TARGET (no leading /), for xargs -0
  --names BLOCK with -z, the block whose names are printed: dw_1 (the
                default), dw_2, dw_3, dw_4, newer (with --update), copied
                or failed (with --copy)

Exit status:
  0  the check (and every copy) succeeded
  1  at least one copy failed, a sub-folder could not be read and was left
     out, or the length or time of a pair's files could not be read (listed
     in [dw_3] as different); standard error names each
  2  bad arguments, a missing folder, a list file that cannot be read, or
     output that could not be written (2 wins over all others)
  130  stopped by SIGINT (Ctrl+C): the copies under way end and are listed,
       no other is begun; a walk or a check cut short prints no lists
       (130 and 143 win over 1)
  143  stopped by SIGTERM, as by SIGINT
)";
}

int runCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        Arguments arguments;
        if (auto refused = parse(args, arguments)) {
            err << "kelvane: " << refused->message << "\nTry 'kelvane --help'.\n";
            return kExitBadInput;
        }
        int status = kExitSuccess;
        if (arguments.version) {
            out << "kelvane " << ZARVIK_VERSION << '\n';
            out.flush();
        } else if (arguments.help) {
            out << commandLineHelp();
            out.flush();
        } else {
            status = run(arguments, out, err);
        }
        if (!out) {
            err << "kelvane: the output could not be written\n";
            status = kExitBadInput;
        }
        return status;
    } catch (const std::exception& error) {
        err << "kelvane: " << error.what() << '\n';
        return kExitBadInput;
    }
}

}  // namespace kelvane
