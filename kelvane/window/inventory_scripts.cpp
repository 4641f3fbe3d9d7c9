#include <QPushButton>

#include "kelvane/window/walk_scripts.h"
#include "kelvane/window/scripts.h"
#include "kelvane/window/w_htmd.h"

namespace kelvane {

void connectInventoryScripts(w_htmd& window) {
    const auto connectButton = [&window](const char* name, void (*script)(w_htmd&)) {
        QObject::connect(
            window.control<QPushButton>(name), &QPushButton::clicked, &window,
            [&window, script] { window.runScript([&window, script] { script(window); }); });
    };
    connectButton("cb_3", cb_3_clicked);
    connectButton("cb_12", cb_12_clicked);
    connectButton("cb_13", cb_13_clicked);
}

}  // namespace kelvane
