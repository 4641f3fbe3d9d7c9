// kelvane's window with lists of a million rows, driven as a person drives it
// (the window's own controls, scripts, grids, models and tables), on the
// offscreen platform unless QT_QPA_PLATFORM says otherwise.
//
//   window_bench lists [files=1000000] [--rounds N]
//     Both lists as a check of `files` names against the same names less a
//     tenth leaves them (the names of bench/tree_generator's tree, in walk
//     order), then, each timed with the repaint of the lists, median of N
//     rounds: the first click on the name heading of list 1 with every row
//     shown (the list in the order the walk gave, and in the order the check
//     left); "显示" switched between "全部" and "不同"; a jump to the last row
//     of list 1.
//   window_bench check SOURCE TARGET
//     One "开始核对" on two folders: prints its seconds, the rows of both
//     lists and the process's peak memory (memory_bench runs it beside
//     `kelvane check` on the same trees).
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_start.h"
#include "bench/tree_generator.h"
#include "grid/qt/grid_view.h"
#include "host/host.h"
#include "kelvane/window/w_htmd.h"

namespace {

using Clock = std::chrono::steady_clock;

// Answers every question at once, as a person who clicks OK would.
class BenchHost : public host::Host {
  public:
    std::vector<std::string> messages;

    void messageBox(const std::string&, const std::string& text) override {
        messages.push_back(text);
    }
    int questionBox(const std::string&, const std::string&, host::MessageIcon, host::MessageButtons,
                    int) override {
        return host::kButtonOk;
    }
    host::DialogResult folderDialog(const std::string&) override { return {}; }
    host::DialogResult fileOpenDialog(const std::string&, const std::string&,
                                      const std::string&) override {
        return {};
    }
    host::SaveDialogResult fileSaveDialog(const std::string&) override { return {}; }
    std::string clipboardText() override { return {}; }
    void setClipboardText(const std::string&) override {}
    bool startProgram(const std::string&, const std::vector<std::string>&) override {
        return false;
    }
    void openWithAssociatedProgram(const std::string&, std::function<void()>) override {}
    void processEvents() override { QApplication::processEvents(); }
};

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

long peakKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

// The window on a settings file of its own, in a fresh folder.
struct Window {
    explicit Window(const std::string& folder) : window(host, folder + "/selmo1.ini", 1024, 768) {
        window.show();
        QApplication::processEvents();
    }
    QTableView* table(int list) { return window.gridView(list).tableView(); }
    // What a person sees once the event loop has run: both lists painted.
    void settle() {
        QApplication::processEvents();
        table(1)->viewport()->repaint();
        table(2)->viewport()->repaint();
    }

    BenchHost host;
    kelvane::w_htmd window;
};

void append(grid::Grid& list, const std::vector<std::string>& names, std::size_t skipEvery) {
    list.setredraw(false);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (skipEvery && i % skipEvery == 3) continue;
        list.insertrow(0);
        const long row = list.rowcount();
        list.setitem(row, "xh", static_cast<double>(row));
        list.setitem(row, "md", names[i]);
        list.setitem(row, "jg", "不同");
    }
    list.setredraw(true);
}

