// kelvane's main window: every control, the four grids, the state the list
// operations share, and the settings restored at open and saved at close.
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
#include "kelvane/check/check_option.h"
#include "kelvane/f_resize.h"
#include "kelvane/inventory/browse_condition.h"

class QAbstractButton;
class QCheckBox;
class QCloseEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace grid {
class GridView;
}

namespace kelvane {

class w_htmd : public QWidget {
    Q_OBJECT

  public:
    // `profile` is the settings file; `screenWidth`/`screenHeight` the screen
    // the layout is fitted to (0: the primary screen's).
    w_htmd(host::Host& host, std::string profile, int screenWidth = 0, int screenHeight = 0,
           QWidget* parent = nullptr);
    ~w_htmd() override;

    // State shared by the list operations.
    std::string ls_path1;
    // The last 开始复制 was stopped: the next one skips the rows it copied.
    bool copyStopped = false;
    std::string ls_path2;
    std::string bkycwj;
    BrowseCondition szf = BrowseCondition::None;
    CheckOption addszf = CheckOption::None;
    std::string ctdwszf;
    int lx = 0;
    bool zfmdxg = false;

    grid::Grid& dw_1() { return *grids_[0]; }
    grid::Grid& dw_2() { return *grids_[1]; }
    grid::Grid& dw_3() { return *grids_[2]; }
    grid::Grid& dw_4() { return *grids_[3]; }
    grid::Grid& dw(int number) { return *grids_.at(number - 1); }
    // List-wide operations act on list 1 while rb_1 is checked, else on list 2.
    bool list1Chosen() const;
    grid::Grid& chosenGrid() { return list1Chosen() ? dw_1() : dw_2(); }
    host::Host& hostServices() { return host_; }
    host::BusyIndicator& busy() { return *busy_; }
    const std::string& profile() const { return profile_; }

    // The controls the scripts work with, named as the scripts know them (also
    // their object names). Labels and group boxes only show their captions.
    QLineEdit* sle_1() const noexcept { return sle_1_; }
    QLineEdit* sle_2() const noexcept { return sle_2_; }
    QLineEdit* em_1() const noexcept { return em_1_; }
    QSpinBox* em_2() const noexcept { return em_2_; }
    QSpinBox* em_3() const noexcept { return em_3_; }
    QSpinBox* em_4() const noexcept { return em_4_; }
    QCheckBox* cbx_1() const noexcept { return cbx_1_; }
    QCheckBox* cbx_2() const noexcept { return cbx_2_; }
    QCheckBox* cbx_3() const noexcept { return cbx_3_; }
    QCheckBox* cbx_4() const noexcept { return cbx_4_; }
    QRadioButton* rb_1() const noexcept { return rb_1_; }
    QRadioButton* rb_2() const noexcept { return rb_2_; }
    QComboBox* ddlb_1() const noexcept { return ddlb_1_; }
    QComboBox* ddlb_2() const noexcept { return ddlb_2_; }
    QComboBox* ddlb_3() const noexcept { return ddlb_3_; }
    QComboBox* ddlb_4() const noexcept { return ddlb_4_; }
    QListWidget* lb_1() const noexcept { return lb_1_; }
    QListWidget* lb_2() const noexcept { return lb_2_; }
    QLabel* progress() const noexcept { return progress_; }
    QPushButton* cb_1() const noexcept { return cb_1_; }
    QPushButton* cb_2() const noexcept { return cb_2_; }
    QPushButton* cb_3() const noexcept { return cb_3_; }
    QPushButton* cb_4() const noexcept { return cb_4_; }
    QPushButton* cb_5() const noexcept { return cb_5_; }
    QPushButton* cb_6() const noexcept { return cb_6_; }
    QPushButton* cb_7() const noexcept { return cb_7_; }
    QPushButton* cb_8() const noexcept { return cb_8_; }
    QPushButton* cb_9() const noexcept { return cb_9_; }
    QPushButton* cb_10() const noexcept { return cb_10_; }
    QPushButton* cb_11() const noexcept { return cb_11_; }
    QPushButton* cb_12() const noexcept { return cb_12_; }
    QPushButton* cb_13() const noexcept { return cb_13_; }
    QPushButton* cb_14() const noexcept { return cb_14_; }
    QPushButton* cb_15() const noexcept { return cb_15_; }
    QPushButton* cb_16() const noexcept { return cb_16_; }
    QPushButton* cb_17() const noexcept { return cb_17_; }
    QPushButton* cb_18() const noexcept { return cb_18_; }
    QPushButton* cb_19() const noexcept { return cb_19_; }
    QPushButton* cb_20() const noexcept { return cb_20_; }
    QPushButton* cb_21() const noexcept { return cb_21_; }
    // The view of list `number` (dw_1 .. dw_4).
    grid::GridView& gridView(int number) const { return *views_.at(number - 1); }
    // The text of a path or date field as bytes: unchanged since it was set, the
    // bytes it was set from (so a name that is not valid UTF-8 survives).
    std::string fieldText(const QLineEdit* field) const;
    void setFieldText(QLineEdit* field, const std::string& text);

