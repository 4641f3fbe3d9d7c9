// The interactive start, kept apart so that the program's main() needs no
// window header (torrin also builds without its window).
#pragma once

#include "torrin/torapp.h"

namespace torrin {

// Creates the GUI application, opens the window and runs until it closes;
// returns the program's exit status. Lives in the window's library.
int runWindow(int argc, char** argv, const torapp& app);

// What the program runs to open the window: runWindow from the window's
// library, loaded now; a message and status 2 when it cannot be loaded (or
// the program was built without it).
int openWindow(int argc, char** argv, const torapp& app);

}  // namespace torrin
