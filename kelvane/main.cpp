// kelvane: with arguments a command-line run that needs no display; without
// any, the window.
#include <iostream>
#include <string>
#include <vector>

#include "host/arguments.h"
#include "host/stop_signals.h"
#include "kelvane/command_line.h"
#include "kelvane/window_start.h"

int main(int argc, char** argv) {
    if (argc > 1) {
        // Decided before any Qt object exists: QApplication would want a display.
        std::ios::sync_with_stdio(false);
        host::ignoreBrokenPipes();
        host::catchStopSignals();
        const int status =
            kelvane::runCommandLine(host::programArguments(argc, argv), std::cout, std::cerr);
        std::cout.flush();
        return status;
    }
    return kelvane::runWindow(argc, argv);
}
