// torrin's window: the source-folder grid with its buttons, the target, the
// threshold and the options, and the button that starts a copy run. The
// settings are read when it opens and saved when it closes.
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "grid/grid.h"
#include "host/host.h"
#include "host/qt/busy.h"
#include "host/qt/script_window.h"
#include "torrin/engine/rcopy.h"
#include "torrin/torapp.h"

class QCheckBox;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTimer;

namespace grid {
class GridView;
}

namespace torrin {

class w_copy : public QWidget {
    Q_OBJECT

  public:
    // Throws std::runtime_error when the grid definition cannot be read.
    w_copy(host::Host& host, const torapp& app, QWidget* parent = nullptr);
    ~w_copy() override;

    // Window state.
    std::string ls_path2;    // folder chosen in the target dialog
    bool ib_flag = false;    // header sort direction: false = descending next
    long i_lng_lastrow = 0;  // anchor row of Shift-clicks, 0 = none yet
    std::string sfth = "y";  // the settings' "y"/"n" switches, one copy per window
    std::string bkycwj = "y";
    std::string qmljg = "y";
    int lx = 55;

    grid::Grid& dw_1() { return *grid_; }
    grid::GridView& gridView() const { return *dw_1_; }
    host::Host& hostServices() { return host_; }
    host::BusyIndicator& busy() { return *busy_; }
    const torapp& app() const { return app_; }
    // The last run from this window, when there was one.
    const RunResult* lastRun() const { return hasRun_ ? &lastRun_ : nullptr; }

    // The controls, named as the scripts know them (also their object names).
    QGroupBox* gb_1() const noexcept { return gb_1_; }
    QPushButton* pb_2() const noexcept { return pb_2_; }
    QPushButton* cb_6() const noexcept { return cb_6_; }
    QPushButton* cb_9() const noexcept { return cb_9_; }
    QPushButton* cb_8() const noexcept { return cb_8_; }
    QPushButton* cb_11() const noexcept { return cb_11_; }
    QGroupBox* gb_2() const noexcept { return gb_2_; }
    QLabel* st_1() const noexcept { return st_1_; }
    QLineEdit* sle_2() const noexcept { return sle_2_; }
    QPushButton* pb_1() const noexcept { return pb_1_; }
    QLabel* st_2() const noexcept { return st_2_; }
    QLineEdit* em_1() const noexcept { return em_1_; }
    QCheckBox* cbx_1() const noexcept { return cbx_1_; }
    QCheckBox* cbx_4() const noexcept { return cbx_4_; }
    QLabel* st_3() const noexcept { return st_3_; }
    QRadioButton* rb_1() const noexcept { return rb_1_; }
    QRadioButton* rb_2() const noexcept { return rb_2_; }
    QLabel* progress() const noexcept { return progress_; }
    QPushButton* cb_1() const noexcept { return cb_1_; }
    QListWidget* lb_1() const noexcept { return lb_1_; }

    // Path and date fields as bytes: unchanged since set, the bytes they were
    // set from (a name that is not valid UTF-8 survives).
    std::string fieldText(const QLineEdit* field) const;
    void setFieldText(QLineEdit* field, const std::string& text);

    // Runs a control's script: refused while a run is active; an unexpected
    // exception is reported (empty title) and the window stays open.
    void runScript(const std::string& event, const std::function<void()>& script);

    // In-place editing of a ypath cell.
    void editCell(long row);
    bool isEditing() const noexcept { return editingRow_ > 0; }
    QLineEdit* cellEditor() const noexcept { return cellEditor_; }
    // Stores a pending cell edit in the grid; false when none was pending.
    bool commitEdit();
    void cancelEdit();

    // The grid's click rules, also used by the mouse handling.
    void clickRow(long row, Qt::KeyboardModifiers modifiers);
    void clickHeader(Qt::KeyboardModifiers modifiers);

    // The buttons' scripts.
    void pb_2_clicked();
    void cb_6_clicked();
    void cb_9_clicked();
    void cb_8_clicked();
    void cb_11_clicked();
    void pb_1_clicked();
    void cb_1_clicked();

    // The threshold a run uses for what the field shows: the text itself,
    // except that the end time a run left in the field stands for that run's
    // start time (files changed during the run are then not missed), or for
    // the run's own threshold when the run could not store its start time.
    // Asks whether to use folders now on other disks than last time; false:
    // the user said no, and nothing runs.
    bool acceptChangedDisks(RunDescription& run);
    std::string effectiveThreshold() const;
    std::vector<std::string> sourceRows() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildControls();
    void connectScripts();
    void open();
    // Writes the settings as the window shows them; the caller holds the
    // settings' lock, or the folder takes none.
    void saveSettings();
    // The close's save; false while it waits for a scheduled run.
    bool saveOnClose();
    // The window never waits on the settings' lock, which a scheduled run
    // holds for the whole run: what is to be written (the target chosen, the
    // close's settings) is written once the lock is free, tried again by a
    // timer meanwhile (retryWaiting), so the window stays responsive.
    // False, with nothing written, while a run holds the lock.
    bool writeWaiting();
    void retryWaiting();

    host::Host& host_;
    torapp app_;
    std::unique_ptr<grid::Grid> grid_;
    // Children of the window, which owns and deletes them.
    QGroupBox* gb_1_ = nullptr;
    grid::GridView* dw_1_ = nullptr;
    QPushButton* pb_2_ = nullptr;
    QPushButton* cb_6_ = nullptr;
    QPushButton* cb_9_ = nullptr;
    QPushButton* cb_8_ = nullptr;
    QPushButton* cb_11_ = nullptr;
    QGroupBox* gb_2_ = nullptr;
    QLabel* st_1_ = nullptr;
    QLineEdit* sle_2_ = nullptr;
    QPushButton* pb_1_ = nullptr;
    QLabel* st_2_ = nullptr;
    QLineEdit* em_1_ = nullptr;
    QCheckBox* cbx_1_ = nullptr;
    QCheckBox* cbx_4_ = nullptr;
    QLabel* st_3_ = nullptr;
    QRadioButton* rb_1_ = nullptr;
    QRadioButton* rb_2_ = nullptr;
    QLabel* progress_ = nullptr;
    QPushButton* cb_1_ = nullptr;
    QListWidget* lb_1_ = nullptr;
    std::unique_ptr<host::BusyIndicator> busy_;
    host::FieldTexts fields_;
    QLineEdit* cellEditor_ = nullptr;
    long editingRow_ = 0;
    host::ShownBytes editOrigin_;
    Qt::KeyboardModifiers clickModifiers_;
    RunResult lastRun_;
    bool hasRun_ = false;
    std::string shownEndStandsFor_;  // what the end time a run left in the field means
    // The threshold stored in the settings as far as this window knows: read
    // when it opened, or stored by its own run. The close writes "fdt" only
    // when the field says otherwise (the user typed one), so a window left
    // open never writes back a threshold a scheduled run has moved on.
    std::string storedThreshold_;
    bool settingsSaved_ = false;
    bool destroying_ = false;
    QTimer* lockRetry_ = nullptr;
    bool targetWaiting_ = false;  // ls_path2 is to be stored
    bool closeWaiting_ = false;   // the close is to save and close
};

}  // namespace torrin
