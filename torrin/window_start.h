// The interactive start, kept apart so that the program's main() needs no
// window header (torrin also builds without its window).
#pragma once

#include "torrin/torapp.h"

namespace torrin {

// Creates the GUI application, opens the window and runs until it closes;
// returns the program's exit status.
int runWindow(int argc, char** argv, const torapp& app);

}  // namespace torrin
