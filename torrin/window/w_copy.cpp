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
#include <QVBoxLayout>
#include <exception>

#include "grid/qt/grid_model.h"
#include "grid/qt/grid_view.h"
#include "grid/redraw_pause.h"
#include "host/fs.h"
#include "host/qt/qt_text.h"

namespace torrin {

namespace {

using host::named;

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
    busy_ = std::make_unique<host::BusyIndicator>(this, control<QLabel>("progress"));
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
    qDeleteAll(findChildren<grid::GridView*>());
}

grid::GridView& w_copy::gridView() const {
    return *control<grid::GridView>("dw_1");
}

// The window from top to bottom, in the order it appears on the screen; kept
// in one piece so that the code reads as the layout does.
void w_copy::buildControls() {
    auto* outer = new QVBoxLayout(this);

    auto* sources = named(new QGroupBox(QStringLiteral("源文件夹列 表"), this), "gb_1");
    auto* sourcesLayout = new QHBoxLayout(sources);
    auto* view = named(new grid::GridView(*grid_, sources), "dw_1");
    sourcesLayout->addWidget(view, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(makeButton("pb_2", "添加文件夹", sources));
    buttons->addWidget(makeButton("cb_6", "移除所选", sources));
    buttons->addWidget(makeButton("cb_9", "反向选择", sources));
    buttons->addWidget(makeButton("cb_8", "全部移除", sources));
    buttons->addWidget(makeButton("cb_11", "另存为", sources));
    buttons->addStretch(1);
    sourcesLayout->addLayout(buttons);
    outer->addWidget(sources, 1);

    auto* options = named(new QGroupBox(QString(), this), "gb_2");
    auto* grid = new QGridLayout(options);
    grid->addWidget(named(new QLabel(QStringLiteral("目标文件夹："), options), "st_1"), 0, 0);
    auto* target = named(new QLineEdit(options), "sle_2");
    target->setReadOnly(true);
    grid->addWidget(target, 0, 1, 1, 3);
    grid->addWidget(makeButton("pb_1", "浏览...", options), 0, 4);
    grid->addWidget(named(new QLabel(QStringLiteral("修改日期大于："), options), "st_2"), 1, 0);
    auto* threshold = named(new QLineEdit(options), "em_1");
    threshold->setInputMask(QStringLiteral("0000-00-00 00:00:00"));
    grid->addWidget(threshold, 1, 1, 2, 1, Qt::AlignVCenter);
    grid->addWidget(named(new QCheckBox(QStringLiteral("替换同名文件"), options), "cbx_1"), 1, 2);
    grid->addWidget(named(new QCheckBox(QStringLiteral("包括隐藏文件"), options), "cbx_4"), 1, 3);
    grid->addWidget(named(new QLabel(QStringLiteral("或创建日期大于："), options), "st_3"), 2, 0);
    grid->addWidget(named(new QRadioButton(QStringLiteral("保留全目录结构"), options), "rb_1"), 2,
                    2);
    grid->addWidget(named(new QRadioButton(QStringLiteral("保留子目录结构"), options), "rb_2"), 2,
                    3);
    grid->setColumnStretch(1, 1);
    outer->addWidget(options);

    auto* bottom = new QHBoxLayout;
    auto* progress = named(new QLabel(this), "progress");
    progress->hide();
    bottom->addWidget(progress, 1);
    auto* start = makeButton("cb_1", "开始复制", this);
    QFont bold = start->font();
    bold.setBold(true);
    start->setFont(bold);
    bottom->addWidget(start);
    outer->addLayout(bottom);

    // lb_1 is a folder lister the scripts may address by name; the engine
    // lists folders itself, so it stays hidden.
    named(new QListWidget(this), "lb_1")->hide();

    control<QRadioButton>("rb_1")->setChecked(true);

    // The grid's own selection is the only one; Qt's would interfere with the
    // click rules of this window.
    QTableView* table = view->tableView();
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
    const auto button = [this](const char* name, void (w_copy::*script)()) {
        connect(control<QPushButton>(name), &QPushButton::clicked, this, [this, name, script] {
            runScript(std::string(name) + ".clicked", [this, script] { (this->*script)(); });
        });
    };
    button("pb_2", &w_copy::pb_2_clicked);
    button("cb_6", &w_copy::cb_6_clicked);
    button("cb_9", &w_copy::cb_9_clicked);
    button("cb_8", &w_copy::cb_8_clicked);
    button("cb_11", &w_copy::cb_11_clicked);
    button("pb_1", &w_copy::pb_1_clicked);
    button("cb_1", &w_copy::cb_1_clicked);

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
    // An editor left behind by scrolling would sit over another row.
    QTableView* table = view->tableView();
    for (QAbstractSlider* bar : {static_cast<QAbstractSlider*>(table->verticalScrollBar()),
                                 static_cast<QAbstractSlider*>(table->horizontalScrollBar())}) {
        connect(bar, &QAbstractSlider::valueChanged, this, [this] { commitEdit(); });
    }
}

void w_copy::open() {
    const Settings settings = loadSettings(app_.profile());
    setFieldText(control<QLineEdit>("sle_2"), settings.mpath);
    setFieldText(control<QLineEdit>("em_1"), settings.fdt);
    storedThreshold_ = settings.fdt;
    bkycwj = settings.bkycwj;
    sfth = settings.sfth;
    qmljg = settings.qmljg;
    control<QCheckBox>("cbx_4")->setChecked(isOn(bkycwj));
    lx = listMask(bkycwj);
    control<QCheckBox>("cbx_1")->setChecked(isOn(sfth));
    if (isOn(qmljg)) {
        control<QRadioButton>("rb_1")->setChecked(true);
    } else {
        control<QRadioButton>("rb_2")->setChecked(true);
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
    const std::string shown = fieldText(control<QLineEdit>("em_1"));
    if (hasRun_ && shown == lastRun_.endTime) return shownEndStandsFor_;
    return shown;
}

void w_copy::saveSettings() {
    commitEdit();
    CloseState state;
    state.replace = control<QCheckBox>("cbx_1")->isChecked();
    state.includeHidden = control<QCheckBox>("cbx_4")->isChecked();
    state.fullStructure = control<QRadioButton>("rb_1")->isChecked();
    const std::string threshold = effectiveThreshold();
    // Left out (an invalid text keeps the stored one) unless the user changed it.
    state.threshold = threshold != storedThreshold_ ? threshold : std::string();
    state.target = fieldText(control<QLineEdit>("sle_2"));
    state.rows = sourceRows();
    // After a run that holds the settings ends; a read-only working folder
    // must not keep the window from closing.
    host::ExclusiveLock lock;
    static_cast<void>(lockSettings(app_, lock, true));
    saveCloseSettings(app_.profile(), state);
}

void w_copy::closeEvent(QCloseEvent* event) {
    host::closeWindow(event, *busy_, settingsSaved_, [this] {
        try {
            saveSettings();
        } catch (...) {
            host_.messageBox("", unexpectedErrorText("w_copy", "close", std::current_exception()));
        }
    });
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
