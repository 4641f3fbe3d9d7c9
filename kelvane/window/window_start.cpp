#include <QApplication>
#include <exception>

#include "host/qt/gui_start.h"
#include "host/qt/qt_host.h"
#include "kelvane/window/kelapp.h"
#include "kelvane/window/w_htmd.h"
#include "kelvane/window_start.h"

namespace kelvane {

int runWindow(int argc, char** argv) {
    const auto application =
        host::startApplication(argc, argv, "kelvane", "\"kelvane check\" works without one");
    host::QtHost host;
    kelapp app(host);
    try {
        w_htmd& window = app.open();
        host.setParentWindow(&window);
        window.show();
        return application->exec();
    } catch (const std::exception& error) {
        host.messageBox("提示", error.what());
        return 1;
    }
}

}  // namespace kelvane
