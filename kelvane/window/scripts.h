// The control scripts of the main window, grouped by what they work on. Each
// group connects its controls' signals to its handlers; the window calls them
// once, after its controls exist.
#pragma once

namespace kelvane {

class w_htmd;

void connectInventoryScripts(w_htmd& window);   // folder walks: cb_3, cb_12, cb_13
void connectImportScripts(w_htmd& window);      // list files and paste: cb_1, cb_14, cb_15, cb_10
void connectTruncationScripts(w_htmd& window);  // cb_11 and the dialog w_put
void connectListClickScripts(w_htmd& window);   // clicks on dw_1 and dw_2: sort and select
void connectCheckScripts(w_htmd& window);  // check and results: cb_4, cb_16, ddlb_1, list buttons
void connectCopyScripts(w_htmd& window);   // cb_17 and double clicks on the lists

}  // namespace kelvane
