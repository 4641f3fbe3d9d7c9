// The window's check and result scripts: cb_4 and cb_16 run the check engine
// on the window's grids; ddlb_1, the radio buttons and the list buttons work
// on what it leaves shown.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <memory>
#include <optional>
#include <string_view>

#include "base/text.h"
#include "common/ordered_work.h"
#include "grid/redraw_pause.h"
#include "host/fs.h"
#include "host/qt/qt_text.h"
#include "kelvane/check/check_engine.h"
#include "kelvane/window/check_scripts.h"
#include "kelvane/window/list_import.h"
#include "kelvane/window/scripts.h"
#include "kelvane/window/w_htmd.h"
#include "kelvane/window/walk_scripts.h"

namespace kelvane {

namespace {

void cb_20_clicked(w_htmd& window) {
    if (window.dw_1().rowcount() == 0) return;
    auto* button = window.cb_20();
    QFont font = button->font();
    font.setItalic(true);
    button->setFont(font);
    invertSelection(window.dw_1());
    font.setItalic(false);
    button->setFont(font);
}

void cb_19_clicked(w_htmd& window) {
    if (window.dw_1().rowcount() == 0) {
        window.hostServices().messageBox("提示", "还没有源文件");
        return;
    }
    removeSelected(window.dw_1());
}

void cb_18_clicked(w_htmd& window) {
    if (window.list1Chosen()) {
        hywjj(window.dw_1(), window.ls_path1);
    } else {
        hywjj(window.dw_2(), window.ls_path2);
    }
}

void ddlb_1_modified(w_htmd& window) {
    const std::string shown = host::fromQString(window.ddlb_1()->currentText());
    showRows(window.dw_1(), window.dw_2(), shown);
}

// The filter ddlb_1 last put in force, so that a choice refused while the
// window is busy can be taken back.
constexpr const char* kShownInForce = "shownInForce";

void showChoiceInForce(w_htmd& window, int index) {
    auto* ddlb_1 = window.ddlb_1();
    const QSignalBlocker quiet(ddlb_1);
    ddlb_1->setCurrentIndex(index);
    ddlb_1->setProperty(kShownInForce, index);
}

// rb_1 and rb_2 keep each other's opposite, whatever the click did.
void radioClicked(QRadioButton* clicked, QRadioButton* other) {
    other->setChecked(!clicked->isChecked());
}

// One list's filling for the simple check, made on the window's thread: a
// list file is imported, anything else walked as the list's root folder.
struct ListFill {
    std::optional<ListFileImport> import;
    std::optional<ListWalk> walk;

    void run(host::ProgressSink& progress) {
        if (import) import->run(progress);
        if (walk) walk->run(progress);
    }
    void report() {
        if (import) import->report();
    }
};

void prepareFill(ListFill& fill, w_htmd& window, QLineEdit* field, grid::Grid& grid,
                 std::string& root, ListWalk (*walkOf)(w_htmd&, const std::string&)) {
    const std::string text = window.fieldText(field);
    if (namesListFile(text)) {
        fill.import.emplace(window, text, grid);
    } else {
        root = text;
        fill.walk.emplace(walkOf(window, root));
    }
}

// The steps of the list filled beside the one whose progress is shown: its
// stop and its failures are the run's, its steps are not shown.
class StopOnly : public host::ProgressSink {
  public:
    explicit StopOnly(host::ProgressSink& run) : run_(run) {}
    void step(long, std::string_view) override {}
    // The run's sink takes failures from any thread.
    void failed(std::string_view item, const host::Failure& failure) override {
        run_.failed(item, failure);
    }
    bool stopRequested() const noexcept override { return run_.stopRequested(); }

