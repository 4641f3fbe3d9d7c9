#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "host/qt/qt_host.h"
#include "kelvane/kelapp.h"
#include "kelvane/w_htmd.h"

int main(int argc, char** argv) {
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
}