    // The controls with their geometry at the design size (1024x768), in the
    // window's control order.
    static const std::vector<ControlGeometry>& designLayout();
    static constexpr int kDesignClientWidth = 1000;
    static constexpr int kDesignClientHeight = 692;

    // Runs a control's script: refused while an operation runs; an unexpected
    // exception ends the script with a message box and the window stays open.
    // False when refused: a control that changed its own state on the way
    // (a drop-down, a radio button) must then be put back to the state in force.
    bool runScript(const std::function<void()>& script);
    // Runs an engine's `work` on a worker thread, within a busy run, the
    // lists lent to it; a stop asked for meanwhile (Esc, a close) ends the
    // calling script there (host::RunStopped), with what was done shown.
    void runOnWorker(const std::function<void(host::ProgressSink&)>& work);
    // What the runs of the script just ended could not do, with why, in one
    // "提示" box after the script's own messages: the folders a walk left
    // out, the copies that failed (the first ones, the rest counted).
    void tellFailures();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    // Sets the members of the controls just made.
    void bindControls();
    void applyLayout(int screenWidth, int screenHeight);
    void open();
    void saveSettings();

    host::Host& host_;
    std::string profile_;
    std::vector<std::unique_ptr<grid::Grid>> grids_;
    // Every control, in the layout table's order; children of the window,
    // which owns and deletes them.
    std::vector<QWidget*> controls_;
    std::vector<grid::GridView*> views_;
    QLineEdit* sle_1_ = nullptr;
    QLineEdit* sle_2_ = nullptr;
    QLineEdit* em_1_ = nullptr;
    QSpinBox* em_2_ = nullptr;
    QSpinBox* em_3_ = nullptr;
    QSpinBox* em_4_ = nullptr;
    QCheckBox* cbx_1_ = nullptr;
    QCheckBox* cbx_2_ = nullptr;
    QCheckBox* cbx_3_ = nullptr;
    QCheckBox* cbx_4_ = nullptr;
    QRadioButton* rb_1_ = nullptr;
    QRadioButton* rb_2_ = nullptr;
    QComboBox* ddlb_1_ = nullptr;
    QComboBox* ddlb_2_ = nullptr;
    QComboBox* ddlb_3_ = nullptr;
    QComboBox* ddlb_4_ = nullptr;
    QListWidget* lb_1_ = nullptr;
    QListWidget* lb_2_ = nullptr;
    QLabel* progress_ = nullptr;
    QPushButton* cb_1_ = nullptr;
    QPushButton* cb_2_ = nullptr;
    QPushButton* cb_3_ = nullptr;
    QPushButton* cb_4_ = nullptr;
    QPushButton* cb_5_ = nullptr;
    QPushButton* cb_6_ = nullptr;
    QPushButton* cb_7_ = nullptr;
    QPushButton* cb_8_ = nullptr;
    QPushButton* cb_9_ = nullptr;
    QPushButton* cb_10_ = nullptr;
    QPushButton* cb_11_ = nullptr;
    QPushButton* cb_12_ = nullptr;
    QPushButton* cb_13_ = nullptr;
    QPushButton* cb_14_ = nullptr;
    QPushButton* cb_15_ = nullptr;
    QPushButton* cb_16_ = nullptr;
    QPushButton* cb_17_ = nullptr;
    QPushButton* cb_18_ = nullptr;
    QPushButton* cb_19_ = nullptr;
    QPushButton* cb_20_ = nullptr;
    QPushButton* cb_21_ = nullptr;
    std::unique_ptr<host::BusyIndicator> busy_;
    host::FieldTexts fields_;
    bool settingsSaved_ = false;
};

}  // namespace kelvane