  private:
    host::ProgressSink& run_;
};

// Fills both lists at once, on two threads (they share nothing), list 1's
// progress shown; then says what each import met, list 1's first.
void fillBothLists(w_htmd& window) {
    ListFill fills[2];
    prepareFill(fills[0], window, window.sle_1(), window.dw_1(), window.ls_path1, &walkOfList1);
    prepareFill(fills[1], window, window.sle_2(), window.dw_2(), window.ls_path2, &walkOfList2);
    window.runOnWorker([&](host::ProgressSink& progress) {
        StopOnly beside(progress);
        common::WorkerPool helper(1);
        common::runEachIndex(helper, 2, [&](std::size_t list, int) {
            fills[list].run(list == 0 ? static_cast<host::ProgressSink&>(progress) : beside);
        });
    });
    fills[0].report();
    fills[1].report();
}

template <typename Script>
void connectButton(w_htmd& window, QPushButton* button, Script script) {
    QObject::connect(button, &QPushButton::clicked, &window, [&window, script] {
        window.runScript([&window, script] { script(window); });
    });
}

}  // namespace

void mdhd(w_htmd& window) {
    window.addszf = checkOption(host::fromQString(window.ddlb_2()->currentText().left(1)));
    CheckSettings settings{window.ls_path1, window.ls_path2, window.addszf,
                           common::storedWorkers(window.profile())};
    window.runOnWorker([&](host::ProgressSink& progress) {
        mdhd({window.dw_1(), window.dw_2(), window.dw_3(), window.dw_4()}, settings, window.zfmdxg,
             progress);
    });
}

void xsjg(w_htmd& window) {
    showRows(window.dw_1(), window.dw_2(), kDifferent);
    // Set by program: the filter is already in force, so ddlb_1's script must not run.
    showChoiceInForce(window, 2);
    window.hostServices().messageBox("提示", "核对结束");
}

void cb_4_clicked(w_htmd& window) {
    {
        host::BusyRun run(window.busy());
        mdhd(window);
    }
    xsjg(window);
}

// A folder typed wrong would be walked as an empty list: every name of the
// other list would then look missing. Said at once instead, with its path;
// something there that cannot be listed is reported by the walk, with why.
bool foldersExist(w_htmd& window) {
    for (const auto& [field, missing] : {std::pair{window.sle_1(), "源文件夹不存在:"},
                                         std::pair{window.sle_2(), "目标文件夹不存在:"}}) {
        const std::string text = window.fieldText(field);
        if (base::trim(text).empty() || namesListFile(text) ||
            host::lookUpEntry(text).kind != host::EntryInfo::Kind::Missing)
            continue;
        window.hostServices().messageBox("提示", missing + base::quotedName(text));
        return false;
    }
    return true;
}

void cb_16_clicked(w_htmd& window) {
    window.lx = window.cbx_1()->isChecked() ? 55 : 16;
    if (!foldersExist(window)) return;
    {
        host::BusyRun run(window.busy());
        const grid::RedrawPause pause1(window.dw_1()), pause2(window.dw_2());
        for (int n = 1; n <= 4; ++n) window.dw(n).reset();
        fillBothLists(window);
        mdhd(window);
    }
    xsjg(window);
}

void connectCheckScripts(w_htmd& window) {
    connectButton(window, window.cb_4(), cb_4_clicked);
    connectButton(window, window.cb_16(), cb_16_clicked);
    connectButton(window, window.cb_20(), cb_20_clicked);
    connectButton(window, window.cb_19(), cb_19_clicked);
    connectButton(window, window.cb_18(), cb_18_clicked);
    connectButton(window, window.cb_2(), [](w_htmd& w) { w.chosenGrid().reset(); });
    connectButton(window, window.cb_5(),
                  [](w_htmd& w) { w.chosenGrid().saveas(w.hostServices()); });
    connectButton(window, window.cb_7(), [](w_htmd& w) { w.dw_3().saveas(w.hostServices()); });
    connectButton(window, window.cb_8(), [](w_htmd& w) { w.dw_4().saveas(w.hostServices()); });
    connectButton(window, window.cb_6(),
                  [](w_htmd& w) { w.hostServices().setClipboardText(w.dw_3().datatext()); });
    connectButton(window, window.cb_21(),
                  [](w_htmd& w) { w.hostServices().setClipboardText(w.dw_4().datatext()); });

    // The list chosen while the window was free; a click refused while it is
    // busy puts both radio buttons back to it.
    auto* rb_1 = window.rb_1();
    auto* rb_2 = window.rb_2();
    auto list1InForce = std::make_shared<bool>(rb_1->isChecked());
    QObject::connect(rb_1, &QRadioButton::toggled, &window, [&window, list1InForce](bool checked) {
        if (!window.busy().isBusy()) *list1InForce = checked;
    });
    const auto radio = [&window, rb_1, rb_2, list1InForce](QRadioButton* clicked,
                                                           QRadioButton* other) {
        if (window.runScript([clicked, other] { radioClicked(clicked, other); })) return;
        const QSignalBlocker quiet1(rb_1);
        const QSignalBlocker quiet2(rb_2);
        rb_1->setChecked(*list1InForce);
        rb_2->setChecked(!*list1InForce);
    };
    QObject::connect(rb_1, &QRadioButton::clicked, &window,
                     [radio, rb_1, rb_2] { radio(rb_1, rb_2); });
    QObject::connect(rb_2, &QRadioButton::clicked, &window,
                     [radio, rb_1, rb_2] { radio(rb_2, rb_1); });

    auto* ddlb_1 = window.ddlb_1();
    ddlb_1->setProperty(kShownInForce, ddlb_1->currentIndex());
    QObject::connect(ddlb_1, &QComboBox::currentIndexChanged, &window,
                     [&window, ddlb_1](int index) {
                         if (window.runScript([&window] { ddlb_1_modified(window); })) {
                             ddlb_1->setProperty(kShownInForce, index);
                         } else {
                             showChoiceInForce(window, ddlb_1->property(kShownInForce).toInt());
                         }
                     });
}

}  // namespace kelvane
