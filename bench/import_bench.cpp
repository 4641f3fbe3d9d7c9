// Speed and memory of filling a list from list files.
//
// - A text list of a million names (UTF-8 and GBK), imported into an empty
//   list with the renumbering that follows every import.
// - A sheet of 1,048,576 rows (a heading and 1,048,575 names, a number beside
//   each), once with inline strings and once with shared strings, imported by
//   kelvane and read by openpyxl in read-only mode (Debian's python3-openpyxl,
//   which scripts/bench installs) in the same run: each in a process of its
//   own, so the peak resident memory is that of the import alone.
// - Small hostile workbooks (at most 5 MB each) that used to take gigabytes:
//   each must be read or refused within 1 GB and 30 s.
//
// The files are made in a temporary folder and removed afterwards.
//
// import_bench [text lines] [sheet rows]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_start.h"
#include "grid/grid.h"
#include "host/encoding.h"
#include "host/progress.h"
#include "kelvane/import/list_rows.h"
#include "kelvane/import/spreadsheet_reader.h"

#ifdef KELVANE_BENCH_SPREADSHEETS
#include <xlsxwriter.h>
#include <zip.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string nameOf(long id) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "  \\资料%03ld\\子目录 %02ld\\文档 %07ld.txt ", id % 997,
                  id % 13, id);
    return buffer;
}

void timeImport(const char* what, const std::string& path, long expected, int firstRow) {
    grid::Grid grid(grid::loadGridDefinition("htmd1"));
    host::NullProgress progress;
    const Clock::time_point start = Clock::now();
    const long added = kelvane::importListFile(grid, path, firstRow, 1, progress).value_or(-1);
    const double seconds = secondsSince(start);
    std::printf("%-34s %9ld rows  %6.3f s%s\n", what, added, seconds,
                added == expected ? "" : "  (unexpected row count)");
}

// The peak resident memory of this process since its program started, from
// VmHWM: the rusage of a child also counts what it shared with its parent
// before exec.
const char* const kPeakLine =
    "for line in open('/proc/self/status'):\n"
    "    if line.startswith('VmHWM:'): print('peak', line.split()[1])\n";

void printPeak() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) std::printf("peak %ld\n", std::atol(line.c_str() + 6));
}

// The child's side: imports `path` as the list buttons do (column A from row
// 2) and prints the row count, or the reason it was refused, and its peak.
int importInChild(const std::string& path) {
    grid::Grid grid(grid::loadGridDefinition("htmd1"));
    host::NullProgress progress;
    if (const host::Result<long> added = kelvane::importListFile(grid, path, 2, 1, progress))
        std::printf("%ld rows\n", *added);
    else
        std::printf("refused: %s\n", added.error().reasonText().c_str());
    printPeak();
    return 0;
}

struct ChildRun {
    bool ran = false;
    double seconds = 0;
    double peakMegabytes = 0;  // resident
    std::string output;        // its standard output, the final line end dropped
};

