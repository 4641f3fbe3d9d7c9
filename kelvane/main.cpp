// kelvane: with arguments a command-line run that needs no display; without
// any, the window.
#include <iostream>
#include <string>
#include <vector>

#include "host/arguments.h"
#include "kelvane/command_line.h"

#if KELVANE_WITH_GUI
#include <QApplication>
#include <exception>

#include "host/qt/qt_host.h"
#include "kelvane/kelapp.h"
#include "kelvane/w_htmd.h"
#endif

int main(int argc, char** argv) {
    if (argc > 1) {
        // Decided before any Qt object exists: QApplication would want a display.
        std::ios::sync_with_stdio(false);
        host::ignoreBrokenPipes();
        const int status =
            kelvane::runCommandLine(host::programArguments(argc, argv), std::cout, std::cerr);
        std::cout.flush();
        return status;
    }
#if KELVANE_WITH_GUI
    QApplication application(argc, argv);
    host::QtHost host;
    kelvane::kelapp app(host);
    try {
        kelvane::w_htmd& window = app.open();
        host.setParentWindow(&window);
        window.show();
        return application.exec();
    } catch (const std::exception& error) {
        host.messageBox("提示", error.what());
        return 1;
    }
#else
    std::cerr << "kelvane: this build has no window; use the command line.\n\n"
              << kelvane::commandLineHelp();
    return kelvane::kExitBadInput;
#endif
}
