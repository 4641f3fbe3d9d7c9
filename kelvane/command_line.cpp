#include "kelvane/command_line.h"

#include "common/ordered_work.h"

#include <exception>
#include <optional>
#include <ostream>
#include <sstream>
#include <string_view>
#include <thread>

#include "grid/grid.h"
#include "host/fs.h"
#include "host/paths.h"
#include "host/progress.h"
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
    std::string option;  // "" or "1".."4"
    bool hidden = true;  // the window's default: hidden files included
    bool copy = false;
    bool replace = true;
    bool quiet = false;  // no progress line even on a terminal
    int jobs = common::kDefaultWorkers;
    std::string unusableJobs;  // a --jobs value that is not 1..64, to warn of
    bool help = false;
    bool version = false;
};

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
    if (args[0] != "check") return Refusal{"unknown command: " + args[0]};
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
            if (value->empty()) return Refusal{"--option needs a value: 1, 2, 3 or 4"};
            if (value != "1" && value != "2" && value != "3" && value != "4")
                return Refusal{"--option takes 1, 2, 3 or 4, not \"" + *value + "\""};
            parsed.option = *value;
        } else if (arg == "--no-hidden") {
            parsed.hidden = false;
        } else if (arg == "--copy") {
            parsed.copy = true;
        } else if (arg == "--no-replace") {
            parsed.replace = false;
        } else if (arg == "--quiet") {
            parsed.quiet = true;
        } else if (const auto value = valueOf("--jobs", i)) {
            if (value->empty()) return Refusal{"--jobs needs a number of workers"};
            const std::optional<int> jobs = common::parseWorkers(*value);
            parsed.jobs = jobs.value_or(common::kDefaultWorkers);
            if (!jobs) parsed.unusableJobs = *value;
        } else {
            return Refusal{"unknown option: " + arg};
        }
    }
    if (positional.size() != 2) return Refusal{"check needs a SOURCE and a TARGET"};
    parsed.source = positional[0];
    parsed.target = positional[1];
    return std::nullopt;
}

// Fills `grid` from `argument`, by the rule "开始核对" follows: a name ending
// in ".txt", ".xls", "xlsx" or ".csv" is a list file, anything else a folder walked
// with its sub-folders. `root` gets the folder (empty for a list file).
std::optional<Refusal> fill(const std::string& argument, const char* which, int mask,
                            host::Grid& grid, std::string& root, std::ostream& err) {
    host::NullProgress quiet;
    if (namesListFile(argument)) {
        if (!host::fileExists(argument))
            return Refusal{std::string(which) + " list file does not exist: " + argument};
        if (!isTextListName(argument) && !spreadsheetReaderAvailable())
            return Refusal{"this build cannot read spreadsheets: " + argument};
        try {
            importListFile(grid, argument, kSheetFirstRow, kSheetColumn, quiet);
        } catch (const ListFileError& error) {
            return Refusal{"cannot read " + std::string(which) + " list file " + error.path() +
                           ": " + error.reason()};
        }
        return std::nullopt;
    }
    if (!host::folderExists(argument))
        return Refusal{std::string(which) + " folder does not exist: " + argument};
    std::vector<host::ListingEntry> entries;
    if (!host::listDirectory(argument, mask, entries))
        return Refusal{"cannot read " + std::string(which) + " folder: " + argument};
    root = host::heldRoot(argument);
    WalkOptions options;
    options.mask = mask;
    const WalkResult walked = walkFolder(grid, root, root, options, quiet);
    if (walked.foldersSkipped > 0) {
        err << "kelvane: " << walked.foldersSkipped << " sub-folder(s) of " << root
            << " could not be read and were left out\n";
    }
    return std::nullopt;
}

// One block: a heading line (never beginning with a tab or a separator: the
// block's name, then the column headings), the shown rows, an empty line.
void printBlock(std::ostream& out, std::string_view name, const host::Grid& grid) {
    out << '[' << name << ']';
    for (int column = 0; column < grid.columnCount(); ++column)
        out << '\t' << grid.headerText(column);
    out << '\n';
    std::string line;
    for (long row = 1; row <= grid.rowcount(); ++row) {
        line.clear();
        for (int column = 0; column < grid.columnCount(); ++column) {
            if (column > 0) line += '\t';
            line += host::tabSeparatedCell(grid.cellText(row, column));
        }
        line += '\n';
        out << line;
    }
    out << '\n';
}

// --copy: the rows of list 1 the check left shown, copied into the target,
// one line each on `out`.
int copyDifferences(const Arguments& arguments, const CheckSettings& settings, host::Grid& dw_1,
                    std::ostream& out, std::ostream& err) {
    CopyPlan plan;
    plan.reading = host::NameReading::Relative;
    plan.sourceFolder = settings.ls_path1;
    plan.targetFolder = settings.ls_path2;
    plan.replace = arguments.replace;
    out << "[copy]\t" << dw_1.headerText(dw_1.columnIndex("md")) << '\t'
        << dw_1.headerText(dw_1.columnIndex("jg")) << '\n';
    // The progress line is for a person at a terminal; a script or log
    // reading standard error gets only the messages.
    std::optional<ProgressLine> shown;
    if (!arguments.quiet && host::standardErrorIsTerminal())
        shown.emplace(err, out, dw_1.rowcount(), host::standardErrorColumns(80));
    host::NullProgress silent;
    host::ProgressSink& progress = shown ? static_cast<host::ProgressSink&>(*shown) : silent;
    if (!arguments.unusableJobs.empty()) {
        err << "kelvane: --jobs takes a number from 1 to " << common::kMaxWorkers << ", not \""
            << arguments.unusableJobs << "\"; copying on " << arguments.jobs << " workers\n";
    }
    const CopySummary summary = copyShownRows(
        dw_1, plan, progress,
        [&](long, const std::string& name, const CopyPaths& paths, const CopyOutcome& outcome) {
            out << host::tabSeparatedCell(name) << '\t' << (outcome.copied ? kCopied : kCopyFailed)
                << '\n';
            if (!outcome.copied) {
                if (shown) shown->finish();
                err << "kelvane: " << outcome.error << '\n';
            }
            if (shown) shown->fileDone(outcome.copied ? host::fileLength(paths.source) : 0);
        },
        arguments.jobs);
    if (shown) shown->finish();
    out << '\n';
    out.flush();
    // Output that did not arrive outweighs a failed copy: whoever reads it
    // cannot know what was copied.
    if (!out) return kExitBadInput;
    return summary.failed > 0 ? kExitCopyFailed : kExitSuccess;
}

