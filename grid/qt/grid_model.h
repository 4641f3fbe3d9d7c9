// Qt table-model adapter over a Grid: the grid keeps data, order, filter and
// selection; this class only translates its change notifications for views.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <optional>
#include <vector>

#include "grid/grid.h"

namespace grid {

class GridModel : public QAbstractTableModel, public GridObserver {
    Q_OBJECT
  public:
    // data() of this role is true for rows the grid has selected.
    static constexpr int SelectedRole = Qt::UserRole + 1;

    explicit GridModel(Grid& grid, QObject* parent = nullptr);
    ~GridModel() override;

    Grid& grid() noexcept { return grid_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The grid's current row (1-based, 0 for none), which the row colour shows.
    void setCurrentRow(long row);
    long currentRow() const noexcept { return currentRow_; }

    // The grid lent to another thread: until takeBack() the model reads
    // nothing of it and hears nothing from it (cells read as empty, the row
    // count and headings stay as they were); takeBack() shows it anew.
    void lend();
    void takeBack();

    // GridObserver
    void rowsReset() override;
    void rowsInserted(long first, long last) override;
    void rowsRemoved(long first, long last) override;
    void rowChanged(long row) override;
    void headerChanged() override;
    void rowsAboutToBeReset() override;
    void rowsAboutToBeInserted(long first, long last) override;
    void rowsAboutToBeRemoved(long first, long last) override;

  signals:
    // The number of shown rows may have changed (the footer shows it).
    void rowCountChanged();

  private:
    void refreshRow(long row);

    Grid& grid_;
    bool lent_ = false;
    int lentColumns_ = 0;
    std::vector<QString> lentHeadings_;
    // Views learn the row count from the model, and Qt requires it to change
    // only between the begin/end calls, so it is kept apart from the grid's.
    int rows_ = 0;
    long currentRow_ = 0;
    struct RowColours {
        QColor current;
        QColor other;
    };
    std::optional<RowColours> rowColours_;
};

}  // namespace grid
