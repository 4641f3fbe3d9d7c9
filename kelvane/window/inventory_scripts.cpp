#include <QPushButton>

#include "kelvane/window/scripts.h"
#include "kelvane/window/w_htmd.h"
#include "kelvane/window/walk_scripts.h"

namespace kelvane {

void connectInventoryScripts(w_htmd& window) {
    const auto connectButton = [&window](QPushButton* button, void (*script)(w_htmd&)) {
        QObject::connect(button, &QPushButton::clicked, &window, [&window, script] {
            window.runScript([&window, script] { script(window); });
        });
    };
    connectButton(window.cb_3(), cb_3_clicked);
    connectButton(window.cb_12(), cb_12_clicked);
    connectButton(window.cb_13(), cb_13_clicked);
}

}  // namespace kelvane
