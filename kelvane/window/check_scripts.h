// The window's side of the check: the window functions `mdhd` and `xsjg` over
// the window's grids and state, and the two ways in.
#pragma once

namespace kelvane {

class w_htmd;

// Runs the check engine on dw_1..dw_4 with ls_path1, ls_path2, the option of
// ddlb_2 (kept in `addszf`) and `zfmdxg`, reporting to the window's busy state.
void mdhd(w_htmd& window);
// Shows both lists' "不同" rows, sets ddlb_1 to agree and reports "核对结束".
void xsjg(w_htmd& window);
// "核对名单": checks the lists as they stand.
void cb_4_clicked(w_htmd& window);
// "开始核对": empties the four grids, fills both lists from sle_1 and sle_2
// (list files imported, folders walked), then checks.
void cb_16_clicked(w_htmd& window);

}  // namespace kelvane
