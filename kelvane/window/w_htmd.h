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

class QLineEdit;
class QLabel;
class QCloseEvent;
class QAbstractButton;

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

    // A control by its name ("cb_16", "dw_1", ...); nullptr when there is none.
    template <typename T>
    T* control(const char* name) const {
        return host::findControl<T>(*this, name);
    }
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

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    void applyLayout(int screenWidth, int screenHeight);
    void open();
    void saveSettings();

    host::Host& host_;
    std::string profile_;
    std::vector<std::unique_ptr<grid::Grid>> grids_;
    std::unique_ptr<host::BusyIndicator> busy_;
    host::FieldTexts fields_;
    bool settingsSaved_ = false;
};

}  // namespace kelvane
