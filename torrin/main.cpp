// torrin: "torrin exit" runs unattended, without any window or GUI application
// (so it works with no display); otherwise the window opens.
#include <exception>
#include <iostream>

#include "host/fs.h"
#include "torrin/torapp.h"
#include "torrin/window_start.h"

int main(int argc, char** argv) {
    const torrin::torapp app(host::currentDirectory());
    if (torrin::isUnattended(torrin::commandLineText(argc, argv))) {
        return torrin::runUnattended(app, std::cerr);
    }
    return torrin::runWindow(argc, argv, app);
}
