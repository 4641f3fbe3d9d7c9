#include "grid/qt/grid_model.h"

#include <QBrush>
#include <QRegularExpression>

namespace grid {

namespace {

// The one row-colour form the definitions use: the current row in one colour,
// every other row in another.
std::optional<QColor> channelColour(const QRegularExpressionMatch& match, int first) {
    int r = match.captured(first).toInt();
    int g = match.captured(first + 1).toInt();
    int b = match.captured(first + 2).toInt();
    if (r > 255 || g > 255 || b > 255) return std::nullopt;
    return QColor(r, g, b);
}

const QColor kSelectedBackground(0, 120, 215);
const QColor kSelectedText(255, 255, 255);

}  // namespace

GridModel::GridModel(Grid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid), rows_(static_cast<int>(grid.rowcount())) {
    QString expression = QString::fromUtf8(grid.definition().rowColourExpression);
    expression.remove(QLatin1Char(' '));
    static const QRegularExpression pattern(QStringLiteral(
        R"(^if\(getrow\(\)=currentrow\(\),rgb\((\d+),(\d+),(\d+)\),rgb\((\d+),(\d+),(\d+)\)\)$)"));
    QRegularExpressionMatch match = pattern.match(expression);
    if (match.hasMatch()) {
        auto current = channelColour(match, 1);
        auto other = channelColour(match, 4);
        if (current && other) rowColours_ = RowColours{*current, *other};
    }
    grid_.setObserver(this);
}

GridModel::~GridModel() {
    grid_.setObserver(nullptr);
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int GridModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return lent_ ? lentColumns_ : grid_.columnCount();
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (lent_ || !index.isValid() || index.row() >= rows_) return {};
    long row = index.row() + 1;
    // While the grid's redraw is off the grid may hold fewer rows than the
    // model announced; such rows read as empty.
    bool exists = row <= grid_.rowcount();
    bool selected = exists && grid_.isselected(row);
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return QString::fromUtf8(grid_.cellText(row, index.column()));
        case Qt::TextAlignmentRole:
            if (grid_.definition().columns[static_cast<std::size_t>(index.column())].type ==
                ColumnType::Number) {
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            }
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::BackgroundRole:
            if (selected) return QBrush(kSelectedBackground);
            if (rowColours_) {
                return QBrush(row == currentRow_ ? rowColours_->current : rowColours_->other);
            }
            return {};
        case Qt::ForegroundRole:
            if (selected) return QBrush(kSelectedText);
            return {};
        case SelectedRole:
            return selected;
        default:
            return {};
    }
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    if (lent_) {
        if (section < 0 || section >= static_cast<int>(lentHeadings_.size())) return {};
        return lentHeadings_[static_cast<std::size_t>(section)];
    }
    if (section < 0 || section >= grid_.columnCount()) return {};
    return QString::fromUtf8(grid_.headerText(section));
}

void GridModel::setCurrentRow(long row) {
    if (row == currentRow_) return;
    long previous = currentRow_;
    currentRow_ = row;
    refreshRow(previous);
    refreshRow(row);
}

void GridModel::refreshRow(long row) {
    if (row < 1 || row > rows_ || grid_.columnCount() == 0) return;
    emit dataChanged(index(static_cast<int>(row - 1), 0),
                     index(static_cast<int>(row - 1), grid_.columnCount() - 1));
}

void GridModel::lend() {
    if (lent_) return;
    lentColumns_ = grid_.columnCount();
    lentHeadings_.clear();
    for (int column = 0; column < lentColumns_; ++column)
        lentHeadings_.push_back(QString::fromUtf8(grid_.headerText(column)));
    grid_.setObserver(nullptr);
    lent_ = true;
}

void GridModel::takeBack() {
    if (!lent_) return;
    lent_ = false;
    grid_.setObserver(this);
    rowsAboutToBeReset();
    rowsReset();
    headerChanged();
}

void GridModel::rowsAboutToBeReset() {
    beginResetModel();
}

void GridModel::rowsReset() {
    rows_ = static_cast<int>(grid_.rowcount());
    if (currentRow_ > rows_) currentRow_ = 0;
    endResetModel();
    emit rowCountChanged();
}

void GridModel::rowsAboutToBeInserted(long first, long last) {
    beginInsertRows(QModelIndex(), static_cast<int>(first - 1), static_cast<int>(last - 1));
}

void GridModel::rowsInserted(long first, long last) {
    rows_ += static_cast<int>(last - first + 1);
    if (currentRow_ >= first) currentRow_ += last - first + 1;
    endInsertRows();
    emit rowCountChanged();
}

void GridModel::rowsAboutToBeRemoved(long first, long last) {
    beginRemoveRows(QModelIndex(), static_cast<int>(first - 1), static_cast<int>(last - 1));
}

void GridModel::rowsRemoved(long first, long last) {
    rows_ -= static_cast<int>(last - first + 1);
    if (currentRow_ >= first)
        currentRow_ = currentRow_ > last ? currentRow_ - (last - first + 1) : 0;
    endRemoveRows();
    emit rowCountChanged();
}

void GridModel::rowChanged(long row) {
    refreshRow(row);
}

void GridModel::headerChanged() {
    if (grid_.columnCount() > 0) emit headerDataChanged(Qt::Horizontal, 0, grid_.columnCount() - 1);
}

}  // namespace grid
