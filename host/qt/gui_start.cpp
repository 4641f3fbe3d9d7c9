#include "host/qt/gui_start.h"

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace host {

namespace {

// What the application start says, held back: it is shown when the start
// works, and replaced by one line when it cannot.
struct StartMessages {
    std::string program;
    std::string hint;
    QtMessageHandler previous = nullptr;
    std::vector<std::pair<QtMsgType, QString>> held;
};
StartMessages* starting = nullptr;

void onStartMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtFatalMsg) {
        starting->held.emplace_back(type, text);
        return;
    }
    const char* display = std::getenv("DISPLAY");
    std::string line = starting->program + ": cannot open the window: ";
    line += display && *display ? "the display " + std::string(display) + " cannot be reached"
                                : std::string("there is no display (DISPLAY is not set)");
    if (!starting->hint.empty()) line += "; " + starting->hint;
    line += '\n';
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    std::_Exit(kExitNoDisplay);
}

}  // namespace

std::unique_ptr<QApplication> startApplication(int& argc, char** argv, const std::string& program,
                                               const std::string& hint) {
    StartMessages messages{program, hint, nullptr, {}};
    starting = &messages;
    messages.previous = qInstallMessageHandler(onStartMessage);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(messages.previous);
    starting = nullptr;
    for (const auto& [type, text] : messages.held) {
        const QByteArray bytes = text.toLocal8Bit();
        switch (type) {
            case QtDebugMsg:
                qDebug("%s", bytes.constData());
                break;
            case QtInfoMsg:
                qInfo("%s", bytes.constData());
                break;
            default:
                qWarning("%s", bytes.constData());
        }
    }
    return application;
}

}  // namespace host
