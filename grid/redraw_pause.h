// The one way to pause a grid's redraw for a bulk change.
#pragma once

#include "grid/grid.h"

namespace grid {

// Turns the grid's redraw off for the guard's scope and puts back what it was
// when the scope ends, also when it ends by an exception: repainting every
// changed row of a million would dominate the work, so the view hears one
// reset at the end instead.
//
// TurnOn ends with the redraw on whatever it was before: for a step whose
// callers pause the lists around more work and count on it to show them.
class RedrawPause {
  public:
    enum class End { Restore, TurnOn };
    explicit RedrawPause(Grid& grid, End end = End::Restore)
        : grid_(grid), previous_(end == End::TurnOn || grid.redraw()) {
        grid_.setredraw(false);
    }
    ~RedrawPause() { grid_.setredraw(previous_); }
    RedrawPause(const RedrawPause&) = delete;
    RedrawPause& operator=(const RedrawPause&) = delete;

  private:
    Grid& grid_;
    bool previous_;
};

}  // namespace grid