int lists(long files, int rounds, const std::string& folder) {
    bench::TreeShape shape;
    shape.files = files;
    const std::vector<std::string> names = bench::generateNames(shape);
    Window w(folder);
    auto& window = w.window;
    auto* ddlb_1 = window.ddlb_1();
    QHeaderView* heading = w.table(1)->horizontalHeader();
    const auto clickName = [&] { emit heading->sectionClicked(0); };
    const auto show = [&](const char* shown) { ddlb_1->setCurrentText(QString::fromUtf8(shown)); };
    // Each round starts from the order under test, put back untimed.
    const auto timeFirstClick = [&](const std::function<void()>& prepare) {
        std::vector<double> times;
        for (int round = 0; round < rounds; ++round) {
            prepare();
            w.settle();
            const auto start = Clock::now();
            clickName();
            w.settle();
            times.push_back(millisecondsSince(start));
            clickName();  // the heading sorts the other way next; back to the first way
        }
        return median(times);
    };

    append(window.dw_1(), names, 0);
    append(window.dw_2(), names, 10);
    w.settle();
    std::printf("list 1: %ld rows, list 2: %ld rows (names of %zu bytes on average)\n",
                window.dw_1().rowcount(), window.dw_2().rowcount(), [&] {
                    std::size_t bytes = 0;
                    for (const auto& name : names) bytes += name.size();
                    return names.empty() ? 0 : bytes / names.size();
                }());
    const double walked = timeFirstClick([&] {
        window.dw_1().setsort("xh A");
        window.dw_1().sort();
    });

    auto start = Clock::now();
    window.cb_4()->click();
    w.settle();
    std::printf("核对名单 (check): %.0f ms; list 1 shows %ld rows, list 2 %ld\n",
                millisecondsSince(start), window.dw_1().rowcount(), window.dw_2().rowcount());

    std::vector<double> toAll, toDifferent;
    for (int round = 0; round < rounds; ++round) {
        start = Clock::now();
        show("全部");
        w.settle();
        toAll.push_back(millisecondsSince(start));
        start = Clock::now();
        show("不同");
        w.settle();
        toDifferent.push_back(millisecondsSince(start));
    }
    show("全部");
    w.settle();
    const double checked = timeFirstClick([&] {
        window.dw_1().setsort("md A");
        window.dw_1().sort();
    });
    std::vector<double> shuffledTimes;
    {
        // Rows in no order at all: sorted by a column of random numbers first.
        std::vector<double> times;
        for (int round = 0; round < rounds; ++round) {
            grid::Grid& list = window.dw_1();
            list.setredraw(false);
            unsigned state = 12345u + static_cast<unsigned>(round);
            for (long row = 1; row <= list.rowcount(); ++row) {
                state = state * 1103515245u + 12345u;
                list.setitem(row, "xh", static_cast<double>(state >> 8));
            }
            list.setsort("xh A");
            list.sort();
            list.setredraw(true);
            w.settle();
            start = Clock::now();
            clickName();
            w.settle();
            times.push_back(millisecondsSince(start));
            clickName();
        }
        shuffledTimes = times;
    }

    std::vector<double> jumps;
    QScrollBar* bar = w.table(1)->verticalScrollBar();
    for (int round = 0; round < rounds; ++round) {
        bar->setValue(0);
        w.settle();
        start = Clock::now();
        w.table(1)->scrollToBottom();
        w.settle();
        jumps.push_back(millisecondsSince(start));
    }
    const long lastShown = w.table(1)->rowAt(w.table(1)->viewport()->height() - 1);

    std::printf("\nmedians of %d rounds, each with the repaint of both lists:\n", rounds);
    std::printf(
        "  first click on the name heading, %ld rows in walk order:   %7.1f ms  (goal < 100)\n",
        window.dw_1().rowcount(), walked);
    std::printf(
        "  first click on the name heading, rows as the check left them: %5.1f ms  (goal < 100)\n",
        checked);
    std::printf(
        "  first click on the name heading, rows in random order:  %7.1f ms  (goal < 100)\n",
        median(shuffledTimes));
    std::printf(
        "  显示 全部 (every row of both lists):                      %7.1f ms  (goal < 50)\n",
        median(toAll));
    std::printf(
        "  显示 不同:                                                %7.1f ms  (goal < 50)\n",
        median(toDifferent));
    std::printf("  jump to the last row of list 1 (row %ld in view):     %7.1f ms  (goal < 20)\n",
                lastShown + 1, median(jumps));
    std::printf("peak memory of this process: %.1f MB\n", peakKilobytes() / 1024.0);
    return 0;
}

int check(const std::string& source, const std::string& target, const std::string& folder) {
    Window w(folder);
    auto& window = w.window;
    window.setFieldText(window.sle_1(), source);
    window.setFieldText(window.sle_2(), target);
    const auto start = Clock::now();
    window.cb_16()->click();
    w.settle();
    const double seconds = millisecondsSince(start) / 1000;
    if (w.host.messages.empty() || w.host.messages.back() != "核对结束") {
        std::fprintf(stderr, "window_bench: the check did not end with 核对结束\n");
        return 1;
    }
    std::printf(
        "%.3f s, list 1 %ld + %ld hidden rows, list 2 %ld + %ld hidden rows, peak %.1f MB\n",
        seconds, window.dw_1().rowcount(), window.dw_1().filteredcount(), window.dw_2().rowcount(),
        window.dw_2().filteredcount(), peakKilobytes() / 1024.0);
    return 0;
}

}  // namespace

constexpr const char* kUsage =
    "usage: window_bench lists [files] [--rounds N]\n"
    "       window_bench check SOURCE TARGET\n";

int main(int argc, char** argv) {
    if (const int status = bench::start(argc, argv, kUsage); status >= 0) return status;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    std::string folder = (std::filesystem::temp_directory_path() / "window-bench-XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    int status = 2;
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "lists") {
        long files = 1'000'000;
        int rounds = 5;
        for (int i = 2; i < argc; ++i) {
            if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
                rounds = std::max(1, std::atoi(argv[++i]));
            } else {
                files = std::atol(argv[i]);
            }
        }
        status = lists(files, rounds, folder);
    } else if (mode == "check" && argc == 4) {
        status = check(argv[2], argv[3], folder);
    } else {
        std::fputs(kUsage, stderr);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}
