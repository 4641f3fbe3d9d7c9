// Opening the file a row of list 1 or list 2 names with the program the
// desktop associates with it. Window-free: it needs only the Host.
#pragma once

#include <string>

#include "grid/grid.h"
#include "host/host.h"

namespace kelvane {

// The full path of row `row`'s name: a relative name gets `root` in front, a
// full path stands as it is (the platform's name reading, the clicked row
// first, then the list's rows in order).
std::string listedFilePath(const grid::Grid& list, long row, const std::string& root);

// A double click on `row` of list 1 (`list1`) or list 2 (0: not on a row).
// Every refusal and failure is told through a message box.
void openListedFile(host::Host& host, const grid::Grid& list, long row, const std::string& root,
                    bool list1);

}  // namespace kelvane
