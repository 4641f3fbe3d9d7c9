// torrin: "torrin exit" runs unattended, without any window or GUI application
// (so it works with no display); options print their text; otherwise the
// window opens.
#include <exception>
#include <iostream>

#include "host/fs.h"
#include "host/stop_signals.h"
#include "torrin/torapp.h"
#include "torrin/window_start.h"

int main(int argc, char** argv) {
    const torrin::CommandLine line = torrin::readCommandLine(argc, argv);
    switch (line.command) {
        case torrin::Command::Help:
            std::cout << torrin::commandLineHelp() << std::flush;
            return std::cout ? torrin::kExitAllCopied : torrin::kExitCheckFailed;
        case torrin::Command::Version:
            std::cout << "torrin " << ZARVIK_VERSION << std::endl;
            return std::cout ? torrin::kExitAllCopied : torrin::kExitCheckFailed;
        case torrin::Command::BadOption:
            std::cerr << "torrin: unknown option " << line.badOption << "\nTry 'torrin --help'.\n";
            return torrin::kExitCheckFailed;
        case torrin::Command::DryRun:
            return torrin::runDryRun(torrin::torapp(host::currentDirectory()), std::cout,
                                     std::cerr);
        case torrin::Command::Unattended:
            host::catchStopSignals();
            return torrin::runUnattended(torrin::torapp(host::currentDirectory()), std::cerr);
        case torrin::Command::Window:
            break;
    }
    return torrin::openWindow(argc, argv, torrin::torapp(host::currentDirectory()));
}
