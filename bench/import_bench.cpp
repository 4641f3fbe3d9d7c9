// Speed of filling a list from list files: a text list of a million names
// (UTF-8 and GBK) and a 100,000-row .xlsx column, each imported into an empty
// list with the renumbering that follows every import. The files are made in
// a temporary folder and removed afterwards.
//
// import_bench [text lines] [xlsx rows]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "grid/grid.h"
#include "host/progress.h"
#include "host/text.h"
#include "kelvane/import/list_rows.h"

#ifdef KELVANE_BENCH_SPREADSHEETS
#include <xlsxwriter.h>
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
    host::Grid grid(host::loadGridDefinition("htmd1"));
    host::NullProgress progress;
    const Clock::time_point start = Clock::now();
    const long added = kelvane::importListFile(grid, path, firstRow, 1, progress);
    const double seconds = secondsSince(start);
    std::printf("%-34s %9ld rows  %6.3f s%s\n", what, added, seconds,
                added == expected ? "" : "  (unexpected row count)");
}

}  // namespace

int main(int argc, char** argv) {
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long rows = argc > 2 ? std::atol(argv[2]) : 100000;
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

    std::printf("list import (goal: under 2 s each)\n");
    timeImport("text list, UTF-8", utf8Path, lines, 1);
    timeImport("text list, GBK", gbkPath, lines, 1);

#ifdef KELVANE_BENCH_SPREADSHEETS
    const std::string xlsxPath = folder + "/list.xlsx";
    lxw_workbook* workbook = workbook_new(xlsxPath.c_str());
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    worksheet_write_string(sheet, 0, 0, "文件名", nullptr);
    worksheet_write_string(sheet, 0, 1, "长度", nullptr);
    for (long id = 1; id <= rows; ++id) {
        worksheet_write_string(sheet, static_cast<lxw_row_t>(id), 0, nameOf(id).c_str(), nullptr);
        worksheet_write_number(sheet, static_cast<lxw_row_t>(id), 1, static_cast<double>(id) * 1.5,
                               nullptr);
    }
    if (workbook_close(workbook) != LXW_NO_ERROR) {
        std::fprintf(stderr, "cannot write %s\n", xlsxPath.c_str());
        return 1;
    }
    timeImport("xlsx column (shared strings)", xlsxPath, rows, 2);
#else
    (void)rows;
#endif

    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
