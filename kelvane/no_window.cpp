#include <iostream>

#include "kelvane/command_line.h"
#include "kelvane/window_start.h"

namespace kelvane {

// A build without Qt is a command-line program.
int runWindow(int, char**) {
    std::cerr << "kelvane: this build has no window; use the command line.\n\n"
              << commandLineHelp();
    return kExitBadInput;
}

}  // namespace kelvane
