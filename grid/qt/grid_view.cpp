#include "grid/qt/grid_view.h"

#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QTableView>
#include <QVBoxLayout>
#include <vector>

#include "grid/qt/grid_model.h"

namespace grid {

GridView::GridView(Grid& grid, QWidget* parent)
    : QWidget(parent),
      grid_(grid),
      model_(new GridModel(grid, this)),
      table_(new QTableView(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    table_->setModel(model_);
    // The grid's own selection is the highlight; Qt's would be a second one.
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    table_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    table_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    table_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // One fixed height for every row: the view never measures rows, which is
    // what keeps a million of them smooth.
    QHeaderView* rows = table_->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 6);
    rows->hide();
    QHeaderView* columns = table_->horizontalHeader();
    columns->setSectionsClickable(true);
    columns->setHighlightSections(false);
    columns->setStretchLastSection(false);
    const auto& definitions = grid.definition().columns;
    for (std::size_t c = 0; c < definitions.size(); ++c) {
        table_->setColumnWidth(static_cast<int>(c), definitions[c].width);
    }
    layout->addWidget(table_, 1);

    if (!grid.definition().footerExpression.empty()) {
        footer_ = new QLabel(this);
        if (!definitions.empty()) footer_->setFixedWidth(definitions.front().width);
        layout->addWidget(footer_, 0, Qt::AlignLeft);
        connect(model_, &GridModel::rowCountChanged, this, &GridView::updateFooter);
        connect(model_, &QAbstractItemModel::modelReset, this, &GridView::updateFooter);
        updateFooter();
    }

    connect(table_, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if (clicksAccepted_ && !clicksAccepted_()) return;
        model_->setCurrentRow(index.row() + 1);
        emit clicked(index.row() + 1);
    });
    connect(table_, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { emit doubleClicked(index.row() + 1); });
    connect(columns, &QHeaderView::sectionClicked, this, &GridView::headerClicked);
}

GridView::~GridView() = default;

void GridView::updateFooter() {
    if (footer_) footer_->setText(QString::fromUtf8(grid_.footerText()));
}

namespace {

// The grids of a window's views lent for the guard's life, given back also
// when the work throws.
class LentGrids {
  public:
    explicit LentGrids(QWidget& window) {
        for (GridView* view : window.findChildren<GridView*>()) {
            view->setUpdatesEnabled(false);
            view->model().lend();
            views_.emplace_back(view);
        }
    }
    ~LentGrids() {
        for (const QPointer<GridView>& view : views_) {
            if (!view) continue;
            view->model().takeBack();
            view->setUpdatesEnabled(true);
        }
    }
    LentGrids(const LentGrids&) = delete;
    LentGrids& operator=(const LentGrids&) = delete;

  private:
    std::vector<QPointer<GridView>> views_;
};

}  // namespace

bool runWithGridsLent(QWidget& window, host::BusyIndicator& busy,
                      const std::function<void(host::ProgressSink&)>& work) {
    const LentGrids lent(window);
    return busy.runOnWorker(work);
}

}  // namespace grid