ChildRun runChild(const std::vector<std::string>& arguments) {
    ChildRun run;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return run;
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    if (pid < 0) {
        close(pipeEnds[0]);
        return run;
    }
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        run.output.append(buffer, static_cast<std::size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.seconds = secondsSince(start);
    run.ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const std::size_t peak = run.output.rfind("peak ");
    if (peak != std::string::npos) {
        run.peakMegabytes = std::atof(run.output.c_str() + peak + 5) / 1024.0;
        run.output.resize(peak);
    }
    while (!run.output.empty() && run.output.back() == '\n') run.output.pop_back();
    if (!run.ran && run.output.empty()) run.output = "failed";
    return run;
}

#ifdef KELVANE_BENCH_SPREADSHEETS

const char* const kOpenpyxlScript =
    "import sys, openpyxl\n"
    "book = openpyxl.load_workbook(sys.argv[1], read_only=True)\n"
    "names = [row[0] for row in book.active.iter_rows(min_row=2, max_col=1, values_only=True)]\n"
    "print(len(names), 'rows')\n";

std::string debianPython() {
    for (const char* candidate : {"/usr/bin/python3", "/usr/local/bin/python3"}) {
        if (access(candidate, X_OK) == 0) return candidate;
    }
    return "";
}

bool writeSheet(const std::string& path, long rows, bool inlineStrings) {
    lxw_workbook_options options{};
    options.constant_memory = inlineStrings ? LXW_TRUE : LXW_FALSE;  // inline strings
    lxw_workbook* workbook = workbook_new_opt(path.c_str(), &options);
    if (!workbook) return false;
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    worksheet_write_string(sheet, 0, 0, "文件名", nullptr);
    worksheet_write_string(sheet, 0, 1, "长度", nullptr);
    for (long id = 1; id < rows; ++id) {
        worksheet_write_string(sheet, static_cast<lxw_row_t>(id), 0, nameOf(id).c_str(), nullptr);
        worksheet_write_number(sheet, static_cast<lxw_row_t>(id), 1, static_cast<double>(id) * 1.5,
                               nullptr);
    }
    return workbook_close(workbook) == LXW_NO_ERROR;
}

// A workbook assembled part by part (deflated by libzip), for the hostile ones.
bool writePackage(const std::string& path, const std::map<std::string, std::string>& parts) {
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip) return false;
    for (const auto& [name, content] : parts) {
        zip_source_t* source = zip_source_buffer(zip, content.data(), content.size(), 0);
        if (!source || zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
            zip_discard(zip);
            return false;
        }
    }
    return zip_close(zip) == 0;
}

std::map<std::string, std::string> workbookParts(const std::string& sheetData,
                                                 const std::string& sharedStrings) {
    const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    const std::string package = "http://schemas.openxmlformats.org/package/2006/relationships";
    std::map<std::string, std::string> parts;
    parts["_rels/.rels"] = "<Relationships xmlns=\"" + package +
                           "\"><Relationship Id=\"rId1\" Type=\"" + rel +
                           "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
    parts["xl/workbook.xml"] =
        "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + rel +
        "\"><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
    parts["xl/_rels/workbook.xml.rels"] =
        "<Relationships xmlns=\"" + package + "\"><Relationship Id=\"rId1\" Type=\"" + rel +
        "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" + rel +
        "/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>";
    parts["xl/worksheets/sheet1.xml"] =
        "<worksheet xmlns=\"" + main + "\"><sheetData>" + sheetData + "</sheetData></worksheet>";
    parts["xl/sharedStrings.xml"] = "<sst xmlns=\"" + main + "\">" + sharedStrings + "</sst>";
    return parts;
}

// Each of these is at most 5 MB packed; made one at a time, so the bench itself
// never holds them all.
std::map<std::string, std::string> hostileWorkbook(int which, std::string& what) {
    std::string sheetData, strings = "<si/>";
    switch (which) {
        case 0:  // ten million one-letter shared strings, three of them used
            what = "tiny shared strings (10,000,000)";
            strings.clear();
            for (long i = 0; i < 10000000; ++i) strings += "<si><t>a</t></si>";
            sheetData =
                "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>1</v></c></row>"
                "<row r=\"3\"><c r=\"A3\" t=\"s\"><v>5000000</v></c></row>"
                "<row r=\"4\"><c r=\"A4\" t=\"s\"><v>9999999</v></c></row>";
            break;
        case 1:  // a 1,000-character shared string in every row
            what = "one long shared string, every row";
            strings = "<si><t>" + std::string(1000, 'n') + "</t></si>";
            for (long row = 2; row <= 1048576; ++row)
                sheetData += "<row r=\"" + std::to_string(row) + "\"><c t=\"s\"><v>0</v></c></row>";
            break;
        case 2:  // one row repeating its cell ten million times
            what = "one cell repeated 10,000,000 times";
            sheetData = "<row r=\"2\">";
            for (long i = 0; i < 10000000; ++i) sheetData += "<c r=\"A2\"><v>1</v></c>";
            sheetData += "</row>";
            break;
        default:  // blanks that unpack a thousandfold
            what = "1 GB of blanks in the sheet";
            sheetData = std::string(std::size_t{1} << 30, ' ');
            break;
    }
    return workbookParts(sheetData, strings);
}

