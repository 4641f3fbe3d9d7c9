#include "kelvane/check/check_engine.h"

#include <cctype>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <vector>

#include "base/numbers_and_dates.h"
#include "common/ordered_work.h"
#include "grid/redraw_pause.h"
#include "host/fs.h"
#include "host/gbk_positions.h"

namespace kelvane {

namespace {

long appendDuplicate(grid::Grid& duplicates, std::string_view name, double number) {
    const long row = duplicates.insertrow(0);
    duplicates.setitem(row, "dmd", name);
    duplicates.setitem(row, "dxh", number);
    return row;
}

void appendFinding(grid::Grid& dw_3, std::string_view zml1) {
    const long row = dw_3.insertrow(0);
    dw_3.setitem(row, "dmd", zml1);
    dw_3.setitem(row, "dxh", static_cast<double>(row));
}

std::string filterFor(std::string_view shown) {
    if (shown.empty() || shown == "全部") return {};
    // The filter's quoted literal escapes with "~"; result texts hold neither
    // "~" nor "'", but a caller's text might.
    std::string expression = "jg = '";
    for (char c : shown) {
        if (c == '~' || c == '\'') expression += '~';
        expression += c;
    }
    return expression + "'";
}

// For each name, whether its two files' contents differ (or either cannot be
// read). The pairs are shared out among the workers as each becomes free: a
// pair of small files costs little more than the hand-over would.
// The names are read from `list` on the workers, which only read it.
std::vector<char> contentsDiffer(const grid::Grid& list, const std::vector<long>& rows,
                                 const CheckSettings& settings,
                                 const host::ProgressSink& progress) {
    const int md = list.columnIndex("md");
    // The calling thread is one of the workers.
    common::WorkerPool pool(settings.workers > 1 ? settings.workers - 1 : 0);
    std::vector<std::unique_ptr<host::ContentComparer>> comparers;
    for (int thread = 0; thread <= pool.threads(); ++thread)
        comparers.push_back(std::make_unique<host::ContentComparer>());
    std::vector<char> differ(rows.size());
    common::runEachIndex(pool, rows.size(), [&](std::size_t i, int thread) {
        // Asked to stop, the pairs not yet begun are left; the caller drops them all.
        if (progress.stopRequested()) return;
        grid::TextBuffer buffer;
        const grid::TextPieces name = list.textPieces(rows[i], md, buffer);
        std::string fileall1 = settings.ls_path1, fileall2 = settings.ls_path2;
        name.appendTo(fileall1);
        name.appendTo(fileall2);
        differ[i] = comparers[static_cast<std::size_t>(thread)]->compare(fileall1, fileall2) !=
                    host::ContentComparison::Same;
    });
    return differ;
}

}  // namespace

CheckOption checkOption(std::string_view addszf) noexcept {
    if (addszf.empty() || !base::isNumber(addszf)) return CheckOption::None;
    if (addszf == "1") return CheckOption::Length;
    if (addszf == "2") return CheckOption::Modified;
    if (addszf == "3") return CheckOption::LengthAndModified;
    if (addszf == "5") return CheckOption::Content;
    return CheckOption::LengthOrModified;
}

bool optionInForce(CheckOption addszf) noexcept {
    return addszf != CheckOption::None;
}

std::string optionHeading(CheckOption addszf) {
    switch (addszf) {
        case CheckOption::Length:
            return "文件的长度不同的名单";
        case CheckOption::Modified:
            return "文件的修改日期不同的名单";
        case CheckOption::LengthAndModified:
            return "文件的长度和修改日期都不同的名单";
        case CheckOption::Content:
            return "文件的内容不同的名单";
        case CheckOption::None:
        case CheckOption::LengthOrModified:
            break;
    }
    return "文件的长度或修改日期不同的名单";
}

bool comparesContent(CheckOption addszf) noexcept {
    return addszf == CheckOption::Content;
}

long removeDuplicates(grid::Grid& list, grid::Grid& duplicates) {
    list.setsort("md   A");
    list.sort();
    const int md = list.columnIndex("md");
    const long count = list.rowcount();
    std::vector<long> repeated;
    // The name of the run's first row, read in place (no copies on a million
    // rows), in the buffer the next row does not use.
    grid::TextBuffer buffers[2];
    int spare = 0;
    grid::TextPieces first;
    for (long row = 1; row <= count; ++row) {
        const grid::TextPieces name = list.textPieces(row, md, buffers[spare]);
        if (!name.empty() && name == first) {
            appendDuplicate(duplicates, name.text(), list.getitemnumber(row, "xh"));
            repeated.push_back(row);
        } else {
            first = name;
            spare ^= 1;
        }
    }
    // One pass over the rows instead of a deletion (and a shift) per repeat.
    list.deleterows(repeated);
    return static_cast<long>(repeated.size());
}

namespace {

// What the length and date options compare of one file. A file that is not
// there has neither value, and two such compare alike; one whose status
// cannot be read (a folder on its path that may be listed but not
// searched) gives the failure instead, since nothing is known of it.
struct ComparedFacts {
    std::optional<std::int64_t> length;
    std::optional<std::time_t> modified;
};

host::Result<ComparedFacts> comparedFacts(const std::string& path) {
    ComparedFacts facts;
    host::Result<std::int64_t> length = host::fileLength(path);
    if (!length) {
        if (host::lookUpEntry(path).kind == host::EntryInfo::Kind::Unreadable)
            return std::move(length).error();
        return facts;
    }
    facts.length = *length;
    // Instants, not the local texts the lists show: in the hour a clock
    // turns back two times read alike.
    if (const std::optional<host::FileTimes> times = host::fileTimes(path))
        facts.modified = times->modified;
    return facts;
}

}  // namespace

host::Result<bool> filesDiffer(const std::string& zml1, const CheckSettings& settings) {
    const std::string fileall1 = settings.ls_path1 + zml1;
    const std::string fileall2 = settings.ls_path2 + zml1;
    const CheckOption option = settings.addszf;
    if (comparesContent(option))
        return host::ContentComparer().compare(fileall1, fileall2) != host::ContentComparison::Same;
    const host::Result<ComparedFacts> facts1 = comparedFacts(fileall1);
    if (!facts1) return facts1.error();
    const host::Result<ComparedFacts> facts2 = comparedFacts(fileall2);
    if (!facts2) return facts2.error();
    const bool lengthsDiffer = facts1->length != facts2->length;
    const bool timesDiffer = facts1->modified != facts2->modified;
    if (option == CheckOption::Length) return lengthsDiffer;
    if (option == CheckOption::Modified) return timesDiffer;
    if (option == CheckOption::LengthAndModified) return lengthsDiffer && timesDiffer;
    return lengthsDiffer || timesDiffer;
}

bool addhd(const std::string& zml1, const CheckSettings& settings, grid::Grid& dw_3,
           host::ProgressSink& progress) {
    const host::Result<bool> differ = filesDiffer(zml1, settings);
    if (!differ) progress.failed(zml1, differ.error());
    const bool listed = !differ || *differ;
    if (listed) appendFinding(dw_3, zml1);
    return listed;
}

CheckSummary mdhd(CheckGrids grids, const CheckSettings& settings, bool& zfmdxg,
                  host::ProgressSink& progress) {
    // Repainting every changed row of a million would dominate the check; the
    // check ends with every list shown, as cb_16 (which pauses two of them
    // around its walks) and xsjg expect.
    using grid::RedrawPause;
    const RedrawPause pause1(grids.dw_1, RedrawPause::End::TurnOn),
        pause2(grids.dw_2, RedrawPause::End::TurnOn), pause3(grids.dw_3, RedrawPause::End::TurnOn),
        pause4(grids.dw_4, RedrawPause::End::TurnOn);
    CheckSummary summary;
    const bool option = optionInForce(settings.addszf);
    summary.duplicates1 = removeDuplicates(grids.dw_1, grids.dw_3);
    summary.duplicates2 = removeDuplicates(grids.dw_2, grids.dw_4);

    // Contents are compared after the matching, on the workers: the rows of
    // list 1 whose files to compare, in their order.
    const bool content = option && comparesContent(settings.addszf);
    std::vector<long> compared;
    const long count1 = grids.dw_1.rowcount();
    const long count2 = grids.dw_2.rowcount();
    const int md1 = grids.dw_1.columnIndex("md");
    const int md2 = grids.dw_2.columnIndex("md");
    // Both lists are now in byte order of md and list 2 holds each name once,
    // so one pass over both finds every name's partner, the row a search of
    // list 2 for it would find, without an index of a million names. Names
    // with "'" or "~" need no special path since nothing is quoted.
    grid::TextBuffer buffer1, buffer2;
    std::string name;
    long partner = 1;
    for (long row = 1; row <= count1; ++row) {
        if (progress.stopRequested()) {
            summary.stopped = true;
            break;
        }
        const grid::TextPieces pieces = grids.dw_1.textPieces(row, md1, buffer1);
        name.clear();
        pieces.appendTo(name);
        progress.step(row, name);
        if (name.empty()) continue;
        int order = -1;
        while (partner <= count2 && (order = grid::compareTexts(
                                         grids.dw_2.textPieces(partner, md2, buffer2), pieces)) < 0)
            ++partner;
        if (partner > count2 || order != 0) continue;
        grids.dw_1.setitem(row, "jg", kSame);
        grids.dw_2.setitem(partner, "jg", kSame);
        ++summary.matched;
        if (content) {
            compared.push_back(row);
        } else if (option && addhd(name, settings, grids.dw_3, progress)) {
            ++summary.differing;
        }
    }
    if (content && !summary.stopped) {
        const std::vector<char> differ = contentsDiffer(grids.dw_1, compared, settings, progress);
        // Findings of a comparison cut short would not be the option's.
        summary.stopped = progress.stopRequested();
        for (std::size_t i = 0; i < compared.size() && !summary.stopped; ++i) {
            if (!differ[i]) continue;
            appendFinding(grids.dw_3, grids.dw_1.getitemstring(compared[i], "md"));
            ++summary.differing;
        }
    }

    if (option) {
        zfmdxg = true;
        grids.dw_3.modify("dmd_t.text = '" + optionHeading(settings.addszf) + "'");
    } else if (zfmdxg) {
        grids.dw_3.modify("dmd_t.text = '" + std::string(kDuplicateHeading1) + "'");
    }
    return summary;
}

void showRows(grid::Grid& dw_1, grid::Grid& dw_2, std::string_view shown) {
    const std::string expression = filterFor(shown);
    for (grid::Grid* grid : {&dw_1, &dw_2}) {
        grid->setfilter(expression);
        grid->filter();
    }
}

bool namesListFile(std::string_view field) {
    std::string ending = host::gbkRight(field, 4);
    for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ending == ".txt" || ending == ".xls" || ending == "xlsx" || ending == ".csv";
}

void hywjj(grid::Grid& dw9, std::string_view lswjj) {
    const grid::RedrawPause pause(dw9);
    const long count = dw9.rowcount();
    const int md = dw9.columnIndex("md");
    std::string name;
    for (long row = 1; row <= count; ++row) {
        name.assign(lswjj);
        name += dw9.cellText(row, md);
        dw9.setitem(row, "md", name);
    }
}

void invertSelection(grid::Grid& list) {
    const grid::RedrawPause pause(list);
    for (long row = 1; row <= list.rowcount(); ++row) list.selectrow(row, !list.isselected(row));
}

long removeSelected(grid::Grid& list) {
    std::vector<long> selected;
    for (long row = 1; row <= list.rowcount(); ++row) {
        if (list.isselected(row)) selected.push_back(row);
    }
    return list.deleterows(selected);
}

}  // namespace kelvane
