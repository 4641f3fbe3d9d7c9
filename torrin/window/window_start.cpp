#include <QApplication>
#include <exception>

#include "host/qt/gui_start.h"
#include "host/qt/qt_host.h"
#include "torrin/window/w_copy.h"
#include "torrin/window_start.h"

namespace torrin {

int runWindow(int argc, char** argv, const torapp& app) {
    const auto application =
        host::startApplication(argc, argv, "torrin", "run \"torrin exit\" for an unattended run");
    host::QtHost host;
    try {
        w_copy window(host, app);
        host.setParentWindow(&window);
        window.show();
        return application->exec();
    } catch (...) {
        host.messageBox("", unexpectedErrorText("torapp", "open", std::current_exception()));
        return kExitUnexpectedError;
    }
}

}  // namespace torrin