int run(const Arguments& arguments, std::ostream& out, std::ostream& err) {
    if (arguments.copy && (namesListFile(arguments.source) || namesListFile(arguments.target))) {
        err << "kelvane: --copy needs SOURCE and TARGET to be folders, not list files\n";
        return kExitBadInput;
    }
    host::Grid dw_1(host::loadGridDefinition("htmd1"));
    host::Grid dw_2(host::loadGridDefinition("htmd2"));
    host::Grid dw_3(host::loadGridDefinition("cfmd1"));
    host::Grid dw_4(host::loadGridDefinition("cfmd2"));
    const int mask = arguments.hidden ? host::kListEverything : host::kListNormal;
    CheckSettings settings;
    // Both sides are looked at before anything is walked, so a mistyped
    // target does not cost a walk of the whole source first.
    for (const auto& [argument, which] :
         {std::pair{&arguments.source, "source"}, std::pair{&arguments.target, "target"}}) {
        if (!namesListFile(*argument) && !host::folderExists(*argument)) {
            err << "kelvane: " << which << " folder does not exist: " << *argument << '\n';
            return kExitBadInput;
        }
    }
    // With more than one worker the target is read while the source is: two
    // walks at once on separate cores (one at a time spares a spinning disk
    // the seeks). Messages come in the same order either way.
    std::ostringstream targetErr;
    std::optional<Refusal> targetRefused;
    std::exception_ptr targetFailure;
    const auto fillTarget = [&] {
        try {
            targetRefused =
                fill(arguments.target, "target", mask, dw_2, settings.ls_path2, targetErr);
        } catch (...) {
            targetFailure = std::current_exception();
        }
    };
    std::optional<std::thread> targetWalk;
    if (arguments.jobs > 1) targetWalk.emplace(fillTarget);
    const std::optional<Refusal> sourceRefused =
        fill(arguments.source, "source", mask, dw_1, settings.ls_path1, err);
    if (targetWalk)
        targetWalk->join();
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
    settings.addszf = arguments.option;
    bool zfmdxg = false;
    host::NullProgress quiet;
    mdhd({dw_1, dw_2, dw_3, dw_4}, settings, zfmdxg, quiet);
    showRows(dw_1, dw_2, kDifferent);

    printBlock(out, "dw_1", dw_1);
    printBlock(out, "dw_2", dw_2);
    printBlock(out, "dw_3", dw_3);
    printBlock(out, "dw_4", dw_4);
    // Once a write has failed the stream takes no more; what is left of the
    // output is dropped, and only the status and standard error tell.
    out.flush();
    if (!arguments.copy) return out ? kExitSuccess : kExitBadInput;
    return copyDifferences(arguments, settings, dw_1, out, err);
}

}  // namespace

std::string commandLineHelp() {
    return R"(Usage:
  kelvane                 open the window
  kelvane check SOURCE TARGET [--option 1|2|3|4] [--no-hidden] [--copy] [--no-replace]
                [--quiet] [--jobs N]
  kelvane --help          show this text
  kelvane --version       show the version

check fills list 1 from SOURCE and list 2 from TARGET, as "开始核对" does:
a name ending in .txt, .xls, .xlsx or .csv is a list file (spreadsheets and
.csv: names in column A from row 2), anything else a folder walked with all
its sub-folders.
It then checks the lists and prints, as tab-separated lines in UTF-8:
  [dw_1]  the names of list 1 that list 2 lacks ("不同")
  [dw_2]  the names of list 2 that list 1 lacks
  [dw_3]  the repeated names of list 1, then the option's findings
  [dw_4]  the repeated names of list 2
Each block starts with a heading line: its name in brackets and the column
headings. Rows follow, one per line; an empty line ends the block. A tab or
line break inside a name is printed as its control picture (␉ ␊ ␍).

Options:
  --option N    also compare the files of matched names: 1 length, 2
                modification time, 3 both differ, 4 either differs; the names
                whose files differ are listed in [dw_3]
  --no-hidden   leave hidden files out of the walks
  --copy        copy the names of [dw_1] from SOURCE into TARGET, creating
                sub-folders, as "开始复制" does; prints a [copy] block with one
                line per file: the name and 成功 or 失败 (the reason of a
                failure goes to standard error). SOURCE and TARGET must be
                folders.
  --no-replace  with --copy, never overwrite a file already in TARGET (such a
                copy fails)
  --quiet       with --copy, no progress line; it is shown on standard error
                only when that is a terminal (files done/total, bytes, rate,
                current name) and wiped at the end
  --jobs N      copy N files at once with --copy (1 to 64, default 4), and
                above 1 walk SOURCE and TARGET at the same time; the output and
                the target folder end the same whatever N. Give 1 for a
                spinning disk or a USB stick, where work done at once only
                makes the disk seek

Exit status:
  0  the check (and every copy) succeeded
  1  at least one copy failed
  2  bad arguments, a missing folder, a list file that cannot be read, or
     output that could not be written (2 wins over 1)
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
