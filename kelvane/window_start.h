// The interactive start, kept apart so that the program's main() needs no
// window header (kelvane also builds without its window).
#pragma once

namespace kelvane {

// Creates the GUI application, opens the main window and runs until it
// closes; returns the program's exit status.
int runWindow(int argc, char** argv);

}  // namespace kelvane
