// A grid on screen: a table over the grid's model with fixed row heights (so a
// million rows scroll smoothly) and, when the definition has one, the computed
// footer under the rows.
#pragma once

#include <QWidget>
#include <functional>

#include "grid/grid.h"
#include "host/progress.h"
#include "host/qt/busy.h"

class QLabel;
class QTableView;

namespace grid {

class GridModel;

class GridView : public QWidget {
    Q_OBJECT
  public:
    GridView(Grid& grid, QWidget* parent = nullptr);
    ~GridView() override;

    QTableView* tableView() const noexcept { return table_; }
    GridModel& model() const noexcept { return *model_; }
    // The footer label; nullptr when the definition has no footer.
    QLabel* footerLabel() const noexcept { return footer_; }
    // Asked on each click on a row: while it answers false (the window is
    // busy) the click moves no current row and is not passed on.
    void setClicksAccepted(std::function<bool()> accepted) {
        clicksAccepted_ = std::move(accepted);
    }

  signals:
    // Rows are 1-based grid rows; columns 0-based.
    void clicked(long row);
    void doubleClicked(long row);
    void headerClicked(int column);

  private:
    void updateFooter();

    Grid& grid_;
    GridModel* model_ = nullptr;
    QTableView* table_ = nullptr;
    QLabel* footer_ = nullptr;
    std::function<bool()> clicksAccepted_;
};

// Runs `work` on a worker thread (host::BusyIndicator::runOnWorker) with
// every grid shown in `window` lent to it (GridModel::lend): meanwhile the
// views keep what they show, with their repainting off, and they show the
// grids anew when the work has ended. True when a stop was asked for.
bool runWithGridsLent(QWidget& window, host::BusyIndicator& busy,
                      const std::function<void(host::ProgressSink&)>& work);

}  // namespace grid