void compareSheets(const std::string& self, const std::string& folder, long rows) {
    const std::string python = debianPython();
    std::printf(
        "\n%ld-row sheet, column A from row 2 (goals: at most 0.3x openpyxl's time and "
        "300 MB)\n",
        rows);
    for (const bool inlineStrings : {true, false}) {
        const std::string path = folder + (inlineStrings ? "/inline.xlsx" : "/shared.xlsx");
        if (!writeSheet(path, rows, inlineStrings)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            continue;
        }
        const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1048576.0;
        const ChildRun ours = runChild({self, "--import", path});
        std::printf("  %s strings (%.1f MB file)\n", inlineStrings ? "inline" : "shared",
                    megabytes);
        std::printf("    kelvane   %7.2f s  %7.0f MB peak  %s\n", ours.seconds, ours.peakMegabytes,
                    ours.output.c_str());
        if (python.empty()) {
            std::printf("    openpyxl  not found (bash scripts/bench installs python3-openpyxl)\n");
            continue;
        }
        const ChildRun theirs =
            runChild({python, "-c", std::string(kOpenpyxlScript) + kPeakLine, path});
        if (!theirs.ran) {
            std::printf("    openpyxl  %s (bash scripts/bench installs python3-openpyxl)\n",
                        theirs.output.c_str());
            continue;
        }
        std::printf("    openpyxl  %7.2f s  %7.0f MB peak  %s\n", theirs.seconds,
                    theirs.peakMegabytes, theirs.output.c_str());
        std::printf("    ratio     %7.2fx time  %6.2fx memory\n", ours.seconds / theirs.seconds,
                    ours.peakMegabytes / theirs.peakMegabytes);
    }
}

void hostileFiles(const std::string& self, const std::string& folder) {
    std::printf("\nsmall hostile workbooks (goal: read or refused within 1 GB and 30 s)\n");
    for (int number = 0; number < 4; ++number) {
        const std::string path = folder + "/hostile-" + std::to_string(number) + ".xlsx";
        std::string what;
        if (!writePackage(path, hostileWorkbook(number, what))) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            continue;
        }
        const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / 1048576.0;
        const ChildRun run = runChild({self, "--import", path});
        std::printf("  %-36s %5.2f MB  %6.2f s  %6.0f MB peak  %s\n", what.c_str(), megabytes,
                    run.seconds, run.peakMegabytes, run.output.c_str());
        std::filesystem::remove(path);
    }
}

#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--import") return importInChild(argv[2]);
    if (const int status = bench::start(argc, argv,
                                        "usage: import_bench [TEXT-LINES (1000000)] "
                                        "[SHEET-ROWS (1048576)]\n"
                                        "needs: python3 (with python3-openpyxl)\n",
                                        {"python3"});
        status >= 0)
        return status;
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long rows = argc > 2 ? std::atol(argv[2]) : 1048576;
    std::string pattern = (std::filesystem::temp_directory_path() / "import-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = pattern;

    std::string text;
    text.reserve(static_cast<std::size_t>(lines) * 48);
    for (long id = 1; id <= lines; ++id) text += nameOf(id) + "\r\n";
    const std::string utf8Path = folder + "/list.txt";
    const std::string gbkPath = folder + "/list-gbk.txt";
    std::ofstream(utf8Path, std::ios::binary) << text;
    std::ofstream(gbkPath, std::ios::binary) << host::utf8ToGbk(text);
    text.clear();
    text.shrink_to_fit();

    std::printf("text list import (goal: under 2 s each)\n");
    timeImport("text list, UTF-8", utf8Path, lines, 1);
    timeImport("text list, GBK", gbkPath, lines, 1);

#ifdef KELVANE_BENCH_SPREADSHEETS
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    compareSheets(self, folder, rows);
    hostileFiles(self, folder);
#else
    (void)rows;
#endif

    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
