// Clicks on list 1 (dw_1) and list 2 (dw_2): a heading sorts, Ctrl and Shift
// change the row selection that the list operations and the copy work on.
#pragma once

#include <string_view>

#include "grid/grid.h"

namespace kelvane {

class w_htmd;

// Shared by both lists for the window's lifetime, never saved or reset.
struct ListClickState {
    // Direction of the next heading sort: true ascending, false descending.
    bool ib_flag = false;
    // Anchor of Shift ranges: the row of the last Ctrl click (or of the first
    // Shift click when there was none); 0 = no anchor. It is a row number, so
    // after the list changes it may point at another entry or past the end.
    long i_lng_lastrow = 0;
};

struct ClickKeys {
    bool ctrl = false;
    bool shift = false;
};

// A click on the heading whose object is `headerObject` ("md_t"). Only a plain
// click sorts, by the column the object is named after.
void headingClicked(grid::Grid& grid, ListClickState& state, std::string_view headerObject,
                    ClickKeys keys);
// A click on shown row `row` (1-based).
void rowClicked(grid::Grid& grid, ListClickState& state, long row, ClickKeys keys);

// The state the clicks of `window`'s lists share; null before
// connectListClickScripts ran.
ListClickState* listClickState(const w_htmd& window);

}  // namespace kelvane
