#include "kelvane/window/list_clicks.h"

#include <QGuiApplication>
#include <QTableView>
#include <algorithm>
#include <cctype>
#include <string>

#include "grid/qt/grid_view.h"
#include "grid/redraw_pause.h"
#include "host/qt/busy.h"
#include "kelvane/window/scripts.h"
#include "kelvane/window/w_htmd.h"

namespace kelvane {

namespace {

// Owns the shared click state as a child of the window, which the window's
// own class has no member for.
class ListClickStateHolder : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    ListClickState state;
};

bool endsWithHeadingSuffix(std::string_view name) {
    return name.size() >= 2 && name[name.size() - 2] == '_' &&
           std::tolower(static_cast<unsigned char>(name.back())) == 't';
}

ClickKeys keysDown() {
    // The keys as they are now, as the desktop's key-state test gives them.
    const Qt::KeyboardModifiers modifiers = QGuiApplication::keyboardModifiers();
    return {modifiers.testFlag(Qt::ControlModifier), modifiers.testFlag(Qt::ShiftModifier)};
}

void connectList(w_htmd& window, grid::GridView* view, grid::Grid& grid, ListClickState& state) {
    view->setClicksAccepted([&window] { return !window.busy().isBusy(); });
    QObject::connect(
        view, &grid::GridView::headerClicked, &window, [&window, &grid, &state](int column) {
            window.runScript([&] {
                const auto& columns = grid.definition().columns;
                if (column < 0 || column >= static_cast<int>(columns.size())) return;
                headingClicked(grid, state, columns[static_cast<std::size_t>(column)].headerObject,
                               keysDown());
            });
        });
    QObject::connect(view, &grid::GridView::clicked, &window, [&window, &grid, &state](long row) {
        window.runScript([&] { rowClicked(grid, state, row, keysDown()); });
    });
}

}  // namespace

void headingClicked(grid::Grid& grid, ListClickState& state, std::string_view headerObject,
                    ClickKeys keys) {
    // With Ctrl or Shift down a heading counts as "no row": nothing happens.
    if (keys.ctrl || keys.shift) return;
    if (!endsWithHeadingSuffix(headerObject)) return;
    const std::string column(headerObject.substr(0, headerObject.size() - 2));
    const std::string expression = column + (state.ib_flag ? " A" : " D");
    state.ib_flag = !state.ib_flag;
    grid.setsort(expression);
    grid.sort();
}

void rowClicked(grid::Grid& grid, ListClickState& state, long row, ClickKeys keys) {
    if (!keys.ctrl && !keys.shift) return;
    // Outside the rows there is no row to select.
    if (row < 1 || row > grid.rowcount()) return;
    if (keys.shift) {
        if (state.i_lng_lastrow == 0) {
            grid.selectrow(row, true);
            state.i_lng_lastrow = row;
            return;
        }
        // One refresh at the end instead of one per row.
        const grid::RedrawPause redraw(grid);
        grid.selectrow(0, false);
        // The anchor may lie past the end (the list shrank, or the anchor came
        // from the other list): only rows that exist are selected.
        const long first = std::min(state.i_lng_lastrow, row);
        const long last = std::min(std::max(state.i_lng_lastrow, row), grid.rowcount());
        for (long j = first; j <= last; ++j) grid.selectrow(j, true);
        return;
    }
    state.i_lng_lastrow = row;
    grid.selectrow(row, !grid.isselected(row));
}

ListClickState* listClickState(const w_htmd& window) {
    auto* holder = window.findChild<ListClickStateHolder*>(QString(), Qt::FindDirectChildrenOnly);
    return holder ? &holder->state : nullptr;
}

void connectListClickScripts(w_htmd& window) {
    auto* holder = new ListClickStateHolder(&window);
    for (int number : {1, 2}) {
        grid::GridView* view = &window.gridView(number);
        // The grid's selection is the only one; the table must not add its own.
        view->tableView()->setSelectionMode(QAbstractItemView::NoSelection);
        connectList(window, view, window.dw(number), holder->state);
    }
}

}  // namespace kelvane

#include "list_clicks.moc"
