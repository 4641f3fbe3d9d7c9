#include "kelvane/window/w_htmd.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <algorithm>
#include <exception>
#include <stdexcept>

#include "common/failure_list.h"
#include "grid/qt/grid_view.h"
#include "host/gbk_positions.h"
#include "host/qt/qt_text.h"
#include "kelvane/kelvane_settings.h"
#include "kelvane/window/scripts.h"

namespace kelvane {

namespace {

using K = ControlKind;

// What each control shows, beside its geometry.
struct ControlDesign {
    const char* caption;
    bool bold = false;
};

// Geometry in pixels of a 1000x692 client area, the layout for a 1024x768
// screen. Group boxes come first so that they are drawn beneath their content.
const std::vector<ControlGeometry> kLayout = {
    {"gb_4", K::GroupBox, 5, 2, 990, 82, -9},
    {"gb_5", K::GroupBox, 5, 88, 400, 440, -9},
    {"gb_6", K::GroupBox, 595, 88, 400, 300, -9},
    {"gb_8", K::GroupBox, 595, 392, 400, 296, -9},
    {"gb_9", K::GroupBox, 410, 160, 180, 86, -9},
    {"gb_1", K::GroupBox, 5, 532, 90, 76, -9},
    {"gb_2", K::GroupBox, 98, 532, 160, 76, -9},
    {"gb_7", K::GroupBox, 262, 532, 328, 76, -9},
    {"gb_3", K::GroupBox, 5, 612, 585, 76, -9},
    // Top band: simple check mode.
    {"st_1", K::StaticText, 14, 23, 72, 20, -9},
    {"st_4", K::StaticText, 86, 23, 62, 20, -9},
    {"sle_1", K::SingleLineEdit, 150, 20, 480, 24, -9},
    {"cb_12", K::CommandButton, 636, 19, 86, 26, -9},
    {"cb_14", K::CommandButton, 726, 19, 76, 26, -9},
    {"cbx_1", K::CheckBox, 812, 20, 170, 22, -9},
    {"cb_16", K::CommandButton, 812, 46, 170, 30, -9},
    {"st_3", K::StaticText, 14, 53, 72, 20, -9},
    {"st_8", K::StaticText, 86, 53, 62, 20, -9},
    {"sle_2", K::SingleLineEdit, 150, 50, 480, 24, -9},
    {"cb_13", K::CommandButton, 636, 49, 86, 26, -9},
    {"cb_15", K::CommandButton, 726, 49, 76, 26, -9},
    // The two lists.
    {"dw_1", K::Grid, 12, 106, 386, 416, -9},
    {"dw_2", K::Grid, 602, 106, 386, 276, -9},
    // Middle column.
    {"ddlb_2", K::DropDownList, 412, 96, 176, 24, -9},
    {"st_2", K::StaticText, 412, 131, 36, 20, -9},
    {"ddlb_1", K::DropDownList, 450, 128, 138, 24, -9},
    {"cbx_2", K::CheckBox, 420, 176, 160, 22, -9},
    {"cb_17", K::CommandButton, 420, 204, 160, 32, -9},
    {"lb_1", K::ListBox, 412, 254, 84, 60, -9},
    {"lb_2", K::ListBox, 504, 254, 84, 60, -9},
    {"cb_4", K::CommandButton, 420, 322, 160, 32, -9},
    {"progress", K::StaticText, 412, 364, 176, 100, -9},
    {"cb_9", K::CommandButton, 420, 480, 160, 32, -12},
    // Bottom left: list operations.
    {"rb_1", K::RadioButton, 12, 550, 80, 22, -9},
    {"rb_2", K::RadioButton, 12, 578, 80, 22, -9},
    {"st_5", K::StaticText, 106, 555, 16, 20, -9},
    {"em_2", K::EditMask, 124, 552, 44, 24, -9},
    {"st_6", K::StaticText, 176, 555, 16, 20, -9},
    {"em_3", K::EditMask, 194, 552, 44, 24, -9},
    {"cb_1", K::CommandButton, 268, 546, 62, 26, -9},
    {"cb_10", K::CommandButton, 332, 546, 62, 26, -9},
    {"cb_20", K::CommandButton, 396, 546, 62, 26, -9},
    {"cb_19", K::CommandButton, 460, 546, 62, 26, -9},
    {"cb_2", K::CommandButton, 524, 546, 62, 26, -9},
    {"cb_5", K::CommandButton, 268, 576, 62, 26, -9},
    {"cb_18", K::CommandButton, 332, 576, 62, 26, -9},
    {"cb_11", K::CommandButton, 396, 576, 62, 26, -9},
    {"st_7", K::StaticText, 462, 580, 76, 20, -9},
    {"em_4", K::EditMask, 540, 577, 46, 24, -9},
    // Bottom left: folder browsing with conditions.
    {"cb_3", K::CommandButton, 14, 630, 90, 28, -9},
    {"ddlb_3", K::DropDownList, 110, 632, 150, 24, -9},
    {"em_1", K::EditMask, 266, 632, 150, 24, -9},
    {"ddlb_4", K::DropDownList, 422, 632, 160, 24, -9},
    {"cbx_3", K::CheckBox, 110, 662, 130, 22, -9},
    {"cbx_4", K::CheckBox, 250, 662, 130, 22, -9},
    // Bottom right: duplicate lists.
    {"dw_3", K::Grid, 602, 406, 190, 240, -9},
    {"cb_7", K::CommandButton, 602, 652, 90, 26, -9},
    {"cb_6", K::CommandButton, 700, 652, 90, 26, -9},
    {"dw_4", K::Grid, 798, 406, 190, 240, -9},
    {"cb_8", K::CommandButton, 798, 652, 90, 26, -9},
    {"cb_21", K::CommandButton, 896, 652, 90, 26, -9},
};

const std::map<std::string, ControlDesign> kDesign = {
    {"gb_4", {"简易核对模式"}},
    {"gb_5", {"数据窗口1"}},
    {"gb_6", {"数据窗口2"}},
    {"gb_8", {""}},
    {"gb_9", {""}},
    {"gb_1", {"选择"}},
    {"gb_2", {"导入EXCEL表的起始行、列"}},
    {"gb_7", {""}},
    {"gb_3", {""}},
    {"st_1", {"源文件夹："}},
    {"st_4", {"或名单1:"}},
    {"sle_1", {""}},
    {"cb_12", {"添加文件夹"}},
    {"cb_14", {"添加文件"}},
    {"cbx_1", {"包括隐藏文件"}},
    {"cb_16", {"开始核对", true}},
    {"st_3", {"目标文件夹："}},
    {"st_8", {"或名单2："}},
    {"sle_2", {""}},
    {"cb_13", {"添加文件夹"}},
    {"cb_15", {"添加文件"}},
    {"st_2", {"显示"}},
    {"cbx_2", {"替换同名文件"}},
    {"cb_17", {"开始复制", true}},
    {"cb_4", {"核对名单", true}},
    {"progress", {""}},
    {"cb_9", {"退出(&Q)"}},
    {"rb_1", {"数据窗口1"}},
    {"rb_2", {"数据窗口2"}},
    {"st_5", {"行"}},
    {"st_6", {"列"}},
    {"cb_1", {"导入文件"}},
    {"cb_10", {"粘贴导入"}},
    {"cb_20", {"反向选择"}},
    {"cb_19", {"移除所选"}},
    {"cb_2", {"全部移除"}},
    {"cb_5", {"另存为"}},
    {"cb_18", {"还原文件夹"}},
    {"cb_11", {"名单截取"}},
    {"st_7", {"开始截取位置"}},
    {"cb_3", {"浏览文件夹"}},
    {"cbx_3", {"包括隐藏文件"}},
    {"cbx_4", {"不累加导入"}},
    {"cb_7", {"另存为"}},
    {"cb_6", {"复制"}},
    {"cb_8", {"另存为"}},
    {"cb_21", {"复制"}},
};

const std::map<std::string, std::vector<const char*>> kListItems = {
    {"ddlb_2",
     {"附加核对选项:", "1.文件的长度", "2.文件修改日期", "3.文件的长度且修改日期",
      "4.文件的长度或修改日期", "5.文件的内容"}},
    {"ddlb_1", {"全部", "相同", "不同"}},
    {"ddlb_3", {"附加浏览条件:", "1.修改日期大于", "2.创建日期大于", "3.满足条件1或2"}},
    {"ddlb_4", {"文件长度单位:", "1、字节", "2、KB", "3、MB"}},
};

const std::map<std::string, const char*> kGridDefinitions = {
    {"dw_1", "htmd1"}, {"dw_2", "htmd2"}, {"dw_3", "cfmd1"}, {"dw_4", "cfmd2"}};

QFont controlFont(int textSize, bool bold) {
    QFont font = QApplication::font();
    font.setPointSize(textSize < 0 ? -textSize : textSize);
    font.setBold(bold);
    return font;
}

// The "##" edit masks with a spin control.
QSpinBox* makeSpin(QWidget* parent, int minimum, int maximum, int value) {
    auto* spin = new QSpinBox(parent);
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    return spin;
}

// The control made for the layout table's entry `name`, of type T; the one
// place where a control is found by its name, once, while the window is made.
template <typename T>
T* madeControl(const std::vector<QWidget*>& controls, const char* name) {
    for (std::size_t i = 0; i < kLayout.size() && i < controls.size(); ++i) {
        if (kLayout[i].name != name) continue;
        if (auto* control = qobject_cast<T*>(controls[i])) return control;
        break;
    }
    throw std::logic_error(std::string("w_htmd: no control ") + name + " of its type");
}

}  // namespace

const std::vector<ControlGeometry>& w_htmd::designLayout() {
    return kLayout;
}

w_htmd::w_htmd(host::Host& host, std::string profile, int screenWidth, int screenHeight,
               QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      host_(host),
      profile_(std::move(profile)) {
    setWindowTitle(QStringLiteral("Zarvik文件核对与增量备份工具"));
    setWindowIcon(host::BusyIndicator::idleIcon());
    for (const char* name : {"htmd1", "htmd2", "cfmd1", "cfmd2"}) {
        grids_.push_back(std::make_unique<grid::Grid>(grid::loadGridDefinition(name)));
    }
    buildControls();
    busy_ = std::make_unique<host::BusyIndicator>(this, progress_);
    if (screenWidth <= 0 || screenHeight <= 0) {
        const QSize screen = QGuiApplication::primaryScreen()->size();
        screenWidth = screen.width();
        screenHeight = screen.height();
    }
    applyLayout(screenWidth, screenHeight);
    open();
    connectInventoryScripts(*this);
    connectImportScripts(*this);
    connectTruncationScripts(*this);
    connectListClickScripts(*this);
    connectCheckScripts(*this);
    connectCopyScripts(*this);
}

w_htmd::~w_htmd() {
    // The grid views observe grids_, which are destroyed before QWidget
    // deletes its children.
    qDeleteAll(views_);
    views_.clear();
}

// One pass over the layout table, one case per kind of control: longer than
// usual, but split it would scatter the table's order over several places.
void w_htmd::buildControls() {
    for (const ControlGeometry& geometry : kLayout) {
        const auto design = kDesign.find(geometry.name);
        const QString caption =
            design == kDesign.end() ? QString() : QString::fromUtf8(design->second.caption);
        const bool bold = design != kDesign.end() && design->second.bold;
        QWidget* widget = nullptr;
        switch (geometry.kind) {
            case K::GroupBox:
                widget = new QGroupBox(caption, this);
                break;
            case K::StaticText:
                widget = new QLabel(caption, this);
                break;
            case K::CommandButton:
                widget = new QPushButton(caption, this);
                break;
            case K::CheckBox:
                widget = new QCheckBox(caption, this);
                break;
            case K::RadioButton:
                widget = new QRadioButton(caption, this);
                break;
            case K::SingleLineEdit:
                widget = new QLineEdit(this);
                break;
            case K::ListBox:
                widget = new QListWidget(this);
                break;
            case K::DropDownList: {
                auto* list = new QComboBox(this);
                for (const char* item : kListItems.at(geometry.name)) {
                    list->addItem(QString::fromUtf8(item));
                }
                widget = list;
                break;
            }
            case K::EditMask:
                if (geometry.name == "em_1") {
                    auto* edit = new QLineEdit(this);
                    edit->setInputMask("0000-00-00 00:00:00");
                    edit->setText("2001-01-01 01:01:01");
                    widget = edit;
                } else if (geometry.name == "em_4") {
                    widget = makeSpin(this, 0, 100, 0);
                } else {
                    widget = makeSpin(this, 1, 26, geometry.name == "em_2" ? 2 : 1);
                }
                break;
            case K::Grid: {
                grid::Grid& grid = *grids_[geometry.name[3] - '1'];
                widget = new grid::GridView(grid, this);
                break;
            }
            default:
                widget = new QWidget(this);
                break;
        }
        host::named(widget, geometry.name.c_str());
        widget->setFont(controlFont(geometry.textSize, bold));
        controls_.push_back(widget);
    }
    bindControls();

    progress_->setWordWrap(true);
    progress_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    progress_->hide();

    cbx_1_->setChecked(true);
    cbx_2_->setChecked(true);
    cbx_3_->setChecked(true);
    cbx_4_->setChecked(true);
    rb_1_->setChecked(true);

    // The exit button: Alt+Q by its caption, Esc as the window's cancel button.
    QPushButton* exitButton = cb_9_;
    QFont exitFont = exitButton->font();
    exitFont.setFamilies(
        {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
    exitButton->setFont(exitFont);
    connect(exitButton, &QPushButton::clicked, this, &QWidget::close);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, exitButton, &QPushButton::click);

    connect(ddlb_3_, &QComboBox::currentIndexChanged, this,
            [this](int index) { em_1_->setVisible(index != 0); });
}

void w_htmd::bindControls() {
    sle_1_ = madeControl<QLineEdit>(controls_, "sle_1");
    sle_2_ = madeControl<QLineEdit>(controls_, "sle_2");
    em_1_ = madeControl<QLineEdit>(controls_, "em_1");
    em_2_ = madeControl<QSpinBox>(controls_, "em_2");
    em_3_ = madeControl<QSpinBox>(controls_, "em_3");
    em_4_ = madeControl<QSpinBox>(controls_, "em_4");
    cbx_1_ = madeControl<QCheckBox>(controls_, "cbx_1");
    cbx_2_ = madeControl<QCheckBox>(controls_, "cbx_2");
    cbx_3_ = madeControl<QCheckBox>(controls_, "cbx_3");
    cbx_4_ = madeControl<QCheckBox>(controls_, "cbx_4");
    rb_1_ = madeControl<QRadioButton>(controls_, "rb_1");
    rb_2_ = madeControl<QRadioButton>(controls_, "rb_2");
    ddlb_1_ = madeControl<QComboBox>(controls_, "ddlb_1");
    ddlb_2_ = madeControl<QComboBox>(controls_, "ddlb_2");
    ddlb_3_ = madeControl<QComboBox>(controls_, "ddlb_3");
    ddlb_4_ = madeControl<QComboBox>(controls_, "ddlb_4");
    lb_1_ = madeControl<QListWidget>(controls_, "lb_1");
    lb_2_ = madeControl<QListWidget>(controls_, "lb_2");
    progress_ = madeControl<QLabel>(controls_, "progress");
    cb_1_ = madeControl<QPushButton>(controls_, "cb_1");
    cb_2_ = madeControl<QPushButton>(controls_, "cb_2");
    cb_3_ = madeControl<QPushButton>(controls_, "cb_3");
    cb_4_ = madeControl<QPushButton>(controls_, "cb_4");
    cb_5_ = madeControl<QPushButton>(controls_, "cb_5");
    cb_6_ = madeControl<QPushButton>(controls_, "cb_6");
    cb_7_ = madeControl<QPushButton>(controls_, "cb_7");
    cb_8_ = madeControl<QPushButton>(controls_, "cb_8");
    cb_9_ = madeControl<QPushButton>(controls_, "cb_9");
    cb_10_ = madeControl<QPushButton>(controls_, "cb_10");
    cb_11_ = madeControl<QPushButton>(controls_, "cb_11");
    cb_12_ = madeControl<QPushButton>(controls_, "cb_12");
    cb_13_ = madeControl<QPushButton>(controls_, "cb_13");
    cb_14_ = madeControl<QPushButton>(controls_, "cb_14");
    cb_15_ = madeControl<QPushButton>(controls_, "cb_15");
    cb_16_ = madeControl<QPushButton>(controls_, "cb_16");
    cb_17_ = madeControl<QPushButton>(controls_, "cb_17");
    cb_18_ = madeControl<QPushButton>(controls_, "cb_18");
    cb_19_ = madeControl<QPushButton>(controls_, "cb_19");
    cb_20_ = madeControl<QPushButton>(controls_, "cb_20");
    cb_21_ = madeControl<QPushButton>(controls_, "cb_21");
    views_ = {madeControl<grid::GridView>(controls_, "dw_1"),
              madeControl<grid::GridView>(controls_, "dw_2"),
              madeControl<grid::GridView>(controls_, "dw_3"),
              madeControl<grid::GridView>(controls_, "dw_4")};
}

void w_htmd::applyLayout(int screenWidth, int screenHeight) {
    const WindowGeometry window{kDesignClientWidth, kDesignClientHeight, kDesignClientWidth,
                                kDesignClientHeight};
    const ResizeResult result = f_resize(screenWidth, screenHeight, window, kLayout);
    resize(result.windowWidth, result.windowHeight);
    // f_resize keeps the order of the layout table, which is controls_'s.
    for (std::size_t i = 0; i < result.controls.size(); ++i) {
        const ControlGeometry& geometry = result.controls[i];
        QWidget* widget = controls_.at(i);
        widget->setGeometry(geometry.x, geometry.y, geometry.width, geometry.height);
        QFont font = widget->font();
        font.setPointSize(
            std::max(1, geometry.textSize < 0 ? -geometry.textSize : geometry.textSize));
        widget->setFont(font);
    }
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - rect().center());
    }
}

bool w_htmd::list1Chosen() const {
    return rb_1_->isChecked();
}

std::string w_htmd::fieldText(const QLineEdit* field) const {
    return fields_.get(field);
}

void w_htmd::setFieldText(QLineEdit* field, const std::string& text) {
    fields_.set(field, text);
}

void w_htmd::open() {
    lb_1_->hide();
    lb_2_->hide();
    ddlb_1_->setCurrentIndex(0);
    ddlb_2_->setCurrentIndex(0);
    ddlb_4_->setCurrentIndex(0);

    const MainSettings settings = loadMainSettings(profile_);
    szf = settings.hjlltj;
    const int item = browseConditionItem(szf);
    ddlb_3_->setCurrentIndex(item);
    em_1_->setVisible(item != 0);

    setFieldText(sle_1_, settings.sle_1);
    setFieldText(sle_2_, settings.sle_2);
    setFieldText(em_1_, settings.em_1rq);
    ls_path1 = settings.sle_1;
    ls_path2 = settings.sle_2;

    bkycwj = settings.bkycwj;
    const bool includeHidden = bkycwj == "y";
    cbx_1_->setChecked(includeHidden);
    cbx_3_->setChecked(includeHidden);
}

void w_htmd::saveSettings() {
    MainSettings settings;
    settings.sle_1 = fieldText(sle_1_);
    settings.sle_2 = fieldText(sle_2_);
    settings.bkycwj = cbx_1_->isChecked() ? "y" : "n";
    szf = browseCondition(host::gbkLeft(host::fromQString(ddlb_3_->currentText()), 1));
    settings.hjlltj = szf;
    settings.em_1rq = fieldText(em_1_);
    // A read-only working folder must not keep the window from closing.
    static_cast<void>(saveMainSettings(profile_, settings));
}

void w_htmd::closeEvent(QCloseEvent* event) {
    host::closeWindow(event, *busy_, settingsSaved_, [this] {
        saveSettings();
        return true;
    });
}

void w_htmd::runOnWorker(const std::function<void(host::ProgressSink&)>& work) {
    if (grid::runWithGridsLent(*this, *busy_, work)) throw host::RunStopped{};
}

bool w_htmd::runScript(const std::function<void()>& script) {
    const bool ran = host::runScript(*busy_, script, [this](std::exception_ptr failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            host_.messageBox("提示", error.what());
        } catch (...) {
            host_.messageBox("提示", "操作失败");
        }
    });
    if (ran) tellFailures();
    return ran;
}

namespace {

void appendFailures(std::string& text, const std::string& heading,
                    const std::vector<const host::Failure*>& failures, const std::string& rest) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < failures.size() && i < common::kFailuresShown; ++i)
        lines.push_back(failures[i]->message());
    common::appendFailureList(text, heading, lines, static_cast<long>(failures.size()), rest);
}

}  // namespace

void w_htmd::tellFailures() {
    const std::vector<host::BusyIndicator::RunFailure> failures = busy_->takeFailures();
    if (failures.empty()) return;
    std::vector<const host::Failure*> folders, copies;
    for (const auto& met : failures)
        (met.failure.op == "cannot list" ? folders : copies).push_back(&met.failure);
    std::string text;
    appendFailures(text, "以下" + std::to_string(folders.size()) + "个文件夹无法读取，未列入列表:",
                   folders, "");
    appendFailures(text, "以下" + std::to_string(copies.size()) + "个文件复制失败:", copies,
                   "，见列表1中结果为“失败”的行");
    host_.messageBox("提示", text);
}

}  // namespace kelvane
