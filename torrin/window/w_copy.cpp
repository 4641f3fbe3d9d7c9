#include "torrin/window/w_copy.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>
#include <exception>

#include "grid/qt/grid_model.h"
#include "grid/qt/grid_view.h"
#include "grid/redraw_pause.h"
#include "host/fs.h"
#include "host/qt/qt_text.h"

namespace torrin {

namespace {

using host::named;

// How often the settings' lock is tried again while a scheduled run holds it.
constexpr std::chrono::milliseconds kLockRetry{200};

QPushButton* makeButton(const char* name, const char* caption, QWidget* parent) {
    return named(new QPushButton(QString::fromUtf8(caption), parent), name);
}

}  // namespace

w_copy::w_copy(host::Host& host, const torapp& app, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      host_(host),
      app_(app),
      grid_(std::make_unique<grid::Grid>(grid::loadGridDefinition("frn1"))) {
    setWindowTitle(QStringLiteral("Zarvik文件增量复制小工具"));
    setWindowIcon(host::BusyIndicator::idleIcon());
    buildControls();
    busy_ = std::make_unique<host::BusyIndicator>(this, progress_);
    open();
    connectScripts();
    resize(640, 520);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

w_copy::~w_copy() {
    // Children send events while they are destroyed; none may reach the
    // filter of a window that is going away.
    destroying_ = true;
    editingRow_ = 0;
    // The grid view observes grid_, which is destroyed before QWidget deletes
    // its children.
    delete dw_1_;
    dw_1_ = nullptr;
}

// The window from top to bottom, in the order it appears on the screen; kept
// in one piece so that the code reads as the layout does.
void w_copy::buildControls() {
    auto* outer = new QVBoxLayout(this);

    gb_1_ = named(new QGroupBox(QStringLiteral("源文件夹列 表"), this), "gb_1");
    auto* sourcesLayout = new QHBoxLayout(gb_1_);
    dw_1_ = named(new grid::GridView(*grid_, gb_1_), "dw_1");
    sourcesLayout->addWidget(dw_1_, 1);
    auto* buttons = new QVBoxLayout;
    pb_2_ = makeButton("pb_2", "添加文件夹", gb_1_);
    cb_6_ = makeButton("cb_6", "移除所选", gb_1_);
    cb_9_ = makeButton("cb_9", "反向选择", gb_1_);
    cb_8_ = makeButton("cb_8", "全部移除", gb_1_);
    cb_11_ = makeButton("cb_11", "另存为", gb_1_);
    for (QPushButton* button : {pb_2_, cb_6_, cb_9_, cb_8_, cb_11_}) buttons->addWidget(button);
    buttons->addStretch(1);
    sourcesLayout->addLayout(buttons);
    outer->addWidget(gb_1_, 1);

    gb_2_ = named(new QGroupBox(QString(), this), "gb_2");
    auto* grid = new QGridLayout(gb_2_);
    st_1_ = named(new QLabel(QStringLiteral("目标文件夹："), gb_2_), "st_1");
    grid->addWidget(st_1_, 0, 0);
    sle_2_ = named(new QLineEdit(gb_2_), "sle_2");
    sle_2_->setReadOnly(true);
    grid->addWidget(sle_2_, 0, 1, 1, 3);
    pb_1_ = makeButton("pb_1", "浏览...", gb_2_);
    grid->addWidget(pb_1_, 0, 4);
    st_2_ = named(new QLabel(QStringLiteral("修改日期大于："), gb_2_), "st_2");
    grid->addWidget(st_2_, 1, 0);
    em_1_ = named(new QLineEdit(gb_2_), "em_1");
    em_1_->setInputMask(QStringLiteral("0000-00-00 00:00:00"));
    grid->addWidget(em_1_, 1, 1, 2, 1, Qt::AlignVCenter);
    cbx_1_ = named(new QCheckBox(QStringLiteral("替换同名文件"), gb_2_), "cbx_1");
    grid->addWidget(cbx_1_, 1, 2);
    cbx_4_ = named(new QCheckBox(QStringLiteral("包括隐藏文件"), gb_2_), "cbx_4");
    grid->addWidget(cbx_4_, 1, 3);
    st_3_ = named(new QLabel(QStringLiteral("或创建日期大于："), gb_2_), "st_3");
    grid->addWidget(st_3_, 2, 0);
    rb_1_ = named(new QRadioButton(QStringLiteral("保留全目录结构"), gb_2_), "rb_1");
    grid->addWidget(rb_1_, 2, 2);
    rb_2_ = named(new QRadioButton(QStringLiteral("保留子目录结构"), gb_2_), "rb_2");
    grid->addWidget(rb_2_, 2, 3);
    grid->setColumnStretch(1, 1);
    outer->addWidget(gb_2_);

    auto* bottom = new QHBoxLayout;
    progress_ = named(new QLabel(this), "progress");
    progress_->hide();
    bottom->addWidget(progress_, 1);
    cb_1_ = makeButton("cb_1", "开始复制", this);
    QFont bold = cb_1_->font();
    bold.setBold(true);
    cb_1_->setFont(bold);
    bottom->addWidget(cb_1_);
    outer->addLayout(bottom);

    // lb_1 is a folder lister the scripts may address by name; the engine
    // lists folders itself, so it stays hidden.
    lb_1_ = named(new QListWidget(this), "lb_1");
    lb_1_->hide();

    rb_1_->setChecked(true);

    // The grid's own selection is the only one; Qt's would interfere with the
    // click rules of this window.
    QTableView* table = dw_1_->tableView();
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->viewport()->installEventFilter(this);
    table->installEventFilter(this);
    table->horizontalHeader()->viewport()->installEventFilter(this);
    cellEditor_ = named(new QLineEdit(table->viewport()), "ypath_editor");
    cellEditor_->hide();
    cellEditor_->installEventFilter(this);
}

void w_copy::connectScripts() {
    const auto button = [this](QPushButton* control, const char* name, void (w_copy::*script)()) {
        connect(control, &QPushButton::clicked, this, [this, name, script] {
            runScript(std::string(name) + ".clicked", [this, script] { (this->*script)(); });
        });
    };
    button(pb_2_, "pb_2", &w_copy::pb_2_clicked);
    button(cb_6_, "cb_6", &w_copy::cb_6_clicked);
    button(cb_9_, "cb_9", &w_copy::cb_9_clicked);
    button(cb_8_, "cb_8", &w_copy::cb_8_clicked);
    button(cb_11_, "cb_11", &w_copy::cb_11_clicked);
    button(pb_1_, "pb_1", &w_copy::pb_1_clicked);
    button(cb_1_, "cb_1", &w_copy::cb_1_clicked);

    grid::GridView* view = &gridView();
    view->setClicksAccepted([this] { return !busy_->isBusy(); });
    connect(view, &grid::GridView::clicked, this, [this](long row) {
        runScript("dw_1.clicked", [this, row] { clickRow(row, clickModifiers_); });
    });
    connect(view, &grid::GridView::headerClicked, this,
            [this](int) { runScript("dw_1.clicked", [this] { clickHeader(clickModifiers_); }); });
    connect(view, &grid::GridView::doubleClicked, this,
            [this](long row) { runScript("dw_1.doubleclicked", [this, row] { editCell(row); }); });
    connect(cellEditor_, &QLineEdit::returnPressed, this, [this] { commitEdit(); });
    lockRetry_ = new QTimer(this);
    lockRetry_->setInterval(kLockRetry);
    connect(lockRetry_, &QTimer::timeout, this, [this] { retryWaiting(); });
    // An editor left behind by scrolling would sit over another row.
    QTableView* table = view->tableView();
    for (QAbstractSlider* bar : {static_cast<QAbstractSlider*>(table->verticalScrollBar()),
                                 static_cast<QAbstractSlider*>(table->horizontalScrollBar())}) {
        connect(bar, &QAbstractSlider::valueChanged, this, [this] { commitEdit(); });
    }
}

void w_copy::open() {
    const Settings settings = loadSettings(app_.profile());
    setFieldText(sle_2_, settings.mpath);
    setFieldText(em_1_, settings.fdt);
    storedThreshold_ = settings.fdt;
    bkycwj = settings.bkycwj;
    sfth = settings.sfth;
    qmljg = settings.qmljg;
    cbx_4_->setChecked(isOn(bkycwj));
    lx = listMask(bkycwj);
    cbx_1_->setChecked(isOn(sfth));
    if (isOn(qmljg)) {
        rb_1_->setChecked(true);
    } else {
        rb_2_->setChecked(true);
    }
    const grid::RedrawPause redraw(*grid_);
    for (const std::string& folder : storedSourceFolders(settings)) {
        grid_->setitem(grid_->insertrow(0), "ypath", folder);
    }
}

std::vector<std::string> w_copy::sourceRows() const {
    std::vector<std::string> rows;
    const long count = grid_->rowcount();
    rows.reserve(static_cast<std::size_t>(count));
    for (long row = 1; row <= count; ++row) rows.push_back(grid_->getitemstring(row, "ypath"));
    return rows;
}

std::string w_copy::effectiveThreshold() const {
    const std::string shown = fieldText(em_1_);
    if (hasRun_ && shown == lastRun_.endTime) return shownEndStandsFor_;
    return shown;
}

void w_copy::saveSettings() {
    // An unexpected error is reported, and the window closes all the same.
    try {
        commitEdit();
        CloseState state;
        state.replace = cbx_1_->isChecked();
        state.includeHidden = cbx_4_->isChecked();
        state.fullStructure = rb_1_->isChecked();
        const std::string threshold = effectiveThreshold();
        // Left out (an invalid text keeps the stored one) unless the user changed it.
        state.threshold = threshold != storedThreshold_ ? threshold : std::string();
        state.target = fieldText(sle_2_);
        state.rows = sourceRows();
        static_cast<void>(saveCloseSettings(app_.profile(), state));
    } catch (...) {
        host_.messageBox("", unexpectedErrorText("w_copy", "close", std::current_exception()));
    }
}

void w_copy::closeEvent(QCloseEvent* event) {
    host::closeWindow(event, *busy_, settingsSaved_, [this] { return saveOnClose(); });
}

std::string w_copy::fieldText(const QLineEdit* field) const {
    return fields_.get(field);
}

void w_copy::setFieldText(QLineEdit* field, const std::string& text) {
    fields_.set(field, text);
}

void w_copy::runScript(const std::string& event, const std::function<void()>& script) {
    host::runScript(
        *busy_,
        [this, &script] {
            // A pending cell edit belongs to its row as it is now.
            commitEdit();
            script();
        },
        [this, &event](std::exception_ptr failure) {
            host_.messageBox("", unexpectedErrorText("w_copy", event, failure));
        });
}

void w_copy::editCell(long row) {
    commitEdit();
    if (row < 1 || row > grid_->rowcount()) return;
    QTableView* table = gridView().tableView();
    const QModelIndex index = table->model()->index(static_cast<int>(row - 1), 0);
    table->scrollTo(index);
    cellEditor_->setGeometry(table->visualRect(index));
    const std::string value = grid_->getitemstring(row, "ypath");
    editOrigin_ = host::showText(cellEditor_, value);
    editingRow_ = row;
    cellEditor_->show();
    cellEditor_->setFocus();
    cellEditor_->selectAll();
}

bool w_copy::commitEdit() {
    if (editingRow_ == 0) return false;
    const long row = editingRow_;
    // Cleared first: hiding the editor moves the focus, which commits again.
    editingRow_ = 0;
    const QString typed = cellEditor_->text();
    const std::string value = editOrigin_.read(typed);
    cellEditor_->hide();
    if (row <= grid_->rowcount()) grid_->setitem(row, "ypath", value);
    return true;
}

void w_copy::cancelEdit() {
    editingRow_ = 0;
    cellEditor_->hide();
}

bool w_copy::eventFilter(QObject* watched, QEvent* event) {
    if (destroying_) return false;
    grid::GridView* view = &gridView();
    QTableView* table = view->tableView();
    const QEvent::Type type = event->type();
    if (watched == cellEditor_) {
        if (type == QEvent::FocusOut) {
            commitEdit();
        } else if (type == QEvent::KeyPress &&
                   static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            cancelEdit();
            table->setFocus();
            return true;
        }
        return false;
    }
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
        // The click rules depend on the keys held at the click itself.
        clickModifiers_ = static_cast<QMouseEvent*>(event)->modifiers();
    } else if (watched == table && type == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_F2 && !busy_->isBusy()) {
            editCell(view->model().currentRow());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace torrin
