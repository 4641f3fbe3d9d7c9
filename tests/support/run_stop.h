// Stopping a window's run from a test, as the user does: the Esc the busy
// run listens to, pressed once the run has done some of its work.
#pragma once

#include <QKeySequence>
#include <QShortcut>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <system_error>

#include "support/temp_folder.h"

namespace testing_support {

// The window's Esc key in force (while a run is active, the run's stop).
inline QShortcut* stopKey(QWidget& window) {
    for (QShortcut* key : window.findChildren<QShortcut*>())
        if (key->isEnabled() && key->key() == QKeySequence(Qt::Key_Escape)) return key;
    return nullptr;
}

// Calls `act` once, from the run's event loop, as soon as `folder` holds
// `entries` names: the run is then well under way but far from its end.
class OnceFolderHolds {
  public:
    OnceFolderHolds(const std::string& folder, long entries, std::function<void()> act) {
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this, path = fsPath(folder), entries, act] {
            std::error_code error;
            std::filesystem::directory_iterator names(path, error);
            if (error || std::distance(names, std::filesystem::directory_iterator()) < entries)
                return;
            timer_.stop();
            act();
        });
        timer_.start();
    }

  private:
    QTimer timer_;
};

}  // namespace testing_support
